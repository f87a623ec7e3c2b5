#include "extractor/zip/state.h"

#include "extractor/zip/path_ops.h"

ExtractionState extraction;
TransferState transfer;
RunCounters counters;
WorkingStorage storage;
ExtractCallbacks callbacks;

void SetTargetFolder(const char *folder) {
  AddTrailingBackslash(folder, extraction.targetFolder, PATH_BUFFER);
}
