// component_build on a graph made from simulated reads: a genome with a
// repeat longer than the word size but shorter than the reads, occurring
// twice. The window on the repeat node is separated into one copy per
// occurrence, after which the genome reads as one unbranched chain.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "denovo/graph/component_build.h"
#include "denovo/graph/component_window.h"
#include "denovo/graph/components.h"
#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/fragment_graph_check.h"
#include "denovo/reads/fragment_builder.h"
#include "denovo/reads/read_table.h"
#include "denovo/reads/word_counter_pass.h"
#include "read_optimize_harness.h"

namespace {

using fragment_test::Codes;


int32_t count_list(const fragment_graph_t *g, oriented_id_t n) {
  int32_t c = 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, n); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(g, e))
    c++;
  return c;
}

// Live nodes that branch on either side.
std::vector<oriented_id_t> branching_nodes(const fragment_graph_t *g) {
  std::vector<oriented_id_t> out;
  for (int32_t s = 0; s < g->node_count; s++) {
    const auto n = static_cast<oriented_id_t>(s);
    if (fragment_graph_is_disabled(g, n)) continue;
    if (count_list(g, n) > 1 || count_list(g, fragment_graph_reverse_node(n)) > 1) out.push_back(n);
  }
  return out;
}

TEST(ComponentBuildRepeat, RepeatWindowIsSeparated) {
  constexpr int k = 21;
  std::mt19937_64 rng(7);
  const Codes repeat = fragment_test::random_codes(rng, 50);
  const Codes genome =
      fragment_test::concat({fragment_test::random_codes(rng, 300), repeat, fragment_test::random_codes(rng, 300),
                             repeat, fragment_test::random_codes(rng, 300)});
  std::vector<Codes> reads;
  for (size_t s = 0; s + 100 <= genome.size(); s += 2) {
    reads.push_back(fragment_test::slice(genome, s, 100));
    reads.push_back(fragment_test::reverse_complement(reads.back()));
  }
  optimize_harness::Assembly b(reads, k);
  // The walks rely on sorted edge lists, as the assembler leaves them.
  fragment_graph_sort_edges(b.graph);
  // The repeat is the one node with two ways in and two ways out.
  const std::vector<oriented_id_t> branching = branching_nodes(b.graph);
  ASSERT_EQ(branching.size(), 1u);
  const oriented_id_t r = branching[0];
  ASSERT_EQ(count_list(b.graph, r), 2);
  ASSERT_EQ(count_list(b.graph, fragment_graph_reverse_node(r)), 2);

  component_window_t *c = component_window_new(b.graph, b.table->read_info, 10);
  component_window_set_nodes(c, &r, 1);
  component_list_t *list = component_get_components(c, 0);
  ASSERT_EQ(list->component_count, 2);
  EXPECT_EQ(list->sizes[0], 1);
  EXPECT_EQ(list->sizes[1], 1);
  EXPECT_NE(component_build(c, list), 0);
  EXPECT_EQ(fragment_graph_is_disabled(b.graph, r), 1);
  EXPECT_TRUE(branching_nodes(b.graph).empty());
  // Two live copies of the repeat's fragment, each on its own way through.
  int copies = 0;
  for (int32_t s = 0; s < b.graph->node_count; s++)
    if (!fragment_graph_is_disabled(b.graph, static_cast<oriented_id_t>(s)) &&
        b.graph->nodes[s].fragment == fragment_graph_get_node_fragment(b.graph, r)) {
      copies++;
      EXPECT_EQ(count_list(b.graph, static_cast<oriented_id_t>(s)), 1);
      EXPECT_EQ(count_list(b.graph, static_cast<oriented_id_t>(s) | kOrientedIdReverse), 1);
    }
  EXPECT_EQ(copies, 2);
  // From the genome's first unique node the chain now runs once through
  // each copy: unique, repeat, unique, repeat, unique.
  oriented_id_t start = kOrientedIdNone;
  for (int32_t s = 0; s < b.graph->node_count && start == kOrientedIdNone; s++)
    for (oriented_id_t n : {static_cast<oriented_id_t>(s), static_cast<oriented_id_t>(s) | kOrientedIdReverse})
      if (!fragment_graph_is_disabled(b.graph, n) && count_list(b.graph, fragment_graph_reverse_node(n)) == 0 &&
          count_list(b.graph, n) == 1) {
        start = n;
        break;
      }
  ASSERT_NE(start, kOrientedIdNone);
  std::vector<oriented_id_t> spelled;
  for (oriented_id_t n = start; n != kOrientedIdNone && spelled.size() < 10;) {
    spelled.push_back(fragment_graph_node_index(fragment_graph_get_node_fragment(b.graph, n)));
    const oriented_id_t e = fragment_graph_get_first_next_edge(b.graph, n);
    n = e == kOrientedIdNone ? kOrientedIdNone : fragment_graph_get_edge_to_node(b.graph, e);
  }
  const oriented_id_t rf = fragment_graph_node_index(fragment_graph_get_node_fragment(b.graph, r));
  ASSERT_EQ(spelled.size(), 5u);
  EXPECT_EQ(spelled[1], rf);
  EXPECT_EQ(spelled[3], rf);
  EXPECT_EQ(std::set<oriented_id_t>({spelled[0], spelled[2], spelled[4], rf}).size(), 4u);
  EXPECT_EQ(fragment_graph_check_links(b.graph, kOrientedIdNone), 1);
  EXPECT_EQ(fragment_graph_check_bubbles(b.graph, kOrientedIdNone), 1);
  EXPECT_EQ(fragment_graph_check_marks(b.graph, kOrientedIdNone), 1);
  EXPECT_EQ(fragment_graph_check_sorted(b.graph), 0);
  component_window_free(c);
}

}  // namespace
