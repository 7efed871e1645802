// The LZHUF encoder: finds the longest earlier occurrence of the next bytes
// with 256 binary search trees over the window (one per first byte) and sends
// each step as a literal or a match, coded with the model the decoder keeps.
#include "compression/codec_internal.h"
#include "platform/bytes.h"

namespace {

// Strings are compared a machine word at a time.
using Word = uintptr_t;

inline Word LoadWord(const uint8_t* p) {
  Word value;
  __builtin_memcpy(&value, p, sizeof value);
  return value;
}

// Index of the first differing byte in a nonzero XOR of two loaded words.
inline int32_t FirstDifferentByte(Word difference) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return sizeof(Word) == 8 ? __builtin_ctzll(difference) >> 3 : __builtin_ctz(uint32_t(difference)) >> 3;
#else
  return sizeof(Word) == 8 ? __builtin_clzll(difference) >> 3 : __builtin_clz(uint32_t(difference)) >> 3;
#endif
}

// How many leading bytes the 60-byte strings at a and b share, given that
// their first bytes are equal (1..60). The window has slack behind its
// mirror for the last load.
inline int32_t SharedLength(const uint8_t* a, const uint8_t* b) {
  for (int32_t i = 1; i < MaxMatch; i += int32_t(sizeof(Word))) {
    const Word difference = LoadWord(a + i) ^ LoadWord(b + i);
    if (difference != 0) {
      const int32_t at = i + FirstDifferentByte(difference);
      return at < MaxMatch ? at : MaxMatch;
    }
  }
  return MaxMatch;
}

}  // namespace

void InitMatchTrees(MatchTrees& trees) {
  for (int32_t i = RingSize + 1; i <= RingSize + 256; ++i) trees.treeRight[i] = NoNode;
  for (int32_t i = 0; i < RingSize; ++i) trees.treeParent[i] = NoNode;
}

void InsertMatchNode(Codec& codec, int32_t r) {
  MatchTrees& trees = codec.trees;
  const uint8_t* window = codec.window;
  const uint8_t* key = window + r;
  int32_t cmp = 1;
  int32_t p = RingSize + 1 + key[0];
  trees.treeRight[r] = trees.treeLeft[r] = NoNode;
  trees.matchLength = 0;
  for (;;) {
    if (cmp >= 0) {
      if (trees.treeRight[p] == NoNode) {
        trees.treeRight[p] = int16_t(r);
        trees.treeParent[r] = int16_t(p);
        return;
      }
      p = trees.treeRight[p];
    } else {
      if (trees.treeLeft[p] == NoNode) {
        trees.treeLeft[p] = int16_t(r);
        trees.treeParent[r] = int16_t(p);
        return;
      }
      p = trees.treeLeft[p];
    }
    const int32_t shared = SharedLength(key, window + p);
    if (shared < MaxMatch) cmp = int32_t(key[shared]) - int32_t(window[p + shared]);
    if (shared > MatchThreshold) {
      // Of equally long matches the nearest wins.
      const int32_t offset = ((r - p) & (RingSize - 1)) - 1;
      if (shared > trees.matchLength) {
        trees.matchOffset = offset;
        trees.matchLength = shared;
        if (shared >= MaxMatch) break;
      } else if (shared == trees.matchLength && offset < trees.matchOffset) {
        trees.matchOffset = offset;
      }
    }
  }
  // A full match: r takes the older node's place, so no tree holds the same
  // string twice.
  trees.treeParent[r] = trees.treeParent[p];
  trees.treeLeft[r] = trees.treeLeft[p];
  trees.treeRight[r] = trees.treeRight[p];
  trees.treeParent[trees.treeLeft[p]] = int16_t(r);
  trees.treeParent[trees.treeRight[p]] = int16_t(r);
  const int32_t above = trees.treeParent[p];
  if (trees.treeRight[above] == p) {
    trees.treeRight[above] = int16_t(r);
  } else {
    trees.treeLeft[above] = int16_t(r);
  }
  trees.treeParent[p] = NoNode;
}

void DeleteMatchNode(MatchTrees& trees, int32_t p) {
  if (trees.treeParent[p] == NoNode) return;
  int32_t q;
  if (trees.treeRight[p] == NoNode) {
    q = trees.treeLeft[p];
  } else if (trees.treeLeft[p] == NoNode) {
    q = trees.treeRight[p];
  } else {
    // Two children: the rightmost node of the left subtree replaces p.
    q = trees.treeLeft[p];
    if (trees.treeRight[q] != NoNode) {
      do {
        q = trees.treeRight[q];
      } while (trees.treeRight[q] != NoNode);
      trees.treeRight[trees.treeParent[q]] = trees.treeLeft[q];
      trees.treeParent[trees.treeLeft[q]] = trees.treeParent[q];
      trees.treeLeft[q] = trees.treeLeft[p];
      trees.treeParent[trees.treeLeft[p]] = int16_t(q);
    }
    trees.treeRight[q] = trees.treeRight[p];
    trees.treeParent[trees.treeRight[p]] = int16_t(q);
  }
  const int32_t above = trees.treeParent[p];
  trees.treeParent[q] = int16_t(above);
  if (trees.treeRight[above] == p) {
    trees.treeRight[above] = int16_t(q);
  } else {
    trees.treeLeft[above] = int16_t(q);
  }
  trees.treeParent[p] = NoNode;
}

void PutCodeBits(Codec& codec, int32_t count, uint32_t bits) {
  // bits are left-aligned; at most 7 bits wait between calls, so up to 25
  // new ones fit the register.
  BlockStream& stream = codec.stream;
  stream.outBits |= bits >> stream.outBitCount;
  stream.outBitCount += count;
  while (stream.outBitCount >= 8) {
    WriteStreamByte(codec, uint8_t(stream.outBits >> 24));
    stream.outBits <<= 8;
    stream.outBitCount -= 8;
  }
}

void FlushCodeBits(Codec& codec) {
  BlockStream& stream = codec.stream;
  if (stream.outBitCount > 0) WriteStreamByte(codec, uint8_t(stream.outBits >> 24));
  stream.outBits = 0;
  stream.outBitCount = 0;
}

void EncodeSymbol(Codec& codec, int32_t symbol) {
  const int16_t* parent = codec.model.parent;
  // Walk up from the leaf; each level's bit pushes the ones below it down,
  // so the code ends left-aligned with the root's bit on top. The register
  // holds 32 levels, more than any tree the model can grow.
  uint32_t code = 0;
  int32_t length = 0;
  int32_t k = parent[NodeCount + symbol];
  do {
    code = (code >> 1) | (uint32_t(k & 1) << 31);
    ++length;
    k = parent[k];
  } while (k != RootNode);
  if (length > 16) {
    PutCodeBits(codec, 16, code & 0xFFFF0000u);
    PutCodeBits(codec, length - 16, code << 16);
  } else {
    PutCodeBits(codec, length, code);
  }
  UpdateModel(codec.model, symbol);
}

void EncodeMatchOffset(Codec& codec, int32_t offset) {
  const int32_t high = offset >> 6;
  const int32_t length = offsetCode.highLength[high];
  const uint32_t bits = (uint32_t(offsetCode.highCode[high]) << 24) | (uint32_t(offset & 63) << (26 - length));
  PutCodeBits(codec, length + 6, bits);
}

void EncodeBody(Codec& codec) {
  if (WriteExpandedLength(codec) == 0) return;
  ResetModel(codec.model);
  MatchTrees& trees = codec.trees;
  InitMatchTrees(trees);
  uint8_t* window = codec.window;
  FillBytes(window, ' ', WindowStart);
  // What lies past the body's end takes part in comparisons once the input
  // has ended; the same bytes every time keep the output the same for the
  // same input.
  FillBytes(window + WindowStart, 0, int32_t(sizeof codec.window) - WindowStart);

  int32_t s = 0;
  int32_t r = WindowStart;
  int32_t len = 0;
  while (len < MaxMatch) {
    const uint16_t c = ReadStreamByte(codec);
    if (c == EndOfInput) break;
    window[r + len] = uint8_t(c);
    ++len;
  }
  if (len == 0) return;  // the source gave nothing; CompressStream fails
  for (int32_t i = 1; i <= MaxMatch; ++i) InsertMatchNode(codec, r - i);
  InsertMatchNode(codec, r);

  do {
    if (trees.matchLength > len) trees.matchLength = len;
    if (trees.matchLength <= MatchThreshold) {
      trees.matchLength = 1;
      EncodeSymbol(codec, window[r]);
    } else {
      EncodeSymbol(codec, trees.matchLength + 256 - MatchThreshold - 1);
      EncodeMatchOffset(codec, trees.matchOffset);
    }
    const int32_t last = trees.matchLength;
    int32_t i = 0;
    for (; i < last; ++i) {
      const uint16_t c = ReadStreamByte(codec);
      if (c == EndOfInput) break;
      DeleteMatchNode(trees, s);
      window[s] = uint8_t(c);
      if (s < MaxMatch - 1) window[s + RingSize] = uint8_t(c);
      s = (s + 1) & (RingSize - 1);
      r = (r + 1) & (RingSize - 1);
      InsertMatchNode(codec, r);
    }
    // The input has ended: step over the rest of the token.
    for (; i < last; ++i) {
      DeleteMatchNode(trees, s);
      s = (s + 1) & (RingSize - 1);
      r = (r + 1) & (RingSize - 1);
      if (--len) InsertMatchNode(codec, r);
    }
  } while (len > 0);
  FlushCodeBits(codec);
}

int CompressStream(Codec& codec, FileHandle source, FileHandle sink, int32_t length, uint8_t xorByte) {
  BlockStream& stream = codec.stream;
  BeginStream(codec, source, sink, false);
  if (length < 0) {
    SetStreamFailure(stream, StreamFailure::SourceEnded);
    EndStream(codec);
    return 0;
  }
  stream.xorByte = xorByte;
  stream.inputLeft = length;
  EncodeBody(codec);
  WriteBlock(codec);
  EndStream(codec);
  return stream.failure == StreamFailure::None ? 1 : 0;
}
