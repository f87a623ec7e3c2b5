#include "tests/decoders/decoder_fixture.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/file_posix_testing.h"
#include "extractor/zip/state.h"

WorkingStorageScope::WorkingStorageScope() {
  memset(&extraction, 0, sizeof extraction);
  memset(&transfer, 0, sizeof transfer);
  memset(&callbacks, 0, sizeof callbacks);
  extraction.dataFile = extraction.directoryFile = extraction.outputFile = FILE_INVALID;
  EXPECT_EQ(OpenEntryInput(), 1);
  storage.outputWindow = (uint8_t *)MemAlloc(OUTPUT_WINDOW_SIZE);
  memset(storage.outputWindow, 0xEE, OUTPUT_WINDOW_SIZE);
  storage.entry = (EntryRecord *)MemAlloc(sizeof(EntryRecord));
  memset(storage.entry, 0, sizeof(EntryRecord));
  storage.crcTable = (uint32_t *)MemAlloc(CRC_TABLE_ENTRIES * sizeof(uint32_t));
  BuildCrcTable();
  FileSetWriteCeiling(TEST_WRITE_CEILING);
}

WorkingStorageScope::~WorkingStorageScope() {
  ReleaseFixedTables();
  CloseEntryInput();
  MemFree(storage.outputWindow);
  MemFree(storage.entry);
  MemFree(storage.crcTable);
  memset(&storage, 0, sizeof storage);
  FileSetWriteLimit(-1);
  FileSetWriteCeiling(-1);
}

TempFolder::TempFolder() {
  const char *base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ostrel-dec-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  EXPECT_NE(mkdtemp(buffer.data()), nullptr);
  root_ = buffer.data();
}

static void RemoveTree(const std::string &path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    chmod(path.c_str(), 0700);
    if (DIR *dir = opendir(path.c_str())) {
      while (struct dirent *item = readdir(dir)) {
        if (strcmp(item->d_name, ".") && strcmp(item->d_name, "..")) RemoveTree(path + "/" + item->d_name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

TempFolder::~TempFolder() { RemoveTree(root_); }

std::string TempFolder::Path(const std::string &name) const { return root_ + "/" + name; }

void WriteWholeFile(const std::string &path, const Bytes &data) {
  FILE *file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  if (!data.empty()) {
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), file), data.size());
  }
  fclose(file);
}

Bytes ReadWholeFile(const std::string &path) {
  Bytes data;
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) return data;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) data.insert(data.end(), chunk, chunk + got);
  fclose(file);
  return data;
}

static std::vector<int32_t> *currentOffers;
static int stopAt;

static int RecordOffer(int reserved, int32_t percent) {
  EXPECT_EQ(reserved, 0);
  currentOffers->push_back(percent);
  return stopAt == 0 || (int)currentOffers->size() != stopAt;
}

EntryRun RunEntry(const Bytes &data, const EntryOptions &options) {
  EntryRun run;
  TempFolder folder;
  Bytes file = options.prefix;
  file.insert(file.end(), data.begin(), data.end());
  WriteWholeFile(folder.Path("data.bin"), file);
  extraction.dataFile = FileOpen(folder.Path("data.bin").c_str(), "rb");
  extraction.outputFile = FileOpen(folder.Path("out.bin").c_str(), "wb");
  EXPECT_NE(extraction.dataFile, FILE_INVALID);
  EXPECT_NE(extraction.outputFile, FILE_INVALID);
  EXPECT_EQ(FileSeek(extraction.dataFile, (int32_t)options.prefix.size(), FILE_SEEK_BEGIN),
            (int32_t)options.prefix.size());
  extraction.errorCode = 0;
  transfer.crc = 0xFFFFFFFFu;
  transfer.inputLeft = options.budget >= 0 ? options.budget : (int32_t)data.size();
  transfer.bytesDone = 0;
  transfer.bytesTotal = options.bytesTotal != -1 ? options.bytesTotal : options.expectedSize;
  currentOffers = &run.offers;
  stopAt = options.stopAtOffer;
  callbacks.reportProgress = RecordOffer;
  FileSetWriteLimit(options.writeLimit);
  FileSetWriteCeiling(TEST_WRITE_CEILING);  // per entry: a runaway decoder stops the test binary
  ResetEntryInput();
  if (options.deflated) {
    run.result = DecodeDeflateEntry();
    ReleaseFixedTables();
  } else {
    CopyStoredEntry();
    run.result = 0;
  }
  FileSetWriteLimit(-1);
  callbacks.reportProgress = nullptr;
  run.errorCode = extraction.errorCode;
  run.crc = ~transfer.crc;
  FileClose(extraction.dataFile);
  FileClose(extraction.outputFile);
  extraction.dataFile = extraction.outputFile = FILE_INVALID;
  run.output = ReadWholeFile(folder.Path("out.bin"));
  return run;
}

Bytes ZlibDeflate(const Bytes &data, int level, int strategy, int memLevel) {
  z_stream z;
  memset(&z, 0, sizeof z);
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy), Z_OK);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = (Bytef *)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes ZlibInflate(const Bytes &data, bool *ok) {
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit2(&z, -15);
  Bytes out;
  uint8_t chunk[65536];
  z.next_in = (Bytef *)data.data();
  z.avail_in = (uInt)data.size();
  int r;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    r = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
  } while (r == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
  *ok = r == Z_STREAM_END;
  inflateEnd(&z);
  return out;
}

uint32_t ZlibCrc(const Bytes &data) { return (uint32_t)crc32(0, data.data(), (uInt)data.size()); }

std::vector<uint32_t> CanonicalCodes(const std::vector<int> &lengths) {
  uint32_t count[17] = {0}, next[17] = {0}, code = 0;
  for (int l : lengths) count[l]++;
  count[0] = 0;
  for (int bits = 1; bits <= 16; bits++) next[bits] = code = (code + count[bits - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); i++)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

const char *DataKindName(DataKind kind) {
  switch (kind) {
    case DataKind::Text: return "text";
    case DataKind::Binary: return "binary";
    case DataKind::Runs: return "runs";
    case DataKind::Random: return "random";
    case DataKind::Zeros: return "zeros";
  }
  return "?";
}

Bytes MakeData(DataKind kind, size_t size, uint32_t seed) {
  Bytes data(size);
  uint32_t x = seed * 2654435761u + 12345;
  auto next = [&x]() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  static const char *const kWords[] = {"Datei ", "Archiv ", "entpacken ", "der ", "die ", "das ", "und ",
                                       "Ordner\r\n", "Prüfsumme ", "ist ", "nicht ", "ZIP ", "Paßwort. "};
  size_t i = 0;
  switch (kind) {
    case DataKind::Text:
      while (i < size) {
        const char *w = kWords[next() % 13];
        for (size_t k = 0; w[k] && i < size; k++) data[i++] = (uint8_t)w[k];
      }
      break;
    case DataKind::Binary:
      // Structured records: small integers, repeated fields, a slowly changing counter.
      for (; i < size; i++) data[i] = (uint8_t)((i % 16 < 4) ? (i / 64) : (i % 16 < 8) ? next() % 8 : 0x40 + i % 7);
      break;
    case DataKind::Runs:
      while (i < size) {
        uint8_t value = (uint8_t)next();
        size_t run = 1 + next() % 300;
        for (size_t k = 0; k < run && i < size; k++) data[i++] = value;
      }
      break;
    case DataKind::Random:
      for (; i < size; i++) data[i] = (uint8_t)next();
      break;
    case DataKind::Zeros:
      break;
  }
  return data;
}

BitWriter &BitWriter::Bits(uint32_t value, int count) {
  for (int i = 0; i < count; i++) {
    buffer_ |= ((value >> i) & 1u) << count_;
    if (++count_ == 8) {
      bytes_.push_back((uint8_t)buffer_);
      buffer_ = 0;
      count_ = 0;
    }
  }
  return *this;
}

BitWriter &BitWriter::Code(uint32_t code, int length) {
  for (int i = length - 1; i >= 0; i--) Bits((code >> i) & 1u, 1);
  return *this;
}

BitWriter &BitWriter::AlignToByte() {
  if (count_ > 0) Bits(0, 8 - count_);
  return *this;
}

BitWriter &BitWriter::Byte(uint8_t value) { return Bits(value, 8); }

BitWriter &BitWriter::FixedLiteral(uint32_t symbol) {
  if (symbol < 144) return Code(0x30 + symbol, 8);
  if (symbol < 256) return Code(0x190 + symbol - 144, 9);
  if (symbol < 280) return Code(symbol - 256, 7);
  return Code(0xC0 + symbol - 280, 8);
}

BitWriter &BitWriter::FixedDistance(uint32_t symbol) { return Code(symbol, 5); }

Bytes BitWriter::Finish() {
  Bytes out = bytes_;
  if (count_ > 0) out.push_back((uint8_t)buffer_);
  return out;
}
