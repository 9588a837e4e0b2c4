// Length groups and length classes of the hash mapper, the read-length
// check and the reference block size.
//
// The read-file entries of a run are cut, in command-line order, into
// length groups of consecutive files: a group keeps taking files while it
// holds at most a quarter of the read limit of mappable reads or while the
// next file's reads keep it within the limit, so that the temporary data of
// one group stays bounded. A group is mapped length class by length class:
// the boundaries 15, 22, 30, 40 and 56 cut the mappable lengths into the
// classes [15,22), [22,30), [30,40) and [40,56), and a group maps those its
// lengths span.
//
// length_groups_build returns an array freed with length_groups_free.
// Nothing here is shared between threads.
#pragma once

#include <cstdint>

struct paired_setting_t;
struct seq_db_t;
struct seq_file_info_list_t;

// Reads per group before a new file opens a new group.
constexpr int32_t kLengthGroupReadLimit = 100000000;
// Histogram buckets: lengths 0 .. 55.
constexpr int32_t kLengthGroupBuckets = 56;
// Class boundaries; class k is [kLengthClassBounds[k], kLengthClassBounds[k + 1]).
constexpr int32_t kLengthClassCount = 4;
constexpr int32_t kLengthClassBounds[kLengthClassCount + 1] = {15, 22, 30, 40, 56};
// Longest read the hash mapper maps.
constexpr int32_t kShortReadMaxLength = 55;
// Longest read of the long-read setting of the length check.
constexpr int32_t kLongReadMaxLength = 8000;

struct length_group_t {
  int32_t first_read;                      // index of the group's first read over all files
  int32_t end_read;                        // one past its last read
  int32_t mappable;                        // reads of length 15 .. 55
  int32_t paired;                          // some file of the group has a paired setting
  int32_t histogram[kLengthGroupBuckets];  // reads per length
  int32_t shortest;                        // shortest mappable length (the bucket count when none)
  int32_t length_bound;                    // longest mappable length + 1 (0 when none)
};

// Groups over file_count read-file entries: dbs[i] is entry i's database
// (an interleaved database for a pair entry), settings[i] its paired
// setting or null (settings may be null). Writes the group count.
length_group_t *length_groups_build(seq_db_t *const *dbs, paired_setting_t *const *settings,
                                    const seq_file_info_list_t *files, int32_t file_count, int32_t *out_count,
                                    int32_t read_limit, int32_t buckets);
// Frees the array (null allowed); returns null.
length_group_t *length_groups_free(length_group_t *groups);

// Adds one read-file entry to a group: the lengths of db (and of second,
// the other half of an interleaved pair, when not null) from bucket first
// to bucket buckets - 1, and all its reads to the group's read range; sets
// the paired flag when setting is not null.
void length_group_add_file(length_group_t *group, seq_db_t *db, seq_db_t *second, int32_t first, int32_t buckets,
                           const paired_setting_t *setting);
// The same for one database, without touching the paired flag.
void length_group_add_db(length_group_t *group, seq_db_t *db, int32_t first, int32_t buckets);

// Checks the shortest and longest read over every file (both halves of a
// pair). All reads shorter than 15: "All reads are too short to be mapped.
// Minimum read length allowed is 15 bp.\n", all longer than the maximum
// (55 with short_reads set, else 8000): "All reads are too long to be
// mapped. Maximum read length allowed is %d bp.\n", both on standard error
// with status 1; some reads outside the range only warn. Files without
// reads are passed over.
void read_lengths_check(seq_db_t *const *dbs, int32_t file_count, const seq_file_info_list_t *files,
                        int32_t short_reads);

// First and last class index a group maps, from its shortest length and
// its length bound.
int32_t length_group_first_class(const length_group_t *group);
int32_t length_group_last_class(const length_group_t *group);
// Reads of the group whose length lies in [lower, upper).
int32_t length_group_count(const length_group_t *group, int32_t lower, int32_t upper);

// Memory base of the block size: ((int)(physical MiB x fraction x 2/3) -
// 400) / 6, negative when memory is short.
int32_t map_memory_base(int64_t physical_mb, double fraction);
// Block size in reference positions for a level with mask_count indexes
// (the mate index included): the option when positive, else
// clamp(base / mask_count, 8, 400) x 2^20.
int64_t map_block_size(int32_t memory_base, int32_t mask_count, int64_t option);
