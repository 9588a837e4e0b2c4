// Read optimisation: the count threshold of the max function, the progress
// bands of the passes, and the max function's decision on windows whose
// read counts keep, drop or cannot be judged.
#include "denovo/app/read_optimize.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "denovo/graph/components.h"
#include "denovo/graph/fragment_graph_check.h"
#include "tests/denovo/graph/component_test_util.h"

namespace {

using namespace graph_test;

TEST(ReadOptimize, Threshold) {
  struct Case {
    int32_t x, threshold;
  } cases[] = {
      {0, 0},    {1, 0},   {2, 0},   {7, 0},    {8, 1},     {15, 1},   {16, 2},
      {40, 3},   {100, 8}, {1000, 65}, {2980, 189}, {2981, 190}, {-3, 0},
  };
  for (const auto &c : cases) EXPECT_EQ(read_optimize_threshold(c.x), c.threshold) << c.x;
}

// Ten passes per band; the next band starts where the last ended and takes
// three quarters of what is left below 0.98.
TEST(ReadOptimize, PassBands) {
  double from = 0, to = 0;
  read_optimize_pass_range(kReadOptimizeFirstBandLow, kReadOptimizeFirstBandHigh, 0, &from, &to);
  EXPECT_DOUBLE_EQ(from, 0.11);
  EXPECT_DOUBLE_EQ(to, 0.17525);
  read_optimize_pass_range(kReadOptimizeFirstBandLow, kReadOptimizeFirstBandHigh, 9, &from, &to);
  EXPECT_DOUBLE_EQ(to, 0.7625);
  const double second_high = 0.7625 + 0.75 * (0.98 - 0.7625);
  EXPECT_DOUBLE_EQ(second_high, 0.925625);
  read_optimize_pass_range(0.7625, second_high, 0, &from, &to);
  EXPECT_DOUBLE_EQ(from, 0.7625);
  EXPECT_LT(to, second_high);
}

// Node 4 between prev neighbours 0, 1 and next neighbours 2, 3; n reads
// along each given path through it.
const std::vector<uint32_t> kLengths = {30, 30, 30, 30, 30};
const std::vector<Edge> kCross = {{0, 4, -5}, {1, 4, -5}, {4, 2, -5}, {4, 3, -5}};

std::vector<PathReads> reads(int zero_two, int zero_three, int one_three, int one_two) {
  std::vector<PathReads> p;
  for (int i = 0; i < zero_two; i++) p.push_back({{0, 4, 2}, {-5, -5}});
  for (int i = 0; i < zero_three; i++) p.push_back({{0, 4, 3}, {-5, -5}});
  for (int i = 0; i < one_three; i++) p.push_back({{1, 4, 3}, {-5, -5}});
  for (int i = 0; i < one_two; i++) p.push_back({{1, 4, 2}, {-5, -5}});
  return p;
}

int32_t live_edges(const fragment_graph_t *graph) {
  int32_t n = 0;
  for (int32_t e = 0; e < graph->edge_count; e++) n += !fragment_graph_edge_is_removed(graph, e);
  return n;
}

TEST(ReadOptimize, MaxFunctionKeepsWindowsItCannotJudge) {
  struct Case {
    const char *what;
    std::vector<PathReads> paths;
  } cases[] = {
      {"every group of count 1: mean 1, threshold 0", reads(1, 1, 0, 0)},
      {"weakest group above the threshold of the strong ones", reads(5, 6, 0, 0)},
      {"one group only", reads(0, 0, 9, 0)},
  };
  for (const auto &c : cases) {
    WindowFixture f(kLengths, kCross, c.paths);
    f.set({4});
    component_list_t *list = component_get_components(f.context, 0);
    ASSERT_EQ(list->component_count, 1) << c.what;
    const int32_t edges = live_edges(f.graph);
    EXPECT_EQ(read_optimize_max_function(f.context, list), 0) << c.what;
    EXPECT_EQ(live_edges(f.graph), edges) << c.what;
    EXPECT_EQ(f.graph->node_count, 5) << c.what;
  }
  EXPECT_EQ(read_optimize_zero_function(nullptr, nullptr), 0);
}

// Counts 1, 1 and 40 in one component: mean 14, strong mean 40, threshold
// 3, so the two groups of one read go and the window is rebuilt along the
// supported path alone.
TEST(ReadOptimize, MaxFunctionDropsWeakGroups) {
  WindowFixture f(kLengths, kCross, reads(1, 1, 40, 0));
  f.set({4});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 1);
  ASSERT_EQ(list->sizes[0], 3);
  EXPECT_NE(read_optimize_max_function(f.context, list), 0);
  EXPECT_EQ(fragment_graph_check_links(f.graph, -1), 1);
  // The only way left through a node of fragment 4 is the supported one;
  // the weak entry from 0 and the weak exit to 2 lead nowhere through it.
  std::set<std::pair<oriented_id_t, oriented_id_t>> through;
  for (oriented_id_t n = 0; n < static_cast<oriented_id_t>(f.graph->node_count); n++) {
    if (fragment_graph_is_disabled(f.graph, n) || fragment_graph_get_node_fragment(f.graph, n) != 4) continue;
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(f.graph, n); e != kOrientedIdNone;
         e = fragment_graph_get_sibling_prev_edge(f.graph, e)) {
      for (oriented_id_t g = fragment_graph_get_first_next_edge(f.graph, n); g != kOrientedIdNone;
           g = fragment_graph_get_sibling_next_edge(f.graph, g)) {
        through.insert({fragment_graph_get_edge_from_node(f.graph, e), fragment_graph_get_edge_to_node(f.graph, g)});
      }
    }
  }
  EXPECT_EQ(through, (std::set<std::pair<oriented_id_t, oriented_id_t>>{{1, 3}}));
}

TEST(ReadOptimizeDeath, MaxFunctionNeedsOneComponent) {
  WindowFixture f(kLengths, kCross, reads(2, 0, 3, 0));
  f.set({4});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 2);
  EXPECT_EXIT(ON_STDOUT(read_optimize_max_function(f.context, list)), testing::ExitedWithCode(1),
              "^Error, number of components is not 1\n$");
}

}  // namespace
