// The code paths the fuzz targets drive with hostile bytes. Each runs one
// input and returns null when every expectation held, else a line saying
// what broke. The libFuzzer targets abort on such a line; the host
// regression test replays stored inputs through the same functions, so a
// fixed finding stays fixed.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzzpaths {

// Any bytes as an archive-bearing file: open, walk and look up the directory;
// then the same with a plain directory enciphered (see plain_directory.h).
const char* ReadArchive(const uint8_t* data, size_t size);
// Any bytes as an RC block stream: expanded into a file, from a file and from
// memory, and into memory sinks of exactly the room the output needs and of
// one byte less.
const char* ExpandAnyStream(const uint8_t* data, size_t size);
// Any bytes (the first is the mask byte) compressed, into a file and into
// memory, and expanded again from a file that ends with the stream: the same
// bytes, masked.
const char* RoundTripAnyBytes(const uint8_t* data, size_t size);
// Any bytes as the "INFO" record of an otherwise valid installer, stored
// plain or compressed, loaded as the installer loads its settings.
const char* LoadAnySettings(const uint8_t* data, size_t size);
// Any bytes as a file given to the tool's verify and list: every entry
// checked and extracted, to memory and to a file. The directory comes plain
// (see plain_directory.h).
const char* VerifyAnyFile(const uint8_t* data, size_t size);
// Any bytes as a file given to the tool's verify, list and info commands,
// the directory plain.
const char* RunToolCommands(const uint8_t* data, size_t size);
// Any bytes as a build manifest.
const char* ParseAnyManifest(const uint8_t* data, size_t size);
// Any bytes as the restart file that gets a "[Rename]" line inserted.
const char* EditAnyRestartFile(const uint8_t* data, size_t size);

using Path = const char* (*)(const uint8_t* data, size_t size);
struct NamedPath {
  const char* name;  // also the corpus and regression directory name
  Path run;
};
// Every path that this build has, in a fixed order.
const NamedPath* AllPaths(int* count);

}  // namespace fuzzpaths
