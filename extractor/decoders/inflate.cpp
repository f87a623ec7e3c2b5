// Deflate decoder (RFC 1951): stored, fixed-code and dynamic-code blocks,
// decoded through multi-level tables (inflate_table.cpp) into the 32 KiB
// output window, which doubles as the history for matches and leaves
// through the output sink each time it is full.
//
// Input comes from the entry input reader. Two paths decode codes with the
// same tables and give the same results: a careful one that takes bytes one
// at a time through NextByte (near the end of the input and of the window),
// and a fast one that loads eight bytes at a time straight from the input
// buffer while at least eight bytes of the budget and a whole match of room
// in the window remain.
#include "extractor/decoders/inflate.h"

#include <string.h>

#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/entry_input_internal.h"
#include "extractor/decoders/inflate_internal.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/state.h"

enum {
  WINDOW_MASK = OUTPUT_WINDOW_SIZE - 1,
  MAX_MATCH = 258,
  // A valid stream fetches at most two look-ahead bytes past its last
  // code (16 bits for one lookup). More than this many bytes past the
  // budget means the stream runs on stale buffer contents: corrupt.
  MAX_OVERRUN_BYTES = 4,
  LITERAL_CODES = 288,     // fixed code; dynamic blocks use at most 286
  DISTANCE_CODES = 30,     // 32 in the fixed code, 30 and 31 invalid
  LENGTH_CODES_LIMIT = 286,
  CODE_LENGTH_CODES = 19,
  // Requested first-table widths (why: 9 bits cover nearly all literal
  // and length codes of real data, 6 nearly all distance codes, in tables
  // that stay in the first-level cache).
  DYNAMIC_LITERAL_BITS = 9,
  DYNAMIC_DISTANCE_BITS = 6,
  CODE_LENGTH_BITS = 7,
  FIXED_LITERAL_BITS = 7,
  FIXED_DISTANCE_BITS = 5
};

// Symbols 257..285 then 286 and 287, which the fixed code assigns but
// RFC 1951 does not use: their extra-bit count 99 makes them invalid codes.
static const uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                         35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
static const uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
static const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                           193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const uint8_t kCodeLengthOrder[CODE_LENGTH_CODES] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

typedef struct InflateState {
  // Bit input
  uint64_t bitBuffer;           // unconsumed input bits, next bit in bit 0; bits above bitCount are 0
  uint32_t bitCount;            // valid bits in bitBuffer, 0..63
  int32_t inputFailed;          // 1 once a refill failed (code 5 recorded): decoding stops
  // Output
  uint32_t windowPos;           // next write position in storage.outputWindow, 0..OUTPUT_WINDOW_SIZE-1
  uint32_t windowFull;          // 1 once the entry filled the window (flushed it whole): every
                                // distance (at most 32,768) stays inside the entry's own bytes;
                                // 0: only the first windowPos bytes are the entry's
  // Fixed-code tables, built on an entry's first fixed block, kept until ReleaseFixedTables
  CodeEntry *fixedLiteral;      // null while not built
  CodeEntry *fixedDistance;
  uint32_t fixedLiteralBits;
  uint32_t fixedDistanceBits;
  uint32_t fixedBuilds;         // builds since the process began (FixedTableBuilds)
} InflateState;

static InflateState state;
static uint8_t codeLengths[LENGTH_CODES_LIMIT + DISTANCE_CODES];  // a dynamic block's lengths (316)
static uint8_t fixedLengths[LITERAL_CODES];

uint32_t FixedTableBuilds(void) { return state.fixedBuilds; }

static inline uint64_t LowBits(uint64_t value, uint32_t n) { return value & ((1ull << n) - 1); }

// ---- careful path: one byte at a time --------------------------------------

// Makes at least n (<= 56) bits available. Returns 0 when the input failed
// or ran too far past the budget; the block routine then ends with
// INFLATE_CORRUPT (DecodeDeflateEntry tells the two apart).
static int NeedBits(uint32_t n) {
  while (state.bitCount < n) {
    int byte = NextByte();
    if (byte < 0) {
      state.inputFailed = 1;
      return 0;
    }
    if (EntryInputOverrun() > MAX_OVERRUN_BYTES) return 0;
    state.bitBuffer |= (uint64_t)byte << state.bitCount;
    state.bitCount += 8;
  }
  return 1;
}

static inline void DropBits(uint32_t n) {
  state.bitBuffer >>= n;
  state.bitCount -= n;
}

// Hands on the full window and starts it again from position 0.
static void FlushFullWindow(void) {
  FlushWindow(OUTPUT_WINDOW_SIZE);
  state.windowPos = 0;
  state.windowFull = 1;
}

static inline void PutByte(uint8_t byte) {
  storage.outputWindow[state.windowPos++] = byte;
  if (state.windowPos == OUTPUT_WINDOW_SIZE) FlushFullWindow();
}

// A match may reach back only into bytes this entry produced: until the
// window was full once these are its first windowPos bytes. A longer
// distance would copy an earlier entry's bytes (perhaps of an encrypted
// one) and is refused, as zlib refuses it ("too far back").
static inline int DistanceTooFar(uint32_t distance, uint32_t pos) { return distance > pos && !state.windowFull; }

// Decodes one code through table and its sub-tables. Returns its entry, or
// null for an invalid code, an empty table (a code set with no lengths, so
// nothing can be decoded) or a failed input.
static const CodeEntry *DecodeSymbol(const CodeEntry *table, uint32_t tableBits) {
  if (!table || !NeedBits(tableBits)) return 0;
  const CodeEntry *e = table + LowBits(state.bitBuffer, tableBits);
  while (e->op > CODE_OP_LINK) {
    if (e->op == CODE_OP_INVALID) return 0;
    uint32_t subBits = e->op - CODE_OP_LINK;
    DropBits(e->bits);
    if (!NeedBits(subBits)) return 0;
    e = e->next + LowBits(state.bitBuffer, subBits);
  }
  DropBits(e->bits);
  return e;
}

// Copies a match of length bytes from distance back, wrapping in the window.
// The caller has refused distances before the entry's first byte
// (DistanceTooFar); the mask keeps every read inside the window anyway.
static void CopyMatch(uint32_t distance, uint32_t length) {
  uint8_t *window = storage.outputWindow;
  uint32_t from = (state.windowPos - distance) & WINDOW_MASK;
  while (length > 0) {
    uint32_t pos = state.windowPos;
    uint32_t room = OUTPUT_WINDOW_SIZE - (from > pos ? from : pos);
    uint32_t n = room < length ? room : length;
    length -= n;
    if (from >= pos || pos - from >= n) {
      memmove(window + pos, window + from, n);  // no forward overlap
    } else {
      for (uint32_t i = 0; i < n; i++) window[pos + i] = window[from + i];  // repeats the last distance bytes
    }
    state.windowPos = pos + n;
    from = (from + n) & WINDOW_MASK;
    if (state.windowPos == OUTPUT_WINDOW_SIZE) FlushFullWindow();
  }
}

// ---- fast path ---------------------------------------------------------------

enum { FAST_LEAVE = -1 };  // conditions for the fast path no longer hold

// Walks from a first-table entry through its sub-tables and consumes the
// code's bits. Returns the final entry, or null for an invalid code (whose
// bits are left unconsumed: decoding stops there).
static inline const CodeEntry *FollowLinks(const CodeEntry *e, uint64_t *bits, uint32_t *count) {
  while (e->op > CODE_OP_LINK) {
    if (e->op == CODE_OP_INVALID) return nullptr;
    uint32_t subBits = e->op - CODE_OP_LINK;
    *bits >>= e->bits;
    *count -= e->bits;
    e = e->next + LowBits(*bits, subBits);
  }
  *bits >>= e->bits;
  *count -= e->bits;
  return e;
}

// Decodes codes while eight input bytes of the budget and a whole match of
// room in the window remain. Returns INFLATE_OK at the end of the block,
// INFLATE_CORRUPT on an invalid code, FAST_LEAVE otherwise. Each code is
// decoded from one refill: a literal/length code, its extra bits, a
// distance code and its extra bits take at most 15 + 5 + 15 + 13 = 48 bits,
// and a refill leaves at least 56.
static int DecodeCodesFast(const CodeEntry *literalTable, const CodeEntry *distanceTable, uint32_t literalBits,
                           uint32_t distanceBits) {
  const uint8_t *start;
  int32_t available = EntryInputPeek(&start);
  if (available < 8) return FAST_LEAVE;
  const uint8_t *in = start;
  const uint8_t *inLast = start + available - 8;  // last position an 8-byte load may start
  uint64_t bits = state.bitBuffer;
  uint32_t count = state.bitCount;
  uint8_t *window = storage.outputWindow;
  uint32_t pos = state.windowPos;
  const uint64_t literalMask = (1ull << literalBits) - 1;
  const uint64_t distanceMask = (1ull << distanceBits) - 1;
  int result = FAST_LEAVE;

  while (in <= inLast && pos < OUTPUT_WINDOW_SIZE - MAX_MATCH) {
    uint64_t word;
    memcpy(&word, in, 8);  // little-endian host (x86), as the ZIP records assume
    bits |= word << count;
    in += (63 - count) >> 3;
    count |= 56;

    const CodeEntry *e = FollowLinks(literalTable + (bits & literalMask), &bits, &count);
    if (!e) {
      result = INFLATE_CORRUPT;
      goto done;
    }
    if (e->op == CODE_OP_LITERAL) {
      window[pos++] = (uint8_t)e->value;
      // Literals come in runs: the first took at most 15 of the 56 bits,
      // enough for a second literal from the same refill (a first-table
      // hit only; anything else is decoded from the top after a refill).
      e = literalTable + (bits & literalMask);
      if (e->op == CODE_OP_LITERAL) {
        bits >>= e->bits;
        count -= e->bits;
        window[pos++] = (uint8_t)e->value;
      }
      continue;
    }
    if (e->op == CODE_OP_END_OF_BLOCK) {
      result = INFLATE_OK;
      goto done;
    }
    uint32_t length = e->value + (uint32_t)LowBits(bits, e->op);
    bits >>= e->op;
    count -= e->op;

    e = FollowLinks(distanceTable + (bits & distanceMask), &bits, &count);
    if (!e) {
      result = INFLATE_CORRUPT;
      goto done;
    }
    uint32_t distance = e->value + (uint32_t)LowBits(bits, e->op);
    bits >>= e->op;
    count -= e->op;

    if (distance > pos) {
      // The source wraps to the window's far end: the general copy handles
      // it; the room check above guarantees it cannot reach the flush
      // point. Before the window was full once, it lies before the
      // entry's first byte instead: corrupt.
      if (!state.windowFull) {
        result = INFLATE_CORRUPT;
        goto done;
      }
      state.windowPos = pos;
      CopyMatch(distance, length);
      pos = state.windowPos;
      continue;
    }
    uint8_t *to = window + pos;
    const uint8_t *from = to - distance;
    pos += length;
    if (distance < 8) {
      if (distance == 1) {
        memset(to, *from, length);
        continue;
      }
      // A short period: once its first bytes are out, the source may trail
      // by any multiple of the period, so take the first one of 8 or more.
      uint32_t period = distance * ((8 + distance - 1) / distance);
      uint32_t head = period - distance < length ? period - distance : length;
      for (uint32_t k = 0; k < head; k++) to[k] = from[k];
      to += head;
      length -= head;
      if (length == 0) continue;
      from = to - period;
    }
    if (length >= 8) {
      // Eight bytes at a time, each chunk's source complete before it is
      // read; the last chunk ends at the match's end and may rewrite bytes
      // of the one before with the same values. Nothing beyond the match
      // is touched: those window bytes are still history.
      uint8_t *last = to + length - 8;
      const uint8_t *lastFrom = from + length - 8;
      do {
        memcpy(to, from, 8);
        to += 8;
        from += 8;
      } while (to < last);
      memcpy(last, lastFrom, 8);
    } else {
      while (length--) *to++ = *from++;
    }
  }
done:
  EntryInputAdvance((int32_t)(in - start));
  state.bitBuffer = LowBits(bits, count);  // drop look-ahead bits above count
  state.bitCount = count;
  state.windowPos = pos;
  return result;
}

// ---- blocks --------------------------------------------------------------------

// 1 once the output sink refused a flush (the entry outgrew its declared
// size): matches can expand input a thousandfold, so decoding stops there
// instead of running on to the end of the stream.
static inline int SinkRefused(void) { return extraction.errorCode == ERR_INVALID_DATA; }

// Decodes literal/length and distance codes up to the end of the block.
// Returns INFLATE_OK at the end of the block, else INFLATE_CORRUPT.
static int DecodeCodes(const CodeEntry *literalTable, const CodeEntry *distanceTable, uint32_t literalBits,
                       uint32_t distanceBits) {
  for (;;) {
    if (SinkRefused()) return INFLATE_CORRUPT;
    if (literalTable && distanceTable && state.windowPos < OUTPUT_WINDOW_SIZE - MAX_MATCH) {
      int fast = DecodeCodesFast(literalTable, distanceTable, literalBits, distanceBits);
      if (fast != FAST_LEAVE) return fast;
    }
    const CodeEntry *e = DecodeSymbol(literalTable, literalBits);
    if (!e) return INFLATE_CORRUPT;
    if (e->op == CODE_OP_LITERAL) {
      PutByte((uint8_t)e->value);
      continue;
    }
    if (e->op == CODE_OP_END_OF_BLOCK) return INFLATE_OK;
    if (!NeedBits(e->op)) return INFLATE_CORRUPT;
    uint32_t length = e->value + (uint32_t)LowBits(state.bitBuffer, e->op);
    DropBits(e->op);
    e = DecodeSymbol(distanceTable, distanceBits);
    if (!e || !NeedBits(e->op)) return INFLATE_CORRUPT;
    uint32_t distance = e->value + (uint32_t)LowBits(state.bitBuffer, e->op);
    DropBits(e->op);
    if (DistanceTooFar(distance, state.windowPos)) return INFLATE_CORRUPT;
    CopyMatch(distance, length);
  }
}

// Format notes: after the 3 header bits the block starts at the next byte
// boundary with LEN and NLEN (16 bits each, little-endian, NLEN = ~LEN),
// then LEN bytes as they are. LEN 0 is valid (used for flushing).
static int DecodeStoredBlock(void) {
  DropBits(state.bitCount & 7);
  if (!NeedBits(32)) return INFLATE_CORRUPT;
  uint32_t length = (uint32_t)(state.bitBuffer & 0xFFFF);
  uint32_t complement = (uint32_t)((state.bitBuffer >> 16) & 0xFFFF);
  if (length != (~complement & 0xFFFF)) return INFLATE_CORRUPT;
  DropBits(32);
  // Whole bytes already in the bit buffer first, then straight from the
  // input buffer, then (near the end of the budget) byte by byte.
  while (length > 0 && state.bitCount >= 8) {
    PutByte((uint8_t)state.bitBuffer);
    DropBits(8);
    length--;
  }
  while (length > 0) {
    const uint8_t *data;
    uint32_t n = (uint32_t)EntryInputPeek(&data);
    if (n == 0) {
      if (!NeedBits(8)) return INFLATE_CORRUPT;
      PutByte((uint8_t)state.bitBuffer);
      DropBits(8);
      length--;
      continue;
    }
    uint32_t room = OUTPUT_WINDOW_SIZE - state.windowPos;
    if (n > length) n = length;
    if (n > room) n = room;
    memcpy(storage.outputWindow + state.windowPos, data, n);
    EntryInputAdvance((int32_t)n);
    state.windowPos += n;
    length -= n;
    if (state.windowPos == OUTPUT_WINDOW_SIZE) FlushFullWindow();
  }
  return INFLATE_OK;
}

// Format notes: the fixed code (RFC 1951 3.2.6) gives literal/length
// symbols 0-143 8 bits, 144-255 9, 256-279 7, 280-287 8, and all 32
// distance symbols 5 bits. Symbols 286, 287 and distances 30, 31 have
// codes but no meaning: they decode as invalid. The distance code is
// therefore incomplete by design, and that result is accepted here.
static int DecodeFixedBlock(void) {
  if (!state.fixedLiteral) {
    for (int i = 0; i < 144; i++) fixedLengths[i] = 8;
    for (int i = 144; i < 256; i++) fixedLengths[i] = 9;
    for (int i = 256; i < 280; i++) fixedLengths[i] = 7;
    for (int i = 280; i < LITERAL_CODES; i++) fixedLengths[i] = 8;
    CodeEntry *literal;
    uint32_t literalBits = FIXED_LITERAL_BITS;
    int r = BuildDecodeTable(fixedLengths, LITERAL_CODES, 257, kLengthBase, kLengthExtra, &literal, &literalBits);
    if (r != INFLATE_OK) {
      ReleaseDecodeTable(literal);
      return r;
    }
    for (int i = 0; i < DISTANCE_CODES; i++) fixedLengths[i] = 5;
    CodeEntry *distance;
    uint32_t distanceBits = FIXED_DISTANCE_BITS;
    r = BuildDecodeTable(fixedLengths, DISTANCE_CODES, 0, kDistanceBase, kDistanceExtra, &distance, &distanceBits);
    if (r > INFLATE_CORRUPT) {
      ReleaseDecodeTable(literal);
      return r;
    }
    state.fixedLiteral = literal;
    state.fixedLiteralBits = literalBits;
    state.fixedDistance = distance;
    state.fixedDistanceBits = distanceBits;
    state.fixedBuilds++;
  }
  return DecodeCodes(state.fixedLiteral, state.fixedDistance, state.fixedLiteralBits, state.fixedDistanceBits) != 0
             ? INFLATE_CORRUPT
             : INFLATE_OK;
}

// Reads the literal/length and distance code lengths of a dynamic block
// into codeLengths through the code-length code. Returns a block result.
static int ReadCodeLengths(uint32_t total) {
  CodeEntry *table;
  uint32_t tableBits = CODE_LENGTH_BITS;
  int r = BuildDecodeTable(codeLengths, CODE_LENGTH_CODES, CODE_LENGTH_CODES, 0, 0, &table, &tableBits);
  if (r != INFLATE_OK) {
    ReleaseDecodeTable(table);
    return r;
  }
  uint32_t i = 0;
  uint8_t previous = 0;  // a repeat before any length repeats 0
  while (i < total) {
    // An empty code-length code, or the left-over code of a code-length
    // code with a single code of length 1, decodes nothing: corrupt.
    const CodeEntry *e = DecodeSymbol(table, tableBits);
    if (!e) break;
    uint32_t symbol = e->value, repeat;
    uint8_t value;
    if (symbol < 16) {
      codeLengths[i++] = previous = (uint8_t)symbol;
      continue;
    } else if (symbol == 16) {
      if (!NeedBits(2)) break;
      repeat = 3 + (uint32_t)LowBits(state.bitBuffer, 2);
      DropBits(2);
      value = previous;
    } else if (symbol == 17) {
      if (!NeedBits(3)) break;
      repeat = 3 + (uint32_t)LowBits(state.bitBuffer, 3);
      DropBits(3);
      value = previous = 0;
    } else {
      if (!NeedBits(7)) break;
      repeat = 11 + (uint32_t)LowBits(state.bitBuffer, 7);
      DropBits(7);
      value = previous = 0;
    }
    if (i + repeat > total) break;  // repeats past the last length
    memset(codeLengths + i, value, repeat);
    i += repeat;
  }
  ReleaseDecodeTable(table);
  return i == total ? INFLATE_OK : INFLATE_CORRUPT;
}

// Format notes: HLIT (5 bits) + 257 literal/length codes (at most 286),
// HDIST (5) + 1 distance codes (at most 30), HCLEN (4) + 4 code-length
// code lengths (3 bits each, in kCodeLengthOrder), then the code lengths
// of both codes as one sequence coded with the code-length code; repeats
// (16, 17, 18) may run from the literal lengths into the distance lengths.
static int DecodeDynamicBlock(void) {
  if (!NeedBits(14)) return INFLATE_CORRUPT;
  uint32_t literalCount = 257 + (uint32_t)LowBits(state.bitBuffer, 5);
  uint32_t distanceCount = 1 + (uint32_t)LowBits(state.bitBuffer >> 5, 5);
  uint32_t lengthCodeCount = 4 + (uint32_t)LowBits(state.bitBuffer >> 10, 4);
  DropBits(14);
  if (literalCount > LENGTH_CODES_LIMIT || distanceCount > DISTANCE_CODES) return INFLATE_CORRUPT;
  for (uint32_t j = 0; j < CODE_LENGTH_CODES; j++) {
    uint8_t length = 0;
    if (j < lengthCodeCount) {
      if (!NeedBits(3)) return INFLATE_CORRUPT;
      length = (uint8_t)LowBits(state.bitBuffer, 3);
      DropBits(3);
    }
    codeLengths[kCodeLengthOrder[j]] = length;
  }
  int r = ReadCodeLengths(literalCount + distanceCount);
  if (r != INFLATE_OK) return r;

  CodeEntry *literal, *distance;
  uint32_t literalBits = DYNAMIC_LITERAL_BITS, distanceBits = DYNAMIC_DISTANCE_BITS;
  r = BuildDecodeTable(codeLengths, literalCount, 257, kLengthBase, kLengthExtra, &literal, &literalBits);
  if (r != INFLATE_OK) {
    ReleaseDecodeTable(literal);
    return r;
  }
  // An incomplete distance code is refused, except a single code of length
  // 1, which the builder reports as complete. All lengths 0 is accepted
  // (a block of literals only); a match in it then finds no table.
  r = BuildDecodeTable(codeLengths + literalCount, distanceCount, 0, kDistanceBase, kDistanceExtra, &distance,
                       &distanceBits);
  if (r != INFLATE_OK) {
    ReleaseDecodeTable(distance);
    ReleaseDecodeTable(literal);
    return r;
  }
  r = DecodeCodes(literal, distance, literalBits, distanceBits);
  ReleaseDecodeTable(distance);
  ReleaseDecodeTable(literal);
  return r != INFLATE_OK ? INFLATE_CORRUPT : INFLATE_OK;
}

// Format notes: each block starts with BFINAL (1 bit) and BTYPE (2 bits):
// 0 stored, 1 fixed code, 2 dynamic code, 3 reserved (an error).
static int DecodeBlock(int *last) {
  if (!NeedBits(3)) return INFLATE_CORRUPT;
  *last = (int)(state.bitBuffer & 1);
  uint32_t type = (uint32_t)LowBits(state.bitBuffer >> 1, 2);
  DropBits(3);
  int r;
  switch (type) {
    case 0: r = DecodeStoredBlock(); break;
    case 1: r = DecodeFixedBlock(); break;
    case 2: r = DecodeDynamicBlock(); break;
    default: return INFLATE_BLOCK_TYPE;
  }
  // The user stopped during this block: it is complete, so end here and
  // let the final flush hand on what the window holds.
  if (r == INFLATE_OK && extraction.errorCode == ERR_CANCELLED) *last = 1;
  return r;
}

int DecodeDeflateEntry(void) {
  state.bitBuffer = 0;
  state.bitCount = 0;
  state.windowPos = 0;
  state.windowFull = 0;
  state.inputFailed = 0;
  int last = 0;
  do {
    int r = DecodeBlock(&last);
    if (r == INFLATE_OK && SinkRefused()) r = INFLATE_CORRUPT;  // stored blocks: bounded by the input
    if (r != INFLATE_OK) {
      // A failed read keeps its own code (5), as does any code recorded
      // before (the first one stays); everything else is corrupt data.
      if (!state.inputFailed && extraction.errorCode == ERR_NONE) extraction.errorCode = ERR_INVALID_DATA;
      return r;
    }
  } while (!last);
  // A stream that needed bits beyond its budget to finish decoded stale
  // buffer bytes: refuse it (a complete stream only looks ahead).
  if (extraction.errorCode != ERR_CANCELLED && (uint32_t)EntryInputOverrun() * 8 > state.bitCount) {
    if (extraction.errorCode == ERR_NONE) extraction.errorCode = ERR_INVALID_DATA;
    return INFLATE_CORRUPT;
  }
  FlushWindow((int32_t)state.windowPos);
  return SinkRefused() ? INFLATE_CORRUPT : INFLATE_OK;
}

int ReleaseFixedTables(void) {
  if (state.fixedLiteral) {
    ReleaseDecodeTable(state.fixedDistance);
    ReleaseDecodeTable(state.fixedLiteral);
    state.fixedLiteral = 0;
    state.fixedDistance = 0;
  }
  return 0;
}
