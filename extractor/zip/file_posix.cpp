// The file, folder and memory layer over POSIX, giving the results of the
// Win32 layer (file_win32.cpp) for the same calls, so that the shared
// extractor code and its tests behave here as they do on Windows.
//
// At the system-call boundary paths change form: "\" becomes "/", and the
// Windows-1252 bytes of a name become UTF-8. Results are mapped back to the
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

#include "extractor/zip/file_io.h"
#include "extractor/zip/file_posix_testing.h"

enum {
  WIN_MAX_PATH = 260,            // ANSI Win32 calls refuse paths this long or longer
  NATIVE_PATH_BUFFER = 4 * 260,  // UTF-8 takes at most 3 bytes per 1252 character
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

// Windows-1252 0x80..0x9F as Unicode. The five codes Windows leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the
// same value, as MultiByteToWideChar does; 0xA0..0xFF equal Latin-1.
static const uint16_t kAnsiHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178}; // 0x98

// Code page 850 0x80..0xFF to Windows-1252. Characters 1252 lacks take a
// stand-in that is valid in a file name: box-drawing horizontals "-",
// verticals the broken bar, corners and junctions "+", shades and blocks
// "_", dotless i "i" ("|" and "?" would be refused by Windows).
static const uint8_t kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,  // 0x80
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x83,  // 0x90
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,  // 0xA0
    0x5F, 0x5F, 0x5F, 0xA6, 0x2B, 0xC1, 0xC2, 0xC0, 0xA9, 0x2B, 0xA6, 0x2B, 0x2B, 0xA2, 0xA5, 0x2B,  // 0xB0
    0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0xE3, 0xC3, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0xA4,  // 0xC0
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0x69, 0xCD, 0xCE, 0xCF, 0x2B, 0x2B, 0x5F, 0x5F, 0xA6, 0xCC, 0x5F,  // 0xD0
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE, 0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4,  // 0xE0
    0xAD, 0xB1, 0x5F, 0xBE, 0xB6, 0xA7, 0xF7, 0xB8, 0xB0, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, 0x5F, 0xA0,  // 0xF0
};

static int64_t writeLimit = -1;  // bytes FileWrite may still store; -1 = no limit

void FileSetWriteLimit(int64_t limit) { writeLimit = limit < 0 ? -1 : limit; }

// native (NATIVE_PATH_BUFFER bytes) <- path with "/" for "\" and UTF-8 for
// Windows-1252. Returns 0 for a path an ANSI Win32 call would refuse as too
// long (MAX_PATH), so both layers fail on the same names.
static int NativePath(const char *path, char *native) {
  uint32_t out = 0;
  for (uint32_t i = 0; path[i]; i++) {
    if (i >= WIN_MAX_PATH - 1) return 0;
    uint8_t c = (uint8_t)path[i];
    uint32_t code = c < 0x80 ? c : c < 0xA0 ? kAnsiHigh[c - 0x80] : c;
    if (code == '\\') {
      native[out++] = '/';
    } else if (code < 0x80) {
      native[out++] = (char)code;
    } else if (code < 0x800) {
      native[out++] = (char)(0xC0 | (code >> 6));
      native[out++] = (char)(0x80 | (code & 0x3F));
    } else {
      native[out++] = (char)(0xE0 | (code >> 12));
      native[out++] = (char)(0x80 | ((code >> 6) & 0x3F));
      native[out++] = (char)(0x80 | (code & 0x3F));
    }
  }
  native[out] = 0;
  return 1;
}

// A regular file without any write permission is what Windows calls read-only.
static int IsReadOnlyFile(const struct stat *info) {
  return S_ISREG(info->st_mode) && (info->st_mode & WRITE_MODE_BITS) == 0;
}

// Read-ahead for files opened for reading. The archive is read in small
// records (a 46-byte central record, its name, a 30-byte local header, an
// entry's few KiB of data), each with a seek before it: without a buffer
// that is seven system calls per entry where the data need one. A handle
// that gets a slot reads through pread into READ_AHEAD bytes and keeps its
// position here instead of in the kernel; FileSeek only computes. Files
// read here are not written while open (the archive, tests' data files).
enum { READ_AHEAD = 65536, READ_AHEAD_SLOTS = 4 };

typedef struct ReadAhead {
  int fd;              // the handle's descriptor; -1: slot free
  int64_t position;    // the handle's file position
  int64_t bufferStart; // file offset of data[0]
  int32_t bufferBytes; // valid bytes in data, 0..READ_AHEAD
  uint8_t data[READ_AHEAD];
} ReadAhead;

static ReadAhead readAhead[READ_AHEAD_SLOTS] = {{-1, 0, 0, 0, {0}}, {-1, 0, 0, 0, {0}}, {-1, 0, 0, 0, {0}},
                                                {-1, 0, 0, 0, {0}}};

static ReadAhead *ReadAheadOf(FileHandle handle) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++)
    if (readAhead[i].fd >= 0 && readAhead[i].fd == (int)handle) return &readAhead[i];
  return 0;
}

// Gives a fresh read handle a slot when one is free (else it reads unbuffered).
static void ReadAheadAttach(int fd) {
  for (int i = 0; i < READ_AHEAD_SLOTS; i++) {
    if (readAhead[i].fd >= 0) continue;
    readAhead[i].fd = fd;
    readAhead[i].position = 0;
    readAhead[i].bufferStart = 0;
    readAhead[i].bufferBytes = 0;
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
      int32_t got = PreadFully(r->fd, to + done, count - done, r->position);
      if (got < 0) return -1;
      done += got;
      r->position += got;
      break;
    }
    int32_t got = PreadFully(r->fd, r->data, READ_AHEAD, r->position);
    if (got < 0) return -1;
    r->bufferStart = r->position;
    r->bufferBytes = got;
    if (got == 0) break;  // end of file
  }
  return done;
}

FileHandle FileOpen(const char *path, const char *mode) {
  char native[NATIVE_PATH_BUFFER];
  if (mode[0] != 'r' && mode[0] != 'w') return FILE_INVALID;
  if (!NativePath(path, native)) return FILE_INVALID;
  if (mode[0] == 'w') {
    // A file that does not exist yet (every temporary name) is simply
    // created: nothing to compare with Windows' rules, and no stat call.
    int fd = open(native, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return (FileHandle)fd;
    if (errno != EEXIST) return FILE_INVALID;
  }
  struct stat info;
  int exists = stat(native, &info) == 0;
  // CreateFileA refuses folders, and refuses to open a read-only file for
  // writing even for an administrator; root would pass both here.
  if (exists && S_ISDIR(info.st_mode)) return FILE_INVALID;
  if (mode[0] == 'w' && exists && IsReadOnlyFile(&info)) return FILE_INVALID;
  int fd = mode[0] == 'r' ? open(native, O_RDONLY | O_CLOEXEC)
                          : open(native, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return FILE_INVALID;
  if (mode[0] == 'r') ReadAheadAttach(fd);
  return (FileHandle)fd;
}

int32_t FileRead(void *buffer, int32_t count, FileHandle handle) {
  if (count < 0) return -1;
  ReadAhead *r = ReadAheadOf(handle);
  if (r) return ReadAheadRead(r, (uint8_t *)buffer, count);
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
  ReadAhead *r = ReadAheadOf(handle);
  if (r) {
    // As lseek would: before the start is refused, past the end allowed.
    int64_t base = 0;
    if (whence == SEEK_CUR) base = r->position;
    if (whence == SEEK_END) {
      struct stat info;
      if (fstat(r->fd, &info) != 0) return -1;
      base = info.st_size;
    }
    int64_t position = base + distance;
    if (position < 0 || position > INT32_MAX) return -1;
    r->position = position;
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
  ReadAhead *r = ReadAheadOf(handle);
  if (r) r->fd = -1;
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

int32_t FileReplace(const char *from, const char *to) {
  char nativeFrom[NATIVE_PATH_BUFFER], nativeTo[NATIVE_PATH_BUFFER];
  if (!NativePath(from, nativeFrom) || !NativePath(to, nativeTo)) return -1;
  struct stat info;
  // MoveFileExA does not replace a read-only file or a folder.
  if (stat(nativeTo, &info) == 0 && (S_ISDIR(info.st_mode) || IsReadOnlyFile(&info))) return -1;
  return rename(nativeFrom, nativeTo) == 0 ? 0 : -1;
}

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
  if (attributes & FILE_ATTR_READONLY) {
    mode &= ~(mode_t)WRITE_MODE_BITS;
  } else if ((mode & WRITE_MODE_BITS) == 0) {
    // Writable again: the owner always, group and others as the umask allows.
    mode_t mask = umask(0);
    umask(mask);
    mode |= S_IWUSR | (WRITE_MODE_BITS & ~mask);
  }
  if (mode == (info.st_mode & 07777)) return 0;  // nothing to change: no chmod call per file
  return chmod(native, mode) == 0 ? 0 : -1;
}

int32_t CreateFolder(const char *path) {
  char native[NATIVE_PATH_BUFFER];
  if (!NativePath(path, native)) return -1;
  return mkdir(native, 0777) == 0 ? 0 : -1;
}

static int IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Format notes: DOS date = year-1980 (bits 9-15), month 1-12 (5-8), day
// 1-31 (0-4); DOS time = hour 0-23 (11-15), minute 0-59 (5-10), seconds/2
// 0-29 (0-4). Fields out of range (month 0 or 13, day 0 or 30 February,
// hour 24, second 60 or 62) are refused as DosDateTimeToFileTime refuses
// them. Returns 1 with local broken-down time in out, or 0.
static int DosToTm(uint16_t dosDate, uint16_t dosTime, struct tm *out) {
  static const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int year = 1980 + (dosDate >> 9), month = (dosDate >> 5) & 0x0F, day = dosDate & 0x1F;
  int hour = dosTime >> 11, minute = (dosTime >> 5) & 0x3F, second = (dosTime & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1) return 0;
  int days = kDaysInMonth[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  if (day > days || hour > 23 || minute > 59 || second > 59) return 0;
  memset(out, 0, sizeof *out);
  out->tm_year = year - 1900;
  out->tm_mon = month - 1;
  out->tm_mday = day;
  out->tm_hour = hour;
  out->tm_min = minute;
  out->tm_sec = second;
  out->tm_isdst = -1;  // let the zone rules decide, as LocalFileTimeToFileTime uses the current ones
  return 1;
}

// mktime for the local zone, read once per run. With TZ unset, glibc's
// mktime looks at /etc/localtime again on every call (two stat calls per
// extracted file); naming that same file in TZ makes it notice that
// nothing changed and skip the look. The zone and its rules are the same.
static time_t LocalToTime(struct tm *local) {
  static int zoneFixed;
  if (!zoneFixed) {
    zoneFixed = 1;
    if (!getenv("TZ")) setenv("TZ", ":/etc/localtime", 0);
    tzset();
  }
  return mktime(local);
}

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

int DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime *out) {
  // 100-ns intervals between 1601-01-01 and 1970-01-01.
  const uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
  struct tm local;
  out->lowDateTime = out->highDateTime = 0;
  if (!DosToTm(dosDate, dosTime, &local)) return 0;
  time_t when = LocalToTime(&local);
  if (when == (time_t)-1) return 0;
  uint64_t ticks = kUnixEpochAsFileTime + (uint64_t)(int64_t)when * 10000000ull;
  out->lowDateTime = (uint32_t)ticks;
  out->highDateTime = (uint32_t)(ticks >> 32);
  return 1;
}

void *MemAlloc(uint32_t size) {
  // GlobalAlloc gives a usable block for size 0 too; malloc(0) may not.
  return malloc(size ? size : 1);
}

void MemFree(void *block) { free(block); }

void OemToAnsiInPlace(char *text) {
  for (uint8_t *p = (uint8_t *)text; *p; p++)
    if (*p >= 0x80) *p = kOemToAnsi[*p - 0x80];
}
