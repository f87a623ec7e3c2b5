// Turning a file's bytes into an entry's stored bytes: Deflate by
// libdeflate at level 9 (zlib level 9 when asked to be fast; stored when
// the stream is not smaller than the data), then the traditional ZIP
// cipher when a password is given.
#ifndef OSTREL_BUILDER_ENTRY_ENCODE_H
#define OSTREL_BUILDER_ENTRY_ENCODE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "builder/zip_writer.h"

// Compresses data into out and sets method, CRC and both sizes of record
// (the encryption header is not counted yet). fast: zlib level 9 instead
// of libdeflate, which costs a little less CPU time for 2-5% more bytes.
// Returns 1; 0 when a compressor ran out of memory.
int DeflateBest(const uint8_t *data, size_t size, int fast, ZipEntryRecord *record, std::vector<uint8_t> *out);

// Fills size bytes from the system's random source. Returns 1; 0 when it failed.
int RandomBytes(uint8_t *buffer, size_t size);

// Encrypts the stored bytes in place with the traditional ZIP cipher
// (APPNOTE 6.1), putting the 12-byte encryption header in front: 11 random
// bytes, then the CRC's high byte, the check byte every reader compares
// when flag bit 3 is clear. Sets bit 0 and adds 12 to the compressed size.
// Returns 1; 0 when no random bytes could be had.
int EncryptEntry(const std::string &password, ZipEntryRecord *record, std::vector<uint8_t> *data);

#endif
