// The mapping pipeline in process: reads from files through the engine to
// the result writer, one entry per read in input order, the same file for
// any number of workers, and the read-file records.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/cpus.h"
#include "fm/mapper/mapper_options.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/mapper_pipeline.h"
#include "fm/mapper/nyr_writer.h"
#include "fm/runtime/file.h"
#include "mapping_fixture.h"
#include "seqio/nyr_file.h"
#include "seqio/nyr_hit.h"
#include "test_support.h"

namespace {

using map_test::Genome;
using ryx_test::read_file;
using ryx_test::ScratchDir;
using ryx_test::write_file;

std::string letters(const map_test::Symbols &codes) {
  std::string s;
  for (unsigned char c : codes) s += "ACGTN"[c];
  return s;
}

struct Fixture {
  Fixture() : genome(map_test::random_genome(21, 40000, 6, 120)) {
    parameters.main_set.push_back(map_test::index_genome(genome));
    std::vector<MapperFileInfo> none;
    parameters.finalize(nullptr, none, nullptr);
  }
  // A FASTQ file of n reads of 100 bases, most of them unique, a few from
  // the repeats (several hits: the sample depends on the read index).
  std::string reads_file(const ScratchDir &dir, const std::string &name, int n, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::string text;
    for (int i = 0; i < n; i++) {
      map_test::SimulatedRead r;
      if (i % 5 == 4) {
        const map_test::Repeat &rep = genome.repeats[static_cast<size_t>(i) % genome.repeats.size()];
        const map_test::Symbols &s = genome.sequences[rep.source_sequence];
        r.codes.assign(s.begin() + rep.source, s.begin() + rep.source + 100);
      } else {
        r = map_test::simulate_read(rng, genome, 100, {0.01, 0.002, 0.002}, true);
      }
      truth.push_back(r);
      text += "@r" + std::to_string(i) + "\n" + letters(r.codes) + "\n+\n" + std::string(r.codes.size(), 'I') + "\n";
    }
    write_file(dir.file(name), text);
    return dir.file(name);
  }
  // n pairs interleaved in one file, of fragments of 300 bases read from
  // both ends (setting fb ss 250 350), and one odd read at the end.
  std::string pairs_file(const ScratchDir &dir, const std::string &name, int n, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::string text;
    for (int i = 0; i <= n; i++) {
      const map_test::Symbols &s = genome.sequences[rng() % 3];
      const size_t start = rng() % (s.size() - 300);
      const map_test::Symbols a(s.begin() + start, s.begin() + start + 100);
      const map_test::Symbols end(s.begin() + start + 200, s.begin() + start + 300);
      const map_test::Symbols b = map_test::reverse_complement(end);
      text += "@p" + std::to_string(i) + "a\n" + letters(a) + "\n+\n" + std::string(100, 'I') + "\n";
      if (i < n) text += "@p" + std::to_string(i) + "b\n" + letters(b) + "\n+\n" + std::string(100, 'I') + "\n";
    }
    write_file(dir.file(name), text);
    return dir.file(name);
  }
  // Maps the files into out with the given worker count; paired files with
  // the setting fb ss 250 350.
  void map(const std::vector<std::string> &files, const std::string &out, int cpus, bool paired = false) {
    mapper_parser_t options;
    options.parameters = &parameters;
    for (const std::string &f : files) {
      read_file_t rf;
      rf.first = File::open(f.c_str(), false);
      rf.paired = paired;
      rf.paired_settings = {1, 0, 250, 350};
      options.read_files.push_back(rf);
    }
    options.writer = new NYRWriter(File::create(out.c_str()), NYRScoringScheme(1, 2, 0, 3, 0, 3, false));
    NYRReferenceFile reference("genome.fa");
    for (size_t i = 0; i < genome.sequences.size(); i++)
      reference.add(static_cast<uint32_t>(genome.sequences[i].size()), genome.circular[i]);
    options.writer->add_reference_file(reference);
    set_number_of_cpus(cpus);
    mapper_pipeline_run(&options, nullptr);
    set_number_of_cpus(0);
    EXPECT_EQ(options.writer, nullptr);
  }

  Genome genome;
  MapperParameters parameters;
  std::vector<map_test::SimulatedRead> truth;
};

TEST(MapperPipelineThread, SameFileForOneAndFourWorkersWithReadsInOrder) {
  ScratchDir dir;
  Fixture f;
  const std::string reads = f.reads_file(dir, "reads.fq", 300, 3);
  f.map({reads}, dir.file("one.nyr"), 1);
  f.map({reads}, dir.file("four.nyr"), 4);
  EXPECT_EQ(read_file(dir.file("one.nyr")), read_file(dir.file("four.nyr")));

  nyr_file_t *file = nyr_file_read(dir.file("four.nyr").c_str(), 1);
  ASSERT_EQ(file->read_count, 300U);
  ASSERT_EQ(file->read_files->count, 1);
  EXPECT_EQ(file->read_files->entries[0]->sequence_count, 300);
  int64_t symbols = 0;
  for (const map_test::SimulatedRead &r : f.truth) symbols += static_cast<int64_t>(r.codes.size());
  EXPECT_EQ(file->read_files->entries[0]->residue_count, symbols);
  int placed = 0;
  for (uint64_t i = 0; i < 300; i++) {
    nyr_match_t *hit = nyr_file_get_match(file, i);
    ASSERT_NE(hit, nullptr) << i;
    const map_test::SimulatedRead &r = f.truth[i];
    if (i % 5 == 4) {
      EXPECT_GE(nyr_match_get_count(hit), 2U) << i;  // a repeat: every copy is a hit
      continue;
    }
    // Unique reads land where they came from (within the clipped ends).
    if (hit->contig == r.sequence && hit->position + 10 >= r.start && hit->position <= r.start + 10 &&
        (nyr_match_is_reverse(hit) != 0) == r.reverse)
      placed++;
  }
  EXPECT_EQ(placed, 240);
  nyr_file_free(file);
}

TEST(MapperPipelineThread, PairsAreTheSameForOneAndFourWorkers) {
  ScratchDir dir;
  Fixture f;
  const std::string pairs = f.pairs_file(dir, "pairs.fq", 100, 5);
  f.map({pairs}, dir.file("one.nyr"), 1, true);
  f.map({pairs}, dir.file("four.nyr"), 4, true);
  EXPECT_EQ(read_file(dir.file("one.nyr")), read_file(dir.file("four.nyr")));
  nyr_file_t *file = nyr_file_read(dir.file("four.nyr").c_str(), 1);
  ASSERT_EQ(file->read_count, 201U);
  int paired = 0;
  for (uint64_t i = 0; i < 200; i++) {
    nyr_match_t *hit = nyr_file_get_match(file, i);
    paired += hit != nullptr && nyr_match_is_paired(hit) != 0;
  }
  EXPECT_GE(paired, 190);
  // The odd last record is a single read.
  nyr_match_t *last = nyr_file_get_match(file, 200);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(nyr_match_is_paired(last), 0);
  nyr_file_free(file);
}

// Each file's read indexes start over: the same reads in two files get the
// same random choices, so their records are byte-identical.
TEST(MapperPipelineThread, EachFileStartsAtReadIndexZero) {
  ScratchDir dir;
  Fixture f;
  const std::string a = f.reads_file(dir, "a.fq", 60, 8);
  write_file(dir.file("b.fq"), read_file(a));
  f.map({a}, dir.file("a.nyr"), 3);
  f.map({a, dir.file("b.fq")}, dir.file("ab.nyr"), 3);
  nyr_file_t *one = nyr_file_read(dir.file("a.nyr").c_str(), 1);
  nyr_file_t *two = nyr_file_read(dir.file("ab.nyr").c_str(), 1);
  ASSERT_EQ(two->read_count, 120U);
  ASSERT_EQ(two->read_files->count, 2);
  for (uint64_t i = 0; i < 60; i++) {
    for (uint64_t copy : {i, i + 60}) {
      nyr_match_t *x = nyr_file_get_match(one, i);
      nyr_match_t *y = nyr_file_get_match(two, copy);
      ASSERT_EQ(x == nullptr, y == nullptr) << i;
      if (x == nullptr) continue;
      EXPECT_EQ(uint32_t{x->contig}, uint32_t{y->contig}) << i;
      EXPECT_EQ(uint32_t{x->position}, uint32_t{y->position}) << i;
      EXPECT_EQ(nyr_match_get_count(x), nyr_match_get_count(y)) << i;
    }
  }
  nyr_file_free(one);
  nyr_file_free(two);
}

}  // namespace
