// The ryx_pick program end to end: outputs against hand-written files, the
// usage checks in their order, and every failure leaving no output behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/version.h"
#include "test_support.h"

namespace {

using ryx_test::dir_names;
using ryx_test::file_exists;
using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::run_program;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;
using ryx_test::write_gzip_file;

std::string data(const std::string &name) { return std::string(RYX_TEST_DATA_DIR) + "/tools/" + name; }

RunResult pick(std::vector<std::string> words) { return ryx_test::run_tool("ryx_pick", std::move(words)); }

std::string usage_text() {
  char *version = version_get_string("ryx_assembly_version");
  std::string text =
      "\n"
      "usage: ryx_pick [options] <sequence file>\n\n"
      "  Extract a random subset from a sequence file.\n\n"
      "Options:\n\n"
      "  -h / --help: Display this message.\n\n"
      "  -f <fraction> / --fraction <fraction>: The fraction determines the\n"
      "     probability of a given sequence being included in the output.\n\n"
      "  -o <file> / --output <file>: Output the result in fasta format.\n\n"
      "  -q <file> / --fastq <file>: Output the result in fastq format.\n\n"
      "  -p / --paired: Keep pairs together.\n\n"
      "  -r <seed> / --seed <seed>: Specify a random seed (integer).\n\n"
      "  -s <file> / --quality <file>: Specify separate input quality file.\n\n"
      "  -i <file1> <file2> / --interleave <file1> <file2>: Interleave two sequence\n"
      "     files with the same number of sequences. May be used instead of a single\n"
      "     file. This option automatically sets the \"-p\" option.\n\n"
      "Version: " +
      std::string(version) + "\n\n";
  version_free_string(version);
  return text;
}

// Nothing but the names listed in the directory: no output, no leftovers.
void expect_only(const ScratchDir &dir, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  EXPECT_EQ(dir_names(dir.path()), names);
}

// Hand-written inputs and outputs: six reads, seed 7, fraction 0.65. The
// draws for seed 7 are 0.676, 0.647, 0.147, 0.908, 0.154, 0.634, so single
// reads 2, 3, 5 and 6 are kept, and of the pairs (1, 2), (3, 4), (5, 6) the
// second and third.
TEST(PickProgram, WritesTheHandWrittenOutputs) {
  ScratchDir dir;
  const std::string out = dir.file("out");
  struct Case {
    std::vector<std::string> words;
    const char *expected;
  } cases[] = {
      {{"-o", out, data("pick_six_reads.fa")}, "pick_six_reads_seed7.fa"},
      {{"-q", out, data("pick_six_reads.fq")}, "pick_six_reads_seed7.fq"},
      {{"-q", out, "-s", data("pick_six_reads.qual"), data("pick_six_reads.fa")}, "pick_six_reads_qual_seed7.fq"},
      {{"-p", "-o", out, data("pick_six_reads.fa")}, "pick_six_reads_pairs_seed7.fa"},
      {{"-o", out, "-i", data("pick_left.fa"), data("pick_right.fa")}, "pick_six_reads_pairs_seed7.fa"},
      {{"-q", out, "--quality", "--interleave", data("pick_left.qual"), data("pick_right.qual"), "-i",
        data("pick_left.fa"), data("pick_right.fa")},
       "pick_pairs_qual_seed7.fq"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> words{"-f", "0.65", "-r", "7"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    RunResult r = pick(words);
    EXPECT_EQ(r.status, 0) << c.expected << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.expected;
    EXPECT_EQ(r.err, "") << c.expected;
    EXPECT_EQ(read_file(out), read_file(data(c.expected))) << c.expected;
  }
}

TEST(PickProgram, ReadsGzipInput) {
  ScratchDir dir;
  write_gzip_file(dir.file("reads.fa.gz"), read_file(data("pick_six_reads.fa")));
  write_gzip_file(dir.file("reads.fq.gz"), read_file(data("pick_six_reads.fq")));
  RunResult r = pick({"-f", "0.65", "-r", "7", "-o", dir.file("out.fa"), dir.file("reads.fa.gz")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("out.fa")), read_file(data("pick_six_reads_seed7.fa")));
  r = pick({"-f", "0.65", "-r", "7", "-q", dir.file("out.fq"), dir.file("reads.fq.gz")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("out.fq")), read_file(data("pick_six_reads_seed7.fq")));
}

TEST(PickProgram, SameSeedSameOutput) {
  ScratchDir dir;
  std::string reads;
  for (int i = 0; i < 5000; i++) reads += ">r" + std::to_string(i) + "\nACGTACGTTGCA\n";
  write_file(dir.file("reads.fa"), reads);
  RunResult a = pick({"-f", "0.5", "-r", "-12345", "-o", dir.file("a.fa"), dir.file("reads.fa")});
  RunResult b = pick({"-f", "0.5", "-r", "-12345", "-o", dir.file("b.fa"), dir.file("reads.fa")});
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(read_file(dir.file("a.fa")), read_file(dir.file("b.fa")));
  // Without a seed the clock seeds the run; the output is still a subset.
  RunResult c = pick({"-f", "0.5", "-o", dir.file("c.fa"), dir.file("reads.fa")});
  ASSERT_EQ(c.status, 0);
  const std::string picked = read_file(dir.file("c.fa"));
  EXPECT_GT(picked.size(), 0u);
  EXPECT_LT(picked.size(), reads.size());
}

// Seeds take the whole 32-bit range; a negative seed is its two's-complement
// value, so -1 and 4294967295 pick the same reads.
TEST(PickProgram, SeedsTakeTheWhole32BitRange) {
  ScratchDir dir;
  std::string reads;
  for (int i = 0; i < 2000; i++) reads += ">r" + std::to_string(i) + "\nACGTACGTTGCA\n";
  write_file(dir.file("reads.fa"), reads);
  auto picked = [&](const std::string &seed, const std::string &name) {
    RunResult r = pick({"-f", "0.5", "-r", seed, "-o", dir.file(name), dir.file("reads.fa")});
    EXPECT_EQ(r.status, 0) << seed << "\n" << r.out;
    return read_file(dir.file(name));
  };
  const std::string high = picked("2147483648", "a.fa");
  EXPECT_TRUE(picked("2147483648", "b.fa") == high);
  const std::string top = picked("4294967295", "c.fa");
  EXPECT_TRUE(picked("4294967295", "d.fa") == top);
  EXPECT_TRUE(picked("-1", "e.fa") == top);
  EXPECT_TRUE(high != top);
}

// Each row breaks one rule; the message is the first the checks meet.
TEST(PickProgram, UsageProblemsInTheirOrder) {
  ScratchDir dir;
  const std::string fa = data("pick_six_reads.fa");
  const std::string out = dir.file("out.fa");
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      // Options, as they are read.
      {{"-o"}, "No output file set after -o option.\n"},
      {{"--fastq"}, "No output file set after --fastq option.\n"},
      {{"-o", out, "-o", out, fa}, "Only one output file allowed.\n"},
      {{"-o", out, "-q", out, fa}, "Only one output file allowed.\n"},
      {{"-q", out, "--output", out, fa}, "Only one output file allowed.\n"},
      {{"-q", out, "-q", out, fa}, "Fastq option used twice.\n"},
      {{"-f", "0.5", "--fraction", "0.5"}, "Fraction file option used twice.\n"},
      {{"-f", "0"}, "Wrong fraction given.\n"},
      {{"-f", "1"}, "Wrong fraction given.\n"},
      {{"-f", "1.5"}, "Wrong fraction given.\n"},
      {{"-f", "-0.2"}, "Wrong fraction given.\n"},
      {{"-f", "half"}, "Wrong fraction given.\n"},
      {{"-f", "0.5x"}, "Wrong fraction given.\n"},
      {{"-f", "nan"}, "Wrong fraction given.\n"},
      {{"-f"}, "Wrong fraction given.\n"},
      {{"-p", "--paired"}, "Paired option used twice.\n"},
      {{"-r", "1", "--seed", "2"}, "Seed option used twice.\n"},
      {{"-r", "seven"}, "Wrong seed given.\n"},
      {{"-r", "1.5"}, "Wrong seed given.\n"},
      {{"-r", "99999999999"}, "Wrong seed given.\n"},
      {{"-r", "4294967296"}, "Wrong seed given.\n"},
      {{"-r", "-2147483649"}, "Wrong seed given.\n"},
      {{"-r"}, "Wrong seed given.\n"},
      {{"-s"}, "No quality file given.\n"},
      {{"-s", "a.qual", "--quality", "b.qual"}, "Quality file option used twice.\n"},
      {{"-s", "-i", "a.qual"}, "Two sequence files should be given for interleaved option.\n"},
      {{"-s", "--interleave"}, "Two sequence files should be given for interleaved option.\n"},
      {{"-x", fa}, "Unkown option -x\n"},
      {{"-f", "0.5", "--frac", "0.5"}, "Unkown option --frac\n"},
      // The checks after the options, in their order.
      {{}, "No sequence file given.\n"},
      {{"-f", "0.5", "-o", out, "-s", "q.qual"}, "No sequence file given.\n"},
      {{"-f", "0.5", "-o", out, "-i"}, "No sequence file given.\n"},
      {{"-o", out, fa, "extra"}, "No fraction parameter provided.\n"},
      {{"-o", out, "-i", fa}, "No fraction parameter provided.\n"},
      {{"-f", "0.5", "-i", fa}, "Two sequence files should be given for interleaved option.\n"},
      {{"-f", "0.5", "-s", "q.qual", fa, "extra"}, "Too many options.\n"},
      {{"-f", "0.5", "-o", out, "-i", fa, fa, fa}, "Too many options.\n"},
      {{"-f", "0.5", fa, "-o", out}, "Too many options.\n"},
      {{"-f", "0.5", "-s", "q.qual", fa},
       "Quality file given, but output has no quality (fastq format not used for\noutput).\n"},
      {{"-f", "0.5", "-o", out, "-s", "q.qual", fa},
       "Quality file given, but output has no quality (fastq format not used for\noutput).\n"},
      {{"-f", "0.5", fa}, "No output file specified. Use the -o or -q option to specify an output file\n"},
      // -i ends the options: what follows is taken as files.
      {{"-f", "0.5", "-i", "-o", out}, "No output file specified. Use the -o or -q option to specify an output file\n"},
  };
  const std::string usage = usage_text();
  for (const Case &c : cases) {
    RunResult r = pick(c.words);
    std::string shown;
    for (const std::string &w : c.words) shown += " " + w;
    EXPECT_EQ(r.status, 1) << shown;
    EXPECT_EQ(r.out, c.message + usage) << shown;
    EXPECT_EQ(r.err, "") << shown;
  }
  expect_only(dir, {});
}

TEST(PickProgram, HelpPrintsTheUsageAndFails) {
  for (const char *word : {"-h", "--help"}) {
    RunResult r = pick({word, "-f", "0.5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage_text());
    EXPECT_EQ(r.err, "");
  }
}

// Every failure after the checks: its message and status, and no output.
TEST(PickProgram, FailuresLeaveNoOutput) {
  ScratchDir dir;
  write_file(dir.file("five.fa"), ">a\nAC\n>b\nAC\n>c\nAC\n>d\nAC\n>e\nAC\n");
  write_file(dir.file("two.fa"), ">a\nAC\n>b\nAC\n");
  write_file(dir.file("four.qual"), ">a\n1 2\n>b\n1 2\n>c\n1 2\n>d\n1 2\n");
  write_file(dir.file("bad.fq"), "@a\nACGT\n+\nII\n");
  // Read a has two bases but three qualities; seed 3 drops it (its draw is
  // 0.944), and the mismatch is still an error.
  write_file(dir.file("mismatch.qual"), ">a\n1 2 3\n>b\n1 2\n");
  const std::string out = dir.file("out");
  struct Case {
    std::vector<std::string> words;
    std::string out;
    std::string err;
  } cases[] = {
      {{"-q", out, "-s", dir.file("four.qual"), dir.file("five.fa")}, "",
       "More nucleotide sequences than quality sequences.\n"},
      {{"-q", out, "-s", dir.file("four.qual"), dir.file("two.fa")}, "",
       "More quality sequences than nucleotide sequences\n"},
      {{"-q", out, "-s", "-i", dir.file("four.qual"), dir.file("four.qual"), "-i", dir.file("five.fa"),
        dir.file("five.fa")},
       "", "More nucleotide sequences than quality sequences.\n"},
      {{"-q", out, "-s", dir.file("mismatch.qual"), dir.file("two.fa")}, "",
       "Sequence and quality sequence have different lengths:\na / seq\n"},
      {{"-p", "-o", out, dir.file("five.fa")}, "", "Error: odd number of sequences in paired file\n"},
      {{"-o", out, "-i", dir.file("five.fa"), dir.file("two.fa")}, "",
       "Interleaved databases should have the same number of sequences\n"},
      {{"-o", out, dir.file("missing.fa")}, "", "Problem opening sequence file " + dir.file("missing.fa") + "\n"},
      {{"-q", out, "-s", dir.file("missing.qual"), dir.file("two.fa")}, "",
       "Problem opening sequence file " + dir.file("missing.qual") + "\n"},
      {{"-q", out, "-s", dir.file("two.fa"), dir.file("two.fa")}, "",
       "Problem with sequence file " + dir.file("two.fa") + "\n"},
      {{"-q", out, dir.file("bad.fq")}, "", "Fastq format error EOF in file " + dir.file("bad.fq") + "\n"},
      {{"-o", dir.file("no/such/dir/out"), dir.file("two.fa")}, "Problem opening output file " +
       dir.file("no/such/dir/out") + "\n", ""},
  };
  for (const Case &c : cases) {
    std::vector<std::string> words{"-f", "0.5", "-r", "3"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    RunResult r = pick(words);
    EXPECT_EQ(r.status, 1) << c.err << c.out;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    expect_only(dir, {"five.fa", "two.fa", "four.qual", "bad.fq", "mismatch.qual"});
  }
}

// An output that is an input under any name is refused before a byte is
// written, and the input stays as it was.
TEST(PickProgram, RefusesToWriteOverAnInput) {
  ScratchDir dir;
  const std::string reads = read_file(data("pick_six_reads.fa"));
  write_file(dir.file("reads.fa"), reads);
  write_file(dir.file("reads.qual"), read_file(data("pick_six_reads.qual")));
  ASSERT_EQ(link(dir.file("reads.fa").c_str(), dir.file("hard.fa").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("reads.fa").c_str(), dir.file("soft.fa").c_str()), 0);
  const std::vector<std::vector<std::string>> runs = {
      {"-o", dir.file("reads.fa"), dir.file("reads.fa")},
      {"-o", dir.file("hard.fa"), dir.file("reads.fa")},
      {"-o", dir.file("soft.fa"), dir.file("reads.fa")},
      {"-o", dir.path() + "/./reads.fa", "-i", dir.file("hard.fa"), dir.file("reads.fa")},
      {"-q", dir.file("reads.qual"), "-s", dir.file("reads.qual"), dir.file("reads.fa")},
  };
  for (const auto &run : runs) {
    std::vector<std::string> words{"-f", "0.5"};
    words.insert(words.end(), run.begin(), run.end());
    RunResult r = pick(words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "The output file " + run[1] + " is also an input file.\n");
    EXPECT_EQ(read_file(dir.file("reads.fa")), reads);
  }
  EXPECT_EQ(read_file(dir.file("reads.qual")), read_file(data("pick_six_reads.qual")));
}

// A write that fails part way (here: the file-size limit) ends the run with
// a message; the earlier output of that name is untouched and nothing else
// is left behind.
TEST(PickProgram, FailedWriteKeepsTheEarlierOutput) {
  ScratchDir dir;
  std::string reads;
  for (int i = 0; i < 20000; i++) reads += ">read" + std::to_string(i) + "\nACGTACGTACGTACGTACGTACGTACGTACGT\n";
  write_file(dir.file("reads.fa"), reads);
  write_file(dir.file("out.fa"), "earlier\n");
  // 16 blocks of 512 bytes at most per file; the signal for a larger write
  // is ignored so that the write fails with an error instead.
  RunResult r = run_program({"/bin/sh", "-c", "ulimit -f 16; trap '' XFSZ; exec \"$0\" \"$@\"",
                             program_path("ryx_pick"), "-f", "0.9", "-o", dir.file("out.fa"), dir.file("reads.fa")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error writing output file\n");
  EXPECT_EQ(read_file(dir.file("out.fa")), "earlier\n");
  expect_only(dir, {"reads.fa", "out.fa"});

  // A device that takes nothing: the error shows at the first full buffer.
  r = pick({"-f", "0.9", "-o", "/dev/full", dir.file("reads.fa")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error writing output file\n");
  // A small output fails only when it is flushed at the end.
  write_file(dir.file("two.fa"), ">a\nAC\n>b\nAC\n");
  r = pick({"-f", "0.9", "-r", "1", "-o", "/dev/full", dir.file("two.fa")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error closing output file\n");
}

TEST(PickProgram, ReplacesAnEarlierOutput) {
  ScratchDir dir;
  write_file(dir.file("out.fa"), std::string(10000, 'x'));
  ASSERT_EQ(chmod(dir.file("out.fa").c_str(), 0640), 0);
  RunResult r = pick({"-f", "0.65", "-r", "7", "-o", dir.file("out.fa"), data("pick_six_reads.fa")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file("out.fa")), read_file(data("pick_six_reads_seed7.fa")));
  struct stat st;
  ASSERT_EQ(stat(dir.file("out.fa").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  expect_only(dir, {"out.fa"});
}

// An interrupt or a termination request while the reads are still coming
// ends the run by that signal and leaves nothing behind: no hidden output,
// no temporary file, and the earlier output under the name untouched.
TEST(PickProgram, InterruptedRunLeavesNoFiles) {
  for (int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    ScratchDir dir, temp;
    write_file(dir.file("out.fq"), "earlier result");
    std::string records;
    for (int i = 0; i < 200; i++) records += "@r" + std::to_string(i) + "\nACGTACGTTGCA\n+\nIIIIIIIIIIII\n";
    ryx_test::HeldFifo reads(dir.file("reads.fq"), records);
    const int status = ryx_test::run_and_signal(
        {program_path("ryx_pick"), "-f", "0.5", "-r", "3", "-q", dir.file("out.fq"), dir.file("reads.fq")},
        {"TMPDIR=" + temp.path()}, [&] { return ryx_test::has_name_starting(dir.path(), ".out.fq."); },
        signal_number);
    EXPECT_EQ(status, 128 + signal_number);
    expect_only(dir, {"out.fq", "reads.fq"});
    EXPECT_EQ(read_file(dir.file("out.fq")), "earlier result");
    EXPECT_TRUE(dir_names(temp.path()).empty());
  }
}

}  // namespace
