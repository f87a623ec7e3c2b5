// State of the Windows program around the extraction core: the start-up's
// flags and the settings read from the image's tail. One module-level
// instance of each record for the whole single-threaded process. The
// dialogs of extractor/ui keep their own state (the owner window in
// window_util.h, the overwrite and cancel flags with the dialogs that set
// them) and never see these records.
//
// Lifecycle: WinMain zeroes nothing (the records start zeroed); ReadSettings
// fills settings once; extractionStarted is set before the one extraction.
#ifndef OSTREL_SHELL_SHELL_STATE_H
#define OSTREL_SHELL_SHELL_STATE_H

#include <stdint.h>

#include "extractor/zip/state.h"
#include "packed/sfx_layout.h"

enum {
  SETTINGS_TEXT_BUFFER = 512,  // each settings text, zero-filled before reading
  INTRO_CAPTION_MAX = 263,     // the intro caption is copied into a 264-byte buffer
  SETTINGS_TEXT_MAX = 511      // intro text and info text
};

typedef struct ShellState {
  void *appInstance;               // module handle (HINSTANCE): source of dialogs and icons
  char sfxPath[LONG_PATH_BUFFER];  // SFX path from the trailer (own image path before)
  int32_t extractionStarted;       // 1 right before ExtractArchive runs
} ShellState;

typedef struct SettingsState {
  SettingsBlock block;             // as read from the image tail
  char introText[SETTINGS_TEXT_BUFFER];
  char introCaption[SETTINGS_TEXT_BUFFER];
  char infoText[SETTINGS_TEXT_BUFFER];
  char runFile[SETTINGS_TEXT_BUFFER];
  char defaultFolder[LONG_PATH_BUFFER];  // a core path (UTF-8): converted from its stored
                                        // Windows-1252 form, or the SFX file's folder; the
                                        // other texts stay 1252
} SettingsState;

extern ShellState shell;
extern SettingsState settings;

#endif
