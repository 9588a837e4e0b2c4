// Fragment graph core: strand rules of the edge lists, sorted insertion,
// slot reuse, node creation and disabling, slot exchange, capacity limits,
// and a long random sequence of edits checked against a shadow edge set.
#include "denovo/graph/fragment_graph.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>

#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace {

using namespace graph_test;

bool valid(const fragment_graph_t *g) {
  return fragment_graph_check_links(g, kOrientedIdNone) == 1 && fragment_graph_check_sorted(g) == 0;
}

TEST(FragmentGraph, NewGraphLayout) {
  fragment_graph_t *g = fragment_graph_new(3, 21);
  EXPECT_EQ(g->node_capacity, 10);
  EXPECT_EQ(g->edge_capacity, 10);
  EXPECT_EQ(g->free_node_capacity, 16);
  EXPECT_EQ(g->free_edge_capacity, 16);
  EXPECT_EQ(g->not_done_count, 3);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(g->nodes[i].fragment, static_cast<oriented_id_t>(i));
    EXPECT_EQ(g->nodes[i].flags, 0x4000);
    EXPECT_EQ(fragment_graph_get_first_next_edge(g, i), kOrientedIdNone);
  }
  EXPECT_EQ(g->nodes[0].other_node, 1u);
  EXPECT_EQ(g->nodes[2].other_node, kOrientedIdNone);
  EXPECT_EQ(fragment_graph_get_node_fragment(g, 2 | R), 2 | R);
  EXPECT_EQ(fragment_graph_get_other_node(g, 0 | R), 1 | R);
  EXPECT_EQ(fragment_graph_reverse_node(kOrientedIdNone), kOrientedIdNone);
  fragment_graph_t *big = fragment_graph_new(25, 21);
  EXPECT_EQ(big->node_capacity, 25);
  fragment_graph_free(big);
  fragment_graph_free(g);
}

TEST(FragmentGraph, EdgeSeenFromBothStrands) {
  fragment_graph_t *g = fragment_graph_new(4, 21);
  const oriented_id_t e = fragment_graph_add_edge(g, 0, 2 | R, -7);
  EXPECT_EQ(next_list(g, 0), (std::vector<Step>{{2 | R, -7}}));
  EXPECT_EQ(prev_list(g, 2 | R), (std::vector<Step>{{0, -7}}));
  // Read backwards: from 2 to the reverse of 0.
  EXPECT_EQ(next_list(g, 2), (std::vector<Step>{{0 | R, -7}}));
  EXPECT_EQ(prev_list(g, 0 | R), (std::vector<Step>{{2, -7}}));
  EXPECT_EQ(fragment_graph_get_edge_from_node(g, e | R), 2u);
  EXPECT_EQ(fragment_graph_get_edge_to_node(g, e | R), 0 | R);
  EXPECT_TRUE(next_list(g, 0 | R).empty());
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(FragmentGraph, HairpinLinkedOnce) {
  fragment_graph_t *g = fragment_graph_new(2, 21);
  const oriented_id_t e = fragment_graph_add_edge(g, 1, 1 | R, -3);
  EXPECT_EQ(next_list(g, 1), (std::vector<Step>{{1 | R, -3}}));
  EXPECT_EQ(prev_list(g, 1 | R), (std::vector<Step>{{1, -3}}));
  EXPECT_TRUE(next_list(g, 1 | R).empty());
  EXPECT_TRUE(valid(g));
  // Found but left linked by the unlink-by-target.
  EXPECT_EQ(fragment_graph_unlink_next_edge_to(g, 1, -3, 1 | R), e);
  EXPECT_EQ(next_list(g, 1).size(), 1u);
  fragment_graph_remove_edge(g, e);
  EXPECT_TRUE(next_list(g, 1).empty());
  EXPECT_TRUE(fragment_graph_edge_is_removed(g, e));
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(FragmentGraph, SelfLoopInBothLists) {
  fragment_graph_t *g = fragment_graph_new(2, 21);
  fragment_graph_add_edge(g, 0, 0, -2);
  EXPECT_EQ(next_list(g, 0), (std::vector<Step>{{0, -2}}));
  EXPECT_EQ(prev_list(g, 0), (std::vector<Step>{{0, -2}}));
  EXPECT_EQ(next_list(g, 0 | R), (std::vector<Step>{{0 | R, -2}}));
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(FragmentGraph, SortedInsertion) {
  fragment_graph_t *g = fragment_graph_new(6, 21);
  fragment_graph_add_edge(g, 0, 3, 3);
  fragment_graph_add_edge(g, 0, 2 | R, 0);
  fragment_graph_add_edge(g, 0, 3, -5);
  fragment_graph_add_edge(g, 0, 5, 0);
  fragment_graph_add_edge(g, 0, 1 | R, 0);
  EXPECT_EQ(next_list(g, 0), (std::vector<Step>{{3, -5}, {3, 3}, {5, 0}, {1 | R, 0}, {2 | R, 0}}));
  // An edge with an equal key goes before the existing one.
  const oriented_id_t dup = fragment_graph_add_edge(g, 0, 3, 3);
  EXPECT_EQ(fragment_graph_get_sibling_next_edge(g, fragment_graph_get_first_next_edge(g, 0)), dup);
  EXPECT_TRUE(valid(g));
  // Removing the duplicate slot leaves the older edge of the same key linked.
  fragment_graph_remove_edge(g, dup);
  EXPECT_EQ(next_list(g, 0).size(), 5u);
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(FragmentGraph, RemovedSlotsReusedLastFirst) {
  fragment_graph_t *g = fragment_graph_new(4, 21);
  const oriented_id_t a = fragment_graph_add_edge(g, 0, 1, 0);
  const oriented_id_t b = fragment_graph_add_edge(g, 1, 2, 0);
  fragment_graph_add_edge(g, 2, 3, 0);
  fragment_graph_remove_edge(g, a);
  fragment_graph_remove_edge(g, b | R);
  EXPECT_EQ(fragment_graph_add_edge(g, 3, 0, 1), b);
  EXPECT_EQ(fragment_graph_add_edge(g, 3, 1, 1), a);
  EXPECT_EQ(fragment_graph_add_edge(g, 3, 2, 1), 3u);
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(FragmentGraph, NewNodeFlagsAndCopy) {
  fragment_graph_t *g = fragment_graph_new(3, 21);
  g->nodes[1].flags = 0x8000 | kGraphMark1 | kGraphBubbleStartBit;
  fragment_graph_disable_node(g, 1);
  const oriented_id_t reused = fragment_graph_new_node(g, 2 | R);
  EXPECT_EQ(reused, 1u);
  EXPECT_EQ(g->nodes[1].flags, 0x8000);
  EXPECT_EQ(g->nodes[1].fragment, 2 | R);
  const oriented_id_t appended = fragment_graph_new_node(g, 0);
  EXPECT_EQ(appended, 3u);
  EXPECT_EQ(g->nodes[3].flags, 0);
  EXPECT_EQ(g->nodes[3].other_node, kOrientedIdNone);
  g->nodes[0].flags = kGraphBubbleStartBit | kGraphBubbleNodeBit | kGraphMark2;
  const oriented_id_t from_reverse = fragment_graph_copy_node(g, 0 | R);
  EXPECT_EQ(g->nodes[from_reverse].flags, kGraphBubbleEndBit | kGraphBubbleNodeBit);
  EXPECT_EQ(g->nodes[from_reverse].fragment, 0 | R);
  const oriented_id_t from_forward = fragment_graph_copy_node(g, 0);
  EXPECT_EQ(g->nodes[from_forward].flags, kGraphBubbleStartBit | kGraphBubbleNodeBit);
  fragment_graph_free(g);
}

TEST(FragmentGraph, BubbleBitsFollowTheStrand) {
  fragment_graph_t *g = fragment_graph_new(2, 21);
  fragment_graph_set_bubble_start(g, 1 | R);
  EXPECT_EQ(g->nodes[1].flags & 0x0F, kGraphBubbleEndBit);
  EXPECT_TRUE(fragment_graph_is_bubble_start(g, 1 | R));
  EXPECT_TRUE(fragment_graph_is_bubble_end(g, 1));
  fragment_graph_set_end_mark(g, 1 | R);
  EXPECT_TRUE(fragment_graph_get_end_mark(g, 1 | R));
  EXPECT_TRUE(fragment_graph_get_other_end_mark(g, 1));
  EXPECT_FALSE(fragment_graph_get_end_mark(g, 1));
  fragment_graph_set_mark5(g, 0 | R);
  EXPECT_TRUE(fragment_graph_get_mark5(g, 0));
  fragment_graph_clear_mark5(g, 0);
  EXPECT_FALSE(fragment_graph_get_mark5(g, 0 | R));
  testing::internal::CaptureStdout();
  fragment_graph_clear_bubble_end(g, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "cnode->flags &= ~BUBBLE_END_BIT\n");
  EXPECT_FALSE(fragment_graph_is_bubble_end(g, 1));
  fragment_graph_free(g);
}

TEST(FragmentGraph, DisableRemovesEveryEdge) {
  fragment_graph_t *g = fragment_graph_new(4, 21);
  fragment_graph_add_edge(g, 0, 1, 0);
  fragment_graph_add_edge(g, 1, 2 | R, 0);
  fragment_graph_add_edge(g, 3, 1 | R, 0);
  fragment_graph_add_edge(g, 1, 1 | R, 0);
  fragment_graph_add_edge(g, 2, 3, 0);
  fragment_graph_disable_node(g, 1 | R);
  EXPECT_TRUE(fragment_graph_is_disabled(g, 1));
  EXPECT_EQ(edge_set(g), (std::vector<Edge>{canonical(2, 3, 0)}));
  EXPECT_EQ(g->free_node_count, 1);
  EXPECT_EQ(g->free_edge_count, 4);
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(FragmentGraphDeath, MessagesAndStatuses) {
  fragment_graph_t *g = fragment_graph_new(3, 21);
  const oriented_id_t e = fragment_graph_add_edge(g, 0, 1, 4);
  // The message of a double disable goes to standard output; a child that
  // prints it there and exits 1 is what the death test sees.
  EXPECT_EXIT(
      {
        fragment_graph_disable_node(g, 2);
        fflush(stdout);
        dup2(2, 1);
        fragment_graph_disable_node(g, 2);
      },
      testing::ExitedWithCode(1), "Node 2 is already disabled");
  EXPECT_EXIT(
      {
        fragment_graph_remove_edge(g, e);
        fragment_graph_remove_edge(g, e);
      },
      testing::ExitedWithCode(1), "Remove edge error, tried to to remove edge between ffffffff and ffffffff");
  EXPECT_EXIT(fragment_graph_unlink_next_edge(g, 2, e), testing::ExitedWithCode(1),
              "Remove edge error, tried to to remove next edge 0 from node 2\n");
  EXPECT_EXIT(fragment_graph_redirect_edge_to(g, 0, 5, 1, 2), testing::ExitedWithCode(1),
              "Remove edge error, tried to to remove edge between 0 and 1, distance 5\n");
  fragment_graph_free(g);
}

TEST(FragmentGraph, CapacityGrowthNeverWraps) {
  struct Case {
    int32_t capacity, minimum, grown;
  } cases[] = {{10, 10, 20}, {0, 16, 16}, {0, 10, 10}, {0x3fffffff, 10, 0x7ffffffe},
               {0x40000000, 10, 0x7fffffff}, {0x7fffffff, 10, 0x7fffffff}};
  for (const Case &c : cases) EXPECT_EQ(fragment_graph_grow_capacity(c.capacity, c.minimum), c.grown) << c.capacity;
}

TEST(FragmentGraphDeath, NodeAndEdgeLimits) {
  fragment_graph_t *g = fragment_graph_new(2, 21);
  // The limit is checked before any growth, so a graph that claims to be
  // full is refused without touching its (small) arrays.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        g->node_count = kGraphMaxSlots;
        g->node_capacity = kGraphMaxSlots;
        fragment_graph_new_node(g, 0);
      },
      testing::ExitedWithCode(1),
      "Error: Too many nodes in the de Bruijn graph. Maximum number of nodes on your system is 2147483647");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        g->edge_count = kGraphMaxSlots;
        g->edge_capacity = kGraphMaxSlots;
        fragment_graph_add_edge(g, 0, 1, 0);
      },
      testing::ExitedWithCode(1),
      "Error: Too many edges in the de Bruijn graph. Maximum number of edges on your system is 2147483647");
  fragment_graph_free(g);
}

TEST(FragmentGraph, RedirectKeepsSlotAndOrder) {
  fragment_graph_t *g = fragment_graph_new(6, 21);
  const oriented_id_t e = fragment_graph_add_edge(g, 0, 1, -4);
  fragment_graph_add_edge(g, 0, 3, -4);
  fragment_graph_redirect_edge_to(g, 0, -4, 1, 4 | R);
  EXPECT_EQ(fragment_graph_get_edge_to_node(g, e), 4 | R);
  EXPECT_EQ(next_list(g, 0), (std::vector<Step>{{3, -4}, {4 | R, -4}}));
  EXPECT_TRUE(prev_list(g, 1).empty());
  EXPECT_EQ(prev_list(g, 4 | R), (std::vector<Step>{{0, -4}}));
  EXPECT_TRUE(valid(g));
  // The mirror: the edge 0 -> 3 starts at 5 afterwards.
  fragment_graph_redirect_edge_from(g, 3, -4, 0, 5);
  EXPECT_EQ(next_list(g, 5), (std::vector<Step>{{3, -4}}));
  EXPECT_EQ(next_list(g, 0), (std::vector<Step>{{4 | R, -4}}));
  EXPECT_TRUE(valid(g));
  // A hairpin redirected becomes a fresh edge; a new hairpin is listed once.
  fragment_graph_add_edge(g, 2, 2 | R, 1);
  fragment_graph_redirect_edge_to(g, 2, 1, 2 | R, 1);
  EXPECT_EQ(next_list(g, 2), (std::vector<Step>{{1, 1}}));
  fragment_graph_redirect_edge_to(g, 2, 1, 1, 2 | R);
  EXPECT_EQ(next_list(g, 2), (std::vector<Step>{{2 | R, 1}}));
  EXPECT_TRUE(next_list(g, 2 | R).empty());
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

TEST(FragmentGraph, SwapFollowsEdgesOnBothStrands) {
  fragment_graph_t *g = fragment_graph_new(5, 21);
  fragment_graph_add_edge(g, 0, 1, -1);
  fragment_graph_add_edge(g, 1, 2 | R, -2);
  fragment_graph_add_edge(g, 3, 1 | R, -3);
  fragment_graph_add_edge(g, 1, 1 | R, -4);
  // Plain exchange of two forward nodes.
  fragment_graph_swap_nodes(g, 1, 4);
  EXPECT_EQ(g->nodes[4].fragment, 1u);
  EXPECT_EQ(edge_set(g), sorted({canonical(0, 4, -1), canonical(4, 2 | R, -2), canonical(3, 4 | R, -3),
                                             canonical(4, 4 | R, -4)}));
  EXPECT_TRUE(valid(g));
  // Exchanging with a reverse id turns the record over: node 1 read
  // forward is old node 4 read backwards.
  fragment_graph_swap_nodes(g, 1 | R, 4);
  EXPECT_EQ(g->nodes[1].fragment, 1 | R);
  EXPECT_EQ(fragment_graph_get_node_fragment(g, 1 | R), 1u);
  EXPECT_EQ(edge_set(g), sorted({canonical(0, 1 | R, -1), canonical(1 | R, 2 | R, -2),
                                             canonical(3, 1, -3), canonical(1 | R, 1, -4)}));
  EXPECT_TRUE(fragment_graph_check_links(g, kOrientedIdNone));
  // A node exchanged with its own reverse strand.
  fragment_graph_swap_nodes(g, 1, 1 | R);
  EXPECT_EQ(g->nodes[1].fragment, 1u);
  EXPECT_EQ(edge_set(g), sorted({canonical(0, 1, -1), canonical(1, 2 | R, -2), canonical(3, 1 | R, -3),
                                             canonical(1, 1 | R, -4)}));
  EXPECT_TRUE(valid(g));
  fragment_graph_free(g);
}

// Random edits against a shadow set of edges, nodes and fragments; the
// lists, the edge set and the checks are compared after every step.
TEST(FragmentGraph, RandomEditsMatchShadow) {
  std::mt19937 rng(12345);
  const int kNodes = 24;
  fragment_graph_t *g = fragment_graph_new(kNodes, 21);
  std::multiset<Edge> shadow;
  std::map<uint32_t, oriented_id_t> fragment;  // slot -> fragment it carries forward
  std::set<uint32_t> live;
  std::vector<uint32_t> freed;
  for (int i = 0; i < kNodes; i++) {
    fragment[i] = static_cast<oriented_id_t>(i);
    live.insert(i);
  }
  auto random_live = [&]() {
    auto it = live.begin();
    std::advance(it, rng() % live.size());
    return static_cast<oriented_id_t>(*it | ((rng() & 1) ? R : 0));
  };
  auto random_edge = [&]() -> oriented_id_t {
    std::vector<oriented_id_t> slots;
    for (int32_t s = 0; s < g->edge_count; s++) {
      if (!fragment_graph_edge_is_removed(g, s)) slots.push_back(static_cast<oriented_id_t>(s));
    }
    if (slots.empty()) return kOrientedIdNone;
    return slots[rng() % slots.size()] | ((rng() & 1) ? R : 0);
  };
  auto node_fragment = [&](oriented_id_t n) {
    const oriented_id_t f = fragment[n & ~R];
    return (n & R) ? rev(f) : f;
  };
  for (int step = 0; step < 3000; step++) {
    const int op = static_cast<int>(rng() % 100);
    const oriented_id_t e = random_edge();
    if (op < 40 || e == kOrientedIdNone) {
      const oriented_id_t a = random_live();
      const oriented_id_t b = random_live();
      const int32_t d = static_cast<int32_t>(rng() % 7) - 3;
      fragment_graph_add_edge(g, a, b, d);
      shadow.insert(canonical(a, b, d));
    } else if (op < 60) {
      shadow.erase(shadow.find(canonical(fragment_graph_get_edge_from_node(g, e), fragment_graph_get_edge_to_node(g, e),
                                         fragment_graph_get_edge_distance(g, e))));
      fragment_graph_remove_edge(g, e);
    } else if (op < 75) {
      const oriented_id_t a = fragment_graph_get_edge_from_node(g, e);
      const oriented_id_t c = fragment_graph_get_edge_to_node(g, e);
      const int32_t d = fragment_graph_get_edge_distance(g, e);
      const oriented_id_t to = random_live();
      shadow.erase(shadow.find(canonical(a, c, d)));
      if (op < 68) {
        fragment_graph_redirect_edge_to(g, a, d, c, to);
        shadow.insert(canonical(a, to, d));
      } else {
        fragment_graph_redirect_edge_from(g, c, d, a, to);
        shadow.insert(canonical(to, c, d));
      }
    } else if (op < 82) {
      const oriented_id_t source = random_live();
      const oriented_id_t n = fragment_graph_new_node(g, source);
      uint32_t expected = static_cast<uint32_t>(fragment.size());
      if (!freed.empty()) {
        expected = freed.back();
        freed.pop_back();
      }
      ASSERT_EQ(n, expected);
      fragment[n] = node_fragment(source);
      live.insert(n);
    } else if (op < 90 && live.size() > 4) {
      const oriented_id_t n = random_live();
      for (auto it = shadow.begin(); it != shadow.end();) {
        const bool touches = (std::get<0>(*it) & ~R) == (n & ~R) || (std::get<1>(*it) & ~R) == (n & ~R);
        it = touches ? shadow.erase(it) : std::next(it);
      }
      fragment_graph_disable_node(g, n);
      live.erase(n & ~R);
      freed.push_back(n & ~R);
    } else {
      const oriented_id_t a = random_live();
      const oriented_id_t b = random_live();
      auto rename = [&](oriented_id_t x) {
        if (x == b) return a;
        if (x == rev(b)) return rev(a);
        if (x == a) return b;
        if (x == rev(a)) return rev(b);
        return x;
      };
      std::multiset<Edge> renamed;
      for (const Edge &x : shadow) renamed.insert(canonical(rename(std::get<0>(x)), rename(std::get<1>(x)), std::get<2>(x)));
      shadow = renamed;
      const oriented_id_t fa = node_fragment(a);
      const oriented_id_t fb = node_fragment(b);
      fragment[a & ~R] = (a & R) ? rev(fb) : fb;
      fragment[b & ~R] = (b & R) ? rev(fa) : fa;
      fragment_graph_swap_nodes(g, a, b);
    }
    ASSERT_EQ(edge_set(g), std::vector<Edge>(shadow.begin(), shadow.end())) << "step " << step;
    for (const uint32_t slot : live) {
      ASSERT_EQ(g->nodes[slot].fragment, fragment[slot]) << "step " << step;
      for (const oriented_id_t n : {slot, slot | R}) {
        std::multiset<Step> expected;
        for (const Edge &x : shadow) {
          const auto [f, t, d] = x;
          if (f == n) expected.insert({t, d});
          if (rev(t) == n && rev(t) != f) expected.insert({rev(f), d});
        }
        const std::vector<Step> got = next_list(g, n);
        ASSERT_EQ(std::multiset<Step>(got.begin(), got.end()), expected) << "step " << step << " node " << n;
      }
    }
    ASSERT_TRUE(valid(g)) << "step " << step;
    ASSERT_EQ(fragment_graph_check_marks(g, kOrientedIdNone), 1);
  }
  fragment_graph_free(g);
}

}  // namespace
