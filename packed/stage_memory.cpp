#include "packed/stage_memory.h"

#include <string.h>

namespace {

typedef struct MemorySource {
  const uint8_t *data;  // the stage
  size_t size;          // its bytes
  size_t pos;           // next byte to hand out
} MemorySource;

int32_t ReadMemory(void *context, uint8_t *buffer, int32_t count) {
  MemorySource *source = (MemorySource *)context;
  size_t left = source->size - source->pos;
  size_t n = (size_t)count < left ? (size_t)count : left;
  if (n) memcpy(buffer, source->data + source->pos, n);
  source->pos += n;
  return (int32_t)n;
}

int32_t AppendOutput(void *context, const uint8_t *data, int32_t count) {
  std::vector<uint8_t> *out = (std::vector<uint8_t> *)context;
  out->insert(out->end(), data, data + count);
  return count;
}

}  // namespace

int DecodeStageInMemory(const uint8_t *stage, size_t size, std::vector<uint8_t> *image,
                        StageResult *result) {
  image->clear();
  if (!CreateModels()) {
    memset(result, 0, sizeof *result);
    result->status = STAGE_NO_MODELS;
    return 0;
  }
  MemorySource source = {stage, size, 0};
  StageIo io = {ReadMemory, &source, AppendOutput, image};
  int ok = DecodeStage(&io, result);
  ReleaseModels();
  return ok;
}
