// Reading Aurora's own payload archive. The installer wrote the archive behind
// the program: "MOVIE" holds the palette, "ZETT" the default settings, "KMDL"
// the credits. Each is plain text, so the example doubles as a guide to
// building a payload by hand.
#include "archive/archive.h"
#include "aurora.h"

namespace {

// The archive state holds a whole codec; it is far too big for the stack.
Archive g_archive;

constexpr Palette BuiltInPalette = {
    {2, 4, 16},
    {12, 30, 60},
    {{40, 226, 150}, {30, 180, 200}, {120, 90, 255}, {214, 92, 168}},
    4,
};

constexpr char BuiltInCredits[] =
    "Aurora, the Lumaveil example screensaver.\r\n"
    "No payload found: the colours are built in.";

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Compares the word at p with word, ignoring ASCII case; on a match returns
// the text after it, else null.
const char* TakeWord(const char* p, const char* word) {
  for (; *word; ++p, ++word) {
    char c = *p;
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != *word) return nullptr;
  }
  return (*p == ' ' || *p == '\t' || *p == '=' || *p == '\r' || *p == '\n' || *p == 0) ? p : nullptr;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "RRGGBB", optionally after a '#'.
bool ParseColour(const char* p, Rgb& colour) {
  p = SkipBlanks(p);
  if (*p == '#') ++p;
  int v[6];
  for (int i = 0; i < 6; ++i)
    if ((v[i] = HexDigit(p[i])) < 0) return false;
  colour = {v[0] * 16 + v[1], v[2] * 16 + v[3], v[4] * 16 + v[5]};
  return true;
}

const char* NextLine(const char* p) {
  while (*p && *p != '\n') ++p;
  return *p ? p + 1 : p;
}

// Reads a regular entry of at most capacity - 1 bytes as a NUL-terminated text.
bool ReadTextEntry(const char* name, char* text, int32_t capacity) {
  int32_t size = EntryOriginalSize(g_archive, name);
  if (size < 0 || size >= capacity) return false;
  if (!ExtractEntryToMemory(g_archive, name, reinterpret_cast<uint8_t*>(text), size)) return false;
  text[size] = 0;
  return true;
}

}  // namespace

bool ParsePalette(const char* text, Palette& palette) {
  Palette read = BuiltInPalette;
  read.bandCount = 0;
  for (const char* line = text; *line; line = NextLine(line)) {
    const char* p = SkipBlanks(line);
    const char* rest;
    Rgb colour;
    if ((rest = TakeWord(p, "sky")) && ParseColour(rest, colour)) {
      read.sky = colour;
    } else if ((rest = TakeWord(p, "horizon")) && ParseColour(rest, colour)) {
      read.horizon = colour;
    } else if ((rest = TakeWord(p, "band")) && ParseColour(rest, colour) && read.bandCount < MaxBands) {
      read.band[read.bandCount++] = colour;
    }
  }
  if (read.bandCount == 0) return false;
  palette = read;
  return true;
}

void ParseDefaults(const char* text, Settings& settings) {
  for (const char* line = text; *line; line = NextLine(line)) {
    const char* p = SkipBlanks(line);
    const char* rest;
    if ((rest = TakeWord(p, "motion"))) {
      rest = SkipBlanks(rest);
      if (*rest == '=') rest = SkipBlanks(rest + 1);
      if (TakeWord(rest, "lively")) settings.motion = Motion::Lively;
      if (TakeWord(rest, "calm")) settings.motion = Motion::Calm;
    } else if ((rest = TakeWord(p, "stars"))) {
      rest = SkipBlanks(rest);
      if (*rest == '=') rest = SkipBlanks(rest + 1);
      if (TakeWord(rest, "yes") || TakeWord(rest, "on")) settings.stars = true;
      if (TakeWord(rest, "no") || TakeWord(rest, "off")) settings.stars = false;
    }
  }
}

void LoadPayload(Payload& payload) {
  payload.palette = BuiltInPalette;
  payload.paletteFromArchive = false;
  payload.defaults = {Motion::Calm, true};
  lstrcpynA(payload.credits, BuiltInCredits, sizeof payload.credits);

  ResetArchive(g_archive);
  FileHandle self = OpenSourceArchive(g_archive, nullptr);
  if (self == InvalidFile) return;  // a bare build: no archive behind the program

  static char text[8192];
  if (ReadTextEntry("MOVIE", text, sizeof text)) payload.paletteFromArchive = ParsePalette(text, payload.palette);
  if (ReadTextEntry("ZETT", text, sizeof text)) ParseDefaults(text, payload.defaults);
  if (ReadTextEntry("KMDL", payload.credits, sizeof payload.credits) == false)
    lstrcpynA(payload.credits, BuiltInCredits, sizeof payload.credits);
  CloseArchiveFile(g_archive, self);
}
