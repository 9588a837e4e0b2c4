// Banded gapped scorer of the hash mapper.
//
// Rescores candidates (a query laid on the reference block at a diagonal)
// with a dynamic programme over a band of 16 diagonals around the
// candidate's own: band diagonal k lays query base i on block position
// P - 7 + k + i, so diagonal 7 is the candidate's. A cell scores +1 when the
// query base (code 0-3) equals a known block base and -x otherwise; an
// insertion (a query base without a block base, moving one diagonal down)
// costs g, a deletion (a block base skipped, moving one diagonal up) costs
// d. In colour space every cell has four decoding states (the query code is
// exclusive-ored with the state before it is compared) and a change of
// state costs c.
//
// Start and end rules by alignment mode and query parity (even queries are
// forward strands, odd ones reverse complements):
//   local (0)            start anywhere (every cell at least 0), end anywhere
//   semi-global (1) even start at query base 0 on any band diagonal, end anywhere
//   semi-global (1) odd  start anywhere, end at the last query base
//   global (3)           start at query base 0, end at the last query base
// In colour space an even query starts in state 0 (another state costs c)
// and may end in any state; an odd query may start in any state and ends in
// state 0 (another state costs c).
//
// The score of a candidate is the best end cell (0 when all are below 0);
// its end mask has bit k set for every band diagonal k on which an end cell
// reaches that score (0 when every end cell lies below 0).
//
// The work is done by SSE kernels over unsigned saturating bytes, one per
// path (nucleotide local, nucleotide anchored modes, colour space), kept in
// their own sources behind gapped_kernel.h. Queries longer than
// kGappedMaxQueryLength bases are outside the byte layout.
//
// Calling order: gapped_scorer_new once per batch of queries, then
// gapped_scorer_score per candidate list (gapped_scorer_scores gives the end
// masks of the last call), gapped_scorer_free. The gapped aligner reruns the
// kernel for single candidates between scoring calls. The scorer borrows the
// queries and the block (they must outlive it) and owns everything else; it
// belongs to one thread.
//
// Block layout: 2-bit bases and 2-bit known mask as in ref_block_t. For a
// candidate at P the kernels read block positions P - 7 up to P + n + 15
// (n the query length); positions below 0 count as unknown, and the block's
// trailing spacer and padding cover the rest.
#pragma once

#include <cstdint>

#include "refmap/candidate.h"

struct seq_record_t;

// Longest query the byte layout scores exactly.
constexpr int32_t kGappedMaxQueryLength = 60;
// Band width in diagonals, and the candidate's own diagonal inside it.
constexpr int32_t kGappedBandWidth = 16;
constexpr int32_t kGappedCentreDiagonal = 7;
// Rows between two rebases of the band, and the byte value diagonal 7 is
// moved to by a rebase.
constexpr int32_t kGappedRebaseRows = 32;
constexpr int32_t kGappedRebaseTarget = 160;
// Code-4 bytes after a padded query's last base: row t reads padded bytes
// t to t + 15.
constexpr int32_t kGappedQueryTail = 16;

// Start and end rules of one query parity, in byte terms. A cell's absolute
// value is its byte plus the candidate's base offset, and its score is the
// absolute value minus `zero`.
struct gapped_start_t {
  int32_t zero;                // absolute value of score 0
  int32_t anchored_start;      // 1: paths start before query base 0, else anywhere
  int32_t anchored_end;        // 1: paths end at the last query base, else anywhere
  uint8_t start[4];            // per state: the byte of a cell before query base 0
  uint8_t floor0;              // floor byte of state 0 (colour local, even queries), else 0
  int32_t track_state0;        // colour: 1 when only state 0 may end (odd queries)
};

struct gapped_scorer_t {
  const uint8_t *bases;   // block bases (not owned)
  const uint8_t *known;   // block known mask (not owned)

  // Padded queries: per query 7 bytes of code 4, the codes (any code above
  // 3 stored as 4), then code 4 for kGappedQueryTail bytes; null for a null
  // query. Padded lengths are the row counts n + 7 (0 for a null or empty
  // query).
  uint8_t **padded;
  int32_t *padded_lengths;
  int32_t *lengths;

  uint16_t *scores;       // per candidate of the last call
  uint16_t *end_masks;    // per candidate of the last call
  int32_t result_capacity;
  const candidate_t *candidates;  // the list of the last call (not owned)
  int32_t candidate_count;

  // Column sink: set by the gapped aligner around a single-candidate rerun,
  // null while scoring. Rows receive every band row (16 bytes, or 64 in
  // colour space with state 0 first), rebases one signed byte per rebase:
  // the amount added to every cell (the base offset drops by it).
  uint8_t *sink_rows;
  int8_t *sink_rebases;

  uint8_t *window;        // scratch: the candidate's block codes, 0xff unknown

  int32_t x, g, d, c;     // costs; c = -1 in nucleotide space
  int32_t mode;           // 0 local, 1 semi-global, 3 global
  int32_t query_count;
  int32_t colour;         // 1 in colour space
  gapped_start_t starts[2];  // by query parity
};

// Builds the padded queries and start rules. x, g and d are the mismatch,
// insertion and deletion costs (1 to 3), mode 0, 1 or 3, c the colour cost
// (1 to 3) or -1 for nucleotide space. A query longer than
// kGappedMaxQueryLength prints "Gapped scorer: query %d is longer than %d
// bases\n" and ends the process with status 1.
gapped_scorer_t *gapped_scorer_new(seq_record_t **queries, int32_t count, const uint8_t *bases,
                                   const uint8_t *known, int16_t x, int16_t g, int16_t d, int32_t mode,
                                   int16_t c);
// Scores count candidates; returns the scores in list order, valid until
// the next call. A count of 0 returns null and leaves the buffers as they
// were.
uint16_t *gapped_scorer_score(gapped_scorer_t *scorer, const candidate_t *candidates, int32_t count);
// The end masks of the last gapped_scorer_score call, in list order.
uint16_t *gapped_scorer_scores(gapped_scorer_t *scorer);
// Frees the scorer and everything it owns (null allowed); returns null.
gapped_scorer_t *gapped_scorer_free(gapped_scorer_t *scorer);
