// Unfolding on hand-made graphs: passes over the not-done list and their
// count, the decision function's place, growth bounded by the maximum
// depth, the reverse attempt, and the traced attempt.
#include "denovo/graph/component_unfold.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "component_test_util.h"
#include "denovo/graph/component_build.h"
#include "denovo/graph/components.h"
#include "denovo/graph/fragment_graph_check.h"
#include "read_optimize_harness.h"

namespace {

using namespace graph_test;

// What the decision functions saw.
struct Calls {
  int32_t count = 0;
  std::vector<std::vector<oriented_id_t>> windows;
};
Calls g_calls;

void note(component_window_t *c) {
  g_calls.count++;
  g_calls.windows.emplace_back(c->component_nodes, c->component_nodes + c->component_node_count);
}

int declining(component_window_t *c, component_list_t *) {
  note(c);
  return 0;
}

// Drops the path groups of 3 reads or fewer and rebuilds from the rest.
int thresholding(component_window_t *c, component_list_t *components) {
  note(c);
  components = component_get_components_above_count(c, components, 3);
  return components->component_count > 0 ? component_build(c, components) : 0;
}

// A root meter writing nowhere, so that the passes can be counted from its
// final value: pass p ends at 1 - 0.5^(p+1).
struct QuietMeter {
  progress_meter_t *meter = progress_meter_new();
  FILE *sink = fopen("/dev/null", "w");
  QuietMeter() { meter->output = sink; }
  ~QuietMeter() {
    progress_meter_free(meter);
    fclose(sink);
  }
  double fraction() const { return progress_meter_get_fraction(meter); }
};

// The (first, last) fragments of the graph's chains when every live node has
// at most one edge on each side, each chain given once from its smaller end;
// empty when some node branches.
std::set<std::pair<oriented_id_t, oriented_id_t>> chain_ends(const fragment_graph_t *g) {
  std::set<std::pair<oriented_id_t, oriented_id_t>> out;
  for (int32_t s = 0; s < g->node_count; s++) {
    const auto slot = static_cast<oriented_id_t>(s);
    if (fragment_graph_is_disabled(g, slot)) continue;
    for (const oriented_id_t n : {slot, rev(slot)}) {
      if (next_list(g, n).size() > 1) return {};
      if (!prev_list(g, n).empty() || next_list(g, n).empty()) continue;
      oriented_id_t at = n;
      for (int32_t steps = 0; !next_list(g, at).empty() && steps <= g->node_count; steps++) at = next_list(g, at)[0].first;
      const oriented_id_t a = fragment_graph_get_node_fragment(g, n), b = fragment_graph_get_node_fragment(g, at);
      out.insert(std::min(std::make_pair(a, b), std::make_pair(rev(b), rev(a))));
    }
  }
  return out;
}

bool is_copy(oriented_id_t node, size_t original_count) { return fragment_graph_node_index(node) >= original_count; }

// Node 4 between prev neighbours 0, 1 and next neighbours 2, 3.
const std::vector<Edge> kCross = chain_edges({{0, 4}, {1, 4}, {4, 2}, {4, 3}});

TEST(ComponentUnfold, NoWindowRebuiltOnePass) {
  for (const int32_t depth : {0, 10}) {
    WindowFixture f(std::vector<uint32_t>(5, 30), kCross);
    const auto edges = edge_set(f.graph);
    g_calls = {};
    QuietMeter m;
    EXPECT_EQ(component_unfold_all_nodes(f.context, declining, depth, m.meter), 0);
    EXPECT_DOUBLE_EQ(m.fraction(), 0.5);  // one pass
    EXPECT_EQ(g_calls.count, 0);
    EXPECT_EQ(edge_set(f.graph), edges);
    EXPECT_TRUE(f.marks_clear());
  }
}

// X = 4 between A = 0, C = 1 and B = 2, D = 3, E = 5: reads A X B, and from C
// to D (6 reads) and to E (2 reads). The first pass splits X into a copy for
// A-B and one for C (listed for the next pass); there the decision function
// drops C-E and rebuilds the copy; a third pass finds nothing.
TEST(ComponentUnfold, PassesOverCopiesAddUp) {
  const auto edges = chain_edges({{0, 4}, {1, 4}, {4, 2}, {4, 3}, {4, 5}});
  WindowFixture f(std::vector<uint32_t>(6, 30), edges,
                  {path_reads({0, 4, 2}, 5), path_reads({1, 4, 3}, 6), path_reads({1, 4, 5}, 2)});
  g_calls = {};
  QuietMeter m;
  EXPECT_EQ(component_unfold_all_nodes(f.context, thresholding, 10, m.meter), 2);
  EXPECT_DOUBLE_EQ(m.fraction(), 0.875);  // three passes
  ASSERT_GE(g_calls.count, 1);
  for (const auto &w : g_calls.windows) {
    ASSERT_EQ(w.size(), 1u);
    EXPECT_TRUE(is_copy(w[0], 6));  // only the copies reach the decision
  }
  EXPECT_TRUE(optimize_harness::graph_valid(f.graph));
  // A-B and C-D are chains through copies of X; C-E is gone.
  EXPECT_EQ(chain_ends(f.graph), (std::set<std::pair<oriented_id_t, oriented_id_t>>{{0, 2}, {1, 3}}));
  EXPECT_TRUE(next_list(f.graph, 5).empty());
  EXPECT_TRUE(prev_list(f.graph, 5).empty());
}

// P = 0 after a = 2 and b = 3, Q = 1 after P and before c = 4 and d = 5;
// reads a P Q c and b P Q d. Alone, neither P nor Q separates the reads
// (each sees one component of two path groups); together they do.
const std::vector<Edge> kPair = chain_edges({{2, 0}, {3, 0}, {0, 1}, {1, 4}, {1, 5}});
const std::vector<PathReads> kPairReads = {path_reads({2, 0, 1, 4}, 4), path_reads({3, 0, 1, 5}, 4)};

TEST(ComponentUnfold, GrowthBoundedByDepth) {
  for (const int32_t depth : {0, 1}) {
    WindowFixture f(std::vector<uint32_t>(6, 30), kPair, kPairReads);
    const auto edges = edge_set(f.graph);
    g_calls = {};
    f.set({0});
    const int32_t r = component_unfold_nodes(f.context, declining, depth, 0);
    EXPECT_EQ(r, depth == 0 ? 0 : 1) << depth;
    ASSERT_EQ(g_calls.count, 1) << depth;
    EXPECT_EQ(g_calls.windows[0], (std::vector<oriented_id_t>{0})) << depth;
    if (depth == 0) {
      EXPECT_EQ(edge_set(f.graph), edges);
      EXPECT_EQ(f.context->component_node_count, 1);
    } else {
      EXPECT_TRUE(fragment_graph_is_disabled(f.graph, 0));
      EXPECT_TRUE(fragment_graph_is_disabled(f.graph, 1));
    }
    EXPECT_TRUE(optimize_harness::graph_valid(f.graph)) << depth;
  }
}

// Q's own window cannot grow toward P (P' is a prev-side neighbour of Q,
// never a candidate); the window of Q' can, and resolves.
TEST(ComponentUnfold, ReverseWindowSucceedsWhereForwardFails) {
  WindowFixture f(std::vector<uint32_t>(6, 30), kPair, kPairReads);
  const auto edges = edge_set(f.graph);
  g_calls = {};
  f.set({1});
  EXPECT_EQ(component_unfold_nodes(f.context, declining, 10, 0), 0);
  EXPECT_EQ(edge_set(f.graph), edges);
  EXPECT_EQ(f.context->component_node_count, 1);
  f.set({1 | R});
  EXPECT_EQ(component_unfold_nodes(f.context, declining, 10, 0), 1);
  EXPECT_TRUE(fragment_graph_is_disabled(f.graph, 1));
  EXPECT_TRUE(optimize_harness::graph_valid(f.graph));

  // Over the whole graph: P resolves the pair at once (one success), and
  // the copies need nothing more.
  WindowFixture all(std::vector<uint32_t>(6, 30), kPair, kPairReads);
  EXPECT_EQ(component_unfold_all_nodes(all.context, declining, 10, nullptr), 1);
  EXPECT_EQ(chain_ends(all.graph), (std::set<std::pair<oriented_id_t, oriented_id_t>>{{2, 4}, {3, 5}}));
}

std::string traced(WindowFixture &f, const std::vector<oriented_id_t> &window, int32_t depth, int32_t *result) {
  f.set(window);
  testing::internal::CaptureStdout();
  *result = component_unfold_window(f.context, declining, depth);
  return testing::internal::GetCapturedStdout();
}

TEST(ComponentUnfold, Trace) {
  int32_t r = -1;
  {
    WindowFixture f(std::vector<uint32_t>(5, 30), kCross);
    EXPECT_EQ(traced(f, {4}, 10, &r), "Window: 4\nNo components, returning\n");
    EXPECT_EQ(r, 0);
  }
  {
    WindowFixture f(std::vector<uint32_t>(5, 30), kCross, {path_reads({0, 4, 2}, 1), path_reads({1, 4, 3}, 1)});
    EXPECT_EQ(traced(f, {4}, 10, &r),
              "Window: 4\ncomponents\n"
              "  component 0, size 1:\n    00000002 <-> 80000000, count 1, 0 <-> 0 (2) <=> (0)\n\n"
              "  component 1, size 1:\n    00000003 <-> 80000001, count 1, 0 <-> 0 (5) <=> (3)\n\n"
              "Building, returning\n");
    EXPECT_EQ(r, 1);
  }
  {
    WindowFixture f(std::vector<uint32_t>(6, 30), kPair, kPairReads);
    EXPECT_NE(traced(f, {0}, 0, &r).find("6\nMaximum depth reached, returning\n"), std::string::npos);
    EXPECT_EQ(r, 0);
    EXPECT_NE(traced(f, {1}, 10, &r).find("6\nNo expandable nodes, returning\n"), std::string::npos);
    EXPECT_EQ(r, 0);
    const std::string grown = traced(f, {0}, 10, &r);
    EXPECT_NE(grown.find("Expanding nodes, count 1\nWindow: 0 1\n"), std::string::npos) << grown;
    EXPECT_NE(grown.find("Building, returning\n"), std::string::npos) << grown;
    EXPECT_EQ(r, 1);
  }
  {
    // Reads that end on the border: nothing beyond the window.
    WindowFixture f(std::vector<uint32_t>(6, 30), kPair, {path_reads({2, 0, 1}, 4), path_reads({3, 0, 1}, 4)});
    EXPECT_NE(traced(f, {0}, 10, &r).find("6\nNo more info, returning\n"), std::string::npos);
    EXPECT_EQ(r, 0);
  }
}

}  // namespace
