// Unfolding: one attempt per window (with growth) and the passes over the
// not-done list.
#include "denovo/graph/component_unfold.h"

#include <cmath>
#include <cstdio>

#include "common/ryx_exit.h"
#include "denovo/graph/component_build.h"
#include "denovo/graph/component_expansion.h"
#include "denovo/graph/components.h"
#include "denovo/graph/fragment_graph_not_done.h"

namespace {

// One attempt at the current window; `verbose` traces every step. The
// window is restored before a failed attempt returns.
int32_t unfold_nodes(component_window_t *context, component_max_function f, int32_t max_depth, int32_t depth,
                     bool verbose) {
  if (verbose) {
    printf("Window:");
    for (int32_t i = 0; i < context->component_node_count; i++) printf(" %x", context->component_nodes[i]);
    printf("\n");
  }
  component_list_t *components = component_get_components(context, 0);
  if (components->component_count == 0) {
    if (verbose) printf("No components, returning\n");
    return 0;
  }
  if (verbose) component_list_print(components);
  if (component_build(context, components) != 0) {
    if (verbose) printf("Building, returning\n");
    return 1;
  }
  if (verbose) printf("4\n");
  if (components->component_count != 1) {
    fflush(stdout);
    fputs("component_unfold_nodes error 0\n", stderr);
    ryx_exit(1);
  }
  if (verbose) printf("5\n");
  if (components->sizes[0] <= 1) {
    if (verbose) printf("No building, no need to call max function and could not expand\n");
    return 0;
  }
  if (verbose) printf("6\n");
  if (f(context, components) != 0) return 1;
  if (depth == max_depth) {
    if (verbose) printf("Maximum depth reached, returning\n");
    return 0;
  }
  if (component_get_more_info(context) == 0) {
    if (verbose) printf("No more info, returning\n");
    return 0;
  }
  component_expandable_nodes_t *groups = component_get_expandable_nodes(context);
  if (groups == nullptr) {
    if (verbose) printf("No expandable nodes, returning\n");
    return 0;
  }
  if (verbose) printf("Expanding nodes, count %d\n", groups->group_count);
  for (int32_t i = 0; i < groups->group_count; i++) {
    component_window_add_nodes(context, groups->group_starts[i], groups->group_sizes[i]);
    if (unfold_nodes(context, f, max_depth, depth + 1, verbose) != 0) {
      component_expandable_nodes_free(groups);
      return 1;
    }
    component_window_remove_last_nodes(context, groups->group_sizes[i]);
  }
  component_expandable_nodes_free(groups);
  return 0;
}

}  // namespace

int32_t component_unfold_nodes(component_window_t *context, component_max_function f, int32_t max_depth,
                               int32_t depth) {
  return unfold_nodes(context, f, max_depth, depth, false);
}

int32_t component_unfold_nodes_verbose(component_window_t *context, component_max_function f, int32_t max_depth,
                                       int32_t depth) {
  return unfold_nodes(context, f, max_depth, depth, true);
}

int32_t component_unfold_window(component_window_t *context, component_max_function f, int32_t max_depth) {
  return component_unfold_nodes_verbose(context, f, max_depth, 0);
}

int32_t component_unfold_all_nodes(component_window_t *context, component_max_function f, int32_t max_depth,
                                   progress_meter_t *progress) {
  fragment_graph_t *graph = context->graph;
  progress_meter_t *child = progress_meter_new_child(progress, 0, 1);
  fragment_graph_reset_not_done_nodes(graph);
  int32_t result = 0;
  for (int32_t pass = 0;; pass++) {
    const int32_t total = fragment_graph_get_not_done_count(graph);
    progress_meter_set_range(progress, child, 1 - std::ldexp(1.0, -pass), 1 - std::ldexp(1.0, -(pass + 1)));
    int32_t successes = 0;
    int32_t seen = 0;
    for (oriented_id_t n = fragment_graph_get_not_done_node(graph); n != kOrientedIdNone;
         n = fragment_graph_get_not_done_node(graph)) {
      seen++;
      while (n != kOrientedIdNone && fragment_graph_is_disabled(graph, n)) {
        printf("Node is disabled %x\n", n);
        n = fragment_graph_get_not_done_node(graph);
        seen++;
      }
      if (n == kOrientedIdNone) break;
      component_window_set_nodes(context, &n, 1);
      int32_t r = component_unfold_nodes(context, f, max_depth, 0);
      if (r == 0) {
        const oriented_id_t reverse = fragment_graph_reverse_node(n);
        component_window_set_nodes(context, &reverse, 1);
        r = component_unfold_nodes(context, f, max_depth, 0);
        if (total > 0) progress_meter_update(child, static_cast<double>(seen) / total);
      }
      if (r != 0) successes++;
    }
    progress_meter_update(child, 1);
    result += successes;
    if (successes == 0) break;
  }
  progress_meter_free(child);
  return result;
}
