#include "refmap/length_group.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_composite.h"
#include "seqio/seq_file_list.h"

namespace {

void group_init(length_group_t *group, int32_t first_read, int32_t buckets) {
  *group = length_group_t{};
  group->first_read = first_read;
  group->end_read = first_read;
  group->shortest = buckets;
}

// The halves of entry i: its database alone, or both parts of a pair.
void entry_parts(seq_db_t *const *dbs, const seq_file_info_list_t *files, int32_t i, seq_db_t **first,
                 seq_db_t **second) {
  if (files != nullptr && seq_file_info_is_pair(files->entries[i])) {
    *first = seq_db_get_part(dbs[i], 0);
    *second = seq_db_get_part(dbs[i], 1);
  } else {
    *first = dbs[i];
    *second = nullptr;
  }
}

}  // namespace

void length_group_add_db(length_group_t *group, seq_db_t *db, int32_t first, int32_t buckets) {
  const int32_t *histogram = seq_db_get_length_histogram(db);
  for (int32_t length = first; histogram != nullptr && length < buckets && length < kLengthGroupBuckets; length++) {
    const int32_t n = histogram[length];
    if (n == 0) continue;
    group->histogram[length] += n;
    group->mappable += n;
    if (length < group->shortest) group->shortest = length;
    if (length + 1 > group->length_bound) group->length_bound = length + 1;
  }
  group->end_read += static_cast<int32_t>(db->sequence_count);
}

void length_group_add_file(length_group_t *group, seq_db_t *db, seq_db_t *second, int32_t first, int32_t buckets,
                           const paired_setting_t *setting) {
  length_group_add_db(group, db, first, buckets);
  if (second != nullptr) length_group_add_db(group, second, first, buckets);
  if (setting != nullptr) group->paired = 1;
}

length_group_t *length_groups_build(seq_db_t *const *dbs, paired_setting_t *const *settings,
                                    const seq_file_info_list_t *files, int32_t file_count, int32_t *out_count,
                                    int32_t read_limit, int32_t buckets) {
  auto *groups =
      static_cast<length_group_t *>(ryx_malloc(sizeof(length_group_t) * (file_count > 0 ? file_count : 1)));
  int32_t count = 0;
  int32_t read_index = 0;
  for (int32_t i = 0; i < file_count; i++) {
    seq_db_t *first = nullptr, *second = nullptr;
    entry_parts(dbs, files, i, &first, &second);
    const int64_t entry_reads = first->sequence_count + (second != nullptr ? second->sequence_count : 0);
    bool joins = false;
    if (count > 0) {
      const length_group_t *current = &groups[count - 1];
      const int64_t held = current->end_read - current->first_read;
      joins = current->mappable <= read_limit / 4 || held + entry_reads <= read_limit;
    }
    if (!joins) group_init(&groups[count++], read_index, buckets);
    length_group_add_file(&groups[count - 1], first, second, kLengthClassBounds[0], buckets,
                          settings != nullptr ? settings[i] : nullptr);
    read_index += static_cast<int32_t>(entry_reads);
  }
  *out_count = count;
  return groups;
}

length_group_t *length_groups_free(length_group_t *groups) { return static_cast<length_group_t *>(ryx_free(groups)); }

void read_lengths_check(seq_db_t *const *dbs, int32_t file_count, const seq_file_info_list_t *files,
                        int32_t short_reads) {
  int32_t shortest = -1, longest = -1;
  for (int32_t i = 0; i < file_count; i++) {
    seq_db_t *parts[2];
    entry_parts(dbs, files, i, &parts[0], &parts[1]);
    for (seq_db_t *db : parts) {
      if (db == nullptr || db->sequence_count == 0) continue;
      const int32_t low = seq_db_get_min_length(db), high = seq_db_get_max_length(db);
      if (shortest < 0 || low < shortest) shortest = low;
      if (high > longest) longest = high;
    }
  }
  if (longest < 0) return;
  const int32_t maximum = short_reads ? kShortReadMaxLength : kLongReadMaxLength;
  if (longest < kLengthClassBounds[0]) {
    fputs("All reads are too short to be mapped. Minimum read length allowed is 15 bp.\n", stderr);
    ryx_exit(1);
  }
  if (shortest < kLengthClassBounds[0])
    fputs("Some reads are too short to be mapped. Minimum read length allowed is 15 bp.\n", stderr);
  if (shortest > maximum) {
    fprintf(stderr, "All reads are too long to be mapped. Maximum read length allowed is %d bp.\n", maximum);
    ryx_exit(1);
  }
  if (longest > maximum)
    fprintf(stderr, "Some reads are too long to be mapped. Maximum read length allows is %d bp.\n", maximum);
}

int32_t length_group_first_class(const length_group_t *group) {
  for (int32_t k = 0; k < kLengthClassCount; k++)
    if (group->shortest < kLengthClassBounds[k + 1]) return k;
  return kLengthClassCount - 1;
}

int32_t length_group_last_class(const length_group_t *group) {
  for (int32_t k = 0; k < kLengthClassCount; k++)
    if (kLengthClassBounds[k + 1] >= group->length_bound) return k;
  return kLengthClassCount - 1;
}

int32_t length_group_count(const length_group_t *group, int32_t lower, int32_t upper) {
  int32_t n = 0;
  for (int32_t length = lower; length < upper && length < kLengthGroupBuckets; length++) n += group->histogram[length];
  return n;
}

int32_t map_memory_base(int64_t physical_mb, double fraction) {
  const int32_t share = static_cast<int32_t>(static_cast<double>(physical_mb) * fraction * 2.0 / 3.0);
  return (share - 400) / 6;
}

int64_t map_block_size(int32_t memory_base, int32_t mask_count, int64_t option) {
  if (option > 0) return option;
  int32_t s = memory_base / (mask_count > 0 ? mask_count : 1);
  if (s >= 401) s = 400;
  if (s <= 7) s = 8;
  return static_cast<int64_t>(s) << 20;
}
