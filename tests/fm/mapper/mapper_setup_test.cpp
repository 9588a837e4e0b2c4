// Reference set-up of the mapping parameters: FASTA references indexed in
// one build behind the indexes already loaded, the file infos and the
// reference files announced to the result writer, the two bisulphite
// builds, and a reference that vanished before it was indexed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fm/index/bidirectional_matcher.h"
#include "fm/mapper/mapper_parameters.h"
#include "common/platform.h"
#include "fm/mapper/nyr_writer.h"
#include "fm/runtime/file.h"
#include "mapping_fixture.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using ryx_test::write_file;

// Occurrences of a pattern of letters in an index.
unsigned long long occurrences(const MapperIndex &index, const char *letters) {
  BidirectionalSearch search;
  index.matcher->init_search_empty(&search);
  for (const char *p = letters; *p != '\0'; p++) {
    const char *codes = "ACGT";
    search.add_symbol(0, static_cast<unsigned char>(strchr(codes, *p) - codes));
  }
  return search.count();
}

// The FASTA text of sequences named s0, s1, ...
std::string fasta(const std::vector<std::string> &sequences) {
  std::string text;
  for (size_t i = 0; i < sequences.size(); i++) text += ">s" + std::to_string(i) + "\n" + sequences[i] + "\n";
  return text;
}

std::string random_letters(std::mt19937_64 &rng, size_t n) {
  std::string s(n, 'A');
  for (char &c : s) c = "ACGT"[rng() % 4];
  return s;
}

void add_fasta(MapperParameters &p, const std::string &path, bool circular) {
  File *file = File::open(path.c_str(), false);
  ASSERT_NE(file, nullptr) << path;
  p.add_reference_file(file, circular);
}

TEST(MapperSetup, FastaIndexFollowsLoadedIndexesAndIsAnnounced) {
  ScratchDir dir;
  std::mt19937_64 rng(5);
  // The first file holds three sequences, the empty one none, the last two.
  write_file(dir.file("a.fa"), fasta({random_letters(rng, 300), random_letters(rng, 200), random_letters(rng, 100)}));
  write_file(dir.file("empty.fa"), "");
  write_file(dir.file("b.fa"), fasta({random_letters(rng, 250), random_letters(rng, 50)}));

  MapperParameters p;
  // An index as read from an index file, with ten sequences.
  map_test::Genome g;
  for (int i = 0; i < 10; i++) {
    g.sequences.push_back(map_test::random_bases(rng, 40));
    g.circular.push_back(false);
  }
  p.main_set.push_back(map_test::index_genome(g));
  p.mismatch_cost = 2;
  p.gap_cost = 3;
  p.deletion_cost = 1;

  p.setup_builder();
  add_fasta(p, dir.file("a.fa"), false);
  add_fasta(p, dir.file("empty.fa"), false);
  add_fasta(p, dir.file("b.fa"), true);
  ASSERT_EQ(p.fasta_paths.size(), 3U);

  const std::string out = dir.file("out.nyr");
  std::vector<MapperFileInfo> infos;
  {
    NYRWriter writer(File::create(out.c_str()), NYRScoringScheme(1, 2, 0, 3, 0, 3, false));
    p.finalize(&writer, infos, nullptr);
    EXPECT_EQ(writer.reference_sequence_count(), 5U);
    EXPECT_EQ(writer.longest_reference(), 300U);
  }
  EXPECT_TRUE(p.are_ready());
  EXPECT_EQ(p.smallest_cost, 1);
  EXPECT_EQ(p.largest_cost, 3);

  ASSERT_EQ(p.main_set.size(), 2U);
  EXPECT_TRUE(p.bisulphite_set.empty());
  const MapperIndex &built = p.main_set[1];
  EXPECT_EQ(built.first_sequence_id, 10U);
  ASSERT_EQ(built.refs.size(), 5U);
  const uint64_t lengths[5] = {300, 200, 100, 250, 50};
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(built.refs[i].length, lengths[i]) << i;
    EXPECT_EQ(built.refs[i].circular, i >= 3) << i;
  }

  ASSERT_EQ(infos.size(), 3U);
  EXPECT_EQ(infos[0].file_name, dir.file("a.fa"));
  EXPECT_EQ(infos[0].sequence_count, 3U);
  EXPECT_EQ(infos[0].total_length, 600U);
  EXPECT_EQ(infos[1].sequence_count, 0U);
  EXPECT_EQ(infos[1].total_length, 0U);
  EXPECT_EQ(infos[2].sequence_count, 2U);
  EXPECT_EQ(infos[2].total_length, 300U);

  // The writer lists a.fa and b.fa (the empty file is left out), and the
  // contig table carries every length and circular flag.
  nyr_file_t *file = nyr_file_read_header(out.c_str());
  ASSERT_EQ(file->reference_files->count, 2);
  EXPECT_EQ(std::string(file->reference_files->entries[0]->names[0]), dir.file("a.fa"));
  EXPECT_EQ(file->reference_files->entries[0]->sequence_count, 3);
  EXPECT_EQ(std::string(file->reference_files->entries[1]->names[0]), dir.file("b.fa"));
  EXPECT_EQ(file->reference_files->entries[1]->sequence_count, 2);
  ASSERT_EQ(file->contig_count, 5U);
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(file->contigs[i]->length, lengths[i]) << i;
    EXPECT_EQ(nyr_contig_is_circular(file->contigs[i]) != 0, i >= 3) << i;
  }
  nyr_file_free(file);
}

TEST(MapperSetup, BisulphiteBuildsTwoConvertedIndexesOfTheSameSequences) {
  ScratchDir dir;
  std::mt19937_64 rng(9);
  write_file(dir.file("ref.fa"), fasta({random_letters(rng, 500), random_letters(rng, 320)}));
  MapperParameters p;
  p.bisulphite = true;
  p.setup_builder();
  add_fasta(p, dir.file("ref.fa"), true);
  std::vector<MapperFileInfo> infos;
  p.finalize(nullptr, infos, nullptr);

  ASSERT_EQ(p.main_set.size(), 1U);
  ASSERT_EQ(p.bisulphite_set.size(), 1U);
  const MapperIndex &ct = p.main_set[0];
  const MapperIndex &ga = p.bisulphite_set[0];
  EXPECT_FALSE(ct.second_set);
  EXPECT_TRUE(ga.second_set);
  EXPECT_EQ(ct.first_sequence_id, 0U);
  EXPECT_EQ(ga.first_sequence_id, 0U);
  ASSERT_EQ(ct.refs.size(), 2U);
  ASSERT_EQ(ga.refs.size(), 2U);
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(ct.refs[i].length, ga.refs[i].length);
    EXPECT_TRUE(ct.refs[i].circular);
    EXPECT_TRUE(ga.refs[i].circular);
  }
  // C->T leaves no C, G->A no G; the other letters remain.
  EXPECT_EQ(occurrences(ct, "C"), 0U);
  EXPECT_GT(occurrences(ct, "G"), 0U);
  EXPECT_EQ(occurrences(ga, "G"), 0U);
  EXPECT_GT(occurrences(ga, "C"), 0U);
  EXPECT_EQ(infos[0].sequence_count, 2U);
  EXPECT_EQ(infos[0].total_length, 820U);
}

TEST(MapperSetup, WithoutFastaOnlyTheBoundsAreDerived) {
  MapperParameters p;
  std::vector<MapperFileInfo> infos;
  p.mismatch_cost = 10;
  p.finalize(nullptr, infos, nullptr);
  EXPECT_TRUE(p.are_ready());
  EXPECT_TRUE(p.main_set.empty());
  EXPECT_TRUE(infos.empty());
  EXPECT_EQ(p.largest_cost, 10);
}

TEST(MapperSetup, MemoryBudgetOfTheIndexBuild) {
  MapperParameters p;
  p.index_memory_mb = 3;
  EXPECT_EQ(p.index_memory_budget(), 3ULL << 20);
  p.index_memory_mb = 0;
  const uint64_t half_mb = (platform_physical_memory_bytes() >> 20) / 2;
  EXPECT_EQ(p.index_memory_budget(), half_mb << 20);
}

TEST(MapperSetup, BisulphiteFiltersRewriteCodesAndKeepEverySequence) {
  Sequence *s = Sequence::from_letters("ACGTNCG");
  EXPECT_TRUE((bisulphite_map<1, 3>(s)));
  EXPECT_EQ(std::vector<unsigned char>(s->symbols, s->symbols + 7),
            (std::vector<unsigned char>{0, 3, 2, 3, 4, 3, 2}));
  EXPECT_TRUE((bisulphite_map<2, 0>(s)));
  EXPECT_EQ(std::vector<unsigned char>(s->symbols, s->symbols + 7),
            (std::vector<unsigned char>{0, 3, 0, 3, 4, 3, 0}));
  EXPECT_EQ(s->symbols[7], 255);
  delete s;
}

TEST(MapperSetupDeathTest, ReferenceGoneBeforeItIsIndexed) {
  ScratchDir dir;
  write_file(dir.file("ref.fa"), ">a\nACGTACGTACGT\n");
  MapperParameters p;
  p.setup_builder();
  add_fasta(p, dir.file("ref.fa"), false);
  std::remove(dir.file("ref.fa").c_str());
  std::vector<MapperFileInfo> infos;
  EXPECT_EXIT(p.finalize(nullptr, infos, nullptr), testing::ExitedWithCode(1),
              "^Could not open reference file " + dir.file("ref.fa") + "\n$");
}

}  // namespace
