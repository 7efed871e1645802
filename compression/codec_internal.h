// Operations shared by the block stream, the decoder and the encoder. Not for
// callers outside compression/ (the unit tests drive a few of them directly).
#pragma once
#include "compression/codec.h"

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
void UpdateModel(LzhufModel& model, int32_t symbol);
// The same, given the slots from the symbol's leaf up to the root's child
// (count of them), as the coder has just walked them.
void UpdateModelAlong(LzhufModel& model, int32_t symbol, const int16_t* path, int32_t count);
// Halves every leaf weight and rebuilds the tree from them.
void RebuildModel(LzhufModel& model);
int32_t ReadCodeBit(Codec& codec);
int32_t ReadCodeByte(Codec& codec);
int32_t DecodeSymbol(Codec& codec);
int32_t DecodeMatchOffset(Codec& codec);
void DecodeBody(Codec& codec);

// The fixed prefix code of an offset's high 6 bits.
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
