// The file and folder layer over POSIX, giving the results of the Win32
// layer (file_win32.cpp) for the same calls, so that the shared extractor
// code and its tests behave here as they do on Windows. Heap blocks, the
// OEM code page and local time are in host_posix.cpp, which the in-memory
// layer (file_memory.cpp) shares.
//
// At the system-call boundary paths change form: "\" becomes "/"; names
// are UTF-8 in the core and on POSIX alike and pass unchanged. Results are mapped back to the
// Win32 conventions: -1 for failures, Win32 error codes from FileDelete and
// FileSetTime, attribute bits from the mode.
//
// Attributes: only read-only (no write permission bit) and the directory
// bit have a POSIX form. Hidden, system and archive cannot be stored on a
// POSIX file system; FileSetAttributes ignores them, and FileGetAttributes
// reports archive for every regular file (as Windows does for a file just
// written) and never hidden or system.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "extractor/zip/codepage.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/file_posix_testing.h"
#include "extractor/zip/host_posix.h"
#include "extractor/zip/read_ahead.h"

enum {
  WIN_MAX_PATH = 32767,               // UTF-16 units: the W calls refuse paths this long or longer
  NATIVE_PATH_BUFFER = 3 * 32767 + 1, // UTF-8 takes at most 3 bytes per UTF-16 unit
  // Win32 error codes that FileDelete and FileSetTime report.
  WIN_ERROR_FILE_NOT_FOUND = 2,
  WIN_ERROR_PATH_NOT_FOUND = 3,
  WIN_ERROR_ACCESS_DENIED = 5,
  WIN_ERROR_WRITE_PROTECT = 19,
  WIN_ERROR_GEN_FAILURE = 31,
  WIN_ERROR_SHARING_VIOLATION = 32,
  WIN_ERROR_INVALID_PARAMETER = 87,
  WIN_ERROR_FILENAME_EXCED_RANGE = 206
};

static const int32_t WRITE_MODE_BITS = S_IWUSR | S_IWGRP | S_IWOTH;

static int64_t writeLimit = -1;  // bytes FileWrite may still store; -1 = no limit

static int64_t writeCeiling = -1;  // bytes FileWrite may still be asked for; -1 = no ceiling

void FileSetWriteLimit(int64_t limit) { writeLimit = limit < 0 ? -1 : limit; }

void FileSetWriteCeiling(int64_t ceiling) { writeCeiling = ceiling < 0 ? -1 : ceiling; }

// native (NATIVE_PATH_BUFFER bytes) <- path with "/" for "\"; the UTF-8
// bytes stay as they are. Returns 0 for a path the Win32 W calls would
// refuse as too long (32,767 UTF-16 units), so both layers fail on the
// same names.
static int NativePath(const char *path, char *native) {
  if (strlen(path) >= NATIVE_PATH_BUFFER || Utf16Length(path) >= WIN_MAX_PATH) return 0;
  uint32_t out = 0;
  for (const char *c = path; *c; c++) native[out++] = *c == '\\' ? '/' : *c;
  native[out] = 0;
  return 1;
}

// A regular file without any write permission is what Windows calls read-only.
static int IsReadOnlyFile(const struct stat *info) {
  return S_ISREG(info->st_mode) && (info->st_mode & WRITE_MODE_BITS) == 0;
}

// Read handles get a read-ahead slot (read_ahead.h) while one is free; a
// slot reads through pread, so the descriptor's own offset is never used.
typedef struct ReadSlot {
  int fd;            // the handle's descriptor; -1: slot free
  ReadAhead buffer;  // its position and buffered bytes
} ReadSlot;

static ReadSlot readSlots[READ_AHEAD_SLOTS] = {{-1, {0, 0, 0, {0}}}, {-1, {0, 0, 0, {0}}}, {-1, {0, 0, 0, {0}}},
                                               {-1, {0, 0, 0, {0}}}};

static ReadSlot *ReadSlotOf(FileHandle handle) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++)
    if (readSlots[i].fd >= 0 && readSlots[i].fd == (int)handle) return &readSlots[i];
  return 0;
}

// Gives a fresh read handle a slot when one is free (else it reads unbuffered).
static void ReadSlotAttach(int fd) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++) {
    if (readSlots[i].fd >= 0) continue;
    readSlots[i].fd = fd;
    ReadAheadReset(&readSlots[i].buffer);
    return;
  }
}

// pread until count bytes or the end of the file. Returns the count read, or -1.
static int32_t PreadFully(int fd, uint8_t *to, int32_t count, int64_t at) {
  int32_t done = 0;
  while (done < count) {
    ssize_t got = pread(fd, to + done, (size_t)(count - done), (off_t)(at + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += (int32_t)got;
  }
  return done;
}

static int32_t ReadSlotFetch(void *slot, uint8_t *to, int32_t count, int64_t at) {
  return PreadFully(((ReadSlot *)slot)->fd, to, count, at);
}

FileHandle FileOpen(const char *path, const char *mode) {
  char native[NATIVE_PATH_BUFFER];
  if (mode[0] == 'h') mode = "r";  // no share modes here: a hold is an ordinary read
  if (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'n') return FILE_INVALID;
  if (!NativePath(path, native)) return FILE_INVALID;
  if (mode[0] == 'w' || mode[0] == 'n') {
    // A file that does not exist yet (every temporary name) is simply
    // created: nothing to compare with Windows' rules, and no stat call.
    // For "n" an existing name of any kind is a refusal anyway.
    int fd = open(native, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return (FileHandle)fd;
    if (errno != EEXIST || mode[0] == 'n') return FILE_INVALID;
  }
  struct stat info;
  int exists = stat(native, &info) == 0;
  // CreateFileA refuses folders, and refuses to open a read-only file for
  // writing even for an administrator; root would pass both here.
  if (exists && S_ISDIR(info.st_mode)) return FILE_INVALID;
  if (mode[0] == 'w' && exists && IsReadOnlyFile(&info)) return FILE_INVALID;
  int fd = mode[0] == 'r'   ? open(native, O_RDONLY | O_CLOEXEC)
           : mode[0] == 'w' ? open(native, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                            : open(native, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);  // also refuses any link
  if (fd < 0) return FILE_INVALID;
  if (mode[0] == 'r') ReadSlotAttach(fd);
  return (FileHandle)fd;
}

int32_t FileRead(void *buffer, int32_t count, FileHandle handle) {
  if (count < 0) return -1;
  ReadSlot *slot = ReadSlotOf(handle);
  if (slot) return ReadAheadRead(&slot->buffer, (uint8_t *)buffer, count, ReadSlotFetch, slot);
  // ReadFile on a disk file returns everything asked for unless the file
  // ends; read() may return less, so gather until then.
  int32_t done = 0;
  while (done < count) {
    ssize_t got = read((int)handle, (uint8_t *)buffer + done, (size_t)(count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += (int32_t)got;
  }
  return done;
}

int32_t FileWrite(const void *buffer, int32_t count, FileHandle handle) {
  if (count < 0) return -1;
  if (writeCeiling >= 0) {
    writeCeiling -= count;
    if (writeCeiling < 0) {
      fprintf(stderr, "FileWrite: past the test write ceiling: a decoder runs away\n");
      abort();
    }
  }
  int32_t allowed = count;
  if (writeLimit >= 0 && writeLimit < allowed) allowed = (int32_t)writeLimit;
  int32_t done = 0;
  while (done < allowed) {
    ssize_t put = write((int)handle, (const uint8_t *)buffer + done, (size_t)(allowed - done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      if (done == 0) return -1;
      break;  // a later part failed (disk full): report what was stored
    }
    if (put == 0) break;
    done += (int32_t)put;
  }
  if (writeLimit >= 0) writeLimit -= done;
  return done;
}

int32_t FileSeek(FileHandle handle, int32_t distance, int method) {
  int whence;
  switch (method) {
    case FILE_SEEK_BEGIN: whence = SEEK_SET; break;
    case FILE_SEEK_CURRENT: whence = SEEK_CUR; break;
    case FILE_SEEK_END: whence = SEEK_END; break;
    default: return -1;
  }
  ReadSlot *slot = ReadSlotOf(handle);
  if (slot) {
    // As lseek would: before the start is refused, past the end allowed.
    int64_t base = 0;
    if (whence == SEEK_CUR) base = slot->buffer.position;
    if (whence == SEEK_END) {
      struct stat info;
      if (fstat(slot->fd, &info) != 0) return -1;
      base = info.st_size;
    }
    int64_t position = base + distance;
    if (position < 0 || position > INT32_MAX) return -1;
    slot->buffer.position = position;
    return (int32_t)position;
  }
  off_t position = lseek((int)handle, (off_t)distance, whence);
  if (position < 0 || position > INT32_MAX) return -1;  // 2 GiB and more: not supported
  return (int32_t)position;
}

int32_t FileSize(FileHandle handle) {
  struct stat info;
  if (fstat((int)handle, &info) != 0 || info.st_size > INT32_MAX) return -1;
  return (int32_t)info.st_size;
}

int32_t FileClose(FileHandle handle) {
  if (handle < 0 || handle > INT32_MAX) return -1;
  ReadSlot *slot = ReadSlotOf(handle);
  if (slot) slot->fd = -1;
  return close((int)handle) == 0 ? 0 : -1;
}

// errno -> the Win32 code DeleteFileA would leave in GetLastError.
static uint32_t Win32ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return WIN_ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return WIN_ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EISDIR: return WIN_ERROR_ACCESS_DENIED;
    case EROFS: return WIN_ERROR_WRITE_PROTECT;
    case EBUSY: case ETXTBSY: return WIN_ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG: return WIN_ERROR_FILENAME_EXCED_RANGE;
    default: return WIN_ERROR_GEN_FAILURE;
  }
}

// Windows tells a missing file (2) from a missing folder on its way (3);
// POSIX says ENOENT for both, so look at the folder part.
static uint32_t MissingPathError(const char *native) {
  char folder[NATIVE_PATH_BUFFER];
  strcpy(folder, native);
  char *slash = strrchr(folder, '/');
  if (!slash || slash == folder) return WIN_ERROR_FILE_NOT_FOUND;
  *slash = 0;
  struct stat info;
  return stat(folder, &info) == 0 && S_ISDIR(info.st_mode) ? WIN_ERROR_FILE_NOT_FOUND : WIN_ERROR_PATH_NOT_FOUND;
}

uint32_t FileDelete(const char *path) {
  char native[NATIVE_PATH_BUFFER];
  if (!NativePath(path, native)) return WIN_ERROR_FILENAME_EXCED_RANGE;
  struct stat info;
  if (lstat(native, &info) != 0) return errno == ENOENT ? MissingPathError(native) : Win32ErrorFromErrno(errno);
  // DeleteFileA refuses folders and read-only files with "access denied";
  // unlink would remove a read-only file.
  if (S_ISDIR(info.st_mode) || IsReadOnlyFile(&info)) return WIN_ERROR_ACCESS_DENIED;
  return unlink(native) == 0 ? 0 : Win32ErrorFromErrno(errno);
}

// A mode with write permission given back, as clearing read-only does:
// the owner always, group and others as the umask allows.
static mode_t WritableMode(mode_t mode) {
  if ((mode & WRITE_MODE_BITS) != 0) return mode;
  mode_t mask = umask(0);
  umask(mask);
  return mode | S_IWUSR | (WRITE_MODE_BITS & ~mask);
}

// The rename alone would leave the new inode with the mode the temporary
// file was created with (0666 less the umask) and the extracting user as
// owner: a 0600 file would come out readable by everyone. So the new file
// takes the old one's mode (read-only cleared, as ReplaceFileW needs on
// Windows) and, for root, its owner first; chown comes before chmod
// because it may clear set-id bits. Failures of either leave the new
// file's own mode, as on a file system that stores none.
int32_t FileReplace(const char *from, const char *to) {
  char nativeFrom[NATIVE_PATH_BUFFER], nativeTo[NATIVE_PATH_BUFFER];
  if (!NativePath(from, nativeFrom) || !NativePath(to, nativeTo)) return -1;
  struct stat info;
  if (stat(nativeTo, &info) == 0) {
    if (S_ISDIR(info.st_mode)) return -1;
    // A refused chown leaves the extracting user as owner: the old set-id
    // bits must not come with it.
    if (geteuid() == 0 && chown(nativeFrom, info.st_uid, info.st_gid) != 0)
      info.st_mode &= ~(mode_t)(S_ISUID | S_ISGID);
    chmod(nativeFrom, WritableMode(info.st_mode & 07777));
  }
  return rename(nativeFrom, nativeTo) == 0 ? 0 : -1;
}

int32_t FileReadStream(const char *, const char *, void *, int32_t) { return -1; }

int32_t FileWriteStream(const char *, const char *, const void *, int32_t) { return -1; }

uint32_t FileGetAttributes(const char *path) {
  char native[NATIVE_PATH_BUFFER];
  struct stat info;
  if (!NativePath(path, native) || stat(native, &info) != 0) return FILE_ATTR_NONE;
  if (S_ISDIR(info.st_mode)) return FILE_ATTR_DIRECTORY;
  return IsReadOnlyFile(&info) ? (uint32_t)(FILE_ATTR_ARCHIVE | FILE_ATTR_READONLY) : (uint32_t)FILE_ATTR_ARCHIVE;
}

int32_t FileSetAttributes(const char *path, uint32_t attributes) {
  char native[NATIVE_PATH_BUFFER];
  struct stat info;
  if (!NativePath(path, native) || stat(native, &info) != 0) return -1;
  if (S_ISDIR(info.st_mode)) return 0;  // Windows' read-only bit on a folder changes nothing either
  mode_t mode = info.st_mode & 07777;
  if (attributes & FILE_ATTR_READONLY) mode &= ~(mode_t)WRITE_MODE_BITS;
  else mode = WritableMode(mode);
  if (mode == (info.st_mode & 07777)) return 0;  // nothing to change: no chmod call per file
  return chmod(native, mode) == 0 ? 0 : -1;
}

int32_t CreateFolder(const char *path) {
  char native[NATIVE_PATH_BUFFER];
  if (!NativePath(path, native)) return -1;
  return mkdir(native, 0777) == 0 ? 0 : -1;
}

// The local time is turned into UTC with the offset in force on the
// entry's own date (summer time for a date in summer), as unzip does.
// Windows' LocalFileTimeToFileTime applies today's offset instead, so in
// zones with summer time the two differ by an hour for dates in the other
// season; the POSIX layer keeps unzip's answer, which is the same on every
// day the archive is unpacked. DosDateTimeToUtc converts the same way.
int32_t FileSetTime(FileHandle handle, uint16_t dosDate, uint16_t dosTime) {
  struct tm local;
  if (!DosToTm(dosDate, dosTime, &local)) return WIN_ERROR_INVALID_PARAMETER;
  time_t when = LocalToTime(&local);
  if (when == (time_t)-1) return -1;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // last access stays as it is
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  return futimens((int)handle, times) == 0 ? 0 : -1;
}
