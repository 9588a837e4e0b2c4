#include "common/input_stream.h"

#include <cstring>

#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

// zlib's own read-ahead per system call; larger than its default so that a
// refill of the 1 MiB buffer costs few reads.
constexpr unsigned kGzReadAhead = 128 * 1024;

input_stream_t *stream_new(gzFile gz, FILE *file, const char *path) {
  auto *stream = static_cast<input_stream_t *>(ryx_malloc(sizeof(input_stream_t)));
  stream->gz = gz;
  stream->file = file;
  stream->position = 0;
  stream->left = 0;
  stream->buffer = static_cast<uint8_t *>(ryx_malloc(kInputStreamBufferSize));
  stream->path = path;
  stream->end_unconfirmed = true;
  stream->gz_confirmed = false;
  return stream;
}

[[noreturn]] void read_failed(const input_stream_t *stream) {
  fprintf(stderr, "Problem reading file %s\n", stream->path != nullptr ? stream->path : kInputStreamUnnamed);
  ryx_exit(1);
}

int64_t source_tell(input_stream_t *stream) {
  if (stream->gz != nullptr) return static_cast<int64_t>(gztell(stream->gz));
  return large_file_tell(stream->file);
}

}  // namespace

bool input_stream_gzip_file_is_complete(const char *path) {
  FILE *file = fopen(path, "rb");
  if (file == nullptr) return false;
  constexpr size_t kChunk = 256 * 1024;
  auto *in = static_cast<uint8_t *>(ryx_malloc(kChunk));
  auto *out = static_cast<uint8_t *>(ryx_malloc(kChunk));
  z_stream z;
  memset(&z, 0, sizeof z);
  bool complete = false;
  if (inflateInit2(&z, 15 + 16) == Z_OK) {
    z.next_in = in;
    z.avail_in = static_cast<uInt>(fread(in, 1, kChunk, file));
    for (;;) {
      if (z.avail_in == 0) {
        z.next_in = in;
        z.avail_in = static_cast<uInt>(fread(in, 1, kChunk, file));
        if (z.avail_in == 0) break;  // the input ended inside a member
      }
      z.next_out = out;
      z.avail_out = static_cast<uInt>(kChunk);
      const int ret = inflate(&z, Z_NO_FLUSH);
      if (ret == Z_STREAM_END) {
        if (z.avail_in < 2) {
          memmove(in, z.next_in, z.avail_in);
          z.next_in = in;
          z.avail_in += static_cast<uInt>(fread(in + z.avail_in, 1, kChunk - z.avail_in, file));
        }
        if (z.avail_in >= 2 && z.next_in[0] == 0x1F && z.next_in[1] == 0x8B && inflateReset(&z) == Z_OK) continue;
        complete = true;
        break;
      }
      if (ret != Z_OK && ret != Z_BUF_ERROR) break;
    }
    inflateEnd(&z);
  }
  if (ferror(file)) complete = false;
  fclose(file);
  ryx_free(in);
  ryx_free(out);
  return complete;
}

input_stream_t *input_stream_open(const char *path, const char *mode) {
  gzFile gz = gzopen(path, mode);
  if (gz == nullptr) return nullptr;
  gzbuffer(gz, kGzReadAhead);
  return stream_new(gz, nullptr, path);
}

input_stream_t *input_stream_new_file(FILE *file) { return stream_new(nullptr, file, nullptr); }

input_stream_t *input_stream_new_gz(gzFile gz) { return stream_new(gz, nullptr, nullptr); }

int input_stream_close(input_stream_t *stream) {
  if (stream == nullptr) return 0;
  gzFile gz = stream->gz;
  FILE *file = stream->file;
  ryx_free(stream->buffer);
  ryx_free(stream);
  return gz != nullptr ? gzclose(gz) : fclose(file);
}

void input_stream_free_keep_file(input_stream_t *stream) {
  if (stream == nullptr) return;
  ryx_free(stream->buffer);
  ryx_free(stream);
}

int32_t input_stream_fill(input_stream_t *stream) {
  int32_t count;
  if (stream->gz != nullptr) {
    count = gzread(stream->gz, stream->buffer, kInputStreamBufferSize);
    // A short read is the end of the input only when zlib holds no error:
    // a truncated member comes back short (or empty) with Z_BUF_ERROR set,
    // a corrupt one as -1 or short with Z_DATA_ERROR.
    if (count < kInputStreamBufferSize) {
      int state = Z_OK;
      gzerror(stream->gz, &state);
      if (count < 0 || state != Z_OK) read_failed(stream);
      // A short read means zlib decompressed past the end of the data with
      // room to spare, so it saw every member end. An empty read right
      // after full ones proves nothing: confirm it once from the file.
      if (count == 0 && stream->end_unconfirmed && !stream->gz_confirmed && stream->path != nullptr &&
          !gzdirect(stream->gz)) {
        if (!input_stream_gzip_file_is_complete(stream->path)) read_failed(stream);
        stream->gz_confirmed = true;
      }
      stream->end_unconfirmed = false;
    } else {
      stream->end_unconfirmed = true;
    }
  } else {
    count = static_cast<int32_t>(fread(stream->buffer, 1, kInputStreamBufferSize, stream->file));
    if (count < kInputStreamBufferSize && ferror(stream->file)) read_failed(stream);
  }
  stream->position = 0;
  stream->left = count;
  return count;
}

int input_stream_ungetc(int c, input_stream_t *stream) {
  if (c < 0) return -1;
  if (stream->position > 0) {
    stream->position--;
    stream->left++;
    stream->buffer[stream->position] = static_cast<uint8_t>(c);
    return c;
  }
  // At the buffer start the byte goes in front of the unread bytes, never
  // back to the source: there it would land behind them, and zlib's
  // gzungetc crashes on a handle that has not read yet.
  if (stream->left == kInputStreamBufferSize) return -1;
  memmove(stream->buffer + 1, stream->buffer, static_cast<size_t>(stream->left));
  stream->buffer[0] = static_cast<uint8_t>(c);
  stream->left++;
  return c;
}

char *input_stream_gets(char *buffer, int size, input_stream_t *stream) {
  if (size <= 0) return nullptr;
  int stored = 0;
  while (stored < size - 1) {
    if (stream->left == 0 && input_stream_fill(stream) <= 0) break;
    const uint8_t *from = stream->buffer + stream->position;
    size_t want = static_cast<size_t>(size - 1 - stored);
    if (want > static_cast<size_t>(stream->left)) want = static_cast<size_t>(stream->left);
    const void *line_end = memchr(from, '\n', want);
    const size_t take = line_end != nullptr ? static_cast<size_t>(static_cast<const uint8_t *>(line_end) - from) + 1 : want;
    memcpy(buffer + stored, from, take);
    stored += static_cast<int>(take);
    stream->position += static_cast<int32_t>(take);
    stream->left -= static_cast<int32_t>(take);
    if (line_end != nullptr) break;
  }
  buffer[stored] = '\0';
  return stored > 0 ? buffer : nullptr;
}

size_t input_stream_read(void *buffer, size_t size, size_t count, input_stream_t *stream) {
  if (size == 0 || count == 0) return 0;
  auto *out = static_cast<uint8_t *>(buffer);
  const size_t total = size * count;
  size_t copied = 0;
  while (copied < total) {
    if (stream->left == 0 && input_stream_fill(stream) <= 0) break;
    size_t take = total - copied;
    if (take > static_cast<size_t>(stream->left)) take = static_cast<size_t>(stream->left);
    memcpy(out + copied, stream->buffer + stream->position, take);
    copied += take;
    stream->position += static_cast<int32_t>(take);
    stream->left -= static_cast<int32_t>(take);
  }
  return copied / size;
}

void input_stream_seek(input_stream_t *stream, int64_t offset, int whence) {
  if (whence != SEEK_END) {
    const int64_t move = whence == SEEK_CUR ? offset : offset - (source_tell(stream) - stream->left);
    if (move == 0) return;
    if ((move > 0 && move <= stream->left) || (move < 0 && move >= -static_cast<int64_t>(stream->position))) {
      stream->position += static_cast<int32_t>(move);
      stream->left -= static_cast<int32_t>(move);
      return;
    }
    // The source stands left bytes ahead of the logical position.
    if (whence == SEEK_CUR) offset -= stream->left;
  }
  stream->position = 0;
  stream->left = 0;
  stream->end_unconfirmed = true;
  if (stream->gz != nullptr) gzseek(stream->gz, static_cast<z_off_t>(offset), whence);
  else large_file_seek(stream->file, offset, whence);
}

int64_t input_stream_tell(input_stream_t *stream) { return source_tell(stream) - stream->left; }
