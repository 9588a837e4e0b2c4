// The coroutine type of a seeding run, so that the seeder can take turns
// between reads while their index blocks arrive.
#pragma once

#include <coroutine>
#include <cstddef>
#include <exception>
#include <utility>

// A seeding run as a coroutine: created stopped before its first step;
// resume() runs it to its next stop and says whether it has more to do.
class MapperSeedingSteps {
 public:
  struct promise_type {
    MapperSeedingSteps get_return_object() {
      return MapperSeedingSteps(std::coroutine_handle<promise_type>::from_promise(*this));
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_always final_suspend() noexcept { return {}; }
    void return_void() {}
    void unhandled_exception() { std::terminate(); }

    // Frames are kept for the next run of the same thread, so that seeding
    // allocates nothing once it has started: a thread has at most two runs
    // at a time.
    static void *operator new(std::size_t size) {
      for (Frame &f : frames_)
        if (f.memory != nullptr && f.size >= size) return std::exchange(f.memory, nullptr);
      return ::operator new(size);
    }
    static void operator delete(void *memory, std::size_t size) {
      for (Frame &f : frames_) {
        if (f.memory == nullptr) {
          f = Frame{memory, size};
          return;
        }
      }
      ::operator delete(memory);
    }

   private:
    struct Frame {
      void *memory = nullptr;
      std::size_t size = 0;
    };
    // Freed by the thread's exit.
    struct Frames {
      Frame slots[2];
      Frame *begin() { return slots; }
      Frame *end() { return slots + 2; }
      ~Frames() {
        for (Frame &f : slots) ::operator delete(f.memory);
      }
    };
    static thread_local Frames frames_;
  };

  MapperSeedingSteps() = default;
  explicit MapperSeedingSteps(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
  MapperSeedingSteps(const MapperSeedingSteps &) = delete;
  MapperSeedingSteps &operator=(const MapperSeedingSteps &) = delete;
  MapperSeedingSteps &operator=(MapperSeedingSteps &&other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~MapperSeedingSteps() {
    if (handle_) handle_.destroy();
  }

  bool resume() {
    handle_.resume();
    return !handle_.done();
  }

 private:
  std::coroutine_handle<promise_type> handle_;
};

inline thread_local MapperSeedingSteps::promise_type::Frames MapperSeedingSteps::promise_type::frames_;
