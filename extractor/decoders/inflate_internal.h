// Inside the Deflate decoder: the decoding-table entry, the table builder
// and the block results. Only extractor/decoders and their tests include this.
//
// A code's decoding table is a chain of heap blocks. Each block holds
// 2^j + 1 entries: entry 0 links to the next block of the same code (the
// chain ReleaseDecodeTable walks), entries 1..2^j are a table indexed by
// the next j input bits (first bit in bit 0). A code is referred to by its
// first table (the entry after its block's chain link) and that table's
// index width. Codes longer than the first table's width continue in
// sub-tables reached through link entries.
#ifndef OSTREL_DECODERS_INFLATE_INTERNAL_H
#define OSTREL_DECODERS_INFLATE_INTERNAL_H

#include <stdint.h>

// One table entry.
//
//   op       meaning                          bits                value / next
//   0..13    length or distance, op extra     code bits in table  value = base
//   15       end of block                     code bits in table  value = 256
//   16       literal                          code bits in table  value = the byte
//   17..32   link to a sub-table of op-16     width of this table next = sub-table
//            index bits
//   99       invalid code (no symbol)         code bits in table  -
//
// The chain entry (entry 0 of a block) uses only next.
typedef struct CodeEntry {
  uint8_t op;               // see the table above
  uint8_t bits;             // input bits this entry accounts for within its table, 1..16
  uint16_t value;           // literal byte, base length (3..258) or base distance (1..24577)
  struct CodeEntry *next;   // link: first entry of the sub-table; chain: next block
} CodeEntry;

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
  INFLATE_NO_MEMORY = 3        // a table block could not be created
};

// Builds the decoding table of a canonical Huffman code.
//   lengths      count code lengths, 0..CODE_MAX_BITS (0 = symbol unused)
//   simpleCount  symbols below it are literals (< 256) or end of block;
//                symbol v >= simpleCount decodes as bases/extras[v - simpleCount]
//   *tableBits   in: requested first-table width; out: the width used
// Returns:
//   INFLATE_OK          complete code (or a single code of length 1), or all lengths 0
//                       (then *table is null and *tableBits 0)
//   INFLATE_CORRUPT     incomplete code: *table is built (left-over codes decode
//                       as invalid) and must be released; also a length > 16
//   INFLATE_BLOCK_TYPE  over-subscribed: nothing built
//   INFLATE_NO_MEMORY   nothing left built
int BuildDecodeTable(const uint8_t *lengths, uint32_t count, uint32_t simpleCount, const uint16_t *bases,
                     const uint8_t *extras, CodeEntry **table, uint32_t *tableBits);
// Releases every block of a table's chain. Accepts null. Returns 0.
int ReleaseDecodeTable(CodeEntry *table);

// How many times the fixed-code tables were built since the process began
// (for tests: fixed blocks of one entry share one build).
uint32_t FixedTableBuilds(void);

#endif
