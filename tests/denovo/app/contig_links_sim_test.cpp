// Contig links on simulated read pairs: a genome U1 R U2 R U3 with a
// repeat R assembles into contigs that break at the repeat; pairs drawn at
// exactly one distance must give links whose centre is the true gap
// between the contigs on the genome, and path enumeration from U1 must
// find the path through R to U2.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "denovo/app/contig_links.h"
#include "denovo/app/contig_paths.h"
#include "denovo/app/paired_optimize_records.h"
#include "denovo/graph/dead_ends.h"
#include "denovo/graph/weak_edges.h"
#include "tests/denovo/graph/read_optimize_harness.h"

namespace {

using read_sim::Codes;

constexpr int32_t kWord = 21;
constexpr int32_t kDistance = 500;

struct SimRun {
  Codes genome;
  paired_setting_t *setting;
  std::unique_ptr<optimize_harness::Assembly> assembly;
  read_table_t *table;
  fragment_graph_t *graph;

  // Pairs of 100-base reads in the given orientation, every one exactly
  // kDistance apart, about 60-fold coverage.
  SimRun(int32_t orientation, uint64_t seed) {
    std::mt19937_64 rng(seed);
    const Codes repeat = fragment_test::random_codes(rng, 250);
    genome = fragment_test::concat({fragment_test::random_codes(rng, 1500), repeat,
                                    fragment_test::random_codes(rng, 600), repeat,
                                    fragment_test::random_codes(rng, 1500)});
    setting = paired_setting_new(orientation, 0, kDistance - 50, kDistance + 50);
    std::vector<Codes> reads;
    while (reads.size() < 2 * 1300) {
      read_sim::Pair p;
      if (!read_sim::draw_pair(rng, genome, *setting, 100, kDistance, &p)) continue;
      reads.push_back(p.mate1);
      reads.push_back(p.mate2);
    }
    assembly = std::make_unique<optimize_harness::Assembly>(reads, kWord, setting);
    table = assembly->table;
    graph = assembly->graph;
    fragment_graph_clear_all_flags(graph);
    fragment_graph_sort_edges(graph);
    remove_weak_edges(graph, table, -1, 40, nullptr);
    remove_dead_ends(graph, nullptr);
    fragment_graph_set_other_nodes(graph);
  }
  ~SimRun() {
    assembly.reset();  // the read table points at the setting
    paired_setting_free(setting);
  }
  SimRun(const SimRun &) = delete;
  SimRun &operator=(const SimRun &) = delete;
};

// The contig's bases, from its first to its last node along first edges.
Codes spell(const paired_context_t *c, oriented_id_t contig) {
  oriented_id_t node = contig_info_get_first_node(c->contigs, contig);
  const oriented_id_t last = contig_info_get_last_node(c->contigs, contig);
  Codes out = optimize_harness::node_codes(c->graph, node);
  while (node != last) {
    const oriented_id_t e = fragment_graph_get_first_next_edge(c->graph, node);
    if (e == kOrientedIdNone) break;
    const int32_t d = fragment_graph_get_edge_distance(c->graph, e);
    node = fragment_graph_get_edge_to_node(c->graph, e);
    const Codes next = optimize_harness::node_codes(c->graph, node);
    if (d < 0) {
      out.insert(out.end(), next.begin() + std::min<size_t>(next.size(), static_cast<size_t>(-d)), next.end());
    } else {
      out.insert(out.end(), static_cast<size_t>(d), 4);
      out.insert(out.end(), next.begin(), next.end());
    }
  }
  return out;
}

// The one place where part occurs in text, or -1 when it occurs never or
// more than once.
int64_t unique_position(const Codes &text, const Codes &part) {
  auto at = std::search(text.begin(), text.end(), part.begin(), part.end());
  if (at == text.end()) return -1;
  if (std::search(at + 1, text.end(), part.begin(), part.end()) != text.end()) return -1;
  return at - text.begin();
}

struct Checked {
  int links = 0;       // links whose two contigs lie once on the genome
  int off = 0;         // of those, centres more than 3 bases from the true gap
  int repeat_ok = 0;   // links into a contig that lies on the genome twice
  std::string first_off;
};

Checked check_links(SimRun &run, paired_context_t *context) {
  Checked r;
  const Codes back = fragment_test::reverse_complement(run.genome);
  const int32_t n = contig_info_get_contig_count(context->contigs);
  for (int32_t i = 0; i < n; i++) {
    for (const oriented_id_t c : {static_cast<oriented_id_t>(i), contig_info_reverse_contig(i)}) {
      if (contig_info_is_circular(context->contigs, c)) continue;
      contig_links_t *links = contig_links_build(context, c);
      const Codes source = spell(context, c);
      for (uint64_t j = 0; j < links->links->count; j++) {
        const paired_link_t *l = paired_link_list_get(links->links, j);
        const Codes next = spell(context, contig_info_reverse_contig(l->target));
        // Read both on the strand where the source contig lies once.
        const Codes *strand = &run.genome;
        int64_t a = unique_position(run.genome, source);
        if (a < 0) {
          strand = &back;
          a = unique_position(back, source);
        }
        const int64_t b = unique_position(*strand, next);
        if (a < 0 || b < 0) {
          r.repeat_ok++;
          continue;
        }
        const int64_t gap = b - (a + static_cast<int64_t>(source.size()));
        r.links++;
        if (std::llabs(gap - l->centre) > 3) {
          if (r.off++ == 0)
            r.first_off = "gap " + std::to_string(gap) + " centre " + std::to_string(l->centre) + " [" +
                          std::to_string(l->min_gap) + ", " + std::to_string(l->max_gap) + "]";
        }
      }
      contig_links_free(links);
    }
  }
  return r;
}

// Every library orientation (the read table turns the ends of ff, bf and bb
// pairs to read as fb).
TEST(ContigLinksSim, CentresAreTheTrueGaps) {
  for (int32_t orientation = 0; orientation < 4; orientation++) {
    SimRun run(orientation, 11);
    paired_optimize_job_t *job = paired_optimize_job_new(run.graph, run.table, 50, 1);
    ASSERT_GE(contig_info_get_contig_count(job->context->contigs), 4);
    const Checked r = check_links(run, job->context);
    EXPECT_GE(r.links, 4) << orientation;  // U1 <-> U2 and U2 <-> U3, both ways
    EXPECT_EQ(r.off, 0) << orientation << ": " << r.first_off;
    paired_optimize_job_free(job);
  }
}

// From the end of U1 the graph offers U1 -> R -> U2 and U1 -> R -> U3;
// the link to U2 is explained by the path through R alone.
TEST(ContigLinksSim, PathThroughTheRepeatIsFound) {
  SimRun run(1, 13);
  paired_optimize_job_t *job = paired_optimize_job_new(run.graph, run.table, 50, 1);
  paired_context_t *context = job->context;
  const Codes u1 = fragment_test::slice(run.genome, 200, 1000);
  int found = 0;
  const int32_t n = contig_info_get_contig_count(context->contigs);
  for (int32_t i = 0; i < n; i++) {
    for (const oriented_id_t c : {static_cast<oriented_id_t>(i), contig_info_reverse_contig(i)}) {
      const Codes s = spell(context, c);
      // The contig holding the middle of U1, in the genome's orientation.
      if (std::search(s.begin(), s.end(), u1.begin(), u1.end()) == s.end()) continue;
      contig_links_t *links = contig_links_build(context, c);
      contig_path_list_t *paths = contig_paths_enumerate_links(links);
      ASSERT_NE(paths, nullptr);
      EXPECT_GT(links->budget, 0);
      int32_t unique = 0;
      contig_path_list_t *reduced = contig_paths_reduce(links, paths, &unique);
      ASSERT_NE(reduced, nullptr);
      for (int32_t p = 0; p < reduced->count; p++) {
        const contig_path_t *path = reduced->paths[p];
        if (path->count != 3) continue;
        const Codes last = spell(context, path->ids[2]);
        const Codes u2 = fragment_test::slice(run.genome, 1750 + 100, 400);
        if (std::search(last.begin(), last.end(), u2.begin(), u2.end()) != last.end()) found++;
      }
      contig_path_list_free(reduced);
      contig_path_list_free(paths);
      contig_links_free(links);
    }
  }
  EXPECT_EQ(found, 1);
  paired_optimize_job_free(job);
}

}  // namespace
