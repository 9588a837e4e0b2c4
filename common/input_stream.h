// Buffered input over a plain or gzip-compressed file.
//
// The character-at-a-time parsers read through a 1 MiB buffer so that the
// common case of input_stream_getc is an index and a bounds test. Bytes
// before the read position stay in the buffer until the next refill, which
// lets ungetc and short backward seeks work without touching the source.
// The logical read position is always the source's position minus left.
//
// A read error of the source (a corrupt or truncated gzip file, an I/O
// error) is not taken for the end of the input: the refill prints
// "Problem reading file <path>\n" to standard error and ends the process
// with status 1. A stream that wraps an open source names it
// kInputStreamUnnamed unless the caller stores a path in the path field.
// One case escapes a wrapped gz handle: a member cut right where a refill
// was exactly filled reads as a clean end; streams opened by path catch it
// by decompressing the file once more at that end.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int32_t kInputStreamBufferSize = 0x100000;
constexpr const char *kInputStreamUnnamed = "(unnamed input)";

struct input_stream_t {
  gzFile gz;          // source when opened by path or wrapping a gz handle
  FILE *file;         // source when wrapping a FILE*; exactly one is set
  int32_t position;   // index of the next unread byte in the buffer
  int32_t left;       // unread bytes from position on
  uint8_t *buffer;    // kInputStreamBufferSize bytes
  const char *path;   // borrowed path given to input_stream_open, or null
  // zlib stops silently when a cut member's last bytes exactly fill a read
  // request. While end_unconfirmed is set (no short read has shown a clean
  // end since the last seek), an end of input on a gzip file opened by path
  // is confirmed once by decompressing the file again; gz_confirmed records
  // that it was complete.
  bool end_unconfirmed;
  bool gz_confirmed;
};

// Opens path with gzopen (plain and gzip files alike); null on failure,
// without a message. The path is borrowed and must outlive the stream.
input_stream_t *input_stream_open(const char *path, const char *mode);
// Wrap an open source; the stream has no path.
input_stream_t *input_stream_new_file(FILE *file);
input_stream_t *input_stream_new_gz(gzFile gz);
// Frees the stream and closes its source (null allowed, giving 0); returns
// the close result (0 = ok).
int input_stream_close(input_stream_t *stream);
// Frees the stream and leaves its source open.
void input_stream_free_keep_file(input_stream_t *stream);
// Refills the buffer from the source: position 0, left the byte count, which
// is returned (0 at the end of the input). Ends the process on a read error.
int32_t input_stream_fill(input_stream_t *stream);

// Next byte as 0..255, or -1 at the end of the input (a read error ends the
// process inside the refill).
inline int input_stream_getc(input_stream_t *stream) {
  if (stream->left > 0) {
    stream->left--;
    return stream->buffer[stream->position++];
  }
  if (input_stream_fill(stream) <= 0) return -1;
  stream->left--;
  return stream->buffer[stream->position++];
}

// Puts c back so that the next getc returns it, inside the buffer (the
// source is never touched); returns c, or -1 when c is -1 or a full buffer
// of unread bytes leaves no room.
int input_stream_ungetc(int c, input_stream_t *stream);
// Like fgets: reads up to size - 1 bytes or through a line feed (kept),
// terminates with 0; returns buffer, or null when no byte was stored.
char *input_stream_gets(char *buffer, int size, input_stream_t *stream);
// Like fread: copies up to size * count bytes (size at least 1) and returns
// the number of whole items copied.
size_t input_stream_read(void *buffer, size_t size, size_t count, input_stream_t *stream);
// whence 0 (start), 1 (current), 2 (end). Moves inside the buffer when the
// target is buffered; otherwise drops the buffer and seeks the source (a
// seek from the end always does). No result is reported.
void input_stream_seek(input_stream_t *stream, int64_t offset, int whence);
// Logical position: the source position minus the unread buffered bytes.
int64_t input_stream_tell(input_stream_t *stream);

// Decompresses the gzip file at path once more, member by member as zlib's
// gz reader walks it, and tells whether every member ran to its end with a
// matching check value (false also when the file cannot be opened). Other
// readers of gz handles use it where zlib reports a clean end it cannot
// vouch for: an empty read right after a read that filled its request.
bool input_stream_gzip_file_is_complete(const char *path);
