// The ZIP records the extractor reads (PKWARE APPNOTE 4.3.7, 4.3.12,
// 4.3.14 to 4.3.16), as they lie on disk. Shared by the reader and by the builder that
// writes archives behind an SFX stub. All integers little-endian; the
// structs are read and written whole, so the code assumes a little-endian
// host (x86 on both sides).
//
// Format notes:
// - Offsets stored in an archive behind an SFX stub count from the start of
//   the SFX file, not from the start of the archive.
// - The sizes of an entry come from its local header; method, time, date,
//   CRC and attributes come from its central record.
// - ZIP64: a size or offset field holding ZIP64_MARK_32 has its value in
//   the extra field with id 1, as 8 bytes. In a central record the field
//   holds the values of the marked fields only, in the order uncompressed
//   size, compressed size, local header offset (then a 4-byte disk
//   number); in a local header it holds both sizes, uncompressed first.
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
  ZIP_SIG_ZIP64_END = 0x06064B50, // "PK\6\6"
  ZIP_SIG_ZIP64_LOCATOR = 0x07064B50,  // "PK\6\7"
  ZIP_LOCAL_SIZE = 30,
  ZIP_CENTRAL_SIZE = 46,
  ZIP_END_SIZE = 22,
  ZIP64_END_SIZE = 56,            // without the extensible data that may follow
  ZIP64_END_REST = 44,            // its recordSize field when nothing follows
  ZIP64_LOCATOR_SIZE = 20,
  ZIP_EXTRA_ZIP64 = 0x0001,       // extra field ids
  ZIP_EXTRA_UNICODE_PATH = 0x7075,  // Info-ZIP: version 1, CRC-32 of the header name, UTF-8 name
  ZIP_FLAG_ENCRYPTED = 0x0001,
  ZIP_FLAG_DESCRIPTOR = 0x0008,
  ZIP_FLAG_STRONG = 0x0040,       // PKWARE strong encryption: not the traditional cipher
  ZIP_FLAG_UTF8 = 0x0800,
  ZIP_METHOD_STORED = 0,
  ZIP_METHOD_DEFLATE = 8,
  ZIP_METHOD_AES = 99,            // WinZip AES: the real method is inside its extra field
  ZIP_CRYPT_HEADER_SIZE = 12,
  ZIP_HOST_UNIX = 3,              // versionMadeBy >> 8: names in the system's charset, mode in
  ZIP_HOST_MACOS = 19             // the upper 16 bits of the external attributes
};

// A size or offset field holding this has its value in the ZIP64 extra
// field. Kept apart: in the enum above it would make every constant unsigned.
static const uint32_t ZIP64_MARK_32 = 0xFFFFFFFFu;

#pragma pack(push, 1)
typedef struct ZipLocalHeader {
  uint32_t signature;          // ZIP_SIG_LOCAL; not checked by the reader
  uint16_t versionNeeded;
  uint16_t flags;              // bit 0 encrypted, bit 3 descriptor, bit 11 UTF-8
  uint16_t method;             // not used: the central record's method decides
  uint16_t time;               // not used
  uint16_t date;               // not used
  uint32_t crc32;              // not used
  uint32_t compressedSize;     // input budget of the entry (12 more when encrypted); ZIP64_MARK_32
  uint32_t uncompressedSize;   // output size of the entry; ZIP64_MARK_32
  uint16_t nameLength;         // skipped over
  uint16_t extraLength;        // read only for the ZIP64 field
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
  uint32_t compressedSize;     // sizes of an entry with a data descriptor (bit 3);
  uint32_t uncompressedSize;   // ZIP64_MARK_32: in the extra field
  uint16_t nameLength;         // name bytes that follow
  uint16_t extraLength;        // read for the ZIP64 and Unicode path fields
  uint16_t commentLength;      // skipped
  uint16_t diskNumberStart;
  uint16_t internalAttributes;
  uint32_t externalAttributes; // given whole to the extracted file
  uint32_t localHeaderOffset;  // absolute position in the SFX file; ZIP64_MARK_32
} ZipCentralHeader;

// ZIP64 end of central directory record (APPNOTE 4.3.14): written when a
// count, size or offset of the end record does not fit (then set to all
// ones there), and by some writers always. Lies directly in front of the
// locator unless extensible data follows it (recordSize > 44).
typedef struct Zip64EndRecord {
  uint32_t signature;          // ZIP_SIG_ZIP64_END
  uint64_t recordSize;         // bytes after this field: ZIP64_END_REST, or more
  uint16_t versionMadeBy;
  uint16_t versionNeeded;
  uint32_t diskNumber;         // not used
  uint32_t directoryDisk;      // not used
  uint64_t entriesOnDisk;      // not used
  uint64_t totalEntries;       // 0: nothing to extract
  uint64_t directorySize;
  uint64_t directoryOffset;
} Zip64EndRecord;

// ZIP64 end of central directory locator (APPNOTE 4.3.15): directly in
// front of the end record.
typedef struct Zip64Locator {
  uint32_t signature;          // ZIP_SIG_ZIP64_LOCATOR
  uint32_t endRecordDisk;      // not used
  uint64_t endRecordOffset;    // stored position of the ZIP64 end record
  uint32_t totalDisks;         // not used
} Zip64Locator;

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
static_assert(sizeof(Zip64EndRecord) == ZIP64_END_SIZE, "ZIP64 end record is 56 bytes");
static_assert(sizeof(Zip64Locator) == ZIP64_LOCATOR_SIZE, "ZIP64 locator is 20 bytes");

#endif
