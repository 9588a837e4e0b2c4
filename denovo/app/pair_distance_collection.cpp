// Pair-distance collection: the contig walk, the anchoring of read-path
// ends, the placement of pairs and the pipeline that runs them.
#include "denovo/app/pair_distance_collection.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "common/cpus.h"
#include "common/memory.h"
#include "common/thread_group.h"

// Wrong-direction counts per read file and the distances placed in range.
struct paired_distance_tally_t {
  std::vector<int64_t> wrong;                      // per read file
  std::vector<std::pair<int32_t, int32_t>> placed;  // (read file, distance)
};

struct paired_distance_walker_t {
  fragment_graph_t *graph;
  const read_table_t *table;
  std::vector<pair_placement_t> placements;
  std::vector<fragment_offset_t> offsets;
  std::vector<std::pair<oriented_id_t, int64_t>> stack;  // branch edges not yet taken, with their target's offset
};

namespace {

// A graph reaches a fragment through short fragments only: a longer one
// ends the search.
constexpr int32_t kReachMaxFragmentLength = 200;
constexpr int64_t kMaxNodeOffset = 0x7fffffff;
constexpr uint32_t kReverseEnd1 = 0x80000000u;

int32_t element_fragment_length(const fragment_graph_t *graph, const read_info_t *info, read_ptr_t element) {
  return fragment_graph_get_fragment_length(graph, read_info_get_fragment(info, element));
}

void visit(paired_distance_walker_t *w, oriented_id_t node, int64_t offset) {
  fragment_graph_t *graph = w->graph;
  const read_info_t *info = w->table->read_info;
  const read_pair_info_t *pairs = w->table->read_pair_info;
  fragment_graph_set_mark1(graph, node);
  const oriented_id_t fragment = fragment_graph_get_node_fragment(graph, node);
  uint64_t count = 0;
  if (paired_distance_fragment_is_unique(graph, fragment)) {
    w->offsets.push_back({fragment, static_cast<int32_t>(offset)});
    const read_pair_t *first = read_pair_info_find_by_fragment1(pairs, fragment, &count);
    paired_distance_collect_ends(w, first, count, node, offset, 0);
    first = read_pair_info_find_by_fragment1(pairs, oriented_id_flip(fragment), &count);
    paired_distance_collect_ends(w, first, count, node, offset, 1);
  }
  // Read paths through a repeated fragment are collected once, at the last
  // node of the fragment's chain, and anchored from there.
  if (fragment_graph_get_other_node(graph, node) != kOrientedIdNone) return;
  for (int strand = 0; strand < 2; strand++) {
    const oriented_id_t shown = strand == 0 ? fragment : oriented_id_flip(fragment);
    const uint64_t n = read_info_get_occurrence_count(info, shown);
    for (uint64_t i = 0; i < n; i++) {
      const read_pair_t *first = read_pair_info_find_by_read_ptr1(pairs, read_info_get_occurrence(info, shown, i), &count);
      paired_distance_collect_ends(w, first, count, node, offset, strand);
    }
  }
}

// Takes the next branch to follow: the given edge when its target may be
// entered from it, else edges from the stack. A target is passed over, while
// the stack still offers another way, when it closes a bubble, when it is
// reached by another edge first or when it was visited already; with the
// stack empty it is entered, unless visited already (a revisit would count
// its pairs twice and could walk a cycle for ever). Returns false when the
// walk ends.
bool next_step(paired_distance_walker_t *w, oriented_id_t edge, int64_t edge_offset, oriented_id_t *node,
               int64_t *offset) {
  const fragment_graph_t *graph = w->graph;
  for (;;) {
    if (edge != kOrientedIdNone) {
      const oriented_id_t t = fragment_graph_get_edge_to_node(graph, edge);
      const bool visited = fragment_graph_get_mark1(graph, t) != 0;
      const bool passed = fragment_graph_is_bubble_end(graph, t) != 0 || visited ||
                          fragment_graph_edge_index(fragment_graph_get_first_prev_edge(graph, t)) !=
                              fragment_graph_edge_index(edge);
      if (!passed || (w->stack.empty() && !visited)) {
        *node = t;
        *offset = edge_offset;
        return true;
      }
    }
    if (w->stack.empty()) return false;
    edge = w->stack.back().first;
    edge_offset = w->stack.back().second;
    w->stack.pop_back();
  }
}

bool by_mate_index(const pair_placement_t &a, const pair_placement_t &b) {
  return oriented_id_get_index(a.mate_fragment) < oriented_id_get_index(b.mate_fragment);
}

bool by_fragment_index(const fragment_offset_t &a, const fragment_offset_t &b) {
  return oriented_id_get_index(a.fragment) < oriented_id_get_index(b.fragment);
}

void tally_pair(paired_distance_tally_t *tally, const read_table_t *table, const read_pair_t *pair, int32_t outcome,
                int64_t distance) {
  const int32_t file = read_pair_info_get_db_num(pair);
  if (file >= table->file_count || table->pair_dist_info == nullptr) return;
  const pair_dist_info_t *h = table->pair_dist_info[file];
  if (h == nullptr) return;
  if (outcome == kPairWrongDirection) {
    tally->wrong[static_cast<size_t>(file)]++;
  } else if (distance >= -h->radius && distance <= h->radius) {
    tally->placed.emplace_back(file, static_cast<int32_t>(distance));
  }
}

// Contigs that take part: first and last node differ (single-node and
// circular contigs have no two positions to measure between).
bool contig_takes_part(const contig_info_t *info, int32_t c) {
  const auto id = static_cast<oriented_id_t>(c);
  return contig_info_get_first_node(info, id) != contig_info_get_last_node(info, id);
}

bool has_pairs(const read_table_t *table) {
  return table->read_pair_info != nullptr && table->pair_dist_info != nullptr && table->file_count > 0;
}

}  // namespace

extern "C" {

int paired_distance_fragment_is_unique(const fragment_graph_t *graph, oriented_id_t fragment) {
  return fragment_graph_get_other_node(graph, fragment_graph_get_fragment_node(graph, fragment)) == kOrientedIdNone;
}

int64_t read_path_offset(const fragment_graph_t *graph, const read_info_t *info, read_ptr_t element) {
  int64_t s = 0;
  for (read_ptr_t at = element; read_info_has_prev(info, at);) {
    s += read_info_get_prev_distance(info, at);
    at = read_info_get_prev(info, at);
    s += element_fragment_length(graph, info, at);
  }
  return s;
}

int graph_reaches_fragment(const fragment_graph_t *graph, oriented_id_t fragment, oriented_id_t node, int32_t steps,
                           int reverse) {
  if (node == kOrientedIdNone) return 1;
  oriented_id_t at = reverse != 0 ? fragment_graph_reverse_node(node) : node;
  for (int32_t i = 0; i < steps; i++) {
    const oriented_id_t edge = fragment_graph_get_first_next_edge(graph, at);
    if (edge == kOrientedIdNone) return 0;
    at = fragment_graph_get_edge_to_node(graph, edge);
    if (oriented_id_get_index(fragment_graph_get_node_fragment(graph, at)) == oriented_id_get_index(fragment)) return 1;
    if (fragment_graph_get_node_length(graph, at) > kReachMaxFragmentLength) return 0;
  }
  return 0;
}

int64_t read_path_anchor_unique(const fragment_graph_t *graph, const read_info_t *info, read_ptr_t *element,
                                oriented_id_t node, int strand) {
  // The distance walked is kept so that the node offset plus the result,
  // with the offsets taken at the anchored element, places the read where
  // it lay: on end 1's own strand (strand 0) the anchored element's offset
  // in the path changes by the distance walked; on the other strand the
  // fragment lengths at both ends of the walk enter as well.
  int64_t s = 0;
  int32_t steps = 2;
  for (read_ptr_t at = *element; read_info_has_prev(info, at); steps++) {
    const read_ptr_t prev = read_info_get_prev(info, at);
    s += read_info_get_prev_distance(info, at) + element_fragment_length(graph, info, strand == 1 ? at : prev);
    at = prev;
    const oriented_id_t f = read_info_get_fragment(info, at);
    if (paired_distance_fragment_is_unique(graph, f) && graph_reaches_fragment(graph, f, node, steps, 1 - strand)) {
      *element = at;
      return strand == 1 ? s : -s;
    }
  }
  s = 0;
  steps = 2;
  for (read_ptr_t at = *element; read_info_has_next(info, at); steps++) {
    const read_ptr_t next = read_info_get_next(info, at);
    s += read_info_get_next_distance(info, at) + element_fragment_length(graph, info, strand == 1 ? next : at);
    at = next;
    const oriented_id_t f = read_info_get_fragment(info, at);
    if (paired_distance_fragment_is_unique(graph, f) && graph_reaches_fragment(graph, f, node, steps, strand)) {
      *element = at;
      return strand == 1 ? -s : s;
    }
  }
  return 0;
}

paired_distance_walker_t *paired_distance_walker_new(fragment_graph_t *graph, const read_table_t *table) {
  auto *w = new paired_distance_walker_t;
  w->graph = graph;
  w->table = table;
  return w;
}

paired_distance_walker_t *paired_distance_walker_free(paired_distance_walker_t *walker) {
  delete walker;
  return nullptr;
}

paired_distance_tally_t *paired_distance_tally_new(const read_table_t *table) {
  auto *t = new paired_distance_tally_t;
  t->wrong.assign(static_cast<size_t>(std::max(table->file_count, 0)), 0);
  return t;
}

paired_distance_tally_t *paired_distance_tally_free(paired_distance_tally_t *tally) {
  delete tally;
  return nullptr;
}

void paired_distance_tally_apply(paired_distance_tally_t *tally, read_table_t *table) {
  for (size_t f = 0; f < tally->wrong.size(); f++) {
    if (tally->wrong[f] != 0) table->pair_dist_info[f]->wrong_orientation += static_cast<int32_t>(tally->wrong[f]);
    tally->wrong[f] = 0;
  }
  for (const auto &[file, distance] : tally->placed) {
    pair_dist_info_t *h = table->pair_dist_info[file];
    h->bins[h->radius + distance]++;
    h->counted++;
    h->not_counted--;
  }
  tally->placed.clear();
}

void paired_distance_collect_ends(paired_distance_walker_t *walker, const read_pair_t *first, uint64_t count,
                                  oriented_id_t node, int64_t offset, int strand) {
  const fragment_graph_t *graph = walker->graph;
  const read_info_t *info = walker->table->read_info;
  const read_pair_info_t *pairs = walker->table->read_pair_info;
  for (uint64_t i = 0; i < count; i++) {
    const read_pair_t *pair = first + i;
    // End 1 lies on this node: at its offset, or on a path moved to the
    // nearest unique element the graph reaches from here.
    int64_t at = offset;
    read_ptr_t end1 = read_pair_info_get_read_ptr1(pairs, pair);
    if (end1 != kReadPtrNone && !paired_distance_fragment_is_unique(graph, read_info_get_fragment(info, end1))) {
      const int64_t a = read_path_anchor_unique(graph, info, &end1, node, strand);
      if (a == 0 || offset + a < 0) continue;
      at = offset + a;
    }
    if (at > kMaxNodeOffset) continue;
    // End 2 must lie on a unique fragment, directly or once anchored.
    oriented_id_t mate = read_pair_info_get_fragment2(pairs, pair);
    read_ptr_t end2 = kReadPtrNone;
    if (mate != kOrientedIdNone) {
      if (!paired_distance_fragment_is_unique(graph, mate)) continue;
    } else {
      end2 = read_pair_info_get_read_ptr2(pairs, pair);
      mate = read_info_get_fragment(info, end2);
      if (!paired_distance_fragment_is_unique(graph, mate)) {
        if (read_path_anchor_unique(graph, info, &end2, kOrientedIdNone, 1 - strand) == 0) continue;
        mate = read_info_get_fragment(info, end2);
      }
    }
    pair_placement_t p;
    p.mate_fragment = mate;
    p.node_offset = static_cast<int32_t>(static_cast<uint32_t>(at) | (strand != 0 ? kReverseEnd1 : 0u));
    p.pair = pair;
    p.read_ptr1 = end1;
    p.read_ptr2 = end2;
    walker->placements.push_back(p);
  }
}

int32_t paired_distance_place_pair(const fragment_graph_t *graph, const read_table_t *table,
                                   const fragment_offset_t *mate, const pair_placement_t *placement,
                                   int64_t *out_distance) {
  *out_distance = 0;
  const read_info_t *info = table->read_info;
  const read_pair_info_t *pairs = table->read_pair_info;
  const read_pair_t *pair = placement->pair;
  const bool reverse1 = (static_cast<uint32_t>(placement->node_offset) & kReverseEnd1) != 0;
  // The two reads of a proper pair lie on opposite strands: the mate shows
  // the node's own fragment exactly when end 1 lies on its reverse.
  if ((placement->mate_fragment == mate->fragment) != reverse1) return kPairWrongDirection;
  const int64_t g = static_cast<uint32_t>(placement->node_offset) & ~kReverseEnd1;
  const int64_t o1 = read_pair_info_get_offset1(pair);
  const int64_t o2 = read_pair_info_get_offset2(pair);
  int64_t s1 = 0;
  int64_t s2 = 0;
  int64_t l1 = 0;
  int64_t l2 = 0;
  if (placement->read_ptr1 != kReadPtrNone) {
    s1 = read_path_offset(graph, info, placement->read_ptr1);
    l1 = element_fragment_length(graph, info, placement->read_ptr1);
  } else {
    l1 = fragment_graph_get_fragment_length(graph, read_pair_info_get_fragment1(pairs, pair));
  }
  if (placement->read_ptr2 != kReadPtrNone) {
    s2 = read_path_offset(graph, info, placement->read_ptr2);
    l2 = element_fragment_length(graph, info, placement->read_ptr2);
  } else {
    l2 = fragment_graph_get_fragment_length(graph, read_pair_info_get_fragment2(pairs, pair));
  }
  // A read lies at (offset - path offset) from its element's fragment
  // start, in the element's orientation; an end on the reverse of its
  // node's fragment is mirrored against the fragment's length.
  const int64_t f = mate->offset;
  *out_distance = reverse1 ? g + l1 + s1 + s2 - o1 - o2 - f : f + l2 + s2 + s1 - o1 - o2 - g;
  return kPairPlaced;
}

void paired_distance_place_contig(paired_distance_walker_t *walker, const contig_info_t *info, oriented_id_t contig,
                                  paired_distance_tally_t *tally) {
  paired_distance_walker_t *w = walker;
  const fragment_graph_t *graph = w->graph;
  w->placements.clear();
  w->offsets.clear();
  w->stack.clear();
  oriented_id_t node = contig_info_get_first_node(info, contig);
  const oriented_id_t last = contig_info_get_last_node(info, contig);
  int64_t offset = 0;
  for (;;) {
    if (offset <= kMaxNodeOffset) visit(w, node, offset);
    if (node == last) break;
    // Every branch but the last is kept for later; the last is followed.
    const int64_t end = offset + fragment_graph_get_node_length(graph, node);
    oriented_id_t follow = kOrientedIdNone;
    int64_t follow_offset = 0;
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kOrientedIdNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      if (follow != kOrientedIdNone) w->stack.emplace_back(follow, follow_offset);
      follow = e;
      follow_offset = end + fragment_graph_get_edge_distance(graph, e);
    }
    if (!next_step(w, follow, follow_offset, &node, &offset)) break;
  }

  std::sort(w->placements.begin(), w->placements.end(), by_mate_index);
  std::sort(w->offsets.begin(), w->offsets.end(), by_fragment_index);
  for (const pair_placement_t &p : w->placements) {
    const fragment_offset_t key{p.mate_fragment, 0};
    const auto it = std::lower_bound(w->offsets.begin(), w->offsets.end(), key, by_fragment_index);
    if (it == w->offsets.end() || oriented_id_get_index(it->fragment) != oriented_id_get_index(p.mate_fragment)) continue;
    int64_t distance = 0;
    const int32_t outcome = paired_distance_place_pair(graph, w->table, &*it, &p, &distance);
    tally_pair(tally, w->table, p.pair, outcome, distance);
  }
}

void *paired_distance_producer(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *shared = static_cast<paired_distance_shared_t *>(args->context);
  const int32_t n = contig_info_get_contig_count(shared->info);
  contig_batch_t *batch = nullptr;
  for (int32_t c = 0; c < n; c++) {
    if (!contig_takes_part(shared->info, c)) continue;
    if (batch == nullptr) batch = static_cast<contig_batch_t *>(ryx_calloc(sizeof(contig_batch_t)));
    batch->contigs[batch->count++] = c;
    if (batch->count == kPairedDistanceBatchContigs) {
      thread_queue_put(shared->arbiter, args->output, batch, 0);
      batch = nullptr;
    }
  }
  if (batch != nullptr) thread_queue_put(shared->arbiter, args->output, batch, 0);
  thread_queue_producer_done(shared->arbiter, args->output, 0);
  return nullptr;
}

void *paired_distance_worker(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *shared = static_cast<paired_distance_shared_t *>(args->context);
  paired_distance_walker_t *walker = paired_distance_walker_new(shared->graph, shared->table);
  while (auto *batch = static_cast<contig_batch_t *>(thread_queue_get(shared->arbiter, args->input, 0))) {
    batch->tally = paired_distance_tally_new(shared->table);
    for (int32_t i = 0; i < batch->count; i++) {
      paired_distance_place_contig(walker, shared->info, static_cast<oriented_id_t>(batch->contigs[i]), batch->tally);
    }
    thread_queue_put(shared->arbiter, args->output, batch, 0);
  }
  paired_distance_walker_free(walker);
  thread_queue_producer_done(shared->arbiter, args->output, 0);
  return nullptr;
}

void *paired_distance_merger(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  auto *shared = static_cast<paired_distance_shared_t *>(args->context);
  // Sums do not depend on the order the batches arrive in.
  while (auto *batch = static_cast<contig_batch_t *>(thread_queue_get(shared->arbiter, args->input, 0))) {
    paired_distance_tally_apply(batch->tally, shared->table);
    paired_distance_tally_free(batch->tally);
    ryx_free(batch);
  }
  return nullptr;
}

void paired_distance_collect(read_table_t *table, fragment_graph_t *graph) {
  if (!has_pairs(table)) return;
  contig_info_t *info = contig_info_build(graph, 1, 0);
  const int32_t workers = std::max(1, get_number_of_cpus());
  paired_distance_shared_t shared{nullptr, info, graph, table};
  thread_group_run_pipeline(workers, 4 * workers, paired_distance_producer, paired_distance_worker,
                            paired_distance_merger, &shared, &shared.arbiter);
  contig_info_free(info);
  fragment_graph_clear_flags(graph, kGraphMark1);
}

void paired_distance_collect_direct(read_table_t *table, fragment_graph_t *graph) {
  if (!has_pairs(table)) return;
  contig_info_t *info = contig_info_build(graph, 1, 0);
  paired_distance_walker_t *walker = paired_distance_walker_new(graph, table);
  paired_distance_tally_t *tally = paired_distance_tally_new(table);
  const int32_t n = contig_info_get_contig_count(info);
  for (int32_t c = 0; c < n; c++) {
    if (contig_takes_part(info, c)) paired_distance_place_contig(walker, info, static_cast<oriented_id_t>(c), tally);
  }
  paired_distance_tally_apply(tally, table);
  paired_distance_tally_free(tally);
  paired_distance_walker_free(walker);
  contig_info_free(info);
  fragment_graph_clear_flags(graph, kGraphMark1);
}

}  // extern "C"
