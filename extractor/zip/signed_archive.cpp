// The archive bounds of a signed SFX file (see signed_archive.h).
#include "extractor/zip/signed_archive.h"

#include <string.h>

#include "extractor/zip/zip_format.h"

SignedArchive signedArchive;

enum {
  PE_DIRECTORY_CERTIFICATE = 4,
  PE_OPTIONAL_MAGIC_32 = 0x10B,
  PE_OPTIONAL_MAGIC_64 = 0x20B
};

static uint32_t Le16(const uint8_t *p) { return (uint32_t)(p[0] | p[1] << 8); }
static uint32_t Le32(const uint8_t *p) { return Le16(p) | Le16(p + 2) << 16; }

int SignedArchiveParse(const uint8_t *head, uint32_t length, uint32_t *offset, uint32_t *size) {
  *offset = *size = 0;
  if (length < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
  uint32_t pe = Le32(head + 0x3C);
  if (pe > length || length - pe < 24 + 2 || memcmp(head + pe, "PE\0\0", 4) != 0) return 0;
  uint32_t optional = pe + 24;
  uint32_t magic = Le16(head + optional);
  if (magic != PE_OPTIONAL_MAGIC_32 && magic != PE_OPTIONAL_MAGIC_64) return 0;
  // In 64 bits: near a length of 4 GiB the sums would wrap into the head.
  uint64_t countAt = (uint64_t)optional + (magic == PE_OPTIONAL_MAGIC_64 ? 108 : 92);
  uint64_t entryAt = countAt + 4 + 8 * PE_DIRECTORY_CERTIFICATE;
  if (entryAt + 8 > length) return 0;
  if (Le32(head + countAt) <= PE_DIRECTORY_CERTIFICATE) return 1;  // no certificate entry at all
  *offset = Le32(head + entryAt);
  *size = Le32(head + entryAt + 4);
  return 1;
}

int32_t SignedArchiveLimit(FileHandle file, int32_t fileSize) {
  memset(&signedArchive, 0, sizeof signedArchive);
  uint8_t head[SIGNED_HEAD_READ];
  if (FileSeek(file, 0, FILE_SEEK_BEGIN) < 0) return -1;
  int32_t got = FileRead(head, SIGNED_HEAD_READ, file);
  if (got < 0) return -1;
  uint32_t offset, size;
  if (!SignedArchiveParse(head, (uint32_t)got, &offset, &size) || (offset == 0 && size == 0)) return fileSize;
  // The table must be the file's last bytes: that is where signing puts
  // it, and anything behind it would be bytes the builder did not write.
  if (offset > (uint32_t)fileSize || size != (uint32_t)fileSize - offset || size == 0) {
    signedArchive.problem = "the signature's certificate table does not end at the end of the file";
    return -1;
  }
  signedArchive.tableOffset = offset;
  signedArchive.tableSize = size;
  return (int32_t)offset;
}

int SignedArchiveCheckEnd(uint32_t endRecordAt, uint16_t commentLength) {
  if (signedArchive.tableOffset == 0) return 1;
  uint64_t recordEnd = (uint64_t)endRecordAt + ZIP_END_SIZE;
  uint64_t tableEnd = (uint64_t)signedArchive.tableOffset + signedArchive.tableSize;
  if (recordEnd <= signedArchive.tableOffset && recordEnd + commentLength == tableEnd) return 1;
  signedArchive.problem =
      "the archive does not end where the signature's certificate table begins: the table holds bytes "
      "the signature does not cover";
  return 0;
}
