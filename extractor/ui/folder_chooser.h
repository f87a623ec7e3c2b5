// Folder chooser: the old-style "save file" common dialog with template
// 1541, which shows only the folder list, the current folder and the
// drives. The file controls the dialog needs lie outside the visible area;
// the file name is the dummy "123.123", so "Ok" returns a path in the
// folder that is open, and the folder part of it is the choice.
#ifndef OSTREL_UI_FOLDER_CHOOSER_H
#define OSTREL_UI_FOLDER_CHOOSER_H

#include <windows.h>

// Runs the chooser owned by dialog. On "Ok" the chosen folder, with a
// closing backslash (C:\Daten\, or C:\ for a drive's root), becomes the
// text of control 1000 of dialog; on "Abbrechen" or a failure nothing
// changes. The chooser opens in the process's current folder.
void ChooseTargetFolder(HWND dialog);

#endif
