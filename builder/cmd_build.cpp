// ostrel build: makes an SFX file from a folder or an existing ZIP archive.
//
// Order of work, so that a refusal leaves nothing behind:
//   1. options (command line, settings file) and texts checked;
//   2. stub and extractor read, the input scanned, every entry checked;
//   3. stub + stage, then the archive, written to a temporary file beside
//      the output; signed when asked; renamed over the output at the end.
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
    "  --default-folder DIR    target folder (default: the folder of the SFX file)\n"
    "  --run FILE              offered for starting after an interactive extraction\n"
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
      if (name == kSfxTextName[i]) return SetSettingsText(&s, (SfxText)i, value, error);
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

int RunBuild(int argc, char **argv) {
  BuildOptions options;
  SfxSettingsDefaults(&options.settings);
  options.havePassword = 0;
  options.arch = SFX_ARCH_WIN32;
  options.archGiven = 0;
  options.quiet = 0;
  options.fast = 0;
  std::string error;
  int parsed = ParseArguments(argc, argv, &options, &error);
  if (parsed == OPT_HELP) return fputs(kUsage, stdout), EXIT_OK;
  if (parsed == OPT_FAILED) {
    fprintf(stderr, "ostrel build: %s\n(ostrel build --help lists the options)\n", error.c_str());
    return EXIT_USAGE;
  }
  int64_t epoch = SourceDateEpoch(&error);
  if (epoch == -2) return Refuse(error);

  std::vector<uint8_t> stub, extractor;
  std::string stubPath, extractorPath;
  if (!LoadProgram(&options, "stub", options.stubPath, &stub, &stubPath, &error)) return Refuse(error);
  PeInfo stubInfo;
  if (!InspectPe(stub.data(), stub.size(), &stubInfo)) return Refuse(stubPath + ": not a Windows program");
  if (!options.archGiven && stubInfo.machine == PE_MACHINE_AMD64) options.arch = SFX_ARCH_WIN64;
  if (!LoadProgram(&options, "extractor", options.extractorPath, &extractor, &extractorPath, &error))
    return Refuse(error);
  uint16_t wanted = options.arch == SFX_ARCH_WIN64 ? PE_MACHINE_AMD64 : PE_MACHINE_I386;
  if (stubInfo.machine != wanted)
    fprintf(stderr, "ostrel build: warning: %s is built for %s, not %s\n", stubPath.c_str(),
            MachineName(stubInfo.machine), kArchName[options.arch]);
  if (!stubInfo.hasManifest &&
      (ContainsWord(options.output, "setup") || ContainsWord(options.output, "install") ||
       ContainsWord(options.output, "update")))
    fprintf(stderr,
            "ostrel build: warning: the stub has no manifest, so Windows asks for administrator rights\n"
            "  to start a program whose name contains setup, install or update; choose another name\n");

  // The input, scanned and checked in full before anything is written.
  std::vector<SourceEntry> entries;
  FILE *zipFile = nullptr;
  struct stat info;
  if (stat(options.input.c_str(), &info) != 0) return Refuse(options.input + ": " + strerror(errno));
  if (S_ISDIR(info.st_mode)) {
    if (!ScanFolderInput(options.input, epoch, &entries, &error)) return Refuse(error);
  } else {
    zipFile = fopen(options.input.c_str(), "rb");
    if (!zipFile) return Refuse(options.input + ": " + strerror(errno));
    if (!ReadZipInput(zipFile, options.input, &entries, &error)) {
      fclose(zipFile);
      return Refuse(error);
    }
  }
  std::vector<std::string> problems = CheckEntries(entries);
  if (!problems.empty()) {
    if (zipFile) fclose(zipFile);
    fprintf(stderr, "ostrel build: %s: the extractor cannot handle %zu thing%s; nothing written:\n",
            options.input.c_str(), problems.size(), problems.size() == 1 ? "" : "s");
    for (size_t i = 0; i < problems.size() && i < CHECK_MESSAGES_MAX; i++)
      fprintf(stderr, "  %s\n", problems[i].c_str());
    if (problems.size() > CHECK_MESSAGES_MAX)
      fprintf(stderr, "  ... and %zu more\n", problems.size() - CHECK_MESSAGES_MAX);
    return EXIT_FAILED;
  }
  if (options.havePassword) {
    fprintf(stderr, "ostrel build: warning: the traditional ZIP cipher is weak; it keeps out the curious,\n"
                    "  not someone who wants the contents\n");
    size_t encrypted = 0;
    for (const SourceEntry &entry : entries) encrypted += (entry.record.flags & ZIP_FLAG_ENCRYPTED) != 0;
    if (encrypted)
      fprintf(stderr, "ostrel build: warning: %zu entr%s of %s encrypted already keep their own password\n",
              encrypted, encrypted == 1 ? "y" : "ies", options.input.c_str());
  }

  // Files are compressed by the pool's threads while the stage is encoded here.
  PackPool pool;
  if (!zipFile) PackPoolStart(&pool, &entries, options.havePassword ? options.password : std::string(), options.fast);
  std::vector<uint8_t> prefix;
  SfxOutput output;
  if (!BuildSfxPrefix(stub, extractor, &options.settings, &prefix, &error) ||
      !OpenOutputBeside(options.output, &output, &error)) {
    if (zipFile) fclose(zipFile);
    else PackPoolStop(&pool);
    return Refuse(error);
  }
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  Progress progress = {};
  progress.shown = !options.quiet && isatty(STDERR_FILENO);
  progress.filesTotal = entries.size();
  for (const SourceEntry &entry : entries) progress.bytesTotal += entry.fileSize;
  clock_gettime(CLOCK_MONOTONIC, &progress.start);

  ZipWriter writer;
  ZipWriterInit(&writer, output.file, 0);
  int ok = fwrite(prefix.data(), 1, prefix.size(), output.file) == prefix.size();
  writer.position = prefix.size();
  for (size_t i = 0; ok && i < entries.size(); i++) {
    ok = WriteEntry(&writer, &entries[i], zipFile, &options, &pool, i, &error);
    progress.files++;
    progress.bytes += entries[i].fileSize;
    ShowProgress(&progress, 0);
  }
  if (!zipFile) PackPoolStop(&pool);
  if (ok) ok = ZipWriterFinish(&writer, 0) || (error = "write failed", 0);
  ShowProgress(&progress, 1);
  if (zipFile) fclose(zipFile);
  // The extractor keeps the file size in a signed 32-bit integer.
  if (ok && writer.position > 0x7FFFFFFF) ok = 0, error = "the SFX file would reach 2 GiB; the extractor cannot read it";
  if (ok && !options.signCert.empty()) ok = SignOutput(&output, options.signCert, options.signKey, epoch, &error);
  if (!ok) {
    DiscardOutput(&output);
    return Refuse(options.output + ": " + error);
  }
  if (!CommitOutput(&output, &error)) return Refuse(error);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  if (!options.quiet) {
    struct stat done;
    stat(options.output.c_str(), &done);
    printf("%s: %zu entries, %lld bytes (stub %d, stage %zu, archive %llu)\n", options.output.c_str(),
           entries.size(), (long long)done.st_size, (int)SFX_STUB_SIZE, prefix.size() - SFX_STUB_SIZE,
           (unsigned long long)(writer.position - prefix.size()));
  }
  return EXIT_OK;
}
