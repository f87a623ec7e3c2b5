// Directory reader: the backward end-record search, the end record, and ReadNextEntry on well-formed and on
// broken records (names, sizes, offsets, encryption, cut-short records).
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "extractor/zip/archive_reader.h"
#include "extractor/zip/entry_names.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/signed_archive.h"
#include "extractor/zip/state.h"
#include "tests/zip/zip_test_support.h"

namespace {

const uint8_t kSig[4] = {0x50, 0x4B, 0x05, 0x06};

// Scans the file for its end record as OpenArchive does, with dataFile
// left open for the checks. Returns FindEndRecord's result.
int ScanFile(const std::string &path) {
  OpenArchive(CorePath(path).c_str());
  extraction.errorCode = ERR_NONE;
  extraction.endRecordPos = -1;
  extraction.dataFile = FileOpen(CorePath(path).c_str(), "rb");
  EXPECT_NE(FILE_INVALID, extraction.dataFile);
  return FindEndRecord();
}

void CloseScan() {
  FileClose(extraction.dataFile);
  extraction.dataFile = FILE_INVALID;
}

Bytes Filler(size_t size) { return Bytes(size, 0x11); }

void PutSig(Bytes &data, size_t at) { memcpy(&data[at], kSig, 4); }

struct ScanRow {
  const char *label;
  size_t size;
  std::vector<size_t> signatures;  // positions of "PK\5\6"
  int32_t expectedPos;             // endRecordPos, or -1 for 9966
  int32_t archiveEnd = -1;         // reader.archiveEnd for the search
};

TEST(FindEndRecord, NearestSignatureWithinTheLongestComment) {
  const ScanRow rows[] = {
      {"end record in the last 22 bytes", 500, {478}, 482},
      {"behind a 100-byte comment", 600, {600 - 122}, 600 - 118},
      {"two: the one nearer the end wins", 1000, {100, 900}, 904},
      {"two 20 bytes apart: the nearer wins", 300, {250, 270}, 274},
      {"behind a comment of 65,535 bytes", 70000, {70000 - 65557}, 70000 - 65553},
      {"one byte further: not an end record", 70000, {70000 - 65558}, -1},
      {"at offset 0", 200, {0}, 4},
      {"none anywhere", 1000, {}, -1},
      {"empty file", 0, {}, -1},
      {"file of exactly the signature", 4, {0}, 4},
      {"the search stops at archiveEnd", 1000, {100, 900}, 104, 800},
      {"archiveEnd beyond the file: the file's end", 1000, {900}, 904, 5000},
  };
  TempFolder temp;
  for (const ScanRow &row : rows) {
    Bytes data = Filler(row.size);
    for (size_t at : row.signatures) PutSig(data, at);
    std::string path = temp.File("scan.bin");
    WriteFileBytes(path, data);
    reader.archiveEnd = row.archiveEnd;
    int found = ScanFile(path);
    reader.archiveEnd = -1;
    if (row.expectedPos < 0) {
      EXPECT_EQ(0, found) << row.label;
      EXPECT_EQ(ERR_NO_ARCHIVE, extraction.errorCode) << row.label;
    } else {
      EXPECT_EQ(1, found) << row.label;
      EXPECT_EQ(row.expectedPos, extraction.endRecordPos) << row.label;
      EXPECT_EQ(row.expectedPos, FileSeek(extraction.dataFile, 0, FILE_SEEK_CURRENT)) << row.label;
    }
    CloseScan();
  }
}

TEST(FindEndRecord, PositionIsCachedForTheRun) {
  TempFolder temp;
  Bytes data = Filler(200);
  PutSig(data, 150);
  WriteFileBytes(temp.File("a.bin"), data);
  ASSERT_EQ(1, ScanFile(temp.File("a.bin")));
  PutSig(data, 190);  // a later change to the file is not seen again
  WriteFileBytes(temp.File("a.bin"), data);
  FileSeek(extraction.dataFile, 0, FILE_SEEK_BEGIN);
  EXPECT_EQ(1, FindEndRecord());
  EXPECT_EQ(154, extraction.endRecordPos);
  EXPECT_EQ(154, FileSeek(extraction.dataFile, 0, FILE_SEEK_CURRENT));
  CloseScan();
}

TEST(OpenArchive, OutcomesOfTheStartUp) {
  TempFolder temp;
  OpenArchive(CorePath(temp.File("missing.exe")).c_str());
  EXPECT_EQ(ERR_NOT_FOUND, extraction.errorCode);
  OpenArchive(temp.Core().c_str());  // a folder is no archive file
  EXPECT_EQ(ERR_NOT_FOUND, extraction.errorCode);

  WriteFileBytes(temp.File("plain.bin"), Filler(5000));
  OpenArchive(CorePath(temp.File("plain.bin")).c_str());
  EXPECT_EQ(ERR_NO_ARCHIVE, extraction.errorCode);
  EXPECT_STREQ("", extraction.archivePath);

  ZipEntrySpec entry;
  entry.name = "a.txt";
  entry.data = TextBytes("hello");
  WriteFileBytes(temp.File("good.exe"), PrefixArchive(BuildZip({entry}), 8192));
  callbacks.reportProgress = [](int, int32_t) { return 1; };
  counters.filesExtracted = 7;
  OpenArchive(CorePath(temp.File("good.exe")).c_str());
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_EQ(CorePath(temp.File("good.exe")), extraction.archivePath);
  EXPECT_EQ(0u, counters.filesExtracted);
  EXPECT_EQ(nullptr, callbacks.reportProgress);  // slots are emptied
  EXPECT_EQ(FILE_INVALID, extraction.dataFile);  // closed again
}

// An SFX file whose stub carries a certificate table: the archive's end
// record must lie in front of the table and its comment reach the table's
// end, as the builder's signing step leaves it. A ZIP put into the table,
// which the signature does not cover, must never be read.
TEST(OpenArchive, SignedImageArchiveEndsWhereItsCertificateTableBegins) {
  ZipEntrySpec entry;
  entry.name = "publisher.txt";
  entry.data = TextBytes("signed");
  ZipEntrySpec foreign = entry;
  foreign.name = "attacker.txt";
  const Bytes zip = BuildZip({entry}), intruder = BuildZip({foreign});
  // table: its bytes after the padding; declared: the size the PE header gives
  // (0 = unsigned); comment: the end record's comment length.
  auto Sfx = [&](size_t padding, const Bytes &table, uint32_t declared, uint32_t comment) {
    Bytes file = PrefixArchive(zip, 8192);
    const size_t pe = 0x80, optional = pe + 24;
    file[0] = 'M', file[1] = 'Z';
    PutLe32(file, 0x3C, pe);
    memcpy(&file[pe], "PE\0\0", 4);
    PutLe16(file, optional, 0x10B);                  // PE32
    PutLe32(file, optional + 92, 16);                // data directories
    PutLe16(file, file.size() - 2, (uint16_t)comment);
    file.resize(file.size() + padding, 0);
    PutLe32(file, optional + 96 + 8 * 4, declared ? (uint32_t)file.size() : 0);
    PutLe32(file, optional + 96 + 8 * 4 + 4, declared);
    file.insert(file.end(), table.begin(), table.end());
    return file;
  };
  Bytes table(72, 0x30), grown = table;
  grown.insert(grown.end(), intruder.begin(), intruder.end());
  const uint32_t covered = 4 + 72, total = (uint32_t)grown.size();
  struct Row {
    const char *label;
    Bytes file;
    int32_t code;
  } rows[] = {
      {"as signed", Sfx(4, table, 72, covered), ERR_NONE},
      {"a ZIP appended inside the table, size fixed", Sfx(4, grown, total, covered), ERR_INVALID_DATA},
      {"the table declared past the end of the file", Sfx(4, table, 80, covered), ERR_INVALID_DATA},
      {"unsigned: the last archive counts, as for any ZIP", Sfx(4, grown, 0, covered), ERR_NONE},
  };
  TempFolder temp;
  std::string path = temp.File("signed.exe");
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    WriteFileBytes(path, row.file);
    OpenArchive(CorePath(path).c_str());
    EXPECT_EQ(row.code, extraction.errorCode);
    EXPECT_EQ(row.code != ERR_NONE, signedArchive.problem != nullptr);
  }
}

// ReadNextEntry on an archive file: working storage, the end record loaded
// and both handles at the central directory, as ExtractArchive leaves them.
class WalkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, AllocWorkingStorage()); }
  void TearDown() override {
    if (extraction.dataFile != FILE_INVALID) FileClose(extraction.dataFile);
    if (extraction.directoryFile != FILE_INVALID) FileClose(extraction.directoryFile);
    extraction.dataFile = extraction.directoryFile = FILE_INVALID;
    FreeWorkingStorage();
  }
  // Returns 1 when the walk could start.
  int Start(const Bytes &archive) {
    std::string path = temp_.File("walk.exe");
    WriteFileBytes(path, archive);
    OpenArchive(CorePath(path).c_str());
    if (extraction.errorCode) return 0;
    extraction.dataFile = FileOpen(extraction.archivePath, "rb");
    extraction.directoryFile = FileOpen(extraction.archivePath, "rb");
    if (!FindEndRecord()) return 0;
    FileSeek(extraction.dataFile, extraction.endRecordPos - 4, FILE_SEEK_BEGIN);
    if (!LoadEndRecord()) return 0;
    return LocateDirectory();
  }
  TempFolder temp_;
};

TEST_F(WalkTest, EntriesNamesAndTransferState) {
  ZipEntrySpec docs, oem, utf8, unixName;
  docs.name = "docs/readme.txt";
  docs.data = TextBytes(std::string(3000, 'r'));
  oem.name = "gr\x81n.txt";                  // code page 850: 0x81 is "ü"
  oem.method = 0;
  oem.data = TextBytes("stored");
  utf8.name = "\xC3\x84pfel/\xE2\x82\xAC.txt";  // bit 11: UTF-8
  utf8.flags = 0x0800;
  unixName.name = "s\xC3\xBC\xC3\x9F.txt";    // Unix host, no flag: the system's UTF-8
  unixName.versionMadeBy = 0x031E;
  Bytes zip = BuildZip({docs, oem, utf8, unixName}, 8192);
  Bytes sfx = Filler(8192 + zip.size());
  std::copy(zip.begin(), zip.end(), sfx.begin() + 8192);
  ASSERT_EQ(1, Start(sfx));

  ASSERT_EQ(1, ReadNextEntry());
  EXPECT_STREQ("docs\\readme.txt", storage.entry->entryName);
  EXPECT_EQ(0xFFFFFFFFu, transfer.crc);
  EXPECT_EQ(3000, transfer.bytesTotal);
  EXPECT_EQ((int32_t)storage.entry->local.compressedSize, transfer.inputLeft);
  EXPECT_EQ(0, transfer.bytesDone);
  EXPECT_EQ(0, extraction.encrypted);
  // dataFile stands at the first data byte: header 30 + name 15.
  EXPECT_EQ(8192 + 30 + 15, FileSeek(extraction.dataFile, 0, FILE_SEEK_CURRENT));

  ASSERT_EQ(1, ReadNextEntry());
  EXPECT_STREQ("gr\xC3\xBCn.txt", storage.entry->entryName);  // OEM 0x81 is U+00FC
  EXPECT_EQ(6, transfer.inputLeft);
  ASSERT_EQ(1, ReadNextEntry());
  EXPECT_STREQ("\xC3\x84pfel\\\xE2\x82\xAC.txt", storage.entry->entryName);
  ASSERT_EQ(1, ReadNextEntry());
  EXPECT_STREQ("s\xC3\xBC\xC3\x9F.txt", storage.entry->entryName);

  EXPECT_EQ(0, ReadNextEntry());  // the end record follows the last central record
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
}

struct UnicodeRow {
  const char *label;
  std::string header;    // name in the header
  Bytes extra;           // central extra field
  const char *expected;  // entryName (UTF-8), or null for code 9964
};

TEST_F(WalkTest, UnicodePathFieldWhenItsCrcMatchesTheHeaderName) {
  Bytes timeField = {0x55, 0x54, 5, 0, 3, 1, 2, 3, 4};  // "UT" sub-field in front
  auto with = [](Bytes a, const Bytes &b) { return a.insert(a.end(), b.begin(), b.end()), a; };
  Bytes version2 = UnicodePathField("Gruss.txt", "Gr\xC3\xBC\xC3\x9F" "e.txt");
  version2[4] = 2;
  const std::string longName(1000, 'u');
  const UnicodeRow rows[] = {
      {"matching", "Gruss.txt", UnicodePathField("Gruss.txt", "Gr\xC3\xBC\xC3\x9F" "e.txt"), "Gr\xC3\xBC\xC3\x9F" "e.txt"},
      {"stale CRC: the header name", "Gruss.txt", UnicodePathField("Gruess.txt", "Gr\xC3\xBC\xC3\x9F" "e.txt"), "Gruss.txt"},
      {"OEM header name", "gr\x81n.txt", UnicodePathField("gr\x81n.txt", "gr\xC3\xBCn.txt"), "gr\xC3\xBCn.txt"},
      {"folders come from the field too", "sub/x.txt", UnicodePathField("sub/x.txt", "Ordner/\xC3\x9C" "berall.txt"),
       "Ordner\\\xC3\x9C" "berall.txt"},
      {"after another sub-field", "a.txt", with(timeField, UnicodePathField("a.txt", "\xC3\x84.txt")), "\xC3\x84.txt"},
      {"outside Windows-1252: kept", "a.txt", UnicodePathField("a.txt", "\xE6\x97\xA5.txt"), "\xE6\x97\xA5.txt"},
      {"invalid UTF-8", "a.txt", UnicodePathField("a.txt", "\xE6\x97.txt"), nullptr},
      {"overlong form", "a.txt", UnicodePathField("a.txt", "\xC0\xAE\xC0\xAE/x.txt"), nullptr},
      {"version 2: ignored", "Gruss.txt", version2, "Gruss.txt"},
      {"zero byte in the name", "a.txt", UnicodePathField("a.txt", std::string("b\0c.txt", 6)), nullptr},
      {"empty name", "a.txt", UnicodePathField("a.txt", ""), nullptr},
      {"longer than 260 characters: kept whole", "a.txt", UnicodePathField("a.txt", longName), longName.c_str()},
  };
  for (const UnicodeRow &row : rows) {
    ZipEntrySpec entry;
    entry.name = row.header;
    entry.data = TextBytes("inhalt");
    entry.centralExtra = row.extra;
    ASSERT_EQ(1, Start(BuildZip({entry}))) << row.label;
    EXPECT_EQ(row.expected ? 1 : 0, ReadNextEntry()) << row.label;
    if (row.expected) EXPECT_STREQ(row.expected, storage.entry->entryName) << row.label;
    else EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode) << row.label;
  }
}

// Two names are one file on Windows when they differ only in case: the
// key folds Latin (Latin-1, Extended-A, -B and Additional), Greek,
// Cyrillic, Armenian and full-width Latin.
TEST(TargetNameKey, TwinsInUnicode) {
  const struct {
    const char *a, *b;
    bool twins;
  } rows[] = {
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2.txt", true},  // Привет / ПРИВЕТ
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.txt", false}, // Привет / Пример
      {"\xD1\x91\xD0\xB6", "\xD0\x81\xD0\x96", true},                                   // ёж / ЁЖ
      {"\xCE\xBB\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82", "\xCE\x9B\xCE\x8C\xCE\x93\xCE\x9F\xCE\xA3", true},  // λόγος / ΛΌΓΟΣ
      {"\xC5\x82\xC3\xB3" "d\xC5\xBA\\\xC5\xBC\xC3\xB3\xC5\x82w", "\xC5\x81\xC3\x93" "D\xC5\xB9\\\xC5\xBB\xC3\x93\xC5\x81W. ", true},  // łódź\żółw / ŁÓDŹ\ŻÓŁW. 
      {"\xC4\x8D\xC5\x99\xC3\xA1\xC4\x8F\xC3\xBF", "\xC4\x8C\xC5\x98\xC3\x81\xC4\x8E\xC5\xB8", true},  // čřáďÿ / ČŘÁĎŸ
      {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC", true},                  // 日本, unfolded
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x81", false},                                    // two emoji
      {"stra\xC3\x9F" "e", "STRASSE", false},                                             // simple folding: ß stays
      {"Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t \xC6\xA1\xC6\xB0", "TI\xE1\xBA\xBENG VI\xE1\xBB\x86T \xC6\xA0\xC6\xAF", true},  // Tiếng Việt ơư
      {"\xD5\xA1\xEF\xBD\x81", "\xD4\xB1\xEF\xBC\xA1", true},                  // Armenian ա, full-width ａ
      {"\xC4\xB1", "I", true}, {"\xC4\xB1", "\xC4\xB0", false},                       // ı is I; İ stays itself
  };
  for (const auto &row : rows)
    EXPECT_EQ(row.twins, TargetNameKey(row.a) == TargetNameKey(row.b)) << row.a << " / " << row.b;
}

TEST_F(WalkTest, LocalValuesOtherThanFlagsAndSizesAreIgnored) {
  ZipEntrySpec entry;
  entry.name = "x.bin";
  entry.data = Bytes(100, 7);
  entry.method = 0;
  Bytes zip = BuildZip({entry});
  PutLe16(zip, 8, 8);             // local method: Deflate (central says stored)
  PutLe32(zip, 14, 0xDEADBEEF);   // local CRC
  PutLe16(zip, 10, 0xFFFF);       // local time
  ASSERT_EQ(1, Start(zip));
  ASSERT_EQ(1, ReadNextEntry());
  EXPECT_EQ(0, (int)storage.entry->central.method);  // packed fields: compared by value
  EXPECT_EQ(Crc32Of(entry.data), (uint32_t)storage.entry->central.crc32);
}

TEST_F(WalkTest, DescriptorEntriesTakeTheCentralSizes) {
  ZipEntrySpec entry;
  entry.name = "streamed.txt";
  entry.data = TextBytes(std::string(5000, 's'));
  entry.flags = 0x0008;
  entry.localCompressedOverride = 0;
  entry.localUncompressedOverride = 0;
  Bytes zip = BuildZip({entry});
  ASSERT_EQ(1, Start(zip));
  ASSERT_EQ(1, ReadNextEntry());
  EXPECT_EQ(5000, transfer.bytesTotal);
  EXPECT_EQ((int32_t)storage.entry->central.compressedSize, transfer.inputLeft);
  EXPECT_GT(transfer.inputLeft, 0);
}

struct BaseRow {
  const char *label;
  std::function<Bytes(const Bytes &zip)> shape;  // zip: two entries, offsets from 0
  uint32_t base;                                 // found by LocateDirectory
  int32_t code;                                  // after walking both entries
};

TEST_F(WalkTest, DirectoryFoundFromTheEndRecordsOwnPosition) {
  ZipEntrySpec first, second;
  first.name = "one.txt";
  first.data = TextBytes(std::string(400, '1'));
  second.name = "two.txt";
  second.data = TextBytes("2");
  auto prefixed = [](const Bytes &zip, size_t length) {
    Bytes out(length + zip.size(), 0x23);
    std::copy(zip.begin(), zip.end(), out.begin() + length);
    return out;
  };
  auto sizeField = [](Bytes zip, int32_t change) {
    PutLe32(zip, zip.size() - 22 + 12, GetLe32(zip, zip.size() - 22 + 12) + change);
    return zip;
  };
  const BaseRow rows[] = {
      {"offsets right", [](const Bytes &z) { return z; }, 0, ERR_NONE},
      {"offsets moved for a prefix", [](const Bytes &z) { return PrefixArchive(z, 8192); }, 0, ERR_NONE},
      {"prefix, offsets not moved (cat)", [&](const Bytes &z) { return prefixed(z, 8192); }, 8192, ERR_NONE},
      {"prefix of 1 byte, not moved", [&](const Bytes &z) { return prefixed(z, 1); }, 1, ERR_NONE},
      {"directory size 2 short, offsets right: no signature there, as before",
       [&](const Bytes &z) { return sizeField(z, -2); }, 0, ERR_NONE},
      {"directory size 2 long, offsets right", [&](const Bytes &z) { return sizeField(z, 2); }, 0, ERR_NONE},
      {"prefix not moved and size wrong: no signature anywhere",
       [&](const Bytes &z) { return sizeField(prefixed(z, 100), -3); }, 0, ERR_INVALID_DATA},
  };
  for (const BaseRow &row : rows) {
    ASSERT_EQ(1, Start(row.shape(BuildZip({first, second})))) << row.label;
    EXPECT_EQ(row.base, reader.base) << row.label;
    int read = 0;
    while (ReadNextEntry()) read++;
    EXPECT_EQ(row.code, extraction.errorCode) << row.label;
    EXPECT_EQ(row.code == ERR_NONE ? 2 : 0, read) << row.label;
  }
}

struct Zip64Row {
  const char *label;
  std::function<Bytes(Bytes zip)> shape;  // zip: two entries with ZIP64 fields, ZIP64 end record
  int32_t code;
  int entries;                            // read before the walk ended
};

TEST_F(WalkTest, Zip64RecordsAndExtraFields) {
  ZipEntrySpec first, second;
  first.name = "eins.txt";
  first.data = TextBytes(std::string(3000, 'e'));
  first.zip64 = true;
  second.name = "zwei.txt";
  second.data = TextBytes("zwei");
  second.zip64 = true;
  second.method = 0;
  // Offsets into the archive of two ZIP64 entries and its ZIP64 records.
  const size_t localExtra = 30 + 8, endAt = BuildZip({first, second}, 0, "", true).size() - 22;
  const size_t record = endAt - 20 - 56;
  const Zip64Row rows[] = {
      {"ZIP64 fields in every header, ZIP64 end record", [](Bytes z) { return z; }, ERR_NONE, 2},
      {"behind a prefix, offsets moved", [](Bytes z) { return PrefixArchive(z, 8192); }, ERR_NONE, 2},
      {"behind a prefix, offsets not moved",
       [](Bytes z) {
         Bytes out(100 + z.size(), 0x23);
         std::copy(z.begin(), z.end(), out.begin() + 100);
         return out;
       },
       ERR_NONE, 2},
      {"local sizes marked, no ZIP64 field", [&](Bytes z) { PutLe16(z, localExtra, 0x9999); return z; }, ERR_INVALID_DATA, 0},
      {"uncompressed 2 GiB in the local field", [&](Bytes z) { PutLe64(z, localExtra + 4, 0x80000000u); return z; }, ERR_TOO_LARGE, 0},
      {"uncompressed 4 GiB + 5 in the local field", [&](Bytes z) { PutLe64(z, localExtra + 4, 0x100000005ull); return z; }, ERR_TOO_LARGE, 0},
      {"central field without the offset value",
       [&](Bytes z) { PutLe16(z, GetLe64(z, record + 48) + 46 + 8 + 2, 16); return z; }, ERR_INVALID_DATA, 0},
      {"ZIP64 directory offset beyond 4 GiB", [&](Bytes z) { PutLe64(z, record + 48, 1ull << 32); return z; }, ERR_INVALID_DATA, -1},
      {"ZIP64 count of 0: nothing to walk", [&](Bytes z) { PutLe64(z, record + 32, 0); return z; }, ERR_NONE, -1},
  };
  for (const Zip64Row &row : rows) {
    int started = Start(row.shape(BuildZip({first, second}, 0, "", true)));
    int read = 0;
    if (started) {
      for (; ReadNextEntry(); read++) EXPECT_EQ(read == 0 ? 3000 : 4, transfer.bytesTotal) << row.label;
    }
    EXPECT_EQ(row.entries, started ? read : -1) << row.label;
    EXPECT_EQ(row.code, extraction.errorCode) << row.label;
  }
}

TEST_F(WalkTest, MoreThan65535EntriesThroughTheZip64EndRecord) {
  // Python's zipfile writes the ZIP64 end record once the count does not
  // fit in 16 bits; the end record then holds 0xFFFF.
  std::string path = temp_.File("many.zip");
  ASSERT_EQ(0, RunCommand("python3 " OSTREL_SOURCE_DIR "/tests/zip/write_archive.py many " + ShellQuote(path) + " 66000"));
  ASSERT_EQ(1, Start(ReadFileBytes(path)));
  uint32_t read = 0;
  while (ReadNextEntry()) read++;
  EXPECT_EQ(66000u, read);
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_STREQ("e65999", storage.entry->entryName);
}

int GiveUp(int, char *, const char *) { return 0; }
int AnyPassword(int, char *buffer, const char *) {
  strcpy(buffer, "irrelevant");
  return 1;
}

TEST_F(WalkTest, EncryptedEntriesBudgetAndPasswordStep) {
  // Bit 3 with a DOS time of 0: check value 0, so any password passes the
  // header test; the 12 header bytes are consumed before the data.
  ZipEntrySpec entry;
  entry.name = "secret.bin";
  entry.method = 0;
  entry.flags = 0x0009;
  entry.time = 0;
  entry.data = Bytes(1012, 0x5A);  // as stored: header 12 + 1000 data bytes
  entry.localUncompressedOverride = 1000;
  Bytes zip = BuildZip({entry});
  PutLe32(zip, zip.size() - 22 - 46 - 10 + 24, 1000);  // central uncompressed size
  ASSERT_EQ(1, Start(zip));
  callbacks.askPassword = AnyPassword;
  ASSERT_EQ(1, ReadNextEntry());
  EXPECT_EQ(1, extraction.encrypted);
  EXPECT_EQ(0u, extraction.checkValue);
  EXPECT_EQ(1000, transfer.inputLeft);
  EXPECT_EQ(1000, transfer.bytesTotal);
  EXPECT_EQ(30 + 10 + 12, FileSeek(extraction.dataFile, 0, FILE_SEEK_CURRENT));

  ASSERT_EQ(1, Start(zip));
  callbacks.askPassword = GiveUp;
  EXPECT_EQ(0, ReadNextEntry());
  EXPECT_EQ(ERR_PASSWORD, extraction.errorCode);
}

TEST_F(WalkTest, LocalHeaderCountsOnlyForFlagsAndSizes) {
  // A local header whose signature, method, time and CRC disagree with the
  // central record: the entry is read all the same, with the central values.
  ZipEntrySpec entry;
  entry.name = "a.txt";
  entry.data = TextBytes(std::string(300, 'a'));
  Bytes zip = BuildZip({entry});
  PutLe32(zip, 0, 0x12345678);  // signature
  PutLe16(zip, 8, 0);           // method: stored
  PutLe16(zip, 10, 0x1234);     // time
  PutLe32(zip, 14, 0xDEADBEEF); // CRC-32
  ASSERT_EQ(1, Start(zip));
  ASSERT_EQ(1, ReadNextEntry());
  // Copies: the packed record's fields are not aligned for gtest's references.
  uint16_t method = storage.entry->central.method;
  uint32_t crc = storage.entry->central.crc32;
  EXPECT_EQ(ZIP_METHOD_DEFLATE, method);
  EXPECT_EQ(Crc32Of(entry.data), crc);
  EXPECT_EQ(300, transfer.bytesTotal);
  EXPECT_EQ(0, extraction.errorCode);
}

struct BrokenRow {
  const char *label;
  std::function<void(Bytes &zip, size_t centralAt)> damage;
  int32_t code;
};

TEST_F(WalkTest, BrokenRecordsEndWithTheirCode) {
  ZipEntrySpec first, second;
  first.name = "one.txt";
  first.data = TextBytes(std::string(400, '1'));
  second.name = "two.txt";
  second.data = TextBytes(std::string(400, '2'));
  const BrokenRow rows[] = {
      {"unknown central signature", [](Bytes &z, size_t c) { PutLe32(z, c, 0x12345678); }, ERR_INVALID_DATA},
      {"name length running past the directory", [](Bytes &z, size_t c) { PutLe16(z, c + 28, 3000); }, ERR_INVALID_DATA},
      {"empty name", [](Bytes &z, size_t c) { PutLe16(z, c + 28, 0); }, ERR_INVALID_DATA},
      {"zero byte inside the name", [](Bytes &z, size_t c) { z[c + 46 + 2] = 0; }, ERR_INVALID_DATA},
      {"local offset beyond the file", [](Bytes &z, size_t c) { PutLe32(z, c + 42, 0x7FFFFF00); }, ERR_INVALID_DATA},
      {"local offset inside the central directory", [](Bytes &z, size_t c) { PutLe32(z, c + 42, (uint32_t)c); }, ERR_INVALID_DATA},
      {"compressed size past the central directory", [](Bytes &z, size_t) { PutLe32(z, 18, 0x00100000); }, ERR_INVALID_DATA},
      {"uncompressed size 0xFFFFFFFF: a ZIP64 marker without its field", [](Bytes &z, size_t) { PutLe32(z, 22, 0xFFFFFFFF); }, ERR_INVALID_DATA},
      {"uncompressed size of 2 GiB", [](Bytes &z, size_t) { PutLe32(z, 22, 0x80000000u); }, ERR_TOO_LARGE},
      {"stored copy longer than its data", [](Bytes &z, size_t c) { PutLe16(z, c + 10, 0); PutLe32(z, 22, 401); }, ERR_INVALID_DATA},
      {"encrypted with fewer than 12 bytes", [](Bytes &z, size_t) { PutLe16(z, 6, 1); PutLe32(z, 18, 5); }, ERR_INVALID_DATA},
      {"local extra field runs past the data", [](Bytes &z, size_t) { PutLe16(z, 28, 0xFFFF); }, ERR_INVALID_DATA},
      {"method 12 (bzip2)", [](Bytes &z, size_t c) { PutLe16(z, c + 10, 12); }, ERR_METHOD},
      {"method 9 (Deflate64), stored sizes", [](Bytes &z, size_t c) { PutLe16(z, c + 10, 9); PutLe32(z, 22, 400); }, ERR_METHOD},
      {"method 99 (AES), encrypted", [](Bytes &z, size_t c) { PutLe16(z, c + 10, 99); PutLe16(z, 6, 1); }, ERR_AES},
  };
  for (const BrokenRow &row : rows) {
    Bytes zip = BuildZip({first});
    size_t centralAt = GetLe32(zip, zip.size() - 22 + 16);
    row.damage(zip, centralAt);
    ASSERT_EQ(1, Start(zip)) << row.label;
    EXPECT_EQ(0, ReadNextEntry()) << row.label;
    EXPECT_EQ(row.code, extraction.errorCode) << row.label;
  }

  // Two central records for one local header, and one entry nested in another.
  Bytes twice = BuildZip({first, second});
  size_t centralAt = GetLe32(twice, twice.size() - 22 + 16);
  size_t secondCentral = centralAt + 46 + first.name.size();
  PutLe32(twice, secondCentral + 42, 0);
  ASSERT_EQ(1, Start(twice));
  EXPECT_EQ(1, ReadNextEntry());
  EXPECT_EQ(0, ReadNextEntry());
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);

  // The same after 65,536 entries of padding, where a list of fixed size
  // would be full: three records for one local header, the second refused.
  std::vector<ZipEntrySpec> many(65536 + 3);
  for (size_t i = 0; i < many.size(); i++) many[i].name = std::to_string(i), many[i].method = 0;
  Bytes padded = BuildZip(many);
  size_t lastThree = padded.size() - 22 - 3 * (46 + 5);  // names "65536" .. "65538"
  for (size_t k = 1; k < 3; k++) PutLe32(padded, lastThree + k * 51 + 42, GetLe32(padded, lastThree + 42));
  ASSERT_EQ(1, Start(padded));
  uint32_t read = 0;
  while (ReadNextEntry()) read++;
  EXPECT_EQ(65537u, read);
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);
}

// The span set against a plain pairwise check: ranges in every order
// (ascending, descending, shuffled), touching, nested and overlapping,
// past the initial capacity so that the set grows.
TEST(SpanSet, AgreesWithAPairwiseCheck) {
  SpanSet set;
  ASSERT_EQ(1, SpanSetCreate(&set));
  uint32_t state = 12345;
  auto next = [&](uint32_t range) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % range;
  };
  for (int order = 0; order < 3; order++) {
    SpanSetClear(&set);
    std::vector<EntrySpan> held;
    for (uint32_t i = 0; i < 3 * SPAN_INITIAL_CAPACITY; i++) {
      uint32_t slot = order == 0 ? i : order == 1 ? 3 * SPAN_INITIAL_CAPACITY - i : next(4 * SPAN_INITIAL_CAPACITY);
      uint32_t start = slot * 100 + next(120), end = start + 1 + next(order == 2 ? 200 : 100);
      bool overlap = false;
      for (const EntrySpan &span : held) overlap = overlap || (span.start < end && start < span.end);
      ASSERT_EQ(overlap ? SPAN_OVERLAP : SPAN_ADDED, SpanSetAdd(&set, start, end)) << order << " " << i;
      if (!overlap) held.push_back({start, end});
    }
    EXPECT_GT(held.size(), SPAN_INITIAL_CAPACITY + 0u) << order;
  }
  SpanSetFree(&set);
  EXPECT_EQ(SPAN_NO_MEMORY, SpanSetAdd(&set, 1, 2));  // an absent set never accepts unchecked
}

TEST_F(WalkTest, RecordsCutShortAreInvalidNotThePreviousEntry) {
  ZipEntrySpec first, second;
  first.name = "first.txt";
  first.data = TextBytes("first");
  second.name = "second.txt";
  second.data = TextBytes("second");
  Bytes zip = BuildZip({first, second});
  size_t centralAt = GetLe32(zip, zip.size() - 22 + 16);
  // Cut inside the second central record, then put an end record's
  // signature at the file's end so that the scan still finds "one".
  for (size_t cut : {centralAt + 46 + 9 + 20, centralAt + 46 + 9 + 46 + 4}) {
    Bytes broken(zip.begin(), zip.begin() + cut);
    Bytes end(zip.end() - 22, zip.end());
    ASSERT_EQ(1, Start([&] {
      Bytes b = broken;
      b.insert(b.end(), end.begin(), end.end());
      return b;
    }()));
    ASSERT_EQ(1, ReadNextEntry());
    EXPECT_STREQ("first.txt", storage.entry->entryName);
    EXPECT_EQ(0, ReadNextEntry());
    EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode) << cut;
  }

  // The end record itself cut short: 9964 from LoadEndRecord.
  Bytes shortEnd(zip.begin(), zip.end() - 10);
  EXPECT_EQ(0, Start(shortEnd));
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);
}

}  // namespace
