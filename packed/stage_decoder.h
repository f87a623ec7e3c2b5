// Packed-stage decoder: turns the stage of an SFX file (4-byte header plus
// bit stream) back into the extractor image. Used by the stub (byte source
// over a buffer that ReadFile fills 4 KiB at a time) and by the native tools
// and tests (byte source over memory or a FILE).
//
// Call order:
//   1. CreateModels()            -- before the source is opened, as the stub does
//   2. DecodeStage(&io, &result) -- source positioned at the stage header
//   3. ReleaseModels()
//
// Memory for the models comes from StageAlloc/StageFree, which each
// platform defines: the stub over GlobalAlloc, native builds over malloc
// (packed/stage_alloc_std.cpp).
#ifndef OSTREL_PACKED_STAGE_DECODER_H
#define OSTREL_PACKED_STAGE_DECODER_H

#include <stdint.h>

// Reads up to count bytes. Returns the number read, 0 at the end of the
// source, -1 on failure. The decoder asks for 4 bytes once (the header) and
// then for 1 byte at a time.
typedef int32_t (*StageReadFn)(void *context, uint8_t *buffer, int32_t count);
// Writes count bytes (8192 for every full window, less for the last block).
// Returns the number written or -1; the decoder records a short write.
typedef int32_t (*StageWriteFn)(void *context, const uint8_t *data, int32_t count);

typedef struct StageIo {
  StageReadFn read;     // byte source
  void *readContext;    // handed to read
  StageWriteFn write;   // block sink
  void *writeContext;   // handed to write
} StageIo;

typedef enum StageStatus {
  STAGE_OK = 0,          // image complete: at least the header's length produced
  STAGE_TRUNCATED = 1,   // the source ended (or failed) before the image was complete
  STAGE_CORRUPT = 2,     // the stream asked for an impossible model change
  STAGE_WRITE_FAILED = 3,// the sink stored fewer bytes than given
  STAGE_NO_MODELS = 4    // DecodeStage called without CreateModels
} StageStatus;

typedef struct StageResult {
  StageStatus status;    // first problem met; STAGE_OK when none
  int32_t declared;      // header value (signed, as stored)
  int64_t produced;      // bytes handed to the sink; may exceed declared by up to 259
  int64_t consumed;      // bytes taken from the source, header included
} StageResult;

// Allocation seam; each build links one definition.
void *StageAlloc(uint32_t size);
void StageFree(void *block);

// Creates the literal/length model (n 512, rescale 1024, 9 escape bits) and,
// only if that succeeded, the distance model (n 30, rescale 256, 4 bits).
// Returns 1 when both exist, 0 otherwise (nothing is left allocated).
int CreateModels(void);
// Releases whatever arrays of the two models exist.
void ReleaseModels(void);
// Decodes one stage. The models must be freshly created (a second stage
// needs ReleaseModels and CreateModels again).
// Returns 1 when result->status is STAGE_OK, 0 otherwise. A refused stream
// stops at once; nothing is written past any array.
int DecodeStage(const StageIo *io, StageResult *result);


// ---------------------------------------------------------------------------
// Format constants and the decoder's module record (shared with the encoder
// and the tests).
//
// Format notes:
// - Literal/length symbols: 0 … 255 literal byte; 256 … 512 a match of base
//   length s - 254, followed by a distance slot. 512 (base 258) is present
//   from the start, the others arrive through an escape (9 raw bits).
// - Distance slots: 0 is D 1, 1 is D 2, k >= 2 carries k - 1 extra bits:
//   D = 2^(k-1) + 1 + extra, so slot 13 reaches 4097 … 8192. An escape
//   carries 4 raw bits (slots 0 … 15); slot 30 is present from the start and
//   follows the same rule (D wraps within the window).
// - The length grows with the distance: +1 from D 257, +1 more from D 8192.
// - The window starts zeroed; a match reaching before the first byte copies
//   zeros. A match is copied in full even past the header's length, so the
//   output can exceed it by up to 259 bytes.
enum {
  STAGE_WINDOW_SIZE = 8192,        // history and output block, bytes
  STAGE_LITERAL_SYMBOLS = 512,     // n of the literal/length model
  STAGE_LITERAL_RESCALE = 1024,    // root weight that halves the literal/length model
  STAGE_LITERAL_ESCAPE_BITS = 9,   // raw bits after a literal/length escape
  STAGE_DISTANCE_SYMBOLS = 30,     // n of the distance model
  STAGE_DISTANCE_RESCALE = 256,    // root weight that halves the distance model
  STAGE_DISTANCE_ESCAPE_BITS = 4,  // raw bits after a distance escape
  STAGE_FIRST_MATCH = 256,         // first match symbol
  STAGE_MATCH_BIAS = 254,          // base length = symbol - STAGE_MATCH_BIAS
  STAGE_MIN_BASE = 2,              // shortest base length (symbol 256)
  STAGE_MAX_BASE = 258,            // longest base length (symbol 512)
  STAGE_NEAR_LIMIT = 256,          // distances up to here add nothing to the length
  STAGE_FAR_LIMIT = 8191,          // distances above here add 2
  STAGE_MAX_OVERRUN = 259          // most bytes a final match can write past the header
};

#include "packed/model.h"

// The decoder's module record; the stub has no other copy of this state.
typedef struct StageDecoder {
  AdaptiveModel literalModel;          // symbols 0 … 512 (literals, match lengths)
  AdaptiveModel distanceModel;         // slots 0 … 30
  uint8_t window[STAGE_WINDOW_SIZE];   // LZ history and output block, zeroed per stage
} StageDecoder;

extern StageDecoder stageDecoder;

// Distance of slot k once its extra bits are known.
static inline uint32_t StageSlotDistance(int32_t k, uint32_t extra) {
  return k == 0 ? 1u : extra + (1u << ((k - 1) & 31)) + 1u;
}
// Bytes a match of base length `base` copies at distance d.
static inline int32_t StageMatchLength(int32_t base, uint32_t d) {
  return base + (d > STAGE_FAR_LIMIT) + (d > STAGE_NEAR_LIMIT);
}

#endif
