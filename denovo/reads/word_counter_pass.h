// Word counting: the passes that fill a word counter's tables from the read
// store, and the sizing driver that picks the table size.
//
// The driver tries filter sizes 2^12, 2^13, ... For each size it runs
//   a first pass    (kind 0): every word raises its 2-bit counters in A and
//                   B, saturating at 3; the tables become 1-bit filters of
//                   the counters that reached 2;
//   refinements     (kind 1, up to 4): words passing both filters raise a
//                   fresh 2-bit table C (up to 2), which then replaces A
//                   (passes 0 and 2) or B (passes 1 and 3);
//   a final pass    (kind 2): words passing both filters raise 4-bit counts
//                   in C of 2^(d-1) entries, by 1 up to 2 and then with
//                   halving chances up to 15; entries left at 1 are cleared.
// After each pass the error model (word_counter_error_model.h) tells whether
// the size is too small (the next size is tried), good enough (refining
// stops) or worth another refinement. The first pass of a size that proves
// too small stops early, as soon as the running totals show it.
//
// Every pass is a pipeline of the common thread groups: one reader thread
// puts read-store blocks, numbered in reading order, on a queue of
// 4 x threads items and one counting thread per processor scans their words
// through its own clone of the handle.
//
// Every pass is ordered, so that its results are a function of the reads
// alone for any thread count: the final pass's raises of C are random
// draws whose chance depends on the entry's current value, and the first
// pass's early stop is decided from running totals (a refinement's +1
// saturating at 2 commutes, but raising in place would take an atomic
// read-modify-write per word, which stalls the scan's overlapped memory
// reads; raised in partition lists it costs what the final pass costs).
// The tables are split into a fixed number of partitions by the top bits
// of the entry index (chosen from the table size only); a counting thread
// scans and hashes its batch (and tests the filters) in parallel with the
// others and lists the entries to raise per partition, then applies its
// lists partition by partition, each partition taking the batches strictly
// in their number order. One thread at a time owns a partition, so it
// writes plain bytes; the final pass draws from a generator per partition
// seeded from the handle's seed and the partition number. The totals are
// added, and the first pass's are checked, in batch order as the last
// partition of each batch is done.
//
// The caller owns the read store (which a pass rewinds and reads; no other
// pass may run on it at the same time) and the counter that the build
// returns, and frees the counter with word_counter_free.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "common/array_list.h"
#include "common/thread_queue.h"
#include "denovo/reads/read_store.h"
#include "denovo/reads/word_counter.h"
#include "seqio/seq_db.h"

struct progress_meter_t;

// Pass kinds.
constexpr int32_t kWordPassFirst = 0;
constexpr int32_t kWordPassRefine = 1;
constexpr int32_t kWordPassFinal = 2;

// Results of word_counter_run_pass.
constexpr int32_t kWordPassTooSmall = 0;
constexpr int32_t kWordPassGoOn = 1;
constexpr int32_t kWordPassEnough = 2;

// A queue item: records to count. Owned by whoever holds it; the consumer
// frees it.
struct word_batch_t {
  int32_t record_count;    // at least 1 for batches of records
  seq_record_t **records;  // owned array; each record released through its callback
  void *aux;               // owned buffer or null
  int32_t tag;             // batches of records: number in reading order, from 0
};

// One partition of the tables in an ordered pass.
struct word_partition_t {
  pthread_mutex_t mutex;
  pthread_cond_t turn;              // broadcast when next_batch moves or the pass stops
  int32_t next_batch;               // number of the batch whose raises come next
  word_counter_tables_t generator;  // only the generator fields are used (final pass)
};

// Shared by every thread of one pass; owned by word_counter_run_pass.
struct word_pass_ctx_t {
  thread_arbiter_t *arbiter;
  seq_db_t *source;              // count the database's sequences instead of the store, or null
  read_store_t *store;
  word_counter_t *counter;
  const int32_t *use_flags;      // per read file; 0 skips its blocks; null counts all
  int32_t kind;
  int32_t refinement;            // r, for kind 1
  int32_t max_refinements;       // R
  double target;                 // t
  // The totals are guarded by the last partition's mutex and grow in
  // batch order.
  uint64_t first_pass_total;     // T: the first pass's S2, given to kinds 1 and 2
  int64_t s2_total;              // counters that reached 2 in this pass
  int64_t s3_total;              // counters that reached 3 (first pass only)
  int32_t colour_space;
  // Set once the first pass's totals, batch by batch, show the tables too
  // small; the reader stops reading, the counters stop counting and no
  // batch is applied any more. Seeing it late only costs some extra
  // scanning.
  std::atomic<int32_t> stop;
  int32_t rewind;                // the reader rewinds the store first
  // The partitions of the pass's table.
  word_partition_t *partitions;
  int32_t partition_count;
  int32_t partition_shift;       // entry index >> shift = partition
};

// Counts the words of the store's blocks (of files whose use flag is set,
// all when use_flags is null) and returns the finished counter: nucleotide
// words, canonical with the reverse complement.
word_counter_t *word_counter_build(read_store_t *store, const int32_t *use_flags, int32_t word_size,
                                   progress_meter_t *meter);
// The same for colour-space reads (pairs of adjacent codes become colours;
// canonical with the plain reversal).
word_counter_t *word_counter_build_colour(read_store_t *store, const int32_t *use_flags, int32_t word_size,
                                          progress_meter_t *meter);
// The sizing driver behind both, with get_number_of_cpus() counting
// threads. The meter (may be null) ends at 1.0.
word_counter_t *word_counter_build_in_space(read_store_t *store, const int32_t *use_flags, int32_t word_size,
                                            int32_t colour_space, progress_meter_t *meter);

// One pass of the given kind over the store (or over the source's
// sequences when source is not null) with thread_count counting threads.
// Returns kWordPassTooSmall, kWordPassGoOn or kWordPassEnough (refinement
// only). Kind 0 writes its S2 total to *first_pass_total; kinds 1 and 2
// read it.
int32_t word_counter_run_pass(word_counter_t *counter, seq_db_t *source, read_store_t *store,
                              const int32_t *use_flags, int32_t kind, int32_t refinement, double target,
                              int32_t max_refinements, int32_t colour_space, int32_t thread_count,
                              uint64_t *first_pass_total);

// Thread bodies of a pass (context: the word_pass_ctx_t).
void *word_counter_reader_thread(void *args);
void *word_counter_db_reader_thread(void *args);
void *word_counter_count_thread(void *args);

// Count the words of n records into the shared tables through a clone by
// the rule of the first, refinement or final pass, in the order of the
// words and with the clone's own generator (one thread's view; the pass
// pipeline orders the raises of the first and final passes itself). Each returns the number
// of counters that reached 2 and writes the number that reached 3 to s3
// (always 0 but for the first pass) when s3 is not null. Codes above 3
// (N, the separator 7) withhold the words that contain them.
uint32_t word_counter_count_first_batch(word_counter_t *clone, seq_record_t **records, int32_t n, uint32_t *s3);
uint32_t word_counter_count_refine_batch(word_counter_t *clone, seq_record_t **records, int32_t n,
                                         uint32_t *s3);
uint32_t word_counter_count_final_batch(word_counter_t *clone, seq_record_t **records, int32_t n, uint32_t *s3);
// Turns colour-space reads into colours in place: a record of length L >= 2
// becomes the L - 1 XORs of neighbouring codes (4 where either is above 3),
// shorter records become empty.
void word_counter_colour_convert(seq_record_t **records, int32_t n);

// A batch of the list's record pointers (the list gives up its items and
// is freed).
word_batch_t *word_batch_from_list(array_list_t *list);
// A batch of one record.
word_batch_t *word_batch_of_one(seq_record_t *record);
// A batch with no records carrying a tag and an owned buffer.
word_batch_t *word_batch_new_aux(int32_t tag, void *aux);
// Releases every record through its callback, then frees the record array,
// the buffer and the batch; null allowed; returns null.
word_batch_t *word_batch_free(word_batch_t *batch);
