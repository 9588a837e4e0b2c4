#include "seqio/colour_code.h"

#include <cstring>

#include "common/memory.h"
#include "seqio/seq_format.h"

colour_state_t *colour_state_new() {
  auto *state = static_cast<colour_state_t *>(ryx_calloc(sizeof(colour_state_t)));
  pthread_mutex_init(&state->mutex, nullptr);
  return state;
}

void colour_state_free(void *state) {
  if (state == nullptr) return;
  auto *s = static_cast<colour_state_t *>(state);
  pthread_mutex_destroy(&s->mutex);
  ryx_free(s);
}

void colour_state_count_dotted(colour_state_t *state) {
  pthread_mutex_lock(&state->mutex);
  state->ignored++;
  pthread_mutex_unlock(&state->mutex);
}

colour_state_t *colour_open_stream(input_stream_t *stream) {
  input_stream_seek(stream, 0, SEEK_SET);
  const int c = seq_skip_comments(stream);
  if (c >= 0) input_stream_ungetc(c, stream);
  return colour_state_new();
}

colour_state_t *colour_open_gz(gzFile gz, const char *path) {
  gzrewind(gz);
  const int c = seq_skip_comments_gz(gz, path);
  // One byte back, so that the first block starts with the first record.
  if (c >= 0) gzungetc(c, gz);
  return colour_state_new();
}

int colour_primer_code(int c) {
  switch (c) {
    case 'a': case 'A': return 0;
    case 'c': case 'C': return 1;
    case 'g': case 'G': return 2;
    case 't': case 'T': return 3;
    default: return -1;
  }
}

bool colour_decode(int primer_code, const uint8_t *colours, uint32_t n, uint8_t *residues) {
  auto base = static_cast<uint8_t>(primer_code);
  for (uint32_t i = 0; i < n; i++) {
    const uint8_t d = static_cast<uint8_t>(colours[i] - '0');
    if (d > 3) return false;
    base ^= d;
    residues[i] = base;
  }
  return true;
}

bool colour_decode_read(int primer_code, const uint8_t *colours, uint32_t n, bool dotted, uint8_t *residues) {
  if (!dotted) return colour_decode(primer_code, colours, n, residues);
  for (uint32_t i = 0; i < n; i++) residues[i] = 4;
  return true;
}

int32_t colour_decode_in_place(uint8_t *read, int32_t n, colour_state_t *state) {
  // A record without any sequence byte has no primer to check.
  if (n <= 0) return 0;
  const int code = colour_primer_code(read[0]);
  if (code < 0) return -1;
  const auto colours = static_cast<uint32_t>(n - 1);
  const bool dotted = memchr(read + 1, '.', colours) != nullptr;
  if (dotted) colour_state_count_dotted(state);
  if (!colour_decode_read(code, read + 1, colours, dotted, read)) return -1;
  return static_cast<int32_t>(colours);
}
