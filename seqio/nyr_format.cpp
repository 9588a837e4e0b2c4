#include "seqio/nyr_format.h"


#include "common/bin_codec.h"
#include "common/input_stream.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

// Strings longer than this are read in pieces, so that a corrupt length
// costs memory only for the bytes the file really holds.
constexpr size_t kStringPiece = 1 << 16;

[[noreturn]] void string_read_error() {
  fprintf(stderr, "Read error\n");
  ryx_exit(1);
}

}  // namespace

void nyr_bad_file() {
  fprintf(stderr, "Error reading assembly file\n");
  ryx_exit(65);
}

void nyr_write_error() {
  fprintf(stderr, "Error writing assembly file\n");
  ryx_exit(74);
}

int nyr_number_width(uint32_t limit) { return bin_number_size(static_cast<int32_t>(limit)); }

char *nyr_read_string(input_stream_t *stream) {
  const size_t length = bin_stream_read_flex_number(stream);
  if (length == 0) return nullptr;
  size_t capacity = length < kStringPiece ? length : kStringPiece;
  char *text = static_cast<char *>(ryx_malloc(capacity + 1));
  size_t have = 0;
  while (have < length) {
    if (have == capacity) {
      capacity = capacity * 2 < length ? capacity * 2 : length;
      text = static_cast<char *>(ryx_realloc(text, capacity + 1));
    }
    const size_t got = input_stream_read(text + have, 1, capacity - have, stream);
    if (got == 0) {
      ryx_free(text);
      string_read_error();
    }
    have += got;
  }
  text[length] = '\0';
  return text;
}

void nyr_skip_file_string(FILE *file) {
  const uint32_t length = bin_file_read_flex_number(file);
  char piece[4096];
  uint32_t left = length;
  while (left > 0) {
    const size_t want = left < sizeof piece ? left : sizeof piece;
    if (fread(piece, 1, want, file) != want) string_read_error();
    left -= static_cast<uint32_t>(want);
  }
}

nyr_scoring_scheme_t *nyr_scoring_scheme_new_blank() {
  auto *scheme = static_cast<nyr_scoring_scheme_t *>(ryx_calloc(sizeof(nyr_scoring_scheme_t)));
  for (int16_t &cost : scheme->optional) cost = -1;
  scheme->colour_error = -1;
  return scheme;
}

nyr_scoring_scheme_t *nyr_scoring_scheme_new(int16_t insertion_first, int16_t insertion_further,
                                             int16_t deletion_first, int16_t deletion_further, int16_t match,
                                             int16_t mismatch_1, int16_t mismatch_2, int16_t mismatch_3,
                                             int32_t mode) {
  nyr_scoring_scheme_t *scheme = nyr_scoring_scheme_new_blank();
  scheme->insertion_first = insertion_first;
  scheme->insertion_further = insertion_further;
  scheme->deletion_first = deletion_first;
  scheme->deletion_further = deletion_further;
  scheme->match = match;
  scheme->mismatch[0] = mismatch_1;
  scheme->mismatch[1] = mismatch_2;
  scheme->mismatch[2] = mismatch_3;
  scheme->mode = mode;
  return scheme;
}

nyr_scoring_scheme_t *nyr_scoring_scheme_free(nyr_scoring_scheme_t *scheme) {
  ryx_free(scheme);
  return nullptr;
}

int nyr_scoring_scheme_type(const nyr_scoring_scheme_t *scheme) {
  if (scheme == nullptr) return kNyrSchemeNone;
  return (scheme->optional[0] != -1 || scheme->optional[2] != -1) ? kNyrSchemeWithOptional : kNyrSchemeWithColour;
}

nyr_scoring_scheme_t *nyr_scoring_scheme_read(input_stream_t *stream) {
  const int type = bin_stream_read_u8(stream);
  if (type == kNyrSchemeNone) return nullptr;
  if (type >= kNyrSchemeTypes) {
    fprintf(stderr, "Unsupported scoring scheme, type %d\n", type);
    ryx_exit(65);
  }
  nyr_scoring_scheme_t *scheme = nyr_scoring_scheme_new_blank();
  auto i16 = [stream]() { return static_cast<int16_t>(bin_stream_read_u16(stream)); };
  scheme->insertion_first = i16();
  scheme->insertion_further = i16();
  scheme->deletion_first = i16();
  scheme->deletion_further = i16();
  if (type == 4)
    for (int16_t &cost : scheme->optional) cost = i16();
  scheme->match = i16();
  for (int16_t &score : scheme->mismatch) score = i16();
  if (type >= 3) scheme->colour_error = i16();
  if (type >= 2) scheme->mode = bin_stream_read_u8(stream) & 3;
  return scheme;
}

void nyr_scoring_scheme_write(FILE *file, const nyr_scoring_scheme_t *scheme) {
  const int type = nyr_scoring_scheme_type(scheme);
  bin_file_write_u8(file, static_cast<uint8_t>(type));
  if (type == kNyrSchemeNone) return;
  auto i16 = [file](int16_t value) { bin_file_write_u16(file, static_cast<uint16_t>(value)); };
  i16(scheme->insertion_first);
  i16(scheme->insertion_further);
  i16(scheme->deletion_first);
  i16(scheme->deletion_further);
  if (type == kNyrSchemeWithOptional)
    for (int16_t cost : scheme->optional) i16(cost);
  i16(scheme->match);
  for (int16_t score : scheme->mismatch) i16(score);
  i16(scheme->colour_error);
  bin_file_write_u8(file, static_cast<uint8_t>(scheme->mode & 3));
}
