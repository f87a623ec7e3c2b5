// CRC-32 of ZIP. storage.crcTable is the classic one-byte table (the cipher
// reads it too); UpdateCrc runs sixteen bytes per step over fifteen further
// tables derived from it ("slicing by 16"), which gives the same register
// as the byte loop at several times its speed.
#include "extractor/decoders/crc.h"

#include <string.h>

#include "extractor/zip/state.h"

enum { CRC_POLYNOMIAL = 0xEDB88320u, CRC_SLICES = 16 };

// sliceTable[s][n]: the register change of byte n followed by s zero bytes.
// Built by BuildCrcTable from storage.crcTable; sliceReady says it is.
static uint32_t sliceTable[CRC_SLICES][CRC_TABLE_ENTRIES];
static int sliceReady;

void BuildCrcTable(void) {
  uint32_t *table = storage.crcTable;
  for (uint32_t n = 0; n < CRC_TABLE_ENTRIES; n++) {
    uint32_t c = n;
    for (int step = 0; step < 8; step++) c = (c & 1) ? (c >> 1) ^ CRC_POLYNOMIAL : c >> 1;
    table[n] = c;
    sliceTable[0][n] = c;
  }
  for (uint32_t n = 0; n < CRC_TABLE_ENTRIES; n++)
    for (uint32_t s = 1; s < CRC_SLICES; s++)
      sliceTable[s][n] = (sliceTable[s - 1][n] >> 8) ^ sliceTable[0][sliceTable[s - 1][n] & 0xFF];
  sliceReady = 1;
}

uint32_t UpdateCrc(uint32_t crc, const uint8_t *buffer, int32_t length) {
  if (length <= 0) return crc;
  const uint32_t *table = storage.crcTable;
  const uint8_t *p = buffer;
  const uint8_t *end = buffer + length;
  if (sliceReady) {
    while (end - p >= 16) {
      // Two little-endian words (x86, as the ZIP records assume); byte i
      // of the sixteen is followed by 15 - i others, hence its table.
      uint64_t low, high;
      memcpy(&low, p, 8);
      memcpy(&high, p + 8, 8);
      low ^= crc;
      crc = sliceTable[15][low & 0xFF] ^ sliceTable[14][(low >> 8) & 0xFF] ^ sliceTable[13][(low >> 16) & 0xFF] ^
            sliceTable[12][(low >> 24) & 0xFF] ^ sliceTable[11][(low >> 32) & 0xFF] ^
            sliceTable[10][(low >> 40) & 0xFF] ^ sliceTable[9][(low >> 48) & 0xFF] ^ sliceTable[8][low >> 56] ^
            sliceTable[7][high & 0xFF] ^ sliceTable[6][(high >> 8) & 0xFF] ^ sliceTable[5][(high >> 16) & 0xFF] ^
            sliceTable[4][(high >> 24) & 0xFF] ^ sliceTable[3][(high >> 32) & 0xFF] ^
            sliceTable[2][(high >> 40) & 0xFF] ^ sliceTable[1][(high >> 48) & 0xFF] ^ sliceTable[0][high >> 56];
      p += 16;
    }
  }
  while (p < end) crc = table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}
