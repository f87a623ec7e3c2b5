// Decoding of a stage held in memory, for the native tools, benchmarks and
// tests: the whole CreateModels / DecodeStage / ReleaseModels sequence over
// a byte vector.
#ifndef OSTREL_PACKED_STAGE_MEMORY_H
#define OSTREL_PACKED_STAGE_MEMORY_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "packed/stage_decoder.h"

// Decodes the stage (header plus bit stream; bytes after the stream are
// never read) into image, which receives every byte the decoder produced,
// a final match's overrun of the header's length included.
// Returns 1 when result->status is STAGE_OK; 0 otherwise (STAGE_NO_MODELS
// when the models could not be created).
int DecodeStageInMemory(const uint8_t *stage, size_t size, std::vector<uint8_t> *image,
                        StageResult *result);

#endif
