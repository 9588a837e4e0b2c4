// The two-generation not-done work lists against a plain model of passes.
#include "denovo/graph/fragment_graph_not_done.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>

#include "graph_test_util.h"

namespace {

using namespace graph_test;

std::vector<oriented_id_t> take_pass(fragment_graph_t *g) {
  std::vector<oriented_id_t> out;
  for (oriented_id_t n; (n = fragment_graph_get_not_done_node(g)) != kOrientedIdNone;) out.push_back(n);
  return out;
}

TEST(FragmentGraphNotDone, PassesAndGenerations) {
  fragment_graph_t *g = fragment_graph_new(5, 21);
  // A new graph is in the reset state.
  EXPECT_EQ(fragment_graph_get_not_done_count(g), 5);
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(fragment_graph_get_not_done_count(g), 0);
  for (int i = 0; i < 5; i++) EXPECT_EQ(g->nodes[i].flags & kGraphNotDoneBits, 0) << i;
  // The swap made 0x8000 the current bit, so requests now use 0x4000.
  EXPECT_EQ(g->not_done_next_mask, 0x4000);
  fragment_graph_set_not_done_node(g, 3 | R);
  fragment_graph_set_not_done_node(g, 3);
  fragment_graph_set_not_done_node(g, 1);
  EXPECT_EQ(g->nodes[3].flags & kGraphNotDoneBits, 0x4000);
  EXPECT_EQ(fragment_graph_get_not_done_count(g), 2);
  // The pass that was current when they were requested is over already.
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{}));
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{1, 3}));
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{}));

  fragment_graph_reset_not_done_nodes(g);
  EXPECT_EQ(g->not_done_current_mask, 0x4000);
  // 3 is still waiting in the current list: not returned now, once next time.
  EXPECT_EQ(fragment_graph_get_not_done_node(g), 0u);
  fragment_graph_set_not_done_node(g, 3);
  fragment_graph_set_not_done_node(g, 0);
  EXPECT_EQ(fragment_graph_get_not_done_count(g), 5);
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{1, 2, 4}));
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{3, 0}));
  fragment_graph_free(g);

  fragment_graph_t *empty = fragment_graph_new(0, 21);
  fragment_graph_reset_not_done_nodes(empty);
  EXPECT_EQ(fragment_graph_get_not_done_node(empty), kOrientedIdNone);
  fragment_graph_free(empty);
}

// A node disabled while waiting is skipped, leaves the list without its
// generation bits, and a request after its slot is reused lists it again.
TEST(FragmentGraphNotDone, DisabledNodesLeaveWithoutBits) {
  seq_db_t *db = fragments_of_lengths({30, 30, 30, 30});
  fragment_graph_t *g = fragment_graph_new(4, 21);
  g->fragments = db;
  fragment_graph_add_edge(g, 1, 2, -5);
  fragment_graph_disable_node(g, 1);
  fragment_graph_set_not_done_node(g, 2);
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{0, 3}));
  EXPECT_EQ(g->nodes[1].flags & kGraphNotDoneBits, 0);
  EXPECT_EQ(fragment_graph_get_not_done_count(g), 1);
  const oriented_id_t reused = fragment_graph_new_node(g, 0);
  ASSERT_EQ(reused, 1u);
  fragment_graph_set_not_done_node(g, reused);
  EXPECT_EQ(fragment_graph_get_not_done_count(g), 2);
  // The stale 0x4000 of the old slot would now read as "already requested"
  // (0x4000 is the next bit after the swap) and the node would be lost.
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{2}));
  EXPECT_EQ(take_pass(g), (std::vector<oriented_id_t>{1}));
  fragment_graph_free(g);
  seq_db_free_records(db);
}

// Random requests against a model: each pass returns exactly the nodes
// requested during the previous pass (or left waiting from it), each once.
TEST(FragmentGraphNotDone, RandomPassesMatchModel) {
  std::mt19937 rng(3);
  const int n = 40;
  fragment_graph_t *g = fragment_graph_new(n, 21);
  std::set<oriented_id_t> waiting;
  for (int i = 0; i < n; i++) waiting.insert(static_cast<oriented_id_t>(i));
  for (int pass = 0; pass < 30; pass++) {
    std::set<oriented_id_t> requested;
    std::multiset<oriented_id_t> taken;
    for (oriented_id_t x; (x = fragment_graph_get_not_done_node(g)) != kOrientedIdNone;) {
      taken.insert(x);
      waiting.erase(x);
      for (int r = 0; r < 3; r++) {
        if (rng() % 2) continue;
        const auto req = static_cast<oriented_id_t>(rng() % n);
        fragment_graph_set_not_done_node(g, req);
        requested.insert(req);
        // A node still waiting moves to the next pass instead.
        waiting.erase(req);
      }
    }
    EXPECT_TRUE(waiting.empty()) << pass;
    EXPECT_EQ(taken.size(), std::set<oriented_id_t>(taken.begin(), taken.end()).size()) << pass;
    waiting = requested;
    EXPECT_EQ(fragment_graph_get_not_done_count(g), static_cast<int32_t>(waiting.size())) << pass;
  }
  fragment_graph_free(g);
}

TEST(FragmentGraphNotDoneDeath, CorruptedListExits) {
  fragment_graph_t *g = fragment_graph_new(3, 21);
  g->nodes[0].flags = static_cast<uint16_t>((g->nodes[0].flags & ~kGraphNotDoneBits) | 0x8000);
  // The diagnostics go to standard output; the child sends it to standard
  // error so that the message can be matched.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        fragment_graph_get_not_done_node(g);
      },
      testing::ExitedWithCode(1),
      "Error, fragment_graph_get_not_done_node at node 0\n  cnode->other_node 1\n  not_done_nodes_flag_current 0\n"
      "  not_done_nodes_flag_next    1\n  graph->not_done_nodes  0\n");
  fragment_graph_free(g);
}

}  // namespace
