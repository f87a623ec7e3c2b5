// Extraction driver: the walk over the central directory and, per entry,
// target path, overwrite decision, output file, decoder, stamping, final
// progress call and clean-up. The first recorded code ends the walk.
#include "extractor/zip/extract_driver.h"

#include <stdio.h>
#include <string.h>

#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/entry_names.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/zone_mark.h"

static uint32_t tempSeed;     // ProcessStamp of this process, taken at the first temporary name
static uint32_t tempCounter;  // temporary names made so far in this process

// The files and folders of this run, as 64-bit keys of their names in an
// open-addressing set (0 = free slot); bit 0 of a key tells a file (1)
// from a folder (0). Two entries that come out as one file on Windows
// (names that differ only in case, in trailing dots or blanks, or in "."
// or empty components) would otherwise silently replace each
// other, also in a silent run; a file and a folder of one name ("dir/" and
// "dir", "x.txt" and "x.txt/y") cannot both exist. The second such entry
// is refused as an error of the archive (9964) before anything of it is
// asked or written: the archive does not say which of the two is meant.
// A key collision of two different names (about 2^-63 per pair) can only
// refuse an archive, never let one through.
typedef struct TargetSet {
  uint64_t *keys;       // capacity slots; MemAlloc'd on the first file, freed with the run
  uint32_t capacity;    // power of two, TARGET_SET_FIRST..TARGET_SET_LIMIT * 2; 0 = none yet
  uint32_t count;       // keys held, at most capacity / 2
} TargetSet;

enum {
  TARGET_SET_FIRST = 256,       // slots of the first block (2 KiB)
  TARGET_SET_LIMIT = 1u << 20,  // files and folders one run may name (the set then takes 16 MiB)
  TARGET_FOLDER = 0,            // bit 0 of a key in the set
  TARGET_FILE = 1
};

static TargetSet written;

static int Fail(int32_t code) {
  extraction.errorCode = code;
  return 0;
}

int BuildTargetPath(const char *name, char *out) {
  out[0] = 0;
  if (strlen(name) >= LONG_PATH_BUFFER) return Fail(ERR_INVALID_DATA);
  static char work[LONG_PATH_BUFFER];
  strcpy(work, name);
  SlashesToBackslashes(work);
  // Every write must stay inside the target folder (entry_names.h).
  if (EntryNameCheck(work) != NAME_OK) return Fail(ERR_INVALID_DATA);
  const char *text = work[0] == '\\' ? work + 1 : work;
  size_t folderLength = strlen(extraction.targetFolder);
  if (folderLength + strlen(text) >= LONG_PATH_BUFFER) return Fail(ERR_ACCESS);
  memcpy(out, extraction.targetFolder, folderLength);
  strcpy(out + folderLength, text);
  if (!PathFits(out)) return (out[0] = 0), Fail(ERR_ACCESS);  // beyond the system's path limit
  return 1;
}

void DescribeEntry(EntryFindData *out) {
  const EntryRecord *entry = storage.entry;
  memset(out, 0, sizeof *out);
  SplitPath(entry->entryName, nullptr, nullptr, out->cFileName, nullptr);
  out->dwFileAttributes = entry->central.externalAttributes;
  FileTime time;
  DosDateTimeToUtc(entry->central.date, entry->central.time, &time);  // zero when invalid
  out->ftCreationTime = out->ftLastAccessTime = out->ftLastWriteTime = time;
  out->nFileSizeLow = (uint32_t)transfer.bytesTotal;
}

int CreateOutputFile(FileHandle *handle, const char *path) {
  static char folder[LONG_PATH_BUFFER];
  if (!PathFits(path)) return Fail(ERR_ACCESS);
  PathFolder(path, folder, sizeof folder);
  if (folder[0] && !MakeParentFolders(folder)) return Fail(ERR_ACCESS);
  *handle = FileOpen(path, "wb");
  if (*handle == FILE_INVALID) return Fail(ERR_ACCESS);
  return 1;
}

static void TargetSetInsert(uint64_t key) {
  uint32_t mask = written.capacity - 1;
  uint32_t at = (uint32_t)key & mask;
  while (written.keys[at] != 0) at = (at + 1) & mask;
  written.keys[at] = key;
  written.count++;
}

// Doubles the set (or creates it). Returns 0 when memory runs out.
static int TargetSetGrow(void) {
  uint32_t oldCapacity = written.capacity;
  uint64_t *oldKeys = written.keys;
  uint32_t capacity = oldCapacity ? oldCapacity * 2 : (uint32_t)TARGET_SET_FIRST;
  uint64_t *keys = (uint64_t *)MemAlloc(capacity * (uint32_t)sizeof(uint64_t));
  if (!keys) return 0;
  memset(keys, 0, capacity * sizeof(uint64_t));
  written.keys = keys;
  written.capacity = capacity;
  written.count = 0;
  for (uint32_t i = 0; i < oldCapacity; i++)
    if (oldKeys[i]) TargetSetInsert(oldKeys[i]);
  if (oldKeys) MemFree(oldKeys);
  return 1;
}

void ForgetTargets(void) {
  if (written.keys) MemFree(written.keys);
  memset(&written, 0, sizeof written);
}

// The set's key of the name whose components NameKeyAdd took into state,
// as a file or a folder.
static uint64_t TargetKey(uint64_t state, uint32_t kind) {
  uint64_t key = (NameKeyFinish(state) & ~(uint64_t)1) | kind;
  return key ? key : 2;
}

static int TargetSetHas(uint64_t key) {
  if (!written.capacity) return 0;
  uint32_t mask = written.capacity - 1;
  for (uint32_t at = (uint32_t)key & mask; written.keys[at] != 0; at = (at + 1) & mask)
    if (written.keys[at] == key) return 1;
  return 0;
}

// Adds key unless it is there. Returns 1; 0 with 9964 when the run
// reaches TARGET_SET_LIMIT names, 8 when the set cannot grow.
static int TargetSetAdd(uint64_t key) {
  if (TargetSetHas(key)) return 1;
  if (written.count >= TARGET_SET_LIMIT) return Fail(ERR_INVALID_DATA);
  if ((written.count + 1) * 2 > written.capacity && !TargetSetGrow()) return Fail(ERR_NO_MEMORY);
  TargetSetInsert(key);
  return 1;
}

// Remembers the file or folder an entry names (relative to the target
// folder; a folder's name ends in "\") and the folders above it. Returns
// 1 when it agrees with every earlier entry of the run; 0 with 9964 when
// an earlier entry came out as the same file, a folder of the file's name,
// or a file where this entry needs a folder; 0 with 8 or 9964 from
// TargetSetAdd.
static int RememberTarget(const char *name) {
  size_t length = strlen(name);
  int folder = length > 0 && name[length - 1] == '\\';
  if (folder) length--;
  // Two passes, the first checking and the second adding, each with the
  // running key of the folders passed: a name as deep as the path limit
  // allows costs its length twice, not its length once per folder above it.
  uint64_t state = NAME_KEY_SEED;
  for (int adding = 0; adding <= 1; adding++) {
    state = NAME_KEY_SEED;
    size_t start = 0;
    for (size_t i = 0; i < length; i++) {
      if (name[i] != '\\') continue;
      state = NameKeyAdd(state, name + start, i - start);
      start = i + 1;
      if (!adding && TargetSetHas(TargetKey(state, TARGET_FILE))) return Fail(ERR_INVALID_DATA);
      if (adding && !TargetSetAdd(TargetKey(state, TARGET_FOLDER))) return 0;
    }
    state = NameKeyAdd(state, name + start, length - start);
    if (!adding && TargetSetHas(TargetKey(state, TARGET_FILE))) return Fail(ERR_INVALID_DATA);
    if (!adding && !folder && TargetSetHas(TargetKey(state, TARGET_FOLDER))) return Fail(ERR_INVALID_DATA);
  }
  return TargetSetAdd(TargetKey(state, folder ? TARGET_FOLDER : TARGET_FILE));
}

int CheckEntryTarget(const char *name, char *target) {
  if (!BuildTargetPath(name, target)) return 0;
  return RememberTarget(target + strlen(extraction.targetFolder));
}

// A bijective 32-bit mix (the finaliser of MurmurHash3): consecutive
// counters give names that share no prefix, and no value repeats within
// one process.
static uint32_t MixBits(uint32_t x) {
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  x ^= x >> 16;
  return x;
}

// Creates a new file for writing under a temporary name in the folder of
// target (its folders exist), so that the finished file replaces the
// target by a rename on the same volume. The name ("~ox" + 8 hex digits +
// ".tmp") comes from this process's stamp and a counter, and the file is
// created exclusively: another run, or a file left by a killed one, cannot
// hold it, and how many such files lie around does not matter; a taken
// name just means the next one. Returns 1 with temp and *handle; 0 when no
// name fits, the folder refuses new files, or TEMP_NAME_TRIES names were
// all taken.
static int CreateTempFile(const char *target, char *temp, FileHandle *handle) {
  static char folder[LONG_PATH_BUFFER];
  PathFolder(target, folder, sizeof folder);
  size_t length = strlen(folder);
  if (Utf16Length(folder) + TEMP_NAME_LENGTH >= PATH_LIMIT || length + TEMP_NAME_LENGTH >= LONG_PATH_BUFFER) return 0;
  if (tempCounter == 0) tempSeed = ProcessStamp();
  memcpy(temp, folder, length);
  for (int tries = 0; tries < TEMP_NAME_TRIES; tries++) {
    snprintf(temp + length, TEMP_NAME_LENGTH + 1, "~ox%08x.tmp", (unsigned)MixBits(tempSeed + tempCounter++));
    *handle = FileOpen(temp, "n");
    if (*handle != FILE_INVALID) return 1;
    if (FileGetAttributes(temp) == FILE_ATTR_NONE) return 0;  // refused for another reason than a taken name
  }
  return 0;
}

// Format notes: the low byte of the external attributes holds the DOS
// attributes whatever system made the archive; Unix and macOS tools put
// the file mode into the upper 16 bits, which as Windows attribute bits
// would mean nothing sensible (or make the call fail and lose read-only).
static uint32_t FileAttributesOf(const EntryRecord *entry) {
  uint32_t attributes = entry->central.externalAttributes;
  uint8_t host = (uint8_t)(entry->central.versionMadeBy >> 8);
  if (host == ZIP_HOST_UNIX || host == ZIP_HOST_MACOS) attributes &= 0xFFFF;
  return attributes;
}

// A folder entry: its name ends in a separator. The folder is made and the walk goes on.
static int ExtractFolderEntry(const char *target) {
  if (!MakeParentFolders(target)) return Fail(ERR_ACCESS);
  return 1;
}

// The entry check, made once the file is complete and closed, and only
// for an entry that has not failed otherwise (the first code stays): its
// CRC-32 against the central record's. A mismatch is put to
// callbacks.confirmCrcMismatch; keeping the file counts a warning; Cancel,
// or no one to ask, records 9962 and the driver deletes the file.
static void CheckEntry(void) {
  if (extraction.errorCode != ERR_NONE) return;
  // Fewer bytes than declared: the size field lies (the sink already
  // refused more). The data is not what the archive describes.
  if (transfer.bytesDone != transfer.bytesTotal) {
    Fail(ERR_INVALID_DATA);
    return;
  }
  if (CheckEntryCrc()) return;
  ConfirmCrcMismatchFn ask = callbacks.confirmCrcMismatch;
  if (ask && ask(storage.entry->entryName) == CRC_MISMATCH_KEEP) {
    counters.warningCount++;
    return;
  }
  Fail(ERR_CRC);
}

void DecodeCurrentEntry(void) {
  ResetEntryInput();
  if (storage.entry->central.method == ZIP_METHOD_DEFLATE) {
    DecodeDeflateEntry();
    ReleaseFixedTables();
  } else {
    CopyStoredEntry();
  }
}

// Produces the entry's bytes into outputFile, then stamps and closes it,
// makes the final progress call and checks the entry. Failures arrive in
// errorCode.
static void ProduceEntry(void) {
  EntryRecord *entry = storage.entry;
  entry->entryComplete = 0;
  DecodeCurrentEntry();
  // The time goes on through the handle: a later rename keeps it, and on
  // Windows a read-only attribute set afterwards would forbid it.
  FileSetTime(extraction.outputFile, entry->central.date, entry->central.time);
  FileClose(extraction.outputFile);
  extraction.outputFile = FILE_INVALID;
  entry->entryComplete = 1;
  if (callbacks.reportProgress) callbacks.reportProgress(0, 100);  // display only: its answer is not examined
  CheckEntry();
}

// A test run's file entry: decoded into nothing and checked as an
// extraction checks it. Returns 1 when it passed.
static int TestEntry(void) {
  EntryRecord *entry = storage.entry;
  extraction.outputFile = FILE_INVALID;
  entry->entryComplete = 0;
  DecodeCurrentEntry();
  entry->entryComplete = 1;
  CheckEntry();
  counters.filesExtracted++;
  if (callbacks.reportEntry) callbacks.reportEntry(entry->entryName, extraction.errorCode);
  return extraction.errorCode == ERR_NONE;
}

// Extracts the current entry (in a test run: checks it). Returns 1 to go
// on with the next entry, 0 when a code ends the walk.
static int ExtractEntry(void) {
  EntryRecord *entry = storage.entry;
  static char target[LONG_PATH_BUFFER];
  if (!CheckEntryTarget(entry->entryName, target)) {
    if (extraction.testOnly && callbacks.reportEntry) callbacks.reportEntry(entry->entryName, extraction.errorCode);
    return 0;
  }
  size_t length = strlen(target);
  if (target[length - 1] == '\\') return extraction.testOnly ? 1 : ExtractFolderEntry(target);

  // An entry that is not deflated is copied byte for byte: its stored
  // size must be its uncompressed size (without the encryption header,
  // already taken off inputLeft). Sizes that disagree lie; refused before
  // anything is asked or written.
  if (entry->central.method != ZIP_METHOD_DEFLATE && transfer.inputLeft != transfer.bytesTotal)
    return Fail(ERR_INVALID_DATA);
  if (extraction.testOnly) return TestEntry();

  EntryFindData findData;
  DescribeEntry(&findData);
  int answer = callbacks.confirmOverwrite ? callbacks.confirmOverwrite(target, &findData) : OVERWRITE_WRITE;
  if (answer == OVERWRITE_SKIP) return 1;
  if (answer != OVERWRITE_WRITE) return Fail(ERR_CANCELLED);

  // A folder of that name cannot be replaced by a file: the entry fails as
  // its creation would, before anything is decoded or counted.
  if (DirectoryExists(target)) return Fail(ERR_ACCESS);

  // Written under a temporary name and put in place only once complete:
  // a failing entry must not cost the user the file it was to replace.
  // Without a temporary file, a target that does not exist yet is written
  // directly (there is nothing to lose).
  static char folder[LONG_PATH_BUFFER], temp[LONG_PATH_BUFFER];
  PathFolder(target, folder, sizeof folder);
  if (folder[0] && !MakeParentFolders(folder)) return Fail(ERR_ACCESS);
  int useTemp = CreateTempFile(target, temp, &extraction.outputFile);
  if (!useTemp && FileGetAttributes(target) != FILE_ATTR_NONE) return Fail(ERR_ACCESS);
  const char *writePath = useTemp ? temp : target;
  if (!useTemp && !CreateOutputFile(&extraction.outputFile, target)) return 0;

  ProduceEntry();
  counters.filesExtracted++;
  if (extraction.errorCode != ERR_NONE) {
    FileDelete(writePath);
    return 0;
  }
  ZoneMarkApply(writePath);
  if (useTemp && FileReplace(temp, target) != 0) {
    // The target could not be replaced (locked by another program): the
    // entry failed as if its file could not be created, so it is not counted.
    FileDelete(temp);
    counters.filesExtracted--;
    return Fail(ERR_ACCESS);
  }
  FileSetAttributes(target, FileAttributesOf(entry));
  return 1;
}

void ExtractArchive(void) {
  if (extraction.archivePath[0] == 0) {
    // OpenArchive recorded why (2, 5 or 9966); without any code it never
    // found an end record.
    if (extraction.errorCode == ERR_NONE) Fail(ERR_NO_ARCHIVE);
    FreeWorkingStorage();
    return;
  }
  extraction.errorCode = ERR_NONE;
  // SetTargetFolder refused the folder (too long): names joined to an
  // empty folder would land in the current folder instead.
  if (extraction.targetFolder[0] == 0) {
    Fail(ERR_ACCESS);
    FreeWorkingStorage();
    return;
  }
  reader.fileSize = -1;
  SpanSetClear(&reader.spans);
  extraction.outputFile = FILE_INVALID;
  extraction.dataFile = FileOpen(extraction.archivePath, "rb");
  if (extraction.dataFile == FILE_INVALID) {
    Fail(ERR_ACCESS);
    FreeWorkingStorage();
    return;
  }
  extraction.directoryFile = FileOpen(extraction.archivePath, "rb");
  if (extraction.directoryFile == FILE_INVALID) {
    FileClose(extraction.dataFile);
    extraction.dataFile = FILE_INVALID;
    Fail(ERR_ACCESS);
    FreeWorkingStorage();
    return;
  }

  ZoneMarkLoad(extraction.archivePath);
  if (PrepareWalk())
    while (ReadNextEntry() && ExtractEntry()) {
    }

  ForgetTargets();
  FreeWorkingStorage();
  FileClose(extraction.directoryFile);
  FileClose(extraction.dataFile);
  extraction.directoryFile = extraction.dataFile = FILE_INVALID;
}
