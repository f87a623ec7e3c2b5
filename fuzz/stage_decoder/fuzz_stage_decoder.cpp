// Fuzz target of the stage decoder. The input is taken as a stage (header
// plus bit stream) and decoded by the fast decoder and by the reference
// decoder of the tests, which must agree on status, bytes and consumption;
// then the input is packed as data and must come back byte-exact.
// Any disagreement aborts, so the corpus replay fails as a test too.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "packed/stage_decoder.h"
#include "packed/stage_encoder.h"
// The reference decoder is compiled in here rather than linked: fuzz
// targets are single files.
#include "tests/packed/reference_decoder.cpp"

namespace {

const int32_t FUZZ_MAX_DECLARED = 1 << 16;  // caps the output so a header cannot exhaust memory

struct Run {
  const uint8_t *data;
  size_t size;
  size_t pos;
  std::vector<uint8_t> output;
};

int32_t ReadInput(void *context, uint8_t *buffer, int32_t count) {
  Run *run = (Run *)context;
  size_t left = run->size - run->pos;
  size_t n = (size_t)count < left ? (size_t)count : left;
  if (n) memcpy(buffer, run->data + run->pos, n);
  run->pos += n;
  return (int32_t)n;
}

int32_t WriteOutput(void *context, const uint8_t *data, int32_t count) {
  Run *run = (Run *)context;
  run->output.insert(run->output.end(), data, data + count);
  return count;
}

void Fail(const char *what) {
  fprintf(stderr, "fuzz_stage_decoder: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> stage(data, data + size);
  if (stage.size() >= 4) {
    int32_t declared = (int32_t)(stage[0] | stage[1] << 8 | stage[2] << 16 | (uint32_t)stage[3] << 24);
    if (declared > FUZZ_MAX_DECLARED) {
      declared %= FUZZ_MAX_DECLARED;
      for (int k = 0; k < 4; k++) stage[(size_t)k] = (uint8_t)((uint32_t)declared >> (8 * k));
    }
  }

  Run run = {stage.data(), stage.size(), 0, {}};
  StageIo io = {ReadInput, &run, WriteOutput, &run};
  StageResult result;
  if (!CreateModels()) Fail("no memory for the models");
  int ok = DecodeStage(&io, &result);
  ReleaseModels();
  if (ok != (result.status == STAGE_OK)) Fail("result and status disagree");
  if (result.consumed != (int64_t)run.pos || run.pos > stage.size()) Fail("consumption miscounted");
  if (result.produced != (int64_t)run.output.size()) Fail("production miscounted");
  if (ok && result.declared > 0 && result.produced < result.declared) Fail("complete image too short");
  if (ok && result.produced > (result.declared > 0 ? result.declared : 0) + STAGE_MAX_OVERRUN)
    Fail("final match ran too far");

  RefResult ref = ReferenceDecode(stage);
  if (ref.status != result.status) Fail("status differs from the reference");
  if (ref.output != run.output) Fail("bytes differ from the reference");
  if ((int64_t)ref.consumed != result.consumed) Fail("consumption differs from the reference");

  std::vector<uint8_t> packed;
  if (!EncodeStage(data, size, nullptr, &packed)) Fail("encoder refused");
  Run again = {packed.data(), packed.size(), 0, {}};
  StageIo io2 = {ReadInput, &again, WriteOutput, &again};
  if (!CreateModels()) Fail("no memory for the models");
  ok = DecodeStage(&io2, &result);
  ReleaseModels();
  if (!ok || again.output != std::vector<uint8_t>(data, data + size)) Fail("round trip differs");
  if (again.pos != packed.size()) Fail("round trip not read to its end");
  return 0;
}
