// The paired stage end to end on simulated read pairs (2 x 100 bases,
// insert about 500): reads -> fragments -> graph -> read resolution, then
// paired optimisation. Holes without reads break the genome into contigs
// that pairs still span, so scaffolding must join them in the right order
// and orientation with gaps near the true ones; a repeat shorter than the
// insert but longer than the reads is resolved by confirmed paths. The
// threaded sweep must give the graph of the single-threaded one, also when
// its workers evaluate many batches side by side.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "app_test_util.h"
#include "denovo/app/paired_optimize.h"
#include "denovo/app/scaffolding.h"
#include "tests/denovo/graph/graph_test_util.h"
#include "tests/denovo/graph/read_optimize_harness.h"
#include "tests/denovo/reads/piece_files.h"

namespace {

using fragment_test::Codes;
using fragment_test::random_codes;
using fragment_test::reverse_complement;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr int32_t kWord = 31;
constexpr size_t kMate = 100;
constexpr int32_t kBubble = 150;
constexpr size_t kHole = 150;

// The graph checks that hold after the paired stage, which leaves marks 1,
// 2, 4 and 5 on nodes on purpose (later stages read them).
bool links_and_bubbles_valid(const fragment_graph_t *g) {
  return fragment_graph_check_links(g, kOrientedIdNone) != 0 && fragment_graph_check_bubbles(g, kOrientedIdNone) != 0;
}

struct Genome {
  Codes codes;
  std::vector<size_t> holes;  // starts of stretches of kHole bases that no read covers
};

// A random genome of the given length with each repeat copied over it at
// the given positions, and the holes.
Genome make_genome(uint64_t seed, size_t length, const std::vector<std::pair<size_t, std::vector<size_t>>> &repeats,
                   std::vector<size_t> holes) {
  std::mt19937_64 rng(seed);
  Genome g{random_codes(rng, length), std::move(holes)};
  for (const auto &[size, places] : repeats) {
    const Codes r = random_codes(rng, size);
    for (size_t at : places) std::copy(r.begin(), r.end(), g.codes.begin() + static_cast<ptrdiff_t>(at));
  }
  return g;
}

bool in_hole(const Genome &g, size_t start, size_t length) {
  for (size_t h : g.holes) {
    if (start < h + kHole && h < start + length) return true;
  }
  return false;
}

// Mates interleaved: "fb" pairs whose outer ends lie 450 to 550 bases
// apart, none touching a hole, about coverage-fold over the genome.
std::vector<Codes> simulate_pairs(const Genome &g, uint64_t seed, double coverage, const paired_setting_t &setting) {
  std::mt19937_64 rng(seed);
  const size_t pairs = static_cast<size_t>(coverage * static_cast<double>(g.codes.size()) / (2 * kMate));
  std::vector<Codes> mates;
  const size_t n = g.codes.size();
  while (mates.size() < 2 * pairs) {
    read_sim::Pair p;
    const int64_t distance = 450 + static_cast<int64_t>(rng() % 101);
    if (!read_sim::draw_pair(rng, g.codes, setting, kMate, distance, &p)) continue;
    // Template starts on the genome's forward strand.
    const size_t a = p.template_reverse ? n - p.a - kMate : p.a;
    const size_t b = p.template_reverse ? n - p.b - kMate : p.b;
    if (in_hole(g, a, kMate) || in_hole(g, b, kMate)) continue;
    mates.push_back(p.mate1);
    mates.push_back(p.mate2);
  }
  return mates;
}

struct Outcome {
  std::vector<std::string> invalid_after;
  int32_t contigs_before = 0;
  int32_t contigs_after = 0;
  std::vector<graph_test::Edge> edges;  // canonical, sorted
  std::vector<std::tuple<int32_t, oriented_id_t, oriented_id_t, int32_t>> joins;
  // Gap edges: (from, to, distance) for every edge whose distance is not
  // the overlap of neighbouring fragments.
  std::vector<graph_test::Edge> gap_edges;
  int32_t node_count = 0;
};

Outcome assemble(const std::vector<Codes> &mates, paired_setting_t *setting, bool paired, bool threaded, int cpus = 2) {
  optimize_harness::Assembly a(mates, kWord, setting);
  Outcome run;
  run.invalid_after = optimize_harness::optimize(a, kBubble, 10).invalid_after;
  fragment_graph_t *g = a.graph;
  fragment_graph_clear_all_flags(g);
  contig_info_t *before = contig_info_build(g, 1, 1);
  run.contigs_before = contig_info_get_contig_count(before);
  contig_info_free(before);
  if (paired) {
    array_list_t *joins = nullptr;
    contig_info_t *info;
    if (threaded) {
      set_number_of_cpus(cpus);
      info = paired_optimize_graph_threaded(g, a.table, kBubble, 1, nullptr, &joins);
    } else {
      info = paired_optimize_graph(g, a.table, kBubble, 1, nullptr, &joins);
    }
    run.contigs_after = contig_info_get_contig_count(info);
    contig_info_free(info);
    for (uint64_t i = 0; i < array_list_get_count(joins); i++) {
      const auto *j = static_cast<scaffold_join_t *>(array_list_get_item(joins, i));
      run.joins.emplace_back(j->flags, j->from, j->to, j->gap);
    }
    array_list_free(joins);
    if (!links_and_bubbles_valid(g)) run.invalid_after.emplace_back("paired stage");
  }
  run.edges = graph_test::edge_set(g);
  for (const auto &[from, to, d] : run.edges) {
    if (d != -(kWord - 1)) run.gap_edges.emplace_back(from, to, d);
  }
  run.node_count = g->node_count;
  return run;
}

// Where two flanks lie on the genome: each found once, both on one strand.
// Sets gap to the genome distance between the end of before and the start
// of after and returns ""; otherwise returns what failed.
std::string place_flanks(const Codes &genome, const Codes &before, const Codes &after, int64_t *gap) {
  for (const Codes &strand : {genome, reverse_complement(genome)}) {
    auto b = std::search(strand.begin(), strand.end(), before.begin(), before.end());
    auto a = std::search(strand.begin(), strand.end(), after.begin(), after.end());
    if (b == strand.end() || a == strand.end()) continue;
    if (std::search(b + 1, strand.end(), before.begin(), before.end()) != strand.end()) return "flank before repeated";
    if (std::search(a + 1, strand.end(), after.begin(), after.end()) != strand.end()) return "flank after repeated";
    *gap = (a - strand.begin()) - (b - strand.begin() + static_cast<int64_t>(before.size()));
    return "";
  }
  return "flanks not on one strand";
}

// Where a gap edge lies on the genome: the 40 bases before and after it
// placed by place_flanks.
std::string place_gap(const fragment_graph_t *g, const Codes &genome, const graph_test::Edge &edge, int64_t *gap) {
  const auto [from, to, d] = edge;
  const Codes u = optimize_harness::node_codes(g, from);
  const Codes v = optimize_harness::node_codes(g, to);
  const size_t probe = 40;
  if (u.size() < probe || v.size() < probe) return "short node";
  const Codes tail(u.end() - static_cast<ptrdiff_t>(probe), u.end());
  const Codes head(v.begin(), v.begin() + static_cast<ptrdiff_t>(probe));
  return place_flanks(genome, tail, head, gap);
}

// FASTA records as (name, codes 0 to 4).
std::vector<std::pair<std::string, Codes>> parse_fasta(const std::string &text) {
  std::vector<std::pair<std::string, Codes>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] == '>') {
      out.emplace_back(line.substr(1, line.find_first_of(" \t") == std::string::npos ? std::string::npos
                                                                                     : line.find_first_of(" \t") - 1),
                       Codes{});
      continue;
    }
    for (char c : line) out.back().second.push_back(static_cast<uint8_t>(std::string("ACGTN").find(c)));
  }
  return out;
}

// Runs of N as (start, length), 0-based.
std::vector<std::pair<size_t, size_t>> n_runs(const Codes &c) {
  std::vector<std::pair<size_t, size_t>> out;
  for (size_t i = 0; i < c.size();) {
    if (c[i] != 4) {
      i++;
      continue;
    }
    size_t j = i;
    while (j < c.size() && c[j] == 4) j++;
    out.emplace_back(i, j - i);
    i = j;
  }
  return out;
}

// Where a run of N in a contig lies on the genome: the 40 bases before and
// after it placed by place_flanks.
std::string place_run(const Codes &genome, const Codes &contig, size_t start, size_t length, int64_t *gap) {
  const size_t probe = 40;
  if (start < probe || start + length + probe > contig.size()) return "run at a contig end";
  const Codes before(contig.begin() + static_cast<ptrdiff_t>(start - probe),
                     contig.begin() + static_cast<ptrdiff_t>(start));
  const Codes after(contig.begin() + static_cast<ptrdiff_t>(start + length),
                    contig.begin() + static_cast<ptrdiff_t>(start + length + probe));
  return place_flanks(genome, before, after, gap);
}

struct Fixture {
  paired_setting_t setting{1, 0, 400, 600, 0};  // "fb", "ss"
  Genome genome;
  std::vector<Codes> mates;
};

// 100 kb: a 1.5 kb repeat three times, a 150-base repeat twice (longer than
// a read, shorter than an insert), three holes.
const Fixture &big_fixture() {
  static Fixture *f = [] {
    auto *x = new Fixture;
    x->genome = make_genome(7, 100000, {{1500, {20000, 50000, 80000}}, {150, {10000, 60000}}}, {35000, 65000, 92000});
    x->mates = simulate_pairs(x->genome, 8, 30.0, x->setting);
    return x;
  }();
  return *f;
}

TEST(PairedOptimizeSim, ScaffoldsAcrossHolesAndResolvesShortRepeat) {
  const Fixture &f = big_fixture();
  paired_setting_t setting = f.setting;
  optimize_harness::Assembly a(f.mates, kWord, &setting);
  ASSERT_TRUE(optimize_harness::optimize(a, kBubble, 10).invalid_after.empty());
  fragment_graph_t *g = a.graph;
  fragment_graph_clear_all_flags(g);
  contig_info_t *before = contig_info_build(g, 1, 1);
  const int32_t contigs_before = contig_info_get_contig_count(before);
  contig_info_free(before);

  const int32_t nodes_before = g->node_count;
  array_list_t *joins = nullptr;
  contig_info_t *info = paired_optimize_graph(g, a.table, kBubble, 1, nullptr, &joins);
  const int32_t contigs_after = contig_info_get_contig_count(info);
  EXPECT_TRUE(links_and_bubbles_valid(g));
  // Ideally: the three copies of the long repeat stay one contig and cut the
  // genome into four pieces, and everything else is joined.
  EXPECT_LT(contigs_after, contigs_before);
  EXPECT_LE(contigs_after, 5);
  // The short repeat was confirmed as two paths, each built of its own copy.
  EXPECT_GT(g->node_count, nodes_before);

  // Every gap edge joins two stretches of the genome that follow each other
  // on one strand, at about the true distance; one gap edge per hole.
  std::vector<int64_t> true_gaps;
  std::ostringstream trace;
  for (const auto &[from, to, d] : graph_test::edge_set(g)) {
    if (d == -(kWord - 1)) continue;
    int64_t gap = 0;
    const std::string problem = place_gap(g, f.genome.codes, {from, to, d}, &gap);
    trace << std::hex << from << " -> " << to << std::dec << " (" << d << "): " << (problem.empty() ? "" : problem)
          << " true " << gap << "\n";
    EXPECT_EQ(problem, "") << trace.str();
    if (!problem.empty()) continue;
    EXPECT_NEAR(static_cast<double>(d), static_cast<double>(gap), 60.0) << trace.str();
    true_gaps.push_back(gap);
  }
  EXPECT_EQ(true_gaps.size(), f.genome.holes.size()) << trace.str();
  for (int64_t gap : true_gaps) {
    EXPECT_GE(gap, static_cast<int64_t>(kHole)) << trace.str();  // a hole lies in every gap
  }
  // No gap is below twice the word size, so no join was recorded.
  ASSERT_NE(joins, nullptr);
  EXPECT_EQ(array_list_get_count(joins), 0u);
  array_list_free(joins);

  // The contigs as written: one N run per hole, about as long as the true
  // gap, between flanks that follow each other on the genome; each GFF
  // "Scaffold" feature covers an N run of its contig.
  end_info_read_temp_file(a.table->end_info);
  end_info_sort(a.table->end_info);
  const app_test::Output written = app_test::write_contigs(g, a.table, info, 0, kContigFeaturesGff, true);
  const auto contigs = parse_fasta(written.fasta);
  const std::string &features = written.features;
  size_t runs = 0;
  for (const auto &[name, codes] : contigs) {
    for (const auto &[start, length] : n_runs(codes)) {
      runs++;
      int64_t gap = 0;
      const std::string problem = place_run(f.genome.codes, codes, start, length, &gap);
      EXPECT_EQ(problem, "") << name << " at " << start;
      if (problem.empty()) {
        EXPECT_NEAR(static_cast<double>(length), static_cast<double>(gap), 60.0) << name;
      }
    }
  }
  EXPECT_EQ(runs, f.genome.holes.size());
  std::istringstream lines(features);
  std::string line;
  size_t scaffold_features = 0;
  while (std::getline(lines, line)) {
    std::vector<std::string> cols;
    std::istringstream fields(line);
    for (std::string col; std::getline(fields, col, '\t');) cols.push_back(col);
    if (cols.size() < 5 || cols[2] != "Scaffold") continue;
    scaffold_features++;
    const auto contig = std::find_if(contigs.begin(), contigs.end(), [&](const auto &c) { return c.first == cols[0]; });
    ASSERT_NE(contig, contigs.end()) << line;
    const size_t from = std::stoul(cols[3]) - 1, to = std::stoul(cols[4]);
    bool spans = false;
    for (const auto &[start, length] : n_runs(contig->second)) spans |= start >= from && start + length <= to;
    EXPECT_TRUE(spans) << line;
  }
  EXPECT_GT(scaffold_features, 0u) << features;
  contig_info_free(info);
}

TEST(PairedOptimizeSim, WithoutScaffoldingNoGapEdges) {
  const Fixture &f = big_fixture();
  paired_setting_t setting = f.setting;
  optimize_harness::Assembly a(f.mates, kWord, &setting);
  ASSERT_TRUE(optimize_harness::optimize(a, kBubble, 10).invalid_after.empty());
  fragment_graph_clear_all_flags(a.graph);
  array_list_t *joins = nullptr;
  contig_info_t *info = paired_optimize_graph(a.graph, a.table, kBubble, 0, nullptr, &joins);
  for (const auto &[from, to, d] : graph_test::edge_set(a.graph)) EXPECT_EQ(d, -(kWord - 1));
  ASSERT_NE(joins, nullptr);
  EXPECT_EQ(array_list_get_count(joins), 0u);
  EXPECT_TRUE(links_and_bubbles_valid(a.graph));
  array_list_free(joins);
  contig_info_free(info);
}

// 20 kb with a 150-base repeat twice and two holes: small enough for the
// data-race checker.
TEST(PairedOptimizeThread, SameGraphAsSingleThreaded) {
  Fixture f;
  f.genome = make_genome(21, 20000, {{150, {4000, 14000}}}, {8000, 17000});
  f.mates = simulate_pairs(f.genome, 22, 30.0, f.setting);
  const Outcome single = assemble(f.mates, &f.setting, true, false);
  EXPECT_TRUE(single.invalid_after.empty());
  EXPECT_LT(single.contigs_after, single.contigs_before);
  EXPECT_FALSE(single.gap_edges.empty());
  for (int cpus : {1, 2, 4}) {
    SCOPED_TRACE(cpus);
    const Outcome threaded = assemble(f.mates, &f.setting, true, true, cpus);
    EXPECT_TRUE(threaded.invalid_after.empty());
    EXPECT_EQ(threaded.contigs_after, single.contigs_after);
    EXPECT_EQ(threaded.node_count, single.node_count);
    EXPECT_EQ(threaded.edges, single.edges);
    EXPECT_EQ(threaded.joins, single.joins);
  }
}

// What one run of the paired stage leaves: the graph as the stage file holds
// it, the join list and the final contigs' end nodes.
struct StageResult {
  std::string graph;
  std::vector<std::tuple<int32_t, oriented_id_t, oriented_id_t, int32_t>> joins;
  std::vector<std::pair<oriented_id_t, oriented_id_t>> contigs;
  bool operator==(const StageResult &o) const { return graph == o.graph && joins == o.joins && contigs == o.contigs; }
};

// Runs the paired stage (the single-threaded driver when workers is 0) on a
// graph and read table restored from their stage-file bytes, so that every
// run starts from the same state.
StageResult run_paired_stage(const optimize_harness::Assembly &a, paired_setting_t *setting,
                             const std::string &graph_bytes, const std::string &table_bytes, int workers) {
  FILE *gf = denovo_reads_test::file_of(graph_bytes);
  fragment_graph_t *g = fragment_graph_read(gf, a.db);
  fclose(gf);
  paired_setting_t *settings[1] = {setting};
  FILE *tf = denovo_reads_test::file_of(table_bytes);
  read_table_t *table = read_table_read(tf, static_cast<uint32_t>(a.db->sequence_count), settings, 1);
  fclose(tf);
  array_list_t *joins = nullptr;
  contig_info_t *info;
  if (workers == 0) {
    info = paired_optimize_graph(g, table, kBubble, 1, nullptr, &joins);
  } else {
    set_number_of_cpus(workers);
    info = paired_optimize_graph_threaded(g, table, kBubble, 1, nullptr, &joins);
  }
  StageResult r;
  r.graph = denovo_reads_test::written_bytes([&](FILE *f) { fragment_graph_write(f, g); });
  for (uint64_t i = 0; i < array_list_get_count(joins); i++) {
    const auto *j = static_cast<scaffold_join_t *>(array_list_get_item(joins, i));
    r.joins.emplace_back(j->flags, j->from, j->to, j->gap);
  }
  for (int32_t c = 0; c < contig_info_get_contig_count(info); c++) {
    r.contigs.emplace_back(contig_info_get_first_node(info, static_cast<oriented_id_t>(c)),
                           contig_info_get_last_node(info, static_cast<oriented_id_t>(c)));
  }
  array_list_free(joins);
  contig_info_free(info);
  read_table_free(table);
  fragment_graph_free(g);
  return r;
}

// A genome cut by a hole every 6 kb, with short repeats between them: the
// sweep cuts a batch every 10 kb of contigs, so the workers evaluate many
// batches side by side and hand their edge removals, confirmed paths and
// scaffold links to the collector in whatever order they finish. Every
// worker count, run after run, must leave the graph of the single-threaded
// driver byte for byte.
TEST(PairedOptimizeThread, ManyBatchesSameGraphForOneThreeAndEightWorkers) {
  const size_t length = kSanitized ? 30000 : 120000;
  std::vector<size_t> holes;
  for (size_t h = 5000; h + 1000 < length; h += 6000) holes.push_back(h);
  std::vector<size_t> repeat_places;
  for (size_t at = 2000; at + 1000 < length; at += 12000) repeat_places.push_back(at);
  Fixture f;
  f.genome = make_genome(31, length, {{150, repeat_places}}, holes);
  f.mates = simulate_pairs(f.genome, 32, kSanitized ? 20.0 : 25.0, f.setting);
  optimize_harness::Assembly a(f.mates, kWord, &f.setting);
  ASSERT_TRUE(optimize_harness::optimize(a, kBubble, 10).invalid_after.empty());
  fragment_graph_clear_all_flags(a.graph);
  {
    contig_info_t *info = contig_info_build(a.graph, 1, 1);
    int64_t bases = 0;
    for (int32_t c = 0; c < contig_info_get_contig_count(info); c++) {
      bases += contig_info_get_contig_length(info, a.graph, static_cast<oriented_id_t>(c));
    }
    contig_info_free(info);
    ASSERT_GT(bases, 2 * kPairedBatchLength);
  }
  const std::string graph_bytes = denovo_reads_test::written_bytes([&](FILE *file) { fragment_graph_write(file, a.graph); });
  const std::string table_bytes = denovo_reads_test::written_bytes([&](FILE *file) { read_table_write(file, a.table); });

  const StageResult single = run_paired_stage(a, &f.setting, graph_bytes, table_bytes, 0);
  // The stage did its work: gap edges over the holes joined contigs.
  EXPECT_NE(single.graph, graph_bytes);
  EXPECT_LT(single.contigs.size(), holes.size());
  for (int workers : {1, 3, 8, 8}) {
    SCOPED_TRACE(workers);
    const StageResult threaded = run_paired_stage(a, &f.setting, graph_bytes, table_bytes, workers);
    EXPECT_TRUE(threaded.graph == single.graph) << threaded.graph.size() << " bytes, " << single.graph.size()
                                                << " expected";
    EXPECT_EQ(threaded.joins, single.joins);
    EXPECT_EQ(threaded.contigs, single.contigs);
  }
}

}  // namespace
