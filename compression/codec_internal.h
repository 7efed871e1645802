// Operations shared by the block stream, the decoder and the encoder. Not for
// callers outside compression/ (the unit tests drive a few of them directly).
#pragma once
#include "compression/codec.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The installer builds the codec with LUMAVEIL_SMALL_CODE: it needs the
// codec's results, not its speed, and every byte of its code counts. There
// the peeking, word-at-a-time and table-driven steps give way to their plain
// forms, and the hot steps are left to the compiler's inlining. Both forms
// code the same bytes; the host tests run against both builds.
#if defined(LUMAVEIL_SMALL_CODE)
inline constexpr bool SmallCode = true;
#define LUMAVEIL_HOT_INLINE inline
#define LUMAVEIL_HOT_LOOP inline
#else
inline constexpr bool SmallCode = false;
#define LUMAVEIL_HOT_INLINE [[gnu::always_inline]] inline
// A hot loop kept a function of its own, whose registers the compiler
// allocates for that loop alone (measured: a few per cent).
#define LUMAVEIL_HOT_LOOP [[gnu::noinline]]
#endif

// --- Block stream (block_stream.cpp) ---
// Sets the stream up for one call of ExpandStream or CompressStream.
void BeginStream(Codec& codec, FileHandle source, FileHandle sink, bool expanding);
// Back to the defaults: file endpoints, no XOR.
void EndStream(Codec& codec);
// Clears the coders' bit reader and writer.
void ResetBitState(Codec& codec);
// Empty input buffer: reads the next block (expanding) or chunk (compressing),
// or ends the input.
void RefillInput(Codec& codec);
// Checks what one read brought; calls OnTick.
bool ValidateBlock(Codec& codec, int32_t got);
// Hands the output buffer to the sink (completing the header when compressing).
void WriteBlock(Codec& codec);
// A full output buffer: WriteBlock and start the next one.
void FlushOutput(Codec& codec);
// Block 1: the body's length, written before any source byte is read.
uint32_t WriteExpandedLength(Codec& codec);
// Reads block 1; 0 for a bad block or an impossible length.
uint32_t ReadExpandedLength(Codec& codec);
// The slow half of ReadStreamByte.
uint16_t ReadStreamByteAtEnd(Codec& codec);

// Keeps the first failure of a call.
inline void SetStreamFailure(BlockStream& stream, StreamFailure failure) {
  if (stream.failure == StreamFailure::None) stream.failure = failure;
}

// Counts one byte moved; every 1024th calls OnTick.
inline void CountTick(BlockStream& stream) {
  if (++stream.byteTicks == 1024) {
    stream.byteTicks = 0;
    if (stream.onTick) stream.onTick(stream.hookContext);
  }
}

// Counts up to 1024 bytes moved at once.
inline void CountTicks(BlockStream& stream, int32_t count) {
  stream.byteTicks += count;
  if (stream.byteTicks >= 1024) {
    stream.byteTicks -= 1024;
    if (stream.onTick) stream.onTick(stream.hookContext);
  }
}

// The coders' only input: the next byte, or EndOfInput when the input has
// ended or a block was bad.
inline uint16_t ReadStreamByte(Codec& codec) {
  BlockStream& stream = codec.stream;
  if (stream.readPosition < stream.endPosition) {
    CountTick(stream);
    return stream.input[stream.readPosition++];
  }
  return ReadStreamByteAtEnd(codec);
}

// The coders' only output.
inline void WriteStreamByte(Codec& codec, uint8_t byte) {
  BlockStream& stream = codec.stream;
  stream.output[stream.writePosition++] = byte;
  if (stream.writePosition >= stream.writeLimit) {
    FlushOutput(codec);
  } else {
    CountTick(stream);
  }
}

// --- Model and decoder (lzhuf_decode.cpp) ---
void ResetModel(LzhufModel& model);
// Counts one occurrence of symbol, rebuilding first when the root is full.
// (The coders' loops have faster forms of it below.)
void UpdateModel(LzhufModel& model, int32_t symbol);
// Halves every leaf weight and rebuilds the tree from them.
void RebuildModel(LzhufModel& model);
int32_t ReadCodeBit(Codec& codec);
int32_t ReadCodeByte(Codec& codec);
int32_t DecodeSymbol(Codec& codec);
int32_t DecodeMatchOffset(Codec& codec);
void DecodeBody(Codec& codec);

// The fixed prefix code of an offset's high 6 bits. It is canonical: codes
// in increasing order of the high part, each the previous plus one, zeros
// appended when the length grows; so the number of codes of each length
// (1 to 8 bits) describes it whole.
inline constexpr uint8_t OffsetCodesOfLength[9] = {0, 0, 0, 1, 3, 8, 12, 24, 16};
struct OffsetCode {
  uint8_t highLength[64];      // code length of each high part
  uint8_t highCode[64];        // its code, left-aligned in a byte
  uint8_t highByPrefix[256];   // the high part whose code starts the byte
  uint8_t lengthByPrefix[256]; // and that code's length
};
extern const OffsetCode offsetCode;

// --- Encoder (lzhuf_encode.cpp) ---
void InitMatchTrees(MatchTrees& trees);
void InsertMatchNode(Codec& codec, int32_t r);
void DeleteMatchNode(MatchTrees& trees, int32_t p);
void PutCodeBits(Codec& codec, int32_t count, uint32_t bits);
void FlushCodeBits(Codec& codec);
void EncodeSymbol(Codec& codec, int32_t symbol);
void EncodeMatchOffset(Codec& codec, int32_t offset);
void EncodeBody(Codec& codec);

// --- Inline steps of the hot loops ---
// Where a word or vector form is used, a plain form stands beside it; the
// tests hold them to agree, so that every build codes the same bytes.

// The highest slot at or above from whose weight is below k, given that
// from's is; the 0xFFFF sentinels after the last node stop the search.
inline int32_t HighestSlotBelowPlain(const uint16_t* weight, int32_t from, uint32_t k) {
  int32_t at = from + 1;
  while (weight[at] < k) ++at;
  return at - 1;
}

#if defined(__SSE2__)
// Equal weights can form long runs (every leaf starts at 1): sixteen at a
// time. from holds k - 1 and no slot after it less, so the run ends at the
// first slot that differs from from's; the value to compare with is taken
// from the loaded weights themselves rather than waited for from k.
inline int32_t HighestSlotBelowSse2(const uint16_t* weight, int32_t from, [[maybe_unused]] uint32_t k) {
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + from));
  const __m128i run = _mm_shuffle_epi32(_mm_shufflelo_epi16(first, 0), 0);
  __m128i low = first;
  for (int32_t at = from;; at += 16) {
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + at + 8));
    const uint32_t same =
        uint32_t(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(low, run), _mm_cmpeq_epi16(high, run))));
    if (same != 0xFFFF) return at + __builtin_ctz(~same) - 1;
    low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + at + 16));
  }
}
#endif

inline int32_t HighestSlotBelow(const uint16_t* weight, int32_t from, uint32_t k) {
#if defined(__SSE2__)
  return HighestSlotBelowSse2(weight, from, k);
#else
  return HighestSlotBelowPlain(weight, from, k);
#endif
}

// Nodes c and l trade places, subtrees and all. The decoder also keeps its
// grandchild table (KeepGrandchildren); the encoder, which never walks down,
// does not. c and l may be the same slot.
template <bool KeepGrandchildren>
inline void TradePlaces(LzhufModel& model, int32_t c, int32_t l) {
  int16_t* child = model.child;
  int16_t* parent = model.parent;
  // A leaf's entry has no sibling entry after it: the second store of a
  // pair lands on the first again instead of branching.
  const intptr_t i = child[c];
  const intptr_t j = child[l];
  parent[i] = int16_t(l);
  parent[i + (i < NodeCount)] = int16_t(l);
  child[l] = int16_t(i);
  parent[j] = int16_t(c);
  parent[j + (j < NodeCount)] = int16_t(c);
  child[c] = int16_t(j);
  if constexpr (KeepGrandchildren && !SmallCode) {
    // The grandchildren travel with their subtrees; the slots above c and l
    // now reach other nodes through them.
    int16_t(*grandchild)[2] = model.grandchild;
    uint32_t atC, atL;
    __builtin_memcpy(&atC, grandchild[c], sizeof atC);
    __builtin_memcpy(&atL, grandchild[l], sizeof atL);
    __builtin_memcpy(grandchild[c], &atL, sizeof atL);
    __builtin_memcpy(grandchild[l], &atC, sizeof atC);
    grandchild[parent[c]][c & 1] = int16_t(j);
    grandchild[parent[l]][l & 1] = int16_t(i);
  }
}

// Node c has just grown to weight k, above the node after it: to keep the
// weights sorted it trades places with the last node still lighter than k.
// Returns c's new slot.
template <bool KeepGrandchildren>
inline int32_t MoveUp(LzhufModel& model, int32_t c, uint32_t k) {
  uint16_t* weight = model.weight;
  const int32_t l = HighestSlotBelow(weight, c + 1, k);
  weight[c] = weight[l];
  weight[l] = uint16_t(k);
  TradePlaces<KeepGrandchildren>(model, c, l);
  return l;
}

// Counts one more occurrence in node c and every node above it.
template <bool KeepGrandchildren = false>
inline void CountUpFrom(LzhufModel& model, intptr_t c) {
  uint16_t* weight = model.weight;
  do {
    const uint32_t k = ++weight[c];
    if (k > weight[c + 1]) c = MoveUp<KeepGrandchildren>(model, int32_t(c), k);
    c = model.parent[c];
  } while (c != 0);
}

// The count for a tree whose leaves usually move (leavesMoveOften): the
// leaf in slot c trades places with the last slot of its weight, which is c
// itself when it is the last, without checking first: on random data six
// leaves in seven move, and a branch on it would guess wrong too often.
// Counts as CountUpFrom does.
template <bool KeepGrandchildren>
inline void CountUpFromMovingLeaf(LzhufModel& model, int32_t c) {
  uint16_t* weight = model.weight;
  const uint32_t w = weight[c];
  const int32_t l = HighestSlotBelow(weight, c, w + 1);
  weight[l] = uint16_t(w + 1);  // the slots from c to l all weigh w
  TradePlaces<KeepGrandchildren>(model, c, l);
  CountUpFrom<KeepGrandchildren>(model, model.parent[l]);
}

// The encoder's count of one occurrence of symbol, given the slots from its
// leaf up to the root's child (count of them) as it has just walked them.
LUMAVEIL_HOT_INLINE void UpdateModelAlong(LzhufModel& model, int32_t symbol, const int16_t* path, int32_t count) {
  if (model.weight[RootNode] == WeightLimit) {
    RebuildModel(model);
    CountUpFrom(model, model.parent[NodeCount + symbol]);
    return;
  }
  if (model.leavesMoveOften) {
    CountUpFromMovingLeaf<false>(model, path[0]);
    return;
  }
  // Until a node moves, its parent is the next slot of the path, so the
  // weights along it can be fetched without waiting for each parent link.
  uint16_t* weight = model.weight;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t c = path[i];
    const uint32_t k = ++weight[c];
    if (k > weight[c + 1]) {
      CountUpFrom(model, model.parent[MoveUp<false>(model, c, k)]);
      return;
    }
  }
  ++weight[RootNode];
}

// Window strings are compared a word at a time (32 or 64 bits), loaded most
// significant byte first so that comparing the words orders the strings.
template <typename Word>
inline Word LoadBigEndian(const uint8_t* p) {
  Word value;
  __builtin_memcpy(&value, p, sizeof value);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if constexpr (sizeof(Word) == 8) {
    value = Word(__builtin_bswap64(uint64_t(value)));
  } else {
    value = Word(__builtin_bswap32(uint32_t(value)));
  }
#endif
  return value;
}

template <typename Word>
inline int32_t LeadingZeroBytes(Word difference) {
  if constexpr (sizeof(Word) == 8) {
    return __builtin_clzll(uint64_t(difference)) >> 3;
  } else {
    return __builtin_clz(uint32_t(difference)) >> 3;
  }
}

// How many leading bytes the 60-byte strings at key and node share, given
// that their first bytes and first word (bytes 1..) are equal, and whether
// key sorts after node. Reads up to 8 bytes past the strings.
template <typename Word>
inline int32_t CompareRest(const uint8_t* key, const uint8_t* node, bool& greater) {
  for (int32_t i = 1 + int32_t(sizeof(Word)); i < MaxMatch; i += int32_t(sizeof(Word))) {
    const Word a = LoadBigEndian<Word>(key + i);
    const Word b = LoadBigEndian<Word>(node + i);
    if (a != b) {
      greater = a > b;
      const int32_t at = i + LeadingZeroBytes(a ^ b);
      return at < MaxMatch ? at : MaxMatch;
    }
  }
  greater = false;
  return MaxMatch;
}
