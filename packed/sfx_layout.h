// Byte layout of the SFX file, the packed-stage header, the settings block
// and the launch trailer. Shared by the stub (reader of the stage), the
// extractor (reader of the settings and the trailer) and the builder (writer
// of all of them). Every integer is little-endian.
//
//   SFX file:           [stub image, SFX_STUB_SIZE bytes][stage header 4][bit stream][ZIP archive]
//   unpacked extractor: [program][settings texts][SettingsBlock 21]
//   temporary file:     [unpacked extractor][SFX path, L bytes][L, 2 bytes]
//
// Format notes:
// - The stub finds the stage at the fixed offset SFX_STUB_SIZE, never from
//   its own PE headers, so the stub image must be exactly that long.
// - The stage header is the signed length of the unpacked image, settings
//   block included. A match may carry the decoder past it (see
//   stage_decoder.h); a well-made stage ends exactly on it.
// - Offsets stored inside the ZIP archive count from the start of the SFX
//   file, not from the start of the archive.
// - The trailer path is UTF-8 (the stub takes its own path from
//   GetModuleFileNameW) and has no terminator; its length L is 1 to
//   SFX_PATH_MAX, the system's path limit of 32,767 UTF-16 units taken as
//   bytes (a longer UTF-8 form is refused by the stub).
#ifndef OSTREL_PACKED_SFX_LAYOUT_H
#define OSTREL_PACKED_SFX_LAYOUT_H

#include <stdint.h>

enum {
  SFX_STUB_SIZE = 8192,         // bytes of the stub image; the stage header starts here
  SFX_STAGE_HEADER_SIZE = 4,    // signed 32-bit unpacked length
  SFX_SETTINGS_SIZE = 21,       // sizeof(SettingsBlock)
  SFX_TRAILER_LENGTH_SIZE = 2,  // unsigned 16-bit path length, low byte first
  SFX_PATH_MAX = 32767,         // longest path the trailer can carry, in bytes
  SFX_PATH_BUFFER = 32768       // UTF-16 units of the stub's buffer for its own path
};

// "ZVTKQ": identifies the settings block. The extractor's reader may use it
// to check that its tail really holds a block at the computed position.
#define SFX_SETTINGS_MAGIC "ZVTKQ"
enum { SFX_SETTINGS_MAGIC_SIZE = 5 };

#pragma pack(push, 1)
// The SFX options, last 21 bytes of the unpacked extractor image. The five
// texts whose lengths it gives lie back to back right in front of it, in
// field order, without terminators.
typedef struct SettingsBlock {
  char magic[SFX_SETTINGS_MAGIC_SIZE];  // "ZVTKQ", no terminator
  uint16_t introTextLength;             // bytes of the intro text, 0 = no intro box
  uint16_t introCaptionLength;          // bytes of the intro caption, 0 = "Hinweis"
  uint16_t infoTextLength;              // bytes of the text on top of the Info box
  uint8_t runFileLength;                // bytes of the program to start afterwards
  uint8_t defaultFolderLength;          // bytes of the default folder, 0 = folder of the SFX file
  int16_t introStyle;                   // 0 OK/info, 1 Yes-No/question, 2 OK-Cancel/info
  int16_t overwriteMode;                // > 0: offer "replace without asking", checked
  int16_t silentMode;                   // 0 dialog; > 0 silent, no progress; < 0 silent, no summary
  uint16_t reserved;                    // never read
} SettingsBlock;
#pragma pack(pop)

static_assert(sizeof(SettingsBlock) == SFX_SETTINGS_SIZE, "settings block is 21 bytes on disk");

#endif
