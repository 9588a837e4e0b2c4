// Owned arrays of plain records for the index: cache-line aligned, zeroed,
// and allocated fail-fast ("Out of memory allocating %zu bytes.", status
// 69), so a huge size from a damaged file ends the process cleanly instead
// of throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "common/memory.h"

template <typename T>
class IndexBuffer {
  static_assert(std::is_trivially_copyable_v<T>, "index buffers hold plain records");

 public:
  IndexBuffer() = default;
  // count zeroed records. Large blocks come from calloc as untouched zero
  // pages, so memory is only committed as the records are written.
  explicit IndexBuffer(uint64_t count) { allocate(count); }
  ~IndexBuffer() { release(); }
  IndexBuffer(const IndexBuffer &) = delete;
  IndexBuffer &operator=(const IndexBuffer &) = delete;
  IndexBuffer(IndexBuffer &&other) noexcept { take(other); }
  IndexBuffer &operator=(IndexBuffer &&other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }

  // Replaces the contents by count zeroed records.
  void allocate(uint64_t count) {
    release();
    if (count == 0) return;
    // 64 spare bytes let the records start on a cache line.
    const uint64_t limit = (SIZE_MAX - 64) / sizeof(T);
    const size_t bytes = count > limit ? SIZE_MAX : static_cast<size_t>(count) * sizeof(T) + 64;
    raw_ = bytes == SIZE_MAX ? nullptr : std::calloc(1, bytes);
    ryx_malloc_check(raw_, bytes);
    const uintptr_t at = (reinterpret_cast<uintptr_t>(raw_) + 63) & ~static_cast<uintptr_t>(63);
    data_ = reinterpret_cast<T *>(at);
    size_ = count;
  }

  // Forgets the records past count (the memory stays allocated).
  void truncate(uint64_t count) {
    if (count < size_) size_ = count;
  }

  void release() {
    std::free(raw_);
    raw_ = nullptr;
    data_ = nullptr;
    size_ = 0;
  }

  T *data() { return data_; }
  const T *data() const { return data_; }
  uint64_t size() const { return size_; }
  uint64_t bytes() const { return size_ * sizeof(T); }
  T &operator[](uint64_t i) { return data_[i]; }
  const T &operator[](uint64_t i) const { return data_[i]; }

 private:
  void take(IndexBuffer &other) {
    raw_ = other.raw_;
    data_ = other.data_;
    size_ = other.size_;
    other.raw_ = nullptr;
    other.data_ = nullptr;
    other.size_ = 0;
  }

  void *raw_ = nullptr;
  T *data_ = nullptr;
  uint64_t size_ = 0;
};
