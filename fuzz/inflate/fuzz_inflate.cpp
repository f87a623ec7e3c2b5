// Fuzz target: the Deflate decoder through the real entry path. The input
// is the entry's stored data; it lies in an in-memory file (memfd) that is
// opened as the data file, so FileRead, the input reader with its budget,
// the decoder and the output sink (CRC, FileWrite, progress) all run as
// in an extraction.
//
// Checks beyond the sanitizers: a stream that decodes without a code
// wrote exactly bytesDone bytes whose CRC is the one the sink computed,
// and a refused stream leaves 9964 (or the read code 5).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"

static int inputFile = -1, outputFile = -1;

static void SetUpOnce(void) {
  if (inputFile >= 0) return;
  inputFile = memfd_create("fuzz-inflate-in", 0);
  outputFile = memfd_create("fuzz-inflate-out", 0);
  if (inputFile < 0 || outputFile < 0 || !OpenEntryInput()) abort();
  storage.outputWindow = (uint8_t *)MemAlloc(OUTPUT_WINDOW_SIZE);
  storage.entry = (EntryRecord *)MemAlloc(sizeof(EntryRecord));
  storage.crcTable = (uint32_t *)MemAlloc(CRC_TABLE_ENTRIES * sizeof(uint32_t));
  memset(storage.outputWindow, 0, OUTPUT_WINDOW_SIZE);
  BuildCrcTable();
}

static int KeepGoing(int, int32_t percent) {
  if (percent < 0 || percent > 100) abort();
  return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SetUpOnce();
  if (ftruncate(inputFile, 0) != 0 || pwrite(inputFile, data, size, 0) != (ssize_t)size) abort();
  if (ftruncate(outputFile, 0) != 0 || lseek(outputFile, 0, SEEK_SET) != 0 || lseek(inputFile, 0, SEEK_SET) != 0)
    abort();
  extraction.dataFile = inputFile;
  extraction.outputFile = outputFile;
  extraction.encrypted = 0;
  extraction.errorCode = 0;
  callbacks.reportProgress = KeepGoing;
  transfer.crc = 0xFFFFFFFFu;
  transfer.inputLeft = (int32_t)size;
  transfer.bytesDone = 0;
  transfer.bytesTotal = (int32_t)size * 4;
  ResetEntryInput();
  int result = DecodeDeflateEntry();
  ReleaseFixedTables();
  if (result != 0) {
    if (extraction.errorCode != ERR_INVALID_DATA && extraction.errorCode != ERR_ACCESS) abort();
    return 0;
  }
  if (extraction.errorCode != 0) abort();
  off_t written = lseek(outputFile, 0, SEEK_END);
  if (written != transfer.bytesDone) abort();
  uint32_t crc = 0xFFFFFFFFu;
  uint8_t chunk[65536];
  for (off_t at = 0; at < written;) {
    ssize_t got = pread(outputFile, chunk, sizeof chunk, at);
    if (got <= 0) abort();
    crc = UpdateCrc(crc, chunk, (int32_t)got);
    at += got;
  }
  if (crc != transfer.crc) abort();
  return 0;
}
