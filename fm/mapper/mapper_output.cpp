#include "fm/mapper/mapper_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/output_file.h"
#include "common/ryx_exit.h"
#include "fm/runtime/file.h"

namespace {

// The directory part of path ("." when it has none).
std::string directory_of(std::string const &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

MapperOutput::MapperOutput(std::string path) : path_(std::move(path)) {}

bool MapperOutput::usable(char const *path) {
  struct stat st;
  if (stat(path, &st) == 0) return !S_ISDIR(st.st_mode) && access(path, W_OK) == 0;
  if (errno != ENOENT) return false;
  return access(directory_of(path).c_str(), W_OK | X_OK) == 0;
}

bool MapperOutput::same_file(char const *a, char const *b) { return output_file_same_file(a, b) != 0; }

File *MapperOutput::open() {
  output_ = output_file_open(path_.c_str());
  if (output_ == nullptr) return nullptr;
  return new FilePointerFile(output_->file, path_.c_str(), 0);
}

void MapperOutput::commit() {
  if (output_ == nullptr) return;
  output_file_t *output = output_;
  output_ = nullptr;
  if (output_file_commit_closed(output) != 0) {
    fprintf(stderr, "Could not create output file %s\n", path_.c_str());
    fflush(stderr);
    ryx_exit(73);
  }
}
