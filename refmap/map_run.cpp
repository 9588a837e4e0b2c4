#include "refmap/map_run.h"

#include <algorithm>

#include "common/memory.h"
#include "common/progress_meter.h"
#include "refmap/hit_hash.h"
#include "refmap/length_group.h"
#include "refmap/map_batch.h"
#include "refmap/map_context.h"
#include "refmap/map_pipeline.h"
#include "refmap/map_result.h"
#include "refmap/map_worker.h"
#include "refmap/merge_writer.h"
#include "refmap/ref_block.h"
#include "refmap/ref_index.h"
#include "refmap/seed_mask.h"
#include "refmap/seed_set.h"
#include "seqio/seq_db.h"

namespace {

// A spare index for the next build, or null when there is none.
ref_index_t *take_spare_index(map_run_t *run) {
  return run->spare_count > 0 ? run->spare_indexes[--run->spare_count] : nullptr;
}

// Keeps an index that is no longer used for its storage (null allowed).
void keep_spare_index(map_run_t *run, ref_index_t *index) {
  if (index == nullptr) return;
  run->spare_indexes = static_cast<ref_index_t **>(
      ryx_realloc(run->spare_indexes, sizeof(ref_index_t *) * static_cast<size_t>(run->spare_count + 1)));
  run->spare_indexes[run->spare_count++] = index;
}

// The block of the level before when blocks' first block lays out the
// same pieces, repacked for it (the same bytes and random draws as a fresh
// pack); otherwise null, and the kept block is dropped.
ref_block_t *take_kept_block(map_run_t *run, const ref_block_list_t *blocks) {
  ref_block_t *block = run->kept_block;
  run->kept_block = nullptr;
  if (block == nullptr) return nullptr;
  if (blocks->block_count == 0 || !ref_block_desc_same_layout(block->desc, blocks->blocks[0])) {
    ref_block_free(block);
    return nullptr;
  }
  ref_block_repack(block, blocks->blocks[0]);
  return block;
}

// Keeps a level's last block and its list for the next level.
void keep_block(map_run_t *run, ref_block_t *block, ref_block_list_t *blocks) {
  ref_block_free(run->kept_block);
  run->kept_block = block;
  ref_block_list_free(run->kept_blocks);
  run->kept_blocks = blocks;
}

// Share of a group's progress taken by mapping; writing takes the rest.
constexpr double kMappingShare = 0.95;
// Work units of the progress record: block positions x reads / 10^9.
constexpr double kWorkScale = 1e-9;

// Seed start lists of a designed level for the hit tables: per mask its
// placement count followed by its start offsets.
uint32_t **seed_lists_new(const seed_set_t *set) {
  auto **lists = static_cast<uint32_t **>(ryx_malloc(sizeof(uint32_t *) * set->pattern_count));
  for (int32_t p = 0; p < set->pattern_count; p++) {
    const seed_pattern_t *pattern = &set->patterns[p];
    lists[p] = static_cast<uint32_t *>(ryx_malloc(sizeof(uint32_t) * (pattern->placement_count + 1)));
    lists[p][0] = static_cast<uint32_t>(pattern->placement_count);
    for (int32_t j = 0; j < pattern->placement_count; j++) lists[p][j + 1] = static_cast<uint32_t>(pattern->starts[j]);
  }
  return lists;
}

uint32_t **seed_lists_free(uint32_t **lists, int32_t count) {
  if (lists == nullptr) return nullptr;
  for (int32_t p = 0; p < count; p++) ryx_free(lists[p]);
  ryx_free(lists);
  return nullptr;
}

seed_mask_t *mask_of(const seed_pattern_t *pattern) {
  seed_mask_t *mask = seed_mask_parse(pattern->mask);
  mask->colour = pattern->colour;
  return mask;
}

// One length class of a group while it is mapped.
struct class_plan_t {
  int32_t lower, upper;
  seed_set_t *sets;
  int32_t level_count;
  int32_t reads;  // histogram count of the class
};

// Progress weight of level v of a class: its mapping passes and its index
// builds (one per mask, one more for a mate index).
double level_weight(const class_plan_t *plan, int32_t v, int32_t paired) {
  const int32_t indexes = plan->sets[v].pattern_count + ((paired && v > 0) ? 1 : 0);
  return plan->reads * 1e-6 / (v + 1) + indexes;
}

// Everything the blocks of one level need.
struct level_job_t {
  map_run_t *run;
  const length_group_t *group;
  const class_plan_t *plan;
  int32_t level;
  const seed_set_t *set;
  uint32_t *const *lists;        // this level's start lists, or null for the extra level
  const seed_set_t *first_set;   // the class's first level
  uint32_t *const *first_lists;  // its start lists (mate tables)
  double expected_reads;
  double progress_from;          // this level's share of the group's mapping progress
  double progress_width;
};

// Maps the context over every block of one level; returns the context of
// the next level (null after the last level).
map_context_t *map_level(const level_job_t *job, map_context_t *context) {
  map_run_t *run = job->run;
  const map_run_settings_t &settings = run->settings;
  const seed_set_t *set = job->set;
  const int32_t bound = job->group->length_bound;
  const int32_t paired = job->group->paired;
  const bool mate_index = paired && job->level > 0;
  const int32_t index_count = set->pattern_count + (mate_index ? 1 : 0);
  const bool last_level = job->level == job->plan->level_count - 1;

  const int64_t block_size = map_block_size(run->memory_base, index_count, settings.block_size);
  const int32_t spacer = 2 * bound + 128;
  const int64_t overlap = static_cast<int64_t>(run->max_pair_distance) + 6 * bound;
  ref_block_list_t *blocks =
      ref_block_list_build(run->reference_count, run->reference_lengths, spacer, overlap, block_size);
  int64_t total_length = 0;
  for (int32_t z = 0; z < blocks->block_count; z++) total_length += blocks->blocks[z]->length;

  auto **masks = static_cast<seed_mask_t **>(ryx_malloc(sizeof(seed_mask_t *) * set->pattern_count));
  for (int32_t p = 0; p < set->pattern_count; p++) masks[p] = mask_of(&set->patterns[p]);
  seed_mask_t *mate_mask = mate_index ? mask_of(&job->first_set->patterns[0]) : nullptr;
  auto **indexes = static_cast<ref_index_t **>(ryx_calloc(sizeof(ref_index_t *) * set->pattern_count));
  const double index_share = index_count / level_weight(job->plan, job->level, paired);

  map_context_t *next = nullptr;
  ref_block_t *kept = take_kept_block(run, blocks);
  ref_block_prefetch_t *prefetch = blocks->block_count > 0 && kept == nullptr
                                       ? ref_block_prefetch_start(blocks->blocks[0], run->references)
                                       : nullptr;
  double done_length = 0;
  for (int32_t z = 0; z < blocks->block_count; z++) {
    ref_block_t *block = z == 0 && kept != nullptr ? kept : ref_block_prefetch_join(prefetch);
    prefetch = z + 1 < blocks->block_count ? ref_block_prefetch_start(blocks->blocks[z + 1], run->references)
                                           : nullptr;
    const bool last_block = z + 1 == blocks->block_count;

    // This block's share of the level, first its index builds, then its pass.
    const double from = job->progress_from + job->progress_width * done_length / std::max<int64_t>(total_length, 1);
    done_length += static_cast<double>(block->length);
    const double to = job->progress_from + job->progress_width * done_length / std::max<int64_t>(total_length, 1);
    progress_meter_set_range(run->group_meter, run->step_meter, from * kMappingShare, to * kMappingShare);

    for (int32_t p = 0; p < set->pattern_count; p++) {
      progress_meter_set_range(run->step_meter, run->part_meter, index_share * p / index_count,
                               index_share * (p + 1) / index_count);
      indexes[p] = ref_index_build_reusing(block, masks[p], settings.threads, run->part_meter, take_spare_index(run));
    }
    ref_index_t *mate = nullptr;
    if (mate_index) {
      progress_meter_set_range(run->step_meter, run->part_meter, index_share * (index_count - 1) / index_count,
                               index_share);
      mate = ref_index_build_reusing(block, mate_mask, settings.threads, run->part_meter, take_spare_index(run));
    }

    for (int32_t w = 0; w < settings.threads; w++) {
      map_worker_params_t *worker = run->workers[w];
      worker->block = block;
      if (!set->extra) {
        worker->hits = hit_hash_new_with_lists(indexes, set->pattern_count, job->lists);
        worker->ungapped_scorer = 1;
      } else {
        worker->hits = hit_hash_new_checked(indexes, set->pattern_count, 1, nullptr);
        worker->ungapped_scorer = 0;
      }
      worker->gapped = settings.gapped && job->level > 0;
      worker->score_limit = set->score_limit;
      worker->min_query_length = set->min_length;
      worker->last_block = last_block;
      worker->last_level = last_level;
      worker->mate_hits = nullptr;
      worker->mate_score_limit = job->first_set->score_limit;
      if (paired && job->level > 0) {
        worker->pair_hit_cap = 0;
        worker->mate_hits = hit_hash_new_with_lists(&mate, 1, job->first_lists);
      } else {
        worker->pair_hit_cap = map_first_level_pair_cap(settings.report_limit);
      }
    }

    progress_meter_set_range(run->step_meter, run->part_meter, index_share, 1.0);
    map_progress_reset(run->progress, static_cast<double>(block->length) * kWorkScale * job->expected_reads);
    const int32_t next_pass = last_block && !last_level;
    map_context_t *returned = map_pipeline_run(context, next_pass, last_block, settings.threads, map_batch,
                                               reinterpret_cast<void **>(run->workers));
    if (next_pass) next = returned;

    for (int32_t w = 0; w < settings.threads; w++) {
      map_worker_params_t *worker = run->workers[w];
      worker->hits = hit_hash_free(worker->hits);
      worker->mate_hits = hit_hash_free(worker->mate_hits);
      worker->block = nullptr;
    }
    keep_spare_index(run, mate);
    for (int32_t p = 0; p < set->pattern_count; p++) {
      keep_spare_index(run, indexes[p]);
      indexes[p] = nullptr;
    }
    if (last_block) {
      keep_block(run, block, blocks);
    } else {
      ref_block_free(block);
    }
  }
  ryx_free(indexes);
  seed_mask_free(mate_mask);
  for (int32_t p = 0; p < set->pattern_count; p++) seed_mask_free(masks[p]);
  ryx_free(masks);
  if (blocks->block_count == 0) ref_block_list_free(blocks);
  return next;
}

// Writes one unmatched record per read of a group that holds no read of
// mappable length: the file must hold a record for every read it counts.
void write_unmapped_group(const length_group_t *group, map_writer_context_t *writer) {
  for (int32_t r = group->first_read; r < group->end_read; r++)
    map_result_write_read(nullptr, nullptr, kMapReadUnpaired, writer);
}

// Frees the spare indexes and the kept block.
void release_spares(map_run_t *run) {
  for (int32_t i = 0; i < run->spare_count; i++) ref_index_free(run->spare_indexes[i]);
  run->spare_count = 0;
  keep_block(run, nullptr, nullptr);
}

void map_group(map_run_t *run, const length_group_t *group, map_writer_context_t *writer, bool last_group) {
  const map_run_settings_t &settings = run->settings;
  const double total = std::max(run->total_reads, 1);
  progress_meter_set_range(run->meter, run->group_meter, group->first_read / total, group->end_read / total);
  if (group->mappable == 0) {
    write_unmapped_group(group, writer);
    progress_meter_update(run->group_meter, 1.0);
    return;
  }

  const int32_t first_class = length_group_first_class(group);
  const int32_t last_class = length_group_last_class(group);
  const int32_t class_count = last_class - first_class + 1;
  auto *plans = static_cast<class_plan_t *>(ryx_calloc(sizeof(class_plan_t) * class_count));
  double total_weight = 0;
  for (int32_t k = 0; k < class_count; k++) {
    class_plan_t *plan = &plans[k];
    plan->lower = kLengthClassBounds[first_class + k];
    plan->upper = kLengthClassBounds[first_class + k + 1];
    plan->sets = seed_sets_choose(group->shortest, group->length_bound, plan->lower, plan->upper,
                                  settings.move_limit, settings.mismatch_cost, settings.colour_cost,
                                  settings.score_limit, settings.align_mode, settings.gapped, &plan->level_count);
    plan->reads = length_group_count(group, plan->lower, plan->upper);
    // A class without reads maps nothing: its levels are never run.
    if (plan->reads == 0) continue;
    for (int32_t v = 0; v < plan->level_count; v++) total_weight += level_weight(plan, v, group->paired);
  }
  if (total_weight <= 0) total_weight = 1;

  const int32_t max_contexts = 1 + [&] {
    int32_t n = 0;
    for (int32_t k = 0; k < class_count; k++) n += plans[k].level_count;
    return n;
  }();
  auto **contexts = static_cast<map_context_t **>(ryx_malloc(sizeof(map_context_t *) * max_contexts));
  int32_t context_count = 0;
  const int32_t group_reads = group->end_read - group->first_read;
  int64_t earlier_histogram = 0, earlier_taken = 0;
  double weight_done = 0;
  for (int32_t k = 0; k < class_count; k++) {
    class_plan_t *plan = &plans[k];
    if (plan->reads == 0) {
      plan->sets = seed_sets_free(plan->sets, plan->level_count);
      continue;
    }
    map_context_t *context =
        map_context_new(run->reads, group->first_read, group->end_read, kMapBatchSize, run->reference_count,
                        run->longest_reference, settings.gapped, settings.report_limit, kMapShortestLength,
                        kMapLengthBound, plan->lower, plan->upper, run->file_count, run->read_counts,
                        run->read_settings);
    contexts[context_count++] = context;
    map_context_t *first_context = context;
    // Reads taken by earlier classes are not this class's; the estimate
    // only scales the progress.
    const double left = static_cast<double>(group_reads - earlier_histogram);
    double expected = plan->reads;
    if (left > 0) expected *= static_cast<double>(group_reads - earlier_taken) / left;
    double class_end = weight_done;
    for (int32_t v = 0; v < plan->level_count; v++) class_end += level_weight(plan, v, group->paired);
    uint32_t **first_lists = nullptr;
    for (int32_t v = 0; v < plan->level_count && context != nullptr; v++) {
      // Once every read has hits, the later levels have nothing to map;
      // their progress share is passed over.
      if (v > 0 && context->reads_taken == 0) break;
      const seed_set_t *set = &plan->sets[v];
      uint32_t **lists = set->extra ? nullptr : seed_lists_new(set);
      if (v == 0) first_lists = lists;
      if (v > 0) expected = context->reads_taken;
      level_job_t job{};
      job.run = run;
      job.group = group;
      job.plan = plan;
      job.level = v;
      job.set = set;
      job.lists = lists;
      job.first_set = &plan->sets[0];
      job.first_lists = first_lists;
      job.expected_reads = expected;
      const double weight = level_weight(plan, v, group->paired);
      job.progress_from = weight_done / total_weight;
      job.progress_width = weight / total_weight;
      weight_done += weight;
      map_context_t *next = map_level(&job, context);
      if (v > 0) seed_lists_free(lists, set->pattern_count);
      if (next != nullptr) contexts[context_count++] = next;
      context = next;
    }
    weight_done = class_end;
    earlier_histogram += plan->reads;
    earlier_taken += first_context->reads_taken;
    seed_lists_free(first_lists, plan->sets[0].pattern_count);
    plan->sets = seed_sets_free(plan->sets, plan->level_count);
  }
  ryx_free(plans);

  // No pass follows the last group's merge: its indexes and block are
  // given back before the merge loads the results, which would otherwise
  // stand on top of them.
  if (last_group) release_spares(run);
  progress_meter_set_range(run->group_meter, run->step_meter, kMappingShare, 1.0);
  writer->meter = run->step_meter;
  writer->last_shown = 0;
  map_results_merge_write(contexts, context_count, writer, settings.threads, kMergeWindowReads);
  ryx_free(contexts);
  progress_meter_update(run->group_meter, 1.0);
}

}  // namespace

map_run_t *map_run_new(const map_run_settings_t *settings, seq_db_t *reads, seq_db_t *const *read_dbs,
                       const seq_file_info_list_t *read_files, paired_setting_t *const *read_settings,
                       int32_t file_count, seq_db_t *references, int32_t reference_count,
                       const int32_t *reference_lengths, int32_t longest_reference, int32_t max_pair_distance,
                       progress_meter_t *meter) {
  auto *run = static_cast<map_run_t *>(ryx_calloc(sizeof(map_run_t)));
  run->settings = *settings;
  if (run->settings.threads < 1) run->settings.threads = 1;
  run->reads = reads;
  run->read_dbs = read_dbs;
  run->read_files = read_files;
  run->read_settings = read_settings;
  run->file_count = file_count;
  run->references = references;
  run->reference_count = reference_count;
  run->reference_lengths = reference_lengths;
  run->longest_reference = longest_reference;
  run->max_pair_distance = max_pair_distance;
  run->meter = meter;
  run->read_counts = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * (file_count > 0 ? file_count : 1)));
  for (int32_t i = 0; i < file_count; i++) {
    run->read_counts[i] = static_cast<int32_t>(read_dbs[i]->sequence_count);
    run->total_reads += run->read_counts[i];
  }

  run->groups = length_groups_build(read_dbs, read_settings, read_files, file_count, &run->group_count,
                                    kLengthGroupReadLimit, kLengthGroupBuckets);
  read_lengths_check(read_dbs, file_count, read_files, 1);
  run->memory_base = map_memory_base(get_phys_mem_size_mb(), settings->memory_fraction);

  run->group_meter = progress_meter_new_child(meter, 0, 1);
  run->step_meter = progress_meter_new_child(run->group_meter, 0, 1);
  run->part_meter = progress_meter_new_child(run->step_meter, 0, 1);
  run->progress = map_progress_new(run->part_meter);
  const int32_t n = run->settings.threads;
  run->workers = static_cast<map_worker_params_t **>(ryx_malloc(sizeof(map_worker_params_t *) * n));
  for (int32_t w = 0; w < n; w++) {
    map_worker_params_t *worker = map_worker_new();
    worker->reference_lengths = reference_lengths;
    worker->mismatch_cost = static_cast<int16_t>(settings->mismatch_cost);
    worker->gap_cost = static_cast<int16_t>(settings->gap_cost);
    worker->deletion_cost = static_cast<int16_t>(settings->deletion_cost);
    worker->colour_cost = static_cast<int16_t>(settings->colour_cost);
    worker->align_mode = settings->align_mode;
    worker->file_count = file_count;
    worker->read_counts = run->read_counts;
    worker->progress = run->progress;
    worker->forward_only = settings->forward_only;
    worker->backward_only = settings->backward_only;
    run->workers[w] = worker;
  }
  return run;
}

void map_run_execute(map_run_t *run, FILE *output) {
  map_writer_context_t *writer = map_writer_context_new(run->reference_count, run->longest_reference,
                                                        run->settings.repeat_ignore, run->step_meter, output);
  for (int32_t g = 0; g < run->group_count; g++) map_group(run, &run->groups[g], writer, g + 1 == run->group_count);
  map_writer_context_free(writer);
}

map_run_t *map_run_free(map_run_t *run) {
  if (run == nullptr) return nullptr;
  for (int32_t w = 0; run->workers != nullptr && w < run->settings.threads; w++) map_worker_free(run->workers[w]);
  ryx_free(run->workers);
  map_progress_free(run->progress);
  progress_meter_free(run->part_meter);
  progress_meter_free(run->step_meter);
  progress_meter_free(run->group_meter);
  length_groups_free(run->groups);
  ryx_free(run->read_counts);
  release_spares(run);
  ryx_free(run->spare_indexes);
  ryx_free(run);
  return nullptr;
}
