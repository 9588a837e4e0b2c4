// Candidate filter of the hash mapper: a bit-parallel test that a seed
// search can apply to a lookup batch's candidates before they are sorted
// and scored.
//
// A candidate (query q of length n at block position P) survives when the
// query and the block share enough long exact stretches on its diagonal or
// on the diagonal P - 1 next to it. Per diagonal a match bitmap has bit i
// set when query base i and block position P + i are both known and equal
// (in colour space: when the colour of query bases i, i + 1 equals that of
// the block positions, all four known). A window bitmap marks the query
// positions where a window of the mode's length matches throughout; the two
// diagonals' window bitmaps are joined. Windows are then counted greedily
// from position 0, each counted window moving the scan its step past its
// start, and the candidate is kept when the count reaches thresholds[n / 32].
//
//   mode   nucleotide windows   colour windows   steps    starts
//   0      30                   29               30       every third
//   1      20                   19               20       every third
//   2      17 and 21            16 and 23        own      any
// With two windows the scan takes, at each step, the window whose jump
// lands first. "Every third" keeps the window starts that lie at read
// positions 0, 3, 6, ... of the forward read: query positions i with
// i mod 3 = 0 on even (forward) queries, and (n - step - i) mod 3 = 0 on odd
// (reverse-complement) ones, so both strands test the same read windows.
//
// The queries are packed once, in four phases (the query shifted by 0 to 3
// positions), so that a candidate's block bytes are compared from byte P / 4
// without shifting. Block positions below 0 or past the block's length
// count as unknown.
//
// Calling order: candidate_filter_new per matcher, candidate_filter_apply
// per lookup batch (it fits the hit hash's filter slot), candidate_filter_free.
// The filter copies what it needs of the queries and borrows the block's
// bases and known mask; one filter belongs to one thread.
#pragma once

#include <cstdint>

#include "refmap/candidate.h"

struct seq_record_t;
struct candidate_filter_state_t;

// Longest window of any mode, in positions.
constexpr int32_t kCandidateFilterMaxWindow = 30;

struct candidate_filter_t {
  int32_t mode;    // 0, 1, 2
  int32_t colour;  // 1 in colour space
  candidate_filter_state_t *state;
};

// A filter over count queries (entries may be null) and a packed block of
// block_length positions. A mode other than 0 to 2 prints "Unknown
// candidate filter mode %d\n" on standard error and ends the process with
// status 1.
candidate_filter_t *candidate_filter_new(seq_record_t *const *queries, int32_t count, const uint8_t *bases,
                                         const uint8_t *known, int64_t block_length, int32_t mode, int32_t colour);
// Keeps the candidates whose window count reaches thresholds[n / 32] (n the
// query length), moved to the front in their order; returns their number.
// Candidates of null queries are dropped; a null table means thresholds
// of 0.
int32_t candidate_filter_apply(candidate_filter_t *filter, candidate_t *list, int32_t count,
                               const uint32_t *thresholds);
// The window count of one candidate (0 for a null query).
int32_t candidate_filter_count(candidate_filter_t *filter, candidate_t candidate);
// Frees the filter and its packed queries (null allowed); returns null.
candidate_filter_t *candidate_filter_free(candidate_filter_t *filter);
