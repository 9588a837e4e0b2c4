#include "denovo/graph/fragment_graph_build.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;
// A path search deeper than this has met a cycle that gains no length
// (edges whose overlap eats a whole node); it fails instead of recursing on.
constexpr int32_t kMaxSearchDepth = 100000;

inline oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }
inline uint32_t index_of(oriented_id_t id) { return id & ~kOrientedIdReverse; }

bool slot_live(const fragment_graph_t *g, int64_t slot) {
  return (g->nodes[slot].flags & kGraphDisabledBit) == 0;
}

int search(const fragment_graph_t *g, oriented_id_t a, oriented_id_t b, int32_t c, int32_t d, int32_t *minimum,
           int32_t *maximum, int32_t *budget, int first, int32_t depth) {
  if (c > d || depth > kMaxSearchDepth) return 0;
  if (a == b && !first) {
    if (c < *minimum) *minimum = c;
    if (c > *maximum) *maximum = c;
    return 1;
  }
  oriented_id_t e = fragment_graph_get_first_next_edge(g, a);
  if (e == kNone) return 0;
  *budget += fragment_graph_count_next_edges(g, a) - 1;
  if (*budget > kGraphPathSearchBudget) return 0;
  if (!first) c += fragment_graph_get_node_length(g, a);
  for (bool later = false; e != kNone; e = fragment_graph_get_sibling_next_edge(g, e), later = true) {
    if (later) *budget += 1;
    if (!search(g, fragment_graph_get_edge_to_node(g, e), b, c + fragment_graph_get_edge_distance(g, e), d, minimum,
                maximum, budget, 0, depth + 1)) {
      return 0;
    }
  }
  return 1;
}

}  // namespace

extern "C" {

fragment_graph_t *fragment_graph_build(seq_db_t *fragments, const read_info_t *read_info, int32_t word_size,
                                       int32_t minimum_count) {
  if (fragments->sequence_count > static_cast<int64_t>(read_info->fragment_count)) {
    fprintf(stderr, "fragment_graph_build: %lld fragments, but the read paths know only %u\n",
            static_cast<long long>(fragments->sequence_count), read_info->fragment_count);
    ryx_exit(1);
  }
  fragment_graph_t *graph = fragment_graph_new(static_cast<int32_t>(read_info->fragment_count), word_size);
  graph->fragments = fragments;
  fragment_graph_build_edges(graph, read_info, minimum_count);
  return graph;
}

void fragment_graph_build_edges(fragment_graph_t *graph, const read_info_t *read_info, int32_t minimum_count) {
  array_list_t *tally = array_list_new(sizeof(fragment_graph_tally_t));
  const int64_t count = graph->fragments->sequence_count;
  for (int64_t i = 0; i < count; i++) {
    const auto a = static_cast<oriented_id_t>(i);
    fragment_graph_add_read_edges(graph, read_info, a, minimum_count, tally);
    fragment_graph_add_read_edges(graph, read_info, flip(a), minimum_count, tally);
  }
  array_list_free(tally);
}

void fragment_graph_add_read_edges(fragment_graph_t *graph, const read_info_t *read_info, oriented_id_t a,
                                   int32_t minimum_count, array_list_t *tally) {
  tally->count = 0;
  const uint32_t own_index = index_of(a);
  const int32_t k = graph->word_size;
  const uint64_t n = read_info_get_occurrence_count(read_info, a);
  for (uint64_t i = 0; i < n; i++) {
    const read_ptr_t p = read_info_get_occurrence(read_info, a, i);
    if (!read_info_has_next(read_info, p)) continue;
    const int32_t distance = read_info_get_next_distance(read_info, p);
    const read_ptr_t q = read_info_get_next(read_info, p);
    const oriented_id_t b = read_info_get_fragment(read_info, q);
    const auto reads = static_cast<int32_t>(read_info_get_count(read_info, read_ptr_get_index(p)));
    // The self loop of a reverse fragment is added from the forward strand.
    if (b == a && fragment_graph_node_is_reverse(a)) continue;
    bool found = false;
    for (uint64_t t = 0; t < tally->count && !found; t++) {
      auto *record = static_cast<fragment_graph_tally_t *>(array_list_get_item(tally, t));
      if (record->distance == distance && record->next == b) {
        record->count += reads;
        found = true;
      }
    }
    if (!found) {
      const fragment_graph_tally_t record = {distance, b, reads};
      array_list_add(tally, &record);
    }
  }
  const int32_t length_a = fragment_graph_get_fragment_length(graph, a);
  for (uint64_t t = 0; t < tally->count; t++) {
    const auto *record = static_cast<const fragment_graph_tally_t *>(array_list_get_item(tally, t));
    if (record->count < minimum_count) continue;
    if (index_of(record->next) < own_index) continue;
    if (record->distance < -k) continue;
    if (length_a + record->distance <= 0) continue;
    if (fragment_graph_get_fragment_length(graph, record->next) + record->distance <= 0) continue;
    fragment_graph_add_edge_unsorted(graph, fragment_graph_get_fragment_node(graph, a),
                                     fragment_graph_get_fragment_node(graph, record->next), record->distance);
  }
}

void fragment_graph_set_other_nodes(fragment_graph_t *graph) {
  if (graph->node_count == 0) return;
  // Live slots to the front.
  int64_t low = 0;
  int64_t high = graph->node_count - 1;
  while (low < high) {
    if (slot_live(graph, low)) {
      low++;
      continue;
    }
    while (high > low && !slot_live(graph, high)) high--;
    if (high == low) break;
    fragment_graph_swap_nodes(graph, static_cast<oriented_id_t>(low), static_cast<oriented_id_t>(high));
    low++;
    high--;
  }
  int64_t live = low;
  if (low < graph->node_count && slot_live(graph, low)) live = low + 1;

  // Every node to its fragment's slot where that slot does not yet carry it.
  for (int64_t j = 0; j < live; j++) {
    while (slot_live(graph, j)) {
      const oriented_id_t f = graph->nodes[j].fragment;
      const uint32_t home = index_of(f);
      if (home < static_cast<uint32_t>(graph->node_count) && slot_live(graph, home) &&
          graph->nodes[home].fragment == home) {
        break;
      }
      if (home >= static_cast<uint32_t>(graph->node_count)) break;
      fragment_graph_swap_nodes(graph, f, static_cast<oriented_id_t>(j));
    }
  }

  const int32_t fragment_count = fragment_graph_get_fragment_count(graph);
  graph->free_node_count = 0;
  // A graph with fewer slots than fragments gets the missing slots as
  // disabled ones, which become fresh nodes below.
  if (fragment_count > graph->node_capacity) {
    graph->nodes = static_cast<fragment_graph_node_t *>(
        ryx_realloc(graph->nodes, static_cast<size_t>(fragment_count) * sizeof(fragment_graph_node_t)));
    graph->node_capacity = fragment_count;
  }
  for (int32_t i = graph->node_count; i < fragment_count; i++) {
    graph->nodes[i] = {kNone, kNone, static_cast<oriented_id_t>(i), kNone, kGraphDisabledBit};
  }
  graph->node_count = static_cast<int32_t>(live > fragment_count ? live : fragment_count);

  for (int32_t l = 0; l < fragment_count; l++) {
    fragment_graph_node_t &slot = graph->nodes[l];
    if (!slot_live(graph, l)) {
      slot = {kNone, kNone, static_cast<oriented_id_t>(l), kNone, 0};
    } else if (slot.fragment != static_cast<oriented_id_t>(l)) {
      const oriented_id_t moved = fragment_graph_new_node(graph, static_cast<oriented_id_t>(l));
      fragment_graph_swap_nodes(graph, moved, static_cast<oriented_id_t>(l));
      graph->nodes[l].fragment = static_cast<oriented_id_t>(l);
    }
    graph->nodes[l].other_node = kNone;
  }
  for (int32_t s = fragment_count; s < graph->node_count; s++) {
    const uint32_t home = index_of(graph->nodes[s].fragment);
    graph->nodes[s].other_node = graph->nodes[home].other_node;
    graph->nodes[home].other_node = static_cast<oriented_id_t>(s);
  }
}

int fragment_graph_path_search(const fragment_graph_t *graph, oriented_id_t start, oriented_id_t target,
                               int32_t max_length, int32_t *minimum, int32_t *maximum, int32_t *budget) {
  *minimum = max_length;
  *maximum = -100;
  *budget = 0;
  return fragment_graph_path_search_rec(graph, start, target, 0, max_length, minimum, maximum, budget, 1);
}

int fragment_graph_path_search_rec(const fragment_graph_t *graph, oriented_id_t a, oriented_id_t target,
                                   int32_t length, int32_t max_length, int32_t *minimum, int32_t *maximum,
                                   int32_t *budget, int first) {
  return search(graph, a, target, length, max_length, minimum, maximum, budget, first, 0);
}

void fragment_graph_mark_bubble_inner(fragment_graph_t *graph, oriented_id_t start, oriented_id_t end, int first) {
  if (!first) {
    if (start == end) return;
    fragment_graph_node_t *n = fragment_graph_get_node_record(graph, start);
    n->flags = static_cast<uint16_t>((n->flags & ~0x1C) | kGraphBubbleNodeBit);
  }
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, start); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    fragment_graph_mark_bubble_inner(graph, fragment_graph_get_edge_to_node(graph, e), end, 0);
  }
}

void fragment_graph_mark_bubble(fragment_graph_t *graph, oriented_id_t start, oriented_id_t end) {
  fragment_graph_mark_bubble_inner(graph, start, end, 1);
  if (!fragment_graph_is_bubble_node(graph, start)) fragment_graph_set_bubble_start(graph, start);
  // The bubble end of a node is the bubble start of its reverse strand.
  if (!fragment_graph_is_bubble_node(graph, end)) fragment_graph_set_bubble_start(graph, flip(end));
}

}  // extern "C"
