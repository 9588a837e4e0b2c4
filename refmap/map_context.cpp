#include "refmap/map_context.h"

#include <cstring>

#include "common/chunk_arena.h"
#include "common/memory.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "refmap/read_batch.h"

namespace {

// Batches a context over [first, end) can hold: full batches plus one
// partial batch per read file, since a batch never spans two files.
int32_t batch_bound(const map_context_t *context) {
  const int64_t reads = context->end_read - context->first_read;
  int32_t files = 0;
  int64_t start = 0;
  for (int32_t i = 0; i < context->file_count; i++) {
    const int64_t end = start + context->file_read_counts[i];
    if (end > context->first_read && start < context->end_read) files++;
    start = end;
  }
  return static_cast<int32_t>((reads + context->batch_size - 1) / context->batch_size) + files;
}

// File count and batches per file of the temporary-file plan.
void plan_temp_files(map_context_t *context) {
  const int32_t bound = batch_bound(context);
  int32_t files = (bound + 9) / 10;
  if (files > kMapContextMaxTempFiles) files = kMapContextMaxTempFiles;
  if (files < 1) files = 1;
  context->file_limit = files;
  context->batches_per_file = (bound + files - 1) / files;
  if (context->batches_per_file < 1) context->batches_per_file = 1;
}

FILE **new_file_list() {
  return static_cast<FILE **>(ryx_calloc(sizeof(FILE *) * kMapContextMaxTempFiles));
}

void close_temp_file(FILE *file) {
  if (file != nullptr && fclose(file) != 0) {
    fputs("Error closing temporary file\n", stderr);
    ryx_exit(1);
  }
}

void close_all(FILE **files) {
  if (files == nullptr) return;
  for (int32_t i = 0; i < kMapContextMaxTempFiles; i++) {
    close_temp_file(files[i]);
    files[i] = nullptr;
  }
}

}  // namespace

map_context_t *map_context_new(seq_db_t *reads, int32_t first_read, int32_t end_read, int32_t batch_size,
                               int32_t reference_count, int32_t longest_reference, int32_t prescore_flag,
                               int32_t report_limit, int32_t shortest_length, int32_t length_bound,
                               int32_t class_lower, int32_t class_upper, int32_t file_count,
                               const int32_t *read_counts, paired_setting_t *const *settings) {
  auto *context = static_cast<map_context_t *>(ryx_calloc(sizeof(map_context_t)));
  context->reads = reads;
  context->first_read = first_read;
  context->end_read = end_read;
  context->batch_size = batch_size;
  context->reference_count = reference_count;
  context->longest_reference = longest_reference;
  context->prescore_flag = prescore_flag;
  context->report_limit = report_limit;
  context->shortest_length = shortest_length;
  context->length_bound = length_bound;
  context->class_lower = class_lower;
  context->class_upper = class_upper;
  context->file_count = file_count;
  context->file_read_counts = static_cast<int32_t *>(ryx_calloc(sizeof(int32_t) * static_cast<size_t>(file_count)));
  context->file_settings =
      static_cast<paired_setting_t **>(ryx_calloc(sizeof(paired_setting_t *) * static_cast<size_t>(file_count)));
  for (int32_t i = 0; i < file_count; i++) {
    context->file_read_counts[i] = read_counts[i];
    context->file_settings[i] = settings != nullptr ? settings[i] : nullptr;
  }
  context->taken = bit_set_new(end_read - first_read);
  context->outputs = new_file_list();
  context->first_pass = 1;
  plan_temp_files(context);
  map_context_reset_cursor(context);
  return context;
}

map_context_t *map_context_new_next_pass(const map_context_t *context) {
  map_context_t *next = map_context_new(context->reads, context->first_read, context->end_read, context->batch_size,
                                        context->reference_count, context->longest_reference, context->prescore_flag,
                                        context->report_limit, context->shortest_length, context->length_bound,
                                        context->class_lower, context->class_upper, context->file_count,
                                        context->file_read_counts, context->file_settings);
  next->first_pass = 0;
  return next;
}

void map_context_find_file(map_context_t *context) {
  int32_t start = 0;
  int32_t i = 0;
  while (i < context->file_count && start + context->file_read_counts[i] <= context->cursor) {
    start += context->file_read_counts[i];
    i++;
  }
  context->current_file = i;
  context->file_offset = start;
  context->file_end = i < context->file_count ? start + context->file_read_counts[i] : start;
}

void map_context_reset_cursor(map_context_t *context) {
  context->cursor = context->first_read;
  map_context_find_file(context);
  context->batches_read = 0;
  context->output_count = 0;
  context->batches_written = 0;
}

void map_context_swap_temp_files(map_context_t *context, int32_t last) {
  close_all(context->inputs);
  ryx_free(context->inputs);
  for (int32_t i = 0; i < kMapContextMaxTempFiles; i++) {
    FILE *file = context->outputs[i];
    if (file == nullptr) continue;
    if (fflush(file) != 0) {
      fputs("Error writing temporary file\n", stderr);
      ryx_exit(1);
    }
    rewind(file);
  }
  context->inputs = context->outputs;
  context->input_count = context->output_count;
  context->total_batches = context->batches_written;
  context->outputs = last ? nullptr : new_file_list();
  map_context_reset_cursor(context);
}

map_context_t *map_context_free(map_context_t *context) {
  if (context == nullptr) return nullptr;
  close_all(context->inputs);
  close_all(context->outputs);
  ryx_free(context->inputs);
  ryx_free(context->outputs);
  bit_set_free(context->taken);
  ryx_free(context->file_read_counts);
  ryx_free(context->file_settings);
  for (seq_scratch_t &scratch : context->scratch) seq_scratch_free(&scratch);
  ryx_free(context);
  return nullptr;
}

int32_t map_context_file_of_batch(const map_context_t *context, int32_t n) {
  const int32_t file = n / context->batches_per_file;
  return file < context->file_limit ? file : context->file_limit - 1;
}

int map_context_has_read(const map_context_t *context, int32_t read_index) {
  if (read_index < context->first_read || read_index >= context->end_read) return 0;
  return bit_set_get(context->taken, read_index - context->first_read);
}

void map_context_mark_read(map_context_t *context, int32_t read_index) {
  bit_set_set(context->taken, read_index - context->first_read);
}

read_batch_t *map_context_next_batch(map_context_t *context) {
  read_batch_t *batch = nullptr;
  if (context->first_pass) {
    while (batch == nullptr && context->cursor < context->end_read && context->current_file < context->file_count) {
      if (context->cursor >= context->file_end) {
        map_context_find_file(context);
        continue;
      }
      batch = context->file_settings[context->current_file] != nullptr ? read_batch_take_paired(context)
                                                                       : read_batch_take_unpaired(context);
      if (context->cursor >= context->file_end) map_context_find_file(context);
    }
  } else if (context->batches_read < context->total_batches) {
    batch = read_batch_load(context);
  }
  if (batch == nullptr) return nullptr;
  batch->sequence = context->batches_read++;
  return batch;
}

void map_context_flush_next_pass(map_context_t *next, read_batch_t *partial) {
  if (partial != nullptr) {
    read_batch_encode(next, partial, true);
    read_batch_write(next, partial, 0);
  }
  map_context_swap_temp_files(next, 0);
}
