// Alphabets and letter complements, each checked over all 256 bytes against
// tables written out here by hand.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "seqio/seq_alphabet.h"
#include "seqio/seq_complement.h"
#include "seqio/seq_record.h"

namespace {

using Table = std::array<uint8_t, 256>;

// A letter-to-code table from its default and its (letter, code) exceptions.
Table expected_table(uint8_t fallback, const std::vector<std::pair<char, int>> &exceptions) {
  Table t;
  t.fill(fallback);
  for (const auto &[byte, code] : exceptions) t[static_cast<uint8_t>(byte)] = static_cast<uint8_t>(code);
  return t;
}

// A code-to-letter table: code i maps to letters[i].
Table expected_letters(char fallback, const std::vector<std::pair<int, char>> &codes) {
  Table t;
  t.fill(static_cast<uint8_t>(fallback));
  for (const auto &[code, letter] : codes) t[static_cast<size_t>(code)] = static_cast<uint8_t>(letter);
  return t;
}

void expect_table(seq_alphabet_t *alphabet, const Table &expected, const char *name) {
  ASSERT_NE(alphabet, nullptr) << name;
  for (int b = 0; b < 256; b++) {
    EXPECT_EQ(alphabet->table[b], expected[static_cast<size_t>(b)]) << name << " byte " << b;
    EXPECT_EQ(seq_alphabet_map_char(alphabet, static_cast<uint8_t>(b)), expected[static_cast<size_t>(b)]);
  }
  seq_alphabet_free(alphabet);
}

const Table kDna = expected_table(4, {{'A', 0}, {'a', 0}, {'C', 1}, {'c', 1}, {'G', 2}, {'g', 2},
                                      {'T', 3}, {'t', 3}, {'U', 3}, {'u', 3}});
const Table kDnaLetters = expected_letters('N', {{0, 'A'}, {1, 'C'}, {2, 'G'}, {3, 'T'}});
const Table kIupac = expected_table(
    15, {{'#', 0},  {'A', 1},  {'a', 1},  {'C', 2},  {'c', 2},  {'M', 3},  {'m', 3},  {'G', 4},  {'g', 4},
         {'R', 5},  {'r', 5},  {'S', 6},  {'s', 6},  {'V', 7},  {'v', 7},  {'T', 8},  {'t', 8},  {'U', 8},
         {'u', 8},  {'W', 9},  {'w', 9},  {'Y', 10}, {'y', 10}, {'H', 11}, {'h', 11}, {'K', 12}, {'k', 12},
         {'D', 13}, {'d', 13}, {'B', 14}, {'b', 14}});
const Table kIupacLetters = expected_letters(
    'N', {{0, '#'}, {1, 'A'}, {2, 'C'}, {3, 'M'}, {4, 'G'}, {5, 'R'}, {6, 'S'}, {7, 'V'}, {8, 'T'}, {9, 'W'},
          {10, 'Y'}, {11, 'H'}, {12, 'K'}, {13, 'D'}, {14, 'B'}});
const Table kType5 = expected_table(0, {{'A', 63}, {'C', 64}, {'G', 65}, {'T', 66}});
const std::vector<std::pair<char, int>> kProteinPairs = {
    {'A', 0},  {'a', 0},  {'C', 1},  {'c', 1},  {'D', 2},  {'d', 2},  {'E', 3},  {'e', 3},  {'F', 4},  {'f', 4},
    {'G', 5},  {'g', 5},  {'H', 6},  {'h', 6},  {'I', 7},  {'i', 7},  {'K', 8},  {'k', 8},  {'L', 9},  {'l', 9},
    {'M', 10}, {'m', 10}, {'N', 11}, {'n', 11}, {'P', 12}, {'p', 12}, {'Q', 13}, {'q', 13}, {'R', 14}, {'r', 14},
    {'S', 15}, {'s', 15}, {'T', 16}, {'t', 16}, {'V', 17}, {'v', 17}, {'W', 18}, {'w', 18}, {'Y', 19}, {'y', 19},
    {'X', 20}, {'x', 20}, {'B', 21}, {'b', 21}, {'Z', 22}, {'z', 22}};
const Table kProtein = expected_table(20, kProteinPairs);
const Table kProteinLetters = expected_letters(
    'X', {{0, 'A'},  {1, 'C'},  {2, 'D'},  {3, 'E'},  {4, 'F'},  {5, 'G'},  {6, 'H'},  {7, 'I'},
          {8, 'K'},  {9, 'L'},  {10, 'M'}, {11, 'N'}, {12, 'P'}, {13, 'Q'}, {14, 'R'}, {15, 'S'},
          {16, 'T'}, {17, 'V'}, {18, 'W'}, {19, 'Y'}, {21, 'B'}, {22, 'Z'}});
const Table kDnaAmbiguous = expected_table(
    4, {{'A', 0},  {'a', 0},  {'C', 1},  {'c', 1},  {'G', 2},  {'g', 2},  {'T', 3},  {'t', 3},  {'U', 3},
        {'u', 3},  {'R', 5},  {'r', 5},  {'Y', 6},  {'y', 6},  {'M', 7},  {'m', 7},  {'K', 8},  {'k', 8},
        {'S', 9},  {'s', 9},  {'W', 10}, {'w', 10}, {'H', 11}, {'h', 11}, {'B', 12}, {'b', 12}, {'V', 13},
        {'v', 13}, {'D', 14}, {'d', 14}});

Table protein_u() {
  std::vector<std::pair<char, int>> pairs = kProteinPairs;
  pairs.push_back({'U', 15});
  pairs.push_back({'u', 15});
  return expected_table(20, pairs);
}

TEST(SeqAlphabet, EveryConstructorOverAllBytes) {
  expect_table(seq_alphabet_new_dna(), kDna, "dna");
  expect_table(seq_alphabet_new_dna_letters(), kDnaLetters, "dna letters");
  expect_table(seq_alphabet_new_iupac(), kIupac, "iupac");
  expect_table(seq_alphabet_new_iupac_letters(), kIupacLetters, "iupac letters");
  expect_table(seq_alphabet_new_type5(), kType5, "type 5");
  expect_table(seq_alphabet_new_protein(), kProtein, "protein");
  expect_table(seq_alphabet_new_protein_letters(), kProteinLetters, "protein letters");
  expect_table(seq_alphabet_new_dna_ambiguous(), kDnaAmbiguous, "dna ambiguous");
  expect_table(seq_alphabet_new_protein_u(), protein_u(), "protein with U");
}

TEST(SeqAlphabet, SequenceTypes) {
  expect_table(seq_alphabet_for_type(1), kIupac, "type 1");
  expect_table(seq_alphabet_for_type(2), kDna, "type 2");
  expect_table(seq_alphabet_for_type(4), kProtein, "type 4");
  expect_table(seq_alphabet_for_type(5), kType5, "type 5");
  for (uint32_t type : {0u, 3u, 6u, 255u, 0xffffffffu}) EXPECT_EQ(seq_alphabet_for_type(type), nullptr) << type;
  EXPECT_EQ(seq_alphabet_dna_letters_unless(1), nullptr);
  EXPECT_EQ(seq_alphabet_dna_letters_unless(-7), nullptr);
  expect_table(seq_alphabet_dna_letters_unless(0), kDnaLetters, "dna letters unless 0");
}

// Decoding an IUPAC mask to its letter and encoding the letter again gives
// the mask back.
TEST(SeqAlphabet, IupacLettersAndMasksRoundTrip) {
  seq_alphabet_t *to_mask = seq_alphabet_new_iupac();
  seq_alphabet_t *to_letter = seq_alphabet_new_iupac_letters();
  for (int mask = 0; mask < 15; mask++)
    EXPECT_EQ(seq_alphabet_map_char(to_mask, seq_alphabet_map_char(to_letter, static_cast<uint8_t>(mask))), mask);
  EXPECT_EQ(seq_alphabet_map_char(to_letter, 15), 'N');
  EXPECT_EQ(seq_alphabet_map_char(to_mask, 'N'), 15);
  seq_alphabet_free(to_mask);
  seq_alphabet_free(to_letter);
}

TEST(SeqAlphabet, ApplyMapsResiduesInPlace) {
  seq_record_t *record = seq_record_new_from_string("ACGTUNx-");
  seq_alphabet_t *dna = seq_alphabet_new_dna();
  seq_alphabet_apply(dna, record);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(record->residues), record->length),
            std::string("\x00\x01\x02\x03\x03\x04\x04\x04", 8));
  // A null alphabet maps nothing; an empty record is left alone.
  seq_alphabet_apply(nullptr, record);
  EXPECT_EQ(record->residues[1], 1);
  seq_record_t *empty = seq_record_new_empty();
  seq_alphabet_apply(dna, empty);
  EXPECT_EQ(empty->residues, nullptr);
  for (int b = 0; b < 256; b++) EXPECT_EQ(seq_alphabet_map_char(nullptr, static_cast<uint8_t>(b)), b);
  seq_record_free(empty);
  seq_record_free(record);
  EXPECT_EQ(seq_alphabet_free(dna), nullptr);
  EXPECT_EQ(seq_alphabet_free(nullptr), nullptr);
}

// Applying an alphabet to a record maps every byte through the table,
// sixteen letters at a time where all of them lie in 0x40 to 0x7F: records
// of every length up to 70 of letters only, of letters with one byte from
// outside that range at each place, and of all 256 byte values, under
// every alphabet.
TEST(SeqAlphabet, ApplyEqualsTheTableOnEveryByteAndLength) {
  std::vector<seq_alphabet_t *> alphabets = {
      seq_alphabet_new_dna(),         seq_alphabet_new_dna_letters(), seq_alphabet_new_iupac(),
      seq_alphabet_new_protein(),     seq_alphabet_new_dna_ambiguous(), seq_alphabet_new_iupac_letters()};
  const std::string letters = "ACGTNacgtnURYKMSWBDHVuxX@[_`{|}~";
  std::vector<std::string> inputs;
  for (size_t length = 0; length <= 70; length++) {
    std::string text(length, 'A');
    for (size_t k = 0; k < length; k++) text[k] = letters[(k * 5 + length) % letters.size()];
    inputs.push_back(text);
    for (size_t at = 0; at < length; at += 7) {
      std::string odd = text;
      odd[at] = static_cast<char>(at % 2 == 0 ? '.' : 0xC1);
      inputs.push_back(odd);
    }
  }
  std::string all(256, '\0');
  for (int b = 0; b < 256; b++) all[static_cast<size_t>(b)] = static_cast<char>(b);
  inputs.push_back(all);
  for (seq_alphabet_t *alphabet : alphabets) {
    for (const std::string &text : inputs) {
      seq_record_t *record = seq_record_new(static_cast<uint32_t>(text.size()));
      if (!text.empty()) memcpy(record->residues, text.data(), text.size());
      seq_alphabet_apply(alphabet, record);
      std::string want(text.size(), '\0');
      for (size_t k = 0; k < text.size(); k++) want[k] = static_cast<char>(alphabet->table[static_cast<uint8_t>(text[k])]);
      ASSERT_EQ(std::string(reinterpret_cast<char *>(record->residues), record->length), want) << text.size();
      seq_record_free(record);
    }
    seq_alphabet_free(alphabet);
  }
}

TEST(SeqAlphabet, FilledTablesAndWrapping) {
  uint8_t *table = seq_alphabet_new_filled(0xab);
  for (int b = 0; b < 256; b++) ASSERT_EQ(table[b], 0xab);
  table['q'] = 9;
  seq_alphabet_t *alphabet = seq_alphabet_wrap(table);
  EXPECT_EQ(alphabet->table, table);
  EXPECT_EQ(seq_alphabet_map_char(alphabet, 'q'), 9);
  EXPECT_EQ(seq_alphabet_map_char(alphabet, 'r'), 0xab);
  seq_alphabet_free(alphabet);  // frees the wrapped table too
}

// ---------------------------------------------------------------------------
// Letter complements

Table pairs_table(const std::vector<std::pair<char, char>> &pairs) {
  Table t;
  for (int b = 0; b < 256; b++) t[static_cast<size_t>(b)] = static_cast<uint8_t>(b);
  for (const auto &[x, y] : pairs) {
    t[static_cast<uint8_t>(x)] = static_cast<uint8_t>(y);
    t[static_cast<uint8_t>(y)] = static_cast<uint8_t>(x);
  }
  return t;
}

const Table kComplement = pairs_table({{'A', 'T'}, {'a', 't'}, {'C', 'G'}, {'c', 'g'}, {'R', 'Y'}, {'r', 'y'},
                                       {'K', 'M'}, {'k', 'm'}, {'B', 'V'}, {'b', 'v'}, {'D', 'H'}, {'d', 'h'}});
const Table kSwap = pairs_table({{'A', 'C'}, {'a', 'c'}, {'G', 'T'}, {'g', 't'}, {'R', 'Y'}, {'r', 'y'},
                                 {'S', 'W'}, {'s', 'w'}, {'B', 'D'}, {'b', 'd'}, {'H', 'V'}, {'h', 'v'}});

TEST(SeqComplement, LetterTablesOverAllBytes) {
  for (int b = 0; b < 256; b++) {
    auto byte = static_cast<uint8_t>(b);
    EXPECT_EQ(seq_letter_complement(byte), kComplement[byte]) << b;
    EXPECT_EQ(seq_letter_swap_ac_gt(byte), kSwap[byte]) << b;
    EXPECT_EQ(seq_letter_transform(byte, 0), byte);
    EXPECT_EQ(seq_letter_transform(byte, 1), kSwap[byte]);
    EXPECT_EQ(seq_letter_transform(byte, 2), kComplement[kSwap[byte]]);
    EXPECT_EQ(seq_letter_transform(byte, 3), kComplement[byte]);
    EXPECT_EQ(seq_letter_transform(byte, 4), byte);
    EXPECT_EQ(seq_letter_transform(byte, 0xffffffffu), byte);
  }
  EXPECT_EQ(seq_letter_complement('U'), 'U');
  EXPECT_EQ(seq_letter_complement('n'), 'n');
  EXPECT_EQ(seq_letter_complement('r'), 'y');
  EXPECT_EQ(seq_letter_transform('A', 2), 'G');
  EXPECT_EQ(seq_letter_transform('c', 2), 't');
}

// The tables act on each base of an ambiguity letter as exclusive-or on the
// codes does: 3 for the complement, 1 for the swap.
TEST(SeqComplement, LetterTablesMatchCodeArithmeticOnMasks) {
  const char *letters = "ACGTMRWSYKVHDBN";
  for (const char *p = letters; *p != '\0'; p++) {
    uint8_t mask = kIupac[static_cast<uint8_t>(*p)];
    for (int x : {1, 3}) {
      uint8_t moved = 0;
      for (int base = 0; base < 4; base++)
        if (mask & (1 << base)) moved = static_cast<uint8_t>(moved | (1 << (base ^ x)));
      uint8_t mapped = x == 1 ? seq_letter_swap_ac_gt(static_cast<uint8_t>(*p)) : seq_letter_complement(static_cast<uint8_t>(*p));
      EXPECT_EQ(kIupac[mapped], moved) << *p << " xor " << x;
    }
  }
}

TEST(SeqComplement, CodeComplement) {
  const uint8_t expected[8] = {3, 2, 1, 0, 4, 5, 6, 7};
  for (int c = 0; c < 8; c++) EXPECT_EQ(seq_code_complement(static_cast<uint8_t>(c)), expected[c]) << c;
  EXPECT_EQ(seq_code_complement(255), 255);
}

std::vector<uint8_t> bytes_of(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TEST(SeqComplement, BufferReversals) {
  std::vector<uint8_t> codes = bytes_of({0, 1, 4, 2});
  seq_codes_reverse_complement(codes.data(), 4);
  EXPECT_EQ(codes, bytes_of({1, 4, 2, 3}));
  codes = bytes_of({0, 9, 3});
  seq_codes_reverse_complement(codes.data(), 3);
  EXPECT_EQ(codes, bytes_of({0, 9, 3}));

  codes = bytes_of({63, 64, 70, 65});
  seq_codes_reverse_complement_based(codes.data(), 4, 63);
  EXPECT_EQ(codes, bytes_of({64, 70, 65, 66}));
  // The distance to the base wraps modulo 256.
  codes = bytes_of({254, 255, 0, 1, 2});
  seq_codes_reverse_complement_based(codes.data(), 5, 254);
  EXPECT_EQ(codes, bytes_of({2, 254, 255, 0, 1}));

  std::vector<uint8_t> bytes = bytes_of({1, 2, 3, 4, 5});
  seq_bytes_reverse(bytes.data(), 5);
  EXPECT_EQ(bytes, bytes_of({5, 4, 3, 2, 1}));
  seq_bytes_reverse(bytes.data(), 4);
  EXPECT_EQ(bytes, bytes_of({2, 3, 4, 5, 1}));
  seq_bytes_reverse(bytes.data(), 1);
  seq_bytes_reverse(bytes.data(), 0);
  seq_bytes_reverse(bytes.data(), -3);
  EXPECT_EQ(bytes, bytes_of({2, 3, 4, 5, 1}));

  std::string letters = "ACGTRYn-";
  seq_letters_reverse_complement(reinterpret_cast<uint8_t *>(letters.data()), 8);
  EXPECT_EQ(letters, "-nRYACGT");
  letters = "g";
  seq_letters_reverse_complement(reinterpret_cast<uint8_t *>(letters.data()), 1);
  EXPECT_EQ(letters, "c");
}

}  // namespace
