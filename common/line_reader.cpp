#include "common/line_reader.h"

#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

constexpr size_t kFirstLineSize = 1024;

}  // namespace

line_reader_t *line_reader_open(const char *path) {
  FILE *file = fopen(path, "rb");
  if (file == nullptr) {
    printf("ERROR: could not open file: %s\n", path);
    ryx_exit(1);
  }
  return line_reader_new(file);
}

line_reader_t *line_reader_new(FILE *file) {
  auto *reader = static_cast<line_reader_t *>(ryx_malloc(sizeof(line_reader_t)));
  reader->stream = input_stream_new_file(file);
  reader->size = kFirstLineSize;
  reader->buffer = static_cast<char *>(ryx_malloc(reader->size));
  reader->buffer[0] = '\0';
  return reader;
}

int64_t line_reader_next(line_reader_t *reader) {
  if (reader->size == 0) return -1;
  size_t length = 0;
  for (;;) {
    const int c = input_stream_getc(reader->stream);
    if (c < 0 || c == 0xFF) {
      // The end: a pending last line is returned, and either way every
      // later call returns -1.
      reader->buffer[length] = '\0';
      reader->size = 0;
      return length > 0 ? static_cast<int64_t>(length) : -1;
    }
    if (c == '\n' || c == '\f') break;
    // Grow before storing when the byte would leave no room for the
    // terminator.
    if (length + 1 >= reader->size) {
      reader->size *= 2;
      reader->buffer = static_cast<char *>(ryx_realloc(reader->buffer, reader->size));
    }
    reader->buffer[length++] = static_cast<char>(c);
  }
  reader->buffer[length] = '\0';
  return static_cast<int64_t>(length);
}

line_reader_t *line_reader_free(line_reader_t *reader) {
  if (reader == nullptr) return nullptr;
  input_stream_close(reader->stream);
  ryx_free(reader->buffer);
  ryx_free(reader);
  return nullptr;
}
