// The record writing of a threaded merge: the records of a length group are
// chosen on the merging thread in read order and encoded on worker threads
// in windows of consecutive reads, each window into a memory buffer; the
// buffers reach the output in window order, so the bytes are those of
// map_result_write_read called read by read.
//
// Calling order: merge_writer_new; then, on the merging thread, for every
// read in read order merge_writer_add, and merge_writer_retire for every
// batch as soon as no later read points into it; finally merge_writer_finish.
//
// Ownership: the writer context and its output stay the caller's, and no
// one else writes to the output until merge_writer_finish returns. A retired
// batch belongs to the merge writer, which frees it once the records of
// every read added before it are written. Failures: out of memory ends the
// process (common/memory.h).
#pragma once

#include <cstdint>

struct alignment_info_t;
struct map_context_t;
struct map_writer_context_t;
struct merge_writer_t;
struct read_batch_t;

// Reads per window of the threaded merge.
constexpr int32_t kMergeWindowReads = 4096;

// A merge writer with threads encoding threads (at least 1) and windows of
// window_reads reads (at least 1).
merge_writer_t *merge_writer_new(map_writer_context_t *writer, int32_t threads, int32_t window_reads);
// Chooses the record of one read now (map_result_choose: progress and
// random draws happen here, in call order) and queues its encoding.
void merge_writer_add(merge_writer_t *merge, map_context_t *context, alignment_info_t *slot, int32_t kind);
// Hands over a batch (null allowed) that no read added later points into.
void merge_writer_retire(merge_writer_t *merge, read_batch_t *batch);
// Writes every record still queued, frees every retired batch, stops the
// threads and frees the merge writer; returns null.
merge_writer_t *merge_writer_finish(merge_writer_t *merge);
