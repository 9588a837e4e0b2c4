// Bounded queues, the arbiter and thread groups: pipeline stress runs with a
// running-thread census, the in-flight budget, and step-by-step checks of the
// hand-over rules with the main thread as one side of a queue.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "common/thread_group.h"
#include "common/thread_queue.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;

// Arbiter of the pipeline under test, whose counters a hang report shows.
thread_arbiter_t *watched_arbiter = nullptr;

void report_counters(thread_arbiter_t *arbiter) {
  if (arbiter == nullptr || pthread_mutex_trylock(&arbiter->mutex) != 0) return;
  fprintf(stderr, "running %d of %d, in flight %lld\n", arbiter->running, arbiter->max_running,
          static_cast<long long>(arbiter->in_flight));
  for (int32_t i = 0; i < arbiter->queue_count; i++) {
    thread_queue_t *q = arbiter->queues[i];
    fprintf(stderr,
            "queue %d: count %d/%d producers %d (waiting %d running %d wakeups %d) consumers %d (waiting %d "
            "running %d wakeups %d)\n",
            i, q->count, q->capacity, q->producers, q->waiting_producers, q->running_producers, q->producer_wakeups,
            q->consumers, q->waiting_consumers, q->running_consumers, q->consumer_wakeups);
  }
  pthread_mutex_unlock(&arbiter->mutex);
}

// Runs fn on a thread of its own; a run that does not finish in time is a
// hang, which ends the test program at once (the hung threads cannot be
// stopped).
void run_bounded(const std::function<void()> &fn, std::chrono::seconds limit, const char *what) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread runner([fn, done] {
    fn();
    done->set_value();
  });
  if (finished.wait_for(limit) == std::future_status::timeout) {
    fprintf(stderr, "hang: %s did not finish within %lld s\n", what, static_cast<long long>(limit.count()));
    report_counters(watched_arbiter);
    fflush(stderr);
    _exit(1);
  }
  runner.join();
}

// Counters of one queue and of the arbiter, read under the arbiter's mutex.
struct Snapshot {
  int32_t count, producers, waiting_producers, running_producers;
  int32_t consumers, waiting_consumers, running_consumers;
  int32_t running;
  int64_t in_flight;
};

Snapshot snapshot(thread_arbiter_t *arbiter, thread_queue_t *queue) {
  pthread_mutex_lock(&arbiter->mutex);
  Snapshot s{queue->count,     queue->producers,         queue->waiting_producers, queue->running_producers,
             queue->consumers, queue->waiting_consumers, queue->running_consumers, arbiter->running,
             arbiter->in_flight};
  pthread_mutex_unlock(&arbiter->mutex);
  return s;
}

// After every thread of a pipeline has been joined, every counter is back
// at rest: no slot is held, no thread waits, nothing is queued.
void expect_at_rest(thread_arbiter_t *arbiter) {
  EXPECT_EQ(arbiter->running, 0);
  EXPECT_EQ(arbiter->in_flight, 0);
  for (int32_t i = 0; i < arbiter->queue_count; i++) {
    thread_queue_t *q = arbiter->queues[i];
    SCOPED_TRACE("queue " + std::to_string(i));
    EXPECT_EQ(q->count, 0);
    EXPECT_EQ(q->producers, 0);
    EXPECT_EQ(q->consumers, 0);
    EXPECT_EQ(q->waiting_producers, 0);
    EXPECT_EQ(q->running_producers, 0);
    EXPECT_EQ(q->waiting_consumers, 0);
    EXPECT_EQ(q->running_consumers, 0);
    EXPECT_EQ(q->producer_wakeups, 0);
    EXPECT_EQ(q->consumer_wakeups, 0);
  }
}

// ---------------------------------------------------------------------------
// source -> workers -> sinks

struct PipelineConfig {
  int max_running;
  int capacity;
  int workers;
  int sinks;
  int items;
  int64_t budget;
  int32_t item_size;    // size put by the source and released by the workers
  int spin;             // busy work per item in each stage
  int worker_sleep_us;  // extra delay per item in the workers
};

struct Pipeline {
  thread_arbiter_t *arbiter;  // first member: the pipeline's arbiter
  PipelineConfig config;
  std::vector<int32_t> values;
  std::unique_ptr<std::atomic<int>[]> delivered;
  std::atomic<int> in_user{0};
  std::atomic<int> peak_in_user{0};
  std::atomic<int64_t> peak_in_flight{0};
  std::atomic<int> sink_ends{0};
};

void raise_to(std::atomic<int64_t> &peak, int64_t value) {
  int64_t seen = peak.load();
  while (value > seen && !peak.compare_exchange_weak(seen, value)) {
  }
}

// Census of the threads running user code: a thread enters after a queue
// operation has returned and leaves before its next one.
void enter(Pipeline *p) {
  int now = ++p->in_user;
  int seen = p->peak_in_user.load();
  while (now > seen && !p->peak_in_user.compare_exchange_weak(seen, now)) {
  }
}
void leave(Pipeline *p) { --p->in_user; }

void busy(int spin) {
  volatile int sink = 0;
  for (int i = 0; i < spin; i++) sink = sink + i;
}

void *source_main(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *p = static_cast<Pipeline *>(args->context);
  for (int i = 0; i < p->config.items; i++) {
    if (i > 0) leave(p);
    thread_queue_put(p->arbiter, args->output, &p->values[i], p->config.item_size);
    enter(p);
    pthread_mutex_lock(&p->arbiter->mutex);
    int64_t in_flight = p->arbiter->in_flight;
    pthread_mutex_unlock(&p->arbiter->mutex);
    raise_to(p->peak_in_flight, in_flight);
    busy(p->config.spin / 4);
  }
  if (p->config.items > 0) leave(p);
  thread_queue_producer_done(p->arbiter, args->output, 0);
  return nullptr;
}

void *worker_main(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *p = static_cast<Pipeline *>(args->context);
  int32_t finished = 0;  // size of the item this worker has passed on
  for (bool first = true;; first = false) {
    if (!first) leave(p);
    void *item = thread_queue_get(p->arbiter, args->input, -finished);
    enter(p);
    if (item == nullptr) break;
    busy(p->config.spin);
    if (p->config.worker_sleep_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(p->config.worker_sleep_us));
    leave(p);
    thread_queue_put(p->arbiter, args->output, item, 0);
    enter(p);
    finished = p->config.item_size;
  }
  leave(p);
  thread_queue_producer_done(p->arbiter, args->output, 0);
  return nullptr;
}

void *sink_main(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *p = static_cast<Pipeline *>(args->context);
  for (;;) {
    void *item = thread_queue_get(p->arbiter, args->input, 0);
    if (item == nullptr) break;
    enter(p);
    p->delivered[*static_cast<int32_t *>(item)]++;
    busy(p->config.spin);
    leave(p);
  }
  p->sink_ends++;
  return nullptr;
}

// Builds and runs one pipeline in the documented calling order and checks
// delivery and the counters at rest.
void run_pipeline(Pipeline &p) {
  const PipelineConfig &c = p.config;
  p.values.resize(static_cast<size_t>(c.items));
  for (int i = 0; i < c.items; i++) p.values[static_cast<size_t>(i)] = i;
  p.delivered = std::make_unique<std::atomic<int>[]>(static_cast<size_t>(c.items) + 1);

  thread_queue_t *a = thread_queue_new(c.capacity);
  thread_queue_t *b = thread_queue_new(c.capacity);
  thread_queue_t *queues[2] = {a, b};
  p.arbiter = thread_arbiter_new(queues, 2, c.max_running, c.budget);
  thread_group_t *source = thread_group_new(1, source_main, nullptr, a, &p);
  thread_group_t *workers = thread_group_new(c.workers, worker_main, a, b, &p);
  thread_group_t *sinks = thread_group_new(c.sinks, sink_main, b, nullptr, &p);
  thread_queue_reset(a);
  thread_queue_reset(b);
  thread_group_register(source);
  thread_group_register(workers);
  thread_group_register(sinks);
  thread_arbiter_count_threads(p.arbiter);
  EXPECT_EQ(p.arbiter->running, 1 + c.workers + c.sinks);
  watched_arbiter = p.arbiter;

  run_bounded(
      [&] {
        thread_group_start(source);
        thread_group_start(workers);
        thread_group_start(sinks);
        thread_group_join(sinks);
        thread_group_join(workers);
        thread_group_join(source);
      },
      20s, "pipeline");

  int missing = 0, repeated = 0;
  for (int i = 0; i < c.items; i++) {
    int n = p.delivered[static_cast<size_t>(i)].load();
    if (n == 0) missing++;
    if (n > 1) repeated++;
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(repeated, 0);
  EXPECT_EQ(p.sink_ends.load(), c.sinks);
  EXPECT_LE(p.peak_in_user.load(), c.max_running);
  expect_at_rest(p.arbiter);

  thread_group_free(source);
  thread_group_free(workers);
  thread_group_free(sinks);
  thread_queue_free(a);
  thread_queue_free(b);
  thread_arbiter_free(p.arbiter);
}

struct StressCase {
  int max_running;
  int capacity;
};

void PrintTo(const StressCase &c, std::ostream *os) {
  *os << "max running " << c.max_running << ", capacity " << c.capacity;
}

class ThreadPipelineStress : public testing::TestWithParam<StressCase> {};

// Many runs with more threads than slots and tiny queues: every item arrives
// exactly once, nothing hangs, never more than max running threads run user
// code, and with a budget the in-flight total returns to 0.
TEST_P(ThreadPipelineStress, EveryItemOnceWithinTheSlotLimit) {
  const StressCase sc = GetParam();
  for (int rep = 0; rep < 12; rep++) {
    SCOPED_TRACE("rep " + std::to_string(rep));
    Pipeline p;
    p.config = {sc.max_running, sc.capacity, /*workers=*/3 + rep % 4, /*sinks=*/1 + rep % 2,
                /*items=*/1500 + rep, /*budget=*/rep % 3 == 0 ? 0 : 40, /*item_size=*/rep % 3 == 0 ? 0 : 8,
                /*spin=*/(rep % 4) * 200, /*worker_sleep_us=*/0};
    run_pipeline(p);
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ThreadPipelineStress,
                         testing::Values(StressCase{1, 2}, StressCase{1, 3}, StressCase{1, 4}, StressCase{2, 2},
                                         StressCase{2, 3}, StressCase{2, 4}, StressCase{4, 2}, StressCase{4, 3},
                                         StressCase{4, 4}),
                         [](const testing::TestParamInfo<StressCase> &info) {
                           return "Max" + std::to_string(info.param.max_running) + "Capacity" +
                                  std::to_string(info.param.capacity);
                         });

TEST(ThreadPipeline, EmptySourceEndsEveryStage) {
  Pipeline p;
  p.config = {2, 4, 4, 3, 0, 0, 0, 0, 0};
  run_pipeline(p);
}

// A fast source ahead of slow workers: with a small budget the data in flight
// stays near the budget; without one the queue fills up.
TEST(ThreadPipeline, BudgetHoldsAFastProducerBack) {
  const int workers = 2;
  const int32_t size = 8;
  Pipeline held;
  held.config = {4, 64, workers, 1, 300, /*budget=*/10, size, 0, /*worker_sleep_us=*/100};
  run_pipeline(held);
  // Passing the budget check needs fewer than 2 queued items (the workers hold
  // at most one each) or an in-flight total within the budget.
  EXPECT_LE(held.peak_in_flight.load(), std::max<int64_t>(10 + size, (workers + 2) * size));

  Pipeline free_running;
  free_running.config = {4, 64, workers, 1, 300, /*budget=*/INT64_MAX / 2, size, 0, /*worker_sleep_us=*/100};
  run_pipeline(free_running);
  EXPECT_GT(free_running.peak_in_flight.load(), 20 * size);
}

// ---------------------------------------------------------------------------
// Step-by-step hand-over with max running 1: the main thread is the only
// consumer and a helper thread the only producer, so whichever of the two
// holds the one slot is the only one that can move.

struct Manual {
  thread_queue_t *queue;
  thread_arbiter_t *arbiter;
  Manual(int32_t capacity, int32_t max_running, int64_t budget, int32_t producers, int32_t consumers) {
    queue = thread_queue_new(capacity);
    arbiter = thread_arbiter_new(&queue, 1, max_running, budget);
    thread_queue_reset(queue);
    thread_queue_add_producers(queue, producers);
    thread_queue_add_consumers(queue, consumers);
    thread_queue_add_threads(queue, producers + consumers);
    thread_arbiter_count_threads(arbiter);
  }
  ~Manual() {
    thread_queue_free(queue);
    thread_arbiter_free(arbiter);
  }
};

TEST(ThreadQueue, BlockedProducerBecomesEligibleOnTheGetThatStartsWithThreeOfFour) {
  run_bounded(
      [] {
        Manual m(4, 1, 0, 1, 1);
        int32_t values[5] = {1, 2, 3, 4, 5};
        std::thread producer([&] {
          for (int32_t &v : values) thread_queue_put(m.arbiter, m.queue, &v, 0);
          thread_queue_producer_done(m.arbiter, m.queue, 0);
        });
        // The first get runs once the producer has filled the queue and
        // blocked on its fifth item, giving its slot to this thread.
        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, 0)), 1);
        Snapshot s = snapshot(m.arbiter, m.queue);
        EXPECT_EQ(s.count, 3);
        EXPECT_EQ(s.waiting_producers, 0) << "a get that starts on a full queue frees only one slot";
        EXPECT_EQ(s.running_producers, 0);
        EXPECT_EQ(s.running, 1);

        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, 0)), 2);
        s = snapshot(m.arbiter, m.queue);
        EXPECT_EQ(s.count, 2);
        EXPECT_EQ(s.waiting_producers, 1) << "the get that starts with 3 of 4 makes the producer eligible";
        EXPECT_EQ(s.running_producers, 0) << "no slot is free to hand over";

        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, 0)), 3);
        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, 0)), 4);
        s = snapshot(m.arbiter, m.queue);
        EXPECT_EQ(s.count, 0);
        EXPECT_EQ(s.waiting_producers, 1);
        // Blocking on the empty queue hands the slot to the producer.
        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, 0)), 5);
        EXPECT_EQ(thread_queue_get(m.arbiter, m.queue, 0), nullptr);
        producer.join();
        expect_at_rest(m.arbiter);
      },
      60s, "eligibility steps");
}

TEST(ThreadQueue, BudgetOfTenHoldsItemsOfEight) {
  run_bounded(
      [] {
        Manual m(8, 1, 10, 1, 1);
        int32_t values[3] = {1, 2, 3};
        std::thread producer([&] {
          for (int32_t &v : values) thread_queue_put(m.arbiter, m.queue, &v, 8);
          thread_queue_producer_done(m.arbiter, m.queue, 0);
        });
        // Two items go in without a budget check (fewer than 2 queued); the
        // third finds 2 queued and 16 in flight and waits, handing its slot
        // over.
        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, 0)), 1);
        Snapshot s = snapshot(m.arbiter, m.queue);
        EXPECT_EQ(s.in_flight, 16);
        EXPECT_EQ(s.count, 1);
        EXPECT_EQ(s.waiting_producers, 1) << "a budget wait counts as waiting at once";

        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, -8)), 2);
        s = snapshot(m.arbiter, m.queue);
        EXPECT_EQ(s.in_flight, 8);
        EXPECT_EQ(s.count, 0);
        EXPECT_EQ(s.waiting_producers, 1) << "released, but no hand-on has happened yet";

        // Blocking on the empty queue hands the slot on; the producer tries
        // again and finds fewer than 2 items queued.
        EXPECT_EQ(*static_cast<int32_t *>(thread_queue_get(m.arbiter, m.queue, -8)), 3);
        s = snapshot(m.arbiter, m.queue);
        EXPECT_EQ(s.in_flight, 8);
        EXPECT_EQ(thread_queue_get(m.arbiter, m.queue, -8), nullptr);
        producer.join();
        expect_at_rest(m.arbiter);
      },
      60s, "budget steps");
}

TEST(ThreadQueue, SizeZeroPutsNeverWaitForTheBudget) {
  run_bounded(
      [] {
        // The main thread produces; the consumer thread holds the second
        // slot but is started only afterwards, so nobody could wake a
        // producer that waited.
        Manual m(8, 2, 0, 1, 1);
        int32_t values[6] = {0, 1, 2, 3, 4, 5};
        thread_queue_put(m.arbiter, m.queue, &values[0], 5);
        for (int i = 1; i < 6; i++) thread_queue_put(m.arbiter, m.queue, &values[i], 0);
        Snapshot s = snapshot(m.arbiter, m.queue);
        EXPECT_EQ(s.count, 6);
        EXPECT_EQ(s.in_flight, 5);
        std::vector<int32_t> got;
        std::thread consumer([&] {
          int32_t release = 0;
          while (void *item = thread_queue_get(m.arbiter, m.queue, -release)) {
            got.push_back(*static_cast<int32_t *>(item));
            release = got.size() == 1 ? 5 : 0;
          }
        });
        thread_queue_producer_done(m.arbiter, m.queue, 0);
        consumer.join();
        EXPECT_EQ(got, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
        expect_at_rest(m.arbiter);
      },
      60s, "size-0 puts");
}

// ---------------------------------------------------------------------------
// Ended queues and groups

struct EndContext {
  thread_arbiter_t *arbiter;
  int items;
  std::vector<int32_t> values;
  std::atomic<int> got{0};
  std::atomic<int> nulls{0};
};

void *end_producer(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<EndContext *>(args->context);
  for (int i = 0; i < c->items; i++) thread_queue_put(c->arbiter, args->output, &c->values[i], 0);
  thread_queue_producer_done(c->arbiter, args->output, 0);
  return nullptr;
}

void *end_consumer(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<EndContext *>(args->context);
  while (thread_queue_get(c->arbiter, args->input, 0) != nullptr) c->got++;
  c->nulls++;
  return nullptr;
}

// The consumers start only after the producer has finished: each either
// takes one of the leftover items or finds the ended queue and gets null at
// once, and every one of them ends.
TEST(ThreadQueue, EveryConsumerOfAnEndedQueueGetsNull) {
  for (int items : {0, 3}) {
    SCOPED_TRACE("items " + std::to_string(items));
    EndContext c;
    c.items = items;
    c.values.assign(static_cast<size_t>(items), 7);
    thread_queue_t *q = thread_queue_new(4);
    c.arbiter = thread_arbiter_new(&q, 1, 7, 0);
    thread_group_t *producer = thread_group_new(1, end_producer, nullptr, q, &c);
    thread_group_t *consumers = thread_group_new(6, end_consumer, q, nullptr, &c);
    thread_queue_reset(q);
    thread_group_register(producer);
    thread_group_register(consumers);
    thread_arbiter_count_threads(c.arbiter);
    run_bounded(
        [&] {
          thread_group_start(producer);
          thread_group_join(producer);
          thread_group_start(consumers);
          thread_group_join(consumers);
        },
        60s, "ended queue");
    EXPECT_EQ(c.got.load(), items);
    EXPECT_EQ(c.nulls.load(), 6);
    expect_at_rest(c.arbiter);
    thread_group_free(producer);
    thread_group_free(consumers);
    thread_queue_free(q);
    thread_arbiter_free(c.arbiter);
  }
}

TEST(ThreadGroup, RegistrationCountsEveryThreadInOneQueue) {
  thread_queue_t *a = thread_queue_new(4);
  thread_queue_t *b = thread_queue_new(4);
  thread_queue_t *c = thread_queue_new(4);
  thread_queue_reset(a);
  thread_queue_reset(b);
  thread_queue_reset(c);
  thread_queue_t *inputs[2] = {a, b};
  thread_group_t *source = thread_group_new(2, end_producer, nullptr, a, nullptr);
  thread_group_t *worker = thread_group_new(3, end_consumer, a, b, nullptr);
  thread_group_t *sink = thread_group_new_multi(4, end_consumer, 2, inputs, nullptr, nullptr);
  thread_group_t *merger = thread_group_new_multi(5, end_consumer, 2, inputs, c, nullptr);
  thread_group_t *idle = thread_group_new_multi(1, end_consumer, 0, nullptr, nullptr, nullptr);
  inputs[0] = nullptr;  // the group keeps its own copy
  EXPECT_EQ(sink->args->input, nullptr);
  EXPECT_EQ(sink->args->inputs[0], a);
  EXPECT_EQ(worker->args->input, a);
  EXPECT_EQ(worker->args->output, b);
  EXPECT_EQ(idle->args->input_count, 0);
  EXPECT_EQ(idle->args->inputs, nullptr);
  for (thread_group_t *g : {source, worker, sink, merger, idle}) thread_group_register(g);
  // a: produced by source, consumed by worker, sink and merger; counts the
  // source's threads and the sink's (no output, first input a).
  EXPECT_EQ(a->producers, 2);
  EXPECT_EQ(a->running_producers, 2);
  EXPECT_EQ(a->consumers, 3 + 4 + 5);
  EXPECT_EQ(a->running_consumers, 3 + 4 + 5);
  EXPECT_EQ(a->threads, 2 + 4);
  EXPECT_EQ(b->producers, 3);
  EXPECT_EQ(b->consumers, 4 + 5);
  EXPECT_EQ(b->threads, 3);
  EXPECT_EQ(c->producers, 5);
  EXPECT_EQ(c->consumers, 0);
  EXPECT_EQ(c->threads, 5);
  thread_queue_t *all[3] = {a, b, c};
  thread_arbiter_t *arbiter = thread_arbiter_new(all, 3, 2, 0);
  thread_arbiter_count_threads(arbiter);
  EXPECT_EQ(arbiter->running, 2 + 3 + 4 + 5);
  for (thread_group_t *g : {source, worker, sink, merger, idle}) thread_group_free(g);
  thread_queue_free(a);
  thread_queue_free(b);
  thread_queue_free(c);
  thread_arbiter_free(arbiter);
}

// A sink reading two inputs one after the other keeps its slot until it has
// left both.
struct MultiContext {
  thread_arbiter_t *arbiter;
  int items;
  std::vector<int32_t> values;
  std::vector<int32_t> order;
};

void *multi_source(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<MultiContext *>(args->context);
  int32_t base = args->output == c->arbiter->queues[0] ? 0 : c->items;
  for (int i = 0; i < c->items; i++) thread_queue_put(c->arbiter, args->output, &c->values[base + i], 0);
  thread_queue_producer_done(c->arbiter, args->output, 0);
  return nullptr;
}

void *multi_sink(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<MultiContext *>(args->context);
  for (int32_t i = 0; i < args->input_count; i++)
    while (void *item = thread_queue_get(c->arbiter, args->inputs[i], 0)) c->order.push_back(*static_cast<int32_t *>(item));
  return nullptr;
}

TEST(ThreadGroup, MultiInputSinkDrainsItsInputsInTurn) {
  MultiContext c;
  c.items = 200;
  for (int i = 0; i < 2 * c.items; i++) c.values.push_back(i);
  thread_queue_t *q[2] = {thread_queue_new(3), thread_queue_new(3)};
  c.arbiter = thread_arbiter_new(q, 2, 1, 0);
  thread_group_t *s1 = thread_group_new(1, multi_source, nullptr, q[0], &c);
  thread_group_t *s2 = thread_group_new(1, multi_source, nullptr, q[1], &c);
  thread_group_t *sink = thread_group_new_multi(1, multi_sink, 2, q, nullptr, &c);
  thread_queue_reset(q[0]);
  thread_queue_reset(q[1]);
  for (thread_group_t *g : {s1, s2, sink}) thread_group_register(g);
  thread_arbiter_count_threads(c.arbiter);
  run_bounded(
      [&] {
        for (thread_group_t *g : {s1, s2, sink}) thread_group_start(g);
        for (thread_group_t *g : {sink, s2, s1}) thread_group_join(g);
      },
      60s, "multi-input sink");
  ASSERT_EQ(c.order.size(), static_cast<size_t>(2 * c.items));
  for (int i = 0; i < 2 * c.items; i++) EXPECT_EQ(c.order[static_cast<size_t>(i)], i);
  expect_at_rest(c.arbiter);
  for (thread_group_t *g : {s1, s2, sink}) thread_group_free(g);
  thread_queue_free(q[0]);
  thread_queue_free(q[1]);
  thread_arbiter_free(c.arbiter);
}

// Threads of a group run with 4 MiB stacks and receive the group's shared
// arguments.
struct StackContext {
  std::atomic<int> right_size{0};
  std::atomic<int> right_args{0};
  thread_args_t *expected = nullptr;
};

void *stack_probe(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<StackContext *>(args->context);
  pthread_attr_t attr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
  }
  if (size == kThreadGroupStackSize) c->right_size++;
  if (args == c->expected) c->right_args++;
  return nullptr;
}

TEST(ThreadGroup, ThreadsGetFourMebibyteStacksAndSharedArguments) {
  StackContext c;
  thread_group_t *group = thread_group_new(3, stack_probe, nullptr, nullptr, &c);
  c.expected = group->args;
  thread_group_start(group);
  thread_group_join(group);
  EXPECT_EQ(kThreadGroupStackSize, 4194304u);
  EXPECT_EQ(c.right_size.load(), 3);
  EXPECT_EQ(c.right_args.load(), 3);
  EXPECT_EQ(thread_group_free(group), nullptr);
}

// The packaged source -> workers -> sink run: the source sends 0 .. n-1,
// every worker squares what it gets, the sink adds up; each worker sees the
// arbiter in the slot and its own role (one input, one output).
struct RunContext {
  thread_arbiter_t *arbiter = nullptr;
  int64_t items = 0;
  std::vector<int64_t> values;
  std::atomic<int64_t> sum{0};
  std::atomic<int> sink_items{0};
  std::atomic<int> workers_seen{0};
  std::atomic<int> wrong_wiring{0};
};

void *run_source(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<RunContext *>(args->context);
  if (c->arbiter == nullptr || args->input != nullptr || args->output == nullptr) c->wrong_wiring++;
  for (int64_t i = 0; i < c->items; i++) thread_queue_put(c->arbiter, args->output, &c->values[i], 0);
  thread_queue_producer_done(c->arbiter, args->output, 0);
  return nullptr;
}

void *run_worker(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<RunContext *>(args->context);
  if (args->input == nullptr || args->output == nullptr || args->input == args->output) c->wrong_wiring++;
  c->workers_seen++;
  while (auto *v = static_cast<int64_t *>(thread_queue_get(c->arbiter, args->input, 0))) {
    *v = *v * *v;
    thread_queue_put(c->arbiter, args->output, v, 0);
  }
  thread_queue_producer_done(c->arbiter, args->output, 0);
  return nullptr;
}

void *run_sink(void *a) {
  auto *args = static_cast<thread_args_t *>(a);
  auto *c = static_cast<RunContext *>(args->context);
  if (args->input == nullptr || args->output != nullptr) c->wrong_wiring++;
  while (auto *v = static_cast<int64_t *>(thread_queue_get(c->arbiter, args->input, 0))) {
    c->sum += *v;
    c->sink_items++;
  }
  return nullptr;
}

TEST(ThreadGroup, RunPipelineDeliversEveryItemAndClearsTheSlot) {
  for (const auto &[workers, items] : {std::pair{1, 0}, std::pair{1, 500}, std::pair{4, 1000}}) {
    SCOPED_TRACE("workers " + std::to_string(workers) + ", items " + std::to_string(items));
    RunContext c;
    c.items = items;
    for (int64_t i = 0; i < items; i++) c.values.push_back(i);
    run_bounded(
        [&] { thread_group_run_pipeline(workers, 2 * workers, run_source, run_worker, run_sink, &c, &c.arbiter); },
        20s, "packaged pipeline");
    EXPECT_EQ(c.arbiter, nullptr);
    EXPECT_EQ(c.wrong_wiring.load(), 0);
    EXPECT_EQ(c.workers_seen.load(), workers);
    EXPECT_EQ(c.sink_items.load(), items);
    EXPECT_EQ(c.sum.load(), items == 0 ? 0 : (items - 1) * items * (2 * items - 1) / 6);
  }
}

// A parallel loop: every thread runs, each sees the shared context, and
// the call returns only after all of them ended.
TEST(ThreadGroup, RunWaitsForEveryThreadOfTheLoop) {
  struct Loop {
    std::atomic<int32_t> next{0};
    std::atomic<int32_t> threads{0};
    std::vector<std::atomic<int32_t>> done = std::vector<std::atomic<int32_t>>(1000);
  } loop;
  thread_group_run(
      5,
      [](void *args) -> void * {
        auto *l = static_cast<Loop *>(static_cast<thread_args_t *>(args)->context);
        l->threads++;
        for (int32_t k; (k = l->next.fetch_add(1)) < 1000;) l->done[static_cast<size_t>(k)]++;
        return nullptr;
      },
      &loop);
  EXPECT_EQ(loop.threads.load(), 5);
  for (auto &d : loop.done) ASSERT_EQ(d.load(), 1);
}

TEST(ThreadQueueDeath, CapacityBelowTwoIsRefused) {
  EXPECT_EXIT(thread_queue_new(1), testing::ExitedWithCode(1), "^thread_queue_new: capacity 1 is below 2\n$");
  thread_queue_t *q = thread_queue_new(2);
  EXPECT_EQ(q->capacity, 2);
  thread_queue_free(q);
}

// Without address space left for a thread stack, starting a group reports
// the shortage and ends with status 1.
TEST(ThreadGroupDeath, StartWithoutMemoryForAStack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer runtimes reserve address space, so an address-space limit cannot be applied";
#else
  // A fresh process: stacks cached from threads that ended earlier in this
  // one would be reused without a new mapping.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  StackContext c;
  thread_group_t *group = thread_group_new(2, stack_probe, nullptr, nullptr, &c);
  EXPECT_EXIT(
      {
        ryx_test::limit_address_space_to_current_use();
        thread_group_start(group);
      },
      testing::ExitedWithCode(1), "^Out of memory\n$");
  thread_group_free(group);
#endif
}

}  // namespace
