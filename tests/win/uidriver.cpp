// UI driver for the end-to-end tests: finds a top-level window of another
// process by class and/or caption, lists its controls with their texts,
// presses buttons and sets texts. Keystroke tools are unreliable on a bare X
// server; window messages reach the dialogs directly.
//
// usage: uidriver COMMAND [--class NAME] [--title TEXT] [--timeout MS] [options]
//   wait-window              wait until the window exists; print it
//   wait-gone                wait until no such window exists
//   dump                     print the window and every control below it
//   click --id N[,M...]      press button N (BM_CLICK); with several ids the
//                            clicks are queued together, so that the later
//                            ones arrive while the first one's handler runs
//   command --id N[,M...]    send the window WM_COMMAND for button N, as a
//                            click would; for dialogs that are not active,
//                            where Windows may drop a BM_CLICK
//   set-text --id N --text T set the text of control N (WM_SETTEXT)
//   close                    post WM_CLOSE to the window
// --dump with click or command prints the controls first, as dump does, so
// that a test reads a box and answers it in one step.
// A window matches when it is visible and both given criteria match exactly
// (class names without case). --timeout defaults to 20000 ms.
//
// Output, one line per window, fields separated by tabs:
//   window  <hwnd> <process id> <class> <text hex> <text escaped>
//   control <id>   <hwnd>       <class> <text hex> <text escaped> <state>
// state: "v" visible, "e" enabled, "c" a checked button, "n" a static that
// shows "&" as it is (SS_NOPREFIX) ("-" when none).
// Texts are given in hex so that a test can compare them byte for byte
// (Windows-1252), and escaped (\r, \n, \xNN) for people reading the log.
// Exit code: 0 success, 1 window or control not found in time, 2 usage.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

typedef struct Criteria {
  const char *className;  // exact class name (case-insensitive), NULL = any
  const char *title;      // exact caption, NULL = any
  HWND found;             // first match, NULL while none
} Criteria;

// Reads a window's text through WM_GETTEXT, which the system carries across
// processes; GetWindowTextA would give only captions of foreign windows.
static std::string WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return std::string();
  std::string text(length + 1, '\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)&text[0],
                           SMTO_ABORTIFHUNG, 5000, &got))
    return std::string();
  text.resize(got < text.size() ? got : text.size() - 1);
  return text;
}

static std::string ClassName(HWND window) {
  char name[256];
  int length = GetClassNameA(window, name, sizeof name);
  return std::string(name, length > 0 ? length : 0);
}

static void PrintLine(const char *kind, long long number, HWND window) {
  std::string text = WindowText(window);
  std::string hex;
  std::string escaped;
  char piece[8];
  for (unsigned char c : text) {
    snprintf(piece, sizeof piece, "%02x", c);
    hex += piece;
    if (c == '\r') escaped += "\\r";
    else if (c == '\n') escaped += "\\n";
    else if (c == '\\') escaped += "\\\\";
    else if (c < 0x20 || c >= 0x7f) {
      snprintf(piece, sizeof piece, "\\x%02x", c);
      escaped += piece;
    } else {
      escaped += (char)c;
    }
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (!strcmp(kind, "window")) number = (long long)(INT_PTR)window;
  std::string state;
  if (IsWindowVisible(window)) state += 'v';
  if (IsWindowEnabled(window)) state += 'e';
  DWORD_PTR check = 0;
  if (!lstrcmpiA(ClassName(window).c_str(), "Button") &&
      SendMessageTimeoutA(window, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &check) && check == BST_CHECKED)
    state += 'c';
  if (!lstrcmpiA(ClassName(window).c_str(), "Static") && (GetWindowLongA(window, GWL_STYLE) & SS_NOPREFIX))
    state += 'n';
  if (state.empty()) state = "-";
  printf("%s\t%lld\t%lld\t%s\t%s\t%s\t%s\n", kind, number,
         !strcmp(kind, "window") ? (long long)pid : (long long)(INT_PTR)window,
         ClassName(window).c_str(), hex.c_str(), escaped.c_str(), state.c_str());
}

static BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  Criteria *criteria = (Criteria *)context;
  if (!IsWindowVisible(window)) return TRUE;
  if (criteria->className && lstrcmpiA(ClassName(window).c_str(), criteria->className)) return TRUE;
  if (criteria->title) {
    char title[512];
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(title, criteria->title)) return TRUE;
  }
  criteria->found = window;
  return FALSE;
}

static HWND FindMatch(Criteria *criteria) {
  criteria->found = NULL;
  EnumWindows(MatchWindow, (LPARAM)criteria);
  return criteria->found;
}

// Polls every 50 ms. Returns the window, or NULL after timeout ms.
static HWND WaitWindow(Criteria *criteria, int timeout) {
  for (int waited = 0;; waited += 50) {
    HWND window = FindMatch(criteria);
    if (window || waited >= timeout) return window;
    Sleep(50);
  }
}

static BOOL CALLBACK PrintControl(HWND control, LPARAM) {
  PrintLine("control", GetDlgCtrlID(control), control);
  return TRUE;
}

static int Usage(void) {
  fprintf(stderr,
          "usage: uidriver wait-window|wait-gone|dump|close|click --id N|command --id N|\n"
          "                set-text --id N --text T\n"
          "                [--class NAME] [--title TEXT] [--timeout MS]\n");
  return 2;
}

int main(int argc, char **argv) {
  if (argc < 2) return Usage();
  const char *command = argv[1];
  Criteria criteria = {NULL, NULL, NULL};
  int timeout = 20000;
  int id = -1;
  const char *ids = "";  // the whole --id list, "1,2"
  const char *text = NULL;
  bool dumpFirst = false;
  for (int i = 2; i < argc; i++) {
    if (!strcmp(argv[i], "--dump")) {
      dumpFirst = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const char *value = argv[++i];
    if (!strcmp(argv[i - 1], "--class")) criteria.className = value;
    else if (!strcmp(argv[i - 1], "--title")) criteria.title = value;
    else if (!strcmp(argv[i - 1], "--timeout")) timeout = atoi(value);
    else if (!strcmp(argv[i - 1], "--id")) id = atoi(ids = value);
    else if (!strcmp(argv[i - 1], "--text")) text = value;
    else return Usage();
  }

  if (!strcmp(command, "wait-gone")) {
    for (int waited = 0; FindMatch(&criteria); waited += 50) {
      if (waited >= timeout) {
        fprintf(stderr, "uidriver: window still there after %d ms\n", timeout);
        return 1;
      }
      Sleep(50);
    }
    printf("gone\n");
    return 0;
  }

  bool needsId = !strcmp(command, "click") || !strcmp(command, "command") || !strcmp(command, "set-text");
  bool known = needsId || !strcmp(command, "wait-window") || !strcmp(command, "dump") || !strcmp(command, "close");
  if (!known || (needsId && id < 0) ||
      (!strcmp(command, "set-text") && !text))
    return Usage();
  HWND window = WaitWindow(&criteria, timeout);
  if (!window) {
    fprintf(stderr, "uidriver: no matching window after %d ms\n", timeout);
    return 1;
  }
  PrintLine("window", 0, window);
  if (dumpFirst && strcmp(command, "dump")) EnumChildWindows(window, PrintControl, 0);
  if (!strcmp(command, "dump")) {
    EnumChildWindows(window, PrintControl, 0);
  } else if (!strcmp(command, "close")) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else if (needsId && strchr(ids, ',')) {
    // Several clicks or commands, posted back to back before any is handled.
    for (const char *next = ids; next; next = strchr(next, ',') ? strchr(next, ',') + 1 : NULL) {
      int each = atoi(next);
      HWND control = GetDlgItem(window, each);
      if (!control || !strcmp(command, "set-text")) return 1;
      if (!strcmp(command, "click")) PostMessageA(control, BM_CLICK, 0, 0);
      else PostMessageA(window, WM_COMMAND, MAKEWPARAM(each, BN_CLICKED), (LPARAM)control);
    }
    printf("%s\t%s\n", command, ids);
  } else if (needsId) {
    HWND control = GetDlgItem(window, id);
    if (!control) {
      fprintf(stderr, "uidriver: window has no control %d\n", id);
      return 1;
    }
    DWORD_PTR ignored;
    // A click may end a modal loop and so never be answered in time; that
    // is not a failure, the test checks the window's end separately.
    if (!strcmp(command, "click"))
      PostMessageA(control, BM_CLICK, 0, 0);
    else if (!strcmp(command, "command"))
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
    else if (!SendMessageTimeoutA(control, WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &ignored))
      return 1;
    printf("%s\t%d\n", command, id);
  }
  fflush(stdout);
  return 0;
}
