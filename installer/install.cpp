#include "installer/install.h"

#include <windows.h>

#include "installer/run_state.h"
#include "platform/bytes.h"
#include "system/activation.h"
#include "system/paths.h"
#include "system/post_install.h"
#include "system/text.h"
#include "ui/boxes.h"

inline constexpr int32_t SeriesNameCapacity = 64;

static char s_targetPath[PathCapacity];
static uint8_t s_patchBuffer[PatchLengthMax];

// Windows opens these devices whatever extension follows the base name: the
// first four as they are, the last two with a digit 1 to 9 behind them.
static constexpr char DeviceNames[] = "conprnauxnulcomlpt";

static bool IsDeviceName(const char* name) {
  // Blanks at the end of the base name do not count.
  int32_t n = 0;
  while (name[n] && name[n] != '.') ++n;
  while (n && name[n - 1] == ' ') --n;
  for (int32_t i = 0; i < 6; ++i) {
    // Stops at the name's end, which no device name's letter matches.
    int32_t k = 0;
    while (k < 3 && AsciiLower(name[k]) == DeviceNames[3 * i + k]) ++k;
    if (k == 3 && (i < 4 ? n == 3 : n == 4 && name[3] >= '1' && name[3] <= '9')) return true;
  }
  return false;
}

bool IsPlainFileName(const char* name) {
  if (!name[0]) return false;
  for (const char* p = name; p[0]; ++p)
    if (p[0] == '\\' || p[0] == '/' || p[0] == ':' || (p[0] == '.' && p[1] == '.')) return false;
  return !IsDeviceName(name);
}

bool SaverTargetPath(const char* saverFileName, char* path) {
  int32_t nameLength = TextLength(saverFileName);
  if (nameLength <= 4 || !EqualNoCase(saverFileName + nameLength - 4, ".scr") || !IsPlainFileName(saverFileName))
    return false;
  // WindowsPath gives an empty path when the whole, with room for " /s", does not fit.
  const char* full = WindowsPath(saverFileName);
  int32_t length = TextLength(full);
  if (length < nameLength + 1 || length + PathSuffixRoom >= PathCapacity) return false;
  CopyText(path, full, PathCapacity);
  return true;
}

const char* DocumentFileName(const uint8_t* documentPathField) {
  const char* path = reinterpret_cast<const char*>(documentPathField);
  const char* name = path;
  int32_t length = 0;
  for (; length < DocumentPathSize && path[length]; ++length)
    if (path[length] == '\\') name = path + length + 1;
  if (length == DocumentPathSize) return nullptr;  // not terminated inside its field
  return IsPlainFileName(name) ? name : nullptr;
}

static bool LatchSet() { return g_archive.latch.Failed != 0; }

static void CopyOptionalEntry(const char* name) {
  if (EntryStoredSize(g_archive, name) != -1) CopyEntry(g_archive, name, TransferExpand);
}

static void CopyInstalledEntries() {
  Archive& archive = g_archive;
  CopyEntry(archive, "SAVER", TransferExpand | TransferUnmask);
  CopyEntry(archive, "STUB", TransferExpand);
  CopyEntry(archive, "MOVIE", TransferExpand);
  StoreMemoryEntry(archive, g_installInfo, InstallInfoSize, "INFO", TransferCompress);
  CopyOptionalEntry("VERL");
  CopyOptionalEntry("PSSB");
  CopyOptionalEntry("PREVIEWB");
  if (EntryStoredSize(archive, "PREVIEWF") != -1) {
    // A preview that shares the movie's bytes gets an entry pointing at the copied movie.
    if (EntriesShareData(archive, "MOVIE", "PREVIEWF"))
      AliasTargetEntry(archive, "PREVIEWF", "MOVIE");
    else
      CopyEntry(archive, "PREVIEWF", TransferExpand);
  }
  CopyEntry(archive, "ZETT", TransferExpand);
  CopyEntry(archive, "KMDL", TransferExpand);
  CopyAdditionalEntries("ADDTL");
}

// base followed by n in two decimal digits: the series never reaches 100,
// as the target takes at most 32 entries.
static void FormatSeriesName(char* name, const char* base, int n) {
  int32_t at = CopyText(name, base, SeriesNameCapacity - 12);
  name[at] = char('0' + n / 10);
  name[at + 1] = char('0' + n % 10);
  name[at + 2] = 0;
}

int CopyAdditionalEntries(const char* base) {
  // The series is optional: it ends at its first gap and never fails the installation.
  int failed = g_archive.latch.Failed;
  if (CopyEntry(g_archive, base, 0)) {
    char name[SeriesNameCapacity];
    for (int n = 1;; ++n) {
      FormatSeriesName(name, base, n);
      if (!CopyEntry(g_archive, name, 0)) break;
    }
  }
  g_archive.latch.Failed = failed;
  return 0;
}

// The range whose source, target and length fields start at range.
static_assert(PatchTarget1At == PatchSource1At + 4 && PatchLength1At == PatchSource1At + 8 &&
              PatchTarget2At == PatchSource2At + 4 && PatchLength2At == PatchSource2At + 8);
static void CopyPatchRange(FileHandle installer, FileHandle target, const uint8_t* range) {
  const int32_t from = InfoInt(range, 0), to = InfoInt(range, 4), length = InfoInt(range, 8);
  // Only bytes that were really read are written, and never more than the buffer holds.
  if (length <= 0 || length > PatchLengthMax || !FileSeek(installer, from)) return;
  int32_t got = FileRead(installer, s_patchBuffer, length);
  if (got > 0 && FileSeek(target, to)) FileWrite(target, s_patchBuffer, got);
}

void CopyPatchRanges(FileHandle installer, FileHandle target) {
  const uint8_t* info = g_installInfo;
  if (!InfoInt(info, PatchEnabledAt)) return;
  if (InfoInt(info, PatchTarget1At)) CopyPatchRange(installer, target, info + PatchSource1At);
  CopyPatchRange(installer, target, info + PatchSource2At);
  // The directory that closing the file writes goes behind everything else.
  FileSeekEnd(target);
}

// Extracts "LESMI" into the temporary directory under the document's own
// name; a document that cannot be provided cancels the post-install action
// but not the installation.
static void ProvideDocument() {
  char* path = g_run.DocumentTempPath;
  const char* name = DocumentFileName(g_installInfo + DocumentPathAt);
  path[0] = 0;
  if (name) {
    // Room for the directory, a backslash, the name and the terminating zero.
    int32_t room = int32_t(sizeof g_run.DocumentTempPath) - 2 - TextLength(name);
    if (room > 1) {
      DWORD length = GetTempPathA(DWORD(room), path);
      if (length == 0 || length >= DWORD(room)) path[0] = 0;
    }
  }
  if (!path[0]) {
    g_texts.PostInstallAction = ActionNone;
    return;
  }
  int32_t length = TextLength(path);
  if (path[length - 1] != '\\') path[length++] = '\\';
  CopyText(path + length, name, int32_t(sizeof g_run.DocumentTempPath) - length);
  ExtractEntryToFile(g_archive, "LESMI", path);
  if (LatchSet()) {
    g_texts.PostInstallAction = ActionNone;
    g_archive.latch.Failed = 0;
  }
}

// Everything between reading the settings and closing the source: the new
// file, its activation, the document, the uninstall entry, the finish text.
static void BuildScreensaverFile(FileHandle source) {
  Archive& archive = g_archive;
  HWND displayProperties = CloseDisplayProperties();
  FileHandle target = CreateTargetArchive(archive, s_targetPath);
  if (LatchSet() && displayProperties) {
    // The panel may hold the old file open a moment after it was told to close.
    Sleep(500);
    archive.latch.Failed = 0;
    target = CreateTargetArchive(archive, s_targetPath);
  }
  CopyInstalledEntries();
  if (!LatchSet()) CopyPatchRanges(source, target);
  CloseArchiveFile(archive, target);
  if (LatchSet()) {
    // Only a file this run created is removed: a file that could not be
    // replaced is still the one installed before.
    if (target != InvalidFile) DeleteFileA(s_targetPath);
    return;
  }
  if (!InfoInt(g_installInfo, DoNotActivateAt)) ActivateScreensaver(g_texts.SaverFileName);
  if (g_texts.PostInstallAction == ActionOpenDocument) ProvideDocument();
  RegisterUninstall();
  ShowText(g_texts.FinishText);
}

int InstallScreensaver() {
  Archive& archive = g_archive;
  bool targetUsable = SaverTargetPath(g_texts.SaverFileName, s_targetPath);
  ArmFailureLatch(archive, 1);
  FileHandle source = OpenSourceArchive(archive, nullptr);
  if (source == InvalidFile && archive.reader.OpenStage == StageNoDirectory) {
    ShowText(DamagedInstallerText);
    return 0;
  }
  ExtractEntryToMemory(archive, "INFO", g_installInfo, InstallInfoSize);  // nothing once latched
  // A name that would put the file anywhere but directly in the Windows
  // directory fails the installation before anything is written.
  if (!LatchSet() && !targetUsable) archive.latch.Failed = 1;
  if (!LatchSet()) BuildScreensaverFile(source);
  CloseArchiveFile(archive, source);
  CloseProgressDialog();
  if (LatchSet()) ShowText(g_texts.FailureText);
  g_run.InstallSucceeded = !LatchSet();
  return 0;
}
