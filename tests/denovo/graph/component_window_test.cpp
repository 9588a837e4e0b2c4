// Component windows: window info (interior and border counts, border node
// lists and their order), node list changes, the scratch stacks, the read
// list reversal, crossings, read path order and the component index.
#include "denovo/graph/component_window.h"
#include "denovo/graph/component_paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "component_test_util.h"

namespace {

using namespace graph_test;

TEST(ComponentWindow, WindowInfoCases) {
  struct Case {
    const char *what;
    std::vector<Edge> edges;
    std::vector<oriented_id_t> window;
    int32_t interior_edges, border_edges;
    std::vector<oriented_id_t> exterior, interior;
  } cases[] = {
      {"chain 0-1-2-3, window 1 2", {{0, 1, -5}, {1, 2, -5}, {2, 3, -5}}, {1, 2}, 1, 2, {3, 0 | R}, {1, 2}},
      {"hairpin of one node", {{0, 0 | R, -5}}, {0}, 1, 0, {}, {}},
      {"hairpin on the prev side", {{0 | R, 0, -5}}, {0}, 1, 0, {}, {}},
      {"three edges to one outside node", {{0, 1, -10}, {0, 1, -5}, {0, 1, 0}}, {0}, 0, 3, {1}, {0}},
      {"outside node forward and reverse", {{0, 3, -5}, {1, 3 | R, -5}, {0, 1, -5}}, {0, 1}, 1, 2, {3, 3 | R}, {0, 1}},
      {"empty window", {{0, 1, -5}}, {}, 0, 0, {}, {}},
      {"reverse window node", {{0, 1, -5}, {1, 2, -5}}, {1 | R}, 0, 2, {2, 0 | R}, {1 | R}},
      {"loop on a node", {{0, 0, -5}, {0, 1, -5}}, {0}, 1, 1, {1}, {0}},
  };
  for (const Case &c : cases) {
    WindowFixture f({30, 30, 30, 30}, c.edges);
    f.set(c.window);
    const window_info_t *w = f.context->window_info;
    EXPECT_EQ(w->interior_node_count, static_cast<int32_t>(c.window.size())) << c.what;
    EXPECT_EQ(w->interior_edge_count, c.interior_edges) << c.what;
    EXPECT_EQ(w->border_edge_count, c.border_edges) << c.what;
    EXPECT_EQ(f.exterior(), c.exterior) << c.what;
    EXPECT_EQ(w->interior_border_node_count, static_cast<int32_t>(c.interior.size())) << c.what;
    EXPECT_EQ(f.interior(), c.interior) << c.what;
    EXPECT_TRUE(f.marks_clear()) << c.what;
  }
}

// A star: window node 0 with edges to many outside nodes, both strands, so
// the border lists grow past their first room and come out sorted.
TEST(ComponentWindow, ManyBorderNodesSortedUnsigned) {
  std::vector<Edge> edges;
  std::vector<uint32_t> lengths(40, 30);
  std::vector<oriented_id_t> expect;
  for (oriented_id_t i = 1; i < 40; i++) {
    const oriented_id_t t = (i % 3 == 0) ? (i | R) : i;
    if (i % 2 == 0) {
      edges.push_back({0, t, -5});
      expect.push_back(t);
    } else {
      edges.push_back({0 | R, t, -5});
      expect.push_back(t);
    }
  }
  WindowFixture f(lengths, edges);
  f.set({0});
  std::sort(expect.begin(), expect.end());
  EXPECT_EQ(f.exterior(), expect);
  EXPECT_EQ(f.context->window_info->border_edge_count, 39);
  EXPECT_EQ(f.interior(), std::vector<oriented_id_t>{0});
  // Every exterior node is found by the component index lookups.
  component_window_reset_component_index(f.context);
  for (size_t i = 0; i < expect.size(); i++) set_component_index_and_size(f.context, expect[i], (int32_t)i, 7);
  for (size_t i = 0; i < expect.size(); i++) {
    int32_t e[2];
    get_component_index_size(f.context, expect[i], e);
    EXPECT_EQ(e[0], (int32_t)i);
    EXPECT_EQ(e[1], 7);
    EXPECT_EQ(get_component_index(f.context, expect[i]), (int32_t)i);
  }
  EXPECT_TRUE(f.marks_clear());
}

TEST(ComponentWindow, NodeListChanges) {
  // Chain 0 - 1 - 2 - 3 - 4 - 5 - 6.
  std::vector<Edge> edges;
  for (oriented_id_t i = 0; i < 6; i++) edges.push_back({i, i + 1, -5});
  WindowFixture f({30, 30, 30, 30, 30, 30, 30}, edges);
  f.set({1, 2, 3, 4, 5});
  ASSERT_EQ(f.context->component_node_count, 5);
  EXPECT_EQ(std::vector<oriented_id_t>(f.context->component_nodes, f.context->component_nodes + 5),
            (std::vector<oriented_id_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(f.context->window_info->interior_edge_count, 4);
  EXPECT_EQ(f.exterior(), (std::vector<oriented_id_t>{6, 0 | R}));

  component_window_remove_last_nodes(f.context, 3);
  EXPECT_EQ(f.context->component_node_count, 2);
  EXPECT_EQ(f.exterior(), (std::vector<oriented_id_t>{3, 0 | R}));
  EXPECT_EQ(f.context->window_info->interior_edge_count, 1);
  EXPECT_TRUE(f.marks_clear());

  const oriented_id_t more[] = {3 | R, 0};
  component_window_add_nodes(f.context, more, 2);
  EXPECT_EQ(f.context->component_node_count, 4);
  EXPECT_EQ(f.context->window_info->interior_edge_count, 3);
  EXPECT_EQ(f.exterior(), (std::vector<oriented_id_t>{4}));
  EXPECT_EQ(f.interior(), (std::vector<oriented_id_t>{3 | R}));
  EXPECT_TRUE(f.marks_clear());

  f.set({});
  EXPECT_EQ(f.context->window_info->interior_node_count, 0);
  EXPECT_EQ(f.context->window_info->exterior_border_node_count, 0);

  // Only the exterior list is recomputed, with the window marked by the caller.
  f.set({2});
  fragment_graph_set_mark1(f.graph, 2);
  f.context->component_nodes[0] = 5;
  fragment_graph_clear_mark1(f.graph, 2);
  fragment_graph_set_mark1(f.graph, 5);
  component_window_update_exterior_border_nodes(f.context);
  fragment_graph_clear_mark1(f.graph, 5);
  EXPECT_EQ(f.exterior(), (std::vector<oriented_id_t>{6, 4 | R}));
  EXPECT_EQ(f.interior(), std::vector<oriented_id_t>{2});
  EXPECT_TRUE(f.marks_clear());
}

TEST(ComponentWindowDeathTest, DuplicateAndMissingNodes) {
  WindowFixture f({30, 30, 30}, {{0, 1, -5}, {1, 2, -5}});
  EXPECT_EXIT(ON_STDOUT(f.set({1, 1 | R})), testing::ExitedWithCode(1),
              "component sanity check, node 80000001 defined multiple time");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        fragment_graph_set_mark1(f.graph, 2);
        f.set({2});
      },
      testing::ExitedWithCode(1), "component sanity check, node 2 defined multiple time");
  f.set({0});
  const oriented_id_t again[] = {0 | R};
  EXPECT_EXIT(ON_STDOUT(component_window_add_nodes(f.context, again, 1)), testing::ExitedWithCode(1),
              "node 80000000 defined multiple time");
  EXPECT_EXIT(ON_STDOUT(get_component_index(f.context, 2)), testing::ExitedWithCode(1),
              "error in get_component_index, node 2 not found");
  int32_t e[2];
  EXPECT_EXIT(ON_STDOUT(get_component_index_size(f.context, 1 | R, e)), testing::ExitedWithCode(1),
              "error in get_component_index_size, node 80000001 not found");
  EXPECT_EXIT(ON_STDOUT(set_component_index(f.context, 0, 1)), testing::ExitedWithCode(1),
              "error in set_component_index, node 0 not found");
  EXPECT_EXIT(ON_STDOUT(set_component_index_and_size(f.context, 2, 1, 1)), testing::ExitedWithCode(1),
              "error in set_component_index, node 2 not found");
}

TEST(ComponentWindowDeathTest, UnevenInteriorEdges) {
  // A next edge whose reverse is missing from the prev lists cannot arise
  // from the graph operations; an edge stored only one way shows the check.
  WindowFixture f({30, 30}, {});
  fragment_graph_add_edge_unsorted(f.graph, 0, 1, -5);
  fragment_graph_set_first_prev_edge(f.graph, 1, kOrientedIdNone);
  fragment_graph_set_first_next_edge(f.graph, 1 | R, kOrientedIdNone);
  EXPECT_EXIT(f.set({0, 1}), testing::ExitedWithCode(1), "get_window_info: error, uneven number of interior edges");
}

TEST(ComponentWindow, ScratchStacks) {
  WindowFixture f({30}, {});
  component_window_t *c = f.context;
  // Fits the initial room of 2: from the buffer, cleared.
  int32_t *a = component_window_alloc_ints(c, 2);
  EXPECT_EQ(a, static_cast<int32_t *>(c->int_scratch.buffer));
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[1], 0);
  a[0] = 5;
  // Overflow: heap blocks, and later requests go to the heap as well.
  int32_t *b = component_window_alloc_ints(c, 6);
  EXPECT_EQ(c->int_scratch.heap_block_count, 1);
  int32_t *d = component_window_alloc_ints(c, 1);
  EXPECT_EQ(c->int_scratch.heap_block_count, 2);
  EXPECT_EQ(c->int_scratch.high_water_mark, 9);
  for (int i = 0; i < 6; i++) b[i] = i;
  component_window_release_ints(c, d, 1);
  component_window_release_ints(c, b, 6);
  EXPECT_EQ(c->int_scratch.heap_block_count, 0);
  EXPECT_EQ(c->int_scratch.capacity, 2);
  component_window_release_ints(c, a, 2);
  // Empty again: the buffer has grown to the high-water mark.
  EXPECT_EQ(c->int_scratch.used, 0);
  EXPECT_EQ(c->int_scratch.capacity, 9);
  EXPECT_EQ(c->int_scratch.reserved_total, 9);
  int32_t *e = component_window_alloc_ints(c, 9);
  EXPECT_EQ(e, static_cast<int32_t *>(c->int_scratch.buffer));
  EXPECT_EQ(c->int_scratch.heap_block_count, 0);
  for (int i = 0; i < 9; i++) EXPECT_EQ(e[i], 0);
  component_window_release_ints(c, e, 9);

  uint64_t *u = component_window_alloc_u64s(c, 1);
  uint64_t *v = component_window_alloc_u64s(c, 1);
  uint64_t *w = component_window_alloc_u64s(c, 3);
  EXPECT_EQ(v, u + 1);
  EXPECT_EQ(c->u64_scratch.heap_block_count, 1);
  w[2] = 7;
  component_window_release_u64s(c, w, 3);
  component_window_release_u64s(c, v, 1);
  component_window_release_u64s(c, u, 1);
  EXPECT_EQ(c->u64_scratch.capacity, 5);
}

TEST(ComponentWindow, ReadListFillAndReverse) {
  // Reads over fragment 1 with various continuations both ways.
  const std::vector<PathReads> paths = {
      {{0, 1, 2}, {-5, -5}},
      {{0, 1, 3}, {-5, -6}},
      {{1 | R, 0 | R}, {-5}},
      {{4, 1}, {-3}},
      {{2 | R, 1 | R, 4 | R}, {-5, -3}},
      {{1, 2}, {-5}},
      {{3, 1 | R, 0 | R}, {-4, -5}},
  };
  for (const oriented_id_t f : {oriented_id_t{1}, oriented_id_t{1 | R}}) {
    for (uint32_t pattern = 0; pattern < 128; pattern += 13) {
      WindowFixture fx({30, 30, 30, 30, 30}, {}, paths);
      component_read_list_t *list = fx.context->read_list;
      component_read_list_set_fragment(list, f);
      component_read_list_fill(list, fx.info);
      const uint64_t n = read_info_get_occurrence_count(fx.info, f);
      ASSERT_EQ(list->count, (int32_t)n);
      ASSERT_EQ(n, 7u);
      // Filled in continuation order: every pointer shows f.
      for (int32_t i = 0; i < list->count; i++) {
        EXPECT_EQ(read_info_get_fragment(fx.info, list->entries[i].read_ptr), f);
        EXPECT_EQ(list->entries[i].link, -1);
        EXPECT_EQ(list->flags[i], 0);
        if (i > 0) {
          uint64_t x = list->entries[i - 1].read_ptr, y = list->entries[i].read_ptr;
          EXPECT_LE(read_info_compare_read_ptrs(&x, &y, fx.info), 0);
          // The order the merge walk needs: reads that stop first, then
          // (next fragment unsigned, next distance signed).
          const bool xn = read_info_has_next(fx.info, x), yn = read_info_has_next(fx.info, y);
          EXPECT_TRUE(!xn || yn);
          if (xn && yn) {
            const auto kx = std::make_pair(read_info_get_fragment(fx.info, read_info_get_next(fx.info, x)),
                                           read_info_get_next_distance(fx.info, x));
            const auto ky = std::make_pair(read_info_get_fragment(fx.info, read_info_get_next(fx.info, y)),
                                           read_info_get_next_distance(fx.info, y));
            EXPECT_LE(kx, ky);
          }
        }
      }
      // Flag a pattern of entries; give each a distinct link.
      std::vector<read_ptr_t> kept;
      for (int32_t i = 0; i < list->count; i++) {
        list->flags[i] = (pattern >> i) & 1;
        list->entries[i].link = 100 + i;
        if (list->flags[i]) kept.push_back(read_ptr_flip(list->entries[i].read_ptr));
      }
      std::vector<std::pair<read_ptr_t, int32_t>> before;
      for (int32_t i = 0; i < list->count; i++) before.push_back({list->entries[i].read_ptr, list->entries[i].link});
      component_read_list_reverse(fx.context, list, fx.info);
      EXPECT_EQ(list->fragment, f ^ R);
      ASSERT_EQ(list->count, (int32_t)kept.size()) << pattern;
      // Kept entries are the flipped pointers of the flagged ones, in the
      // sorted order of the reverse fragment, each with its own link.
      std::vector<read_ptr_t> order;
      for (uint64_t i = 0; i < n; i++) order.push_back(read_info_get_sorted_occurrence(fx.info, f ^ R, i));
      std::vector<read_ptr_t> expect;
      for (read_ptr_t p : order)
        if (std::find(kept.begin(), kept.end(), p) != kept.end()) expect.push_back(p);
      for (int32_t i = 0; i < list->count; i++) {
        EXPECT_EQ(list->entries[i].read_ptr, expect[i]) << pattern;
        EXPECT_EQ(list->flags[i], 0);
        const auto it =
            std::find_if(before.begin(), before.end(), [&](auto &b) { return b.first == read_ptr_flip(expect[i]); });
        ASSERT_NE(it, before.end());
        EXPECT_EQ(list->entries[i].link, it->second);
      }
      EXPECT_EQ(fx.context->int_scratch.used, 0);
    }
  }
}

TEST(ComponentWindow, ReadListLoadAddGrowAndEmptyReverse) {
  WindowFixture fx({30, 30}, {}, {{{0, 1}, {-5}}});
  component_read_list_t *list = component_read_list_new();
  EXPECT_EQ(list->fragment, kOrientedIdNone);
  EXPECT_EQ(list->capacity, 10);
  std::vector<read_ptr_t> ptrs;
  for (int i = 0; i < 25; i++) ptrs.push_back(static_cast<read_ptr_t>(i * 3));
  component_read_list_load(list, ptrs.data(), 25);
  ASSERT_EQ(list->count, 25);
  for (int i = 0; i < 25; i++) {
    EXPECT_EQ(list->entries[i].read_ptr, ptrs[i]);
    EXPECT_EQ(list->entries[i].link, 0);
    EXPECT_EQ(list->flags[i], 0);
  }
  component_read_list_add(list, 99, 4, 1);
  EXPECT_EQ(list->count, 26);
  EXPECT_EQ(list->entries[25].link, 4);
  EXPECT_EQ(list->flags[25], 1);
  component_read_list_free(list);

  // No entry flagged: the reverse list is empty and names the reverse fragment.
  component_read_list_t *rl = fx.context->read_list;
  component_read_list_set_fragment(rl, 1);
  component_read_list_fill(rl, fx.info);
  ASSERT_EQ(rl->count, 1);
  component_read_list_reverse(fx.context, rl, fx.info);
  EXPECT_EQ(rl->count, 0);
  EXPECT_EQ(rl->fragment, 1 | R);
  component_read_list_reverse(fx.context, rl, fx.info);
  EXPECT_EQ(rl->count, 0);
  EXPECT_EQ(rl->fragment, 1u);
}

TEST(ComponentWindow, Crossings) {
  WindowFixture fx({30}, {});
  component_read_entry_t a{0, -1}, b{0, -1};
  component_window_add_crossing(fx.context, &a, 5, 1, 10);
  component_window_add_crossing(fx.context, &b, 6, 2, 20);
  component_window_add_crossing(fx.context, &a, 7, 3, 30);
  component_window_add_crossing(fx.context, &a, 8, 4, 40);  // grows past the room of 2
  std::vector<oriented_id_t> seen;
  for (auto *c = component_window_first_crossing(fx.context, &a); c; c = component_window_next_crossing(fx.context, c))
    seen.push_back(c->exit_node);
  EXPECT_EQ(seen, (std::vector<oriented_id_t>{8, 7, 5}));
  ASSERT_NE(component_window_first_crossing(fx.context, &b), nullptr);
  EXPECT_EQ(component_window_first_crossing(fx.context, &b)->read_ptr, 20u);
  EXPECT_EQ(component_window_next_crossing(fx.context, component_window_first_crossing(fx.context, &b)), nullptr);
  component_window_clear_crossings(fx.context);
  EXPECT_EQ(fx.context->crossing_count, 0);
  component_read_entry_t none{0, -1};
  EXPECT_EQ(component_window_first_crossing(fx.context, &none), nullptr);
}

TEST(ComponentWindow, ReadPathNormalisingAndOrder) {
  WindowFixture fx({30}, {});
  component_window_t *c = fx.context;
  // Node pair and index pair given either way round end up normalised,
  // each read pointer staying with its node.
  component_window_add_read_path(c, 4, 9, 2, 111, 222, 0x80000001u, 5);
  const component_read_path &r = c->read_paths[0];
  EXPECT_EQ(r.read_start_index, 2u);
  EXPECT_EQ(r.read_end_index, 9u);
  EXPECT_EQ(r.prev_node, 5u);
  EXPECT_EQ(r.next_node, 0x80000001u);
  EXPECT_EQ(r.prev_read_ptr, 222u);
  EXPECT_EQ(r.next_read_ptr, 111u);

  // Records in their expected order; added shuffled; the sort restores it.
  struct Rec {
    uint64_t start, a, b;
    uint32_t n1, n2;
  };
  const std::vector<Rec> ordered = {
      {9, 0, 1, 1, 2},           {3, 0, 5, 1, 0x80000000u},           {3, 1, 5, 1, 0x80000000u},
      {3, 1, 4, 1, 0x80000000u}, {3, 1, 2, 1, 0x80000000u},           {7, 0, 1, 1, 0x80000000u},
      {1, 0, 1, 2, 3},           {0, 0, 1, 0x80000000u, 0x80000002u},
  };
  component_window_clear_read_paths(c);
  EXPECT_EQ(c->read_path_count, 0);
  std::vector<size_t> perm(ordered.size());
  for (size_t i = 0; i < perm.size(); i++) perm[i] = i;
  std::mt19937 rng(3);
  for (int round = 0; round < 5; round++) {
    std::shuffle(perm.begin(), perm.end(), rng);
    component_window_clear_read_paths(c);
    for (size_t k : perm) {
      const Rec &x = ordered[k];
      // Alternate the argument order; normalising makes it irrelevant.
      if (k % 2) {
        component_window_add_read_path(c, x.start, x.b, x.a, k, k, x.n2, x.n1);
      } else {
        component_window_add_read_path(c, x.start, x.a, x.b, k, k, x.n1, x.n2);
      }
    }
    component_window_sort_read_paths(c);
    for (size_t i = 0; i < ordered.size(); i++) {
      EXPECT_EQ(c->read_path_ptrs[i]->prev_read_ptr, i) << round;
    }
  }
  // The comparator itself on single fields.
  component_read_path x{1, 2, 9, 0, 0, 1, 2}, y = x;
  const component_read_path *px = &x, *py = &y;
  EXPECT_EQ(component_read_path_compare(&px, &py, nullptr), 0);
  y.read_end_index = 10;  // larger end index first
  EXPECT_GT(component_read_path_compare(&px, &py, nullptr), 0);
  y = x;
  y.prev_node = 0x80000000u;  // unsigned node order
  EXPECT_LT(component_read_path_compare(&px, &py, nullptr), 0);
  y = x;
  y.prev_read_ptr = y.next_read_ptr = kReadPtrNone;  // the copy without read pointers goes last
  EXPECT_LT(component_read_path_compare(&px, &py, nullptr), 0);
  EXPECT_GT(component_read_path_compare(&py, &px, nullptr), 0);
}

TEST(ComponentWindow, PrintsAndOneSuccessor) {
  WindowFixture f({30, 30, 30, 30}, {{0, 1, -5}, {0, 1, -2}, {1, 2, -5}, {1, 3, -5}});
  EXPECT_EQ(component_node_has_one_successor(f.graph, 0), 1);
  EXPECT_EQ(component_node_has_one_successor(f.graph, 1), 0);
  EXPECT_EQ(component_node_has_one_successor(f.graph, 2), 0);
  f.set({1});
  testing::internal::CaptureStdout();
  component_window_print(f.context);
  component_window_reset_component_index(f.context);
  set_component_index(f.context, 3, 2);
  component_window_print_component_index(f.context);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "window information, nodes 1\n"
            "  interior node count        1\n"
            "  interior edge count        0\n"
            "  border edge count          4\n"
            "  exterior border node count 3\n"
            "  exterior border nodes      2 3 80000000\n"
            "  interior border node count 1\n"
            "  interior border nodes      1\n"
            "node 2, component index -1, component size 0\n"
            "node 3, component index 2, component size 0\n"
            "node 80000000, component index -1, component size 0\n");
}

}  // namespace

namespace {

TEST(ComponentWindow, ReadListPrint) {
  graph_test::WindowFixture fx({30, 30, 30}, {}, {{{0, 1, 2}, {-5, -5}}});
  component_read_list_t *list = fx.context->read_list;
  component_read_list_set_fragment(list, 1);
  component_read_list_fill(list, fx.info);
  ASSERT_EQ(list->count, 1);
  list->flags[0] = 1;
  component_window_add_crossing(fx.context, &list->entries[0], 2, 2, 2);
  component_window_add_crossing(fx.context, &list->entries[0], 0x80000000u, 0, 0);
  testing::internal::CaptureStdout();
  component_read_list_print(fx.context, list, fx.info, 0);
  // Group mode shows the entry's partial paths: component index, then
  // (distance) node per step.
  list->entries[0].link = -1;
  component_chain_link_t t1{nullptr, 2, -5};
  component_chain_link_t t2{&t1, 0x80000001u, 7};
  component_window_add_partial_path(fx.context, &list->entries[0], &t1, 3, 0);
  component_window_add_partial_path(fx.context, &list->entries[0], &t2, -2, 0);
  component_read_list_print(fx.context, list, fx.info, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "0: read_ptr (count 1, value 1), 0 1* 2 | 80000000,0 2,2\n"
            "0: read_ptr (count 1, value 1), 0 1* 2 | component_index -2 (-5) 2 (7) 80000001, component_index 3 (-5) 2,\n");
}

}  // namespace
