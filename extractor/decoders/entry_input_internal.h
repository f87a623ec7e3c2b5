// The entry input reader's view for the Deflate decoder: direct access to
// the bytes already loaded (for the decoder's multi-byte fast path and its
// stored-block copy) and the count of bytes served past the entry's budget.
// Only extractor/decoders and their tests include this.
#ifndef OSTREL_DECODERS_ENTRY_INPUT_INTERNAL_H
#define OSTREL_DECODERS_ENTRY_INPUT_INTERNAL_H

#include <stdint.h>

// Points *data at the next unserved byte and returns how many bytes of the
// entry's budget follow it in the buffer (0 when a refill is due or only
// bytes past the budget remain). Nothing is consumed.
int32_t EntryInputPeek(const uint8_t **data);
// Consumes count bytes returned by EntryInputPeek (count <= that result).
void EntryInputAdvance(int32_t count);
// Bytes NextByte has served since ResetEntryInput that lie past the end of
// the entry's budget (stale buffer contents, see entry_input.cpp).
int32_t EntryInputOverrun(void);

#endif
