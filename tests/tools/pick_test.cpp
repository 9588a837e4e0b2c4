// ryx_pick's sampling run against an independent model of the generator:
// which reads are kept for a seed, pairs kept whole, qualities taken in
// step with the reads, the spread of the kept count, and the same output
// for any number of parser workers.
#include "tools/pick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/cpus.h"
#include "random_state_model.h"
#include "test_support.h"

namespace {

using ryx_test::RandomStateModel;
using ryx_test::read_file;
using ryx_test::ScratchDir;
using ryx_test::write_file;

// One read of a generated file.
struct Read {
  std::string name;
  std::string bases;
};

// n reads named <prefix><i> with 20 to 130 random bases (so that FASTA
// output wraps some of them).
std::vector<Read> make_reads(int n, const std::string &prefix, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<Read> reads;
  for (int i = 0; i < n; i++) {
    Read r{prefix + std::to_string(i), std::string(20 + gen() % 111, 'A')};
    for (char &c : r.bases) c = "ACGTN"[gen() % 5];
    reads.push_back(r);
  }
  return reads;
}

std::string as_fasta_input(const std::vector<Read> &reads) {
  std::string text;
  for (const Read &r : reads) text += ">" + r.name + "\n" + r.bases + "\n";
  return text;
}

// Quality i of read k is (k + i) mod 41.
std::string quality_letters(size_t read, size_t length, int offset) {
  std::string q(length, ' ');
  for (size_t i = 0; i < length; i++) q[i] = static_cast<char>(offset + static_cast<int>((read + i) % 41));
  return q;
}

std::string as_fastq_input(const std::vector<Read> &reads, int offset) {
  std::string text;
  for (size_t k = 0; k < reads.size(); k++)
    text += "@" + reads[k].name + "\n" + reads[k].bases + "\n+\n" + quality_letters(k, reads[k].bases.size(), offset) +
            "\n";
  return text;
}

std::string as_quality_file(const std::vector<Read> &reads) {
  std::string text;
  for (size_t k = 0; k < reads.size(); k++) {
    text += ">" + reads[k].name + "\n";
    for (size_t i = 0; i < reads[k].bases.size(); i++)
      text += std::to_string((k + i) % 41) + (i + 1 < reads[k].bases.size() ? " " : "\n");
  }
  return text;
}

// The FASTA the program writes: 60 residues per line.
std::string expected_fasta(const Read &r) {
  std::string text = ">" + r.name + "\n";
  for (size_t i = 0; i < r.bases.size(); i += 60) text += r.bases.substr(i, 60) + "\n";
  return text;
}

// Keep decisions for n draws: the low 53 bits of a 64-bit draw times 2^-53
// below the fraction.
std::vector<bool> model_keeps(uint32_t seed, size_t n, double fraction) {
  RandomStateModel model = RandomStateModel::from_u32(seed);
  std::vector<bool> keeps;
  for (size_t i = 0; i < n; i++) keeps.push_back(model.real53() < fraction);
  return keeps;
}

// Runs the sampler in this process on the words of a command line and
// returns the output file's bytes.
std::string pick(const std::vector<std::string> &words, const std::string &output) {
  std::vector<std::string> storage{"ryx_pick"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char *> argv;
  for (std::string &w : storage) argv.push_back(w.data());
  argv.push_back(nullptr);
  pick_options_t options;
  pick_parse_command_line(static_cast<int>(storage.size()), argv.data(), &options);
  EXPECT_EQ(pick_run(&options), 0);
  return read_file(output);
}

TEST(Pick, KeepsTheReadsTheModelPredicts) {
  ScratchDir dir;
  const std::vector<Read> reads = make_reads(3000, "r", 1);
  write_file(dir.file("reads.fa"), as_fasta_input(reads));
  for (uint32_t seed : {0u, 7u, 4000000000u}) {
    for (double fraction : {0.05, 0.5, 0.93}) {
      const std::vector<bool> keeps = model_keeps(seed, reads.size(), fraction);
      std::string expected;
      for (size_t i = 0; i < reads.size(); i++)
        if (keeps[i]) expected += expected_fasta(reads[i]);
      // The seed word is read as a signed decimal and taken as 32 bits.
      const std::string seed_word = std::to_string(static_cast<int32_t>(seed));
      std::ostringstream fraction_word;
      fraction_word << fraction;
      EXPECT_EQ(pick({"-f", fraction_word.str(), "-r", seed_word, "-o", dir.file("out.fa"), dir.file("reads.fa")},
                     dir.file("out.fa")),
                expected)
          << "seed " << seed << " fraction " << fraction;
    }
  }
}

TEST(Pick, KeptCountLiesWithinStatisticalBounds) {
  ScratchDir dir;
  const std::vector<Read> reads = make_reads(100000, "r", 2);
  write_file(dir.file("reads.fa"), as_fasta_input(reads));
  // 100000 draws at 0.3: mean 30000, standard deviation sqrt(21000) = 145;
  // five deviations either side.
  for (const char *seed : {"1", "2", "3"}) {
    const std::string out = pick({"-f", "0.3", "-r", seed, "-o", dir.file("out.fa"), dir.file("reads.fa")},
                                 dir.file("out.fa"));
    size_t kept = 0;
    for (char c : out) kept += c == '>';
    EXPECT_GT(kept, 30000u - 725u) << "seed " << seed;
    EXPECT_LT(kept, 30000u + 725u) << "seed " << seed;
    const std::vector<bool> keeps = model_keeps(static_cast<uint32_t>(std::stoi(seed)), reads.size(), 0.3);
    EXPECT_EQ(kept, static_cast<size_t>(std::count(keeps.begin(), keeps.end(), true))) << "seed " << seed;
  }
}

TEST(PickThreads, OneAndSixWorkersWriteTheSameReads) {
  ScratchDir dir;
  // About 8 MB: many blocks for the parser workers to share.
  const std::vector<Read> reads = make_reads(100000, "read_", 3);
  write_file(dir.file("reads.fa"), as_fasta_input(reads));
  const std::vector<bool> keeps = model_keeps(99, reads.size(), 0.4);
  std::string expected;
  for (size_t i = 0; i < reads.size(); i++)
    if (keeps[i]) expected += expected_fasta(reads[i]);
  std::vector<std::string> outputs;
  for (int workers : {1, 6, 3}) {
    set_number_of_cpus(workers);
    const std::string out = dir.file("out" + std::to_string(workers) + ".fa");
    outputs.push_back(pick({"-f", "0.4", "-r", "99", "-o", out, dir.file("reads.fa")}, out));
  }
  set_number_of_cpus(0);
  EXPECT_EQ(outputs[0], expected);
  EXPECT_EQ(outputs[1], expected);
  EXPECT_EQ(outputs[2], expected);
}

TEST(PickThreads, MoreThanSixWorkersAreCappedAtSix) {
  ScratchDir dir;
  write_file(dir.file("reads.fa"), as_fasta_input(make_reads(10, "r", 4)));
  set_number_of_cpus(32);
  pick({"-f", "0.5", "-r", "1", "-o", dir.file("out.fa"), dir.file("reads.fa")}, dir.file("out.fa"));
  EXPECT_EQ(get_number_of_cpus(), kPickMaxWorkers);
  set_number_of_cpus(4);
  pick({"-f", "0.5", "-r", "1", "-o", dir.file("out.fa"), dir.file("reads.fa")}, dir.file("out.fa"));
  EXPECT_EQ(get_number_of_cpus(), 4);
  set_number_of_cpus(0);
}

// Consecutive reads of one file (-p) or read i of two files (-i): one draw
// per pair, both reads kept or both dropped.
TEST(Pick, PairsAreKeptOrDroppedWhole) {
  ScratchDir dir;
  const std::vector<Read> reads = make_reads(2000, "p", 5);
  std::vector<Read> left, right;
  for (size_t i = 0; i < reads.size(); i++) (i % 2 == 0 ? left : right).push_back(reads[i]);
  write_file(dir.file("pairs.fa"), as_fasta_input(reads));
  write_file(dir.file("left.fa"), as_fasta_input(left));
  write_file(dir.file("right.fa"), as_fasta_input(right));

  const std::vector<bool> keeps = model_keeps(21, reads.size() / 2, 0.5);
  std::string expected;
  for (size_t k = 0; k < keeps.size(); k++)
    if (keeps[k]) expected += expected_fasta(reads[2 * k]) + expected_fasta(reads[2 * k + 1]);

  EXPECT_EQ(pick({"-p", "-f", "0.5", "-r", "21", "-o", dir.file("p.fa"), dir.file("pairs.fa")}, dir.file("p.fa")),
            expected);
  EXPECT_EQ(pick({"-f", "0.5", "-r", "21", "-o", dir.file("i.fa"), "-i", dir.file("left.fa"), dir.file("right.fa")},
                 dir.file("i.fa")),
            expected);
  // The long forms; -p together with -i changes nothing.
  EXPECT_EQ(pick({"--paired", "--fraction", "0.5", "--seed", "21", "--output", dir.file("l.fa"), "--interleave",
                  dir.file("left.fa"), dir.file("right.fa")},
                 dir.file("l.fa")),
            expected);
}

// A quality record is taken for every read, kept or not, so the kept
// reads get their own qualities.
TEST(Pick, QualitiesStayWithTheirReads) {
  ScratchDir dir;
  const std::vector<Read> reads = make_reads(1500, "q", 6);
  write_file(dir.file("reads.fa"), as_fasta_input(reads));
  write_file(dir.file("reads.qual"), as_quality_file(reads));
  const std::vector<bool> keeps = model_keeps(8, reads.size(), 0.3);
  std::string expected;
  for (size_t k = 0; k < reads.size(); k++)
    if (keeps[k])
      expected += "@" + reads[k].name + "\n" + reads[k].bases + "\n+\n" +
                  quality_letters(k, reads[k].bases.size(), 64) + "\n";
  EXPECT_EQ(pick({"-f", "0.3", "-r", "8", "-s", dir.file("reads.qual"), "-q", dir.file("out.fq"), dir.file("reads.fa")},
                 dir.file("out.fq")),
            expected);

  // Pairs from two files with their two quality files.
  std::vector<Read> left, right;
  for (size_t i = 0; i < reads.size(); i++) (i % 2 == 0 ? left : right).push_back(reads[i]);
  write_file(dir.file("left.fa"), as_fasta_input(left));
  write_file(dir.file("right.fa"), as_fasta_input(right));
  const std::vector<bool> pair_keeps = model_keeps(8, left.size(), 0.3);
  std::string expected_pairs;
  for (size_t k = 0; k < left.size(); k++)
    if (pair_keeps[k])
      for (size_t read : {2 * k, 2 * k + 1})
        expected_pairs += "@" + reads[read].name + "\n" + reads[read].bases + "\n+\n" +
                          quality_letters(read, reads[read].bases.size(), 64) + "\n";
  // The quality files hold the same records as the interleaved reads.
  std::string left_text, right_text;
  {
    std::istringstream in(as_quality_file(reads));
    std::string header, values;
    for (size_t i = 0; std::getline(in, header) && std::getline(in, values); i++)
      (i % 2 == 0 ? left_text : right_text) += header + "\n" + values + "\n";
  }
  write_file(dir.file("left.qual"), left_text);
  write_file(dir.file("right.qual"), right_text);
  EXPECT_EQ(pick({"-f", "0.3", "-r", "8", "-s", "-i", dir.file("left.qual"), dir.file("right.qual"), "-q",
                  dir.file("pairs.fq"), "-i", dir.file("left.fa"), dir.file("right.fa")},
                 dir.file("pairs.fq")),
            expected_pairs);
}

TEST(Pick, FastqQualitiesRoundTripWithOffset64) {
  ScratchDir dir;
  const std::vector<Read> reads = make_reads(800, "f", 7);
  // Every record's qualities span 64 to 104, which only offset 64 allows.
  const std::string input = as_fastq_input(reads, 64);
  write_file(dir.file("reads.fq"), input);
  const std::vector<bool> keeps = model_keeps(12, reads.size(), 0.6);
  std::string expected;
  for (size_t k = 0; k < reads.size(); k++)
    if (keeps[k])
      expected += "@" + reads[k].name + "\n" + reads[k].bases + "\n+\n" +
                  quality_letters(k, reads[k].bases.size(), 64) + "\n";
  EXPECT_EQ(pick({"-f", "0.6", "-r", "12", "-q", dir.file("out.fq"), dir.file("reads.fq")}, dir.file("out.fq")),
            expected);
}

TEST(Pick, FastqQualitiesRoundTripWithOffset33) {
  ScratchDir dir;
  const std::vector<Read> reads = make_reads(800, "f", 8);
  write_file(dir.file("reads.fq"), as_fastq_input(reads, 33));
  const std::vector<bool> keeps = model_keeps(13, reads.size() / 2, 0.6);
  std::string expected;
  for (size_t k = 0; k < keeps.size(); k++)
    if (keeps[k])
      for (size_t read : {2 * k, 2 * k + 1})
        expected += "@" + reads[read].name + "\n" + reads[read].bases + "\n+\n" +
                    quality_letters(read, reads[read].bases.size(), 33) + "\n";
  EXPECT_EQ(pick({"-p", "-f", "0.6", "-r", "13", "-q", dir.file("out.fq"), dir.file("reads.fq")}, dir.file("out.fq")),
            expected);
}

TEST(Pick, FastqInputToFastaOutput) {
  ScratchDir dir;
  const std::vector<Read> reads = make_reads(500, "x", 9);
  write_file(dir.file("reads.fq"), as_fastq_input(reads, 33));
  const std::vector<bool> keeps = model_keeps(14, reads.size(), 0.5);
  std::string expected;
  for (size_t k = 0; k < reads.size(); k++)
    if (keeps[k]) expected += expected_fasta(reads[k]);
  EXPECT_EQ(pick({"-f", "0.5", "-r", "14", "-o", dir.file("out.fa"), dir.file("reads.fq")}, dir.file("out.fa")),
            expected);
}

}  // namespace
