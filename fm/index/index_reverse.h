// The reversed array (rotations read forward) read off a finished text
// array (rotations read backward) without sorting.
//
// The text rows whose rotation ends with a string W (in text order) form
// one interval, and inside it they are ordered by the symbol before W: six
// consecutive groups, one per preceding symbol a (the rows of aW). The
// reversed array lists the rotations that start with W in forward order,
// each row holding its preceding symbol. So an interval of W is written
// out at once when a single group is non-empty (every occurrence of W has
// the same predecessor); otherwise it is split by the next symbol c: the
// groups of Wc are the groups of W stepped with c, bounds C[c] + occ(bound,
// c), and the children are handled in order c = 0 to 5. Two rotations that
// read the same for ever have the same predecessor, so every branch ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "fm/index/nucleotide_array.h"
#include "fm/runtime/thread_pool.h"

class Activity;

// Creates the reversed array (the text array's length, record count and
// longest sequence; no samples) in its slot and schedules one
// ReverseBlockTask over all rows as its child. finish() adds a circular
// placeholder record for every record number the blocks did not use (the
// reversed array holds one separator record per separator and nothing else
// to say about sequences) and finishes the array.
class ReverseTask : public ThreadPoolTask {
 public:
  // task_rows: intervals of at least this many rows may become tasks of
  // their own.
  ReverseTask(NucleotideArray **text, NucleotideArray **reversed, ThreadPool *pool, Activity *reversing,
              unsigned long long task_rows);
  void run() override;
  void finish() override;

 private:
  friend class ReverseBlockTask;
  NucleotideArray **text_slot_;
  NucleotideArray **reversed_slot_;
  ThreadPool *pool_;
  Activity *reversing_;
  unsigned long long task_rows_;
  const NucleotideArray *text_ = nullptr;
  NucleotideArray *reversed_ = nullptr;
  // Next record number for a separator written by any block.
  std::atomic<uint32_t> next_record_{0};
};

// Writes the reversed rows of one interval of the text array: boundaries
// b[0] .. b[6] split it into the groups of preceding symbols 0 to 5; its
// rows go to reversed rows first_row onward.
class ReverseBlockTask : public ThreadPoolTask {
 public:
  ReverseBlockTask(ReverseTask *owner, const unsigned long long *boundaries, unsigned long long first_row);
  void run() override { reverse_block(boundaries_, first_row_); }
  void reverse_block(const unsigned long long *boundaries, unsigned long long first_row);

 private:
  void write_run(unsigned char symbol, unsigned long long first_row, unsigned long long rows);

  ReverseTask *owner_;
  unsigned long long boundaries_[7];
  unsigned long long first_row_;
};
