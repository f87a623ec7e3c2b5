// The bootstrap stub: the executable image at the head of the SFX file. It
// unpacks the extractor from the packed stage into a temporary file, appends
// the launch trailer (the SFX file's path and its length), runs the file as a
// new process, waits for it to end and deletes it.
//
// Before WinMain, the entry point limits the DLL search to System32 (see
// RestrictDllSearch in stub_main.cpp).
//
// Launch sequence (WinMain):
//   1. Take one message through a hidden window (ends the start-up cursor).
//   2. CreateModels.
//   3. Open the SFX file for reading, shared for reading only, and hold it
//      until the stub ends, so that it cannot be swapped under the extractor.
//   4. Name the temporary file: "ZKR" in the Windows directory, or in the
//      user's temporary folder where the Windows directory refuses new
//      files; open it for writing.
//   5. Decode the stage found at SFX_STUB_SIZE, append the trailer (the
//      SFX path in UTF-8, so that a folder outside the ANSI code page
//      reaches the extractor as it is), close the temporary file;
//      ReleaseModels.
//   6. RunAndWait on the temporary file; delete it, also after any failure
//      once it had a name.
// Exit code: 1 after a completed run, whatever the extractor's own code;
// 0 after a failure, which is shown in one German error box.
#ifndef OSTREL_STUB_LAUNCH_H
#define OSTREL_STUB_LAUNCH_H

#include <windows.h>

#include "packed/sfx_layout.h"

// The stub's failures. The first three are the codes the product has always
// shown; the last two guard against running a half-written extractor.
typedef enum StubError {
  STUB_OK = 0,
  STUB_CANNOT_RUN = 2,       // CreateProcessW refused the unpacked extractor
  STUB_ACCESS_DENIED = 5,    // the SFX file or the temporary file cannot be opened
  STUB_NO_MEMORY = 8,        // CreateModels failed
  STUB_STAGE_DAMAGED = 13,   // the stage was refused or ended before its declared length
  STUB_WRITE_FAILED = 29     // the temporary file took fewer bytes than given
} StubError;

// State of one launch: module-level, in .bss (96 KiB of paths would be far
// too much for a stack without probes). The paths are UTF-16, so the SFX
// file is found in any folder, of any length the system takes.
typedef struct StubLaunch {
  wchar_t longPrefix[4];             // "\\?\" right in front of sfxPath, for a path of MAX_PATH or more
  wchar_t sfxPath[SFX_PATH_BUFFER];  // this module's file, as GetModuleFileNameW reports it
  wchar_t tempPath[MAX_PATH];        // the temporary file, "" until it has a name
  char trailer[SFX_PATH_MAX + 1];    // sfxPath in UTF-8, as the trailer carries it
  HANDLE source;                     // the SFX file, read from SFX_STUB_SIZE on; held until the exit
  HANDLE target;                     // the temporary file being written
  int32_t pathLength;                // bytes of trailer without terminator, 1 … SFX_PATH_MAX; 0 on failure
} StubLaunch;

// Runs commandLine (a program path, no arguments) with the stub's environment
// and current folder and waits, without a time limit, until it has ended.
// The path is also passed as the program's name, so a path with blanks can
// never be read as a shorter program path followed by arguments.
// Returns 1 when the process was created and has ended; 0 when it could not be created.
int RunAndWait(const wchar_t *commandLine, int showState);

// Shows "Fehler : <text of code>\r\nSFX kann nicht gestartet werden" in a
// message box with the system's default caption and the error icon.
void ShowStartError(StubError code);

#endif
