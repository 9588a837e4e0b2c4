#include "fm/mapper/mapper_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/ryx_exit.h"
#include "common/temp_file.h"
#include "fm/runtime/file.h"

namespace {

// The directory part of path ("." when it has none).
std::string directory_of(std::string const &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Permission bits of a new file under the process's umask. umask can only
// be read by setting it, so it is set back at once; outputs are opened
// before any worker thread starts.
mode_t new_file_mode() {
  mode_t mask = umask(022);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

MapperOutput::MapperOutput(std::string path) : path_(std::move(path)) {}

bool MapperOutput::usable(char const *path) {
  struct stat st;
  if (stat(path, &st) == 0) return !S_ISDIR(st.st_mode) && access(path, W_OK) == 0;
  if (errno != ENOENT) return false;
  return access(directory_of(path).c_str(), W_OK | X_OK) == 0;
}

bool MapperOutput::same_file(char const *a, char const *b) {
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

File *MapperOutput::open() {
  struct stat st;
  const bool exists = stat(path_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return File::create(path_.c_str());

  // The rename replaces the file a symbolic link leads to, not the link.
  std::string target = path_;
  mode_t mode = new_file_mode();
  if (exists) {
    if (access(path_.c_str(), W_OK) != 0) return nullptr;
    char resolved[PATH_MAX];
    if (realpath(path_.c_str(), resolved) == nullptr) return nullptr;
    target = resolved;
    mode = st.st_mode & 07777;
  }
  const std::string directory = directory_of(target);
  const size_t slash = target.rfind('/');
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string templ = (slash == std::string::npos ? std::string() : directory + "/") + "." + name + ".XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  const int fd = mkstemp(buffer.data());
  if (fd < 0) return nullptr;
  temp_file_register(buffer.data());
  FILE *stream = fchmod(fd, mode) == 0 ? fdopen(fd, "wb+") : nullptr;
  if (stream == nullptr) {
    close(fd);
    unlink(buffer.data());
    temp_file_unregister(buffer.data());
    return nullptr;
  }
  temp_path_ = buffer.data();
  target_ = target;
  return new FilePointerFile(stream, path_.c_str(), 0);
}

void MapperOutput::commit() {
  if (temp_path_.empty()) return;
  if (rename(temp_path_.c_str(), target_.c_str()) != 0) {
    fprintf(stderr, "Could not create output file %s\n", path_.c_str());
    fflush(stderr);
    ryx_exit(73);
  }
  // The temporary name is free again and may come to name another file,
  // which the exit handler must leave alone.
  temp_file_unregister(temp_path_.c_str());
  temp_path_.clear();
}
