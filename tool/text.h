// Text rules of the tool: what the installer's single-byte texts can hold,
// which names Windows accepts as file names, and how stored bytes are shown.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace lumaveil {

// The UTF-8 text of a manifest converted to the installer's single-byte
// (Windows-1252) characters; nullopt with the first code point that has no
// such byte in *bad.
std::optional<std::string> ToSingleByte(std::string_view utf8, char32_t* bad);

// Why name is not a valid Windows file name (one component, no directory),
// or empty when it is valid.
std::string FileNameProblem(std::string_view name);

// A stored text for a terminal: printable ASCII as is, anything else as \xNN.
std::string Printable(std::string_view bytes);

// A stored text as UTF-8 for JSON: each byte stands for the code point of its
// value, so that the JSON writer's ASCII escaping gives \u00NN per byte.
std::string BytesAsCodePoints(std::string_view bytes);

}  // namespace lumaveil
