// Summary texts. All texts are Windows-1252 bytes written as escapes
// (\xFC is "ü", \xE4 "ä", \xF6 "ö", \xDF "ß") so that the source's own
// encoding cannot change them.
#include "extractor/zip/summary.h"

#include <stdio.h>
#include <string.h>

#include "extractor/zip/error_codes.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"

static const char kErrorPrefix[] = "\r\nFehler: ";
static const char kCancelled[] = "\r\nAbbruch durch Anwender.";
static const char kRunFileBefore[] = "Die Datei '";
static const char kRunFileAfter[] = "' konnte nicht ausgef\xFChrt werden.";
static const char kCounterFormat[] = "Dateien entpackt: %lu   Fehler: %lu   Warnungen: %lu";
static const char kEllipsis[] = "...";

const char *ErrorCodeText(int32_t code) {
  switch (code) {
    case ERR_ACCESS: return "Der Zugriff auf eine Datei wurde vom System verweigert.\r\n";
    case ERR_NO_MEMORY: return "Zu wenig Speicher.\r\n";
    case ERR_DISK_FULL: return "Diskette oder Festplatte ist voll.\r\n";
    case ERR_PASSWORD: return "Das Archiv ist mit einem Pa\xDFwort gesch\xFCtzt.\r\n";
    case ERR_CRC: return "Pr\xFC" "fsummenfehler.\r\n";
    case ERR_INVALID_DATA: return "Das Archiv enth\xE4lt ung\xFCltige Daten\r\n";
    case ERR_NO_ARCHIVE: return "Das Archiv ist anscheinend kein g\xFCltiges Archiv.\r\n";
    case ERR_METHOD:
      return "Das Archiv verwendet eine Kompressionsmethode, die dieses Programm nicht entpacken kann.\r\n";
    case ERR_AES:
      return "Eine Datei im Archiv ist mit AES verschl\xFCsselt; dieses Programm kann sie nicht entpacken.\r\n";
    case ERR_TOO_LARGE:
      return "Eine Datei im Archiv ist 2 GB oder gr\xF6\xDF" "er; dieses Programm kann sie nicht entpacken.\r\n";
    default: return "";
  }
}

// Appends source to message (SUMMARY_TEXT_BUFFER bytes), cut to fit.
static void Append(char *message, const char *source) {
  size_t used = strlen(message);
  size_t room = SUMMARY_TEXT_BUFFER - 1 - used;
  size_t length = strlen(source);
  if (length > room) length = room;
  memcpy(message + used, source, length);
  message[used + length] = 0;
}

// The run file part of code 106: "Die Datei 'name.ext' konnte ...", with
// name.ext shortened to what leaves room for the counter line.
static void AppendRunFileText(char *message, const char *runFile, uint32_t counterLength) {
  char name[SPLIT_FIELD], extension[SPLIT_FIELD];
  SplitPath(runFile, nullptr, nullptr, name, extension);
  char shown[2 * SPLIT_FIELD];
  snprintf(shown, sizeof shown, "%s%s", name, extension);

  size_t fixed = strlen(message) + strlen(kRunFileBefore) + strlen(kRunFileAfter) + counterLength;
  size_t room = fixed < SUMMARY_TEXT_BUFFER - 1 ? SUMMARY_TEXT_BUFFER - 1 - fixed : 0;
  size_t length = strlen(shown);
  if (length > room) {
    size_t keep = room > strlen(kEllipsis) ? room - strlen(kEllipsis) : 0;
    memcpy(shown + keep, kEllipsis, sizeof kEllipsis);
    shown[room] = 0;  // a room of fewer than 3 characters takes part of the dots
  }
  Append(message, kRunFileBefore);
  Append(message, shown);
  Append(message, kRunFileAfter);
}

uint32_t ComposeSummary(char *message, const char *runFile) {
  memset(message, 0, SUMMARY_TEXT_BUFFER);
  int32_t code = extraction.errorCode;
  if (code != ERR_NONE) counters.errorCount++;
  if (code == ERR_CANCELLED) counters.errorCount--;

  // The counter line goes last but is formatted first: its length decides
  // how much of a long run file name can be shown.
  char counterLine[SUMMARY_COUNTER_BUFFER];
  size_t lead = 0;
  if (code != ERR_NONE) {
    memcpy(counterLine, "\r\n\r\n", 4);
    lead = 4;
  }
  snprintf(counterLine + lead, sizeof counterLine - lead, kCounterFormat,
           (unsigned long)counters.filesExtracted, (unsigned long)counters.errorCount,
           (unsigned long)counters.warningCount);

  if (code == ERR_CANCELLED) {
    Append(message, kCancelled);
  } else if (code != ERR_NONE) {
    Append(message, kErrorPrefix);
    if (code == ERR_RUN_FILE) AppendRunFileText(message, runFile, (uint32_t)strlen(counterLine));
    else Append(message, ErrorCodeText(code));
  }
  Append(message, counterLine);
  return (uint32_t)strlen(message);
}
