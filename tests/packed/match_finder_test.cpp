// The match finder against a brute-force search: every candidate it lists
// must really match, lengths must grow, and with an unlimited walk the
// longest match and its nearest distance must be found, zero prefix
// included.
#include <gtest/gtest.h>

#include <random>

#include "packed/match_finder.h"
#include "packed/stage_decoder.h"

namespace {

TEST(MatchFinder, AgreesWithBruteForce) {
  // Small alphabet so that matches of every length and distance occur;
  // a few long repeats and zero runs reach the length cap.
  std::mt19937 random(21);
  std::vector<uint8_t> buffer(STAGE_WINDOW_SIZE, 0);
  while (buffer.size() < STAGE_WINDOW_SIZE + 12000u) {
    uint32_t kind = random() % 10;
    if (kind == 0 && buffer.size() > STAGE_WINDOW_SIZE + 9000u) {
      size_t from = buffer.size() - 1 - random() % 9000, length = random() % 400;
      for (size_t k = 0; k < length; k++) buffer.push_back(buffer[from + k]);
    } else if (kind == 1) {
      buffer.insert(buffer.end(), random() % 300, 0);
    } else {
      buffer.push_back((uint8_t)(random() % 4));
    }
  }
  const int32_t end = (int32_t)buffer.size();
  MatchFinder finder;
  MatchFinderInit(&finder, buffer.data(), end, 1 << 20);
  MatchCandidate cands[MATCH_MAX_LENGTH];
  // Every 61st position is searched (the brute force is slow under ASan);
  // the others are inserted on the way.
  for (int32_t pos = STAGE_WINDOW_SIZE; pos < end; pos += 61) {
    int32_t count = MatchFinderFind(&finder, pos, cands);
    int32_t limit = end - pos < MATCH_MAX_LENGTH ? end - pos : MATCH_MAX_LENGTH;
    // Brute force: longest match within the window, nearest first.
    int32_t bestLength = 1;
    uint32_t bestDistance = 0;
    for (uint32_t d = 1; d <= MATCH_MAX_DISTANCE; d++) {
      int32_t length = 0;
      while (length < limit && buffer[(size_t)pos - d + (size_t)length] == buffer[(size_t)pos + (size_t)length])
        length++;
      if (length > bestLength) {
        bestLength = length;
        bestDistance = d;
      }
    }
    int32_t previous = 1;
    for (int32_t c = 0; c < count; c++) {
      ASSERT_GT(cands[c].length, previous) << pos;
      ASSERT_LE(cands[c].length, limit) << pos;
      ASSERT_GE(cands[c].distance, 1u);
      ASSERT_LE(cands[c].distance, (uint32_t)MATCH_MAX_DISTANCE);
      for (int32_t k = 0; k < cands[c].length; k++)
        ASSERT_EQ(buffer[(size_t)pos - cands[c].distance + (size_t)k], buffer[(size_t)pos + (size_t)k])
            << "position " << pos << " candidate " << c;
      previous = cands[c].length;
    }
    if (bestLength >= 2) {
      ASSERT_GT(count, 0) << pos;
      ASSERT_EQ(cands[count - 1].length, bestLength) << pos;
      ASSERT_EQ(cands[count - 1].distance, bestDistance) << pos;
    } else {
      ASSERT_EQ(count, 0) << pos;
    }
  }
}

}  // namespace
