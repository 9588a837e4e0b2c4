// Graph checks, print, neighbour analysis and edge sorting.
#include "denovo/graph/fragment_graph_check.h"

#include <gtest/gtest.h>

#include <string>

#include "graph_test_util.h"

namespace {

using namespace graph_test;

template <class F>
std::string stdout_of(F f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

TEST(FragmentGraphCheck, DisabledEndPrintsButLinksHold) {
  fragment_graph_t *g = fragment_graph_new(3, 20);
  fragment_graph_add_edge(g, 0, 1, -19);
  fragment_graph_release_node(g, 1);
  int result = 0;
  const std::string out = stdout_of([&] { result = fragment_graph_check_links(g, 0); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, "edge 0 ---> node 1, but node 1 is disabled\n");
  fragment_graph_free(g);
}

TEST(FragmentGraphCheck, BrokenLinksFail) {
  fragment_graph_t *g = fragment_graph_new(3, 20);
  const oriented_id_t e = fragment_graph_add_edge(g, 0, 1, -19);
  // Drop the edge from node 1's prev list only.
  fragment_graph_set_first_prev_edge(g, 1, kOrientedIdNone);
  int result = 1;
  std::string out = stdout_of([&] { result = fragment_graph_check_links(g, kOrientedIdNone); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "edge 0 ---> node 1, but edge 0 <-!- node 1 (reachable from node 0)\n");
  // An edge in a list of a node it does not start at.
  fragment_graph_set_first_prev_edge(g, 1, e);
  fragment_graph_set_first_next_edge(g, 2, e);
  out = stdout_of([&] { result = fragment_graph_check_links(g, 2); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "node 2 ---> edge 0, but node 2 <-!- edge 0\n");
  fragment_graph_free(g);
}

TEST(FragmentGraphCheck, MarksOneToSixMustBeClear) {
  fragment_graph_t *g = fragment_graph_new(4, 20);
  g->nodes[2].flags = 0;
  fragment_graph_set_mark7(g, 1);
  fragment_graph_set_mark8(g, 1);
  EXPECT_EQ(fragment_graph_check_marks(g, kOrientedIdNone), 1);
  fragment_graph_set_mark1(g, 2);
  int result = 1;
  const std::string out = stdout_of([&] { result = fragment_graph_check_marks(g, kOrientedIdNone); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "Node 2 has mark 64\n");
  // A disabled slot is not checked.
  fragment_graph_disable_node(g, 2);
  EXPECT_EQ(fragment_graph_check_marks(g, kOrientedIdNone), 1);
  fragment_graph_free(g);
}

TEST(FragmentGraphCheck, BubbleStartMustReachItsEnd) {
  fragment_graph_t *g = fragment_graph_new(5, 20);
  fragment_graph_add_edge(g, 0, 1, -19);
  fragment_graph_add_edge(g, 0, 2, -19);
  fragment_graph_add_edge(g, 1, 3, -19);
  fragment_graph_add_edge(g, 2, 3, -19);
  fragment_graph_set_bubble_start(g, 0);
  fragment_graph_set_bubble_start(g, 3 | R);
  g->nodes[1].flags |= kGraphBubbleNodeBit;
  g->nodes[2].flags |= kGraphBubbleNodeBit;
  EXPECT_EQ(fragment_graph_check_bubbles(g, kOrientedIdNone), 1);
  // One branch now ends before the bubble end.
  fragment_graph_remove_edge(g, fragment_graph_get_first_next_edge(g, 2));
  int result = 1;
  const std::string out = stdout_of([&] { result = fragment_graph_check_bubbles(g, kOrientedIdNone); });
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("Node 0 is bubble start node but bubble end could not be reached\n"), std::string::npos);
  EXPECT_NE(out.find("Node 2 is bubble node but bubble end could not be reached\n"), std::string::npos);
  fragment_graph_free(g);
}

TEST(FragmentGraphCheck, SortOrdersByFragmentThenDistance) {
  fragment_graph_t *g = fragment_graph_new(6, 20);
  fragment_graph_add_edge_unsorted(g, 0, 5, 0);
  fragment_graph_add_edge_unsorted(g, 0, 2 | R, 0);
  fragment_graph_add_edge_unsorted(g, 0, 3, 4);
  fragment_graph_add_edge_unsorted(g, 0, 3, -4);
  fragment_graph_add_edge_unsorted(g, 1, 0, 0);
  fragment_graph_add_edge_unsorted(g, 4, 0, 0);
  std::string out;
  int result = 0;
  out = stdout_of([&] { result = fragment_graph_check_sorted(g); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, "Node 0 is not sorted\nNode 80000000 is not sorted\nEdges in graph is not sorted\n");
  fragment_graph_sort_edges(g);
  EXPECT_EQ(next_list(g, 0), (std::vector<Step>{{3, -4}, {3, 4}, {5, 0}, {2 | R, 0}}));
  EXPECT_EQ(next_list(g, 0 | R), (std::vector<Step>{{1 | R, 0}, {4 | R, 0}}));
  EXPECT_EQ(fragment_graph_check_sorted(g), 0);
  EXPECT_EQ(fragment_graph_check_links(g, kOrientedIdNone), 1);
  fragment_graph_free(g);
}

TEST(FragmentGraphCheck, TestGraphsPassEveryCheck) {
  for (fragment_graph_t *g : {fragment_graph_new_test_graph1(), fragment_graph_new_test_graph2()}) {
    EXPECT_EQ(g->node_count, 16);
    EXPECT_EQ(g->word_size, 20);
    EXPECT_EQ(fragment_graph_check_links(g, kOrientedIdNone), 1);
    EXPECT_EQ(fragment_graph_check_marks(g, kOrientedIdNone), 1);
    EXPECT_EQ(fragment_graph_check_bubbles(g, kOrientedIdNone), 1);
    EXPECT_EQ(fragment_graph_check_sorted(g), 0);
    fragment_graph_free(g);
  }
  fragment_graph_t *g = fragment_graph_new_test_graph1();
  EXPECT_EQ(edge_set(g).size(), 13u);
  EXPECT_EQ(next_list(g, 4), (std::vector<Step>{{5, -19}, {6, -19}, {7, -19}, {8, -19}}));
  fragment_graph_free(g);
}

TEST(FragmentGraphCheck, PrintLayout) {
  fragment_graph_t *g = fragment_graph_new(8, 20);
  for (oriented_id_t s = 1; s <= 5; s++) fragment_graph_add_edge(g, s, 0, -19);
  fragment_graph_add_edge(g, 0, 7 | R, 3);
  fragment_graph_add_edge(g, 6, 7, 2);
  fragment_graph_set_bubble_start(g, 0);
  fragment_graph_set_end_mark(g, 0 | R);
  std::string out = stdout_of([&] { fragment_graph_print(g, 0); });
  // Five prev edges, no padding; each listed in the reverse node's next
  // list as a reverse id.
  EXPECT_EQ(out,
            "\n"
            "00000001 -19   0'  00000002 -19   1'  00000003 -19   2'  00000004 -19   3'  00000005 -19   4'  "
            "  00000000/00000000 < (>)     3   5  80000007\n"
            "\n");
  // One prev edge: three empty columns of 19 spaces first.
  out = stdout_of([&] { fragment_graph_print(g, 7 | R); });
  EXPECT_EQ(out, "\n" + std::string(57, ' ') + "00000000   3   5'    80000007/80000007 . (.)     2   6' 80000006\n\n");
  fragment_graph_disable_node(g, 6);
  EXPECT_EQ(stdout_of([&] { fragment_graph_print(g, 6); }), "Node 00000006 is disabled\n");
  fragment_graph_free(g);
}

TEST(FragmentGraphCheck, NeighbourAverage) {
  fragment_graph_t *g = fragment_graph_new(4, 20);
  fragment_graph_add_edge(g, 0, 1, 0);
  fragment_graph_add_edge(g, 1, 2, 0);
  // Depth 1: 0 sees 1, 1 sees 0 and 2, 2 sees 1, 3 none: 4 / 4.
  EXPECT_EQ(stdout_of([&] { fragment_graph_print_neighbour_average(g, 1); }), "Average neighbour count 1\n");
  // Depth 2: 0 sees 1, 2; 1 sees 0, 2; 2 sees 1, 0: 6 / 4.
  EXPECT_EQ(stdout_of([&] { fragment_graph_print_neighbour_average(g, 2); }), "Average neighbour count 1\n");
  EXPECT_EQ(fragment_graph_check_marks(g, kOrientedIdNone), 1);
  fragment_graph_t *empty = fragment_graph_new(0, 20);
  EXPECT_EQ(stdout_of([&] { fragment_graph_print_neighbour_average(empty, 2); }), "Average neighbour count 0\n");
  fragment_graph_free(empty);
  fragment_graph_free(g);
}

}  // namespace
