#include "fm/index/fasta_index_builder.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "fm/runtime/sequence_parser.h"

FastaIndexBuilder::FastaIndexBuilder(unsigned long memory_budget, unsigned long headroom, unsigned char sampling_shift,
                                     Activity *activity, int threads)
    : builder_(std::make_unique<BurrowsWheelerIndexBuilder>(activity, threads, sampling_shift)),
      memory_budget_(memory_budget),
      headroom_(headroom) {}

// The builder waits for its tasks, whose callbacks still reach the mutex
// and counters here, so it goes first.
FastaIndexBuilder::~FastaIndexBuilder() { builder_.reset(); }

void FastaIndexBuilder::set_sequence_filter(std::function<bool(Sequence *)> filter) { filter_ = std::move(filter); }

void FastaIndexBuilder::ensure_memory(uint64_t need, uint64_t reserve, int count) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The builder's state only changes on this thread.
  const bool processing = builder_->is_processing();
  released_.wait(lock, [&] { return !processing || in_work_ < 1 || memory_budget_ >= need + reserved_; });
  reserved_ += reserve;
  in_work_ += count;
  if (in_work_ > 0 && static_cast<unsigned int>(in_work_) > peak_in_work_) peak_in_work_ = in_work_;
}

void FastaIndexBuilder::release(uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reserved_ -= bytes;
    in_work_--;
  }
  released_.notify_one();
}

void FastaIndexBuilder::parse_file(Reader *source, int circular) {
  const std::string file_name = source->name();
  SequenceParser *parser = SequenceParser::create(source);
  ensure_memory(headroom_, 0, 0);
  while (Sequence *sequence = parser->getNextSequence()) {
    if (sequence->length == 0 || (filter_ && !filter_(sequence))) {
      delete sequence;
      continue;
    }
    const uint64_t length = sequence->length;
    if (length + (circular ? 0 : 1) > kMaxIndexedSequenceLength) {
      fprintf(stderr, "Sequence '%s' in %s is too long to index: %llu bases, at most %u.\n",
              sequence->name != nullptr ? sequence->name : "", file_name.c_str(),
              static_cast<unsigned long long>(length), kMaxIndexedSequenceLength - (circular ? 0 : 1));
      fflush(stderr);
      ryx_exit(1);
    }
    if (next_sequence_id_ >= kMaxIndexedSequences) {
      fprintf(stderr, "Too many sequences to index in %s: at most %u.\n", file_name.c_str(), kMaxIndexedSequences);
      fflush(stderr);
      ryx_exit(1);
    }
    sequence_infos_.push_back({next_sequence_id_, file_index_, static_cast<uint32_t>(length), circular ? 1u : 0u});
    const uint64_t reservation = 5 * length + length / 3;
    ensure_memory(reservation, reservation, 1);
    builder_->add_sequence(next_sequence_id_, sequence, circular != 0,
                           [this, length](Sequence *) { release(5 * length); });
    next_sequence_id_++;
    ensure_memory(headroom_, 0, 0);
  }
  file_index_++;
  delete parser;
}

void FastaIndexBuilder::finish() { builder_->finish(); }

std::unique_ptr<BidirectionalMatcher> FastaIndexBuilder::get_result() {
  std::unique_ptr<BidirectionalMatcher> matcher = builder_->get_result();
  builder_.reset();
  return matcher;
}

std::vector<FastaIndexBuilder::SequenceInfo> FastaIndexBuilder::get_sequence_info() {
  return std::move(sequence_infos_);
}

unsigned int FastaIndexBuilder::peak_sequences_in_work() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peak_in_work_;
}
