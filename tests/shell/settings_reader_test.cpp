// The extractor's settings reader on image tails built field by field: the
// offsets of the five texts, the default folder, and every check that turns
// a tail away (wrong magic, path length out of range or beyond the file,
// texts that do not fit the file or their buffers, a zero byte in the path).
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "extractor/shell/settings_reader.h"
#include "extractor/shell/shell_state.h"
#include "extractor/zip/error_codes.h"

ShellState shell;
SettingsState settings;

namespace {

struct Tail {
  std::string introText, introCaption, infoText, runFile, defaultFolder;
  std::string path = "C:\\Downloads\\setup.exe";
  std::string magic = SFX_SETTINGS_MAGIC;
  int pathLength = -1;         // -1: the path's own length
  int introLengthExtra = 0;    // added to the stored intro text length
  uint16_t reserved = 0;
};

void Put16(std::string *out, uint32_t value) {
  out->push_back((char)(value & 0xFF));
  out->push_back((char)(value >> 8));
}

// [program][texts][SettingsBlock][path][L]
std::string Image(const Tail &tail) {
  std::string out(64, 'P');
  out += tail.introText + tail.introCaption + tail.infoText + tail.runFile + tail.defaultFolder;
  out += tail.magic;
  Put16(&out, (uint32_t)(tail.introText.size() + tail.introLengthExtra));
  Put16(&out, (uint32_t)tail.introCaption.size());
  Put16(&out, (uint32_t)tail.infoText.size());
  out.push_back((char)tail.runFile.size());
  out.push_back((char)tail.defaultFolder.size());
  Put16(&out, 2);  // intro style
  Put16(&out, 1);  // overwrite mode
  Put16(&out, 0);  // silent mode
  Put16(&out, tail.reserved);
  out += tail.path;
  Put16(&out, (uint32_t)(tail.pathLength < 0 ? (int)tail.path.size() : tail.pathLength));
  return out;
}

int Read(const std::string &image) {
  std::string file = std::string(OSTREL_BINARY_DIR) + "/settings_reader_test.bin";
  FILE *out = fopen(file.c_str(), "wb");
  fwrite(image.data(), 1, image.size(), out);
  fclose(out);
  memset(&shell, 0, sizeof shell);
  extraction.errorCode = 0;
  std::string core = file;
  for (char &c : core) c = c == '/' ? '\\' : c;  // the file layer's paths use backslashes
  strcpy(shell.sfxPath, core.c_str());
  int result = ReadSettings();
  remove(file.c_str());
  return result;
}

TEST(SettingsReader, TextsPathAndDefaultFolder) {
  Tail tail;
  tail.introText = "Hallo";
  tail.infoText = "Inf";
  ASSERT_EQ(SETTINGS_OK, Read(Image(tail)));
  EXPECT_STREQ("Hallo", settings.introText);
  EXPECT_STREQ("", settings.introCaption);
  EXPECT_STREQ("Inf", settings.infoText);
  EXPECT_STREQ("C:\\Downloads\\", settings.defaultFolder);  // the SFX file's folder
  EXPECT_STREQ("C:\\Downloads\\setup.exe", shell.sfxPath);
  EXPECT_EQ(2, (int)settings.block.introStyle);
  EXPECT_EQ(1, (int)settings.block.overwriteMode);

  Tail all;
  all.introCaption = std::string(INTRO_CAPTION_MAX, 'c');  // the longest caption fits
  all.runFile = "Programme\\start.exe";
  all.defaultFolder = "D:\\Gr\xF6\xDF" "e \x80";  // Windows-1252 as stored

  all.reserved = 0xBEEF;  // never read
  ASSERT_EQ(SETTINGS_OK, Read(Image(all)));
  EXPECT_EQ(all.introCaption, settings.introCaption);
  EXPECT_STREQ("Programme\\start.exe", settings.runFile);
  EXPECT_STREQ("D:\\Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC", settings.defaultFolder);  // a core path: UTF-8
}

struct RefusedRow {
  const char *label;
  void (*change)(Tail *tail);
};

const RefusedRow kRefused[] = {
    {"other magic", [](Tail *t) { t->magic = "ZVTKX"; }},
    {"path length 0", [](Tail *t) { t->pathLength = 0; }},
    {"path longer than the trailer takes", [](Tail *t) { t->path = std::string(SFX_PATH_MAX + 1, 'p'); }},
    {"path length beyond the file", [](Tail *t) { t->pathLength = 4000; }},
    {"zero byte in the path", [](Tail *t) { t->path = std::string("C:\\a\0b.exe", 10); }},
    {"texts longer than what precedes the block", [](Tail *t) { t->introLengthExtra = 60000; }},
    {"caption over 263 bytes", [](Tail *t) { t->introCaption = std::string(INTRO_CAPTION_MAX + 1, 'c'); }},
    {"intro text over 511 bytes", [](Tail *t) { t->introText = std::string(SETTINGS_TEXT_MAX + 1, 'i'); }},
};

TEST(SettingsReader, RefusedTailsLeaveZeroSettings) {
  for (const RefusedRow &row : kRefused) {
    Tail tail;
    tail.introText = "Hallo";
    row.change(&tail);
    EXPECT_EQ(SETTINGS_NO_TAIL, Read(Image(tail))) << row.label;
    EXPECT_STREQ("", settings.introText) << row.label;
    EXPECT_EQ(0, (int)settings.block.overwriteMode) << row.label;
  }
  // An image cut right behind its program: too short for any tail.
  EXPECT_EQ(SETTINGS_NO_TAIL, Read(std::string(10, 'P')));
}

TEST(SettingsReader, MissingImageRecordsCode5) {
  memset(&shell, 0, sizeof shell);
  strcpy(shell.sfxPath, "\\nonexistent\\ostrel-extractor.tmp");
  EXPECT_EQ(SETTINGS_NO_FILE, ReadSettings());
  EXPECT_EQ(ERR_ACCESS, extraction.errorCode);
}

}  // namespace
