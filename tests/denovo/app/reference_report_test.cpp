// Reference score report: contig paths, the path alignment against
// hand-computed matrices, and the report lines; the memory report sections.
#include "denovo/app/reference_report.h"

#include <gtest/gtest.h>

#include "app_test_util.h"
#include "denovo/app/memory_report.h"
#include "denovo/graph/fragment_graph_build.h"
#include "seqio/paired_setting.h"

namespace {

using app_test::GraphFixture;
using graph_test::R;

// A finished one-path read info.
read_info_t *path_of(uint32_t fragment_count, const std::vector<oriented_id_t> &fragments,
                     const std::vector<int32_t> &distances) {
  return graph_test::read_paths(fragment_count, {{fragments, distances}});
}

std::vector<std::pair<oriented_id_t, int32_t>> steps(const read_info_t *info) {
  std::vector<std::pair<oriented_id_t, int32_t>> out;
  const uint64_t n = read_info_get_path_length(info, 0);
  for (uint64_t e = 0; e < n; e++) {
    out.emplace_back(static_cast<oriented_id_t>(info->words[2 * e + 1]), e == 0 ? 0 : info->words[2 * e] >> 1);
  }
  return out;
}

TEST(ReferenceScore, ContigPath) {
  GraphFixture g({std::string(10, 'A'), std::string(10, 'C'), std::string(10, 'G'), std::string(6, 'T'),
                  std::string(8, 'A')},
                 {{0, 1 | R, -4}, {1 | R, 2, 3}, {3, 4, -2}, {4, 3, -2}});
  contig_info_t *info = g.contigs();
  ASSERT_EQ(contig_info_get_first_node(info, 0), 0u);
  read_info_t *forward = reference_score_contig_path(g.graph, info, 0, 29);
  ASSERT_NE(forward, nullptr);
  EXPECT_EQ(steps(forward), (std::vector<std::pair<oriented_id_t, int32_t>>{{0, 0}, {1 | R, -4}, {2, 3}}));
  read_info_t *reverse = reference_score_contig_path(g.graph, info, 0 | R, 29);
  ASSERT_NE(reverse, nullptr);
  EXPECT_EQ(steps(reverse), (std::vector<std::pair<oriented_id_t, int32_t>>{{2 | R, 0}, {1, 3}, {0 | R, -4}}));
  EXPECT_EQ(reference_score_contig_path(g.graph, info, 0, 30), nullptr);  // 10 - 4 + 10 + 3 + 10 = 29
  // The ring of nodes 3 and 4 is walked once round.
  ASSERT_EQ(contig_info_is_circular(info, 1), 1);
  read_info_t *ring = reference_score_contig_path(g.graph, info, 1, 0);
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(steps(ring).size(), 2u);
  read_info_free(forward);
  read_info_free(reverse);
  read_info_free(ring);
}

// Fragments 0 (A, 10), 1 (X, 5), 2 (B, 10), 3 (C, 7); the alignments
// computed by hand from the recurrence.
TEST(ReferenceScore, AlignPaths) {
  GraphFixture g({std::string(10, 'A'), std::string(5, 'C'), std::string(10, 'G'), std::string(7, 'T')}, {});
  struct Case {
    const char *name;
    std::vector<oriented_id_t> ref;
    std::vector<int32_t> ref_distances;
    std::vector<oriented_id_t> contig;
    std::vector<int32_t> contig_distances;
    int32_t tolerance;
    int32_t score, covered, step;
  };
  const std::vector<Case> cases = {
      {"identical", {0, 2}, {-4}, {0, 2}, {-4}, 0, 16, 16, 2},
      {"skipped stretch bridged within tolerance", {0, 1, 2}, {2, 3}, {0, 2}, {10}, 20, 30, 30, 3},
      {"no tolerance without pairs", {0, 1, 2}, {2, 3}, {0, 2}, {10}, 0, 23, 30, 3},
      {"nothing in common", {3}, {}, {0}, {}, 0, 0, 0, 0},
      {"other strand does not match", {0 | R}, {}, {0}, {}, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    read_info_t *ref = path_of(4, c.ref, c.ref_distances);
    read_info_t *contig = path_of(4, c.contig, c.contig_distances);
    int32_t covered = -7, step = -7;
    EXPECT_EQ(reference_score_align_paths(g.graph, ref, contig, c.tolerance, &covered, &step), c.score) << c.name;
    EXPECT_EQ(covered, c.covered) << c.name;
    EXPECT_EQ(step, c.step) << c.name;
    read_info_free(ref);
    read_info_free(contig);
  }
}

TEST(ReferenceScore, Report) {
  // Contig 0: A -(-4)-> B, matching the reference; contig 1: X, not on it;
  // contig 2: F(5) -(-10)-> G(20), 20 bases long but no path of 18 bases.
  GraphFixture g({std::string(10, 'A'), std::string(10, 'C'), std::string(5, 'G'), std::string(5, 'T'),
                  std::string(20, 'A')},
                 {{0, 1, -4}, {3, 4, -10}});
  contig_info_t *info = g.contigs();
  ASSERT_EQ(contig_info_get_contig_count(info), 3);
  ASSERT_EQ(contig_info_get_first_node(info, 2), 3u);
  read_info_t *ref = path_of(5, {0, 1}, {-4});
  testing::internal::CaptureStdout();
  reference_score_report(g.graph, &g.table, info, 5, ref);
  const std::string out = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  read_info_print(ref);
  const std::string ref_line = testing::internal::GetCapturedStdout();
  read_info_t *x = path_of(5, {2}, {});
  read_info_t *y = path_of(5, {3, 4}, {-10});
  testing::internal::CaptureStdout();
  read_info_print(x);
  const std::string x_line = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  read_info_print(y);
  const std::string y_line = testing::internal::GetCapturedStdout();
  // Contig 0 follows the reference over its whole length: no line.
  EXPECT_EQ(out, "Reference:\n" + ref_line + "\n\n" +
                     "Score for contig 00000001: 0/5/0 (score, contig_score, ref_score)\n" + x_line +
                     "Score for contig 00000002: 0/20/0 (score, contig_score, ref_score)\n" + y_line +
                     "Total score:                                    16/41/16 (score, contig_score, ref_score)\n");
  // With a minimum of 18 only contig 2 passes the length test, and neither
  // of its orientations gives a path of 18 bases.
  testing::internal::CaptureStdout();
  reference_score_report(g.graph, &g.table, info, 18, ref);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Reference:\n" + ref_line + "\n\n" +
                "Score for contig 00000002: -1/20/0 (score, contig_score, ref_score)\n"
                "Total score:                                    -1/20/0 (score, contig_score, ref_score)\n");
  testing::internal::CaptureStdout();
  reference_score_report(g.graph, &g.table, info, 5, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  read_info_free(ref);
  read_info_free(x);
  read_info_free(y);
}

TEST(ReferenceScore, MatrixPrint) {
  const int32_t m[6] = {1, 2, 3, 40, 5, -6};  // 2 rows, 3 columns, by column
  testing::internal::CaptureStdout();
  reference_score_print_matrix(m, 2, 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0:    1    3    5 \n1:    2   40   -6 \n");
}

TEST(ReferenceScore, ContigOfFragment) {
  GraphFixture g({"AAAA", "CCCC", "GGGG"}, {{0, 1, 2}});
  // Chains the nodes of each fragment through the other-node links (a new
  // graph holds its not-done list there).
  fragment_graph_set_other_nodes(g.graph);
  contig_info_t *info = g.contigs();
  EXPECT_EQ(reference_score_contig_of_read(g.graph, info, nullptr, 1, kReadPtrNone), 0u);
  EXPECT_EQ(reference_score_contig_of_read(g.graph, info, nullptr, 1 | R, kReadPtrNone), 0u | R);
  EXPECT_EQ(reference_score_contig_of_read(g.graph, info, nullptr, 2, kReadPtrNone), 1u);
  // A second node of fragment 2 on contig 0 makes the answer ambiguous.
  const oriented_id_t copy = fragment_graph_new_node(g.graph, 2);
  fragment_graph_add_edge(g.graph, 1, copy, 0);
  fragment_graph_set_other_nodes(g.graph);
  ASSERT_EQ(fragment_graph_get_other_node(g.graph, 2), copy);
  contig_info_free(g.info);
  g.info = nullptr;
  info = g.contigs();
  EXPECT_EQ(reference_score_contig_of_read(g.graph, info, nullptr, 2, kReadPtrNone), kOrientedIdNone);
  // A read path position is followed back to its start.
  read_info_t *reads = path_of(3, {0, 1}, {2});
  EXPECT_EQ(reference_score_contig_of_read(g.graph, info, reads, kOrientedIdNone, 1), 0u);
  read_info_free(reads);
}

// The read table section against sizes worked out by hand.
TEST(MemoryReport, Sections) {
  read_table_t table{};
  table.read_info = read_info_new(4);
  table.read_info->count = 9;  // words in use: 36 bytes
  table.read_info->offsets = bit_field_array_new(5, 16);        // 4 x 16 / 8 = 8
  table.read_info->occurrences = bit_field_array_new(11, 12);   // 10 x 12 / 8 = 15
  table.read_info->reverse_order = bit_field_array_new(1, 30);  // 0
  paired_setting_t *setting = paired_setting_parse("fb", "ss", 100, 100000);
  pair_dist_info_t *histograms[2] = {nullptr, pair_dist_info_new(setting, 1)};  // R = 120000
  table.pair_dist_info = histograms;
  table.file_count = 2;
  table.read_pair_info = read_pair_info_new(4);
  table.read_pair_info->count = 3;
  table.end_info = end_info_new(4, 4);
  const uint8_t symbols[6] = {0, 1, 2, 3, 0, 1};
  end_info_add(table.end_info, 0, symbols, 6);
  end_info_add(table.end_info, 1 | R, symbols, 2);
  const memory_report_read_table_t m = memory_report_measure_read_table(&table);
  EXPECT_EQ(m.read_info, 8u + 15u + 0u + 36u + 200u);
  EXPECT_EQ(m.pair_dist_info, 8u * 120000u + 64u);
  EXPECT_EQ(m.read_pair_info, 24u * 3u + 40u);  // no copy sorted by end 2
  EXPECT_EQ(m.end_info, 32u + 6u + 32u + 2u);
  FILE *f = tmpfile();
  memory_report_write_read_table(f, &table);
  memory_report_write_hash_table(f, nullptr);
  EXPECT_EQ(app_test::contents(f),
            "READ_TABLE:\n"
            "read info: 259B (0.000247MB)\n"
            "pair dist info: 960064B (0.915588MB)\n"
            "read pair info: 112B (0.000107MB)\n"
            "end info: 72B (0.000069MB)\n"
            "\n"
            "HASH TABLE (deleted after fragments has been created):\n"
            "3x hash table size: 0B (0.000000MB)\n"
            "\n");
  fclose(f);
  // Without a file nothing is written and nothing fails.
  memory_report_write_read_table(nullptr, &table);
  memory_report_write_hash_table(nullptr, nullptr);
  table.pair_dist_info = nullptr;
  pair_dist_info_free(histograms[1]);
  paired_setting_free(setting);
  read_info_free(table.read_info);
  read_pair_info_free(table.read_pair_info);
  end_info_free(table.end_info);
}

}  // namespace
