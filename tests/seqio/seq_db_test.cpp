// Sequence databases: opening and format detection, counts, lengths and
// histograms, random fetches through the offset index, the composites, the
// databases over records and the FASTA database with its own mutex.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/memory.h"
#include "seq_read_paths.h"
#include "seqio/seq_alphabet.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_composite.h"
#include "seqio/seq_db_fasta_index.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::QualityOffsetGuard;
using seqio_test::Rec;

std::string write(const ScratchDir &dir, const std::string &name, const std::string &text) {
  const std::string path = dir.file(name);
  ryx_test::write_file(path, text);
  return path;
}

uint32_t detect(const std::string &text) {
  ScratchDir dir;
  const std::string path = write(dir, "x", text);
  input_stream_t *in = input_stream_open(path.c_str(), "rb");
  const uint32_t bit = seq_format_detect(in);
  input_stream_close(in);
  return bit;
}

TEST(SeqFormat, DetectionTakesTheFirstTestThatFits) {
  struct Case {
    const char *name;
    std::string text;
    uint32_t bit;
  };
  std::string fof = ".fof";
  fof += std::string(1, '\0') + std::string(16, '\0');
  const Case cases[] = {
      {"FASTA", ">a\nACGT\n", kSeqFormatFasta},
      {"empty file", "", kSeqFormatFasta},
      {"quality file before FASTA", "# comment\n>q\n  10 20\n", kSeqFormatFastaQuality},
      {"quality file with a negative value", ">q\n-1 5\n", kSeqFormatFastaQuality},
      {"FASTQ", "@r\nACGT\n+\nIIII\n", kSeqFormatFastq},
      {"offset file", fof, kSeqFormatFastaOffset},
      {"offset file of another version", ".fof\x01", 0},
      {"text before the first record", "\n>a\nACGT\n", 0},
      {"plain words", "hello\n", 0},
  };
  for (const Case &c : cases) EXPECT_EQ(detect(c.text), c.bit) << c.name;
  int32_t count = 0;
  const seq_format_t *table = seq_format_table(&count);
  const uint32_t order[] = {16, 256, 1, 512, 2, 4, 8, 32, 128, 1024};
  ASSERT_EQ(count, 10);
  for (int32_t i = 0; i < count; i++) EXPECT_EQ(table[i].bit, order[i]);
  EXPECT_EQ(seq_format_by_bit(64), nullptr);
}

TEST(SeqDb, OpenFailuresPrintAndReturnNull) {
  ScratchDir dir;
  const std::string missing = dir.file("missing.fa");
  testing::internal::CaptureStderr();
  EXPECT_EQ(seq_db_open(missing.c_str(), 0, kSeqMaskReads, 0, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not open file " + missing + " for reading\n");
  // FASTQ is no reference format.
  const std::string fq = write(dir, "r.fq", "@r\nA\n+\nI\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(seq_db_open(fq.c_str(), 0, kSeqMaskReferences, 0, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Format problem with file " + fq + "\n");
  const std::string words = write(dir, "w.txt", "words\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(seq_db_open(words.c_str(), 0, kSeqMaskReads, 0, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Format problem with file " + words + "\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(seq_db_open_file(fopen(words.c_str(), "rb"), 0, kSeqMaskReads, 0, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Format problem with file\n");
}

TEST(SeqDb, EmptyFileHasNoSequences) {
  ScratchDir dir;
  seq_db_t *db = seq_db_open(write(dir, "e.fa", "").c_str(), 0, kSeqFormatFasta, 1, 4);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->sequence_count, 0);
  EXPECT_EQ(db->residue_count, 0);
  EXPECT_EQ(seq_db_get_min_length(db), -1);
  EXPECT_EQ(seq_db_get_max_length(db), -1);
  EXPECT_EQ(db->get(db, 0), nullptr);
  EXPECT_EQ(db->get_qualities, nullptr);
  seq_db_free(db);
}

TEST(SeqDb, CountsLengthsAndHistogram) {
  ScratchDir dir;
  const std::string path = write(dir, "h.fa", ">a\nACG\n>b\n>c\nAC\nGT\nA\n>d\nA\n>e\nAAAAAAAAAA\n");
  seq_db_t *db = seq_db_open(path.c_str(), 2, kSeqMaskReads, 1, 5);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->sequence_count, 5);
  EXPECT_EQ(db->residue_count, 3 + 0 + 5 + 1 + 10);
  EXPECT_EQ(seq_db_get_min_length(db), 0);
  EXPECT_EQ(seq_db_get_max_length(db), 10);
  const uint32_t lengths[] = {3, 0, 5, 1, 10};
  for (int i = 0; i < 5; i++) EXPECT_EQ(db->get_length(db, i), lengths[i]);
  // Lengths 0 to 4 are counted, 5 and above are not.
  const int32_t *histogram = seq_db_get_length_histogram(db);
  const int32_t want[] = {1, 1, 0, 1, 0};
  for (int i = 0; i < 5; i++) EXPECT_EQ(histogram[i], want[i]) << i;
  // Codes of residue type 2.
  seq_record_t *c = db->get(db, 2);
  EXPECT_EQ(seqio_test::bytes_of(c), std::string("\0\1\2\3\0", 5));
  seq_record_release(c);
  seq_db_free(db);
  // Without lengths kept there is no get_length and no histogram.
  db = seq_db_open(path.c_str(), 0, kSeqMaskReads, 0, 0);
  EXPECT_EQ(db->get_length, nullptr);
  EXPECT_EQ(seq_db_get_length_histogram(db), nullptr);
  seq_db_free(db);
}

TEST(SeqDb, OpenFileWrapsAPlainFile) {
  ScratchDir dir;
  const std::string path = write(dir, "f.fq", "@a\nAC\n+\nII\n@b\nG\n+\n#\n");
  seq_db_t *db = seq_db_open_file(fopen(path.c_str(), "rb"), 0, kSeqMaskReads, 0, 0);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->sequence_count, 2);
  seq_record_t *b = db->get(db, 1);
  EXPECT_STREQ(b->name, "b");
  seq_record_release(b);
  seq_db_free(db);
}

// A FASTQ of many reads, many of whose quality lines (and some sequence
// lines) start with '@': past 1024 reads the starts live in the offset
// index, and the markers keep the skip counts right for fetches in any
// order.
TEST(SeqDb, RandomFetchesThroughTheOffsetIndexWithMarkers) {
  ScratchDir dir;
  QualityOffsetGuard offsets(33);
  std::mt19937 rng(99);
  std::string text;
  std::vector<Rec> want;
  for (int i = 0; i < 5000; i++) {
    const int length = 1 + static_cast<int>(rng() % (i % 97 == 0 ? 3000 : 60));
    std::string seq;
    std::string qual;
    for (int k = 0; k < length; k++) {
      seq.push_back("ACGT"[rng() % 4]);
      qual.push_back(static_cast<char>('!' + rng() % 40));
    }
    std::string name = "read" + std::to_string(i);
    std::string body = seq + "\n+\n";
    // Quality lines of 10 that start with '@' in two reads of three.
    std::string qual_text;
    for (int k = 0; k < length; k += 10) {
      if (i % 3 != 0) qual[static_cast<size_t>(k)] = '@';
      qual_text += qual.substr(static_cast<size_t>(k), 10) + "\n";
    }
    text += "@" + name + "\n" + body + qual_text;
    std::string values = qual;
    for (char &v : values) v = static_cast<char>(v - 33);
    want.push_back({name, seq, true, values});
  }
  // Plain, gzip, and gzip decompressed once into a temporary file.
  for (int mode : {0, 1, 2}) {
    const bool gz = mode > 0;
    SCOPED_TRACE(mode == 0 ? "plain" : mode == 1 ? "gzip" : "spooled gzip");
    const std::string path = dir.file(gz ? "many.fq.gz" : "many.fq");
    if (gz) ryx_test::write_gzip_file(path, text);
    else ryx_test::write_file(path, text);
    seq_db_set_gzip_spooling(mode == 2 ? 1 : 0);
    seq_db_t *db = seq_db_open(path.c_str(), 0, kSeqMaskReads, 1, 0);
    seq_db_set_gzip_spooling(0);
    ASSERT_NE(db, nullptr);
    // Spooled, the stream reads the temporary file (opened by path, plain
    // files too go through a gz handle); messages name the path.
    EXPECT_EQ(static_cast<seq_db_stream_impl_t *>(db->impl)->stream->gz == nullptr, mode == 2);
    EXPECT_STREQ(static_cast<seq_db_stream_impl_t *>(db->impl)->stream->path, path.c_str());
    ASSERT_EQ(db->sequence_count, 5000);
    auto *impl = static_cast<seq_db_stream_impl_t *>(db->impl);
    EXPECT_NE(impl->index, nullptr);
    EXPECT_EQ(impl->starts, nullptr);
    std::vector<int64_t> order(5000);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    // Every read, in random order, once by get and once by get_qualities,
    // and the first and last read again.
    order.push_back(0);
    order.push_back(4999);
    for (int64_t i : order) {
      seq_record_t *r = db->get(db, i);
      seq_record_t *q = db->get_qualities(db, i);
      ASSERT_EQ(seqio_test::to_rec(r, q), want[static_cast<size_t>(i)]) << "read " << i;
      seq_record_release(r);
      seq_record_release(q);
    }
    seq_db_free(db);
  }
}

// A sequence line that starts with '@' looks like a record start to the
// forward skip too; it is a marker as well.
TEST(SeqDb, SequenceLinesStartingWithAtSignAreMarkersToo) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 1500; i++)
    text += "@s" + std::to_string(i) + "\nACGTA\n@CGT\n+\nIIIII\nIIII\n";
  const std::string path = write(dir, "at.fq", text);
  seq_db_t *db = seq_db_open(path.c_str(), 0, kSeqMaskReads, 0, 0);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->sequence_count, 1500);
  for (int64_t i : {1499, 3, 1200, 1024, 1025, 700, 0}) {
    seq_record_t *r = db->get(db, i);
    EXPECT_EQ(std::string(r->name), "s" + std::to_string(i));
    EXPECT_EQ(seqio_test::bytes_of(r), "ACGTA@CGT");
    seq_record_release(r);
  }
  seq_db_free(db);
}

// Records of one sequence line and one quality line, read straight from the
// stream's buffer, with quality lines (and some sequence lines) that start
// with '@': their markers must be those of the byte-by-byte reading, or the
// offset index would land on the wrong records. Some records in between
// take the general way (two sequence lines, a CRLF header, white space).
TEST(SeqDb, OneLineRecordsWithAtSignLinesThroughTheOffsetIndex) {
  ScratchDir dir;
  QualityOffsetGuard offset(33);
  std::mt19937 rng(9);
  std::string text;
  std::vector<Rec> want;
  for (int i = 0; i < 4000; i++) {
    const int length = 20 + static_cast<int>(rng() % 20);
    std::string seq(static_cast<size_t>(length), 'A');
    for (char &c : seq) c = "ACGT"[rng() % 4];
    if (i % 7 == 0) seq[0] = '@';
    std::string qual(static_cast<size_t>(length), 'I');
    for (char &c : qual) c = static_cast<char>('5' + rng() % 20);
    if (i % 3 != 0) qual[0] = '@';
    const std::string name = "r" + std::to_string(i);
    if (i % 11 == 5) {
      text += "@" + name + "\r\n" + seq.substr(0, 10) + "\n" + seq.substr(10) + "\n+" + name + "\n" + qual + "\n";
    } else if (i % 13 == 6) {
      text += "@" + name + "\n" + seq + "\n+\n" + qual + "\n\n";
    } else {
      text += "@" + name + "\n" + seq + "\n+\n" + qual + "\n";
    }
    std::string values = qual;
    for (char &v : values) v = static_cast<char>(v - 33);
    want.push_back({name, seq, true, values});
  }
  const std::string path = write(dir, "one_line.fq", text);
  seq_db_t *db = seq_db_open(path.c_str(), 0, kSeqMaskReads, 1, 0);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->sequence_count, 4000);
  EXPECT_NE(static_cast<seq_db_stream_impl_t *>(db->impl)->index, nullptr);
  std::vector<int64_t> order(4000);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  for (int64_t i : order) {
    seq_record_t *r = db->get(db, i);
    seq_record_t *q = db->get_qualities(db, i);
    ASSERT_EQ(seqio_test::to_rec(r, q), want[static_cast<size_t>(i)]) << "read " << i;
    EXPECT_EQ(db->get_length(db, i), want[static_cast<size_t>(i)].residues.size()) << "read " << i;
    seq_record_release(r);
    seq_record_release(q);
  }
  seq_db_free(db);
}

// The opening pass in parts (tiny parts here, so that every kind of record
// falls on a cut) gives the database of the one-thread pass: counts,
// lengths and histogram, and every record fetched in random order through
// the starts and markers it recorded. The file mixes one-line records with
// those the parts leave to the byte-by-byte reader: wrapped sequences, CRLF
// headers, blank lines, quality and sequence lines that start with '@', and
// a last record without a final line feed, and records longer than a part;
// by path, over an open FILE and gzipped (scanned while it is spooled).
TEST(SeqDb, OpeningPassInPartsGivesTheSameDatabase) {
  ScratchDir dir;
  QualityOffsetGuard offset(33);
  std::mt19937 rng(17);
  std::string text;
  for (int i = 0; i < 3000; i++) {
    // A few records longer than several parts: parts inside them find no
    // record start.
    const int length = i % 1000 == 500 ? 3000 : 1 + static_cast<int>(rng() % 60);
    std::string seq(static_cast<size_t>(length), 'A');
    for (char &c : seq) c = "ACGTN"[rng() % 5];
    if (i % 7 == 0) seq[0] = '@';
    std::string qual(static_cast<size_t>(length), 'I');
    for (char &c : qual) c = static_cast<char>('5' + rng() % 20);
    if (i % 3 != 0) qual[0] = '@';
    const std::string name = "r" + std::to_string(i);
    if (i % 101 == 5 && length > 10) {
      text += "@" + name + "\r\n" + seq.substr(0, 10) + "\n" + seq.substr(10) + "\n+" + name + "\n" + qual + "\n";
    } else if (i % 97 == 6) {
      text += "@" + name + "\n" + seq + "\n+\n" + qual + "\n\n";
    } else {
      text += "@" + name + "\n" + seq + "\n+\n" + qual + "\n";
    }
  }
  text.pop_back();
  const std::string path = write(dir, "parts.fq", text);
  struct database_t {
    int64_t count, residues;
    int32_t shortest, longest;
    std::vector<int32_t> histogram;
    std::vector<Rec> records;
    bool operator==(const database_t &) const = default;
  };
  // The same file gzipped, decompressed into a temporary file whose parts
  // are scanned as it is written.
  const std::string gz_path = dir.file("parts.fq.gz");
  ryx_test::write_gzip_file(gz_path, text);
  enum source_t { kByPath, kOpenFile, kSpooled };
  auto open = [&](int32_t threads, source_t source) {
    seq_db_set_index_threads(threads, 512);
    seq_db_set_gzip_spooling(source == kSpooled ? 1 : 0);
    seq_db_t *db = source == kByPath     ? seq_db_open(path.c_str(), 0, kSeqMaskReads, 1, 4000)
                   : source == kSpooled ? seq_db_open(gz_path.c_str(), 0, kSeqMaskReads, 1, 4000)
                                        : seq_db_open_file(fopen(path.c_str(), "rb"), 0, kSeqMaskReads, 1, 4000);
    seq_db_set_gzip_spooling(0);
    seq_db_set_index_threads(1);
    database_t got{};
    EXPECT_NE(db, nullptr);
    if (db == nullptr) return got;
    got.count = db->sequence_count;
    got.residues = db->residue_count;
    got.shortest = seq_db_get_min_length(db);
    got.longest = seq_db_get_max_length(db);
    got.histogram.assign(seq_db_get_length_histogram(db), seq_db_get_length_histogram(db) + 4000);
    std::vector<int64_t> order(static_cast<size_t>(db->sequence_count));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    got.records.resize(order.size());
    for (int64_t i : order) {
      seq_record_t *r = db->get(db, i);
      seq_record_t *q = db->get_qualities(db, i);
      got.records[static_cast<size_t>(i)] = seqio_test::to_rec(r, q);
      EXPECT_EQ(db->get_length(db, i), r->length);
      seq_record_release(r);
      seq_record_release(q);
    }
    seq_db_free(db);
    return got;
  };
  const database_t want = open(1, kByPath);
  ASSERT_EQ(want.count, 3000);
  EXPECT_TRUE(open(1, kSpooled) == want);
  for (source_t source : {kByPath, kOpenFile, kSpooled}) {
    for (int32_t threads : {2, 3, 7, 64}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, "
                                      << (source == kByPath ? "by path" : source == kOpenFile ? "open file" : "spooled"));
      EXPECT_TRUE(open(threads, source) == want);
    }
  }
}

// Letters fetched into a reusable record are get's residues, for records
// of the common form and the others (wrapped, CRLF, blank lines, '@' lines),
// in any order, through a stream database, an interleaved and a
// concatenated one over it, and a database over records (through get).
TEST(SeqDb, LettersIntoAScratchRecordAreGetsResidues) {
  ScratchDir dir;
  std::mt19937 rng(23);
  std::string text;
  for (int i = 0; i < 400; i++) {
    const int length = 1 + static_cast<int>(rng() % 50);
    std::string seq(static_cast<size_t>(length), 'A');
    for (char &c : seq) c = "ACGTNacgtn"[rng() % 10];
    std::string qual(static_cast<size_t>(length), 'I');
    if (i % 5 == 0) qual[0] = '@';
    const std::string name = "r" + std::to_string(i);
    if (i % 9 == 4 && length > 5) {
      text += "@" + name + "\r\n" + seq.substr(0, 5) + "\n" + seq.substr(5) + "\n+\n" + qual + "\n";
    } else if (i % 11 == 3) {
      text += "@" + name + "\n" + seq + "\n+\n" + qual + "\n\n";
    } else {
      text += "@" + name + "\n" + seq + "\n+\n" + qual + "\n";
    }
  }
  const std::string path = write(dir, "letters.fq", text);
  seq_db_t *a = seq_db_open(path.c_str(), 2, kSeqMaskReads, 0, 0);
  seq_db_t *b = seq_db_open(path.c_str(), 2, kSeqMaskReads, 0, 0);
  ASSERT_NE(a, nullptr);
  auto **pair = static_cast<seq_db_t **>(ryx_malloc(sizeof(seq_db_t *) * 2));
  pair[0] = a;
  pair[1] = b;
  seq_db_t *interleaved = seq_db_new_interleaved(pair, 2);
  auto **both = static_cast<seq_db_t **>(ryx_malloc(sizeof(seq_db_t *) * 2));
  both[0] = a;
  both[1] = b;
  seq_db_t *concatenated = seq_db_new_concat(both, 2);
  auto **copies = static_cast<seq_record_t **>(ryx_malloc(sizeof(seq_record_t *) * static_cast<size_t>(a->sequence_count)));
  for (int64_t i = 0; i < a->sequence_count; i++) copies[i] = a->get(a, i);
  seq_db_t *records = seq_db_new_from_records(copies, a->sequence_count);
  seq_scratch_t scratch{};
  for (seq_db_t *db : {a, interleaved, concatenated, records}) {
    std::vector<int64_t> order(static_cast<size_t>(db->sequence_count));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    for (int64_t i : order) {
      seq_record_t *want = db->get(db, i);
      seq_record_t *got = seq_db_fetch_letters(db, i, &scratch);
      ASSERT_NE(got, nullptr);
      ASSERT_EQ(seqio_test::bytes_of(got), seqio_test::bytes_of(want)) << i;
      EXPECT_EQ(got->name, nullptr);
      seq_db_release_fetched(db, want);
    }
    EXPECT_EQ(seq_db_fetch_letters(db, db->sequence_count, &scratch), nullptr);
  }
  seq_scratch_free(&scratch);
  seq_db_free_records(records);
  seq_db_free_parts(interleaved);
  seq_db_free_parts(concatenated);
  seq_db_free(a);
  seq_db_free(b);
}

// A fault anywhere in a file read in parts ends the process with the
// message of the one-thread pass: the parts take only records of the
// common form and leave the rest to the byte-by-byte reader.
TEST(SeqDbDeathTest, OpeningPassInPartsReportsFormatErrors) {
  ScratchDir dir;
  std::string head, tail;
  for (int i = 0; i < 200; i++) head += "@h" + std::to_string(i) + "\nACGTACGT\n+\nIIIIIIII\n";
  for (int i = 0; i < 200; i++) tail += "@t" + std::to_string(i) + "\nACGTACGT\n+\nIIIIIIII\n";
  const struct {
    const char *fault;
    const char *message;
  } cases[] = {
      {"junk\n", "Fastq format error in file"},
      {"@cut\nACGT\n+\nII", "Fastq format error EOF in file"},
  };
  for (const auto &c : cases) {
    const bool at_end = std::string(c.fault).find("cut") != std::string::npos;
    const std::string path = write(dir, "bad.fq", head + c.fault + (at_end ? "" : tail));
    EXPECT_EXIT(
        {
          seq_db_set_index_threads(4, 256);
          seq_db_open(path.c_str(), 0, kSeqMaskReads, 1, 0);
        },
        testing::ExitedWithCode(1), c.message);
  }
}

// Fetches a few records ahead of the last one read its way there record by
// record (FASTQ and FASTA), farther ones through the index: every gap from
// 1 to 40 records, in increasing order, gives the right records.
TEST(SeqDb, FetchesAFewRecordsAheadReadTheirWayThere) {
  ScratchDir dir;
  QualityOffsetGuard offset(33);
  std::mt19937 rng(11);
  std::string fastq, fasta;
  std::vector<std::string> names, bases;
  for (int i = 0; i < 6000; i++) {
    std::string seq(static_cast<size_t>(15 + rng() % 30), 'A');
    for (char &c : seq) c = "ACGT"[rng() % 4];
    names.push_back("s" + std::to_string(i));
    bases.push_back(seq);
    std::string qual(seq.size(), 'I');
    if (i % 4 == 1) qual[0] = '@';
    fastq += "@" + names.back() + "\n" + seq + "\n+\n" + qual + "\n";
    fasta += ">" + names.back() + "\n" + seq + "\n";
  }
  for (const char *name : {"ahead.fq", "ahead.fa"}) {
    SCOPED_TRACE(name);
    const std::string path = write(dir, name, std::string(name).back() == 'q' ? fastq : fasta);
    seq_db_t *db = seq_db_open(path.c_str(), 0, kSeqMaskReads, 0, 0);
    ASSERT_NE(db, nullptr);
    ASSERT_EQ(db->sequence_count, 6000);
    int64_t i = 0;
    for (int gap = 0; i < 6000; gap = (gap + 1) % 41, i += gap + 1) {
      seq_record_t *r = db->get(db, i);
      ASSERT_EQ(std::string(r->name), names[static_cast<size_t>(i)]) << "read " << i;
      EXPECT_EQ(seqio_test::bytes_of(r), bases[static_cast<size_t>(i)]) << "read " << i;
      seq_record_release(r);
    }
    seq_db_free(db);
  }
}

seq_db_t *fasta_db(const ScratchDir &dir, const std::string &name, int n, int first) {
  std::string text;
  for (int i = 0; i < n; i++) text += ">s" + std::to_string(first + i) + "\n" + std::string(static_cast<size_t>(i + 1), 'A') + "\n";
  return seq_db_open(write(dir, name, text).c_str(), 0, kSeqMaskReads, 1, 0);
}

std::string name_at(seq_db_t *db, int64_t i) {
  seq_record_t *r = db->get(db, i);
  std::string name = r->name;
  seq_record_release(r);
  return name;
}

TEST(SeqDbComposite, InterleavedAndConcatenated) {
  ScratchDir dir;
  seq_db_t *a = fasta_db(dir, "a.fa", 3, 0);
  seq_db_t *b = fasta_db(dir, "b.fa", 3, 10);
  auto **parts = static_cast<seq_db_t **>(malloc(2 * sizeof(seq_db_t *)));
  parts[0] = a;
  parts[1] = b;
  seq_db_t *mixed = seq_db_new_interleaved(parts, 2);
  EXPECT_EQ(mixed->sequence_count, 6);
  EXPECT_EQ(mixed->residue_count, 12);
  EXPECT_EQ(name_at(mixed, 3), "s11");  // sequence 1 of the second part
  EXPECT_EQ(name_at(mixed, 4), "s2");
  EXPECT_EQ(mixed->get_length(mixed, 5), 3u);
  EXPECT_EQ(mixed->get_qualities, nullptr);  // FASTA parts have none
  EXPECT_EQ(seq_db_get_part(mixed, 1), b);
  seq_db_free_parts(mixed);

  seq_db_t *c = fasta_db(dir, "c.fa", 2, 20);
  parts = static_cast<seq_db_t **>(malloc(3 * sizeof(seq_db_t *)));
  parts[0] = a;
  parts[1] = c;
  parts[2] = b;
  seq_db_t *all = seq_db_new_concat(parts, 3);
  EXPECT_EQ(all->sequence_count, 8);
  const char *names[] = {"s0", "s1", "s2", "s20", "s21", "s10", "s11", "s12"};
  for (int i = 0; i < 8; i++) EXPECT_EQ(name_at(all, i), names[i]);
  EXPECT_EQ(all->get_length(all, 4), 2u);
  EXPECT_EQ(all->get(all, 8), nullptr);
  seq_db_free_parts(all);

  parts = static_cast<seq_db_t **>(malloc(2 * sizeof(seq_db_t *)));
  parts[0] = a;
  parts[1] = c;
  EXPECT_EXIT(seq_db_new_interleaved(parts, 2), testing::ExitedWithCode(1),
              "^Interleaved databases must be of the same length.\n$");
  free(parts);
  seq_db_free(a);
  seq_db_free(b);
  seq_db_free(c);
}

TEST(SeqDbMemory, RecordsShellsAndSums) {
  auto **records = static_cast<seq_record_t **>(malloc(2 * sizeof(seq_record_t *)));
  records[0] = seq_record_new_from_string("ACGT");
  records[1] = seq_record_new_from_string("GG");
  seq_db_t *db = seq_db_new_from_records(records, 2);
  EXPECT_EQ(db->sequence_count, 2);
  EXPECT_EQ(db->residue_count, 6);
  EXPECT_EQ(db->get(db, 1), records[1]);  // the stored record itself
  EXPECT_EQ(db->get_length(db, 0), 4u);
  EXPECT_EQ(db->get_qualities, nullptr);
  db->residue_count = 0;
  seq_db_sum_lengths(db);
  EXPECT_EQ(db->residue_count, 6);
  seq_db_fetch_all(db);  // must not release the stored records
  EXPECT_EQ(db->get(db, 0)->length, 4u);

  seq_db_t *one = seq_db_new_from_record(seq_record_new_from_string("T"));
  seq_db_t *pair[2] = {db, one};
  seq_db_t *sum = seq_db_new_summed_shell(pair, 2);
  EXPECT_EQ(sum->sequence_count, 3);
  EXPECT_EQ(sum->residue_count, 7);
  EXPECT_EQ(sum->get, nullptr);
  seq_db_free_shell(sum);
  seq_db_free_records(one);
  seq_db_free_records(db);

  seq_db_t *shell = seq_db_new();
  EXPECT_EQ(shell->sequence_count, 0);
  EXPECT_EQ(shell->get, nullptr);
  EXPECT_EQ(seq_db_free_shell(shell), nullptr);
}

TEST(SeqDbFastaIndex, FullAndFastScans) {
  ScratchDir dir;
  const std::string path = write(dir, "idx.fa", "\n>first one\r\nAC GT\nTT\n>second\n\n>third\nG\n");
  seq_db_t *full = seq_db_open_fasta_indexed(path.c_str(), seq_alphabet_new_dna(), 1, 1);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->sequence_count, 3);
  EXPECT_EQ(full->residue_count, 7);
  EXPECT_EQ(full->get_length(full, 0), 6u);
  seq_record_t *r = full->get(full, 0);
  EXPECT_STREQ(r->name, "first one");
  EXPECT_EQ(seqio_test::bytes_of(r), std::string("\0\1\2\3\3\3", 6));
  seq_record_release(r);
  r = full->get(full, 1);
  EXPECT_STREQ(r->name, "second");
  EXPECT_EQ(r->length, 0u);
  seq_record_release(r);
  EXPECT_EQ(full->get(full, 3), nullptr);
  seq_db_free_fasta_indexed(full);

  seq_db_t *fast = seq_db_open_fasta_indexed(path.c_str(), nullptr, 0, 0);
  ASSERT_NE(fast, nullptr);
  EXPECT_EQ(fast->sequence_count, 3);
  EXPECT_EQ(fast->residue_count, 0);
  EXPECT_EQ(fast->get_length, nullptr);
  r = fast->get(fast, 2);
  EXPECT_EQ(r->name, nullptr);
  EXPECT_EQ(seqio_test::bytes_of(r), "G");
  seq_record_release(r);
  seq_db_free_fasta_indexed(fast);

  EXPECT_EQ(seq_db_open_fasta_indexed(dir.file("missing").c_str(), nullptr, 1, 1), nullptr);
  EXPECT_EXIT(seq_db_open_fasta_indexed(write(dir, "junk.fa", "junk\n>a\nA\n").c_str(), nullptr, 1, 1),
              testing::ExitedWithCode(1), "^Fasta file format error 0\n$");
}

// Fetches from several threads at once are serialised by the database.
TEST(SeqDbFastaIndexThreads, ConcurrentFetches) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 400; i++) text += ">s" + std::to_string(i) + "\n" + std::string(static_cast<size_t>(i % 50 + 1), 'C') + "\n";
  seq_db_t *db = seq_db_open_fasta_indexed(write(dir, "mt.fa", text).c_str(), nullptr, 1, 1);
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([db, t, &wrong] {
      for (int k = 0; k < 400; k++) {
        const int i = (k * 7 + t * 101) % 400;
        seq_record_t *r = db->get(db, i);
        if (std::string(r->name) != "s" + std::to_string(i) || r->length != static_cast<uint32_t>(i % 50 + 1))
          wrong[static_cast<size_t>(t)]++;
        seq_record_release(r);
      }
    });
  }
  for (std::thread &th : threads) th.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
  seq_db_free_fasta_indexed(db);
}

}  // namespace
