#include "common/large_file.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>

bool large_file_seek(FILE *file, int64_t offset, int whence) {
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

int64_t large_file_tell(FILE *file) { return static_cast<int64_t>(ftello(file)); }

size_t large_file_read(void *buffer, size_t n, FILE *file) {
  auto *p = static_cast<uint8_t *>(buffer);
  size_t done = 0;
  while (done < n) {
    const size_t got = fread(p + done, 1, std::min(n - done, kLargeFilePieceSize), file);
    if (got == 0) break;
    done += got;
  }
  return done;
}

size_t large_file_write(const void *buffer, size_t n, FILE *file) {
  const auto *p = static_cast<const uint8_t *>(buffer);
  size_t done = 0;
  while (done < n) {
    const size_t put = fwrite(p + done, 1, std::min(n - done, kLargeFilePieceSize), file);
    if (put == 0) break;
    done += put;
  }
  return done;
}

int64_t large_file_bytes_left(FILE *file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  const int64_t here = large_file_tell(file);
  if (here < 0) return -1;
  const int64_t size = static_cast<int64_t>(info.st_size);
  return size > here ? size - here : 0;
}

int large_file_truncate(const char *path, int64_t length) { return truncate(path, static_cast<off_t>(length)); }
