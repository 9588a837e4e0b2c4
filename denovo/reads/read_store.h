// Packed store of every read of an assembly run, kept in one anonymous
// temporary file so that word counting, fragment building and read mapping
// can stream all reads again without parsing the input files twice.
//
// Reads are nucleotide codes (A 0, C 1, G 2, T/U 3, anything else 4) stored
// at three bits per symbol in blocks of at most block_capacity symbols. A
// block opens with the separator 7 and every read in it is followed by a 7,
// so a consumer splits a block into reads by the separators alone. A block
// holds reads of one read file only, and the two mates of a pair always lie
// in the same block, mate 1 first.
//
// Temporary-file layout, little-endian, no header: per block
//   u32 symbol count n (separators included, padding excluded),
//   u32 file index of the block,
//   48 * ceil(n / 128) bytes: the symbols in packed groups of 128, the last
//   group padded with code 0.
// A packed group is three 16-byte planes P0, P1, P2; for column j (0..15)
// the value P0[j] + 256 P1[j] + 65536 P2[j] holds symbol 16 r + j of the
// group (row r = 0..7) in bits 3r..3r+2.
//
// Calling order: read_store_new (or read_store_new_empty, the add
// functions, read_store_finish), then any number of passes, each
// read_store_rewind followed by read_store_next_block until it returns null,
// then read_store_free. The store belongs to its creator. A pass is driven
// by one thread at a time: the block buffer and the file position are
// shared state. Every failure ends the process with status 1 through
// ryx_exit and a message on standard error.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/thread_queue.h"
#include "seqio/seq_record.h"

struct progress_meter_t;

// Block capacity the assembler uses: 1 MiB symbols.
constexpr int32_t kReadStoreBlockCapacity = 0x100000;
// Separator code between the reads of a block.
constexpr uint8_t kReadStoreSeparator = 7;

struct read_store_t {
  FILE *file;                   // anonymous temporary file, "w+b", already unlinked
  int32_t block_capacity;       // symbols per block at most, separators included; multiple of 128
  int32_t block_count;          // blocks in the file, fixed by read_store_finish
  int32_t block_index;          // loading: blocks written; reading: blocks read in this pass
  int32_t fill;                 // symbols in the buffer (loading) or in the last block read
  int32_t file_index;           // index of the read file being loaded
  uint8_t *buffer;              // block_capacity bytes on a 16-byte boundary inside allocation
  uint8_t *allocation;          // block_capacity + 15 bytes
  uint64_t read_count;          // reads loaded; a pair counts 2
  uint64_t nucleotide_count;    // sum of the loaded reads' lengths
  int32_t file_count;           // read files given to read_store_new
};

// One read file of a run: a single path, or two paths read side by side as
// the two mates of each pair (second_path null for a single file).
struct read_store_file_t {
  const char *path;
  const char *second_path;
};

// Creates the store and loads the files in list order: an entry with a
// second path through seq_for_each_interleaved, a file whose paired flag is
// nonzero (paired_flags may be null) through seq_for_each_pair, any other
// through seq_for_each. The meter (may be null) receives (i + 1) /
// file_count after file i. The block index is left at the block count:
// call read_store_rewind before the first pass.
read_store_t *read_store_new(int32_t block_capacity, int32_t file_count, const read_store_file_t *files,
                             const int32_t *paired_flags, int report, progress_meter_t *meter);
// An empty store with its temporary file. A capacity that is not a positive
// multiple of 128 ends the process with "Read store block capacity %d is not
// a positive multiple of 128\n".
read_store_t *read_store_new_empty(int32_t block_capacity);
// Frees the buffer, closes the temporary file ("Error closing temporary
// file\n" when that fails) and frees the store; null allowed; returns null.
read_store_t *read_store_free(read_store_t *store);

// Loads one read file as single reads, as consecutive pairs, or the two
// files side by side as pairs; each ends with the open block flushed and the
// file index advanced.
void read_store_add_file(read_store_t *store, const char *path, int report);
void read_store_add_paired_file(read_store_t *store, const char *path, int report);
void read_store_add_interleaved_files(read_store_t *store, const char *path1, const char *path2, int report);
// Flushes a non-empty block, fixes the block count to the blocks written,
// flushes the file, and raises the file count to the files added when it
// was lower.
void read_store_finish(read_store_t *store);

// Appends one read's codes to the open block, flushing it first when the
// read does not fit. A read longer than capacity - 2 ends the process with
// "Sequence too long\n". Counts nothing (see read_store_on_read).
void read_store_add_read(read_store_t *store, const seq_record_t *record);
// Appends both mates to one block; a pair longer than capacity - 3 with its
// separators ends the process with "Sequence too long\n".
void read_store_add_pair(read_store_t *store, const seq_record_t *record1, const seq_record_t *record2);
// Pads, packs and writes the open block (nothing when it is empty); a short
// write ends the process with "Error writing temporary data\n".
void read_store_flush_block(read_store_t *store);
// For-each callbacks (user = the store): add and count reads and symbols.
void read_store_on_read(seq_record_t *record, void *store);
void read_store_on_pair(seq_record_t *record1, seq_record_t *record2, void *store);

// Starts a pass: rewinds the temporary file and sets the block index to 0.
void read_store_rewind(read_store_t *store);
// The next block of the pass as a new record (codes 0-4 and separators 7,
// one per byte) and, when file_index is not null, its file index; null once
// the pass is over. The caller releases the record through its callback.
// A short or inconsistent read ends the process with "Problem reading
// temporary data\n"; a residue buffer that cannot be had with "Out of
// memory\n".
seq_record_t *read_store_next_block(read_store_t *store, int32_t *file_index);

// Packed groups of n symbols: (n + 127) / 128; bytes: 48 per group.
int64_t read_store_group_count(int64_t n);
int64_t read_store_packed_size(int64_t n);
// Packs the groups of the first fill symbols in place (one symbol per byte,
// fill padded to a multiple of 128 by the caller), groups in ascending order.
void read_store_pack_block(read_store_t *store);
// Unpacks the groups of the first fill symbols in place, last group first.
void read_store_unpack_block(read_store_t *store);
// The group codecs on their own: 128 symbols (0-7, one per byte) to 48
// packed bytes and back. Input and output may be the same buffer.
void read_store_pack_group(const uint8_t *symbols, uint8_t *packed);
void read_store_unpack_group(const uint8_t *packed, uint8_t *symbols);

// Context of read_files_open_thread; the arbiter comes first, as in every
// pipeline context.
struct read_files_ctx_t {
  thread_arbiter_t *arbiter;
  int32_t file_count;
  const char *const *paths;
};

// Thread body of a file-opening stage: opens each path of the context with
// seq_db_open (nucleotide codes, read formats, no lengths) and puts the
// database on the output queue with size 0, then leaves as a producer. A
// file that cannot be opened ends the process with status 1.
void *read_files_open_thread(void *args);
