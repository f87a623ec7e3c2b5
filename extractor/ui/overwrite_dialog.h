// Overwrite confirmation, dialog 5021: before the driver creates a file
// that exists already, the existing file and the archive's one are shown
// side by side (type icon, size, date and time of last change) with four
// answers: Ok, "Alle ersetzen", "Nein", "Abbrechen".
#ifndef OSTREL_UI_OVERWRITE_DIALOG_H
#define OSTREL_UI_OVERWRITE_DIALOG_H

#include "extractor/zip/state.h"

// 1: replace existing files without asking. Set by "Alle ersetzen", and by
// the shell for a silent run or when the main dialog's box is ticked.
extern int32_t overwriteAll;

// The overwrite callback (ExtractCallbacks.confirmOverwrite). Returns
// OVERWRITE_WRITE at once when overwriteAll is set or nothing exists
// at targetPath; otherwise the dialog's answer: Ok and "Alle ersetzen"
// (which sets overwriteAll) OVERWRITE_WRITE, "Nein" OVERWRITE_SKIP,
// "Abbrechen", Esc, the close box and a dialog that cannot be shown
// OVERWRITE_STOP. Before OVERWRITE_WRITE the existing file is made
// writable (read-only, hidden and system cleared); a failure there is left
// to the driver's creation of the file.
int ConfirmOverwrite(const char *targetPath, const EntryFindData *entry);

#endif
