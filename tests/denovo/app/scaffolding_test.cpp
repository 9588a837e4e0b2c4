// Scaffolding: pairing links from both strands within the tolerance, moving
// links to path and contig ends, joins below twice the word size, the
// scaffold end marks and whole runs of the scaffolding passes.
#include "denovo/app/scaffolding.h"

#include <gtest/gtest.h>

#include "denovo/app/paired_optimize_records.h"
#include "paired_apply_test_util.h"

namespace {

using namespace graph_test;
using paired_apply_test::links_of;
using paired_apply_test::PairedFixture;

std::vector<Edge> sorted_links(const array_list_t *list) {
  std::vector<Edge> v = links_of(list);
  std::sort(v.begin(), v.end());
  return v;
}

TEST(Scaffolding, PairWithinToleranceOnly) {
  // Link 0 -> 2 at gap 100 against partners 2' -> 0' at the given gaps.
  struct Case {
    std::vector<int32_t> partner_gaps;
    std::vector<Edge> kept;
  };
  const Case cases[] = {
      {{140}, {{0, 2, 120}, {2 | R, 0 | R, 120}}},
      {{141}, {}},
      {{100}, {{0, 2, 100}, {2 | R, 0 | R, 100}}},
      {{60}, {{0, 2, 80}, {2 | R, 0 | R, 80}}},
      {{}, {}},
      // The partner found first lies too far; its neighbour below is near.
      {{70, 200}, {{0, 2, 85}, {2 | R, 0 | R, 85}}},
      {{50, 200}, {}},
      // Neighbours on the far side only: no partner.
      {{20, 150, 300}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.partner_gaps));
    PairedFixture f({100, 100, 100}, {});
    f.link(0, 2, 100);
    for (int32_t g : c.partner_gaps) f.link(2 | R, 0 | R, g);
    array_list_t *kept = scaffold_links_pair(f.job.scaffold_links);
    EXPECT_EQ(sorted_links(kept), c.kept);
    array_list_free(kept);
  }
}

TEST(Scaffolding, PairSkipsNearDuplicates) {
  PairedFixture f({100, 100, 100}, {});
  f.link(0, 2, 130);
  f.link(0, 2, 100);
  f.link(2 | R, 0 | R, 120);
  array_list_t *kept = scaffold_links_pair(f.job.scaffold_links);
  EXPECT_EQ(sorted_links(kept), (std::vector<Edge>{{0, 2, 110}, {2 | R, 0 | R, 110}}));
  array_list_free(kept);
}

TEST(Scaffolding, JoinBelowTwiceWordSizeAndEndMarks) {
  // Three lone contigs; 0 -> 1 at 2k - 1 and 1 -> 2 at 2k, each with its
  // partner. Node 1 gets two gap edges: mark4, then mark5.
  PairedFixture f({100, 100, 100}, {});
  f.link(0, 1, 41);
  f.link(1 | R, 0 | R, 41);
  f.link(1, 2, 42);
  f.link(2 | R, 1 | R, 42);
  f.build_contigs();
  array_list_t *joins = array_list_new(sizeof(scaffold_join_t));
  scaffold_links_join(&f.context, f.job.scaffold_links, joins);
  EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 1, 41), canonical(1, 2, 42)}));
  ASSERT_EQ(array_list_get_count(joins), 1u);
  const auto *j = static_cast<scaffold_join_t *>(array_list_get_item(joins, 0));
  EXPECT_EQ(j->flags, 0);
  EXPECT_EQ(canonical(j->from, j->to, j->gap), canonical(0, 1, 41));
  const int mark4[] = {1, 1, 1};
  const int mark5[] = {0, 1, 0};
  for (oriented_id_t n = 0; n < 3; n++) {
    EXPECT_EQ(fragment_graph_get_mark4(f.graph, n), mark4[n]) << n;
    EXPECT_EQ(fragment_graph_get_mark5(f.graph, n), mark5[n]) << n;
  }
  array_list_free(joins);
}

TEST(Scaffolding, JoinNeedsPartnerAndFirstLink) {
  // 1 -> 0 has no partner; 3 -> 2 has one (2' -> 3'), but the partner's
  // node 2' has an earlier link (smaller gap) that leads elsewhere.
  PairedFixture f({100, 100, 100, 100}, {});
  f.link(1, 0, 30);
  f.link(3, 2, 50);
  f.link(2 | R, 3 | R, 50);
  f.link(2 | R, 0, 10);
  f.build_contigs();
  array_list_t *joins = array_list_new(sizeof(scaffold_join_t));
  scaffold_links_join(&f.context, f.job.scaffold_links, joins);
  EXPECT_TRUE(edge_set(f.graph).empty());
  EXPECT_EQ(array_list_get_count(joins), 0u);
  array_list_free(joins);
}

TEST(Scaffolding, ApplyKeepsOnlyTheGapEdge) {
  // 0 and 1' both branch; the gap edge 0 -> 1 replaces every other way out.
  PairedFixture f({100, 100, 100, 100}, {{0, 2, 5}, {0, 3, 6}, {1 | R, 3, 7}});
  paired_optimize_result_t *link = f.link(0, 1, 30);
  EXPECT_EQ(scaffold_link_apply(f.graph, link), 1);
  EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 1, 30)}));
  EXPECT_EQ(scaffold_link_apply(f.graph, link), 0);
  EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 1, 30)}));
}

TEST(Scaffolding, MoveToContigEnds) {
  // Contig 0 -> 1 (100 and 2100 bases, overlap 20) and lone contig 2.
  struct Case {
    Edge link;
    std::vector<Edge> after;
  };
  const Case cases[] = {
      // From node 0 the contig goes on for 2080 bases: a gap of 50 would
      // overlap by far more than k over more than 2000 bases.
      {{0, 2, 50}, {}},
      {{0, 2, 2058}, {}},
      {{0, 2, 2059}, {{1, 2, -21}}},
      {{0, 2, 2060}, {{1, 2, -20}}},
      {{0, 2, 2100}, {{1, 2, 20}}},
      // To side: node 1 is not the contig's first node; 80 bases lie before
      // its start.
      {{2, 1, 200}, {{2, 0, 120}}},
      {{2, 0, 5}, {{2, 0, 5}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.link));
    PairedFixture f({100, 2100, 500}, {{0, 1, -20}});
    f.build_contigs();
    f.link(std::get<0>(c.link), std::get<1>(c.link), std::get<2>(c.link));
    scaffold_links_move_to_contig_ends(&f.context, f.job.scaffold_links);
    EXPECT_EQ(links_of(f.job.scaffold_links), c.after);
  }
}

TEST(Scaffolding, MoveToPathEnds) {
  // Paths 0-5-6-1 and 2-5-7-3 share node 5. Nodes of 100 bases, edges of
  // distance -20.
  PairedFixture f({100, 100, 100, 100, 100, 100, 100, 100, 100, 100},
                  {{0, 5, -20}, {5, 6, -20}, {6, 1, -20}, {2, 5, -20}, {5, 7, -20}, {7, 3, -20}});
  f.node_path({0, 5, 6, 1});
  f.node_path({2, 5, 7, 3});
  paired_optimize_result_t *from_shared = f.link(5, 4, 300);
  paired_optimize_result_t *shared_partner = f.link(4 | R, 5 | R, 300);
  paired_optimize_result_t *from_inner = f.link(6, 9, 500);
  paired_optimize_result_t *inner_partner = f.link(9 | R, 6 | R, 500);
  paired_optimize_result_t *to_far_end = f.link(6, 1, 90);
  paired_optimize_result_t *far_partner = f.link(1 | R, 6 | R, 90);
  paired_optimize_result_t *alone = f.link(7, 8, 100);  // no partner: left alone
  scaffold_links_move_to_path_ends(&f.context, f.job.scaffold_links, f.job.contig_paths);
  EXPECT_EQ(from_shared->link.from, kOrientedIdNone);
  EXPECT_EQ(shared_partner->link.to, kOrientedIdNone);
  // 6 moves to the path end 1 over 100 - 20 = 80 bases.
  EXPECT_EQ(std::make_tuple(from_inner->link.from, from_inner->link.to, from_inner->link.gap),
            std::make_tuple(1u, 9u, 420));
  EXPECT_EQ(std::make_tuple(inner_partner->link.from, inner_partner->link.to, inner_partner->link.gap),
            std::make_tuple(9 | R, 1 | R, 420));
  // A link to the path's own end dies.
  EXPECT_EQ(to_far_end->link.from, kOrientedIdNone);
  EXPECT_EQ(far_partner->link.to, kOrientedIdNone);
  EXPECT_EQ(std::make_tuple(alone->link.from, alone->link.to, alone->link.gap), std::make_tuple(7u, 8u, 100));
}

TEST(Scaffolding, DistanceToPathEnd) {
  PairedFixture f({100, 50, 70, 30}, {{0, 1, -20}, {1, 2, 10}, {2, 3, 5}});
  std::vector<oriented_id_t> ids = {0, 1, 2, 3};
  const contig_path_t p{4, ids.data(), 0, nullptr};
  struct Case {
    int32_t j;
    int reverse;
    int32_t expected;
  };
  const Case cases[] = {{3, 0, 0}, {2, 0, 35}, {0, 0, 145}, {0, 1, 0}, {1, 1, 80}, {3, 1, 215}};
  for (const Case &c : cases) {
    EXPECT_EQ(contig_path_distance_to_end(f.graph, &p, c.j, c.reverse), c.expected) << c.j << " " << c.reverse;
  }
  // Node 0 has no prev edge, node 3 no next edge.
  std::vector<oriented_id_t> broken = {3, 1, 0};
  const contig_path_t q{3, broken.data(), 0, nullptr};
  EXPECT_EQ(contig_path_distance_to_end(f.graph, &q, 0, 0), -1);
  EXPECT_EQ(contig_path_distance_to_end(f.graph, &q, 2, 1), -1);
}

TEST(Scaffolding, DropUnusable) {
  // Contig 0-1, lone contigs 2 and 3, and contig 4 made to read as its own
  // reverse (first node 4, last node 4').
  PairedFixture f({100, 100, 100, 100, 100}, {{0, 1, 5}});
  f.build_contigs();
  const oriented_id_t c4 = contig_info_get_node_contig(f.context.contigs, 4);
  f.context.contigs->end_nodes[contig_info_get_contig_index(c4)] = 4 | R;
  f.link(kOrientedIdNone, 2, 5);
  f.link(2, kOrientedIdNone, 5);
  f.link(1, 0 | R, 5);  // both ends in one contig
  f.link(2, 4, 5);      // a contig that is its own reverse
  f.link(2, 3, 5);
  f.link(1, 3 | R, 7);
  scaffold_links_drop_unusable(&f.context, f.job.scaffold_links);
  EXPECT_EQ(sorted_links(f.job.scaffold_links), (std::vector<Edge>{{1, 3 | R, 7}, {2, 3, 5}}));
}

TEST(Scaffolding, WholeRunJoinsTwoContigs) {
  for (bool with_slot : {true, false}) {
    PairedFixture f({300, 300, 300}, {});
    f.build_contigs();
    fragment_graph_set_mark1(f.graph, 2);
    fragment_graph_set_mark7(f.graph, 2);
    f.link(0, 1, 30);
    f.link(1 | R, 0 | R, 30);
    f.link(0, 2, 500);  // no partner: dropped
    array_list_t *joins = nullptr;
    scaffold_join_t expected{0, 1 | R, 0 | R, 30};
    paired_scaffold(&f.job, f.job.scaffold_links, f.job.contig_paths, nullptr, with_slot ? &joins : nullptr);
    EXPECT_EQ(edge_set(f.graph), sorted({canonical(0, 1, 30)}));
    EXPECT_EQ(contig_info_get_contig_count(f.context.contigs), 2);
    EXPECT_EQ(fragment_graph_get_mark4(f.graph, 0), 1);
    EXPECT_EQ(fragment_graph_get_mark4(f.graph, 1), 1);
    EXPECT_EQ(fragment_graph_get_mark1(f.graph, 2), 1);
    EXPECT_EQ(fragment_graph_get_mark7(f.graph, 2), 0);
    if (with_slot) {
      ASSERT_NE(joins, nullptr);
      ASSERT_EQ(array_list_get_count(joins), 1u);
      const auto *j = static_cast<scaffold_join_t *>(array_list_get_item(joins, 0));
      EXPECT_EQ(std::make_tuple(j->flags, j->from, j->to, j->gap),
                std::make_tuple(expected.flags, expected.from, expected.to, expected.gap));
      array_list_free(joins);
    }
  }
}

TEST(Scaffolding, NoLinksGiveEmptyJoinList) {
  PairedFixture f({300, 300}, {{0, 1, 10}});
  f.build_contigs();
  array_list_t *joins = nullptr;
  paired_scaffold(&f.job, f.job.scaffold_links, f.job.contig_paths, nullptr, &joins);
  ASSERT_NE(joins, nullptr);
  EXPECT_EQ(array_list_get_count(joins), 0u);
  EXPECT_EQ(contig_info_get_contig_count(f.context.contigs), 1);
  array_list_free(joins);
}

TEST(ScaffoldingDeath, LinkOutsideEveryContig) {
  PairedFixture f({100, 100}, {});
  f.build_contigs();
  // Node 1 is taken out of the node map: it lies in no contig.
  f.context.contigs->node_map[1] = kOrientedIdNone;
  f.link(0, 1, 10);
  EXPECT_EXIT(
      ON_STDOUT(scaffold_links_move_to_contig_ends(&f.context, f.job.scaffold_links)), testing::ExitedWithCode(1),
      "Internal error: Pair 00000000 -> 00000001 \\(10\\) is part of contig 00000000 \\(00000000 - 00000000\\) and "
      "ffffffff \\(ffffffff - ffffffff\\)");
}

}  // namespace
