#include "seqio/colour_code.h"

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
