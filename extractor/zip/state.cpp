#include "extractor/zip/state.h"

#include "extractor/zip/error_codes.h"
#include "extractor/zip/path_ops.h"

ExtractionState extraction;
TransferState transfer;
RunCounters counters;
WorkingStorage storage;
ExtractCallbacks callbacks;

int SetTargetFolder(const char *folder) {
  if (AddTrailingBackslash(folder, extraction.targetFolder, LONG_PATH_BUFFER) && PathFits(extraction.targetFolder))
    return 1;
  extraction.targetFolder[0] = 0;
  extraction.errorCode = ERR_ACCESS;
  return 0;
}
