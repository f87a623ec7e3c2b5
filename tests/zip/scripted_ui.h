// A scripted stand-in for the extractor's dialogs: the overwrite question
// answered from a list of button IDs, the CRC warning answered OK or
// Cancel (or its slot left empty, as in a silent run), the progress
// callback with an optional stop, as the Windows callbacks behave.
// Used by the driver tests.
#ifndef OSTREL_TESTS_ZIP_SCRIPTED_UI_H
#define OSTREL_TESTS_ZIP_SCRIPTED_UI_H

#include <string.h>

#include <string>
#include <vector>

#include "extractor/zip/archive_reader.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/file_posix_testing.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"

enum {
  BUTTON_OK = 1,
  BUTTON_CANCEL = 2,
  BUTTON_NO = 7,            // "Nein"
  BUTTON_REPLACE_ALL = 1030 // "Alle ersetzen"
};

struct ScriptedUi {
  std::vector<int> overwriteButtons;   // one per question; an exhausted list answers Abbrechen
  std::vector<std::string> questions;  // target paths asked about
  int crcButton = BUTTON_OK;           // answer to a CRC warning; 0: no slot (silent run)
  int crcWarnings = 0;                 // warnings shown
  int stopAtReport = 0;                // > 0: "Abbrechen" pressed at this intermediate report
  int intermediateReports = 0;
  std::vector<std::string> completed;  // entry names at their final call
  const char *password = nullptr;      // answer at the password prompt; null gives up
  int passwordPrompts = 0;
  int overwriteAll = 0;                // "Alle ersetzen" given (or set by the run)
  int cancelRequested = 0;             // "Abbrechen" pressed during the extraction
};

inline ScriptedUi ui;

inline int ScriptedConfirm(const char *targetPath, const EntryFindData *) {
  if (!ui.overwriteAll) {
    if (FileGetAttributes(targetPath) == FILE_ATTR_NONE) return OVERWRITE_WRITE;
    size_t asked = ui.questions.size();
    ui.questions.push_back(targetPath);
    int button = asked < ui.overwriteButtons.size() ? ui.overwriteButtons[asked] : BUTTON_CANCEL;
    if (button == BUTTON_NO) return OVERWRITE_SKIP;
    if (button == BUTTON_CANCEL) return OVERWRITE_STOP;
    if (button == BUTTON_REPLACE_ALL) ui.overwriteAll = 1;
  }
  return OVERWRITE_WRITE;
}

inline int ScriptedCrcMismatch(const char *) {
  ui.crcWarnings++;
  return ui.crcButton == BUTTON_CANCEL || ui.cancelRequested ? CRC_MISMATCH_STOP : CRC_MISMATCH_KEEP;
}

inline int ScriptedProgress(int, int32_t) {
  if (storage.entry->entryComplete) {
    ui.completed.push_back(storage.entry->entryName);
  } else if (ui.stopAtReport > 0 && ++ui.intermediateReports >= ui.stopAtReport) {
    ui.cancelRequested = 1;
  }
  return ui.cancelRequested ? 0 : 1;
}

inline int ScriptedPassword(int, char *buffer, const char *) {
  ui.passwordPrompts++;
  if (!ui.password) return 0;
  snprintf(buffer, PASSWORD_BUFFER - 1, "%s", ui.password);
  return 1;
}

// The start-up and the run: storage, archive, callbacks, target, driver.
inline void RunExtraction(const std::string &coreArchive, const std::string &coreTarget, int overwriteAll = 0) {
  ui.overwriteAll = overwriteAll;
  ui.cancelRequested = 0;
  if (!AllocWorkingStorage()) return;
  OpenArchive(coreArchive.c_str());
  callbacks.reportProgress = ScriptedProgress;
  callbacks.confirmOverwrite = ScriptedConfirm;
  callbacks.askPassword = ScriptedPassword;
  callbacks.confirmCrcMismatch = ui.crcButton ? ScriptedCrcMismatch : nullptr;
  SetTargetFolder(coreTarget.c_str());
  FileSetWriteCeiling(TEST_WRITE_CEILING);  // a runaway extraction stops the test binary
  ExtractArchive();
  FileSetWriteCeiling(-1);
}

#endif
