// Applying edge removals (sorted, once per edge, mark1 on the end) and
// building confirmed node paths (order, invalid paths, unique paths).
#include "denovo/app/paired_apply.h"

#include <gtest/gtest.h>

#include "denovo/graph/fragment_graph_build_by_path.h"
#include "paired_apply_test_util.h"

namespace {

using namespace graph_test;
using paired_apply_test::PairedFixture;

// Repeat node 2 between 0, 1 on the left and 3, 4 on the right.
std::vector<Edge> repeat_edges() { return {{0, 2, 5}, {1, 2, 6}, {2, 3, 7}, {2, 4, 8}}; }

TEST(PairedApply, EdgeNamedTwiceIsRemovedOnce) {
  PairedFixture f({100, 100, 100, 100, 100}, repeat_edges());
  const oriented_id_t e23 = fragment_graph_find_next_edge_to(f.graph, 2, 3);
  const oriented_id_t e24 = fragment_graph_find_next_edge_to(f.graph, 2, 4);
  // The same edge named from both strands and twice from one; the list is
  // out of order.
  f.removal(e24, 2, 4);
  f.removal(e23, 2, 3);
  f.removal(fragment_graph_reverse_edge(e23), 3 | R, 2 | R);
  f.removal(e23, 2, 3);
  paired_apply_edge_removals(&f.context, f.job.edge_removals);
  EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 2, 5), canonical(1, 2, 6)}));
  EXPECT_EQ(fragment_graph_get_mark1(f.graph, 2), 1);
  // The reverse reading was met after the edge was gone: no mark on 3.
  EXPECT_EQ(fragment_graph_get_mark1(f.graph, 3), 0);
  EXPECT_EQ(f.graph->free_edge_count, 2);
}

TEST(PairedApply, PathsBuiltInOrderAndBrokenPathsInvalid) {
  PairedFixture f({100, 100, 100, 100, 100}, repeat_edges());
  // Given in reverse order: 0-2-3 sorts first and takes the edge 0 -> 2, so
  // 0-2-4 finds it gone and is marked invalid; 1-2-4 is built.
  contig_path_t *p024 = f.node_path({0, 2, 4});
  contig_path_t *p124 = f.node_path({1, 2, 4});
  contig_path_t *p023 = f.node_path({0, 2, 3});
  paired_apply_contig_paths(&f.context, f.job.contig_paths);
  EXPECT_EQ(p024->ids[0], kOrientedIdNone);
  EXPECT_EQ(p023->ids[0], 0u);
  EXPECT_EQ(p124->ids[0], 1u);
  // 0-2-3 copied 2 as node 5; 1-2-4 then found 2 with one way in and one
  // way out left and changed nothing.
  EXPECT_EQ(f.graph->node_count, 6);
  EXPECT_EQ(edge_set(f.graph),
            sorted({canonical(0, 5, 5), canonical(5, 3, 7), canonical(1, 2, 6), canonical(2, 4, 8)}));
  for (oriented_id_t n : {0u, 3u, 5u}) EXPECT_EQ(fragment_graph_get_mark2(f.graph, n), 1) << n;
  EXPECT_EQ(fragment_graph_get_mark2(f.graph, 1), 0);
}

TEST(PairedApply, PathOrder) {
  struct Case {
    std::vector<oriented_id_t> a, b;
    int32_t da, db;
    int expected;
  };
  const Case cases[] = {
      {{1, 2}, {1 | R, 3}, 0, 0, -1},  // strand ignored: 2 < 3 decides
      {{1, 2}, {1, 2, 0}, 9, 0, -1},   // a prefix comes first
      {{1, 2}, {1, 2}, 4, 3, 1},       // then the smaller distance
      {{1, 2 | R}, {1, 2}, 3, 3, 1},   // then the oriented ids
      {{1, 2}, {1, 2}, 3, 3, 0},
  };
  for (const Case &c : cases) {
    std::vector<oriented_id_t> a = c.a, b = c.b;
    const contig_path_t pa{static_cast<int32_t>(a.size()), a.data(), c.da, nullptr};
    const contig_path_t pb{static_cast<int32_t>(b.size()), b.data(), c.db, nullptr};
    const int got = paired_apply_path_order(&pa, &pb);
    EXPECT_EQ((got > 0) - (got < 0), c.expected);
    const int back = paired_apply_path_order(&pb, &pa);
    EXPECT_EQ((back > 0) - (back < 0), -c.expected);
  }
}

}  // namespace
