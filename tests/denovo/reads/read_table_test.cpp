// Read table: merging of identical and reversed paths through the path
// hash and its growth, pairs binned or turned by orientation, merging of
// synthetic batches with pair ends moved to the run's paths, finishing, and
// the stage-file piece.
#include "denovo/reads/read_table.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "piece_files.h"
#include "test_support.h"

namespace {

using denovo_reads_test::file_of;
using denovo_reads_test::u64_bytes;
using denovo_reads_test::written_bytes;

constexpr uint32_t R = 0x80000000u;
constexpr uint32_t kFragments = 50;

uint64_t add_path(read_table_t *table, const std::vector<uint32_t> &fragments, const std::vector<int32_t> &distances,
                  bool counted = true) {
  read_info_t *info = table->read_info;
  const uint64_t p =
      counted ? read_info_start_path(info, fragments[0]) : read_info_start_uncounted_path(info, fragments[0]);
  for (size_t i = 1; i < fragments.size(); i++) read_info_add_step(info, distances[i - 1], fragments[i]);
  return p;
}

// A path end names a whole path and the direction it is read in: the
// fragments and distances of that path read in p's direction.
std::vector<int64_t> walk(const read_info_t *info, read_ptr_t p) {
  while (read_info_has_prev(info, p)) p = read_info_get_prev(info, p);
  std::vector<int64_t> out = {read_info_get_fragment(info, p)};
  while (read_info_has_next(info, p)) {
    out.push_back(read_info_get_next_distance(info, p));
    p = read_info_get_next(info, p);
    out.push_back(read_info_get_fragment(info, p));
  }
  return out;
}

TEST(ReadTable, IdenticalAndReversedPathsAreStoredOnce) {
  read_table_t *global = read_table_new(kFragments, nullptr, 1, 4);
  read_table_t *batch = read_table_new_batch(kFragments, nullptr, 0, 4);
  const uint64_t a = add_path(batch, {1, 2 | R, 3}, {5, -2});
  const uint64_t b = add_path(batch, {1, 2 | R, 3}, {5, -2});
  const uint64_t c = add_path(batch, {3 | R, 2, 1 | R}, {-2, 5});
  const uint64_t d = add_path(batch, {1, 2 | R, 3}, {5, -2}, false);
  const uint64_t e = add_path(batch, {9}, {}, false);
  const uint64_t f = add_path(batch, {9 | R}, {});
  read_info_finish(batch->read_info);

  uint64_t length = 0;
  EXPECT_EQ(read_table_insert_path(global, kReadPtrNone, batch, a, &length), 0u);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(read_table_insert_path(global, kReadPtrNone, batch, b, nullptr), 0u);
  EXPECT_EQ(read_table_insert_path(global, kReadPtrNone, batch, c, nullptr), read_ptr_flip(0));
  EXPECT_EQ(read_info_get_count(global->read_info, 0), 3u);
  // A pairs-only read does not raise the count of an equal path...
  EXPECT_EQ(read_table_insert_path(global, kReadPtrNone, batch, d, nullptr), 0u);
  EXPECT_EQ(read_info_get_count(global->read_info, 0), 3u);
  // ... and is stored with count 0 when new; a counted equal path later adds 1.
  EXPECT_EQ(read_table_insert_path(global, kReadPtrNone, batch, e, nullptr), 3u);
  EXPECT_EQ(read_info_get_count(global->read_info, 3), 0u);
  EXPECT_EQ(read_table_insert_path(global, kReadPtrNone, batch, f, nullptr), read_ptr_flip(3));
  EXPECT_EQ(read_info_get_count(global->read_info, 3), 1u);
  EXPECT_EQ(global->path_hash->count, 2u);
  EXPECT_EQ(global->read_info->count, 8u);

  // Cursor walk over the whole batch adds nothing new.
  uint64_t cursor = 0;
  std::vector<read_ptr_t> got;
  while (!read_info_is_end(batch->read_info, cursor)) got.push_back(read_table_insert_next_path(global, batch, &cursor));
  EXPECT_EQ(got, (std::vector<read_ptr_t>{0, 0, read_ptr_flip(0), 0, 3, read_ptr_flip(3)}));
  EXPECT_EQ(read_info_get_count(global->read_info, 0), 6u);
  EXPECT_EQ(global->path_hash->count, 2u);
  read_table_free(batch);
  read_table_free(global);
}

TEST(ReadTable, HashGrowsAtThe513thPathAndKeepsEveryPath) {
  read_table_t *global = read_table_new(2000, nullptr, 1, 4);
  read_table_t *batch = read_table_new_batch(2000, nullptr, 0, 4);
  for (uint32_t i = 0; i < 1100; i++) add_path(batch, {i, (i * 7) % 2000 | R}, {static_cast<int32_t>(i % 9)});
  read_info_finish(batch->read_info);
  uint64_t cursor = 0;
  for (uint32_t i = 0; i < 1100; i++) {
    const read_ptr_t p = read_table_insert_next_path(global, batch, &cursor);
    ASSERT_EQ(p, 2u * i);
    const uint32_t expected_log2 = i < 512 ? 10 : i < 1024 ? 11 : 12;
    ASSERT_EQ(global->path_hash->log2_slots, expected_log2) << i;
  }
  EXPECT_EQ(global->path_hash->count, 1100u);
  // Every path is found again where it was stored, and counted once more.
  cursor = 0;
  for (uint32_t i = 0; i < 1100; i++) ASSERT_EQ(read_table_insert_next_path(global, batch, &cursor), 2u * i);
  EXPECT_EQ(global->path_hash->count, 1100u);
  uint64_t filed = 0;
  for (uint64_t s = 0; s < (UINT64_C(1) << global->path_hash->log2_slots); s++) {
    if (global->path_hash->slots[s] != kPathHashEmpty) filed++;
  }
  EXPECT_EQ(filed, 1100u);
  for (uint32_t i = 0; i < 1100; i++) ASSERT_EQ(read_info_get_count(global->read_info, 2 * i), 2u);

  // Re-filing a position stores it once more without counting it.
  read_table_reinsert_path(global, 0);
  EXPECT_EQ(global->path_hash->count, 1100u);
  filed = 0;
  for (uint64_t s = 0; s < (UINT64_C(1) << global->path_hash->log2_slots); s++) {
    if (global->path_hash->slots[s] == 0) filed++;
  }
  EXPECT_EQ(filed, 2u);
  read_table_free(batch);
  read_table_free(global);
}

TEST(ReadTable, PairsAreBinnedOrTurnedByOrientation) {
  const struct {
    const char *name;
    int orientation;
    read_ptr_t p1;
    uint32_t f1;
    int32_t o1;
    read_ptr_t p2;
    uint32_t f2;
    int32_t o2;
    int64_t bin;  // histogram bin raised, or -1
    int not_counted;
    bool stored;
    uint64_t position1, position2;
    int32_t offset1, offset2;
  } cases[] = {
      {"one fragment, same strand", 1, kReadPtrNone, 4, 10, kReadPtrNone, 4, 250, -1, 1, false, 0, 0, 0, 0},
      {"one fragment, opposite strands", 1, kReadPtrNone, 4, 10, kReadPtrNone, 4 | R, 30, 50000 + 1000 - 40, 0, false,
       0, 0, 0, 0},
      {"ff, same strand", 0, kReadPtrNone, 4 | R, 10, kReadPtrNone, 4 | R, 250, 50000 + 240, 0, false, 0, 0, 0, 0},
      {"end 1 unplaced", 1, kReadPtrNone, kOrientedIdNone, 0, kReadPtrNone, 4, 10, -1, 1, false, 0, 0, 0, 0},
      {"end 2 unplaced", 1, 3, kOrientedIdNone, 0, kReadPtrNone, kOrientedIdNone, 10, -1, 1, false, 0, 0, 0, 0},
      {"fb, two fragments: unchanged", 1, kReadPtrNone, 4, 10, kReadPtrNone, 6 | R, 30, -1, 1, true, 4,
       (UINT64_C(1) << 63) | 6, 10, 30},
      {"ff: end 2 turned", 0, kReadPtrNone, 4, 10, kReadPtrNone, 6 | R, 30, -1, 1, true, 4, 6, 10, 2000 - 30},
      {"bf: both turned", 2, kReadPtrNone, 4, 10, 3, kOrientedIdNone, 30, -1, 1, true, (UINT64_C(1) << 63) | 4,
       kReadPtrReverse | (kFragments + 3), 1000 - 10, 2000 - 30},
      {"bb: end 1 turned", 3, kReadPtrReverse | 2, kOrientedIdNone, 10, kReadPtrNone, 6, 30, -1, 1, true,
       kFragments + 2, 6, 1000 - 10, 30},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    paired_setting_t *s = paired_setting_new(c.orientation, 0, 100, 300);
    read_table_t *batch = read_table_new_batch(kFragments, s, 0, 4);
    read_table_add_pair(batch, c.p1, c.f1, c.o1, 1000, c.p2, c.f2, c.o2, 2000);
    const pair_dist_info_t *h = batch->pair_dist_info[0];
    EXPECT_EQ(h->counted, c.bin >= 0 ? 1 : 0);
    EXPECT_EQ(h->not_counted, c.not_counted);
    if (c.bin >= 0) {
      EXPECT_EQ(h->bins[c.bin], 1);
    }
    ASSERT_EQ(batch->read_pair_info->count, c.stored ? 1u : 0u);
    if (c.stored) {
      const read_pair_t &p = batch->read_pair_info->by_end1[0];
      EXPECT_EQ(p.position1, c.position1);
      EXPECT_EQ(p.position2, c.position2);
      EXPECT_EQ(read_pair_info_get_offset1(&p), c.offset1);
      EXPECT_EQ(read_pair_info_get_offset2(&p), c.offset2);
    }
    read_table_free(batch);
    paired_setting_free(s);
  }
}

// A batch of random reads of one file: paths over few fragments (so that
// batches share paths), and for the paired file one pair per two reads
// whose ends are the reads' paths or fragments.
struct Batch {
  read_table_t *table;
  // For each stored pair end on a path: the walk it denotes.
  std::vector<std::vector<int64_t>> end_walks;
};

Batch make_batch(std::mt19937 &rng, const paired_setting_t *setting, int32_t file) {
  Batch b;
  b.table = read_table_new_batch(kFragments, setting, file, 4);
  std::vector<read_ptr_t> starts;
  for (int i = 0; i < 60; i++) {
    const int n = 1 + static_cast<int>(rng() % 3);
    std::vector<uint32_t> fragments;
    std::vector<int32_t> distances;
    for (int j = 0; j < n; j++) fragments.push_back((rng() % 4) | (rng() % 2 ? R : 0));
    for (int j = 1; j < n; j++) distances.push_back(static_cast<int32_t>(rng() % 3));
    starts.push_back(add_path(b.table, fragments, distances, rng() % 4 != 0));
  }
  read_info_finish(b.table->read_info);
  if (setting == nullptr) return b;
  for (size_t i = 0; i + 1 < starts.size(); i += 2) {
    // Each read is either its path (start, either direction) or lies in a
    // fragment; the ends come in path order, as the mapping adds them.
    auto end = [&](size_t r, read_ptr_t *ptr, oriented_id_t *fragment) {
      if (rng() % 3 == 0) {
        *ptr = kReadPtrNone;
        *fragment = static_cast<uint32_t>(rng() % kFragments);
      } else {
        *ptr = starts[r] | (rng() % 2 ? kReadPtrReverse : 0);
        *fragment = kOrientedIdNone;
      }
    };
    read_ptr_t p1, p2;
    oriented_id_t f1, f2;
    end(i, &p1, &f1);
    end(i + 1, &p2, &f2);
    read_table_add_pair(b.table, p1, f1, 5, 100, p2, f2, 7, 100);
  }
  // What each stored path end denotes, read before the merge moves it.
  read_pair_info_t *pairs = b.table->read_pair_info;
  for (uint64_t i = 0; i < pairs->count; i++) {
    for (read_ptr_t p : {read_pair_info_get_read_ptr1(pairs, &pairs->by_end1[i]),
                         read_pair_info_get_read_ptr2(pairs, &pairs->by_end1[i])}) {
      b.end_walks.push_back(p == kReadPtrNone ? std::vector<int64_t>{} : walk(b.table->read_info, p));
    }
  }
  return b;
}

TEST(ReadTable, MergeOfBatchesMovesPairEndsToTheRunsPaths) {
  std::mt19937 rng(21);
  paired_setting_t *paired = paired_setting_new(1, 0, 100, 300);
  paired_setting_t *settings[] = {nullptr, paired};
  read_table_t *global = read_table_new(kFragments, settings, 2, 4);
  EXPECT_EQ(global->pair_dist_info[0], nullptr);
  ASSERT_NE(global->pair_dist_info[1], nullptr);
  ASSERT_NE(global->end_info->spool, nullptr);

  uint64_t reads = 0, pair_count = 0;
  int32_t not_counted = 0;
  std::vector<std::vector<int64_t>> expected_walks;
  for (int round = 0; round < 4; round++) {
    const bool is_paired = round % 2 == 1;
    Batch b = make_batch(rng, is_paired ? paired : nullptr, is_paired ? 1 : 0);
    for (uint64_t p = 0; !read_info_is_end(b.table->read_info, p); p += read_info_get_path_length(b.table->read_info, p)) {
      reads += read_info_get_count(b.table->read_info, p);
    }
    if (is_paired) {
      pair_count += b.table->read_pair_info->count;
      not_counted += b.table->pair_dist_info[0]->not_counted;
      expected_walks.insert(expected_walks.end(), b.end_walks.begin(), b.end_walks.end());
    }
    const uint8_t tail[] = {255, 1};
    end_info_add(b.table->end_info, static_cast<uint32_t>(round), tail, 2);
    read_table_merge(b.table, global);
    end_info_spool_records(global->end_info->spool, b.table->end_info);
    read_table_free(b.table);
  }
  // Every read went into a stored path's count; equal paths were merged.
  uint64_t counted = 0, paths = 0;
  for (uint64_t p = 0; 2 * p < global->read_info->count; p += read_info_get_path_length(global->read_info, p)) {
    counted += read_info_get_count(global->read_info, p);
    paths++;
  }
  EXPECT_EQ(counted, reads);
  EXPECT_EQ(paths, global->path_hash->count);
  EXPECT_LT(paths, 240u);
  EXPECT_EQ(global->pair_dist_info[1]->not_counted, not_counted);

  // Each path end now names a run path that reads the same way (walked
  // once the run's paths are finished and end in the terminator).
  read_pair_info_t *pairs = global->read_pair_info;
  ASSERT_EQ(pairs->count, pair_count);
  ASSERT_EQ(expected_walks.size(), 2 * pair_count);
  const std::vector<read_pair_t> merged(pairs->by_end1, pairs->by_end1 + pairs->count);
  read_table_finish(global);
  int path_ends = 0;
  for (uint64_t i = 0; i < merged.size(); i++) {
    EXPECT_EQ(read_pair_info_get_db_num(&merged[i]), 1);
    const read_ptr_t ends[] = {read_pair_info_get_read_ptr1(pairs, &merged[i]),
                               read_pair_info_get_read_ptr2(pairs, &merged[i])};
    for (int k = 0; k < 2; k++) {
      const auto &expected = expected_walks[2 * i + static_cast<uint64_t>(k)];
      if (expected.empty()) {
        EXPECT_EQ(ends[k], kReadPtrNone);
        continue;
      }
      ASSERT_NE(ends[k], kReadPtrNone);
      EXPECT_EQ(walk(global->read_info, ends[k]), expected) << i << " " << k;
      path_ends++;
    }
  }
  EXPECT_GT(path_ends, 20);

  EXPECT_EQ(global->path_hash, nullptr);
  EXPECT_NE(global->read_info->offsets, nullptr);
  EXPECT_NE(pairs->by_end2, nullptr);
  end_info_read_temp_file(global->end_info);
  EXPECT_EQ(global->end_info->count, 4);

  testing::internal::CaptureStdout();
  read_table_print_stats(global);
  const std::string stats = testing::internal::GetCapturedStdout();
  EXPECT_NE(stats.find("\nRead info:\n"), std::string::npos);
  EXPECT_NE(stats.find("\nRead pair info:\n"), std::string::npos);
  EXPECT_NE(stats.find("\nEnd info:\n"), std::string::npos);

  read_table_free_reads(global);
  EXPECT_EQ(global->read_info, nullptr);
  EXPECT_EQ(global->pair_dist_info, nullptr);
  EXPECT_EQ(global->read_pair_info, nullptr);
  EXPECT_NE(global->end_info, nullptr);
  read_table_free(global);
  paired_setting_free(paired);
}

TEST(ReadTablePiece, HandWrittenPieceReadsAndWritesBack) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/read_table_no_reads.piece.hex");
  FILE *f = file_of(golden);
  paired_setting_t *none[] = {nullptr, nullptr};
  read_table_t *table = read_table_read(f, 10, none, 2);
  fclose(f);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->file_count, 2);
  EXPECT_EQ(table->read_info, nullptr);
  EXPECT_EQ(table->read_pair_info, nullptr);
  ASSERT_NE(table->path_hash, nullptr);
  EXPECT_EQ(table->path_hash->log2_slots, 1u);
  EXPECT_EQ(table->end_info->count, 0);
  EXPECT_EQ(written_bytes([&](FILE *out) { read_table_write(out, table); }), golden);
  end_info_read_temp_file(table->end_info);
  ASSERT_EQ(table->end_info->count, 1);
  EXPECT_EQ(table->end_info->records[0].id, 2u);
  read_table_free(table);

  // Unknown file count: no checks.
  FILE *g = file_of(golden);
  table = read_table_read(g, 10, nullptr, -1);
  fclose(g);
  EXPECT_EQ(table->file_count, 2);
  read_table_free(table);

  EXPECT_EQ(written_bytes([](FILE *out) { read_table_write(out, nullptr); }), std::string(1, '\0'));
}

TEST(ReadTablePiece, FullTablesRoundTripByteForByte) {
  std::mt19937 rng(8);
  paired_setting_t *paired = paired_setting_new(2, 0, 100, 300);
  paired_setting_t *settings[] = {paired, nullptr};
  for (bool finished : {false, true}) {
    SCOPED_TRACE(finished ? "finished" : "with path hash");
    read_table_t *global = read_table_new(kFragments, settings, 2, 5);
    for (int round = 0; round < 3; round++) {
      Batch b = make_batch(rng, round == 1 ? nullptr : paired, round == 1 ? 1 : 0);
      const uint8_t tail[] = {255, 2, 3, 0};
      end_info_add(b.table->end_info, 7 | R, tail, 4);
      read_table_merge(b.table, global);
      end_info_spool_records(global->end_info->spool, b.table->end_info);
      read_table_free(b.table);
    }
    if (finished) read_table_finish(global);
    const std::string bytes = written_bytes([&](FILE *out) { read_table_write(out, global); });
    // Writing does not change the spool or the tails in memory.
    EXPECT_EQ(global->end_info->count, 0);
    EXPECT_EQ(written_bytes([&](FILE *out) { read_table_write(out, global); }), bytes);
    FILE *f = file_of(bytes);
    read_table_t *back = read_table_read(f, kFragments, settings, 2);
    EXPECT_EQ(fgetc(f), EOF);
    fclose(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->path_hash == nullptr, finished);
    EXPECT_EQ(back->pair_dist_info[0]->setting, paired);
    EXPECT_EQ(back->pair_dist_info[1], nullptr);
    EXPECT_EQ(written_bytes([&](FILE *out) { read_table_write(out, back); }), bytes);
    if (!finished) {
      // A loaded unfinished table goes on merging equal paths.
      const uint64_t before = back->read_info->count;
      read_table_t *again = read_table_new_batch(kFragments, nullptr, 1, 5);
      read_info_copy_path(again->read_info, back->read_info, 0);
      read_info_finish(again->read_info);
      read_table_merge(again, back);
      EXPECT_EQ(back->read_info->count, before);
      read_table_free(again);
    }
    read_table_free(back);
    read_table_free(global);
  }
  paired_setting_free(paired);
}

TEST(ReadTablePiece, DamagedPiecesEndWithAMessageAndStatus1) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/read_table_no_reads.piece.hex");
  paired_setting_t *s = paired_setting_new(1, 0, 100, 300);
  paired_setting_t *none[] = {nullptr, nullptr};
  paired_setting_t *second_paired[] = {nullptr, s};
  // Offsets into the golden piece: the hash flag at 9, its count at 14, the
  // slots at 22.
  std::string bad_slot = golden;
  bad_slot[22] = 0;
  bad_slot[23] = bad_slot[24] = bad_slot[25] = 0;
  std::string bad_count = golden;
  bad_count[14] = 2;
  std::string bad_log2 = golden;
  bad_log2[10] = 60;
  std::string big_log2 = golden;
  big_log2[10] = 40;
  const struct {
    const char *name;
    std::string bytes;
    paired_setting_t *const *settings;
    const char *message;
  } cases[] = {
      {"flag", std::string(1, '\4'), none, "^read_table_read: presence byte is 4, not 0 or 1\n$"},
      {"file count", golden.substr(0, 1) + std::string("\3\0\0\0", 4) + golden.substr(5), none,
       "^Error, read_table_read file_count != table->file_count\n$"},
      {"histogram expected", golden, second_paired,
       "^Error, in read_table_read table->pair_dist_info\\[\\] and pair_par_array not the same\n$"},
      {"slot beyond the paths", bad_slot, none,
       "^read_table_read: hash slot 0 holds position 0 beyond the read paths\n$"},
      {"entry count", bad_count, none, "^read_table_read: 2 paths in a hash of 2 slots\n$"},
      {"slot count", bad_log2, none, "^read_table_read: path hash of 2\\^60 slots\n$"},
      {"slots beyond the file", big_log2, none,
       "^read_table_read: 1099511627776 hash slots do not fit in the 43 bytes left in the file\n$"},
      {"hash flag", golden.substr(0, 9) + "\2", none, "^read_table_read: path hash presence byte is 2, not 0 or 1\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          FILE *f = file_of(c.bytes);
          read_table_read(f, 10, c.settings, 2);
        },
        testing::ExitedWithCode(1), c.message);
  }
  // A hash filled with more paths than it says.
  const std::string hash = std::string(1, '\1') + std::string("\1\0\0\0", 4) + u64_bytes(0) + u64_bytes(5) +
                           u64_bytes(kPathHashEmpty);
  EXPECT_EXIT(
      {
        FILE *f = file_of(hash);
        path_hash_read(f, 10);
      },
      testing::ExitedWithCode(1), "^read_table_read: the hash holds 1 paths, not 0\n$");
  paired_setting_free(s);
}

}  // namespace
