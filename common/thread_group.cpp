#include "common/thread_group.h"

#include <cerrno>
#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

thread_group_t *group_new(int32_t n, thread_start_fn start, thread_queue_t *input, int32_t input_count,
                          thread_queue_t **inputs, thread_queue_t *output, void *context) {
  auto *group = static_cast<thread_group_t *>(ryx_calloc(sizeof(thread_group_t)));
  group->thread_count = n;
  group->threads = static_cast<pthread_t *>(ryx_calloc(sizeof(pthread_t) * static_cast<size_t>(n > 0 ? n : 0)));
  group->start = start;
  auto *args = static_cast<thread_args_t *>(ryx_calloc(sizeof(thread_args_t)));
  args->input = input;
  args->output = output;
  if (input_count > 0 && inputs != nullptr) {
    args->input_count = input_count;
    args->inputs = static_cast<thread_queue_t **>(ryx_malloc(sizeof(thread_queue_t *) * static_cast<size_t>(input_count)));
    for (int32_t i = 0; i < input_count; i++) args->inputs[i] = inputs[i];
  }
  args->context = context;
  group->args = args;
  return group;
}

// Every pipeline thread starts here: it tells the queue operations its role,
// then runs the group's start routine.
void *group_thread_main(void *p) {
  auto *group = static_cast<thread_group_t *>(p);
  thread_queue_set_thread_role(group->args->input_count, group->args->output != nullptr);
  return group->start(group->args);
}

}  // namespace

thread_group_t *thread_group_new(int32_t n, thread_start_fn start, thread_queue_t *input,
                                 thread_queue_t *output, void *context) {
  thread_queue_t *inputs[1] = {input};
  return group_new(n, start, input, input != nullptr ? 1 : 0, inputs, output, context);
}

thread_group_t *thread_group_new_multi(int32_t n, thread_start_fn start, int32_t input_count,
                                       thread_queue_t **inputs, thread_queue_t *output, void *context) {
  return group_new(n, start, nullptr, input_count, inputs, output, context);
}

void thread_group_register(thread_group_t *group) {
  thread_args_t *args = group->args;
  int32_t n = group->thread_count;
  if (args->output != nullptr) {
    thread_queue_add_producers(args->output, n);
    thread_queue_add_threads(args->output, n);
  }
  for (int32_t i = 0; i < args->input_count; i++) thread_queue_add_consumers(args->inputs[i], n);
  if (args->input_count > 0 && args->output == nullptr) thread_queue_add_threads(args->inputs[0], n);
}

void thread_group_start(thread_group_t *group) {
  pthread_attr_t attr;
  int err = pthread_attr_init(&attr);
  if (err != 0) {
    printf("pthread_attr_init %d\n", err);
    ryx_exit(1);
  }
  err = pthread_attr_setstacksize(&attr, kThreadGroupStackSize);
  if (err != 0) {
    printf("pthread_setstacksize %d\n", err);
    ryx_exit(1);
  }
  for (int32_t i = 0; i < group->thread_count; i++) {
    err = pthread_create(&group->threads[i], &attr, group_thread_main, group);
    if (err == EAGAIN) {
      fprintf(stderr, "Out of memory\n");
      ryx_exit(1);
    }
    if (err != 0) {
      printf("pthread_create %d\n", err);
      ryx_exit(1);
    }
  }
  pthread_attr_destroy(&attr);
}

void thread_group_join(thread_group_t *group) {
  for (int32_t i = 0; i < group->thread_count; i++) pthread_join(group->threads[i], nullptr);
}

thread_group_t *thread_group_free(thread_group_t *group) {
  if (group == nullptr) return nullptr;
  ryx_free(group->threads);
  if (group->args != nullptr) ryx_free(group->args->inputs);
  ryx_free(group->args);
  ryx_free(group);
  return nullptr;
}

void thread_group_run(int32_t n, thread_start_fn start, void *context) {
  thread_group_t *group = thread_group_new(n, start, nullptr, nullptr, context);
  thread_group_register(group);
  thread_group_start(group);
  thread_group_join(group);
  thread_group_free(group);
}

void thread_group_run_pipeline(int32_t workers, int32_t queue_capacity, thread_start_fn source,
                               thread_start_fn worker, thread_start_fn sink, void *context,
                               thread_arbiter_t **arbiter_slot) {
  thread_queue_t *queues[2] = {thread_queue_new(queue_capacity), thread_queue_new(queue_capacity)};
  *arbiter_slot = thread_arbiter_new(queues, 2, workers, 0);
  thread_group_t *sources = thread_group_new(1, source, nullptr, queues[0], context);
  thread_group_t *middle = thread_group_new(workers, worker, queues[0], queues[1], context);
  thread_group_t *sinks = thread_group_new(1, sink, queues[1], nullptr, context);
  thread_queue_reset(queues[0]);
  thread_queue_reset(queues[1]);
  thread_group_register(sources);
  thread_group_register(middle);
  thread_group_register(sinks);
  thread_arbiter_count_threads(*arbiter_slot);
  thread_group_start(sources);
  thread_group_start(middle);
  thread_group_start(sinks);
  thread_group_join(sinks);
  thread_group_join(middle);
  thread_group_join(sources);
  thread_group_free(sources);
  thread_group_free(middle);
  thread_group_free(sinks);
  thread_queue_free(queues[0]);
  thread_queue_free(queues[1]);
  *arbiter_slot = thread_arbiter_free(*arbiter_slot);
}
