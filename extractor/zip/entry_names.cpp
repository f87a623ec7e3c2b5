// Entry names: conversion to UTF-8, the rules Windows puts on
// names, and the key of the file a name comes out as.
#include "extractor/zip/entry_names.h"

#include <string.h>

#include "extractor/zip/codepage.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/path_ops.h"
#ifdef _WIN32
#include "extractor/zip/wide_text.h"
#endif
#include "extractor/zip/zip_format.h"

// Format notes: bit 11 declares a UTF-8 name. Archives made on Unix (Info-
// ZIP's zip among them) carry the system's own bytes without the flag,
// which today are UTF-8; reading them as OEM would turn every umlaut into
// two wrong characters. Everything else is OEM (code page 850), as DOS and
// Windows tools write it. A name declared UTF-8 that is not is refused
// rather than repaired: a repaired name could land on another entry's file.
int EntryNameConvert(const char *stored, uint32_t length, uint16_t flags, uint16_t versionMadeBy,
                     const char *unicode, char *out) {
  out[0] = 0;
  if (length == 0 || length > ENTRY_NAME_LIMIT) return 0;
  // A zero byte inside the name would hide the rest of it from every check.
  for (uint32_t i = 0; i < length; i++)
    if (stored[i] == 0) return 0;
  uint8_t host = (uint8_t)(versionMadeBy >> 8);
  if (unicode) {
    size_t size = strlen(unicode);
    if (size == 0 || size > ENTRY_NAME_LIMIT || !Utf8IsValid(unicode, (uint32_t)size)) return 0;
    memcpy(out, unicode, size + 1);
  } else if ((flags & ZIP_FLAG_UTF8) || ((host == ZIP_HOST_UNIX || host == ZIP_HOST_MACOS) && Utf8IsValid(stored, length))) {
    if (!Utf8IsValid(stored, length)) return 0;
    memcpy(out, stored, length);
    out[length] = 0;
  } else if (!OemToUtf8(stored, length, out, ENTRY_NAME_LIMIT + 1)) {
    return 0;
  }
  SlashesToBackslashes(out);
  return 1;
}

// 1 when component (length characters) is "..", or a form Windows trims to
// it: the Win32 path parser drops trailing dots and blanks of a component,
// so "..." and ".. " walk upwards there too.
static int IsParentComponent(const char *component, uint32_t length) {
  uint32_t dots = 0;
  for (uint32_t i = 0; i < length; i++) {
    if (component[i] == '.') dots++;
    else if (component[i] != ' ') return 0;
  }
  return dots >= 2;
}

int NameIsDevice(const char *component, uint32_t length) {
  uint32_t base = 0;
  while (base < length && component[base] != '.') base++;
  while (base > 0 && component[base - 1] == ' ') base--;
  // Device names are ASCII but for the superscript digits (two bytes each in UTF-8).
  if (base < 3 || base > 8) return 0;
  uint32_t codePoints[7], count = 0;
  for (const char *at = component; at < component + base;) {
    if (count == 7) return 0;
    codePoints[count++] = NameUpperCase(Utf8Next(&at));
  }
  char upper[8] = {0};
  for (uint32_t i = 0; i < count; i++) {
    if (codePoints[i] >= 0x80 && !(i == 3 && count == 4)) return 0;
    upper[i] = codePoints[i] < 0x80 ? (char)codePoints[i] : '#';
  }
  if (count == 3) return !strcmp(upper, "CON") || !strcmp(upper, "PRN") || !strcmp(upper, "AUX") || !strcmp(upper, "NUL");
  if (count == 4 && (!strncmp(upper, "COM", 3) || !strncmp(upper, "LPT", 3))) {
    uint32_t digit = codePoints[3];
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return !strcmp(upper, "CONIN$") || !strcmp(upper, "CONOUT$");
}

// Names that could leave the target folder are refused rather than
// cleaned: a cleaned name might land on the file of another entry, and an
// archive carrying them is not trustworthy. Characters Windows never
// allows in a name are refused here too, so that every command gives the
// verdict the file system would give only when the file is created.
NameVerdict EntryNameCheck(const char *name) {
  const char *text = name[0] == '\\' ? name + 1 : name;
  if (text[0] == 0) return NAME_EMPTY;
  if (text[0] == '\\') return NAME_ABSOLUTE;
  if (strchr(text, ':')) return NAME_COLON;
  for (const uint8_t *c = (const uint8_t *)text; *c; c++)
    if (*c < 0x20 || strchr("<>\"|?*", *c)) return NAME_CHARACTER;
  for (const char *component = text;;) {
    const char *end = strchr(component, '\\');
    uint32_t length = end ? (uint32_t)(end - component) : (uint32_t)strlen(component);
    if (IsParentComponent(component, length)) return NAME_PARENT;
    if (NameIsDevice(component, length)) return NAME_DEVICE;
    if (!end) break;
    component = end + 1;
  }
  return NAME_OK;
}

// Latin Extended-A, Greek and Cyrillic pair most capitals with the small
// letter next to them; the ranges below say which of the two is even.
uint32_t NameUpperCase(uint32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 0x20 : c;
#ifdef _WIN32
  return WideUpperCase(c);
#else
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0x131) return 'I';  // dotless i; the dotted capital İ stays itself
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~1u;   // capital even
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;  // capital odd
  // Greek: the small letters lie 0x20 above their capitals; final sigma is sigma.
  if (c == 0x3C2) return 0x3A3;
  if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return c - 0x20;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  // Cyrillic: a..ya 0x20 above A..YA, the letters of 0x450..0x45F 0x50 above theirs.
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) return c & ~1u;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c : c - 1;
  if (c == 0x4CF) return 0x4C0;
  // Latin Extended-B and Additional (Vietnamese among them), Armenian, full-width Latin.
  if ((c >= 0x1A0 && c <= 0x1A5) || (c >= 0x1DE && c <= 0x1EF) || (c >= 0x1F8 && c <= 0x21F) ||
      (c >= 0x222 && c <= 0x233) || (c >= 0x246 && c <= 0x24F) || (c >= 0x1E00 && c <= 0x1E95) ||
      (c >= 0x1EA0 && c <= 0x1EFF))
    return c & ~1u;
  if (c == 0x1B0 || (c >= 0x1CD && c <= 0x1DC)) return (c & 1) ? c : c - 1;
  if (c >= 0x561 && c <= 0x586) return c - 0x30;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
  return c;
#endif
}

// FNV-1a over the components' code points in upper case, then mixed.
uint64_t NameKeyAdd(uint64_t state, const char *component, size_t length) {
  while (length > 0 && (component[length - 1] == '.' || component[length - 1] == ' ')) length--;
  if (length == 0) return state;  // ".", an empty component and ". " (trimmed to nothing) add none
  for (const char *at = component; at < component + length;) {
    uint32_t upper = NameUpperCase(Utf8Next(&at));
    for (int shift = 0; shift < 32; shift += 8) {
      state ^= (upper >> shift) & 0xFF;
      state *= 0x100000001B3ull;
    }
  }
  state ^= '\\';
  return state * 0x100000001B3ull;
}

uint64_t NameKeyFinish(uint64_t state) {
  state ^= state >> 33;
  state *= 0xFF51AFD7ED558CCDull;
  state ^= state >> 33;
  return state ? state : 1;
}

uint64_t TargetNameKey(const char *name) {
  uint64_t state = NAME_KEY_SEED;
  for (const char *component = name;;) {
    const char *end = strchr(component, '\\');
    state = NameKeyAdd(state, component, end ? (size_t)(end - component) : strlen(component));
    if (!end) break;
    component = end + 1;
  }
  return NameKeyFinish(state);
}
