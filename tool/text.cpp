#include "tool/text.h"

#include <fmt/format.h>

#include <array>
#include <cstdint>

namespace lumaveil {

namespace {
// Windows-1252 bytes 0x80..0x9F; 0 where the code page has no character.
constexpr std::array<char16_t, 32> HighControlRange = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Next code point of valid UTF-8 (toml++ hands over nothing else); an
// invalid lead byte comes back as U+FFFD.
char32_t NextCodePoint(std::string_view text, size_t& at) {
  auto byte = [&](size_t i) { return uint8_t(i < text.size() ? text[i] : 0); };
  uint8_t lead = byte(at);
  int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0) {
    ++at;
    return 0xFFFD;
  }
  char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) cp = (cp << 6) | (byte(at + i) & 0x3F);
  at += size_t(extra) + 1;
  return cp;
}
}  // namespace

std::optional<std::string> ToSingleByte(std::string_view utf8, char32_t* bad) {
  std::string out;
  for (size_t at = 0; at < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, at);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += char(cp);
      continue;
    }
    int found = -1;
    for (int i = 0; i < 32; ++i)
      if (HighControlRange[i] && HighControlRange[i] == cp) found = i;
    if (found < 0) {
      if (bad) *bad = cp;
      return std::nullopt;
    }
    out += char(0x80 + found);
  }
  return out;
}

std::string FileNameProblem(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name == "." || name == "..") return "would leave the target directory";
  for (char c : name) {
    if (uint8_t(c) < 0x20) return "contains a control character";
    if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) {
      if (c == '/' || c == '\\') return fmt::format("contains the path separator '{}'", c);
      return fmt::format("contains '{}', which Windows does not allow in file names", c);
    }
  }
  if (name.back() == '.' || name.back() == ' ') return "ends in a dot or a space, which Windows drops";
  // Device names are reserved with any extension and any letter case.
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  static constexpr std::string_view devices[] = {"CON", "PRN", "AUX", "NUL"};
  bool reserved = false;
  for (auto d : devices) reserved |= base == d;
  if (base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '0' && base[3] <= '9')
    reserved = true;
  if (reserved) return fmt::format("is the reserved device name {}", base);
  return {};
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (uint8_t(c) >= 0x20 && uint8_t(c) < 0x7F)
      out += c;
    else
      out += fmt::format("\\x{:02X}", uint8_t(c));
  }
  return out;
}

std::string BytesAsCodePoints(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    auto b = uint8_t(c);
    if (b < 0x80) {
      out += char(b);
    } else {
      out += char(0xC0 | (b >> 6));
      out += char(0x80 | (b & 0x3F));
    }
  }
  return out;
}

}  // namespace lumaveil
