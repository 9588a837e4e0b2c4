// An ordered pipeline without locks: one source-and-sink thread and a
// fixed number of worker threads around a ring of work items.
//
// The source fills item i of the run (counting from 0) in slot i mod
// capacity and publishes it; each worker takes the next ticket from an
// atomic counter, waits until that item is published, runs every stage on
// it and sets the slot's done byte. The same thread that fills items hands
// finished ones to the sink, strictly in the order they were produced, and
// only when it needs their slot again or at the end of the input, so the
// sink sees the items in input order whatever the number of workers.
//
// Ownership of a slot: free -> written by the source -> published
// (release) -> read and written by the one worker holding its ticket
// (acquire) -> done byte set (release) -> read by the sink after it saw the
// done byte (acquire) -> done byte cleared -> free. Waits back off: first
// a yield, then sleeps of 1, 2, 3, ... ms until progress is made. A thread
// that cannot be started ends the process as fm/runtime/out_of_memory.h
// says.
#pragma once

#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "fm/runtime/out_of_memory.h"

template <typename T>
class Pipeline {
 public:
  // Items per worker in the ring when no capacity is given.
  static constexpr int kItemsPerWorker = 512;

  // A pipeline of workers threads (at least 1) over a ring of capacity
  // slots (workers x 512 when 0).
  Pipeline(int capacity, int workers)
      : workers_(workers < 1 ? 1 : workers), capacity_(capacity > 0 ? capacity : workers_ * kItemsPerWorker) {}
  // Waits for a run still going, as run(true) does.
  ~Pipeline() {
    if (running_) finish_run();
  }
  Pipeline(const Pipeline &) = delete;
  Pipeline &operator=(const Pipeline &) = delete;

  // Fills an item; false at the end of the input. Called on the
  // source-and-sink thread only.
  void source(std::function<bool(T &)> fill) { source_ = std::move(fill); }
  // Appends a stage, applied in order to every item with the number (0 to
  // workers - 1) of the worker running it.
  void stage(std::function<void(T &, int)> work) { stages_.push_back(std::move(work)); }
  // Consumes a finished item; called in production order on the
  // source-and-sink thread only.
  void sink(std::function<void(T &)> consume) { sink_ = std::move(consume); }

  // Starts the threads. With wait set, returns once every item has been
  // sunk and every thread has ended, the ring's items destroyed.
  void run(bool wait) {
    start_workers();
    source_sink_ = OutOfMemory::start_thread([this] { source_sink_thread_fun(); });
    if (wait) finish_run();
  }

  int capacity() const { return capacity_; }
  int worker_count() const { return workers_; }

 private:
  // Yield first, then sleep one millisecond longer each time.
  class Backoff {
   public:
    void wait() {
      if (waits_ == 0) {
        sched_yield();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(waits_));
      }
      waits_++;
    }
    void reset() { waits_ = 0; }

   private:
    int64_t waits_ = 0;
  };

  void finish_run() {
    if (source_sink_.joinable()) source_sink_.join();
    for (std::thread &worker : worker_threads_) worker.join();
    worker_threads_.clear();
    ring_.reset();
    done_.reset();
    running_ = false;
  }

  void start_workers() {
    if (running_) finish_run();
    ring_ = std::make_unique<T[]>(static_cast<size_t>(capacity_));
    done_ = std::make_unique<std::atomic<uint8_t>[]>(static_cast<size_t>(capacity_));
    for (int i = 0; i < capacity_; i++) done_[i].store(0, std::memory_order_relaxed);
    produced_ = 0;
    consumed_ = 0;
    published_.store(0, std::memory_order_relaxed);
    claim_.store(0, std::memory_order_relaxed);
    finished_.store(false, std::memory_order_relaxed);
    worker_threads_.reserve(static_cast<size_t>(workers_));
    for (int w = 0; w < workers_; w++) {
      worker_threads_.push_back(OutOfMemory::start_thread([this, w] { worker_thread_fun(w); }));
    }
    running_ = true;
  }

  size_t slot(uint64_t item) const { return static_cast<size_t>(item % static_cast<uint64_t>(capacity_)); }

  // Hands the finished items at the head of the ring to the sink, in
  // order; returns whether there was any.
  bool sink_finished() {
    bool any = false;
    while (consumed_ < produced_ && done_[slot(consumed_)].load(std::memory_order_acquire) != 0) {
      const size_t s = slot(consumed_);
      done_[s].store(0, std::memory_order_relaxed);
      if (sink_) sink_(ring_[s]);
      consumed_++;
      any = true;
    }
    return any;
  }

  // The slot of the next item, after sinking finished items while the
  // ring is full.
  size_t allocate_item() {
    Backoff backoff;
    while (consumed_ + static_cast<uint64_t>(capacity_) <= produced_) {
      if (sink_finished()) {
        backoff.reset();
      } else {
        backoff.wait();
      }
    }
    return slot(produced_);
  }

  void drain() {
    Backoff backoff;
    for (;;) {
      if (consumed_ >= produced_) {
        finished_.store(true, std::memory_order_release);
        return;
      }
      if (sink_finished()) {
        backoff.reset();
      } else {
        backoff.wait();
      }
    }
  }

  void source_sink_thread_fun() {
    for (;;) {
      const size_t s = allocate_item();
      if (!source_ || !source_(ring_[s])) {
        drain();
        return;
      }
      produced_++;
      published_.store(produced_, std::memory_order_release);
    }
  }

  void worker_thread_fun(int w) {
    for (;;) {
      const uint64_t ticket = claim_.fetch_add(1, std::memory_order_relaxed);
      Backoff backoff;
      while (ticket >= published_.load(std::memory_order_acquire)) {
        if (finished_.load(std::memory_order_acquire)) return;
        backoff.wait();
      }
      const size_t s = slot(ticket);
      for (auto &work : stages_) work(ring_[s], w);
      done_[s].store(1, std::memory_order_release);
    }
  }

  int workers_;
  int capacity_;
  std::unique_ptr<T[]> ring_;
  std::function<bool(T &)> source_;
  std::vector<std::function<void(T &, int)>> stages_;
  std::function<void(T &)> sink_;
  std::unique_ptr<std::atomic<uint8_t>[]> done_;
  // Touched by the source-and-sink thread only.
  uint64_t produced_ = 0;
  uint64_t consumed_ = 0;
  std::vector<std::thread> worker_threads_;
  std::thread source_sink_;
  std::atomic<uint64_t> published_{0};
  std::atomic<uint64_t> claim_{0};
  std::atomic<bool> finished_{false};
  bool running_ = false;
};
