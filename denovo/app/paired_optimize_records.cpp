// Records of the paired optimisation stage: results, contig paths, the
// context and the job that collects results by kind.
#include "denovo/app/paired_optimize_records.h"

#include <cstring>

#include "common/memory.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_build.h"

extern "C" {

paired_optimize_result_t *paired_result_new(int32_t kind, int32_t field1, int32_t field2, int32_t field3) {
  auto *result = static_cast<paired_optimize_result_t *>(ryx_calloc(sizeof(paired_optimize_result_t)));
  result->kind = kind;
  if (kind == kPairedResultEdgeRemoval) {
    result->removal = {static_cast<oriented_id_t>(field1), static_cast<oriented_id_t>(field2),
                       static_cast<oriented_id_t>(field3)};
  } else {
    result->link = {static_cast<oriented_id_t>(field1), static_cast<oriented_id_t>(field2), field3};
  }
  return result;
}

paired_optimize_result_t *paired_result_new_edge_removal(oriented_id_t edge, oriented_id_t node, oriented_id_t target) {
  return paired_result_new(kPairedResultEdgeRemoval, static_cast<int32_t>(edge), static_cast<int32_t>(node),
                           static_cast<int32_t>(target));
}

paired_optimize_result_t *paired_result_new_scaffold_link(oriented_id_t from, oriented_id_t to, int32_t gap) {
  return paired_result_new(kPairedResultScaffoldLink, static_cast<int32_t>(from), static_cast<int32_t>(to), gap);
}

paired_optimize_result_t *paired_result_new_contig_path(contig_path_t *path) {
  auto *result = static_cast<paired_optimize_result_t *>(ryx_calloc(sizeof(paired_optimize_result_t)));
  result->kind = kPairedResultContigPath;
  result->path = path;
  return result;
}

paired_optimize_result_t paired_result_search_key(oriented_id_t from, oriented_id_t to, int32_t gap) {
  paired_optimize_result_t key{};
  key.kind = kPairedResultSearchKey;
  key.link = {from, to, gap};
  return key;
}

paired_optimize_result_t *paired_result_free(paired_optimize_result_t *result) {
  if (result == nullptr) return nullptr;
  if (result->kind == kPairedResultContigPath) contig_path_free(result->path);
  ryx_free(result);
  return nullptr;
}

int paired_result_list_index(int32_t kind) {
  if (kind & 1) return 0;
  if (kind & 6) return 1;
  if (kind & 8) return 2;
  return -1;
}

contig_path_t *contig_path_new(int32_t count, int32_t distance, paired_link_t *link) {
  auto *path = static_cast<contig_path_t *>(ryx_malloc(sizeof(contig_path_t)));
  path->count = count;
  path->ids = static_cast<oriented_id_t *>(ryx_malloc(sizeof(oriented_id_t) * static_cast<size_t>(count > 0 ? count : 1)));
  path->distance = distance;
  path->link = link;
  return path;
}

contig_path_t *contig_path_new_first(oriented_id_t first, int32_t distance, paired_link_t *link) {
  contig_path_t *path = contig_path_new(1, distance, link);
  path->ids[0] = first;
  return path;
}

contig_path_t *contig_path_copy(const contig_path_t *path) {
  if (path == nullptr) return nullptr;
  contig_path_t *copy = contig_path_new(path->count, path->distance, path->link);
  if (path->count > 0) memcpy(copy->ids, path->ids, sizeof(oriented_id_t) * static_cast<size_t>(path->count));
  return copy;
}

contig_path_t *contig_path_free(contig_path_t *path) {
  if (path == nullptr) return nullptr;
  ryx_free(path->ids);
  ryx_free(path);
  return nullptr;
}

void contig_path_print(FILE *out, const contig_path_t *path) {
  for (int32_t i = 0; i < path->count; i++) fprintf(out, i == 0 ? "%8.8x" : " -> %8.8x", path->ids[i]);
  fprintf(out, " (%i)\n", path->distance);
}

void contig_path_print_set(FILE *out, contig_path_t *const *paths, int32_t count, int contig_form) {
  if (paths == nullptr) {
    fprintf(out, "(NULL)\n");
    return;
  }
  for (int32_t i = 0; i < count; i++) {
    fprintf(out, contig_form ? "Contig path %4.4x: " : "Path %4.4x: ", static_cast<unsigned>(i));
    contig_path_print(out, paths[i]);
  }
}

paired_context_t *paired_context_new(fragment_graph_t *graph, read_table_t *table, contig_info_t *contigs) {
  auto *context = static_cast<paired_context_t *>(ryx_malloc(sizeof(paired_context_t)));
  context->graph = graph;
  context->table = table;
  context->contigs = contigs;
  return context;
}

contig_info_t *paired_context_take_contig_info(paired_context_t *context) {
  contig_info_t *contigs = context->contigs;
  context->contigs = nullptr;
  return contigs;
}

paired_context_t *paired_context_free(paired_context_t *context) {
  if (context == nullptr) return nullptr;
  contig_info_free(context->contigs);
  ryx_free(context);
  return nullptr;
}

int32_t paired_short_library(const read_table_t *table) {
  if (table == nullptr || table->pair_dist_info == nullptr) return 0;
  for (int32_t i = 0; i < table->file_count; i++) {
    const pair_dist_info_t *info = table->pair_dist_info[i];
    if (info == nullptr || info->setting == nullptr) continue;
    // 64-bit sum: settings come from the command line and may be large.
    const int64_t span = static_cast<int64_t>(info->setting->min_distance) + info->setting->max_distance;
    if (span <= kPairedShortLibrarySpan) return 1;
  }
  return 0;
}

paired_optimize_job_t *paired_optimize_job_new(fragment_graph_t *graph, read_table_t *table, int32_t bubble_size,
                                               int32_t scaffolding) {
  auto *job = static_cast<paired_optimize_job_t *>(ryx_malloc(sizeof(paired_optimize_job_t)));
  job->edge_removals = array_list_new(sizeof(paired_optimize_result_t *));
  job->scaffold_links = array_list_new(sizeof(paired_optimize_result_t *));
  job->contig_paths = array_list_new(sizeof(paired_optimize_result_t *));
  fragment_graph_set_bubbles(graph, table != nullptr ? table->read_info : nullptr, bubble_size, bubble_size / 5, 1);
  job->context = paired_context_new(graph, table, contig_info_build(graph, 1, 1));
  job->short_library = paired_short_library(table);
  job->bubble_size = bubble_size;
  job->scaffolding = scaffolding;
  return job;
}

static array_list_t *free_result_list(array_list_t *list) {
  if (list == nullptr) return nullptr;
  const uint64_t n = array_list_get_count(list);
  for (uint64_t i = 0; i < n; i++) paired_result_free(*static_cast<paired_optimize_result_t **>(array_list_get_item(list, i)));
  return array_list_free(list);
}

paired_optimize_job_t *paired_optimize_job_free(paired_optimize_job_t *job) {
  if (job == nullptr) return nullptr;
  if (job->context != nullptr && job->context->graph != nullptr) fragment_graph_set_other_nodes(job->context->graph);
  paired_context_free(job->context);
  free_result_list(job->edge_removals);
  free_result_list(job->scaffold_links);
  free_result_list(job->contig_paths);
  ryx_free(job);
  return nullptr;
}

int paired_optimize_job_add_result(paired_optimize_job_t *job, paired_optimize_result_t *result) {
  array_list_t *list = nullptr;
  switch (paired_result_list_index(result->kind)) {
    case 0: list = job->edge_removals; break;
    case 1: list = job->scaffold_links; break;
    case 2: list = job->contig_paths; break;
    default:
      // Nothing reads a result no list takes; the job would otherwise lose it.
      paired_result_free(result);
      return 0;
  }
  array_list_add(list, &result);
  return 1;
}

}  // extern "C"
