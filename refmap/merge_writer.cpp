#include "refmap/merge_writer.h"

#include <pthread.h>

#include <stdio_ext.h>

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/thread_group.h"
#include "refmap/map_result.h"
#include "refmap/read_batch.h"
#include "seqio/nyr_hit.h"

// Consecutive reads' records and the batches retired while they were added.
struct merge_window_t {
  int64_t sequence;              // place in the output, from 0
  map_record_t *records;         // window_reads records, count filled
  int32_t count;
  read_batch_t **retired;        // freed once the window is written
  int32_t retired_count, retired_capacity;
  merge_window_t *next;          // in the queue or the spare list
};

struct merge_writer_t {
  map_writer_context_t *writer;
  int32_t window_reads;
  int32_t in_flight_limit;       // windows queued or being encoded at most
  thread_group_t *group;
  merge_window_t *filling;       // the merging thread's window, or null
  pthread_mutex_t mutex;         // guards what follows
  pthread_cond_t changed;
  merge_window_t *queue_head, *queue_tail;
  merge_window_t *spare;         // windows free for reuse
  int32_t in_flight;
  int64_t submitted;             // windows queued so far
  int64_t written;               // windows written so far
  bool closing;                  // no window follows the queued ones
};

namespace {

merge_window_t *take_window(merge_writer_t *merge) {
  pthread_mutex_lock(&merge->mutex);
  merge_window_t *window = merge->spare;
  if (window != nullptr) merge->spare = window->next;
  pthread_mutex_unlock(&merge->mutex);
  if (window == nullptr) {
    window = static_cast<merge_window_t *>(ryx_calloc(sizeof(merge_window_t)));
    window->records =
        static_cast<map_record_t *>(ryx_malloc(sizeof(map_record_t) * static_cast<size_t>(merge->window_reads)));
  }
  window->next = nullptr;
  return window;
}

// Queues the filling window for encoding, waiting while too many are on
// their way.
void submit_window(merge_writer_t *merge) {
  merge_window_t *window = merge->filling;
  merge->filling = nullptr;
  pthread_mutex_lock(&merge->mutex);
  while (merge->in_flight >= merge->in_flight_limit) pthread_cond_wait(&merge->changed, &merge->mutex);
  window->sequence = merge->submitted++;
  if (merge->queue_tail != nullptr) {
    merge->queue_tail->next = window;
  } else {
    merge->queue_head = window;
  }
  merge->queue_tail = window;
  merge->in_flight++;
  pthread_cond_broadcast(&merge->changed);
  pthread_mutex_unlock(&merge->mutex);
}

// Bytes gathered in memory behind a stdio stream of an encoding thread.
struct byte_sink_t {
  char *bytes;
  size_t size, capacity;
};

ssize_t sink_write(void *cookie, const char *bytes, size_t size) {
  auto *sink = static_cast<byte_sink_t *>(cookie);
  if (sink->size + size > sink->capacity) {
    sink->capacity = 2 * (sink->size + size);
    sink->bytes = static_cast<char *>(ryx_realloc(sink->bytes, sink->capacity));
  }
  memcpy(sink->bytes + sink->size, bytes, size);
  sink->size += size;
  return static_cast<ssize_t>(size);
}

// A fully buffered stream into sink, used by one thread only, so without
// stdio locking.
FILE *sink_open(byte_sink_t *sink) {
  cookie_io_functions_t functions{};
  functions.write = sink_write;
  FILE *file = fopencookie(sink, "w", functions);
  ryx_malloc_check(file, sizeof(byte_sink_t));
  setvbuf(file, nullptr, _IOFBF, 1 << 16);
  __fsetlocking(file, FSETLOCKING_BYCALLER);
  return file;
}

// The window's records as bytes in sink (from its start).
void encode_window(const merge_writer_t *merge, const merge_window_t *window, FILE *file, byte_sink_t *sink,
                   nyr_match_t **scratch, int32_t *capacity) {
  sink->size = 0;
  for (int32_t i = 0; i < window->count; i++) {
    map_result_encode(merge->writer, &window->records[i], file, scratch, capacity);
  }
  fflush(file);
}

// Encodes queued windows, then writes each in its turn and frees the
// batches retired with it.
void *encode_thread(void *args) {
  auto *merge = static_cast<merge_writer_t *>(static_cast<thread_args_t *>(args)->context);
  nyr_match_t *scratch = nullptr;
  int32_t capacity = 0;
  byte_sink_t sink{};
  FILE *file = sink_open(&sink);
  for (;;) {
    pthread_mutex_lock(&merge->mutex);
    while (merge->queue_head == nullptr && !merge->closing) pthread_cond_wait(&merge->changed, &merge->mutex);
    merge_window_t *window = merge->queue_head;
    if (window != nullptr) {
      merge->queue_head = window->next;
      if (merge->queue_head == nullptr) merge->queue_tail = nullptr;
    }
    pthread_mutex_unlock(&merge->mutex);
    if (window == nullptr) break;
    encode_window(merge, window, file, &sink, &scratch, &capacity);
    pthread_mutex_lock(&merge->mutex);
    while (merge->written != window->sequence) pthread_cond_wait(&merge->changed, &merge->mutex);
    pthread_mutex_unlock(&merge->mutex);
    // Only the thread holding the next window in turn writes.
    fwrite(sink.bytes, 1, sink.size, merge->writer->output);
    for (int32_t k = 0; k < window->retired_count; k++) read_batch_free(window->retired[k]);
    window->retired_count = 0;
    window->count = 0;
    pthread_mutex_lock(&merge->mutex);
    merge->written++;
    merge->in_flight--;
    window->next = merge->spare;
    merge->spare = window;
    pthread_cond_broadcast(&merge->changed);
    pthread_mutex_unlock(&merge->mutex);
  }
  fclose(file);
  ryx_free(sink.bytes);
  ryx_free(scratch);
  return nullptr;
}

}  // namespace

merge_writer_t *merge_writer_new(map_writer_context_t *writer, int32_t threads, int32_t window_reads) {
  auto *merge = static_cast<merge_writer_t *>(ryx_calloc(sizeof(merge_writer_t)));
  merge->writer = writer;
  merge->window_reads = window_reads < 1 ? 1 : window_reads;
  if (threads < 1) threads = 1;
  merge->in_flight_limit = 2 * threads + 1;
  pthread_mutex_init(&merge->mutex, nullptr);
  pthread_cond_init(&merge->changed, nullptr);
  merge->group = thread_group_new(threads, encode_thread, nullptr, nullptr, merge);
  thread_group_start(merge->group);
  return merge;
}

void merge_writer_add(merge_writer_t *merge, map_context_t *context, alignment_info_t *slot, int32_t kind) {
  if (merge->filling == nullptr) merge->filling = take_window(merge);
  merge_window_t *window = merge->filling;
  map_result_choose(merge->writer, context, slot, kind, &window->records[window->count++]);
  if (window->count == merge->window_reads) submit_window(merge);
}

void merge_writer_retire(merge_writer_t *merge, read_batch_t *batch) {
  if (batch == nullptr) return;
  if (merge->filling == nullptr) merge->filling = take_window(merge);
  merge_window_t *window = merge->filling;
  if (window->retired_count == window->retired_capacity) {
    window->retired_capacity = window->retired_capacity == 0 ? 8 : 2 * window->retired_capacity;
    window->retired = static_cast<read_batch_t **>(
        ryx_realloc(window->retired, sizeof(read_batch_t *) * static_cast<size_t>(window->retired_capacity)));
  }
  window->retired[window->retired_count++] = batch;
}

merge_writer_t *merge_writer_finish(merge_writer_t *merge) {
  if (merge->filling != nullptr) submit_window(merge);
  pthread_mutex_lock(&merge->mutex);
  merge->closing = true;
  pthread_cond_broadcast(&merge->changed);
  pthread_mutex_unlock(&merge->mutex);
  thread_group_join(merge->group);
  merge->group = thread_group_free(merge->group);
  while (merge_window_t *window = merge->spare) {
    merge->spare = window->next;
    ryx_free(window->records);
    ryx_free(window->retired);
    ryx_free(window);
  }
  pthread_cond_destroy(&merge->changed);
  pthread_mutex_destroy(&merge->mutex);
  ryx_free(merge);
  return nullptr;
}
