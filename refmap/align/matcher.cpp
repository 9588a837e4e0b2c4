#include "refmap/align/matcher.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "refmap/align/candidate_filter.h"
#include "refmap/align/gapped_aligner.h"
#include "refmap/align/gapped_scorer.h"
#include "refmap/align/hit_iterator.h"
#include "refmap/align/ungapped_align.h"
#include "refmap/align/ungapped_scorer.h"
#include "refmap/hit_hash.h"
#include "refmap/ref_block.h"
#include "seqio/alignment_code.h"
#include "seqio/seq_record.h"

// --- Helpers without state ---

int32_t matcher_mask_bits(uint32_t mask) {
  uint32_t v = mask & 0xFFFFu;
  v = (v & 0x5555u) + ((v >> 1) & 0x5555u);
  v = (v & 0x3333u) + ((v >> 2) & 0x3333u);
  v = (v & 0x0F0Fu) + ((v >> 4) & 0x0F0Fu);
  return static_cast<int32_t>((v & 0xFFu) + (v >> 8));
}

int32_t matcher_effective_colour_cost(int32_t c, int32_t score_limit) {
  if (c == -1 || score_limit < 0 || c <= score_limit) return c;
  return -1;
}

void matcher_score_rates(int32_t x, int32_t g, int32_t d, double similarity, double length_fraction, double *upper,
                         double *lower) {
  const double miss = 1.0 - similarity;
  const double a = 1.0 - (g + 1) * miss;
  const double b = 1.0 - d / (1.0 / miss - 1.0);
  const double c = 1.0 - (x + 1) * miss;
  *upper = std::max(a, std::max(b, c));
  *lower = length_fraction * std::min(a, std::min(b, c));
}

int32_t matcher_near_merge(const candidate_t *list, int32_t count, candidate_t *out, const uint16_t *prescores,
                           uint16_t *out_prescores) {
  int32_t merged = 0;
  int32_t i = 0;
  while (i < count) {
    const candidate_t first = list[i];
    int32_t last = i;
    // 64-bit sums: diagonals just before the block are stored as values
    // near 2^32, and their runs must neither end early nor average to a
    // wrapped position.
    const uint64_t limit = static_cast<uint64_t>(first.position) + kMatcherMergeDistance;
    while (last + 1 < count && list[last + 1].query == first.query && list[last + 1].position <= limit) last++;
    candidate_t c = first;
    if (last > i) {
      c.position = static_cast<uint32_t>((static_cast<uint64_t>(first.position) + list[last].position) / 2u);
    }
    // Written after reading the run, so out may be list itself.
    if (prescores != nullptr) out_prescores[merged] = prescores[i];
    out[merged++] = c;
    i = last + 1;
  }
  return merged;
}

int32_t matcher_keep_best_prescores(candidate_t *list, uint16_t *prescores, int32_t count) {
  int32_t kept = 0;
  int32_t i = 0;
  while (i < count) {
    const uint32_t query = list[i].query;
    const int32_t query_start = kept;
    uint16_t best = 0;
    for (; i < count && list[i].query == query; i++) {
      if (prescores[i] > best) {
        best = prescores[i];
        kept = query_start;
      } else if (prescores[i] < best) {
        continue;
      }
      list[kept] = list[i];
      prescores[kept] = prescores[i];
      kept++;
    }
  }
  return kept;
}

// --- Lookup batches ---

namespace {

void grow_candidates(matcher_state_t *state, int32_t needed) {
  if (needed <= state->capacity) return;
  state->capacity = needed;
  state->candidates = static_cast<candidate_t *>(
      ryx_realloc(state->candidates, (static_cast<size_t>(needed) + 1) * sizeof(candidate_t)));
}

void grow_prescores(matcher_state_t *state, int32_t needed) {
  if (needed <= state->prescore_capacity) return;
  state->prescore_capacity = needed;
  state->prescore_buffer =
      static_cast<uint16_t *>(ryx_realloc(state->prescore_buffer, static_cast<size_t>(needed) * sizeof(uint16_t)));
}

// Near-merges list into the candidate buffer, doubling it whenever the
// output would fill it.
int32_t merge_into_buffer(matcher_state_t *state, const candidate_t *list, int32_t count) {
  // The merged list is never longer than its input; grow by doubling to
  // hold the worst case before merging.
  while (state->capacity < count) grow_candidates(state, state->capacity * 2);
  return matcher_near_merge(list, count, state->candidates, nullptr, nullptr);
}

void lookup_batch(matcher_state_t *state) {
  hit_hash_t *hash = state->hash;
  state->batch_end = state->services.search_batch(hash);
  const int32_t found = hash->count;
  int32_t count = 0;
  if (state->ungapped != nullptr) {
    grow_candidates(state, found);
    if (found > 0) memcpy(state->candidates, hash->candidates, static_cast<size_t>(found) * sizeof(candidate_t));
    count = found;
  } else {
    count = merge_into_buffer(state, hash->candidates, found);
  }
  state->prescores = nullptr;
  state->end_masks = nullptr;
  if (state->gapped == nullptr) {
    state->scores = ungapped_scorer_score(state->ungapped, state->candidates, count);
  } else if (state->ungapped == nullptr) {
    state->scores = gapped_scorer_score(state->gapped, state->candidates, count);
    state->end_masks = gapped_scorer_scores(state->gapped);
  } else {
    const uint16_t *ungapped = ungapped_scorer_score(state->ungapped, state->candidates, count);
    grow_prescores(state, count);
    if (count > 0) memcpy(state->prescore_buffer, ungapped, static_cast<size_t>(count) * sizeof(uint16_t));
    count = matcher_keep_best_prescores(state->candidates, state->prescore_buffer, count);
    count = matcher_near_merge(state->candidates, count, state->candidates, state->prescore_buffer,
                               state->prescore_buffer);
    state->prescores = state->prescore_buffer;
    state->scores = gapped_scorer_score(state->gapped, state->candidates, count);
    state->end_masks = gapped_scorer_scores(state->gapped);
  }
  state->candidate_count = count;
  state->cursor = 0;
}

// --- Collecting a query's candidates ---

void keep_candidate(matcher_query_t *p, candidate_t candidate, uint16_t mask, int gapped) {
  if (p->kept_count == p->kept_capacity) {
    p->kept_capacity *= 2;
    p->kept = static_cast<candidate_t *>(
        ryx_realloc(p->kept, static_cast<size_t>(p->kept_capacity) * sizeof(candidate_t)));
    if (gapped) {
      p->kept_masks = static_cast<uint16_t *>(
          ryx_realloc(p->kept_masks, static_cast<size_t>(p->kept_capacity) * sizeof(uint16_t)));
    }
  }
  p->kept[p->kept_count] = candidate;
  if (gapped) p->kept_masks[p->kept_count] = mask;
  p->kept_count++;
}

// The query's record; null for an excluded strand (or past the last query).
const seq_record_t *query_record(const matcher_state_t *state, int32_t query) {
  return query >= 0 && query < state->query_count ? state->queries[query] : nullptr;
}

int32_t query_length(const matcher_state_t *state, int32_t query) {
  const seq_record_t *record = query_record(state, query);
  return record != nullptr ? static_cast<int32_t>(record->length) : 0;
}

// Beyond the score limit: length - best above the limit, unsigned.
bool over_limit(const matcher_state_t *state, int32_t length, uint16_t best) {
  return static_cast<uint32_t>(length - best) > static_cast<uint32_t>(state->score_limit);
}

void collect(matcher_state_t *state, matcher_query_t *p) {
  const uint32_t query = static_cast<uint32_t>(p->query);
  const int gapped = state->gapped != nullptr;
  const bool here = state->cursor < state->candidate_count && state->candidates[state->cursor].query == query;
  p->prescore = state->prescores != nullptr && here ? state->prescores[state->cursor] : 0;
  p->had_candidates = 0;
  p->best = 0;
  p->kept_count = 0;
  while (state->cursor < state->candidate_count && state->candidates[state->cursor].query == query) {
    const int32_t k = state->cursor++;
    p->had_candidates = 1;
    const uint16_t score = state->scores[k];
    if (score > p->best) {
      p->best = score;
      p->kept_count = 0;
      if (state->prescores != nullptr) p->prescore = state->prescores[k];
    } else if (score < p->best) {
      continue;
    }
    keep_candidate(p, state->candidates[k], gapped ? state->end_masks[k] : 0, gapped);
  }
  const int32_t length = query_length(state, p->query);
  bool drop = query_record(state, p->query) == nullptr;
  if (!drop && state->score_limit >= 0) {
    drop = over_limit(state, length, p->best);
  } else if (!drop) {
    drop = static_cast<double>(p->best) / length < state->lower_rate;
  }
  if (drop) {
    p->best = 0;
    p->kept_count = 0;
  }
  p->kept_index = -1;
}

// --- Building alignments ---

[[noreturn]] void alignment_error(const matcher_state_t *state, int32_t query) {
  fprintf(stderr, "Alignment error %d\n", query);
  const seq_record_t *record = query_record(state, query);
  const uint32_t length = record != nullptr ? record->length : 0;
  for (uint32_t i = 0; i < length; i++) fputc(record->residues[i] + 'A', stderr);
  fputc('\n', stderr);
  int previous = 3;
  for (uint32_t i = 0; i < length; i++) {
    fprintf(stderr, "%d", record->residues[i] ^ previous);
    previous = record->residues[i];
  }
  fputc('\n', stderr);
  ryx_exit(1);
}

bool block_known(const ref_block_t *block, int64_t position) {
  if (position < 0 || position >= block->length) return false;
  return ((block->known[position >> 2] >> (2 * (position & 3))) & 3) == 3;
}

// Rewrites the code of p to the piece [start, end) of the block: match
// columns outside become insertions, deletions outside are dropped, and
// escapes before the piece are held back until the walk reaches it.
void rewrite_to_piece(matcher_query_t *p, int64_t start, int64_t end) {
  alignment_code_t *out = p->clamped;
  alignment_code_reset(out, static_cast<int32_t>(start), 0);
  alignment_code_iter_t iter;
  alignment_code_iter_init(&iter, p->code_length, p->code_bytes);
  int64_t position = p->aligned_start;
  int held = -1;
  for (int op = alignment_code_iter_next(&iter); op != 0; op = alignment_code_iter_next(&iter)) {
    if (op == 4) {
      const int argument = alignment_code_iter_next(&iter);
      if (position < start) {
        held = argument;
      } else {
        alignment_code_add(out, 4);
        alignment_code_add(out, argument);
      }
      continue;
    }
    if (op == 2) {
      alignment_code_add(out, 2);
      continue;
    }
    const bool inside = position >= start && position < end;
    if (inside && held >= 0) {
      alignment_code_add(out, 4);
      alignment_code_add(out, held);
      held = -1;
    }
    if (op == 1) {
      alignment_code_add(out, inside ? 1 : 2);
    } else if (inside) {
      alignment_code_add(out, 3);
    }
    position++;
  }
  p->aligned_start = alignment_code_get_position(out);
  p->code_bytes = alignment_code_get_bytes(out);
  p->code_length = alignment_code_get_length(out);
}

void clamp_to_piece(matcher_query_t *p) {
  const matcher_state_t *state = p->state;
  if (state->mode == kAlignModeLocal) return;
  const int64_t start = p->aligned_start;
  const int64_t end = start + alignment_code_reference_length(p->code_length, p->code_bytes);
  if (block_known(state->block, start) && block_known(state->block, end - 1)) return;
  int64_t clamped_start = start;
  int64_t clamped_end = end;
  state->services.clamp_to_piece(state->block, &clamped_start, &clamped_end);
  if (clamped_start == start && clamped_end == end) return;
  rewrite_to_piece(p, clamped_start, clamped_end);
}

// Builds the current hit's alignment; 0 when the aligner has none.
int build_alignment(matcher_query_t *p) {
  matcher_state_t *state = p->state;
  const candidate_t candidate = p->kept[p->kept_index];
  const bool first = p->new_candidate != 0;
  if (first) {
    p->new_candidate = 0;
  } else {
    p->further++;
  }
  if (p->aligner != nullptr) {
    if (first) gapped_aligner_fill(p->aligner, &candidate, static_cast<uint16_t>(p->remaining_mask));
    if (!gapped_aligner_align(p->aligner, p->code)) return 0;
  } else {
    ungapped_align(state->ungapped, candidate, p->best, p->code);
  }
  if (alignment_code_get_length(p->code) == 0) return 0;
  p->aligned_start = alignment_code_get_position(p->code);
  p->code_bytes = alignment_code_get_bytes(p->code);
  p->code_length = alignment_code_get_length(p->code);
  clamp_to_piece(p);
  return 1;
}

void ensure_alignment(matcher_query_t *p) {
  if (p->code_length != -1) return;
  if (!build_alignment(p)) alignment_error(p->state, p->query);
}

// --- Iterator operations ---

matcher_query_t *payload_of(void *payload) { return static_cast<matcher_query_t *>(payload); }

int32_t current_position(const matcher_query_t *p) { return static_cast<int32_t>(p->kept[p->kept_index].position); }

int32_t current_length(const matcher_query_t *p) { return query_length(p->state, p->query); }

int ungapped_next(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  const matcher_state_t *state = p->state;
  if (p->kept_index == -1 && p->kept_count > 0 && state->score_limit >= 0 &&
      over_limit(state, current_length(p), p->best)) {
    return 0;
  }
  if (p->kept_index < p->kept_count) p->kept_index++;
  p->new_candidate = 1;
  if (p->kept_index >= p->kept_count) return 0;
  p->code_length = -1;
  return 1;
}

void ungapped_mark(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  p->mark_index = p->kept_index;
}

void ungapped_reset_to_mark(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  p->kept_index = p->mark_index - 1;
}

// The fraction test of a hit that is not accepted by its score alone.
bool fraction_accepts(matcher_query_t *p) {
  const matcher_state_t *state = p->state;
  ensure_alignment(p);
  const double fraction = alignment_code_similar_fraction(p->code_length, p->code_bytes, p->aligned_start, 0, -1,
                                                           state->block->bases, state->similarity,
                                                           state->block->known, state->queries[p->query]);
  return fraction >= state->length_fraction;
}

int gapped_next(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  const matcher_state_t *state = p->state;
  if (p->kept_index == -1 && p->kept_count > 0) {
    const int32_t length = current_length(p);
    if (state->score_limit >= 0) {
      if (over_limit(state, length, p->best)) return 0;
      p->accept_all = 1;
    } else {
      const double rate = static_cast<double>(p->best) / length;
      p->accept_all = rate >= state->length_fraction && rate >= state->upper_rate;
    }
  }
  for (;;) {
    bool built = false;
    if (p->more_ends) {
      built = build_alignment(p) != 0;
      if (!built) p->more_ends = 0;
    }
    if (!built) {
      if (p->kept_index < p->kept_count) p->kept_index++;
      p->new_candidate = 1;
      p->further = 0;
      if (p->kept_index >= p->kept_count) return 0;
      p->previous_mask = p->full_mask;
      p->full_mask = p->remaining_mask = p->kept_masks[p->kept_index];
      p->more_ends = 0;
      p->code_length = -1;
      bool handled = false;
      if (p->previous_mask != 0) {
        const uint32_t distance = p->kept[p->kept_index].position - p->kept[p->kept_index - 1].position;
        if (distance >= 16) {
          p->previous_mask = 0;
        } else if ((p->previous_mask >> distance) != 0) {
          p->remaining_mask = p->full_mask & ~(p->previous_mask >> distance) & 0xFFFFu;
          if (p->remaining_mask == 0) continue;
          if (!build_alignment(p)) continue;
          p->more_ends = 1;
          handled = true;
        }
      }
      if (!handled) {
        const int32_t bits = matcher_mask_bits(p->remaining_mask);
        if (bits == 0) continue;
        if (bits > 1) {
          p->more_ends = 1;
          if (!build_alignment(p)) alignment_error(state, p->query);
        }
      }
    }
    if (p->accept_all || fraction_accepts(p)) break;
  }
  p->yield_previous_mask = p->previous_mask;
  p->yield_full_mask = p->full_mask;
  p->yield_remaining_mask = p->remaining_mask;
  p->yield_more_ends = p->more_ends;
  return 1;
}

void gapped_mark(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  p->mark_index = p->kept_index;
  p->mark_previous_mask = p->yield_previous_mask;
  p->mark_full_mask = p->yield_full_mask;
  p->mark_remaining_mask = p->yield_remaining_mask;
  p->mark_more_ends = p->yield_more_ends;
  p->mark_further = p->further;
}

void gapped_reset_to_mark(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  p->kept_index = p->mark_index;
  p->previous_mask = p->mark_previous_mask;
  p->full_mask = p->mark_full_mask;
  p->remaining_mask = p->mark_remaining_mask;
  p->new_candidate = 1;
  p->further = 0;
  p->code_length = -1;
  if (p->kept_index < 0 || p->kept_index >= p->kept_count) {
    // Marked before the first hit or after the last: the walk starts over
    // from there.
    p->more_ends = 0;
    return;
  }
  p->more_ends = 1;
  // Replays the marked candidate's earlier alignments so that the aligner
  // stands where it stood before the marked one was built.
  for (int32_t k = 0; k < p->mark_further; k++) {
    if (!build_alignment(p)) alignment_error(p->state, p->query);
  }
  p->code_length = -1;
}

int32_t op_score(hit_iterator_t *, void *payload) { return payload_of(payload)->best; }

int32_t op_prescore(hit_iterator_t *, void *payload) {
  const matcher_query_t *p = payload_of(payload);
  return p->state->gapped != nullptr && p->state->ungapped != nullptr ? p->prescore : p->best;
}

int32_t op_had_candidates(hit_iterator_t *, void *payload) { return payload_of(payload)->had_candidates; }

int op_had_candidates_step(hit_iterator_t *it, void *payload) { return op_had_candidates(it, payload); }

int32_t op_aligned_start(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  ensure_alignment(p);
  return p->aligned_start;
}

int32_t op_aligned_end(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  ensure_alignment(p);
  return p->aligned_start + static_cast<int32_t>(alignment_code_reference_length(p->code_length, p->code_bytes));
}

int32_t op_code_length(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  ensure_alignment(p);
  return p->code_length;
}

const uint8_t *op_code_data(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  ensure_alignment(p);
  return p->code_bytes;
}

int32_t op_min_pos(hit_iterator_t *, void *payload) { return current_position(payload_of(payload)) - 8; }

int32_t op_max_pos(hit_iterator_t *, void *payload) {
  const matcher_query_t *p = payload_of(payload);
  return current_position(p) + current_length(p) + 7;
}

// Ungapped hits lie on their diagonal: start and end are exact.
int32_t ungapped_start(hit_iterator_t *, void *payload) { return current_position(payload_of(payload)); }

int32_t ungapped_end(hit_iterator_t *, void *payload) {
  const matcher_query_t *p = payload_of(payload);
  return current_position(p) + current_length(p);
}

int32_t gapped_min_start(hit_iterator_t *, void *payload) { return current_position(payload_of(payload)) - 8; }

int32_t gapped_max_start(hit_iterator_t *, void *payload) { return current_position(payload_of(payload)) + 7; }

int32_t gapped_read_start(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  ensure_alignment(p);
  return p->aligned_start - static_cast<int32_t>(alignment_code_leading_insertions(p->code_length, p->code_bytes));
}

int32_t gapped_min_end(hit_iterator_t *, void *payload) {
  const matcher_query_t *p = payload_of(payload);
  return current_position(p) + current_length(p) - 8;
}

int32_t gapped_max_end(hit_iterator_t *, void *payload) {
  const matcher_query_t *p = payload_of(payload);
  return current_position(p) + current_length(p) + 7;
}

int32_t gapped_read_end(hit_iterator_t *, void *payload) {
  matcher_query_t *p = payload_of(payload);
  ensure_alignment(p);
  const int32_t reference = static_cast<int32_t>(alignment_code_reference_length(p->code_length, p->code_bytes));
  const int32_t span = static_cast<int32_t>(alignment_code_read_span(p->code_length, p->code_bytes));
  return p->aligned_start + reference + current_length(p) - span;
}

hit_iterator_t *iterator_new(matcher_state_t *state, int gapped) {
  auto *p = static_cast<matcher_query_t *>(ryx_calloc(sizeof(matcher_query_t)));
  p->state = state;
  p->code = alignment_code_new();
  p->clamped = alignment_code_new();
  p->code_length = -1;
  p->kept_index = -1;
  p->mark_index = -1;
  p->kept_capacity = kMatcherInitialCapacity;
  p->kept = static_cast<candidate_t *>(ryx_malloc(kMatcherInitialCapacity * sizeof(candidate_t)));
  if (gapped) {
    p->kept_masks = static_cast<uint16_t *>(ryx_malloc(kMatcherInitialCapacity * sizeof(uint16_t)));
    p->aligner = gapped_aligner_new(state->gapped);
  }
  hit_iterator_t *it = hit_iterator_alloc();
  it->payload = p;
  it->next = gapped ? gapped_next : ungapped_next;
  it->mark = gapped ? gapped_mark : ungapped_mark;
  it->reset_to_mark = gapped ? gapped_reset_to_mark : ungapped_reset_to_mark;
  it->score = op_score;
  it->prescore = op_prescore;
  it->min_start = gapped ? gapped_min_start : ungapped_start;
  it->max_start = gapped ? gapped_max_start : ungapped_start;
  it->read_start = gapped ? gapped_read_start : ungapped_start;
  it->min_end = gapped ? gapped_min_end : ungapped_end;
  it->max_end = gapped ? gapped_max_end : ungapped_end;
  it->read_end = gapped ? gapped_read_end : ungapped_end;
  it->min_pos = op_min_pos;
  it->max_pos = op_max_pos;
  it->aligned_start = op_aligned_start;
  it->aligned_end = op_aligned_end;
  it->code_length = op_code_length;
  it->code_data = op_code_data;
  it->had_candidates = op_had_candidates_step;
  return it;
}

hit_iterator_t *iterator_free(hit_iterator_t *it) {
  if (it == nullptr) return nullptr;
  auto *p = payload_of(it->payload);
  alignment_code_free(p->code);
  alignment_code_free(p->clamped);
  ryx_free(p->kept);
  ryx_free(p->kept_masks);
  gapped_aligner_free(p->aligner);
  ryx_free(p);
  return hit_iterator_dealloc(it);
}

}  // namespace

// --- The matcher ---

matcher_t *matcher_new(hit_hash_t *hash, const ref_block_t *block, int16_t x, int16_t g, int16_t d, int16_t c,
                       double length_fraction, double similarity, int32_t score_limit, int32_t ungapped_flag,
                       int32_t gapped_flag, int32_t mode, int32_t filter_mode, seq_record_t **queries,
                       int32_t query_count, const matcher_services_t *services) {
  auto *state = static_cast<matcher_state_t *>(ryx_calloc(sizeof(matcher_state_t)));
  state->hash = hash;
  state->block = block;
  state->queries = queries;
  state->query_count = query_count;
  state->length_fraction = length_fraction;
  state->similarity = similarity;
  state->score_limit = score_limit;
  state->mode = mode;
  state->services = *services;
  const int16_t colour_cost = static_cast<int16_t>(matcher_effective_colour_cost(c, score_limit));
  state->colour_cost = colour_cost;
  if (gapped_flag) {
    state->gapped = gapped_scorer_new(queries, query_count, block->bases, block->known, x, g, d, mode, colour_cost);
  }
  if (ungapped_flag) {
    state->ungapped = ungapped_scorer_new(queries, query_count, block->bases, block->known, x, colour_cost, mode);
  }
  for (int32_t k = 0; k < kMatcherIterators; k++) state->iterators[k] = iterator_new(state, gapped_flag != 0);
  state->capacity = kMatcherInitialCapacity;
  state->candidates =
      static_cast<candidate_t *>(ryx_malloc((static_cast<size_t>(kMatcherInitialCapacity) + 1) * sizeof(candidate_t)));
  state->current_query = -1;
  state->batch_end = 0;
  state->services.pack_queries(hash, queries, query_count);
  if (filter_mode != -1) {
    state->filter = candidate_filter_new(queries, query_count, block->bases, block->known, block->length,
                                         filter_mode, colour_cost != -1);
    state->services.attach_filter(hash, state->filter, candidate_filter_apply);
  }
  matcher_score_rates(x, g, d, similarity, length_fraction, &state->upper_rate, &state->lower_rate);
  auto *matcher = static_cast<matcher_t *>(ryx_calloc(sizeof(matcher_t)));
  matcher->state = state;
  return matcher;
}

hit_iterator_t *matcher_next_query(matcher_t *matcher) {
  matcher_state_t *state = matcher->state;
  const int32_t q = ++state->current_query;
  hit_iterator_t *it = state->iterators[q % kMatcherIterators];
  if (q == state->batch_end && q < state->query_count) lookup_batch(state);
  matcher_query_t *p = payload_of(it->payload);
  p->previous_mask = p->full_mask = p->remaining_mask = 0;
  p->yield_previous_mask = p->yield_full_mask = p->yield_remaining_mask = 0;
  p->mark_previous_mask = p->mark_full_mask = p->mark_remaining_mask = 0;
  p->yield_more_ends = p->mark_more_ends = p->mark_further = 0;
  p->more_ends = 0;
  p->accept_all = 0;
  p->further = 0;
  p->mark_index = -1;
  p->code_length = -1;
  p->query = q;
  collect(state, p);
  return it;
}

matcher_t *matcher_free(matcher_t *matcher) {
  if (matcher == nullptr) return nullptr;
  matcher_state_t *state = matcher->state;
  if (state->filter != nullptr) {
    state->services.attach_filter(state->hash, nullptr, nullptr);
    state->filter = candidate_filter_free(state->filter);
  }
  for (int32_t k = 0; k < kMatcherIterators; k++) state->iterators[k] = iterator_free(state->iterators[k]);
  gapped_scorer_free(state->gapped);
  ungapped_scorer_free(state->ungapped);
  ryx_free(state->candidates);
  ryx_free(state->prescore_buffer);
  ryx_free(state);
  ryx_free(matcher);
  return nullptr;
}
