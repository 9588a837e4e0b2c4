// Block buffer in front of any Reader.
//
// The unread bytes are buffer()[position()] to buffer()[end() - 1]; a
// scanner may read them in place and move the position itself, after
// making room with reserveNewBlock. Bytes past the data read as 0 up to the
// count last reserved, and at least kBufferedReaderSlack zero bytes always
// follow the valid ones, so a scanner can load 16 bytes at a time without a
// bounds check on every byte.
#pragma once

#include <cstdint>

constexpr uint64_t kBufferedReaderSlack = 64;

#include "fm/runtime/reader_writer.h"

class BufferedReader : public Reader {
 public:
  // Takes ownership of source and reads the first block (1 MiB) at once.
  explicit BufferedReader(Reader *source);
  // Deletes the source.
  ~BufferedReader() override;
  BufferedReader(const BufferedReader &) = delete;
  BufferedReader &operator=(const BufferedReader &) = delete;

  char const *name() const override;
  // Copies from the buffer, refilling block by block; fewer than count only
  // at the end of the data.
  long long attempt_read(void *buffer, long long count) override;
  long long raw_offset() const override;
  bool is_buffered() override;

  // Makes n bytes from the read position addressable (the read position
  // becomes 0, the block grows by doubling when n exceeds it); returns the
  // number of valid bytes now held. At the end of the data fewer than n are
  // valid and the rest up to n is zeroed.
  uint64_t reserveNewBlock(unsigned long n);
  // Advances the read position by n bytes, refilling and discarding as
  // needed; returns the new end. When the data runs out first everything is
  // discarded (end and position become 0) and the old end is returned.
  uint64_t consumeNewBlock(unsigned long n);

  // Estimated position in the source's storage of the current read
  // position, interpolated between two readings of its raw offset.
  long long estimate_raw_position();

  unsigned char *buffer() { return buffer_; }
  uint64_t position() const { return position_; }
  void set_position(uint64_t position) { position_ = position; }
  uint64_t end() const { return end_; }
  uint64_t block_size() const { return block_size_; }

 private:
  // Zeroes the slack behind the valid bytes.
  void pad_after_end();

  Reader *source_;
  uint64_t block_size_;
  unsigned char *buffer_;
  uint64_t end_;
  uint64_t position_;
  long long first_raw_offset_;
  long long second_raw_offset_;
  long long first_mark_;
  long long second_mark_;
};
