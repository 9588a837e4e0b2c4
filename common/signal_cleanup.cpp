#include "common/signal_cleanup.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "common/ryx_exit.h"
#include "common/temp_file.h"

namespace {

constexpr int kWatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

pthread_once_t install_once = PTHREAD_ONCE_INIT;

// The signals the watcher waits for: those not inherited as ignored.
sigset_t watched;

void *watch_signals(void *) {
  int signal_number = 0;
  while (sigwait(&watched, &signal_number) != 0) {
  }
  temp_file_remove_all_at_end();

  // Ends the process by the same signal: with the default action back in
  // place and the signal unblocked in this thread, raising it here takes
  // that action at once.
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal_number);
  // Not reached for these signals; the status a shell gives such an end.
  _exit(128 + signal_number);
}

void install(void) {
  sigemptyset(&watched);
  for (int signal_number : kWatchedSignals) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&watched, signal_number);
  }
  pthread_sigmask(SIG_BLOCK, &watched, nullptr);

  // The watcher is started with the signals blocked, as sigwait requires.
  pthread_t thread;
  const int error = pthread_create(&thread, nullptr, watch_signals, nullptr);
  if (error != 0) {
    fprintf(stderr, "Could not start the signal watcher: %s\n", strerror(error));
    ryx_exit(1);
  }
  pthread_detach(thread);
}

}  // namespace

void signal_cleanup_install(void) { pthread_once(&install_once, install); }
