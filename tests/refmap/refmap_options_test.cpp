// The command line of ryx_refmap in process: file entries by type with
// their paired settings, the derived colour cost, error unit, deletion cost
// and score limit, and the score-limit refusals. The usage problems are
// covered end to end in refmap_program_test.cpp.
#include "refmap/refmap_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seqio/paired_setting.h"
#include "seqio/seq_file_list.h"

namespace {

// Parsed and checked options of the words after the program name.
refmap_options_t *parse(std::vector<std::string> words) {
  words.insert(words.begin(), "ryx_refmap");
  std::vector<char *> argv;
  static std::vector<std::string> keep;
  keep = words;
  for (std::string &w : keep) argv.push_back(w.data());
  argv.push_back(nullptr);
  refmap_options_t *options = refmap_options_parse(static_cast<int>(keep.size()), argv.data());
  refmap_options_check(options);
  return options;
}

std::vector<std::string> with_files(std::vector<std::string> words) {
  words.insert(words.end(), {"-o", "out.nyr", "-d", "ref.fa", "-q", "reads.fa"});
  return words;
}

TEST(RefmapOptions, FilesByTypeWithTheirOwnPairedSettings) {
  refmap_options_t *o = parse({"-o", "out.nyr", "-q", "a.fq", "-p", "fb", "ss", "180", "250", "b.fq", "c.fq",
                               "--interleaved", "d1.fq", "d2.fq", "-p", "no", "e.fq", "-d", "r1.fa", "r2.gb"});
  ASSERT_EQ(o->read_file_count, 5);
  ASSERT_EQ(o->reference_file_count, 2);
  EXPECT_STREQ(o->output_path, "out.nyr");
  EXPECT_STREQ(o->reference_files->entries[1]->names[0], "r2.gb");
  const char *names[] = {"a.fq", "b.fq", "c.fq", "d1.fq", "e.fq"};
  const bool paired[] = {false, true, true, true, false};
  for (int i = 0; i < 5; i++) {
    const seq_file_info_t *entry = o->read_files->entries[i];
    EXPECT_STREQ(entry->names[0], names[i]);
    EXPECT_EQ(seq_file_info_is_paired(entry) != 0, paired[i]) << i;
    EXPECT_EQ(o->read_settings[i] != nullptr, paired[i]) << i;
  }
  EXPECT_TRUE(seq_file_info_is_pair(o->read_files->entries[3]));
  EXPECT_STREQ(o->read_files->entries[3]->names[1], "d2.fq");
  // Every paired file owns its own copy of the setting.
  EXPECT_NE(o->read_settings[1], o->read_settings[2]);
  EXPECT_NE(o->read_settings[2], o->read_settings[3]);
  for (int i = 1; i <= 3; i++) {
    EXPECT_EQ(o->read_settings[i]->orientation, 1);
    EXPECT_EQ(o->read_settings[i]->distance_mode, 0);
    EXPECT_EQ(o->read_settings[i]->min_distance, 180);
    EXPECT_EQ(o->read_settings[i]->max_distance, 250);
  }
  EXPECT_STREQ(o->command_line,
               "-o out.nyr -q a.fq -p fb ss 180 250 b.fq c.fq --interleaved d1.fq d2.fq -p no e.fq -d r1.fa r2.gb");
  refmap_options_free(o);
}

TEST(RefmapOptions, DefaultsAndDerivedScoring) {
  struct Case {
    std::vector<std::string> words;
    int32_t colour_cost, unit, deletion, score_limit;
  } cases[] = {
      {{}, -1, 3, 3, 8},
      {{"-x", "1"}, -1, 2, 3, 5},
      {{"-x", "3", "-g", "2"}, -1, 4, 2, 11},
      {{"-e", "1"}, -1, 3, 1, 8},
      {{"-c"}, 3, 3, 3, 8},              // C = 3 > x = 2: the unit stays x + 1
      {{"-c", "-y", "1"}, 1, 1, 3, 2},   // C = 1 <= x: the unit is C
      {{"-c", "-y", "2"}, 2, 2, 3, 5},
      {{"-s", "11"}, -1, 3, 3, 11},      // the largest limit for x = 2
      {{"-s", "0"}, -1, 3, 3, 0},
  };
  for (const Case &c : cases) {
    refmap_options_t *o = parse(with_files(c.words));
    EXPECT_EQ(o->colour_cost, c.colour_cost) << c.words.size();
    EXPECT_EQ(o->error_unit, c.unit);
    EXPECT_EQ(o->deletion_cost, c.deletion);
    EXPECT_EQ(o->score_limit, c.score_limit);
    refmap_options_free(o);
  }
  refmap_options_t *o = parse(with_files({}));
  EXPECT_EQ(o->report_limit, 1);
  EXPECT_EQ(o->gapped, 1);
  EXPECT_EQ(o->align_mode, 0);
  EXPECT_EQ(o->repeat_mode, kRefmapRepeatRandom);
  EXPECT_EQ(o->memory_fraction, 1.0);
  EXPECT_EQ(o->progress, 1);
  EXPECT_EQ(o->cpus, 0);
  EXPECT_EQ(o->block_size, 0);
  refmap_options_free(o);
  o = parse(with_files({"-a", "semi-global", "-r", "ignore", "-u", "-t", "7", "-m", "0.25", "-b", "--cpus", "3",
                        "--no-progress", "--blocksize", "5000", "-n", "12"}));
  EXPECT_EQ(o->align_mode, 1);
  EXPECT_EQ(o->repeat_mode, kRefmapRepeatIgnore);
  EXPECT_EQ(o->gapped, 0);
  EXPECT_EQ(o->report_limit, 7);
  EXPECT_EQ(o->memory_fraction, 0.25);
  EXPECT_EQ(o->backward_only, 1);
  EXPECT_EQ(o->cpus, 3);
  EXPECT_EQ(o->progress, 0);
  EXPECT_EQ(o->block_size, 5000);
  EXPECT_EQ(o->move_limit, 12);
  refmap_options_free(o);
  o = parse(with_files({"-a", "global"}));
  EXPECT_EQ(o->align_mode, 3);
  refmap_options_free(o);
}

TEST(RefmapOptions, ScoreLimitAboveTheMaximumIsRefused) {
  EXPECT_EXIT(parse(with_files({"-s", "12"})), testing::ExitedWithCode(1),
              "^Maximum score limit is 11 for a mismatch cost of 2.\n$");
  EXPECT_EXIT(parse(with_files({"-x", "1", "-s", "8"})), testing::ExitedWithCode(1),
              "^Maximum score limit is 7 for a mismatch cost of 1.\n$");
  EXPECT_EXIT(parse(with_files({"-c", "-s", "9"})), testing::ExitedWithCode(1),
              "^Maximum score limit is 8 for a mismatch cost of 2 and color error cost of 3.\n$");
  EXPECT_EXIT(parse(with_files({"-c", "-y", "1", "-s", "3"})), testing::ExitedWithCode(1),
              "^Maximum score limit is 2 for a mismatch cost of 2 and color error cost of 1.\n$");
}

TEST(RefmapOptions, PairDistanceLimitKeepsTheSmallestBlockWithinTheLargest) {
  // The smallest block for the largest distance and read length bound
  // still fits the largest block the index can address.
  EXPECT_EQ(refmap_max_pair_distance(), 858993459 - (2 * 240 + 6 * 56 + 1));
  refmap_options_t *o = parse(with_files({"-p", "ff", "ee", "0", std::to_string(refmap_max_pair_distance())}));
  ASSERT_NE(o->read_settings[0], nullptr);
  EXPECT_EQ(o->read_settings[0]->max_distance, refmap_max_pair_distance());
  refmap_options_free(o);
}

}  // namespace
