#include "fm/runtime/reader_writer.h"

#include <cstdio>

#include "common/ryx_exit.h"

Reader::~Reader() = default;

bool Reader::is_buffered() { return false; }

void Reader::read_exact(void *buffer, long long count) {
  if (count != 0 && attempt_read(buffer, count) != count) read_error();
}

void Reader::read_error() {
  fprintf(stderr, "Unexpected end of file while reading file %s\n", name());
  fflush(stderr);
  ryx_exit(1);
}

Writer::~Writer() = default;

bool Writer::is_buffered() { return false; }

void Writer::write_exact(void const *buffer, long long count) {
  if (count != 0 && attempt_write(buffer, count) != count) write_error();
}

void Writer::write_error() {
  fprintf(stderr, "Error while writing file %s\n", name());
  fflush(stderr);
  ryx_exit(1);
}
