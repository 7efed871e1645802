// The byte stream cipher of the archive directory and of the installer's
// enciphered text blocks. constexpr so that the text block is enciphered by
// the compiler, not checked in as an opaque blob.
#pragma once
#include <cstdint>

struct Pc1Cipher {
  uint8_t key[14];  // only key[0..9] take part
  uint16_t s, x;
};

constexpr void Pc1SetKey(Pc1Cipher& cipher, const char* keyText) {
  cipher.s = 0;
  cipher.x = 0;
  // The first 14 bytes of the text, zero-padded; written without a length
  // loop, which compilers turn into a call of strlen.
  for (int i = 0; i < 14; ++i) cipher.key[i] = 0;
  for (int i = 0; i < 14 && keyText[i]; ++i) cipher.key[i] = uint8_t(keyText[i]);
}

// One keystream byte from the current state (advances S and X).
constexpr uint8_t Pc1KeystreamByte(Pc1Cipher& cipher) {
  uint16_t chain = 0, v = 0;
  for (int i = 0; i < 5; ++i) {
    chain = uint16_t(chain ^ uint16_t(cipher.key[2 * i] * 256 + cipher.key[2 * i + 1]));
    uint16_t t1 = uint16_t(uint16_t(cipher.x + i) * 20021u);
    uint16_t t2 = uint16_t(chain * 346u);
    cipher.x = uint16_t(cipher.s + t1 + t2);
    cipher.s = t2;
    chain = uint16_t(chain * 20021u + 1u);
    v = uint16_t(v ^ cipher.x ^ chain);
  }
  return uint8_t((v >> 8) ^ (v & 0xFF));
}

// Enciphers (encipher nonzero) or deciphers length bytes in place, going on
// from the current state. The key is folded with every plain byte.
constexpr void Pc1Crypt(Pc1Cipher& cipher, uint8_t* buffer, int32_t length, int encipher) {
  for (int32_t n = 0; n < length; ++n) {
    uint8_t k = Pc1KeystreamByte(cipher);
    uint8_t plain = encipher ? buffer[n] : uint8_t(buffer[n] ^ k);
    for (int i = 0; i < 10; ++i) cipher.key[i] ^= plain;
    buffer[n] = encipher ? uint8_t(plain ^ k) : plain;
  }
}

// Deciphered texts live here until the pool wraps.
struct TextPool {
  char text[2048];
  int32_t fill;
};

inline constexpr char TextBlockKey[] = "Molt";
inline constexpr char DirectoryKey[] = "WASP";

// The installer's text-block area: one block at offset 0, the command that
// opens the Display Properties control panel.
extern const uint8_t InstallerTextBlocks[];
extern const int32_t InstallerTextBlocksSize;

// Plain text of the block at offset within InstallerTextBlocks, placed in the
// pool. Empty for a bad tag, a negative length or one that does not fit the pool.
const char* DecipherTextBlock(Pc1Cipher& cipher, TextPool& pool, int32_t offset);
// The same over any text-block area of size bytes; nothing outside it is read.
const char* DecipherTextBlockIn(Pc1Cipher& cipher, TextPool& pool, const uint8_t* area, int32_t size,
                                int32_t offset);
