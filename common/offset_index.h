// Compact index of record start offsets for random access into a sequence
// file read as a stream.
//
// Records are grouped in blocks of at most 1024. Within a block the start
// offsets are approximated by a straight line, lowered so that it lies at
// least `margin` bytes before every record start and at most 1023 + margin
// bytes before it. Per record a small skip count (0 to 15, packed at 0, 1, 2
// or 4 bits) tells how many record-start markers a forward scan from the
// line's value passes before it reaches the record: earlier records that
// start after the line's value, and extra positions that the format reader
// takes for record starts although they are none (a FASTQ quality line that
// begins with '@'). A lookup gives the base offset and that count; the
// reader seeks to the base and skips that many markers forward.
#pragma once

#include <cstdint>

struct offset_index_block_t {
  int64_t first;          // index of the block's first record
  int64_t last;           // index of its last record (first <= last)
  int64_t base_first;     // lowered line at record first
  int64_t base_last;      // lowered line at record last
  uint32_t skip_width;    // bits per skip count: 0, 1, 2 or 4 (8 is readable too)
  uint8_t *skips;         // packed skip counts, low bits first; null with width 0
};

struct offset_index_t {
  uint64_t block_count;
  offset_index_block_t *blocks;  // in record order, covering 0..n-1 without gaps
};

// Builds the index over n strictly increasing start offsets. extra (sorted,
// or null) holds the extra marker offsets, extra_count of them; the caller
// keeps both arrays. Blocks that do not fit are halved until they do.
offset_index_t *offset_index_build(const int64_t *starts, int64_t n, const int64_t *extra, int64_t extra_count,
                                   int64_t margin);
// Base offset for record i (0 <= i < n); *skip receives the number of
// markers lying after the base and before the record.
int64_t offset_index_lookup(const offset_index_t *index, int64_t i, int32_t *skip);
// Frees every block's skip array, the blocks and the index; null allowed;
// returns null.
offset_index_t *offset_index_free(offset_index_t *index);

// One block over records first..last, or null when they cannot be packed
// (deviation span above 1023 or a skip count above 15).
offset_index_block_t *offset_index_build_block(const int64_t *starts, int64_t first, int64_t last,
                                               const int64_t *extra, int64_t extra_count, int64_t margin);
// The lowered line's value at record i of the block.
int64_t offset_index_block_base(const offset_index_block_t *block, int64_t i);
// Reads record i's packed skip count (0 with width 0). A width other than 0,
// 1, 2, 4 or 8 prints "Error in count bits\n" to standard error and ends the
// process with status 1.
int32_t offset_index_block_get_skip(const offset_index_block_t *block, int64_t i);
// ORs count into record i's packed slot; the width must be 1, 2, 4 or 8
// (else the same message and status as the getter).
void offset_index_block_set_skip(offset_index_block_t *block, int64_t i, int32_t count);
// The block holding record i by binary search; i must be covered.
offset_index_block_t *offset_index_find_block(const offset_index_t *index, int64_t i);
// Index of the last of count sorted values that is below key; -1 when there
// is none or count <= 0.
int64_t offset_index_find_last_below(const int64_t *values, int64_t count, int64_t key);
// Frees the block's skip array and the block; returns null.
offset_index_block_t *offset_index_block_free(offset_index_block_t *block);
