// Block transfers and seeks on stdio files with 64-bit offsets.
//
// Transfers are split into pieces of at most 1 GiB, because a single fread
// or fwrite of more bytes is not relied on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr size_t kLargeFilePieceSize = 0x40000000;

// fseeko; true when the seek succeeded.
bool large_file_seek(FILE *file, int64_t offset, int whence);
// ftello: the position, or -1 on failure.
int64_t large_file_tell(FILE *file);
// Reads n bytes in pieces until all have arrived or a piece reads nothing;
// returns the bytes read (fewer than n at the end of the file or on error).
size_t large_file_read(void *buffer, size_t n, FILE *file);
// Writes n bytes in pieces until all are written or a piece writes nothing;
// returns the bytes written.
size_t large_file_write(const void *buffer, size_t n, FILE *file);
// Bytes between the read position and the end of a regular file, for
// checking a stored size before allocating for it; -1 when the file is no
// regular file (a pipe) or cannot tell. Bytes still in a write buffer are
// not counted.
int64_t large_file_bytes_left(FILE *file);
// Truncates (or extends) the named file to length bytes; 0 on success, else
// -1 with errno set.
int large_file_truncate(const char *path, int64_t length);
