#include "extractor/shell/settings_reader.h"

#include <string.h>

#include "extractor/shell/shell_state.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/path_ops.h"

// The trailer's path is UTF-8 (the stub writes what GetModuleFileNameW
// gave it), the core's own encoding: taken as it is once checked. Returns
// 1 with core filled; 0 when it is not valid UTF-8 or does not fit (core
// is then empty).
static int TrailerPathToCore(const char *trailer, char *core, uint32_t size) {
  size_t length = strlen(trailer);
  core[0] = 0;
  if (length >= size || !Utf8IsValid(trailer, (uint32_t)length)) return 0;
  memcpy(core, trailer, length + 1);
  return 1;
}

// The trailer path, up to SFX_PATH_MAX bytes: static, too large for the stack.
static char trailerPath[SFX_PATH_MAX + 1];

// Reads count bytes at position. Returns 1 when all arrived.
static int ReadAt(FileHandle file, int32_t position, void *buffer, int32_t count) {
  if (count == 0) return 1;
  return position >= 0 && FileSeek(file, position, FILE_SEEK_BEGIN) == position &&
         FileRead(buffer, count, file) == count;
}

typedef struct TextPlace {
  char *buffer;
  uint32_t length;
  uint32_t limit;   // longest text the buffer takes
} TextPlace;

// Reads the five texts that end at blockStart. Returns 1 when all fit and arrived.
static int ReadTexts(FileHandle file, int32_t blockStart) {
  const SettingsBlock *block = &settings.block;
  TextPlace texts[5] = {
      {settings.introText, block->introTextLength, SETTINGS_TEXT_MAX},
      {settings.introCaption, block->introCaptionLength, INTRO_CAPTION_MAX},
      {settings.infoText, block->infoTextLength, SETTINGS_TEXT_MAX},
      {settings.runFile, block->runFileLength, SETTINGS_TEXT_MAX},
      {settings.defaultFolder, block->defaultFolderLength, SETTINGS_TEXT_MAX},
  };
  int32_t total = 0;
  for (const TextPlace &text : texts) {
    if (text.length > text.limit) return 0;
    total += (int32_t)text.length;
  }
  int32_t position = blockStart - total;
  if (position < 0) return 0;
  for (const TextPlace &text : texts) {
    if (!ReadAt(file, position, text.buffer, (int32_t)text.length)) return 0;
    position += (int32_t)text.length;
  }
  return 1;
}

// Reads and checks the trailer and the block. Returns 1 with path filled.
static int ReadTail(FileHandle file, char *path) {
  int32_t size = FileSize(file);
  uint8_t lengthBytes[SFX_TRAILER_LENGTH_SIZE];
  if (size < SFX_SETTINGS_SIZE + SFX_TRAILER_LENGTH_SIZE) return 0;
  if (!ReadAt(file, size - SFX_TRAILER_LENGTH_SIZE, lengthBytes, SFX_TRAILER_LENGTH_SIZE)) return 0;
  int32_t length = lengthBytes[0] | lengthBytes[1] << 8;
  if (length < 1 || length > SFX_PATH_MAX) return 0;
  int32_t pathStart = size - SFX_TRAILER_LENGTH_SIZE - length;
  int32_t blockStart = pathStart - SFX_SETTINGS_SIZE;
  if (blockStart < 0) return 0;
  if (!ReadAt(file, pathStart, path, length)) return 0;
  if ((int32_t)strlen(path) != length) return 0;  // a zero byte inside: not a path
  if (!ReadAt(file, blockStart, &settings.block, SFX_SETTINGS_SIZE)) return 0;
  if (memcmp(settings.block.magic, SFX_SETTINGS_MAGIC, SFX_SETTINGS_MAGIC_SIZE) != 0) return 0;
  return ReadTexts(file, blockStart);
}

int ReadSettings(void) {
  memset(&settings, 0, sizeof settings);
  FileHandle file = FileOpen(shell.sfxPath, "rb");
  if (file == FILE_INVALID) {
    extraction.errorCode = ERR_ACCESS;
    return SETTINGS_NO_FILE;
  }
  memset(trailerPath, 0, sizeof trailerPath);
  int valid = ReadTail(file, trailerPath);
  FileClose(file);
  if (!valid) {
    memset(&settings, 0, sizeof settings);
    return SETTINGS_NO_TAIL;
  }
  // A path the core cannot carry leaves sfxPath empty: the archive then
  // fails to open and the summary says so.
  TrailerPathToCore(trailerPath, shell.sfxPath, LONG_PATH_BUFFER);
  if (settings.block.defaultFolderLength > 0) {
    // Stored in Windows-1252 like every settings text, used as a path in
    // the core's encoding (UTF-8): converted here, once. Always fits (3
    // bytes per character).
    char stored[SETTINGS_TEXT_BUFFER];
    memcpy(stored, settings.defaultFolder, sizeof stored);
    AnsiToUtf8(stored, settings.defaultFolder, sizeof settings.defaultFolder);
  } else {
    PathFolder(shell.sfxPath, settings.defaultFolder, LONG_PATH_BUFFER);  // always fits
  }
  return SETTINGS_OK;
}
