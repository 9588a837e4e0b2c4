// Complements of nucleotide codes and IUPAC letters, and in-place reversal of
// residue buffers.
//
// Letter tables act on single bytes, keep the case, and return every byte
// they do not list unchanged:
//  - IUPAC complement: A-T, C-G, R-Y, K-M, B-V, D-H (N, S, W, U map to
//    themselves);
//  - XOR-1 table: A-C, G-T, R-Y, S-W, B-D, H-V (K, M, N map to themselves),
//    which is what exclusive-or with 1 on the codes A 0, C 1, G 2, T 3 does to
//    each base of an ambiguity letter.
#pragma once

#include <cstdint>

// 3 - code for codes 0-3, the code itself otherwise.
uint8_t seq_code_complement(uint8_t code);
// IUPAC complement of a letter.
uint8_t seq_letter_complement(uint8_t letter);
// XOR-1 table of a letter.
uint8_t seq_letter_swap_ac_gt(uint8_t letter);
// k = 1: XOR-1 table; k = 2: XOR-1 table, then IUPAC complement; k = 3: IUPAC
// complement; any other k: the letter unchanged.
uint8_t seq_letter_transform(uint8_t letter, uint32_t k);

// Reverses the buffer; each byte below 4 becomes 3 - byte.
void seq_codes_reverse_complement(uint8_t *codes, uint32_t length);
// Reverses the buffer; each byte b whose distance d = (b - base) mod 256 is at
// most 3 becomes base + 3 - d, others stay.
void seq_codes_reverse_complement_based(uint8_t *codes, uint32_t length, uint8_t base);
// Reverses the bytes (nothing for a length below 2).
void seq_bytes_reverse(uint8_t *bytes, int length);
// Reverses the letters, then takes the IUPAC complement of each.
void seq_letters_reverse_complement(uint8_t *letters, int length);
