// Codec family over byte arrays: readers at a cursor and appenders to a
// byte array_list_t.
#include "common/bin_codec.h"
#include "common/bin_decode.h"

namespace {

// Unchecked: the caller knows the record holds the value.
struct ArrayBytes {
  const uint8_t *bytes;
  int32_t *cursor;
  uint32_t operator()() { return bytes[(*cursor)++]; }
};

void append_le(array_list_t *list, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) {
    const uint8_t b = static_cast<uint8_t>(value >> (8 * i));
    array_list_add(list, &b);
  }
}

}  // namespace

uint8_t bin_bytes_read_u8(const uint8_t *bytes, int32_t *cursor) { return bytes[(*cursor)++]; }

uint16_t bin_bytes_read_u16(const uint8_t *bytes, int32_t *cursor) {
  ArrayBytes next{bytes, cursor};
  return static_cast<uint16_t>(bin_decode_le(next, 2));
}

uint32_t bin_bytes_read_u32(const uint8_t *bytes, int32_t *cursor) {
  ArrayBytes next{bytes, cursor};
  return bin_decode_le(next, 4);
}

uint64_t bin_bytes_read_u64(const uint8_t *bytes, int32_t *cursor) {
  ArrayBytes next{bytes, cursor};
  return bin_decode_u64_le(next);
}

uint32_t bin_bytes_read_number(const uint8_t *bytes, int32_t *cursor, int32_t limit) {
  ArrayBytes next{bytes, cursor};
  return bin_decode_le(next, bin_number_size(limit));
}

uint32_t bin_bytes_read_flex_number(const uint8_t *bytes, int32_t *cursor) {
  ArrayBytes next{bytes, cursor};
  return bin_decode_flex(next);
}

uint16_t bin_bytes_read_u16_be(const uint8_t *bytes, int32_t *cursor) {
  ArrayBytes next{bytes, cursor};
  return static_cast<uint16_t>(bin_decode_be(next, 2));
}

uint32_t bin_bytes_read_u32_be(const uint8_t *bytes, int32_t *cursor) {
  ArrayBytes next{bytes, cursor};
  return bin_decode_be(next, 4);
}

uint32_t bin_bytes_read_number_be(const uint8_t *bytes, int32_t *cursor, int32_t limit) {
  ArrayBytes next{bytes, cursor};
  return bin_decode_be(next, bin_number_size(limit));
}

void bin_bytes_append_u8(array_list_t *list, uint8_t value) { array_list_add(list, &value); }

void bin_bytes_append_u16(array_list_t *list, uint16_t value) { append_le(list, value, 2); }

void bin_bytes_append_u32(array_list_t *list, uint32_t value) { append_le(list, value, 4); }

void bin_bytes_append_number(array_list_t *list, uint32_t value, int32_t limit) {
  append_le(list, value, bin_number_size(limit));
}

void bin_bytes_append_flex_number(array_list_t *list, uint32_t value) {
  if (value <= 253) {
    bin_bytes_append_u8(list, static_cast<uint8_t>(value));
  } else if (value <= 0xFFFF) {
    bin_bytes_append_u8(list, 254);
    append_le(list, value, 2);
  } else {
    bin_bytes_append_u8(list, 255);
    append_le(list, value, 4);
  }
}
