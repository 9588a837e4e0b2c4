// The ordered pipeline: every item reaches the sink exactly once, in the
// order the source made them, whatever the number of workers, the ring
// size and the time each item takes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "fm/mapper/pipeline.h"

namespace {

struct Item {
  uint64_t number = 0;
  uint64_t square = 0;
  int worker = -1;
  int stages_seen = 0;
};

struct Outcome {
  std::vector<uint64_t> numbers;
  std::vector<int> workers;
  bool all_squared = true;
};

// Runs count items through a pipeline; every 7th item takes a little
// longer, so that workers finish out of order.
Outcome run_items(int capacity, int workers, uint64_t count) {
  Pipeline<Item> pipeline(capacity, workers);
  uint64_t next = 0;
  Outcome outcome;
  pipeline.source([&](Item &item) {
    if (next == count) return false;
    item.number = next++;
    item.square = 0;
    item.stages_seen = 0;
    return true;
  });
  pipeline.stage([](Item &item, int worker) {
    if (item.number % 7 == 3) std::this_thread::sleep_for(std::chrono::microseconds(200));
    item.square = item.number * item.number;
    item.worker = worker;
    item.stages_seen++;
  });
  pipeline.stage([](Item &item, int) { item.stages_seen++; });
  pipeline.sink([&](Item &item) {
    outcome.numbers.push_back(item.number);
    outcome.workers.push_back(item.worker);
    outcome.all_squared = outcome.all_squared && item.square == item.number * item.number && item.stages_seen == 2;
  });
  pipeline.run(true);
  return outcome;
}

TEST(PipelineThread, SinkSeesEveryItemOnceInSourceOrder) {
  struct Case {
    int capacity, workers;
    uint64_t count;
  } const cases[] = {
      {1, 1, 50},    // one slot: each item is sunk before the next is made
      {3, 4, 500},   // fewer slots than workers
      {16, 4, 2000}, // the ring wraps many times
      {0, 2, 300},   // default ring of 1024 slots: everything in the final drain
      {8, 3, 0},     // no input at all
  };
  for (const Case &c : cases) {
    const Outcome outcome = run_items(c.capacity, c.workers, c.count);
    ASSERT_EQ(outcome.numbers.size(), c.count) << c.capacity << " " << c.workers;
    for (uint64_t i = 0; i < c.count; i++) ASSERT_EQ(outcome.numbers[i], i) << c.capacity << " " << c.workers;
    EXPECT_TRUE(outcome.all_squared);
    for (int w : outcome.workers) {
      EXPECT_GE(w, 0);
      EXPECT_LT(w, c.workers);
    }
  }
}

TEST(PipelineThread, RingSizeDefaultsToFiveHundredTwelvePerWorker) {
  Pipeline<Item> two(0, 2);
  EXPECT_EQ(two.capacity(), 1024);
  EXPECT_EQ(two.worker_count(), 2);
  Pipeline<Item> sized(10, 3);
  EXPECT_EQ(sized.capacity(), 10);
  Pipeline<Item> none(0, 0);
  EXPECT_EQ(none.worker_count(), 1);
  EXPECT_EQ(none.capacity(), 512);
}

// A pipeline runs again after a finished run, its counters starting over.
TEST(PipelineThread, RunsTwiceWithFreshState) {
  Pipeline<Item> pipeline(4, 2);
  uint64_t next = 0, limit = 10;
  std::vector<uint64_t> seen;
  pipeline.source([&](Item &item) {
    if (next == limit) return false;
    item.number = next++;
    return true;
  });
  pipeline.stage([](Item &item, int) { item.stages_seen = 1; });
  pipeline.sink([&](Item &item) { seen.push_back(item.number); });
  pipeline.run(true);
  limit = 25;
  pipeline.run(true);
  ASSERT_EQ(seen.size(), 25U);
  for (uint64_t i = 0; i < 25; i++) EXPECT_EQ(seen[i], i);
}

}  // namespace
