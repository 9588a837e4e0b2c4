#include "fm/runtime/buffered_writer.h"

#include <cstring>

#include "common/memory.h"

namespace {
constexpr uint64_t kCapacity = 1 << 20;
}

BufferedWriter::BufferedWriter(Writer *sink)
    : sink_(sink), capacity_(kCapacity), buffer_(static_cast<unsigned char *>(ryx_malloc(kCapacity))), fill_(0) {}

BufferedWriter::~BufferedWriter() {
  internal_flush();
  sink_->flush();
  delete sink_;
  ryx_free(buffer_);
}

char const *BufferedWriter::name() const { return sink_->name(); }

bool BufferedWriter::is_buffered() { return true; }

long long BufferedWriter::attempt_write(void const *buffer, long long count) {
  auto const *in = static_cast<unsigned char const *>(buffer);
  uint64_t remaining = static_cast<uint64_t>(count);
  while (fill_ + remaining > capacity_) {
    uint64_t room = capacity_ - fill_;
    memcpy(buffer_ + fill_, in, room);
    fill_ += room;
    in += room;
    remaining -= room;
    internal_flush();
  }
  memcpy(buffer_ + fill_, in, remaining);
  fill_ += remaining;
  return count;
}

void BufferedWriter::flush() {
  internal_flush();
  sink_->flush();
}

void BufferedWriter::internal_flush() {
  if (fill_ == 0) return;
  long long put = sink_->attempt_write(buffer_, static_cast<long long>(fill_));
  if (put != static_cast<long long>(fill_)) write_error();
  fill_ = 0;
}

void BufferedWriter::flush_resize(unsigned long n) {
  if (capacity_ < n) {
    internal_flush();
    do {
      capacity_ *= 2;
    } while (capacity_ < n);
    ryx_free(buffer_);
    buffer_ = static_cast<unsigned char *>(ryx_malloc(capacity_));
  } else {
    internal_flush();
  }
}
