// Traditional PKWARE encryption (APPNOTE 6.1). Three 32-bit keys, set from
// the password at every header test and carried on over the whole entry;
// one set for the process, since one entry is decrypted at a time.
#include "extractor/decoders/cipher.h"

#include <string.h>

#include "extractor/zip/state.h"
#include "extractor/zip/zip_format.h"

static uint32_t cipherKeys[3];  // key 0 and 2 are CRC registers, key 1 a linear congruence

void InitCipherKeys(const char *password) {
  cipherKeys[0] = 0x12345678u;
  cipherKeys[1] = 0x23456789u;
  cipherKeys[2] = 0x34567890u;
  // Bytes as typed, no code-page conversion, up to the terminator.
  for (const uint8_t *p = (const uint8_t *)password; *p; p++) UpdateCipherKeys(*p);
}

void UpdateCipherKeys(uint8_t plain) {
  const uint32_t *table = storage.crcTable;
  cipherKeys[0] = table[(cipherKeys[0] ^ plain) & 0xFF] ^ (cipherKeys[0] >> 8);
  cipherKeys[1] = (cipherKeys[1] + (cipherKeys[0] & 0xFF)) * 134775813u + 1;
  cipherKeys[2] = table[(cipherKeys[2] ^ (cipherKeys[1] >> 24)) & 0xFF] ^ (cipherKeys[2] >> 8);
}

uint8_t KeystreamByte(void) {
  // Unsigned: temp * (temp ^ 1) reaches nearly 2^32 and would overflow an int.
  uint32_t temp = (cipherKeys[2] & 0xFFFF) | 2;
  return (uint8_t)((temp * (temp ^ 1)) >> 8);
}

void DecryptBuffer(uint8_t *buffer, int32_t length) {
  for (int32_t i = 0; i < length; i++) {
    uint8_t plain = (uint8_t)(buffer[i] ^ KeystreamByte());
    buffer[i] = plain;
    UpdateCipherKeys(plain);
  }
}

// Format notes: the 12-byte encryption header is random data encrypted with
// the entry's keys; its decrypted last byte is the high byte of the entry's
// CRC-32 (writers that stream, bit 3, put the high byte of the DOS time
// there instead, which the reader does not know, so checkValue is 0 then
// and no test is possible). One byte: a wrong password passes 1 time in 256.
int CheckEncryptionHeader(const uint8_t *header) {
  uint8_t copy[ZIP_CRYPT_HEADER_SIZE];
  memcpy(copy, header, sizeof copy);
  InitCipherKeys(extraction.password);
  DecryptBuffer(copy, ZIP_CRYPT_HEADER_SIZE);  // the keys advance over all 12 bytes either way
  if (extraction.checkValue == 0) return 1;
  return copy[ZIP_CRYPT_HEADER_SIZE - 1] == (uint8_t)(extraction.checkValue >> 24);
}
