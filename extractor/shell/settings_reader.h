// Reads the extractor's options from the tail of its own image file:
//
//   [program][intro text][intro caption][info text][run file][default folder]
//   [SettingsBlock 21][SFX path, L bytes][L, 2 bytes]
//
// The texts have no terminators; their lengths are in the block, and each
// lies right in front of the next (see packed/sfx_layout.h).
#ifndef OSTREL_SHELL_SETTINGS_READER_H
#define OSTREL_SHELL_SETTINGS_READER_H

enum SettingsResult {
  SETTINGS_NO_FILE = 0,   // own image cannot be opened: errorCode 5
  SETTINGS_OK = 1,
  SETTINGS_NO_TAIL = 2    // no valid tail: started without the stub, or cut
};

// Fills settings (block and five texts, zero-filled first) and, on
// success, shell.sfxPath from the file named by shell.sfxPath (the
// extractor's own image): the trailer's UTF-8 path in the core's encoding
// (on Windows its short form where the long one has no such form or does
// not fit; empty when neither fits, so that the archive fails to open).
// The default folder is a core path too: the stored Windows-1252 text
// converted, or, when the block gives none, the folder of that path, with
// its backslash.
//
// The tail is checked before anything of it is used: the path length L is
// 1..SFX_PATH_MAX and the path holds no zero byte; the block lies inside the file
// and starts with the magic; the texts fit in front of it and into their
// buffers (intro and info text 511, caption 263 bytes).
// Returns SETTINGS_OK; SETTINGS_NO_FILE with errorCode 5; SETTINGS_NO_TAIL
// when a check fails or a read comes back short (settings stay zeroed).
int ReadSettings(void);

#endif
