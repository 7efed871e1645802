// The LZHUF encoder: finds the longest earlier occurrence of the next bytes
// with 256 binary search trees over the window (one per first byte) and sends
// each step as a literal or a match, coded with the model the decoder keeps.
#include "compression/codec_internal.h"
#include "platform/bytes.h"

// Strings are compared a machine word at a time.
using Word = uintptr_t;

void InitMatchTrees(MatchTrees& trees) {
  for (int32_t i = RingSize + 1; i <= RingSize + 256; ++i) trees.link[i][TreeRight] = NoNode;
  for (int32_t i = 0; i < RingSize; ++i) trees.treeParent[i] = NoNode;
}

namespace {

// Which link of its parent holds p.
inline int32_t SideOf(const MatchTrees& trees, int32_t parent, int32_t p) {
  return trees.link[parent][TreeRight] == p ? TreeRight : TreeLeft;
}

// A full match: r takes the older node p's place, so no tree holds the same
// string twice.
void ReplaceMatchNode(MatchTrees& trees, int32_t p, int32_t r) {
  const int32_t above = trees.treeParent[p];
  trees.treeParent[r] = int16_t(above);
  trees.link[r][TreeLeft] = trees.link[p][TreeLeft];
  trees.link[r][TreeRight] = trees.link[p][TreeRight];
  trees.treeParent[trees.link[p][TreeLeft]] = int16_t(r);
  trees.treeParent[trees.link[p][TreeRight]] = int16_t(r);
  trees.link[above][SideOf(trees, above, p)] = int16_t(r);
  trees.treeParent[p] = NoNode;
}

// Leaves the insert's match for the encoder: the small form's length and
// offset as they are, the fast form's from its rank.
inline void KeepBestMatch(MatchTrees& trees, int32_t matchLength, int32_t matchOffset, [[maybe_unused]] uint32_t best) {
  if constexpr (!SmallCode) {
    if (int32_t(best >> 12) > MatchThreshold) {
      matchLength = int32_t(best >> 12);
      matchOffset = RingSize - 1 - int32_t(best & (RingSize - 1));
    }
  }
  trees.matchLength = matchLength;
  trees.matchOffset = matchOffset;
}

// Picks above if key sorts after node, else below, by a conditional move
// straight after the comparison: in a search tree the direction is a coin
// toss, and the compiler would branch on it (or keep it in a register and
// test it again), which costs each level of the descent.
inline intptr_t PickBySort(Word key, Word node, intptr_t above, intptr_t below) {
// CMOV came with the Pentium Pro; a build for an older processor compares.
#if defined(__x86_64__) || defined(__i686__)
  asm("cmp %[node], %[key]\n\tcmova %[above], %[below]"
      : [below] "+r"(below)
      : [above] "r"(above), [key] "r"(key), [node] "r"(node)
      : "cc");
  return below;
#else
  return key > node ? above : below;
#endif
}

// InsertMatchNode, inlined into the encoder's loop.
LUMAVEIL_HOT_INLINE void InsertNode(Codec& codec, int32_t r) {
  MatchTrees& trees = codec.trees;
  const uint8_t* window = codec.window;
  const uint8_t* key = window + r;
  int32_t matchLength = 0;
  int32_t matchOffset = 0;
  trees.link[r][TreeLeft] = trees.link[r][TreeRight] = NoNode;
  intptr_t p = RingSize + 1 + key[0];
  bool greater = true;  // a tree hangs from its root slot's right link
  uint32_t best = 0;    // the fast form's rank of its best match
  if constexpr (SmallCode) {
    for (;;) {
      const intptr_t next = trees.link[p][greater ? TreeRight : TreeLeft];
      if (next == NoNode) break;
      p = next;
      int32_t shared = 1;
      while (shared < MaxMatch && key[shared] == window[p + shared]) ++shared;
      greater = shared < MaxMatch && key[shared] > window[p + shared];
      // Of equally long matches the nearest wins.
      const int32_t offset = ((r - int32_t(p)) & (RingSize - 1)) - 1;
      if (shared > MatchThreshold && (shared > matchLength || (shared == matchLength && offset < matchOffset))) {
        matchLength = shared;
        matchOffset = offset;
      }
      if (shared >= MaxMatch) {
        ReplaceMatchNode(trees, int32_t(p), r);
        KeepBestMatch(trees, matchLength, matchOffset, best);
        return;
      }
    }
  } else {
    // A node's links load while its string is compared, and the next node is
    // picked as soon as the first words differ. Strings are compared from
    // their second byte (a tree's strings share the first), a word at a time.
    // Each node is ranked by one number, its shared length above the
    // distance's complement: the largest is the longest match and, of
    // equally long ones, the nearest. Any above MatchThreshold << 12 is a
    // match.
    // In a register of its own, strings + p is an address the processor
    // forms a cycle sooner than window + 1 + p (the empty asm keeps the
    // compiler from folding the 1 back into the address).
    const uint8_t* strings = window + 1;
    asm("" : "+r"(strings));
    const Word keyStart = LoadBigEndian<Word>(key + 1);
    intptr_t next = trees.link[p][TreeRight];
    while (next != NoNode) {
      p = next;
      uint32_t links;
      __builtin_memcpy(&links, trees.link[p], sizeof links);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      const intptr_t left = int16_t(links), right = int16_t(links >> 16);
#else
      const intptr_t left = int16_t(links >> 16), right = int16_t(links);
#endif
      const Word nodeStart = LoadBigEndian<Word>(strings + p);
      int32_t shared;
      if (keyStart != nodeStart) {
        next = PickBySort(keyStart, nodeStart, right, left);
        greater = keyStart > nodeStart;
        shared = 1 + LeadingZeroBytes(keyStart ^ nodeStart);
      } else {
        shared = CompareRest<Word>(key, window + p, greater);
        next = greater ? right : left;
      }
      const uint32_t rank = uint32_t(shared) << 12 | uint32_t((int32_t(p) - r) & (RingSize - 1));
      best = rank > best ? rank : best;
      if (shared >= MaxMatch) {
        ReplaceMatchNode(trees, int32_t(p), r);
        KeepBestMatch(trees, matchLength, matchOffset, best);
        return;
      }
    }
  }
  trees.link[p][greater ? TreeRight : TreeLeft] = int16_t(r);
  trees.treeParent[r] = int16_t(p);
  KeepBestMatch(trees, matchLength, matchOffset, best);
}

// DeleteMatchNode, inlined into the encoder's loop.
LUMAVEIL_HOT_INLINE void DeleteNode(MatchTrees& trees, int32_t p) {
  if (trees.treeParent[p] == NoNode) return;
  const int32_t left = trees.link[p][TreeLeft];
  const int32_t right = trees.link[p][TreeRight];
  int32_t q;
  if (right == NoNode) {
    q = left;
  } else if (left == NoNode) {
    q = right;
  } else {
    // Two children: the rightmost node of the left subtree replaces p.
    q = left;
    if (trees.link[q][TreeRight] != NoNode) {
      do {
        q = trees.link[q][TreeRight];
      } while (trees.link[q][TreeRight] != NoNode);
      const int32_t above = trees.treeParent[q];
      trees.link[above][TreeRight] = trees.link[q][TreeLeft];
      trees.treeParent[trees.link[q][TreeLeft]] = int16_t(above);
      trees.link[q][TreeLeft] = int16_t(left);
      trees.treeParent[left] = int16_t(q);
    }
    trees.link[q][TreeRight] = int16_t(right);
    trees.treeParent[right] = int16_t(q);
  }
  const int32_t above = trees.treeParent[p];
  trees.treeParent[q] = int16_t(above);
  trees.link[above][SideOf(trees, above, p)] = int16_t(q);
  trees.treeParent[p] = NoNode;
}

}  // namespace

void InsertMatchNode(Codec& codec, int32_t r) { InsertNode(codec, r); }

void DeleteMatchNode(MatchTrees& trees, int32_t p) { DeleteNode(trees, p); }

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

namespace {

// EncodeSymbol, inlined into the encoder's loop.
LUMAVEIL_HOT_INLINE void SendSymbol(Codec& codec, int32_t symbol) {
  const int16_t* parent = codec.model.parent;
  // Walk up from the leaf; each level's bit pushes the ones below it down,
  // so the code ends left-aligned with the root's bit on top. The register
  // holds 32 levels, more than any tree the model can grow (21).
  int16_t path[SymbolCount];
  uint32_t code = 0;
  int32_t length = 0;
  intptr_t k = parent[NodeCount + symbol];
  do {
    path[length] = int16_t(k);
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
  if constexpr (SmallCode) {
    UpdateModel(codec.model, symbol);
  } else {
    UpdateModelAlong(codec.model, symbol, path, length);
  }
}

}  // namespace

void EncodeSymbol(Codec& codec, int32_t symbol) { SendSymbol(codec, symbol); }

void EncodeMatchOffset(Codec& codec, int32_t offset) {
  if constexpr (SmallCode) {
    // The high part's code worked out from the number of codes of each
    // length, as the decoder's plain form reads it.
    int32_t high = offset >> 6, first = 0, length = 1;
    for (; high >= OffsetCodesOfLength[length]; ++length) {
      high -= OffsetCodesOfLength[length];
      first = 2 * (first + OffsetCodesOfLength[length]);
    }
    PutCodeBits(codec, length + 6, uint32_t((first + high) << 6 | (offset & 63)) << (26 - length));
    return;
  }
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
      SendSymbol(codec, window[r]);
    } else {
      SendSymbol(codec, trees.matchLength + 256 - MatchThreshold - 1);
      EncodeMatchOffset(codec, trees.matchOffset);
    }
    const int32_t last = trees.matchLength;
    int32_t i = 0;
    for (; i < last; ++i) {
      const uint16_t c = ReadStreamByte(codec);
      if (c == EndOfInput) break;
      DeleteNode(trees, s);
      window[s] = uint8_t(c);
      if (s < MaxMatch - 1) window[s + RingSize] = uint8_t(c);
      s = (s + 1) & (RingSize - 1);
      r = (r + 1) & (RingSize - 1);
      InsertNode(codec, r);
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
