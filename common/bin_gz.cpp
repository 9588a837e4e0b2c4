// Codec family over a zlib gz handle, little- and big-endian.
#include "common/bin_codec.h"
#include "common/bin_decode.h"

namespace {

// gzgetc gives -1 for the end of the input and for a read error (truncated
// or corrupt data) alike; both end the value, never pass as a byte.
struct GzBytes {
  gzFile gz;
  uint32_t operator()() {
    const int c = gzgetc(gz);
    if (c < 0) bin_early_termination();
    return static_cast<uint32_t>(c);
  }
};

}  // namespace

uint8_t bin_gz_read_u8(gzFile *gz) {
  GzBytes next{*gz};
  return static_cast<uint8_t>(next());
}

uint16_t bin_gz_read_u16(gzFile *gz) {
  GzBytes next{*gz};
  return static_cast<uint16_t>(bin_decode_le(next, 2));
}

uint32_t bin_gz_read_u32(gzFile *gz) {
  GzBytes next{*gz};
  return bin_decode_le(next, 4);
}

uint64_t bin_gz_read_u64(gzFile *gz) {
  GzBytes next{*gz};
  return bin_decode_u64_le(next);
}

uint32_t bin_gz_read_number(gzFile *gz, int32_t limit) {
  GzBytes next{*gz};
  return bin_decode_le(next, bin_number_size(limit));
}

uint8_t bin_gz_read_u8_be(gzFile *gz) { return bin_gz_read_u8(gz); }

uint16_t bin_gz_read_u16_be(gzFile *gz) {
  GzBytes next{*gz};
  return static_cast<uint16_t>(bin_decode_be(next, 2));
}

uint32_t bin_gz_read_u32_be(gzFile *gz) {
  GzBytes next{*gz};
  return bin_decode_be(next, 4);
}

uint64_t bin_gz_read_u64_be(gzFile *gz) {
  GzBytes next{*gz};
  return bin_decode_u64_be(next);
}

uint32_t bin_gz_read_number_be(gzFile *gz, int32_t limit) {
  GzBytes next{*gz};
  return bin_decode_be(next, bin_number_size(limit));
}
