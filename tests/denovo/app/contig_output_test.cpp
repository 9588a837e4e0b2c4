// Contig writer: contigs spelled from hand-built graphs (overlaps, scaffold
// gaps, read-end gaps, merged overlaps from the gap-sequence map, end
// extensions, circular cuts), naming and the minimum length, and the FASTA,
// GFF and AGP output against hand-written golden files.
#include "denovo/app/contig_output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "app_test_util.h"
#include "common/string_util.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using app_test::fasta_record;
using app_test::GraphFixture;
using app_test::Output;
using graph_test::R;

// The graph of the golden files:
// - contig 1: F0 -(-4)-> F1 -(5, scaffold gap)-> F2' -(-3)-> F3, with
//   mark2 on nodes 0 and 1 (joined), mark4 on nodes 1 and 2 (scaffold
//   ends) and mark1 on node 3 (alternatives excluded);
// - F4 alone, 8 bases, below the minimum length of 10;
// - F5 alone;
// - a ring F6 -(-3)-> F7 -(-2)-> F6 of 15 bases.
struct GoldenGraph : GraphFixture {
  GoldenGraph()
      : GraphFixture({"ACGTACGGTC", "GGTCAATTGC", "CCATGGAAAT", "TGGCATCAGA", "GATTACAA", "GATCGATCGATT",
                      "AACCGGTTAC", "TACGATCGAA"},
                     {{0, 1, -4}, {1, 2 | R, 5}, {2 | R, 3, -3}, {6, 7, -3}, {7, 6, -2}}) {
    fragment_graph_set_mark2(graph, 0);
    fragment_graph_set_mark2(graph, 1);
    fragment_graph_set_mark4(graph, 1);
    fragment_graph_set_mark4(graph, 2);
    fragment_graph_set_mark1(graph, 3);
    contigs();
  }
  // The golden files assume the contig info walks the contigs in this order
  // and orientation.
  void check_layout() const {
    ASSERT_EQ(contig_info_get_contig_count(info), 4);
    EXPECT_EQ(contig_info_get_first_node(info, 0), 0u);
    EXPECT_EQ(contig_info_get_last_node(info, 0), 3u);
    EXPECT_EQ(contig_info_get_contig_length(info, graph, 0), 38);
    EXPECT_EQ(contig_info_get_first_node(info, 1), 4u);
    EXPECT_EQ(contig_info_get_first_node(info, 2), 5u);
    EXPECT_EQ(contig_info_get_first_node(info, 3), 6u);
    EXPECT_EQ(contig_info_is_circular(info, 3), 1);
  }
};

// Checks an AGP file against the FASTA file written with it: the header
// first; per object consecutive part numbers from 1 tiling 1..L without
// holes, N lines of positive length, and W lines whose component ids and
// lengths are the FASTA records in order.
void check_agp(const std::string &agp, const std::string &fasta) {
  std::vector<std::pair<std::string, size_t>> records;
  {
    std::istringstream in(fasta);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] == '>') {
        records.emplace_back(line.substr(1), 0);
      } else {
        ASSERT_FALSE(records.empty());
        EXPECT_LE(line.size(), 60u);
        records.back().second += line.size();
      }
    }
  }
  std::istringstream in(agp);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "##agp-version\t2.0");
  std::string object;
  long next_begin = 1;
  long next_part = 1;
  size_t record = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> w;
    std::istringstream cols(line);
    for (std::string c; std::getline(cols, c, '\t');) w.push_back(c);
    ASSERT_EQ(w.size(), 9u) << line;
    if (w[0] != object) {
      object = w[0];
      next_begin = 1;
      next_part = 1;
    }
    const long begin = std::stol(w[1]);
    const long end = std::stol(w[2]);
    EXPECT_EQ(begin, next_begin) << line;
    EXPECT_GE(end, begin) << line;
    EXPECT_EQ(std::stol(w[3]), next_part) << line;
    next_begin = end + 1;
    next_part++;
    if (w[4] == "W") {
      ASSERT_LT(record, records.size()) << line;
      EXPECT_EQ(w[5], records[record].first) << line;
      EXPECT_EQ(static_cast<size_t>(std::stol(w[7])), records[record].second) << line;
      EXPECT_EQ(std::stol(w[7]), end - begin + 1);
      EXPECT_EQ(w[6], "1");
      EXPECT_EQ(w[8], "+");
      record++;
    } else {
      EXPECT_EQ(w[4], "N") << line;
      EXPECT_GT(std::stol(w[5]), 0) << line;
      EXPECT_EQ(std::stol(w[5]), end - begin + 1);
    }
  }
  EXPECT_EQ(record, records.size());
}

TEST(ContigOutput, GoldenFastaAndGff) {
  GoldenGraph g;
  g.check_layout();
  const Output out = g.write(10, kContigFeaturesGff, true);
  EXPECT_EQ(out.fasta, ryx_test::read_file(RYX_TEST_DATA_DIR "/denovo/app/scaffold_gap_circle.fa"));
  EXPECT_EQ(out.features, ryx_test::read_file(RYX_TEST_DATA_DIR "/denovo/app/scaffold_gap_circle.gff"));
  EXPECT_EQ(out.trace, "");
  // The ring was cut before its first node and the flags there cleared.
  EXPECT_EQ(fragment_graph_get_first_prev_edge(g.graph, 6), kOrientedIdNone);
  EXPECT_EQ(fragment_graph_get_first_next_edge(g.graph, 7), kOrientedIdNone);
  EXPECT_NE(fragment_graph_get_first_next_edge(g.graph, 6), kOrientedIdNone);
}

TEST(ContigOutput, GoldenAgp) {
  GoldenGraph g;
  g.check_layout();
  const Output out = g.write(10, kContigFeaturesAgp, true);
  EXPECT_EQ(out.fasta, ryx_test::read_file(RYX_TEST_DATA_DIR "/denovo/app/scaffold_gap_circle.agp.fa"));
  EXPECT_EQ(out.features, ryx_test::read_file(RYX_TEST_DATA_DIR "/denovo/app/scaffold_gap_circle.agp"));
  check_agp(out.features, out.fasta);
}

TEST(ContigOutput, WithoutFeatureFileEveryContigIsWhole) {
  GoldenGraph g;
  const Output out = g.write(10);
  EXPECT_EQ(out.fasta, ryx_test::read_file(RYX_TEST_DATA_DIR "/denovo/app/scaffold_gap_circle.fa"));
}

TEST(ContigOutput, ShowContigsTrace) {
  GraphFixture g({"ACGTACGGTC", "GGTCAATTGC"}, {{0, 1, -4}});
  const Output out = g.write(0, kContigFeaturesGff, false, nullptr, 1);
  EXPECT_EQ(out.trace, "Contigs:\n  00000000 (   16): 00000000(10) <-4> 00000001(10) \n");
  EXPECT_EQ(out.fasta, fasta_record("contig_1", "ACGTACGGTCAATTGC"));
}

TEST(ContigOutput, GffWithoutMarksStaysEmpty) {
  GraphFixture g({"ACGTACGGTC", "GGTCAATTGC", "AAAAACCCCC"}, {{0, 1 | R, 3}});
  const Output out = g.write(1, kContigFeaturesGff, true);
  EXPECT_EQ(out.features, "");
  // A positive gap that no read end bridges (no end-info list) becomes N;
  // node 1 is read reverse-complemented.
  EXPECT_EQ(out.fasta, fasta_record("contig_1", "ACGTACGGTCNNNGCAATTGACC") + fasta_record("contig_2", "AAAAACCCCC"));
}

TEST(ContigOutput, LinesOfSixtyAndLongScaffoldGap) {
  const std::string a(70, 'A');
  const std::string c(50, 'C');
  GraphFixture g({a, c}, {{0, 1, 100}});
  fragment_graph_set_mark4(g.graph, 0);
  fragment_graph_set_mark4(g.graph, 1);
  const Output out = g.write(1);
  const std::string expected = a + std::string(100, 'N') + c;
  EXPECT_EQ(out.fasta, fasta_record("contig_1", expected));
  EXPECT_EQ(out.fasta.substr(0, 10 + 61), ">contig_1\n" + std::string(60, 'A') + "\n");
}

// Minimum length: tested before the extensions and again on the final
// length (as unsigned numbers); only written contigs and skipped-at-first
// contigs differ in taking a number.
TEST(ContigOutput, MinimumLength) {
  struct Case {
    const char *name;
    int32_t min_length;
    std::string fasta;
  };
  // Contig 1: 8 bases (13 with its extensions); contig 2: 18 bases that a
  // merged overlap shrinks to 14; contig 3: 16 bases.
  const std::string t16(16, 'T');
  const std::vector<Case> cases = {
      {"all pass", 1,
       fasta_record("contig_1", "AAACGTTGCAGGA") + fasta_record("contig_2", "AAAACCGATTAAAA") +
           fasta_record("contig_3", t16)},
      {"extensions do not rescue", 10, fasta_record("contig_1", "AAAACCGATTAAAA") + fasta_record("contig_2", t16)},
      {"shrunk contig keeps its number", 15, fasta_record("contig_2", t16)},
      {"negative minimum writes nothing", -1, ""},
  };
  for (const Case &c : cases) {
    GraphFixture g({"ACGTTGCA", "AAAACCCCGG", "GGCCTTAAAA", t16}, {{1, 2, -2}});
    g.tails(4, {{0, "TGCAGGA"}, {0 | R, "ACGTTT"}});
    gap_sequence_map_t *gaps = gap_sequence_map_new();
    seq_record_t *merged = seq_record_new(2);
    merged->residues[0] = 2;  // "GA"
    merged->residues[1] = 0;
    const gap_sequence_t entry{4, 4, merged};
    gap_sequence_map_insert(gaps, fragment_graph_get_first_next_edge(g.graph, 1), &entry);
    const Output out = g.write(c.min_length, kContigFeaturesGff, false, gaps);
    EXPECT_EQ(out.fasta, c.fasta) << c.name;
    gap_sequence_map_free(gaps);
  }
}

// Merged overlaps from the gap-sequence map, found under the edge or its
// reverse, including a skip that runs past the next fragment.
TEST(ContigOutput, MergedOverlaps) {
  auto codes = [](const std::string &letters) {
    seq_record_t *r = seq_record_new(static_cast<uint32_t>(letters.size()));
    for (size_t i = 0; i < letters.size(); i++) r->residues[i] = static_cast<uint8_t>(std::string("ACGTN").find(letters[i]));
    return r;
  };
  struct Case {
    const char *name;
    std::vector<std::string> fragments;
    std::vector<graph_test::Edge> edges;
    bool reverse_key;
    gap_sequence_t entry;  // sequence set below
    std::string merged;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"forward key", {"AAAACCCCGG", "TTGGGGAAAA"}, {{0, 1, -5}}, false, {3, 1, nullptr}, "GACTA",
       "AAAACCCGACTATGGGGAAAA"},
      {"reverse key", {"AAAACCCCGG", "TTGGGGAAAA"}, {{0, 1, -5}}, true, {1, 3, nullptr}, "TAGTC",
       "AAAACCCGACTATGGGGAAAA"},
      {"skip past the next fragment", {"AAAACCCCGG", "TTG", "GCAGTCAGTC"}, {{0, 1, -5}, {1, 2, -1}}, false,
       {3, 5, nullptr}, "GACTA", "AAAACCCGACTAGTCAGTC"},
      {"skip short of the next fragment writes N", {"AAAACCCCGG", "TTG", "GCAGTCAGTC"}, {{0, 1, -5}, {1, 2, 4}},
       false, {3, 5, nullptr}, "GACTA", "AAAACCCGACTANNGCAGTCAGTC"},
  };
  for (const Case &c : cases) {
    GraphFixture g(c.fragments, c.edges);
    gap_sequence_map_t *gaps = gap_sequence_map_new();
    gap_sequence_t entry = c.entry;
    entry.sequence = codes(c.merged);
    const oriented_id_t e = fragment_graph_get_first_next_edge(g.graph, 0);
    gap_sequence_map_insert(gaps, c.reverse_key ? fragment_graph_reverse_edge(e) : e, &entry);
    const Output out = g.write(1, kContigFeaturesGff, false, gaps);
    EXPECT_EQ(out.fasta, fasta_record("contig_1", c.expected)) << c.name;
    // The writer took the sequence out of the map and released it.
    EXPECT_EQ(gap_sequence_map_take_sequence(gaps, c.reverse_key ? fragment_graph_reverse_edge(e) : e), nullptr);
    gap_sequence_map_free(gaps);
  }
}

// A sequence already taken from the map is not used again: the edge is
// spelled as a plain overlap.
TEST(ContigOutput, TakenMergedSequenceFallsBackToOverlap) {
  GraphFixture g({"AAAACCCCGG", "CCGGGGAAAA"}, {{0, 1, -4}});
  gap_sequence_map_t *gaps = gap_sequence_map_new();
  seq_record_t *merged = seq_record_new(1);
  merged->residues[0] = 3;
  const gap_sequence_t entry{1, 1, merged};
  const oriented_id_t e = fragment_graph_get_first_next_edge(g.graph, 0);
  gap_sequence_map_insert(gaps, e, &entry);
  seq_record_release(gap_sequence_map_take_sequence(gaps, e));
  const Output out = g.write(1, kContigFeaturesGff, false, gaps);
  EXPECT_EQ(out.fasta, fasta_record("contig_1", "AAAACCCCGGGGAAAA"));
  gap_sequence_map_free(gaps);
}

// Gaps between fragments that are not scaffold gaps are filled from the
// read ends that bridge them, else with N.
TEST(ContigOutput, ReadEndGaps) {
  struct Case {
    const char *name;
    std::vector<std::pair<oriented_id_t, std::string>> tails;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"bridged from the first fragment", {{0, "AAAATACGGGG"}}, "CCCCAAAATACGGGGTTTT"},
      {"bridged from the second fragment reversed", {{1 | R, "CCCCGTATTTT"}}, "CCCCAAAATACGGGGTTTT"},
      {"nothing bridges", {{0, "AAAATT"}}, "CCCCAAAANNNGGGGTTTT"},
  };
  for (const Case &c : cases) {
    GraphFixture g({"CCCCAAAA", "GGGGTTTT"}, {{0, 1, 3}});
    g.tails(4, c.tails);
    const Output out = g.write(1);
    // The end extensions of the tails (if any) lie on other ends.
    EXPECT_EQ(out.fasta, fasta_record("contig_1", c.expected)) << c.name;
  }
}

TEST(ContigOutput, FillGapStaysInsideTheRecord) {
  GraphFixture g({"CCCCAAAA", "GGGGTTTT"}, {});
  g.tails(4, {{0, "AAAATACGGGG"}});
  // The gap ends right at the record's end and starts 2 bases in: the fill's
  // flanks reach outside on both sides and must be dropped there.
  seq_record_t *r = seq_record_new(5);
  memset(r->residues, 9, 6);
  const int64_t after = contig_output_fill_gap(g.graph, nullptr, nullptr, g.table.end_info, 0, 1, r, 2, 3);
  EXPECT_EQ(after, 5);
  EXPECT_EQ(std::vector<uint8_t>(r->residues, r->residues + 6), (std::vector<uint8_t>{0, 0, 3, 0, 1, 9}));
  // Without a list the gap is N.
  EXPECT_EQ(contig_output_fill_gap(g.graph, nullptr, nullptr, nullptr, 0, 1, r, 3, 5), 8);
  EXPECT_EQ(std::vector<uint8_t>(r->residues, r->residues + 6), (std::vector<uint8_t>{0, 0, 3, 4, 4, 9}));
  seq_record_free(r);
}

TEST(ContigOutput, EndExtensions) {
  GraphFixture g({"ACGTTGCA"}, {});
  // End: the last 4 bases then GGA; start (reverse strand): ACGT then TT,
  // which reads AA before the fragment. A consensus not longer than M is
  // dropped.
  g.tails(4, {{0, "TGCAGGA"}, {0 | R, "ACGTTT"}});
  EXPECT_EQ(g.write(1).fasta, fasta_record("contig_1", "AAACGTTGCAGGA"));
  GraphFixture h({"ACGTTGCA"}, {});
  h.tails(4, {{0, "TGCA"}, {0 | R, "ACGTTT"}});
  EXPECT_EQ(h.write(1).fasta, fasta_record("contig_1", "AAACGTTGCA"));
}

// A circular contig is cut open and gets no end extensions.
TEST(ContigOutput, CircularContigWithoutExtensions) {
  GraphFixture g({"AACCGGTTAC", "TACGATCGAA"}, {{0, 1, -3}, {1, 0, -2}});
  g.tails(4, {{1, "CGAATTTT"}, {0 | R, "GGTTCCCC"}});
  fragment_graph_set_mark4(g.graph, 0);
  const Output out = g.write(1);
  ASSERT_EQ(contig_info_get_first_node(g.info, 0), 0u);
  EXPECT_EQ(out.fasta, fasta_record("contig_1", "AACCGGTTACGATCG"));
  EXPECT_EQ(fragment_graph_get_mark4(g.graph, 0), 0);
}

// AGP: a contig without gaps is one W line and one record named like its
// component; where scaffold-end nodes touch without gap bases no N line of
// length 0 or less is made.
TEST(ContigOutput, AgpWithoutGapBases) {
  GraphFixture g({"ACGTACGGTC", "GGTCAATTGC", "TTTTT"}, {{0, 1, -4}});
  fragment_graph_set_mark4(g.graph, 0);
  fragment_graph_set_mark4(g.graph, 1);
  const Output out = g.write(1, kContigFeaturesAgp, true);
  EXPECT_EQ(out.features,
            "##agp-version\t2.0\n"
            "contig_1\t1\t16\t1\tW\tcontig_1_1\t1\t16\t+\n"
            "contig_2\t1\t5\t1\tW\tcontig_2_1\t1\t5\t+\n");
  EXPECT_EQ(out.fasta, fasta_record("contig_1_1", "ACGTACGGTCAATTGC") + fasta_record("contig_2_1", "TTTTT"));
  check_agp(out.features, out.fasta);
}

// Two gaps in one scaffold through a second-mark end: W N W N W.
TEST(ContigOutput, AgpTwoGaps) {
  GraphFixture g({"AAAAA", "CCCCC", "GGGGG"}, {{0, 1, 2}, {1, 2, 3}});
  for (oriented_id_t n : {0u, 1u, 2u}) fragment_graph_set_mark4(g.graph, n);
  fragment_graph_set_mark5(g.graph, 1);
  const Output out = g.write(1, kContigFeaturesAgp, true);
  EXPECT_EQ(out.fasta, fasta_record("contig_1_1", "AAAAA") + fasta_record("contig_1_2", "CCCCC") +
                           fasta_record("contig_1_3", "GGGGG"));
  EXPECT_EQ(out.features,
            "##agp-version\t2.0\n"
            "contig_1\t1\t5\t1\tW\tcontig_1_1\t1\t5\t+\n"
            "contig_1\t6\t7\t2\tN\t2\tscaffold\tyes\tpaired-ends\n"
            "contig_1\t8\t12\t3\tW\tcontig_1_2\t1\t5\t+\n"
            "contig_1\t13\t15\t4\tN\t3\tscaffold\tyes\tpaired-ends\n"
            "contig_1\t16\t20\t5\tW\tcontig_1_3\t1\t5\t+\n");
  check_agp(out.features, out.fasta);
}

TEST(ContigOutput, GapEdgeRule) {
  struct Case {
    const char *name;
    uint16_t from_marks, to_marks;
    bool scaffold_open;
    int expected;
  };
  const std::vector<Case> cases = {
      {"no marks", 0, 0, false, 0},
      {"both mark4, none open", kGraphMark4, kGraphMark4, false, 1},
      {"both mark4, one open", kGraphMark4, kGraphMark4, true, 0},
      {"one mark4", kGraphMark4, 0, false, 0},
      {"mark5 at the target", 0, kGraphMark5, true, 1},
      {"mark5 at the source", kGraphMark5, 0, true, 1},
  };
  for (const Case &c : cases) {
    GraphFixture g({"AAAA", "CCCC"}, {{0, 1 | R, 3}});
    fragment_graph_get_node_record(g.graph, 0)->flags |= c.from_marks;
    fragment_graph_get_node_record(g.graph, 1)->flags |= c.to_marks;
    contig_feature_state_t state;
    contig_feature_state_reset(&state);
    if (c.scaffold_open) state.open_scaffold = 0;
    const oriented_id_t e = fragment_graph_get_first_next_edge(g.graph, 0);
    EXPECT_EQ(contig_output_is_gap_edge(g.graph, e, &state), c.expected) << c.name;
    EXPECT_EQ(contig_output_is_gap_edge(g.graph, fragment_graph_reverse_edge(e), &state), c.expected) << c.name;
    EXPECT_EQ(contig_output_is_gap_edge(g.graph, kOrientedIdNone, &state), 0);
  }
}

TEST(ContigOutput, PieceAndTriple) {
  seq_record_t *r = seq_record_new_from_string("ACGTACGT");
  r->name = string_duplicate("ctg");
  seq_record_t *piece = contig_output_make_piece(r, 2, 20, 7);
  EXPECT_STREQ(piece->name, "ctg_7");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(piece->residues), piece->length), "GTACGT");
  seq_record_free(piece);
  seq_record_free(r);
  array_list_t *list = array_list_new(sizeof(contig_output_triple_t));
  contig_output_append_triple(list, 1ull << 40, -3, 9);
  ASSERT_EQ(array_list_get_count(list), 1u);
  const auto *t = static_cast<contig_output_triple_t *>(array_list_get_item(list, 0));
  EXPECT_EQ(t->value, 1ull << 40);
  EXPECT_EQ(t->first, -3);
  EXPECT_EQ(t->second, 9);
  array_list_free(list);
}

}  // namespace
