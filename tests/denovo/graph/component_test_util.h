// A graph with its fragments and read paths and a window context over
// them, for the window, threading and component tests; chains of edges and
// reads along paths, all at distance -5.
#pragma once

#include <vector>

#include "denovo/graph/component_window.h"
#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace graph_test {

// Edges joining the given pairs of nodes, each at distance -5.
inline std::vector<Edge> chain_edges(const std::vector<std::pair<oriented_id_t, oriented_id_t>> &pairs) {
  std::vector<Edge> out;
  for (const auto &p : pairs) out.emplace_back(p.first, p.second, -5);
  return out;
}

// n reads along the path, every step at distance -5.
inline PathReads path_reads(std::vector<oriented_id_t> path, int n) {
  return PathReads{path, std::vector<int32_t>(path.size() - 1, -5), n};
}

struct WindowFixture : HandGraph {
  read_info_t *info;
  component_window_t *context;
  WindowFixture(const std::vector<uint32_t> &lengths, const std::vector<Edge> &edges,
                const std::vector<PathReads> &paths = {})
      : HandGraph(fragments_of_lengths(lengths), edges) {
    info = read_paths(static_cast<uint32_t>(lengths.size()), paths);
    context = component_window_new(graph, info, 10);
  }
  ~WindowFixture() {
    component_window_free(context);
    read_info_free(info);
  }
  void set(const std::vector<oriented_id_t> &nodes) {
    component_window_set_nodes(context, nodes.data(), static_cast<int32_t>(nodes.size()));
  }
  bool marks_clear() const { return fragment_graph_check_marks(graph, kOrientedIdNone) != 0; }
  std::vector<oriented_id_t> exterior() const {
    const window_info_t *w = context->window_info;
    return {w->exterior_border_nodes, w->exterior_border_nodes + w->exterior_border_node_count};
  }
  std::vector<oriented_id_t> interior() const {
    const window_info_t *w = context->window_info;
    return {w->interior_border_nodes, w->interior_border_nodes + w->interior_border_node_count};
  }
};

}  // namespace graph_test
