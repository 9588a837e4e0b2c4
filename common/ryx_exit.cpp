#include "common/ryx_exit.h"

#include <cstdlib>

namespace {
// Written by the thread that exits, read by the leak checker during exit.
volatile unsigned char leak_report_disabled = 0;
}  // namespace

extern "C" void ryx_exit(int status) {
  if (status != 0) leak_report_disabled = 1;
  std::exit(status);
}

extern "C" int __lsan_is_turned_off(void) { return leak_report_disabled; }
