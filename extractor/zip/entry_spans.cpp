// The set of entry byte ranges (see entry_spans.h for the run layout).
#include "extractor/zip/entry_spans.h"

#include <string.h>

#include "extractor/zip/file_io.h"

int SpanSetCreate(SpanSet *set) {
  memset(set, 0, sizeof *set);
  set->spans = (EntrySpan *)MemAlloc(SPAN_INITIAL_CAPACITY * sizeof(EntrySpan));
  set->scratch = (EntrySpan *)MemAlloc(SPAN_INITIAL_CAPACITY / 2 * sizeof(EntrySpan));
  if (!set->spans || !set->scratch) {
    SpanSetFree(set);
    return 0;
  }
  set->capacity = SPAN_INITIAL_CAPACITY;
  return 1;
}

void SpanSetClear(SpanSet *set) {
  set->count = 0;
  set->highestEnd = 0;
}

void SpanSetFree(SpanSet *set) {
  if (set->spans) MemFree(set->spans);
  if (set->scratch) MemFree(set->scratch);
  memset(set, 0, sizeof *set);
}

// Doubles the capacity, keeping the spans (the run layout depends on the
// count only). Returns 0 at SPAN_MAX_CAPACITY or when a block fails.
static int Grow(SpanSet *set) {
  if (set->capacity >= SPAN_MAX_CAPACITY) return 0;
  uint32_t capacity = set->capacity * 2;  // <= 2^27: the byte sizes below fit in 32 bits
  EntrySpan *spans = (EntrySpan *)MemAlloc(capacity * (uint32_t)sizeof(EntrySpan));
  EntrySpan *scratch = (EntrySpan *)MemAlloc(capacity / 2 * (uint32_t)sizeof(EntrySpan));
  if (!spans || !scratch) {
    if (spans) MemFree(spans);
    if (scratch) MemFree(scratch);
    return 0;
  }
  memcpy(spans, set->spans, set->count * sizeof(EntrySpan));
  MemFree(set->spans);
  MemFree(set->scratch);
  set->spans = spans;
  set->scratch = scratch;
  set->capacity = capacity;
  return 1;
}

// 1 when [start, end) shares a byte with a span of the sorted run. The
// spans of a run are disjoint, so only the last one starting at or before
// start and the first one after it can reach the range.
static int RunOverlaps(const EntrySpan *run, uint32_t size, uint32_t start, uint32_t end) {
  uint32_t low = 0, high = size;  // first span with a larger start
  while (low < high) {
    uint32_t middle = low + (high - low) / 2;
    if (run[middle].start <= start) low = middle + 1;
    else high = middle;
  }
  if (low > 0 && run[low - 1].end > start) return 1;
  return low < size && run[low].start < end;
}

// Merges the sorted neighbouring runs [at, at + size) and [at + size,
// at + 2 * size) into one; the left run goes through the scratch block.
static void MergeRuns(SpanSet *set, uint32_t at, uint32_t size) {
  EntrySpan *out = set->spans + at;
  const EntrySpan *left = set->scratch, *right = set->spans + at + size;
  memcpy(set->scratch, out, size * sizeof(EntrySpan));
  uint32_t i = 0, j = 0;
  while (i < size && j < size) *out++ = left[i].start <= right[j].start ? left[i++] : right[j++];
  while (i < size) *out++ = left[i++];  // the rest of the right run is in place already
}

int SpanSetAdd(SpanSet *set, uint32_t start, uint32_t end) {
  if (!set->spans) return SPAN_NO_MEMORY;
  if (start < set->highestEnd) {
    uint32_t at = 0;
    for (uint32_t size = 0x80000000u; size; size >>= 1) {
      if (!(set->count & size)) continue;
      if (RunOverlaps(set->spans + at, size, start, end)) return SPAN_OVERLAP;
      at += size;
    }
  }
  if (set->count == set->capacity && !Grow(set)) return SPAN_NO_MEMORY;
  set->spans[set->count].start = start;
  set->spans[set->count].end = end;
  uint32_t count = ++set->count;
  // Carry: while the new tail run has a neighbour of its own size, merge.
  uint32_t at = count - 1, size = 1;
  while (!(count & size)) {
    at -= size;
    MergeRuns(set, at, size);
    size *= 2;
  }
  if (end > set->highestEnd) set->highestEnd = end;
  return SPAN_ADDED;
}
