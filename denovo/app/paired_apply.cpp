#include "denovo/app/paired_apply.h"

#include <algorithm>

#include "denovo/graph/fragment_graph_build_by_path.h"

namespace {

paired_optimize_result_t **items_of(array_list_t *list) {
  return reinterpret_cast<paired_optimize_result_t **>(list->items);
}

}  // namespace

extern "C" {

void paired_apply_edge_removals(paired_context_t *context, array_list_t *removals) {
  fragment_graph_t *graph = context->graph;
  const uint64_t count = array_list_get_count(removals);
  if (count == 0) return;
  paired_optimize_result_t **items = items_of(removals);
  std::sort(items, items + count, [](const paired_optimize_result_t *a, const paired_optimize_result_t *b) {
    return a->removal.edge < b->removal.edge;
  });
  for (uint64_t i = 0; i < count; i++) {
    const paired_edge_removal_t &r = items[i]->removal;
    if (fragment_graph_edge_is_removed(graph, r.edge)) continue;
    fragment_graph_remove_edge(graph, r.edge);
    fragment_graph_set_mark1(graph, r.node);
  }
}

int paired_apply_path_order(const contig_path_t *a, const contig_path_t *b) {
  const int32_t n = std::min(a->count, b->count);
  for (int32_t i = 0; i < n; i++) {
    const oriented_id_t x = fragment_graph_node_index(a->ids[i]);
    const oriented_id_t y = fragment_graph_node_index(b->ids[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a->count != b->count) return a->count < b->count ? -1 : 1;
  if (a->distance != b->distance) return a->distance < b->distance ? -1 : 1;
  for (int32_t i = 0; i < n; i++) {
    if (a->ids[i] != b->ids[i]) return a->ids[i] < b->ids[i] ? -1 : 1;
  }
  return 0;
}

void paired_apply_contig_paths(paired_context_t *context, array_list_t *paths) {
  fragment_graph_t *graph = context->graph;
  const uint64_t count = array_list_get_count(paths);
  if (count == 0) return;
  paired_optimize_result_t **items = items_of(paths);
  std::sort(items, items + count, [](const paired_optimize_result_t *a, const paired_optimize_result_t *b) {
    return paired_apply_path_order(a->path, b->path) < 0;
  });
  for (uint64_t i = 0; i < count; i++) {
    contig_path_t *p = items[i]->path;
    if (p->count >= 2 && !fragment_graph_path_is_connected(graph, p->ids, p->count)) {
      p->ids[0] = kOrientedIdNone;
      continue;
    }
    // A path without inner node is the internal error of the build.
    const oriented_id_t start = p->count >= 1 ? p->ids[0] : kOrientedIdNone;
    const oriented_id_t end = p->count >= 1 ? p->ids[p->count - 1] : kOrientedIdNone;
    fragment_graph_build_by_path(graph, start, p->ids + 1, p->count - 2, end, 0);
  }
}

}  // extern "C"
