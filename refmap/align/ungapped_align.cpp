#include "refmap/align/ungapped_align.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "refmap/align/ungapped_scorer.h"
#include "seqio/alignment_code.h"

namespace {

// Below every reachable value, far enough that gains never lift it near one.
constexpr int32_t kNone = -(1 << 28);

[[noreturn]] void alignment_error() {
  fprintf(stderr, "\nAlignment error\n");
  ryx_exit(1);
}

// Score of query position i in decoding state k (nucleotide space: k = 0).
inline int32_t position_score(const ungapped_scorer_t *s, uint32_t query, int64_t p, int32_t i, int32_t k) {
  const int32_t base = ungapped_block_base(s, p + i);
  const int32_t code = ungapped_query_code(s, query, i);
  return (base >= 0 && code < 4 && (base ^ k) == code) ? 1 : -s->mismatch;
}

void write_clipped(alignment_code_t *code, int64_t p, int32_t g, int32_t f, int32_t n) {
  alignment_code_reset(code, static_cast<int32_t>(p + g), 0);
  alignment_code_add_run(code, kCodeOpInsertion, g);
  alignment_code_add_run(code, kCodeOpMatch, f - g);
  alignment_code_add_run(code, kCodeOpInsertion, n - f);
}

void align_nucleotide(const ungapped_scorer_t *s, candidate_t c, int64_t p, int32_t n, alignment_code_t *code) {
  const uint32_t q = c.query;
  int32_t g = 0, f = 0;
  if (s->mode == kAlignModeSemiGlobal && (q & 1) == 0) {
    int32_t sum = 0, best = 0;
    for (int32_t i = 0; i < n; i++) {
      const int32_t v = position_score(s, q, p, i, 0);
      sum += v;
      if (v > 0 && sum > best) {
        best = sum;
        f = i + 1;
      }
    }
  } else if (s->mode == kAlignModeSemiGlobal) {
    int32_t sum = 0, best = 0;
    g = n;
    f = n;
    for (int32_t i = n - 1; i >= 0; i--) {
      const int32_t v = position_score(s, q, p, i, 0);
      sum += v;
      if (v > 0 && sum > best) {
        best = sum;
        g = i;
      }
    }
  } else {
    // Kadane's walk; the first run reaching the best sum wins.
    int32_t run = 0, run_start = 0, best = 0;
    for (int32_t i = 0; i < n; i++) {
      if (position_score(s, q, p, i, 0) > 0) {
        if (run + 1 > best) {
          best = run + 1;
          g = run_start;
          f = i + 1;
        }
        run++;
      } else {
        run -= s->mismatch;
        if (run <= 0) {
          run = 0;
          run_start = i + 1;
        }
      }
    }
  }
  write_clipped(code, p, g, f, n);
}

// Colour space: forward rows of the four states, then a traceback from the
// end. Rows per position i: the value before the position after a restart
// (restarted) and after a state change (changed); the end row holds the
// values after the last position. Exact integers, so that the path found
// scores what the scorer's saturated bytes give whenever that is 0 or more.
void align_colour(ungapped_scorer_t *s, candidate_t c, int64_t p, int32_t n, alignment_code_t *code) {
  const uint32_t q = c.query;
  const int odd = q & 1;
  const int32_t cost = s->colour_cost;
  const bool restart = s->mode == kAlignModeLocal || (s->mode == kAlignModeSemiGlobal && odd);
  const bool free_end = s->mode == kAlignModeLocal || (s->mode == kAlignModeSemiGlobal && !odd);
  int32_t *restarted = s->trace;
  int32_t *changed = s->trace + 4 * (kUngappedMaxQuery + 1);
  int32_t *last = s->trace + 8 * (kUngappedMaxQuery + 1);
  int32_t start[4];
  for (int32_t k = 0; k < 4; k++) start[k] = (k == 0 || odd) ? 0 : kNone;

  int32_t row[4] = {start[0], start[1], start[2], start[3]};
  for (int32_t i = 0; i < n; i++) {
    int32_t *r = restarted + 4 * i;
    int32_t *a = changed + 4 * i;
    int32_t top = kNone;
    for (int32_t k = 0; k < 4; k++) {
      r[k] = restart && start[k] > row[k] ? start[k] : row[k];
      if (r[k] > top) top = r[k];
    }
    for (int32_t k = 0; k < 4; k++) {
      a[k] = r[k] > top - cost ? r[k] : top - cost;
      row[k] = a[k] + position_score(s, q, p, i, k);
    }
  }
  for (int32_t k = 0; k < 4; k++) last[k] = row[k];

  // End: the highest value after the odd query's end cost; ties to the
  // lowest state, then the earliest row, the end row last.
  int32_t end_row = n, state = 0, best = kNone;
  for (int32_t k = 0; k < 4; k++) {
    const int32_t charge = (odd && k != 0) ? cost : 0;
    if (free_end) {
      for (int32_t i = 0; i < n; i++) {
        if (changed[4 * i + k] - charge > best) {
          best = changed[4 * i + k] - charge;
          end_row = i;
          state = k;
        }
      }
    }
    if (last[k] - charge > best) {
      best = last[k] - charge;
      end_row = n;
      state = k;
    }
  }

  alignment_code_reset(code, static_cast<int32_t>(p + end_row), 1);
  alignment_code_add_run(code, kCodeOpInsertion, n - end_row);
  // Walk back: at the end row (after a position) or at a changed row.
  int32_t i = end_row;
  int32_t value = end_row == n ? last[state] : changed[4 * end_row + state];
  bool after_position = end_row == n && n > 0;
  bool columns = false;  // aligned columns written in the current state
  for (;;) {
    if (after_position) {
      value -= position_score(s, q, p, i - 1, state);
      i--;
      if (value != changed[4 * i + state]) alignment_error();
      alignment_code_add(code, kCodeOpMatch);
      columns = true;
      after_position = false;
      continue;
    }
    // At a changed row: stayed in the state, or changed into it here.
    const int32_t *r = restarted + 4 * i;
    if (n > 0 && value != r[state]) {
      int32_t from = -1;
      for (int32_t k = 0; k < 4 && from < 0; k++) {
        if (k != state && r[k] - cost == value) from = k;
      }
      if (from < 0) alignment_error();
      if (columns) {
        alignment_code_add(code, kCodeOpEscape);
        alignment_code_add(code, state);
      }
      columns = false;
      state = from;
      value = r[from];
    }
    // At a restarted row: a fresh start ends the walk.
    if (start[state] != kNone && value == start[state] && (restart || i == 0)) break;
    if (i == 0) alignment_error();
    after_position = true;
  }
  alignment_code_add_run(code, kCodeOpInsertion, i);
  if (state != 0) {
    alignment_code_add(code, kCodeOpEscape);
    alignment_code_add(code, state);
  }
  alignment_code_finish(code);
}

}  // namespace

void ungapped_align(ungapped_scorer_t *scorer, candidate_t candidate, uint16_t best, alignment_code_t *code) {
  const int64_t p = ungapped_candidate_position(candidate);
  const int32_t n = scorer->lengths[candidate.query];
  const bool whole = best == n || (!scorer->colour && scorer->mode == kAlignModeGlobal);
  // In colour space a perfect score proves a path in state 0 throughout
  // only when state changes cost something.
  if (whole && (!scorer->colour || scorer->colour_cost > 0)) {
    alignment_code_reset(code, static_cast<int32_t>(p), 0);
    alignment_code_add_run(code, kCodeOpMatch, n);
    return;
  }
  if (scorer->colour)
    align_colour(scorer, candidate, p, n, code);
  else
    align_nucleotide(scorer, candidate, p, n, code);
}
