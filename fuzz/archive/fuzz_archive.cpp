// Fuzz target over the whole reader and driver: the input is an SFX file
// (or a bare archive), stored as C:\fuzz\archive.bin in the in-memory file
// layer (file_memory.cpp), opened and extracted into C:\fuzz\target with
// every dialog answered "go on" (the password prompt once). That layer
// resolves paths by Windows' rules, so what would leave the target folder
// on Windows leaves it here too. Checks beyond the sanitizers:
//   - nothing appears outside the target folder, on any drive, and the
//     archive keeps its size;
//   - no call names a device (CON, NUL, COM1, ...);
//   - a run extracted no more files than it counted;
//   - no temporary "~ox" file is left behind, and no handle is left open.
// Output is capped by the layer's write limit so that a small input that
// inflates to gigabytes costs a short run, not a full memory.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "extractor/decoders/output_sink.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/file_memory_testing.h"
#include "extractor/zip/file_posix_testing.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"

static const char kRoot[] = "C:\\fuzz";
static const char kArchive[] = "C:\\fuzz\\archive.bin";
static const char kTarget[] = "C:\\fuzz\\target";
static const uint32_t kOutputCap = 8u << 20;  // bytes a run may write in all

static int passwordGiven;

static int GoOn(int, int32_t) { return 1; }
static int KeepDamaged(const char *) { return CRC_MISMATCH_KEEP; }
static int WriteAll(const char *, const EntryFindData *) { return OVERWRITE_WRITE; }
static int OnePassword(int, char *buffer, const char *) {
  if (passwordGiven++) return 0;
  strcpy(buffer, "fuzz");
  return 1;
}

// The driver's temporary names: "~ox", 8 hex digits, ".tmp". An entry may
// carry such a name itself; then this reports a false leftover (rare, and
// visible in the input).
static int IsTempName(const char *name) {
  if (strlen(name) != 15 || strncmp(name, "~ox", 3) != 0 || strcmp(name + 11, ".tmp") != 0) return 0;
  for (int i = 3; i < 11; i++)
    if (!strchr("0123456789abcdef", name[i])) return 0;
  return 1;
}

// What the walk over the stored files found after a run.
struct Findings {
  size_t archiveSize;   // the input's size, which archive.bin must keep
  uint32_t files;       // files inside the target folder
  uint32_t temps;       // of those, files with a temporary name
  int outside;          // 1 when a file or folder lies outside the target, or the archive changed
};

static int HasPrefixFolded(const char *text, const char *prefix) {
  for (; *prefix; text++, prefix++)
    if (tolower((unsigned char)*text) != tolower((unsigned char)*prefix)) return 0;
  return 1;
}

static void Inspect(const MemoryFileInfo *info, void *context) {
  Findings *findings = (Findings *)context;
  if (!strcmp(info->path, kRoot) || !strcmp(info->path, kTarget)) return;
  if (!strcmp(info->path, kArchive)) {
    if (info->isFolder || info->size != findings->archiveSize) findings->outside = 1;
    return;
  }
  if (!HasPrefixFolded(info->path, kTarget) || info->path[sizeof kTarget - 1] != '\\') {
    findings->outside = 1;
    return;
  }
  if (info->isFolder) return;
  findings->files++;
  const char *name = strrchr(info->path, '\\') + 1;
  if (IsTempName(name)) findings->temps++;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  MemoryFilesReset();
  if (CreateFolder(kRoot) != 0 || CreateFolder(kTarget) != 0 || !MemoryFilesPut(kArchive, data, size)) abort();
  FileSetWriteLimit(kOutputCap);
  passwordGiven = 0;
  if (AllocWorkingStorage()) {  // ExtractArchive frees it again, whatever the run's end
    OpenArchive(kArchive);
    callbacks.reportProgress = GoOn;
    callbacks.confirmOverwrite = WriteAll;
    callbacks.askPassword = OnePassword;
    callbacks.confirmCrcMismatch = KeepDamaged;
    SetTargetFolder(kTarget);
    ExtractArchive();
  }
  FileSetWriteLimit(-1);
  if (extraction.dataFile != FILE_INVALID || extraction.directoryFile != FILE_INVALID ||
      extraction.outputFile != FILE_INVALID || MemoryFilesOpenHandles() != 0)
    abort();  // a handle left open
  if (MemoryFilesDeviceCalls() != 0) abort();  // a path that names a device reached the file layer

  Findings findings = {size, 0, 0, 0};
  MemoryFilesWalk(Inspect, &findings);
  if (findings.outside) abort();                             // written outside the target
  if (findings.temps > 0) abort();                           // a temporary file left behind
  if (findings.files > counters.filesExtracted) abort();     // files the run did not count
  return 0;
}
