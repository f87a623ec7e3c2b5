// The two inputs of `ostrel build`: a folder, or an existing ZIP archive.
// Both come out as one list of SourceEntry in archive order; the checks
// (build_checks.h) run over that list before anything is written.
#ifndef OSTREL_BUILDER_BUILD_INPUT_H
#define OSTREL_BUILDER_BUILD_INPUT_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "builder/zip_writer.h"

typedef struct SourceEntry {
  ZipEntryRecord record;  // as it will be written; for a folder input the CRC and
                          // sizes are filled in when the file is compressed
  std::string path;       // folder input: the file on disk; empty otherwise
  uint64_t dataOffset;    // ZIP input: first stored byte in the input file
  uint64_t localOffset = 0;  // ZIP input: its local header in the input file
  uint64_t fileSize;      // folder input: size found by the scan
  uint64_t sourceCompressed;  // ZIP input: stored bytes as the central record gives them
  uint64_t sourceUncompressed;
  int isFolder;           // a folder entry (name ends in '/')
  std::string targetName; // ZIP input: the name the extractor writes (Windows-1252, '\\');
                          // empty for a folder input until the checks convert it
} SourceEntry;

// What ReadZipInput tells about the archive as a whole.
typedef struct ZipInputInfo {
  uint64_t endRecordAt;   // position of the end record the walk used
  int zip64;              // 1 when a ZIP64 end record gave the counts
  uint32_t base;          // bytes in front of an archive whose offsets were not moved
} ZipInputInfo;

// Walks the folder root: every file and folder below it (root itself not
// included), each folder's entries sorted by their bytes and a folder
// followed by its contents. Names are relative, '/'-separated UTF-8 with
// flag bit 11; times are the modification times (or epochTime when it is
// >= 0), as local DOS times, or UTC ones when epochTime is used.
// Returns 1; 0 with error naming the path and the cause (unreadable folder,
// a special file, a symbolic link to a folder).
int ScanFolderInput(const std::string &root, int64_t epochTime, std::vector<SourceEntry> *entries,
                    std::string *error);

// Reads the central directory of an existing ZIP file (open as file, and
// named path) through the extractor's own walk: the same end record,
// ZIP64 records, correction for data in front, directory checks and entry
// names (targetName) as an extraction. Data stay in the file: each entry
// records where its stored bytes begin; ZIP64 extra records are dropped.
// Returns 1 with info (may be null); 0 with error naming the entry and the
// cause whenever the extractor would stop at the archive's records (no end
// record, damaged records, a method other than stored and Deflate, 2 GiB
// and more). The name rules are left to the checks (build_checks.h).
int ReadZipInput(FILE *file, const std::string &path, std::vector<SourceEntry> *entries, std::string *error,
                 ZipInputInfo *info = nullptr);

// DOS date and time of a Unix time, in local time or UTC; times before
// 1980 become 1980-01-01 00:00, after 2107 the last DOS time.
void UnixToDosTime(int64_t when, int utc, uint16_t *date, uint16_t *time);

#endif
