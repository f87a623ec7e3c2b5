// Hash-chain match finder; see match_finder.h.
#include "packed/match_finder.h"

#include "packed/stage_decoder.h"

static inline uint32_t KeyAt(const uint8_t *buffer, int32_t pos) {
  return (uint32_t)buffer[pos] | (uint32_t)buffer[pos + 1] << 8;
}

void MatchFinderInit(MatchFinder *finder, const uint8_t *buffer, int32_t end, int32_t maxChain) {
  finder->buffer = buffer;
  finder->end = end;
  finder->inserted = 0;
  finder->maxChain = maxChain < 1 ? 1 : maxChain;
  finder->head.assign(65536, -1);
  finder->prev.assign((size_t)end, -1);
  MatchFinderSkip(finder, end < STAGE_WINDOW_SIZE ? end : STAGE_WINDOW_SIZE);
}

void MatchFinderSkip(MatchFinder *finder, int32_t pos) {
  // The last position has no second byte; it never starts a match anyway.
  int32_t last = finder->end - 1;
  if (pos > last) pos = last;
  for (int32_t i = finder->inserted; i < pos; i++) {
    uint32_t key = KeyAt(finder->buffer, i);
    finder->prev[(size_t)i] = finder->head[key];
    finder->head[key] = i;
  }
  if (pos > finder->inserted) finder->inserted = pos;
}

int32_t MatchFinderFind(MatchFinder *finder, int32_t pos, MatchCandidate *out) {
  MatchFinderSkip(finder, pos);
  int32_t limit = finder->end - pos;
  if (limit > MATCH_MAX_LENGTH) limit = MATCH_MAX_LENGTH;
  if (limit < 2) return 0;
  const uint8_t *buffer = finder->buffer;
  const uint8_t *here = buffer + pos;
  int32_t count = 0;
  int32_t best = 1;
  int32_t lowest = pos - MATCH_MAX_DISTANCE;
  int32_t chain = finder->maxChain;
  for (int32_t c = finder->head[KeyAt(buffer, pos)]; c >= 0 && c >= lowest && chain-- > 0;
       c = finder->prev[(size_t)c]) {
    const uint8_t *there = buffer + c;
    // Cheap reject: a longer match must agree at the byte that would extend it.
    if (there[best] != here[best]) continue;
    int32_t length = 2;
    while (length < limit && there[length] == here[length]) length++;
    if (length <= best) continue;
    best = length;
    out[count].length = length;
    out[count].distance = (uint32_t)(pos - c);
    count++;
    if (length >= limit) break;
  }
  return count;
}
