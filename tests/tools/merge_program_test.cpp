// The ryx_merge program end to end: joined files against hand-written
// bytes, the header checks, the usage problems and the file errors, each
// leaving no output behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/linked_list.h"
#include "common/memory.h"
#include "common/string_util.h"
#include "common/version.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace {

using ryx_test::dir_names;
using ryx_test::hex_fixture;
using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::run_program;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;
using ryx_test::write_gzip_file;

RunResult merge(std::vector<std::string> words) { return ryx_test::run_tool("ryx_merge", std::move(words)); }

std::string usage_text() {
  char *version = version_get_string("ryx_assembly_version");
  std::string text =
      "\n"
      "usage: ryx_merge <options> <input nyr file 1> <input nyr file 2> ...\n\n"
      "  Joins any number of mappings with identical reference files into one.\n\n"
      "Options:\n\n"
      "  -h / --help: Display this message.\n\n"
      "  -o <file> / --output <file>: Set the output nyr file (required).\n\n"
      "Version: " +
      std::string(version) + "\n\n";
  version_free_string(version);
  return text;
}

void expect_only(const ScratchDir &dir, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  EXPECT_EQ(dir_names(dir.path()), names);
}

// Writes the hand-written fixture tests/data/<relative> as a binary file.
std::string fixture_file(const ScratchDir &dir, const std::string &relative, const std::string &name) {
  write_file(dir.file(name), hex_fixture(relative));
  return dir.file(name);
}

// The record section of an nyr file's bytes: from byte 16 to the fields
// offset stored at byte 8.
std::string records_of(const std::string &bytes) {
  uint64_t offset = 0;
  for (int i = 7; i >= 0; i--) offset = offset * 256 + static_cast<uint8_t>(bytes[8 + i]);
  return bytes.substr(16, offset - 16);
}

// A version-3 file written through the nyr writer: the given contigs, the
// reference files, one read file and n reads, read i matched on contig
// i mod (contig count) at position i unless i is a multiple of 3.
void write_nyr(const std::string &path, const std::vector<uint32_t> &lengths,
               const std::vector<std::string> &references, const std::string &reads_name, uint64_t reads) {
  nyr_file_t *file = nyr_file_new(static_cast<uint32_t>(lengths.size()), lengths.data(), reads);
  linked_list_t *entries = linked_list_new();
  for (const std::string &r : references)
    linked_list_append(entries, seq_file_info_new(string_duplicate(r.c_str()), 1, lengths[0]));
  file->reference_files = seq_file_info_list_new(entries);
  linked_list_free(entries);
  file->read_files =
      seq_file_info_list_new_single(seq_file_info_new(string_duplicate(reads_name.c_str()), int64_t(reads), -1));
  for (uint64_t i = 0; i < reads; i++) {
    if (i % 3 == 0) continue;
    auto *code = static_cast<uint8_t *>(ryx_malloc(1));
    code[0] = 9;
    const uint32_t contig = static_cast<uint32_t>(i % lengths.size());
    nyr_file_set_match(file, static_cast<int64_t>(i),
                       nyr_match_new_counted(nullptr, contig, static_cast<uint32_t>(i % (lengths[contig] - 10)),
                                             i % 2, 1, 1, code));
  }
  nyr_file_write(path.c_str(), file);
  nyr_file_free(file);
}

TEST(MergeProgram, JoinsTwoFilesIntoTheHandWrittenResult) {
  ScratchDir dir;
  const std::string a = fixture_file(dir, "tools/merge_a.nyr.hex", "a.nyr");
  const std::string b = fixture_file(dir, "tools/merge_b.nyr.hex", "b.nyr");
  RunResult r = merge({"-o", dir.file("ab.nyr"), a, b});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(dir.file("ab.nyr")), hex_fixture("tools/merge_ab.nyr.hex"));
  // Compressed inputs join the same way, and a path after the first input
  // is an input whatever it begins with (run from the scratch directory to
  // name it relatively).
  write_gzip_file(dir.file("a.nyr.gz"), read_file(a));
  write_file(dir.file("-b.nyr"), read_file(b));
  r = run_program({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" --output gz.nyr a.nyr.gz -b.nyr", dir.path(),
                   program_path("ryx_merge")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("gz.nyr")), hex_fixture("tools/merge_ab.nyr.hex"));
}

TEST(MergeProgram, RecordsFollowEachOtherInCommandLineOrder) {
  ScratchDir dir;
  write_nyr(dir.file("x.nyr"), {500, 70000}, {"r1.fa", "r2.fa"}, "x.fq", 1000);
  write_nyr(dir.file("y.nyr"), {500, 70000}, {"r1.fa", "r2.fa"}, "y.fq", 37);
  write_nyr(dir.file("z.nyr"), {500, 70000}, {"r1.fa", "r2.fa"}, "z.fq", 0);
  RunResult r = merge({"-o", dir.file("out.nyr"), dir.file("y.nyr"), dir.file("x.nyr"), dir.file("z.nyr"),
                       dir.file("y.nyr")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string x = read_file(dir.file("x.nyr")), y = read_file(dir.file("y.nyr"));
  const std::string out = read_file(dir.file("out.nyr"));
  EXPECT_EQ(records_of(out), records_of(y) + records_of(x) + records_of(y));

  nyr_file_t *joined = nyr_file_read(dir.file("out.nyr").c_str(), 1);
  EXPECT_EQ(joined->version, 3);
  EXPECT_EQ(joined->read_count, 37u + 1000u + 0u + 37u);
  ASSERT_EQ(joined->read_files->count, 4);
  const char *names[] = {"y.fq", "x.fq", "z.fq", "y.fq"};
  for (int i = 0; i < 4; i++) EXPECT_STREQ(joined->read_files->entries[i]->names[0], names[i]);
  // Read 37 + 4 of the joined file is read 4 of x: contig 0, position 4.
  nyr_match_t *hit = joined->get_match(joined, 41);
  ASSERT_NE(hit, nullptr);
  // The record is packed: its fields are read by value.
  const uint32_t contig = hit->contig, position = hit->position;
  EXPECT_EQ(contig, 0u);
  EXPECT_EQ(position, 4u);
  EXPECT_EQ(joined->get_match(joined, 37 + 3), nullptr);
  nyr_file_free(joined);
}

// One input is copied, rewritten as version 3 with the same fields:
// versions 1 and 2 hold the records of version 3.
TEST(MergeProgram, OneInputIsCopiedAsVersion3) {
  ScratchDir dir;
  const std::string v3 = hex_fixture("seqio/one_contig_two_reads_v3.nyr.hex");
  for (const char *version : {"v1", "v2", "v3"}) {
    const std::string in =
        fixture_file(dir, std::string("seqio/one_contig_two_reads_") + version + ".nyr.hex", "in.nyr");
    RunResult r = merge({"-o", dir.file("out.nyr"), in});
    EXPECT_EQ(r.status, 0) << version << r.err;
    EXPECT_EQ(read_file(dir.file("out.nyr")), v3) << version;
  }
  const std::string wide = fixture_file(dir, "seqio/two_contigs_multi_hit_wrap_v3.nyr.hex", "wide.nyr");
  RunResult r = merge({"-o", dir.file("copy.nyr"), wide});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("copy.nyr")), read_file(wide));
}

// Inputs that cannot be joined: the message, status 1, no output.
TEST(MergeProgram, MismatchedInputsAreRefused) {
  ScratchDir dir;
  write_nyr(dir.file("base.nyr"), {1000, 300}, {"r1.fa", "r2.fa"}, "a.fq", 10);
  write_nyr(dir.file("swapped.nyr"), {1000, 300}, {"r2.fa", "r1.fa"}, "b.fq", 10);
  write_nyr(dir.file("fewer.nyr"), {1000, 300}, {"r1.fa"}, "b.fq", 10);
  write_nyr(dir.file("longer.nyr"), {1000, 301}, {"r1.fa", "r2.fa"}, "b.fq", 10);
  write_nyr(dir.file("more.nyr"), {1000, 300, 20}, {"r1.fa", "r2.fa"}, "b.fq", 10);
  fixture_file(dir, "seqio/one_contig_two_reads_v0.nyr.hex", "v0.nyr");
  fixture_file(dir, "seqio/one_contig_two_reads_v2.nyr.hex", "v2.nyr");
  fixture_file(dir, "seqio/one_contig_two_reads_v3.nyr.hex", "v3.nyr");
  const std::vector<std::string> inputs{"base.nyr", "swapped.nyr", "fewer.nyr", "longer.nyr",
                                        "more.nyr", "v0.nyr",      "v2.nyr",    "v3.nyr"};
  const std::string refs = "Reference sequence files does not match.\n";
  const std::string versions = "File versions do not match, so join cannot be performed.\n";
  const std::string contigs = "Contig tables do not match, so join cannot be performed.\n";
  struct Case {
    std::vector<std::string> inputs;
    std::string message;
  } cases[] = {
      {{"base.nyr", "swapped.nyr"}, refs},
      {{"base.nyr", "base.nyr", "fewer.nyr"}, refs},
      {{"base.nyr", "v3.nyr"}, refs},
      {{"v3.nyr", "v2.nyr"}, versions},
      {{"v2.nyr", "v2.nyr", "v3.nyr"}, versions},
      {{"base.nyr", "longer.nyr"}, contigs},
      {{"longer.nyr", "base.nyr"}, contigs},
      {{"base.nyr", "more.nyr"}, contigs},
      {{"v0.nyr"}, "Assembly file " + dir.file("v0.nyr") + " is of version 0, whose records cannot be joined.\n"},
      {{"v3.nyr", "v0.nyr"},
       "Assembly file " + dir.file("v0.nyr") + " is of version 0, whose records cannot be joined.\n"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> words{"-o", dir.file("out.nyr")};
    for (const std::string &in : c.inputs) words.push_back(dir.file(in));
    RunResult r = merge(words);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message);
    expect_only(dir, inputs);
  }
}

TEST(MergeProgram, UsageProblems) {
  ScratchDir dir;
  const std::string a = fixture_file(dir, "tools/merge_a.nyr.hex", "a.nyr");
  const std::string out = dir.file("out.nyr");
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{}, "No output nyr file (must be specified before input files)\n"},
      {{a}, "No output nyr file (must be specified before input files)\n"},
      // -o after an input is an input path.
      {{a, "-o", out}, "No output nyr file (must be specified before input files)\n"},
      {{"-o", out}, "No input nyr files specified\n"},
      {{"-o"}, "Output file set wrong\n"},
      {{"--output", out, "-o", out, a}, "Only one output file allowed\n"},
      {{"-z", a}, "Unrecognized option -z\n"},
      {{"-o", out, "--out", a}, "Unrecognized option --out\n"},
      {{"-h", "-o", out, a}, ""},
      {{"-o", out, "--help", a}, ""},
  };
  const std::string usage = usage_text();
  for (const Case &c : cases) {
    RunResult r = merge(c.words);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.out, c.message + usage);
    EXPECT_EQ(r.err, "");
  }
  expect_only(dir, {"a.nyr"});
}

TEST(MergeProgram, FileErrorsLeaveNoOutput) {
  ScratchDir dir;
  const std::string a = fixture_file(dir, "tools/merge_a.nyr.hex", "a.nyr");
  write_file(dir.file("text.nyr"), "not a mapping file\n");
  // A writer that never finished leaves the fields offset 0.
  std::string unfinished = read_file(a);
  unfinished.replace(8, 8, std::string(8, '\0'));
  write_file(dir.file("unfinished.nyr"), unfinished);
  // Cut inside the program version string of the fields block.
  write_file(dir.file("cut.nyr"), read_file(a).substr(0, 40));
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string err;
  } cases[] = {
      {{"-o", dir.file("out.nyr"), a, dir.file("missing.nyr")}, 66, "Error opening assembly file for reading\n"},
      {{"-o", dir.file("out.nyr"), a, dir.file("text.nyr")}, 65, "Error reading assembly file\n"},
      {{"-o", dir.file("out.nyr"), dir.file("unfinished.nyr")}, 65, "Error reading assembly file\n"},
      {{"-o", dir.file("out.nyr"), a, dir.file("cut.nyr")}, 1, "Read error\n"},
      {{"-o", dir.file("no/such/dir/out.nyr"), a}, 1, "Problem opening assembly file\n"},
  };
  for (const Case &c : cases) {
    RunResult r = merge(c.words);
    EXPECT_EQ(r.status, c.status) << c.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    expect_only(dir, {"a.nyr", "text.nyr", "unfinished.nyr", "cut.nyr"});
  }
}

// A damaged record section is found while the records are copied: the
// run fails naming the input, and no output appears. Each case changes the
// hand-written file a.nyr, whose records are 01 | 01 00 0A 00 00 09 | 00
// (bytes 16 to 23) for a header of two reads.
TEST(MergeProgram, DamagedRecordsAreRefused) {
  ScratchDir dir;
  const std::string a = fixture_file(dir, "tools/merge_a.nyr.hex", "a.nyr");
  const std::string good = read_file(a);
  auto damaged = [&](const std::string &name, size_t at, const std::string &bytes) {
    std::string copy = good;
    copy.replace(at, bytes.size(), bytes);
    write_file(dir.file(name), copy);
    return dir.file(name);
  };
  // The read count of the fields block lies 4 bytes into it, at byte 28.
  const std::string three_reads(std::string("\x03", 1));
  struct Case {
    std::string path;
    std::string err;
  } cases[] = {
      {damaged("contig.nyr", 18, "\x05"), "Error reading assembly file\nAssembly file " + dir.file("contig.nyr") +
                                              " is damaged.\n"},
      {damaged("code.nyr", 17, "\x07"),
       "Error reading assembly file\nAssembly file " + dir.file("code.nyr") + " is damaged.\n"},
      {damaged("second.nyr", 23, "\x01"),
       "Error reading assembly file\nAssembly file " + dir.file("second.nyr") + " is damaged.\n"},
      {damaged("more.nyr", 16, std::string(8, '\0')),
       "Assembly file " + dir.file("more.nyr") + " is damaged: it holds more records than its header states.\n"},
      {damaged("fewer.nyr", 28, three_reads),
       "Assembly file " + dir.file("fewer.nyr") + " is damaged: it holds fewer records than its header states.\n"},
  };
  std::vector<std::string> names{"a.nyr"};
  for (const Case &c : cases) names.push_back(c.path.substr(dir.path().size() + 1));
  for (const Case &c : cases) {
    write_file(dir.file("out.nyr"), "earlier result");
    RunResult r = merge({"-o", dir.file("out.nyr"), a, c.path});
    EXPECT_EQ(r.status, 65) << c.path;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read_file(dir.file("out.nyr")), "earlier result");
    std::vector<std::string> expected = names;
    expected.push_back("out.nyr");
    expect_only(dir, expected);
  }
}

// The output may not be one of the inputs under any name; the input stays
// as it was.
TEST(MergeProgram, RefusesToWriteOverAnInput) {
  ScratchDir dir;
  const std::string a = fixture_file(dir, "tools/merge_a.nyr.hex", "a.nyr");
  const std::string b = fixture_file(dir, "tools/merge_b.nyr.hex", "b.nyr");
  ASSERT_EQ(link(b.c_str(), dir.file("hard.nyr").c_str()), 0);
  ASSERT_EQ(symlink(a.c_str(), dir.file("soft.nyr").c_str()), 0);
  for (const std::string &output : {a, dir.file("hard.nyr"), dir.file("soft.nyr"), dir.path() + "/../" +
                                                                                       std::filesystem::path(dir.path()).filename().string() + "/b.nyr"}) {
    RunResult r = merge({"-o", output, a, b});
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "The output file " + output + " is also an input file.\n");
    EXPECT_EQ(read_file(a), hex_fixture("tools/merge_a.nyr.hex"));
    EXPECT_EQ(read_file(b), hex_fixture("tools/merge_b.nyr.hex"));
  }
}

// A write that fails part way ends the run; the earlier output of that name
// stays and nothing else is left behind.
TEST(MergeProgram, FailedWriteKeepsTheEarlierOutput) {
  ScratchDir dir;
  write_nyr(dir.file("big1.nyr"), {1000, 300}, {"r.fa"}, "1.fq", 30000);
  write_nyr(dir.file("big2.nyr"), {1000, 300}, {"r.fa"}, "2.fq", 30000);
  write_file(dir.file("out.nyr"), "earlier");
  RunResult r = run_program({"/bin/sh", "-c", "ulimit -f 16; trap '' XFSZ; exec \"$0\" \"$@\"",
                             program_path("ryx_merge"), "-o", dir.file("out.nyr"), dir.file("big1.nyr"),
                             dir.file("big2.nyr")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Problem writing output file\n");
  EXPECT_EQ(read_file(dir.file("out.nyr")), "earlier");
  expect_only(dir, {"big1.nyr", "big2.nyr", "out.nyr"});

  // The fields block cannot be flushed: the nyr writer's own error.
  fixture_file(dir, "tools/merge_a.nyr.hex", "a.nyr");
  r = merge({"-o", "/dev/full", dir.file("a.nyr")});
  EXPECT_EQ(r.status, 74);
  EXPECT_EQ(r.err, "Error writing assembly file\n");
}

}  // namespace
