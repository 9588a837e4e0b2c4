// Components: the window test, read paths grouped by border node pair with
// overlapping passages counted once, components above a count threshold,
// the group read lists, the component index sizes and the prints.
#include "denovo/graph/components.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <random>
#include <set>

#include "component_test_util.h"

namespace {

using namespace graph_test;

struct Group {
  uint32_t prev, next;
  int32_t count;
  bool operator<(const Group &o) const { return std::tie(prev, next, count) < std::tie(o.prev, o.next, o.count); }
  bool operator==(const Group &o) const { return prev == o.prev && next == o.next && count == o.count; }
};
std::ostream &operator<<(std::ostream &os, const Group &g) {
  return os << std::hex << "(" << g.prev << " " << g.next << std::dec << " " << g.count << ")";
}

// The components as sets of groups, in component order.
std::vector<std::set<Group>> components_of(const component_list_t *list) {
  std::vector<std::set<Group>> out;
  for (int32_t i = 0; i < list->component_count; i++) {
    std::set<Group> s;
    for (const component_path_group_t *g = list->first_groups[i]; g != nullptr; g = g->link)
      s.insert({g->prev_node, g->next_node, g->count});
    EXPECT_EQ(static_cast<int32_t>(s.size()), list->sizes[i]);
    out.push_back(s);
  }
  return out;
}

// Node 4 between prev neighbours 0, 1 and next neighbours 2, 3.
const std::vector<uint32_t> kLengths = {30, 30, 30, 30, 30};
const std::vector<Edge> kCross = {{0, 4, -5}, {1, 4, -5}, {4, 2, -5}, {4, 3, -5}};

TEST(Components, GroupsAndComponents) {
  auto reads = [](int a_b, int c_d, int c_b, int a_c) {
    std::vector<PathReads> p;
    for (int i = 0; i < a_b; i++) p.push_back({{0, 4, 2}, {-5, -5}});
    for (int i = 0; i < c_d; i++) p.push_back({{1, 4, 3}, {-5, -5}});
    for (int i = 0; i < c_b; i++) p.push_back({{3 | R, 4 | R, 0 | R}, {-5, -5}});
    for (int i = 0; i < a_c; i++) p.push_back({{0, 4, 3}, {-5, -5}});
    return p;
  };
  const Group ab{2, 0 | R, 0}, cd{3, 1 | R, 0}, ac{3, 0 | R, 0};
  auto with = [](Group g, int32_t n) { return Group{g.prev, g.next, n}; };
  struct Case {
    const char *what;
    std::vector<PathReads> paths;
    int32_t threshold;
    std::vector<std::set<Group>> expect;
  } cases[] = {
      {"A to B and C to D: two components, the smallest node first",
       reads(2, 3, 0, 0),
       0,
       {{with(ab, 2)}, {with(cd, 3)}}},
      {"A to B and A to C: one component of size 2", reads(2, 0, 0, 4), 0, {{with(ab, 2), with(ac, 4)}}},
      {"a group at the threshold is left out", reads(3, 4, 0, 0), 3, {{with(cd, 4)}}},
      {"a group at the threshold splits a component", reads(5, 5, 0, 3), 3, {{with(ab, 5)}, {with(cd, 5)}}},
      {"the same groups below the threshold join", reads(5, 5, 0, 3), 2, {{with(ab, 5), with(ac, 3), with(cd, 5)}}},
      {"reads read backwards count alike", reads(1, 0, 0, 2), 0, {{with(ab, 1), with(ac, 2)}}},
      {"no reads: no components", {}, 0, {}},
  };
  for (const Case &c : cases) {
    WindowFixture f(kLengths, kCross, c.paths);
    f.set({4});
    const component_list_t *list = component_get_components(f.context, c.threshold);
    EXPECT_EQ(components_of(list), c.expect) << c.what;
    EXPECT_TRUE(f.marks_clear()) << c.what;
    EXPECT_EQ(f.context->int_scratch.used, 0) << c.what;
    EXPECT_EQ(f.context->u64_scratch.used, 0) << c.what;
  }
}

TEST(Components, RebuildWithAnotherThreshold) {
  std::vector<PathReads> p;
  for (int i = 0; i < 5; i++) p.push_back({{0, 4, 2}, {-5, -5}});
  for (int i = 0; i < 3; i++) p.push_back({{0, 4, 3}, {-5, -5}});
  for (int i = 0; i < 5; i++) p.push_back({{1, 4, 3}, {-5, -5}});
  WindowFixture f(kLengths, kCross, p);
  f.set({4});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 1);
  EXPECT_EQ(list->sizes[0], 3);
  EXPECT_EQ(f.context->path_group_count, 3);
  list = component_get_components_above_count(f.context, list, 3);
  ASSERT_EQ(list->component_count, 2);
  EXPECT_EQ(list->sizes[0], 1);
  EXPECT_EQ(list->sizes[1], 1);
  list = component_get_components_above_count(f.context, list, 0);
  ASSERT_EQ(list->component_count, 1);
  EXPECT_EQ(list->sizes[0], 3);
  list = component_get_components_above_count(f.context, list, 5);
  EXPECT_EQ(list->component_count, 0);
  EXPECT_EQ(f.context->path_group_count, 3);
}

// Chain 0 - 1 - 2 - 3, window 1 2: both window nodes are interior border
// nodes, and the one read is found from both; it counts once, and only the
// first interior border node's find carries read pointers.
TEST(Components, CrossingFoundTwiceCountsOnceAndReadLists) {
  WindowFixture f({30, 30, 30, 30}, {{0, 1, -5}, {1, 2, -5}, {2, 3, -5}},
                  {{{0, 1, 2, 3}, {-5, -5, -5}}, {{3 | R, 2 | R, 1 | R, 0 | R}, {-5, -5, -5}}});
  f.set({1, 2});
  const component_list_t *list = component_get_components(f.context, 0);
  EXPECT_EQ(f.context->read_path_count, 4);
  ASSERT_EQ(list->component_count, 1);
  const component_path_group_t *g = list->first_groups[0];
  EXPECT_EQ(g->prev_node, 3u);
  EXPECT_EQ(g->next_node, 0u | R);
  EXPECT_EQ(g->count, 2);
  ASSERT_EQ(g->list_length, 2);
  // Path 0 (elements 0-3) and path 1 (elements 4-7, read backwards to reach 0').
  const std::vector<read_ptr_t> prev(g->prev_read_list, g->prev_read_list + 2);
  const std::vector<read_ptr_t> next(g->next_read_list, g->next_read_list + 2);
  EXPECT_EQ(std::multiset<read_ptr_t>(prev.begin(), prev.end()), (std::multiset<read_ptr_t>{3, 4 | kReadPtrReverse}));
  EXPECT_EQ(std::multiset<read_ptr_t>(next.begin(), next.end()), (std::multiset<read_ptr_t>{0 | kReadPtrReverse, 7}));
  for (const read_ptr_t p : prev) EXPECT_EQ(read_info_get_fragment(f.info, p), 3u);
  for (const read_ptr_t p : next) EXPECT_EQ(read_info_get_fragment(f.info, p), 0u | R);
  uint64_t a = prev[0], b = prev[1];
  EXPECT_LE(read_info_compare_read_ptrs(&a, &b, f.info), 0);
  EXPECT_TRUE(f.marks_clear());
}

// A read that crosses the window twice at separate places counts twice; a
// second crossing inside a counted one does not.
TEST(Components, RepeatedPassagesOfOneRead) {
  WindowFixture f(kLengths, kCross, {{{0, 4, 2, 0, 4, 2}, {-5, -5, -5, -5, -5}}});
  f.set({4});
  const component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 1);
  EXPECT_EQ(list->first_groups[0]->count, 2);

  // Grouping directly: the same read, passages [0, 5] and [2, 3] (inside the
  // first: skipped) and [5, 7] (starts at the end: counted).
  component_window_t *c = f.context;
  component_window_clear_read_paths(c);
  component_window_add_read_path(c, 0, 0, 5, 1, 2, 7, 8);
  component_window_add_read_path(c, 0, 3, 2, kReadPtrNone, kReadPtrNone, 8, 7);
  component_window_add_read_path(c, 0, 5, 7, kReadPtrNone, kReadPtrNone, 7, 8);
  component_window_add_read_path(c, 0, 1, 2, 5, 6, 7, 9);
  component_window_sort_read_paths(c);
  component_window_group_read_paths(c, f.info);
  ASSERT_EQ(c->path_group_count, 2);
  EXPECT_EQ(c->path_groups[0].count, 2);
  EXPECT_EQ(c->path_groups[0].list_length, 1);
  EXPECT_EQ(c->path_groups[0].prev_read_list[0], 1u);
  EXPECT_EQ(c->path_groups[0].next_read_list[0], 2u);
  EXPECT_EQ(c->path_groups[1].count, 1);
  EXPECT_EQ(c->path_groups[1].prev_node, 7u);
  EXPECT_EQ(c->path_groups[1].next_node, 9u);
  testing::internal::CaptureStdout();
  component_window_print_path_groups(c);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "prev_node 7, next_node 8, count 2\nprev_node 7, next_node 9, count 1\n");
}

TEST(Components, GroupIndexOrder) {
  WindowFixture f(kLengths, {});
  component_window_t *c = f.context;
  const uint32_t pairs[][2] = {{5, 1}, {0x80000000u, 0}, {2, 9}, {5, 0}, {2, 0x80000001u}, {0, 7}};
  for (const auto &p : pairs) component_window_add_path_group(c, p[0], p[1], 1, nullptr, nullptr, 0);
  int32_t idx[] = {0, 1, 2, 3, 4, 5};
  component_sort_group_indices(c, idx, 6);
  EXPECT_EQ(std::vector<int32_t>(idx, idx + 6), (std::vector<int32_t>{5, 2, 4, 3, 0, 1}));
  component_window_clear_path_groups(c);
  EXPECT_EQ(c->path_group_count, 0);
}

TEST(Components, EdgeCounts) {
  struct Case {
    std::vector<Edge> edges;
    component_edge_counts_t expect;
  } cases[] = {
      {{{0, 1, -5}, {1, 2, -5}}, {1, 1, 0, 0, 0}},
      {{{1, 1 | R, -5}, {0, 1, -5}}, {1, 0, 0, 1, 0}},
      {{{1 | R, 1, -5}, {1, 2, -5}}, {0, 1, 1, 0, 0}},
      {{{1, 1, -5}, {1, 2, -5}, {1, 3, -5}}, {0, 2, 0, 0, 1}},
      {{}, {0, 0, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    WindowFixture f({30, 30, 30, 30}, c.edges);
    const component_edge_counts_t k = component_node_edge_counts(f.graph, 1);
    EXPECT_EQ(std::vector<int32_t>({k.real_prev, k.real_next, k.prev_u_turns, k.next_u_turns, k.loops}),
              std::vector<int32_t>({c.expect.real_prev, c.expect.real_next, c.expect.prev_u_turns,
                                    c.expect.next_u_turns, c.expect.loops}));
  }
}

// The window test: windows that are not worth resolving give no components
// even though reads cross them.
TEST(Components, WindowTest) {
  const std::vector<PathReads> through = {{{0, 1, 2}, {-5, -5}}, {{0, 1, 3}, {-5, -5}}};
  struct Case {
    const char *what;
    std::vector<Edge> edges;
    std::vector<oriented_id_t> window;
    uint16_t flags;  // on slot 1
    bool resolved;
  } cases[] = {
      {"one real edge each side", {{0, 1, -5}, {1, 2, -5}}, {1}, 0, false},
      {"the same with a next u-turn", {{0, 1, -5}, {1, 2, -5}, {1, 1 | R, -5}}, {1}, 0, true},
      {"a fork", {{0, 1, -5}, {1, 2, -5}, {1, 3, -5}}, {1}, 0, true},
      {"a tip", {{0, 1, -5}}, {1}, 0, false},
      {"a reversed tip", {{1, 2, -5}}, {1}, 0, false},
      {"no edges", {}, {1}, 0, false},
      {"first node a bubble node", {{0, 1, -5}, {1, 2, -5}, {1, 3, -5}}, {1}, kGraphBubbleNodeBit, false},
      {"bubble node first in a larger window",
       {{0, 1, -5}, {1, 2, -5}, {1, 3, -5}},
       {1, 2},
       kGraphBubbleNodeBit,
       false},
      {"bubble node later in the window", {{0, 1, -5}, {1, 2, -5}, {1, 3, -5}}, {2, 1}, kGraphBubbleNodeBit, true},
      {"bubble start and end",
       {{0, 1, -5}, {1, 2, -5}, {1, 3, -5}},
       {1},
       kGraphBubbleStartBit | kGraphBubbleEndBit,
       false},
      {"a loop with one real edge each side", {{0, 1, -5}, {1, 2, -5}, {1, 1, -5}}, {1}, 0, true},
  };
  for (const Case &c : cases) {
    WindowFixture f({30, 30, 30, 30}, c.edges, through);
    f.graph->nodes[1].flags |= c.flags;
    f.set(c.window);
    const component_list_t *list = component_get_components(f.context, 0);
    EXPECT_EQ(list->component_count > 0, c.resolved) << c.what;
    EXPECT_TRUE(f.marks_clear()) << c.what;
  }
}

// Node 0 starts a bubble over 1 and 2 that ends at its own reverse (slot 0
// read backwards is the bubble end); node 5 leads into 0.
TEST(Components, WindowTestBubbleWalks) {
  const std::vector<Edge> hairpin = {{5, 0, -5}, {0, 1, -5}, {0, 2, -5}, {1, 0 | R, -5}, {2, 0 | R, -5}};
  const std::vector<PathReads> reads = {{{5, 0, 1}, {-5, -5}}, {{5, 0, 2}, {-5, -5}}};
  auto setup = [&](WindowFixture &f) {
    f.graph->nodes[0].flags |= kGraphBubbleStartBit;
    f.graph->nodes[1].flags |= kGraphBubbleNodeBit;
    f.graph->nodes[2].flags |= kGraphBubbleNodeBit;
  };
  {
    WindowFixture f({30, 30, 30, 30, 30, 30}, hairpin, reads);
    setup(f);
    f.set({0});
    EXPECT_EQ(component_get_components(f.context, 0)->component_count, 0);
    f.set({0 | R});  // a bubble end whose walk from its reverse comes back
    EXPECT_EQ(component_get_components(f.context, 0)->component_count, 0);
  }
  {
    // The same bubble ending at node 3: the window passes.
    WindowFixture f({30, 30, 30, 30, 30, 30}, {{5, 0, -5}, {0, 1, -5}, {0, 2, -5}, {1, 3, -5}, {2, 3, -5}}, reads);
    setup(f);
    f.graph->nodes[3].flags |= kGraphBubbleEndBit;
    f.set({0});
    EXPECT_EQ(component_get_components(f.context, 0)->component_count, 1);
    EXPECT_TRUE(f.marks_clear());
  }
}

TEST(ComponentsDeathTest, FatalPaths) {
  {
    WindowFixture f(kLengths, kCross);
    EXPECT_EXIT(ON_STDOUT(component_get_components(f.context, 0)), testing::ExitedWithCode(1),
                "component sanity check, component_node_count is 0");
    f.context->component_nodes[0] = kOrientedIdNone;
    f.context->component_node_count = 1;
    EXPECT_EXIT(ON_STDOUT(component_get_components(f.context, 0)), testing::ExitedWithCode(1),
                "error, component_get_components node is -1");
  }
  {
    // A bubble walk that runs off the bubble, and one that stops.
    WindowFixture f(kLengths, {{0, 1, -5}, {1, 2, -5}});
    f.graph->nodes[0].flags |= kGraphBubbleStartBit;
    f.set({0});
    EXPECT_EXIT(ON_STDOUT(component_get_components(f.context, 0)), testing::ExitedWithCode(1),
                "error, search_for_bubble_end 1");
    f.graph->nodes[1].flags |= kGraphBubbleNodeBit;
    f.graph->nodes[2].flags |= kGraphBubbleNodeBit;
    EXPECT_EXIT(ON_STDOUT(component_get_components(f.context, 0)), testing::ExitedWithCode(1),
                "error, component_get_components node is -1");
  }
}

TEST(Components, ComponentIndexSizesAndPrint) {
  std::vector<PathReads> p;
  // Continuations differ beyond the border nodes, so each sorted list has
  // one order: a read that stops sooner first.
  p.push_back({{0, 4, 2, 3}, {-5, -5, -5}});
  p.push_back({{1, 0, 4, 2}, {-5, -5, -5}});
  p.push_back({{0, 4, 3}, {-5, -5}});
  p.push_back({{1, 4, 3}, {-5, -5}});
  WindowFixture f({30, 30, 30, 30, 30, 30}, {{0, 4, -5}, {1, 4, -5}, {4, 2, -5}, {4, 3, -5}, {5, 4, -5}}, p);
  f.set({4});
  component_list_t *list = component_get_components(f.context, 1);
  ASSERT_EQ(list->component_count, 1);
  component_window_reset_component_index(f.context);
  component_set_component_index_sizes(f.context, list);
  int32_t e[2];
  get_component_index_size(f.context, 2, e);
  EXPECT_EQ(e[0], 0);
  EXPECT_EQ(e[1], 1);
  get_component_index_size(f.context, 0 | R, e);
  EXPECT_EQ(e[0], 0);
  EXPECT_EQ(e[1], 1);
  EXPECT_EQ(get_component_index(f.context, 3), -1);
  EXPECT_EQ(get_component_index(f.context, 5 | R), -1);

  testing::internal::CaptureStdout();
  component_list_print(list);
  const component_path_group_t *g = list->first_groups[0];
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "components\n"
            "  component 0, size 1:\n"
            "    00000002 <-> 80000000, count 2, 0 <-> 0 (7, 2) <=> (0, 5)\n\n");
  ASSERT_EQ(g->list_length, 2);

  // A node already claimed by another component.
  component_window_reset_component_index(f.context);
  set_component_index(f.context, 2, 4);
  EXPECT_EXIT(ON_STDOUT(component_set_component_index_sizes(f.context, list)), testing::ExitedWithCode(1),
              "error in component_set_component_index_sizes 1, node 2 belongs to two components");
  component_window_reset_component_index(f.context);
  set_component_index(f.context, 0 | R, 4);
  EXPECT_EXIT(ON_STDOUT(component_set_component_index_sizes(f.context, list)), testing::ExitedWithCode(1),
              "error in component_set_component_index_sizes 2, node 80000000 belongs to two components");

  list = component_get_components_above_count(f.context, list, 5);
  testing::internal::CaptureStdout();
  component_list_print(list);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "no components found\n");
}

}  // namespace

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr int kRounds = 40;
#else
constexpr int kRounds = 300;
#endif

// Random windows on random graphs: whatever the reads, the components
// partition the groups above the threshold by shared border nodes, come in
// the order of their smallest border node, and leave no marks or scratch.
TEST(Components, RandomComponentProperties) {
  std::mt19937 rng(21);
  int with_components = 0;
  for (int round = 0; round < kRounds; round++) {
    const int32_t nodes = 7;
    std::vector<Edge> edges;
    const int edge_count = 6 + static_cast<int>(rng() % 12);
    auto any = [&]() { return static_cast<oriented_id_t>(rng() % nodes) | (rng() % 2 ? R : 0); };
    for (int i = 0; i < edge_count; i++) edges.push_back({any(), any(), -5});
    std::vector<PathReads> paths;
    for (int i = 0; i < 30; i++) {
      PathReads p;
      oriented_id_t at = any();
      p.fragments.push_back(at);
      for (int s = 0, len = 1 + static_cast<int>(rng() % 5); s < len; s++) {
        std::vector<oriented_id_t> out;
        for (const Edge &e : edges) {
          if (std::get<0>(e) == at) out.push_back(std::get<1>(e));
          if (std::get<1>(e) == (at ^ R)) out.push_back(std::get<0>(e) ^ R);
        }
        if (out.empty()) break;
        at = out[rng() % out.size()];
        p.fragments.push_back(at);
        p.distances.push_back(-5);
      }
      paths.push_back(p);
    }
    WindowFixture f(std::vector<uint32_t>(nodes, 30), edges, paths);
    std::vector<oriented_id_t> window;
    for (int32_t i = 0; i < nodes; i++)
      if (rng() % 3 == 0) window.push_back(static_cast<oriented_id_t>(i) | (rng() % 2 ? R : 0));
    if (window.empty()) window.push_back(0);
    f.set(window);
    const int32_t threshold = static_cast<int32_t>(rng() % 3);
    const component_list_t *list = component_get_components(f.context, threshold);
    EXPECT_TRUE(f.marks_clear());
    EXPECT_EQ(f.context->int_scratch.used + f.context->u64_scratch.used, 0);
    if (list->component_count > 0) with_components++;
    // Every group above the threshold lies in exactly one component.
    std::map<const component_path_group_t *, int32_t> owner;
    std::map<uint32_t, int32_t> node_owner;
    uint32_t last_smallest = 0;
    for (int32_t i = 0; i < list->component_count; i++) {
      uint32_t smallest = UINT32_MAX;
      int32_t n = 0;
      for (const component_path_group_t *g = list->first_groups[i]; g != nullptr; g = g->link, n++) {
        EXPECT_TRUE(owner.emplace(g, i).second);
        EXPECT_GT(g->count, threshold);
        EXPECT_LE(g->prev_node, g->next_node);
        for (uint32_t node : {g->prev_node, g->next_node}) {
          smallest = std::min(smallest, node);
          const auto it = node_owner.emplace(node, i).first;
          EXPECT_EQ(it->second, i) << "node " << node << " in two components";
        }
      }
      EXPECT_EQ(n, list->sizes[i]);
      if (i > 0) {
        EXPECT_LT(last_smallest, smallest);
      }
      last_smallest = smallest;
    }
    for (int32_t j = 0; j < f.context->path_group_count; j++) {
      const component_path_group_t *g = &f.context->path_groups[j];
      EXPECT_EQ(owner.count(g) == 1, g->count > threshold);
      if (j > 0) {
        const component_path_group_t *p = &f.context->path_groups[j - 1];
        EXPECT_TRUE(p->prev_node < g->prev_node || (p->prev_node == g->prev_node && p->next_node < g->next_node));
      }
    }
    // Every group's border nodes are exterior border nodes of the window.
    component_window_reset_component_index(f.context);
    component_set_component_index_sizes(f.context, list);
    for (const auto &[node, i] : node_owner) EXPECT_EQ(get_component_index(f.context, node), i);
    if (HasFailure()) break;
  }
  EXPECT_GT(with_components, kRounds / 10);
}

}  // namespace
