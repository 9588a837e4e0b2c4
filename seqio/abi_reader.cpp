#include "seqio/abi_reader.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

constexpr int64_t kHeaderSize = 34;
constexpr int64_t kEntrySize = 28;
// Offset of the data-offset field inside an entry.
constexpr int64_t kDataField = 20;

// The format state: where the three entries point.
struct abi_state_t {
  int64_t length;          // sequence length
  bool has_bases;
  int64_t bases_offset;
  bool has_qualities;
  int64_t quality_offset;
  bool has_name;
  int64_t name_length;
  int64_t name_offset;
  bool delivered;          // the one record was counted
};

[[noreturn]] void format_error(const input_stream_t *stream) {
  fprintf(stderr, "ABI format error in file %s\n", seq_stream_name(stream));
  ryx_exit(1);
}

uint32_t be16(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
uint32_t be32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

// Appends n bytes from file offset at to bytes; false when the file ends
// first.
bool read_at(input_stream_t *stream, int64_t at, int64_t n, seq_bytes_t *bytes) {
  input_stream_seek(stream, at, SEEK_SET);
  if (input_stream_tell(stream) != at) return false;
  return seq_bytes_read(bytes, stream, static_cast<uint32_t>(n));
}

void ops_read(void *state, input_stream_t *stream, seq_record_t *record) { abi_read(state, stream, record, false); }
void ops_read_qualities(void *state, input_stream_t *stream, seq_record_t *record) {
  abi_read(state, stream, record, true);
}

}  // namespace

const seq_format_ops_t kAbiFormatOps = {abi_open, abi_next_length, ops_read,      ops_read_qualities,
                                        nullptr,  abi_free_state,  nullptr};

bool abi_detect(input_stream_t *stream) {
  for (const char *p = "ABIF"; *p != 0; p++)
    if (input_stream_getc(stream) != *p) return false;
  return true;
}

void *abi_open(input_stream_t *stream, seq_db_t *) {
  input_stream_seek(stream, 0, SEEK_SET);
  uint8_t header[kHeaderSize];
  if (input_stream_read(header, 1, sizeof header, stream) != sizeof header || memcmp(header, "ABIF", 4) != 0)
    format_error(stream);
  const uint32_t entries = be32(header + 18);
  const int64_t directory = be32(header + 26);
  input_stream_seek(stream, directory, SEEK_SET);
  if (input_stream_tell(stream) != directory) format_error(stream);

  auto *state = static_cast<abi_state_t *>(ryx_calloc(sizeof(abi_state_t)));
  int64_t bases_length = -1;
  int64_t quality_length = -1;
  // A count larger than the file holds runs into its end: entries are read
  // one by one, nothing is allocated by the count.
  for (uint32_t i = 0; i < entries; i++) {
    uint8_t entry[kEntrySize];
    if (input_stream_read(entry, 1, sizeof entry, stream) != sizeof entry) format_error(stream);
    const uint32_t number = be32(entry + 4);
    const uint32_t element_size = be16(entry + 10);
    const uint32_t elements = be32(entry + 12);
    const uint32_t data_size = be32(entry + 16);
    if (static_cast<uint64_t>(element_size) * elements != data_size) format_error(stream);
    if (number != 1) continue;
    // Data of at most 4 bytes stands in the entry's data-offset field.
    const int64_t data = data_size <= 4 ? directory + kEntrySize * i + kDataField : be32(entry + 20);
    if (memcmp(entry, "PBAS", 4) == 0) {
      if (element_size != 1) format_error(stream);
      bases_length = elements;
      state->has_bases = true;
      state->bases_offset = data;
    } else if (memcmp(entry, "PCON", 4) == 0) {
      if (element_size != 1) format_error(stream);
      quality_length = elements;
      state->has_qualities = true;
      state->quality_offset = data;
    } else if (memcmp(entry, "SMPL", 4) == 0) {
      // A string after its length byte.
      state->has_name = true;
      state->name_length = elements > 0 ? elements - 1 : 0;
      state->name_offset = data + 1;
    }
  }
  if (bases_length >= 0 && quality_length >= 0 && bases_length != quality_length) format_error(stream);
  state->length = bases_length >= 0 ? bases_length : quality_length >= 0 ? quality_length : 0;
  if (state->length > 0x7fffffff) format_error(stream);
  return state;
}

void abi_free_state(void *state) { ryx_free(state); }

int32_t abi_next_length(void *state, input_stream_t *, array_list_t *) {
  auto *s = static_cast<abi_state_t *>(state);
  if (s->delivered) return -1;
  s->delivered = true;
  return static_cast<int32_t>(s->length);
}

void abi_read(void *state, input_stream_t *stream, seq_record_t *record, bool qualities) {
  const auto *s = static_cast<const abi_state_t *>(state);
  seq_bytes_t residues = {};
  if (s->length > 0) {
    if (qualities && !s->has_qualities) {
      fprintf(stderr, "No quality scores\n");
      ryx_exit(1);
    }
    // A length known only from PCON leaves no bases to read.
    if (!qualities && !s->has_bases) format_error(stream);
    const int64_t at = qualities ? s->quality_offset : s->bases_offset;
    if (!read_at(stream, at, s->length, &residues)) format_error(stream);
  }
  seq_bytes_t name = {};
  if (s->has_name && s->name_length > 0 && !read_at(stream, s->name_offset, s->name_length, &name))
    format_error(stream);
  seq_bytes_fill_record(record, &name, &residues);
}
