// Per-read nyr records: the record bytes against hand-written ones (one
// hit, a counted single hit, 300 references), the repeat mode, pairs
// reported in the same order in both mates' records, single hits of reads
// without a valid pair, and every record read back by the nyr reader.
#include "refmap/map_result.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "common/chunk_arena.h"
#include "common/input_stream.h"
#include "map_fixture.h"
#include "seqio/nyr_hit.h"

namespace {

using ryx_test::make_hit;

// Records written to memory.
class RecordSink {
 public:
  RecordSink() { file_ = open_memstream(&buffer_, &size_); }
  ~RecordSink() {
    if (file_ != nullptr) fclose(file_);
    free(buffer_);
  }
  FILE *file() { return file_; }
  std::string bytes() {
    fflush(file_);
    return std::string(buffer_, size_);
  }

 private:
  FILE *file_ = nullptr;
  char *buffer_ = nullptr;
  size_t size_ = 0;
};

// A paired batch of one pair of 30-base reads (slots S1 P1 S2 P2) in a
// context over 300 references of at most 60,000 bases.
struct PairBench {
  explicit PairBench(int32_t report_limit, int32_t references = 300, int32_t longest = 60000)
      : reads({30, 30}) {
    setting = paired_setting_new(1, 0, 100, 400);
    context = ryx_test::make_context(reads.db(), {.file_counts = {2},
                                                  .settings = {setting},
                                                  .report_limit = report_limit,
                                                  .reference_count = references,
                                                  .longest_reference = longest});
    batch = map_context_next_batch(context);
    read_batch_decode(context, batch);
    writer = map_writer_context_new(references, longest, 0, nullptr, sink.file());
  }
  ~PairBench() {
    map_writer_context_free(writer);
    read_batch_free(batch);
    map_context_free(context);
    paired_setting_free(setting);
  }
  alignment_info_t *slot(int i) { return &batch->slots[i]; }
  void add(int i, int32_t sequence, int32_t offset, uint8_t flags) {
    codes.push_back({0x1D});
    alignment_hit_t hit = make_hit(sequence, offset, flags, codes.back());
    alignment_info_add_hit(batch, slot(i), &hit, context->report_limit);
  }
  std::string write(int slot_index, int32_t kind) {
    const size_t before = sink.bytes().size();
    map_result_write_read(context, slot(slot_index), kind, writer);
    return sink.bytes().substr(before);
  }

  ryx_test::ReadSet reads;
  paired_setting_t *setting;
  map_context_t *context;
  read_batch_t *batch;
  RecordSink sink;
  map_writer_context_t *writer;
  std::list<std::vector<uint8_t>> codes;
};

// Reads every record of bytes back with the nyr reader (all hits).
std::vector<std::vector<nyr_match_t>> read_back(const std::string &bytes, size_t records, uint32_t contigs,
                                                uint32_t longest) {
  FILE *file = fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "rb");
  input_stream_t *stream = input_stream_new_file(file);
  chunk_arena_t *arena = chunk_arena_new();
  std::vector<std::vector<nyr_match_t>> out;
  for (size_t r = 0; r < records; r++) {
    std::vector<nyr_match_t> hits;
    for (nyr_match_t *h = nyr_match_read_all(3, stream, arena, contigs, longest, nullptr, -1); h != nullptr;
         h = nyr_match_next_hit(h)) {
      hits.push_back(*h);
    }
    out.push_back(hits);
  }
  EXPECT_EQ(input_stream_getc(stream), -1) << "every byte belongs to a record";
  chunk_arena_free(arena);
  input_stream_close(stream);
  return out;
}

TEST(MapResult, RecordsOfSingleHitsMatchTheLayout) {
  struct Case {
    const char *name;
    int32_t report_limit;
    int32_t hits;
    bool reduce;
    int32_t repeat_ignore;
    const char *hex;
  };
  // Every hit: reference 299, position 40,000, reverse, code 1D; 300
  // references take 2 bytes, positions below 65,537 too.
  const Case cases[] = {
      {"one hit", 1, 1, false, 0, "01  01 2B01 409C 01 1D"},
      {"R = 1 and three best hits", 1, 3, true, 0, "03 01  01 2B01 409C 01 1D"},
      {"the same, repeat mode ignore", 1, 3, true, 1, "00"},
      {"R = 2 and three hits", 2, 3, true, 0, "07 01 00  01 2B01 409C 01 1D  01 2B01 409C 01 1D"},
      {"repeat ignore within the limit", 2, 2, false, 1, "07 00 00  01 2B01 409C 01 1D  01 2B01 409C 01 1D"},
      {"R = 0 reports nothing", 0, 2, false, 0, "00"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ryx_test::ReadSet reads({30});
    map_context_t *context = ryx_test::make_context(
        reads.db(), {.file_counts = {1}, .report_limit = c.report_limit, .reference_count = 300, .longest_reference = 60000});
    read_batch_t *batch = map_context_next_batch(context);
    read_batch_decode(context, batch);
    std::vector<uint8_t> code = {0x1D};
    for (int i = 0; i < c.hits; i++) {
      alignment_hit_t hit = make_hit(299, 40000, 1, code);
      alignment_info_add_hit(batch, &batch->slots[0], &hit, c.report_limit);
    }
    if (c.reduce) alignment_info_reduce(batch, &batch->slots[0], c.report_limit);
    RecordSink sink;
    map_writer_context_t *writer = map_writer_context_new(300, 60000, c.repeat_ignore, nullptr, sink.file());
    map_result_write_read(context, &batch->slots[0], kMapReadUnpaired, writer);
    const std::string bytes = sink.bytes();
    EXPECT_EQ(bytes, ryx_test::hex_bytes(c.hex));
    const auto back = read_back(bytes, 1, 300, 60000);
    if (bytes != std::string(1, '\0')) {
      ASSERT_FALSE(back[0].empty());
      EXPECT_EQ(uint32_t(back[0][0].contig), 299u);
      EXPECT_EQ(uint32_t(back[0][0].position), 40000u);
      EXPECT_EQ(nyr_match_get_count(&back[0][0]), static_cast<uint64_t>(c.hits));
      EXPECT_TRUE(nyr_match_is_reverse(&back[0][0]));
    }
    map_writer_context_free(writer);
    read_batch_free(batch);
    map_context_free(context);
  }
}

TEST(MapResult, AbsentAndUnmappedReadsAreOneZeroByte) {
  PairBench b(3);
  EXPECT_EQ(b.write(0, kMapReadFirst), std::string(1, '\0'));
  RecordSink sink;
  map_writer_context_t *writer = map_writer_context_new(4, 100, 0, nullptr, sink.file());
  map_result_write_read(nullptr, nullptr, kMapReadUnpaired, writer);
  EXPECT_EQ(sink.bytes(), std::string(1, '\0'));
  map_writer_context_free(writer);
}

TEST(MapResult, PairHalvesAreReportedAtTheSamePlacesInBothRecords) {
  // R = 10 and three pairs: read 1 flags 15, total 1, reported 1, then its
  // halves in random order; read 2's record in the same order.
  srand(12345);
  std::set<std::vector<uint32_t>> orders;
  for (int round = 0; round < 40; round++) {
    PairBench b(10);
    for (int k = 0; k < 3; k++) {
      b.add(0, k, 100 + k, 0);
      b.add(2, k, 300 + k, 1);
      b.add(1, k, 100 + k, 0);
      b.add(3, k, 300 + k, 1);
    }
    b.add(0, 7, 7000, 0);  // a single hit of read 1 without a partner
    const std::string first = b.write(0, kMapReadFirst);
    const std::string second = b.write(2, kMapReadSecond);
    ASSERT_EQ(first.substr(0, 3), ryx_test::hex_bytes("0F 01 01"));
    ASSERT_EQ(second.substr(0, 3), ryx_test::hex_bytes("0F 01 01"));
    const auto back = read_back(first + second, 2, 300, 60000);
    ASSERT_EQ(back[0].size(), 3u);
    ASSERT_EQ(back[1].size(), 3u);
    std::vector<uint32_t> order;
    for (int i = 0; i < 3; i++) {
      EXPECT_TRUE(nyr_match_is_paired(&back[0][i]));
      EXPECT_EQ(uint32_t(back[0][i].contig), uint32_t(back[1][i].contig)) << "halves of one pair at place " << i;
      EXPECT_EQ(uint32_t(back[0][i].position) + 200, uint32_t(back[1][i].position));
      EXPECT_FALSE(nyr_match_is_reverse(&back[0][i]));
      EXPECT_TRUE(nyr_match_is_reverse(&back[1][i]));
      order.push_back(uint32_t(back[0][i].contig));
    }
    orders.insert(order);
  }
  EXPECT_GT(orders.size(), 3u) << "the pairs are reported in random order";
}

TEST(MapResult, ReadsWithoutAValidPairReportTheirSingleHits) {
  PairBench b(2);
  b.add(0, 4, 10, 0);
  b.add(2, 5, 20, 0);
  b.add(2, 6, 30, 1);
  b.add(2, 6, 40, 1);
  srand(7);
  const std::string first = b.write(0, kMapReadFirst);
  const std::string second = b.write(2, kMapReadSecond);
  EXPECT_EQ(first, ryx_test::hex_bytes("01  01 0400 0A00 00 1D"));
  // Three hits, two reported, in a random order of the stored ones.
  ASSERT_EQ(second.substr(0, 3), ryx_test::hex_bytes("07 01 00"));
  const auto back = read_back(first + second, 2, 300, 60000);
  ASSERT_EQ(back[1].size(), 2u);
  std::set<uint32_t> positions;
  for (const nyr_match_t &h : back[1]) {
    positions.insert(uint32_t(h.position));
    EXPECT_FALSE(nyr_match_is_paired(&h));
  }
  EXPECT_EQ(positions.size(), 2u);
}

TEST(MapResult, FieldWidthsFollowTheReferenceSet) {
  struct Case {
    int32_t references, longest;
    const char *hex;
  };
  const Case cases[] = {
      {1, 1, "01 01 00 1D"},                 // no reference index, no position
      {256, 256, "01 01 05 09 00 1D"},
      {257, 65537, "01 01 0500 090000 00 1D"},
  };
  for (const Case &c : cases) {
    PairBench b(1, c.references, c.longest);
    b.add(0, c.references == 1 ? 0 : 5, c.longest == 1 ? 0 : 9, 0);
    EXPECT_EQ(b.write(0, kMapReadFirst), ryx_test::hex_bytes(c.hex)) << c.references;
  }
}

TEST(MapResult, ShuffleReportsEveryStoredHitWithEqualChance) {
  // Stored 4, reported 1: each hit comes first about a quarter of the time.
  srand(99);
  int first[4] = {0, 0, 0, 0};
  PairBench b(4);
  for (int k = 0; k < 4; k++) b.add(0, k, k, 0);
  for (int t = 0; t < 4000; t++) {
    map_result_shuffle_hits(b.slot(0), nullptr, 1, 4);
    first[b.slot(0)->hits[0]->sequence]++;
  }
  for (int k = 0; k < 4; k++) {
    EXPECT_GT(first[k], 800) << k;
    EXPECT_LT(first[k], 1200) << k;
  }
}

}  // namespace
