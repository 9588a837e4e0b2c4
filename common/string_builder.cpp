#include "common/string_builder.h"

#include <cstdio>
#include <utility>

namespace {
// Length of a new builder's buffer; it only ever doubles from here.
constexpr size_t kInitialSize = 256;
}  // namespace

StringBuilder::StringBuilder() : buffer_(kInitialSize, '\0'), position_(0) {}

int StringBuilder::printf(char const *format, ...) {
  va_list args;
  va_start(args, format);
  const int written = vprintf(format, args);
  va_end(args);
  return written;
}

int StringBuilder::vprintf(char const *format, va_list args) {
  // The room includes the string's own terminator place at buffer_[size()],
  // where vsnprintf puts its terminating zero when the text fills the buffer.
  // When the text does not fit, the buffer doubles (the new bytes zero) until
  // it does, and the text is formatted again from a fresh copy of the
  // arguments.
  int length = format_at_position(format, args);
  if (length >= 0 && position_ + static_cast<size_t>(length) > buffer_.size()) {
    size_t size = buffer_.size();
    while (position_ + static_cast<size_t>(length) > size) size *= 2;
    buffer_.resize(size, '\0');
    length = format_at_position(format, args);
  }
  if (length < 0) {
    buffer_[position_] = '\0';
    return -1;
  }
  position_ += static_cast<size_t>(length);
  return length;
}

int StringBuilder::format_at_position(char const *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(buffer_.data() + position_, buffer_.size() - position_ + 1, format, copy);
  va_end(copy);
  return length;
}

std::string StringBuilder::take() {
  std::string text = std::move(buffer_);
  text.resize(position_);
  buffer_.assign(kInitialSize, '\0');
  position_ = 0;
  return text;
}
