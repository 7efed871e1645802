// The process starts here, with the program itself still compressed: expand
// it into its place with the codec, then run it. This file, the codec's
// decoder and block stream, the file layer and the memory routines stay
// uncompressed; the link keeps them from calling into the program.
#include "installer/startup.h"

#include <windows.h>

#include "archive/archive.h"
#include "compression/codec.h"
#include "installer/run_state.h"
#include "platform/runtime_win32.h"
#include "ui/boxes.h"

extern "C" {

extern const PackedProgram g_packedProgram;  // placed by installer.ld
extern IMAGE_DOS_HEADER __ImageBase;         // the program's image: its instance handle

namespace {

// The archive's codec is idle until the program runs, and this is its only
// use before then. A stream that does not expand to the program's exact size
// means the file is damaged.
bool ExpandProgram(HINSTANCE instance) {
  const PackedProgram& program = g_packedProgram;
  if (program.packedSize == 0) return true;
  Codec& codec = reinterpret_cast<Archive*>(program.archive)->codec;
  uint8_t* start = reinterpret_cast<uint8_t*>(program.programStart);
  SetStreamEndpoints(codec, reinterpret_cast<const uint8_t*>(program.packed), start, int32_t(program.programSize));
  if (ExpandStream(codec, InvalidFile, InvalidFile, int32_t(program.packedSize)) &&
      StreamTotalWritten(codec) == int32_t(program.programSize)) {
    ConvertCalls(start, program.programSize, false);
    return true;
  }
  // The boxes' look, without the program's help.
  MSGBOXPARAMSA box = {};
  box.cbSize = sizeof box;
  box.hInstance = instance;
  box.lpszText = DamagedInstallerText;
  box.lpszCaption = "";
  box.dwStyle = MB_OK | MB_USERICON;
  box.lpszIcon = MAKEINTRESOURCEA(IconResource);
  MessageBoxIndirectA(&box);
  return false;
}

}  // namespace

// Named by the link (-e).
void RuntimeStart() {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(&__ImageBase);
  int result = 0;
  if (ExpandProgram(instance)) {
    char* arguments = const_cast<char*>(SkipProgramName(GetCommandLineA()));
    auto* winMain = reinterpret_cast<decltype(&WinMain)>(g_packedProgram.winMain);
    result = winMain(instance, nullptr, arguments, SW_SHOWDEFAULT);
  }
  ExitProcess(UINT(result));
}

}  // extern "C"
