// The streaming parser and the for-each entry points: block borders, pairs,
// interleaved files, the database fallback, and their errors. The suite
// SeqStreamThreads runs the pipeline with several worker counts and is the
// one the thread sanitizer checks, so its files stay small.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fastq_fixture.h"
#include "seq_read_paths.h"
#include "seqio/seq_chunk.h"
#include "seqio/seq_format.h"
#include "seqio/seq_stream.h"
#include "seqio/seq_write.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::CpusGuard;
using seqio_test::FastqFixture;
using seqio_test::QualityOffsetGuard;
using seqio_test::Rec;

constexpr int64_t kBlock = kSeqBlockSize;

void write_single(seq_record_t *record, seq_record_t *quality, void *user) {
  seq_record_write_fastq(static_cast<FILE *>(user), record, quality);
}

void write_pair(seq_record_t *r1, seq_record_t *q1, seq_record_t *r2, seq_record_t *q2, void *user) {
  seq_record_write_fastq(static_cast<FILE *>(user), r1, q1);
  seq_record_write_fastq(static_cast<FILE *>(user), r2, q2);
}

// Runs fn(file) with a fresh output file and returns what it wrote.
template <typename Fn>
std::string output_of(const ScratchDir &dir, Fn fn) {
  const std::string path = dir.file("out");
  FILE *file = fopen(path.c_str(), "wb");
  fn(file);
  EXPECT_EQ(fclose(file), 0);
  return ryx_test::read_file(path);
}

// Record i of fx1 and record i of fx2, as the pair writer gives them.
std::string interleave(const FastqFixture &fx1, const FastqFixture &fx2) {
  auto split = [](const std::string &text) {
    std::vector<std::string> records;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = pos;
      for (int line = 0; line < 4; line++) end = text.find('\n', end) + 1;
      records.push_back(text.substr(pos, end - pos));
      pos = end;
    }
    return records;
  };
  std::vector<std::string> a = split(fx1.normalised());
  std::vector<std::string> b = split(fx2.normalised());
  std::string out;
  for (size_t i = 0; i < a.size() && i < b.size(); i++) out += a[i] + b[i];
  return out;
}

FastqFixture small_fixture(uint32_t seed, int64_t records) {
  FastqFixture fx(seed);
  fx.next_start_at(kBlock);  // one record ends with the first block
  while (fx.count() < records) fx.add_random(30 + static_cast<int64_t>(fx.count() % 170));
  return fx;
}

TEST(SeqStreamThreads, SinglePairAndInterleavedRunsKeepInputOrder) {
  ScratchDir dir;
  QualityOffsetGuard offsets(33);
  const FastqFixture fx1 = small_fixture(7, 4000);
  const FastqFixture fx2 = small_fixture(8, 4000);
  const std::string p1 = dir.file("one.fq.gz");
  const std::string p2 = dir.file("two.fq");
  ryx_test::write_gzip_file(p1, fx1.text());
  ryx_test::write_file(p2, fx2.text());
  for (int cpus : {1, 3, 8}) {
    SCOPED_TRACE(std::to_string(cpus) + " workers");
    CpusGuard workers(cpus);
    EXPECT_EQ(output_of(dir, [&](FILE *f) { seq_for_each_with_raw(p1.c_str(), 0, kSeqMaskReads, 0, write_single, f); }),
              fx1.normalised());
    EXPECT_EQ(output_of(dir, [&](FILE *f) { seq_for_each_pair_with_raw(p2.c_str(), 0, kSeqMaskReads, 0, write_pair, f); }),
              fx2.normalised());
    EXPECT_EQ(output_of(dir,
                        [&](FILE *f) {
                          seq_for_each_interleaved_with_raw(p1.c_str(), p2.c_str(), 0, kSeqMaskReads, 0, write_pair, f);
                        }),
              interleave(fx1, fx2));
  }
}

TEST(SeqStreamThreads, PlainCallbacksAndCounts) {
  ScratchDir dir;
  const FastqFixture fx = small_fixture(9, 3000);
  const std::string path = dir.file("reads.fq");
  ryx_test::write_file(path, fx.text());
  CpusGuard workers(4);
  seq_stream_t *stream = seq_stream_open(path.c_str(), 2, kSeqMaskReads, 0, 0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->size, fx.size());
  std::vector<Rec> got;
  seq_stream_run(stream, seqio_test::collect_single_plain, nullptr, nullptr, nullptr, &got);
  EXPECT_EQ(stream->delivered, fx.count());
  seq_stream_close(stream);
  ASSERT_EQ(static_cast<int64_t>(got.size()), fx.count());
  // Codes, not letters, and no qualities.
  for (const Rec &r : got) {
    EXPECT_FALSE(r.has_quality);
    for (char c : r.residues) EXPECT_LE(static_cast<unsigned char>(c), 4u);
  }

  seq_stream_t *s1 = seq_stream_open(path.c_str(), 0, kSeqMaskReads, 0, 0);
  seq_stream_t *s2 = seq_stream_open(path.c_str(), 0, kSeqMaskReads, 0, 0);
  std::vector<Rec> pairs;
  seq_stream_run_interleaved(s1, s2, seqio_test::collect_pair_plain, nullptr, &pairs);
  EXPECT_EQ(s1->delivered, fx.count());
  EXPECT_EQ(s2->delivered, fx.count());
  seq_stream_close(s1);
  seq_stream_close(s2);
  ASSERT_EQ(pairs.size(), 2 * got.size());
  EXPECT_EQ(pairs[2 * 17].name, pairs[2 * 17 + 1].name);
}

// Block borders: a file below one block, one of exactly one block (its
// second read returns nothing), and a record that crosses the border in
// every way, each delivered once and in order.
TEST(SeqStream, BlockBorders) {
  ScratchDir dir;
  struct Case {
    const char *name;
    int64_t next_start;   // where a record is made to start
    int64_t total;        // file size
  };
  const Case cases[] = {{"below one block", 5000, 9000},
                        {"exactly one block", kBlock, kBlock},
                        {"record ends with the block", kBlock, kBlock + 5000},
                        {"next record starts on the block's last byte", kBlock - 1, kBlock + 5000},
                        {"record ends one byte into the next block", kBlock + 1, kBlock + 5000}};
  QualityOffsetGuard offsets(33);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FastqFixture fx(3);
    fx.next_start_at(c.next_start);
    if (c.total > c.next_start) fx.next_start_at(c.total);
    ASSERT_EQ(fx.size(), c.total);
    const std::string path = dir.file("border.fq");
    ryx_test::write_file(path, fx.text());
    for (int cpus : {1, 4}) {
      CpusGuard workers(cpus);
      EXPECT_EQ(output_of(dir, [&](FILE *f) { seq_for_each_with_raw(path.c_str(), 0, kSeqMaskReads, 0, write_single, f); }),
                fx.normalised());
    }
    EXPECT_EQ(seqio_test::read_pull(path, 0, kSeqMaskReads, true), seqio_test::read_db(path, 0, kSeqMaskReads, true, false));
  }
}

// The splitter on its own: chunk indexes in order, the one-record chunk for a
// crossing record, and a long record that grows its chunk.
TEST(SeqStream, SplitterCutsChunksAtRecordStarts) {
  ScratchDir dir;
  const std::string path = dir.file("split.fa");
  // Block 1: ">a\n" then A's to the block end; block 2: more A's, ">b\nC\n".
  std::string text = ">a\n" + std::string(kBlock - 3 + 100, 'A') + "\n>b\nC\n";
  ryx_test::write_file(path, text);
  seq_stream_t *stream = seq_stream_open(path.c_str(), 0, kSeqMaskReads, 0, 0);
  seq_splitter_t splitter;
  seq_splitter_init(&splitter, stream);
  bool last = false;
  seq_chunk_t *out[2];
  seq_chunk_t *block = seq_chunk_read_block(stream, &last);
  EXPECT_FALSE(last);
  EXPECT_EQ(seq_splitter_push(&splitter, block, out), 0);  // held, waiting for its end
  block = seq_chunk_read_block(stream, &last);
  EXPECT_TRUE(last);
  ASSERT_EQ(seq_splitter_push(&splitter, block, out), 2);
  // The first chunk lost its only record to the one-record chunk.
  EXPECT_EQ(out[0]->index, 0);
  EXPECT_EQ(seq_chunk_record_count(out[0]), 0);
  EXPECT_EQ(out[1]->index, 1);
  ASSERT_EQ(seq_chunk_record_count(out[1]), 1);
  EXPECT_EQ(out[1]->length, kBlock + 101);
  seq_chunk_parse(stream, out[1]);
  EXPECT_EQ(out[1]->records[0].length, static_cast<uint32_t>(kBlock - 3 + 100));
  seq_chunk_t *final_chunk = seq_splitter_finish(&splitter);
  ASSERT_NE(final_chunk, nullptr);
  EXPECT_EQ(final_chunk->index, 2);
  seq_chunk_parse(stream, final_chunk);
  ASSERT_EQ(seq_chunk_record_count(final_chunk), 1);
  EXPECT_STREQ(final_chunk->records[0].name, "b");
  EXPECT_EQ(seq_splitter_finish(&splitter), nullptr);
  seq_chunk_free(out[0]);
  seq_chunk_free(out[1]);
  seq_chunk_free(final_chunk);
  seq_splitter_done(&splitter);
  seq_stream_close(stream);
}

TEST(SeqStream, RecordsLongerThanABlockArriveWhole) {
  ScratchDir dir;
  const std::string path = dir.file("long.fa");
  const std::string big(3 * kBlock + 17, 'G');
  ryx_test::write_file(path, ">x\nAC\n>long\n" + big + "\n>y\nT\n");
  const std::vector<Rec> want = {{"x", "AC", false, ""}, {"long", big, false, ""}, {"y", "T", false, ""}};
  CpusGuard workers(3);
  EXPECT_EQ(seqio_test::read_for_each(path, 0, kSeqMaskReads, false), want);
  EXPECT_EQ(seqio_test::read_pull(path, 0, kSeqMaskReads, false), want);
}

TEST(SeqStream, EmptyFilesHaveNoRecords) {
  ScratchDir dir;
  const std::string plain = dir.file("empty.fa");
  const std::string gz = dir.file("empty.fa.gz");
  ryx_test::write_file(plain, "");
  ryx_test::write_gzip_file(gz, "");
  for (const std::string &path : {plain, gz}) {
    EXPECT_TRUE(seqio_test::read_for_each(path, 0, kSeqMaskReads, true).empty());
    EXPECT_TRUE(seqio_test::read_pull(path, 0, kSeqMaskReads, true).empty());
    EXPECT_TRUE(seqio_test::read_pairs(path, 0, kSeqMaskReads, false).empty());
  }
}

// A paired file of 5 records delivers 2 pairs, then fails; on the stream and
// on the database fallback.
TEST(SeqStream, OddPairedFileFailsAfterTheCompletePairs) {
  ScratchDir dir;
  const std::string fq = dir.file("five.fq");
  ryx_test::write_file(fq, "@1\nA\n+\nI\n@2\nC\n+\nI\n@3\nG\n+\nI\n@4\nT\n+\nI\n@5\nN\n+\nI\n");
  EXPECT_EXIT(
      {
        std::vector<Rec> got;
        seq_for_each_pair(fq.c_str(), 0, kSeqMaskReads, 0, seqio_test::collect_pair_plain, &got);
        exit(0);
      },
      testing::ExitedWithCode(1), "^Error: odd number of sequences in paired file\n$");
  // The pairs before the end were delivered: count them in the child.
  EXPECT_EXIT(
      {
        std::vector<Rec> got;
        struct Count {
          static void pair(seq_record_t *, seq_record_t *, void *user) { fprintf(stderr, "pair %d\n", ++*static_cast<int *>(user)); }
        };
        int n = 0;
        seq_for_each_pair(fq.c_str(), 0, kSeqMaskReads, 0, Count::pair, &n);
        exit(0);
      },
      testing::ExitedWithCode(1), "^pair 1\npair 2\nError: odd number of sequences in paired file\n$");
  const std::string fof = dir.file("three.fof");
  std::string text = ">a\nA\n>b\nC\n>c\nG\n";
  std::string header = ".fof";
  header.push_back('\0');
  for (uint64_t v : {uint64_t{21}, uint64_t{text.size()}})
    for (int i = 0; i < 8; i++) header.push_back(static_cast<char>(v >> (8 * i)));
  ryx_test::write_file(fof, header + text);
  EXPECT_EXIT(
      {
        std::vector<Rec> got;
        seq_for_each_pair(fof.c_str(), 0, kSeqMaskReads | kSeqFormatFastaOffset, 0, seqio_test::collect_pair_plain,
                          &got);
        exit(0);
      },
      testing::ExitedWithCode(1), "^Error: odd number of sequences in paired file\n$");
}

TEST(SeqStream, InterleavedFilesOfUnequalCountsFail) {
  ScratchDir dir;
  const std::string three = dir.file("three.fa");
  const std::string four = dir.file("four.fa");
  ryx_test::write_file(three, ">1\nA\n>2\nC\n>3\nG\n");
  ryx_test::write_file(four, ">1\nA\n>2\nC\n>3\nG\n>4\nT\n");
  const char *message = "^Interleaved databases should have the same number of sequences\n$";
  for (auto [a, b] : {std::pair{three, four}, std::pair{four, three}}) {
    EXPECT_EXIT(
        {
          std::vector<Rec> got;
          seq_for_each_interleaved(a.c_str(), b.c_str(), 0, kSeqMaskReads, 0, seqio_test::collect_pair_plain, &got);
          exit(0);
        },
        testing::ExitedWithCode(1), message);
  }
  // A second file that ends with the first but whose last block holds more
  // records, with several workers and chunks.
  FastqFixture fx1 = small_fixture(1, 2000);
  FastqFixture fx2 = small_fixture(2, 2001);
  const std::string p1 = dir.file("a.fq");
  const std::string p2 = dir.file("b.fq");
  ryx_test::write_file(p1, fx1.text());
  ryx_test::write_file(p2, fx2.text());
  EXPECT_EXIT(
      {
        CpusGuard workers(4);
        std::vector<Rec> got;
        seq_for_each_interleaved(p1.c_str(), p2.c_str(), 0, kSeqMaskReads, 0, seqio_test::collect_pair_plain, &got);
        exit(0);
      },
      testing::ExitedWithCode(1), message);
}

TEST(SeqStream, OpenFailures) {
  ScratchDir dir;
  const std::string missing = dir.file("missing.fq");
  EXPECT_EXIT(seqio_test::read_for_each(missing, 0, kSeqMaskReads, false), testing::ExitedWithCode(1),
              "^Problem opening sequence file " + missing + "\n$");
  EXPECT_EXIT(seqio_test::read_pull(missing, 0, kSeqMaskReads, false), testing::ExitedWithCode(1),
              "^Problem opening sequence file " + missing + "\n$");
  // No streaming format fits: the stream opener says so with null, the
  // fallback database with its own message.
  const std::string text = dir.file("notes.txt");
  ryx_test::write_file(text, "just some words\n");
  EXPECT_EQ(seq_stream_open(text.c_str(), 0, kSeqMaskReads, 0, 0), nullptr);
  EXPECT_EXIT(seqio_test::read_for_each(text, 0, kSeqMaskReads, false), testing::ExitedWithCode(1),
              "^Format problem with file " + text + "\n$");
  EXPECT_EXIT(seqio_test::read_pull(text, 0, kSeqMaskReads, false), testing::ExitedWithCode(1),
              "^Problem with sequence file " + text + "\n$");
  // A format outside the mask is not taken.
  const std::string fq = dir.file("reads.fq");
  ryx_test::write_file(fq, "@r\nA\n+\nI\n");
  EXPECT_EQ(seq_stream_open(fq.c_str(), 0, kSeqMaskReferences, 0, 0), nullptr);
}

// A first block without any record start: a quality file whose comment
// lines fill more than a block.
TEST(SeqStream, FirstBlockWithoutARecordStartIsAFormatError) {
  ScratchDir dir;
  const std::string path = dir.file("comments.qual");
  std::string text;
  while (static_cast<int64_t>(text.size()) <= kBlock) text += "# a comment line that says nothing at all\n";
  ryx_test::write_file(path, text + ">q\n10 20\n");
  EXPECT_EXIT(seqio_test::read_for_each(path, 0, kSeqFormatFastaQuality, false), testing::ExitedWithCode(1),
              "^Sequence format error\n$");
  // The database skips the comments.
  const std::vector<Rec> want = {{"q", "\x0a\x14", false, ""}};
  EXPECT_EQ(seqio_test::read_db(path, 0, kSeqFormatFastaQuality, false, false), want);
}

}  // namespace
