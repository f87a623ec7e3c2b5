// The adaptive model and the bit reader: fresh codes, escapes, inserts that
// must be refused, the rescale limits, the exchange rule, and the whole model
// against the reference model over long random symbol sequences.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "packed/model.h"
#include "tests/packed/reference_decoder.h"
#include "tests/packed/stage_test_util.h"

namespace {

struct ByteSource {
  std::vector<uint8_t> bytes;
  size_t pos = 0;
  int fetches = 0;  // read calls
};

int32_t ReadOne(void *context, uint8_t *buffer, int32_t count) {
  ByteSource *source = (ByteSource *)context;
  source->fetches++;
  if (source->pos >= source->bytes.size() || count < 1) return 0;
  buffer[0] = source->bytes[source->pos++];
  return 1;
}

// Copies the fast model into the reference form for comparison and checks.
RefModel Mirror(const AdaptiveModel &model) {
  RefModel ref(model.escapeSymbol - 1, model.rescaleWeight, model.escapeBits);
  ref.list.clear();
  for (int32_t i = 0; i < model.nodeCount; i++) {
    const ModelNode &node = model.nodes[i];
    ref.list.push_back({node.weight, node.parent, node.isLeaf == 1, node.link});
  }
  for (int32_t s = 0; s <= model.escapeSymbol; s++) ref.where[(size_t)s] = model.leafIndex[s];
  return ref;
}

void ExpectSameTree(const AdaptiveModel &model, const RefModel &ref, const std::string &where) {
  RefModel mirror = Mirror(model);
  ASSERT_STREQ(mirror.Check(), "") << where;
  ASSERT_EQ(mirror.list.size(), ref.list.size()) << where;
  for (size_t i = 0; i < ref.list.size(); i++) {
    ASSERT_EQ(mirror.list[i].weight, ref.list[i].weight) << where << " node " << i;
    ASSERT_EQ(mirror.list[i].parent, ref.list[i].parent) << where << " node " << i;
    ASSERT_EQ(mirror.list[i].leaf, ref.list[i].leaf) << where << " node " << i;
    ASSERT_EQ(mirror.list[i].link, ref.list[i].link) << where << " node " << i;
  }
  ASSERT_EQ(mirror.where, ref.where) << where;
}

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ModelInit(&literal, 512, 1024, 9));
    ASSERT_TRUE(ModelInit(&distance, 30, 256, 4));
  }
  void TearDown() override {
    ModelRelease(&literal);
    ModelRelease(&distance);
  }
  void Feed(const std::vector<uint8_t> &bytes) {
    source.bytes = bytes;
    source.pos = 0;
    source.fetches = 0;
    BitReaderReset(ReadOne, &source);
  }
  AdaptiveModel literal{};
  AdaptiveModel distance{};
  ByteSource source;
};

TEST_F(ModelTest, FreshModelCodesAndFirstEscape) {
  // Fresh tree: bit 0 is symbol n, bit 1 the escape.
  EXPECT_EQ(literal.nodeCount, 3);
  EXPECT_EQ(literal.escapeSymbol, 513);
  EXPECT_EQ(literal.leafIndex[512], 1);
  EXPECT_EQ(literal.leafIndex[513], 2);
  EXPECT_EQ(literal.leafIndex[0], -1);

  TestBits bits(0);
  bits.Path("0");            // symbol 512
  bits.Path("1").Put(65, 9); // escape, then 'A' in 9 bits, most significant first
  Feed(std::vector<uint8_t>(bits.bytes.begin() + 4, bits.bytes.end()));
  EXPECT_EQ(ModelDecode(&literal), 512);
  EXPECT_EQ(ModelDecode(&literal), 65);

  // After 512 (weight 2) and 'A': the escape's old place split into escape
  // and 'A', then that parent (weight 2) stays behind 512 (weight 2).
  EXPECT_EQ(literal.nodeCount, 5);
  EXPECT_EQ(literal.nodes[0].weight, 4u);
  EXPECT_EQ(literal.nodes[1].isLeaf, 1);
  EXPECT_EQ(literal.nodes[1].link, 512);
  EXPECT_EQ(literal.nodes[2].isLeaf, 0);
  EXPECT_EQ(literal.nodes[2].weight, 2u);
  EXPECT_EQ(literal.leafIndex[513], 3);
  EXPECT_EQ(literal.leafIndex[65], 4);
  EXPECT_EQ(literal.nodes[4].weight, 1u);
  EXPECT_STREQ(Mirror(literal).Check(), "");
}

TEST_F(ModelTest, EscapeOfFreshTreeMovesParentInFrontOfLighterLeaf) {
  // Escape + 'A' on a fresh tree: the split node's parent reaches weight 2
  // and passes symbol 512 (weight 1): one exchange, 512 goes to node 2.
  Feed({0x80 | (65 >> 2), (uint8_t)((65 & 3) << 6)});
  EXPECT_EQ(ModelDecode(&literal), 65);
  EXPECT_EQ(literal.nodes[1].isLeaf, 0);
  EXPECT_EQ(literal.nodes[1].link, 3);
  EXPECT_EQ(literal.nodes[3].parent, 1);
  EXPECT_EQ(literal.nodes[4].parent, 1);
  EXPECT_EQ(literal.leafIndex[512], 2);
  EXPECT_EQ(literal.leafIndex[513], 3);
  EXPECT_EQ(literal.leafIndex[65], 4);
  // New codes: 512 "1", escape "00", 'A' "01".
  Feed({0x40});  // 0 1 ...
  EXPECT_EQ(ModelDecode(&literal), 65);
}

TEST_F(ModelTest, ReadBitsFetchesLazilyAndRepeatsAtEnd) {
  Feed({0xA5, 0x3C});
  EXPECT_EQ(ReadBits(0), 0u);
  EXPECT_EQ(source.fetches, 0) << "ReadBits(0) must not touch the reader";
  EXPECT_EQ(ReadBits(3), 0x5u);  // 101
  EXPECT_EQ(source.fetches, 1);
  EXPECT_EQ(ReadBits(5), 0x05u);  // 00101: ends on the byte boundary
  EXPECT_EQ(source.fetches, 1) << "the next byte is fetched only for its first bit";
  EXPECT_EQ(ReadBits(9), 0x3C << 1 | 0u);  // 8 bits of 0x3C, then a fetch at the end
  EXPECT_EQ(bitReader.atEnd, 1);
  EXPECT_EQ(bitReader.consumed, 2);
  // At the end the last byte's bits repeat.
  Feed({0xF0});
  EXPECT_EQ(ReadBits(8), 0xF0u);
  EXPECT_EQ(ReadBits(8), 0xF0u);
  EXPECT_EQ(bitReader.atEnd, 1);
  Feed({0x12, 0x34, 0x56, 0x78});
  EXPECT_EQ(ReadBits(32), 0x12345678u);
}

TEST_F(ModelTest, InsertsThatWouldBreakTheArraysAreRefused) {
  // Present from the start: symbol n and the escape itself.
  EXPECT_FALSE(ModelInsert(&literal, 512));
  EXPECT_FALSE(ModelInsert(&literal, 513));
  EXPECT_FALSE(ModelInsert(&literal, -1));
  EXPECT_FALSE(ModelInsert(&literal, 514));
  EXPECT_EQ(literal.nodeCount, 3);
  // Every ordinary symbol once fills the node array exactly.
  for (int32_t s = 0; s < 512; s++) {
    ASSERT_TRUE(ModelInsert(&literal, s));
    ModelIncrement(&literal, s);
  }
  EXPECT_EQ(literal.nodeCount, 2 * 512 + 3);
  for (int32_t s : {0, 255, 511}) EXPECT_FALSE(ModelInsert(&literal, s));
  EXPECT_EQ(literal.nodeCount, 2 * 512 + 3);
  EXPECT_STREQ(Mirror(literal).Check(), "");
}

TEST_F(ModelTest, EscapeBeyondTheAlphabetIsRefused) {
  // 3 escape bits over 4 symbols: values 4 (present), 5 (escape), 6 and 7
  // (no leafIndex entry at all) must all be refused by the decoder.
  AdaptiveModel small{};
  ASSERT_TRUE(ModelInit(&small, 4, 64, 3));
  for (uint8_t value : {4, 5, 6, 7}) {
    Feed({(uint8_t)(0x80 | value << 4)});  // escape "1", then 3 bits
    EXPECT_EQ(ModelDecode(&small), -1) << (int)value;
    EXPECT_EQ(small.nodeCount, 3);
  }
  Feed({0x80 | 2 << 4});
  EXPECT_EQ(ModelDecode(&small), 2);
  EXPECT_EQ(small.nodeCount, 5);
  ModelRelease(&small);
  EXPECT_EQ(small.nodes, nullptr);
}

TEST_F(ModelTest, RescaleHappensWhenRootReachesExactlyTheLimit) {
  ASSERT_TRUE(ModelInsert(&literal, 65));
  // Root weight 3 after the first increment; bring it to 1023, then 1024.
  ModelIncrement(&literal, 65);
  while (literal.nodes[0].weight < 1024) ModelIncrement(&literal, 65);
  EXPECT_EQ(literal.nodes[literal.leafIndex[65]].weight, 1022u);
  // The next increment halves first: 'A' 511, 512 and escape keep weight 1.
  ModelIncrement(&literal, 65);
  EXPECT_EQ(literal.nodes[literal.leafIndex[65]].weight, 512u);
  EXPECT_EQ(literal.nodes[literal.leafIndex[512]].weight, 1u);
  EXPECT_EQ(literal.nodes[literal.leafIndex[513]].weight, 1u);
  EXPECT_EQ(literal.nodes[0].weight, 514u);
  EXPECT_STREQ(Mirror(literal).Check(), "");

  // Distance model: limit 256. Odd weights round up.
  ASSERT_TRUE(ModelInsert(&distance, 3));
  ModelIncrement(&distance, 3);
  ASSERT_TRUE(ModelInsert(&distance, 7));
  ModelIncrement(&distance, 7);
  while (distance.nodes[0].weight < 256) ModelIncrement(&distance, 3);
  EXPECT_EQ(distance.nodes[distance.leafIndex[3]].weight, 253u);
  ModelIncrement(&distance, 7);
  EXPECT_EQ(distance.nodes[distance.leafIndex[3]].weight, 127u);
  EXPECT_EQ(distance.nodes[distance.leafIndex[7]].weight, 2u);  // 1 halves to 1, then +1
  EXPECT_EQ(distance.nodes[distance.leafIndex[30]].weight, 1u);
  EXPECT_EQ(distance.nodes[distance.leafIndex[31]].weight, 1u);
  EXPECT_EQ(distance.nodes[0].weight, 131u);
  EXPECT_STREQ(Mirror(distance).Check(), "");
}

TEST_F(ModelTest, ExchangeKeepsParentsInPlace) {
  // Tree after 'A' (see above): node 1 internal over 3 and 4, node 2 leaf 512.
  Feed({0x80 | (65 >> 2), (uint8_t)((65 & 3) << 6)});
  ASSERT_EQ(ModelDecode(&literal), 65);
  ModelExchange(&literal, 1, 2);
  EXPECT_EQ(literal.nodes[1].isLeaf, 1);
  EXPECT_EQ(literal.nodes[1].link, 512);
  EXPECT_EQ(literal.leafIndex[512], 1);
  EXPECT_EQ(literal.nodes[2].isLeaf, 0);
  EXPECT_EQ(literal.nodes[3].parent, 2);
  EXPECT_EQ(literal.nodes[4].parent, 2);
  EXPECT_EQ(literal.nodes[1].parent, 0);
  EXPECT_EQ(literal.nodes[2].parent, 0);
  // The increment rule: a node that is not lighter than its predecessor stays.
  ModelExchange(&literal, 1, 2);
  uint32_t before = literal.nodes[1].weight;
  ModelIncrement(&literal, 512);  // 512 (node 2, weight 1) ties node 1's weight 2 at most
  EXPECT_EQ(literal.nodes[1].weight, before);
  EXPECT_EQ(literal.leafIndex[512], 2) << "512 may not pass a node of equal weight";
  ModelIncrement(&literal, 512);  // now 3 > 2: one exchange to the front of the lighter block
  EXPECT_EQ(literal.leafIndex[512], 1);
  EXPECT_STREQ(Mirror(literal).Check(), "");
}

TEST_F(ModelTest, MatchesReferenceModelOverLongRandomSequences) {
  // Skewed symbol choice (frequent small values, now and then new ones)
  // runs through many rescales of both models.
  std::mt19937 random(1234);
  for (AdaptiveModel *model : {&literal, &distance}) {
    int32_t n = model->escapeSymbol - 1;
    int32_t insertable = n < (1 << model->escapeBits) ? n : (1 << model->escapeBits);
    RefModel ref(n, model->rescaleWeight, model->escapeBits);
    for (int step = 0; step < 30000; step++) {
      int32_t s = (int32_t)(random() % 4 == 0 ? random() % (uint32_t)insertable : random() % 8);
      if (random() % 50 == 0) s = n;
      if (model->leafIndex[s] < 0) {
        ASSERT_TRUE(ModelInsert(model, s));
        ASSERT_TRUE(ref.Insert(s));
      }
      ModelIncrement(model, s);
      ref.Update(s);
      if (step % 97 == 0 || step < 200) ExpectSameTree(*model, ref, "step " + std::to_string(step));
    }
    ExpectSameTree(*model, ref, "end");
  }
}

}  // namespace
