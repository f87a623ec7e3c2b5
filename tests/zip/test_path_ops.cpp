// Path and text operations: SplitPath's fields and flags, the trailing
// backslash helpers, the padded copies and folder chains on a real disk.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"
#include "tests/zip/zip_test_support.h"

namespace {

struct SplitRow {
  const char *path, *drive, *directory, *name, *extension;
  int flags;
};

// One row per case: every output and the flag bits.
const SplitRow kSplitRows[] = {
    {"C:\\a\\b\\file.txt", "C:", "\\a\\b\\", "file", ".txt", 30},
    {"file.txt", "", "", "file", ".txt", 6},
    {"C:file.txt", "C:", "", "file", ".txt", 22},
    {"a.b.c", "", "", "a.b", ".c", 6},
    {"\\a\\", "", "\\a\\", "", "", 8},
    {"..", "", "..", "", "", 8},
    {"\\x\\*.txt", "", "\\x\\", "*", ".txt", 15},
    {".", "", ".", "", "", 8},
    {"a\\..", "", "a\\..", "", "", 8},
    {"a/b/c.d", "", "a/b/", "c", ".d", 14},          // forward slashes separate too
    {"   lead.txt", "", "", "lead", ".txt", 6},      // leading blanks are skipped
    {"\ttab.txt", "", "", "\ttab", ".txt", 6},     // only blanks are skipped, not tabs
    {"file.", "", "", "file", ".", 6},
    {"x:\\", "x:", "\\", "", "", 24},
    {"C:", "C:", "", "", "", 16},
    {"dir.ext\\name", "", "dir.ext\\", "name", "", 12},  // a dot in a folder is no extension
    {"a:b:c", "a:", "", "b:c", "", 20},              // a colon elsewhere is an ordinary character
    {"w?ld\\x", "", "w?ld\\", "x", "", 12},          // wildcards count only in name and extension
    {"na?e.t*t", "", "", "na?e", ".t*t", 7},
    {"", "", "", "", "", 0},
};

TEST(SplitPath, FieldsAndFlagsOfEveryExample) {
  for (const SplitRow &row : kSplitRows) {
    char drive[SPLIT_FIELD], directory[SPLIT_FIELD], name[SPLIT_FIELD], extension[SPLIT_FIELD];
    memset(drive, 'X', sizeof drive);
    int flags = SplitPath(row.path, drive, directory, name, extension);
    EXPECT_EQ(row.flags, flags) << row.path;
    EXPECT_STREQ(row.drive, drive) << row.path;
    EXPECT_STREQ(row.directory, directory) << row.path;
    EXPECT_STREQ(row.name, name) << row.path;
    EXPECT_STREQ(row.extension, extension) << row.path;
    // Absent outputs change nothing about the result.
    EXPECT_EQ(flags, SplitPath(row.path, nullptr, nullptr, nullptr, nullptr)) << row.path;
  }
}

TEST(SplitPath, LongPathsUseTheirFirst256CharactersAndFieldsStayTerminated) {
  std::string longName(300, 'n');
  char name[SPLIT_FIELD + 8], extension[SPLIT_FIELD];
  memset(name, 'Z', sizeof name);
  EXPECT_EQ(SPLIT_NAME, SplitPath(longName.c_str(), nullptr, nullptr, name, extension));
  EXPECT_EQ(255u, strlen(name));  // a 256-character name is cut to the field
  EXPECT_EQ('Z', name[SPLIT_FIELD]);  // nothing written past the field

  // The extension beyond character 256 is not seen at all.
  std::string cut = std::string(256, 'a') + ".txt";
  EXPECT_EQ(SPLIT_NAME, SplitPath(cut.c_str(), nullptr, nullptr, name, extension));
  EXPECT_STREQ("", extension);

  std::string deep = "C:\\" + std::string(280, 'd') + "\\f.x";
  char directory[SPLIT_FIELD];
  int flags = SplitPath(deep.c_str(), nullptr, directory, name, extension);
  // The copy ends inside the long folder name, which becomes the name.
  EXPECT_EQ(SPLIT_DRIVE | SPLIT_DIRECTORY | SPLIT_NAME, flags);
  EXPECT_STREQ("\\", directory);
  EXPECT_EQ(253u, strlen(name));
}

TEST(PathText, CopiesAndTrailingBackslashes) {
  char buffer[16];
  memset(buffer, 'X', sizeof buffer);
  CopyPadded(buffer, "abc", 6);
  EXPECT_EQ(0, memcmp(buffer, "abc\0\0\0X", 7));
  memset(buffer, 'X', sizeof buffer);
  CopyPadded(buffer, "abcdefgh", 4);  // longer than n: no terminator
  EXPECT_EQ(0, memcmp(buffer, "abcdX", 5));

  char field[SPLIT_FIELD + 4];
  memset(field, 'X', sizeof field);
  std::string big(400, 'b');
  CopyLimited(field, big.c_str());
  EXPECT_EQ(255u, strlen(field));
  CopyLimited(field, "short");
  EXPECT_STREQ("short", field);
  // Cut at a character: a sequence that would straddle byte 255 goes whole.
  CopyLimited(field, (std::string(254, 'a') + "\xC3\xBC" "x").c_str());
  EXPECT_EQ(std::string(254, 'a'), field);
  CopyLimited(field, (std::string(253, 'a') + "\xC3\xBC" "x").c_str());
  EXPECT_EQ(std::string(253, 'a') + "\xC3\xBC", field);

  char out[PATH_BUFFER];
  AddTrailingBackslash("C:\\Ziel", out, sizeof out);
  EXPECT_STREQ("C:\\Ziel\\", out);
  AddTrailingBackslash("C:\\Ziel\\", out, sizeof out);
  EXPECT_STREQ("C:\\Ziel\\", out);
  AddTrailingBackslash("", out, sizeof out);
  EXPECT_STREQ("\\", out);
  // Results that do not fit are refused, never cut or overwritten: both
  // would name another folder.
  std::string full(PATH_BUFFER - 1, 'z');      // 260 characters
  EXPECT_EQ(0, AddTrailingBackslash(full.c_str(), out, sizeof out));
  EXPECT_STREQ("", out);
  full[PATH_BUFFER - 2] = '\\';              // 260 with the separator: fits
  EXPECT_EQ(1, AddTrailingBackslash(full.c_str(), out, sizeof out));
  EXPECT_EQ(full, out);
  full.pop_back();                             // 259 without it: room for one
  EXPECT_EQ(1, AddTrailingBackslash(full.c_str(), out, sizeof out));
  EXPECT_EQ(full + "\\", out);
  EXPECT_EQ(0, AddTrailingBackslash("abcdef", buffer, 5));

  StripTrailingBackslash("C:\\", out, sizeof out);
  EXPECT_STREQ("C:\\", out);
  StripTrailingBackslash("C:\\a\\", out, sizeof out);
  EXPECT_STREQ("C:\\a", out);
  StripTrailingBackslash("\\a\\", out, sizeof out);
  EXPECT_STREQ("\\a\\", out);  // three characters keep it

  EXPECT_EQ(2u, NthBackslash("C:\\a\\b", 1));
  EXPECT_EQ(4u, NthBackslash("C:\\a\\b", 2));
  EXPECT_EQ(6u, NthBackslash("C:\\a\\b", 3));
  EXPECT_EQ(3u, NthBackslash("a/b", 1));  // forward slashes do not count

  char text[] = "a/b\\c/d";
  SlashesToBackslashes(text);
  EXPECT_STREQ("a\\b\\c\\d", text);

  SetTargetFolder("C:\\Ziel");
  EXPECT_STREQ("C:\\Ziel\\", extraction.targetFolder);
  SetTargetFolder("");
  EXPECT_STREQ("\\", extraction.targetFolder);
}

// The system's limit: 32,767 UTF-16 units with the terminator. A UTF-8
// character of up to three bytes is one unit, a four-byte one (beyond the
// BMP) a surrogate pair.
TEST(PathText, SystemPathLimit) {
  auto times = [](const std::string &piece, int count) {
    std::string out;
    for (int i = 0; i < count; i++) out += piece;
    return out;
  };
  const std::string cjk = "\xE6\x97\xA5", emoji = "\xF0\x9F\x98\x80";
  struct {
    const char *label;
    std::string folder;  // SetTargetFolder adds "\"
    int fits;
  } rows[] = {
      {"ASCII, 32,766 units", std::string(32765, 'z'), 1},
      {"ASCII, 32,767 units", std::string(32766, 'z'), 0},
      {"three-byte characters, 32,766 units", times(cjk, 32765), 1},
      {"three-byte characters, 32,767 units", times(cjk, 32766), 0},
      {"pairs, 32,766 units", times(emoji, 16382) + "a", 1},
      {"pairs, 32,767 units", times(emoji, 16383), 0},
  };
  for (auto &row : rows) {
    extraction.errorCode = 0;
    EXPECT_EQ(row.fits, SetTargetFolder(row.folder.c_str())) << row.label;
    EXPECT_EQ(row.fits ? ERR_NONE : ERR_ACCESS, extraction.errorCode) << row.label;
    EXPECT_EQ(row.fits ? row.folder + "\\" : "", extraction.targetFolder) << row.label;
  }
  // An entry name counts with the folder it lands in.
  SetTargetFolder(std::string(32764, 'z').c_str());
  static char target[LONG_PATH_BUFFER];
  extraction.errorCode = 0;
  EXPECT_EQ(1, BuildTargetPath("a", target));
  EXPECT_EQ(1, BuildTargetPath(cjk.c_str(), target));
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_EQ(0, BuildTargetPath(emoji.c_str(), target));
  EXPECT_EQ(ERR_ACCESS, extraction.errorCode);
}

TEST(PathDisk, DirectoryChainsAndExistenceTests) {
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  std::string chain = temp.Core() + "\\a\\b\\c";
  EXPECT_FALSE(DirectoryExists(chain.c_str()));
  EXPECT_EQ(1, MakeDirectoryChain(chain.c_str()));
  EXPECT_TRUE(DirectoryExists(chain.c_str()));
  EXPECT_FALSE(FileExists(chain.c_str()));
  EXPECT_EQ(1, MakeDirectoryChain(chain.c_str()));  // all there already

  // A trailing backslash and MakeParentFolders name the same chain.
  std::string parent = temp.Core() + "\\p\\q\\";
  EXPECT_EQ(1, MakeParentFolders(parent.c_str()));
  EXPECT_TRUE(DirectoryExists((temp.Core() + "\\p\\q").c_str()));

  // A file in the way: the chain stops there and makes nothing below it.
  WriteFileBytes(temp.File("a/file"), TextBytes("x"));
  EXPECT_TRUE(FileExists((temp.Core() + "\\a\\file").c_str()));
  EXPECT_EQ(0, MakeDirectoryChain((temp.Core() + "\\a\\file\\deeper").c_str()));
  EXPECT_FALSE(PathExists(temp.File("a/file/deeper")));
  EXPECT_EQ(TextBytes("x"), ReadFileBytes(temp.File("a/file")));

  std::string tooLong = temp.Core() + "\\" + std::string(300, 'l');
  EXPECT_EQ(0, MakeDirectoryChain(tooLong.c_str()));

}

}  // namespace
