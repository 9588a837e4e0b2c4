// Weak-edge removal (automatic threshold, given minimum, which nodes are
// treated, bubble protection), tip removal and the read-threading test.
#include "denovo/graph/weak_edges.h"

#include <gtest/gtest.h>

#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace {

using namespace graph_test;

struct Fixture : HandGraph {
  read_table_t table{};
  Fixture(const std::vector<uint32_t> &lengths, const std::vector<Edge> &edges, const std::vector<PathReads> &paths)
      : HandGraph(fragments_of_lengths(lengths), edges) {
    table.read_info = read_paths(static_cast<uint32_t>(lengths.size()), paths);
  }
  ~Fixture() { read_info_free(table.read_info); }
  bool clean() const {
    return fragment_graph_check_links(graph, kOrientedIdNone) && fragment_graph_check_marks(graph, kOrientedIdNone);
  }
};

TEST(WeakEdges, AutomaticThreshold) {
  struct Case {
    std::vector<int32_t> supports;
    int32_t factor;
    int32_t threshold;
  } cases[] = {
      {{10, 10, 1}, 40, 1},   // mean 7, m = 10: floor(0.5 ln 10 + 0.25)
      {{0, 1}, 40, -1},       // mean 0, m = 0.5: floor(-0.35 + 0.0125)
      {{0, 0, 0}, 40, -1},    // m = 0: below every support
      {{5}, 20, 1},           // floor(0.80 + 0.25)
      {{100, 100, 2}, 20, 7}, // floor(2.30 + 5)
  };
  for (const Case &c : cases) {
    EXPECT_EQ(remove_weak_edges_threshold(c.supports.data(), static_cast<int32_t>(c.supports.size()), c.factor),
              c.threshold)
        << c.supports.size() << " supports, first " << c.supports[0];
  }
}

// Node 0 with next edges to 1, 2, 3 and a prev edge from 4; supports 10, 10,
// 1 and 10 from the read paths.
TEST(WeakEdges, AutomaticRemovalAtABranch) {
  Fixture f({30, 30, 30, 30, 30}, {{0, 1, -10}, {0, 2, -10}, {0, 3, -10}, {4, 0, -10}},
            {{{0, 1}, {-10}, 10}, {{0, 2}, {-10}, 10}, {{3 | R, 0 | R}, {-10}, 1}, {{4, 0}, {-10}, 10}});
  fragment_graph_set_mark7(f.graph, 0);
  EXPECT_EQ(remove_weak_edges(f.graph, &f.table, -1, 40, nullptr), 0);
  EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 1, -10), canonical(0, 2, -10), canonical(4, 0, -10)}));
  EXPECT_EQ(fragment_graph_get_mark7(f.graph, 0), 0);
  EXPECT_TRUE(f.clean());
}

// Which edges a given minimum of 3 removes, by shape and bubble marks.
TEST(WeakEdges, GivenMinimumAndProtectedEdges) {
  struct Case {
    const char *name;
    std::vector<Edge> edges;
    uint16_t flags0;  // bits set on node 0 first
    std::vector<Edge> kept;
    bool whole_graph;  // else node 0 alone
  } cases[] = {
      {"supports 0 to 4, the 4 stays",
       {{0, 1, -10}, {0, 2, -10}, {0, 3, -10}, {0, 4, -10}, {0, 5, -10}},
       0,
       {canonical(0, 5, -10)},
       true},
      {"a cycle of nodes with one edge on each side is never touched",
       {{0, 1, -10}, {1, 2, -10}, {2, 0, -10}},
       0,
       {canonical(0, 1, -10), canonical(1, 2, -10), canonical(2, 0, -10)},
       true},
      // Node 1, left with one edge by then, is treated in turn.
      {"an edge to its own reverse makes the node treated",
       {{0, 1, -10}, {1, 2, -10}, {2, 0, -10}, {0, 0 | R, -3}},
       0,
       {},
       true},
      {"a bubble start keeps its next edges",
       {{4, 0, -10}, {6, 0, -10}, {0, 1, -10}, {0, 2, -10}},
       kGraphBubbleStartBit,
       {canonical(0, 1, -10), canonical(0, 2, -10)},
       false},
      {"a bubble end keeps its prev edges",
       {{4, 0, -10}, {6, 0, -10}, {0, 1, -10}, {0, 2, -10}},
       kGraphBubbleEndBit,
       {canonical(4, 0, -10), canonical(6, 0, -10)},
       false},
      {"a bubble node keeps every edge",
       {{4, 0, -10}, {6, 0, -10}, {0, 1, -10}, {0, 2, -10}},
       kGraphBubbleNodeBit,
       {canonical(4, 0, -10), canonical(6, 0, -10), canonical(0, 1, -10), canonical(0, 2, -10)},
       false},
  };
  const std::vector<PathReads> reads = {{{0, 2}, {-10}, 1}, {{0, 3}, {-10}, 2}, {{0, 4}, {-10}, 3}, {{0, 5}, {-10}, 4}};
  for (const Case &c : cases) {
    Fixture f({30, 30, 30, 30, 30, 30, 30}, c.edges, reads);
    f.graph->nodes[0].flags |= c.flags0;
    if (c.whole_graph) {
      remove_weak_edges(f.graph, &f.table, 3, 40, nullptr);
    } else {
      remove_weak_edges_at_node(f.graph, &f.table, 0, 3, 40, 2, 2);
    }
    EXPECT_EQ(edge_set(f.graph), sorted(c.kept)) << c.name;
    EXPECT_TRUE(f.clean()) << c.name;
  }
}

TEST(WeakEdges, EdgeCensusAndReadEdge) {
  Fixture f({30, 30, 30}, {{0, 1, -10}, {0, 0, -5}, {0, 0 | R, -3}, {0 | R, 0, -4}, {2, 0, -10}},
            {{{0, 1}, {-10}, 1}, {{0, 1}, {-9}, 1}});
  int32_t prev, next, prev_others, next_others, prev_reverse, next_reverse, prev_itself;
  fragment_graph_count_node_edges(f.graph, 0, &prev, &next, &prev_others, &next_others, &prev_reverse, &next_reverse,
                                  &prev_itself);
  EXPECT_EQ((std::vector<int32_t>{prev, next, prev_others, next_others, prev_reverse, next_reverse, prev_itself}),
            (std::vector<int32_t>{3, 3, 1, 1, 1, 1, 1}));
  const read_info_t *info = f.table.read_info;
  const read_ptr_t p = read_info_get_occurrence(info, 0, 0);
  const read_ptr_t q = read_info_get_occurrence(info, 0, 1);
  const oriented_id_t found_p = fragment_graph_find_read_edge(f.graph, info, p, 0);
  const oriented_id_t found_q = fragment_graph_find_read_edge(f.graph, info, q, 0);
  // One of the two reads steps at -10 (the edge), the other at -9 (none).
  EXPECT_NE(found_p == kOrientedIdNone, found_q == kOrientedIdNone);
  const oriented_id_t found = found_p == kOrientedIdNone ? found_q : found_p;
  EXPECT_EQ(fragment_graph_get_edge_to_node(f.graph, found), 1u);
  EXPECT_EQ(fragment_graph_find_read_edge(f.graph, info, read_info_get_next(info, p), 1), kOrientedIdNone);
}

// Tip start s = 0 (20 bases) -> t = 1 (30) -> join j = 2, and x = 3 -> j,
// every edge at distance -10; j goes on to 4.
TEST(WeakEdges, Tips) {
  struct Case {
    const char *name;
    uint32_t x_length;
    std::vector<Edge> extra;
    std::vector<oriented_id_t> disabled;
  } cases[] = {
      {"competing branch of 90 reaches 60", 100, {}, {0, 1}},
      {"competing branch of 50 does not", 60, {}, {}},
      {"a start with two different successors is no tip", 100, {{0, 4, -10}}, {}},
  };
  for (const Case &c : cases) {
    std::vector<Edge> edges = {{0, 1, -10}, {1, 2, -10}, {3, 2, -10}, {2, 4, -10}};
    edges.insert(edges.end(), c.extra.begin(), c.extra.end());
    Fixture f({20, 30, 40, c.x_length, 40}, edges, {});
    remove_tips(f.graph, nullptr);
    std::vector<oriented_id_t> disabled;
    for (oriented_id_t i = 0; i < 5; i++) {
      if (fragment_graph_is_disabled(f.graph, i)) disabled.push_back(i);
    }
    EXPECT_EQ(disabled, c.disabled) << c.name;
    EXPECT_TRUE(f.clean()) << c.name;
  }
}

TEST(WeakEdges, ReachesLengthWithinBudget) {
  Fixture f({30, 30, 30}, {{0, 1, -10}, {1, 2, -10}}, {});
  int32_t budget = 0;
  EXPECT_EQ(fragment_graph_reaches_length(f.graph, 0, 0, 70, &budget), 1);  // 30 - 10 + 30 - 10 + 30
  budget = 0;
  EXPECT_EQ(fragment_graph_reaches_length(f.graph, 0, 0, 71, &budget), 0);
  budget = kTipBudget;
  EXPECT_EQ(fragment_graph_reaches_length(f.graph, 0, 0, 40, &budget), 0);
}

// Graph 0 -> 1 -> 2 and 0 -> 3, all at -10.
TEST(WeakEdges, ReadFollowsGraph) {
  Fixture f({30, 30, 30, 30}, {{0, 1, -10}, {1, 2, -10}, {0, 3, -10}},
            {{{0, 1, 2}, {-10, -10}, 1}, {{0, 3}, {-10}, 1}, {{0, 2}, {-10}, 1}});
  const read_info_t *info = f.table.read_info;
  const read_ptr_t along = 0, to3 = 3, to2 = 5;  // first elements of the three paths
  EXPECT_EQ(fragment_graph_read_follows_graph(f.graph, info, along, 0), 3);
  EXPECT_EQ(fragment_graph_read_follows_graph(f.graph, info, to3, 0), 3);
  EXPECT_EQ(fragment_graph_read_follows_graph(f.graph, info, to2, 0), 0);
  EXPECT_EQ(fragment_graph_read_follows_graph(f.graph, info, 2, 2), 1);  // nothing left to follow
  fragment_graph_set_mark1(f.graph, 1);
  EXPECT_EQ(fragment_graph_read_follows_graph(f.graph, info, along, 0), 1);
  fragment_graph_clear_mark1(f.graph, 1);
  f.graph->nodes[0].flags |= kGraphBubbleStartBit;
  EXPECT_EQ(fragment_graph_read_follows_graph(f.graph, info, along, 0), 1);
  // From the last element backwards, on the reverse strand.
  EXPECT_EQ(fragment_graph_read_follows_graph_reverse(f.graph, info, 2, 2), 1);
  EXPECT_EQ(fragment_graph_read_follows_graph(f.graph, info, read_ptr_flip(2), 2), 0);
}

}  // namespace
