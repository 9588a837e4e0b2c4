// Console progress meter: the exact bytes it writes, ranges of child
// meters, duration lines and null meters.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/activity.h"
#include "common/clock.h"
#include "common/progress_meter.h"
#include "seconds_line.h"

namespace {

using ryx_test::match_seconds_line;

// A temporary file standing in for standard output; text() returns what
// was written since the last call.
class Capture {
 public:
  Capture() : file_(tmpfile()) {}
  ~Capture() { fclose(file_); }
  FILE *file() const { return file_; }
  std::string text() {
    fflush(file_);
    long end = ftell(file_);
    std::string out(static_cast<size_t>(end - read_), '\0');
    fseek(file_, read_, SEEK_SET);
    size_t got = fread(out.data(), 1, out.size(), file_);
    out.resize(got);
    read_ = end;
    fseek(file_, end, SEEK_SET);
    return out;
  }

 private:
  FILE *file_;
  long read_ = 0;
};

// A root meter writing to a capture file.
progress_meter_t *captured_root(Capture &cap) {
  progress_meter_t *root = progress_meter_new();
  root->output = cap.file();
  return root;
}

TEST(ProgressMeter, NewRootDefaults) {
  progress_meter_t *m = progress_meter_new();
  EXPECT_EQ(m->root, m);
  EXPECT_EQ(m->last_shown, -1.0);
  EXPECT_EQ(m->from, 0.0);
  EXPECT_EQ(m->to, 1.0);
  EXPECT_EQ(m->output, stdout);
  EXPECT_EQ(m->start_time, 0);
  EXPECT_EQ(m->timing, 0);
  EXPECT_EQ(m->activity, nullptr);
  EXPECT_EQ(progress_meter_free(m), nullptr);
  progress_meter_t *raw = progress_meter_alloc();
  EXPECT_EQ(raw->activity, nullptr);
  progress_meter_free(raw);
}

// Each step is an update of one meter and the exact bytes it must write.
struct Step {
  int meter;  // 0: the root, 1: the child
  double x;
  const char *written;
};

struct Scenario {
  const char *name;
  double child_from, child_to;
  std::vector<Step> steps;
};

TEST(ProgressMeter, UpdatesWriteOnlyWhenTheTenthOfAPercentGrows) {
  const Scenario scenarios[] = {
      {"start value prints, then only per mille changes",
       0,
       1,
       {{0, 0.0, "Progress:    0.0 %  \r"}, {0, 0.0004, ""}, {0, 0.0006, "Progress:    0.1 %  \r"}}},
      {"child [0.5, 1] maps into the root and is capped at its end",
       0.5,
       1.0,
       {{1, 0.5, "Progress:   75.0 %  \r"}, {1, 2.0, "Progress:  100.0 %  \r"}, {1, 3.0, ""}}},
      {"a smaller value is remembered, so the next larger one prints again",
       0,
       1,
       {{0, 0.5, "Progress:   50.0 %  \r"},
        {0, 0.2, ""},
        {0, 0.3, "Progress:   30.0 %  \r"},
        {0, 0.3004, ""}}},
      {"no lower limit: a negative fraction shows below the child's start",
       0.2,
       0.4,
       {{1, -2.0, "Progress:  -20.0 %  \r"}, {1, 0.0, "Progress:   20.0 %  \r"}}},
      {"child and root share the root's last value",
       0.0,
       0.5,
       {{1, 1.0, "Progress:   50.0 %  \r"}, {0, 0.4, ""}, {1, 0.9, "Progress:   45.0 %  \r"}}},
  };
  for (const Scenario &sc : scenarios) {
    Capture cap;
    progress_meter_t *root = captured_root(cap);
    progress_meter_t *child = progress_meter_new_child(root, sc.child_from, sc.child_to);
    for (const Step &st : sc.steps) {
      progress_meter_update(st.meter == 0 ? root : child, st.x);
      EXPECT_EQ(cap.text(), st.written) << sc.name << ", update " << st.x;
    }
    progress_meter_free(child);
    progress_meter_free(root);
  }
}

TEST(ProgressMeter, NestedChildrenCoverSubRanges) {
  Capture cap;
  progress_meter_t *root = captured_root(cap);
  progress_meter_t *a = progress_meter_new_child(root, 0.5, 1.0);
  progress_meter_t *b = progress_meter_new_child(a, 0.5, 1.0);
  EXPECT_EQ(b->root, root);
  EXPECT_DOUBLE_EQ(b->from, 0.75);
  EXPECT_DOUBLE_EQ(b->to, 1.0);
  EXPECT_EQ(b->start_time, 0);  // timing is off
  progress_meter_update(b, 0.5);
  EXPECT_EQ(cap.text(), "Progress:   87.5 %  \r");
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(b), 0.5);
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(a), 0.75);
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(root), 0.875);

  // Re-ranging without timing moves the child and prints nothing.
  progress_meter_set_range(root, a, 0.1, 0.3);
  EXPECT_DOUBLE_EQ(a->from, 0.1);
  EXPECT_DOUBLE_EQ(a->to, 0.3);
  EXPECT_EQ(a->start_time, 0);
  EXPECT_EQ(cap.text(), "");
  progress_meter_free(b);
  progress_meter_free(a);
  progress_meter_free(root);
}

TEST(ProgressMeter, TimingPrintsADurationLinePerReRange) {
  Capture cap;
  progress_meter_t *root = captured_root(cap);
  progress_meter_set_timing(root, 1);
  int64_t before = time_get_usec();
  progress_meter_t *child = progress_meter_new_child(root, 0.0, 0.25);
  EXPECT_GE(child->start_time, before);
  EXPECT_EQ(cap.text(), "");

  time_sleep_ms(20);
  progress_meter_set_range(root, child, 0.25, 0.6);
  std::string first = cap.text();
  double seconds = -1;
  ASSERT_TRUE(match_seconds_line(first, "Progress from 0.0 % to 25.0 % took ", " seconds.\n", &seconds)) << first;
  EXPECT_GE(seconds, 0.015);
  EXPECT_LT(seconds, 30.0);

  progress_meter_set_range(root, child, 0.6, 1.0);
  std::string second = cap.text();
  EXPECT_TRUE(match_seconds_line(second, "Progress from 25.0 % to 60.0 % took ", " seconds.\n", &seconds)) << second;

  // A child made before timing was switched on has no clock yet: its first
  // re-range only starts it.
  progress_meter_set_timing(root, 0);
  progress_meter_t *late = progress_meter_new_child(root, 0.0, 0.5);
  progress_meter_set_timing(root, 1);
  progress_meter_set_range(root, late, 0.5, 1.0);
  EXPECT_EQ(cap.text(), "");
  EXPECT_NE(late->start_time, 0);
  progress_meter_set_range(root, late, 0.0, 1.0);
  std::string third = cap.text();
  EXPECT_TRUE(match_seconds_line(third, "Progress from 50.0 % to 100.0 % took ", " seconds.\n", &seconds)) << third;

  // Updates under timing still print the progress line as usual.
  progress_meter_update(child, 0.5);
  EXPECT_EQ(cap.text(), "Progress:   80.0 %  \r");
  progress_meter_free(late);
  progress_meter_free(child);
  progress_meter_free(root);
}

TEST(ProgressMeter, NullMetersDoNothing) {
  EXPECT_EQ(progress_meter_new_child(nullptr, 0.0, 1.0), nullptr);
  progress_meter_update(nullptr, 0.5);
  progress_meter_set_timing(nullptr, 1);
  EXPECT_EQ(progress_meter_get_fraction(nullptr), 0.0);
  EXPECT_EQ(progress_meter_free(nullptr), nullptr);

  Capture cap;
  progress_meter_t *root = captured_root(cap);
  progress_meter_set_timing(root, 1);
  progress_meter_t *child = progress_meter_new_child(root, 0.0, 0.5);
  time_sleep_ms(1);
  progress_meter_set_range(nullptr, child, 0.5, 1.0);
  progress_meter_set_range(root, nullptr, 0.5, 1.0);
  EXPECT_EQ(child->from, 0.0);
  EXPECT_EQ(child->to, 0.5);
  EXPECT_EQ(cap.text(), "");
  progress_meter_free(child);
  progress_meter_free(root);
}

TEST(ProgressMeter, ActivityMeterSetsTheActivityInsteadOfPrinting) {
  Capture lines;
  RootActivity root(lines.file());
  Activity *stage = root.child(1.0, "Indexing");
  EXPECT_EQ(lines.text(), "\nIndexing...\n");
  progress_meter_t *m = progress_meter_new_for_activity(stage);
  Capture console;
  m->output = console.file();
  ASSERT_EQ(root.meters.size(), 1u);
  EXPECT_EQ(root.meters[0], m);
  EXPECT_EQ(m->activity, stage);

  progress_meter_update(m, 0.25);
  EXPECT_EQ(stage->fraction.load(), 0.25);
  EXPECT_DOUBLE_EQ(root.get_progress(), 0.25);
  EXPECT_EQ(m->last_shown, -1.0);  // the console side is untouched
  progress_meter_update(m, 1.0);
  EXPECT_TRUE(stage->done_flag.load());
  std::string done_line = lines.text();
  double seconds;
  EXPECT_TRUE(match_seconds_line(done_line, "Indexing took ", " seconds.\n", &seconds)) << done_line;
  EXPECT_EQ(console.text(), "");

  // Without an activity the meter is an ordinary console meter.
  progress_meter_t *plain = progress_meter_new_for_activity(nullptr);
  EXPECT_EQ(plain->activity, nullptr);
  EXPECT_EQ(root.meters.size(), 1u);
  progress_meter_free(plain);
  progress_meter_free(m);
}

TEST(ProgressMeter, TimeSetStartReturnsTheThirtyTwoBitClock) {
  uint32_t before = time_get_usec32();
  uint32_t start = time_set_start();
  EXPECT_LT(start - before, 5000000u);  // modulo 2^32: at most seconds later
}

}  // namespace
