#include "refmap/ref_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include <sys/mman.h>

#include "common/memory.h"
#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "common/thread_group.h"
#include "refmap/ref_block.h"

namespace {

// The jobs of one pass; every thread of the pass claims the next one.
struct job_table_t {
  ref_index_job_t **jobs;
  int32_t count;
  int32_t next;  // claimed with an atomic add
};

ref_index_job_t *claim_job(void *args) {
  auto *table = static_cast<job_table_t *>(static_cast<thread_args_t *>(args)->context);
  int32_t k = __atomic_fetch_add(&table->next, 1, __ATOMIC_RELAXED);
  return k < table->count ? table->jobs[k] : nullptr;
}

typedef void (*kernel_fn)(const ref_index_job_t *job, uint32_t first, uint32_t end);

// Ranges of positions per thread of a build.
constexpr int32_t kJobsPerThread = 4;

// Works through a job in slices, reporting progress after each one.
void run_job(const ref_index_job_t *job, kernel_fn kernel) {
  for (uint32_t first = job->first; first < job->end;) {
    uint32_t end = job->end - first > kRefIndexSlice ? first + kRefIndexSlice : job->end;
    kernel(job, first, end);
    if (job->progress != nullptr) {
      ref_index_progress_t *progress = job->progress;
      pthread_mutex_lock(&progress->mutex);
      progress->done += end - first;
      if (progress->total > 0) progress_meter_update(progress->meter, progress->done / progress->total);
      pthread_mutex_unlock(&progress->mutex);
    }
    first = end;
  }
}

// The counter of a hash's bucket b is offsets[b + 1]: counting leaves the
// bucket sizes one place up, the prefix sum turns them into bucket starts
// one place up, and filling claims slots from there, which leaves every
// counter at its bucket's end, the start of the next bucket: offsets[b] is
// then the start of bucket b without a shift over the whole array.
inline uint32_t counter_of(uint32_t h) { return seed_hash_bucket(h) + 1; }

// Positions are hashed a group at a time and the group's counters are
// prefetched before its atomic adds: a locked add waits for its cache line
// and lets no other memory access pass it, so without the prefetches every
// position would pay a full miss on the 64 MiB offset table in turn.
constexpr uint32_t kKernelGroup = 16;

template <bool kColour>
inline void count_positions(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  const uint8_t *bases = job->bases;
  const uint32_t *words = job->mask_words;
  uint32_t *offsets = job->offsets;
  // A ring of the buckets of the next kKernelGroup positions: the counter of
  // a position is prefetched a whole group before its add.
  uint32_t buckets[kKernelGroup];
  uint32_t p = first;
  if (end - first >= 2 * kKernelGroup) {
    for (uint32_t i = 0; i < kKernelGroup; i++) {
      buckets[i] = counter_of(seed_hash(bases, p + i, words, kColour ? 1 : 0));
      __builtin_prefetch(&offsets[buckets[i]], 1, 3);
    }
    for (; p + kKernelGroup < end; p++) {
      const uint32_t i = (p - first) % kKernelGroup;
      const uint32_t bucket = buckets[i];
      buckets[i] = counter_of(seed_hash(bases, p + kKernelGroup, words, kColour ? 1 : 0));
      __builtin_prefetch(&offsets[buckets[i]], 1, 3);
      __atomic_fetch_add(&offsets[bucket], 1u, __ATOMIC_RELAXED);
    }
    for (uint32_t k = 0; k < kKernelGroup; k++, p++) {
      __atomic_fetch_add(&offsets[buckets[(p - first) % kKernelGroup]], 1u, __ATOMIC_RELAXED);
    }
  }
  for (; p < end; p++) {
    uint32_t h = seed_hash(bases, p, words, kColour ? 1 : 0);
    __atomic_fetch_add(&offsets[counter_of(h)], 1u, __ATOMIC_RELAXED);
  }
}

inline void put_entry(uint8_t *entries, uint32_t slot, uint32_t h, uint32_t p) {
  uint8_t *entry = entries + static_cast<uint64_t>(slot) * kRefIndexEntryBytes;
  entry[0] = seed_hash_check(h);
  memcpy(entry + 1, &p, 4);
}

template <bool kColour>
inline void fill_positions(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  const uint8_t *bases = job->bases;
  const uint32_t *words = job->mask_words;
  uint32_t *offsets = job->offsets;
  uint8_t *entries = job->entries;
  // Two rings a group apart: position p + 2G is hashed and its counter
  // prefetched, position p + G claims its slot and prefetches the entry,
  // position p writes its entry.
  constexpr uint32_t kRing = 2 * kKernelGroup;
  uint32_t hashes[kRing], slots[kRing];
  uint32_t p = first;
  if (end - first >= 2 * kRing) {
    for (uint32_t i = 0; i < kRing; i++) {
      hashes[i] = seed_hash(bases, p + i, words, kColour ? 1 : 0);
      __builtin_prefetch(&offsets[counter_of(hashes[i])], 1, 3);
    }
    for (uint32_t i = 0; i < kKernelGroup; i++) {
      slots[i] = __atomic_fetch_add(&offsets[counter_of(hashes[i])], 1u, __ATOMIC_RELAXED);
      __builtin_prefetch(entries + static_cast<uint64_t>(slots[i]) * kRefIndexEntryBytes, 1, 3);
    }
    for (; p + kRing < end; p++) {
      const uint32_t now = (p - first) % kRing, claim = (p - first + kKernelGroup) % kRing;
      put_entry(entries, slots[now], hashes[now], p);
      hashes[now] = seed_hash(bases, p + kRing, words, kColour ? 1 : 0);
      __builtin_prefetch(&offsets[counter_of(hashes[now])], 1, 3);
      slots[claim] = __atomic_fetch_add(&offsets[counter_of(hashes[claim])], 1u, __ATOMIC_RELAXED);
      __builtin_prefetch(entries + static_cast<uint64_t>(slots[claim]) * kRefIndexEntryBytes, 1, 3);
    }
    // The last 2G positions: G of them have their slots, G only hashes.
    for (uint32_t k = 0; k < kRing; k++, p++) {
      const uint32_t now = (p - first) % kRing;
      if (k >= kKernelGroup) slots[now] = __atomic_fetch_add(&offsets[counter_of(hashes[now])], 1u, __ATOMIC_RELAXED);
      put_entry(entries, slots[now], hashes[now], p);
    }
  }
  for (; p < end; p++) {
    uint32_t h = seed_hash(bases, p, words, kColour ? 1 : 0);
    put_entry(entries, __atomic_fetch_add(&offsets[counter_of(h)], 1u, __ATOMIC_RELAXED), h, p);
  }
}

// The offset and entry arrays are large and touched at random: they are
// placed on huge pages where the system offers them, so that the first
// build maps them with a few dozen page faults instead of tens of
// thousands (which a virtual machine serialises). Freed with ryx_free.
void *alloc_large(size_t size) {
#if defined(MADV_HUGEPAGE)
  constexpr size_t kHuge = size_t{1} << 21;
  void *p = nullptr;
  if (posix_memalign(&p, kHuge, size) != 0) p = nullptr;
  ryx_malloc_check(p, size);
  madvise(p, (size + kHuge - 1) & ~(kHuge - 1), MADV_HUGEPAGE);
  return p;
#else
  return ryx_malloc(size);
#endif
}

// Work over the offsets in slices, each claimed by one thread: clearing a
// reused index, and the two passes of the prefix sum (every slice adds up
// its values, then writes its running sums from its base).
enum slice_pass_t { kClearSlices, kSumSlices, kWriteSums };

struct slice_job_t {
  uint32_t *offsets;
  uint32_t *sums;  // per slice: its sum after kSumSlices, its base before kWriteSums
  int32_t slices;
  int32_t next;  // claimed with an atomic add
  slice_pass_t pass;
};

void *slice_thread(void *args) {
  auto *job = static_cast<slice_job_t *>(static_cast<thread_args_t *>(args)->context);
  constexpr size_t kTotal = static_cast<size_t>(kRefIndexBuckets) + 1;
  uint32_t *offsets = job->offsets;
  for (int32_t k; (k = __atomic_fetch_add(&job->next, 1, __ATOMIC_RELAXED)) < job->slices;) {
    const size_t from = kTotal * static_cast<size_t>(k) / static_cast<size_t>(job->slices);
    const size_t to = kTotal * static_cast<size_t>(k + 1) / static_cast<size_t>(job->slices);
    if (job->pass == kClearSlices) {
      memset(offsets + from, 0, sizeof(uint32_t) * (to - from));
    } else if (job->pass == kSumSlices) {
      uint32_t sum = 0;
      for (size_t b = from; b < to; b++) sum += offsets[b];
      job->sums[k] = sum;
    } else {
      uint32_t sum = job->sums[k];
      for (size_t b = from; b < to; b++) {
        const uint32_t count = offsets[b];
        offsets[b] = sum;
        sum += count;
      }
    }
  }
  return nullptr;
}

// Runs one pass of the job on thread_count threads.
void run_slices(slice_job_t *job, slice_pass_t pass, int32_t thread_count) {
  job->pass = pass;
  job->next = 0;
  thread_group_run(thread_count, slice_thread, job);
}

void clear_offsets(uint32_t *offsets, int32_t threads) {
  slice_job_t job{};
  job.offsets = offsets;
  job.slices = 4 * threads;
  run_slices(&job, kClearSlices, threads);
}

void run_pass(job_table_t *table, int32_t thread_count, thread_start_fn start) {
  table->next = 0;
  thread_group_run(thread_count, start, table);
}

}  // namespace

void ref_index_count_kernel_nt(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  count_positions<false>(job, first, end);
}
void ref_index_count_kernel_cs(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  count_positions<true>(job, first, end);
}
void ref_index_fill_kernel_nt(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  fill_positions<false>(job, first, end);
}
void ref_index_fill_kernel_cs(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  fill_positions<true>(job, first, end);
}

void ref_index_count_kernel(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  if (job->colour) {
    count_positions<true>(job, first, end);
  } else {
    count_positions<false>(job, first, end);
  }
}

void ref_index_fill_kernel(const ref_index_job_t *job, uint32_t first, uint32_t end) {
  if (job->colour) {
    fill_positions<true>(job, first, end);
  } else {
    fill_positions<false>(job, first, end);
  }
}

void *ref_index_count_thread(void *args) {
  while (ref_index_job_t *job = claim_job(args)) run_job(job, ref_index_count_kernel);
  return nullptr;
}

void *ref_index_fill_thread(void *args) {
  while (ref_index_job_t *job = claim_job(args)) run_job(job, ref_index_fill_kernel);
  return nullptr;
}

uint32_t ref_index_prefix_sum(uint32_t *offsets, int32_t thread_count) {
  slice_job_t job{};
  job.offsets = offsets;
  job.slices = std::max(1, thread_count);
  job.sums = static_cast<uint32_t *>(ryx_calloc(sizeof(uint32_t) * static_cast<size_t>(job.slices)));
  run_slices(&job, kSumSlices, job.slices);
  // Each slice's base is the sum of the slices before it.
  uint32_t base = 0;
  for (int32_t k = 0; k < job.slices; k++) {
    const uint32_t sum = job.sums[k];
    job.sums[k] = base;
    base += sum;
  }
  run_slices(&job, kWriteSums, job.slices);
  ryx_free(job.sums);
  return base;
}

ref_index_job_t *ref_index_job_new(const uint8_t *bases, uint32_t first, uint32_t end, uint32_t *offsets,
                                   const uint32_t *mask_words) {
  auto *job = static_cast<ref_index_job_t *>(ryx_calloc(sizeof(ref_index_job_t)));
  job->bases = bases;
  job->first = first;
  job->end = end;
  job->offsets = offsets;
  job->mask_words = mask_words;
  return job;
}

ref_index_job_t *ref_index_job_free(ref_index_job_t *job) {
  ryx_free(job);
  return nullptr;
}

int64_t ref_index_block_end(const ref_block_t *block) {
  const ref_block_desc_t *desc = block->desc;
  if (desc->piece_count == 0) return 0;
  int32_t last = desc->piece_count - 1;
  return static_cast<int64_t>(desc->starts[last]) + desc->lengths[last];
}

ref_index_t *ref_index_build(const ref_block_t *block, const seed_mask_t *mask, int32_t thread_count,
                             progress_meter_t *meter) {
  return ref_index_build_reusing(block, mask, thread_count, meter, nullptr);
}

ref_index_t *ref_index_build_reusing(const ref_block_t *block, const seed_mask_t *mask, int32_t thread_count,
                                     progress_meter_t *meter, ref_index_t *spare) {
  const int32_t threads = std::max(1, thread_count);
  progress_meter_t *child = progress_meter_new_child(meter, 0, 0.33);

  const int64_t first = block->desc->piece_count > 0 ? block->desc->starts[0] : 0;
  const int64_t end = ref_index_block_end(block);
  const int64_t count = first + mask->length - 1 < end ? end - first - mask->length + 1 : 0;
  if (count > static_cast<int64_t>(kRefIndexMaxEntries)) {
    fprintf(stderr, "Reference block too large for the index\n");
    ryx_exit(1);
  }

  ref_index_progress_t progress;
  pthread_mutex_init(&progress.mutex, nullptr);
  progress.done = 0;
  progress.total = static_cast<double>(count);
  progress.meter = child;

  ref_index_t *index = spare;
  if (index == nullptr) {
    index = static_cast<ref_index_t *>(ryx_calloc(sizeof(ref_index_t)));
    index->offsets = static_cast<uint32_t *>(alloc_large(sizeof(uint32_t) * (static_cast<size_t>(kRefIndexBuckets) + 1)));
  }
  clear_offsets(index->offsets, threads);
  index->mask = mask;

  // Consecutive ranges, a few per thread so that a thread that is held up
  // (by the system or its share of cache misses) leaves its last ranges to
  // the others: range i takes floor(remaining / (J - i)).
  job_table_t table{};
  const int32_t job_count = threads == 1 ? 1 : kJobsPerThread * threads;
  table.count = job_count;
  table.jobs = static_cast<ref_index_job_t **>(ryx_malloc(sizeof(ref_index_job_t *) * static_cast<size_t>(job_count)));
  int64_t remaining = count, position = first;
  for (int32_t i = 0; i < job_count; i++) {
    int64_t take = remaining / (job_count - i);
    ref_index_job_t *job = ref_index_job_new(block->bases, static_cast<uint32_t>(position),
                                             static_cast<uint32_t>(position + take), index->offsets, mask->words);
    job->colour = mask->colour;
    job->progress = &progress;
    table.jobs[i] = job;
    position += take;
    remaining -= take;
  }

  run_pass(&table, threads, ref_index_count_thread);
  ref_index_prefix_sum(index->offsets, threads);

  // One entry per position. The entry array holds every
  // position of the block, so that a spare built for a longer mask (fewer
  // positions) or a shorter one fits any mask of a block of the same size
  // without new memory, whose first touch costs page faults.
  const auto entry_count = static_cast<uint64_t>(count);
  const uint64_t capacity = std::max<uint64_t>(entry_count, static_cast<uint64_t>(std::max<int64_t>(end - first, 0)));
  if (index->entries == nullptr || index->entry_capacity < entry_count) {
    ryx_free(index->entries);
    index->entries = static_cast<uint8_t *>(alloc_large(capacity * kRefIndexEntryBytes + 1));
    index->entry_capacity = capacity;
  }
  for (int32_t i = 0; i < job_count; i++) table.jobs[i]->entries = index->entries;

  progress_meter_set_range(meter, child, 0.33, 1.0);
  progress.done = 0;
  run_pass(&table, threads, ref_index_fill_thread);

  for (int32_t i = 0; i < job_count; i++) ref_index_job_free(table.jobs[i]);
  ryx_free(table.jobs);
  pthread_mutex_destroy(&progress.mutex);
  progress_meter_free(child);
  return index;
}

ref_index_t *ref_index_free(ref_index_t *index) {
  if (index == nullptr) return nullptr;
  ryx_free(index->offsets);
  ryx_free(index->entries);
  ryx_free(index);
  return nullptr;
}

void ref_index_dump_bucket(const uint32_t *counts, const uint8_t *entries, uint32_t bucket) {
  printf("# --------------------\n");
  for (uint32_t k = 0; k < counts[bucket]; k++) {
    const uint8_t *entry = entries + static_cast<uint64_t>(k) * kRefIndexEntryBytes;
    printf("# %2.2x %8.8x\n", entry[0], ref_index_entry_position(entry));
  }
  printf("# \n");
}
