// The mapping run: every read file of the command line mapped on the
// ordered pipeline, one nyr entry per read written strictly in input order
// whatever the number of threads.
//
// MapperPipeline is the source and the sink of the pipeline: it reads the
// next read or read pair from the read files, one file at a time in
// command-line order, and later hands the finished item to the result
// writer. Both run on the pipeline's one source-and-sink thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fm/mapper/mapper_options.h"
#include "fm/mapper/mapper_tuple.h"
#include "fm/mapper/nyr_read_file.h"
#include "fm/runtime/sequence_parser.h"

class Activity;
class NYRWriter;

class MapperPipeline {
 public:
  // Reads files (whose File objects it takes over and deletes) and writes
  // to writer (may be null: nothing is written).
  MapperPipeline(std::vector<read_file_t> *files, NYRWriter *writer, bool bisulphite);
  ~MapperPipeline();
  MapperPipeline(const MapperPipeline &) = delete;
  MapperPipeline &operator=(const MapperPipeline &) = delete;

  // The source: fills tuple with the next read or pair; false when every
  // file is read. The read index restarts at each file's read offset. In a
  // paired file read as one (interleaved) an odd last record becomes a
  // single read; the two files of a pair that run out at different reads
  // end the process with "Mate files %s and %s hold different numbers of
  // reads.\n" (status 1). Parse errors end it as the parser does.
  bool load_next_read(MapperTuple *tuple);
  // The sink: writes one entry per read of tuple and deletes its
  // sequences.
  void save_alignment(MapperTuple *tuple);

  void init_read_file(read_file_t *file);
  // Hands the file's record to the writer and closes the file.
  void finish_read_file();

 private:
  [[noreturn]] void unequal_mates() const;

  std::vector<read_file_t> *files_;
  NYRWriter *writer_;
  bool bisulphite_;
  size_t next_file_ = 0;
  read_file_t *current_ = nullptr;
  uint32_t technology_ = 0;
  MapperPairedParameters paired_;
  uint64_t next_read_index_ = 0;
  long long position_ = 0;
  long long previous_position_ = 0;
  std::unique_ptr<SequenceParser> first_;
  std::unique_ptr<SequenceParser> second_;
  std::unique_ptr<NYRReadFile> record_;
  std::string first_name_;
  std::string second_name_;
};

// Maps every read file of options with get_number_of_cpus() workers,
// advancing activity (may be null) by the input bytes read, then deletes
// the writer, which completes the result file.
void mapper_pipeline_run(mapper_parser_t *options, Activity *activity);
