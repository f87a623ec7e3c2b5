// The long-path form of a Windows path, worked out on the core's 8-bit path
// text (portable, so that it is tested natively; the Win32 seam in
// wide_text.h converts the result to UTF-16).
//
// Windows refuses paths of MAX_PATH (260) characters or more, folders from
// 248 on (CreateDirectory keeps room for an 8.3 name), unless the path
// carries the "\\?\" prefix: "\\?\C:\…" for a drive, "\\?\UNC\server\share\…"
// for a network path. The prefix also turns off the system's own
// normalisation: "/" is no separator, "." and ".." are ordinary names and
// empty components reach the file system. So the form below normalises
// first: separators become "\", empty and "." components go, ".." takes the
// component before it away (never the drive or the server and share).
//
// Format notes:
// - Only paths of LONG_PATH_FROM bytes or more are rewritten; shorter ones
//   keep the system's normalisation and are copied as they are. The bound
//   counts bytes: with a multi-byte core encoding (UTF-8) a path reaches it
//   before it reaches 248 UTF-16 units, which costs nothing: the prefixed
//   form is valid at any length.
// - A path that has the prefix already is copied unchanged.
// - A trailing "\" (a folder) is kept.
#ifndef OSTREL_ZIP_LONG_PATH_H
#define OSTREL_ZIP_LONG_PATH_H

#include <stdint.h>

enum {
  LONG_PATH_FROM = 248  // CreateDirectory's limit, 12 below MAX_PATH: from here on the prefix
};

// out (size bytes) <- path in the form Windows takes at any length.
// Returns 1; 0 when a long path is relative or drive-relative ("a\b",
// "\a", "C:a"), when ".." would climb above the drive or the share, or when
// the result does not fit (out is then empty).
int LongPathForm(const char *path, char *out, uint32_t size);

#endif
