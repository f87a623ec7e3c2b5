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
#include <unistd.h>

#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/state.h"
#include "fuzz/entry_path_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EntryPathSetUpOnce();
  EntryPathLoad(data, size);
  extraction.encrypted = 0;
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
  off_t written = lseek(entryOutputFile, 0, SEEK_END);
  if (written != transfer.bytesDone) abort();
  uint32_t crc = 0xFFFFFFFFu;
  uint8_t chunk[65536];
  for (off_t at = 0; at < written;) {
    ssize_t got = pread(entryOutputFile, chunk, sizeof chunk, at);
    if (got <= 0) abort();
    crc = UpdateCrc(crc, chunk, (int32_t)got);
    at += got;
  }
  if (crc != transfer.crc) abort();
  return 0;
}
