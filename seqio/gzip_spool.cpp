#include "seqio/gzip_spool.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/temp_file.h"
#include "common/thread_group.h"

namespace {

// Decompressed buffers (of the stream's buffer size) in flight between the
// decompressing thread and the writer.
constexpr int32_t kSpoolBuffers = 16;

[[noreturn]] void write_failed() {
  fputs("Problem writing temporary file\n", stderr);
  ryx_exit(1);
}

void write_all(int fd, const uint8_t *bytes, size_t n) {
  while (n > 0) {
    const ssize_t wrote = write(fd, bytes, n);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) write_failed();
    bytes += wrote;
    n -= static_cast<size_t>(wrote);
  }
}

struct spool_t {
  int fd;
  int64_t part_bytes;
  pthread_mutex_t mutex;  // guards everything below
  pthread_cond_t changed;
  // Filled buffers in file order, waiting for the writer.
  uint8_t *filled[kSpoolBuffers];
  int32_t filled_sizes[kSpoolBuffers];
  int32_t head, count;
  // Buffers free for the decompressing thread, and how many exist.
  uint8_t *free_buffers[kSpoolBuffers];
  int32_t free_count, allocated;
  bool inflated;      // the last filled buffer is queued
  int64_t written;    // bytes in the file
  bool write_done;    // written is the file's size
  // Scanning: the next part to claim and the parts, by index.
  int32_t next_part;
  fastq_scan_part_t **parts;
  int32_t part_capacity;
  int32_t part_count;  // one past the highest part index claimed (all scanned after the join)
};

uint8_t *take_free_buffer(spool_t *spool) {
  pthread_mutex_lock(&spool->mutex);
  while (spool->free_count == 0 && spool->allocated == kSpoolBuffers) pthread_cond_wait(&spool->changed, &spool->mutex);
  uint8_t *buffer = nullptr;
  if (spool->free_count > 0) {
    buffer = spool->free_buffers[--spool->free_count];
  } else {
    spool->allocated++;
  }
  pthread_mutex_unlock(&spool->mutex);
  return buffer != nullptr ? buffer : static_cast<uint8_t *>(ryx_malloc(kInputStreamBufferSize));
}

void *writer_thread(void *args) {
  auto *spool = static_cast<spool_t *>(static_cast<thread_args_t *>(args)->context);
  pthread_mutex_lock(&spool->mutex);
  for (;;) {
    while (spool->count == 0 && !spool->inflated) pthread_cond_wait(&spool->changed, &spool->mutex);
    if (spool->count == 0) break;
    uint8_t *buffer = spool->filled[spool->head];
    const int32_t size = spool->filled_sizes[spool->head];
    spool->head = (spool->head + 1) % kSpoolBuffers;
    spool->count--;
    pthread_mutex_unlock(&spool->mutex);
    write_all(spool->fd, buffer, static_cast<size_t>(size));
    pthread_mutex_lock(&spool->mutex);
    spool->written += size;
    spool->free_buffers[spool->free_count++] = buffer;
    pthread_cond_broadcast(&spool->changed);
  }
  spool->write_done = true;
  pthread_cond_broadcast(&spool->changed);
  pthread_mutex_unlock(&spool->mutex);
  return nullptr;
}

// Claims parts in order and scans each once its bytes, and the bytes it
// may read past its share, are in the file.
void *scan_thread(void *args) {
  auto *spool = static_cast<spool_t *>(static_cast<thread_args_t *>(args)->context);
  const int64_t part_bytes = spool->part_bytes;
  pthread_mutex_lock(&spool->mutex);
  for (;;) {
    const int32_t k = spool->next_part++;
    const int64_t share_start = part_bytes * k;
    while (!spool->write_done && spool->written < share_start + part_bytes + kFastqScanReach) {
      pthread_cond_wait(&spool->changed, &spool->mutex);
    }
    if (spool->write_done && share_start >= spool->written) break;
    const int64_t size = spool->write_done ? spool->written : INT64_MAX;
    const int64_t share_end = std::min(share_start + part_bytes, size);
    if (k >= spool->part_capacity) {
      const int32_t grown = std::max(2 * spool->part_capacity, k + 1);
      spool->parts = static_cast<fastq_scan_part_t **>(
          ryx_realloc(spool->parts, sizeof(fastq_scan_part_t *) * static_cast<size_t>(grown)));
      std::fill(spool->parts + spool->part_capacity, spool->parts + grown, nullptr);
      spool->part_capacity = grown;
    }
    auto *part = static_cast<fastq_scan_part_t *>(ryx_calloc(sizeof(fastq_scan_part_t)));
    fastq_scan_part_init(part, share_start, share_end);
    spool->parts[k] = part;
    spool->part_count = std::max(spool->part_count, k + 1);
    pthread_mutex_unlock(&spool->mutex);
    fastq_scan_part(spool->fd, share_start, k == 0, size, part);
    pthread_mutex_lock(&spool->mutex);
  }
  pthread_mutex_unlock(&spool->mutex);
  return nullptr;
}

// The sequential spool: decompress and write on the calling thread.
void spool_serial(input_stream_t *gz_stream, int fd) {
  for (int32_t count; (count = input_stream_fill(gz_stream)) > 0;) {
    write_all(fd, gz_stream->buffer, static_cast<size_t>(count));
  }
}

void spool_threaded(input_stream_t *gz_stream, int fd, int32_t threads, int64_t part_bytes, gzip_spool_scan_t *scan) {
  spool_t spool{};
  spool.fd = fd;
  spool.part_bytes = part_bytes;
  pthread_mutex_init(&spool.mutex, nullptr);
  pthread_cond_init(&spool.changed, nullptr);
  // This thread decompresses and one writes; the others scan, once the
  // file is seen to be FASTQ: the opening pass of any other format has no
  // use for the parts.
  thread_group_t *writer = thread_group_new(1, writer_thread, nullptr, nullptr, &spool);
  thread_group_t *scanners = nullptr;
  bool decided = false;
  thread_group_start(writer);

  // The stream fills whatever buffer it holds: each fill goes into a free
  // buffer that is then queued for the writer as it is.
  uint8_t *own = gz_stream->buffer;
  for (;;) {
    uint8_t *buffer = take_free_buffer(&spool);
    gz_stream->buffer = buffer;
    const int32_t count = input_stream_fill(gz_stream);
    // A FASTQ file's first letter past white space is '@'.
    for (int32_t i = 0; !decided && i < count; i++) {
      if (isspace(buffer[i])) continue;
      decided = true;
      if (buffer[i] != '@') break;
      scanners = thread_group_new(std::max(1, threads - 2), scan_thread, nullptr, nullptr, &spool);
      thread_group_start(scanners);
    }
    pthread_mutex_lock(&spool.mutex);
    if (count <= 0) {
      spool.free_buffers[spool.free_count++] = buffer;
      spool.inflated = true;
    } else {
      // The queue always has room: this thread holds one of the at most
      // kSpoolBuffers buffers.
      const int32_t at = (spool.head + spool.count) % kSpoolBuffers;
      spool.filled[at] = buffer;
      spool.filled_sizes[at] = count;
      spool.count++;
    }
    pthread_cond_broadcast(&spool.changed);
    pthread_mutex_unlock(&spool.mutex);
    if (count <= 0) break;
  }
  gz_stream->buffer = own;

  thread_group_join(writer);
  thread_group_free(writer);
  if (scanners != nullptr) {
    thread_group_join(scanners);
    thread_group_free(scanners);
  }
  for (int32_t i = 0; i < spool.free_count; i++) ryx_free(spool.free_buffers[i]);
  pthread_cond_destroy(&spool.changed);
  pthread_mutex_destroy(&spool.mutex);
  scan->parts = spool.parts;
  scan->count = spool.part_count;
}

}  // namespace

input_stream_t *gzip_spool(input_stream_t *gz_stream, int32_t threads, int64_t part_bytes, gzip_spool_scan_t *scan) {
  scan->parts = nullptr;
  scan->count = 0;
  FILE *file = temp_file_create_anonymous();
  const int fd = fileno(file);
  if (threads >= 2 && part_bytes > 0) {
    spool_threaded(gz_stream, fd, threads, part_bytes, scan);
  } else {
    spool_serial(gz_stream, fd);
  }
  // Written with the descriptor: the file's stdio buffer is still empty, and
  // rewinding moves the descriptor back to the start.
  rewind(file);
  const char *path = gz_stream->path;
  input_stream_close(gz_stream);
  input_stream_t *stream = input_stream_new_file(file);
  stream->path = path;
  return stream;
}

void gzip_spool_scan_free(gzip_spool_scan_t *scan) {
  for (int32_t k = 0; k < scan->count; k++) {
    if (scan->parts[k] == nullptr) continue;
    fastq_scan_part_clear(scan->parts[k]);
    ryx_free(scan->parts[k]);
  }
  ryx_free(scan->parts);
  scan->parts = nullptr;
  scan->count = 0;
}
