// Fuzz target: an encrypted entry through the password step, the input
// reader's per-chunk decryption and the Deflate decoder (or the stored
// copy), as ReadNextEntry and the driver run them. The data file is an
// in-memory file (memfd).
//
// Input layout:
//   byte 0      bit 0: the entry is deflated (else copied as stored)
//               bit 1: check value 0 (bit 3 archives: no header test)
//   bytes 1-4   central CRC-32, little-endian (the header's check value)
//   byte 5      password length n (taken modulo 33)
//   n bytes     the password the prompt answers (once; the next prompt gives up)
//   rest        12-byte encryption header, then the encrypted data
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "extractor/decoders/cipher.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"
#include "fuzz/entry_path_fuzz.h"

static char scriptedPassword[40];
static int prompts;

static int AnswerOnce(int, char *buffer, const char *) {
  if (prompts++ > 0) return 0;
  strcpy(buffer, scriptedPassword);
  return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6) return 0;
  EntryPathSetUpOnce();
  uint8_t flags = data[0];
  uint32_t crc = (uint32_t)data[1] | (uint32_t)data[2] << 8 | (uint32_t)data[3] << 16 | (uint32_t)data[4] << 24;
  size_t passwordLength = data[5] % 33;
  if (size < 6 + passwordLength) return 0;
  memcpy(scriptedPassword, data + 6, passwordLength);
  scriptedPassword[passwordLength] = 0;  // an embedded zero just shortens it
  const uint8_t *stored = data + 6 + passwordLength;
  size_t storedSize = size - 6 - passwordLength;

  EntryPathLoad(stored, storedSize);
  memset(&extraction.password, 0, sizeof extraction.password);
  extraction.encrypted = 1;
  extraction.checkValue = flags & 2 ? 0 : crc;
  storage.entry->central.crc32 = crc;
  callbacks.askPassword = AnswerOnce;
  prompts = 0;
  if (!ObtainPassword("ordner/datei.txt")) {
    if (prompts > 2) abort();  // one answer, then giving up
    return 0;
  }
  if (storedSize < 12) abort();  // a short header must not pass
  transfer.crc = 0xFFFFFFFFu;
  transfer.inputLeft = (int32_t)storedSize - 12;
  transfer.bytesDone = 0;
  transfer.bytesTotal = (int32_t)(storedSize - 12) * 3;
  ResetEntryInput();
  if (flags & 1) {
    DecodeDeflateEntry();
    ReleaseFixedTables();
  } else {
    CopyStoredEntry();
  }
  CheckEntryCrc();
  return 0;
}
