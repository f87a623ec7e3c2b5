// The POSIX file layer gives the Win32 layer's results: counts and -1,
// Win32 error codes, attribute bits, DOS times as local time, Windows-1252
// names stored as UTF-8, and the OEM-to-ANSI table.
#include <iconv.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "extractor/zip/codepage.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/file_posix_testing.h"
#include "tests/decoders/decoder_fixture.h"

namespace {

// The Windows form of a POSIX path: backslashes.
std::string Win(const std::string &posix) {
  std::string s = posix;
  for (char &c : s)
    if (c == '/') c = '\\';
  return s;
}

TEST(FileLayer, OpenReadSeekSizeClose) {
  TempFolder folder;
  Bytes data = MakeData(DataKind::Random, 100, 1);
  WriteWholeFile(folder.Path("f.bin"), data);
  std::string path = Win(folder.Path("f.bin"));
  EXPECT_EQ(FileOpen(path.c_str(), "xb"), FILE_INVALID) << "only r, w and n are modes";
  EXPECT_EQ(FileOpen(path.c_str(), "nb"), FILE_INVALID) << "n never opens an existing file";
  EXPECT_EQ(ReadWholeFile(folder.Path("f.bin")), data) << "and leaves it as it was";
  EXPECT_EQ(FileOpen(Win(folder.Path("missing")).c_str(), "rb"), FILE_INVALID);
  EXPECT_EQ(FileOpen(Win(folder.Path("")).c_str(), "rb"), FILE_INVALID) << "a folder is not a file";
  FileHandle h = FileOpen(path.c_str(), "rb");
  ASSERT_NE(h, FILE_INVALID);
  EXPECT_EQ(FileSize(h), 100);
  EXPECT_EQ(FileSeek(h, 78, FILE_SEEK_BEGIN), 78);
  uint8_t buffer[64];
  EXPECT_EQ(FileRead(buffer, 46, h), 22) << "46 asked, 22 left";
  EXPECT_EQ(memcmp(buffer, data.data() + 78, 22), 0);
  EXPECT_EQ(FileRead(buffer, 46, h), 0) << "at the end: 0, not -1";
  EXPECT_EQ(FileSeek(h, -10, FILE_SEEK_END), 90);
  EXPECT_EQ(FileSeek(h, 5, FILE_SEEK_CURRENT), 95);
  EXPECT_EQ(FileSeek(h, -200, FILE_SEEK_CURRENT), -1);
  EXPECT_EQ(FileSeek(h, 0, 3), -1) << "no fourth method";
  EXPECT_EQ(FileWrite(buffer, 4, h), -1) << "read handle";
  EXPECT_EQ(FileClose(h), 0);
  FileHandle w = FileOpen(path.c_str(), "wb");
  EXPECT_EQ(FileSize(w), 0) << "w empties an existing file";
  EXPECT_EQ(FileWrite(data.data(), 10, w), 10);
  EXPECT_EQ(FileClose(w), 0);
  EXPECT_EQ(ReadWholeFile(folder.Path("f.bin")), Bytes(data.begin(), data.begin() + 10));
  FileHandle n = FileOpen(Win(folder.Path("new.bin")).c_str(), "nb");
  EXPECT_NE(n, FILE_INVALID) << "n creates a file that is not there";
  EXPECT_EQ(FileWrite(data.data(), 10, n), 10);
  EXPECT_EQ(FileClose(n), 0);
}

TEST(FileLayer, DeleteAttributesFoldersReplace) {
  TempFolder folder;
  std::string file = Win(folder.Path("a.txt")), dir = Win(folder.Path("sub"));
  EXPECT_EQ(FileDelete(file.c_str()), 2u) << "missing file: ERROR_FILE_NOT_FOUND";
  EXPECT_EQ(FileDelete(Win(folder.Path("nope/a.txt")).c_str()), 3u) << "missing folder: ERROR_PATH_NOT_FOUND";
  EXPECT_EQ(FileGetAttributes(file.c_str()), (uint32_t)FILE_ATTR_NONE);
  EXPECT_EQ(FileSetAttributes(file.c_str(), FILE_ATTR_READONLY), -1);
  WriteWholeFile(folder.Path("a.txt"), Bytes{1});
  EXPECT_EQ(FileGetAttributes(file.c_str()), (uint32_t)FILE_ATTR_ARCHIVE);
  EXPECT_EQ(FileSetAttributes(file.c_str(), FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_ARCHIVE), 0);
  EXPECT_EQ(FileGetAttributes(file.c_str()), (uint32_t)(FILE_ATTR_READONLY | FILE_ATTR_ARCHIVE))
      << "hidden cannot be kept on POSIX";
  EXPECT_EQ(FileOpen(file.c_str(), "wb"), FILE_INVALID) << "a read-only file is not opened for writing";
  EXPECT_EQ(FileDelete(file.c_str()), 5u) << "read-only: ERROR_ACCESS_DENIED";
  EXPECT_EQ(FileSetAttributes(file.c_str(), FILE_ATTR_ARCHIVE), 0);
  EXPECT_EQ(FileGetAttributes(file.c_str()), (uint32_t)FILE_ATTR_ARCHIVE);

  EXPECT_EQ(CreateFolder(dir.c_str()), 0);
  EXPECT_EQ(CreateFolder(dir.c_str()), -1) << "exists already";
  EXPECT_EQ(FileGetAttributes(dir.c_str()), (uint32_t)FILE_ATTR_DIRECTORY);
  EXPECT_EQ(FileDelete(dir.c_str()), 5u) << "a folder is not deleted as a file";

  WriteWholeFile(folder.Path("b.txt"), Bytes{2, 2});
  EXPECT_EQ(FileReplace(Win(folder.Path("b.txt")).c_str(), file.c_str()), 0);
  EXPECT_EQ(ReadWholeFile(folder.Path("a.txt")), (Bytes{2, 2}));
  EXPECT_EQ(FileGetAttributes(Win(folder.Path("b.txt")).c_str()), (uint32_t)FILE_ATTR_NONE);
  EXPECT_EQ(FileDelete(file.c_str()), 0u);
  EXPECT_EQ(FileGetAttributes(file.c_str()), (uint32_t)FILE_ATTR_NONE);
}

TEST(FileLayer, Utf8NamesAreStoredAsTheyAre) {
  TempFolder folder;
  const char *utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xD0\x9F\xD1\x80\xD0\xB8 \xE6\x97\xA5 \xF0\x9F\x98\x80.txt";  // "Grüße При 日 😀.txt"
  std::string name = Win(folder.Path("")) + utf8;
  FileHandle h = FileOpen(name.c_str(), "wb");
  ASSERT_NE(h, FILE_INVALID);
  FileClose(h);
  struct stat info;
  EXPECT_EQ(stat(folder.Path(utf8).c_str(), &info), 0);
  EXPECT_EQ(FileGetAttributes(name.c_str()), (uint32_t)FILE_ATTR_ARCHIVE);
  // 32,767 UTF-16 units: the W calls' limit, whatever POSIX would take.
  std::string tooLong = Win(folder.Path("")) + std::string(32767, 'x');
  EXPECT_EQ(FileOpen(tooLong.c_str(), "wb"), FILE_INVALID) << "beyond the system's path limit";
}

// DOS times are local times. The offset applied is the one in force on the
// entry's own date (winter time for January, summer time for June), as
// unzip does, not today's offset as LocalFileTimeToFileTime on Windows:
// with a fixed zone (CET/CEST) the results below hold on any day.
TEST(FileLayer, DosTimesAreLocalTimeOfTheirOwnDate) {
  const char *savedZone = getenv("TZ");
  std::string saved = savedZone ? savedZone : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  TempFolder folder;
  FileHandle h = FileOpen(Win(folder.Path("t")).c_str(), "wb");
  ASSERT_NE(h, FILE_INVALID);
  struct stat info;
  FileTime utc;
  // 0x2821 = 2000-01-01 00:00 CET = 1999-12-31 23:00 UTC;
  // 2021-06-15 13:45:58 CEST (seconds stored halved) = 11:45:58 UTC.
  const struct {
    uint16_t date, time;
    time_t utc;
  } rows[] = {{0x2821, 0, 946681200},
              {(uint16_t)((41 << 9) | (6 << 5) | 15), (uint16_t)((13 << 11) | (45 << 5) | 29), 1623757558}};
  for (const auto &row : rows) {
    EXPECT_EQ(FileSetTime(h, row.date, row.time), 0);
    ASSERT_EQ(stat(folder.Path("t").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, row.utc) << row.date;
    ASSERT_EQ(DosDateTimeToUtc(row.date, row.time, &utc), 1);
    uint64_t ticks = (uint64_t)utc.highDateTime << 32 | utc.lowDateTime;
    EXPECT_EQ(ticks, 116444736000000000ull + (uint64_t)row.utc * 10000000ull) << row.date;
  }
  if (savedZone) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
  // Rejected dates and times: the Win32 code, nothing set, zero FileTime.
  for (uint16_t bad : {(uint16_t)0x2801 /* month 0 */, (uint16_t)0x29A1 /* month 13 */, (uint16_t)0x2820 /* day 0 */,
                       (uint16_t)((21 << 9) | (2 << 5) | 29) /* 29 Feb 2001 */}) {
    EXPECT_EQ(FileSetTime(h, bad, 0), 87) << bad;
    EXPECT_EQ(DosDateTimeToUtc(bad, 0, &utc), 0) << bad;
    EXPECT_EQ(utc.lowDateTime | utc.highDateTime, 0u);
  }
  EXPECT_EQ(DosDateTimeToUtc((uint16_t)((20 << 9) | (2 << 5) | 29), 0, &utc), 1) << "29 Feb 2000 exists";
  EXPECT_EQ(FileSetTime(h, 0x2821, (uint16_t)(24 << 11)), 87) << "hour 24";
  EXPECT_EQ(FileSetTime(h, 0x2821, 30), 87) << "second 60";
  ASSERT_EQ(stat(folder.Path("t").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1623757558) << "time unchanged after a refusal";
  FileClose(h);
}

TEST(FileLayer, WriteLimitSimulatesAFullDisk) {
  TempFolder folder;
  FileHandle h = FileOpen(Win(folder.Path("full")).c_str(), "wb");
  uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  FileSetWriteLimit(10);
  EXPECT_EQ(FileWrite(data, 8, h), 8);
  EXPECT_EQ(FileWrite(data, 8, h), 2) << "what still fits";
  EXPECT_EQ(FileWrite(data, 8, h), 0);
  FileSetWriteLimit(-1);
  EXPECT_EQ(FileWrite(data, 8, h), 8);
  FileClose(h);
  EXPECT_EQ(ReadWholeFile(folder.Path("full")).size(), 18u);
}

TEST(FileLayer, MemoryAndOemConversion) {
  void *block = MemAlloc(0);
  EXPECT_NE(block, nullptr) << "a block of size 0 exists, as with GlobalAlloc";
  MemFree(block);
  MemFree(nullptr);

  // Entry names: every byte against iconv's CP850 -> UTF-8.
  iconv_t cd = iconv_open("UTF-8", "CP850");
  ASSERT_NE(cd, (iconv_t)-1);
  for (int b = 1; b < 256; b++) {
    char one[2] = {(char)b, 0}, converted[8] = {0}, ours[8];
    char *in = one, *out = converted;
    size_t inLeft = 1, outLeft = sizeof converted;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), (size_t)-1) << "CP850 byte " << b;
    EXPECT_EQ(OemToUtf8(one, 1, ours, sizeof ours), strlen(converted)) << "CP850 byte " << b;
    EXPECT_STREQ(ours, converted) << "CP850 byte " << b;
  }
  iconv_close(cd);
}

}  // namespace
