// Compress and expand throughput of the codec, side by side with the plain
// stdio coder in reference_lzhuf.c, on generated data of three kinds. Every
// run also checks that both coders produce the same code bytes and expand
// each input back.
//
//   codec_bench [--mb N] [--repeat N]
//
// MB/s counts uncompressed bytes (10^6 per MB) per second of the thread's CPU
// time; each figure is the best of --repeat runs, one thread.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/reference_lzhuf.h"
#include "bench/reference_run.h"
#include "bench/random.h"
#include "compression/codec.h"

namespace {

using Bytes = std::vector<uint8_t>;


// Prose-like text: sentences from a vocabulary of a few hundred words with
// a skewed choice, some punctuation and line breaks.
Bytes MakeText(size_t size) {
  static const char* const stems[] = {"light", "screen", "night", "colour", "field", "star", "wave", "frame",
                                      "shape", "glow",   "drift", "line",   "point", "sky",  "sea",  "cloud"};
  static const char* const endings[] = {"", "s", "ed", "ing", "er", "ly", "ness", "ful"};
  static const char* const small[] = {"the", "a", "of", "and", "to", "in", "is", "it", "that", "with", "as", "on"};
  Random random(1);
  Bytes text;
  text.reserve(size + 64);
  bool capital = true;
  while (text.size() < size) {
    std::string word;
    if (random.Next() % 3 == 0) {
      word = std::string(stems[random.Next() % 16]) + endings[random.Next() % 8];
    } else {
      word = small[(random.Next() % 12) * (random.Next() % 12) / 11];
    }
    if (capital) word[0] = char(word[0] - 32);
    capital = false;
    text.insert(text.end(), word.begin(), word.end());
    switch (random.Next() % 20) {
      case 0: text.push_back('.'); text.push_back(random.Next() % 5 ? ' ' : '\n'); capital = true; break;
      case 1: text.push_back(','); text.push_back(' '); break;
      default: text.push_back(' ');
    }
  }
  text.resize(size);
  return text;
}

// What executables and data files hold: tables of addresses and records,
// zero padding, and instruction-like byte sequences.
Bytes MakeStructured(size_t size) {
  Random random(2);
  Bytes data;
  data.reserve(size + 4096);
  uint32_t address = 0x00401000;
  static const uint8_t opcodes[] = {0x8B, 0x89, 0xE8, 0x83, 0xC3, 0x55, 0x5D, 0x50, 0x6A, 0xFF, 0x0F, 0x74, 0x75};
  while (data.size() < size) {
    switch (random.Next() % 4) {
      case 0:
        for (int i = 0; i < 128; ++i, address += 4 * (1 + random.Next() % 4))
          for (int k = 0; k < 4; ++k) data.push_back(uint8_t(address >> (8 * k)));
        break;
      case 1:
        for (int i = 0; i < 64; ++i) {  // records: id, flags, a short name, padding
          const uint32_t id = random.Next() % 5000;
          data.push_back(uint8_t(id));
          data.push_back(uint8_t(id >> 8));
          data.push_back(uint8_t(random.Next() % 4));
          data.push_back(0);
          for (int k = 0; k < 12; ++k) data.push_back(k < 6 ? uint8_t('A' + random.Next() % 26) : 0);
        }
        break;
      case 2:
        data.insert(data.end(), 16 + random.Next() % 1000, 0);
        break;
      default:
        for (int i = 0; i < 600; ++i) {
          data.push_back(opcodes[random.Next() % 13]);
          if (random.Next() % 2) data.push_back(uint8_t(0x40 + random.Next() % 8 * 4));
          if (random.Next() % 4 == 0)
            for (int k = 0; k < 4; ++k) data.push_back(uint8_t(k < 2 ? random.Next() : 0));
        }
    }
  }
  data.resize(size);
  return data;
}

Bytes MakeIncompressible(size_t size) {
  Random random(3);
  Bytes data(size);
  for (auto& b : data) b = uint8_t(random.Next());
  return data;
}

// The thread's CPU time: the machine may be shared, and waiting for a core
// is not the coder's cost.
double CpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Keeps the shortest of the runs it times.
struct BestTime {
  double seconds = 1e30;
  template <typename Run>
  void Time(Run run) {
    const double start = CpuSeconds();
    run();
    const double took = CpuSeconds() - start;
    if (took < seconds) seconds = took;
  }
};

Bytes OurCompress(Codec& codec, const Bytes& data) {
  Bytes stream(size_t(CompressedSizeBound(int32_t(data.size()))));
  SetStreamEndpoints(codec, data.data(), stream.data(), int32_t(stream.size()));
  CompressStream(codec, InvalidFile, InvalidFile, int32_t(data.size()), 0);
  stream.resize(size_t(StreamTotalWritten(codec)));
  return stream;
}

Bytes OurExpand(Codec& codec, const Bytes& stream, size_t size) {
  Bytes data(size);
  SetStreamEndpoints(codec, stream.data(), data.data(), int32_t(size));
  if (!ExpandStream(codec, InvalidFile, InvalidFile, int32_t(stream.size()))) data.clear();
  return data;
}

// The framed stream's body: the length and the code without block headers.
Bytes Body(const Bytes& stream) {
  Bytes body;
  size_t at = 0;
  for (int block = 0; at + 6 <= stream.size(); ++block) {
    const size_t length = size_t(stream[at + 4] | stream[at + 5] << 8);
    body.insert(body.end(), stream.begin() + long(at + 6), stream.begin() + long(at + length));
    at += length;
    if (block > 0 && length < 10240) break;
  }
  return body;
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = 4;
  int repeat = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mb") == 0) megabytes = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::atoi(argv[i + 1]);
  }
  const size_t size = size_t(megabytes * 1e6);
  struct Kind {
    const char* name;
    Bytes data;
  } kinds[] = {{"text", MakeText(size)}, {"structured", MakeStructured(size)}, {"incompressible", MakeIncompressible(size)}};

  auto codec = std::make_unique<Codec>();
  std::printf("codec_bench: %.1f MB per kind, best of %d, MB/s of uncompressed data per CPU second\n\n", megabytes, repeat);
  std::printf("%-15s %6s | %9s %9s %6s | %9s %9s %6s | %s\n", "data", "ratio", "compress", "reference", "x", "expand",
              "reference", "x", "check");
  int failures = 0;
  for (const auto& kind : kinds) {
    const Bytes& data = kind.data;
    Bytes stream, expanded, referenceBody, referenceExpanded;
    // The coders take turns, so that a change in the shared machine's clock
    // speed during the runs weighs on both alike.
    BestTime compress, expand, refCompress, refExpand;
    for (int i = 0; i < repeat; ++i) {
      compress.Time([&] { stream = OurCompress(*codec, data); });
      refCompress.Time([&] { referenceBody = RunReference(RefEncode, data); });
      expand.Time([&] { expanded = OurExpand(*codec, stream, data.size()); });
      refExpand.Time([&] { referenceExpanded = RunReference(RefDecode, referenceBody); });
    }

    const bool same = Body(stream) == referenceBody && expanded == data && referenceExpanded == data;
    if (!same) ++failures;
    const double mb = double(data.size()) / 1e6;
    std::printf("%-15s %5.1f%% | %9.1f %9.1f %6.2f | %9.1f %9.1f %6.2f | %s\n", kind.name,
                100.0 * double(stream.size()) / double(data.size()), mb / compress.seconds, mb / refCompress.seconds,
                refCompress.seconds / compress.seconds, mb / expand.seconds, mb / refExpand.seconds,
                refExpand.seconds / expand.seconds, same ? "same code, both expand" : "MISMATCH");
  }
  return failures == 0 ? 0 : 1;
}
