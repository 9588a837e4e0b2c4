// The task-graph thread pool: ordering of run(), children and finish(),
// dependencies, waiting, teardown, and a stress run of 100,000 tasks with
// random dependencies and children.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fm/runtime/thread_pool.h"
#include "tests/support/test_support.h"

namespace {

// A log of named events in the order they happened.
class EventLog {
 public:
  void add(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Index of an event; -1 when absent.
  long index(std::string const &event) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < events_.size(); i++) {
      if (events_[i] == event) return static_cast<long>(i);
    }
    return -1;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> events_;
};

// Logs "run <name>" and "finish <name>"; schedules the given number of
// children from run().
class LoggingTask : public ThreadPoolTask {
 public:
  LoggingTask(ThreadPool *pool, EventLog *log, std::string name, int children = 0)
      : pool_(pool), log_(log), name_(std::move(name)), children_(children) {}
  void run() override {
    log_->add("run " + name_);
    EXPECT_EQ(pool_->get_current_task(), this);
    EXPECT_NE(pool_->get_current_worker(), nullptr);
    for (int i = 0; i < children_; i++) {
      pool_->schedule(new LoggingTask(pool_, log_, name_ + "." + std::to_string(i)), 0, nullptr);
    }
    // Give the children a chance to run while this run() is still going.
    if (children_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  void finish() override { log_->add("finish " + name_); }

 private:
  ThreadPool *pool_;
  EventLog *log_;
  std::string name_;
  int children_;
};

TEST(ThreadPool, ChildrenFinishBeforeTheParentAndDependentsStartAfter) {
  EventLog log;
  ThreadPool pool(4);
  EXPECT_EQ(pool.get_current_worker(), nullptr);
  EXPECT_EQ(pool.get_current_task(), nullptr);
  unsigned long long a = pool.schedule(new LoggingTask(&pool, &log, "a", 3), 0, nullptr);
  unsigned long long deps[] = {a};
  pool.schedule(new LoggingTask(&pool, &log, "b"), 1, deps);
  pool.wait_for_all_tasks();
  ASSERT_EQ(log.events().size(), 10u);
  long finish_a = log.index("finish a");
  for (const char *child : {"a.0", "a.1", "a.2"}) {
    EXPECT_LT(log.index("run a"), log.index(std::string("run ") + child));
    EXPECT_LT(log.index(std::string("finish ") + child), finish_a) << child;
  }
  EXPECT_LT(finish_a, log.index("run b"));
}

TEST(ThreadPool, ChildrenGoToTheFrontOfTheQueue) {
  // One worker: r1's child runs before r2, which was queued earlier.
  EventLog log;
  ThreadPool pool(1);
  // Hold the worker until everything is queued.
  std::atomic<bool> gate{false};
  struct Gate : ThreadPoolTask {
    std::atomic<bool> *open;
    explicit Gate(std::atomic<bool> *o) : open(o) {}
    void run() override {
      while (!open->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  pool.schedule(new Gate(&gate), 0, nullptr);
  pool.schedule(new LoggingTask(&pool, &log, "r1", 2), 0, nullptr);
  pool.schedule(new LoggingTask(&pool, &log, "r2"), 0, nullptr);
  gate.store(true);
  pool.wait_for_all_tasks();
  // Children are pushed to the front one by one, so the later child runs
  // first.
  EXPECT_EQ(log.events(), (std::vector<std::string>{"run r1", "run r1.1", "finish r1.1", "run r1.0", "finish r1.0",
                                                    "finish r1", "run r2", "finish r2"}));
}

TEST(ThreadPool, FinishedDependenciesAndWaiting) {
  EventLog log;
  ThreadPool pool(2);
  pool.wait_for_all_tasks();  // idle pool: returns at once
  pool.wait_for_task(12345);  // unknown id
  unsigned long long a = pool.schedule(new LoggingTask(&pool, &log, "a"), 0, nullptr);
  pool.wait_for_task(a);
  EXPECT_EQ(log.index("finish a"), 1);
  pool.wait_for_task(a);  // finished: returns at once
  unsigned long long deps[] = {a, 999999};
  unsigned long long b = pool.schedule(new LoggingTask(&pool, &log, "b"), 2, deps);
  EXPECT_GT(b, a);
  // Several threads may wait for the same task.
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; i++) waiters.emplace_back([&pool, b] { pool.wait_for_task(b); });
  for (auto &t : waiters) t.join();
  EXPECT_GE(log.index("finish b"), 0);
}

TEST(ThreadPool, TeardownDeletesTasksThatNeverRan) {
  static std::atomic<int> destroyed{0};
  static std::atomic<int> ran{0};
  struct Counted : ThreadPoolTask {
    ~Counted() override { destroyed++; }
    void run() override { ran++; }
  };
  struct Slow : ThreadPoolTask {
    void run() override { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }
  };
  destroyed = 0;
  ran = 0;
  {
    ThreadPool pool(1);
    unsigned long long slow = pool.schedule(new Slow, 0, nullptr);
    unsigned long long deps[] = {slow};
    for (int i = 0; i < 10; i++) pool.schedule(new Counted, 1, deps);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(destroyed.load(), 10);
}

// Stress: tasks depend on random earlier tasks and some spawn children; a
// global counter stamps every run() and finish(). Each task must run after
// the finish() of everything it depends on, and finish after its children
// finished.
struct StressState {
  std::atomic<uint64_t> clock{1};
  std::vector<uint64_t> run_stamp;
  std::vector<uint64_t> finish_stamp;
  std::vector<std::vector<uint32_t>> depends_on;
  std::vector<std::vector<uint32_t>> children;
  std::atomic<uint32_t> next_child;
};

class StressTask : public ThreadPoolTask {
 public:
  StressTask(ThreadPool *pool, StressState *state, uint32_t index, int spawn)
      : pool_(pool), state_(state), index_(index), spawn_(spawn) {}
  void run() override {
    state_->run_stamp[index_] = state_->clock.fetch_add(1);
    for (int i = 0; i < spawn_; i++) {
      uint32_t child = state_->next_child.fetch_add(1);
      state_->children[index_].push_back(child);
      pool_->schedule(new StressTask(pool_, state_, child, 0), 0, nullptr);
    }
  }
  void finish() override { state_->finish_stamp[index_] = state_->clock.fetch_add(1); }

 private:
  ThreadPool *pool_;
  StressState *state_;
  uint32_t index_;
  int spawn_;
};

TEST(ThreadPool, StressWithRandomDependencies) {
  constexpr uint32_t kTasks = 100000;
  constexpr uint32_t kMaxChildren = 2 * kTasks;
  StressState state;
  state.run_stamp.assign(kTasks + kMaxChildren, 0);
  state.finish_stamp.assign(kTasks + kMaxChildren, 0);
  state.depends_on.resize(kTasks);
  state.children.resize(kTasks);
  state.next_child = kTasks;
  std::mt19937 random(2024);
  std::vector<unsigned long long> ids(kTasks);
  {
    ThreadPool pool(8);
    for (uint32_t i = 0; i < kTasks; i++) {
      std::vector<unsigned long long> deps;
      int count = i == 0 ? 0 : static_cast<int>(random() % 4);
      for (int d = 0; d < count; d++) {
        // Mostly recent tasks, which are likely still pending.
        uint32_t back = 1 + random() % (random() % 8 == 0 ? i : std::min<uint32_t>(i, 64));
        state.depends_on[i].push_back(i - back);
        deps.push_back(ids[i - back]);
      }
      int spawn = random() % 10 == 0 ? 1 + static_cast<int>(random() % 2) : 0;
      ids[i] = pool.schedule(new StressTask(&pool, &state, i, spawn), deps.size(), deps.data());
    }
    pool.wait_for_all_tasks();
  }
  uint32_t total = state.next_child.load();
  for (uint32_t i = 0; i < total; i++) {
    ASSERT_NE(state.run_stamp[i], 0u) << i;
    ASSERT_GT(state.finish_stamp[i], state.run_stamp[i]) << i;
  }
  for (uint32_t i = 0; i < kTasks; i++) {
    for (uint32_t d : state.depends_on[i]) ASSERT_GT(state.run_stamp[i], state.finish_stamp[d]) << i << " after " << d;
    for (uint32_t c : state.children[i]) ASSERT_GT(state.finish_stamp[i], state.finish_stamp[c]) << i << " child " << c;
  }
}

// Without address space for a worker's stack, the pool reports the stack
// it could not have and ends with the out-of-memory status instead of
// aborting on an escaped exception.
TEST(ThreadPoolDeath, StartWithoutMemoryForAStack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer runtimes reserve address space, so an address-space limit cannot be applied";
#else
  // A fresh process: stacks cached from earlier threads would be reused.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ryx_test::limit_address_space_to_current_use();
        ThreadPool pool(4);
      },
      testing::ExitedWithCode(69), "^Out of memory allocating [0-9]+ bytes\\.\n$");
#endif
}

}  // namespace
