// Seed masks and the seed hash of the hash mapper.
//
// A seed mask is the parsed form of a mask string such as
// "##-###-###-###-###-##": '#' marks a position that must match, '-' one that
// is ignored. Packed bases hold 2-bit codes (A 0, C 1, G 2, T 3), four per
// byte, the base at position i in bits 2 (i mod 4) of byte i / 4. The seed
// value at position p is the sum over every '#' position i of
// c(p + i) 4^i, where c is the base code, or for a colour mask the colour
// code(p + i) XOR code(p + i + 1) (a colour seed of n characters spans n + 1
// bases). The seed hash is the XOR of the 32-bit words of the product of
// that value and 0x9E3779B9: its low 24 bits pick an index bucket, its top
// byte is the check byte kept with each index entry.
//
// The hash is computed from whole 32-bit words of the packed bases: the
// mask is kept in four phase copies, copy k shifted 2k bits up for seeds at
// positions p with p mod 4 = k, and a multiply-with-carry chain over the
// masked words gives the product's words shifted by the same 2k bits, which
// a final rotation cancels. Every phase therefore gives the same hash for
// the same seed, which lets a query seed at any offset meet the same seed
// at any block position. The hash reads 4 bytes per mask word from byte
// p / 4 on (one byte more for a colour mask), so packed buffers carry spare
// bytes past their last base.
//
// A mask is created by seed_mask_parse and freed by seed_mask_free; it is
// only read afterwards and may be shared by any number of threads.
#pragma once

#include <cstdint>
#include <cstring>

// Words of one phase copy and of all four copies; a copy ends at its first
// terminator word.
constexpr int32_t kSeedMaskCopyWords = 8;
constexpr int32_t kSeedMaskWords = 4 * kSeedMaskCopyWords;
// The terminator holds only the bit pair 01, mask words only 00 and 11, so
// no mask word equals it.
constexpr uint32_t kSeedMaskTerminator = 0x55555555u;
// Longest mask string: six words of 16 characters, so that every phase copy
// (one word longer at most) fits before its terminator.
constexpr int32_t kSeedMaskMaxLength = 96;
// Multiplier of the seed hash.
constexpr uint32_t kSeedHashMultiplier = 0x9E3779B9u;

struct seed_mask_t {
  uint32_t *words;  // kSeedMaskWords: copy k at words + 8k
  int32_t length;   // characters of the mask string: the seed's span in positions
  int32_t colour;   // 1: the seed is read in colour space
};

// Parses a mask string into a new mask with colour flag 0. A character
// other than '#' and '-' prints "masks should contain only '#' and '-'\n"
// and the string with a line end on standard error; a string longer than
// 96 characters or without any '#' prints its own message there; all end
// the process with status 1.
seed_mask_t *seed_mask_parse(const char *mask);
// Frees the words and the record (null allowed); returns null.
seed_mask_t *seed_mask_free(seed_mask_t *mask);

// 32-bit little-endian word at any address.
inline uint32_t seed_load_u32(const uint8_t *p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Seed hash of the packed bases at position p under mask words (all four
// copies) in nucleotide or colour space.
inline uint32_t seed_hash(const uint8_t *packed, uint32_t p, const uint32_t *mask_words, int32_t colour) {
  const uint32_t k = p & 3;
  const uint8_t *at = packed + p / 4;
  const uint32_t *m = mask_words + kSeedMaskCopyWords * k;
  uint32_t h = 0, carry = 0;
  for (; *m != kSeedMaskTerminator; m++, at += 4) {
    uint32_t w = seed_load_u32(at);
    // The colour of base x (its code XOR the next base's) into x's slot.
    if (colour) w = ((w >> 2) | (seed_load_u32(at + 1) << 6)) ^ w;
    uint64_t product = static_cast<uint64_t>(w & *m) * kSeedHashMultiplier + carry;
    h ^= static_cast<uint32_t>(product);
    carry = static_cast<uint32_t>(product >> 32);
  }
  h ^= carry;
  const uint32_t r = 2 * k;
  return r == 0 ? h : (h >> r) | (h << (32 - r));
}

// Bucket (low 24 bits) and check byte (top 8 bits) of a seed hash.
inline uint32_t seed_hash_bucket(uint32_t h) { return h & 0xFFFFFFu; }
inline uint8_t seed_hash_check(uint32_t h) { return static_cast<uint8_t>(h >> 24); }
