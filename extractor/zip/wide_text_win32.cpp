#include "extractor/zip/wide_text.h"

#include <windows.h>

#include "extractor/zip/long_path.h"
#include "extractor/zip/path_ops.h"

// The long form and the UTF-16 form of up to two paths at once: 64 KiB each
// for UTF-16, so static, never on the stack (the extractor has no stack
// probes, and a frame of that size would step over the guard page). The
// long form is a core path: up to 3 bytes for each UTF-16 unit.
static char longForm[LONG_PATH_BUFFER];
static wchar_t widePaths[WIDE_PATH_SLOTS][WIDE_PATH_BUFFER];
static wchar_t shortPath[WIDE_PATH_BUFFER];

static int WideFrom(UINT codePage, const char *text, wchar_t *out, int capacity) {
  // Without MB_ERR_INVALID_CHARS: every Windows-1252 byte has a UTF-16
  // form; after the switch to UTF-8 the reader has refused invalid names.
  int units = MultiByteToWideChar(codePage, 0, text, -1, out, capacity);
  if (units <= 0) {
    if (capacity > 0) out[0] = 0;
    return 0;
  }
  return units - 1;
}

int WideFromCore(const char *text, wchar_t *out, int capacity) {
  return WideFrom(CORE_CODE_PAGE, text, out, capacity);
}

int WideFromCorePath(const char *path, wchar_t *out, int capacity) {
  int units = WideFromCore(path, out, capacity);
  DWORD longUnits = units ? GetLongPathNameW(out, shortPath, WIDE_PATH_BUFFER) : 0;
  if (longUnits == 0 || longUnits >= (DWORD)capacity) return units;
  lstrcpynW(out, shortPath, capacity);
  return (int)longUnits;
}

int WideFromWindows1252(const char *text, wchar_t *out, int capacity) {
  return WideFrom(1252, text, out, capacity);
}

// A component holds at most 255 UTF-16 units, so the name's whole UTF-16
// form fits here before it is cut to capacity.
void WideNameOfPath(const char *path, wchar_t *out, int capacity) {
  static wchar_t wide[WIDE_PATH_BUFFER];
  WideFromCore(PathName(path), wide, WIDE_PATH_BUFFER);
  lstrcpynW(out, wide, capacity);
}

wchar_t *WidePathName(wchar_t *path) {
  wchar_t *name = path;
  for (wchar_t *c = path; *c; c++)
    if (*c == L'\\') name = c + 1;
  return name;
}

int CoreFromWide(const wchar_t *text, char *out, int capacity) {
  // UTF-8 has a form for every character, so the call fails only for want
  // of room; it takes neither the best-fit flag nor the used-default
  // question (both would make it fail).
  if (WideCharToMultiByte(CORE_CODE_PAGE, 0, text, -1, out, capacity, NULL, NULL) > 0) return 1;
  if (capacity > 0) out[0] = 0;
  return 0;
}

int CoreFromWidePath(const wchar_t *path, char *out, int capacity) {
  if (CoreFromWide(path, out, capacity)) return 1;
  DWORD units = GetShortPathNameW(path, shortPath, WIDE_PATH_BUFFER);
  return units > 0 && units < WIDE_PATH_BUFFER && CoreFromWide(shortPath, out, capacity);
}

uint32_t WideUpperCase(uint32_t codePoint) {
  if (codePoint > 0xFFFF) return codePoint;
  wchar_t unit = (wchar_t)codePoint, upper = unit;
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &unit, 1, &upper, 1) != 1) return codePoint;
  return upper;
}

const wchar_t *WidePath(const char *path, int slot) {
  if (!LongPathForm(path, longForm, sizeof longForm)) return NULL;
  if (!WideFromCore(longForm, widePaths[slot], WIDE_PATH_BUFFER) && longForm[0]) return NULL;
  return widePaths[slot];
}
