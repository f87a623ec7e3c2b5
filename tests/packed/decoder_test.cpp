// The stage decoder on streams built field by field: the format's corners,
// the output blocks, what is fetched, and refused streams. Every stream also
// runs through the reference decoder, which must agree.
#include <gtest/gtest.h>

#include <random>

#include "packed/stage_encoder.h"
#include "tests/packed/ref_writer.h"
#include "tests/packed/reference_decoder.h"
#include "tests/packed/stage_test_util.h"

namespace {

// Fast and reference decoder agree on status, bytes and consumption.
void ExpectAgreement(const std::vector<uint8_t> &stage, const FastRun &run, const char *label) {
  RefResult ref = ReferenceDecode(stage);
  EXPECT_EQ(run.result.status, ref.status) << label;
  EXPECT_EQ(run.output, ref.output) << label;
  EXPECT_EQ(run.result.consumed, (int64_t)ref.consumed) << label;
  EXPECT_EQ(run.result.produced, (int64_t)run.output.size()) << label;
}

TEST(StageDecoder, HeaderZeroOrNegativeDecodesNothing) {
  for (int32_t header : {0, -1, INT32_MIN}) {
    TestBits bits(header);
    bits.Put(0xFF, 8);  // a byte that must stay unread
    FastRun run = DecodeFast(bits.bytes);
    EXPECT_EQ(run.returned, 1);
    EXPECT_EQ(run.result.status, STAGE_OK);
    EXPECT_EQ(run.result.declared, header);
    EXPECT_EQ(run.result.consumed, 4);
    EXPECT_EQ(run.readSizes, std::vector<int32_t>{4}) << "one header read, no bit fetched";
    EXPECT_TRUE(run.blocks.empty());
    ExpectAgreement(bits.bytes, run, "header <= 0");
  }
}

TEST(StageDecoder, RunOfDistanceOneAfterLiteral) {
  TestBits bits(11);
  bits.Path("1").Put('A', 9);   // fresh literal tree: escape, 'A'
  bits.Path("00").Put(264, 9);  // escape is now "00"; 264 = base 10
  bits.Path("1").Put(0, 4);     // fresh distance tree: escape, slot 0 (D 1)
  FastRun run = DecodeFast(bits.bytes);
  EXPECT_EQ(run.result.status, STAGE_OK);
  EXPECT_EQ(run.output, Bytes("AAAAAAAAAAA"));
  EXPECT_EQ(run.blocks, std::vector<int32_t>{11});
  EXPECT_EQ(run.result.consumed, (int64_t)bits.bytes.size());
  ExpectAgreement(bits.bytes, run, "run after A");
}

TEST(StageDecoder, MatchBeforeFirstByteCopiesZeros) {
  TestBits bits(5);
  bits.Path("1").Put(259, 9);          // escape, base 5
  bits.Path("1").Put(3, 4).Put(1, 2);  // escape, slot 3 (2 extra bits): D = 4 + 1 + 1 = 6
  FastRun run = DecodeFast(bits.bytes);
  EXPECT_EQ(run.result.status, STAGE_OK);
  EXPECT_EQ(run.output, std::vector<uint8_t>(5, 0));
  ExpectAgreement(bits.bytes, run, "zeros");
}

TEST(StageDecoder, FinalMatchIsWrittenInFull) {
  TestBits bits(3);  // declares 3 bytes, the match carries it to 11
  bits.Path("1").Put('A', 9);
  bits.Path("00").Put(264, 9);
  bits.Path("1").Put(0, 4);
  FastRun run = DecodeFast(bits.bytes);
  EXPECT_EQ(run.returned, 1);
  EXPECT_EQ(run.result.produced, 11);
  EXPECT_EQ(run.output, Bytes("AAAAAAAAAAA"));
  ExpectAgreement(bits.bytes, run, "overlong");
}

TEST(StageDecoder, SlotThirteenWithAllExtraBitsReachesTheWholeWindow) {
  // 8192 literals, then base 2 at slot 13 with 12 one-bits: D 8192, which
  // copies the byte written 8192 positions earlier and adds 2 to the length.
  RefWriter writer(8196);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 8192; i++) {
    expected.push_back((uint8_t)(i * 7 + i / 256));
    writer.Literal(expected.back());
  }
  writer.Match(2, 13, 0xFFF);
  for (int i = 0; i < 4; i++) expected.push_back(expected[(size_t)i]);
  FastRun run = DecodeFast(writer.bits.bytes);
  EXPECT_EQ(run.result.status, STAGE_OK);
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.blocks, (std::vector<int32_t>{8192, 4}));
  ExpectAgreement(writer.bits.bytes, run, "slot 13");
}

TEST(StageDecoder, LongDistancesWrapWithinTheWindow) {
  // Slot 15 (escape-insertable) reaches 16385 … 32768 and slot 30 (present
  // from the start, 29 extra bits) beyond; both count modulo the window and
  // lengthen by 2.
  RefWriter writer(9000);
  for (int i = 0; i < 8700; i++) writer.Literal((i * 13) & 0xFF);
  writer.Match(10, 15, 0x1234);
  writer.Match(20, 30, 0x0ABCDEF);
  int32_t left = 9000 - 8700 - 12 - 22;
  while (left-- > 0) writer.Literal('z');
  FastRun run = DecodeFast(writer.bits.bytes);
  EXPECT_EQ(run.result.status, STAGE_OK);
  EXPECT_EQ(run.output.size(), 9000u);
  ExpectAgreement(writer.bits.bytes, run, "wrap");
}

TEST(StageDecoder, OutputLeavesInWindowSizedBlocks) {
  for (size_t size : {8191u, 8192u, 8193u, 20000u}) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; i++) data[i] = (uint8_t)(i % 251);
    std::vector<uint8_t> stage;
    ASSERT_TRUE(EncodeStage(data.data(), data.size(), nullptr, &stage));
    FastRun run = DecodeFast(stage);
    ASSERT_EQ(run.output, data);
    std::vector<int32_t> blocks((size_t)(size / 8192), 8192);
    if (size % 8192) blocks.push_back((int32_t)(size % 8192));
    EXPECT_EQ(run.blocks, blocks) << size;
  }
}

TEST(StageDecoder, LastSymbolInsideAByteFetchesNothingMore) {
  TestBits bits(1);
  bits.Path("1").Put('Q', 9);  // 10 bits: two bytes, 6 bits of padding
  std::vector<uint8_t> stage = bits.bytes;
  stage.push_back(0xFF);  // what follows in an SFX file (the archive)
  stage.push_back(0xFF);
  FastRun run = DecodeFast(stage);
  EXPECT_EQ(run.output, Bytes("Q"));
  EXPECT_EQ(run.result.consumed, 6);
  EXPECT_EQ(run.readSizes, (std::vector<int32_t>{4, 1, 1}));
}

// Damaged and short streams, one row each; every row runs through the fast
// and the reference decoder.
struct BadStream {
  const char *label;
  std::vector<uint8_t> stage;
  StageStatus status;
  std::string written;  // bytes the sink must have received; "*": as the reference says
};

std::vector<BadStream> BadStreams() {
  std::vector<BadStream> rows;
  {
    TestBits b(5);
    b.Path("1").Put(0, 9);   // zero byte inserted
    b.Path("00").Put(0, 9);  // and sent as an escape once more at once
    rows.push_back({"zero byte inserted twice", b.bytes, STAGE_CORRUPT, std::string(1, '\0')});
  }
  {
    TestBits b(5);
    b.Path("1").Put('A', 9);   // 'A' inserted
    b.Path("00").Put('A', 9);  // escape of 'A' again
    rows.push_back({"literal inserted twice", b.bytes, STAGE_CORRUPT, "A"});
  }
  {
    RefWriter w(40);
    w.Literal('x');
    w.Match(5, 0, 0);                           // slot 0 inserted
    w.Symbol(w.literals, 259);                  // a second match of base 5 …
    w.ForcedEscape(w.distances, 0);             // … whose slot 0 comes as an escape again
    rows.push_back({"distance slot inserted twice", w.bits.bytes, STAGE_CORRUPT, "xxxxxx"});
  }
  {
    RefWriter w(40);
    w.Literal('x');
    w.Match(5, 15, 0);  // slot 15, D 16385 = 1 within the window, length 7; then the source ends
    // The padding of the last byte may still decode; the reference decides
    // what is written before the fetch that fails.
    rows.push_back({"ends after a wrapped match", w.bits.bytes, STAGE_TRUNCATED, "*"});
  }
  {
    TestBits b(5);
    b.Path("1").Put('A', 9);  // one literal, then the source ends
    rows.push_back({"ends between symbols", b.bytes, STAGE_TRUNCATED, "A"});
  }
  {
    TestBits b(5);
    b.Path("1").Put('A', 3);  // escape, then only 3 of 9 bits, then 4 pad bits
    rows.push_back({"ends inside escape bits", b.bytes, STAGE_TRUNCATED, ""});
  }
  {
    TestBits b(20);
    b.Path("1").Put(300, 9);       // base 46
    b.Path("1").Put(13, 4);        // slot 13 needs 12 extra bits …
    b.Put(0x3, 2);                 // … but the source ends after 2 + pad
    rows.push_back({"ends inside extra bits", b.bytes, STAGE_TRUNCATED, ""});
  }
  {
    TestBits b(5);
    b.Path("1").Put(0, 9);  // zero byte inserted; the zero padding then reads as its
                            // escape again, finished by repeats of the last byte:
    rows.push_back({"repeats after the end escape a present symbol", b.bytes, STAGE_TRUNCATED,
                    std::string(1, '\0')});
  }
  rows.push_back({"header cut short", {0x05, 0x00}, STAGE_TRUNCATED, ""});
  rows.push_back({"empty source", {}, STAGE_TRUNCATED, ""});
  rows.push_back({"header only", {0x05, 0x00, 0x00, 0x00}, STAGE_TRUNCATED, ""});
  return rows;
}

TEST(StageDecoder, DamagedAndShortStreamsAreRefused) {
  for (const BadStream &row : BadStreams()) {
    FastRun run = DecodeFast(row.stage);
    EXPECT_EQ(run.returned, 0) << row.label;
    EXPECT_EQ(run.result.status, row.status) << row.label;
    if (row.written != "*") {
      EXPECT_EQ(run.output, Bytes(row.written)) << row.label;
    }
    EXPECT_LE(run.result.consumed, (int64_t)row.stage.size()) << row.label;
    ExpectAgreement(row.stage, run, row.label);
  }
}

TEST(StageDecoder, WriteFailureAndMissingModelsAreReported) {
  std::vector<uint8_t> data(20000, 'k');
  std::vector<uint8_t> stage;
  ASSERT_TRUE(EncodeStage(data.data(), data.size(), nullptr, &stage));
  FastRun run = DecodeFast(stage, 1);  // the second block is not stored
  EXPECT_EQ(run.returned, 0);
  EXPECT_EQ(run.result.status, STAGE_WRITE_FAILED);
  EXPECT_EQ(run.blocks.size(), 2u) << "decoding stops at the failed write";
  EXPECT_EQ(run.result.produced, 8192);

  FastRun none;
  none.input = &stage;
  StageIo io = {FastRunRead, &none, FastRunWrite, &none};
  ReleaseModels();
  EXPECT_EQ(DecodeStage(&io, &none.result), 0);
  EXPECT_EQ(none.result.status, STAGE_NO_MODELS);
  EXPECT_TRUE(none.readSizes.empty());
}

TEST(StageDecoder, AgreesWithReferenceOnRandomAndMutatedStreams) {
  std::mt19937 random(99);
  std::vector<uint8_t> text;
  for (int i = 0; i < 3000; i++) text.push_back((uint8_t)("the quick brown fox "[i % 20] ^ (i % 97 == 0)));
  std::vector<uint8_t> valid;
  ASSERT_TRUE(EncodeStage(text.data(), text.size(), nullptr, &valid));
  int statuses[5] = {0, 0, 0, 0, 0};
  for (int round = 0; round < 400; round++) {
    std::vector<uint8_t> stage;
    if (round % 2 == 0) {
      TestBits b((int32_t)(random() % 4000));
      size_t length = random() % 700;
      for (size_t k = 0; k < length; k++) b.Put(random() & 0xFF, 8);
      stage = b.bytes;
    } else {
      stage = valid;
      for (int flips = 1 + (int)(random() % 3); flips > 0; flips--)
        stage[4 + random() % (stage.size() - 4)] ^= (uint8_t)(1u << (random() % 8));
      if (random() % 3 == 0) stage.resize(4 + random() % (stage.size() - 4));
    }
    FastRun run = DecodeFast(stage);
    statuses[run.result.status]++;
    ExpectAgreement(stage, run, ("round " + std::to_string(round)).c_str());
    if (HasFailure()) break;
  }
  // The mix must really exercise the refusals, not only clean ends.
  EXPECT_GT(statuses[STAGE_CORRUPT], 10);
  EXPECT_GT(statuses[STAGE_TRUNCATED], 10);
}

}  // namespace
