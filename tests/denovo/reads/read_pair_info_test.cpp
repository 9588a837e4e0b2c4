// Read pair info: end encoding, file index stamps, merging, both sort
// orders against a plain model, range searches, prints and the stage-file
// piece.
#include "denovo/reads/read_pair_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "piece_files.h"
#include "test_support.h"

namespace {

using denovo_reads_test::file_of;
using denovo_reads_test::pipe_of;
using denovo_reads_test::u64_bytes;
using denovo_reads_test::written_bytes;

constexpr uint32_t R = 0x80000000u;

TEST(ReadPairInfo, EncodesFragmentAndPathEnds) {
  read_pair_info_t *info = read_pair_info_new(100);
  EXPECT_EQ(info->capacity, 1024u);
  EXPECT_EQ(info->by_end2, nullptr);
  read_pair_info_add(info, kReadPtrNone, 5 | R, 17, 12, kOrientedIdNone, -3);
  const read_pair_t *pair = &info->by_end1[0];
  EXPECT_EQ(pair->position1, (UINT64_C(1) << 63) | 5);
  EXPECT_EQ(pair->position2, 112u);
  EXPECT_EQ(read_pair_info_get_fragment1(info, pair), 5 | R);
  EXPECT_EQ(read_pair_info_get_read_ptr1(info, pair), kReadPtrNone);
  EXPECT_EQ(read_pair_info_get_fragment2(info, pair), kOrientedIdNone);
  EXPECT_EQ(read_pair_info_get_read_ptr2(info, pair), 12u);
  EXPECT_EQ(read_pair_info_get_offset1(pair), 17);
  EXPECT_EQ(read_pair_info_get_offset2(pair), -3);
  EXPECT_EQ(read_pair_info_get_db_num(pair), 0);

  read_pair_info_add(info, kReadPtrReverse | 7, 3, 0, kReadPtrNone, 99, 0);
  pair = &info->by_end1[1];
  EXPECT_EQ(pair->position1, kReadPtrReverse | 107);
  EXPECT_EQ(read_pair_info_get_read_ptr1(info, pair), kReadPtrReverse | 7);
  EXPECT_EQ(read_pair_info_get_fragment1(info, pair), kOrientedIdNone);
  EXPECT_EQ(read_pair_info_get_fragment2(info, pair), 99u);

  // The bare position helpers agree.
  EXPECT_EQ(read_pair_position_from_fragment(100, 5 | R), (UINT64_C(1) << 63) | 5);
  EXPECT_EQ(read_pair_position_from_read_ptr(100, kReadPtrReverse | 7), kReadPtrReverse | 107);
  EXPECT_EQ(read_pair_position_to_fragment(100, 99), 99u);
  EXPECT_EQ(read_pair_position_to_read_ptr(100, 100), 0u);
  uint64_t position = 0;
  read_pair_position_from_read_ptr_to(100, 4, &position);
  EXPECT_EQ(position, 104u);
  read_pair_position_from_fragment_to(100, 4 | R, &position);
  EXPECT_EQ(position, (UINT64_C(1) << 63) | 4);
  read_pair_t record = {};
  read_pair_set_fragment(&record, 2, 100, 8);
  read_pair_set_read_ptr(&record, 1, 100, 1);
  EXPECT_EQ(record.position1, 101u);
  EXPECT_EQ(record.position2, 8u);
  read_pair_info_free(info);
  EXPECT_EQ(read_pair_info_free(nullptr), nullptr);
}

TEST(ReadPairInfo, OffsetsSurviveEveryFileIndexStamp) {
  for (int32_t offset : {-1, 0, 1, 0x1FFFFFF, -0x2000000}) {
    for (int32_t db : {0, 1, 63, 64, 1000, 4095}) {
      read_pair_t pair = {};
      pair.offset_field1 = static_cast<int32_t>(static_cast<uint32_t>(offset) << 6);
      pair.offset_field2 = static_cast<int32_t>(static_cast<uint32_t>(-offset - 1) << 6);
      read_pair_set_db_num(&pair, db);
      EXPECT_EQ(read_pair_info_get_offset1(&pair), offset);
      EXPECT_EQ(read_pair_info_get_offset2(&pair), -offset - 1);
      EXPECT_EQ(read_pair_info_get_db_num(&pair), db);
    }
  }
}

TEST(ReadPairInfo, MergeStampsAndAppends) {
  read_pair_info_t *global = read_pair_info_new(10);
  read_pair_info_t *batch = read_pair_info_new(10);
  for (int i = 0; i < 1500; i++) read_pair_info_add(batch, kReadPtrNone, i % 10, i, kReadPtrNone, 1, -i);
  read_pair_info_merge(batch, global, 4095);
  EXPECT_EQ(global->count, 1500u);
  EXPECT_EQ(global->capacity, 2048u);
  EXPECT_EQ(global->by_end1[0].offset_field1 & 0x3F, 63);
  EXPECT_EQ(global->by_end1[0].offset_field2 & 0x3F, 63);
  read_pair_info_merge(batch, global, 70);
  EXPECT_EQ(global->count, 3000u);
  EXPECT_EQ(global->capacity, 4096u);
  for (uint64_t i = 0; i < global->count; i++) {
    ASSERT_EQ(read_pair_info_get_offset1(&global->by_end1[i]), static_cast<int32_t>(i % 1500));
    ASSERT_EQ(read_pair_info_get_offset2(&global->by_end1[i]), -static_cast<int32_t>(i % 1500));
    ASSERT_EQ(read_pair_info_get_db_num(&global->by_end1[i]), i < 1500 ? 4095 : 70);
  }
  EXPECT_EXIT(read_pair_info_merge(batch, global, 4096), testing::ExitedWithCode(1),
              "^read_pair_info_merge: file index 4096 does not fit in 12 bits\n$");
  read_pair_info_free(batch);
  read_pair_info_free(global);
}

// A pair's sort key by one end first, as a tuple of the decoded fields;
// the file index is negated so that larger comes first.
auto key_by(const read_pair_t &p, bool end2_first) {
  auto end = [](uint64_t position, int32_t offset) {
    return std::make_tuple(position & ~kReadPtrReverse, position >> 63, offset);
  };
  auto e1 = end(p.position1, read_pair_info_get_offset1(&p));
  auto e2 = end(p.position2, read_pair_info_get_offset2(&p));
  return end2_first ? std::tuple_cat(e2, e1, std::make_tuple(-read_pair_info_get_db_num(&p)))
                    : std::tuple_cat(e1, e2, std::make_tuple(-read_pair_info_get_db_num(&p)));
}

TEST(ReadPairInfo, SortOrdersAndRangeSearchesMatchAModel) {
  std::mt19937 rng(17);
  constexpr int32_t kFragments = 8;
  read_pair_info_t *global = read_pair_info_new(kFragments);
  for (int32_t db : {3, 2000}) {
    read_pair_info_t *batch = read_pair_info_new(kFragments);
    for (int i = 0; i < 600; i++) {
      auto end = [&](read_ptr_t *ptr, oriented_id_t *fragment) {
        if (rng() % 2) {
          *ptr = (rng() % 6) | (rng() % 2 ? kReadPtrReverse : 0);
          *fragment = kOrientedIdNone;
        } else {
          *ptr = kReadPtrNone;
          *fragment = static_cast<uint32_t>(rng() % kFragments) | (rng() % 2 ? R : 0);
        }
      };
      read_ptr_t p1, p2;
      oriented_id_t f1, f2;
      end(&p1, &f1);
      end(&p2, &f2);
      read_pair_info_add(batch, p1, f1, static_cast<int32_t>(rng() % 5) - 2, p2, f2,
                         static_cast<int32_t>(rng() % 5) - 2);
    }
    read_pair_info_merge(batch, global, db);
    read_pair_info_free(batch);
  }
  std::vector<read_pair_t> all(global->by_end1, global->by_end1 + global->count);
  read_pair_info_sort(global);
  EXPECT_EQ(global->capacity, global->count);
  ASSERT_NE(global->by_end2, nullptr);
  for (uint64_t i = 1; i < global->count; i++) {
    ASSERT_LE(key_by(global->by_end1[i - 1], false), key_by(global->by_end1[i], false)) << i;
    ASSERT_LE(key_by(global->by_end2[i - 1], true), key_by(global->by_end2[i], true)) << i;
  }
  // Pairs that differ only in the file index: the larger index first.
  const auto has_twin = [&](uint64_t i) {
    const read_pair_t &a = global->by_end1[i - 1], &b = global->by_end1[i];
    return a.position1 == b.position1 && a.position2 == b.position2 &&
           read_pair_info_get_offset1(&a) == read_pair_info_get_offset1(&b) &&
           read_pair_info_get_offset2(&a) == read_pair_info_get_offset2(&b);
  };
  int twins = 0;
  for (uint64_t i = 1; i < global->count; i++) {
    if (has_twin(i) && read_pair_info_get_db_num(&global->by_end1[i - 1]) !=
                           read_pair_info_get_db_num(&global->by_end1[i])) {
      EXPECT_EQ(read_pair_info_get_db_num(&global->by_end1[i - 1]), 2000);
      twins++;
    }
  }
  EXPECT_GT(twins, 0);

  // Every fragment strand and path element: the range holds exactly the
  // pairs whose end lies there.
  for (int which : {1, 2}) {
    for (uint32_t f = 0; f < kFragments; f++) {
      for (uint32_t fragment : {f, f | R}) {
        uint64_t n;
        const read_pair_t *first = which == 1 ? read_pair_info_find_by_fragment1(global, fragment, &n)
                                              : read_pair_info_find_by_fragment2(global, fragment, &n);
        const auto expected = std::count_if(all.begin(), all.end(), [&](const read_pair_t &p) {
          return (which == 1 ? read_pair_info_get_fragment1(global, &p) : read_pair_info_get_fragment2(global, &p)) ==
                 fragment;
        });
        ASSERT_EQ(n, static_cast<uint64_t>(expected)) << which << " " << fragment;
        for (uint64_t i = 0; i < n; i++) {
          EXPECT_EQ(which == 1 ? read_pair_info_get_fragment1(global, first + i)
                               : read_pair_info_get_fragment2(global, first + i),
                    fragment);
        }
      }
    }
    for (uint64_t e = 0; e < 7; e++) {
      for (read_ptr_t ptr : {e, e | kReadPtrReverse}) {
        uint64_t n;
        const read_pair_t *first = which == 1 ? read_pair_info_find_by_read_ptr1(global, ptr, &n)
                                              : read_pair_info_find_by_read_ptr2(global, ptr, &n);
        const auto expected = std::count_if(all.begin(), all.end(), [&](const read_pair_t &p) {
          return (which == 1 ? read_pair_info_get_read_ptr1(global, &p) : read_pair_info_get_read_ptr2(global, &p)) ==
                 ptr;
        });
        ASSERT_EQ(n, static_cast<uint64_t>(expected)) << which << " " << ptr;
        for (uint64_t i = 0; i < n; i++) {
          EXPECT_EQ(which == 1 ? read_pair_info_get_read_ptr1(global, first + i)
                               : read_pair_info_get_read_ptr2(global, first + i),
                    ptr);
        }
      }
    }
  }
  read_pair_info_free(global);
}

TEST(ReadPairInfo, LowerBoundSearch) {
  const int values[] = {1, 3, 3, 3, 7};
  auto compare = [](const void *key, const void *element) {
    const int k = *static_cast<const int *>(key), e = *static_cast<const int *>(element);
    return k < e ? -1 : k > e ? 1 : 0;
  };
  for (const auto &[key, index] : std::vector<std::pair<int, uint64_t>>{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 4}, {8, 5}}) {
    EXPECT_EQ(lower_bound_search(values, &key, 5, sizeof(int), compare), index) << key;
  }
  const int key = 3;
  EXPECT_EQ(lower_bound_search(values, &key, 0, sizeof(int), compare), 0u);
}

TEST(ReadPairInfo, PrintsPairsAndStats) {
  read_info_t *paths = read_info_new(100);
  read_info_start_path(paths, 4);
  read_info_add_step(paths, 12, 9 | R);
  read_info_finish(paths);
  read_pair_info_t *info = read_pair_info_new(100);
  read_pair_info_add(info, kReadPtrNone, 5 | R, 10, kReadPtrReverse | 1, kOrientedIdNone, 3);
  read_pair_info_merge(info, info, 2);
  testing::internal::CaptureStdout();
  read_pair_info_print_pair_raw(info, &info->by_end1[0]);
  read_pair_info_print_pair(info, &info->by_end1[0], paths);
  read_pair_info_print_stats(info);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string filler(14, ' ');
  const std::string expected =
      "80000005 / ffffffffffffffff [   10]  -  ffffffff / 8000000000000001 [    3]  (2)\n"
      "80000005 [   10]  -  ffffffff [    3]  (2)    " +
      std::string(56, ' ') + "80000005" + "  [   10] - [    3]  " + "00000009   12 80000004" + filler + filler + filler +
      "\n"
      "\nRead pair info:\n"
      "  frag             100\n"
      "  alloc           1024\n"
      "  count              2\n";
  EXPECT_EQ(out, expected);
  read_pair_info_free(info);
  read_info_free(paths);
}

TEST(ReadPairInfoPiece, BytesMatchTheHandWrittenLayout) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/read_pair_two_pairs.piece.hex");
  read_pair_info_t *batch = read_pair_info_new(100);
  read_pair_info_add(batch, kReadPtrNone, 5 | R, 10, kReadPtrNone, 1, -1);
  read_pair_info_add(batch, kReadPtrNone, 3, 0, 12, kOrientedIdNone, 0x1FFFFFF);
  read_pair_info_t *global = read_pair_info_new(100);
  read_pair_info_merge(batch, global, 4095);
  read_pair_info_sort(global);
  EXPECT_EQ(written_bytes([&](FILE *f) { read_pair_info_write(f, global); }), golden);

  FILE *f = file_of(golden);
  read_pair_info_t *back = read_pair_info_read(f, 100);
  fclose(f);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->count, 2u);
  EXPECT_EQ(read_pair_info_get_read_ptr2(back, &back->by_end1[0]), 12u);
  EXPECT_EQ(read_pair_info_get_offset2(&back->by_end1[0]), 0x1FFFFFF);
  EXPECT_EQ(read_pair_info_get_db_num(&back->by_end2[1]), 4095);
  EXPECT_EQ(written_bytes([&](FILE *out) { read_pair_info_write(out, back); }), golden);
  // The loaded list keeps growing.
  read_pair_info_add(back, kReadPtrNone, 1, 1, kReadPtrNone, 2, 2);
  EXPECT_EQ(back->count, 3u);
  read_pair_info_free(back);

  // One record on its own.
  const std::string record = written_bytes([&](FILE *out) { read_pair_write_record(out, &global->by_end1[1]); });
  EXPECT_EQ(record, golden.substr(22 + 24, 24));
  FILE *r = file_of(record);
  read_pair_t pair;
  read_pair_read_record(r, &pair);
  fclose(r);
  EXPECT_EQ(pair.position1, global->by_end1[1].position1);
  EXPECT_EQ(pair.offset_field2, global->by_end1[1].offset_field2);
  read_pair_info_free(global);
  read_pair_info_free(batch);

  // An empty unsorted list: by end 1 only; an empty sorted one: both.
  read_pair_info_t *empty = read_pair_info_new(7);
  const std::string unsorted = written_bytes([&](FILE *out) { read_pair_info_write(out, empty); });
  EXPECT_EQ(unsorted, ryx_test::hex_bytes("01 07000000 0000000000000000 0004000000000000 01 00"));
  read_pair_info_sort(empty);
  const std::string sorted = written_bytes([&](FILE *out) { read_pair_info_write(out, empty); });
  EXPECT_EQ(sorted, ryx_test::hex_bytes("01 07000000 0000000000000000 0000000000000000 01 01"));
  for (const std::string &bytes : {unsorted, sorted}) {
    FILE *e = file_of(bytes);
    read_pair_info_t *loaded = read_pair_info_read(e, 7);
    fclose(e);
    EXPECT_EQ(loaded->count, 0u);
    EXPECT_EQ(written_bytes([&](FILE *out) { read_pair_info_write(out, loaded); }), bytes);
    read_pair_info_free(loaded);
  }
  read_pair_info_free(empty);
  EXPECT_EQ(written_bytes([](FILE *out) { read_pair_info_write(out, nullptr); }), std::string(1, '\0'));
}

std::string header(uint32_t fragments, uint64_t count, uint64_t capacity) {
  std::string out(1, '\1');
  for (int i = 0; i < 4; i++) out += static_cast<char>((fragments >> (8 * i)) & 0xFF);
  return out + u64_bytes(count) + u64_bytes(capacity);
}

TEST(ReadPairInfoPiece, DamagedPiecesEndWithAMessageAndStatus1) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/read_pair_two_pairs.piece.hex");
  const std::string pair(24, '\0');
  const struct {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"flag", std::string(1, '\7'), "^read_pair_info_read: presence byte is 7, not 0 or 1\n$"},
      {"fragment count", header(99, 0, 0) + "\1\1",
       "^Error, in read_pair_info_read fragment_count != info->fragment_count\n$"},
      {"capacity below count", header(100, 3, 2), "^read_pair_info_read: capacity 2 is below the count 3\n$"},
      {"giant capacity", header(100, 2, 1ull << 45),
       "^read_pair_info_read: capacity 35184372088832 is implausible for 2 pairs\n$"},
      {"pairs beyond the file", header(100, 1ull << 40, 1ull << 40) + "\1" + pair,
       "^read_pair_info_read: 1099511627776 pairs do not fit in the 25 bytes left in the file\n$"},
      {"by end 1 flag", header(100, 0, 0) + "\2\0", "^read_pair_info_read: by_end1 presence byte is 2, not 0 or 1\n$"},
      {"pairs without by end 1", header(100, 1, 1) + std::string(1, '\0') + "\1" + pair,
       "^read_pair_info_read: 1 pairs but no pairs by end 1\n$"},
      {"by end 2 cut short", golden.substr(0, golden.size() - 30),
       "^read_pair_info_read: 2 pairs by end 2 do not fit in the 18 bytes left in the file\n$"},
      {"short header", header(100, 0, 0).substr(0, 9), "^Error reading file: early termination\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          FILE *f = file_of(c.bytes);
          read_pair_info_read(f, 100);
        },
        testing::ExitedWithCode(1), c.message);
  }
  EXPECT_EXIT(
      {
        FILE *p = pipe_of(header(100, 2, 2) + "\1" + pair);
        read_pair_info_read(p, 100);
      },
      testing::ExitedWithCode(1), "^read_pair_info_read: the file ends inside the 2 pairs\n$");
}

}  // namespace
