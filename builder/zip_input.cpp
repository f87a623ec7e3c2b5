// Reading an existing ZIP archive as the input of `ostrel build`: its
// central directory, every local header, where each entry's stored bytes
// lie. Nothing is decoded; the entries are copied as they stand.
#include <string.h>
#include <sys/types.h>

#include "builder/build_input.h"

// The ZIP64 record constants come from zip_format.h with the reader's.
enum {
  ZIP_FLAG_STRONG = 0x0040,
  END_SEARCH = ZIP_END_SIZE + 0xFFFF   // the end record plus the longest comment
};

static int ReadAt(FILE *file, uint64_t offset, void *buffer, size_t size) {
  if (fseeko(file, (off_t)offset, SEEK_SET) != 0) return 0;
  return fread(buffer, 1, size, file) == size;
}

static int Fail(std::string *error, const std::string &path, const std::string &why) {
  *error = path + ": " + why;
  return 0;
}

// Extra field without its ZIP64 records; an ill-formed field is dropped
// whole (its records cannot be told apart). zip64 receives the data of the
// ZIP64 record when there is one.
static std::string StripZip64(const std::string &extra, std::string *zip64) {
  std::string kept;
  const uint8_t *p = (const uint8_t *)extra.data();
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    uint16_t id = GetLe16(p + at), size = GetLe16(p + at + 2);
    if (at + 4 + size > extra.size()) return "";
    if (id == ZIP_EXTRA_ZIP64) {
      if (zip64) zip64->assign(extra, at + 4, size);
    } else {
      kept.append(extra, at, 4 + size);
    }
    at += 4 + size;
  }
  return at == extra.size() ? kept : "";
}

// Finds the end record: the last "PK\5\6" whose comment fits in the file.
static int FindEnd(FILE *file, uint64_t fileSize, uint64_t *endPos, uint8_t *end) {
  if (fileSize < ZIP_END_SIZE) return 0;
  uint64_t span = fileSize < (uint64_t)END_SEARCH ? fileSize : (uint64_t)END_SEARCH;
  std::vector<uint8_t> tail(span);
  if (!ReadAt(file, fileSize - span, tail.data(), span)) return 0;
  for (size_t i = span - ZIP_END_SIZE + 1; i-- > 0;) {
    if (GetLe32(&tail[i]) != ZIP_SIG_END) continue;
    uint64_t at = fileSize - span + i;
    if (at + ZIP_END_SIZE + GetLe16(&tail[i + 20]) > fileSize) continue;
    memcpy(end, &tail[i], ZIP_END_SIZE);
    *endPos = at;
    return 1;
  }
  return 0;
}

int ReadZipInput(FILE *file, const std::string &path, std::vector<SourceEntry> *entries,
                 std::string *error) {
  entries->clear();
  if (fseeko(file, 0, SEEK_END) != 0) return Fail(error, path, "cannot be read");
  uint64_t fileSize = (uint64_t)ftello(file);
  uint64_t endPos;
  uint8_t end[ZIP_END_SIZE];
  if (!FindEnd(file, fileSize, &endPos, end)) return Fail(error, path, "no ZIP end record: not a ZIP archive");
  if (GetLe16(end + 4) != 0 || GetLe16(end + 6) != 0)
    return Fail(error, path, "a multi-volume (split) archive; join the parts first");
  uint64_t count = GetLe16(end + 10), dirSize = GetLe32(end + 12), dirOffset = GetLe32(end + 16);
  uint64_t dirEnd = endPos;  // where the directory must end in the file

  // ZIP64: a locator right in front of the end record points to the ZIP64
  // end record, which holds the real count, size and offset.
  uint8_t locator[ZIP64_LOCATOR_SIZE], end64[ZIP64_END_SIZE];
  if (endPos >= ZIP64_LOCATOR_SIZE + ZIP64_END_SIZE &&
      ReadAt(file, endPos - ZIP64_LOCATOR_SIZE, locator, sizeof locator) &&
      GetLe32(locator) == ZIP_SIG_ZIP64_LOCATOR) {
    // With prepended data the locator's offset is off by their length; the
    // record normally sits right in front of the locator, so look there first.
    uint64_t candidates[2] = {endPos - ZIP64_LOCATOR_SIZE - ZIP64_END_SIZE, GetLe64(locator + 8)};
    int found = 0;
    for (uint64_t at : candidates) {
      if (at + ZIP64_END_SIZE <= endPos && ReadAt(file, at, end64, sizeof end64) &&
          GetLe32(end64) == ZIP_SIG_ZIP64_END) {
        found = 1;
        dirEnd = at;
        break;
      }
    }
    if (!found) return Fail(error, path, "the ZIP64 end record is missing or damaged");
    count = GetLe64(end64 + 32);
    dirSize = GetLe64(end64 + 40);
    dirOffset = GetLe64(end64 + 48);
  }
  if (dirSize > dirEnd) return Fail(error, path, "the central directory is larger than the file");
  uint64_t dirStart = dirEnd - dirSize;
  if (dirStart < dirOffset) return Fail(error, path, "the central directory lies outside the file");
  // Bytes in front of the archive: every stored offset is off by this much.
  uint64_t shift = dirStart - dirOffset;
  if (count > 1000000 || dirSize > ((uint64_t)1 << 31))
    return Fail(error, path, "the central directory claims " + std::to_string(count) + " entries");

  std::vector<uint8_t> dir(dirSize);
  if (dirSize && !ReadAt(file, dirStart, dir.data(), dirSize)) return Fail(error, path, "cannot read the central directory");
  size_t at = 0;
  for (uint64_t n = 0; n < count; n++) {
    std::string where = "entry " + std::to_string(n + 1);
    if (at + ZIP_CENTRAL_SIZE > dir.size() || GetLe32(&dir[at]) != ZIP_SIG_CENTRAL)
      return Fail(error, path, where + ": central record missing or damaged");
    const uint8_t *c = &dir[at];
    size_t nameLength = GetLe16(c + 28), extraLength = GetLe16(c + 30), commentLength = GetLe16(c + 32);
    if (at + ZIP_CENTRAL_SIZE + nameLength + extraLength + commentLength > dir.size())
      return Fail(error, path, where + ": central record cut short");
    SourceEntry entry;
    ZipEntryRecord &r = entry.record;
    const char *text = (const char *)c + ZIP_CENTRAL_SIZE;
    r.name.assign(text, nameLength);
    std::string zip64;
    r.centralExtra = StripZip64(std::string(text + nameLength, extraLength), &zip64);
    r.comment.assign(text + nameLength + extraLength, commentLength);
    r.versionMadeBy = GetLe16(c + 4);
    r.versionNeeded = GetLe16(c + 6);
    r.flags = GetLe16(c + 8);
    r.method = GetLe16(c + 10);
    r.time = GetLe16(c + 12);
    r.date = GetLe16(c + 14);
    r.crc32 = GetLe32(c + 16);
    r.internalAttributes = GetLe16(c + 36);
    r.externalAttributes = GetLe32(c + 38);
    uint64_t compressed = GetLe32(c + 20), uncompressed = GetLe32(c + 24), local = GetLe32(c + 42);
    // ZIP64 extra: only the fields whose 32-bit form is all ones, in this order.
    size_t z = 0;
    uint64_t *wide[3] = {&uncompressed, &compressed, &local};
    for (uint64_t *field : wide) {
      if (*field != 0xFFFFFFFFu) continue;
      if (z + 8 > zip64.size()) return Fail(error, path, where + ": ZIP64 size or offset missing");
      *field = GetLe64((const uint8_t *)zip64.data() + z);
      z += 8;
    }
    at += ZIP_CENTRAL_SIZE + nameLength + extraLength + commentLength;

    uint8_t head[ZIP_LOCAL_SIZE];
    uint64_t localPos = local + shift;
    if (localPos + ZIP_LOCAL_SIZE > dirStart || !ReadAt(file, localPos, head, sizeof head) ||
        GetLe32(head) != ZIP_SIG_LOCAL)
      return Fail(error, path, where + ": local header missing or damaged");
    size_t localName = GetLe16(head + 26), localExtra = GetLe16(head + 28);
    std::string extra(localExtra, 0);
    if (localExtra && !ReadAt(file, localPos + ZIP_LOCAL_SIZE + localName, &extra[0], localExtra))
      return Fail(error, path, where + ": local header cut short");
    r.localExtra = StripZip64(extra, nullptr);
    entry.dataOffset = localPos + ZIP_LOCAL_SIZE + localName + localExtra;
    if (entry.dataOffset + compressed > dirStart)
      return Fail(error, path, where + ": its data run past the central directory");
    entry.sourceCompressed = compressed;
    entry.sourceUncompressed = uncompressed;
    r.compressedSize = (uint32_t)compressed;  // the checks refuse what does not fit
    r.uncompressedSize = (uint32_t)uncompressed;
    // The descriptor goes unless the password check depends on it (zip_writer.h).
    if (!(r.flags & ZIP_FLAG_ENCRYPTED)) r.flags &= (uint16_t)~ZIP_FLAG_DESCRIPTOR;
    // 4.5 (ZIP64) and higher versions are no longer needed once the records are plain.
    uint16_t needed = (r.method == ZIP_METHOD_STORED && !(r.flags & ZIP_FLAG_ENCRYPTED)) ? ZIP_VERSION_STORED
                                                                                       : ZIP_VERSION_DEFLATE;
    if ((r.method == ZIP_METHOD_STORED || r.method == ZIP_METHOD_DEFLATE) && !(r.flags & ZIP_FLAG_STRONG) &&
        (r.versionNeeded & 0xFF) > needed)
      r.versionNeeded = (uint16_t)((r.versionNeeded & 0xFF00) | needed);
    entry.fileSize = uncompressed;
    entry.isFolder = !r.name.empty() && (r.name.back() == '/' || r.name.back() == '\\');
    entries->push_back(entry);
  }
  // A count that wrapped at 65,536 without a ZIP64 record would hide entries.
  if (at != dir.size())
    return Fail(error, path, "the central directory holds more than the " + std::to_string(count) +
                                 " entries its end record counts");
  return 1;
}
