// Encoder round trips: every stage the encoder makes must decode byte-exact
// with the fast decoder and with the reference decoder, and must be read to
// its last byte and no further. Also the pack/unpack commands of `ostrel`.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "packed/stage_encoder.h"
#include "tests/packed/reference_decoder.h"
#include "tests/packed/stage_test_util.h"

namespace {

std::vector<uint8_t> Pack(const std::vector<uint8_t> &data, const StageEncodeOptions *options = nullptr) {
  std::vector<uint8_t> stage;
  EXPECT_TRUE(EncodeStage(data.data(), data.size(), options, &stage));
  return stage;
}

void ExpectRoundTrip(const std::vector<uint8_t> &data, const std::string &label,
                     const StageEncodeOptions *options = nullptr) {
  std::vector<uint8_t> stage = Pack(data, options);
  ASSERT_GE(stage.size(), 4u) << label;
  FastRun run = DecodeFast(stage);
  ASSERT_EQ(run.result.status, STAGE_OK) << label;
  EXPECT_EQ(run.result.declared, (int32_t)data.size()) << label;
  EXPECT_TRUE(run.output == data) << label << ": fast decoder differs";
  EXPECT_EQ(run.result.consumed, (int64_t)stage.size()) << label << ": stream not read to its end";
  RefResult ref = ReferenceDecode(stage);
  EXPECT_EQ(ref.status, STAGE_OK) << label;
  EXPECT_TRUE(ref.output == data) << label << ": reference decoder differs";
}

std::vector<uint8_t> ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(size);
  for (uint8_t &b : data) b = (uint8_t)random();
  return data;
}

// Words drawn with skewed frequencies: text-like, with matches at every distance.
std::vector<uint8_t> Text(size_t size) {
  static const char *const words[] = {"der ", "Dateien ", "werden ", "entpackt", ", ", "Archiv ",
                                      "the ", "extractor ", "window\r\n", "Ordner ", "ZIP ", "und "};
  std::mt19937 random(7);
  std::string text;
  while (text.size() < size) text += words[random() % 4 == 0 ? random() % 12 : random() % 3];
  text.resize(size);
  return Bytes(text);
}

TEST(StageRoundTrip, SizesAroundTheWindow) {
  for (size_t size : {0u, 1u, 2u, 3u, 259u, 8191u, 8192u, 8193u, 16384u, 16385u}) {
    ExpectRoundTrip(Random(size, (uint32_t)size), "random " + std::to_string(size));
    ExpectRoundTrip(std::vector<uint8_t>(size, 0), "zeros " + std::to_string(size));
    ExpectRoundTrip(std::vector<uint8_t>(size, 0xE8), "ones " + std::to_string(size));
    ExpectRoundTrip(Text(size), "text " + std::to_string(size));
  }
}

TEST(StageRoundTrip, ContentKinds) {
  ExpectRoundTrip(Random(100000, 5), "random 100000");
  ExpectRoundTrip(Text(200000), "text 200000");
  // Period just above each distance limit: lengths change at D 257 and 8192.
  for (size_t period : {255u, 256u, 257u, 8191u, 8192u, 8193u}) {
    std::vector<uint8_t> data = Random(period, 11);
    while (data.size() < 3 * period + 1000) data.push_back(data[data.size() - period]);
    ExpectRoundTrip(data, "period " + std::to_string(period));
  }
  // Every byte value and every match length.
  std::vector<uint8_t> lengths;
  for (int n = 1; n < 300; n++) {
    for (int k = 0; k < n; k++) lengths.push_back((uint8_t)n);
    lengths.push_back((uint8_t)(255 - n));
  }
  ExpectRoundTrip(lengths, "all lengths");
}

TEST(StageRoundTrip, ExtremeEncoderSettingsStillDecode) {
  std::vector<uint8_t> data = Text(30000);
  std::vector<uint8_t> tail = Random(5000, 3);
  data.insert(data.end(), tail.begin(), tail.end());
  StageEncodeOptions tiny = {1, 2, 1, 0, 1};      // one candidate, every match forced, one-byte blocks
  StageEncodeOptions wide = {4096, 260, 65536, 1, 3};
  ExpectRoundTrip(data, "tiny settings", &tiny);
  ExpectRoundTrip(data, "wide settings", &wide);
}

TEST(StageRoundTrip, ExecutablesOfThisMachine) {
  // Windows PE files (Wine's, MinGW's) and Linux ELF files; a handful of
  // moderate size each so the suite stays quick.
  const char *const candidates[] = {
      "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe",
      "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/xcopy.exe",
      "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/riched32.dll",
      "/usr/lib/x86_64-linux-gnu/wine/i386-windows/notepad.exe",
      "/usr/x86_64-w64-mingw32/lib/zlib1.dll",
      "/usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll",
      "/usr/bin/ls",
      "/usr/bin/gzip",
  };
  int tried = 0;
  for (const char *path : candidates) {
    std::vector<uint8_t> data = ReadFile(path);
    if (data.empty() || data.size() > 360000) continue;
    ExpectRoundTrip(data, path);
    tried++;
  }
  EXPECT_GE(tried, 2) << "no executables found to pack";
}

TEST(StageRoundTrip, StageFollowedByArchiveBytes) {
  // In an SFX file the archive follows the stream; the decoder must stop at
  // the stream's last byte whatever comes after it.
  std::vector<uint8_t> data = Text(12345);
  std::vector<uint8_t> stage = Pack(data);
  size_t streamEnd = stage.size();
  for (uint8_t b : Bytes("PK\x03\x04 rest of the archive")) stage.push_back(b);
  FastRun run = DecodeFast(stage);
  EXPECT_EQ(run.result.status, STAGE_OK);
  EXPECT_TRUE(run.output == data);
  EXPECT_EQ(run.result.consumed, (int64_t)streamEnd);
}

TEST(StageRoundTrip, ZeroPrefixAndRepetitionCompress) {
  // A header full of zeros reuses the zeroed window; repetition must shrink.
  std::vector<uint8_t> zeros(4096, 0);
  EXPECT_LT(Pack(zeros).size(), 40u);
  std::vector<uint8_t> text = Text(100000);
  EXPECT_LT(Pack(text).size(), text.size() / 3);
  std::vector<uint8_t> noise = Random(50000, 9);
  EXPECT_LT(Pack(noise).size(), noise.size() + noise.size() / 8) << "incompressible data may grow only a little";
}

TEST(StageRoundTrip, AppendsAfterExistingBytes) {
  // Images of 30000 bytes or more are encoded twice and the smaller stage is
  // kept; whichever wins, the bytes already in the output must stay and the
  // stage after them must be the one an empty output receives.
  std::vector<std::vector<uint8_t>> images = {Text(60000)};
  std::vector<uint8_t> executable = ReadFile("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe");
  if (!executable.empty()) images.push_back(executable);
  for (const std::vector<uint8_t> &image : images) {
    std::vector<uint8_t> alone = Pack(image);
    const std::vector<uint8_t> prefix = Bytes("SFX stub bytes");
    std::vector<uint8_t> appended = prefix;
    ASSERT_TRUE(EncodeStage(image.data(), image.size(), nullptr, &appended));
    ASSERT_EQ(appended.size(), prefix.size() + alone.size());
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), appended.begin()));
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), appended.begin() + (ptrdiff_t)prefix.size()));
  }
}

// ---------------------------------------------------------------------------
// ostrel pack / unpack

class PackCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::string(OSTREL_BINARY_DIR) + "/tests/packed_cli_" + std::to_string(getpid());
    mkdir(folder.c_str(), 0755);
    struct stat info;
    ASSERT_EQ(stat((std::string(OSTREL_BINARY_DIR) + "/builder/ostrel").c_str(), &info), 0)
        << "build the ostrel target before test_packed";
  }
  void TearDown() override { system(("rm -rf '" + folder + "'").c_str()); }
  int Run(const std::string &args) {
    std::string command = OSTREL_EMULATOR + std::string(OSTREL_BINARY_DIR) + "/builder/ostrel " + args + " >'" + folder +
                          "/out.txt' 2>&1";
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Path(const char *name) { return folder + "/" + name; }
  void Write(const char *name, const std::vector<uint8_t> &data) {
    std::ofstream(Path(name), std::ios::binary).write((const char *)data.data(), (std::streamsize)data.size());
  }
  std::string folder;
};

TEST_F(PackCommand, PackAndUnpackRoundTrip) {
  std::vector<uint8_t> data = Text(50000);
  Write("in.bin", data);
  ASSERT_EQ(Run("pack " + Path("in.bin") + " " + Path("stage.bin")), 0);
  std::vector<uint8_t> stage = ReadFile(Path("stage.bin"));
  ASSERT_GE(stage.size(), 4u);
  EXPECT_EQ(stage[0] | stage[1] << 8 | stage[2] << 16 | stage[3] << 24, 50000);
  EXPECT_TRUE(ReferenceDecode(stage).output == data);
  ASSERT_EQ(Run("unpack " + Path("stage.bin") + " " + Path("back.bin")), 0);
  EXPECT_TRUE(ReadFile(Path("back.bin")) == data);
}

TEST_F(PackCommand, UnpackWritesExactlyTheHeaderLength) {
  TestBits bits(3);  // "A" then a run of 10: 11 bytes decoded, 3 declared
  bits.Path("1").Put('A', 9).Path("00").Put(264, 9).Path("1").Put(0, 4);
  Write("long.bin", bits.bytes);
  ASSERT_EQ(Run("unpack " + Path("long.bin") + " " + Path("three.bin")), 0);
  EXPECT_TRUE(ReadFile(Path("three.bin")) == Bytes("AAA"));
}

TEST_F(PackCommand, FailuresAndUsageGiveTheirExitCodes) {
  TestBits corrupt(5);
  corrupt.Path("1").Put('A', 9).Path("00").Put('A', 9);
  Write("corrupt.bin", corrupt.bytes);
  Write("short.bin", {0x40, 0, 0, 0, 0x12});
  EXPECT_EQ(Run("pack " + Path("missing") + " " + Path("x")), 1);
  EXPECT_EQ(Run("unpack " + Path("missing") + " " + Path("x")), 1);
  EXPECT_EQ(Run("unpack " + Path("corrupt.bin") + " " + Path("x")), 1);
  EXPECT_EQ(Run("unpack " + Path("short.bin") + " " + Path("x")), 1);
  struct stat info;
  EXPECT_NE(stat(Path("x").c_str(), &info), 0) << "a refused stage must not leave an output file";
  EXPECT_EQ(Run("pack " + Path("corrupt.bin") + " " + folder + "/no/such/folder/out"), 1);
  EXPECT_EQ(Run("pack"), 2);
  EXPECT_EQ(Run("pack " + Path("corrupt.bin")), 2);
  EXPECT_EQ(Run("unpack a b c"), 2);
  EXPECT_EQ(Run("unpack --fast a b"), 2);
  EXPECT_EQ(Run("pack --help"), 0);
  EXPECT_EQ(Run("unpack --help"), 0);
  std::vector<uint8_t> help = ReadFile(Path("out.txt"));
  EXPECT_NE(std::string(help.begin(), help.end()).find("usage: ostrel unpack IN OUT"), std::string::npos);
}

}  // namespace
