// Contig paths: enumeration bounds and distances, the budget, prefix
// dropping, repeat cutting, matching back to the enumerated paths with the
// unique flag, links on all paths, and list joining.
#include "denovo/app/contig_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/denovo/app/paired_test_util.h"

namespace {

using graph_test::rev;
using paired_test::ids;
using paired_test::Link;
using paired_test::link_list;
using paired_test::PairedFixture;
using Ids = std::vector<oriented_id_t>;

// A links record for the contig of node `source` over hand-made links whose
// targets are given as nodes (a link to node n targets reverse(contig of n),
// which a path through n matches).
contig_links_t *links_for(PairedFixture &f, oriented_id_t source, std::vector<Link> links) {
  for (Link &l : links) l.target = contig_info_reverse_contig(f.contig_of(l.target));
  const oriented_id_t c = f.contig_of(source);
  return contig_links_new(&f.context, link_list(links), contig_info_get_last_node(f.contigs(), c), 1,
                          kContigLinksBudget);
}

// Paths as node lists (every contig here is one node), sorted.
std::vector<std::pair<Ids, int32_t>> paths_of(PairedFixture &f, const contig_path_list_t *list) {
  std::vector<std::pair<Ids, int32_t>> out;
  if (list == nullptr) return out;
  for (int32_t i = 0; i < list->count; i++) {
    Ids nodes;
    for (oriented_id_t c : ids(list->paths[i])) nodes.push_back(contig_info_get_first_node(f.contigs(), c));
    out.emplace_back(nodes, list->paths[i]->distance);
  }
  std::sort(out.begin(), out.end());
  return out;
}

using Paths = std::vector<std::pair<Ids, int32_t>>;

// S = 0 (300 bases) -> T = 1 at gap 100; S also leads to node 2, so that
// every node is a contig of its own. The gap must lie strictly inside the
// link's interval.
TEST(ContigPaths, EnumerationBoundsAreStrict) {
  struct Case {
    int32_t min, max;
    bool found;
  };
  const Case cases[] = {{99, 200, true}, {100, 200, false}, {50, 101, true}, {50, 100, false}, {101, 300, false}};
  for (const Case &c : cases) {
    PairedFixture f({300, 300, 50}, {{0, 1, 100}, {0, 2, 0}});
    contig_links_t *l = links_for(f, 0, {{1, 5, c.min, c.max, (c.min + c.max) / 2}});
    contig_path_list_t *p = contig_paths_enumerate(f.contig_of(0), 0, 1, l);
    EXPECT_EQ(paths_of(f, p), c.found ? (Paths{{{0, 1}, 100}}) : Paths{}) << c.min << " " << c.max;
    if (p != nullptr) {
      EXPECT_EQ(p->paths[0]->link, paired_link_list_get(l->links, 0));
    }
    contig_path_list_free(p);
    contig_links_free(l);
  }
}

// S -> A at 10, A (100 bases) -> T at 20: T lies 10 + 100 + 20 bases past
// S's end. Extra branches keep the contigs apart.
TEST(ContigPaths, DistancesAddInnerContigLengths) {
  PairedFixture f({300, 100, 300, 50, 50}, {{0, 1, 10}, {0, 3, 0}, {1, 2, 20}, {1, 4, 0}});
  contig_links_t *l = links_for(f, 0, {{2, 5, 100, 200, 150}});
  contig_path_list_t *p = contig_paths_enumerate_links(l);
  EXPECT_EQ(paths_of(f, p), (Paths{{{0, 1, 2}, 130}}));
  // Four recursive steps: A and node 3 from S, T and node 4 from A.
  EXPECT_EQ(l->budget, kContigLinksBudget - 4);
  contig_path_list_free(p);
  // A link whose interval ends before T is reached finds nothing: the
  // search stops at its limit.
  contig_links_free(l);
  l = links_for(f, 0, {{2, 5, 0, 30, 15}});
  EXPECT_EQ(contig_paths_enumerate_links(l), nullptr);
  EXPECT_EQ(l->search_limit, 30);
  contig_links_free(l);
}

// 150 successors within the search limit: 100 steps are taken, then the
// enumeration stops with the budget spent; 20 successors leave 80.
TEST(ContigPaths, BudgetBoundsTheEnumeration) {
  for (const int n : {150, 20}) {
    std::vector<uint32_t> lengths{300};
    std::vector<graph_test::Edge> edges;
    for (int i = 1; i <= n; i++) {
      lengths.push_back(50);
      edges.emplace_back(0, static_cast<oriented_id_t>(i), i);
    }
    PairedFixture f(lengths, edges);
    contig_links_t *l = links_for(f, 0, {{static_cast<oriented_id_t>(n), 5, 0, 1000, 500}});
    contig_path_list_t *p = contig_paths_enumerate_links(l);
    if (n == 150) {
      EXPECT_EQ(l->budget, 0);
      EXPECT_EQ(p, nullptr);
    } else {
      EXPECT_EQ(l->budget, kContigLinksBudget - n);
      EXPECT_EQ(paths_of(f, p), (Paths{{{0, static_cast<oriented_id_t>(n)}, n}}));
    }
    contig_path_list_free(p);
    contig_links_free(l);
  }
}

// S -> X -> T and S -> X -> Y -> X -> T (X and Y 100 bases, no gaps): the
// link to T is explained by both; the loop is cut in reduction, and the one
// nearer the link's centre is kept, with the set not unique.
TEST(ContigPaths, RepeatedContigIsCutAndMatched) {
  for (const int32_t centre : {250, 120}) {
    PairedFixture f({300, 100, 100, 300}, {{0, 1, 0}, {1, 2, 0}, {2, 1, 0}, {1, 3, 0}});
    contig_links_t *l = links_for(f, 0, {{3, 5, 50, 350, centre}});
    contig_path_list_t *p = contig_paths_enumerate_links(l);
    ASSERT_EQ(paths_of(f, p), (Paths{{{0, 1, 2, 1, 3}, 300}, {{0, 1, 3}, 100}}));

    contig_path_list_t *cut = contig_path_list_copy(p);
    array_list_t *repeats = contig_paths_cut_repeats(cut);
    ASSERT_NE(repeats, nullptr);
    ASSERT_EQ(repeats->count, 1u);
    EXPECT_EQ(*static_cast<oriented_id_t *>(array_list_get_item(repeats, 0)), f.contig_of(1));
    EXPECT_EQ(paths_of(f, cut), (Paths{{{0, 1, 3}, 100}, {{0, 1, 3}, 300}}));
    array_list_free(repeats);
    contig_path_list_free(cut);

    int32_t unique = -1;
    contig_path_list_t *r = contig_paths_reduce(l, p, &unique);
    EXPECT_EQ(unique, 0);
    EXPECT_EQ(paths_of(f, r), centre == 250 ? (Paths{{{0, 1, 2, 1, 3}, 300}}) : (Paths{{{0, 1, 3}, 100}}));
    // The enumerated list is left as it was.
    EXPECT_EQ(p->count, 2);
    contig_path_list_free(r);
    contig_path_list_free(p);
    contig_links_free(l);
  }
}

// S -> A -> T and S -> B -> T (A 100 bases, B 150): two different paths
// explain the link to T; the one nearer the centre stays. Without B the
// set is unique.
TEST(ContigPaths, TwoPathsForOneLinkAreNotUnique) {
  struct Case {
    bool with_b;
    int32_t centre;
    Paths reduced;
    int32_t unique;
  };
  const Case cases[] = {
      {true, 140, {{{0, 2, 3}, 150}}, 0},
      {true, 105, {{{0, 1, 3}, 100}}, 0},
      {false, 140, {{{0, 1, 3}, 100}}, 1},
  };
  for (const Case &c : cases) {
    std::vector<graph_test::Edge> edges{{0, 1, 0}, {1, 3, 0}, {0, 4, 0}, {1, 4, 0}};
    if (c.with_b) edges.insert(edges.end(), {{0, 2, 0}, {2, 3, 0}});
    PairedFixture f({300, 100, 150, 300, 50}, edges);
    contig_links_t *l = links_for(f, 0, {{3, 5, 50, 300, c.centre}});
    contig_path_list_t *p = contig_paths_enumerate_links(l);
    int32_t unique = -1;
    contig_path_list_t *r = contig_paths_reduce(l, p, &unique);
    EXPECT_EQ(unique, c.unique) << c.with_b << " " << c.centre;
    EXPECT_EQ(paths_of(f, r), c.reduced) << c.with_b << " " << c.centre;
    contig_path_list_free(r);
    contig_path_list_free(p);
    contig_links_free(l);
  }
  int32_t unique = -1;
  PairedFixture f({100}, {});
  contig_links_t *l = links_for(f, 0, {});
  EXPECT_EQ(contig_paths_reduce(l, nullptr, &unique), nullptr);
  contig_links_free(l);
}

// Links to T (on both paths) and to A (on one) from S -> A -> T and
// S -> B -> T; the path ending at A is a prefix of one ending at T.
TEST(ContigPaths, LinksOnAllPaths) {
  PairedFixture f({300, 100, 150, 300, 50}, {{0, 1, 0}, {1, 3, 0}, {0, 2, 0}, {2, 3, 0}, {0, 4, 0}, {1, 4, 0}});
  contig_links_t *l = links_for(f, 0, {{1, 5, -50, 50, 0}, {3, 5, 50, 300, 120}});
  contig_path_list_t *p = contig_paths_enumerate_links(l);
  ASSERT_EQ(paths_of(f, p), (Paths{{{0, 1}, 0}, {{0, 1, 3}, 100}, {{0, 2, 3}, 150}}));
  array_list_t *candidates = array_list_new(sizeof(paired_link_t *));
  contig_links_on_all_paths(l, p, candidates);
  ASSERT_EQ(candidates->count, 1u);
  EXPECT_EQ(paired_link_list_get(candidates, 0)->target, contig_info_reverse_contig(f.contig_of(3)));
  EXPECT_EQ(p->count, 3);
  contig_links_on_all_paths(l, nullptr, candidates);
  EXPECT_EQ(candidates->count, 1u);
  array_list_free(candidates);
  contig_path_list_free(p);
  contig_links_free(l);
}

contig_path_list_t *list_of(const std::vector<std::pair<Ids, int32_t>> &paths) {
  contig_path_list_t *list = contig_path_list_new(static_cast<int32_t>(paths.size()));
  for (const auto &[p, d] : paths) {
    contig_path_t *path = contig_path_new(static_cast<int32_t>(p.size()), d, nullptr);
    std::copy(p.begin(), p.end(), path->ids);
    list->paths[list->count++] = path;
  }
  return list;
}

Paths raw(const contig_path_list_t *list) {
  Paths out;
  for (int32_t i = 0; i < list->count; i++) out.emplace_back(ids(list->paths[i]), list->paths[i]->distance);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ContigPaths, DropPrefixes) {
  struct Case {
    const char *name;
    Paths in, out;
  };
  const Case cases[] = {
      {"prefix with smaller distance goes", {{{1, 2}, 10}, {{1, 2, 3}, 20}}, {{{1, 2, 3}, 20}}},
      {"prefix with larger distance stays", {{{1, 2}, 30}, {{1, 2, 3}, 20}}, {{{1, 2}, 30}, {{1, 2, 3}, 20}}},
      {"other strand is no prefix", {{{1, rev(2)}, 10}, {{1, 2, 3}, 20}}, {{{1, 2, 3}, 20}, {{1, rev(2)}, 10}}},
      {"equal paths keep the larger distance", {{{1, 2}, 40}, {{1, 2}, 10}}, {{{1, 2}, 40}}},
      {"unrelated paths stay", {{{1, 5}, 10}, {{1, 4, 6}, 20}}, {{{1, 4, 6}, 20}, {{1, 5}, 10}}},
  };
  for (const Case &c : cases) {
    contig_path_list_t *list = list_of(c.in);
    contig_paths_drop_prefixes(list);
    EXPECT_EQ(raw(list), c.out) << c.name;
    EXPECT_EQ(list->capacity, std::max(list->count, 1)) << c.name;
    contig_path_list_free(list);
  }
}

TEST(ContigPaths, CutRepeats) {
  struct Case {
    Paths in, out;
    Ids repeats;
  };
  const Case cases[] = {
      {{{{1, 2, 3}, 0}}, {{{1, 2, 3}, 0}}, {}},
      {{{{1, 7, 2, 7, 3}, 0}}, {{{1, 7, 3}, 0}}, {7}},
      {{{{1, 7, 2, 7, 4, 7, 3}, 0}, {{1, 5, 1}, 0}}, {{{1}, 0}, {{1, 7, 3}, 0}}, {1, 7, 7}},
      {{{{1, 7, rev(7), 3}, 0}}, {{{1, 7, rev(7), 3}, 0}}, {}},
  };
  for (const Case &c : cases) {
    contig_path_list_t *list = list_of(c.in);
    array_list_t *repeats = contig_paths_cut_repeats(list);
    EXPECT_EQ(raw(list), c.out);
    Ids got;
    if (repeats != nullptr) {
      const auto *r = static_cast<const oriented_id_t *>(array_list_get_item(repeats, 0));
      got.assign(r, r + repeats->count);
      std::sort(got.begin(), got.end());
    }
    EXPECT_EQ(got, c.repeats);
    EXPECT_EQ(repeats == nullptr, c.repeats.empty());
    array_list_free(repeats);
    contig_path_list_free(list);
  }
}

TEST(ContigPaths, JoinPicksTheListWithRoom) {
  // a has room for both: b's paths go into a.
  contig_path_list_t *a = list_of({{{1}, 1}, {{2}, 2}, {{3}, 3}});
  a->paths = static_cast<contig_path_t **>(ryx_realloc(a->paths, 4 * sizeof(contig_path_t *)));
  a->capacity = 4;
  contig_path_list_t *b = list_of({{{4}, 4}});
  contig_path_list_t *j = contig_path_list_join(a, b);
  EXPECT_EQ(j, a);
  EXPECT_EQ(raw(j).size(), 4u);
  // Only the second has room: the first's paths go into it.
  contig_path_list_t *c = list_of({{{5}, 5}, {{6}, 6}, {{7}, 7}, {{8}, 8}});
  c->paths = static_cast<contig_path_t **>(ryx_realloc(c->paths, 8 * sizeof(contig_path_t *)));
  c->capacity = 8;
  j = contig_path_list_join(j, c);
  EXPECT_EQ(j, c);
  EXPECT_EQ(j->count, 8);
  // Neither has room: the first grows to the next power of two.
  contig_path_list_t *d = list_of({{{9}, 9}});
  j = contig_path_list_join(d, j);
  EXPECT_EQ(j, d);
  EXPECT_EQ(j->count, 9);
  EXPECT_EQ(j->capacity, 16);
  EXPECT_EQ(contig_path_list_join(nullptr, nullptr), nullptr);
  EXPECT_EQ(contig_path_list_join(j, nullptr), j);
  EXPECT_EQ(contig_path_list_join(nullptr, j), j);
  contig_path_list_free(j);

  const std::pair<int32_t, int32_t> powers[] = {{1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {1000, 1024}, {1025, 2048}};
  for (const auto &[n, p] : powers) EXPECT_EQ(contig_paths_next_power_of_two(n), p) << n;
}

}  // namespace
