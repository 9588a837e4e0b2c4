// Interrupts: the registered temporary files and unfinished outputs are
// removed, an earlier output stays, and the process ends by the signal.
#include "common/signal_cleanup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/output_file.h"
#include "common/temp_file.h"
#include "tests/support/test_support.h"

namespace {

using ryx_test::dir_names;
using ryx_test::read_file;
using ryx_test::ScratchDir;
using ryx_test::write_file;

// In the child of a death test: a temporary file and an unfinished output
// over an existing file, both written to, then the signal; never returns.
[[noreturn]] void interrupted_child(const std::string &dir, int signal_number) {
  signal_cleanup_install();
  char *temp_path = nullptr;
  FILE *temp = temp_file_create(dir.c_str(), &temp_path);
  fputs("intermediate data", temp);
  fflush(temp);
  output_file_t *output = output_file_open((dir + "/result.txt").c_str());
  fputs("half a result", output->file);
  fflush(output->file);
  kill(getpid(), signal_number);
  for (;;) pause();
}

TEST(SignalCleanup, InterruptRemovesTemporaryFilesAndEndsBySignal) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    ScratchDir scratch;
    write_file(scratch.file("result.txt"), "earlier result");
    EXPECT_EXIT(interrupted_child(scratch.path(), signal_number), testing::KilledBySignal(signal_number), "");
    EXPECT_EQ(dir_names(scratch.path()), std::vector<std::string>{"result.txt"});
    EXPECT_EQ(read_file(scratch.file("result.txt")), "earlier result");
  }
}

// A hang-up ignored by the parent (as nohup does) stays ignored; the
// watcher still takes the other signals.
TEST(SignalCleanup, InheritedIgnoredSignalStaysIgnored) {
  ScratchDir scratch;
  const std::string dir = scratch.path();
  EXPECT_EXIT(
      {
        signal(SIGHUP, SIG_IGN);
        signal_cleanup_install();
        char *temp_path = nullptr;
        temp_file_create(dir.c_str(), &temp_path);
        kill(getpid(), SIGHUP);
        usleep(100000);
        // Still running: the exit handlers remove the file.
        exit(3);
      },
      testing::ExitedWithCode(3), "");
  EXPECT_TRUE(dir_names(dir).empty());
  EXPECT_EXIT(
      {
        signal(SIGHUP, SIG_IGN);
        signal_cleanup_install();
        kill(getpid(), SIGTERM);
        for (;;) pause();
      },
      testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
