// Result and index files that appear under their name only once complete:
// the shared output files of common/output_file.h behind the File class of
// the mapper's runtime. Until commit() the output is a hidden temporary file
// on the remove-at-exit list, so a run that fails through ryx_exit leaves
// neither a partial file nor a changed earlier file of that name.
#pragma once

#include <string>

class File;
struct output_file_t;

class MapperOutput {
 public:
  explicit MapperOutput(std::string path);
  MapperOutput(const MapperOutput &) = delete;
  MapperOutput &operator=(const MapperOutput &) = delete;

  // True when path could be created now: an existing file must be
  // writable and no directory, a new one needs a writable directory.
  // Creates nothing.
  static bool usable(char const *path);
  // True when both paths exist and name the same file (device and inode).
  static bool same_file(char const *a, char const *b);

  // The file to write, named after the final path (its messages name that
  // path); its owner closes it by deleting it. Null when it cannot be
  // created.
  File *open();
  // Moves the finished file (deleted by its owner) to its name. A failed
  // rename prints "Could not create output file %s\n" and ends the process
  // with status 73, the temporary file removed.
  void commit();

  std::string const &path() const { return path_; }

 private:
  std::string path_;
  output_file_t *output_ = nullptr;  // open and not yet committed
};
