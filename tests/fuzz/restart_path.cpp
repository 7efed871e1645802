// Fuzz path over the restart file's text edit: any existing content, any
// path of the file to delete.
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/text.h"
#include "tests/fuzz/fuzz_paths.h"

namespace fuzzpaths {

const char* EditAnyRestartFile(const uint8_t* data, size_t size) {
  // Bytes before the first NUL name the file to delete; the rest is the
  // file's content. Without a NUL, all of it is content.
  const char* existing = "C:\\WINDOWS\\TEMP\\readme.txt";
  char path[RenameLineCapacity + 1];
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  if (zero) {
    size_t length = size_t(zero - data) < RenameLineCapacity ? size_t(zero - data) : RenameLineCapacity;
    std::memcpy(path, data, length);
    path[length] = 0;
    existing = path;
    size -= size_t(zero - data) + 1;
    data = zero + 1;
  }
  if (size > (1u << 20)) return nullptr;

  char line[RenameLineCapacity];
  int32_t lineLength = FormatRenameLine(line, "NUL", existing);
  if (lineLength < 0 || lineLength >= RenameLineCapacity) return "the rename line overflows its buffer";
  if (lineLength == 0) return line[0] ? "a line that did not fit is not empty" : nullptr;

  // Exactly the room the caller promises; the sanitizer watches its end.
  int32_t oldSize = int32_t(size);
  size_t room = size + RenameHeaderLength + size_t(lineLength);
  char* content = static_cast<char*>(std::calloc(room, 1));
  if (size) std::memcpy(content, data, size);
  int32_t newSize = AddRenameLine(content, oldSize, line, lineLength);
  const char* broken = nullptr;
  if (newSize < oldSize || size_t(newSize) > room) broken = "the new size is outside the room";

  // Where the old content is plain text, the line now stands in the section,
  // and adding it once more changes nothing. (The edited content fills its
  // room exactly, so it is read back through a terminated copy.)
  if (!broken && !std::memchr(data, 0, size)) {
    std::string edited(content, size_t(newSize));
    int32_t header = FindTextNoCase(edited.c_str(), RenameHeader);
    if (header == 0 || FindTextNoCase(edited.c_str() + header - 1, line) == 0) {
      broken = "the line is not in the section";
    } else {
      size_t again = size_t(newSize) + RenameHeaderLength + size_t(lineLength);
      char* second = static_cast<char*>(std::calloc(again, 1));
      std::memcpy(second, content, size_t(newSize));
      if (AddRenameLine(second, newSize, line, lineLength) != newSize ||
          std::memcmp(second, content, size_t(newSize)) != 0)
        broken = "adding the same line twice changed the file";
      std::free(second);
    }
  }
  std::free(content);
  return broken;
}

}  // namespace fuzzpaths
