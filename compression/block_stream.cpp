// The RC block stream: the byte pump between a source, a coder and a sink.
// A body is cut into blocks of a 6-byte header (magic, checksum, length) and
// data: block 1 holds the 4-byte expanded length, the blocks after it hold
// 10234 code bytes each, and the last one is shorter than 10240 bytes (empty
// when the code ends on a block boundary).
#include "compression/codec_internal.h"
#include "platform/bytes.h"

namespace {

uint16_t BlockChecksum(const uint8_t* data, int32_t count) {
  uint32_t sum = ChecksumSeed;
  for (int32_t i = 0; i < count; ++i) sum += data[i];
  return uint16_t(sum);
}

// Reads up to want bytes into the input buffer, never past what this call
// may read; returns the number read.
int32_t ReadSource(BlockStream& stream, int32_t want) {
  if (want > stream.inputLeft) want = stream.inputLeft;
  if (want <= 0) return 0;
  int32_t got;
  if (stream.memorySource) {
    CopyBytes(stream.input, stream.memorySource, want);
    stream.memorySource += want;
    got = want;
  } else {
    got = FileRead(stream.source, stream.input, want);
    if (got < 0) got = 0;
    if (got > want) got = want;
  }
  stream.totalRead += got;
  stream.inputLeft -= got;
  return got;
}

void CallTick(BlockStream& stream) {
  if (stream.onTick) stream.onTick(stream.hookContext);
}

void RefillExpanding(Codec& codec) {
  BlockStream& stream = codec.stream;
  // After a short block nothing more belongs to this body: the bit reader's
  // look-ahead past it reads zeros without touching the source.
  if (stream.lastBlockSeen) {
    stream.endOfInput = true;
    return;
  }
  const int32_t blockStart = stream.totalRead;
  const int32_t got = ReadSource(stream, stream.readSize);
  if (!ValidateBlock(codec, got)) {
    stream.badBlock = true;
    stream.badBlockOffset = blockStart;
    stream.expandedLength = 0;  // ends DecodeBody at its next loop test
    SetStreamFailure(stream, StreamFailure::BadBlock);
    return;
  }
  // Only the bytes inside the length field belong to the body.
  const int32_t length = GetLe16(stream.input + 4);
  stream.readPosition = BlockHeaderSize;
  stream.endPosition = length;
  if (stream.readSize == FullBlockSize && length < FullBlockSize) stream.lastBlockSeen = true;
  if (stream.readPosition == stream.endPosition) stream.endOfInput = true;
}

void RefillCompressing(Codec& codec) {
  BlockStream& stream = codec.stream;
  if (stream.inputLeft <= 0) {
    stream.endOfInput = true;
    return;
  }
  const int32_t got = ReadSource(stream, stream.readSize);
  stream.readPosition = 0;
  stream.endPosition = got;
  XorBuffer(stream.input, got, stream.xorByte);
  ValidateBlock(codec, got);
  if (got == 0) {
    // The length in block 1 promised more: the body would not expand.
    stream.inputLeft = 0;
    stream.endOfInput = true;
    SetStreamFailure(stream, StreamFailure::SourceEnded);
  }
}

}  // namespace

void XorBuffer(uint8_t* buffer, int32_t length, int value) {
  const uint8_t mask = uint8_t(value);
  if (mask == 0) return;
  for (int32_t i = 0; i < length; ++i) buffer[i] ^= mask;
}

void SetStreamHooks(Codec& codec, BytesWrittenHook onBytesWritten, TickHook onTick, void* context) {
  codec.stream.onBytesWritten = onBytesWritten;
  codec.stream.onTick = onTick;
  codec.stream.hookContext = context;
}

void SetStreamEndpoints(Codec& codec, const uint8_t* memorySource, uint8_t* memorySink, int32_t sinkCapacity) {
  BlockStream& stream = codec.stream;
  stream.memorySource = memorySource;
  stream.memorySink = memorySink;
  stream.sinkRoom = (memorySink && sinkCapacity > 0) ? sinkCapacity : 0;
}

int32_t StreamTotalWritten(const Codec& codec) { return codec.stream.totalWritten; }

StreamFailure LastStreamFailure(const Codec& codec) { return codec.stream.failure; }

int32_t BadBlockOffset(const Codec& codec) { return codec.stream.badBlockOffset; }

int32_t CompressedSizeBound(int32_t length) {
  if (length <= 0) return FirstBlockSize + BlockHeaderSize;
  // A code tree whose root weighs at most 0x8000 is at most 21 levels deep
  // (a deeper one needs the weight of a Fibonacci number beyond it), so no
  // token costs more than 21 bits per byte it covers: a literal at most 21
  // bits, a match of 3 or more bytes at most 21 + 8 + 6.
  if (length > 0x7FFFFFFF / 3) return 0x7FFFFFFF;
  const uint32_t n = uint32_t(length);
  const uint32_t codeBytes = 2 * n + (5 * n + 7) / 8;
  const uint32_t blocks = codeBytes / (FullBlockSize - BlockHeaderSize) + 1;
  return int32_t(FirstBlockSize + codeBytes + blocks * BlockHeaderSize);
}

void BeginStream(Codec& codec, FileHandle source, FileHandle sink, bool expanding) {
  BlockStream& stream = codec.stream;
  stream.source = source;
  stream.sink = sink;
  // The state of one call (inputFramed to byteTicks) starts from zero.
  auto* callState = reinterpret_cast<uint8_t*>(&stream.inputFramed);
  FillBytes(callState, 0, int32_t(reinterpret_cast<uint8_t*>(&stream.byteTicks + 1) - callState));
  stream.inputFramed = expanding;
  stream.outputFramed = !expanding;
  stream.readSize = expanding ? FirstBlockSize : FullBlockSize;
  stream.badBlockOffset = -1;
  // Compressing, bytes 0..5 are the header; the write limit of 10 makes the
  // four length bytes block 1.
  stream.writePosition = expanding ? 0 : BlockHeaderSize;
  stream.writeLimit = expanding ? FullBlockSize : FirstBlockSize;
}

void EndStream(Codec& codec) {
  BlockStream& stream = codec.stream;
  stream.memorySource = nullptr;
  stream.memorySink = nullptr;
  stream.sinkRoom = 0;
  stream.xorByte = 0;
}

void ResetBitState(Codec& codec) {
  BlockStream& stream = codec.stream;
  stream.inBits = 0;
  stream.inBitCount = 0;
  stream.padBytes = 0;
  stream.outBits = 0;
  stream.outBitCount = 0;
}

uint16_t ReadStreamByteAtEnd(Codec& codec) {
  BlockStream& stream = codec.stream;
  if (stream.endOfInput || stream.badBlock) {
    CountTick(stream);
    return EndOfInput;
  }
  RefillInput(codec);
  if (stream.endOfInput || stream.badBlock) return EndOfInput;
  return stream.input[stream.readPosition++];
}

void RefillInput(Codec& codec) {
  if (codec.stream.inputFramed) {
    RefillExpanding(codec);
  } else {
    RefillCompressing(codec);
  }
}

bool ValidateBlock(Codec& codec, int32_t got) {
  BlockStream& stream = codec.stream;
  bool valid = true;
  if (stream.inputFramed) {
    const uint8_t* block = stream.input;
    valid = got >= BlockHeaderSize && GetLe16(block) == BlockMagic;
    if (valid) {
      const int32_t length = GetLe16(block + 4);
      // Block 1 is exactly the header and the 4 length bytes.
      const bool lengthFits = length >= BlockHeaderSize && length <= got &&
                              (stream.readSize != FirstBlockSize || length == FirstBlockSize);
      valid = lengthFits &&
              BlockChecksum(block + BlockHeaderSize, length - BlockHeaderSize) == GetLe16(block + 2);
    }
  }
  CallTick(stream);
  return valid;
}

void WriteBlock(Codec& codec) {
  BlockStream& stream = codec.stream;
  const int32_t count = stream.writePosition;
  if (stream.outputFramed) {
    PutLe16(stream.output, BlockMagic);
    PutLe16(stream.output + 2, BlockChecksum(stream.output + BlockHeaderSize, count - BlockHeaderSize));
    PutLe16(stream.output + 4, uint16_t(count));
  }
  CallTick(stream);
  int32_t written;
  if (stream.memorySink) {
    written = count <= stream.sinkRoom ? count : stream.sinkRoom;
    CopyBytes(stream.memorySink, stream.output, written);
    stream.memorySink += written;
    stream.sinkRoom -= written;
    if (written < count) SetStreamFailure(stream, StreamFailure::SinkFull);
  } else {
    written = count > 0 ? FileWrite(stream.sink, stream.output, count) : 0;
    if (written < 0) written = 0;
    if (written < count) SetStreamFailure(stream, StreamFailure::WriteFailed);
  }
  stream.totalWritten += written;
  if (stream.onBytesWritten) stream.onBytesWritten(stream.hookContext, written);
}

void FlushOutput(Codec& codec) {
  WriteBlock(codec);
  codec.stream.writePosition = codec.stream.outputFramed ? BlockHeaderSize : 0;
}

uint32_t WriteExpandedLength(Codec& codec) {
  BlockStream& stream = codec.stream;
  const uint32_t length = uint32_t(stream.inputLeft);
  for (int32_t i = 0; i < 4; ++i) WriteStreamByte(codec, uint8_t(length >> (8 * i)));
  stream.writeLimit = FullBlockSize;
  return length;
}

uint32_t ReadExpandedLength(Codec& codec) {
  BlockStream& stream = codec.stream;
  uint32_t length = 0;
  for (int32_t i = 0; i < 4; ++i) length |= uint32_t(ReadStreamByte(codec) & 0xFF) << (8 * i);
  if (stream.badBlock) length = 0;
  if (length > 0x7FFFFFFF) {
    // Sizes are signed 32-bit everywhere; no writer makes such a body.
    stream.badBlock = true;
    stream.badBlockOffset = 0;
    SetStreamFailure(stream, StreamFailure::BadBlock);
    length = 0;
  }
  if (stream.memorySink && length > uint32_t(stream.sinkRoom)) {
    SetStreamFailure(stream, StreamFailure::SinkFull);
    length = 0;
  }
  stream.readSize = FullBlockSize;
  stream.expandedLength = length;
  return length;
}
