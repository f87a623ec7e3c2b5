// Helpers of the packed-stage tests: a tiny MSB-first bit writer to build
// streams field by field, and a run of the fast decoder over memory that
// records every read and write call.
#ifndef OSTREL_TESTS_PACKED_STAGE_TEST_UTIL_H
#define OSTREL_TESTS_PACKED_STAGE_TEST_UTIL_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "packed/stage_decoder.h"

// Builds a stage: header, then bits most significant first.
struct TestBits {
  std::vector<uint8_t> bytes;
  int used = 8;  // bits used in the last byte

  explicit TestBits(int32_t header) {
    for (int k = 0; k < 4; k++) bytes.push_back((uint8_t)((uint32_t)header >> (8 * k)));
  }
  // Appends bits given as text ("0110"), for tree paths.
  TestBits &Path(const char *bits) {
    for (; *bits; bits++) Put(*bits == '1', 1);
    return *this;
  }
  TestBits &Put(uint32_t value, int n) {
    for (int k = n - 1; k >= 0; k--) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      if ((value >> k) & 1) bytes.back() |= (uint8_t)(0x80 >> used);
      used++;
    }
    return *this;
  }
};

// One run of DecodeStage over memory.
struct FastRun {
  StageResult result;
  int returned;                      // DecodeStage's own result
  std::vector<uint8_t> output;       // everything the sink received
  std::vector<int32_t> blocks;       // size of each write call
  std::vector<int32_t> readSizes;    // count asked by each read call
  size_t readPos = 0;                // source bytes handed out
  const std::vector<uint8_t> *input = nullptr;
  int32_t failWriteAt = -1;          // write call (0-based) that stores nothing
};

inline int32_t FastRunRead(void *context, uint8_t *buffer, int32_t count) {
  FastRun *run = (FastRun *)context;
  run->readSizes.push_back(count);
  size_t left = run->input->size() - run->readPos;
  size_t n = (size_t)count < left ? (size_t)count : left;
  if (n) memcpy(buffer, run->input->data() + run->readPos, n);
  run->readPos += n;
  return (int32_t)n;
}

inline int32_t FastRunWrite(void *context, const uint8_t *data, int32_t count) {
  FastRun *run = (FastRun *)context;
  if ((int32_t)run->blocks.size() == run->failWriteAt) {
    run->blocks.push_back(0);
    return -1;
  }
  run->blocks.push_back(count);
  run->output.insert(run->output.end(), data, data + count);
  return count;
}

// Creates fresh models, decodes, releases them.
inline FastRun DecodeFast(const std::vector<uint8_t> &stage, int32_t failWriteAt = -1) {
  FastRun run;
  run.input = &stage;
  run.failWriteAt = failWriteAt;
  StageIo io = {FastRunRead, &run, FastRunWrite, &run};
  if (!CreateModels()) {
    run.returned = -1;
    return run;
  }
  run.returned = DecodeStage(&io, &run.result);
  ReleaseModels();
  return run;
}

inline std::vector<uint8_t> Bytes(const std::string &text) { return std::vector<uint8_t>(text.begin(), text.end()); }

#endif
