// Dead-end removal: the reach table against a brute-force longest path, the
// removal rule, bubble protection, the branch limit, branches that rejoin
// the main path, and clean visit marks afterwards.
#include "denovo/graph/dead_ends.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace {

using namespace graph_test;

struct Fixture : HandGraph {
  Fixture(const std::vector<uint32_t> &lengths, const std::vector<Edge> &edges)
      : HandGraph(fragments_of_lengths(lengths), edges) {}
  std::vector<oriented_id_t> disabled() const {
    std::vector<oriented_id_t> out;
    for (int32_t i = 0; i < graph->node_count; i++) {
      if (fragment_graph_is_disabled(graph, static_cast<oriented_id_t>(i))) out.push_back(static_cast<oriented_id_t>(i));
    }
    return out;
  }
  bool clean() const {
    return fragment_graph_check_links(graph, kOrientedIdNone) && fragment_graph_check_marks(graph, kOrientedIdNone);
  }
};

// Random acyclic graphs (edges from lower to higher index, either strand of
// the target): every node end's reach is its longest continuation.
TEST(DeadEnds, ReachMatchesLongestPath) {
  std::mt19937 rng(11);
  for (int round = 0; round < 20; round++) {
    const int n = 12;
    std::vector<uint32_t> lengths(n);
    for (auto &l : lengths) l = 20 + rng() % 60;
    std::vector<Edge> edges;
    for (int i = 0; i < n; i++) {
      for (int j = i + 1; j < n; j++) {
        if (rng() % 4 == 0) edges.emplace_back(i, j, -static_cast<int32_t>(rng() % 19));
      }
    }
    Fixture f(lengths, edges);
    std::map<oriented_id_t, int64_t> memo;
    std::function<int64_t(oriented_id_t)> longest = [&](oriented_id_t a) -> int64_t {
      auto it = memo.find(a);
      if (it != memo.end()) return it->second;
      int64_t best = 0;
      bool any = false;
      for (oriented_id_t e = fragment_graph_get_first_next_edge(f.graph, a); e != kOrientedIdNone;
           e = fragment_graph_get_sibling_next_edge(f.graph, e)) {
        const oriented_id_t t = fragment_graph_get_edge_to_node(f.graph, e);
        const int64_t v = fragment_graph_get_node_length(f.graph, t) + fragment_graph_get_edge_distance(f.graph, e) +
                          longest(t);
        best = any ? std::max(best, v) : v;
        any = true;
      }
      return memo[a] = best;
    };
    std::vector<int32_t> reach(2 * n, kDeadEndUnset);
    for (int a = n - 1; a >= 0; a--) {
      dead_end_compute_reach(f.graph, reach.data(), static_cast<oriented_id_t>(a));
      dead_end_compute_reach(f.graph, reach.data(), R | static_cast<oriented_id_t>(a));
    }
    for (int a = 0; a < n; a++) {
      for (oriented_id_t node : {static_cast<oriented_id_t>(a), R | static_cast<oriented_id_t>(a)}) {
        EXPECT_EQ(reach[dead_end_value_index(node)], longest(node)) << "round " << round << " node " << node;
      }
    }
    EXPECT_TRUE(f.clean());
  }
}

TEST(DeadEnds, CyclesAreUnbounded) {
  // 0 -> 1 -> 2 -> 1 and 0 -> 3.
  Fixture f({30, 30, 30, 30}, {{0, 1, -5}, {1, 2, -5}, {2, 1, -5}, {0, 3, -5}});
  std::vector<int32_t> reach(8, kDeadEndUnset);
  dead_end_compute_reach(f.graph, reach.data(), 0);
  EXPECT_EQ(reach[dead_end_value_index(0)], kDeadEndUnbounded);
  EXPECT_EQ(reach[dead_end_value_index(3)], 0);
  EXPECT_TRUE(f.clean());
}

// Node a = 0 with a short branch b = 1 (30 bases at -20, continuation 10)
// and other successors; which nodes the removal disables.
TEST(DeadEnds, Removal) {
  struct Case {
    const char *name;
    std::vector<uint32_t> lengths;
    std::vector<Edge> edges;
    uint16_t flags0, flags1;
    std::vector<oriented_id_t> disabled;
  } cases[] = {
      {"main path of 200 bases", {40, 30, 200}, {{0, 1, -20}, {0, 2, 0}}, 0, 0, {1}},
      {"main path of 40 bases", {40, 30, 40}, {{0, 1, -20}, {0, 2, 0}}, 0, 0, {}},
      // Node 4 leads into a from far away: seen from the cycle on the
      // reverse strand, a is then no short dead end itself.
      {"unbounded continuation removes below 1000 bases",
       {40, 30, 100, 50, 5000},
       {{0, 1, -20}, {0, 2, 0}, {2, 3, 0}, {3, 2, 0}, {4, 0, 0}},
       0,
       0,
       {1}},
      {"a successor with unbounded reach stays",
       {40, 30, 5000, 30, 5000},
       {{0, 1, -20}, {0, 2, 0}, {1, 3, 0}, {3, 1, 0}, {4, 0, 0}},
       0,
       0,
       {}},
      {"a bubble start is no origin", {40, 30, 200}, {{0, 1, -20}, {0, 2, 0}}, kGraphBubbleStartBit, 0, {}},
      {"a bubble node is no origin", {40, 30, 200}, {{0, 1, -20}, {0, 2, 0}}, kGraphBubbleNodeBit, 0, {}},
      {"a bubble node is never removed", {40, 30, 200}, {{0, 1, -20}, {0, 2, 0}}, 0, kGraphBubbleNodeBit, {}},
      {"the whole short branch goes", {40, 30, 2000, 25, 25}, {{0, 1, -20}, {0, 2, 0}, {1, 3, -20}, {3, 4, -20}}, 0, 0,
       {1, 3, 4}},
      // a -> x (1000) -> j -> tail and a -> d -> j: d goes, j and the tail
      // stay with x.
      {"a branch that rejoins takes only its own nodes",
       {40, 30, 1000, 30, 20},
       {{0, 1, -20}, {0, 2, 0}, {2, 3, -20}, {1, 3, -20}, {3, 4, -10}},
       0,
       0,
       {1}},
  };
  for (const Case &c : cases) {
    Fixture f(c.lengths, c.edges);
    f.graph->nodes[0].flags |= c.flags0;
    f.graph->nodes[1].flags |= c.flags1;
    remove_dead_ends(f.graph, nullptr);
    EXPECT_EQ(f.disabled(), c.disabled) << c.name;
    EXPECT_TRUE(f.clean()) << c.name;
  }
}

TEST(DeadEnds, RejoiningBranchKeepsTheMainPath) {
  Fixture f({40, 30, 1000, 30, 20}, {{0, 1, -20}, {0, 2, 0}, {2, 3, -20}, {1, 3, -20}, {3, 4, -10}});
  remove_dead_ends(f.graph, nullptr);
  EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 2, 0), canonical(2, 3, -20), canonical(3, 4, -10)}));
}

// A branch of 1001 nodes of one base is more than one removal may take.
TEST(DeadEnds, BranchLimit) {
  for (const int chain : {999, 1001}) {
    std::vector<uint32_t> lengths = {40, 30000};
    std::vector<Edge> edges = {{0, 1, 0}, {0, 2, 0}};
    for (int i = 0; i < chain; i++) {
      lengths.push_back(1);
      if (i > 0) edges.emplace_back(static_cast<oriented_id_t>(i + 1), static_cast<oriented_id_t>(i + 2), 0);
    }
    Fixture f(lengths, edges);
    remove_dead_ends(f.graph, nullptr);
    EXPECT_EQ(f.disabled().size(), chain < kDeadEndBranchLimit ? static_cast<size_t>(chain) : 0u) << chain;
    EXPECT_TRUE(f.clean()) << chain;
  }
}

TEST(DeadEnds, ProgressReachesTheEnd) {
  Fixture f({40, 30, 200}, {{0, 1, -20}, {0, 2, 0}});
  progress_meter_t *meter = progress_meter_new();
  meter->output = fopen("/dev/null", "w");
  progress_meter_t *child = progress_meter_new_child(meter, 0.5, 1);
  remove_dead_ends(f.graph, child);
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(child), 1.0);
  fclose(meter->output);
  progress_meter_free(child);
  progress_meter_free(meter);
}

}  // namespace
