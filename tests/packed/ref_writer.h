// Writes symbols with the reference model, so tests can build streams
// symbol by symbol without the encoder under test: each call appends the
// code the decoder must read next and updates the reference tree.
#ifndef OSTREL_TESTS_PACKED_REF_WRITER_H
#define OSTREL_TESTS_PACKED_REF_WRITER_H

#include <vector>

#include "tests/packed/reference_decoder.h"
#include "tests/packed/stage_test_util.h"

struct RefWriter {
  TestBits bits;
  RefModel literals{512, 1024, 9};
  RefModel distances{30, 256, 4};

  explicit RefWriter(int32_t header) : bits(header) {}

  void PutPath(const RefModel &model, int node) {
    std::vector<int> path;
    for (int i = node; model.list[(size_t)i].parent >= 0; i = model.list[(size_t)i].parent)
      path.push_back(i - model.list[(size_t)model.list[(size_t)i].parent].link);
    for (size_t k = path.size(); k-- > 0;) bits.Put((uint32_t)path[k], 1);
  }
  // The code of s: its path, or the escape's path and s raw.
  void Symbol(RefModel &model, int s) {
    if (model.Present(s)) {
      PutPath(model, model.where[(size_t)s]);
    } else {
      PutPath(model, model.where[(size_t)model.n + 1]);
      bits.Put((uint32_t)s, model.escapeBits);
      model.Insert(s);
    }
    model.Update(s);
  }
  // An escape carrying s whether or not s is present (a damaged stream).
  void ForcedEscape(const RefModel &model, int s) {
    PutPath(model, model.where[(size_t)model.n + 1]);
    bits.Put((uint32_t)s, model.escapeBits);
  }
  void Literal(int byte) { Symbol(literals, byte); }
  // A match of base length `base` in slot `slot` with its extra bits.
  void Match(int base, int slot, uint32_t extra) {
    Symbol(literals, base + 254);
    Symbol(distances, slot);
    if (slot > 1) bits.Put(extra, slot - 1);
  }
};

#endif
