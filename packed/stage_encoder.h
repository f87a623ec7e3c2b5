// Packed-stage encoder: the mirror of the stage decoder. It drives the same
// two adaptive models (model.cpp) through the same updates after every
// symbol, so the decoder's tree always equals the encoder's.
//
// A stage is the 4-byte little-endian image length followed by the bit
// stream, padded with zero bits to a whole byte. The encoder never lets the
// last match run past the image, so a stage decodes to exactly its length.
//
// Parsing: the image is cut into blocks of about blockSize bytes; for each
// block the code lengths the models have at its start serve as prices for a
// shortest-path parse over every usable length of every match the finder
// offers (an optimal parse with the adaptive code lengths as prices). A block
// ends only where no match crosses its end, so the boundary costs nothing.
// Prices refreshed every 256 bytes beat rarer refreshes on Windows
// executables. By default each block is parsed twice: the first parse is
// replayed on a copy of the models and the second is priced by the mean of
// the code lengths before and after that replay (about 0.07% smaller than
// one parse, 30% slower; a third parse came out larger again).
//
// Images of 30000 bytes or more are encoded twice: the second encoding
// leaves out the match lengths the first one used rarely (every length
// symbol sent stays in the tree for good and takes weight from the others),
// and the smaller stage is kept. Native only.
#ifndef OSTREL_PACKED_STAGE_ENCODER_H
#define OSTREL_PACKED_STAGE_ENCODER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "packed/model.h"

typedef struct StageEncodeOptions {
  int32_t maxChain;    // tree nodes the match finder visits per position (more: slower, smaller)
  int32_t niceLength;  // a match this long is taken at once, ending the block's parse
  int32_t blockSize;   // bytes parsed with one set of prices before they are refreshed
  int32_t priceMode;   // 0: prices are current code lengths; 1: -log2 of symbol frequencies
  int32_t passes;      // parses per block; each later one priced by a replay of the one before
} StageEncodeOptions;

// Defaults that favour size (what `ostrel pack` uses).
StageEncodeOptions StageEncodeDefaults(void);

// MSB-first bit writer, the counterpart of ReadBits.
typedef struct StageBitWriter {
  std::vector<uint8_t> *out;  // bytes are appended here
  uint32_t pending;           // bits not yet stored, right-aligned
  int32_t pendingCount;       // 0 … 7 bits in pending
} StageBitWriter;

void BitWriterInit(StageBitWriter *writer, std::vector<uint8_t> *out);
// Appends the low n bits (0 … 32) of value, most significant first.
void BitWriterPut(StageBitWriter *writer, uint32_t value, int32_t n);
// Pads the last byte with zero bits.
void BitWriterFlush(StageBitWriter *writer);

// Writes symbol s (0 … n) of the model: the root-to-leaf path of its leaf,
// or, when s is absent, the escape's path and s in escapeBits raw bits;
// then updates the model exactly as ModelDecode does.
// Returns 1 when written; 0 when s cannot be sent (absent and not
// representable in escapeBits bits).
int ModelEncode(AdaptiveModel *model, int32_t s, StageBitWriter *writer);
// Bits ModelEncode would write for s now (escape path plus raw bits when
// absent); a large value when s cannot be sent.
uint32_t ModelCodeLength(const AdaptiveModel *model, int32_t s);

// Distance slot of distance d (1 … 8192); slots from 2 on carry slot - 1 extra bits.
int32_t StageDistanceSlot(uint32_t d);

// Encodes size bytes into a complete stage and appends it to out.
// Returns 1 when done; 0 when size exceeds INT32_MAX - 8192 (the header is a
// signed length and the finder indexes the zero prefix plus the data with
// int32_t) or StageAlloc refused the models; out may then hold a partial
// stage after its original bytes. Working memory is about 13 bytes per input
// byte, plus the second encoding's stage; the growing containers abort when
// it runs out.
int EncodeStage(const uint8_t *data, size_t size, const StageEncodeOptions *options,
                std::vector<uint8_t> *out);

#endif
