// Pair-distance estimation: window widths, the status and range of
// hand-made histograms, the estimate file's lines, the update of the paired
// settings and the file errors.
#include "denovo/app/pair_distance_estimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

// A histogram of half width radius over bins of our own.
struct Histogram {
  std::vector<int32_t> bins;
  pair_dist_info_t info{};

  explicit Histogram(int32_t radius) : bins(2 * static_cast<size_t>(radius) + 1, 0) {
    info.radius = radius;
    info.bins = bins.data();
  }
  // height in every bin of distances first .. last.
  Histogram &plateau(int32_t first, int32_t last, int32_t height) {
    for (int32_t d = first; d <= last; d++) bins[static_cast<size_t>(info.radius + d)] = height;
    return *this;
  }
  // counted becomes the sum of the bins.
  Histogram &count_all() {
    info.counted = 0;
    for (int32_t b : bins) info.counted += b;
    return *this;
  }
};

TEST(PairDistanceWindow, WidthGrowsEvery500BinsFromDistanceZero) {
  struct Case {
    int32_t bin, radius, width;
  };
  const Case cases[] = {
      {499, 499, 5},     {0, 499, 5},       // the whole of a 499 histogram is within 500 of 0
      {0, 500, 10},      {999, 500, 5},     // 500 below and 499 above distance 0
      {1000, 500, 10},   {1499, 500, 10},   {1500, 500, 15},
      {0, 50000, 505},   {100000, 50000, 505},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(paired_distance_window_width(c.bin, c.radius), c.width) << c.bin << " of " << c.radius;
  }
}

// Expected outcomes worked out by hand from the peak and flank rules. With
// radius 499 every window and flank step is 5 bins wide and windows start
// at bin indices 0, 5, 10, ...; bin index = distance + 499. Plateaus of
// height 200 over 41 bins make the threshold 100.
TEST(PairDistanceEstimate, StatusAndRangeOfHandMadeHistograms) {
  struct Case {
    const char *name;
    Histogram h;
    int32_t status, min, max;
  };
  auto hist = [](int32_t radius) { return Histogram(radius); };
  std::vector<Case> cases;
  // Window [600, 604] opens the peak (centre 602); the left scan starts
  // at 597 (outside the plateau) and stops at once; the right one at the
  // first empty bin, 640.
  cases.push_back({"single peak", hist(499).plateau(100, 140, 200).count_all(), kPairedDistanceEstimated, 98, 141});
  cases.push_back({"no bin above 50", hist(499).plateau(-100, 100, 50).count_all(), kPairedDistanceNoData, 0, 0});
  cases.push_back({"negative peak", hist(499).plateau(-320, -280, 200).count_all(), kPairedDistanceNegative, -322,
                   -279});
  {
    // Nine single bins of 60: threshold 50, every window mean 12.
    Histogram h(499);
    for (int32_t i = 100; i <= 900; i += 100) h.bins[static_cast<size_t>(i)] = 60;
    cases.push_back({"bins above 50 but no peak", h.count_all(), kPairedDistanceNotEnoughData, 0, 0});
  }
  // Two positive peaks, threshold 80: masses 3400 (17 x 200 right of centre
  // 602) and 2040 (17 x 120 right of 702); 2040 > 3400 / 2.
  cases.push_back({"two comparable positive peaks", hist(499).plateau(101, 120, 200).plateau(201, 220, 120).count_all(),
                   kPairedDistanceAmbiguous, 0, 0});
  {
    Histogram h(499);
    h.plateau(101, 120, 200).plateau(201, 220, 120).count_all();
    h.info.not_counted = 400000;  // 1 % of all pairs exceeds the main peak's 3400
    cases.push_back({"main peak holds too little", h, kPairedDistanceNotEnoughData, 0, 0});
  }
  // Second peak 15 bins: mass 1440 is not above 1700; the main peak stands.
  cases.push_back({"smaller second peak", hist(499).plateau(101, 120, 200).plateau(201, 215, 120).count_all(),
                   kPairedDistanceEstimated, 98, 121});
  // Main peak negative, a positive one with more than half its mass wins.
  cases.push_back({"negative main, positive second", hist(499).plateau(-199, -180, 200).plateau(201, 220, 120).count_all(),
                   kPairedDistanceEstimated, 198, 221});
  // Centre 2 lies within a window of the start: no left scan, the range
  // starts at the histogram's edge.
  cases.push_back({"peak at the first bins", hist(499).plateau(-499, -480, 200).count_all(), kPairedDistanceNegative,
                   -499, -479});
  // The right scan runs to the end without an empty bin: the edge.
  cases.push_back({"peak at the last bins", hist(499).plateau(480, 499, 200).count_all(), kPairedDistanceEstimated, 478,
                   499});
  {
    // Left of the peak the counts rise again further out (20 at distances
    // 96..100, 40 at 86..95): a rise is not a levelled flank, so the scan
    // goes on from 597 to 594, where 40 meets 40 five bins further out.
    Histogram h(499);
    h.plateau(101, 120, 200).plateau(86, 95, 40).plateau(96, 100, 20).count_all();
    cases.push_back({"flank past a rising neighbour", h, kPairedDistanceEstimated, 95, 121});
  }
  {
    // The centre bin is empty inside a window of mean 400 (threshold 250);
    // a flat shoulder of 10 follows: the scan stops where it begins (605).
    Histogram h(499);
    h.plateau(101, 102, 500).plateau(104, 105, 500).plateau(106, 121, 10).count_all();
    cases.push_back({"empty centre bin, flat shoulder", h, kPairedDistanceEstimated, 98, 106});
  }
  // Radius 999: distances 500 and more take windows of 10 (grid 1500,
  // 1510, ...); centre 1605 and flank steps of 10, so the left scan starts
  // at 1595.
  cases.push_back({"10-bin band", hist(999).plateau(600, 639, 200).count_all(), kPairedDistanceEstimated, 596, 640});

  for (Case &c : cases) {
    c.h.info.bins = c.h.bins.data();
    int32_t min = -1;
    int32_t max = -1;
    EXPECT_EQ(paired_distance_estimate(&c.h.info, &min, &max), c.status) << c.name;
    EXPECT_EQ(min, c.min) << c.name;
    EXPECT_EQ(max, c.max) << c.name;
  }
}

TEST(PairDistanceEstimate, WrongDirectionIsTestedFirst) {
  Histogram h(499);
  h.plateau(100, 140, 200);
  int32_t min = 0;
  int32_t max = 0;
  h.info.counted = 9;
  h.info.wrong_orientation = 10;
  EXPECT_EQ(paired_distance_estimate(&h.info, &min, &max), kPairedDistanceWrongDirection);
  EXPECT_EQ(min, 0);
  EXPECT_EQ(max, 0);
  h.info.wrong_orientation = 9;  // not more than counted
  EXPECT_EQ(paired_distance_estimate(&h.info, &min, &max), kPairedDistanceEstimated);
  // Wrong direction wins over an empty histogram too.
  Histogram empty(499);
  empty.info.wrong_orientation = 1;
  EXPECT_EQ(paired_distance_estimate(&empty.info, &min, &max), kPairedDistanceWrongDirection);
  empty.info.wrong_orientation = 0;
  EXPECT_EQ(paired_distance_estimate(&empty.info, &min, &max), kPairedDistanceNoData);
}

// A library of 20000 pairs at 500 +- 25 on the full-size histogram.
TEST(PairDistanceEstimate, NormalLibraryCoversItsMean) {
  paired_setting_t *s = paired_setting_new(1, 0, 100, 1000);
  pair_dist_info_t *h = pair_dist_info_new(s, 0);
  for (int32_t d = 300; d <= 700; d++) {
    const double z = (d - 500) / 25.0;
    h->bins[h->radius + d] = static_cast<int32_t>(std::lround(20000 / (25 * std::sqrt(2 * M_PI)) * std::exp(-z * z / 2)));
    h->counted += h->bins[h->radius + d];
  }
  int32_t min = 0;
  int32_t max = 0;
  EXPECT_EQ(paired_distance_estimate(h, &min, &max), kPairedDistanceEstimated);
  EXPECT_LT(min, 475);
  EXPECT_GT(max, 525);
  EXPECT_GT(min, 350);
  EXPECT_LT(max, 650);
  pair_dist_info_free(h);
  paired_setting_free(s);
}

TEST(PairDistanceFile, LinesForEveryStatus) {
  const read_store_file_t single{"a.fq", nullptr};
  const read_store_file_t pair{"r1.fq", "r2.fq"};
  struct Case {
    const read_store_file_t *names;
    int32_t status, min, max;
    const char *line;
  };
  const Case cases[] = {
      {&single, kPairedDistanceEstimated, 410, 590, "a.fq\t-\t410\t590\tDISTANCE_ESTIMATED\n"},
      {&pair, kPairedDistanceNegative, -320, -280, "r1.fq\tr2.fq\t-320\t-280\tNEGATIVE_DISTANCE\n"},
      {&pair, kPairedDistanceNoData, 5, 6, "r1.fq\tr2.fq\t0\t0\tNO_DATA\n"},
      {&single, kPairedDistanceNotEnoughData, 5, 6, "a.fq\t-\t0\t0\tNOT_ENOUGH_DATA\n"},
      {&single, kPairedDistanceAmbiguous, 5, 6, "a.fq\t-\t0\t0\tAMBIGIOUS_DISTANCE\n"},
      {&single, kPairedDistanceWrongDirection, 5, 6, "a.fq\t-\t0\t0\tWRONG_DIRECTION\n"},
      {&single, 6, 5, 6, "a.fq\t-\t0\t0\tUNKNOWN_ERROR\n"},
      {&single, -1, 5, 6, "a.fq\t-\t0\t0\tUNKNOWN_ERROR\n"},
  };
  for (const Case &c : cases) {
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    paired_distance_write_line(f, c.names, c.status, c.min, c.max);
    fclose(f);
    EXPECT_EQ(std::string(text, size), c.line);
    free(text);
  }
}

// Three read files: a paired one with a clear peak, an unpaired one, an
// interleaved pair whose peak is negative.
struct ThreeFiles {
  paired_setting_t *good = paired_setting_new(1, 0, 100, 200);
  paired_setting_t *negative = paired_setting_new(1, 0, 100, 200);
  Histogram h0{499};
  Histogram h2{499};
  pair_dist_info_t *histograms[3];
  paired_setting_t *settings[3] = {good, nullptr, negative};
  read_store_file_t files[3] = {{"lib1.fq", nullptr}, {"single.fa", nullptr}, {"lib2_1.fq", "lib2_2.fq"}};
  read_table_t table{};

  ThreeFiles() {
    h0.plateau(100, 140, 200).count_all();
    h2.plateau(-320, -280, 200).count_all();
    histograms[0] = &h0.info;
    histograms[1] = nullptr;
    histograms[2] = &h2.info;
    table.pair_dist_info = histograms;
    table.file_count = 3;
  }
  ~ThreeFiles() {
    paired_setting_free(good);
    paired_setting_free(negative);
  }
};

TEST(PairDistanceFile, WritesOneLinePerPairedFileAndUpdatesEstimatedSettings) {
  ryx_test::ScratchDir dir;
  const std::string path = dir.file("estimates.txt");
  ThreeFiles t;
  paired_distance_write_estimates(&t.table, t.settings, t.files, path.c_str());
  EXPECT_EQ(ryx_test::read_file(path),
            "lib1.fq\t-\t98\t141\tDISTANCE_ESTIMATED\n"
            "lib2_1.fq\tlib2_2.fq\t-322\t-279\tNEGATIVE_DISTANCE\n");
  EXPECT_EQ(t.good->min_distance, 98);
  EXPECT_EQ(t.good->max_distance, 141);
  EXPECT_EQ(t.negative->min_distance, 100);  // a negative estimate leaves the user's range
  EXPECT_EQ(t.negative->max_distance, 200);
  EXPECT_EQ(ryx_test::dir_names(dir.path()), std::vector<std::string>{"estimates.txt"});
}

TEST(PairDistanceFileDeathTest, FileErrorsEndTheRun) {
  ryx_test::ScratchDir dir;
  const std::string missing = dir.file("no/such/dir/estimates.txt");
  ThreeFiles t;
  EXPECT_EXIT(paired_distance_write_estimates(&t.table, t.settings, t.files, missing.c_str()),
              testing::ExitedWithCode(1), "^Problem opening file: " + missing + "\n$");
  // A device that takes no bytes: the write fails when the file is closed.
  EXPECT_EXIT(paired_distance_write_estimates(&t.table, t.settings, t.files, "/dev/full"), testing::ExitedWithCode(1),
              "^Problem closing file: /dev/full\n$");
}

}  // namespace
