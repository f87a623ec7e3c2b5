// Hand-made Deflate streams: every corrupt case the decoder must refuse
// (code 9964, no out-of-bounds access: the sanitizer build runs these too)
// and the edge cases it must decode. Streams are built field by field with
// BitWriter; where zlib has a defined answer it is asked as well.
#include <string.h>

#include <gtest/gtest.h>

#include "extractor/decoders/inflate.h"
#include "extractor/decoders/inflate_internal.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/state.h"
#include "tests/decoders/decoder_fixture.h"

namespace {

const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// One code-length symbol with its extra bits.
struct LengthSymbol {
  int symbol;
  int extraBits;
  int extraValue;
};

// Writes a dynamic block header: counts, code-length code (clLengths by
// symbol 0..18, written for the first clCount positions of the order),
// then the sequence of code-length symbols.
void WriteDynamicHeader(BitWriter &w, bool final, int literalCount, int distanceCount, const std::vector<int> &clLengths,
                        int clCount, const std::vector<LengthSymbol> &sequence) {
  w.Bits(final, 1);                 // BFINAL
  w.Bits(2, 2);                     // BTYPE 2: dynamic
  w.Bits(literalCount - 257, 5);    // HLIT
  w.Bits(distanceCount - 1, 5);     // HDIST
  w.Bits(clCount - 4, 4);           // HCLEN
  for (int j = 0; j < clCount; j++) w.Bits(clLengths[kOrder[j]], 3);
  std::vector<uint32_t> clCodes = CanonicalCodes(clLengths);
  for (const LengthSymbol &s : sequence) {
    w.Code(clCodes[s.symbol], clLengths[s.symbol]);
    w.Bits(s.extraValue, s.extraBits);
  }
}

// A dynamic block header whose code lengths are sent plainly (code-length
// symbols 0..15 all 4 bits long, no repeats).
void WriteDynamicPlain(BitWriter &w, bool final, const std::vector<int> &literal, const std::vector<int> &distance) {
  std::vector<int> cl(19, 0);
  for (int s = 0; s < 16; s++) cl[s] = 4;
  std::vector<LengthSymbol> sequence;
  for (int l : literal) sequence.push_back({l, 0, 0});
  for (int l : distance) sequence.push_back({l, 0, 0});
  WriteDynamicHeader(w, final, (int)literal.size(), (int)distance.size(), cl, 19, sequence);
}

// Literal code: 'a' 1 bit, end of block 2 bits, length symbol 257 (3) 2 bits.
std::vector<int> SmallLiteralLengths() {
  std::vector<int> literal(258, 0);
  literal['a'] = 1;
  literal[256] = 2;
  literal[257] = 2;
  return literal;
}

struct Outcome {
  int result;
  int32_t errorCode;
  Bytes output;
};

Outcome Decode(const Bytes &stream, int32_t expectedSize = 0) {
  EntryOptions options;
  options.expectedSize = expectedSize;
  EntryRun run = RunEntry(stream, options);
  return {run.result, run.errorCode, run.output};
}

bool ZlibAccepts(const Bytes &stream, Bytes *output = nullptr) {
  bool ok = false;
  Bytes out = ZlibInflate(stream, &ok);
  if (output) *output = out;
  return ok;
}

// ---- corrupt streams ------------------------------------------------------------

struct CorruptRow {
  const char *label;
  Bytes stream;
  int result;        // DecodeDeflateEntry's result
  bool zlibRefuses;  // zlib refuses it too
};

std::vector<CorruptRow> CorruptRows() {
  std::vector<CorruptRow> rows;
  {
    BitWriter w;
    w.Bits(1, 1).Bits(0, 2).AlignToByte();       // final stored block
    w.Bits(5, 16).Bits(0x0000, 16);              // LEN 5, NLEN not its complement
    w.Byte(1).Byte(2).Byte(3).Byte(4).Byte(5);
    rows.push_back({"stored length complement wrong", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    w.Bits(1, 1).Bits(3, 2).Bits(0, 13);         // final block of reserved type 3
    rows.push_back({"block type 3", w.Finish(), 2, true});
  }
  for (int literals : {287, 288}) {
    BitWriter w;
    w.Bits(1, 1).Bits(2, 2);                     // final dynamic block
    w.Bits(literals - 257, 5).Bits(0, 5).Bits(15, 4);  // HLIT too large, HDIST 1, HCLEN 19
    w.Bits(0, 32).Bits(0, 32);                   // would-be code-length lengths
    rows.push_back({literals == 287 ? "287 literal/length codes" : "288 literal/length codes", w.Finish(), 1, true});
  }
  for (int distances : {31, 32}) {
    BitWriter w;
    w.Bits(1, 1).Bits(2, 2);
    w.Bits(0, 5).Bits(distances - 1, 5).Bits(15, 4);  // HLIT 257, HDIST too large
    w.Bits(0, 32).Bits(0, 32);
    rows.push_back({distances == 31 ? "31 distance codes" : "32 distance codes", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    std::vector<int> cl(19, 0);
    cl[0] = cl[1] = cl[2] = 1;                   // three codes of length 1: over-subscribed
    WriteDynamicHeader(w, true, 257, 1, cl, 19, {});
    w.Bits(0, 32);
    rows.push_back({"over-subscribed code-length code", w.Finish(), 2, true});
  }
  {
    BitWriter w;
    std::vector<int> cl(19, 0);
    WriteDynamicHeader(w, true, 257, 1, cl, 4, {});  // four code-length lengths, all 0
    w.Bits(0, 32);
    rows.push_back({"empty code-length code", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    std::vector<int> literal = SmallLiteralLengths();
    literal['b'] = 1;                            // 'a' and 'b' 1 bit, 256 and 257 2 bits: over-subscribed
    WriteDynamicPlain(w, true, literal, {1});
    rows.push_back({"over-subscribed literal/length code", w.Finish(), 2, true});
  }
  {
    BitWriter w;
    std::vector<int> literal(257, 0);
    literal['a'] = 2;                            // two codes of length 2: half the code space unused
    literal[256] = 2;
    WriteDynamicPlain(w, true, literal, {1});
    w.Code(0, 2).Code(1, 2);                     // 'a', end of block
    rows.push_back({"incomplete literal/length code", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    WriteDynamicPlain(w, true, SmallLiteralLengths(), {1, 1, 1});  // three distance codes of length 1
    rows.push_back({"over-subscribed distance code", w.Finish(), 2, true});
  }
  {
    BitWriter w;
    WriteDynamicPlain(w, true, SmallLiteralLengths(), {1, 2});  // 1 + 2 bits: a quarter unused
    w.Code(0, 1).Code(2, 2);                     // 'a', end of block
    rows.push_back({"incomplete distance code", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    std::vector<int> cl(19, 0);
    for (int s = 0; s < 16; s++) cl[s] = 5;      // 0..15 five bits,
    cl[18] = 1;                                  // 18 one bit: complete
    // 257 + 1 lengths wanted; 18 repeats 138 zeros, twice = 276 > 258.
    WriteDynamicHeader(w, true, 257, 1, cl, 19, {{18, 7, 127}, {18, 7, 127}});
    rows.push_back({"repeat code past the last length", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    std::vector<int> cl(19, 0);
    for (int s = 0; s < 16; s++) cl[s] = 5;
    cl[16] = 1;
    std::vector<LengthSymbol> sequence;
    for (int i = 0; i < 256; i++) sequence.push_back({1, 0, 0});  // 256 lengths of 1
    sequence.push_back({16, 2, 3});              // repeat 6 times: 262 > 258
    WriteDynamicHeader(w, true, 257, 1, cl, 19, sequence);
    rows.push_back({"repeat of the previous length past the end", w.Finish(), 1, true});
  }
  for (int symbol : {286, 287}) {
    BitWriter w;
    w.Bits(1, 1).Bits(1, 2);                     // final fixed block
    w.FixedLiteral('a').FixedLiteral(symbol).FixedDistance(0).FixedLiteral(256);
    rows.push_back({symbol == 286 ? "fixed literal/length symbol 286" : "fixed literal/length symbol 287", w.Finish(), 1,
                    true});
  }
  for (int symbol : {30, 31}) {
    BitWriter w;
    w.Bits(1, 1).Bits(1, 2);
    w.FixedLiteral('a').FixedLiteral(257).FixedDistance(symbol).FixedLiteral(256);
    rows.push_back({symbol == 30 ? "fixed distance symbol 30" : "fixed distance symbol 31", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    WriteDynamicPlain(w, true, SmallLiteralLengths(), {0});  // no distance code at all
    w.Code(0, 1).Code(3, 2).Code(2, 2);          // 'a', length 3 (needs a distance), end of block
    rows.push_back({"match in a block without distance codes", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    std::vector<int> cl(19, 0);
    cl[0] = 1;                                   // a single code of length 1: code 0 = length 0
    WriteDynamicHeader(w, true, 257, 1, cl, 4, {});  // (positions 16, 17, 18, 0 of the order)
    w.Bits(0, 1).Bits(1, 1);                     // a length 0, then the left-over code 1
    w.Bits(0, 24);
    rows.push_back({"left-over code of a one-code code-length code", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    w.Bits(0, 1).Bits(1, 2);                     // a fixed block that is not the last
    w.FixedLiteral('x').FixedLiteral(256);
    rows.push_back({"stream ends after a block that is not the last", w.Finish(), 1, true});
  }
  {
    BitWriter w;
    w.Bits(1, 1).Bits(1, 2);
    w.FixedLiteral(257).FixedDistance(29).Bits(8191, 13);  // length 3, distance 32768 as the first code
    w.FixedLiteral(256);
    rows.push_back({"match before any byte of the entry", w.Finish(), 1, true});
  }
  for (int literals : {2, 40}) {
    // 40 literals and padding give the fast path its eight bytes of input.
    BitWriter w;
    w.Bits(1, 1).Bits(1, 2);
    for (int i = 0; i < literals; i++) w.FixedLiteral('a' + i % 26);
    w.FixedLiteral(257);                         // length 3
    if (literals == 2) w.FixedDistance(2);       // distance 3
    else w.FixedDistance(11).Bits(0, 4);         // distance 49
    w.FixedLiteral(256);
    w.AlignToByte();
    for (int i = 0; i < 16; i++) w.Byte(0);
    rows.push_back({literals == 2 ? "distance one past the entry's bytes" : "distance past the entry's bytes (fast path)",
                    w.Finish(), 1, true});
  }
  rows.push_back({"empty stream", Bytes(), 1, true});
  return rows;
}

TEST(InflateCorrupt, EveryHandMadeCorruptStreamIsRefusedWith9964) {
  WorkingStorageScope scope;
  // An earlier entry that filled the window must not let the next one
  // reach back into its bytes.
  Bytes earlier = MakeData(DataKind::Random, 40000, 9);
  ASSERT_EQ(Decode(ZlibDeflate(earlier, 6, 0), (int32_t)earlier.size()).errorCode, 0);
  for (const CorruptRow &row : CorruptRows()) {
    Outcome o = Decode(row.stream);
    EXPECT_EQ(o.result, row.result) << row.label;
    EXPECT_EQ(o.errorCode, ERR_INVALID_DATA) << row.label;
    EXPECT_TRUE(o.output.empty()) << row.label << ": nothing is flushed after a failure";
    if (row.zlibRefuses) {
      EXPECT_FALSE(ZlibAccepts(row.stream)) << row.label << ": zlib disagrees";
    }
  }
}

// A truncated stream is refused (not decoded from stale buffer bytes), at
// every cut, for stored, fixed and dynamic data; trailing bytes after the
// last block are ignored.
TEST(InflateCorrupt, TruncatedStreamsAreRefusedAndTrailingBytesIgnored) {
  WorkingStorageScope scope;
  Bytes plain = MakeData(DataKind::Text, 3000, 3);
  for (int level : {0, 1, 6}) {
    for (int strategy : {0, 4}) {
      Bytes packed = ZlibDeflate(plain, level, strategy);
      for (size_t cut = 0; cut < packed.size(); cut += (cut < 40 || packed.size() - cut < 40) ? 1 : 97) {
        Bytes shorter(packed.begin(), packed.begin() + cut);
        Outcome o = Decode(shorter, (int32_t)plain.size());
        EXPECT_EQ(o.errorCode, ERR_INVALID_DATA) << "level " << level << " cut " << cut;
        EXPECT_NE(o.result, 0) << "level " << level << " cut " << cut;
      }
      Bytes longer = packed;
      longer.insert(longer.end(), {0xFF, 0x00, 0x12});
      Outcome o = Decode(longer, (int32_t)plain.size());
      EXPECT_EQ(o.errorCode, 0);
      EXPECT_TRUE(o.output == plain);
    }
  }
}

// The data file ends before the entry's budget: the read failure (code 5)
// ends the entry; the decoder neither spins nor overwrites the code.
TEST(InflateCorrupt, ReadFailureEndsTheEntryWithCode5) {
  WorkingStorageScope scope;
  Bytes plain = MakeData(DataKind::Random, 50000, 8);
  Bytes packed = ZlibDeflate(plain, 6, 0);
  EntryOptions options;
  options.budget = (int32_t)packed.size() + 100;  // claims 100 bytes the file does not have
  options.expectedSize = (int32_t)plain.size();
  EntryRun run = RunEntry(packed, options);
  EXPECT_NE(run.result, 0);
  EXPECT_EQ(run.errorCode, ERR_ACCESS);
}

// ---- streams that must decode ---------------------------------------------------

TEST(InflateEdgeCases, StoredAndDynamicCornersDecode) {
  WorkingStorageScope scope;
  {
    BitWriter w;
    w.Bits(0, 1).Bits(0, 2).AlignToByte();       // stored block, not last
    w.Bits(0, 16).Bits(0xFFFF, 16);              // LEN 0, NLEN 0xFFFF
    w.Bits(1, 1).Bits(1, 2);                     // last block: fixed
    w.FixedLiteral('x').FixedLiteral(256);
    Bytes stream = w.Finish();
    Outcome o = Decode(stream, 1);
    EXPECT_EQ(o.errorCode, 0);
    EXPECT_EQ(o.output, Bytes{'x'}) << "stored LEN 0 block copies nothing";
    EXPECT_TRUE(ZlibAccepts(stream));
  }
  {
    BitWriter w;
    WriteDynamicPlain(w, true, SmallLiteralLengths(), {1});  // one distance code, of length 1
    w.Code(0, 1);                                // 'a'
    w.Code(3, 2);                                // length symbol 257: 3
    w.Code(0, 1);                                // distance symbol 0: 1
    w.Code(2, 2);                                // end of block
    Bytes stream = w.Finish(), reference;
    Outcome o = Decode(stream, 4);
    EXPECT_EQ(o.errorCode, 0);
    EXPECT_EQ(o.output, Bytes(4, 'a')) << "single distance code of length 1";
    ASSERT_TRUE(ZlibAccepts(stream, &reference));
    EXPECT_EQ(o.output, reference);
  }
  {
    // Code lengths start with repeat code 16, which then repeats length 0.
    BitWriter w;
    std::vector<int> cl(19, 0);
    cl[16] = 2;
    cl[18] = 2;
    cl[1] = 2;
    cl[2] = 2;
    std::vector<LengthSymbol> sequence = {
        {16, 2, 3},                              // 6 zeros (symbols 0..5)
        {18, 7, 80},                             // 91 zeros (6..96)
        {1, 0, 0},                               // 'a': 1
        {18, 7, 127},                            // 138 zeros (98..235)
        {18, 7, 9},                              // 20 zeros (236..255)
        {2, 0, 0}, {2, 0, 0},                    // 256, 257: 2
        {1, 0, 0}};                              // the one distance code: 1
    WriteDynamicHeader(w, true, 258, 1, cl, 19, sequence);
    w.Code(0, 1).Code(0, 1).Code(2, 2);          // 'a', 'a', end of block
    Outcome o = Decode(w.Finish(), 2);
    EXPECT_EQ(o.errorCode, 0);
    EXPECT_EQ(o.output, Bytes(2, 'a')) << "16 as the first code length";
  }
}

TEST(InflateEdgeCases, MatchesAtTheWindowLimits) {
  WorkingStorageScope scope;
  {
    // One literal, then length 258 at distance 1: 258 further copies.
    BitWriter w;
    w.Bits(1, 1).Bits(1, 2);
    w.FixedLiteral('q').FixedLiteral(285).FixedDistance(0).FixedLiteral(256);
    Bytes stream = w.Finish();
    Outcome o = Decode(stream, 259);
    EXPECT_EQ(o.errorCode, 0);
    EXPECT_EQ(o.output, Bytes(259, 'q'));
  }
  {
    // 32,700 stored bytes, then a 258-byte match 1,000 back: it straddles
    // the window end, is flushed at 32,768 and continues at position 0.
    Bytes plain = MakeData(DataKind::Random, 32700, 4);
    BitWriter w;
    w.Bits(0, 1).Bits(0, 2).AlignToByte();
    w.Bits(32700, 16).Bits(~32700u & 0xFFFF, 16);
    for (uint8_t b : plain) w.Byte(b);
    w.Bits(1, 1).Bits(1, 2);
    w.FixedLiteral(285);                         // length 258
    w.FixedDistance(19).Bits(1000 - 769, 8);     // distance 769 + 231 = 1000
    w.FixedLiteral(256);
    Bytes stream = w.Finish(), reference;
    ASSERT_TRUE(ZlibAccepts(stream, &reference));
    Outcome o = Decode(stream, (int32_t)reference.size());
    EXPECT_EQ(o.errorCode, 0);
    EXPECT_TRUE(o.output == reference);
  }
}

TEST(InflateEdgeCases, FlushesProgressAndFixedTables) {
  WorkingStorageScope scope;
  {
    // Exactly 32,768 bytes: one full flush, then the final flush of 0
    // bytes; both offer progress (100 each).
    Bytes plain = MakeData(DataKind::Text, 32768, 1);
    EntryOptions options;
    options.expectedSize = 32768;
    EntryRun run = RunEntry(ZlibDeflate(plain, 6, 0), options);
    EXPECT_EQ(run.errorCode, 0);
    EXPECT_TRUE(run.output == plain);
    EXPECT_EQ(run.offers, (std::vector<int32_t>{100, 100}));
  }
  {
    Bytes plain = MakeData(DataKind::Binary, 70000, 2);
    EntryOptions options;
    options.expectedSize = 70000;
    EntryRun run = RunEntry(ZlibDeflate(plain, 6, 0), options);
    EXPECT_EQ(run.errorCode, 0);
    EXPECT_EQ(run.offers, (std::vector<int32_t>{46, 93, 100})) << "chunks of 32768, 32768, 4464";
  }
  {
    // Two fixed blocks in one entry share one build of the fixed tables;
    // the next entry builds them again (ReleaseFixedTables ran between).
    BitWriter w;
    w.Bits(0, 1).Bits(1, 2).FixedLiteral('a').FixedLiteral(256);
    w.Bits(1, 1).Bits(1, 2).FixedLiteral('b').FixedLiteral(256);
    Bytes stream = w.Finish();
    uint32_t before = FixedTableBuilds();
    Outcome o = Decode(stream, 2);
    EXPECT_EQ(o.output, (Bytes{'a', 'b'}));
    EXPECT_EQ(FixedTableBuilds() - before, 1u);
    Decode(stream, 2);
    EXPECT_EQ(FixedTableBuilds() - before, 2u);
  }
}

// The progress slot answers stop: the block in progress is completed, the
// window flushed, decoding ends with result 0 and code 2926.
TEST(InflateEdgeCases, CancelEndsAtTheNextBlockBoundaryWithTheFinalFlush) {
  WorkingStorageScope scope;
  Bytes plain = MakeData(DataKind::Text, 400000, 6);
  Bytes packed = ZlibDeflate(plain, 1, 0, 1);  // memLevel 1: many small blocks
  EntryOptions options;
  options.expectedSize = (int32_t)plain.size();
  options.stopAtOffer = 1;
  EntryRun run = RunEntry(packed, options);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.errorCode, ERR_CANCELLED);
  EXPECT_GE(run.output.size(), 32768u);
  EXPECT_LT(run.output.size(), plain.size());
  EXPECT_TRUE(std::equal(run.output.begin(), run.output.end(), plain.begin())) << "output is a prefix";
  EXPECT_EQ(run.offers.size(), 1u) << "no offers after the stop answer";
}

// A full disk does not stop decoding: the code is 101, the file holds what
// fitted, and progress is offered no more after the short write.
TEST(InflateEdgeCases, ShortWriteRecords101AndDecodesToTheEnd) {
  WorkingStorageScope scope;
  Bytes plain = MakeData(DataKind::Text, 150000, 9);
  EntryOptions options;
  options.expectedSize = (int32_t)plain.size();
  options.writeLimit = 40000;
  EntryRun run = RunEntry(ZlibDeflate(plain, 6, 0), options);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.errorCode, ERR_DISK_FULL);
  EXPECT_EQ(run.output.size(), 40000u);
  EXPECT_EQ(run.offers, (std::vector<int32_t>{21}));  // 32768 * 100 / 150000
  EXPECT_EQ(run.crc, ZlibCrc(plain)) << "the CRC still covers every byte produced";
}

}  // namespace
