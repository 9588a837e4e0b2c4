// Read info: identifiers, path building and walking, the path hash and
// match (reversed and palindromic paths), the occurrence index against a
// brute-force model, growth, and the stage-file piece.
#include "denovo/reads/read_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "piece_files.h"
#include "test_support.h"

namespace {

using denovo_reads_test::file_of;
using denovo_reads_test::pipe_of;
using denovo_reads_test::u64_bytes;
using denovo_reads_test::written_bytes;

constexpr uint32_t R = 0x80000000u;

// A path as the test writes it: fragments and the distances between them.
struct Path {
  std::vector<uint32_t> fragments;
  std::vector<int32_t> distances;  // one fewer than fragments
  bool counted = true;
};

uint64_t add_path(read_info_t *info, const Path &path) {
  const uint64_t p = path.counted ? read_info_start_path(info, path.fragments[0])
                                  : read_info_start_uncounted_path(info, path.fragments[0]);
  for (size_t i = 1; i < path.fragments.size(); i++) read_info_add_step(info, path.distances[i - 1], path.fragments[i]);
  return p;
}

Path reversed(const Path &path) {
  Path r;
  r.counted = path.counted;
  for (auto it = path.fragments.rbegin(); it != path.fragments.rend(); ++it) r.fragments.push_back(*it ^ R);
  r.distances.assign(path.distances.rbegin(), path.distances.rend());
  return r;
}

uint32_t mix(uint32_t x) { return (x >> 16) ^ x; }

TEST(ReadInfoIds, FlipIndexAndDirection) {
  EXPECT_EQ(oriented_id_get_index(0x80000005u), 5u);
  EXPECT_EQ(oriented_id_flip(5u), 0x80000005u);
  EXPECT_EQ(oriented_id_is_reverse(0x80000005u), 1);
  EXPECT_EQ(oriented_id_is_reverse(5u), 0);
  EXPECT_EQ(read_ptr_get_index(kReadPtrReverse | 12), 12u);
  EXPECT_EQ(read_ptr_flip(12), kReadPtrReverse | 12);
  EXPECT_EQ(read_ptr_is_reverse(kReadPtrReverse | 12), 1);
  EXPECT_EQ(read_ptr_is_reverse(12), 0);
}

TEST(ReadInfo, BuildsWordsAndWalksBothWays) {
  read_info_t *info = read_info_new(10);
  EXPECT_EQ(info->capacity, 1024u);
  EXPECT_EQ(add_path(info, {{3}, {}}), 0u);
  EXPECT_EQ(add_path(info, {{1, 2 | R, 4}, {-5, 9}}), 1u);
  EXPECT_EQ(add_path(info, {{7}, {}, false}), 4u);
  read_info_finish(info);
  const std::vector<int32_t> words = {5, 3, 5, 1, -10, static_cast<int32_t>(2 | R), 18, 4, 1, 7, 1};
  ASSERT_EQ(info->count, words.size());
  EXPECT_EQ(std::vector<int32_t>(info->words, info->words + info->count), words);
  EXPECT_EQ(info->capacity, info->count);
  EXPECT_EQ(read_info_get_element_count(info), 5u);
  EXPECT_TRUE(read_info_is_end(info, 5));
  EXPECT_FALSE(read_info_is_end(info, 4));

  // Forward from element 1: 1, 2', 4.
  read_ptr_t p = 1;
  EXPECT_FALSE(read_info_has_prev(info, p));
  EXPECT_TRUE(read_info_has_next(info, p));
  EXPECT_EQ(read_info_get_next_distance(info, p), -5);
  p = read_info_get_next(info, p);
  EXPECT_EQ(read_info_get_fragment(info, p), 2 | R);
  EXPECT_EQ(read_info_get_prev_distance(info, p), -5);
  EXPECT_EQ(read_info_get_next_distance(info, p), 9);
  p = read_info_get_next(info, p);
  EXPECT_FALSE(read_info_has_next(info, p));

  // Backward from element 3: 4', 2, 1'; next moves down and the next
  // distance is the step word of the element itself.
  p = read_ptr_flip(3);
  EXPECT_EQ(read_info_get_fragment(info, p), 4 | R);
  EXPECT_TRUE(read_info_has_next(info, p));
  EXPECT_FALSE(read_info_has_prev(info, p));
  EXPECT_EQ(read_info_get_next_distance(info, p), 9);
  p = read_info_get_next(info, p);
  EXPECT_EQ(p, read_ptr_flip(2));
  EXPECT_EQ(read_info_get_fragment(info, p), 2u);
  EXPECT_EQ(read_info_get_prev_distance(info, p), 9);
  EXPECT_EQ(read_info_get_next_distance(info, p), -5);
  p = read_info_get_next(info, p);
  EXPECT_EQ(read_info_get_fragment(info, p), 1 | R);
  EXPECT_FALSE(read_info_has_next(info, p));
  EXPECT_EQ(read_info_get_prev(info, p), read_ptr_flip(2));

  EXPECT_EQ(read_info_get_path_start(info, 3), 1u);
  EXPECT_EQ(read_info_get_start_slot(info, read_ptr_flip(3)), 2u);
  EXPECT_EQ(read_info_get_index_in_path(info, read_ptr_flip(3)), 2u);
  EXPECT_EQ(read_info_get_count(info, 2), 1u);
  EXPECT_EQ(read_info_get_count(info, 4), 0u);
  EXPECT_EQ(read_info_get_path_length(info, 1), 3u);
  read_info_free(info);
}

TEST(ReadInfo, CountsMarksTruncateAndCopy) {
  read_info_t *info = read_info_new(10);
  add_path(info, {{1, 2}, {4}});
  read_info_increment_count(info, 1);
  read_info_increment_count(info, 0);
  EXPECT_EQ(read_info_get_count(info, 1), 3u);
  read_info_set_mark(info, 1);
  EXPECT_EQ(read_info_get_mark(info, 0), 1);
  EXPECT_EQ(read_info_get_count(info, 0), 3u);
  read_info_set_count(info, 0, 7);
  EXPECT_EQ(read_info_get_count(info, 1), 7u);
  EXPECT_EQ(read_info_get_mark(info, 0), 0);
  read_info_set_mark(info, 0);
  read_info_clear_mark(info, 1);
  EXPECT_EQ(read_info_get_mark(info, 0), 0);

  // A half-built path is dropped.
  const uint64_t start = add_path(info, {{5, 6}, {1}});
  read_info_truncate(info, start);
  EXPECT_EQ(info->count, 4u);

  // Copies take count 1 (0 from an uncounted path), never the mark.
  read_info_set_mark(info, 0);
  const uint64_t copy = read_info_copy_path(info, info, 0);
  EXPECT_EQ(copy, 2u);
  EXPECT_EQ(read_info_get_count(info, copy), 1u);
  EXPECT_EQ(read_info_get_mark(info, copy), 0);
  EXPECT_EQ(read_info_match_path(info, 0, info, copy), 1);
  const uint64_t uncounted = add_path(info, {{9}, {}, false});
  EXPECT_EQ(read_info_get_count(info, read_info_copy_path(info, info, uncounted)), 0u);

  read_info_set_mark(info, copy);
  EXPECT_EQ(read_info_clear_marks(info), info->count);
  EXPECT_EQ(read_info_get_mark(info, 0), 0);
  EXPECT_EQ(read_info_get_mark(info, copy), 0);
  EXPECT_EQ(read_info_get_count(info, 0), 7u);

  read_info_push_counted_start(info);
  read_info_push_word(info, 3);
  read_info_push_end(info);
  EXPECT_EQ(info->words[info->count - 3], 5);
  EXPECT_EQ(info->words[info->count - 1], 1);
  read_info_free(info);
  EXPECT_EQ(read_info_free(nullptr), nullptr);
}

TEST(ReadInfo, GrowthDoublesFromTheInitialCapacity) {
  read_info_t *info = read_info_new(1);
  std::vector<uint64_t> capacities;
  for (int i = 0; i < 5000; i++) {
    read_info_push_word(info, 1);
    if (capacities.empty() || capacities.back() != info->capacity) capacities.push_back(info->capacity);
  }
  EXPECT_EQ(capacities, (std::vector<uint64_t>{1024, 2048, 4096, 8192}));
  for (uint64_t i = 0; i < info->count; i++) ASSERT_EQ(info->words[i], 1);
  read_info_free(info);
}

TEST(ReadInfoHash, HandComputedValues) {
  read_info_t *info = read_info_new(100);
  const uint64_t a = add_path(info, {{0x12345}, {}});
  const uint64_t b = add_path(info, {{0x12345 | R}, {}});
  const uint64_t one = static_cast<uint64_t>(mix(0x12345)) * 221277583u;
  uint64_t n = 0;
  EXPECT_EQ(read_info_hash_path(info, a, &n), one);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(read_info_hash_path(info, b, nullptr), one);

  // Two forward elements: forward order, step word 2 x 30.
  const uint64_t c = add_path(info, {{7, 9}, {30}});
  const uint64_t l0 = 221277583, l1 = l0 * 2137091815;
  EXPECT_EQ(read_info_hash_path(info, c, &n), mix(7) * l0 + 60 * l0 * 1963689317 + mix(9) * l1);
  EXPECT_EQ(n, 2u);
  // Both reverse: hashed backwards with the fragments flipped, 7 then 9.
  const uint64_t d = add_path(info, {{9 | R, 7 | R}, {30}});
  EXPECT_EQ(read_info_hash_path(info, d, nullptr), mix(7) * l0 + 60 * l0 * 1963689317 + mix(9) * l1);
  // Mixed strands, equal indices and a palindrome: forward.
  const uint64_t pal = add_path(info, {{4, 4 | R}, {-2}});
  const uint64_t minus4 = static_cast<uint32_t>(-4);
  EXPECT_EQ(read_info_hash_path(info, pal, nullptr), mix(4) * l0 + minus4 * l0 * 1963689317 + mix(4 | R) * l1);
  // Mixed strands, larger index first: forward.
  const uint64_t e = add_path(info, {{9, 7 | R}, {-3}});
  const uint64_t minus6 = static_cast<uint32_t>(-6);
  EXPECT_EQ(read_info_hash_path(info, e, nullptr), mix(9) * l0 + minus6 * l0 * 1963689317 + mix(7 | R) * l1);
  read_info_free(info);
}

TEST(ReadInfoHash, ReversedPathsHashAndMatchAlike) {
  std::mt19937 rng(5);
  read_info_t *info = read_info_new(16);
  for (int round = 0; round < 300; round++) {
    Path path;
    const int n = 1 + static_cast<int>(rng() % 6);
    // Few fragment indices and distances so that equal outer elements and
    // equal outer distances come up often.
    for (int i = 0; i < n; i++) path.fragments.push_back((rng() % 3) | (rng() % 2 ? R : 0));
    for (int i = 1; i < n; i++) path.distances.push_back(static_cast<int32_t>(rng() % 3) - 1);
    const Path back = reversed(path);
    const uint64_t p = add_path(info, path);
    const uint64_t q = add_path(info, back);
    SCOPED_TRACE(round);
    EXPECT_EQ(read_info_hash_path(info, p, nullptr), read_info_hash_path(info, q, nullptr));
    const bool palindrome = path.fragments == back.fragments && path.distances == back.distances;
    EXPECT_EQ(read_info_match_path(info, p, info, q), palindrome ? 1 : -1);
    EXPECT_EQ(read_info_match_path(info, q, info, p), palindrome ? 1 : -1);
    EXPECT_EQ(read_info_match_path(info, p, info, p), 1);
  }
  read_info_free(info);
}

TEST(ReadInfoHash, MatchCases) {
  read_info_t *a = read_info_new(10);
  read_info_t *b = read_info_new(10);
  const struct {
    const char *name;
    Path x, y;
    int expected;
  } cases[] = {
      {"different single fragments", {{1}, {}}, {{2}, {}}, 0},
      {"same single fragment", {{1}, {}}, {{1}, {}}, 1},
      {"flipped single fragment", {{1}, {}}, {{1 | R}, {}}, -1},
      {"palindrome", {{1, 1 | R}, {4}}, {{1, 1 | R}, {4}}, 1},
      {"reversed", {{1, 2, 3}, {5, 6}}, {{3 | R, 2 | R, 1 | R}, {6, 5}}, -1},
      {"reversed with the steps not reversed", {{1, 2, 3}, {5, 6}}, {{3 | R, 2 | R, 1 | R}, {5, 6}}, 0},
      {"other distance", {{1, 2}, {5}}, {{1, 2}, {4}}, 0},
      {"prefix", {{1, 2}, {5}}, {{1, 2, 3}, {5, 1}}, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t p = add_path(a, c.x);
    const uint64_t q = add_path(b, c.y);
    EXPECT_EQ(read_info_match_path(a, p, b, q), c.expected);
    if (c.expected != 0) {
      EXPECT_EQ(read_info_hash_path(a, p, nullptr), read_info_hash_path(b, q, nullptr));
    }
  }
  read_info_free(a);
  read_info_free(b);
}

// What follows an element in a direction, as (fragment, distance) pairs.
std::vector<std::pair<uint32_t, int32_t>> continuation(const read_info_t *info, read_ptr_t p) {
  std::vector<std::pair<uint32_t, int32_t>> out;
  const int64_t step = read_ptr_is_reverse(p) ? -1 : 1;
  int64_t e = static_cast<int64_t>(read_ptr_get_index(p));
  for (;;) {
    const int64_t step_slot = 2 * (step > 0 ? e + 1 : e);
    if (info->words[step_slot] & 1) break;
    const int32_t distance = info->words[step_slot] >> 1;
    e += step;
    uint32_t f = static_cast<uint32_t>(info->words[2 * e + 1]);
    if (step < 0) f ^= R;
    out.emplace_back(f, distance);
  }
  return out;
}

// The continuation order: the shorter continuation first when one is a
// prefix, else the first differing fragment, then distance.
int model_compare(const std::vector<std::pair<uint32_t, int32_t>> &a,
                  const std::vector<std::pair<uint32_t, int32_t>> &b) {
  for (size_t i = 0;; i++) {
    if (i == a.size() || i == b.size()) return a.size() == b.size() ? 0 : i == a.size() ? -1 : 1;
    if (a[i].first != b[i].first) return a[i].first < b[i].first ? -1 : 1;
    if (a[i].second != b[i].second) return a[i].second < b[i].second ? -1 : 1;
  }
}

TEST(ReadInfoIndex, OccurrencesMatchABruteForceScan) {
  std::mt19937 rng(9);
  constexpr uint32_t kFragments = 6;
  read_info_t *info = read_info_new(kFragments);
  std::vector<Path> paths;
  for (int i = 0; i < 200; i++) {
    Path path;
    const int n = 1 + static_cast<int>(rng() % 5);
    for (int j = 0; j < n; j++) path.fragments.push_back((rng() % kFragments) | (rng() % 2 ? R : 0));
    for (int j = 1; j < n; j++) path.distances.push_back(static_cast<int32_t>(rng() % 5) - 2);
    path.counted = rng() % 5 != 0;
    paths.push_back(path);
    add_path(info, path);
  }
  read_info_make_searchable(info);
  ASSERT_NE(info->offsets, nullptr);
  EXPECT_EQ(info->words[info->count - 1], 1);

  for (uint32_t index = 0; index < kFragments; index++) {
    for (uint32_t fragment : {index, index | R}) {
      // Every element of a counted path showing this fragment in some
      // direction, as the read pointer that shows it as asked.
      std::vector<read_ptr_t> expected;
      uint64_t e = 0;
      for (const Path &path : paths) {
        for (uint32_t f : path.fragments) {
          if (path.counted && oriented_id_get_index(f) == index) {
            expected.push_back(e | (f == fragment ? 0 : kReadPtrReverse));
          }
          e++;
        }
      }
      SCOPED_TRACE(testing::Message() << std::hex << fragment);
      const uint64_t n = read_info_get_occurrence_count(info, fragment);
      ASSERT_EQ(n, expected.size());
      std::vector<read_ptr_t> got, sorted;
      for (uint64_t i = 0; i < n; i++) {
        got.push_back(read_info_get_occurrence(info, fragment, i));
        sorted.push_back(read_info_get_sorted_occurrence(info, fragment, i));
        EXPECT_EQ(read_info_get_fragment(info, sorted.back()), fragment);
      }
      for (uint64_t i = 1; i < n; i++) {
        EXPECT_LE(model_compare(continuation(info, sorted[i - 1]), continuation(info, sorted[i])), 0) << i;
      }
      std::sort(expected.begin(), expected.end());
      std::sort(got.begin(), got.end());
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(got, expected);
      EXPECT_EQ(sorted, expected);
    }
  }

  // The read pointer sort uses the same order.
  std::vector<read_ptr_t> ptrs;
  for (uint64_t i = 0; i < read_info_get_occurrence_count(info, 2); i++) {
    ptrs.push_back(read_info_get_occurrence(info, 2 | R, i));
  }
  read_info_sort_read_ptrs(info, ptrs.data(), ptrs.size());
  for (size_t i = 1; i < ptrs.size(); i++) {
    EXPECT_LE(model_compare(continuation(info, ptrs[i - 1]), continuation(info, ptrs[i])), 0);
  }
  read_info_free(info);
}

TEST(ReadInfoIndex, SortingWithoutIndexIsFatal) {
  // The message goes to standard output; the child sends that to standard
  // error so that the death test sees it.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        read_info_t *bare = read_info_new(3);
        read_info_sort_occurrences(bare);
      },
      testing::ExitedWithCode(1), "^Error: Read info must be made searchable before it can be sorted\n$");
}

read_info_t *two_path_info() {
  read_info_t *info = read_info_new(2);
  add_path(info, {{1 | R}, {}});
  add_path(info, {{0, 1}, {7}, false});
  read_info_make_searchable(info);
  return info;
}

TEST(ReadInfoPiece, BytesMatchTheHandWrittenLayout) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/read_info_two_paths.piece.hex");
  read_info_t *info = two_path_info();
  EXPECT_EQ(read_info_get_occurrence_count(info, 0), 0u);
  EXPECT_EQ(read_info_get_occurrence(info, 1, 0), kReadPtrReverse | 0);
  EXPECT_EQ(written_bytes([&](FILE *f) { read_info_write(f, info); }), golden);
  read_info_free(info);

  FILE *f = file_of(golden);
  read_info_t *back = read_info_read(f, 2);
  fclose(f);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->count, 7u);
  EXPECT_EQ(read_info_get_fragment(back, read_ptr_flip(2)), 1 | R);
  EXPECT_EQ(read_info_get_sorted_occurrence(back, 1 | R, 0), 0u);
  EXPECT_EQ(written_bytes([&](FILE *out) { read_info_write(out, back); }), golden);
  read_info_free(back);

  EXPECT_EQ(written_bytes([](FILE *out) { read_info_write(out, nullptr); }), std::string(1, '\0'));
  FILE *absent = file_of(std::string(1, '\0'));
  EXPECT_EQ(read_info_read(absent, 2), nullptr);
  fclose(absent);
}

TEST(ReadInfoPiece, RoundTripsUnfinishedAndSearchableInfos) {
  std::mt19937 rng(3);
  for (bool searchable : {false, true}) {
    read_info_t *info = read_info_new(40);
    for (int i = 0; i < 700; i++) {
      Path path;
      const int n = 1 + static_cast<int>(rng() % 4);
      for (int j = 0; j < n; j++) path.fragments.push_back((rng() % 40) | (rng() % 2 ? R : 0));
      for (int j = 1; j < n; j++) path.distances.push_back(static_cast<int32_t>(rng() % 200) - 100);
      add_path(info, path);
    }
    if (searchable) read_info_make_searchable(info);
    const std::string bytes = written_bytes([&](FILE *f) { read_info_write(f, info); });
    FILE *f = file_of(bytes);
    read_info_t *back = read_info_read(f, 40);
    fclose(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->capacity, info->capacity);
    EXPECT_EQ(written_bytes([&](FILE *out) { read_info_write(out, back); }), bytes);
    if (searchable) {
      for (uint32_t fr : {3u, 17u | R}) {
        ASSERT_EQ(read_info_get_occurrence_count(back, fr), read_info_get_occurrence_count(info, fr));
        for (uint64_t i = 0; i < read_info_get_occurrence_count(info, fr); i++) {
          EXPECT_EQ(read_info_get_sorted_occurrence(back, fr, i), read_info_get_sorted_occurrence(info, fr, i));
        }
      }
    }
    read_info_free(back);
    read_info_free(info);
  }
}

std::string header(uint64_t count, uint64_t capacity, uint32_t fragments) {
  std::string out = std::string(1, '\1') + u64_bytes(count) + u64_bytes(capacity);
  for (int i = 0; i < 4; i++) out += static_cast<char>((fragments >> (8 * i)) & 0xFF);
  return out;
}

std::string words(std::initializer_list<uint32_t> values) {
  std::string out;
  for (uint32_t v : values) {
    for (int i = 0; i < 4; i++) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  return out;
}

TEST(ReadInfoPiece, DamagedPiecesEndWithAMessageAndStatus1) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/read_info_two_paths.piece.hex");
  // The index arrays start after the 21-byte header and the 28 word bytes;
  // the offsets piece is 34 bytes. Its count (byte 9) becomes 4, capacity
  // (byte 17) 8.
  constexpr size_t kIndex = 49, kOffsetsPiece = 34;
  std::string wrong_offsets = golden;
  wrong_offsets[kIndex + 9] = 4;
  wrong_offsets[kIndex + 17] = 8;
  const std::string absent3 = std::string(3, '\0');
  const struct {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"flag", std::string(1, '\2'), "^read_info_read: presence byte is 2, not 0 or 1\n$"},
      {"fragment count", header(0, 1024, 3) + absent3,
       "^Error, in read_info_read fragment_count != info->fragment_count\n$"},
      {"capacity below count", header(5, 4, 2), "^read_info_read: capacity 4 is below the word count 5\n$"},
      {"giant capacity", header(3, 1ull << 40, 2),
       "^read_info_read: capacity 1099511627776 is implausible for 3 words\n$"},
      {"words beyond the file", header(1ull << 40, 1ull << 40, 2) + words({5, 0}),
       "^read_info_read: 1099511627776 words do not fit in the 8 bytes left in the file\n$"},
      {"first word no start", header(2, 2, 2) + words({4, 0}) + absent3,
       "^read_info_read: the first word 0x4 starts no path\n$"},
      {"index without terminator", header(2, 2, 2) + words({5, 0}) + golden.substr(kIndex),
       "^read_info_read: an indexed info is not finished\n$"},
      {"index incomplete", header(3, 3, 2) + words({5, 0, 1}) + golden.substr(kIndex, kOffsetsPiece) + absent3.substr(0, 2),
       "^read_info_read: the occurrence index is incomplete\n$"},
      {"offsets for other fragment count", wrong_offsets, "^read_info_read: 4 offsets for 2 fragments\n$"},
      {"short header", header(3, 3, 2).substr(0, 10), "^Error reading file: early termination\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          FILE *f = file_of(c.bytes);
          read_info_read(f, 2);
        },
        testing::ExitedWithCode(1), c.message);
  }
  EXPECT_EXIT(
      {
        FILE *pipe = pipe_of(header(4, 4, 2) + words({5, 0, 1}));
        read_info_read(pipe, 2);
      },
      testing::ExitedWithCode(1), "^read_info_read: the file ends inside the 4 words\n$");
}

}  // namespace
