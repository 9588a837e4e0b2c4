#include "refmap/align/sort.h"

#include <cstring>
#include <utility>

#include "common/memory.h"

namespace {

// Ranges shorter than or equal to this many elements are left to the
// insertion pass of the cut-off sorts.
constexpr int64_t kCutOff = 16;

// Taking the smaller part first keeps every range below the top of the stack
// at least as large as all ranges above it together, so the stack holds at
// most log2(2^32) + 2 ranges; the capacity leaves room to spare.
constexpr int kStackCapacity = 72;

struct range_t {
  int64_t lo, hi;  // indexes of the first and the last element
};

// Pushes the two parts of a partition, the larger first, so that the smaller
// one is sorted next. A part of fewer than two elements is not pushed.
inline void push_parts(range_t *stack, int &depth, range_t left, range_t right) {
  bool left_open = left.hi > left.lo;
  bool right_open = right.hi > right.lo;
  if (left_open && right_open) {
    if (left.hi - left.lo < right.hi - right.lo) std::swap(left, right);
    stack[depth++] = left;
    stack[depth++] = right;
  } else if (left_open) {
    stack[depth++] = left;
  } else if (right_open) {
    stack[depth++] = right;
  }
}

inline void note_depth(sort_stats_t *stats, int depth) {
  if (stats != nullptr && depth > stats->max_depth) stats->max_depth = depth;
}

// Partition of the cut-off sorts: the pivot is the middle element, moved to
// hi; elements equal to it stop both scans and are swapped, which keeps the
// parts balanced when many keys are equal. Returns the pivot's final index
// and the last index of the left part in j.
template <typename T>
inline int64_t partition_balanced(T *a, int64_t lo, int64_t hi, int64_t &j_out, sort_stats_t *stats) {
  int64_t mid = lo + (hi - lo) / 2;
  std::swap(a[mid], a[hi]);
  const T p = a[hi];
  int64_t i = lo, j = hi - 1;
  uint64_t steps = 0;
  for (;;) {
    while (a[j] > p) {
      j--;
      steps++;
      if (j < i) goto done;
    }
    while (a[i] < p) {
      i++;
      steps++;
    }
    if (j < i) goto done;
    std::swap(a[i], a[j]);
    i++;
    j--;
    steps += 2;
  }
done:
  std::swap(a[i], a[hi]);
  if (stats != nullptr) stats->scan_steps += steps;
  j_out = j;
  return i;
}

// Partition of the plain quicksorts: the i-scan passes over elements equal
// to the pivot.
template <typename T>
inline int64_t partition_plain(T *a, int64_t lo, int64_t hi, int64_t &j_out, sort_stats_t *stats) {
  int64_t mid = lo + (hi - lo) / 2;
  std::swap(a[mid], a[hi]);
  const T p = a[hi];
  int64_t i = lo, j = hi - 1;
  uint64_t steps = 0;
  for (;;) {
    while (a[j] > p) {
      j--;
      steps++;
      if (j < i) goto done;
    }
    while (a[i] <= p) {
      i++;
      steps++;
      if (j < i) goto done;
    }
    std::swap(a[i], a[j]);
    i++;
    j--;
    steps += 2;
    if (j < i) goto done;
  }
done:
  std::swap(a[i], a[hi]);
  if (stats != nullptr) stats->scan_steps += steps;
  j_out = j;
  return i;
}

template <typename T>
void insertion_pass(T *a, int64_t n) {
  for (int64_t k = 1; k < n; k++) {
    T v = a[k];
    int64_t m = k;
    while (m > 0 && a[m - 1] > v) {
      a[m] = a[m - 1];
      m--;
    }
    a[m] = v;
  }
}

template <typename T, bool kWithCutOff>
void quicksort_core(T *a, uint32_t count, sort_stats_t *stats) {
  if (stats != nullptr) *stats = sort_stats_t{};
  if (count < 2) return;
  range_t stack[kStackCapacity];
  int depth = 0;
  stack[depth++] = range_t{0, static_cast<int64_t>(count) - 1};
  note_depth(stats, depth);
  while (depth > 0) {
    range_t r = stack[--depth];
    if (kWithCutOff && r.hi - r.lo < kCutOff) continue;
    int64_t j;
    int64_t i = kWithCutOff ? partition_balanced(a, r.lo, r.hi, j, stats) : partition_plain(a, r.lo, r.hi, j, stats);
    if (stats != nullptr) stats->partitions++;
    push_parts(stack, depth, range_t{r.lo, j}, range_t{i + 1, r.hi});
    note_depth(stats, depth);
  }
  if (kWithCutOff) insertion_pass(a, count);
}

}  // namespace

void sort_u32_array(sort_u32_array_t array) { quicksort_core<uint32_t, true>(array.items, array.count, nullptr); }
void sort_u32(uint32_t *items, uint32_t count) { sort_u32_array(sort_u32_array_t{items, count}); }
void sort_i32_array(sort_i32_array_t array) { quicksort_core<int32_t, true>(array.items, array.count, nullptr); }
void sort_i32(int32_t *items, uint32_t count) { sort_i32_array(sort_i32_array_t{items, count}); }
void sort_u64_array(sort_u64_array_t array) { quicksort_core<uint64_t, true>(array.items, array.count, nullptr); }
void sort_u64(uint64_t *items, uint32_t count) { sort_u64_array(sort_u64_array_t{items, count}); }
void sort_i64_array(sort_i64_array_t array) { quicksort_core<int64_t, true>(array.items, array.count, nullptr); }
void sort_i64(int64_t *items, uint32_t count) { sort_i64_array(sort_i64_array_t{items, count}); }

void quicksort_u32_array(sort_u32_array_t array) { quicksort_core<uint32_t, false>(array.items, array.count, nullptr); }
void quicksort_u32(uint32_t *items, uint32_t count) { quicksort_u32_array(sort_u32_array_t{items, count}); }
void quicksort_i32_array(sort_i32_array_t array) { quicksort_core<int32_t, false>(array.items, array.count, nullptr); }
void quicksort_i32(int32_t *items, uint32_t count) { quicksort_i32_array(sort_i32_array_t{items, count}); }
void quicksort_u64_array(sort_u64_array_t array) { quicksort_core<uint64_t, false>(array.items, array.count, nullptr); }
void quicksort_u64(uint64_t *items, uint32_t count) { quicksort_u64_array(sort_u64_array_t{items, count}); }
void quicksort_i64_array(sort_i64_array_t array) { quicksort_core<int64_t, false>(array.items, array.count, nullptr); }
void quicksort_i64(int64_t *items, uint32_t count) { quicksort_i64_array(sort_i64_array_t{items, count}); }

void sort_u64_measured(uint64_t *items, uint32_t count, sort_stats_t *stats) {
  quicksort_core<uint64_t, true>(items, count, stats);
}

void quicksort_u64_measured(uint64_t *items, uint32_t count, sort_stats_t *stats) {
  quicksort_core<uint64_t, false>(items, count, stats);
}

void bubble_sort(void *base, size_t count, size_t size, bubble_sort_compare_fn compare, void *context) {
  if (count < 2) return;
  auto *bytes = static_cast<uint8_t *>(base);
  auto *scratch = static_cast<uint8_t *>(ryx_malloc(size));
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (size_t k = 0; k + 1 < count; k++) {
      uint8_t *a = bytes + k * size;
      uint8_t *b = a + size;
      if (compare(a, b, context) != 0) {
        memcpy(scratch, a, size);
        memcpy(a, b, size);
        memcpy(b, scratch, size);
        swapped = true;
      }
    }
  }
  ryx_free(scratch);
}
