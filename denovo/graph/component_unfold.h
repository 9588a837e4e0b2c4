// Unfolding: read-based resolution of the whole fragment graph. Every node
// in turn becomes a window of one node; if the reads that cross it fall into
// components that can be built apart, the window is rebuilt
// (component_build); if not, a decision function supplied by the caller may
// rebuild it after its own narrowing; if not, the window grows along the
// chains where reads carry more information (component_expansion.h) and the
// attempt repeats, down to a maximum depth. Rebuilt windows request their
// new nodes on the not-done list, and passes over that list go on until a
// pass changes nothing.
//
// Calling order: the caller creates the window context (component_window.h)
// and reuses it for every window and every call; component_unfold_all_nodes
// resets the not-done lists at each call, so every call starts with all
// nodes. Windows change the graph only through component_build and the
// decision function. Single-threaded.
#pragma once

#include <cstdint>

#include "common/progress_meter.h"
#include "denovo/graph/component_window.h"

extern "C" {

// The caller's decision function. Called only after component_get_components
// gave exactly one component of more than one path group and component_build
// declined to rebuild the window; it receives the context with the current
// window and its path groups, and that component list. Returns nonzero
// exactly when it changed the graph (which ends the attempt at this window
// with success); 0 lets the unfolding grow the window.
typedef int (*component_max_function)(component_window_t *context, component_list_t *components);

// Runs passes over the not-done list, one-node windows on every node (then on
// its reverse when the forward window fails), until a pass rebuilds nothing;
// returns the number of successful windows over all passes. Each pass p
// covers [1 - 0.5^p, 1 - 0.5^(p+1)] of a child of the meter (null allowed).
int32_t component_unfold_all_nodes(component_window_t *context, component_max_function f, int32_t max_depth,
                                   progress_meter_t *progress);
// 1 when the current window (or a grown version of it, up to max_depth - depth
// more expansions) was rebuilt, else 0 with the window as it was. A window
// that component_build left unchanged but that does not have exactly one
// component: "component_unfold_nodes error 0\n" on standard error, status 1.
int32_t component_unfold_nodes(component_window_t *context, component_max_function f, int32_t max_depth,
                               int32_t depth);
// component_unfold_nodes with a trace of every step on standard output.
int32_t component_unfold_nodes_verbose(component_window_t *context, component_max_function f, int32_t max_depth,
                                       int32_t depth);
// The traced attempt at the current window from depth 0.
int32_t component_unfold_window(component_window_t *context, component_max_function f, int32_t max_depth);

}  // extern "C"
