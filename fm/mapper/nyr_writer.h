// Streams a mapping result as an nyr mapping file, version 3.
//
// The 16-byte header is written at construction with a fields-block offset
// of 0; records follow one per read, in the order they are added; the
// destructor appends the fields block (program strings, reference and read
// files, scoring scheme, contig table) and only then patches its offset
// into the header. A file whose writer did not finish therefore keeps
// offset 0, which every reader refuses.
//
// Any failed write, flush, tell or seek ends the process with "Error while
// writing file %s\n" (the file's path) and status 1, the write error of
// the file classes.
//
// Used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fm/mapper/nyr_entry.h"
#include "fm/mapper/nyr_read_file.h"
#include "fm/mapper/nyr_reference_file.h"
#include "fm/mapper/nyr_scoring_scheme.h"
#include "fm/runtime/file.h"
#include "fm/runtime/reader_writer.h"

class NYRWriter {
 public:
  // Takes ownership of file (a new file from File::create) and writes the
  // header at once through a 1 MiB buffer.
  NYRWriter(File *file, NYRScoringScheme scheme);
  // Writes the fields block, patches the header and closes the file; runs
  // once, after the last entry.
  ~NYRWriter();
  NYRWriter(const NYRWriter &) = delete;
  NYRWriter &operator=(const NYRWriter &) = delete;

  void set_program_info(std::string program, std::string version, std::string command_line);
  // Stores a copy; its sequences follow those of the files added before in
  // the global numbering. Every entry is encoded with the reference count
  // and longest length known when it is added, so a reference file added
  // after the first entry would make the records unreadable: that ends the
  // process with "Reference files must be added before the first entry\n",
  // status 1.
  void add_reference_file(NYRReferenceFile const &file);
  // Stores a copy.
  void add_read_file(NYRReadFile const &file);
  // Encodes the entry at once (failures as NYREntry::serialize).
  void add_entry(NYREntry const &entry);

  uint64_t entry_count() const { return entry_count_; }
  uint32_t reference_sequence_count() const { return reference_sequence_count_; }
  uint32_t longest_reference() const { return longest_reference_; }

 private:
  void write_fields() const;

  NYRScoringScheme scheme_;
  File *file_;
  Writer *writer_;  // owns file_ (or is file_ when that is buffered)
  std::vector<NYRReferenceFile> reference_files_;
  std::vector<NYRReadFile> read_files_;
  uint64_t entry_count_ = 0;
  uint32_t reference_sequence_count_ = 0;
  uint32_t longest_reference_ = 0;
  std::string program_;
  std::string version_;
  std::string command_line_;
  // Length of every reference sequence by global id, for the wrap of
  // positions at or past a sequence's end.
  std::vector<uint32_t> sequence_lengths_;
};
