// Contig overlap resolution: the acceptance rule, the scoring, the walk that
// copies a side, the N flanks of a merge, which joins are aligned, and whole
// runs on hand-built graphs whose scaffold gaps hide true overlaps: the map
// entries, the new edge distances, the marks, the contigs the writer then
// spells, and the same result for any thread count.
#include "denovo/app/contig_overlap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app_test_util.h"
#include "common/cpus.h"
#include "seqio/seq_record.h"
#include "tests/denovo/reads/piece_files.h"

namespace {

using app_test::fasta_record;
using app_test::GraphFixture;
using graph_test::R;

std::string random_genome(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string g;
  for (size_t i = 0; i < n; i++) g += "ACGT"[rng() % 4];
  return g;
}

std::string reverse_complement(const std::string &s) {
  std::string out(s.rbegin(), s.rend());
  for (char &c : out) {
    const char *at = strchr("ACGTN", c);
    c = "TGCAN"[at - "ACGTN"];
  }
  return out;
}

std::string letters_of(const uint8_t *codes, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; i++) out += codes[i] < 5 ? "ACGTN"[codes[i]] : '?';
  return out;
}

seq_record_t *record_of(const std::string &letters) {
  seq_record_t *r = seq_record_new(static_cast<uint32_t>(letters.size()));
  for (size_t i = 0; i < letters.size(); i++) {
    r->residues[i] = static_cast<uint8_t>(std::string("ACGTN").find(letters[i]));
  }
  return r;
}

array_list_t *join_list(const std::vector<scaffold_join_t> &joins) {
  array_list_t *list = array_list_new(sizeof(scaffold_join_t));
  for (const scaffold_join_t &j : joins) array_list_add(list, &j);
  return list;
}

// A shared record with only what the side walk needs.
struct Shared {
  contig_overlap_shared_t shared{};
  explicit Shared(fragment_graph_t *graph) {
    shared.graph = graph;
    pthread_mutex_init(&shared.node_sequence_mutex, nullptr);
  }
  ~Shared() { pthread_mutex_destroy(&shared.node_sequence_mutex); }
};

TEST(ContigOverlap, AcceptanceAtWordSize31) {
  struct Case {
    int32_t gap, score, end_a, length_a, start_b;
    int want;
  } cases[] = {
      {10, 16, 30, 62, 20, 1},    // |g| <= k: score above k / 2 = 15
      {10, 15, 30, 62, 20, 0},    // 15 alone is not enough...
      {10, 15, 60, 62, 2, 1},     // ...unless the alignment runs from B's start to A's end
      {10, 15, 59, 62, 2, 0},     // one residue short of A's end
      {10, 15, 60, 62, 3, 0},     // starting one residue into B too late
      {10, 8, 62, 62, 0, 1},      // above k / 4 = 7 at both ends
      {10, 7, 62, 62, 0, 0},
      {-20, 16, 30, 62, 20, 1},   // |g| = 20 <= k
      {100, 30, 30, 62, 20, 1},   // bound min(31, 15.5 + 69 / 5.0) = 29.3
      {100, 29, 30, 62, 20, 0},
      {100, 29, 62, 62, 0, 0},    // the end rule needs g < k
      {31, 16, 30, 62, 20, 1},    // |g| = k still uses k / 2
      {32, 16, 30, 62, 20, 1},    // bound 15.7
      {32, 15, 30, 62, 20, 0},
      {200, 31, 30, 62, 20, 0},   // the bound stops at k
      {200, 32, 30, 62, 20, 1},
      {0, 0, 62, 62, 0, 0},       // nothing aligned
  };
  for (const Case &c : cases) {
    EXPECT_EQ(contig_overlap_accepts(31, c.gap, c.score, c.end_a, c.length_a, c.start_b), c.want)
        << "gap " << c.gap << " score " << c.score;
  }
}

TEST(ContigOverlap, Scoring) {
  local_align_scoring_t *s = contig_overlap_scoring_new();
  ASSERT_EQ(s->size, 5);
  EXPECT_EQ(s->gap_first, -5);
  EXPECT_EQ(s->gap_extension, 0);
  for (int r = 0; r < 5; r++) {
    for (int c = 0; c < 5; c++) {
      const int want = r == 4 && c == 4 ? -2 : r == 4 || c == 4 ? 0 : r == c ? 1 : -5;
      EXPECT_EQ(s->matrix[r][c], want) << r << "," << c;
    }
  }
  local_align_scoring_free(s);
}

TEST(ContigOverlap, SideWalk) {
  // N0 -(-3)-> N1 -(-2)-> N2 -(+2)-> N3; N4 of 2 bases -(-3)-> N1.
  GraphFixture g({"AACCGGTTAC", "TACGATCGAT", "ATTTGGGCCC", "GGGGG", "CA"},
                 {{0, 1, -3}, {1, 2, -2}, {2, 3, 2}, {4, 1 | R, -3}});
  Shared sh(g.graph);
  struct Case {
    const char *name;
    oriented_id_t start;
    int32_t limit;
    oriented_id_t stop;
    std::string want;
  } cases[] = {
      {"overlaps laid over", 0, 100, kOrientedIdNone, "AACCGGTTAC" "GATCGAT" "TTGGGCCC"},
      {"stop node not copied", 0, 100, 2, "AACCGGTTAC" "GATCGAT"},
      {"limit", 0, 12, kOrientedIdNone, "AACCGGTTACGA"},
      {"limit inside the first node", 0, 4, kOrientedIdNone, "AACC"},
      {"reverse nodes", 2 | R, 100, kOrientedIdNone, reverse_complement("AACCGGTTAC" "GATCGAT" "TTGGGCCC")},
      {"overlap longer than the node before", 4, 100, kOrientedIdNone, "CA"},
      {"positive distance ends the walk", 3 | R, 100, kOrientedIdNone, "CCCCC"},
  };
  std::vector<uint8_t> buffer(200, 9);
  for (const Case &c : cases) {
    int32_t length = -1;
    contig_overlap_copy_node_sequence(g.graph, c.start, c.limit, c.stop, &length, buffer.data(), &sh.shared);
    ASSERT_GE(length, 0) << c.name;
    EXPECT_EQ(letters_of(buffer.data(), static_cast<size_t>(length)), c.want) << c.name;
  }
}

TEST(ContigOverlap, MergeFlanks) {
  struct Case {
    const char *name;
    std::string a, b;
    int32_t sa, sb, ea, eb;
    std::string merged;
    std::string want;
    int32_t want_sa, want_sb, want_ea, want_eb;
  } cases[] = {
      {"no N", "ACGT", "ACGT", 1, 1, 3, 3, "CG", "CG", 1, 1, 3, 3},
      {"N in a before", "ACNGT", "TCAGT", 3, 3, 5, 5, "GT", "AGT", 2, 2, 5, 5},
      {"N in both stops", "NGT", "NGT", 1, 1, 3, 3, "GT", "GT", 1, 1, 3, 3},
      {"N in b after", "GTAC", "GTNN", 0, 0, 2, 2, "GT", "GTAC", 0, 0, 4, 4},
      {"after ends with b", "GTAC", "GTN", 0, 0, 2, 2, "GT", "GTA", 0, 0, 3, 3},
      {"both sides", "NACGTN", "CACGTT", 1, 1, 5, 5, "ACGT", "CACGTT", 0, 0, 6, 6},
  };
  for (const Case &c : cases) {
    seq_record_t *a = record_of(c.a);
    seq_record_t *b = record_of(c.b);
    seq_record_t *m = record_of(c.merged);
    local_align_result_t *r = local_align_result_new();
    r->start_a = c.sa;
    r->start_b = c.sb;
    r->end_a = c.ea;
    r->end_b = c.eb;
    seq_record_t *out = contig_overlap_merge_sequences(r, a, b, m);
    EXPECT_EQ(letters_of(out->residues, out->length), c.want) << c.name;
    if (c.want == c.merged) {
      EXPECT_EQ(out, m) << c.name;
    }
    EXPECT_EQ(r->start_a, c.want_sa) << c.name;
    EXPECT_EQ(r->start_b, c.want_sb) << c.name;
    EXPECT_EQ(r->end_a, c.want_ea) << c.name;
    EXPECT_EQ(r->end_b, c.want_eb) << c.name;
    seq_record_free(out);
    seq_record_free(a);
    seq_record_free(b);
    local_align_result_free(r);
  }
}

TEST(ContigOverlap, WhichJoinsAreAligned) {
  // Word size 21: gaps below 42 qualify.
  GraphFixture g({"ACGTACGTAC", "TTTTTTTTTT", "GGGGGGGGGG"}, {{0, 1, 5}, {1, 2, 41}, {2, 0, 42}});
  struct Case {
    scaffold_join_t join;
    int want;
  } cases[] = {
      {{0, 0, 1, 5}, 1},
      {{0, 0, 1, 6}, 0},              // another distance
      {{0, 0, 2, 5}, 0},              // the first next edge leads elsewhere
      {{0, 1, 2, 41}, 1},             // 2k - 1
      {{0, 2, 0, 42}, 0},             // 2k
      {{0, 1 | R, 0 | R, 5}, 1},      // the same edge read backwards
      {{0, 0 | R, 1, 5}, 0},          // 0' leads to 2' only
      {{0, kOrientedIdNone, 1, 5}, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(contig_overlap_join_is_candidate(g.graph, &c.join), c.want) << c.join.from << " " << c.join.to;
  }
}

// Two fragments that overlap by 15 bases of a 100-base genome, joined by a
// scaffold gap edge of distance 3 that hides the overlap. The last base of
// the first fragment is N, which the merge takes from the second.
struct OverlapCase {
  const char *name;
  bool first_reverse;   // fragment 0 is stored reverse-complemented
  bool second_reverse;  // fragment 1 likewise
};

TEST(ContigOverlap, ResolvesAHiddenOverlap) {
  const std::string genome = random_genome(100, 3);
  std::string left = genome.substr(0, 60);
  left[59] = 'N';
  const std::string right = genome.substr(45);
  for (const OverlapCase &c : {OverlapCase{"forward", false, false}, OverlapCase{"first reversed", true, false},
                               OverlapCase{"second reversed", false, true}, OverlapCase{"both reversed", true, true}}) {
    const oriented_id_t from = c.first_reverse ? 0 | R : 0;
    const oriented_id_t to = c.second_reverse ? 1 | R : 1;
    GraphFixture g({c.first_reverse ? reverse_complement(left) : left,
                    c.second_reverse ? reverse_complement(right) : right},
                   {{from, to, 3}});
    fragment_graph_set_mark4(g.graph, 0);
    fragment_graph_set_mark4(g.graph, 1);
    const oriented_id_t edge = fragment_graph_get_first_next_edge(g.graph, from);
    array_list_t *joins = join_list({{0, from, to, 3}});
    gap_sequence_map_t *map = contig_overlap_resolve(g.graph, g.contigs(), &g.table, 0, &joins);
    EXPECT_EQ(joins, nullptr) << c.name;
    ASSERT_NE(map, nullptr) << c.name;
    ASSERT_EQ(map->count, 1u) << c.name;
    gap_sequence_t entry;
    ASSERT_EQ(gap_sequence_map_find(map, edge, &entry), 1) << c.name;
    EXPECT_EQ(entry.offset, 15) << c.name;
    EXPECT_EQ(entry.end, 15) << c.name;
    EXPECT_EQ(letters_of(entry.sequence->residues, entry.sequence->length), genome.substr(45, 15)) << c.name;
    EXPECT_EQ(fragment_graph_get_edge_distance(g.graph, edge), -15) << c.name;
    for (oriented_id_t n : {0u, 1u}) {
      EXPECT_EQ(fragment_graph_get_mark2(g.graph, n), 1) << c.name << " node " << n;
      EXPECT_EQ(fragment_graph_get_mark4(g.graph, n), 0) << c.name << " node " << n;
    }
    // The writer spells the genome, the N replaced, from the rebuilt contigs.
    g.info = contig_info_free(g.info);
    const app_test::Output out = g.write(1, kContigFeaturesGff, false, map);
    const std::string spelled = out.fasta.substr(out.fasta.find('\n') + 1);
    std::string letters;
    for (char ch : spelled) {
      if (ch != '\n') letters += ch;
    }
    EXPECT_TRUE(letters == genome || letters == reverse_complement(genome)) << c.name << "\n" << letters;
    EXPECT_EQ(gap_sequence_map_take_sequence(map, edge), nullptr) << c.name;  // the writer took it
    gap_sequence_map_free(map);
  }
}

// A scaffold V -(gap 50)-> X -(gap 3, a hidden 15-base overlap)-> Y with
// the end marks scaffolding leaves (mark4 on V, X and Y, mark5 on X for its
// second gap edge). After resolution the marks keep the gap of 50 and drop
// the closed one, so the AGP output has two components and one gap, and the
// second component is X and Y merged.
TEST(ContigOverlap, ResolvedScaffoldInAgp) {
  const std::string genome = random_genome(100, 4);
  const std::string v = random_genome(30, 40);
  GraphFixture g({v, genome.substr(0, 60), genome.substr(45)}, {{0, 1, 50}, {1, 2, 3}});
  for (oriented_id_t n : {0u, 1u, 2u}) fragment_graph_set_mark4(g.graph, n);
  fragment_graph_set_mark5(g.graph, 1);
  array_list_t *joins = join_list({{0, 1, 2, 3}});
  gap_sequence_map_t *map = contig_overlap_resolve(g.graph, g.contigs(), &g.table, 0, &joins);
  ASSERT_EQ(map->count, 1u);
  EXPECT_EQ(fragment_graph_get_mark4(g.graph, 1), 1);
  EXPECT_EQ(fragment_graph_get_mark5(g.graph, 1), 0);
  EXPECT_EQ(fragment_graph_get_mark4(g.graph, 2), 0);
  g.info = contig_info_free(g.info);
  const app_test::Output out = g.write(1, kContigFeaturesAgp, true, map);
  EXPECT_EQ(out.fasta, fasta_record("contig_1_1", v) + fasta_record("contig_1_2", genome));
  EXPECT_EQ(out.features,
            "##agp-version\t2.0\n"
            "contig_1\t1\t30\t1\tW\tcontig_1_1\t1\t30\t+\n"
            "contig_1\t31\t80\t2\tN\t50\tscaffold\tyes\tpaired-ends\n"
            "contig_1\t81\t180\t3\tW\tcontig_1_2\t1\t100\t+\n");
  gap_sequence_map_free(map);
}

TEST(ContigOverlap, RejectedJoins) {
  // Unrelated sides: nothing aligns well enough. A gap of 1 or less becomes
  // 2, a larger gap stays.
  struct Case {
    int32_t gap;
    int32_t want;
  } cases[] = {{1, 2}, {-7, 2}, {0, 2}, {2, 2}, {5, 5}};
  for (const Case &c : cases) {
    GraphFixture g({std::string(30, 'A'), std::string(30, 'C')}, {{0, 1, c.gap}});
    array_list_t *joins = join_list({{0, 0, 1, c.gap}});
    gap_sequence_map_t *map = contig_overlap_resolve(g.graph, g.contigs(), &g.table, 0, &joins);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->count, 0u) << c.gap;
    EXPECT_EQ(fragment_graph_get_edge_distance(g.graph, fragment_graph_get_first_next_edge(g.graph, 0)), c.want)
        << c.gap;
    gap_sequence_map_free(map);
  }
  // No list: no map.
  GraphFixture g({"ACGT"}, {});
  array_list_t *none = nullptr;
  EXPECT_EQ(contig_overlap_resolve(g.graph, g.contigs(), &g.table, 0, &none), nullptr);
  EXPECT_EQ(contig_overlap_resolve(g.graph, g.contigs(), &g.table, 0, nullptr), nullptr);
}

// A chain of n pieces of one genome, piece bases long and step bases apart,
// joined by edges whose distances cycle through gaps (all scaffold joins).
// Every third fragment is stored reverse-complemented.
struct Chain : GraphFixture {
  std::string genome;
  array_list_t *joins;

  static std::vector<std::string> pieces(const std::string &genome, int n, int piece, int step) {
    std::vector<std::string> out;
    for (int i = 0; i < n; i++) {
      const std::string p = genome.substr(static_cast<size_t>(step * i), static_cast<size_t>(piece));
      out.push_back(i % 3 == 1 ? reverse_complement(p) : p);
    }
    return out;
  }
  static oriented_id_t node(int i) { return static_cast<oriented_id_t>(i) | (i % 3 == 1 ? R : 0); }
  static std::vector<graph_test::Edge> edges(int n, const std::vector<int32_t> &gaps) {
    std::vector<graph_test::Edge> out;
    for (int i = 0; i + 1 < n; i++) out.emplace_back(node(i), node(i + 1), gaps[i % gaps.size()]);
    return out;
  }
  Chain(int n, const std::vector<int32_t> &gaps, uint32_t seed, int piece, int step)
      : GraphFixture(pieces(random_genome(step * (n - 1) + piece, seed), n, piece, step), edges(n, gaps)),
        genome(random_genome(step * (n - 1) + piece, seed)) {
    joins = array_list_new(sizeof(scaffold_join_t));
    for (int i = 0; i + 1 < n; i++) {
      const scaffold_join_t j{0, node(i), node(i + 1), gaps[i % gaps.size()]};
      array_list_add(joins, &j);
    }
  }
  ~Chain() { array_list_free(joins); }
};

std::string spelled_letters(const std::string &fasta) {
  std::string letters;
  for (char ch : fasta.substr(fasta.find('\n') + 1)) {
    if (ch != '\n') letters += ch;
  }
  return letters;
}

TEST(ContigOverlap, ChainOfGapsSpellsTheGenome) {
  // Positive gaps: each side walk stays on its own node, so every join
  // finds its 15-base overlap and the contig is the genome again.
  Chain c(12, {3, 1, 10, 5, 20}, 11, 50, 35);
  gap_sequence_map_t *map = contig_overlap_resolve(c.graph, c.contigs(), &c.table, 0, &c.joins);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->count, 11u);
  c.info = contig_info_free(c.info);
  const std::string letters = spelled_letters(c.write(1, kContigFeaturesGff, false, map).fasta);
  EXPECT_TRUE(letters == c.genome || letters == reverse_complement(c.genome)) << letters;
  gap_sequence_map_free(map);
}

// Map bytes, live edges and node flags after a resolution with cpus workers.
struct Outcome {
  std::string map;
  std::vector<graph_test::Edge> edges;
  std::vector<uint16_t> flags;
  bool operator==(const Outcome &o) const { return map == o.map && edges == o.edges && flags == o.flags; }
};

Outcome resolve_chain(int cpus) {
  // Pieces shorter than a side (2k = 42) and gaps of 0 and below let the
  // side walks cross the neighbouring joins' gap edges, whose distances the
  // resolution changes.
  Chain c(40, {3, -5, 0, 1, -12, 10}, 5, 30, 15);
  for (int i = 0; i < 40; i++) fragment_graph_set_mark4(c.graph, static_cast<oriented_id_t>(i));
  const int saved = get_number_of_cpus();
  set_number_of_cpus(cpus);
  gap_sequence_map_t *map = contig_overlap_resolve(c.graph, c.contigs(), &c.table, 0, &c.joins);
  set_number_of_cpus(saved);
  Outcome out;
  out.map = denovo_reads_test::written_bytes([&](FILE *f) { gap_sequence_map_write(f, map); });
  out.edges = graph_test::edge_set(c.graph);
  for (int32_t i = 0; i < c.graph->node_count; i++) out.flags.push_back(c.graph->nodes[i].flags);
  EXPECT_GT(map->count, 10u);
  gap_sequence_map_free(map);
  return out;
}

TEST(ContigOverlap, ThreadCountDoesNotChangeTheResult) {
  const Outcome one = resolve_chain(1);
  for (int cpus : {2, 3, 4, 4, 8, 8}) {
    EXPECT_TRUE(resolve_chain(cpus) == one) << cpus << " workers";
  }
}

// Contig V X Y Z W over a 130-base genome, where Y (8 bases) lies inside
// the true overlap of X and Z. Joins X -> Y (gap 0, truly -20) and Y -> Z
// (gap -3): the side walk of each join crosses the other join's gap edge.
// With the distances of before the run both are accepted; had one join's new
// distance been seen by the other's walk, that walk would stop at the edge
// (the overlap then exceeds what Y gave) and the other join would fail.
TEST(ContigOverlap, ThreadsSeeTheDistancesOfBeforeTheRun) {
  std::string genome = random_genome(130, 21);
  // Y continues with genome[40] in the walk of Y -> Z, where Z has
  // genome[60]: unequal, so that alignment ends with the true overlap.
  genome[60] = genome[40] == 'A' ? 'C' : 'A';
  for (int order = 0; order < 2; order++) {
    for (int cpus : {1, 4}) {
      GraphFixture g({genome.substr(0, 30), genome.substr(20, 40), genome.substr(40, 8), genome.substr(45, 45),
                      genome.substr(80, 50)},
                     {{0, 1, -10}, {1, 2, 0}, {2, 3, -3}, {3, 4, -10}});
      const oriented_id_t xy = fragment_graph_get_first_next_edge(g.graph, 1);
      const oriented_id_t yz = fragment_graph_get_first_next_edge(g.graph, 2);
      const scaffold_join_t first{0, 1, 2, 0}, second{0, 2, 3, -3};
      array_list_t *joins = order == 0 ? join_list({first, second}) : join_list({second, first});
      const int saved = get_number_of_cpus();
      set_number_of_cpus(cpus);
      gap_sequence_map_t *map = contig_overlap_resolve(g.graph, g.contigs(), &g.table, 0, &joins);
      set_number_of_cpus(saved);
      ASSERT_NE(map, nullptr);
      EXPECT_EQ(map->count, 2u) << "order " << order << ", " << cpus << " workers";
      gap_sequence_t e;
      ASSERT_EQ(gap_sequence_map_find(map, xy, &e), 1) << "order " << order << ", " << cpus << " workers";
      EXPECT_EQ(e.offset, 20);
      EXPECT_EQ(e.end, 20);
      EXPECT_EQ(letters_of(e.sequence->residues, e.sequence->length), genome.substr(40, 20));
      ASSERT_EQ(gap_sequence_map_find(map, yz, &e), 1) << "order " << order << ", " << cpus << " workers";
      EXPECT_EQ(e.offset, 23);
      EXPECT_EQ(e.end, 15);
      EXPECT_EQ(letters_of(e.sequence->residues, e.sequence->length), genome.substr(45, 15));
      EXPECT_EQ(fragment_graph_get_edge_distance(g.graph, xy), -20);
      EXPECT_EQ(fragment_graph_get_edge_distance(g.graph, yz), -15);
      gap_sequence_map_free(map);
    }
  }
}

}  // namespace
