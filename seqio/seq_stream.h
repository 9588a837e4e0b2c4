// The threaded streaming sequence parser.
//
// A file opened for streaming runs once through a five-stage pipeline on the
// queues and arbiter of common/thread_queue.h, with c = get_number_of_cpus():
//
//   reader (1) -> splitter (1) -> parsers (c) -> orderer (1) -> consumer (1)
//
// The reader reads blocks of kSeqBlockSize bytes, one gzip read each. The
// splitter finds the record starts with the format's find_starts and cuts the
// stream into chunks of whole records: a record that crosses a block border
// is copied into a small one-record chunk (or, when it is longer than a
// block, the following blocks are appended to the chunk that holds it). The
// parsers parse the records of a chunk in place, in any order; the orderer
// restores input order; the consumer calls the callback for every record (or
// pair) on its one thread, strictly in input order. Each queue holds at most
// 4 c chunks, the arbiter lets c threads run, and the bytes between splitter
// and consumer are bounded by a budget of 102400 KiB.
//
// Streamed records, their names and residues live in the chunk's buffer:
// they are valid only during the callback (copy what is needed later), and
// their free callback does nothing.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "seqio/seq_format.h"

struct seq_alphabet_t;
struct seq_block_pool_t;
struct seq_record_t;

// Callbacks; the quality records are null where the format has none.
typedef void (*seq_single_fn)(seq_record_t *record, void *user);
typedef void (*seq_single_raw_fn)(seq_record_t *record, seq_record_t *quality, void *user);
typedef void (*seq_pair_fn)(seq_record_t *record1, seq_record_t *record2, void *user);
typedef void (*seq_pair_raw_fn)(seq_record_t *record1, seq_record_t *quality1, seq_record_t *record2,
                                seq_record_t *quality2, void *user);

// Budget of bytes in flight between splitter and consumer, in KiB.
constexpr int64_t kSeqStreamBudgetKib = 102400;
// A chunk grows no longer than this (one record of about 2 Gbp).
constexpr int64_t kSeqChunkMaxLength = 2100000000;

// One file opened for streaming.
struct seq_stream_t {
  seq_alphabet_t *alphabet;      // owned; none for the FASTA quality file
  const seq_format_t *format;
  const seq_chunk_ops_t *ops;    // the format's chunk operations
  void *format_state;            // from the format's open_state, or null
  gzFile gz;                     // owned handle
  char *path;                    // owned copy of the path
  int64_t delivered;             // sequences handed to the callbacks
  bool want_qualities;
  bool report;                   // run the format's report when closing
  int64_t size;                  // the file's size in bytes
  bool last_read_full;           // the previous block read filled its request
  seq_block_pool_t *pool;        // block buffers of finished chunks, for reuse
};

// Opens path for streaming: detects the format among the streaming formats
// in mask (SOLiD, FASTA quality file, FASTA, colour-space FASTQ, FASTQ,
// GenBank, SFF, Scarf, in that order), installs its alphabet for the residue
// type and, for FASTQ with qualities wanted, chooses the quality offset
// (seq_quality_detect_offset). Returns null when no streaming format in the
// mask fits. A path that cannot be opened or measured prints "Problem opening
// sequence file %s\n", a read error "Problem reading sequence file %s\n";
// both end the process with status 1.
seq_stream_t *seq_stream_open(const char *path, uint32_t residue_type, uint32_t mask, int want_qualities,
                              int report);
// Runs the report (when asked for at opening) and frees the format state,
// then closes the handle ("Problem closing sequence file\n", status 1, when
// that fails) and frees the stream. Null allowed; returns null.
seq_stream_t *seq_stream_close(seq_stream_t *stream);
// Streams the whole file through the pipeline, calling the one callback that
// is not null. With a pair callback consecutive records form pairs; an odd
// count ends the process with "Error: odd number of sequences in paired
// file\n" and status 1 after the complete pairs were delivered.
void seq_stream_run(seq_stream_t *stream, seq_single_fn single, seq_single_raw_fn single_raw, seq_pair_fn pair,
                    seq_pair_raw_fn pair_raw, void *user);
// Streams two files side by side and calls the pair callback with record i
// of each. Files of unequal record counts end the process with
// "Interleaved databases should have the same number of sequences\n" and
// status 1. Afterwards the second stream's delivered count is the first's.
void seq_stream_run_interleaved(seq_stream_t *stream1, seq_stream_t *stream2, seq_pair_fn pair,
                                seq_pair_raw_fn pair_raw, void *user);
