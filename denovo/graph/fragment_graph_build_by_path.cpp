#include "denovo/graph/fragment_graph_build_by_path.h"

#include <cstdio>
#include <vector>

#include "common/ryx_exit.h"

namespace {

[[noreturn]] void internal_error(int code) {
  fprintf(stderr, "internal error in fragment_graph_build_by_path %d\n", code);
  fflush(stderr);
  ryx_exit(1);
}

// The first edge of to's prev list that comes from from, or -1.
oriented_id_t find_prev_edge_from(const fragment_graph_t *graph, oriented_id_t to, oriented_id_t from) {
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, to); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_prev_edge(graph, e)) {
    if (fragment_graph_get_edge_from_node(graph, e) == from) return e;
  }
  return kOrientedIdNone;
}

int has_one_edge(oriented_id_t first, oriented_id_t second) {
  return first != kOrientedIdNone && second == kOrientedIdNone;
}

// A fresh node carrying node's fragment in node's orientation.
oriented_id_t copy_of(fragment_graph_t *graph, oriented_id_t node) {
  if (!fragment_graph_node_is_reverse(node)) return fragment_graph_new_node(graph, node);
  return fragment_graph_reverse_node(fragment_graph_new_node(graph, fragment_graph_reverse_node(node)));
}

}  // namespace

extern "C" {

oriented_id_t fragment_graph_find_next_edge_to(const fragment_graph_t *graph, oriented_id_t from, oriented_id_t to) {
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, from); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    if (fragment_graph_get_edge_to_node(graph, e) == to) return e;
  }
  return kOrientedIdNone;
}

int fragment_graph_path_is_connected(const fragment_graph_t *graph, const oriented_id_t *nodes, int32_t count) {
  for (int32_t i = 0; i + 1 < count; i++) {
    if (fragment_graph_find_next_edge_to(graph, nodes[i], nodes[i + 1]) == kOrientedIdNone) return 0;
  }
  return 1;
}

int fragment_graph_build_by_path(fragment_graph_t *graph, oriented_id_t start, const oriented_id_t *inner,
                                 int32_t inner_count, oriented_id_t end, int skip_checks) {
  if (inner_count < 1) internal_error(1);
  const oriented_id_t first = inner[0];
  const oriented_id_t last = inner[inner_count - 1];
  const bool symmetric = end == fragment_graph_reverse_node(start) && first == fragment_graph_reverse_node(last);
  if (!skip_checks && !symmetric) {
    bool unique = true;
    for (int32_t i = 0; i < inner_count; i++) {
      const oriented_id_t prev = fragment_graph_get_first_prev_edge(graph, inner[i]);
      if (prev == kOrientedIdNone) internal_error(2);
      const oriented_id_t next = fragment_graph_get_first_next_edge(graph, inner[i]);
      if (next == kOrientedIdNone) internal_error(3);
      if (!has_one_edge(prev, fragment_graph_get_sibling_prev_edge(graph, prev)) ||
          !has_one_edge(next, fragment_graph_get_sibling_next_edge(graph, next))) {
        unique = false;
      }
    }
    if (unique) return 0;
  }

  // The two end edges are read before anything changes: in a symmetric path
  // the end edge is the start edge read backwards, so it moves with it.
  const oriented_id_t start_edge = fragment_graph_find_next_edge_to(graph, start, first);
  const oriented_id_t end_edge = find_prev_edge_from(graph, end, last);
  if (start_edge == kOrientedIdNone || end_edge == kOrientedIdNone) internal_error(4);
  const int32_t start_distance = fragment_graph_get_edge_distance(graph, start_edge);
  const int32_t end_distance = fragment_graph_get_edge_distance(graph, end_edge);

  std::vector<oriented_id_t> copies(static_cast<size_t>(inner_count));
  std::vector<int32_t> distances;
  for (int32_t i = 0; i < inner_count; i++) {
    copies[i] = copy_of(graph, inner[i]);
    fragment_graph_set_mark2(graph, copies[i]);
    if (i == 0) continue;
    // Every edge between the originals is copied (parallel edges differ in
    // distance); collect first, since adding edges may touch the lists read.
    distances.clear();
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, inner[i - 1]); e != kOrientedIdNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      if (fragment_graph_get_edge_to_node(graph, e) == inner[i]) {
        distances.push_back(fragment_graph_get_edge_distance(graph, e));
      }
    }
    for (int32_t d : distances) fragment_graph_add_edge(graph, copies[i - 1], copies[i], d);
  }

  fragment_graph_redirect_edge_to(graph, start, start_distance, first, copies[0]);
  if (symmetric) {
    fragment_graph_add_edge(graph, copies[inner_count - 1], end, end_distance);
  } else {
    fragment_graph_redirect_edge_from(graph, end, end_distance, last, copies[inner_count - 1]);
  }
  fragment_graph_set_mark2(graph, start);
  fragment_graph_set_mark2(graph, end);
  return 1;
}

}  // extern "C"
