// A graph with its fragments and read paths and a window context over
// them, for the window, threading and component tests.
#pragma once

#include <vector>

#include "denovo/graph/component_window.h"
#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace graph_test {

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
