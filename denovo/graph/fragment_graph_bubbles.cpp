#include "denovo/graph/fragment_graph_bubbles.h"

#include "denovo/graph/fragment_graph_build.h"

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;

oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }

// Path search from a to b within max_size whose reached gaps differ by at
// most max_difference.
bool branches_meet(const fragment_graph_t *graph, oriented_id_t a, oriented_id_t b, int32_t max_size,
                   int32_t max_difference) {
  int32_t minimum = max_size;
  int32_t maximum = -100;
  int32_t budget = 0;
  if (!fragment_graph_path_search_rec(graph, a, b, 0, max_size, &minimum, &maximum, &budget, 1)) return false;
  return static_cast<int64_t>(maximum) - minimum <= max_difference;
}

}  // namespace

extern "C" {

uint32_t fragment_graph_get_edge_support(const fragment_graph_t *graph, const read_info_t *read_info,
                                         oriented_id_t edge) {
  if (read_info == nullptr || read_info->offsets == nullptr) return 0;
  const oriented_id_t a = fragment_graph_get_node_fragment(graph, fragment_graph_get_edge_from_node(graph, edge));
  const oriented_id_t b = fragment_graph_get_node_fragment(graph, fragment_graph_get_edge_to_node(graph, edge));
  const int32_t distance = fragment_graph_get_edge_distance(graph, edge);
  uint32_t support = 0;
  const uint64_t n = read_info_get_occurrence_count(read_info, a);
  for (uint64_t i = 0; i < n; i++) {
    const read_ptr_t p = read_info_get_occurrence(read_info, a, i);
    if (!read_info_has_next(read_info, p)) continue;
    const read_ptr_t q = read_info_get_next(read_info, p);
    if (read_info_get_fragment(read_info, q) == b && read_info_get_prev_distance(read_info, q) == distance) {
      support += read_info_get_count(read_info, read_ptr_get_index(q));
    }
  }
  return support;
}

void fragment_graph_find_bubble_at(fragment_graph_t *graph, int32_t max_size, int32_t max_difference,
                                   oriented_id_t s) {
  if (fragment_graph_count_next_edges(graph, s) < 2) return;
  const oriented_id_t e = fragment_graph_get_first_next_edge(graph, s);
  oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
  int64_t gap = fragment_graph_get_edge_distance(graph, e);
  // Each move adds a fragment length and an overlap that leaves it positive,
  // so the gap bound ends the candidates; the move count guards graphs whose
  // edited overlaps break that.
  for (int64_t moves = 0;; moves++) {
    if (branches_meet(graph, s, t, max_size, max_difference)) break;
    const oriented_id_t next = fragment_graph_get_first_next_edge(graph, t);
    if (next == kNone) return;
    gap += fragment_graph_get_node_length(graph, t) + fragment_graph_get_edge_distance(graph, next);
    if (gap > max_size || moves > static_cast<int64_t>(max_size) + 1) return;
    t = fragment_graph_get_edge_to_node(graph, next);
  }
  if (!branches_meet(graph, flip(t), flip(s), max_size, max_difference)) return;
  fragment_graph_mark_bubble_inner(graph, s, t, 1);
  if (!fragment_graph_is_bubble_node(graph, s)) fragment_graph_set_bubble_start(graph, s);
  // The bubble end of t is the bubble start of its reverse strand.
  if (!fragment_graph_is_bubble_node(graph, t)) fragment_graph_set_bubble_start(graph, flip(t));
}

void fragment_graph_find_bubble(fragment_graph_t *graph, int32_t max_size, int32_t max_difference, oriented_id_t s) {
  fragment_graph_find_bubble_at(graph, max_size, max_difference, s);
}

void fragment_graph_set_bubbles(fragment_graph_t *graph, const read_info_t *read_info, int32_t max_size,
                                int32_t max_difference, int keep_best) {
  for (int32_t i = 0; i < graph->node_count; i++) {
    if (!(graph->nodes[i].flags & kGraphDisabledBit)) graph->nodes[i].flags &= 0xFFE0;
  }
  for (int32_t j = 0; j < graph->node_count; j++) {
    const auto node = static_cast<oriented_id_t>(j);
    fragment_graph_find_bubble_at(graph, max_size, max_difference, node);
    fragment_graph_find_bubble_at(graph, max_size, max_difference, flip(node));
  }
  if (keep_best) fragment_graph_keep_best_branches(graph, read_info);
}

int32_t fragment_graph_get_branch_support(const fragment_graph_t *graph, const read_info_t *read_info,
                                          oriented_id_t edge) {
  const auto v = static_cast<int32_t>(fragment_graph_get_edge_support(graph, read_info, edge));
  const oriented_id_t t = fragment_graph_get_edge_to_node(graph, edge);
  if (fragment_graph_is_bubble_end(graph, t)) return v;
  int32_t best = -1;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, t); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const int32_t m = fragment_graph_get_branch_support(graph, read_info, e);
    if (m > best) best = m;
  }
  if (best == -1) return v;
  return v < best ? v : best;
}

void fragment_graph_keep_best_branch(fragment_graph_t *graph, const read_info_t *read_info, oriented_id_t s) {
  // A branch never holds more nodes than the graph; the bound only guards a
  // graph whose marks no longer describe acyclic bubbles.
  for (int64_t steps = 0; steps <= graph->node_count; steps++) {
    oriented_id_t best = kNone;
    int32_t best_support = 0;
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, s); e != kNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      const int32_t support = fragment_graph_get_branch_support(graph, read_info, e);
      if (best == kNone || support > best_support) {
        best = e;
        best_support = support;
      }
    }
    if (best == kNone) return;
    fragment_graph_move_edge_to_front(graph, best);
    s = fragment_graph_get_edge_to_node(graph, best);
    if (fragment_graph_is_bubble_end(graph, s)) return;
  }
}

void fragment_graph_keep_best_branches(fragment_graph_t *graph, const read_info_t *read_info) {
  for (int32_t i = 0; i < graph->node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    if (graph->nodes[i].flags & kGraphBubbleStartBit) fragment_graph_keep_best_branch(graph, read_info, node);
    if (graph->nodes[i].flags & kGraphBubbleEndBit) fragment_graph_keep_best_branch(graph, read_info, flip(node));
  }
}

void fragment_graph_move_next_edge_to_front(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge) {
  if (fragment_graph_get_first_next_edge(graph, node) == edge) return;
  fragment_graph_unlink_next_edge(graph, node, edge);
  fragment_graph_set_sibling_next_edge(graph, edge, fragment_graph_get_first_next_edge(graph, node));
  fragment_graph_set_first_next_edge(graph, node, edge);
}

void fragment_graph_move_edge_to_front(fragment_graph_t *graph, oriented_id_t edge) {
  const oriented_id_t from = fragment_graph_get_edge_from_node(graph, edge);
  const oriented_id_t to = fragment_graph_get_edge_to_node(graph, edge);
  fragment_graph_move_next_edge_to_front(graph, from, edge);
  // to's prev list is the next list of reverse(to), holding the reversed edge.
  if (to != flip(from)) fragment_graph_move_next_edge_to_front(graph, flip(to), fragment_graph_reverse_edge(edge));
}

}  // extern "C"
