// Output files that appear under their name only once they are complete.
//
// A regular file (or a name that does not exist yet) is written under a
// hidden temporary name beside it, ".<name>.XXXXXX" in the same directory,
// and renamed over the name when the program commits it. Until then the
// temporary file is on the remove-at-exit list of common/temp_file.h, so
// every failure that ends the process through ryx_exit takes the partial
// output with it and leaves an earlier file of that name as it was. A name
// that is a terminal, a pipe or another device is written in place, since
// such an output cannot be replaced.
#pragma once

#include <cstdio>

struct output_file_t {
  FILE *file;       // the stream to write to
  char *path;       // the name the output ends up under (symbolic links resolved)
  char *temp_path;  // the temporary name it is written under; null when written in place
};

// Opens path for writing. An existing regular file must be writable; the
// finished output takes over its permission bits (else those of a new file
// under the process's umask). Returns null, with errno set and no message,
// when the output cannot be created.
output_file_t *output_file_open(const char *path);

// Flushes and closes the output and moves it to its name; frees the handle.
// Returns 0, or -1 when a write, the close or the rename failed, in which
// case the temporary file is removed and the name keeps what it held.
int output_file_commit(output_file_t *output);

// For an output whose stream was handed to an owner that has closed it
// (after checking its own writes): moves the output to its name and frees
// the handle without touching the stream. Returns 0, or -1 when the rename
// failed, in which case the temporary file is removed.
int output_file_commit_closed(output_file_t *output);

// Closes the output, removes the temporary file and frees the handle (null
// allowed); returns null.
output_file_t *output_file_abandon(output_file_t *output);

// 1 when both paths exist and name the same file (same device and inode,
// whatever links lead there), else 0.
int output_file_same_file(const char *a, const char *b);
