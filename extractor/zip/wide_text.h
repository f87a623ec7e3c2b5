// The one seam between the core's 8-bit texts (entry names and paths) and
// the UTF-16 of the Windows W functions. Win32 only: the file layer, the
// dialogs and the start-up convert here and nowhere else.
//
// The core's encoding is named once, CORE_CODE_PAGE: UTF-8 (fixed, not the
// ANSI code page of the machine, so that a name reads the same on every
// system and every character has a form).
//
// Conversions refuse rather than guess: a text that is not valid in the
// encoding it is read from fails instead of being mapped to a look-alike
// ("best fit" would turn a full-width solidus into a separator).
#ifndef OSTREL_ZIP_WIDE_TEXT_H
#define OSTREL_ZIP_WIDE_TEXT_H

#include <stdint.h>

#define CORE_CODE_PAGE 65001  // CP_UTF8: the core's path and name encoding

enum {
  WIDE_PATH_MAX = 32767,     // UTF-16 units of the longest path Windows takes ("\\?\" form)
  WIDE_PATH_BUFFER = 32768,  // WIDE_PATH_MAX plus terminator
  WIDE_PATH_SLOTS = 2        // WidePath results alive at once (FileReplace needs two)
};

// out (capacity units) <- text in the core encoding, as UTF-16.
// Returns the units written without the terminator; 0 when text is empty
// or does not fit (out is then empty).
int WideFromCore(const char *text, wchar_t *out, int capacity);
// WideFromCore for a path to show: where the path exists, its long form
// (GetLongPathNameW), so that a short form the core holds for a path
// outside its encoding appears as the real name. Returns as WideFromCore.
int WideFromCorePath(const char *path, wchar_t *out, int capacity);
// WideFromCore for the texts that stay Windows-1252 whatever the core's
// encoding: the German texts of the program and the settings texts.
int WideFromWindows1252(const char *text, wchar_t *out, int capacity);
// out (capacity units) <- the name and extension of a core path (what
// follows its last "\"), in UTF-16, cut to fit; what the dialogs show.
void WideNameOfPath(const char *path, wchar_t *out, int capacity);
// What follows the last "\" of a UTF-16 path (all of it when it has none).
wchar_t *WidePathName(wchar_t *path);
// out (capacity bytes) <- text in the core encoding, which has a form for
// every character. Returns 1; 0 when the text does not fit (out is then
// empty).
int CoreFromWide(const wchar_t *text, char *out, int capacity);
// CoreFromWide for the path of an existing file or folder: when the path
// is too long for out, its short (8.3) form is tried, which names the same
// file. Returns 1; 0 when neither
// form fits (out is then empty).
int CoreFromWidePath(const wchar_t *path, char *out, int capacity);

// The upper case of a code point as the system compares file names: the
// invariant locale's simple mapping for a UTF-16 unit (LCMapStringW);
// a code point beyond U+FFFF, which NTFS folds to nothing, stays itself.
uint32_t WideUpperCase(uint32_t codePoint);

// The UTF-16 form of a core path for a W file call: LongPathForm (see
// long_path.h), then WideFromCore, into static buffer slot (0 or 1) that
// the next call for the same slot overwrites. Returns the text; null when
// the path has no long form or no UTF-16 form that fits.
const wchar_t *WidePath(const char *path, int slot);

#endif
