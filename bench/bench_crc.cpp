// CRC-32 speed on 32 KiB buffers (one window flush each): our UpdateCrc
// (the path BuildCrcTable picks for this CPU, and the table path alone)
// beside zlib's crc32 and libdeflate's libdeflate_crc32, in one run.
// Prints GB/s per implementation; the last line is
// "crc ours/libdeflate: R" (R above 1: ours is faster).
#include <libdeflate.h>
#include <stdio.h>
#include <time.h>
#include <zlib.h>

#include <vector>

#include "extractor/decoders/crc.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"

enum { BUFFER = 32768, BUFFERS = 64, ROUNDS = 5 };

// CPU time of this process: on a machine shared with other jobs it varies
// far less than the wall clock.
static double Now() {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Best GB/s of ROUNDS rounds, each at least 0.1 s over all buffers (2 MiB,
// so the data come from the cache as a window's fresh bytes would).
template <typename F>
static double Rate(const std::vector<uint8_t> &data, F crc, uint32_t *check) {
  double best = 0;
  for (int round = 0; round < ROUNDS; round++) {
    double start = Now(), elapsed;
    size_t bytes = 0;
    uint32_t value;
    do {
      value = 0;  // the sum of one pass over all buffers, the same for every implementation
      for (int b = 0; b < BUFFERS; b++) value += crc(data.data() + (size_t)b * BUFFER);
      bytes += (size_t)BUFFERS * BUFFER;
      elapsed = Now() - start;
    } while (elapsed < 0.1);
    *check = value;
    if (bytes / elapsed / 1e9 > best) best = bytes / elapsed / 1e9;
  }
  return best;
}

int main() {
  storage.crcTable = (uint32_t *)MemAlloc(CRC_TABLE_ENTRIES * sizeof(uint32_t));
  if (!storage.crcTable) return 1;
  BuildCrcTable();
  std::vector<uint8_t> data((size_t)BUFFER * BUFFERS);
  uint32_t x = 2463534242u;
  for (uint8_t &b : data) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = (uint8_t)x;
  }
  uint32_t c1, c2, c3, c4;
  double ours = Rate(data, [](const uint8_t *p) { return ~UpdateCrc(0xFFFFFFFFu, p, BUFFER); }, &c1);
  CrcForceTablePath(1);
  double table = Rate(data, [](const uint8_t *p) { return ~UpdateCrc(0xFFFFFFFFu, p, BUFFER); }, &c2);
  CrcForceTablePath(0);
  double zlib = Rate(data, [](const uint8_t *p) { return (uint32_t)crc32(0, p, BUFFER); }, &c3);
  double deflate = Rate(data, [](const uint8_t *p) { return libdeflate_crc32(0, p, BUFFER); }, &c4);
  if (c1 != c3 || c2 != c3 || c4 != c3) {
    fprintf(stderr, "bench_crc: the CRCs differ\n");
    return 1;
  }
  printf("crc on 32 KiB buffers, GB/s\n");
  printf("ours        %6.2f\n", ours);
  printf("ours table  %6.2f\n", table);
  printf("zlib        %6.2f\n", zlib);
  printf("libdeflate  %6.2f\n", deflate);
  printf("crc ours/zlib: %.2f\n", ours / zlib);
  printf("crc ours/libdeflate: %.2f\n", ours / deflate);
  return 0;
}
