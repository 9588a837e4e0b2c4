// Block buffer in front of any Writer.
#pragma once

#include <cstdint>

#include "fm/runtime/reader_writer.h"

class BufferedWriter : public Writer {
 public:
  // Takes ownership of sink; the buffer starts at 1 MiB.
  explicit BufferedWriter(Writer *sink);
  // Writes out the buffer, flushes the sink and deletes it.
  ~BufferedWriter() override;
  BufferedWriter(const BufferedWriter &) = delete;
  BufferedWriter &operator=(const BufferedWriter &) = delete;

  char const *name() const override;
  // Takes all count bytes; full buffers go to the sink as whole blocks. A
  // short write of the sink ends the process through write_error().
  long long attempt_write(void const *buffer, long long count) override;
  // Writes the buffer out, then flushes the sink.
  void flush() override;
  bool is_buffered() override;

  // Writes the waiting bytes to the sink.
  void internal_flush();
  // Writes the waiting bytes and makes the capacity at least n.
  void flush_resize(unsigned long n);

  uint64_t capacity() const { return capacity_; }
  uint64_t fill() const { return fill_; }

 private:
  Writer *sink_;
  uint64_t capacity_;
  unsigned char *buffer_;
  uint64_t fill_;
};
