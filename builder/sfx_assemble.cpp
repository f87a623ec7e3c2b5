// SFX assembly: settings block, extractor image, stub + stage prefix, and
// the output file that replaces its target only once complete.
#include "builder/sfx_assemble.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "extractor/zip/codepage.h"
#include "packed/stage_encoder.h"

const uint32_t kSfxTextLimit[SFX_TEXT_COUNT] = {511, 263, 511, 255, 255};
const char *const kSfxTextName[SFX_TEXT_COUNT] = {"intro-text", "intro-caption", "info-text", "run",
                                                  "default-folder"};

void SfxSettingsDefaults(SfxSettings *settings) {
  for (int i = 0; i < SFX_TEXT_COUNT; i++) settings->text[i].clear();
  settings->introStyle = 0;
  settings->overwriteMode = 1;
  settings->silentMode = 1;
}

// Length of the UTF-8 sequence led by byte lead; 0 for a byte that cannot lead.
static int SequenceLength(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

int Utf8ToWindows1252(const std::string &utf8, std::string *ansi, std::string *error) {
  ansi->clear();
  for (size_t at = 0; at < utf8.size();) {
    int length = SequenceLength((uint8_t)utf8[at]);
    if (length == 0 || at + length > utf8.size() || utf8[at] == 0) {
      char message[96];
      snprintf(message, sizeof message, "byte 0x%02X at offset %zu is not valid UTF-8 text",
               (uint8_t)utf8[at], at);
      *error = message;
      return 0;
    }
    // One character at a time through the extractor's own conversion: it
    // must come back unchanged, or Windows-1252 has no form for it.
    std::string one = utf8.substr(at, length);
    char converted[8], back[16];
    memcpy(converted, one.c_str(), one.size() + 1);
    Utf8ToAnsiInPlace(converted);
    if (strlen(converted) != 1 || !AnsiToUtf8(converted, back, sizeof back) || one != back) {
      *error = "'" + one + "' (offset " + std::to_string(at) + ") has no Windows-1252 form";
      return 0;
    }
    ansi->push_back(converted[0]);
    at += length;
  }
  return 1;
}

int SetSettingsText(SfxSettings *settings, SfxText which, const std::string &utf8,
                    std::string *error) {
  std::string ansi, why;
  if (!Utf8ToWindows1252(utf8, &ansi, &why)) {
    *error = std::string("--") + kSfxTextName[which] + ": " + why;
    return 0;
  }
  if (ansi.size() > kSfxTextLimit[which]) {
    *error = std::string("--") + kSfxTextName[which] + ": " + std::to_string(ansi.size()) +
             " bytes in Windows-1252, at most " + std::to_string(kSfxTextLimit[which]) + " fit";
    return 0;
  }
  settings->text[which] = ansi;
  return 1;
}

void BuildExtractorImage(const std::vector<uint8_t> &program, const SfxSettings *settings,
                         std::vector<uint8_t> *image) {
  *image = program;
  for (int i = 0; i < SFX_TEXT_COUNT; i++)
    image->insert(image->end(), settings->text[i].begin(), settings->text[i].end());
  SettingsBlock block;
  memcpy(block.magic, SFX_SETTINGS_MAGIC, SFX_SETTINGS_MAGIC_SIZE);
  block.introTextLength = (uint16_t)settings->text[SFX_TEXT_INTRO].size();
  block.introCaptionLength = (uint16_t)settings->text[SFX_TEXT_CAPTION].size();
  block.infoTextLength = (uint16_t)settings->text[SFX_TEXT_INFO].size();
  block.runFileLength = (uint8_t)settings->text[SFX_TEXT_RUN].size();
  block.defaultFolderLength = (uint8_t)settings->text[SFX_TEXT_FOLDER].size();
  block.introStyle = settings->introStyle;
  block.overwriteMode = settings->overwriteMode;
  block.silentMode = settings->silentMode;
  block.reserved = 0;
  // The block is little-endian on disk, as is every host this tool runs on.
  const uint8_t *bytes = (const uint8_t *)&block;
  image->insert(image->end(), bytes, bytes + sizeof block);
}

int ReadImageSettings(const uint8_t *image, size_t size, SfxSettings *settings,
                      uint16_t *reserved, size_t *programSize) {
  if (size < SFX_SETTINGS_SIZE) return 0;
  SettingsBlock block;
  memcpy(&block, image + size - SFX_SETTINGS_SIZE, sizeof block);
  if (memcmp(block.magic, SFX_SETTINGS_MAGIC, SFX_SETTINGS_MAGIC_SIZE) != 0) return 0;
  size_t lengths[SFX_TEXT_COUNT] = {block.introTextLength, block.introCaptionLength,
                                    block.infoTextLength, block.runFileLength,
                                    block.defaultFolderLength};
  size_t total = 0;
  for (size_t length : lengths) total += length;
  if (total > size - SFX_SETTINGS_SIZE) return 0;
  size_t at = size - SFX_SETTINGS_SIZE - total;
  *programSize = at;
  for (int i = 0; i < SFX_TEXT_COUNT; i++) {
    settings->text[i].assign((const char *)image + at, lengths[i]);
    at += lengths[i];
  }
  settings->introStyle = block.introStyle;
  settings->overwriteMode = block.overwriteMode;
  settings->silentMode = block.silentMode;
  *reserved = block.reserved;
  return 1;
}

int BuildSfxPrefix(const std::vector<uint8_t> &stub, const std::vector<uint8_t> &extractor,
                   const SfxSettings *settings, std::vector<uint8_t> *prefix, std::string *error) {
  if (stub.size() != SFX_STUB_SIZE) {
    *error = "the stub is " + std::to_string(stub.size()) + " bytes; it must be exactly " +
             std::to_string((int)SFX_STUB_SIZE) + ", because it finds the stage at that offset";
    return 0;
  }
  if (extractor.empty()) {
    *error = "the extractor program is empty";
    return 0;
  }
  std::vector<uint8_t> image;
  BuildExtractorImage(extractor, settings, &image);
  *prefix = stub;
  StageEncodeOptions options = StageEncodeDefaults();
  if (!EncodeStage(image.data(), image.size(), &options, prefix)) {
    *error = "the extractor image cannot be packed (too large, or out of memory)";
    return 0;
  }
  return 1;
}

// The temporary file of the build in progress, for DiscardOutputOnSignal.
static char pendingTemp[4096];

int OpenOutputBeside(const std::string &target, SfxOutput *output, std::string *error) {
  output->target = target;
  output->file = nullptr;
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  output->temp = folder + "." + base + ".ostrel-XXXXXX";
  if (output->temp.size() >= sizeof pendingTemp) {
    *error = target + ": the path is too long";
    return 0;
  }
  std::vector<char> name(output->temp.begin(), output->temp.end());
  name.push_back(0);
  int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = "cannot create a file in the folder of " + target + ": " + strerror(errno);
    return 0;
  }
  output->temp = name.data();
  memcpy(pendingTemp, name.data(), name.size());
  output->file = fdopen(fd, "wb");
  if (!output->file) {
    *error = target + ": " + strerror(errno);
    close(fd);
    DiscardOutput(output);
    return 0;
  }
  return 1;
}

int CommitOutput(SfxOutput *output, std::string *error) {
  int ok = fflush(output->file) == 0 && fsync(fileno(output->file)) == 0;
  int saved = errno;
  if (fclose(output->file) != 0 && ok) ok = 0, saved = errno;
  output->file = nullptr;
  mode_t mask = umask(0);  // read back: the file gets what a new program would get
  umask(mask);
  if (ok && chmod(output->temp.c_str(), 0777 & ~mask) != 0) ok = 0, saved = errno;
  if (ok && rename(output->temp.c_str(), output->target.c_str()) != 0) ok = 0, saved = errno;
  if (!ok) {
    *error = output->target + ": " + strerror(saved);
    DiscardOutput(output);
    return 0;
  }
  pendingTemp[0] = 0;
  output->temp.clear();
  return 1;
}

void DiscardOutput(SfxOutput *output) {
  if (output->file) fclose(output->file);
  output->file = nullptr;
  if (!output->temp.empty()) remove(output->temp.c_str());
  output->temp.clear();
  pendingTemp[0] = 0;
}

void DiscardOutputOnSignal(void) {
  if (pendingTemp[0]) unlink(pendingTemp);
}
