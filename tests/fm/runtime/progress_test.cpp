// The progress display thread: its lines while the work grows, the final
// line when the work completes, and an early stop.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/activity.h"
#include "fm/runtime/progress.h"

namespace {

// Output of a display thread, caught in memory; read only after the
// thread has been joined.
class Capture {
 public:
  Capture() : file_(open_memstream(&text_, &size_)) {}
  ~Capture() {
    if (file_ != nullptr) fclose(file_);
    free(text_);
  }
  FILE *file() { return file_; }
  std::string take() {
    fclose(file_);
    file_ = nullptr;
    return std::string(text_, size_);
  }

 private:
  char *text_ = nullptr;
  size_t size_ = 0;
  FILE *file_;
};

std::vector<std::string> split_lines(std::string const &text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      lines.push_back(current + c);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

TEST(Progress, RisingToCompletion) {
  Capture capture;
  RootActivity root;
  Activity *work = root.child(1.0, nullptr);
  Progress progress(capture.file(), &root);
  // Let the first pass see the work untouched.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (int i = 0; i <= 400; i++) {
    work->set_fraction(i / 400.0 * 0.999);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  work->set_done();
  progress.stop();
  std::vector<std::string> lines = split_lines(capture.take());
  ASSERT_GE(lines.size(), 2u);
  ASSERT_LE(lines.size(), 1001u);
  EXPECT_EQ(lines.front(), "Progress:    0.0 %\r");
  EXPECT_EQ(lines.back(), "Progress:  100.0 %\n");
  double previous = -1;
  for (size_t i = 0; i + 1 < lines.size(); i++) {
    double value;
    ASSERT_EQ(sscanf(lines[i].c_str(), "Progress: %lf %%\r", &value), 1) << lines[i];
    ASSERT_EQ(lines[i].size(), 19u) << lines[i];
    ASSERT_EQ(lines[i].back(), '\r');
    // Each line shows at least 0.1 percentage point more than the last.
    EXPECT_GE(value, previous + 0.1 - 1e-9) << lines[i];
    previous = value;
  }
}

TEST(Progress, StoppedEarlyLeavesTheLastPercentage) {
  Capture capture;
  RootActivity root;
  root.fraction.store(0.42);
  Progress progress(capture.file(), &root);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  progress.stop();
  EXPECT_EQ(capture.take(), "Progress:   42.0 %\r");
}

TEST(Progress, AlreadyCompleteShowsOnlyTheFinalLine) {
  Capture capture;
  RootActivity root;
  root.set_done();
  {
    Progress progress(capture.file(), &root);
    // Leaves by itself; the destructor joins.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(capture.take(), "Progress:  100.0 %\n");
}

}  // namespace
