#include "fm/index/index_reverse.h"

#include "common/activity.h"
#include "fm/index/burrows_wheeler_index_builder.h"

ReverseTask::ReverseTask(NucleotideArray **text, NucleotideArray **reversed, ThreadPool *pool, Activity *reversing,
                         unsigned long long task_rows)
    : text_slot_(text), reversed_slot_(reversed), pool_(pool), reversing_(reversing), task_rows_(task_rows) {}

void ReverseTask::run() {
  text_ = *text_slot_;
  reversed_ = new NucleotideArray(text_->length(), static_cast<int>(text_->sequence_count()),
                                  text_->max_sequence_length());
  *reversed_slot_ = reversed_;
  // Circular sequences made of a repeated word are indexed as one copy, so
  // the rows to write are known only now.
  if (reversing_ != nullptr) reversing_->total.store(text_->length(), std::memory_order_relaxed);
  // The whole array is the interval of the empty string; its groups by
  // preceding symbol are the symbol blocks C[0] .. C[5].
  unsigned long long boundaries[7];
  for (int a = 0; a < 6; a++) boundaries[a] = text_->C()[a];
  boundaries[6] = text_->length();
  pool_->schedule(new ReverseBlockTask(this, boundaries, 0), 0, nullptr);
}

void ReverseTask::finish() {
  for (uint32_t k = next_record_.load(std::memory_order_relaxed); k < text_->sequence_count(); k++)
    reversed_->add_sequence(k, 0, true, 0, ~0ull);
  reversed_->finish();
}

ReverseBlockTask::ReverseBlockTask(ReverseTask *owner, const unsigned long long *boundaries,
                                   unsigned long long first_row)
    : owner_(owner), first_row_(first_row) {
  for (int a = 0; a < 7; a++) boundaries_[a] = boundaries[a];
}

void ReverseBlockTask::write_run(unsigned char symbol, unsigned long long first_row, unsigned long long rows) {
  NucleotideArray *reversed = owner_->reversed_;
  NucleotideArrayWriter writer(reversed);
  for (unsigned long long r = first_row; r < first_row + rows; r++) {
    writer.set(r, symbol);
    // A separator row is known by its record.
    if (symbol == 5)
      reversed->add_sequence(owner_->next_record_.fetch_add(1, std::memory_order_relaxed), 0, false, 0, r);
  }
  writer.finish();
  if (owner_->reversing_ != nullptr) owner_->reversing_->done.fetch_add(rows, std::memory_order_relaxed);
}

void ReverseBlockTask::reverse_block(const unsigned long long *boundaries, unsigned long long first_row) {
  const NucleotideArray *text = owner_->text_;
  const unsigned long long *C = text->C();
  const unsigned long long task_rows = owner_->task_rows_;
  unsigned long long b[7];
  for (int a = 0; a < 7; a++) b[a] = boundaries[a];
  unsigned long long J = first_row;
  // Children up to half the interval are handled by recursion (or as
  // tasks); the one larger child, if any, by the next turn of this loop,
  // so the recursion is never deeper than log2 of the length.
  for (;;) {
    const unsigned long long size = b[6] - b[0];
    int groups = 0;
    unsigned char only = 0;
    for (int a = 0; a < 6; a++) {
      if (b[a + 1] > b[a]) {
        groups++;
        only = static_cast<unsigned char>(a);
      }
    }
    if (groups <= 1) {
      if (size > 0) write_run(only, J, size);
      return;
    }
    unsigned long long occ[7][7];
    for (int a = 0; a < 7; a++) text->occ_all_popcnt(b[a], occ[a]);
    bool deferred = false;
    unsigned long long deferred_b[7];
    unsigned long long deferred_J = 0;
    unsigned long long at = J;
    for (int c = 0; c < 6; c++) {
      const unsigned long long rows = (occ[6][c + 1] - occ[6][c]) - (occ[0][c + 1] - occ[0][c]);
      if (rows == 0) continue;
      unsigned long long child[7];
      for (int a = 0; a < 7; a++) child[a] = C[c] + occ[a][c + 1] - occ[a][c];
      const unsigned long long rest = J + size - (at + rows);
      if (2 * rows > size) {
        deferred = true;
        for (int a = 0; a < 7; a++) deferred_b[a] = child[a];
        deferred_J = at;
      } else if (rows < task_rows || rest < task_rows) {
        reverse_block(child, at);
      } else {
        owner_->pool_->schedule(new ReverseBlockTask(owner_, child, at), 0, nullptr);
      }
      at += rows;
    }
    if (!deferred) return;
    for (int a = 0; a < 7; a++) b[a] = deferred_b[a];
    J = deferred_J;
  }
}

uint64_t BurrowsWheelerIndexBuilder::schedule_reverse_burrows_wheeler(NucleotideArray **text,
                                                                      NucleotideArray **reversed, ThreadPool *pool,
                                                                      unsigned long dependency_count,
                                                                      unsigned long long *dependencies,
                                                                      Activity *reversing,
                                                                      unsigned long long task_rows) {
  return pool->schedule(new ReverseTask(text, reversed, pool, reversing, task_rows), dependency_count, dependencies);
}
