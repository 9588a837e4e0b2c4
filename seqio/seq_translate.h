// Translation of nucleotide codes into protein letters.
#pragma once

#include <cstdint>

struct seq_record_t;

// The standard genetic code with '*' for the stop codons, indexed by
// 16a + 4b + c for the codes (A 0, C 1, G 2, T 3) of a codon's first, second
// and third base.
extern const char seq_codon_table[65];

// New record of protein letters (no name, no qualities) translating the
// nucleotide codes of record in frame 1, 2 or 3 (forward, starting at residue
// frame - 1) or -1, -2, -3 (reverse complement, starting at residue
// length + frame). A codon holding a code of 4 or more gives 'X'. Frame 0,
// and a record too short for a single codon of its frame, give an empty
// record.
seq_record_t *seq_record_translate(const seq_record_t *record, int frame);
