// The in-memory file layer that the whole-archive fuzz target runs on: its
// escape check is only as good as the layer's path rules, so each rule is
// one row here, and the Windows file rules the driver relies on are one
// sequence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extractor/zip/file_io.h"
#include "extractor/zip/file_memory_testing.h"
#include "extractor/zip/path_ops.h"

namespace {

void Collect(const MemoryFileInfo *info, void *context) {
  if (!info->isFolder) static_cast<std::vector<std::string> *>(context)->push_back(info->path);
}

std::vector<std::string> Files() {
  std::vector<std::string> files;
  MemoryFilesWalk(Collect, &files);
  return files;
}

TEST(MemoryFiles, PathsResolveAsOnWindows) {
  const std::string tooLong = "C:\\t\\" + std::string(32767 - 5, 'x');  // 32,767 UTF-16 units
  struct Row {
    std::string path;      // opened for writing in a fresh C:\t
    const char *lands;     // the file that results; null when the call fails
    uint32_t devices;      // device names counted
  } rows[] = {
      {"C:\\t\\a.txt", "C:\\t\\a.txt", 0},
      {"c:/t//b.txt", "C:\\t\\b.txt", 0},              // "/" and runs of separators
      {"\\t\\.\\c.txt", "C:\\t\\c.txt", 0},            // current drive; "." goes
      {"C:\\t\\x\\..\\..\\up.txt", "C:\\up.txt", 0},   // ".." is lexical, also above a missing folder
      {"C:\\..\\..\\root.txt", "C:\\root.txt", 0},     // never above the drive
      {"C:\\T\\Case.TXT", "C:\\t\\Case.TXT", 0},       // the folder as created, the name as written
      {"C:\\t\\trail. . ", "C:\\t\\trail", 0},         // a last component loses trailing dots and blanks
      {"C:\\t\\nul.txt", nullptr, 1},
      {"C:\\t\\Com\xC2\xB9", nullptr, 1},              // COM with superscript one
      {"C:\\T\\\xE6\x97\xA5\xF0\x9F\x98\x80", "C:\\t\\\xE6\x97\xA5\xF0\x9F\x98\x80", 0},  // UTF-8 names as written
      {"C:\\t\\lpt0\\x", nullptr, 1},                  // in any component
      {"C:\\t\\a:b", nullptr, 0},                      // a stream
      {"C:\\t\\q?.txt", nullptr, 0},
      {"C:\\missing\\f.txt", nullptr, 0},
      {"relative.txt", nullptr, 0},
      {"\\\\Server\\share\\f", "\\\\Server\\share\\f", 0},  // a network share is a root
      {"\\\\server\\f", nullptr, 0},                    // the share itself
      {"\\\\server", nullptr, 0},
      {tooLong, nullptr, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.path);
    MemoryFilesReset();
    ASSERT_EQ(CreateFolder("C:\\t"), 0);
    FileHandle handle = FileOpen(row.path.c_str(), "wb");
    EXPECT_EQ(handle != FILE_INVALID, row.lands != nullptr);
    if (handle != FILE_INVALID) {
      EXPECT_EQ(FileClose(handle), 0);
    }
    EXPECT_EQ(Files(), row.lands ? std::vector<std::string>{row.lands} : std::vector<std::string>{});
    EXPECT_EQ(MemoryFilesDeviceCalls(), row.devices);
  }
  // Folders of a network path are made from below the share on.
  MemoryFilesReset();
  EXPECT_EQ(1, MakeDirectoryChain("\\\\srv\\s\\Ziel\\a"));
  EXPECT_EQ(1, DirectoryExists("\\\\SRV\\s\\ziel\\A"));
}

TEST(MemoryFiles, FileRulesTheDriverMeetsOnWindows) {
  MemoryFilesReset();
  ASSERT_EQ(CreateFolder("C:\\t"), 0);
  EXPECT_EQ(CreateFolder("C:\\T"), -1) << "exists already, in another case";
  EXPECT_EQ(CreateFolder("C:\\t\\\xD0\xBF\xD1\x80\xD0\xB8"), 0);
  EXPECT_EQ(CreateFolder("C:\\t\\\xD0\x9F\xD0\xA0\xD0\x98"), -1) << "exists already, Cyrillic in another case";
  EXPECT_EQ(CreateFolder(("C:\\t\\" + std::string(300, 'd')).c_str()), 0) << "no MAX_PATH for folders";
  EXPECT_EQ(FileDelete("C:\\t\\none"), 2u);
  EXPECT_EQ(FileDelete("C:\\none\\none"), 3u);
  EXPECT_EQ(FileDelete("C:\\t"), 5u) << "a folder";

  char buffer[4] = {};
  FileHandle out = FileOpen("C:\\t\\f", "w");
  ASSERT_NE(out, FILE_INVALID);
  EXPECT_EQ(FileWrite("abc", 3, out), 3);
  EXPECT_EQ(FileRead(buffer, 3, out), -1) << "opened for writing only";
  EXPECT_EQ(FileOpen("C:\\T\\F", "n"), FILE_INVALID) << "CREATE_NEW: the name exists, in another case";
  EXPECT_EQ(FileDelete("C:\\t\\f"), 32u) << "still open";
  EXPECT_EQ(FileReplace("C:\\t\\f", "C:\\t\\g"), -1) << "still open";
  EXPECT_EQ(FileSetTime(out, 0x0021, 0), 0) << "1 January 1980";
  EXPECT_EQ(FileSetTime(out, 0x0001, 0), 87) << "month 0";
  EXPECT_EQ(FileClose(out), 0);
  EXPECT_EQ(FileClose(out), -1);
  EXPECT_EQ(MemoryFilesOpenHandles(), 0u);

  EXPECT_EQ(FileSetAttributes("C:\\t\\f", FILE_ATTR_READONLY), 0);
  EXPECT_EQ(FileOpen("C:\\t\\f", "w"), FILE_INVALID) << "read-only";
  EXPECT_EQ(FileDelete("C:\\t\\f"), 5u) << "read-only";
  ASSERT_TRUE(MemoryFilesPut("C:\\t\\new", (const uint8_t *)"xy", 2));
  EXPECT_EQ(FileSetAttributes("C:\\t\\f", FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_ARCHIVE), 0);
  EXPECT_EQ(FileOpen("C:\\t\\f", "w"), FILE_INVALID) << "hidden";
  // Streams: the replaced file's stream stays unless the new file has its own (ReplaceFileW).
  EXPECT_EQ(FileWriteStream("C:\\t\\f", "Zone.Identifier", "z", 1), -1) << "read-only";
  EXPECT_EQ(FileSetAttributes("C:\\t\\f", FILE_ATTR_HIDDEN | FILE_ATTR_ARCHIVE), 0);
  EXPECT_EQ(FileWriteStream("C:\\t\\f", "Zone.Identifier", "z", 1), 0);
  EXPECT_EQ(FileSetAttributes("C:\\t\\f", FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_ARCHIVE), 0);
  std::string longName = "C:\\t\\" + std::string(32755, 'n');  // 32,760 units; with the stream beyond 32,767
  ASSERT_TRUE(MemoryFilesPut(longName.c_str(), (const uint8_t *)"x", 1));
  EXPECT_EQ(FileWriteStream(longName.c_str(), "Zone.Identifier", "z", 1), -1) << "path:stream reaches the path limit";
  EXPECT_EQ(FileDelete(longName.c_str()), 0u);
  EXPECT_EQ(FileReplace("C:\\t\\new", "C:\\t\\F"), 0) << "over a read-only hidden file: cleared only now";
  EXPECT_EQ(FileGetAttributes("C:\\t\\f"), (uint32_t)FILE_ATTR_ARCHIVE) << "its other attributes stay";
  EXPECT_EQ(FileReadStream("C:\\t\\F", "zone.identifier", buffer, 4), 1);
  EXPECT_EQ(FileReadStream("C:\\t\\F", "other", buffer, 4), -1);
  EXPECT_EQ(Files(), std::vector<std::string>{"C:\\t\\F"});

  FileHandle in = FileOpen("C:\\t\\f", "r");
  EXPECT_EQ(FileSeek(in, 5, FILE_SEEK_BEGIN), 5);
  EXPECT_EQ(FileRead(buffer, 4, in), 0) << "beyond the end";
  EXPECT_EQ(FileSeek(in, -1, FILE_SEEK_END), 1);
  EXPECT_EQ(FileRead(buffer, 4, in), 1);
  EXPECT_EQ(buffer[0], 'y');
  EXPECT_EQ(FileSeek(in, -3, FILE_SEEK_CURRENT), -1);
  EXPECT_EQ(FileWrite("z", 1, in), -1) << "opened for reading only";
  EXPECT_EQ(FileClose(in), 0);
}

}  // namespace
