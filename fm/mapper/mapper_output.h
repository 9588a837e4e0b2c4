// Result and index files that appear under their name only once complete.
//
// A regular file (or a name that does not exist yet) is written under a
// hidden temporary name beside it, ".<name>.XXXXXX" in the same directory,
// and renamed over the name by commit(). Until then the temporary file is
// on the remove-at-exit list, so a run that fails through ryx_exit leaves
// neither a partial file nor a changed earlier file of that name. A name
// that is a device (a terminal, a pipe) is written in place.
#pragma once

#include <string>

class File;

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
  // path); null when it cannot be created.
  File *open();
  // Moves the finished file (closed by its owner) to its name. A failed
  // rename prints "Could not create output file %s\n" and ends the process
  // with status 73, the temporary file removed.
  void commit();

  std::string const &path() const { return path_; }

 private:
  std::string path_;
  std::string target_;     // path with symbolic links resolved: what the rename replaces
  std::string temp_path_;  // empty when written in place
};
