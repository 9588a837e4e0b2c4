#include "denovo/app/contig_overlap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/cpus.h"
#include "common/memory.h"
#include "common/thread_group.h"
#include "seqio/seq_complement.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

constexpr uint8_t kFragmentBase = 63;
constexpr uint8_t kCodeN = 4;
// Node visits of one walk. Each visit that adds residues adds at least one,
// so a walk of more visits can only be going round a cycle whose fragments
// lie within their overlaps; the cap ends it.
constexpr int32_t kMaxWalkSteps = 4 * kContigOverlapMaxSide;

inline bool is_n(uint8_t code) { return code >= kCodeN; }

// The code of a stored fragment byte; anything but A, C, G, T is N.
inline uint8_t code_of(uint8_t stored) {
  const uint8_t c = static_cast<uint8_t>(stored - kFragmentBase);
  return c > kCodeN ? kCodeN : c;
}

// Copies the first n residues of node's fragment, read in the node's
// orientation, as codes to out. The database is entered under the mutex.
void copy_node_codes(const fragment_graph_t *graph, oriented_id_t node, int64_t n, uint8_t *out,
                     contig_overlap_shared_t *shared, uint32_t *stored_length) {
  const bool reverse = oriented_id_is_reverse(fragment_graph_get_node_fragment(graph, node)) != 0;
  pthread_mutex_lock(&shared->node_sequence_mutex);
  seq_record_t *record = fragment_graph_get_node_sequence(graph, node);
  const int64_t length = record->length;
  n = std::min(n, length);
  for (int64_t j = 0; j < n; j++) {
    const uint8_t c = code_of(reverse ? record->residues[length - 1 - j] : record->residues[j]);
    out[j] = reverse && c < kCodeN ? static_cast<uint8_t>(3 - c) : c;
  }
  seq_db_release_fetched(graph->fragments, record);
  pthread_mutex_unlock(&shared->node_sequence_mutex);
  *stored_length = static_cast<uint32_t>(length);
}

// Walks from x along first next edges over r bases, setting mark2 on the
// nodes passed, then moves the scaffold end marks to where the walk ends.
void mark_side(fragment_graph_t *graph, oriented_id_t x, int64_t r) {
  fragment_graph_clear_mark4(graph, x);
  for (int32_t steps = 0; steps < kMaxWalkSteps && r > fragment_graph_get_node_length(graph, x); steps++) {
    fragment_graph_clear_node_flags(graph, x);
    fragment_graph_set_mark2(graph, x);
    const oriented_id_t f = fragment_graph_get_first_next_edge(graph, x);
    if (f == kOrientedIdNone) break;
    r -= fragment_graph_get_node_length(graph, x) + static_cast<int64_t>(fragment_graph_get_edge_distance(graph, f));
    x = fragment_graph_get_edge_to_node(graph, f);
  }
  fragment_graph_set_mark2(graph, x);
  // The end mark stays only where a scaffold gap still leaves the node.
  const oriented_id_t f = fragment_graph_get_first_next_edge(graph, x);
  if (f == kOrientedIdNone || fragment_graph_get_edge_distance(graph, f) < 2 ||
      (!fragment_graph_get_mark4(graph, fragment_graph_get_edge_to_node(graph, f)) &&
       !fragment_graph_get_mark5(graph, fragment_graph_get_edge_to_node(graph, f)))) {
    fragment_graph_clear_mark4(graph, x);
  }
  if (fragment_graph_get_mark5(graph, x)) {
    fragment_graph_clear_mark5(graph, x);
    fragment_graph_set_mark4(graph, x);
  }
}

void *producer_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *shared = static_cast<contig_overlap_shared_t *>(args->context);
  const array_list_t *joins = shared->joins;
  for (uint64_t i = 0; i < array_list_get_count(joins); i++) {
    auto *join = static_cast<scaffold_join_t *>(array_list_get_item(joins, i));
    if (contig_overlap_join_is_candidate(shared->graph, join)) thread_queue_put(shared->arbiter, args->output, join, 0);
  }
  thread_queue_producer_done(shared->arbiter, args->output, 0);
  return nullptr;
}

void *worker_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *shared = static_cast<contig_overlap_shared_t *>(args->context);
  local_align_result_t *alignment = local_align_result_new();
  local_align_scoring_t *scoring = contig_overlap_scoring_new();
  seq_record_t *a = seq_record_new(kContigOverlapMaxSide);
  seq_record_t *b = seq_record_new(kContigOverlapMaxSide);
  const auto *first = static_cast<const uint8_t *>(array_list_get_item(shared->joins, 0));
  while (auto *join = static_cast<const scaffold_join_t *>(thread_queue_get(shared->arbiter, args->input, 0))) {
    contig_overlap_result_t *result = contig_overlap_align_join(shared, join, alignment, scoring, a, b);
    result->index = (reinterpret_cast<const uint8_t *>(join) - first) / static_cast<int64_t>(sizeof(scaffold_join_t));
    thread_queue_put(shared->arbiter, args->output, result, 0);
  }
  thread_queue_producer_done(shared->arbiter, args->output, 0);
  seq_record_free(a);
  seq_record_free(b);
  local_align_scoring_free(scoring);
  local_align_result_free(alignment);
  return nullptr;
}

// Collects the results by join index; once every worker has left (the
// queue's end), nothing reads the graph any more, and the results are
// applied in join order.
void *applier_thread(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *shared = static_cast<contig_overlap_shared_t *>(args->context);
  while (auto *result = static_cast<contig_overlap_result_t *>(thread_queue_get(shared->arbiter, args->input, 0))) {
    shared->results[result->index] = result;
  }
  for (uint64_t i = 0; i < array_list_get_count(shared->joins); i++) {
    if (shared->results[i] != nullptr) contig_overlap_apply(shared, shared->results[i]);
    shared->results[i] = nullptr;
  }
  return nullptr;
}

}  // namespace

extern "C" {

local_align_scoring_t *contig_overlap_scoring_new(void) {
  local_align_scoring_t *scoring = local_align_scoring_new_sized(5);
  scoring->gap_first = -5;
  scoring->gap_extension = 0;
  for (int r = 0; r < 5; r++) {
    for (int c = 0; c < 5; c++) {
      int16_t score = r == c ? 1 : -5;
      if (r == kCodeN || c == kCodeN) score = r == c ? -2 : 0;
      scoring->matrix[r][c] = score;
    }
  }
  return scoring;
}

int contig_overlap_join_is_candidate(const fragment_graph_t *graph, const scaffold_join_t *join) {
  if (join->from == kOrientedIdNone || join->to == kOrientedIdNone) return 0;
  const oriented_id_t e = fragment_graph_get_first_next_edge(graph, join->from);
  return e != kOrientedIdNone && fragment_graph_get_edge_to_node(graph, e) == join->to &&
         fragment_graph_get_edge_distance(graph, e) == join->gap &&
         static_cast<int64_t>(join->gap) < 2 * static_cast<int64_t>(graph->word_size);
}

int contig_overlap_accepts(int32_t k, int32_t g, int32_t score, int32_t end_a, int32_t length_a, int32_t start_b) {
  if (score <= 0) return 0;
  const int64_t gap = std::llabs(static_cast<int64_t>(g));
  if (gap <= k && score > k / 2) return 1;
  if (gap > k && score > std::min(static_cast<double>(k), 0.5 * k + static_cast<double>(gap - k) / 5.0)) return 1;
  return score > k / 4 && end_a >= length_a - 2 && start_b <= 2 && g < k ? 1 : 0;
}

void contig_overlap_copy_node_sequence(const fragment_graph_t *graph, oriented_id_t start, int32_t limit,
                                       oriented_id_t stop, int32_t *length, uint8_t *buffer,
                                       contig_overlap_shared_t *shared) {
  int64_t i = 0;
  int64_t d = 0;
  oriented_id_t node = start;
  oriented_id_t edge = kOrientedIdNone;
  for (int32_t steps = 0; i < limit && steps < kMaxWalkSteps; steps++) {
    if (edge != kOrientedIdNone) {
      // Lay the node over the overlap with the one before; a gap, or an
      // overlap longer than what that node gave, ends the walk.
      const int64_t w = fragment_graph_get_edge_distance(graph, edge);
      if (w > 0 || d < -w) break;
      i += w;
      if (i < 0) break;
    }
    uint32_t stored = 0;
    copy_node_codes(graph, node, limit - i, buffer + i, shared, &stored);
    d = std::min<int64_t>(stored, limit - i);
    i += d;
    edge = fragment_graph_get_first_next_edge(graph, node);
    if (edge == kOrientedIdNone) break;
    node = fragment_graph_get_edge_to_node(graph, edge);
    if (node == stop) break;
  }
  *length = static_cast<int32_t>(i);
}

seq_record_t *contig_overlap_merge_sequences(local_align_result_t *alignment, const seq_record_t *a,
                                             const seq_record_t *b, seq_record_t *merged) {
  const int64_t sa = alignment->start_a;
  const int64_t sb = alignment->start_b;
  const int64_t ea = alignment->end_a;
  const int64_t eb = alignment->end_b;
  const uint8_t *x = a->residues;
  const uint8_t *y = b->residues;
  int64_t before = 0;
  while (sa - before - 1 >= 0 && sb - before - 1 >= 0 && is_n(x[sa - before - 1]) != is_n(y[sb - before - 1])) {
    before++;
  }
  int64_t after = 0;
  while (ea + after < a->length && eb + after < b->length && is_n(x[ea + after]) != is_n(y[eb + after])) after++;
  if (before + after == 0) return merged;
  seq_record_t *wide = seq_record_new(static_cast<uint32_t>(before + merged->length + after));
  uint8_t *out = wide->residues;
  for (int64_t j = before; j >= 1; j--) *out++ = is_n(x[sa - j]) ? y[sb - j] : x[sa - j];
  memcpy(out, merged->residues, merged->length);
  out += merged->length;
  for (int64_t j = 0; j < after; j++) *out++ = is_n(x[ea + j]) ? y[eb + j] : x[ea + j];
  seq_record_free(merged);
  alignment->start_a = static_cast<int32_t>(sa - before);
  alignment->start_b = static_cast<int32_t>(sb - before);
  alignment->end_a = static_cast<int32_t>(ea + after);
  alignment->end_b = static_cast<int32_t>(eb + after);
  return wide;
}

contig_overlap_result_t *contig_overlap_align_join(contig_overlap_shared_t *shared, const scaffold_join_t *join,
                                                   local_align_result_t *alignment,
                                                   const local_align_scoring_t *scoring, seq_record_t *a,
                                                   seq_record_t *b) {
  const fragment_graph_t *graph = shared->graph;
  const int32_t k = graph->word_size;
  const oriented_id_t e = fragment_graph_get_first_next_edge(graph, join->from);
  // The contig that holds both sides of the join bounds the two walks.
  const oriented_id_t contig =
      shared->info != nullptr ? contig_info_get_node_contig(shared->info, join->from) : kOrientedIdNone;
  oriented_id_t first = kOrientedIdNone;
  oriented_id_t last = kOrientedIdNone;
  if (contig != kOrientedIdNone) {
    first = contig_info_get_first_node(shared->info, contig);
    last = contig_info_get_last_node(shared->info, contig);
  }
  const int64_t g = join->gap;
  int64_t m = g > 0 ? g : -2 * g;
  m = std::min<int64_t>(std::max<int64_t>(m, 2 * static_cast<int64_t>(k)), kContigOverlapMaxSide);
  int32_t length = 0;
  contig_overlap_copy_node_sequence(graph, fragment_graph_reverse_node(join->from), static_cast<int32_t>(m),
                                    fragment_graph_reverse_node(first), &length, a->residues, shared);
  a->length = static_cast<uint32_t>(length);
  seq_codes_reverse_complement(a->residues, a->length);
  contig_overlap_copy_node_sequence(graph, join->to, static_cast<int32_t>(m), last, &length, b->residues, shared);
  b->length = static_cast<uint32_t>(length);
  local_align(scoring, alignment, a, b);

  auto *result = static_cast<contig_overlap_result_t *>(ryx_calloc(sizeof(contig_overlap_result_t)));
  result->edge = e;
  result->distance = kContigOverlapKeepDistance;
  if (contig_overlap_accepts(k, join->gap, alignment->score, alignment->end_a, static_cast<int32_t>(a->length),
                             alignment->start_b)) {
    seq_record_t *merged = local_align_merge_sequences(alignment, scoring, a, b, kCodeN);
    merged = contig_overlap_merge_sequences(alignment, a, b, merged);
    for (uint32_t j = 0; j < merged->length; j++) merged->residues[j] = std::min(merged->residues[j], kCodeN);
    result->gap = static_cast<gap_sequence_t *>(ryx_malloc(sizeof(gap_sequence_t)));
    result->gap->offset = static_cast<int32_t>(a->length) - alignment->start_a;
    result->gap->end = alignment->end_b;
    result->gap->sequence = merged;
    result->distance = -static_cast<int32_t>(merged->length);
  } else if (join->gap <= 1) {
    result->distance = kContigOverlapRejectedDistance;
  }
  return result;
}

contig_overlap_result_t *contig_overlap_result_free(contig_overlap_result_t *result) {
  if (result == nullptr) return nullptr;
  if (result->gap != nullptr) seq_record_free(result->gap->sequence);
  ryx_free(result->gap);
  ryx_free(result);
  return nullptr;
}

void contig_overlap_apply(contig_overlap_shared_t *shared, contig_overlap_result_t *result) {
  fragment_graph_t *graph = shared->graph;
  const oriented_id_t e = result->edge;
  if (result->gap != nullptr) {
    gap_sequence_t present;
    if (gap_sequence_map_find(shared->map, e, &present) ||
        gap_sequence_map_find(shared->map, fragment_graph_reverse_edge(e), &present)) {
      contig_overlap_result_free(result);
      return;
    }
  }
  if (result->distance != kContigOverlapKeepDistance) fragment_graph_set_edge_distance(graph, e, result->distance);
  if (result->gap == nullptr) {
    contig_overlap_result_free(result);
    return;
  }
  const gap_sequence_t entry = *result->gap;
  gap_sequence_map_insert(shared->map, e, &entry);
  // The map owns the merged sequence now.
  ryx_free(result->gap);
  ryx_free(result);
  mark_side(graph, fragment_graph_get_edge_to_node(graph, fragment_graph_reverse_edge(e)), entry.offset);
  mark_side(graph, fragment_graph_get_edge_to_node(graph, e), entry.end);
}

void contig_overlap_run(fragment_graph_t *graph, gap_sequence_map_t *map, const array_list_t *joins,
                        const contig_info_t *info) {
  const uint64_t count = array_list_get_count(joins);
  if (count == 0) return;
  const int32_t workers = std::max(1, get_number_of_cpus());
  contig_overlap_shared_t shared{};
  shared.graph = graph;
  shared.map = map;
  shared.joins = joins;
  shared.info = info;
  pthread_mutex_init(&shared.node_sequence_mutex, nullptr);
  shared.results = static_cast<contig_overlap_result_t **>(ryx_calloc(sizeof(contig_overlap_result_t *) * count));
  thread_group_run_pipeline(workers, 5 * workers, producer_thread, worker_thread, applier_thread, &shared,
                            &shared.arbiter);
  ryx_free(shared.results);
  pthread_mutex_destroy(&shared.node_sequence_mutex);
}

gap_sequence_map_t *contig_overlap_resolve(fragment_graph_t *graph, const contig_info_t *info, read_table_t *table,
                                           int32_t bubble_size, array_list_t **join_slot) {
  (void)table;
  (void)bubble_size;
  if (join_slot == nullptr || *join_slot == nullptr) return nullptr;
  gap_sequence_map_t *map = gap_sequence_map_new();
  contig_overlap_run(graph, map, *join_slot, info);
  *join_slot = array_list_free(*join_slot);
  return map;
}

}  // extern "C"
