// The progress field (subclassed static, drawn off-screen in one copy so it
// does not flicker) and the extraction callbacks that use it.
#include "extractor/ui/progress.h"

#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/ui/texts.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"
#include "extractor/zip/wide_text.h"

typedef struct ProgressField {
  int32_t percent;                     // last reported, 0 at first; shown clamped to 0..100
  wchar_t text[PROGRESS_TEXT_BUFFER];  // "name.ext (42 %)", empty at first
  WNDPROC previous;                    // the static control's own procedure
} ProgressField;

int32_t cancelRequested;

static ProgressField field;
static wchar_t label[PROGRESS_TEXT_BUFFER];  // current entry's name and extension

// WM_SETTEXT (sent as Unicode): wParam the percent, lParam the label
// (wchar_t) or null. The control's own text stays empty; the field repaints
// at once, because during an extraction the dialog's message loop does not run.
static LRESULT OnSetText(HWND window, WPARAM wParam, LPARAM lParam) {
  field.percent = (int32_t)wParam;
  if (lParam) wsprintfW(field.text, L"%.200s (%ld %%)", (const wchar_t *)lParam, (long)field.percent);
  else wsprintfW(field.text, L"%ld %%", (long)field.percent);
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
  return 1;
}

static void PaintField(HWND window, HDC target) {
  RECT client;
  GetClientRect(window, &client);
  int width = client.right, height = client.bottom;
  HDC memory = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  // The dialog's font, so that the text scales with the dialog; the stock
  // font only when the dialog has none.
  HFONT font = (HFONT)SendMessageA(GetParent(window), WM_GETFONT, 0, 0);
  HGDIOBJ oldFont = SelectObject(memory, font ? (HGDIOBJ)font : GetStockObject(ANSI_VAR_FONT));
  SetBkMode(memory, TRANSPARENT);

  RECT inside = client;
  DrawEdge(memory, &inside, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(memory, &inside, (HBRUSH)GetStockObject(WHITE_BRUSH));
  SetTextColor(memory, RGB(0, 0, 0));
  DrawTextW(memory, field.text, -1, &inside, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  // The band covers the interior's share; inverting turns the black text
  // inside it white. Outside 0..100 the band stays within the interior.
  int32_t percent = field.percent < 0 ? 0 : field.percent > 100 ? 100 : field.percent;
  RECT band = inside;
  band.right = inside.left + (int)((inside.right - inside.left) * percent / 100);
  if (band.right > band.left) InvertRect(memory, &band);

  BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, oldFont);
  SelectObject(memory, oldBitmap);
  DeleteDC(memory);
  DeleteObject(bitmap);
}

static LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC target = BeginPaint(window, &paint);
  PaintField(window, target);
  EndPaint(window, &paint);
  return 0;
}

static LRESULT CALLBACK ProgressFieldProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT: return OnSetText(window, wParam, lParam);
    case WM_ERASEBKGND: return 1;  // the paint covers the whole client area
    case WM_PAINT: return OnPaint(window);
  }
  return CallWindowProcW(field.previous, window, message, wParam, lParam);
}

void InstallProgressField(HWND dialog) {
  HWND control = GetDlgItem(dialog, IDC_MAIN_PROGRESS);
  // A Unicode procedure: WM_SETTEXT then carries the wchar_t label unconverted.
  field.previous = (WNDPROC)SetWindowLongPtrW(control, GWLP_WNDPROC, (LONG_PTR)ProgressFieldProc);
  ShowWindow(control, SW_HIDE);
}

int ReportProgress(int, int32_t percent) {
  // UTF-16: the name appears as itself whatever the system's ANSI code page.
  WideNameOfPath(storage.entry->entryName, label, PROGRESS_TEXT_BUFFER);
  PumpMessages();
  if (dialogOwner)
    SendDlgItemMessageW(dialogOwner, IDC_MAIN_PROGRESS, WM_SETTEXT, (WPARAM)percent, (LPARAM)label);
  PumpMessages();
  return cancelRequested ? 0 : 1;
}

int AskCrcMismatch(const char *entryName) {
  if (cancelRequested) return CRC_MISMATCH_STOP;
  wchar_t name[PROGRESS_TEXT_BUFFER], format[PROGRESS_TEXT_BUFFER], caption[32], text[2 * PROGRESS_TEXT_BUFFER];
  WideNameOfPath(entryName, name, PROGRESS_TEXT_BUFFER);
  WideFromWindows1252(kCrcWarningFormat, format, PROGRESS_TEXT_BUFFER);
  WideFromWindows1252(kWarningCaption, caption, 32);
  wsprintfW(text, format, name);
  int answer = MessageBoxW(dialogOwner, text, caption, MB_OKCANCEL | MB_ICONEXCLAMATION);
  return answer == IDOK ? CRC_MISMATCH_KEEP : CRC_MISMATCH_STOP;
}
