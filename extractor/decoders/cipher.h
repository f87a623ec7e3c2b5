// Traditional PKWARE encryption (APPNOTE 6.1): key schedule, keystream and
// the 12-byte encryption header test. Asking for the password is the
// reader's (ObtainPassword, archive_reader.h).
#ifndef OSTREL_DECODERS_CIPHER_H
#define OSTREL_DECODERS_CIPHER_H

#include <stdint.h>

// Keys <- 0x12345678, 0x23456789, 0x34567890, then updated with each password byte.
void InitCipherKeys(const char *password);
// The key update with one plain byte (uses storage.crcTable).
void UpdateCipherKeys(uint8_t plain);
// The next keystream byte, from the low 16 bits of the third key.
uint8_t KeystreamByte(void);
// Decrypts length bytes in place, carrying the keys on.
void DecryptBuffer(uint8_t *buffer, int32_t length);
// Returns 1 when extraction.password fits the 12 stored header bytes (or
// extraction.checkValue is 0), else 0. header is not changed.
int CheckEncryptionHeader(const uint8_t *header);

#endif
