// SFX assembly: the one place that puts an SFX file together, for the
// `ostrel build` command and for the tests that need SFX files with any
// settings.
//
//   SFX file = [stub, SFX_STUB_SIZE bytes][packed stage][ZIP archive]
//   stage    = EncodeStage([extractor program][settings texts][SettingsBlock])
//
// Steps:
//   1. SfxSettingsDefaults, then set fields; texts go in as UTF-8 through
//      SetSettingsText, which stores their Windows-1252 form.
//   2. BuildSfxPrefix(stub, extractor, settings): stub + stage, in memory.
//   3. OpenOutputBeside(target): a temporary file in the target's folder;
//      write the prefix, then the archive (zip_writer.h) with offsets that
//      count from the start of the file.
//   4. CommitOutput (rename over the target) or DiscardOutput.
#ifndef OSTREL_BUILDER_SFX_ASSEMBLE_H
#define OSTREL_BUILDER_SFX_ASSEMBLE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "packed/sfx_layout.h"

// The five settings texts, in the order they lie in front of the block.
enum SfxText {
  SFX_TEXT_INTRO,    // message of the intro box
  SFX_TEXT_CAPTION,  // caption of the intro box
  SFX_TEXT_INFO,     // text on top of the Info box
  SFX_TEXT_RUN,      // file started after an interactive extraction
  SFX_TEXT_FOLDER,   // default target folder
  SFX_TEXT_COUNT
};

// Longest text in bytes. The extractor reads each text into a 512-byte
// buffer; the caption is copied into a 264-byte one by the intro box, and
// the run file and folder lengths are 8-bit fields.
extern const uint32_t kSfxTextLimit[SFX_TEXT_COUNT];    // 511, 263, 511, 255, 255
extern const char *const kSfxTextName[SFX_TEXT_COUNT];  // option names: "intro-text", ...

typedef struct SfxSettings {
  std::string text[SFX_TEXT_COUNT];  // Windows-1252 bytes, no terminator; empty = absent
  int16_t introStyle;                // 0 OK/information, 1 Yes-No/question, 2 OK-Cancel/information
  int16_t overwriteMode;             // > 0 offer "replace without asking" (checked); <= 0 ask per file
  int16_t silentMode;                // 0 main dialog; > 0 silent; < 0 silent, progress boxes, no summary
} SfxSettings;

// The delivered settings: silent 1, overwrite 1, intro style 0, no texts.
void SfxSettingsDefaults(SfxSettings *settings);

// settings->text[which] <- the Windows-1252 form of a UTF-8 text.
// Returns 1 when stored; 0 when the text is longer than its limit or has a
// character without a Windows-1252 form (error says which and where).
int SetSettingsText(SfxSettings *settings, SfxText which, const std::string &utf8,
                    std::string *error);

// Strict UTF-8 -> Windows-1252. Returns 1 when every character has a form;
// 0 with error naming the first one that does not (or the invalid byte).
int Utf8ToWindows1252(const std::string &utf8, std::string *ansi, std::string *error);

// image <- program, the texts, the 21-byte settings block.
void BuildExtractorImage(const std::vector<uint8_t> &program, const SfxSettings *settings,
                         std::vector<uint8_t> *image);

// Reads the block and texts back from the end of an unpacked image.
// Returns 1 with settings filled and programSize set when the magic sits
// where the block must be and the texts fit in front of it; 0 otherwise.
int ReadImageSettings(const uint8_t *image, size_t size, SfxSettings *settings,
                      uint16_t *reserved, size_t *programSize);

// prefix <- stub + packed stage of the extractor image with the settings.
// Returns 1; 0 with error set when the stub is not SFX_STUB_SIZE bytes, the
// extractor is empty or the stage could not be encoded.
int BuildSfxPrefix(const std::vector<uint8_t> &stub, const std::vector<uint8_t> &extractor,
                   const SfxSettings *settings, std::vector<uint8_t> *prefix, std::string *error);

// An output file written under a temporary name beside its target, so that
// a failed or interrupted build leaves neither a half file nor a damaged
// older one.
typedef struct SfxOutput {
  std::string target;  // final name
  std::string temp;    // temporary name in the same folder
  FILE *file;          // open for writing while the build runs
} SfxOutput;

// Returns 1 with output->file open; 0 with error set.
int OpenOutputBeside(const std::string &target, SfxOutput *output, std::string *error);
// Flushes, closes and renames the file over the target (mode 0755 as for
// any program). Returns 1; 0 with error set and the temporary file removed.
int CommitOutput(SfxOutput *output, std::string *error);
// Closes and removes the temporary file (safe to call twice).
void DiscardOutput(SfxOutput *output);
// Removes the temporary file of the build in progress, if any; for a
// signal handler (async-signal-safe).
void DiscardOutputOnSignal(void);

#endif
