// Deflate decoder (RFC 1951): stored, fixed-code and dynamic-code blocks,
// decoded through multi-level tables (inflate_table.cpp) into the 32 KiB
// output window, which doubles as the history for matches and leaves
// through the output sink each time it is full.
//
// Input comes from the entry input reader. Two paths decode codes with the
// same tables and give the same results: a careful one that takes bytes one
// at a time through NextByte (near the end of the input and of the window),
// and a fast one that loads a machine word at a time straight from the
// input buffer while at least 16 bytes of the budget and a whole match of
// room in the window remain.
//
// The fast path is part of the Windows extractor too, whose image every SFX
// file carries: it costs about 900 bytes of the packed stage, and without
// it the product would decode at half the speed (0.73x zlib, not 1.72x).
//
// The bit buffer is one machine word (BitWord): 64 bits on 64-bit targets,
// 32 bits on the shipped i686 build, which would otherwise emulate every
// shift and mask of the inner loop with register pairs. The fast path
// refills it to 56 (or 24) bits per step and takes up to three literals
// (64-bit) or one (32-bit) per refill; a match refills before its distance
// code (and, 32-bit, before the distance's extra bits).
#include "extractor/decoders/inflate.h"

#include <string.h>

#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/entry_input_internal.h"
#include "extractor/decoders/inflate_internal.h"
#include "extractor/decoders/output_sink.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/state.h"

#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t BitWord;
#else
typedef uint32_t BitWord;
#endif

enum {
  WINDOW_MASK = OUTPUT_WINDOW_SIZE - 1,
  MAX_MATCH = 258,
  BITWORD_BITS = 8 * sizeof(BitWord),
  // A refill tops the buffer up to at least this many bits: whole bytes
  // while fewer than BITWORD_BITS - 7 are held.
  REFILL_MIN_BITS = BITWORD_BITS - 8,
  // One fast-path step writes at most two literals and a longest match.
  FAST_MAX_OUTPUT = 2 + MAX_MATCH,
  // One fast-path step refills at most three times, each advancing fewer
  // than sizeof(BitWord) bytes, and each reads a whole word: 16 bytes of
  // input cover them on either word size.
  FAST_MIN_INPUT = 16,
  // A valid stream fetches at most two look-ahead bytes past its last
  // code (16 bits for one lookup). More than this many bytes past the
  // budget means the stream runs on stale buffer contents: corrupt.
  MAX_OVERRUN_BYTES = 4,
  LITERAL_CODES = 288,     // fixed code; dynamic blocks use at most 286
  DISTANCE_CODES = 30,     // 32 in the fixed code, 30 and 31 invalid
  LENGTH_CODES_LIMIT = 286,
  CODE_LENGTH_CODES = 19,
  // Requested first-table widths. Why 11 and 8: nearly every literal and
  // length code of real data (and every one of the fixed code) and nearly
  // every distance code resolve in one lookup, and the tables (8 KiB and
  // 1 KiB of 4-byte entries) stay in the first-level cache.
  // Every literal/length and distance table is then widened to these
  // widths (WidenFirstTable), so that the fast path masks with constants.
  LITERAL_BITS = 11,
  DISTANCE_BITS = 8,
  CODE_LENGTH_BITS = 7,
  // Table areas. Deflate code lengths are at most 15, so below a first
  // table of w bits every sub-table has at most 15 - w index bits, and
  // each holds at least one symbol's code: the first table plus one
  // sub-table of that size per symbol bounds the area.
  DYNAMIC_LITERAL_AREA = (1 << LITERAL_BITS) + LENGTH_CODES_LIMIT * (1 << (15 - LITERAL_BITS)),
  DYNAMIC_DISTANCE_AREA = (1 << DISTANCE_BITS) + DISTANCE_CODES * (1 << (15 - DISTANCE_BITS)),
  CODE_LENGTH_AREA = 1 << CODE_LENGTH_BITS,  // lengths are at most 7: one table
  FIXED_LITERAL_AREA = 1 << LITERAL_BITS,    // longest fixed codes: 9 and 5 bits, one table each
  FIXED_DISTANCE_AREA = 1 << DISTANCE_BITS
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

// The code tables of one block: where they are and their first-table widths
// (LITERAL_BITS and DISTANCE_BITS, or 0: the code has no lengths, nothing
// can be decoded through it).
typedef struct BlockCodes {
  const CodeEntry *literal;
  const CodeEntry *distance;
  uint32_t literalBits;
  uint32_t distanceBits;
} BlockCodes;

typedef struct InflateState {
  // Bit input
  BitWord bitBuffer;            // unconsumed input bits, next bit in bit 0; bits above bitCount are 0
  uint32_t bitCount;            // valid bits in bitBuffer, 0..BITWORD_BITS-1
  int32_t inputFailed;          // 1 once a refill failed (code 5 recorded): decoding stops
  // Output
  uint32_t windowPos;           // next write position in storage.outputWindow, 0..OUTPUT_WINDOW_SIZE-1
  uint32_t windowFull;          // 1 once the entry filled the window (flushed it whole): every
                                // distance (at most 32,768) stays inside the entry's own bytes;
                                // 0: only the first windowPos bytes are the entry's
  // Fixed-code tables, built on an entry's first fixed block, kept until ReleaseFixedTables
  BlockCodes fixed;
  int32_t fixedBuilt;           // 1 while fixedLiteralArea/fixedDistanceArea hold the fixed code
  uint32_t fixedBuilds;         // builds since the process began (FixedTableBuilds)
} InflateState;

static InflateState state;
static uint8_t codeLengths[LENGTH_CODES_LIMIT + DISTANCE_CODES];  // a dynamic block's lengths (316)
static uint8_t fixedLengths[LITERAL_CODES];
// Table areas, module-level so that no block allocates (46 KiB in all).
static CodeEntry dynamicLiteralArea[DYNAMIC_LITERAL_AREA];
static CodeEntry dynamicDistanceArea[DYNAMIC_DISTANCE_AREA];
static CodeEntry codeLengthArea[CODE_LENGTH_AREA];
static CodeEntry fixedLiteralArea[FIXED_LITERAL_AREA];
static CodeEntry fixedDistanceArea[FIXED_DISTANCE_AREA];

uint32_t FixedTableBuilds(void) { return state.fixedBuilds; }

static inline BitWord LowBits(BitWord value, uint32_t n) { return value & (((BitWord)1 << n) - 1); }

// ---- careful path: one byte at a time --------------------------------------

// Makes at least n (<= 16) bits available. Returns 0 when the input failed
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
    state.bitBuffer |= (BitWord)byte << state.bitCount;
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

// Decodes one code through table and its sub-tables. Returns 1 with its
// entry in *entry, or 0 for an invalid code, an empty table (a code set
// with no lengths, so nothing can be decoded) or a failed input.
static int DecodeSymbol(const CodeEntry *table, uint32_t tableBits, CodeEntry *entry) {
  if (tableBits == 0 || !NeedBits(tableBits)) return 0;
  CodeEntry e = table[LowBits(state.bitBuffer, tableBits)];
  while (EntryOp(e) > CODE_OP_LINK) {
    if (EntryOp(e) == CODE_OP_INVALID) return 0;
    uint32_t subBits = EntryOp(e) - CODE_OP_LINK;
    DropBits(EntryBits(e));
    if (!NeedBits(subBits)) return 0;
    e = table[EntryValue(e) + LowBits(state.bitBuffer, subBits)];
  }
  DropBits(EntryBits(e));
  *entry = e;
  return 1;
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

static inline BitWord LoadWord(const uint8_t *p) {
  BitWord w;
  memcpy(&w, p, sizeof w);  // little-endian host (x86), as the ZIP records assume
  return w;
}

// Copies length bytes from a source at least a word away from to (behind
// it, or ahead of it in the window's tail for a match that wraps): word by
// word; the last word ends at the copy's end and may rewrite bytes of the
// one before with the same values. Behind: each word's source is complete
// before it is read. Ahead: no word reads a byte already overwritten.
static inline void CopyWords(uint8_t *to, const uint8_t *from, uint32_t length) {
  enum { WORD = sizeof(BitWord) };
  if (length >= WORD) {
    uint8_t *last = to + length - WORD;
    const uint8_t *lastFrom = from + length - WORD;
    while (to < last) {
      memcpy(to, from, WORD);
      to += WORD;
      from += WORD;
    }
    memcpy(last, lastFrom, WORD);
  } else if (WORD == 8 && length >= 4) {
    // 4 to 7 bytes: two 4-byte copies that meet or overlap in the middle.
    uint32_t head, tail;
    memcpy(&head, from, 4);
    memcpy(&tail, from + length - 4, 4);
    memcpy(to, &head, 4);
    memcpy(to + length - 4, &tail, 4);
  } else if (length >= 2) {
    // 2 or 3 bytes: two 2-byte copies the same way.
    uint16_t head, tail;
    memcpy(&head, from, 2);
    memcpy(&tail, from + length - 2, 2);
    memcpy(to, &head, 2);
    memcpy(to + length - 2, &tail, 2);
  } else if (length == 1) {
    *to = *from;  // the rest of a short period's match
  }
}

// Copies a match of a distance shorter than a word from behind to
// (distance <= the write position), ending at least FAST_MAX_OUTPUT - 2
// bytes before the window's end. Writes nothing beyond the match: those
// window bytes are still history for later matches.
static inline void CopyFast(uint8_t *to, uint32_t distance, uint32_t length) {
  const uint8_t *from = to - distance;
  enum { WORD = sizeof(BitWord) };
  if (distance < WORD) {
    if (distance == 1) {
      // A run of one byte: the byte spread over a word, stored word by word.
      // The last store ends at the run's end and may overlap the one before.
      BitWord run = (BitWord)(*from) * (BitWord)(~(BitWord)0 / 0xFF);
      uint8_t *end = to + length;
      if (length >= WORD) {
        for (; end - to > WORD; to += WORD) memcpy(to, &run, WORD);
        memcpy(end - WORD, &run, WORD);
      } else if (length >= 4) {
        memcpy(to, &run, 4);
        memcpy(end - 4, &run, 4);
      } else {
        memcpy(to, &run, 2);
        memcpy(end - 2, &run, 2);
      }
      return;
    }
    // A short period: once its first bytes are out, the source may trail
    // by any multiple of the period, so take the first one of a word or more.
    uint32_t period = distance * ((WORD + distance - 1) / distance);
    uint32_t head = period - distance < length ? period - distance : length;
    for (uint32_t k = 0; k < head; k++) to[k] = from[k];
    to += head;
    length -= head;
    if (length == 0) return;
    from = to - period;
  }
  CopyWords(to, from, length);
}

// Decodes codes while FAST_MIN_INPUT input bytes of the budget and
// FAST_MAX_OUTPUT bytes of room in the window remain. Returns INFLATE_OK at
// the end of the block, INFLATE_CORRUPT on an invalid code or a distance
// before the entry's first byte, FAST_LEAVE otherwise.
//
// Bit budget per step: a refill leaves at least 56 bits (64-bit word); a
// literal/length code takes at most 15, its extra bits 5, so two literals
// and a length (15 + 15 + 20 = 50) fit one refill, and the distance code
// and its extra bits (15 + 13 = 28) the next. With a 32-bit word (24 bits
// after a refill) the step takes one literal or a length (20), then
// refills before the distance code and again before its extra bits.
static int DecodeCodesFast(const BlockCodes *codes) {
  const uint8_t *start;
  int32_t available = EntryInputPeek(&start);
  if (available < FAST_MIN_INPUT) return FAST_LEAVE;
  const uint8_t *in = start;
  const uint8_t *inLimit = start + available - FAST_MIN_INPUT;  // last position a step may start at
  BitWord bits = state.bitBuffer;
  uint32_t count = state.bitCount;
  uint8_t *window = storage.outputWindow;
  uint8_t *out = window + state.windowPos;
  uint8_t *const outLimit = window + OUTPUT_WINDOW_SIZE - FAST_MAX_OUTPUT;  // a step may start below it
  const uint32_t windowFull = state.windowFull;  // no flush happens in here
  const CodeEntry *literalTable = codes->literal;
  const CodeEntry *distanceTable = codes->distance;
  const BitWord literalMask = ((BitWord)1 << LITERAL_BITS) - 1;
  const BitWord distanceMask = ((BitWord)1 << DISTANCE_BITS) - 1;
  int result = FAST_LEAVE;

// Tops the buffer up with whole bytes: the word is loaded whatever count
// is, the pointer advances by the bytes that fit; bits above count that
// are already set are set again to the same values.
#define REFILL()                                   \
  do {                                             \
    bits |= LoadWord(in) << count;                 \
    in += (BITWORD_BITS - 1 - count) >> 3;         \
    count |= REFILL_MIN_BITS;                      \
  } while (0)
#define CONSUME(n)  \
  do {              \
    bits >>= (n);   \
    count -= (n);   \
  } while (0)

  while (in <= inLimit && out < outLimit) {
    REFILL();
    CodeEntry e = literalTable[bits & literalMask];
    if (BITWORD_BITS == 64 && EntryOp(e) == CODE_OP_LITERAL) {
      // Literals come in runs; a first-table literal takes at most 11 bits
      // of the 56, so two more lookups fit before the next refill, and
      // whatever the second one finds (up to 15 + 5 bits) as well.
      CONSUME(EntryBits(e));
      *out++ = (uint8_t)EntryValue(e);
      e = literalTable[bits & literalMask];
      if (EntryOp(e) == CODE_OP_LITERAL) {
        CONSUME(EntryBits(e));
        *out++ = (uint8_t)EntryValue(e);
        e = literalTable[bits & literalMask];
        if (EntryOp(e) == CODE_OP_LITERAL) {
          CONSUME(EntryBits(e));
          *out++ = (uint8_t)EntryValue(e);
          continue;
        }
      }
    }
    while (EntryOp(e) > CODE_OP_LINK) {  // sub-tables: a code takes at most 15 bits in all
      if (EntryOp(e) == CODE_OP_INVALID) {
        result = INFLATE_CORRUPT;
        goto done;
      }
      uint32_t subBits = EntryOp(e) - CODE_OP_LINK;
      CONSUME(EntryBits(e));
      e = literalTable[EntryValue(e) + LowBits(bits, subBits)];
    }
    CONSUME(EntryBits(e));
    if (EntryOp(e) == CODE_OP_LITERAL) {
      *out++ = (uint8_t)EntryValue(e);
      continue;
    }
    if (EntryOp(e) == CODE_OP_END_OF_BLOCK) {
      result = INFLATE_OK;
      goto done;
    }
    uint32_t length = EntryValue(e) + (uint32_t)LowBits(bits, EntryOp(e));
    CONSUME(EntryOp(e));

    REFILL();
    e = distanceTable[bits & distanceMask];
    while (EntryOp(e) > CODE_OP_LINK) {  // sub-tables: a code takes at most 15 bits in all
      if (EntryOp(e) == CODE_OP_INVALID) {
        result = INFLATE_CORRUPT;
        goto done;
      }
      uint32_t subBits = EntryOp(e) - CODE_OP_LINK;
      CONSUME(EntryBits(e));
      e = distanceTable[EntryValue(e) + LowBits(bits, subBits)];
    }
    CONSUME(EntryBits(e));
    if (BITWORD_BITS == 32) REFILL();
    uint32_t distance = EntryValue(e) + (uint32_t)LowBits(bits, EntryOp(e));
    CONSUME(EntryOp(e));

    uint32_t pos = (uint32_t)(out - window);
    // Before the window was full once, a source before position 0 lies
    // before the entry's first byte: corrupt. (Tested on windowFull first,
    // which is settled after the first 32 KiB, not on the distance.)
    if (!windowFull && distance > pos) {
      result = INFLATE_CORRUPT;
      goto done;
    }
    // The source, behind the output or (wrapped) in the window's tail,
    // the output of the previous window fill. The common case, whichever
    // it is: a word or more away from the output (distance at least a
    // word and at most a window less a word) and not running over the
    // window's end (a source behind the output never does).
    uint32_t from = (pos - distance) & WINDOW_MASK;
    if (distance - (uint32_t)sizeof(BitWord) <= (uint32_t)(OUTPUT_WINDOW_SIZE - 2 * sizeof(BitWord)) &&
        from + length <= OUTPUT_WINDOW_SIZE) {
      CopyWords(out, window + from, length);
      out += length;
      continue;
    }
    if (distance > pos) {
      // A wrapped source that runs over the window's end or nearly meets
      // the output: the general copy, which the room check keeps from the
      // flush point.
      state.windowPos = pos;
      CopyMatch(distance, length);
      out = window + state.windowPos;
      continue;
    }
    CopyFast(out, distance, length);  // a distance shorter than a word
    out += length;
  }
#undef REFILL
#undef CONSUME
done:
  EntryInputAdvance((int32_t)(in - start));
  state.bitBuffer = LowBits(bits, count);  // drop look-ahead bits above count
  state.bitCount = count;
  state.windowPos = (uint32_t)(out - window);
  return result;
}

// Builds a literal/length or distance code's tables with a first table of
// exactly width bits (0 for a code without lengths). The builder narrows
// the first table to the longest code; such a code has no sub-tables, so
// the table is repeated up to the full width, which the area has room for.
static int BuildBlockTable(const uint8_t *lengths, uint32_t count, uint32_t simpleCount, const uint16_t *bases,
                           const uint8_t *extras, CodeEntry *area, uint32_t capacity, uint32_t width,
                           uint32_t *tableBits) {
  uint32_t bits = width;
  int r = BuildDecodeTable(lengths, count, simpleCount, bases, extras, area, capacity, &bits);
  if (r > INFLATE_CORRUPT || bits == 0) {
    *tableBits = 0;
    return r;
  }
  for (uint32_t filled = 1u << bits; filled < (1u << width); filled *= 2) memcpy(area + filled, area, filled * sizeof *area);
  *tableBits = width;
  return r;
}

// ---- blocks --------------------------------------------------------------------

// 1 once the output sink refused a flush (the entry outgrew its declared
// size): matches can expand input a thousandfold, so decoding stops there
// instead of running on to the end of the stream.
static inline int SinkRefused(void) { return extraction.errorCode == ERR_INVALID_DATA; }

// Decodes literal/length and distance codes up to the end of the block.
// Returns INFLATE_OK at the end of the block, else INFLATE_CORRUPT.
static int DecodeCodes(const BlockCodes *codes) {
  for (;;) {
    if (SinkRefused()) return INFLATE_CORRUPT;
    if (codes->literalBits && codes->distanceBits &&
        state.windowPos < OUTPUT_WINDOW_SIZE - FAST_MAX_OUTPUT) {
      int fast = DecodeCodesFast(codes);
      if (fast != FAST_LEAVE) return fast;
    }
    CodeEntry e;
    if (!DecodeSymbol(codes->literal, codes->literalBits, &e)) return INFLATE_CORRUPT;
    if (EntryOp(e) == CODE_OP_LITERAL) {
      PutByte((uint8_t)EntryValue(e));
      continue;
    }
    if (EntryOp(e) == CODE_OP_END_OF_BLOCK) return INFLATE_OK;
    if (!NeedBits(EntryOp(e))) return INFLATE_CORRUPT;
    uint32_t length = EntryValue(e) + (uint32_t)LowBits(state.bitBuffer, EntryOp(e));
    DropBits(EntryOp(e));
    if (!DecodeSymbol(codes->distance, codes->distanceBits, &e) || !NeedBits(EntryOp(e))) return INFLATE_CORRUPT;
    uint32_t distance = EntryValue(e) + (uint32_t)LowBits(state.bitBuffer, EntryOp(e));
    DropBits(EntryOp(e));
    if (DistanceTooFar(distance, state.windowPos)) return INFLATE_CORRUPT;
    CopyMatch(distance, length);
  }
}

// Format notes: after the 3 header bits the block starts at the next byte
// boundary with LEN and NLEN (16 bits each, little-endian, NLEN = ~LEN),
// then LEN bytes as they are. LEN 0 is valid (used for flushing).
static int DecodeStoredBlock(void) {
  DropBits(state.bitCount & 7);
  if (!NeedBits(16)) return INFLATE_CORRUPT;
  uint32_t length = (uint32_t)LowBits(state.bitBuffer, 16);
  DropBits(16);
  if (!NeedBits(16)) return INFLATE_CORRUPT;
  uint32_t complement = (uint32_t)LowBits(state.bitBuffer, 16);
  DropBits(16);
  if (length != (~complement & 0xFFFF)) return INFLATE_CORRUPT;
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
  if (!state.fixedBuilt) {
    for (int i = 0; i < 144; i++) fixedLengths[i] = 8;
    for (int i = 144; i < 256; i++) fixedLengths[i] = 9;
    for (int i = 256; i < 280; i++) fixedLengths[i] = 7;
    for (int i = 280; i < LITERAL_CODES; i++) fixedLengths[i] = 8;
    uint32_t literalBits, distanceBits;
    int r = BuildBlockTable(fixedLengths, LITERAL_CODES, 257, kLengthBase, kLengthExtra, fixedLiteralArea,
                            FIXED_LITERAL_AREA, LITERAL_BITS, &literalBits);
    if (r != INFLATE_OK) return r;
    for (int i = 0; i < DISTANCE_CODES; i++) fixedLengths[i] = 5;
    r = BuildBlockTable(fixedLengths, DISTANCE_CODES, 0, kDistanceBase, kDistanceExtra, fixedDistanceArea,
                        FIXED_DISTANCE_AREA, DISTANCE_BITS, &distanceBits);
    if (r > INFLATE_CORRUPT) return r;
    state.fixed.literal = fixedLiteralArea;
    state.fixed.literalBits = literalBits;
    state.fixed.distance = fixedDistanceArea;
    state.fixed.distanceBits = distanceBits;
    state.fixedBuilt = 1;
    state.fixedBuilds++;
  }
  return DecodeCodes(&state.fixed) != 0 ? INFLATE_CORRUPT : INFLATE_OK;
}

// Reads the literal/length and distance code lengths of a dynamic block
// into codeLengths through the code-length code. Returns a block result.
static int ReadCodeLengths(uint32_t total) {
  const CodeEntry *table = codeLengthArea;
  uint32_t tableBits = CODE_LENGTH_BITS;
  int r = BuildDecodeTable(codeLengths, CODE_LENGTH_CODES, CODE_LENGTH_CODES, 0, 0, codeLengthArea,
                           CODE_LENGTH_AREA, &tableBits);
  if (r != INFLATE_OK) return r;
  uint32_t i = 0;
  uint8_t previous = 0;  // a repeat before any length repeats 0
  while (i < total) {
    // An empty code-length code, or the left-over code of a code-length
    // code with a single code of length 1, decodes nothing: corrupt.
    CodeEntry e;
    if (!DecodeSymbol(table, tableBits, &e)) break;
    uint32_t symbol = EntryValue(e), repeat;
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

  BlockCodes codes;
  codes.literal = dynamicLiteralArea;
  codes.distance = dynamicDistanceArea;
  r = BuildBlockTable(codeLengths, literalCount, 257, kLengthBase, kLengthExtra, dynamicLiteralArea,
                      DYNAMIC_LITERAL_AREA, LITERAL_BITS, &codes.literalBits);
  if (r != INFLATE_OK) return r;
  // An incomplete distance code is refused, except a single code of length
  // 1, which the builder reports as complete. All lengths 0 is accepted
  // (a block of literals only); a match in it then finds no table.
  r = BuildBlockTable(codeLengths + literalCount, distanceCount, 0, kDistanceBase, kDistanceExtra,
                      dynamicDistanceArea, DYNAMIC_DISTANCE_AREA, DISTANCE_BITS, &codes.distanceBits);
  if (r != INFLATE_OK) return r;
  return DecodeCodes(&codes) != INFLATE_OK ? INFLATE_CORRUPT : INFLATE_OK;
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
  state.fixedBuilt = 0;
  return 0;
}
