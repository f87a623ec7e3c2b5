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

void OemToAnsiInPlace(char *text) {
  for (uint8_t *p = (uint8_t *)text; *p; p++)
    if (*p >= 0x80) *p = kOemToAnsi[*p - 0x80];
}

uint32_t ProcessStamp(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint32_t)getpid() * 2654435761u ^ (uint32_t)now.tv_nsec ^ (uint32_t)now.tv_sec;
}
