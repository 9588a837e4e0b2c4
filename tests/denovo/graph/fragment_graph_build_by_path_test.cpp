// Building a node path into its own chain: unique paths stay, branched paths
// get copies with the end edges moved and the inner edges copied, symmetric
// paths get a new end edge, and the internal errors.
#include "denovo/graph/fragment_graph_build_by_path.h"

#include <gtest/gtest.h>

#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace {

using namespace graph_test;

bool valid(const fragment_graph_t *g) {
  return fragment_graph_check_links(g, kOrientedIdNone) == 1 && fragment_graph_check_sorted(g) == 0;
}

// A repeat node 2 entered from 0 and 1 and left to 3 and 4:
//   0 -> 2 -> 3,  1 -> 2 -> 4  (distances 5, 6, 7, 8).
fragment_graph_t *repeat_graph() {
  fragment_graph_t *g = fragment_graph_new(5, 21);
  fragment_graph_add_edge(g, 0, 2, 5);
  fragment_graph_add_edge(g, 1, 2, 6);
  fragment_graph_add_edge(g, 2, 3, 7);
  fragment_graph_add_edge(g, 2, 4, 8);
  fragment_graph_clear_all_flags(g);
  return g;
}

TEST(BuildByPath, UniquePathLeavesGraphUnchanged) {
  fragment_graph_t *g = fragment_graph_new(3, 21);
  fragment_graph_add_edge(g, 0, 1, 5);
  fragment_graph_add_edge(g, 1, 2, 6);
  fragment_graph_clear_all_flags(g);
  const auto before = edge_set(g);
  const oriented_id_t inner[] = {1};
  EXPECT_EQ(fragment_graph_build_by_path(g, 0, inner, 1, 2, 0), 0);
  EXPECT_EQ(edge_set(g), before);
  EXPECT_EQ(g->node_count, 3);
  EXPECT_EQ(fragment_graph_get_mark2(g, 0), 0);
  fragment_graph_free(g);
}

TEST(BuildByPath, BranchedPathGetsItsOwnChain) {
  // Both strands of the same path: built forward, and built as its reverse
  // (3' -> 2' -> 0'), the copy carries the inner node's fragment on the
  // strand the path reads it.
  for (bool reverse : {false, true}) {
    SCOPED_TRACE(reverse);
    fragment_graph_t *g = repeat_graph();
    const oriented_id_t inner[] = {reverse ? 2 | R : 2u};
    const oriented_id_t a = reverse ? 3 | R : 0u;
    const oriented_id_t z = reverse ? 0 | R : 3u;
    EXPECT_EQ(fragment_graph_build_by_path(g, a, inner, 1, z, 0), 1);
    ASSERT_EQ(g->node_count, 6);
    const oriented_id_t copy = reverse ? 5 | R : 5u;
    EXPECT_EQ(fragment_graph_get_node_fragment(g, copy), inner[0]);
    EXPECT_EQ(edge_set(g), sorted({canonical(0, 5, 5), canonical(5, 3, 7), canonical(1, 2, 6), canonical(2, 4, 8)}));
    EXPECT_EQ(next_list(g, a), (std::vector<Step>{{copy, reverse ? 7 : 5}}));
    for (oriented_id_t n : {a, z, copy}) EXPECT_EQ(fragment_graph_get_mark2(g, n), 1) << n;
    EXPECT_EQ(fragment_graph_get_mark2(g, 2), 0);
    EXPECT_TRUE(valid(g));
    fragment_graph_free(g);
  }
}

TEST(BuildByPath, InnerEdgesCopiedWithEveryDistance) {
  // 0 -> 1 -> 2 -> 3 with 1 -> 2 twice (distances 3 and 4); 9 -> 1 and
  // 2 -> 8 make the inner nodes branch.
  fragment_graph_t *g = fragment_graph_new(10, 21);
  fragment_graph_add_edge(g, 0, 1, 1);
  fragment_graph_add_edge(g, 1, 2, 3);
  fragment_graph_add_edge(g, 1, 2, 4);
  fragment_graph_add_edge(g, 2, 3, 2);
  fragment_graph_add_edge(g, 9, 1, 1);
  fragment_graph_add_edge(g, 2, 8, 1);
  fragment_graph_clear_all_flags(g);
  const oriented_id_t inner[] = {1, 2};
  EXPECT_EQ(fragment_graph_build_by_path(g, 0, inner, 2, 3, 0), 1);
  EXPECT_EQ(next_list(g, 10), (std::vector<Step>{{11, 3}, {11, 4}}));
  EXPECT_EQ(next_list(g, 0), (std::vector<Step>{{10, 1}}));
  EXPECT_EQ(prev_list(g, 3), (std::vector<Step>{{11, 2}}));
  EXPECT_EQ(next_list(g, 1), (std::vector<Step>{{2, 3}, {2, 4}}));
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(BuildByPath, SymmetricPathSkipsChecksAndAddsEndEdge) {
  // 0 -> 1 -> 1' -> 0': the path reads the same on both strands. Node 1 has
  // a second way in (2 -> 1), so it branches; the checks are skipped and the
  // end gets a new edge, since moving the start edge moved the end edge too.
  fragment_graph_t *g = fragment_graph_new(3, 21);
  fragment_graph_add_edge(g, 0, 1, 4);
  fragment_graph_add_edge(g, 1, 1 | R, -10);
  fragment_graph_add_edge(g, 2, 1, 6);
  fragment_graph_clear_all_flags(g);
  const oriented_id_t inner[] = {1, 1 | R};
  EXPECT_EQ(fragment_graph_build_by_path(g, 0, inner, 2, 0 | R, 0), 1);
  ASSERT_EQ(g->node_count, 5);
  // Copies 3 (of 1) and 4' (of 1'), joined as 1 -> 1' was. The moved start
  // edge reads 3' -> 0' backwards and the new end edge 0 -> 4, so node 0
  // leads into the chain from both of its ends.
  auto from_start = next_list(g, 0);
  std::sort(from_start.begin(), from_start.end());
  EXPECT_EQ(from_start, (std::vector<Step>{{3, 4}, {4, 4}}));
  EXPECT_EQ(next_list(g, 3), (std::vector<Step>{{4 | R, -10}}));
  EXPECT_EQ(next_list(g, 4 | R), (std::vector<Step>{{0 | R, 4}}));
  EXPECT_EQ(edge_set(g), sorted({canonical(0, 3, 4), canonical(3, 4 | R, -10), canonical(4 | R, 0 | R, 4),
                                 canonical(1, 1 | R, -10), canonical(2, 1, 6)}));
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(BuildByPath, ConnectedTest) {
  fragment_graph_t *g = repeat_graph();
  const oriented_id_t good[] = {0, 2, 3};
  const oriented_id_t broken[] = {0, 2, 1};
  // Read on the other strand the edges run backwards.
  const oriented_id_t reversed_ok[] = {4 | R, 2 | R, 1 | R};
  const oriented_id_t reversed_broken[] = {4 | R, 2 | R, 0};
  EXPECT_EQ(fragment_graph_path_is_connected(g, good, 3), 1);
  EXPECT_EQ(fragment_graph_path_is_connected(g, broken, 3), 0);
  EXPECT_EQ(fragment_graph_path_is_connected(g, reversed_ok, 3), 1);
  EXPECT_EQ(fragment_graph_path_is_connected(g, reversed_broken, 3), 0);
  fragment_graph_free(g);
}

TEST(BuildByPathDeath, InternalErrors) {
  fragment_graph_t *g = repeat_graph();
  const oriented_id_t inner[] = {2};
  EXPECT_EXIT(fragment_graph_build_by_path(g, 0, inner, 0, 3, 0), testing::ExitedWithCode(1),
              "internal error in fragment_graph_build_by_path 1\n");
  // Node 3 has no next edge, node 0 no prev edge.
  const oriented_id_t dead_end[] = {2, 3};
  EXPECT_EXIT(fragment_graph_build_by_path(g, 0, dead_end, 2, 4, 0), testing::ExitedWithCode(1),
              "internal error in fragment_graph_build_by_path 3\n");
  const oriented_id_t no_way_in[] = {0, 2};
  EXPECT_EXIT(fragment_graph_build_by_path(g, 1, no_way_in, 2, 3, 0), testing::ExitedWithCode(1),
              "internal error in fragment_graph_build_by_path 2\n");
  fragment_graph_free(g);
}

}  // namespace
