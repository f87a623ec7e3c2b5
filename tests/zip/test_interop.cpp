// Interoperability: archives made by Info-ZIP zip (deflated, stored,
// encrypted, streamed, reading standard input, appended to a script),
// 7-Zip (plain, ZipCrypto, many files), bsdtar and Python's zipfile
// (ZIP64 fields, Unicode path fields), as made and behind an SFX-sized
// prefix with and without moved offsets, must extract through the driver
// and through "ostrel extract" to exactly what Info-ZIP unzip makes of
// them; archives of methods we cannot unpack are refused cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/zip/scripted_ui.h"
#include "tests/zip/zip_test_support.h"

namespace {

const char kOstrel[] = OSTREL_EMULATOR OSTREL_BINARY_DIR "/builder/ostrel";
const char kPassword[] = "geheim";

bool HaveTool(const char *name) { return RunCommand(std::string("command -v ") + name + " >/dev/null 2>&1") == 0; }

// The source tree: German names and contents (UTF-8 on disk), subfolders,
// an empty file and folder, a file that does not compress, a large one.
void MakeSourceTree(const std::string &root) {
  RunCommand("mkdir -p " + ShellQuote(root + "/Unterordner/tief") + " " + ShellQuote(root + "/leer"));
  WriteFileBytes(root + "/gr\xC3\xBC\xC3\x9F" "e.txt", TextBytes("Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln\n\xC3\x84pfel\n"));
  WriteFileBytes(root + "/leer.txt", Bytes());
  Bytes noise(150000);
  uint32_t state = 7;
  for (uint8_t &b : noise) b = (uint8_t)((state = state * 1664525u + 1013904223u) >> 24);
  WriteFileBytes(root + "/Unterordner/rauschen.bin", noise);
  std::string numbers;
  for (int i = 0; i < 40000; i++) numbers += std::to_string(i * 7919 % 100003) + "\n";
  WriteFileBytes(root + "/Unterordner/tief/zahlen.txt", TextBytes(numbers));
}

struct Maker {
  const char *label;
  const char *tool;     // must be installed
  const char *command;  // run inside the source folder; $OUT is the archive, $PY write_archive.py
  bool encrypted;
  bool unmoved;         // made with data in front and offsets not moved: no PrefixArchive
};

const Maker kMakers[] = {
    {"zip deflated", "zip", "zip -q -r \"$OUT\" .", false, false},
    {"zip stored", "zip", "zip -q -r -0 \"$OUT\" .", false, false},
    {"zip encrypted", "zip", "zip -q -r -P geheim \"$OUT\" .", true, false},
    {"zip -fz: ZIP64 records throughout", "zip", "zip -q -r -fz \"$OUT\" .", false, false},
    {"zip to a pipe, with standard input: data descriptors", "zip",
     "cat Unterordner/tief/zahlen.txt | zip -q -r - . - | cat >\"$OUT\"", false, false},
    {"zip adding standard input: ZIP64 records", "zip",
     "zip -q -r \"$OUT\" . && cat Unterordner/tief/zahlen.txt | zip -q \"$OUT\" -", false, false},
    {"shell script with a zip appended by cat", "zip",
     "zip -q -r \"$OUT.zip\" . && printf '#!/bin/sh\\necho Hallo\\nexit 0\\n' >\"$OUT\" && cat \"$OUT.zip\" >>\"$OUT\"",
     false, true},
    {"the same script after zip -A", "zip",
     "zip -q -r \"$OUT.zip\" . && printf '#!/bin/sh\\nexit 0\\n' >\"$OUT\" && cat \"$OUT.zip\" >>\"$OUT\" && zip -q -A \"$OUT\"",
     false, false},
    {"7z", "7z", "7z a -tzip -bd -y \"$OUT\" . >/dev/null", false, false},
    {"7z ZipCrypto", "7z", "7z a -tzip -bd -y -pgeheim -mem=ZipCrypto \"$OUT\" . >/dev/null", true, false},
    {"7z with many files", "7z",
     "cp -r . \"$OUT.d\" && python3 \"$PY\" files \"$OUT.d/viele\" 1000 && cd \"$OUT.d\" && "
     "7z a -tzip -bd -y \"$OUT\" . >/dev/null", false, false},
    {"bsdtar", "bsdtar", "bsdtar --format zip -cf \"$OUT\" .", false, false},
    {"python zipfile deflated", "python3", "python3 \"$PY\" deflated \"$OUT\"", false, false},
    {"python zipfile stored", "python3", "python3 \"$PY\" stored \"$OUT\"", false, false},
    {"python zipfile force_zip64", "python3", "python3 \"$PY\" force_zip64 \"$OUT\"", false, false},
    {"Unicode path fields, CRC matching", "python3", "python3 \"$PY\" unicode_matching \"$OUT\"", false, false},
    {"Unicode path fields, CRC stale", "python3", "python3 \"$PY\" unicode_stale \"$OUT\"", false, false},
};

// Each archive extracts like unzip makes of it: as made, behind an SFX-
// sized prefix with its offsets moved (PrefixArchive), behind a prefix by
// plain concatenation (offsets not moved), all through the driver, and
// after "zip -A" moved the offsets of the last, through "ostrel extract".
TEST(Interop, PeerArchivesExtractLikeUnzip) {
  ASSERT_TRUE(HaveTool("unzip"));
  TempFolder temp;
  std::string source = temp.File("src");
  MakeSourceTree(source);
  int index = 0;
  for (const Maker &maker : kMakers) {
    SCOPED_TRACE(maker.label);
    ASSERT_TRUE(HaveTool(maker.tool)) << maker.tool;
    std::string tag = std::to_string(index++);
    std::string zip = temp.File("made" + tag + ".zip");
    ASSERT_EQ(0, RunCommand("cd " + ShellQuote(source) + " && OUT=" + ShellQuote(zip) +
                            " && PY=" + ShellQuote(OSTREL_SOURCE_DIR "/tests/zip/write_archive.py") + " && " +
                            maker.command));

    // Exit code 1 is a warning (extra bytes in front, a stale Unicode path field).
    std::string reference = temp.File("unzip" + tag);
    ASSERT_GE(1, RunCommand("LC_ALL=C.UTF-8 unzip -q -o -P geheim " + ShellQuote(zip) + " -d " +
                            ShellQuote(reference) + " 2>/dev/null"));
    auto expected = ListTree(reference);
    ASSERT_GE(expected.size(), 4u);

    Bytes original = ReadFileBytes(zip);
    Bytes concatenated(8192 + original.size(), 0x90);
    std::copy(original.begin(), original.end(), concatenated.begin() + 8192);
    std::vector<std::pair<std::string, Bytes>> shapes = {{"as made", original}, {"concatenated", concatenated}};
    if (!maker.unmoved) shapes.push_back({"offsets moved", PrefixArchive(original, 8192 + 77)});
    for (auto &shape : shapes) {
      SCOPED_TRACE(shape.first);
      ASSERT_FALSE(shape.second.empty());
      std::string path = temp.File("shape" + tag + ".exe");
      WriteFileBytes(path, shape.second);
      ui = ScriptedUi();
      ui.password = kPassword;
      std::string out = temp.File("driver" + tag + shape.first);
      RunExtraction(CorePath(path), CorePath(out), 1);
      EXPECT_EQ(0, extraction.errorCode);
      EXPECT_EQ(maker.encrypted ? 1 : 0, ui.passwordPrompts);  // one prompt serves every entry
      EXPECT_EQ(0, ui.crcWarnings);
      EXPECT_TRUE(expected == ListTree(out));
    }

    // "zip -A" moves the offsets itself; the native tool extracts that.
    // Info-ZIP 3.0 cannot for an archive with ZIP64 end records ("Zip file
    // structure invalid"): the tool then gets the concatenated file.
    std::string adjusted = temp.File("adjusted" + tag + ".exe");
    WriteFileBytes(adjusted, concatenated);
    if (RunCommand("zip -q -A " + ShellQuote(adjusted) + " 2>/dev/null") != 0) {
      const uint8_t locator[4] = {'P', 'K', 6, 7};
      ASSERT_NE(original.end(), std::search(original.begin(), original.end(), locator, locator + 4));
      WriteFileBytes(adjusted, concatenated);
    }
    std::string toolOut = temp.File("tool" + tag);
    EXPECT_EQ(0, RunCommand(std::string(kOstrel) + " extract --password geheim " + ShellQuote(adjusted) + " " +
                            ShellQuote(toolOut) + " >/dev/null </dev/null"));
    EXPECT_TRUE(expected == ListTree(toolOut));
    // "ostrel test" walks and checks what the extraction wrote: every file.
    std::string log = temp.File("test" + tag + ".log");
    EXPECT_EQ(0, RunCommand(std::string(kOstrel) + " test --password geheim " + ShellQuote(adjusted) + " >" +
                            ShellQuote(log) + " 2>&1 </dev/null"));
    Bytes tested = ReadFileBytes(log);
    EXPECT_NE(std::string(tested.begin(), tested.end()).find("all " + std::to_string(expected.size()) + " files intact"),
              std::string::npos) << std::string(tested.begin(), tested.end());
  }
}

// Archives whose methods we cannot unpack, made by the tools that write
// them: the entries before the refused one are extracted, the refused one
// leaves nothing behind (no file, no temporary file, no password prompt),
// and the run ends with the method's own code.
struct Refused {
  const char *label;
  const char *tool;
  const char *command;  // run in a folder holding a.txt (tiny: 7z stores it) and b.txt
  int32_t code;
  bool firstKept;       // a.txt, the first entry, is extracted
};

const Refused kRefused[] = {
    {"7z bzip2", "7z", "7z a -tzip -mm=BZip2 -bso0 -bsp0 \"$OUT\" a.txt b.txt", ERR_METHOD, true},
    {"7z LZMA", "7z", "7z a -tzip -mm=LZMA -bso0 -bsp0 \"$OUT\" a.txt b.txt", ERR_METHOD, true},
    {"7z Deflate64", "7z", "7z a -tzip -mm=Deflate64 -bso0 -bsp0 \"$OUT\" a.txt b.txt", ERR_METHOD, true},
    {"zip bzip2", "zip", "zip -q -Z bzip2 \"$OUT\" a.txt b.txt", ERR_METHOD, true},
    {"7z AES-256", "7z", "7z a -tzip -pgeheim -mem=AES256 -bso0 -bsp0 \"$OUT\" a.txt b.txt", ERR_AES, false},
};

TEST(Interop, UnsupportedMethodsAreRefusedBeforeAnythingIsWritten) {
  TempFolder temp;
  std::string source = temp.File("src");
  RunCommand("mkdir -p " + ShellQuote(source));
  WriteFileBytes(source + "/a.txt", TextBytes("kurz"));
  std::string big;
  for (int i = 0; i < 5000; i++) big += std::to_string(i) + " Zeilen\n";
  WriteFileBytes(source + "/b.txt", TextBytes(big));
  int index = 0;
  for (const Refused &row : kRefused) {
    SCOPED_TRACE(row.label);
    ASSERT_TRUE(HaveTool(row.tool)) << row.tool;
    std::string tag = std::to_string(index++);
    std::string zip = temp.File("refused" + tag + ".zip");
    ASSERT_EQ(0, RunCommand("cd " + ShellQuote(source) + " && OUT=" + ShellQuote(zip) + " && " + row.command));
    ui = ScriptedUi();
    ui.password = kPassword;
    std::string out = temp.File("out" + tag);
    RunExtraction(CorePath(zip), CorePath(out), 1);
    EXPECT_EQ(row.code, extraction.errorCode);
    EXPECT_EQ(0, ui.passwordPrompts);
    auto files = ListTree(out);
    ASSERT_EQ(row.firstKept ? 1u : 0u, files.size());
    if (row.firstKept) {
      EXPECT_EQ("a.txt", files[0].first);
      EXPECT_EQ(TextBytes("kurz"), files[0].second);
    }
  }
}

// The native tool as a user meets it: exit codes, the summary text, the
// overwrite question on the terminal, passwords and CRC mismatches.
class ToolTest : public ::testing::Test {
 protected:
  // Runs ostrel with args and stdin text; stdout+stderr land in output_.
  int Run(const std::string &args, const std::string &input = "") {
    WriteFileBytes(temp_.File("stdin.txt"), TextBytes(input));
    int status = RunCommand(std::string(kOstrel) + " " + args + " <" + ShellQuote(temp_.File("stdin.txt")) + " >" +
                            ShellQuote(temp_.File("out.txt")) + " 2>&1");
    Bytes out = ReadFileBytes(temp_.File("out.txt"));
    output_.assign(out.begin(), out.end());
    return status;
  }
  std::string Sfx(const std::vector<ZipEntrySpec> &entries) {
    std::string path = temp_.File("t.exe");
    WriteFileBytes(path, PrefixArchive(BuildZip(entries), 8192));
    return ShellQuote(path);
  }
  std::string Out() { return ShellQuote(temp_.File("out dir")); }
  Bytes OutFile(const std::string &name) { return ReadFileBytes(temp_.File("out dir/" + name)); }
  TempFolder temp_;
  std::string output_;
};

ZipEntrySpec Text(const std::string &name, const std::string &text) {
  ZipEntrySpec entry;
  entry.name = name;
  entry.data = TextBytes(text);
  return entry;
}

TEST_F(ToolTest, UsageAndSummary) {
  EXPECT_EQ(0, Run("extract --help"));
  EXPECT_NE(std::string::npos, output_.find("usage: ostrel extract"));
  EXPECT_EQ(2, Run("extract onlyone"));
  EXPECT_EQ(2, Run("extract --bogus a b"));
  EXPECT_EQ(2, Run("extract a b c"));

  EXPECT_EQ(0, Run("extract " + Sfx({Text("a.txt", "A"), Text("sub/b.txt", "B")}) + " " + Out()));
  EXPECT_EQ("Dateien entpackt: 2   Fehler: 0   Warnungen: 0\n", output_);
  EXPECT_EQ(TextBytes("B"), OutFile("sub/b.txt"));

  WriteFileBytes(temp_.File("plain.exe"), Bytes(9000, 0x41));
  EXPECT_EQ(1, Run("extract " + ShellQuote(temp_.File("plain.exe")) + " " + Out()));
  EXPECT_EQ("\nFehler: Das Archiv ist anscheinend kein g\xC3\xBCltiges Archiv.\n\n\n"
            "Dateien entpackt: 0   Fehler: 1   Warnungen: 0\n", output_);
  EXPECT_EQ(1, Run("extract " + ShellQuote(temp_.File("missing.exe")) + " " + Out()));
  EXPECT_NE(std::string::npos, output_.find("Fehler: \n"));
}

TEST_F(ToolTest, AskOnTheTerminal) {
  std::string sfx = Sfx({Text("one.txt", "new 1"), Text("two.txt", "new 2"), Text("three.txt", "new 3")});
  ASSERT_EQ(0, Run("extract " + sfx + " " + Out()));
  for (const char *name : {"one.txt", "two.txt", "three.txt"}) WriteFileBytes(temp_.File(std::string("out dir/") + name), TextBytes("old"));

  // Ok, a word it does not know (asked again), Nein, then Alle ersetzen.
  EXPECT_EQ(0, Run("extract --ask " + sfx + " " + Out(), "o\nvielleicht\nn\na\n"));
  EXPECT_EQ(TextBytes("new 1"), OutFile("one.txt"));
  EXPECT_EQ(TextBytes("old"), OutFile("two.txt"));
  EXPECT_EQ(TextBytes("new 3"), OutFile("three.txt"));
  EXPECT_NE(std::string::npos, output_.find("Dateien entpackt: 2   Fehler: 0"));

  // Abbrechen, and the end of input, stop with the cancel text.
  WriteFileBytes(temp_.File("out dir/one.txt"), TextBytes("old"));
  EXPECT_EQ(1, Run("extract --ask " + sfx + " " + Out(), "b\n"));
  EXPECT_NE(std::string::npos, output_.find("Abbruch durch Anwender."));
  EXPECT_EQ(TextBytes("old"), OutFile("one.txt"));
  EXPECT_EQ(1, Run("extract --ask " + sfx + " " + Out(), ""));
  EXPECT_EQ(TextBytes("old"), OutFile("one.txt"));
}

TEST_F(ToolTest, PasswordsAndCrcMismatches) {
  // A committed archive: one made at test time has random encryption
  // headers, and one in 256 lets a wrong password pass the header check.
  std::string zip = ShellQuote(OSTREL_SOURCE_DIR "/tests/decoders/data/zip_shared.zip");
  EXPECT_EQ(0, Run("extract --password geheim " + zip + " " + Out()));
  EXPECT_EQ(TextBytes("kurz\n"), OutFile("small.txt"));
  // A wrong password and no terminal to ask: given up, code 9961.
  EXPECT_EQ(1, Run("extract --password falsch " + zip + " " + ShellQuote(temp_.File("wrong"))));
  EXPECT_NE(std::string::npos, output_.find("Fehler: Das Archiv ist mit einem Pa\xC3\x9Fwort gesch\xC3\xBCtzt."));
  EXPECT_TRUE(ListTree(temp_.File("wrong")).empty());
  // No password and no terminal: the same.
  EXPECT_EQ(1, Run("extract " + zip + " " + ShellQuote(temp_.File("wrong"))));

  // A damaged entry never passes as success: reported, discarded, exit 1.
  ZipEntrySpec damaged = Text("kaputt.txt", "damaged contents");
  damaged.crcOverride = 1;
  EXPECT_EQ(1, Run("extract " + Sfx({Text("gut.txt", "fine"), damaged}) + " " + ShellQuote(temp_.File("crc"))));
  EXPECT_NE(std::string::npos, output_.find("CRC mismatch in kaputt.txt"));
  EXPECT_NE(std::string::npos, output_.find("Fehler: Pr\xC3\xBC" "fsummenfehler."));
  EXPECT_TRUE(PathExists(temp_.File("crc/gut.txt")));
  EXPECT_FALSE(PathExists(temp_.File("crc/kaputt.txt")));
}

}  // namespace
