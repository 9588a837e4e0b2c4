#include "seqio/fasta_reader.h"

#include <emmintrin.h>

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

struct fasta_split_state_t {
  bool line_start;  // the next block's first byte starts a line
};

// 1 for the whitespace bytes 9 to 13 and 32.
struct space_table_t {
  uint8_t is_space[256];
  constexpr space_table_t() : is_space() {
    for (int c = 9; c <= 13; c++) is_space[c] = 1;
    is_space[32] = 1;
  }
};
constexpr space_table_t kSpaces;

// One bit per whitespace byte of v.
inline unsigned space_mask(__m128i v) {
  // Bytes 9 to 13: v - 9 (wrapping) is at most 4 as an unsigned byte.
  const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(9));
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(4)), shifted);
  const __m128i spaces = _mm_or_si128(control, _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
  return static_cast<unsigned>(_mm_movemask_epi8(spaces));
}

// The residues of n bytes (white space is none): their count, appended to
// residues when given. Sixteen bytes at a time; a run without white space
// is copied whole.
int64_t line_letters(const uint8_t *bytes, int32_t n, seq_bytes_t *residues) {
  int32_t letters = 0;
  int32_t i = 0;
  if (residues != nullptr) {
    if (static_cast<int64_t>(residues->length) + n + 1 >= 0x7fffffff) {
      // Near the longest sequence: byte by byte, so that the buffer fails
      // exactly where the letters pass the limit.
      for (; i < n; i++) {
        if (kSpaces.is_space[bytes[i]]) continue;
        seq_bytes_push(residues, bytes[i]);
        letters++;
      }
      return letters;
    }
    while (residues->length + static_cast<uint32_t>(n) + 1 >= residues->capacity) seq_bytes_grow(residues);
  }
  uint8_t *out = residues != nullptr ? residues->data + residues->length : nullptr;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
    const unsigned spaces = space_mask(v);
    if (spaces == 0) {
      if (out != nullptr) _mm_storeu_si128(reinterpret_cast<__m128i *>(out + letters), v);
      letters += 16;
      continue;
    }
    for (int32_t k = i; k < i + 16; k++) {
      if (kSpaces.is_space[bytes[k]]) continue;
      if (out != nullptr) out[letters] = bytes[k];
      letters++;
    }
  }
  for (; i < n; i++) {
    if (kSpaces.is_space[bytes[i]]) continue;
    if (out != nullptr) out[letters] = bytes[i];
    letters++;
  }
  if (residues != nullptr) residues->length += static_cast<uint32_t>(letters);
  return letters;
}

[[noreturn]] void format_error(const char *path) {
  fprintf(stderr, "Fasta file format error in file %s\n", path);
  ryx_exit(1);
}

int32_t ops_next_length(void *, input_stream_t *stream, array_list_t *) { return fasta_read(stream, nullptr); }
void ops_read(void *, input_stream_t *stream, seq_record_t *record) { fasta_read(stream, record); }
void ops_skip(void *, input_stream_t *stream, int32_t n) { fasta_skip(stream, n); }

}  // namespace

const seq_format_ops_t kFastaFormatOps = {nullptr, ops_next_length, ops_read, nullptr, ops_skip, nullptr, nullptr};

const seq_chunk_ops_t kFastaChunkOps = {fasta_new_split_state, fasta_free_split_state, fasta_chunk_find_starts,
                                        fasta_chunk_parse,     nullptr,                nullptr,
                                        nullptr, nullptr};

bool fasta_detect(input_stream_t *stream) {
  int c = input_stream_getc(stream);
  return c == '>' || c < 0;
}

bool fasta_detect_gz(gzFile gz, const char *path) {
  int c = seq_gz_getc(gz, path);
  return c == '>' || c < 0;
}

int32_t fasta_read(input_stream_t *stream, seq_record_t *record) {
  int c = input_stream_getc(stream);
  if (c < 0) return -1;
  const char *path = seq_stream_name(stream);
  if (c != '>') format_error(path);
  seq_bytes_t name = {};
  if (seq_bytes_read_line(&name, stream, record != nullptr) < 0) format_error(path);
  seq_bytes_t residues = {};
  int64_t count = 0;
  bool after_line_feed = true;  // the byte after the header line starts a line
  // A buffered line (or the buffered part of one) at a time: a '>' that
  // starts a line ends the record and stays unread; every other byte but
  // white space is a residue.
  for (;;) {
    if (stream->left == 0 && input_stream_fill(stream) <= 0) break;
    const uint8_t *run = stream->buffer + stream->position;
    if (after_line_feed && run[0] == '>') break;
    const auto *line_feed = static_cast<const uint8_t *>(memchr(run, '\n', static_cast<size_t>(stream->left)));
    const int32_t length = line_feed != nullptr ? static_cast<int32_t>(line_feed - run) + 1 : stream->left;
    const int64_t letters = line_letters(run, length, record != nullptr ? &residues : nullptr);
    count += letters;
    if (record == nullptr && count >= 0x7fffffff) {
      fprintf(stderr, "Sequence is too long (longer than 2Gbp).\n");
      ryx_exit(1);
    }
    after_line_feed = line_feed != nullptr;
    stream->position += length;
    stream->left -= length;
  }
  if (record != nullptr) seq_bytes_fill_record(record, &name, &residues);
  return static_cast<int32_t>(count);
}

void fasta_skip(input_stream_t *stream, int32_t n) {
  int32_t passed = 0;
  int previous = -1;  // the byte before the starting position is unknown
  for (;;) {
    int c = input_stream_getc(stream);
    if (c < 0) return;
    if (c == '>' && previous == '\n') {
      if (passed == n) {
        input_stream_ungetc(c, stream);
        return;
      }
      passed++;
    }
    previous = c;
  }
}

void *fasta_new_split_state() {
  auto *state = static_cast<fasta_split_state_t *>(ryx_malloc(sizeof(fasta_split_state_t)));
  state->line_start = true;
  return state;
}

void fasta_free_split_state(void *split_state) { ryx_free(split_state); }

void fasta_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state, void *,
                             const char *) {
  auto *state = static_cast<fasta_split_state_t *>(split_state);
  // Headers are rare next to residue bytes, so look for '>' and check the
  // byte before it.
  int32_t pos = 0;
  while (pos < length) {
    const void *found = memchr(data + pos, '>', static_cast<size_t>(length - pos));
    if (found == nullptr) break;
    auto offset = static_cast<int32_t>(static_cast<const uint8_t *>(found) - data);
    bool line_start = offset == 0 ? state->line_start : data[offset - 1] == '\n';
    if (line_start) array_list_add(starts, &offset);
    pos = offset + 1;
  }
  if (length > 0) state->line_start = data[length - 1] == '\n';
}

int32_t fasta_chunk_name(uint8_t *data, int32_t length, char **name) {
  if (length < 2) return -1;
  const void *found = memchr(data + 1, '\n', static_cast<size_t>(length - 1));
  if (found == nullptr) return -1;
  auto line_feed = static_cast<int32_t>(static_cast<const uint8_t *>(found) - data);
  int32_t start = 1;
  while (start < line_feed && kSpaces.is_space[data[start]]) start++;
  for (int32_t k = line_feed; k >= start && kSpaces.is_space[data[k]]; k--) data[k] = 0;
  *name = reinterpret_cast<char *>(data + start);
  return line_feed + 1;
}

int32_t fasta_chunk_compact(uint8_t *data, int32_t from, int32_t to, int32_t out) {
  return fasta_chunk_compact_minus(data, from, to, out, 0);
}

int32_t fasta_chunk_compact_minus(uint8_t *data, int32_t from, int32_t to, int32_t out_offset, uint8_t minus) {
  uint8_t *const first = data + out_offset;
  uint8_t *out = first;
  const uint8_t *in = data + from;
  const uint8_t *const end = data + to;
  const __m128i subtract = _mm_set1_epi8(static_cast<char>(minus));
  // Sixteen bytes without whitespace move as one; the output never passes
  // the input, so the store only overwrites bytes already loaded.
  while (end - in >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    if (space_mask(v) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_sub_epi8(v, subtract));
      out += 16;
      in += 16;
      continue;
    }
    for (const uint8_t *stop = in + 16; in < stop; in++) {
      // Branch-free: every byte is stored, and the output advances past it
      // only when it is no whitespace.
      const uint8_t c = *in;
      *out = static_cast<uint8_t>(c - minus);
      out += 1 - kSpaces.is_space[c];
    }
  }
  for (; in < end; in++) {
    const uint8_t c = *in;
    *out = static_cast<uint8_t>(c - minus);
    out += 1 - kSpaces.is_space[c];
  }
  return static_cast<int32_t>(out - first);
}

int64_t fasta_count_spaces(const uint8_t *data, int64_t n) {
  int64_t count = 0;
  int64_t i = 0;
  for (; i + 16 <= n; i += 16)
    count += __builtin_popcount(space_mask(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i))));
  for (; i < n; i++) count += kSpaces.is_space[data[i]];
  return count;
}

bool fasta_chunk_parse(uint8_t *data, int32_t length, void *, seq_record_t *record, seq_record_t *,
                       const char *path) {
  char *name = nullptr;
  int32_t body = fasta_chunk_name(data, length, &name);
  if (body < 0) {
    fprintf(stderr, "Fasta format error in file %s\n", path);
    ryx_exit(1);
  }
  record->name = name;
  record->residues = data + body;
  record->length = static_cast<uint32_t>(fasta_chunk_compact(data, body, length, body));
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  return false;
}
