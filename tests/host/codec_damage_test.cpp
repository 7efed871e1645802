// Damaged and cut streams, and sinks that are too small: the expander reports
// the failure and where, never reads past its limit and never writes past the
// body's length or the sink's room.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "platform/file.h"
#include "tests/host/codec_support.h"

using namespace codec_test;

namespace {

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

bool IsPrefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// A stream of four blocks: block 1, two full blocks, a short last block.
struct FourBlocks : ::testing::Test {
  void SetUp() override {
    data = RandomBytes(25000, 77);
    stream = Compress(data);
    ASSERT_EQ(stream.size() / 10240, 2u);
    ASSERT_GT(stream.size() % 10240, 16u);
  }
  static constexpr int32_t block2 = 10, block3 = 10 + 10240, block4 = 10 + 2 * 10240;
  Bytes data, stream;

  void ExpectBadBlockAt(const Bytes& damaged, int32_t offset) {
    const Expanded out = Expand(*NewCodec(), damaged, int32_t(data.size()), int32_t(damaged.size()));
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.failure, StreamFailure::BadBlock);
    EXPECT_EQ(out.badBlockOffset, offset);
    EXPECT_TRUE(IsPrefix(out.data, data));
  }
};

TEST_F(FourBlocks, BadMagic) {
  for (int32_t at : {0, block2, block3, block4}) {
    SCOPED_TRACE(at);
    Bytes damaged = stream;
    damaged[size_t(at) + 1] = 'X';
    ExpectBadBlockAt(damaged, at);
  }
}

TEST_F(FourBlocks, BadChecksum) {
  for (int32_t at : {0, block2, block3, block4}) {
    SCOPED_TRACE(at);
    Bytes damaged = stream;
    damaged[size_t(at) + 7] ^= 0x10;  // a data byte
    ExpectBadBlockAt(damaged, at);
    damaged = stream;
    damaged[size_t(at) + 2] ^= 0x01;  // the checksum itself
    ExpectBadBlockAt(damaged, at);
  }
}

TEST_F(FourBlocks, LengthFieldsThatCannotBe) {
  Bytes damaged = stream;
  damaged[block4 + 4] = 5;  // below the header
  damaged[block4 + 5] = 0;
  ExpectBadBlockAt(damaged, block4);

  // Longer than what is there, even with a matching checksum over those bytes.
  damaged = Concat(stream, Bytes(5, 0));
  const uint32_t length = uint32_t(stream.size() - block4 + 5);
  damaged[block4 + 4] = uint8_t(length);
  damaged[block4 + 5] = uint8_t(length >> 8);
  damaged.resize(stream.size());
  ExpectBadBlockAt(damaged, block4);

  // Block 1 is exactly ten bytes.
  Bytes shortFirst = Compress(Bytes(100, 'z'));
  shortFirst[4] = 9;
  const Expanded out = Expand(shortFirst, 100);
  EXPECT_EQ(out.failure, StreamFailure::BadBlock);
  EXPECT_EQ(out.badBlockOffset, 0);
  EXPECT_TRUE(out.data.empty());
}

// Cut anywhere, the stream is a bad block: the one cut short, or the one
// missing after a full block. The expander reads nothing past the cut (the
// source buffer ends there).
TEST_F(FourBlocks, CutAnywhere) {
  auto codec = NewCodec();
  for (size_t cut = 0; cut < stream.size(); cut += (cut < 40 ? 1 : 97)) {
    SCOPED_TRACE(cut);
    const Expanded out = Expand(*codec, stream, int32_t(data.size()), int32_t(cut));
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.failure, StreamFailure::BadBlock);
    const int32_t blockStart = cut < 10 ? 0 : int32_t(10 + (cut - 10) / 10240 * 10240);
    EXPECT_EQ(out.badBlockOffset, blockStart);
    EXPECT_TRUE(IsPrefix(out.data, data));
  }
  for (int32_t cut : {block3, block4, block4 + 1, int32_t(stream.size()) - 1}) {
    SCOPED_TRACE(cut);
    const Expanded out = Expand(*codec, stream, int32_t(data.size()), cut);
    EXPECT_EQ(out.failure, StreamFailure::BadBlock);
    EXPECT_EQ(out.badBlockOffset, cut == block3 ? block3 : block4);
  }
}

// A code that ends on a block boundary is followed by an empty last block;
// without it the stream has lost a block.
TEST(CodecDamage, MissingEmptyLastBlock) {
  const Bytes data = PrefixWithCodeSize(RandomBytes(20000, 5), 10234);
  ASSERT_FALSE(data.empty());
  const Bytes stream = Compress(data);
  ASSERT_EQ(stream.size(), 10u + 10240 + 6);
  EXPECT_EQ(Expand(stream, int32_t(data.size())).data, data);
  const Bytes cut(stream.begin(), stream.end() - 6);
  const Expanded out = Expand(*NewCodec(), cut, int32_t(data.size()), int32_t(cut.size()));
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.failure, StreamFailure::BadBlock);
  EXPECT_EQ(out.badBlockOffset, 10 + 10240);
}

// Well-formed blocks around too little code: the decoder runs past the last
// block's data. Reported as truncated, with only correctly decoded bytes out.
TEST(CodecDamage, CodeCutInsideWellFormedBlocks) {
  for (const Bytes& data : {Text(30000, 1), RandomBytes(12000, 2), Bytes(5000, 'r')}) {
    const Bytes body = Unframe(Compress(data));
    auto codec = NewCodec();
    const size_t code = body.size() - 4;
    for (size_t keep = 0; keep < code; keep += (code < 200 ? 1 : code / 150)) {
      SCOPED_TRACE(keep);
      const Bytes stream = Frame(Bytes(body.begin(), body.begin() + long(4 + keep)));
      const Expanded out = Expand(*codec, stream, int32_t(data.size()), int32_t(stream.size()));
      EXPECT_EQ(out.result, 0);
      EXPECT_EQ(out.failure, StreamFailure::Truncated);
      EXPECT_EQ(out.badBlockOffset, -1);
      EXPECT_TRUE(IsPrefix(out.data, data));
    }
  }
}

// Bodies of 1 to 7 bytes lie wholly in block 2 and expand right.
TEST(CodecDamage, TinyBodiesNeedTheirLastBlock) {
  for (size_t n = 1; n <= 7; ++n) {
    const Bytes data = RandomBytes(n, 40 + n);
    const Bytes stream = Compress(data);
    EXPECT_EQ(Expand(stream, int32_t(n)).data, data);
    const Expanded cut = Expand(*NewCodec(), stream, int32_t(n), 10);
    EXPECT_EQ(cut.failure, StreamFailure::BadBlock);
    EXPECT_EQ(cut.badBlockOffset, 10);
    EXPECT_TRUE(cut.data.empty());
  }
}

TEST(CodecDamage, BytesAfterTheLastBlockAreNotPartOfTheBody) {
  const Bytes data = Text(40000, 3);
  const Bytes stream = Concat(Compress(data), RandomBytes(30000, 4));
  const Expanded out = Expand(stream, int32_t(data.size()));
  EXPECT_EQ(out.result, 1);
  EXPECT_TRUE(out.data == data);
}

// A length far beyond the code ends at the code's end, not at the length.
TEST(CodecDamage, HugeLengthWithLittleCode) {
  const Bytes stream = Frame(Concat(Le32(0x7FFFFFFF), {0xF6, 0xFB, 0xBD, 0xE0}));
  auto codec = NewCodec();
  SetStreamEndpoints(*codec, stream.data(), nullptr, 0);
  FileHandle sink = FileCreate("/dev/null");
  ASSERT_NE(sink, InvalidFile);
  EXPECT_EQ(ExpandStream(*codec, InvalidFile, sink, int32_t(stream.size())), 0);
  FileClose(sink);
  EXPECT_EQ(LastStreamFailure(*codec), StreamFailure::Truncated);
  EXPECT_EQ(StreamTotalWritten(*codec), 3);

  const Bytes negative = Frame(Concat(Le32(0x80000000u), {0xF6, 0xFB, 0xBD, 0xE0}));
  const Expanded out = Expand(negative, 16);
  EXPECT_EQ(out.failure, StreamFailure::BadBlock);
  EXPECT_EQ(out.badBlockOffset, 0);
}

// Code that passes the block checks but is garbage: whatever it decodes to,
// no more than the length comes out and nothing is read or written out of
// bounds.
TEST(CodecDamage, GarbageCodeStaysWithinBounds) {
  auto codec = NewCodec();
  for (uint64_t seed = 0; seed < 300; ++seed) {
    Random random(seed);
    const uint32_t length = 1 + random.Next() % 3000;
    Bytes code = RandomBytes(1 + random.Next() % 400, seed);
    if (seed % 3 == 0) code.assign(code.size(), 0xFF);  // the deepest branches everywhere
    const Bytes stream = Frame(Concat(Le32(length), code));
    const Expanded out = Expand(*codec, stream, int32_t(length), int32_t(stream.size()));
    EXPECT_LE(out.data.size(), length);
    if (out.result == 1) {
      EXPECT_EQ(out.data.size(), length);
    } else {
      EXPECT_EQ(out.failure, StreamFailure::Truncated);
    }
  }
}

// The memory sink's room: a body longer than it fails before writing.
TEST(CodecSinks, ExpandIntoTooSmallMemory) {
  const Bytes data = Text(30000, 5);
  const Bytes stream = Compress(data);
  const Expanded tooSmall = Expand(*NewCodec(), stream, 29999, int32_t(stream.size()));
  EXPECT_EQ(tooSmall.result, 0);
  EXPECT_EQ(tooSmall.failure, StreamFailure::SinkFull);
  EXPECT_TRUE(tooSmall.data.empty());
  const Expanded exact = Expand(*NewCodec(), stream, 30000, int32_t(stream.size()));
  EXPECT_EQ(exact.result, 1);
  EXPECT_TRUE(exact.data == data);
  const Expanded roomy = Expand(*NewCodec(), stream, 40000, int32_t(stream.size()));
  EXPECT_TRUE(roomy.data == data);
}

TEST(CodecSinks, CompressIntoTooSmallMemory) {
  const Bytes data = RandomBytes(30000, 6);
  auto codec = NewCodec();
  for (int32_t room : {0, 5, 10, 16, 10250, 30000}) {
    SCOPED_TRACE(room);
    Bytes sink(size_t(room) + 64, 0xCC);
    SetStreamEndpoints(*codec, data.data(), sink.data(), room);
    EXPECT_EQ(CompressStream(*codec, InvalidFile, InvalidFile, int32_t(data.size()), 0), 0);
    EXPECT_EQ(LastStreamFailure(*codec), StreamFailure::SinkFull);
    EXPECT_EQ(StreamTotalWritten(*codec), room);
    for (size_t i = size_t(room); i < sink.size(); ++i) ASSERT_EQ(sink[i], 0xCC) << i;
  }
}

// Endpoints return to files after every call.
TEST(CodecSinks, EndpointsAreForOneCall) {
  const Bytes data = Text(1000, 7);
  auto codec = NewCodec();
  Compress(*codec, data);
  EXPECT_EQ(codec->stream.memorySource, nullptr);
  EXPECT_EQ(codec->stream.memorySink, nullptr);
  Expand(*codec, Compress(data), 1000, int32_t(Compress(data).size()));
  EXPECT_EQ(codec->stream.memorySource, nullptr);
  EXPECT_EQ(codec->stream.memorySink, nullptr);
}

}  // namespace
