// ostrel pack / ostrel unpack: turn a file into a packed stage (4-byte
// header plus bit stream, as it sits at offset 8192 of an SFX file) and back.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "builder/commands.h"
#include "packed/stage_decoder.h"
#include "packed/stage_encoder.h"
#include "packed/stage_memory.h"

static const char PACK_USAGE[] =
    "usage: ostrel pack IN OUT\n"
    "\n"
    "Packs the file IN into the packed-stage format and writes OUT: the\n"
    "4-byte unpacked length followed by the bit stream.\n";

static const char UNPACK_USAGE[] =
    "usage: ostrel unpack IN OUT\n"
    "\n"
    "Unpacks the packed stage IN (4-byte length, then the bit stream; bytes\n"
    "after the stream are ignored) and writes exactly the length the header\n"
    "gives to OUT. A truncated or damaged stage is refused; OUT is not written.\n";

// Checks the arguments shared by both commands: --help, or exactly IN OUT.
// Returns -1 when the command should go on, otherwise the exit code.
static int CheckUsage(int argc, char **argv, const char *usage) {
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      fputs(usage, stdout);
      return EXIT_OK;
    }
  }
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '-' && argv[i][1] != '\0') {
      fprintf(stderr, "ostrel %s: unknown option '%s'\n\n%s", argv[0], argv[i], usage);
      return EXIT_USAGE;
    }
  }
  if (argc != 3) {
    fprintf(stderr, "ostrel %s: expected IN and OUT\n\n%s", argv[0], usage);
    return EXIT_USAGE;
  }
  return -1;
}

static int ReadWholeFile(const char *command, const char *path, std::vector<uint8_t> *data) {
  FILE *file = fopen(path, "rb");
  if (!file) {
    fprintf(stderr, "ostrel %s: cannot open '%s': %s\n", command, path, strerror(errno));
    return 0;
  }
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) data->insert(data->end(), chunk, chunk + got);
  int failed = ferror(file);
  fclose(file);
  if (failed) fprintf(stderr, "ostrel %s: cannot read '%s'\n", command, path);
  return !failed;
}

static int WriteWholeFile(const char *command, const char *path, const uint8_t *data, size_t size) {
  FILE *file = fopen(path, "wb");
  if (!file) {
    fprintf(stderr, "ostrel %s: cannot create '%s': %s\n", command, path, strerror(errno));
    return 0;
  }
  int ok = (size == 0 || fwrite(data, 1, size, file) == size);
  if (fclose(file) != 0) ok = 0;
  if (!ok) {
    fprintf(stderr, "ostrel %s: cannot write '%s'\n", command, path);
    remove(path);
  }
  return ok;
}

int RunPack(int argc, char **argv) {
  int usage = CheckUsage(argc, argv, PACK_USAGE);
  if (usage >= 0) return usage;
  std::vector<uint8_t> data;
  if (!ReadWholeFile("pack", argv[1], &data)) return EXIT_FAILED;
  std::vector<uint8_t> stage;
  if (!EncodeStage(data.data(), data.size(), nullptr, &stage)) {
    fprintf(stderr, "ostrel pack: '%s' cannot be packed: larger than 2 GiB - 8 KiB, or out of memory\n", argv[1]);
    return EXIT_FAILED;
  }
  if (!WriteWholeFile("pack", argv[2], stage.data(), stage.size())) return EXIT_FAILED;
  printf("%s: %zu -> %zu bytes\n", argv[2], data.size(), stage.size());
  return EXIT_OK;
}

namespace {

const char *DescribeStatus(StageStatus status) {
  switch (status) {
    case STAGE_OK: return "complete";
    case STAGE_TRUNCATED: return "the stage ends before the image is complete";
    case STAGE_CORRUPT: return "the stage is damaged (it inserts a symbol twice)";
    case STAGE_WRITE_FAILED: return "the output could not be stored";
    case STAGE_NO_MODELS: return "out of memory for the models";
  }
  return "unknown failure";
}

}  // namespace

int RunUnpack(int argc, char **argv) {
  int usage = CheckUsage(argc, argv, UNPACK_USAGE);
  if (usage >= 0) return usage;
  std::vector<uint8_t> input;
  if (!ReadWholeFile("unpack", argv[1], &input)) return EXIT_FAILED;
  std::vector<uint8_t> image;
  StageResult result;
  if (!DecodeStageInMemory(input.data(), input.size(), &image, &result)) {
    fprintf(stderr, "ostrel unpack: '%s' refused after %lld of %ld bytes: %s\n", argv[1],
            (long long)result.produced, (long)result.declared, DescribeStatus(result.status));
    return EXIT_FAILED;
  }
  // A final match may run past the header's length; the image is the header's length.
  size_t size = result.declared > 0 ? (size_t)result.declared : 0;
  if (image.size() > size) image.resize(size);
  if (!WriteWholeFile("unpack", argv[2], image.data(), image.size())) return EXIT_FAILED;
  printf("%s: %zu bytes (stage of %lld bytes)\n", argv[2], image.size(), (long long)result.consumed);
  return EXIT_OK;
}
