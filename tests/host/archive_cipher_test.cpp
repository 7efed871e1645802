// The stream cipher and the enciphered text blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/cipher.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Crypt(const char* key, Bytes data, int encipher) {
  Pc1Cipher cipher{};
  Pc1SetKey(cipher, key);
  Pc1Crypt(cipher, data.data(), int32_t(data.size()), encipher);
  return data;
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

Bytes Pattern() {
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);
  return data;
}

// Reference values worked out apart from this code, round by round.
TEST(Pc1Cipher, EnciphersKnownVectors) {
  EXPECT_EQ(Crypt("WASP", Text("Lumaveil directory"), 1),
            (Bytes{0x9B, 0x2B, 0x09, 0xCD, 0x82, 0x75, 0xAB, 0xB8, 0x33, 0xDC, 0xBB, 0x74, 0x96, 0x71, 0xA3, 0x4F,
                   0x17, 0x6F}));
  EXPECT_EQ(Crypt("WASP", Bytes(16, 0), 1), (Bytes{0xD7, 0x4A, 0x48, 0x8B, 0xB2, 0x85, 0x24, 0x88, 0x42, 0xB3, 0x3B,
                                                   0x77, 0xC4, 0x40, 0xE8, 0x03}));
  EXPECT_EQ(Crypt("ABCDEFGHIJKLMNOP", Text("abc"), 1), (Bytes{0x91, 0xB5, 0xFD}));
  EXPECT_EQ(Crypt("WASP", Crypt("WASP", Text("Lumaveil directory"), 1), 0), Text("Lumaveil directory"));
}

TEST(Pc1Cipher, KeyOfFourCharactersIsPaddedWithZeros) {
  Pc1Cipher cipher;
  std::memset(&cipher, 0xAA, sizeof cipher);
  Pc1SetKey(cipher, "WASP");
  EXPECT_EQ(Bytes(cipher.key, cipher.key + 14), (Bytes{'W', 'A', 'S', 'P', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(cipher.s, 0);
  EXPECT_EQ(cipher.x, 0);
  EXPECT_EQ(Crypt("WASP", Pattern(), 1), Crypt(std::string("WASP\0\0\0\0\0\0", 10).c_str(), Pattern(), 1));
}

TEST(Pc1Cipher, OnlyTheFirstTenKeyCharactersCount) {
  Pc1Cipher cipher{};
  Pc1SetKey(cipher, "ABCDEFGHIJKL");
  EXPECT_EQ(Bytes(cipher.key, cipher.key + 14), (Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 0, 0}));
  Pc1SetKey(cipher, "ABCDEFGHIJKLMNOPQ");  // longer than 13: its first 14 bytes
  EXPECT_EQ(Bytes(cipher.key, cipher.key + 14), Text("ABCDEFGHIJKLMN"));

  Bytes data(64, 0x33);
  EXPECT_EQ(Crypt("ABCDEFGHIJKL", data, 1), Crypt("ABCDEFGHIJ", data, 1));
  EXPECT_EQ(Crypt("ABCDEFGHIJxyzzy", data, 1), Crypt("ABCDEFGHIJ", data, 1));
  EXPECT_NE(Crypt("ABCDEFGHIX", data, 1), Crypt("ABCDEFGHIJ", data, 1));
}

TEST(Pc1Cipher, LengthZeroChangesNothing) {
  Pc1Cipher cipher{};
  Pc1SetKey(cipher, "WASP");
  Bytes head = {1, 2, 3};
  Pc1Crypt(cipher, head.data(), 3, 1);
  Pc1Cipher before = cipher;
  uint8_t byte = 0x77;
  Pc1Crypt(cipher, &byte, 0, 1);
  Pc1Crypt(cipher, &byte, 0, 0);
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(std::memcmp(&before, &cipher, sizeof cipher), 0);
}

TEST(Pc1Cipher, DecipherThenEncipherRestoresAnyData) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    Bytes data(rng() % 1300);
    for (auto& b : data) b = uint8_t(rng());
    const char* key = round % 2 ? "WASP" : "Molt";
    EXPECT_EQ(Crypt(key, Crypt(key, data, 0), 1), data) << data.size();
    EXPECT_EQ(Crypt(key, Crypt(key, data, 1), 0), data) << data.size();
  }
}

TEST(Pc1Cipher, SplitCallsGiveTheSameStream) {
  Bytes data = Pattern();
  for (int encipher = 0; encipher < 2; ++encipher) {
    Bytes whole = Crypt("WASP", data, encipher);
    for (size_t split = 0; split <= data.size(); split += 7) {
      Pc1Cipher cipher{};
      Pc1SetKey(cipher, "WASP");
      Bytes parts = data;
      Pc1Crypt(cipher, parts.data(), int32_t(split), encipher);
      Pc1Crypt(cipher, parts.data() + split, int32_t(data.size() - split), encipher);
      EXPECT_EQ(parts, whole) << split;
    }
  }
}

// --- Text blocks ---

Bytes Block(const Bytes& plain, const char* tag = "AG") {
  Bytes block = {uint8_t(tag[0]), uint8_t(tag[1]), uint8_t(plain.size()), uint8_t(plain.size() >> 8)};
  Bytes text = Crypt(TextBlockKey, plain, 1);
  block.insert(block.end(), text.begin(), text.end());
  return block;
}

struct TextBlocks : testing::Test {
  Pc1Cipher cipher{};
  TextPool pool{};
};

TEST_F(TextBlocks, InstallerBlockDeciphersToTheDisplayPropertiesCommand) {
  const char* command = "Rundll32 Shell32.dll,Control_RunDLL Desk.cpl @0,1";
  ASSERT_EQ(InstallerTextBlocksSize, 4 + 49);
  EXPECT_EQ(Bytes(InstallerTextBlocks, InstallerTextBlocks + 4), (Bytes{'A', 'G', 49, 0}));
  // Stored enciphered, as worked out apart from this code.
  EXPECT_EQ(Bytes(InstallerTextBlocks + 4, InstallerTextBlocks + 8), (Bytes{0xC8, 0x82, 0xDD, 0xBA}));
  EXPECT_EQ(std::string(DecipherTextBlock(cipher, pool, 0)), command);
  EXPECT_EQ(pool.fill, 50);
  EXPECT_EQ(std::string(DecipherTextBlock(cipher, pool, 0)), command);
  EXPECT_EQ(pool.fill, 100);
}

TEST_F(TextBlocks, BadTagGivesEmptyTextAndKeepsTheFill) {
  Bytes area = Block(Text("hello"), "GA");
  pool.fill = 30;
  const char* text = DecipherTextBlockIn(cipher, pool, area.data(), int32_t(area.size()), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(text, pool.text + 30);
  EXPECT_EQ(pool.fill, 30);
  // An offset into the middle of the installer's block has no tag either.
  EXPECT_STREQ(DecipherTextBlock(cipher, pool, 1), "");
  EXPECT_STREQ(DecipherTextBlock(cipher, pool, -4), "");
  EXPECT_STREQ(DecipherTextBlock(cipher, pool, InstallerTextBlocksSize), "");
  EXPECT_EQ(pool.fill, 30);
}

TEST_F(TextBlocks, PoolWrapsWhenTheTextWouldReach2046) {
  Bytes wraps = Block(Bytes(46, 'w'));
  pool.fill = 2000;
  const char* text = DecipherTextBlockIn(cipher, pool, wraps.data(), int32_t(wraps.size()), 0);
  EXPECT_EQ(text, pool.text);
  EXPECT_EQ(std::string(text), std::string(46, 'w'));
  EXPECT_EQ(pool.fill, 47);

  Bytes fits = Block(Bytes(45, 'f'));
  pool.fill = 2000;
  text = DecipherTextBlockIn(cipher, pool, fits.data(), int32_t(fits.size()), 0);
  EXPECT_EQ(text, pool.text + 2000);
  EXPECT_EQ(std::string(text), std::string(45, 'f'));
  EXPECT_EQ(pool.fill, 2046);
  EXPECT_STREQ(DecipherTextBlockIn(cipher, pool, fits.data(), int32_t(fits.size()), 0), std::string(45, 'f').c_str());
  EXPECT_EQ(pool.fill, 46);
}

TEST_F(TextBlocks, BlocksThatCannotFitThePoolOrTheAreaAreRefused) {
  Bytes largest = Block(Bytes(2045, 'L'));
  EXPECT_EQ(std::string(DecipherTextBlockIn(cipher, pool, largest.data(), int32_t(largest.size()), 0)),
            std::string(2045, 'L'));
  EXPECT_EQ(pool.fill, 2046);

  Bytes tooLong = Block(Bytes(2046, 'T'));
  pool.fill = 10;
  EXPECT_STREQ(DecipherTextBlockIn(cipher, pool, tooLong.data(), int32_t(tooLong.size()), 0), "");
  EXPECT_EQ(pool.fill, 10);

  Bytes negative = {'A', 'G', 0xFF, 0xFF, 1, 2, 3};
  EXPECT_STREQ(DecipherTextBlockIn(cipher, pool, negative.data(), int32_t(negative.size()), 0), "");

  Bytes cut = Block(Text("longer than the area"));
  EXPECT_STREQ(DecipherTextBlockIn(cipher, pool, cut.data(), int32_t(cut.size()) - 1, 0), "");
  Bytes shortHeader = {'A', 'G', 0};
  EXPECT_STREQ(DecipherTextBlockIn(cipher, pool, shortHeader.data(), 3, 0), "");
  EXPECT_EQ(pool.fill, 10);
}

TEST_F(TextBlocks, BlocksAfterTheFirstAreFoundByOffset) {
  Bytes area = Block(Text("first"));
  Bytes second = Block(Text("second"));
  area.insert(area.end(), second.begin(), second.end());
  EXPECT_STREQ(DecipherTextBlockIn(cipher, pool, area.data(), int32_t(area.size()), 9), "second");
  EXPECT_STREQ(DecipherTextBlockIn(cipher, pool, area.data(), int32_t(area.size()), 0), "first");
}

}  // namespace
