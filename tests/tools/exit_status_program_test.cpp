// The exit statuses the README lists, one run of the real program for each:
// every program and status of its table, with the message that goes with it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using ryx_test::hex_fixture;
using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::run_program;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;
using ryx_test::write_gzip_file;

const char kReads[] =
    "@r1\nACGTTGCAAGGCTTACCGATAGGCTTAACG\n+\nIIIIIIIIIIIIIIIIIIIIIIIIIIIIII\n"
    "@r2\nTTGACCGGATACGATTACAGGCATCAGGTA\n+\nIIIIIIIIIIIIIIIIIIIIIIIIIIIIII\n";

// A random 2000-base reference in one sequence.
std::string reference_fasta() {
  std::string text = ">chr\n";
  uint32_t state = 12345;
  for (int i = 0; i < 2000; i++) {
    state = state * 1103515245u + 12345u;
    text += "ACGT"[(state >> 16) & 3];
    if (i % 70 == 69) text += '\n';
  }
  return text + "\n";
}

// A gzip file cut short: many reads compressed, then the last third dropped.
void write_cut_gzip(const std::string &path) {
  std::string reads;
  for (int i = 0; i < 3000; i++) reads += kReads;
  write_gzip_file(path, reads);
  const std::string whole = read_file(path);
  write_file(path, whole.substr(0, whole.size() * 2 / 3));
}

struct Case {
  std::string program;
  std::vector<std::string> words;
  int status;
  std::string err_start;  // the start of standard error ("" when not checked)
};

TEST(ExitStatusProgram, EveryListedStatusWithItsMessage) {
  ScratchDir dir;
  write_file(dir.file("ref.fa"), reference_fasta());
  write_file(dir.file("reads.fq"), kReads);
  write_file(dir.file("empty.fa"), "");
  write_file(dir.file("text.txt"), "not a sequence file\n");
  write_cut_gzip(dir.file("cut.fq.gz"));
  write_file(dir.file("a.nyr"), hex_fixture("tools/merge_a.nyr.hex"));
  const std::string missing = dir.file("missing.fq");
  const std::vector<Case> cases = {
      {"ryx_readalign", {"-d", dir.file("ref.fa"), "-q", missing, "-o", dir.file("o.nyr")}, 1, ""},
      {"ryx_readalign", {"-d", dir.file("ref.fa"), "-q", dir.file("text.txt"), "-o", dir.file("o.nyr")}, 1,
       "Unsupported sequence file format in "},
      {"ryx_readalign", {"-d", dir.file("empty.fa"), "-q", dir.file("reads.fq"), "-o", dir.file("o.nyr")}, 1,
       "No reference sequence in "},
      {"ryx_readalign", {"-d", dir.file("ref.fa"), "-q", dir.file("reads.fq"), "-o", "/dev/full"}, 1,
       "Error while writing file /dev/full"},
      {"ryx_readalign", {"-d", dir.file("ref.fa"), "-q", dir.file("cut.fq.gz"), "-o", dir.file("o.nyr")}, 74,
       "Error while reading file "},
      {"ryx_refmap", {"-d", dir.file("ref.fa"), "-q", missing, "-o", dir.file("o.nyr")}, 1, "Could not open file "},
      {"ryx_refmap", {"-d", dir.file("empty.fa"), "-q", dir.file("reads.fq"), "-o", dir.file("o.nyr")}, 1,
       "The reference file contains no sequences"},
      {"ryx_refmap", {"-d", dir.file("ref.fa"), "-q", dir.file("cut.fq.gz"), "-o", dir.file("o.nyr")}, 1,
       "Problem reading file "},
      {"ryx_refmap", {"-d", dir.file("ref.fa"), "-q", dir.file("reads.fq"), "-o", "/dev/full"}, 74,
       "Error writing assembly file\n"},
      {"ryx_pick", {"-f", "0.5", "-q", dir.file("o.fq"), missing}, 1, "Problem opening sequence file "},
      {"ryx_pick", {"-f", "0.5", "-q", dir.file("o.fq"), dir.file("text.txt")}, 1, "Format problem with file "},
      {"ryx_pick", {"-f", "0.5", "-q", dir.file("o.fq"), dir.file("cut.fq.gz")}, 1, "Problem reading file "},
      {"ryx_pick", {"-f", "0.5", "-q", dir.file("no/dir/o.fq"), dir.file("reads.fq")}, 1, ""},
      {"ryx_tally", {missing}, 1, "Problem opening sequence file "},
      {"ryx_tally", {dir.file("cut.fq.gz")}, 1, "Problem reading sequence file "},
      {"ryx_merge", {"-o", dir.file("no/dir/o.nyr"), dir.file("a.nyr")}, 1, "Problem opening assembly file\n"},
      {"ryx_merge", {"-o", dir.file("o.nyr"), dir.file("missing.nyr")}, 66,
       "Error opening assembly file for reading\n"},
      {"ryx_merge", {"-o", dir.file("o.nyr"), dir.file("text.txt")}, 65, "Error reading assembly file\n"},
      {"ryx_merge", {"-o", "/dev/full", dir.file("a.nyr")}, 74, "Error writing assembly file\n"},
      {"ryx_runstat", {"-l", dir.file("run.log"), "-c", "/bin/sh", "-c", "exit 7"}, 7, ""},
      {"ryx_runstat", {"-l", dir.file("run.log"), "-c", "/bin/sh", "-c", "kill -TERM $$"}, 1, ""},
      {"ryx_runstat", {"-l", dir.file("run.log"), "-c", dir.file("no_such_command")}, 42, ""},
      {"ryx_runstat", {"-l", dir.file("no/dir/run.log"), "-c", "/bin/true"}, 73, "Unable to open log file "},
      {"ryx_runstat", {"-l", "/dev/full", "-c", "/bin/true"}, 74, "Unable to write log file /dev/full"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> argv{program_path(c.program)};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    if (c.program == "ryx_readalign") argv.push_back("--noprogress");
    const RunResult r = run_program(argv);
    std::string line = c.program;
    for (const std::string &w : c.words) line += " " + w;
    EXPECT_EQ(r.status, c.status) << line << "\n" << r.err;
    EXPECT_EQ(r.err.substr(0, c.err_start.size()), c.err_start) << line;
  }
}

// An output that cannot be moved to its name once the run is done: the
// output's folder is renamed while ryx_readalign waits for its reads.
TEST(ExitStatusProgram, ReadalignOutputThatCannotBeCreatedLater) {
  ScratchDir dir;
  write_file(dir.file("ref.fa"), reference_fasta());
  std::filesystem::create_directory(dir.file("out"));
  ryx_test::HeldFifo reads(dir.file("reads.fq"), kReads);
  const int status = ryx_test::run_and_act(
      {program_path("ryx_readalign"), "-d", dir.file("ref.fa"), "-q", dir.file("reads.fq"), "-o",
       dir.file("out/o.nyr"), "--noprogress"},
      {}, [&] { return ryx_test::has_name_starting(dir.file("out"), ".o.nyr."); },
      [&](int) {
        ASSERT_EQ(rename(dir.file("out").c_str(), dir.file("moved").c_str()), 0);
        reads.close_end();
      });
  EXPECT_EQ(status, 73);
}

// Out of memory: the allocation that fails names its size and the status is
// 69. The address-space limit that brings it about depends on the machine
// (thread stacks count too, and a start-up that fails earlier reports
// "Out of memory" with status 1), so the limit is lowered step by step
// until a run fails. Address-space limits and the sanitizers' shadow
// memory do not mix, so this runs in the plain build only.
TEST(ExitStatusProgram, OutOfMemoryIsStatus69) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "address-space limits do not apply under the sanitizers";
#else
  ScratchDir dir;
  std::string tags;
  uint32_t state = 7;
  for (int i = 0; i < 300000; i++) {
    tags += ">t\n";
    for (int j = 0; j < 30; j++) {
      state = state * 1103515245u + 12345u;
      tags += "ACGT"[(state >> 16) & 3];
    }
    tags += "\n";
  }
  write_file(dir.file("tags.fa"), tags);
  bool saw_69 = false;
  for (int limit_mb = 160; limit_mb >= 10 && !saw_69; limit_mb -= 10) {
    const RunResult r =
        run_program({"/bin/sh", "-c", "ulimit -v " + std::to_string(limit_mb * 1024) + "; exec \"$0\" \"$@\"",
                     program_path("ryx_tally"), dir.file("tags.fa")});
    if (r.status == 0) continue;
    if (r.status == 69) {
      EXPECT_EQ(r.err.rfind("Out of memory allocating ", 0), 0u) << r.err;
      saw_69 = true;
    } else {
      EXPECT_EQ(r.status, 1) << limit_mb << " MB: " << r.err;
      EXPECT_EQ(r.err, "Out of memory\n") << limit_mb << " MB";
    }
  }
  EXPECT_TRUE(saw_69);
#endif
}

}  // namespace
