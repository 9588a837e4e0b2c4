// The option handlers of ryx_readalign: what each command line leaves in
// the option state and the parameters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cpus.h"
#include "fm/mapper/mapper_options.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/runtime/file.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using ryx_test::write_file;

// Parses words (after a program name) into fresh state; returns the
// problem count. The usage report goes to a scratch stream.
struct Parsed {
  explicit Parsed(std::vector<std::string> words) : words_(std::move(words)) {
    options.parameters = &parameters;
    argv_.push_back(const_cast<char *>("ryx_readalign"));
    for (std::string &w : words_) argv_.push_back(w.data());
    CmdLineParser<mapper_parser_t> parser(options, static_cast<int>(argv_.size()), argv_.data(), "RYX Read Mapper",
                                          build_version_string(), "nq");
    mapper_register_options(parser);
    FILE *sink = tmpfile();
    parser.set_output(sink);
    problems = parser.finalize();
    fclose(sink);
  }
  ~Parsed() { mapper_parser_release(&options); }
  MapperParameters parameters;
  mapper_parser_t options;
  int problems = 0;

 private:
  std::vector<std::string> words_;
  std::vector<char *> argv_;
};

struct Files {
  Files() {
    write_file(dir.file("a.fa"), ">a\nACGT\n");
    write_file(dir.file("b.fa"), ">b\nACGT\n");
    write_file(dir.file("r.fq"), "@r\nACGT\n+\nIIII\n");
    write_file(dir.file("s.fq"), "@s\nACGT\n+\nIIII\n");
    write_file(dir.file("tiny.idx"), "RYX");
    write_file(dir.file("magic.fa"), std::string("RYX\x80\x00\x00\x02\x00", 8));
  }
  std::string operator()(const char *name) const { return dir.file(name); }
  ScratchDir dir;
};

TEST(MapperOptions, CircularAppliesToTheNextReferenceOnly) {
  Files f;
  Parsed p({"-d", "-z", f("a.fa"), f("b.fa"), "-n", f("out.idx")});
  ASSERT_EQ(p.problems, 0);
  ASSERT_EQ(p.options.fasta_references.size(), 2U);
  EXPECT_EQ(p.options.fasta_references[0].name, f("a.fa"));
  EXPECT_TRUE(p.options.fasta_references[0].circular);
  EXPECT_FALSE(p.options.fasta_references[1].circular);
  EXPECT_EQ(p.options.index_output, f("out.idx"));
  // Only named: the file is made by the run, not by the parser.
  EXPECT_FALSE(ryx_test::file_exists(f("out.idx")));
}

TEST(MapperOptions, IndexFilesAreRecognisedByTheirFirstFourBytes) {
  Files f;
  Parsed p({"-d", f("magic.fa"), f("tiny.idx"), f("a.fa"), "-n", f("out.idx")});
  ASSERT_EQ(p.problems, 0);
  ASSERT_EQ(p.options.index_references.size(), 1U);
  EXPECT_EQ(p.options.index_references[0].name, f("magic.fa"));
  ASSERT_EQ(p.options.fasta_references.size(), 2U);
  EXPECT_EQ(p.options.fasta_references[0].name, f("tiny.idx"));
}

TEST(MapperOptions, PendingReadSettingsInCommandLineOrder) {
  Files f;
  Parsed p({"-d", f("a.fa"), "-o", f("out.nyr"), "-q", "--readoffset", "100", f("r.fq"), f("s.fq"), "--type",
            "pacbio", "-p", "bf", "ee", "10", "20", f("r.fq"), "-p", "no", f("s.fq"), "-p", "ff", "se", "0", "5",
            "-i", f("r.fq"), f("s.fq")});
  ASSERT_EQ(p.problems, 0);
  const std::vector<read_file_t> &files = p.options.read_files;
  ASSERT_EQ(files.size(), 5U);
  EXPECT_EQ(files[0].read_offset, 100U);
  EXPECT_EQ(files[1].read_offset, 0U);
  EXPECT_EQ(files[0].technology, 0U);
  EXPECT_FALSE(files[1].paired);
  EXPECT_EQ(files[2].technology, 1U);
  EXPECT_TRUE(files[2].paired);
  EXPECT_EQ(files[2].paired_settings.mode, 2U);
  EXPECT_EQ(files[2].paired_settings.distance_mode, 3U);
  EXPECT_EQ(files[2].paired_settings.min_distance, 10U);
  EXPECT_EQ(files[2].paired_settings.max_distance, 20U);
  EXPECT_FALSE(files[3].paired);
  EXPECT_EQ(files[3].technology, 1U);
  // The interleaved pair: both files, normal technology, its own settings.
  EXPECT_TRUE(files[4].paired);
  ASSERT_NE(files[4].second, nullptr);
  EXPECT_EQ(std::string(files[4].second->name()), f("s.fq"));
  EXPECT_EQ(files[4].technology, 0U);
  EXPECT_EQ(files[4].paired_settings.mode, 0U);
  EXPECT_EQ(files[4].paired_settings.distance_mode, 1U);
  EXPECT_EQ(files[4].paired_settings.max_distance, 5U);
}

TEST(MapperOptions, GapAndDeletionCostsInEitherOrder) {
  Files f;
  const std::vector<std::vector<std::string>> orders = {{"--gapcost", "2", "--deletioncost", "1"},
                                                        {"--deletioncost", "1", "--gapcost", "2"}};
  for (const auto &order : orders) {
    std::vector<std::string> words = {"-d", f("a.fa"), "-q", f("r.fq"), "-o", f("out.nyr")};
    words.insert(words.end(), order.begin(), order.end());
    Parsed p(words);
    ASSERT_EQ(p.problems, 0);
    EXPECT_EQ(p.parameters.gap_cost, 2U);
    EXPECT_EQ(p.parameters.deletion_cost, 1U);
  }
  Parsed opens({"-d", f("a.fa"), "-q", f("r.fq"), "-o", f("out.nyr"), "-G", "4"});
  EXPECT_EQ(opens.parameters.gap_open, 4U);
  EXPECT_EQ(opens.parameters.deletion_open, 4U);
}

TEST(MapperOptions, SettingsReachTheParameters) {
  Files f;
  Parsed p({"-d", f("a.fa"), "-q", f("r.fq"), "-o", f("out.nyr"), "-m", "2", "-x", "4", "-a", "global", "-b",
            "--bisulphite", "--nondirectional", "--longestonly", "--mapq", "--min-seed-length", "20", "--sensitive",
            "-r", "ignore", "-t", "7", "-s", "0.95", "-l", "3/4", "--noprogress", "--indexmemory", "300", "-M",
            "5000", "-S", "700", "--force-extender", "dropoff", "--index-pos-rate", "6"});
  ASSERT_EQ(p.problems, 0);
  const MapperParameters &m = p.parameters;
  EXPECT_EQ(m.match_score, 2U);
  EXPECT_EQ(m.mismatch_cost, 4U);
  EXPECT_EQ(m.align_mode, kAlignGlobal);
  EXPECT_EQ(m.strand_mask, 2U);
  EXPECT_TRUE(m.bisulphite && m.non_directional && m.longest_only && m.mapping_quality && m.sensitive);
  EXPECT_EQ(m.min_seed_length, 20U);
  EXPECT_EQ(m.repeat_mode, kRepeatIgnore);
  EXPECT_EQ(m.max_align, 7U);
  EXPECT_EQ(m.similarity.numerator, 19);
  EXPECT_EQ(m.similarity.denominator, 20);
  EXPECT_EQ(m.length_fraction.numerator, 3);
  EXPECT_EQ(m.length_fraction.denominator, 4);
  EXPECT_TRUE(m.progress_off);
  EXPECT_EQ(m.index_memory_mb, 300U);
  EXPECT_EQ(m.mapper_memory_mb, 5000U);
  EXPECT_EQ(m.normal_type_limit, 700U);
  EXPECT_EQ(m.forced_extender, kExtenderDropoff);
  EXPECT_EQ(m.position_sampling_shift, 6U);
}

TEST(MapperOptions, CpusSetsTheWorkerCount) {
  Files f;
  Parsed p({"-d", f("a.fa"), "-n", f("out.idx"), "--cpus", "3"});
  ASSERT_EQ(p.problems, 0);
  EXPECT_EQ(get_number_of_cpus(), 3);
  set_number_of_cpus(0);
}

TEST(MapperOptions, MapperMemoryGivesTheThreadCount) {
  // (4000 MB - 3 GiB) / (48 x 500^2) = 81.
  EXPECT_EQ(mapper_memory_threads(4000, 500), 81U);
  EXPECT_EQ(mapper_memory_threads(4000, 15000), 1U);
  EXPECT_EQ(mapper_memory_threads(1000000, 500), (1000000ULL * 1048576 - 3221225472ULL) / 12000000);
}

TEST(MapperOptions, VersionText) { EXPECT_EQ(build_version_string(), "23.0.0.263791"); }

}  // namespace
