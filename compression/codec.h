// The compressed-entry codec: RC block framing around LZHUF code (LZSS over a
// 4096-byte window with an adaptive Huffman code). One Codec holds the whole
// state of one coder; the installer keeps a single one, the tool as many as it
// runs at once. Nothing here allocates.
#pragma once
#include <cstdint>

#include "platform/file.h"

// Format constants shared by encoder and decoder.
inline constexpr int32_t RingSize = 4096;
inline constexpr int32_t MaxMatch = 60;
inline constexpr int32_t MatchThreshold = 2;
inline constexpr int32_t SymbolCount = 314;
inline constexpr int32_t NodeCount = 2 * SymbolCount - 1;
inline constexpr int32_t RootNode = NodeCount - 1;
inline constexpr uint16_t WeightLimit = 0x8000;
inline constexpr int32_t NoNode = RingSize;
inline constexpr uint16_t BlockMagic = 0x4352;     // "RC"
inline constexpr uint16_t ChecksumSeed = 0x68A5;
inline constexpr int32_t BlockHeaderSize = 6;
inline constexpr int32_t FullBlockSize = 10240;
inline constexpr int32_t FirstBlockSize = 10;
inline constexpr uint16_t EndOfInput = 0xFFFF;

// Why the last ExpandStream failed.
enum class StreamFailure : uint8_t {
  None,
  BadBlock,   // wrong magic, length or checksum, or a block cut short
  Truncated,  // the blocks ended before the code of every byte
  SinkFull,   // the expanded content does not fit the memory sink
};

using BytesWrittenHook = void (*)(void* context, int32_t count);
using TickHook = void (*)(void* context);

struct LzhufModel {
  uint16_t weight[NodeCount + 1];
  int16_t child[NodeCount];
  int16_t parent[NodeCount + SymbolCount];
};

struct MatchTrees {
  int16_t treeLeft[RingSize + 1];
  int16_t treeRight[RingSize + 257];
  int16_t treeParent[RingSize + 1];
  int16_t matchLength;
  int16_t matchOffset;
};

struct BlockStream {
  bool inputFramed, outputFramed;
  const uint8_t* memorySource;  // null: read the source file
  FileHandle source, sink;
  uint8_t* memorySink;          // null: write the sink file
  int32_t sinkRoom;             // bytes the memory sink may still take
  int32_t inputLeft, outputLeft;
  uint32_t expandedLength;
  int32_t readSize;
  int32_t readPosition, endPosition;
  int32_t writePosition, writeLimit;
  int32_t byteTicks;
  int32_t totalWritten;
  int32_t totalRead;            // source bytes consumed by this call
  int32_t blockOffset;          // source offset of the block being read
  int32_t badBlockOffset;       // -1, or where the bad block starts
  bool endOfInput, badBlock, lastBlockSeen;
  StreamFailure failure;
  uint8_t xorByte;
  uint32_t inBits;              // bit reader: pending bits, left-aligned
  int32_t inBitCount;
  int32_t padBytes;             // zero bytes the bit reader took past the end
  uint16_t outBits;             // bit writer
  uint8_t outBitCount;
  BytesWrittenHook onBytesWritten;
  TickHook onTick;
  void* hookContext;
  uint8_t input[16384];
  uint8_t output[FullBlockSize];
};

struct Codec {
  BlockStream stream;
  LzhufModel model;
  MatchTrees trees;
  uint8_t window[RingSize + MaxMatch - 1];
};

// XORs each byte with the low 8 bits of value; nothing changes for 0.
void XorBuffer(uint8_t* buffer, int32_t length, int value);

// Installs the progress hooks; they stay until replaced. Either may be null.
void SetStreamHooks(Codec& codec, BytesWrittenHook onBytesWritten, TickHook onTick, void* context);

// Chooses the endpoints of the next ExpandStream or CompressStream: a memory
// source instead of the source file, a memory sink of sinkCapacity bytes
// instead of the sink file. Both calls return to files when they end.
void SetStreamEndpoints(Codec& codec, const uint8_t* memorySource, uint8_t* memorySink, int32_t sinkCapacity);

// Expands an RC block stream read from the source (at its current position,
// at most inputLimit bytes) into the sink. 1 on success; 0 with the reason in
// LastStreamFailure.
int ExpandStream(Codec& codec, FileHandle source, FileHandle sink, int32_t inputLimit);

// Compresses length source bytes, each XORed with xorByte first, into an RC
// block stream written to the sink. Always 1; the sink's short writes show in
// StreamTotalWritten.
int CompressStream(Codec& codec, FileHandle source, FileHandle sink, int32_t length, uint8_t xorByte);

// Bytes the sink accepted during the last call, block headers included.
int32_t StreamTotalWritten(const Codec& codec);
StreamFailure LastStreamFailure(const Codec& codec);
// Offset, from where the last ExpandStream started reading, of the bad block; -1 when none.
int32_t BadBlockOffset(const Codec& codec);
// Upper bound of CompressStream's output for length input bytes.
int32_t CompressedSizeBound(int32_t length);
