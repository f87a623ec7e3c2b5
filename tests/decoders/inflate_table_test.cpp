// The table builder against the definition of canonical Huffman codes:
// for random code shapes (complete, incomplete, over-subscribed) and every
// first-table width, every code must resolve to its symbol with exactly its
// length in bits, every bit pattern must reach either a code that is its
// prefix or an invalid entry, and the result must name the code's kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "extractor/decoders/inflate_internal.h"
#include "tests/decoders/decoder_fixture.h"

namespace {

// Lengths of a random complete code over n symbols with lengths <= 15: a
// tree grown by splitting random leaves, its leaves dealt to random symbols.
std::vector<uint8_t> RandomCompleteLengths(std::mt19937 &rng, uint32_t alphabet, uint32_t used) {
  std::vector<uint8_t> depths = {0};
  while (depths.size() < used) {
    size_t pick = rng() % depths.size();
    if (depths[pick] >= 15) continue;
    uint8_t d = (uint8_t)(depths[pick] + 1);
    depths[pick] = d;
    depths.push_back(d);
  }
  std::vector<uint32_t> symbols(alphabet);
  for (uint32_t i = 0; i < alphabet; i++) symbols[i] = i;
  std::shuffle(symbols.begin(), symbols.end(), rng);
  std::vector<uint8_t> lengths(alphabet, 0);
  for (size_t i = 0; i < used; i++) lengths[symbols[i]] = depths[i];
  return lengths;
}

uint32_t Reverse(uint32_t code, int length) {
  uint32_t r = 0;
  for (int i = 0; i < length; i++) r |= ((code >> i) & 1u) << (length - 1 - i);
  return r;
}

// Walks the tables as a decoder does, over a bit pattern (first bit in bit 0).
CodeEntry Resolve(const CodeEntry *table, uint32_t tableBits, uint32_t pattern, uint32_t *used) {
  CodeEntry e = table[pattern & ((1u << tableBits) - 1)];
  *used = 0;
  while (EntryOp(e) > CODE_OP_LINK && EntryOp(e) != CODE_OP_INVALID) {
    *used += EntryBits(e);
    uint32_t sub = EntryOp(e) - CODE_OP_LINK;
    e = table[EntryValue(e) + ((pattern >> *used) & ((1u << sub) - 1))];
  }
  *used += EntryBits(e);
  return e;
}

// Room for any table these tests build (the decoder's own areas are sized
// for Deflate's lengths and widths; these tests also ask for others).
std::vector<CodeEntry> area(1 << 17);

// Builds into area. Returns the builder's result.
int Build(const std::vector<uint8_t> &lengths, uint32_t *bits) {
  std::fill(area.begin(), area.end(), MakeCodeEntry(0xEE, 0xEE, 0xEEEE));  // unfilled entries show
  return BuildDecodeTable(lengths.data(), (uint32_t)lengths.size(), (uint32_t)lengths.size(), nullptr, nullptr,
                          area.data(), (uint32_t)area.size(), bits);
}

// Checks every code and every 16-bit pattern. complete: no invalid entry may be reached.
void CheckTable(const std::vector<uint8_t> &lengths, uint32_t tableBits, bool complete,
                const std::string &label) {
  std::vector<uint32_t> codes = CanonicalCodes(std::vector<int>(lengths.begin(), lengths.end()));
  for (size_t s = 0; s < lengths.size(); s++) {
    if (!lengths[s]) continue;
    uint32_t reversed = Reverse(codes[s], lengths[s]);
    for (uint32_t high : {0u, 0xFFFFu, 0x5A5Au}) {
      uint32_t used;
      CodeEntry e = Resolve(area.data(), tableBits, reversed | (high << lengths[s]), &used);
      ASSERT_EQ(EntryValue(e), s) << label << " symbol " << s;
      ASSERT_EQ(used, lengths[s]) << label << " symbol " << s;
    }
  }
  // Every pattern; a fixed sample of one in 29 under the sanitizers.
  for (uint32_t pattern = 0; pattern < (1u << 16); pattern += OSTREL_SANITIZED ? 29 : 1) {
    uint32_t used;
    CodeEntry e = Resolve(area.data(), tableBits, pattern, &used);
    if (EntryOp(e) == CODE_OP_INVALID) {
      ASSERT_FALSE(complete) << label << " pattern " << pattern;
      continue;
    }
    ASSERT_LT(EntryValue(e), lengths.size()) << label;
    ASSERT_EQ(used, lengths[EntryValue(e)]) << label << " pattern " << pattern;
    ASSERT_EQ(pattern & ((1u << used) - 1), Reverse(codes[EntryValue(e)], used)) << label << " pattern " << pattern;
  }
}

TEST(DecodeTable, RandomCodesResolveEveryPatternAtEveryWidth) {
  std::mt19937 rng(1951);
  int built = 0;
  for (int round = 0; round < 60; round++) {
    uint32_t alphabet = round % 3 == 0 ? 19 : round % 3 == 1 ? 30 : 288;
    uint32_t used = 2 + rng() % (alphabet - 1);
    std::vector<uint8_t> lengths = RandomCompleteLengths(rng, alphabet, used);
    for (uint32_t requested : {1u, 5u, 6u, 7u, 8u, 9u, 11u, 12u}) {
      std::string label = "round " + std::to_string(round) + " width " + std::to_string(requested);
      uint32_t bits = requested;
      ASSERT_EQ(Build(lengths, &bits), INFLATE_OK) << label;
      EXPECT_LE(bits, 16u);
      CheckTable(lengths, bits, true, label);
      if (HasFatalFailure()) return;
      built++;
    }
    // Drop one longest code: incomplete, built with an invalid entry for it.
    auto longest = std::max_element(lengths.begin(), lengths.end());
    uint8_t longestLength = *longest;
    *longest = 0;
    uint32_t bits = 9;
    EXPECT_EQ(Build(lengths, &bits), longestLength == 1 ? INFLATE_OK : INFLATE_CORRUPT);
    CheckTable(lengths, bits, false, "incomplete round " + std::to_string(round));
    // Add a code of the shortest length instead: over-subscribed.
    *longest = longestLength;
    auto unused = std::find(lengths.begin(), lengths.end(), 0);
    if (unused != lengths.end()) {
      *unused = 1;
      bits = 9;
      EXPECT_EQ(Build(lengths, &bits), INFLATE_BLOCK_TYPE);
    }
  }
  EXPECT_EQ(built, 480);
}

TEST(DecodeTable, DegenerateCodesAndAreaLimit) {
  uint32_t bits = 9;
  EXPECT_EQ(Build(std::vector<uint8_t>(30, 0), &bits), INFLATE_OK);
  EXPECT_EQ(bits, 0u) << "all lengths 0: an empty code";

  // A single code of length 1 counts as complete; its other half is invalid.
  std::vector<uint8_t> single(30, 0);
  single[7] = 1;
  bits = 6;
  EXPECT_EQ(Build(single, &bits), INFLATE_OK);
  uint32_t used;
  EXPECT_EQ(EntryValue(Resolve(area.data(), bits, 0, &used)), 7u);
  EXPECT_EQ(EntryOp(Resolve(area.data(), bits, 1, &used)), (uint32_t)CODE_OP_INVALID);

  std::vector<uint8_t> tooLong(19, 0);
  tooLong[0] = 17;
  EXPECT_EQ(Build(tooLong, &bits), INFLATE_CORRUPT);

  // Tables that do not fit their area: refused, nothing written past it.
  std::vector<uint8_t> flat(256, 8);
  std::vector<CodeEntry> small(257, 0);
  bits = 8;
  EXPECT_EQ(BuildDecodeTable(flat.data(), 256, 256, nullptr, nullptr, small.data(), 255, &bits), INFLATE_NO_MEMORY);
  EXPECT_EQ(small[255], 0u);
  bits = 8;
  EXPECT_EQ(BuildDecodeTable(flat.data(), 256, 256, nullptr, nullptr, small.data(), 256, &bits), INFLATE_OK);
}

// The fixed literal/length code resolves every code in one 9-bit table.
TEST(DecodeTable, FixedCodeInOneTable) {
  std::vector<uint8_t> lengths(288);
  for (int i = 0; i < 288; i++) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  uint32_t bits = 9;
  ASSERT_EQ(Build(lengths, &bits), INFLATE_OK);
  EXPECT_EQ(bits, 9u);
  CheckTable(lengths, bits, true, "fixed");
  for (uint32_t i = 0; i < 512; i++) EXPECT_LE(EntryOp(area[i]), (uint32_t)CODE_OP_LITERAL) << i;
}

}  // namespace
