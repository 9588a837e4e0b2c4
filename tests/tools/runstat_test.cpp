// Command line, usage text, log text and log file of ryx_runstat.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform.h"
#include "test_support.h"
#include "tools/runstat.h"
#include "tools/runstat_command.h"
#include "tools/runstat_utilisation.h"

namespace {

// Owns the words of a command line and hands out a null-terminated argv.
class Words {
 public:
  explicit Words(std::vector<std::string> words) : words_(std::move(words)) {
    for (auto &w : words_) pointers_.push_back(w.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words_.size()); }
  char **argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char *> pointers_;
};

struct CommandLineCase {
  std::vector<std::string> args;  // after the program's own name
  bool valid;
  int command_count;
};

TEST(RunstatCommandLine, AcceptsLogAndCommandWordsOnly) {
  const CommandLineCase cases[] = {
      {{"-l", "run.log", "-c", "/bin/true"}, true, 1},
      {{"-l", "run.log", "-c", "/bin/echo", "a", "-l", "b"}, true, 4},
      // Only the first two characters of the option words are compared.
      {{"-log", "run.log", "-cmd", "/bin/true"}, true, 1},
      {{"-l", "run.log", "-c"}, false, 0},
      {{}, false, 0},
      {{"-l", "run.log"}, false, 0},
      {{"-c", "run.log", "-l", "/bin/true"}, false, 0},
      {{"-x", "run.log", "-c", "/bin/true"}, false, 0},
      {{"-", "run.log", "-c", "/bin/true"}, false, 0},
      {{"l", "run.log", "-c", "/bin/true"}, false, 0},
      {{"-l", "run.log", "c", "/bin/true"}, false, 0},
      {{"-l", "run.log", "/bin/true", "-c"}, false, 0},
  };
  for (const CommandLineCase &c : cases) {
    std::vector<std::string> all{"ryx_runstat"};
    all.insert(all.end(), c.args.begin(), c.args.end());
    Words words(all);
    RunstatCommandLine line(words.argc(), words.argv());
    ASSERT_EQ(line.valid(), c.valid) << testing::PrintToString(c.args);
    if (!c.valid) continue;
    EXPECT_STREQ(line.log_path(), "run.log");
    ASSERT_EQ(line.command_count(), c.command_count);
    for (int i = 0; i < c.command_count; i++) EXPECT_EQ(line.command()[i], c.args[3 + i]);
    EXPECT_EQ(line.command()[c.command_count], nullptr);
  }
}

const char kUsageHead[] =
    "RYX Runstat - Version 24.271259\n"
    "\n"
    "Usage information:\n"
    "  -l\t\tLog output file\n"
    "  -c\t\tCommand to run\n"
    "\n"
    "There is an issue with the command you entered:\n"
    "\n";

TEST(RunstatCommandLine, UsageRepeatsTheWordsGiven) {
  Words some({"./ryx_runstat", "-l", "x y", "-c"});
  EXPECT_EQ(RunstatCommandLine(some.argc(), some.argv()).usage(),
            std::string(kUsageHead) + "  ./ryx_runstat -l x y -c\n\n");
  Words none({"ryx_runstat"});
  EXPECT_EQ(RunstatCommandLine(none.argc(), none.argv()).usage(),
            std::string(kUsageHead) + "  ryx_runstat \n\n");
  EXPECT_EQ(runstat_version(), "24.271259");
}

TEST(RunstatLogText, KeysInOrderWithUnitsAndStreamNumberForm) {
  RunstatRecord r;
  r.exit_code = 7;
  r.has_avx2 = true;
  r.hardware_threads = 8;
  r.system_memory_mb = 24103;
  r.platform = "Test OS x86-64";
  r.time_passed_us = 2000000;
  r.free_tmp_space_mb = 81746;
  r.user_time_us = 1500000;
  r.system_time_us = 333;
  r.memory_high_mb = 23735;
  r.memory_low_mb = 23730;
  r.memory_last_mb = 23733;
  EXPECT_EQ(runstat_log_text(r),
            "exitcode = 7\n"
            "signaled = 0\n"
            "hardware_has_avx2 = yes\n"
            "hardware_threads = 8\n"
            "hardware_system_memory = 24103 MB\n"
            "platform = Test OS x86-64\n"
            "execution_time = 2 s\n"
            "free_tmp_space = 81746 MB\n"
            "cpu_user = 75 %\n"
            "cpu_system = 0.01665 %\n"
            "avail_system_memory(high) = 23735 MB\n"
            "avail_system_memory(low) = 23730 MB\n"
            "avail_system_memory(last) = 23733 MB\n");

  // A signalled child, no memory sample taken, six significant digits.
  RunstatRecord s;
  s.exit_code = 1;
  s.signal = 9;
  s.hardware_threads = 1;
  s.platform = "p";
  s.time_passed_us = 1234567890;
  s.user_time_us = 1234567890 / 3;
  s.memory_low_mb = UINT64_MAX;
  EXPECT_EQ(runstat_log_text(s),
            "exitcode = 1\n"
            "signaled = 9\n"
            "hardware_has_avx2 = no\n"
            "hardware_threads = 1\n"
            "hardware_system_memory = 0 MB\n"
            "platform = p\n"
            "execution_time = 1234.57 s\n"
            "free_tmp_space = 0 MB\n"
            "cpu_user = 33.3333 %\n"
            "cpu_system = 0 %\n"
            "avail_system_memory(high) = 0 MB\n"
            "avail_system_memory(low) = 18446744073709551615 MB\n"
            "avail_system_memory(last) = 0 MB\n");

  // A run too short to measure gives 0 %, not a division by zero.
  RunstatRecord z;
  z.user_time_us = 5;
  EXPECT_NE(runstat_log_text(z).find("\ncpu_user = 0 %\n"), std::string::npos);
}

// Sets the three temporary-directory variables and puts them back after.
class TempEnvironment {
 public:
  TempEnvironment() {
    for (const char *name : kNames) {
      const char *v = getenv(name);
      saved_.emplace_back(v != nullptr, v != nullptr ? v : "");
    }
  }
  ~TempEnvironment() {
    for (size_t i = 0; i < 3; i++) {
      if (saved_[i].first) setenv(kNames[i], saved_[i].second.c_str(), 1);
      else unsetenv(kNames[i]);
    }
  }
  void set(const char *tmpdir, const char *tmp, const char *temp) {
    const char *values[] = {tmpdir, tmp, temp};
    for (size_t i = 0; i < 3; i++) {
      if (values[i] != nullptr) setenv(kNames[i], values[i], 1);
      else unsetenv(kNames[i]);
    }
  }

 private:
  static constexpr const char *kNames[3] = {"TMPDIR", "TMP", "TEMP"};
  std::vector<std::pair<bool, std::string>> saved_;
};

TEST(RunstatTempDirectory, FirstSetVariableElseVarTmp) {
  TempEnvironment env;
  struct {
    const char *tmpdir, *tmp, *temp, *expected;
  } cases[] = {
      {"/a", "/b", "/c", "/a"},
      {nullptr, "/b", "/c", "/b"},
      {nullptr, nullptr, "/c", "/c"},
      {"", "", "/c", "/c"},
      {nullptr, nullptr, nullptr, "/var/tmp/"},
  };
  for (const auto &c : cases) {
    env.set(c.tmpdir, c.tmp, c.temp);
    EXPECT_EQ(runstat_temp_directory(), c.expected);
  }
}

TEST(RunstatRecord, TakesTheRunFromTheCommandAndTheMachineFromThePlatform) {
  ryx_test::ScratchDir dir;
  TempEnvironment env;
  env.set(dir.path().c_str(), nullptr, nullptr);

  SystemCommand command;
  char *argv[] = {const_cast<char *>("/bin/sh"), const_cast<char *>("-c"),
                  const_cast<char *>("kill -15 $$"), nullptr};
  ASSERT_TRUE(command.start(3, argv));
  UtilisationReporter reporter(command.get_pid());
  ASSERT_EQ(command.wait(20, nullptr), 1);
  reporter.complete();
  RunstatRecord r = runstat_record(command, reporter);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.signal, 15);
  EXPECT_EQ(r.has_avx2, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(r.hardware_threads, platform_hardware_threads());
  EXPECT_EQ(r.system_memory_mb, platform_physical_memory_bytes() >> 20);
  EXPECT_EQ(r.platform, platform_name());
  EXPECT_GT(r.time_passed_us, 0u);
  EXPECT_LT(r.time_passed_us, 10000000u);
  // The scratch directory's file system, measured independently.
  uint64_t free_mb = std::filesystem::space(dir.path()).available >> 20;
  EXPECT_NEAR(static_cast<double>(r.free_tmp_space_mb), static_cast<double>(free_mb), 256.0);
  EXPECT_GT(r.free_tmp_space_mb, 0u);
  EXPECT_EQ(r.memory_high_mb, reporter.get_memory_high_mb());
  EXPECT_EQ(r.memory_low_mb, reporter.get_memory_low_mb());
  EXPECT_EQ(r.memory_last_mb, reporter.get_memory_last_mb());

  // A temporary directory that does not exist has no free space to show.
  env.set((dir.path() + "/missing").c_str(), nullptr, nullptr);
  EXPECT_EQ(runstat_record(command, reporter).free_tmp_space_mb, 0u);
}

TEST(RunstatLog, WritesTheTextAndReportsFailures) {
  ryx_test::ScratchDir dir;
  {
    RunstatLog log;
    ASSERT_TRUE(log.open(dir.file("run.log").c_str()));
    EXPECT_TRUE(log.write("exitcode = 0\n"));
  }
  EXPECT_EQ(ryx_test::read_file(dir.file("run.log")), "exitcode = 0\n");

  RunstatLog missing;
  EXPECT_FALSE(missing.open(dir.file("no/run.log").c_str()));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(missing.write("x"));

  // A device that is always full: the open succeeds, the write cannot.
  RunstatLog full;
  ASSERT_TRUE(full.open("/dev/full"));
  EXPECT_FALSE(full.write(std::string(100000, 'x')));
  EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
