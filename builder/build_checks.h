// What the extractor cannot handle, refused before `ostrel build` writes
// anything: each refusal names the entry and the cause.
#ifndef OSTREL_BUILDER_BUILD_CHECKS_H
#define OSTREL_BUILDER_BUILD_CHECKS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "builder/build_input.h"

enum {
  ENTRY_PATH_MAX = 32000,                  // UTF-16 units of a name: room below the system's 32,767
                                           // for the target folder the user picks
  ENTRY_SIZE_LIMIT = 0x7FFFFFFF,           // largest entry in bytes; the extractor counts in signed 32 bits
  CHECK_MESSAGES_MAX = 20                  // refusals listed before "... and N more"
};

// Name of a compression method that is not stored or Deflate ("AES",
// "bzip2", "LZMA", "Zstandard", ...; "method N" when unknown).
std::string MethodName(uint16_t method);

// For each entry, why the extractor would refuse its name, "" when it
// would not: the driver's per-entry check (CheckEntryTarget) over the
// names in order, so twins and file/folder conflicts count as in an
// extraction. Fills targetName of folder-input entries.
std::vector<std::string> EntryProblems(std::vector<SourceEntry> *entries);

// Checks every entry: its name (EntryProblems), method, encryption kind,
// sizes, and the entry count. Returns the refusals, empty when all fit.
std::vector<std::string> CheckEntries(std::vector<SourceEntry> &entries);

#endif
