// Gapped aligner of the hash mapper: alignment codes for a gapped hit.
//
// For one candidate the aligner reruns the gapped scorer's kernel with
// every band row and rebase amount kept (so the traced values are exactly
// the scored ones), then traces alignments back from the band diagonals of
// the candidate's end mask, one diagonal per traceback, lowest first. Each
// traceback yields one alignment code, or an empty code when the diagonal
// is not in the wanted mask (an earlier candidate covered it) or when the
// walk runs into cells an earlier traceback of this candidate visited (the
// two alignments share a path; the later one is dropped).
//
// The walk, from the end cell back to the start: at a cell of value V the
// aligned predecessor (same diagonal, previous query base) explains it with
// V - 1 on a match or V + x on a mismatch, the deletion predecessor (next
// lower diagonal, same query base) with V + d, the insertion predecessor
// (next higher diagonal, previous query base) with V + g. The aligned step
// is tried first after an aligned step and at the end cell, else deletion,
// insertion, aligned. In colour space a cell no step of its own state
// explains changed state: the walk moves to the first other state (0 to 3)
// whose value minus c is V and writes an escape with the state of the
// columns already written; a walk that starts in a state other than 0 opens
// the code with an escape of that state. Free-start modes stop at a cell on
// its state's floor (the query bases up to it become insertion columns);
// anchored-start modes stop after the column of query base 0. Visited cells
// are overwritten with 0xff.
//
// Calling order: gapped_aligner_new with the matcher's scorer;
// gapped_aligner_fill per candidate, then gapped_aligner_align until it
// gives an empty code; gapped_aligner_free. The aligner owns its row
// buffer and rebase log, borrows the scorer (between the scorer's own
// calls) and keeps a copy of the candidate; it belongs to one thread.
#pragma once

#include <cstdint>

#include "refmap/candidate.h"

struct alignment_code_t;
struct gapped_scorer_t;

struct gapped_aligner_t {
  gapped_scorer_t *scorer;   // not owned
  uint8_t *row_memory;       // owned: row capacity x 16 bytes + 15, zeroed when allocated
  uint8_t *rows;             // row_memory rounded up to 16 bytes
  int32_t row_capacity;      // 16-byte rows the buffer holds
  int8_t *rebases;           // owned: one amount per 32 band rows
  uint16_t wanted_mask;      // diagonals whose alignments are kept
  uint16_t end_mask;         // diagonals still to trace
  uint16_t score;            // the candidate's score from the rerun
  candidate_t candidate;
};

// An aligner with empty buffers over the scorer.
gapped_aligner_t *gapped_aligner_new(gapped_scorer_t *scorer);
// Frees both buffers and the aligner (null allowed); returns null.
gapped_aligner_t *gapped_aligner_free(gapped_aligner_t *aligner);
// Reruns the scorer's kernel for the candidate keeping its rows; keeps the
// score and end mask and the wanted mask for the tracebacks.
void gapped_aligner_fill(gapped_aligner_t *aligner, const candidate_t *candidate, uint16_t wanted_mask);
// Writes the next alignment into code: tracebacks of the remaining end
// diagonals until one gives a code. Returns 1 with a code, 0 when none is
// left (code empty, position 0). The code is held reversed until read
// through alignment_code_get_bytes / alignment_code_get_position.
int gapped_aligner_align(gapped_aligner_t *aligner, alignment_code_t *code);
// One traceback, from the lowest remaining end diagonal (which it clears).
// Returns 1 when code holds an alignment, 0 for an empty code. A cell no
// step explains without a visited cell involved prints an alignment error
// and ends the process with status 1: in nucleotide local mode
// "Alignment error 0\n" for a cell of query base 0, else "Alignment error
// 1\n"; in the other nucleotide modes "Alignment error %d, query %d\n" and
// in colour space "Alignment error color space %d, query %d\n", with 0 for
// a free-start walk failing at query base 0, 1 for a missing end cell and 2
// for any other cell.
int gapped_aligner_traceback(gapped_aligner_t *aligner, alignment_code_t *code);
