// Seed masks and the seed hash: parsed words and phase copies, the parse
// failures, and the word-wise hash against a big-number model of the seed
// value's product at every phase, in nucleotide and colour space.
#include "refmap/seed_mask.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// The words of copy k up to its terminator.
std::vector<uint32_t> copy_words(const seed_mask_t *mask, int k) {
  std::vector<uint32_t> out;
  for (int j = 0; j < kSeedMaskCopyWords && mask->words[8 * k + j] != kSeedMaskTerminator; j++) {
    out.push_back(mask->words[8 * k + j]);
  }
  return out;
}

TEST(SeedMask, ParsesWordsAndPhaseCopies) {
  seed_mask_t *mask = seed_mask_parse("##-##");
  EXPECT_EQ(mask->length, 5);
  EXPECT_EQ(mask->colour, 0);
  EXPECT_EQ(copy_words(mask, 0), std::vector<uint32_t>{0x3CFu});
  EXPECT_EQ(copy_words(mask, 1), std::vector<uint32_t>{0xF3Cu});
  EXPECT_EQ(copy_words(mask, 2), std::vector<uint32_t>{0x3CF0u});
  EXPECT_EQ(copy_words(mask, 3), std::vector<uint32_t>{0xF3C0u});
  seed_mask_free(mask);

  // Sixteen '#' fill one word; shifted copies carry into a second one.
  mask = seed_mask_parse("################");
  EXPECT_EQ(copy_words(mask, 0), std::vector<uint32_t>{0xFFFFFFFFu});
  EXPECT_EQ(copy_words(mask, 1), (std::vector<uint32_t>{0xFFFFFFFCu, 0x3u}));
  EXPECT_EQ(copy_words(mask, 3), (std::vector<uint32_t>{0xFFFFFFC0u, 0x3Fu}));
  seed_mask_free(mask);

  // A full word of '-' is kept (it separates cares); a last partial word of
  // '-' only is not.
  mask = seed_mask_parse("#---------------#");
  EXPECT_EQ(copy_words(mask, 0), (std::vector<uint32_t>{0x3u, 0x3u}));
  seed_mask_free(mask);
  mask = seed_mask_parse("################----------------");
  EXPECT_EQ(copy_words(mask, 0), (std::vector<uint32_t>{0xFFFFFFFFu, 0x0u}));
  EXPECT_EQ(copy_words(mask, 2), (std::vector<uint32_t>{0xFFFFFFF0u, 0xFu}));
  seed_mask_free(mask);
  mask = seed_mask_parse("####----");
  EXPECT_EQ(mask->length, 8);
  EXPECT_EQ(copy_words(mask, 0), std::vector<uint32_t>{0xFFu});
  seed_mask_free(mask);

  // The longest mask: 96 characters, six words, seven in shifted copies.
  mask = seed_mask_parse(std::string(96, '#').c_str());
  EXPECT_EQ(copy_words(mask, 0).size(), 6u);
  EXPECT_EQ(copy_words(mask, 1).size(), 7u);
  seed_mask_free(mask);
}

TEST(SeedMaskDeathTest, RejectsOtherCharactersLongAndEmptyMasks) {
  EXPECT_EXIT(seed_mask_parse("##a#"), testing::ExitedWithCode(1),
              "^masks should contain only '#' and '-'\n##a#\n$");
  EXPECT_EXIT(seed_mask_parse("## #"), testing::ExitedWithCode(1), "^masks should contain only '#' and '-'\n## #\n$");
  EXPECT_EXIT(seed_mask_parse(std::string(97, '#').c_str()), testing::ExitedWithCode(1),
              "^Seed masks hold at most 96 characters\n#+\n$");
  EXPECT_EXIT(seed_mask_parse("----"), testing::ExitedWithCode(1), "^Seed masks need at least one '#'\n----\n$");
  EXPECT_EXIT(seed_mask_parse(""), testing::ExitedWithCode(1), "^Seed masks need at least one '#'\n\n$");
}

// Packs codes 2 bits each, with spare zero bytes after them.
std::vector<uint8_t> pack(const std::vector<uint8_t> &codes) {
  std::vector<uint8_t> packed(codes.size() / 4 + 40, 0);
  for (size_t i = 0; i < codes.size(); i++) packed[i / 4] |= static_cast<uint8_t>(codes[i] << (2 * (i % 4)));
  return packed;
}

// The seed hash from its definition: the seed value as a big number (2 bits
// per mask position), multiplied by the constant, its 32-bit words XORed.
uint32_t model_hash(const std::vector<uint8_t> &codes, size_t p, const std::string &mask, bool colour) {
  std::vector<uint32_t> value((2 * mask.size() + 31) / 32 + 1, 0);
  for (size_t i = 0; i < mask.size(); i++) {
    if (mask[i] != '#') continue;
    uint32_t c = codes[p + i];
    if (colour) c ^= codes[p + i + 1];
    value[(2 * i) / 32] |= c << ((2 * i) % 32);
  }
  uint32_t h = 0;
  uint64_t carry = 0;
  for (uint32_t word : value) {
    uint64_t product = static_cast<uint64_t>(word) * 0x9E3779B9u + carry;
    h ^= static_cast<uint32_t>(product);
    carry = product >> 32;
  }
  return h ^ static_cast<uint32_t>(carry);
}

TEST(SeedMask, HashTestVector) {
  // C, G, T, A under "####": value 0x39, product 0x233A5A1A31.
  std::vector<uint8_t> codes = {1, 2, 3, 0};
  std::vector<uint8_t> packed = pack(codes);
  seed_mask_t *mask = seed_mask_parse("####");
  uint32_t h = seed_hash(packed.data(), 0, mask->words, 0);
  EXPECT_EQ(h, 0x3A5A1A12u);
  EXPECT_EQ(seed_hash_bucket(h), 0x5A1A12u);
  EXPECT_EQ(seed_hash_check(h), 0x3Au);
  EXPECT_EQ(model_hash(codes, 0, "####", false), 0x3A5A1A12u);
  seed_mask_free(mask);
}

TEST(SeedMask, HashMatchesTheModelAtEveryPhase) {
  std::mt19937 rng(7);
  std::vector<std::string> masks = {"#", "##-##", "###-###-###-###", "##-###-###-###-###-##",
                                    "###--###--###--###--###", std::string(20, '#'), std::string(55, '#'),
                                    "#---------------#", "################----------------#",
                                    std::string(95, '-') + "#"};
  for (int k = 0; k < 6; k++) {
    std::string m;
    int length = 1 + static_cast<int>(rng() % 96);
    for (int i = 0; i < length; i++) m += (rng() % 3 == 0) ? '-' : '#';
    m.back() = '#';
    masks.push_back(m);
  }
  std::vector<uint8_t> codes(400);
  for (auto &c : codes) c = static_cast<uint8_t>(rng() & 3);
  std::vector<uint8_t> packed = pack(codes);
  for (const std::string &m : masks) {
    seed_mask_t *mask = seed_mask_parse(m.c_str());
    for (int colour = 0; colour < 2; colour++) {
      for (size_t p = 0; p + m.size() + 1 < codes.size(); p += 7) {
        ASSERT_EQ(seed_hash(packed.data(), static_cast<uint32_t>(p), mask->words, colour),
                  model_hash(codes, p, m, colour != 0))
            << m << " at " << p << " colour " << colour;
      }
    }
    seed_mask_free(mask);
  }
}

TEST(SeedMask, SameSeedAtAnyPhaseHashesAlike) {
  // One 30-base seed copied to positions 0 to 7 of otherwise random blocks.
  std::mt19937 rng(3);
  std::vector<uint8_t> seed(31);
  for (auto &c : seed) c = static_cast<uint8_t>(rng() & 3);
  seed_mask_t *mask = seed_mask_parse("##-###-#--####-####-#-##---###");
  for (int colour = 0; colour < 2; colour++) {
    uint32_t first = 0;
    for (uint32_t p = 0; p < 8; p++) {
      std::vector<uint8_t> codes(64);
      for (auto &c : codes) c = static_cast<uint8_t>(rng() & 3);
      std::copy(seed.begin(), seed.end(), codes.begin() + p);
      std::vector<uint8_t> packed = pack(codes);
      uint32_t h = seed_hash(packed.data(), p, mask->words, colour);
      if (p == 0) first = h;
      EXPECT_EQ(h, first) << "phase " << p << " colour " << colour;
    }
  }
  seed_mask_free(mask);
}

TEST(SeedMask, TrailingIgnoredWordDoesNotChangeTheHash) {
  std::vector<uint8_t> codes(100);
  std::mt19937 rng(5);
  for (auto &c : codes) c = static_cast<uint8_t>(rng() & 3);
  std::vector<uint8_t> packed = pack(codes);
  seed_mask_t *plain = seed_mask_parse("###-####-##-###");
  seed_mask_t *padded = seed_mask_parse("###-####-##-###-----------------");
  for (uint32_t p = 0; p < 40; p++) {
    EXPECT_EQ(seed_hash(packed.data(), p, plain->words, 0), seed_hash(packed.data(), p, padded->words, 0)) << p;
  }
  seed_mask_free(plain);
  seed_mask_free(padded);
}

}  // namespace
