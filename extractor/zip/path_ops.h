// Text and path operations on UTF-8 texts with backslash separators.
// None of them records an errorCode or touches the user interface.
#ifndef OSTREL_ZIP_PATH_OPS_H
#define OSTREL_ZIP_PATH_OPS_H

#include <stdint.h>

enum {
  PATH_BUFFER = 261,          // MAX_PATH buffers of the Win32 shell's ANSI calls: 260 characters plus terminator
  PATH_LIMIT = 32767,         // UTF-16 units of the longest path the system takes, terminator included
  // Bytes of the core's UTF-8 paths: a UTF-16 unit takes at most 3 bytes
  // (a 4-byte sequence is 2 units), so any path within PATH_LIMIT fits.
  // Too big for the stack of the extractor, which has no stack probes:
  // buffers of this size are static or in working storage.
  LONG_PATH_BUFFER = 3 * PATH_LIMIT + 1,
  SPLIT_FIELD = 256,        // each SplitPath output: 255 characters plus terminator
  SPLIT_WILDCARDS = 1,      // "*" or "?" in the name or extension
  SPLIT_EXTENSION = 2,
  SPLIT_NAME = 4,
  SPLIT_DIRECTORY = 8,
  SPLIT_DRIVE = 16
};

// When source is longer than n characters, copies n characters and adds no
// terminator; otherwise copies source and fills the rest of the n bytes with zeros.
void CopyPadded(char *destination, const char *source, uint32_t n);
// Copies source cut to 255 bytes (at a UTF-8 character boundary), always
// terminated (destination holds 256).
void CopyLimited(char *destination, const char *source);

// 1 when the path exists and is not a folder / is a folder.
int FileExists(const char *path);
int DirectoryExists(const char *path);

// 1 when path (UTF-8) stays below the system's path limit: fewer than
// PATH_LIMIT UTF-16 units, so that it fits with its terminator.
int PathFits(const char *path);
// destination (size bytes) <- source with "\" appended unless it ends in one;
// an empty source gives "\". Returns 1; 0 when the result does not fit
// (a folder as long as the buffer): destination is then empty.
int AddTrailingBackslash(const char *source, char *destination, uint32_t size);
// destination <- source without a final "\" when longer than 3 characters ("C:\" keeps it).
void StripTrailingBackslash(const char *source, char *destination, uint32_t size);
// The name and extension of path: what follows its last "\" (all of it
// when it has none). At any length, unlike SplitPath's fields.
const char *PathName(const char *path);
// folder (size bytes) <- path up to and including its last "\"; empty when
// it has none. Returns 1; 0 when that does not fit (folder is then empty).
int PathFolder(const char *path, char *folder, uint32_t size);
// Index of the k-th backslash (k from 1), or the length of text when it has fewer.
uint32_t NthBackslash(const char *text, uint32_t k);
// Returns 1 when every folder of path exists afterwards, 0 when one cannot
// be created. Creation starts below the root: after "C:\" or "\", and for a
// network path after "\\server\share", neither of which can be created.
int MakeDirectoryChain(const char *path);
// MakeDirectoryChain of folder without its trailing backslash.
int MakeParentFolders(const char *folder);
// Replaces every "/" by "\" in place.
void SlashesToBackslashes(char *text);
// Splits path into drive ("C:"), directory (with its final "\"), name and
// extension (with its dot); each output may be null, each present one holds
// SPLIT_FIELD bytes. Returns the SPLIT_* flags.
int SplitPath(const char *path, char *drive, char *directory, char *name, char *extension);

#endif
