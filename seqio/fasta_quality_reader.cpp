#include "seqio/fasta_quality_reader.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "seqio/fasta_reader.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"

namespace {

[[noreturn]] void format_error(const char *path) {
  fprintf(stderr, "Fasta qual file format error in file %s\n", path);
  ryx_exit(1);
}

// The value of one token being read.
struct token_t {
  bool open = false;      // a token has begun
  bool negative = false;
  uint8_t value = 0;      // kept modulo 256
};

// Adds a non-whitespace byte to the token; false for a byte that may not
// stand in a value.
inline bool token_add(token_t *token, int c) {
  token->open = true;
  if (c >= '0' && c <= '9') {
    token->value = static_cast<uint8_t>(token->value * 10 + (c - '0'));
    return true;
  }
  if (c == '-') {
    token->negative = true;
    return true;
  }
  return false;
}

// The stored byte of a finished token; resets the token.
inline uint8_t token_take(token_t *token) {
  uint8_t stored = token->negative ? 0 : token->value;
  *token = token_t();
  return stored;
}

int32_t ops_next_length(void *, input_stream_t *stream, array_list_t *) { return fasta_qual_read(stream, nullptr); }
void ops_read_qualities(void *, input_stream_t *stream, seq_record_t *record) { fasta_qual_read(stream, record); }
void ops_skip(void *, input_stream_t *stream, int32_t n) { fasta_skip(stream, n); }

}  // namespace

const seq_format_ops_t kFastaQualFormatOps = {fasta_qual_open, ops_next_length, nullptr, ops_read_qualities,
                                              ops_skip,        nullptr,         nullptr};

const seq_chunk_ops_t kFastaQualChunkOps = {fasta_new_split_state, fasta_free_split_state, fasta_chunk_find_starts,
                                            fasta_qual_chunk_parse, nullptr,               nullptr,
                                            nullptr, nullptr};

bool fasta_qual_detect(input_stream_t *stream) {
  int c = seq_skip_comments(stream);
  if (c != '>') return false;
  do c = input_stream_getc(stream);
  while (c >= 0 && c != '\n');
  if (c < 0) return false;
  do c = input_stream_getc(stream);
  while (c == ' ');
  return c == '-' || (c >= '0' && c <= '9');
}

bool fasta_qual_detect_gz(gzFile gz, const char *path) {
  int c = seq_gz_getc(gz, path);
  while (c == '#') {
    do c = seq_gz_getc(gz, path);
    while (c >= 0 && c != '\n');
    if (c < 0) return false;
    c = seq_gz_getc(gz, path);
  }
  if (c != '>') return false;
  do c = seq_gz_getc(gz, path);
  while (c >= 0 && c != '\n');
  if (c < 0) return false;
  do c = seq_gz_getc(gz, path);
  while (c == ' ');
  return c == '-' || (c >= '0' && c <= '9');
}

void *fasta_qual_open(input_stream_t *stream, seq_db_t *) {
  input_stream_seek(stream, 0, SEEK_SET);
  int c = seq_skip_comments(stream);
  if (c >= 0) input_stream_ungetc(c, stream);
  return nullptr;
}

int32_t fasta_qual_read(input_stream_t *stream, seq_record_t *record) {
  int c = input_stream_getc(stream);
  if (c < 0) return -1;
  const char *path = seq_stream_name(stream);
  if (c != '>') format_error(path);
  seq_bytes_t name = {};
  if (seq_bytes_read_line(&name, stream, record != nullptr) < 0) format_error(path);
  seq_bytes_t values = {};
  int32_t count = 0;
  token_t token;
  bool after_line_feed = true;
  for (;;) {
    c = input_stream_getc(stream);
    if (c < 0) break;
    if (c == '>' && after_line_feed) {
      input_stream_ungetc(c, stream);
      break;
    }
    after_line_feed = c == '\n';
    if (seq_is_space(c)) {
      if (token.open) {
        uint8_t stored = token_take(&token);
        if (record != nullptr) seq_bytes_push(&values, stored);
        count++;
      }
      continue;
    }
    if (!token_add(&token, c)) format_error(path);
  }
  if (token.open) {  // the last value of the file, without whitespace after it
    uint8_t stored = token_take(&token);
    if (record != nullptr) seq_bytes_push(&values, stored);
    count++;
  }
  if (record != nullptr) seq_bytes_fill_record(record, &name, &values);
  return count;
}

bool fasta_qual_chunk_parse(uint8_t *data, int32_t length, void *, seq_record_t *record, seq_record_t *,
                            const char *path) {
  char *name = nullptr;
  int32_t body = fasta_chunk_name(data, length, &name);
  if (body < 0) {
    fprintf(stderr, "Fasta qual format error in file %s\n", path);
    ryx_exit(1);
  }
  // Every stored value used at least one token byte and one whitespace byte
  // (or the slice end), so the output stays behind the input.
  int32_t stored = 0;
  token_t token;
  for (int32_t i = body; i < length; i++) {
    uint8_t c = data[i];
    if (seq_is_space(c)) {
      if (token.open) data[body + stored++] = token_take(&token);
      continue;
    }
    if (!token_add(&token, c)) format_error(path);
  }
  if (token.open) data[body + stored++] = token_take(&token);
  record->name = name;
  record->residues = data + body;
  record->length = static_cast<uint32_t>(stored);
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  return false;
}
