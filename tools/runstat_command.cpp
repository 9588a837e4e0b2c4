#include "tools/runstat_command.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "common/ryx_exit.h"

namespace {

// Status the child ends with when its program cannot be run; the parent
// passes it on as its own exit status.
constexpr int kCannotStartStatus = 42;

// A stop or continue report has 0x7f in the low seven bits of the status;
// anything else with non-zero low bits is the signal that ended the child.
constexpr int kSignalMask = 0x7f;
constexpr int kStoppedMark = 0x7f;

// The callback fires once per this many polls of a running child.
constexpr unsigned long long kPollsPerCallback = 20;

}  // namespace

bool SystemCommand::start(int argc, char **argv) {
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) return false;
  // The argument vector for execv, ending in a null pointer, is built
  // before the fork so the child allocates nothing.
  std::vector<char *> args(argv, argv + argc);
  args.push_back(nullptr);

  // With SIGCHLD ignored (inherited from whoever started us) or caught by a
  // handler that reaps, the kernel or the handler would take the child's
  // status and every wait would fail; the default disposition keeps the
  // status for us.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  if (!sigchld_saved_ && sigaction(SIGCHLD, &default_action, &saved_sigchld_) == 0)
    sigchld_saved_ = true;

  pid_t pid = fork();
  if (pid == 0) {
    // The child: the program gets the SIGCHLD disposition it would have
    // had without us. _exit keeps the parent's exit handlers and stdio
    // buffers, copied by the fork, from running or being written twice.
    if (sigchld_saved_) sigaction(SIGCHLD, &saved_sigchld_, nullptr);
    execv(args[0], args.data());
    perror(args[0]);
    _exit(kCannotStartStatus);
  }
  if (pid < 0) {
    perror(args[0]);
    return false;
  }
  pid_ = pid;
  started_ = true;
  return true;
}

int SystemCommand::wait(unsigned long long interval, std::function<void(int)> callback) {
  if (!started_) return kCannotStartStatus;
  unsigned long long polls = 0;
  int status = 0;
  for (;;) {
    pid_t reported = waitpid(pid_, &status, WNOHANG);
    if (reported == pid_ && (status & kSignalMask) != kStoppedMark) break;
    if (reported < 0 && errno != EINTR) {
      fprintf(stderr, "Unable to wait for the command (process %d): %s\n", pid_, strerror(errno));
      ryx_exit(1);
    }
    polls++;
    if (polls % kPollsPerCallback == 0 && callback) callback(pid_);
    std::this_thread::sleep_for(std::chrono::microseconds(interval * 50));
  }
  if ((status & kSignalMask) != 0) {
    signal_ = status & kSignalMask;
    exit_code_ = 1;
  } else {
    signal_ = 0;
    exit_code_ = (status >> 8) & 0xff;
  }
  if (sigchld_saved_) {
    sigaction(SIGCHLD, &saved_sigchld_, nullptr);
    sigchld_saved_ = false;
  }
  return exit_code_;
}
