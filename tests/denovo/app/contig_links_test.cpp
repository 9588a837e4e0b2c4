// Contig links: node offsets, the support threshold, joining pairs into
// links, averaging and merging, links collected from read pairs placed on
// small graphs, read-path walks, and the placement test.
#include "denovo/app/contig_links.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/denovo/app/paired_test_util.h"

namespace {

using graph_test::rev;
using paired_test::Library;
using paired_test::Link;
using paired_test::link_list;
using paired_test::links_of;
using paired_test::PairedFixture;

std::vector<std::pair<oriented_id_t, int32_t>> offsets_of(PairedFixture &f, oriented_id_t contig) {
  int32_t n = 0;
  contig_node_offset_t *o = contig_node_offsets(&f.context, contig, &n);
  std::vector<std::pair<oriented_id_t, int32_t>> out;
  for (int32_t i = 0; i < n; i++) out.emplace_back(o[i].node, o[i].offset);
  ryx_free(o);
  return out;
}

// Chain 0 -> 1 -> 2 of 100, 200 and 300 bases with an overlap of 20 and a
// gap of 10: the nodes start at 0, 80 and 290 of 590 bases.
TEST(ContigLinks, NodeOffsetsCountToTheContigEnd) {
  PairedFixture f({100, 200, 300, 40}, {{0, 1, -20}, {1, 2, 10}});
  const oriented_id_t c = f.contig_of(0);
  ASSERT_EQ(c, f.contig_of(2));
  using V = std::vector<std::pair<oriented_id_t, int32_t>>;
  EXPECT_EQ(offsets_of(f, c), (V{{0, 590}, {1, 510}, {2, 300}}));
  // The other strand: reverse(2) first; sorted by unsigned id.
  EXPECT_EQ(offsets_of(f, contig_info_reverse_contig(c)), (V{{rev(0), 100}, {rev(1), 280}, {rev(2), 590}}));
  // A single node gets its length.
  EXPECT_EQ(offsets_of(f, f.contig_of(3)), (V{{3, 40}}));
  int32_t n = 0;
  contig_node_offset_t *o = contig_node_offsets(&f.context, c, &n);
  EXPECT_EQ(contig_node_offset_find(o, n, 1), 510);
  EXPECT_EQ(contig_node_offset_find(o, n, 3), -1);
  ryx_free(o);
}

TEST(ContigLinks, SupportThreshold) {
  const std::pair<int64_t, int32_t> cases[] = {{0, 0},  {-5, 0},  {1, 3},   {20, 3},   {90, 3},
                                               {91, 4}, {100, 4}, {150, 5}, {1000, 8}, {100000, 18}};
  for (const auto &[total, threshold] : cases) EXPECT_EQ(contig_links_support_threshold(total), threshold) << total;
}

TEST(ContigLinks, FilterDropsLinksBelowTheThreshold) {
  // Total 20: threshold 3.
  array_list_t *l = link_list({{1, 10, 0, 0, 0}, {2, 5, 0, 0, 0}, {3, 3, 0, 0, 0}, {4, 2, 0, 0, 0}});
  contig_links_filter_support(l);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{1, 10, 0, 0, 0}, {2, 5, 0, 0, 0}, {3, 3, 0, 0, 0}}));
  paired_link_list_free(l);
  // Total 100: threshold 4, so a link of 3 goes.
  l = link_list({{1, 90, 0, 0, 0}, {2, 4, 0, 0, 0}, {3, 3, 0, 0, 0}, {4, 3, 0, 0, 0}});
  contig_links_filter_support(l);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{1, 90, 0, 0, 0}, {2, 4, 0, 0, 0}}));
  paired_link_list_free(l);
}

// Pairs join the first link of their target and library whose mean interval
// overlaps theirs (strictly).
TEST(ContigLinks, AddJoinsOverlappingPairsOfOneLibrary) {
  array_list_t *l = paired_link_list_new();
  contig_links_add(l, 7, 100, 300, 0);
  contig_links_add(l, 7, 200, 400, 0);   // overlaps: joins
  contig_links_add(l, 7, 150, 350, 1);   // other library: new link
  contig_links_add(l, 8, 150, 350, 0);   // other target: new link
  contig_links_add(l, 7, 350, 500, 0);   // mean [150, 350]: max 350 > 350 fails
  contig_links_add(l, 7, -100, 150, 0);  // min 150 < 150 fails
  contig_links_add(l, 7, -100, 151, 0);  // overlaps the first
  EXPECT_EQ(links_of(l), (std::vector<Link>{{7, 3, 200, 851, 0},
                                            {7, 1, 150, 350, 1},
                                            {8, 1, 150, 350, 0},
                                            {7, 1, 350, 500, 0},
                                            {7, 1, -100, 150, 0}}));
  paired_link_list_free(l);
}

TEST(ContigLinks, AverageTruncatesTowardZero) {
  array_list_t *l = link_list({{1, 2, -7, 5, 3}, {2, 3, 301, 902, 0}});
  contig_links_average(l);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{1, 2, -3, 2, 0}, {2, 3, 100, 300, 200}}));
  paired_link_list_free(l);
}

// Averaged links of one target merge while each overlaps the group's mean;
// the group keeps its head's support.
TEST(ContigLinks, MergeGroupsOverlappingLinksPerTarget) {
  array_list_t *l = link_list({
      {9, 6, 300, 500, 400},    // two libraries to target 9, overlapping
      {5, 4, 0, 100, 50},       // alone
      {9, 5, 350, 550, 450},    //
      {9, 4, 420, 560, 490},    // overlaps the mean [325, 525] of the two before
      {9, 7, 2000, 2400, 2200}, // far away: stays apart
  });
  contig_links_merge(l);
  std::vector<Link> got = links_of(l);
  std::sort(got.begin(), got.end(), [](const Link &a, const Link &b) { return a.centre < b.centre; });
  EXPECT_EQ(got, (std::vector<Link>{{5, 4, 0, 100, 50}, {9, 6, 356, 536, 446}, {9, 7, 2000, 2400, 2200}}));
  paired_link_list_free(l);
  // A single link is left as it is.
  l = link_list({{3, 4, 10, 20, 15}});
  contig_links_merge(l);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{3, 4, 10, 20, 15}}));
  paired_link_list_free(l);
}

// Two contigs of 300 bases without edges; pairs of fragment ends with the
// first read 250 bases into contig A (50 from its end) and the mate 250
// bases into reverse(B): x = 50, y = 50, so a library of 400 to 600 gives
// gaps of 300 to 500.
TEST(ContigLinks, CollectFromFragmentPairs) {
  PairedFixture f({300, 300, 300}, {});
  const Library lib{400, 600};
  f.libraries({&lib});
  f.paths({});
  std::vector<paired_test::Pair> pairs;
  for (int i = 0; i < 5; i++) pairs.push_back(paired_test::fragments(0, 250 + i, rev(1), 250 - i));
  // Both reads in contig A: no link. Mate too close: hi <= 0.
  pairs.push_back(paired_test::fragments(0, 10, rev(0), 10));
  pairs.push_back(paired_test::fragments(0, 0, rev(2), 0));
  f.pairs(pairs);
  const oriented_id_t a = f.contig_of(0);
  const oriented_id_t b = f.contig_of(rev(1));
  array_list_t *l = contig_links_collect(&f.context, a);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{b, 5, 300, 500, 400}}));
  paired_link_list_free(l);
  // No read points out of A's other strand.
  l = contig_links_collect(&f.context, contig_info_reverse_contig(a));
  EXPECT_TRUE(links_of(l).empty());
  paired_link_list_free(l);
  // Seen from B (end 2 on reverse(1)) the same pairs lead to A as its mates
  // were found.
  l = contig_links_collect(&f.context, b);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{a, 5, 300, 500, 400}}));
  paired_link_list_free(l);

  // The record: sorted, last node, search limit, flags.
  contig_links_t *r = contig_links_build(&f.context, a);
  EXPECT_EQ(r->last_node, 0u);
  EXPECT_EQ(r->search_limit, 500);
  EXPECT_EQ(r->repeat_cut, 1);
  EXPECT_EQ(r->budget, kContigLinksBudget);
  EXPECT_EQ(r->context, &f.context);
  contig_links_free(r);
}

// Mates on a contig that starts or ends in a bubble, or pairs of a file
// without a library, make no links; nor do too few pairs, nor none.
TEST(ContigLinks, CollectSkipsBubblesUnpairedFilesAndWeakLinks) {
  const Library lib{400, 600};
  for (int variant = 0; variant < 4; variant++) {
    PairedFixture f({300, 300}, {});
    f.libraries({&lib, nullptr});
    f.paths({});
    std::vector<paired_test::Pair> pairs;
    const int n = variant == 2 ? 2 : variant == 3 ? 0 : 5;
    for (int i = 0; i < n; i++) pairs.push_back(paired_test::fragments(0, 250, rev(1), 250, variant == 1 ? 1 : 0));
    f.pairs(pairs);
    f.contigs();
    if (variant == 0) f.graph->nodes[1].flags |= kGraphBubbleNodeBit;
    // 0: the mate's contig is a bubble node; 1: file 1 has no library; 2:
    // two pairs are below the threshold of 3; 3: no pairs at all.
    array_list_t *l = contig_links_collect(&f.context, f.contig_of(0));
    EXPECT_TRUE(links_of(l).empty()) << "variant " << variant;
    paired_link_list_free(l);
  }
}

// A contig of two nodes (200 and 200 bases, overlap 20) read by a path
// [0, 1]; the pairs' first reads lie on the path (offset 100 from its
// start: 280 bases from the contig end), the mates 250 bases into
// reverse(2) of 300 bases. Library 400 to 600: gaps 70 to 270. A second
// library with the same pairs makes a second link that merges after
// averaging.
TEST(ContigLinks, CollectFromPathPairsOfTwoLibraries) {
  PairedFixture f({200, 200, 300}, {{0, 1, -20}});
  const Library lib1{400, 600}, lib2{420, 640};
  f.libraries({&lib1, &lib2});
  f.paths({{{0, 1}, {-20}, 1}});
  std::vector<paired_test::Pair> pairs;
  for (int i = 0; i < 4; i++) {
    pairs.push_back({0, kOrientedIdNone, 100, kReadPtrNone, rev(2), 250, 0});
    pairs.push_back({0, kOrientedIdNone, 100, kReadPtrNone, rev(2), 250, 1});
  }
  f.pairs(pairs);
  const oriented_id_t a = f.contig_of(0);
  // Before merging: one link per library.
  array_list_t *raw = paired_link_list_new();
  int32_t n = 0;
  contig_node_offset_t *o = contig_node_offsets(&f.context, a, &n);
  for (int32_t i = 0; i < n; i++) contig_links_add_node_pairs(&f.context, raw, a, o[i].node, o[i].offset);
  ryx_free(o);
  const oriented_id_t b = f.contig_of(rev(2));
  std::vector<Link> got = links_of(raw);
  std::sort(got.begin(), got.end(), [](const Link &x, const Link &y) { return x.centre < y.centre; });
  EXPECT_EQ(got, (std::vector<Link>{{b, 4, 4 * 70, 4 * 270, 0}, {b, 4, 4 * 90, 4 * 310, 1}}));
  paired_link_list_free(raw);
  array_list_t *l = contig_links_collect(&f.context, a);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{b, 4, 80, 290, 185}}));
  paired_link_list_free(l);
}

// A read whose path starts before the node is taken at the contig's first
// node only, with its offset from the path's start.
TEST(ContigLinks, PathStartingBeforeTheContigIsTakenAtItsFirstNode) {
  // 0 -> 1 is cut off from 1 -> 2 by a second successor of 0, so node 1
  // starts contig B; the read path [0, 1] starts in contig A.
  PairedFixture f({200, 200, 300, 50}, {{0, 1, -20}, {0, 3, 0}});
  const Library lib{1000, 1200};
  f.libraries({&lib});
  f.paths({{{0, 1}, {-20}, 1}});
  std::vector<paired_test::Pair> pairs;
  for (int i = 0; i < 3; i++) pairs.push_back({0, kOrientedIdNone, 50, kReadPtrNone, rev(2), 100, 0});
  f.pairs(pairs);
  const oriented_id_t b = f.contig_of(1);
  ASSERT_NE(b, f.contig_of(0));
  // s = 180 (the path's second element), t = 200, x = 180 + 200 - 50 = 330;
  // y = 300 - 100 = 200: gaps 470 to 670.
  array_list_t *l = contig_links_collect(&f.context, b);
  EXPECT_EQ(links_of(l), (std::vector<Link>{{f.contig_of(rev(2)), 3, 470, 670, 570}}));
  paired_link_list_free(l);
}

// The mate lies on a read path stored the other way round: its end is the
// path's first stored element read backwards, so the path runs rev(2),
// rev(1) and the mate starts 250 bases from rev(2)'s start, 70 bases into
// rev(1), 130 bases before the end of reverse(B) (B = 1 -> 2, overlap 20).
// With x = 50 on A the library 400 to 600 gives gaps 220 to 420, whether
// the mate is placed by rev(1) itself or, when fragment 1 has a copy, by
// rev(2) before it.
TEST(ContigLinks, MateOnAPathReadBackwards) {
  for (const bool copied : {false, true}) {
    PairedFixture f({300, 200, 200}, {{1, 2, -20}});
    if (copied) f.graph->nodes[1].other_node = fragment_graph_new_node(f.graph, 1);
    const Library lib{400, 600};
    f.libraries({&lib});
    f.paths({{{1, 2}, {-20}, 1}});
    std::vector<paired_test::Pair> pairs;
    for (int i = 0; i < 3; i++) pairs.push_back({kReadPtrNone, 0, 250, read_ptr_flip(0), kOrientedIdNone, 250, 0});
    f.pairs(pairs);
    array_list_t *l = contig_links_collect(&f.context, f.contig_of(0));
    EXPECT_EQ(links_of(l), (std::vector<Link>{{f.contig_of(rev(1)), 3, 220, 420, 320}})) << copied;
    paired_link_list_free(l);
  }
}

TEST(ContigLinks, ReadPathWalks) {
  // Fragment 1 is carried by node 1 and its copy, node 4.
  PairedFixture f({100, 100, 100, 100}, {{0, 1, -20}, {1, 2, 5}, {3, 1, -30}});
  const oriented_id_t copy = fragment_graph_new_node(f.graph, 1);
  fragment_graph_add_edge(f.graph, copy, 2, 5);
  f.graph->nodes[1].other_node = copy;
  f.paths({{{0, 1, 2}, {-20, 5}, 1}, {{1, 2}, {5}, 1}, {{1, 3}, {7}, 1}});
  const read_info_t *ri = f.table.read_info;
  // Elements: path A at 0..2, path B at 3..4, path C at 5..6.
  struct UniqueCase {
    read_ptr_t from;
    read_ptr_t found;
  };
  const UniqueCase unique_cases[] = {
      {0, 0},                                    // its own fragment is unique
      {1, 0},                                    // fragment 1 is not: the element before it
      {read_ptr_flip(1), read_ptr_flip(2)},      // read backwards: "before" is element 2
      {3, 4},                                    // nothing before: the element after
      {5, 6},
  };
  for (const UniqueCase &c : unique_cases)
    EXPECT_EQ(read_path_find_unique(f.graph, ri, c.from), c.found) << std::hex << c.from;
  // Only the copied fragment: none.
  PairedFixture g({100, 100}, {{0, 1, 0}});
  const oriented_id_t c0 = fragment_graph_new_node(g.graph, 0);
  g.graph->nodes[0].other_node = c0;
  g.paths({{{0}, {}, 1}});
  EXPECT_EQ(read_path_find_unique(g.graph, g.table.read_info, 0), kReadPtrNone);

  struct FollowCase {
    read_ptr_t element;
    oriented_id_t node;
    int follows;
  };
  const FollowCase follow_cases[] = {
      {0, 0, 1},                               // 0 -(-20)-> 1 -(5)-> 2
      {1, 1, 1}, {1, copy, 1},                 // from either node of fragment 1
      {2, 3, 1},                               // last element: nothing to follow
      {0, 3, 0},                               // node 3 has no edge to fragment 1 at -20
      {5, 1, 0},                               // 1 -(7)-> 3: no such edge
      {read_ptr_flip(2), rev(2), 1},           // backwards: rev 2 -> rev 1 -> rev 0
      {read_ptr_flip(2), rev(0), 0},
  };
  for (const FollowCase &c : follow_cases)
    EXPECT_EQ(read_path_follows_graph(f.graph, ri, c.element, c.node), c.follows)
        << std::hex << c.element << " at " << c.node;
  // Offsets from the path start: 0, 100 - 20, 80 + 100 + 5.
  EXPECT_EQ(read_path_element_offset(f.graph, ri, 0), 0);
  EXPECT_EQ(read_path_element_offset(f.graph, ri, 1), 80);
  EXPECT_EQ(read_path_element_offset(f.graph, ri, 2), 185);
  EXPECT_EQ(read_path_element_offset(f.graph, ri, read_ptr_flip(0)), 185);
  EXPECT_EQ(read_path_element_offset(f.graph, ri, kReadPtrNone), 0);
}

// Contigs of given lengths, one node each, for the placement test.
struct PlacementCase {
  const char *name;
  std::vector<Link> links;  // targets are node indexes, turned into contigs
  oriented_id_t target;     // node index or -1 (collect mode)
  int32_t min_length;
  std::vector<oriented_id_t> accepted;  // node indexes
};

TEST(ContigLinks, PlacementTest) {
  // Node lengths: 0: 1000, 1: 1000, 2: 3000, 3: 100, 4: 1000.
  const std::vector<uint32_t> lengths{1000, 1000, 3000, 100, 1000};
  constexpr oriented_id_t kAll = kOrientedIdNone;
  const PlacementCase cases[] = {
      {"support 3 never passes", {{0, 3, 0, 200, 100}}, 0, 0, {}},
      {"support 4 alone passes", {{0, 4, 0, 200, 100}}, 0, 0, {0}},
      {"collect: 3 rejected, 4 accepted", {{0, 3, 0, 200, 100}, {1, 4, 5000, 5200, 5100}}, kAll, 0, {1}},
      {"too short for the minimum", {{3, 9, 0, 200, 100}}, kAll, 120, {}},
      {"absent target", {{0, 9, 0, 200, 100}}, 4, 0, {}},
      // Contig 0 at 100..1100 and contig 1 at 300..1300 overlap: each is
      // weighed by the other's support.
      {"overlapping pair", {{0, 10, 0, 200, 100}, {1, 10, 200, 400, 300}}, kAll, 0, {}},
      // Contig 1 overlaps contig 0 by 1100 - 1000 - 21 = 79 bases: score
      // 2 x 79 / 1000 = 0.158 < 2.5 for contig 0; contig 1 has support 2.
      {"small overlap passes", {{0, 10, 0, 200, 100}, {1, 2, 900, 1100, 1000}}, kAll, 0, {0}},
      // A long contig 2 (3000 bases) placed after 0 swallows a later contig 4:
      // contig 4 lies inside it, scoring its support x 1000 / 2000.
      {"contig inside a longer one", {{2, 20, 0, 200, 100}, {4, 4, 900, 1100, 1000}}, kAll, 0, {2}},
      // Query mode asks for the one target only.
      {"query picks its target", {{2, 20, 0, 200, 100}, {4, 4, 900, 1100, 1000}}, 4, 0, {}},
  };
  for (const PlacementCase &c : cases) {
    PairedFixture f(lengths, {});
    std::vector<Link> links = c.links;
    for (Link &l : links) l.target = f.contig_of(l.target);
    array_list_t *list = link_list(links);
    const oriented_id_t target = c.target == kAll ? kAll : f.contig_of(c.target);
    std::vector<oriented_id_t> got;
    if (target == kAll) {
      array_list_t *collect = array_list_new(sizeof(paired_link_t *));
      EXPECT_EQ(contig_links_check_placement(&f.context, list, collect, kAll, c.min_length), nullptr);
      for (uint64_t i = 0; i < collect->count; i++) got.push_back(paired_link_list_get(collect, i)->target);
      array_list_free(collect);
    } else {
      paired_link_t *l = contig_links_check_placement(&f.context, list, nullptr, target, c.min_length);
      if (l != nullptr) got.push_back(l->target);
    }
    std::vector<oriented_id_t> want;
    for (oriented_id_t n : c.accepted) want.push_back(f.contig_of(n));
    EXPECT_EQ(got, want) << c.name;
    paired_link_list_free(list);
  }
}

// In collect mode a target already collected is not added again.
TEST(ContigLinks, PlacementCollectSkipsKnownTargets) {
  PairedFixture f({1000, 1000}, {});
  const oriented_id_t c0 = f.contig_of(0), c1 = f.contig_of(1);
  array_list_t *list = link_list({{c0, 5, 0, 200, 100}, {c1, 5, 5000, 5200, 5100}});
  array_list_t *other = link_list({{c1, 9, 0, 0, 0}});
  array_list_t *collect = array_list_new(sizeof(paired_link_t *));
  paired_link_t *known = paired_link_list_get(other, 0);
  array_list_add(collect, &known);
  contig_links_check_placement(&f.context, list, collect, kOrientedIdNone, 0);
  ASSERT_EQ(collect->count, 2u);
  EXPECT_EQ(paired_link_list_get(collect, 0), known);
  EXPECT_EQ(paired_link_list_get(collect, 1)->target, c0);
  array_list_free(collect);
  paired_link_list_free(other);
  paired_link_list_free(list);
}

}  // namespace
