// Extraction driver on real files: a full archive behind an SFX prefix,
// the existing-file policy, cancel, a full disk, failed entries that must
// not cost the old file, and archives built to escape or to break it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "extractor/zip/file_posix_testing.h"
#include "extractor/zip/summary.h"
#include "tests/zip/scripted_ui.h"
#include "tests/zip/zip_test_support.h"

namespace {

// Text with some repetition, different per seed: deflates to several blocks.
Bytes SampleText(size_t size, uint32_t seed) {
  Bytes out(size);
  uint32_t state = seed * 2654435761u + 1;
  static const char words[][8] = {"Apfel ", "Birne ", "Datei ", "Ordner ", "\xFC" "ber ", "Stra\xDF" "e ", "\r\n"};
  size_t at = 0;
  while (at < size) {
    state = state * 1103515245u + 12345u;
    const char *word = words[(state >> 16) % 7];
    for (size_t i = 0; word[i] && at < size; i++) out[at++] = (uint8_t)word[i];
    if ((state >> 8) % 5 == 0 && at < size) out[at++] = (uint8_t)(state >> 24);
  }
  return out;
}

ZipEntrySpec Entry(const std::string &name, const Bytes &data, uint16_t method = 8) {
  ZipEntrySpec entry;
  entry.name = name;
  entry.data = data;
  entry.method = method;
  return entry;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui = ScriptedUi();
    target_ = temp_.File("root/target");
    ASSERT_EQ(0, RunCommand("mkdir -p " + ShellQuote(target_)));
  }
  void TearDown() override { FileSetWriteLimit(-1); }

  // Writes the archive behind an 8 KiB prefix and extracts it into target_.
  void Extract(const std::vector<ZipEntrySpec> &entries, int overwriteAll = 0) {
    ExtractBytes(PrefixArchive(BuildZip(entries), 8192), overwriteAll);
  }
  void ExtractBytes(const Bytes &sfx, int overwriteAll = 0) {
    WriteFileBytes(temp_.File("archive.exe"), sfx);
    RunExtraction(CorePath(temp_.File("archive.exe")), CorePath(target_), overwriteAll);
  }
  Bytes Target(const std::string &relative) { return ReadFileBytes(target_ + "/" + relative); }
  bool InTarget(const std::string &relative) { return PathExists(target_ + "/" + relative); }
  // Every file of the temporary folder except the archive: all must lie in the target.
  std::vector<std::string> FilesOutsideTarget() {
    std::vector<std::string> outside;
    for (auto &file : ListTree(temp_.path()))
      if (file.first != "archive.exe" && file.first.rfind("root/target/", 0) != 0) outside.push_back(file.first);
    return outside;
  }
  std::vector<std::string> LeftoverTempFiles() {
    std::vector<std::string> found;
    for (auto &file : ListTree(target_))
      if (file.first.find("~ox") != std::string::npos) found.push_back(file.first);
    return found;
  }
  std::string Summary() {
    char message[SUMMARY_TEXT_BUFFER];
    ComposeSummary(message, "");
    return message;
  }

  TempFolder temp_;
  std::string target_;
};

TEST_F(DriverTest, WholeArchiveBehindAnSfxPrefix) {
  ZipEntrySpec readOnly = Entry("docs/nur lesen.txt", TextBytes("geschützt"), 0);
  readOnly.externalAttributes = 0x21;
  readOnly.date = 0x5A21;  // 2025-01-01
  readOnly.time = 0x6000;  // 12:00:00
  ZipEntrySpec folder = Entry("leer/", Bytes(), 0);
  folder.externalAttributes = 0x10;
  Extract({Entry("readme.txt", SampleText(70000, 1)), Entry("stored.bin", SampleText(5000, 2), 0),
           Entry("a/b/c.txt", SampleText(100, 3)), Entry("empty.txt", Bytes(), 0),
           Entry("empty-deflated.txt", Bytes()), folder, readOnly,
           Entry("/lead.txt", TextBytes("one leading separator stays inside"))});
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_EQ(SampleText(70000, 1), Target("readme.txt"));
  EXPECT_EQ(SampleText(5000, 2), Target("stored.bin"));
  EXPECT_EQ(SampleText(100, 3), Target("a/b/c.txt"));
  EXPECT_TRUE(InTarget("empty.txt"));
  EXPECT_EQ(0u, Target("empty.txt").size());
  EXPECT_TRUE(InTarget("empty-deflated.txt"));
  EXPECT_TRUE(DirectoryExists(CorePath(target_ + "/leer").c_str()));
  EXPECT_EQ(TextBytes("geschützt"), Target("docs/nur lesen.txt"));
  EXPECT_TRUE(InTarget("lead.txt"));
  EXPECT_EQ(7u, counters.filesExtracted);  // the folder entry is no file
  EXPECT_EQ(0u, counters.warningCount);
  EXPECT_TRUE(LeftoverTempFiles().empty());
  EXPECT_EQ(nullptr, storage.entry);  // working storage released at the end

  // Read-only from the attributes; the DOS time read as local time.
  struct stat info;
  ASSERT_EQ(0, stat((target_ + "/docs/nur lesen.txt").c_str(), &info));
  EXPECT_EQ(0u, info.st_mode & 0222);
  struct tm local = {};
  local.tm_year = 125, local.tm_mon = 0, local.tm_mday = 1, local.tm_hour = 12, local.tm_isdst = -1;
  EXPECT_EQ(mktime(&local), info.st_mtime);
  EXPECT_EQ("Dateien entpackt: 7   Fehler: 0   Warnungen: 0", Summary());
}

TEST_F(DriverTest, ExistingFilesOkOkNein) {
  for (const char *name : {"one.txt", "two.txt", "three.txt"}) WriteFileBytes(target_ + "/" + name, TextBytes("old"));
  chmod((target_ + "/two.txt").c_str(), 0444);  // read-only: made writable on "Ok"
  ui.overwriteButtons = {BUTTON_OK, BUTTON_OK, BUTTON_NO};
  Extract({Entry("one.txt", TextBytes("new 1")), Entry("two.txt", TextBytes("new 2")),
           Entry("three.txt", TextBytes("new 3")), Entry("fresh.txt", TextBytes("new 4"))});
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_EQ(3u, ui.questions.size());  // no question for a file that is not there
  EXPECT_EQ(TextBytes("new 1"), Target("one.txt"));
  EXPECT_EQ(TextBytes("new 2"), Target("two.txt"));
  EXPECT_EQ(TextBytes("old"), Target("three.txt"));
  EXPECT_EQ(TextBytes("new 4"), Target("fresh.txt"));
  EXPECT_EQ(3u, counters.filesExtracted);
}

// A replaced file keeps its mode (and, for root, its owner); a failed
// entry leaves content and mode alone, read-only included.
TEST_F(DriverTest, ReplacedFileKeepsItsProtection) {
  ZipEntrySpec bad = Entry("kept.txt", TextBytes("new"));
  bad.crcOverride = 1;
  struct Row {
    const char *label;
    ZipEntrySpec entry;
    mode_t before, after;
    const char *content;
  } rows[] = {
      {"0600 stays 0600, not the umask's 0644", Entry("kept.txt", TextBytes("new")), 0600, 0600, "new"},
      {"0640 stays 0640", Entry("kept.txt", TextBytes("new")), 0640, 0640, "new"},
      {"CRC failure: read-only content and mode stay", bad, 0400, 0400, "old"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    SetUp();
    std::string path = target_ + "/kept.txt";
    WriteFileBytes(path, TextBytes("old"));
    ASSERT_EQ(0, chmod(path.c_str(), row.before));
    bool root = geteuid() == 0;
    if (root) {
      ASSERT_EQ(0, chown(path.c_str(), 1234, 1235));
    }
    ui.overwriteButtons = {BUTTON_OK};
    ui.crcButton = BUTTON_CANCEL;
    Extract({row.entry});
    EXPECT_EQ(TextBytes(row.content), Target("kept.txt"));
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(row.after, info.st_mode & 07777);
    if (root) {
      EXPECT_EQ(1234u, info.st_uid) << "root keeps the old owner";
    }
    EXPECT_TRUE(LeftoverTempFiles().empty());
    chmod(path.c_str(), 0600);
  }
}

TEST_F(DriverTest, ExistingFilesAlleErsetzenAsksOnce) {
  for (const char *name : {"one.txt", "two.txt", "three.txt"}) WriteFileBytes(target_ + "/" + name, TextBytes("old"));
  ui.overwriteButtons = {BUTTON_REPLACE_ALL};
  Extract({Entry("one.txt", TextBytes("new 1")), Entry("two.txt", TextBytes("new 2")),
           Entry("three.txt", TextBytes("new 3"))});
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_EQ(1u, ui.questions.size());
  EXPECT_EQ(1, ui.overwriteAll);
  EXPECT_EQ(TextBytes("new 3"), Target("three.txt"));
  EXPECT_EQ(3u, counters.filesExtracted);
}

TEST_F(DriverTest, ExistingFilesAbbrechenStopsWithoutTouchingTheFile) {
  for (const char *name : {"one.txt", "two.txt", "three.txt"}) WriteFileBytes(target_ + "/" + name, TextBytes("old"));
  ui.overwriteButtons = {BUTTON_OK, BUTTON_CANCEL};
  Extract({Entry("one.txt", TextBytes("new 1")), Entry("two.txt", TextBytes("new 2")),
           Entry("three.txt", TextBytes("new 3"))});
  EXPECT_EQ(ERR_CANCELLED, extraction.errorCode);
  EXPECT_EQ(TextBytes("new 1"), Target("one.txt"));
  EXPECT_EQ(TextBytes("old"), Target("two.txt"));
  EXPECT_EQ(TextBytes("old"), Target("three.txt"));
  EXPECT_EQ(1u, counters.filesExtracted);
  EXPECT_EQ("\r\nAbbruch durch Anwender.\r\n\r\nDateien entpackt: 1   Fehler: 0   Warnungen: 0", Summary());
}

// Temporary files left by killed runs (names counted from 0, in the old
// and the current length) block no later run: existing targets are still
// replaced, and the left-overs are neither touched nor added to.
TEST_F(DriverTest, LeftOverTemporaryFilesDoNotBlockALaterRun) {
  char name[32];
  for (unsigned i = 0; i < 80; i++) {
    snprintf(name, sizeof name, "/~ox%05x.tmp", i);
    WriteFileBytes(target_ + name, TextBytes("old run"));
    snprintf(name, sizeof name, "/~ox%08x.tmp", i);
    WriteFileBytes(target_ + name, TextBytes("old run"));
  }
  std::vector<ZipEntrySpec> entries;
  for (int i = 0; i < 20; i++) {
    std::string file = "f" + std::to_string(i) + ".txt";
    WriteFileBytes(target_ + "/" + file, TextBytes("old"));
    entries.push_back(Entry(file, TextBytes("new " + file)));
  }
  Extract(entries, 1);
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  for (int i = 0; i < 20; i++) EXPECT_EQ(TextBytes("new f" + std::to_string(i) + ".txt"), Target("f" + std::to_string(i) + ".txt"));
  EXPECT_EQ(160u, LeftoverTempFiles().size());
}

TEST_F(DriverTest, CancelDuringAnEntryDeletesItAndKeepsTheFileItReplaced) {
  WriteFileBytes(target_ + "/big.txt", TextBytes("the old big file"));
  ui.stopAtReport = 2;  // during big.txt: small.txt makes one report
  Extract({Entry("small.txt", TextBytes("small")), Entry("big.txt", SampleText(400000, 9)),
           Entry("after.txt", TextBytes("never"))}, 1);
  EXPECT_EQ(ERR_CANCELLED, extraction.errorCode);
  EXPECT_EQ(TextBytes("small"), Target("small.txt"));
  EXPECT_EQ(TextBytes("the old big file"), Target("big.txt"));
  EXPECT_FALSE(InTarget("after.txt"));
  EXPECT_EQ(2u, counters.filesExtracted);  // the cancelled entry counts
  EXPECT_EQ(0, ui.crcWarnings);            // no CRC warning after a cancel
  EXPECT_TRUE(LeftoverTempFiles().empty());
  EXPECT_EQ("\r\nAbbruch durch Anwender.\r\n\r\nDateien entpackt: 2   Fehler: 0   Warnungen: 0", Summary());
}

TEST_F(DriverTest, FullDiskAtTheFifthOfTenEntries) {
  std::vector<ZipEntrySpec> entries;
  size_t written = 0;
  for (int i = 1; i <= 10; i++) {
    entries.push_back(Entry("file" + std::to_string(i) + ".txt", SampleText(60000, i)));
    if (i < 5) written += 60000;
  }
  FileSetWriteLimit((int64_t)written + 30000);  // the 5th entry finds the disk full halfway
  Extract(entries, 1);
  FileSetWriteLimit(-1);
  EXPECT_EQ(ERR_DISK_FULL, extraction.errorCode);
  for (int i = 1; i <= 4; i++) EXPECT_EQ(SampleText(60000, i), Target("file" + std::to_string(i) + ".txt"));
  for (int i = 5; i <= 10; i++) EXPECT_FALSE(InTarget("file" + std::to_string(i) + ".txt")) << i;
  EXPECT_TRUE(LeftoverTempFiles().empty());
  EXPECT_EQ("\r\nFehler: Diskette oder Festplatte ist voll.\r\n\r\n\r\n"
            "Dateien entpackt: 5   Fehler: 1   Warnungen: 0", Summary());
}

TEST_F(DriverTest, FailedEntriesNeverCostTheFileTheyReplace) {
  ZipEntrySpec wrongCrc = Entry("keep.txt", TextBytes("new but damaged"));
  wrongCrc.crcOverride = 0x12345678;

  // CRC warning answered Cancel: 9962, the old file is still there.
  WriteFileBytes(target_ + "/keep.txt", TextBytes("old contents"));
  ui.crcButton = BUTTON_CANCEL;
  Extract({wrongCrc}, 1);
  EXPECT_EQ(ERR_CRC, extraction.errorCode);
  EXPECT_EQ(TextBytes("old contents"), Target("keep.txt"));
  EXPECT_EQ(1u, counters.filesExtracted);
  EXPECT_TRUE(LeftoverTempFiles().empty());

  // No one to ask (a silent run leaves the slot empty): the same as Cancel.
  ui = ScriptedUi();
  ui.crcButton = 0;
  Extract({wrongCrc, Entry("next.txt", TextBytes("next"))}, 1);
  EXPECT_EQ(ERR_CRC, extraction.errorCode);
  EXPECT_EQ(TextBytes("old contents"), Target("keep.txt"));
  EXPECT_FALSE(InTarget("next.txt"));
  EXPECT_EQ(0u, counters.warningCount);
  EXPECT_TRUE(LeftoverTempFiles().empty());

  // Corrupt Deflate data: 9964, the old file is still there.
  ui = ScriptedUi();
  Bytes zip = BuildZip({Entry("keep.txt", SampleText(5000, 4))});
  zip[30 + 8] = 0xFF;  // first byte of the data: block type 3, invalid
  ExtractBytes(PrefixArchive(zip, 8192), 1);
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);
  EXPECT_EQ(TextBytes("old contents"), Target("keep.txt"));
  EXPECT_TRUE(LeftoverTempFiles().empty());

  // CRC warning answered OK: a warning, the new file replaces the old.
  ui = ScriptedUi();
  Extract({wrongCrc, Entry("next.txt", TextBytes("next"))}, 1);
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_EQ(1, ui.crcWarnings);
  EXPECT_EQ(TextBytes("new but damaged"), Target("keep.txt"));
  EXPECT_EQ(TextBytes("next"), Target("next.txt"));
  EXPECT_EQ("Dateien entpackt: 2   Fehler: 0   Warnungen: 1", Summary());

  // A folder where the file should go: code 5 before anything is decoded,
  // not counted, and the folder is left as it was.
  ui = ScriptedUi();
  ASSERT_EQ(0, RunCommand("mkdir -p " + ShellQuote(target_ + "/dir.txt/inner")));
  Extract({Entry("dir.txt", TextBytes("file"))}, 1);
  EXPECT_EQ(ERR_ACCESS, extraction.errorCode);
  EXPECT_EQ(0u, counters.filesExtracted);
  EXPECT_TRUE(PathExists(target_ + "/dir.txt/inner"));
  EXPECT_TRUE(LeftoverTempFiles().empty());
}

// Archives that lie about their data. Each ends with its code after the
// good entry in front of it; the lying entry leaves nothing behind and the
// run counts what it wrote.
TEST_F(DriverTest, ArchivesThatLieEndWithTheirCode) {
  ZipEntrySpec tooFar = Entry("weit.txt", TextBytes("aaaa"));
  tooFar.packedOverride = {0x4B, 0x04, 0x42, 0x00};  // fixed block: 'a', length 3 at distance 2, end
  ZipEntrySpec bomb = Entry("bombe.txt", Bytes(1 << 20, 0));
  bomb.sizeOverride = 100;                           // 1 MiB of zeros declared as 100 bytes
  ZipEntrySpec shortOne = Entry("kurz.txt", SampleText(5000, 7));
  shortOne.sizeOverride = 5001;                      // one byte more declared than it inflates to
  ZipEntrySpec storedLie = Entry("roh.txt", SampleText(500, 8), 0);
  storedLie.sizeOverride = 400;                      // stored: 500 bytes of data, 400 declared
  ZipEntrySpec damaged = Entry("crc.txt", SampleText(500, 9));
  damaged.crcOverride = 0;                           // and nobody to ask (silent run)
  // The good entry's name is Cyrillic (bit 11): twins compare in Unicode.
  const std::string good = "gut_\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";  // "gut_привет.txt"
  auto utf8 = [](const std::string &name, const Bytes &data) {
    ZipEntrySpec entry = Entry(name, data);
    entry.flags = 0x0800;
    return entry;
  };
  struct {
    const char *label;
    ZipEntrySpec entry;
    int32_t code;
    uint32_t counted;  // the lying entry counts when it was started
  } rows[] = {
      {"match before the entry's first byte", tooFar, ERR_INVALID_DATA, 2},
      {"more output than declared", bomb, ERR_INVALID_DATA, 2},
      {"less output than declared", shortOne, ERR_INVALID_DATA, 2},
      {"stored size differs from the declared size", storedLie, ERR_INVALID_DATA, 1},
      {"CRC mismatch without a question", damaged, ERR_CRC, 2},
      // Names that come out as the good entry's file on Windows.
      {"same name in other case", utf8("GUT_\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2.TXT", TextBytes("other")),
       ERR_INVALID_DATA, 1},
      {"same name with a trailing dot and blank", utf8(good + ". ", TextBytes("other")), ERR_INVALID_DATA, 1},
      // Bad names: the entry ends with 9964 before anything of it is written.
      {"invalid UTF-8 under bit 11", utf8("gut\xC3" "(.txt", TextBytes("other")), ERR_INVALID_DATA, 1},
      {"overlong UTF-8 for '/'", utf8("a\xC0\xAF..\xC0\xAF" "evil.txt", TextBytes("other")), ERR_INVALID_DATA, 1},
      {"encoded surrogate", utf8("gut\xED\xA0\x80.txt", TextBytes("other")), ERR_INVALID_DATA, 1},
      {"a name that becomes empty", Entry("/", TextBytes("other")), ERR_INVALID_DATA, 1},
  };
  FileSetWriteLimit(64 << 20);  // a regression fails short of filling the disk
  for (auto &row : rows) {
    ui = ScriptedUi();
    ui.crcButton = 0;
    ASSERT_EQ(0, RunCommand("rm -rf " + ShellQuote(target_) + " && mkdir -p " + ShellQuote(target_)));
    Extract({utf8(good, SampleText(40000, 1)), row.entry, Entry("nie.txt", TextBytes("never"))}, 1);
    EXPECT_EQ(row.code, extraction.errorCode) << row.label;
    EXPECT_EQ(row.counted, counters.filesExtracted) << row.label;
    auto files = ListTree(target_);
    ASSERT_EQ(1u, files.size()) << row.label;
    EXPECT_EQ(good, files[0].first) << row.label;
    EXPECT_TRUE(SampleText(40000, 1) == files[0].second) << row.label;
  }
  // The names of a run are remembered past the first block of the set.
  std::vector<ZipEntrySpec> many;
  for (int i = 0; i < 300; i++) many.push_back(Entry("n" + std::to_string(i), Bytes(), 0));
  many.push_back(Entry("N7", TextBytes("twin"), 0));
  Extract(many, 1);
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);
  EXPECT_EQ(300u, counters.filesExtracted);
  EXPECT_TRUE(Target("n7").empty());
}

TEST_F(DriverTest, NamesThatWouldLeaveTheTargetAreRefused) {
  const char *names[] = {
      "../evil.txt", "..\\evil.txt", "a/../../evil.txt", "a\\..\\..\\evil.txt", "../../evil.txt",
      "..", "a/..", "C:/evil.txt", "C:\\evil.txt", "C:evil.txt", "//server/share/evil.txt",
      "\\\\server\\share\\evil.txt", "/\\evil.txt", "a/.../evil.txt", "a/.. /evil.txt",
      "stream.txt:evil", "",
      // Device names: Win32 would hand the bytes to the device in any folder.
      "NUL", "con.txt", "a/COM1", "lpt9.log", "aux .txt", "com0", "LPT0.txt", "conin$", "CONOUT$.txt",
      // COM and LPT with a superscript 1, 2, 3: OEM 0xFB, 0xFD, 0xFC become U+00B9, U+00B2, U+00B3.
      "COM\xFB", "lpt\xFD.log", "a/Com\xFC.txt",
  };
  for (const char *name : names) {
    ui = ScriptedUi();
    Extract({Entry("inside.txt", TextBytes("ok")), Entry(name, TextBytes("escaped"))}, 1);
    EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode) << name;
    EXPECT_EQ(TextBytes("ok"), Target("inside.txt")) << name;
    EXPECT_EQ(1u, counters.filesExtracted) << name;
    EXPECT_TRUE(FilesOutsideTarget().empty()) << name;
  }
  // Names that only look odd stay allowed.
  ui = ScriptedUi();
  Extract({Entry("..hidden", TextBytes("1")), Entry("a/..b/c..", TextBytes("2")), Entry("./dot.txt", TextBytes("3")),
           Entry("console.txt", TextBytes("4")), Entry("com10", TextBytes("5")), Entry("nul2.txt", TextBytes("6")),
           Entry("lpt\xF8", TextBytes("7"))},  // OEM 0xF8: a degree sign, no digit
          1);
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_TRUE(InTarget("console.txt"));
  EXPECT_TRUE(InTarget("com10"));
  EXPECT_TRUE(InTarget("lpt\xC2\xB0"));
  EXPECT_TRUE(InTarget("nul2.txt"));
  EXPECT_TRUE(InTarget("..hidden"));
  EXPECT_TRUE(InTarget("a/..b/c.."));
  EXPECT_TRUE(InTarget("dot.txt"));
}

TEST_F(DriverTest, PathsBeyondTheSystemLimitFailTheEntryCleanly) {
  // Beyond 32,767 UTF-16 units with the target folder: code 5 before any
  // folder of it is made (the unit count itself: PathText.SystemPathLimit).
  std::string deep;
  for (int i = 0; i < 330; i++) deep += std::string(100, 'd') + "/";
  Extract({Entry("short.txt", TextBytes("s")), Entry(deep + "f.txt", TextBytes("long"))}, 1);
  EXPECT_EQ(ERR_ACCESS, extraction.errorCode);
  EXPECT_TRUE(InTarget("short.txt"));
  EXPECT_FALSE(InTarget(std::string(100, 'd')));
  EXPECT_EQ(1u, counters.filesExtracted);
  EXPECT_TRUE(FilesOutsideTarget().empty());
}

TEST_F(DriverTest, ArchivesWithoutEntriesOrWithoutEndRecord) {
  Extract({});
  EXPECT_EQ(ERR_NONE, extraction.errorCode);
  EXPECT_EQ(0u, counters.filesExtracted);

  // No end record: OpenArchive records 9966 and the run reports it.
  ExtractBytes(SampleText(20000, 5));
  EXPECT_EQ(ERR_NO_ARCHIVE, extraction.errorCode);
  EXPECT_STREQ("", extraction.archivePath);
  EXPECT_NE(std::string::npos, Summary().find("kein g\xFCltiges Archiv"));

  // A missing archive: code 2, kept by the run.
  ASSERT_EQ(1, AllocWorkingStorage());
  OpenArchive(CorePath(temp_.File("nothing.exe")).c_str());
  callbacks.confirmOverwrite = ScriptedConfirm;
  ExtractArchive();
  EXPECT_EQ(ERR_NOT_FOUND, extraction.errorCode);
}

TEST_F(DriverTest, HostileArchivesEndWithTheirCode) {
  Bytes good = BuildZip({Entry("a.txt", SampleText(3000, 1)), Entry("b.txt", SampleText(3000, 2))});
  size_t endAt = good.size() - 22;
  size_t centralAt = GetLe32(good, endAt + 16);

  Bytes outside = good;  // central directory offset beyond the file
  PutLe32(outside, endAt + 16, 0x70000000);
  ExtractBytes(outside, 1);
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);

  Bytes huge = good;  // an entry claiming 2 GiB of stored data
  PutLe32(huge, 18, 0x7FFFFFF0);
  ExtractBytes(huge, 1);
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);

  Bytes overlap = good;  // the second central record points at the first local header
  PutLe32(overlap, centralAt + 46 + 5 + 42, 0);
  ExtractBytes(overlap, 1);
  EXPECT_EQ(ERR_INVALID_DATA, extraction.errorCode);
  EXPECT_EQ(1u, counters.filesExtracted);

  // Truncated: without the end record's signature 9966; with the
  // signature but not the whole record, 9964 (cut short).
  for (size_t cut = 1; cut < good.size(); cut += 3) {
    ExtractBytes(Bytes(good.begin(), good.begin() + cut), 1);
    EXPECT_EQ(cut >= endAt + 4 ? ERR_INVALID_DATA : ERR_NO_ARCHIVE, extraction.errorCode) << cut;
  }
  // A piece missing in the middle, the end record intact: every stored
  // offset behind the gap is wrong. Some code, never a crash, never a
  // file outside the target.
  for (size_t from = 0; from + 8 < endAt; from += 11) {
    ui = ScriptedUi();
    Bytes gap = good;
    gap.erase(gap.begin() + from, gap.begin() + from + 8);
    ExtractBytes(gap, 1);
    EXPECT_NE(ERR_NONE, extraction.errorCode) << from;
    EXPECT_TRUE(FilesOutsideTarget().empty()) << from;
  }
  EXPECT_TRUE(LeftoverTempFiles().empty());
}

}  // namespace
