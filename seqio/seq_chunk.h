// Chunks of whole records and the block logic that the streaming pipeline
// and the pull reader share: reading a block, splitting blocks into chunks
// at record starts, and parsing a chunk's records in place.
#pragma once

#include <cstdint>

#include "common/array_list.h"
#include "seqio/seq_stream.h"

struct seq_record_t;

// A block, and later a chunk of whole records, on its way through the
// pipeline. Exactly one stage owns it at a time.
struct seq_chunk_t {
  int32_t index;                   // position in input order, set by the splitter
  uint8_t *data;
  int32_t length;
  int32_t capacity;
  int32_t *boundaries;             // record k is [boundaries[k], boundaries[k + 1])
  int32_t boundary_count;          // records + 1 once cut, 0 before
  seq_record_t *records;           // boundary_count - 1 parsed records
  seq_record_t **quality_records;  // one per record (null where none); null when not wanted
  seq_record_t *quality_store;     // storage the quality pointers point into
  int64_t file_position;           // compressed-file offset before the block was read
  int64_t bytes_consumed;          // compressed bytes the read used
};

// Records of a cut chunk.
inline int32_t seq_chunk_record_count(const seq_chunk_t *chunk) {
  return chunk->boundary_count > 0 ? chunk->boundary_count - 1 : 0;
}

// A chunk with an empty buffer of kSeqBlockSize bytes.
seq_chunk_t *seq_chunk_new();
// Frees the chunk, its buffers and its record structures (null allowed);
// returns null.
seq_chunk_t *seq_chunk_free(seq_chunk_t *chunk);
// Size of a chunk for the in-flight budget, in KiB (rounded down).
inline int32_t seq_chunk_kib(const seq_chunk_t *chunk) { return chunk->length / 1024; }

// Block buffers that finished chunks leave behind for the reader, so that
// the reader fills memory that is already mapped and warm instead of fresh
// pages. Shared by the reader and the consumer, under its own mutex.
seq_block_pool_t *seq_block_pool_new();
seq_block_pool_t *seq_block_pool_free(seq_block_pool_t *pool);
// Frees the chunk like seq_chunk_free, keeping its buffer in the stream's
// pool when it is a block buffer and the pool has room.
seq_chunk_t *seq_chunk_recycle(seq_stream_t *stream, seq_chunk_t *chunk);

// Reads the next block of the stream: a new chunk, or null when nothing is
// left. A read shorter than a block sets *last (nothing more to read). A
// read error, including a gzip file that ends inside a member, prints
// "Problem reading sequence file %s\n" and ends the process with status 1.
seq_chunk_t *seq_chunk_read_block(seq_stream_t *stream, bool *last);

// The splitter: carries the split state and the chunk still waiting for the
// end of its last record.
struct seq_splitter_t {
  seq_stream_t *stream;
  void *split_state;
  seq_chunk_t *held;
  int32_t next_index;
  array_list_t *starts;
};

// Starts splitting the stream's blocks: a new split state, no held chunk.
void seq_splitter_init(seq_splitter_t *splitter, seq_stream_t *stream);
// Frees the split state, the start list and a held chunk.
void seq_splitter_done(seq_splitter_t *splitter);
// Takes a block and stores in out the chunks it completes, in order; returns
// their number (0 to 2). A first block without a record start prints
// "Sequence format error\n", a record growing beyond kSeqChunkMaxLength bytes
// "Sequence is too long (longer than 2Gbp).\n"; both end with status 1.
int seq_splitter_push(seq_splitter_t *splitter, seq_chunk_t *block, seq_chunk_t *out[2]);
// At the end of the input: the held chunk, completed, or null.
seq_chunk_t *seq_splitter_finish(seq_splitter_t *splitter);

// Parses every record of a cut chunk in place and maps its residues through
// the stream's alphabet; quality records are made when the stream wants
// them.
void seq_chunk_parse(seq_stream_t *stream, seq_chunk_t *chunk);
