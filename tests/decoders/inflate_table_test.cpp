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
const CodeEntry *Resolve(const CodeEntry *table, uint32_t tableBits, uint32_t pattern, uint32_t *used) {
  const CodeEntry *e = table + (pattern & ((1u << tableBits) - 1));
  *used = 0;
  while (e->op > CODE_OP_LINK && e->op != CODE_OP_INVALID) {
    *used += e->bits;
    uint32_t sub = e->op - CODE_OP_LINK;
    e = e->next + ((pattern >> *used) & ((1u << sub) - 1));
  }
  *used += e->bits;
  return e;
}

// Checks every code and every 16-bit pattern. complete: no invalid entry may be reached.
void CheckTable(const std::vector<uint8_t> &lengths, const CodeEntry *table, uint32_t tableBits, bool complete,
                const std::string &label) {
  std::vector<uint32_t> codes = CanonicalCodes(std::vector<int>(lengths.begin(), lengths.end()));
  for (size_t s = 0; s < lengths.size(); s++) {
    if (!lengths[s]) continue;
    uint32_t reversed = Reverse(codes[s], lengths[s]);
    for (uint32_t high : {0u, 0xFFFFu, 0x5A5Au}) {
      uint32_t used;
      const CodeEntry *e = Resolve(table, tableBits, reversed | (high << lengths[s]), &used);
      ASSERT_EQ(e->value, s) << label << " symbol " << s;
      ASSERT_EQ(used, lengths[s]) << label << " symbol " << s;
    }
  }
  // Every pattern; a fixed sample of one in 29 under the sanitizers.
  for (uint32_t pattern = 0; pattern < (1u << 16); pattern += OSTREL_SANITIZED ? 29 : 1) {
    uint32_t used;
    const CodeEntry *e = Resolve(table, tableBits, pattern, &used);
    if (e->op == CODE_OP_INVALID) {
      ASSERT_FALSE(complete) << label << " pattern " << pattern;
      continue;
    }
    ASSERT_LT(e->value, lengths.size()) << label;
    ASSERT_EQ(used, lengths[e->value]) << label << " pattern " << pattern;
    ASSERT_EQ(pattern & ((1u << used) - 1), Reverse(codes[e->value], used)) << label << " pattern " << pattern;
  }
}

TEST(DecodeTable, RandomCodesResolveEveryPatternAtEveryWidth) {
  std::mt19937 rng(1951);
  int built = 0;
  for (int round = 0; round < 60; round++) {
    uint32_t alphabet = round % 3 == 0 ? 19 : round % 3 == 1 ? 30 : 288;
    uint32_t used = 2 + rng() % (alphabet - 1);
    std::vector<uint8_t> lengths = RandomCompleteLengths(rng, alphabet, used);
    for (uint32_t requested : {1u, 5u, 6u, 7u, 9u, 12u}) {
      std::string label = "round " + std::to_string(round) + " width " + std::to_string(requested);
      CodeEntry *table = nullptr;
      uint32_t bits = requested;
      ASSERT_EQ(BuildDecodeTable(lengths.data(), alphabet, alphabet, nullptr, nullptr, &table, &bits), INFLATE_OK)
          << label;
      ASSERT_NE(table, nullptr);
      EXPECT_LE(bits, 16u);
      CheckTable(lengths, table, bits, true, label);
      ReleaseDecodeTable(table);
      if (HasFatalFailure()) return;
      built++;
    }
    // Drop one longest code: incomplete, built with an invalid entry for it.
    auto longest = std::max_element(lengths.begin(), lengths.end());
    uint8_t longestLength = *longest;
    *longest = 0;
    CodeEntry *table = nullptr;
    uint32_t bits = 9;
    int r = BuildDecodeTable(lengths.data(), alphabet, alphabet, nullptr, nullptr, &table, &bits);
    EXPECT_EQ(r, longestLength == 1 ? INFLATE_OK : INFLATE_CORRUPT);
    CheckTable(lengths, table, bits, false, "incomplete round " + std::to_string(round));
    ReleaseDecodeTable(table);
    // Add a code of the shortest length instead: over-subscribed, nothing built.
    *longest = longestLength;
    auto unused = std::find(lengths.begin(), lengths.end(), 0);
    if (unused != lengths.end()) {
      *unused = 1;
      table = nullptr;
      bits = 9;
      EXPECT_EQ(BuildDecodeTable(lengths.data(), alphabet, alphabet, nullptr, nullptr, &table, &bits),
                INFLATE_BLOCK_TYPE);
      EXPECT_EQ(table, nullptr);
    }
  }
  EXPECT_EQ(built, 360);
}

TEST(DecodeTable, DegenerateCodes) {
  CodeEntry *table = reinterpret_cast<CodeEntry *>(1);
  uint32_t bits = 9;
  std::vector<uint8_t> none(30, 0);
  EXPECT_EQ(BuildDecodeTable(none.data(), 30, 0, nullptr, nullptr, &table, &bits), INFLATE_OK);
  EXPECT_EQ(table, nullptr) << "all lengths 0: an empty table";
  EXPECT_EQ(bits, 0u);

  // A single code of length 1 counts as complete; its other half is invalid.
  std::vector<uint8_t> single(30, 0);
  single[7] = 1;
  bits = 6;
  EXPECT_EQ(BuildDecodeTable(single.data(), 30, 30, nullptr, nullptr, &table, &bits), INFLATE_OK);
  ASSERT_NE(table, nullptr);
  uint32_t used;
  EXPECT_EQ(Resolve(table, bits, 0, &used)->value, 7);
  EXPECT_EQ(Resolve(table, bits, 1, &used)->op, CODE_OP_INVALID);
  ReleaseDecodeTable(table);

  std::vector<uint8_t> tooLong(19, 0);
  tooLong[0] = 17;
  EXPECT_EQ(BuildDecodeTable(tooLong.data(), 19, 19, nullptr, nullptr, &table, &bits), INFLATE_CORRUPT);
  EXPECT_EQ(ReleaseDecodeTable(nullptr), 0);
}

// The fixed literal/length code: the first table stops at the end-of-block
// length (7 bits), and 8- and 9-bit codes continue in sub-tables.
TEST(DecodeTable, FixedCodeKeepsItsFirstTableAtTheEndOfBlockLength) {
  std::vector<uint8_t> lengths(288);
  for (int i = 0; i < 288; i++) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  CodeEntry *table = nullptr;
  uint32_t bits = 9;
  ASSERT_EQ(BuildDecodeTable(lengths.data(), 288, 288, nullptr, nullptr, &table, &bits), INFLATE_OK);
  EXPECT_EQ(bits, 7u);
  CheckTable(lengths, table, bits, true, "fixed");
  ReleaseDecodeTable(table);
}

}  // namespace
