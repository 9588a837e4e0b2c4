// Fragment builder: maximal unambiguous stretches of sequence from the
// counted words, written as FASTA and reopened as the fragment database.
//
// What the fragments are: one pass over the blocks of the read store in
// order seeds a fragment at every clean window whose word is counted and
// not yet used (fragment_search.h builds it), and each record is decided
// before the next seed is tried: its counted words from its first one not
// yet used on become used, and a named record that had such a word is
// written with the next number. A record whose words are all used already
// (the same fragment from another seed) is dropped; unnamed records still
// mark their words, so that their seeds are not tried again.
//
// Pipeline (common/thread_group.h), queues of 4 x threads items, in-flight
// budget 0:
//   reader   (1)        rewinds the read store and queues every block of a
//                       file whose use flag is set, cut after reads into
//                       pieces (1 Ki symbols at first, growing to 128 Ki),
//                       numbered in store order (the cuts change no
//                       window: a window across a read end is never
//                       clean);
//   workers  (threads)  build pieces, each ahead of its turn against a view
//                       of the used marks and decided in piece order
//                       (fragment_block.h), so the result is that of the
//                       single pass above for any number of threads and
//                       any timing; the thread that decides a piece in
//                       turn queues its kept records for the writer;
//   writer   (1)        numbers and writes the records in piece order.
// A worker runs at most 4 x threads pieces ahead of the piece in turn, and
// a piece ahead of its turn stops building once its own marks reach a
// bound, so memory stays bounded while the first pieces build most of the
// genome. The first reads find most fragments; small pieces at the start
// let many workers build them at once, and the pieces in turn take them.
// How many reads that takes grows with the genome, so the pieces stay
// small for as long as pieces ahead still fill their overlay.
//
// Fragment FASTA: ">" + name, then the residues 60 per line, each residue
// byte 63 + code (A, C, G, T as '?', '@', 'A', 'B'). Names are
// "%c%c_%8.8x": the state letters of the left and right ends
// (fragment_search.h) and the fragment number, which is the record's index
// in the file. The database opens the file as FASTA with residues as
// stored; readers turn a byte b into the code (b - 63) AND 3.
//
// Ownership: the caller keeps the read store and the word counter (whose
// used marks the run sets) and owns the returned database, which owns the
// file. Failures end the process through ryx_exit with status 1.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "common/array_list.h"
#include "common/thread_queue.h"
#include "denovo/reads/fragment_block.h"
#include "denovo/reads/fragment_search.h"
#include "denovo/reads/read_store.h"
#include "denovo/reads/word_counter.h"
#include "seqio/seq_db.h"

struct progress_meter_t;

// Residue byte of code 0 in the fragment FASTA.
constexpr uint8_t kFragmentResidueBase = 63;

// Pieces a worker may run ahead of the piece in turn, per thread.
constexpr int32_t kFragmentLookaheadPerThread = 4;
// Overlay marks at which a piece ahead of its turn stops building.
constexpr int64_t kFragmentOverlayLimit = 1 << 17;
// Symbols the reader hands out as one piece (at least; a piece ends after
// a read): the first pieces are small, and every kFragmentPieceGrowth
// pieces the size doubles, up to the largest, unless pieces ahead filled
// their overlay since the last step: then it halves, down to the first.
constexpr int32_t kFragmentFirstPieceSymbols = 1 << 10;
constexpr int32_t kFragmentPieceSymbols = 1 << 17;
constexpr int32_t kFragmentPieceGrowth = 16;

// Count of a word of k codes; the slot of its used mark (words with the
// same slot share the mark); the mark of a slot; setting it.
typedef int32_t (*fragment_count_fn)(word_counter_t *counter, const uint8_t *word);
typedef uint64_t (*fragment_used_slot_fn)(word_counter_t *counter, const uint8_t *word);
typedef int32_t (*fragment_slot_is_used_fn)(word_counter_t *counter, uint64_t slot);
typedef void (*fragment_mark_slot_used_fn)(word_counter_t *counter, uint64_t slot);
// Batches of the same look-ups (word_counter_lookup.h), one call for many
// words so that their memory waits overlap; they must give what the single
// callbacks give. Null falls back to the single callbacks, so a caller
// that replaces those replaces or clears these too. The counts of the four
// words after each of n prefixes of k - 1 codes (counts[4 i + x]); the
// counts of n words; the slots of the words at residues + p, p < words.
typedef void (*fragment_next_counts_fn)(word_counter_t *counter, const uint8_t *const *prefixes, int32_t n,
                                        int32_t *counts);
typedef void (*fragment_counts_fn)(word_counter_t *counter, const uint8_t *const *words, int32_t n,
                                   int32_t *counts);
typedef void (*fragment_used_slots_fn)(word_counter_t *counter, const uint8_t *residues, int64_t words,
                                       uint64_t *slots);

// Shared by every thread of one run; the arbiter comes first.
struct fragment_builder_ctx_t {
  thread_arbiter_t *arbiter;
  read_store_t *store;
  word_counter_t *counter;       // threads work through clones of it
  const int32_t *use_flags;      // per read file; 0 leaves the file out; null uses all
  int32_t word_size;             // k
  int32_t has_result;            // set by the writer once a fragment is written
  uint32_t fragment_count;       // fragments written, the next number (writer only)
  pthread_mutex_t mutex;         // guards the block count and the meter
  double blocks_processed;       // read-store blocks, in shares of the pieces done
  progress_meter_t *meter;       // may be null
  FILE *output;                  // the fragment FASTA
  fragment_count_fn get_count;
  fragment_used_slot_fn used_slot;
  fragment_slot_is_used_fn slot_is_used;
  fragment_mark_slot_used_fn mark_slot_used;
  fragment_next_counts_fn next_counts;  // may be null
  fragment_counts_fn get_counts;        // may be null
  fragment_used_slots_fn used_slots;    // may be null
  // Block order. head is the block in turn: every block before it is
  // settled and its marks are in the shared table. It changes under
  // turn_mutex, which also guards the fields below; turn_changed is
  // signalled with every change.
  std::atomic<int64_t> head;
  int64_t lookahead;             // blocks a worker may run ahead of head
  pthread_mutex_t turn_mutex;
  pthread_cond_t turn_changed;
  std::vector<fragment_block_t *> finished;  // blocks done ahead of their turn
  int32_t settling;              // 1 while a thread settles blocks in order
  // Pieces whose scan ahead filled its overlay; the reader halves the piece
  // size when this grows (only timing depends on it, never a result).
  std::atomic<int64_t> full_pieces;
};

// The kept records of one settled block on their way to the writer.
struct fragment_batch_t {
  int64_t block;          // the block's sequence number
  array_list_t *records;  // seq_record_t pointers, owned
};

// Called with each record a scan produces; the callee takes the record.
typedef void (*fragment_sink_fn)(seq_record_t *record, void *user);

// Builds the fragments of the store's used files with get_number_of_cpus()
// workers and opens them as the fragment database. With a path the FASTA
// is written to that file, else to an anonymous temporary file. A run that
// writes no fragment ends with "\nNo result found\n", a file that cannot be
// read back as FASTA with "\nTemprorary file error\n", a failed write (a
// full disk) with "\nError writing fragment file: <reason>\n"; all status 1.
seq_db_t *fragment_builder_run(read_store_t *store, const int32_t *use_flags, const char *path,
                               word_counter_t *counter, progress_meter_t *meter);
// The same with a given number of workers (at least 1).
seq_db_t *fragment_builder_run_threads(read_store_t *store, const int32_t *use_flags, const char *path,
                                       word_counter_t *counter, progress_meter_t *meter, int32_t thread_count);

// A context over the counter's lookups (word_counter_lookup.h) writing to
// output; no arbiter yet. Tests may replace the callbacks.
fragment_builder_ctx_t *fragment_builder_ctx_new(read_store_t *store, const int32_t *use_flags,
                                                 word_counter_t *counter, FILE *output, progress_meter_t *meter);
// Frees the context (not what it points to); null allowed; returns null.
fragment_builder_ctx_t *fragment_builder_ctx_free(fragment_builder_ctx_t *ctx);

// Thread bodies (argument thread_args_t with the context).
void *fragment_builder_reader_thread(void *args);
void *fragment_builder_worker_thread(void *args);
void *fragment_builder_writer_thread(void *args);

// Seeds fragments along reads (codes 0-4 and separators 7): every window of
// k symbols holding no code above 3 whose word is counted and not used is
// built from; after a fragment that continues past its seed the windows
// that keep matching it are passed over. Each record goes to the sink; the
// scan itself marks nothing.
void fragment_builder_scan(fragment_builder_ctx_t *ctx, fragment_search_t *search, const uint8_t *reads,
                           int64_t length, fragment_sink_fn sink, void *user);
// The single-pass handling of one record (taken and freed) on the shared
// marks: marks its counted words used from its first counted unused word
// on; a named record that had such a word is numbered and written. Returns
// 1 when it was written.
int32_t fragment_builder_take_record(fragment_builder_ctx_t *ctx, word_counter_t *counter, seq_record_t *record);
// Writes a fragment of codes 0-3 with its name numbered number (the name's
// digits after "XY_" are replaced); the residues become 63 + code. A write
// that fails ends the process with "\nError writing fragment file: %s\n"
// and status 1.
void fragment_builder_write_fragment(FILE *output, seq_record_t *record, uint32_t number);

// Batches: new with an empty record list; free releases the records left.
fragment_batch_t *fragment_batch_new(int64_t block);
fragment_batch_t *fragment_batch_free(fragment_batch_t *batch);
