// Packed-stage decoder: LZ77 over an 8 KiB window whose literals, match
// lengths and distance slots come from the two adaptive models.
//
// Part of the stub: no C runtime calls, state in the module record.
//
// Soundness beyond the plain format:
// - A stream that asks to insert a present symbol is refused (STAGE_CORRUPT)
//   before any array is touched.
// - A fetch at the end of the source ends decoding after the symbol in
//   progress (STAGE_TRUNCATED); that symbol's bytes are not written, since
//   they came from repeated bits rather than from the stream.
// - A short write stops decoding (STAGE_WRITE_FAILED).
#include "packed/stage_decoder.h"

#include "packed/sfx_layout.h"

StageDecoder stageDecoder;

int CreateModels(void) {
  ReleaseModels();
  if (!ModelInit(&stageDecoder.literalModel, STAGE_LITERAL_SYMBOLS, STAGE_LITERAL_RESCALE,
                 STAGE_LITERAL_ESCAPE_BITS))
    return 0;
  if (!ModelInit(&stageDecoder.distanceModel, STAGE_DISTANCE_SYMBOLS, STAGE_DISTANCE_RESCALE,
                 STAGE_DISTANCE_ESCAPE_BITS)) {
    ModelRelease(&stageDecoder.literalModel);
    return 0;
  }
  return 1;
}

void ReleaseModels(void) {
  ModelRelease(&stageDecoder.literalModel);
  ModelRelease(&stageDecoder.distanceModel);
}

// Hands window[0 … count-1] to the sink. Returns 1 when all of it was stored.
static int FlushWindow(const StageIo *io, StageResult *result, int32_t count) {
  int32_t written = io->write(io->writeContext, stageDecoder.window, count);
  if (written > 0) result->produced += written;
  if (written == count) return 1;
  result->status = STAGE_WRITE_FAILED;
  return 0;
}

// Reads the 4-byte header; sources may deliver it in pieces.
static int ReadHeader(const StageIo *io, StageResult *result) {
  uint8_t header[SFX_STAGE_HEADER_SIZE];
  int32_t got = 0;
  while (got < SFX_STAGE_HEADER_SIZE) {
    int32_t count = io->read(io->readContext, header + got, SFX_STAGE_HEADER_SIZE - got);
    if (count <= 0 || count > SFX_STAGE_HEADER_SIZE - got) break;
    got += count;
  }
  result->consumed = got;
  if (got < SFX_STAGE_HEADER_SIZE) {
    result->status = STAGE_TRUNCATED;
    return 0;
  }
  result->declared = (int32_t)((uint32_t)header[0] | (uint32_t)header[1] << 8 |
                               (uint32_t)header[2] << 16 | (uint32_t)header[3] << 24);
  return 1;
}

// Runs the symbol loop; returns with result->status set.
static void DecodeSymbols(const StageIo *io, StageResult *result) {
  StageDecoder *d = &stageDecoder;
  uint8_t *window = d->window;
  uint32_t p = 0;
  int32_t remaining = result->declared;
  while (remaining > 0) {
    // A refusal after the source ran out came from repeated bits: the
    // stream is short, not damaged.
    int32_t s = ModelDecode(&d->literalModel);
    if (s < 0) {
      result->status = bitReader.atEnd ? STAGE_TRUNCATED : STAGE_CORRUPT;
      break;
    }
    int32_t length = 1;
    uint32_t distance = 0;
    if (s >= STAGE_FIRST_MATCH) {
      int32_t k = ModelDecode(&d->distanceModel);
      if (k < 0) {
        result->status = bitReader.atEnd ? STAGE_TRUNCATED : STAGE_CORRUPT;
        break;
      }
      distance = StageSlotDistance(k, k > 1 ? ReadBits(k - 1) : 0);
      length = StageMatchLength(s - STAGE_MATCH_BIAS, distance);
    }
    if (bitReader.atEnd) {
      result->status = STAGE_TRUNCATED;
      break;
    }
    remaining -= length;
    if (s < STAGE_FIRST_MATCH) {
      window[p++] = (uint8_t)s;
      if (p == STAGE_WINDOW_SIZE) {
        if (!FlushWindow(io, result, STAGE_WINDOW_SIZE)) return;
        p = 0;
      }
      continue;
    }
    // Byte by byte on purpose: a distance shorter than the length repeats
    // the last `distance` bytes. The mask wraps any distance into the window.
    while (length-- > 0) {
      window[p] = window[(p - distance) & (STAGE_WINDOW_SIZE - 1)];
      if (++p == STAGE_WINDOW_SIZE) {
        if (!FlushWindow(io, result, STAGE_WINDOW_SIZE)) return;
        p = 0;
      }
    }
  }
  if (p > 0) FlushWindow(io, result, (int32_t)p);
}

int DecodeStage(const StageIo *io, StageResult *result) {
  result->status = STAGE_OK;
  result->declared = 0;
  result->produced = 0;
  result->consumed = 0;
  if (!stageDecoder.literalModel.nodes || !stageDecoder.distanceModel.nodes) {
    result->status = STAGE_NO_MODELS;
    return 0;
  }
  if (!ReadHeader(io, result)) return 0;
  BitReaderReset(io->read, io->readContext);
  for (int32_t i = 0; i < STAGE_WINDOW_SIZE; i++) stageDecoder.window[i] = 0;
  DecodeSymbols(io, result);
  result->consumed += bitReader.consumed;
  return result->status == STAGE_OK;
}
