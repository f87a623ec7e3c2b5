// Conversions between Windows-1252 (the extractor's ANSI texts) and UTF-8
// (names flagged by general purpose bit 11, and the native tool's terminal).
#ifndef OSTREL_ZIP_CODEPAGE_H
#define OSTREL_ZIP_CODEPAGE_H

#include <stdint.h>

enum {
  CODEPAGE_REPLACEMENT = '_'  // stands for a character Windows-1252 cannot hold;
                              // valid in file names everywhere, unlike "?"
};

// Converts a zero-terminated UTF-8 text to Windows-1252 in place (never
// longer). Characters without a 1252 form, and bytes that are not valid
// UTF-8, become CODEPAGE_REPLACEMENT, one per character or invalid byte.
// Returns how many were replaced so (0: the text converted whole).
uint32_t Utf8ToAnsiInPlace(char *text);
// destination (size bytes) <- the UTF-8 form of the Windows-1252 text.
// Cut at a character boundary when it does not fit, always terminated.
// Returns 1 when the whole text fitted; 0 when it was cut (or size is 0).
int AnsiToUtf8(const char *text, char *destination, uint32_t size);

#endif
