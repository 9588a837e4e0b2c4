// The two abstract byte interfaces of the mapper: every byte it reads comes
// from a Reader, every byte it writes goes to a Writer.
//
// A short transfer by itself reports nothing; a caller that needed the full
// count calls read_error() or write_error(), which end the process.
#pragma once

class Reader {
 public:
  // Display name of the source (owned by the object).
  virtual char const *name() const = 0;
  // Copies up to count bytes into buffer and returns how many it copied;
  // fewer than count means the end of the data, 0 that nothing is left.
  virtual long long attempt_read(void *buffer, long long count) = 0;
  virtual ~Reader();
  // Position in the underlying storage (compressed bytes for a gzip file);
  // only used to estimate progress.
  virtual long long raw_offset() const = 0;
  // True only for BufferedReader.
  virtual bool is_buffered();

  // Copies exactly count bytes into buffer (nothing for count 0); a short
  // read ends the process through read_error().
  void read_exact(void *buffer, long long count);

  // Prints "Unexpected end of file while reading file <name>" and ends the
  // process with status 1.
  [[noreturn]] void read_error();
};

class Writer {
 public:
  virtual char const *name() const = 0;
  // Writes count bytes and returns how many were taken.
  virtual long long attempt_write(void const *buffer, long long count) = 0;
  // Pushes everything written so far to the storage; failures are fatal.
  virtual void flush() = 0;
  virtual ~Writer();
  // True only for BufferedWriter.
  virtual bool is_buffered();

  // Writes exactly count bytes (nothing for count 0); a short write ends the
  // process through write_error().
  void write_exact(void const *buffer, long long count);

  // Prints "Error while writing file <name>" and ends the process with
  // status 1.
  [[noreturn]] void write_error();
};
