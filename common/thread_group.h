// Groups of identical worker threads joined to a pipeline's queues.
//
// Calling order for one pipeline run:
//  1. create the queues, then the arbiter over all of them with
//     get_number_of_cpus() as max running;
//  2. create one group per stage, each with the shared context (whose first
//     member is, by convention, the arbiter);
//  3. thread_queue_reset on every queue, thread_group_register on every
//     group, thread_arbiter_count_threads;
//  4. thread_group_start on every group, source stage first;
//  5. thread_group_join on every group, last stage first;
//  6. free the groups, the queues and the arbiter.
// A start routine loops on thread_queue_get of its input until it returns
// null, passes results on with thread_queue_put and finally calls
// thread_queue_producer_done on its output.
// thread_group_run_pipeline does all of steps 1 to 6 for the usual shape:
// one source thread, a group of workers, one sink thread.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "common/thread_queue.h"

// Stack size of every pipeline thread: 4 MiB.
constexpr size_t kThreadGroupStackSize = 0x400000;

// Shared by all threads of a group and handed to the start routine.
struct thread_args_t {
  thread_queue_t *input;     // the single input queue; null with none or several
  thread_queue_t *output;    // output queue or null
  int32_t input_count;       // number of input queues
  thread_queue_t **inputs;   // input_count queues, a copy owned by the group (null with none)
  void *context;             // shared context; its first member is the pipeline's arbiter
};

typedef void *(*thread_start_fn)(void *args);

struct thread_group_t {
  int32_t thread_count;
  pthread_t *threads;        // thread_count handles, valid after thread_group_start
  thread_start_fn start;
  thread_args_t *args;
};

// A group of n threads with one input queue (or none) and one output queue
// (or none).
thread_group_t *thread_group_new(int32_t n, thread_start_fn start, thread_queue_t *input,
                                 thread_queue_t *output, void *context);
// A group of n threads consuming several input queues; the array is copied
// and the single-input field stays null. A count of 0 or a null array means
// no input.
thread_group_t *thread_group_new_multi(int32_t n, thread_start_fn start, int32_t input_count,
                                       thread_queue_t **inputs, thread_queue_t *output, void *context);
// Registers the group's threads: as producers (and counted threads) of the
// output queue, as consumers of every input queue, and, without an output,
// as counted threads of the first input queue.
void thread_group_register(thread_group_t *group);
// Starts the threads with 4 MiB stacks. A failure of pthread_attr_init or of
// setting the stack size prints "pthread_attr_init %d\n" or
// "pthread_setstacksize %d\n" on standard output and ends the process with
// status 1; pthread_create failing for lack of resources prints
// "Out of memory\n" on standard error, any other failure "pthread_create %d\n"
// on standard output, both with status 1.
void thread_group_start(thread_group_t *group);
// Joins the threads in creation order; their results are ignored.
void thread_group_join(thread_group_t *group);
// Frees the handles, the input array, the arguments and the group (not the
// queues); returns null.
thread_group_t *thread_group_free(thread_group_t *group);

// Runs n threads of start over context, with no queues, and waits for all
// of them: a parallel loop whose threads claim their own work. Start
// failures end the process as in thread_group_start.
void thread_group_run(int32_t n, thread_start_fn start, void *context);

// Runs a source -> workers -> sink pipeline to its end in the calling order
// above: one source thread feeds the workers threads through a queue of
// queue_capacity, they feed one sink thread through a second such queue,
// under an arbiter with workers running slots and no budget. The arbiter is
// stored in *arbiter_slot (a member of context, by convention its first)
// before any thread starts; on return everything the run made is freed and
// the slot is null. Thread start failures end the process as in
// thread_group_start.
void thread_group_run_pipeline(int32_t workers, int32_t queue_capacity, thread_start_fn source,
                               thread_start_fn worker, thread_start_fn sink, void *context,
                               thread_arbiter_t **arbiter_slot);
