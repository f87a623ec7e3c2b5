// Small services of the extractor's dialogs, and the window that owns them.
#ifndef OSTREL_UI_WINDOW_UTIL_H
#define OSTREL_UI_WINDOW_UTIL_H

#include <windows.h>

// The owner of the extraction's dialogs and boxes (password, overwrite,
// CRC warning) and the window of the progress field: the main dialog while
// it exists, null otherwise (a silent run, or after the dialog closed). The
// main dialog sets it when it opens and clears it when it is destroyed.
extern HWND dialogOwner;

// The module whose resources hold every dialog template: the program itself.
HINSTANCE ResourceModule(void);

// Dispatches every message waiting in the thread's queue and returns as
// soon as it is empty; never waits. No dialog-key handling (Tab, Enter and
// Esc do nothing meanwhile): it runs inside an extraction, where only the
// mouse should reach "Abbrechen". Called around each progress report.
void PumpMessages(void);

// Places a top-level window in the middle of the desktop, kept on the
// primary screen (a window larger than the screen goes to 0 on that axis);
// neither its size, its z-order nor the activation change. Called from
// each dialog's WM_INITDIALOG.
void CenterWindow(HWND window);

// MessageBoxW with a Windows-1252 text and caption (the German texts, the
// settings texts), so that they read the same whatever the system's ANSI
// code page. Texts longer than MESSAGE_TEXT_MAX bytes are cut. Returns the
// box's answer.
enum { MESSAGE_TEXT_MAX = 2047 };
int MessageBox1252(HWND owner, const char *text, const char *caption, UINT flags);

#endif
