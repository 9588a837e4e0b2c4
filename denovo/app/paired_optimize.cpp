#include "denovo/app/paired_optimize.h"

#include <algorithm>
#include <vector>

#include "common/cpus.h"
#include "common/memory.h"
#include "common/thread_queue.h"
#include "denovo/app/paired_apply.h"
#include "denovo/app/scaffolding.h"

namespace {

paired_shared_t *shared_of(thread_args_t *worker) { return static_cast<paired_shared_t *>(worker->context); }

// A result goes to the worker's output queue, or straight into the job.
void emit(paired_optimize_job_t *job, thread_args_t *worker, paired_optimize_result_t *result) {
  if (worker != nullptr) {
    thread_queue_put(shared_of(worker)->arbiter, worker->output, result, 0);
  } else {
    paired_optimize_job_add_result(job, result);
  }
}

void evaluate_contig(paired_optimize_job_t *job, thread_args_t *worker, int32_t index) {
  const auto contig = static_cast<oriented_id_t>(index);
  paired_optimize_contig(job, worker, contig, nullptr, nullptr);
  paired_optimize_contig(job, worker, contig_info_reverse_contig(contig), nullptr, nullptr);
}

void *paired_optimize_producer(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  paired_shared_t *shared = shared_of(args);
  const paired_context_t *context = shared->job->context;
  const int32_t count = contig_info_get_contig_count(context->contigs);
  array_list_t *batch = array_list_new(sizeof(int32_t));
  int64_t length = 0;
  for (int32_t i = 0; i < count; i++) {
    if (!paired_contig_is_eligible(context, i)) continue;
    array_list_add(batch, &i);
    length += contig_info_get_contig_length(context->contigs, context->graph, static_cast<oriented_id_t>(i));
    if (length > kPairedBatchLength) {
      thread_queue_put(shared->arbiter, args->output, batch, 0);
      batch = array_list_new(sizeof(int32_t));
      length = 0;
      progress_meter_update(shared->meter, static_cast<double>(i) / count);
    }
  }
  if (array_list_get_count(batch) > 0) {
    thread_queue_put(shared->arbiter, args->output, batch, 0);
  } else {
    array_list_free(batch);
  }
  thread_queue_producer_done(shared->arbiter, args->output, 0);
  return nullptr;
}

void *paired_optimize_worker(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  paired_shared_t *shared = shared_of(args);
  while (auto *batch = static_cast<array_list_t *>(thread_queue_get(shared->arbiter, args->input, 0))) {
    const uint64_t n = array_list_get_count(batch);
    for (uint64_t i = 0; i < n; i++) {
      evaluate_contig(shared->job, args, *static_cast<int32_t *>(array_list_get_item(batch, i)));
    }
    array_list_free(batch);
  }
  thread_queue_producer_done(shared->arbiter, args->output, 0);
  return nullptr;
}

void *paired_optimize_collector(void *arg) {
  auto *args = static_cast<thread_args_t *>(arg);
  paired_shared_t *shared = shared_of(args);
  while (auto *result = static_cast<paired_optimize_result_t *>(thread_queue_get(shared->arbiter, args->input, 0))) {
    pthread_mutex_lock(&shared->result_mutex);
    paired_optimize_job_add_result(shared->job, result);
    pthread_mutex_unlock(&shared->result_mutex);
  }
  return nullptr;
}

}  // namespace

extern "C" {

int paired_contig_is_eligible(const paired_context_t *context, int32_t contig_index) {
  const contig_info_t *info = context->contigs;
  const fragment_graph_t *graph = context->graph;
  const auto contig = static_cast<oriented_id_t>(contig_index);
  const oriented_id_t first = contig_info_get_first_node(info, contig);
  const oriented_id_t last = contig_info_get_last_node(info, contig);
  if (first == kOrientedIdNone) return 0;
  if (first == last && fragment_graph_get_node_length(graph, first) < kPairedMinLoneContig &&
      fragment_graph_get_first_next_edge(graph, first) == kOrientedIdNone &&
      fragment_graph_get_first_prev_edge(graph, first) == kOrientedIdNone) {
    return 0;
  }
  if (contig_info_is_circular(info, contig)) return 0;
  if (fragment_graph_is_bubble_node(graph, first) || fragment_graph_is_bubble_node(graph, last)) return 0;
  return 1;
}

int contig_end_claim(fragment_graph_t *graph, const contig_info_t *info, oriented_id_t contig,
                     thread_args_t *worker) {
  const oriented_id_t node =
      contig_info_get_last_node(info, contig_info_get_contig_index(contig));
  const bool reverse = contig_info_contig_is_reverse(contig) != 0;
  if (worker != nullptr) {
    paired_shared_t *shared = shared_of(worker);
    const uint8_t bit = reverse ? 2 : 1;
    const uint8_t before = shared->claims[fragment_graph_node_index(node)].fetch_or(bit, std::memory_order_acq_rel);
    return (before & bit) != 0 ? 1 : 0;
  }
  if (reverse) {
    if (fragment_graph_get_mark2(graph, node)) return 1;
    fragment_graph_set_mark2(graph, node);
  } else {
    if (fragment_graph_get_mark1(graph, node)) return 1;
    fragment_graph_set_mark1(graph, node);
  }
  return 0;
}

contig_path_t *contig_path_to_nodes(const paired_context_t *context, const contig_path_t *path) {
  const contig_info_t *info = context->contigs;
  const fragment_graph_t *graph = context->graph;
  const int32_t n = path->count;
  int32_t count = 2;
  for (int32_t i = 1; i + 1 < n; i++) count += contig_info_get_contig_node_count(info, graph, path->ids[i]);
  contig_path_t *nodes = contig_path_new(count, path->distance, path->link);
  int32_t at = 0;
  nodes->ids[at++] = contig_info_get_last_node(info, path->ids[0]);
  for (int32_t i = 1; i + 1 < n && at < count - 1; i++) {
    const oriented_id_t last = contig_info_get_last_node(info, path->ids[i]);
    oriented_id_t node = contig_info_get_first_node(info, path->ids[i]);
    nodes->ids[at++] = node;
    while (node != last && at < count - 1) {
      const oriented_id_t e = fragment_graph_get_first_next_edge(graph, node);
      if (e == kOrientedIdNone) break;
      node = fragment_graph_get_edge_to_node(graph, e);
      nodes->ids[at++] = node;
    }
  }
  // A walk cut short leaves the rest of the inner ids unset; the path then
  // fails the edge test before it is built.
  while (at < count - 1) nodes->ids[at++] = kOrientedIdNone;
  nodes->ids[count - 1] = contig_info_get_first_node(info, path->ids[n - 1]);
  return nodes;
}

void paired_results_add_edge_removals(paired_optimize_job_t *job, thread_args_t *worker,
                                      const contig_path_list_t *paths, int reversed) {
  // Without a path nothing shows which edges are wrong.
  if (paths == nullptr || paths->count == 0) return;
  const contig_info_t *info = job->context->contigs;
  const fragment_graph_t *graph = job->context->graph;
  std::vector<oriented_id_t> firsts;
  for (int32_t p = 0; p < paths->count; p++) {
    const contig_path_t *path = paths->paths[p];
    for (int32_t i = 0; i < path->count; i++) {
      const oriented_id_t c = reversed ? contig_info_reverse_contig(path->ids[i]) : path->ids[i];
      firsts.push_back(contig_info_get_first_node(info, c));
    }
  }
  std::sort(firsts.begin(), firsts.end());
  const contig_path_t *first_path = paths->paths[0];
  const oriented_id_t end_contig =
      reversed ? contig_info_reverse_contig(first_path->ids[first_path->count - 1]) : first_path->ids[0];
  const oriented_id_t n = contig_info_get_last_node(info, end_contig);
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, n); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t target = fragment_graph_get_edge_to_node(graph, e);
    if (!std::binary_search(firsts.begin(), firsts.end(), target)) {
      emit(job, worker, paired_result_new_edge_removal(e, n, target));
    }
  }
}

void paired_results_add_scaffold_links(paired_optimize_job_t *job, thread_args_t *worker, contig_links_t *links,
                                       array_list_t *candidates) {
  const paired_context_t *context = job->context;
  const contig_info_t *info = context->contigs;
  const oriented_id_t source = contig_info_get_node_contig(info, links->last_node);
  if (source == kOrientedIdNone) return;
  const int64_t source_length = contig_info_get_contig_length(info, context->graph, source);
  if (source_length < kPairedMinScaffoldContig) return;
  contig_links_check_placement(context, links->links, candidates, kOrientedIdNone, kPairedMinScaffoldContig);
  const uint64_t n = array_list_get_count(candidates);
  for (uint64_t i = 0; i < n; i++) {
    const paired_link_t *l = paired_link_list_get(candidates, i);
    const int64_t target_length = contig_info_get_contig_length(info, context->graph, l->target);
    if (l->centre + source_length <= 0 || l->centre + target_length <= 0) break;
    emit(job, worker,
         paired_result_new_scaffold_link(links->last_node,
                                         fragment_graph_reverse_node(contig_info_get_last_node(info, l->target)),
                                         l->centre));
  }
}

void paired_optimize_evaluate(paired_optimize_job_t *job, thread_args_t *worker, contig_links_t *links,
                              contig_links_t *partner, const contig_path_list_t *paths) {
  (void)partner;
  const paired_context_t *context = job->context;
  const int32_t budget = links->budget;
  const oriented_id_t source = contig_info_get_node_contig(context->contigs, links->last_node);

  contig_path_list_t *reduced = nullptr;
  int32_t unique = 1;
  bool confirmed = false;
  if (budget > 0) {
    reduced = contig_paths_reduce(links, paths, &unique);
    if (reduced != nullptr && unique && reduced->count == 1 && reduced->paths[0]->count >= 3) {
      // The path holds when the far contig's own links place the source
      // behind it.
      const contig_path_t *path = reduced->paths[0];
      const oriented_id_t far = contig_info_reverse_contig(path->ids[path->count - 1]);
      contig_links_t *back = contig_links_build(const_cast<paired_context_t *>(context), far);
      const paired_link_t *hit = contig_links_check_placement(context, back->links, nullptr, source, 0);
      if (hit != nullptr && hit->target == source) {
        emit(job, worker, paired_result_new_contig_path(contig_path_to_nodes(context, path)));
        confirmed = true;
      }
      contig_links_free(back);
    }
  }
  if (budget > 0 && job->short_library) {
    const contig_path_list_t *set = reduced != nullptr && unique && reduced->count > 0 ? reduced : paths;
    paired_results_add_edge_removals(job, worker, set, 0);
    if (confirmed) paired_results_add_edge_removals(job, worker, set, 1);
  }
  contig_path_list_free(reduced);

  if (job->scaffolding) {
    array_list_t *candidates = array_list_new(sizeof(paired_link_t *));
    if (budget > 0) contig_links_on_all_paths(links, paths, candidates);
    paired_results_add_scaffold_links(job, worker, links, candidates);
    array_list_free(candidates);
  }
}

void paired_optimize_contig(paired_optimize_job_t *job, thread_args_t *worker, oriented_id_t contig,
                            contig_links_t *links, contig_links_t *partner) {
  paired_context_t *context = job->context;
  if (contig_end_claim(context->graph, context->contigs, contig, worker)) return;
  contig_links_t *own = links != nullptr ? nullptr : contig_links_build(context, contig);
  contig_links_t *use = links != nullptr ? links : own;
  if (array_list_get_count(use->links) > 0) {
    const oriented_id_t start = contig_info_get_node_contig(context->contigs, use->last_node);
    contig_path_list_t *paths = contig_paths_enumerate(start, 0, 1, use);
    paired_optimize_evaluate(job, worker, use, partner, paths);
    contig_path_list_free(paths);
  }
  contig_links_free(own);
}

contig_info_t *paired_optimize_apply(paired_optimize_job_t *job, progress_meter_t *meter, progress_meter_t *sweep,
                                     array_list_t **join_slot) {
  paired_context_t *context = job->context;
  fragment_graph_t *graph = context->graph;
  progress_meter_set_range(meter, sweep, 0.6, 1.0);
  progress_meter_t *scaffold_meter = progress_meter_new_child(sweep, 0.2, 1.0);
  // Every flag goes (the sweep's claims among them); a disabled slot stays
  // disabled so that it never comes back as a live node.
  fragment_graph_clear_flags(graph, static_cast<uint16_t>(~kGraphDisabledBit));
  paired_apply_edge_removals(context, job->edge_removals);
  progress_meter_update(sweep, 0.1);
  paired_apply_contig_paths(context, job->contig_paths);
  progress_meter_update(sweep, 0.2);
  paired_scaffold(job, job->scaffold_links, job->contig_paths, scaffold_meter, join_slot);
  contig_info_t *info = paired_context_take_contig_info(context);
  paired_optimize_job_free(job);
  progress_meter_free(scaffold_meter);
  progress_meter_free(sweep);
  return info;
}

contig_info_t *paired_optimize_graph(fragment_graph_t *graph, read_table_t *table, int32_t bubble_size,
                                     int32_t scaffolding, progress_meter_t *meter, array_list_t **join_slot) {
  progress_meter_t *sweep = progress_meter_new_child(meter, 0.0, 0.6);
  paired_optimize_job_t *job = paired_optimize_job_new(graph, table, bubble_size, scaffolding);
  const int32_t count = contig_info_get_contig_count(job->context->contigs);
  for (int32_t i = 0; i < count; i++) {
    if (!paired_contig_is_eligible(job->context, i)) continue;
    evaluate_contig(job, nullptr, i);
    progress_meter_update(sweep, static_cast<double>(i) / count);
  }
  return paired_optimize_apply(job, meter, sweep, join_slot);
}

contig_info_t *paired_optimize_graph_threaded(fragment_graph_t *graph, read_table_t *table, int32_t bubble_size,
                                              int32_t scaffolding, progress_meter_t *meter,
                                              array_list_t **join_slot) {
  const int32_t workers = std::max(1, get_number_of_cpus());
  progress_meter_t *sweep = progress_meter_new_child(meter, 0.0, 0.6);
  paired_optimize_job_t *job = paired_optimize_job_new(graph, table, bubble_size, scaffolding);

  paired_shared_t shared{};
  shared.job = job;
  shared.meter = sweep;
  shared.claim_count = std::max(1, graph->node_count);
  shared.claims = new std::atomic<uint8_t>[static_cast<size_t>(shared.claim_count)]();
  pthread_mutex_init(&shared.result_mutex, nullptr);
  thread_group_run_pipeline(workers, 4 * workers, paired_optimize_producer, paired_optimize_worker,
                            paired_optimize_collector, &shared, &shared.arbiter);
  pthread_mutex_destroy(&shared.result_mutex);
  delete[] shared.claims;

  return paired_optimize_apply(job, meter, sweep, join_slot);
}

}  // extern "C"
