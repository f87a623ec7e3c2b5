// ZIP directory reader: finds the end record of the archive that forms the
// tail of the SFX file, walks its central directory one record at a time
// and leaves extraction.dataFile at each entry's data, with the transfer
// state of the decoders prepared. It also creates and releases the run's
// working storage.
//
// Call order:
//   1. AllocWorkingStorage()          once, at start-up
//   2. OpenArchive(sfxPath)           resets the run, finds the end record
//   3. (fill callbacks, set the target folder)
//   4. ExtractArchive() (extract_driver.h): FindEndRecord, LoadEndRecord,
//      LocateDirectory, ReadNextEntry until it returns 0, FreeWorkingStorage
//
// Every offset the archive stores counts from the start of the SFX file,
// unless the archive was put behind other data without moving them: then
// LocateDirectory finds the difference and it is added to each. All
// failures record one code in extraction.errorCode and return 0; nothing
// here talks to the user.
#ifndef OSTREL_ZIP_ARCHIVE_READER_H
#define OSTREL_ZIP_ARCHIVE_READER_H

#include <stdint.h>

#include "extractor/zip/entry_spans.h"

enum {
  END_SCAN_FIRST = 64,       // the first window: the last 64 bytes of the file
  END_SCAN_STEP = 60,        // each further window: 60 bytes earlier ...
  END_SCAN_KEPT = 4,         // ... plus the first 4 bytes of the window before
  FIND_BYTES_NONE = 0xFFFF,  // FindBytes: no occurrence
  NAME_MAX_LENGTH = 260      // longest entry name kept (entryName holds 261 bytes)
};

// Bounds of the archive, known once ExtractArchive has loaded the end
// record; ReadNextEntry checks every stored offset and size against them
// so that no record is read from outside the archive's own bytes.
typedef struct ReaderState {
  int32_t fileSize;          // of the SFX file; -1 while unknown (no bound checks)
  uint32_t directoryOffset;  // first central record, base added; entry data must end at or before it
  uint32_t base;             // added to every stored offset: the bytes in front of an archive
                             // whose offsets were not moved (plain concatenation); 0 normally
  SpanSet spans;             // byte ranges of the entries read so far in the run
  int32_t archiveEnd;        // the end-record search stays before it: the file size, or the
                             // certificate table of a signed image (signed_archive.h); -1 unknown
} ReaderState;

extern ReaderState reader;

// Creates the four blocks of working storage (entry input, output window,
// entry record, CRC table; then the CRC table is built) and the span list.
// Returns 1 when all exist; 0 with code 8 after releasing those made so far.
int AllocWorkingStorage(void);
// Releases whichever blocks exist and marks them absent (never twice).
void FreeWorkingStorage(void);

// Resets the run (code, counters, ExtractionState, callbacks), checks that
// path names an existing file, finds its end record and then records
// archivePath. No result: code 2 (no such file), 5 (cannot open) or 9966
// (no end record; archivePath stays empty) tells the outcome.
void OpenArchive(const char *path);

// Returns 1 with dataFile just past the end record's signature (cached
// after the first scan); 0 with code 5 (seek or read failed), 9966 (no
// signature anywhere in front of reader.archiveEnd) or 9964 (a signed
// image whose archive does not end where its certificate table begins;
// signedArchive.problem says why).
int FindEndRecord(void);
// Reads the 22-byte end record at dataFile's position (the caller places it
// at endRecordPos - 4). Returns 1 when endRecord holds the checked record;
// 0 with code 5 (read failed) or 9964 (wrong signature, or cut short).
int LoadEndRecord(void);

// Finds the central directory from the loaded end record (dataFile and
// directoryFile open) and places both handles at it; works out reader.base
// and the bounds that ReadNextEntry checks and empties the span set.
// Returns 1 when there are entries to walk; 0 when the end record counts
// none (no code) or with code 5 (seek or read failed) or 9964 (directory
// offset beyond the end record). A ZIP64 end record, found through its
// locator, gives the count, size and offset in place of the end record's.
int LocateDirectory(void);

// Reads the next central record, its name and the entry's local header,
// runs the password step of an encrypted entry and prepares transfer.
// directoryFile must stand at a central record (the caller places it at
// the directory offset before the first call). Returns 1 with dataFile at
// the entry's data; 0 when the end record (or the ZIP64 end record) was
// met (no code) or a failure
// was recorded: 5 (read failed), 9961 (password given up), 9967 (method
// neither stored nor Deflate), 9968 (AES-encrypted), 9969 (2 GiB or
// larger), 9964 (wrong
// signature, record cut short, name over 260 bytes, an offset or size
// outside the archive, a ZIP64 marker without its value, or an entry
// overlapping another) or 8 (the list of
// entry ranges cannot grow).
int ReadNextEntry(void);

// Returns the lowest index i, 0 <= i <= length - patternLength, at which
// pattern occurs in buffer; FIND_BYTES_NONE when it does not occur, when a
// pointer is null or when a length is 0.
uint16_t FindBytes(const uint8_t *buffer, uint16_t length, const uint8_t *pattern,
                   uint16_t patternLength);

#endif
