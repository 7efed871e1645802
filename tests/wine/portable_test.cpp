// The portable core compiled for Windows and run under Wine: cipher and codec
// round trips through real Win32 files.
#include <windows.h>

#include <cstring>

#include "archive/cipher.h"
#include "compression/codec.h"
#include "tests/wine/check.h"

static Codec g_codec;

int main() {
  // The installer's text block deciphers to the Display Properties command.
  static Pc1Cipher cipher;
  static TextPool pool;
  const char* command = DecipherTextBlock(cipher, pool, 0);
  CHECK(std::strcmp(command, "Rundll32 Shell32.dll,Control_RunDLL Desk.cpl @0,1") == 0);

  // Compress a buffer into a file, expand it back into memory.
  static uint8_t data[50000], back[50000];
  for (int i = 0; i < 50000; ++i) data[i] = uint8_t((i * 7) ^ (i >> 5));
  char dir[MAX_PATH], path[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  wsprintfA(path, "%slv_portable_%lu.rc", dir, GetCurrentProcessId());

  FileHandle out = FileCreate(path);
  CHECK(out != InvalidFile);
  SetStreamEndpoints(g_codec, data, nullptr, 0);
  CHECK_EQ(CompressStream(g_codec, InvalidFile, out, 50000, 0), 1);
  int32_t stored = StreamTotalWritten(g_codec);
  FileClose(out);

  FileHandle in = FileOpenRead(path);
  CHECK(in != InvalidFile);
  CHECK_EQ(int32_t(FileSize(in)), stored);
  SetStreamEndpoints(g_codec, nullptr, back, sizeof back);
  CHECK_EQ(ExpandStream(g_codec, in, InvalidFile, stored), 1);
  CHECK_EQ(StreamTotalWritten(g_codec), 50000);
  CHECK(std::memcmp(data, back, sizeof data) == 0);
  FileClose(in);
  FileDelete(path);
  return CheckSummary("portable_test");
}
