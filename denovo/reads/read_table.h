// The reads-on-fragments database of the assembler: the distinct read paths
// (read_info_t, identical or reversed paths merged through a path hash with
// a read count), one pair-distance histogram per paired read file, the read
// pairs whose ends lie on different fragments or paths, and the read tails
// beyond fragment ends.
//
// Calling order:
// 1. read_table_new makes the run's table before the read mapping.
// 2. Each mapping worker fills a read_table_new_batch for a block of reads
//    of one file: paths (then read_info_finish), pairs (read_table_add_pair,
//    paired files only) and tails.
// 3. One merging stage calls read_table_merge (batch, run table), spools the
//    batch's tails into the run list's spool file (end_info_spool_records)
//    and frees the batch.
// 4. read_table_finish ends the inserts: the read info becomes searchable,
//    the pairs sorted, the path hash freed.
// 5. The table is saved and loaded with the stage files;
//    read_table_free_reads drops the bulky parts early; read_table_free ends
//    it.
// The table owns all its parts; the paired settings the histograms point to
// are the caller's. A batch belongs to one worker; the run's table has no
// lock and is touched by one thread at a time.
//
// Path hash: 2^log2 slots of u64 holding the position of a stored path, or
// the empty value 0x00000000FFFFFFFF; linear probing; at most half full.
//
// Stage-file piece (little-endian): a presence byte (1, or 0 for an absent
// table), u32 file count, the read info piece, one pair-distance piece per
// file, the read pair piece, a byte 1 followed by the path hash (u32 log2,
// u64 entry count, the slots as u64) or a byte 0, then the end info piece
// made from the spooled tails.
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/reads/end_info.h"
#include "denovo/reads/pair_dist_info.h"
#include "denovo/reads/read_info.h"
#include "denovo/reads/read_pair_info.h"
#include "seqio/paired_setting.h"

extern "C" {

constexpr uint64_t kPathHashEmpty = 0x00000000FFFFFFFFull;

struct path_hash_t {
  uint32_t log2_slots;
  uint64_t count;   // paths filed
  uint64_t *slots;  // 2^log2_slots positions or kPathHashEmpty
};

struct read_table_t {
  read_info_t *read_info;
  pair_dist_info_t **pair_dist_info;  // file_count entries, null for unpaired files; null array in an unpaired batch
  read_pair_info_t *read_pair_info;   // null in an unpaired batch
  path_hash_t *path_hash;             // run's table until read_table_finish; else null
  end_info_t *end_info;
  int32_t file_count;  // 1 in a batch
};

// A hash of 1024 empty slots.
path_hash_t *path_hash_new(void);
// Frees the slots and the hash (null allowed); returns null.
path_hash_t *path_hash_free(path_hash_t *hash);
// Writes a byte 1 and the hash, or the byte 0 for null.
void path_hash_write(FILE *file, const path_hash_t *hash);
// Reads what path_hash_write wrote: null for the byte 0. Slot counts, entry
// counts or slots that do not fit each other, the bytes in the file or the
// element_count paths' elements exit with status 1 and a message naming
// read_table_read.
path_hash_t *path_hash_read(FILE *file, uint64_t element_count);

// The run's table: empty read info and pairs, a path hash, a histogram for
// every file i whose pair_par_array[i] is not null, and a tail list (M = k =
// max_distance) spooling to an anonymous temporary file.
read_table_t *read_table_new(uint32_t fragment_count, paired_setting_t *const *pair_par_array, int32_t file_count,
                             int32_t max_distance);
// A batch for reads of one file: with a setting, one histogram and a pair
// list; no path hash; a tail list without spool file.
read_table_t *read_table_new_batch(uint32_t fragment_count, const paired_setting_t *setting, int32_t file_index,
                                   int32_t max_distance);
// Frees every part, closing the tail spool file (a path hash left by an
// unfinished table included); null allowed; returns null.
read_table_t *read_table_free(read_table_t *table);
// Frees the read info, the histograms and the pairs, setting them to null.
void read_table_free_reads(read_table_t *table);

// value -1: adds source's path at position to the table, or one more read to
// the equal stored path (none for a source path of count 0); returns the
// table's read_ptr_t of it, reversed when the stored path is this one read
// backwards; out_length (when given) receives the path's element count.
// Any other value: files that stored position in the hash without counting
// it, and returns it. Growing the hash beyond memory prints "Out of memory"
// on standard error, status 1.
read_ptr_t read_table_insert_path(read_table_t *table, uint64_t value, const read_table_t *source,
                                  uint64_t position, uint64_t *out_length);
// Inserts source's path at *cursor and moves the cursor past it.
read_ptr_t read_table_insert_next_path(read_table_t *table, const read_table_t *source, uint64_t *cursor);
// Files the table's own path at position in its hash again.
read_ptr_t read_table_reinsert_path(read_table_t *table, uint64_t position);
// Doubles the hash and files every stored position again.
void read_table_grow_path_hash(read_table_t *table);

// Records one mapped pair of a paired batch. Each end is a read_ptr_t into
// the batch's read info (fragment -1) or an oriented fragment (read_ptr -1);
// both -1: that read was not placed. offset is the end's position, extent the
// length it is mirrored against when turned. Pairs in one fragment go to the
// histogram; the others are turned to read as fb and stored.
void read_table_add_pair(read_table_t *batch, read_ptr_t read_ptr1, oriented_id_t fragment1, int32_t offset1,
                         int32_t extent1, read_ptr_t read_ptr2, oriented_id_t fragment2, int32_t offset2,
                         int32_t extent2);
// Merges a finished batch into the run's table: paths into the hash, the
// histogram into its file's, and the pairs with their path ends moved to the
// run's positions and stamped with the file index. The tails are not
// merged: the caller spools them.
void read_table_merge(read_table_t *batch, read_table_t *global);
// Ends the inserts: frees the hash, makes the read info searchable, sorts
// the pairs.
void read_table_finish(read_table_t *global);
// The stats of the read info, the pairs and the tails.
void read_table_print_stats(const read_table_t *table);

// Writes the stage-file piece, or the single byte 0 for null. The tails are
// taken from the spool file when there is one; the spool is not changed.
void read_table_write(FILE *file, read_table_t *table);
// Reads a piece: null when absent. file_count -1 skips the file checks (and
// attaches no settings). Otherwise a stored file count other than the given
// one prints "Error, read_table_read file_count != table->file_count", and a
// histogram present where pair_par_array[i] is null or missing where it is
// not prints "Error, in read_table_read table->pair_dist_info[] and
// pair_par_array not the same", both on standard error with status 1. The
// parts' own checks apply.
read_table_t *read_table_read(FILE *file, uint32_t fragment_count, paired_setting_t *const *pair_par_array,
                              int32_t file_count);

}  // extern "C"
