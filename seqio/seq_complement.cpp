#include "seqio/seq_complement.h"

#include <array>

namespace {

using LetterTable = std::array<uint8_t, 256>;

// Identity table with each listed pair swapped in both cases.
constexpr LetterTable pair_table(const char *pairs) {
  LetterTable table{};
  for (int i = 0; i < 256; i++) table[i] = static_cast<uint8_t>(i);
  for (const char *p = pairs; p[0] != '\0' && p[1] != '\0'; p += 2) {
    for (int lower = 0; lower < 2; lower++) {
      int shift = lower ? 'a' - 'A' : 0;
      table[static_cast<uint8_t>(p[0] + shift)] = static_cast<uint8_t>(p[1] + shift);
      table[static_cast<uint8_t>(p[1] + shift)] = static_cast<uint8_t>(p[0] + shift);
    }
  }
  return table;
}

constexpr LetterTable kIupacComplement = pair_table("ATCGRYKMBVDH");
constexpr LetterTable kSwapAcGt = pair_table("ACGTRYSWBDHV");

template <typename Index>
void reverse(uint8_t *bytes, Index length) {
  for (Index i = 0; i < length / 2; i++) {
    uint8_t t = bytes[i];
    bytes[i] = bytes[length - 1 - i];
    bytes[length - 1 - i] = t;
  }
}

}  // namespace

uint8_t seq_code_complement(uint8_t code) { return code < 4 ? static_cast<uint8_t>(3 - code) : code; }

uint8_t seq_letter_complement(uint8_t letter) { return kIupacComplement[letter]; }

uint8_t seq_letter_swap_ac_gt(uint8_t letter) { return kSwapAcGt[letter]; }

uint8_t seq_letter_transform(uint8_t letter, uint32_t k) {
  switch (k) {
    case 1:
      return kSwapAcGt[letter];
    case 2:
      return kIupacComplement[kSwapAcGt[letter]];
    case 3:
      return kIupacComplement[letter];
    default:
      return letter;
  }
}

void seq_codes_reverse_complement(uint8_t *codes, uint32_t length) {
  reverse(codes, length);
  for (uint32_t i = 0; i < length; i++) codes[i] = seq_code_complement(codes[i]);
}

void seq_codes_reverse_complement_based(uint8_t *codes, uint32_t length, uint8_t base) {
  reverse(codes, length);
  for (uint32_t i = 0; i < length; i++) {
    auto d = static_cast<uint8_t>(codes[i] - base);
    if (d <= 3) codes[i] = static_cast<uint8_t>(base + 3 - d);
  }
}

void seq_bytes_reverse(uint8_t *bytes, int length) {
  if (length < 2) return;
  reverse(bytes, length);
}

void seq_letters_reverse_complement(uint8_t *letters, int length) {
  if (length <= 0) return;
  reverse(letters, length);
  for (int i = 0; i < length; i++) letters[i] = kIupacComplement[letters[i]];
}
