// FASTA and FASTQ writers against hand-written expected files, the length
// check of the FASTQ writer, and the FASTQ file-name test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "seq_read_paths.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/seq_record.h"
#include "seqio/seq_write.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;

seq_record_t *record(const char *name, const std::string &residues) {
  seq_record_t *r = seq_record_new(static_cast<uint32_t>(residues.size()));
  memcpy(r->residues, residues.data(), residues.size());
  if (name != nullptr) {
    r->name = static_cast<char *>(malloc(strlen(name) + 1));
    strcpy(r->name, name);
  }
  return r;
}

std::string data_file(const std::string &name) {
  return ryx_test::read_file(std::string(RYX_TEST_DATA_DIR) + "/seqio/" + name);
}

TEST(SeqWrite, FastaLinesOfSixty) {
  ScratchDir dir;
  const std::string path = dir.file("out.fa");
  FILE *out = fopen(path.c_str(), "wb");
  std::string pattern;
  while (pattern.size() < 130) pattern += "ACGTTGCA";
  std::string sixty;
  while (sixty.size() < 60) sixty += "TTGCAACG";
  seq_record_t *records[] = {record("r130", pattern.substr(0, 130)), record(nullptr, "ACGTA"), record("empty", ""),
                             record("sixty", sixty.substr(0, 60))};
  for (seq_record_t *r : records) {
    seq_record_write_fasta(out, r);
    seq_record_free(r);
  }
  ASSERT_EQ(fclose(out), 0);
  EXPECT_EQ(ryx_test::read_file(path), data_file("write_four_records.fa"));
}

TEST(SeqWrite, FastqWithAndWithoutQualityRecords) {
  ScratchDir dir;
  const std::string path = dir.file("out.fq");
  FILE *out = fopen(path.c_str(), "wb");
  seqio_test::QualityOffsetGuard offsets(64);  // the initial output offset
  seq_record_t *q1 = record("q1", "ACGT");
  seq_record_t *v1 = record(nullptr, std::string("\x00\x01\x28\x1e", 4));
  seq_record_write_fastq(out, q1, v1);
  seq_record_t *q2 = record(nullptr, "AC");
  seq_record_write_fastq(out, q2, nullptr);  // the offset alone: '@' at 64
  seq_record_t *q3 = record("z", "");
  seq_record_write_fastq(out, q3, nullptr);
  ASSERT_EQ(fclose(out), 0);
  EXPECT_EQ(ryx_test::read_file(path), data_file("write_three_records.fq"));
  for (seq_record_t *r : {q1, v1, q2, q3}) seq_record_free(r);
}

TEST(SeqWrite, FastqOutputOffsetAndLongLines) {
  ScratchDir dir;
  const std::string path = dir.file("long.fq");
  seqio_test::QualityOffsetGuard offsets(33);
  const std::string residues(10000, 'G');
  std::string values(10000, '\0');
  for (size_t i = 0; i < values.size(); i++) values[i] = static_cast<char>(i % 41);
  seq_record_t *r = record("long", residues);
  seq_record_t *q = record(nullptr, values);
  FILE *out = fopen(path.c_str(), "wb");
  seq_record_write_fastq(out, r, q);
  ASSERT_EQ(fclose(out), 0);
  std::string want = "@long\n" + residues + "\n+\n";
  for (char v : values) want.push_back(static_cast<char>(v + 33));
  EXPECT_EQ(ryx_test::read_file(path), want + "\n");
  seq_record_free(r);
  seq_record_free(q);
}

TEST(SeqWrite, FastqLengthMismatchIsFatal) {
  seq_record_t *r = record("read", "ACGT");
  seq_record_t *q = record(nullptr, "abc");
  EXPECT_EXIT(seq_record_write_fastq(stdout, r, q), testing::ExitedWithCode(1),
              "^Sequence and quality sequence have different lengths:\nread / seq\n$");
  seq_record_free(r);
  seq_record_free(q);
}

TEST(SeqWrite, FastqPathSuffixes) {
  struct Case {
    const char *path;
    int fastq;
  };
  const Case cases[] = {{"reads.fastq", 1}, {"READS.FQ", 1},   {"x.FastQ", 1},  {".fq", 1},
                        {"fq", 0},          {"reads.fq.gz", 0}, {"reads.fa", 0}, {"", 0},
                        {"a.fastqx", 0},    {"dir.fq/reads", 0}};
  for (const Case &c : cases) EXPECT_EQ(seq_path_is_fastq(c.path), c.fastq) << c.path;
}

}  // namespace
