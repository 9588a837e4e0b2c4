// Merging finished Burrows-Wheeler arrays into one.
//
// Every row of input A is a rotation of one of A's sequences. Its row in
// the merged array is its own row plus, for every other input B, the
// number of B's rotations that sort before it. That rank is found by a
// backward search in B with the symbols A's last-to-first walk reads, and
// then carried along the walk: one rank step per row.
//
// Equal rotations (identical sequences, or circular ones made of the same
// word) are ordered by input order: the rows of an earlier input come
// first.
#pragma once

#include <cstdint>

#include "fm/index/nucleotide_array.h"
#include "fm/runtime/thread_pool.h"

class Activity;

// Merges up to four finished arrays, read from their slots when the task
// runs. run() creates the merged array and schedules one HalfMergeTask per
// input sequence as its children; finish() deletes the inputs (their slots
// become null), finishes the merged array and stores it in the output
// slot.
class MergeTask : public ThreadPoolTask {
 public:
  // sampling_shift: position samples of the merged array (-1: none).
  // merging: activity that counts merged rows (may be null).
  MergeTask(NucleotideArray **const *inputs, int count, NucleotideArray **output, int sampling_shift, ThreadPool *pool,
            Activity *merging);
  void run() override;
  void finish() override;

 private:
  NucleotideArray **inputs_[4];
  int count_;
  NucleotideArray **output_;
  int sampling_shift_;
  ThreadPool *pool_;
  Activity *merging_;
  NucleotideArray *merged_ = nullptr;
};

// Writes every row of one sequence (one record of input own) into the
// merged array.
class HalfMergeTask : public ThreadPoolTask {
 public:
  // inputs: all inputs of the merge in input order; own: the index of the
  // input holding the record.
  HalfMergeTask(NucleotideArray *const *inputs, int count, int own, NucleotideArray *merged, const na_sequence &record,
                Activity *merging);
  void run() override { half_merge(); }
  void half_merge();

 private:
  const NucleotideArray *inputs_[4];
  int count_;
  int own_;
  NucleotideArray *merged_;
  na_sequence record_;
  Activity *merging_;
};
