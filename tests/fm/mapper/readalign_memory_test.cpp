// ryx_readalign under an address-space limit: a thread that cannot start
// (the progress display, an index-building worker, a mapping worker) and an
// allocation that cannot be had each end the run with the out-of-memory
// message and status 69, leaving no hidden or unfinished output and no
// temporary file, and an earlier result as it was.
//
// The limits are set by the shell that starts the program (ulimit). The
// sanitizer runtimes reserve far more address space than any such limit
// leaves, so these cases are skipped in the sanitizer builds.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "readalign_data.h"
#include "test_support.h"

namespace {

using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizer = true;
#else
constexpr bool kSanitizer = false;
#endif

// Thread stacks of 1 GiB under an address space of 1.5 GiB: the program
// loads, starts the one thread that watches for interrupts, reads its
// inputs and indexes them, but no further thread can start.
constexpr rlim_t kHugeStackKb = rlim_t{1} << 20;
constexpr rlim_t kAddressSpaceKb = rlim_t{3} << 19;

std::vector<std::string> names_in(const std::string &dir) {
  std::vector<std::string> found;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) found.push_back(entry.path().filename().string());
  std::sort(found.begin(), found.end());
  return found;
}

// Runs ryx_readalign with the words after the shell has set the limits
// (ulimit commands joined by &&), the temporary directory in temp.
RunResult readalign_limited(const std::string &limits, const std::string &temp, const std::vector<std::string> &words) {
  std::vector<std::string> argv = {"/bin/sh", "-c", limits + " && exec \"$0\" \"$@\"", program_path("ryx_readalign")};
  argv.insert(argv.end(), words.begin(), words.end());
  return ryx_test::run_program(argv, "", {"TMPDIR=" + temp});
}

// A reference as FASTA and as an index file, 200 reads and an earlier
// result that a failed run must leave as it was.
struct Inputs {
  Inputs() {
    const readalign_test::Reference reference = readalign_test::make_reference(11);
    write_file(dir.file("ref.fa"), readalign_test::fasta(reference));
    write_file(dir.file("reads.fq"), readalign_test::fastq(readalign_test::single_reads(reference, 4, 200)));
    const RunResult r =
        ryx_test::run_tool("ryx_readalign", {"-d", path("ref.fa"), "-n", path("ref.idx"), "--noprogress"});
    EXPECT_EQ(r.status, 0) << r.err;
    write_file(path("out.nyr"), "earlier result");
  }
  std::string path(const std::string &name) const { return dir.file(name); }
  ScratchDir dir;
};

TEST(ReadalignMemory, ThreadThatCannotStartEndsWithTheOutOfMemoryStatus) {
  if (kSanitizer) GTEST_SKIP() << "sanitizer runtimes cannot run under an address-space limit";
  struct rlimit stack;
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &stack), 0);
  if (stack.rlim_max != RLIM_INFINITY && stack.rlim_max < kHugeStackKb * 1024) {
    GTEST_SKIP() << "the stack limit cannot be raised to 1 GiB here";
  }
  const std::string limits =
      "ulimit -s " + std::to_string(kHugeStackKb) + " && ulimit -v " + std::to_string(kAddressSpaceKb);
  Inputs in;
  const std::string fasta = in.path("ref.fa"), index = in.path("ref.idx"), reads = in.path("reads.fq"),
                    out = in.path("out.nyr");
  struct Case {
    const char *what;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"the progress display", {"-d", index, "-q", reads, "-o", out}},
      {"an index-building worker", {"-d", fasta, "-q", reads, "-o", out, "--noprogress"}},
      {"an index-building worker, index output only", {"-d", fasta, "-n", in.path("new.idx"), "--noprogress"}},
      {"a mapping worker", {"-d", index, "-q", reads, "-o", out, "--noprogress", "--cpus", "2"}},
  };
  const std::vector<std::string> before = names_in(in.dir.path());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir temp;
    const RunResult r = readalign_limited(limits, temp.path(), c.words);
    EXPECT_EQ(r.status, 69);
    // A thread's stack is what could not be had.
    EXPECT_EQ(r.err, "Out of memory allocating " + std::to_string(kHugeStackKb * 1024) + " bytes.\n");
    EXPECT_EQ(names_in(in.dir.path()), before);
    EXPECT_EQ(read_file(in.path("out.nyr")), "earlier result");
    EXPECT_TRUE(names_in(temp.path()).empty());
  }
}

// A thousand mapping workers with small stacks under 400 MiB: their
// buffers and the ring of reads cannot all be allocated, on whichever
// thread runs out first.
TEST(ReadalignMemory, AllocationThatFailsEndsWithTheOutOfMemoryStatus) {
  if (kSanitizer) GTEST_SKIP() << "sanitizer runtimes cannot run under an address-space limit";
  Inputs in;
  const std::vector<std::string> before = names_in(in.dir.path());
  ScratchDir temp;
  const RunResult r =
      readalign_limited("ulimit -s 256 && ulimit -v 409600", temp.path(),
                        {"-d", in.path("ref.idx"), "-q", in.path("reads.fq"), "-o", in.path("out.nyr"), "--noprogress",
                         "--cpus", "1000"});
  EXPECT_EQ(r.status, 69);
  EXPECT_TRUE(std::regex_match(r.err, std::regex("Out of memory allocating [0-9]+ bytes\\.\n"))) << r.err;
  EXPECT_EQ(names_in(in.dir.path()), before);
  EXPECT_EQ(read_file(in.path("out.nyr")), "earlier result");
  EXPECT_TRUE(names_in(temp.path()).empty());
}

}  // namespace
