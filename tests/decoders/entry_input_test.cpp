// The entry input reader: chunking within the budget, decryption per
// chunk, serving past the budget, read failures.
#include <string.h>

#include <gtest/gtest.h>

#include "extractor/decoders/cipher.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/entry_input_internal.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"
#include "tests/decoders/decoder_fixture.h"

namespace {

class EntryInputTest : public ::testing::Test {
 protected:
  void Open(const Bytes &data, int32_t budget) {
    WriteWholeFile(folder_.Path("data"), data);
    extraction.dataFile = FileOpen(folder_.Path("data").c_str(), "rb");
    ASSERT_NE(extraction.dataFile, FILE_INVALID);
    extraction.errorCode = 0;
    extraction.encrypted = 0;
    transfer.inputLeft = budget;
    ResetEntryInput();
  }
  int32_t FilePosition() { return FileSeek(extraction.dataFile, 0, FILE_SEEK_CURRENT); }
  void TearDown() override { FileClose(extraction.dataFile); }
  WorkingStorageScope scope_;
  TempFolder folder_;
};

TEST_F(EntryInputTest, ChunksFollowTheBudget) {
  Bytes data = MakeData(DataKind::Random, 20000, 4);
  Open(data, 8192);
  EXPECT_EQ(NextByte(), data[0]);
  EXPECT_EQ(FilePosition(), 8192) << "8192 bytes: one chunk";
  EXPECT_EQ(transfer.inputLeft, 0);
  FileClose(extraction.dataFile);

  Open(data, 8193);
  EXPECT_EQ(NextByte(), data[0]);
  EXPECT_EQ(FilePosition(), 8192) << "8193 bytes: a chunk of 8192 ...";
  for (int i = 1; i < 8192; i++) ASSERT_EQ(NextByte(), data[i]);
  EXPECT_EQ(NextByte(), data[8192]);
  EXPECT_EQ(FilePosition(), 8193) << "... and one of 1";
  EXPECT_EQ(transfer.inputLeft, 0);
  EXPECT_EQ(EntryInputOverrun(), 0);
  // Past the budget the buffer's older contents are served, and counted.
  EXPECT_EQ(NextByte(), data[1]);
  EXPECT_EQ(NextByte(), data[2]);
  EXPECT_EQ(EntryInputOverrun(), 2);
  EXPECT_EQ(FilePosition(), 8193) << "nothing more is read";
}

TEST_F(EntryInputTest, BudgetZeroServesTheBufferAsItIs) {
  Open(Bytes(100, 0x77), 0);
  EXPECT_EQ(NextByte(), 0) << "a fresh buffer is zero-filled";
  EXPECT_EQ(FilePosition(), 0);
  EXPECT_EQ(EntryInputOverrun(), 1);
  const uint8_t *data;
  EXPECT_EQ(EntryInputPeek(&data), 0) << "no byte of the budget to offer";
}

TEST_F(EntryInputTest, EncryptedChunkIsDecryptedWithTheKeysCarriedOn) {
  // Compressed size 1012: 12 header bytes consumed by the password step,
  // then one chunk of 1000 bytes read and decrypted.
  Bytes plain = MakeData(DataKind::Text, 1000, 2), encrypted = plain;
  InitCipherKeys("k");
  for (uint8_t &b : encrypted) {
    uint8_t p = b;
    b ^= KeystreamByte();
    UpdateCipherKeys(p);
  }
  Open(encrypted, 1012 - 12);
  extraction.encrypted = 1;
  InitCipherKeys("k");
  Bytes got;
  for (int i = 0; i < 1000; i++) got.push_back((uint8_t)NextByte());
  EXPECT_EQ(got, plain);
  EXPECT_EQ(FilePosition(), 1000);
}

TEST_F(EntryInputTest, ShortReadIsCode5AndLeavesTheBudget) {
  Open(Bytes(50, 1), 100);
  EXPECT_EQ(NextByte(), -1);
  EXPECT_EQ(extraction.errorCode, ERR_ACCESS);
  EXPECT_EQ(transfer.inputLeft, 100);
  EXPECT_EQ(RefillEntryInput(), 0);
}

TEST(EntryInputLifecycle, OpenZeroFillsCloseMarksAbsent) {
  WorkingStorageScope scope;
  memset(storage.entryInput, 0x5A, ENTRY_INPUT_SIZE);
  CloseEntryInput();
  EXPECT_EQ(storage.entryInput, nullptr);
  CloseEntryInput();  // twice is harmless
  extraction.errorCode = 0;
  transfer.inputLeft = 0;
  EXPECT_EQ(NextByte(), -1) << "no buffer: nothing to serve";
  EXPECT_EQ(extraction.errorCode, ERR_NO_MEMORY);
  ASSERT_EQ(OpenEntryInput(), 1);
  for (int i = 0; i < ENTRY_INPUT_SIZE; i++) ASSERT_EQ(storage.entryInput[i], 0);
}

}  // namespace
