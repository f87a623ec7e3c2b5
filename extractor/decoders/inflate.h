// Deflate decoder (RFC 1951) over the entry input reader and the output sink.
#ifndef OSTREL_DECODERS_INFLATE_H
#define OSTREL_DECODERS_INFLATE_H

// Decodes the current entry to its end. Returns 0, or the failing block's
// result (1 corrupt or incomplete, 2 block type 3 or over-subscribed, 3 no
// memory), with code 9964 recorded. A failed read of the entry's data ends
// the entry with 1 and keeps the reader's code 5. Also 1 with 9964 for a
// match reaching before the entry's first byte, and as soon as the output
// sink refuses a flush because the entry outgrew its declared size
// (nothing of that flush is written). A code recorded before (a cancel, a
// full disk) stays.
int DecodeDeflateEntry(void);
// Releases the cached fixed-code tables; run after every deflated entry. Returns 0.
int ReleaseFixedTables(void);

#endif
