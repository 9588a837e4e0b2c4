// Pair-distance collection: pairs placed along hand-built contigs (unique
// fragments, read-path ends, ends anchored past a repeated fragment, a
// bubble), the graph reach test, simulated libraries mapped onto the
// fragments of two chromosomes, collected with 1 and 4 threads and
// estimated into the estimate file, and onto hundreds of chromosomes,
// collected in many batches with 1, 3 and 8 threads.
#include "denovo/app/pair_distance_collection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/cpus.h"
#include "denovo/app/pair_distance_estimation.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/fragment_graph_check.h"
#include "tests/denovo/graph/graph_test_util.h"
#include "tests/denovo/reads/read_sim.h"
#include "tests/support/test_support.h"

namespace {

using graph_test::PathReads;
using graph_test::R;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr read_ptr_t kNoPtr = kReadPtrNone;
constexpr oriented_id_t kNoFragment = kOrientedIdNone;

// One read pair as read_pair_info_add takes it.
struct PairEnds {
  read_ptr_t ptr1;
  oriented_id_t fragment1;
  int32_t offset1;
  read_ptr_t ptr2;
  oriented_id_t fragment2;
  int32_t offset2;
};

// What one collection left in the histogram of file 0.
struct Outcome {
  std::map<int32_t, int32_t> distances;  // distance -> pairs
  int32_t counted, not_counted, wrong;
  bool operator==(const Outcome &o) const {
    return distances == o.distances && counted == o.counted && not_counted == o.not_counted && wrong == o.wrong;
  }
};

// A graph over fragments of given lengths (word size 21): node i carries
// fragment i, extra nodes carry copies, edges join nodes; read paths and
// pairs of one paired file whose histogram starts with 10 pairs not counted.
struct HandGraph {
  seq_db_t *db;
  fragment_graph_t *graph;
  paired_setting_t *setting = paired_setting_new(1, 0, 0, 1000);
  pair_dist_info_t *histograms[1];
  read_table_t table{};

  HandGraph(const std::vector<uint32_t> &lengths, const std::vector<oriented_id_t> &copies,
            const std::vector<graph_test::Edge> &edges, const std::vector<PathReads> &paths,
            const std::vector<PairEnds> &pairs) {
    const auto n = static_cast<uint32_t>(lengths.size());
    db = graph_test::fragments_of_lengths(lengths);
    graph = fragment_graph_new(static_cast<int32_t>(n), 21);
    graph->fragments = db;
    for (oriented_id_t f : copies) fragment_graph_new_node(graph, f);
    fragment_graph_clear_all_flags(graph);
    for (const auto &[from, to, d] : edges) fragment_graph_add_edge(graph, from, to, d);
    fragment_graph_set_other_nodes(graph);
    table.read_info = graph_test::read_paths(n, paths);
    table.read_pair_info = read_pair_info_new(static_cast<int32_t>(n));
    for (const PairEnds &p : pairs) {
      read_pair_info_add(table.read_pair_info, p.ptr1, p.fragment1, p.offset1, p.ptr2, p.fragment2, p.offset2);
    }
    read_pair_info_sort(table.read_pair_info);
    histograms[0] = pair_dist_info_new(setting, 0);
    histograms[0]->not_counted = 10;
    table.pair_dist_info = histograms;
    table.file_count = 1;
  }
  ~HandGraph() {
    pair_dist_info_free(histograms[0]);
    read_pair_info_free(table.read_pair_info);
    read_info_free(table.read_info);
    fragment_graph_free(graph);
    seq_db_free_records(db);
    paired_setting_free(setting);
  }
  HandGraph(const HandGraph &) = delete;
  HandGraph &operator=(const HandGraph &) = delete;

  // Runs a collection on a fresh histogram and reads it back.
  Outcome collect(bool threaded) {
    pair_dist_info_t *h = histograms[0];
    std::fill(h->bins, h->bins + 2 * h->radius + 1, 0);
    h->counted = 0;
    h->not_counted = 10;
    h->wrong_orientation = 0;
    if (threaded) {
      paired_distance_collect(&table, graph);
    } else {
      paired_distance_collect_direct(&table, graph);
    }
    Outcome o{{}, h->counted, h->not_counted, h->wrong_orientation};
    for (int32_t i = 0; i <= 2 * h->radius; i++) {
      if (h->bins[i] != 0) o.distances[i - h->radius] = h->bins[i];
    }
    return o;
  }
  bool marks_clear() const {
    for (int32_t s = 0; s < graph->node_count; s++) {
      if (fragment_graph_get_mark1(graph, static_cast<oriented_id_t>(s)) != 0) return false;
    }
    return true;
  }
};

// Runs the collection directly and with 3 threads; both must give expected
// and leave mark1 clear.
void expect_collection(HandGraph &g, const Outcome &expected) {
  const int saved = get_number_of_cpus();
  set_number_of_cpus(3);
  for (bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "pipeline" : "direct");
    const Outcome o = g.collect(threaded);
    EXPECT_EQ(o.distances, expected.distances);
    EXPECT_EQ(o.counted, expected.counted);
    EXPECT_EQ(o.not_counted, expected.not_counted);
    EXPECT_EQ(o.wrong, expected.wrong);
    EXPECT_TRUE(g.marks_clear());
  }
  set_number_of_cpus(saved);
}

// Chain F0 (300) -> F1 (200) -> F2 (300), overlaps of 20: nodes at 0, 280
// and 460; F3 (250) alone is a contig of one node. Path [F0, F1] holds
// elements 0 and 1.
TEST(PairDistanceCollect, PairsOnAChainOfUniqueFragments) {
  HandGraph g({300, 200, 300, 250}, {}, {{0, 1, -20}, {1, 2, -20}}, {{{0, 1}, {-20}}},
              {
                  // Read 1 at 50, read 2 on F2's reverse 100 from F2's end
                  // (contig 660): 610.
                  {kNoPtr, 0, 50, kNoPtr, 2 | R, 100},
                  // The same pair read from the other end.
                  {kNoPtr, 2 | R, 100, kNoPtr, 0, 50},
                  // Both reads on the forward strand: wrong direction.
                  {kNoPtr, 0, 50, kNoPtr, 2, 100},
                  // End 1 on the one-node contig, end 2 off the contig.
                  {kNoPtr, 3, 10, kNoPtr, 0 | R, 10},
                  {kNoPtr, 1, 0, kNoPtr, 3 | R, 10},
                  // End 1 on the path's F1 element, 290 from the path's
                  // start (10 into F1, contig 290): 660 - 290.
                  {1, kNoFragment, 290, kNoPtr, 2 | R, 100},
              });
  expect_collection(g, {{{370, 1}, {610, 2}}, 3, 7, 1});
}

// F1 (100) is carried by node 1 (contig F3 -> F1) and by its copy, node 4,
// on the contig F0 -> F1 -> F2 (nodes at 0, 280, 360). Paths [F0, F1, F2]
// (elements 0-2) and [F2', F1'] (elements 3-4) run through the repeat;
// their ends on F1 are anchored on F0 and F2.
TEST(PairDistanceCollect, PathEndsOnARepeatAreAnchored) {
  HandGraph g({300, 100, 300, 300}, {1}, {{0, 4, -20}, {4, 2, -20}, {3, 1, -20}},
              {{{0, 1, 2}, {-20, -20}}, {{2 | R, 1 | R}, {-20}}},
              {
                  // End 1 10 into F1 (contig 290), end 2 at contig 560.
                  {1, kNoFragment, 290, kNoPtr, 2 | R, 100},
                  // End 1 at 50; end 2 10 into F1' along [F2', F1'], which
                  // is contig 660 - 290 = 370.
                  {kNoPtr, 0, 50, 4, kNoFragment, 290},
              });
  expect_collection(g, {{{270, 1}, {320, 1}}, 2, 8, 0});
}

// A bubble F0 -> {F1 (150), F2 (160)} -> F3: the walk keeps the branch to
// F1, follows F2, meets the bubble end, takes F1 and enters F3 from there,
// once, at 280 + 150 - 20 = 410 (from either end of the contig).
TEST(PairDistanceCollect, BubbleEndEnteredOnceFromTheLastBranch) {
  HandGraph g({300, 150, 160, 300}, {}, {{0, 1, -20}, {0, 2, -20}, {1, 3, -20}, {2, 3, -20}}, {},
              {{kNoPtr, 0, 50, kNoPtr, 3 | R, 100}});
  fragment_graph_set_bubble_start(g.graph, 0);
  fragment_graph_set_bubble_start(g.graph, 3 | R);  // the bubble end of node 3
  for (oriented_id_t n : {1u, 2u}) fragment_graph_get_node_record(g.graph, n)->flags |= kGraphBubbleNodeBit;
  ASSERT_EQ(fragment_graph_check_bubbles(g.graph, kOrientedIdNone), 1);
  ASSERT_EQ(fragment_graph_is_bubble_end(g.graph, 3), 1);
  expect_collection(g, {{{560, 1}}, 1, 9, 0});
}

TEST(PairDistanceCollect, GraphReachesFragmentAlongFirstEdges) {
  HandGraph g({300, 100, 300, 300}, {1}, {{0, 4, -20}, {4, 2, -20}, {3, 1, -20}}, {}, {});
  struct Case {
    oriented_id_t fragment, node;
    int32_t steps;
    int reverse, reaches;
  };
  const Case cases[] = {
      {0, kOrientedIdNone, 1, 0, 1},  // no node: anything goes
      {2, 0, 2, 0, 1},                // 0 -> 4 (F1, 100) -> 2
      {2, 0, 1, 0, 0},                // one step is not enough
      {0, 2, 2, 1, 1},                // backwards from 2, strand ignored
      {0, 2, 2, 0, 0},                // forwards from 2: no edge
      {3, 0, 5, 0, 0},                // F3 lies on the other contig; F2 (300) ends the search
      {1, 3, 1, 0, 1},                // 3 -> 1 carries F1
  };
  for (const Case &c : cases) {
    EXPECT_EQ(graph_reaches_fragment(g.graph, c.fragment, c.node, c.steps, c.reverse), c.reaches)
        << c.fragment << " from " << c.node << " in " << c.steps;
  }
  // A 201-base fragment on the way ends the search; 200 does not.
  HandGraph h({300, 201, 300}, {}, {{0, 1, -20}, {1, 2, -20}}, {}, {});
  EXPECT_EQ(graph_reaches_fragment(h.graph, 2, 0, 5, 0), 0);
  HandGraph i({300, 200, 300}, {}, {{0, 1, -20}, {1, 2, -20}}, {}, {});
  EXPECT_EQ(graph_reaches_fragment(i.graph, 2, 0, 5, 0), 1);
}

// Simulated libraries on random chromosomes (two of 7000 and 6000 bases
// unless given) tiled into 400-base fragments: reads mapped into a read
// table, the fragment graph built from their paths (one contig per
// chromosome). Pairs and single reads take the chromosomes in turn.
using read_sim::Codes;

struct Library {
  const char *declared_orientation;  // "fb", or "ff" for pairs that are really fb
  int32_t min, max;                  // declared range
  double mean, sd;                   // simulated insert
  size_t pairs;                      // 0: single reads
};

struct Simulation {
  static constexpr int32_t kWord = 21;
  std::vector<paired_setting_t *> settings;
  read_store_t *store = nullptr;
  seq_db_t *db = nullptr;
  read_table_t *table = nullptr;
  fragment_graph_t *graph = nullptr;

  explicit Simulation(const std::vector<Library> &libraries, const std::vector<size_t> &sizes = {7000, 6000}) {
    std::mt19937_64 rng(2024);
    std::vector<Codes> chromosomes;
    for (size_t size : sizes) chromosomes.push_back(fragment_test::random_codes(rng, size));
    std::vector<read_sim::Fragment> fragments;
    for (const Codes &c : chromosomes) {
      const std::vector<read_sim::Placement> places = read_sim::tile(c.size(), 400, kWord);
      for (read_sim::Fragment &f : read_sim::cut(c, places, read_sim::tile_ends(places.size()))) fragments.push_back(f);
    }
    std::vector<read_sim::ReadFile> files;
    paired_setting_t *fb = paired_setting_new(1, 0, 0, 0);
    for (const Library &l : libraries) {
      read_sim::ReadFile file;
      if (l.pairs == 0) {
        for (size_t i = 0; i < 2000; i++) {
          const Codes &c = chromosomes[i % chromosomes.size()];
          file.reads.push_back(read_sim::slice(c, rng() % (c.size() - 60), 60));
        }
        settings.push_back(nullptr);
      } else {
        file.paired = true;
        std::normal_distribution<double> insert(l.mean, l.sd);
        while (file.reads.size() < 2 * l.pairs) {
          read_sim::Pair p;
          const Codes &c = chromosomes[file.reads.size() / 2 % chromosomes.size()];
          if (!read_sim::draw_pair(rng, c, *fb, 60, std::lround(insert(rng)), &p)) continue;
          file.reads.push_back(p.mate1);
          file.reads.push_back(p.mate2);
        }
        settings.push_back(paired_setting_parse(l.declared_orientation, "ss", l.min, l.max));
      }
      files.push_back(file);
    }
    paired_setting_free(fb);
    store = read_sim::store_of(files);
    db = read_sim::fragment_db_of(fragments);
    table = read_mapping_run_threads(db, store, nullptr, nullptr, settings.data(), nullptr, kWord, nullptr, 2);
    graph = fragment_graph_build(db, table->read_info, kWord, 1);
    fragment_graph_sort_edges(graph);
    fragment_graph_clear_all_flags(graph);
    fragment_graph_set_other_nodes(graph);
    fragment_graph_set_bubbles(graph, table->read_info, 50, 10, 0);
  }
  ~Simulation() {
    fragment_graph_free(graph);
    read_table_free(table);
    seq_db_free(db);
    read_store_free(store);
    for (paired_setting_t *s : settings) paired_setting_free(s);
  }
  Simulation(const Simulation &) = delete;
  Simulation &operator=(const Simulation &) = delete;
};

// Every histogram's bins and counters.
struct Histograms {
  std::vector<std::vector<int32_t>> bins;
  std::vector<std::vector<int32_t>> counters;
  bool operator==(const Histograms &o) const { return bins == o.bins && counters == o.counters; }
};

Histograms save(const read_table_t *t) {
  Histograms s;
  for (int32_t f = 0; f < t->file_count; f++) {
    const pair_dist_info_t *h = t->pair_dist_info[f];
    if (h == nullptr) continue;
    s.bins.emplace_back(h->bins, h->bins + 2 * h->radius + 1);
    s.counters.push_back({h->counted, h->not_counted, h->wrong_orientation});
  }
  return s;
}

void restore(read_table_t *t, const Histograms &s) {
  size_t i = 0;
  for (int32_t f = 0; f < t->file_count; f++) {
    pair_dist_info_t *h = t->pair_dist_info[f];
    if (h == nullptr) continue;
    std::copy(s.bins[i].begin(), s.bins[i].end(), h->bins);
    h->counted = s.counters[i][0];
    h->not_counted = s.counters[i][1];
    h->wrong_orientation = s.counters[i][2];
    i++;
  }
}

// The estimate file's fields per line.
std::vector<std::vector<std::string>> fields_of(const std::string &text) {
  std::vector<std::vector<std::string>> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    std::vector<std::string> fields;
    size_t a = start;
    for (;;) {
      const size_t tab = text.find('\t', a);
      if (tab == std::string::npos || tab > end) {
        fields.push_back(text.substr(a, end - a));
        break;
      }
      fields.push_back(text.substr(a, tab - a));
      a = tab + 1;
    }
    lines.push_back(fields);
    start = end + 1;
  }
  return lines;
}

TEST(PairDistanceCollectionThread, SimulatedLibrariesSameForAnyThreadCount) {
  const std::vector<Library> libraries = {
      {"fb", 400, 600, 500, 25, 6000},  // estimated around 500
      {"fb", 0, 0, 0, 0, 0},            // single reads: no line
      {"fb", 200, 400, 300, 20, 5000},  // estimated around 300
      {"fb", 400, 600, 500, 25, 150},   // too few pairs
      {"ff", 400, 600, 500, 25, 3000},  // declared with the wrong orientation
  };
  Simulation sim(libraries);
  contig_info_t *contigs = contig_info_build(sim.graph, 1, 0);
  ASSERT_EQ(contig_info_get_contig_count(contigs), 2);
  for (oriented_id_t c : {0u, 1u}) ASSERT_GT(contig_info_get_contig_node_count(contigs, sim.graph, c), 10);
  contig_info_free(contigs);

  const Histograms mapped = save(sim.table);
  const int saved = get_number_of_cpus();
  set_number_of_cpus(1);
  paired_distance_collect(sim.table, sim.graph);
  const Histograms one = save(sim.table);
  restore(sim.table, mapped);
  set_number_of_cpus(4);
  paired_distance_collect(sim.table, sim.graph);
  const Histograms four = save(sim.table);
  set_number_of_cpus(saved);
  EXPECT_TRUE(one == four);
  restore(sim.table, mapped);
  paired_distance_collect_direct(sim.table, sim.graph);
  EXPECT_TRUE(save(sim.table) == four);
  for (int32_t s = 0; s < sim.graph->node_count; s++) {
    ASSERT_EQ(fragment_graph_get_mark1(sim.graph, static_cast<oriented_id_t>(s)), 0);
  }

  // Inserts of 500 fit only in the last fragment of a chromosome (up to
  // 600 bases): nearly every pair was placed here, not by the mapping.
  const pair_dist_info_t *h0 = sim.table->pair_dist_info[0];
  EXPECT_LT(mapped.counters[0][0], 100);
  EXPECT_GT(h0->counted, 5900);
  EXPECT_EQ(h0->wrong_orientation, 0);
  EXPECT_GT(sim.table->pair_dist_info[4]->wrong_orientation, 2900);

  ryx_test::ScratchDir dir;
  const std::string path = dir.file("estimates.txt");
  std::vector<read_store_file_t> names;
  const char *file_names[] = {"lib500.fq", "single.fq", "lib300.fq", "few.fq", "wrong.fq"};
  for (const char *n : file_names) names.push_back({n, nullptr});
  paired_distance_write_estimates(sim.table, sim.settings.data(), names.data(), path.c_str());
  const auto lines = fields_of(ryx_test::read_file(path));
  ASSERT_EQ(lines.size(), 4u) << ryx_test::read_file(path);
  for (const auto &l : lines) ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(lines[0][0], "lib500.fq");
  EXPECT_EQ(lines[0][1], "-");
  EXPECT_EQ(lines[0][4], "DISTANCE_ESTIMATED");
  EXPECT_LT(std::stoi(lines[0][2]), 500);
  EXPECT_GT(std::stoi(lines[0][3]), 500);
  // The range covers the bulk of the library, not just the top of its peak.
  EXPECT_GT(std::stoi(lines[0][3]) - std::stoi(lines[0][2]), 60);
  EXPECT_EQ(sim.settings[0]->min_distance, std::stoi(lines[0][2]));
  EXPECT_EQ(sim.settings[0]->max_distance, std::stoi(lines[0][3]));
  EXPECT_EQ(lines[1][0], "lib300.fq");
  EXPECT_EQ(lines[1][4], "DISTANCE_ESTIMATED");
  EXPECT_LT(std::stoi(lines[1][2]), 300);
  EXPECT_GT(std::stoi(lines[1][3]), 300);
  EXPECT_EQ((std::vector<std::string>{"few.fq", "-", "0", "0", "NO_DATA"}), lines[2]);
  EXPECT_EQ((std::vector<std::string>{"wrong.fq", "-", "0", "0", "WRONG_DIRECTION"}), lines[3]);
  EXPECT_EQ(sim.settings[3]->min_distance, 400);
  EXPECT_EQ(sim.settings[4]->max_distance, 600);
}

// Hundreds of contigs, so that the producer queues many batches of 20 and
// the workers walk them side by side and hand their tallies to the merger
// in whatever order they finish: every thread count must leave the same
// histograms as the walk on the calling thread, run after run.
TEST(PairDistanceCollectionThread, ManyBatchesSameHistogramsForOneThreeAndEightThreads) {
  const size_t chromosomes = kSanitized ? 120 : 400;
  Simulation sim({{"fb", 200, 400, 300, 20, 30 * chromosomes}, {"fb", 500, 800, 650, 50, 15 * chromosomes}},
                 std::vector<size_t>(chromosomes, 1500));
  // Contigs of more than one node take part (a chromosome whose fragment
  // ends no read crossed is several contigs).
  contig_info_t *contigs = contig_info_build(sim.graph, 1, 0);
  int32_t taking_part = 0;
  for (int32_t c = 0; c < contig_info_get_contig_count(contigs); c++) {
    const auto id = static_cast<oriented_id_t>(c);
    if (contig_info_get_first_node(contigs, id) != contig_info_get_last_node(contigs, id)) taking_part++;
  }
  contig_info_free(contigs);
  ASSERT_GT(taking_part, 5 * kPairedDistanceBatchContigs);

  const Histograms mapped = save(sim.table);
  paired_distance_collect_direct(sim.table, sim.graph);
  const Histograms direct = save(sim.table);
  // Most pairs of both libraries cross a fragment end and were placed here.
  ASSERT_EQ(direct.counters.size(), 2u);
  for (size_t f = 0; f < 2; f++) EXPECT_GT(direct.counters[f][0], mapped.counters[f][0] + 1000) << f;

  const int saved = get_number_of_cpus();
  for (int threads : {1, 3, 8, 8}) {
    SCOPED_TRACE(threads);
    restore(sim.table, mapped);
    set_number_of_cpus(threads);
    paired_distance_collect(sim.table, sim.graph);
    EXPECT_TRUE(save(sim.table) == direct);
    for (int32_t s = 0; s < sim.graph->node_count; s++) {
      ASSERT_EQ(fragment_graph_get_mark1(sim.graph, static_cast<oriented_id_t>(s)), 0);
    }
  }
  set_number_of_cpus(saved);
}

}  // namespace
