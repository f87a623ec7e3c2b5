// Packed-stage encoder; see stage_encoder.h.
#include "packed/stage_encoder.h"

#include <math.h>
#include <string.h>

#include "packed/match_finder.h"
#include "packed/sfx_layout.h"
#include "packed/stage_decoder.h"

namespace {

const uint32_t PRICE_INFINITE = 1u << 24;  // price of a symbol that cannot be sent
const uint32_t PRICE_SCALE = 16;           // prices count sixteenths of a bit
const int32_t PARSE_OVERHANG = 4096;       // most bytes a block's parse may run past its end

// Which base lengths a stream uses. A symbol, once in the literal/length
// tree, keeps a weight of at least 1 for good (rescaling rounds up), so every
// base ever sent takes a share of the 1024-weight budget from all other
// symbols, literals above all, for the rest of the stream. A rare long base
// rarely repays that: a match of its length can be sent as two matches or a
// shorter one. So the image is parsed once with every base, and parsed
// again with only the bases the first parse used at least once per
// BYTES_PER_BASE_USE bytes of image; the smaller stage is kept. On Windows
// executables this dropped most bases above about 40 from the large files
// and kept more of them in the small ones, where fewer symbols follow to
// pay for each leaf.
const uint32_t BYTES_PER_BASE_USE = 30000;
// An absent base is priced below its escape cost: the escape is paid once,
// after which the base is as cheap as any other. At the full escape price
// the parse split or shortened matches for too long before taking a base
// the stream then used often.
const uint32_t NEW_BASE_BONUS = 4 * PRICE_SCALE;

// One entry per position of a block's parse: the cheapest way found to get
// there and the step that ends there (length 1 = literal).
typedef struct Arrival {
  uint32_t cost;      // bits from the block start
  int32_t length;     // bytes of the step that arrives here; 0 = not reached
  uint32_t distance;  // distance of that step; 0 for a literal
} Arrival;

typedef struct EncoderState {
  AdaptiveModel literalModel;             // mirrors stageDecoder.literalModel
  AdaptiveModel distanceModel;            // mirrors stageDecoder.distanceModel
  StageBitWriter writer;                  // the bit stream after the header
  uint32_t literalPrice[STAGE_LITERAL_SYMBOLS + 1];   // bits per symbol at the block start
  uint32_t distancePrice[STAGE_DISTANCE_SYMBOLS + 1]; // bits per slot, extra bits included
  const uint8_t *baseBarred;              // STAGE_MAX_BASE + 1 flags: 1 = base never sent; null = none barred
  uint32_t baseUses[STAGE_MAX_BASE + 1];  // matches sent per base length
} EncoderState;

int32_t DistanceAdjust(uint32_t d) { return (d > STAGE_FAR_LIMIT) + (d > STAGE_NEAR_LIMIT); }

// Price of s in 1/PRICE_SCALE bits. Mode 0: the code length right now.
// Mode 1: the information content -log2(weight / total), which the code
// lengths approach as the tree adapts over the block.
uint32_t SymbolPrice(const AdaptiveModel *model, int32_t s, int32_t mode) {
  uint32_t bits = ModelCodeLength(model, s);
  if (bits >= PRICE_INFINITE || mode == 0) return bits >= PRICE_INFINITE ? PRICE_INFINITE : bits * PRICE_SCALE;
  int32_t leaf = model->leafIndex[s];
  uint32_t raw = 0;
  if (leaf < 0) {
    leaf = model->leafIndex[model->escapeSymbol];
    raw = (uint32_t)model->escapeBits * PRICE_SCALE;
  }
  double share = (double)model->nodes[leaf].weight / (double)model->nodes[0].weight;
  return raw + (uint32_t)(-log2(share) * PRICE_SCALE + 0.5);
}

void RefreshPrices(EncoderState *state, int32_t mode) {
  for (int32_t s = 0; s <= STAGE_LITERAL_SYMBOLS; s++) {
    uint32_t price = SymbolPrice(&state->literalModel, s, mode);
    if (s >= STAGE_FIRST_MATCH && price < PRICE_INFINITE) {
      if (state->baseBarred && state->baseBarred[s - STAGE_MATCH_BIAS]) price = PRICE_INFINITE;
      else if (state->literalModel.leafIndex[s] < 0) price = price > NEW_BASE_BONUS + 1 ? price - NEW_BASE_BONUS : 1;
    }
    state->literalPrice[s] = price;
  }
  for (int32_t k = 0; k <= STAGE_DISTANCE_SYMBOLS; k++)
    state->distancePrice[k] = SymbolPrice(&state->distanceModel, k, mode) + (k > 1 ? (uint32_t)(k - 1) * PRICE_SCALE : 0);
}

int EncodeMatch(EncoderState *state, int32_t length, uint32_t d) {
  int32_t slot = StageDistanceSlot(d);
  int32_t base = length - DistanceAdjust(d);
  // A base outside 2 … 258 would be read back as a literal or not at all.
  if (base < STAGE_MIN_BASE || base > STAGE_MAX_BASE || d < 1 || d > MATCH_MAX_DISTANCE) return 0;
  if (!ModelEncode(&state->literalModel, base + STAGE_MATCH_BIAS, &state->writer))
    return 0;
  state->baseUses[base]++;
  if (!ModelEncode(&state->distanceModel, slot, &state->writer)) return 0;
  if (slot > 1) BitWriterPut(&state->writer, d - (1u << (slot - 1)) - 1, slot - 1);
  return 1;
}

// Relaxes the arrivals reachable from position `from` (index `at` of the
// block) with the finder's candidates: every usable length of each one.
void RelaxMatches(const EncoderState *state, Arrival *arrivals, int32_t at, const MatchCandidate *cands,
                  int32_t count) {
  uint32_t base = arrivals[at].cost;
  int32_t covered = 1;
  for (int32_t c = 0; c < count; c++) {
    uint32_t d = cands[c].distance;
    int32_t adjust = DistanceAdjust(d);
    int32_t low = STAGE_MIN_BASE + adjust;
    if (low < covered + 1) low = covered + 1;
    int32_t high = STAGE_MAX_BASE + adjust;
    if (high > cands[c].length) high = cands[c].length;
    uint32_t slotPrice = state->distancePrice[StageDistanceSlot(d)];
    for (int32_t length = low; length <= high; length++) {
      uint32_t symbolPrice = state->literalPrice[length - adjust + STAGE_MATCH_BIAS];
      if (symbolPrice >= PRICE_INFINITE) continue;  // a barred base
      uint32_t cost = base + symbolPrice + slotPrice;
      Arrival *target = &arrivals[at + length];
      // On a tie the longer step wins: fewer symbols, and it came out a
      // little smaller on executables.
      if (cost <= target->cost) {
        target->cost = cost;
        target->length = length;
        target->distance = d;
      }
    }
    if (high > covered) covered = high;
  }
}

// Encodes the cheapest path from the block start to index `final`.
int EmitPath(EncoderState *state, const Arrival *arrivals, const uint8_t *buffer, int32_t blockStart,
             int32_t final, std::vector<int32_t> *steps) {
  steps->clear();
  for (int32_t at = final; at > 0; at -= arrivals[at].length) steps->push_back(at);
  for (size_t n = steps->size(); n-- > 0;) {
    const Arrival *a = &arrivals[(*steps)[n]];
    int32_t start = (*steps)[n] - a->length;
    if (a->length == 1) {
      if (!ModelEncode(&state->literalModel, buffer[blockStart + start], &state->writer)) return 0;
    } else if (!EncodeMatch(state, a->length, a->distance)) {
      return 0;
    }
  }
  return 1;
}

// Match candidates of every position of one block, gathered once and
// parsed as often as the prices change.
typedef struct BlockCandidates {
  std::vector<MatchCandidate> pool;  // all candidates of the block, position after position
  std::vector<int32_t> first;        // per block index: its first candidate in pool; one extra entry ends the last
} BlockCandidates;

// Finds the candidates from pos on and decides where the block ends: past
// blockSize bytes, at the first position no candidate crosses (so no match
// is cut off by the boundary), or at a match of niceLength, which is then
// taken as it is (returned in forced). Returns the end position.
int32_t GatherBlock(MatchFinder *finder, const StageEncodeOptions *settings, int32_t pos, int32_t total,
                    BlockCandidates *block, MatchCandidate *forced) {
  int32_t blockEnd = total - pos > settings->blockSize ? pos + settings->blockSize : total;
  int32_t hardEnd = total - blockEnd > PARSE_OVERHANG ? blockEnd + PARSE_OVERHANG : total;
  MatchCandidate cands[MATCH_MAX_LENGTH];
  block->pool.clear();
  block->first.clear();
  int32_t reach = pos;
  int32_t i = pos;
  for (; i < hardEnd && (i < blockEnd || i < reach); i++) {
    int32_t count = MatchFinderFind(finder, i, cands);
    if (count > 0 && cands[count - 1].length >= settings->niceLength &&
        cands[count - 1].length >= STAGE_MIN_BASE + DistanceAdjust(cands[count - 1].distance)) {
      *forced = cands[count - 1];
      int32_t longest = STAGE_MAX_BASE + DistanceAdjust(forced->distance);
      if (forced->length > longest) forced->length = longest;
      break;
    }
    block->first.push_back((int32_t)block->pool.size());
    block->pool.insert(block->pool.end(), cands, cands + count);
    if (count > 0 && i + cands[count - 1].length > reach) reach = i + cands[count - 1].length;
  }
  block->first.push_back((int32_t)block->pool.size());
  return i;
}

// Shortest path over the block with the current prices.
void ParseBlock(const EncoderState *state, const uint8_t *buffer, int32_t pos, int32_t final,
                const BlockCandidates *block, Arrival *arrivals) {
  int32_t span = final - pos;
  for (int32_t k = 0; k <= span + MATCH_MAX_LENGTH; k++) arrivals[k] = Arrival{PRICE_INFINITE, 0, 0};
  arrivals[0].cost = 0;
  for (int32_t at = 0; at < span; at++) {
    uint32_t literal = arrivals[at].cost + state->literalPrice[buffer[(size_t)(pos + at)]];
    if (literal < arrivals[at + 1].cost) arrivals[at + 1] = Arrival{literal, 1, 0};
    int32_t first = block->first[(size_t)at];
    RelaxMatches(state, arrivals, at, block->pool.data() + first, block->first[(size_t)at + 1] - first);
  }
}

void CopyModel(AdaptiveModel *to, const AdaptiveModel *from) {
  to->escapeBits = from->escapeBits;
  to->rescaleWeight = from->rescaleWeight;
  to->escapeSymbol = from->escapeSymbol;
  to->nodeCount = from->nodeCount;
  memcpy(to->nodes, from->nodes, (size_t)(2 * from->escapeSymbol + 1) * sizeof(ModelNode));
  memcpy(to->leafIndex, from->leafIndex, (size_t)(from->escapeSymbol + 1) * sizeof(int32_t));
}

uint32_t MeanPrice(uint32_t a, uint32_t b) {
  if (a >= PRICE_INFINITE || b >= PRICE_INFINITE) return a < b ? a : b;
  return (a + b + 1) / 2;
}

}  // namespace

StageEncodeOptions StageEncodeDefaults(void) {
  StageEncodeOptions options;
  options.maxChain = 256;
  options.niceLength = 260;
  options.blockSize = 256;
  options.priceMode = 0;
  options.passes = 2;
  return options;
}

void BitWriterInit(StageBitWriter *writer, std::vector<uint8_t> *out) {
  writer->out = out;
  writer->pending = 0;
  writer->pendingCount = 0;
}

void BitWriterPut(StageBitWriter *writer, uint32_t value, int32_t n) {
  while (n-- > 0) {
    writer->pending = writer->pending << 1 | ((value >> n) & 1);
    if (++writer->pendingCount == 8) {
      writer->out->push_back((uint8_t)writer->pending);
      writer->pending = 0;
      writer->pendingCount = 0;
    }
  }
}

void BitWriterFlush(StageBitWriter *writer) {
  if (writer->pendingCount > 0) BitWriterPut(writer, 0, 8 - writer->pendingCount);
}

// Depth of node i: the length of its code.
static uint32_t NodeDepth(const AdaptiveModel *model, int32_t i) {
  uint32_t depth = 0;
  for (; model->nodes[i].parent >= 0; i = model->nodes[i].parent) depth++;
  return depth;
}

static int Representable(const AdaptiveModel *model, int32_t s) {
  return s >= 0 && s < model->escapeSymbol - 1 && (s >> model->escapeBits) == 0;
}

uint32_t ModelCodeLength(const AdaptiveModel *model, int32_t s) {
  if (s < 0 || s >= model->escapeSymbol) return PRICE_INFINITE;
  if (model->leafIndex[s] >= 0) return NodeDepth(model, model->leafIndex[s]);
  if (!Representable(model, s)) return PRICE_INFINITE;
  return NodeDepth(model, model->leafIndex[model->escapeSymbol]) + (uint32_t)model->escapeBits;
}

// Writes the root-to-leaf path of node i.
static void PutPath(const AdaptiveModel *model, int32_t i, StageBitWriter *writer) {
  uint8_t bits[2 * STAGE_LITERAL_SYMBOLS + 3];  // a path is never longer than the node array
  int32_t depth = 0;
  for (int32_t parent; (parent = model->nodes[i].parent) >= 0; i = parent)
    bits[depth++] = (uint8_t)(i - model->nodes[parent].link);
  while (depth-- > 0) BitWriterPut(writer, bits[depth], 1);
}

int ModelEncode(AdaptiveModel *model, int32_t s, StageBitWriter *writer) {
  if (s < 0 || s >= model->escapeSymbol) return 0;
  if (model->leafIndex[s] < 0) {
    if (!Representable(model, s)) return 0;
    PutPath(model, model->leafIndex[model->escapeSymbol], writer);
    BitWriterPut(writer, (uint32_t)s, model->escapeBits);
    if (!ModelInsert(model, s)) return 0;
  } else {
    PutPath(model, model->leafIndex[s], writer);
  }
  ModelIncrement(model, s);
  return 1;
}

int32_t StageDistanceSlot(uint32_t d) {
  int32_t slot = 0;
  for (uint32_t v = d - 1; v; v >>= 1) slot++;
  return slot;
}

// One complete encoding of buffer (zero prefix plus image) into out, from
// fresh models: the stage header, then the bit stream. Bases flagged in
// barred (may be null) are never sent; the matches sent per base are added
// to baseUses. Returns 1 when done; 0 when StageAlloc refused the models or
// a symbol could not be sent.
static int EncodePass(const std::vector<uint8_t> &buffer, const StageEncodeOptions *options, const uint8_t *barred,
                      uint32_t *baseUses, std::vector<uint8_t> *out) {
  const StageEncodeOptions &settings = *options;
  const int32_t total = (int32_t)buffer.size();
  EncoderState state;
  memset(&state, 0, sizeof state);
  if (!ModelInit(&state.literalModel, STAGE_LITERAL_SYMBOLS, STAGE_LITERAL_RESCALE, STAGE_LITERAL_ESCAPE_BITS))
    return 0;
  if (!ModelInit(&state.distanceModel, STAGE_DISTANCE_SYMBOLS, STAGE_DISTANCE_RESCALE,
                 STAGE_DISTANCE_ESCAPE_BITS)) {
    ModelRelease(&state.literalModel);
    return 0;
  }
  state.baseBarred = barred;

  uint32_t length = (uint32_t)(total - STAGE_WINDOW_SIZE);
  for (int32_t b = 0; b < SFX_STAGE_HEADER_SIZE; b++) out->push_back((uint8_t)(length >> (8 * b)));
  BitWriterInit(&state.writer, out);

  MatchFinder finder;
  MatchFinderInit(&finder, buffer.data(), total, settings.maxChain);

  // A trial copy of the models replays each parse to re-price the block.
  EncoderState trial;
  memset(&trial, 0, sizeof trial);
  trial.baseBarred = barred;
  std::vector<uint8_t> trialBits;
  int ok = settings.passes < 2 || (ModelInit(&trial.literalModel, STAGE_LITERAL_SYMBOLS, STAGE_LITERAL_RESCALE,
                                             STAGE_LITERAL_ESCAPE_BITS) &&
                                   ModelInit(&trial.distanceModel, STAGE_DISTANCE_SYMBOLS, STAGE_DISTANCE_RESCALE,
                                             STAGE_DISTANCE_ESCAPE_BITS));

  std::vector<Arrival> arrivals((size_t)settings.blockSize + PARSE_OVERHANG + MATCH_MAX_LENGTH + 1);
  std::vector<int32_t> steps;
  BlockCandidates block;
  int32_t pos = STAGE_WINDOW_SIZE;
  while (ok && pos < total) {
    MatchCandidate forced = {0, 0};
    int32_t final = GatherBlock(&finder, &settings, pos, total, &block, &forced);
    RefreshPrices(&state, settings.priceMode);
    ParseBlock(&state, buffer.data(), pos, final, &block, arrivals.data());
    for (int32_t pass = 1; ok && pass < settings.passes; pass++) {
      // Replay the parse on the trial models; price the next pass by the
      // mean of the prices before and after the block.
      CopyModel(&trial.literalModel, &state.literalModel);
      CopyModel(&trial.distanceModel, &state.distanceModel);
      trialBits.clear();
      BitWriterInit(&trial.writer, &trialBits);
      ok = EmitPath(&trial, arrivals.data(), buffer.data(), pos, final - pos, &steps);
      RefreshPrices(&trial, settings.priceMode);
      for (int32_t k = 0; k <= STAGE_LITERAL_SYMBOLS; k++)
        state.literalPrice[k] = MeanPrice(state.literalPrice[k], trial.literalPrice[k]);
      for (int32_t k = 0; k <= STAGE_DISTANCE_SYMBOLS; k++)
        state.distancePrice[k] = MeanPrice(state.distancePrice[k], trial.distancePrice[k]);
      ParseBlock(&state, buffer.data(), pos, final, &block, arrivals.data());
    }
    if (ok) ok = EmitPath(&state, arrivals.data(), buffer.data(), pos, final - pos, &steps);
    pos = final;
    if (ok && forced.length > 0) {
      ok = EncodeMatch(&state, forced.length, forced.distance);
      pos += forced.length;
    }
  }
  ModelRelease(&trial.literalModel);
  ModelRelease(&trial.distanceModel);
  BitWriterFlush(&state.writer);
  ModelRelease(&state.literalModel);
  ModelRelease(&state.distanceModel);
  for (int32_t b = 0; b <= STAGE_MAX_BASE; b++) baseUses[b] += state.baseUses[b];
  return ok;
}

int EncodeStage(const uint8_t *data, size_t size, const StageEncodeOptions *options,
                std::vector<uint8_t> *out) {
  if (size > (size_t)INT32_MAX - STAGE_WINDOW_SIZE) return 0;
  StageEncodeOptions settings = options ? *options : StageEncodeDefaults();
  if (settings.blockSize < 1) settings.blockSize = 1;
  if (settings.niceLength < 2) settings.niceLength = 2;

  // Zero prefix = the decoder's zeroed window; see match_finder.h.
  std::vector<uint8_t> buffer((size_t)STAGE_WINDOW_SIZE + size, 0);
  if (size) memcpy(buffer.data() + STAGE_WINDOW_SIZE, data, size);

  // First pass with every base. Below BYTES_PER_BASE_USE bytes the second
  // would bar only bases the first never sent, which changes no choice.
  uint32_t uses[STAGE_MAX_BASE + 1] = {0};
  size_t start = out->size();
  if (!EncodePass(buffer, &settings, nullptr, uses, out)) return 0;
  if (size < BYTES_PER_BASE_USE) return 1;

  // Second pass without the rare bases. The longest base stays: it sends
  // the long runs (zeros, padding) of executables at the greatest length.
  uint8_t barred[STAGE_MAX_BASE + 1] = {0};
  for (int32_t b = STAGE_MIN_BASE; b < STAGE_MAX_BASE; b++) barred[b] = uses[b] < size / BYTES_PER_BASE_USE;
  std::vector<uint8_t> second;
  uint32_t ignored[STAGE_MAX_BASE + 1] = {0};
  if (!EncodePass(buffer, &settings, barred, ignored, &second)) return 0;
  if (second.size() < out->size() - start) {
    out->resize(start);
    out->insert(out->end(), second.begin(), second.end());
  }
  return 1;
}
