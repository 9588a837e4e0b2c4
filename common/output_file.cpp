#include "common/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/memory.h"
#include "common/string_util.h"
#include "common/temp_file.h"

namespace {

// Permission bits of a new file under the process's umask. umask can only
// be read by setting it, so it is set back at once; outputs are opened
// before any worker thread starts.
mode_t new_file_mode() {
  const mode_t mask = umask(022);
  umask(mask);
  return 0666 & ~mask;
}

// "<directory of target>/.<base name of target>.XXXXXX", a new string.
char *temp_template(const char *target) {
  const char *slash = strrchr(target, '/');
  const size_t directory_length = slash != nullptr ? static_cast<size_t>(slash - target) + 1 : 0;
  const char *base = target + directory_length;
  const size_t length = directory_length + 1 + strlen(base) + 8;
  char *templ = static_cast<char *>(ryx_malloc(length + 1));
  memcpy(templ, target, directory_length);
  snprintf(templ + directory_length, length + 1 - directory_length, ".%s.XXXXXX", base);
  return templ;
}

output_file_t *handle_new(FILE *file, char *path, char *temp_path) {
  auto *output = static_cast<output_file_t *>(ryx_malloc(sizeof(output_file_t)));
  output->file = file;
  output->path = path;
  output->temp_path = temp_path;
  return output;
}

void handle_free(output_file_t *output) {
  ryx_free(output->path);
  ryx_free(output->temp_path);
  ryx_free(output);
}

// Removes a temporary file and takes it off the remove-at-exit list.
int make_temp(char *templ, void *) { return mkstemp(templ); }

void discard_temp(const char *temp_path) {
  if (temp_path == nullptr) return;
  unlink(temp_path);
  temp_file_unregister(temp_path);
}

}  // namespace

output_file_t *output_file_open(const char *path) {
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    FILE *file = fopen(path, "wb");
    return file != nullptr ? handle_new(file, string_duplicate(path), nullptr) : nullptr;
  }

  // The rename must replace the file a symbolic link leads to, not the link.
  char *target = nullptr;
  mode_t mode;
  if (exists) {
    // Replacing a file by rename needs no write permission on it; the
    // output must not get round a protection that opening it would meet.
    if (access(path, W_OK) != 0) return nullptr;
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr) return nullptr;
    target = string_duplicate(resolved);
    mode = st.st_mode & 07777;
  } else {
    target = string_duplicate(path);
    mode = new_file_mode();
  }

  char *temp_path = temp_template(target);
  const int fd = temp_file_make(temp_path, make_temp, nullptr, 1);
  if (fd < 0) {
    const int error = errno;
    ryx_free(temp_path);
    ryx_free(target);
    errno = error;
    return nullptr;
  }
  FILE *file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    discard_temp(temp_path);
    ryx_free(temp_path);
    ryx_free(target);
    errno = error;
    return nullptr;
  }
  return handle_new(file, target, temp_path);
}

int output_file_commit(output_file_t *output) {
  bool ok = fflush(output->file) == 0 && ferror(output->file) == 0;
  ok = fclose(output->file) == 0 && ok;
  if (!ok) {
    discard_temp(output->temp_path);
    handle_free(output);
    return -1;
  }
  return output_file_commit_closed(output);
}

int output_file_commit_closed(output_file_t *output) {
  bool ok = true;
  if (output->temp_path != nullptr) {
    ok = rename(output->temp_path, output->path) == 0;
    // The temporary name is free again and may come to belong to another
    // file, which the exit handler must leave alone.
    if (ok)
      temp_file_unregister(output->temp_path);
    else
      discard_temp(output->temp_path);
  }
  handle_free(output);
  return ok ? 0 : -1;
}

output_file_t *output_file_abandon(output_file_t *output) {
  if (output == nullptr) return nullptr;
  fclose(output->file);
  discard_temp(output->temp_path);
  handle_free(output);
  return nullptr;
}

int output_file_same_file(const char *a, const char *b) {
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino ? 1 : 0;
}
