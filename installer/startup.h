// The installer's entry point and the record that lets it expand the program.
// The installer file holds its program compressed (see installer/installer.ld
// and installer/pack_installer.cpp); the entry point runs before it is
// expanded, so it and everything it calls live apart from the program.
#pragma once
#include <cstdint>

#include "platform/bytes.h"

// Filled by the link and by pack_installer; read only by the entry point.
// Addresses are those of the 32-bit program, so the host's packer reads the
// same layout.
struct PackedProgram {
  uint32_t packedSize;    // bytes of the packed stream; 0: the program is not packed
  uint32_t programStart;  // where the program goes
  uint32_t programSize;   // and its size
  uint32_t packed;        // the packed stream (an RC block stream), at the end of its section
  uint32_t winMain;       // the program's WinMain
  uint32_t archive;       // the program's Archive, still zeroed: its codec does the expanding
};

// Where the packing record lies in the file: the first bytes of the section
// named PackedProgramSection. pack_installer checks the fields it relies on.
inline constexpr char PackedProgramSection[] = ".code";
inline constexpr char UnpackedProgramSection[] = ".unpack";

// Calls (E8 and a 32-bit displacement) are packed with the target's offset in
// the program in place of the displacement: calls to one function then repeat
// the same bytes, which the codec packs far better. Every E8 byte is taken
// for a call, data or not, so the two directions always undo each other.
inline void ConvertCalls(uint8_t* program, uint32_t size, bool toTargets) {
  for (uint32_t i = 0; i + 5 <= size;) {
    if (program[i] != 0xE8) {
      ++i;
      continue;
    }
    const uint32_t next = i + 5;
    const uint32_t value = GetLe32(program + i + 1);
    PutLe32(program + i + 1, toTargets ? value + next : value - next);
    i = next;
  }
}
