#include "fm/runtime/thread_pool.h"

#include "common/cpus.h"
#include "fm/runtime/out_of_memory.h"

namespace {
// The worker record of the calling thread, when it is a pool worker.
thread_local ThreadPoolWorker *current_worker = nullptr;
}  // namespace

ThreadPoolTask::~ThreadPoolTask() = default;

void ThreadPoolTask::finish() {}

ThreadPool::ThreadPool() { start(get_number_of_cpus()); }

ThreadPool::ThreadPool(int threads) { start(threads); }

void ThreadPool::start(int threads) {
  if (threads < 1) threads = 1;
  // The vector is sized once, so worker records never move.
  workers_.resize(static_cast<size_t>(threads));
  for (size_t i = 0; i < workers_.size(); i++) {
    ThreadPoolWorker *worker = &workers_[i];
    worker->pool = this;
    worker->index = static_cast<uint32_t>(i);
    worker->thread = OutOfMemory::start_thread([this, worker] { thread_pool_worker(worker); });
  }
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  work_.notify_all();
  for (ThreadPoolWorker &worker : workers_) worker.thread.join();
  // What never ran: queued tasks, tasks waiting for dependencies and
  // parents waiting for such children.
  for (auto &entry : tasks_) delete entry.second;
}

ThreadPoolWorker *ThreadPool::get_current_worker() {
  return current_worker != nullptr && current_worker->pool == this ? current_worker : nullptr;
}

ThreadPoolTask *ThreadPool::get_current_task() {
  ThreadPoolWorker *worker = get_current_worker();
  if (worker == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  return worker->task;
}

uint64_t ThreadPool::schedule(ThreadPoolTask *task, unsigned long count, unsigned long long *dependencies) {
  ThreadPoolWorker *worker = get_current_worker();
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t id = next_id_++;
  task->id_ = id;
  task->pool_ = this;
  tasks_[id] = task;
  task->parent_ = worker != nullptr ? worker->task : nullptr;
  if (task->parent_ != nullptr) task->parent_->pending_++;
  task->pending_ = 1;
  task->waiters_ = nullptr;
  task->unresolved_ = 0;
  for (unsigned long i = 0; i < count; i++) {
    auto found = tasks_.find(dependencies[i]);
    if (found == tasks_.end() || found->second == task) continue;
    found->second->dependents_.push_back(task);
    task->unresolved_++;
  }
  if (task->unresolved_ == 0) enqueue(task);
  return id;
}

void ThreadPool::enqueue(ThreadPoolTask *task) {
  if (task->parent_ != nullptr) {
    ready_.push_front(task);
  } else {
    ready_.push_back(task);
  }
  work_.notify_one();
}

void ThreadPool::dereference(ThreadPoolWorker *worker, ThreadPoolTask *task, std::unique_lock<std::mutex> &lock) {
  while (task != nullptr && task->pending_ == 0) {
    lock.unlock();
    task->finish();
    lock.lock();
    tasks_.erase(task->id_);
    for (ThreadPoolTask *dependent : task->dependents_) {
      if (--dependent->unresolved_ == 0) enqueue(dependent);
    }
    if (task->waiters_ != nullptr) task->waiters_->done.notify_all();
    ThreadPoolTask *parent = task->parent_;
    delete task;
    // The parent's turn: its last child may have been this task. (A loop
    // rather than recursion, so deep chains of children cannot exhaust the
    // stack.)
    if (parent == nullptr) break;
    parent->pending_--;
    task = parent;
  }
  (void)worker;
}

void ThreadPool::thread_pool_worker(ThreadPoolWorker *worker) {
  current_worker = worker;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return !running_ || !ready_.empty(); });
    if (!running_) break;
    ThreadPoolTask *task = ready_.front();
    ready_.pop_front();
    worker->task = task;
    active_++;
    lock.unlock();
    task->run();
    lock.lock();
    worker->task = nullptr;
    task->pending_--;
    dereference(worker, task, lock);
    active_--;
    if (active_ == 0 && ready_.empty() && all_waiters_ > 0) all_done_.notify_all();
  }
  current_worker = nullptr;
}

void ThreadPool::wait_for_task(unsigned long long id) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto found = tasks_.find(id);
  if (found == tasks_.end()) return;
  ThreadPoolTask *task = found->second;
  ThreadPoolTask::Waiters *waiters = task->waiters_;
  if (waiters == nullptr) {
    waiters = new ThreadPoolTask::Waiters{1, {}};
    task->waiters_ = waiters;
  } else {
    waiters->count++;
  }
  // The task is deleted once its id leaves the map; only the record is
  // touched after that.
  waiters->done.wait(lock, [this, id] { return tasks_.find(id) == tasks_.end(); });
  if (--waiters->count == 0) delete waiters;
}

void ThreadPool::wait_for_all_tasks() {
  std::unique_lock<std::mutex> lock(mutex_);
  all_waiters_++;
  all_done_.wait(lock, [this] { return ready_.empty() && active_ == 0; });
  all_waiters_--;
}
