// Reads a text file line by line.
//
// A line ends at a line feed (10) or a form feed (12); a carriage return
// (13) stays part of the line. The byte 0xFF is taken as the end of the
// input, like the real end. A last line without an end byte is returned
// normally.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "common/input_stream.h"

struct line_reader_t {
  input_stream_t *stream;  // over the FILE* the reader was made with
  char *buffer;            // the current line, terminated with 0
  size_t size;             // buffer bytes: 1024 at first, doubling as lines need; 0 once finished
};

// Reader over the file at path (fopen "rb"). When it cannot be opened:
// "ERROR: could not open file: <path>\n" on standard output and status 1.
line_reader_t *line_reader_open(const char *path);
// Reader over an already open file, which the reader then owns.
line_reader_t *line_reader_new(FILE *file);
// Reads the next line into the reader's buffer without its end byte and
// returns its length, or -1 at the end of the input. The line stays valid
// until the next call.
int64_t line_reader_next(line_reader_t *reader);
// Closes the file, frees the buffer and the reader (null allowed); returns
// null.
line_reader_t *line_reader_free(line_reader_t *reader);
