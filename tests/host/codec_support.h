// Helpers for the codec tests: memory-to-memory runs, an independent reader of
// the block framing, and deterministic test data.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/random.h"
#include "compression/codec.h"

namespace codec_test {

using Bytes = std::vector<uint8_t>;

inline std::unique_ptr<Codec> NewCodec() { return std::make_unique<Codec>(); }

inline Bytes Compress(Codec& codec, const Bytes& data, uint8_t xorByte = 0) {
  Bytes stream(size_t(CompressedSizeBound(int32_t(data.size()))));
  SetStreamEndpoints(codec, data.data(), stream.data(), int32_t(stream.size()));
  EXPECT_EQ(CompressStream(codec, InvalidFile, InvalidFile, int32_t(data.size()), xorByte), 1);
  stream.resize(size_t(StreamTotalWritten(codec)));
  return stream;
}

inline Bytes Compress(const Bytes& data, uint8_t xorByte = 0) { return Compress(*NewCodec(), data, xorByte); }

struct Expanded {
  int result;
  StreamFailure failure;
  int32_t badBlockOffset;
  Bytes data;  // what the sink received
};

// Expands from a source of exactly limit bytes (so a read past it is a heap
// overflow under ASan) into a sink of capacity bytes.
inline Expanded Expand(Codec& codec, const Bytes& stream, int32_t capacity, int32_t limit) {
  Bytes source(stream.begin(), stream.begin() + limit);
  Bytes sink(static_cast<size_t>(capacity));
  SetStreamEndpoints(codec, source.data(), sink.data(), capacity);
  Expanded out;
  out.result = ExpandStream(codec, InvalidFile, InvalidFile, limit);
  out.failure = LastStreamFailure(codec);
  out.badBlockOffset = BadBlockOffset(codec);
  EXPECT_LE(StreamTotalWritten(codec), capacity);
  sink.resize(size_t(StreamTotalWritten(codec)));
  out.data = sink;
  return out;
}

inline Expanded Expand(const Bytes& stream, int32_t capacity) {
  return Expand(*NewCodec(), stream, capacity, int32_t(stream.size()));
}

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// Reads the framing without the codec: checks every block and returns the
// body (the length bytes and the code).
inline Bytes Unframe(const Bytes& stream) {
  Bytes body;
  size_t at = 0;
  int block = 0;
  for (;;) {
    EXPECT_LE(at + 6, stream.size()) << "block " << block;
    if (at + 6 > stream.size()) return body;
    const uint8_t* header = stream.data() + at;
    const size_t length = Le16(header + 4);
    EXPECT_EQ(Le16(header), 0x4352) << "block " << block;
    EXPECT_LE(at + length, stream.size()) << "block " << block;
    if (at + length > stream.size()) return body;
    uint32_t sum = 0x68A5;
    for (size_t i = 6; i < length; ++i) sum += header[i];
    EXPECT_EQ(Le16(header + 2), uint16_t(sum)) << "block " << block;
    if (block == 0) {
      EXPECT_EQ(length, 10u);
    } else {
      EXPECT_GE(length, 6u);
    }
    body.insert(body.end(), header + 6, header + length);
    at += length;
    if (block > 0 && length < 10240) break;
    ++block;
  }
  EXPECT_EQ(at, stream.size()) << "bytes after the last block";
  return body;
}

// Frames a body as the writer does: block 1 with the length, full blocks,
// a last block shorter than 10240.
inline Bytes Frame(const Bytes& body) {
  Bytes stream;
  auto block = [&](size_t from, size_t count) {
    uint32_t sum = 0x68A5;
    for (size_t i = 0; i < count; ++i) sum += body[from + i];
    const size_t length = count + 6;
    for (uint8_t b : {uint8_t(0x52), uint8_t(0x43), uint8_t(sum), uint8_t(sum >> 8), uint8_t(length),
                      uint8_t(length >> 8)})
      stream.push_back(b);
    for (size_t i = 0; i < count; ++i) stream.push_back(body[from + i]);
  };
  block(0, 4);
  size_t at = 4;
  while (body.size() - at >= 10234) {
    block(at, 10234);
    at += 10234;
  }
  block(at, body.size() - at);
  return stream;
}

// Code bytes of a stream (the body without its length).
inline size_t CodeSize(const Bytes& stream) { return Unframe(stream).size() - 4; }

// The shortest prefix of source whose code is exactly target bytes long,
// or an empty vector when the code jumps over that size.
inline Bytes PrefixWithCodeSize(const Bytes& source, size_t target) {
  auto codec = NewCodec();
  auto codeSize = [&](size_t n) { return CodeSize(Compress(*codec, Bytes(source.begin(), source.begin() + long(n)))); };
  size_t low = 1, high = source.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    if (codeSize(middle) < target) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  // Code sizes grow almost but not quite monotonically; look a little further.
  for (size_t n = low; n < low + 8 && n <= source.size(); ++n)
    if (codeSize(n) == target) return Bytes(source.begin(), source.begin() + long(n));
  return {};
}

// Deterministic data.
inline Bytes RandomBytes(size_t size, uint64_t seed) {
  Random random(seed);
  Bytes data(size);
  for (auto& b : data) b = uint8_t(random.Next());
  return data;
}

// Sentences from a small vocabulary: compresses like prose.
inline Bytes Text(size_t size, uint64_t seed) {
  static const char* const words[] = {
      "the",    "screen", "saver",  "window", "light",   "install", "file",   "of",    "and",   "a",
      "moving", "colour", "night",  "quiet",  "display", "settings", "to",    "in",    "shape", "slowly",
      "bright", "field",  "stars",  "drift",  "across",  "while",   "every",  "frame", "glows", "softly"};
  Random random(seed);
  Bytes data;
  data.reserve(size);
  bool capital = true;
  while (data.size() < size) {
    std::string word = words[random.Next() % 30];
    if (capital) word[0] = char(word[0] - 32);
    capital = false;
    for (char c : word) data.push_back(uint8_t(c));
    const uint32_t r = random.Next() % 16;
    if (r == 0) {
      data.push_back('.');
      data.push_back(random.Next() % 4 == 0 ? '\n' : ' ');
      capital = true;
    } else if (r == 1) {
      data.push_back(',');
      data.push_back(' ');
    } else {
      data.push_back(' ');
    }
  }
  data.resize(size);
  return data;
}

// Tables of little-endian numbers, zero padding and opcode-like bytes.
inline Bytes Structured(size_t size, uint64_t seed) {
  Random random(seed);
  Bytes data;
  data.reserve(size);
  uint32_t counter = 0x00401000;
  while (data.size() < size) {
    switch (random.Next() % 3) {
      case 0:  // a table of addresses
        for (int i = 0; i < 64; ++i, counter += 4 + random.Next() % 3 * 4)
          for (int k = 0; k < 4; ++k) data.push_back(uint8_t(counter >> (8 * k)));
        break;
      case 1:  // padding
        data.insert(data.end(), 32 + random.Next() % 480, 0);
        break;
      default: {  // instructions: a few opcodes with small operands
        static const uint8_t ops[] = {0x8B, 0x89, 0xE8, 0x83, 0xC3, 0x55, 0x5D, 0x50, 0x6A, 0xFF};
        for (int i = 0; i < 200; ++i) {
          data.push_back(ops[random.Next() % 10]);
          if (random.Next() % 2) data.push_back(uint8_t(random.Next() % 16 * 4));
        }
      }
    }
  }
  data.resize(size);
  return data;
}

// Long runs of a few byte values.
inline Bytes Runs(size_t size, uint64_t seed) {
  Random random(seed);
  Bytes data;
  while (data.size() < size) data.insert(data.end(), 1 + random.Next() % 3000, uint8_t("ab \0"[random.Next() % 4]));
  data.resize(size);
  return data;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Stretches long enough for the model to be rebuilt in each, so that the
// decoder changes between its two ways of counting a leaf several times.
inline Bytes RandomAndTextByTurns() {
  Bytes data;
  for (uint64_t turn = 0; turn < 6; ++turn) {
    data = Concat(std::move(data), turn % 2 == 0 ? RandomBytes(70000, 60 + turn) : Text(250000, 60 + turn));
  }
  return data;
}

}  // namespace codec_test
