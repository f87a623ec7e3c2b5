// Shared set-up of the fuzz targets that drive an entry through the real
// decoding path: the entry's stored bytes lie in an in-memory file (memfd)
// opened as extraction.dataFile, and the output goes to a second one, so
// FileRead, the input reader, the decoders and the output sink all run as
// in an extraction. Header-only: each fuzz target is built from one file.
#ifndef OSTREL_FUZZ_ENTRY_PATH_FUZZ_H
#define OSTREL_FUZZ_ENTRY_PATH_FUZZ_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/zip/state.h"

static int entryInputFile = -1, entryOutputFile = -1;

// Progress offers outside 0..100 are a fault of the sink.
static int FuzzKeepGoing(int, int32_t percent) {
  if (percent < 0 || percent > 100) abort();
  return 1;
}

// Creates the two in-memory files and the working storage once per process.
static void EntryPathSetUpOnce(void) {
  if (entryInputFile >= 0) return;
  entryInputFile = memfd_create("fuzz-entry-in", 0);
  entryOutputFile = memfd_create("fuzz-entry-out", 0);
  if (entryInputFile < 0 || entryOutputFile < 0 || !OpenEntryInput()) abort();
  storage.outputWindow = (uint8_t *)MemAlloc(OUTPUT_WINDOW_SIZE);
  storage.entry = (EntryRecord *)MemAlloc(sizeof(EntryRecord));
  storage.crcTable = (uint32_t *)MemAlloc(CRC_TABLE_ENTRIES * sizeof(uint32_t));
  memset(storage.outputWindow, 0, OUTPUT_WINDOW_SIZE);
  BuildCrcTable();
}

// Makes stored the whole data file, empties the output file, points the
// extraction's handles at both and clears the recorded code.
static void EntryPathLoad(const uint8_t *stored, size_t size) {
  if (ftruncate(entryInputFile, 0) != 0 || pwrite(entryInputFile, stored, size, 0) != (ssize_t)size) abort();
  if (ftruncate(entryOutputFile, 0) != 0 || lseek(entryOutputFile, 0, SEEK_SET) != 0 ||
      lseek(entryInputFile, 0, SEEK_SET) != 0)
    abort();
  extraction.dataFile = entryInputFile;
  extraction.outputFile = entryOutputFile;
  extraction.errorCode = 0;
  callbacks.reportProgress = FuzzKeepGoing;
}

#endif
