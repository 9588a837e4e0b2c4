// Offset index: every lookup, followed the way a format reader follows it,
// lands on the record's start; blocks are halved when they do not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/offset_index.h"

namespace {

struct Coverage {
  int width_blocks[5] = {0, 0, 0, 0, 0};  // blocks by skip width (0, 1, 2 or 4)
  int halved_blocks = 0;                  // blocks shorter than 1024 records that are not the last one
  int extra_hits = 0;                     // lookups whose skip passes at least one extra marker
};

// Checks every record of the index against the marker set. The model of the
// reader: seek to the base, take the markers (record starts and extra
// markers) lying after it in file order, pass `skip` of them, and the next
// one must be the record's start.
void check_index(const std::vector<int64_t> &starts, const std::vector<int64_t> &extra, int64_t margin,
                 Coverage *coverage) {
  const int64_t n = static_cast<int64_t>(starts.size());
  offset_index_t *index = offset_index_build(starts.data(), n, extra.empty() ? nullptr : extra.data(),
                                             static_cast<int64_t>(extra.size()), margin);
  std::vector<int64_t> markers(starts);
  markers.insert(markers.end(), extra.begin(), extra.end());
  std::sort(markers.begin(), markers.end());

  // Blocks cover 0..n-1 in order, each at most 1024 records.
  int64_t next = 0;
  for (uint64_t b = 0; b < index->block_count; b++) {
    const offset_index_block_t &block = index->blocks[b];
    ASSERT_EQ(block.first, next);
    ASSERT_LE(block.first, block.last);
    ASSERT_LE(block.last - block.first + 1, 1024);
    ASSERT_TRUE(block.skip_width == 0 || block.skip_width == 1 || block.skip_width == 2 || block.skip_width == 4)
        << block.skip_width;
    EXPECT_EQ(block.skips == nullptr, block.skip_width == 0);
    if (coverage != nullptr) {
      coverage->width_blocks[block.skip_width]++;
      if (b + 1 < index->block_count && block.last - block.first + 1 < 1024) coverage->halved_blocks++;
    }
    next = block.last + 1;
  }
  ASSERT_EQ(next, n);

  for (int64_t i = 0; i < n; i++) {
    int32_t skip = -1;
    int64_t base = offset_index_lookup(index, i, &skip);
    ASSERT_GE(skip, 0);
    ASSERT_LE(skip, 15);
    ASSERT_LE(base, starts[i] - margin) << "record " << i;
    ASSERT_LE(starts[i] - base, 1023 + margin) << "record " << i;
    auto after_base = std::upper_bound(markers.begin(), markers.end(), base);
    ASSERT_LT(after_base - markers.begin() + skip, static_cast<std::ptrdiff_t>(markers.size())) << "record " << i;
    ASSERT_EQ(*(after_base + skip), starts[i]) << "record " << i << " base " << base << " skip " << skip;
    if (coverage != nullptr) {
      auto extra_after = std::upper_bound(extra.begin(), extra.end(), base);
      if (extra_after != extra.end() && *extra_after < starts[i]) coverage->extra_hits++;
    }
  }
  offset_index_free(index);
}

// Starts from record lengths; some records get extra markers strictly inside
// them (a quality line that looks like a header).
void make_file(std::mt19937_64 &rng, int64_t n, const std::function<int64_t()> &length, double extra_rate,
               std::vector<int64_t> *starts, std::vector<int64_t> *extra) {
  starts->clear();
  extra->clear();
  int64_t offset = static_cast<int64_t>(rng() % 50);
  for (int64_t i = 0; i < n; i++) {
    int64_t len = length();
    starts->push_back(offset);
    if (len > 1 && std::uniform_real_distribution<double>(0, 1)(rng) < extra_rate) {
      int64_t inside = 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(len - 1));
      extra->push_back(offset + inside);
      if (len > 3 && rng() % 3 == 0) {
        int64_t second = 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(len - 1));
        if (second != inside) extra->push_back(offset + second);
      }
    }
    offset += len;
  }
  std::sort(extra->begin(), extra->end());
}

TEST(OffsetIndex, RandomFilesLandOnEveryRecord) {
  std::mt19937_64 rng(20240611);
  Coverage coverage;
  std::vector<int64_t> starts, extra;
  auto uniform = [&](int64_t lo, int64_t hi) {
    return [&rng, lo, hi] { return lo + static_cast<int64_t>(rng() % static_cast<uint64_t>(hi - lo + 1)); };
  };
  struct Shape {
    const char *name;
    std::function<int64_t()> length;
    double extra_rate;
  };
  const Shape shapes[] = {
      {"short reads", uniform(60, 140), 0.05},
      {"mixed lengths", uniform(1, 600), 0.2},
      // Mostly tiny records with an occasional long one: the long ones push
      // the deviation span past 1023 and the tiny ones pile up markers behind
      // the lowered line, so blocks are halved and need wide skip counts.
      {"tiny with long outliers",
       [&rng] {
         uint64_t r = rng() % 100;
         if (r < 3) return static_cast<int64_t>(1500 + rng() % 4000);
         if (r < 10) return static_cast<int64_t>(40 + rng() % 200);
         return static_cast<int64_t>(1 + rng() % 6);
       },
       0.1},
      {"tiny", uniform(1, 12), 0.3},
  };
  for (const Shape &shape : shapes) {
    for (int rep = 0; rep < 6; rep++) {
      SCOPED_TRACE(std::string(shape.name) + " rep " + std::to_string(rep));
      int64_t n = 1 + static_cast<int64_t>(rng() % 5000);
      make_file(rng, n, shape.length, shape.extra_rate, &starts, &extra);
      check_index(starts, extra, 1, &coverage);
      if (HasFatalFailure()) return;
    }
  }
  // The inputs above must have exercised every packing and the halving.
  EXPECT_GT(coverage.width_blocks[0], 0);
  EXPECT_GT(coverage.width_blocks[1], 0);
  EXPECT_GT(coverage.width_blocks[2], 0);
  EXPECT_GT(coverage.width_blocks[4], 0);
  EXPECT_GT(coverage.halved_blocks, 0);
  EXPECT_GT(coverage.extra_hits, 0);
}

TEST(OffsetIndex, WiderMarginsAndNoExtraMarkers) {
  std::mt19937_64 rng(7);
  std::vector<int64_t> starts, extra;
  for (int64_t margin : {2, 5}) {
    SCOPED_TRACE("margin " + std::to_string(margin));
    make_file(rng, 3000, [&rng, margin] { return margin + static_cast<int64_t>(rng() % 300); }, 0.0, &starts, &extra);
    check_index(starts, extra, margin, nullptr);
  }
}

// Records of one length: the line is exact, every base is the start minus
// the margin, no skip array; 1025 records give blocks of 1024 and 1.
TEST(OffsetIndex, EqualLengthsGiveExactLinesAndNoSkipArrays) {
  std::vector<int64_t> starts;
  for (int64_t i = 0; i < 1025; i++) starts.push_back(17 + 250 * i);
  offset_index_t *index = offset_index_build(starts.data(), 1025, nullptr, 0, 1);
  ASSERT_EQ(index->block_count, 2u);
  EXPECT_EQ(index->blocks[0].first, 0);
  EXPECT_EQ(index->blocks[0].last, 1023);
  EXPECT_EQ(index->blocks[1].first, 1024);
  EXPECT_EQ(index->blocks[1].last, 1024);
  for (uint64_t b = 0; b < 2; b++) {
    EXPECT_EQ(index->blocks[b].skip_width, 0u);
    EXPECT_EQ(index->blocks[b].skips, nullptr);
  }
  for (int64_t i = 0; i < 1025; i++) {
    int32_t skip = -1;
    EXPECT_EQ(offset_index_lookup(index, i, &skip), starts[i] - 1);
    EXPECT_EQ(skip, 0);
  }
  offset_index_free(index);
}

// Hand-computed block over starts 0, 300, 310, 320, 330: the line from 0 to
// 330 over 4 steps is 0, 82, 165, 247, 330 (integer interpolation), every
// start lies at or after it, so it is lowered by the margin alone. Record 3's
// base 246 lies before the starts of records 1 and 2.
TEST(OffsetIndex, SkipCountsOfAHandComputedBlock) {
  const int64_t starts[] = {0, 300, 310, 320, 330};
  const int64_t bases[] = {-1, 81, 164, 246, 329};
  offset_index_block_t *block = offset_index_build_block(starts, 0, 4, nullptr, 0, 1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->base_first, -1);
  EXPECT_EQ(block->base_last, 329);
  EXPECT_EQ(block->skip_width, 2u);
  const int32_t skips[] = {0, 0, 1, 2, 0};
  for (int64_t i = 0; i < 5; i++) {
    EXPECT_EQ(offset_index_block_base(block, i), bases[i]) << i;
    EXPECT_EQ(offset_index_block_get_skip(block, i), skips[i]) << i;
  }
  // Packed 2 bits a record, low bits first: records 0-3 in byte 0, record 4
  // in byte 1.
  EXPECT_EQ(block->skips[0], 0x00 | (1 << 4) | (2 << 6));
  EXPECT_EQ(block->skips[1], 0);
  offset_index_block_free(block);

  // An extra marker inside record 2 lies between record 3's base and start.
  const int64_t extra[] = {315};
  block = offset_index_build_block(starts, 0, 4, extra, 1, 1);
  ASSERT_NE(block, nullptr);
  const int32_t with_marker[] = {0, 0, 1, 3, 0};
  for (int64_t i = 0; i < 5; i++) EXPECT_EQ(offset_index_block_get_skip(block, i), with_marker[i]) << i;
  offset_index_block_free(block);

  // The first record's base may lie before the data; lookups through the
  // index agree with the block.
  offset_index_t *index = offset_index_build(starts, 5, extra, 1, 1);
  ASSERT_EQ(index->block_count, 1u);
  int32_t skip = 0;
  EXPECT_EQ(offset_index_lookup(index, 3, &skip), 246);
  EXPECT_EQ(skip, 3);
  offset_index_free(index);
}

// One start 600 bytes after the line through the end records and another
// 500 bytes before it: a deviation span of 1100 does not fit one block.
TEST(OffsetIndex, DeviationSpanAbove1023SplitsTheBlock) {
  const int64_t starts[] = {0, 1600, 2000, 2500, 4000};  // line: 0, 1000, 2000, 3000, 4000
  EXPECT_EQ(offset_index_build_block(starts, 0, 4, nullptr, 0, 1), nullptr);
  offset_index_t *index = offset_index_build(starts, 5, nullptr, 0, 1);
  EXPECT_GT(index->block_count, 1u);
  offset_index_free(index);
  check_index(std::vector<int64_t>(std::begin(starts), std::end(starts)), {}, 1, nullptr);
}

// More than 15 markers between a record's base and its start cannot be
// stored: the block fails and the halving isolates the record.
TEST(OffsetIndex, SixteenMarkersBeforeARecordFailTheBlock) {
  // Forty one-byte records, then one at 1000: the line through the end
  // records (25 bytes a record) runs 24 bytes a record above the tiny ones
  // and is lowered by 936 + 1, below every tiny start, so record 16 would
  // pass the 16 records before it.
  std::vector<int64_t> starts;
  for (int64_t i = 0; i < 40; i++) starts.push_back(i);
  starts.push_back(1000);
  EXPECT_EQ(offset_index_build_block(starts.data(), 0, 40, nullptr, 0, 1), nullptr);
  check_index(starts, {}, 1, nullptr);
}

TEST(OffsetIndex, SkipPackingForEveryWidth) {
  for (uint32_t width : {1u, 2u, 4u, 8u}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const int64_t first = 100, last = 130;
    uint8_t bytes[32] = {};
    offset_index_block_t block = {first, last, 0, 0, width, bytes};
    const int32_t limit = width == 8 ? 255 : (1 << width) - 1;
    for (int64_t i = first; i <= last; i++) offset_index_block_set_skip(&block, i, static_cast<int32_t>((i * 7) % (limit + 1)));
    for (int64_t i = first; i <= last; i++)
      EXPECT_EQ(offset_index_block_get_skip(&block, i), static_cast<int32_t>((i * 7) % (limit + 1))) << i;
    // Record first + 1 sits right above record first in byte 0 (whole byte 1
    // with width 8).
    if (width < 8)
      EXPECT_EQ(bytes[0] & ((1 << (2 * width)) - 1), (100 * 7 % (limit + 1)) | ((101 * 7 % (limit + 1)) << width));
    else
      EXPECT_EQ(bytes[1], 101 * 7 % 256);
  }
  offset_index_block_t none = {0, 5, 0, 0, 0, nullptr};
  EXPECT_EQ(offset_index_block_get_skip(&none, 3), 0);
}

TEST(OffsetIndexDeath, ImpossibleCountWidths) {
  uint8_t bytes[4] = {};
  offset_index_block_t three = {0, 3, 0, 0, 3, bytes};
  EXPECT_EXIT(offset_index_block_get_skip(&three, 1), testing::ExitedWithCode(1), "^Error in count bits\n$");
  EXPECT_EXIT(offset_index_block_set_skip(&three, 1, 1), testing::ExitedWithCode(1), "^Error in count bits\n$");
  offset_index_block_t zero = {0, 3, 0, 0, 0, bytes};
  EXPECT_EXIT(offset_index_block_set_skip(&zero, 1, 1), testing::ExitedWithCode(1), "^Error in count bits\n$");
}

TEST(OffsetIndex, FindLastBelow) {
  struct Case {
    std::vector<int64_t> values;
    int64_t key;
    int64_t expected;
  };
  const Case cases[] = {
      {{1, 3, 5, 7}, 5, 1},  {{1, 3, 5, 7}, 8, 3},  {{1, 3, 5, 7}, 0, -1}, {{1, 3, 5, 7}, 1, -1},
      {{1, 3, 5, 7}, 2, 0},  {{1, 3, 5, 7}, 7, 2},  {{1, 3, 5, 7}, 6, 2},  {{4}, 4, -1},
      {{4}, 5, 0},           {{2, 2, 2, 4}, 2, -1}, {{2, 2, 2, 4}, 3, 2},  {{2, 2, 2, 4}, 5, 3},
      {{-9, -3}, -3, 0},     {{}, 10, -1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(offset_index_find_last_below(c.values.data(), static_cast<int64_t>(c.values.size()), c.key), c.expected)
        << "key " << c.key << " over " << testing::PrintToString(c.values);
  const int64_t some[] = {1, 2, 3};
  EXPECT_EQ(offset_index_find_last_below(some, 0, 10), -1);
  EXPECT_EQ(offset_index_find_last_below(some, -2, 10), -1);

  // Against a linear scan on random sorted arrays with repeats.
  std::mt19937_64 rng(99);
  for (int rep = 0; rep < 2000; rep++) {
    std::vector<int64_t> values(rng() % 20);
    for (int64_t &v : values) v = static_cast<int64_t>(rng() % 30);
    std::sort(values.begin(), values.end());
    int64_t key = static_cast<int64_t>(rng() % 32) - 1;
    int64_t expected = -1;
    for (size_t i = 0; i < values.size(); i++)
      if (values[i] < key) expected = static_cast<int64_t>(i);
    ASSERT_EQ(offset_index_find_last_below(values.data(), static_cast<int64_t>(values.size()), key), expected)
        << "key " << key << " over " << testing::PrintToString(values);
  }
}

TEST(OffsetIndex, EmptyIndexAndNullFree) {
  offset_index_t *index = offset_index_build(nullptr, 0, nullptr, 0, 1);
  EXPECT_EQ(index->block_count, 0u);
  EXPECT_EQ(offset_index_free(index), nullptr);
  EXPECT_EQ(offset_index_free(nullptr), nullptr);
  EXPECT_EQ(offset_index_block_free(nullptr), nullptr);
}

}  // namespace
