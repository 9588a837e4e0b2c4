// The command line of ryx_readalign: the state its option handlers fill,
// the handlers themselves and their registration with the parser.
//
// Pending values are consumed in command-line order: the circular flag and
// the read offset apply to exactly the next file that takes them; the
// technology and the paired settings to every later read file until they
// change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fm/mapper/mapper_pairer.h"
#include "fm/runtime/cmdline_parser.h"

class BufferedReader;
class File;
class MapperParameters;
class NYRWriter;
class Reader;

// One reference file of the command line.
struct reference_file_t {
  std::string name;         // the path as given
  Reader *source = nullptr;  // buffered, open from the command line until set-up takes it
  bool circular = false;
};

// One read file, or the two files of a two-file pair.
struct read_file_t {
  File *first = nullptr;
  File *second = nullptr;  // the mate file of --interleave, else null
  uint32_t technology = 0;  // MapperReadType
  bool paired = false;
  MapperPairedParameters paired_settings;
  uint64_t read_offset = 0;  // added to every read index of the file
};

struct mapper_parser_t {
  MapperParameters *parameters = nullptr;  // created by main
  uint32_t pending_technology = 0;
  bool pending_circular = false;
  bool pending_paired = false;
  MapperPairedParameters pending_paired_settings;
  std::vector<reference_file_t> fasta_references;
  std::vector<reference_file_t> index_references;
  std::vector<read_file_t> read_files;
  // The output files are only named by the command line; main creates them
  // once the command line and the references were accepted.
  std::string index_output;  // empty when not requested
  std::string output;        // empty when not requested
  // Sum of the sizes of all read files, 0 when any size is unknown: the
  // denominator of the mapping progress.
  uint64_t total_read_bytes = 0;
  bool deletion_cost_given = false;
  bool deletion_open_given = false;
  uint64_t pending_read_offset = 0;
  NYRWriter *writer = nullptr;  // null without --output
};

// The version text, "23.0.0.263791".
std::string build_version_string();

// True when the next four bytes of source are the index-file magic; false
// when fewer than four bytes are left. Consumes nothing.
bool is_mapping_index(BufferedReader *source);

// Registers every option of ryx_readalign with its handler and help text,
// in the order of the usage text.
void mapper_register_options(CmdLineParser<mapper_parser_t> &parser);

// Threads that mapping may run within mapper_memory_mb megabytes (at
// least 4000): about 48 S^2 bytes per thread for reads up to the normal
// type limit S beside a fixed 3 GiB; at least 1.
uint64_t mapper_memory_threads(uint64_t mapper_memory_mb, uint32_t normal_type_limit);

// Closes every file the command line opened and still holds (reference
// sources, read files); the writer is not touched.
void mapper_parser_release(mapper_parser_t *options);
