#include "seqio/colour_space_reader.h"

#include <cstdio>

#include "common/ryx_exit.h"
#include "seqio/colour_code.h"
#include "seqio/fasta_reader.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/fastq_reader.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

[[noreturn]] void fail(const char *message, const char *path) {
  fprintf(stderr, message, path);
  ryx_exit(1);
}

constexpr const char *kFileFormatError = "Color space fastq file format error in file %s\n";
constexpr const char *kEofError = "Color space fastq format error EOF in file %s\n";
constexpr const char *kFormatError = "Color space fastq format error in file %s\n";
constexpr const char *kPrimerError = "Color space fastq error in file %s\n";
constexpr const char *kQualityError = "Fastq format error in file %s\n";

void *ops_open(input_stream_t *stream, seq_db_t *) { return colour_open_stream(stream); }
int32_t ops_next_length(void *state, input_stream_t *stream, array_list_t *markers) {
  return csfastq_read(state, stream, nullptr, markers, false);
}
void ops_read(void *state, input_stream_t *stream, seq_record_t *record) {
  csfastq_read(state, stream, record, nullptr, false);
}
void ops_read_qualities(void *state, input_stream_t *stream, seq_record_t *record) {
  csfastq_read(state, stream, record, nullptr, true);
}
void ops_skip(void *, input_stream_t *stream, int32_t n) { fastq_skip(stream, n); }

void *chunk_open(gzFile gz, const char *path) { return colour_open_gz(gz, path); }

// The detection after the comment lines, on any byte source; c is the
// first byte after them.
template <typename Next>
bool detect_after_comments(int c, Next next) {
  while (c == '@') {
    do c = next();
    while (c >= 0 && c != '\n');
    if (c < 0) return false;
    if (colour_primer_code(next()) < 0) return false;
    bool digit = false;
    for (;;) {
      c = next();
      if (c < 0) return false;
      if (c == '.') continue;
      if (c == '\n') break;
      if (c == '\r') {
        if (next() != '\n') return false;
        break;
      }
      if (c < '0' || c > '9') return false;
      digit = true;
    }
    if (next() != '+') return false;
    if (digit) return true;
    // Only dots so far: the '+' line and the quality line are passed, and
    // the next record decides.
    for (int lines = 0; lines < 2; lines++) {
      do c = next();
      while (c >= 0 && c != '\n');
      if (c < 0) return true;
    }
    c = next();
  }
  return c < 0;
}

}  // namespace

const seq_format_ops_t kCsfastqFormatOps = {ops_open, ops_next_length,   ops_read,      ops_read_qualities,
                                            ops_skip, colour_state_free, csfastq_report};

const seq_chunk_ops_t kCsfastqChunkOps = {fastq_new_split_state, fastq_free_split_state, csfastq_chunk_find_starts,
                                          csfastq_chunk_parse,   chunk_open,             colour_state_free,
                                          csfastq_report,        csfastq_end_of_input};

bool csfastq_detect(input_stream_t *stream) {
  return detect_after_comments(seq_skip_comments(stream), [stream] { return input_stream_getc(stream); });
}

bool csfastq_detect_gz(gzFile gz, const char *path) {
  return detect_after_comments(seq_skip_comments_gz(gz, path), [gz, path] { return seq_gz_getc(gz, path); });
}

int32_t csfastq_read(void *state, input_stream_t *stream, seq_record_t *record, array_list_t *markers,
                     bool qualities) {
  int c = input_stream_getc(stream);
  if (c < 0) return -1;
  const char *path = seq_stream_name(stream);
  if (c != '@') fail(kFileFormatError, path);
  // File offset of the next byte to be read; kept only for the markers.
  int64_t position = markers != nullptr ? input_stream_tell(stream) : 0;

  seq_bytes_t name = {};
  const int64_t header = seq_bytes_read_line(&name, stream, record != nullptr);
  if (header < 0) fail(kFileFormatError, path);
  position += header;

  // The primer, then the colours, which are kept as they are until the
  // record is complete.
  const bool keep_colours = record != nullptr && !qualities;
  int primer = -1;  // -1 while no sequence byte was seen
  bool dotted = false;
  seq_bytes_t residues = {};
  int64_t count = 0;
  bool after_line_feed = true;  // the first sequence byte starts a line
  bool plus_seen = false;
  for (;;) {
    c = input_stream_getc(stream);
    if (c < 0) break;
    if (after_line_feed) {
      if (c == '+') {
        position++;
        plus_seen = true;
        break;
      }
      if (c == '@' && markers != nullptr) array_list_add(markers, &position);
    }
    position++;
    after_line_feed = c == '\n';
    if (seq_is_space(c)) continue;
    if (primer < 0) {
      primer = c;
      continue;
    }
    if (c == '.') dotted = true;
    if (count == 0x7ffffffe) {
      fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
      ryx_exit(1);
    }
    count++;
    if (keep_colours) seq_bytes_push(&residues, static_cast<uint8_t>(c));
  }
  if (!plus_seen) fail(kEofError, path);
  do {
    c = input_stream_getc(stream);
    if (c < 0) fail(kEofError, path);
    position++;
  } while (c != '\n');

  // One quality byte per sequence byte; the primer's comes first and is
  // dropped.
  const bool keep_qualities = record != nullptr && qualities;
  const int32_t offset = csfastq_get_quality_offset();
  const int64_t need = primer >= 0 ? count + 1 : 0;
  after_line_feed = true;  // the first quality byte follows the '+' line's line feed
  for (int64_t taken = 0; taken < need;) {
    c = input_stream_getc(stream);
    if (c < 0) fail(kEofError, path);
    if (c == '@' && after_line_feed && markers != nullptr) array_list_add(markers, &position);
    position++;
    after_line_feed = c == '\n';
    if (seq_is_space(c)) continue;
    if (keep_qualities && taken > 0) seq_bytes_push(&residues, static_cast<uint8_t>(c - offset));
    taken++;
  }

  for (;;) {
    c = input_stream_getc(stream);
    if (c < 0) break;
    if (c == '@') {
      input_stream_ungetc(c, stream);
      break;
    }
    if (!seq_is_space(c)) fail(kFormatError, path);
  }
  if (dotted) colour_state_count_dotted(static_cast<colour_state_t *>(state));
  if (record == nullptr) return static_cast<int32_t>(count);
  if (keep_colours && primer >= 0) {
    const int code = colour_primer_code(primer);
    if (code < 0) fail(kPrimerError, path);
    if (!colour_decode_read(code, residues.data, residues.length, dotted, residues.data)) {
      fail(kFormatError, path);
    }
  }
  seq_bytes_fill_record(record, &name, &residues);
  return static_cast<int32_t>(count);
}

void csfastq_report(int64_t count, void *state, const char *path) {
  const int64_t ignored = static_cast<colour_state_t *>(state)->ignored;
  if (ignored > 0)
    fprintf(stderr, "In file %s: Ignored %lld sequences out of %lld due to dots in csfastq data format.\n", path,
            static_cast<long long>(ignored), static_cast<long long>(count));
}

void csfastq_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state, void *,
                               const char *path) {
  fastq_scan_starts(data, length, starts, split_state, kFormatError, path);
}

void csfastq_end_of_input(void *split_state, void *, const char *path) {
  if (!fastq_split_state_complete(split_state)) fail(kEofError, path);
}

bool csfastq_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record,
                         seq_record_t *quality, const char *path) {
  char *name = nullptr;
  const int32_t body = fasta_chunk_name(data, length, &name);
  if (body < 0) fail(kFormatError, path);
  // Primer and colours of the sequence lines moved together in place.
  int32_t plus = 0;
  const int32_t n = fastq_chunk_letters(data, length, body, &plus, kFormatError, path);
  const int32_t colours = colour_decode_in_place(data + body, n, static_cast<colour_state_t *>(format_state));
  if (colours < 0) fail(kFormatError, path);
  record->name = name;
  record->residues = data + body;
  record->length = static_cast<uint32_t>(colours);
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  if (quality == nullptr) return false;

  // One quality byte per sequence byte; the primer's comes first and is
  // dropped.
  const auto offset = static_cast<uint8_t>(csfastq_get_quality_offset());
  const int32_t start = fastq_chunk_qualities(data, length, plus, n, offset, kQualityError, path);
  quality->name = nullptr;
  quality->residues = data + start + (n > 0 ? 1 : 0);
  quality->length = static_cast<uint32_t>(colours);
  quality->qualities = nullptr;
  quality->use_count = 0;
  quality->free_callback = seq_record_free_nothing;
  return true;
}
