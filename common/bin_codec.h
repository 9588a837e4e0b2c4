// Binary integer and string codecs, one family per target: a FILE*, an
// input_stream_t, a gz handle, a byte array with a cursor and a byte
// array_list_t.
//
// Encodings (little-endian unless the name ends in _be):
// - u8, u16, u32: 1, 2, 4 bytes. u64: the low 32 bits as a u32, then the
//   high 32 bits (big-endian: high half first), so 8 bytes in byte order.
// - number by limit: a value known to be below a limit L takes as many bytes
//   as L - 1 (as an unsigned 32-bit number) has significant bytes: 0 for
//   L = 1, 1 up to L = 256, 2 up to 65536, 3 up to 2^24, else 4 (L = 0 takes
//   4). Writers cut a value that does not fit to its low bytes.
// - flex number: v <= 253 as the byte v; v <= 65535 as 254 and a u16;
//   larger as 255 and a u32.
// - string: its length as a flex number, then its bytes without terminator.
//   A null string is written like the empty one, the byte 0; both read back
//   as null.
//
// The FILE*, input stream and gz handle readers end the process with
// "Error reading file: early termination\n" on standard error and status 1
// when the input ends inside a value (a gz read error counts as an end:
// zlib's gzgetc does not tell them apart). The byte-array readers do no
// bounds checking: the caller knows the record length. The writers do not
// report write errors; callers check ferror or the close result.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>

#include "common/array_list.h"
#include "common/input_stream.h"

// Bytes that a number below limit takes (0 to 4).
inline int bin_number_size(int32_t limit) {
  int bytes = 0;
  for (uint32_t m = static_cast<uint32_t>(limit) - 1; m != 0; m >>= 8) bytes++;
  return bytes;
}

// FILE* readers: the decoded value; they exit at the end of the input.
uint8_t bin_file_read_u8(FILE *file);
uint16_t bin_file_read_u16(FILE *file);
uint32_t bin_file_read_u32(FILE *file);
uint64_t bin_file_read_u64(FILE *file);
uint32_t bin_file_read_number(FILE *file, int32_t limit);
uint32_t bin_file_read_flex_number(FILE *file);
// A new string (ryx_malloc, the caller frees it) or null for length 0.
// Fewer bytes than the stated length: "Read error\n" on standard error and
// status 1.
char *bin_file_read_string(FILE *file);

// FILE* writers, byte by byte; results are not checked. The FILE* readers
// and writers take no stdio lock: one thread at a time uses a file.
void bin_file_write_u8(FILE *file, uint8_t value);
void bin_file_write_u16(FILE *file, uint16_t value);
void bin_file_write_u32(FILE *file, uint32_t value);
void bin_file_write_u64(FILE *file, uint64_t value);
void bin_file_write_number(FILE *file, uint32_t value, int32_t limit);
void bin_file_write_flex_number(FILE *file, uint32_t value);
void bin_file_write_string(FILE *file, const char *text);

// input_stream_t readers, through input_stream_getc; they exit at the end of
// the input (a read error of the source has already ended the process).
uint8_t bin_stream_read_u8(input_stream_t *stream);
uint16_t bin_stream_read_u16(input_stream_t *stream);
uint32_t bin_stream_read_u32(input_stream_t *stream);
uint64_t bin_stream_read_u64(input_stream_t *stream);
uint32_t bin_stream_read_number(input_stream_t *stream, int32_t limit);
uint32_t bin_stream_read_flex_number(input_stream_t *stream);
// As bin_file_read_string, through input_stream_read: null for length 0,
// "Read error\n" and status 1 when the input ends inside the bytes.
char *bin_stream_read_string(input_stream_t *stream);
uint8_t bin_stream_read_u8_be(input_stream_t *stream);
uint16_t bin_stream_read_u16_be(input_stream_t *stream);
uint32_t bin_stream_read_u32_be(input_stream_t *stream);
uint64_t bin_stream_read_u64_be(input_stream_t *stream);
uint32_t bin_stream_read_number_be(input_stream_t *stream, int32_t limit);

// gz handle readers: take a pointer to an open handle and read with gzgetc,
// bypassing any input_stream_t buffer; they exit at the end of the input.
uint8_t bin_gz_read_u8(gzFile *gz);
uint16_t bin_gz_read_u16(gzFile *gz);
uint32_t bin_gz_read_u32(gzFile *gz);
uint64_t bin_gz_read_u64(gzFile *gz);
uint32_t bin_gz_read_number(gzFile *gz, int32_t limit);
uint8_t bin_gz_read_u8_be(gzFile *gz);
uint16_t bin_gz_read_u16_be(gzFile *gz);
uint32_t bin_gz_read_u32_be(gzFile *gz);
uint64_t bin_gz_read_u64_be(gzFile *gz);
uint32_t bin_gz_read_number_be(gzFile *gz, int32_t limit);

// Byte array readers: decode at bytes[*cursor] and advance the cursor; no
// bounds checking, no failure.
uint8_t bin_bytes_read_u8(const uint8_t *bytes, int32_t *cursor);
uint16_t bin_bytes_read_u16(const uint8_t *bytes, int32_t *cursor);
uint32_t bin_bytes_read_u32(const uint8_t *bytes, int32_t *cursor);
uint64_t bin_bytes_read_u64(const uint8_t *bytes, int32_t *cursor);
uint32_t bin_bytes_read_number(const uint8_t *bytes, int32_t *cursor, int32_t limit);
uint32_t bin_bytes_read_flex_number(const uint8_t *bytes, int32_t *cursor);
uint16_t bin_bytes_read_u16_be(const uint8_t *bytes, int32_t *cursor);
uint32_t bin_bytes_read_u32_be(const uint8_t *bytes, int32_t *cursor);
uint32_t bin_bytes_read_number_be(const uint8_t *bytes, int32_t *cursor, int32_t limit);

// Appenders to an array_list_t of 1-byte items; they cannot fail.
void bin_bytes_append_u8(array_list_t *list, uint8_t value);
void bin_bytes_append_u16(array_list_t *list, uint16_t value);
void bin_bytes_append_u32(array_list_t *list, uint32_t value);
void bin_bytes_append_number(array_list_t *list, uint32_t value, int32_t limit);
void bin_bytes_append_flex_number(array_list_t *list, uint32_t value);
