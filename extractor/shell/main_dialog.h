// The main dialog MAINWIN of an interactive run: the SFX file's name in the
// title, the target folder (editable, or chosen with "..."), the options
// "replace without asking" and "start <run file> afterwards", the Info and
// Hilfe boxes, and "&Entpacken", which runs the extraction inside the
// dialog and then closes it.
//
// States: initialised -> waiting for a command -> extracting (Entpacken,
// Info, Hilfe and the overwrite option disabled, progress field shown;
// "Abbrechen" stays usable through the progress report's message pump)
// -> ended. Abbrechen before an extraction ends it with 2 and no summary.
#ifndef OSTREL_SHELL_MAIN_DIALOG_H
#define OSTREL_SHELL_MAIN_DIALOG_H

#include <windows.h>

// Sets the target folder to the full form of folder (GetFullPathNameW on
// its UTF-16 form, back in the core's encoding), so
// that neither the extraction nor the run file started afterwards depends
// on the current folder: a relative "rel" would otherwise start the run
// file from "rel\rel". A folder whose full form does not fit leaves the
// target empty, which ExtractArchive refuses (code 5).
void SetAbsoluteTargetFolder(const char *folder);

// The dialog procedure given to DialogBoxParamA by the start-up.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
