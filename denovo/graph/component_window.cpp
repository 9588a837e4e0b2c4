// Component window context: window info, scratch stacks, read list,
// crossings, read paths and component index.
#include "denovo/graph/component_window.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/graph/component_builder_trees.h"
#include "denovo/graph/component_paths.h"
#include "denovo/reads/generic_sort.h"

namespace {

template <typename T>
T *alloc_array(int64_t n) {
  return static_cast<T *>(ryx_malloc(static_cast<size_t>(n) * sizeof(T)));
}

template <typename T>
T *grow_array(T *p, int64_t n) {
  return static_cast<T *>(ryx_realloc(p, static_cast<size_t>(n) * sizeof(T)));
}

void scratch_init(component_scratch_stack_t *s, size_t element_size) {
  s->buffer = ryx_malloc(2 * element_size);
  s->used = 0;
  s->capacity = 2;
  s->high_water_mark = 2;
  s->reserved_total = 2;
  s->heap_block_count = 0;
}

void *scratch_alloc(component_scratch_stack_t *s, int32_t n, size_t element_size, bool clear) {
  if (s->heap_block_count == 0 && static_cast<int64_t>(s->used) + n <= s->capacity) {
    void *block = static_cast<char *>(s->buffer) + static_cast<size_t>(s->used) * element_size;
    if (clear) memset(block, 0, static_cast<size_t>(n) * element_size);
    s->used += n;
    return block;
  }
  void *block = ryx_malloc(static_cast<size_t>(n > 0 ? n : 1) * element_size);
  s->heap_block_count++;
  s->reserved_total += n;
  if (s->reserved_total > s->high_water_mark) s->high_water_mark = s->reserved_total;
  return block;
}

void scratch_release(component_scratch_stack_t *s, void *block, int32_t n, size_t element_size) {
  if (s->heap_block_count != 0) {
    s->reserved_total -= n;
    s->heap_block_count--;
    ryx_free(block);
    return;
  }
  s->used -= n;
  if (s->used == 0 && s->capacity < s->high_water_mark) {
    ryx_free(s->buffer);
    s->buffer = ryx_malloc(static_cast<size_t>(s->high_water_mark) * element_size);
    s->capacity = s->high_water_mark;
    s->reserved_total = s->high_water_mark;
  }
}

[[noreturn]] void index_not_found(const char *routine, oriented_id_t node) {
  printf("error in %s, node %x not found\n", routine, node);
  fflush(stdout);
  ryx_exit(1);
}

// Position of node in the sorted exterior border nodes, or -1.
int32_t find_exterior(const window_info_t *info, oriented_id_t node) {
  int32_t lo = 0, hi = info->exterior_border_node_count;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (info->exterior_border_nodes[mid] < node) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < info->exterior_border_node_count && info->exterior_border_nodes[lo] == node ? lo : -1;
}

int compare_u32(const void *a, const void *b, void *) {
  const uint32_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

void append_exterior(window_info_t *info, oriented_id_t node) {
  if (info->exterior_border_node_count == info->exterior_border_capacity) {
    const int32_t capacity = info->exterior_border_capacity * 2;
    info->exterior_border_nodes = grow_array(info->exterior_border_nodes, capacity);
    info->component_index = static_cast<int32_t(*)[2]>(
        ryx_realloc(info->component_index, static_cast<size_t>(capacity) * sizeof(int32_t[2])));
    info->exterior_border_capacity = capacity;
  }
  info->exterior_border_nodes[info->exterior_border_node_count++] = node;
}

void append_interior(window_info_t *info, oriented_id_t node) {
  if (info->interior_border_node_count == info->interior_border_capacity) {
    info->interior_border_capacity *= 2;
    info->interior_border_nodes = grow_array(info->interior_border_nodes, info->interior_border_capacity);
  }
  info->interior_border_nodes[info->interior_border_node_count++] = node;
}

// Lists t as an exterior border node unless it is listed already: mark 3
// flags a listed reverse node, mark 2 a listed forward one.
void add_exterior_once(fragment_graph_t *graph, window_info_t *info, oriented_id_t t) {
  if (fragment_graph_node_is_reverse(t)) {
    if (fragment_graph_get_mark3(graph, t)) return;
    fragment_graph_set_mark3(graph, t);
  } else {
    if (fragment_graph_get_mark2(graph, t)) return;
    fragment_graph_set_mark2(graph, t);
  }
  append_exterior(info, t);
}

// One side of window node w: the edges of the next list of `from` (w or its
// reverse); `self` is the target that makes an edge count twice.
void scan_side(fragment_graph_t *graph, window_info_t *info, oriented_id_t w, oriented_id_t from, oriented_id_t self,
               int64_t *half, int32_t *border, bool collect_interior) {
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, from); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_get_mark1(graph, t)) {
      *half += t == self ? 2 : 1;
      continue;
    }
    if (collect_interior && !fragment_graph_get_mark2(graph, w)) {
      append_interior(info, w);
      fragment_graph_set_mark2(graph, w);
    }
    (*border)++;
    add_exterior_once(graph, info, t);
  }
}

window_info_t *window_info_new() {
  auto *info = static_cast<window_info_t *>(ryx_calloc(sizeof(window_info_t)));
  info->exterior_border_capacity = 2;
  info->exterior_border_nodes = alloc_array<oriented_id_t>(2);
  info->component_index = static_cast<int32_t(*)[2]>(ryx_malloc(2 * sizeof(int32_t[2])));
  info->interior_border_capacity = 2;
  info->interior_border_nodes = alloc_array<oriented_id_t>(2);
  return info;
}

// Marks 1 on every window node, with the duplicate check for those from
// index `first` on.
void mark_window(component_window_t *context, int32_t first) {
  fragment_graph_t *graph = context->graph;
  for (int32_t i = 0; i < first; i++) fragment_graph_set_mark1(graph, context->component_nodes[i]);
  for (int32_t i = first; i < context->component_node_count; i++) {
    const oriented_id_t node = context->component_nodes[i];
    if (fragment_graph_get_mark1(graph, node)) {
      printf("component sanity check, node %x defined multiple time\n", node);
      fflush(stdout);
      ryx_exit(1);
    }
    fragment_graph_set_mark1(graph, node);
  }
}

void unmark_window(component_window_t *context) {
  for (int32_t i = 0; i < context->component_node_count; i++)
    fragment_graph_clear_mark1(context->graph, context->component_nodes[i]);
}

}  // namespace

component_window_t *component_window_new(fragment_graph_t *graph, read_info_t *read_info, int32_t bubble_size) {
  auto *c = static_cast<component_window_t *>(ryx_calloc(sizeof(component_window_t)));
  c->graph = graph;
  c->read_info = read_info;
  c->window_info = window_info_new();
  c->builder_trees = component_tree_set_new();
  c->bubble_size = bubble_size;
  scratch_init(&c->int_scratch, sizeof(int32_t));
  c->group_read_capacity = 2;
  c->group_prev_reads = alloc_array<read_ptr_t>(2);
  c->group_next_reads = alloc_array<read_ptr_t>(2);
  scratch_init(&c->u64_scratch, sizeof(uint64_t));
  c->read_list = component_read_list_new();
  c->crossing_capacity = 2;
  c->crossings = alloc_array<component_crossing_t>(2);
  c->read_path_capacity = 2;
  c->read_paths = alloc_array<component_read_path>(2);
  c->read_path_ptrs = alloc_array<component_read_path *>(2);
  c->path_group_capacity = 2;
  c->path_groups = alloc_array<component_path_group_t>(2);
  c->path_group_ptrs = alloc_array<component_path_group_t *>(2);
  c->group_row_capacity = 2;
  c->group_rows = alloc_array<component_group_row_t>(2);
  c->component_node_capacity = 2;
  c->component_nodes = alloc_array<oriented_id_t>(2);
  c->components.capacity = 2;
  c->components.sizes = alloc_array<int32_t>(2);
  c->components.first_groups = alloc_array<component_path_group_t *>(2);
  c->partial_path_capacity = 2;
  c->partial_paths = alloc_array<component_partial_path_t>(2);
  c->chain_step_capacity = 2;
  c->chain_steps = alloc_array<component_chain_step_t>(2);
  c->bubble_check_capacity = 2;
  c->bubble_check_nodes = alloc_array<oriented_id_t>(2);
  c->component_path_capacity = 2;
  c->component_paths = alloc_array<component_path_one *>(2);
  return c;
}

component_window_t *component_window_free(component_window_t *c) {
  if (c == nullptr) return nullptr;
  window_info_t *info = c->window_info;
  ryx_free(info->exterior_border_nodes);
  ryx_free(info->component_index);
  ryx_free(info->interior_border_nodes);
  ryx_free(info);
  ryx_free(c->int_scratch.buffer);
  ryx_free(c->u64_scratch.buffer);
  ryx_free(c->group_prev_reads);
  ryx_free(c->group_next_reads);
  component_read_list_free(c->read_list);
  ryx_free(c->crossings);
  ryx_free(c->read_paths);
  ryx_free(c->read_path_ptrs);
  ryx_free(c->path_groups);
  ryx_free(c->path_group_ptrs);
  ryx_free(c->group_rows);
  ryx_free(c->component_nodes);
  ryx_free(c->components.sizes);
  ryx_free(c->components.first_groups);
  component_tree_set_free(c->builder_trees);
  ryx_free(c->partial_paths);
  ryx_free(c->chain_steps);
  ryx_free(c->bubble_check_nodes);
  component_window_free_paths(c);
  ryx_free(c->component_paths);
  ryx_free(c);
  return nullptr;
}

void component_window_set_nodes(component_window_t *c, const oriented_id_t *nodes, int32_t n) {
  if (n > c->component_node_capacity) {
    ryx_free(c->component_nodes);
    c->component_nodes = alloc_array<oriented_id_t>(n);
    c->component_node_capacity = n;
  }
  if (n > 0) memcpy(c->component_nodes, nodes, static_cast<size_t>(n) * sizeof(oriented_id_t));
  c->component_node_count = n;
  mark_window(c, 0);
  get_window_info(c->graph, c->window_info, c->component_nodes, n);
  unmark_window(c);
}

void component_window_add_nodes(component_window_t *c, const oriented_id_t *nodes, int32_t n) {
  const int32_t old = c->component_node_count;
  if (old + n > c->component_node_capacity) {
    c->component_nodes = grow_array(c->component_nodes, old + n);
    c->component_node_capacity = old + n;
  }
  if (n > 0) memcpy(c->component_nodes + old, nodes, static_cast<size_t>(n) * sizeof(oriented_id_t));
  c->component_node_count = old + n;
  mark_window(c, old);
  get_window_info(c->graph, c->window_info, c->component_nodes, c->component_node_count);
  unmark_window(c);
}

void component_window_remove_last_nodes(component_window_t *c, int32_t k) {
  c->component_node_count = k >= c->component_node_count ? 0 : c->component_node_count - k;
  mark_window(c, c->component_node_count);
  get_window_info(c->graph, c->window_info, c->component_nodes, c->component_node_count);
  unmark_window(c);
}

int32_t get_window_info(fragment_graph_t *graph, window_info_t *info, const oriented_id_t *nodes, int32_t n) {
  int64_t half = 0;
  int32_t border = 0;
  info->exterior_border_node_count = 0;
  info->interior_border_node_count = 0;
  for (int32_t i = 0; i < n; i++) {
    const oriented_id_t w = nodes[i];
    const oriented_id_t rw = fragment_graph_reverse_node(w);
    scan_side(graph, info, w, rw, w, &half, &border, true);
    scan_side(graph, info, w, w, rw, &half, &border, true);
  }
  generic_sort(info->exterior_border_nodes, static_cast<uint64_t>(info->exterior_border_node_count),
               sizeof(oriented_id_t), compare_u32, nullptr);
  for (int32_t i = 0; i < info->exterior_border_node_count; i++) {
    fragment_graph_clear_mark2(graph, info->exterior_border_nodes[i]);
    fragment_graph_clear_mark3(graph, info->exterior_border_nodes[i]);
  }
  for (int32_t i = 0; i < info->interior_border_node_count; i++)
    fragment_graph_clear_mark2(graph, info->interior_border_nodes[i]);
  if (half % 2 != 0) {
    fprintf(stderr, "get_window_info: error, uneven number of interior edges\n");
    ryx_exit(1);
  }
  info->interior_node_count = n;
  info->interior_edge_count = static_cast<int32_t>(half / 2);
  info->border_edge_count = border;
  return info->exterior_border_node_count;
}

void component_window_update_exterior_border_nodes(component_window_t *c) {
  fragment_graph_t *graph = c->graph;
  window_info_t *info = c->window_info;
  info->exterior_border_node_count = 0;
  for (int32_t i = 0; i < c->component_node_count; i++) {
    const oriented_id_t w = c->component_nodes[i];
    const oriented_id_t sides[2] = {fragment_graph_reverse_node(w), w};
    for (oriented_id_t from : sides) {
      for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, from); e != kOrientedIdNone;
           e = fragment_graph_get_sibling_next_edge(graph, e)) {
        const oriented_id_t t = fragment_graph_get_edge_to_node(graph, e);
        if (!fragment_graph_get_mark1(graph, t)) add_exterior_once(graph, info, t);
      }
    }
  }
  generic_sort(info->exterior_border_nodes, static_cast<uint64_t>(info->exterior_border_node_count),
               sizeof(oriented_id_t), compare_u32, nullptr);
  for (int32_t i = 0; i < info->exterior_border_node_count; i++) {
    fragment_graph_clear_mark2(graph, info->exterior_border_nodes[i]);
    fragment_graph_clear_mark3(graph, info->exterior_border_nodes[i]);
  }
}

void component_window_print(const component_window_t *c) {
  const window_info_t *info = c->window_info;
  printf("window information, nodes");
  for (int32_t i = 0; i < c->component_node_count; i++) printf(" %x", c->component_nodes[i]);
  printf("\n");
  printf("  interior node count        %d\n", info->interior_node_count);
  printf("  interior edge count        %d\n", info->interior_edge_count);
  printf("  border edge count          %d\n", info->border_edge_count);
  printf("  exterior border node count %d\n", info->exterior_border_node_count);
  printf("  exterior border nodes     ");
  for (int32_t i = 0; i < info->exterior_border_node_count; i++) printf(" %x", info->exterior_border_nodes[i]);
  printf("\n");
  printf("  interior border node count %d\n", info->interior_border_node_count);
  printf("  interior border nodes     ");
  for (int32_t i = 0; i < info->interior_border_node_count; i++) printf(" %x", info->interior_border_nodes[i]);
  printf("\n");
}

int component_node_has_one_successor(const fragment_graph_t *graph, oriented_id_t node) {
  oriented_id_t e = fragment_graph_get_first_next_edge(graph, node);
  if (e == kOrientedIdNone) return 0;
  const oriented_id_t target = fragment_graph_get_edge_to_node(graph, e);
  for (; e != kOrientedIdNone; e = fragment_graph_get_sibling_next_edge(graph, e))
    if (fragment_graph_get_edge_to_node(graph, e) != target) return 0;
  return 1;
}

int32_t *component_window_alloc_ints(component_window_t *c, int32_t n) {
  return static_cast<int32_t *>(scratch_alloc(&c->int_scratch, n, sizeof(int32_t), true));
}

void component_window_release_ints(component_window_t *c, int32_t *block, int32_t n) {
  scratch_release(&c->int_scratch, block, n, sizeof(int32_t));
}

uint64_t *component_window_alloc_u64s(component_window_t *c, int32_t n) {
  return static_cast<uint64_t *>(scratch_alloc(&c->u64_scratch, n, sizeof(uint64_t), false));
}

void component_window_release_u64s(component_window_t *c, uint64_t *block, int32_t n) {
  scratch_release(&c->u64_scratch, block, n, sizeof(uint64_t));
}

component_read_list_t *component_read_list_new(void) {
  auto *list = static_cast<component_read_list_t *>(ryx_calloc(sizeof(component_read_list_t)));
  list->capacity = 10;
  list->entries = alloc_array<component_read_entry_t>(10);
  list->flags = alloc_array<int32_t>(10);
  list->fragment = kOrientedIdNone;
  return list;
}

component_read_list_t *component_read_list_free(component_read_list_t *list) {
  if (list == nullptr) return nullptr;
  ryx_free(list->entries);
  ryx_free(list->flags);
  ryx_free(list);
  return nullptr;
}

void component_read_list_set_fragment(component_read_list_t *list, oriented_id_t fragment) {
  list->fragment = fragment;
}

void component_read_list_add(component_read_list_t *list, read_ptr_t read_ptr, int32_t link, int32_t flag) {
  if (list->count == list->capacity) {
    list->capacity *= 2;
    list->entries = grow_array(list->entries, list->capacity);
    list->flags = grow_array(list->flags, list->capacity);
  }
  list->entries[list->count] = {read_ptr, link};
  list->flags[list->count] = flag;
  list->count++;
}

void component_read_list_fill(component_read_list_t *list, const read_info_t *info) {
  list->count = 0;
  const uint64_t n = read_info_get_occurrence_count(info, list->fragment);
  for (uint64_t i = 0; i < n; i++)
    component_read_list_add(list, read_info_get_sorted_occurrence(info, list->fragment, i), -1, 0);
}

void component_read_list_load(component_read_list_t *list, const read_ptr_t *read_ptrs, int32_t n) {
  list->count = 0;
  for (int32_t i = 0; i < n; i++) component_read_list_add(list, read_ptrs[i], 0, 0);
}

void component_read_list_reverse(component_window_t *c, component_read_list_t *list, const read_info_t *info) {
  const int32_t count = list->count;
  // Entry count + i keeps the link and flag of entry i while the front is
  // rewritten.
  for (int32_t i = 0; i < count; i++) component_read_list_add(list, 0, list->entries[i].link, list->flags[i]);
  int32_t *slot = component_window_alloc_ints(c, count);
  const oriented_id_t f = list->fragment;
  const oriented_id_t rf = oriented_id_flip(f);
  if (count == 0) {
    list->fragment = rf;
    component_window_release_ints(c, slot, count);
    list->count = 0;
    return;
  }
  if (oriented_id_is_reverse(f)) {
    for (int32_t i = 0; i < count; i++) slot[read_info_get_sorted_index(info, f, static_cast<uint64_t>(i))] = count + i;
  } else {
    for (int32_t i = 0; i < count; i++)
      slot[i] = count + static_cast<int32_t>(read_info_get_sorted_index(info, f, static_cast<uint64_t>(i)));
  }
  list->fragment = rf;
  int32_t d = 0;
  for (int32_t i = 0; i < count; i++) {
    const int32_t s = slot[i];
    if (list->flags[s] == 0) continue;
    list->entries[d] = {read_info_get_sorted_occurrence(info, rf, static_cast<uint64_t>(i)), list->entries[s].link};
    list->flags[d] = 0;
    d++;
  }
  component_window_release_ints(c, slot, count);
  list->count = d;
}

void component_read_list_print(const component_window_t *c, const component_read_list_t *list, const read_info_t *info,
                               int by_groups) {
  for (int32_t i = 0; i < list->count; i++) {
    const read_ptr_t p = list->entries[i].read_ptr;
    printf("%d: read_ptr (count %d, value %d),", i, static_cast<int>(read_info_get_count(info, read_ptr_get_index(p))),
           list->flags[i]);
    read_ptr_t q = p;
    while (read_info_has_prev(info, q)) q = read_info_get_prev(info, q);
    for (;;) {
      printf(" %x", read_info_get_fragment(info, q));
      if (q == p) printf("*");
      if (!read_info_has_next(info, q)) break;
      q = read_info_get_next(info, q);
    }
    printf(" |");
    if (by_groups) {
      for (int32_t k = list->entries[i].link; k >= 0; k = c->partial_paths[k].next) {
        printf(" component_index %d", c->partial_paths[k].component_index);
        for (int32_t s = c->partial_paths[k].first_step; s >= 0; s = c->chain_steps[s].next)
          printf(" (%d) %x", c->chain_steps[s].distance, c->chain_steps[s].node);
        printf(",");
      }
    } else {
      for (int32_t k = list->entries[i].link; k >= 0; k = c->crossings[k].next)
        printf(" %x,%lld", c->crossings[k].exit_node, static_cast<long long>(c->crossings[k].index_in_path));
    }
    printf("\n");
  }
}

void component_window_clear_crossings(component_window_t *c) { c->crossing_count = 0; }

void component_window_add_crossing(component_window_t *c, component_read_entry_t *entry, oriented_id_t exit_node,
                                   uint64_t index_in_path, uint64_t read_ptr) {
  if (c->crossing_count == c->crossing_capacity) {
    c->crossing_capacity *= 2;
    c->crossings = grow_array(c->crossings, c->crossing_capacity);
  }
  c->crossings[c->crossing_count] = {index_in_path, read_ptr, exit_node, entry->link};
  entry->link = c->crossing_count++;
}

component_crossing_t *component_window_first_crossing(component_window_t *c, const component_read_entry_t *entry) {
  return entry->link < 0 ? nullptr : &c->crossings[entry->link];
}

component_crossing_t *component_window_next_crossing(component_window_t *c, const component_crossing_t *crossing) {
  return crossing->next < 0 ? nullptr : &c->crossings[crossing->next];
}

void component_window_reset_component_index(component_window_t *c) {
  window_info_t *info = c->window_info;
  for (int32_t i = 0; i < info->exterior_border_node_count; i++) {
    info->component_index[i][0] = -1;
    info->component_index[i][1] = 0;
  }
}

void set_component_index(component_window_t *c, oriented_id_t node, int32_t index) {
  const int32_t at = find_exterior(c->window_info, node);
  if (at < 0) index_not_found("set_component_index", node);
  c->window_info->component_index[at][0] = index;
}

void set_component_index_and_size(component_window_t *c, oriented_id_t node, int32_t index, int32_t size) {
  const int32_t at = find_exterior(c->window_info, node);
  if (at < 0) index_not_found("set_component_index", node);
  c->window_info->component_index[at][0] = index;
  c->window_info->component_index[at][1] = size;
}

int32_t get_component_index(const component_window_t *c, oriented_id_t node) {
  const int32_t at = find_exterior(c->window_info, node);
  if (at < 0) index_not_found("get_component_index", node);
  return c->window_info->component_index[at][0];
}

void get_component_index_size(const component_window_t *c, oriented_id_t node, int32_t out[2]) {
  const int32_t at = find_exterior(c->window_info, node);
  if (at < 0) index_not_found("get_component_index_size", node);
  out[0] = c->window_info->component_index[at][0];
  out[1] = c->window_info->component_index[at][1];
}

void component_window_print_component_index(const component_window_t *c) {
  const window_info_t *info = c->window_info;
  for (int32_t i = 0; i < info->exterior_border_node_count; i++)
    printf("node %x, component index %d, component size %d\n", info->exterior_border_nodes[i],
           info->component_index[i][0], info->component_index[i][1]);
}

void component_window_clear_read_paths(component_window_t *c) { c->read_path_count = 0; }

void component_window_add_read_path(component_window_t *c, uint64_t read_start_ptr, uint64_t index_a, uint64_t index_b,
                                    uint64_t read_ptr_1, uint64_t read_ptr_2, uint32_t node_1, uint32_t node_2) {
  if (c->read_path_count == c->read_path_capacity) {
    c->read_path_capacity *= 2;
    c->read_paths = grow_array(c->read_paths, c->read_path_capacity);
    c->read_path_ptrs = grow_array(c->read_path_ptrs, c->read_path_capacity);
  }
  component_read_path *r = &c->read_paths[c->read_path_count++];
  r->read_start_ptr = read_start_ptr;
  r->read_start_index = index_a < index_b ? index_a : index_b;
  r->read_end_index = index_a < index_b ? index_b : index_a;
  if (node_1 <= node_2) {
    r->prev_node = node_1;
    r->next_node = node_2;
    r->prev_read_ptr = read_ptr_1;
    r->next_read_ptr = read_ptr_2;
  } else {
    r->prev_node = node_2;
    r->next_node = node_1;
    r->prev_read_ptr = read_ptr_2;
    r->next_read_ptr = read_ptr_1;
  }
}

int component_read_path_compare(const void *a, const void *b, void *) {
  const component_read_path *x = *static_cast<component_read_path *const *>(a);
  const component_read_path *y = *static_cast<component_read_path *const *>(b);
  if (x->prev_node != y->prev_node) return x->prev_node < y->prev_node ? -1 : 1;
  if (x->next_node != y->next_node) return x->next_node < y->next_node ? -1 : 1;
  if (x->read_start_ptr != y->read_start_ptr) return x->read_start_ptr < y->read_start_ptr ? -1 : 1;
  if (x->read_start_index != y->read_start_index) return x->read_start_index < y->read_start_index ? -1 : 1;
  if (x->read_end_index != y->read_end_index) return x->read_end_index > y->read_end_index ? -1 : 1;
  // One passage found from several interior border nodes: the record that
  // carries read pointers (found from the first node; the others hold all
  // ones) comes first, so that it is the one the grouping counts.
  if (x->prev_read_ptr != y->prev_read_ptr) return x->prev_read_ptr < y->prev_read_ptr ? -1 : 1;
  return 0;
}

void component_window_sort_read_paths(component_window_t *c) {
  for (int32_t i = 0; i < c->read_path_count; i++) c->read_path_ptrs[i] = &c->read_paths[i];
  generic_sort(c->read_path_ptrs, static_cast<uint64_t>(c->read_path_count), sizeof(component_read_path *),
               component_read_path_compare, nullptr);
}

void component_window_print_read_paths(const component_window_t *c) {
  for (int32_t i = 0; i < c->read_path_count; i++) {
    const component_read_path *r = c->read_path_ptrs[i];
    printf("component_read_path %i\n", i);
    printf("  read_start_ptr   %lld\n", static_cast<long long>(r->read_start_ptr));
    printf("  read_start_index %lld\n", static_cast<long long>(r->read_start_index));
    printf("  read_end_index   %lld\n", static_cast<long long>(r->read_end_index));
    printf("  prev_node        %x\n", r->prev_node);
    printf("  next_node        %x\n", r->next_node);
  }
}
