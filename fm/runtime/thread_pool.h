// Task-graph thread pool.
//
// A task may depend on other tasks by id and may schedule child tasks while
// it runs. A task's finish() runs once the task and all its children are
// done; tasks depending on it start only after that. Children go to the
// front of the ready queue, so the graph is worked depth first. A worker
// that cannot be started ends the process as fm/runtime/out_of_memory.h
// says.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

class ThreadPool;

class ThreadPoolTask {
 public:
  virtual ~ThreadPoolTask();
  // The task's work; runs on a worker without the pool's lock.
  virtual void run() = 0;
  // Runs after run() and after every child's finish(), on the worker that
  // completed the last of them.
  virtual void finish();

 private:
  friend class ThreadPool;
  struct Waiters {
    int32_t count;
    std::condition_variable done;
  };

  // All guarded by the pool's mutex.
  ThreadPoolTask *parent_ = nullptr;
  int32_t pending_ = 0;  // 1 for the task itself + 1 per unfinished child
  std::vector<ThreadPoolTask *> dependents_;
  uint64_t id_ = 0;
  Waiters *waiters_ = nullptr;
  ThreadPool *pool_ = nullptr;
  uint32_t unresolved_ = 0;
};

struct ThreadPoolWorker {
  ThreadPool *pool = nullptr;
  uint32_t index = 0;
  std::thread thread;
  ThreadPoolTask *task = nullptr;  // being run; null when idle
};

class ThreadPool {
 public:
  // As many workers as get_number_of_cpus().
  ThreadPool();
  explicit ThreadPool(int threads);
  // Stops and joins the workers; each finishes the task it is running.
  // Tasks not yet run are deleted without running.
  ~ThreadPool();
  ThreadPool(const ThreadPool &) = delete;
  ThreadPool &operator=(const ThreadPool &) = delete;

  // Registers task, which may start once the tasks named by the count ids
  // in dependencies have finished (ids already finished impose nothing).
  // Called from a running task, the new task is that task's child. The pool
  // owns the task from here on and deletes it after its finish(). Returns
  // the task's id.
  uint64_t schedule(ThreadPoolTask *task, unsigned long count, unsigned long long *dependencies);
  // Returns once the task with this id has finished (at once for an unknown
  // or finished id).
  void wait_for_task(unsigned long long id);
  // Returns once no task is queued or being run.
  void wait_for_all_tasks();

  // The worker whose thread calls, and the task it runs; null when the
  // caller is not a worker of this pool.
  ThreadPoolWorker *get_current_worker();
  ThreadPoolTask *get_current_task();

  // Internal steps, called with the mutex held.
  void enqueue(ThreadPoolTask *task);
  void dereference(ThreadPoolWorker *worker, ThreadPoolTask *task, std::unique_lock<std::mutex> &lock);

 private:
  void start(int threads);
  void thread_pool_worker(ThreadPoolWorker *worker);

  std::vector<ThreadPoolWorker> workers_;
  std::mutex mutex_;
  std::condition_variable work_;
  bool running_ = true;
  std::unordered_map<uint64_t, ThreadPoolTask *> tasks_;
  uint64_t next_id_ = 1;
  std::deque<ThreadPoolTask *> ready_;
  std::condition_variable all_done_;
  uint32_t all_waiters_ = 0;
  uint32_t active_ = 0;
};
