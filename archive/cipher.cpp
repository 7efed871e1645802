#include "archive/cipher.h"

namespace {

constexpr char DisplayPropertiesText[] = "Rundll32 Shell32.dll,Control_RunDLL Desk.cpl @0,1";
constexpr int32_t DisplayPropertiesLength = sizeof DisplayPropertiesText - 1;

struct TextBlockArea {
  uint8_t bytes[4 + DisplayPropertiesLength];
};

// Tag "AG", signed 16-bit length, then the text enciphered under "Molt".
constexpr TextBlockArea EncipherTextBlocks() {
  TextBlockArea area{};
  area.bytes[0] = 'A';
  area.bytes[1] = 'G';
  area.bytes[2] = uint8_t(DisplayPropertiesLength & 0xFF);
  area.bytes[3] = uint8_t(DisplayPropertiesLength >> 8);
  for (int32_t i = 0; i < DisplayPropertiesLength; ++i) area.bytes[4 + i] = uint8_t(DisplayPropertiesText[i]);
  Pc1Cipher cipher{};
  Pc1SetKey(cipher, TextBlockKey);
  Pc1Crypt(cipher, area.bytes + 4, DisplayPropertiesLength, 1);
  return area;
}

constexpr TextBlockArea TextBlocks = EncipherTextBlocks();

}  // namespace

const uint8_t InstallerTextBlocks[] = {
#define B(i) TextBlocks.bytes[i]
    B(0),  B(1),  B(2),  B(3),  B(4),  B(5),  B(6),  B(7),  B(8),  B(9),  B(10), B(11), B(12),
    B(13), B(14), B(15), B(16), B(17), B(18), B(19), B(20), B(21), B(22), B(23), B(24), B(25),
    B(26), B(27), B(28), B(29), B(30), B(31), B(32), B(33), B(34), B(35), B(36), B(37), B(38),
    B(39), B(40), B(41), B(42), B(43), B(44), B(45), B(46), B(47), B(48), B(49), B(50), B(51),
    B(52),
#undef B
};
const int32_t InstallerTextBlocksSize = sizeof InstallerTextBlocks;
static_assert(sizeof InstallerTextBlocks == sizeof TextBlocks.bytes);

const char* DecipherTextBlock(Pc1Cipher& cipher, TextPool& pool, int32_t offset) {
  return DecipherTextBlockIn(cipher, pool, InstallerTextBlocks, InstallerTextBlocksSize, offset);
}

const char* DecipherTextBlockIn(Pc1Cipher& cipher, TextPool& pool, const uint8_t* area, int32_t size,
                                int32_t offset) {
  if (pool.fill < 0 || pool.fill > int32_t(sizeof pool.text) - 2) pool.fill = 0;  // never point outside the pool
  char* empty = pool.text + pool.fill;
  *empty = 0;
  if (offset < 0 || offset > size - 4) return empty;
  const uint8_t* block = area + offset;
  if (block[0] != 'A' || block[1] != 'G') return empty;
  int32_t length = int16_t(uint16_t(block[2] | (block[3] << 8)));
  // Blocks that could never fit the pool, or that run past the area, are refused.
  if (length < 0 || length > int32_t(sizeof pool.text) - 3 || length > size - 4 - offset) return empty;
  if (uint32_t(pool.fill) + uint32_t(length) >= sizeof pool.text - 2) pool.fill = 0;
  char* text = pool.text + pool.fill;
  pool.fill += length + 1;
  for (int32_t i = 0; i < length; ++i) text[i] = char(block[4 + i]);
  Pc1SetKey(cipher, TextBlockKey);
  Pc1Crypt(cipher, reinterpret_cast<uint8_t*>(text), length, 0);
  text[length] = 0;
  return text;
}
