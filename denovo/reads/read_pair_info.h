// Read pairs whose two reads do not lie in one fragment: the long-range
// links used for scaffolding and for choosing between paths.
//
// Each end is either a fragment (the read lies within it) or an element of a
// read path. With F the fragment count, a fragment end is stored as the
// fragment index with bit 63 set for the reverse strand, a path end as F +
// the read_ptr_t position with the read_ptr_t's direction in bit 63. Offsets
// are signed 26-bit values kept in the upper bits of the offset fields; the
// low 6 bits of the two fields hold the high and low half of the 12-bit read
// file index.
//
// Calling order: batch lists are filled with read_pair_info_add and merged
// into the run's list with read_pair_info_merge; read_pair_info_sort then
// orders it by end 1 and makes a copy ordered by end 2, after which the
// find functions, the order-dependent accessors and the print work. One
// thread at a time.
//
// Stage-file piece (little-endian): a presence byte (1, or 0 for an absent
// list), u32 fragment count, u64 count, u64 capacity, then for by_end1 and
// by_end2 in turn a byte 1 followed by count records (u64 position 1, u64
// position 2, u32 offset field 1, u32 offset field 2) or a byte 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "denovo/reads/read_info.h"

extern "C" {

struct read_pair_t {
  uint64_t position1;
  uint64_t position2;
  int32_t offset_field1;  // offset1 << 6 | high 6 bits of the file index
  int32_t offset_field2;  // offset2 << 6 | low 6 bits of the file index
};

struct read_pair_info_t {
  int32_t fragment_count;  // F
  read_pair_t *by_end1;    // count pairs (capacity allocated)
  read_pair_t *by_end2;    // sorted copy by end 2, or null
  uint64_t count;
  uint64_t capacity;  // pairs allocated in by_end1
};

// Largest read file index a pair can carry.
constexpr int32_t kReadPairMaxDbNum = 4095;

// A list for fragment_count fragments with room for 1024 pairs.
read_pair_info_t *read_pair_info_new(int32_t fragment_count);
// Frees both arrays and the list (null allowed); returns null.
read_pair_info_t *read_pair_info_free(read_pair_info_t *info);
// Appends a pair with file index 0. An end is a path end when its read_ptr
// is not -1, else the fragment end of its fragment. An array that cannot
// grow prints "Out of memory" on standard error and exits with status 1.
void read_pair_info_add(read_pair_info_t *info, read_ptr_t read_ptr1, oriented_id_t fragment1, int32_t offset1,
                        read_ptr_t read_ptr2, oriented_id_t fragment2, int32_t offset2);

// Encoding of one end given F.
uint64_t read_pair_position_from_fragment(int32_t fragment_count, oriented_id_t fragment);
uint64_t read_pair_position_from_read_ptr(int32_t fragment_count, read_ptr_t read_ptr);
void read_pair_position_from_fragment_to(int32_t fragment_count, oriented_id_t fragment, uint64_t *position);
void read_pair_position_from_read_ptr_to(int32_t fragment_count, read_ptr_t read_ptr, uint64_t *position);
// The same stored into end 1 (which = 1) or end 2 (which = 2) of a pair.
void read_pair_set_fragment(read_pair_t *pair, int which, int32_t fragment_count, oriented_id_t fragment);
void read_pair_set_read_ptr(read_pair_t *pair, int which, int32_t fragment_count, read_ptr_t read_ptr);
// The oriented fragment of a stored end, or -1 for a path end.
oriented_id_t read_pair_position_to_fragment(int32_t fragment_count, uint64_t position);
// The read_ptr_t of a stored end, or -1 for a fragment end.
read_ptr_t read_pair_position_to_read_ptr(int32_t fragment_count, uint64_t position);
// Stamps the file index (0 ... 4095) into the offset fields.
void read_pair_set_db_num(read_pair_t *pair, int32_t db_num);

// Accessors on one pair of the list.
oriented_id_t read_pair_info_get_fragment1(const read_pair_info_t *info, const read_pair_t *pair);
oriented_id_t read_pair_info_get_fragment2(const read_pair_info_t *info, const read_pair_t *pair);
read_ptr_t read_pair_info_get_read_ptr1(const read_pair_info_t *info, const read_pair_t *pair);
read_ptr_t read_pair_info_get_read_ptr2(const read_pair_info_t *info, const read_pair_t *pair);
inline int32_t read_pair_info_get_offset1(const read_pair_t *pair) { return pair->offset_field1 >> 6; }
inline int32_t read_pair_info_get_offset2(const read_pair_t *pair) { return pair->offset_field2 >> 6; }
inline int32_t read_pair_info_get_db_num(const read_pair_t *pair) {
  return (pair->offset_field1 & 0x3F) << 6 | (pair->offset_field2 & 0x3F);
}

// Stamps db_num into every batch pair and appends them to the run's list,
// which grows x2 below 2^24 pairs, then by 2^24. A file index outside 0 ...
// 4095 cannot be stored: the process ends with a message and status 1; an
// array that cannot grow: "Out of memory", status 1.
void read_pair_info_merge(read_pair_info_t *batch, read_pair_info_t *global, int32_t db_num);
// Shrinks by_end1 to the count.
void read_pair_info_trim(read_pair_info_t *info);
// Orders by_end1 by end 1 and builds by_end2 as a copy ordered by end 2; a
// copy that cannot be allocated: "Out of memory", status 1.
void read_pair_info_sort(read_pair_info_t *info);

// By end 1: index of position 1, its strand (forward first), offset 1, then
// the same for end 2, then the file index, larger first.
int read_pair_compare_by_end1(const void *a, const void *b);
// The same with end 2 first.
int read_pair_compare_by_end2(const void *a, const void *b);
// Order by one end only: index, strand (forward first), offset.
int read_pair_compare_position1(const void *a, const void *b);
int read_pair_compare_position2(const void *a, const void *b);

// First index of the n elements at array whose element compare(key,
// element) does not rank above it (result below 1); n when none.
typedef int (*lower_bound_compare_t)(const void *key, const void *element);
uint64_t lower_bound_search(const void *array, const void *key, uint64_t n, size_t element_size,
                            lower_bound_compare_t compare);

// The pairs of a sorted list whose end 1 (end 2) lies exactly on a stored
// position (index and strand): the first of them, and their number in
// out_count (0 when none; the pointer is then where they would be).
const read_pair_t *read_pair_info_find_position1(const read_pair_info_t *info, uint64_t position, uint64_t *out_count);
const read_pair_t *read_pair_info_find_position2(const read_pair_info_t *info, uint64_t position, uint64_t *out_count);
// The same for an oriented fragment or a read path element.
const read_pair_t *read_pair_info_find_by_fragment1(const read_pair_info_t *info, oriented_id_t fragment,
                                                    uint64_t *out_count);
const read_pair_t *read_pair_info_find_by_fragment2(const read_pair_info_t *info, oriented_id_t fragment,
                                                    uint64_t *out_count);
const read_pair_t *read_pair_info_find_by_read_ptr1(const read_pair_info_t *info, read_ptr_t read_ptr,
                                                    uint64_t *out_count);
const read_pair_t *read_pair_info_find_by_read_ptr2(const read_pair_info_t *info, read_ptr_t read_ptr,
                                                    uint64_t *out_count);

// One pair on one line with both ends' paths (the explorer's view).
void read_pair_info_print_pair(const read_pair_info_t *info, const read_pair_t *pair, const read_info_t *read_info);
// One pair with raw fragment ids, read pointers, offsets and file index.
void read_pair_info_print_pair_raw(const read_pair_info_t *info, const read_pair_t *pair);
// Fragment count, capacity and count.
void read_pair_info_print_stats(const read_pair_info_t *info);

// One record: u64, u64, u32, u32.
void read_pair_write_record(FILE *file, const read_pair_t *pair);
void read_pair_read_record(FILE *file, read_pair_t *pair);
// Writes the stage-file piece, or the single byte 0 for null.
void read_pair_info_write(FILE *file, const read_pair_info_t *info);
// Reads a piece: null when absent. A stored fragment count other than the
// given one prints "Error, in read_pair_info_read fragment_count !=
// info->fragment_count" on standard error and exits with status 1; counts
// that do not fit each other or the bytes in the file exit with status 1 and
// a message naming read_pair_info_read.
read_pair_info_t *read_pair_info_read(FILE *file, int32_t fragment_count);

}  // extern "C"
