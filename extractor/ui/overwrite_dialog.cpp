#include "extractor/ui/overwrite_dialog.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/ui/texts.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/wide_text.h"

enum {
  DESCRIPTION_BUFFER = 256,  // every composed text of the dialog
  DATE_TIME_BUFFER = 100,
  HEADER_NAME_MAX = 190      // names longer than this are cut in the header
};

typedef struct ReplaceQuestion {
  WIN32_FIND_DATAW existing;  // the file on disk, as the directory lookup gives it
  WIN32_FIND_DATAA incoming;  // the archive's entry (EntryFindData has this layout)
  HICON typeIcon;             // shell icon of the existing name's type, or null
} ReplaceQuestion;

static_assert(sizeof(EntryFindData) == sizeof(WIN32_FIND_DATAA), "EntryFindData has the platform layout");

int32_t overwriteAll;

static ReplaceQuestion question;

// Composes template (a Windows-1252 text) with FormatMessageW (%1, %2
// UTF-16 strings, %3!d! a number) into the control. A text that does not
// fit leaves the control empty.
static void SetFormatted(HWND dialog, int id, const char *format, DWORD_PTR *arguments) {
  wchar_t wideFormat[DESCRIPTION_BUFFER], text[DESCRIPTION_BUFFER];
  WideFromWindows1252(format, wideFormat, DESCRIPTION_BUFFER);
  if (!FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, wideFormat, 0, 0, text,
                      DESCRIPTION_BUFFER, (va_list *)arguments))
    text[0] = 0;
  SetDlgItemTextW(dialog, id, text);
}

// A Windows-1252 text of the program into the control, in UTF-16, so that
// it reads the same whatever the system's ANSI code page.
static void SetText1252(HWND dialog, int id, const char *text) {
  wchar_t wide[DESCRIPTION_BUFFER];
  WideFromWindows1252(text, wide, DESCRIPTION_BUFFER);
  SetDlgItemTextW(dialog, id, wide);
}

// "N KB" or "N Bytes" (low 32 bits of the size), then "geändert am" the
// long date and the 24-hour time of the last change in local time. A time
// that cannot be converted (an entry with an invalid DOS date) shows empty.
static void DescribeFile(HWND dialog, int id, const FILETIME *written, DWORD size) {
  wchar_t date[DATE_TIME_BUFFER] = L"", time[DATE_TIME_BUFFER] = L"";
  FILETIME local;
  SYSTEMTIME fields;
  if (FileTimeToLocalFileTime(written, &local) && FileTimeToSystemTime(&local, &fields)) {
    if (!GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &fields, nullptr, time, DATE_TIME_BUFFER)) time[0] = 0;
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &fields, nullptr, date, DATE_TIME_BUFFER)) date[0] = 0;
  }
  int kilobytes = size >= 1024;
  DWORD_PTR arguments[3] = {(DWORD_PTR)date, (DWORD_PTR)time, (DWORD_PTR)(kilobytes ? size >> 10 : size)};
  SetFormatted(dialog, id, kilobytes ? kDescribeKb : kDescribeBytes, arguments);
}

static void InitConfirmReplace(HWND dialog) {
  SHFILEINFOW info;
  memset(&info, 0, sizeof info);
  question.typeIcon = nullptr;
  if (SHGetFileInfoW(question.existing.cFileName, 0, &info, sizeof info, SHGFI_ICON | SHGFI_USEFILEATTRIBUTES))
    question.typeIcon = info.hIcon;
  if (question.typeIcon) {
    SendDlgItemMessageA(dialog, IDC_REPLACE_OLD_ICON, STM_SETIMAGE, IMAGE_ICON, (LPARAM)question.typeIcon);
    SendDlgItemMessageA(dialog, IDC_REPLACE_NEW_ICON, STM_SETIMAGE, IMAGE_ICON, (LPARAM)question.typeIcon);
  }
  SetText1252(dialog, IDC_REPLACE_QUESTION, kReplaceQuestion);
  SetText1252(dialog, IDC_REPLACE_WITH, kReplaceWith);
  wchar_t name[HEADER_NAME_MAX + 1];
  lstrcpynW(name, question.existing.cFileName, HEADER_NAME_MAX + 1);
  DWORD_PTR arguments[1] = {(DWORD_PTR)name};
  SetFormatted(dialog, IDC_REPLACE_HEADER, kReplaceHeader, arguments);
  DescribeFile(dialog, IDC_REPLACE_OLD_TEXT, &question.existing.ftLastWriteTime, question.existing.nFileSizeLow);
  DescribeFile(dialog, IDC_REPLACE_NEW_TEXT, &question.incoming.ftLastWriteTime, question.incoming.nFileSizeLow);
}

static INT_PTR OnInitDialog(HWND dialog) {
  CenterWindow(dialog);
  InitConfirmReplace(dialog);
  return TRUE;
}

// The four answers end the dialog with their own id.
static INT_PTR OnCommand(HWND dialog, WPARAM wParam) {
  int id = LOWORD(wParam);
  if (id != IDC_BUTTON_OK && id != IDC_BUTTON_CANCEL && id != IDC_BUTTON_NO && id != IDC_REPLACE_ALL) return FALSE;
  EndDialog(dialog, id);
  return TRUE;
}

static INT_PTR CALLBACK ConfirmReplaceDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_COMMAND: return OnCommand(dialog, wParam);
  }
  return FALSE;
}

// Asks the user. Returns an OVERWRITE_* answer.
static int AskReplace(const char *targetPath, const EntryFindData *entry) {
  // A wildcard in the path would make the lookup describe another file.
  if (strchr(targetPath, '*') || strchr(targetPath, '?')) return OVERWRITE_WRITE;
  const wchar_t *wide = WidePath(targetPath, 0);
  HANDLE search = wide ? FindFirstFileW(wide, &question.existing) : INVALID_HANDLE_VALUE;
  if (search == INVALID_HANDLE_VALUE) return OVERWRITE_WRITE;
  FindClose(search);
  memcpy(&question.incoming, entry, sizeof question.incoming);
  INT_PTR result =
      DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(IDD_REPLACE), dialogOwner, ConfirmReplaceDlgProc, 0);
  if (question.typeIcon) DestroyIcon(question.typeIcon);
  question.typeIcon = nullptr;
  switch (result) {
    case IDC_BUTTON_OK: return OVERWRITE_WRITE;
    case IDC_REPLACE_ALL: overwriteAll = 1; return OVERWRITE_WRITE;
    case IDC_BUTTON_NO: return OVERWRITE_SKIP;
  }
  return OVERWRITE_STOP;
}

// The target's read-only, hidden and system attributes are cleared only
// when the finished file replaces it (FileReplace): an entry that fails
// leaves the old file with its attributes.
int ConfirmOverwrite(const char *targetPath, const EntryFindData *entry) {
  return overwriteAll ? OVERWRITE_WRITE : AskReplace(targetPath, entry);
}
