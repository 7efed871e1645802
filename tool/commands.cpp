#include "tool/commands.h"

#include <fmt/format.h>

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "archive/archive.h"
#include "compression/codec.h"
#include "installer/settings.h"
#include "platform/bytes.h"
#include "tool/files.h"
#include "tool/text.h"

namespace lumaveil {

namespace {

// --- Archives ---

// A source archive opened for reading, closed on scope exit.
struct OpenedArchive {
  std::unique_ptr<Archive> archive = std::make_unique<Archive>();
  FileHandle handle = InvalidFile;
  fs::path path;
  std::string shown;

  explicit OpenedArchive(const fs::path& file) : path(file), shown(Shown(file)) {
    InputFileSize(file);  // missing file and size limit
    ResetArchive(*archive);
    handle = OpenSourceArchive(*archive, file.string().c_str());
    if (handle == InvalidFile) {
      if (archive->reader.OpenStage == StageOpenFailed)
        throw ToolError(fmt::format("{}: cannot open: {}", shown, std::strerror(errno)));
      throw ToolError(fmt::format("{}: no archive directory found: the file is damaged or not an installer", shown));
    }
  }
  ~OpenedArchive() { CloseArchiveFile(*archive, handle); }
  OpenedArchive(const OpenedArchive&) = delete;
  OpenedArchive& operator=(const OpenedArchive&) = delete;

  int32_t count() const { return archive->reader.SourceCount; }
  const uint8_t* record(int32_t index) const { return SourceEntry(*archive, index); }
};

std::string NameOf(const uint8_t* record) {
  char name[EntryNameSize + 1];
  RecordName(record, name);
  return name;
}

const char* StorageName(uint8_t storage) {
  if (storage == StoragePlain) return "plain";
  if (storage == StorageInline) return "inline";
  return "lzhuf";  // readers expand every other value
}

// Length of an inline entry as the reader takes it.
int32_t InlineLength(const uint8_t* record) {
  auto length = int8_t(record[EntryLeadByteAt]);
  return length < 0 || length > InlineDataMax ? 0 : length;
}

// A NUL-terminated text in a fixed field.
std::string FieldText(const uint8_t* data, int32_t size) {
  int32_t n = 0;
  while (n < size && data[n]) ++n;
  return std::string(reinterpret_cast<const char*>(data), size_t(n));
}

std::string ProblemText(const EntryCheck& check, const uint8_t* record) {
  switch (check.problem) {
    case EntryProblem::None:
      return {};
    case EntryProblem::OutsideFile:
      return fmt::format("the stored bytes lie outside the file (offset {}, {} bytes)",
                         RecordInt(record, EntryDataOffsetAt), RecordInt(record, EntryStoredSizeAt));
    case EntryProblem::BadBlock:
      return fmt::format("bad block (offset {})", check.badBlockOffset);
    case EntryProblem::Truncated:
      return fmt::format("the compressed stream ends early (offset {})", RecordInt(record, EntryDataOffsetAt));
    case EntryProblem::SizeMismatch:
      return fmt::format("expands to {} bytes; the directory says {} (offset {})", check.expandedSize,
                         RecordInt(record, EntryOriginalSizeAt), RecordInt(record, EntryDataOffsetAt));
    case EntryProblem::BadInline:
      return fmt::format("inline length {} is outside 0..{}", int(int8_t(record[EntryLeadByteAt])), InlineDataMax);
  }
  return "unknown problem";
}

std::string StreamFailureText(const Codec& codec) {
  switch (LastStreamFailure(codec)) {
    case StreamFailure::BadBlock:
      return fmt::format("damaged stream: bad block at offset {}", BadBlockOffset(codec));
    case StreamFailure::Truncated:
      return fmt::format("damaged stream: it ends before the content is complete (offset {})",
                         BadBlockOffset(codec) >= 0 ? BadBlockOffset(codec) : 0);
    case StreamFailure::SinkFull:
      return "the content does not fit";
    case StreamFailure::WriteFailed:
      return "write error";
    case StreamFailure::SourceEnded:
      return "read error";
    case StreamFailure::None:
      break;
  }
  return "damaged stream";
}

}  // namespace

int CompressCommand(const fs::path& in, const fs::path& out) {
  // Whole-buffer memory endpoints: one pass, and write errors are ours to see.
  std::vector<uint8_t> data = ReadWholeFile(in);
  int32_t size = int32_t(data.size());
  int32_t bound = CompressedSizeBound(size);
  if (bound <= 0) throw ToolError(fmt::format("{}: too large to compress", Shown(in)));
  std::vector<uint8_t> stored(static_cast<size_t>(bound));
  OutputFile output(out);

  auto codec = std::make_unique<Codec>();
  Progress progress("compressing " + Shown(in), uint64_t(size));
  struct Context {
    Codec* codec;
    Progress* progress;
    int32_t length;
  } context{codec.get(), &progress, size};
  if (progress.active())
    SetStreamHooks(
        *codec, nullptr,
        [](void* c) {
          auto* x = static_cast<Context*>(c);
          x->progress->Show(uint64_t(int64_t(x->length) - x->codec->stream.inputLeft));
        },
        &context);
  SetStreamEndpoints(*codec, data.data(), stored.data(), bound);
  if (!CompressStream(*codec, InvalidFile, InvalidFile, size, 0))
    throw ToolError(fmt::format("{}: {}", Shown(in), StreamFailureText(*codec)));
  int32_t written = StreamTotalWritten(*codec);

  output.Open();
  output.Write(stored.data(), size_t(written));
  output.Commit();
  return 0;
}

int ExpandCommand(const fs::path& in, const fs::path& out) {
  InputFile input(in);
  OutputFile output(out);
  FileHandle sink = output.Open();

  auto codec = std::make_unique<Codec>();
  Progress progress("expanding " + Shown(in), uint64_t(input.size));
  struct Context {
    Codec* codec;
    Progress* progress;
    int64_t written;
  } context{codec.get(), &progress, 0};
  if (progress.active())
    SetStreamHooks(
        *codec,
        [](void* c, int32_t count) {
          auto* x = static_cast<Context*>(c);
          x->written += count;
          x->progress->SetWorkSize(x->codec->stream.expandedLength);  // known after the first block
          x->progress->Show(uint64_t(x->written));
        },
        nullptr, &context);
  if (!ExpandStream(*codec, input.handle, sink, input.size)) {
    if (LastStreamFailure(*codec) == StreamFailure::WriteFailed)
      throw ToolError(fmt::format("{}: write error", Shown(out)));
    throw ToolError(fmt::format("{}: {}", Shown(in), StreamFailureText(*codec)));
  }
  output.Commit();
  return 0;
}

int ListCommand(const fs::path& file, bool json) {
  OpenedArchive a(file);
  if (json) {
    auto list = nlohmann::ordered_json::array();
    for (int32_t i = 0; i < a.count(); ++i) {
      const uint8_t* r = a.record(i);
      bool isInline = RecordStorage(r) == StorageInline;
      nlohmann::ordered_json e;
      e["index"] = i;
      e["name"] = BytesAsCodePoints(NameOf(r));
      e["storage"] = StorageName(RecordStorage(r));
      e["xor"] = r[EntryXorByteAt];
      if (isInline) {
        e["offset"] = nullptr;
        e["stored"] = InlineLength(r);
        e["original"] = InlineLength(r);
        e["marker"] = nullptr;
      } else {
        e["offset"] = RecordInt(r, EntryDataOffsetAt);
        e["stored"] = RecordInt(r, EntryStoredSizeAt);
        e["original"] = RecordInt(r, EntryOriginalSizeAt);
        e["marker"] = RecordInt(r, EntryMarkerOffsetAt);
      }
      list.push_back(e);
    }
    fmt::print("{}\n", list.dump(2, ' ', true));
    return 0;
  }
  fmt::print("{}: {} entries\n", a.shown, a.count());
  fmt::print("{:>5}  {:<15}  {:<7}  {:>3}  {:>10}  {:>10}  {:>10}  {:>10}\n", "index", "name", "storage", "xor",
             "offset", "stored", "original", "marker");
  for (int32_t i = 0; i < a.count(); ++i) {
    const uint8_t* r = a.record(i);
    if (RecordStorage(r) == StorageInline) {
      fmt::print("{:>5}  {:<15}  {:<7}  {:>3}  {:>10}  {:>10}  {:>10}  {:>10}\n", i, Printable(NameOf(r)), "inline",
                 r[EntryXorByteAt], "-", InlineLength(r), InlineLength(r), "-");
    } else {
      fmt::print("{:>5}  {:<15}  {:<7}  {:>3}  {:>10}  {:>10}  {:>10}  {:>10}\n", i, Printable(NameOf(r)),
                 StorageName(RecordStorage(r)), r[EntryXorByteAt], RecordInt(r, EntryDataOffsetAt),
                 RecordInt(r, EntryStoredSizeAt), RecordInt(r, EntryOriginalSizeAt),
                 RecordInt(r, EntryMarkerOffsetAt));
    }
  }
  return 0;
}

int InfoCommand(const fs::path& file, bool json) {
  std::vector<uint8_t> info(InstallInfoSize, 0);
  {
    // The reasons the installer would fall back to its defaults, told plainly.
    OpenedArchive a(file);
    if (!FindEntry(*a.archive, "INFO", FindRegular))
      throw ToolError(fmt::format("{}: no INFO entry: the file carries no installer settings", a.shown));
    if (!ExtractEntryToMemory(*a.archive, "INFO", info.data(), InstallInfoSize))
      throw ToolError(fmt::format("{}: the INFO entry cannot be read: {}", a.shown,
                                  ProblemText(CheckEntry(*a.archive, FindEntry(*a.archive, "INFO", FindRegular)),
                                              FindEntry(*a.archive, "INFO", FindRegular))));
  }
  auto archive = std::make_unique<Archive>();
  ResetArchive(*archive);
  auto texts = std::make_unique<InstallerTexts>();
  ResetInstallerTexts(*texts);
  auto pool = std::make_unique<TextPool>();
  *pool = {};
  LoadInstallerSettings(*archive, file.string().c_str(), info.data(), *texts, *pool);
  const uint8_t* record = info.data();

  using Field = std::pair<std::string, nlohmann::json>;
  auto text = [](const char* t, int32_t size) { return FieldText(reinterpret_cast<const uint8_t*>(t), size); };
  std::vector<Field> table = {
      {"SaverFileName", text(texts->SaverFileName, TextCapacity)},
      {"QuestionText", text(texts->QuestionText, TextCapacity)},
      {"FinishText", text(texts->FinishText, TextCapacity)},
      {"FailureText", text(texts->FailureText, TextCapacity)},
      {"ProgressText", text(texts->ProgressText, TextCapacity)},
      {"YesText", text(texts->YesText, LabelCapacity)},
      {"NoText", text(texts->NoText, LabelCapacity)},
      {"ShowProgress", texts->ShowProgress},
      {"PostInstallAction", texts->PostInstallAction},
      {"DisplayPropertiesCommand", text(texts->DisplayPropertiesCommand, CommandCapacity)},
      {"ProgressTotal", texts->ProgressTotal},
  };
  auto slot = [&](int32_t at, int32_t size) { return FieldText(record + at, size); };
  std::vector<Field> raw = {
      {"QuestionText", slot(QuestionTextAt, TextSlotSize)},
      {"FinishText", slot(FinishTextAt, TextSlotSize)},
      {"FailureText", slot(FailureTextAt, TextSlotSize)},
      {"ProgressText", slot(ProgressTextAt, TextSlotSize)},
      {"YesText", slot(YesTextAt, TextSlotSize)},
      {"NoText", slot(NoTextAt, TextSlotSize)},
      {"TextPresent",
       nlohmann::json::array({record[TextPresentAt], record[TextPresentAt + 1], record[TextPresentAt + 2],
                              record[TextPresentAt + 3]})},
      {"YesTextPresent", record[YesTextPresentAt]},
      {"NoTextPresent", record[NoTextPresentAt]},
      {"DocumentPath", slot(DocumentPathAt, DocumentPathSize)},
      {"PostInstallAction", InfoInt(record, PostInstallActionAt)},
      {"ShowProgress", InfoInt(record, ShowProgressAt)},
      {"SaverName", slot(SaverNameAt, SaverNameSize)},
      {"DoNotActivate", InfoInt(record, DoNotActivateAt)},
      {"PatchEnabled", InfoInt(record, PatchEnabledAt)},
      {"PatchSource1", InfoInt(record, PatchSource1At)},
      {"PatchTarget1", InfoInt(record, PatchTarget1At)},
      {"PatchLength1", InfoInt(record, PatchLength1At)},
      {"PatchSource2", InfoInt(record, PatchSource2At)},
      {"PatchTarget2", InfoInt(record, PatchTarget2At)},
      {"PatchLength2", InfoInt(record, PatchLength2At)},
      {"WidenSpecialChar", InfoInt(record, WidenSpecialCharAt)},
  };

  if (json) {
    // Texts are single bytes: each becomes the code point of its value, so
    // the ASCII-only output shows a byte of 128 or more as \u00NN.
    auto object = [](const std::vector<Field>& fields) {
      nlohmann::ordered_json o = nlohmann::ordered_json::object();
      for (auto& [key, value] : fields)
        o[key] = value.is_string() ? nlohmann::ordered_json(BytesAsCodePoints(value.get<std::string>()))
                                   : nlohmann::ordered_json::parse(value.dump());
      return o;
    };
    nlohmann::ordered_json out;
    out["InstallerTexts"] = object(table);
    out["InstallInfo"] = object(raw);
    fmt::print("{}\n", out.dump(2, ' ', true));
    return 0;
  }
  auto print = [](const char* title, const std::vector<Field>& fields) {
    fmt::print("{}\n", title);
    for (auto& [key, value] : fields) {
      std::string shown;
      if (value.is_string())
        shown = fmt::format("\"{}\"", Printable(value.get<std::string>()));
      else if (value.is_array())
        for (auto& v : value) shown += fmt::format("{}{}", shown.empty() ? "" : " ", v.dump());
      else
        shown = value.dump();
      fmt::print("  {:<25} {}\n", key, shown);
    }
  };
  print("InstallerTexts", table);
  print("InstallInfo", raw);
  return 0;
}

namespace {

// Extracts one entry to path, atomically; throws naming the entry.
void ExtractTo(OpenedArchive& a, const uint8_t* record, const fs::path& path) {
  std::string name = NameOf(record);
  OutputFile output(path);
  if (!ExtractEntryToFile(*a.archive, name.c_str(), output.TemporaryPath().string().c_str())) {
    std::string why = ProblemText(CheckEntry(*a.archive, record), record);
    throw ToolError(fmt::format("{}: entry {} cannot be extracted: {}", a.shown, Printable(name),
                                why.empty() ? "read error" : why));
  }
  output.Commit();
}

}  // namespace

int ExtractCommand(const fs::path& file, const std::string& entry, const std::optional<fs::path>& out) {
  OpenedArchive a(file);
  const uint8_t* record = FindEntry(*a.archive, entry.c_str(), FindRegular | FindInline);
  if (!record) throw ToolError(fmt::format("{}: no entry {}", a.shown, Printable(entry)));
  fs::path path;
  if (out) {
    path = *out;
  } else {
    std::string name = NameOf(record);
    std::string problem = FileNameProblem(name);
    if (!problem.empty())
      throw ToolError(fmt::format("{}: the entry name \"{}\" {}; give -o FILE", a.shown, Printable(name), problem));
    path = name;
  }
  ExtractTo(a, record, path);
  return 0;
}

int ExtractAllCommand(const fs::path& file, const fs::path& directory) {
  OpenedArchive a(file);
  // Every name is checked before anything is written: an entry name comes
  // from the file and must never lead outside the directory.
  std::set<std::string> seen;
  for (int32_t i = 0; i < a.count(); ++i) {
    std::string name = NameOf(a.record(i));
    std::string problem = FileNameProblem(name);
    if (!problem.empty())
      throw ToolError(
          fmt::format("{}: entry {}: the name \"{}\" cannot be a file name: it {}", a.shown, i, Printable(name), problem));
    std::string folded = name;
    for (char& c : folded) c = AsciiLower(c);
    if (!seen.insert(folded).second)
      throw ToolError(fmt::format("{}: entry {}: the name {} occurs twice", a.shown, i, Printable(name)));
  }

  std::error_code ec;
  bool created = false;
  if (!fs::is_directory(directory, ec)) {
    created = fs::create_directory(directory, ec);
    if (ec) throw ToolError(fmt::format("{}: cannot create the directory: {}", Shown(directory), ec.message()));
  }
  std::vector<fs::path> done;
  try {
    for (int32_t i = 0; i < a.count(); ++i) {
      fs::path path = directory / NameOf(a.record(i));
      ExtractTo(a, a.record(i), path);
      done.push_back(path);
    }
  } catch (...) {
    // All or nothing: take back what this run wrote.
    for (auto& path : done) fs::remove(path, ec);
    if (created) fs::remove(directory, ec);
    throw;
  }
  return 0;
}

namespace {

// What keeps the installer from using its settings record, or "" when nothing does.
std::string SettingsProblem(Archive& archive, const uint8_t* info) {
  int32_t original = RecordInt(info, EntryOriginalSizeAt);
  if (original > InstallInfoSize)
    return fmt::format("the settings record holds {} bytes; the installer reads at most {}", original, InstallInfoSize);
  std::vector<uint8_t> record(InstallInfoSize, 0);
  if (!ExtractEntryToMemory(archive, "INFO", record.data(), InstallInfoSize))
    return "the settings record cannot be read";
  const char* name = reinterpret_cast<const char*>(record.data() + SaverNameAt);
  std::string saverName(name, strnlen(name, SaverNameSize));
  std::string problem = saverName.empty() ? FileNameProblem(saverName) : FileNameProblem(saverName + ".scr");
  if (!problem.empty())
    return fmt::format("the screensaver name \"{}\" {}", Printable(saverName), problem);
  return {};
}

}  // namespace

int VerifyCommand(const fs::path& file) {
  InputFileSize(file);
  std::unique_ptr<OpenedArchive> a;
  try {
    a = std::make_unique<OpenedArchive>(file);
  } catch (const ToolError& e) {
    fmt::print("{}\n", e.what());
    return 1;
  }
  int problems = 0;
  for (int32_t i = 0; i < a->count(); ++i) {
    const uint8_t* record = a->record(i);
    std::string what = ProblemText(CheckEntry(*a->archive, record), record);
    if (what.empty()) continue;
    fmt::print("{}: {}: {}\n", a->shown, Printable(NameOf(record)), what);
    ++problems;
  }
  // The settings record: an installer that cannot load it asks its question
  // with placeholder texts and then fails, so verify calls it damaged too.
  if (const uint8_t* info = FindEntry(*a->archive, "INFO", FindRegular)) {
    std::string what = SettingsProblem(*a->archive, info);
    if (!what.empty()) {
      fmt::print("{}: INFO: {}\n", a->shown, what);
      ++problems;
    }
  }
  if (problems) return 1;
  fmt::print("{}: {} entries, all good\n", a->shown, a->count());
  return 0;
}

}  // namespace lumaveil
