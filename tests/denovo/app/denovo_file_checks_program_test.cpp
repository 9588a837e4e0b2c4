// The assembler end to end on the files it is given: an output that is one
// of the inputs (under any name), save paths that cannot be written, inputs
// that are pipes or devices, damaged stage files of every stage, a resume
// from other read files or paired settings, and reads too short for the
// word size. Each run ends with its message and status 1 before any work
// where it can, leaves no output behind and leaves the inputs as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"
#include "tests/denovo/app/denovo_program_util.h"

namespace {

using ryx_test::dir_names;
using ryx_test::file_exists;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;
using namespace denovo_program;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // every run is slow: fewer damaged files
#else
constexpr bool kSanitized = false;
#endif

// count error-free reads of length bases each, from random places of the
// genome on either strand, as FASTQ.
void write_single_reads(const std::string &genome, uint64_t count, size_t length, uint64_t seed,
                        const std::string &path) {
  SimRandom random(seed);
  FILE *out = fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  for (uint64_t i = 0; i < count; i++) {
    const std::string read = genome.substr(random.below(genome.size() - length + 1), length);
    write_fastq(out, "r" + std::to_string(i), random.below(2) == 1 ? reverse_complement(read) : read);
  }
  fclose(out);
}

// Small single-end reads of a 6 kb genome, enough for every stage.
struct SmallRun {
  ScratchDir dir;
  std::string reads = dir.file("reads.fq");
  std::string out = dir.file("out.fa");

  SmallRun() {
    const Genome genome = make_genome(41, 6000, 0, {}, {});
    write_single_reads(genome.letters, 900, 100, 42, reads);
  }
  // The names in the folder besides the reads and the given ones.
  std::vector<std::string> others(const std::vector<std::string> &known) const {
    std::vector<std::string> rest;
    for (const std::string &name : dir_names(dir.path())) {
      if (name == "reads.fq") continue;
      bool listed = false;
      for (const std::string &k : known) listed = listed || k == name;
      if (!listed) rest.push_back(name);
    }
    return rest;
  }
};

std::string shown(const std::vector<std::string> &words) {
  std::string text;
  for (const auto &w : words) text += w + " ";
  return text;
}

// An output named like an input, directly, through a symbolic link or
// through a hard link, is refused before any work; the input keeps its
// bytes and no output appears.
TEST(DenovoFileChecks, OutputThatIsAnInputIsRefused) {
  SmallRun run;
  const std::string reads_bytes = read_file(run.reads);
  const std::string soft = run.dir.file("soft.fq");
  const std::string hard = run.dir.file("hard.fq");
  ASSERT_EQ(symlink(run.reads.c_str(), soft.c_str()), 0);
  ASSERT_EQ(link(run.reads.c_str(), hard.c_str()), 0);
  const std::string stage = run.dir.file("reads.stage");
  ASSERT_EQ(denovo({"-w", "15", "--savereads", stage, "-q", run.reads}).status, 0);
  const std::string stage_bytes = read_file(stage);
  const std::string prefix = run.dir.file("g");
  write_file(prefix + "_contig.gexf", reads_bytes);
  const std::string reference = prefix + "_contig.gexf";
  const std::vector<std::string> input = {"-q", run.reads};
  struct Case {
    std::vector<std::string> words;
    std::string output;  // the name the message gives
  } cases[] = {
      {{"-o", run.reads}, run.reads},
      {{"-o", soft}, soft},
      {{"-o", hard}, hard},
      {{"-o", run.out, "-e", hard}, hard},
      {{"-o", run.out, "--memoryusage", soft}, soft},
      {{"-o", run.out, "-f", run.reads, "-p", "fb", "ss", "400", "600"}, run.reads},
      {{"--savefragments", run.reads}, run.reads},
      {{"--savereads", soft}, soft},
      {{"-o", run.out, "--savepairedgraph", hard}, hard},
      {{"-w", "15", "--loadreads", stage, "--savereadgraph", stage}, stage},
      {{"-o", run.out, "--reference", reference, "--savegraph", prefix}, reference},
  };
  for (const auto &c : cases) {
    std::vector<std::string> words = c.words;
    words.insert(words.end(), input.begin(), input.end());
    SCOPED_TRACE(shown(words));
    const RunResult r = denovo(words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The output file " + c.output + " is also an input file.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(run.reads), reads_bytes);
    EXPECT_EQ(read_file(stage), stage_bytes);
    EXPECT_EQ(read_file(reference), reads_bytes);
    EXPECT_FALSE(file_exists(run.out));
  }
  EXPECT_EQ(run.others({"soft.fq", "hard.fq", "reads.stage", "g_contig.gexf"}), std::vector<std::string>{});
}

// Every save path, and the files --savegraph names, are tried before the
// first stage: one that cannot be written ends the run at once, with no
// progress shown and nothing left behind.
TEST(DenovoFileChecks, SavePathsAreCheckedBeforeAnyWork) {
  SmallRun run;
  const std::string nowhere = run.dir.file("missing/x");
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"--savefragments", nowhere}, "Unable to open file " + nowhere + "\n"},
      {{"--savereads", nowhere}, "Unable to open file " + nowhere + "\n"},
      {{"-o", run.out, "--saveinitialgraph", nowhere}, "Unable to open file " + nowhere + "\n"},
      {{"-o", run.out, "--savereadgraph", nowhere}, "Unable to open file " + nowhere + "\n"},
      {{"-o", run.out, "--savereads", run.dir.file("fine"), "--savepairedgraph", nowhere},
       "Unable to open file " + nowhere + "\n"},
      {{"-o", run.out, "--savegraph", nowhere}, "Unable to open file " + nowhere + "_fragment.gexf\n"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> words = c.words;
    words.insert(words.end(), {"-q", run.reads});
    SCOPED_TRACE(shown(words));
    const RunResult r = denovo(words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out.find("Progress"), std::string::npos) << r.out;
    EXPECT_EQ(run.others({}), std::vector<std::string>{});
  }
}

// Inputs are read more than once, so a pipe or a device is refused by name
// before any work; a named pipe is not even opened.
TEST(DenovoFileChecks, InputsMustBeRegularFiles) {
  SmallRun run;
  const std::string fifo = run.dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> words;
    std::string input;
  } cases[] = {
      {{"-o", run.out, "-q", fifo}, fifo},
      {{"-o", run.out, "-q", run.reads, "-i", run.reads, "/dev/null"}, "/dev/null"},
      {{"-o", run.out, "--loadreads", fifo, "-q", run.reads}, fifo},
      {{"-o", run.out, "--reference", fifo, "-q", run.reads}, fifo},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(shown(c.words));
    const RunResult r = denovo(c.words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The input file " + c.input +
                         " is a pipe or device: ryx_denovo reads it more than once and needs a regular file.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(run.others({"pipe"}), std::vector<std::string>{});
  }
}

// A stage file of each stage cut in half, emptied, or with a byte changed
// (at offset 40, in the middle, in the last byte): every load ends with the
// stage-file message and status 1 and no contigs appear. The undamaged
// files give the contigs of a straight run.
TEST(DenovoFileChecks, DamagedStageFilesAreRefused) {
  SmallRun run;
  const char *saves[] = {"", "--savefragments", "--savereads", "--saveinitialgraph", "--savereadgraph",
                         "--savepairedgraph"};
  const char *loads[] = {"", "--loadfragments", "--loadreads", "--loadinitialgraph", "--loadreadgraph",
                         "--loadpairedgraph"};
  std::vector<std::string> words = {"-w", "15", "-o", run.dir.file("straight.fa")};
  for (int stage = 1; stage <= 5; stage++) {
    words.push_back(saves[stage]);
    words.push_back(run.dir.file("stage" + std::to_string(stage)));
  }
  words.insert(words.end(), {"-q", run.reads});
  const RunResult whole = denovo(words);
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::string straight = read_file(run.dir.file("straight.fa"));
  ASSERT_FALSE(straight.empty());
  const std::string damaged = run.dir.file("damaged");
  for (int stage = 1; stage <= 5; stage++) {
    SCOPED_TRACE(stage);
    const std::string bytes = read_file(run.dir.file("stage" + std::to_string(stage)));
    auto changed = [&](size_t at) {
      std::string copy = bytes;
      copy[at] = static_cast<char>(~copy[at]);
      return copy;
    };
    struct Case {
      const char *what;
      std::string bytes;
      bool sanitized;  // also run under the sanitizers
    } cases[] = {
        {"cut in half", bytes.substr(0, bytes.size() / 2), true},
        {"empty", "", true},
        {"byte 40", changed(40), true},
        {"middle byte", changed(bytes.size() / 2), false},
        {"last byte", changed(bytes.size() - 2), false},
    };
    for (const auto &c : cases) {
      SCOPED_TRACE(c.what);
      if (kSanitized && !c.sanitized) continue;
      write_file(damaged, c.bytes);
      const RunResult r = denovo({"-w", "15", loads[stage], damaged, "-o", run.out, "-q", run.reads});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err.find("Error, de novo file " + damaged + " is damaged: "), 0u) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_FALSE(file_exists(run.out));
    }
    if (kSanitized) continue;
    const RunResult good = denovo({"-w", "15", loads[stage], run.dir.file("stage" + std::to_string(stage)), "-o",
                                   run.out, "-q", run.reads});
    ASSERT_EQ(good.status, 0) << good.err;
    EXPECT_TRUE(read_file(run.out) == straight);
    unlink(run.out.c_str());
  }
  unlink(damaged.c_str());
  EXPECT_EQ(run.others({"straight.fa", "stage1", "stage2", "stage3", "stage4", "stage5"}),
            std::vector<std::string>{});
}

// A resume from the mapped reads with other read files or other paired
// settings than the run that saved them names what differs.
TEST(DenovoFileChecks, ResumeFromOtherReadsOrSettings) {
  ScratchDir dir;
  const Genome genome = make_genome(43, 6000, 0, {}, {});
  const std::string r1 = dir.file("r1.fq");
  const std::string r2 = dir.file("r2.fq");
  write_pairs(genome, 500, 500, 25, 44, r1, r2);
  const std::string stage = dir.file("reads.stage");
  const std::vector<std::string> paired = {"-p", "fb", "ss", "400", "600", "-q", "-i", r1, r2};
  std::vector<std::string> save = {"-w", "15", "--savereads", stage};
  save.insert(save.end(), paired.begin(), paired.end());
  ASSERT_EQ(denovo(save).status, 0);
  const std::string out = dir.file("out.fa");
  const std::string prefix = "Error, stage file " + stage + " was saved from other reads or settings: ";
  struct Case {
    std::vector<std::string> reads;
    std::string message;
  } cases[] = {
      {{"-q", "-i", r1, r2}, prefix + "read file 1 is paired in it and not paired on this command line\n"},
      {{"-p", "fb", "ss", "400", "600", "-q", "-i", r1, r2, r1},
       prefix + "it holds 1 read file, this run names 2\n"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> words = {"-w", "15", "--loadreads", stage, "-o", out};
    words.insert(words.end(), c.reads.begin(), c.reads.end());
    SCOPED_TRACE(shown(words));
    const RunResult r = denovo(words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_FALSE(file_exists(out));
  }
  // Other distances for the same paired file are this run's to choose.
  std::vector<std::string> other = {"-w", "15", "--loadreads", stage, "-o", out, "-p", "fb", "ss", "300", "700",
                                    "-q", "-i", r1, r2};
  const RunResult r = denovo(other);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(file_exists(out));
}

// Reads that are all shorter than the word size hold no word to build a
// fragment from: the run says so before "No result found". Only the files
// that build fragments count; a file used for pair information alone or
// under "-g ignore" does not.
TEST(DenovoFileChecks, ReadsShorterThanTheWordSize) {
  ScratchDir dir;
  const Genome genome = make_genome(45, 6000, 0, {}, {});
  write_single_reads(genome.letters, 500, 10, 46, dir.file("ten.fq"));
  write_single_reads(genome.letters, 500, 30, 47, dir.file("thirty.fq"));
  write_single_reads(genome.letters, 900, 100, 48, dir.file("hundred.fq"));
  const std::string out = dir.file("out.fa");
  struct Case {
    std::vector<std::string> words;
    std::string err;
  } cases[] = {
      {{"-q", dir.file("ten.fq")}, "Every read is shorter than the word size 12: the longest has 10 bases.\n"},
      {{"-w", "31", "-q", dir.file("thirty.fq")},
       "Every read is shorter than the word size 31: the longest has 30 bases.\n"},
      {{"-w", "31", "-q", dir.file("thirty.fq"), "-g", "ignore", dir.file("hundred.fq")},
       "Every read is shorter than the word size 31: the longest has 30 bases.\n"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> words = {"-o", out};
    words.insert(words.end(), c.words.begin(), c.words.end());
    SCOPED_TRACE(shown(words));
    const RunResult r = denovo(words);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err + "\nNo result found\n");
    EXPECT_FALSE(file_exists(out));
  }
  // Reads mostly shorter than the word size, so that the longest is looked
  // for, and a file of longer ones that build the contigs.
  write_single_reads(genome.letters, 3000, 30, 49, dir.file("many_thirty.fq"));
  const RunResult mixed =
      denovo({"-w", "50", "-o", out, "-q", dir.file("many_thirty.fq"), dir.file("hundred.fq")});
  EXPECT_EQ(mixed.status, 0) << mixed.err;
  EXPECT_EQ(mixed.err, "");
  EXPECT_FALSE(read_fasta(out).empty());
}

}  // namespace
