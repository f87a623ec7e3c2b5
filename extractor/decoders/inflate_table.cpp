// Builder of multi-level decoding tables for canonical Huffman codes
// (RFC 1951 3.2.2). Table layout and results: inflate_internal.h.
#include <string.h>

#include "extractor/decoders/inflate_internal.h"

enum {
  MAX_SYMBOLS = 288  // the largest alphabet: fixed literal/length code
};

static uint16_t sortedSymbols[MAX_SYMBOLS];  // symbols with a code, by length, then by value

// The entry that a code for the next sorted symbol gets.
static CodeEntry MakeEntry(const uint16_t *symbol, const uint16_t *symbolsEnd, uint32_t simpleCount,
                           const uint16_t *bases, const uint8_t *extras, uint32_t bits) {
  if (symbol >= symbolsEnd) return MakeCodeEntry(CODE_OP_INVALID, bits, 0);  // a left-over code of an incomplete set
  if (*symbol < simpleCount)
    return MakeCodeEntry(*symbol < 256 ? CODE_OP_LITERAL : CODE_OP_END_OF_BLOCK, bits, *symbol);
  return MakeCodeEntry(extras[*symbol - simpleCount], bits, bases[*symbol - simpleCount]);
}

// Format notes: codes are assigned in canonical order (by length, then by
// symbol) and read first bit first, so the table index is the code with
// its bits reversed. Walking the codes in that order with a bit-reversed
// counter fills each table in one pass; a table closes when the counter's
// low bits leave its prefix.
int BuildDecodeTable(const uint8_t *lengths, uint32_t count, uint32_t simpleCount, const uint16_t *bases,
                     const uint8_t *extras, CodeEntry *area, uint32_t capacity, uint32_t *tableBits) {
  uint32_t lengthCount[CODE_MAX_BITS + 1];
  if (count > MAX_SYMBOLS) return INFLATE_CORRUPT;

  memset(lengthCount, 0, sizeof lengthCount);
  for (uint32_t i = 0; i < count; i++) {
    if (lengths[i] > CODE_MAX_BITS) return INFLATE_CORRUPT;
    lengthCount[lengths[i]]++;
  }
  if (lengthCount[0] == count) {
    *tableBits = 0;
    return INFLATE_OK;
  }
  uint32_t shortest = 1, longest = CODE_MAX_BITS;
  while (lengthCount[shortest] == 0) shortest++;
  while (lengthCount[longest] == 0) longest--;
  uint32_t requested = *tableBits;
  if (requested < shortest) requested = shortest;
  if (requested > longest) requested = longest;

  // Kraft check: left counts the unused codes at each length. Negative:
  // over-subscribed. Left over at the longest length: incomplete; those
  // codes are placed as invalid entries.
  int32_t left = 1 << shortest;
  for (uint32_t len = shortest; len < longest; len++) {
    left -= (int32_t)lengthCount[len];
    if (left < 0) return INFLATE_BLOCK_TYPE;
    left <<= 1;
  }
  left -= (int32_t)lengthCount[longest];
  if (left < 0) return INFLATE_BLOCK_TYPE;
  lengthCount[longest] += (uint32_t)left;

  // Sort the symbols by length (stable, so by value within a length).
  uint32_t offset[CODE_MAX_BITS + 2];
  offset[1] = 0;
  for (uint32_t len = 1; len <= CODE_MAX_BITS; len++)
    offset[len + 1] = offset[len] + (len == longest ? lengthCount[len] - (uint32_t)left : lengthCount[len]);
  for (uint32_t i = 0; i < count; i++)
    if (lengths[i]) sortedSymbols[offset[lengths[i]]++] = (uint16_t)i;
  const uint16_t *symbol = sortedSymbols;
  const uint16_t *symbolsEnd = sortedSymbols + (count - lengthCount[0]);

  // Open tables, bottom (the first table) to top.
  uint32_t tables[CODE_MAX_BITS + 1];    // offset in area of each open table
  uint32_t widths[CODE_MAX_BITS + 1];    // its index width
  uint32_t prefixes[CODE_MAX_BITS + 1];  // the low code bits that lead to it
  int top = -1;                          // index of the top open table
  uint32_t resolved = 0;                 // code bits resolved by the tables below the top one
  uint32_t used = 0;                     // entries of area taken by the tables opened so far
  uint32_t code = 0;                     // current code, bit-reversed

  for (uint32_t len = shortest; len <= longest; len++) {
    for (uint32_t remaining = lengthCount[len]; remaining > 0; remaining--) {
      // Open tables until this code ends within the top one.
      while (len > resolved + (top >= 0 ? widths[top] : 0)) {
        if (top >= 0) resolved += widths[top];
        // Width: at least what this code needs; wider while the codes of
        // the following lengths fill the wider table (so a sub-table is
        // not made for a handful of codes); at most the requested width or
        // what the longest code needs.
        uint32_t width = len - resolved;
        uint32_t limit = longest - resolved < requested ? longest - resolved : requested;
        if ((1u << width) > remaining) {
          uint32_t unused = (1u << width) - remaining;
          for (;;) {
            width++;
            if (width >= limit) break;
            unused <<= 1;
            if (unused <= lengthCount[resolved + width]) break;
            unused -= lengthCount[resolved + width];
          }
        }
        if (used + (1u << width) > capacity) return INFLATE_NO_MEMORY;
        top++;
        tables[top] = used;
        used += 1u << width;
        widths[top] = width;
        uint32_t prefix = code & ((1u << resolved) - 1);
        prefixes[top] = prefix;
        if (top > 0)
          area[tables[top - 1] + (prefix >> (resolved - widths[top - 1]))] =
              MakeCodeEntry(CODE_OP_LINK + width, widths[top - 1], tables[top]);
      }
      CodeEntry e = MakeEntry(symbol, symbolsEnd, simpleCount, bases, extras, len - resolved);
      if (symbol < symbolsEnd) symbol++;
      uint32_t size = 1u << widths[top];
      for (uint32_t index = code >> resolved; index < size; index += 1u << (len - resolved))
        area[tables[top] + index] = e;
      // Next code: increment the bit-reversed counter.
      uint32_t bit = 1u << (len - 1);
      while (code & bit) {
        code ^= bit;
        bit >>= 1;
      }
      code ^= bit;
      // Close the tables whose prefix the counter has left.
      while (top > 0 && (code & ((1u << resolved) - 1)) != prefixes[top]) {
        top--;
        resolved -= widths[top];
      }
    }
  }
  *tableBits = widths[0];
  return left != 0 && longest != 1 ? INFLATE_CORRUPT : INFLATE_OK;
}
