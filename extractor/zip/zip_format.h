// The three ZIP records the extractor reads (PKWARE APPNOTE 4.3.7, 4.3.12,
// 4.3.16), as they lie on disk. Shared by the reader and by the builder that
// writes archives behind an SFX stub. All integers little-endian; the
// structs are read and written whole, so the code assumes a little-endian
// host (x86 on both sides).
//
// Format notes:
// - Offsets stored in an archive behind an SFX stub count from the start of
//   the SFX file, not from the start of the archive.
// - The sizes of an entry come from its local header; method, time, date,
//   CRC and attributes come from its central record.
// - Local flags bit 0: encrypted (a 12-byte header precedes the data);
//   bit 3: CRC and sizes also follow the data (the CRC is then not a valid
//   password check); bit 11: the name is UTF-8.
#ifndef OSTREL_ZIP_ZIP_FORMAT_H
#define OSTREL_ZIP_ZIP_FORMAT_H

#include <stdint.h>

enum {
  ZIP_SIG_LOCAL = 0x04034B50,     // "PK\3\4"
  ZIP_SIG_CENTRAL = 0x02014B50,   // "PK\1\2"
  ZIP_SIG_END = 0x06054B50,       // "PK\5\6"
  ZIP_LOCAL_SIZE = 30,
  ZIP_CENTRAL_SIZE = 46,
  ZIP_END_SIZE = 22,
  ZIP_FLAG_ENCRYPTED = 0x0001,
  ZIP_FLAG_DESCRIPTOR = 0x0008,
  ZIP_FLAG_UTF8 = 0x0800,
  ZIP_METHOD_STORED = 0,
  ZIP_METHOD_DEFLATE = 8,
  ZIP_METHOD_AES = 99,            // WinZip AES: the real method is inside its extra field
  ZIP_CRYPT_HEADER_SIZE = 12,
  ZIP_HOST_UNIX = 3,              // versionMadeBy >> 8: names in the system's charset, mode in
  ZIP_HOST_MACOS = 19             // the upper 16 bits of the external attributes
};

#pragma pack(push, 1)
typedef struct ZipLocalHeader {
  uint32_t signature;          // ZIP_SIG_LOCAL; not checked by the reader
  uint16_t versionNeeded;
  uint16_t flags;              // bit 0 encrypted, bit 3 descriptor, bit 11 UTF-8
  uint16_t method;             // not used: the central record's method decides
  uint16_t time;               // not used
  uint16_t date;               // not used
  uint32_t crc32;              // not used
  uint32_t compressedSize;     // input budget of the entry (12 more when encrypted)
  uint32_t uncompressedSize;   // output size of the entry
  uint16_t nameLength;         // skipped over
  uint16_t extraLength;        // skipped over
} ZipLocalHeader;

typedef struct ZipCentralHeader {
  uint32_t signature;          // ZIP_SIG_CENTRAL; ZIP_SIG_END ends the walk
  uint16_t versionMadeBy;
  uint16_t versionNeeded;
  uint16_t flags;              // not used by the reader (the local flags decide)
  uint16_t method;             // 0 stored, 8 Deflate; every other is refused
  uint16_t time;               // DOS time of the extracted file
  uint16_t date;               // DOS date of the extracted file
  uint32_t crc32;              // checked against the output; password check byte
  uint32_t compressedSize;     // not used
  uint32_t uncompressedSize;   // not used
  uint16_t nameLength;         // name bytes that follow
  uint16_t extraLength;        // skipped
  uint16_t commentLength;      // skipped
  uint16_t diskNumberStart;
  uint16_t internalAttributes;
  uint32_t externalAttributes; // given whole to the extracted file
  uint32_t localHeaderOffset;  // absolute position in the SFX file
} ZipCentralHeader;

typedef struct ZipEndRecord {
  uint32_t signature;          // ZIP_SIG_END
  uint16_t diskNumber;
  uint16_t directoryDisk;
  uint16_t entriesOnDisk;
  uint16_t totalEntries;       // 0: nothing to extract
  uint32_t directorySize;
  uint32_t directoryOffset;    // absolute position of the first central record
  uint16_t commentLength;      // the comment is never read
} ZipEndRecord;
#pragma pack(pop)

static_assert(sizeof(ZipLocalHeader) == ZIP_LOCAL_SIZE, "local header is 30 bytes");
static_assert(sizeof(ZipCentralHeader) == ZIP_CENTRAL_SIZE, "central header is 46 bytes");
static_assert(sizeof(ZipEndRecord) == ZIP_END_SIZE, "end record is 22 bytes");

#endif
