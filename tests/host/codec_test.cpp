// The codec: known streams, round trips over many kinds of data, the progress
// hooks, block boundaries, file endpoints, independence of Codec instances.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <thread>
#include <unistd.h>

#include "compression/codec_internal.h"
#include "platform/file.h"
#include "tests/host/codec_support.h"

using namespace codec_test;

namespace {

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Str(const char* text) { return Bytes(text, text + std::strlen(text)); }

struct KnownStream {
  const char* name;
  Bytes input;
  Bytes code;  // the code bytes after the 4-byte length
};

std::vector<KnownStream> KnownStreams() {
  Bytes abc4 = Str("abcabcabcabc");
  return {
      {"empty", {}, {}},
      {"abc", Str("abc"), {0xF6, 0xFB, 0xBD, 0xE0}},
      {"ten a", Bytes(10, 'a'), {0xF6, 0xC9, 0x00, 0x00}},
      {"abc four times", abc4, {0xF6, 0xFB, 0xBD, 0xF2, 0x40, 0x20}},
      {"200 a", Bytes(200, 'a'), {0xF6, 0xFB, 0x40, 0x18, 0x80, 0x0C, 0x20, 0x09, 0xC0, 0x00}},
  };
}

TEST(CodecKnownStreams, CompressWritesExactBytes) {
  for (const auto& known : KnownStreams()) {
    SCOPED_TRACE(known.name);
    const Bytes stream = Compress(known.input);
    EXPECT_EQ(stream, Frame(Concat(Le32(uint32_t(known.input.size())), known.code)));
  }
}

TEST(CodecKnownStreams, WholeStreamsOfTheSmallestBodies) {
  EXPECT_EQ(Compress({}), (Bytes{0x52, 0x43, 0xA5, 0x68, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x52, 0x43, 0xA5, 0x68,
                                 0x06, 0x00}));
  EXPECT_EQ(Compress(Str("abc")), (Bytes{0x52, 0x43, 0xA8, 0x68, 0x0A, 0x00, 0x03, 0x00, 0x00, 0x00, 0x52, 0x43,
                                         0x33, 0x6C, 0x0A, 0x00, 0xF6, 0xFB, 0xBD, 0xE0}));
}

TEST(CodecKnownStreams, ExpandGivesTheInputBack) {
  for (const auto& known : KnownStreams()) {
    SCOPED_TRACE(known.name);
    const Bytes stream = Frame(Concat(Le32(uint32_t(known.input.size())), known.code));
    const Expanded out = Expand(stream, int32_t(known.input.size()));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.failure, StreamFailure::None);
    EXPECT_EQ(out.badBlockOffset, -1);
    EXPECT_EQ(out.data, known.input);
  }
}

TEST(CodecKnownStreams, OffsetCodeTables) {
  const uint8_t highCodes[][2] = {{1, 0x20}, {4, 0x50}, {12, 0x90}, {24, 0xC0}, {48, 0xF0}, {63, 0xFF}, {0, 0x00}};
  for (const auto& pair : highCodes) EXPECT_EQ(offsetCode.highCode[pair[0]], pair[1]) << int(pair[0]);
  int perLength[9] = {};
  for (int h = 0; h < 64; ++h) ++perLength[offsetCode.highLength[h]];
  EXPECT_EQ(perLength[3] + perLength[4] + perLength[5] + perLength[6] + perLength[7] + perLength[8], 64);
  EXPECT_EQ(perLength[3], 1);
  EXPECT_EQ(perLength[8], 16);
  // Every byte starts exactly the code its table entry names.
  for (int b = 0; b < 256; ++b) {
    const int h = offsetCode.highByPrefix[b];
    const int length = offsetCode.lengthByPrefix[b];
    EXPECT_EQ(offsetCode.highLength[h], length);
    EXPECT_EQ(b >> (8 - length), offsetCode.highCode[h] >> (8 - length)) << b;
  }
}

TEST(CodecModel, InitialTreeGivesEightAndNineBitCodes) {
  LzhufModel model{};
  ResetModel(model);
  int lengths[32] = {};
  for (int s = 0; s < SymbolCount; ++s) {
    int depth = 0;
    for (int k = model.parent[NodeCount + s]; k != RootNode; k = model.parent[k]) ++depth;
    ++lengths[depth];
  }
  EXPECT_EQ(lengths[8], 198);
  EXPECT_EQ(lengths[9], 116);
}

// The root weight reaching the limit halves every leaf and rebuilds; the
// tree stays a valid code tree with sorted weights.
TEST(CodecModel, RebuildKeepsTheTreeConsistent) {
  LzhufModel model{};
  ResetModel(model);
  Random random(5);
  int rebuilds = 0;
  for (int n = 0; n < 200000; ++n) {
    if (model.weight[RootNode] == WeightLimit) ++rebuilds;
    UpdateModel(model, int32_t(random.Next() % 7 == 0 ? random.Next() % SymbolCount : random.Next() % 20));
  }
  EXPECT_GT(rebuilds, 5);
  for (int i = 0; i < RootNode; ++i) EXPECT_LE(model.weight[i], model.weight[i + 1]) << i;
  for (int i = SymbolCount; i < NodeCount; ++i) {
    const int c = model.child[i];
    if (c < NodeCount) {
      EXPECT_EQ(model.weight[i], model.weight[c] + model.weight[c + 1]) << i;
      EXPECT_EQ(model.parent[c], i);
    }
  }
  for (int s = 0; s < SymbolCount; ++s) EXPECT_EQ(model.child[model.parent[NodeCount + s]], NodeCount + s);
  // The decoder's two-level table follows every move and rebuild.
  if constexpr (!SmallCode) {
    for (int i = 0; i < NodeCount; ++i) {
      const int c = model.child[i];
      if (c >= NodeCount) continue;
      EXPECT_EQ(model.grandchild[i][0], model.child[c]) << i;
      EXPECT_EQ(model.grandchild[i][1], model.child[c + 1]) << i;
    }
  }
}

// The rebuild as first written: each joined node is inserted after every
// node of equal weight, moving the nodes above it up one slot.
void RebuildByInsertion(LzhufModel& model) {
  uint16_t* weight = model.weight;
  int16_t* child = model.child;
  for (int i = 0, j = 0; i < NodeCount; ++i) {
    if (child[i] >= NodeCount) {
      weight[j] = uint16_t((weight[i] + 1) / 2);
      child[j] = child[i];
      ++j;
    }
  }
  for (int i = 0, j = SymbolCount; j < NodeCount; i += 2, ++j) {
    const uint16_t sum = uint16_t(weight[i] + weight[i + 1]);
    int k = j - 1;
    while (sum < weight[k]) --k;
    for (int m = j; m > k + 1; --m) {
      weight[m] = weight[m - 1];
      child[m] = child[m - 1];
    }
    weight[k + 1] = sum;
    child[k + 1] = int16_t(i);
  }
}

// Skewed, flat and mixed counts, so that ties between leaves and joined
// nodes occur at every level.
TEST(CodecModel, RebuildPlacesEveryNodeAsInsertionDoes) {
  Random random(6);
  for (int round = 0; round < 300; ++round) {
    LzhufModel model{};
    ResetModel(model);
    const uint32_t common = 1 + random.Next() % SymbolCount;
    const int updates = int(random.Next() % 40000);
    for (int n = 0; n < updates; ++n) {
      const uint32_t r = random.Next();
      UpdateModel(model, int32_t(round % 3 == 0 ? r % SymbolCount : r % 4 == 0 ? r % SymbolCount : r % common));
    }
    LzhufModel expected = model;
    RebuildByInsertion(expected);
    RebuildModel(model);
    for (int i = 0; i < NodeCount; ++i) {
      ASSERT_EQ(model.weight[i], expected.weight[i]) << "round " << round << " slot " << i;
      ASSERT_EQ(model.child[i], expected.child[i]) << "round " << round << " slot " << i;
    }
  }
}

// Symbols as the three kinds of data give them: all about equally frequent,
// a few frequent ones (text), and a mix that changes on the way.
int32_t NextTestSymbol(Random& random, int kind, int n) {
  const uint32_t r = random.Next();
  if (kind == 2) kind = (n / 20000) % 2;
  return int32_t(kind == 0 ? r % 256 : r % 8 == 0 ? r % SymbolCount : r % 12);
}

// The coders count a leaf without checking whether it moves when leaves
// usually do; both ways must leave the same tree.
TEST(CodecModel, BothWaysOfCountingALeafLeaveTheSameTree) {
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    LzhufModel checking{}, moving{};
    ResetModel(checking);
    ResetModel(moving);
    Random random(uint64_t(40 + kind));
    for (int n = 0; n < 60000; ++n) {
      const int32_t symbol = NextTestSymbol(random, kind, n);
      for (LzhufModel* model : {&checking, &moving}) {
        if (model->weight[RootNode] == WeightLimit) RebuildModel(*model);
      }
      CountUpFrom<true>(checking, checking.parent[NodeCount + symbol]);
      CountUpFromMovingLeaf<true>(moving, moving.parent[NodeCount + symbol]);
      ASSERT_EQ(std::memcmp(checking.weight, moving.weight, sizeof checking.weight), 0) << n;
      ASSERT_EQ(std::memcmp(checking.child, moving.child, sizeof checking.child), 0) << n;
      ASSERT_EQ(std::memcmp(checking.parent, moving.parent, sizeof checking.parent), 0) << n;
      ASSERT_EQ(std::memcmp(checking.grandchild, moving.grandchild, sizeof checking.grandchild), 0) << n;
    }
  }
}

// Which way the coders count follows the data, decided at each rebuild.
TEST(CodecModel, LeavesMoveOftenFollowsTheData) {
  if constexpr (SmallCode) GTEST_SKIP() << "the small form counts one way only";
  LzhufModel model{};
  ResetModel(model);
  EXPECT_TRUE(model.leavesMoveOften);  // every leaf weighs 1
  Random random(44);
  for (int kind : {1, 0, 1}) {
    int rebuilds = 0;
    for (int n = 0; rebuilds < 2; ++n) {
      if (model.weight[RootNode] == WeightLimit) ++rebuilds;
      UpdateModel(model, NextTestSymbol(random, kind, n));
    }
    EXPECT_EQ(model.leavesMoveOften, kind == 0) << kind;
  }
}

// --- The fast steps against their plain definitions ---

// Weights as the model keeps them: sorted, runs of equal values of every
// length, 0xFFFF after the last node.
TEST(CodecSteps, SlotSearchFormsAgree) {
  Random random(11);
  for (int round = 0; round < 2000; ++round) {
    uint16_t weight[NodeCount + 16];
    uint32_t w = 1 + random.Next() % 3;
    for (int i = 0; i < NodeCount; ++i) {
      if (random.Next() % (1 + round % 40) == 0) w += 1 + random.Next() % 3;
      weight[i] = uint16_t(w < 0x8000 ? w : 0x8000);
    }
    for (int i = NodeCount; i < NodeCount + 16; ++i) weight[i] = 0xFFFF;
    const int from = int(random.Next() % NodeCount);
    const uint32_t k = weight[from] + 1u;
    const int expected = HighestSlotBelowPlain(weight, from, k);
    ASSERT_LT(weight[expected], k);
    ASSERT_GE(weight[expected + 1], k);
#if defined(__SSE2__)
    ASSERT_EQ(HighestSlotBelowSse2(weight, from, k), expected) << round;
#endif
  }
}

// Both word sizes find the first difference and the order a byte loop does.
TEST(CodecSteps, StringComparisonFormsAgree) {
  Random random(12);
  for (int round = 0; round < 20000; ++round) {
    uint8_t key[MaxMatch + 8], node[MaxMatch + 8];
    for (int i = 0; i < MaxMatch + 8; ++i) key[i] = node[i] = uint8_t(random.Next() % 4);
    const int differ = 9 + int(random.Next() % (MaxMatch + 4 - 9));  // past the first words
    if (differ < MaxMatch + 8) node[differ] = uint8_t(node[differ] ^ (1 + random.Next() % 255));
    int shared = 1;
    while (shared < MaxMatch && key[shared] == node[shared]) ++shared;
    const bool after = shared < MaxMatch && key[shared] > node[shared];
    bool greater32 = false, greater64 = false;
    ASSERT_EQ(CompareRest<uint32_t>(key, node, greater32), shared) << round;
    ASSERT_EQ(CompareRest<uint64_t>(key, node, greater64), shared) << round;
    if (shared < MaxMatch) {
      EXPECT_EQ(greater32, after);
      EXPECT_EQ(greater64, after);
    }
  }
}

// --- Round trips ---

struct Case {
  std::string name;
  Bytes data;
};

std::vector<Case> RoundTripCases() {
  std::vector<Case> cases;
  for (size_t n = 1; n <= 7; ++n) {
    cases.push_back({"random " + std::to_string(n), RandomBytes(n, n)});
    cases.push_back({"zeros " + std::to_string(n), Bytes(n, 0)});
    cases.push_back({"spaces " + std::to_string(n), Bytes(n, ' ')});
  }
  cases.push_back({"byte 0xFF", Bytes{0xFF}});
  cases.push_back({"59 bytes", RandomBytes(59, 3)});
  cases.push_back({"60 bytes", RandomBytes(60, 3)});
  cases.push_back({"61 bytes", RandomBytes(61, 3)});
  cases.push_back({"window size", Text(4096, 4)});
  cases.push_back({"window size + 1", Text(4097, 4)});
  cases.push_back({"one input chunk", Text(10240, 5)});
  cases.push_back({"one input chunk + 1", Text(10241, 5)});
  cases.push_back({"text 300 KB", Text(300000, 6)});
  cases.push_back({"random 100 KB", RandomBytes(100000, 7)});
  cases.push_back({"structured 300 KB", Structured(300000, 8)});
  cases.push_back({"runs 500 KB", Runs(500000, 9)});
  cases.push_back({"one byte 200 KB", Bytes(200000, 'x')});
  cases.push_back({"starts with spaces", Concat(Bytes(5000, ' '), Text(20000, 10))});
  cases.push_back({"spaces then zeros", Concat(Bytes(100, ' '), Bytes(100, 0))});
  cases.push_back({"text then random", Concat(Text(50000, 11), RandomBytes(50000, 12))});
  cases.push_back({"random and text by turns", RandomAndTextByTurns()});
  // Long enough to rebuild the model dozens of times.
  cases.push_back({"text 3 MB", Text(3000000, 13)});
  return cases;
}

TEST(CodecRoundTrip, ExpandsToTheInputInWellFormedBlocks) {
  auto codec = NewCodec();
  for (const auto& c : RoundTripCases()) {
    SCOPED_TRACE(c.name);
    const Bytes stream = Compress(*codec, c.data);
    EXPECT_LE(int32_t(stream.size()), CompressedSizeBound(int32_t(c.data.size())));
    const Bytes body = Unframe(stream);
    ASSERT_GE(body.size(), 4u);
    EXPECT_EQ(body[0] | body[1] << 8 | body[2] << 16 | uint32_t(body[3]) << 24, c.data.size());
    const Expanded out = Expand(*codec, stream, int32_t(c.data.size()), int32_t(stream.size()));
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.failure, StreamFailure::None);
    EXPECT_TRUE(out.data == c.data);
  }
}

TEST(CodecRoundTrip, CompressesWhatCompresses) {
  EXPECT_LT(Compress(Text(300000, 1)).size(), 300000u / 2);
  EXPECT_LT(Compress(Bytes(200000, 'x')).size(), 200000u / 40);
  // Incompressible bytes cost a little more than themselves.
  const size_t random = Compress(RandomBytes(100000, 2)).size();
  EXPECT_GT(random, 100000u);
  EXPECT_LT(random, 100000u * 9 / 8 + 100);
}

TEST(CodecRoundTrip, XorByteIsAppliedToTheInput) {
  const Bytes data = Text(30000, 3);
  Bytes masked = data;
  for (auto& b : masked) b ^= 0x5A;
  const Bytes stream = Compress(data, 0x5A);
  EXPECT_EQ(stream, Compress(masked));
  EXPECT_TRUE(Expand(stream, int32_t(data.size())).data == masked);
  // The mask is for that call only.
  auto codec = NewCodec();
  Compress(*codec, data, 0x5A);
  EXPECT_EQ(Compress(*codec, data), Compress(data));
}

TEST(CodecRoundTrip, XorBufferMasksInPlace) {
  Bytes data = {0x00, 0x5A, 0xFF};
  XorBuffer(data.data(), 3, 0x15A);  // only the low 8 bits count
  EXPECT_EQ(data, (Bytes{0x5A, 0x00, 0xA5}));
  XorBuffer(data.data(), 3, 0);
  EXPECT_EQ(data, (Bytes{0x5A, 0x00, 0xA5}));
}

// A codec that has coded other bodies gives the same bytes as a fresh one:
// nothing of a previous body leaks into the next.
TEST(CodecRoundTrip, OutputDoesNotDependOnEarlierBodies) {
  const std::vector<Bytes> inputs = {Text(5000, 1), Bytes(70, 'q'), RandomBytes(3000, 2), Str("abcabcabcabc"),
                                     Concat(Bytes(300, ' '), Str("end"))};
  auto used = NewCodec();
  Compress(*used, RandomBytes(50000, 9));
  for (const auto& input : inputs) {
    const Bytes expected = Compress(input);
    EXPECT_EQ(Compress(*used, input), expected);
    Expand(*used, Compress(Text(20000, 4)), 20000, int32_t(Compress(Text(20000, 4)).size()));
  }
}

// Codes that end exactly on a block boundary get an empty last block; one
// code byte either side does not.
TEST(CodecRoundTrip, CodeEndingOnBlockBoundaries) {
  const Bytes source = RandomBytes(40000, 21);
  auto codec = NewCodec();
  for (size_t boundary : {size_t(10234), size_t(2 * 10234)}) {
    for (long delta : {-1L, 0L, 1L}) {
      const size_t target = size_t(long(boundary) + delta);
      SCOPED_TRACE(target);
      const Bytes data = PrefixWithCodeSize(source, target);
      ASSERT_FALSE(data.empty()) << "no prefix codes to " << target;
      const Bytes stream = Compress(*codec, data);
      const Bytes emptyBlock = {0x52, 0x43, 0xA5, 0x68, 0x06, 0x00};
      if (delta == 0) {
        EXPECT_EQ(Bytes(stream.end() - 6, stream.end()), emptyBlock);
        EXPECT_EQ(stream.size(), 10 + (boundary / 10234) * 10240 + 6);
      } else {
        EXPECT_NE(Bytes(stream.end() - 6, stream.end()), emptyBlock);
      }
      const Expanded out = Expand(*codec, stream, int32_t(data.size()), int32_t(stream.size()));
      EXPECT_EQ(out.result, 1);
      EXPECT_TRUE(out.data == data);
    }
  }
}

// --- Hooks ---

struct HookLog {
  std::vector<int32_t> written;
  int ticks = 0;
  std::vector<std::string> events;
  const Codec* codec = nullptr;  // when set, ticks are tagged with the output position
};

void OnWritten(void* context, int32_t count) {
  auto* log = static_cast<HookLog*>(context);
  log->written.push_back(count);
  log->events.push_back("write " + std::to_string(count));
}

void OnTick(void* context) {
  auto* log = static_cast<HookLog*>(context);
  ++log->ticks;
  if (log->codec) {
    const BlockStream& stream = log->codec->stream;
    log->events.push_back("tick at " + std::to_string(stream.totalWritten + stream.writePosition));
  } else {
    log->events.push_back("tick");
  }
}

TEST(CodecHooks, SmallestBodiesCallThemAtTheListedPoints) {
  auto codec = NewCodec();
  HookLog log;
  SetStreamHooks(*codec, OnWritten, OnTick, &log);
  const Bytes empty = Compress(*codec, {});
  EXPECT_EQ(StreamTotalWritten(*codec), 16);
  EXPECT_EQ(log.events, (std::vector<std::string>{"tick", "write 10", "tick", "write 6"}));

  log = {};
  const Bytes abc = Compress(*codec, Str("abc"));
  // Block 1, then the source read, then the last block.
  EXPECT_EQ(log.events, (std::vector<std::string>{"tick", "write 10", "tick", "tick", "write 10"}));

  log = {};
  Expand(*codec, abc, 3, int32_t(abc.size()));
  EXPECT_EQ(log.events, (std::vector<std::string>{"tick", "tick", "tick", "write 3"}));

  log = {};
  Expand(*codec, empty, 0, int32_t(empty.size()));
  EXPECT_EQ(log.events, (std::vector<std::string>{"tick", "tick", "write 0"}));
}

TEST(CodecHooks, BadFirstBlockStillWritesTheEmptyBuffer) {
  auto codec = NewCodec();
  HookLog log;
  SetStreamHooks(*codec, OnWritten, OnTick, &log);
  Bytes stream = Compress(*codec, Str("abc"));
  stream[0] = 'X';
  log = {};
  const Expanded out = Expand(*codec, stream, 3, int32_t(stream.size()));
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(log.written, (std::vector<int32_t>{0}));
  EXPECT_EQ(log.ticks, 2);  // the read, the write
}

TEST(CodecHooks, ExpandWritesWholeBuffersThenTheRest) {
  auto codec = NewCodec();
  HookLog log;
  SetStreamHooks(*codec, OnWritten, OnTick, &log);
  for (size_t size : {size_t(25000), size_t(20480)}) {
    const Bytes data = Text(size, 3);
    const Bytes stream = Compress(*codec, data);
    log = {};
    Expand(*codec, stream, int32_t(size), int32_t(stream.size()));
    EXPECT_EQ(log.written, (std::vector<int32_t>{10240, 10240, int32_t(size) - 20480}));
  }
}

// Besides one tick per source read and per block, one per 1024 bytes moved
// (bytes read and written by the coder).
TEST(CodecHooks, TicksFollowTheBytesMoved) {
  auto codec = NewCodec();
  HookLog log;
  SetStreamHooks(*codec, OnWritten, OnTick, &log);
  const Bytes data = Text(200000, 8);
  const Bytes stream = Compress(*codec, data);
  const int blocks = int(log.written.size());
  ASSERT_EQ(blocks, 2 + int((stream.size() - 16) / 10240));
  EXPECT_EQ(log.written.front(), 10);
  for (int i = 1; i < blocks - 1; ++i) EXPECT_EQ(log.written[size_t(i)], 10240);
  int32_t sum = 0;
  for (int32_t n : log.written) sum += n;
  EXPECT_EQ(sum, int32_t(stream.size()));

  const int reads = int((data.size() + 10239) / 10240);
  const int moved = int(data.size() + stream.size());  // within a few dozen bytes
  EXPECT_GE(log.ticks, blocks + reads + (moved - 16 * blocks - 64) / 1024);
  EXPECT_LE(log.ticks, blocks + reads + (moved + 64) / 1024);

  log = {};
  Expand(*codec, stream, int32_t(data.size()), int32_t(stream.size()));
  const int expandReads = int(log.written.size()) == 0 ? 0 : blocks;  // every block is read once
  EXPECT_GE(log.ticks, expandReads + int(log.written.size()) + (moved - 16 * blocks - 64) / 1024);
  EXPECT_LE(log.ticks, expandReads + int(log.written.size()) + (moved + 64) / 1024);
}

// The plain definition of expanding: a bit and a byte at a time through
// the stream's reader, every byte through WriteStreamByte.
Bytes ExpandByteByByte(Codec& codec, const Bytes& stream, int32_t size) {
  Bytes out(static_cast<size_t>(size));
  SetStreamEndpoints(codec, stream.data(), out.data(), size);
  BeginStream(codec, InvalidFile, InvalidFile, true);
  codec.stream.inputLeft = int32_t(stream.size());
  const uint32_t length = ReadExpandedLength(codec);
  if (length != 0) {
    ResetModel(codec.model);
    for (int i = 0; i < WindowStart; ++i) codec.window[i] = ' ';
    int r = WindowStart;
    for (uint32_t count = 0; count < length;) {
      int c = codec.model.child[RootNode];
      while (c < NodeCount) c = codec.model.child[c + ReadCodeBit(codec)];
      const int symbol = c - NodeCount;
      UpdateModel(codec.model, symbol);
      if (symbol < 256) {
        WriteStreamByte(codec, uint8_t(symbol));
        codec.window[r] = uint8_t(symbol);
        r = (r + 1) % RingSize;
        ++count;
        continue;
      }
      uint32_t bits = uint32_t(ReadCodeByte(codec));
      const int high = offsetCode.highByPrefix[bits];
      for (int n = offsetCode.lengthByPrefix[bits] - 2; n > 0; --n) bits = bits * 2 + uint32_t(ReadCodeBit(codec));
      const int from = r - (high * 64 + int(bits % 64)) - 1 + RingSize;
      for (int k = 0; k < symbol - 253; ++k, ++count) {
        const uint8_t byte = codec.window[(from + k) % RingSize];
        WriteStreamByte(codec, byte);
        codec.window[r] = byte;
        r = (r + 1) % RingSize;
      }
    }
  }
  WriteBlock(codec);
  EndStream(codec);
  return out;
}

// The decoder reads code many bits at a time, yet moves the bytes exactly as
// the byte-at-a-time definition does: the same hook calls in the same order.
TEST(CodecHooks, FastReadingMovesBytesLikeTheDefinition) {
  for (const Bytes& data : {Text(120000, 1), RandomBytes(45000, 2), Structured(80000, 3), Bytes(30000, 'k')}) {
    const Bytes stream = Compress(data);
    auto fast = NewCodec();
    auto plain = NewCodec();
    HookLog fastLog, plainLog;
    fastLog.codec = fast.get();
    plainLog.codec = plain.get();
    SetStreamHooks(*fast, OnWritten, OnTick, &fastLog);
    SetStreamHooks(*plain, OnWritten, OnTick, &plainLog);
    const Expanded out = Expand(*fast, stream, int32_t(data.size()), int32_t(stream.size()));
    EXPECT_TRUE(out.data == data);
    EXPECT_TRUE(ExpandByteByByte(*plain, stream, int32_t(data.size())) == data);
    EXPECT_GT(fastLog.ticks, 10);
    EXPECT_EQ(fastLog.events, plainLog.events);
  }
}

TEST(CodecHooks, NullHooksAreSkipped) {
  auto codec = NewCodec();
  HookLog log;
  SetStreamHooks(*codec, nullptr, OnTick, &log);
  Compress(*codec, Str("abc"));
  EXPECT_EQ(log.ticks, 3);
  EXPECT_TRUE(log.written.empty());
  SetStreamHooks(*codec, nullptr, nullptr, nullptr);
  EXPECT_TRUE(Expand(*codec, Compress(*codec, Text(50000, 1)), 50000, int32_t(Compress(Text(50000, 1)).size()))
                  .result == 1);
}

// --- A code tree deeper than 16 levels ---

int LeafDepth(const LzhufModel& model, int symbol) {
  int depth = 0;
  for (int k = model.parent[NodeCount + symbol]; k != RootNode; k = model.parent[k]) ++depth;
  return depth;
}

// Weights that make a Fibonacci chain above the subtree of all the symbols
// still at weight 1 push those symbols 18 levels deep, below a root that is
// still under the rebuild limit. Their codes must come out whole.
TEST(CodecModel, CodesDeeperThanSixteenBitsSurvive) {
  const int counts[] = {294, 305, 600, 906, 1507, 2414, 3922, 6337, 10260};
  auto encoder = NewCodec();
  auto decoder = NewCodec();
  ResetModel(encoder->model);
  ResetModel(decoder->model);
  for (int i = 0; i < 9; ++i) {
    for (int n = 0; n < counts[i]; ++n) {
      UpdateModel(encoder->model, 300 + i);
      UpdateModel(decoder->model, 300 + i);
    }
  }
  ASSERT_LT(encoder->model.weight[RootNode], WeightLimit);
  int deepest = 0;
  for (int s = 0; s < SymbolCount; ++s)
    if (LeafDepth(encoder->model, s) > LeafDepth(encoder->model, deepest)) deepest = s;
  ASSERT_GE(LeafDepth(encoder->model, deepest), 17);

  // Code a few symbols, deep ones among them, into one block.
  const int symbols[] = {deepest, 308, deepest, 'A', deepest + 1, 300, deepest};
  Bytes block(FullBlockSize);
  SetStreamEndpoints(*encoder, nullptr, block.data(), FullBlockSize);
  BeginStream(*encoder, InvalidFile, InvalidFile, false);
  encoder->stream.writeLimit = FullBlockSize;
  for (int s : symbols) EncodeSymbol(*encoder, s);
  FlushCodeBits(*encoder);
  WriteBlock(*encoder);
  block.resize(size_t(StreamTotalWritten(*encoder)));
  EndStream(*encoder);

  SetStreamEndpoints(*decoder, block.data(), nullptr, 0);
  BeginStream(*decoder, InvalidFile, InvalidFile, true);
  decoder->stream.readSize = FullBlockSize;
  decoder->stream.inputLeft = int32_t(block.size());
  for (int s : symbols) EXPECT_EQ(DecodeSymbol(*decoder), s);
  EXPECT_EQ(decoder->stream.failure, StreamFailure::None);
  EndStream(*decoder);
}

// --- Size bound ---

TEST(CodecSizeBound, CoversTheWorstInputs) {
  for (int32_t n : {0, 1, 2, 3, 7, 100, 10234, 100000}) {
    SCOPED_TRACE(n);
    EXPECT_LE(int32_t(Compress(RandomBytes(size_t(n), uint64_t(n))).size()), CompressedSizeBound(n));
    EXPECT_LE(int32_t(Compress(Bytes(size_t(n), 7)).size()), CompressedSizeBound(n));
  }
  // Rare literals after a long skewed stretch get the longest codes.
  Bytes skewed = Concat(Runs(200000, 3), RandomBytes(20000, 4));
  EXPECT_LE(int32_t(Compress(skewed).size()), CompressedSizeBound(int32_t(skewed.size())));
  EXPECT_LE(CompressedSizeBound(1000), CompressedSizeBound(1001));
  EXPECT_EQ(CompressedSizeBound(0x7FFFFFFF), 0x7FFFFFFF);
  EXPECT_EQ(CompressedSizeBound(-5), 16);
}

// A memory sink of exactly the bound takes every stream.
TEST(CodecSizeBound, MemorySinkOfTheBoundSuffices) {
  const Bytes data = RandomBytes(30000, 6);
  auto codec = NewCodec();
  Bytes sink(size_t(CompressedSizeBound(30000)));
  SetStreamEndpoints(*codec, data.data(), sink.data(), int32_t(sink.size()));
  EXPECT_EQ(CompressStream(*codec, InvalidFile, InvalidFile, 30000, 0), 1);
}

// --- Files and concurrency ---

class CodecFiles : public ::testing::Test {
 protected:
  std::string Path(const char* name) {
    return ::testing::TempDir() + "lv_codec_" + std::to_string(getpid()) + "_" + name;
  }
  void TearDown() override {
    for (const auto& path : paths_) std::remove(path.c_str());
  }
  std::string NewPath(const char* name) {
    paths_.push_back(Path(name));
    return paths_.back();
  }
  static Bytes ReadAll(const std::string& path) {
    Bytes data;
    FileHandle file = FileOpenRead(path.c_str());
    uint8_t buffer[4096];
    for (int32_t n; (n = FileRead(file, buffer, sizeof buffer)) > 0;) data.insert(data.end(), buffer, buffer + n);
    FileClose(file);
    return data;
  }
  static void WriteAll(const std::string& path, const Bytes& data) {
    FileHandle file = FileCreate(path.c_str());
    ASSERT_EQ(FileWrite(file, data.data(), int32_t(data.size())), int32_t(data.size()));
    FileClose(file);
  }

 private:
  std::vector<std::string> paths_;
};

// File to file both ways, from the middle of a file, reading exactly the
// stream's bytes and leaving what follows for the next reader.
TEST_F(CodecFiles, ExpandReadsOnlyTheStreamFromItsPosition) {
  const Bytes data = Structured(60000, 1);
  const std::string plainPath = NewPath("plain"), packedPath = NewPath("packed"), outPath = NewPath("out");
  const Bytes before = Str("HEAD"), after = Str("NEXT ENTRY");
  WriteAll(plainPath, Concat(before, data));

  auto codec = NewCodec();
  FileHandle plain = FileOpenRead(plainPath.c_str());
  FileHandle packed = FileCreate(packedPath.c_str());
  FileWrite(packed, before.data(), 4);
  FileSeek(plain, 4);
  ASSERT_EQ(CompressStream(*codec, plain, packed, int32_t(data.size()), 0), 1);
  const int32_t stored = StreamTotalWritten(*codec);
  FileWrite(packed, after.data(), int32_t(after.size()));
  FileClose(plain);
  FileClose(packed);
  const Bytes written = ReadAll(packedPath);
  EXPECT_EQ(Bytes(written.begin() + 4, written.end() - long(after.size())), Compress(data));

  packed = FileOpenRead(packedPath.c_str());
  FileHandle out = FileCreate(outPath.c_str());
  FileSeek(packed, 4);
  ASSERT_EQ(ExpandStream(*codec, packed, out, stored), 1);
  EXPECT_EQ(StreamTotalWritten(*codec), int32_t(data.size()));
  uint8_t next[10];
  EXPECT_EQ(FileRead(packed, next, 10), 10);
  EXPECT_EQ(Bytes(next, next + 10), after);
  FileClose(packed);
  FileClose(out);
  EXPECT_TRUE(ReadAll(outPath) == data);
}

TEST_F(CodecFiles, SourceShorterThanTheLengthFails) {
  const std::string path = NewPath("short");
  WriteAll(path, Text(5000, 2));
  auto codec = NewCodec();
  FileHandle source = FileOpenRead(path.c_str());
  Bytes sink(size_t(CompressedSizeBound(8000)));
  SetStreamEndpoints(*codec, nullptr, sink.data(), int32_t(sink.size()));
  EXPECT_EQ(CompressStream(*codec, source, InvalidFile, 8000, 0), 0);
  EXPECT_EQ(LastStreamFailure(*codec), StreamFailure::SourceEnded);
  FileClose(source);

  EXPECT_EQ(CompressStream(*codec, InvalidFile, InvalidFile, -1, 0), 0);
  EXPECT_EQ(StreamTotalWritten(*codec), 0);
}

TEST_F(CodecFiles, SinkThatRefusesBytesFails) {
  const std::string path = NewPath("readonly");
  WriteAll(path, Str("x"));
  const Bytes data = Text(30000, 3);
  auto codec = NewCodec();
  FileHandle readOnly = FileOpenRead(path.c_str());
  SetStreamEndpoints(*codec, data.data(), nullptr, 0);
  EXPECT_EQ(CompressStream(*codec, InvalidFile, readOnly, int32_t(data.size()), 0), 0);
  EXPECT_EQ(LastStreamFailure(*codec), StreamFailure::WriteFailed);
  EXPECT_EQ(StreamTotalWritten(*codec), 0);

  const Bytes stream = Compress(data);
  SetStreamEndpoints(*codec, stream.data(), nullptr, 0);
  EXPECT_EQ(ExpandStream(*codec, InvalidFile, readOnly, int32_t(stream.size())), 0);
  EXPECT_EQ(LastStreamFailure(*codec), StreamFailure::WriteFailed);
  FileClose(readOnly);
}

// Each Codec is its whole state: two threads coding at once get the bytes a
// single one gets.
TEST(CodecConcurrency, TwoThreadsGiveTheSameBytes) {
  std::vector<Bytes> inputs;
  for (uint64_t seed = 0; seed < 6; ++seed) {
    inputs.push_back(Text(150000 + seed * 1000, seed));
    inputs.push_back(Structured(100000, seed));
  }
  std::vector<Bytes> expected;
  for (const auto& input : inputs) expected.push_back(Compress(input));

  std::vector<Bytes> results[2];
  std::vector<int> expandedOk[2];
  auto work = [&](int which) {
    auto codec = NewCodec();
    for (size_t i = 0; i < inputs.size(); ++i) {
      const Bytes& input = inputs[(i + size_t(which) * 3) % inputs.size()];
      Bytes stream(size_t(CompressedSizeBound(int32_t(input.size()))));
      SetStreamEndpoints(*codec, input.data(), stream.data(), int32_t(stream.size()));
      CompressStream(*codec, InvalidFile, InvalidFile, int32_t(input.size()), 0);
      stream.resize(size_t(StreamTotalWritten(*codec)));
      Bytes back(input.size());
      SetStreamEndpoints(*codec, stream.data(), back.data(), int32_t(back.size()));
      expandedOk[which].push_back(ExpandStream(*codec, InvalidFile, InvalidFile, int32_t(stream.size())) == 1 &&
                                  back == input);
      results[which].push_back(std::move(stream));
    }
  };
  std::thread first(work, 0), second(work, 1);
  first.join();
  second.join();
  for (int which = 0; which < 2; ++which) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      EXPECT_TRUE(results[which][i] == expected[(i + size_t(which) * 3) % inputs.size()]) << which << " " << i;
      EXPECT_TRUE(expandedOk[which][i]) << which << " " << i;
    }
  }
}

}  // namespace
