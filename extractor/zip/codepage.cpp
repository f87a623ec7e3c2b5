// Windows-1252 <-> UTF-8, code page 850 -> UTF-8. 1252 equals Latin-1 except in 0x80..0x9F, where
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

// bytes <- the UTF-8 form of a code point below U+10000 (what both code
// pages map to). Returns its length, 1 to 3.
static uint32_t Utf8Encode(uint32_t codePoint, uint8_t bytes[3]) {
  if (codePoint < 0x80) {
    bytes[0] = (uint8_t)codePoint;
    return 1;
  }
  if (codePoint < 0x800) {
    bytes[0] = (uint8_t)(0xC0 | (codePoint >> 6));
    bytes[1] = (uint8_t)(0x80 | (codePoint & 0x3F));
    return 2;
  }
  bytes[0] = (uint8_t)(0xE0 | (codePoint >> 12));
  bytes[1] = (uint8_t)(0x80 | ((codePoint >> 6) & 0x3F));
  bytes[2] = (uint8_t)(0x80 | (codePoint & 0x3F));
  return 3;
}

uint32_t Utf8Sequence(const char *text, uint32_t available, uint32_t *codePoint) {
  const uint8_t *in = (const uint8_t *)text;
  if (available == 0) return 0;
  uint32_t lead = in[0];
  uint32_t follow = lead >= 0x01 && lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1
                  : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : 4;
  if (follow == 4 || follow >= available) return 0;  // zero, stray continuation, invalid lead, cut short
  uint32_t value = lead & (0x7F >> follow);
  for (uint32_t k = 1; k <= follow; k++) {
    if ((in[k] & 0xC0) != 0x80) return 0;  // also stops at a terminator
    value = (value << 6) | (in[k] & 0x3F);
  }
  // Overlong forms and surrogates are no characters; nor is anything past U+10FFFF.
  if ((follow == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
      (follow == 3 && (value < 0x10000 || value > 0x10FFFF)))
    return 0;
  *codePoint = value;
  return follow + 1;
}

uint32_t Utf8InvalidAt(const char *text, uint32_t length) {
  uint32_t at = 0, codePoint;
  for (uint32_t step; at < length; at += step)
    if ((step = Utf8Sequence(text + at, length - at, &codePoint)) == 0) return at;
  return length;
}

int Utf8IsValid(const char *text, uint32_t length) { return Utf8InvalidAt(text, length) == length; }

void Utf8ToAnsiInPlace(char *text) {
  uint8_t *out = (uint8_t *)text;
  uint32_t left = 0;
  while (text[left]) left++;
  for (const char *in = text; *in;) {
    uint32_t codePoint;
    uint32_t length = Utf8Sequence(in, left, &codePoint);
    *out++ = (uint8_t)(length ? AnsiFromCodePoint(codePoint) : CODEPAGE_REPLACEMENT);
    if (!length) length = 1;  // an invalid byte: replaced on its own
    in += length;
    left -= length;
  }
  *out = 0;
}

int AnsiToUtf8(const char *text, char *destination, uint32_t size) {
  if (size == 0) return 0;
  uint32_t used = 0;
  for (const uint8_t *in = (const uint8_t *)text; *in; in++) {
    uint32_t codePoint = *in;
    if (codePoint >= 0x80 && codePoint < 0xA0) codePoint = kHighControls[codePoint - 0x80];
    uint8_t bytes[3];
    uint32_t count = Utf8Encode(codePoint, bytes);
    if (used + count >= size) {
      destination[used] = 0;
      return 0;
    }
    for (uint32_t i = 0; i < count; i++) destination[used++] = (char)bytes[i];
  }
  destination[used] = 0;
  return 1;
}

// Code page 850 0x80..0xFF as Unicode (0x00..0x7F equal ASCII).
static const uint16_t kOemHigh[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // 0xC8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // 0xE8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0}; // 0xF8

uint32_t OemToUtf8(const char *text, uint32_t length, char *destination, uint32_t size) {
  uint32_t used = 0;
  for (uint32_t i = 0; i < length; i++) {
    uint8_t c = (uint8_t)text[i];
    uint8_t bytes[3];
    uint32_t count = Utf8Encode(c < 0x80 ? c : kOemHigh[c - 0x80], bytes);
    if ((uint64_t)used + count >= size) {
      if (size) destination[0] = 0;
      return 0;
    }
    for (uint32_t k = 0; k < count; k++) destination[used++] = (char)bytes[k];
  }
  destination[used] = 0;
  return used;
}

uint32_t Utf16Length(const char *text) {
  uint32_t units = 0;
  for (const uint8_t *c = (const uint8_t *)text; *c; c++) {
    if ((*c & 0xC0) == 0x80) continue;  // continuation byte: counted with its lead
    units += *c >= 0xF0 ? 2 : 1;        // four bytes: a surrogate pair
  }
  return units;
}

uint32_t Utf8Next(const char **text) {
  uint32_t codePoint;
  uint32_t length = Utf8Sequence(*text, 4, &codePoint);  // stops at the terminator
  if (!length) {
    codePoint = (uint8_t)**text;
    length = 1;
  }
  *text += length;
  return codePoint;
}
