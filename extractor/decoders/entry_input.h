// Entry input reader: hands the Deflate decoder an entry's stored bytes one
// at a time, read from extraction.dataFile in chunks of ENTRY_INPUT_SIZE
// within the budget transfer.inputLeft, decrypted per chunk when the entry
// is encrypted.
#ifndef OSTREL_DECODERS_ENTRY_INPUT_H
#define OSTREL_DECODERS_ENTRY_INPUT_H

#include <stdint.h>

// Creates storage.entryInput, zero-filled. Returns 1, or 0 with code 8.
int OpenEntryInput(void);
// Releases storage.entryInput if it exists and marks it absent.
void CloseEntryInput(void);
// Forgets the buffer's contents: the next byte request reads from the file.
void ResetEntryInput(void);
// Loads the next chunk. Returns 1, or 0 with code 5 after a failed or short read.
int RefillEntryInput(void);
// Returns the next byte (0..255), or -1 when a refill failed.
int NextByte(void);

#endif
