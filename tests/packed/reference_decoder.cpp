// Reference decoder; see reference_decoder.h. Clarity over speed.
#include "tests/packed/reference_decoder.h"

#include <algorithm>

RefModel::RefModel(int symbols, uint32_t rescaleWeight, int bits)
    : n(symbols), limit(rescaleWeight), escapeBits(bits), where((size_t)symbols + 2, -1) {
  list.push_back({2, -1, false, 1});
  list.push_back({1, 0, true, n});
  list.push_back({1, 0, true, n + 1});
  where[(size_t)n] = 1;
  where[(size_t)n + 1] = 2;
}

bool RefModel::Insert(int s) {
  if (s < 0 || s >= n || where[(size_t)s] >= 0) return false;
  // The lightest node (always a leaf) becomes a parent of itself and the new leaf.
  int old = (int)list.size() - 1;
  RefNode moved = list[(size_t)old];
  moved.parent = old;
  list.push_back(moved);
  where[(size_t)moved.link] = old + 1;
  list.push_back({0, old, true, s});
  where[(size_t)s] = old + 2;
  list[(size_t)old].leaf = false;
  list[(size_t)old].link = old + 1;
  return true;
}

void RefModel::SwapPositions(int a, int b) {
  for (int x : {a, b}) {
    int to = x == a ? b : a;
    const RefNode &node = list[(size_t)x];
    if (node.leaf) {
      where[(size_t)node.link] = to;
    } else {
      list[(size_t)node.link].parent = to;
      list[(size_t)node.link + 1].parent = to;
    }
  }
  std::swap(list[(size_t)a].weight, list[(size_t)b].weight);
  std::swap(list[(size_t)a].leaf, list[(size_t)b].leaf);
  std::swap(list[(size_t)a].link, list[(size_t)b].link);
}

void RefModel::Update(int s) {
  if (list[0].weight == limit) Halve();
  for (int i = where[(size_t)s]; i >= 0; i = list[(size_t)i].parent) {
    uint32_t w = ++list[(size_t)i].weight;
    int front = i;
    while (front > 0 && list[(size_t)front - 1].weight < w) front--;
    if (front != i) {
      SwapPositions(i, front);
      i = front;
    }
  }
}

void RefModel::Halve() {
  // Leaves in list order, halved rounding up.
  std::vector<RefNode> built;
  for (const RefNode &node : list)
    if (node.leaf) built.push_back({(node.weight + 1) / 2, -1, true, node.link});
  const size_t total = list.size();
  // Parents from the lightest pair upwards; `built` is the tail of the final
  // list, so a position counted from the end never changes once built.
  size_t pair = total - 2;
  while (built.size() < total) {
    size_t offset = total - built.size();  // absolute index of built[0]
    uint32_t w = built[pair - offset].weight + built[pair - offset + 1].weight;
    auto at = std::find_if(built.begin(), built.end(), [w](const RefNode &x) { return x.weight <= w; });
    built.insert(at, RefNode{w, -1, false, (int)pair});
    pair -= 2;
  }
  built[0].parent = -1;
  for (size_t i = 0; i < total; i++) {
    if (built[i].leaf) {
      where[(size_t)built[i].link] = (int)i;
    } else {
      built[(size_t)built[i].link].parent = (int)i;
      built[(size_t)built[i].link + 1].parent = (int)i;
    }
  }
  list = built;
}

int RefModel::Depth(int s) const {
  int depth = 0;
  for (int i = where[(size_t)s]; list[(size_t)i].parent >= 0; i = list[(size_t)i].parent) depth++;
  return depth;
}

const char *RefModel::Check() const {
  if (list[0].parent != -1) return "root has a parent";
  if (!list.back().leaf) return "last node is not a leaf";
  uint32_t leaves = 0;
  for (size_t i = 0; i < list.size(); i++) {
    const RefNode &node = list[i];
    if (i > 0 && list[i - 1].weight < node.weight) return "weights increase along the list";
    if (node.leaf) {
      leaves += node.weight;
      if (where[(size_t)node.link] != (int)i) return "leaf position not recorded";
    } else {
      size_t child = (size_t)node.link;
      if (child <= i || child + 1 >= list.size()) return "child outside the list";
      if (list[child].parent != (int)i || list[child + 1].parent != (int)i) return "child has another parent";
      if (list[child].weight + list[child + 1].weight != node.weight) return "weight is not the children's sum";
    }
  }
  if (leaves != list[0].weight) return "root weight is not the leaves' total";
  return "";
}

namespace {

struct Bits {
  const std::vector<uint8_t> &bytes;
  size_t next;        // next byte to fetch
  uint8_t current;    // byte being consumed
  int used;           // bits of current consumed, 8 = fetch first
  bool ranOut;        // a fetch found no byte

  int Bit() {
    if (used == 8) {
      if (next < bytes.size()) current = bytes[next++];
      else ranOut = true;
      used = 0;
    }
    return (current >> (7 - used++)) & 1;
  }
  uint32_t Take(int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; k++) v = v << 1 | (uint32_t)Bit();
    return v;
  }
};

// Returns the symbol, or -1 for a refused insert.
int DecodeSymbol(RefModel &model, Bits &bits) {
  int i = 0;
  while (!model.list[(size_t)i].leaf) i = model.list[(size_t)i].link + bits.Bit();
  int s = model.list[(size_t)i].link;
  if (s == model.n + 1) {
    s = (int)bits.Take(model.escapeBits);
    if (!model.Insert(s)) return -1;
  }
  model.Update(s);
  return s;
}

}  // namespace

RefResult ReferenceDecode(const std::vector<uint8_t> &stage) {
  RefResult result{STAGE_OK, 0, {}, 0};
  if (stage.size() < 4) {
    result.status = STAGE_TRUNCATED;
    result.consumed = stage.size();
    return result;
  }
  result.declared = (int32_t)(stage[0] | stage[1] << 8 | stage[2] << 16 | (uint32_t)stage[3] << 24);
  Bits bits{stage, 4, 0, 8, false};
  RefModel literals(512, 1024, 9), distances(30, 256, 4);
  std::vector<uint8_t> &out = result.output;
  while ((int64_t)out.size() < result.declared) {
    int s = DecodeSymbol(literals, bits);
    if (s < 0) { result.status = bits.ranOut ? STAGE_TRUNCATED : STAGE_CORRUPT; break; }
    if (s < 256) {
      if (bits.ranOut) { result.status = STAGE_TRUNCATED; break; }
      out.push_back((uint8_t)s);
      continue;
    }
    int slot = DecodeSymbol(distances, bits);
    if (slot < 0) { result.status = bits.ranOut ? STAGE_TRUNCATED : STAGE_CORRUPT; break; }
    uint64_t distance = slot == 0 ? 1 : bits.Take(slot - 1) + (1ull << (slot - 1)) + 1;
    if (bits.ranOut) { result.status = STAGE_TRUNCATED; break; }
    int length = s - 254 + (distance >= 8192) + (distance >= 257);
    // The window holds the last 8192 bytes, zeros before the first one; a
    // distance counts modulo the window.
    uint64_t back = distance % 8192 == 0 ? 8192 : distance % 8192;
    for (int k = 0; k < length; k++) {
      uint64_t q = out.size();
      out.push_back(q >= back ? out[(size_t)(q - back)] : 0);
    }
  }
  result.consumed = bits.next;
  return result;
}
