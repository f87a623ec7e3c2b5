// The parts of the native file layer that touch no file: heap blocks, the
// OEM code page and DOS times read as local time. Shared by the POSIX file
// layer (file_posix.cpp) and the in-memory one (file_memory.cpp), so both
// give the same answers where no file is involved.
#include "extractor/zip/host_posix.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "extractor/zip/file_io.h"

static int IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Format notes: DOS date = year-1980 (bits 9-15), month 1-12 (5-8), day
// 1-31 (0-4); DOS time = hour 0-23 (11-15), minute 0-59 (5-10), seconds/2
// 0-29 (0-4). Fields out of range (month 0 or 13, day 0 or 30 February,
// hour 24, second 60 or 62) are refused as DosDateTimeToFileTime refuses
// them. Returns 1 with local broken-down time in out, or 0.
int DosToTm(uint16_t dosDate, uint16_t dosTime, struct tm *out) {
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
  out->tm_isdst = -1;  // mktime applies the offset in force on that date (see FileSetTime)
  return 1;
}

// mktime for the local zone, read once per run. With TZ unset, glibc's
// mktime looks at /etc/localtime again on every call (two stat calls per
// extracted file); naming that same file in TZ makes it notice that
// nothing changed and skip the look. The zone and its rules are the same.
time_t LocalToTime(struct tm *local) {
  static int zoneFixed;
  if (!zoneFixed) {
    zoneFixed = 1;
    if (!getenv("TZ")) setenv("TZ", ":/etc/localtime", 0);
    tzset();
  }
  return mktime(local);
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

uint32_t ProcessStamp(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint32_t)getpid() * 2654435761u ^ (uint32_t)now.tv_nsec ^ (uint32_t)now.tv_sec;
}
