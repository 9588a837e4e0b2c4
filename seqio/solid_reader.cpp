#include "seqio/solid_reader.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "seqio/colour_code.h"
#include "seqio/fasta_reader.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

[[noreturn]] void fail(const char *message, const char *path) {
  fprintf(stderr, message, path);
  ryx_exit(1);
}

constexpr const char *kFileFormatError = "Solid file format error in file %s\n";
constexpr const char *kFormatError = "Solid format error in file %s\n";

void *ops_open(input_stream_t *stream, seq_db_t *) { return colour_open_stream(stream); }
int32_t ops_next_length(void *state, input_stream_t *stream, array_list_t *) {
  return solid_read(state, stream, nullptr);
}
void ops_read(void *state, input_stream_t *stream, seq_record_t *record) { solid_read(state, stream, record); }
void ops_skip(void *, input_stream_t *stream, int32_t n) { fasta_skip(stream, n); }

void *chunk_open(gzFile gz, const char *path) { return colour_open_gz(gz, path); }

// The detection after the comment lines, on any byte source.
template <typename Next>
bool detect_after_comments(int c, Next next) {
  if (c != '>') return false;
  do c = next();
  while (c >= 0 && c != '\n');
  if (c < 0) return false;
  if (colour_primer_code(next()) < 0) return false;
  bool dots = false;
  for (c = next(); c == '.'; c = next()) dots = true;
  if (c >= '0' && c <= '9') return true;
  if (c < 0 || c == '\r' || c == '\n') return dots;
  return false;
}

}  // namespace

const seq_format_ops_t kSolidFormatOps = {ops_open, ops_next_length,   ops_read, nullptr,
                                          ops_skip, colour_state_free, solid_report};

const seq_chunk_ops_t kSolidChunkOps = {fasta_new_split_state, fasta_free_split_state, fasta_chunk_find_starts,
                                        solid_chunk_parse,     chunk_open,             colour_state_free,
                                        solid_report,          nullptr};

bool solid_detect(input_stream_t *stream) {
  return detect_after_comments(seq_skip_comments(stream), [stream] { return input_stream_getc(stream); });
}

bool solid_detect_gz(gzFile gz, const char *path) {
  return detect_after_comments(seq_skip_comments_gz(gz, path), [gz, path] { return seq_gz_getc(gz, path); });
}

int32_t solid_read(void *state, input_stream_t *stream, seq_record_t *record) {
  int c = input_stream_getc(stream);
  if (c < 0) return -1;
  const char *path = seq_stream_name(stream);
  if (c != '>') fail(kFileFormatError, path);
  seq_bytes_t name = {};
  if (seq_bytes_read_line(&name, stream, record != nullptr) < 0) fail(kFileFormatError, path);
  // The primer comes first among the non-whitespace bytes, then the
  // colours; the colours are kept as they are until the record is complete.
  int primer = -1;  // -1 while no byte was seen
  bool dotted = false;
  seq_bytes_t colours = {};
  int64_t count = 0;
  bool after_line_feed = true;  // the byte after the header line starts a line
  for (;;) {
    c = input_stream_getc(stream);
    if (c < 0) break;
    if (c == '>' && after_line_feed) {
      input_stream_ungetc(c, stream);
      break;
    }
    after_line_feed = c == '\n';
    if (seq_is_space(c)) continue;
    if (primer < 0) {
      primer = c;
      continue;
    }
    if (c == '.') dotted = true;
    if (record != nullptr) {
      seq_bytes_push(&colours, static_cast<uint8_t>(c));
    } else if (count == 0x7ffffffe) {
      fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
      ryx_exit(1);
    }
    count++;
  }
  if (dotted) colour_state_count_dotted(static_cast<colour_state_t *>(state));
  if (record != nullptr) {
    // A record without any sequence byte has no primer to check and
    // length 0.
    if (primer >= 0) {
      const int code = colour_primer_code(primer);
      if (code < 0) fail(kFormatError, path);
      if (!colour_decode_read(code, colours.data, colours.length, dotted, colours.data)) {
        seq_bytes_clear(&name);
        seq_bytes_clear(&colours);
        fail(kFormatError, path);
      }
    }
    seq_bytes_fill_record(record, &name, &colours);
  }
  return static_cast<int32_t>(count);
}

void solid_report(int64_t count, void *state, const char *path) {
  const int64_t ignored = static_cast<colour_state_t *>(state)->ignored;
  if (ignored > 0)
    fprintf(stderr, "In file %s: Ignored %lld sequences out of %lld due to dots in Solid data format.\n", path,
            static_cast<long long>(ignored), static_cast<long long>(count));
}

bool solid_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record, seq_record_t *,
                       const char *path) {
  char *name = nullptr;
  const int32_t body = fasta_chunk_name(data, length, &name);
  if (body < 0) fail(kFormatError, path);
  // Primer and colours moved together in place, then decoded over them.
  const int32_t n = fasta_chunk_compact(data, body, length, body);
  const int32_t colours = colour_decode_in_place(data + body, n, static_cast<colour_state_t *>(format_state));
  if (colours < 0) fail(kFormatError, path);
  record->name = name;
  record->residues = data + body;
  record->length = static_cast<uint32_t>(colours);
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  return false;
}
