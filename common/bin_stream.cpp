// Codec family over an input_stream_t, little- and big-endian.
#include "common/bin_codec.h"
#include "common/bin_decode.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

struct StreamBytes {
  input_stream_t *stream;
  uint32_t operator()() {
    const int c = input_stream_getc(stream);
    if (c < 0) bin_early_termination();
    return static_cast<uint32_t>(c);
  }
};

}  // namespace

uint8_t bin_stream_read_u8(input_stream_t *stream) {
  StreamBytes next{stream};
  return static_cast<uint8_t>(next());
}

uint16_t bin_stream_read_u16(input_stream_t *stream) {
  StreamBytes next{stream};
  return static_cast<uint16_t>(bin_decode_le(next, 2));
}

uint32_t bin_stream_read_u32(input_stream_t *stream) {
  StreamBytes next{stream};
  return bin_decode_le(next, 4);
}

uint64_t bin_stream_read_u64(input_stream_t *stream) {
  StreamBytes next{stream};
  return bin_decode_u64_le(next);
}

uint32_t bin_stream_read_number(input_stream_t *stream, int32_t limit) {
  StreamBytes next{stream};
  return bin_decode_le(next, bin_number_size(limit));
}

uint32_t bin_stream_read_flex_number(input_stream_t *stream) {
  StreamBytes next{stream};
  return bin_decode_flex(next);
}

char *bin_stream_read_string(input_stream_t *stream) {
  const uint32_t length = bin_stream_read_flex_number(stream);
  if (length == 0) return nullptr;
  // size_t arithmetic: a stored length of 0xFFFFFFFF must not wrap to an
  // empty allocation.
  const size_t n = length;
  char *text = static_cast<char *>(ryx_malloc(n + 1));
  if (input_stream_read(text, 1, n, stream) != n) {
    fprintf(stderr, "Read error\n");
    ryx_exit(1);
  }
  text[n] = '\0';
  return text;
}

uint8_t bin_stream_read_u8_be(input_stream_t *stream) { return bin_stream_read_u8(stream); }

uint16_t bin_stream_read_u16_be(input_stream_t *stream) {
  StreamBytes next{stream};
  return static_cast<uint16_t>(bin_decode_be(next, 2));
}

uint32_t bin_stream_read_u32_be(input_stream_t *stream) {
  StreamBytes next{stream};
  return bin_decode_be(next, 4);
}

uint64_t bin_stream_read_u64_be(input_stream_t *stream) {
  StreamBytes next{stream};
  return bin_decode_u64_be(next);
}

uint32_t bin_stream_read_number_be(input_stream_t *stream, int32_t limit) {
  StreamBytes next{stream};
  return bin_decode_be(next, bin_number_size(limit));
}
