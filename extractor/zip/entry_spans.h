// The byte ranges of the entries read so far in a run, so that the reader
// can refuse an entry that shares bytes with an earlier one: a second
// central record for the same local header, or a local header nested in
// another entry's data (the overlapping-entries "zip bomb", where a few KiB
// of Deflate data serve thousands of entries).
//
// Layout: the spans are kept as sorted runs whose sizes are the set bits of
// count, largest first (count 13 = runs of 8, 4 and 1 spans, in that order
// from index 0). Adding a span appends a run of 1 and then merges equal
// runs at the tail, as a binary counter carries, so an entry costs
// O(log n) moves on average and a lookup O(log^2 n) comparisons whatever
// order the central directory lists its entries in; a plain sorted array
// costs O(n) moves per entry listed out of order, which a hostile directory
// of millions of records turns into hours.
//
// Call order: SpanSetCreate once (working storage), SpanSetClear at the
// start of each walk, SpanSetAdd per entry, SpanSetFree at the end.
#ifndef OSTREL_ZIP_ENTRY_SPANS_H
#define OSTREL_ZIP_ENTRY_SPANS_H

#include <stdint.h>

enum {
  SPAN_INITIAL_CAPACITY = 4096,     // spans before the first growth (32 KiB)
  SPAN_MAX_CAPACITY = 0x08000000,   // 2^27 spans (1 GiB): more entries than a 2 GiB file holds
  SPAN_ADDED = 1,                   // SpanSetAdd results
  SPAN_OVERLAP = 0,
  SPAN_NO_MEMORY = -1
};

// An entry's bytes in the file: local header, name, extra field and data.
typedef struct EntrySpan {
  uint32_t start;            // local header position
  uint32_t end;              // one past the last data byte; > start
} EntrySpan;

typedef struct SpanSet {
  EntrySpan *spans;          // capacity entries: runs as described above; null when absent
  EntrySpan *scratch;        // capacity / 2 entries: the left run during a merge
  uint32_t count;            // spans held, 0..capacity
  uint32_t capacity;         // a power of two, SPAN_INITIAL_CAPACITY..SPAN_MAX_CAPACITY
  uint32_t highestEnd;       // largest end held: a span starting there needs no lookup
} SpanSet;

// Creates the two blocks at SPAN_INITIAL_CAPACITY. Returns 1, or 0 when a
// block could not be created (both are then absent).
int SpanSetCreate(SpanSet *set);
// Empties the set; keeps its blocks.
void SpanSetClear(SpanSet *set);
// Releases the blocks (either may be absent) and marks them absent.
void SpanSetFree(SpanSet *set);
// Adds [start, end). Returns SPAN_ADDED; SPAN_OVERLAP when the range shares
// a byte with a span held (the set is unchanged); SPAN_NO_MEMORY when the
// set is absent or full and cannot grow (never accepts unchecked).
int SpanSetAdd(SpanSet *set, uint32_t start, uint32_t end);

#endif
