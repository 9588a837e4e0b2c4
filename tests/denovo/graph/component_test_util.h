// A graph with its fragments and read paths and a window context over
// them, for the window, threading and component tests.
#pragma once

#include <unistd.h>

#include <vector>

#include "denovo/graph/component_window.h"
#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

// Death tests read standard error; these messages go to standard output.
#define ON_STDOUT(statement) \
  {                          \
    dup2(2, 1);              \
    statement;               \
  }

namespace graph_test {

struct WindowFixture {
  seq_db_t *db;
  fragment_graph_t *graph;
  read_info_t *info;
  component_window_t *context;
  WindowFixture(const std::vector<uint32_t> &lengths, const std::vector<Edge> &edges,
                const std::vector<PathReads> &paths = {}) {
    db = fragments_of_lengths(lengths);
    graph = fragment_graph_new(static_cast<int32_t>(lengths.size()), 21);
    graph->fragments = db;
    for (const Edge &e : edges) fragment_graph_add_edge(graph, std::get<0>(e), std::get<1>(e), std::get<2>(e));
    info = read_paths(static_cast<uint32_t>(lengths.size()), paths);
    context = component_window_new(graph, info, 10);
  }
  ~WindowFixture() {
    component_window_free(context);
    fragment_graph_free(graph);
    read_info_free(info);
    seq_db_free_records(db);
  }
  WindowFixture(const WindowFixture &) = delete;
  WindowFixture &operator=(const WindowFixture &) = delete;
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
