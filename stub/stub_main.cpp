// Entry point, launch sequence, process start and error box of the stub.
// No C runtime: StubEntry is the image's entry point (set by the linker), and
// everything below uses KERNEL32 and USER32 only.
#include <windows.h>

#include <stddef.h>

#include "packed/sfx_layout.h"
#include "packed/stage_decoder.h"
#include "stub/stub_file.h"
#include "stub/stub_launch.h"

// ---- packed-stage byte source and block sink ------------------------------

// The decoder asks for the 4-byte header once and then for one byte at a
// time. One ReadFile per byte made the start-up cost one system call per
// byte of the stage, so the source hands the bytes out of a block buffer and
// refills it with one ReadFile of STUB_READ_BLOCK bytes.
//
// Format notes (what the decoder sees is what a byte-wise source gave it):
// - A refill that reads 0 bytes (end of file) or fails (-1) is passed on
//   as it is; bytes already in the buffer are delivered first.
// - A failed block read is retried for one byte, so a read that fails only
//   for part of the block (a range locked by another process, for example)
//   gives the decoder every byte a one-byte read would have given, and the
//   failure at the same byte.
// - Reading ahead past the stage's end costs nothing: once the stage is
//   decoded nothing reads from the handle again (it is only held).
enum { STUB_READ_BLOCK = 4096 };

typedef struct StubSource {
  HANDLE file;                      // the SFX file, positioned at the stage at first
  int32_t next;                     // index of the next byte to hand out, 0 … filled
  int32_t filled;                   // bytes of buffer read from file, 0 … STUB_READ_BLOCK
  uint8_t buffer[STUB_READ_BLOCK];  // the last block read
} StubSource;

// Module-level so that the 4 KiB lie in .bss, not on the stack (the stub has
// no stack probes) and not in the file.
static StubSource stageSource;

static int32_t ReadSource(void *context, uint8_t *buffer, int32_t count) {
  StubSource *source = (StubSource *)context;
  if (source->next == source->filled) {
    int32_t got = FileRead(source->file, source->buffer, STUB_READ_BLOCK);
    if (got < 0) got = FileRead(source->file, source->buffer, 1);
    if (got <= 0) return got;
    source->filled = got;
    source->next = 0;
  }
  int32_t given = 0;
  while (given < count && source->next < source->filled)
    buffer[given++] = source->buffer[source->next++];
  return given;
}

static int32_t WriteTarget(void *context, const uint8_t *data, int32_t count) {
  return FileWrite((HANDLE)context, data, count);
}

// ---- DLL search guard -------------------------------------------------------

// DLL planting: the stub runs from wherever the user saved the SFX file,
// typically the Downloads folder, where anyone can drop a DLL beside it.
// A DLL loaded by name without a path is searched in the program's folder
// before the system folder, so this limits the search to the system folder
// (System32) before anything can load a DLL.
//
// What it covers: every DLL loaded by name after this point, and the DLLs
// those load in turn: the ones USER32 and the error box pull in on demand
// (the themes DLL uxtheme.dll, version.dll, text services and IME support).
// What it cannot cover: what the loader maps before the entry point runs:
// the static imports KERNEL32 and USER32, their own static dependencies and
// whatever USER32 loads while it initialises. KERNEL32 and USER32 (and
// GDI32) are Known DLLs, which Windows maps from System32 whatever the
// search order, which is why the stub imports from nothing else. Nor does
// it carry over to the extractor: a new process starts with the default
// search order, so the extractor needs a guard of its own.
//
// SetDefaultDllDirectories exists from Windows 8 and on Windows 7 and Vista
// with update KB2533623; SetDllDirectoryA("") from XP SP1, and it removes
// the current folder from the search, not the program's folder. Both are
// found through GetProcAddress, so that the stub still starts on systems
// without them (an import of either would make the loader refuse it).
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFn)(DWORD flags);
typedef BOOL(WINAPI *SetDllDirectoryFn)(const char *path);

static void RestrictDllSearch(void) {
  HMODULE kernel = GetModuleHandleA("KERNEL32");
  // GetProcAddress returns a generic function pointer; the cast through
  // void (*)(void) tells the compiler that the type change is meant.
  SetDefaultDllDirectoriesFn setDefault = (SetDefaultDllDirectoriesFn)(void (*)(void))
      GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryFn setDirectory =
      (SetDllDirectoryFn)(void (*)(void))GetProcAddress(kernel, "SetDllDirectoryA");
  if (setDirectory) setDirectory("");
}

// ---- launch steps: each returns STUB_OK or the failure to show -------------

// The shell shows the "app starting" cursor until the new process takes its
// first message. The stub never shows a window, so it makes an invisible one
// and takes exactly one message through it. Guard: without a window, or when
// the post fails, GetMessageA would wait for ever, so it is only called when
// the message is known to be queued.
static void EndStartupFeedback(HINSTANCE module) {
  HWND window = CreateWindowExA(0, "EDIT", "", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL, NULL,
                                module, NULL);
  if (!window) return;
  MSG message;
  if (PostMessageA(window, WM_NULL, 0, 0)) GetMessageA(&message, window, WM_NULL, WM_NULL);
  DestroyWindow(window);
}

// GetTempFileNameW creates the empty file with a new unique name, so the
// name cannot be taken by another process before the stub opens it.
// Trap: Wine's GetTempFileNameW returns a name also when it could not create
// the file (a folder the user may not write to); Windows returns 0. The
// file's existence is the answer both systems give alike.
static int MakeTemporaryFile(const wchar_t *folder, wchar_t *path) {
  return GetTempFileNameW(folder, L"ZKR", 0, path) != 0 &&
         GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The Windows directory comes first, where the product has always put the
// file; an ordinary user on current Windows may not create files there, and
// then the user's temporary folder takes its place (in W form: the user's
// name may lie outside the ANSI code page). GetTempFileNameW takes folders
// of at most MAX_PATH - 14 units.
static void NameTemporaryFile(StubLaunch *launch) {
  wchar_t folder[MAX_PATH];
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH && MakeTemporaryFile(folder, launch->tempPath)) return;
  length = GetTempPathW(MAX_PATH, folder);
  if (length > 0 && length < MAX_PATH && MakeTemporaryFile(folder, launch->tempPath)) return;
  launch->tempPath[0] = 0;  // the open below then fails and reports access
}

// The SFX file is opened first and shared for reading only: from here
// until the stub ends (after the extractor has ended) nobody can write,
// rename or replace it, so the extractor, which opens it again by its
// path, reads the file the stub was started from. The handle is never
// closed: the stub's exit does that. Both opens are made before either
// result is looked at, so a failure of either one is the same failure for
// the user; the temporary file is then closed so that it can be deleted.
static StubError OpenFiles(HINSTANCE module, StubLaunch *launch) {
  DWORD length = GetModuleFileNameW(module, launch->sfxPath, SFX_PATH_BUFFER);
  // A path cut at the buffer's end names another file (or none): refuse it
  // rather than unpack from it; so is one whose UTF-8 form passes the
  // trailer's bound (the conversion then fails for want of room).
  int bytes = 0;
  if (length > 0 && length < SFX_PATH_BUFFER)
    bytes = WideCharToMultiByte(CP_UTF8, 0, launch->sfxPath, -1, launch->trailer, sizeof launch->trailer, NULL, NULL);
  if (bytes <= 1) launch->sfxPath[0] = 0;
  launch->pathLength = bytes - 1;
  // From MAX_PATH on, CreateFileW takes a path only in the "\\?\" form
  // (without the system's long-path opt-in). GetModuleFileNameW gives a full,
  // normalised path, so the prefix in front of a drive path is all it takes;
  // a network path that long (it would need "\\?\UNC\") is opened as it is.
  const wchar_t *open = launch->sfxPath;
  if (length >= MAX_PATH && launch->sfxPath[1] == L':') {
    launch->longPrefix[0] = launch->longPrefix[1] = launch->longPrefix[3] = L'\\';
    launch->longPrefix[2] = L'?';
    open = launch->longPrefix;
  }
  launch->source = launch->sfxPath[0] ? FileOpen(open, "rb") : STUB_FILE_INVALID;
  NameTemporaryFile(launch);
  launch->target = launch->tempPath[0] ? FileOpen(launch->tempPath, "wb") : STUB_FILE_INVALID;
  if (launch->source != STUB_FILE_INVALID && launch->target != STUB_FILE_INVALID) return STUB_OK;
  if (launch->target != STUB_FILE_INVALID) FileClose(launch->target);
  return STUB_ACCESS_DENIED;
}

// Trailer: the SFX path without terminator, then its length, low byte first.
static int WriteTrailer(const StubLaunch *launch) {
  uint8_t length[SFX_TRAILER_LENGTH_SIZE];
  length[0] = (uint8_t)(launch->pathLength & 0xFF);
  length[1] = (uint8_t)((launch->pathLength >> 8) & 0xFF);
  return FileWrite(launch->target, launch->trailer, launch->pathLength) == launch->pathLength &&
         FileWrite(launch->target, length, sizeof length) == (int32_t)sizeof length;
}

// Decodes the stage into the temporary file, appends the trailer and
// closes the file. A stage that was refused, ended early or could not be
// stored completely would start a half-written program: WinMain deletes
// the file on every failure.
static StubError WriteExtractor(StubLaunch *launch) {
  StubError result = STUB_OK;
  StageIo io;
  stageSource.file = launch->source;
  io.read = ReadSource;
  io.readContext = &stageSource;
  io.write = WriteTarget;
  io.writeContext = (void *)launch->target;
  StageResult stage;
  // The stage starts at a fixed offset, never found through the stub's own
  // headers; a seek past the end of a short file reads as a truncated stage.
  FileSeek(launch->source, SFX_STUB_SIZE, STUB_SEEK_BEGIN);
  if (!DecodeStage(&io, &stage))
    result = stage.status == STAGE_WRITE_FAILED ? STUB_WRITE_FAILED : STUB_STAGE_DAMAGED;
  else if (!WriteTrailer(launch))
    result = STUB_WRITE_FAILED;
  FileClose(launch->target);
  return result;
}

// ---- public operations ----------------------------------------------------

int RunAndWait(const wchar_t *commandLine, int showState) {
  // CreateProcessW may write into its command line, so it gets a copy.
  wchar_t buffer[MAX_PATH];
  lstrcpynW(buffer, commandLine, MAX_PATH);
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  memset(&process, 0, sizeof process);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
  startup.wShowWindow = (WORD)showState;
  if (!CreateProcessW(commandLine, buffer, NULL, NULL, FALSE,
                      CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, NULL, NULL, &startup, &process))
    return 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  // The process and thread handles are released by the stub's own exit.
  return 1;
}

// Texts are Windows-1252: "\xE4" is a-umlaut. A hex escape runs on through
// every hex digit, hence the split literals after it.
static const char *StartErrorText(StubError code) {
  switch (code) {
    case STUB_NO_MEMORY: return "Zuwenig Speicher.";
    case STUB_ACCESS_DENIED: return "Der Zugriff auf eine Datei wurde vom System verweigert.";
    case STUB_CANNOT_RUN: return "Kann SFX-Stub nicht finden";
    case STUB_STAGE_DAMAGED: return "Die SFX-Datei ist besch\xE4" "digt.";
    case STUB_WRITE_FAILED: return "Kann die tempor\xE4" "re Datei nicht schreiben.";
    case STUB_OK: break;
  }
  return "";
}

void ShowStartError(StubError code) {
  // 152 bytes hold the longest text: 9 + 55 + 33 characters and the terminator.
  char text[152];
  lstrcpynA(text, "Fehler : ", sizeof text);
  int used = lstrlenA(text);
  lstrcpynA(text + used, StartErrorText(code), (int)sizeof text - used);
  used = lstrlenA(text);
  lstrcpynA(text + used, "\r\nSFX kann nicht gestartet werden", (int)sizeof text - used);
  MessageBoxA(NULL, text, NULL, MB_ICONERROR);
}

static StubLaunch launch;
// The prefixed path is read across the two fields: they must touch.
static_assert(offsetof(StubLaunch, sfxPath) == offsetof(StubLaunch, longPrefix) + sizeof launch.longPrefix,
              "longPrefix lies right in front of sfxPath");

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int) {
  StubError result = STUB_OK;
  launch.tempPath[0] = 0;
  EndStartupFeedback(module);
  if (!CreateModels()) result = STUB_NO_MEMORY;
  if (result == STUB_OK) result = OpenFiles(module, &launch);
  if (result == STUB_OK) result = WriteExtractor(&launch);
  ReleaseModels();
  if (result == STUB_OK && !RunAndWait(launch.tempPath, SW_SHOW)) result = STUB_CANNOT_RUN;
  // Once named, the temporary file goes on every way out: after the run,
  // and empty or half-written after a failure.
  if (launch.tempPath[0]) FileDelete(launch.tempPath);
  if (result != STUB_OK) ShowStartError(result);
  return result == STUB_OK ? 1 : 0;
}

// The image's entry point: what a C runtime's start-up would do for WinMain,
// after the DLL search guard, which comes before any call that may load a DLL.
// The stub's own arguments and show state are fetched as usual but not used:
// the extractor always gets its path alone and SW_SHOW.
extern "C" void StubEntry(void) {
  RestrictDllSearch();
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int showState = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), showState));
}
