#include "seqio/seq_alphabet.h"

#include <tmmintrin.h>

#include <cctype>
#include <cstring>

#include "common/memory.h"
#include "seqio/seq_record.h"

namespace {

// Letter i of letters maps to first_code + i, in both cases.
void set_letters(uint8_t *table, const char *letters, int first_code) {
  for (int i = 0; letters[i] != '\0'; i++) {
    auto code = static_cast<uint8_t>(first_code + i);
    table[static_cast<uint8_t>(toupper(letters[i]))] = code;
    table[static_cast<uint8_t>(tolower(letters[i]))] = code;
  }
}

// Code first_code + i maps to letter i of letters.
void set_codes(uint8_t *table, const char *letters, int first_code) {
  for (int i = 0; letters[i] != '\0'; i++) table[first_code + i] = static_cast<uint8_t>(letters[i]);
}

}  // namespace

seq_alphabet_t *seq_alphabet_wrap(uint8_t *table) {
  auto *alphabet = static_cast<seq_alphabet_t *>(ryx_malloc(sizeof(seq_alphabet_t)));
  alphabet->table = table;
  return alphabet;
}

uint8_t *seq_alphabet_new_filled(uint8_t value) {
  auto *table = static_cast<uint8_t *>(ryx_malloc(256));
  memset(table, value, 256);
  return table;
}

seq_alphabet_t *seq_alphabet_free(seq_alphabet_t *alphabet) {
  if (alphabet == nullptr) return nullptr;
  ryx_free(alphabet->table);
  ryx_free(alphabet);
  return nullptr;
}

uint8_t seq_alphabet_map_char(const seq_alphabet_t *alphabet, uint8_t byte) {
  return alphabet == nullptr ? byte : alphabet->table[byte];
}

void seq_alphabet_apply(const seq_alphabet_t *alphabet, seq_record_t *record) {
  if (alphabet == nullptr || record->length == 0) return;
  const uint8_t *__restrict table = alphabet->table;
  uint8_t *__restrict residues = record->residues;
  const uint32_t n = record->length;
  uint32_t i = 0;
  // Letters lie in 0x40 to 0x7F: sixteen of them at a time are looked up in
  // the table's four rows of that range with byte shuffles (a row by the
  // high nibble, the entry by the low one); sixteen bytes with any other
  // byte among them take the plain look-ups.
  const __m128i low_nibble = _mm_set1_epi8(0x0F);
  const __m128i rows[4] = {_mm_loadu_si128(reinterpret_cast<const __m128i *>(table + 0x40)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + 0x50)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + 0x60)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + 0x70))};
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(residues + i));
    const __m128i top = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xC0)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(top, _mm_set1_epi8(0x40))) != 0xFFFF) {
      for (uint32_t k = i; k < i + 16; k++) residues[k] = table[residues[k]];
      continue;
    }
    const __m128i low = _mm_and_si128(v, low_nibble);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), low_nibble);
    __m128i out = _mm_setzero_si128();
    for (int r = 0; r < 4; r++) {
      const __m128i in_row = _mm_cmpeq_epi8(high, _mm_set1_epi8(static_cast<char>(4 + r)));
      out = _mm_or_si128(out, _mm_and_si128(in_row, _mm_shuffle_epi8(rows[r], low)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(residues + i), out);
  }
  for (; i < n; i++) residues[i] = table[residues[i]];
}

seq_alphabet_t *seq_alphabet_new_dna() {
  uint8_t *table = seq_alphabet_new_filled(4);
  set_letters(table, "ACGT", 0);
  set_letters(table, "U", 3);
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_dna_letters() {
  uint8_t *table = seq_alphabet_new_filled('N');
  set_codes(table, "ACGT", 0);
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_iupac() {
  uint8_t *table = seq_alphabet_new_filled(15);
  table[static_cast<uint8_t>('#')] = 0;
  set_letters(table, "ACMGRSVTWYHKDB", 1);
  set_letters(table, "U", 8);
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_iupac_letters() {
  uint8_t *table = seq_alphabet_new_filled('N');
  set_codes(table, "#ACMGRSVTWYHKDB", 0);
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_type5() {
  // Upper-case letters only; everything else, lower case included, maps to 0.
  uint8_t *table = seq_alphabet_new_filled(0);
  table[static_cast<uint8_t>('A')] = 63;
  table[static_cast<uint8_t>('C')] = 64;
  table[static_cast<uint8_t>('G')] = 65;
  table[static_cast<uint8_t>('T')] = 66;
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_protein() {
  uint8_t *table = seq_alphabet_new_filled(20);
  set_letters(table, "ACDEFGHIKLMNPQRSTVWYXBZ", 0);
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_protein_letters() {
  uint8_t *table = seq_alphabet_new_filled('X');
  set_codes(table, "ACDEFGHIKLMNPQRSTVWY", 0);
  set_codes(table, "BZ", 21);
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_dna_ambiguous() {
  uint8_t *table = seq_alphabet_new_filled(4);
  set_letters(table, "ACGT", 0);
  set_letters(table, "U", 3);
  set_letters(table, "RYMKSWHBVD", 5);
  return seq_alphabet_wrap(table);
}

seq_alphabet_t *seq_alphabet_new_protein_u() {
  seq_alphabet_t *alphabet = seq_alphabet_new_protein();
  set_letters(alphabet->table, "U", 15);
  return alphabet;
}

seq_alphabet_t *seq_alphabet_for_type(uint32_t type) {
  switch (type) {
    case 1:
      return seq_alphabet_new_iupac();
    case 2:
      return seq_alphabet_new_dna();
    case 4:
      return seq_alphabet_new_protein();
    case 5:
      return seq_alphabet_new_type5();
    default:
      return nullptr;
  }
}

seq_alphabet_t *seq_alphabet_dna_letters_unless(int flag) {
  return flag != 0 ? nullptr : seq_alphabet_new_dna_letters();
}
