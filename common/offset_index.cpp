#include "common/offset_index.h"

#include <cstdio>

#include "common/array_list.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

constexpr int64_t kMaxBlockRecords = 1024;
constexpr int64_t kMaxDeviationSpan = 1023;
constexpr int32_t kMaxSkip = 15;

// Integer interpolation between y0 at p = 0 and y0 + rise at p = d. Splitting
// the rise into quotient and remainder keeps the product from overflowing.
int64_t interpolate(int64_t y0, int64_t rise, int64_t d, int64_t p) {
  if (d == 0) return y0;
  return y0 + (rise / d) * p + p * (rise % d) / d;
}

[[noreturn]] void count_bits_error() {
  fprintf(stderr, "Error in count bits\n");
  ryx_exit(1);
}

// Markers a forward scan from base passes before it reaches record i:
// earlier records starting after base, and extra markers between base and the
// record. Counting stops above the largest storable count.
int32_t count_skips(const int64_t *starts, int64_t i, int64_t base, const int64_t *extra, int64_t extra_count) {
  int32_t count = 0;
  for (int64_t j = i - 1; j >= 0 && starts[j] > base && count <= kMaxSkip; j--) count++;
  if (extra != nullptr && extra_count > 0) {
    for (int64_t t = offset_index_find_last_below(extra, extra_count, starts[i]);
         t >= 0 && extra[t] > base && count <= kMaxSkip; t--)
      count++;
  }
  return count;
}

}  // namespace

int64_t offset_index_block_base(const offset_index_block_t *block, int64_t i) {
  return interpolate(block->base_first, block->base_last - block->base_first, block->last - block->first,
                     i - block->first);
}

int32_t offset_index_block_get_skip(const offset_index_block_t *block, int64_t i) {
  uint32_t width = block->skip_width;
  if (width == 0) return 0;
  if (width != 1 && width != 2 && width != 4 && width != 8) count_bits_error();
  int64_t per_byte = 8 / width;
  int64_t p = i - block->first;
  uint32_t shift = static_cast<uint32_t>(p % per_byte) * width;
  return (block->skips[p / per_byte] >> shift) & ((1u << width) - 1);
}

void offset_index_block_set_skip(offset_index_block_t *block, int64_t i, int32_t count) {
  uint32_t width = block->skip_width;
  if (width != 1 && width != 2 && width != 4 && width != 8) count_bits_error();
  int64_t per_byte = 8 / width;
  int64_t p = i - block->first;
  uint32_t shift = static_cast<uint32_t>(p % per_byte) * width;
  block->skips[p / per_byte] |= static_cast<uint8_t>(static_cast<uint32_t>(count) << shift);
}

int64_t offset_index_find_last_below(const int64_t *values, int64_t count, int64_t key) {
  if (count <= 0) return -1;
  int64_t lo = 0;
  int64_t hi = count - 1;
  int64_t mid = 0;
  while (lo <= hi) {
    mid = lo + (hi - lo) / 2;
    if (values[mid] < key)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return values[mid] >= key ? mid - 1 : mid;
}

offset_index_block_t *offset_index_build_block(const int64_t *starts, int64_t first, int64_t last,
                                               const int64_t *extra, int64_t extra_count, int64_t margin) {
  const int64_t d = last - first;
  const int64_t rise = starts[last] - starts[first];

  // Deviation of each start from the line through the end records; the
  // line is lowered by the largest one (and the margin) so that it never
  // lies after a record start.
  int64_t hi = 0;
  int64_t lo = 0;
  for (int64_t i = first; i <= last; i++) {
    int64_t dev = interpolate(starts[first], rise, d, i - first) - starts[i];
    if (dev > hi) hi = dev;
    if (dev < lo) lo = dev;
    if (hi - lo > kMaxDeviationSpan) return nullptr;
  }

  offset_index_block_t probe = {first, last, starts[first] - (hi + margin), starts[last] - (hi + margin), 0, nullptr};
  int32_t largest = 0;
  for (int64_t i = first; i <= last; i++) {
    int32_t c = count_skips(starts, i, offset_index_block_base(&probe, i), extra, extra_count);
    if (c > kMaxSkip) return nullptr;
    if (c > largest) largest = c;
  }

  auto *block = static_cast<offset_index_block_t *>(ryx_malloc(sizeof(offset_index_block_t)));
  *block = probe;
  if (largest == 0) return block;
  block->skip_width = largest == 1 ? 1 : largest <= 3 ? 2 : 4;
  int64_t per_byte = 8 / block->skip_width;
  block->skips = static_cast<uint8_t *>(ryx_calloc(static_cast<size_t>(d / per_byte + 1)));
  for (int64_t i = first; i <= last; i++) {
    int32_t c = count_skips(starts, i, offset_index_block_base(block, i), extra, extra_count);
    if (c > 0) offset_index_block_set_skip(block, i, c);
  }
  return block;
}

offset_index_t *offset_index_build(const int64_t *starts, int64_t n, const int64_t *extra, int64_t extra_count,
                                   int64_t margin) {
  array_list_t *blocks = array_list_new(sizeof(offset_index_block_t));
  for (int64_t start = 0; start < n;) {
    int64_t k = n - start < kMaxBlockRecords ? n - start : kMaxBlockRecords;
    offset_index_block_t *block;
    while ((block = offset_index_build_block(starts, start, start + k - 1, extra, extra_count, margin)) == nullptr)
      k = (k + 1) / 2;
    // The index keeps the blocks by value; the skip array moves with it.
    array_list_add(blocks, block);
    ryx_free(block);
    start += k;
  }
  auto *index = static_cast<offset_index_t *>(ryx_malloc(sizeof(offset_index_t)));
  index->block_count = array_list_get_count(blocks);
  index->blocks = static_cast<offset_index_block_t *>(array_list_take_items(blocks));
  return index;
}

offset_index_block_t *offset_index_find_block(const offset_index_t *index, int64_t i) {
  int64_t lo = 0;
  int64_t hi = static_cast<int64_t>(index->block_count);
  while (lo < hi) {
    int64_t mid = lo + (hi - lo - 1) / 2;
    offset_index_block_t *block = &index->blocks[mid];
    if (i < block->first)
      hi = mid;
    else if (i > block->last)
      lo = mid + 1;
    else
      return block;
  }
  return nullptr;
}

int64_t offset_index_lookup(const offset_index_t *index, int64_t i, int32_t *skip) {
  const offset_index_block_t *block = offset_index_find_block(index, i);
  *skip = offset_index_block_get_skip(block, i);
  return offset_index_block_base(block, i);
}

offset_index_t *offset_index_free(offset_index_t *index) {
  if (index == nullptr) return nullptr;
  for (uint64_t b = 0; b < index->block_count; b++) ryx_free(index->blocks[b].skips);
  ryx_free(index->blocks);
  ryx_free(index);
  return nullptr;
}

offset_index_block_t *offset_index_block_free(offset_index_block_t *block) {
  if (block == nullptr) return nullptr;
  ryx_free(block->skips);
  ryx_free(block);
  return nullptr;
}
