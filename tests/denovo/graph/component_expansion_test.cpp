// Window expansion: the branching test, the more-information walk on
// threaded reads, the node chains from border nodes, and the expandable
// node groups over hand-made path groups (candidates, exclusions, facing
// candidates, bubbles) with their print.
#include "denovo/graph/component_expansion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "component_test_util.h"
#include "denovo/graph/fragment_graph_build.h"

namespace {

using namespace graph_test;

using Nodes = std::vector<oriented_id_t>;

std::vector<uint32_t> lengths(size_t n) { return std::vector<uint32_t>(n, 30); }

TEST(ComponentExpansion, BranchingTest) {
  struct Case {
    const char *what;
    std::vector<std::pair<oriented_id_t, oriented_id_t>> edges;
    std::pair<oriented_id_t, oriented_id_t> bubble;  // start, end; start == end: none
    int branching, two_successors;
  } cases[] = {
      {"no next edge", {{1, 0}}, {0, 0}, 0, 0},
      {"one successor", {{0, 1}}, {0, 0}, 0, 0},
      {"two successors", {{0, 1}, {0, 2}}, {0, 0}, 1, 1},
      {"bubble start, ordinary end", {{0, 1}, {0, 2}, {1, 3}, {2, 3}}, {0, 3}, 1, 1},
      {"bubble start whose end is its own reverse", {{0, 1}, {0, 2}, {1, 0 | R}, {2, 0 | R}}, {0, 0 | R}, 0, 1},
  };
  for (const Case &c : cases) {
    WindowFixture f(lengths(4), chain_edges(c.edges));
    if (c.bubble.first != c.bubble.second) fragment_graph_mark_bubble(f.graph, c.bubble.first, c.bubble.second);
    EXPECT_EQ(component_node_is_branching(f.graph, 0), c.branching) << c.what;
    EXPECT_EQ(component_node_has_two_successors(f.graph, 0), c.two_successors) << c.what;
  }
  // Two edges to one node at different distances reach one node.
  WindowFixture f(lengths(2), {{0, 1, -5}, {0, 1, -3}});
  EXPECT_EQ(component_node_is_branching(f.graph, 0), 0);
}

// The more-information counts of every path group, by (prev_node, next_node).
std::map<std::pair<uint32_t, uint32_t>, std::pair<int32_t, int32_t>> more_info_of(const component_window_t *c) {
  std::map<std::pair<uint32_t, uint32_t>, std::pair<int32_t, int32_t>> out;
  for (int32_t i = 0; i < c->path_group_count; i++) {
    const component_path_group_t &g = c->path_groups[i];
    out[{g.prev_node, g.next_node}] = {g.more_info_prev, g.more_info_next};
  }
  return out;
}

TEST(ComponentExpansion, MoreInformation) {
  // Window W = 0 between A = 1 and B = 2, E = 7; B leads along the chain C = 3
  // to X = 4, which branches to Y = 5 and Z = 6.
  const auto plain = chain_edges({{1, 0}, {0, 2}, {0, 7}, {2, 3}, {3, 4}, {4, 5}, {4, 6}});
  // W = 0 is a bubble start: B = 2 branches inside the bubble to X1 = 3 and
  // X2 = 4, E = 5 is the other branch, all meeting at F = 6, which leads to G
  // = 7 branching to H = 8 and I = 9.
  const auto bubbled =
      chain_edges({{1, 0}, {0, 2}, {0, 5}, {2, 3}, {2, 4}, {3, 6}, {4, 6}, {5, 6}, {6, 7}, {7, 8}, {7, 9}});
  // B = 2 leads back into the window, which the read leaves again at E = 7.
  const auto loop = chain_edges({{1, 0}, {0, 2}, {2, 0}, {0, 7}});
  struct Case {
    const char *what;
    std::vector<Edge> edges;
    bool bubble;
    std::vector<PathReads> paths;
    int32_t more_at_b;  // in the group (B, A')
    int32_t result;
  } cases[] = {
      {"reads past the branching node at the chain's end count",
       plain,
       false,
       {path_reads({1, 0, 2, 3, 4, 5}, 3), path_reads({1, 0, 2, 3}, 2), path_reads({1, 0, 7}, 1)},
       3,
       1},
      {"reads that stop on the branching node do not",
       plain,
       false,
       {path_reads({1, 0, 2, 3, 4}, 3), path_reads({1, 0, 7}, 1)},
       0,
       0},
      {"a branching node inside a bubble does not count; the one behind it does",
       bubbled,
       true,
       {path_reads({1, 0, 2, 3, 6, 7, 8}, 3), path_reads({1, 0, 5, 6, 7}, 2)},
       3,
       1},
      {"reads that end behind the branching bubble node do not count",
       bubbled,
       true,
       {path_reads({1, 0, 2, 3, 6}, 4)},
       0,
       0},
      {"a read that re-enters the window counts where it leaves again",
       loop,
       false,
       {path_reads({1, 0, 2, 0, 7}, 2)},
       2,
       1},
  };
  for (const Case &c : cases) {
    WindowFixture f(lengths(10), c.edges, c.paths);
    if (c.bubble) fragment_graph_mark_bubble(f.graph, 0, 6);
    f.set({0});
    component_get_components(f.context, 0);
    const int32_t result = component_get_more_info(f.context);
    EXPECT_EQ(result != 0, c.result != 0) << c.what;
    const auto more = more_info_of(f.context);
    const auto at = more.find({2, 1 | R});
    ASSERT_NE(at, more.end()) << c.what;
    EXPECT_EQ(at->second.first, c.more_at_b) << c.what;
    EXPECT_EQ(at->second.second, 0) << c.what;  // A has no prev edge: nothing beyond A'
    EXPECT_TRUE(f.marks_clear()) << c.what;
    EXPECT_EQ(f.context->int_scratch.used, 0) << c.what;
    EXPECT_EQ(f.context->u64_scratch.used, 0) << c.what;
  }
}

TEST(ComponentExpansion, NodeChains) {
  struct Case {
    const char *what;
    std::vector<std::pair<oriented_id_t, oriented_id_t>> edges;
    std::pair<oriented_id_t, oriented_id_t> bubble;  // start, end; start == end: none
    oriented_id_t from;
    oriented_id_t taken;  // a node already in the group (mark 6), or -1
    Nodes expect;         // empty: the chain ends badly
  } cases[] = {
      {"chain to a branching node", {{1, 2}, {2, 3}, {3, 4}, {3, 5}}, {0, 0}, 1, kOrientedIdNone, {1, 2, 3}},
      {"chain to a dead end", {{1, 2}, {2, 3}}, {0, 0}, 1, kOrientedIdNone, {}},
      {"chain back into the window", {{1, 2}, {2, 0}}, {0, 0}, 1, kOrientedIdNone, {1, 2}},
      {"chain round a cycle", {{1, 2}, {2, 1}}, {0, 0}, 1, kOrientedIdNone, {}},
      {"chain to a bubble with a free end", {{1, 2}, {2, 3}, {2, 4}, {3, 5}, {4, 5}}, {2, 5}, 1, kOrientedIdNone, {1, 2}},
      {"chain to a bubble whose end is taken", {{1, 2}, {2, 3}, {2, 4}, {3, 5}, {4, 5}}, {2, 5}, 1, 5, {}},
      {"chain to a bubble that ends on its own reverse",
       {{1, 2}, {2, 3}, {2, 4}, {3, 2 | R}, {4, 2 | R}},
       {2, 2 | R},
       1,
       kOrientedIdNone,
       {1, 2, 3, 4}},
      {"a window bubble start: its bubble, then the chain from its end",
       {{0, 3}, {0, 4}, {3, 5}, {4, 5}, {5, 6}, {6, 7}, {6, 8}},
       {0, 5},
       0,
       kOrientedIdNone,
       {3, 4, 5, 6}},
  };
  for (const Case &c : cases) {
    WindowFixture f(lengths(9), chain_edges(c.edges));
    if (c.bubble.first != c.bubble.second) fragment_graph_mark_bubble(f.graph, c.bubble.first, c.bubble.second);
    fragment_graph_set_mark1(f.graph, 0);
    if (c.taken != kOrientedIdNone) fragment_graph_set_mark6(f.graph, c.taken);
    // The buffer already holds an earlier chain's node, which must stay.
    int32_t count = 1, capacity = 1;
    auto *buffer = static_cast<oriented_id_t *>(ryx_malloc(sizeof(oriented_id_t)));
    buffer[0] = 0x77;
    const int32_t n = get_expandable_node_path(f.graph, c.from, &buffer, &count, &capacity);
    EXPECT_EQ(n, static_cast<int32_t>(c.expect.size())) << c.what;
    ASSERT_EQ(count, 1 + n) << c.what;
    EXPECT_EQ(buffer[0], 0x77u) << c.what;
    EXPECT_EQ(Nodes(buffer + 1, buffer + count), c.expect) << c.what;
    for (int32_t i = 1; i < count; i++) {
      EXPECT_TRUE(fragment_graph_get_mark6(f.graph, buffer[i])) << c.what;
      fragment_graph_clear_mark6(f.graph, buffer[i]);
    }
    fragment_graph_clear_mark1(f.graph, 0);
    if (c.taken != kOrientedIdNone) fragment_graph_clear_mark6(f.graph, c.taken);
    EXPECT_TRUE(f.marks_clear()) << c.what;  // a chain that ends badly leaves no mark 6
    ryx_free(buffer);
  }
}

// Window W = 0 with prev neighbours P1 = 1, P2 = 2 and next neighbours N1 =
// 3, N2 = 4. N1 leads to J1 = 5 (branching to 6, 7), N2 to J2 = 8 (to 9,
// 10); P1' branches to 11', 12', P2' to 13', 14'. V = 15 stands alone; D =
// 16 is a dead end after W.
const std::vector<Edge> kStar = chain_edges({{1, 0},
                                             {2, 0},
                                             {0, 3},
                                             {0, 4},
                                             {0, 16},
                                             {3, 5},
                                             {5, 6},
                                             {5, 7},
                                             {4, 8},
                                             {8, 9},
                                             {8, 10},
                                             {11, 1},
                                             {12, 1},
                                             {13, 2},
                                             {14, 2}});

struct Group {
  uint32_t a, b;
  int32_t more_a, more_b;
};

void add_groups(component_window_t *c, const std::vector<Group> &groups) {
  component_window_clear_path_groups(c);
  for (const Group &g : groups) {
    component_window_add_path_group(c, g.a, g.b, 1, nullptr, nullptr, 0);
    c->path_groups[c->path_group_count - 1].more_info_prev = g.more_a;
    c->path_groups[c->path_group_count - 1].more_info_next = g.more_b;
  }
}

std::vector<Nodes> groups_of(const component_expandable_nodes_t *e) {
  std::vector<Nodes> out;
  if (e == nullptr) return out;
  for (int32_t i = 0; i < e->group_count; i++) out.emplace_back(e->group_starts[i], e->group_starts[i] + e->group_sizes[i]);
  return out;
}

TEST(ComponentExpansion, ExpandableGroups) {
  const oriented_id_t P1 = 1 | R, P2 = 2 | R, N1 = 3, N2 = 4, J1 = 5, J2 = 8, D = 16;
  struct Case {
    const char *what;
    Nodes window;
    std::vector<Group> groups;
    std::vector<Nodes> expect;
  } cases[] = {
      {"both next-side nodes in one group; the prev-side neighbours of the first window node excluded",
       {0},
       {{N1, P1, 1, 1}, {N1, P2, 1, 1}, {N2, P1, 1, 1}, {N2, P2, 1, 1}},
       {{N1, J1, N2, J2}}},
      {"without the exclusion, candidates facing each other land in different groups",
       {15, 0},
       {{N1, P1, 1, 1}, {N1, P2, 1, 1}, {N2, P1, 1, 1}, {N2, P2, 1, 1}},
       {{P1, P2}, {N1, J1, N2, J2}}},
      {"a border node in one path group only is no candidate", {0}, {{N1, P1, 1, 1}, {N2, P2, 1, 1}}, {}},
      {"a border node whose groups do not all carry information is no candidate",
       {0},
       {{N1, P1, 1, 1}, {N1, P2, 0, 1}},
       {}},
      {"information at the other ends does not matter", {0}, {{N1, P1, 1, 0}, {N1, P2, 1, 0}}, {{N1, J1}}},
      {"a chain into a dead end adds nothing", {0}, {{D, P1, 1, 1}, {D, P2, 1, 1}}, {}},
      {"no path groups", {0}, {}, {}},
  };
  for (const Case &c : cases) {
    WindowFixture f(lengths(17), kStar);
    f.set(c.window);
    add_groups(f.context, c.groups);
    component_expandable_nodes_t *e = component_get_expandable_nodes(f.context);
    EXPECT_EQ(groups_of(e), c.expect) << c.what;
    EXPECT_EQ(e == nullptr, c.expect.empty()) << c.what;
    component_expandable_nodes_free(e);
    EXPECT_TRUE(f.marks_clear()) << c.what;
    EXPECT_EQ(f.context->int_scratch.used, 0) << c.what;
  }
}

TEST(ComponentExpansion, GroupsOfOneComponentAndPrint) {
  const oriented_id_t P1 = 1 | R, P2 = 2 | R, N1 = 3, N2 = 4;
  WindowFixture f(lengths(17), kStar);
  f.set({15, 0});
  add_groups(f.context, {{N1, P1, 1, 1}, {N1, P2, 1, 1}, {N2, P1, 1, 1}, {N2, P2, 1, 1}});
  component_window_t *c = f.context;
  // A component of the first two groups only: N1 is the one candidate.
  c->path_groups[0].link = &c->path_groups[1];
  c->path_groups[1].link = nullptr;
  c->components.component_count = 1;
  c->components.sizes[0] = 2;
  c->components.first_groups[0] = &c->path_groups[0];
  component_expandable_nodes_t *e = component_get_expandable_nodes_of_component(c, &c->components);
  EXPECT_EQ(groups_of(e), (std::vector<Nodes>{{N1, 5}}));
  component_expandable_nodes_free(e);

  c->components.component_count = 2;
  testing::internal::CaptureStdout();
  EXPECT_EQ(component_get_expandable_nodes_of_component(c, &c->components), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "component_get_expandable_nodes, components->component_count != 1\n");

  testing::internal::CaptureStdout();
  component_print_expandable_nodes(c);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "expandable nodes\n  group size 2: 80000001 80000002\n  group size 4: 3 5 4 8\n");
  add_groups(c, {{N1, P1, 1, 1}});
  testing::internal::CaptureStdout();
  component_print_expandable_nodes(c);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "no expandable nodes\n");
  EXPECT_TRUE(f.marks_clear());
}

// W = 0 is a bubble start: branches B1 = 1 and B2 = 2 meet at F = 3, which
// leads to J = 4 branching to 5 and 6; P = 7 comes before W.
const std::vector<Edge> kBubbleAhead =
    chain_edges({{7, 0}, {0, 1}, {0, 2}, {1, 3}, {2, 3}, {3, 4}, {4, 5}, {4, 6}, {8, 7}, {9, 7}});

TEST(ComponentExpansion, BorderNodesInBubblesMoveToTheBubbleStart) {
  WindowFixture f(lengths(10), kBubbleAhead);
  fragment_graph_mark_bubble(f.graph, 0, 3);
  f.set({0});
  add_groups(f.context, {{1, 7 | R, 1, 1}, {2, 7 | R, 1, 1}});
  EXPECT_EQ(component_bubble_start_before(f.graph, 1), 0u);
  EXPECT_EQ(component_bubble_start_before(f.graph, 3), 0u);
  EXPECT_EQ(component_bubble_start_before(f.graph, 8), kOrientedIdNone);  // 8' has no next edge
  component_expandable_nodes_t *e = component_get_expandable_nodes(f.context);
  EXPECT_EQ(groups_of(e), (std::vector<Nodes>{{1, 2, 3, 4}}));
  component_expandable_nodes_free(e);
  EXPECT_EQ(f.context->path_groups[0].prev_node, 0u);
  EXPECT_EQ(f.context->path_groups[1].prev_node, 0u);
  EXPECT_EQ(f.context->path_groups[1].next_node, 7u | R);
  EXPECT_TRUE(f.marks_clear());
}

TEST(ComponentExpansionDeathTest, FatalPaths) {
  {
    // A border node in a bubble whose start is not in the window.
    WindowFixture f(lengths(10), kBubbleAhead);
    fragment_graph_mark_bubble(f.graph, 0, 3);
    f.set({9});
    add_groups(f.context, {{1, 7 | R, 1, 1}});
    EXPECT_EXIT(ON_STDOUT(component_get_expandable_nodes(f.context)), testing::ExitedWithCode(1),
                "component_get_expandable_nodes error 0, node 0 is not in window");
    add_groups(f.context, {{7 | R, 2, 1, 1}});
    EXPECT_EXIT(ON_STDOUT(component_get_expandable_nodes(f.context)), testing::ExitedWithCode(1),
                "component_get_expandable_nodes error 1, node 0 is not in window");
  }
  {
    // A chain from a window node that is no bubble start; a bubble branch
    // that leaves the bubble; a bubble walk that leaves it.
    WindowFixture f(lengths(4), chain_edges({{0, 1}, {0, 2}, {1, 3}}));
    fragment_graph_set_mark1(f.graph, 0);
    int32_t count = 0, capacity = 0;
    oriented_id_t *buffer = nullptr;
    EXPECT_EXIT(get_expandable_node_path(f.graph, 0, &buffer, &count, &capacity), testing::ExitedWithCode(1),
                "error 1, get_expandable_node_path");
    f.graph->nodes[0].flags |= kGraphBubbleStartBit;
    EXPECT_EXIT(get_bubble_nodes2(f.graph, 0, &buffer, &count, &capacity), testing::ExitedWithCode(1),
                "error, get_bubble_nodes2");
    EXPECT_EXIT(ON_STDOUT(component_node_is_branching(f.graph, 0)), testing::ExitedWithCode(1),
                "error, search_for_bubble_end 1");
    fragment_graph_clear_mark1(f.graph, 0);
  }
}

}  // namespace
