// Interoperability: archives made by Info-ZIP zip (deflated, stored,
// encrypted), 7-Zip (plain and ZipCrypto), bsdtar and Python's zipfile,
// put behind an SFX-sized prefix with their offsets moved (by "zip -A" and
// by our own helper), must extract through the driver and through
// "ostrel extract" to exactly what Info-ZIP unzip makes of the original.
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
  const char *command;  // run inside the source folder; $OUT is the archive
  bool encrypted;
};

const Maker kMakers[] = {
    {"zip deflated", "zip", "zip -q -r \"$OUT\" .", false},
    {"zip stored", "zip", "zip -q -r -0 \"$OUT\" .", false},
    {"zip encrypted", "zip", "zip -q -r -P geheim \"$OUT\" .", true},
    {"7z", "7z", "7z a -tzip -bd -y \"$OUT\" . >/dev/null", false},
    {"7z ZipCrypto", "7z", "7z a -tzip -bd -y -pgeheim -mem=ZipCrypto \"$OUT\" . >/dev/null", true},
    {"bsdtar", "bsdtar", "bsdtar --format zip -cf \"$OUT\" .", false},
    {"python zipfile deflated", "python3",
     "python3 -c \"import zipfile,os,sys\nz=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n"
     "for r,d,f in os.walk('.'):\n for n in sorted(d)+sorted(f): z.write(os.path.join(r,n))\nz.close()\" \"$OUT\"",
     false},
    {"python zipfile stored", "python3",
     "python3 -c \"import zipfile,os,sys\nz=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_STORED)\n"
     "for r,d,f in os.walk('.'):\n for n in sorted(d)+sorted(f): z.write(os.path.join(r,n))\nz.close()\" \"$OUT\"",
     false},
};

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
    std::string command = maker.command;
    ASSERT_EQ(0, RunCommand("cd " + ShellQuote(source) + " && OUT=" + ShellQuote(zip) + " && " + command));

    std::string reference = temp.File("unzip" + tag);
    ASSERT_EQ(0, RunCommand("LC_ALL=C.UTF-8 unzip -q -o -P geheim " + ShellQuote(zip) + " -d " + ShellQuote(reference)));
    auto expected = ListTree(reference);
    ASSERT_GE(expected.size(), 4u);

    // Our own prefix helper, through the driver in this process.
    Bytes sfx = PrefixArchive(ReadFileBytes(zip), 8192 + 77);
    ASSERT_FALSE(sfx.empty());
    std::string sfxPath = temp.File("made" + tag + ".exe");
    WriteFileBytes(sfxPath, sfx);
    ui = ScriptedUi();
    ui.password = kPassword;
    std::string driverOut = temp.File("driver" + tag);
    RunExtraction(CorePath(sfxPath), CorePath(driverOut), 1);
    EXPECT_EQ(0, extraction.errorCode);
    EXPECT_EQ(maker.encrypted ? 1 : 0, ui.passwordPrompts);  // one prompt serves every entry
    EXPECT_EQ(0, ui.crcWarnings);
    EXPECT_TRUE(expected == ListTree(driverOut));

    // "zip -A" moves the offsets itself; the native tool extracts that.
    std::string adjusted = temp.File("adjusted" + tag + ".exe");
    Bytes original = ReadFileBytes(zip);
    Bytes prefix(8192 + original.size(), 0x90);
    std::copy(original.begin(), original.end(), prefix.begin() + 8192);
    WriteFileBytes(adjusted, prefix);
    ASSERT_EQ(0, RunCommand("zip -q -A " + ShellQuote(adjusted)));
    std::string toolOut = temp.File("tool" + tag);
    EXPECT_EQ(0, RunCommand(std::string(kOstrel) + " extract --password geheim " + ShellQuote(adjusted) + " " +
                            ShellQuote(toolOut) + " >/dev/null </dev/null"));
    EXPECT_TRUE(expected == ListTree(toolOut));
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
  TempFolder source;
  WriteFileBytes(source.File("geheim.txt"), TextBytes("vertraulich"));
  std::string zip = temp_.File("enc.zip");
  ASSERT_EQ(0, RunCommand("cd " + ShellQuote(source.path()) + " && zip -q -P richtig " + ShellQuote(zip) + " geheim.txt"));
  EXPECT_EQ(0, Run("extract --password richtig " + ShellQuote(zip) + " " + Out()));
  EXPECT_EQ(TextBytes("vertraulich"), OutFile("geheim.txt"));
  // A wrong password and no terminal to ask: given up, code 9961.
  EXPECT_EQ(1, Run("extract --password falsch " + ShellQuote(zip) + " " + ShellQuote(temp_.File("wrong"))));
  EXPECT_NE(std::string::npos, output_.find("Fehler: Das Archiv ist mit einem Pa\xC3\x9Fwort gesch\xC3\xBCtzt."));
  EXPECT_FALSE(PathExists(temp_.File("wrong/geheim.txt")));
  // No password and no terminal: the same.
  EXPECT_EQ(1, Run("extract " + ShellQuote(zip) + " " + ShellQuote(temp_.File("wrong"))));

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
