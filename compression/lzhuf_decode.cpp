// The adaptive Huffman model shared by both coders, the offset code, and the
// LZHUF decoder. Symbols 0..255 are literal bytes, 256..313 matches of 3..60
// bytes; a match's offset follows its symbol: a prefix code for the high 6
// bits, then the low 6 bits as they are.
#include "compression/codec_internal.h"
#include "platform/bytes.h"

namespace {

// The tables of the offset code, from the number of codes of each length.
constexpr OffsetCode MakeOffsetCode() {
  OffsetCode table{};
  int32_t high = 0;
  uint32_t code = 0;
  for (int32_t length = 3; length <= 8; ++length) {
    for (int32_t n = 0; n < OffsetCodesOfLength[length]; ++n, ++high, ++code) {
      const uint32_t prefix = code << (8 - length);
      table.highLength[high] = uint8_t(length);
      table.highCode[high] = uint8_t(prefix);
      for (uint32_t rest = 0; rest < (1u << (8 - length)); ++rest) {
        table.highByPrefix[prefix + rest] = uint8_t(high);
        table.lengthByPrefix[prefix + rest] = uint8_t(length);
      }
    }
    code <<= 1;
  }
  return table;
}

// Pulls code bytes until more than 8 bits wait, as the format's reader does;
// past the end of the body the bytes read as zero.
inline void FillCodeBits(Codec& codec) {
  BlockStream& stream = codec.stream;
  while (stream.inBitCount <= 8) {
    uint32_t byte = ReadStreamByte(codec);
    if (byte == EndOfInput) {
      byte = 0;
      ++stream.padBytes;
    }
    stream.inBits |= byte << (24 - stream.inBitCount);
    stream.inBitCount += 8;
  }
}

// True when the decoder has used bits that lie past the body's last byte.
inline bool UsedPadding(const BlockStream& stream) {
  return stream.padBytes != 0 && 8 * stream.padBytes > stream.inBitCount;
}

// The fast way to read code: while four more bytes of the block wait, the
// register and those bytes are peeked at as one 64-bit window of at least 33
// bits, and the bytes are taken afterwards exactly as the byte-wise reader
// would have taken them. No code needs more: the tree is at most 21 levels
// deep, an offset 14 bits long.
inline bool CanPeekCodeBits(const BlockStream& stream) { return stream.endPosition - stream.readPosition >= 4; }

inline uint64_t PeekCodeBits(const BlockStream& stream) {
  const uint8_t* next = stream.input + stream.readPosition;
  const uint32_t bytes = uint32_t(next[0]) << 24 | uint32_t(next[1]) << 16 | uint32_t(next[2]) << 8 | next[3];
  return uint64_t(stream.inBits) << 32 | uint64_t(bytes) << (32 - stream.inBitCount);
}

// Uses the first used bits of a peeked window. The byte-wise reader fetches
// whenever 8 or fewer bits wait before a read, so when its last read starts
// (lastReadAt bits in) it has fetched just enough bytes to hold 9 or more.
inline void TakePeekedBits(Codec& codec, uint64_t peeked, int32_t used, int32_t lastReadAt) {
  BlockStream& stream = codec.stream;
  int32_t fetched = (lastReadAt + 9 - stream.inBitCount + 7) >> 3;
  if (fetched < 0) fetched = 0;
  stream.readPosition += fetched;
  stream.inBitCount += 8 * fetched - used;
  stream.inBits = uint32_t((peeked << used) >> 32) & ~(0xFFFFFFFFu >> stream.inBitCount);
  CountTicks(stream, fetched);
}

// Whether most of the weight sits in leaves as heavy as the slot above
// them: on random data nine tenths, on text a twentieth.
bool MostWeightOnMovingLeaves(const LzhufModel& model) {
  uint32_t moving = 0;
  for (int32_t s = 0; s < RootNode; ++s) {
    if (model.child[s] >= NodeCount && model.weight[s] == model.weight[s + 1]) moving += model.weight[s];
  }
  return 2 * moving > model.weight[RootNode];
}

// Fills the grandchild table from the tree (the fast form keeps one). Below
// a leaf's slot there is nothing; its entries are never read.
void SetGrandchildren(LzhufModel& model) {
  for (int32_t s = 0; s < NodeCount; ++s) {
    const int32_t c = model.child[s];
    model.grandchild[s][0] = c < NodeCount ? model.child[c] : int16_t(c);
    model.grandchild[s][1] = c < NodeCount ? model.child[c + 1] : int16_t(c);
  }
}

}  // namespace

constinit const OffsetCode offsetCode = MakeOffsetCode();

void ResetModel(LzhufModel& model) {
  for (int32_t s = 0; s < SymbolCount; ++s) {
    model.weight[s] = 1;
    model.child[s] = int16_t(NodeCount + s);
    model.parent[NodeCount + s] = int16_t(s);
  }
  for (int32_t i = 0, j = SymbolCount; j < NodeCount; i += 2, ++j) {
    model.weight[j] = uint16_t(model.weight[i] + model.weight[i + 1]);
    model.child[j] = int16_t(i);
    model.parent[i] = model.parent[i + 1] = int16_t(j);
  }
  for (int32_t i = NodeCount; i < NodeCount + 16; ++i) model.weight[i] = 0xFFFF;
  model.parent[RootNode] = 0;
  if constexpr (!SmallCode) {
    SetGrandchildren(model);
    model.leavesMoveOften = MostWeightOnMovingLeaves(model);
  }
}

void RebuildModel(LzhufModel& model) {
  uint16_t* weight = model.weight;
  int16_t* child = model.child;
  // The leaves, halved, in their previous order (which is by weight), moved
  // to the top slots.
  for (int32_t i = NodeCount - 1, j = NodeCount - 1; i >= 0; --i) {
    if (child[i] >= NodeCount) {
      weight[j] = uint16_t((weight[i] + 1) / 2);
      child[j] = child[i];
      --j;
    }
  }
  // Join the two lightest pending nodes, slots 2n and 2n + 1 for the n-th
  // joined node, and place it after every node of equal weight. Joined
  // weights never decrease, so the slots fill in one pass that takes from
  // the leaves or the joined nodes, whichever is lighter (a leaf on a tie).
  // A joined node can take a slot only after both its halves have one; a
  // slot written never holds a leaf still to be taken, which lie above it.
  for (int32_t slot = 0, leaf = NodeCount - SymbolCount, joined = 0; slot < NodeCount; ++slot) {
    const int32_t halves = 2 * joined;
    const uint32_t sum = halves + 1 < slot ? uint32_t(weight[halves] + weight[halves + 1]) : 0x10000u;
    if (leaf < NodeCount && weight[leaf] <= sum) {
      weight[slot] = weight[leaf];
      child[slot] = child[leaf];
      ++leaf;
    } else {
      weight[slot] = uint16_t(sum);
      child[slot] = int16_t(halves);
      ++joined;
    }
  }
  for (int32_t i = 0; i < NodeCount; ++i) {
    const int32_t k = child[i];
    model.parent[k] = int16_t(i);
    if (k < NodeCount) model.parent[k + 1] = int16_t(i);
  }
  if constexpr (!SmallCode) {
    SetGrandchildren(model);
    model.leavesMoveOften = MostWeightOnMovingLeaves(model);
  }
}

void UpdateModel(LzhufModel& model, int32_t symbol) {
  if (model.weight[RootNode] == WeightLimit) RebuildModel(model);
  CountUpFrom<!SmallCode>(model, model.parent[NodeCount + symbol]);
}


int32_t ReadCodeBit(Codec& codec) {
  FillCodeBits(codec);
  BlockStream& stream = codec.stream;
  const int32_t bit = int32_t(stream.inBits >> 31);
  stream.inBits <<= 1;
  stream.inBitCount -= 1;
  return bit;
}

int32_t ReadCodeByte(Codec& codec) {
  FillCodeBits(codec);
  BlockStream& stream = codec.stream;
  const int32_t byte = int32_t(stream.inBits >> 24);
  stream.inBits <<= 8;
  stream.inBitCount -= 8;
  return byte;
}

namespace {

// DecodeSymbol, inlined into the decoder's loop. LeavesMoveOften picks how
// the leaf is counted; a rebuild that calls for the other form sets
// stretchEnd to 0, which ends the loop after this symbol.
template <bool LeavesMoveOften>
LUMAVEIL_HOT_INLINE int32_t NextSymbol(Codec& codec, uint32_t& stretchEnd) {
  const int16_t* child = codec.model.child;
  if constexpr (SmallCode) {
    // One bit at a time; the model counts up from the leaf by its parent links.
    int32_t c = child[RootNode];
    while (c < NodeCount) c = child[c + ReadCodeBit(codec)];
    UpdateModel(codec.model, c - NodeCount);
    return c - NodeCount;
  }
  // The walk down keeps only the leaf's slot, from which the count goes up
  // by parent links: recording the path cost more than it saved, on every
  // kind of data (on random data six leaves in seven move, and above a leaf
  // that moves the path is of no use).
  int32_t c = child[RootNode];
  int32_t leafSlot;
  if (CanPeekCodeBits(codec.stream)) {
    // Two levels per step: the node two bits down comes from the grandchild
    // table in one load, while the child between them (in case it is the
    // leaf) loads beside it. The two bits pick the row before the node
    // arrives, so that each step waits for that one load alone (the empty
    // asm keeps the compiler from folding the bit back into the node's
    // index). Pointer-sized slots spare the walk a sign extension.
    const uint64_t peeked = PeekCodeBits(codec.stream);
    const int16_t* grandchildren = &codec.model.grandchild[0][0];  // [2 * slot + second]
    uint64_t bits = peeked;
    intptr_t node = c;
    int32_t depth = 0;
    for (;;) {
      const intptr_t first = intptr_t(bits >> 63);
      const intptr_t second = intptr_t(bits >> 62) & 1;
      const intptr_t slot = node + first;
      const intptr_t middle = child[slot];
      const int16_t* row = grandchildren + 2 * first + second;
      asm("" : "+r"(row));
      node = row[2 * node];
      if (middle >= NodeCount) {
        node = middle;
        leafSlot = int32_t(slot);
        depth += 1;
        break;
      }
      bits <<= 2;
      depth += 2;
      if (node >= NodeCount) {
        leafSlot = int32_t(middle + second);
        break;
      }
    }
    c = int32_t(node);
    TakePeekedBits(codec, peeked, depth, depth - 1);
  } else {
    do {
      leafSlot = c + ReadCodeBit(codec);
      c = child[leafSlot];
    } while (c < NodeCount);
  }
  const int32_t symbol = c - NodeCount;
  LzhufModel& model = codec.model;
  if (model.weight[RootNode] == WeightLimit) {
    RebuildModel(model);
    leafSlot = model.parent[c];
    if (model.leavesMoveOften != LeavesMoveOften) stretchEnd = 0;
  }
  if constexpr (LeavesMoveOften) {
    CountUpFromMovingLeaf<true>(model, leafSlot);
  } else {
    CountUpFrom<true>(model, leafSlot);
  }
  return symbol;
}

}  // namespace

int32_t DecodeSymbol(Codec& codec) {
  uint32_t stretchEnd = 0;
  return NextSymbol<false>(codec, stretchEnd);
}

int32_t DecodeMatchOffset(Codec& codec) {
  if constexpr (SmallCode) {
    // Bit by bit, without the tables: the codes of each length start where
    // those of the length before ended, doubled.
    int32_t code = 0, first = 0, high = 0;
    for (int32_t length = 1;; ++length) {
      code = 2 * code + ReadCodeBit(codec);
      const int32_t count = OffsetCodesOfLength[length];
      if (code - first < count) {
        high += code - first;
        break;
      }
      high += count;
      first = 2 * (first + count);
    }
    int32_t low = 0;
    for (int32_t n = 0; n < 6; ++n) low = 2 * low + ReadCodeBit(codec);
    return high * 64 + low;
  }
  // The first byte holds the high part's code and the first low bits; the
  // rest of the low bits follow one by one.
  if (CanPeekCodeBits(codec.stream)) {
    const uint64_t peeked = PeekCodeBits(codec.stream);
    const uint32_t first = uint32_t(peeked >> 56);
    const int32_t length = offsetCode.lengthByPrefix[first];
    TakePeekedBits(codec, peeked, length + 6, length + 5);
    return offsetCode.highByPrefix[first] * 64 + int32_t((peeked >> (58 - length)) & 63);
  }
  uint32_t bits = uint32_t(ReadCodeByte(codec));
  const int32_t high = offsetCode.highByPrefix[bits];
  const int32_t length = offsetCode.lengthByPrefix[bits];
  for (int32_t n = length - 2; n > 0; --n) bits = (bits << 1) + uint32_t(ReadCodeBit(codec));
  return high * 64 + int32_t(bits & 63);
}

namespace {

// Where the decoding loop stands.
struct DecodeRun {
  int32_t r;       // the next ring position
  uint32_t count;  // bytes of the body written
  bool truncated;
};

// Decodes until the body is written, the code runs out or a rebuild calls
// for the other form of the leaf's count. The two forms get a loop each, so
// that neither pays for the other.
template <bool LeavesMoveOften>
LUMAVEIL_HOT_LOOP void DecodeStretch(Codec& codec, DecodeRun& run) {
  BlockStream& stream = codec.stream;
  uint8_t* window = codec.window;
  const uint32_t length = stream.expandedLength;
  uint32_t stretchEnd = length;
  int32_t r = run.r;
  uint32_t count = run.count;
  // A bad block sets the expanded length to 0.
  while (count < stretchEnd && count < stream.expandedLength) {
    const int32_t symbol = NextSymbol<LeavesMoveOften>(codec, stretchEnd);
    int32_t from = 0;
    if (symbol >= 256) from = r - DecodeMatchOffset(codec) - 1;
    if (UsedPadding(stream)) {
      SetStreamFailure(stream, StreamFailure::Truncated);
      run.truncated = true;
      break;
    }
    uint32_t n = 1;
    if (symbol >= 256) {
      // A damaged body's last match is cut at the length.
      n = uint32_t(symbol - 256 + MatchThreshold + 1);
      if (n > length - count) n = length - count;
    } else if (SmallCode) {
      // A literal goes through the copy below as a match of its own byte.
      window[r] = uint8_t(symbol);
      from = r;
    } else {
      WriteStreamByte(codec, uint8_t(symbol));
      window[r] = uint8_t(symbol);
      r = (r + 1) & (RingSize - 1);
      ++count;
      continue;
    }
    count += n;
    if (!SmallCode && stream.writePosition + int32_t(n) < stream.writeLimit && stream.byteTicks + int32_t(n) < 1024) {
      // Neither a flush nor a counted tick falls inside this match: copy
      // straight into the output buffer.
      uint8_t* out = stream.output + stream.writePosition;
      for (uint32_t k = 0; k < n; ++k) {
        const uint8_t byte = window[(from + int32_t(k)) & (RingSize - 1)];
        out[k] = byte;
        window[r] = byte;
        r = (r + 1) & (RingSize - 1);
      }
      stream.writePosition += int32_t(n);
      stream.byteTicks += int32_t(n);
      continue;
    }
    for (uint32_t k = 0; k < n; ++k) {
      const uint8_t byte = window[(from + int32_t(k)) & (RingSize - 1)];
      WriteStreamByte(codec, byte);
      window[r] = byte;
      r = (r + 1) & (RingSize - 1);
    }
  }
  run.r = r;
  run.count = count;
}

}  // namespace

void DecodeBody(Codec& codec) {
  const uint32_t length = ReadExpandedLength(codec);
  if (length == 0) return;
  ResetModel(codec.model);
  uint8_t* window = codec.window;
  FillBytes(window, ' ', WindowStart);
  // A damaged body may refer to ring bytes not yet written; make them the
  // same for every body.
  FillBytes(window + WindowStart, 0, RingSize - WindowStart);
  DecodeRun run{WindowStart, 0, false};
  if constexpr (SmallCode) {
    DecodeStretch<false>(codec, run);
    return;
  }
  while (run.count < codec.stream.expandedLength && !run.truncated) {
    if (codec.model.leavesMoveOften) {
      DecodeStretch<true>(codec, run);
    } else {
      DecodeStretch<false>(codec, run);
    }
  }
}

int ExpandStream(Codec& codec, FileHandle source, FileHandle sink, int32_t inputLimit) {
  BlockStream& stream = codec.stream;
  BeginStream(codec, source, sink, true);
  stream.inputLeft = inputLimit > 0 ? inputLimit : 0;
  DecodeBody(codec);
  WriteBlock(codec);
  EndStream(codec);
  return stream.failure == StreamFailure::None ? 1 : 0;
}
