// A small, slow decoder of the packed stage written afresh from the format
// (the notes in packed/model.h and packed/stage_decoder.h), sharing no code
// with packed/model.cpp and packed/stage_decoder.cpp:
// its own tree, a bit cursor over a byte vector, output into one growing
// vector (no window, no blocks). Used as the oracle of the tests.
#ifndef OSTREL_TESTS_PACKED_REFERENCE_DECODER_H
#define OSTREL_TESTS_PACKED_REFERENCE_DECODER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "packed/stage_decoder.h"

struct RefNode {
  uint32_t weight;  // frequency
  int parent;       // -1 root
  bool leaf;        // leaf or internal
  int link;         // symbol, or first child
};

// One adaptive model: the tree as a weight-ordered list.
struct RefModel {
  RefModel(int n, uint32_t rescaleWeight, int escapeBits);
  bool Insert(int s);                     // false when s cannot be inserted
  void Update(int s);                     // weight +1 along the path, rescale first at the limit
  int Depth(int s) const;                 // code length of a present symbol
  bool Present(int s) const { return where[s] >= 0; }
  // Checks the ordering, sum and linkage invariants; returns an empty
  // string or a description of the first violation.
  const char *Check() const;

  int n;                    // ordinary symbols; n itself is present from the start
  uint32_t limit;           // rescale weight
  int escapeBits;           // raw bits after an escape
  std::vector<RefNode> list;// nodes in use (list.size() = node count)
  std::vector<int> where;   // leaf position of each symbol, -1 absent

 private:
  void Halve();
  void SwapPositions(int a, int b);
};

struct RefResult {
  StageStatus status;           // as the fast decoder would report
  int32_t declared;             // header
  std::vector<uint8_t> output;  // every byte produced (a final match in full)
  size_t consumed;              // bytes fetched, header included
};

// Decodes a whole stage held in memory.
RefResult ReferenceDecode(const std::vector<uint8_t> &stage);

#endif
