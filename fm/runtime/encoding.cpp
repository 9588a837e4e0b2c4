#include "fm/runtime/encoding.h"

#include <cstdint>

namespace {

// Little-endian bytes of value, the low count of them.
void write_le(Writer *writer, uint64_t value, int count) {
  unsigned char bytes[8];
  for (int i = 0; i < count; i++) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  writer->write_exact(bytes, count);
}

uint64_t read_le(Reader *reader, int count) {
  unsigned char bytes[8];
  reader->read_exact(bytes, count);
  uint64_t value = 0;
  for (int i = 0; i < count; i++) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return value;
}

}  // namespace

void file_write_flex_number(Writer *writer, unsigned int value) {
  if (value < 254) {
    write_le(writer, value, 1);
  } else if (value <= 0xFFFF) {
    write_le(writer, 254, 1);
    write_le(writer, value, 2);
  } else {
    write_le(writer, 255, 1);
    write_le(writer, value, 4);
  }
}

unsigned int file_read_flex_number(Reader *reader) {
  unsigned int first = static_cast<unsigned int>(read_le(reader, 1));
  if (first <= 253) return first;
  if (first == 254) return static_cast<unsigned int>(read_le(reader, 2));
  return static_cast<unsigned int>(read_le(reader, 4));
}

void file_write_flex_number64(Writer *writer, unsigned long long value) {
  if (value <= 252) {
    write_le(writer, value, 1);
  } else if (value <= 0xFFFF) {
    write_le(writer, 253, 1);
    write_le(writer, value, 2);
  } else if (value <= 0xFFFFFFFFULL) {
    write_le(writer, 254, 1);
    write_le(writer, value, 4);
  } else {
    write_le(writer, 255, 1);
    write_le(writer, value, 8);
  }
}

unsigned long long file_read_flex_number64(Reader *reader) {
  unsigned int first = static_cast<unsigned int>(read_le(reader, 1));
  if (first <= 252) return first;
  if (first == 253) return read_le(reader, 2);
  if (first == 254) return read_le(reader, 4);
  return read_le(reader, 8);
}

unsigned int number_width(unsigned int max) {
  if (max == 0 || max == 0xFFFFFFFFU) return 0;
  if (max <= 0xFF) return 1;
  if (max <= 0xFFFF) return 2;
  if (max <= 0xFFFFFF) return 3;
  return 4;
}

void file_write_number(Writer *writer, unsigned int value, unsigned int max) {
  unsigned int width = number_width(max);
  if (width > 0) write_le(writer, value, static_cast<int>(width));
}

unsigned int file_read_number(Reader *reader, unsigned int max) {
  unsigned int width = number_width(max);
  if (width == 0) return 0;
  return static_cast<unsigned int>(read_le(reader, static_cast<int>(width)));
}

void file_write_string(Writer *writer, std::string const &text) {
  file_write_flex_number(writer, static_cast<unsigned int>(text.size()));
  writer->write_exact(text.data(), static_cast<long long>(text.size()));
}

std::string file_read_string(Reader *reader) {
  unsigned int length = file_read_flex_number(reader);
  // The length comes from the file: the text grows piece by piece, so a
  // damaged length meets the end of the data before it can claim gigabytes.
  constexpr size_t kPiece = 1 << 20;
  std::string text;
  while (text.size() < length) {
    size_t piece = length - text.size() < kPiece ? length - text.size() : kPiece;
    size_t at = text.size();
    text.resize(at + piece);
    reader->read_exact(text.data() + at, static_cast<long long>(piece));
  }
  return text;
}
