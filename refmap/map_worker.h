// Worker records and the shared progress record of the hash mapper's
// mapping run.
//
// One map_worker_params_t per mapping thread carries what the batch mapping
// (map_batch.h) hands to the matcher: the packed block, the hit tables of
// the current seed level, the costs and the flags of the level and block.
// The run creates the records once, overwrites their block, tables and
// level values between pipeline runs, and frees them at the end; during a
// pipeline run each record belongs to one map thread. The hit tables and
// the block are not owned by the record.
//
// The one map_progress_t of a run is shared by all map threads; its mutex
// serialises their updates of the mapping meter.
#pragma once

#include <pthread.h>

#include <cstdint>

struct hit_hash_t;
struct progress_meter_t;
struct ref_block_t;

struct map_progress_t {
  pthread_mutex_t mutex;
  double work;             // block length x reads done / 10^9 of the current pass
  double expected_work;    // the same for every read the pass is expected to map
  int32_t reads_done;
  progress_meter_t *meter; // the mapping pass's meter, or null
};

struct map_worker_params_t {
  ref_block_t *block;                // current packed block
  hit_hash_t *hits;                  // this worker's hit table for the block
  const int32_t *reference_lengths;  // one per reference sequence
  int32_t gapped;                    // gapped option and a level after the first
  int32_t ungapped_scorer;           // 1 for designed levels, 0 for the extra fixed-mask level
  int16_t mismatch_cost;
  int16_t gap_cost;
  int16_t deletion_cost;
  int16_t colour_cost;               // -1 in nucleotide space
  double length_fraction;            // 0.5
  double similarity;                 // 0.8
  int32_t align_mode;
  int32_t filter_mode;               // -1: no candidate filter
  int32_t score_limit;               // of the level
  int32_t pair_hit_cap;              // first level: 100 when R < 100 else -1; later levels 0
  int32_t file_count;
  const int32_t *read_counts;        // per read file
  hit_hash_t *mate_hits;             // mate search table, or null
  int32_t mate_gapped;               // 0
  int32_t mate_ungapped_scorer;      // 1
  int32_t mate_filter_mode;          // -1
  int32_t mate_score_limit;          // the first level's score limit
  int32_t last_block;
  int32_t last_level;
  map_progress_t *progress;
  int32_t min_query_length;          // of the level
  int32_t forward_only;
  int32_t backward_only;
};

// Pair hit cap of the first level for report limit R.
inline int32_t map_first_level_pair_cap(int32_t report_limit) { return report_limit < 100 ? 100 : -1; }

// A progress record with its mutex; meter may be null.
map_progress_t *map_progress_new(progress_meter_t *meter);
// Frees it (null allowed); returns null.
map_progress_t *map_progress_free(map_progress_t *progress);
// Starts a pass: work and reads done 0, the expected work of the pass.
void map_progress_reset(map_progress_t *progress, double expected_work);
// Under the mutex: adds reads done and their work, and shows the share of
// the expected work on the meter (at most 1).
void map_progress_add(map_progress_t *progress, int32_t reads, double work);

// A zeroed worker record with the filter modes -1, the fixed fractions
// 0.5 and 0.8, and the mate search values 0 (gapped) and 1 (ungapped).
map_worker_params_t *map_worker_new(void);
// Frees a record (null allowed), not what it points to; returns null.
map_worker_params_t *map_worker_free(map_worker_params_t *worker);
