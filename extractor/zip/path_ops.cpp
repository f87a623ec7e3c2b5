// Text and path operations on UTF-8 texts with backslash separators.
// Everything here is plain text work except the existence tests and the
// folder chain, which go through the file layer (file_io.h).
#include "extractor/zip/path_ops.h"

#include <string.h>

#include "extractor/zip/codepage.h"
#include "extractor/zip/file_io.h"

void CopyPadded(char *destination, const char *source, uint32_t n) {
  // strncpy's contract exactly, spelled out so nobody "fixes" it into a
  // terminated copy (a caller that needs the terminator writes it).
  uint32_t i = 0;
  for (; i < n && source[i]; i++) destination[i] = source[i];
  for (; i < n; i++) destination[i] = 0;
}

void CopyLimited(char *destination, const char *source) {
  uint32_t i = 0;
  for (; i < SPLIT_FIELD - 1 && source[i]; i++) destination[i] = source[i];
  // Cut inside a UTF-8 sequence: the partial character goes too.
  if (source[i]) {
    uint32_t lead = i, codePoint;
    while (lead > 0 && ((uint8_t)destination[lead - 1] & 0xC0) == 0x80) lead--;
    if (lead > 0 && (uint8_t)destination[lead - 1] >= 0xC0 &&
        Utf8Sequence(destination + lead - 1, i - lead + 1, &codePoint) == 0)
      i = lead - 1;
  }
  destination[i] = 0;
}

int FileExists(const char *path) {
  uint32_t attributes = FileGetAttributes(path);
  return attributes != FILE_ATTR_NONE && !(attributes & FILE_ATTR_DIRECTORY);
}

int DirectoryExists(const char *path) {
  uint32_t attributes = FileGetAttributes(path);
  return attributes != FILE_ATTR_NONE && (attributes & FILE_ATTR_DIRECTORY);
}

// Copies at most size - 1 characters and terminates; source and destination
// may be the same buffer. Returns the length copied.
static uint32_t CopyCut(char *destination, const char *source, uint32_t size) {
  uint32_t length = (uint32_t)strlen(source);
  if (length > size - 1) length = size - 1;
  memmove(destination, source, length);
  destination[length] = 0;
  return length;
}

int PathFits(const char *path) { return strlen(path) < LONG_PATH_BUFFER && Utf16Length(path) < PATH_LIMIT; }

int AddTrailingBackslash(const char *source, char *destination, uint32_t size) {
  if (size == 0) return 0;
  uint32_t length = (uint32_t)strlen(source);
  int needsSeparator = length == 0 || source[length - 1] != '\\';
  // Cut, or with its last character made the separator, the result would
  // name another folder (a sibling or a parent): refused instead.
  if (length + (uint32_t)needsSeparator > size - 1) {
    destination[0] = 0;
    return 0;
  }
  memmove(destination, source, length);
  if (needsSeparator) destination[length++] = '\\';
  destination[length] = 0;
  return 1;
}

void StripTrailingBackslash(const char *source, char *destination, uint32_t size) {
  if (size == 0) return;
  uint32_t length = CopyCut(destination, source, size);
  if (length > 3 && destination[length - 1] == '\\') destination[length - 1] = 0;
}

uint32_t NthBackslash(const char *text, uint32_t k) {
  uint32_t i = 0;
  for (; text[i]; i++)
    if (text[i] == '\\' && --k == 0) return i;
  return i;
}

const char *PathName(const char *path) {
  const char *last = strrchr(path, '\\');
  return last ? last + 1 : path;
}

int PathFolder(const char *path, char *folder, uint32_t size) {
  size_t length = (size_t)(PathName(path) - path);
  folder[0] = 0;
  if (length >= size) return 0;
  memcpy(folder, path, length);
  folder[length] = 0;
  return 1;
}

int MakeDirectoryChain(const char *path) {
  if (DirectoryExists(path)) return 1;
  uint32_t length = (uint32_t)strlen(path);
  if (!PathFits(path)) return 0;  // cannot name a folder on the platform either
  static char prefix[LONG_PATH_BUFFER];
  // From the second backslash on: the first one follows the drive ("C:\")
  // or is the root itself, neither of which can be created. A network path
  // ("\\server\share\...") starts after its fourth: the server and the
  // share exist or the path names nothing.
  int network = path[0] == '\\' && path[1] == '\\';
  for (uint32_t k = network ? 5 : 2;; k++) {
    uint32_t i = NthBackslash(path, k);
    CopyPadded(prefix, path, i);
    prefix[i] = 0;  // the buffer is not cleared first: 96 KiB for each new folder
    if (!DirectoryExists(prefix) && CreateFolder(prefix) != 0) return 0;
    if (i >= length) return 1;
  }
}

int MakeParentFolders(const char *folder) {
  static char stripped[LONG_PATH_BUFFER];
  StripTrailingBackslash(folder, stripped, sizeof stripped);
  return MakeDirectoryChain(stripped);
}

void SlashesToBackslashes(char *text) {
  for (; *text; text++)
    if (*text == '/') *text = '\\';
}

// SplitPath works on copy[1..]; copy[0] is the zero start marker that the
// backward scan runs into.
enum { SPLIT_COPY_MAX = 256 };

static int IsComponentStart(const char *copy, int32_t at) {
  // at is the index in copy of the character before a dot component.
  char c = copy[at];
  return at == 0 || c == '\\' || c == '/' || (c == ':' && at == 2);
}

int SplitPath(const char *path, char *drive, char *directory, char *name, char *extension) {
  if (drive) drive[0] = 0;
  if (directory) directory[0] = 0;
  if (name) name[0] = 0;
  if (extension) extension[0] = 0;
  int flags = 0;

  while (*path == ' ') path++;
  char copy[SPLIT_COPY_MAX + 2];
  copy[0] = 0;
  uint32_t length = 0;
  while (length < SPLIT_COPY_MAX && path[length]) {
    copy[length + 1] = path[length];
    length++;
  }
  copy[length + 1] = 0;
  char *text = copy + 1;  // text[1] is "position 1"
  int hasDrive = length >= 2 && text[1] == ':';

  // Format notes: the scan goes from the end towards the start so that the
  // last dot before any separator starts the extension and the last
  // separator ends the directory. "." and ".." as the final component are
  // folders, not extensions. A colon counts as the drive's only at position 1.
  int inDirectory = 0;
  int32_t end = (int32_t)length;  // current length of the (cut) copy
  for (int32_t p = end - 1; p >= 0; p--) {
    char c = text[p];
    if (p == 1 && c == ':') break;
    if (inDirectory) continue;
    if (c == '*' || c == '?') {
      flags |= SPLIT_WILDCARDS;
    } else if (c == '.') {
      int whole = 0;
      if (p == end - 1) {
        // copy index of text[p] is p + 1
        if (IsComponentStart(copy, p)) whole = 1;
        else if (copy[p] == '.' && IsComponentStart(copy, p - 1)) whole = 1;
      }
      if (whole) {
        inDirectory = 1;
      } else if (!(flags & SPLIT_EXTENSION)) {
        flags |= SPLIT_EXTENSION;
        if (extension) CopyLimited(extension, text + p);
        text[p] = 0;
        end = p;
      }
    } else if (c == '\\' || c == '/') {
      inDirectory = 1;
      if (text[p + 1]) {
        flags |= SPLIT_NAME;
        if (name) CopyLimited(name, text + p + 1);
      }
      text[p + 1] = 0;
      end = p + 1;
    }
  }

  const char *rest = hasDrive ? text + 2 : text;
  if (rest[0]) {
    if (inDirectory) {
      flags |= SPLIT_DIRECTORY;
      if (directory) CopyLimited(directory, rest);
    } else {
      flags |= SPLIT_NAME;
      if (name) CopyLimited(name, rest);
    }
  }
  if (hasDrive) {
    flags |= SPLIT_DRIVE;
    if (drive) {
      drive[0] = text[0];
      drive[1] = ':';
      drive[2] = 0;
    }
  }
  return flags;
}
