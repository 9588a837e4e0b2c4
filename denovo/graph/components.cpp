// Window test, read path grouping and the component search.
#include "denovo/graph/components.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/graph/component_threading.h"
#include "denovo/reads/generic_sort.h"

namespace {

[[noreturn]] void fail_node(const char *format, oriented_id_t node) {
  printf(format, node);
  fflush(stdout);
  ryx_exit(1);
}

oriented_id_t first_target(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t e = fragment_graph_get_first_next_edge(graph, node);
  if (e == kOrientedIdNone) ryx_fail_stdout("error, component_get_components node is -1\n");
  return fragment_graph_get_edge_to_node(graph, e);
}

// Walks from start along first next edges through bubble nodes to the first
// bubble end; 1 when that end has the node index of `node`. The walk is
// bounded by the node count, so a cycle of bubble nodes cannot hang it.
bool bubble_walk_returns(const fragment_graph_t *graph, oriented_id_t start, oriented_id_t node) {
  oriented_id_t n = first_target(graph, start);
  for (int64_t steps = 0; steps <= graph->node_count; steps++) {
    if (fragment_graph_is_bubble_end(graph, n)) return fragment_graph_node_index(n) == fragment_graph_node_index(node);
    if (!fragment_graph_is_bubble_node(graph, n)) break;
    n = first_target(graph, n);
  }
  ryx_fail_stdout("error, search_for_bubble_end 1\n");
}

// 1 when the window cannot be resolved and no components are looked for.
bool window_not_worth_resolving(const component_window_t *c) {
  const fragment_graph_t *graph = c->graph;
  if (c->component_node_count == 0) ryx_fail_stdout("component sanity check, component_node_count is 0\n");
  for (int32_t i = 0; i < c->component_node_count; i++)
    if (c->component_nodes[i] == kOrientedIdNone) ryx_fail_stdout("error, component_get_components node is -1\n");
  const oriented_id_t w = c->component_nodes[0];
  if (fragment_graph_is_bubble_node(graph, w)) return true;
  if (c->component_node_count != 1) return false;
  const bool start = fragment_graph_is_bubble_start(graph, w) != 0;
  const bool end = fragment_graph_is_bubble_end(graph, w) != 0;
  if (start && end) return true;
  if (start && bubble_walk_returns(graph, w, w)) return true;
  if (end && bubble_walk_returns(graph, fragment_graph_reverse_node(w), w)) return true;
  const component_edge_counts_t k = component_node_edge_counts(graph, w);
  if (k.real_prev == 0 && k.real_next == 0) return true;
  if (k.real_prev > 0 && k.real_next == 0 && k.next_u_turns == 0) return true;
  if (k.real_next > 0 && k.real_prev == 0 && k.prev_u_turns == 0) return true;
  if (k.real_prev == 1 && k.real_next == 1 && k.prev_u_turns == 0 && k.next_u_turns == 0 && k.loops == 0) return true;
  return false;
}

inline int32_t counterpart(int32_t index, int32_t g) { return index < g ? index + g : index - g; }

void print_reads(const read_ptr_t *reads, int32_t n) {
  for (int32_t i = 0; i < n; i++) printf(i == 0 ? "%x" : ", %x", static_cast<uint32_t>(reads[i]));
}

}  // namespace

component_edge_counts_t component_node_edge_counts(const fragment_graph_t *graph, oriented_id_t a) {
  component_edge_counts_t k{0, 0, 0, 0, 0};
  const oriented_id_t ra = fragment_graph_reverse_node(a);
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, a); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_prev_edge(graph, e)) {
    const oriented_id_t from = fragment_graph_get_edge_from_node(graph, e);
    if (from == ra) {
      k.prev_u_turns++;
    } else if (from == a) {
      k.loops++;
    } else {
      k.real_prev++;
    }
  }
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, a); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
    if (to == ra) {
      k.next_u_turns++;
    } else if (to != a) {
      k.real_next++;
    }
  }
  return k;
}

void component_window_clear_path_groups(component_window_t *c) { c->path_group_count = 0; }

void component_window_add_path_group(component_window_t *c, uint32_t prev_node, uint32_t next_node, int32_t count,
                                     read_ptr_t *prev_read_list, read_ptr_t *next_read_list, int32_t list_length) {
  if (c->path_group_count == c->path_group_capacity) {
    c->path_group_capacity *= 2;
    c->path_groups = static_cast<component_path_group_t *>(
        ryx_realloc(c->path_groups, static_cast<size_t>(c->path_group_capacity) * sizeof(component_path_group_t)));
    c->path_group_ptrs = static_cast<component_path_group_t **>(ryx_realloc(
        c->path_group_ptrs, static_cast<size_t>(c->path_group_capacity) * sizeof(component_path_group_t *)));
  }
  component_path_group_t *g = &c->path_groups[c->path_group_count++];
  g->link = component_path_group_unlinked();
  g->prev_node = prev_node;
  g->next_node = next_node;
  g->count = count;
  g->more_info_prev = 0;
  g->more_info_next = 0;
  g->prev_read_list = prev_read_list;
  g->next_read_list = next_read_list;
  g->list_length = list_length;
  g->row = -1;
}

int component_path_group_compare(const void *a, const void *b, void *context) {
  const auto *c = static_cast<const component_window_t *>(context);
  const component_path_group_t *x = c->path_group_ptrs[*static_cast<const int32_t *>(a)];
  const component_path_group_t *y = c->path_group_ptrs[*static_cast<const int32_t *>(b)];
  if (x->prev_node != y->prev_node) return x->prev_node < y->prev_node ? -1 : 1;
  if (x->next_node != y->next_node) return x->next_node < y->next_node ? -1 : 1;
  return 0;
}

void component_sort_group_indices(component_window_t *c, int32_t *indices, int32_t n) {
  for (int32_t i = 0; i < c->path_group_count; i++) c->path_group_ptrs[i] = &c->path_groups[i];
  generic_sort(indices, static_cast<uint64_t>(n), sizeof(int32_t), component_path_group_compare, c);
}

void component_window_print_path_groups(const component_window_t *c) {
  for (int32_t i = 0; i < c->path_group_count; i++) {
    const component_path_group_t *g = &c->path_groups[i];
    printf("prev_node %x, next_node %x, count %d\n", g->prev_node, g->next_node, g->count);
  }
}

void component_window_group_read_paths(component_window_t *c, const read_info_t *info) {
  const int32_t n = c->read_path_count;
  if (c->group_read_capacity < n) {
    ryx_free(c->group_prev_reads);
    ryx_free(c->group_next_reads);
    c->group_prev_reads = static_cast<read_ptr_t *>(ryx_malloc(static_cast<size_t>(n) * sizeof(read_ptr_t)));
    c->group_next_reads = static_cast<read_ptr_t *>(ryx_malloc(static_cast<size_t>(n) * sizeof(read_ptr_t)));
    c->group_read_capacity = n;
  }
  c->path_group_count = 0;
  int32_t used = 0;  // entries of the group read lists taken so far
  int32_t i = 0;
  while (i < n) {
    const component_read_path *first = c->read_path_ptrs[i];
    const uint32_t prev_node = first->prev_node, next_node = first->next_node;
    const int32_t list_start = used;
    int32_t count = 0;
    uint64_t current = 0, end_index = 0;
    bool have_current = false;
    for (; i < n; i++) {
      const component_read_path *r = c->read_path_ptrs[i];
      if (r->prev_node != prev_node || r->next_node != next_node) break;
      // A second passage of the same read counts only where it does not
      // overlap the passage counted last.
      if (have_current && r->read_start_ptr == current && r->read_start_index < end_index) continue;
      have_current = true;
      current = r->read_start_ptr;
      end_index = r->read_end_index;
      count += static_cast<int32_t>(read_info_get_count(info, r->read_start_ptr));
      if (r->prev_read_ptr != kReadPtrNone) {
        c->group_prev_reads[used] = r->prev_read_ptr;
        c->group_next_reads[used] = r->next_read_ptr;
        used++;
      }
    }
    read_ptr_t *prev_list = c->group_prev_reads + list_start;
    read_ptr_t *next_list = c->group_next_reads + list_start;
    const int32_t length = used - list_start;
    read_info_sort_read_ptrs(const_cast<read_info_t *>(info), prev_list, static_cast<uint64_t>(length));
    read_info_sort_read_ptrs(const_cast<read_info_t *>(info), next_list, static_cast<uint64_t>(length));
    component_window_add_path_group(c, prev_node, next_node, count, prev_list, next_list, length);
  }
}

void component_collect_component(component_window_t *c, int32_t row, int32_t component) {
  const int32_t g = c->path_group_count / 2;  // the mirrors are appended while the search runs
  component_group_row_t *r = &c->group_rows[row];
  r->visited = 1;
  for (int32_t k = 0; k < r->count; k++) {
    const int32_t index = r->indices[k];
    component_path_group_t *group = &c->path_groups[index < g ? index : index - g];
    if (group->link == component_path_group_unlinked()) {
      group->link = c->components.first_groups[component];
      c->components.first_groups[component] = group;
      c->components.sizes[component]++;
    }
    const int32_t next_row = c->path_groups[index].row;
    if (!c->group_rows[next_row].visited) component_collect_component(c, next_row, component);
  }
}

component_list_t *component_window_collect_components(component_window_t *c, int32_t row_count) {
  component_list_t *list = &c->components;
  if (list->capacity < row_count) {
    list->sizes = static_cast<int32_t *>(ryx_realloc(list->sizes, static_cast<size_t>(row_count) * sizeof(int32_t)));
    list->first_groups = static_cast<component_path_group_t **>(
        ryx_realloc(list->first_groups, static_cast<size_t>(row_count) * sizeof(component_path_group_t *)));
    list->capacity = row_count;
  }
  list->component_count = 0;
  for (int32_t r = 0; r < row_count; r++) {
    if (c->group_rows[r].visited) continue;
    const int32_t i = list->component_count++;
    list->sizes[i] = 0;
    list->first_groups[i] = nullptr;
    component_collect_component(c, r, i);
  }
  return list;
}

component_list_t *component_window_make_components(component_window_t *c, int32_t threshold) {
  const int32_t g = c->path_group_count;
  // A rebuild with another threshold starts from unlinked groups.
  for (int32_t j = 0; j < g; j++) c->path_groups[j].link = component_path_group_unlinked();
  for (int32_t j = 0; j < g; j++) {
    const component_path_group_t group = c->path_groups[j];
    component_window_add_path_group(c, group.next_node, group.prev_node, group.count, nullptr, nullptr, 0);
  }
  int32_t *indices = component_window_alloc_ints(c, 2 * g);
  int32_t m = 0;
  for (int32_t j = 0; j < 2 * g; j++)
    if (c->path_groups[j].count > threshold) indices[m++] = j;
  component_sort_group_indices(c, indices, m);
  if (c->group_row_capacity < m) {
    c->group_rows = static_cast<component_group_row_t *>(
        ryx_realloc(c->group_rows, static_cast<size_t>(m) * sizeof(component_group_row_t)));
    c->group_row_capacity = m;
  }
  int32_t rows = 0;
  for (int32_t k = 0; k < m;) {
    const uint32_t node = c->path_groups[indices[k]].prev_node;
    int32_t end = k;
    while (end < m && c->path_groups[indices[end]].prev_node == node) {
      c->path_groups[counterpart(indices[end], g)].row = rows;
      end++;
    }
    c->group_rows[rows] = {indices + k, end - k, 0};
    rows++;
    k = end;
  }
  component_list_t *list = component_window_collect_components(c, rows);
  component_window_release_ints(c, indices, 2 * g);
  c->path_group_count = g;
  return list;
}

component_list_t *component_get_components(component_window_t *c, int32_t threshold) {
  c->components.component_count = 0;
  if (window_not_worth_resolving(c)) return &c->components;
  fragment_graph_t *graph = c->graph;
  for (int32_t i = 0; i < c->component_node_count; i++) fragment_graph_set_mark1(graph, c->component_nodes[i]);
  component_window_clear_read_paths(c);
  component_read_list_t *list = c->read_list;
  const window_info_t *info = c->window_info;
  for (int32_t i = 0; i < info->interior_border_node_count; i++) {
    const oriented_id_t b = info->interior_border_nodes[i];
    component_read_list_set_fragment(list, fragment_graph_get_node_fragment(graph, b));
    component_read_list_fill(list, c->read_info);
    component_window_clear_crossings(c);
    component_get_crossings_sub(c, graph, c->read_info, b, list->entries, list->flags, list->count);
    component_read_list_reverse(c, list, c->read_info);
    component_get_read_paths(c, fragment_graph_reverse_node(b), list, i == 0 ? 0 : ~UINT64_C(0));
  }
  component_window_sort_read_paths(c);
  component_window_group_read_paths(c, c->read_info);
  component_list_t *result = component_window_make_components(c, threshold);
  for (int32_t i = 0; i < c->component_node_count; i++) fragment_graph_clear_mark1(graph, c->component_nodes[i]);
  return result;
}

component_list_t *component_get_components_above_count(component_window_t *c, component_list_t *, int32_t threshold) {
  return component_window_make_components(c, threshold);
}

void component_list_print(const component_list_t *components) {
  if (components->component_count == 0) {
    printf("no components found\n");
    return;
  }
  printf("components\n");
  for (int32_t i = 0; i < components->component_count; i++) {
    printf("  component %d, size %d:\n", i, components->sizes[i]);
    for (const component_path_group_t *g = components->first_groups[i]; g != nullptr; g = g->link) {
      printf("    %08x <-> %08x, count %d, %d <-> %d (", g->prev_node, g->next_node, g->count, g->more_info_prev,
             g->more_info_next);
      print_reads(g->prev_read_list, g->list_length);
      printf(") <=> (");
      print_reads(g->next_read_list, g->list_length);
      printf(")\n\n");
    }
  }
}

void component_set_component_index_sizes(component_window_t *c, const component_list_t *components) {
  for (int32_t i = 0; i < components->component_count; i++) {
    const int32_t size = components->sizes[i];
    for (const component_path_group_t *g = components->first_groups[i]; g != nullptr; g = g->link) {
      const int32_t at_prev = get_component_index(c, g->prev_node);
      if (at_prev != -1 && at_prev != i)
        fail_node("error in component_set_component_index_sizes 1, node %x belongs to two components\n", g->prev_node);
      set_component_index_and_size(c, g->prev_node, i, size);
      const int32_t at_next = get_component_index(c, g->next_node);
      if (at_next != -1 && at_next != i)
        fail_node("error in component_set_component_index_sizes 2, node %x belongs to two components\n", g->next_node);
      set_component_index_and_size(c, g->next_node, i, size);
    }
  }
}
