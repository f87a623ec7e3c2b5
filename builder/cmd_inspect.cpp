// ostrel info / list / test: what an SFX file holds.
//
// info reads the layout: stub headers, the packed stage (decoded in memory
// to reach the settings block at the end of the image) and the archive's
// directory. list converts names by the extractor's rules. test runs the
// extractor's own reader and decoders over every entry with a sink that
// keeps nothing, and checks each CRC.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "builder/build_checks.h"
#include "builder/build_input.h"
#include "builder/commands.h"
#include "builder/embedded.h"
#include "builder/pe_inspect.h"
#include "builder/sfx_assemble.h"
#include "builder/tool_support.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"
#include "extractor/zip/summary.h"
#include "packed/stage_memory.h"

static const char kInfoUsage[] =
    "usage: ostrel info [--json] SFX\n"
    "\n"
    "Shows the layout of an SFX file: stub (size, architecture, manifest),\n"
    "packed stage, the settings field by field with the texts, the archive's\n"
    "offset, entry count and sizes, and a signature when there is one.\n"
    "  --json   the same as one JSON object\n";

static const char kListUsage[] =
    "usage: ostrel list SFX\n"
    "\n"
    "Lists the entries like 'unzip -l': size, date, time and the name as the\n"
    "extractor writes it on Windows (shown here as UTF-8 with '/'); a name the\n"
    "extractor would refuse is marked with the cause. The last line says which\n"
    "end record the extractor's walk used.\n";

static const char kTestUsage[] =
    "usage: ostrel test [--password PW] SFX\n"
    "\n"
    "Runs the extractor itself in a mode that writes nothing: every check of an\n"
    "extraction (names, twins, sizes, the directory against its end record),\n"
    "every entry decoded and its CRC-32 checked. A CRC mismatch is reported and\n"
    "the test goes on; any other failure ends it, as it ends an extraction.\n"
    "An encrypted entry takes the password from --password or asks for it on\n"
    "the terminal.\n"
    "Exit status: 0 every entry is intact, 1 an entry failed, 2 wrong usage.\n";

// Parses "[--json] [--password PW] FILE" as the command allows.
// Returns -1 to go on, otherwise the exit code.
static int ParseInspect(int argc, char **argv, const char *usage, int allowJson, int allowPassword, int *json,
                        const char **password, const char **file) {
  *file = nullptr;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) return fputs(usage, stdout), EXIT_OK;
    if (allowJson && !strcmp(argv[i], "--json")) *json = 1;
    else if (allowPassword && !strcmp(argv[i], "--password") && i + 1 < argc) *password = argv[++i];
    else if (argv[i][0] == '-' && argv[i][1]) {
      fprintf(stderr, "ostrel %s: unknown or incomplete option '%s'\n\n%s", argv[0], argv[i], usage);
      return EXIT_USAGE;
    } else if (!*file) *file = argv[i];
    else {
      fprintf(stderr, "ostrel %s: one file only\n\n%s", argv[0], usage);
      return EXIT_USAGE;
    }
  }
  if (!*file) {
    fprintf(stderr, "ostrel %s: no file given\n\n%s", argv[0], usage);
    return EXIT_USAGE;
  }
  return -1;
}

// The directory of the archive in file, read by the extractor's own walk
// (names as the extractor writes them). Returns 1; 0 with a message printed.
static int LoadDirectory(const char *command, const char *path, std::vector<SourceEntry> *entries,
                         ZipInputInfo *info) {
  FILE *file = fopen(path, "rb");
  if (!file) {
    fprintf(stderr, "ostrel %s: %s: %s\n", command, path, strerror(errno));
    return 0;
  }
  std::string error;
  int ok = ReadZipInput(file, path, entries, &error, info);
  fclose(file);
  if (!ok) fprintf(stderr, "ostrel %s: %s\n", command, error.c_str());
  return ok;
}

// The name the extractor writes, in UTF-8 with '/', control characters escaped.
static std::string ShownName(const SourceEntry &entry) {
  std::vector<char> utf8(entry.targetName.size() * 4 + 1);
  EntryNameUtf8(entry.targetName.c_str(), utf8.data(), (uint32_t)utf8.size());
  return utf8.data();
}

int RunList(int argc, char **argv) {
  int json = 0;
  const char *password = nullptr, *path;
  int usage = ParseInspect(argc, argv, kListUsage, 0, 0, &json, &password, &path);
  if (usage >= 0) return usage;
  std::vector<SourceEntry> entries;
  ZipInputInfo info;
  if (!LoadDirectory("list", path, &entries, &info)) return EXIT_FAILED;
  std::vector<std::string> problems = EntryProblems(&entries);
  printf("  Length      Date    Time    Name\n---------  ---------- -----   ----\n");
  uint64_t total = 0;
  for (size_t i = 0; i < entries.size(); i++) {
    const SourceEntry &entry = entries[i];
    const ZipEntryRecord &r = entry.record;
    const std::string &problem = problems[i];
    printf("%9llu  %04d-%02d-%02d %02d:%02d   %s%s%s\n", (unsigned long long)entry.sourceUncompressed,
           1980 + (r.date >> 9), (r.date >> 5) & 15, r.date & 31, r.time >> 11, (r.time >> 5) & 63,
           ShownName(entry).c_str(), problem.empty() ? "" : "   [refused by the extractor: ",
           problem.empty() ? "" : (problem + "]").c_str());
    total += entry.sourceUncompressed;
  }
  printf("---------                     -------\n%9llu                     %zu file%s\n", (unsigned long long)total,
         entries.size(), entries.size() == 1 ? "" : "s");
  printf("end record at %llu%s\n", (unsigned long long)info.endRecordAt, info.zip64 ? ", counts from its ZIP64 end record" : "");
  return EXIT_OK;
}

// A UTF-8 text as a JSON string.
static std::string JsonString(const char *utf8) {
  std::string out = "\"";
  for (const char *c = utf8; *c; c++) {
    if (*c == '"' || *c == '\\') out += '\\', out += *c;
    else if ((unsigned char)*c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", (unsigned char)*c);
      out += escape;
    } else out += *c;
  }
  return out + "\"";
}

// A settings text (Windows-1252) as a JSON string.
static std::string JsonText(const std::string &ansi) {
  std::vector<char> utf8(ansi.size() * 3 + 1);
  AnsiToUtf8(ansi.c_str(), utf8.data(), (uint32_t)utf8.size());
  return JsonString(utf8.data());
}

// Text for people: UTF-8 in quotes, line ends and tabs spelled \r \n \t,
// every other control character \xNN (PrintableUtf8), so that a text
// cannot drive the terminal.
static std::string ShownText(const std::string &ansi) {
  std::string out = "\"";
  for (size_t start = 0;;) {
    size_t end = ansi.find_first_of("\r\n\t", start);
    std::string piece = ansi.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::vector<char> shown(piece.size() * 4 + 1);
    PrintableUtf8(piece.c_str(), shown.data(), (uint32_t)shown.size());
    out += shown.data();
    if (end == std::string::npos) break;
    out += ansi[end] == '\r' ? "\\r" : ansi[end] == '\n' ? "\\n" : "\\t";
    start = end + 1;
  }
  return out + "\"";
}

typedef struct SfxLayout {
  uint64_t fileSize;
  PeInfo stub;
  int hasStage;             // a stage decoded and its image ends with a settings block
  int32_t imageSize;        // stage header
  int64_t stageConsumed;    // bytes the decoder read, header included
  size_t programSize;       // extractor program without texts and block
  SfxSettings settings;
  uint16_t reserved;
  uint64_t archiveOffset;   // first local header (or the directory when empty)
  uint64_t directoryOffset;
  uint64_t packedTotal, unpackedTotal;
  std::vector<SourceEntry> entries;
  ZipInputInfo zip;         // the end record the walk used
} SfxLayout;

enum {
  INFO_IMAGE_LIMIT = 16 << 20  // largest unpacked stage info decodes; the extractor's image is far smaller
};

static int ReadLayout(const char *path, SfxLayout *layout) {
  std::vector<uint8_t> data;
  std::string error;
  if (!ReadFileBytes(path, &data, &error)) {
    fprintf(stderr, "ostrel info: %s\n", error.c_str());
    return 0;
  }
  layout->fileSize = data.size();
  if (!InspectPe(data.data(), data.size(), &layout->stub)) {
    fprintf(stderr, "ostrel info: %s: not a Windows program, so no SFX file\n", path);
    return 0;
  }
  layout->hasStage = 0;
  // The header declares the unpacked length, and a small stream can
  // unpack to any length: a stage that claims more than any extractor
  // image is not decoded (a crafted 100 KB file would take 134 MB).
  int32_t declared = data.size() > SFX_STUB_SIZE + SFX_STAGE_HEADER_SIZE
                         ? (int32_t)GetLe32(data.data() + SFX_STUB_SIZE) : 0;
  if (declared > 0 && declared <= INFO_IMAGE_LIMIT) {
    std::vector<uint8_t> image;
    StageResult result;
    if (DecodeStageInMemory(data.data() + SFX_STUB_SIZE, data.size() - SFX_STUB_SIZE, &image, &result)) {
      if (image.size() > (size_t)result.declared) image.resize((size_t)result.declared);
      layout->imageSize = result.declared;
      layout->stageConsumed = result.consumed;
      layout->hasStage = ReadImageSettings(image.data(), image.size(), &layout->settings, &layout->reserved,
                                           &layout->programSize);
    }
  }
  if (!LoadDirectory("info", path, &layout->entries, &layout->zip)) return 0;
  layout->packedTotal = layout->unpackedTotal = 0;
  layout->archiveOffset = UINT64_MAX;
  for (const SourceEntry &entry : layout->entries) {
    layout->packedTotal += entry.sourceCompressed;
    layout->unpackedTotal += entry.sourceUncompressed;
    if (entry.localOffset < layout->archiveOffset) layout->archiveOffset = entry.localOffset;
  }
  return 1;
}

static const char *SilentMeaning(int16_t value) {
  return value == 0 ? "interactive: main dialog" : value > 0 ? "silent" : "quiet-silent: progress boxes, no summary";
}

int RunInfo(int argc, char **argv) {
  int json = 0;
  const char *password = nullptr, *path;
  int usage = ParseInspect(argc, argv, kInfoUsage, 1, 0, &json, &password, &path);
  if (usage >= 0) return usage;
  SfxLayout layout;
  if (!ReadLayout(path, &layout)) return EXIT_FAILED;
  const SfxSettings &s = layout.settings;
  static const char *const kStyles[] = {"ok", "yes-no", "ok-cancel"};
  const char *style = s.introStyle >= 0 && s.introStyle <= 2 ? kStyles[s.introStyle] : "undefined";
  size_t entryCount = layout.entries.size();
  if (layout.archiveOffset == UINT64_MAX) layout.archiveOffset = 0;
  // The stage runs up to the archive; without entries, as far as the decoder read.
  long long stageLength = layout.archiveOffset > SFX_STUB_SIZE ? (long long)layout.archiveOffset - SFX_STUB_SIZE
                                                               : (long long)layout.stageConsumed;
  if (json) {
    printf("{\"file\": %s, \"size\": %llu,\n", JsonString(path).c_str(), (unsigned long long)layout.fileSize);
    printf(" \"stub\": {\"size\": %d, \"machine\": \"%s\", \"manifest\": %s},\n", (int)SFX_STUB_SIZE,
           layout.stub.machine == PE_MACHINE_AMD64 ? "win64" : layout.stub.machine == PE_MACHINE_I386 ? "win32" : "unknown",
           layout.stub.hasManifest ? "true" : "false");
    if (layout.hasStage) {
      printf(" \"stage\": {\"offset\": %d, \"length\": %lld, \"imageSize\": %d, \"programSize\": %zu},\n",
             (int)SFX_STUB_SIZE, stageLength, layout.imageSize, layout.programSize);
      printf(" \"settings\": {\"silentMode\": %d, \"overwriteMode\": %d, \"introStyle\": %d, \"reserved\": %u",
             s.silentMode, s.overwriteMode, s.introStyle, layout.reserved);
      static const char *const kJsonNames[] = {"introText", "introCaption", "infoText", "runFile", "defaultFolder"};
      for (int i = 0; i < SFX_TEXT_COUNT; i++) printf(", \"%s\": %s", kJsonNames[i], JsonText(s.text[i]).c_str());
      printf("},\n");
    } else {
      printf(" \"stage\": null, \"settings\": null,\n");
    }
    printf(" \"archive\": {\"offset\": %llu, \"entries\": %zu, \"packed\": %llu, \"unpacked\": %llu, "
           "\"endRecord\": %llu, \"zip64\": %s},\n",
           (unsigned long long)layout.archiveOffset, entryCount, (unsigned long long)layout.packedTotal,
           (unsigned long long)layout.unpackedTotal, (unsigned long long)layout.zip.endRecordAt,
           layout.zip.zip64 ? "true" : "false");
    printf(" \"signature\": %s}\n", layout.stub.certificateSize ? "true" : "false");
    return EXIT_OK;
  }
  printf("%s: %llu bytes\n", path, (unsigned long long)layout.fileSize);
  printf("stub           %d bytes, %s, %s\n", (int)SFX_STUB_SIZE, MachineName(layout.stub.machine),
         layout.stub.hasManifest ? "with manifest" : "no manifest");
  if (!layout.hasStage) {
    printf("packed stage   none that ends in a settings block: not an SFX file of this kind\n");
  } else {
    printf("packed stage   at %d, %lld bytes, unpacks to %d (extractor %zu, texts %zu, settings block %d)\n",
           (int)SFX_STUB_SIZE, stageLength, layout.imageSize, layout.programSize,
           (size_t)layout.imageSize - layout.programSize - SFX_SETTINGS_SIZE, (int)SFX_SETTINGS_SIZE);
    printf("settings\n");
    printf("  silent mode     %d (%s)\n", s.silentMode, SilentMeaning(s.silentMode));
    printf("  overwrite mode  %d (%s)\n", s.overwriteMode,
           s.overwriteMode > 0 ? "offer \"replace without asking\", checked" : "confirm every existing file");
    printf("  intro style     %d (%s)\n", s.introStyle, style);
    static const char *const kLabels[] = {"intro text", "intro caption", "info text", "run file", "default folder"};
    for (int i = 0; i < SFX_TEXT_COUNT; i++) {
      if (s.text[i].empty()) printf("  %-15s none\n", kLabels[i]);
      else printf("  %-15s %s (%zu bytes)\n", kLabels[i], ShownText(s.text[i]).c_str(), s.text[i].size());
    }
  }
  printf("archive        at %llu, %zu entries, %llu bytes packed, %llu unpacked\n",
         (unsigned long long)layout.archiveOffset, entryCount, (unsigned long long)layout.packedTotal,
         (unsigned long long)layout.unpackedTotal);
  printf("end record     at %llu%s\n", (unsigned long long)layout.zip.endRecordAt,
         layout.zip.zip64 ? ", counts from its ZIP64 end record" : "");
  if (layout.stub.certificateSize)
    printf("signature      certificate table of %u bytes at %u\n", layout.stub.certificateSize,
           layout.stub.certificateOffset);
  return EXIT_OK;
}

// The German text of a code as UTF-8, without the line ends the box uses.
static std::string CodeText(int32_t code) {
  char text[SUMMARY_TEXT_BUFFER * 3];
  AnsiToUtf8(ErrorCodeText(code), text, sizeof text);
  std::string out = text;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out;
}

static volatile sig_atomic_t interrupted;
static void OnInterrupt(int) { interrupted = 1; }
static int TestProgress(int, int32_t) { return interrupted ? 0 : 1; }

static uint32_t testFailed;    // entries of the test run that failed their check
static uint32_t testWarnings;  // counters.warningCount as last seen

// A CRC mismatch is reported for the entry and the run goes on: the
// driver counts it as a warning, the test as a failed entry.
static int TestCrcMismatch(const char *) { return CRC_MISMATCH_KEEP; }

static void TestReportEntry(const char *entryName, int32_t code) {
  static char name[4 * LONG_PATH_BUFFER];
  EntryNameUtf8(entryName, name, sizeof name);
  const char *verdict = "OK";
  std::string failed;
  if (code != ERR_NONE) failed = "FAILED (" + std::to_string(code) + " " + CodeText(code) + ")", verdict = failed.c_str();
  else if (counters.warningCount != testWarnings) verdict = "CRC mismatch", testWarnings = counters.warningCount;
  if (code != ERR_NONE || strcmp(verdict, "OK")) testFailed++;
  printf("  %s: %s\n", name, verdict);
}

int RunTest(int argc, char **argv) {
  int json = 0;
  const char *password = nullptr, *path;
  int usage = ParseInspect(argc, argv, kTestUsage, 0, 1, &json, &password, &path);
  if (usage >= 0) return usage;
  static char archive[LONG_PATH_BUFFER];
  if (!ToCorePath(path, archive)) return EXIT_FAILED;
  if (!AllocWorkingStorage()) {
    fprintf(stderr, "ostrel test: out of memory\n");
    return EXIT_FAILED;
  }
  OpenArchive(archive);
  if (extraction.errorCode != ERR_NONE) {
    PrintArchiveRefusal("test", path);
    fprintf(stderr, "ostrel test: %s: %s (code %d)\n", path, CodeText(extraction.errorCode).c_str(),
            extraction.errorCode);
    FreeWorkingStorage();
    return EXIT_FAILED;
  }
  callbacks.reportProgress = TestProgress;
  callbacks.askPassword = ToolAskPassword;
  SetToolPassword(password);
  signal(SIGINT, OnInterrupt);
  // The driver's own run, with every check of an extraction, writing nothing.
  extraction.testOnly = 1;
  callbacks.confirmCrcMismatch = TestCrcMismatch;
  callbacks.reportEntry = TestReportEntry;
  testFailed = testWarnings = 0;
  SetTargetFolder("");
  ExtractArchive();
  uint32_t tested = counters.filesExtracted, failed = testFailed;
  int32_t code = extraction.errorCode;
  signal(SIGINT, SIG_DFL);
  if (code != ERR_NONE || interrupted) {
    fprintf(stderr, "ostrel test: %s: stopped after %u entries: %s (code %d)\n", path, tested,
            interrupted ? "interrupted" : CodeText(code).c_str(), code);
    return EXIT_FAILED;
  }
  if (failed) {
    fprintf(stderr, "ostrel test: %s: %u of %u entries failed\n", path, failed, tested);
    return EXIT_FAILED;
  }
  printf("%s: all %u files intact\n", path, tested);
  return EXIT_OK;
}
