// The command that ryx_runstat runs: one child process, started without a
// search of PATH and polled until it ends.
#pragma once

#include <signal.h>

#include <cstdint>
#include <functional>

class SystemCommand {
 public:
  SystemCommand() = default;
  SystemCommand(const SystemCommand &) = delete;
  SystemCommand &operator=(const SystemCommand &) = delete;

  // Starts argv[0] (a path, used as it is) with argv[0..argc) as its
  // arguments. True in the parent once the child exists; false when the
  // child cannot be created (the system's error for the path is printed on
  // standard error). A child whose program cannot be run prints the
  // system's error for the path and ends with status 42; it never returns.
  bool start(int argc, char **argv);

  // The child's process id once started, else 0.
  int get_pid() const { return started_ ? pid_ : 0; }

  // Polls the child without blocking until it ends, sleeping interval x 50
  // microseconds after every poll that finds it still running and calling
  // callback(pid) on every twentieth such poll. Returns the exit code: the
  // child's own status, 1 when a signal ended it, 42 when it was never
  // started. When the child cannot be waited for (any failure but an
  // interrupted call) it prints a message and ends the process with
  // status 1.
  int wait(unsigned long long interval, std::function<void(int)> callback);

  bool is_started() const { return started_; }
  // The value wait returned (0 before).
  int get_exit_code() const { return exit_code_; }
  // The signal that ended the child, 0 when it exited by itself.
  int get_signal() const { return signal_; }

 private:
  bool started_ = false;
  int32_t pid_ = 0;
  int32_t exit_code_ = 0;
  int32_t signal_ = 0;
  // SIGCHLD as it was before start reset it to the default: the child gets
  // it back before its program runs, and the parent after the wait.
  struct sigaction saved_sigchld_ {};
  bool sigchld_saved_ = false;
};
