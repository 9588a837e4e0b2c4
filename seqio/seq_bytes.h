// Growing byte buffer in which the record-at-a-time readers collect a name
// or the residues of one record before handing them to the record.
#pragma once

#include <cstdint>

#include "common/input_stream.h"

struct seq_record_t;

struct seq_bytes_t {
  uint8_t *data;       // capacity bytes, null before the first byte
  uint32_t length;     // bytes stored
  uint32_t capacity;
};

// Makes room for at least one more byte (and the terminator the record
// buffers carry). A buffer that would pass 2^31 - 1 bytes prints
// "Sequence is too long (longer than 2Gbp).\n" to standard error and ends the
// process with status 1.
void seq_bytes_grow(seq_bytes_t *bytes);

// Appends one byte, growing the buffer when needed.
inline void seq_bytes_push(seq_bytes_t *bytes, uint8_t c) {
  if (bytes->length + 1 >= bytes->capacity) seq_bytes_grow(bytes);
  bytes->data[bytes->length++] = c;
}

// Appends exactly n bytes from the stream. The buffer grows with the bytes
// that actually arrive, so a damaged size field cannot cause a huge
// allocation before the input runs out. Returns false when the input ends
// first (the bytes read so far stay appended).
bool seq_bytes_read(seq_bytes_t *bytes, input_stream_t *stream, uint32_t n);

// Reads the rest of a line through its line feed, appending every byte but
// carriage returns and the line feed when keep is true. Returns the bytes
// read, line feed included, or -1 when the input ends before a line feed.
int64_t seq_bytes_read_line(seq_bytes_t *bytes, input_stream_t *stream, bool keep);

// Frees the buffer; the struct may be reused empty.
void seq_bytes_clear(seq_bytes_t *bytes);

// Hands the collected bytes to the record: name (terminated with 0, owned by
// the record; null keeps the record nameless) and residues (length + 1 bytes
// allocated, owned by the record, whose length becomes residues->length).
// Both buffers are left empty.
void seq_bytes_fill_record(seq_record_t *record, seq_bytes_t *name, seq_bytes_t *residues);
