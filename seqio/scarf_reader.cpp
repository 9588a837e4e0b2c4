#include "seqio/scarf_reader.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/fasta_reader.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

constexpr const char *kFileFormatError = "Scarf file format error in file %s\n";
constexpr const char *kEofError = "Scarf format error EOF in file %s\n";
constexpr const char *kQualityLengthError = "Scarf format error quality data length in file %s\n";

struct scarf_split_state_t {
  bool line_start;  // the next block's first byte starts a line
};

[[noreturn]] void fail(const char *message, const char *path) {
  fprintf(stderr, message, path);
  ryx_exit(1);
}

int32_t ops_next_length(void *, input_stream_t *stream, array_list_t *) {
  return scarf_read(stream, nullptr, false);
}
void ops_read(void *, input_stream_t *stream, seq_record_t *record) { scarf_read(stream, record, false); }
void ops_read_qualities(void *, input_stream_t *stream, seq_record_t *record) { scarf_read(stream, record, true); }
void ops_skip(void *, input_stream_t *stream, int32_t n) { scarf_skip(stream, n); }

bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A quality byte as stored: byte minus offset, 0 outside 0 to 127.
inline uint8_t quality_value(int c, int32_t offset) {
  const int v = c - offset;
  return v >= 0 && v <= 127 ? static_cast<uint8_t>(v) : 0;
}

template <typename Next>
bool detect(Next next) {
  int c = next();
  if (!is_digit(c) && !is_letter(c)) return false;
  int field = 1;
  for (;;) {
    if (c < 0 || c == '\n') return false;
    if (c == ':') {
      if (++field == 7) return true;
    } else {
      bool fits = true;
      if (field >= 2 && field <= 4) fits = is_digit(c);
      else if (field == 5) fits = is_digit(c) || c == '/' || c == '#';
      else if (field == 6) fits = is_letter(c);
      if (!fits) return false;
    }
    c = next();
  }
}

}  // namespace

const seq_format_ops_t kScarfFormatOps = {nullptr, ops_next_length, ops_read, ops_read_qualities,
                                          ops_skip, nullptr,        nullptr};

const seq_chunk_ops_t kScarfChunkOps = {scarf_new_split_state, scarf_free_split_state, scarf_chunk_find_starts,
                                        scarf_chunk_parse,     nullptr,                nullptr,
                                        nullptr,               nullptr};

bool scarf_detect(input_stream_t *stream) {
  return detect([stream] { return input_stream_getc(stream); });
}

bool scarf_detect_gz(gzFile gz, const char *path) {
  return detect([gz, path] { return seq_gz_getc(gz, path); });
}

int32_t scarf_read(input_stream_t *stream, seq_record_t *record, bool qualities) {
  int c = input_stream_getc(stream);
  if (c < 0) return -1;
  const char *path = seq_stream_name(stream);
  seq_bytes_t name = {};
  for (int colons = 0;; c = input_stream_getc(stream)) {
    if (c < 0 || c == '\n') fail(kFileFormatError, path);
    if (c == ':' && ++colons == 5) break;
    if (record != nullptr && c != '\r') seq_bytes_push(&name, static_cast<uint8_t>(c));
  }
  const bool keep_letters = record != nullptr && !qualities;
  seq_bytes_t residues = {};
  int32_t count = 0;
  for (;;) {
    c = input_stream_getc(stream);
    if (c < 0 || c == '\n') fail(kEofError, path);
    if (c == ':') break;
    if (seq_is_space(c)) continue;
    if (count == 0x7ffffffe) {
      fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
      ryx_exit(1);
    }
    count++;
    if (keep_letters) seq_bytes_push(&residues, static_cast<uint8_t>(c));
  }
  const bool keep_qualities = record != nullptr && qualities;
  const int32_t offset = scarf_get_quality_offset();
  for (int32_t taken = 0; taken < count;) {
    c = input_stream_getc(stream);
    if (c < 0 || c == '\n') fail(kQualityLengthError, path);
    if (seq_is_space(c)) continue;
    if (keep_qualities) seq_bytes_push(&residues, quality_value(c, offset));
    taken++;
  }
  // Only whitespace up to the line feed; the last line may end with the
  // input instead.
  for (;;) {
    c = input_stream_getc(stream);
    if (c < 0 || c == '\n') break;
    if (!seq_is_space(c)) fail(kEofError, path);
  }
  if (record != nullptr) seq_bytes_fill_record(record, &name, &residues);
  else seq_bytes_clear(&name);
  return count;
}

void scarf_skip(input_stream_t *stream, int32_t n) {
  int32_t passed = 0;
  int previous = -1;  // the byte before the starting position is unknown
  for (;;) {
    const int c = input_stream_getc(stream);
    if (c < 0) return;
    if (previous == '\n') {
      if (passed == n) {
        input_stream_ungetc(c, stream);
        return;
      }
      passed++;
    }
    previous = c;
  }
}

void *scarf_new_split_state() {
  auto *state = static_cast<scarf_split_state_t *>(ryx_malloc(sizeof(scarf_split_state_t)));
  state->line_start = true;
  return state;
}

void scarf_free_split_state(void *split_state) { ryx_free(split_state); }

void scarf_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state, void *,
                             const char *) {
  auto *state = static_cast<scarf_split_state_t *>(split_state);
  if (length == 0) return;
  if (state->line_start) {
    const int32_t zero = 0;
    array_list_add(starts, &zero);
  }
  for (int32_t pos = 0; pos < length;) {
    const void *lf = memchr(data + pos, '\n', static_cast<size_t>(length - pos));
    if (lf == nullptr) break;
    const int32_t next = static_cast<int32_t>(static_cast<const uint8_t *>(lf) - data) + 1;
    if (next < length) array_list_add(starts, &next);
    pos = next;
  }
  state->line_start = data[length - 1] == '\n';
}

bool scarf_chunk_parse(uint8_t *data, int32_t length, void *, seq_record_t *record, seq_record_t *quality,
                       const char *path) {
  // The line ends at its line feed (or the slice end); the six colons lie
  // inside it.
  const void *lf = memchr(data, '\n', static_cast<size_t>(length));
  const int32_t line_end = lf != nullptr ? static_cast<int32_t>(static_cast<const uint8_t *>(lf) - data) : length;
  int32_t colons[6];
  int32_t found = 0;
  for (int32_t i = 0; i < line_end && found < 6; i++)
    if (data[i] == ':') colons[found++] = i;
  if (found < 6) fail(kFileFormatError, path);
  data[colons[4]] = 0;
  const int32_t n = fasta_chunk_compact(data, colons[4] + 1, colons[5], colons[4] + 1);
  record->name = reinterpret_cast<char *>(data);
  record->residues = data + colons[4] + 1;
  record->length = static_cast<uint32_t>(n);
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  if (quality == nullptr) return false;
  // Qualities up to the line end or the next colon, converted in place.
  const int32_t offset = scarf_get_quality_offset();
  const int32_t start = colons[5] + 1;
  int32_t taken = 0;
  for (int32_t i = start; i < line_end && data[i] != ':'; i++) {
    if (seq_is_space(data[i])) continue;
    data[start + taken++] = quality_value(data[i], offset);
  }
  if (taken != n) fail(kFileFormatError, path);
  quality->name = nullptr;
  quality->residues = data + start;
  quality->length = static_cast<uint32_t>(taken);
  quality->qualities = nullptr;
  quality->use_count = 0;
  quality->free_callback = seq_record_free_nothing;
  return true;
}
