// Packs the linked installer: compresses its program section (.unpack) with
// the codec into the end of its resident section (.code), leaving .unpack as
// zeroed memory that the entry point expands the program back into (see
// installer.ld and startup.cpp). Run by the build:
//   pack_installer installer_image.exe installer.exe
// It checks that the image is laid out as the entry point expects, and that
// the packed program expands back to the same bytes, before the output
// appears; on any problem it names it, writes nothing and exits with 1.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "compression/codec.h"
#include "installer/startup.h"
#include "platform/bytes.h"
#include "tool/files.h"

namespace {

using lumaveil::ToolError;

// Offsets in the PE headers.
constexpr uint32_t PeSignature = 0x00004550;  // "PE\0\0"
constexpr int32_t OptionalMagic = 0x10B;      // 32-bit image
constexpr int32_t SectionHeaderSize = 40;
constexpr uint32_t ScnCode = 0x20, ScnInitialized = 0x40, ScnUninitialized = 0x80;
constexpr uint32_t ScnExecute = 0x20000000, ScnRead = 0x40000000, ScnWrite = 0x80000000;

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

struct Section {
  int32_t header;  // offset of its header in the file
  std::string name;
  uint32_t virtualSize, virtualAddress, rawSize, rawOffset;
};

struct Image {
  std::vector<uint8_t> bytes;
  int32_t optional = 0;  // offset of the optional header
  uint32_t imageBase = 0, sectionAlignment = 0, fileAlignment = 0, headersSize = 0;
  std::vector<Section> sections;

  uint32_t Get16(size_t at) const {
    if (at + 2 > bytes.size()) throw ToolError("the image is cut short");
    return GetLe16(bytes.data() + at);
  }
  uint32_t Get32(size_t at) const {
    if (at + 4 > bytes.size()) throw ToolError("the image is cut short");
    return GetLe32(bytes.data() + at);
  }
  void Put32(size_t at, uint32_t value) { PutLe32(bytes.data() + at, value); }
  const Section& Named(const char* name) const {
    for (const Section& section : sections) {
      if (section.name == name) return section;
    }
    throw ToolError(std::string("the image has no section ") + name);
  }
};

Image ReadImage(const std::vector<uint8_t>& bytes) {
  Image image;
  image.bytes = bytes;
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') throw ToolError("not a Windows program");
  const uint32_t pe = image.Get32(0x3C);
  if (pe > bytes.size() || image.Get32(pe) != PeSignature) throw ToolError("not a Windows program");
  const uint32_t sectionCount = image.Get16(pe + 6);
  const uint32_t optionalSize = image.Get16(pe + 20);
  image.optional = int32_t(pe + 24);
  if (image.Get16(image.optional) != OptionalMagic) throw ToolError("not a 32-bit Windows program");
  image.imageBase = image.Get32(image.optional + 28);
  image.sectionAlignment = image.Get32(image.optional + 32);
  image.fileAlignment = image.Get32(image.optional + 36);
  image.headersSize = image.Get32(image.optional + 60);
  if (image.fileAlignment == 0 || image.sectionAlignment == 0) throw ToolError("the image has no alignment");
  const size_t table = image.optional + optionalSize;
  if (table + sectionCount * SectionHeaderSize > image.headersSize || image.headersSize > bytes.size()) {
    throw ToolError("the section table is cut short");
  }
  for (uint32_t i = 0; i < sectionCount; ++i) {
    Section section;
    section.header = int32_t(table + i * SectionHeaderSize);
    const char* name = reinterpret_cast<const char*>(bytes.data() + section.header);
    section.name.assign(name, strnlen(name, 8));
    section.virtualSize = image.Get32(section.header + 8);
    section.virtualAddress = image.Get32(section.header + 12);
    section.rawSize = image.Get32(section.header + 16);
    section.rawOffset = image.Get32(section.header + 20);
    if (uint64_t(section.rawOffset) + section.rawSize > bytes.size()) {
      throw ToolError("section " + section.name + " lies past the end of the file");
    }
    image.sections.push_back(section);
  }
  return image;
}

// The packing record at the start of .code, as the link left it.
PackedProgram ReadRecord(const Image& image, const Section& code) {
  if (code.rawSize < sizeof(PackedProgram)) throw ToolError("section .code has no packing record");
  const size_t at = code.rawOffset;
  PackedProgram record{};
  record.packedSize = image.Get32(at + offsetof(PackedProgram, packedSize));
  record.programStart = image.Get32(at + offsetof(PackedProgram, programStart));
  record.programSize = image.Get32(at + offsetof(PackedProgram, programSize));
  record.packed = image.Get32(at + offsetof(PackedProgram, packed));
  record.winMain = image.Get32(at + offsetof(PackedProgram, winMain));
  record.archive = image.Get32(at + offsetof(PackedProgram, archive));
  const Section& program = image.Named(UnpackedProgramSection);
  if (record.packedSize != 0) throw ToolError("the image is packed already");
  if (record.programStart != image.imageBase + program.virtualAddress || record.programSize > program.virtualSize ||
      record.programSize > program.rawSize) {
    throw ToolError("the packing record does not describe section .unpack");
  }
  const uint32_t programEnd = image.imageBase + program.virtualAddress + program.virtualSize;
  if (record.winMain < record.programStart || record.winMain >= record.programStart + record.programSize ||
      record.archive < record.programStart + record.programSize || record.archive >= programEnd) {
    throw ToolError("the packing record does not name the program's WinMain and its zeroed archive state");
  }
  if (record.packed != image.imageBase + code.virtualAddress + code.virtualSize || code.virtualSize % 4 != 0 ||
      code.virtualSize > code.rawSize) {
    throw ToolError("the packing record does not end section .code");
  }
  return record;
}

// The program must not need anything of .unpack before it is expanded: no
// data directory (imports, resources) may point into it, and the entry point
// lies in .code.
void CheckLayout(const Image& image, const Section& program, const Section& code) {
  const Section& last = image.sections.back();
  if (last.name != PackedProgramSection) throw ToolError("section .code is not the last one");
  const uint32_t entry = image.Get32(image.optional + 16);
  if (entry < code.virtualAddress || entry >= code.virtualAddress + code.virtualSize) {
    throw ToolError("the entry point is not in section .code");
  }
  const uint32_t directories = image.Get32(image.optional + 92);
  for (uint32_t i = 0; i < directories; ++i) {
    const uint32_t rva = image.Get32(image.optional + 96 + 8 * i);
    if (rva >= program.virtualAddress && rva < program.virtualAddress + program.virtualSize) {
      throw ToolError("data directory " + std::to_string(i) + " points into section .unpack");
    }
  }
}

std::vector<uint8_t> Compress(const uint8_t* data, uint32_t size) {
  std::vector<uint8_t> program(data, data + size);
  ConvertCalls(program.data(), size, true);
  auto codec = std::make_unique<Codec>();
  std::vector<uint8_t> packed(static_cast<size_t>(CompressedSizeBound(int32_t(size))));
  SetStreamEndpoints(*codec, program.data(), packed.data(), int32_t(packed.size()));
  if (!CompressStream(*codec, InvalidFile, InvalidFile, int32_t(size), 0)) throw ToolError("compressing failed");
  packed.resize(size_t(StreamTotalWritten(*codec)));
  // The entry point's own steps, run here: the program must come back whole.
  std::vector<uint8_t> back(size);
  SetStreamEndpoints(*codec, packed.data(), back.data(), int32_t(back.size()));
  if (!ExpandStream(*codec, InvalidFile, InvalidFile, int32_t(packed.size())) ||
      StreamTotalWritten(*codec) != int32_t(size)) {
    throw ToolError("the packed program does not expand");
  }
  ConvertCalls(back.data(), size, false);
  if (std::memcmp(back.data(), data, size) != 0) throw ToolError("the packed program does not expand back to itself");
  return packed;
}

std::vector<uint8_t> Pack(const Image& image, uint32_t& programSize, uint32_t& packedSize) {
  const Section& program = image.Named(UnpackedProgramSection);
  const Section& code = image.Named(PackedProgramSection);
  programSize = ReadRecord(image, code).programSize;
  CheckLayout(image, program, code);
  const std::vector<uint8_t> packed = Compress(image.bytes.data() + program.rawOffset, programSize);
  packedSize = uint32_t(packed.size());

  Image out = image;
  out.bytes.assign(image.bytes.begin(), image.bytes.begin() + image.headersSize);
  // Sections in file order, without the program's bytes; .code grows by the stream.
  for (const Section& section : image.sections) {
    const int32_t header = section.header;
    if (section.name == UnpackedProgramSection) {
      out.Put32(header + 16, 0);
      out.Put32(header + 20, 0);
      out.Put32(header + 36, ScnCode | ScnUninitialized | ScnExecute | ScnRead | ScnWrite);
      continue;
    }
    if (section.rawSize == 0) continue;
    const uint32_t offset = AlignUp(uint32_t(out.bytes.size()), image.fileAlignment);
    out.bytes.resize(offset);
    uint32_t contents = section.rawSize;
    if (section.name == PackedProgramSection) {
      contents = section.virtualSize;
      out.bytes.insert(out.bytes.end(), image.bytes.begin() + section.rawOffset,
                       image.bytes.begin() + section.rawOffset + contents);
      out.Put32(offset + offsetof(PackedProgram, packedSize), packedSize);
      out.bytes.insert(out.bytes.end(), packed.begin(), packed.end());
      contents += packedSize;
      out.Put32(header + 8, contents);
      out.Put32(image.optional + 56, AlignUp(section.virtualAddress + contents, image.sectionAlignment));
    } else {
      out.bytes.insert(out.bytes.end(), image.bytes.begin() + section.rawOffset,
                       image.bytes.begin() + section.rawOffset + contents);
    }
    out.Put32(header + 16, AlignUp(contents, image.fileAlignment));
    out.Put32(header + 20, offset);
  }
  out.bytes.resize(AlignUp(uint32_t(out.bytes.size()), image.fileAlignment));
  // The informational totals, from the sections as they are now.
  uint32_t codeSize = 0, initializedSize = 0, uninitializedSize = 0;
  for (const Section& section : image.sections) {
    const uint32_t raw = out.Get32(section.header + 16);
    const uint32_t flags = out.Get32(section.header + 36);
    if (flags & ScnCode) codeSize += raw;
    if (flags & ScnInitialized) initializedSize += raw;
    if (flags & ScnUninitialized) uninitializedSize += AlignUp(out.Get32(section.header + 8), image.fileAlignment);
  }
  out.Put32(image.optional + 4, codeSize);
  out.Put32(image.optional + 8, initializedSize);
  out.Put32(image.optional + 12, uninitializedSize);
  // No symbols, and no checksum to keep right.
  const uint32_t pe = image.Get32(0x3C);
  out.Put32(pe + 12, 0);
  out.Put32(pe + 16, 0);
  out.Put32(image.optional + 64, 0);
  return out.bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pack_installer IMAGE OUTPUT\n");
    return 2;
  }
  try {
    const Image image = ReadImage(lumaveil::ReadWholeFile(argv[1]));
    uint32_t programSize = 0, packedSize = 0;
    const std::vector<uint8_t> packed = Pack(image, programSize, packedSize);
    lumaveil::OutputFile output(argv[2]);
    output.Open();
    output.Write(packed.data(), packed.size());
    output.Close();
    output.Commit();
    std::printf("%s: %zu bytes (program of %u bytes packed to %u)\n", argv[2], packed.size(), programSize,
                packedSize);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pack_installer: %s: %s\n", argv[1], error.what());
    return 1;
  }
  return 0;
}
