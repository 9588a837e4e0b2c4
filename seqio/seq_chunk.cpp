#include "seqio/seq_chunk.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>

#include "common/input_stream.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_alphabet.h"
#include "seqio/seq_record.h"

namespace {

[[noreturn]] void read_error(const seq_stream_t *stream) {
  fprintf(stderr, "Problem reading sequence file %s\n", stream->path);
  ryx_exit(1);
}

[[noreturn]] void too_long() {
  fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
  ryx_exit(1);
}

// Appends n bytes to the chunk, growing it to exactly the new length or by
// doubling.
void chunk_append(seq_chunk_t *chunk, const uint8_t *bytes, int32_t n, bool exact) {
  const int64_t need = static_cast<int64_t>(chunk->length) + n;
  if (need > kSeqChunkMaxLength) too_long();
  if (need > chunk->capacity) {
    int64_t capacity = exact ? need : static_cast<int64_t>(chunk->capacity) * 2;
    if (capacity < need) capacity = need;
    if (capacity > kSeqChunkMaxLength) capacity = kSeqChunkMaxLength;
    chunk->data = static_cast<uint8_t *>(ryx_realloc(chunk->data, static_cast<size_t>(capacity)));
    chunk->capacity = static_cast<int32_t>(capacity);
  }
  memcpy(chunk->data + chunk->length, bytes, static_cast<size_t>(n));
  chunk->length = static_cast<int32_t>(need);
}

// Buffers kept at most: more than a pipeline ever has in flight at once is
// never needed, and the queues bound that.
constexpr int32_t kPoolCapacity = 64;

}  // namespace

struct seq_block_pool_t {
  pthread_mutex_t mutex;
  uint8_t *buffers[kPoolCapacity];
  int32_t count;
};

seq_block_pool_t *seq_block_pool_new() {
  auto *pool = static_cast<seq_block_pool_t *>(ryx_calloc(sizeof(seq_block_pool_t)));
  pthread_mutex_init(&pool->mutex, nullptr);
  return pool;
}

seq_block_pool_t *seq_block_pool_free(seq_block_pool_t *pool) {
  if (pool == nullptr) return nullptr;
  for (int32_t i = 0; i < pool->count; i++) ryx_free(pool->buffers[i]);
  pthread_mutex_destroy(&pool->mutex);
  ryx_free(pool);
  return nullptr;
}

seq_chunk_t *seq_chunk_recycle(seq_stream_t *stream, seq_chunk_t *chunk) {
  if (chunk == nullptr) return nullptr;
  seq_block_pool_t *pool = stream->pool;
  if (pool != nullptr && chunk->capacity == kSeqBlockSize) {
    pthread_mutex_lock(&pool->mutex);
    if (pool->count < kPoolCapacity) {
      pool->buffers[pool->count++] = chunk->data;
      chunk->data = nullptr;
    }
    pthread_mutex_unlock(&pool->mutex);
  }
  return seq_chunk_free(chunk);
}

seq_chunk_t *seq_chunk_new() {
  auto *chunk = static_cast<seq_chunk_t *>(ryx_calloc(sizeof(seq_chunk_t)));
  chunk->data = static_cast<uint8_t *>(ryx_malloc(kSeqBlockSize));
  chunk->capacity = kSeqBlockSize;
  return chunk;
}

seq_chunk_t *seq_chunk_free(seq_chunk_t *chunk) {
  if (chunk == nullptr) return nullptr;
  ryx_free(chunk->data);
  ryx_free(chunk->boundaries);
  ryx_free(chunk->records);
  ryx_free(chunk->quality_records);
  ryx_free(chunk->quality_store);
  ryx_free(chunk);
  return nullptr;
}

seq_chunk_t *seq_chunk_read_block(seq_stream_t *stream, bool *last) {
  uint8_t *buffer = nullptr;
  if (seq_block_pool_t *pool = stream->pool) {
    pthread_mutex_lock(&pool->mutex);
    if (pool->count > 0) buffer = pool->buffers[--pool->count];
    pthread_mutex_unlock(&pool->mutex);
  }
  auto *chunk = static_cast<seq_chunk_t *>(ryx_calloc(sizeof(seq_chunk_t)));
  chunk->data = buffer != nullptr ? buffer : static_cast<uint8_t *>(ryx_malloc(kSeqBlockSize));
  chunk->capacity = kSeqBlockSize;
  const int64_t before = gzoffset(stream->gz);
  const int n = gzread(stream->gz, chunk->data, kSeqBlockSize);
  if (n < kSeqBlockSize) {
    // A short read is the end only when zlib holds no error: a truncated
    // member reads short (or empty) with Z_BUF_ERROR, a corrupt one as -1 or
    // short with Z_DATA_ERROR.
    int state = Z_OK;
    gzerror(stream->gz, &state);
    if (n < 0 || state != Z_OK) read_error(stream);
    // zlib ends silently when the last bytes of a cut member exactly filled
    // the previous request; an empty read right after a full one is
    // confirmed against the file.
    if (n == 0 && stream->last_read_full && !gzdirect(stream->gz) &&
        !input_stream_gzip_file_is_complete(stream->path))
      read_error(stream);
    *last = true;
  } else {
    *last = false;
  }
  stream->last_read_full = n == kSeqBlockSize;
  chunk->file_position = before;
  chunk->bytes_consumed = gzoffset(stream->gz) - before;
  chunk->length = n;
  if (n == 0) return seq_chunk_recycle(stream, chunk);
  return chunk;
}

void seq_splitter_init(seq_splitter_t *splitter, seq_stream_t *stream) {
  splitter->stream = stream;
  splitter->split_state = stream->ops->new_split_state();
  splitter->held = nullptr;
  splitter->next_index = 0;
  splitter->starts = array_list_new(sizeof(int32_t));
}

void seq_splitter_done(seq_splitter_t *splitter) {
  if (splitter->split_state != nullptr) splitter->stream->ops->free_split_state(splitter->split_state);
  splitter->split_state = nullptr;
  splitter->starts = array_list_free(splitter->starts);
  splitter->held = seq_chunk_free(splitter->held);
}

int seq_splitter_push(seq_splitter_t *splitter, seq_chunk_t *block, seq_chunk_t *out[2]) {
  seq_stream_t *stream = splitter->stream;
  array_list_t *starts = splitter->starts;
  starts->count = 0;
  stream->ops->find_starts(block->data, block->length, starts, splitter->split_state, stream->format_state,
                           stream->path);
  const auto n = static_cast<int32_t>(starts->count);
  seq_chunk_t *held = splitter->held;
  if (n == 0) {
    // The whole block continues the held chunk's last record.
    if (held == nullptr) {
      fprintf(stderr, "Sequence format error\n");
      ryx_exit(1);
    }
    chunk_append(held, block->data, block->length, false);
    held->bytes_consumed += block->bytes_consumed;
    seq_chunk_recycle(stream, block);
    return 0;
  }
  // Room for the starts and the final boundary.
  block->boundaries = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * (static_cast<size_t>(n) + 1)));
  memcpy(block->boundaries, starts->items, sizeof(int32_t) * static_cast<size_t>(n));
  block->boundary_count = n;
  splitter->held = block;
  if (held == nullptr) return 0;  // bytes before the first start are never parsed

  // The held chunk's last record ends with the block's bytes before its
  // first start.
  const int32_t lead = block->boundaries[0];
  const int32_t k = held->boundary_count;
  const int32_t last_start = held->boundaries[k - 1];
  const int32_t tail = held->length - last_start;
  seq_chunk_t *extra = nullptr;
  if (lead == 0) {
    held->boundaries[k] = held->length;
    held->boundary_count = k + 1;
  } else if (tail <= kSeqBlockSize) {
    // The crossing record moves to a chunk of its own, so that blocks keep
    // their size.
    extra = static_cast<seq_chunk_t *>(ryx_calloc(sizeof(seq_chunk_t)));
    extra->capacity = tail + lead;
    extra->data = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(extra->capacity)));
    memcpy(extra->data, held->data + last_start, static_cast<size_t>(tail));
    memcpy(extra->data + tail, block->data, static_cast<size_t>(lead));
    extra->length = tail + lead;
    extra->boundaries = static_cast<int32_t *>(ryx_malloc(2 * sizeof(int32_t)));
    extra->boundaries[0] = 0;
    extra->boundaries[1] = extra->length;
    extra->boundary_count = 2;
    extra->file_position = held->file_position + held->bytes_consumed;
    extra->bytes_consumed = 0;
    held->length = last_start;
    held->boundary_count = k;  // the last start is now its final boundary
  } else {
    // A record longer than a block stays where it is and grows.
    chunk_append(held, block->data, lead, true);
    held->boundaries[k] = held->length;
    held->boundary_count = k + 1;
  }
  held->index = splitter->next_index++;
  out[0] = held;
  if (extra == nullptr) return 1;
  extra->index = splitter->next_index++;
  out[1] = extra;
  return 2;
}

seq_chunk_t *seq_splitter_finish(seq_splitter_t *splitter) {
  const seq_chunk_ops_t *ops = splitter->stream->ops;
  if (ops->end_of_input != nullptr)
    ops->end_of_input(splitter->split_state, splitter->stream->format_state, splitter->stream->path);
  seq_chunk_t *held = splitter->held;
  if (held == nullptr) return nullptr;
  splitter->held = nullptr;
  held->boundaries[held->boundary_count] = held->length;
  held->boundary_count++;
  held->index = splitter->next_index++;
  return held;
}

void seq_chunk_parse(seq_stream_t *stream, seq_chunk_t *chunk) {
  const int32_t n = seq_chunk_record_count(chunk);
  const size_t count = static_cast<size_t>(n);
  chunk->records = static_cast<seq_record_t *>(ryx_calloc(sizeof(seq_record_t) * count));
  if (stream->want_qualities) {
    chunk->quality_records = static_cast<seq_record_t **>(ryx_calloc(sizeof(seq_record_t *) * count));
    chunk->quality_store = static_cast<seq_record_t *>(ryx_calloc(sizeof(seq_record_t) * count));
  }
  const seq_chunk_ops_t *ops = stream->ops;
  for (int32_t k = 0; k < n; k++) {
    const int32_t from = chunk->boundaries[k];
    seq_record_t *quality = stream->want_qualities ? &chunk->quality_store[k] : nullptr;
    if (ops->parse(chunk->data + from, chunk->boundaries[k + 1] - from, stream->format_state, &chunk->records[k],
                   quality, stream->path))
      chunk->quality_records[k] = quality;
    seq_alphabet_apply(stream->alphabet, &chunk->records[k]);
  }
}
