#include "extractor/zip/state.h"

#include "extractor/zip/path_ops.h"

ExtractionState extraction;
TransferState transfer;
RunCounters counters;
WorkingStorage storage;
ExtractCallbacks callbacks;
ShellState shell;
SettingsState settings;

void SetTargetFolder(const char *folder) {
  AddTrailingBackslash(folder, extraction.targetFolder, PATH_BUFFER);
}
