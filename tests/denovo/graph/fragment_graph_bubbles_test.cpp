// Bubble marking (candidate ends, the two-way confirmation, size and
// difference bounds), edge and branch support, keep-best ordering, and the
// contig walk over marked bubbles.
#include "denovo/graph/fragment_graph_bubbles.h"

#include <gtest/gtest.h>

#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace {

using namespace graph_test;

struct TestGraph : HandGraph {
  read_info_t *info = nullptr;
  TestGraph(const std::vector<uint32_t> &lengths, const std::vector<Edge> &edges,
            const std::vector<PathReads> &paths = {})
      : HandGraph(fragments_of_lengths(lengths), edges) {
    info = read_paths(static_cast<uint32_t>(lengths.size()), paths);
  }
  ~TestGraph() { read_info_free(info); }
  uint16_t bubble_bits(oriented_id_t n) const { return graph->nodes[fragment_graph_node_index(n)].flags & 0x1C; }
  bool valid() const {
    return fragment_graph_check_links(graph, kOrientedIdNone) && fragment_graph_check_bubbles(graph, kOrientedIdNone) &&
           fragment_graph_check_marks(graph, kOrientedIdNone);
  }
};

// Shapes around a start s = 0 and an end t; the table gives where the
// bubble marks must land (empty: no node carries any bubble bit).
TEST(FragmentGraphBubbles, WhichBubblesAreMarked) {
  struct Case {
    const char *name;
    std::vector<uint32_t> lengths;
    std::vector<Edge> edges;
    int32_t max_size, max_difference;
    bool marked;  // s = 0 start, t = 3 end, 1 and 2 inside
  } cases[] = {
      {"gaps 30 and 32 within difference 10", {20, 30, 32, 20}, {{0, 1, 0}, {0, 2, 0}, {1, 3, 0}, {2, 3, 0}}, 50, 10,
       true},
      {"gaps 30 and 32, difference 1", {20, 30, 32, 20}, {{0, 1, 0}, {0, 2, 0}, {1, 3, 0}, {2, 3, 0}}, 50, 1, false},
      {"a branch ends before t", {20, 30, 32, 20}, {{0, 1, 0}, {0, 2, 0}, {1, 3, 0}}, 50, 10, false},
      {"an edge enters the bubble from outside",
       {20, 30, 32, 20, 20},
       {{0, 1, 0}, {0, 2, 0}, {1, 3, 0}, {2, 3, 0}, {4, 2, 0}},
       50,
       10,
       false},
      {"t lies beyond the size along the first branch", {20, 60, 60, 20}, {{0, 1, 0}, {0, 2, 0}, {1, 3, 0}, {2, 3, 0}},
       50, 10, false},
      {"one next edge per node", {20, 30, 32, 20}, {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}}, 50, 10, false},
  };
  for (const Case &c : cases) {
    TestGraph t(c.lengths, c.edges);
    fragment_graph_set_bubbles(t.graph, t.info, c.max_size, c.max_difference, 0);
    if (c.marked) {
      EXPECT_TRUE(fragment_graph_is_bubble_start(t.graph, 0)) << c.name;
      EXPECT_TRUE(fragment_graph_is_bubble_end(t.graph, 3)) << c.name;
      EXPECT_TRUE(fragment_graph_is_bubble_node(t.graph, 1)) << c.name;
      EXPECT_TRUE(fragment_graph_is_bubble_node(t.graph, 2)) << c.name;
      EXPECT_FALSE(fragment_graph_is_bubble_end(t.graph, 0)) << c.name;
      EXPECT_FALSE(fragment_graph_is_bubble_start(t.graph, 3)) << c.name;
    } else {
      for (int32_t i = 0; i < t.graph->node_count; i++) EXPECT_EQ(t.bubble_bits(i), 0) << c.name << " node " << i;
    }
    EXPECT_TRUE(t.valid()) << c.name;
  }
}

// Marks from an earlier call are cleared, disabled slots keep their flags,
// and the reverse strand of a marked bubble reads with start and end swapped.
TEST(FragmentGraphBubbles, RecomputedMarksAndStrands) {
  TestGraph t({20, 30, 32, 20, 20}, {{0, 1, 0}, {0, 2, 0}, {1, 3, 0}, {2, 3, 0}});
  fragment_graph_disable_node(t.graph, 4);
  t.graph->nodes[3].flags |= kGraphBubbleNodeBit;
  fragment_graph_set_bubbles(t.graph, t.info, 50, 10, 0);
  EXPECT_TRUE(fragment_graph_is_bubble_end(t.graph, R | 0));
  EXPECT_TRUE(fragment_graph_is_bubble_start(t.graph, R | 3));
  EXPECT_FALSE(fragment_graph_is_bubble_node(t.graph, 3));
  EXPECT_EQ(t.graph->nodes[4].flags & kGraphDisabledBit, kGraphDisabledBit);
  fragment_graph_remove_edge(t.graph, fragment_graph_get_first_next_edge(t.graph, 2));
  fragment_graph_set_bubbles(t.graph, t.info, 50, 10, 0);
  for (int32_t i = 0; i < 4; i++) EXPECT_EQ(t.bubble_bits(i), 0) << i;
}

TEST(FragmentGraphBubbles, EdgeSupportCountsExactSteps) {
  TestGraph t({30, 30, 30}, {{0, 1, -19}, {0, 1, -18}, {1, 2, -19}},
              {{{0, 1}, {-19}, 2}, {{0, 1}, {-18}, 1}, {{2 | R, 1 | R, 0 | R}, {-19, -19}, 4}});
  const oriented_id_t e19 = fragment_graph_get_first_next_edge(t.graph, 0);
  const oriented_id_t e18 = fragment_graph_get_sibling_next_edge(t.graph, e19);
  ASSERT_EQ(fragment_graph_get_edge_distance(t.graph, e19), -19);
  // The reverse reads of the third path also step from 0 to 1 at -19.
  EXPECT_EQ(fragment_graph_get_edge_support(t.graph, t.info, e19), 6u);
  EXPECT_EQ(fragment_graph_get_edge_support(t.graph, t.info, e18), 1u);
  EXPECT_EQ(fragment_graph_get_edge_support(t.graph, t.info, fragment_graph_reverse_edge(e19)), 6u);
  const oriented_id_t e12 = fragment_graph_get_first_next_edge(t.graph, 1);
  EXPECT_EQ(fragment_graph_get_edge_support(t.graph, t.info, e12), 4u);
  EXPECT_EQ(fragment_graph_get_edge_support(t.graph, nullptr, e12), 0u);
}

// Two branches from s = 0 to t = 5: 0 -> 1 -> 2 -> 5 and 0 -> 3 -> 4 -> 5;
// the supports along each branch decide which one keep-best puts first.
TEST(FragmentGraphBubbles, KeepBestTakesTheStrongestBottleneck) {
  struct Case {
    const char *name;
    int s1, a1, b1, s2, a2, b2;  // supports of s->p, p->q, q->t per branch
    oriented_id_t first;
  } cases[] = {
      {"weakest 3 against weakest 5", 10, 3, 10, 6, 5, 6, 3},
      {"equal bottlenecks keep the first", 10, 3, 10, 3, 9, 9, 1},
      {"stronger first branch stays", 7, 7, 7, 9, 2, 9, 1},
  };
  for (const Case &c : cases) {
    TestGraph t({30, 30, 30, 30, 30, 30},
                {{0, 1, -10}, {1, 2, -10}, {2, 5, -10}, {0, 3, -10}, {3, 4, -10}, {4, 5, -10}},
                {{{0, 1}, {-10}, c.s1},
                 {{1, 2}, {-10}, c.a1},
                 {{2, 5}, {-10}, c.b1},
                 {{0, 3}, {-10}, c.s2},
                 {{3, 4}, {-10}, c.a2},
                 {{4, 5}, {-10}, c.b2}});
    fragment_graph_set_bubbles(t.graph, t.info, 50, 10, 1);
    ASSERT_TRUE(fragment_graph_is_bubble_start(t.graph, 0)) << c.name;
    EXPECT_EQ(next_list(t.graph, 0)[0].first, c.first) << c.name;
    const oriented_id_t e = fragment_graph_get_first_next_edge(t.graph, 0);
    EXPECT_EQ(fragment_graph_get_branch_support(t.graph, t.info, e),
              c.first == 3 ? std::min({c.s2, c.a2, c.b2}) : std::min({c.s1, c.a1, c.b1}))
        << c.name;
    // The end's prev list leads back along the same branch.
    EXPECT_EQ(prev_list(t.graph, 5)[0].first, c.first == 3 ? 4u : 2u) << c.name;
    EXPECT_TRUE(t.valid()) << c.name;
  }
}

TEST(FragmentGraphBubbles, MoveEdgeToFrontKeepsEveryList) {
  TestGraph t({30, 30, 30, 30}, {{0, 1, -5}, {0, 2, -5}, {0, 3, -5}, {1, 3, -4}, {2, 3, -3}, {0, 0 | R, -2}});
  // The hairpin 0 -> reverse(0) is in 0's next list once.
  oriented_id_t hairpin = kOrientedIdNone;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(t.graph, 0); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(t.graph, e)) {
    if (fragment_graph_get_edge_to_node(t.graph, e) == (0 | R)) hairpin = e;
  }
  ASSERT_NE(hairpin, kOrientedIdNone);
  fragment_graph_move_edge_to_front(t.graph, hairpin);
  EXPECT_EQ(next_list(t.graph, 0), (std::vector<Step>{{0 | R, -2}, {1, -5}, {2, -5}, {3, -5}}));
  // The edge 0 -> 3 goes first in 0's next list and in 3's prev list.
  oriented_id_t to3 = fragment_graph_get_first_next_edge(t.graph, 0);
  while (fragment_graph_get_edge_to_node(t.graph, to3) != 3) to3 = fragment_graph_get_sibling_next_edge(t.graph, to3);
  fragment_graph_move_edge_to_front(t.graph, to3);
  EXPECT_EQ(next_list(t.graph, 0), (std::vector<Step>{{3, -5}, {0 | R, -2}, {1, -5}, {2, -5}}));
  EXPECT_EQ(prev_list(t.graph, 3)[0], (Step{0, -5}));
  EXPECT_EQ(prev_list(t.graph, 3).size(), 3u);
  fragment_graph_move_next_edge_to_front(t.graph, 0, fragment_graph_get_sibling_next_edge(
                                                         t.graph, fragment_graph_get_first_next_edge(t.graph, 0)));
  EXPECT_EQ(next_list(t.graph, 0)[0], (Step{0 | R, -2}));
  EXPECT_EQ(fragment_graph_check_links(t.graph, kOrientedIdNone), 1);
  EXPECT_EQ(fragment_graph_check_sorted(t.graph), 1);
  fragment_graph_sort_edges(t.graph);
  EXPECT_EQ(fragment_graph_check_sorted(t.graph), 0);
}

// Two SNP bubbles more than k apart on one path (k = 21): a -> x|y -> b ->
// u|v -> c. Each gets its own marks, and the contig runs over both along the
// best-supported branches.
TEST(FragmentGraphBubbles, SnpBubblesGiveOneContig) {
  enum : oriented_id_t { a, x, y, b, u, v, c };
  TestGraph t({40, 41, 43, 60, 41, 41, 40},
              {{a, x, -20}, {a, y, -20}, {x, b, -20}, {y, b, -20}, {b, u, -20}, {b, v, -20}, {u, c, -20}, {v, c, -20}},
              {{{a, x, b}, {-20, -20}, 2}, {{a, y, b}, {-20, -20}, 5}, {{b, u, c}, {-20, -20}, 1},
               {{c | R, v | R, b | R}, {-20, -20}, 3}});
  fragment_graph_sort_edges(t.graph);
  fragment_graph_set_bubbles(t.graph, t.info, 50, 10, 1);
  EXPECT_TRUE(fragment_graph_is_bubble_start(t.graph, a));
  EXPECT_TRUE(fragment_graph_is_bubble_end(t.graph, b));
  EXPECT_TRUE(fragment_graph_is_bubble_start(t.graph, b));
  EXPECT_TRUE(fragment_graph_is_bubble_end(t.graph, c));
  for (oriented_id_t n : {x, y, u, v}) EXPECT_TRUE(fragment_graph_is_bubble_node(t.graph, n)) << n;
  for (oriented_id_t n : {a, b, c}) EXPECT_FALSE(fragment_graph_is_bubble_node(t.graph, n)) << n;
  EXPECT_EQ(next_list(t.graph, a)[0].first, y);
  EXPECT_EQ(next_list(t.graph, b)[0].first, v);
  EXPECT_TRUE(t.valid());

  contig_info_t *contigs = contig_info_build(t.graph, 1, 1);
  ASSERT_EQ(contig_info_get_contig_count(contigs), 1);
  EXPECT_EQ(contig_info_get_first_node(contigs, 0), a);
  EXPECT_EQ(contig_info_get_last_node(contigs, 0), c);
  EXPECT_FALSE(contig_info_is_circular(contigs, 0));
  // Along the first branches: 40 - 20 + 43 - 20 + 60 - 20 + 41 - 20 + 40.
  EXPECT_EQ(contig_info_get_contig_length(contigs, t.graph, 0), 144);
  EXPECT_EQ(contig_info_get_contig_length(contigs, t.graph, 0 | R), 144);
  EXPECT_EQ(contig_info_get_contig_node_count(contigs, t.graph, 0), 5);
  for (oriented_id_t n = a; n <= c; n++) {
    EXPECT_EQ(contig_info_get_node_contig(contigs, n), 0u) << n;
    EXPECT_EQ(contig_info_get_node_contig(contigs, n | R), 0u | R) << n;
  }
  EXPECT_TRUE(t.valid());
  contig_info_free(contigs);

  // Without bubble marks every branch point ends a contig.
  fragment_graph_clear_flags(t.graph, 0x1C);
  contigs = contig_info_build(t.graph, 1, 0);
  EXPECT_EQ(contig_info_get_contig_count(contigs), 7);
  contig_info_free(contigs);
}

}  // namespace
