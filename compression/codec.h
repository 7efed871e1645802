// The compressed-entry codec: RC block framing around LZHUF code (LZSS over a
// 4096-byte window with an adaptive Huffman code). One Codec holds the whole
// state of one coder; the installer keeps a single one, the tool as many as it
// runs at once. A zeroed Codec is ready for use (no hooks, file endpoints).
// Nothing here allocates, and there is no state outside Codec.
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
inline constexpr int32_t WindowStart = RingSize - MaxMatch;  // where a body's first byte goes
inline constexpr uint16_t BlockMagic = 0x4352;                // "RC"
inline constexpr uint16_t ChecksumSeed = 0x68A5;
inline constexpr int32_t BlockHeaderSize = 6;
inline constexpr int32_t FullBlockSize = 10240;
inline constexpr int32_t FirstBlockSize = 10;
inline constexpr uint16_t EndOfInput = 0xFFFF;

// Why the last ExpandStream or CompressStream failed.
enum class StreamFailure : uint8_t {
  None,
  BadBlock,     // wrong magic, length or checksum, or a block cut short or missing
  Truncated,    // the blocks ended before the code of every byte
  SinkFull,     // the output does not fit the memory sink
  WriteFailed,  // the sink file took fewer bytes than it was given
  SourceEnded,  // compressing: the source gave fewer bytes than asked for
};

using BytesWrittenHook = void (*)(void* context, int32_t count);
using TickHook = void (*)(void* context);

// The adaptive code tree: slots 2m and 2m+1 are siblings, weights never
// decrease with the slot. Leaves hold 627 + symbol in child; parent[627 + s]
// is the slot of symbol s's leaf.
struct LzhufModel {
  // [NodeCount] and the slack after it hold 0xFFFF: a sentinel for the
  // search upward, which reads sixteen weights at a time.
  uint16_t weight[NodeCount + 16];
  int16_t child[NodeCount];
  int16_t parent[NodeCount + SymbolCount];
  // grandchild[s][b] = child[child[s] + b]: where two code bits lead from
  // slot s, so that the decoder's walk down waits for one load per two
  // levels. The encoder's own loop leaves it stale (it never walks down),
  // and the installer's small form does without it.
  int16_t grandchild[NodeCount][2];
  // Set whenever the tree is built, in the fast form: most of the weight
  // sits in leaves that weigh as much as the slot above them, as when all
  // bytes are about equally frequent. A counted leaf then usually changes
  // places, and the coders move it without checking first.
  bool leavesMoveOften;
};

// The encoder's 256 binary search trees of window strings, one per first
// byte, ordered by the string's bytes 1..59. Node p is the string at ring
// position p; NoNode is the empty link, and entry NoNode absorbs writes made
// through one.
inline constexpr int32_t TreeLeft = 0, TreeRight = 1;
struct MatchTrees {
  int16_t link[RingSize + 257][2];  // [p][TreeLeft], [p][TreeRight]; [4097 + b][TreeRight] is tree b's root
  int16_t treeParent[RingSize + 1];
  int32_t matchLength;
  int32_t matchOffset;  // distance back minus 1
};

struct BlockStream {
  // Endpoints of the current call.
  const uint8_t* memorySource;  // null: read the source file
  FileHandle source, sink;
  uint8_t* memorySink;          // null: write the sink file
  int32_t sinkRoom;             // bytes the memory sink may still take
  // From here to byteTicks: the state of one call, which BeginStream clears.
  bool inputFramed, outputFramed;
  // Input side.
  int32_t inputLeft;            // source bytes this call may still read
  int32_t readSize;             // bytes asked of the source per read
  int32_t readPosition, endPosition;  // deliverable bytes of the input buffer
  int32_t totalRead;            // source bytes read by this call
  int32_t badBlockOffset;       // -1, or where the bad block starts
  bool endOfInput, badBlock, lastBlockSeen;
  // Output side.
  uint32_t expandedLength;      // expanding: the body's length (0 after a bad block)
  int32_t writePosition, writeLimit;
  int32_t totalWritten;
  // Bit reader and writer of the coders.
  uint32_t inBits;              // pending bits, left-aligned
  int32_t inBitCount;
  int32_t padBytes;             // zero bytes the bit reader took past the end
  uint32_t outBits;             // pending bits, left-aligned
  int32_t outBitCount;
  StreamFailure failure;
  uint8_t xorByte;
  // Progress hooks, kept across calls.
  int32_t byteTicks;
  BytesWrittenHook onBytesWritten;
  TickHook onTick;
  void* hookContext;
  uint8_t input[FullBlockSize];
  uint8_t output[FullBlockSize];
};

struct Codec {
  BlockStream stream;
  LzhufModel model;
  MatchTrees trees;
  // The ring, the mirror of its first MaxMatch - 1 bytes, and slack for
  // comparing strings eight bytes at a time.
  uint8_t window[RingSize + MaxMatch - 1 + 8];
};

// XORs each byte with the low 8 bits of value; nothing changes for 0.
void XorBuffer(uint8_t* buffer, int32_t length, int value);

// Installs the progress hooks; they stay until replaced. Either may be null.
// OnBytesWritten gets every block's byte count; OnTick comes after every source
// read, before every block write and once per 1024 bytes moved.
void SetStreamHooks(Codec& codec, BytesWrittenHook onBytesWritten, TickHook onTick, void* context);

// Chooses the endpoints of the next ExpandStream or CompressStream: a memory
// source instead of the source file, a memory sink of sinkCapacity bytes
// instead of the sink file. Both calls return to files when they end.
void SetStreamEndpoints(Codec& codec, const uint8_t* memorySource, uint8_t* memorySink, int32_t sinkCapacity);

// Expands an RC block stream read from the source (at its current position,
// at most inputLimit bytes) into the sink. 1 on success; 0 with the reason in
// LastStreamFailure. Never writes more than the body's length, nor more than
// a memory sink's capacity.
int ExpandStream(Codec& codec, FileHandle source, FileHandle sink, int32_t inputLimit);

// Compresses length source bytes, each XORed with xorByte first, into an RC
// block stream written to the sink. 1 on success; 0 when the source ended
// early, the sink file fell short or the memory sink was too small.
int CompressStream(Codec& codec, FileHandle source, FileHandle sink, int32_t length, uint8_t xorByte);

// Bytes the sink accepted during the last call, block headers included.
int32_t StreamTotalWritten(const Codec& codec);
StreamFailure LastStreamFailure(const Codec& codec);
// Offset, from where the last ExpandStream started reading, of the bad block; -1 when none.
int32_t BadBlockOffset(const Codec& codec);
// Upper bound of CompressStream's output for length input bytes.
int32_t CompressedSizeBound(int32_t length);
