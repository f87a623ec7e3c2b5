// ZIP directory reader (PKWARE APPNOTE 4.3.7, 4.3.12, 4.3.16).
//
// Format notes:
// - The end record is found by a backward scan for "PK\5\6" over the whole
//   file, so an archive comment of any length is passed over; the window
//   nearest the end of the file that holds the signature decides.
// - The walk ends at the end record's signature, not after totalEntries
//   records; the count only tells whether there is anything to walk.
// - An entry's sizes come from its local header unless bit 3 is set: then
//   the local values may be zero (written before the data was known) and
//   the central record's sizes are the true ones.
// - Stored offsets and sizes are checked against the archive's own bytes:
//   a record cut short by the end of the file, an offset outside it, data
//   running into the central directory or two entries sharing bytes are
//   invalid data, never bytes of another record read in their place.
#include "extractor/zip/archive_reader.h"

#include <string.h>

#include "extractor/decoders/cipher.h"
#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"

ReaderState reader = {-1, 0, {nullptr, nullptr, 0, 0, 0}};

static const uint8_t kEndSignature[4] = {0x50, 0x4B, 0x05, 0x06};

// Records why and returns 0: every failure below is one line.
static int Fail(int32_t code) {
  extraction.errorCode = code;
  return 0;
}

// A read of exactly count bytes: -1 is an access failure (5), fewer bytes
// mean the record is cut short by the end of the file (9964).
static int ReadExactly(void *buffer, int32_t count, FileHandle handle) {
  int32_t got = FileRead(buffer, count, handle);
  if (got == count) return 1;
  return Fail(got < 0 ? ERR_ACCESS : ERR_INVALID_DATA);
}

int AllocWorkingStorage(void) {
  if (!OpenEntryInput()) return 0;  // it records code 8
  storage.outputWindow = (uint8_t *)MemAlloc(OUTPUT_WINDOW_SIZE);
  storage.entry = (EntryRecord *)MemAlloc(sizeof(EntryRecord));
  storage.crcTable = (uint32_t *)MemAlloc(CRC_TABLE_ENTRIES * sizeof(uint32_t));
  int spans = SpanSetCreate(&reader.spans);
  if (!storage.outputWindow || !storage.entry || !storage.crcTable || !spans) {
    FreeWorkingStorage();
    return Fail(ERR_NO_MEMORY);
  }
  // A fresh window holds whatever the heap held before; the decoder never
  // reads bytes an entry did not produce, but nothing old should be there.
  memset(storage.outputWindow, 0, OUTPUT_WINDOW_SIZE);
  memset(storage.entry, 0, sizeof(EntryRecord));
  BuildCrcTable();
  return 1;
}

void FreeWorkingStorage(void) {
  CloseEntryInput();
  if (storage.outputWindow) MemFree(storage.outputWindow);
  if (storage.entry) MemFree(storage.entry);
  if (storage.crcTable) MemFree(storage.crcTable);
  SpanSetFree(&reader.spans);
  storage.outputWindow = nullptr;
  storage.entry = nullptr;
  storage.crcTable = nullptr;
}

void OpenArchive(const char *path) {
  memset(&counters, 0, sizeof counters);
  memset(&extraction, 0, sizeof extraction);
  memset(&callbacks, 0, sizeof callbacks);
  // Zero is a valid descriptor (stdin) natively: closed handles are FILE_INVALID.
  extraction.dataFile = extraction.directoryFile = extraction.outputFile = FILE_INVALID;
  extraction.endRecordPos = -1;
  reader.fileSize = -1;
  reader.directoryOffset = 0;
  SpanSetClear(&reader.spans);

  if (strlen(path) >= PATH_BUFFER) {
    Fail(ERR_ACCESS);  // no platform call can name it; archivePath could not hold it
    return;
  }
  if (!FileExists(path)) {
    Fail(ERR_NOT_FOUND);
    return;
  }
  extraction.dataFile = FileOpen(path, "rb");
  if (extraction.dataFile == FILE_INVALID) {
    Fail(ERR_ACCESS);
    return;
  }
  if (FindEndRecord()) strcpy(extraction.archivePath, path);
  FileClose(extraction.dataFile);
  extraction.dataFile = FILE_INVALID;
}

uint16_t FindBytes(const uint8_t *buffer, uint16_t length, const uint8_t *pattern,
                   uint16_t patternLength) {
  if (!buffer || !pattern || length == 0 || patternLength == 0 || patternLength > length)
    return FIND_BYTES_NONE;
  for (uint32_t i = 0; i + patternLength <= length; i++)
    if (buffer[i] == pattern[0] && !memcmp(buffer + i, pattern, patternLength)) return (uint16_t)i;
  return FIND_BYTES_NONE;
}

int FindEndRecord(void) {
  FileHandle file = extraction.dataFile;
  if (extraction.endRecordPos != -1) {
    if (FileSeek(file, extraction.endRecordPos, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
    return 1;
  }
  int32_t size = FileSize(file);
  if (size < 0) return Fail(ERR_ACCESS);

  // Format notes: each window after the first is the 60 bytes before the
  // previous one followed by that one's first 4 bytes, so a signature that
  // straddles two windows is still seen whole. Near the start of the file a
  // window is shorter rather than overlapping: the kept bytes must follow
  // the bytes read directly in the file, or a false signature could be
  // pieced together from two places.
  uint8_t window[END_SCAN_FIRST];
  int32_t start = size > END_SCAN_FIRST ? size - END_SCAN_FIRST : 0;
  if (FileSeek(file, start, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  int32_t n = FileRead(window, END_SCAN_FIRST, file);
  if (n < 0) return Fail(ERR_ACCESS);
  uint16_t i = FindBytes(window, (uint16_t)n, kEndSignature, 4);
  while (i == FIND_BYTES_NONE) {
    if (start <= 0) return Fail(ERR_NO_ARCHIVE);
    uint8_t kept[END_SCAN_KEPT];
    memcpy(kept, window, END_SCAN_KEPT);  // a window before the first is never shorter than 4
    int32_t previous = start;
    start = start > END_SCAN_STEP ? start - END_SCAN_STEP : 0;
    if (FileSeek(file, start, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
    n = FileRead(window, previous - start, file);
    if (n < 0) return Fail(ERR_ACCESS);
    if (n != previous - start) return Fail(ERR_ACCESS);  // the file shrank under us
    memcpy(window + n, kept, END_SCAN_KEPT);
    i = FindBytes(window, (uint16_t)(n + END_SCAN_KEPT), kEndSignature, 4);
  }
  extraction.endRecordPos = start + i + 4;
  if (FileSeek(file, extraction.endRecordPos, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  return 1;
}

int LoadEndRecord(void) {
  if (extraction.endRecordLoaded) return 1;
  if (!ReadExactly(&extraction.endRecord, ZIP_END_SIZE, extraction.dataFile)) return 0;
  if (extraction.endRecord.signature != ZIP_SIG_END) return Fail(ERR_INVALID_DATA);
  extraction.endRecordLoaded = 1;
  return 1;
}

// 1 when text is well-formed UTF-8 (no overlong forms, no surrogates).
static int IsValidUtf8(const uint8_t *text) {
  while (*text) {
    uint32_t lead = *text++;
    int follow = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
               : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
    if (follow < 0) return 0;
    uint32_t codePoint = lead & (0x7F >> follow);
    for (int k = 0; k < follow; k++, text++) {
      if ((*text & 0xC0) != 0x80) return 0;
      codePoint = (codePoint << 6) | (*text & 0x3F);
    }
    if ((follow == 2 && (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF))) ||
        (follow == 3 && (codePoint < 0x10000 || codePoint > 0x10FFFF)))
      return 0;
  }
  return 1;
}

// Format notes: bit 11 declares a UTF-8 name. Archives made on Unix (Info-
// ZIP's zip among them) carry the system's own bytes without the flag,
// which today are UTF-8; reading them as OEM would turn every umlaut into
// two wrong characters. Everything else is OEM (code page 850), as DOS and
// Windows tools write it.
static void ConvertName(EntryRecord *entry) {
  uint16_t flags = entry->central.flags | entry->local.flags;
  uint8_t host = (uint8_t)(entry->central.versionMadeBy >> 8);
  int utf8 = (flags & ZIP_FLAG_UTF8) ||
             ((host == ZIP_HOST_UNIX || host == ZIP_HOST_MACOS) && IsValidUtf8((const uint8_t *)entry->entryName));
  if (utf8) Utf8ToAnsiInPlace(entry->entryName);
  else OemToAnsiInPlace(entry->entryName);
}

// The bounds ReadNextEntry checks against, taken once per run.
static int LoadBounds(void) {
  if (reader.fileSize >= 0) return 1;
  int32_t size = FileSize(extraction.dataFile);
  if (size < 0) return Fail(ERR_ACCESS);
  reader.fileSize = size;
  reader.directoryOffset = extraction.endRecordLoaded ? extraction.endRecord.directoryOffset : (uint32_t)size;
  if (reader.directoryOffset > (uint32_t)size) reader.directoryOffset = (uint32_t)size;
  return 1;
}

// Reads the central record, its name, and moves directoryFile to the next record.
// Returns 1 for an entry; 0 at the end record (no code) or on failure.
static int ReadCentralRecord(EntryRecord *entry) {
  int32_t got = FileRead(&entry->central, ZIP_CENTRAL_SIZE, extraction.directoryFile);
  if (got < 0) return Fail(ERR_ACCESS);
  // The end record is only 22 bytes: a short read that begins with its
  // signature is the normal end of the walk.
  if (got >= 4 && entry->central.signature == ZIP_SIG_END) return 0;
  if (got != ZIP_CENTRAL_SIZE || entry->central.signature != ZIP_SIG_CENTRAL) return Fail(ERR_INVALID_DATA);

  memset(entry->entryName, 0, sizeof entry->entryName);
  uint16_t nameLength = entry->central.nameLength;
  if (nameLength == 0 || nameLength > NAME_MAX_LENGTH) return Fail(ERR_INVALID_DATA);
  if (!ReadExactly(entry->entryName, nameLength, extraction.directoryFile)) return 0;
  // A zero byte inside the name would hide the rest of it from every check.
  if (strlen(entry->entryName) != nameLength) return Fail(ERR_INVALID_DATA);

  int32_t skip = (int32_t)entry->central.extraLength + entry->central.commentLength;
  if (skip > 0 && FileSeek(extraction.directoryFile, skip, FILE_SEEK_CURRENT) < 0) return Fail(ERR_ACCESS);
  return 1;
}

int ReadNextEntry(void) {
  EntryRecord *entry = storage.entry;
  if (!LoadBounds()) return 0;
  if (!ReadCentralRecord(entry)) return 0;

  // Local header: inside the file and in front of the central directory.
  // Of its fields only the flags and the sizes count; its signature, method,
  // time and CRC are not compared with the central record.
  uint32_t offset = entry->central.localHeaderOffset;
  uint32_t limit = reader.directoryOffset;
  if (offset > limit || limit - offset < ZIP_LOCAL_SIZE) return Fail(ERR_INVALID_DATA);
  if (FileSeek(extraction.dataFile, (int32_t)offset, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  if (!ReadExactly(&entry->local, ZIP_LOCAL_SIZE, extraction.dataFile)) return 0;

  SlashesToBackslashes(entry->entryName);
  ConvertName(entry);

  uint32_t dataStart = offset + ZIP_LOCAL_SIZE + entry->local.nameLength + entry->local.extraLength;
  int descriptor = (entry->local.flags & ZIP_FLAG_DESCRIPTOR) != 0;
  uint32_t packed = descriptor ? entry->central.compressedSize : entry->local.compressedSize;
  uint32_t unpacked = descriptor ? entry->central.uncompressedSize : entry->local.uncompressedSize;
  int encrypted = (entry->local.flags & ZIP_FLAG_ENCRYPTED) != 0;

  // Sizes: the data lies between the local header and the central
  // directory; 2 GiB and more (and ZIP64's 0xFFFFFFFF) is not supported.
  if (dataStart > limit || packed > limit - dataStart) return Fail(ERR_INVALID_DATA);
  if (unpacked > 0x7FFFFFFFu) return Fail(ERR_INVALID_DATA);
  if (encrypted && packed < ZIP_CRYPT_HEADER_SIZE) return Fail(ERR_INVALID_DATA);
  uint32_t budget = packed - (encrypted ? ZIP_CRYPT_HEADER_SIZE : 0);
  // An entry copied as stored copies unpacked bytes: they must be its own.
  if (entry->central.method != ZIP_METHOD_DEFLATE && unpacked > budget) return Fail(ERR_INVALID_DATA);
  // Two central records for one local header, or a local header inside
  // another entry's data: the overlapping-entries "zip bomb".
  int added = SpanSetAdd(&reader.spans, offset, dataStart + packed);
  if (added != SPAN_ADDED) return Fail(added == SPAN_OVERLAP ? ERR_INVALID_DATA : ERR_NO_MEMORY);

  if (FileSeek(extraction.dataFile, (int32_t)dataStart, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);

  // Format notes (APPNOTE 6.1.6): the last byte of the decrypted 12-byte
  // header is the high byte of the CRC-32, or, when bit 3 is set (the CRC
  // was not known when the header was written), the high byte of the
  // local DOS time. checkValue carries the test byte in bits 24..31.
  extraction.encrypted = encrypted;
  if (encrypted) {
    extraction.checkValue = descriptor ? (uint32_t)entry->local.time << 16 : entry->central.crc32;
    // A failed header read has recorded its own code (5); only a prompt
    // that was given up is the password failure.
    if (!ObtainPassword(entry->entryName))
      return extraction.errorCode ? 0 : Fail(ERR_PASSWORD);
  }

  memset(&transfer, 0, sizeof transfer);
  transfer.crc = 0xFFFFFFFFu;
  transfer.inputLeft = (int32_t)budget;
  transfer.bytesTotal = (int32_t)unpacked;
  return 1;
}
