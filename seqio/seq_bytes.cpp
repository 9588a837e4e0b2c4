#include "seqio/seq_bytes.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_record.h"

namespace {
constexpr uint32_t kFirstCapacity = 256;
constexpr uint32_t kMaxLength = 0x7fffffff;
// Bytes moved per read of seq_bytes_read.
constexpr uint32_t kReadPiece = 65536;
}  // namespace

void seq_bytes_grow(seq_bytes_t *bytes) {
  uint64_t capacity = bytes->capacity == 0 ? kFirstCapacity : static_cast<uint64_t>(bytes->capacity) * 2;
  if (capacity > static_cast<uint64_t>(kMaxLength) + 1) capacity = static_cast<uint64_t>(kMaxLength) + 1;
  if (bytes->length + 1 >= capacity) {
    fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
    ryx_exit(1);
  }
  bytes->data = static_cast<uint8_t *>(ryx_realloc(bytes->data, capacity));
  bytes->capacity = static_cast<uint32_t>(capacity);
}

bool seq_bytes_read(seq_bytes_t *bytes, input_stream_t *stream, uint32_t n) {
  while (n > 0) {
    const uint32_t piece = n < kReadPiece ? n : kReadPiece;
    if (static_cast<uint64_t>(bytes->length) + piece >= kMaxLength) {
      fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
      ryx_exit(1);
    }
    while (bytes->length + piece >= bytes->capacity) seq_bytes_grow(bytes);
    const size_t got = input_stream_read(bytes->data + bytes->length, 1, piece, stream);
    bytes->length += static_cast<uint32_t>(got);
    if (got < piece) return false;
    n -= piece;
  }
  return true;
}

int64_t seq_bytes_read_line(seq_bytes_t *bytes, input_stream_t *stream, bool keep) {
  for (int64_t read = 1;; read++) {
    const int c = input_stream_getc(stream);
    if (c < 0) return -1;
    if (c == '\n') return read;
    if (keep && c != '\r') seq_bytes_push(bytes, static_cast<uint8_t>(c));
  }
}

void seq_bytes_clear(seq_bytes_t *bytes) {
  ryx_free(bytes->data);
  bytes->data = nullptr;
  bytes->length = 0;
  bytes->capacity = 0;
}

void seq_bytes_fill_record(seq_record_t *record, seq_bytes_t *name, seq_bytes_t *residues) {
  if (name != nullptr) {
    if (name->data == nullptr) seq_bytes_grow(name);
    name->data[name->length] = 0;
    record->name = reinterpret_cast<char *>(name->data);
    name->data = nullptr;
    name->length = name->capacity = 0;
  }
  if (residues->data == nullptr) seq_bytes_grow(residues);
  record->residues = residues->data;
  record->length = residues->length;
  residues->data = nullptr;
  residues->length = residues->capacity = 0;
}
