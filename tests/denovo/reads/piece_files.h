// Helpers for the stage-file piece tests: pieces written to and read from
// unnamed temporary files, and pieces fed through a pipe, which cannot tell
// how many bytes are left.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace denovo_reads_test {

// Everything that write(file) puts into a fresh temporary file.
template <class Write>
std::string written_bytes(Write write) {
  FILE *f = tmpfile();
  write(f);
  fflush(f);
  std::string bytes(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  if (!bytes.empty() && fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
  fclose(f);
  return bytes;
}

// A temporary file holding bytes, positioned at its start.
inline FILE *file_of(const std::string &bytes) {
  FILE *f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  return f;
}

// The read end of a pipe that holds bytes (small enough for the pipe's
// buffer) and then ends.
inline FILE *pipe_of(const std::string &bytes) {
  int fds[2];
  if (pipe(fds) != 0) return nullptr;
  if (write(fds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return nullptr;
  close(fds[1]);
  return fdopen(fds[0], "rb");
}

// The eight little-endian bytes of v.
inline std::string u64_bytes(unsigned long long v) {
  std::string out;
  for (int i = 0; i < 8; i++) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace denovo_reads_test
