// Makes damaged copies of a valid installer, the way downloads and tampering
// damage them: cut short, bits flipped, directory records rewritten and
// enciphered again, a settings record that grows too large. The archive
// library does the reading, the enciphering and the writing, so the damage is
// exactly what is asked for and nothing else.
//
//   damage INPUT OUTPUT OPERATION...
//
// Operations apply in order to the bytes of INPUT; OUTPUT gets the result.
//   keep=POS            cut the file at POS
//   flip=POS            flip bit 4 of the byte at POS
//   set=NAME.FIELD=N    rewrite a directory field (offset, stored, original,
//                       lead, storage) of entry NAME, or of entry #I
//   records=N           rewrite the directory as N records (the last copied),
//                       entry 0 claiming N
//   info=SIZE           store "INFO" again, compressed, as SIZE bytes (the
//                       record padded with zeros)
//   info-text=AT=TEXT   store "INFO" again with TEXT (and a NUL) at offset AT
//   plain=directory     leave the directory deciphered (for fuzz seeds whose
//                       directory the fuzz path enciphers); last operation
// POS: a number; end-N; dir+N (start of the directory); NAME+N (the entry's
// first stored byte); NAME.mid (the middle of its stored bytes); NAME.end-N;
// program-N (N bytes before the end of the installer program, where the
// first entry's stored bytes begin).
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "installer/settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The scratch file, removed on every way out.
std::string g_scratch;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "damage: %s\n", what.c_str());
  if (!g_scratch.empty()) ::unlink(g_scratch.c_str());
  std::exit(2);
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) Fail("cannot write " + path);
}

// The bytes being damaged, with their directory as the reader finds it.
struct Subject {
  std::string scratch;  // a file the library reads and writes by name
  Bytes bytes;
  std::unique_ptr<Archive> archive = std::make_unique<Archive>();
  int32_t count = 0;
  Bytes directory;  // plain records in file order: entry count-1 first

  void Reopen() {
    WriteAll(scratch, bytes);
    ResetArchive(*archive);
    count = 0;
    directory.clear();
    if (OpenSourceArchive(*archive, scratch.c_str()) == InvalidFile) return;
    count = archive->reader.SourceCount;
    for (int32_t i = count - 1; i >= 0; --i) {
      const uint8_t* record = SourceEntry(*archive, i);
      directory.insert(directory.end(), record, record + EntryRecordSize);
    }
    CloseArchiveFile(*archive, archive->reader.source);
  }

  // Entry i's record within directory (plain).
  uint8_t* Record(int32_t i) { return directory.data() + (count - 1 - i) * EntryRecordSize; }

  int32_t IndexOf(const std::string& name) {
    if (!name.empty() && name[0] == '#') return std::atoi(name.c_str() + 1);
    for (int32_t i = 0; i < count; ++i) {
      char stored[EntryNameSize + 1];
      RecordName(Record(i), stored);
      if (strcasecmp(stored, name.c_str()) == 0) return i;
    }
    Fail("no entry " + name);
  }

  // Writes directory back over the last bytes, enciphered as one stream.
  void StoreDirectory(int32_t oldCount) {
    Bytes enciphered = directory;
    Pc1SetKey(archive->cipher, DirectoryKey);
    Pc1Crypt(archive->cipher, enciphered.data(), int32_t(enciphered.size()), 1);
    bytes.resize(bytes.size() - size_t(oldCount) * EntryRecordSize);
    bytes.insert(bytes.end(), enciphered.begin(), enciphered.end());
  }
};

int32_t Field(const std::string& name) {
  if (name == "offset") return EntryDataOffsetAt;
  if (name == "stored") return EntryStoredSizeAt;
  if (name == "original") return EntryOriginalSizeAt;
  if (name == "lead") return EntryLeadByteAt;
  if (name == "storage") return EntryStorageAt;
  Fail("unknown field " + name);
}

void PutLe(uint8_t* at, int32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(uint32_t(value) >> (8 * i));
}

int32_t GetLe(const uint8_t* at) {
  return int32_t(uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24);
}

size_t Position(Subject& s, const std::string& text) {
  auto number = [&](const std::string& digits) { return int64_t(std::strtoll(digits.c_str(), nullptr, 0)); };
  int64_t size = int64_t(s.bytes.size());
  int64_t at;
  if (text.rfind("end-", 0) == 0) {
    at = size - number(text.substr(4));
  } else if (text.rfind("dir+", 0) == 0) {
    if (!s.count) Fail("no directory");
    at = size - int64_t(s.count) * EntryRecordSize + number(text.substr(4));
  } else if (text.rfind("program-", 0) == 0) {
    int64_t end = size;
    for (int32_t i = 0; i < s.count; ++i) end = std::min<int64_t>(end, GetLe(s.Record(i) + EntryDataOffsetAt));
    at = end - number(text.substr(8));
  } else if (!text.empty() && (text[0] < '0' || text[0] > '9')) {
    size_t cut = text.find_first_of(".+");
    std::string name = text.substr(0, cut);
    const uint8_t* record = s.Record(s.IndexOf(name));
    int64_t offset = GetLe(record + EntryDataOffsetAt), stored = GetLe(record + EntryStoredSizeAt);
    std::string rest = cut == std::string::npos ? "" : text.substr(cut);
    if (rest.empty()) at = offset;
    else if (rest[0] == '+') at = offset + number(rest.substr(1));
    else if (rest == ".mid") at = offset + stored / 2;
    else if (rest.rfind(".end-", 0) == 0) at = offset + stored - number(rest.substr(5));
    else Fail("bad position " + text);
  } else {
    at = number(text);
  }
  if (at < 0 || at > size) Fail("position " + text + " outside the file");
  return size_t(at);
}

// Stores INFO again as a compressed record of size bytes: every other entry
// keeps its stored bytes, the program in front stays as it is.
void ReplaceInfo(Subject& s, int32_t size, int32_t textAt = -1, const std::string& text = "") {
  Archive& a = *s.archive;
  int32_t infoIndex = s.IndexOf("INFO");
  Bytes record(size_t(size), 0);
  {
    ResetArchive(a);
    if (OpenSourceArchive(a, s.scratch.c_str()) == InvalidFile) Fail("no directory to rewrite");
    Bytes info(size_t{InstallInfoSize}, 0);
    if (!ExtractEntryToMemory(a, "INFO", info.data(), int32_t(info.size()))) Fail("INFO does not extract");
    std::memcpy(record.data(), info.data(), std::min(record.size(), info.size()));
  }
  if (textAt >= 0) {
    if (size_t(textAt) + text.size() + 1 > record.size()) Fail("text beyond the record");
    std::memcpy(record.data() + textAt, text.c_str(), text.size() + 1);
  }
  int32_t first = int32_t(s.bytes.size());
  for (int32_t i = 0; i < s.count; ++i)
    if (s.Record(i)[EntryStorageAt] != StorageInline) first = std::min(first, GetLe(s.Record(i) + EntryDataOffsetAt));

  std::string out = s.scratch + ".new";
  ArmFailureLatch(a, 1);
  CreateTargetArchive(a, out.c_str());
  AppendTargetBytes(a, s.bytes.data(), first);
  for (int32_t i = 0; i < s.count; ++i) {
    char name[EntryNameSize + 1];
    RecordName(s.Record(i), name);
    if (i == infoIndex)
      StoreMemoryEntry(a, record.data(), size, "INFO", TransferCompress);
    else if (s.Record(i)[EntryStorageAt] == StorageInline)
      StoreInlineEntry(a, name, s.Record(i) + InlineDataAt, int32_t(int8_t(s.Record(i)[EntryLeadByteAt])));
    else
      CopyEntry(a, name, 0);
  }
  CloseArchiveFile(a, a.writer.target);
  CloseArchiveFile(a, a.reader.source);
  if (a.latch.Failed) Fail("rewriting the archive failed");
  s.bytes = ReadAll(out);
  ::unlink(out.c_str());
}

void Apply(Subject& s, const std::string& op) {
  size_t eq = op.find('=');
  if (eq == std::string::npos) Fail("bad operation " + op);
  std::string verb = op.substr(0, eq), arg = op.substr(eq + 1);
  if (verb == "keep") {
    s.bytes.resize(Position(s, arg));
  } else if (verb == "flip") {
    size_t at = Position(s, arg);
    if (at >= s.bytes.size()) Fail("flip past the end");
    s.bytes[at] ^= 0x10;
  } else if (verb == "set") {
    size_t dot = arg.find('.'), is = arg.find('=');
    if (dot == std::string::npos || is == std::string::npos || !s.count) Fail("bad set " + arg);
    uint8_t* record = s.Record(s.IndexOf(arg.substr(0, dot)));
    int32_t field = Field(arg.substr(dot + 1, is - dot - 1));
    int32_t value = int32_t(std::strtoll(arg.c_str() + is + 1, nullptr, 0));
    if (field == EntryLeadByteAt || field == EntryStorageAt) record[field] = uint8_t(value);
    else PutLe(record + field, value);
    s.StoreDirectory(s.count);
  } else if (verb == "records") {
    int32_t n = std::atoi(arg.c_str());
    int32_t old = s.count;
    if (!old || n < 1) Fail("bad records " + arg);
    Bytes last(s.Record(old - 1), s.Record(old - 1) + EntryRecordSize);
    while (s.count < n) {
      s.directory.insert(s.directory.begin(), last.begin(), last.end());
      ++s.count;
    }
    s.Record(0)[EntryLeadByteAt] = uint8_t(n);
    s.StoreDirectory(old);
  } else if (verb == "plain" && arg == "directory") {
    if (!s.count) Fail("no directory");
    std::copy(s.directory.begin(), s.directory.end(), s.bytes.end() - long(s.directory.size()));
    return;
  } else if (verb == "info") {
    ReplaceInfo(s, std::atoi(arg.c_str()));
  } else if (verb == "info-text") {
    size_t is = arg.find('=');
    if (is == std::string::npos) Fail("bad info-text " + arg);
    ReplaceInfo(s, InstallInfoSize, std::atoi(arg.c_str()), arg.substr(is + 1));
  } else {
    Fail("unknown operation " + verb);
  }
  s.Reopen();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: damage INPUT OUTPUT OPERATION...\n");
    return 2;
  }
  Subject s;
  char pattern[] = "/tmp/lumaveil-damage-XXXXXX";
  int fd = mkstemp(pattern);
  if (fd < 0) Fail("no scratch file");
  ::close(fd);
  s.scratch = g_scratch = pattern;
  s.bytes = ReadAll(argv[1]);
  s.Reopen();
  for (int i = 3; i < argc; ++i) Apply(s, argv[i]);
  WriteAll(argv[2], s.bytes);
  ::unlink(s.scratch.c_str());
  return 0;
}
