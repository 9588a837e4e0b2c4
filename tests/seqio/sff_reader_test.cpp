// SFF reader: the golden file, clip windows, the index wherever it stands,
// reads at block borders, and damaged files on every read path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binary_builders.h"
#include "seq_read_paths.h"
#include "seqio/seq_db.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "seqio/sff_reader.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::Rec;
using seqio_test::SffIndex;
using seqio_test::SffLayout;
using seqio_test::SffRead;

constexpr uint32_t kMask = kSeqMaskReads;

SffRead read(const std::string &name, const std::string &bases, uint16_t ql = 0, uint16_t qr = 0, uint16_t al = 0,
             uint16_t ar = 0) {
  SffRead r;
  r.name = name;
  r.bases = bases;
  r.clip_quality_left = ql;
  r.clip_quality_right = qr;
  r.clip_adapter_left = al;
  r.clip_adapter_right = ar;
  return r;
}

// The record a read should give: its bases and qualities from first (1-based)
// for count residues.
Rec expected(const SffRead &r, size_t first, size_t count, bool qualities) {
  Rec rec;
  rec.name = r.name;
  rec.residues = count > 0 ? r.bases.substr(first - 1, count) : "";
  if (qualities) {
    rec.has_quality = true;
    rec.quality = count > 0 ? seqio_test::sff_qualities(r).substr(first - 1, count) : "";
  }
  return rec;
}

Rec unclipped(const SffRead &r, bool qualities) { return expected(r, 1, r.bases.size(), qualities); }

std::string bases(size_t n, uint32_t seed) {
  std::string out(n, 'A');
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    out[i] = "ACGTN"[(seed >> 16) % 5];
  }
  return out;
}

TEST(SffReader, GoldenFileOnEveryPath) {
  const std::string golden = ryx_test::hex_fixture("seqio/sff_two_reads_index_end.sff.hex");
  SffRead r1 = read("r1", "ACGTA", 2, 4);
  r1.qualities = "\x0a\x14\x1e\x28\x32";
  SffRead r2 = read("eightchr", "GGCCA", 0, 0, 3, 0);
  r2.qualities = "\x05\x06\x07\x08\x09";
  SffLayout layout;
  layout.index.place = SffIndex::kAfterRead;
  layout.index.after_read = 1;
  // The builder that makes the larger files below writes the same bytes.
  ASSERT_EQ(seqio_test::sff_file({r1, r2}, layout), golden);

  ScratchDir dir;
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    const std::string path = dir.file(gz ? "golden_gz" : "golden");
    seqio_test::write_maybe_gzip(path, golden, gz);
    for (bool q : {false, true})
      seqio_test::expect_four_paths(path, 0, kMask, q, {expected(r1, 2, 3, q), expected(r2, 3, 3, q)});
    seq_db_t *db = seq_db_open(path.c_str(), 0, kMask, 1, 0);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->sequence_count, 2);
    EXPECT_EQ(db->residue_count, 6);
    seq_db_free(db);
    // Residue type 2 maps the letters to codes on every path.
    const std::vector<Rec> codes = {{"r1", std::string("\1\2\3", 3), false, ""},
                                    {"eightchr", std::string("\1\1\0", 3), false, ""}};
    seqio_test::expect_four_paths(path, 2, kMask, false, codes);
  }
}

TEST(SffReader, ClipWindows) {
  struct Case {
    uint32_t bases, ql, qr, al, ar;
    uint32_t left, length;
  };
  const Case cases[] = {
      {100, 0, 0, 0, 0, 1, 100},      // nothing set: the whole read
      {100, 5, 100, 0, 90, 5, 86},    // adapter right below the quality right
      {100, 5, 200, 0, 0, 5, 96},     // quality right beyond the read: the last base
      {100, 5, 50, 10, 0, 10, 41},    // adapter left above the quality left
      {100, 0, 0, 0, 40, 1, 40},      // adapter right alone
      {100, 0, 0, 0, 100, 1, 100},    // adapter right at the end
      {100, 60, 0, 0, 40, 60, 0},     // quality left beyond the adapter right
      {100, 0, 30, 50, 0, 50, 0},     // adapter left beyond the quality right
      {10, 20, 0, 0, 0, 20, 0},       // left clip beyond the read
      {0, 0, 0, 0, 0, 1, 0},          // no bases
      {100, 40, 40, 0, 0, 40, 1},     // one base
  };
  for (const Case &c : cases) {
    uint32_t left = 0;
    uint32_t length = 0;
    sff_clip(c.bases, c.ql, c.qr, c.al, c.ar, &left, &length);
    EXPECT_EQ(left, c.left) << c.bases << " " << c.ql << " " << c.qr << " " << c.al << " " << c.ar;
    EXPECT_EQ(length, c.length) << c.bases << " " << c.ql << " " << c.qr << " " << c.al << " " << c.ar;
  }

  // The same windows in a file, the empty ones at the read's end and as the
  // last read, where a negative length would read past the data.
  const std::string b = bases(100, 7);
  const std::vector<SffRead> reads = {read("all", b),
                                      read("adapter", b, 5, 100, 0, 90),
                                      read("past_end", b, 5, 200),
                                      read("crossed", b, 60, 0, 0, 40),
                                      read("both_ends", b, 0, 30, 50, 0),
                                      read("short", "ACGTACGTAC", 20),
                                      read("empty", ""),
                                      read("tail", b, 100, 0, 0, 0),
                                      read("crossed_last", b, 0, 0, 99, 98)};
  const std::vector<std::pair<size_t, size_t>> windows = {{1, 100}, {5, 86}, {5, 96}, {0, 0}, {0, 0},
                                                          {0, 0},   {0, 0},  {100, 1}, {0, 0}};
  ScratchDir dir;
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    const std::string path = dir.file("clips");
    seqio_test::write_maybe_gzip(path, seqio_test::sff_file(reads), gz);
    for (bool q : {false, true}) {
      std::vector<Rec> want;
      for (size_t k = 0; k < reads.size(); k++)
        want.push_back(expected(reads[k], windows[k].first, windows[k].second, q));
      seqio_test::expect_four_paths(path, 0, kMask, q, want);
    }
  }
}

TEST(SffReader, IndexBeforeBetweenAndAfterTheReads) {
  std::vector<SffRead> reads;
  for (int k = 0; k < 6; k++) reads.push_back(read("read" + std::to_string(k), bases(30 + 17 * k, k), 3, 0, 0, 25));
  reads[2].name = "exactly8";  // a read header without padding
  std::vector<Rec> want;
  for (const SffRead &r : reads) want.push_back(expected(r, 3, 23, true));

  struct Case {
    const char *name;
    SffIndex::Place place;
    size_t after;
    size_t index_size;
  };
  const Case cases[] = {
      {"no index", SffIndex::kNone, 0, 0},
      {"after the header", SffIndex::kAfterHeader, 0, 21},
      {"in the middle", SffIndex::kAfterRead, 2, 13},
      {"at the end", SffIndex::kAfterRead, 5, 40},
      // Longer than a block: streaming meets blocks without a read start.
      {"long, after the header", SffIndex::kAfterHeader, 0, 300001},
      {"long, in the middle", SffIndex::kAfterRead, 3, 600000},
  };
  ScratchDir dir;
  for (const Case &c : cases) {
    SffLayout layout;
    layout.index.place = c.place;
    layout.index.after_read = c.after;
    layout.index.bytes = bases(c.index_size, 99);
    const std::string file = seqio_test::sff_file(reads, layout);
    for (bool gz : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (gz ? ", gzip" : ", plain"));
      const std::string path = dir.file("indexed");
      seqio_test::write_maybe_gzip(path, file, gz);
      seqio_test::expect_four_paths(path, 0, kMask, true, want);
    }
  }
}

// Reads follow each other until the next would start at target (relative to
// the first read, a multiple of 8): 400-base reads, then one whose size
// makes up the rest.
void fill_to(std::vector<SffRead> *reads, size_t *at, size_t target) {
  constexpr size_t kBig = 1232;  // 24-byte read header, 4 flows, 400 bases
  while (target - *at >= kBig + 32) {
    reads->push_back(read("f" + std::to_string(reads->size()), bases(400, static_cast<uint32_t>(reads->size()))));
    *at += kBig;
  }
  const size_t rest = target - *at;  // 24 + 8 + 3 b, padded, is rest
  reads->push_back(read("f" + std::to_string(reads->size()), bases((rest - 32) / 3, 5)));
  *at = target;
}

TEST(SffReaderThreads, ReadsAtBlockBorders) {
  const size_t block = kSeqBlockSize;
  std::vector<SffRead> reads;
  size_t at = 0;  // offset of the next read from the first read
  // A read in the last 8 bytes of the first block, one exactly at the second
  // border, and one crossing the third.
  fill_to(&reads, &at, block - 8);
  reads.push_back(read("last8", bases(300, 1), 2, 290));
  at += 24 + 8 + 904;  // 936, a multiple of 8
  fill_to(&reads, &at, 2 * block);
  reads.push_back(read("border", bases(250, 2), 0, 0, 7));
  at += 24 + 8 + 752 + 0;  // 784
  fill_to(&reads, &at, 3 * block - 400);
  reads.push_back(read("crossing", bases(500, 3)));

  std::vector<size_t> offsets;
  const std::string file = seqio_test::sff_file(reads, SffLayout(), &offsets);
  const size_t first = offsets[0];
  std::vector<Rec> want;
  for (size_t k = 0; k < reads.size(); k++) {
    const SffRead &r = reads[k];
    if (r.name == "last8") {
      ASSERT_EQ(offsets[k] - first, block - 8);
      want.push_back(expected(r, 2, 289, true));
    } else if (r.name == "border") {
      ASSERT_EQ(offsets[k] - first, 2 * block);
      want.push_back(expected(r, 7, 244, true));
    } else {
      want.push_back(unclipped(r, true));
    }
  }
  ASSERT_EQ(offsets.back() - first, 3 * block - 400);
  ScratchDir dir;
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    const std::string path = dir.file("borders");
    seqio_test::write_maybe_gzip(path, file, gz);
    seqio_test::expect_four_paths(path, 0, kMask, true, want);
    seqio_test::CpusGuard cpus(8);
    EXPECT_EQ(seqio_test::read_for_each(path, 0, kMask, true), want);
  }
}

TEST(SffReader, NoReads) {
  // A header that counts no reads: whatever follows it is no record.
  SffLayout layout;
  layout.index.place = SffIndex::kAfterHeader;
  layout.reads_field = 0;
  const std::string file = seqio_test::sff_file({read("x", "ACGT")}, layout);
  ScratchDir dir;
  for (bool gz : {false, true}) {
    const std::string path = dir.file("none");
    seqio_test::write_maybe_gzip(path, file, gz);
    seqio_test::expect_four_paths(path, 0, kMask, true, {});
  }
}

// Damaged files: each read path ends with the message and status 1, never a
// crash or a huge allocation.
struct Damage {
  const char *name;
  std::string bytes;
  const char *indexed;   // message of the database (and fallback) paths
  const char *streamed;  // message of the streaming paths
};

void set_be(std::string *file, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; i++) (*file)[at + i] = static_cast<char>(value >> (8 * (bytes - 1 - i)));
}

std::vector<Damage> damaged_files() {
  const std::string golden = ryx_test::hex_fixture("seqio/sff_two_reads_index_end.sff.hex");
  // Offsets in the golden file: reads at 40 and 88, index at 136.
  const char *kSequence = "Error reading sequence in sff file ";
  const char *kBases = "Error reading sff bases in file ";
  const char *kHeader = "Error reading header in sff file ";
  std::vector<Damage> out;
  auto with = [&](const char *name, size_t at, uint64_t value, int bytes, const char *indexed, const char *streamed) {
    std::string file = golden;
    set_be(&file, at, value, bytes);
    out.push_back({name, file, indexed, streamed});
  };
  with("read header length too long", 40, 0x20, 2, kSequence, kSequence);
  with("read header length zero", 88, 0, 2, kSequence, kSequence);
  with("name longer than the read header", 42, 9, 2, kSequence, kSequence);
  with("bases beyond the file", 44, 0x7fffffff, 4, kSequence, kSequence);
  with("bases beyond 31 bits", 92, 0xffffffff, 4, kSequence, kSequence);
  with("more reads than the file holds", 20, 3, 4, kSequence, kSequence);
  with("the largest number of reads", 20, 0xffffffff, 4, kSequence, kSequence);
  with("index longer than the file", 16, 0x7fffffff, 4, nullptr, nullptr);  // at the end: never read
  with("wrong flowgram format", 30, 2, 1, "Error reading sff file: wrong format in file ",
       "Error reading sff file: wrong format in file ");
  with("header length off", 24, 0x30, 2, kHeader, kHeader);
  with("header length short", 24, 0x08, 2, kHeader, kHeader);
  out.push_back({"cut inside read 2's header", golden.substr(0, 92), kSequence, kSequence});
  out.push_back({"cut inside read 2's bases", golden.substr(0, 125), kSequence, kBases});
  out.push_back({"cut inside the common header", golden.substr(0, 21), "Error reading file: early termination",
                 "Error reading file: early termination"});
  // An index in the middle that claims to reach beyond the file.
  SffLayout layout;
  layout.index.place = SffIndex::kAfterRead;
  layout.index.after_read = 0;
  std::string middle = seqio_test::sff_file({read("a", "ACGT"), read("b", "GGTT")}, layout);
  set_be(&middle, 16, 0x40000000, 4);
  out.push_back({"index in the middle beyond the file", middle, kSequence, kSequence});
  return out;
}

void run_db(const std::string &path) { seqio_test::read_db(path, 0, kMask, true, false); }
void run_for_each(const std::string &path) { seqio_test::read_for_each(path, 0, kMask, true); }
void run_pull(const std::string &path) { seqio_test::read_pull(path, 0, kMask, false); }

TEST(SffReader, DamagedFiles) {
  ScratchDir dir;
  int n = 0;
  for (const Damage &d : damaged_files()) {
    for (bool gz : {false, true}) {
      SCOPED_TRACE(std::string(d.name) + (gz ? ", gzip" : ", plain"));
      const std::string path = dir.file("damaged" + std::to_string(n++));
      seqio_test::write_maybe_gzip(path, d.bytes, gz);
      if (d.indexed == nullptr) {
        EXPECT_EQ(seqio_test::read_db(path, 0, kMask, false, false).size(), 2u);
        EXPECT_EQ(seqio_test::read_pull(path, 0, kMask, false).size(), 2u);
        continue;
      }
      const bool names_file = std::string(d.indexed).find("early") == std::string::npos;
      const std::string indexed = std::string("^") + d.indexed + (names_file ? path : "") + "\n$";
      const std::string streamed = std::string("^") + d.streamed + (names_file ? path : "") + "\n$";
      EXPECT_EXIT(run_db(path), testing::ExitedWithCode(1), indexed);
      EXPECT_EXIT(run_for_each(path), testing::ExitedWithCode(1), streamed);
      EXPECT_EXIT(run_pull(path), testing::ExitedWithCode(1), streamed);
    }
  }
}

TEST(SffReader, RecordReaderErrorsOnTheirOwn) {
  // The magic with another version never passes detection; sff_open itself
  // refuses it.
  ScratchDir dir;
  std::string golden = ryx_test::hex_fixture("seqio/sff_two_reads_index_end.sff.hex");
  std::string other = golden;
  other[7] = 2;
  const std::string path = dir.file("v2");
  ryx_test::write_file(path, other);
  input_stream_t *in = input_stream_open(path.c_str(), "rb");
  EXPECT_EXIT(sff_open(in, nullptr), testing::ExitedWithCode(1),
              "^Error reading magic number in sff file " + path + "\n$");
  input_stream_close(in);

  // A read cut inside its bases, fetched without indexing first.
  const std::string cut = dir.file("cut");
  ryx_test::write_file(cut, golden.substr(0, 125));
  in = input_stream_open(cut.c_str(), "rb");
  void *state = sff_open(in, nullptr);
  input_stream_seek(in, 88, SEEK_SET);
  seq_record_t *record = seq_record_new_empty();
  EXPECT_EXIT(sff_read(state, in, record, false), testing::ExitedWithCode(1),
              "^Error reading sff bases in file " + cut + "\n$");
  seq_record_free(record);
  sff_free_state(state);
  input_stream_close(in);
}

}  // namespace
