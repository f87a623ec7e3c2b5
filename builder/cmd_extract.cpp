// ostrel extract: runs the extractor's own reader and driver natively on an
// SFX file or a plain ZIP archive. The user-facing answers the Windows
// product gets from its dialogs come from the command line and the
// terminal here: the overwrite question, the password, the CRC check.
//
// Paths: the core works on UTF-8 texts with backslashes; arguments
// arrive as UTF-8 and are made absolute first, because a folder chain is
// created from its second separator on (the first one follows a drive).
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "builder/commands.h"
#include "builder/tool_support.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"
#include "extractor/zip/summary.h"

static const char kUsage[] =
    "usage: ostrel extract [--password PW] [--ask] ARCHIVE DIR\n"
    "\n"
    "Extracts an SFX file or a ZIP archive into DIR (created if missing).\n"
    "\n"
    "  --password PW  password for encrypted entries; without it the\n"
    "                 password is asked on the terminal when needed\n"
    "  --ask          ask before replacing an existing file:\n"
    "                 [o]k, [a]lle ersetzen, [n]ein, a[b]brechen\n"
    "                 (default: existing files are replaced)\n"
    "  --help         this text\n"
    "\n"
    "A file whose CRC does not match is deleted and ends the run; on a\n"
    "terminal you are asked first ([o]k keeps it, counted as a warning).\n"
    "Exit status: 0 complete, 1 the run ended with an error, 2 wrong usage.\n";

typedef struct ToolOptions {
  const char *password;  // --password, null when not given
  int ask;               // --ask
  int progressLines;     // stdout is a terminal: one line per file
} ToolOptions;

static ToolOptions options;
static volatile sig_atomic_t interrupted;  // Ctrl-C: the next progress report answers stop

static void OnInterrupt(int) { interrupted = 1; }

static int ToolProgress(int, int32_t) {
  if (storage.entry->entryComplete && extraction.errorCode == ERR_NONE && options.progressLines) {
    static char name[4 * LONG_PATH_BUFFER];
    EntryNameUtf8(storage.entry->entryName, name, sizeof name);
    printf("  %s\n", name);
  }
  return interrupted ? 0 : 1;
}

static int overwriteAll;  // 1 after "alle ersetzen", or from the start without --ask

// The CRC question, as the warning box asks it: [o]k keeps the damaged
// file (a warning), a[b]brechen discards it and ends the run. Without a
// terminal nobody can answer: discarded, as an empty slot would.
static int ToolConfirmCrcMismatch(const char *) {
  static char name[4 * LONG_PATH_BUFFER];
  char answer[64];
  EntryNameUtf8(storage.entry->entryName, name, sizeof name);
  if (!interrupted && isatty(STDIN_FILENO)) {
    for (;;) {
      fprintf(stderr, "Falscher CRC! Die Datei %s ist moeglicherweise beschaedigt! [o]k, a[b]brechen: ", name);
      fflush(stderr);
      if (!ReadAnswer(answer, sizeof answer, 0)) break;
      if (!strcmp(answer, "o") || !strcmp(answer, "ok")) return CRC_MISMATCH_KEEP;
      if (!strcmp(answer, "b") || !strcmp(answer, "abbrechen")) break;
    }
  }
  fprintf(stderr, "ostrel: CRC mismatch in %s: file discarded\n", name);
  return CRC_MISMATCH_STOP;
}

static int ToolConfirmOverwrite(const char *targetPath, const EntryFindData *) {
  if (FileGetAttributes(targetPath) == FILE_ATTR_NONE) return OVERWRITE_WRITE;
  if (!overwriteAll) {
    static char shown[4 * LONG_PATH_BUFFER];
    char answer[64];
    EntryNameUtf8(targetPath, shown, sizeof shown);
    for (;;) {
      fprintf(stderr, "Datei '%s' ersetzen? [o]k, [a]lle ersetzen, [n]ein, a[b]brechen: ", shown);
      fflush(stderr);
      if (!ReadAnswer(answer, sizeof answer, 0)) return OVERWRITE_STOP;  // no answer can come
      if (!strcmp(answer, "o") || !strcmp(answer, "ok")) break;
      if (!strcmp(answer, "a") || !strcmp(answer, "alle")) {
        overwriteAll = 1;
        break;
      }
      if (!strcmp(answer, "n") || !strcmp(answer, "nein")) return OVERWRITE_SKIP;
      if (!strcmp(answer, "b") || !strcmp(answer, "abbrechen")) return OVERWRITE_STOP;
    }
  }
  return OVERWRITE_WRITE;
}

// Prints the run's German summary as UTF-8 with plain line ends. Returns the exit code.
static int PrintSummary(void) {
  char message[SUMMARY_TEXT_BUFFER], utf8[SUMMARY_TEXT_BUFFER * 3];
  ComposeSummary(message, "");
  AnsiToUtf8(message, utf8, sizeof utf8);
  FILE *out = extraction.errorCode == ERR_NONE ? stdout : stderr;
  for (const char *c = utf8; *c; c++)
    if (*c != '\r') fputc(*c, out);
  fputc('\n', out);
  return extraction.errorCode == ERR_NONE ? EXIT_OK : EXIT_FAILED;
}

int RunExtract(int argc, char **argv) {
  memset(&options, 0, sizeof options);
  const char *positional[2];
  int count = 0;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      fputs(kUsage, stdout);
      return EXIT_OK;
    } else if (!strcmp(argv[i], "--password") && i + 1 < argc) {
      options.password = argv[++i];
    } else if (!strcmp(argv[i], "--ask")) {
      options.ask = 1;
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      fprintf(stderr, "ostrel extract: unknown or incomplete option '%s'\n\n%s", argv[i], kUsage);
      return EXIT_USAGE;
    } else if (count < 2) {
      positional[count++] = argv[i];
    } else {
      count = 3;
    }
  }
  if (count != 2) {
    fprintf(stderr, "ostrel extract: needs ARCHIVE and DIR\n\n%s", kUsage);
    return EXIT_USAGE;
  }
  static char archive[LONG_PATH_BUFFER], folder[LONG_PATH_BUFFER];
  if (!ToCorePath(positional[0], archive) || !ToCorePath(positional[1], folder)) return EXIT_FAILED;
  options.progressLines = isatty(STDOUT_FILENO);

  if (!AllocWorkingStorage()) return PrintSummary();
  OpenArchive(archive);
  if (extraction.errorCode != ERR_NONE) {
    PrintArchiveRefusal("extract", positional[0]);
    FreeWorkingStorage();
    return PrintSummary();
  }
  callbacks.reportProgress = ToolProgress;
  callbacks.confirmOverwrite = ToolConfirmOverwrite;
  callbacks.askPassword = ToolAskPassword;
  callbacks.confirmCrcMismatch = ToolConfirmCrcMismatch;
  SetToolPassword(options.password);
  overwriteAll = !options.ask;
  if (!SetTargetFolder(folder) || !MakeDirectoryChain(folder)) {
    fprintf(stderr, "ostrel: cannot create %s\n", positional[1]);
    extraction.errorCode = ERR_ACCESS;
    FreeWorkingStorage();
    return PrintSummary();
  }

  struct sigaction action, previous;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigaction(SIGINT, &action, &previous);
  ExtractArchive();
  sigaction(SIGINT, &previous, nullptr);
  return PrintSummary();
}
