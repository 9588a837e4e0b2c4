// The command-line parser on a small option set: golden problem reports
// (usage text, highlighted command line and numbered problems, byte for
// byte with the ANSI codes), the value consumers and a successful parse.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fm/runtime/cmdline_parser.h"
#include "fm/runtime/file.h"
#include "test_support.h"

namespace {

struct DemoOptions {
  long long threads = 0;
  double ratio = 0;
  r32 fraction = {0, 0};
  long long mode = -1;
  std::vector<long long> scores;
  bool pair = false;
  long long insert = 0;
  std::vector<std::string> reads;
  File *output = nullptr;
  bool verbose = false;
};

struct RunResult {
  int problems;
  std::string printed;
  std::string commandline;
  DemoOptions options;
};

RunResult run_parser(std::vector<std::string> words, char const *required = "") {
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  RunResult result;
  DemoOptions &o = result.options;
  CmdLineParser<DemoOptions> parser(o, static_cast<int>(argv.size()), argv.data(), "demo", "1.2.3", required);
  parser.add("threads", 't', "", kCmdLineOnce,
             [](DemoOptions &d, CmdLineArgs *a) { a->internal_consume_bounded_integer(1, 64, &d.threads); },
             "Number of worker threads");
  parser.add("ratio", 'r', "", 0,
             [](DemoOptions &d, CmdLineArgs *a) { a->internal_consume_bounded_float(0.0, 1.0, &d.ratio); },
             "Share of hits to report");
  parser.add("fraction", 'f', "", 0, [](DemoOptions &d, CmdLineArgs *a) { a->internal_consume_rational(&d.fraction); },
             "Fraction of reads to keep");
  parser.add("mode", 'm', "", 0,
             [](DemoOptions &d, CmdLineArgs *a) {
               static char const *modes[] = {"fast", nullptr, "slow", "exact"};
               a->internal_consume_specific_string(4, modes, &d.mode);
             },
             "Alignment mode");
  parser.add("scores", 's', "", 0,
             [](DemoOptions &d, CmdLineArgs *a) {
               long long v;
               while (a->remaining() > 0 && a->internal_consume_bounded_integer(0, 9, &v) == 0) d.scores.push_back(v);
             },
             "Up to twelve digits");
  parser.add_spacer();
  parser.add("pair", 'p', "q", 0, [](DemoOptions &d, CmdLineArgs *) { d.pair = true; }, "Reads are paired");
  parser.add("insert", 'q', "", 0,
             [](DemoOptions &d, CmdLineArgs *a) { a->internal_consume_bounded_integer(0, 100000, &d.insert); },
             "Insert size");
  parser.add("reads", 'i', "", kCmdLineCollecting,
             [](DemoOptions &d, CmdLineArgs *a) {
               char const *word;
               if (a->internal_consume_string(&word) == 0) d.reads.push_back(word);
             },
             "Read files");
  parser.add("output", 'o', "", kCmdLineOnce,
             [](DemoOptions &d, CmdLineArgs *a) { a->internal_consume_file_create(&d.output); }, "Output file");
  parser.add("verbose", ' ', "", 0, [](DemoOptions &d, CmdLineArgs *) { d.verbose = true; }, "Talk more");
  parser.add("debug-dump", 'd', "", kCmdLineHidden, [](DemoOptions &, CmdLineArgs *) {}, "Hidden");

  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  parser.set_output(out);
  result.problems = parser.finalize();
  fclose(out);
  result.printed.assign(text, size);
  free(text);
  result.commandline = parser.get_commandline();
  return result;
}

// The usage text of the demo parser: the column is 7 + 8 ("fraction")
// wide; a name is followed by 15 - 3 - its length blanks.
const std::string kUsage =
    "demo - Version 1.2.3\n\nUsage information:\n\n"
    "  \33[36m-t\33[0m \33[32m--threads\33[0m     Number of worker threads\n"
    "  \33[36m-r\33[0m \33[32m--ratio\33[0m       Share of hits to report\n"
    "  \33[36m-f\33[0m \33[32m--fraction\33[0m    Fraction of reads to keep\n"
    "  \33[36m-m\33[0m \33[32m--mode\33[0m        Alignment mode\n"
    "  \33[36m-s\33[0m \33[32m--scores\33[0m      Up to twelve digits\n"
    "\n"
    "  \33[36m-p\33[0m \33[32m--pair\33[0m        Reads are paired\n"
    "  \33[36m-q\33[0m \33[32m--insert\33[0m      Insert size\n"
    "  \33[36m-i\33[0m \33[32m--reads\33[0m       Read files\n"
    "  \33[36m-o\33[0m \33[32m--output\33[0m      Output file\n"
    "     \33[32m--verbose\33[0m     Talk more\n"
    "\n";

struct GoldenCase {
  const char *title;
  std::vector<std::string> words;
  const char *required;
  std::string report;  // everything after the usage text
};

TEST(CmdLineParser, GoldenProblemReports) {
  const GoldenCase cases[] = {
      {"unknown option and its arguments",
       {"demo", "-t", "4", "--colour", "red", "-i", "a.fq"},
       "",
       "There is an issue with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m-t\33[0m \33[32m4\33[0m \33[1;31m--colour\33[0m \33[1;31mred\33[0m"
       " \33[36m-i\33[0m \33[32ma.fq\33[0m\n\n"
       "  1. Unknown option \33[1m--colour\33[0m provided.\n\n"},
      {"missing argument at the end",
       {"demo", "-i", "a.fq", "-t"},
       "",
       "There is an issue with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m-i\33[0m \33[32ma.fq\33[0m \33[36m-t\33[0m \33[31m___\33[0m\n\n"
       "  1. Option \33[1m-t\33[0m needs more arguments.\n\n"},
      {"value out of range, a negative number is an argument",
       {"demo", "--threads", "-5", "-i", "a.fq"},
       "",
       "There is an issue with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m--threads\33[0m \33[1;31m-5\33[0m \33[36m-i\33[0m \33[32ma.fq\33[0m\n\n"
       "  1. The first argument of \33[1m--threads\33[0m must be an integer between 1 and 64.\n\n"},
      {"companion option missing",
       {"demo", "-p", "-i", "a.fq"},
       "",
       "There is an issue with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m-p\33[0m \33[36m-i\33[0m \33[32ma.fq\33[0m\n\n"
       "  1. Option \33[1m-p\33[0m requires presence of \33[1m-q\33[0m option.\n\n"},
      {"once-only option given twice: the second block is ignored",
       {"demo", "-t", "2", "-t", "3", "-i", "a.fq"},
       "",
       "There is an issue with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m-t\33[0m \33[32m2\33[0m \33[36m-t\33[0m \33[32m3\33[0m \33[36m-i\33[0m"
       " \33[32ma.fq\33[0m\n\n"
       "  1. Option \33[1m-t\33[0m can only be used once.\n\n"},
      {"surplus words with no collecting option seen yet",
       {"demo", "-t", "2", "3", "4", "--verbose", "x", "-i", "a.fq"},
       "",
       "There are a few issues with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m-t\33[0m \33[32m2\33[0m \33[1;31m3\33[0m \33[1;31m4\33[0m \33[36m--verbose\33[0m"
       " \33[1;31mx\33[0m \33[36m-i\33[0m \33[32ma.fq\33[0m\n\n"
       "  1. Option \33[1m-t\33[0m only needed one argument, three given.\n"
       "  2. Option \33[1m--verbose\33[0m did not use any arguments, one given.\n\n"},
      {"no mandatory option, a stray word and a bad choice",
       {"demo", "extra", "-m", "quick", "-f", "3/2"},
       "i",
       "There are a few issues with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[1;31mextra\33[0m \33[36m-m\33[0m \33[1;31mquick\33[0m \33[36m-f\33[0m"
       " \33[1;31m3/2\33[0m\n\n"
       "  1. Stray argument \"\33[1mextra\33[0m\" encountered.\n"
       "  2. The first argument of \33[1m-m\33[0m must be either \33[1mfast\33[0m, \33[1mslow\33[0m, or"
       " \33[1mexact\33[0m.\n"
       "  3. The first argument of \33[1m-f\33[0m must be a number between 0.0 and 1.0\n"
       "  4. You must provide the mandatory option \33[1m-i\33[0m.\n\n"},
      {"the twelfth word rejected, the rest of the block with it",
       {"demo", "-i", "a", "-s", "1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "1", "12", "3"},
       "",
       "There is an issue with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m-i\33[0m \33[32ma\33[0m \33[36m-s\33[0m \33[32m1\33[0m \33[32m2\33[0m \33[32m3\33[0m"
       " \33[32m4\33[0m \33[32m5\33[0m \33[32m6\33[0m \33[32m7\33[0m \33[32m8\33[0m \33[32m9\33[0m \33[32m0\33[0m"
       " \33[32m1\33[0m \33[1;31m12\33[0m \33[1;31m3\33[0m\n\n"
       "  1. The 12nd argument of \33[1m-s\33[0m must be an integer between 0 and 9.\n\n"},
      {"either of two mandatory options; bad number, rational and file",
       {"demo", "-r", "abc", "-f", "0.5x", "-x5", "-o", "/nonexistent-dir/out.nyr", "-", "-1"},
       "iq",
       "There are a few issues with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m-r\33[0m \33[1;31mabc\33[0m \33[36m-f\33[0m \33[1;31m0.5x\33[0m"
       " \33[1;31m-x5\33[0m \33[36m-o\33[0m \33[1;31m/nonexistent-dir/out.nyr\33[0m \33[1;31m-\33[0m"
       " \33[1;31m-1\33[0m\n\n"
       "  1. The first argument of \33[1m-r\33[0m must be a number.\n"
       "  2. The first argument of \33[1m-f\33[0m is not a valid number.\n"
       "  3. Unknown option \33[1m-x5\33[0m provided.\n"
       "  4. Could not open \33[1m/nonexistent-dir/out.nyr\33[0m.\n"
       "  5. Option \33[1m-o\33[0m only needed one argument, three given.\n"
       "  6. You must provide either \33[1m-i\33[0m or \33[1m-q\33[0m.\n\n"},
      {"three mandatory letters",
       {"demo", "--verbose"},
       "iqr",
       "There is an issue with the command you entered:\n\n"
       "  \33[36mdemo\33[0m \33[36m--verbose\33[0m\n\n"
       "  1. You must provide either \33[1m-i\33[0m, \33[1m-q\33[0m, or \33[1m-r\33[0m.\n\n"},
  };
  for (const GoldenCase &c : cases) {
    SCOPED_TRACE(c.title);
    RunResult r = run_parser(c.words, c.required);
    EXPECT_GT(r.problems, 0);
    EXPECT_EQ(r.printed, kUsage + c.report);
  }
}

TEST(CmdLineParser, CollectingOptionTakesSurplusWords) {
  ryx_test::ScratchDir dir;
  const std::string out = dir.file("out.nyr");
  RunResult r = run_parser({"demo", "-i", "a.fq", "b.fq", "-t", "8", "c.fq", "--pair", "d.fq", "-q", "300", "-o",
                            out, "-m", "exact", "-f", "0.25", "-r", "0.5", "-s", "-d"},
                           "io");
  EXPECT_EQ(r.problems, 0);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ(r.options.reads, (std::vector<std::string>{"a.fq", "b.fq", "c.fq", "d.fq"}));
  EXPECT_EQ(r.options.threads, 8);
  EXPECT_TRUE(r.options.pair);
  EXPECT_EQ(r.options.insert, 300);
  EXPECT_EQ(r.options.mode, 3);
  EXPECT_EQ(r.options.fraction.numerator, 1);
  EXPECT_EQ(r.options.fraction.denominator, 4);
  EXPECT_DOUBLE_EQ(r.options.ratio, 0.5);
  ASSERT_NE(r.options.output, nullptr);
  delete r.options.output;
  EXPECT_TRUE(ryx_test::file_exists(out));
  EXPECT_EQ(r.commandline, "-i a.fq b.fq -t 8 c.fq --pair d.fq -q 300 -o " + out +
                               " -m exact -f 0.25 -r 0.5 -s -d");
  EXPECT_EQ(run_parser({"demo"}).commandline, "demo");
}

TEST(CmdLineParser, RationalForms) {
  const struct {
    const char *word;
    int32_t numerator;  // 0 with denominator 0: rejected
    int32_t denominator;
  } cases[] = {
      {"0", 0, 1},     {"1", 1, 1},        {"0/7", 0, 1},  {"6/8", 3, 4},  {"0.125", 1, 8},    {"1.0", 1, 1},
      {"2", 0, 0},     {"3/2", 0, 0},      {"1/0", 0, 0},  {"1.5", 0, 0},  {".5", 0, 0},       {"0.", 0, 0},
      {"a", 0, 0},     {"1/2/3", 0, 0},    {"99999999999", 0, 0},           {"0.0000000001", 0, 0},
  };
  for (const auto &c : cases) {
    RunResult r = run_parser({"demo", "-f", c.word});
    if (c.denominator == 0) {
      EXPECT_EQ(r.problems, 1) << c.word;
    } else {
      EXPECT_EQ(r.problems, 0) << c.word;
      EXPECT_EQ(r.options.fraction.numerator, c.numerator) << c.word;
      EXPECT_EQ(r.options.fraction.denominator, c.denominator) << c.word;
    }
  }
}

TEST(CmdLineParser, IntegerAndFloatForms) {
  const struct {
    const char *word;
    bool accepted;
  } cases[] = {{"1", true}, {"64", true}, {"0", false}, {"65", false}, {"+5", false}, {"5x", false},
               {"", false}, {"4294967297", false}, {"-0", false}};
  for (const auto &c : cases) EXPECT_EQ(run_parser({"demo", "-t", c.word}).problems == 0, c.accepted) << c.word;
  EXPECT_EQ(run_parser({"demo", "-r", "1e-3"}).problems, 0);
  EXPECT_EQ(run_parser({"demo", "-r", "nan"}).problems, 1);
  EXPECT_EQ(run_parser({"demo", "-r", "1.5"}).printed.find("must be a number between 0.000000 and 1.000000.") !=
                std::string::npos,
            true);
}

}  // namespace
