#include "extractor/ui/folder_chooser.h"

#include <commdlg.h>
#include <stddef.h>
#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/ui/texts.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/path_ops.h"

enum { CHOOSER_BUFFER = 262 };

// The hook receives the template's dialog itself (old style): it only
// centres it and leaves every message to the common dialog.
static UINT_PTR CALLBACK FolderDlgHook(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) CenterWindow(dialog);
  return 0;
}

void ChooseTargetFolder(HWND dialog) {
  char file[CHOOSER_BUFFER], title[CHOOSER_BUFFER];
  memset(file, 0, sizeof file);
  memset(title, 0, sizeof title);
  strcpy(file, kFolderDummyName);
  strcpy(title, kFolderDummyName);

  OPENFILENAMEA request;
  memset(&request, 0, sizeof request);
  // The record without its later extensions (places bar and so on), which
  // the old-style dialog does not use.
  request.lStructSize = offsetof(OPENFILENAMEA, pvReserved);
  request.hwndOwner = dialog;
  request.hInstance = ResourceModule();
  request.lpstrFile = file;
  request.nMaxFile = sizeof file;
  request.lpstrFileTitle = title;  // nMaxFileTitle 0: nothing is returned there
  request.lpstrTitle = kFolderTitle;
  request.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
  request.lpfnHook = FolderDlgHook;
  request.lpTemplateName = MAKEINTRESOURCEA(IDD_FOLDER);
  if (GetSaveFileNameA(&request) != TRUE) return;

  char drive[SPLIT_FIELD], directory[SPLIT_FIELD], folder[2 * SPLIT_FIELD];
  SplitPath(file, drive, directory, nullptr, nullptr);
  lstrcpynA(folder, drive, sizeof folder);
  lstrcatA(folder, directory);
  SetDlgItemTextA(dialog, IDC_MAIN_FOLDER, folder);
}
