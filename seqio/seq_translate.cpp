#include "seqio/seq_translate.h"

#include "seqio/seq_complement.h"
#include "seqio/seq_record.h"

const char seq_codon_table[65] = "KNKNTTTTRSRSIIMIQHQHPPPPRRRRLLLLEDEDAAAAGGGGVVVV*Y*YSSSS*CWCLFLF";

namespace {

// The amino-acid letter of one codon, 'X' as soon as a base is not A, C, G or
// T (the later bases are not looked at).
char codon_letter(uint8_t a, uint8_t b, uint8_t c) {
  if (a >= 4 || b >= 4 || c >= 4) return 'X';
  return seq_codon_table[16 * a + 4 * b + c];
}

}  // namespace

seq_record_t *seq_record_translate(const seq_record_t *record, int frame) {
  const int64_t n = record->length;
  // Codon count in signed arithmetic: a record shorter than its frame gives
  // a negative span, and frame 0 would start one byte past the last residue;
  // both translate to nothing.
  int64_t span = frame > 0 ? n + 1 - frame : n + 1 + frame;
  int64_t count = frame == 0 || span <= 0 ? 0 : span / 3;
  seq_record_t *protein = seq_record_new(static_cast<uint32_t>(count));
  const uint8_t *r = record->residues;
  for (int64_t j = 0; j < count; j++) {
    if (frame > 0) {
      int64_t p = frame - 1 + 3 * j;
      protein->residues[j] = static_cast<uint8_t>(codon_letter(r[p], r[p + 1], r[p + 2]));
    } else {
      int64_t p = n + frame - 3 * j;
      protein->residues[j] = static_cast<uint8_t>(
          codon_letter(seq_code_complement(r[p]), seq_code_complement(r[p - 1]), seq_code_complement(r[p - 2])));
    }
  }
  return protein;
}
