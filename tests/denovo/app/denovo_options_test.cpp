// Command line of the assembler: entries with their paired setting and
// fragment mode, the per-entry flags the stages get, stage bookkeeping, the
// automatic word size and the feature format by name. Messages and statuses
// of bad command lines are checked end to end on the program itself.
#include "denovo/app/denovo_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parses the words (after a program name) into options.
struct Parsed {
  std::vector<std::string> words;
  std::vector<char *> argv;
  denovo_options_t options{};

  explicit Parsed(std::vector<std::string> w) : words(std::move(w)) {
    words.insert(words.begin(), "ryx_denovo");
    for (auto &word : words) argv.push_back(word.data());
    denovo_options_parse(static_cast<int>(argv.size()), argv.data(), &options);
    denovo_options_derive(&options);
  }
  ~Parsed() { denovo_options_free(&options); }
};

TEST(DenovoOptions, EntriesTakeTheSettingAndModeInForce) {
  Parsed p({"-o", "out.fa", "-p", "d", "fb", "ss", "180", "250", "-q", "a.fa", "b.fa", "-p", "no", "c.fa", "-g",
            "ignore", "d.fa", "-p", "ff", "ee", "10", "20", "-g", "use", "-i", "e1.fa", "e2.fa"});
  const denovo_options_t &o = p.options;
  ASSERT_EQ(o.entry_count, 5);
  struct Want {
    const char *first;
    const char *second;
    int32_t paired;
    int32_t use;
  } want[] = {
      // "d" keeps the reads out of the fragments, for every later file too.
      {"a.fa", nullptr, 1, 0},
      {"b.fa", nullptr, 1, 0},
      {"c.fa", nullptr, 0, 1},
      {"d.fa", nullptr, 0, 0},
      {"e1.fa", "e2.fa", 1, 1},
  };
  for (int32_t i = 0; i < 5; i++) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(o.name_pairs[i].path, want[i].first);
    if (want[i].second == nullptr) {
      EXPECT_EQ(o.name_pairs[i].second_path, nullptr);
    } else {
      EXPECT_STREQ(o.name_pairs[i].second_path, want[i].second);
    }
    EXPECT_EQ(o.paired_flags[i], want[i].paired);
    EXPECT_EQ(o.use_flags[i], want[i].use);
    EXPECT_EQ(o.settings[i] != nullptr, want[i].paired == 1);
  }
  EXPECT_EQ(o.settings[0]->orientation, 1);
  EXPECT_EQ(o.settings[0]->min_distance, 180);
  EXPECT_EQ(o.settings[0]->max_distance, 250);
  EXPECT_EQ(o.settings[4]->orientation, 0);
  EXPECT_EQ(o.settings[4]->distance_mode, 3);
  // Each entry owns its own setting.
  EXPECT_NE(o.settings[0], o.settings[1]);
  EXPECT_EQ(o.any_paired, 1);
}

TEST(DenovoOptions, DefaultsAndValues) {
  Parsed d({"-o", "x", "-q", "r.fa"});
  EXPECT_EQ(d.options.min_length, 200);
  EXPECT_EQ(d.options.word_size, -1);
  EXPECT_EQ(d.options.bubble_size, 50);
  EXPECT_EQ(d.options.cpus, 0);
  EXPECT_EQ(d.options.scaffolding, 1);
  EXPECT_EQ(d.options.any_paired, 0);
  EXPECT_EQ(d.options.last_stage, 6);
  EXPECT_EQ(d.options.earliest_save, 6);

  Parsed v({"--output", "x", "-m", "500", "-w", "31", "-b", "7", "--cpus", "1", "-n", "-v", "--reads", "r.fa",
            "--showcontigs"});
  EXPECT_EQ(v.options.min_length, 500);
  EXPECT_EQ(v.options.word_size, 31);
  EXPECT_EQ(v.options.bubble_size, 7);
  EXPECT_EQ(v.options.cpus, 1);
  EXPECT_EQ(v.options.scaffolding, 0);
  EXPECT_EQ(v.options.verbose, 1);
  EXPECT_EQ(v.options.show_contigs, 1);
}

TEST(DenovoOptions, StageBookkeeping) {
  struct Case {
    std::vector<std::string> words;
    int32_t load, earliest, last;
  } cases[] = {
      {{"--savereads", "s", "-q", "r"}, 0, 2, 2},
      {{"--savefragments", "f", "--savereadgraph", "g", "-q", "r"}, 0, 1, 4},
      {{"--loadreads", "l", "--saveinitialgraph", "g", "-o", "x", "-q", "r"}, 2, 3, 6},
      {{"--loadpairedgraph", "l", "-o", "x"}, 5, 6, 6},
      {{"--loadfragments", "l", "--savepairedgraph", "p", "-q", "r"}, 1, 5, 5},
  };
  for (const auto &c : cases) {
    Parsed p(c.words);
    SCOPED_TRACE(c.words[0]);
    EXPECT_EQ(p.options.load_stage, c.load);
    EXPECT_EQ(p.options.earliest_save, c.earliest);
    EXPECT_EQ(p.options.last_stage, c.last);
  }
}

TEST(DenovoOptions, AutomaticWordSize) {
  struct Case {
    uint64_t nucleotides;
    int32_t word_size;
  } cases[] = {
      {0, 12},          {30000, 12},       {30001, 13},  {90002, 13}, {90003, 14}, {100000, 14},
      {270008, 14},     {270009, 15},      {810026, 15}, {810027, 16}, {UINT64_MAX, 43},
  };
  for (const auto &c : cases) EXPECT_EQ(denovo_choose_word_size(c.nucleotides), c.word_size) << c.nucleotides;
}

TEST(DenovoOptions, FeatureFormatByName) {
  struct Case {
    const char *path;
    int agp;
  } cases[] = {
      {"out.agp", 1}, {"out.AGP", 1}, {"out.agp.txt", 1}, {"x.AGP.gz", 1},
      {"out.gff", 0}, {"out.Agp", 0}, {"agp", 0},         {"out", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(denovo_feature_path_is_agp(c.path), c.agp) << c.path;
}

}  // namespace
