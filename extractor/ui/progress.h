// Progress display of the main dialog and the callbacks through which a
// running extraction reaches the user: the per-file progress report (which
// also lets window messages through and hands back the user's cancel) and
// the CRC warning.
//
// The progress field is MAINWIN's static control 1004, subclassed. It shows
// "name.ext (42 %)" centred in a sunken white box, with a black band growing
// from the left inside which the text turns white. Every size comes from
// the client rectangle and the system's edge metrics, so it is right at any
// DPI.
#ifndef OSTREL_UI_PROGRESS_H
#define OSTREL_UI_PROGRESS_H

#include <windows.h>
#include <stdint.h>

enum { PROGRESS_TEXT_BUFFER = 256 };  // label and formatted progress text

// 1 once the user pressed "Abbrechen" (set by the main dialog): the next
// report answers stop, and no CRC question is asked any more.
extern int32_t cancelRequested;

// Subclasses control 1004 of dialog with the progress field procedure and
// hides it. Called once, from the main dialog's initialisation.
void InstallProgressField(HWND dialog);

// The progress callback (ExtractCallbacks.reportProgress). reserved is 0;
// percent the current entry's share done. Label <- the entry's name and
// extension, pump, update the field (when the main dialog exists), pump.
// Returns 0 once the user has pressed "Abbrechen", else 1. A silent run
// without any window leaves the callback slot empty instead.
// It does not judge the CRC: the driver compares and asks AskCrcMismatch.
int ReportProgress(int reserved, int32_t percent);

// The CRC question, asked by the driver when an entry's data do not match
// its CRC: the box "Falscher CRC! ..." (OK and Abbrechen, exclamation
// icon) owned by the main dialog, or without owner when there is none.
// Returns CRC_MISMATCH_KEEP (OK: the file stays, a warning) or
// CRC_MISMATCH_STOP (Abbrechen: code 9962). Once the user has asked to stop
// the extraction no box is shown and it answers STOP.
int AskCrcMismatch(const char *entryName);

#endif
