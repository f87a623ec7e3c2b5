// Dialog, control and icon numbers of the extractor, shared by the resource
// script (extractor.rc), the code and the end-to-end tests (which read this
// file for the numbers they press and look at). Plain #defines only, so
// that windres can read it.
//
// The file dialog's own controls in template 1541 keep the numbers the
// old-style common dialog looks for (stc1, lst2, ... in <dlgs.h>).
#ifndef OSTREL_RESOURCES_RESOURCE_IDS_H
#define OSTREL_RESOURCES_RESOURCE_IDS_H

// Icon groups
#define IDI_MAIN 107            // main dialog and program icon
#define IDI_PASSWORD 110        // password dialog
#define IDI_REPLACE 112         // overwrite dialog: two sheets, the right one crossed out

// Dialogs
#define IDD_MAIN "MAINWIN"
#define IDD_PASSWORD 109
#define IDD_REPLACE 5021
#define IDD_FOLDER 1541

// Buttons shared by several dialogs (the system's IDOK, IDCANCEL, IDNO)
#define IDC_BUTTON_OK 1
#define IDC_BUTTON_CANCEL 2
#define IDC_BUTTON_NO 7

// MAINWIN
#define IDC_MAIN_EXTRACT 1      // "&Entpacken"
#define IDC_MAIN_CANCEL 2       // "Abbrechen"
#define IDC_MAIN_INFO 3         // "&Info über"
#define IDC_MAIN_HELP 4         // "Hilfe"
#define IDC_MAIN_FOLDER 1000    // target folder field
#define IDC_MAIN_PROGRESS 1004  // progress field (subclassed static)
#define IDC_MAIN_INSTRUCTION 1005
#define IDC_MAIN_BROWSE 1012    // "..." opens the folder chooser
#define IDC_MAIN_OVERWRITE 1016 // "&Dateien ohne Nachfrage überschreiben"
#define IDC_MAIN_RUN 1017       // "&Nach dem Entpacken %s starten."

// 109: password
#define IDC_PASSWORD_PROMPT 1013
#define IDC_PASSWORD_FIELD 1015

// 5021: overwrite confirmation
#define IDC_REPLACE_ALL 1030
#define IDC_REPLACE_HEADER 1001
#define IDC_REPLACE_QUESTION 103
#define IDC_REPLACE_OLD_TEXT 1011
#define IDC_REPLACE_OLD_ICON 1010
#define IDC_REPLACE_WITH 1022
#define IDC_REPLACE_NEW_TEXT 1013
#define IDC_REPLACE_NEW_ICON 1012
#define IDC_REPLACE_SPARE1 1020
#define IDC_REPLACE_SPARE2 1021

// 1541: folder chooser (ids of the old-style file dialog)
#define IDC_FOLDER_PATH 1088    // stc1: current folder
#define IDC_FOLDER_LIST 1121    // lst2: folders
#define IDC_FOLDER_DRIVES_LABEL 1091  // stc4
#define IDC_FOLDER_DRIVES 1137  // cmb2
#define IDC_FOLDER_NAME_LABEL 1090    // stc3
#define IDC_FOLDER_NAME 1152    // edt1
#define IDC_FOLDER_FILES 1120   // lst1
#define IDC_FOLDER_TYPE_LABEL 1089    // stc2
#define IDC_FOLDER_TYPES 1136   // cmb1
#define IDC_FOLDER_HELP 1038    // pshHelp
#define IDC_FOLDER_READONLY 1040      // chx1

#endif
