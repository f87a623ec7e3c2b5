// State shared across the extractor: one record per concern, each one
// module-level instance for the whole (single-threaded) process.
//
//   extraction  ExtractionState  the run: folders, handles, end record, code, password
//   entry       EntryRecord      the current entry as read (in working storage)
//   transfer    TransferState    per-entry CRC register and byte budgets
//   counters    RunCounters      files, errors, warnings of the run
//   storage     WorkingStorage   the four heap blocks of the run
//   callbacks   ExtractCallbacks the slots through which extraction reaches the user
//
// The state of the Windows program around the core (start-up flags, main
// dialog, settings) lives with it, in extractor/shell/shell_state.h; each
// user of the callbacks keeps its own answers (such as "replace all").
//
// Lifecycle: OpenArchive zeroes extraction, counters and callbacks once at
// start-up; ReadNextEntry overwrites entry and transfer for each entry;
// AllocWorkingStorage/FreeWorkingStorage bracket the one extraction.
#ifndef OSTREL_ZIP_STATE_H
#define OSTREL_ZIP_STATE_H

#include <stdint.h>

#include "extractor/zip/file_io.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/zip_format.h"

enum {
  PASSWORD_BUFFER = 256,      // at most 254 characters are kept
  ENTRY_INPUT_SIZE = 8192,    // EntryInputBuffer
  OUTPUT_WINDOW_SIZE = 32768, // OutputWindow: Deflate history and copy buffer
  CRC_TABLE_ENTRIES = 256
};

typedef struct ExtractionState {
  char targetFolder[LONG_PATH_BUFFER];  // ends in "\" (SetTargetFolder); empty: refused, nothing extracts
  FileHandle dataFile;             // SFX file: end record, local headers, entry data
  FileHandle directoryFile;        // SFX file again: walks the central directory only
  FileHandle outputFile;           // file being extracted
  char archivePath[LONG_PATH_BUFFER]; // SFX path, set once the end record was found
  int32_t errorCode;               // ErrorCode; 0 = none; a later failure overwrites
  int32_t endRecordPos;            // position just past the end signature; -1 not searched
  ZipEndRecord endRecord;          // as read
  int32_t endRecordLoaded;         // 1 once endRecord holds the checked record
  char password[PASSWORD_BUFFER];  // as typed, ANSI; empty at the start of the run
  uint32_t checkValue;             // central CRC of the entry, 0 = no password test
  int32_t encrypted;               // 1 when the current entry's local flags bit 0 is set
  int32_t testOnly;                // 1: every entry is checked and decoded, nothing is written
                                   // (`ostrel test`); set after OpenArchive
} ExtractionState;

typedef struct EntryRecord {
  ZipLocalHeader local;            // exactly as read
  ZipCentralHeader central;        // exactly as read
  int32_t entryComplete;           // 1 from the moment the driver has finished the entry
  char entryName[LONG_PATH_BUFFER]; // backslashes, UTF-8 (EntryNameConvert)
} EntryRecord;

typedef struct TransferState {
  uint32_t crc;                    // preset 0xFFFFFFFF; complemented once, by the entry check
  int32_t inputLeft;               // stored bytes of the entry not yet fetched
  int32_t bytesDone;               // output bytes handed on so far
  int32_t bytesTotal;              // uncompressed size from the local header
} TransferState;

typedef struct RunCounters {
  uint32_t filesExtracted;         // entries that went through extraction, failed ones included
  uint32_t errorCount;             // raised only by the summary
  uint32_t warningCount;           // CRC mismatches acknowledged with OK
} RunCounters;

typedef struct WorkingStorage {
  uint8_t *entryInput;             // EntryInputBuffer, ENTRY_INPUT_SIZE bytes, zero-filled
  uint8_t *outputWindow;           // OutputWindow, OUTPUT_WINDOW_SIZE bytes, zero-filled at creation
  EntryRecord *entry;              // zero-filled at creation
  uint32_t *crcTable;              // CrcTable, 256 entries
} WorkingStorage;

// An entry's description in the layout of WIN32_FIND_DATAA, so that the
// overwrite dialog can show the existing file and the entry side by side.
typedef struct EntryFindData {
  uint32_t dwFileAttributes;       // central external attributes, all 32 bits
  FileTime ftCreationTime;         // all three: central DOS time as local time, in UTC
  FileTime ftLastAccessTime;
  FileTime ftLastWriteTime;
  uint32_t nFileSizeHigh;          // 0
  uint32_t nFileSizeLow;           // local uncompressed size
  uint32_t dwReserved0;
  uint32_t dwReserved1;
  char cFileName[260];             // name part only: no folders, no extension
  char cAlternateFileName[14];     // empty
} EntryFindData;

static_assert(sizeof(EntryFindData) == 320, "EntryFindData has the size of WIN32_FIND_DATAA");

// Progress: reserved is 0; percent normally 0..100. Returns nonzero to go on, 0 to stop.
// The driver's last call for an entry (entryComplete = 1, percent 100) is a
// display update only: its answer is not examined and it checks nothing.
typedef int (*ReportProgressFn)(int reserved, int32_t percent);
// Returns 0 write the entry, 1 skip it, 2 stop the extraction.
typedef int (*ConfirmOverwriteFn)(const char *targetPath, const EntryFindData *entry);
// buffer is extraction.password, overwritten on confirmation only.
// Returns 1 when the user confirmed, 0 when they gave up.
typedef int (*AskPasswordFn)(int reserved, char *buffer, const char *entryName);
// The CRC question. The driver compares every entry's CRC-32 itself, after
// the entry's file is complete and closed (still under its temporary
// name), and asks only when they differ and no code is recorded (never
// after a cancel or another failure). entryName is the entry's name as in
// EntryRecord (backslashes, UTF-8); a dialog shows its last component.
// Returns CRC_MISMATCH_KEEP (the warning box's OK): the file is kept and
// counters.warningCount raised by the driver; CRC_MISMATCH_STOP (Cancel,
// or a user who has already asked to stop): the driver records 9962,
// deletes the file and ends the run. An empty slot answers STOP without a
// question: silent runs and a tool without a terminal leave it empty, so a
// damaged file is never kept where nobody could be told.
typedef int (*ConfirmCrcMismatchFn)(const char *entryName);
// Test runs only (extraction.testOnly): called once per file entry after
// its check and for an entry refused by its name, with the code it ended
// with (0 when intact; a kept CRC mismatch counts a warning instead).
typedef void (*ReportEntryFn)(const char *entryName, int32_t code);

typedef struct ExtractCallbacks {
  ReportProgressFn reportProgress;         // skipped by NotifyProgress and the driver when empty
  ConfirmOverwriteFn confirmOverwrite;     // always filled when ExtractArchive runs
  AskPasswordFn askPassword;               // empty counts as giving up
  ConfirmCrcMismatchFn confirmCrcMismatch; // empty counts as CRC_MISMATCH_STOP
  ReportEntryFn reportEntry;               // test runs only; may be empty
} ExtractCallbacks;

enum {
  CRC_MISMATCH_STOP = 0,
  CRC_MISMATCH_KEEP = 1
};

enum {
  OVERWRITE_WRITE = 0,
  OVERWRITE_SKIP = 1,
  OVERWRITE_STOP = 2
};

extern ExtractionState extraction;
extern TransferState transfer;
extern RunCounters counters;
extern WorkingStorage storage;
extern ExtractCallbacks callbacks;

// Sets extraction.targetFolder to folder with "\" appended when its last
// character is not one; an empty folder gives "\". Returns 1; 0 with code 5
// when that exceeds the system's path limit (PATH_LIMIT UTF-16 units):
// targetFolder is then empty, and ExtractArchive refuses to start with it.
int SetTargetFolder(const char *folder);

#endif
