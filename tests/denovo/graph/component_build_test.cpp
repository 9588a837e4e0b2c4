// The window builder: component paths and their dominance rule, builder
// trees, the build walks' crossings, and component_build on small windows
// (separation of components, unchanged windows, bubbles around the window,
// the reachable build), always followed by the graph checks.
#include "denovo/graph/component_build.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "component_test_util.h"
#include "denovo/graph/component_builder_trees.h"
#include "denovo/graph/component_paths.h"
#include "denovo/graph/components.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_not_done.h"

namespace {

using namespace graph_test;

// Number of node paths of the live graph that spell the read: nodes
// carrying its fragments joined by edges at its distances.
int runs_from(const fragment_graph_t *g, oriented_id_t n, const std::vector<oriented_id_t> &frags,
              const std::vector<int32_t> &dists, size_t i) {
  if (i == frags.size()) return 1;
  int found = 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, n); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(g, e)) {
    const oriented_id_t t = fragment_graph_get_edge_to_node(g, e);
    if (fragment_graph_get_node_fragment(g, t) == frags[i] && fragment_graph_get_edge_distance(g, e) == dists[i - 1])
      found += runs_from(g, t, frags, dists, i + 1);
  }
  return found;
}

int runs(const fragment_graph_t *g, const std::vector<oriented_id_t> &frags, const std::vector<int32_t> &dists) {
  int found = 0;
  for (int32_t s = 0; s < g->node_count; s++) {
    if (fragment_graph_is_disabled(g, static_cast<oriented_id_t>(s))) continue;
    for (oriented_id_t n : {static_cast<oriented_id_t>(s), static_cast<oriented_id_t>(s) | R})
      if (fragment_graph_get_node_fragment(g, n) == frags[0]) found += runs_from(g, n, frags, dists, 1);
  }
  return found;
}

// Live nodes carrying the fragment on either strand.
int live_copies(const fragment_graph_t *g, oriented_id_t fragment) {
  int n = 0;
  for (int32_t s = 0; s < g->node_count; s++)
    if (!fragment_graph_is_disabled(g, static_cast<oriented_id_t>(s)) &&
        fragment_graph_node_index(g->nodes[s].fragment) == fragment_graph_node_index(fragment))
      n++;
  return n;
}

// Every node that is listed for the next pass: the current list is drained
// first, then the next one.
std::set<oriented_id_t> drain(fragment_graph_t *g) {
  std::set<oriented_id_t> out;
  for (oriented_id_t n; (n = fragment_graph_get_not_done_node(g)) != kOrientedIdNone;) out.insert(n);
  return out;
}

void expect_checks_pass(const WindowFixture &f, const char *what) {
  EXPECT_EQ(fragment_graph_check_links(f.graph, kOrientedIdNone), 1) << what;
  EXPECT_EQ(fragment_graph_check_bubbles(f.graph, kOrientedIdNone), 1) << what;
  EXPECT_EQ(fragment_graph_check_marks(f.graph, kOrientedIdNone), 1) << what;
  EXPECT_EQ(fragment_graph_check_sorted(f.graph), 0) << what;
  EXPECT_EQ(f.context->int_scratch.used, 0) << what;
  EXPECT_EQ(f.context->u64_scratch.used, 0) << what;
  const component_tree_set_t *t = f.context->builder_trees;
  EXPECT_EQ(t->node_count + t->edge_count + t->border_edge_count, 0) << what;
  EXPECT_EQ(f.context->component_path_count, 0) << what;
  EXPECT_EQ(f.context->bubble_check_count, 0) << what;
}

std::vector<PathReads> times(PathReads p, int n) {
  p.reads = n;
  return {p};
}

std::vector<PathReads> join(std::initializer_list<std::vector<PathReads>> parts) {
  std::vector<PathReads> out;
  for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// ---------------------------------------------------------------------------
// Component paths

component_path_one *path_of(component_window_t *c, const std::vector<Step> &steps, int32_t component, int32_t count,
                            uint64_t start = 0, uint64_t a = 0, uint64_t b = 0) {
  std::vector<component_chain_link_t> links(steps.size());
  for (size_t i = steps.size(); i-- > 0;)
    links[i] = {i + 1 < steps.size() ? &links[i + 1] : nullptr, steps[i].first, steps[i].second};
  // Read start 0 is the fixture's first read; the given start is set after
  // the count lookup so that made-up starts can be compared.
  component_path_one *p = component_path_one_new(c, &links[0], -1, component, 0, a, b);
  p->read_start_ptr = start;
  p->count = count;
  return p;
}

std::vector<Step> steps_of(const component_path_one *p) {
  std::vector<Step> out;
  for (int32_t i = 0; i < p->length; i++) out.emplace_back(p->steps[i].node, p->steps[i].distance);
  return out;
}

void push_path(component_window_t *c, component_path_one *p) {
  component_path_one **slot = &c->component_paths[0];
  if (c->component_path_count == c->component_path_capacity) {
    c->component_path_capacity *= 2;
    c->component_paths = static_cast<component_path_one **>(
        realloc(c->component_paths, static_cast<size_t>(c->component_path_capacity) * sizeof(*slot)));
  }
  c->component_paths[c->component_path_count++] = p;
}

TEST(ComponentPaths, NewReverseAndStoredOrientation) {
  WindowFixture f({30, 30, 30}, {}, {{{0, 1, 2}, {-5, -5}}});
  component_window_t *c = f.context;
  // The chain (head first) followed by the partial path's steps.
  component_chain_link_t s1{nullptr, 1, -4};
  component_chain_link_t x{&s1, 0, 0};
  component_chain_link_t y{nullptr, 2, -7};
  component_window_add_partial_path(c, &c->read_list->entries[0], &y, 0, 9);
  c->read_list->entries[0].link = -1;
  component_path_one *p = component_path_one_new(c, &x, c->partial_paths[0].first_step, 3, 0, 8, 2);
  EXPECT_EQ(steps_of(p), (std::vector<Step>{{0, 0}, {1, -4}, {2, -7}}));
  EXPECT_EQ(p->read_start_index, 2u);
  EXPECT_EQ(p->read_end_index, 8u);
  EXPECT_EQ(p->count, 1);
  component_path_one *r = component_path_one_reverse(p);
  EXPECT_EQ(steps_of(r), (std::vector<Step>{{2 | R, 0}, {1 | R, -7}, {0 | R, -4}}));
  EXPECT_EQ(r->component_index, 3);
  // component_add_path keeps the smaller orientation: the forward one here,
  // the reverse one for the reversed chain.
  component_add_path(c, &x, c->partial_paths[0].first_step, 3, 0, 8, 2);
  component_chain_link_t rs1{nullptr, 1 | R, -7};
  component_chain_link_t rx{&rs1, 2 | R, 0};
  component_chain_link_t ry{nullptr, 0 | R, -4};
  c->partial_path_count = 0;
  c->chain_step_count = 0;
  component_window_add_partial_path(c, &c->read_list->entries[0], &ry, 0, 9);
  component_add_path(c, &rx, c->partial_paths[0].first_step, 3, 0, 8, 2);
  ASSERT_EQ(c->component_path_count, 2);
  EXPECT_EQ(steps_of(c->component_paths[0]), steps_of(p));
  EXPECT_EQ(steps_of(c->component_paths[1]), steps_of(p));
  testing::internal::CaptureStdout();
  component_path_one_print(p);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "component_path_one (1 count, 3 length, 3 component_index, read_start_ptr 0, read_start_index 2, "
            "read_end_index 8): 0 (-4) 1 (-7) 2\n");
  component_path_one_free(p);
  component_path_one_free(r);
  component_window_free_paths(c);
  EXPECT_EQ(c->component_path_count, 0);
}

TEST(ComponentPaths, CompareOrder) {
  WindowFixture f({30, 30, 30}, {}, {{{0, 1, 2}, {-5, -5}}});
  component_window_t *c = f.context;
  struct Case {
    const char *what;
    component_path_one *a, *b;
    int sign;
  } cases[] = {
      {"component index first", path_of(c, {{5, 0}, {1, 9}}, 0, 1), path_of(c, {{0, 0}, {1, 0}}, 1, 1), -1},
      {"node unsigned: reverse after forward", path_of(c, {{0 | R, 0}}, 0, 1), path_of(c, {{1, 0}}, 0, 1), 1},
      {"distance signed", path_of(c, {{0, 0}, {1, -5}}, 0, 1), path_of(c, {{0, 0}, {1, 3}}, 0, 1), -1},
      {"a prefix first", path_of(c, {{0, 0}, {1, -5}}, 0, 1), path_of(c, {{0, 0}, {1, -5}, {2, 1}}, 0, 1), -1},
      {"read start", path_of(c, {{0, 0}}, 0, 1, 4), path_of(c, {{0, 0}}, 0, 1, 2), 1},
      {"start index ascending", path_of(c, {{0, 0}}, 0, 1, 2, 1, 9), path_of(c, {{0, 0}}, 0, 1, 2, 3, 9), -1},
      {"end index descending", path_of(c, {{0, 0}}, 0, 1, 2, 1, 9), path_of(c, {{0, 0}}, 0, 1, 2, 1, 5), -1},
      {"equal", path_of(c, {{0, 0}, {2, 4}}, 0, 1, 2, 1, 5), path_of(c, {{0, 0}, {2, 4}}, 0, 1, 2, 1, 5), 0},
  };
  for (const Case &k : cases) {
    const int ab = component_path_one_compare(&k.a, &k.b, nullptr);
    const int ba = component_path_one_compare(&k.b, &k.a, nullptr);
    EXPECT_EQ((ab > 0) - (ab < 0), k.sign) << k.what;
    EXPECT_EQ((ba > 0) - (ba < 0), -k.sign) << k.what;
    component_path_one_free(k.a);
    component_path_one_free(k.b);
  }
}

// Window node 4 with routes at two distances from 0 (to 1) and from 2 (to
// 3); component 0 uses 0 and 1, component 1 uses 2 and 3.
const std::vector<uint32_t> kRouteLengths = {30, 30, 30, 30, 30};
const std::vector<Edge> kRoutes = {{0, 4, -5}, {0, 4, -6}, {4, 1, -5}, {2, 4, -5}, {2, 4, -6}, {4, 3, -5}};

TEST(ComponentPaths, DominantPathOrAllPaths) {
  struct Case {
    const char *what;
    std::vector<int32_t> counts0, counts1;  // per route (-5, -6); empty: no component
    int built;                              // return value
    int32_t tree_nodes, tree_border_edges;  // what was registered
  } cases[] = {
      {"95 and 5: the best route is built", {95, 5}, {}, 1, 0, 0},
      {"85 and 15: both routes registered", {85, 15}, {}, 0, 1, 3},
      {"9 of 10 in the component sorting last: registered", {9, 1}, {}, 0, 1, 3},
      {"9 of 10 in an earlier component: built", {9, 1}, {5, 5}, 1, 1, 3},
      {"a later component at 9 of 10 is still registered", {5, 5}, {9, 1}, 0, 2, 6},
      {"both dominant: both built", {10, 0}, {1, 19}, 1, 0, 0},
  };
  for (const Case &k : cases) {
    WindowFixture f(kRouteLengths, kRoutes, {{{0, 4, 1}, {-5, -5}}});
    component_window_t *c = f.context;
    const auto before = edge_set(f.graph);
    for (int d = 0; d < 2; d++) {
      if (!k.counts0.empty()) push_path(c, path_of(c, {{0, 0}, {4, -5 - d}, {1, -5}}, 0, k.counts0[d], 0, 0, 2));
      if (!k.counts1.empty()) push_path(c, path_of(c, {{2, 0}, {4, -5 - d}, {3, -5}}, 1, k.counts1[d], 0, 0, 2));
    }
    const int force = k.counts1.empty() ? 0 : 1;
    EXPECT_EQ(component_build_component_paths(c, c->builder_trees, force) != 0, k.built != 0) << k.what;
    EXPECT_EQ(c->builder_trees->node_count, k.tree_nodes) << k.what;
    EXPECT_EQ(c->builder_trees->border_edge_count, k.tree_border_edges) << k.what;
    EXPECT_EQ(c->builder_trees->edge_count, 0) << k.what;
    EXPECT_EQ(edge_set(f.graph) != before, k.built != 0) << k.what;
    component_window_free_paths(c);
    component_tree_set_clear(c->builder_trees);
    c->bubble_check_count = 0;
  }
}

TEST(ComponentPaths, EqualPathsMergeCountingEachPassageOnce) {
  // Two reads; one path of the first read is found three times: twice at
  // overlapping places (counted once), once further on (counted again).
  WindowFixture f(kRouteLengths, kRoutes, {{{0, 4, 1}, {-5, -5}}, {{0, 4, 1}, {-5, -5}}});
  component_window_t *c = f.context;
  const uint64_t r0 = 0, r1 = read_info_get_path_start(f.info, 3);
  ASSERT_NE(r0, r1);
  const std::vector<Step> route = {{0, 0}, {4, -5}, {1, -5}};
  const std::vector<Step> other = {{0, 0}, {4, -6}, {1, -5}};
  push_path(c, path_of(c, route, 0, 1, r0, 0, 5));
  push_path(c, path_of(c, route, 0, 1, r0, 3, 8));  // overlaps the first
  push_path(c, path_of(c, route, 0, 1, r0, 6, 9));  // after it
  push_path(c, path_of(c, route, 0, 1, r1, 0, 2));  // another read
  push_path(c, path_of(c, other, 0, 1, r1, 5, 7));
  component_build_component_paths(c, c->builder_trees, 0);
  // The route at -6 sorts first.
  ASSERT_EQ(c->component_path_count, 2);
  EXPECT_EQ(steps_of(c->component_paths[0]), other);
  EXPECT_EQ(c->component_paths[0]->count, 1);
  EXPECT_EQ(steps_of(c->component_paths[1]), route);
  EXPECT_EQ(c->component_paths[1]->count, 3);
  component_window_free_paths(c);
}

TEST(ComponentPaths, BuildPath) {
  // A plain chain is left alone without force and copied with it.
  {
    WindowFixture f({30, 30, 30}, {{0, 1, -5}, {1, 2, -5}});
    component_path_one *p = path_of(f.context, {{0, 0}, {1, -5}, {2, -5}}, 0, 1);
    const auto before = edge_set(f.graph);
    EXPECT_EQ(component_build_path(f.context, p, 0), 0);
    EXPECT_EQ(edge_set(f.graph), before);
    EXPECT_EQ(component_build_path(f.context, p, 1), 1);
    EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 3, -5), canonical(3, 2, -5)}));
    EXPECT_EQ(next_list(f.graph, 1).size(), 0u);
    component_path_one_free(p);
  }
  // A path through a reverse window node copies it on its strand.
  {
    WindowFixture f({30, 30, 30}, {{0, 1 | R, -5}, {1 | R, 2, -5}, {1, 0, -2}});
    component_path_one *p = path_of(f.context, {{0, 0}, {1 | R, -5}, {2, -5}}, 0, 1);
    EXPECT_EQ(component_build_path(f.context, p, 0), 1);
    EXPECT_EQ(next_list(f.graph, 0), (std::vector<Step>{{3 | R, -5}}));
    EXPECT_EQ(next_list(f.graph, 3 | R), (std::vector<Step>{{2, -5}}));
    EXPECT_EQ(fragment_graph_get_node_fragment(f.graph, 3 | R), 1 | R);
    EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 3 | R, -5), canonical(3 | R, 2, -5), canonical(1, 0, -2)}));
    component_path_one_free(p);
  }
  // A path that is its own reverse (a hairpin through the window) gets an
  // added exit edge instead of a moved one.
  {
    WindowFixture f({30, 30}, {{0, 1, -5}, {1, 1 | R, -3}});
    component_path_one *p = path_of(f.context, {{0, 0}, {1, -5}, {1 | R, -3}, {0 | R, -5}}, 0, 1);
    EXPECT_EQ(component_build_path(f.context, p, 0), 1);
    // Copies 2 (of 1) and 3 (of 1, read reverse).
    EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 2, -5), canonical(2, 3 | R, -3), canonical(3 | R, 0 | R, -5),
                                         canonical(1, 1 | R, -3)}));
    component_path_one_free(p);
  }
}

TEST(ComponentPathsDeathTest, BadPaths) {
  WindowFixture f({30, 30, 30}, {{0, 1, -5}});
  component_path_one *p = path_of(f.context, {{0, 0}, {1, -5}}, 0, 1);
  EXPECT_EXIT(component_build_path(f.context, p, 1), testing::ExitedWithCode(1), "error, component_build_path 1\n");
  EXPECT_EXIT(ON_STDOUT(component_path_one2component(f.context, f.context->builder_trees, p)),
              testing::ExitedWithCode(1), "error, component_path_one2component");
  component_path_one *q = path_of(f.context, {{0, 0}, {1, -5}, {2, -5}}, 0, 1);
  EXPECT_EXIT(component_build_path(f.context, q, 0), testing::ExitedWithCode(1), "error, component_build_path 3\n");
  component_path_one_free(p);
  component_path_one_free(q);
}

// ---------------------------------------------------------------------------
// Builder trees

TEST(ComponentTrees, DeduplicateAndBuild) {
  WindowFixture f({30, 30, 30, 30}, {{0, 1, -5}, {1, 2 | R, -4}, {2 | R, 3, -5}});
  component_tree_set_t *t = f.context->builder_trees;
  component_tree_add_node(t, 1, 0);
  component_tree_add_node(t, 1 | R, 0);  // the same slot
  component_tree_add_node(t, 2, 0);
  component_tree_add_node(t, 1, 1);
  component_tree_add_edge(t, 1, 2 | R, -4, 0);
  component_tree_add_edge(t, 2, 1 | R, -4, 0);  // the same edge read backwards
  component_tree_add_border_edge(t, 0, 1, -5, 0);
  component_tree_add_border_edge(t, 3 | R, 2, -5, 0);
  component_tree_add_border_edge(t, 3 | R, 2, -5, 0);
  EXPECT_EQ(t->node_count, 3);
  EXPECT_EQ(t->edge_count, 1);
  EXPECT_EQ(t->border_edge_count, 2);
  fragment_graph_reset_not_done_nodes(f.graph);
  drain(f.graph);
  EXPECT_EQ(component_the_builder_build(f.context), 1);
  EXPECT_EQ(t->node_count + t->edge_count + t->border_edge_count, 0);
  // Copies: node entries in tree order get slots 4, 5, 6; find them by
  // component and fragment.
  std::set<oriented_id_t> made = drain(f.graph);
  const std::set<oriented_id_t> second = drain(f.graph);
  made.insert(second.begin(), second.end());
  EXPECT_EQ(made, (std::set<oriented_id_t>{4, 5, 6}));
  oriented_id_t c1 = kOrientedIdNone, c2 = kOrientedIdNone;
  for (oriented_id_t n : made) {
    if (fragment_graph_get_node_fragment(f.graph, n) == 2) c2 = n;
    if (fragment_graph_get_node_fragment(f.graph, n) == 1 && !prev_list(f.graph, n).empty()) c1 = n;
  }
  ASSERT_NE(c1, kOrientedIdNone);
  ASSERT_NE(c2, kOrientedIdNone);
  EXPECT_EQ(next_list(f.graph, 0), (std::vector<Step>{{c1, -5}}));
  EXPECT_EQ(next_list(f.graph, c1), (std::vector<Step>{{c2 | R, -4}}));
  EXPECT_EQ(next_list(f.graph, c2 | R), (std::vector<Step>{{3, -5}}));
  EXPECT_TRUE(next_list(f.graph, 2 | R).empty());
  EXPECT_EQ(fragment_graph_check_links(f.graph, kOrientedIdNone), 1);
  f.context->bubble_check_count = 0;
}

TEST(ComponentTreesDeathTest, MissingNodeEntries) {
  WindowFixture f({30, 30, 30}, {{0, 1, -5}});
  component_tree_add_edge(f.context->builder_trees, 1, 2, -5, 0);
  EXPECT_EXIT(component_the_builder_build(f.context), testing::ExitedWithCode(1),
              "error component_the_builder_build_interior_edges 1: internal error, node not found\n");
  component_tree_set_clear(f.context->builder_trees);
  component_tree_add_border_edge(f.context->builder_trees, 0, 1, -5, 0);
  EXPECT_EXIT(component_the_builder_build(f.context), testing::ExitedWithCode(1),
              "build_group_path6: internal error, node not found, unable to find node 1\n");
  component_tree_set_clear(f.context->builder_trees);
}

// ---------------------------------------------------------------------------
// component_build

// Node 4 between prev neighbours 0, 1 and next neighbours 2, 3, 5.
const std::vector<uint32_t> kLengths = {30, 30, 30, 30, 30, 30};
const std::vector<Edge> kCross = {{0, 4, -5}, {1, 4, -5}, {4, 2, -5}, {4, 3, -5}, {4, 5, -5}};
const PathReads kA2{{0, 4, 2}, {-5, -5}}, kA3{{0, 4, 3}, {-5, -5}}, kB3{{1, 4, 3}, {-5, -5}}, kB5{{1, 4, 5}, {-5, -5}};

TEST(ComponentBuild, NoComponentChangesNothing) {
  WindowFixture f(kLengths, kCross, join({times(kA2, 3), times(kB5, 3)}));
  f.set({4});
  const auto before = edge_set(f.graph);
  component_list_t empty = f.context->components;
  empty.component_count = 0;
  EXPECT_EQ(component_build(f.context, &empty), 0);
  EXPECT_EQ(component_build(f.context, nullptr), 0);
  EXPECT_EQ(edge_set(f.graph), before);
  EXPECT_EQ(fragment_graph_is_disabled(f.graph, 4), 0);
  expect_checks_pass(f, "no component");
}

TEST(ComponentBuild, ComponentUsingTheWholeWindowChangesNothing) {
  const std::vector<Edge> cross = {{0, 4, -5}, {1, 4, -5}, {4, 2, -5}, {4, 3, -5}};
  WindowFixture f(kLengths, cross, join({times(kA2, 2), times(kA3, 2), times(kB3, 2)}));
  f.set({4});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 1);
  const auto before = edge_set(f.graph);
  EXPECT_EQ(component_build(f.context, list), 0);
  EXPECT_EQ(edge_set(f.graph), before);
  EXPECT_EQ(fragment_graph_is_disabled(f.graph, 4), 0);
  expect_checks_pass(f, "whole window");
}

TEST(ComponentBuild, ComponentsGetTheirOwnCopies) {
  // Component 0 (0 to 2 and 3, two border pairs) is rebuilt from the trees;
  // component 1 (1 to 5) is one dominant path laid as a chain.
  WindowFixture f(kLengths, kCross, join({times(kA2, 3), times(kA3, 3), times(kB5, 3)}));
  f.set({4});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 2);
  drain(f.graph);
  EXPECT_NE(component_build(f.context, list), 0);
  EXPECT_EQ(fragment_graph_is_disabled(f.graph, 4), 1);
  EXPECT_EQ(live_copies(f.graph, 4), 2);
  // Every read still runs; no read runs over the other component's copy.
  EXPECT_EQ(runs(f.graph, kA2.fragments, kA2.distances), 1);
  EXPECT_EQ(runs(f.graph, kA3.fragments, kA3.distances), 1);
  EXPECT_EQ(runs(f.graph, kB5.fragments, kB5.distances), 1);
  EXPECT_EQ(runs(f.graph, {0, 4, 5}, {-5, -5}), 0);
  EXPECT_EQ(runs(f.graph, {1, 4, 2}, {-5, -5}), 0);
  EXPECT_EQ(runs(f.graph, {1, 4, 3}, {-5, -5}), 0);
  // Only the tree-built copy is requested for the next pass.
  std::set<oriented_id_t> requested = drain(f.graph);
  const std::set<oriented_id_t> more = drain(f.graph);
  requested.insert(more.begin(), more.end());
  ASSERT_EQ(requested.size(), 1u);
  const oriented_id_t copy = *requested.begin();
  EXPECT_EQ(prev_list(f.graph, copy), (std::vector<Step>{{0, -5}}));
  EXPECT_EQ(next_list(f.graph, copy), (std::vector<Step>{{2, -5}, {3, -5}}));
  expect_checks_pass(f, "two components");
}

TEST(ComponentBuild, DominanceDecidesTheRebuild) {
  struct Case {
    const char *what;
    int at5, at6;  // reads over 0 -> 4 at -5 and at -6
    int chain;     // distance of the route laid as a chain, 0 = window unchanged
  } cases[] = {
      {"95 and 5 build one chain", 95, 5, -5},
      {"85 and 15 keep both paths", 85, 15, 0},
      {"90 and 10 in the only component keep both", 90, 10, 0},
      {"5 and 95 build the other chain", 5, 95, -6},
  };
  for (const Case &k : cases) {
    WindowFixture f(kRouteLengths, {{0, 4, -5}, {0, 4, -6}, {4, 1, -5}},
                    join({times({{0, 4, 1}, {-5, -5}}, k.at5), times({{0, 4, 1}, {-6, -5}}, k.at6)}));
    f.set({4});
    component_list_t *list = component_get_components(f.context, 0);
    ASSERT_EQ(list->component_count, 1) << k.what;
    const auto before = edge_set(f.graph);
    const int rebuilt = component_build(f.context, list);
    EXPECT_EQ(rebuilt != 0, k.chain != 0) << k.what;
    if (k.chain == 0) {
      EXPECT_EQ(edge_set(f.graph), before) << k.what;
    } else {
      const int other = k.chain == -5 ? -6 : -5;
      EXPECT_EQ(runs(f.graph, {0, 4, 1}, {k.chain, -5}), 1) << k.what;
      // The minority route is left as a tip off 0.
      EXPECT_EQ(runs(f.graph, {0, 4, 1}, {other, -5}), 0) << k.what;
      EXPECT_EQ(runs(f.graph, {0, 4}, {other}), 1) << k.what;
    }
    expect_checks_pass(f, k.what);
  }
}

TEST(ComponentBuild, ReachableBuildStopsBeforeTheExitNode) {
  // Reads 1 -> 4 -> 3 are below the threshold: their border nodes stay for
  // the reachable build, which gives 1 and 3 their own copies of 4. The copy
  // under 1 ends inside the window: no copy of 3 is made.
  const std::vector<Edge> cross = {{0, 4, -5}, {1, 4, -5}, {4, 2, -5}, {4, 3, -5}};
  WindowFixture f(kLengths, cross, join({times(kA2, 5), times(kB3, 2)}));
  f.set({4});
  component_list_t *list = component_get_components(f.context, 3);
  ASSERT_EQ(list->component_count, 1);
  EXPECT_NE(component_build(f.context, list), 0);
  EXPECT_EQ(runs(f.graph, kA2.fragments, kA2.distances), 1);
  EXPECT_EQ(runs(f.graph, kB3.fragments, kB3.distances), 0);
  EXPECT_EQ(live_copies(f.graph, 1), 1);
  EXPECT_EQ(live_copies(f.graph, 3), 1);
  EXPECT_EQ(live_copies(f.graph, 4), 3);
  const auto from1 = next_list(f.graph, 1);
  ASSERT_EQ(from1.size(), 1u);
  EXPECT_TRUE(next_list(f.graph, from1[0].first).empty());
  const auto into3 = prev_list(f.graph, 3);
  ASSERT_EQ(into3.size(), 1u);
  EXPECT_TRUE(prev_list(f.graph, into3[0].first).empty());
  expect_checks_pass(f, "reachable");
}

// Window {4, 5}: 0 and 1 lead into 4, 4 -> 5, and 5 leads on to 2, 3 and 7;
// every edge has its own distance, so a copy joined at a wrong distance
// leaves its read unable to run.
const std::vector<uint32_t> kPairLengths = {30, 30, 30, 30, 30, 30, 30, 30};
const std::vector<Edge> kPair = {{0, 4, -3}, {1, 4, -4}, {4, 5, -6}, {5, 2, -7}, {5, 3, -8}, {5, 7, -9}};

TEST(ComponentBuild, TwoNodeWindowChainsAndTrees) {
  const PathReads a2{{0, 4, 5, 2}, {-3, -6, -7}}, a3{{0, 4, 5, 3}, {-3, -6, -8}}, b7{{1, 4, 5, 7}, {-4, -6, -9}};
  WindowFixture f(kPairLengths, kPair, join({times(a2, 3), times(a3, 3), times(b7, 3)}));
  f.set({4, 5});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 2);
  drain(f.graph);
  EXPECT_NE(component_build(f.context, list), 0);
  for (const PathReads &p : {a2, a3, b7}) EXPECT_EQ(runs(f.graph, p.fragments, p.distances), 1);
  EXPECT_EQ(runs(f.graph, {1, 4, 5, 2}, {-4, -6, -7}), 0);
  EXPECT_EQ(runs(f.graph, {0, 4, 5, 7}, {-3, -6, -9}), 0);
  EXPECT_EQ(live_copies(f.graph, 4), 2);
  EXPECT_EQ(live_copies(f.graph, 5), 2);
  // The tree-built copies of component 0 (4 and 5) are requested again.
  std::set<oriented_id_t> requested = drain(f.graph);
  const std::set<oriented_id_t> more = drain(f.graph);
  requested.insert(more.begin(), more.end());
  EXPECT_EQ(requested.size(), 2u);
  expect_checks_pass(f, "two-node window");
}

TEST(ComponentBuild, ReachableBuildKeepsReadsEndingInside) {
  // Window {4, 6, 5} (6 has no border edge). Reads from 1 end on 6 inside
  // the window: the reachable build gives 1 copies of 4 and 6 (the partial
  // path's last step lies inside, so it is written), ending there.
  const std::vector<Edge> edges = {{0, 4, -3}, {1, 4, -4}, {4, 6, -6}, {6, 5, -5}, {5, 2, -7}, {5, 3, -8}};
  const PathReads a2{{0, 4, 6, 5, 2}, {-3, -6, -5, -7}}, b{{1, 4, 6}, {-4, -6}};
  WindowFixture f(kPairLengths, edges, join({times(a2, 5), times(b, 2)}));
  f.set({4, 6, 5});
  ASSERT_EQ(f.interior(), (std::vector<oriented_id_t>{4, 5}));
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 1);
  EXPECT_NE(component_build(f.context, list), 0);
  EXPECT_EQ(runs(f.graph, a2.fragments, a2.distances), 1);
  EXPECT_EQ(runs(f.graph, b.fragments, b.distances), 1);
  const auto from1 = next_list(f.graph, 1);
  ASSERT_EQ(from1.size(), 1u);
  const auto on = next_list(f.graph, from1[0].first);
  ASSERT_EQ(on.size(), 1u);
  EXPECT_TRUE(next_list(f.graph, on[0].first).empty());
  EXPECT_EQ(live_copies(f.graph, 4), 2);
  EXPECT_EQ(live_copies(f.graph, 6), 2);
  EXPECT_EQ(live_copies(f.graph, 5), 1);
  EXPECT_TRUE(prev_list(f.graph, 3).empty());
  expect_checks_pass(f, "reads ending inside");
}

// A bubble 0 -> {1, 2} -> 3 after 9, and 3 -> 10, 3 -> 11.
const std::vector<uint32_t> kBubbleLengths = {30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30};
const std::vector<Edge> kBubble = {{9, 0, -5}, {0, 1, -5},  {0, 2, -5}, {1, 3, -5},
                                   {2, 3, -5}, {3, 10, -5}, {3, 11, -5}};

void mark_bubble(const WindowFixture &f) {
  fragment_graph_find_bubble(f.graph, 100, 20, 0);
  ASSERT_TRUE(fragment_graph_is_bubble_start(f.graph, 0));
  ASSERT_TRUE(fragment_graph_is_bubble_node(f.graph, 1));
  ASSERT_TRUE(fragment_graph_is_bubble_end(f.graph, 3));
}

TEST(ComponentBuild, DeclinedRebuildClearsOuterBubbleMarks) {
  // Window {0, 1}: bubble start and a bubble node whose bubble end 3 lies
  // outside. The one component uses the whole window, so nothing is built;
  // the outside node listed by the bubble check must not keep its mark.
  WindowFixture f(kBubbleLengths, kBubble,
                  join({times({{9, 0, 1, 3}, {-5, -5, -5}}, 2), times({{9, 0, 2}, {-5, -5}}, 2)}));
  mark_bubble(f);
  f.set({0, 1});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 1);
  const auto before = edge_set(f.graph);
  EXPECT_EQ(component_build(f.context, list), 0);
  EXPECT_EQ(edge_set(f.graph), before);
  expect_checks_pass(f, "declined");
}

TEST(ComponentBuild, RebuildNextToABubbleKeepsBubbleMarksValid) {
  WindowFixture f(
      kBubbleLengths, kBubble,
      join({times({{1, 3, 10}, {-5, -5}}, 3), times({{2, 3, 11}, {-5, -5}}, 3), times({{9, 0, 1}, {-5, -5}}, 2)}));
  mark_bubble(f);
  f.set({3});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 2);
  EXPECT_NE(component_build(f.context, list), 0);
  EXPECT_EQ(runs(f.graph, {1, 3, 10}, {-5, -5}), 1);
  EXPECT_EQ(runs(f.graph, {2, 3, 11}, {-5, -5}), 1);
  EXPECT_EQ(runs(f.graph, {1, 3, 11}, {-5, -5}), 0);
  // The branches no longer meet: no bubble is left.
  EXPECT_FALSE(fragment_graph_is_bubble_start(f.graph, 0));
  EXPECT_FALSE(fragment_graph_is_bubble_node(f.graph, 1));
  expect_checks_pass(f, "bubble");
}

TEST(ComponentBuild, BubbleBorderNodesShareAComponentIndex) {
  WindowFixture f(kBubbleLengths, kBubble);
  mark_bubble(f);
  f.set({3});
  ASSERT_EQ(f.exterior(), (std::vector<oriented_id_t>{10, 11, 1 | R, 2 | R}));
  fragment_graph_set_mark1(f.graph, 3);
  EXPECT_EQ(component_the_builder_build_reachable_paths(f.context, f.context->read_list), 0);
  fragment_graph_clear_mark1(f.graph, 3);
  const int32_t a = get_component_index(f.context, 1 | R), b = get_component_index(f.context, 2 | R);
  const int32_t c = get_component_index(f.context, 10), d = get_component_index(f.context, 11);
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::set<int32_t>({a, c, d}).size(), 3u);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(a, 2);
  expect_checks_pass(f, "numbering");
}

TEST(ComponentBuild, BubbleDeathEnds) {
  // Bubble 0 -> {1, 2}; 1 runs into 3 (a bubble end in the window), 2 into
  // 4 (a bubble end outside) or, in the second case, into 3 as well.
  struct Case {
    const char *what;
    oriented_id_t second_end;
    int reaches_outside;
    std::vector<oriented_id_t> nodes;  // the branches that only run into the window
    size_t edges;
  } cases[] = {
      {"one branch still reaches an end outside", 4, 1, {1}, 1},
      {"every branch runs into the window", 3, 0, {1, 2, 0}, 2},
  };
  for (const Case &k : cases) {
    WindowFixture f({30, 30, 30, 30, 30}, {{0, 1, -5}, {0, 2, -5}, {1, 3, -5}, {2, k.second_end, -5}});
    f.graph->nodes[0].flags |= kGraphBubbleStartBit;
    f.graph->nodes[1].flags |= kGraphBubbleNodeBit;
    f.graph->nodes[2].flags |= kGraphBubbleNodeBit;
    f.graph->nodes[3].flags |= kGraphBubbleEndBit;
    f.graph->nodes[4].flags |= kGraphBubbleEndBit;
    fragment_graph_set_mark1(f.graph, 3);
    int32_t nc = 0, ncap = 1, ec = 0, ecap = 1;
    auto *nodes = static_cast<oriented_id_t *>(malloc(sizeof(oriented_id_t)));
    auto *edges = static_cast<oriented_id_t *>(malloc(sizeof(oriented_id_t)));
    EXPECT_EQ(component_remove_bubble_death_end(f.graph, 0, &nodes, &nc, &ncap, &edges, &ec, &ecap) != 0,
              k.reaches_outside != 0)
        << k.what;
    EXPECT_EQ(std::vector<oriented_id_t>(nodes, nodes + nc), k.nodes) << k.what;
    EXPECT_EQ(static_cast<size_t>(ec), k.edges) << k.what;
    for (int32_t i = 0; i < ec; i++) EXPECT_EQ(fragment_graph_get_edge_to_node(f.graph, edges[i]), 3u) << k.what;
    for (int32_t i = 0; i < nc; i++) fragment_graph_clear_mark2(f.graph, nodes[i]);
    fragment_graph_clear_mark1(f.graph, 3);
    EXPECT_TRUE(f.marks_clear()) << k.what;
    free(nodes);
    free(edges);
  }
}

TEST(ComponentBuild, BubbleCheckList) {
  WindowFixture f({30, 30, 30}, {});
  component_window_add_bubble_check_node(f.context, 1 | R);
  component_window_add_bubble_check_node(f.context, 1);
  component_window_add_bubble_check_node(f.context, 2);
  EXPECT_EQ(f.context->bubble_check_count, 2);
  testing::internal::CaptureStdout();
  component_window_print_bubble_check_nodes(f.context);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Bubble check nodes: 1 2\n");
  fragment_graph_clear_mark4(f.graph, 1);
  component_window_compact_bubble_check_nodes(f.context);
  ASSERT_EQ(f.context->bubble_check_count, 1);
  EXPECT_EQ(f.context->bubble_check_nodes[0], 2u);
  EXPECT_TRUE(f.marks_clear());
  component_window_clear_bubble_check_nodes(f.context);
  EXPECT_EQ(f.context->bubble_check_count, 0);
}

TEST(ComponentBuildDeathTest, Failures) {
  WindowFixture f(kLengths, kCross, join({times(kA2, 3), times(kB5, 3)}));
  f.set({4});
  component_list_t *list = component_get_components(f.context, 0);
  ASSERT_EQ(list->component_count, 2);
  component_tree_add_node(f.context->builder_trees, 4, 0);
  EXPECT_EXIT(ON_STDOUT(component_build(f.context, list)), testing::ExitedWithCode(1),
              "red black tree contains elements");
  component_tree_set_clear(f.context->builder_trees);
  f.set({});
  EXPECT_EXIT(ON_STDOUT(component_build(f.context, list)), testing::ExitedWithCode(1),
              "component sanity check, component_node_count is 0");
}

}  // namespace
