// Bounded blocking queues of item pointers and the per-pipeline arbiter.
//
// A pipeline is a set of thread groups joined by queues. One arbiter per
// pipeline serialises every queue operation under its single mutex and keeps
// the number of threads that hold a run slot at max_running (the worker
// count): a thread that must block on a queue hands its slot to a waiting
// thread that can run, and a thread continues past a blocking point only
// once it has been handed a slot. A signal is sent only together with the
// reservation of a slot, so once the start-up surplus has yielded no more
// than max_running threads run outside the queue operations.
//
// An optional in-flight budget bounds the data held in the queues: producers
// add the size of what they put, consumers release it on their next get, and
// a producer whose queue holds at least 2 items waits while the total is
// above the budget.
//
// All fields are guarded by the arbiter's mutex; read them only while
// holding it.
#pragma once

#include <pthread.h>

#include <cstdint>

struct thread_queue_t {
  int32_t capacity;            // slots, fixed at creation (at least 2)
  int32_t count;               // items queued
  int32_t head;                // slot of the oldest item
  void **slots;                // item i lies at (head + i) mod capacity
  int32_t threads;             // threads this queue adds to the starting running count
  int32_t producers;           // producers registered and not yet done
  int32_t waiting_producers;   // blocked producers eligible for a slot
  int32_t running_producers;   // producers not blocked in this queue
  pthread_cond_t not_full;     // producers of this queue wait here
  int32_t consumers;           // consumers registered and not yet gone
  int32_t waiting_consumers;   // blocked consumers eligible for a slot
  int32_t running_consumers;   // consumers not blocked in this queue
  pthread_cond_t not_empty;    // consumers of this queue wait here
  // Slots handed to waiters on each condition and not yet taken up. A waiter
  // leaves its wait only by taking one, so a spurious wake-up never lets a
  // thread run without a slot.
  int32_t producer_wakeups;
  int32_t consumer_wakeups;
};

struct thread_arbiter_t {
  thread_queue_t **queues;  // every queue of the pipeline; the order is the wake-up priority
  int32_t queue_count;
  int32_t max_running;      // the worker count
  int32_t running;          // threads holding a slot
  int64_t budget;           // in-flight limit, in the unit the pipeline measures items in
  int64_t in_flight;        // sizes put minus sizes released
  pthread_mutex_t mutex;    // the one lock of the pipeline
};

// New queue with capacity slots; its counters are set by thread_queue_reset.
// A capacity below 2 would stall the first producer that fills the queue, so
// it ends the process with "thread_queue_new: capacity %d is below 2\n" on
// standard error and status 1.
thread_queue_t *thread_queue_new(int32_t capacity);
// Count, head and every thread, producer, consumer and wake-up counter to 0.
void thread_queue_reset(thread_queue_t *queue);
// threads += n.
void thread_queue_add_threads(thread_queue_t *queue, int32_t n);
// producers += n and running producers += n.
void thread_queue_add_producers(thread_queue_t *queue, int32_t n);
// consumers += n and running consumers += n.
void thread_queue_add_consumers(thread_queue_t *queue, int32_t n);
// Frees the slot array and the queue, not the items still queued; returns
// null.
thread_queue_t *thread_queue_free(thread_queue_t *queue);

// Appends item, adding size to the in-flight total. Blocks while the caller
// must yield its slot, while the budget holds it back (only when size > 0 and
// the queue holds at least 2 items) and while the queue is full.
void thread_queue_put(thread_arbiter_t *arbiter, thread_queue_t *queue, void *item, int32_t size);
// Adds size to the in-flight total (consumers pass minus the size of the item
// they have finished with, or 0), then returns the oldest item, blocking
// while the queue is empty. Returns null once the queue is empty and every
// producer is done; the caller has then left the queue for good.
void *thread_queue_get(thread_arbiter_t *arbiter, thread_queue_t *queue, int32_t size);
// The calling producer leaves the queue for good and gives up its slot; size
// is added to the in-flight total. Blocked consumers become eligible so that
// they wake and see the end.
void thread_queue_producer_done(thread_arbiter_t *arbiter, thread_queue_t *queue, int32_t size);

// Arbiter over the queue array (copied; the order is the wake-up priority)
// with max_running slots and the in-flight budget.
thread_arbiter_t *thread_arbiter_new(thread_queue_t **queues, int32_t queue_count, int32_t max_running,
                                     int64_t budget);
// running = the sum of the queues' thread counts, in flight = 0. Called after
// every group is registered and before any thread starts.
void thread_arbiter_count_threads(thread_arbiter_t *arbiter);
// One slot hand-over, with the mutex held: when a slot is free, reserves it
// for the first waiting producer (else consumer) of the first queue that has
// one and returns the condition to signal; null when no slot is free or no
// thread is waiting.
pthread_cond_t *thread_arbiter_pick_waiter(thread_arbiter_t *arbiter);
// Frees the arbiter (not the queues); returns null.
thread_arbiter_t *thread_arbiter_free(thread_arbiter_t *arbiter);

// Tells the queue operations how the calling thread takes part in its
// pipeline: how many input queues it consumes and whether it also feeds an
// output queue. A thread's slot is given up once, when the thread leaves the
// pipeline: on its output (thread_queue_producer_done) when it has one,
// otherwise when it has left its last input. Thread groups call this on each
// of their threads; a thread that never calls it counts as a consumer of one
// input without output.
void thread_queue_set_thread_role(int32_t input_count, bool has_output);
