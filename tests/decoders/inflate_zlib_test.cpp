// Differential tests: zlib compresses generated data with raw Deflate at
// every level and strategy; our decoder, run through the real entry path
// (data file, input reader, output file), must give zlib's bytes and CRC.
#include <zlib.h>

#include <gtest/gtest.h>

#include "tests/decoders/decoder_fixture.h"

namespace {

const int kStrategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
const char *const kStrategyNames[] = {"default", "filtered", "huffman", "rle", "fixed"};
const DataKind kKinds[] = {DataKind::Text, DataKind::Binary, DataKind::Runs, DataKind::Random, DataKind::Zeros};

void ExpectSameAsZlib(const Bytes &plain, int level, int strategyIndex, const std::string &label) {
  Bytes packed = ZlibDeflate(plain, level, kStrategies[strategyIndex]);
  bool zlibOk = false;
  ASSERT_EQ(ZlibInflate(packed, &zlibOk), plain) << label;  // the oracle agrees with itself
  EntryOptions options;
  options.expectedSize = (int32_t)plain.size();
  EntryRun run = RunEntry(packed, options);
  ASSERT_EQ(run.result, 0) << label;
  ASSERT_EQ(run.errorCode, 0) << label;
  ASSERT_EQ(run.output.size(), plain.size()) << label;
  ASSERT_TRUE(run.output == plain) << label;
  ASSERT_EQ(run.crc, ZlibCrc(plain)) << label;
  ASSERT_FALSE(run.offers.empty()) << label;
  EXPECT_EQ(run.offers.back(), 100) << label;
}

// Every kind, size near the window edges, level and strategy. Under the
// sanitizers (ten times slower) a fixed sample of one in seven combinations.
TEST(InflateAgainstZlib, SmallAndWindowSizedInputsAtEveryLevelAndStrategy) {
  WorkingStorageScope scope;
  const size_t sizes[] = {0, 1, 2, 100, 32767, 32768, 32769, 70000};
  int combination = 0, checked = 0;
  for (DataKind kind : kKinds) {
    for (size_t size : sizes) {
      Bytes plain = MakeData(kind, size, (uint32_t)size + 7);
      for (int level = 0; level <= 9; level++) {
        for (int s = 0; s < 5; s++) {
          if (OSTREL_SANITIZED && combination++ % 7 != 0) continue;
          std::string label = std::string(DataKindName(kind)) + " size " + std::to_string(size) + " level " +
                              std::to_string(level) + " " + kStrategyNames[s];
          ExpectSameAsZlib(plain, level, s, label);
          if (HasFatalFailure()) return;
          checked++;
        }
      }
    }
  }
  EXPECT_GT(checked, 250);
}

// A few MiB: many blocks, many window wraps, many 8 KiB input chunks.
TEST(InflateAgainstZlib, MultiMegabyteInputs) {
  WorkingStorageScope scope;
  const size_t size = OSTREL_SANITIZED ? 1200000 : 3 * 1024 * 1024 + 123;
  struct Case {
    DataKind kind;
    int level;
    int strategy;
  } cases[] = {{DataKind::Text, 6, 0},   {DataKind::Text, 1, 4},   {DataKind::Text, 9, 1},
               {DataKind::Binary, 6, 0}, {DataKind::Binary, 0, 0}, {DataKind::Runs, 9, 3},
               {DataKind::Random, 6, 0}, {DataKind::Random, 1, 2}, {DataKind::Zeros, 9, 0}};
  for (const Case &c : cases) {
    Bytes plain = MakeData(c.kind, size, 99);
    ExpectSameAsZlib(plain, c.level, c.strategy,
                     std::string(DataKindName(c.kind)) + " big level " + std::to_string(c.level) + " " +
                         kStrategyNames[c.strategy]);
    if (HasFatalFailure()) return;
  }
}

// zlib's smallest memory level makes many short blocks with differing
// code shapes; flushes in the middle insert empty stored blocks and
// stored blocks at odd positions.
TEST(InflateAgainstZlib, ManySmallBlocksAndFlushPoints) {
  WorkingStorageScope scope;
  Bytes plain = MakeData(DataKind::Text, 200000, 5);
  for (int s = 0; s < 5; s++) {
    ExpectSameAsZlib(plain, 9, s, std::string("memLevel 1 ") + kStrategyNames[s]);
    Bytes packed = ZlibDeflate(plain, 9, kStrategies[s], 1);
    EntryOptions options;
    options.expectedSize = (int32_t)plain.size();
    EntryRun run = RunEntry(packed, options);
    EXPECT_EQ(run.errorCode, 0);
    EXPECT_TRUE(run.output == plain) << "memLevel 1 " << kStrategyNames[s];
  }
  // Sync and full flushes every 1000 bytes, switching levels between.
  z_stream z;
  memset(&z, 0, sizeof z);
  ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes packed(plain.size() * 2 + 1000);
  z.next_out = packed.data();
  z.avail_out = (uInt)packed.size();
  for (size_t at = 0; at < plain.size(); at += 1000) {
    deflateParams(&z, (int)(at / 1000) % 10, Z_DEFAULT_STRATEGY);
    z.next_in = plain.data() + at;
    z.avail_in = (uInt)std::min<size_t>(1000, plain.size() - at);
    ASSERT_EQ(deflate(&z, (at / 1000) % 2 ? Z_SYNC_FLUSH : Z_FULL_FLUSH), Z_OK);
  }
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  packed.resize(z.total_out);
  deflateEnd(&z);
  EntryOptions options;
  options.expectedSize = (int32_t)plain.size();
  EntryRun run = RunEntry(packed, options);
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_TRUE(run.output == plain);
  EXPECT_EQ(run.crc, ZlibCrc(plain));
}

}  // namespace
