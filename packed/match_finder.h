// LZ77 match finder of the stage encoder over a buffer that starts with
// STAGE_WINDOW_SIZE zero bytes: one binary search tree per 2-byte key.
//
// Each tree orders the positions of the window that start with its key by
// the bytes that follow, newest at the root; inserting a position walks from
// the root towards the positions sharing the longest prefix with it and
// splits the tree around it. The walk meets, for every length, the nearest
// position reaching that length, which is what the optimal parse wants, at
// a cost close to a logarithm of the window rather than its size. Nodes
// older than the window are cut off on the way (all their descendants are
// older still).
//
// The zero prefix mirrors the decoder's zero-filled window: a match may
// reach up to 8192 bytes back from any position, and before the first byte
// of the image it copies zeros. Putting those zeros in front of the data lets
// the finder use that for free, which pays on executables that begin with
// runs of zeros inside their headers.
//
// Native only (builder, tests, benchmarks).
#ifndef OSTREL_PACKED_MATCH_FINDER_H
#define OSTREL_PACKED_MATCH_FINDER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

enum {
  MATCH_MAX_LENGTH = 260,   // longest copy any match can make (base 258 at D 8192)
  MATCH_MAX_DISTANCE = 8192, // farthest distance a slot below 14 reaches
  MATCH_PREFIX_KEPT = 1024   // positions of the zero prefix put into the trees (its tail)
};

typedef struct MatchCandidate {
  int32_t length;    // bytes that agree, at most the finder's limit
  uint32_t distance; // 1 … MATCH_MAX_DISTANCE
} MatchCandidate;

typedef struct MatchFinder {
  const uint8_t *buffer;       // zero prefix followed by the data; not owned
  int32_t end;                 // buffer positions in use (prefix + data)
  int32_t inserted;            // positions below this are in the trees
  int32_t maxChain;            // tree nodes visited per search at most
  std::vector<int32_t> head;   // 65536 entries: root (newest position) of each key's tree, -1 none
  std::vector<int32_t> left;   // per position: subtree of positions whose bytes sort lower, -1 none
  std::vector<int32_t> right;  // per position: subtree of positions whose bytes sort higher, -1 none
} MatchFinder;

// Prepares the finder over buffer[0 … end-1] (the first STAGE_WINDOW_SIZE
// bytes must be zero) and inserts the zero prefix.
void MatchFinderInit(MatchFinder *finder, const uint8_t *buffer, int32_t end, int32_t maxChain);
// Inserts every position below pos that is not in the trees yet.
void MatchFinderSkip(MatchFinder *finder, int32_t pos);
// Inserts positions up to pos and lists the matches at pos, each longer
// than the one before and at the nearest distance reaching its length.
// Lengths are capped at min(MATCH_MAX_LENGTH, end - pos).
// Returns the number of candidates written to out (0 when none of 2+ bytes).
int32_t MatchFinderFind(MatchFinder *finder, int32_t pos, MatchCandidate *out);

#endif
