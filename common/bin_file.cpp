// Codec family over a stdio FILE*.
#include <cstring>

#include "common/bin_codec.h"
#include "common/bin_decode.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

void bin_early_termination() {
  fprintf(stderr, "Error reading file: early termination\n");
  ryx_exit(1);
}

namespace {

// Bytes go through the unlocked stdio calls: a file is read or written by
// one thread at a time, and the lock of every single byte cost more than
// the byte's own work on the mappers' record files.
//
// getc returns EOF for the end and for a read error alike; both end the
// value, never pass as the byte 0xFF.
struct FileBytes {
  FILE *file;
  uint32_t operator()() {
    const int c = getc_unlocked(file);
    if (c == EOF) bin_early_termination();
    return static_cast<uint32_t>(c);
  }
};

void put_le(FILE *file, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) putc_unlocked(static_cast<int>((value >> (8 * i)) & 0xFF), file);
}

}  // namespace

uint8_t bin_file_read_u8(FILE *file) {
  FileBytes next{file};
  return static_cast<uint8_t>(next());
}

uint16_t bin_file_read_u16(FILE *file) {
  FileBytes next{file};
  return static_cast<uint16_t>(bin_decode_le(next, 2));
}

uint32_t bin_file_read_u32(FILE *file) {
  FileBytes next{file};
  return bin_decode_le(next, 4);
}

uint64_t bin_file_read_u64(FILE *file) {
  FileBytes next{file};
  return bin_decode_u64_le(next);
}

uint32_t bin_file_read_number(FILE *file, int32_t limit) {
  FileBytes next{file};
  return bin_decode_le(next, bin_number_size(limit));
}

uint32_t bin_file_read_flex_number(FILE *file) {
  FileBytes next{file};
  return bin_decode_flex(next);
}

char *bin_file_read_string(FILE *file) {
  const uint32_t length = bin_file_read_flex_number(file);
  if (length == 0) return nullptr;
  // size_t arithmetic: a stored length of 0xFFFFFFFF must not wrap to an
  // empty allocation.
  const size_t n = length;
  char *text = static_cast<char *>(ryx_malloc(n + 1));
  if (fread(text, 1, n, file) != n) {
    fprintf(stderr, "Read error\n");
    ryx_exit(1);
  }
  text[n] = '\0';
  return text;
}

void bin_file_write_u8(FILE *file, uint8_t value) { putc_unlocked(value, file); }

void bin_file_write_u16(FILE *file, uint16_t value) { put_le(file, value, 2); }

void bin_file_write_u32(FILE *file, uint32_t value) { put_le(file, value, 4); }

void bin_file_write_u64(FILE *file, uint64_t value) {
  put_le(file, static_cast<uint32_t>(value), 4);
  put_le(file, static_cast<uint32_t>(value >> 32), 4);
}

void bin_file_write_number(FILE *file, uint32_t value, int32_t limit) {
  put_le(file, value, bin_number_size(limit));
}

void bin_file_write_flex_number(FILE *file, uint32_t value) {
  if (value <= 253) {
    putc_unlocked(static_cast<int>(value), file);
  } else if (value <= 0xFFFF) {
    putc_unlocked(254, file);
    put_le(file, value, 2);
  } else {
    putc_unlocked(255, file);
    put_le(file, value, 4);
  }
}

void bin_file_write_string(FILE *file, const char *text) {
  if (text == nullptr) {
    putc_unlocked(0, file);
    return;
  }
  const size_t n = strlen(text);
  bin_file_write_flex_number(file, static_cast<uint32_t>(n));
  fwrite(text, 1, n, file);
}
