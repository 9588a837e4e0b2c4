// In-memory Reader and Writer for the runtime tests: a source that hands
// out a string (optionally in small pieces, like a slow device) and a sink
// that records every write call.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fm/runtime/reader_writer.h"

namespace ryx_test {

class MemoryReader : public Reader {
 public:
  // read_log, when given, records the count asked for by each call.
  explicit MemoryReader(std::string data, std::vector<long long> *read_log = nullptr, std::string name = "memory")
      : data_(std::move(data)), name_(std::move(name)), read_log_(read_log) {}
  char const *name() const override { return name_.c_str(); }
  long long attempt_read(void *buffer, long long count) override {
    long long n = std::min<long long>(count, static_cast<long long>(data_.size() - position_));
    memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += static_cast<size_t>(n);
    if (read_log_ != nullptr) read_log_->push_back(count);
    return n;
  }
  long long raw_offset() const override { return static_cast<long long>(position_); }

 private:
  std::string data_;
  std::string name_;
  std::vector<long long> *read_log_;
  size_t position_ = 0;
};

// What a MemoryWriter received; lives outside the writer, which its
// BufferedWriter deletes.
struct SinkLog {
  std::string bytes;
  std::vector<long long> writes;  // the count offered by each call
  int flushes = 0;
  size_t limit = static_cast<size_t>(-1);  // bytes taken before refusing (a full disk)
};

class MemoryWriter : public Writer {
 public:
  explicit MemoryWriter(SinkLog *log, std::string name = "memory-out") : log_(log), name_(std::move(name)) {}
  char const *name() const override { return name_.c_str(); }
  long long attempt_write(void const *buffer, long long count) override {
    log_->writes.push_back(count);
    size_t room = log_->limit - std::min(log_->limit, log_->bytes.size());
    size_t n = std::min(room, static_cast<size_t>(count));
    log_->bytes.append(static_cast<char const *>(buffer), n);
    return static_cast<long long>(n);
  }
  void flush() override { log_->flushes++; }

 private:
  SinkLog *log_;
  std::string name_;
};

}  // namespace ryx_test
