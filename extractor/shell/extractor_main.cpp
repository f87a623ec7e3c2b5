// The extractor's process entry and start-up sequence.
//
// WinMain:
//   1. restrict the DLL search to the system folder
//   2. read the settings from the image's tail (no valid tail: a box, exit 0)
//   3. the intro box, when there is an intro text and the run is interactive
//   4. working storage, the SFX file held against swapping, archive, callbacks
//   5. the main dialog, or the silent extraction into the default folder
//   6. the summary box when the run calls for it; its answer is the exit code
#include <windows.h>

#include "extractor/resources/resource_ids.h"
#include "extractor/shell/main_dialog.h"
#include "extractor/shell/settings_reader.h"
#include "extractor/shell/shell_state.h"
#include "extractor/ui/overwrite_dialog.h"
#include "extractor/ui/password_dialog.h"
#include "extractor/ui/progress.h"
#include "extractor/ui/texts.h"
#include "extractor/ui/window_util.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/summary.h"
#include "extractor/zip/wide_text.h"

ShellState shell;
SettingsState settings;

// The extractor runs from the Windows folder or the user's temporary
// folder, where anybody may have dropped a DLL named like one that USER32,
// SHELL32 or COMDLG32 load on demand (themes, version, shell extensions).
// From here on only the system folder is searched. The imports themselves
// are known DLLs, which the loader always takes from the system folder.
// SetDefaultDllDirectories and SetDllDirectoryA are both looked up, so that
// systems without them start (an import of either would make the loader
// refuse the program there).
static void RestrictDllSearch(void) {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  typedef BOOL(WINAPI * SetDllDirectoryFn)(const char *);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  SetDefaultDllDirectoriesFn setDefault =
      (SetDefaultDllDirectoriesFn)(void *)GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryFn setDirectory = (SetDllDirectoryFn)(void *)GetProcAddress(kernel, "SetDllDirectoryA");
  if (setDirectory) setDirectory("");
}

// The summary box (its text is Windows-1252: German texts and the run
// file's name): no owner, caption "Hinweis", the information icon also
// for failures. Returns the box's answer.
static int ShowSummary(void) {
  char message[SUMMARY_TEXT_BUFFER];
  ComposeSummary(message, settings.runFile);
  return MessageBox1252(nullptr, message, kNoticeCaption, MB_OK | MB_ICONINFORMATION);
}

// Returns 1 when the user answered OK or Yes. Styles other than 0, 1 and 2
// get the single OK button of style 0.
static int ShowIntro(void) {
  static const UINT kStyles[] = {MB_OK | MB_ICONINFORMATION, MB_YESNO | MB_ICONQUESTION,
                                 MB_OKCANCEL | MB_ICONINFORMATION};
  int16_t style = settings.block.introStyle;
  UINT flags = style >= 0 && style <= 2 ? kStyles[style] : kStyles[0];
  const char *caption = settings.introCaption[0] ? settings.introCaption : kNoticeCaption;
  int answer = MessageBox1252(nullptr, settings.introText, caption, flags);
  return answer == IDOK || answer == IDYES;
}

static void InstallCallbacks(void) {
  callbacks.confirmOverwrite = ConfirmOverwrite;
  callbacks.askPassword = AskPassword;
  // With a positive silentMode there is no window to update and nobody to
  // ask: the empty progress slot is skipped, the empty CRC slot makes the
  // driver record 9962 and delete the damaged file.
  if (settings.block.silentMode <= 0) callbacks.reportProgress = ReportProgress;
  if (settings.block.silentMode <= 0) callbacks.confirmCrcMismatch = AskCrcMismatch;
}

static void RunSilent(void) {
  SetAbsoluteTargetFolder(settings.defaultFolder);
  overwriteAll = 1;
  shell.extractionStarted = 1;
  ExtractArchive();
}

// The exit code: the summary's answer when the run calls for the box, else 0.
static int FinishRun(void) {
  int16_t silent = settings.block.silentMode;
  if (!shell.extractionStarted) return 0;
  if (silent < 0 || (silent > 0 && extraction.errorCode == ERR_NONE)) return 0;
  return ShowSummary();
}

// The extractor's own image, wherever the stub put it: a temporary folder
// under a user name outside the ANSI code page, or a long one, is reached
// through GetModuleFileNameW and the core's form of that path. A path cut
// at the buffer's end names another file: left empty, the open fails and
// the summary says so.
static void FindOwnImage(HINSTANCE instance) {
  static wchar_t own[WIDE_PATH_BUFFER];
  DWORD units = GetModuleFileNameW(instance, own, WIDE_PATH_BUFFER);
  if (units == 0 || units >= WIDE_PATH_BUFFER || !CoreFromWidePath(own, shell.sfxPath, LONG_PATH_BUFFER))
    shell.sfxPath[0] = 0;
}

static int WINAPI ExtractorMain(HINSTANCE instance) {
  RestrictDllSearch();
  shell.appInstance = instance;
  FindOwnImage(instance);
  int tail = ReadSettings();
  if (tail == SETTINGS_NO_FILE) {
    ShowSummary();
    return 0;
  }
  if (tail == SETTINGS_NO_TAIL) {
    MessageBox1252(nullptr, kNoTailText, kProgramCaption, MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  if (settings.block.introTextLength > 0 && settings.block.silentMode == 0 && !ShowIntro()) return 0;
  if (!AllocWorkingStorage()) {
    ShowSummary();
    return 0;
  }
  // Held, shared for reading only, until the process ends: the later opens
  // by path then find the same file, never one put in its place (see "h"
  // in file_io.h). The stub holds it the same way while it waits.
  FileOpen(shell.sfxPath, "h");
  OpenArchive(shell.sfxPath);
  InstallCallbacks();
  if (settings.block.silentMode == 0) {
    DialogBoxParamA(instance, IDD_MAIN, nullptr, MainDialogProc, 0);
  } else {
    RunSilent();
  }
  return FinishRun();
}

// Process entry, without a C runtime: no arguments are taken, and the
// show state is ignored.
extern "C" void WINAPI ExtractorEntry(void) {
  ExitProcess((UINT)ExtractorMain(GetModuleHandleA(nullptr)));
}
