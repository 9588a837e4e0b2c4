#include "fm/runtime/progress.h"

#include <chrono>
#include <cstdio>

#include "common/activity.h"
#include "fm/runtime/out_of_memory.h"

Progress::Progress(FILE *output, RootActivity *root) : output_(output), root_(root) {
  thread_ = OutOfMemory::start_thread([this] { display(); });
}

Progress::~Progress() { stop(); }

void Progress::stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void Progress::display() {
  // i is one above the last tenth of a percent shown.
  long long shown = 0;
  bool complete = false;
  while (!stop_.load()) {
    if (root_->done_flag.load() || root_->get_progress() == 1.0) {
      complete = true;
      break;
    }
    double p = root_->get_progress();
    if (1000.0 * p >= static_cast<double>(shown)) {
      shown = static_cast<long long>(1000.0 * p) + 1;
      fprintf(output_, "Progress:  %5.1f %%\r", static_cast<double>(shown - 1) * 0.1);
      fflush(output_);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!complete) complete = root_->done_flag.load() || root_->get_progress() == 1.0;
  if (complete) {
    fprintf(output_, "Progress:  100.0 %%\n");
    fflush(output_);
  }
}
