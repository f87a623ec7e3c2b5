// Win32 file wrappers of the stub: one system call each.
#include "stub/stub_file.h"

HANDLE FileOpen(const wchar_t *path, const char *mode) {
  DWORD access;
  DWORD disposition;
  if (mode[0] == 'r') {
    access = GENERIC_READ;
    disposition = OPEN_EXISTING;
  } else if (mode[0] == 'w') {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else {
    return STUB_FILE_INVALID;
  }
  return CreateFileW(path, access, FILE_SHARE_READ, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

int32_t FileRead(HANDLE file, void *buffer, int32_t count) {
  DWORD done = 0;
  if (count < 0 || !ReadFile(file, buffer, (DWORD)count, &done, NULL)) return -1;
  return (int32_t)done;
}

int32_t FileWrite(HANDLE file, const void *data, int32_t count) {
  DWORD done = 0;
  if (count < 0 || !WriteFile(file, data, (DWORD)count, &done, NULL)) return -1;
  return (int32_t)done;
}

int32_t FileSeek(HANDLE file, int32_t distance, int method) {
  // STUB_SEEK_* carry the values of FILE_BEGIN, FILE_CURRENT and FILE_END.
  if (method < STUB_SEEK_BEGIN || method > STUB_SEEK_END) return -1;
  DWORD position = SetFilePointer(file, distance, NULL, (DWORD)method);
  return position == INVALID_SET_FILE_POINTER ? -1 : (int32_t)position;
}

int32_t FileClose(HANDLE file) {
  return CloseHandle(file) ? 0 : -1;
}

uint32_t FileDelete(const wchar_t *path) {
  return DeleteFileW(path) ? 0 : GetLastError();
}
