// Graph building from read paths (filters of the tally, simulated reads
// against the true adjacency), compaction invariants and the bounded path
// search.
#include "denovo/graph/fragment_graph_build.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace {

using namespace graph_test;

struct ReadPath {
  std::vector<oriented_id_t> fragments;
  std::vector<int32_t> distances;
};

read_info_t *paths_info(uint32_t fragment_count, const std::vector<ReadPath> &paths) {
  read_info_t *info = read_info_new(fragment_count);
  for (const ReadPath &p : paths) {
    read_info_start_path(info, p.fragments[0]);
    for (size_t i = 1; i < p.fragments.size(); i++) read_info_add_step(info, p.distances[i - 1], p.fragments[i]);
  }
  read_info_make_searchable(info);
  return info;
}

// Which tallied steps become edges (k = 20, fragments of 30 bases but
// fragment 3 of 21).
TEST(FragmentGraphBuild, TallyFilters) {
  struct Case {
    const char *name;
    std::vector<ReadPath> paths;
    int32_t minimum;
    std::vector<Edge> edges;
  } cases[] = {
      {"plain step", {{{0, 1}, {-19}}}, 1, {canonical(0, 1, -19)}},
      {"count below minimum", {{{0, 1}, {-19}}}, 2, {}},
      {"two reads reach the minimum", {{{0, 1}, {-19}}, {{1 | R, 0 | R}, {-19}}}, 2, {canonical(0, 1, -19)}},
      {"distance -k", {{{0, 2}, {-20}}}, 1, {canonical(0, 2, -20)}},
      {"distance -k - 1", {{{0, 2}, {-21}}}, 1, {}},
      {"overlap swallows the short fragment", {{{0, 3}, {-21 + 0}}}, 1, {}},
      {"short fragment length + distance 1", {{{0, 3}, {-20}}}, 1, {canonical(0, 3, -20)}},
      {"step to a lower index, both strands", {{{2, 1 | R}, {5}}}, 1, {canonical(2, 1 | R, 5)}},
      {"reverse self loop", {{{2 | R, 2 | R}, {-3}}}, 1, {canonical(2, 2, -3)}},
      {"hairpin from the forward strand", {{{1, 1 | R}, {-2}}}, 1, {canonical(1, 1 | R, -2)}},
      {"hairpin from the reverse strand", {{{1 | R, 1}, {-2}}}, 1, {canonical(1 | R, 1, -2)}},
  };
  for (const Case &c : cases) {
    seq_db_t *db = fragments_of_lengths({30, 30, 30, 21});
    read_info_t *info = paths_info(4, c.paths);
    fragment_graph_t *g = fragment_graph_build(db, info, 20, c.minimum);
    EXPECT_EQ(edge_set(g), sorted(c.edges)) << c.name;
    EXPECT_EQ(fragment_graph_check_links(g, kOrientedIdNone), 1) << c.name;
    fragment_graph_free(g);
    read_info_free(info);
    seq_db_free_records(db);
  }
}

// Reads drawn along random walks through the fragments, read in either
// direction: the built graph holds exactly the steps of the walks.
TEST(FragmentGraphBuild, SimulatedReadsGiveTrueAdjacency) {
  std::mt19937 rng(7);
  const int k = 21;
  const uint32_t n = 60;
  std::vector<uint32_t> lengths(n);
  for (auto &l : lengths) l = static_cast<uint32_t>(k + rng() % 80);
  std::set<Edge> truth;
  std::vector<ReadPath> reads;
  for (int walk = 0; walk < 6; walk++) {
    std::vector<oriented_id_t> frags;
    std::vector<int32_t> gaps;
    for (int i = 0; i < 25; i++) {
      frags.push_back(static_cast<oriented_id_t>(rng() % n) | ((rng() & 1) ? R : 0));
      gaps.push_back(static_cast<int32_t>(rng() % 3) - (k - 1));
    }
    for (size_t i = 0; i + 1 < frags.size(); i++) truth.insert(canonical(frags[i], frags[i + 1], gaps[i]));
    // Every step is covered by a read of two to four fragments.
    for (size_t start = 0; start + 1 < frags.size(); start++) {
      const size_t len = std::min<size_t>(2 + rng() % 3, frags.size() - start);
      ReadPath p;
      for (size_t i = start; i < start + len; i++) p.fragments.push_back(frags[i]);
      for (size_t i = start; i + 1 < start + len; i++) p.distances.push_back(gaps[i]);
      if (rng() & 1) {
        std::reverse(p.fragments.begin(), p.fragments.end());
        for (auto &f : p.fragments) f = rev(f);
        std::reverse(p.distances.begin(), p.distances.end());
      }
      reads.push_back(p);
    }
  }
  seq_db_t *db = fragments_of_lengths(lengths);
  read_info_t *info = paths_info(n, reads);
  fragment_graph_t *g = fragment_graph_build(db, info, k, 1);
  EXPECT_EQ(edge_set(g), std::vector<Edge>(truth.begin(), truth.end()));
  EXPECT_EQ(g->node_count, static_cast<int32_t>(n));
  EXPECT_EQ(fragment_graph_check_links(g, kOrientedIdNone), 1);
  // Built unsorted; sorting restores the order and keeps the links.
  fragment_graph_sort_edges(g);
  EXPECT_EQ(fragment_graph_check_sorted(g), 0);
  EXPECT_EQ(fragment_graph_check_links(g, kOrientedIdNone), 1);
  EXPECT_EQ(edge_set(g), std::vector<Edge>(truth.begin(), truth.end()));
  fragment_graph_free(g);
  read_info_free(info);
  seq_db_free_records(db);
}

// The edges as steps between fragments: what compaction must keep.
std::vector<Edge> fragment_edges(const fragment_graph_t *g) {
  std::vector<Edge> out;
  for (const Edge &e : edge_set(g)) {
    out.push_back(canonical(fragment_graph_get_node_fragment(g, std::get<0>(e)),
                            fragment_graph_get_node_fragment(g, std::get<1>(e)), std::get<2>(e)));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Live nodes stay; a fragment that no live node carries gets a fresh node.
int32_t expected_count(const fragment_graph_t *g, int32_t fragments) {
  std::set<oriented_id_t> carried;
  int32_t live = 0;
  for (int32_t i = 0; i < g->node_count; i++) {
    if (fragment_graph_is_disabled(g, i)) continue;
    live++;
    carried.insert(g->nodes[i].fragment & ~R);
  }
  int32_t fresh = 0;
  for (int32_t i = 0; i < fragments; i++) fresh += carried.count(static_cast<oriented_id_t>(i)) ? 0 : 1;
  return live + fresh;
}

void expect_compacted(const fragment_graph_t *g, int32_t fragments, int32_t count) {
  ASSERT_EQ(g->node_count, count);
  EXPECT_EQ(g->free_node_count, 0);
  std::vector<int> chained(static_cast<size_t>(g->node_count), 0);
  for (int32_t i = 0; i < g->node_count; i++) {
    EXPECT_FALSE(fragment_graph_is_disabled(g, i)) << i;
    if (i < fragments) {
      EXPECT_EQ(g->nodes[i].fragment, static_cast<oriented_id_t>(i));
      // The chain of fragment i lists its extra nodes from the highest index
      // down.
      oriented_id_t prev = kOrientedIdNone;
      for (oriented_id_t o = g->nodes[i].other_node; o != kOrientedIdNone; o = g->nodes[o].other_node) {
        ASSERT_GE(o, static_cast<oriented_id_t>(fragments));
        EXPECT_EQ(g->nodes[o].fragment & ~R, static_cast<oriented_id_t>(i));
        if (prev != kOrientedIdNone) {
          EXPECT_LT(o, prev);
        }
        prev = o;
        chained[o]++;
      }
    }
  }
  for (int32_t i = fragments; i < g->node_count; i++) EXPECT_EQ(chained[i], 1) << i;
}

TEST(FragmentGraphCompaction, UnchangedGraphOnlyGetsChains) {
  seq_db_t *db = fragments_of_lengths({30, 30, 30});
  fragment_graph_t *g = fragment_graph_new(3, 20);
  g->fragments = db;
  fragment_graph_add_edge(g, 0, 1, -19);
  fragment_graph_add_edge(g, 1, 2 | R, -19);
  const std::vector<Edge> before = edge_set(g);
  fragment_graph_set_other_nodes(g);
  EXPECT_EQ(edge_set(g), before);
  for (int i = 0; i < 3; i++) EXPECT_EQ(g->nodes[i].other_node, kOrientedIdNone);
  fragment_graph_free(g);
  seq_db_free_records(db);
}

TEST(FragmentGraphCompaction, TrailingDisabledSlotsDropped) {
  seq_db_t *db = fragments_of_lengths({30, 30, 30});
  fragment_graph_t *g = fragment_graph_new(3, 20);
  g->fragments = db;
  const oriented_id_t x = fragment_graph_new_node(g, 1);
  const oriented_id_t y = fragment_graph_new_node(g, 2);
  fragment_graph_disable_node(g, y);
  fragment_graph_disable_node(g, x);
  fragment_graph_set_other_nodes(g);
  expect_compacted(g, 3, 3);
  EXPECT_EQ(g->node_count, 3);
  // A disabled fragment slot comes back as a fresh node.
  fragment_graph_disable_node(g, 2);
  fragment_graph_set_other_nodes(g);
  expect_compacted(g, 3, 3);
  EXPECT_EQ(g->nodes[2].flags, 0);
  fragment_graph_free(g);
  seq_db_free_records(db);
}

// Random graphs with extra nodes (on either strand), disabled nodes and
// edges: compaction keeps every edge between the same fragments, puts
// each fragment on its own slot and chains the extra nodes.
TEST(FragmentGraphCompaction, RandomGraphsKeepEdgesAndChains) {
  std::mt19937 rng(99);
  for (int round = 0; round < 40; round++) {
    const int32_t f = 5 + static_cast<int32_t>(rng() % 20);
    seq_db_t *db = fragments_of_lengths(std::vector<uint32_t>(static_cast<size_t>(f), 30));
    fragment_graph_t *g = fragment_graph_new(f, 20);
    g->fragments = db;
    const int extra = static_cast<int>(rng() % 20);
    for (int i = 0; i < extra; i++) {
      fragment_graph_new_node(g, static_cast<oriented_id_t>(rng() % g->node_count) | ((rng() & 1) ? R : 0));
    }
    for (int i = 0; i < 3 * f; i++) {
      const auto a = static_cast<oriented_id_t>(rng() % g->node_count) | ((rng() & 1) ? R : 0);
      const auto b = static_cast<oriented_id_t>(rng() % g->node_count) | ((rng() & 1) ? R : 0);
      fragment_graph_add_edge(g, a, b, static_cast<int32_t>(rng() % 5) - 19);
    }
    for (int i = 0; i < g->node_count / 3; i++) {
      const auto n = static_cast<oriented_id_t>(rng() % g->node_count);
      if (!fragment_graph_is_disabled(g, n)) fragment_graph_disable_node(g, n);
    }
    const std::vector<Edge> before = fragment_edges(g);
    const int32_t count = expected_count(g, f);
    fragment_graph_set_other_nodes(g);
    SCOPED_TRACE(round);
    expect_compacted(g, f, count);
    EXPECT_EQ(fragment_edges(g), before);
    EXPECT_EQ(fragment_graph_check_links(g, kOrientedIdNone), 1);
    EXPECT_EQ(fragment_graph_check_sorted(g), 0);
    fragment_graph_free(g);
    seq_db_free_records(db);
  }
}

// s -> {x, y} -> t with node lengths 30: the gaps at t are the two edge
// distances plus the middle node's length.
fragment_graph_t *diamond(seq_db_t *db, int32_t gap_x, int32_t gap_y) {
  fragment_graph_t *g = fragment_graph_new(6, 20);
  g->fragments = db;
  fragment_graph_add_edge(g, 0, 1, -19);
  fragment_graph_add_edge(g, 0, 2, -19);
  fragment_graph_add_edge(g, 1, 3, gap_x + 19 - 30);
  fragment_graph_add_edge(g, 2, 3, gap_y + 19 - 30);
  return g;
}

TEST(FragmentGraphPathSearch, BoundsAndBudget) {
  seq_db_t *db = fragments_of_lengths(std::vector<uint32_t>(6, 30));
  int32_t lo, hi, budget;
  {
    // Gap to t = -19 + 30 + d.
    fragment_graph_t *g = diamond(db, 10, 12);
    EXPECT_EQ(fragment_graph_path_search(g, 0, 3, 50, &lo, &hi, &budget), 1);
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 12);
    EXPECT_EQ(fragment_graph_path_search(g, 0, 3, 11, &lo, &hi, &budget), 0);
    fragment_graph_mark_bubble(g, 0, 3);
    EXPECT_TRUE(fragment_graph_is_bubble_start(g, 0));
    EXPECT_TRUE(fragment_graph_is_bubble_end(g, 3));
    EXPECT_TRUE(fragment_graph_is_bubble_node(g, 1));
    EXPECT_TRUE(fragment_graph_is_bubble_node(g, 2));
    EXPECT_FALSE(fragment_graph_is_bubble_node(g, 3));
    EXPECT_EQ(fragment_graph_check_bubbles(g, kOrientedIdNone), 1);
    // A branch that ends before t.
    fragment_graph_add_edge(g, 0, 4, -19);
    EXPECT_EQ(fragment_graph_path_search(g, 0, 3, 50, &lo, &hi, &budget), 0);
    fragment_graph_free(g);
  }
  {
    // 202 branches spend 201 > 200 of the budget at once.
    fragment_graph_t *g = fragment_graph_new(6, 20);
    g->fragments = db;
    for (int i = 0; i < 202; i++) fragment_graph_add_edge(g, 0, 3, -19 - (i % 2));
    EXPECT_EQ(fragment_graph_path_search(g, 0, 3, 1000, &lo, &hi, &budget), 0);
    fragment_graph_remove_edge(g, fragment_graph_get_first_next_edge(g, 0));
    EXPECT_EQ(fragment_graph_path_search(g, 0, 3, 1000, &lo, &hi, &budget), 1);
    EXPECT_EQ(budget, 200 + 200);
    fragment_graph_free(g);
  }
  {
    // A cycle that does not pass the target ends by the length bound.
    fragment_graph_t *g = fragment_graph_new(6, 20);
    g->fragments = db;
    fragment_graph_add_edge(g, 0, 1, -19);
    fragment_graph_add_edge(g, 1, 1, -19);
    EXPECT_EQ(fragment_graph_path_search(g, 0, 3, 500, &lo, &hi, &budget), 0);
    fragment_graph_free(g);
  }
  seq_db_free_records(db);
}

}  // namespace
