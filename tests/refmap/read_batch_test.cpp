// Read batches and mapping contexts: batch cutting by size, file and class
// window, the pair rules, the temporary-file plan, the batch record against
// hand-written bytes and back through load, fetch and decode, the split of
// reads without hits, and damaged temporary files.
#include "refmap/read_batch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "map_fixture.h"
#include "refmap/map_context.h"

namespace {

using ryx_test::ContextShape;
using ryx_test::make_context;
using ryx_test::make_hit;
using ryx_test::ReadSet;

std::vector<int32_t> read_indexes(const read_batch_t *batch) {
  std::vector<int32_t> out;
  const int32_t step = read_batch_slots_per_read(batch);
  for (int32_t s = 0; s < batch->slot_count; s += step) out.push_back(batch->slots[s].read_index);
  return out;
}

// Takes every batch of the context's first pass: (file index, read indexes).
std::vector<std::pair<int32_t, std::vector<int32_t>>> take_all(map_context_t *context) {
  std::vector<std::pair<int32_t, std::vector<int32_t>>> out;
  while (read_batch_t *batch = map_context_next_batch(context)) {
    EXPECT_EQ(batch->sequence, static_cast<int32_t>(out.size()));
    out.push_back({batch->file_index, read_indexes(batch)});
    read_batch_free(batch);
  }
  return out;
}

std::string file_bytes(FILE *file) {
  fflush(file);
  const long end = ftell(file);
  std::string bytes(static_cast<size_t>(end), '\0');
  rewind(file);
  EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), file), bytes.size());
  return bytes;
}

TEST(ReadBatch, TwelveThousandAndOneReadsMakeThreeBatchesInOneFile) {
  ReadSet reads(std::vector<int32_t>(12001, 30));
  map_context_t *context = make_context(reads.db(), {.file_counts = {12001}});
  EXPECT_EQ(context->file_limit, 1);
  EXPECT_EQ(context->batches_per_file, 4);
  std::vector<int32_t> sizes;
  int32_t expected_first = 0;
  while (read_batch_t *batch = map_context_next_batch(context)) {
    sizes.push_back(batch->read_count);
    EXPECT_EQ(batch->slots[0].read_index, expected_first);
    EXPECT_EQ(batch->slots[batch->read_count - 1].read_index, expected_first + batch->read_count - 1);
    expected_first += batch->read_count;
    read_batch_free(batch);
  }
  EXPECT_EQ(sizes, (std::vector<int32_t>{5000, 5000, 2001}));
  EXPECT_EQ(context->reads_taken, 12001);
  for (int32_t r : {0, 6000, 12000}) EXPECT_TRUE(map_context_has_read(context, r)) << r;
  map_context_free(context);
}

TEST(ReadBatch, BatchesKeepToOneFileAndToTheClassWindow) {
  // File 0 holds no read of [22,30) and gives no batch.
  ReadSet reads({20, 20, 20, 30, 25, 10, 29, 45, 24, 22});
  map_context_t *context = make_context(reads.db(), {.file_counts = {3, 4, 3}, .class_lower = 22, .class_upper = 30});
  auto batches = take_all(context);
  using Batches = std::vector<std::pair<int32_t, std::vector<int32_t>>>;
  EXPECT_EQ(batches, (Batches{{1, {4, 6}}, {2, {8, 9}}}));
  EXPECT_EQ(context->reads_taken, 4);
  EXPECT_FALSE(map_context_has_read(context, 3));
  map_context_free(context);

  // A small batch size cuts inside a file, never across.
  context = make_context(reads.db(), {.file_counts = {3, 4, 3}, .batch_size = 2});
  EXPECT_EQ(take_all(context), (Batches{{0, {0, 1}}, {0, {2}}, {1, {3, 4}}, {1, {6}}, {2, {7, 8}}, {2, {9}}}));
  map_context_free(context);
}

TEST(ReadBatch, PairsBelongToTheClassOfTheirShorterPresentRead) {
  // Pairs: (12,30) (20,35) (60,10) (30,30) (22,56) (30,12).
  ReadSet reads({12, 30, 20, 35, 60, 10, 30, 30, 22, 56, 30, 12});
  paired_setting_t *setting = paired_setting_new(1, 0, 180, 250);
  struct Case {
    int32_t lower, upper;
    std::vector<int32_t> reads;
  };
  const Case cases[] = {
      {15, 22, {2, 3}},
      {22, 30, {8, 9}},
      {30, 40, {0, 1, 6, 7, 10, 11}},
      {40, 56, {}},
  };
  for (const Case &c : cases) {
    map_context_t *context = make_context(
        reads.db(), {.file_counts = {12}, .settings = {setting}, .class_lower = c.lower, .class_upper = c.upper});
    std::vector<int32_t> taken;
    std::vector<int32_t> absent;
    while (read_batch_t *batch = map_context_next_batch(context)) {
      EXPECT_EQ(read_batch_slots_per_read(batch), 2);
      EXPECT_EQ(batch->slot_count, 2 * batch->read_count);
      EXPECT_EQ(batch->setting, setting);
      for (int32_t s = 0; s < batch->slot_count; s += 2) {
        // Single and pair slot share the read and its index.
        EXPECT_EQ(batch->slots[s].read, batch->slots[s + 1].read);
        EXPECT_EQ(batch->slots[s].read_index, batch->slots[s + 1].read_index);
        taken.push_back(batch->slots[s].read_index);
        if (batch->slots[s].read == nullptr) absent.push_back(batch->slots[s].read_index);
      }
      read_batch_free(batch);
    }
    EXPECT_EQ(taken, c.reads) << c.lower;
    const std::vector<int32_t> no_read = c.lower == 30 ? std::vector<int32_t>{0, 11}
                                       : c.lower == 22 ? std::vector<int32_t>{9}
                                                       : std::vector<int32_t>{};
    EXPECT_EQ(absent, no_read) << c.lower;
    for (int32_t r : c.reads) EXPECT_TRUE(map_context_has_read(context, r));
    EXPECT_EQ(context->reads_taken, static_cast<int32_t>(c.reads.size()));
    map_context_free(context);
  }
  paired_setting_free(setting);
}

TEST(ReadBatch, TemporaryFilePlanSpreadsBatchesOverAtMostEightFiles) {
  struct Case {
    int32_t reads, files, batch_size, file_limit, per_file;
  };
  const Case cases[] = {
      {12001, 1, 5000, 1, 4},   // bound 4
      {50000, 1, 5000, 2, 6},   // bound 11: (11 + 9) / 10 = 2 files
      {1000, 1, 10, 8, 13},     // bound 101: capped at 8 files
      {100, 2, 50, 1, 4},       // bound 2 + 2 files
      {0, 1, 5000, 1, 1},
  };
  for (const Case &c : cases) {
    ReadSet reads(std::vector<int32_t>(c.reads, 20));
    std::vector<int32_t> counts(c.files, c.reads / c.files);
    map_context_t *context = make_context(reads.db(), {.file_counts = counts, .batch_size = c.batch_size});
    EXPECT_EQ(context->file_limit, c.file_limit) << c.reads;
    EXPECT_EQ(context->batches_per_file, c.per_file) << c.reads;
    map_context_free(context);
  }
}

// One pair of 30-base reads in a paired file; read 1 has a hit, read 2 only
// a score; the batch bitset marks read 1.
struct PairedBatchBench {
  PairedBatchBench() : reads({30, 30}) {
    setting = paired_setting_new(1, 0, 100, 300);
    context = make_context(reads.db(), {.file_counts = {2}, .settings = {setting}, .report_limit = 1,
                                        .reference_count = 4, .longest_reference = 200});
  }
  ~PairedBatchBench() {
    map_context_free(context);
    paired_setting_free(setting);
  }
  ReadSet reads;
  paired_setting_t *setting;
  map_context_t *context;
};

TEST(ReadBatch, BatchRecordMatchesTheLayoutAndReadsBack) {
  ryx_test::TempDirScope tmp;
  PairedBatchBench b;
  read_batch_t *batch = map_context_next_batch(b.context);
  ASSERT_NE(batch, nullptr);
  read_batch_fetch(b.context, batch);  // nothing to do on the first pass
  read_batch_decode(b.context, batch);
  ASSERT_EQ(batch->slot_count, 4);
  // Reverse complement of read 0 (codes j mod 4): code 3 - ((29 - j) mod 4).
  ASSERT_NE(batch->slots[0].reverse, nullptr);
  EXPECT_EQ(batch->slots[0].reverse->residues[0], 3 - (29 % 4));
  EXPECT_EQ(batch->slots[1].reverse, nullptr);
  EXPECT_EQ(batch->has_hits, nullptr) << "first-pass batches carry no bitset";
  std::vector<uint8_t> code = {0x1D};
  alignment_hit_t hit = make_hit(2, 100, 0, code);
  alignment_info_raise_score(&batch->slots[0], 30);
  alignment_info_add_hit(batch, &batch->slots[0], &hit, 1);
  alignment_info_raise_score(&batch->slots[2], 20);
  batch->has_hits = bit_set_new(2);
  bit_set_set(batch->has_hits, 0);
  read_batch_encode(b.context, batch);
  EXPECT_EQ(batch->slots, nullptr);
  EXPECT_EQ(batch->arena, nullptr);
  read_batch_write(b.context, batch, 1);
  ASSERT_EQ(b.context->output_count, 1);
  EXPECT_EQ(map_context_next_batch(b.context), nullptr);

  const std::string expected = ryx_test::hex_bytes(
      "0D 00 00 00  02 00 00 00  00 00 00 00"  // encoded length 13, 2 reads, file 0
      "01 01"                                  // bitset follows: read 0 has hits
      "01 00 1E 02 64 00 01 1D"                // read 1 single: 1 hit, score 30, ref 2, offset 100, code
      "00"                                     // read 1 pair: empty
      "01 40 14"                               // read 2 single: score 20 only
      "00");                                   // read 2 pair: empty
  EXPECT_EQ(file_bytes(b.context->outputs[0]), expected);
  EXPECT_TRUE(tmp.entries().empty()) << "temporary files are unlinked at once";

  map_context_swap_temp_files(b.context, 0);
  b.context->first_pass = 0;
  read_batch_t *back = map_context_next_batch(b.context);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->read_count, 2);
  EXPECT_EQ(back->setting, b.setting);
  EXPECT_EQ(read_batch_has_hits(back, 0), 1);
  EXPECT_EQ(read_batch_has_hits(back, 1), 0);
  read_batch_fetch(b.context, back);
  EXPECT_EQ(back->slots[0].read_index, 0);
  EXPECT_EQ(back->slots[2].read_index, 1);
  EXPECT_EQ(back->slots[3].read, back->slots[2].read);
  ASSERT_NE(back->slots[2].read, nullptr);
  read_batch_decode(b.context, back);
  EXPECT_EQ(back->slots[0].hit_count, 1);
  EXPECT_EQ(back->slots[0].best_score, 30);
  EXPECT_EQ(back->slots[0].hits[0]->sequence, 2);
  EXPECT_EQ(back->slots[0].hits[0]->offset, 100);
  EXPECT_EQ(back->slots[1].hit_count, 0);
  EXPECT_EQ(back->slots[2].hit_count, 0);
  EXPECT_EQ(back->slots[2].best_score, 20);
  EXPECT_EQ(back->encoded, nullptr);
  EXPECT_EQ(b.context->inputs[0], nullptr) << "a file is closed after its last batch";
  read_batch_free(back);
  EXPECT_EQ(map_context_next_batch(b.context), nullptr);
}

TEST(ReadBatch, LaterPassesMarkPairedReadsThatHaveHits) {
  ryx_test::TempDirScope tmp;
  PairedBatchBench b;
  read_batch_t *batch = map_context_next_batch(b.context);
  read_batch_decode(b.context, batch);
  std::vector<uint8_t> code = {0x1D};
  alignment_hit_t hit = make_hit(1, 5, 1, code);
  alignment_info_add_hit(batch, &batch->slots[2], &hit, 1);  // read 2 only
  read_batch_encode(b.context, batch);
  read_batch_write(b.context, batch, 1);  // no bitset yet: flag 0
  EXPECT_EQ(file_bytes(b.context->outputs[0]).substr(12, 1), std::string(1, '\0'));
  map_context_swap_temp_files(b.context, 0);
  b.context->first_pass = 0;
  read_batch_t *back = map_context_next_batch(b.context);
  read_batch_fetch(b.context, back);
  read_batch_decode(b.context, back);
  ASSERT_NE(back->has_hits, nullptr);
  EXPECT_EQ(read_batch_has_hits(back, 0), 0);
  EXPECT_EQ(read_batch_has_hits(back, 1), 1);
  read_batch_free(back);
}

TEST(ReadBatch, ReadsWithoutHitsMoveToTheNextLevel) {
  ryx_test::TempDirScope tmp;
  ReadSet reads({30, 30, 30, 30, 30, 30, 30, 30});
  map_context_t *context = make_context(reads.db(), {.file_counts = {5, 3}, .report_limit = 2});
  map_context_t *next = map_context_new_next_pass(context);
  EXPECT_EQ(next->first_pass, 0);
  std::vector<uint8_t> code = {0x1D};
  read_batch_t *partial = nullptr;
  std::vector<int32_t> mapped = {1, 3, 6};
  while (read_batch_t *batch = map_context_next_batch(context)) {
    read_batch_decode(context, batch);
    for (int32_t r = 0; r < batch->read_count; r++) {
      const int32_t index = batch->slots[r].read_index;
      if (std::find(mapped.begin(), mapped.end(), index) == mapped.end()) continue;
      alignment_hit_t hit = make_hit(index % 4, index, 0, code);
      alignment_info_add_hit(batch, &batch->slots[r], &hit, 2);
    }
    partial = read_batch_split_unmapped(next, batch, partial);
    // Moved slots are left empty, mapped ones untouched.
    for (int32_t r = 0; r < batch->read_count; r++) {
      const bool hit = batch->slots[r].hit_count > 0;
      EXPECT_EQ(batch->slots[r].read != nullptr, hit) << batch->slots[r].read_index;
    }
    read_batch_free(batch);
  }
  // The partial batch of file 0 was written when file 1's batch came.
  EXPECT_EQ(next->batches_written, 1);
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(partial->file_index, 1);
  EXPECT_EQ(read_indexes(partial), (std::vector<int32_t>{5, 7}));
  // The moved reads go along; their reverse complements are made again
  // when the next level decodes the batch.
  ASSERT_NE(partial->slots[0].read, nullptr);
  map_context_flush_next_pass(next, partial);
  EXPECT_EQ(next->total_batches, 2);
  EXPECT_EQ(next->reads_taken, 5);
  for (int32_t r = 0; r < 8; r++) {
    const bool moved = std::find(mapped.begin(), mapped.end(), r) == mapped.end();
    EXPECT_EQ(map_context_has_read(next, r), moved ? 1 : 0) << r;
  }
  using Batches = std::vector<std::pair<int32_t, std::vector<int32_t>>>;
  Batches back;
  while (read_batch_t *batch = map_context_next_batch(next)) {
    read_batch_fetch(next, batch);
    read_batch_decode(next, batch);
    back.push_back({batch->file_index, read_indexes(batch)});
    for (int32_t r = 0; r < batch->read_count; r++) {
      EXPECT_NE(batch->slots[r].read, nullptr);
      EXPECT_NE(batch->slots[r].reverse, nullptr);
      EXPECT_EQ(batch->slots[r].read->residues[0], batch->slots[r].read_index % 4) << "the read of its index";
    }
    read_batch_free(batch);
  }
  EXPECT_EQ(back, (Batches{{0, {0, 2, 4}}, {1, {5, 7}}}));
  map_context_free(next);
  map_context_free(context);
}

// Reads that move to the next level travel in their batch record (flag
// bit 1, then the reads section after the slots), laid out as the record
// layout says, and a later pass takes them from there: a record whose
// reads differ from the read file's gives its own reads back.
TEST(ReadBatch, MovedReadsTravelInTheirRecord) {
  ryx_test::TempDirScope tmp;
  ReadSet reads({16, 17});
  map_context_t *context = make_context(reads.db(), {.file_counts = {2}});
  map_context_t *next = map_context_new_next_pass(context);
  read_batch_t *batch = map_context_next_batch(context);
  read_batch_decode(context, batch);
  read_batch_t *partial = read_batch_split_unmapped(next, batch, nullptr);
  read_batch_free(batch);
  read_batch_encode(next, partial, true);
  read_batch_write(next, partial, 0);
  std::string want = ryx_test::hex_bytes(
      "02 00 00 00  02 00 00 00  00 00 00 00"  // encoded length 2, 2 reads, file 0
      "02"                                     // no bitset, the reads follow
      "00 00"                                  // two empty slots
      "23 00 00 00"                            // reads section of 35 bytes
      "10");                                   // read 0: 16 codes (i + j) mod 4
  for (int j = 0; j < 16; j++) want += static_cast<char>(j % 4);
  want += static_cast<char>(17);
  for (int j = 0; j < 17; j++) want += static_cast<char>((1 + j) % 4);
  EXPECT_EQ(file_bytes(next->outputs[0]), want);
  map_context_free(next);
  map_context_free(context);

  // Back from a hand-made record: an absent read, then a read of three codes
  // unlike the read file's.
  map_context_t *later = make_context(reads.db(), {.file_counts = {2}, .batch_size = 5});
  FILE *file = tmpfile();
  const std::string record = ryx_test::hex_bytes("02 00 00 00 02 00 00 00 00 00 00 00 02 00 00 05 00 00 00 FF 03 02 01 00");
  fwrite(record.data(), 1, record.size(), file);
  rewind(file);
  map_context_swap_temp_files(later, 0);
  later->inputs[0] = file;
  later->total_batches = 1;
  later->first_pass = 0;
  map_context_mark_read(later, 0);
  map_context_mark_read(later, 1);
  read_batch_t *back = map_context_next_batch(later);
  read_batch_fetch(later, back);
  EXPECT_EQ(back->slots[0].read, nullptr);
  ASSERT_NE(back->slots[1].read, nullptr);
  EXPECT_EQ(back->slots[1].read_index, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(back->slots[1].read->residues), back->slots[1].read->length),
            std::string("\x02\x01\x00", 3));
  EXPECT_EQ(back->stored_reads, nullptr);
  read_batch_free(back);
  map_context_free(later);
}

TEST(ReadBatch, PairsMoveWholeAndFullPartialBatchesAreWritten) {
  ryx_test::TempDirScope tmp;
  ReadSet reads(std::vector<int32_t>(12, 30));
  paired_setting_t *setting = paired_setting_new(0, 0, 0, 500);
  map_context_t *context =
      make_context(reads.db(), {.file_counts = {12}, .settings = {setting}, .report_limit = 3, .batch_size = 4});
  map_context_t *next = map_context_new_next_pass(context);
  std::vector<uint8_t> code = {0x1D};
  // Pair k = reads 2k, 2k + 1. Pairs 0 and 4: both mapped; pair 1: read 1
  // only; the rest: neither.
  auto mapped = [](int32_t r) { return r == 0 || r == 1 || r == 8 || r == 9 || r == 2; };
  read_batch_t *partial = nullptr;
  while (read_batch_t *batch = map_context_next_batch(context)) {
    read_batch_decode(context, batch);
    for (int32_t r = 0; r < batch->read_count; r++) {
      alignment_info_t *single = read_batch_single_slot(batch, r);
      if (!mapped(single->read_index)) continue;
      alignment_hit_t hit = make_hit(0, single->read_index, 0, code);
      alignment_info_add_hit(batch, single, &hit, 3);
    }
    partial = read_batch_split_unmapped(next, batch, partial);
    read_batch_free(batch);
  }
  // Moved: pairs 1, 2, 3, 5 = 8 reads; batches of 4 reads are written full.
  EXPECT_EQ(next->batches_written, 2);
  EXPECT_EQ(partial, nullptr);
  map_context_flush_next_pass(next, partial);
  std::vector<int32_t> moved;
  while (read_batch_t *batch = map_context_next_batch(next)) {
    read_batch_fetch(next, batch);
    read_batch_decode(next, batch);
    EXPECT_EQ(batch->slot_count, 8);
    for (int32_t s = 0; s < batch->slot_count; s += 2) {
      moved.push_back(batch->slots[s].read_index);
      if (batch->slots[s].read_index == 2) {
        EXPECT_EQ(batch->slots[s].hit_count, 1) << "the mapped read of a moved pair keeps its hit";
        EXPECT_EQ(batch->slots[s].hits[0]->offset, 2);
      }
    }
    read_batch_free(batch);
  }
  EXPECT_EQ(moved, (std::vector<int32_t>{2, 3, 4, 5, 6, 7, 10, 11}));
  map_context_free(next);
  map_context_free(context);
  paired_setting_free(setting);
}

TEST(ReadBatch, TemporaryFilesAreClosedAsSoonAsTheyAreRead) {
  ryx_test::TempDirScope tmp;
  ReadSet reads(std::vector<int32_t>(1000, 20));
  map_context_t *context = make_context(reads.db(), {.file_counts = {1000}, .batch_size = 10});
  const int base = ryx_test::open_descriptor_count();
  for (int pass = 0; pass < 3; pass++) {
    int32_t batches = 0;
    while (read_batch_t *batch = map_context_next_batch(context)) {
      read_batch_fetch(context, batch);
      read_batch_decode(context, batch);
      read_batch_encode(context, batch);
      read_batch_write(context, batch, 1);
      batches++;
    }
    EXPECT_EQ(batches, 100);
    EXPECT_EQ(context->output_count, 8);
    EXPECT_EQ(ryx_test::open_descriptor_count(), base + 8) << "inputs closed, outputs open";
    map_context_swap_temp_files(context, 0);
    context->first_pass = 0;
    EXPECT_TRUE(tmp.entries().empty());
  }
  map_context_free(context);
  EXPECT_EQ(ryx_test::open_descriptor_count(), base);
}

// A context whose first input file holds the given bytes.
void load_from(map_context_t *context, const std::string &bytes, int32_t total) {
  FILE *file = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), file);
  rewind(file);
  map_context_swap_temp_files(context, 0);
  context->inputs[0] = file;
  context->total_batches = total;
  context->first_pass = 0;
  // Every read is in the pass, so that only the record can be at fault.
  for (int32_t r = context->first_read; r < context->end_read; r++) map_context_mark_read(context, r);
  read_batch_t *batch = map_context_next_batch(context);
  read_batch_fetch(context, batch);
  read_batch_decode(context, batch);
  read_batch_free(batch);
}

TEST(ReadBatchDeathTest, DamagedTemporaryFilesStop) {
  ReadSet reads({30, 30});
  struct Case {
    const char *hex;
    const char *message;
  };
  const Case cases[] = {
      {"03 00 00 00 01 00 00 00 00 00 00 00 00 01", "Error reading file: early termination"},
      {"01 00 00 00 00 00 00", "Error reading file: early termination"},
      {"01 00 00 00 00 00 00 00 00 00 00 00 00 00", "Error reading temporary file"},   // no reads
      {"01 00 00 00 09 00 00 00 00 00 00 00 00 00", "Error reading temporary file"},   // more than the context holds
      {"01 00 00 00 01 00 00 00 05 00 00 00 00 00", "Error reading temporary file"},   // unknown read file
      {"02 00 00 00 01 00 00 00 00 00 00 00 00 00 00", "Error reading temporary file"},  // slot bytes left over
      {"01 00 00 00 01 00 00 00 00 00 00 00 04 00", "Error reading temporary file"},     // an unknown flag
      {"01 00 00 00 01 00 00 00 00 00 00 00 02 00 00 01 00 00", "Error reading temporary file"},  // more than 255 bytes a read
      {"01 00 00 00 01 00 00 00 00 00 00 00 02 00 04 00 00 00 03 00", "Error reading file: early termination"},
      {"01 00 00 00 01 00 00 00 00 00 00 00 02 00 02 00 00 00 03 00", "Error reading temporary file"},  // a read cut short
      {"01 00 00 00 01 00 00 00 00 00 00 00 02 00 03 00 00 00 01 00 00", "Error reading temporary file"},  // bytes left over
  };
  for (const Case &c : cases) {
    map_context_t *context = make_context(reads.db(), {.file_counts = {2}, .batch_size = 5});
    EXPECT_EXIT(load_from(context, ryx_test::hex_bytes(c.hex), 1), testing::ExitedWithCode(1), c.message) << c.hex;
    map_context_free(context);
  }
}

}  // namespace
