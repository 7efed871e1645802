#include "tool/manifest.h"

#include <fmt/format.h>

#include <algorithm>
#include <toml++/toml.h>

#include "installer/settings.h"
#include "platform/bytes.h"
#include "tool/files.h"
#include "tool/text.h"

namespace lumaveil {

std::string ManifestMessage(const Manifest& manifest, int line, const std::string& key, const std::string& what) {
  if (line > 0) return fmt::format("{}:{}: {}: {}", Shown(manifest.path), line, key, what);
  return fmt::format("{}: {}: {}", Shown(manifest.path), key, what);
}

namespace {

// The installer's table slots, terminating NUL included (see settings.h).
constexpr int32_t MaxTextLength = TextCapacity - 1;
constexpr int32_t MaxLabelLength = LabelCapacity - 1;
// SaverFileName holds the name and ".scr" in 63 characters.
constexpr int32_t MaxSaverNameLength = TextCapacity - 1 - 4;
constexpr int32_t MaxDocumentLength = DocumentPathSize - 1;
constexpr size_t MaxPatchRanges = 2;

int LineOf(const toml::node& node) { return int(node.source().begin.line); }

// Collects every problem, so that the one reported is the first in the
// file, not the first that the checks happen to reach.
struct Problems {
  struct Problem {
    int line;
    std::string key, what;
  };
  std::vector<Problem> list;
  void Add(int line, std::string key, std::string what) { list.push_back({line, std::move(key), std::move(what)}); }
};

struct Reader {
  Manifest& manifest;
  Problems& problems;

  void CheckKeys(const toml::table& table, const std::string& prefix, std::initializer_list<std::string_view> known) {
    for (auto&& [key, node] : table) {
      if (std::find(known.begin(), known.end(), key.str()) == known.end())
        problems.Add(LineOf(node), prefix + std::string(key.str()), "unknown key");
    }
  }

  const toml::node* Find(const toml::table& table, std::string_view key) { return table.get(key); }

  std::optional<std::string> String(const toml::table& table, std::string_view key, const std::string& shown) {
    const toml::node* node = Find(table, key);
    if (!node) return std::nullopt;
    if (!node->is_string()) {
      problems.Add(LineOf(*node), shown, "expected a text in quotes");
      return std::nullopt;
    }
    return node->value<std::string>();
  }

  std::optional<bool> Bool(const toml::table& table, std::string_view key, const std::string& shown) {
    const toml::node* node = Find(table, key);
    if (!node) return std::nullopt;
    if (!node->is_boolean()) {
      problems.Add(LineOf(*node), shown, "expected true or false");
      return std::nullopt;
    }
    return node->value<bool>();
  }

  // An integer within [low, high].
  std::optional<int64_t> Integer(const toml::table& table, std::string_view key, const std::string& shown, int64_t low,
                                 int64_t high) {
    const toml::node* node = Find(table, key);
    if (!node) return std::nullopt;
    if (!node->is_integer()) {
      problems.Add(LineOf(*node), shown, "expected a whole number");
      return std::nullopt;
    }
    int64_t value = *node->value<int64_t>();
    if (value < low || value > high) {
      problems.Add(LineOf(*node), shown, fmt::format("{} is outside {}..{}", value, low, high));
      return std::nullopt;
    }
    return value;
  }

  int Line(const toml::table& table, std::string_view key) {
    const toml::node* node = Find(table, key);
    return node ? LineOf(*node) : LineOf(table);
  }

  // A text for one of the installer's single-byte fields.
  std::optional<std::string> InstallerText(const toml::table& table, std::string_view key, int32_t maxLength,
                                           const char* noun) {
    std::string shown = "installer." + std::string(key);
    auto utf8 = String(table, key, shown);
    if (!utf8) return std::nullopt;
    int line = Line(table, key);
    char32_t bad = 0;
    auto text = ToSingleByte(*utf8, &bad);
    if (!text) {
      problems.Add(line, shown,
                   fmt::format("U+{:04X} has no character in the installer's single-byte (Windows-1252) texts",
                               uint32_t(bad)));
      return std::nullopt;
    }
    for (char c : *text) {
      if (uint8_t(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
        problems.Add(line, shown, fmt::format("contains the control character U+{:04X}", unsigned(uint8_t(c))));
        return std::nullopt;
      }
    }
    if (int32_t(text->size()) > maxLength) {
      problems.Add(line, shown,
                   fmt::format("{} is {} characters; the installer shows at most {}", noun, text->size(), maxLength));
      return std::nullopt;
    }
    return text;
  }

  // A path relative to the manifest's directory that must name a readable file.
  std::optional<std::pair<fs::path, int32_t>> InputFile(const toml::table& table, std::string_view key,
                                                        const std::string& shown) {
    auto text = String(table, key, shown);
    if (!text) return std::nullopt;
    if (text->empty()) {
      problems.Add(Line(table, key), shown, "the file name is empty");
      return std::nullopt;
    }
    fs::path path = manifest.directory / fs::path(*text);
    try {
      lumaveil::InputFile probe(path);  // opens it: existence, size limit and permission in one
      return std::pair{path, probe.size};
    } catch (const ToolError& e) {
      problems.Add(Line(table, key), shown, fmt::format("cannot use the file: {}", e.what()));
      return std::nullopt;
    }
  }
};

void PutText(uint8_t* record, int32_t at, int32_t fieldSize, const std::string& text) {
  FillBytes(record + at, 0, fieldSize);
  CopyText(reinterpret_cast<char*>(record + at), text.c_str(), fieldSize);
}

void ReadInstaller(Reader& r, const toml::table& root) {
  Manifest& m = r.manifest;
  const toml::node* node = root.get("installer");
  if (!node) {
    r.problems.Add(0, "installer", "the [installer] table is missing (it needs at least saver-name)");
    return;
  }
  if (!node->is_table()) {
    r.problems.Add(LineOf(*node), "installer", "expected a table [installer]");
    return;
  }
  const toml::table& t = *node->as_table();
  r.CheckKeys(t, "installer.",
              {"saver-name", "question", "finish", "failure", "progress", "yes", "no", "show-progress", "after-install",
               "document", "activate", "widen-special-char", "record", "patch"});

  uint8_t* info = m.installInfo.data();
  if (auto record = r.InputFile(t, "record", "installer.record")) {
    if (record->second != InstallInfoSize) {
      r.problems.Add(r.Line(t, "record"), "installer.record",
                     fmt::format("the template is {} bytes; a settings record is exactly {}", record->second,
                                 InstallInfoSize));
    } else {
      m.installInfo = ReadWholeFile(record->first);
      info = m.installInfo.data();
    }
  }

  // Saver name: the installed file is <name>.scr in the Windows directory.
  if (auto name = r.InstallerText(t, "saver-name", MaxSaverNameLength, "name")) {
    std::string problem = FileNameProblem(*name);
    if (!problem.empty())
      r.problems.Add(r.Line(t, "saver-name"), "installer.saver-name", "the name " + problem);
    m.saverName = *name;
    m.saverNameText = r.String(t, "saver-name", "installer.saver-name").value_or("");
    PutText(info, SaverNameAt, SaverNameSize, *name);
  } else if (!t.get("saver-name")) {
    r.problems.Add(LineOf(t), "installer.saver-name", "missing: the installed file's name is required");
  }

  // Texts: a present text sets its presence byte; an absent one is cleared.
  struct TextField {
    const char* key;
    int32_t at, presentAt, maxLength;
    const char* noun;
  };
  const TextField texts[] = {
      {"question", QuestionTextAt, TextPresentAt + 0, MaxTextLength, "text"},
      {"finish", FinishTextAt, TextPresentAt + 1, MaxTextLength, "text"},
      {"failure", FailureTextAt, TextPresentAt + 2, MaxTextLength, "text"},
      {"progress", ProgressTextAt, TextPresentAt + 3, MaxTextLength, "text"},
      {"yes", YesTextAt, YesTextPresentAt, MaxLabelLength, "label"},
      {"no", NoTextAt, NoTextPresentAt, MaxLabelLength, "label"},
  };
  for (const TextField& f : texts) {
    auto text = r.InstallerText(t, f.key, f.maxLength, f.noun);
    PutText(info, f.at, TextSlotSize, text.value_or(""));
    info[f.presentAt] = text ? 1 : 0;
  }

  SetInfoInt(info, ShowProgressAt, r.Bool(t, "show-progress", "installer.show-progress").value_or(false) ? 1 : 0);
  SetInfoInt(info, DoNotActivateAt, r.Bool(t, "activate", "installer.activate").value_or(true) ? 0 : 1);
  SetInfoInt(info, WidenSpecialCharAt,
             r.Bool(t, "widen-special-char", "installer.widen-special-char").value_or(false) ? 1 : 0);

  int32_t action = ActionNone;
  if (auto text = r.String(t, "after-install", "installer.after-install")) {
    static constexpr std::pair<std::string_view, int32_t> actions[] = {{"none", ActionNone},
                                                                       {"display-properties", ActionDisplayProperties},
                                                                       {"start-saver", ActionStartSaver},
                                                                       {"open-document", ActionOpenDocument}};
    auto it = std::find_if(std::begin(actions), std::end(actions), [&](auto& a) { return a.first == *text; });
    if (it == std::end(actions))
      r.problems.Add(r.Line(t, "after-install"), "installer.after-install",
                     fmt::format("\"{}\" is not one of none, display-properties, start-saver, open-document", *text));
    else
      action = it->second;
  }
  SetInfoInt(info, PostInstallActionAt, action);

  // The document: the installer extracts LESMI under the name after the last backslash.
  auto document = r.InstallerText(t, "document", MaxDocumentLength, "path");
  PutText(info, DocumentPathAt, DocumentPathSize, document.value_or(""));
  std::string documentName = document ? document->substr(document->rfind('\\') + 1) : "";
  if (document && !documentName.empty()) {
    std::string problem = FileNameProblem(documentName);
    if (!problem.empty())
      r.problems.Add(r.Line(t, "document"), "installer.document", "the file name \"" + documentName + "\" " + problem);
  }
  if (action == ActionOpenDocument && documentName.empty() && !(t.get("document") && !document))
    r.problems.Add(r.Line(t, "document"), "installer.document",
                   "open-document needs a document file name (the part after the last backslash is empty)");

  // Patch ranges.
  for (int32_t at = PatchEnabledAt; at <= PatchLength2At; at += 4) SetInfoInt(info, at, 0);
  if (const toml::node* patches = t.get("patch")) {
    const toml::array* list = patches->as_array();
    if (!list || !list->is_array_of_tables()) {
      r.problems.Add(LineOf(*patches), "installer.patch", "expected [[installer.patch]] tables");
    } else if (list->size() > MaxPatchRanges) {
      r.problems.Add(LineOf(*list->get(MaxPatchRanges)), "installer.patch",
                     fmt::format("{} ranges; the installer copies at most {}", list->size(), MaxPatchRanges));
    } else {
      for (size_t i = 0; i < list->size(); ++i) {
        const toml::table& p = *list->get(i)->as_table();
        std::string prefix = fmt::format("installer.patch[{}].", i + 1);
        r.CheckKeys(p, prefix, {"source", "target", "length"});
        PatchRange range;
        range.line = LineOf(p);
        bool complete = true;
        for (auto [key, field, high] : {std::tuple{"source", &range.source, int64_t(INT32_MAX)},
                                        std::tuple{"target", &range.target, int64_t(INT32_MAX)},
                                        std::tuple{"length", &range.length, int64_t(PatchLengthMax)}}) {
          if (!p.get(key)) {
            r.problems.Add(range.line, prefix + key, "missing (a range needs source, target and length)");
            complete = false;
          } else if (auto v = r.Integer(p, key, prefix + key, 0, high)) {
            *field = int32_t(*v);
          } else {
            complete = false;
          }
        }
        if (!complete) continue;
        if (int64_t(range.source) + range.length > INT32_MAX || int64_t(range.target) + range.length > INT32_MAX)
          r.problems.Add(range.line, prefix + "length", "the range ends beyond 2 GiB");
        // The installer skips the first range when its target is 0.
        if (i == 0 && range.target == 0 && range.length > 0)
          r.problems.Add(r.Line(p, "target"), prefix + "target",
                         "the installer never applies a first range whose target is 0; list it second");
        m.patches.push_back(range);
      }
    }
    if (!m.patches.empty()) {
      SetInfoInt(info, PatchEnabledAt, 1);
      const int32_t slots[2][3] = {{PatchSource1At, PatchTarget1At, PatchLength1At},
                                   {PatchSource2At, PatchTarget2At, PatchLength2At}};
      for (size_t i = 0; i < m.patches.size(); ++i) {
        SetInfoInt(info, slots[i][0], m.patches[i].source);
        SetInfoInt(info, slots[i][1], m.patches[i].target);
        SetInfoInt(info, slots[i][2], m.patches[i].length);
      }
    }
  }
}

std::string Folded(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

void ReadEntries(Reader& r, const toml::table& root, int32_t action) {
  Manifest& m = r.manifest;
  const toml::node* node = root.get("entry");
  if (!node || !node->is_table()) {
    r.problems.Add(node ? LineOf(*node) : 0, "entry",
                   node ? "expected [entry.NAME] tables" : "no [entry.NAME] tables: the payload is empty");
    if (!node || !node->is_table()) return;
  }
  const toml::table& entries = *node->as_table();

  // toml++ keeps keys sorted; the manifest's order is the order of the tables in the file.
  std::vector<std::pair<std::string, const toml::node*>> ordered;
  for (auto&& [key, value] : entries) ordered.emplace_back(std::string(key.str()), &value);
  std::stable_sort(ordered.begin(), ordered.end(), [](auto& a, auto& b) {
    auto sa = a.second->source().begin, sb = b.second->source().begin;
    return sa.line != sb.line ? sa.line < sb.line : sa.column < sb.column;
  });

  for (auto& [name, value] : ordered) {
    std::string key = "entry." + name;
    int line = LineOf(*value);
    if (!value->is_table()) {
      r.problems.Add(line, key, "expected a table [entry." + name + "]");
      continue;
    }
    const toml::table& t = *value->as_table();
    r.CheckKeys(t, key + ".", {"file", "compression", "xor", "marker", "same-as", "inline"});

    if (name.empty()) r.problems.Add(line, key, "the entry name is empty");
    if (name.size() >= size_t(EntryNameSize))
      r.problems.Add(line, key,
                     fmt::format("the name is {} characters; entry names have at most {}", name.size(),
                                 EntryNameSize - 1));
    if (std::any_of(name.begin(), name.end(), [](char c) { return uint8_t(c) < 0x21 || uint8_t(c) > 0x7E; }))
      r.problems.Add(line, key, "entry names are printable ASCII without spaces");
    if (Folded(name) == "info")
      r.problems.Add(line, key, "INFO is written by the tool from [installer]; remove this table");
    for (const ManifestEntry& earlier : m.entries)
      if (Folded(earlier.name) == Folded(name))
        r.problems.Add(line, key,
                       fmt::format("the name repeats entry {} of line {} (names ignore letter case)", earlier.name,
                                   earlier.line));

    ManifestEntry e;
    e.name = name;
    e.line = line;
    int kinds = int(t.contains("file")) + int(t.contains("same-as")) + int(t.contains("inline"));
    if (kinds != 1) {
      r.problems.Add(line, key,
                     kinds == 0 ? "needs one of file, same-as or inline" : "file, same-as and inline exclude each other");
      m.entries.push_back(e);
      continue;
    }
    if (t.contains("same-as") || t.contains("inline")) {
      e.kind = t.contains("same-as") ? EntryKind::Alias : EntryKind::Inline;
      for (const char* k : {"compression", "xor", "marker"})
        if (t.contains(k))
          r.problems.Add(r.Line(t, k), key + "." + k,
                         fmt::format("has no meaning for {} entry", t.contains("same-as") ? "a same-as" : "an inline"));
    }
    if (e.kind == EntryKind::Alias) {
      e.sameAs = r.String(t, "same-as", key + ".same-as").value_or("");
    } else if (e.kind == EntryKind::Inline) {
      e.inlineData = r.String(t, "inline", key + ".inline").value_or("");
      if (e.inlineData.size() > size_t(InlineDataMax))
        r.problems.Add(r.Line(t, "inline"), key + ".inline",
                       fmt::format("inline data is {} bytes; at most {}", e.inlineData.size(), InlineDataMax));
    } else {
      if (auto file = r.InputFile(t, "file", key + ".file")) {
        e.file = file->first;
        e.size = file->second;
      }
      if (auto text = r.String(t, "compression", key + ".compression")) {
        if (*text == "auto")
          e.compression = Compression::Auto;
        else if (*text == "lzhuf")
          e.compression = Compression::Lzhuf;
        else if (*text == "none")
          e.compression = Compression::None;
        else
          r.problems.Add(r.Line(t, "compression"), key + ".compression",
                         fmt::format("\"{}\" is not one of auto, lzhuf, none", *text));
      }
      if (auto v = r.Integer(t, "xor", key + ".xor", 0, 255)) {
        e.xorByte = uint8_t(*v);
        if (e.xorByte != 0 && e.compression != Compression::None)
          r.problems.Add(r.Line(t, "xor"), key + ".xor",
                         "masks only uncompressed entries; add compression = \"none\"");
      }
      if (auto v = r.Integer(t, "marker", key + ".marker", -1, INT32_MAX)) {
        e.marker = int32_t(*v);
        // The directory records 0 and offsets past the content as "none".
        if (e.marker == 0)
          r.problems.Add(r.Line(t, "marker"), key + ".marker", "offset 0 cannot be recorded; -1 means none");
        else if (e.marker > 0 && !e.file.empty() && e.marker >= e.size)
          r.problems.Add(r.Line(t, "marker"), key + ".marker",
                         fmt::format("offset {} lies beyond the entry's {} bytes", e.marker, e.size));
      }
    }
    m.entries.push_back(e);
  }

  auto find = [&](std::string_view name) -> const ManifestEntry* {
    for (const ManifestEntry& e : m.entries)
      if (Folded(e.name) == Folded(name)) return &e;
    return nullptr;
  };
  for (const ManifestEntry& e : m.entries) {
    if (e.kind != EntryKind::Alias || e.sameAs.empty()) continue;
    const ManifestEntry* target = find(e.sameAs);
    std::string key = "entry." + e.name + ".same-as";
    if (!target)
      r.problems.Add(e.line, key, fmt::format("there is no entry {}", e.sameAs));
    else if (target == &e)
      r.problems.Add(e.line, key, "an entry cannot share its own bytes");
    else if (target->kind != EntryKind::File)
      r.problems.Add(e.line, key,
                     fmt::format("{} is {} entry; same-as needs an entry with a file", target->name,
                                 target->kind == EntryKind::Alias ? "a same-as" : "an inline"));
  }

  int entriesLine = LineOf(entries);
  for (const char* required : RequiredEntries) {
    const ManifestEntry* e = find(required);
    if (!e)
      r.problems.Add(entriesLine, fmt::format("entry.{}", required),
                     "missing: every installer needs SAVER, STUB, MOVIE, ZETT and KMDL");
    else if (e->kind == EntryKind::Inline)
      r.problems.Add(e->line, "entry." + e->name, "the installer copies this entry; it cannot be inline");
  }
  if (action == ActionOpenDocument && !find("LESMI"))
    r.problems.Add(entriesLine, "entry.LESMI", "missing: after-install = \"open-document\" opens this entry's file");
  if (m.entries.size() + 1 > size_t(MaxEntries))
    r.problems.Add(ordered.size() > size_t(MaxEntries - 1) ? LineOf(*ordered[MaxEntries - 1].second) : entriesLine,
                   "entry",
                   fmt::format("{} entries and INFO; an archive holds at most {}", m.entries.size(), MaxEntries));
}

}  // namespace

Manifest LoadManifest(const fs::path& path) {
  Manifest m;
  m.path = path;
  m.directory = path.parent_path();
  m.installInfo.assign(InstallInfoSize, 0);
  InputFileSize(path);  // a clear message for a missing manifest

  toml::table root;
  try {
    root = toml::parse_file(path.string());
  } catch (const toml::parse_error& e) {
    throw ToolError(fmt::format("{}:{}: {}", Shown(path), e.source().begin.line, e.description()));
  }

  Problems problems;
  Reader r{m, problems};
  r.CheckKeys(root, "", {"stub", "installer", "entry"});
  if (auto stub = r.InputFile(root, "stub", "stub")) m.stub = stub->first;
  ReadInstaller(r, root);
  ReadEntries(r, root, InfoInt(m.installInfo.data(), PostInstallActionAt));

  if (!problems.list.empty()) {
    // Problems in the file come first; those of something missing (line 0) after them.
    auto order = [](const Problems::Problem& p) { return p.line > 0 ? p.line : INT32_MAX; };
    auto first = std::min_element(problems.list.begin(), problems.list.end(),
                                  [&](auto& a, auto& b) { return order(a) < order(b); });
    throw ToolError(ManifestMessage(m, first->line, first->key, first->what));
  }
  return m;
}

}  // namespace lumaveil
