// What the extractor cannot handle, refused before `ostrel build` writes
// anything: each refusal names the entry and the cause.
#ifndef OSTREL_BUILDER_BUILD_CHECKS_H
#define OSTREL_BUILDER_BUILD_CHECKS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "builder/build_input.h"

enum {
  ENTRY_NAME_MAX = 259,                    // bytes of a converted name (the extractor keeps 260 with the terminator)
  ENTRY_SIZE_LIMIT = 0x7FFFFFFF,           // largest entry in bytes; the extractor counts in signed 32 bits
  CHECK_MESSAGES_MAX = 20                  // refusals listed before "... and N more"
};

// ansi <- the name as the extractor turns it into a Windows name: UTF-8
// when flag bit 11 is set or a Unix or macOS tool stored valid UTF-8,
// OEM (code page 850) otherwise; then '/' becomes '\'.
// Returns 1; 0 with why set when a UTF-8 character has no Windows-1252 form.
int ExtractorName(const ZipEntryRecord *record, std::string *ansi, std::string *why);

// Why the extractor cannot write the entry's name on Windows; empty when it can.
std::string EntryNameProblem(const ZipEntryRecord *record);

// Name of a compression method that is not stored or Deflate ("AES",
// "bzip2", "LZMA", "Zstandard", ...; "method N" when unknown).
std::string MethodName(const ZipEntryRecord *record);

// Checks every entry: name (length, '..', drive letters, device names,
// characters Windows forbids or Windows-1252 lacks), method, encryption
// kind, sizes, and the entry count. Returns the refusals, empty when all fit.
std::vector<std::string> CheckEntries(const std::vector<SourceEntry> &entries);

#endif
