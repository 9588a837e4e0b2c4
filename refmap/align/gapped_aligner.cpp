// Gapped aligner: the kept rerun of the band and the traceback.
#include "refmap/align/gapped_aligner.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "refmap/align/gapped_kernel.h"
#include "refmap/align/gapped_scorer.h"
#include "seqio/alignment_code.h"

namespace {

// Value of a visited cell.
constexpr int32_t kVisited = -1000000;
// Most rebases a kept rerun can hold (queries of at most
// kGappedMaxQueryLength bases take fewer rows).
constexpr int32_t kMaxRebaseBlocks = 8;

// What one traceback reads.
struct walk_t {
  const gapped_scorer_t *scorer;
  const gapped_start_t *rules;
  uint8_t *rows;
  int32_t states;
  int32_t bases[kMaxRebaseBlocks];  // base offset per 32-row block
  int64_t first;                    // block position of diagonal 0 at query base 0
  const uint8_t *query;             // padded query: base i at i + 7
};

// Absolute value of cell (row, state, diagonal), kVisited when marked.
int32_t cell_value(const walk_t &w, int32_t row, int32_t state, int32_t diagonal) {
  const uint8_t byte = w.rows[(row * w.states + state) * 16 + diagonal];
  if (byte == 0xff) return kVisited;
  return byte + w.bases[row / kGappedRebaseRows];
}

void mark_cell(const walk_t &w, int32_t row, int32_t state, int32_t diagonal) {
  w.rows[(row * w.states + state) * 16 + diagonal] = 0xff;
}

// Score of query base i on diagonal k in a state: +1 when the block base is
// known and equals the query code exclusive-ored with the state, else -x.
int32_t cell_score(const walk_t &w, int32_t i, int32_t diagonal, int32_t state) {
  const int64_t position = w.first + diagonal + i;
  const uint8_t query = w.query[7 + i];
  if (position < 0 || query > 3) return -w.scorer->x;
  const int shift = static_cast<int>(2 * (position & 3));
  if (((w.scorer->known[position >> 2] >> shift) & 3) != 3) return -w.scorer->x;
  const int32_t base = (w.scorer->bases[position >> 2] >> shift) & 3;
  return base == (query ^ state) ? 1 : -w.scorer->x;
}

[[noreturn]] void alignment_error(const gapped_scorer_t *scorer, int32_t kind, int32_t query) {
  if (scorer->colour)
    fprintf(stderr, "Alignment error color space %d, query %d\n", kind, query);
  else if (scorer->mode == 0)
    fprintf(stderr, "Alignment error %d\n", kind == 0 ? 0 : 1);
  else
    fprintf(stderr, "Alignment error %d, query %d\n", kind, query);
  ryx_exit(1);
}

// Steps of the walk.
enum step_t { kStepAligned, kStepDeletion, kStepInsertion };

int drop(alignment_code_t *code) {
  alignment_code_reset(code, 0, 0);
  return 0;
}

}  // namespace

gapped_aligner_t *gapped_aligner_new(gapped_scorer_t *scorer) {
  auto *aligner = static_cast<gapped_aligner_t *>(ryx_calloc(sizeof(gapped_aligner_t)));
  aligner->scorer = scorer;
  return aligner;
}

gapped_aligner_t *gapped_aligner_free(gapped_aligner_t *aligner) {
  if (aligner == nullptr) return nullptr;
  ryx_free(aligner->row_memory);
  ryx_free(aligner->rebases);
  ryx_free(aligner);
  return nullptr;
}

void gapped_aligner_fill(gapped_aligner_t *aligner, const candidate_t *candidate, uint16_t wanted_mask) {
  gapped_scorer_t *scorer = aligner->scorer;
  const uint32_t q = candidate->query;
  const int32_t n = q < static_cast<uint32_t>(scorer->query_count) ? scorer->lengths[q] : 0;
  const int32_t needed = (n + 7) * (scorer->colour ? 4 : 1);
  if (needed > aligner->row_capacity) {
    ryx_free(aligner->row_memory);
    ryx_free(aligner->rebases);
    aligner->row_memory = static_cast<uint8_t *>(ryx_calloc(static_cast<size_t>(needed) * 16 + 15));
    const uintptr_t address = reinterpret_cast<uintptr_t>(aligner->row_memory);
    aligner->rows = aligner->row_memory + ((16 - (address & 15)) & 15);
    aligner->rebases = static_cast<int8_t *>(ryx_calloc(static_cast<size_t>(needed / kGappedRebaseRows + 2)));
    aligner->row_capacity = needed;
  }
  aligner->wanted_mask = wanted_mask;
  aligner->candidate = *candidate;
  uint16_t score = 0;
  uint16_t mask = 0;
  scorer->sink_rows = aligner->rows;
  scorer->sink_rebases = aligner->rebases;
  gapped_scorer_run(scorer, candidate, 1, &score, &mask);
  scorer->sink_rows = nullptr;
  scorer->sink_rebases = nullptr;
  aligner->score = score;
  aligner->end_mask = mask;
}

int gapped_aligner_align(gapped_aligner_t *aligner, alignment_code_t *code) {
  while (aligner->end_mask != 0)
    if (gapped_aligner_traceback(aligner, code)) return 1;
  alignment_code_reset(code, 0, 0);
  return 0;
}

int gapped_aligner_traceback(gapped_aligner_t *aligner, alignment_code_t *code) {
  if (aligner->end_mask == 0) return drop(code);
  const int32_t k = __builtin_ctz(aligner->end_mask);
  aligner->end_mask = static_cast<uint16_t>(aligner->end_mask & (aligner->end_mask - 1));

  const gapped_scorer_t *scorer = aligner->scorer;
  const uint32_t q = aligner->candidate.query;
  const int32_t query_index = static_cast<int32_t>(q);
  const int32_t n = scorer->lengths[q];
  const int32_t rows = n + 7;
  walk_t w;
  w.scorer = scorer;
  w.rules = &scorer->starts[q & 1];
  w.rows = aligner->rows;
  w.states = scorer->colour ? 4 : 1;
  w.first = static_cast<int64_t>(aligner->candidate.position) - 7;
  w.query = scorer->padded[q];
  w.bases[0] = 0;
  for (int32_t block = 1; block < kMaxRebaseBlocks && block * kGappedRebaseRows < rows; block++)
    w.bases[block] = w.bases[block - 1] - aligner->rebases[block - 1];
  const gapped_start_t &rules = *w.rules;
  const int32_t best = aligner->score + rules.zero;
  // States in which a path may end.
  const int32_t end_states = rules.track_state0 ? 1 : w.states;

  // The end cell: on the last query base for anchored ends, else the first
  // row from the top whose cell equals the score.
  int32_t end = -1;
  int32_t state = -1;
  bool met_visited = false;
  for (int32_t e = rules.anchored_end ? n - 1 : 0; e < n && state < 0; e++) {
    for (int32_t s = 0; s < end_states; s++) {
      const int32_t value = cell_value(w, e + k / 2, s, k);
      if (value == kVisited) {
        met_visited = true;
      } else if (value == best) {
        end = e;
        state = s;
        break;
      }
    }
  }
  if (state < 0) {
    if (met_visited) return drop(code);
    alignment_error(scorer, 1, query_index);
  }

  const int32_t end_row = end + k / 2;
  alignment_code_reset(code, static_cast<int32_t>(aligner->candidate.position) - 6 + end_row + (k + 1) / 2, 1);
  alignment_code_add_run(code, kCodeOpInsertion, n - 1 - end);

  int32_t i = end;
  int32_t diagonal = k;
  int32_t value = best;
  bool after_aligned = true;
  while (i >= 0) {
    const int32_t row = i + diagonal / 2;
    mark_cell(w, row, state, diagonal);
    if (!rules.anchored_start && value == rules.start[state]) {
      // The path starts after this cell: the query bases up to it are
      // clipped.
      alignment_code_add_run(code, kCodeOpInsertion, i + 1);
      break;
    }
    bool visited = false;
    // Predecessor values; before query base 0 the start values.
    const int32_t aligned_value = i == 0 ? rules.start[state] : cell_value(w, row - 1, state, diagonal);
    const int32_t deletion_value =
        diagonal > 0 ? cell_value(w, i + (diagonal - 1) / 2, state, diagonal - 1) : kVisited - 1;
    const int32_t insertion_value =
        diagonal < kGappedBandWidth - 1
            ? (i == 0 ? rules.start[state] : cell_value(w, i - 1 + (diagonal + 1) / 2, state, diagonal + 1))
            : kVisited - 1;
    const step_t order_aligned_first[3] = {kStepAligned, kStepDeletion, kStepInsertion};
    const step_t order_gaps_first[3] = {kStepDeletion, kStepInsertion, kStepAligned};
    const step_t *order = after_aligned ? order_aligned_first : order_gaps_first;
    int taken = -1;
    for (int o = 0; o < 3 && taken < 0; o++) {
      int32_t predecessor;
      int32_t wanted;
      if (order[o] == kStepAligned) {
        predecessor = aligned_value;
        wanted = value - cell_score(w, i, diagonal, state);
      } else if (order[o] == kStepDeletion) {
        predecessor = deletion_value;
        wanted = value + scorer->d;
      } else {
        predecessor = insertion_value;
        wanted = value + scorer->g;
      }
      if (predecessor == kVisited)
        visited = true;
      else if (predecessor == wanted)
        taken = order[o];
    }
    if (taken == kStepAligned) {
      alignment_code_add(code, kCodeOpMatch);
      value = aligned_value;
      i--;
      after_aligned = true;
    } else if (taken == kStepDeletion) {
      alignment_code_add(code, kCodeOpDeletion);
      value = deletion_value;
      diagonal--;
      after_aligned = false;
    } else if (taken == kStepInsertion) {
      alignment_code_add(code, kCodeOpInsertion);
      value = insertion_value;
      i--;
      diagonal++;
      after_aligned = false;
    } else {
      // Colour space: the state changed at this cell.
      int32_t other = -1;
      for (int32_t s = 0; s < w.states && other < 0; s++) {
        if (s == state) continue;
        const int32_t v = cell_value(w, row, s, diagonal);
        if (v == kVisited)
          visited = true;
        else if (v - scorer->c == value)
          other = s;
      }
      if (other < 0) {
        if (visited) return drop(code);
        alignment_error(scorer, !rules.anchored_start && i == 0 ? 0 : 2, query_index);
      }
      alignment_code_add(code, kCodeOpEscape);
      alignment_code_add(code, state);
      state = other;
      value = cell_value(w, row, state, diagonal);
    }
  }
  if (state != 0) {
    alignment_code_add(code, kCodeOpEscape);
    alignment_code_add(code, state);
  }
  if ((aligner->wanted_mask >> k & 1) == 0) return drop(code);
  return 1;
}
