// What the read mapper does when memory runs out.
//
// Every allocation of the class-based code goes through operator new or
// the fail-fast allocation of the common runtime, and every thread starts
// through OutOfMemory::start_thread. When the system cannot give the memory
// or the thread (its stack is address space too), the run cannot go on:
// the process prints "Out of memory allocating <n> bytes." on standard
// error and ends with status 69 through ryx_exit, which removes the
// temporary files and the unfinished outputs. That may happen on any
// thread; the first one to fail decides and the others wait for the end.
// No exception escapes to abort the process instead.
#pragma once

#include <cstddef>
#include <system_error>
#include <thread>
#include <utility>

class OutOfMemory {
 public:
  // Prints the message with the size that could not be had and ends the
  // process with status 69.
  [[noreturn]] static void fail(size_t bytes);

  // The address space a new thread takes for its stack: the system's
  // default thread stack size.
  static size_t thread_stack_size();

  // Starts a thread running f. A thread the system cannot start (no room
  // for its stack, or no thread left under the process's limits) ends the
  // process as fail does, with the size of a thread's stack.
  template <typename F>
  static std::thread start_thread(F &&f) {
    try {
      return std::thread(std::forward<F>(f));
    } catch (const std::system_error &) {
      fail(thread_stack_size());
    }
  }

  // For the replaced operator new of the program: a block of bytes from
  // malloc (at least one byte, so that every call gives a distinct
  // pointer), or fail. alignment 0 means malloc's own.
  static void *allocate(size_t bytes, size_t alignment);
};
