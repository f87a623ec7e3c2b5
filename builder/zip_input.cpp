// Reading an existing ZIP archive as the input of `ostrel build`, `list`
// and `info`: through the extractor's own walk (archive_reader.h), so that
// the end record, ZIP64, the correction for data in front of the archive,
// the directory checks and the entry names are exactly the extractor's.
// Nothing is decoded; the entries are copied as they stand.
#include <string.h>
#include <sys/types.h>

#include "builder/build_checks.h"
#include "builder/build_input.h"
#include "builder/tool_support.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/entry_names.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/signed_archive.h"
#include "extractor/zip/state.h"
#include "extractor/zip/summary.h"

static int ReadAt(FILE *file, uint64_t offset, std::string *out, size_t size) {
  out->assign(size, 0);
  if (size == 0) return 1;
  if (fseeko(file, (off_t)offset, SEEK_SET) != 0) return 0;
  return fread(&(*out)[0], 1, size, file) == size;
}

// Extra field without its ZIP64 records (the copy needs none) and its
// Unicode path field (the copy's name is that name, in UTF-8 with bit 11);
// an ill-formed field is dropped whole (its records cannot be told apart).
static std::string StripReplacedFields(const std::string &extra) {
  std::string kept;
  const uint8_t *p = (const uint8_t *)extra.data();
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    uint16_t id = GetLe16(p + at), size = GetLe16(p + at + 2);
    if (at + 4 + size > extra.size()) return "";
    if (id != ZIP_EXTRA_ZIP64 && id != ZIP_EXTRA_UNICODE_PATH) kept.append(extra, at, 4 + size);
    at += 4 + size;
  }
  return at == extra.size() ? kept : "";
}

// Why the walk stopped at entry number index (0: before the first), in words.
static std::string WalkFailure(int32_t code, uint64_t index) {
  const ZipCentralHeader &c = storage.entry->central;
  std::string where = index ? "entry " + std::to_string(index) + ": " : "";
  char utf8[SUMMARY_TEXT_BUFFER * 3];
  AnsiToUtf8(ErrorCodeText(code), utf8, sizeof utf8);
  std::string text = utf8;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  switch (code) {
    case ERR_NO_ARCHIVE: return "no ZIP end record: not a ZIP archive";
    case ERR_METHOD:
    case ERR_AES: return where + "compressed with " + MethodName(c.method) + "; only stored and Deflate are supported";
    case ERR_TOO_LARGE: return where + "2 GiB or more; entries must stay below 2 GiB";
    case ERR_INVALID_DATA:
      if (c.signature == ZIP_SIG_CENTRAL && (c.flags & ZIP_FLAG_UTF8) &&
          strlen(storage.entry->entryName) == c.nameLength) {
        // The walk leaves a name it refused as stored (read whole, no zero byte in it).
        uint32_t bad = Utf8InvalidAt(storage.entry->entryName, c.nameLength);
        if (bad < c.nameLength)
          return where + "the name is not valid UTF-8 (byte offset " + std::to_string(bad) + ")";
      }
      return where + "the archive is damaged (" + text + ")";
    default: return where + text + " (code " + std::to_string(code) + ")";
  }
}

// Takes the current entry of the walk into entry, its variable fields
// read from file at the positions the walk checked. Returns 1; 0 with
// error when the file cannot be read there.
static int TakeEntry(FILE *file, SourceEntry *entry, std::string *error) {
  const EntryRecord *current = storage.entry;
  const ZipCentralHeader &c = current->central;
  ZipEntryRecord &r = entry->record;
  std::string variable, localExtra;
  if (!ReadAt(file, (uint64_t)reader.centralAt + ZIP_CENTRAL_SIZE, &variable,
              (size_t)c.nameLength + c.extraLength + c.commentLength) ||
      !ReadAt(file, (uint64_t)reader.localAt + ZIP_LOCAL_SIZE + current->local.nameLength, &localExtra,
              current->local.extraLength))
    return (*error = "cannot be read"), 0;
  r.name = variable.substr(0, c.nameLength);
  r.centralExtra = StripReplacedFields(variable.substr(c.nameLength, c.extraLength));
  r.comment = variable.substr((size_t)c.nameLength + c.extraLength);
  r.localExtra = StripReplacedFields(localExtra);
  r.versionMadeBy = c.versionMadeBy;
  r.versionNeeded = c.versionNeeded;
  r.flags = c.flags;
  r.method = c.method;
  r.time = c.time;
  r.date = c.date;
  r.crc32 = c.crc32;
  r.internalAttributes = c.internalAttributes;
  r.externalAttributes = c.externalAttributes;
  // The sizes the extractor uses: the local header's, or the central
  // record's with a data descriptor. A central record that says otherwise
  // would go into the copy and disagree with what the extractor reads.
  uint32_t packed = reader.packedSize, unpacked = (uint32_t)transfer.bytesTotal;
  int descriptor = (current->local.flags & ZIP_FLAG_DESCRIPTOR) != 0;
  if (!descriptor && ((c.compressedSize != ZIP64_MARK_32 && c.compressedSize != packed) ||
                      (c.uncompressedSize != ZIP64_MARK_32 && c.uncompressedSize != unpacked)))
    return (*error = "its central record and local header give different sizes"), 0;
  r.compressedSize = packed;
  r.uncompressedSize = unpacked;
  entry->dataOffset = reader.dataAt;
  entry->localOffset = reader.localAt;
  entry->sourceCompressed = packed;
  entry->sourceUncompressed = unpacked;
  entry->fileSize = unpacked;
  entry->targetName = current->entryName;
  entry->isFolder = !entry->targetName.empty() && entry->targetName.back() == '\\';
  // Every name of the copy is the one the extractor reads, stored as UTF-8
  // with bit 11, whatever form (OEM, Unicode path field) it came in.
  r.name = entry->targetName;
  for (char &ch : r.name)
    if (ch == '\\') ch = '/';
  r.flags |= ZIP_FLAG_UTF8;
  // The descriptor goes unless the password check depends on it (zip_writer.h).
  if (!(r.flags & ZIP_FLAG_ENCRYPTED)) r.flags &= (uint16_t)~ZIP_FLAG_DESCRIPTOR;
  // 4.5 (ZIP64) and higher versions are no longer needed once the records are plain.
  uint16_t needed = (r.method == ZIP_METHOD_STORED && !(r.flags & ZIP_FLAG_ENCRYPTED)) ? ZIP_VERSION_STORED
                                                                                     : ZIP_VERSION_DEFLATE;
  if (!(r.flags & ZIP_FLAG_STRONG) && (r.versionNeeded & 0xFF) > needed)
    r.versionNeeded = (uint16_t)((r.versionNeeded & 0xFF00) | needed);
  return 1;
}

int ReadZipInput(FILE *file, const std::string &path, std::vector<SourceEntry> *entries, std::string *error,
                 ZipInputInfo *info) {
  entries->clear();
  static char core[LONG_PATH_BUFFER];
  if (!ToCorePath(path.c_str(), core)) return (*error = path + ": the path cannot be read by the extractor"), 0;
  if (!AllocWorkingStorage()) return (*error = path + ": out of memory"), 0;
  OpenArchive(core);
  if (extraction.errorCode != ERR_NONE) {
    *error = path + ": " + (signedArchive.problem ? std::string("refused: ") + signedArchive.problem
                                                  : WalkFailure(extraction.errorCode, 0));
    FreeWorkingStorage();
    return 0;
  }
  reader.walkOnly = 1;
  extraction.dataFile = FileOpen(extraction.archivePath, "rb");
  extraction.directoryFile = FileOpen(extraction.archivePath, "rb");
  int ok = extraction.dataFile != FILE_INVALID && extraction.directoryFile != FILE_INVALID;
  if (!ok) *error = path + ": cannot be read";
  if (ok && PrepareWalk()) {
    while (ok && ReadNextEntry()) {
      SourceEntry entry;
      std::string why;
      ok = TakeEntry(file, &entry, &why);
      if (!ok) *error = path + ": entry " + std::to_string(entries->size() + 1) + ": " + why;
      else entries->push_back(entry);
    }
  }
  if (ok && extraction.errorCode != ERR_NONE) {
    ok = 0;
    *error = path + ": " + WalkFailure(extraction.errorCode, entries->size() + 1);
  }
  if (info) {
    info->endRecordAt = (uint64_t)extraction.endRecordPos - 4;
    info->zip64 = reader.zip64End;
    info->base = reader.base;
  }
  reader.walkOnly = 0;
  FileClose(extraction.dataFile);
  FileClose(extraction.directoryFile);
  extraction.dataFile = extraction.directoryFile = FILE_INVALID;
  FreeWorkingStorage();
  return ok;
}
