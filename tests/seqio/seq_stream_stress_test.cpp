// Streaming stress: a generated FASTQ of tens of megabytes, plain and
// gzip-compressed, with records that end exactly at, one byte before and one
// byte after a block border, records longer than a block, quality lines that
// start with '@' and CRLF line ends. Every worker count gives byte-identical
// output in input order, equal to the pull reader's and to the records the
// generator wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fastq_fixture.h"
#include "seq_read_paths.h"
#include "seqio/seq_format.h"
#include "seqio/seq_write.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::CpusGuard;
using seqio_test::FastqFixture;
using seqio_test::QualityOffsetGuard;

constexpr int64_t kBlock = kSeqBlockSize;

void write_single(seq_record_t *record, seq_record_t *quality, void *user) {
  seq_record_write_fastq(static_cast<FILE *>(user), record, quality);
}

void write_pair(seq_record_t *r1, seq_record_t *q1, seq_record_t *r2, seq_record_t *q2, void *user) {
  seq_record_write_fastq(static_cast<FILE *>(user), r1, q1);
  seq_record_write_fastq(static_cast<FILE *>(user), r2, q2);
}

// Where two large texts first differ, for a readable failure.
std::string first_difference(const std::string &got, const std::string &want) {
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) i++;
  return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size()) + ", first difference at " +
         std::to_string(i) + ": got \"" + got.substr(i, 40) + "\", want \"" + want.substr(i, 40) + "\"";
}

// A fixture with every border case among the first blocks, then plain
// filler up to size bytes and an even record count.
FastqFixture stress_fixture(int64_t size) {
  FastqFixture fx(20240607);
  fx.next_start_at(kBlock);          // a record ends with the first block
  fx.next_start_at(2 * kBlock - 1);  // ... one byte before the second block's end
  fx.next_start_at(3 * kBlock + 1);  // ... one byte after the third block's end
  fx.add(400000, false, 0, false);   // one line much longer than a block
  fx.add(300000, true, 70, true);    // wrapped, CRLF, '@' quality lines, longer than a block
  fx.next_start_at((fx.size() / kBlock + 2) * kBlock);  // and once more after them
  fx.add(kBlock, false, 0, false);   // its quality line alone fills a block
  fx.fill_to(size);
  if (fx.count() % 2 != 0) fx.add(50, false, 0, false);
  return fx;
}

TEST(SeqStreamStress, EveryWorkerCountGivesInputOrderPlainAndGzip) {
  ScratchDir dir;
  QualityOffsetGuard offsets(33);
  const FastqFixture fx = stress_fixture(24 * 1000 * 1000);
  // The border cases are where they are meant to be.
  const std::string &t = fx.text();
  EXPECT_EQ(t.substr(kBlock - 1, 2), "\n@");
  EXPECT_EQ(t.substr(2 * kBlock - 2, 2), "\n@");
  EXPECT_EQ(t.substr(3 * kBlock, 2), "\n@");
  const std::string plain = dir.file("stress.fq");
  const std::string gz = dir.file("stress.fq.gz");
  ryx_test::write_file(plain, fx.text());
  ryx_test::write_gzip_file(gz, fx.text());
  const std::string out = dir.file("out.fq");
  for (const std::string &path : {plain, gz}) {
    for (int cpus : {1, 2, 8, 32}) {
      SCOPED_TRACE(path + " with " + std::to_string(cpus) + " workers");
      CpusGuard workers(cpus);
      FILE *file = fopen(out.c_str(), "wb");
      seq_for_each_with_raw(path.c_str(), 0, kSeqMaskReads, 0, write_single, file);
      ASSERT_EQ(fclose(file), 0);
      const std::string got = ryx_test::read_file(out);
      EXPECT_TRUE(got == fx.normalised()) << first_difference(got, fx.normalised());
    }
    SCOPED_TRACE(path + " by the pull reader");
    FILE *file = fopen(out.c_str(), "wb");
    seq_reader_t *reader = seq_reader_open(path.c_str(), 0, 0, kSeqMaskReads, 0, 1, 0);
    for (;;) {
      seq_record_t *quality = nullptr;
      seq_record_t *record = seq_reader_next_with_raw(reader, &quality);
      if (record == nullptr) break;
      seq_record_write_fastq(file, record, quality);
      seq_record_release(record);
      seq_record_release(quality);
    }
    EXPECT_EQ(seq_reader_get_position(reader), seq_reader_get_size(reader));
    seq_reader_free(reader);
    ASSERT_EQ(fclose(file), 0);
    const std::string got = ryx_test::read_file(out);
    EXPECT_TRUE(got == fx.normalised()) << first_difference(got, fx.normalised());
  }
}

// Pairs cross chunk borders wherever they fall.
TEST(SeqStreamStress, PairsCrossBlockBorders) {
  ScratchDir dir;
  QualityOffsetGuard offsets(33);
  const FastqFixture fx = stress_fixture(6 * 1000 * 1000);
  const std::string path = dir.file("pairs.fq");
  ryx_test::write_file(path, fx.text());
  const std::string out = dir.file("out.fq");
  for (int cpus : {1, 8}) {
    SCOPED_TRACE(std::to_string(cpus) + " workers");
    CpusGuard workers(cpus);
    FILE *file = fopen(out.c_str(), "wb");
    seq_for_each_pair_with_raw(path.c_str(), 0, kSeqMaskReads, 0, write_pair, file);
    ASSERT_EQ(fclose(file), 0);
    const std::string got = ryx_test::read_file(out);
    EXPECT_TRUE(got == fx.normalised()) << first_difference(got, fx.normalised());
  }
}

}  // namespace
