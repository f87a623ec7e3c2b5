// The file, folder and memory layer over Win32: one platform call per
// operation (FileSetTime needs its three), results mapped to the layer's
// convention, except for reading, which goes through a read-ahead. The only
// file of the extraction core that includes windows.h. Handles are
// pointer-sized, so the same code serves i686 and x86_64.
#include <string.h>
#include <windows.h>

#include "extractor/zip/file_io.h"

static HANDLE AsHandle(FileHandle handle) { return (HANDLE)handle; }

// Read-ahead for files opened for reading, as in the POSIX layer. The
// archive is read in small records (a 46-byte central record, its name, a
// 30-byte local header, an entry's few hundred bytes of data), each after
// a seek: unbuffered, that is a SetFilePointer and a ReadFile per record,
// each a trip into the system. A handle with a slot reads READ_AHEAD bytes
// at a time and keeps its position here; FileSeek only computes, and the
// system's file pointer is moved only when a read does not continue where
// the last one ended. No C runtime: memcpy is the extractor's own
// (shell/crt_lite.cpp), and the slots are zero-initialised statics (a free
// slot has a null handle, which CreateFileA never returns), so they cost
// the image no file bytes.
// Files read here are not written while open (the SFX file itself).
enum { READ_AHEAD = 65536, READ_AHEAD_SLOTS = 4 };

typedef struct ReadAhead {
  HANDLE handle;           // null: slot free
  int64_t position;        // the handle's file position as the layer's callers see it
  int64_t systemPosition;  // where the system's file pointer stands; -1: not known
  int64_t bufferStart;     // file offset of data[0]
  int32_t bufferBytes;     // valid bytes in data, 0..READ_AHEAD
  uint8_t data[READ_AHEAD];
} ReadAhead;

static ReadAhead readAhead[READ_AHEAD_SLOTS];

static ReadAhead *ReadAheadOf(FileHandle handle) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++)
    if (readAhead[i].handle && readAhead[i].handle == AsHandle(handle)) return &readAhead[i];
  return NULL;
}

// Gives a fresh read handle a slot when one is free (else it reads unbuffered).
static void ReadAheadAttach(HANDLE handle) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++) {
    if (readAhead[i].handle) continue;
    readAhead[i].handle = handle;
    readAhead[i].position = 0;
    readAhead[i].systemPosition = 0;
    readAhead[i].bufferStart = 0;
    readAhead[i].bufferBytes = 0;
    return;
  }
}

// Reads up to count bytes at r->position into to (r->position itself is
// not moved). A disk file gives all of them unless it ends first. Returns
// the count read, or -1.
static int32_t ReadAheadFetch(ReadAhead *r, uint8_t *to, int32_t count) {
  if (r->systemPosition != r->position) {
    // position is at most 0x7FFFFFFF (FileSeek's limit), so it fits the low part alone.
    if (SetFilePointer(r->handle, (LONG)r->position, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
      r->systemPosition = -1;
      return -1;
    }
    r->systemPosition = r->position;
  }
  DWORD got = 0;
  if (!ReadFile(r->handle, to, (DWORD)count, &got, NULL)) {
    r->systemPosition = -1;
    return -1;
  }
  r->systemPosition += got;
  return (int32_t)got;
}

static int32_t ReadAheadRead(ReadAhead *r, uint8_t *to, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    int64_t offset = r->position - r->bufferStart;
    if (offset >= 0 && offset < r->bufferBytes) {
      int32_t n = r->bufferBytes - (int32_t)offset;
      if (n > count - done) n = count - done;
      memcpy(to + done, r->data + offset, (size_t)n);
      done += n;
      r->position += n;
      continue;
    }
    if (count - done >= READ_AHEAD) {
      // A large read goes straight to the caller's buffer.
      int32_t got = ReadAheadFetch(r, to + done, count - done);
      if (got < 0) return -1;
      done += got;
      r->position += got;
      break;
    }
    int32_t got = ReadAheadFetch(r, r->data, READ_AHEAD);
    if (got < 0) return -1;
    r->bufferStart = r->position;
    r->bufferBytes = got;
    if (got == 0) break;  // end of file
  }
  return done;
}

FileHandle FileOpen(const char *path, const char *mode) {
  HANDLE handle;
  if (mode[0] == 'r') {
    handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  } else if (mode[0] == 'w' || mode[0] == 'n') {
    handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         mode[0] == 'w' ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  } else {
    return FILE_INVALID;
  }
  if (handle == INVALID_HANDLE_VALUE) return FILE_INVALID;
  if (mode[0] == 'r') ReadAheadAttach(handle);
  return (FileHandle)handle;
}

int32_t FileRead(void *buffer, int32_t count, FileHandle handle) {
  if (count < 0) return -1;
  ReadAhead *r = ReadAheadOf(handle);
  if (r) return ReadAheadRead(r, (uint8_t *)buffer, count);
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
  ReadAhead *r = ReadAheadOf(handle);
  if (r) {
    // As SetFilePointer would: before the start is refused, past the end allowed.
    int64_t base = method == FILE_SEEK_CURRENT ? r->position : 0;
    if (method == FILE_SEEK_END) {
      DWORD size = GetFileSize(r->handle, NULL);
      if (size == INVALID_FILE_SIZE) return -1;
      base = size;
    }
    int64_t position = base + distance;
    if (position < 0 || position > 0x7FFFFFFF) return -1;
    r->position = position;
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
  ReadAhead *r = ReadAheadOf(handle);
  if (r) r->handle = NULL;
  return CloseHandle(AsHandle(handle)) ? 0 : -1;
}

uint32_t FileDelete(const char *path) {
  if (DeleteFileA(path)) return 0;
  DWORD error = GetLastError();
  return error != 0 ? (uint32_t)error : (uint32_t)ERROR_GEN_FAILURE;  // never report a failure as 0
}

int32_t FileReplace(const char *from, const char *to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

uint32_t FileGetAttributes(const char *path) { return (uint32_t)GetFileAttributesA(path); }

int32_t FileSetAttributes(const char *path, uint32_t attributes) {
  return SetFileAttributesA(path, (DWORD)attributes) ? 0 : -1;
}

int32_t CreateFolder(const char *path) { return CreateDirectoryA(path, NULL) ? 0 : -1; }

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

void OemToAnsiInPlace(char *text) { OemToCharA(text, text); }
