#include "fm/index/burrows_wheeler_index_builder.h"

#include <cstdio>

#include "common/activity.h"
#include "common/cpus.h"
#include "common/ryx_exit.h"
#include "fm/index/rotation_sort.h"

namespace {

// Sorts one sequence into its own finished array, then hands the sequence
// back and frees it.
class BurrowsWheelerTask : public ThreadPoolTask {
 public:
  explicit BurrowsWheelerTask(builder_sequence *sequence) : s_(sequence) {}
  void run() override {
    s_->result = make_burrows_wheeler_sequence(s_->sequence->symbols, s_->length, s_->sequence_id, s_->sampling_shift)
                     .release();
    if (s_->done) s_->done(s_->sequence);
    delete s_->sequence;
    s_->sequence = nullptr;
    if (s_->activity != nullptr) s_->activity->done.fetch_add(s_->length, std::memory_order_relaxed);
  }

 private:
  builder_sequence *s_;
};

// Marks an activity done once the tasks it depends on have finished.
class ActivityDoneTask : public ThreadPoolTask {
 public:
  explicit ActivityDoneTask(Activity *activity) : activity_(activity) {}
  void run() override {
    if (activity_ != nullptr) activity_->set_done();
  }

 private:
  Activity *activity_;
};

}  // namespace

BurrowsWheelerIndexBuilder::BurrowsWheelerIndexBuilder(Activity *activity, int threads, unsigned char sampling_shift)
    : pool_(threads > 0 ? threads : get_number_of_cpus()), activity_(activity), sampling_shift_(sampling_shift) {
  if (sampling_shift > 63) ryx_fail("Index builder: sampling shift out of range.\n");
  if (activity_ != nullptr) {
    sequence_activity_ = activity_->child(0.3, nullptr);
    merge_activity_ = activity_->child(0.6, nullptr);
  }
}

BurrowsWheelerIndexBuilder::~BurrowsWheelerIndexBuilder() {
  pool_.wait_for_all_tasks();
  for (builder_sequence &s : pending_) {
    delete s.sequence;
    delete s.result;
  }
  for (builder_merge_node &node : merge_nodes_) delete node.result;
  delete reversed_;
}

void BurrowsWheelerIndexBuilder::schedule_sequence(builder_sequence &s) {
  s.task_id = pool_.schedule(new BurrowsWheelerTask(&s), 0, nullptr);
}

void BurrowsWheelerIndexBuilder::add_sequence(unsigned int sequence_id, Sequence *sequence, bool circular,
                                              std::function<void(Sequence *)> done) {
  if (state_ > 2) ryx_fail("Index builder: sequence added after the build was finished.\n");
  if (sequence->length == 0) ryx_fail("Cannot index a sequence of length 0.\n");
  const unsigned long long rows = sequence->length + (circular ? 0ull : 1ull);
  if (rows > kMaxIndexedSequenceLength) {
    fprintf(stderr, "Sequence of %u bases is too long to index (at most %u bases, separator included).\n",
            sequence->length, kMaxIndexedSequenceLength);
    fflush(stderr);
    ryx_exit(1);
  }
  if (sequence_count_ >= kMaxIndexedSequences) {
    fprintf(stderr, "Too many sequences to index (at most %u).\n", kMaxIndexedSequences);
    fflush(stderr);
    ryx_exit(1);
  }
  // The terminator slot after the last symbol takes the separator.
  if (!circular) sequence->symbols[sequence->length] = 5;
  pending_.push_front({sequence_id, sequence, static_cast<unsigned int>(rows), nullptr, -1, std::move(done), 0,
                       sequence_activity_});
  total_length_ += rows;
  sequence_count_++;
  if (state_ == 0) {
    // Held back: if it stays alone it gets the samples itself.
    state_ = 1;
  } else if (state_ == 1) {
    schedule_sequence(*std::next(pending_.begin()));
    schedule_sequence(pending_.front());
    state_ = 2;
  } else {
    schedule_sequence(pending_.front());
  }
}

void BurrowsWheelerIndexBuilder::finish() {
  if (state_ > 2) ryx_fail("Index builder: finished twice.\n");
  if (sequence_activity_ != nullptr) sequence_activity_->total.store(total_length_);
  if (sequence_count_ == 0) {
    if (activity_ != nullptr) activity_->set_done();
    state_ = 4;
    return;
  }
  uint64_t root_task;
  if (sequence_count_ == 1) {
    builder_sequence &only = pending_.front();
    only.sampling_shift = sampling_shift_;
    schedule_sequence(only);
    text_slot_ = &only.result;
    root_task = only.task_id;
    tie_order_ = {only.sequence_id};
  } else {
    pending_.sort([](const builder_sequence &a, const builder_sequence &b) {
      return a.length != b.length ? a.length < b.length : a.sequence_id < b.sequence_id;
    });
    // Two queues, both in increasing length: the sorted sequences and the
    // merge nodes in order of creation. Each merge takes up to four of the
    // smallest items, a sequence before a node of the same size.
    struct Item {
      NucleotideArray **slot;
      uint64_t task_id;
      unsigned long long length;
      std::vector<unsigned int> leaves;
    };
    std::deque<Item> nodes;
    auto next_sequence = pending_.begin();
    size_t next_node = 0;
    unsigned long long merged_rows = 0;
    unsigned int remaining = sequence_count_;
    while (remaining > 1) {
      const unsigned int take = remaining < 4 ? remaining : 4;
      NucleotideArray **inputs[4];
      unsigned long long dependencies[4];
      Item merged{nullptr, 0, 0, {}};
      for (unsigned int t = 0; t < take; t++) {
        const bool from_list = next_sequence != pending_.end() &&
                               (next_node >= nodes.size() || next_sequence->length <= nodes[next_node].length);
        if (from_list) {
          inputs[t] = &next_sequence->result;
          dependencies[t] = next_sequence->task_id;
          merged.length += next_sequence->length;
          merged.leaves.push_back(next_sequence->sequence_id);
          ++next_sequence;
        } else {
          Item &node = nodes[next_node++];
          inputs[t] = node.slot;
          dependencies[t] = node.task_id;
          merged.length += node.length;
          merged.leaves.insert(merged.leaves.end(), node.leaves.begin(), node.leaves.end());
          node.leaves.clear();
        }
      }
      merge_nodes_.push_back({merged.length, nullptr, nullptr, 0});
      builder_merge_node &node = merge_nodes_.back();
      node.slot = &node.result;
      // Only the root merge, which takes everything left, samples.
      const int shift = take == remaining ? sampling_shift_ : -1;
      node.task_id = schedule_merge_burrows_wheeler(inputs, static_cast<int>(take), node.slot, shift, &pool_, take,
                                                    dependencies, merge_activity_);
      merged.slot = node.slot;
      merged.task_id = node.task_id;
      merged_rows += merged.length;
      nodes.push_back(std::move(merged));
      remaining -= take - 1;
    }
    text_slot_ = nodes.back().slot;
    root_task = nodes.back().task_id;
    tie_order_ = std::move(nodes.back().leaves);
    if (merge_activity_ != nullptr) merge_activity_->total.store(merged_rows);
  }

  unsigned long long dependency = root_task;
  dependency = pool_.schedule(new ActivityDoneTask(sequence_activity_), 1, &dependency);
  dependency = pool_.schedule(new ActivityDoneTask(merge_activity_), 1, &dependency);
  if (activity_ != nullptr) {
    reverse_activity_ = activity_->child(0.1, nullptr);
    reverse_activity_->total.store(total_length_);
  }
  dependency = schedule_reverse_burrows_wheeler(text_slot_, &reversed_, &pool_, 1, &dependency, reverse_activity_);
  last_task_ = pool_.schedule(new ActivityDoneTask(activity_), 1, &dependency);
  state_ = 3;
}

std::unique_ptr<BidirectionalMatcher> BurrowsWheelerIndexBuilder::get_result() {
  std::unique_ptr<NucleotideArray> text, reversed;
  if (state_ == 3) {
    pool_.wait_for_task(last_task_);
    text.reset(*text_slot_);
    *text_slot_ = nullptr;
    reversed.reset(reversed_);
    reversed_ = nullptr;
  } else if (state_ == 4) {
    text = make_empty_nucleotide_array(sampling_shift_);
    reversed = make_empty_nucleotide_array(-1);
  } else {
    ryx_fail("Index builder: result asked for before the build was finished.\n");
  }
  state_ = 5;
  return std::make_unique<BidirectionalMatcher>(std::move(text), std::move(reversed), true);
}

std::unique_ptr<NucleotideArray> BurrowsWheelerIndexBuilder::make_empty_nucleotide_array(int sampling_shift) {
  unsigned char separator = 5;
  return make_burrows_wheeler_sequence(&separator, 1, 0, sampling_shift);
}
