#include "denovo/app/read_optimize.h"

#include <cmath>
#include <cstdio>

#include "common/ryx_exit.h"
#include "denovo/graph/component_build.h"
#include "denovo/graph/component_unfold.h"
#include "denovo/graph/components.h"
#include "denovo/graph/dead_ends.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/fragment_graph_check.h"
#include "denovo/graph/graph_export.h"
#include "denovo/graph/weak_edges.h"

namespace {

// Weak factors of the first clean-up and of the one after the passes.
constexpr int32_t kFirstWeakFactor = 40;
constexpr int32_t kFinalWeakFactor = 20;

// Runs the link, bubble and mark checks over every node (all three, so
// that each prints what it finds); any failure ends the run with message.
void check_graph(const fragment_graph_t *graph, const char *message) {
  const int links = fragment_graph_check_links(graph, -1);
  const int bubbles = fragment_graph_check_bubbles(graph, -1);
  const int marks = fragment_graph_check_marks(graph, -1);
  if (links && bubbles && marks) return;
  fputs(message, stderr);
  ryx_exit(1);
}

}  // namespace

extern "C" {

int32_t read_optimize_threshold(int32_t x) {
  // The logarithm of a mean below 1 does not exist; such a window (no
  // reads) keeps every group.
  if (x < 1) return 0;
  const auto log_part = static_cast<int32_t>(static_cast<int32_t>(std::log(static_cast<double>(x))) * 0.5);
  return static_cast<int32_t>(log_part + x * 0.5 * 0.125);
}

void read_optimize_pass_range(double low, double high, int32_t r, double *from, double *to) {
  *from = low + r * (high - low) / 10;
  *to = low + (r + 1) * (high - low) / 10;
}

int read_optimize_zero_function(component_window_t *, component_list_t *) { return 0; }

int read_optimize_max_function(component_window_t *window, component_list_t *components) {
  if (components->component_count != 1) {
    printf("Error, number of components is not 1\n");
    ryx_exit(1);
  }
  int64_t groups = 0;
  int64_t total = 0;
  int32_t smallest = INT32_MAX;
  for (const component_path_group_t *g = components->first_groups[0]; g != nullptr; g = g->link) {
    groups++;
    total += g->count;
    if (g->count < smallest) smallest = g->count;
  }
  if (groups == 0) return 0;
  const int64_t mean = total / groups;
  int64_t strong = 0;
  int64_t strong_total = 0;
  for (const component_path_group_t *g = components->first_groups[0]; g != nullptr; g = g->link) {
    if (g->count < mean) continue;
    strong++;
    strong_total += g->count;
  }
  const int32_t threshold = read_optimize_threshold(static_cast<int32_t>(strong_total / strong));
  if (smallest > threshold) return 0;
  component_list_t *kept = component_get_components_above_count(window, components, threshold);
  if (kept == nullptr || kept->component_count == 0) return 0;
  return component_build(window, kept);
}

void read_optimize_graph(fragment_graph_t *graph, seq_db_t *fragments, read_table_t *table, int32_t bubble_size,
                         const char *dump_path, progress_meter_t *meter) {
  read_info_t *info = table->read_info;
  fragment_graph_clear_all_flags(graph);
  progress_meter_update(meter, 0.011);
  fragment_graph_sort_edges(graph);
  progress_meter_update(meter, 0.015);
  if (dump_path != nullptr) fragment_graph_write_nodes(graph, fragments, table, dump_path);
  remove_weak_edges(graph, table, -1, kFirstWeakFactor, nullptr);
  progress_meter_update(meter, 0.018);
  remove_dead_ends(graph, nullptr);
  progress_meter_update(meter, 0.019);
  fragment_graph_set_bubbles(graph, info, bubble_size, bubble_size / 5, 0);
  check_graph(graph, "contig graph is not valid before zero function\n");

  progress_meter_update(meter, 0.02);
  progress_meter_t *step = progress_meter_new_child(meter, 0.02, 0.11);
  component_window_t *window = component_window_new(graph, info, bubble_size);
  component_unfold_all_nodes(window, read_optimize_zero_function, kReadOptimizeMaxDepth, step);
  progress_meter_update(step, 1.0);
  check_graph(graph, "contig graph is not valid after zero function\n");

  // Passes until one changes nothing. Ten passes share a band of the
  // progress line; each next band covers three quarters of what is left
  // below 0.98, so the line moves on however many passes it takes.
  double low = kReadOptimizeFirstBandLow;
  double high = kReadOptimizeFirstBandHigh;
  int32_t r = 0;
  int32_t changed = 0;
  char message[64];
  do {
    double from = 0;
    double to = 0;
    read_optimize_pass_range(low, high, r, &from, &to);
    progress_meter_set_range(meter, step, from, to);
    changed = component_unfold_all_nodes(window, read_optimize_max_function, kReadOptimizeMaxDepth, step);
    progress_meter_update(step, 1.0);
    snprintf(message, sizeof(message), "contig graph is not valid after read optimization %d\n", r);
    check_graph(graph, message);
    if (r > 8) {
      low = high;
      high = high + 0.75 * (kReadOptimizeBandLimit - high);
      r = 0;
    } else {
      r++;
    }
  } while (changed != 0);
  component_window_free(window);

  progress_meter_set_range(meter, step, 0.98, 0.99);
  remove_weak_edges(graph, table, -1, kFinalWeakFactor, step);
  check_graph(graph, "contig graph is not valid after weak edges");
  progress_meter_set_range(meter, step, 0.99, 0.995);
  remove_dead_ends(graph, step);
  check_graph(graph, "contig graph is not valid after remove dead end\n");
  fragment_graph_set_other_nodes(graph);
  check_graph(graph, "contig graph is not valid after read optimizations\n");
  progress_meter_update(meter, 1.0);
  progress_meter_free(step);
}

}  // extern "C"
