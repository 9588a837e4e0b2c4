// Pair-distance histogram: radius, binning by orientation, merging, dump
// and the stage-file piece.
#include "denovo/reads/pair_dist_info.h"

#include <gtest/gtest.h>

#include <string>

#include "piece_files.h"
#include "test_support.h"

namespace {

using denovo_reads_test::file_of;
using denovo_reads_test::pipe_of;
using denovo_reads_test::written_bytes;

std::string u32_bytes(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; i++) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

TEST(PairDistInfo, RadiusFromTheMaximumDistance) {
  const struct {
    int max;
    int32_t radius;
  } cases[] = {{250, 50000}, {0, 50000}, {-7, 50000}, {41666, 50000}, {41667, 50000}, {50000, 60000},
               {50001, 60001}, {2000000000, kPairDistMaxRadius}};
  for (const auto &c : cases) {
    paired_setting_t *s = paired_setting_new(1, 0, 0, c.max);
    EXPECT_EQ(pair_dist_info_radius(s), c.radius) << c.max;
    paired_setting_free(s);
  }
  paired_setting_t *s = paired_setting_new(1, 0, 0, 0);
  pair_dist_info_t *info = pair_dist_info_new(s, 3);
  EXPECT_EQ(info->radius, 50000);
  EXPECT_EQ(info->db_num, 3);
  EXPECT_EQ(info->bins[0], 0);
  EXPECT_EQ(info->bins[100000], 0);
  pair_dist_info_free(info);
  paired_setting_free(s);
  EXPECT_EQ(pair_dist_info_free(nullptr), nullptr);
}

TEST(PairDistInfo, BinsByOrientationAndStrandFlag) {
  constexpr int32_t r = 50000;
  const struct {
    int orientation;
    int32_t distance;
    int opposite;
    int64_t bin;  // -1: not counted
  } cases[] = {
      {1, 300, 1, r + 300}, {1, 300, 0, -1},       {2, 300, 1, r - 300},    {2, 300, 0, -1},
      {0, 300, 0, r + 300}, {0, 300, 1, -1},       {3, 300, 0, r - 300},    {3, -300, 0, r + 300},
      {1, -r, 1, 0},        {1, r, 1, 2 * r},      {1, r + 1, 1, -1},       {1, -r - 1, 1, -1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.orientation << " " << c.distance << " " << c.opposite);
    paired_setting_t *s = paired_setting_new(c.orientation, 0, 100, 250);
    pair_dist_info_t *info = pair_dist_info_new(s, 0);
    pair_dist_info_add(info, c.distance, c.opposite);
    EXPECT_EQ(info->counted, c.bin >= 0 ? 1 : 0);
    EXPECT_EQ(info->not_counted, c.bin >= 0 ? 0 : 1);
    int64_t total = 0;
    for (int64_t i = 0; i <= 2 * r; i++) total += info->bins[i];
    EXPECT_EQ(total, c.bin >= 0 ? 1 : 0);
    if (c.bin >= 0) {
      EXPECT_EQ(info->bins[c.bin], 1);
    }
    pair_dist_info_free(info);
    paired_setting_free(s);
  }
}

TEST(PairDistInfo, MergeAddsBinsAndCountsButNotWrongOrientation) {
  paired_setting_t *s = paired_setting_new(1, 0, 100, 250);
  pair_dist_info_t *a = pair_dist_info_new(s, 2);
  pair_dist_info_t *b = pair_dist_info_new(s, 2);
  pair_dist_info_add(a, 10, 1);
  pair_dist_info_add(a, 10, 0);
  pair_dist_info_add(b, 10, 1);
  pair_dist_info_add(b, -4, 1);
  pair_dist_info_count_not_counted(b);
  a->wrong_orientation = 7;
  b->wrong_orientation = 5;
  pair_dist_info_merge(a, b);
  EXPECT_EQ(b->counted, 3);
  EXPECT_EQ(b->not_counted, 2);
  EXPECT_EQ(b->wrong_orientation, 5);
  EXPECT_EQ(b->bins[50010], 2);
  EXPECT_EQ(b->bins[49996], 1);
  EXPECT_EQ(a->bins[50010], 1);

  paired_setting_t *wide = paired_setting_new(1, 0, 100, 60000);
  pair_dist_info_t *c = pair_dist_info_new(wide, 2);
  EXPECT_EXIT(pair_dist_info_merge(a, c), testing::ExitedWithCode(1),
              "^pair_dist_info_merge: radius 50000 differs from 72000\n$");
  pair_dist_info_free(c);
  pair_dist_info_free(a);
  pair_dist_info_free(b);
  paired_setting_free(wide);
  paired_setting_free(s);
}

TEST(PairDistInfo, PrintDumpsCountersAndBins) {
  paired_setting_t *s = paired_setting_new(1, 0, 0, 0);
  pair_dist_info_t *info = pair_dist_info_new(s, 0);
  pair_dist_info_add(info, -50000, 1);
  pair_dist_info_count_not_counted(info);
  testing::internal::CaptureStdout();
  pair_dist_info_print(info);
  pair_dist_info_print(nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string start = "Pair dist ( -50000 - 50000 ): 1 / 1 \n0: 1\n1: 0\n2: 0\n";
  EXPECT_EQ(out.substr(0, start.size()), start);
  EXPECT_EQ(out.substr(out.size() - 12), "\n100000: 0\n\n");
  pair_dist_info_free(info);
  paired_setting_free(s);
}

TEST(PairDistInfoPiece, HandWrittenPieceReadsAndWritesBack) {
  const std::string golden = ryx_test::hex_fixture("denovo/reads/pair_dist_radius2.piece.hex");
  paired_setting_t *s = paired_setting_new(1, 0, 0, 0);
  FILE *f = file_of(golden);
  pair_dist_info_t *info = pair_dist_info_read(f, s, 4);
  fclose(f);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->radius, 2);
  EXPECT_EQ(info->counted, 5);
  EXPECT_EQ(info->not_counted, 3);
  EXPECT_EQ(info->wrong_orientation, 1);
  EXPECT_EQ(info->db_num, 4);
  EXPECT_EQ(info->setting, s);
  EXPECT_EQ(info->bins[0], 1);
  EXPECT_EQ(info->bins[2], 4);
  EXPECT_EQ(written_bytes([&](FILE *out) { pair_dist_info_write(out, info); }), golden);
  pair_dist_info_free(info);

  // A full-size histogram round-trips byte for byte.
  pair_dist_info_t *full = pair_dist_info_new(s, 9);
  pair_dist_info_add(full, 123, 1);
  pair_dist_info_add(full, -50000, 1);
  full->wrong_orientation = 2;
  const std::string bytes = written_bytes([&](FILE *out) { pair_dist_info_write(out, full); });
  EXPECT_EQ(bytes.size(), 21u + 4u * 100001u);
  FILE *g = file_of(bytes);
  pair_dist_info_t *back = pair_dist_info_read(g, s, 9);
  fclose(g);
  EXPECT_EQ(written_bytes([&](FILE *out) { pair_dist_info_write(out, back); }), bytes);
  pair_dist_info_free(back);
  pair_dist_info_free(full);

  EXPECT_EQ(written_bytes([](FILE *out) { pair_dist_info_write(out, nullptr); }), std::string(1, '\0'));
  FILE *absent = file_of(std::string(1, '\0'));
  EXPECT_EQ(pair_dist_info_read(absent, s, 0), nullptr);
  fclose(absent);
  paired_setting_free(s);
}

TEST(PairDistInfoPiece, DamagedPiecesEndWithAMessageAndStatus1) {
  auto head = [](uint32_t radius, uint32_t db) {
    return std::string(1, '\1') + u32_bytes(radius) + u32_bytes(0) + u32_bytes(0) + u32_bytes(0) + u32_bytes(db);
  };
  const struct {
    const char *name;
    std::string bytes;
    const char *message;
  } cases[] = {
      {"flag", std::string(1, '\5'), "^pair_dist_info_read: presence byte is 5, not 0 or 1\n$"},
      {"file index", head(1, 3) + std::string(12, '\0'), "^Error, db_num != info->db_num in pair_dist_info_read\n$"},
      {"negative radius", head(0xFFFFFFFF, 4), "^pair_dist_info_read: radius 4294967295 is above 1073741823\n$"},
      {"bins beyond the file", head(1000, 4) + std::string(12, '\0'),
       "^pair_dist_info_read: the bins need 8004 bytes but the file holds 12 more\n$"},
      {"short header", head(1, 4).substr(0, 7), "^Error reading file: early termination\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          FILE *f = file_of(c.bytes);
          pair_dist_info_read(f, nullptr, 4);
        },
        testing::ExitedWithCode(1), c.message);
  }
  EXPECT_EXIT(
      {
        FILE *pipe = pipe_of(head(2, 4) + std::string(12, '\0'));
        pair_dist_info_read(pipe, nullptr, 4);
      },
      testing::ExitedWithCode(1), "^pair_dist_info_read: the bins need 20 bytes but the file holds 12 more\n$");
}

}  // namespace
