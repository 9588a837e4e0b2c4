// The driver's diagnostic routines: timing lines, the census of nodes that
// reads pass through, connected components and the pairing words.
#include "denovo/app/denovo_diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "common/clock.h"
#include "tests/denovo/graph/graph_test_util.h"

namespace {

using namespace graph_test;

TEST(DenovoDiagnostics, TimingLines) {
  const std::string spaces(25, ' ');
  testing::internal::CaptureStdout();
  denovo_print_elapsed("words", time_get_usec() - 2500000);
  denovo_print_elapsed("fragments", time_get_usec() - 200);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "words: 2.5 s" + spaces + "\nfragments: 0 ms" + spaces + "\n");
  int64_t start = time_get_usec() - 3000;
  testing::internal::CaptureStdout();
  denovo_print_lap("graph", &start);
  const std::string line = testing::internal::GetCapturedStdout();
  EXPECT_EQ(line.substr(0, 7), "graph: ");
  EXPECT_EQ(line.substr(line.size() - 29), " ms" + spaces + "\n");
  EXPECT_GE(start, time_get_usec() - 1000000);
}

// Chains 0 - 1 - 2 and 3 - 4' (joined through the reverse strand), node 5
// alone, node 6 disabled; one read walks 0 1 2, one sits on 3 alone.
TEST(DenovoDiagnostics, NodesAndComponents) {
  {
    HandGraph g(fragments_of_lengths({30, 30, 30, 30, 30, 30, 30}), {{0, 1, -5}, {1, 2, -5}, {3, 4 | R, -5}});
    fragment_graph_disable_node(g.graph, 6);
    read_info_t *info = read_paths(7, {{{0, 1, 2}, {-5, -5}, 2}, {{3}, {}, 1}});
    testing::internal::CaptureStdout();
    // Live 0 to 5; only fragment 1 has a read with a previous and a next step.
    EXPECT_EQ(denovo_count_active_nodes(g.graph, info), 5);
    EXPECT_EQ(denovo_count_connected_components(g.graph), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nactive node 6\nnumber of connected components 3\n");
    read_info_free(info);
  }

  fragment_graph_t *empty = fragment_graph_new(0, 21);
  read_info_t *none = read_paths(0, {});
  testing::internal::CaptureStdout();
  EXPECT_EQ(denovo_count_active_nodes(empty, none), 0);
  EXPECT_EQ(denovo_count_connected_components(empty), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nactive node 0\nnumber of connected components 0\n");
  read_info_free(none);
  fragment_graph_free(empty);
}

TEST(DenovoDiagnostics, PairingWords) {
  struct Case {
    const char *orientation;
    int status;
    const char *mode;
  } cases[] = {{"ff", 0, "se"}, {"fb", 0, "ss"}, {"bf", 0, "ee"}, {"bb", 0, "es"},
               {"FB", 1, "xx"}, {"f", 1, "xx"},  {"fbb", 1, "xx"}, {nullptr, 1, "xx"}};
  for (const auto &c : cases) {
    char out[3] = {'x', 'x', '\0'};
    EXPECT_EQ(denovo_orientation_to_distance_mode(c.orientation, out), c.status);
    EXPECT_STREQ(out, c.mode);
  }
  for (const char *word : {"ss", "se", "es", "ee"}) EXPECT_EQ(denovo_is_distance_mode(word), 1) << word;
  for (const char *word : {"sS", "s", "sse", "fb", "", static_cast<const char *>(nullptr)}) {
    EXPECT_EQ(denovo_is_distance_mode(word), 0);
  }
}

}  // namespace
