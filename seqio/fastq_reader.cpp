#include "seqio/fastq_reader.h"

#include <cstdio>
#include <cstring>

#include <emmintrin.h>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/fasta_reader.h"
#include "seqio/fastq_quality_offset.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

// Scanner states of the chunk splitter.
enum : int32_t { kBetween = 0, kHeader = 1, kSequence = 2, kPlusLine = 3, kQualities = 4 };

struct fastq_split_state_t {
  bool line_start;    // the next byte starts a line (sequence state only)
  int64_t letters;    // non-whitespace sequence bytes of the current record
  int64_t qualities;  // quality bytes seen so far
  int32_t state;
};

[[noreturn]] void fail(const char *message, const char *path) {
  fprintf(stderr, message, path);
  ryx_exit(1);
}

constexpr const char *kFileFormatError = "Fastq file format error in file %s\n";
constexpr const char *kEofError = "Fastq format error EOF in file %s\n";
constexpr const char *kFormatError = "Fastq format error in file %s\n";

int32_t ops_next_length(void *, input_stream_t *stream, array_list_t *markers) {
  return fastq_read(stream, nullptr, markers, false);
}
void ops_read(void *, input_stream_t *stream, seq_record_t *record) { fastq_read(stream, record, nullptr, false); }
void ops_read_qualities(void *, input_stream_t *stream, seq_record_t *record) {
  fastq_read(stream, record, nullptr, true);
}
void ops_skip(void *, input_stream_t *stream, int32_t n) { fastq_skip(stream, n); }

// True when one of the n bytes at a or at b is white space (seq_is_space),
// sixteen bytes of each at a time.
bool any_space_in_either(const uint8_t *a, const uint8_t *b, size_t n) {
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8(9);
  const __m128i four = _mm_set1_epi8(4);
  auto spaces = [&](const uint8_t *p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    // 9 to 13 is (c - 9) <= 4 as unsigned bytes.
    const __m128i shifted = _mm_sub_epi8(v, tab);
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, four), shifted);
    return _mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(v, space)));
  };
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    if (spaces(a + i) | spaces(b + i)) return true;
  }
  for (; i < n; i++) {
    if (seq_is_space(a[i]) || seq_is_space(b[i])) return true;
  }
  return false;
}

const uint8_t *find_line_feed(const uint8_t *from, const uint8_t *end) {
  return static_cast<const uint8_t *>(memchr(from, '\n', static_cast<size_t>(end - from)));
}

// The common record in one piece, read straight from the stream's buffer
// (fastq_common_record); gives what the byte-by-byte reading below gives
// (the same record, count and markers) and returns true; returns false,
// having consumed nothing, for anything else, which the general reading
// handles. position is the offset of the byte after the '@' (markers only).
bool fast_read(input_stream_t *stream, seq_record_t *record, array_list_t *markers, bool qualities, int64_t position,
               int32_t *count_out) {
  const uint8_t *begin = stream->buffer + stream->position;
  const uint8_t *end = begin + stream->left;
  fastq_common_record_t common;
  if (!fastq_common_record(begin, end, &common)) return false;
  const uint8_t *header_end = common.header_end, *sequence = common.sequence, *quality = common.quality;
  const size_t count = common.count;
  const auto header_length = static_cast<size_t>(header_end - begin);
  if (record != nullptr && memchr(begin, '\r', header_length) != nullptr) return false;
  if (markers != nullptr) {
    // A line that starts with '@' inside the record looks like a record start.
    if (sequence[0] == '@') {
      const int64_t at = position + static_cast<int64_t>(sequence - begin);
      array_list_add(markers, &at);
    }
    if (quality[0] == '@') {
      const int64_t at = position + static_cast<int64_t>(quality - begin);
      array_list_add(markers, &at);
    }
  }
  if (record != nullptr) {
    auto *name = static_cast<uint8_t *>(ryx_malloc(header_length + 1));
    memcpy(name, begin, header_length);
    name[header_length] = 0;
    auto *residues = static_cast<uint8_t *>(ryx_malloc(count + 1));
    if (qualities) {
      const int32_t offset = fastq_reader_quality_offset();
      for (size_t i = 0; i < count; i++) residues[i] = static_cast<uint8_t>(quality[i] - offset);
    } else {
      memcpy(residues, sequence, count);
    }
    record->name = reinterpret_cast<char *>(name);
    record->residues = residues;
    record->length = static_cast<uint32_t>(count);
  }
  const auto consumed = static_cast<int32_t>(quality + count + 1 - begin);
  stream->position += consumed;
  stream->left -= consumed;
  *count_out = static_cast<int32_t>(count);
  return true;
}

}  // namespace

int32_t fastq_read_letters(input_stream_t *stream, seq_scratch_t *scratch) {
  const int c = input_stream_getc(stream);
  if (c < 0) return -1;
  if (c == '@') {
    // The common record straight from the buffer; its name is not wanted,
    // so a carriage return in the header does not matter here.
    const uint8_t *begin = stream->buffer + stream->position;
    fastq_common_record_t common;
    if (fastq_common_record(begin, begin + stream->left, &common)) {
      seq_scratch_set(scratch, common.sequence, static_cast<uint32_t>(common.count));
      const auto consumed = static_cast<int32_t>(common.next - begin);
      stream->position += consumed;
      stream->left -= consumed;
      return static_cast<int32_t>(common.count);
    }
  }
  // Anything else takes the general reader, from the record's first byte.
  input_stream_ungetc(c, stream);
  seq_record_t *record = seq_record_new_empty();
  const int32_t count = fastq_read(stream, record, nullptr, false);
  seq_scratch_set(scratch, record->residues, record->length);
  seq_record_free(record);
  return count;
}

bool fastq_common_record(const uint8_t *begin, const uint8_t *end, fastq_common_record_t *out) {
  const uint8_t *header_end = find_line_feed(begin, end);
  if (header_end == nullptr) return false;
  const uint8_t *sequence = header_end + 1;
  if (sequence >= end || *sequence == '+') return false;  // an empty sequence
  const uint8_t *sequence_end = find_line_feed(sequence, end);
  if (sequence_end == nullptr || sequence_end + 1 >= end || sequence_end[1] != '+') return false;
  const auto count = static_cast<size_t>(sequence_end - sequence);
  if (count == 0) return false;
  const uint8_t *plus_end = find_line_feed(sequence_end + 1, end);
  if (plus_end == nullptr) return false;
  const uint8_t *quality = plus_end + 1;
  if (static_cast<size_t>(end - quality) < count + 2 || quality[count] != '\n' || quality[count + 1] != '@') {
    return false;
  }
  if (any_space_in_either(sequence, quality, count)) return false;
  out->header_end = header_end;
  out->sequence = sequence;
  out->quality = quality;
  out->count = count;
  out->next = quality + count + 1;
  return true;
}

const seq_format_ops_t kFastqFormatOps = {nullptr, ops_next_length, ops_read, ops_read_qualities,
                                          ops_skip, nullptr,         nullptr};

const seq_chunk_ops_t kFastqChunkOps = {fastq_new_split_state, fastq_free_split_state, fastq_chunk_find_starts,
                                        fastq_chunk_parse,     nullptr,                nullptr,
                                        nullptr,               fastq_end_of_input};

bool fastq_detect(input_stream_t *stream) { return input_stream_getc(stream) == '@'; }

bool fastq_detect_gz(gzFile gz, const char *path) { return seq_gz_getc(gz, path) == '@'; }

int32_t fastq_read(input_stream_t *stream, seq_record_t *record, array_list_t *markers, bool qualities) {
  int c = input_stream_getc(stream);
  if (c < 0) return -1;
  const char *path = seq_stream_name(stream);
  if (c != '@') fail(kFileFormatError, path);
  // File offset of the next byte to be read; kept only for the markers.
  int64_t position = markers != nullptr ? input_stream_tell(stream) : 0;
  int32_t fast_count = 0;
  if (fast_read(stream, record, markers, qualities, position, &fast_count)) return fast_count;

  seq_bytes_t name = {};
  const int64_t header = seq_bytes_read_line(&name, stream, record != nullptr);
  if (header < 0) fail(kFileFormatError, path);
  position += header;

  const bool keep_letters = record != nullptr && !qualities;
  seq_bytes_t residues = {};
  int32_t count = 0;
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
    if (count == 0x7fffffff) {
      fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
      ryx_exit(1);
    }
    count++;
    if (keep_letters) seq_bytes_push(&residues, static_cast<uint8_t>(c));
  }
  if (!plus_seen) fail(kEofError, path);
  do {
    c = input_stream_getc(stream);
    if (c < 0) {
      // An empty last record may end with its '+' line.
      if (count == 0) break;
      fail(kEofError, path);
    }
    position++;
  } while (c != '\n');

  const bool keep_qualities = record != nullptr && qualities;
  const int32_t offset = fastq_reader_quality_offset();
  after_line_feed = true;  // the first quality byte follows the '+' line's line feed
  for (int32_t taken = 0; taken < count;) {
    c = input_stream_getc(stream);
    if (c < 0) fail(kEofError, path);
    if (c == '@' && after_line_feed && markers != nullptr) array_list_add(markers, &position);
    position++;
    after_line_feed = c == '\n';
    if (seq_is_space(c)) continue;
    taken++;
    if (keep_qualities) seq_bytes_push(&residues, static_cast<uint8_t>(c - offset));
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
  if (record != nullptr) seq_bytes_fill_record(record, &name, &residues);
  return count;
}

void fastq_skip(input_stream_t *stream, int32_t n) {
  int32_t passed = 0;
  int previous = -1;  // the byte before the starting position is unknown
  for (;;) {
    int c = input_stream_getc(stream);
    if (c < 0) return;
    if (c == '@' && previous == '\n') {
      if (passed == n) {
        input_stream_ungetc(c, stream);
        return;
      }
      passed++;
    }
    previous = c;
  }
}

void *fastq_new_split_state() {
  auto *state = static_cast<fastq_split_state_t *>(ryx_calloc(sizeof(fastq_split_state_t)));
  state->line_start = true;
  state->state = kBetween;
  return state;
}

void fastq_free_split_state(void *split_state) { ryx_free(split_state); }

bool fastq_split_state_complete(const void *split_state) {
  const auto *s = static_cast<const fastq_split_state_t *>(split_state);
  // Between records, or after a '+' line of an empty record that simply
  // lacks its final line feed, the input ended cleanly; anywhere else a
  // record was cut short.
  return s->state == kBetween || (s->state == kPlusLine && s->letters == 0);
}

void fastq_end_of_input(void *split_state, void *, const char *path) {
  if (!fastq_split_state_complete(split_state)) fail(kEofError, path);
}

void fastq_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state, void *,
                             const char *path) {
  fastq_scan_starts(data, length, starts, split_state, kFormatError, path);
}

void fastq_scan_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                       const char *junk_message, const char *path) {
  auto *s = static_cast<fastq_split_state_t *>(split_state);
  const uint8_t *p = data;
  const uint8_t *end = data + length;
  // Byte by byte this is a small state machine; the header, '+' line and
  // sequence states jump from line feed to line feed, and the quality state
  // takes as many bytes as are still missing at once, counting the
  // whitespace among them.
  while (p < end) {
    switch (s->state) {
      case kBetween: {
        const uint8_t c = *p;
        if (c == '@') {
          auto offset = static_cast<int32_t>(p - data);
          array_list_add(starts, &offset);
          s->state = kHeader;
        } else if (!seq_is_space(c)) {
          fail(junk_message, path);
        }
        p++;
        break;
      }
      case kHeader: {
        const uint8_t *lf = find_line_feed(p, end);
        if (lf == nullptr) {
          p = end;
          break;
        }
        p = lf + 1;
        s->state = kSequence;
        s->line_start = true;
        break;
      }
      case kSequence: {
        if (s->line_start && *p == '+') {
          s->state = kPlusLine;
          p++;
          break;
        }
        const uint8_t *lf = find_line_feed(p, end);
        const uint8_t *line_end = lf != nullptr ? lf : end;
        s->letters += (line_end - p) - fasta_count_spaces(p, line_end - p);
        if (lf != nullptr) {
          s->line_start = true;
          p = lf + 1;
        } else {
          if (line_end > p) s->line_start = false;
          p = end;
        }
        break;
      }
      case kPlusLine: {
        const uint8_t *lf = find_line_feed(p, end);
        if (lf == nullptr) {
          p = end;
          break;
        }
        p = lf + 1;
        s->state = s->letters == 0 ? kBetween : kQualities;
        s->line_start = true;
        break;
      }
      case kQualities: {
        int64_t take = s->letters - s->qualities;
        if (take > end - p) take = end - p;
        s->qualities += take - fasta_count_spaces(p, take);
        p += take;
        if (s->qualities == s->letters) {
          s->letters = 0;
          s->qualities = 0;
          s->state = kBetween;
        }
        break;
      }
    }
  }
}

int32_t fastq_chunk_letters(uint8_t *data, int32_t length, int32_t body, int32_t *plus, const char *message,
                            const char *path) {
  const uint8_t *end = data + length;
  int32_t pos = body;
  int32_t stored = 0;
  // Line by line up to the line that starts with '+'.
  for (;;) {
    if (pos >= length) fail(message, path);
    if (data[pos] == '+') break;
    const uint8_t *lf = find_line_feed(data + pos, end);
    const int32_t line_end = lf != nullptr ? static_cast<int32_t>(lf - data) : length;
    stored += fasta_chunk_compact(data, pos, line_end, body + stored);
    if (lf == nullptr) fail(message, path);
    pos = line_end + 1;
  }
  *plus = pos;
  return stored;
}

int32_t fastq_chunk_qualities(uint8_t *data, int32_t length, int32_t plus, int32_t n, uint8_t offset,
                              const char *message, const char *path) {
  const uint8_t *lf = find_line_feed(data + plus, data + length);
  if (lf == nullptr && n != 0) fail(message, path);
  const int32_t start = lf != nullptr ? static_cast<int32_t>(lf - data) + 1 : length;
  int32_t i = start;
  int32_t taken = 0;
  // Each round looks at as many bytes as qualities are missing; whitespace
  // among them (line ends) makes the next round.
  while (taken < n) {
    if (i >= length) fail(message, path);
    const int32_t piece = n - taken < length - i ? n - taken : length - i;
    taken += fasta_chunk_compact_minus(data, i, i + piece, start + taken, offset);
    i += piece;
  }
  return start;
}

bool fastq_chunk_parse(uint8_t *data, int32_t length, void *, seq_record_t *record, seq_record_t *quality,
                       const char *path) {
  char *name = nullptr;
  const int32_t body = fasta_chunk_name(data, length, &name);
  if (body < 0) fail(kFormatError, path);
  int32_t plus = 0;
  const int32_t stored = fastq_chunk_letters(data, length, body, &plus, kFormatError, path);
  record->name = name;
  record->residues = data + body;
  record->length = static_cast<uint32_t>(stored);
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  if (quality == nullptr) return false;

  const auto offset = static_cast<uint8_t>(fastq_reader_quality_offset());
  const int32_t start = fastq_chunk_qualities(data, length, plus, stored, offset, kFormatError, path);
  // The last record of a file may end with its last quality byte: the
  // splitter has already checked at the end of the input that every record
  // was complete.
  quality->name = nullptr;
  quality->residues = data + start;
  quality->length = static_cast<uint32_t>(stored);
  quality->qualities = nullptr;
  quality->use_count = 0;
  quality->free_callback = seq_record_free_nothing;
  return true;
}
