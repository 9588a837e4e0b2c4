// The pull reader: single files, concatenated and interleaved groups, names
// dropped, qualities, progress position and size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seq_read_paths.h"
#include "seqio/seq_format.h"
#include "seqio/seq_reader.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;

std::string write(const ScratchDir &dir, const std::string &name, const std::string &text) {
  const std::string path = dir.file(name);
  ryx_test::write_file(path, text);
  return path;
}

seq_reader_t *open(const std::string &path, int drop_names = 0, int qualities = 0) {
  return seq_reader_open(path.c_str(), 0, 0, kSeqMaskReads | kSeqFormatFastaQuality, drop_names, qualities, 0);
}

// Names of the next n records (or "-" for the end).
std::vector<std::string> names(seq_reader_t *reader, int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; i++) {
    seq_record_t *r = seq_reader_next(reader);
    out.push_back(r == nullptr ? "-" : r->name);
    seq_record_release(r);
  }
  return out;
}

TEST(SeqReader, RecordsAreIndependentCopies) {
  ScratchDir dir;
  const std::string path = write(dir, "r.fq", "@a x\nACGT\n+\nIIII\n@b\nG\n+\n#\n");
  seqio_test::QualityOffsetGuard offsets(33);
  seq_reader_t *reader = open(path, 0, 1);
  EXPECT_EQ(seq_reader_get_position(reader), 0);
  EXPECT_EQ(seq_reader_get_size(reader), 26);
  seq_record_t *q = nullptr;
  seq_record_t *a = seq_reader_next_with_raw(reader, &q);
  seq_record_t *b = seq_reader_next(reader);
  EXPECT_EQ(seq_reader_next(reader), nullptr);
  EXPECT_EQ(seq_reader_next(reader), nullptr);
  EXPECT_EQ(seq_reader_get_position(reader), 26);
  seq_reader_free(reader);
  // Still valid after the reader is gone, with zeroed spare bytes.
  EXPECT_STREQ(a->name, "a x");
  EXPECT_EQ(seqio_test::bytes_of(a), "ACGT");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(a->residues) + 4, 7), std::string(7, '\0'));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->length, 4u);
  EXPECT_STREQ(b->name, "b");
  seq_record_release(a);
  seq_record_release(q);
  seq_record_release(b);
}

TEST(SeqReader, DroppedNamesAndFormatsWithoutQualities) {
  ScratchDir dir;
  const std::string path = write(dir, "q.qual", ">q\n10 20\n>r\n30\n");
  seq_reader_t *reader = open(path, 1, 1);
  seq_record_t *q = reinterpret_cast<seq_record_t *>(1);
  seq_record_t *r = seq_reader_next_with_raw(reader, &q);
  EXPECT_EQ(r->name, nullptr);
  EXPECT_EQ(seqio_test::bytes_of(r), "\x0a\x14");
  EXPECT_EQ(q, nullptr);
  seq_record_release(r);
  seq_reader_free(reader);
}

TEST(SeqReader, ConcatenatedReadsThePartsInTurn) {
  ScratchDir dir;
  auto **parts = static_cast<seq_reader_t **>(malloc(3 * sizeof(seq_reader_t *)));
  parts[0] = open(write(dir, "a.fa", ">a1\nA\n>a2\nC\n"));
  parts[1] = open(write(dir, "e.fa", ""));
  parts[2] = open(write(dir, "b.fa", ">b1\nG\n"));
  seq_reader_t *all = seq_reader_new_concat(parts, 3);
  EXPECT_EQ(seq_reader_get_size(all), 12 + 0 + 6);
  EXPECT_EQ(names(all, 5), (std::vector<std::string>{"a1", "a2", "b1", "-", "-"}));
  EXPECT_EQ(seq_reader_get_position(all), 18);
  seq_reader_free(all);
}

TEST(SeqReader, InterleavedAlternatesAndEndsTogether) {
  ScratchDir dir;
  auto **parts = static_cast<seq_reader_t **>(malloc(2 * sizeof(seq_reader_t *)));
  parts[0] = open(write(dir, "a.fa", ">a1\nA\n>a2\nC\n"));
  parts[1] = open(write(dir, "b.fq", "@b1\nG\n+\nI\n@b2\nT\n+\nI\n"));
  seq_reader_t *pairs = seq_reader_new_interleaved(parts, 2);
  EXPECT_EQ(names(pairs, 6), (std::vector<std::string>{"a1", "b1", "a2", "b2", "-", "-"}));
  seq_reader_free(pairs);
}

// Parts that run out at different records are an error, whichever runs out
// first, as in the streaming parser.
TEST(SeqReader, InterleavedPartsOfUnequalCountsFail) {
  ScratchDir dir;
  const std::string three = write(dir, "three.fa", ">1\nA\n>2\nC\n>3\nG\n");
  const std::string four = write(dir, "four.fa", ">1\nA\n>2\nC\n>3\nG\n>4\nT\n");
  for (auto [first, second] : {std::pair{three, four}, std::pair{four, three}}) {
    EXPECT_EXIT(
        {
          auto **parts = static_cast<seq_reader_t **>(malloc(2 * sizeof(seq_reader_t *)));
          parts[0] = open(first);
          parts[1] = open(second);
          seq_reader_t *pairs = seq_reader_new_interleaved(parts, 2);
          while (seq_record_t *r = seq_reader_next(pairs)) seq_record_release(r);
          exit(0);
        },
        testing::ExitedWithCode(1), "^Interleaved databases should have the same number of sequences\n$");
  }
}

}  // namespace
