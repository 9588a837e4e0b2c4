// The band's buffers are sized by the largest read part seen and reused:
// after that, starting bands and computing columns allocates nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "allocation_counter.h"
#include "band_oracle.h"
#include "fm/mapper/mapper_band.h"

namespace {

struct Part {
  uint32_t rows;
  int32_t threshold;
  bool global;
  std::vector<uint8_t> read;
  std::vector<uint8_t> ref;
};

// Runs every column of a part, as an extender going straight down would.
int64_t run_part(MapperBand *band, Part const &part) {
  band->update_parameters(part.rows, part.threshold, part.global, part.ref.data(), part.read.data());
  int64_t sum = 0;
  for (uint32_t c = 0; c < band->column_count(); c++) sum += band->column(c, part.ref[c]) & 1;
  return sum;
}

// After a warm-up, a stream of parts no larger than those seen allocates
// nothing: neither band buffers nor anything else. With widest_first the
// warm-up is the single widest band; otherwise one pass over the parts.
void check_steady_state(band_test::Costs k, bool widest_first) {
  std::mt19937 random(k.match * 1000 + k.insertion_open);
  auto band = std::unique_ptr<VectorizedMapperBand>(static_cast<VectorizedMapperBand *>(
      MapperBand::create(k.match, k.mismatch, k.insertion_open, k.insertion_cost, k.deletion_open, k.deletion_cost)));
  std::vector<Part> parts;
  auto add = [&](uint32_t rows, int32_t threshold, bool global) {
    Part p{rows, threshold, global, band_test::random_read(random, rows), {}};
    p.ref = band_test::random_reference(random, p.read, 2 * rows + 16);
    parts.push_back(std::move(p));
  };
  // The widest band of a 1000-row part: global with a threshold far below.
  add(1000, -1000000, true);
  for (int i = 0; i < 60; i++) {
    uint32_t rows = 1 + random() % 1000;
    add(rows, static_cast<int32_t>(random() % (rows * k.match + 1)) - static_cast<int32_t>(rows), random() % 2 == 0);
  }
  int stepped = 0;
  if (widest_first) {
    run_part(band.get(), parts[0]);
  } else {
    for (Part const &p : parts) {
      run_part(band.get(), p);
      if (band->step_up_column() > 0 && band->step_up_column() <= band->column_count()) stepped++;
    }
    EXPECT_GT(stepped, 0);
  }
  uint64_t allocations = band->allocation_count();
  EXPECT_GT(allocations, 0U);

  std::shuffle(parts.begin(), parts.end(), random);
  uint64_t news_before = ryx_test::allocation_count();
  int64_t sum = 0;
  for (Part const &p : parts) sum += run_part(band.get(), p);
  uint64_t news = ryx_test::allocation_count() - news_before;
  EXPECT_GE(sum, 0);
  EXPECT_EQ(band->allocation_count(), allocations);
  EXPECT_EQ(news, 0U);

  // A larger part grows the buffers once; the next one of that size reuses them.
  add(1500, -1000000, true);
  run_part(band.get(), parts.back());
  EXPECT_GT(band->allocation_count(), allocations);
  allocations = band->allocation_count();
  run_part(band.get(), parts.back());
  run_part(band.get(), parts[5]);
  EXPECT_EQ(band->allocation_count(), allocations);
}

TEST(MapperBandBuffers, ReusedForEveryPartUpToTheLargestLinear) { check_steady_state({1, 2, 0, 3, 0, 3}, true); }

TEST(MapperBandBuffers, ReusedForEveryPartUpToTheLargestAffine) { check_steady_state({2, 3, 5, 2, 4, 1}, true); }

// Parts that step up to 32-bit lanes part way lay their columns out
// differently from all-32-bit ones; once each kind has been seen, the
// buffers stay.
TEST(MapperBandBuffers, ReusedOnceSteppedUpBandsHaveBeenSeen) { check_steady_state({60, 20, 0, 3, 0, 3}, false); }

TEST(MapperBandBuffersDeathTest, BandTooLargeForMemoryEndsWithStatus69) {
  std::vector<uint8_t> read(400000, 0);
  std::unique_ptr<MapperBand> band(MapperBand::create(1, 2, 0, 3, 0, 3));
  // 800000 columns of 200002 vectors in 32-bit lanes.
  EXPECT_EXIT(band->update_parameters(400000, -1073741824, true, read.data(), read.data()), testing::ExitedWithCode(69),
              "Out of memory allocating 2560028800032 bytes\\.\n$");
}

}  // namespace
