// The payload archive over real Win32 files: a target written, read back as
// a source, copied, extracted (removing what a failed extraction wrote),
// checked against the null device, and the settings loaded from it.
#include <windows.h>

#include <cstring>

#include "archive/archive.h"
#include "installer/settings.h"
#include "tests/wine/check.h"

static Archive g_writer, g_reader;
static uint8_t g_saver[40000], g_info[InstallInfoSize], g_back[40000];

static void TempPath(char* path, const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  wsprintfA(path, "%slv_archive_%lu_%s", dir, GetCurrentProcessId(), name);
}

static bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

static int32_t ReadWhole(const char* path, uint8_t* buffer, int32_t room) {
  FileHandle file = FileOpenRead(path);
  if (file == InvalidFile) return -1;
  int32_t got = FileRead(file, buffer, room);
  FileClose(file);
  return got;
}

int main() {
  char source[MAX_PATH], copy[MAX_PATH], extracted[MAX_PATH];
  TempPath(source, "source.exe");
  TempPath(copy, "copy.scr");
  TempPath(extracted, "readme.txt");
  for (int32_t i = 0; i < 40000; ++i) g_saver[i] = uint8_t((i * 13) ^ (i >> 7));
  std::memcpy(g_info + SaverNameAt, "Wine", 4);
  g_info[TextPresentAt] = 1;
  std::memcpy(g_info + QuestionTextAt, "Install?", 8);

  // The source: a stub, INFO compressed, SAVER masked, a compressed copy of
  // SAVER shared by an alias, an inline document.
  ResetArchive(g_writer);
  ArmFailureLatch(g_writer, 1);
  CHECK(CreateTargetArchive(g_writer, source) != InvalidFile);
  CHECK(AppendTargetBytes(g_writer, g_saver, 512));
  CHECK(StoreMemoryEntry(g_writer, g_info, InstallInfoSize, "INFO", TransferCompress));
  CHECK(StoreMemoryEntry(g_writer, g_saver, 40000, "SAVER", 0x5A));
  CHECK(StoreMemoryEntry(g_writer, g_saver, 40000, "MOVIE", TransferCompress));
  CHECK(AliasTargetEntry(g_writer, "PREVIEWF", "MOVIE"));
  CHECK(StoreInlineEntry(g_writer, "LESMI", reinterpret_cast<const uint8_t*>("read me"), 7));
  CloseArchiveFile(g_writer, g_writer.writer.target);
  CHECK_EQ(g_writer.latch.Failed, 0);

  ResetArchive(g_reader);
  ArmFailureLatch(g_reader, 1);
  FileHandle opened = OpenSourceArchive(g_reader, source);
  CHECK(opened != InvalidFile);
  CHECK_EQ(g_reader.reader.SourceCount, 5);
  CHECK(EntriesShareData(g_reader, "movie", "PREVIEWF"));
  CHECK_EQ(EntryStoredSize(g_reader, "SAVER"), 40000);

  // Copied expanded and unmasked, read back as content.
  CHECK(CreateTargetArchive(g_reader, copy) != InvalidFile);
  CHECK(CopyEntry(g_reader, "SAVER", TransferExpand | TransferUnmask));
  CHECK(CopyEntry(g_reader, "MOVIE", TransferExpand));
  CHECK(CopyEntry(g_reader, "PREVIEWF", 0));
  CloseArchiveFile(g_reader, g_reader.writer.target);
  CHECK_EQ(g_reader.latch.Failed, 0);

  static Archive copied;
  ResetArchive(copied);
  CHECK(OpenSourceArchive(copied, copy) != InvalidFile);
  CHECK_EQ(copied.reader.SourceCount, 3);
  CHECK(ExtractEntryToMemory(copied, "SAVER", g_back, 40000));
  CHECK(std::memcmp(g_back, g_saver, 40000) == 0);
  CHECK(ExtractEntryToMemory(copied, "PREVIEWF", g_back, 40000));
  CHECK(std::memcmp(g_back, g_saver, 40000) == 0);
  for (int32_t i = 0; i < copied.reader.SourceCount; ++i)
    CHECK(CheckEntry(copied, SourceEntry(copied, i)).problem == EntryProblem::None);
  CloseArchiveFile(copied, copied.reader.source);

  // Extraction into files, regular and inline.
  CHECK(ExtractEntryToFile(g_reader, "MOVIE", extracted));
  CHECK_EQ(ReadWhole(extracted, g_back, 40000), 40000);
  CHECK(std::memcmp(g_back, g_saver, 40000) == 0);
  CHECK(ExtractEntryToFile(g_reader, "LESMI", extracted));
  CHECK_EQ(ReadWhole(extracted, g_back, 100), 7);
  CHECK(std::memcmp(g_back, "read me", 7) == 0);
  EntryCheck check = CheckEntry(g_reader, FindEntry(g_reader, "MOVIE", FindRegular));
  CHECK(check.problem == EntryProblem::None);
  CHECK_EQ(check.expandedSize, 40000);

  // A damaged last block: the partly written file is removed again.
  const uint8_t* movie = FindEntry(g_reader, "MOVIE", FindRegular);
  int32_t end = RecordInt(movie, EntryDataOffsetAt) + RecordInt(movie, EntryStoredSizeAt);
  CloseArchiveFile(g_reader, g_reader.reader.source);
  HANDLE file = CreateFileA(source, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  CHECK(file != INVALID_HANDLE_VALUE);
  uint8_t byte = 0;
  DWORD moved = 0;
  SetFilePointer(file, end - 2, nullptr, FILE_BEGIN);
  ReadFile(file, &byte, 1, &moved, nullptr);
  byte ^= 0xFF;
  SetFilePointer(file, end - 2, nullptr, FILE_BEGIN);
  WriteFile(file, &byte, 1, &moved, nullptr);
  CloseHandle(file);
  DeleteFileA(extracted);
  CHECK(OpenSourceArchive(g_reader, source) != InvalidFile);
  CHECK(!ExtractEntryToFile(g_reader, "MOVIE", extracted));
  CHECK(!FileExists(extracted));
  CHECK_EQ(g_reader.latch.Failed, 0x7FFF);
  CHECK(CheckEntry(g_reader, FindEntry(g_reader, "MOVIE", FindRegular)).problem == EntryProblem::BadBlock);
  CloseArchiveFile(g_reader, g_reader.reader.source);

  // The settings come from the same file; the running program holds no archive.
  static InstallerTexts texts;
  static TextPool pool;
  static uint8_t info[InstallInfoSize];
  static Archive settings;
  ResetArchive(settings);
  ResetInstallerTexts(texts);
  LoadInstallerSettings(settings, source, info, texts, pool);
  CHECK(std::strcmp(texts.SaverFileName, "Wine.scr") == 0);
  CHECK(std::strcmp(texts.QuestionText, "Install?") == 0);
  CHECK(std::strcmp(texts.DisplayPropertiesCommand, "Rundll32 Shell32.dll,Control_RunDLL Desk.cpl @0,1") == 0);
  CHECK(OpenSourceArchive(settings, nullptr) == InvalidFile);
  CHECK_EQ(settings.reader.OpenStage, StageNoDirectory);

  DeleteFileA(source);
  DeleteFileA(copy);
  DeleteFileA(extracted);
  return CheckSummary("archive_files_test");
}
