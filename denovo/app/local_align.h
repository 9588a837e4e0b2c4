// Local aligner with a linear gap cost over two short sequences of
// nucleotide codes: the best-scoring local alignment of a first sequence a
// against a second sequence b, and the merge of that alignment into one
// sequence. Overlap resolution uses it to decide whether two contig ends
// overlap and to spell the overlap.
//
// Calling order: fill a scoring scheme (local_align_scoring_new, then the
// size, the gap cost and the matrix rows), make a result record
// (local_align_result_new), then any number of local_align calls, each
// optionally followed by local_align_merge_sequences on the same pair. The
// result keeps its score matrix between calls and only grows it, so a
// caller aligning many pairs allocates it once for its largest pair.
//
// Ownership: the scheme and the result belong to their creator and are
// freed with their free functions; sequences are borrowed (only their
// lengths and residues are read). Nothing is shared between calls on
// different result records, so each thread owns its scheme and result.
//
// Tie rules. Cell H[i][j] (row i for b, column j for a) is the largest of
// diagonal, up (gap in a) and left (gap in b), raised to 0. The best cell is
// the first cell, row by row, whose value is strictly above every earlier
// one. The traceback prefers the diagonal step, then the step in a alone
// (left), then the step in b alone (up).
#pragma once

#include <cstdint>

struct seq_record_t;

extern "C" {

// Scoring scheme: an alphabet of size codes and a size x size matrix,
// indexed by the first sequence's code, then the second's.
struct local_align_scoring_t {
  int32_t size;           // alphabet size n
  int16_t gap_first;      // added for every gap position (negative in use)
  int16_t gap_extension;  // must be 0: only linear gap costs are aligned
  int16_t **matrix;       // n owned rows of n scores, or null
};

// One alignment: starts are 0-based indexes of the first aligned residue,
// ends the 0-based exclusive end (-1 for both before any alignment).
struct local_align_result_t {
  int32_t start_a;
  int32_t start_b;
  int32_t end_a;
  int32_t end_b;
  int32_t score;     // best score, 0 when nothing scores positive
  int32_t *matrix;   // (|a| + 1) x (|b| + 1) cells of the last alignment
  int64_t capacity;  // cells allocated
};

// An empty scheme: size 0, both gap values 0, no matrix.
local_align_scoring_t *local_align_scoring_new(void);
// A new scheme with size rows of size scores, all 0, and both gap values 0.
local_align_scoring_t *local_align_scoring_new_sized(int32_t size);
// A deep copy of the scheme (size, gap values, every row).
local_align_scoring_t *local_align_scoring_copy(const local_align_scoring_t *scoring);
// Prints "gap first", "gap extension", "matrix:", one line of " %3d" per
// row and an empty line on standard output.
void local_align_scoring_print(const local_align_scoring_t *scoring);
// Frees every row, the row array and the scheme (null allowed); returns null.
local_align_scoring_t *local_align_scoring_free(local_align_scoring_t *scoring);

// A result with both starts and ends -1, score 0 and no matrix.
local_align_result_t *local_align_result_new(void);
// Frees the matrix and the record (null allowed); returns null.
local_align_result_t *local_align_result_free(local_align_result_t *result);

// Aligns a against b and fills the result. A non-zero gap extension prints
// "ERROR: affine gap cost is not implemented yet!\n" on standard error and
// ends the process with status 1; so does a residue that is not below the
// alphabet size ("ERROR: residue %u is outside the alphabet of %d codes\n"),
// which would index past the matrix.
void local_align(const local_align_scoring_t *scoring, local_align_result_t *result, const seq_record_t *a,
                 const seq_record_t *b);

// A new record (no name) with the merged residues of the alignment that
// local_align just computed for the same a and b, in forward order: an
// aligned pair gives a's residue when it is n_code, else b's; a residue
// aligned to a gap gives itself. Empty when the best score is 0.
seq_record_t *local_align_merge_sequences(const local_align_result_t *result, const local_align_scoring_t *scoring,
                                          const seq_record_t *a, const seq_record_t *b, uint8_t n_code);

// Traceback kinds of local_align_trace_step.
constexpr int kLocalAlignDiagonal = 0;
constexpr int kLocalAlignGapInB = 1;  // a residue of a against a gap
constexpr int kLocalAlignGapInA = 2;  // a residue of b against a gap

// One traceback step from cell (*i, *j) of the last alignment of a and b,
// whose value must be above 0: moves *i and *j to the cell it reaches and
// returns the step's kind.
int local_align_trace_step(const local_align_result_t *result, const local_align_scoring_t *scoring,
                           const seq_record_t *a, const seq_record_t *b, int64_t *i, int64_t *j);

}  // extern "C"
