// The threaded index builder: sequences in, a BidirectionalMatcher out.
//
// Everything runs as a task graph on the builder's own ThreadPool: one
// task per sequence sorts its rotations into a finished array; merge tasks
// join the arrays four at a time, smallest first (two queues, as in a
// 4-ary Huffman tree), the root merge adding the position samples; a
// reverse task then reads the reversed array off the merged one. Sequences
// are handed in while earlier ones are still being sorted.
//
// Progress goes to three children of the caller's activity: sequence
// arrays (weight 0.3, in symbols), merging (0.6, in rows) and reversing
// (0.1, in rows).
#pragma once

#include <cstdint>
#include <deque>
#include <forward_list>
#include <functional>
#include <memory>
#include <vector>

#include "fm/index/bidirectional_matcher.h"
#include "fm/index/nucleotide_array.h"
#include "fm/runtime/sequence.h"
#include "fm/runtime/thread_pool.h"

class Activity;

// Longest sequence the builder takes, separator included: text positions
// and sequence lengths are 31-bit.
constexpr unsigned int kMaxIndexedSequenceLength = 0x7FFFFFFFu;
// Most sequences one index holds: record counts are signed 32-bit.
constexpr unsigned int kMaxIndexedSequences = 0x7FFFFFFFu;

// One sequence handed to the builder.
struct builder_sequence {
  unsigned int sequence_id;
  Sequence *sequence;
  unsigned int length;  // rows, separator included
  NucleotideArray *result;
  int sampling_shift;  // -1 unless it is the only sequence
  std::function<void(Sequence *)> done;
  uint64_t task_id;
  Activity *activity;
};

// One merge of the tree.
struct builder_merge_node {
  unsigned long long total_length;
  NucleotideArray *result;
  NucleotideArray **slot;  // where its result is stored: &result
  uint64_t task_id;
};

class BurrowsWheelerIndexBuilder {
 public:
  // A builder with threads workers (0 or less: get_number_of_cpus()) whose
  // text array samples one row in every 2^sampling_shift. activity may be
  // null (no progress).
  explicit BurrowsWheelerIndexBuilder(Activity *activity, int threads = 0, unsigned char sampling_shift = 4);
  // Waits for every task still running and frees what was not taken.
  ~BurrowsWheelerIndexBuilder();
  BurrowsWheelerIndexBuilder(const BurrowsWheelerIndexBuilder &) = delete;
  BurrowsWheelerIndexBuilder &operator=(const BurrowsWheelerIndexBuilder &) = delete;

  // Adds a sequence (codes 0 to 4 followed by one spare byte, which a
  // non-circular sequence gets its separator 5 in). Ids must be 0, 1, 2,
  // ... in some order, one per sequence. The builder owns the sequence:
  // once its array is built, done (if set) is called with it and then it is
  // deleted. Ends the process (status 1) for an empty sequence, one longer
  // than kMaxIndexedSequenceLength with its separator, or one sequence
  // too many.
  void add_sequence(unsigned int sequence_id, Sequence *sequence, bool circular,
                    std::function<void(Sequence *)> done);
  // No more sequences: schedules the merge tree and the reverse task.
  void finish();
  // Waits for the graph and returns the matcher (samples naming record
  // indexes). Without sequences: the one-separator array in each
  // direction. Call once, after finish().
  std::unique_ptr<BidirectionalMatcher> get_result();
  // True once tasks may be running for sequences (two or more sequences
  // were added, or finish() was called).
  bool is_processing() const { return state_ > 1; }

  // Sequence ids in the order that breaks ties between equal rotations
  // (the leaf order of the merge tree); valid after finish().
  const std::vector<unsigned int> &tie_order() const { return tie_order_; }

  // Schedules a MergeTask over the arrays in the count slots of inputs
  // (count 2 to 4) after the tasks in dependencies; its array goes to
  // output. Returns the task id.
  static uint64_t schedule_merge_burrows_wheeler(NucleotideArray ***inputs, int count, NucleotideArray **output,
                                                 int sampling_shift, ThreadPool *pool, unsigned long dependency_count,
                                                 unsigned long long *dependencies, Activity *merging);
  // Schedules a ReverseTask reading *text after the tasks in dependencies;
  // the reversed array goes to *reversed. Intervals of task_rows rows or
  // more may become tasks of their own. Returns the task id.
  static uint64_t schedule_reverse_burrows_wheeler(NucleotideArray **text, NucleotideArray **reversed,
                                                   ThreadPool *pool, unsigned long dependency_count,
                                                   unsigned long long *dependencies, Activity *reversing,
                                                   unsigned long long task_rows = 100000);
  // A finished one-row array holding a lone separator (sequence id 0,
  // length 1), with samples every 2^sampling_shift rows (-1: none).
  static std::unique_ptr<NucleotideArray> make_empty_nucleotide_array(int sampling_shift);

 private:
  void schedule_sequence(builder_sequence &s);

  ThreadPool pool_;
  Activity *activity_;
  Activity *sequence_activity_ = nullptr;
  Activity *merge_activity_ = nullptr;
  Activity *reverse_activity_ = nullptr;
  unsigned char sampling_shift_;
  unsigned int sequence_count_ = 0;
  unsigned long long total_length_ = 0;
  std::forward_list<builder_sequence> pending_;
  std::deque<builder_merge_node> merge_nodes_;
  NucleotideArray **text_slot_ = nullptr;
  NucleotideArray *reversed_ = nullptr;
  uint64_t last_task_ = 0;
  // 0 empty, 1 one sequence held back, 2 processing, 3 graph complete,
  // 4 finished without sequences, 5 result taken.
  int state_ = 0;
  std::vector<unsigned int> tie_order_;
};
