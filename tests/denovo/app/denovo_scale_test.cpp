// ryx_denovo on a genome large enough that its threads really race: many
// read-store blocks, workers far ahead of the blocks decided in turn, read
// errors and repeats. Every stage's result must be that of one thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/read_simulation.h"
#include "common/cpus.h"
#include "denovo_program_util.h"
#include "test_support.h"

namespace {

using denovo_program::denovo;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // every run is slow: a smaller genome
#else
constexpr bool kSanitized = false;
#endif

// Read pairs of 2 x 250 bases at 2 % error over a genome with planted
// repeats: long reads with many errors leave many seeds that only some
// blocks see as taken, which is where the threads' timing used to show.
void write_read_pairs(const ScratchDir &dir, uint64_t genome_size, double coverage) {
  GenomeSettings g;
  g.size = genome_size;
  g.sequences = 2;
  g.repeats = 12;
  g.repeat_length = 1500;
  g.seed = 11;
  const SimulatedGenome genome = simulate_genome(g);
  ReadSettings r;
  r.length = 250;
  r.pairs = true;
  r.fragment_mean = 800;
  r.fragment_sd = 80;
  r.substitution = 0.018;
  r.indel = 0.002;
  r.seed = 5;
  FILE *left = fopen(dir.file("r1.fq").c_str(), "w");
  FILE *right = fopen(dir.file("r2.fq").c_str(), "w");
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  const auto pairs = static_cast<uint64_t>(coverage * static_cast<double>(genome_size) / 500.0);
  for (uint64_t i = 0; i < pairs; i++) {
    SimulatedRead a, b;
    simulate_read(genome, r, i, &a, &b);
    ASSERT_TRUE(write_fastq_record(a, left));
    ASSERT_TRUE(write_fastq_record(b, right));
  }
  ASSERT_EQ(fclose(left), 0);
  ASSERT_EQ(fclose(right), 0);
}

// The fragment stage file, and the contigs with their GFF, at 1, 3 and all
// (up to 8) threads and twice again at the most: byte for byte the same.
// The contigs of the later runs come from their own fragment files, so
// every stage after the fragments runs at that thread count too; one run
// from the reads alone at the most threads closes the circle.
TEST(DenovoScale, SameFragmentsAndContigsForAnyCpuCount) {
  ScratchDir dir;
  // 1 Mbp at 4x is 8 million read symbols in 8 blocks of some 60 pieces
  // each; the sanitizer builds run a fifth of it.
  write_read_pairs(dir, kSanitized ? 200000 : 1000000, 4);
  const int most = std::min(8, get_system_number_of_cpus());
  const std::vector<std::string> reads = {"-p", "fb", "ss", "600", "1000", "-q", "-i", dir.file("r1.fq"),
                                          dir.file("r2.fq")};
  auto run = [&](std::vector<std::string> words) {
    words.insert(words.end(), reads.begin(), reads.end());
    const RunResult r = denovo(words);
    EXPECT_EQ(r.status, 0) << r.err;
  };
  std::string fragments, contigs, features;
  int n = 0;
  for (int cpus : {1, std::min(3, most), most, most}) {
    SCOPED_TRACE("cpus " + std::to_string(cpus) + ", run " + std::to_string(n));
    const std::string c = std::to_string(cpus);
    const std::string tag = std::to_string(n++);
    const std::string stage = dir.file("f" + tag), fasta = dir.file("c" + tag + ".fa"),
                      gff = dir.file("c" + tag + ".gff");
    run({"--cpus", c, "--savefragments", stage});
    if (n == 1) {
      run({"--cpus", c, "-o", fasta, "-f", gff});
      fragments = read_file(stage);
      contigs = read_file(fasta);
      features = read_file(gff);
      ASSERT_GT(std::count(contigs.begin(), contigs.end(), '>'), 10);
      continue;
    }
    run({"--cpus", c, "--loadfragments", stage, "-o", fasta, "-f", gff});
    // Whole-file comparisons: a failure prints no megabytes of bytes.
    EXPECT_TRUE(read_file(stage) == fragments);
    EXPECT_TRUE(read_file(fasta) == contigs);
    EXPECT_TRUE(read_file(gff) == features);
  }
  run({"--cpus", std::to_string(most), "-o", dir.file("all.fa"), "-f", dir.file("all.gff")});
  EXPECT_TRUE(read_file(dir.file("all.fa")) == contigs);
  EXPECT_TRUE(read_file(dir.file("all.gff")) == features);
}

}  // namespace
