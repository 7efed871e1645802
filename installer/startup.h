// The installer's entry point and the record that lets it expand the program.
// The installer file holds its program compressed (see installer/installer.ld
// and installer/pack_installer.cpp); the entry point runs before it is
// expanded, so it and everything it calls lives apart from the program.
#pragma once
#include <cstdint>

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
