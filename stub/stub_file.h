// The stub's file and memory layer: each operation is a thin layer over one
// Win32 call, with the result convention of the extractor's file layer (a
// count, a position or a handle on success, -1 on failure; FileDelete gives
// the system's error code instead).
//
// The stub links no C runtime, so these are also the only file functions it
// has. Handles are Win32 HANDLEs; STUB_FILE_INVALID is INVALID_HANDLE_VALUE.
#ifndef OSTREL_STUB_FILE_H
#define OSTREL_STUB_FILE_H

#include <windows.h>
#include <stdint.h>

#define STUB_FILE_INVALID INVALID_HANDLE_VALUE

enum {
  STUB_SEEK_BEGIN = 0,    // FILE_BEGIN
  STUB_SEEK_CURRENT = 1,  // FILE_CURRENT
  STUB_SEEK_END = 2       // FILE_END
};

// Mode "r..." opens an existing file for reading, shared for reading only:
// while the handle is open nobody can write, rename, delete or replace the
// file; "w..." creates the file or empties an existing one, for writing,
// shared the same way. Only the first character of the mode is examined; any
// other character makes no call.
// Returns the handle; STUB_FILE_INVALID when the open failed or the mode is unknown.
HANDLE FileOpen(const wchar_t *path, const char *mode);
// Reads up to count bytes with one ReadFile call.
// Returns the bytes read (0 at the end of the file); -1 when ReadFile failed.
int32_t FileRead(HANDLE file, void *buffer, int32_t count);
// Writes count bytes with one WriteFile call.
// Returns the bytes written (fewer when the disk is full); -1 when WriteFile failed.
int32_t FileWrite(HANDLE file, const void *data, int32_t count);
// method: STUB_SEEK_*. Files of 2 GiB or more are not supported.
// Returns the new position; -1 when the seek failed or the method is unknown.
int32_t FileSeek(HANDLE file, int32_t distance, int method);
// Returns 0 when the handle was closed; -1 otherwise.
int32_t FileClose(HANDLE file);
// Returns 0 when the file was deleted; the system's error code otherwise.
uint32_t FileDelete(const wchar_t *path);

#endif
