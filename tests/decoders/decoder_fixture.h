// Shared helpers of the decoder tests: working storage set up as the
// extractor sets it up, temporary files, an entry run through the real
// path (FileOpen on a data file, the input reader, the decoder, the sink
// writing a real output file), zlib as the reference, and a small LSB-first
// bit writer for hand-made Deflate streams.
#ifndef OSTREL_TESTS_DECODERS_DECODER_FIXTURE_H
#define OSTREL_TESTS_DECODERS_DECODER_FIXTURE_H

#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// 1 in the ASan/UBSan build, where the exhaustive tests sample instead.
#if defined(__SANITIZE_ADDRESS__)
#define OSTREL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSTREL_SANITIZED 1
#endif
#endif
#ifndef OSTREL_SANITIZED
#define OSTREL_SANITIZED 0
#endif

// Creates the four working-storage blocks (input through OpenEntryInput,
// window filled with 0xEE, entry record zeroed, CRC table built), resets
// the run records and sets the write ceiling (file_posix_testing.h) that
// stops a runaway decoder; ~ releases them again and lifts the ceiling.
class WorkingStorageScope {
 public:
  WorkingStorageScope();
  ~WorkingStorageScope();
};

// A fresh folder below $TMPDIR (or /tmp), removed with its files at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  std::string Path(const std::string &name) const;  // POSIX path of a file inside
 private:
  std::string root_;
};

void WriteWholeFile(const std::string &path, const Bytes &data);
Bytes ReadWholeFile(const std::string &path);

// What one entry run produced.
struct EntryRun {
  int result = -1;             // DecodeDeflateEntry's result (or 0 for a stored copy)
  int32_t errorCode = 0;       // extraction.errorCode afterwards
  Bytes output;                // the output file's contents
  uint32_t crc = 0;            // final CRC (register complemented)
  std::vector<int32_t> offers; // percentages offered to the progress slot
};

// Options of an entry run.
struct EntryOptions {
  int32_t budget = -1;         // transfer.inputLeft; -1 = the data's size
  int32_t bytesTotal = -1;     // transfer.bytesTotal; -1 = expectedSize
  int32_t expectedSize = 0;    // used for bytesTotal when that is -1
  int stopAtOffer = 0;         // the progress slot answers stop at this offer (1-based), 0 never
  int64_t writeLimit = -1;     // FileSetWriteLimit for the output file
  bool deflated = true;        // false: CopyStoredEntry
  int32_t dataOffset = 0;      // position of the data inside the file
  std::vector<uint8_t> prefix; // bytes written in front of the data (dataOffset = its size)
};

// Writes data to a temporary file, opens it as extraction.dataFile and runs
// one entry through DecodeDeflateEntry (and ReleaseFixedTables) or
// CopyStoredEntry into a temporary output file. Needs a WorkingStorageScope.
EntryRun RunEntry(const Bytes &data, const EntryOptions &options = EntryOptions());

// zlib raw deflate (windowBits -15) of data.
Bytes ZlibDeflate(const Bytes &data, int level, int strategy, int memLevel = 8);
// zlib raw inflate; ok false when zlib refuses the stream.
Bytes ZlibInflate(const Bytes &data, bool *ok);
uint32_t ZlibCrc(const Bytes &data);

// Canonical Huffman codes of RFC 1951 3.2.2 for the given lengths (0 = unused).
std::vector<uint32_t> CanonicalCodes(const std::vector<int> &lengths);

// Generated test data of a given size and kind.
enum class DataKind { Text, Binary, Runs, Random, Zeros };
Bytes MakeData(DataKind kind, size_t size, uint32_t seed);
const char *DataKindName(DataKind kind);

// LSB-first bit writer for Deflate streams (RFC 1951 3.1.1): header fields
// and extra bits go in low bit first; Huffman codes go in first bit first.
class BitWriter {
 public:
  BitWriter &Bits(uint32_t value, int count);      // value's low count bits, low bit first
  BitWriter &Code(uint32_t code, int length);      // a Huffman code, its most significant bit first
  BitWriter &AlignToByte();
  BitWriter &Byte(uint8_t value);                  // whole byte (call AlignToByte first)
  BitWriter &FixedLiteral(uint32_t symbol);        // symbol 0..287 in the fixed code
  BitWriter &FixedDistance(uint32_t symbol);       // symbol 0..31 in the fixed code
  Bytes Finish();                                  // pads the last byte with zeros
 private:
  Bytes bytes_;
  uint32_t buffer_ = 0;
  int count_ = 0;
};

#endif
