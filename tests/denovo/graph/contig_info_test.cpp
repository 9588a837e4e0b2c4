// Contig info: forced walks, circular contigs, hairpins, clamped overlaps,
// the node map on both strands, the contig print and the update of one
// contig after the graph changed.
#include "denovo/graph/contig_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "denovo/graph/fragment_graph_check.h"
#include "graph_test_util.h"

namespace {

using namespace graph_test;

struct Fixture : HandGraph {
  Fixture(const std::vector<uint32_t> &lengths, const std::vector<Edge> &edges)
      : HandGraph(fragments_of_lengths(lengths), edges) {}
};

struct Contig {
  oriented_id_t first, last;
  bool circular;
  int32_t length, nodes;
  bool operator==(const Contig &o) const {
    return first == o.first && last == o.last && circular == o.circular && length == o.length && nodes == o.nodes;
  }
};
std::ostream &operator<<(std::ostream &os, const Contig &c) {
  return os << std::hex << "[" << c.first << "-" << c.last << (c.circular ? " circular" : "") << std::dec << " "
            << c.length << " bases, " << c.nodes << " nodes]";
}

std::vector<Contig> contigs_of(const contig_info_t *info, const fragment_graph_t *g) {
  std::vector<Contig> out;
  for (int32_t k = 0; k < contig_info_get_contig_count(info); k++) {
    const auto c = static_cast<oriented_id_t>(k);
    out.push_back({contig_info_get_first_node(info, c), contig_info_get_last_node(info, c),
                   contig_info_is_circular(info, c) != 0, contig_info_get_contig_length(info, g, c),
                   contig_info_get_contig_node_count(info, g, c)});
  }
  return out;
}

TEST(ContigInfo, WalksAndLengths) {
  struct Case {
    const char *name;
    std::vector<uint32_t> lengths;
    std::vector<Edge> edges;
    std::vector<Contig> contigs;
    // Length of the first contig read backwards where it differs: the clamp
    // and the closing edge of a circle depend on where the walk starts.
    int32_t reverse_length = -1;
  } cases[] = {
      {"chain", {30, 40, 50}, {{0, 1, -10}, {1, 2, -5}}, {{0, 2, false, 105, 3}}},
      {"chain entered backwards", {30, 40, 50}, {{2 | R, 1 | R, -5}, {1 | R, 0 | R, -10}}, {{0, 2, false, 105, 3}}},
      {"circle with a positive closing distance", {30, 40, 50}, {{0, 1, -10}, {1, 2, -5}, {2, 0, 7}},
       {{0, 0, true, 105, 3}},
       30 + 7 + 50 - 5 + 40 - 10},
      {"circle with an overlap closing it", {30, 40, 50}, {{0, 1, -10}, {1, 2, -5}, {2, 0, -3}},
       {{0, 0, true, 102, 3}},
       30 - 3 + 50 - 5 + 40 - 10},
      {"two successors end a contig",
       {30, 40, 50},
       {{0, 1, -10}, {0, 2, -10}},
       {{0, 0, false, 30, 1}, {1, 1, false, 40, 1}, {2, 2, false, 50, 1}}},
      {"a hairpin ends the walk", {30, 40}, {{0, 1, -10}, {1, 1 | R, -4}}, {{0, 1, false, 60, 2}}},
      {"overlaps are clamped at 0", {10, 30}, {{0, 1, -25}}, {{0, 1, false, 30, 2}}, 30 - 25 + 10},
      {"an isolated node", {30}, {}, {{0, 0, false, 30, 1}}},
      {"a reverse step joins the strands", {30, 40}, {{0, 1 | R, -10}}, {{0, 1 | R, false, 60, 2}}},
  };
  for (const Case &c : cases) {
    Fixture f(c.lengths, c.edges);
    contig_info_t *info = contig_info_build(f.graph, 1, 1);
    EXPECT_EQ(contigs_of(info, f.graph), c.contigs) << c.name;
    for (int32_t k = 0; k < contig_info_get_contig_count(info); k++) {
      const auto rk = R | static_cast<oriented_id_t>(k);
      const int32_t expected = k == 0 && c.reverse_length >= 0 ? c.reverse_length : c.contigs[k].length;
      EXPECT_EQ(contig_info_get_contig_length(info, f.graph, rk), expected) << c.name;
      if (!c.contigs[k].circular) {
        EXPECT_EQ(contig_info_get_first_node(info, rk), fragment_graph_reverse_node(c.contigs[k].last)) << c.name;
        EXPECT_EQ(contig_info_get_last_node(info, rk), fragment_graph_reverse_node(c.contigs[k].first)) << c.name;
      }
    }
    // Every node lies in the contig whose walk passes it, on its strand.
    for (int32_t k = 0; k < contig_info_get_contig_count(info); k++) {
      const auto ck = static_cast<oriented_id_t>(k);
      oriented_id_t x = contig_info_get_first_node(info, ck);
      for (int32_t i = 0; i < c.contigs[k].nodes; i++) {
        EXPECT_EQ(contig_info_get_node_contig(info, x), ck) << c.name << " node " << x;
        EXPECT_EQ(contig_info_get_node_contig(info, fragment_graph_reverse_node(x)), R | ck) << c.name;
        const oriented_id_t e = fragment_graph_get_first_next_edge(f.graph, x);
        if (e != kOrientedIdNone) x = fragment_graph_get_edge_to_node(f.graph, e);
      }
    }
    EXPECT_EQ(fragment_graph_check_marks(f.graph, kOrientedIdNone), 1) << c.name;
    contig_info_free(info);
  }
}

TEST(ContigInfo, WithoutMapAndIdHelpers) {
  Fixture f({30, 40}, {{0, 1, -10}});
  contig_info_t *info = contig_info_build(f.graph, 1, 0);
  EXPECT_EQ(info->node_map, nullptr);
  EXPECT_EQ(contig_info_get_node_contig(info, 1), kOrientedIdNone);
  EXPECT_EQ(contig_info_reverse_contig(5), R | 5);
  EXPECT_EQ(contig_info_get_contig_index(R | 5), 5u);
  EXPECT_EQ(contig_info_contig_is_reverse(R | 5), 1);
  oriented_id_t first = 0, last = 0;
  contig_info_find_ends(f.graph, 1, &first, &last, 1);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(last, 1u);
  EXPECT_EQ(contig_info_free(info), nullptr);
  EXPECT_EQ(contig_info_free(nullptr), nullptr);
}

TEST(ContigInfo, PrintLines) {
  struct Case {
    std::vector<Edge> edges;
    const char *line;
  } cases[] = {
      {{{0, 1, -10}, {1, 2, -5}}, "Contig 00000000 (105) [00000000-00000002] circular=(no ): 00000000 00000001 00000002\n"},
      {{{0, 1, -10}, {1, 2, -5}, {2, 0, 7}},
       "Contig 00000000 (105) [00000000-00000000] circular=(yes): 00000000 00000001 00000002\n"},
  };
  for (const Case &c : cases) {
    Fixture f({30, 40, 50}, c.edges);
    contig_info_t *info = contig_info_build(f.graph, 1, 0);
    testing::internal::CaptureStdout();
    contig_info_print_contig(info, f.graph, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    contig_info_free(info);
  }
  Fixture single({30}, {});
  contig_info_t *info = contig_info_build(single.graph, 1, 0);
  testing::internal::CaptureStdout();
  contig_info_print_contig(info, single.graph, 0 | R);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Contig 80000000 (30) [80000000-80000000] circular=(no ): 80000000 80000000\n");
  contig_info_free(info);
}

// A chain 0 -> 1 -> 2 and a lone node 3; after the edge 2 -> 3 is added the
// first contig is walked again and takes 3 into its map.
TEST(ContigInfo, UpdateFollowsTheGraph) {
  Fixture f({30, 40, 50, 20}, {{0, 1, -10}, {1, 2, -5}});
  contig_info_t *info = contig_info_build(f.graph, 1, 1);
  ASSERT_EQ(contig_info_get_contig_count(info), 2);
  fragment_graph_add_edge(f.graph, 2, 3, -4);
  testing::internal::CaptureStdout();
  contig_info_update_contig(f.graph, info, 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Update: 00000000 for contig 00000000\nNext: 00000001\nUpdate: 00000001 for contig 00000000\n"
                 "Next: 00000002\nUpdate: 00000002 for contig 00000000\nNext: 00000003\n"
                 "Update: 00000003 for contig 00000000\n");
  EXPECT_EQ(contig_info_get_last_node(info, 0), 3u);
  EXPECT_EQ(contig_info_get_node_contig(info, 3), 0u);
  EXPECT_EQ(contig_info_get_contig_length(info, f.graph, 0), 121);
  EXPECT_EQ(fragment_graph_check_marks(f.graph, kOrientedIdNone), 1);
  contig_info_free(info);
}

TEST(ContigInfoDeath, BrokenContigsExit) {
  Fixture f({30, 40, 50}, {{0, 1, -10}, {1, 2, -5}});
  contig_info_t *info = contig_info_build(f.graph, 1, 0);
  fragment_graph_remove_edge(f.graph, fragment_graph_get_first_next_edge(f.graph, 1));
  EXPECT_EXIT(contig_info_get_contig_length(info, f.graph, 0), testing::ExitedWithCode(1),
              "error, contig_info_get_contig_length\n");
  EXPECT_EXIT(contig_info_get_contig_node_count(info, f.graph, 0), testing::ExitedWithCode(1),
              "error, contig_info_get_contig_length\n");
  contig_info_free(info);
  // A bubble start whose first branch leaves the bubble.
  Fixture g({30, 40, 50}, {{0, 1, -10}, {0, 2, -10}});
  g.graph->nodes[0].flags |= kGraphBubbleStartBit;
  EXPECT_EXIT(
      {
        dup2(2, 1);
        search_for_bubble_end(g.graph, 0);
      },
      testing::ExitedWithCode(1), "error, search_for_bubble_end 2");
  g.graph->nodes[1].flags |= kGraphBubbleNodeBit;
  EXPECT_EXIT(
      {
        dup2(2, 1);
        search_for_bubble_end(g.graph, 0);
      },
      testing::ExitedWithCode(1), "error, search_for_bubble_end 1");
}

}  // namespace
