// Packed-stage decoder: turns the stage of an SFX file (4-byte header plus
// bit stream) back into the extractor image. Used by the stub (byte source
// over ReadFile, one byte per call) and by the native tools and tests (byte
// source over memory or a FILE).
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

#endif
