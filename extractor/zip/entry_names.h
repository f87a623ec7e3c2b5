// Entry names: the one place where a ZIP entry's stored name becomes the
// name the extractor writes, and where the rules on such names live. The
// reader, the driver, the native tool's `build`, `list` and `test`, and the
// in-memory file layer of the tests all call these functions; nothing
// else converts an entry name or decides whether Windows accepts it.
//
// A name goes through two steps:
//   1. EntryNameConvert: stored bytes (or the Info-ZIP Unicode path field)
//      -> UTF-8 with backslashes
//   2. EntryNameCheck: the converted name -> NAME_OK or the rule it breaks
// and TargetNameKey gives the key under which two converted names are one
// file on Windows.
#ifndef OSTREL_ZIP_ENTRY_NAMES_H
#define OSTREL_ZIP_ENTRY_NAMES_H

#include <stddef.h>
#include <stdint.h>

#include "extractor/zip/codepage.h"
#include "extractor/zip/path_ops.h"

enum {
  ENTRY_NAME_LIMIT = LONG_PATH_BUFFER - 1  // longest converted name in bytes, without the
                                           // terminator: any name within the path limit
};

// What EntryNameCheck finds wrong with a converted name.
typedef enum NameVerdict {
  NAME_OK = 0,
  NAME_EMPTY,         // nothing (or only one separator)
  NAME_ABSOLUTE,      // a second leading separator: "\\server\share"
  NAME_COLON,         // a drive ("C:") or a stream ("file:stream")
  NAME_PARENT,        // a ".." component, or "..." / ". ." that Windows trims to ".."
  NAME_DEVICE,        // a component that opens a Windows device (CON, nul.txt, COM1)
  NAME_CHARACTER      // a control character or one of < > " | ? *, never valid in a Windows name
} NameVerdict;

// out (ENTRY_NAME_LIMIT + 1 bytes) <- the UTF-8 name the extractor writes
// for a stored name of length bytes: the bytes as they are when flags has
// bit 11, or when host (versionMadeBy >> 8) is Unix or macOS and they are
// valid UTF-8; otherwise OEM (code page 850) converted to UTF-8. unicode,
// when not null, is the name of an Info-ZIP Unicode path field that
// belongs to this name (its CRC matched) and replaces it. Forward slashes
// become backslashes. Returns 1; 0 (out then empty) when the name is
// empty or holds a zero byte, when a name that must be UTF-8 (bit 11, the
// Unicode field) is not valid UTF-8 (an overlong form, an encoded
// surrogate, a cut sequence), or when the converted name is longer than
// ENTRY_NAME_LIMIT bytes.
int EntryNameConvert(const char *stored, uint32_t length, uint16_t flags, uint16_t versionMadeBy,
                     const char *unicode, char *out);

// Returns the rule a converted name (backslashes) breaks, NAME_OK when it
// may be written inside the target folder. One leading separator is
// allowed (it is dropped when the target is built).
NameVerdict EntryNameCheck(const char *name);

// 1 when component (length bytes of UTF-8) names a Windows device: CON,
// PRN, AUX, NUL, COM0..COM9, LPT0..LPT9 (the digit also as the
// superscripts U+00B9, U+00B2, U+00B3), CONIN$, CONOUT$; in any case, with
// any extension or trailing blanks.
int NameIsDevice(const char *component, uint32_t length);

// The upper case of a code point as the file system compares names. On
// Windows the system's own mapping (WideUpperCase), so that the twin rule
// sees every pair the file system takes for one name. Elsewhere (the
// native tool, the in-memory layer) a simple one-to-one mapping covering
// Basic Latin, Latin-1 Supplement, Latin Extended-A, -B and Additional,
// Greek, Cyrillic, Armenian and full-width Latin, as NTFS's upcase table
// maps them; every other code point stays itself there.
uint32_t NameUpperCase(uint32_t codePoint);

// The key under which a converted name (relative to the target folder,
// backslashes, UTF-8) is one file on Windows: components compared without case
// and without the trailing dots and blanks Win32 drops; "." and empty
// components (from "a\.\b" or "x\\c") are left out as the Win32 path
// parser leaves them out. Never 0.
uint64_t TargetNameKey(const char *name);

// TargetNameKey in steps, so that the keys of every folder above a name
// come from one pass over it: start from NAME_KEY_SEED, add the components
// left to right with NameKeyAdd; NameKeyFinish then gives the key of the
// components added so far, exactly as TargetNameKey gives it for them.
static const uint64_t NAME_KEY_SEED = 0xCBF29CE484222325ull;  // FNV-1a offset basis
uint64_t NameKeyAdd(uint64_t state, const char *component, size_t length);
uint64_t NameKeyFinish(uint64_t state);

#endif
