// The progress display thread: one line on the output, rewritten with a
// carriage return, showing the root activity's progress in steps of 0.1 %
// until the run is complete or the owner stops it. A display thread that
// cannot be started ends the process as fm/runtime/out_of_memory.h says.
#pragma once

#include <atomic>
#include <cstdio>
#include <thread>

class RootActivity;

class Progress {
 public:
  // Starts the display thread over root, printing to output.
  Progress(FILE *output, RootActivity *root);
  // Stops the thread if stop() was not called.
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  // Sets the stop flag and joins the thread. When the work was finished the
  // display has ended with "Progress:  100.0 %"; stopped early, the last
  // percentage stays on the line.
  void stop();

 private:
  void display();

  FILE *output_;
  RootActivity *root_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
