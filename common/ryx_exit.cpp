#include "common/ryx_exit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
// Written by the thread that exits, read by the leak checker during exit.
volatile unsigned char leak_report_disabled = 0;
// The line a failed exit adds; any thread may exit while the main thread
// changes it.
std::atomic<const char *> exit_context{nullptr};
}  // namespace

extern "C" void ryx_exit(int status) {
  if (status != 0) {
    leak_report_disabled = 1;
    if (const char *context = exit_context.load()) fputs(context, stderr);
  }
  std::exit(status);
}

extern "C" void ryx_exit_set_context(const char *text) { exit_context.store(text); }

extern "C" int __lsan_is_turned_off(void) { return leak_report_disabled; }
