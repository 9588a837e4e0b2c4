// printf-style appending to a growing string.
//
// The text built is the part of the buffer before the write position; the
// buffer itself starts as 256 zero bytes and only ever doubles.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

class StringBuilder {
 public:
  StringBuilder();

  // Formats at the write position, growing the buffer until the text fits;
  // returns the number of characters written. A format the C library cannot
  // render (an encoding error) leaves the text unchanged and returns -1.
  int printf(char const *format, ...) __attribute__((format(printf, 2, 3)));
  int vprintf(char const *format, va_list args) __attribute__((format(printf, 2, 0)));

  // The text built so far.
  std::string str() const { return buffer_.substr(0, position_); }
  const char *c_str() const { return buffer_.c_str(); }
  size_t position() const { return position_; }
  // Length of the buffer (the room for text), not of the text.
  size_t capacity() const { return buffer_.size(); }
  // Hands the text over, cut at the write position; the builder is empty
  // afterwards.
  std::string take();

 private:
  // One vsnprintf at the write position into the room left; returns its
  // result.
  int format_at_position(char const *format, va_list args);

  std::string buffer_;
  size_t position_;
};
