#include "seqio/seq_stream.h"

#include <cstdio>
#include <cstring>

#include "common/cpus.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/thread_group.h"
#include "common/thread_queue.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/fastq_reader.h"
#include "seqio/seq_alphabet.h"
#include "seqio/seq_chunk.h"
#include "seqio/seq_record.h"

namespace {

// zlib's read-ahead: a few system calls per block instead of dozens, and
// small enough (half a block at most) that zlib reads and inflates a block
// straight into the chunk instead of through its own buffer.
constexpr unsigned kGzReadAhead = 64 * 1024;
// Queue capacity per worker.
constexpr int32_t kQueueChunksPerCpu = 4;

// Shared by every thread of one file's pipeline; the arbiter comes first by
// the pipelines' convention.
struct pipeline_t {
  thread_arbiter_t *arbiter;
  seq_stream_t *stream;
  seq_single_fn single;
  seq_single_raw_fn single_raw;
  seq_pair_fn pair;
  seq_pair_raw_fn pair_raw;
  void *user;
};

// The consumer of an interleaved run sees both files.
struct interleaved_t {
  thread_arbiter_t *arbiter;
  pipeline_t *sides[2];
};

pipeline_t *pipeline_of(void *args) { return static_cast<pipeline_t *>(static_cast<thread_args_t *>(args)->context); }

seq_record_t *quality_of(const seq_chunk_t *chunk, int32_t k) {
  return chunk->quality_records != nullptr ? chunk->quality_records[k] : nullptr;
}

void *reader_main(void *p) {
  auto *args = static_cast<thread_args_t *>(p);
  pipeline_t *pipeline = pipeline_of(p);
  for (;;) {
    bool last = false;
    seq_chunk_t *block = seq_chunk_read_block(pipeline->stream, &last);
    if (block == nullptr) break;
    thread_queue_put(pipeline->arbiter, args->output, block, 0);
    if (last) break;
  }
  thread_queue_producer_done(pipeline->arbiter, args->output, 0);
  return nullptr;
}

void *splitter_main(void *p) {
  auto *args = static_cast<thread_args_t *>(p);
  pipeline_t *pipeline = pipeline_of(p);
  seq_splitter_t splitter;
  seq_splitter_init(&splitter, pipeline->stream);
  while (auto *block = static_cast<seq_chunk_t *>(thread_queue_get(pipeline->arbiter, args->input, 0))) {
    seq_chunk_t *out[2];
    const int n = seq_splitter_push(&splitter, block, out);
    for (int i = 0; i < n; i++) thread_queue_put(pipeline->arbiter, args->output, out[i], seq_chunk_kib(out[i]));
  }
  if (seq_chunk_t *last = seq_splitter_finish(&splitter))
    thread_queue_put(pipeline->arbiter, args->output, last, seq_chunk_kib(last));
  seq_splitter_done(&splitter);
  thread_queue_producer_done(pipeline->arbiter, args->output, 0);
  return nullptr;
}

void *parser_main(void *p) {
  auto *args = static_cast<thread_args_t *>(p);
  pipeline_t *pipeline = pipeline_of(p);
  while (auto *chunk = static_cast<seq_chunk_t *>(thread_queue_get(pipeline->arbiter, args->input, 0))) {
    seq_chunk_parse(pipeline->stream, chunk);
    thread_queue_put(pipeline->arbiter, args->output, chunk, 0);
  }
  thread_queue_producer_done(pipeline->arbiter, args->output, 0);
  return nullptr;
}

// Restores input order: chunks wait in a table addressed by index modulo its
// size until every earlier chunk has been passed on.
void *orderer_main(void *p) {
  auto *args = static_cast<thread_args_t *>(p);
  pipeline_t *pipeline = pipeline_of(p);
  int32_t size = 1;
  auto **table = static_cast<seq_chunk_t **>(ryx_calloc(sizeof(seq_chunk_t *)));
  int32_t next = 0;
  while (auto *chunk = static_cast<seq_chunk_t *>(thread_queue_get(pipeline->arbiter, args->input, 0))) {
    while (table[chunk->index % size] != nullptr) {
      const int32_t grown = size * 2;
      auto **bigger = static_cast<seq_chunk_t **>(ryx_calloc(sizeof(seq_chunk_t *) * static_cast<size_t>(grown)));
      for (int32_t i = 0; i < size; i++)
        if (table[i] != nullptr) bigger[table[i]->index % grown] = table[i];
      ryx_free(table);
      table = bigger;
      size = grown;
    }
    table[chunk->index % size] = chunk;
    while (table[next % size] != nullptr && table[next % size]->index == next) {
      seq_chunk_t *ready = table[next % size];
      table[next % size] = nullptr;
      next++;
      thread_queue_put(pipeline->arbiter, args->output, ready, 0);
    }
  }
  ryx_free(table);
  thread_queue_producer_done(pipeline->arbiter, args->output, 0);
  return nullptr;
}

void *single_consumer_main(void *p) {
  auto *args = static_cast<thread_args_t *>(p);
  pipeline_t *pipeline = pipeline_of(p);
  seq_stream_t *stream = pipeline->stream;
  int32_t release = 0;
  while (auto *chunk = static_cast<seq_chunk_t *>(thread_queue_get(pipeline->arbiter, args->input, -release))) {
    const int32_t n = seq_chunk_record_count(chunk);
    for (int32_t k = 0; k < n; k++) {
      if (pipeline->single_raw != nullptr)
        pipeline->single_raw(&chunk->records[k], quality_of(chunk, k), pipeline->user);
      else
        pipeline->single(&chunk->records[k], pipeline->user);
    }
    stream->delivered += n;
    release = seq_chunk_kib(chunk);
    seq_chunk_recycle(stream, chunk);
  }
  return nullptr;
}

[[noreturn]] void odd_count() {
  fprintf(stderr, "Error: odd number of sequences in paired file\n");
  ryx_exit(1);
}

[[noreturn]] void unequal_counts() {
  fprintf(stderr, "Interleaved databases should have the same number of sequences\n");
  ryx_exit(1);
}

void call_pair(const pipeline_t *pipeline, seq_record_t *r1, seq_record_t *q1, seq_record_t *r2, seq_record_t *q2) {
  if (pipeline->pair_raw != nullptr) pipeline->pair_raw(r1, q1, r2, q2, pipeline->user);
  else pipeline->pair(r1, r2, pipeline->user);
}

// Consecutive records form pairs, across chunk borders: a chunk whose last
// record waits for its mate stays alive until the mate has arrived.
void *pair_consumer_main(void *p) {
  auto *args = static_cast<thread_args_t *>(p);
  pipeline_t *pipeline = pipeline_of(p);
  seq_stream_t *stream = pipeline->stream;
  seq_record_t *waiting = nullptr;
  seq_record_t *waiting_quality = nullptr;
  seq_chunk_t *waiting_chunk = nullptr;
  int32_t release = 0;
  while (auto *chunk = static_cast<seq_chunk_t *>(thread_queue_get(pipeline->arbiter, args->input, -release))) {
    release = 0;
    const int32_t n = seq_chunk_record_count(chunk);
    for (int32_t k = 0; k < n; k++) {
      seq_record_t *record = &chunk->records[k];
      if (waiting == nullptr) {
        waiting = record;
        waiting_quality = quality_of(chunk, k);
        waiting_chunk = chunk;
        continue;
      }
      call_pair(pipeline, waiting, waiting_quality, record, quality_of(chunk, k));
      waiting = nullptr;
      if (waiting_chunk != chunk) {
        release += seq_chunk_kib(waiting_chunk);
        seq_chunk_recycle(stream, waiting_chunk);
      }
      waiting_chunk = nullptr;
    }
    stream->delivered += n;
    if (waiting_chunk != chunk) {
      release += seq_chunk_kib(chunk);
      seq_chunk_recycle(stream, chunk);
    }
  }
  if (waiting != nullptr) odd_count();
  return nullptr;
}

// Record i of file 1 with record i of file 2.
void *interleaved_consumer_main(void *p) {
  auto *args = static_cast<thread_args_t *>(p);
  auto *both = static_cast<interleaved_t *>(args->context);
  thread_arbiter_t *arbiter = both->arbiter;
  const pipeline_t *first = both->sides[0];
  thread_queue_t *input1 = args->inputs[0];
  thread_queue_t *input2 = args->inputs[1];
  seq_chunk_t *second = nullptr;
  int32_t next2 = 0;
  int32_t release1 = 0;
  int32_t release2 = 0;
  while (auto *chunk = static_cast<seq_chunk_t *>(thread_queue_get(arbiter, input1, -release1))) {
    const int32_t n = seq_chunk_record_count(chunk);
    for (int32_t k = 0; k < n; k++) {
      while (second == nullptr || next2 >= seq_chunk_record_count(second)) {
        if (second != nullptr) {
          release2 += seq_chunk_kib(second);
          seq_chunk_recycle(both->sides[1]->stream, second);
        }
        second = static_cast<seq_chunk_t *>(thread_queue_get(arbiter, input2, -release2));
        release2 = 0;
        next2 = 0;
        if (second == nullptr) unequal_counts();
      }
      call_pair(first, &chunk->records[k], quality_of(chunk, k), &second->records[next2],
                quality_of(second, next2));
      next2++;
    }
    first->stream->delivered += n;
    release1 = seq_chunk_kib(chunk);
    seq_chunk_recycle(first->stream, chunk);
  }
  // File 1 has ended: file 2 must have nothing left either.
  if (second != nullptr && next2 < seq_chunk_record_count(second)) unequal_counts();
  for (;;) {
    if (second != nullptr) {
      release2 += seq_chunk_kib(second);
      seq_chunk_recycle(both->sides[1]->stream, second);
    }
    second = static_cast<seq_chunk_t *>(thread_queue_get(arbiter, input2, -release2));
    release2 = 0;
    if (second == nullptr) break;
    if (seq_chunk_record_count(second) > 0) unequal_counts();
  }
  return nullptr;
}

// The four queues and the producing groups of one file.
struct file_stages_t {
  thread_queue_t *queues[4];
  thread_group_t *groups[4];  // reader, splitter, parsers, orderer
};

void file_stages_new(file_stages_t *stages, int32_t cpus, void *context) {
  for (thread_queue_t *&queue : stages->queues) queue = thread_queue_new(kQueueChunksPerCpu * cpus);
  stages->groups[0] = thread_group_new(1, reader_main, nullptr, stages->queues[0], context);
  stages->groups[1] = thread_group_new(1, splitter_main, stages->queues[0], stages->queues[1], context);
  stages->groups[2] = thread_group_new(cpus, parser_main, stages->queues[1], stages->queues[2], context);
  stages->groups[3] = thread_group_new(1, orderer_main, stages->queues[2], stages->queues[3], context);
}

void file_stages_free(file_stages_t *stages) {
  for (thread_group_t *&group : stages->groups) group = thread_group_free(group);
  for (thread_queue_t *&queue : stages->queues) queue = thread_queue_free(queue);
}

// Resets, registers and starts every group (sources first), then joins them
// (last stage first).
void run_groups(thread_queue_t **queues, int32_t queue_count, thread_group_t **groups, int32_t group_count,
                thread_arbiter_t *arbiter) {
  for (int32_t i = 0; i < queue_count; i++) thread_queue_reset(queues[i]);
  for (int32_t i = 0; i < group_count; i++) thread_group_register(groups[i]);
  thread_arbiter_count_threads(arbiter);
  for (int32_t i = 0; i < group_count; i++) thread_group_start(groups[i]);
  for (int32_t i = group_count - 1; i >= 0; i--) thread_group_join(groups[i]);
}

}  // namespace

seq_stream_t *seq_stream_open(const char *path, uint32_t residue_type, uint32_t mask, int want_qualities,
                              int report) {
  gzFile gz = gzopen(path, "rb");
  if (gz == nullptr) {
    fprintf(stderr, "Problem opening sequence file %s\n", path);
    ryx_exit(1);
  }
  gzbuffer(gz, kGzReadAhead);
  int32_t count = 0;
  const seq_format_t *table = seq_format_table(&count);
  const seq_format_t *format = nullptr;
  bool fresh = true;
  for (int32_t i = 0; i < count && format == nullptr; i++) {
    const seq_format_t *candidate = &table[i];
    if (candidate->chunk_ops == nullptr || candidate->detect_gz == nullptr || (candidate->bit & mask) == 0) continue;
    if (!fresh) gzrewind(gz);
    fresh = false;
    if (candidate->detect_gz(gz, path)) format = candidate;
  }
  if (format == nullptr) {
    if (gzclose(gz) != Z_OK) {
      fprintf(stderr, "Problem closing sequence file\n");
      ryx_exit(1);
    }
    return nullptr;
  }
  auto *stream = static_cast<seq_stream_t *>(ryx_calloc(sizeof(seq_stream_t)));
  const size_t path_size = strlen(path) + 1;
  stream->path = static_cast<char *>(ryx_malloc(path_size));
  memcpy(stream->path, path, path_size);
  stream->gz = gz;
  stream->format = format;
  stream->ops = format->chunk_ops;
  stream->alphabet = format->alphabet(residue_type);
  stream->want_qualities = want_qualities != 0;
  stream->report = report != 0;
  if (format->bit == kSeqFormatFastq && stream->want_qualities)
    seq_quality_detect_offset(path, kFastqFormatOps.read_qualities);
  FILE *file = fopen(path, "rb");
  if (file == nullptr || !large_file_seek(file, 0, SEEK_END)) {
    fprintf(stderr, "Problem opening sequence file %s\n", path);
    ryx_exit(1);
  }
  stream->size = large_file_tell(file);
  stream->pool = seq_block_pool_new();
  fclose(file);
  gzrewind(gz);
  if (stream->ops->open_state != nullptr) stream->format_state = stream->ops->open_state(gz, stream->path);
  return stream;
}

seq_stream_t *seq_stream_close(seq_stream_t *stream) {
  if (stream == nullptr) return nullptr;
  const seq_chunk_ops_t *ops = stream->ops;
  if (ops->open_state != nullptr && stream->format_state != nullptr) {
    if (stream->report && ops->report != nullptr) ops->report(stream->delivered, stream->format_state, stream->path);
    if (ops->free_state != nullptr) ops->free_state(stream->format_state);
  }
  seq_alphabet_free(stream->alphabet);
  seq_block_pool_free(stream->pool);
  const int closed = gzclose(stream->gz);
  ryx_free(stream->path);
  ryx_free(stream);
  if (closed != Z_OK) {
    fprintf(stderr, "Problem closing sequence file\n");
    ryx_exit(1);
  }
  return nullptr;
}

void seq_stream_run(seq_stream_t *stream, seq_single_fn single, seq_single_raw_fn single_raw, seq_pair_fn pair,
                    seq_pair_raw_fn pair_raw, void *user) {
  const int32_t cpus = get_number_of_cpus();
  pipeline_t pipeline = {nullptr, stream, single, single_raw, pair, pair_raw, user};
  file_stages_t stages;
  file_stages_new(&stages, cpus, &pipeline);
  pipeline.arbiter = thread_arbiter_new(stages.queues, 4, cpus, kSeqStreamBudgetKib);
  const bool singles = single != nullptr || single_raw != nullptr;
  thread_group_t *groups[5] = {stages.groups[0], stages.groups[1], stages.groups[2], stages.groups[3],
                               thread_group_new(1, singles ? single_consumer_main : pair_consumer_main,
                                                stages.queues[3], nullptr, &pipeline)};
  run_groups(stages.queues, 4, groups, 5, pipeline.arbiter);
  thread_group_free(groups[4]);
  file_stages_free(&stages);
  thread_arbiter_free(pipeline.arbiter);
}

void seq_stream_run_interleaved(seq_stream_t *stream1, seq_stream_t *stream2, seq_pair_fn pair,
                                seq_pair_raw_fn pair_raw, void *user) {
  const int32_t cpus = get_number_of_cpus();
  pipeline_t pipelines[2] = {{nullptr, stream1, nullptr, nullptr, pair, pair_raw, user},
                             {nullptr, stream2, nullptr, nullptr, pair, pair_raw, user}};
  file_stages_t stages[2];
  for (int side = 0; side < 2; side++) file_stages_new(&stages[side], cpus, &pipelines[side]);
  thread_queue_t *queues[8];
  for (int side = 0; side < 2; side++)
    for (int q = 0; q < 4; q++) queues[side * 4 + q] = stages[side].queues[q];
  thread_arbiter_t *arbiter = thread_arbiter_new(queues, 8, cpus, kSeqStreamBudgetKib);
  pipelines[0].arbiter = arbiter;
  pipelines[1].arbiter = arbiter;
  interleaved_t both = {arbiter, {&pipelines[0], &pipelines[1]}};
  thread_queue_t *ordered[2] = {stages[0].queues[3], stages[1].queues[3]};
  thread_group_t *groups[9];
  for (int side = 0; side < 2; side++)
    for (int g = 0; g < 4; g++) groups[side * 4 + g] = stages[side].groups[g];
  groups[8] = thread_group_new_multi(1, interleaved_consumer_main, 2, ordered, nullptr, &both);
  run_groups(queues, 8, groups, 9, arbiter);
  thread_group_free(groups[8]);
  for (file_stages_t &s : stages) file_stages_free(&s);
  thread_arbiter_free(arbiter);
  stream2->delivered = stream1->delivered;
}
