// Mapping contexts of the hash mapper: which reads a length class maps and
// where its batches wait between passes.
//
// A length class is mapped in passes, one per reference block and seed
// level. A context covers the reads [first, end) of a length group whose
// length lies in the class window [lower, upper) (a pair: whose shorter
// present read does). Its first pass takes the reads from the read source
// in index order and marks every read taken in the context bitset; every
// pass writes its batches, in sequence order, to the context's output
// temporary files, which map_context_swap_temp_files turns into the inputs
// of the next pass. Later passes load the batches back and attach the reads
// again by walking the bitset, so the reads themselves are never written.
// Reads without hits at the end of a level are moved into a new context
// for the next seed level (map_context_new_next_pass).
//
// Temporary files: at most 8 per context and pass, created unlinked through
// common/temp_file.h on first write, so nothing is left on disk however the
// process ends. Batch n lies in file n / batches_per_file; a file is closed
// as soon as its last batch has been read back.
//
// Calling order per pass: map_context_next_batch until null (the produce
// stage), read_batch_write per batch (the store stage), then
// map_context_swap_temp_files and map_context_reset_cursor. The produce and
// fetch stages touch the cursor and the inputs, the store stage only the
// outputs and batches_written; the shared fields are read-only during a
// pass. The context owns its temporary files, bitset and per-file arrays,
// not the read source nor the paired settings.
#pragma once

#include <cstdint>
#include <cstdio>

#include "seqio/bit_set.h"
#include "seqio/seq_record.h"

struct paired_setting_t;
struct read_batch_t;
struct seq_db_t;

// Most temporary files of one context and pass.
constexpr int32_t kMapContextMaxTempFiles = 8;
// Reads of one batch; a paired batch holds half as many pairs.
constexpr int32_t kMapBatchSize = 5000;
// Mappable read lengths: [kMapShortestLength, kMapLengthBound).
constexpr int32_t kMapShortestLength = 15;
constexpr int32_t kMapLengthBound = 56;

struct map_context_t {
  seq_db_t *reads;                 // read source over all read files (not owned)
  int32_t first_read;              // first read index of the group
  int32_t end_read;                // end read index of the group (exclusive)
  int32_t reads_taken;             // reads placed in batches of this context
  FILE **inputs;                   // input temporary files (closed ones are null)
  int32_t input_count;
  int32_t batches_read;            // batches read this pass, the next sequence number
  FILE **outputs;                  // kMapContextMaxTempFiles output files, created on first use
  int32_t output_count;            // output files created
  int32_t batches_written;         // batches written this pass
  int32_t total_batches;           // batches stored, read back by the next pass
  int32_t batch_size;              // reads per batch
  int32_t batches_per_file;
  int32_t file_limit;              // temporary files the plan uses
  int32_t cursor;                  // next read index to look at
  int32_t reference_count;         // limit of the reference index of a hit
  int32_t longest_reference;       // limit of the offset of a hit
  int32_t prescore_flag;           // best pre-scores are stored too
  int32_t report_limit;            // R
  bit_set_t *taken;                // bit (read index - first_read): the read belongs to this context
  int32_t shortest_length;         // 15
  int32_t length_bound;            // 56
  int32_t class_lower;             // class window [class_lower, class_upper)
  int32_t class_upper;
  int32_t first_pass;              // set while the reads come from the read source
  int32_t current_file;            // read file holding the cursor
  int32_t file_offset;             // read index where the current file starts
  int32_t file_end;                // read index where the current file ends
  int32_t file_count;
  int32_t *file_read_counts;       // per read file (copy)
  paired_setting_t **file_settings;  // per read file, null for unpaired files (copy of the pointers)
  // Reusable records the reads are fetched into before their batch copies
  // them (two: a pair), used by the one stage that fetches in a pass.
  seq_scratch_t scratch[2];
};

// The first-pass context of a class: cursor at first_read, bitset cleared,
// first-pass flag set. The read files hold read_counts[i] reads each, one
// after the other from index 0; settings[i] is the paired setting of file i
// or null (the array may be null: every file unpaired). The group [first,
// end) must start and end on file boundaries.
map_context_t *map_context_new(seq_db_t *reads, int32_t first_read, int32_t end_read, int32_t batch_size,
                               int32_t reference_count, int32_t longest_reference, int32_t prescore_flag,
                               int32_t report_limit, int32_t shortest_length, int32_t length_bound,
                               int32_t class_lower, int32_t class_upper, int32_t file_count,
                               const int32_t *read_counts, paired_setting_t *const *settings);
// An empty context for the next seed level: same reads, files, limits and
// window, its own cleared bitset, first-pass flag clear.
map_context_t *map_context_new_next_pass(const map_context_t *context);
// Cursor back to the first read (current file recomputed), batches read,
// output count and batches written to 0.
void map_context_reset_cursor(map_context_t *context);
// The outputs of this pass become the inputs of the next (flushed and
// rewound; inputs still open are closed) and total_batches the number
// written; a fresh empty output list follows unless last; the cursor is
// reset.
void map_context_swap_temp_files(map_context_t *context, int32_t last);
// Closes every temporary file and frees the context (null allowed); returns
// null.
map_context_t *map_context_free(map_context_t *context);

// The next batch of the pass, or null at the end. First pass: taken from the
// read source (paired files by pairs), never spanning two files; later
// passes: loaded from the inputs. Each batch gets an arena, its sequence
// number and a generator of its own.
read_batch_t *map_context_next_batch(map_context_t *context);
// Encodes and writes the partial batch (null allowed) without bitset, then
// swaps the temporary files (not last).
void map_context_flush_next_pass(map_context_t *next, read_batch_t *partial);

// Temporary file of batch n.
int32_t map_context_file_of_batch(const map_context_t *context, int32_t n);
// 1 when read index lies in the context and its bit is set.
int map_context_has_read(const map_context_t *context, int32_t read_index);
// Sets the bit of read index.
void map_context_mark_read(map_context_t *context, int32_t read_index);
// Moves the current file to the one holding the cursor.
void map_context_find_file(map_context_t *context);
