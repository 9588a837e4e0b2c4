#include "common/ryx_exit.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "common/temp_file.h"

namespace {
// Written by the thread that exits, read by the leak checker during exit.
volatile unsigned char leak_report_disabled = 0;
// The line a failed exit adds; any thread may exit while the main thread
// changes it.
std::atomic<const char *> exit_context{nullptr};
// Set by the first thread that ends the process.
std::atomic<bool> exit_started{false};
std::atomic<pthread_t> exiting_thread{};
}  // namespace

extern "C" void ryx_exit(int status) {
  if (exit_started.exchange(true)) {
    // An exit handler of the ending thread may end again: it ends at once.
    // Any other thread waits, so that one status and one cleanup decide.
    if (pthread_equal(exiting_thread.load(), pthread_self())) _exit(status);
    for (;;) pause();
  }
  exiting_thread.store(pthread_self());
  if (status == 0) std::exit(0);

  leak_report_disabled = 1;
  if (const char *context = exit_context.load()) fputs(context, stderr);
  // A failure may be met on any thread while the others still run: exit
  // handlers and static destructors would race them (and freed objects
  // under running workers corrupt the heap). So a failed exit removes the
  // temporary files and unfinished outputs itself, flushes the standard
  // streams and ends at once.
  temp_file_remove_all_at_end();
  fflush(nullptr);
  _exit(status);
}

extern "C" void ryx_fail(const char *message) {
  fputs(message, stderr);
  ryx_exit(1);
}

extern "C" void ryx_fail_stdout(const char *message) {
  fputs(message, stdout);
  ryx_exit(1);
}

extern "C" void ryx_exit_set_context(const char *text) { exit_context.store(text); }

extern "C" int __lsan_is_turned_off(void) { return leak_report_disabled; }
