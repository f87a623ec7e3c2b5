#include "extractor/ui/folder_chooser.h"

#include <commdlg.h>
#include <stddef.h>
#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/ui/texts.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/wide_text.h"

enum { CHOOSER_BUFFER = 262 };

// The hook receives the template's dialog itself (old style): it only
// centres it and leaves every message to the common dialog.
static UINT_PTR CALLBACK FolderDlgHook(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) CenterWindow(dialog);
  return 0;
}

// In UTF-16, so that folders outside the ANSI code page can be chosen; the
// German title and the dummy name are Windows-1252.
void ChooseTargetFolder(HWND dialog) {
  wchar_t file[CHOOSER_BUFFER], title[CHOOSER_BUFFER], caption[CHOOSER_BUFFER];
  memset(file, 0, sizeof file);
  memset(title, 0, sizeof title);
  WideFromWindows1252(kFolderDummyName, file, CHOOSER_BUFFER);
  WideFromWindows1252(kFolderDummyName, title, CHOOSER_BUFFER);
  WideFromWindows1252(kFolderTitle, caption, CHOOSER_BUFFER);

  OPENFILENAMEW request;
  memset(&request, 0, sizeof request);
  // The record without its later extensions (places bar and so on), which
  // the old-style dialog does not use.
  request.lStructSize = offsetof(OPENFILENAMEW, pvReserved);
  request.hwndOwner = dialog;
  request.hInstance = ResourceModule();
  request.lpstrFile = file;
  request.nMaxFile = CHOOSER_BUFFER;
  request.lpstrFileTitle = title;  // nMaxFileTitle 0: nothing is returned there
  request.lpstrTitle = caption;
  request.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
  request.lpfnHook = FolderDlgHook;
  request.lpTemplateName = MAKEINTRESOURCEW(IDD_FOLDER);
  if (GetSaveFileNameW(&request) != TRUE) return;

  // The folder part: everything up to and including the last backslash.
  int cut = 0;
  for (int i = 0; file[i]; i++)
    if (file[i] == L'\\') cut = i + 1;
  file[cut] = 0;
  SetDlgItemTextW(dialog, IDC_MAIN_FOLDER, file);
}
