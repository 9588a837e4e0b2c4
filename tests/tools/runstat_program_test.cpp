// The ryx_runstat program end to end: statuses, messages and the log file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/platform.h"
#include "test_support.h"

namespace {

using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::run_program;
using ryx_test::RunResult;
using ryx_test::ScratchDir;

// The log as (key, value) pairs in file order; every line must be
// "key = value".
std::vector<std::pair<std::string, std::string>> parse_log(const std::string &text) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find(" = ");
    EXPECT_NE(eq, std::string::npos) << line;
    if (eq == std::string::npos) continue;
    lines.emplace_back(line.substr(0, eq), line.substr(eq + 3));
  }
  EXPECT_EQ(text.empty() || text.back() == '\n', true);
  return lines;
}

std::string value_of(const std::vector<std::pair<std::string, std::string>> &log, const std::string &key) {
  for (const auto &kv : log)
    if (kv.first == key) return kv.second;
  ADD_FAILURE() << "no key " << key;
  return "";
}

// The number before the unit of a value such as "2.00213 s".
double number_of(const std::vector<std::pair<std::string, std::string>> &log, const std::string &key) {
  return std::strtod(value_of(log, key).c_str(), nullptr);
}

uint64_t mb_of(const std::vector<std::pair<std::string, std::string>> &log, const std::string &key) {
  return std::strtoull(value_of(log, key).c_str(), nullptr, 10);
}

RunResult runstat(const std::string &log, std::vector<std::string> command) {
  std::vector<std::string> argv{program_path("ryx_runstat"), "-l", log, "-c"};
  argv.insert(argv.end(), command.begin(), command.end());
  return run_program(argv);
}

struct StatusCase {
  std::vector<std::string> command;
  int status;
  int signal;
  std::string out;
  std::string err;
};

TEST(RunstatProgram, EndsWithTheChildsStatusAndLogsIt) {
  const StatusCase cases[] = {
      {{"/bin/true"}, 0, 0, "", ""},
      {{"/bin/sh", "-c", "exit 7"}, 7, 0, "", ""},
      {{"/bin/sh", "-c", "kill -9 $$"}, 1, 9, "", ""},
      // The command shares our standard output and error.
      {{"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, 3, 0, "out\n", "err\n"},
      {{"/no/such/program", "x"}, 42, 0, "", "/no/such/program: No such file or directory\n"},
  };
  for (const StatusCase &c : cases) {
    ScratchDir dir;
    RunResult r = runstat(dir.file("run.log"), c.command);
    SCOPED_TRACE(c.command.back());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    auto log = parse_log(read_file(dir.file("run.log")));
    EXPECT_EQ(value_of(log, "exitcode"), std::to_string(c.status));
    EXPECT_EQ(value_of(log, "signaled"), std::to_string(c.signal));
    // A command this short leaves only the first memory sample.
    EXPECT_EQ(value_of(log, "avail_system_memory(high)"), value_of(log, "avail_system_memory(last)"));
    EXPECT_EQ(value_of(log, "avail_system_memory(low)"), value_of(log, "avail_system_memory(last)"));
  }
}

TEST(RunstatProgram, BadCommandLineGivesUsageAndStatus1) {
  const std::string head =
      "RYX Runstat - Version 24.271259\n\nUsage information:\n  -l\t\tLog output file\n"
      "  -c\t\tCommand to run\n\nThere is an issue with the command you entered:\n\n";
  ScratchDir dir;
  const std::string log = dir.file("run.log");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-l", log, "-c"},
      {"-c", log, "-l", "/bin/true"},
      {"-l", log, "/bin/true", "/bin/true"},
  };
  for (const auto &args : cases) {
    std::vector<std::string> argv{program_path("ryx_runstat")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_program(argv);
    std::string joined;
    for (size_t i = 1; i < argv.size(); i++) joined += (i > 1 ? " " : "") + argv[i];
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, head + "  " + argv[0] + " " + joined + "\n\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(ryx_test::file_exists(log));
  }
}

TEST(RunstatProgram, LogThatCannotBeWrittenIsReported) {
  ScratchDir dir;
  // The log is opened before the command runs: a bad path costs no run.
  const std::string log = dir.file("missing/run.log");
  const std::string marker = dir.file("ran");
  RunResult r = runstat(log, {"/bin/sh", "-c", "touch " + marker});
  EXPECT_EQ(r.status, 73);
  EXPECT_EQ(r.err, "Unable to open log file " + log + ": No such file or directory\n");
  EXPECT_FALSE(ryx_test::file_exists(marker));

  // A device that is always full accepts the open but not the write.
  r = runstat("/dev/full", {"/bin/true"});
  EXPECT_EQ(r.status, 74);
  EXPECT_EQ(r.err, "Unable to write log file /dev/full: No space left on device\n");
}

TEST(RunstatProgram, LogHasEveryKeyInOrderWithItsFormat) {
  ScratchDir dir;
  // TMPDIR is set through env so that it replaces any inherited value.
  RunResult r = run_program({"/usr/bin/env", "TMPDIR=" + dir.path(), program_path("ryx_runstat"), "-l",
                             dir.file("run.log"), "-c", "/bin/sleep", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto log = parse_log(read_file(dir.file("run.log")));

  // The form of each value: a fixed text, yes or no, a decimal integer, a
  // number in the default stream form, each possibly followed by a unit.
  enum Form { kFixed, kYesNo, kInteger, kReal, kText };
  const struct {
    const char *key;
    Form form;
    const char *unit_or_text;
  } expected[] = {
      {"exitcode", kFixed, "0"},
      {"signaled", kFixed, "0"},
      {"hardware_has_avx2", kYesNo, ""},
      {"hardware_threads", kInteger, ""},
      {"hardware_system_memory", kInteger, " MB"},
      {"platform", kText, ""},
      {"execution_time", kReal, " s"},
      {"free_tmp_space", kInteger, " MB"},
      {"cpu_user", kReal, " %"},
      {"cpu_system", kReal, " %"},
      {"avail_system_memory(high)", kInteger, " MB"},
      {"avail_system_memory(low)", kInteger, " MB"},
      {"avail_system_memory(last)", kInteger, " MB"},
  };
  ASSERT_EQ(log.size(), std::size(expected));
  for (size_t i = 0; i < log.size(); i++) {
    const auto &e = expected[i];
    const std::string &value = log[i].second;
    EXPECT_EQ(log[i].first, e.key);
    SCOPED_TRACE(log[i].first + " = " + value);
    if (e.form == kFixed) {
      EXPECT_EQ(value, e.unit_or_text);
      continue;
    }
    if (e.form == kYesNo) {
      EXPECT_TRUE(value == "yes" || value == "no");
      continue;
    }
    if (e.form == kText) {
      EXPECT_FALSE(value.empty());
      continue;
    }
    const std::string unit = e.unit_or_text;
    ASSERT_GT(value.size(), unit.size());
    EXPECT_EQ(value.substr(value.size() - unit.size()), unit);
    const std::string digits = value.substr(0, value.size() - unit.size());
    if (e.form == kInteger) {
      EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
      EXPECT_TRUE(digits == "0" || digits[0] != '0');
    } else {
      // Six significant digits at most, no trailing zeros after a point.
      size_t used = 0;
      std::stod(digits, &used);
      EXPECT_EQ(used, digits.size());
      EXPECT_EQ(digits.find_first_not_of("0123456789.e+-"), std::string::npos);
      if (digits.find('.') != std::string::npos && digits.find('e') == std::string::npos) {
        EXPECT_NE(digits.back(), '0');
      }
      std::string mantissa = digits.substr(0, digits.find('e'));
      size_t first = mantissa.find_first_not_of("0.");
      mantissa = first == std::string::npos ? "" : mantissa.substr(first);
      size_t significant = 0;
      for (char c : mantissa) significant += c >= '0' && c <= '9';
      EXPECT_LE(significant, 6u);
    }
  }

  // The run took two seconds, plus a poll interval and start-up, which a
  // busy machine stretches.
  double seconds = number_of(log, "execution_time");
  EXPECT_GE(seconds, 2.0);
  EXPECT_LE(seconds, 3.0);
  // Sleeping uses almost no processor time.
  EXPECT_LT(number_of(log, "cpu_user"), 10.0);

  // Memory was sampled about once a second; the samples are ordered and
  // none exceeds the machine's memory.
  uint64_t high = mb_of(log, "avail_system_memory(high)");
  uint64_t low = mb_of(log, "avail_system_memory(low)");
  uint64_t last = mb_of(log, "avail_system_memory(last)");
  EXPECT_GE(high, last);
  EXPECT_GE(last, low);
  EXPECT_GT(low, 0u);
  EXPECT_LE(high, mb_of(log, "hardware_system_memory"));

  // The machine as the platform layer and the compiler see it.
  EXPECT_EQ(value_of(log, "platform"), platform_name());
  EXPECT_EQ(value_of(log, "hardware_threads"), std::to_string(platform_hardware_threads()));
  EXPECT_EQ(mb_of(log, "hardware_system_memory"), platform_physical_memory_bytes() >> 20);
  __builtin_cpu_init();
  EXPECT_EQ(value_of(log, "hardware_has_avx2"), __builtin_cpu_supports("avx2") ? "yes" : "no");
  // Free space of the temporary directory given, measured independently.
  double free_mb = static_cast<double>(std::filesystem::space(dir.path()).available >> 20);
  EXPECT_NEAR(static_cast<double>(mb_of(log, "free_tmp_space")), free_mb, 256.0);
}

// Seconds of a bash "times" figure such as "0m1.004s".
double times_seconds(const std::string &figure) {
  size_t m = figure.find('m');
  return std::strtod(figure.substr(0, m).c_str(), nullptr) * 60 +
         std::strtod(figure.substr(m + 1).c_str(), nullptr);
}

TEST(RunstatProgram, BusyCommandLogsUserTimeCloseToItsRunTime) {
  ScratchDir dir;
  // Spins for one second of wall-clock time without starting processes,
  // then prints its own user and system time.
  RunResult r = runstat(dir.file("run.log"),
                        {"/bin/bash", "-c",
                         "s=${EPOCHREALTIME/./}; while (( ${EPOCHREALTIME/./} - s < 1000000 )); do :; done; "
                         "times"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream times(r.out);
  std::string own_user, own_system;
  ASSERT_TRUE(times >> own_user >> own_system) << r.out;

  auto log = parse_log(read_file(dir.file("run.log")));
  double seconds = number_of(log, "execution_time");
  // The loop ends one wall-clock second after it starts; a busy machine may
  // delay the start and the last poll, never shorten the run.
  EXPECT_GE(seconds, 1.0);
  EXPECT_LE(seconds, 20.0);
  double user = number_of(log, "cpu_user");
  double system = number_of(log, "cpu_system");
  // The logged shares of the run time give back the child's own figures
  // (which are rounded to milliseconds).
  EXPECT_NEAR(user / 100 * seconds, times_seconds(own_user), 0.02);
  EXPECT_NEAR(system / 100 * seconds, times_seconds(own_system), 0.02);
  // The run time also holds start-up and up to one 50 ms poll after the
  // end; how much of it the child spent on a processor depends on the load
  // of the machine, so only the upper bound is fixed.
  EXPECT_GT(user + system, 0.0);
  EXPECT_LE(user + system, 101.0);
}

TEST(RunstatProgram, InheritedIgnoredSigchldStillGivesTheStatus) {
  ScratchDir dir;
  // The shell ignores SIGCHLD and hands that on to ryx_runstat by exec
  // (bash does; some shells reset it for their own job control). The
  // command, a bash too, shows that it got the ignored SIGCHLD back.
  RunResult r = run_program({"/bin/bash", "-c", "trap '' CHLD; exec \"$0\" -l \"$1\" -c /bin/bash -c \"$2\"",
                             program_path("ryx_runstat"), dir.file("run.log"), "trap -p CHLD; exit 7"});
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_EQ(r.out, "trap -- '' SIGCHLD\n");
  auto log = parse_log(read_file(dir.file("run.log")));
  EXPECT_EQ(value_of(log, "exitcode"), "7");
}

}  // namespace
