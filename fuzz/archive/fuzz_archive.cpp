// Fuzz target over the whole reader and driver: the input is an SFX file
// (or a bare archive) written to a temporary file, opened and extracted
// into a fresh target folder with every dialog answered "go on" (the
// password prompt once). Checks beyond the sanitizers:
//   - nothing appears in the temporary folder outside the target folder;
//   - a run without a code extracted no more files than it counted;
//   - no temporary "~ox" file is left behind.
// Output is capped by the POSIX layer's write limit so that a small input
// that inflates to gigabytes costs a short run, not a full disk.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "extractor/decoders/output_sink.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/file_posix_testing.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"

static std::string root;  // temporary folder: archive.bin and target/

static int passwordGiven;

static int GoOn(int, int32_t) { return 1; }
static int KeepDamaged(const char *) { return CRC_MISMATCH_KEEP; }
static int WriteAll(const char *target, const EntryFindData *) {
  MakeWritable(target);
  return OVERWRITE_WRITE;
}
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

// Removes everything below path; returns the number of regular files seen,
// counting those whose name marks a temporary file in *temps.
static int Clear(const std::string &path, int *temps, int removeSelf) {
  int files = 0;
  DIR *dir = opendir(path.c_str());
  if (dir) {
    while (struct dirent *item = readdir(dir)) {
      if (!strcmp(item->d_name, ".") || !strcmp(item->d_name, "..")) continue;
      std::string child = path + "/" + item->d_name;
      struct stat info;
      if (lstat(child.c_str(), &info) != 0) continue;
      if (S_ISDIR(info.st_mode)) {
        chmod(child.c_str(), 0700);
        files += Clear(child, temps, 1);
      } else {
        files++;
        if (temps && IsTempName(item->d_name)) (*temps)++;
        chmod(child.c_str(), 0600);
        unlink(child.c_str());
      }
    }
    closedir(dir);
  }
  if (removeSelf) rmdir(path.c_str());
  return files;
}

static void RemoveRoot(void) { rmdir(root.c_str()); }

static void Setup(void) {
  char pattern[] = "/tmp/ostrel-fuzz-XXXXXX";
  if (!mkdtemp(pattern)) abort();
  root = pattern;
  atexit(RemoveRoot);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (root.empty()) Setup();
  std::string archive = root + "/archive.bin";
  std::string target = root + "/target";
  FILE *file = fopen(archive.c_str(), "wb");
  if (!file) abort();
  if (size) fwrite(data, 1, size, file);
  fclose(file);
  mkdir(target.c_str(), 0700);

  std::string coreArchive = archive, coreTarget = target;
  SlashesToBackslashes(&coreArchive[0]);
  SlashesToBackslashes(&coreTarget[0]);
  FileSetWriteLimit(8 << 20);
  passwordGiven = 0;
  if (AllocWorkingStorage()) {
    OpenArchive(coreArchive.c_str());
    callbacks.reportProgress = GoOn;
    callbacks.confirmOverwrite = WriteAll;
    callbacks.askPassword = OnePassword;
    callbacks.confirmCrcMismatch = KeepDamaged;
    SetTargetFolder(coreTarget.c_str());
    ExtractArchive();
  }
  FileSetWriteLimit(-1);
  if (extraction.dataFile != FILE_INVALID || extraction.directoryFile != FILE_INVALID ||
      extraction.outputFile != FILE_INVALID)
    abort();  // a handle left open

  unlink(archive.c_str());
  int temps = 0;
  int files = Clear(target, &temps, 1);
  if (temps > 0) abort();                                // a temporary file left behind
  if ((uint32_t)files > counters.filesExtracted) abort(); // files the run did not count
  if (Clear(root, nullptr, 0) > 0) abort();              // written outside the target
  DIR *dir = opendir(root.c_str());
  if (!dir) abort();
  while (struct dirent *item = readdir(dir))
    if (strcmp(item->d_name, ".") && strcmp(item->d_name, "..")) abort();  // a folder outside the target
  closedir(dir);
  return 0;
}
