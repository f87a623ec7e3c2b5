// Text encodings. Inside the core every entry name and path is UTF-8;
// Windows-1252 remains the form of the settings texts (default folder, run
// file, intro texts) stored in the SFX, and code page 850 the form of ZIP
// names written by DOS and Windows tools without flag bit 11.
#ifndef OSTREL_ZIP_CODEPAGE_H
#define OSTREL_ZIP_CODEPAGE_H

#include <stdint.h>

enum {
  CODEPAGE_REPLACEMENT = '_'  // stands for a character Windows-1252 cannot hold;
                              // valid in file names everywhere, unlike "?"
};

// The well-formed UTF-8 sequence at text, of at most available bytes:
// returns its length (1 to 4) with its code point in *codePoint; 0 when
// the bytes there are none (a zero byte, a stray continuation byte, an
// invalid lead, a sequence cut short, an overlong form, a surrogate, a
// code point past U+10FFFF). The one UTF-8 decoder of the program.
uint32_t Utf8Sequence(const char *text, uint32_t available, uint32_t *codePoint);
// 1 when the length bytes of text are well-formed UTF-8 (no overlong
// forms, no surrogates, nothing above U+10FFFF, no zero byte).
int Utf8IsValid(const char *text, uint32_t length);
// The offset of the first byte of the first sequence in text (length
// bytes) that is not well-formed UTF-8 as Utf8IsValid sees it; length when
// there is none.
uint32_t Utf8InvalidAt(const char *text, uint32_t length);
// Converts a zero-terminated UTF-8 text to Windows-1252 in place (never
// longer). Characters without a 1252 form, and bytes that are not valid
// UTF-8, become CODEPAGE_REPLACEMENT, one per character or invalid byte.
void Utf8ToAnsiInPlace(char *text);
// destination (size bytes) <- the UTF-8 form of the Windows-1252 text.
// Cut at a character boundary when it does not fit, always terminated.
// Returns 1 when the whole text fitted; 0 when it was cut (or size is 0).
int AnsiToUtf8(const char *text, char *destination, uint32_t size);

// destination (size bytes) <- the UTF-8 form of the code page 850 text of
// length bytes. Returns the length written; 0 when it does not fit with its
// terminator (destination is then empty) or size is 0.
uint32_t OemToUtf8(const char *text, uint32_t length, char *destination, uint32_t size);
// How many UTF-16 units the zero-terminated UTF-8 text takes: one per
// character, two for one above U+FFFF. For valid UTF-8 only (names and
// paths of the core); invalid bytes count one unit each.
uint32_t Utf16Length(const char *text);
// The code point at *text (valid UTF-8), *text moved past it; an invalid
// byte counts as the code point of its value.
uint32_t Utf8Next(const char **text);

#endif
