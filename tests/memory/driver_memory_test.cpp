// The driver over the in-memory file layer, for what only Windows file
// systems have and a POSIX run cannot show: named streams (Mark of the Web)
// and the hidden and system attributes of a replaced file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extractor/zip/archive_reader.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/file_memory_testing.h"
#include "extractor/zip/state.h"
#include "extractor/zip/zone_mark.h"
#include "tests/zip/zip_test_support.h"

namespace {

const char kSfx[] = "C:\\dl\\setup.exe";
const char kTarget[] = "C:\\out\\";

int WriteAll(const char *, const EntryFindData *) { return OVERWRITE_WRITE; }
int StopOnCrc(const char *) { return CRC_MISMATCH_STOP; }

// A fresh drive with the SFX file (an archive of entries) and the target
// folder; stream, when given, becomes the SFX file's Zone.Identifier.
void PutSfx(const std::vector<ZipEntrySpec> &entries, const char *stream) {
  MemoryFilesReset();
  ASSERT_EQ(CreateFolder("C:\\dl"), 0);
  ASSERT_EQ(CreateFolder("C:\\out"), 0);
  Bytes zip = BuildZip(entries);
  ASSERT_TRUE(MemoryFilesPut(kSfx, zip.data(), zip.size()));
  if (stream) {
    ASSERT_EQ(FileWriteStream(kSfx, kZoneStream, stream, (int32_t)strlen(stream)), 0);
  }
}

int32_t Extract(void) {
  if (!AllocWorkingStorage()) return -1;
  OpenArchive(kSfx);
  callbacks.confirmOverwrite = WriteAll;
  callbacks.confirmCrcMismatch = StopOnCrc;
  SetTargetFolder(kTarget);
  ExtractArchive();
  EXPECT_EQ(MemoryFilesOpenHandles(), 0u);
  return extraction.errorCode;
}

std::string StreamOf(const std::string &path) {
  char buffer[ZONE_MARK_MAX + 1];
  int32_t got = FileReadStream(path.c_str(), kZoneStream, buffer, ZONE_MARK_MAX);
  return got < 0 ? "(none)" : std::string(buffer, (size_t)got);
}

ZipEntrySpec Stored(const std::string &name, const std::string &text) {
  ZipEntrySpec entry;
  entry.name = name;
  entry.data = TextBytes(text);
  entry.method = 0;
  return entry;
}

TEST(DriverMemory, MarkOfTheWebIsCopiedToEveryFile) {
  const std::string internet = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/setup.exe\r\n";
  // A name whose path fits the system's limit (32,767 UTF-16 units) but
  // "path:Zone.Identifier" does not: the stream write fails and the file still counts.
  const std::string longName = std::string(32760 - strlen(kTarget), 'l');
  struct Row {
    const char *label;
    const char *stream;    // the SFX file's stream; null: none
    const char *expected;  // what each extracted file gets
  } rows[] = {
      {"zone 3 copied as it is", internet.c_str(), internet.c_str()},
      {"zone 4, lower case, blanks, \\n lines", "[zonetransfer]\nzoneid = 4\n", "[zonetransfer]\nzoneid = 4\n"},
      {"no stream: none written", nullptr, "(none)"},
      {"trusted zone 2: none written", "[ZoneTransfer]\r\nZoneId=2\r\n", "(none)"},
      {"ZoneId outside its section", "[Other]\r\nZoneId=3\r\n", "(none)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    PutSfx({Stored("a.txt", "a"), Stored("sub\\b.txt", "b"), Stored(longName, "l")}, row.stream);
    EXPECT_EQ(Extract(), ERR_NONE) << "a failed stream write does not fail the run";
    EXPECT_EQ(counters.filesExtracted, 3u);
    EXPECT_EQ(StreamOf("C:\\out\\a.txt"), row.expected);
    EXPECT_EQ(StreamOf("C:\\out\\sub\\b.txt"), row.expected);
    EXPECT_EQ(StreamOf(kTarget + longName), "(none)");
    EXPECT_EQ(FileGetAttributes((kTarget + longName).c_str()), (uint32_t)FILE_ATTR_ARCHIVE);
  }
}

TEST(DriverMemory, ReplacedFileKeepsAttributesUntilTheReplacement) {
  const uint32_t guarded = FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM | FILE_ATTR_ARCHIVE;
  ZipEntrySpec bad = Stored("old.txt", "new");
  bad.crcOverride = 1;
  struct Row {
    const char *label;
    ZipEntrySpec entry;
    int32_t code;
    const char *content;   // of C:\out\old.txt afterwards
    uint32_t attributes;
  } rows[] = {
      {"CRC failure: content and attributes stay", bad, ERR_CRC, "old", guarded},
      {"replaced: the entry's attributes", Stored("old.txt", "new"), ERR_NONE, "new", FILE_ATTR_ARCHIVE},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    PutSfx({row.entry}, nullptr);
    ASSERT_TRUE(MemoryFilesPut("C:\\out\\old.txt", (const uint8_t *)"old", 3));
    ASSERT_EQ(FileSetAttributes("C:\\out\\old.txt", guarded), 0);
    EXPECT_EQ(Extract(), row.code);
    FileHandle in = FileOpen("C:\\out\\old.txt", "r");
    char text[8] = {};
    EXPECT_EQ(FileRead(text, 7, in), 3);
    FileClose(in);
    EXPECT_STREQ(text, row.content);
    EXPECT_EQ(FileGetAttributes("C:\\out\\old.txt"), row.attributes);
  }
}

}  // namespace
