// Read info: path building and walking, path hash and match, the
// per-fragment occurrence index and the stage-file piece.
#include "denovo/reads/read_info.h"

#include <bit>
#include <cstdlib>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/reads/generic_sort.h"

static_assert(std::endian::native == std::endian::little, "the piece stores the words as they lie in memory");

namespace {

constexpr uint64_t kInitialCapacity = 1024;
// Words per growth step once doubling stops.
constexpr uint64_t kGrowthStep = 0x8000000;
constexpr int32_t kCountedStart = 5;  // count 1, start bit
constexpr int32_t kUncountedStart = 1;
constexpr int32_t kTerminator = 1;

void set_capacity(read_info_t *info, uint64_t capacity) {
  info->words = static_cast<int32_t *>(ryx_realloc(info->words, (capacity == 0 ? 1 : capacity) * sizeof(int32_t)));
  info->capacity = capacity;
}

void push(read_info_t *info, int32_t word) {
  if (info->count == info->capacity) {
    const uint64_t c = info->capacity;
    set_capacity(info, c == 0 ? kInitialCapacity : c < kGrowthStep ? c * 2 : c + kGrowthStep);
  }
  info->words[info->count++] = word;
}

int32_t step_word(int32_t distance) { return static_cast<int32_t>(static_cast<uint32_t>(distance) << 1); }

uint32_t mix(uint32_t x) { return (x >> 16) ^ x; }

int compare_values(uint64_t a, uint64_t b) { return a < b ? -1 : a > b ? 1 : 0; }

// The continuation order on two read pointers.
int compare_continuing(const read_info_t *info, read_ptr_t a, read_ptr_t b) {
  for (;;) {
    const int has_a = read_info_has_next(info, a);
    const int has_b = read_info_has_next(info, b);
    if (has_a != has_b) return has_a ? 1 : -1;
    if (!has_a) return 0;
    a = read_info_get_next(info, a);
    b = read_info_get_next(info, b);
    const int by_fragment = compare_values(read_info_get_fragment(info, a), read_info_get_fragment(info, b));
    if (by_fragment != 0) return by_fragment;
    const int32_t da = read_info_get_prev_distance(info, a);
    const int32_t db = read_info_get_prev_distance(info, b);
    if (da != db) return da > db ? 1 : -1;
  }
}

// An encoded occurrence (position << 1 | s) as a read pointer.
read_ptr_t occurrence_ptr(uint64_t d) { return d >> 1 | d << 63; }

[[noreturn]] void bad_piece(const char *format, unsigned long long a = 0, unsigned long long b = 0) {
  fprintf(stderr, "read_info_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

}  // namespace

read_info_t *read_info_new(uint32_t fragment_count) {
  auto *info = static_cast<read_info_t *>(ryx_calloc(sizeof(read_info_t)));
  info->fragment_count = fragment_count;
  set_capacity(info, kInitialCapacity);
  return info;
}

read_info_t *read_info_free(read_info_t *info) {
  if (info == nullptr) return nullptr;
  ryx_free(info->words);
  bit_field_array_free(info->offsets);
  bit_field_array_free(info->occurrences);
  bit_field_array_free(info->reverse_order);
  ryx_free(info);
  return nullptr;
}

uint64_t read_info_start_path(read_info_t *info, oriented_id_t fragment) {
  const uint64_t position = info->count / 2;
  push(info, kCountedStart);
  push(info, static_cast<int32_t>(fragment));
  return position;
}

uint64_t read_info_start_uncounted_path(read_info_t *info, oriented_id_t fragment) {
  const uint64_t position = info->count / 2;
  push(info, kUncountedStart);
  push(info, static_cast<int32_t>(fragment));
  return position;
}

void read_info_add_step(read_info_t *info, int32_t distance, oriented_id_t fragment) {
  push(info, step_word(distance));
  push(info, static_cast<int32_t>(fragment));
}

void read_info_truncate(read_info_t *info, uint64_t position) { info->count = 2 * position; }

uint64_t read_info_copy_path(read_info_t *info, const read_info_t *source, uint64_t position) {
  const uint64_t n = read_info_get_path_length(source, position);
  const uint64_t start = info->count / 2;
  // Words are read by index each time: source may be info, whose words move
  // when they grow.
  push(info, read_info_word_count(source->words[2 * position]) >= 1 ? kCountedStart : kUncountedStart);
  push(info, source->words[2 * position + 1]);
  for (uint64_t e = position + 1; e < position + n; e++) {
    push(info, source->words[2 * e]);
    push(info, source->words[2 * e + 1]);
  }
  return start;
}

void read_info_increment_count(read_info_t *info, uint64_t position) {
  int32_t &word = info->words[read_info_get_start_slot(info, position)];
  word = static_cast<int32_t>(static_cast<uint32_t>(word) + 4);
}

void read_info_set_count(read_info_t *info, uint64_t position, uint32_t n) {
  info->words[2 * read_ptr_get_index(position)] = static_cast<int32_t>(n << 2 | 1);
}

void read_info_finish(read_info_t *info) {
  push(info, kTerminator);
  set_capacity(info, info->count);
}

void read_info_push_word(read_info_t *info, int32_t word) { push(info, word); }
void read_info_push_counted_start(read_info_t *info) { push(info, kCountedStart); }
void read_info_push_end(read_info_t *info) { push(info, kTerminator); }

uint64_t read_info_get_start_slot(const read_info_t *info, uint64_t position) {
  uint64_t e = read_ptr_get_index(position);
  while (!read_info_word_is_start(info->words[2 * e])) e--;
  return 2 * e;
}

uint64_t read_info_get_path_start(const read_info_t *info, uint64_t position) {
  return read_info_get_start_slot(info, position) / 2;
}

int32_t read_info_get_start_word(const read_info_t *info, uint64_t position) {
  return info->words[read_info_get_start_slot(info, position)];
}

uint32_t read_info_get_count(const read_info_t *info, uint64_t position) {
  return read_info_word_count(read_info_get_start_word(info, position));
}

uint64_t read_info_get_index_in_path(const read_info_t *info, read_ptr_t p) {
  return read_ptr_get_index(p) - read_info_get_path_start(info, p);
}

int read_info_get_mark(const read_info_t *info, uint64_t position) {
  return read_info_word_mark(read_info_get_start_word(info, position));
}

void read_info_set_mark(read_info_t *info, uint64_t position) {
  info->words[read_info_get_start_slot(info, position)] |= 2;
}

void read_info_clear_mark(read_info_t *info, uint64_t position) {
  info->words[read_info_get_start_slot(info, position)] &= ~2;
}

uint64_t read_info_clear_marks(read_info_t *info) {
  for (uint64_t w = 0; w < info->count; w += 2) {
    if (read_info_word_is_start(info->words[w])) info->words[w] &= ~2;
  }
  return info->count;
}

uint64_t read_info_get_path_length(const read_info_t *info, uint64_t position) {
  uint64_t e = read_ptr_get_index(position) + 1;
  while (2 * e < info->count && !read_info_word_is_start(info->words[2 * e])) e++;
  return e - read_ptr_get_index(position);
}

uint64_t read_info_hash_path(const read_info_t *info, uint64_t position, uint64_t *out_length) {
  const uint64_t n = read_info_get_path_length(info, position);
  if (out_length != nullptr) *out_length = n;
  const int32_t *w = info->words + 2 * position;
  auto fragment = [w](uint64_t t) { return static_cast<uint32_t>(w[2 * t + 1]); };
  auto step = [w](uint64_t t) { return w[2 * t]; };  // between elements t-1 and t

  // The canonical direction: decided by the strands of the two outer
  // elements, then their indices, then the outer distances, moving inwards.
  bool reverse = false;
  for (uint64_t j = 0, k = n - 1; k >= j;) {
    const uint32_t f = fragment(j), b = fragment(k);
    const bool f_rev = f >> 31, b_rev = b >> 31;
    if (!f_rev && !b_rev) break;
    if (f_rev && b_rev) {
      reverse = true;
      break;
    }
    if (oriented_id_get_index(f) != oriented_id_get_index(b)) {
      reverse = oriented_id_get_index(f) < oriented_id_get_index(b);
      break;
    }
    const int32_t front = read_info_word_distance(step(j + 1));
    const int32_t back = read_info_word_distance(step(k));
    if (front != back) {
      reverse = front < back;
      break;
    }
    if (k == 0) break;
    j++;
    k--;
  }

  auto x = [&](uint64_t t) -> uint32_t {
    return reverse ? fragment(n - 1 - t) ^ kOrientedIdReverse : fragment(t);
  };
  // Step word between canonical elements t-1 and t.
  auto s = [&](uint64_t t) -> uint32_t { return static_cast<uint32_t>(reverse ? step(n - t) : step(t)); };
  uint64_t l = 221277583;
  uint64_t h = mix(x(0)) * l;
  for (uint64_t t = 1; t < n; t++) {
    const uint64_t next_l = l * 2137091815;
    h += s(t) * l * 1963689317 + mix(x(t)) * next_l;
    l = next_l;
  }
  return h;
}

int read_info_match_path(const read_info_t *info, uint64_t position, const read_info_t *other,
                         uint64_t other_position) {
  const uint64_t n = read_info_get_path_length(info, position);
  if (read_info_get_path_length(other, other_position) != n) return 0;
  const int32_t *a = info->words + 2 * position;
  const int32_t *b = other->words + 2 * other_position;
  bool same = true;
  for (uint64_t t = 0; t < n && same; t++) {
    if (a[2 * t + 1] != b[2 * t + 1] || (t > 0 && a[2 * t] != b[2 * t])) same = false;
  }
  if (same) return 1;
  for (uint64_t t = 0; t < n; t++) {
    if (static_cast<uint32_t>(a[2 * t + 1]) != oriented_id_flip(static_cast<uint32_t>(b[2 * (n - 1 - t) + 1]))) {
      return 0;
    }
    if (t > 0 && a[2 * t] != b[2 * (n - t)]) return 0;
  }
  return -1;
}

int read_info_compare_continuations(const void *a, const void *b, void *context) {
  return compare_continuing(static_cast<const read_info_t *>(context), occurrence_ptr(*static_cast<const uint64_t *>(a)),
                            occurrence_ptr(*static_cast<const uint64_t *>(b)));
}

int read_info_compare_read_ptrs(const void *a, const void *b, void *context) {
  return compare_continuing(static_cast<const read_info_t *>(context), *static_cast<const read_ptr_t *>(a),
                            *static_cast<const read_ptr_t *>(b));
}

void read_info_sort_read_ptrs(read_info_t *info, read_ptr_t *read_ptrs, uint64_t n) {
  generic_sort(read_ptrs, n, sizeof(read_ptr_t), read_info_compare_read_ptrs, info);
}

int read_info_compare_reverse_occurrences(const void *a, const void *b, void *context) {
  const auto *c = static_cast<const read_info_reverse_context_t *>(context);
  const uint64_t d = bit_field_array_get(c->info->occurrences, c->offset + *static_cast<const uint64_t *>(a)) ^ 1;
  const uint64_t e = bit_field_array_get(c->info->occurrences, c->offset + *static_cast<const uint64_t *>(b)) ^ 1;
  return compare_continuing(c->info, occurrence_ptr(d), occurrence_ptr(e));
}

void read_info_make_searchable(read_info_t *info) {
  read_info_finish(info);
  const uint64_t elements = info->count / 2;
  const uint64_t fragments = info->fragment_count;
  auto *counts = static_cast<uint64_t *>(calloc(fragments + 1, sizeof(uint64_t)));
  if (counts == nullptr) {
    fprintf(stderr, "Out of memory\n");
    ryx_exit(1);
  }
  uint64_t last = 0;
  uint32_t path_count = 0;
  for (uint64_t e = 0; e < elements; e++) {
    if (read_info_word_is_start(info->words[2 * e])) path_count = read_info_word_count(info->words[2 * e]);
    if (path_count == 0) continue;
    counts[oriented_id_get_index(static_cast<uint32_t>(info->words[2 * e + 1]))]++;
    last = e;
  }
  uint64_t total = 0;
  for (uint64_t i = 0; i <= fragments; i++) {
    const uint64_t c = counts[i];
    counts[i] = total;
    total += c;
  }
  info->offsets = bit_field_array_new_for_max(fragments + 1, total);
  for (uint64_t i = 0; i <= fragments; i++) bit_field_array_set(info->offsets, i, counts[i]);
  info->occurrences = bit_field_array_new_for_max(total, 2 * last + 1);
  path_count = 0;
  for (uint64_t e = 0; e < elements; e++) {
    if (read_info_word_is_start(info->words[2 * e])) path_count = read_info_word_count(info->words[2 * e]);
    if (path_count == 0) continue;
    const auto f = static_cast<uint32_t>(info->words[2 * e + 1]);
    bit_field_array_set(info->occurrences, counts[oriented_id_get_index(f)]++, e << 1 | f >> 31);
  }
  free(counts);
  read_info_sort_occurrences(info);
}

void read_info_sort_occurrences(read_info_t *info) {
  if (info->offsets == nullptr) {
    printf("Error: Read info must be made searchable before it can be sorted\n");
    fflush(stdout);
    ryx_exit(1);
  }
  const uint64_t total = bit_field_array_get(info->offsets, info->fragment_count);
  bit_field_array_free(info->reverse_order);
  info->reverse_order = bit_field_array_new(total, info->offsets->width);
  for (uint64_t i = 0; i < info->fragment_count; i++) {
    const uint64_t o = bit_field_array_get(info->offsets, i);
    const uint64_t end = bit_field_array_get(info->offsets, i + 1);
    bit_field_array_sort_range(info->occurrences, o, end, read_info_compare_continuations, info);
    for (uint64_t j = o; j < end; j++) bit_field_array_set(info->reverse_order, j, j - o);
    read_info_reverse_context_t context = {info, o};
    bit_field_array_sort_range(info->reverse_order, o, end, read_info_compare_reverse_occurrences, &context);
  }
}

uint64_t read_info_get_occurrence_count(const read_info_t *info, oriented_id_t fragment) {
  const uint64_t i = oriented_id_get_index(fragment);
  return bit_field_array_get(info->offsets, i + 1) - bit_field_array_get(info->offsets, i);
}

read_ptr_t read_info_get_occurrence(const read_info_t *info, oriented_id_t fragment, uint64_t i) {
  const uint64_t d = bit_field_array_get(info->occurrences,
                                         bit_field_array_get(info->offsets, oriented_id_get_index(fragment)) + i);
  return (d >> 1) | (static_cast<uint64_t>((fragment >> 31) ^ (d & 1)) << 63);
}

read_ptr_t read_info_get_sorted_occurrence(const read_info_t *info, oriented_id_t fragment, uint64_t i) {
  if (!oriented_id_is_reverse(fragment)) return read_info_get_occurrence(info, fragment, i);
  const uint64_t o = bit_field_array_get(info->offsets, oriented_id_get_index(fragment));
  const uint64_t d = bit_field_array_get(info->occurrences, o + bit_field_array_get(info->reverse_order, o + i));
  return (d >> 1) | (static_cast<uint64_t>(1 ^ (d & 1)) << 63);
}

uint64_t read_info_get_sorted_index(const read_info_t *info, oriented_id_t fragment, uint64_t i) {
  return bit_field_array_get(info->reverse_order,
                             bit_field_array_get(info->offsets, oriented_id_get_index(fragment)) + i);
}

void read_info_print(const read_info_t *info) {
  uint64_t p = 0;
  while (2 * p + 1 < info->count) {
    uint64_t n;
    const uint64_t hash = read_info_hash_path(info, p, &n);
    printf("## %8.8zx  ", static_cast<size_t>(hash));
    printf("%3d:", static_cast<int>(read_info_get_count(info, p)));
    printf(" %8.8x", static_cast<uint32_t>(info->words[2 * p + 1]));
    for (uint64_t e = p + 1; e < p + n; e++) {
      printf(" <%3d>", read_info_word_distance(info->words[2 * e]));
      printf(" %8.8x", static_cast<uint32_t>(info->words[2 * e + 1]));
    }
    printf("\n");
    p += n;
  }
}

void read_info_print_stats(const read_info_t *info) {
  printf("\nRead info:\n");
  printf("  length  %12zu\n", static_cast<size_t>(info->count));
  printf("  alloc   %12zu\n", static_cast<size_t>(info->capacity));
}

void read_info_print_path_block(const read_info_t *info, read_ptr_t read_ptr, oriented_id_t fragment, int side) {
  constexpr int kColumns = 5;
  const char *filler = "              ";  // one empty element, 14 characters
  if (read_ptr == kReadPtrNone) {
    if (side == 0) {
      for (int i = 0; i < kColumns - 1; i++) printf("%s", filler);
      printf("%8.8x", fragment);
    } else {
      printf("%8.8x", fragment);
      for (int i = 0; i < kColumns - 1; i++) printf("%s", filler);
    }
    return;
  }
  read_ptr_t p = read_ptr;
  while (read_info_has_prev(info, p)) p = read_info_get_prev(info, p);
  int n = 1;
  for (read_ptr_t q = p; read_info_has_next(info, q); q = read_info_get_next(info, q)) n++;
  const int fillers = n <= kColumns - 1 ? kColumns - n : 0;
  if (side == 0) {
    for (int i = 0; i < fillers; i++) printf("%s", filler);
  }
  for (;;) {
    printf("%8.8x", read_info_get_fragment(info, p));
    if (!read_info_has_next(info, p)) break;
    printf(" %4d ", read_info_get_next_distance(info, p));
    p = read_info_get_next(info, p);
  }
  if (side != 0) {
    for (int i = 0; i < fillers; i++) printf("%s", filler);
  }
}

void read_info_write(FILE *file, const read_info_t *info) {
  if (info == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u64(file, info->count);
  bin_file_write_u64(file, info->capacity);
  bin_file_write_u32(file, info->fragment_count);
  large_file_write(info->words, info->count * sizeof(int32_t), file);
  bit_field_array_write(file, info->offsets);
  bit_field_array_write(file, info->occurrences);
  bit_field_array_write(file, info->reverse_order);
}

read_info_t *read_info_read(FILE *file, uint32_t fragment_count) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("presence byte is %llu, not 0 or 1", present);
  const uint64_t count = bin_file_read_u64(file);
  const uint64_t capacity = bin_file_read_u64(file);
  const uint32_t stored_fragments = bin_file_read_u32(file);
  if (stored_fragments != fragment_count) {
    fprintf(stderr, "Error, in read_info_read fragment_count != info->fragment_count\n");
    ryx_exit(1);
  }
  if (capacity < count) bad_piece("capacity %llu is below the word count %llu", capacity, count);
  // What the growth rule can leave: 1024 words, doubling, then steps.
  const uint64_t plausible = count < kGrowthStep ? (count * 2 > kInitialCapacity ? count * 2 : kInitialCapacity)
                                                 : count + kGrowthStep;
  if (capacity > plausible) bad_piece("capacity %llu is implausible for %llu words", capacity, count);
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && count > static_cast<uint64_t>(left) / sizeof(int32_t)) {
    bad_piece("%llu words do not fit in the %llu bytes left in the file", count, static_cast<uint64_t>(left));
  }
  auto *info = static_cast<read_info_t *>(ryx_calloc(sizeof(read_info_t)));
  info->fragment_count = fragment_count;
  info->count = count;
  set_capacity(info, capacity);
  const size_t bytes = count * sizeof(int32_t);
  if (large_file_read(info->words, bytes, file) != bytes) bad_piece("the file ends inside the %llu words", count);
  if (count > 0 && !read_info_word_is_start(info->words[0])) {
    bad_piece("the first word %#llx starts no path", static_cast<uint32_t>(info->words[0]));
  }
  info->offsets = bit_field_array_read(file);
  info->occurrences = bit_field_array_read(file);
  info->reverse_order = bit_field_array_read(file);
  const bool any = info->offsets != nullptr || info->occurrences != nullptr || info->reverse_order != nullptr;
  if (any) {
    if (info->offsets == nullptr || info->occurrences == nullptr || info->reverse_order == nullptr) {
      bad_piece("the occurrence index is incomplete");
    }
    if (count % 2 != 1 || info->words[count - 1] != kTerminator) bad_piece("an indexed info is not finished");
    if (info->offsets->count != static_cast<uint64_t>(fragment_count) + 1) {
      bad_piece("%llu offsets for %llu fragments", info->offsets->count, fragment_count);
    }
    const uint64_t total = bit_field_array_get(info->offsets, fragment_count);
    if (info->occurrences->count != total || info->reverse_order->count != total) {
      bad_piece("the index arrays do not hold the %llu occurrences the offsets give", total);
    }
  }
  return info;
}
