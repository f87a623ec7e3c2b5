// ostrel build, run as a user runs it, checked against independent peers:
// the native extractor, Info-ZIP, 7-Zip, bsdtar, Python's zipfile and
// osslsigncode. The stub and extractor are stand-ins made here (minimal
// PE images with the marks the builder looks for): the native checks
// never run them, and the tests do not depend on the cross builds.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "builder/pe_inspect.h"
#include "extractor/zip/zip_format.h"
#include "packed/sfx_layout.h"
#include "packed/stage_memory.h"
#include "tests/zip/zip_test_support.h"

namespace {

// The command that starts ostrel: under the emulator of a cross build, if any.
const std::string kOstrel = OSTREL_EMULATOR + ShellQuote(std::string(OSTREL_BINARY_DIR) + "/builder/ostrel");

// A PE image of size bytes: headers, one section at file offset 0x400
// holding the resource tree, and in it type 24 (a manifest) and a dialog
// named MAINWIN (the extractor's mark) when asked. PE32 for i386, PE32+
// for x86-64.
struct FakePeSpec {
  uint16_t machine = 0x014C;
  bool manifest = false;
  bool mainDialog = false;
  size_t size = SFX_STUB_SIZE;
};
Bytes FakePe(const FakePeSpec &spec) {
  bool wide = spec.machine == 0x8664;
  size_t optional = 0x58, optionalSize = wide ? 240 : 224, directories = optional + (wide ? 112 : 96);
  Bytes pe(spec.size, 0);
  pe[0] = 'M', pe[1] = 'Z';
  PutLe32(pe, 0x3C, 0x40);                     // e_lfanew
  memcpy(&pe[0x40], "PE\0\0", 4);
  PutLe16(pe, 0x44, spec.machine);
  PutLe16(pe, 0x46, 1);                        // sections
  PutLe16(pe, 0x54, (uint16_t)optionalSize);
  PutLe16(pe, 0x56, 0x0102);                   // characteristics: executable, 32-bit words
  PutLe16(pe, optional, wide ? 0x20B : 0x10B);
  PutLe16(pe, optional + 68, 2);               // subsystem: Windows GUI
  PutLe32(pe, directories - 4, 16);            // data directories
  PutLe32(pe, directories + 8 * 2, 0x1000);    // resource directory RVA ...
  PutLe32(pe, directories + 8 * 2 + 4, 0x200); // ... and size
  size_t section = optional + optionalSize;    // .rsrc: RVA 0x1000, raw 0x200 bytes at 0x400
  PutLe32(pe, section + 12, 0x1000);
  PutLe32(pe, section + 16, 0x200);
  PutLe32(pe, section + 20, 0x400);
  size_t entry = 0x410;                        // root: ID entries only
  PutLe16(pe, 0x400 + 14, (uint16_t)(spec.manifest + spec.mainDialog));
  if (spec.mainDialog) {
    PutLe32(pe, entry, 5), PutLe32(pe, entry + 4, 0x80000040u), entry += 8;  // dialogs: directory at +0x40
    PutLe16(pe, 0x440 + 12, 1);                                              // one named entry ...
    PutLe32(pe, 0x450, 0x80000080u), PutLe32(pe, 0x454, 0x80000060u);        // ... its name at +0x80
    PutLe16(pe, 0x480, 7);
    for (int i = 0; i < 7; i++) PutLe16(pe, 0x482 + 2 * i, (uint8_t)"MAINWIN"[i]);
  }
  if (spec.manifest) PutLe32(pe, entry, 24), PutLe32(pe, entry + 4, 0x80000060u);
  return pe;
}

Bytes FakeStub(bool manifest) {
  FakePeSpec spec;
  spec.manifest = manifest;
  return FakePe(spec);
}

Bytes FakeExtractor(uint16_t machine) {
  FakePeSpec spec;
  spec.machine = machine, spec.mainDialog = true, spec.size = 4096;
  return FakePe(spec);
}

struct CommandResult {
  int status;
  std::string output;  // stdout and stderr
};

CommandResult RunCapture(const TempFolder &tmp, const std::string &command) {
  std::string log = tmp.File("run.log");
  CommandResult run;
  run.status = RunCommand("(" + command + ") >" + ShellQuote(log) + " 2>&1");
  Bytes text = ReadFileBytes(log);
  run.output.assign(text.begin(), text.end());
  remove(log.c_str());
  return run;
}

// "ostrel build" with the stand-in programs and the given options.
std::string BuildCommand(const TempFolder &tmp, const std::string &options, const std::string &output,
                         const std::string &input) {
  if (!PathExists(tmp.File("stub.exe"))) {
    WriteFileBytes(tmp.File("stub.exe"), FakeStub(false));
    WriteFileBytes(tmp.File("extractor.exe"), FakeExtractor(0x014C));
  }
  return kOstrel + " build -q --stub " + ShellQuote(tmp.File("stub.exe")) + " --extractor " +
         ShellQuote(tmp.File("extractor.exe")) + " " + options + " -o " + ShellQuote(output) + " " +
         ShellQuote(input);
}

// The unpacked extractor image of an SFX file.
Bytes ImageOf(const Bytes &sfx) {
  Bytes image;
  StageResult result;
  if (sfx.size() <= SFX_STUB_SIZE ||
      !DecodeStageInMemory(sfx.data() + SFX_STUB_SIZE, sfx.size() - SFX_STUB_SIZE, &image, &result))
    return Bytes();
  image.resize((size_t)result.declared);
  return image;
}

void MakeTree(const std::string &root) {
  RunCommand("mkdir -p " + ShellQuote(root + "/a/b/c") + " " + ShellQuote(root + "/leerer Ordner/innen") + " " +
             ShellQuote(root + "/Gr\xC3\xBC\xC3\x9F" "e"));
  WriteFileBytes(root + "/a/b/c/tief.txt", TextBytes("ganz unten\r\n"));
  WriteFileBytes(root + "/leer.txt", Bytes());
  WriteFileBytes(root + "/Gr\xC3\xBC\xC3\x9F" "e/\xC3\x9C" "bersicht.txt", TextBytes("\xC3\xA4\xC3\xB6\xC3\xBC\n"));
  Bytes noise(300000);
  uint32_t state = 12345;
  for (uint8_t &b : noise) b = (uint8_t)((state = state * 1103515245u + 12345u) >> 24);
  WriteFileBytes(root + "/zufall.bin", noise);
  chmod((root + "/a/b/c/tief.txt").c_str(), 0444);
}

TEST(Build, FolderRoundTripAndPeersAcceptTheSfx) {
  TempFolder tmp;
  std::string in = tmp.File("in"), sfx = tmp.File("out dir/beispiel.exe");
  MakeTree(in);
  // 100 MB with a marker every MiB: large offsets and sizes at a modest cost.
  std::string big = in + "/gro\xC3\x9F.bin";
  FILE *file = fopen(big.c_str(), "wb");
  ASSERT_TRUE(file);
  std::vector<char> block(1 << 20, 0);
  for (int i = 0; i < 100; i++) {
    snprintf(block.data(), 64, "block %d of the large file", i);
    fwrite(block.data(), 1, block.size(), file);
  }
  fclose(file);
  RunCommand("mkdir -p " + ShellQuote(tmp.File("out dir")));

  CommandResult built = RunCapture(tmp, BuildCommand(tmp, "", sfx, in));
  ASSERT_EQ(built.status, 0) << built.output;
  CommandResult extracted = RunCapture(tmp, kOstrel + " extract " + ShellQuote(sfx) + " " + ShellQuote(tmp.File("x")));
  ASSERT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_EQ(RunCommand("diff -r " + ShellQuote(in) + " " + ShellQuote(tmp.File("x"))), 0);

  // Peers must take the SFX file as a ZIP archive without a complaint.
  struct Peer {
    const char *command;  // %s: the SFX file
    const char *quiet;    // text that must not appear
  } peers[] = {
      {"unzip -t %s", "warning"},
      {"zipinfo %s", "warning"},
      {"7z t %s", "WARNING"},
      {"bsdtar -tf %s", "bsdtar:"},
      {"python3 -W error -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
       "sys.exit(1 if z.testzip() else 0)' %s", "Error"},
  };
  for (const Peer &peer : peers) {
    char command[512];
    snprintf(command, sizeof command, peer.command, ShellQuote(sfx).c_str());
    CommandResult run = RunCapture(tmp, command);
    EXPECT_EQ(run.status, 0) << command << "\n" << run.output;
    EXPECT_EQ(run.output.find(peer.quiet), std::string::npos) << command << "\n" << run.output;
  }
}

TEST(Build, ZipInputsExtractAsTheirOriginals) {
  TempFolder tmp;
  std::string in = tmp.File("in");
  MakeTree(in);
  struct Maker {
    const char *label;
    std::string command;  // run inside the tree, writes ../NAME.zip
    const char *password = "";
  } makers[] = {
      {"zip", "zip -q -r -9 ../zip.zip ."},
      {"7z", "7z a -bd -tzip ../7z.zip . >/dev/null"},
      {"bsdtar", "bsdtar --format zip -cf ../bsdtar.zip ."},  // data descriptors
      {"python", "python3 -c 'import os,zipfile\n"
                 "with zipfile.ZipFile(\"../python.zip\",\"w\",zipfile.ZIP_DEFLATED) as z:\n"
                 " for d,_,fs in os.walk(\".\"):\n"
                 "  for f in fs:\n"
                 "   p=os.path.join(d,f)[2:]\n"
                 "   with open(p,\"rb\") as s, z.open(p,\"w\",force_zip64=True) as t: t.write(s.read())'"},
      // Prepended data: the offsets inside are off by the prefix, as in another SFX.
      {"prefixed", "zip -q -r ../plain.zip . && (head -c 5000 /dev/urandom; cat ../plain.zip) >../prefixed.zip"},
      // Encrypted with data descriptors: the password check byte comes from the time.
      {"zipcrypt", "bsdtar --format zip --options zip:encryption=zipcrypt --passphrase pw -cf ../zipcrypt.zip .", "pw"},
  };
  for (const Maker &maker : makers) {
    SCOPED_TRACE(maker.label);
    std::string zip = tmp.File(std::string(maker.label) + ".zip"), sfx = tmp.File(std::string(maker.label) + ".exe");
    ASSERT_EQ(RunCommand("cd " + ShellQuote(in) + " && " + maker.command), 0);
    CommandResult built = RunCapture(tmp, BuildCommand(tmp, "", sfx, zip));
    ASSERT_EQ(built.status, 0) << built.output;
    std::string ours = tmp.File(std::string("ours-") + maker.label), theirs = tmp.File(std::string("unzip-") + maker.label);
    std::string password = ShellQuote(maker.password);
    ASSERT_EQ(RunCommand(kOstrel + " extract --password " + password + " " + ShellQuote(sfx) + " " +
                         ShellQuote(ours) + " >/dev/null"),
              0);
    RunCommand("unzip -qq -P " + password + " -d " + ShellQuote(theirs) + " " + ShellQuote(zip) + " 2>/dev/null");
    EXPECT_EQ(ListTree(ours), ListTree(theirs));
    EXPECT_FALSE(ListTree(ours).empty());
    CommandResult strict = RunCapture(tmp, "unzip -tq -P " + password + " " + ShellQuote(sfx));
    EXPECT_EQ(strict.output.find("warning"), std::string::npos) << strict.output;
  }
}

// Names in every script, written by every peer: each archive and the SFX
// built from it extract natively with exactly the source's names and
// contents. Info-ZIP 3.0 writes the UTF-8 bytes without bit 11 from a
// Unix host; the "unicode path field" row writes ASCII header names with
// the true name only in an Info-ZIP Unicode path field; the others set bit 11.
TEST(Build, NamesInEveryScriptFromEveryWriter) {
  TempFolder tmp;
  const std::string src = tmp.File("quelle");
  const char *names[] = {
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt",  // Привет.txt
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.txt",  // Пример.txt: no twin of Привет.txt
      "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt",  // Ελληνικά.txt
      "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85.txt",  // Zażółć gęślą.txt
      "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD.txt",  // Příliš žluťoučký.txt
      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB.txt",  // 日本語/ファイル.txt
      "\xF0\x9F\x98\x80 Emoji.txt",
  };
  for (const char *name : names) {
    std::string path = src + "/" + name;
    RunCommand("mkdir -p " + ShellQuote(path.substr(0, path.rfind('/'))));
    WriteFileBytes(path, TextBytes(std::string("Inhalt von ") + name + "\n"));
  }
  const auto expected = ListTree(src);
  ASSERT_EQ(expected.size(), sizeof names / sizeof names[0]);
  const std::string py = ShellQuote(OSTREL_SOURCE_DIR "/tests/zip/write_archive.py");
  const struct {
    const char *label;
    std::string command;  // run in the source folder; writes $OUT
  } writers[] = {
      {"zip", "zip -q -r \"$OUT\" ."},
      {"7z", "7z a -tzip -bd -y \"$OUT\" . >/dev/null"},
      {"python zipfile", "python3 " + py + " deflated \"$OUT\""},
      {"bsdtar", "bsdtar --format zip -cf \"$OUT\" ."},
      {"unicode path field", "python3 " + py + " unicode_matching \"$OUT\""},
  };
  int index = 0;
  for (const auto &writer : writers) {
    SCOPED_TRACE(writer.label);
    std::string tag = std::to_string(index++), zip = tmp.File("w" + tag + ".zip"), sfx = tmp.File("w" + tag + ".exe");
    ASSERT_EQ(0, RunCommand("cd " + ShellQuote(src) + " && export LC_ALL=C.UTF-8 OUT=" + ShellQuote(zip) + " && " +
                            writer.command));
    for (const std::string &input : {zip, sfx}) {
      if (input == sfx) {
        CommandResult built = RunCapture(tmp, BuildCommand(tmp, "", sfx, zip));
        ASSERT_EQ(built.status, 0) << built.output;
      }
      std::string out = tmp.File("x" + tag + (input == sfx ? "sfx" : "zip"));
      CommandResult run = RunCapture(tmp, kOstrel + " extract " + ShellQuote(input) + " " + ShellQuote(out));
      EXPECT_EQ(run.status, 0) << run.output;
      EXPECT_TRUE(expected == ListTree(out)) << input;
    }
  }
  // The folder itself, built and extracted; list prints the names in UTF-8.
  std::string sfx = tmp.File("ordner.exe");
  CommandResult built = RunCapture(tmp, BuildCommand(tmp, "", sfx, src));
  ASSERT_EQ(built.status, 0) << built.output;
  CommandResult run = RunCapture(tmp, kOstrel + " extract " + ShellQuote(sfx) + " " + ShellQuote(tmp.File("xo")));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(expected == ListTree(tmp.File("xo")));
  CommandResult listed = RunCapture(tmp, kOstrel + " list " + ShellQuote(sfx));
  for (const char *name : names) EXPECT_NE(listed.output.find(name), std::string::npos) << name;
  // A name that is not UTF-8 (a Linux folder can hold one): the file and the offset are named.
  WriteFileBytes(src + "/Gr\xFC\xDF" "e.txt", TextBytes("latin-1"));
  CommandResult refused = RunCapture(tmp, BuildCommand(tmp, "", tmp.File("nie.exe"), src));
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_NE(refused.output.find("Gr\xFC\xDF" "e.txt: the name is not valid UTF-8 (byte offset 2)"), std::string::npos)
      << refused.output;
  EXPECT_FALSE(PathExists(tmp.File("nie.exe")));
}

// Every refusal leaves the folder of the output as it was: no output, no
// temporary file, an older output untouched.
TEST(Build, RefusalsWriteNothing) {
  TempFolder tmp;
  auto zipOf = [](const std::string &name, uint16_t method = 8) {
    ZipEntrySpec entry;
    entry.name = name;
    entry.data = TextBytes("inhalt");
    entry.method = method;
    entry.flags = 0x0800;  // UTF-8 names
    return BuildZip({entry});
  };
  ZipEntrySpec lower, upper;
  lower.name = "ordner/Liesmich.txt", upper.name = "ORDNER/LIESMICH.TXT.";
  lower.data = upper.data = TextBytes("inhalt");
  Bytes twins = BuildZip({lower, upper});
  ZipEntrySpec small, capital;  // "привет.txt", "ПРИВЕТ.txt"
  small.name = "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";
  capital.name = "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2.txt";
  small.flags = capital.flags = 0x0800;
  Bytes cyrillicTwins = BuildZip({small, capital});
  std::string deep;
  for (int i = 0; i < 330; i++) deep += std::string(100, 'd') + "/";
  Bytes huge = zipOf("riesig.bin", 0);
  uint32_t directory = GetLe32(huge, huge.size() - ZIP_END_SIZE + 16);
  PutLe32(huge, directory + 24, 0x80000000u);  // uncompressed size: 2 GiB, central ...
  PutLe32(huge, 22, 0x80000000u);              // ... and local
  // 65,536 entries need ZIP64 end records: the plain one's count says 0xFFFF.
  std::vector<ZipEntrySpec> manySpecs(65536);
  for (size_t i = 0; i < manySpecs.size(); i++) manySpecs[i].name = "f" + std::to_string(i), manySpecs[i].method = 0;
  Bytes many = BuildZip(manySpecs);
  size_t endAt = many.size() - ZIP_END_SIZE;
  Bytes end(many.begin() + endAt, many.end());
  many.resize(endAt);
  Bytes end64(56 + 20, 0);
  PutLe32(end64, 0, 0x06064B50u);       // ZIP64 end record
  PutLe32(end64, 4, 44);                // its size after this field
  PutLe16(end64, 12, 45), PutLe16(end64, 14, 45);
  PutLe32(end64, 24, 65536), PutLe32(end64, 32, 65536);
  PutLe32(end64, 40, GetLe32(end, 12)), PutLe32(end64, 48, GetLe32(end, 16));
  PutLe32(end64, 56, 0x07064B50u);      // locator
  PutLe32(end64, 64, (uint32_t)endAt);  // where the ZIP64 end record lies
  PutLe32(end64, 72, 1);
  PutLe16(end, 8, 0xFFFF), PutLe16(end, 10, 0xFFFF);
  many.insert(many.end(), end64.begin(), end64.end());
  many.insert(many.end(), end.begin(), end.end());
  FakePeSpec stub64;
  stub64.machine = 0x8664;
  WriteFileBytes(tmp.File("stub64.exe"), FakePe(stub64));
  WriteFileBytes(tmp.File("extractor64.exe"), FakeExtractor(0x8664));
  WriteFileBytes(tmp.File("other.exe"), FakeStub(false));
  WriteFileBytes(tmp.File("relativ.cfg"), TextBytes("interactive\ndefault-folder = Ziel\n"));
  struct Case {
    const char *label;
    Bytes zip;            // input archive; empty: the example folder
    std::string options;
    int status;
    const char *message;  // part of what the user is told
  } cases[] = {
      {"intro text", {}, "--intro-text " + std::string(512, 'a'), 2, "at most 511"},
      {"caption", {}, "--intro-caption " + std::string(264, 'a'), 2, "at most 263"},
      {"info text", {}, "--info-text " + std::string(512, 'a'), 2, "at most 511"},
      {"run file", {}, "--run " + std::string(256, 'a'), 2, "at most 255"},
      {"folder", {}, "--default-folder " + std::string(256, 'a'), 2, "at most 255"},
      {"text charset", {}, "--intro-text '\xE2\x82\xBD'", 2, "no Windows-1252 form"},  // rouble sign
      // Settings and programs that only the running SFX file would find wrong.
      {"relative folder", {}, "--default-folder 'Ziel\\Unterordner'", 2, "not an absolute folder"},
      {"folder without drive", {}, "--default-folder '\\Ziel'", 2, "not an absolute folder"},
      {"folder with slashes", {}, "--default-folder C:/Ziel", 2, "with backslashes"},
      {"folder character", {}, "--default-folder 'C:\\a|b'", 2, "does not allow '|'"},
      {"folder from a file", {}, "--settings " + ShellQuote(tmp.File("relativ.cfg")), 2, "relativ.cfg:2: --default"},
      {"run file in a folder", {}, "--run 'bin\\setup.exe'", 2, "directly in the target folder"},
      {"extractor is text", {}, "--extractor " + ShellQuote(tmp.File("relativ.cfg")), 1, "not a Windows program"},
      {"extractor is another program", {}, "--extractor " + ShellQuote(tmp.File("other.exe")), 1, "not an Ostrel"},
      {"win64 extractor", {}, "--extractor " + ShellQuote(tmp.File("extractor64.exe")), 1, "for the same Windows"},
      {"win64 stub", {}, "--stub " + ShellQuote(tmp.File("stub64.exe")), 1, "for the same Windows"},
      {"long path", zipOf(deep + "f.txt"), "", 1, "at most 32000 fit"},
      {"invalid UTF-8", zipOf("ab\xC3" "(.txt"), "", 1, "not valid UTF-8 (byte offset 2)"},
      {"parent", zipOf("a/../../b.txt"), "", 1, "'..'"},
      {"drive", zipOf("C:/b.txt"), "", 1, "drive letter"},
      {"device", zipOf("ordner/con.txt"), "", 1, "Windows device"},
      {"one file on Windows", twins, "", 1, "the same file or folder on Windows as an earlier entry"},
      {"one file on Windows, Cyrillic", cyrillicTwins, "", 1, "the same file or folder on Windows"},
      {"2 GiB", huge, "", 1, "below 2 GiB"},
      {"entries", many, "", 1, "at most 65535"},
      {"bzip2", zipOf("b.txt", 12), "", 1, "bzip2"},
      {"LZMA", zipOf("b.txt", 14), "", 1, "LZMA"},
      {"Zstandard", zipOf("b.txt", 93), "", 1, "Zstandard"},
      {"AES", zipOf("b.txt", 99), "", 1, "AES"},
      {"not a ZIP", TextBytes("just text"), "", 1, "not a ZIP archive"},
  };
  std::string examples = std::string(OSTREL_SOURCE_DIR) + "/examples";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    std::string out = tmp.File(std::string("out-") + c.label);
    RunCommand("mkdir -p " + ShellQuote(out));
    WriteFileBytes(out + "/setup.exe", TextBytes("older build"));
    std::string input = examples;
    if (!c.zip.empty()) WriteFileBytes(input = tmp.File("input.zip"), c.zip);
    CommandResult run = RunCapture(tmp, BuildCommand(tmp, c.options, out + "/setup.exe", input));
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_EQ(ListTree(out), (std::vector<std::pair<std::string, Bytes>>{{"setup.exe", TextBytes("older build")}}));
  }
}

// The settings block and texts at the end of the unpacked image, read by
// the layout alone: texts back to back, then the 21-byte block.
TEST(Build, SettingsReachTheBlock) {
  TempFolder tmp;
  WriteFileBytes(tmp.File("wiederholt.cfg"),
                 TextBytes("# repeated builds\ninteractive\nintro-text = Zeile 1\\nZeile 2\nintro-style ok-cancel\n"
                           "default-folder = C:\\neu\n"));  // a path keeps its backslash
  struct Case {
    std::string options;
    int16_t silent, overwrite, style;
    std::string texts[5];  // Windows-1252: intro, caption, info, run, folder
  } cases[] = {
      {"", 1, 1, 0, {}},
      {"--interactive --intro-text 'Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x93 Hallo' --intro-caption Titel --intro-style yes-no "
       "--info-text Info --run setup.exe --default-folder 'C:\\Ziel'",
       0, 1, 1, {"Gr\xFC\xDF" "e \x96 Hallo", "Titel", "Info", "setup.exe", "C:\\Ziel"}},
      {"--quiet-silent --no-overwrite-option --default-folder '\\\\server\\Freigabe'", -1, 0, 0,
       {"", "", "", "", "\\\\server\\Freigabe"}},
      {"--silent-mode 7 --overwrite-mode -3 --interactive --silent", 1, -3, 0, {}},
      {"--settings " + ShellQuote(tmp.File("wiederholt.cfg")) + " --intro-caption Danach", 0, 1, 2,
       {"Zeile 1\r\nZeile 2", "Danach", "", "", "C:\\neu"}},
  };
  std::string examples = std::string(OSTREL_SOURCE_DIR) + "/examples";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    std::string sfx = tmp.File("s.exe");
    CommandResult run = RunCapture(tmp, BuildCommand(tmp, c.options, sfx, examples));
    ASSERT_EQ(run.status, 0) << run.output;
    Bytes image = ImageOf(ReadFileBytes(sfx));
    ASSERT_GT(image.size(), (size_t)SFX_SETTINGS_SIZE);
    const uint8_t *block = image.data() + image.size() - SFX_SETTINGS_SIZE;
    EXPECT_EQ(std::string((const char *)block, 5), "ZVTKQ");
    size_t lengths[5] = {GetLe16(image, image.size() - 16), GetLe16(image, image.size() - 14),
                         GetLe16(image, image.size() - 12), block[11], block[12]};
    size_t at = image.size() - SFX_SETTINGS_SIZE;
    for (size_t length : lengths) at -= length;
    for (int i = 0; i < 5; i++) {
      EXPECT_EQ(std::string((const char *)image.data() + at, lengths[i]), c.texts[i]) << "text " << i;
      at += lengths[i];
    }
    EXPECT_EQ((int16_t)GetLe16(image, image.size() - 8), c.style);
    EXPECT_EQ((int16_t)GetLe16(image, image.size() - 6), c.overwrite);
    EXPECT_EQ((int16_t)GetLe16(image, image.size() - 4), c.silent);
    // The program in front of the texts is the extractor, unchanged.
    Bytes extractor = ReadFileBytes(tmp.File("extractor.exe"));
    EXPECT_EQ(Bytes(image.begin(), image.begin() + (ptrdiff_t)extractor.size()), extractor);
  }
}

TEST(Build, SameInputSameBytes) {
  TempFolder tmp;
  MakeTree(tmp.File("one"));
  // A copy elsewhere with the times kept; a copy with fresh times, which
  // only SOURCE_DATE_EPOCH makes equal.
  RunCommand("cp -a " + ShellQuote(tmp.File("one")) + " " + ShellQuote(tmp.File("kept")));
  RunCommand("sleep 2; cp -r " + ShellQuote(tmp.File("one")) + " " + ShellQuote(tmp.File("fresh")));
  struct Case {
    const char *copy;
    const char *environment;
  } cases[] = {{"kept", ""}, {"fresh", "SOURCE_DATE_EPOCH=1700000000 "}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.copy);
    ASSERT_EQ(RunCommand(c.environment + BuildCommand(tmp, "--interactive", tmp.File("a.exe"), tmp.File("one"))), 0);
    ASSERT_EQ(RunCommand(c.environment + BuildCommand(tmp, "--interactive", tmp.File("b.exe"), tmp.File(c.copy))), 0);
    EXPECT_EQ(ReadFileBytes(tmp.File("a.exe")), ReadFileBytes(tmp.File("b.exe")));
  }
}

TEST(Build, SignedSfxVerifiesAndStaysAZip) {
  if (RunCommand("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
    GTEST_SKIP() << "osslsigncode or openssl missing (scripts/setup installs them)";
  TempFolder tmp;
  ASSERT_EQ(RunCommand("cd " + ShellQuote(tmp.path()) +
                       " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2"
                       " -subj '/CN=Ostrel Test' 2>/dev/null"),
            0);
  std::string sfx = tmp.File("signed.exe"), examples = std::string(OSTREL_SOURCE_DIR) + "/examples";
  CommandResult built = RunCapture(tmp, BuildCommand(tmp, "--sign-cert " + ShellQuote(tmp.File("cert.pem")) + " --sign-key " +
                                                    ShellQuote(tmp.File("key.pem")),
                                           sfx, examples));
  ASSERT_EQ(built.status, 0) << built.output;
  CommandResult verify = RunCapture(tmp, "osslsigncode verify -CAfile " + ShellQuote(tmp.File("cert.pem")) + " -in " + ShellQuote(sfx));
  EXPECT_EQ(verify.status, 0) << verify.output;
  // The end record's comment reaches exactly to the end of the file.
  Bytes data = ReadFileBytes(sfx);
  size_t end = data.size();
  while (end >= ZIP_END_SIZE && GetLe32(data, end - ZIP_END_SIZE) != 0x06054B50u) end--;
  ASSERT_GE(end, (size_t)ZIP_END_SIZE);
  EXPECT_EQ(end + GetLe16(data, end - 2), data.size());
  EXPECT_GT(GetLe16(data, end - 2), 0);
  CommandResult strict = RunCapture(tmp, "unzip -t " + ShellQuote(sfx) + " && python3 -W error -c 'import sys,zipfile; "
                                                              "sys.exit(1 if zipfile.ZipFile(sys.argv[1]).testzip() else 0)' " +
                                   ShellQuote(sfx));
  EXPECT_EQ(strict.status, 0) << strict.output;
  EXPECT_EQ(strict.output.find("warning"), std::string::npos) << strict.output;
  EXPECT_EQ(RunCommand(kOstrel + " extract " + ShellQuote(sfx) + " " + ShellQuote(tmp.File("x")) + " >/dev/null"), 0);
  EXPECT_EQ(RunCommand("diff -r " + ShellQuote(examples) + " " + ShellQuote(tmp.File("x"))), 0);
}

}  // namespace

namespace {

// info, list and test over a built file, and the damage test must find.
TEST(Build, InspectCommandsSeeWhatWentIn) {
  TempFolder tmp;
  std::string sfx = tmp.File("p.exe"), examples = std::string(OSTREL_SOURCE_DIR) + "/examples";
  ASSERT_EQ(RunCommand(BuildCommand(tmp, "--password 'gehe im' --interactive", sfx, examples) + " 2>/dev/null"), 0);
  Bytes damaged = ReadFileBytes(sfx);
  size_t name = std::string(damaged.begin(), damaged.end()).find("Liesmich.txt");  // first local header's name
  ASSERT_NE(name, std::string::npos);
  damaged[name + 40] ^= 0x55;
  WriteFileBytes(tmp.File("damaged.exe"), damaged);
  ZipEntrySpec hostile;
  hostile.name = "../b\x81se.txt";  // OEM name from a DOS host: the umlaut is 0x81
  hostile.data = TextBytes("x");
  WriteFileBytes(tmp.File("hostile.zip"), BuildZip({hostile}));
  struct Case {
    std::string command;
    int status;
    const char *shown;
  } cases[] = {
      {"info " + ShellQuote(sfx), 0, "silent mode     0 (interactive"},
      {"info --json " + ShellQuote(sfx), 0, "\"silentMode\": 0"},
      {"list " + ShellQuote(sfx), 0, "Unterordner/\xC3\x9C" "bersicht.txt"},
      {"list " + ShellQuote(tmp.File("hostile.zip")), 0, "../b\xC3\xBCse.txt   [refused by the extractor: a '..'"},
      {"test --password 'gehe im' " + ShellQuote(sfx), 0, "all 5 files intact"},
      // A wrong password fails the header's check byte (9961), or passes it by
      // chance, 1 in 256 with random header bytes, and fails the decoding (9964).
      {"test --password falsch " + ShellQuote(sfx) + " </dev/null", 1, "(code 996"},
      {"test --password 'gehe im' " + ShellQuote(tmp.File("damaged.exe")), 1, "Liesmich.txt: FAILED (9964"},
  };
  for (const Case &c : cases) {
    CommandResult run = RunCapture(tmp, kOstrel + " " + c.command);
    EXPECT_EQ(run.status, c.status) << c.command << "\n" << run.output;
    EXPECT_NE(run.output.find(c.shown), std::string::npos) << c.command << "\n" << run.output;
  }
}

// Windows asks for administrator rights for setup/install/update names
// unless the stub has a manifest: the builder warns exactly then.
TEST(Build, ManifestWarningForInstallerNames) {
  TempFolder tmp;
  WriteFileBytes(tmp.File("with-manifest.exe"), FakeStub(true));
  std::string examples = std::string(OSTREL_SOURCE_DIR) + "/examples";
  struct Case {
    const char *output;
    bool manifest;
    bool warned;
  } cases[] = {{"Setup.exe", false, true}, {"mein-update.exe", false, true}, {"paket.exe", false, false},
               {"setup.exe", true, false}};
  for (const Case &c : cases) {
    std::string options = c.manifest ? "--stub " + ShellQuote(tmp.File("with-manifest.exe")) : "";
    CommandResult run = RunCapture(tmp, BuildCommand(tmp, options, tmp.File(c.output), examples));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("no manifest") != std::string::npos, c.warned) << c.output << "\n" << run.output;
  }
}

// Offsets near 2^32, added to a position in a 32-bit size_t, wrap to a
// place in front of the image or inside it. Each row plants there what a
// wrapped read would find, so that the 32-bit lane sees the difference: an
// image that reads well only through a wrapped sum must not.
TEST(PeInspect, OffsetsNear4GiBStayInsideTheImage) {
  PeInfo info;
  Bytes extractor = FakeExtractor(0x8664);
  ASSERT_EQ(InspectPe(extractor.data(), extractor.size(), &info), 1);
  EXPECT_EQ(info.machine, 0x8664);
  EXPECT_EQ(info.subsystem, PE_SUBSYSTEM_GUI);
  EXPECT_EQ(info.hasMainDialog, 1);

  // e_lfanew 2^32 - 16: "PE\0\0" waits 16 bytes in front of the image, and
  // the optional header's magic at 8, where pe + 24 lands in 32 bits.
  Bytes lfanew(16 + 0x200, 0);
  memcpy(&lfanew[0], "PE\0\0", 4);
  PutLe16(lfanew, 4, 0x014C);
  lfanew[16] = 'M', lfanew[17] = 'Z';
  PutLe32(lfanew, 16 + 0x3C, 0xFFFFFFF0u);
  PutLe16(lfanew, 16 + 8, 0x10B);
  EXPECT_EQ(InspectPe(lfanew.data() + 16, lfanew.size() - 16, &info), 0);

  // The resource section at file offset 2^32 - 8: in 32 bits its root's
  // counts are read at 4 and its first entry at 8, which says "manifest".
  Bytes resources = FakeStub(false);
  PutLe32(resources, 0x58 + 224 + 20, 0xFFFFFFF8u);
  PutLe16(resources, 6, 1);
  PutLe32(resources, 8, PE_RT_MANIFEST);
  ASSERT_EQ(InspectPe(resources.data(), resources.size(), &info), 1);
  EXPECT_EQ(info.hasManifest, 0);
}

}  // namespace

namespace {

// The verdict of one command on an archive: its exit status and output.
struct Verdicts {
  CommandResult extract, test, list, build;
};

Verdicts RunAllCommands(const TempFolder &tmp, const Bytes &zip, const std::string &label) {
  std::string input = tmp.File("table-" + label + ".zip"), out = tmp.File("out-" + label);
  WriteFileBytes(input, zip);
  Verdicts v;
  v.extract = RunCapture(tmp, kOstrel + " extract " + ShellQuote(input) + " " + ShellQuote(out));
  v.test = RunCapture(tmp, kOstrel + " test " + ShellQuote(input));
  v.list = RunCapture(tmp, kOstrel + " list " + ShellQuote(input));
  v.build = RunCapture(tmp, BuildCommand(tmp, "", tmp.File("sfx-" + label + ".exe"), input));
  return v;
}

ZipEntrySpec Entry(const std::string &name, const Bytes &unicodeField = Bytes()) {
  ZipEntrySpec e;
  e.name = name;
  e.data = name.back() == '/' ? Bytes() : TextBytes("inhalt von " + name);
  e.centralExtra = unicodeField;
  return e;
}

}  // namespace

// One archive, one verdict: extract, test, list and build read the same
// end record, the same entries and the same names, and refuse the same
// archives. Every row is a case where the commands once disagreed.
TEST(Build, EveryCommandGivesOneVerdict) {
  TempFolder tmp;
  Bytes first = BuildZip({Entry("a.txt")}), second = BuildZip({Entry("b.txt")});
  Bytes twoEnds = first;
  twoEnds.insert(twoEnds.end(), second.begin(), second.end());  // the nearer end record is b.txt's
  Bytes front = TextBytes(std::string(300, '#'));
  front.insert(front.end(), first.begin(), first.end());        // offsets not moved
  Bytes hugeCount = BuildZip({Entry("a.txt")}, 0, "", true);
  PutLe64(hugeCount, hugeCount.size() - 22 - 20 - 56 + 24, ~0ull);  // ZIP64 counts: 2^64 - 1
  PutLe64(hugeCount, hugeCount.size() - 22 - 20 - 56 + 32, ~0ull);
  Bytes otherDisk = first;
  PutLe16(otherDisk, otherDisk.size() - 22 + 6, 1);  // the directory starts on disk 1
  Bytes fewer = BuildZip({Entry("a.txt")});
  PutLe16(fewer, fewer.size() - 22 + 8, 2), PutLe16(fewer, fewer.size() - 22 + 10, 2);
  struct Row {
    const char *label;
    Bytes zip;
    std::vector<std::string> names;  // written by extract; empty: every command refuses
  } rows[] = {
      {"plain", first, {"a.txt"}},
      {"ZIP64 records", BuildZip({[] { ZipEntrySpec e = Entry("z.txt"); e.zip64 = true; return e; }()}, 0, "", true),
       {"z.txt"}},
      {"data in front", front, {"a.txt"}},
      {"two end records", twoEnds, {"b.txt"}},
      {"0x7075 name counts", BuildZip({Entry("readme.txt", UnicodePathField("readme.txt", "setup.exe"))}), {"setup.exe"}},
      {"case twins", BuildZip({Entry("Liesmich.txt"), Entry("LIESMICH.TXT")}), {}},
      {"folder and file", BuildZip({Entry("dir/"), Entry("dir")}), {}},
      {"file and folder", BuildZip({Entry("x.txt"), Entry("x.txt/y")}), {}},
      {"dot component", BuildZip({Entry("a/b.txt"), Entry("a/./b.txt")}), {}},
      {"empty component", BuildZip({Entry("x//c.txt"), Entry("x/c.txt")}), {}},
      {"0x7075 twins", BuildZip({Entry("a.txt", UnicodePathField("a.txt", "c.txt")),
                                 Entry("b.txt", UnicodePathField("b.txt", "c.txt"))}), {}},
      {"0x7075 parent", BuildZip({Entry("a.txt", UnicodePathField("a.txt", "..\\..\\x"))}), {}},
      {"0x7075 device", BuildZip({Entry("a.txt", UnicodePathField("a.txt", "CON"))}), {}},
      {"ZIP64 count 2^64-1", hugeCount, {}},
      {"count above the records", fewer, {}},
      {"directory on disk 1", otherDisk, {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    Verdicts v = RunAllCommands(tmp, row.zip, row.label);
    bool ok = !row.names.empty();
    std::string all = v.extract.output + v.test.output + v.list.output + v.build.output;
    EXPECT_EQ(v.extract.status == 0, ok) << all;
    EXPECT_EQ(v.test.status == 0, ok) << all;
    EXPECT_EQ(v.build.status == 0, ok) << all;
    EXPECT_EQ(v.list.status == 0 && v.list.output.find("[refused") == std::string::npos, ok) << all;
    if (!ok) {
      EXPECT_NE(v.extract.output.find("ung\xC3\xBCltige Daten"), std::string::npos) << all;  // the text of 9964
      EXPECT_NE(v.test.output.find("9964"), std::string::npos) << all;
      continue;
    }
    std::vector<std::string> written;
    for (const auto &file : ListTree(tmp.File(std::string("out-") + row.label))) written.push_back(file.first);
    EXPECT_EQ(written, row.names) << all;
    for (const std::string &name : row.names) {
      EXPECT_NE(v.list.output.find("   " + name + "\n"), std::string::npos) << all;
      EXPECT_NE(v.test.output.find(name + ": OK"), std::string::npos) << all;
    }
  }
}
