// Windows-1252 <-> UTF-8. 1252 equals Latin-1 except in 0x80..0x9F, where
// 27 printable characters sit; the five codes Windows leaves undefined
// there (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same
// value, as MultiByteToWideChar does, so that the two directions round-trip.
#include "extractor/zip/codepage.h"

static const uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178}; // 0x98

static int AnsiFromCodePoint(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return (int)codePoint;
  for (int i = 0; i < 32; i++)
    if (kHighControls[i] == codePoint) return 0x80 + i;
  return CODEPAGE_REPLACEMENT;
}

uint32_t Utf8ToAnsiInPlace(char *text) {
  const uint8_t *in = (const uint8_t *)text;
  uint8_t *out = (uint8_t *)text;
  uint32_t replaced = 0;
  while (*in) {
    uint32_t lead = *in;
    uint32_t codePoint;
    int follow;
    if (lead < 0x80) {
      *out++ = (uint8_t)lead;
      in++;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      codePoint = lead & 0x1F, follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      codePoint = lead & 0x0F, follow = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      codePoint = lead & 0x07, follow = 3;
    } else {
      *out++ = CODEPAGE_REPLACEMENT;  // stray continuation byte or invalid lead
      replaced++;
      in++;
      continue;
    }
    int i = 1;
    for (; i <= follow; i++) {
      if ((in[i] & 0xC0) != 0x80) break;  // also stops at the terminator
      codePoint = (codePoint << 6) | (in[i] & 0x3F);
    }
    if (i <= follow) {
      *out++ = CODEPAGE_REPLACEMENT;  // sequence cut short: drop the lead only
      replaced++;
      in++;
      continue;
    }
    // Overlong forms and surrogates are not characters; they get no 1252 form either.
    int overlong = (follow == 2 && codePoint < 0x800) || (follow == 3 && codePoint < 0x10000);
    int bad = overlong || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF;
    uint8_t ansi = (uint8_t)(bad ? CODEPAGE_REPLACEMENT : AnsiFromCodePoint(codePoint));
    if (ansi == CODEPAGE_REPLACEMENT) replaced++;  // a multi-byte sequence: never '_' itself
    *out++ = ansi;
    in += follow + 1;
  }
  *out = 0;
  return replaced;
}

int AnsiToUtf8(const char *text, char *destination, uint32_t size) {
  if (size == 0) return 0;
  uint32_t used = 0;
  for (const uint8_t *in = (const uint8_t *)text; *in; in++) {
    uint32_t codePoint = *in;
    if (codePoint >= 0x80 && codePoint < 0xA0) codePoint = kHighControls[codePoint - 0x80];
    uint8_t bytes[3];
    uint32_t count;
    if (codePoint < 0x80) {
      bytes[0] = (uint8_t)codePoint, count = 1;
    } else if (codePoint < 0x800) {
      bytes[0] = (uint8_t)(0xC0 | (codePoint >> 6));
      bytes[1] = (uint8_t)(0x80 | (codePoint & 0x3F));
      count = 2;
    } else {
      bytes[0] = (uint8_t)(0xE0 | (codePoint >> 12));
      bytes[1] = (uint8_t)(0x80 | ((codePoint >> 6) & 0x3F));
      bytes[2] = (uint8_t)(0x80 | (codePoint & 0x3F));
      count = 3;
    }
    if (used + count >= size) {
      destination[used] = 0;
      return 0;
    }
    for (uint32_t i = 0; i < count; i++) destination[used++] = (char)bytes[i];
  }
  destination[used] = 0;
  return 1;
}
