// Terminal answers, core paths and the password prompt of the native commands.
#include "builder/tool_support.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "extractor/zip/codepage.h"
#include "extractor/zip/entry_names.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/signed_archive.h"
#include "extractor/zip/state.h"

// out <- the UTF-8 text with control characters escaped; slashes: '\\' becomes '/'.
static void Printable(const char *utf8, char *out, uint32_t size, int slashes) {
  uint32_t used = 0;
  for (const uint8_t *c = (const uint8_t *)utf8; *c && size > 0; c++) {
    // Control characters (C0, DEL and the C1 range U+0080..U+009F) would
    // reach the terminal raw and could drive it: they are shown as \xNN.
    char piece[8] = {(char)(slashes && *c == '\\' ? '/' : *c), 0};
    if (*c < 0x20 || *c == 0x7F) snprintf(piece, sizeof piece, "\\x%02X", *c);
    else if (*c == 0xC2 && c[1] >= 0x80 && c[1] <= 0x9F) snprintf(piece, sizeof piece, "\\x%02X", *++c);
    size_t length = strlen(piece);
    if (used + length >= size) break;
    memcpy(out + used, piece, length);
    used += (uint32_t)length;
  }
  if (size > 0) out[used] = 0;
}

void EntryNameUtf8(const char *name, char *out, uint32_t size) { Printable(name, out, size, 1); }

void PrintableUtf8(const char *ansi, char *out, uint32_t size) {
  std::vector<char> utf8(strlen(ansi) * 3 + 1);
  AnsiToUtf8(ansi, utf8.data(), (uint32_t)utf8.size());
  Printable(utf8.data(), out, size, 0);
}

// Reads one line from the terminal (stdin), without its line end. Returns 0 at the end of input.
int ReadAnswer(char *buffer, int size, int hidden) {
  struct termios saved;
  int echoOff = hidden && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (echoOff) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~(tcflag_t)ECHO;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  char *got = fgets(buffer, size, stdin);
  if (echoOff) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputc('\n', stderr);
  }
  if (!got) return 0;
  buffer[strcspn(buffer, "\r\n")] = 0;
  return 1;
}

// Copies a UTF-8 password into the core's buffer as Windows-1252 bytes, the
// form the Windows product's dialog produces for the same keys.
static void StorePassword(char *buffer, const char *typed) {
  char converted[PASSWORD_BUFFER * 4];
  size_t length = strlen(typed);
  if (length >= sizeof converted) length = sizeof converted - 1;
  memcpy(converted, typed, length);
  converted[length] = 0;
  Utf8ToAnsiInPlace(converted);
  converted[PASSWORD_BUFFER - 2] = 0;  // at most 254 characters are kept
  strcpy(buffer, converted);
}

int ToCorePath(const char *argument, char *core) {
  std::string absolute = argument;
  if (argument[0] != '/') {
    std::vector<char> cwd(LONG_PATH_BUFFER);
    if (!getcwd(cwd.data(), cwd.size())) {
      fprintf(stderr, "ostrel: cannot determine the current folder: %s\n", strerror(errno));
      return 0;
    }
    absolute = std::string(cwd.data()) + "/" + argument;
  }
  // "//tmp/x" is "/tmp/x" on POSIX; its core form "\\tmp\x" would name a network share.
  while (absolute.size() > 1 && absolute[0] == '/' && absolute[1] == '/') absolute.erase(0, 1);
  if (!Utf8IsValid(absolute.c_str(), (uint32_t)absolute.size())) {
    fprintf(stderr, "ostrel: %s: the path is not valid UTF-8\n", argument);
    return 0;
  }
  if (!PathFits(absolute.c_str())) {
    fprintf(stderr, "ostrel: %s: the path is longer than %d UTF-16 units\n", argument, (int)PATH_LIMIT - 1);
    return 0;
  }
  strcpy(core, absolute.c_str());
  SlashesToBackslashes(core);
  return 1;
}

static const char *givenPassword;  // --password, null when not given
static int givenPasswordUsed;      // handed out once already

void SetToolPassword(const char *given) {
  givenPassword = given;
  givenPasswordUsed = 0;
}

int ToolAskPassword(int, char *buffer, const char *entryName) {
  if (givenPassword && !givenPasswordUsed) {
    givenPasswordUsed = 1;
    StorePassword(buffer, givenPassword);
    return 1;
  }
  // The given password did not fit this entry, or none was given: only a
  // person at the terminal can answer now.
  if (!isatty(STDIN_FILENO)) return 0;
  static char shown[4 * LONG_PATH_BUFFER];
  char typed[PASSWORD_BUFFER * 4];
  EntryNameUtf8(entryName, shown, sizeof shown);
  fprintf(stderr, "Passwort f\xC3\xBCr %s: ", shown);
  fflush(stderr);
  if (!ReadAnswer(typed, sizeof typed, 1)) return 0;
  StorePassword(buffer, typed);
  return 1;
}

int PrintArchiveRefusal(const char *command, const char *path) {
  if (!signedArchive.problem) return 0;
  fprintf(stderr, "ostrel %s: %s: refused: %s\n", command, path, signedArchive.problem);
  return 1;
}
