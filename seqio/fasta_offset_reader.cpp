#include "seqio/fasta_offset_reader.h"

#include <cstdio>
#include <cstring>

#include "common/bin_codec.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

constexpr int64_t kMaxOffset = INT64_MAX;

[[noreturn]] void format_error(const input_stream_t *stream) {
  fprintf(stderr, "Fasta file format error in file %s\n", seq_stream_name(stream));
  ryx_exit(1);
}

int64_t region_end(void *state) { return *static_cast<int64_t *>(state); }

int32_t ops_next_length(void *state, input_stream_t *stream, array_list_t *) {
  return fof_read(state, stream, nullptr);
}
void ops_read(void *state, input_stream_t *stream, seq_record_t *record) { fof_read(state, stream, record); }

}  // namespace

const seq_format_ops_t kFofFormatOps = {fof_open, ops_next_length, ops_read, nullptr,
                                        fof_skip, fof_free_state,  nullptr};

bool fof_detect(input_stream_t *stream) {
  char magic[5];
  for (char &c : magic) {
    int b = input_stream_getc(stream);
    if (b < 0) return false;
    c = static_cast<char>(b);
  }
  return memcmp(magic, ".fof", 4) == 0 && magic[4] == 0;
}

void *fof_open(input_stream_t *stream, seq_db_t *) {
  input_stream_seek(stream, 0, SEEK_SET);
  char magic[4];
  if (input_stream_read(magic, 1, 4, stream) != 4 || memcmp(magic, ".fof", 4) != 0) {
    fprintf(stderr, "Unable to read fasta offset file\n");
    ryx_exit(1);
  }
  if (input_stream_getc(stream) != 0) {
    fprintf(stderr, "Fasta offset version error\n");
    ryx_exit(1);
  }
  uint64_t offset = bin_stream_read_u64(stream);
  uint64_t length = bin_stream_read_u64(stream);
  // Offsets past what a file position can hold are cut there: the region
  // then simply ends with the file.
  if (offset > static_cast<uint64_t>(kMaxOffset)) offset = kMaxOffset;
  uint64_t end = length > static_cast<uint64_t>(kMaxOffset) - offset ? kMaxOffset : offset + length;
  auto *state = static_cast<int64_t *>(ryx_malloc(sizeof(int64_t)));
  *state = static_cast<int64_t>(end);
  input_stream_seek(stream, static_cast<int64_t>(offset), SEEK_SET);
  return state;
}

void fof_free_state(void *state) { ryx_free(state); }

int32_t fof_read(void *state, input_stream_t *stream, seq_record_t *record) {
  const int64_t end = region_end(state);
  int64_t position = input_stream_tell(stream);  // offset of the next byte
  if (position >= end) return -1;
  int c = input_stream_getc(stream);
  if (c < 0) return -1;
  position++;
  if (c != '>') format_error(stream);
  seq_bytes_t name = {};
  for (;;) {
    if (position >= end) format_error(stream);
    c = input_stream_getc(stream);
    if (c < 0) format_error(stream);
    position++;
    if (c == '\n') break;
    if (record != nullptr && c != '\r') seq_bytes_push(&name, static_cast<uint8_t>(c));
  }
  seq_bytes_t residues = {};
  int32_t count = 0;
  bool after_line_feed = true;
  while (position < end) {
    c = input_stream_getc(stream);
    if (c < 0) break;
    if (c == '>' && after_line_feed) {
      input_stream_ungetc(c, stream);
      break;
    }
    position++;
    after_line_feed = c == '\n';
    if (seq_is_space(c)) continue;
    count++;
    if (record != nullptr) seq_bytes_push(&residues, static_cast<uint8_t>(c));
  }
  if (record != nullptr) seq_bytes_fill_record(record, &name, &residues);
  return count;
}

void fof_skip(void *state, input_stream_t *stream, int32_t n) {
  const int64_t end = region_end(state);
  int64_t position = input_stream_tell(stream);
  int32_t passed = 0;
  int previous = -1;
  while (position < end) {
    int c = input_stream_getc(stream);
    if (c < 0) return;
    if (c == '>' && previous == '\n') {
      if (passed == n) {
        input_stream_ungetc(c, stream);
        return;
      }
      passed++;
    }
    position++;
    previous = c;
  }
}
