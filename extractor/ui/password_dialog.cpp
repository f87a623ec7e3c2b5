#include "extractor/ui/password_dialog.h"

#include <windows.h>
#include <string.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"

enum {
  PROMPT_BUFFER = 256,
  PROMPT_NAME_MAX = 150  // what the 105 other characters of the prompt leave
};

typedef struct PasswordPrompt {
  char name[PROMPT_NAME_MAX + 1];  // entry's name and extension, cut to fit the prompt
  char *buffer;                    // receives the password on "Ok"
} PasswordPrompt;

static PasswordPrompt prompt;

// The prompt's wording lives only in the template: its text is the format.
static void InitPasswordDialog(HWND dialog) {
  char format[PROMPT_BUFFER], text[PROMPT_BUFFER + PROMPT_NAME_MAX];
  GetDlgItemTextA(dialog, IDC_PASSWORD_PROMPT, format, PROMPT_BUFFER - 1);
  wsprintfA(text, format, prompt.name);
  SetDlgItemTextA(dialog, IDC_PASSWORD_PROMPT, text);
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
  char name[SPLIT_FIELD], extension[SPLIT_FIELD];
  SplitPath(entryName, nullptr, nullptr, name, extension);
  lstrcpynA(prompt.name, name, sizeof prompt.name);
  size_t used = strlen(prompt.name);
  lstrcpynA(prompt.name + used, extension, (int)(sizeof prompt.name - used));
  prompt.buffer = buffer;
  INT_PTR result =
      DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(IDD_PASSWORD), dialogOwner, PasswordDlgProc, 0);
  return result == IDC_BUTTON_OK;
}
