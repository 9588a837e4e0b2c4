// Starting and waiting for the child process of ryx_runstat.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/ryx_exit.h"
#include "tools/runstat_command.h"

namespace {

// Poll interval for the tests: 20 x 50 us = 1 ms between polls.
constexpr unsigned long long kFastInterval = 20;

// Starts the words as a command and waits for it.
int run(SystemCommand &command, std::vector<std::string> words,
        std::function<void(int)> callback = nullptr) {
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  if (!command.start(static_cast<int>(words.size()), argv.data())) return -1;
  return command.wait(kFastInterval, std::move(callback));
}

struct ExitCase {
  std::vector<std::string> words;
  int exit_code;
  int signal;
};

TEST(SystemCommand, ExitCodeAndSignalOfTheChild) {
  const ExitCase cases[] = {
      {{"/bin/true"}, 0, 0},
      {{"/bin/sh", "-c", "exit 7"}, 7, 0},
      {{"/bin/sh", "-c", "exit 255"}, 255, 0},
      // A signal gives exit code 1 and the signal number.
      {{"/bin/sh", "-c", "kill -9 $$"}, 1, 9},
      {{"/bin/sh", "-c", "kill -15 $$"}, 1, 15},
      // The first word is a path: no search of PATH.
      {{"sh", "-c", "exit 0"}, 42, 0},
      {{"/no/such/program"}, 42, 0},
  };
  for (const ExitCase &c : cases) {
    SystemCommand command;
    std::vector<std::string> words = c.words;
    int code = run(command, words);
    EXPECT_EQ(code, c.exit_code) << words[0] << " " << (words.size() > 2 ? words[2] : "");
    EXPECT_EQ(command.get_exit_code(), c.exit_code);
    EXPECT_EQ(command.get_signal(), c.signal);
    EXPECT_GT(command.get_pid(), 0);
  }
}

TEST(SystemCommand, NotStartedWaitsForNothing) {
  SystemCommand command;
  EXPECT_EQ(command.get_pid(), 0);
  EXPECT_FALSE(command.is_started());
  EXPECT_EQ(command.wait(kFastInterval, [](int) { FAIL() << "callback without a child"; }), 42);
  char *empty[] = {nullptr};
  EXPECT_FALSE(command.start(0, empty));
  EXPECT_EQ(command.get_pid(), 0);
}

TEST(SystemCommand, CallbackOnEveryTwentiethPollWithThePid) {
  SystemCommand command;
  std::vector<int> pids;
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(run(command, {"/bin/sh", "-c", "sleep 0.3"}, [&pids](int pid) { pids.push_back(pid); }), 0);
  auto elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - begin)
                        .count();
  // Each poll sleeps at least 1 ms, so 20 polls take at least 20 ms.
  EXPECT_GE(pids.size(), 1u);
  EXPECT_LE(static_cast<long long>(pids.size()), elapsed_ms / 20 + 1);
  for (int pid : pids) EXPECT_EQ(pid, command.get_pid());

  // With 50 ms between polls a short command ends before the twentieth.
  SystemCommand quick;
  char *argv[] = {const_cast<char *>("/bin/true"), nullptr};
  ASSERT_TRUE(quick.start(1, argv));
  int calls = 0;
  EXPECT_EQ(quick.wait(1000, [&calls](int) { calls++; }), 0);
  EXPECT_EQ(calls, 0);
}

// The exit handlers and the stdio buffers of the parent belong to the
// parent: a child whose program cannot be run must not run or flush them.
void say_handler() { fputs("handler\n", stderr); }

TEST(SystemCommandDeath, ChildThatCannotRunItsProgramEndsWith42Quietly) {
  EXPECT_EXIT(
      {
        atexit(say_handler);
        SystemCommand command;
        fprintf(stderr, "status %d\n", run(command, {"/no/such/program", "arg"}));
        ryx_exit(0);
      },
      testing::ExitedWithCode(0), "^/no/such/program: No such file or directory\nstatus 42\nhandler\n$");
}

// An inherited SIGCHLD disposition that would take the child's status away
// from us (ignored, or a handler that reaps) does not stop the wait; the
// disposition is put back afterwards.
void reap_all(int) {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

TEST(SystemCommandDeath, InheritedSigchldDispositionDoesNotLoseTheStatus) {
  for (void (*handler)(int) : {SIG_IGN, reap_all}) {
    EXPECT_EXIT(
        {
          struct sigaction action {};
          action.sa_handler = handler;
          sigemptyset(&action.sa_mask);
          sigaction(SIGCHLD, &action, nullptr);
          SystemCommand command;
          int code = run(command, {"/bin/sh", "-c", "sleep 0.05; exit 7"});
          struct sigaction now {};
          sigaction(SIGCHLD, nullptr, &now);
          if (now.sa_handler != handler) ryx_exit(99);
          ryx_exit(code);
        },
        testing::ExitedWithCode(7), "");
  }
}

bool start_true(SystemCommand &command) {
  char *argv[] = {const_cast<char *>("/bin/true"), nullptr};
  return command.start(1, argv);
}

TEST(SystemCommandDeath, WaitThatCannotSucceedEndsWithAMessage) {
  EXPECT_EXIT(
      {
        SystemCommand command;
        if (!start_true(command)) ryx_exit(98);
        // Someone else has taken the child's status: no child is left to wait for.
        int status;
        waitpid(command.get_pid(), &status, 0);
        command.wait(kFastInterval, nullptr);
        ryx_exit(0);
      },
      testing::ExitedWithCode(1),
      "^Unable to wait for the command \\(process [0-9]+\\): No child processes\n$");
}

}  // namespace
