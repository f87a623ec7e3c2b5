// Binary-tree match finder; see match_finder.h.
#include "packed/match_finder.h"

#include "packed/stage_decoder.h"

static inline uint32_t KeyAt(const uint8_t *buffer, int32_t pos) {
  return (uint32_t)buffer[pos] | (uint32_t)buffer[pos + 1] << 8;
}

// Inserts pos into its key's tree and, when out is given, lists the matches
// met on the way. Returns the number listed.
static int32_t InsertPosition(MatchFinder *finder, int32_t pos, MatchCandidate *out) {
  const uint8_t *buffer = finder->buffer;
  const uint8_t *here = buffer + pos;
  int32_t limit = finder->end - pos;
  if (limit > MATCH_MAX_LENGTH) limit = MATCH_MAX_LENGTH;
  uint32_t key = KeyAt(buffer, pos);
  int32_t c = finder->head[key];
  finder->head[key] = pos;
  // lower/higher: the link to fill next with a position sorting below/above
  // pos; lowerLength/higherLength: bytes those positions share with pos
  // (every position of the tree shares the 2 key bytes).
  int32_t *lower = &finder->left[(size_t)pos];
  int32_t *higher = &finder->right[(size_t)pos];
  int32_t lowerLength = 2, higherLength = 2;
  int32_t best = 1, count = 0;
  int32_t visits = finder->maxChain;
  for (;;) {
    if (c < 0 || pos - c > MATCH_MAX_DISTANCE || visits-- == 0) {
      *lower = *higher = -1;
      break;
    }
    const uint8_t *there = buffer + c;
    int32_t length = lowerLength < higherLength ? lowerLength : higherLength;
    while (length < limit && there[length] == here[length]) length++;
    if (length > best) {
      best = length;
      if (out) {
        out[count].length = length;
        out[count].distance = (uint32_t)(pos - c);
        count++;
      }
    }
    if (length >= limit) {
      // c equals pos as far as pos can be compared: pos takes its place.
      *lower = finder->left[(size_t)c];
      *higher = finder->right[(size_t)c];
      break;
    }
    if (there[length] < here[length]) {
      *lower = c;
      lower = &finder->right[(size_t)c];
      c = *lower;
      lowerLength = length;
    } else {
      *higher = c;
      higher = &finder->left[(size_t)c];
      c = *higher;
      higherLength = length;
    }
  }
  return count;
}

void MatchFinderInit(MatchFinder *finder, const uint8_t *buffer, int32_t end, int32_t maxChain) {
  finder->buffer = buffer;
  finder->end = end;
  finder->inserted = 0;
  finder->maxChain = maxChain < 1 ? 1 : maxChain;
  finder->head.assign(65536, -1);
  finder->left.assign((size_t)end, -1);
  finder->right.assign((size_t)end, -1);
  // Of the zero prefix only its tail goes into the trees: zeros are all
  // alike, so a farther zero position offers no match a nearer one lacks as
  // long as the tail is longer than the longest match, and inserting all
  // 8192 would cost a 260-byte comparison each.
  finder->inserted = STAGE_WINDOW_SIZE - MATCH_PREFIX_KEPT;
  MatchFinderSkip(finder, end < STAGE_WINDOW_SIZE ? end : STAGE_WINDOW_SIZE);
}

void MatchFinderSkip(MatchFinder *finder, int32_t pos) {
  // The last position has no second byte; it never starts a match anyway.
  int32_t last = finder->end - 1;
  if (pos > last) pos = last;
  for (int32_t i = finder->inserted; i < pos; i++) InsertPosition(finder, i, nullptr);
  if (pos > finder->inserted) finder->inserted = pos;
}

int32_t MatchFinderFind(MatchFinder *finder, int32_t pos, MatchCandidate *out) {
  MatchFinderSkip(finder, pos);
  if (finder->end - pos < 2) return 0;
  finder->inserted = pos + 1;
  return InsertPosition(finder, pos, out);
}
