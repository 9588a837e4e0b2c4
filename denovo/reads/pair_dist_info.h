// Pair-distance histogram of one paired read file: how far apart the two
// reads of a pair lie when both fall in one fragment.
//
// The histogram covers the distances -R ... R, R = max(50000, 1.2 x the
// setting's maximum distance). The read table fills one per batch and merges
// it into the run's histogram of the same file; the driver estimates the
// real pair distances from it. The paired setting is the caller's and must
// outlive the histogram. One thread at a time.
//
// Stage-file piece (little-endian): a presence byte (1, or 0 for an
// unpaired file), u32 R, counted, not counted, wrong orientation, file
// index, then the 2R + 1 bins as u32, bin 0 first.
#pragma once

#include <cstdint>
#include <cstdio>

#include "seqio/paired_setting.h"

extern "C" {

struct pair_dist_info_t {
  int32_t radius;             // R
  int32_t *bins;              // 2R + 1 counters; bin i counts distance i - R (mirrored for bf and bb)
  int32_t counted;            // distances that went into a bin
  int32_t not_counted;        // distances out of range, on the wrong strands, or pairs not binned
  int32_t wrong_orientation;  // kept, saved and loaded here; raised by the driver
  int32_t db_num;             // index of the read file
  const paired_setting_t *setting;  // not owned
};

// The largest radius: 2R + 1 bins still fit a signed 32-bit count.
constexpr int32_t kPairDistMaxRadius = 0x3FFFFFFF;

// R for a setting: max(50000, 1.2 x maximum distance) truncated, at most
// kPairDistMaxRadius.
int32_t pair_dist_info_radius(const paired_setting_t *setting);
// A zeroed histogram for file db_num.
pair_dist_info_t *pair_dist_info_new(const paired_setting_t *setting, int32_t db_num);
// Frees the bins and the record (null allowed); returns null.
pair_dist_info_t *pair_dist_info_free(pair_dist_info_t *info);
// Records distance d; opposite is 1 when the two reads lie on opposite
// strands of the fragment. ff and bb need opposite 0, fb and bf need 1;
// bf and bb count the distance mirrored. Out of range or the other strand
// flag: not counted.
void pair_dist_info_add(pair_dist_info_t *info, int32_t distance, int opposite);
// One more pair that was not binned.
void pair_dist_info_count_not_counted(pair_dist_info_t *info);
// Adds the source's bins, counted and not counted to the target (the wrong
// orientation counter is not merged). Both must have the same R; otherwise
// the process ends with a message and status 1.
void pair_dist_info_merge(const pair_dist_info_t *source, pair_dist_info_t *target);
// Debug dump of the counters and every bin; nothing for null.
void pair_dist_info_print(const pair_dist_info_t *info);

// Writes the stage-file piece, or the single byte 0 for null.
void pair_dist_info_write(FILE *file, const pair_dist_info_t *info);
// Reads a piece and attaches setting: null when absent. A stored file index
// other than db_num prints "Error, db_num != info->db_num in
// pair_dist_info_read" on standard error and exits with status 1; a radius
// out of range or bins beyond the end of the file exit with status 1 and a
// message naming pair_dist_info_read.
pair_dist_info_t *pair_dist_info_read(FILE *file, const paired_setting_t *setting, int32_t db_num);

}  // extern "C"
