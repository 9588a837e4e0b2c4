// ryx_readalign on a fixed generated data set: a reference of 300 kb and
// reads of 100 and 250 bases with substitutions, insertions and deletions,
// single and paired, mapped with the default options by 1 and by 4
// threads. A digest of the mapping records of each run is compared with
// the digest the mapper gave when this test was written: speed work on the
// engine must leave every record byte as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "readalign_data.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace {

using readalign_test::Read;
using readalign_test::reverse_complement;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;

// Three sequences of 150000, 90000 and 60000 random bases; two stretches
// of the first are copied into the others (one of them twice, one with a
// few changes), so that some reads have several equal or near hits.
readalign_test::Reference digest_reference() {
  std::mt19937_64 rng(40);
  readalign_test::Reference ref;
  ref.sequences = readalign_test::random_sequences(rng, {150000, 90000, 60000});
  const std::string exact = ref.sequences[0].substr(20000, 1500);
  ref.sequences[1].replace(10000, 1500, exact);
  ref.sequences[2].replace(30000, 1500, exact);
  std::string near = ref.sequences[0].substr(70000, 2000);
  for (size_t i = 37; i < near.size(); i += 97) near[i] = near[i] == 'A' ? 'C' : 'A';
  ref.sequences[1].replace(50000, 2000, near);
  ref.names = {"first", "second", "third"};
  return ref;
}

// A sequencing copy of s: each base is substituted with probability
// per_mille / 1000, and one in ten errors is an insertion or a deletion of
// one base instead. The result keeps the length of s (cut or padded from
// the source after the end) so that all reads of a set are equally long.
std::string sequenced(std::mt19937_64 &rng, const std::string &s, const std::string &beyond, unsigned per_mille) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (rng() % 1000 >= per_mille) {
      out += s[i];
      continue;
    }
    switch (rng() % 10) {
      case 0:  // insertion before the base
        out += "ACGT"[rng() % 4];
        out += s[i];
        break;
      case 1:  // deletion of the base
        break;
      default:
        out += "ACGT"[(std::string("ACGT").find(s[i]) + 1 + rng() % 3) % 4];
    }
  }
  out += beyond;
  out.resize(s.size());
  return out;
}

// n single reads of the given length from random places and strands; every
// eighth read comes from the exact repeat.
std::vector<Read> digest_single(const readalign_test::Reference &ref, uint64_t seed, int n, size_t length,
                                unsigned per_mille) {
  std::mt19937_64 rng(seed);
  std::vector<Read> reads;
  for (int i = 0; i < n; i++) {
    size_t s = rng() % ref.sequences.size();
    size_t start = rng() % (ref.sequences[s].size() - length - 20);
    if (i % 8 == 7) {
      s = 0;
      start = 20000 + rng() % (1500 - length);
    }
    std::string bases = sequenced(rng, ref.sequences[s].substr(start, length),
                                  ref.sequences[s].substr(start + length, 20), per_mille);
    if (rng() % 2 != 0) bases = reverse_complement(bases);
    reads.push_back({"s" + std::to_string(i), bases});
  }
  return reads;
}

// n pairs, interleaved: fragments of mean +- spread bases, mate 1 forward
// from the fragment start, mate 2 the reverse complement of its end.
std::vector<Read> digest_pairs(const readalign_test::Reference &ref, uint64_t seed, int n, size_t length,
                               size_t mean, size_t spread, unsigned per_mille) {
  std::mt19937_64 rng(seed);
  std::vector<Read> reads;
  for (int i = 0; i < n; i++) {
    const size_t s = rng() % ref.sequences.size();
    const size_t fragment = mean - spread + rng() % (2 * spread + 1);
    const size_t start = 20 + rng() % (ref.sequences[s].size() - fragment - 40);
    const std::string &seq = ref.sequences[s];
    std::string a = sequenced(rng, seq.substr(start, length), seq.substr(start + length, 20), per_mille);
    std::string b = sequenced(rng, reverse_complement(seq.substr(start + fragment - length, length)),
                              reverse_complement(seq.substr(start + fragment - length - 20, 20)), per_mille);
    reads.push_back({"p" + std::to_string(i) + "/1", a});
    reads.push_back({"p" + std::to_string(i) + "/2", b});
  }
  return reads;
}

// The record section of an nyr file: from byte 16 to the fields offset
// (the fields after it hold the command line and the file names).
std::string records_of(const std::string &bytes) {
  uint64_t offset = 0;
  for (int i = 7; i >= 0; i--) offset = offset * 256 + static_cast<uint8_t>(bytes[8 + i]);
  return bytes.substr(16, offset - 16);
}

// 64-bit FNV-1a of the bytes, as 16 hex digits.
std::string digest(const std::string &bytes) {
  uint64_t h = 14695981039346656037ULL;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  char text[17];
  snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// One index for all cases.
class ReadalignDigest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    reference_ = new readalign_test::Reference(digest_reference());
    write_file(dir_->file("ref.fa"), readalign_test::fasta(*reference_));
    const RunResult r = ryx_test::run_tool(
        "ryx_readalign", {"--noprogress", "-d", dir_->file("ref.fa"), "-n", dir_->file("ref.idx")});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() {
    delete reference_;
    delete dir_;
  }

  // Maps reads with 1 and with 4 threads, the extra words after -q, and
  // expects both runs to give records with the digest expected, nearly
  // every read placed.
  void expect_digest(const std::string &name, const std::vector<Read> &reads,
                     const std::vector<std::string> &mode, const std::string &expected) {
    const std::string fastq = dir_->file(name + ".fq");
    write_file(fastq, readalign_test::fastq(reads));
    for (const char *cpus : {"1", "4"}) {
      SCOPED_TRACE(name + " with " + cpus + " cpus");
      const std::string out = dir_->file(name + "_" + cpus + ".nyr");
      std::vector<std::string> words = {"--noprogress", "--cpus", cpus, "-d", dir_->file("ref.idx"),
                                        "-o",           out,      "-q"};
      words.insert(words.end(), mode.begin(), mode.end());
      words.push_back(fastq);
      const RunResult r = ryx_test::run_tool("ryx_readalign", words);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(digest(records_of(read_file(out))), expected);

      nyr_file_t *file = nyr_file_read(out.c_str(), 1);
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(file->read_count, reads.size());
      uint64_t matched = 0;
      for (uint64_t i = 0; i < file->read_count; i++) matched += nyr_file_get_match(file, i) != nullptr;
      EXPECT_GE(matched * 100, file->read_count * 95);
      nyr_file_free(file);
    }
  }

  static ScratchDir *dir_;
  static readalign_test::Reference *reference_;
};

ScratchDir *ReadalignDigest::dir_ = nullptr;
readalign_test::Reference *ReadalignDigest::reference_ = nullptr;

// The expected digests pin the records that the mapper wrote for these
// inputs when this test was written; a change of any of them means a
// change of the mapping results.
TEST_F(ReadalignDigest, Single100) {
  expect_digest("single100", digest_single(*reference_, 1, 3000, 100, 10), {}, "a8f2af31ace72462");
}

TEST_F(ReadalignDigest, Single250) {
  expect_digest("single250", digest_single(*reference_, 2, 1200, 250, 20), {}, "a8dd47b70dbaf566");
}

TEST_F(ReadalignDigest, Paired100) {
  expect_digest("paired100", digest_pairs(*reference_, 3, 1500, 100, 300, 30, 10), {"-p", "fb", "ss", "100", "600"},
                "67c6dfe917498932");
}

TEST_F(ReadalignDigest, Paired250) {
  expect_digest("paired250", digest_pairs(*reference_, 4, 600, 250, 600, 50, 20), {"-p", "fb", "ss", "200", "1000"},
                "97e882a760973446");
}

}  // namespace
