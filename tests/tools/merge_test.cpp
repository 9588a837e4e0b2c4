// ryx_merge's joined header and its byte copy, on headers built in memory.
#include "tools/merge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/input_stream.h"
#include "common/string_util.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace {

using ryx_test::read_file;
using ryx_test::ScratchDir;
using ryx_test::write_file;

struct HeaderFields {
  int version = 3;
  std::vector<uint32_t> lengths{1000, 300};
  std::vector<uint16_t> flags{0, 0};
  uint64_t reads = 2;
  const char *name = "rx";
  const char *program_version = "1.0";
  const char *command = "rx run";
  std::string read_file = "reads.fq";
};

seq_file_info_list_t *one_entry(const std::string &name) {
  return seq_file_info_list_new_single(seq_file_info_new(string_duplicate(name.c_str()), -1, -1));
}

nyr_file_t *make_header(const HeaderFields &fields) {
  nyr_file_t *h = nyr_file_new(static_cast<uint32_t>(fields.lengths.size()), fields.lengths.data(), fields.reads);
  for (size_t i = 0; i < fields.flags.size() && i < fields.lengths.size(); i++) h->contigs[i]->flags = fields.flags[i];
  h->version = fields.version;
  h->program_name = string_duplicate(fields.name);
  h->program_version = string_duplicate(fields.program_version);
  h->command_line = string_duplicate(fields.command);
  h->reference_files = one_entry("ref.fa");
  h->read_files = one_entry(fields.read_file);
  return h;
}

// Joins the headers of the inputs and hands the joined header to check.
template <typename Check>
void join(const std::vector<HeaderFields> &inputs, Check check) {
  std::vector<nyr_file_t *> headers;
  std::vector<std::string> names;
  for (const HeaderFields &s : inputs) {
    headers.push_back(make_header(s));
    names.push_back("in" + std::to_string(names.size()) + ".nyr");
  }
  std::vector<char *> paths;
  for (std::string &n : names) paths.push_back(n.data());
  nyr_file_t *joined = merge_join_headers(headers.data(), static_cast<int32_t>(headers.size()), paths.data());
  check(joined);
  nyr_file_free(joined);
  for (nyr_file_t *h : headers) nyr_file_free(h);
}

std::string text_or_none(const char *text) { return text != nullptr ? text : "(none)"; }

TEST(MergeJoinHeaders, StringsAreKeptOnlyWhenAllInputsAgree) {
  struct Case {
    std::vector<const char *> names;
    const char *joined;
  } cases[] = {
      {{"rx"}, "rx"},
      {{"rx", "rx", "rx"}, "rx"},
      {{"rx", "rx", "ry"}, nullptr},
      {{"rx", "ry", "rx"}, nullptr},
      {{"rx", nullptr}, nullptr},
      {{nullptr, "rx"}, nullptr},
      {{nullptr, nullptr}, nullptr},
      {{"rx", "RX"}, nullptr},
  };
  for (const Case &c : cases) {
    std::vector<HeaderFields> inputs;
    for (const char *name : c.names) {
      HeaderFields s;
      s.name = name;
      inputs.push_back(s);
    }
    join(inputs, [&](nyr_file_t *joined) {
      EXPECT_EQ(text_or_none(joined->program_name), text_or_none(c.joined)) << c.names.size();
      // The other two strings agree in every input here.
      EXPECT_EQ(text_or_none(joined->program_version), "1.0");
      EXPECT_EQ(text_or_none(joined->command_line), "rx run");
    });
  }
  HeaderFields a, b;
  b.program_version = "1.1";
  b.command = "rx other";
  join({a, b}, [](nyr_file_t *joined) {
    EXPECT_EQ(text_or_none(joined->program_name), "rx");
    EXPECT_EQ(joined->program_version, nullptr);
    EXPECT_EQ(joined->command_line, nullptr);
  });
}

TEST(MergeJoinHeaders, CountsListsContigsAndScheme) {
  HeaderFields a, b, c;
  a.reads = 2;
  b.reads = 5;
  c.reads = 0;
  a.read_file = "a.fq";
  b.read_file = "b.fq";
  c.read_file = "c.fq";
  b.flags = {0, 1};
  c.flags = {1, 0};
  std::vector<nyr_file_t *> headers{make_header(a), make_header(b), make_header(c)};
  headers[0]->scheme = nyr_scoring_scheme_new(6, 1, 7, 2, 1, -4, -5, -6, 3);
  headers[1]->scheme = nyr_scoring_scheme_new(1, 1, 1, 1, 1, -1, -1, -1, 0);
  char p0[] = "a.nyr", p1[] = "b.nyr", p2[] = "c.nyr";
  char *paths[] = {p0, p1, p2};
  nyr_file_t *joined = merge_join_headers(headers.data(), 3, paths);

  EXPECT_EQ(joined->read_count, 7u);
  ASSERT_EQ(joined->read_files->count, 3);
  EXPECT_STREQ(joined->read_files->entries[0]->names[0], "a.fq");
  EXPECT_STREQ(joined->read_files->entries[1]->names[0], "b.fq");
  EXPECT_STREQ(joined->read_files->entries[2]->names[0], "c.fq");
  ASSERT_EQ(joined->reference_files->count, 1);
  EXPECT_STREQ(joined->reference_files->entries[0]->names[0], "ref.fa");
  ASSERT_EQ(joined->contig_count, 2u);
  EXPECT_EQ(joined->contigs[0]->length, 1000u);
  EXPECT_EQ(joined->contigs[1]->length, 300u);
  // Circular in any input makes it circular.
  EXPECT_EQ(joined->contigs[0]->flags, 1);
  EXPECT_EQ(joined->contigs[1]->flags, 1);
  // The first input's scheme, whole.
  ASSERT_NE(joined->scheme, nullptr);
  EXPECT_NE(joined->scheme, headers[0]->scheme);
  EXPECT_EQ(joined->scheme->insertion_first, 6);
  EXPECT_EQ(joined->scheme->deletion_further, 2);
  EXPECT_EQ(joined->scheme->mismatch[2], -6);
  EXPECT_EQ(joined->scheme->mode, 3);
  EXPECT_EQ(joined->scheme->colour_error, -1);
  nyr_file_free(joined);
  // The inputs are untouched by the join.
  EXPECT_EQ(headers[0]->contigs[1]->flags, 0);
  for (nyr_file_t *h : headers) nyr_file_free(h);

  // No scheme in the first input: none in the joined file.
  HeaderFields plain;
  join({plain}, [](nyr_file_t *joined) { EXPECT_EQ(joined->scheme, nullptr); });
}

TEST(MergeJoinHeaders, VersionsOneToThreeJoinAmongThemselves) {
  for (int version : {1, 2, 3}) {
    HeaderFields a, b;
    a.version = b.version = version;
    join({a, b}, [](nyr_file_t *joined) { EXPECT_EQ(joined->read_count, 4u); });
  }
}

// The layout checks: each ends the process with its message and status 1
// before anything is written.
TEST(MergeJoinHeaders, LayoutMismatchesAreRefused) {
  HeaderFields v0;
  v0.version = 0;
  HeaderFields v2;
  v2.version = 2;
  HeaderFields v3;
  HeaderFields longer;
  longer.lengths = {1000, 301};
  HeaderFields more;
  more.lengths = {1000, 300, 50};
  HeaderFields fewer;
  fewer.lengths = {1000};
  struct Case {
    std::vector<HeaderFields> inputs;
    std::string message;
  } cases[] = {
      {{v0}, "Assembly file in0.nyr is of version 0, whose records cannot be joined.\n"},
      {{v0, v0}, "Assembly file in0.nyr is of version 0, whose records cannot be joined.\n"},
      {{v3, v0}, "Assembly file in1.nyr is of version 0, whose records cannot be joined.\n"},
      {{v3, v2}, "File versions do not match, so join cannot be performed.\n"},
      {{v2, v3, v3}, "File versions do not match, so join cannot be performed.\n"},
      {{v3, longer}, "Contig tables do not match, so join cannot be performed.\n"},
      {{v3, more}, "Contig tables do not match, so join cannot be performed.\n"},
      {{v3, v3, fewer}, "Contig tables do not match, so join cannot be performed.\n"},
  };
  for (const Case &c : cases) {
    // The message is matched whole: the regular expression escapes its dots.
    std::string pattern = "^";
    for (char ch : c.message) {
      if (ch == '.') pattern += "\\";
      pattern += ch;
    }
    pattern += "$";
    EXPECT_EXIT(join(c.inputs, [](nyr_file_t *) {}), testing::ExitedWithCode(1), pattern) << c.message;
  }
}

TEST(MergeCopyBytes, CopiesExactlyTheStatedBytes) {
  ScratchDir dir;
  std::string bytes;
  for (int i = 0; i < 200000; i++) bytes += static_cast<char>(i * 7);
  write_file(dir.file("in"), bytes);
  for (int64_t count : {int64_t{0}, int64_t{1}, int64_t{65536}, int64_t{65537}, int64_t{199999}, int64_t{200000}}) {
    input_stream_t *in = input_stream_open(dir.file("in").c_str(), "rb");
    ASSERT_NE(in, nullptr);
    FILE *out = fopen(dir.file("out").c_str(), "wb");
    merge_copy_bytes(in, count, out, "in");
    fclose(out);
    EXPECT_EQ(input_stream_tell(in), count);
    input_stream_close(in);
    EXPECT_EQ(read_file(dir.file("out")), bytes.substr(0, static_cast<size_t>(count))) << count;
  }
}

// A source shorter than its stated record section is an error, never a
// shorter copy.
TEST(MergeCopyBytes, ShortSourceIsAReadError) {
  ScratchDir dir;
  write_file(dir.file("in"), std::string(70000, 'r'));
  EXPECT_EXIT(
      {
        input_stream_t *in = input_stream_open(dir.file("in").c_str(), "rb");
        FILE *out = fopen(dir.file("out").c_str(), "wb");
        merge_copy_bytes(in, 70001, out, "short.nyr");
      },
      testing::ExitedWithCode(74),
      "^Error reading assembly file short\\.nyr: the record section is shorter than its header states\n$");
}

TEST(MergeCopyBytes, FailedWriteEndsTheRun) {
  ScratchDir dir;
  write_file(dir.file("in"), std::string(200000, 'r'));
  EXPECT_EXIT(
      {
        input_stream_t *in = input_stream_open(dir.file("in").c_str(), "rb");
        FILE *out = fopen("/dev/full", "wb");
        merge_copy_bytes(in, 200000, out, "in");
      },
      testing::ExitedWithCode(1), "^Problem writing output file\n$");
}

}  // namespace
