// Files as byte sources and sinks: FilePointerFile over stdio for files the
// mapper writes, GzFile over zlib for everything it reads (gzip-compressed
// and plain files alike).
#pragma once

#include <zlib.h>

#include <cstdio>
#include <string>

#include "fm/runtime/reader_writer.h"

class File : public virtual Reader, public virtual Writer {
 public:
  // Opens an existing file. Writable: stdio mode "rb+", a FilePointerFile.
  // Otherwise a read-only GzFile that reads gzip and plain content alike.
  // Returns null, printing nothing, when the file cannot be opened.
  static File *open(char const *path, bool writable);
  // Creates or truncates a file for writing and reading; null on failure.
  static File *create(char const *path);
  // An anonymous temporary file named "<tmp>"; null on failure.
  static File *create_temporary();

  ~File() override;

  // The path exactly as given.
  char const *name() const override;
  // The path after its last '/' (a leading '/' that is the only one stays).
  char const *name_short() const;
  // Size in bytes measured at opening; -1 when it could not be measured.
  long long size() const;
  // The current position.
  long long raw_offset() const override;
  bool is_buffered() override;

  // Moves to offset from origin (0 start, 1 current, 2 end); true on success.
  virtual bool seek(long long offset, int origin) = 0;
  virtual void rewind() = 0;
  virtual long long tell() const = 0;
  // The stdio stream; fatal for a read-only file.
  virtual FILE *pointer() const = 0;
  void flush() override = 0;

 protected:
  File(char const *path, long long size);

 private:
  std::string name_;
  std::string short_name_;
  long long size_;
};

// A file read and written through a stdio stream it owns.
class FilePointerFile : public File {
 public:
  FilePointerFile(FILE *file, char const *path, long long size);
  // Flushes (a failing last write is reported here) and closes the stream.
  ~FilePointerFile() override;

  // A read error of the stream prints "Error while reading file <name>:
  // <reason>" and ends the process with status 74.
  long long attempt_read(void *buffer, long long count) override;
  long long attempt_write(void const *buffer, long long count) override;
  bool seek(long long offset, int origin) override;
  void rewind() override;
  long long tell() const override;
  FILE *pointer() const override;
  // fflush; failure prints "Error while writing file <name>" and ends the
  // process with status 1.
  void flush() override;

 private:
  FILE *file_;
};

// A read-only file read through zlib's gz interface; positions are in
// uncompressed bytes except raw_offset, which counts stored bytes.
class GzFile : public File {
 public:
  GzFile(gzFile gz, char const *path, long long size);
  ~GzFile() override;

  // A zlib error, including a gzip stream cut short, prints "Error while
  // reading file <name>: <zlib's text>" and ends the process with status 74.
  long long attempt_read(void *buffer, long long count) override;
  // The three writing operations print "Write operation to read-only file
  // <name>" and end the process with status 70.
  long long attempt_write(void const *buffer, long long count) override;
  void flush() override;
  FILE *pointer() const override;

  bool seek(long long offset, int origin) override;
  void rewind() override;
  long long tell() const override;
  // Offset in the stored (compressed) bytes, never decreasing.
  long long raw_offset() const override;

 private:
  [[noreturn]] void read_only_error() const;
  [[noreturn]] void zlib_error() const;

  gzFile gz_;
  mutable long long highest_raw_offset_ = 0;
};
