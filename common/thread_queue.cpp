#include "common/thread_queue.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

// How the calling thread takes part in its pipeline; see
// thread_queue_set_thread_role.
struct thread_role_t {
  int32_t inputs_left = 1;     // input queues not yet left
  bool has_output = false;     // the thread also produces into a queue
  bool slot_released = false;  // leaving the last input gave up the slot
};

thread_local thread_role_t role;

void hand_on(thread_arbiter_t *arbiter) {
  while (pthread_cond_t *cond = thread_arbiter_pick_waiter(arbiter)) pthread_cond_signal(cond);
}

// Waits until a slot has been reserved for a producer of this queue and takes
// it.
void wait_as_producer(thread_arbiter_t *arbiter, thread_queue_t *queue) {
  while (queue->producer_wakeups == 0) pthread_cond_wait(&queue->not_full, &arbiter->mutex);
  queue->producer_wakeups--;
}

void wait_as_consumer(thread_arbiter_t *arbiter, thread_queue_t *queue) {
  while (queue->consumer_wakeups == 0) pthread_cond_wait(&queue->not_empty, &arbiter->mutex);
  queue->consumer_wakeups--;
}

// Gives up the caller's slot inside a wait loop and passes it on. When the
// start-up surplus is not yet gone (running was above max_running) there is
// no slot to pass on.
void give_up_producer_slot(thread_arbiter_t *arbiter, thread_queue_t *queue) {
  int32_t before = arbiter->running;
  arbiter->running--;
  queue->running_producers--;
  if (before <= arbiter->max_running) hand_on(arbiter);
}

void give_up_consumer_slot(thread_arbiter_t *arbiter, thread_queue_t *queue) {
  int32_t before = arbiter->running;
  arbiter->running--;
  queue->running_consumers--;
  if (before <= arbiter->max_running) hand_on(arbiter);
}

// Moves blocked threads (neither running nor waiting) to the waiting ones
// until target threads wait or none is blocked.
void make_eligible(int32_t *waiting, int32_t blocked, int32_t target) {
  int32_t missing = target - *waiting;
  if (missing <= 0 || blocked <= 0) return;
  *waiting += missing < blocked ? missing : blocked;
}

}  // namespace

thread_queue_t *thread_queue_new(int32_t capacity) {
  if (capacity < 2) {
    fprintf(stderr, "thread_queue_new: capacity %d is below 2\n", capacity);
    ryx_exit(1);
  }
  auto *queue = static_cast<thread_queue_t *>(ryx_calloc(sizeof(thread_queue_t)));
  queue->capacity = capacity;
  queue->slots = static_cast<void **>(ryx_calloc(sizeof(void *) * static_cast<size_t>(capacity)));
  pthread_cond_init(&queue->not_full, nullptr);
  pthread_cond_init(&queue->not_empty, nullptr);
  return queue;
}

void thread_queue_reset(thread_queue_t *queue) {
  queue->count = 0;
  queue->head = 0;
  queue->threads = 0;
  queue->producers = 0;
  queue->waiting_producers = 0;
  queue->running_producers = 0;
  queue->consumers = 0;
  queue->waiting_consumers = 0;
  queue->running_consumers = 0;
  queue->producer_wakeups = 0;
  queue->consumer_wakeups = 0;
}

void thread_queue_add_threads(thread_queue_t *queue, int32_t n) { queue->threads += n; }

void thread_queue_add_producers(thread_queue_t *queue, int32_t n) {
  queue->producers += n;
  queue->running_producers += n;
}

void thread_queue_add_consumers(thread_queue_t *queue, int32_t n) {
  queue->consumers += n;
  queue->running_consumers += n;
}

thread_queue_t *thread_queue_free(thread_queue_t *queue) {
  if (queue == nullptr) return nullptr;
  ryx_free(queue->slots);
  ryx_free(queue);
  return nullptr;
}

void thread_queue_set_thread_role(int32_t input_count, bool has_output) {
  role.inputs_left = input_count;
  role.has_output = has_output;
  role.slot_released = false;
}

void thread_queue_put(thread_arbiter_t *arbiter, thread_queue_t *queue, void *item, int32_t size) {
  pthread_mutex_lock(&arbiter->mutex);
  role.slot_released = false;

  // Yield while more threads hold slots than may run (the start-up surplus).
  if (arbiter->running > arbiter->max_running) {
    arbiter->running--;
    queue->running_producers--;
    queue->waiting_producers++;
    wait_as_producer(arbiter, queue);
  }

  // Budget: only a queue that already holds 2 items holds its producer back,
  // so a slow consumer always has work.
  if (queue->count >= 2 && size > 0 && arbiter->in_flight > arbiter->budget) {
    do {
      give_up_producer_slot(arbiter, queue);
      queue->waiting_producers++;
      wait_as_producer(arbiter, queue);
    } while (queue->count >= 2 && arbiter->in_flight > arbiter->budget);
  }
  arbiter->in_flight += size;

  // Full: wait without being eligible; a get makes the producer eligible once
  // it leaves at least two free slots.
  while (queue->count == queue->capacity) {
    give_up_producer_slot(arbiter, queue);
    wait_as_producer(arbiter, queue);
  }

  queue->slots[(queue->head + queue->count) % queue->capacity] = item;
  queue->count++;

  // Consumers blocked on the empty queue become eligible, up to one per
  // queued item. Consumers counted as running here are not subtracted: a
  // worker blocked on its full output queue counts as running in its input
  // queue, and relying on it to take the item can leave every thread of a
  // small pipeline blocked.
  make_eligible(&queue->waiting_consumers,
                queue->consumers - queue->running_consumers - queue->waiting_consumers, queue->count);

  hand_on(arbiter);
  pthread_mutex_unlock(&arbiter->mutex);
}

void *thread_queue_get(thread_arbiter_t *arbiter, thread_queue_t *queue, int32_t size) {
  pthread_mutex_lock(&arbiter->mutex);
  role.slot_released = false;
  arbiter->in_flight += size;

  if (arbiter->running > arbiter->max_running) {
    arbiter->running--;
    queue->running_consumers--;
    queue->waiting_consumers++;
    wait_as_consumer(arbiter, queue);
  }

  while (queue->count == 0) {
    if (queue->producers == 0) break;
    give_up_consumer_slot(arbiter, queue);
    wait_as_consumer(arbiter, queue);
  }

  // Producers blocked on the full queue become eligible for the free slots
  // counted before this get removes its item, so a get that starts on a full
  // queue makes none eligible and the next one makes one. Producers counted
  // as running are not subtracted, for the reason given in the put.
  make_eligible(&queue->waiting_producers,
                queue->producers - queue->running_producers - queue->waiting_producers,
                queue->capacity - queue->count);

  void *item = nullptr;
  if (queue->count > 0) {
    item = queue->slots[queue->head];
    queue->slots[queue->head] = nullptr;
    queue->head = (queue->head + 1) % queue->capacity;
    queue->count--;
  } else {
    // The queue has ended: the caller leaves it. Its slot goes only when this
    // was its last input and it feeds no output; a thread with an output
    // gives its slot up once, in thread_queue_producer_done.
    queue->consumers--;
    queue->running_consumers--;
    role.inputs_left--;
    if (!role.has_output && role.inputs_left <= 0) {
      arbiter->running--;
      role.slot_released = true;
    }
  }

  hand_on(arbiter);
  pthread_mutex_unlock(&arbiter->mutex);
  return item;
}

void thread_queue_producer_done(thread_arbiter_t *arbiter, thread_queue_t *queue, int32_t size) {
  pthread_mutex_lock(&arbiter->mutex);
  int32_t before = arbiter->running;
  if (!role.slot_released) arbiter->running--;
  role.slot_released = false;
  queue->producers--;
  queue->running_producers--;
  arbiter->in_flight += size;
  // Every blocked consumer becomes eligible so that it wakes and sees the end.
  queue->waiting_consumers = queue->consumers - queue->running_consumers;
  if (before <= arbiter->max_running) hand_on(arbiter);
  pthread_mutex_unlock(&arbiter->mutex);
}

thread_arbiter_t *thread_arbiter_new(thread_queue_t **queues, int32_t queue_count, int32_t max_running,
                                     int64_t budget) {
  auto *arbiter = static_cast<thread_arbiter_t *>(ryx_calloc(sizeof(thread_arbiter_t)));
  arbiter->queues = static_cast<thread_queue_t **>(ryx_malloc(sizeof(thread_queue_t *) * static_cast<size_t>(queue_count)));
  for (int32_t i = 0; i < queue_count; i++) arbiter->queues[i] = queues[i];
  arbiter->queue_count = queue_count;
  arbiter->max_running = max_running;
  arbiter->budget = budget;
  pthread_mutex_init(&arbiter->mutex, nullptr);
  return arbiter;
}

void thread_arbiter_count_threads(thread_arbiter_t *arbiter) {
  int32_t running = 0;
  for (int32_t i = 0; i < arbiter->queue_count; i++) running += arbiter->queues[i]->threads;
  arbiter->running = running;
  arbiter->in_flight = 0;
}

pthread_cond_t *thread_arbiter_pick_waiter(thread_arbiter_t *arbiter) {
  if (arbiter->running >= arbiter->max_running) return nullptr;
  for (int32_t i = 0; i < arbiter->queue_count; i++) {
    thread_queue_t *queue = arbiter->queues[i];
    if (queue->waiting_producers > 0) {
      queue->waiting_producers--;
      queue->running_producers++;
      queue->producer_wakeups++;
      arbiter->running++;
      return &queue->not_full;
    }
    if (queue->waiting_consumers > 0) {
      queue->waiting_consumers--;
      queue->running_consumers++;
      queue->consumer_wakeups++;
      arbiter->running++;
      return &queue->not_empty;
    }
  }
  return nullptr;
}

thread_arbiter_t *thread_arbiter_free(thread_arbiter_t *arbiter) {
  if (arbiter == nullptr) return nullptr;
  ryx_free(arbiter->queues);
  ryx_free(arbiter);
  return nullptr;
}
