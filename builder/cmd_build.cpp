// ostrel build: makes an SFX file from a folder or an existing ZIP archive.
//
// Order of work, so that a refusal leaves nothing behind:
//   1. options (command line, settings file) and texts checked;
//   2. stub and extractor read and checked, the input scanned, every entry
//      checked;
//   3. stub + stage, then the archive, written to a temporary file beside
//      the output; signed when asked; renamed over the output at the end.
#include <ctype.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "builder/build_checks.h"
#include "builder/build_input.h"
#include "builder/commands.h"
#include "builder/embedded.h"
#include "builder/entry_encode.h"
#include "builder/pack_pool.h"
#include "builder/pe_inspect.h"
#include "builder/sfx_assemble.h"
#include "builder/sign.h"

static const char kUsage[] =
    "usage: ostrel build [OPTIONS] -o SFX INPUT\n"
    "\n"
    "Makes the self-extracting program SFX from INPUT: a folder (its contents,\n"
    "Deflate by libdeflate at level 9, on all cores) or a ZIP archive (its\n"
    "entries copied as they are, stored or Deflate only; the archive comment is\n"
    "not kept).\n"
    "\n"
    "Output:\n"
    "  -o, --output SFX        the SFX file to write (replaced only when complete)\n"
    "  --arch win32|win64      target Windows (default win32, or the --stub's)\n"
    "\n"
    "How the SFX file runs (default: silent, like --silent --overwrite-option):\n"
    "  --silent                no window: extract at once into the default folder,\n"
    "                          replacing files; a message only when something failed\n"
    "  --quiet-silent          silent, with progress and CRC boxes, never a summary\n"
    "  --interactive           the main dialog: the user picks the folder and starts\n"
    "  --silent-mode N         the raw value (0 dialog, > 0 silent, < 0 quiet-silent)\n"
    "  --overwrite-option      dialog offers \"replace without asking\", checked (default)\n"
    "  --no-overwrite-option   no such box: every existing file is confirmed\n"
    "  --overwrite-mode N      the raw value (> 0 offer the box, <= 0 do not)\n"
    "  --default-folder DIR    target folder (default: the folder of the SFX file):\n"
    "                          absolute, C:\\... or \\\\server\\share\\..., backslashes only\n"
    "  --run FILE              offered for starting after an interactive extraction:\n"
    "                          a name alone, started from the top of the target folder\n"
    "  --intro-text TEXT       message shown before the dialog (interactive only)\n"
    "  --intro-caption TEXT    its caption (default \"Hinweis\")\n"
    "  --intro-style STYLE     ok (default), yes-no or ok-cancel: No or Cancel ends\n"
    "  --info-text TEXT        text on top of the Info box of the dialog\n"
    "  Texts are UTF-8 and stored as Windows-1252; at most 511 bytes for the intro\n"
    "  and info texts, 263 for the caption, 255 for the run file and the folder.\n"
    "\n"
    "Other options:\n"
    "  --password PW           encrypt every file with the traditional ZIP cipher\n"
    "                          (weak: it keeps out the curious, not an attacker)\n"
    "  --sign-cert FILE        sign the SFX file with osslsigncode (Authenticode),\n"
    "  --sign-key FILE         certificate and private key in PEM or DER\n"
    "  --settings FILE         options from FILE, one per line: 'name value' or\n"
    "                          'name = value' without the dashes, '#' comments,\n"
    "                          \\n \\t \\\\ in the three message texts; later\n"
    "                          options win\n"
    "  --fast                  Deflate with zlib level 9: a little less CPU time,\n"
    "                          2-5% larger (default --best: libdeflate level 9;\n"
    "                          files over 256 MiB always with zlib)\n"
    "  --stub FILE             the stub program to use (default: see below)\n"
    "  --extractor FILE        the extractor program to use\n"
    "  -q, --quiet             no progress and no summary line\n"
    "  --help                  this text\n"
    "\n"
    "The stub and extractor of each architecture are found beside ostrel\n"
    "(ARCH/stub.exe, ARCH/extractor.exe, or ../share/ostrel/ARCH/) or in the build\n"
    "tree (build/ARCH/stub/stub.exe, build/ARCH/extractor/extractor.exe).\n"
    "Entry times come from the files; with SOURCE_DATE_EPOCH set, later times are\n"
    "clamped to it and all times are written in UTC, for reproducible builds.\n"
    "Exit status: 0 written, 1 refused or failed (nothing written), 2 wrong usage.\n";

typedef struct BuildOptions {
  SfxSettings settings;
  std::string output, input, stubPath, extractorPath, signCert, signKey;
  std::string password;     // Windows-1252 form
  int havePassword;
  SfxArch arch;
  int archGiven;            // --arch given; otherwise a --stub decides, else win32
  int quiet;
  int fast;                 // --fast: zlib alone
} BuildOptions;

enum { OPT_FAILED = 0, OPT_DONE = 1, OPT_HELP = 2 };

static int ParseNumber(const std::string &text, int16_t *value) {
  char *end;
  errno = 0;
  long number = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || number < -32768 || number > 32767) return 0;
  *value = (int16_t)number;
  return 1;
}

// Option names that take a value.
static int TakesValue(const std::string &name) {
  static const char *const kValued[] = {"output", "arch", "silent-mode", "overwrite-mode", "default-folder",
                                         "run", "intro-text", "intro-caption", "intro-style", "info-text",
                                         "password", "sign-cert", "sign-key", "settings", "stub", "extractor"};
  for (const char *valued : kValued)
    if (name == valued) return 1;
  return 0;
}

static int ApplySettingsFile(BuildOptions *options, const std::string &path, std::string *error);

// 1 when c cannot be part of a file or folder name on Windows (the
// drive's colon is looked at by the caller).
static int IsForbiddenInName(unsigned char c) {
  return c < 0x20 || strchr("<>:\"|?*", c) != nullptr;
}

// The default folder (Windows-1252) as the extractor uses it: entry names
// are joined to it as written, and missing folders are made from the
// second backslash on, the first being taken for the root ("C:\").
// Accepted: a drive's folder (C:\...) or a share's (\\server\share\...).
// A relative folder (Ziel\Unterordner, \Ziel, C:Ziel, %TEMP%\Ziel: nothing
// in it is expanded) depends on the folder or drive that is current when
// the SFX file runs, and its first folder is never made: code 5. Slashes
// are no separators to the folder chain, and the characters Windows refuses
// in names make every folder call fail.
// Returns 1; 0 with error naming the problem.
static int CheckDefaultFolder(const std::string &folder, const std::string &shown, std::string *error) {
  std::string option = "--default-folder '" + shown + "': ";
  if (folder.empty()) return 1;  // absent: the folder of the SFX file
  if (folder.find('/') != std::string::npos)
    return (*error = option + "write it with backslashes; the extractor makes missing folders only along '\\'", 0);
  // "C:" alone is the root too: the extractor adds the backslash.
  int drive = folder.size() >= 2 && isalpha((unsigned char)folder[0]) && folder[1] == ':' &&
              (folder.size() == 2 || folder[2] == '\\');
  size_t share = folder.compare(0, 2, "\\\\") == 0 ? folder.find('\\', 2) : std::string::npos;
  int unc = share != std::string::npos && share > 2 && share + 1 < folder.size() && folder[share + 1] != '\\';
  if (!drive && !unc)
    return (*error = option + "not an absolute folder (C:\\... or \\\\server\\share\\...); the SFX file "
                              "would take it from whatever folder is current when it runs, and cannot make "
                              "its first folder", 0);
  for (size_t i = drive ? 2 : 0; i < folder.size(); i++)
    if (IsForbiddenInName((unsigned char)folder[i]) && folder[i] != '\\')
      return (*error = option + "Windows does not allow '" + std::string(1, folder[i]) + "' in a folder name", 0);
  return 1;
}

// The run file (Windows-1252) as the extractor starts it: by its name
// alone, from the target folder, whatever folder part it is given; the
// main dialog and the summary show the name alone too. A folder part would
// name a file the SFX file never starts (bin\setup.exe starts setup.exe
// of the target folder), so it is refused; the program belongs at the top
// of the archive. Returns 1; 0 with error.
static int CheckRunFile(const std::string &run, const std::string &shown, std::string *error) {
  if (run.find_first_of("\\/:") == std::string::npos) return 1;
  return (*error = "--run '" + shown + "': the SFX file starts the program of that name directly in the target "
                   "folder, never in a folder below it or elsewhere; give the name alone and put the program at the "
                   "top of the archive", 0);
}

// The checks of a stored settings text that only the running SFX file
// would otherwise find. Returns 1; 0 with error.
static int CheckSettingsText(const SfxSettings *settings, SfxText which, const std::string &shown, std::string *error) {
  if (which == SFX_TEXT_FOLDER) return CheckDefaultFolder(settings->text[which], shown, error);
  if (which == SFX_TEXT_RUN) return CheckRunFile(settings->text[which], shown, error);
  return 1;
}

// Applies one option (name without dashes). base: folder that relative
// local paths are taken from (a settings file's folder, or "").
static int ApplyOption(BuildOptions *options, const std::string &name, const std::string &value,
                       const std::string &base, int fromFile, std::string *error) {
  SfxSettings &s = options->settings;
  std::string local = (!base.empty() && !value.empty() && value[0] != '/') ? base + value : value;
  if (name == "interactive") s.silentMode = 0;
  else if (name == "silent") s.silentMode = 1;
  else if (name == "quiet-silent") s.silentMode = -1;
  else if (name == "overwrite-option") s.overwriteMode = 1;
  else if (name == "no-overwrite-option") s.overwriteMode = 0;
  else if (name == "quiet") options->quiet = 1;
  else if (name == "fast") options->fast = 1;
  else if (name == "best") options->fast = 0;
  else if (name == "silent-mode" || name == "overwrite-mode") {
    if (!ParseNumber(value, name == "silent-mode" ? &s.silentMode : &s.overwriteMode))
      return (*error = "--" + name + ": '" + value + "' is not a number from -32768 to 32767", 0);
  } else if (name == "intro-style") {
    if (value == "ok") s.introStyle = 0;
    else if (value == "yes-no") s.introStyle = 1;
    else if (value == "ok-cancel") s.introStyle = 2;
    else return (*error = "--intro-style: '" + value + "' is none of ok, yes-no, ok-cancel", 0);
  } else if (name == "arch") {
    if (value == "win32") options->arch = SFX_ARCH_WIN32;
    else if (value == "win64") options->arch = SFX_ARCH_WIN64;
    else return (*error = "--arch: '" + value + "' is neither win32 nor win64", 0);
    options->archGiven = 1;
  } else if (name == "password") {
    std::string why;
    if (!Utf8ToWindows1252(value, &options->password, &why))
      return (*error = "--password: " + why + " (the extractor's password box takes Windows-1252)", 0);
    if (options->password.empty() || options->password.size() > 254)
      return (*error = "--password: from 1 to 254 characters", 0);
    options->havePassword = 1;
  } else if (name == "output") options->output = value;
  else if (name == "stub") options->stubPath = local;
  else if (name == "extractor") options->extractorPath = local;
  else if (name == "sign-cert") options->signCert = local;
  else if (name == "sign-key") options->signKey = local;
  else if (name == "settings") {
    if (fromFile) return (*error = "--settings cannot be used inside a settings file", 0);
    return ApplySettingsFile(options, value, error);
  } else {
    for (int i = 0; i < SFX_TEXT_COUNT; i++)
      if (name == kSfxTextName[i])
        return SetSettingsText(&s, (SfxText)i, value, error) && CheckSettingsText(&s, (SfxText)i, value, error);
    return (*error = "unknown option '--" + name + "'", 0);
  }
  return 1;
}

static int IsMessageText(const std::string &name) {
  return name == "intro-text" || name == "intro-caption" || name == "info-text";
}

// Message texts in a settings file may spell line ends and tabs: \n, \t, \\.
static int Unescape(const std::string &text, std::string *out) {
  out->clear();
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\\') {
      out->push_back(text[i]);
      continue;
    }
    if (++i == text.size()) return 0;
    if (text[i] == 'n') out->append("\r\n");
    else if (text[i] == 't') out->push_back('\t');
    else if (text[i] == '\\') out->push_back('\\');
    else return 0;
  }
  return 1;
}

static int ApplySettingsFile(BuildOptions *options, const std::string &path, std::string *error) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) return (*error = path + ": " + strerror(errno), 0);
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  char line[4096];
  int number = 0, ok = 1;
  while (ok && fgets(line, sizeof line, file)) {
    number++;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos || text[start] == '#') continue;
    text = text.substr(start);
    size_t nameEnd = text.find_first_of(" \t=");
    std::string name = text.substr(0, nameEnd), raw, value;
    if (nameEnd != std::string::npos) {
      size_t valueStart = text.find_first_not_of(" \t", nameEnd);
      if (valueStart != std::string::npos && text[valueStart] == '=')
        valueStart = text.find_first_not_of(" \t", valueStart + 1);
      if (valueStart != std::string::npos) raw = text.substr(valueStart);
    }
    std::string where = path + ":" + std::to_string(number) + ": ";
    // Escapes only in the message texts: paths keep their backslashes (C:\neu).
    int escaped = IsMessageText(name);
    if (!escaped) value = raw;
    if (TakesValue(name) && raw.empty()) *error = where + "'" + name + "' needs a value", ok = 0;
    else if (!TakesValue(name) && !raw.empty()) *error = where + "'" + name + "' takes no value", ok = 0;
    else if (escaped && !Unescape(raw, &value))
      *error = where + "only \\n, \\t and \\\\ may follow a backslash in a text", ok = 0;
    else if (!ApplyOption(options, name, value, base, 1, error)) *error = where + *error, ok = 0;
  }
  if (ok && ferror(file)) *error = path + ": read error", ok = 0;
  fclose(file);
  return ok;
}

// Returns OPT_DONE, OPT_HELP or OPT_FAILED (message in error: wrong usage).
static int ParseArguments(int argc, char **argv, BuildOptions *options, std::string *error) {
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return OPT_HELP;
    if (arg == "-o") arg = "--output";
    if (arg == "-q") arg = "--quiet";
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      if (arg.size() > 1 && arg[0] == '-') return (*error = "unknown option '" + arg + "'", OPT_FAILED);
      inputs.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2), value;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    } else if (TakesValue(name)) {
      if (i + 1 >= argc) return (*error = "'" + arg + "' needs a value", OPT_FAILED);
      value = argv[++i];
    }
    if (!ApplyOption(options, name, value, "", 0, error)) return OPT_FAILED;
  }
  if (options->output.empty()) return (*error = "no output file: give -o SFX", OPT_FAILED);
  if (inputs.size() != 1) return (*error = "expected one INPUT, a folder or a ZIP file", OPT_FAILED);
  if (options->signCert.empty() != options->signKey.empty())
    return (*error = "--sign-cert and --sign-key go together", OPT_FAILED);
  options->input = inputs[0];
  return OPT_DONE;
}

// Reads the stub or extractor for the architecture, named or found.
static int LoadProgram(const BuildOptions *options, const char *name, const std::string &given,
                       std::vector<uint8_t> *data, std::string *path, std::string *error) {
  *path = given;
  std::string tried;
  if (path->empty() && !FindProgram(options->arch, name, path, &tried)) {
    *error = std::string("no ") + kArchName[options->arch] + " " + name + " found (looked for " + tried +
             "); build it with scripts/setup, or name one with --" + name;
    return 0;
  }
  return ReadFileBytes(*path, data, error);
}

// The SOURCE_DATE_EPOCH of reproducible builds, or -1 when it is not set.
static int64_t SourceDateEpoch(std::string *error) {
  const char *text = getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return -1;
  char *end;
  long long value = strtoll(text, &end, 10);
  if (*end || value < 0) {
    *error = "SOURCE_DATE_EPOCH='" + std::string(text) + "' is not a number of seconds";
    return -2;
  }
  return value;
}

// Progress on a terminal: files done, bytes, rate; one line rewritten.
typedef struct Progress {
  int shown;             // stderr is a terminal and --quiet was not given
  size_t files, filesTotal;
  uint64_t bytes, bytesTotal;
  struct timespec start, last;
} Progress;

static double Seconds(const struct timespec *a, const struct timespec *b) {
  return (double)(b->tv_sec - a->tv_sec) + (double)(b->tv_nsec - a->tv_nsec) / 1e9;
}

static void ShowProgress(Progress *progress, int final) {
  if (!progress->shown) return;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (!final && Seconds(&progress->last, &now) < 0.2) return;
  progress->last = now;
  double elapsed = Seconds(&progress->start, &now);
  double rate = elapsed > 0 ? (double)progress->bytes / elapsed / 1e6 : 0;
  fprintf(stderr, "\r  %zu/%zu files, %.1f/%.1f MB, %.1f MB/s ", progress->files, progress->filesTotal,
          (double)progress->bytes / 1e6, (double)progress->bytesTotal / 1e6, rate);
  if (final) fputc('\n', stderr);
  fflush(stderr);
}

// Source for an entry copied from the input ZIP file.
typedef struct FileSource {
  FILE *file;
} FileSource;

static size_t ProduceFromFile(void *context, uint8_t *buffer, size_t capacity) {
  return fread(buffer, 1, capacity, ((FileSource *)context)->file);
}

// Writes one entry. Folder input: the pool's compressed (and encrypted)
// bytes. ZIP input: copied as stored, or read and encrypted when a password
// is given for an entry that has none. Returns 1; 0 with error.
static int WriteEntry(ZipWriter *writer, SourceEntry *entry, FILE *zipFile, const BuildOptions *options,
                      PackPool *pool, size_t index, std::string *error) {
  ZipEntryRecord &r = entry->record;
  std::vector<uint8_t> data;
  if (!zipFile) {
    if (!PackPoolTake(pool, index, &data, error)) return 0;
    if (entry->isFolder) {
      r.method = ZIP_METHOD_STORED;
      r.versionNeeded = ZIP_VERSION_DEFLATE;  // folders need 2.0 (APPNOTE 4.4.3.2)
      r.compressedSize = r.uncompressedSize = r.crc32 = 0;
    }
  } else {
    int encrypt = options->havePassword && !(r.flags & ZIP_FLAG_ENCRYPTED) && !entry->isFolder;
    if (fseeko(zipFile, (off_t)entry->dataOffset, SEEK_SET) != 0) return (*error = options->input + ": seek failed", 0);
    if (!encrypt) {
      FileSource source = {zipFile};
      return ZipWriterAddEntry(writer, &r, ProduceFromFile, &source) ||
             (*error = options->input + ": read or write failed", 0);
    }
    data.resize(r.compressedSize);
    if (!data.empty() && fread(data.data(), 1, data.size(), zipFile) != data.size())
      return (*error = options->input + ": read failed", 0);
    if (!EncryptEntry(options->password, &r, &data)) return (*error = "no random bytes for the encryption header", 0);
  }
  MemorySource source = {data.data(), data.size(), 0};
  return ZipWriterAddEntry(writer, &r, ProduceFromMemory, &source) || (*error = "write failed", 0);
}

static int ContainsWord(const std::string &path, const char *word) {
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  for (char &c : base) c = (char)tolower((unsigned char)c);
  return base.find(word) != std::string::npos;
}

static void OnSignal(int number) {
  DiscardOutputOnSignal();
  signal(number, SIG_DFL);
  raise(number);
}

static int Refuse(const std::string &message) {
  fprintf(stderr, "ostrel build: %s\n", message.c_str());
  return EXIT_FAILED;
}

// Everything one build holds, from the options to the finished file. The
// steps fill it in order; BuildEnd releases whatever they took, whether
// the build got through or not.
typedef struct BuildRun {
  BuildOptions options;
  int64_t epoch;                     // SOURCE_DATE_EPOCH, or -1
  std::vector<uint8_t> stub, extractor;
  std::string stubPath, extractorPath;
  std::vector<SourceEntry> entries;  // the input, in archive order
  FILE *zipFile;                     // ZIP input: open until BuildEnd; null for a folder
  PackPool pool;                     // folder input: compresses ahead of the writer
  int poolRunning;                   // 1 between PackPoolStart and PackPoolStop
  std::vector<uint8_t> prefix;       // stub + packed stage
  SfxOutput output;                  // temporary file beside the target; file null when none
  ZipWriter writer;
  Progress progress;
  std::string error;                 // why the failed step failed
} BuildRun;

static void BuildInit(BuildRun *run) {
  SfxSettingsDefaults(&run->options.settings);
  run->options.havePassword = 0;
  run->options.arch = SFX_ARCH_WIN32;
  run->options.archGiven = 0;
  run->options.quiet = 0;
  run->options.fast = 0;
  run->epoch = -1;
  run->zipFile = nullptr;
  run->poolRunning = 0;
  run->output.file = nullptr;
  run->progress = Progress();
}

// Returns 1 when the variable is absent or a number of seconds; 0 with error.
static int ReadEpoch(BuildRun *run) {
  run->epoch = SourceDateEpoch(&run->error);
  return run->epoch != -2;
}

// The extractor as the stub starts it: CreateProcess of a program image,
// so not a DLL, of the stub's own machine (a win32 stub on 32-bit Windows
// cannot start a win64 program; a mixed pair is a mistake either way). A
// program without the MAINWIN dialog is not our extractor: the stub would
// start it, and the user would see whatever it does instead of the archive.
// Returns 1; 0 with error naming the file and what it is.
static int CheckExtractor(const BuildRun *run, const PeInfo *stub, const PeInfo *extractor, std::string *error) {
  const std::string &path = run->extractorPath;
  if ((extractor->characteristics & (PE_FILE_EXECUTABLE | PE_FILE_DLL)) != PE_FILE_EXECUTABLE)
    return (*error = path + ": a DLL or an unlinked image, not a program the stub can start; not an extractor", 0);
  if (extractor->machine != PE_MACHINE_I386 && extractor->machine != PE_MACHINE_AMD64)
    return (*error = path + ": built for a machine other than i386 or x86-64; not an extractor", 0);
  if (extractor->subsystem != PE_SUBSYSTEM_GUI || !extractor->hasMainDialog)
    return (*error = path + ": a Windows program, but not an Ostrel extractor (it lacks the MAINWIN dialog)", 0);
  if (extractor->machine != stub->machine)
    return (*error = run->stubPath + " is built for " + MachineName(stub->machine) + ", " + path + " for " +
                     MachineName(extractor->machine) + ": the stub starts the extractor, so both must be for the "
                     "same Windows (see --arch)", 0);
  return 1;
}

// Reads and checks the stub and the extractor.
static int LoadPrograms(BuildRun *run) {
  BuildOptions &options = run->options;
  if (!LoadProgram(&options, "stub", options.stubPath, &run->stub, &run->stubPath, &run->error)) return 0;
  PeInfo stubInfo, extractorInfo;
  if (!InspectPe(run->stub.data(), run->stub.size(), &stubInfo))
    return (run->error = run->stubPath + ": not a Windows program", 0);
  if (!options.archGiven && stubInfo.machine == PE_MACHINE_AMD64) options.arch = SFX_ARCH_WIN64;
  if (!LoadProgram(&options, "extractor", options.extractorPath, &run->extractor, &run->extractorPath, &run->error))
    return 0;
  if (!InspectPe(run->extractor.data(), run->extractor.size(), &extractorInfo))
    return (run->error = run->extractorPath + ": not a Windows program, so not an extractor", 0);
  if (!CheckExtractor(run, &stubInfo, &extractorInfo, &run->error)) return 0;
  uint16_t wanted = options.arch == SFX_ARCH_WIN64 ? PE_MACHINE_AMD64 : PE_MACHINE_I386;
  if (stubInfo.machine != wanted)
    fprintf(stderr, "ostrel build: warning: %s is built for %s, not %s\n", run->stubPath.c_str(),
            MachineName(stubInfo.machine), kArchName[options.arch]);
  if (!stubInfo.hasManifest &&
      (ContainsWord(options.output, "setup") || ContainsWord(options.output, "install") ||
       ContainsWord(options.output, "update")))
    fprintf(stderr,
            "ostrel build: warning: the stub has no manifest, so Windows asks for administrator rights\n"
            "  to start a program whose name contains setup, install or update; choose another name\n");
  return 1;
}

// Scans the folder, or reads the ZIP file's directory (the file stays open
// for the copy).
static int ReadInput(BuildRun *run) {
  const std::string &input = run->options.input;
  struct stat info;
  if (stat(input.c_str(), &info) != 0) return (run->error = input + ": " + strerror(errno), 0);
  if (S_ISDIR(info.st_mode)) return ScanFolderInput(input, run->epoch, &run->entries, &run->error);
  run->zipFile = fopen(input.c_str(), "rb");
  if (!run->zipFile) return (run->error = input + ": " + strerror(errno), 0);
  return ReadZipInput(run->zipFile, input, &run->entries, &run->error);
}

// Every entry checked as the extractor will see it; warnings on encryption.
static int CheckInput(BuildRun *run) {
  std::vector<std::string> problems = CheckEntries(run->entries);
  if (!problems.empty()) {
    run->error = run->options.input + ": the extractor cannot handle " + std::to_string(problems.size()) + " thing" +
                 (problems.size() == 1 ? "" : "s") + "; nothing written:";
    for (size_t i = 0; i < problems.size() && i < CHECK_MESSAGES_MAX; i++) run->error += "\n  " + problems[i];
    if (problems.size() > CHECK_MESSAGES_MAX)
      run->error += "\n  ... and " + std::to_string(problems.size() - CHECK_MESSAGES_MAX) + " more";
    return 0;
  }
  if (run->options.havePassword) {
    fprintf(stderr, "ostrel build: warning: the traditional ZIP cipher is weak; it keeps out the curious,\n"
                    "  not someone who wants the contents\n");
    size_t encrypted = 0;
    for (const SourceEntry &entry : run->entries) encrypted += (entry.record.flags & ZIP_FLAG_ENCRYPTED) != 0;
    if (encrypted)
      fprintf(stderr, "ostrel build: warning: %zu entr%s of %s encrypted already keep their own password\n",
              encrypted, encrypted == 1 ? "y" : "ies", run->options.input.c_str());
  }
  return 1;
}

// Starts the pool (files are compressed by its threads while the stage is
// encoded here), makes the prefix and opens the temporary output.
static int OpenOutput(BuildRun *run) {
  BuildOptions &options = run->options;
  if (!run->zipFile) {
    PackPoolStart(&run->pool, &run->entries, options.havePassword ? options.password : std::string(), options.fast);
    run->poolRunning = 1;
  }
  if (!BuildSfxPrefix(run->stub, run->extractor, &options.settings, &run->prefix, &run->error) ||
      !OpenOutputBeside(options.output, &run->output, &run->error))
    return 0;
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  return 1;
}

// The prefix, every entry and the central directory.
static int WriteArchive(BuildRun *run) {
  Progress &progress = run->progress;
  progress.shown = !run->options.quiet && isatty(STDERR_FILENO);
  progress.filesTotal = run->entries.size();
  for (const SourceEntry &entry : run->entries) progress.bytesTotal += entry.fileSize;
  clock_gettime(CLOCK_MONOTONIC, &progress.start);

  ZipWriterInit(&run->writer, run->output.file, 0);
  int ok = fwrite(run->prefix.data(), 1, run->prefix.size(), run->output.file) == run->prefix.size();
  run->writer.position = run->prefix.size();
  for (size_t i = 0; ok && i < run->entries.size(); i++) {
    ok = WriteEntry(&run->writer, &run->entries[i], run->zipFile, &run->options, &run->pool, i, &run->error);
    progress.files++;
    progress.bytes += run->entries[i].fileSize;
    ShowProgress(&progress, 0);
  }
  if (run->poolRunning) PackPoolStop(&run->pool);
  run->poolRunning = 0;
  if (ok) ok = ZipWriterFinish(&run->writer, 0) || (run->error = "write failed", 0);
  ShowProgress(&progress, 1);
  // The extractor keeps the file size in a signed 32-bit integer.
  if (ok && run->writer.position > 0x7FFFFFFF)
    ok = 0, run->error = "the SFX file would reach 2 GiB; the extractor cannot read it";
  if (!ok) run->error = run->options.output + ": " + run->error;
  return ok;
}

// Signs when asked, then renames the file over the target.
static int CommitBuild(BuildRun *run) {
  if (!run->options.signCert.empty() &&
      !SignOutput(&run->output, run->options.signCert, run->options.signKey, run->epoch, &run->error))
    return (run->error = run->options.output + ": " + run->error, 0);
  return CommitOutput(&run->output, &run->error);
}

// Releases what the steps took: the pool, the input, and an output that
// was not committed (removed, so a failed build leaves nothing behind).
static void BuildEnd(BuildRun *run) {
  if (run->poolRunning) PackPoolStop(&run->pool);
  run->poolRunning = 0;
  if (run->zipFile) fclose(run->zipFile);
  run->zipFile = nullptr;
  DiscardOutput(&run->output);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
}

static void PrintSummary(const BuildRun *run) {
  struct stat done;
  if (stat(run->options.output.c_str(), &done) != 0) done.st_size = 0;
  printf("%s: %zu entries, %lld bytes (stub %d, stage %zu, archive %llu)\n", run->options.output.c_str(),
         run->entries.size(), (long long)done.st_size, (int)SFX_STUB_SIZE, run->prefix.size() - SFX_STUB_SIZE,
         (unsigned long long)(run->writer.position - run->prefix.size()));
}

// The build in steps; the first that fails ends it, and nothing is written.
static int (*const kBuildSteps[])(BuildRun *run) = {
    ReadEpoch,     // SOURCE_DATE_EPOCH
    LoadPrograms,  // stub and extractor, checked as the SFX file will use them
    ReadInput,     // the folder scanned or the ZIP directory read
    CheckInput,    // every entry as the extractor will see it
    OpenOutput,    // pool started, prefix made, temporary file opened
    WriteArchive,  // prefix, entries, directory
    CommitBuild,   // signed when asked, renamed over the target
};

int RunBuild(int argc, char **argv) {
  BuildRun run;
  BuildInit(&run);
  int parsed = ParseArguments(argc, argv, &run.options, &run.error);
  if (parsed == OPT_HELP) return fputs(kUsage, stdout), EXIT_OK;
  if (parsed == OPT_FAILED) {
    fprintf(stderr, "ostrel build: %s\n(ostrel build --help lists the options)\n", run.error.c_str());
    return EXIT_USAGE;
  }
  int ok = 1;
  for (int (*step)(BuildRun *) : kBuildSteps)
    if (!(ok = step(&run))) break;
  BuildEnd(&run);
  if (!ok) return Refuse(run.error);
  if (!run.options.quiet) PrintSummary(&run);
  return EXIT_OK;
}
