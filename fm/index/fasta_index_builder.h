// Index building from FASTA reference files within a memory budget.
//
// Sequences are parsed on the caller's thread and handed to a
// BurrowsWheelerIndexBuilder, whose tasks sort them while later ones are
// read. Each sequence in work reserves 5 bytes per base (its symbols and
// the 32-bit rotation order) plus a third of a byte per base for its share
// of the merged arrays; the first part is given back when its array is
// built, the second stays reserved for the life of the builder. Before
// each sequence the parser also waits until the headroom fits beside the
// reservations, so that parsing never runs far ahead of the sorting. A
// sequence whose reservation exceeds the whole budget still proceeds when
// nothing else is in work.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "fm/index/bidirectional_matcher.h"
#include "fm/index/burrows_wheeler_index_builder.h"
#include "fm/runtime/reader_writer.h"
#include "fm/runtime/sequence.h"

class Activity;

class FastaIndexBuilder {
 public:
  // One indexed sequence: ids run over all files in reading order; length
  // in bases (no separator); circular 1 or 0.
  struct SequenceInfo {
    uint32_t sequence_id;
    uint32_t file_index;
    uint32_t length;
    uint32_t circular;
  };

  // memory_budget and headroom in bytes; samples every 2^sampling_shift
  // rows; progress under activity (may be null); threads workers (0 or
  // less: get_number_of_cpus()).
  FastaIndexBuilder(unsigned long memory_budget, unsigned long headroom, unsigned char sampling_shift,
                    Activity *activity, int threads = 0);
  ~FastaIndexBuilder();
  FastaIndexBuilder(const FastaIndexBuilder &) = delete;
  FastaIndexBuilder &operator=(const FastaIndexBuilder &) = delete;

  // The filter sees every non-empty sequence, may change its symbols in
  // place, and says whether it is indexed.
  void set_sequence_filter(std::function<bool(Sequence *)> filter);

  // Indexes every sequence of one FASTA or FASTQ source (taken over and
  // deleted). Empty and filtered sequences are skipped. Parse errors end
  // the process as the parser does; a sequence too long for 31-bit
  // positions ends it with "Sequence '<name>' in <file> is too long to
  // index: <n> bases, at most <m>.\n" (status 1).
  void parse_file(Reader *source, int circular);
  // No more files.
  void finish();
  // Waits for the build and returns the matcher; the builder is done.
  std::unique_ptr<BidirectionalMatcher> get_result();
  // Moves out the records of the indexed sequences, in id order.
  std::vector<SequenceInfo> get_sequence_info();

  // Most sequences that were in work at once (for checks of the budget).
  unsigned int peak_sequences_in_work() const;

 private:
  // Waits while the builder is processing, something is in work and need
  // plus the reservations exceed the budget; then reserves reserve bytes
  // for count more sequences.
  void ensure_memory(uint64_t need, uint64_t reserve, int count);
  void release(uint64_t bytes);

  std::unique_ptr<BurrowsWheelerIndexBuilder> builder_;
  uint64_t memory_budget_;
  uint64_t headroom_;
  uint32_t next_sequence_id_ = 0;
  uint32_t file_index_ = 0;
  std::vector<SequenceInfo> sequence_infos_;
  std::function<bool(Sequence *)> filter_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  uint64_t reserved_ = 0;
  int32_t in_work_ = 0;
  unsigned int peak_in_work_ = 0;
};
