// Helpers of the zip tests: temporary folders, core paths (backslashes),
// a field-by-field ZIP writer and an SFX-style prefix with adjusted offsets.
#ifndef OSTREL_TESTS_ZIP_TEST_SUPPORT_H
#define OSTREL_TESTS_ZIP_TEST_SUPPORT_H

#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A fresh folder under the build tree (or /tmp), removed by its destructor.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string &path() const { return path_; }       // native, "/..."
  std::string Core() const;                               // "\..." for the core
  std::string File(const std::string &relative) const;    // native path inside
 private:
  std::string path_;
};

std::string CorePath(const std::string &nativePath);  // "/" -> "\" (ASCII paths)
Bytes ReadFileBytes(const std::string &path, bool *ok = nullptr);
void WriteFileBytes(const std::string &path, const Bytes &data);
Bytes TextBytes(const std::string &text);
bool PathExists(const std::string &path);
// Every regular file below root, as "relative/path" -> contents, sorted.
std::vector<std::pair<std::string, Bytes>> ListTree(const std::string &root);
// Runs a shell command with every file it writes capped in size; returns
// its exit status (-1 when it could not run or was killed).
int RunCommand(const std::string &command);
std::string ShellQuote(const std::string &text);

// One entry for ZipWriter. Fields left as they are give a plain stored or
// deflated file; tests change single fields to build hostile records.
struct ZipEntrySpec {
  std::string name;              // as stored (bytes)
  Bytes data;                    // uncompressed contents
  uint16_t method = 8;           // 0 stored, 8 deflated (zlib raw deflate)
  uint16_t flags = 0;            // general purpose flags of both headers
  uint16_t versionMadeBy = 20;   // host 0 (MS-DOS): names are OEM
  uint16_t time = 0x6000;        // 12:00:00
  uint16_t date = 0x5A21;        // 2025-01-01
  uint32_t externalAttributes = 0x20;
  int64_t crcOverride = -1;      // >= 0: stored instead of the real CRC-32
  int64_t localUncompressedOverride = -1;
  int64_t localCompressedOverride = -1;
  int64_t localOffsetOverride = -1;  // central record's local header offset
  int64_t sizeOverride = -1;     // >= 0: uncompressed size in both headers (a size that lies)
  Bytes packedOverride;          // non-empty: stored as the entry's data as it is (hand-made streams)
  bool zip64 = false;            // sizes and offset as ZIP64 markers, values in the extra fields
  Bytes centralExtra;            // further extra sub-fields of the central record, as stored
};

// Builds an archive in memory: local records and data, central directory,
// end record (with zip64End, a ZIP64 end record and locator before it, and
// all ones in the end record's count, size and offset). base is added to
// every stored offset (an SFX prefix length).
Bytes BuildZip(const std::vector<ZipEntrySpec> &entries, uint32_t base = 0,
               const std::string &comment = "", bool zip64End = false);
// A prefix of prefixLength bytes (no "PK" signatures in it) followed by a
// ZIP archive whose stored offsets are moved by prefixLength: the shape of
// an SFX file. ZIP64 records and extra fields are moved too. Returns an
// empty result for an archive it cannot walk.
Bytes PrefixArchive(const Bytes &zip, uint32_t prefixLength);
uint32_t Crc32Of(const Bytes &data);
void PutLe16(Bytes &out, size_t at, uint16_t value);
void PutLe32(Bytes &out, size_t at, uint32_t value);
uint32_t GetLe32(const Bytes &in, size_t at);
uint16_t GetLe16(const Bytes &in, size_t at);
uint64_t GetLe64(const Bytes &in, size_t at);
void PutLe64(Bytes &out, size_t at, uint64_t value);
// An Info-ZIP Unicode path extra sub-field (0x7075) for a header name.
Bytes UnicodePathField(const std::string &headerName, const std::string &utf8Name);

#endif
