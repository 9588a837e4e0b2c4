// Generic sort: quicksort with a random pivot and a three-way split, and
// insertion sort below 32 elements.
#include "denovo/reads/generic_sort.h"

#include <cstdlib>
#include <cstring>

namespace {

// Ranges shorter than this are finished by insertion.
constexpr uint64_t kInsertionLimit = 32;

inline uint8_t *element(void *base, uint64_t i, size_t size) { return static_cast<uint8_t *>(base) + i * size; }

// A pivot index below n from the C library generator; two draws when n is
// beyond what one draw can reach.
uint64_t random_index(uint64_t n) {
  uint64_t r = static_cast<uint64_t>(rand());
  if (n > static_cast<uint64_t>(RAND_MAX))
    r = r * (static_cast<uint64_t>(RAND_MAX) + 1) + static_cast<uint64_t>(rand());
  return r % n;
}

}  // namespace

void generic_sort_swap(void *a, void *b, size_t element_size) {
  if (a == b) return;
  uint8_t *x = static_cast<uint8_t *>(a);
  uint8_t *y = static_cast<uint8_t *>(b);
  uint8_t tmp[32];
  while (element_size >= sizeof tmp) {
    memcpy(tmp, x, sizeof tmp);
    memcpy(x, y, sizeof tmp);
    memcpy(y, tmp, sizeof tmp);
    x += sizeof tmp;
    y += sizeof tmp;
    element_size -= sizeof tmp;
  }
  if (element_size > 0) {
    memcpy(tmp, x, element_size);
    memcpy(x, y, element_size);
    memcpy(y, tmp, element_size);
  }
}

void generic_insertion_sort(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare,
                            void *context) {
  for (uint64_t i = 1; i < n; i++) {
    for (uint64_t j = i; j > 0; j--) {
      uint8_t *left = element(base, j - 1, element_size);
      uint8_t *right = element(base, j, element_size);
      if (compare(left, right, context) < 0) break;
      generic_sort_swap(left, right, element_size);
    }
  }
}

uint64_t generic_sort_partition(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare,
                                void *context, uint64_t pivot) {
  const int64_t last = static_cast<int64_t>(n) - 1;
  uint8_t *p = element(base, static_cast<uint64_t>(last), element_size);
  generic_sort_swap(element(base, pivot, element_size), p, element_size);
  int64_t i = 0;
  int64_t j = last;
  for (;;) {
    while (compare(element(base, static_cast<uint64_t>(i), element_size), p, context) < 0) i++;
    while (j >= 0 && compare(element(base, static_cast<uint64_t>(j), element_size), p, context) >= 0) j--;
    if (i > j) break;
    generic_sort_swap(element(base, static_cast<uint64_t>(i), element_size),
                      element(base, static_cast<uint64_t>(j), element_size), element_size);
  }
  generic_sort_swap(element(base, static_cast<uint64_t>(i), element_size), p, element_size);
  return static_cast<uint64_t>(i);
}

void generic_sort_partition3(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare, void *context,
                             uint64_t pivot, uint64_t *equal_begin, uint64_t *equal_end) {
  // The pivot waits at index 0 while the rest is split into
  // [1, lt) below, [lt, i) equal, [i, gt) unseen and [gt, n) above.
  uint8_t *p = element(base, 0, element_size);
  generic_sort_swap(element(base, pivot, element_size), p, element_size);
  uint64_t lt = 1, i = 1, gt = n;
  while (i < gt) {
    uint8_t *e = element(base, i, element_size);
    const int c = compare(e, p, context);
    if (c < 0) {
      generic_sort_swap(element(base, lt, element_size), e, element_size);
      lt++;
      i++;
    } else if (c > 0) {
      gt--;
      generic_sort_swap(e, element(base, gt, element_size), element_size);
    } else {
      i++;
    }
  }
  // The last element below the pivot takes its place at the front, and the
  // pivot joins the equal run.
  generic_sort_swap(p, element(base, lt - 1, element_size), element_size);
  *equal_begin = lt - 1;
  *equal_end = gt;
}

void generic_sort(void *base, uint64_t n, size_t element_size, generic_sort_compare_t compare, void *context) {
  // The smaller side is sorted by recursion and the larger one by the loop,
  // so the recursion depth stays logarithmic whatever pivots are drawn.
  while (n >= kInsertionLimit) {
    uint64_t equal_begin, equal_end;
    generic_sort_partition3(base, n, element_size, compare, context, random_index(n), &equal_begin, &equal_end);
    const uint64_t below = equal_begin;
    const uint64_t above = n - equal_end;
    void *above_base = element(base, equal_end, element_size);
    if (below < above) {
      generic_sort(base, below, element_size, compare, context);
      base = above_base;
      n = above;
    } else {
      generic_sort(above_base, above, element_size, compare, context);
      n = below;
    }
  }
  generic_insertion_sort(base, n, element_size, compare, context);
}
