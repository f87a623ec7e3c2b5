// The file, folder and memory layer over Win32: one platform call per
// operation (FileSetTime needs its three), results mapped to the layer's
// convention, except for reading, which goes through a read-ahead
// (read_ahead.h). The only file of the extraction core that includes
// windows.h. Handles are pointer-sized, so the same code serves i686 and
// x86_64. Paths go to the W functions through WidePath (wide_text.h):
// converted from the core's encoding, in the "\\?\" form from 248
// characters on. A path with no such form fails as Windows fails a path it
// cannot take.
#include <windows.h>

#include <string.h>

#include "extractor/zip/file_io.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/read_ahead.h"
#include "extractor/zip/wide_text.h"

static HANDLE AsHandle(FileHandle handle) { return (HANDLE)handle; }

// Read handles get a read-ahead slot (read_ahead.h) while one is free.
// The system's file pointer is moved only when a fill does not continue
// where the last one ended, so a walk through the archive costs one
// ReadFile per 64 KiB and a SetFilePointer per jump out of the buffer.
// The slots are zero-initialised statics (a free slot has a null handle,
// which CreateFileW never returns), so they cost the image no file bytes.
typedef struct ReadSlot {
  HANDLE handle;           // null: slot free
  int64_t systemPosition;  // where the system's file pointer stands; -1: not known
  ReadAhead buffer;        // the position callers see and the buffered bytes
} ReadSlot;

static ReadSlot readSlots[READ_AHEAD_SLOTS];

static ReadSlot *ReadSlotOf(FileHandle handle) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++)
    if (readSlots[i].handle && readSlots[i].handle == AsHandle(handle)) return &readSlots[i];
  return NULL;
}

// Gives a fresh read handle a slot when one is free (else it reads unbuffered).
static void ReadSlotAttach(HANDLE handle) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++) {
    if (readSlots[i].handle) continue;
    readSlots[i].handle = handle;
    readSlots[i].systemPosition = 0;
    ReadAheadReset(&readSlots[i].buffer);
    return;
  }
}

static int32_t ReadSlotFetch(void *context, uint8_t *to, int32_t count, int64_t at) {
  ReadSlot *slot = (ReadSlot *)context;
  if (slot->systemPosition != at) {
    // at is at most 0x7FFFFFFF (FileSeek's limit), so the low part alone holds it.
    if (SetFilePointer(slot->handle, (LONG)at, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
      slot->systemPosition = -1;
      return -1;
    }
    slot->systemPosition = at;
  }
  DWORD got = 0;
  if (!ReadFile(slot->handle, to, (DWORD)count, &got, NULL)) {
    slot->systemPosition = -1;
    return -1;
  }
  slot->systemPosition += got;
  return (int32_t)got;
}

FileHandle FileOpen(const char *path, const char *mode) {
  HANDLE handle;
  const wchar_t *wide = WidePath(path, 0);
  if (!wide) return FILE_INVALID;
  if (mode[0] == 'r' || mode[0] == 'h') {
    DWORD share = mode[0] == 'h' ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    handle = CreateFileW(wide, GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  } else if (mode[0] == 'w' || mode[0] == 'n') {
    handle = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         mode[0] == 'w' ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  } else {
    return FILE_INVALID;
  }
  if (handle == INVALID_HANDLE_VALUE) return FILE_INVALID;
  if (mode[0] == 'r') ReadSlotAttach(handle);
  return (FileHandle)handle;
}

int32_t FileRead(void *buffer, int32_t count, FileHandle handle) {
  if (count < 0) return -1;
  ReadSlot *slot = ReadSlotOf(handle);
  if (slot) return ReadAheadRead(&slot->buffer, (uint8_t *)buffer, count, ReadSlotFetch, slot);
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle), buffer, (DWORD)count, &got, NULL)) return -1;
  return (int32_t)got;
}

int32_t FileWrite(const void *buffer, int32_t count, FileHandle handle) {
  DWORD put = 0;
  if (count < 0 || !WriteFile(AsHandle(handle), buffer, (DWORD)count, &put, NULL)) return -1;
  return (int32_t)put;
}

int32_t FileSeek(FileHandle handle, int32_t distance, int method) {
  // FILE_SEEK_* have the values of FILE_BEGIN, FILE_CURRENT, FILE_END.
  if (method < FILE_SEEK_BEGIN || method > FILE_SEEK_END) return -1;
  ReadSlot *slot = ReadSlotOf(handle);
  if (slot) {
    // As SetFilePointer would: before the start is refused, past the end allowed.
    int64_t base = method == FILE_SEEK_CURRENT ? slot->buffer.position : 0;
    if (method == FILE_SEEK_END) {
      DWORD size = GetFileSize(slot->handle, NULL);
      if (size == INVALID_FILE_SIZE) return -1;
      base = size;
    }
    int64_t position = base + distance;
    if (position < 0 || position > 0x7FFFFFFF) return -1;
    slot->buffer.position = position;
    return (int32_t)position;
  }
  DWORD position = SetFilePointer(AsHandle(handle), distance, NULL, (DWORD)method);
  // Without the high part, INVALID_SET_FILE_POINTER is always a failure; a
  // position of 2 GiB or more cannot be told as a signed result.
  if (position == INVALID_SET_FILE_POINTER || position > 0x7FFFFFFFu) return -1;
  return (int32_t)position;
}

int32_t FileSize(FileHandle handle) {
  DWORD size = GetFileSize(AsHandle(handle), NULL);
  if (size == INVALID_FILE_SIZE || size > 0x7FFFFFFFu) return -1;
  return (int32_t)size;
}

int32_t FileClose(FileHandle handle) {
  ReadSlot *slot = ReadSlotOf(handle);
  if (slot) slot->handle = NULL;
  return CloseHandle(AsHandle(handle)) ? 0 : -1;
}

uint32_t FileDelete(const char *path) {
  const wchar_t *wide = WidePath(path, 0);
  if (!wide) return ERROR_FILENAME_EXCED_RANGE;
  if (DeleteFileW(wide)) return 0;
  DWORD error = GetLastError();
  return error != 0 ? (uint32_t)error : (uint32_t)ERROR_GEN_FAILURE;  // never report a failure as 0
}

// MoveFileExW would give the new file the folder's inherited permissions
// and drop the old file's attributes; ReplaceFileW keeps them. ReplaceFileW
// refuses a read-only file, so the guarding attributes go just before and
// come back when the replacement failed.
int32_t FileReplace(const char *from, const char *to) {
  const wchar_t *wideFrom = WidePath(from, 0), *wideTo = WidePath(to, 1);
  if (!wideFrom || !wideTo) return -1;
  DWORD old = GetFileAttributesW(wideTo);
  if (old == INVALID_FILE_ATTRIBUTES) return MoveFileExW(wideFrom, wideTo, 0) ? 0 : -1;
  if (old & FILE_ATTRIBUTE_DIRECTORY) return -1;
  DWORD guards = old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  DWORD cleared = old & ~guards;
  if (guards && !SetFileAttributesW(wideTo, cleared ? cleared : FILE_ATTRIBUTE_NORMAL)) return -1;
  if (ReplaceFileW(wideTo, wideFrom, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL)) return 0;
  if (guards) SetFileAttributesW(wideTo, old);
  return -1;
}

// "path:stream" in the core's encoding: a core path's size (bytes, not
// UTF-16 units), so that any path within the system's limit takes a stream.
static char streamPath[LONG_PATH_BUFFER];

static int StreamPath(const char *path, const char *stream) {
  size_t length = strlen(path), streamLength = strlen(stream);
  if (length + 1 + streamLength >= sizeof streamPath) return 0;
  memcpy(streamPath, path, length);
  streamPath[length] = ':';
  memcpy(streamPath + length + 1, stream, streamLength + 1);
  return 1;
}

int32_t FileReadStream(const char *path, const char *stream, void *buffer, int32_t size) {
  const wchar_t *named = size >= 0 && StreamPath(path, stream) ? WidePath(streamPath, 0) : NULL;
  if (!named) return -1;
  HANDLE handle = CreateFileW(named, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  BOOL read = ReadFile(handle, buffer, (DWORD)size, &got, NULL);
  CloseHandle(handle);
  return read ? (int32_t)got : -1;
}

int32_t FileWriteStream(const char *path, const char *stream, const void *data, int32_t size) {
  const wchar_t *named = size >= 0 && StreamPath(path, stream) ? WidePath(streamPath, 0) : NULL;
  if (!named) return -1;
  HANDLE handle = CreateFileW(named, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  DWORD put = 0;
  BOOL written = WriteFile(handle, data, (DWORD)size, &put, NULL);
  return CloseHandle(handle) && written && put == (DWORD)size ? 0 : -1;
}

uint32_t FileGetAttributes(const char *path) {
  const wchar_t *wide = WidePath(path, 0);
  return wide ? (uint32_t)GetFileAttributesW(wide) : FILE_ATTR_NONE;
}

int32_t FileSetAttributes(const char *path, uint32_t attributes) {
  const wchar_t *wide = WidePath(path, 0);
  return wide && SetFileAttributesW(wide, (DWORD)attributes) ? 0 : -1;
}

int32_t CreateFolder(const char *path) {
  const wchar_t *wide = WidePath(path, 0);
  return wide && CreateDirectoryW(wide, NULL) ? 0 : -1;
}

int32_t FileSetTime(FileHandle handle, uint16_t dosDate, uint16_t dosTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) {
    DWORD error = GetLastError();
    return error != 0 ? (int32_t)error : (int32_t)ERROR_INVALID_PARAMETER;  // 0 would read as success
  }
  if (!LocalFileTimeToFileTime(&local, &utc)) return -1;
  return SetFileTime(AsHandle(handle), NULL, NULL, &utc) ? 0 : -1;
}

int DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime *out) {
  FILETIME local, utc;
  out->lowDateTime = out->highDateTime = 0;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local) || !LocalFileTimeToFileTime(&local, &utc)) return 0;
  out->lowDateTime = utc.dwLowDateTime;
  out->highDateTime = utc.dwHighDateTime;
  return 1;
}

uint32_t ProcessStamp(void) {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return (uint32_t)GetCurrentProcessId() * 2654435761u ^ counter.LowPart ^ (uint32_t)counter.HighPart;
}

void *MemAlloc(uint32_t size) { return (void *)GlobalAlloc(GMEM_FIXED, size); }

void MemFree(void *block) {
  if (block) GlobalFree((HGLOBAL)block);
}

