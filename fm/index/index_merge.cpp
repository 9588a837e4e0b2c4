#include "fm/index/index_merge.h"

#include <algorithm>

#include "common/activity.h"
#include "fm/index/burrows_wheeler_index_builder.h"

namespace {

// One last-to-first step: the row of the rotation one position further
// on, and the symbol read.
inline uint64_t lf_step(const NucleotideArray *array, uint64_t row, unsigned char *symbol) {
  const unsigned char c = array->get(row);
  *symbol = c;
  return array->C()[c] + array->occ(row, c);
}

// Rank of the rows of array before row that hold symbol c, moved into the
// block of symbol c: the backward-search step of one bound.
inline uint64_t rank_step(const NucleotideArray *array, uint64_t row, unsigned char c) {
  return array->C()[c] + array->occ(row, c);
}

}  // namespace

MergeTask::MergeTask(NucleotideArray **const *inputs, int count, NucleotideArray **output, int sampling_shift,
                     ThreadPool *pool, Activity *merging)
    : count_(count), output_(output), sampling_shift_(sampling_shift), pool_(pool), merging_(merging) {
  for (int i = 0; i < count; i++) inputs_[i] = inputs[i];
}

void MergeTask::run() {
  NucleotideArray *inputs[4];
  unsigned long long length = 0;
  unsigned long long sequences = 0;
  unsigned int longest = 0;
  for (int i = 0; i < count_; i++) {
    inputs[i] = *inputs_[i];
    length += inputs[i]->length();
    sequences += inputs[i]->sequence_count();
    longest = std::max(longest, inputs[i]->max_sequence_length());
  }
  merged_ = new NucleotideArray(length, static_cast<int>(sequences), longest);
  merged_->init_position_sampling(sampling_shift_);
  for (int i = 0; i < count_; i++)
    for (unsigned int r = 0; r < inputs[i]->sequence_count(); r++)
      pool_->schedule(new HalfMergeTask(inputs, count_, i, merged_, inputs[i]->sequence(r), merging_), 0, nullptr);
}

void MergeTask::finish() {
  for (int i = 0; i < count_; i++) {
    delete *inputs_[i];
    *inputs_[i] = nullptr;
  }
  merged_->finish();
  *output_ = merged_;
}

HalfMergeTask::HalfMergeTask(NucleotideArray *const *inputs, int count, int own, NucleotideArray *merged,
                             const na_sequence &record, Activity *merging)
    : count_(count), own_(own), merged_(merged), record_(record), merging_(merging) {
  for (int i = 0; i < count; i++) inputs_[i] = inputs[i];
}

void HalfMergeTask::half_merge() {
  const NucleotideArray *own = inputs_[own_];
  const uint32_t length = record_.length;

  // For every other input: the interval of its rows that share the symbols
  // read so far with the walk's current rotation, then its rank.
  struct Other {
    const NucleotideArray *array;
    uint64_t lo, hi;
    bool earlier;  // comes before the own input
  };
  Other others[3];
  int n = 0;
  for (int j = 0; j < count_; j++)
    if (j != own_) others[n++] = {inputs_[j], 0, inputs_[j]->length(), j < own_};

  // Settle the ranks: walk until no other row shares the symbols read
  // (every interval empty), or until a whole turn of the sequence passes
  // without any interval shrinking. Then the rows left are rotations equal
  // to the current one for ever: an interval that keeps its size through
  // one full period maps onto itself, so it never shrinks again.
  uint64_t row = record_.row;
  uint32_t position = record_.position;
  uint32_t unchanged = 0;
  for (;;) {
    bool all_empty = true;
    for (int j = 0; j < n; j++) all_empty &= others[j].lo == others[j].hi;
    if (all_empty || unchanged >= length) break;
    unsigned char c;
    row = lf_step(own, row, &c);
    position = position + 1 == length ? 0 : position + 1;
    bool changed = false;
    for (int j = 0; j < n; j++) {
      Other &o = others[j];
      const uint64_t lo = rank_step(o.array, o.lo, c);
      const uint64_t hi = rank_step(o.array, o.hi, c);
      changed |= hi - lo != o.hi - o.lo;
      o.lo = lo;
      o.hi = hi;
    }
    unchanged = changed ? 0 : unchanged + 1;
  }
  // Equal rotations of earlier inputs sort before this one.
  uint64_t ranks[3];
  for (int j = 0; j < n; j++) ranks[j] = others[j].earlier ? others[j].hi : others[j].lo;

  NucleotideArraySequenceWriter writer(merged_, record_.sequence_id, length);
  const uint64_t start = row;
  do {
    uint64_t merged_row = row;
    for (int j = 0; j < n; j++) merged_row += ranks[j];
    // The merged rows are scattered: fetch the target while the rank steps
    // wait for their own blocks, and write after them, so that the atomic
    // add (which holds back later loads) finds its line in the cache.
    merged_->prefetch(merged_row);
    unsigned char c;
    const uint64_t next = lf_step(own, row, &c);
    for (int j = 0; j < n; j++) ranks[j] = rank_step(others[j].array, ranks[j], c);
    writer.set(merged_row, position, c);
    row = next;
    position = position + 1 == length ? 0 : position + 1;
  } while (row != start);
  writer.finish();
  if (merging_ != nullptr) merging_->done.fetch_add(length, std::memory_order_relaxed);
}

uint64_t BurrowsWheelerIndexBuilder::schedule_merge_burrows_wheeler(NucleotideArray ***inputs, int count,
                                                                    NucleotideArray **output, int sampling_shift,
                                                                    ThreadPool *pool, unsigned long dependency_count,
                                                                    unsigned long long *dependencies,
                                                                    Activity *merging) {
  return pool->schedule(new MergeTask(inputs, count, output, sampling_shift, pool, merging), dependency_count,
                        dependencies);
}
