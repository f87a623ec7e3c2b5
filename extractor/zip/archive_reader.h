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
#include "extractor/zip/zip_format.h"

enum {
  END_SEARCH_SPAN = ZIP_END_SIZE + 0xFFFF  // the end record with the longest comment: 65,557 bytes
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
  int32_t archiveEnd;        // where the archive's bytes end: the end record is looked for in the
                             // END_SEARCH_SPAN bytes before it; -1 (default): the file's size.
                             // Set by the caller before OpenArchive; OpenArchive keeps it.
  int32_t walkOnly;          // 1: ReadNextEntry asks for no password and leaves dataFile at the
                             // stored bytes (list, info, build); 0: the extraction's walk
  uint64_t entriesClaimed;   // entries the end record (or ZIP64 end record) counts;
                             // ENTRIES_UNKNOWN until LocateDirectory has read it
  uint64_t entriesRead;      // central records the walk has read
  int32_t zip64End;          // 1 when the counts came from a ZIP64 end record
  uint32_t centralAt;        // position of the current entry's central record
  uint32_t localAt;          // position of its local header
  uint32_t dataAt;           // position of its stored bytes (the encryption header included)
  uint32_t packedSize;       // its stored bytes, the encryption header included
} ReaderState;

static const uint64_t ENTRIES_UNKNOWN = ~(uint64_t)0;

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

// Finds the end record: the "PK\5\6" signature nearest to reader.archiveEnd
// within the END_SEARCH_SPAN bytes before it, read in one piece. Returns 1
// with dataFile just past the signature (cached after the first search);
// 0 with code 5 (seek or read failed), 8 (no memory for the bytes), 9966
// (no signature there) or 9964 (a signed image whose archive does not end
// where its certificate table begins, signed_archive.h: the search then
// also stays in front of the table; signedArchive.problem says why).
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
// offset beyond the end record, or a directory or end record on another
// disk than the first of a multi-part archive). A ZIP64 end record, found
// through its locator, gives the count, size and offset in place of the
// end record's.
int LocateDirectory(void);

// The walk's start for every command: finds and loads the end record and
// places both handles (open on the archive) at the central directory.
// Returns 1 when there are entries to walk; 0 when there are none (no
// code) or a code was recorded (8 without working storage, or those of
// FindEndRecord, LoadEndRecord and LocateDirectory).
int PrepareWalk(void);

// Asks through callbacks.askPassword until a password fits the entry's
// 12-byte encryption header (CheckEncryptionHeader) or the user gives up;
// consumes the header from extraction.dataFile. Returns 1 when the keys
// are ready for the entry's data; 0 when the user gave up or no prompt is
// registered (no code recorded: ReadNextEntry records 9961), or when the
// header could not be read whole (code 5 recorded).
int ObtainPassword(const char *entryName);

// Reads the next central record, its name and the entry's local header,
// runs the password step of an encrypted entry and prepares transfer.
// directoryFile must stand at a central record (the caller places it at
// the directory offset before the first call). Returns 1 with dataFile at
// the entry's data (reader.walkOnly: at its stored bytes, no password
// asked); 0 when the end record (or the ZIP64 end record) was met after
// as many records as it counts (no code), or a failure was recorded: 9964
// when the directory held fewer or more records than its end record
// counts (a 16-bit count may have wrapped when there is no ZIP64 end
// record), 5 (read failed), 9961 (password given up), 9967 (method
// neither stored nor Deflate), 9968 (AES-encrypted), 9969 (2 GiB or
// larger), 9964 (wrong
// signature, record cut short, a name EntryNameConvert refuses, an offset or size
// outside the archive, a ZIP64 marker without its value, or an entry
// overlapping another) or 8 (the list of
// entry ranges cannot grow).
int ReadNextEntry(void);

#endif
