// The memory report: estimates of the bytes the word counter and the read
// table take, appended as sections to the file the driver opened for it.
//
// Sizes are printed in bytes and in MiB. With no file every call does
// nothing. Write errors surface when the driver closes the file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/reads/read_table.h"
#include "denovo/reads/word_counter.h"

extern "C" {

// The read table's estimate per part, in bytes.
struct memory_report_read_table_t {
  uint64_t read_info;
  uint64_t pair_dist_info;
  uint64_t read_pair_info;
  uint64_t end_info;
};

// Computes the estimate: read info, (count - 1) x width / 8 for each of its
// three index arrays + 4 per path word + 200; 8 x R + 64 per pair-distance
// histogram; 24 per pair, again when the copy sorted by end 2 exists, + 40;
// 32 per end-info record + its symbols. Absent parts count 0.
memory_report_read_table_t memory_report_measure_read_table(const read_table_t *table);

// Appends the word counter section (file null: nothing).
void memory_report_write_hash_table(FILE *file, const word_counter_t *counter);
// Appends the read table section (file null: nothing).
void memory_report_write_read_table(FILE *file, const read_table_t *table);

}  // extern "C"
