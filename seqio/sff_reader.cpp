#include "seqio/sff_reader.h"

#include <cstdio>
#include <cstring>

#include "common/bin_codec.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

constexpr uint8_t kMagic[8] = {'.', 's', 'f', 'f', 0, 0, 0, 1};
// Bytes of the common header before the flow characters.
constexpr int64_t kFixedHeader = 31;
// Bytes of a read header before the name.
constexpr int64_t kFixedReadHeader = 16;

constexpr const char *kMagicError = "Error reading magic number in sff file %s\n";
constexpr const char *kWrongFormat = "Error reading sff file: wrong format in file %s\n";
constexpr const char *kHeaderError = "Error reading header in sff file %s\n";
constexpr const char *kSequenceError = "Error reading sequence in sff file %s\n";
constexpr const char *kBasesError = "Error reading sff bases in file %s\n";

[[noreturn]] void fail(const char *message, const char *path) {
  fprintf(stderr, message, path);
  ryx_exit(1);
}

inline int64_t pad8(int64_t n) { return (n + 7) & ~int64_t{7}; }

// The fixed fields of a read header.
struct read_header_t {
  uint32_t header_length;
  uint32_t name_length;
  uint32_t bases;
  uint32_t clip_quality_left;
  uint32_t clip_quality_right;
  uint32_t clip_adapter_left;
  uint32_t clip_adapter_right;
};

uint32_t be16(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
uint32_t be32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

read_header_t decode_read_header(const uint8_t *p) {
  return {be16(p), be16(p + 2), be32(p + 4), be16(p + 8), be16(p + 10), be16(p + 12), be16(p + 14)};
}

// The read header length must be exactly the fixed fields and the name,
// padded; that also keeps every read at least 16 bytes long. A read of 2^31
// bases or more cannot be a record.
bool consistent(const read_header_t &h) {
  return h.header_length == pad8(kFixedReadHeader + h.name_length) && h.bases <= 0x7fffffffu;
}

// Bytes of the read from its start to the end of the quality scores.
int64_t read_size(const read_header_t &h, uint32_t flows) {
  return static_cast<int64_t>(h.header_length) + 2 * static_cast<int64_t>(flows) + 3 * static_cast<int64_t>(h.bases);
}

void clip_of(const read_header_t &h, uint32_t *left, uint32_t *length) {
  sff_clip(h.bases, h.clip_quality_left, h.clip_quality_right, h.clip_adapter_left, h.clip_adapter_right, left,
           length);
}

// Passes n bytes of the stream; false when the input ends first.
bool stream_skip(input_stream_t *stream, int64_t n) {
  while (n > 0) {
    if (stream->left == 0 && input_stream_fill(stream) <= 0) return false;
    const int32_t take = n < stream->left ? static_cast<int32_t>(n) : stream->left;
    stream->position += take;
    stream->left -= take;
    n -= take;
  }
  return true;
}

// Passes n bytes of a gzip handle; false when the input ends first.
bool gz_skip(gzFile gz, int64_t n) {
  uint8_t scratch[4096];
  while (n > 0) {
    const unsigned want = n < static_cast<int64_t>(sizeof scratch) ? static_cast<unsigned>(n) : sizeof scratch;
    const int got = gzread(gz, scratch, want);
    if (got <= 0) return false;
    n -= got;
  }
  return true;
}

// The common header after the magic, from either byte source. Source has
// u8(), u16(), u32(), u64() (which end the process at the end of the input)
// and skip(n) (false at the end of the input).
template <typename Source>
sff_state_t *read_header(Source &source, const char *path) {
  auto *state = static_cast<sff_state_t *>(ryx_calloc(sizeof(sff_state_t)));
  state->index_offset = source.u64();
  state->index_length = source.u32();
  state->reads = source.u32();
  const uint32_t header_length = source.u16();
  const uint32_t key_length = source.u16();
  state->flows = source.u16();
  if (source.u8() != 1) fail(kWrongFormat, path);
  const int64_t end = kFixedHeader + state->flows + key_length;
  if (!source.skip(pad8(end) - kFixedHeader)) fail(kHeaderError, path);
  if (pad8(end) != header_length) fail(kHeaderError, path);
  state->data_start = header_length;
  return state;
}

struct stream_source_t {
  input_stream_t *stream;
  uint32_t u8() { return bin_stream_read_u8_be(stream); }
  uint32_t u16() { return bin_stream_read_u16_be(stream); }
  uint32_t u32() { return bin_stream_read_u32_be(stream); }
  uint64_t u64() { return bin_stream_read_u64_be(stream); }
  bool skip(int64_t n) { return stream_skip(stream, n); }
};

struct gz_source_t {
  gzFile gz;
  uint32_t u8() { return bin_gz_read_u8_be(&gz); }
  uint32_t u16() { return bin_gz_read_u16_be(&gz); }
  uint32_t u32() { return bin_gz_read_u32_be(&gz); }
  uint64_t u64() { return bin_gz_read_u64_be(&gz); }
  bool skip(int64_t n) { return gz_skip(gz, n); }
};

bool has_index(const sff_state_t *s) { return s->index_length > 0 && s->index_offset > 0; }

// Bytes from the index's start to the first read after it.
int64_t index_span(const sff_state_t *s) {
  return pad8(static_cast<int64_t>(s->index_offset) + s->index_length) - static_cast<int64_t>(s->index_offset);
}

// Where a read would start, the index may stand instead: step over it.
void skip_index_here(const sff_state_t *s, input_stream_t *stream) {
  if (!has_index(s) || input_stream_tell(stream) != static_cast<int64_t>(s->index_offset)) return;
  if (!stream_skip(stream, index_span(s))) fail(kSequenceError, seq_stream_name(stream));
}

// Reads the 16 fixed bytes of a read header and checks them.
read_header_t read_fixed(input_stream_t *stream) {
  uint8_t fixed[kFixedReadHeader];
  if (input_stream_read(fixed, 1, sizeof fixed, stream) != sizeof fixed) fail(kSequenceError, seq_stream_name(stream));
  const read_header_t h = decode_read_header(fixed);
  if (!consistent(h)) fail(kSequenceError, seq_stream_name(stream));
  return h;
}

void ops_read(void *state, input_stream_t *stream, seq_record_t *record) { sff_read(state, stream, record, false); }
void ops_read_qualities(void *state, input_stream_t *stream, seq_record_t *record) {
  sff_read(state, stream, record, true);
}

}  // namespace

const seq_format_ops_t kSffFormatOps = {sff_open, sff_next_length, ops_read,      ops_read_qualities,
                                        nullptr,  sff_free_state,  nullptr};

const seq_chunk_ops_t kSffChunkOps = {sff_new_split_state, sff_free_split_state, sff_chunk_find_starts,
                                      sff_chunk_parse,     sff_open_gz,          sff_free_state,
                                      nullptr,             sff_end_of_input};

bool sff_detect(input_stream_t *stream) {
  for (uint8_t expected : kMagic)
    if (input_stream_getc(stream) != expected) return false;
  return true;
}

bool sff_detect_gz(gzFile gz, const char *path) {
  for (uint8_t expected : kMagic)
    if (seq_gz_getc(gz, path) != expected) return false;
  return true;
}

void sff_clip(uint32_t bases, uint32_t quality_left, uint32_t quality_right, uint32_t adapter_left,
              uint32_t adapter_right, uint32_t *left, uint32_t *length) {
  uint32_t right = quality_right != 0 && quality_right <= bases ? quality_right : bases;
  if (adapter_right != 0 && adapter_right < right) right = adapter_right;
  uint32_t first = quality_left != 0 ? quality_left : 1;
  if (adapter_left > first) first = adapter_left;
  *left = first;
  *length = right >= first ? right - first + 1 : 0;
}

void *sff_open(input_stream_t *stream, seq_db_t *) {
  const char *path = seq_stream_name(stream);
  input_stream_seek(stream, 0, SEEK_SET);
  uint8_t magic[sizeof kMagic];
  if (input_stream_read(magic, 1, sizeof magic, stream) != sizeof magic || memcmp(magic, kMagic, sizeof magic) != 0)
    fail(kMagicError, path);
  stream_source_t source{stream};
  return read_header(source, path);
}

void *sff_open_gz(gzFile gz, const char *path) {
  for (uint8_t expected : kMagic)
    if (seq_gz_getc(gz, path) != expected) fail(kMagicError, path);
  gz_source_t source{gz};
  sff_state_t *state = read_header(source, path);
  // An index right behind the header could be longer than a block, and a
  // first block without a read start is no sequence file; pass it here.
  if (has_index(state) && static_cast<int64_t>(state->index_offset) == state->data_start) {
    if (!gz_skip(gz, index_span(state))) fail(kSequenceError, path);
    state->data_start += index_span(state);
  }
  // Without reads, whatever follows the header is no record.
  if (state->reads == 0) {
    uint8_t scratch[4096];
    while (gzread(gz, scratch, sizeof scratch) > 0) {
    }
  }
  return state;
}

void sff_free_state(void *state) { ryx_free(state); }

int32_t sff_next_length(void *state, input_stream_t *stream, array_list_t *) {
  auto *s = static_cast<sff_state_t *>(state);
  if (s->counted >= s->reads) return -1;
  s->counted++;
  skip_index_here(s, stream);
  const read_header_t h = read_fixed(stream);
  const int64_t size = read_size(h, s->flows);
  if (!stream_skip(stream, size - kFixedReadHeader)) fail(kSequenceError, seq_stream_name(stream));
  // The padding of the last read may be missing at the end of a file.
  stream_skip(stream, pad8(size) - size);
  uint32_t left = 0;
  uint32_t length = 0;
  clip_of(h, &left, &length);
  return static_cast<int32_t>(length);
}

void sff_read(void *state, input_stream_t *stream, seq_record_t *record, bool qualities) {
  const auto *s = static_cast<const sff_state_t *>(state);
  const char *path = seq_stream_name(stream);
  skip_index_here(s, stream);
  const read_header_t h = read_fixed(stream);
  seq_bytes_t name = {};
  if (!seq_bytes_read(&name, stream, h.name_length)) fail(kSequenceError, path);
  if (!stream_skip(stream, h.header_length - kFixedReadHeader - h.name_length)) fail(kSequenceError, path);
  uint32_t left = 0;
  uint32_t length = 0;
  clip_of(h, &left, &length);
  // After the read header: flowgram, flow indexes, bases, qualities.
  const int64_t flowgram = 2 * static_cast<int64_t>(s->flows);
  const int64_t from = length > 0 ? left - 1 : 0;
  const int64_t before = flowgram + h.bases + (qualities ? h.bases : 0) + from;
  const int64_t data = flowgram + 3 * static_cast<int64_t>(h.bases);
  if (!stream_skip(stream, before)) fail(kBasesError, path);
  seq_bytes_t residues = {};
  if (!seq_bytes_read(&residues, stream, length)) fail(kBasesError, path);
  if (!stream_skip(stream, data - before - length)) fail(kBasesError, path);
  const int64_t size = read_size(h, s->flows);
  stream_skip(stream, pad8(size) - size);
  seq_bytes_fill_record(record, &name, &residues);
}

namespace {

struct sff_split_state_t {
  int64_t next;         // start of the next read, relative to the next block
  int64_t block_start;  // file offset of the next block; -1 before the first
  uint32_t found;       // reads found so far
  bool cut;             // the input ended inside a read header
};

}  // namespace

void *sff_new_split_state() {
  auto *split = static_cast<sff_split_state_t *>(ryx_calloc(sizeof(sff_split_state_t)));
  split->block_start = -1;
  return split;
}

void sff_free_split_state(void *split_state) { ryx_free(split_state); }

void sff_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state,
                           void *format_state, const char *path) {
  auto *split = static_cast<sff_split_state_t *>(split_state);
  const auto *s = static_cast<const sff_state_t *>(format_state);
  if (split->block_start < 0) split->block_start = s->data_start;
  // Reads start at multiples of 8 from the first block's start, and blocks
  // are a multiple of 8 long, so the first 8 bytes of a read (header
  // length, name length, bases) never cross a block border; only a cut
  // input can leave fewer.
  int64_t offset = split->next;
  while (offset < length && split->found < s->reads) {
    if (has_index(s) && split->block_start + offset == static_cast<int64_t>(s->index_offset)) {
      offset += index_span(s);
      continue;
    }
    const auto start = static_cast<int32_t>(offset);
    array_list_add(starts, &start);
    split->found++;
    if (offset + 8 > length) {
      split->cut = true;
      offset = length;
      break;
    }
    read_header_t h = {};
    h.header_length = be16(data + offset);
    h.name_length = be16(data + offset + 2);
    h.bases = be32(data + offset + 4);
    if (!consistent(h)) fail(kSequenceError, path);
    offset += pad8(read_size(h, s->flows));
  }
  split->next = offset - length;
  split->block_start += length;
}

void sff_end_of_input(void *split_state, void *format_state, const char *path) {
  const auto *split = static_cast<const sff_split_state_t *>(split_state);
  const auto *s = static_cast<const sff_state_t *>(format_state);
  if (split->cut || split->found < s->reads) fail(kSequenceError, path);
}

bool sff_chunk_parse(uint8_t *data, int32_t length, void *format_state, seq_record_t *record, seq_record_t *quality,
                     const char *path) {
  const auto *s = static_cast<const sff_state_t *>(format_state);
  if (length < kFixedReadHeader) fail(kSequenceError, path);
  const read_header_t h = decode_read_header(data);
  if (!consistent(h)) fail(kSequenceError, path);
  if (read_size(h, s->flows) > length) fail(kBasesError, path);
  // The fixed fields are decoded, so the name moves to the slice start and
  // its terminator never lands outside the slice.
  memmove(data, data + kFixedReadHeader, h.name_length);
  data[h.name_length] = 0;
  uint32_t left = 0;
  uint32_t count = 0;
  clip_of(h, &left, &count);
  const int64_t bases = h.header_length + 2 * static_cast<int64_t>(s->flows) + h.bases;
  const int64_t from = count > 0 ? left - 1 : 0;
  record->name = reinterpret_cast<char *>(data);
  record->residues = data + bases + from;
  record->length = count;
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  if (quality == nullptr) return false;
  quality->name = nullptr;
  quality->residues = data + bases + h.bases + from;
  quality->length = count;
  quality->qualities = nullptr;
  quality->use_count = 0;
  quality->free_callback = seq_record_free_nothing;
  return true;
}
