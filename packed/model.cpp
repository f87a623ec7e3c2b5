// Adaptive Huffman model and bit reader; see model.h for the tree layout.
//
// Part of the stub: keep it free of C runtime calls. Loops that clear or
// move memory are written out by hand, and packed/CMakeLists.txt stops GCC
// from turning them back into memset/memmove calls.
#include "packed/model.h"

#include "packed/stage_decoder.h"

BitReader bitReader;

void BitReaderReset(int32_t (*read)(void *, uint8_t *, int32_t), void *context) {
  bitReader.read = read;
  bitReader.context = context;
  bitReader.current = 0;
  bitReader.mask = 0x80;
  bitReader.atEnd = 0;
  bitReader.consumed = 0;
}

uint32_t ReadBits(int32_t n) {
  BitReader *r = &bitReader;
  uint32_t result = 0;
  while (n-- > 0) {
    if (r->mask == 0x80) {
      uint8_t byte;
      if (r->read(r->context, &byte, 1) == 1) {
        r->current = byte;
        r->consumed++;
      } else {
        r->atEnd = 1;  // current keeps the last byte; the caller stops at the symbol's end
      }
    }
    result = (result << 1) | ((r->current & r->mask) != 0);
    r->mask >>= 1;
    if (r->mask == 0) r->mask = 0x80;
  }
  return result;
}

static void SetNode(ModelNode *node, uint32_t weight, int32_t parent, int32_t isLeaf, int32_t link) {
  node->weight = weight;
  node->parent = parent;
  node->isLeaf = isLeaf;
  node->link = link;
}

int ModelInit(AdaptiveModel *model, int32_t n, uint32_t rescaleWeight, int32_t escapeBits) {
  model->nodes = (ModelNode *)StageAlloc((uint32_t)(2 * n + 3) * (uint32_t)sizeof(ModelNode));
  model->leafIndex = (int32_t *)StageAlloc((uint32_t)(n + 2) * (uint32_t)sizeof(int32_t));
  if (!model->nodes || !model->leafIndex) {
    ModelRelease(model);
    return 0;
  }
  model->escapeBits = escapeBits;
  model->rescaleWeight = rescaleWeight;
  model->escapeSymbol = n + 1;
  SetNode(&model->nodes[0], 2, -1, 0, 1);
  SetNode(&model->nodes[1], 1, 0, 1, n);
  SetNode(&model->nodes[2], 1, 0, 1, n + 1);
  model->nodeCount = 3;
  for (int32_t s = 0; s < n; s++) model->leafIndex[s] = -1;
  model->leafIndex[n] = 1;
  model->leafIndex[n + 1] = 2;
  return 1;
}

void ModelRelease(AdaptiveModel *model) {
  if (model->nodes) StageFree(model->nodes);
  if (model->leafIndex) StageFree(model->leafIndex);
  model->nodes = 0;
  model->leafIndex = 0;
}

int ModelInsert(AdaptiveModel *model, int32_t s) {
  // Symbols n and n+1 are present from the start, so the presence test also
  // refuses them; the node bound can only be reached by a damaged model.
  if (s < 0 || s > model->escapeSymbol || model->leafIndex[s] >= 0 ||
      model->nodeCount + 2 > 2 * model->escapeSymbol + 1)
    return 0;
  ModelNode *nodes = model->nodes;
  int32_t lightest = model->nodeCount - 1;
  int32_t moved = model->nodeCount;
  int32_t added = model->nodeCount + 1;
  model->nodeCount += 2;
  nodes[moved] = nodes[lightest];
  nodes[moved].parent = lightest;
  model->leafIndex[nodes[moved].link] = moved;
  nodes[lightest].link = moved;
  nodes[lightest].isLeaf = 0;
  SetNode(&nodes[added], 0, lightest, 1, s);
  model->leafIndex[s] = added;
  return 1;
}

// Points the parent field of i's children (or the leafIndex of i's symbol)
// at position to.
static void Reattach(AdaptiveModel *model, int32_t i, int32_t to) {
  ModelNode *node = &model->nodes[i];
  if (node->isLeaf) {
    model->leafIndex[node->link] = to;
  } else {
    model->nodes[node->link].parent = to;
    model->nodes[node->link + 1].parent = to;
  }
}

void ModelExchange(AdaptiveModel *model, int32_t i, int32_t j) {
  Reattach(model, i, j);
  Reattach(model, j, i);
  ModelNode *a = &model->nodes[i];
  ModelNode *b = &model->nodes[j];
  uint32_t weight = a->weight;
  int32_t isLeaf = a->isLeaf;
  int32_t link = a->link;
  a->weight = b->weight;
  a->isLeaf = b->isLeaf;
  a->link = b->link;
  b->weight = weight;
  b->isLeaf = isLeaf;
  b->link = link;
}

void ModelIncrement(AdaptiveModel *model, int32_t s) {
  // Equality, once per call: the root grows by exactly 1 per symbol, and a
  // rescale leaves it well below the limit, so the test cannot be skipped over.
  if (model->nodes[0].weight == model->rescaleWeight) ModelRescale(model);
  ModelNode *nodes = model->nodes;
  int32_t i = model->leafIndex[s];
  while (i != -1) {
    uint32_t weight = ++nodes[i].weight;
    int32_t j = i;
    while (j > 0 && nodes[j - 1].weight < weight) j--;
    if (j != i) {
      ModelExchange(model, i, j);
      i = j;
    }
    i = nodes[i].parent;
  }
}

void ModelRescale(AdaptiveModel *model) {
  ModelNode *nodes = model->nodes;
  int32_t count = model->nodeCount;
  // 1. Leaves to the end of the list, order kept, weights halved rounding up.
  int32_t j = count - 1;
  for (int32_t i = count - 1; i >= 0; i--) {
    if (!nodes[i].isLeaf) continue;
    nodes[j] = nodes[i];
    nodes[j].weight = (nodes[j].weight + 1) >> 1;
    j--;
  }
  // 2. Internal nodes from the lightest pair up, each placed in front of the
  // first node it does not outweigh. That node lies at or before the pair
  // (the pair's first node weighs at most the sum), so the block moved down
  // never holds the pair or any node that is a child already.
  for (int32_t i = count - 2; j >= 0; i -= 2, j--) {
    uint32_t weight = nodes[i].weight + nodes[i + 1].weight;
    nodes[j].weight = weight;
    nodes[j].isLeaf = 0;
    int32_t k = j + 1;
    while (weight < nodes[k].weight) k++;
    k--;
    for (int32_t m = j; m < k; m++) nodes[m] = nodes[m + 1];
    nodes[k].weight = weight;
    nodes[k].link = i;
    nodes[k].isLeaf = 0;
  }
  // 3. Parents and leaf positions; the root keeps parent -1 (node 0 is
  // written only by the last pair, which never moves a block).
  for (int32_t i = count - 1; i >= 0; i--) Reattach(model, i, i);
}

int32_t ModelDecode(AdaptiveModel *model) {
  const ModelNode *nodes = model->nodes;
  int32_t i = 0;
  while (!nodes[i].isLeaf) i = nodes[i].link + (int32_t)ReadBits(1);
  int32_t s = nodes[i].link;
  if (s == model->escapeSymbol) {
    s = (int32_t)ReadBits(model->escapeBits);
    if (!ModelInsert(model, s)) return -1;
  }
  ModelIncrement(model, s);
  return s;
}
