// Entry names: conversion to Windows-1252, the rules Windows puts on
// names, and the key of the file a name comes out as.
#include "extractor/zip/entry_names.h"

#include <string.h>

#include "extractor/zip/codepage.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/zip_format.h"

int Utf8IsValid(const char *text, uint32_t length) {
  const uint8_t *in = (const uint8_t *)text, *end = in + length;
  while (in < end) {
    uint32_t lead = *in++;
    int follow = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
               : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
    if (follow < 0 || lead == 0 || end - in < follow) return 0;
    uint32_t codePoint = lead & (0x7F >> follow);
    for (int k = 0; k < follow; k++, in++) {
      if ((*in & 0xC0) != 0x80) return 0;
      codePoint = (codePoint << 6) | (*in & 0x3F);
    }
    if ((follow == 2 && (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF))) ||
        (follow == 3 && (codePoint < 0x10000 || codePoint > 0x10FFFF)))
      return 0;
  }
  return 1;
}

// Format notes: bit 11 declares a UTF-8 name. Archives made on Unix (Info-
// ZIP's zip among them) carry the system's own bytes without the flag,
// which today are UTF-8; reading them as OEM would turn every umlaut into
// two wrong characters. Everything else is OEM (code page 850), as DOS and
// Windows tools write it.
int EntryNameConvert(const char *stored, uint32_t length, uint16_t flags, uint16_t versionMadeBy,
                     const char *unicode, char *out, uint32_t *replaced) {
  uint32_t lost = 0;
  out[0] = 0;
  if (replaced) *replaced = 0;
  if (length == 0 || length > ENTRY_NAME_LIMIT) return 0;
  memcpy(out, stored, length);
  out[length] = 0;
  // A zero byte inside the name would hide the rest of it from every check.
  if (strlen(out) != length) return (out[0] = 0), 0;
  if (unicode) {
    // The field's UTF-8 may be longer than the limit and still fit once converted.
    char work[4 * ENTRY_NAME_LIMIT + 1];
    size_t size = strlen(unicode);
    if (size == 0 || size >= sizeof work) return (out[0] = 0), 0;
    memcpy(work, unicode, size + 1);
    lost = Utf8ToAnsiInPlace(work);
    if (strlen(work) > ENTRY_NAME_LIMIT) return (out[0] = 0), 0;
    strcpy(out, work);
  } else {
    uint8_t host = (uint8_t)(versionMadeBy >> 8);
    if ((flags & ZIP_FLAG_UTF8) || ((host == ZIP_HOST_UNIX || host == ZIP_HOST_MACOS) && Utf8IsValid(out, length)))
      lost = Utf8ToAnsiInPlace(out);
    else
      OemToAnsiInPlace(out);
  }
  SlashesToBackslashes(out);
  if (replaced) *replaced = lost;
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
  char upper[8] = {0};
  if (base < 3 || base > 7) return 0;
  for (uint32_t i = 0; i < base; i++) upper[i] = (char)NameUpperCase((uint8_t)component[i]);
  if (base == 3) return !strcmp(upper, "CON") || !strcmp(upper, "PRN") || !strcmp(upper, "AUX") || !strcmp(upper, "NUL");
  if (base == 4 && (!strncmp(upper, "COM", 3) || !strncmp(upper, "LPT", 3))) {
    uint8_t digit = (uint8_t)upper[3];
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

// Windows-1252: a-z, the accented letters 0xE0..0xFE (not 0xF7, the
// division sign), and the four letters whose capitals lie in 0x80..0x9F.
uint8_t NameUpperCase(uint8_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return (uint8_t)(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // s with caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z with caron
    case 0xFF: return 0x9F;  // y with diaeresis
    default: return c;
  }
}

// FNV-1a over the components in upper case, then mixed.
uint64_t TargetNameKey(const char *name) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char *component = name;;) {
    const char *end = strchr(component, '\\');
    size_t length = end ? (size_t)(end - component) : strlen(component);
    while (length > 0 && (component[length - 1] == '.' || component[length - 1] == ' ')) length--;
    // ".", an empty component and ". " (trimmed to nothing) add none.
    if (length > 0) {
      for (size_t i = 0; i < length; i++) {
        hash ^= NameUpperCase((uint8_t)component[i]);
        hash *= 0x100000001B3ull;
      }
      hash ^= '\\';
      hash *= 0x100000001B3ull;
    }
    if (!end) break;
    component = end + 1;
  }
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDull;
  hash ^= hash >> 33;
  return hash ? hash : 1;
}
