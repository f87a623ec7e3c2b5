#include "extractor/ui/window_util.h"

#include "extractor/zip/wide_text.h"

HWND dialogOwner;

HINSTANCE ResourceModule(void) { return GetModuleHandleA(nullptr); }

void PumpMessages(void) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

static int Clamp(int value, int highest) {
  if (value > highest) value = highest;
  return value < 0 ? 0 : value;
}

void CenterWindow(HWND window) {
  RECT desktop, own;
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(window, &own);
  int width = own.right - own.left, height = own.bottom - own.top;
  int x = desktop.left + ((desktop.right - desktop.left) - width) / 2;
  int y = desktop.top + ((desktop.bottom - desktop.top) - height) / 2;
  x = Clamp(x, GetSystemMetrics(SM_CXSCREEN) - width);
  y = Clamp(y, GetSystemMetrics(SM_CYSCREEN) - height);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int MessageBox1252(HWND owner, const char *text, const char *caption, UINT flags) {
  static wchar_t wideText[MESSAGE_TEXT_MAX + 1], wideCaption[MESSAGE_TEXT_MAX + 1];
  static char cut[MESSAGE_TEXT_MAX + 1];
  lstrcpynA(cut, text, MESSAGE_TEXT_MAX + 1);
  WideFromWindows1252(cut, wideText, MESSAGE_TEXT_MAX + 1);
  lstrcpynA(cut, caption, MESSAGE_TEXT_MAX + 1);
  WideFromWindows1252(cut, wideCaption, MESSAGE_TEXT_MAX + 1);
  return MessageBoxW(owner, wideText, wideCaption, flags);
}
