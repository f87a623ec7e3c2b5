// Mark of the Web (see zone_mark.h).
#include "extractor/zip/zone_mark.h"

#include <string.h>

#include "extractor/zip/file_io.h"

ZoneMark zoneMark;

const char kZoneStream[] = "Zone.Identifier";

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c + 0x20) : c; }

// 1 when the length characters at text equal word (lower case) in any case.
static int SameWord(const char *text, int32_t length, const char *word) {
  if ((size_t)length != strlen(word)) return 0;
  for (int32_t i = 0; i < length; i++)
    if (Lower(text[i]) != word[i]) return 0;
  return 1;
}

// [*start, *end) <- the line at text[at] without its line end and outer
// blanks. Returns the index of the next line.
static int32_t NextLine(const char *text, int32_t length, int32_t at, int32_t *start, int32_t *end) {
  int32_t stop = at;
  while (stop < length && text[stop] != '\n') stop++;
  *start = at;
  *end = stop;
  while (*start < *end && (text[*start] == ' ' || text[*start] == '\t')) (*start)++;
  while (*end > *start && (text[*end - 1] == '\r' || text[*end - 1] == ' ' || text[*end - 1] == '\t')) (*end)--;
  return stop + 1;
}

int ZoneMarkParse(const char *text, int32_t length) {
  int inSection = 0;
  for (int32_t at = 0; at < length;) {
    int32_t start, end;
    at = NextLine(text, length, at, &start, &end);
    if (start < end && text[start] == '[') {
      inSection = SameWord(text + start, end - start, "[zonetransfer]");
      continue;
    }
    int32_t equals = start;
    while (equals < end && text[equals] != '=') equals++;
    if (!inSection || equals == end) continue;
    int32_t keyEnd = equals;
    while (keyEnd > start && (text[keyEnd - 1] == ' ' || text[keyEnd - 1] == '\t')) keyEnd--;
    if (!SameWord(text + start, keyEnd - start, "zoneid")) continue;
    int32_t digit = equals + 1;
    while (digit < end && text[digit] == ' ') digit++;
    int zone = 0, digits = 0;
    for (; digit < end && text[digit] >= '0' && text[digit] <= '9' && digits < 4; digit++, digits++)
      zone = zone * 10 + (text[digit] - '0');
    return digits > 0 && digit == end ? zone : -1;
  }
  return -1;
}

void ZoneMarkLoad(const char *path) {
  zoneMark.length = 0;
  int32_t got = FileReadStream(path, kZoneStream, zoneMark.text, ZONE_MARK_MAX);
  if (got <= 0) return;
  int zone = ZoneMarkParse(zoneMark.text, got);
  if (zone != ZONE_INTERNET && zone != ZONE_UNTRUSTED) return;
  if (got < ZONE_MARK_MAX) {
    zoneMark.length = got;
    return;
  }
  // A stream that fills the buffer may go on beyond it: copying it cut
  // would write half a URL, so only the zone is carried over.
  static const char kZoneOnly[] = "[ZoneTransfer]\r\nZoneId=%\r\n";
  memcpy(zoneMark.text, kZoneOnly, sizeof kZoneOnly);
  *strchr(zoneMark.text, '%') = (char)('0' + zone);
  zoneMark.length = (int32_t)strlen(zoneMark.text);
}

void ZoneMarkApply(const char *path) {
  if (zoneMark.length > 0) FileWriteStream(path, kZoneStream, zoneMark.text, zoneMark.length);
}
