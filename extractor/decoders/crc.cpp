// CRC-32 of ZIP. storage.crcTable is the classic one-byte table (the cipher
// reads it too). UpdateCrc has two bulk paths that give the same register
// as the byte loop:
//   - carry-less multiplication (x86 PCLMULQDQ), chosen once per run by
//     CPUID in BuildCrcTable: the data are folded 128 bytes per step and
//     reduced to 32 bits at the end (several times the table's speed);
//   - "slicing by 16" over fifteen further tables derived from the byte
//     table, everywhere else (and for short buffers).
// Neither calls the C library: the extractor has no C runtime. With
// OSTREL_SIZE_OVER_SPEED (the Windows extractor, whose image the packed
// stage carries) the slicing tables and their loop are left out: the fold
// covers the bulk wherever the CPU has PCLMULQDQ (every x86 CPU since
// about 2011), the byte loop the rest; the packed stage is 300 bytes smaller.
#include "extractor/decoders/crc.h"

#include <string.h>

#include "extractor/zip/state.h"

#if defined(__x86_64__) || defined(__i386__)
#define CRC_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define CRC_CLMUL 0
#endif

#ifndef OSTREL_SIZE_OVER_SPEED
#define OSTREL_SIZE_OVER_SPEED 0
#endif

enum {
  CRC_POLYNOMIAL = 0xEDB88320u,
  CRC_SLICES = 16,
  // Below this many bytes the fold's fixed cost (loading constants, the
  // final reduction) is not repaid: the table path runs.
  CRC_FOLD_MIN = 64
};

// sliceTable[s][n]: the register change of byte n followed by s zero bytes.
// Built by BuildCrcTable from storage.crcTable; sliceReady says it is.
static uint32_t sliceTable[OSTREL_SIZE_OVER_SPEED ? 1 : (int)CRC_SLICES][CRC_TABLE_ENTRIES];
static int sliceReady;
static int foldReady;  // 1: the CPU has PCLMULQDQ (found by BuildCrcTable)

#if CRC_CLMUL
// Format notes (carry-less folding, bit-reflected as ZIP's CRC is): a
// 128-bit lane A followed by D further bits of data has the same CRC as
// A.low * (x^(D+32) mod P) XOR A.high * (x^(D-32) mod P) added to those D
// bits, each constant bit-reflected and shifted left by one (so that the
// 64 x 33-bit product lands where the reflected data are). Eight lanes run
// side by side (D = 1024) to cover the multiplier's latency; they are then
// folded into one (D = 128), the 128 bits to 64 (x^64), and a Barrett
// reduction by P (0x1DB710641) with mu = x^64 / P (0x1F7011641) leaves the
// register in bits 32..63. The constants were computed with a short
// polynomial-arithmetic script and are checked by the tests against zlib.
#if defined(__i386__)
// 32-bit Windows guarantees only 4-byte stack alignment; 128-bit spills need 16.
#define CRC_FOLD_ATTRIBUTES __attribute__((target("pclmul,sse2"), force_align_arg_pointer))
#else
#define CRC_FOLD_ATTRIBUTES __attribute__((target("pclmul,sse2")))
#endif

// Constant pair as one 128-bit value: low in bits 0..63, high in 64..127.
#define CRC_PAIR(low, high) \
  _mm_set_epi32((int)((high) >> 32), (int)((high)&0xFFFFFFFFu), (int)((low) >> 32), (int)((low)&0xFFFFFFFFu))

CRC_FOLD_ATTRIBUTES static inline __m128i Fold(__m128i lane, __m128i constants, __m128i data) {
  __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// length >= 16 and a multiple of 16.
CRC_FOLD_ATTRIBUTES static uint32_t FoldCrc(uint32_t crc, const uint8_t *p, uint32_t length) {
  const __m128i k1024 = CRC_PAIR(0x1E88EF372ull, 0x14A7FE880ull);
  const __m128i k128 = CRC_PAIR(0x1751997D0ull, 0x0CCAA009Eull);
  __m128i x = _mm_xor_si128(_mm_loadu_si128((const __m128i *)p), _mm_cvtsi32_si128((int)crc));
  p += 16;
  length -= 16;
  if (length >= 112) {
    __m128i lane[8];
    lane[0] = x;
    for (int i = 1; i < 8; i++) lane[i] = _mm_loadu_si128((const __m128i *)(p + 16 * (i - 1)));
    p += 112;
    length -= 112;
    while (length >= 128) {
      for (int i = 0; i < 8; i++) lane[i] = Fold(lane[i], k1024, _mm_loadu_si128((const __m128i *)(p + 16 * i)));
      p += 128;
      length -= 128;
    }
    x = lane[0];
    for (int i = 1; i < 8; i++) x = Fold(x, k128, lane[i]);
  }
  for (; length >= 16; p += 16, length -= 16) x = Fold(x, k128, _mm_loadu_si128((const __m128i *)p));

  // 128 -> 64 bits: the low half times x^(128-32), added to the high half;
  // then 64 -> 32 + 32 with x^64.
  const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);
  x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, k128, 0x10));
  const __m128i k64 = CRC_PAIR(0x163CD6124ull, 0ull);
  x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), k64, 0x00));
  // Barrett reduction.
  const __m128i barrett = CRC_PAIR(0x1DB710641ull, 0x1F7011641ull);
  __m128i t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10), low32);
  t = _mm_clmulepi64_si128(t, barrett, 0x00);
  x = _mm_xor_si128(x, t);
  return (uint32_t)_mm_cvtsi128_si32(_mm_srli_si128(x, 4));
}

static int CpuHasClmul(void) {
  unsigned int a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}
#endif

void BuildCrcTable(void) {
  uint32_t *table = storage.crcTable;
  for (uint32_t n = 0; n < CRC_TABLE_ENTRIES; n++) {
    uint32_t c = n;
    for (int step = 0; step < 8; step++) c = (c & 1) ? (c >> 1) ^ CRC_POLYNOMIAL : c >> 1;
    table[n] = c;
    sliceTable[0][n] = c;
  }
  if (!OSTREL_SIZE_OVER_SPEED) {
    for (uint32_t n = 0; n < CRC_TABLE_ENTRIES; n++)
      for (uint32_t s = 1; s < CRC_SLICES; s++)
        sliceTable[s][n] = (sliceTable[s - 1][n] >> 8) ^ sliceTable[0][sliceTable[s - 1][n] & 0xFF];
    sliceReady = 1;
  }
#if CRC_CLMUL
  foldReady = CpuHasClmul();
#endif
}

void CrcForceTablePath(int on) {
#if CRC_CLMUL
  foldReady = on ? 0 : CpuHasClmul();
#else
  (void)on;
#endif
}

static inline uint32_t Load32(const uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);  // a plain load; little-endian host (x86), as the ZIP records assume
  return v;
}

uint32_t UpdateCrc(uint32_t crc, const uint8_t *buffer, int32_t length) {
  if (length <= 0) return crc;
  const uint32_t *table = storage.crcTable;
  const uint8_t *p = buffer;
  const uint8_t *end = buffer + length;
#if CRC_CLMUL
  if (foldReady && length >= (int32_t)CRC_FOLD_MIN) {
    uint32_t bulk = (uint32_t)length & ~15u;
    crc = FoldCrc(crc, p, bulk);
    p += bulk;
  }
#endif
  if (!OSTREL_SIZE_OVER_SPEED && sliceReady) {
    // Four 32-bit words per step (no 64-bit arithmetic, which a 32-bit
    // build would emulate); byte i of the sixteen is followed by 15 - i
    // others, hence its table.
    while (end - p >= 16) {
      uint32_t w0 = Load32(p) ^ crc, w1 = Load32(p + 4), w2 = Load32(p + 8), w3 = Load32(p + 12);
      crc = sliceTable[15][w0 & 0xFF] ^ sliceTable[14][(w0 >> 8) & 0xFF] ^ sliceTable[13][(w0 >> 16) & 0xFF] ^
            sliceTable[12][w0 >> 24] ^ sliceTable[11][w1 & 0xFF] ^ sliceTable[10][(w1 >> 8) & 0xFF] ^
            sliceTable[9][(w1 >> 16) & 0xFF] ^ sliceTable[8][w1 >> 24] ^ sliceTable[7][w2 & 0xFF] ^
            sliceTable[6][(w2 >> 8) & 0xFF] ^ sliceTable[5][(w2 >> 16) & 0xFF] ^ sliceTable[4][w2 >> 24] ^
            sliceTable[3][w3 & 0xFF] ^ sliceTable[2][(w3 >> 8) & 0xFF] ^ sliceTable[1][(w3 >> 16) & 0xFF] ^
            sliceTable[0][w3 >> 24];
      p += 16;
    }
  }
  while (p < end) crc = table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}
