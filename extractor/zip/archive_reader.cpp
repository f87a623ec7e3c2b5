// ZIP directory reader (PKWARE APPNOTE 4.3.7, 4.3.12, 4.3.16).
//
// Format notes:
// - The end record is the "PK\5\6" signature nearest to the archive's end,
//   looked for only where it can lie: in the last 22 + 65,535 bytes (the
//   record with the longest comment). Every command takes the same one.
// - The walk ends at the end record's signature (or the ZIP64 end
//   record's), not after totalEntries records; a directory that ends with
//   fewer or more records than counted is damaged.
// - An entry's sizes come from its local header unless bit 3 is set: then
//   the local values may be zero (written before the data was known) and
//   the central record's sizes are the true ones. Sizes and offsets marked
//   all ones take their values from the ZIP64 extra field (zip_format.h).
// - Stored offsets count from the start of the file, plus a base when the
//   archive sits behind data it does not know of (see LocateDirectory).
// - Stored offsets and sizes are checked against the archive's own bytes:
//   a record cut short by the end of the file, an offset outside it, data
//   running into the central directory or two entries sharing bytes are
//   invalid data, never bytes of another record read in their place.
#include "extractor/zip/archive_reader.h"

#include <string.h>

#include "extractor/decoders/cipher.h"
#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/zip/entry_names.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/signed_archive.h"
#include "extractor/zip/state.h"

ReaderState reader = {-1, 0, 0, {nullptr, nullptr, 0, 0, 0}, -1, 0, ENTRIES_UNKNOWN, 0, 0, 0, 0, 0, 0};

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
  reader.base = 0;
  reader.entriesClaimed = ENTRIES_UNKNOWN;
  reader.entriesRead = 0;
  memset(&signedArchive, 0, sizeof signedArchive);
  SpanSetClear(&reader.spans);

  if (!PathFits(path)) {
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

// The end record just found must reach the certificate table's end in a
// signed image (signed_archive.h). Returns 1 when it does or the image is
// not signed; 0 with code 5 (read failed) or 9964.
static int CheckSignedEnd(FileHandle file) {
  if (signedArchive.tableOffset == 0) return 1;
  uint8_t length[2] = {0, 0};
  int32_t at = extraction.endRecordPos - 4 + ZIP_END_SIZE - 2;  // the comment length, the record's last field
  if (FileSeek(file, at, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  if (FileRead(length, 2, file) < 0) return Fail(ERR_ACCESS);
  if (!SignedArchiveCheckEnd((uint32_t)extraction.endRecordPos - 4, (uint16_t)(length[0] | length[1] << 8)))
    return Fail(ERR_INVALID_DATA);
  return 1;
}

int FindEndRecord(void) {
  FileHandle file = extraction.dataFile;
  if (extraction.endRecordPos != -1) {
    if (FileSeek(file, extraction.endRecordPos, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
    return 1;
  }
  int32_t end = FileSize(file);
  if (end < 0) return Fail(ERR_ACCESS);
  // A signed image: the search stays in front of its certificate table.
  int32_t signedEnd = SignedArchiveLimit(file, end);
  if (signedEnd < 0) return Fail(signedArchive.problem ? ERR_INVALID_DATA : ERR_ACCESS);
  end = signedEnd;
  if (reader.archiveEnd >= 0 && reader.archiveEnd < end) end = reader.archiveEnd;
  int32_t start = end > END_SEARCH_SPAN ? end - END_SEARCH_SPAN : 0;
  int32_t length = end - start;
  if (length < 4) return Fail(ERR_NO_ARCHIVE);
  uint8_t *tail = (uint8_t *)MemAlloc((uint32_t)length);
  if (!tail) return Fail(ERR_NO_MEMORY);
  int32_t got = FileSeek(file, start, FILE_SEEK_BEGIN) < 0 ? -1 : FileRead(tail, length, file);
  int32_t at = got == length ? length - 4 : -1;
  while (at >= 0 && !(tail[at] == 0x50 && tail[at + 1] == 0x4B && tail[at + 2] == 0x05 && tail[at + 3] == 0x06))
    at--;
  MemFree(tail);
  if (got != length) return Fail(ERR_ACCESS);  // also a file that shrank under us
  if (at < 0) return Fail(ERR_NO_ARCHIVE);
  extraction.endRecordPos = start + at + 4;
  if (!CheckSignedEnd(file)) return 0;
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

// The bounds ReadNextEntry checks against when LocateDirectory did not set
// them: no base, the directory where the end record says.
static int LoadBounds(void) {
  if (reader.fileSize >= 0) return 1;
  int32_t size = FileSize(extraction.dataFile);
  if (size < 0) return Fail(ERR_ACCESS);
  reader.fileSize = size;
  reader.base = 0;
  reader.directoryOffset = extraction.endRecordLoaded ? extraction.endRecord.directoryOffset : (uint32_t)size;
  if (reader.directoryOffset > (uint32_t)size) reader.directoryOffset = (uint32_t)size;
  return 1;
}

// Reads count bytes at position of dataFile. Returns the bytes read
// (fewer at the end of the file), or -1 with code 5 when the seek or the
// read fails.
static int32_t ReadAt(uint32_t position, void *buffer, int32_t count) {
  if (FileSeek(extraction.dataFile, (int32_t)position, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS) - 1;
  int32_t got = FileRead(buffer, count, extraction.dataFile);
  if (got < 0) Fail(ERR_ACCESS);
  return got;
}

// Finds the ZIP64 end record of the end record at endAt. Returns 1 with
// *record and its *position; 0 when there is none (no locator directly in
// front of the end record, or a locator without a record: the end
// record's own values then count); -1 with code 5 when a read fails.
//
// Format notes: the record is looked for where the locator's own position
// puts it (directly in front, ZIP64_END_SIZE bytes), then at the locator's
// stored offset (a record followed by extensible data). The first place
// serves archives whose offsets were not moved, as for the directory.
static int FindZip64End(uint32_t endAt, Zip64EndRecord *record, uint32_t *position) {
  if (endAt < ZIP64_LOCATOR_SIZE + ZIP64_END_SIZE) return 0;
  uint32_t locatorAt = endAt - ZIP64_LOCATOR_SIZE;
  Zip64Locator locator;
  int32_t got = ReadAt(locatorAt, &locator, ZIP64_LOCATOR_SIZE);
  if (got < 0) return -1;
  if (got != ZIP64_LOCATOR_SIZE || locator.signature != ZIP_SIG_ZIP64_LOCATOR) return 0;
  const uint64_t places[2] = {locatorAt - ZIP64_END_SIZE, locator.endRecordOffset};
  for (int i = 0; i < 2; i++) {
    if (places[i] > locatorAt - ZIP64_END_SIZE) continue;  // would overlap the locator
    got = ReadAt((uint32_t)places[i], record, ZIP64_END_SIZE);
    if (got < 0) return -1;
    if (got != ZIP64_END_SIZE || record->signature != ZIP_SIG_ZIP64_END) continue;
    if (i == 0 && record->recordSize != ZIP64_END_REST) continue;  // a longer record does not end here
    *position = (uint32_t)places[i];
    return 1;
  }
  return 0;
}

// Format notes: the central directory ends where the end record begins (or
// the ZIP64 end record, when there is one), so its true start is that
// position less the directory size. A ZIP file put behind a script or
// program by plain concatenation keeps offsets that count from its own
// first byte; the difference between the true start and the stored offset
// is then the length of what lies in front, and it belongs to every stored
// offset (Info-ZIP unzip reads such files the same way). The difference is
// only taken when a central record signature stands at the place it
// gives: a directory size that is merely wrong must not move a correct
// archive. An archive whose offsets are right has a difference of 0 and
// reads as before. All sums of stored fields are made in 64 bits.
int LocateDirectory(void) {
  SpanSetClear(&reader.spans);
  reader.fileSize = -1;
  reader.entriesClaimed = ENTRIES_UNKNOWN;
  reader.entriesRead = 0;
  if (!LoadBounds()) return 0;
  const ZipEndRecord *end = &extraction.endRecord;
  uint32_t directoryEnd = (uint32_t)extraction.endRecordPos - 4;  // the end record's position
  uint64_t entries = end->totalEntries, size = end->directorySize, offset = end->directoryOffset;
  Zip64EndRecord zip64;
  int found = FindZip64End(directoryEnd, &zip64, &directoryEnd);
  if (found < 0) return 0;
  if (found) entries = zip64.totalEntries, size = zip64.directorySize, offset = zip64.directoryOffset;
  // A multi-part archive: its directory (or its end) lies on another disk
  // than this file, and what stands here is not the whole of it.
  uint32_t disk = found ? zip64.diskNumber : end->diskNumber;
  uint32_t directoryDisk = found ? zip64.directoryDisk : end->directoryDisk;
  if (disk != 0 || directoryDisk != 0) return Fail(ERR_INVALID_DATA);
  reader.zip64End = found;
  if (entries == 0) return 0;
  // Every entry takes a central record of at least 46 bytes: a count the
  // directory cannot hold (a ZIP64 count of 2^64 - 1 over one entry) is a
  // damaged end record, not a walk that merely ends early.
  if (entries > size / ZIP_CENTRAL_SIZE) return Fail(ERR_INVALID_DATA);
  reader.entriesClaimed = entries;
  if (offset > directoryEnd) return Fail(ERR_INVALID_DATA);  // the directory lies in front of its end
  if (size < directoryEnd - offset) {
    uint32_t base = (uint32_t)(directoryEnd - offset - size);
    uint32_t signature = 0;
    if (ReadAt((uint32_t)offset + base, &signature, 4) < 0) return 0;
    if (signature == ZIP_SIG_CENTRAL) reader.base = base;
  }
  reader.directoryOffset = (uint32_t)offset + reader.base;
  if (FileSeek(extraction.dataFile, (int32_t)reader.directoryOffset, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  if (FileSeek(extraction.directoryFile, (int32_t)reader.directoryOffset, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  return 1;
}

int PrepareWalk(void) {
  if (!storage.entry) return Fail(ERR_NO_MEMORY);  // no working storage, or a run took place already
  if (!FindEndRecord()) return 0;
  if (FileSeek(extraction.dataFile, extraction.endRecordPos - 4, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  if (!LoadEndRecord()) return 0;
  return LocateDirectory();
}

enum {
  EXTRA_ZIP64_KEPT = 28,  // the ZIP64 field at its longest: three 8-byte values, a disk number
  UNICODE_HEAD = 5,       // Unicode path field: version (1), CRC-32 of the header name (4)
  UNICODE_NAME_KEPT = 0xFFFF - UNICODE_HEAD  // the whole name: a field holds at most 65,535 bytes
};

// What ReadExtraFields keeps of an extra field.
typedef struct ExtraFields {
  uint8_t zip64[EXTRA_ZIP64_KEPT];  // start of the ZIP64 field's data
  uint32_t zip64Length;             // bytes of it kept; 0 when there is none
  uint8_t unicode[UNICODE_HEAD + UNICODE_NAME_KEPT + 1];  // Unicode path field's data, zero-terminated
  uint32_t unicodeLength;           // its whole data length (may exceed what is kept); 0 when none
} ExtraFields;

static uint64_t Le64(const uint8_t *bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; i--) value = value << 8 | bytes[i];
  return value;
}

static int SkipBytes(FileHandle handle, uint32_t count) {
  if (count && FileSeek(handle, (int32_t)count, FILE_SEEK_CURRENT) < 0) return Fail(ERR_ACCESS);
  return 1;
}

// Walks the extra field of length bytes at handle's position and leaves
// the handle just behind it. Returns 0 when a read fails (5) or the file
// ends inside it (9964).
//
// Format notes: a sequence of sub-fields, each an id (2 bytes), a data
// length (2) and the data. Only the first field of each id counts. A
// sub-field whose length runs past the end of the extra field ends the
// walk; what is left is skipped (writers have left padding there).
static int ReadExtraFields(FileHandle handle, uint32_t length, ExtraFields *out) {
  // The lengths say what is there; the 64 KiB of the Unicode name are not
  // cleared for every record, only terminated where a name is read.
  out->zip64Length = out->unicodeLength = 0;
  uint32_t left = length;
  while (left >= 4) {
    uint8_t head[4];
    if (!ReadExactly(head, 4, handle)) return 0;
    left -= 4;
    uint32_t id = head[0] | head[1] << 8, size = head[2] | head[3] << 8;
    if (size > left) break;
    uint32_t kept = 0;
    if (id == ZIP_EXTRA_ZIP64 && out->zip64Length == 0) {
      kept = size < EXTRA_ZIP64_KEPT ? size : (uint32_t)EXTRA_ZIP64_KEPT;
      if (!ReadExactly(out->zip64, (int32_t)kept, handle)) return 0;
      out->zip64Length = kept;
    } else if (id == ZIP_EXTRA_UNICODE_PATH && out->unicodeLength == 0) {
      kept = size < sizeof out->unicode - 1 ? size : (uint32_t)sizeof out->unicode - 1;
      if (!ReadExactly(out->unicode, (int32_t)kept, handle)) return 0;
      out->unicode[kept] = 0;
      out->unicodeLength = size;
    }
    if (!SkipBytes(handle, size - kept)) return 0;
    left -= size;
  }
  return SkipBytes(handle, left);
}

// *value <- field, or, when field is ZIP64_MARK_32, the next 8-byte value of
// the ZIP64 field from *used on. Returns 0 when a marked field has no value.
static int TakeZip64(const ExtraFields *extra, uint32_t *used, uint32_t field, uint64_t *value) {
  *value = field;
  if (field != ZIP64_MARK_32) return 1;
  if (extra->zip64Length < *used + 8) return 0;
  *value = Le64(extra->zip64 + *used);
  *used += 8;
  return 1;
}

// What an entry's headers give beyond their fixed fields.
typedef struct EntryValues {
  uint64_t packed;           // compressed size, ZIP64 value in place
  uint64_t unpacked;         // uncompressed size, ZIP64 value in place
  uint64_t offset;           // stored local header offset (no base), ZIP64 value in place
  int unicodeName;           // 1: unicode holds the name of the Unicode path field
  char unicode[UNICODE_NAME_KEPT + 1];  // its UTF-8 name, zero-terminated
} EntryValues;

// Takes the name of the Unicode path field into values when the field
// belongs to the header name (still in entryName as stored). Returns 0
// with code 9964 when it does but its name is empty or holds a zero byte.
//
// Format notes (Info-ZIP's Unicode path extra field, 0x7075): version 1,
// the CRC-32 of the header's name as stored, then the name in UTF-8 with
// no terminator. Writers put an OEM or ASCII name into the header for old
// readers and the true name here. A CRC that does not match means a tool
// that did not know the field changed the header name afterwards: the
// field is stale and the header name counts (as in Info-ZIP unzip).
static int TakeUnicodePath(const EntryRecord *entry, const ExtraFields *extra, EntryValues *values) {
  values->unicodeName = 0;
  if (extra->unicodeLength < UNICODE_HEAD || extra->unicode[0] != 1) return 1;
  const uint8_t *stored = extra->unicode + 1;
  uint32_t crc = (uint32_t)stored[0] | stored[1] << 8 | stored[2] << 16 | (uint32_t)stored[3] << 24;
  uint32_t headerCrc = ~UpdateCrc(0xFFFFFFFFu, (const uint8_t *)entry->entryName, entry->central.nameLength);
  if (crc != headerCrc) return 1;
  const char *name = (const char *)extra->unicode + UNICODE_HEAD;
  uint32_t length = extra->unicodeLength - UNICODE_HEAD;
  if (length == 0 || length > UNICODE_NAME_KEPT || strlen(name) != length) return Fail(ERR_INVALID_DATA);
  memcpy(values->unicode, name, length + 1);
  values->unicodeName = 1;
  return 1;
}

// 1 when the walk has read as many central records as the end record
// counts, or the count is unknown (LocateDirectory was not called). A
// plain end record counts in 16 bits: a writer without ZIP64 may have let
// the count wrap over 65,535 entries.
static int CountMatches(void) {
  uint64_t claimed = reader.entriesClaimed, read = reader.entriesRead;
  if (claimed == ENTRIES_UNKNOWN || read == claimed) return 1;
  return !reader.zip64End && read > claimed && (read & 0xFFFF) == claimed;
}

// Reads the central record, its name (from the Unicode path field when
// that belongs to it) and extra field, and moves directoryFile to the next
// record. Returns 1 for an entry with *values from the central record; 0
// at the end record (no code) or on failure.
static int ReadCentralRecord(EntryRecord *entry, EntryValues *values) {
  int32_t at = FileSeek(extraction.directoryFile, 0, FILE_SEEK_CURRENT);
  if (at < 0) return Fail(ERR_ACCESS);
  reader.centralAt = (uint32_t)at;
  int32_t got = FileRead(&entry->central, ZIP_CENTRAL_SIZE, extraction.directoryFile);
  if (got < 0) return Fail(ERR_ACCESS);
  // The end record is only 22 bytes: a short read that begins with its
  // signature is the normal end of the walk. In a ZIP64 archive the ZIP64
  // end record follows the last central record instead.
  if (got >= 4 && (entry->central.signature == ZIP_SIG_END || entry->central.signature == ZIP_SIG_ZIP64_END))
    return CountMatches() ? 0 : Fail(ERR_INVALID_DATA);
  if (got != ZIP_CENTRAL_SIZE || entry->central.signature != ZIP_SIG_CENTRAL) return Fail(ERR_INVALID_DATA);
  reader.entriesRead++;

  uint16_t nameLength = entry->central.nameLength;
  entry->entryName[0] = 0;
  if (nameLength == 0) return Fail(ERR_INVALID_DATA);
  if (!ReadExactly(entry->entryName, nameLength, extraction.directoryFile)) return 0;
  entry->entryName[nameLength] = 0;
  // A zero byte inside the name would hide the rest of it from every check.
  if (strlen(entry->entryName) != nameLength) return Fail(ERR_INVALID_DATA);

  static ExtraFields extra;  // 64 KiB: off the stack
  if (!ReadExtraFields(extraction.directoryFile, entry->central.extraLength, &extra)) return 0;
  if (!SkipBytes(extraction.directoryFile, entry->central.commentLength)) return 0;
  uint32_t used = 0;
  if (!TakeZip64(&extra, &used, entry->central.uncompressedSize, &values->unpacked) ||
      !TakeZip64(&extra, &used, entry->central.compressedSize, &values->packed) ||
      !TakeZip64(&extra, &used, entry->central.localHeaderOffset, &values->offset))
    return Fail(ERR_INVALID_DATA);
  return TakeUnicodePath(entry, &extra, values);
}

// *values <- the local header's sizes; dataFile stands behind the local
// header. The local ZIP64 field holds both sizes whichever is marked.
static int ReadLocalSizes(const EntryRecord *entry, EntryValues *values) {
  const ZipLocalHeader *local = &entry->local;
  values->packed = local->compressedSize;
  values->unpacked = local->uncompressedSize;
  if (local->compressedSize != ZIP64_MARK_32 && local->uncompressedSize != ZIP64_MARK_32) return 1;
  ExtraFields extra;
  if (!SkipBytes(extraction.dataFile, local->nameLength)) return 0;
  if (!ReadExtraFields(extraction.dataFile, local->extraLength, &extra)) return 0;
  uint32_t used = 0;
  if (extra.zip64Length >= 16) {
    if (local->uncompressedSize == ZIP64_MARK_32) values->unpacked = Le64(extra.zip64);
    if (local->compressedSize == ZIP64_MARK_32) values->packed = Le64(extra.zip64 + 8);
    return 1;
  }
  if (!TakeZip64(&extra, &used, local->uncompressedSize, &values->unpacked) ||
      !TakeZip64(&extra, &used, local->compressedSize, &values->packed))
    return Fail(ERR_INVALID_DATA);
  return 1;
}

// One prompt through the slot; the reply is kept terminated whatever the
// callback wrote. Returns 1 when the user confirmed.
static int AskOnce(const char *name) {
  int confirmed = callbacks.askPassword(0, extraction.password, name);
  // At most 254 characters count, whatever the prompt wrote into the field.
  extraction.password[PASSWORD_BUFFER - 2] = 0;
  return confirmed != 0;
}

int ObtainPassword(const char *entryName) {
  // The name as the prompt shows it, with backslashes. Copied only as far
  // as it goes: strncpy would zero the rest of the 96 KiB buffer for every
  // encrypted entry.
  static char name[LONG_PATH_BUFFER];
  uint32_t length = 0;
  for (; length < LONG_PATH_BUFFER - 1 && entryName[length]; length++)
    name[length] = entryName[length] == '/' ? '\\' : entryName[length];
  name[length] = 0;
  if (!callbacks.askPassword) return 0;
  // The first prompt only when no password is known yet; an empty reply
  // here is tested like any other.
  if (extraction.password[0] == 0 && !AskOnce(name)) return 0;
  uint8_t header[ZIP_CRYPT_HEADER_SIZE];
  if (FileRead(header, ZIP_CRYPT_HEADER_SIZE, extraction.dataFile) != ZIP_CRYPT_HEADER_SIZE) {
    // The archive ends inside the header: nothing to test a password on.
    extraction.errorCode = ERR_ACCESS;
    return 0;
  }
  while (!CheckEncryptionHeader(header)) {
    // A retry with an empty field asks again at once, without a test.
    do {
      if (!AskOnce(name)) return 0;
    } while (extraction.password[0] == 0);
  }
  return 1;
}

int ReadNextEntry(void) {
  EntryRecord *entry = storage.entry;
  static EntryValues central, local;  // 64 KiB each with the Unicode name: off the stack
  if (!LoadBounds()) return 0;
  if (!ReadCentralRecord(entry, &central)) return 0;

  // Only stored and Deflate data can be unpacked. Anything else copied as
  // if stored would be the packed bytes under the entry's name, passing as
  // a file; an AES entry would also ask for a password first in vain.
  uint16_t method = entry->central.method;
  if (method == ZIP_METHOD_AES) return Fail(ERR_AES);
  if (method != ZIP_METHOD_STORED && method != ZIP_METHOD_DEFLATE) return Fail(ERR_METHOD);

  // Local header: inside the file and in front of the central directory.
  // Of its fields only the flags and the sizes count; its signature, method,
  // time and CRC are not compared with the central record.
  uint64_t stored = central.offset + reader.base;
  uint32_t limit = reader.directoryOffset;
  if (stored > limit || limit - stored < ZIP_LOCAL_SIZE) return Fail(ERR_INVALID_DATA);
  uint32_t offset = (uint32_t)stored;
  if (FileSeek(extraction.dataFile, (int32_t)offset, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  if (!ReadExactly(&entry->local, ZIP_LOCAL_SIZE, extraction.dataFile)) return 0;

  // The name the extractor writes, by the one conversion every command uses.
  static char converted[LONG_PATH_BUFFER];
  if (!EntryNameConvert(entry->entryName, entry->central.nameLength, entry->central.flags | entry->local.flags,
                        entry->central.versionMadeBy, central.unicodeName ? central.unicode : nullptr, converted))
    return Fail(ERR_INVALID_DATA);
  memcpy(entry->entryName, converted, strlen(converted) + 1);

  // At most 2^31 + 30 + 2 * 65535: no wrap in 32 bits, checked against limit below.
  uint32_t dataStart = offset + ZIP_LOCAL_SIZE + entry->local.nameLength + entry->local.extraLength;
  if (dataStart > limit) return Fail(ERR_INVALID_DATA);
  int descriptor = (entry->local.flags & ZIP_FLAG_DESCRIPTOR) != 0;
  // With a data descriptor the local sizes may be zeros or markers written
  // before the data was known; the central record has the true ones.
  if (!descriptor && !ReadLocalSizes(entry, &local)) return 0;
  const EntryValues *sizes = descriptor ? &central : &local;
  int encrypted = (entry->local.flags & ZIP_FLAG_ENCRYPTED) != 0;

  // Sizes: the data lies between the local header and the central
  // directory; 2 GiB and more is not supported (the counters are 32-bit).
  if (sizes->unpacked > 0x7FFFFFFFu) return Fail(ERR_TOO_LARGE);
  if (sizes->packed > limit - dataStart) return Fail(ERR_INVALID_DATA);
  uint32_t packed = (uint32_t)sizes->packed, unpacked = (uint32_t)sizes->unpacked;
  if (encrypted && packed < ZIP_CRYPT_HEADER_SIZE) return Fail(ERR_INVALID_DATA);
  uint32_t budget = packed - (encrypted ? ZIP_CRYPT_HEADER_SIZE : 0);
  // An entry copied as stored copies unpacked bytes: they must be its own.
  if (method == ZIP_METHOD_STORED && unpacked > budget) return Fail(ERR_INVALID_DATA);
  // Two central records for one local header, or a local header inside
  // another entry's data: the overlapping-entries "zip bomb".
  int added = SpanSetAdd(&reader.spans, offset, dataStart + packed);
  if (added != SPAN_ADDED) return Fail(added == SPAN_OVERLAP ? ERR_INVALID_DATA : ERR_NO_MEMORY);

  if (FileSeek(extraction.dataFile, (int32_t)dataStart, FILE_SEEK_BEGIN) < 0) return Fail(ERR_ACCESS);
  reader.localAt = offset;
  reader.dataAt = dataStart;
  reader.packedSize = packed;

  // Format notes (APPNOTE 6.1.6): the last byte of the decrypted 12-byte
  // header is the high byte of the CRC-32, or, when bit 3 is set (the CRC
  // was not known when the header was written), the high byte of the
  // local DOS time. checkValue carries the test byte in bits 24..31.
  extraction.encrypted = encrypted;
  if (encrypted && !reader.walkOnly) {
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
