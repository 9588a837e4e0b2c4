// The paired driver's pieces on hand-built graphs: which contigs take part,
// claims of contig ends, the node form of contig paths, edge removals at
// either end of a path set, scaffold links from the placement test and the
// evaluation of one contig end (budget, short-library and scaffolding
// switches).
#include "denovo/app/paired_optimize.h"

#include <gtest/gtest.h>

#include "denovo/graph/fragment_graph_build_by_path.h"
#include "paired_test_util.h"

namespace {

using namespace graph_test;
using paired_test::PairedFixture;

// A job over the fixture's context whose lists are read back as tuples
// and freed here.
struct Job {
  paired_optimize_job_t job{};
  explicit Job(PairedFixture &f, int32_t short_library = 1, int32_t scaffolding = 1) {
    job.edge_removals = array_list_new(sizeof(void *));
    job.scaffold_links = array_list_new(sizeof(void *));
    job.contig_paths = array_list_new(sizeof(void *));
    f.contigs();
    job.context = &f.context;
    job.short_library = short_library;
    job.bubble_size = 150;
    job.scaffolding = scaffolding;
  }
  ~Job() {
    for (array_list_t *list : {job.edge_removals, job.scaffold_links, job.contig_paths}) {
      for (uint64_t i = 0; i < list->count; i++) {
        paired_result_free(*static_cast<paired_optimize_result_t **>(array_list_get_item(list, i)));
      }
      array_list_free(list);
    }
  }
  // Kind-1 and kind-6 results as (field 1, field 2, field 3).
  std::vector<Edge> removals() const { return fields(job.edge_removals, true); }
  std::vector<Edge> links() const { return fields(job.scaffold_links, false); }
  static std::vector<Edge> fields(const array_list_t *list, bool removal) {
    std::vector<Edge> out;
    for (uint64_t i = 0; i < list->count; i++) {
      const auto *r = *static_cast<paired_optimize_result_t **>(array_list_get_item(list, i));
      if (removal) {
        out.emplace_back(r->removal.edge, r->removal.node, r->removal.target);
      } else {
        out.emplace_back(r->link.from, r->link.to, r->link.gap);
      }
    }
    return out;
  }
};

TEST(PairedOptimize, Eligibility) {
  // 0: lone, 39 bases. 1: lone, 40. 2 -> 3: 39 bases with an edge.
  // 4 -> 5 -> 4: circular. 6: lone, later given the bubble-node bit.
  PairedFixture f({39, 40, 39, 100, 100, 100, 100}, {{2, 3, -20}, {4, 5, -20}, {5, 4, -20}});
  ASSERT_NE(f.contigs(), nullptr);
  f.graph->nodes[6].flags |= kGraphBubbleNodeBit;
  const struct {
    oriented_id_t node;
    int eligible;
  } cases[] = {{0, 0}, {1, 1}, {2, 1}, {4, 0}, {6, 0}};
  for (const auto &c : cases) {
    const oriented_id_t contig = f.contig_of(c.node);
    ASSERT_NE(contig, kOrientedIdNone) << c.node;
    EXPECT_EQ(paired_contig_is_eligible(&f.context, static_cast<int32_t>(contig_info_get_contig_index(contig))),
              c.eligible)
        << c.node;
  }
}

TEST(PairedOptimize, ClaimOncePerEnd) {
  PairedFixture f({100, 100}, {{0, 1, -20}});
  const contig_info_t *info = f.contigs();
  const oriented_id_t c = contig_info_get_contig_index(f.contig_of(0));
  const oriented_id_t last = contig_info_get_last_node(info, c);
  // One thread: marks 1 and 2 of the contig's last node.
  EXPECT_EQ(contig_end_claim(f.graph, info, c, nullptr), 0);
  EXPECT_EQ(contig_end_claim(f.graph, info, c, nullptr), 1);
  EXPECT_EQ(fragment_graph_get_mark1(f.graph, last), 1);
  EXPECT_EQ(fragment_graph_get_mark2(f.graph, last), 0);
  EXPECT_EQ(contig_end_claim(f.graph, info, c | R, nullptr), 0);
  EXPECT_EQ(contig_end_claim(f.graph, info, c | R, nullptr), 1);
  EXPECT_EQ(fragment_graph_get_mark2(f.graph, last), 1);
  // Workers: the shared bitmap, node flags untouched.
  fragment_graph_clear_all_flags(f.graph);
  paired_shared_t shared{};
  shared.claim_count = f.graph->node_count;
  shared.claims = new std::atomic<uint8_t>[static_cast<size_t>(shared.claim_count)]();
  thread_args_t args{};
  args.context = &shared;
  EXPECT_EQ(contig_end_claim(f.graph, info, c | R, &args), 0);
  EXPECT_EQ(contig_end_claim(f.graph, info, c, &args), 0);
  EXPECT_EQ(contig_end_claim(f.graph, info, c, &args), 1);
  EXPECT_EQ(contig_end_claim(f.graph, info, c | R, &args), 1);
  EXPECT_EQ(f.graph->nodes[fragment_graph_node_index(last)].flags, 0);
  delete[] shared.claims;
}

// Contigs {0}, {1, 2, 3}, {4} and single-node contigs 5 to 8: 0 also leads
// to 7, 5 also into 1, 3 also to 6, 8 also into 4.
std::vector<Edge> chain_edges() {
  return {{0, 1, -20}, {1, 2, 5}, {2, 3, -10}, {3, 4, 7}, {0, 7, -20}, {5, 1, -20}, {3, 6, -20}, {8, 4, -20}};
}

TEST(PairedOptimize, PathToNodes) {
  PairedFixture f(std::vector<uint32_t>(9, 100), chain_edges());
  const oriented_id_t c0 = f.contig_of(0), c1 = f.contig_of(1), c4 = f.contig_of(4);
  ASSERT_EQ(f.contig_of(3), c1);
  paired_link_t link{};
  std::vector<oriented_id_t> forward = {c0, c1, c4};
  std::vector<oriented_id_t> backward = {c4 ^ R, c1 ^ R, c0 ^ R};
  const struct {
    std::vector<oriented_id_t> *contigs;
    std::vector<oriented_id_t> nodes;
  } cases[] = {{&forward, {0, 1, 2, 3, 4}}, {&backward, {4 | R, 3 | R, 2 | R, 1 | R, 0 | R}}};
  for (const auto &c : cases) {
    const contig_path_t path{3, c.contigs->data(), 77, &link};
    contig_path_t *nodes = contig_path_to_nodes(&f.context, &path);
    EXPECT_EQ(paired_test::ids(nodes), c.nodes);
    EXPECT_EQ(nodes->distance, 77);
    EXPECT_EQ(nodes->link, &link);
    contig_path_free(nodes);
  }
}

TEST(PairedOptimize, EdgeRemovalsAtEitherEnd) {
  PairedFixture f(std::vector<uint32_t>(9, 100), chain_edges());
  Job j(f);
  contig_path_list_t *set = contig_path_list_new_single(3, 77, nullptr);
  set->paths[0]->ids[0] = f.contig_of(0);
  set->paths[0]->ids[1] = f.contig_of(1);
  set->paths[0]->ids[2] = f.contig_of(4);
  const oriented_id_t e07 = fragment_graph_find_next_edge_to(f.graph, 0, 7);
  const oriented_id_t e48 = fragment_graph_find_next_edge_to(f.graph, 4 | R, 8 | R);
  paired_results_add_edge_removals(&j.job, nullptr, set, 0);
  EXPECT_EQ(j.removals(), (std::vector<Edge>{{e07, 0, 7}}));
  paired_results_add_edge_removals(&j.job, nullptr, set, 1);
  EXPECT_EQ(j.removals(), (std::vector<Edge>{{e07, 0, 7}, {e48, 4 | R, 8 | R}}));
  // No path, or an empty set: nothing shows which edge is wrong.
  contig_path_list_t *empty = contig_path_list_new(1);
  paired_results_add_edge_removals(&j.job, nullptr, nullptr, 0);
  paired_results_add_edge_removals(&j.job, nullptr, empty, 0);
  EXPECT_EQ(j.removals().size(), 2u);
  contig_path_list_free(empty);
  contig_path_list_free(set);
}

TEST(PairedOptimize, ScaffoldLinksNeedSourceOf120Bases) {
  // Source contig 0 of the given length, target contig 1 of 500 bases.
  const struct {
    uint32_t source;
    int32_t centre;
    size_t links;
  } cases[] = {{119, 100, 0}, {120, 100, 1}, {120, -500, 0}, {600, -499, 1}, {600, -600, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << " " << c.centre);
    PairedFixture f({c.source, 500}, {});
    Job j(f);
    const oriented_id_t target = f.contig_of(1);
    contig_links_t *links = contig_links_new(
        &f.context, paired_test::link_list({{target, 5, c.centre - 50, c.centre + 50, c.centre}}), 0, 1, 100);
    array_list_t *candidates = array_list_new(sizeof(paired_link_t *));
    paired_results_add_scaffold_links(&j.job, nullptr, links, candidates);
    EXPECT_EQ(j.links().size(), c.links);
    if (c.links == 1) {
      EXPECT_EQ(j.links()[0], (Edge{0, 1 | R, c.centre}));
    }
    array_list_free(candidates);
    contig_links_free(links);
  }
}

TEST(PairedOptimize, EvaluateSwitches) {
  // The source end (node 0) branches to 2 and 3; its one link leads to
  // contig 1 (500 bases). No path was enumerated.
  const struct {
    int32_t budget;
    int32_t scaffolding;
    size_t links;
  } cases[] = {{100, 1, 1}, {0, 1, 1}, {100, 0, 0}, {0, 0, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.budget << " " << c.scaffolding);
    PairedFixture f({300, 500, 100, 100}, {{0, 2, -20}, {0, 3, -20}});
    Job j(f, 1, c.scaffolding);
    contig_links_t *links =
        contig_links_new(&f.context, paired_test::link_list({{f.contig_of(1), 5, 50, 150, 100}}), 0, 1, c.budget);
    paired_optimize_evaluate(&j.job, nullptr, links, nullptr, nullptr);
    EXPECT_TRUE(j.removals().empty());  // budget left but no path: no removal
    EXPECT_EQ(j.links().size(), c.links);
    EXPECT_EQ(j.job.contig_paths->count, 0u);
    contig_links_free(links);
  }
}

TEST(PairedOptimize, EdgeRemovalsOnlyForShortLibraries) {
  // The end of contig 0 branches to 2 and 3; the one enumerated path runs
  // 0 -> 2, so the edge to 3 goes, but only with a short-insert library.
  for (int32_t short_library : {1, 0}) {
    SCOPED_TRACE(short_library);
    PairedFixture f({300, 500, 100, 100}, {{0, 2, -20}, {0, 3, -20}});
    Job j(f, short_library, 0);
    contig_links_t *links =
        contig_links_new(&f.context, paired_test::link_list({{f.contig_of(2) ^ R, 5, -50, 50, 0}}), 0, 1, 100);
    contig_path_list_t *paths = contig_path_list_new_single(2, -20, paired_link_list_get(links->links, 0));
    paths->paths[0]->ids[0] = f.contig_of(0);
    paths->paths[0]->ids[1] = f.contig_of(2);
    paired_optimize_evaluate(&j.job, nullptr, links, nullptr, paths);
    const oriented_id_t e03 = fragment_graph_find_next_edge_to(f.graph, 0, 3);
    const std::vector<Edge> expected = short_library ? std::vector<Edge>{{e03, 0, 3}} : std::vector<Edge>{};
    EXPECT_EQ(j.removals(), expected);
    // Two contigs are never a confirmed path.
    EXPECT_EQ(j.job.contig_paths->count, 0u);
    contig_path_list_free(paths);
    contig_links_free(links);
  }
}

}  // namespace
