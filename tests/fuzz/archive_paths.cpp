// Fuzz paths over the portable core: the directory reader, the expander, the
// settings loader and the checks behind the tool's verify and list.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "installer/settings.h"
#include "tests/fuzz/fuzz_paths.h"
#include "tests/fuzz/plain_directory.h"
#include "tests/fuzz/scratch_file.h"

namespace fuzzpaths {
namespace {

// The state is large; one instance serves every input, reset each time.
Archive& SharedArchive() {
  static Archive* archive = new Archive;
  ResetArchive(*archive);
  return *archive;
}

// A buffer of exactly size bytes on the heap, so that the address sanitizer
// reports the first byte written past it.
struct ExactBuffer {
  explicit ExactBuffer(size_t size) : bytes(static_cast<uint8_t*>(std::malloc(size))), size(size) {}
  ~ExactBuffer() { std::free(bytes); }
  ExactBuffer(const ExactBuffer&) = delete;
  ExactBuffer& operator=(const ExactBuffer&) = delete;
  uint8_t* bytes;
  size_t size;
};

const std::string& OutputDirectory() {
  static const TemporaryDirectory dir("/tmp/lumaveil-fuzz-XXXXXX");
  return dir.path;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int32_t Le32(const uint8_t* p) { return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24); }

}  // namespace

namespace {

const char* ReadArchiveFile(const uint8_t* data, size_t size) {
  ScratchFile file(data, size);
  if (!file.ok()) return nullptr;
  Archive& archive = SharedArchive();
  FileHandle source = OpenSourceArchive(archive, file.path());
  if (source == InvalidFile) {
    if (archive.reader.OpenStage != StageNoDirectory) return "a readable file without a directory must reach stage 3";
    if (archive.reader.SourceCount != 0) return "a failed open changed SourceCount";
    // Armed, the same failure latches, and the next open does nothing.
    ArmFailureLatch(archive, 1);
    if (OpenSourceArchive(archive, file.path()) != InvalidFile || !archive.latch.Failed)
      return "an armed failed open did not latch";
    if (OpenSourceArchive(archive, file.path()) != InvalidFile || archive.reader.OpenStage != StageLatched)
      return "an open while latched did not stop at stage 0";
    return nullptr;
  }

  int32_t count = archive.reader.SourceCount;
  if (count < 1 || count > MaxEntries || size_t(count) * EntryRecordSize > size)
    return "directory count out of range";
  const uint8_t* first = SourceEntry(archive, 0);
  if (!first || first[EntryLeadByteAt] != count || uint32_t(Le32(first + EntryMagicAt)) != EntryMagic)
    return "entry 0 does not carry the count and the magic";
  if (SourceEntry(archive, -1) || SourceEntry(archive, count)) return "SourceEntry outside the directory";

  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* record = SourceEntry(archive, i);
    if (!record) return "SourceEntry missing inside the directory";
    char name[EntryNameSize + 1];
    RecordName(record, name);
    const uint8_t* found = FindEntry(archive, name, FindRegular | FindInline);
    bool earlier = false;
    for (int32_t j = 0; j <= i; ++j) earlier = earlier || found == SourceEntry(archive, j);
    if (!earlier) return "FindEntry missed a record's own name";
    const uint8_t* regular = FindEntry(archive, name, FindRegular);
    int32_t stored = EntryStoredSize(archive, name);
    if (!regular && stored != -1) return "EntryStoredSize found what FindEntry did not";
    if (regular && stored != Le32(regular + EntryStoredSizeAt)) return "EntryStoredSize is not the record's";
    if (regular && EntryOriginalSize(archive, name) != Le32(regular + EntryOriginalSizeAt))
      return "EntryOriginalSize is not the record's";
    if (regular && !EntriesShareData(archive, name, name)) return "an entry does not share data with itself";
    uint8_t inlineData[InlineDataMax];
    int32_t length = ReadInlineEntry(record, inlineData);
    if (length < 0 || length > InlineDataMax) return "inline length out of range";
  }
  if (FindEntry(archive, nullptr, 3) || EntryStoredSize(archive, "NO SUCH ENTRY") != -1)
    return "a missing name was found";

  // Reading the same file again finds the same directory.
  std::vector<uint8_t> directory(archive.reader.directory, archive.reader.directory + sizeof archive.reader.directory);
  ArmFailureLatch(archive, 1);
  if (OpenSourceArchive(archive, file.path()) == InvalidFile || archive.latch.Failed) return "a second open failed";
  if (archive.reader.SourceCount != count ||
      std::memcmp(directory.data(), archive.reader.directory, directory.size()) != 0)
    return "a second open read another directory";
  CloseArchiveFile(archive, archive.reader.source);
  if (archive.reader.source != InvalidFile) return "CloseArchiveFile left the source open";
  return nullptr;
}

}  // namespace

// The bytes as they are, and again with a plain directory enciphered, so that
// mutated record fields reach the look-ups too.
const char* ReadArchive(const uint8_t* data, size_t size) {
  if (const char* broken = ReadArchiveFile(data, size)) return broken;
  std::vector<uint8_t> enciphered = WithEncipheredDirectory(data, size);
  if (size && std::memcmp(enciphered.data(), data, size) != 0) return ReadArchiveFile(enciphered.data(), size);
  return nullptr;
}

const char* ExpandAnyStream(const uint8_t* data, size_t size) {
  ScratchFile source(data, size), sink;
  if (!source.ok() || !sink.ok()) return nullptr;
  int32_t limit = int32_t(size);
  Codec& codec = SharedArchive().codec;

  int fileResult = ExpandStream(codec, source.handle(), sink.handle(), limit);
  StreamFailure fileFailure = LastStreamFailure(codec);
  std::vector<uint8_t> expanded = sink.Contents();
  if (StreamTotalWritten(codec) != int32_t(expanded.size())) return "StreamTotalWritten is not what the sink got";
  if (fileResult && fileFailure != StreamFailure::None) return "success with a failure reason";
  if (!fileResult && fileFailure == StreamFailure::None) return "failure without a reason";
  if (fileResult && size >= 10 && expanded.size() != uint32_t(Le32(data + 6)))
    return "a successful expansion did not produce the stated length";

  // From memory: the same bytes, and never a read past the input.
  {
    ExactBuffer input(size);
    if (size) std::memcpy(input.bytes, data, size);
    sink.Clear();
    SetStreamEndpoints(codec, input.bytes, nullptr, 0);
    int result = ExpandStream(codec, InvalidFile, sink.handle(), limit);
    if (result != fileResult || sink.Contents() != expanded) return "a memory source expanded differently";
  }

  // Into memory with room for the stated length (a sink with less room may
  // refuse before writing anything): the same bytes as the file got. A
  // stated length too large to hold here must fail.
  {
    size_t stated = size >= 10 ? size_t(uint32_t(Le32(data + 6))) : 0;
    bool held = stated <= (size_t(1) << 22);
    size_t room = held && stated > expanded.size() ? stated : expanded.size();
    ExactBuffer out(room);
    source.Rewind();
    SetStreamEndpoints(codec, nullptr, out.bytes, int32_t(room));
    int result = ExpandStream(codec, source.handle(), InvalidFile, limit);
    if (held && result != fileResult) return "a memory sink with room enough changed the result";
    if (!held && result) return "a memory sink smaller than the stated length succeeded";
    if (StreamTotalWritten(codec) > int32_t(room)) return "a memory sink took more than its room";
    if (held && (StreamTotalWritten(codec) != int32_t(expanded.size()) ||
                 (!expanded.empty() && std::memcmp(out.bytes, expanded.data(), expanded.size()) != 0)))
      return "a memory sink got other bytes than the file";
  }

  // One byte less: must fail, and the sanitizer watches the buffer's end.
  if (!expanded.empty()) {
    size_t room = expanded.size() - 1;
    ExactBuffer out(room);
    source.Rewind();
    SetStreamEndpoints(codec, nullptr, out.bytes, int32_t(room));
    int result = ExpandStream(codec, source.handle(), InvalidFile, limit);
    if (fileResult && (result || LastStreamFailure(codec) != StreamFailure::SinkFull))
      return "a memory sink one byte too small did not fail as full";
    if (StreamTotalWritten(codec) > int32_t(room)) return "a memory sink took more than its room";
  }
  return nullptr;
}

const char* RoundTripAnyBytes(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return nullptr;
  uint8_t xorByte = data[0];
  int32_t length = int32_t(size - 1);
  ExactBuffer input{size_t(length)};
  if (length) std::memcpy(input.bytes, data + 1, size_t(length));
  Codec& codec = SharedArchive().codec;

  // Compressed from memory into a file, and into a memory sink of the bound.
  ScratchFile stream;
  if (!stream.ok()) return nullptr;
  SetStreamEndpoints(codec, input.bytes, nullptr, 0);
  if (!CompressStream(codec, InvalidFile, stream.handle(), length, xorByte)) return "compression failed";
  std::vector<uint8_t> compressed = stream.Contents();
  if (StreamTotalWritten(codec) != int32_t(compressed.size())) return "StreamTotalWritten is not what the file got";
  int32_t bound = CompressedSizeBound(length);
  if (int32_t(compressed.size()) > bound) return "the stream is larger than CompressedSizeBound";
  {
    ExactBuffer out{size_t(bound)};
    SetStreamEndpoints(codec, input.bytes, out.bytes, bound);
    if (!CompressStream(codec, InvalidFile, InvalidFile, length, xorByte) ||
        StreamTotalWritten(codec) != int32_t(compressed.size()) ||
        std::memcmp(out.bytes, compressed.data(), compressed.size()) != 0)
      return "compression into memory differs from compression into a file";
  }

  // Expanded from a file that ends right behind the stream, into exactly
  // the room of the content: the input, masked.
  ExactBuffer out{size_t(length)};
  stream.Rewind();
  SetStreamEndpoints(codec, nullptr, out.bytes, length);
  if (!ExpandStream(codec, stream.handle(), InvalidFile, int32_t(compressed.size())))
    return "a compressed stream did not expand";
  if (StreamTotalWritten(codec) != length) return "a compressed stream expanded to another length";
  for (int32_t i = 0; i < length; ++i)
    if (out.bytes[i] != uint8_t(input.bytes[i] ^ xorByte)) return "a compressed stream expanded to other bytes";
  return nullptr;
}

namespace {

// A screensaver program stand-in whose compressed size differs from its
// original size, so that it counts toward the progress total.
constexpr int32_t SaverSize = 300;

bool BuildSettingsArchive(Archive& archive, const ScratchFile& file, const uint8_t* record, int32_t length,
                          bool compressed, uint8_t xorByte) {
  static const uint8_t stub[64] = {'M', 'Z'};
  uint8_t saver[SaverSize];
  for (int32_t i = 0; i < SaverSize; ++i) saver[i] = uint8_t(i % 7);
  if (CreateTargetArchive(archive, file.path()) == InvalidFile) return false;
  AppendTargetBytes(archive, stub, sizeof stub);
  StoreMemoryEntry(archive, saver, SaverSize, "SAVER", TransferCompress);
  if (compressed) {
    StoreMemoryEntry(archive, record, length, "INFO", TransferCompress);
  } else {
    std::vector<uint8_t> stored(record, record + length);
    for (uint8_t& b : stored) b ^= xorByte;
    StorePreparedEntry(archive, "INFO", length ? stored.data() : record, length, length, StoragePlain, xorByte, -1);
  }
  CloseArchiveFile(archive, archive.writer.target);
  return !archive.latch.Failed;
}

bool Terminated(const char* text, size_t capacity) { return std::memchr(text, 0, capacity) != nullptr; }

}  // namespace

const char* LoadAnySettings(const uint8_t* data, size_t size) {
  if (size < 2) return nullptr;
  bool compressed = data[0] & 1;
  uint8_t xorByte = data[1];
  const uint8_t* record = data + 2;
  int32_t length = int32_t(size - 2);

  ScratchFile file;
  if (!file.ok()) return nullptr;
  Archive& archive = SharedArchive();
  ArmFailureLatch(archive, 1);
  if (!BuildSettingsArchive(archive, file, record, length, compressed, xorByte)) return "the test archive was not built";

  ResetArchive(archive);
  ExactBuffer info(InstallInfoSize);
  std::memset(info.bytes, 0xCC, InstallInfoSize);
  static InstallerTexts texts, before;
  static TextPool pool;
  ResetInstallerTexts(texts);
  before = texts;
  std::memset(&pool, 0, sizeof pool);
  LoadInstallerSettings(archive, file.path(), info.bytes, texts, pool);

  const char* slots[] = {texts.SaverFileName, texts.QuestionText, texts.FinishText, texts.FailureText,
                         texts.ProgressText};
  for (const char* slot : slots)
    if (!Terminated(slot, TextCapacity)) return "a text of the table is not terminated in its slot";
  if (!Terminated(texts.YesText, LabelCapacity) || !Terminated(texts.NoText, LabelCapacity) ||
      !Terminated(texts.DisplayPropertiesCommand, CommandCapacity))
    return "a label or the command is not terminated in its slot";

  if (compressed && length > InstallInfoSize) {
    if (std::memcmp(&texts, &before, sizeof texts) != 0) return "an oversized INFO changed the table";
    return nullptr;
  }
  // Loaded: the record as stored, mask removed, zeros behind a short one.
  int32_t kept = length < InstallInfoSize ? length : InstallInfoSize;
  if (std::memcmp(info.bytes, record, size_t(kept)) != 0) return "InstallInfo differs from the stored record";
  for (int32_t i = kept; i < InstallInfoSize; ++i)
    if (info.bytes[i] != 0) return "InstallInfo is not zero behind a short record";
  if (std::strcmp(texts.NoText, before.NoText) == 0 && std::strcmp(texts.YesText, before.YesText) == 0)
    return "a readable record left the table as it was";
  if (InfoInt(info.bytes, ShowProgressAt) != 0 && texts.ProgressTotal != SaverSize)
    return "ProgressTotal is not the compressed entries' original size";
  if (texts.ShowProgress != info.bytes[ShowProgressAt] || texts.PostInstallAction != info.bytes[PostInstallActionAt])
    return "the one-byte settings are not the low bytes of the record's";
  return nullptr;
}

const char* VerifyAnyFile(const uint8_t* plain, size_t size) {
  std::vector<uint8_t> bytes = WithEncipheredDirectory(plain, size);
  const uint8_t* data = bytes.data();
  ScratchFile file(data, size);
  if (!file.ok()) return nullptr;
  Archive& archive = SharedArchive();
  if (OpenSourceArchive(archive, file.path()) == InvalidFile) return nullptr;
  const std::string outPath = OutputDirectory() + "/entry";

  for (int32_t i = 0; i < archive.reader.SourceCount; ++i) {
    const uint8_t* record = SourceEntry(archive, i);
    EntryCheck check = CheckEntry(archive, record);
    if (archive.latch.Failed) return "CheckEntry set the latch";
    if (check.problem == EntryProblem::None && check.badBlockOffset != -1) return "a sound entry with a bad block";
    // A block missing at the end of the file is reported where it would
    // begin: the file's size at most.
    if (check.problem == EntryProblem::BadBlock &&
        (check.badBlockOffset < 0 || size_t(check.badBlockOffset) > size))
      return "a bad block outside the file";

    char name[EntryNameSize + 1];
    RecordName(record, name);
    bool regular = RecordStorage(record) != StorageInline;
    if (FindEntry(archive, name, FindRegular | FindInline) != record) continue;  // shadowed by an earlier record

    // Extraction agrees with the check, and writes only what it was given room for.
    if (regular) {
      int32_t original = Le32(record + EntryOriginalSizeAt);
      int32_t room = original < 0 ? 0 : original > (1 << 22) ? (1 << 22) : original;
      ExactBuffer out{size_t(room)};
      ArmFailureLatch(archive, 1);
      int extracted = ExtractEntryToMemory(archive, name, out.bytes, room);
      if (check.problem == EntryProblem::None && room == original && !extracted)
        return "a sound entry did not extract to memory";
      if (archive.latch.Failed != (extracted ? 0 : archive.latch.LatchMask)) return "extraction latched wrongly";
      ArmFailureLatch(archive, 0);
    }
    if (check.problem == EntryProblem::None && regular && Le32(record + EntryOriginalSizeAt) > (1 << 22)) continue;
    ::unlink(outPath.c_str());
    int written = ExtractEntryToFile(archive, name, outPath.c_str());
    if (check.problem == EntryProblem::None && !written) return "a sound entry did not extract to a file";
    if (!written && FileExists(outPath)) return "a failed extraction left a file behind";
    ::unlink(outPath.c_str());
  }
  CloseArchiveFile(archive, archive.reader.source);
  return nullptr;
}

}  // namespace fuzzpaths
