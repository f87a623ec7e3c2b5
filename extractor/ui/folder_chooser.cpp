#include "extractor/ui/folder_chooser.h"

#include <commdlg.h>
#include <stddef.h>
#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/ui/texts.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/wide_text.h"

enum { CHOOSER_TEXT = 64 };  // the dummy name and the caption

// The hook receives the template's dialog itself (old style): it only
// centres it and leaves every message to the common dialog.
static UINT_PTR CALLBACK FolderDlgHook(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) CenterWindow(dialog);
  return 0;
}

// In UTF-16, so that folders outside the ANSI code page can be chosen; the
// German title and the dummy name are Windows-1252.
// The returned path may be as long as the system allows (a folder deeper
// than MAX_PATH), so the file buffer is static and of that size.
void ChooseTargetFolder(HWND dialog) {
  static wchar_t file[WIDE_PATH_BUFFER];
  wchar_t title[CHOOSER_TEXT], caption[CHOOSER_TEXT];
  memset(file, 0, sizeof file);
  memset(title, 0, sizeof title);
  WideFromWindows1252(kFolderDummyName, file, WIDE_PATH_BUFFER);
  WideFromWindows1252(kFolderDummyName, title, CHOOSER_TEXT);
  WideFromWindows1252(kFolderTitle, caption, CHOOSER_TEXT);

  OPENFILENAMEW request;
  memset(&request, 0, sizeof request);
  // The record without its later extensions (places bar and so on), which
  // the old-style dialog does not use.
  request.lStructSize = offsetof(OPENFILENAMEW, pvReserved);
  request.hwndOwner = dialog;
  request.hInstance = ResourceModule();
  request.lpstrFile = file;
  request.nMaxFile = WIDE_PATH_BUFFER;
  request.lpstrFileTitle = title;  // nMaxFileTitle 0: nothing is returned there
  request.lpstrTitle = caption;
  request.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
  request.lpfnHook = FolderDlgHook;
  request.lpTemplateName = MAKEINTRESOURCEW(IDD_FOLDER);
  if (GetSaveFileNameW(&request) != TRUE) return;

  *WidePathName(file) = 0;  // the folder part, up to and including the last backslash
  SetDlgItemTextW(dialog, IDC_MAIN_FOLDER, file);
}
