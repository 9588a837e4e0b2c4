// The index file: the reference indexes of a run and the table of the
// reference files they came from, so that a later run loads them instead
// of building them from FASTA.
//
// Layout (little-endian):
//   0  4  magic 'R' 'Y' 'X' 0x80
//   4  2  flags: bit 0 set when a second (bisulphite G-to-A) list follows
//   6  2  version: 2
//   8  4  n: MapperIndex records in each list
//  12     file-info count (flex number), then per file: a byte 0, unsigned
//         64-bit sequence count, unsigned 64-bit total length, the name as
//         a string (flex length and bytes)
//         n MapperIndex records, then n more when flag bit 0 is set
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fm/index/mapper_index.h"

class Reader;
class Writer;

// One reference file of a run.
struct MapperFileInfo {
  uint64_t sequence_count = 0;
  uint64_t total_length = 0;
  std::string file_name;
};

// The four bytes every index file starts with.
constexpr unsigned char kIndexFileMagic[4] = {'R', 'Y', 'X', 0x80};
constexpr uint16_t kIndexFileVersion = 2;

// Writes the file: header, file infos, the n records of first and, when
// second is not null, its n records. A short write ends the process
// (Writer::write_error).
void write_index_file(unsigned int n, const MapperIndex *first, const MapperIndex *second,
                      const std::vector<MapperFileInfo> &file_infos, Writer *out);

// Reads an index file, appending its file infos to file_infos, its first
// list to main_set and, when it has one, its second list to
// bisulphite_set; every index gets the acceleration table of the given
// depth. Sequence ids continue after the last index of each list. Ends the
// process with status 1 and, naming the source:
//   "Index file '%s' is corrupt.\n" for a wrong magic or any damaged part;
//   "Index file '%s' is incompatible, please use the --indexoutput
//    parameter to regenerate it.\n" for a version other than 2;
//   "Index file '%s' does not contain a bisulphite index.\n" in bisulphite
//    mode without a second list;
//   "Index file '%s' contains a bisulphite index, but bisulphite mode is
//    not enabled.\n" the other way round;
// and through Reader::read_error for a short read.
void read_index_file(std::vector<MapperIndex> &main_set, std::vector<MapperIndex> &bisulphite_set,
                     unsigned int acceleration_depth, std::vector<MapperFileInfo> &file_infos, bool bisulphite,
                     Reader *in);

// True when bytes (at least 4) start like an index file.
bool is_index_file_magic(const unsigned char *bytes);

// Prints "Index file '%s' is corrupt.\n" with the source's name and ends
// the process with status 1.
[[noreturn]] void index_file_corrupt(Reader *in);
