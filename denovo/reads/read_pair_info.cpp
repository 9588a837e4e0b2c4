// Read pair info: pair encoding, merging with file stamps, the two sort
// orders, range searches, prints and the stage-file piece.
#include "denovo/reads/read_pair_info.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

static_assert(sizeof(read_pair_t) == 24, "a pair is stored as 24 packed bytes");
static_assert(std::endian::native == std::endian::little, "the piece stores the pairs as they lie in memory");

namespace {

constexpr uint64_t kInitialCapacity = 1024;
// Pairs per growth step of merging once doubling stops.
constexpr uint64_t kMergeStep = 0x1000000;
constexpr uint64_t kReverse = UINT64_C(1) << 63;

uint64_t index_of(uint64_t position) { return position & ~kReverse; }

[[noreturn]] void out_of_memory() {
  fprintf(stderr, "Out of memory\n");
  ryx_exit(1);
}

// Reallocates without the fail-fast helper, so that the caller's own
// message is given.
read_pair_t *resize(read_pair_t *pairs, uint64_t capacity) {
  if (capacity > SIZE_MAX / sizeof(read_pair_t)) out_of_memory();
  auto *grown = static_cast<read_pair_t *>(realloc(pairs, (capacity == 0 ? 1 : capacity) * sizeof(read_pair_t)));
  if (grown == nullptr) out_of_memory();
  return grown;
}

int32_t offset_field(int32_t offset) { return static_cast<int32_t>(static_cast<uint32_t>(offset) << 6); }

// Index, then strand (forward first), then offset.
int compare_end(uint64_t pa, int32_t oa, uint64_t pb, int32_t ob) {
  if (index_of(pa) != index_of(pb)) return index_of(pa) < index_of(pb) ? -1 : 1;
  if ((pa >> 63) != (pb >> 63)) return (pa >> 63) < (pb >> 63) ? -1 : 1;
  if (oa != ob) return oa < ob ? -1 : 1;
  return 0;
}

const read_pair_t *as_pair(const void *p) { return static_cast<const read_pair_t *>(p); }

// Search key: index * 2 + strand, so the strands of one index are adjacent.
uint64_t end_key(uint64_t position) { return index_of(position) * 2 + (position >> 63); }

int compare_key_end1(const void *key, const void *element) {
  const uint64_t k = *static_cast<const uint64_t *>(key);
  const uint64_t e = end_key(as_pair(element)->position1);
  return k < e ? -1 : k > e ? 1 : 0;
}

int compare_key_end2(const void *key, const void *element) {
  const uint64_t k = *static_cast<const uint64_t *>(key);
  const uint64_t e = end_key(as_pair(element)->position2);
  return k < e ? -1 : k > e ? 1 : 0;
}

const read_pair_t *find_range(const read_pair_t *pairs, uint64_t n, uint64_t position, lower_bound_compare_t compare,
                              uint64_t *out_count) {
  const uint64_t key = end_key(position);
  const uint64_t next = key + 1;
  const uint64_t first = lower_bound_search(pairs, &key, n, sizeof(read_pair_t), compare);
  const uint64_t end = lower_bound_search(pairs, &next, n, sizeof(read_pair_t), compare);
  *out_count = end - first;
  return pairs + first;
}

[[noreturn]] void bad_piece(const char *format, unsigned long long a = 0, unsigned long long b = 0) {
  fprintf(stderr, "read_pair_info_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

uint8_t read_flag(FILE *file, const char *what) {
  const uint8_t flag = bin_file_read_u8(file);
  if (flag > 1) {
    fprintf(stderr, "read_pair_info_read: %s byte is %u, not 0 or 1\n", what, flag);
    ryx_exit(1);
  }
  return flag;
}

read_pair_t *read_pairs(FILE *file, uint64_t count, uint64_t capacity) {
  read_pair_t *pairs = resize(nullptr, capacity);
  const size_t bytes = count * sizeof(read_pair_t);
  if (large_file_read(pairs, bytes, file) != bytes) bad_piece("the file ends inside the %llu pairs", count);
  return pairs;
}

}  // namespace

read_pair_info_t *read_pair_info_new(int32_t fragment_count) {
  auto *info = static_cast<read_pair_info_t *>(ryx_calloc(sizeof(read_pair_info_t)));
  info->fragment_count = fragment_count;
  info->capacity = kInitialCapacity;
  info->by_end1 = resize(nullptr, info->capacity);
  return info;
}

read_pair_info_t *read_pair_info_free(read_pair_info_t *info) {
  if (info == nullptr) return nullptr;
  free(info->by_end1);
  free(info->by_end2);
  ryx_free(info);
  return nullptr;
}

uint64_t read_pair_position_from_fragment(int32_t, oriented_id_t fragment) {
  return oriented_id_get_index(fragment) | static_cast<uint64_t>(oriented_id_is_reverse(fragment)) << 63;
}

uint64_t read_pair_position_from_read_ptr(int32_t fragment_count, read_ptr_t read_ptr) {
  return (static_cast<uint64_t>(fragment_count) + read_ptr_get_index(read_ptr)) | (read_ptr & kReverse);
}

void read_pair_position_from_fragment_to(int32_t fragment_count, oriented_id_t fragment, uint64_t *position) {
  *position = read_pair_position_from_fragment(fragment_count, fragment);
}

void read_pair_position_from_read_ptr_to(int32_t fragment_count, read_ptr_t read_ptr, uint64_t *position) {
  *position = read_pair_position_from_read_ptr(fragment_count, read_ptr);
}

void read_pair_set_fragment(read_pair_t *pair, int which, int32_t fragment_count, oriented_id_t fragment) {
  (which == 1 ? pair->position1 : pair->position2) = read_pair_position_from_fragment(fragment_count, fragment);
}

void read_pair_set_read_ptr(read_pair_t *pair, int which, int32_t fragment_count, read_ptr_t read_ptr) {
  (which == 1 ? pair->position1 : pair->position2) = read_pair_position_from_read_ptr(fragment_count, read_ptr);
}

oriented_id_t read_pair_position_to_fragment(int32_t fragment_count, uint64_t position) {
  if (index_of(position) >= static_cast<uint64_t>(fragment_count)) return kOrientedIdNone;
  return static_cast<oriented_id_t>(index_of(position)) | static_cast<oriented_id_t>(position >> 63) << 31;
}

read_ptr_t read_pair_position_to_read_ptr(int32_t fragment_count, uint64_t position) {
  if (index_of(position) < static_cast<uint64_t>(fragment_count)) return kReadPtrNone;
  return (index_of(position) - static_cast<uint64_t>(fragment_count)) | (position & kReverse);
}

void read_pair_set_db_num(read_pair_t *pair, int32_t db_num) {
  pair->offset_field1 = (pair->offset_field1 & ~0x3F) | ((db_num >> 6) & 0x3F);
  pair->offset_field2 = (pair->offset_field2 & ~0x3F) | (db_num & 0x3F);
}

void read_pair_info_add(read_pair_info_t *info, read_ptr_t read_ptr1, oriented_id_t fragment1, int32_t offset1,
                        read_ptr_t read_ptr2, oriented_id_t fragment2, int32_t offset2) {
  if (info->count == info->capacity) {
    const uint64_t capacity = info->capacity == 0 ? kInitialCapacity : info->capacity * 2;
    info->by_end1 = resize(info->by_end1, capacity);
    info->capacity = capacity;
  }
  read_pair_t &pair = info->by_end1[info->count++];
  const int32_t f = info->fragment_count;
  pair.position1 = read_ptr1 != kReadPtrNone ? read_pair_position_from_read_ptr(f, read_ptr1)
                                             : read_pair_position_from_fragment(f, fragment1);
  pair.position2 = read_ptr2 != kReadPtrNone ? read_pair_position_from_read_ptr(f, read_ptr2)
                                             : read_pair_position_from_fragment(f, fragment2);
  pair.offset_field1 = offset_field(offset1);
  pair.offset_field2 = offset_field(offset2);
}

oriented_id_t read_pair_info_get_fragment1(const read_pair_info_t *info, const read_pair_t *pair) {
  return read_pair_position_to_fragment(info->fragment_count, pair->position1);
}

oriented_id_t read_pair_info_get_fragment2(const read_pair_info_t *info, const read_pair_t *pair) {
  return read_pair_position_to_fragment(info->fragment_count, pair->position2);
}

read_ptr_t read_pair_info_get_read_ptr1(const read_pair_info_t *info, const read_pair_t *pair) {
  return read_pair_position_to_read_ptr(info->fragment_count, pair->position1);
}

read_ptr_t read_pair_info_get_read_ptr2(const read_pair_info_t *info, const read_pair_t *pair) {
  return read_pair_position_to_read_ptr(info->fragment_count, pair->position2);
}

void read_pair_info_merge(read_pair_info_t *batch, read_pair_info_t *global, int32_t db_num) {
  if (db_num < 0 || db_num > kReadPairMaxDbNum) {
    fprintf(stderr, "read_pair_info_merge: file index %d does not fit in 12 bits\n", db_num);
    ryx_exit(1);
  }
  for (uint64_t i = 0; i < batch->count; i++) read_pair_set_db_num(&batch->by_end1[i], db_num);
  const uint64_t needed = global->count + batch->count;
  if (needed > global->capacity) {
    uint64_t capacity = global->capacity == 0 ? 1 : global->capacity;
    while (capacity < needed) capacity = capacity < kMergeStep ? capacity * 2 : capacity + kMergeStep;
    global->by_end1 = resize(global->by_end1, capacity);
    global->capacity = capacity;
  }
  if (batch->count > 0) {
    memcpy(global->by_end1 + global->count, batch->by_end1, batch->count * sizeof(read_pair_t));
  }
  global->count = needed;
}

void read_pair_info_trim(read_pair_info_t *info) {
  info->by_end1 = resize(info->by_end1, info->count);
  info->capacity = info->count;
}

int read_pair_compare_by_end1(const void *a, const void *b) {
  const read_pair_t *x = as_pair(a), *y = as_pair(b);
  int c = compare_end(x->position1, read_pair_info_get_offset1(x), y->position1, read_pair_info_get_offset1(y));
  if (c == 0) c = compare_end(x->position2, read_pair_info_get_offset2(x), y->position2, read_pair_info_get_offset2(y));
  if (c == 0) c = read_pair_info_get_db_num(y) - read_pair_info_get_db_num(x);
  return c;
}

int read_pair_compare_by_end2(const void *a, const void *b) {
  const read_pair_t *x = as_pair(a), *y = as_pair(b);
  int c = compare_end(x->position2, read_pair_info_get_offset2(x), y->position2, read_pair_info_get_offset2(y));
  if (c == 0) c = compare_end(x->position1, read_pair_info_get_offset1(x), y->position1, read_pair_info_get_offset1(y));
  if (c == 0) c = read_pair_info_get_db_num(y) - read_pair_info_get_db_num(x);
  return c;
}

int read_pair_compare_position1(const void *a, const void *b) {
  const read_pair_t *x = as_pair(a), *y = as_pair(b);
  return compare_end(x->position1, read_pair_info_get_offset1(x), y->position1, read_pair_info_get_offset1(y));
}

int read_pair_compare_position2(const void *a, const void *b) {
  const read_pair_t *x = as_pair(a), *y = as_pair(b);
  return compare_end(x->position2, read_pair_info_get_offset2(x), y->position2, read_pair_info_get_offset2(y));
}

void read_pair_info_sort(read_pair_info_t *info) {
  read_pair_info_trim(info);
  qsort(info->by_end1, info->count, sizeof(read_pair_t), read_pair_compare_by_end1);
  free(info->by_end2);
  info->by_end2 = static_cast<read_pair_t *>(malloc((info->count == 0 ? 1 : info->count) * sizeof(read_pair_t)));
  if (info->by_end2 == nullptr) out_of_memory();
  if (info->count > 0) memcpy(info->by_end2, info->by_end1, info->count * sizeof(read_pair_t));
  qsort(info->by_end2, info->count, sizeof(read_pair_t), read_pair_compare_by_end2);
}

uint64_t lower_bound_search(const void *array, const void *key, uint64_t n, size_t element_size,
                            lower_bound_compare_t compare) {
  const auto *bytes = static_cast<const uint8_t *>(array);
  uint64_t low = 0, high = n;
  while (low < high) {
    const uint64_t mid = low + (high - low) / 2;
    if (compare(key, bytes + mid * element_size) < 1) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return low;
}

const read_pair_t *read_pair_info_find_position1(const read_pair_info_t *info, uint64_t position,
                                                 uint64_t *out_count) {
  return find_range(info->by_end1, info->count, position, compare_key_end1, out_count);
}

const read_pair_t *read_pair_info_find_position2(const read_pair_info_t *info, uint64_t position,
                                                 uint64_t *out_count) {
  return find_range(info->by_end2, info->count, position, compare_key_end2, out_count);
}

const read_pair_t *read_pair_info_find_by_fragment1(const read_pair_info_t *info, oriented_id_t fragment,
                                                    uint64_t *out_count) {
  return read_pair_info_find_position1(
      info, read_pair_position_from_fragment(info->fragment_count, fragment), out_count);
}

const read_pair_t *read_pair_info_find_by_fragment2(const read_pair_info_t *info, oriented_id_t fragment,
                                                    uint64_t *out_count) {
  return read_pair_info_find_position2(
      info, read_pair_position_from_fragment(info->fragment_count, fragment), out_count);
}

const read_pair_t *read_pair_info_find_by_read_ptr1(const read_pair_info_t *info, read_ptr_t read_ptr,
                                                    uint64_t *out_count) {
  return read_pair_info_find_position1(
      info, read_pair_position_from_read_ptr(info->fragment_count, read_ptr), out_count);
}

const read_pair_t *read_pair_info_find_by_read_ptr2(const read_pair_info_t *info, read_ptr_t read_ptr,
                                                    uint64_t *out_count) {
  return read_pair_info_find_position2(
      info, read_pair_position_from_read_ptr(info->fragment_count, read_ptr), out_count);
}

void read_pair_info_print_pair(const read_pair_info_t *info, const read_pair_t *pair, const read_info_t *read_info) {
  const oriented_id_t f1 = read_pair_info_get_fragment1(info, pair);
  const oriented_id_t f2 = read_pair_info_get_fragment2(info, pair);
  const int32_t o1 = read_pair_info_get_offset1(pair);
  const int32_t o2 = read_pair_info_get_offset2(pair);
  printf("%8.8x [%5d]  -  %8.8x [%5d]  (%d)    ", f1, o1, f2, o2, read_pair_info_get_db_num(pair));
  read_info_print_path_block(read_info, read_pair_info_get_read_ptr1(info, pair), f1, 0);
  printf("  [%5d] - [%5d]  ", o1, o2);
  read_info_print_path_block(read_info, read_pair_info_get_read_ptr2(info, pair), f2, 1);
  printf("\n");
}

void read_pair_info_print_pair_raw(const read_pair_info_t *info, const read_pair_t *pair) {
  printf("%8.8x / %16.16llx [%5d]  -  %8.8x / %16.16llx [%5d]  (%d)\n", read_pair_info_get_fragment1(info, pair),
         static_cast<unsigned long long>(read_pair_info_get_read_ptr1(info, pair)), read_pair_info_get_offset1(pair),
         read_pair_info_get_fragment2(info, pair),
         static_cast<unsigned long long>(read_pair_info_get_read_ptr2(info, pair)), read_pair_info_get_offset2(pair),
         read_pair_info_get_db_num(pair));
}

void read_pair_info_print_stats(const read_pair_info_t *info) {
  printf("\nRead pair info:\n");
  printf("  frag    %12d\n", info->fragment_count);
  printf("  alloc   %12zd\n", static_cast<ssize_t>(info->capacity));
  printf("  count   %12zd\n", static_cast<ssize_t>(info->count));
}

void read_pair_write_record(FILE *file, const read_pair_t *pair) {
  bin_file_write_u64(file, pair->position1);
  bin_file_write_u64(file, pair->position2);
  bin_file_write_u32(file, static_cast<uint32_t>(pair->offset_field1));
  bin_file_write_u32(file, static_cast<uint32_t>(pair->offset_field2));
}

void read_pair_read_record(FILE *file, read_pair_t *pair) {
  pair->position1 = bin_file_read_u64(file);
  pair->position2 = bin_file_read_u64(file);
  pair->offset_field1 = static_cast<int32_t>(bin_file_read_u32(file));
  pair->offset_field2 = static_cast<int32_t>(bin_file_read_u32(file));
}

void read_pair_info_write(FILE *file, const read_pair_info_t *info) {
  if (info == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u32(file, static_cast<uint32_t>(info->fragment_count));
  bin_file_write_u64(file, info->count);
  bin_file_write_u64(file, info->capacity);
  for (const read_pair_t *pairs : {info->by_end1, info->by_end2}) {
    bin_file_write_u8(file, pairs != nullptr ? 1 : 0);
    if (pairs != nullptr) large_file_write(pairs, info->count * sizeof(read_pair_t), file);
  }
}

read_pair_info_t *read_pair_info_read(FILE *file, int32_t fragment_count) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("presence byte is %llu, not 0 or 1", present);
  const auto stored_fragments = static_cast<int32_t>(bin_file_read_u32(file));
  if (stored_fragments != fragment_count) {
    fprintf(stderr, "Error, in read_pair_info_read fragment_count != info->fragment_count\n");
    ryx_exit(1);
  }
  const uint64_t count = bin_file_read_u64(file);
  const uint64_t capacity = bin_file_read_u64(file);
  if (capacity < count) bad_piece("capacity %llu is below the count %llu", capacity, count);
  // What adding and merging can leave: 1024 pairs, doubling, then steps.
  const uint64_t plausible = count < kMergeStep ? (count * 2 > kInitialCapacity ? count * 2 : kInitialCapacity)
                                                : count + kMergeStep;
  if (capacity > plausible) bad_piece("capacity %llu is implausible for %llu pairs", capacity, count);
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && count > static_cast<uint64_t>(left) / sizeof(read_pair_t)) {
    bad_piece("%llu pairs do not fit in the %llu bytes left in the file", count, static_cast<uint64_t>(left));
  }
  auto *info = static_cast<read_pair_info_t *>(ryx_calloc(sizeof(read_pair_info_t)));
  info->fragment_count = fragment_count;
  info->count = count;
  info->capacity = capacity;
  if (read_flag(file, "by_end1 presence") != 0) {
    info->by_end1 = read_pairs(file, count, capacity);
  } else {
    // Adding needs the array; a list that holds pairs must have stored it.
    if (count > 0) bad_piece("%llu pairs but no pairs by end 1", count);
    info->by_end1 = resize(nullptr, capacity);
  }
  if (read_flag(file, "by_end2 presence") != 0) {
    const int64_t rest = large_file_bytes_left(file);
    if (rest >= 0 && count > static_cast<uint64_t>(rest) / sizeof(read_pair_t)) {
      bad_piece("%llu pairs by end 2 do not fit in the %llu bytes left in the file", count,
                static_cast<uint64_t>(rest));
    }
    info->by_end2 = read_pairs(file, count, count);
  }
  return info;
}
