// GFF and AGP line formats, and reading an AGP file back.
#include "denovo/app/contig_features.h"

#include <gtest/gtest.h>

#include <string>

#include "common/memory.h"
#include "common/string_util.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

std::string take(char *line) {
  std::string out(line);
  ryx_free(line);
  return out;
}

struct NamedRecord {
  seq_record_t *record;
  explicit NamedRecord(const char *name) : record(seq_record_new_empty()) { record->name = string_duplicate(name); }
  ~NamedRecord() { seq_record_free(record); }
};

TEST(ContigFeatures, GffColumns) {
  NamedRecord ctg("contig_4");
  struct Case {
    const char *name;
    feature_t f;
    const char *line;
  };
  const std::vector<Case> cases = {
      {"defaults", {nullptr, nullptr, nullptr, -1, -1, 0, 0, -1, 0, nullptr},
       "feature\tunknown_source\tunknown_type\t-1\t-1\t0\t.\t.\t0\n"},
      {"plus strand and phase", {ctg.record, "src", "gene", 3, 9, 7, 1, 2, 65535, nullptr},
       "contig_4\tsrc\tgene\t3\t9\t7\t+\t2\t65535\n"},
      {"minus strand", {ctg.record, "src", "gene", 3, 9, -7, 255, 0, 1, nullptr}, "contig_4\tsrc\tgene\t3\t9\t-7\t-\t0\t1\n"},
      {"other strand byte", {ctg.record, "s", "t", 1, 1, 1, 7, -1, 0, nullptr}, "contig_4\ts\tt\t1\t1\t1\t.\t.\t0\n"},
  };
  for (const Case &c : cases) EXPECT_EQ(take(feature_format_gff_line(&c.f)), c.line) << c.name;
  feature_t *empty = feature_new();
  EXPECT_EQ(take(feature_format_gff_line(empty)), cases[0].line);
  EXPECT_EQ(empty->free_callback(empty), nullptr);
}

// start = min(a, b), end = max(a, b), score b - a + 1 forwards and b - a - 1
// backwards.
TEST(ContigFeatures, GffRangeRule) {
  NamedRecord ctg("contig_1");
  EXPECT_EQ(take(feature_format_gff_range(ctg.record, "Scaffold", 17, 21)),
            "contig_1\tRYX De Novo Assembler\tScaffold\t17\t21\t5\t.\t.\t0\n");
  EXPECT_EQ(take(feature_format_gff_range(ctg.record, "Scaffold", 21, 17)),
            "contig_1\tRYX De Novo Assembler\tScaffold\t17\t21\t-5\t.\t.\t0\n");
  EXPECT_EQ(take(feature_format_gff_range(ctg.record, "Scaffold", 8, 8)),
            "contig_1\tRYX De Novo Assembler\tScaffold\t8\t8\t1\t.\t.\t0\n");
}

TEST(ContigFeatures, AgpLines) {
  NamedRecord ctg("contig_2");
  EXPECT_EQ(take(agp_format_component_line(ctg.record, 1, 16, 1, 1)), "contig_2\t1\t16\t1\tW\tcontig_2_1\t1\t16\t+\n");
  EXPECT_EQ(take(agp_format_gap_line(ctg.record, 17, 116, 2)),
            "contig_2\t17\t116\t2\tN\t100\tscaffold\tyes\tpaired-ends\n");
  EXPECT_EQ(take(agp_format_component_line(nullptr, 5, 5, 3, 2)), "feature\t5\t5\t3\tW\tfeature_2\t1\t1\t+\n");
  FILE *f = tmpfile();
  agp_write_header(f);
  rewind(f);
  char buffer[64] = {0};
  EXPECT_EQ(fread(buffer, 1, sizeof(buffer) - 1, f), 18u);
  EXPECT_STREQ(buffer, "##agp-version\t2.0\n");
  fclose(f);
}

TEST(ContigFeatures, ReadAgpBack) {
  ryx_test::ScratchDir dir;
  const std::string path = dir.file("in.agp");
  ryx_test::write_file(path,
                       "##agp-version\t2.0\n"
                       "contig_1\t1\t16\t1\tW\tcontig_1_1\t1\t16\t+\n"
                       "contig_1\t17\t21\t2\tN\t5\tscaffold\tyes\tpaired-ends\n"
                       "\n"
                       "too few words\n"
                       "# a comment of any length\n"
                       "contig_1 22 38  3 W contig_1_2 1 17 +\n");
  testing::internal::CaptureStdout();
  array_list_t *records = agp_read_gap_lengths(path.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING: line 5 is not correctly formatted.");
  ASSERT_EQ(array_list_get_count(records), 3u);
  auto at = [&](uint64_t i) { return static_cast<agp_record_t *>(array_list_get_item(records, i)); };
  EXPECT_STREQ(at(0)->object, "contig_1");
  EXPECT_EQ(at(0)->begin, 1);
  EXPECT_EQ(at(0)->end, 16);
  EXPECT_STREQ(at(0)->component_id, "contig_1_1");
  EXPECT_EQ(at(0)->gap_length, -1);
  EXPECT_EQ(at(1)->begin, 17);
  EXPECT_EQ(at(1)->end, 21);
  EXPECT_EQ(at(1)->component_id, nullptr);
  EXPECT_EQ(at(1)->gap_length, 5);
  EXPECT_EQ(at(2)->begin, 22);
  EXPECT_STREQ(at(2)->component_id, "contig_1_2");
  EXPECT_EQ(agp_record_list_free(records), nullptr);
}

TEST(ContigFeaturesDeathTest, ReadMissingAgp) {
  EXPECT_EXIT(agp_read_gap_lengths("/nonexistent/x.agp"), testing::ExitedWithCode(1), "");
}

}  // namespace
