// Adaptive Huffman model and MSB-first bit reader of the packed stage.
//
// Encoder and decoder start every model from the same three-node tree and
// change it identically after each symbol, so no code table travels in the
// stream. A symbol the tree has not seen yet is sent as the escape symbol
// followed by its value in escapeBits raw bits, and is inserted then.
//
// The tree is kept as a sibling-ordered list (node 0 is the root, weights
// never increase along the list, the two children of an internal node are
// adjacent). An increment moves a node in front of the block of nodes that
// became lighter than it, which keeps the order without a search for the
// "highest node of equal weight" of textbook FGK.
//
// This file is compiled into the stub: no C runtime, no constructors, no
// exceptions; memory comes from StageAlloc/StageFree.
#ifndef OSTREL_PACKED_MODEL_H
#define OSTREL_PACKED_MODEL_H

#include <stdint.h>

typedef struct ModelNode {
  uint32_t weight;  // frequency count; never above the model's rescaleWeight
  int32_t parent;   // index of the parent node; -1 for the root only
  int32_t isLeaf;   // 1 leaf, 0 internal node
  int32_t link;     // leaf: symbol value; internal: first child (bit 0), link+1 is bit 1
} ModelNode;

typedef struct AdaptiveModel {
  int32_t escapeBits;      // raw bits after an escape: 9 literal/length, 4 distance
  uint32_t rescaleWeight;  // root weight at which all weights are halved
  int32_t escapeSymbol;    // n+1 for n ordinary symbols
  int32_t *leafIndex;      // n+2 entries: node of each symbol's leaf, -1 while absent
  int32_t nodeCount;       // nodes in use, 3 … 2n+3; node nodeCount-1 is the lightest leaf
  ModelNode *nodes;        // 2n+3 nodes: a leaf per symbol plus the internal nodes
} AdaptiveModel;

// One bit reader per decoding run (module-level, like the stub's file state).
typedef struct BitReader {
  int32_t (*read)(void *, uint8_t *, int32_t);  // a StageReadFn, asked for 1 byte per call
  void *context;       // handed to read
  uint32_t current;    // byte whose bits are being consumed (0 … 255)
  uint32_t mask;       // next bit of current; 0x80 also means "fetch a byte first"
  int32_t atEnd;       // 1 once a fetch found no byte (end or failure of the source)
  int64_t consumed;    // bytes fetched so far
} BitReader;

extern BitReader bitReader;

// Format notes:
// - Bits are taken from each byte most significant first; a byte is fetched
//   only when its first bit is needed, so a stream whose last symbol ends
//   inside a byte never causes a fetch of the next one.
// - A fetch that yields no byte leaves current unchanged (the bits of the
//   last byte repeat) and sets atEnd; a well-formed stream never gets there.
//   atEnd is sticky, so callers check it once per symbol.

// Points the bit reader at a source: current 0, mask 0x80, nothing consumed.
void BitReaderReset(int32_t (*read)(void *, uint8_t *, int32_t), void *context);
// Reads n bits (0 … 32), the first bit read becoming the most significant.
// Returns the value; 0 at once for n = 0, without touching the reader.
uint32_t ReadBits(int32_t n);

// Allocates the arrays for n ordinary symbols and sets up the initial tree:
// root (weight 2) over symbol n (bit 0) and the escape n+1 (bit 1), both of
// weight 1; every other symbol absent.
// Returns 1 when both arrays exist; 0 otherwise (nothing is left allocated).
int ModelInit(AdaptiveModel *model, int32_t n, uint32_t rescaleWeight, int32_t escapeBits);
// Releases whichever arrays exist and clears the pointers; safe to repeat.
void ModelRelease(AdaptiveModel *model);
// Decodes one symbol from bitReader, inserting an escaped symbol and
// updating the weights.
// Returns the symbol (0 … n); -1 when the stream asked to insert a symbol
// that is present or beyond the arrays (the model is then left unchanged
// by the refused insert and must not be used further).
int32_t ModelDecode(AdaptiveModel *model);
// Splits the lightest leaf into itself and a new zero-weight leaf for s.
// Returns 1 when s was inserted; 0 when s is present already, is not an
// ordinary symbol below n, or the node array is full.
int ModelInsert(AdaptiveModel *model, int32_t s);
// Adds 1 to the weight of s's leaf and of every node above it, keeping the
// list ordered; rescales first when the root weight equals rescaleWeight.
// s must be present.
void ModelIncrement(AdaptiveModel *model, int32_t s);
// Swaps the subtrees at positions i and j; each position keeps its parent.
void ModelExchange(AdaptiveModel *model, int32_t i, int32_t j);
// Halves every leaf weight (rounding up, so 1 stays 1 and 0 stays 0) and
// rebuilds the internal nodes in sibling order.
void ModelRescale(AdaptiveModel *model);

#endif
