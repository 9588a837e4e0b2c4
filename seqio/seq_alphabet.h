// Residue alphabets: 256-entry byte maps from letters to codes and from codes
// to letters, and the sequence types that choose one.
//
// Sequence types (passed down by every sequence opener):
//   1 IUPAC 4-bit base masks, 2 nucleotide codes 0-4, 4 protein codes 0-22,
//   5 A, C, G, T as 63-66; 3 and any other type: residues stay as stored.
// In the IUPAC masks bit 0 stands for A, bit 1 for C, bit 2 for G and bit 3
// for T, so every ambiguity letter is the union of its bases.
#pragma once

#include <cstdint>

struct seq_record_t;

// A boxed 256-byte table; mapping byte b gives table[b]. A null alphabet maps
// every byte to itself.
struct seq_alphabet_t {
  uint8_t *table;  // owned
};

// The alphabet of a sequence type, or null for types without one.
seq_alphabet_t *seq_alphabet_for_type(uint32_t type);
// Null when flag is non-zero, else the code-to-letter nucleotide alphabet.
seq_alphabet_t *seq_alphabet_dna_letters_unless(int flag);
// Boxes a 256-byte table, taking ownership.
seq_alphabet_t *seq_alphabet_wrap(uint8_t *table);
// A bare 256-byte table (not boxed) filled with value.
uint8_t *seq_alphabet_new_filled(uint8_t value);
// Frees the table and the box (null allowed); returns null.
seq_alphabet_t *seq_alphabet_free(seq_alphabet_t *alphabet);
// table[byte], or the byte itself for a null alphabet.
uint8_t seq_alphabet_map_char(const seq_alphabet_t *alphabet, uint8_t byte);
// Maps every residue byte in place (nothing for null or an empty record).
void seq_alphabet_apply(const seq_alphabet_t *alphabet, seq_record_t *record);

// Letters to nucleotide codes: A 0, C 1, G 2, T/U 3, anything else 4.
seq_alphabet_t *seq_alphabet_new_dna();
// Codes to letters: 0-3 "ACGT", anything else 'N'.
seq_alphabet_t *seq_alphabet_new_dna_letters();
// Letters to IUPAC masks: '#' 0, A 1, C 2, M 3, G 4, R 5, S 6, V 7, T/U 8, W 9,
// Y 10, H 11, K 12, D 13, B 14, anything else 15.
seq_alphabet_t *seq_alphabet_new_iupac();
// Masks to letters: 0-14 "#ACMGRSVTWYHKDB", anything else 'N'.
seq_alphabet_t *seq_alphabet_new_iupac_letters();
// Upper-case A, C, G, T to 63, 64, 65, 66; anything else 0.
seq_alphabet_t *seq_alphabet_new_type5();
// Letters to protein codes: "ACDEFGHIKLMNPQRSTVWY" 0-19, X 20, B 21, Z 22,
// anything else 20.
seq_alphabet_t *seq_alphabet_new_protein();
// Protein codes to letters: 0-19 "ACDEFGHIKLMNPQRSTVWY", 21 'B', 22 'Z',
// anything else 'X'.
seq_alphabet_t *seq_alphabet_new_protein_letters();
// Letters to nucleotide codes with ambiguity codes: A 0, C 1, G 2, T/U 3, R 5,
// Y 6, M 7, K 8, S 9, W 10, H 11, B 12, V 13, D 14, anything else 4.
seq_alphabet_t *seq_alphabet_new_dna_ambiguous();
// As the protein alphabet, plus U 15.
seq_alphabet_t *seq_alphabet_new_protein_u();
