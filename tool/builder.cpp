#include "tool/builder.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "compression/codec.h"
#include "installer/settings.h"
#include "platform/bytes.h"
#include "tool/files.h"
#include "tool/manifest.h"

namespace lumaveil {

namespace {

// An entry's stored bytes as they go into the archive.
struct Prepared {
  std::vector<uint8_t> stored;
  int32_t original = 0;
  uint8_t storage = StoragePlain;
  uint8_t xorByte = 0;
};

// What a worker's codec reports while it compresses, for the progress line.
struct WorkerProgress {
  Codec* codec = nullptr;
  int32_t length = 0;
  std::atomic<int64_t>* done = nullptr;
  int64_t counted = 0;
};

void OnCompressTick(void* context) {
  auto* p = static_cast<WorkerProgress*>(context);
  int64_t consumed = int64_t(p->length) - p->codec->stream.inputLeft;
  if (consumed > p->counted) {
    p->done->fetch_add(consumed - p->counted);
    p->counted = consumed;
  }
}

Prepared PrepareEntry(const ManifestEntry& entry, Codec& codec, WorkerProgress& progress) {
  Prepared p;
  std::vector<uint8_t> content = ReadWholeFile(entry.file);
  int32_t size = int32_t(content.size());
  p.original = size;
  if (entry.compression != Compression::None) {
    int32_t bound = CompressedSizeBound(size);
    if (bound <= 0) throw ToolError(fmt::format("{}: too large to compress", Shown(entry.file)));
    std::vector<uint8_t> out(static_cast<size_t>(bound));
    progress.length = size;
    progress.counted = 0;
    SetStreamEndpoints(codec, content.data(), out.data(), bound);
    if (!CompressStream(codec, InvalidFile, InvalidFile, size, 0))
      throw ToolError(fmt::format("{}: the compressor failed", Shown(entry.file)));
    OnCompressTick(&progress);
    int32_t written = StreamTotalWritten(codec);
    // "auto" keeps the compressed form only when it is smaller.
    if (entry.compression == Compression::Lzhuf || written < size) {
      out.resize(size_t(written));
      p.stored = std::move(out);
      p.storage = StorageCompressed;
      return p;
    }
  } else {
    progress.done->fetch_add(size);
  }
  XorBuffer(content.data(), size, entry.xorByte);
  p.stored = std::move(content);
  p.xorByte = entry.xorByte;
  return p;
}

// Compresses the file entries on worker threads, one Codec each, and hands
// them out in manifest order.
class EntryPreparer {
 public:
  EntryPreparer(const Manifest& manifest, int threads) : manifest_(manifest) {
    for (size_t i = 0; i < manifest.entries.size(); ++i)
      if (manifest.entries[i].kind == EntryKind::File) {
        jobs_.push_back(i);
        workSize_ += uint64_t(manifest.entries[i].size);
      }
    results_.resize(manifest.entries.size());
    futures_.resize(manifest.entries.size());
    for (size_t i : jobs_) futures_[i] = results_[i].get_future();
    if (threads <= 0) threads = int(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min<int>(threads, int(jobs_.size()));
    for (int t = 0; t < threads; ++t) workers_.emplace_back([this](std::stop_token stop) { Work(stop); });
  }

  ~EntryPreparer() {
    for (auto& w : workers_) w.request_stop();
  }

  uint64_t workSize() const { return workSize_; }
  uint64_t done() const { return uint64_t(done_.load()); }

  // Waits for entry index; rethrows what its worker met.
  Prepared Take(size_t index, Progress& progress) {
    auto& future = futures_[index];
    while (future.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
      progress.Show(done(), manifest_.entries[index].name);
    return future.get();
  }

 private:
  void Work(std::stop_token stop) {
    auto codec = std::make_unique<Codec>();
    WorkerProgress progress;
    progress.codec = codec.get();
    progress.done = &done_;
    SetStreamHooks(*codec, nullptr, OnCompressTick, &progress);
    while (!stop.stop_requested()) {
      size_t job = next_.fetch_add(1);
      if (job >= jobs_.size()) return;
      size_t index = jobs_[job];
      try {
        results_[index].set_value(PrepareEntry(manifest_.entries[index], *codec, progress));
      } catch (...) {
        results_[index].set_exception(std::current_exception());
      }
    }
  }

  const Manifest& manifest_;
  std::vector<size_t> jobs_;
  uint64_t workSize_ = 0;
  std::vector<std::promise<Prepared>> results_;
  std::vector<std::future<Prepared>> futures_;
  std::atomic<size_t> next_{0};
  std::atomic<int64_t> done_{0};
  std::vector<std::jthread> workers_;  // last: joined before the rest goes
};

std::vector<uint8_t> ChooseStub(const BuildOptions& options, const Manifest& manifest) {
  if (options.stub) return ReadWholeFile(*options.stub);
  if (manifest.stub) return ReadWholeFile(*manifest.stub);
  auto embedded = options.defaultStub;
  if (embedded.empty())
    throw ToolError(fmt::format("{}: no installer stub: this lumaveil was built without the installer program; "
                                "give --stub PATH or stub = \"PATH\" in the manifest",
                                Shown(manifest.path)));
  return {embedded.begin(), embedded.end()};
}

}  // namespace

BuildResult BuildInstaller(const BuildOptions& options) {
  Manifest manifest = LoadManifest(options.manifest);
  std::vector<uint8_t> stub = ChooseStub(options, manifest);
  BuildResult result;
  result.output = options.output ? *options.output : manifest.directory / (manifest.saverNameText + "-setup.exe");

  OutputFile output(result.output);
  std::string shown = Shown(result.output);
  EntryPreparer preparer(manifest, options.threads);
  Progress progress("building " + shown, preparer.workSize());

  auto archive = std::make_unique<Archive>();
  ResetArchive(*archive);
  ArmFailureLatch(*archive, 1);
  auto check = [&](bool ok, const std::string& what) {
    if (!ok || archive->latch.Failed) throw ToolError(fmt::format("{}: {}", shown, what));
  };
  FileHandle target = CreateTargetArchive(*archive, output.TemporaryPath().string().c_str());
  check(target != InvalidFile, "cannot write the file");
  // The archive writer owns the handle from here; finish it on every path.
  struct Finish {
    Archive& archive;
    FileHandle target;
    ~Finish() { CloseArchiveFile(archive, target); }
  } finish{*archive, target};

  int64_t total = int64_t(stub.size());
  auto grow = [&](int64_t bytes) {
    total += bytes;
    if (total + int64_t(MaxEntries) * EntryRecordSize > int64_t(MaxInputSize))
      throw ToolError(fmt::format("{}: the installer would exceed 2 GiB - 1 bytes", shown));
  };
  grow(0);
  check(AppendTargetBytes(*archive, stub.data(), int32_t(stub.size())), "write error in the stub");

  // INFO first: entry 0 carries the entry count in its lead byte, so it must
  // be a regular entry, and INFO is the one entry every installer has.
  check(StoreMemoryEntry(*archive, manifest.installInfo.data(), InstallInfoSize, "INFO", TransferCompress),
        "write error in INFO");
  int32_t count = 1;

  // An alias can only be recorded once the entry it shares has been written.
  std::set<std::string> written;
  std::vector<const ManifestEntry*> waiting;
  auto folded = [](std::string name) {
    for (char& c : name) c = AsciiLower(c);
    return name;
  };
  auto recordAliases = [&] {
    for (auto it = waiting.begin(); it != waiting.end();) {
      if (written.count(folded((*it)->sameAs))) {
        check(AliasTargetEntry(*archive, (*it)->name.c_str(), (*it)->sameAs.c_str()),
              "cannot record entry " + (*it)->name);
        ++count;
        it = waiting.erase(it);
      } else {
        ++it;
      }
    }
  };

  for (size_t i = 0; i < manifest.entries.size(); ++i) {
    const ManifestEntry& e = manifest.entries[i];
    switch (e.kind) {
      case EntryKind::File: {
        Prepared p = preparer.Take(i, progress);
        grow(int64_t(p.stored.size()));
        static const uint8_t nothing = 0;  // an empty entry still needs a pointer
        const uint8_t* stored = p.stored.empty() ? &nothing : p.stored.data();
        check(StorePreparedEntry(*archive, e.name.c_str(), stored, int32_t(p.stored.size()), p.original,
                                 p.storage, p.xorByte, e.marker),
              "write error in entry " + e.name);
        written.insert(folded(e.name));
        ++count;
        break;
      }
      case EntryKind::Inline:
        check(StoreInlineEntry(*archive, e.name.c_str(), reinterpret_cast<const uint8_t*>(e.inlineData.data()),
                               int32_t(e.inlineData.size())),
              "cannot record entry " + e.name);
        ++count;
        break;
      case EntryKind::Alias:
        waiting.push_back(&e);
        break;
    }
    recordAliases();
  }
  int64_t expected = int64_t(archive->writer.AppendPosition) + int64_t(count) * EntryRecordSize;
  finish.target = InvalidFile;
  CloseArchiveFile(*archive, target);

  // The directory write is not checked by the writer: read the file back.
  std::error_code ec;
  result.size = int64_t(fs::file_size(output.TemporaryPath(), ec));
  FileHandle back = OpenSourceArchive(*archive, output.TemporaryPath().string().c_str());
  bool readable = back != InvalidFile && archive->reader.SourceCount == count;
  CloseArchiveFile(*archive, back);
  if (ec || !readable || result.size != expected) throw ToolError(fmt::format("{}: write error", shown));

  // The installer copies patch ranges out of its own file.
  for (size_t i = 0; i < manifest.patches.size(); ++i) {
    const PatchRange& range = manifest.patches[i];
    if (int64_t(range.source) + range.length > result.size)
      throw ToolError(ManifestMessage(manifest, range.line, fmt::format("installer.patch[{}].source", i + 1),
                                      fmt::format("bytes {}..{} lie beyond the installer's {} bytes", range.source,
                                                  int64_t(range.source) + range.length, result.size)));
  }

  output.Commit();
  result.entries = count;
  return result;
}

}  // namespace lumaveil
