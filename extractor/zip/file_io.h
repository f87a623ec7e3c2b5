// The file, folder and memory layer of the extractor. This is the only code
// that differs between Windows and the native build: file_win32.cpp wraps
// Win32 calls (reads through a read-ahead), file_posix.cpp gives the same results
// over POSIX. Everything above it (reader, driver, decoders) is shared.
//
// Result convention: a count, a position or a handle on success, -1 on
// failure (FileDelete and FileSetTime report the platform's error code
// instead). None of these records an errorCode or shows anything; callers
// decide what a failure means.
//
// Paths are 8-bit Windows-1252 texts with backslashes. The POSIX layer maps
// "\" to "/" and Windows-1252 to UTF-8 at the system-call boundary.
#ifndef OSTREL_ZIP_FILE_IO_H
#define OSTREL_ZIP_FILE_IO_H

#include <stdint.h>

// A platform file handle: a Win32 HANDLE or a POSIX descriptor, widened to
// pointer size. FILE_INVALID is INVALID_HANDLE_VALUE on Windows.
typedef intptr_t FileHandle;
#define FILE_INVALID ((FileHandle)-1)

enum {
  FILE_SEEK_BEGIN = 0,     // FILE_BEGIN
  FILE_SEEK_CURRENT = 1,   // FILE_CURRENT
  FILE_SEEK_END = 2        // FILE_END
};

enum {
  FILE_ATTR_READONLY = 0x01,
  FILE_ATTR_HIDDEN = 0x02,
  FILE_ATTR_SYSTEM = 0x04,
  FILE_ATTR_DIRECTORY = 0x10,
  FILE_ATTR_ARCHIVE = 0x20,
  FILE_ATTR_NONE = 0xFFFFFFFFu   // INVALID_FILE_ATTRIBUTES: the path does not exist
};

// A FILETIME: 100-nanosecond intervals since 1601-01-01 UTC, split as Win32 does.
typedef struct FileTime {
  uint32_t lowDateTime;
  uint32_t highDateTime;
} FileTime;

// Mode "r..." opens an existing file for reading (shared for reading and
// writing); "h..." opens it for reading and holds it: shared for reading
// only, so that while the handle is open nobody can write, rename, delete
// or replace the file (Win32; POSIX has no such lock and opens as "r");
// "w..." creates or empties a file for writing; "n..." creates a
// new file for writing and fails when the path exists already (CREATE_NEW,
// O_EXCL: no other process can hold the same name). Only the first
// character is examined; any other makes no call. Returns FILE_INVALID on failure.
FileHandle FileOpen(const char *path, const char *mode);
// Returns the bytes read (fewer at the end, 0 at the end of the file) or -1.
int32_t FileRead(void *buffer, int32_t count, FileHandle handle);
// Returns the bytes written or -1.
int32_t FileWrite(const void *buffer, int32_t count, FileHandle handle);
// method: FILE_SEEK_*. Returns the new position or -1 (also for another method).
int32_t FileSeek(FileHandle handle, int32_t distance, int method);
// Returns the size in bytes or -1. Files of 2 GiB or more are not supported.
int32_t FileSize(FileHandle handle);
// Returns 0 or -1.
int32_t FileClose(FileHandle handle);
// Returns 0, or the platform's error code (2 for a missing file), never -1.
uint32_t FileDelete(const char *path);
// Moves from over to. An existing file at to is replaced only now: its
// read-only, hidden and system attributes are cleared at this moment (not
// before, so a failed entry leaves the old file as it was), and the new
// file keeps the old one's protection: Win32 ReplaceFileW keeps its
// security descriptor, its other attributes and the named streams the new
// file lacks; POSIX gives from the old mode (write permission back when it
// had none) and, when running as root, the old owner, before the rename.
// Returns 0 or -1 (the old file is then unchanged, attributes included).
// Used to put a completely extracted file in place of the one it replaces.
int32_t FileReplace(const char *from, const char *to);
// Named streams ("path:stream" on NTFS; POSIX has none and fails both).
// FileReadStream returns the bytes read into buffer (at most size), -1
// when path has no such stream; FileWriteStream creates or empties the
// stream and returns 0, or -1 when it could not write all size bytes.
int32_t FileReadStream(const char *path, const char *stream, void *buffer, int32_t size);
int32_t FileWriteStream(const char *path, const char *stream, const void *data, int32_t size);
// Returns the attribute bits, or FILE_ATTR_NONE when the path does not exist.
uint32_t FileGetAttributes(const char *path);
// Returns 0 or -1.
int32_t FileSetAttributes(const char *path, uint32_t attributes);
// Returns 0 or -1 (also when the folder exists already).
int32_t CreateFolder(const char *path);
// Stamps the last-write time with a DOS date and time read as local time
// (Win32: with today's offset from UTC; POSIX: with the offset in force on
// that date, as unzip does: the two differ by an hour across summer time).
// Returns 0; -1 when the platform refuses the time; the platform's error
// code when the DOS date or time itself is rejected (nothing is set).
int32_t FileSetTime(FileHandle handle, uint16_t dosDate, uint16_t dosTime);
// DOS date and time (local time, offset as in FileSetTime) to a UTC FileTime.
// Returns 1, or 0 when the date or time is not valid (out is then zero).
int DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime *out);

// A value that differs between processes running at the same time and,
// almost surely, between runs: the process id mixed with a clock. Seeds
// names that another run cannot be using.
uint32_t ProcessStamp(void);

// Heap blocks of fixed size. MemAlloc returns null on failure.
void *MemAlloc(uint32_t size);
void MemFree(void *block);

#endif
