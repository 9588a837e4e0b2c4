#include "refmap/map_batch.h"

#include "common/memory.h"
#include "common/random_state.h"
#include "refmap/align/hit_iterator.h"
#include "refmap/align/matcher.h"
#include "refmap/align/stored_hit_iterator.h"
#include "refmap/alignment_info.h"
#include "refmap/hit_hash.h"
#include "refmap/map_context.h"
#include "refmap/map_worker.h"
#include "refmap/read_batch.h"
#include "refmap/ref_block.h"
#include "refmap/seed_search.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_record.h"

namespace {

// The reference-side services the matcher needs from this library.
const matcher_services_t kServices = {hit_hash_pack_queries, seed_search_batch, hit_hash_attach_filter,
                                      ref_block_clamp_to_piece};

matcher_t *batch_matcher_new(const map_worker_params_t *worker, seq_record_t **queries, int32_t count) {
  return matcher_new(worker->hits, worker->block, worker->mismatch_cost, worker->gap_cost, worker->deletion_cost,
                     worker->colour_cost, worker->length_fraction, worker->similarity, worker->score_limit,
                     worker->ungapped_scorer, worker->gapped, worker->align_mode, worker->filter_mode, queries, count,
                     &kServices);
}

// A search of one read's two strands alone with the mate hit table.
matcher_t *mate_matcher_new(const map_worker_params_t *worker, seq_record_t **queries) {
  return matcher_new(worker->mate_hits, worker->block, worker->mismatch_cost, worker->gap_cost,
                     worker->deletion_cost, worker->colour_cost, worker->length_fraction, worker->similarity,
                     worker->mate_score_limit, worker->mate_ungapped_scorer, worker->mate_gapped, worker->align_mode,
                     worker->mate_filter_mode, queries, 2, &kServices);
}

// Whether read i of the batch is searched at this level.
bool read_searched(const read_batch_t *batch, const alignment_info_t *slot, int32_t i, int32_t min_length) {
  return slot->read != nullptr && !read_batch_has_hits(batch, i) &&
         static_cast<int32_t>(slot->read->length) >= min_length;
}

// Stored hits of a slot as the stored-hit iterator reads them.
void slot_hit_get(const void *hits, int32_t index, stored_hit_t *out) {
  const alignment_hit_t *hit = static_cast<alignment_hit_t *const *>(hits)[index];
  out->sequence = hit->sequence;
  out->offset = hit->offset;
  out->code = hit->code;
  out->code_length = hit->code_length;
  out->reverse = (hit->flags & kAlignmentHitReverse) != 0;
}

hit_iterator_t *slot_iterator_new(const alignment_info_t *slot, const ref_block_t *block, int32_t strand,
                                  int32_t report_limit) {
  stored_hit_list_t list{};
  list.read_length = static_cast<int32_t>(slot->read->length);
  list.best_score = static_cast<uint16_t>(slot->best_score);
  list.best_prescore = static_cast<uint16_t>(slot->best_prescore);
  list.count = alignment_info_stored_count(slot, report_limit);
  list.hits = slot->hits;
  list.get = slot_hit_get;
  return stored_hit_iterator_new(&list, block, strand, ref_block_to_block_pos);
}

// The measuring point of a hit: its start or its end, swapped on the
// reverse strand; the window before alignment and the exact point.
struct point_t {
  int64_t low, high;
};

point_t point_window(hit_iterator_t *it, bool use_start) {
  if (use_start) return {hit_iterator_min_start(it), hit_iterator_max_start(it)};
  return {hit_iterator_min_end(it), hit_iterator_max_end(it)};
}

int64_t point_exact(hit_iterator_t *it, bool use_start, const point_t &window) {
  if (window.low == window.high) return window.low;
  return use_start ? hit_iterator_read_start(it) : hit_iterator_read_end(it);
}

// Stores a pair: both halves at one index of the two pair slots, appended
// while below R, else sampled uniformly over all pairs seen.
void record_pair(read_batch_t *batch, alignment_info_t *pair_a, alignment_info_t *pair_b, const alignment_hit_t *a,
                 const alignment_hit_t *b, int32_t report_limit) {
  const int32_t n = pair_a->hit_count;
  if (n < report_limit ||
      static_cast<int32_t>(random_state_draw_ranged32(batch->random, static_cast<uint32_t>(n) + 1)) < report_limit) {
    int32_t index = -1;
    alignment_info_replace_hit(batch, pair_a, a, report_limit, &index);
    alignment_info_replace_hit(batch, pair_b, b, report_limit, &index);
  } else {
    alignment_info_count_hit(batch, pair_a, report_limit);
    alignment_info_count_hit(batch, pair_b, report_limit);
  }
}

// Iterators of one pair: read 1 forward and reverse, read 2 forward and
// reverse; null when absent.
struct pair_iterators_t {
  hit_iterator_t *it[4];
};

// Drops, per read not done, the iterators below the best (pre-)score; a
// better one raises the read's single and pair slot and clears the
// partner's pair slot, whose pairs were made with the dropped hits.
void filter_by_score(pair_iterators_t *its, alignment_info_t *slots, bool done1, bool done2, bool prescore) {
  for (int32_t r = 0; r < 2; r++) {
    if (r == 0 ? done1 : done2) continue;
    alignment_info_t *single = &slots[2 * r];
    alignment_info_t *pair = &slots[2 * r + 1];
    alignment_info_t *partner_pair = &slots[2 * (1 - r) + 1];
    int32_t values[2] = {0, 0};
    for (int32_t strand = 0; strand < 2; strand++) {
      hit_iterator_t *it = its->it[2 * r + strand];
      if (it == nullptr) continue;
      const int32_t v = prescore ? hit_iterator_prescore(it) : hit_iterator_score(it);
      values[strand] = v;
      const int32_t best = prescore ? single->best_prescore : single->best_score;
      if (v > best) {
        if (prescore) {
          alignment_info_raise_prescore(single, v);
          alignment_info_raise_prescore(pair, v);
        } else {
          alignment_info_raise_score(single, v);
          alignment_info_raise_score(pair, v);
        }
        alignment_info_clear(partner_pair);
      }
    }
    const int32_t best = prescore ? single->best_prescore : single->best_score;
    for (int32_t strand = 0; strand < 2; strand++) {
      const int32_t v = values[strand];
      if (its->it[2 * r + strand] != nullptr && (v == 0 || v < best)) its->it[2 * r + strand] = nullptr;
    }
  }
}

}  // namespace

void map_hit_from_iterator(hit_iterator_t *iterator, const ref_block_t *block, int32_t reverse,
                           alignment_hit_t *hit) {
  ref_block_to_seq_pos(block, hit_iterator_aligned_start(iterator), &hit->sequence, &hit->offset);
  hit->code = const_cast<uint8_t *>(hit_iterator_code_data(iterator));
  hit->code_length = hit_iterator_code_length(iterator);
  hit->code_capacity = hit->code_length;
  hit->flags = reverse ? kAlignmentHitReverse : 0;
}

bool map_hit_in_block_overlap(hit_iterator_t *iterator, const ref_block_t *block) {
  const int64_t limit = block->desc->overlap_limit;
  if (limit == 0) return false;
  if (hit_iterator_min_pos(iterator) > limit) return false;
  return hit_iterator_max_pos(iterator) <= limit || hit_iterator_aligned_end(iterator) <= limit;
}

void map_hit_store(map_context_t *context, read_batch_t *batch, hit_iterator_t *iterator, const ref_block_t *block,
                   alignment_info_t *slot, int32_t reverse, int32_t limit) {
  alignment_hit_t hit{};
  map_hit_from_iterator(iterator, block, reverse, &hit);
  // An alignment that does not start inside a piece has no reference
  // position to report.
  if (hit.sequence < 0) return;
  const int32_t report_limit = context->report_limit;
  if (limit > 0 && slot->hit_count < limit) {
    alignment_info_add_hit(batch, slot, &hit, report_limit);
    return;
  }
  const uint32_t r = random_state_draw_ranged32(batch->random, static_cast<uint32_t>(slot->hit_count) + 1);
  if (static_cast<int32_t>(r) >= report_limit) {
    alignment_info_count_hit(batch, slot, report_limit);
  } else {
    int32_t index = -1;
    alignment_info_replace_hit(batch, slot, &hit, report_limit, &index);
  }
}

void map_hit_insert(map_context_t *context, read_batch_t *batch, hit_iterator_t *iterator, const ref_block_t *block,
                    alignment_info_t *slot, int32_t reverse, int32_t cap) {
  if (map_hit_in_block_overlap(iterator, block)) return;
  const int32_t report_limit = context->report_limit;
  if (cap == 0) {
    alignment_hit_t hit{};
    map_hit_from_iterator(iterator, block, reverse, &hit);
    if (hit.sequence >= 0) alignment_info_add_hit(batch, slot, &hit, report_limit);
    return;
  }
  if (cap > 0) {
    // A slot that reached the cap keeps a uniform sample of R from here on.
    if (slot->hit_count == cap) alignment_info_reduce(batch, slot, report_limit);
    map_hit_store(context, batch, iterator, block, slot, reverse, cap);
    return;
  }
  map_hit_store(context, batch, iterator, block, slot, reverse, report_limit);
}

void map_hits_insert_all(map_context_t *context, read_batch_t *batch, hit_iterator_t *iterator,
                         const ref_block_t *block, alignment_info_t *slot, int32_t reverse, int32_t cap) {
  while (hit_iterator_next(iterator)) map_hit_insert(context, batch, iterator, block, slot, reverse, cap);
}

void map_pair_mates(map_context_t *context, read_batch_t *batch, hit_iterator_t *a, hit_iterator_t *b,
                    const ref_block_t *block, alignment_info_t *slot_a, alignment_info_t *slot_b, int32_t a_reverse,
                    int32_t b_reverse, int32_t cap, int32_t min_distance, int32_t max_distance, int32_t a_at_start,
                    int32_t b_at_start, int32_t a_done, int32_t b_done) {
  const bool a_start = (a_at_start != 0) != (a_reverse != 0);
  const bool b_start = (b_at_start != 0) != (b_reverse != 0);
  const int64_t low = min_distance, high = max_distance;
  const int32_t report_limit = context->report_limit;

  if (!hit_iterator_next(b)) {
    if (!a_done) map_hits_insert_all(context, batch, a, block, slot_a, a_reverse, cap);
    return;
  }
  hit_iterator_mark(b);
  int32_t mark_index = 0;      // index of the marked B hit
  int32_t b_inserted = 0;      // B hits 0 .. b_inserted - 1 went to B's single slot
  bool b_all_seen = false;     // B's next has returned 0
  int64_t b_last_high = 0;     // window end of the last B hit

  while (hit_iterator_next(a)) {
    if (!a_done) map_hit_insert(context, batch, a, block, slot_a, a_reverse, cap);
    const point_t aw = point_window(a, a_start);
    if (b_all_seen && b_last_high < aw.low + low) {
      // No B hit reaches this A hit or any later one.
      if (!a_done) map_hits_insert_all(context, batch, a, block, slot_a, a_reverse, cap);
      break;
    }
    hit_iterator_reset_to_mark(b);
    int32_t b_index = mark_index - 1;
    bool found = false, ended = false;
    bool a_overlap_known = false, a_overlap = false;
    bool a_hit_known = false, a_exact_known = false;
    alignment_hit_t a_hit{};
    int64_t a_exact = 0;
    while (hit_iterator_next(b)) {
      b_index++;
      const point_t bw = point_window(b, b_start);
      if (b_index >= b_inserted) {
        if (!b_done) map_hit_insert(context, batch, b, block, slot_b, b_reverse, cap);
        b_inserted = b_index + 1;
        b_last_high = bw.high;
      }
      if (bw.low > aw.high + high) {
        ended = true;
        break;
      }
      if (bw.high < aw.low + low) continue;
      if (!a_exact_known) {
        a_exact = point_exact(a, a_start, aw);
        a_exact_known = true;
      }
      const int64_t b_exact = point_exact(b, b_start, bw);
      if (b_exact > a_exact + high) {
        ended = true;
        break;
      }
      if (b_exact < a_exact + low) continue;
      if (!found) {
        hit_iterator_mark(b);
        mark_index = b_index;
        found = true;
      }
      if (!a_hit_known) {
        map_hit_from_iterator(a, block, a_reverse, &a_hit);
        a_hit_known = true;
      }
      alignment_hit_t b_hit{};
      map_hit_from_iterator(b, block, b_reverse, &b_hit);
      // B lies right of A: once it is on another sequence, so is every
      // later B hit.
      if (a_hit.sequence < 0 || b_hit.sequence != a_hit.sequence) {
        ended = true;
        break;
      }
      if (!a_overlap_known) {
        a_overlap = map_hit_in_block_overlap(a, block);
        a_overlap_known = true;
      }
      // A pair wholly in the repeated stretch was recorded in the previous
      // block.
      if (a_overlap && map_hit_in_block_overlap(b, block)) continue;
      record_pair(batch, slot_a + 1, slot_b + 1, &a_hit, &b_hit, report_limit);
    }
    if (!ended) {
      b_all_seen = true;
    } else if (!found) {
      // The next A hit lies further right: its scan starts at the B hit
      // that ended this one.
      hit_iterator_mark(b);
      mark_index = b_index;
    }
  }

  // B hits beyond the last one scanned still count as single hits.
  if (b_done || b_all_seen) return;
  hit_iterator_reset_to_mark(b);
  int32_t b_index = mark_index - 1;
  while (hit_iterator_next(b)) {
    if (++b_index < b_inserted) continue;
    map_hit_insert(context, batch, b, block, slot_b, b_reverse, cap);
    b_inserted = b_index + 1;
  }
}

void map_batch_unpaired(map_context_t *context, read_batch_t *batch, map_worker_params_t *worker) {
  const int32_t reads = batch->read_count;
  const int32_t count = 2 * reads;
  auto **queries = static_cast<seq_record_t **>(ryx_calloc(sizeof(seq_record_t *) * (count > 0 ? count : 1)));
  for (int32_t i = 0; i < reads; i++) {
    alignment_info_t *slot = read_batch_single_slot(batch, i);
    if (!read_searched(batch, slot, i, worker->min_query_length)) continue;
    if (!worker->backward_only) queries[2 * i] = slot->read;
    if (!worker->forward_only) queries[2 * i + 1] = slot->reverse;
  }
  const bool prescores = worker->ungapped_scorer && worker->gapped;
  matcher_t *matcher = batch_matcher_new(worker, queries, count);
  for (int32_t e = 0; e < count; e++) {
    hit_iterator_t *it = matcher_next_query(matcher);
    if (queries[e] == nullptr) continue;
    alignment_info_t *slot = read_batch_single_slot(batch, e / 2);
    if (prescores) {
      const int32_t p = hit_iterator_prescore(it);
      if (p == 0 || p < slot->best_prescore) continue;
      if (p > slot->best_prescore) alignment_info_raise_prescore(slot, p);
    }
    const int32_t s = hit_iterator_score(it);
    if (s == 0 || s < slot->best_score) continue;
    if (s > slot->best_score) alignment_info_raise_score(slot, s);
    map_hits_insert_all(context, batch, it, worker->block, slot, e & 1, -1);
  }
  matcher_free(matcher);
  ryx_free(queries);
}

void map_batch_paired(map_context_t *context, read_batch_t *batch, map_worker_params_t *worker) {
  const paired_setting_t *setting = batch->setting;
  const int32_t count = 2 * batch->read_count;
  const int32_t report_limit = context->report_limit;
  const ref_block_t *block = worker->block;
  // Strands of the forward placement: read 1 on the orientation's first
  // letter, read 2 on its second (f forward, b reverse); the backward
  // placement flips both.
  const int32_t orientation = setting->orientation;
  const int32_t reverse_f[2] = {orientation == 2 || orientation == 3, orientation == 1 || orientation == 3};
  auto **queries = static_cast<seq_record_t **>(ryx_calloc(sizeof(seq_record_t *) * (count > 0 ? count : 1)));
  for (int32_t i = 0; i < batch->read_count; i++) {
    alignment_info_t *slot = read_batch_single_slot(batch, i);
    if (!read_searched(batch, slot, i, worker->min_query_length)) continue;
    bool forward = true, reverse = true;
    if (worker->forward_only) {
      forward = !reverse_f[i & 1];
      reverse = reverse_f[i & 1];
    } else if (worker->backward_only) {
      forward = reverse_f[i & 1];
      reverse = !reverse_f[i & 1];
    }
    if (forward) queries[2 * i] = slot->read;
    if (reverse) queries[2 * i + 1] = slot->reverse;
  }

  const bool prescores = worker->ungapped_scorer && worker->gapped;
  const bool first_s = setting->distance_mode == 0 || setting->distance_mode == 1;
  const bool second_s = setting->distance_mode == 0 || setting->distance_mode == 2;
  matcher_t *matcher = batch_matcher_new(worker, queries, count);
  for (int32_t k = 0; 2 * k < batch->read_count; k++) {
    alignment_info_t *slots = read_batch_single_slot(batch, 2 * k);  // S1, P1, S2, P2
    pair_iterators_t its{};
    for (int32_t q = 0; q < 4; q++) {
      hit_iterator_t *it = matcher_next_query(matcher);
      its.it[q] = queries[4 * k + q] != nullptr ? it : nullptr;
    }
    const bool done[2] = {read_batch_has_hits(batch, 2 * k) != 0, read_batch_has_hits(batch, 2 * k + 1) != 0};

    // A read that already has hits is not searched again; its hits in the
    // block serve as partners for its mate. When it holds more hits than
    // it stored, it is searched again with the mate table, or, where no
    // mate table exists (the first level), paired through the hits it
    // stored.
    int32_t cap = worker->pair_hit_cap;
    matcher_t *mate_matcher = nullptr;
    hit_iterator_t *stored[2] = {nullptr, nullptr};
    seq_record_t *mate_queries[2] = {nullptr, nullptr};
    for (int32_t r = 0; r < 2; r++) {
      if (!done[r]) continue;
      cap = -1;
      alignment_info_t *single = &slots[2 * r];
      if (single->read == nullptr) break;
      if (single->hit_count > alignment_info_stored_count(single, report_limit) && worker->mate_hits != nullptr) {
        mate_queries[0] = single->read;
        mate_queries[1] = single->reverse;
        mate_matcher = mate_matcher_new(worker, mate_queries);
        its.it[2 * r] = matcher_next_query(mate_matcher);
        its.it[2 * r + 1] = matcher_next_query(mate_matcher);
      } else {
        stored[0] = slot_iterator_new(single, block, 0, report_limit);
        stored[1] = slot_iterator_new(single, block, 1, report_limit);
        its.it[2 * r] = stored[0];
        its.it[2 * r + 1] = stored[1];
      }
      break;
    }

    if (prescores) filter_by_score(&its, slots, done[0], done[1], true);
    filter_by_score(&its, slots, done[0], done[1], false);

    // Placement F: read 1 then read 2 on the forward placement's strands;
    // placement B: read 2 then read 1 on the backward placement's strands.
    struct placement_t {
      int32_t first_read, first_reverse, second_reverse;
      bool first_start, second_start;
    };
    const placement_t placements[2] = {{0, reverse_f[0], reverse_f[1], first_s, second_s},
                                       {1, !reverse_f[1], !reverse_f[0], second_s, first_s}};
    for (const placement_t &p : placements) {
      const int32_t ra = p.first_read, rb = 1 - p.first_read;
      hit_iterator_t *a = its.it[2 * ra + p.first_reverse];
      hit_iterator_t *b = its.it[2 * rb + p.second_reverse];
      if (a != nullptr && b != nullptr) {
        map_pair_mates(context, batch, a, b, block, &slots[2 * ra], &slots[2 * rb], p.first_reverse,
                       p.second_reverse, cap, setting->min_distance, setting->max_distance, p.first_start,
                       p.second_start, done[ra], done[rb]);
      } else if (a != nullptr && !done[ra]) {
        map_hits_insert_all(context, batch, a, block, &slots[2 * ra], p.first_reverse, cap);
      } else if (b != nullptr && !done[rb]) {
        map_hits_insert_all(context, batch, b, block, &slots[2 * rb], p.second_reverse, cap);
      }
    }

    if (worker->last_block && ((slots[0].hit_count > 0 && slots[2].hit_count > 0) || worker->last_level)) {
      for (int32_t s = 0; s < 4; s++) alignment_info_reduce(batch, &slots[s], report_limit);
    }
    matcher_free(mate_matcher);
    stored_hit_iterator_free(stored[0]);
    stored_hit_iterator_free(stored[1]);
  }
  matcher_free(matcher);
  ryx_free(queries);
}

void map_batch(map_context_t *context, read_batch_t *batch, void *worker_record) {
  auto *worker = static_cast<map_worker_params_t *>(worker_record);
  if (batch->setting != nullptr)
    map_batch_paired(context, batch, worker);
  else
    map_batch_unpaired(context, batch, worker);
  map_progress_add(worker->progress, batch->read_count,
                   static_cast<double>(worker->block->length) * batch->read_count * 1e-9);
}
