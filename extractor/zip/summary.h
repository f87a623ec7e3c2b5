// The end-of-run summary: the German text of the run's error code (Windows-
// 1252 bytes) and the counter line, composed here portably; the Windows
// user interface shows the composed text in its box, the native tool prints
// it converted to UTF-8.
//
// Layout of a composed summary (lines end in CR LF):
//   no code:          "Dateien entpackt: N   Fehler: 0   Warnungen: W"
//   code with a text ending in CR LF (5, 8, 101, 9961, 9962, 9964, 9966,
//   9967, 9968, 9969):
//                     "", "Fehler: <text>", "", "", counter line
//   code 2, 106, 2926 and unknown codes (no final CR LF):
//                     "", "Fehler: " / "Fehler: Die Datei '...'..." /
//                     "Abbruch durch Anwender.", "", counter line
#ifndef OSTREL_ZIP_SUMMARY_H
#define OSTREL_ZIP_SUMMARY_H

#include <stdint.h>

enum {
  // The whole message: 255 characters plus terminator. The longest text
  // (91 with its CR LF) after the prefix (10), then CR LF CR LF and the
  // counter line at its longest (73) need 178; the room beyond that is
  // what a long run file name of code 106 may use.
  SUMMARY_TEXT_BUFFER = 256,
  SUMMARY_COUNTER_BUFFER = 152 // the formatted counter line
};

// The text that follows "\r\nFehler: " for code, Windows-1252. Returns the
// text; "" for code 2, 106 (composed with the run file, see below), 2926
// (which replaces the whole text) and every unknown code.
const char *ErrorCodeText(int32_t code);

// message (SUMMARY_TEXT_BUFFER bytes) <- the summary of the run, from
// extraction.errorCode, the three counters and, for code 106, the name and
// extension of runFile (the program that was to start; may be a path). Raises counters.errorCount by 1 when the
// code is neither 0 nor 2926, as the box does once per process. The run
// file's name is shortened (ending in "...") so that the message never
// exceeds SUMMARY_TEXT_BUFFER - 1 characters. Returns the message length.
uint32_t ComposeSummary(char *message, const char *runFile);

#endif
