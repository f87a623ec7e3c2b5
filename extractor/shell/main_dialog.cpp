#include "extractor/shell/main_dialog.h"

#include <shellapi.h>
#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/shell/shell_state.h"
#include "extractor/ui/folder_chooser.h"
#include "extractor/ui/overwrite_dialog.h"
#include "extractor/ui/progress.h"
#include "extractor/ui/texts.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/wide_text.h"

enum {
  TITLE_BUFFER = 260,      // title: at most 259 characters
  RUN_OPTION_BUFFER = 300,
  INFO_BUFFER = 1024
};

// out <- name and extension of path, cut to size bytes.
static void NameOfPath(const char *path, char *out, int size) {
  char name[SPLIT_FIELD], extension[SPLIT_FIELD];
  SplitPath(path, nullptr, nullptr, name, extension);
  lstrcpynA(out, name, size);
  int used = lstrlenA(out);
  lstrcpynA(out + used, extension, size - used);
}

// Title, folder and run option in UTF-16: the SFX file's name and the
// folder (core paths) appear as themselves whatever the system's ANSI code
// page; the German format texts and the run file are Windows-1252.
static void InitMainDialog(HWND dialog) {
  static wchar_t path[WIDE_PATH_BUFFER];
  wchar_t name[TITLE_BUFFER], format[TITLE_BUFFER], title[TITLE_BUFFER + 32];
  WideFromWindows1252(kTitleFormat, format, TITLE_BUFFER);
  WideFromCorePath(shell.sfxPath, path, WIDE_PATH_BUFFER);
  lstrcpynW(name, WidePathName(path), TITLE_BUFFER - lstrlenW(format));
  wsprintfW(title, format, name);
  SetWindowTextW(dialog, title);
  CenterWindow(dialog);
  dialogOwner = dialog;
  InstallProgressField(dialog);
  if (settings.defaultFolder[0] && WideFromCorePath(settings.defaultFolder, path, WIDE_PATH_BUFFER))
    SetDlgItemTextW(dialog, IDC_MAIN_FOLDER, path);

  if (settings.runFile[0]) {
    // The template's text is the format: "&Nach dem Entpacken %s starten."
    char runName[RUN_OPTION_BUFFER];
    wchar_t runFormat[RUN_OPTION_BUFFER], text[RUN_OPTION_BUFFER + SPLIT_FIELD];
    NameOfPath(settings.runFile, runName, RUN_OPTION_BUFFER - 40);
    WideFromWindows1252(runName, name, TITLE_BUFFER);
    GetDlgItemTextW(dialog, IDC_MAIN_RUN, runFormat, RUN_OPTION_BUFFER - 2);
    wsprintfW(text, runFormat, name);
    SetDlgItemTextW(dialog, IDC_MAIN_RUN, text);
    CheckDlgButton(dialog, IDC_MAIN_RUN, BST_CHECKED);
  } else {
    ShowWindow(GetDlgItem(dialog, IDC_MAIN_RUN), SW_HIDE);
  }
  if (settings.block.overwriteMode > 0) CheckDlgButton(dialog, IDC_MAIN_OVERWRITE, BST_CHECKED);
  else ShowWindow(GetDlgItem(dialog, IDC_MAIN_OVERWRITE), SW_HIDE);
}

static void DisableMainButtons(HWND dialog) {
  static const int kIds[] = {IDC_MAIN_EXTRACT, IDC_MAIN_INFO, IDC_MAIN_HELP};
  for (int id : kIds) EnableWindow(GetDlgItem(dialog, id), FALSE);
}

void SetAbsoluteTargetFolder(const char *folder) {
  static wchar_t wide[WIDE_PATH_BUFFER], full[WIDE_PATH_BUFFER];
  static char core[LONG_PATH_BUFFER];
  // Empty: the current drive's root, as SetTargetFolder reads it.
  WideFromCore(folder[0] ? folder : "\\", wide, WIDE_PATH_BUFFER);
  DWORD length = GetFullPathNameW(wide, WIDE_PATH_BUFFER, full, nullptr);
  if (length > 0 && length < WIDE_PATH_BUFFER && CoreFromWidePath(full, core, LONG_PATH_BUFFER)) SetTargetFolder(core);
  else extraction.targetFolder[0] = 0;  // ExtractArchive refuses to start with it (code 5)
}

// Starts the run file found directly in the target folder (its own folder
// part dropped) by its full path, with the target folder as the program's
// current folder. Code 106 when the shell refuses or the path does not fit.
// In UTF-16: the folder is a core path, the run file's name a Windows-1252
// settings text, and the ANSI calls would read both in the system's code page.
// The shell and a program's current folder stay within MAX_PATH: a deeper
// folder is handed over in its short (8.3) form where the volume has one.
static void StartRunFile(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDC_MAIN_RUN), FALSE);
  static wchar_t folder[WIDE_PATH_BUFFER], program[WIDE_PATH_BUFFER];
  char name[PATH_BUFFER];
  NameOfPath(settings.runFile, name, PATH_BUFFER);
  int used = WideFromCore(extraction.targetFolder, folder, WIDE_PATH_BUFFER);
  if (used + lstrlenA(name) >= MAX_PATH) {
    DWORD shortUnits = GetShortPathNameW(folder, program, WIDE_PATH_BUFFER);
    if (shortUnits > 0 && shortUnits < WIDE_PATH_BUFFER) {
      lstrcpynW(folder, program, WIDE_PATH_BUFFER);
      used = (int)shortUnits;
    }
  }
  lstrcpynW(program, folder, WIDE_PATH_BUFFER);
  if (!used || !WideFromWindows1252(name, program + used, WIDE_PATH_BUFFER - used)) {
    extraction.errorCode = ERR_RUN_FILE;
    return;
  }
  HINSTANCE started = ShellExecuteW(dialog, L"open", program, nullptr, folder, SW_SHOW);
  if ((INT_PTR)started <= 32) extraction.errorCode = ERR_RUN_FILE;
}

// The folder field is read in UTF-16 and taken into the core's encoding. A
// folder that has no form there is refused (code 5), never replaced by
// another.
static int ReadTargetField(HWND dialog, char *target) {
  static wchar_t typed[WIDE_PATH_BUFFER];
  target[0] = 0;
  if (!GetDlgItemTextW(dialog, IDC_MAIN_FOLDER, typed, WIDE_PATH_BUFFER) || !typed[0]) return 1;
  return CoreFromWidePath(typed, target, LONG_PATH_BUFFER);
}

static void RunExtraction(HWND dialog) {
  static char target[LONG_PATH_BUFFER];
  int readable = ReadTargetField(dialog, target);
  if (readable && !target[0]) PathFolder(shell.sfxPath, target, LONG_PATH_BUFFER);
  SetAbsoluteTargetFolder(target);
  if (!readable) extraction.targetFolder[0] = 0;  // the driver then refuses the run with code 5
  DisableMainButtons(dialog);
  if (settings.block.overwriteMode > 0) {
    if (IsDlgButtonChecked(dialog, IDC_MAIN_OVERWRITE) == BST_CHECKED) overwriteAll = 1;
    EnableWindow(GetDlgItem(dialog, IDC_MAIN_OVERWRITE), FALSE);
  }
  ShowWindow(GetDlgItem(dialog, IDC_MAIN_PROGRESS), SW_SHOW);
  shell.extractionStarted = 1;
  ExtractArchive();
  int start = settings.runFile[0] && IsDlgButtonChecked(dialog, IDC_MAIN_RUN) == BST_CHECKED;
  if (start && extraction.errorCode == ERR_NONE) StartRunFile(dialog);
}

static INT_PTR OnExtract(HWND dialog) {
  // The button is disabled during the extraction; a command that still
  // arrives through the pump must not start a second run over the first.
  if (shell.extractionStarted) return TRUE;
  RunExtraction(dialog);
  EndDialog(dialog, IDC_MAIN_EXTRACT);
  return TRUE;
}

// Also the Escape key. During an extraction the press arrives through the
// progress report's pump; the extraction stops at that report and the
// dialog closes once it has returned.
static INT_PTR OnCancel(HWND dialog) {
  cancelRequested = 1;
  EndDialog(dialog, IDC_MAIN_CANCEL);
  return TRUE;
}

static INT_PTR OnInfo(HWND dialog) {
  char text[INFO_BUFFER];
  text[0] = 0;
  if (settings.infoText[0]) {
    // The settings text is at most 511 bytes; the built-in text follows.
    lstrcpynA(text, settings.infoText, INFO_BUFFER);
    lstrcatA(text, "\r\n\r\n");
  }
  lstrcpynA(text + strlen(text), kInfoText, (int)(INFO_BUFFER - strlen(text)));
  MessageBox1252(dialog, text, kInfoCaption, MB_ICONINFORMATION);
  return TRUE;
}

static INT_PTR OnHelp(HWND dialog) {
  MessageBox1252(dialog, kHelpText, kHelpCaption, MB_ICONINFORMATION);
  return TRUE;
}

static INT_PTR OnBrowse(HWND dialog) {
  ChooseTargetFolder(dialog);
  return TRUE;
}

typedef struct CommandHandler {
  int id;
  INT_PTR (*handle)(HWND dialog);
} CommandHandler;

static const CommandHandler kCommands[] = {
    {IDC_MAIN_EXTRACT, OnExtract}, {IDC_MAIN_CANCEL, OnCancel}, {IDC_MAIN_INFO, OnInfo},
    {IDC_MAIN_HELP, OnHelp},       {IDC_MAIN_BROWSE, OnBrowse},
};

static INT_PTR OnInitDialog(HWND dialog) {
  InitMainDialog(dialog);
  SendMessageA(dialog, WM_SETICON, ICON_BIG,
               (LPARAM)LoadIconA((HINSTANCE)shell.appInstance, MAKEINTRESOURCEA(IDI_MAIN)));
  return TRUE;  // the focus goes to the folder field, the first tab stop
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return OnInitDialog(dialog);
  if (message == WM_DESTROY) {
    dialogOwner = nullptr;  // boxes shown afterwards have no owner
    return FALSE;
  }
  if (message != WM_COMMAND) return FALSE;
  for (const CommandHandler &command : kCommands)
    if (command.id == LOWORD(wParam)) return command.handle(dialog);
  return FALSE;  // the folder field and the check boxes
}
