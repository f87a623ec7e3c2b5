// Inside the Deflate decoder: the decoding-table entry, the table builder
// and the block results. Only extractor/decoders and their tests include this.
//
// A code's decoding table lives in an area of entries that its owner
// provides (module-level arrays in the decoder: nothing is allocated per
// block). The first table starts at entry 0 and is indexed by the next
// tableBits input bits (first bit in bit 0). Codes longer than its width
// continue in sub-tables placed after it in the same area and reached
// through link entries, which hold the sub-table's start as an offset
// from entry 0.
#ifndef OSTREL_DECODERS_INFLATE_INTERNAL_H
#define OSTREL_DECODERS_INFLATE_INTERNAL_H

#include <stdint.h>

// One table entry, 32 bits (four to a 16-byte cache chunk; why not a
// record with a pointer: an 11-bit first table of 8 KiB stays in the
// first-level cache, one of 16-byte records would not):
//
//   bits 16..31  value   literal byte, base length (3..258), base distance
//                        (1..24577), 256 for end of block, sub-table offset
//   bits  8..15  op      0..13   length or distance, op extra bits
//                        15      end of block
//                        16      literal
//                        17..32  link to a sub-table of op-16 index bits
//                        99      invalid code (no symbol)
//   bits  0..7   bits    input bits this entry accounts for within its
//                        table (for a link: the width of the table it is in)
typedef uint32_t CodeEntry;

static inline uint32_t EntryOp(CodeEntry e) { return (e >> 8) & 0xFF; }
static inline uint32_t EntryBits(CodeEntry e) { return e & 0xFF; }
static inline uint32_t EntryValue(CodeEntry e) { return e >> 16; }
static inline CodeEntry MakeCodeEntry(uint32_t op, uint32_t bits, uint32_t value) {
  return value << 16 | op << 8 | bits;
}

enum {
  CODE_OP_END_OF_BLOCK = 15,
  CODE_OP_LITERAL = 16,
  CODE_OP_LINK = 16,        // op > CODE_OP_LINK: a link (or invalid)
  CODE_OP_INVALID = 99,
  CODE_MAX_BITS = 16        // longest code length the builder accepts
};

// Results of the block routines and of BuildDecodeTable.
enum {
  INFLATE_OK = 0,
  INFLATE_CORRUPT = 1,         // incomplete code, invalid code, bad lengths or counts, input past the end
  INFLATE_BLOCK_TYPE = 2,      // block type 3, or an over-subscribed code
  INFLATE_NO_MEMORY = 3        // a code's tables do not fit in their area
};

// Builds the decoding table of a canonical Huffman code into area.
//   lengths      count code lengths, 0..CODE_MAX_BITS (0 = symbol unused)
//   simpleCount  symbols below it are literals (< 256) or end of block;
//                symbol v >= simpleCount decodes as bases/extras[v - simpleCount]
//   area         capacity entries; the first table starts at area[0]
//   *tableBits   in: requested first-table width; out: the width used
//                (the requested one, within the shortest and longest length)
// Returns:
//   INFLATE_OK          complete code (or a single code of length 1), or all
//                       lengths 0 (then *tableBits is 0: an empty code)
//   INFLATE_CORRUPT     incomplete code: built, left-over codes decode as
//                       invalid; also a length > CODE_MAX_BITS (nothing built)
//   INFLATE_BLOCK_TYPE  over-subscribed: nothing built
//   INFLATE_NO_MEMORY   the tables do not fit in capacity entries
int BuildDecodeTable(const uint8_t *lengths, uint32_t count, uint32_t simpleCount, const uint16_t *bases,
                     const uint8_t *extras, CodeEntry *area, uint32_t capacity, uint32_t *tableBits);

// How many times the fixed-code tables were built since the process began
// (for tests: fixed blocks of one entry share one build).
uint32_t FixedTableBuilds(void);

#endif
