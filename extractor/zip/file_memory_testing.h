// The in-memory file layer (file_memory.cpp): the functions of file_io.h
// over files and folders held in memory, for the whole-archive fuzz target.
// Not part of the product. A program links either this layer or the POSIX
// one, never both; the write limit and ceiling of file_posix_testing.h
// apply here too.
//
// What it models is Windows, the platform the extractor ships for, where it
// differs from POSIX in a way that decides where bytes land:
//   - "\" and "/" both separate; runs of them count as one; "." and ".."
//     are resolved as the Win32 path parser does, and so is a final
//     component's trailing dots and blanks ("a. ." is "a");
//   - names are UTF-8 and compare without regard to case (NameUpperCase:
//     Latin, Greek, Cyrillic);
//   - paths of 32,767 UTF-16 units or more fail (the W calls' limit);
//   - the characters < > : " | ? * and controls fail a call, except the
//     drive's colon;
//   - a component that names a device (CON, NUL, COM1, LPT¹, ...) makes the
//     call fail and is counted: on Windows the bytes would go to the device;
//   - an open file cannot be deleted or replaced (no FILE_SHARE_DELETE);
//     a hidden or system file cannot be recreated by "w", a read-only one
//     neither, "n" creates only what does not exist, and a new file has
//     the archive attribute.
// Every path is absolute: "X:\..." or "\..." (drive C:); others fail.
#ifndef OSTREL_ZIP_FILE_MEMORY_TESTING_H
#define OSTREL_ZIP_FILE_MEMORY_TESTING_H

#include <stddef.h>
#include <stdint.h>

// Removes every file and folder and forgets every handle; then only the
// roots "C:\" (and every other drive root) exist. Also resets the counters.
void MemoryFilesReset(void);
// Creates path (a new or emptied file, archive attribute) holding the size
// bytes at data; its folder must exist. Returns 1, or 0 when it cannot.
int MemoryFilesPut(const char *path, const uint8_t *data, size_t size);
// Handles opened and not closed yet.
uint32_t MemoryFilesOpenHandles(void);
// Calls that named a device (see above) since the last reset.
uint32_t MemoryFilesDeviceCalls(void);

// One stored file or folder as MemoryFilesWalk reports it.
typedef struct MemoryFileInfo {
  const char *path;     // the name as first created, with "\" separators
  int isFolder;         // 1 for a folder
  uint32_t attributes;  // FILE_ATTR_* bits as FileGetAttributes reports them
  uint32_t size;        // bytes; 0 for a folder
} MemoryFileInfo;
// Calls visit once for every file and folder except the drive roots, in
// the order of their folded names (a folder before what it holds).
void MemoryFilesWalk(void (*visit)(const MemoryFileInfo *info, void *context), void *context);

#endif
