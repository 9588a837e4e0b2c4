// Pair-distance estimation: the real distance range of each paired read
// file, read off the main peak of its pair-distance histogram, written to
// the estimate file and, where the estimate holds, put into the file's
// paired setting so that the paired stages use measured distances.
//
// Calling order (the driver, when an estimate file is asked for and some
// read file is paired, after read optimisation and before the paired
// stages):
//   paired_distance_collect(table, graph);            // pair_distance_collection.h
//   paired_distance_write_estimates(table, settings, files, path);
// paired_distance_collect adds the pairs placed along the contigs to the
// read table's histograms; paired_distance_write_estimates estimates every
// histogram, writes one line per paired file and, on status
// kPairedDistanceEstimated, stores the estimated minimum and maximum into
// settings[i]. The histograms stay the read table's; the settings, the file
// names and the path are the caller's. One thread.
//
// Estimate file: one line per read file that has both a histogram and a
// paired setting, in file order: the first file name, a tab, the second
// file name of an interleaved pair or "-", a tab, then the minimum and the
// maximum distance and the status word, tab-separated ("0\t0" for the
// statuses that give no range). The file appears only once complete.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/output_file.h"
#include "denovo/reads/pair_dist_info.h"
#include "denovo/reads/read_store.h"
#include "denovo/reads/read_table.h"
#include "seqio/paired_setting.h"

extern "C" {

// Outcome of the estimate of one histogram.
enum paired_distance_status_t : int32_t {
  kPairedDistanceEstimated = 0,         // main peak at distance 0 or more: min and max hold
  kPairedDistanceNoData = 1,            // no bin holds more than 50 pairs
  kPairedDistanceNotEnoughData = 2,     // no peak, or the main peak holds too little
  kPairedDistanceNegative = 3,          // the main peak lies at negative distances: min and max given
  kPairedDistanceAmbiguous = 4,         // two comparable peaks at positive distances
  kPairedDistanceWrongDirection = 5,    // more pairs on one strand than placed
};

// A peak of the histogram while it is estimated.
struct distance_peak_t {
  double mean;           // the largest window mean of the peak (0: no peak)
  int64_t centre;        // bin index of the middle of that window
  int32_t min_distance;  // where the flank scans stopped
  int32_t max_distance;
  double flank_mass;     // pairs the flank scans passed over
};

// Width in bins of the window or flank step at bin index `bin` of a
// histogram of half width `radius`: 5 within 500 of distance 0, 10 from
// 500 to 999 away, 5 more for every further 500.
int32_t paired_distance_window_width(int32_t bin, int32_t radius);

// Estimates the histogram: returns its status and, for kPairedDistanceEstimated
// and kPairedDistanceNegative, the distance range under the main peak in
// out_min and out_max (0 and 0 for every other status). Arithmetic on bin
// counts is done in floating point; bins outside the histogram read as 0.
// Never fails.
paired_distance_status_t paired_distance_estimate(const pair_dist_info_t *histogram, int32_t *out_min,
                                                  int32_t *out_max);

// The status word of the estimate file ("DISTANCE_ESTIMATED", ...,
// "UNKNOWN_ERROR" for a value out of range).
const char *paired_distance_status_word(int32_t status);

// Writes the estimate line of one read file; min and max are written only
// for the statuses that give a range, else "0\t0". Write errors surface on
// the stream.
void paired_distance_write_line(FILE *file, const read_store_file_t *names, int32_t status, int32_t min_distance,
                                int32_t max_distance);

// Estimates the histogram of every read file i < table->file_count that has
// one and whose settings[i] is not null, writes the estimate file at path
// and stores min and max into settings[i] where the status is
// kPairedDistanceEstimated. settings and files hold file_count entries. A
// path that cannot be created prints "Problem opening file: %s\n", a failed
// write or close "Problem closing file: %s\n", both on standard error with
// status 1; no partial file is left.
void paired_distance_write_estimates(const read_table_t *table, paired_setting_t *const *settings,
                                     const read_store_file_t *files, const char *path);
// The same into an estimate file the caller opened earlier (so that an
// unwritable path ends a run before its stages); commits it, path naming it
// in the closing message.
void paired_distance_write_estimates_to(const read_table_t *table, paired_setting_t *const *settings,
                                        const read_store_file_t *files, output_file_t *out, const char *path);

}  // extern "C"
