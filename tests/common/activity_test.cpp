// Progress activity tree: weighted sums, the done flag, start and duration
// lines, and children added from several threads while another polls.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "common/activity.h"
#include "common/clock.h"
#include "seconds_line.h"

namespace {

using ryx_test::match_seconds_line;

std::string file_text(FILE *f) {
  fflush(f);
  long end = ftell(f);
  std::string out(static_cast<size_t>(end), '\0');
  rewind(f);
  out.resize(fread(out.data(), 1, out.size(), f));
  fseek(f, end, SEEK_SET);
  return out;
}

struct ProgressCase {
  const char *name;
  double fraction;
  uint64_t done, total;
  double weights[2];
  double child_fractions[2];
  double expected;
};

TEST(Activity, ProgressIsTheCappedWeightedSum) {
  const ProgressCase cases[] = {
      {"own fraction plus a done and an idle child", 0.25, 0, 0, {0.5, 0.5}, {1.0, 0.0}, 0.75},
      {"sum above 1 is capped", 0.75, 0, 0, {0.5, 0.5}, {1.0, 0.0}, 1.0},
      {"done / total counts", 0.0, 3, 4, {0.0, 0.0}, {0.0, 0.0}, 0.75},
      {"total 0 ignores done", 0.1, 7, 0, {0.0, 0.0}, {0.0, 0.0}, 0.1},
      {"all three parts", 0.1, 1, 5, {0.3, 0.2}, {0.5, 0.25}, 0.1 + 0.2 + 0.15 + 0.05},
      {"counts over the total are capped", 0.0, 9, 4, {0.0, 0.0}, {0.0, 0.0}, 1.0},
  };
  for (const ProgressCase &c : cases) {
    RootActivity root;
    Activity *a = root.child(1.0, nullptr);
    a->fraction = c.fraction;
    a->done = c.done;
    a->total = c.total;
    for (int i = 0; i < 2; i++) {
      Activity *ch = a->child(c.weights[i], nullptr);
      ch->set_fraction(c.child_fractions[i]);
    }
    EXPECT_DOUBLE_EQ(a->get(), c.expected) << c.name;
    EXPECT_DOUBLE_EQ(root.get_progress(), c.expected) << c.name;
  }
}

TEST(Activity, GrandchildrenWeighThroughEveryLevel) {
  RootActivity root;
  Activity *half = root.child(0.5, nullptr);
  Activity *quarter = half->child(0.5, nullptr);
  quarter->total = 10;
  quarter->done += 4;
  EXPECT_DOUBLE_EQ(quarter->get(), 0.4);
  EXPECT_DOUBLE_EQ(root.get_progress(), 0.5 * 0.5 * 0.4);
  // A done activity counts fully, whatever its counters say.
  half->set_done();
  EXPECT_DOUBLE_EQ(root.get_progress(), 0.5);
  EXPECT_EQ(root.children.size(), 1u);
  EXPECT_EQ(half->root, &root);
  EXPECT_EQ(quarter->root, &root);
  EXPECT_EQ(root.root, &root);
}

TEST(Activity, StartAndDurationLines) {
  FILE *out = tmpfile();
  RootActivity root(out);
  Activity *stage = root.child(1.0, "Loading index");
  EXPECT_EQ(file_text(out), "\nLoading index...\n");
  EXPECT_GT(stage->start_time, 0);
  time_sleep_ms(30);
  EXPECT_FALSE(stage->set_done());
  EXPECT_TRUE(stage->set_done());
  std::string text = file_text(out);
  double seconds = -1;
  ASSERT_TRUE(match_seconds_line(text, "\nLoading index...\nLoading index took ", " seconds.\n", &seconds)) << text;
  EXPECT_GE(seconds, 0.025);
  EXPECT_LT(seconds, 30.0);

  // Unnamed activities print nothing and keep no start time.
  Activity *silent = root.child(1.0, nullptr);
  EXPECT_EQ(silent->start_time, 0);
  EXPECT_FALSE(silent->set_done());
  EXPECT_EQ(file_text(out), text);
  fclose(out);
}

TEST(Activity, RootWithoutOutputPrintsNothing) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  {
    RootActivity root;
    Activity *a = root.child(1.0, "Mapping");
    EXPECT_EQ(a->start_time, 0);
    a->set_fraction(1.0);
    EXPECT_TRUE(a->done_flag.load());
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Activity, SetFractionOneMarksDone) {
  FILE *out = tmpfile();
  RootActivity root(out);
  Activity *a = root.child(1.0, "Sorting");
  a->total = 100;
  a->set_fraction(0.5);
  EXPECT_FALSE(a->done_flag.load());
  EXPECT_DOUBLE_EQ(a->get(), 0.5);
  a->set_fraction(std::numeric_limits<double>::quiet_NaN());
  EXPECT_FALSE(a->done_flag.load());
  EXPECT_TRUE(std::isnan(a->fraction.load()));
  a->set_fraction(1.0);
  EXPECT_TRUE(a->done_flag.load());
  EXPECT_EQ(a->fraction.load(), 1.0);
  EXPECT_EQ(a->get(), 1.0);  // the NaN is gone, and counters 0/100 do not matter
  a->set_fraction(2.0);     // already done: no second line
  EXPECT_EQ(a->get(), 1.0);
  std::string text = file_text(out);
  double seconds;
  EXPECT_TRUE(match_seconds_line(text, "\nSorting...\nSorting took ", " seconds.\n", &seconds)) << text;
  EXPECT_TRUE(a->set_done());
  fclose(out);
}

TEST(Activity, RacingSetDonePrintsOnce) {
  FILE *out = tmpfile();
  RootActivity root(out);
  Activity *a = root.child(1.0, "Race");
  std::atomic<int> first_calls{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < 8; t++) pool.emplace_back([&] { first_calls += a->set_done() ? 0 : 1; });
  for (std::thread &th : pool) th.join();
  EXPECT_EQ(first_calls.load(), 1);
  std::string text = file_text(out);
  double seconds;
  EXPECT_TRUE(match_seconds_line(text, "\nRace...\nRace took ", " seconds.\n", &seconds)) << text;
  fclose(out);
}

// Workers grow the tree and report progress while a display thread polls
// the root; the poller never sees the progress go down or past 1, and the
// final value is exact. Run under the thread sanitizer this also shows that
// the tree's locking covers every shared read.
TEST(Activity, ConcurrentChildrenWhilePolling) {
  FILE *out = tmpfile();
  RootActivity root(out);
  const int workers = 6, per_worker = 40;
  Activity *stages[workers];
  for (int w = 0; w < workers; w++) stages[w] = root.child(1.0 / workers, nullptr);

  std::atomic<bool> stop{false};
  std::atomic<int> polls{0};
  std::atomic<bool> monotone{true};
  std::thread poller([&] {
    double last = 0;
    while (!stop.load()) {
      double p = root.get_progress();
      if (p + 1e-12 < last || p > 1.0) monotone = false;
      last = p;
      polls++;
    }
  });

  std::vector<std::thread> pool;
  for (int w = 0; w < workers; w++) {
    pool.emplace_back([&, w] {
      Activity *stage = stages[w];
      stage->total = per_worker;
      for (int i = 0; i < per_worker; i++) {
        // Children of the shared root and of the worker's own stage; the
        // named ones print through the shared output file.
        Activity *c = root.child(0.0, i % 10 == 0 ? "step" : nullptr);
        Activity *sub = stage->child(0.0, nullptr);
        sub->set_fraction(0.5);
        c->set_done();
        stage->done += 1;
      }
      stage->set_done();
    });
  }
  for (std::thread &th : pool) th.join();
  // Let the poller see the finished tree at least once.
  int seen = polls.load();
  while (polls.load() < seen + 2) std::this_thread::yield();
  stop = true;
  poller.join();

  EXPECT_TRUE(monotone.load());
  EXPECT_DOUBLE_EQ(root.get_progress(), 1.0);
  EXPECT_EQ(root.children.size(), size_t(workers + workers * per_worker));
  for (Activity *s : stages) EXPECT_EQ(s->children.size(), size_t(per_worker));
  // Each named child printed its start and its duration line.
  std::string text = file_text(out);
  size_t starts = 0, ends = 0;
  for (size_t p = 0; (p = text.find("\nstep...\n", p)) != std::string::npos; p++) starts++;
  for (size_t p = 0; (p = text.find("step took ", p)) != std::string::npos; p++) ends++;
  EXPECT_EQ(starts, size_t(workers * per_worker / 10));
  EXPECT_EQ(ends, starts);
  fclose(out);
}

}  // namespace
