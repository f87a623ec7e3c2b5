#include "extractor/ui/password_dialog.h"

#include <windows.h>
#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"
#include "extractor/zip/wide_text.h"

enum {
  PROMPT_BUFFER = 256,
  PROMPT_NAME_MAX = 150  // what the 105 other characters of the prompt leave
};

typedef struct PasswordPrompt {
  wchar_t name[PROMPT_NAME_MAX + 1];  // entry's name and extension in UTF-16, cut to fit the prompt
  char *buffer;                    // receives the password on "Ok"
} PasswordPrompt;

static PasswordPrompt prompt;

// The prompt's wording lives only in the template: its text is the format,
// read and written in UTF-16 so that the name appears as itself. The
// password stays 8-bit: the cipher's keys are made from its bytes.
static void InitPasswordDialog(HWND dialog) {
  wchar_t format[PROMPT_BUFFER], text[PROMPT_BUFFER + PROMPT_NAME_MAX];
  GetDlgItemTextW(dialog, IDC_PASSWORD_PROMPT, format, PROMPT_BUFFER - 1);
  wsprintfW(text, format, prompt.name);
  SetDlgItemTextW(dialog, IDC_PASSWORD_PROMPT, text);
  SetDlgItemTextA(dialog, IDC_PASSWORD_FIELD, "");
}

static INT_PTR OnInitDialog(HWND dialog) {
  CenterWindow(dialog);
  InitPasswordDialog(dialog);
  return TRUE;
}

static INT_PTR OnOk(HWND dialog) {
  GetDlgItemTextA(dialog, IDC_PASSWORD_FIELD, prompt.buffer, PASSWORD_BUFFER - 1);
  EndDialog(dialog, IDC_BUTTON_OK);
  return TRUE;
}

static INT_PTR CALLBACK PasswordDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return OnInitDialog(dialog);
  if (message != WM_COMMAND) return FALSE;
  if (wParam == IDC_BUTTON_OK) return OnOk(dialog);
  if (wParam == IDC_BUTTON_CANCEL) {
    EndDialog(dialog, IDC_BUTTON_CANCEL);
    return TRUE;
  }
  return FALSE;
}

int AskPassword(int, char *buffer, const char *entryName) {
  WideNameOfPath(entryName, prompt.name, PROMPT_NAME_MAX + 1);
  prompt.buffer = buffer;
  INT_PTR result =
      DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(IDD_PASSWORD), dialogOwner, PasswordDlgProc, 0);
  return result == IDC_BUTTON_OK;
}
