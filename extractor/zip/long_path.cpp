#include "extractor/zip/long_path.h"

#include <string.h>

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

static int Refuse(char *out, uint32_t size) {
  if (size > 0) out[0] = 0;
  return 0;
}

int LongPathForm(const char *path, char *out, uint32_t size) {
  size_t length = strlen(path);
  if (length < LONG_PATH_FROM || memcmp(path, "\\\\?\\", 4) == 0) {
    if (length >= size) return Refuse(out, size);
    memcpy(out, path, length + 1);
    return 1;
  }
  const char *rest;
  size_t used;
  int fixed;  // components that ".." may not take away: the server and the share
  if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && IsSeparator(path[2])) {
    if (size < 7) return Refuse(out, size);
    memcpy(out, "\\\\?\\", 4);
    out[4] = path[0];
    out[5] = ':';
    used = 6;
    rest = path + 3;
    fixed = 0;
  } else if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    if (size < 8) return Refuse(out, size);
    memcpy(out, "\\\\?\\UNC", 7);
    used = 7;
    rest = path + 2;
    fixed = 2;
  } else {
    return Refuse(out, size);
  }
  size_t root = used;
  int kept = 0;  // components in out after the root
  while (*rest) {
    while (IsSeparator(*rest)) rest++;
    const char *end = rest;
    while (*end && !IsSeparator(*end)) end++;
    size_t part = (size_t)(end - rest);
    if (part == 1 && rest[0] == '.') {
      if (kept < fixed) return Refuse(out, size);
    } else if (part == 2 && rest[0] == '.' && rest[1] == '.') {
      if (kept <= fixed) return Refuse(out, size);
      while (used > root && out[used - 1] != '\\') used--;
      used--;  // the separator in front of the component
      kept--;
    } else if (part > 0) {
      if (used + 1 + part >= size) return Refuse(out, size);
      out[used++] = '\\';
      memcpy(out + used, rest, part);
      used += part;
      kept++;
    }
    rest = end;
  }
  if (kept < fixed) return Refuse(out, size);
  // "C:\" alone, and any folder path given with its final separator, end in "\".
  if (kept == 0 || IsSeparator(path[length - 1])) {
    if (used + 1 >= size) return Refuse(out, size);
    out[used++] = '\\';
  }
  out[used] = 0;
  return 1;
}
