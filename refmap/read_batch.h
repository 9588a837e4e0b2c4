// Read batches of the hash mapper: up to 5000 reads of one read file (2500
// pairs of a paired file) with their result slots, and the batch records of
// the temporary files.
//
// An unpaired batch has one slot per read. A paired batch has four per
// pair: read 1 single, read 1 pair, read 2 single, read 2 pair; a pair slot
// carries the same read and read index as the single slot before it. A read
// outside the mappable lengths of a taken pair is absent: its slots keep
// their read index but no read, and stay empty.
//
// Life of a batch in one pass: taken (map_context_next_batch) or loaded ->
// fetched (later passes: reads attached again) -> decoded (reverse
// complements, slots from the encoded bytes) -> mapped -> split (reads
// without hits moved to the next level) -> encoded (reads, slots and arena
// freed, bytes kept) -> written and freed. A batch belongs to one pipeline
// stage at a time and draws every random number from its own generator.
//
// Batch record in a temporary file (little-endian, back to back):
//   u32 encoded length L, u32 read count, u32 read-file index, u8 flags
//   (bit 0: a bitset follows; bit 1: the reads follow the slots), the bitset
//   ((read count + 7) / 8 bytes, bit i set: read i of the batch already has
//   hits), the L bytes of every slot in slot order (see alignment_info.h),
//   then with flag bit 1: u32 byte count R and R bytes holding every read of
//   the batch in order as u8 length (255: absent) and its residue codes.
// Batches that move to the next level carry their reads, so that a later
// pass, which maps only the reads left over, reads them back in order
// instead of seeking them out in the read files; other batches leave their
// reads to be fetched again by index.
#pragma once

#include <cstdint>

#include "refmap/alignment_info.h"
#include "seqio/bit_set.h"

class RandomState;
struct chunk_arena_t;
struct map_context_t;
struct paired_setting_t;
struct seq_db_t;

struct read_batch_t {
  int32_t sequence;               // position in the pass, from 0
  int32_t file_index;             // read file the reads come from
  paired_setting_t *setting;      // the file's paired setting (not owned), null for an unpaired file
  int32_t read_count;             // reads, not pairs
  int32_t encoded_length;
  uint8_t *encoded;               // encoded slots, or null
  alignment_info_t *slots;        // slot_count slots
  int32_t slot_count;
  chunk_arena_t *arena;           // reverse complements, stored hits and their codes
  RandomState *random;            // the batch's own generator
  bit_set_t *has_hits;            // one bit per read, or null
  seq_db_t *source;               // where the reads were fetched from (not owned)
  int32_t results_only;           // 1: slots carry read indexes and results but no reads (the merge)
  uint8_t *stored_reads;          // the reads section of the record (kept reads), or null
  int32_t stored_length;
};

// An empty batch for up to capacity reads of file_index with its arena and
// a generator seeded from the shared seed source; sequence number 0.
read_batch_t *read_batch_new(map_context_t *context, int32_t file_index, int32_t capacity);
// Frees reads, slots, encoded bytes, arena, generator and bitset (null
// allowed); returns null.
read_batch_t *read_batch_free(read_batch_t *batch);

// 2 for a batch of a paired file, else 1.
int32_t read_batch_slots_per_read(const read_batch_t *batch);
// Bit read of the batch bitset, 0 without a bitset.
int read_batch_has_hits(const read_batch_t *batch, int32_t read);
// The single slot of read i of the batch.
alignment_info_t *read_batch_single_slot(read_batch_t *batch, int32_t read);

// First pass, unpaired file: from the cursor, the reads whose length lies in
// the class window, until the batch is full or the current file ends; null
// when nothing was taken.
read_batch_t *read_batch_take_unpaired(map_context_t *context);
// First pass, paired file: pairs from the cursor; a pair is taken when each
// present read is at least the class's lower boundary and some present read
// is below its upper one (a read outside the mappable lengths is absent; a
// pair of two absent reads is passed over). Null when nothing was taken.
read_batch_t *read_batch_take_paired(map_context_t *context);
// Later passes: the next batch record of the inputs (the file of the next
// sequence number), closed after its last batch ("Error closing temporary
// file\n", status 1). Slots allocated empty; reads not yet attached.
read_batch_t *read_batch_load(map_context_t *context);
// Later passes: attaches every read of the batch by walking the context
// bitset from the cursor; a read outside the mappable lengths stays absent.
// A batch that carries its reads takes them from its record; a record that
// does not hold the batch's reads prints "Error reading temporary file\n"
// and ends the process with status 1.
void read_batch_fetch(map_context_t *context, read_batch_t *batch);
// The merge's fetch: the same walk, which gives every slot its read index,
// without reading the reads (the records need only the results); marks the
// batch results-only, so that decoding takes the score width from the
// context's length bound (the same width: a read is shorter than the bound,
// and every length up to 254 takes one byte) and cannot tell absent reads.
void read_batch_fetch_indexes(map_context_t *context, read_batch_t *batch);
// Reverse complements of the present reads, slots decoded from the encoded
// bytes (none: empty slots); later passes give a paired batch a bitset with
// the bit of every read whose single slot has hits. Frees the encoded bytes.
void read_batch_decode(map_context_t *context, read_batch_t *batch);
// Encodes every slot into the batch's bytes and frees reads, slots and arena;
// with keep_reads, the reads too (the record's reads section).
void read_batch_encode(map_context_t *context, read_batch_t *batch, bool keep_reads = false);
// The first half of read_batch_encode without keep_reads, on a mapped batch
// whose slots stay in place: the slots' bytes, where with moving set the
// slots that read_batch_split_unmapped will move out are encoded empty, as
// they are after the move. So a map thread can encode its batch before the
// split runs in order; read_batch_release_slots is the second half.
void read_batch_encode_results(map_context_t *context, read_batch_t *batch, bool moving);
// Frees the reads, slots and arena of a batch whose bytes are encoded.
void read_batch_release_slots(read_batch_t *batch);
// Appends the batch record to the output file of the next written batch
// (creating the file when needed), with the bitset only when asked and
// present, and frees the batch. A failed write prints "Error writing
// temporary file\n" and ends the process with status 1.
void read_batch_write(map_context_t *context, read_batch_t *batch, int32_t with_bitset);
// Moves the reads without hits of a mapped batch into the partial batch of
// the next-pass context (a new one when null; a partial batch of another
// file is written first): unpaired, every slot with hit count 0; paired,
// every pair with a single slot of hit count 0, four slots at a time. Moved
// reads are marked in next's bitset; a partial batch that fills up is
// encoded with its reads and written. Returns the partial batch (or null).
read_batch_t *read_batch_split_unmapped(map_context_t *next, read_batch_t *batch, read_batch_t *partial);
