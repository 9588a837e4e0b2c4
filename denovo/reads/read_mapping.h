// Read mapping: places every read of the read store on the fragments and
// fills the run's read table (read_table.h) with the read paths, the pair
// distances, the read pairs and the read tails at dead ends.
//
// Fragment word index: a sample of each fragment's words (every 2nd word
// for k < 14, every 4th for k = 14 and 15, every 5th from k = 16) in a
// word table of k-symbol words as they read on the fragment's forward
// strand (not canonical). Payload: the fragment word (index in bits 0-29,
// bit 31 set when the fragment's left end is a dead end, name letter "E"
// first, bit 30 when its right end is) and the offset of the word's first
// symbol in the fragment. A read window that is in the table is a forward
// hit; one whose reverse complement is, a reverse hit.
//
// Read walk: every clean window (k codes 0-3) of a read is looked up. The
// first hit places the read; a hit on another fragment, or a step back on
// the same one, opens a new occurrence, which is accepted only when it
// lies plausibly after the previous one (no more than k + 2 symbols of
// overlap, and reaching beyond the previous fragment at both ends). From
// the second occurrence on the read has a path: the first fragment, then
// each new fragment at the distance from the previous fragment's end
// (-(k - 1) for neighbouring fragments). A read inside one fragment leaves
// no path. Reads running past a dead-end fragment end, and reads crossing
// a gap between fragments, leave tails (end_info.h). In a paired file the
// two mates of each pair are emitted together once mate 2 ends.
//
// Pipeline (common/thread_group.h), queues of 4 x threads items, in-flight
// budget 0:
//   reader   (1)        rewinds the read store and queues every block,
//                       numbered in store order;
//   mappers  (threads)  map one block each into a batch table;
//   merger   (1)        merges the batches into the run's table in block
//                       order, whatever order the mappers finish in, and
//                       spools their tails.
// Since the merger follows store order, the read table (paths, pairs,
// tails and their order) does not depend on the number of threads.
//
// Ownership: the caller keeps the fragment database, the read store, the
// paired settings and the use flags, and owns the returned read table.
// The word table and the fragment lengths are read by all mappers at once
// and changed by none; each mapper has its own key buffers. Failures end
// the process through ryx_exit.
#pragma once

#include <cstdint>

#include "common/thread_queue.h"
#include "denovo/reads/read_table.h"
#include "denovo/reads/word_table.h"
#include "seqio/paired_setting.h"
#include "seqio/seq_db.h"
#include "seqio/seq_record.h"

struct progress_meter_t;
struct read_store_t;

extern "C" {

// Payload bits of the fragment word.
constexpr uint32_t kReadMappingIndexMask = 0x3FFFFFFFu;
constexpr uint32_t kReadMappingLeftDead = 0x80000000u;
constexpr uint32_t kReadMappingRightDead = 0x40000000u;
// Part of the progress range that indexing the fragments takes.
constexpr double kReadMappingIndexShare = 0.14;

// Payload of a sampled fragment word.
struct read_mapping_payload_t {
  uint32_t fragment_word;  // index | dead-end bits
  int32_t offset;          // position of the word's first symbol in the fragment
};

// Shared by every thread of one run; the arbiter comes first.
struct read_mapping_ctx_t {
  thread_arbiter_t *arbiter;
  read_store_t *store;
  seq_db_t *fragment_db;
  paired_setting_t *const *pair_par_array;  // per read file, null for unpaired files; may be null
  const int32_t *use_flags;                 // per read file; null uses all
  word_table_t *word_table;                 // the sampled fragment words
  uint32_t *lengths;                        // length of every fragment
  uint32_t fragment_count;
  int32_t word_size;                        // k
  read_table_t *global;                     // the run's table (merger only); may be null
  progress_meter_t *meter;                  // may be null
  int64_t blocks_merged;                    // merger only
};

// A read-store block on its way to a mapper.
struct read_mapping_item_t {
  seq_record_t *block;  // owned; released through its callback
  int32_t file_index;
  int64_t sequence;     // place among the queued blocks, from 0
};

// A mapped block on its way to the merger.
struct read_mapping_batch_t {
  int64_t sequence;     // the block's place in the store
  read_table_t *table;  // owned
};

// Windows of a block whose keys are packed, and whose table slots are
// fetched, ahead of their look-up: the window in turn and the next ones.
constexpr int32_t kReadMappingLookahead = 8;

// Per-mapper scratch: room for a reversed window, and the
// packed keys of the windows ahead: for window i, entry i mod
// kReadMappingLookahead holds its key and its reverse complement's (B
// bytes each), their home slots, and whether the window could be packed
// (all codes 0-3).
struct read_mapping_mapper_t {
  read_mapping_ctx_t *ctx;
  uint8_t *window;     // k symbols
  uint8_t *ahead;        // kReadMappingLookahead x 2 B bytes
  uint64_t *ahead_home;  // kReadMappingLookahead x 2 home slots of those keys
  uint8_t *ahead_ok;     // kReadMappingLookahead flags
};

// Maps every read of the store onto the fragments with get_number_of_cpus()
// mappers and returns the finished read table. With a reference database
// its first sequence (letters) is mapped too, and the read info of it, made
// searchable, is stored through reference_info (which may then not be
// null). The meter (may be null) gets 0 .. 0.14 for the indexing and the
// rest for the mapping. A sampled fragment word seen twice ends the
// process with "table error\n" (see read_mapping_index_fragments).
read_table_t *read_mapping_run(seq_db_t *fragment_db, read_store_t *store, seq_db_t *reference_db,
                               read_info_t **reference_info, paired_setting_t *const *pair_par_array,
                               const int32_t *use_flags, int32_t k, progress_meter_t *meter);
// The same with a given number of mappers (at least 1).
read_table_t *read_mapping_run_threads(seq_db_t *fragment_db, read_store_t *store, seq_db_t *reference_db,
                                       read_info_t **reference_info, paired_setting_t *const *pair_par_array,
                                       const int32_t *use_flags, int32_t k, progress_meter_t *meter,
                                       int32_t thread_count);

// Distance between two sampled words of a fragment: 2 for k < 14, 4 for
// k = 14 and 15, 5 above.
int32_t read_mapping_sampling_step(int32_t k);

// A context over the fragments with their sampled words indexed (no
// arbiter, no run table). The meter (may be null) receives the residues
// indexed so far every 100 fragments and 1 at the end. A word seen twice
// prints "table error\n" on standard error, then on standard output both
// payloads ("%d %d\n": fragment word and offset, then the current fragment
// and position) and both fragments as letters, and ends with status 1.
// More fragments than the index bits hold end the process with status 1.
read_mapping_ctx_t *read_mapping_ctx_new(seq_db_t *fragment_db, read_store_t *store,
                                         paired_setting_t *const *pair_par_array, const int32_t *use_flags,
                                         int32_t k, progress_meter_t *meter);
// Frees the word table, the lengths and the context (not what the caller
// lent it, nor the run's table); null allowed; returns null.
read_mapping_ctx_t *read_mapping_ctx_free(read_mapping_ctx_t *ctx);

// Scratch of one mapper over a context; the free accepts null and returns null.
read_mapping_mapper_t *read_mapping_mapper_new(read_mapping_ctx_t *ctx);
read_mapping_mapper_t *read_mapping_mapper_free(read_mapping_mapper_t *mapper);
// Maps the reads of one block of file file_index (codes 0-4 between
// separators 7; the block opens with a separator and every read is
// followed by one) into a new batch table, whose read info is finished.
read_table_t *read_mapping_map_block(read_mapping_mapper_t *mapper, const uint8_t *block, int64_t length,
                                     int32_t file_index);

// Thread bodies (argument thread_args_t with the context).
void *read_mapping_reader_thread(void *args);
void *read_mapping_worker_thread(void *args);
void *read_mapping_merge_thread(void *args);

// Maps one sequence of codes: each window start i with i + k < length
// whose symbols are all 0-3 is looked up (forward, then reverse
// complement); a hit on another fragment than the previous hit adds a step
// at the distance from the previous oriented fragment's end (-1 before the
// first hit), so the first element carries the first fragment's start in
// the sequence plus 1 instead of a start word. Returns a new info, not
// finished.
read_info_t *read_mapping_map_sequence(seq_db_t *fragment_db, const word_table_t *word_table,
                                       const uint8_t *codes, int64_t length, uint32_t fragment_count);

// Adds the tail of the read around a hit of the word at block position
// position on the fragment (raw offset offset, reverse for a reverse hit):
// forward 1 the symbols after the word, past the oriented fragment's right
// end; forward 0 the symbols before it, past its left end (recorded on the
// flipped fragment). Only when the word lies at most k positions from that
// end. Returns 1 when a record was added.
int read_mapping_add_end_tail(end_info_t *end_info, seq_db_t *fragment_db, const uint8_t *block,
                              uint32_t fragment_index, int reverse, int forward, int32_t offset, int64_t position,
                              int32_t k);

}  // extern "C"
