#include "denovo/app/denovo_diagnostics.h"

#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

#include "common/clock.h"

namespace {

// Root of x's set, halving the path on the way.
int32_t find_root(std::vector<int32_t> &parent, int32_t x) {
  while (parent[x] != x) {
    parent[x] = parent[parent[x]];
    x = parent[x];
  }
  return x;
}

}  // namespace

extern "C" {

void denovo_print_elapsed(const char *label, int64_t start) {
  const int64_t elapsed = time_get_usec() - start;
  if (elapsed > 999999) {
    printf("%s: %.1f s", label, static_cast<double>(elapsed) / 1e6);
  } else {
    printf("%s: %lld ms", label, static_cast<long long>(elapsed / 1000));
  }
  printf("%25s\n", "");
}

void denovo_print_lap(const char *label, int64_t *start) {
  denovo_print_elapsed(label, *start);
  *start = time_get_usec();
}

int64_t denovo_count_active_nodes(const fragment_graph_t *graph, const read_info_t *info) {
  int64_t live = 0;
  int64_t passed_by_none = 0;
  for (int32_t n = 0; n < graph->node_count; n++) {
    if (fragment_graph_is_disabled(graph, static_cast<oriented_id_t>(n))) continue;
    live++;
    const oriented_id_t fragment = fragment_graph_get_node_fragment(graph, static_cast<oriented_id_t>(n));
    const uint64_t count = read_info_get_occurrence_count(info, fragment);
    bool through = false;
    for (uint64_t i = 0; i < count && !through; i++) {
      const read_ptr_t p = read_info_get_occurrence(info, fragment, i);
      through = read_info_has_prev(info, p) && read_info_has_next(info, p);
    }
    passed_by_none += !through;
  }
  printf("\nactive node %lld\n", static_cast<long long>(live));
  return passed_by_none;
}

int32_t denovo_count_connected_components(const fragment_graph_t *graph) {
  std::vector<int32_t> parent(static_cast<size_t>(graph->node_count));
  std::iota(parent.begin(), parent.end(), 0);
  for (int32_t n = 0; n < graph->node_count; n++) {
    if (fragment_graph_is_disabled(graph, static_cast<oriented_id_t>(n))) continue;
    for (oriented_id_t node : {static_cast<oriented_id_t>(n), fragment_graph_reverse_node(n)}) {
      for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kOrientedIdNone;
           e = fragment_graph_get_sibling_next_edge(graph, e)) {
        const auto to = static_cast<int32_t>(fragment_graph_node_index(fragment_graph_get_edge_to_node(graph, e)));
        parent[find_root(parent, n)] = find_root(parent, to);
      }
    }
  }
  int32_t components = 0;
  for (int32_t n = 0; n < graph->node_count; n++) {
    if (!fragment_graph_is_disabled(graph, static_cast<oriented_id_t>(n)) && find_root(parent, n) == n) components++;
  }
  printf("number of connected components %d\n", components);
  return components;
}

int denovo_orientation_to_distance_mode(const char *orientation, char out[3]) {
  static const char *const kPairs[4][2] = {{"ff", "se"}, {"fb", "ss"}, {"bf", "ee"}, {"bb", "es"}};
  for (const auto &pair : kPairs) {
    if (orientation != nullptr && strcmp(orientation, pair[0]) == 0) {
      memcpy(out, pair[1], 3);
      return 0;
    }
  }
  return 1;
}

int denovo_is_distance_mode(const char *word) {
  if (word == nullptr) return 0;
  for (const char *mode : {"ss", "se", "es", "ee"}) {
    if (strcmp(word, mode) == 0) return 1;
  }
  return 0;
}

}  // extern "C"
