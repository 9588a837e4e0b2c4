#include "fm/index/rotation_sort.h"

#include <algorithm>
#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "fm/index/index_buffer.h"

namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFFu;

// Flag bits kept in the input while it is sorted. L marks position p when
// the rotation at p is larger than the one at p + 1 (which reads x[p + 1]
// and then the rotation at p); LMS marks a position that is not L while
// p - 1 is.
template <typename T>
struct Marks;
template <>
struct Marks<uint8_t> {
  static constexpr uint8_t kL = 0x80, kLms = 0x40, kSymbol = 0x3F;
};
template <>
struct Marks<uint32_t> {
  static constexpr uint32_t kL = 1u << 31, kLms = 1u << 30, kSymbol = (1u << 30) - 1;
};

struct Bucket {
  uint32_t start;    // first row
  uint32_t size;     // rows
  uint32_t lms;      // LMS positions
  uint32_t pointer;  // moving insertion point
};

void check_length(unsigned int n) {
  if (n > kMaxRotationLength) {
    fprintf(stderr, "Sequence of %u bases is too long to index (at most %u bases, separator included).\n", n,
            kMaxRotationLength);
    fflush(stderr);
    ryx_exit(1);
  }
}

inline uint32_t next_position(uint32_t p, uint32_t n) { return p + 1 == n ? 0 : p + 1; }

// Scans of the output touch the input at random places; fetching the
// symbol of the entry this far ahead hides most of that latency.
constexpr uint32_t kAhead = 42;

template <typename T>
inline void prefetch_ahead(const T *x, const uint32_t *sa, uint32_t i, uint32_t end) {
  if (i < end) {
    const uint32_t p = sa[i];
    if (p != kEmpty) __builtin_prefetch(&x[p]);
  }
}

// One inducing pass over the output. Left to right: every placed p that is
// not L induces p + 1 at the front of its bucket (p + 1 is larger than its
// successor p). Right to left: every placed L position p induces p + 1 at
// the back of its bucket.
template <typename T>
void induce(const T *x, uint32_t n, uint32_t *sa, Bucket *buckets, uint32_t alphabet) {
  using M = Marks<T>;
  for (uint32_t c = 0; c < alphabet; c++) buckets[c].pointer = buckets[c].start;
  for (uint32_t i = 0; i < n; i++) {
    prefetch_ahead(x, sa, i + kAhead, n);
    const uint32_t p = sa[i];
    if (p == kEmpty || (x[p] & M::kL)) continue;
    const uint32_t q = next_position(p, n);
    sa[buckets[x[q] & M::kSymbol].pointer++] = q;
  }
  for (uint32_t c = 0; c < alphabet; c++) buckets[c].pointer = buckets[c].start + buckets[c].size;
  for (uint32_t i = n; i-- > 0;) {
    if (i >= kAhead) prefetch_ahead(x, sa, i - kAhead, n);
    const uint32_t p = sa[i];
    if (p == kEmpty || !(x[p] & M::kL)) continue;
    const uint32_t q = next_position(p, n);
    sa[--buckets[x[q] & M::kSymbol].pointer] = q;
  }
}

// True when the LMS substrings starting at p and q (read backward up to
// and including the next LMS position) differ in a symbol or a flag.
template <typename T>
bool lms_substrings_differ(const T *x, uint32_t n, uint32_t p, uint32_t q) {
  using M = Marks<T>;
  for (uint32_t d = 0; d <= n; d++) {
    if (x[p] != x[q]) return true;
    if (d > 0 && (x[p] & M::kLms)) return false;
    p = p == 0 ? n - 1 : p - 1;
    q = q == 0 ? n - 1 : q - 1;
  }
  return false;
}

template <typename T>
void sort_rotations(T *x, uint32_t n, uint32_t alphabet, uint32_t *sa, uint32_t *repeats) {
  using M = Marks<T>;
  if (n == 0) return;
  if (n == 1) {
    sa[0] = 0;
    return;
  }
  // A string of one symbol: all rotations are equal, kept in position
  // order, and the string is n copies of that symbol.
  uint32_t p0 = 0;
  while (p0 + 1 < n && x[p0] == x[p0 + 1]) p0++;
  if (p0 + 1 == n) {
    for (uint32_t i = 0; i < n; i++) sa[i] = i;
    if (repeats != nullptr) *repeats = n;
    return;
  }

  IndexBuffer<Bucket> buckets(alphabet);
  for (uint32_t p = 0; p < n; p++) buckets[x[p]].size++;

  // Types in one cyclic pass from p0, whose neighbour differs; an equal
  // neighbour passes on the type of the position before.
  uint32_t lms_count = 0;
  bool previous_l = x[p0] > x[p0 + 1];
  if (previous_l) x[p0] |= M::kL;
  uint32_t p = p0;
  for (uint32_t step = 1; step < n; step++) {
    p = next_position(p, n);
    const T a = x[p] & M::kSymbol;
    const T b = x[next_position(p, n)] & M::kSymbol;
    const bool l = a > b ? true : (a < b ? false : previous_l);
    if (l) {
      x[p] |= M::kL;
    } else if (previous_l) {
      x[p] |= M::kLms;
      buckets[a].lms++;
      lms_count++;
    }
    previous_l = l;
  }
  if (!(x[p0] & M::kL) && previous_l) {
    x[p0] |= M::kLms;
    buckets[x[p0] & M::kSymbol].lms++;
    lms_count++;
  }

  uint32_t row = 0;
  for (uint32_t c = 0; c < alphabet; c++) {
    buckets[c].start = row;
    row += buckets[c].size;
  }

  // LMS positions in position order at the back of their buckets; the
  // induced order then sorts their LMS substrings.
  std::fill(sa, sa + n, kEmpty);
  for (uint32_t c = 0; c < alphabet; c++) buckets[c].pointer = buckets[c].start + buckets[c].size - buckets[c].lms;
  for (uint32_t q = 0; q < n; q++)
    if (x[q] & M::kLms) sa[buckets[x[q] & M::kSymbol].pointer++] = q;
  induce(x, n, sa, buckets.data(), alphabet);

  // LMS positions in induced order to the front; no two are neighbours, so
  // m <= n / 2 and the names fit at m + position / 2.
  const uint32_t m = lms_count;
  uint32_t k = 0;
  for (uint32_t i = 0; i < n; i++) {
    const uint32_t q = sa[i];
    if (q != kEmpty && (x[q] & M::kLms)) sa[k++] = q;
  }
  std::fill(sa + m, sa + n, kEmpty);
  uint32_t names = 0;
  uint32_t previous = kEmpty;
  for (uint32_t i = 0; i < m; i++) {
    const uint32_t q = sa[i];
    if (previous == kEmpty || lms_substrings_differ(x, n, q, previous)) names++;
    sa[m + q / 2] = names - 1;
    previous = q;
  }

  if (names < m) {
    // The names in position order form the reduced string at the back of
    // the output; its rotations, read backward too, order the LMS
    // rotations.
    uint32_t j = n;
    for (uint32_t i = n; i-- > m;)
      if (sa[i] != kEmpty) sa[--j] = sa[i];
    uint32_t *reduced = sa + (n - m);
    sort_rotations<uint32_t>(reduced, m, names, sa, repeats);
    j = 0;
    for (uint32_t q = 0; q < n; q++)
      if (x[q] & M::kLms) reduced[j++] = q;
    for (uint32_t i = 0; i < m; i++) sa[i] = reduced[sa[i]];
  }

  // Sorted LMS positions at the back of their buckets, then the final
  // induce. Each moves to a row at or after its own index.
  std::fill(sa + m, sa + n, kEmpty);
  for (uint32_t c = 0; c < alphabet; c++) buckets[c].pointer = buckets[c].start + buckets[c].size;
  for (uint32_t i = m; i-- > 0;) {
    const uint32_t q = sa[i];
    sa[i] = kEmpty;
    sa[--buckets[x[q] & M::kSymbol].pointer] = q;
  }
  induce(x, n, sa, buckets.data(), alphabet);

  for (uint32_t q = 0; q < n; q++) x[q] &= M::kSymbol;
}

}  // namespace

void make_reverse_rotation_array_byte(unsigned char *x, unsigned int n, int alphabet, unsigned int *out,
                                      unsigned int *repeats) {
  check_length(n);
  if (alphabet < 1 || alphabet > 64) {
    fprintf(stderr, "Rotation sort: alphabet of %d symbols is not supported.\n", alphabet);
    fflush(stderr);
    ryx_exit(1);
  }
  // The bucket arrays are indexed by symbol: refuse anything outside.
  unsigned char largest = 0;
  for (unsigned int p = 0; p < n; p++) largest = std::max(largest, x[p]);
  if (largest >= alphabet) {
    fprintf(stderr, "Rotation sort: symbol %u is outside the alphabet of %d symbols.\n", largest, alphabet);
    fflush(stderr);
    ryx_exit(1);
  }
  sort_rotations<uint8_t>(x, n, static_cast<uint32_t>(alphabet), out, repeats);
}

void make_reverse_rotation_array(unsigned char *x, unsigned int n, int alphabet, unsigned int *out,
                                 unsigned int *repeats) {
  make_reverse_rotation_array_byte(x, n, alphabet, out, repeats);
}

void make_reverse_rotation_array_int(uint32_t *x, unsigned int n, int alphabet, unsigned int *out,
                                     unsigned int *repeats) {
  check_length(n);
  sort_rotations<uint32_t>(x, n, static_cast<uint32_t>(alphabet), out, repeats);
}

std::unique_ptr<NucleotideArray> make_burrows_wheeler_sequence(unsigned char *x, unsigned int n,
                                                               unsigned int sequence_id, int sampling_shift) {
  check_length(n);
  if (n == 0) {
    fputs("Cannot index a sequence of length 0.\n", stderr);
    fflush(stderr);
    ryx_exit(1);
  }
  // The order is written in full before it is read: plain fail-fast
  // memory, no zeroing.
  uint32_t *sa = static_cast<uint32_t *>(ryx_malloc(static_cast<size_t>(n) * sizeof(uint32_t)));
  unsigned int repeats = 0;
  make_reverse_rotation_array(x, n, 6, sa, &repeats);
  if (repeats != 0) {
    // k copies of a word: index one copy.
    n /= repeats;
    unsigned int again = 0;
    make_reverse_rotation_array(x, n, 6, sa, &again);
  }
  std::unique_ptr<NucleotideArray> array = std::make_unique<NucleotideArray>(n, 1, n);
  array->init_position_sampling(sampling_shift);
  NucleotideArraySequenceWriter writer(array.get(), sequence_id, n);
  for (unsigned int i = 0; i < n; i++) {
    if (i + kAhead < n) __builtin_prefetch(&x[next_position(sa[i + kAhead], n)]);
    const unsigned int q = next_position(sa[i], n);
    writer.set(i, q, x[q]);
  }
  ryx_free(sa);
  writer.finish();
  array->finish();
  return array;
}
