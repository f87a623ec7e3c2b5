// The read-ahead both file layers use: every read gives the file's bytes at
// the position, and the reads of the underlying file are as few as the
// buffer allows. The file is a memory block behind a counting fetch.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "extractor/zip/read_ahead.h"

namespace {

struct MemoryFile {
  std::vector<uint8_t> bytes;
  int fetches;      // calls so far
  int failAt;       // the call that fails (0: none)
};

int32_t Fetch(void *handle, uint8_t *to, int32_t count, int64_t at) {
  MemoryFile *file = (MemoryFile *)handle;
  if (++file->fetches == file->failAt) return -1;
  int64_t size = (int64_t)file->bytes.size();
  int32_t n = at >= size ? 0 : (int32_t)std::min<int64_t>(count, size - at);
  for (int32_t i = 0; i < n; i++) to[i] = file->bytes[(size_t)(at + i)];
  return n;
}

struct ReadRow {
  int64_t seek;       // position before the read; -1: where the last read ended
  int32_t count;
  int32_t expected;   // bytes returned
  int fetches;        // fetches this read makes
  const char *label;
};

// A 200,000-byte file: three buffers and a part.
const ReadRow kReads[] = {
    {0, 46, 46, 1, "first record fills the buffer"},
    {-1, 30, 30, 0, "next record from the buffer"},
    {65530, 12, 12, 1, "record across the buffer's end: rest, then a refill"},
    {100, 10, 10, 1, "back before the buffer: refill there"},
    {120, 10, 10, 0, "forward inside the buffer"},
    {130000, 70000, 70000, 1, "read of a buffer or more goes straight to the caller"},
    {199990, 100, 10, 2, "short at the end of the file (one fill, one empty fetch)"},
    {-1, 5, 0, 1, "at the end: nothing"},
    {250000, 5, 0, 1, "past the end: nothing"},
};

TEST(ReadAhead, ReadsGiveTheFileBytesWithFewFetches) {
  MemoryFile file = {std::vector<uint8_t>(200000), 0, 0};
  for (size_t i = 0; i < file.bytes.size(); i++) file.bytes[i] = (uint8_t)(i * 7 + i / 251);
  std::unique_ptr<ReadAhead> r(new ReadAhead);
  ReadAheadReset(r.get());
  for (const ReadRow &row : kReads) {
    if (row.seek >= 0) r->position = row.seek;
    int64_t at = r->position;
    std::vector<uint8_t> got(row.count + 1, 0xEE);
    int before = file.fetches;
    EXPECT_EQ(row.expected, ReadAheadRead(r.get(), got.data(), row.count, Fetch, &file)) << row.label;
    EXPECT_EQ(row.fetches, file.fetches - before) << row.label;
    EXPECT_EQ(at + row.expected, r->position) << row.label;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + row.expected, file.bytes.begin() + at)) << row.label;
    EXPECT_EQ(0xEE, got[row.expected]) << row.label << ": wrote past what it returned";
  }
}

TEST(ReadAhead, FailedFetchIsAFailedRead) {
  MemoryFile file = {std::vector<uint8_t>(100000, 1), 0, 2};
  std::unique_ptr<ReadAhead> r(new ReadAhead);
  ReadAheadReset(r.get());
  uint8_t buffer[16];
  EXPECT_EQ(16, ReadAheadRead(r.get(), buffer, 16, Fetch, &file));
  r->position = 70000;  // outside the buffer: the second fetch fails
  EXPECT_EQ(-1, ReadAheadRead(r.get(), buffer, 16, Fetch, &file));
}

}  // namespace
