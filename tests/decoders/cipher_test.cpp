// Traditional decryption against archives made by Info-ZIP zip -P and by
// 7-Zip (tests/decoders/data, made by make_archives.sh), with a scripted
// password prompt. The archives are walked here by hand (central directory
// for sizes, since Info-ZIP puts them in data descriptors), and each entry
// runs as the driver runs it: ObtainPassword on the data file standing at
// the encryption header, then the decoder or the stored copy.
#include <string.h>

#include <gtest/gtest.h>

#include "extractor/decoders/cipher.h"
#include "extractor/zip/archive_reader.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"
#include "extractor/zip/zip_format.h"
#include "tests/decoders/decoder_fixture.h"

namespace {

const std::string kData = std::string(OSTREL_SOURCE_DIR) + "/tests/decoders/data/";

struct ArchiveEntry {
  std::string name;
  uint16_t localFlags;
  uint16_t localTime;   // DOS time: its high byte is the check byte of bit-3 entries
  uint16_t method;
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  uint32_t dataOffset;  // first byte after the local header (the encryption header)
};

uint16_t Get16(const Bytes &b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }
uint32_t Get32(const Bytes &b, size_t at) { return Get16(b, at) | (uint32_t)Get16(b, at + 2) << 16; }

// Format notes: the end record is the last "PK\5\6" (these archives have no
// comment); central records give sizes and CRC even when bit 3 moved them
// out of the local header.
std::vector<ArchiveEntry> ListArchive(const Bytes &zip) {
  std::vector<ArchiveEntry> entries;
  size_t end = zip.size() - ZIP_END_SIZE;
  EXPECT_EQ(Get32(zip, end), (uint32_t)ZIP_SIG_END);
  size_t at = Get32(zip, end + 16);
  while (Get32(zip, at) == ZIP_SIG_CENTRAL) {
    ArchiveEntry e;
    e.method = Get16(zip, at + 10);
    e.crc = Get32(zip, at + 16);
    e.compressedSize = Get32(zip, at + 20);
    e.uncompressedSize = Get32(zip, at + 24);
    uint16_t nameLength = Get16(zip, at + 28);
    e.name.assign((const char *)&zip[at + 46], nameLength);
    uint32_t local = Get32(zip, at + 42);
    EXPECT_EQ(Get32(zip, local), (uint32_t)ZIP_SIG_LOCAL);
    e.localFlags = Get16(zip, local + 6);
    e.localTime = Get16(zip, local + 10);
    e.dataOffset = local + ZIP_LOCAL_SIZE + Get16(zip, local + 26) + Get16(zip, local + 28);
    entries.push_back(e);
    at += ZIP_CENTRAL_SIZE + nameLength + Get16(zip, at + 30) + Get16(zip, at + 32);
  }
  return entries;
}

// The scripted prompt: each reply is a password, or null for giving up.
std::vector<const char *> replies;
size_t nextReply;
std::vector<std::string> promptedNames;

int ScriptedAskPassword(int reserved, char *buffer, const char *entryName) {
  EXPECT_EQ(reserved, 0);
  EXPECT_EQ(buffer, extraction.password);
  promptedNames.push_back(entryName);
  if (nextReply >= replies.size() || !replies[nextReply]) return 0;
  strcpy(buffer, replies[nextReply++]);
  return 1;
}

struct ArchiveRun {
  int entriesDone = 0;       // entries whose password step passed
  int32_t errorCode = 0;     // code after the last entry run
  std::vector<Bytes> outputs;
  std::vector<bool> crcMatches;
};

// Runs every entry of an archive as the driver would, stopping at the first
// recorded code (9961 standing for what ReadNextEntry records when the
// password step answers 0).
// timeCheck: test bit-3 entries against the high byte of their DOS time
// (what Info-ZIP writes there) instead of skipping the test.
ArchiveRun ExtractAll(const std::string &archive, std::vector<const char *> script, bool timeCheck = false) {
  replies = script;
  nextReply = 0;
  promptedNames.clear();
  memset(extraction.password, 0, sizeof extraction.password);
  callbacks.askPassword = ScriptedAskPassword;
  Bytes zip = ReadWholeFile(kData + archive);
  EXPECT_FALSE(zip.empty()) << archive;
  ArchiveRun run;
  TempFolder folder;
  extraction.dataFile = FileOpen((kData + archive).c_str(), "rb");
  EXPECT_NE(extraction.dataFile, FILE_INVALID);
  for (const ArchiveEntry &e : ListArchive(zip)) {
    extraction.errorCode = 0;
    FileSeek(extraction.dataFile, (int32_t)e.dataOffset, FILE_SEEK_BEGIN);
    storage.entry->central.crc32 = e.crc;
    extraction.encrypted = e.localFlags & ZIP_FLAG_ENCRYPTED ? 1 : 0;
    EXPECT_EQ(extraction.encrypted, 1) << archive << " " << e.name;
    extraction.checkValue = e.localFlags & ZIP_FLAG_DESCRIPTOR ? (timeCheck ? (uint32_t)e.localTime << 16 : 0) : e.crc;
    if (!ObtainPassword(e.name.c_str())) {
      if (extraction.errorCode == 0) extraction.errorCode = ERR_PASSWORD;
      break;
    }
    EXPECT_EQ(FileSeek(extraction.dataFile, 0, FILE_SEEK_CURRENT), (int32_t)e.dataOffset + ZIP_CRYPT_HEADER_SIZE)
        << "the header is read once, whatever the number of prompts";
    run.entriesDone++;
    transfer.crc = 0xFFFFFFFFu;
    transfer.inputLeft = (int32_t)e.compressedSize - ZIP_CRYPT_HEADER_SIZE;
    transfer.bytesDone = 0;
    transfer.bytesTotal = (int32_t)e.uncompressedSize;
    extraction.outputFile = FileOpen(folder.Path("out").c_str(), "wb");
    ResetEntryInput();
    if (e.method == ZIP_METHOD_DEFLATE) {
      DecodeDeflateEntry();
      ReleaseFixedTables();
    } else {
      CopyStoredEntry();
    }
    FileClose(extraction.outputFile);
    run.outputs.push_back(ReadWholeFile(folder.Path("out")));
    run.crcMatches.push_back(CheckEntryCrc() == 1);
    if (extraction.errorCode != 0) break;
  }
  run.errorCode = extraction.errorCode;
  FileClose(extraction.dataFile);
  callbacks.askPassword = nullptr;
  return run;
}

std::vector<Bytes> Originals(const std::vector<std::string> &names) {
  std::vector<Bytes> out;
  for (const std::string &n : names) out.push_back(ReadWholeFile(kData + n));
  return out;
}

TEST(Cipher, KeyScheduleAndKeystreamFollowTheAppnote) {
  WorkingStorageScope scope;
  // Encrypting is decrypting's mirror: plain ^ keystream, keys updated with
  // the plain byte. A round trip through our DecryptBuffer restores it.
  const char *text = "Prüfsumme und Paßwort";
  Bytes plain(text, text + strlen(text)), cipher = plain;
  InitCipherKeys("schlüssel");
  for (uint8_t &b : cipher) {
    uint8_t p = b;
    b ^= KeystreamByte();
    UpdateCipherKeys(p);
  }
  EXPECT_NE(cipher, plain);
  InitCipherKeys("schlüssel");
  DecryptBuffer(cipher.data(), (int32_t)cipher.size());
  EXPECT_EQ(cipher, plain);
  // The header check: last decrypted byte against the CRC's high byte.
  uint8_t header[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xA7};
  InitCipherKeys("pw");
  uint8_t encrypted[12];
  for (int i = 0; i < 12; i++) {
    encrypted[i] = header[i] ^ KeystreamByte();
    UpdateCipherKeys(header[i]);
  }
  uint8_t stored[12];
  memcpy(stored, encrypted, sizeof stored);
  strcpy(extraction.password, "pw");
  extraction.checkValue = 0xA7123456u;
  EXPECT_EQ(CheckEncryptionHeader(encrypted), 1);
  extraction.checkValue = 0xA6123456u;
  EXPECT_EQ(CheckEncryptionHeader(encrypted), 0);
  extraction.checkValue = 0;
  strcpy(extraction.password, "anything");
  EXPECT_EQ(CheckEncryptionHeader(encrypted), 1) << "check value 0: every password passes";
  EXPECT_EQ(memcmp(stored, encrypted, sizeof stored), 0) << "the stored header is not changed";
}

TEST(Cipher, SevenZipArchiveWithOneSharedPasswordPromptsOnce) {
  WorkingStorageScope scope;
  // 7-Zip writes sizes and CRC into the local header (no bit 3), so its
  // headers are tested against the CRC's high byte.
  for (const char *archive : {"7z_shared.zip", "7z_two.zip"})
    for (const ArchiveEntry &e : ListArchive(ReadWholeFile(kData + archive)))
      EXPECT_FALSE(e.localFlags & ZIP_FLAG_DESCRIPTOR) << archive << " " << e.name;
  ArchiveRun run = ExtractAll("7z_shared.zip", {"Geheim7"});
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_EQ(promptedNames.size(), 1u);
  EXPECT_EQ(run.outputs, Originals({"noise.bin", "small.txt", "text.txt"}));  // stored, stored, deflated
  EXPECT_EQ(run.crcMatches, (std::vector<bool>{true, true, true}));
}

TEST(Cipher, SevenZipArchiveWithTwoPasswordsPromptsAgainForTheSecond) {
  WorkingStorageScope scope;
  ArchiveRun run = ExtractAll("7z_two.zip", {"Zwei7", "Eins7"});
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_EQ(promptedNames, (std::vector<std::string>{"noise.bin", "text.txt"}));
  EXPECT_EQ(run.outputs, Originals({"noise.bin", "small.txt", "text.txt"}));
  // Wrong, then empty twice (asked again without a test), then right.
  run = ExtractAll("7z_two.zip", {"falsch", "", "", "Zwei7", "Eins7"});
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_EQ(promptedNames.size(), 5u);
  EXPECT_EQ(run.outputs, Originals({"noise.bin", "small.txt", "text.txt"}));
  // An empty confirmation at the first prompt is tested (and fails).
  run = ExtractAll("7z_two.zip", {"", "Zwei7", "Eins7"});
  EXPECT_EQ(promptedNames.size(), 3u);
  EXPECT_EQ(run.errorCode, 0);
}

TEST(Cipher, GivingUpOrNoPromptEndsWith9961) {
  WorkingStorageScope scope;
  ArchiveRun run = ExtractAll("7z_two.zip", {nullptr});
  EXPECT_EQ(run.errorCode, ERR_PASSWORD);
  EXPECT_EQ(run.entriesDone, 0);
  run = ExtractAll("7z_two.zip", {"Zwei7", nullptr});  // gives up at the second password
  EXPECT_EQ(run.errorCode, ERR_PASSWORD);
  EXPECT_EQ(run.entriesDone, 2);
  replies.clear();
  callbacks.askPassword = nullptr;
  EXPECT_EQ(ObtainPassword("x"), 0) << "an empty slot counts as giving up";
}

// Info-ZIP sets bit 3 on encrypted entries (files and pipe input alike):
// check value 0, every password passes the header; the right one decodes.
TEST(Cipher, InfoZipArchivesWithDataDescriptors) {
  WorkingStorageScope scope;
  for (const char *archive : {"zip_shared.zip", "zip_two.zip"})
    for (const ArchiveEntry &e : ListArchive(ReadWholeFile(kData + archive)))
      EXPECT_TRUE(e.localFlags & ZIP_FLAG_DESCRIPTOR) << archive << " " << e.name;
  ArchiveRun run = ExtractAll("zip_shared.zip", {"geheim"});
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_EQ(promptedNames.size(), 1u);
  EXPECT_EQ(run.outputs, Originals({"text.txt", "noise.bin", "small.txt"}));
  EXPECT_EQ(run.crcMatches, (std::vector<bool>{true, true, true}));

  run = ExtractAll("zip_stream.zip", {"geheim"});  // zip -P geheim - < text.txt
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_EQ(run.outputs, Originals({"text.txt"}));

  // The second password is never asked for: the stored one passes the
  // untestable header, and the entry decrypts to garbage: corrupt data.
  run = ExtractAll("zip_two.zip", {"eins", "zwei"});
  EXPECT_EQ(promptedNames.size(), 1u);
  // Stored entries copy the garbage; only the CRC check can tell.
  ASSERT_EQ(run.outputs.size(), 3u);
  EXPECT_EQ(run.outputs[0], Originals({"text.txt"})[0]);
  EXPECT_EQ(run.crcMatches, (std::vector<bool>{true, false, false}));

  run = ExtractAll("zip_shared.zip", {"falsch"});  // deflated first entry: the decoder refuses the garbage
  EXPECT_EQ(run.errorCode, ERR_INVALID_DATA);

  // With the DOS time's high byte as check value, Info-ZIP headers are
  // testable: the second password is asked for, and everything decodes.
  run = ExtractAll("zip_two.zip", {"eins", "zwei"}, true);
  EXPECT_EQ(run.errorCode, 0);
  EXPECT_EQ(promptedNames, (std::vector<std::string>{"text.txt", "small.txt"}));
  EXPECT_EQ(run.outputs, Originals({"text.txt", "small.txt", "noise.bin"}));
  EXPECT_EQ(run.crcMatches, (std::vector<bool>{true, true, true}));
}

TEST(Cipher, HeaderCutShortEndsWithReadFailure) {
  WorkingStorageScope scope;
  TempFolder folder;
  WriteWholeFile(folder.Path("short"), Bytes{1, 2, 3, 4, 5});
  extraction.dataFile = FileOpen(folder.Path("short").c_str(), "rb");
  strcpy(extraction.password, "pw");
  callbacks.askPassword = ScriptedAskPassword;
  replies = {"pw"};
  nextReply = 0;
  promptedNames.clear();
  extraction.errorCode = 0;
  EXPECT_EQ(ObtainPassword("a/b.txt"), 0);
  EXPECT_EQ(extraction.errorCode, ERR_ACCESS);
  EXPECT_TRUE(promptedNames.empty()) << "a known password is tried without a prompt";
  FileClose(extraction.dataFile);
  callbacks.askPassword = nullptr;
}

TEST(Cipher, PromptShowsTheNameWithBackslashesAndKeepsThePasswordTerminated) {
  WorkingStorageScope scope;
  TempFolder folder;
  WriteWholeFile(folder.Path("hdr"), Bytes(12, 0x55));
  extraction.dataFile = FileOpen(folder.Path("hdr").c_str(), "rb");
  memset(extraction.password, 0, sizeof extraction.password);
  extraction.checkValue = 0;
  callbacks.askPassword = [](int, char *buffer, const char *name) -> int {
    promptedNames.push_back(name);
    memset(buffer, 'x', PASSWORD_BUFFER);  // a callback that forgets the terminator
    return 1;
  };
  promptedNames.clear();
  EXPECT_EQ(ObtainPassword("ordner/datei.txt"), 1);
  EXPECT_EQ(promptedNames, (std::vector<std::string>{"ordner\\datei.txt"}));
  EXPECT_EQ(strlen(extraction.password), (size_t)PASSWORD_BUFFER - 2);
  FileClose(extraction.dataFile);
  callbacks.askPassword = nullptr;
}

}  // namespace
