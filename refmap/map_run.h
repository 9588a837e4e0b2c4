// The mapping run of ryx_refmap: every length group, length class, seed
// level and reference block, and the records of every read.
//
// Calling order: map_run_new (length groups, the read-length check, the
// progress record and one worker record per mapping thread), then, once the
// output is open and its header written, map_run_execute, then
// map_run_free. For each group map_run_execute maps its classes level by
// level and block by block: one packing thread prepares the next block
// while the current one is indexed (one hashed index per mask of the
// level, plus a mate index for later levels of a paired group) and mapped
// by one pass of the mapping pipeline with map_batch; reads without hits at
// the end of a level move into a context of their own for the next level.
// After the classes the group's contexts are merged and every read of the
// group is written, in read order, by map_result_write_read.
//
// Ownership: the run borrows the settings, databases, lists and output; it
// owns the groups, the worker records and the progress record. Random
// numbers of the block packing and of the record writer come from rand(),
// which the program seeds; the packing thread is the only other thread
// using it and it runs only while blocks are mapped.
#pragma once

#include <cstdint>
#include <cstdio>

struct length_group_t;
struct map_progress_t;
struct map_worker_params_t;
struct paired_setting_t;
struct progress_meter_t;
struct ref_block_list_t;
struct ref_block_t;
struct ref_index_t;
struct seq_db_t;
struct seq_file_info_list_t;

// The values of the command line and setup a run needs.
struct map_run_settings_t {
  int32_t mismatch_cost;
  int32_t gap_cost;
  int32_t deletion_cost;
  int32_t colour_cost;        // -1 in nucleotide space
  int32_t score_limit;
  int32_t move_limit;
  int32_t report_limit;       // R
  int32_t gapped;
  int32_t align_mode;
  int32_t forward_only;
  int32_t backward_only;
  int32_t repeat_ignore;
  double memory_fraction;
  int64_t block_size;         // option, 0 = from memory
  int32_t threads;            // N
};

struct map_run_t {
  map_run_settings_t settings;
  seq_db_t *reads;                      // all read files as one database (borrowed)
  seq_db_t *const *read_dbs;            // per read-file entry (borrowed)
  const seq_file_info_list_t *read_files;
  paired_setting_t *const *read_settings;  // per entry, null for unpaired (borrowed)
  int32_t file_count;
  int32_t *read_counts;                 // per entry (owned)
  int32_t total_reads;
  seq_db_t *references;                 // borrowed
  int32_t reference_count;
  const int32_t *reference_lengths;     // borrowed
  int32_t longest_reference;
  int32_t max_pair_distance;            // largest maximum distance of all paired settings
  length_group_t *groups;               // owned
  int32_t group_count;
  map_progress_t *progress;             // owned
  map_worker_params_t **workers;        // N records (owned)
  int32_t memory_base;
  progress_meter_t *meter;              // the run's share of the progress (borrowed, or null)
  progress_meter_t *group_meter;        // children made by the run (owned, or null)
  progress_meter_t *step_meter;
  progress_meter_t *part_meter;
  // Indexes of earlier blocks and levels kept for their storage: the next
  // builds reuse their arrays instead of mapping fresh memory each time.
  ref_index_t **spare_indexes;          // owned, spare_count of them
  int32_t spare_count;
  // The block a level mapped last, with the list that owns its descriptor:
  // when the next level's first block has the same layout (a reference
  // that fits one block), it is repacked instead of read again.
  ref_block_t *kept_block;              // owned, or null
  ref_block_list_t *kept_blocks;        // owned, or null
};

// Builds the length groups, checks the read lengths (which may end the
// process) and creates the progress record and the worker records. meter
// (or null) is the meter the whole run reports to.
map_run_t *map_run_new(const map_run_settings_t *settings, seq_db_t *reads, seq_db_t *const *read_dbs,
                       const seq_file_info_list_t *read_files, paired_setting_t *const *read_settings,
                       int32_t file_count, seq_db_t *references, int32_t reference_count,
                       const int32_t *reference_lengths, int32_t longest_reference, int32_t max_pair_distance,
                       progress_meter_t *meter);
// Maps every group and writes one record per read to output, in read order.
void map_run_execute(map_run_t *run, FILE *output);
// Frees what the run owns (null allowed); returns null.
map_run_t *map_run_free(map_run_t *run);
