// CRC-32, the output sink's progress arithmetic and codes, the stored copy
// and the entry check.
#include <string.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "extractor/decoders/crc.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"
#include "tests/decoders/decoder_fixture.h"

namespace {

TEST(Crc, CheckValueAndAgreementWithZlibAtEveryLengthAndAlignment) {
  WorkingStorageScope scope;
  const uint8_t digits[] = "123456789";
  EXPECT_EQ(~UpdateCrc(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
  EXPECT_EQ(storage.crcTable[1], 0x77073096u);  // table entry n is n run through eight steps
  EXPECT_EQ(storage.crcTable[255], 0x2D02EF8Du);
  EXPECT_EQ(UpdateCrc(0x12345678u, digits, 0), 0x12345678u);
  EXPECT_EQ(UpdateCrc(0x12345678u, digits, -5), 0x12345678u);
  // Every length 0..4096 at a pseudo-random alignment, through the
  // carry-less path (where the CPU has it) and the table path, plus one
  // chained update across the two paths' thresholds.
  Bytes data = MakeData(DataKind::Random, 4096 + 64, 1);
  for (int tableOnly = 0; tableOnly < 2; tableOnly++) {
    CrcForceTablePath(tableOnly);
    uint32_t mismatches = 0;
    for (size_t length = 0; length <= 4096; length++) {
      size_t offset = (length * 2654435761u >> 7) % 61;
      uint32_t ours = ~UpdateCrc(0xFFFFFFFFu, data.data() + offset, (int32_t)length);
      if (ours != (uint32_t)crc32(0, data.data() + offset, (uInt)length) && mismatches++ < 5)
        ADD_FAILURE() << "length " << length << " offset " << offset << " table only " << tableOnly;
    }
    uint32_t chained = UpdateCrc(UpdateCrc(0xFFFFFFFFu, data.data(), 333), data.data() + 333, 3820);
    EXPECT_EQ(~chained, (uint32_t)crc32(0, data.data(), 4153)) << tableOnly;
  }
  CrcForceTablePath(0);
}

std::vector<int32_t> offers;
int answer = 1;
int Record(int, int32_t percent) {
  offers.push_back(percent);
  return answer;
}

TEST(OutputSink, ProgressArithmetic) {
  WorkingStorageScope scope;
  callbacks.reportProgress = Record;
  offers.clear();
  answer = 1;
  struct {
    int32_t done, total, percent;
  } rows[] = {
      {32768, 70000, 46},           // truncated, not rounded
      {65536, 70000, 93},
      {70000, 70000, 100},
      {20971520, 30000000, 69},     // halved once: 10485760 * 100 / 15000000
      {20971519, 30000000, 69},     // just below the halving bound: 2097151900 / 30000000
      {41943040, 60000000, 69},     // halved twice
      {0, 0, 100},                  // no total: 100 offered (nothing to divide)
      {5, 0, 100},
      {700, 500, 100},              // a size field smaller than the output: stays at 100
      {2147483647, 2147483647, 100},
  };
  for (const auto &row : rows) {
    transfer.bytesDone = row.done;
    transfer.bytesTotal = row.total;
    offers.clear();
    NotifyProgress();
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0], row.percent) << row.done << " of " << row.total;
  }
  EXPECT_EQ(extraction.errorCode, 0);
  answer = 0;
  NotifyProgress();
  EXPECT_EQ(extraction.errorCode, ERR_CANCELLED) << "a stop answer records 2926";
  answer = 1;
  callbacks.reportProgress = nullptr;
  offers.clear();
  NotifyProgress();
  EXPECT_TRUE(offers.empty()) << "no slot, no call";
}

TEST(OutputSink, StoredCopyChunksAndCodes) {
  WorkingStorageScope scope;
  Bytes plain = MakeData(DataKind::Binary, 100000, 3);
  EntryOptions options;
  options.deflated = false;
  options.expectedSize = (int32_t)plain.size();
  options.prefix = Bytes(77, 0xAB);  // the data does not start at 0
  EntryRun run = RunEntry(plain, options);
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_TRUE(run.output == plain);
  EXPECT_EQ(run.crc, ZlibCrc(plain));
  EXPECT_EQ(run.offers, (std::vector<int32_t>{32, 65, 98, 100}));

  options.expectedSize = 0;  // size 0: nothing read, written or offered
  run = RunEntry(plain, options);
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_TRUE(run.output.empty());
  EXPECT_TRUE(run.offers.empty());

  options.bytesTotal = -5;  // 2 GiB or more: not supported, refused rather than copied as empty
  run = RunEntry(plain, options);
  EXPECT_EQ(run.errorCode, ERR_INVALID_DATA);
  options.bytesTotal = -1;

  options.expectedSize = (int32_t)plain.size() + 10;  // the file ends 10 bytes early
  run = RunEntry(plain, options);
  EXPECT_EQ(run.errorCode, ERR_ACCESS);
  EXPECT_TRUE(run.output == plain);

  options.expectedSize = (int32_t)plain.size();
  options.writeLimit = 50000;  // disk full in the second chunk
  run = RunEntry(plain, options);
  EXPECT_EQ(run.errorCode, ERR_DISK_FULL);
  EXPECT_EQ(run.output.size(), 50000u);
  EXPECT_EQ(run.offers, (std::vector<int32_t>{32, 65})) << "the chunk is offered before it is written";

  options.writeLimit = -1;
  options.stopAtOffer = 1;  // a stop answer does not end a stored copy
  run = RunEntry(plain, options);
  EXPECT_EQ(run.errorCode, ERR_CANCELLED);
  EXPECT_TRUE(run.output == plain);
}

TEST(OutputSink, WriteThatFailsOutrightIsCode5InTheStoredCopy) {
  WorkingStorageScope scope;
  TempFolder folder;
  Bytes plain(1000, 'z');
  WriteWholeFile(folder.Path("in"), plain);
  extraction.dataFile = FileOpen(folder.Path("in").c_str(), "rb");
  extraction.outputFile = FileOpen(folder.Path("in").c_str(), "rb");  // a handle that cannot write
  transfer.bytesTotal = 1000;
  transfer.crc = 0xFFFFFFFFu;
  CopyStoredEntry();
  EXPECT_EQ(extraction.errorCode, ERR_ACCESS);
  // The same failed write in a flush of the window is a short write: 101.
  extraction.errorCode = 0;
  transfer.bytesDone = 0;
  FlushWindow(10);
  EXPECT_EQ(extraction.errorCode, ERR_DISK_FULL);
  FileClose(extraction.dataFile);
  FileClose(extraction.outputFile);
}

TEST(OutputSink, EntryCheckComplementsAndCompares) {
  WorkingStorageScope scope;
  const uint8_t digits[] = "123456789";
  transfer.crc = UpdateCrc(0xFFFFFFFFu, digits, 9);
  storage.entry->central.crc32 = 0xCBF43926u;
  EXPECT_EQ(CheckEntryCrc(), 1);
  EXPECT_EQ(transfer.crc, 0xCBF43926u);
  transfer.crc = UpdateCrc(0xFFFFFFFFu, digits, 8);
  EXPECT_EQ(CheckEntryCrc(), 0);
}

}  // namespace
