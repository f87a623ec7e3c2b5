// Extraction driver: extracts every entry of the archive opened by
// OpenArchive into extraction.targetFolder, in central-directory order.
//
// Per entry:
//   1. ReadNextEntry (archive_reader.h)
//   2. CheckEntryTarget: the entry's place inside the target folder, or a
//      refusal (a name the rules refuse, the same file as an earlier
//      entry, a file and a folder of one name): 9964
//   3. a folder entry (name ends in "\") creates its folder; go to 1
//      (a test run, extraction.testOnly: decode and check; go to 1)
//   4. DescribeEntry, then callbacks.confirmOverwrite: write, skip or stop
//   5. the target's folders made; the file created exclusively under a
//      temporary name beside the target
//   6. DecodeDeflateEntry (method 8) or CopyStoredEntry (any other method)
//   7. time stamped on the handle, file closed, entryComplete = 1, final
//      progress call (callbacks.reportProgress(0, 100), display only)
//   8. entry check, when no code is recorded: CRC-32 compared here; a
//      mismatch goes to callbacks.confirmCrcMismatch (keep: a warning;
//      stop or no slot: 9962)
//   9. counted; with a code: the temporary file is deleted and the run
//      ends; without: it replaces the target, which gets its attributes
//
// A failed entry therefore never destroys the file it was to replace.
#ifndef OSTREL_ZIP_EXTRACT_DRIVER_H
#define OSTREL_ZIP_EXTRACT_DRIVER_H

#include <stdint.h>

#include "extractor/zip/entry_names.h"
#include "extractor/zip/state.h"

enum {
  TEMP_NAME_LENGTH = 15,  // "~ox" + 8 hex digits + ".tmp"
  TEMP_NAME_TRIES = 16    // taken names passed over before the entry is written directly (or fails)
};

// Extracts the archive. No result: errorCode is 0 after a complete run
// and holds the code that ended it otherwise. When OpenArchive found no
// end record (archivePath empty) nothing starts and the code is 9966
// (or OpenArchive's own 2 or 5). Releases the working storage at its end.
// With extraction.testOnly set, the same walk and the same per-entry
// checks run, and every file entry is decoded and its CRC checked, but
// nothing is created or written and no overwrite question is put;
// callbacks.reportEntry hears the outcome of each file entry.
void ExtractArchive(void);

// out (LONG_PATH_BUFFER bytes) <- targetFolder followed by name, forward slashes
// turned into backslashes and one leading separator dropped. Returns 1;
// 0 with code 9964 when EntryNameCheck (entry_names.h) refuses the name
// (it could leave the target folder, names a device, holds a character
// Windows never allows, or is empty); 0 with code 5 when the path exceeds
// the system's limit (PathFits).
int BuildTargetPath(const char *name, char *out);

// The per-entry check every command applies, extraction or not:
// BuildTargetPath, then the entry against the earlier ones of the run.
// name is the converted entry name (EntryRecord.entryName); a folder's
// ends in "\". Returns 1 with target; 0 with code 9964 when the name is
// refused or comes out as the same file as an earlier entry (up to case,
// trailing dots and blanks, "." and empty components), as a file where an
// earlier entry made a folder or the other way round; 0 with 5 (too long)
// or 8 (the set of names cannot grow). ExtractArchive forgets the names at
// its end; other callers call ForgetTargets when their walk is done.
int CheckEntryTarget(const char *name, char *target);
void ForgetTargets(void);

// Decodes the current entry (as ReadNextEntry left it) into
// extraction.outputFile: inflated or copied, through the output sink with
// its CRC and size checks. Failures arrive in errorCode. The driver calls
// it for every file; `ostrel test` calls it with a sink that keeps nothing.
void DecodeCurrentEntry(void);

// Fills out for the current entry (layout of WIN32_FIND_DATAA): central
// attributes, the central DOS time as local time in UTC in all three times
// (zero when the DOS date or time is invalid), the entry's uncompressed
// size, and its name without folders and extension.
void DescribeEntry(EntryFindData *out);

// Creates the folders above path and the file itself, emptied, for
// writing. Returns 1 with the handle in *handle; 0 with code 5.
int CreateOutputFile(FileHandle *handle, const char *path);

#endif
