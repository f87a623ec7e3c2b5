// ZIP writer of the builder: appends local records and entry data to an open
// output file, keeps the central records in memory and ends the archive
// with its central directory and end record. Every stored offset counts from
// the start of the output file, so an archive written after an SFX prefix
// needs no later adjustment.
//
// Call order:
//   1. ZipWriterInit(writer, file, position)   position: bytes already in the file
//   2. ZipWriterAddEntry for each entry, in archive order
//   3. ZipWriterFinish(writer, commentLength)
//
// Format notes:
// - The local header always carries the CRC and both sizes; bit 3 (data
//   descriptor) is kept only on encrypted entries that came with it, whose
//   password check byte is the high byte of the DOS time instead of the CRC:
//   clearing the bit would make every reader test the wrong byte. Such an
//   entry gets its 16-byte descriptor (with signature) after the data.
// - No ZIP64 record is written: the builder refuses what would need one.
// - The archive comment is never written; its length field may be set to
//   cover bytes that a signature appends after the end record.
#ifndef OSTREL_BUILDER_ZIP_WRITER_H
#define OSTREL_BUILDER_ZIP_WRITER_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "extractor/zip/zip_format.h"

enum {
  ZIP_SIG_DESCRIPTOR = 0x08074B50,  // "PK\7\8", optional in front of a data descriptor
  ZIP_DESCRIPTOR_SIZE = 16,         // signature, CRC, compressed and uncompressed size
  ZIP_MAX_ENTRIES = 65535,          // entries a plain end record can count
  ZIP_VERSION_DEFLATE = 20,         // version needed for Deflate, folders, traditional cipher
  ZIP_VERSION_STORED = 10
};

// One entry as it goes into the archive. The data are compressed (and
// encrypted) already; the writer only frames them.
typedef struct ZipEntryRecord {
  std::string name;            // stored name bytes, '/' separated, folders end in '/'
  std::string localExtra;      // extra field of the local header (well-formed records)
  std::string centralExtra;    // extra field of the central record
  std::string comment;         // entry comment of the central record
  uint16_t versionMadeBy;      // host in the high byte, version in the low byte
  uint16_t versionNeeded;      // ZIP_VERSION_*
  uint16_t flags;              // bit 0 encrypted, bit 3 descriptor (see the notes), bit 11 UTF-8
  uint16_t method;             // ZIP_METHOD_STORED or ZIP_METHOD_DEFLATE
  uint16_t time;               // DOS time
  uint16_t date;               // DOS date
  uint32_t crc32;              // of the uncompressed data
  uint32_t compressedSize;     // stored bytes, the 12-byte encryption header included
  uint32_t uncompressedSize;   // bytes after decoding
  uint16_t internalAttributes; // bit 0: text file
  uint32_t externalAttributes; // DOS attributes in the low byte, Unix mode in the high 16 bits
} ZipEntryRecord;

typedef struct ZipWriter {
  FILE *file;                  // output, positioned at the end
  uint64_t position;           // bytes in the file so far = offset of the next record
  std::vector<uint8_t> directory;  // central records written so far
  uint32_t entryCount;         // entries added
  int failed;                  // a write failed or an offset passed 4 GiB - 1
} ZipWriter;

void ZipWriterInit(ZipWriter *writer, FILE *file, uint64_t position);
// Writes the local header, then data (size bytes, compressedSize of the
// record) by calling produce(context, buffer, capacity) until it has given
// compressedSize bytes; produce returns the bytes it placed (0 = failure).
// Returns 1 when written; 0 when a write or produce failed, or the entry
// would start beyond 4 GiB - 1 (writer->failed set).
typedef size_t (*ZipDataSource)(void *context, uint8_t *buffer, size_t capacity);
int ZipWriterAddEntry(ZipWriter *writer, const ZipEntryRecord *entry, ZipDataSource produce,
                      void *context);
// Appends the central directory and the end record; commentLength goes into
// the end record without any comment bytes. Returns 1 when written.
int ZipWriterFinish(ZipWriter *writer, uint16_t commentLength);

// Source for ZipWriterAddEntry over a buffer in memory.
typedef struct MemorySource {
  const uint8_t *data;
  size_t size;
  size_t done;
} MemorySource;
size_t ProduceFromMemory(void *context, uint8_t *buffer, size_t capacity);

void PutLe16(uint8_t *out, uint16_t value);
void PutLe32(uint8_t *out, uint32_t value);
uint16_t GetLe16(const uint8_t *in);
uint32_t GetLe32(const uint8_t *in);
uint64_t GetLe64(const uint8_t *in);

#endif
