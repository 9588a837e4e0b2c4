#include "fm/runtime/buffered_reader.h"

#include <cstring>

#include "common/memory.h"

namespace {
constexpr uint64_t kBlockSize = 1 << 20;
}

BufferedReader::BufferedReader(Reader *source)
    : source_(source),
      block_size_(kBlockSize),
      buffer_(static_cast<unsigned char *>(ryx_malloc(kBlockSize + kBufferedReaderSlack))),
      end_(0),
      position_(0),
      first_raw_offset_(source->raw_offset()),
      second_raw_offset_(first_raw_offset_),
      first_mark_(0),
      second_mark_(0) {
  long long got = source_->attempt_read(buffer_, static_cast<long long>(block_size_));
  end_ = got > 0 ? static_cast<uint64_t>(got) : 0;
  pad_after_end();
}

void BufferedReader::pad_after_end() { memset(buffer_ + end_, 0, kBufferedReaderSlack); }

BufferedReader::~BufferedReader() {
  ryx_free(buffer_);
  delete source_;
}

char const *BufferedReader::name() const { return source_->name(); }

long long BufferedReader::raw_offset() const { return source_->raw_offset(); }

bool BufferedReader::is_buffered() { return true; }

long long BufferedReader::attempt_read(void *buffer, long long count) {
  auto *out = static_cast<unsigned char *>(buffer);
  uint64_t wanted = static_cast<uint64_t>(count);
  uint64_t total = 0;
  for (;;) {
    uint64_t available = end_ - position_;
    if (available >= wanted - total) {
      memcpy(out + total, buffer_ + position_, wanted - total);
      position_ += wanted - total;
      return count;
    }
    memcpy(out + total, buffer_ + position_, available);
    position_ += available;
    total += available;
    reserveNewBlock(block_size_);
    if (end_ == 0) return static_cast<long long>(total);
  }
}

uint64_t BufferedReader::reserveNewBlock(unsigned long n) {
  uint64_t unread = end_ - position_;
  if (block_size_ < n) {
    while (block_size_ < n) block_size_ *= 2;
    auto *grown = static_cast<unsigned char *>(ryx_malloc(block_size_ + kBufferedReaderSlack));
    memcpy(grown, buffer_ + position_, unread);
    ryx_free(buffer_);
    buffer_ = grown;
  } else if (unread > 0 && position_ > 0) {
    memmove(buffer_, buffer_ + position_, unread);
  }
  long long got = 0;
  if (block_size_ > unread) {
    got = source_->attempt_read(buffer_ + unread, static_cast<long long>(block_size_ - unread));
    if (got < 0) got = 0;
  }
  end_ = unread + static_cast<uint64_t>(got);
  // The marks stay attached to the same bytes.
  first_mark_ -= static_cast<long long>(position_);
  second_mark_ -= static_cast<long long>(position_);
  position_ = 0;
  if (end_ < n) memset(buffer_ + end_, 0, n - end_);
  pad_after_end();
  return end_;
}

uint64_t BufferedReader::consumeNewBlock(unsigned long n) {
  uint64_t target = position_ + n;
  while (target > end_) {
    if (end_ < block_size_) {
      uint64_t old_end = end_;
      end_ = 0;
      position_ = 0;
      first_mark_ = 0;
      second_mark_ = 0;
      pad_after_end();
      return old_end;
    }
    target -= end_;
    long long got = source_->attempt_read(buffer_, static_cast<long long>(block_size_));
    end_ = got > 0 ? static_cast<uint64_t>(got) : 0;
    pad_after_end();
  }
  position_ = target;
  return end_;
}

long long BufferedReader::estimate_raw_position() {
  long long position = static_cast<long long>(position_);
  if (second_mark_ < position) {
    // The reader has passed the last reading: the source has delivered
    // everything up to end, so its raw offset now belongs to end.
    first_raw_offset_ = second_raw_offset_;
    first_mark_ = second_mark_;
    second_raw_offset_ = source_->raw_offset();
    second_mark_ = static_cast<long long>(end_);
  }
  if (first_mark_ == second_mark_) return first_raw_offset_;
  return first_raw_offset_ + (position - first_mark_) * (second_raw_offset_ - first_raw_offset_) /
                                 (second_mark_ - first_mark_);
}
