// Contig paths within the links' distances: enumeration, reduction and the
// links on every path.
#include "denovo/app/contig_paths.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/memory.h"

namespace {

// Orders paths by contig index (strand ignored) element by element, a
// prefix before its extensions, then by distance.
bool index_order(const contig_path_t *a, const contig_path_t *b) {
  const int32_t n = std::min(a->count, b->count);
  for (int32_t i = 0; i < n; i++) {
    const oriented_id_t x = contig_info_get_contig_index(a->ids[i]);
    const oriented_id_t y = contig_info_get_contig_index(b->ids[i]);
    if (x != y) return x < y;
  }
  if (a->count != b->count) return a->count < b->count;
  return a->distance < b->distance;
}

// 1 when a's oriented ids start b.
bool is_prefix(const contig_path_t *a, const contig_path_t *b) {
  if (a->count > b->count) return false;
  return std::equal(a->ids, a->ids + a->count, b->ids);
}

bool contains(const contig_path_t *path, oriented_id_t id) { return std::find(path->ids, path->ids + path->count, id) != path->ids + path->count; }

void ensure_capacity(contig_path_list_t *list, int32_t capacity) {
  if (list->capacity >= capacity) return;
  list->paths = static_cast<contig_path_t **>(ryx_realloc(list->paths, sizeof(contig_path_t *) * static_cast<size_t>(capacity)));
  list->capacity = capacity;
}

// Does the reduced path s explain the enumerated path o, given the sorted
// repeated contigs q (empty when no path repeated one)?
bool matches(const contig_path_t *s, const contig_path_t *o, const std::vector<oriented_id_t> &q) {
  if (o->count < s->count || s->count == 0) return false;
  if (o->ids[o->count - 1] != s->ids[s->count - 1]) return false;
  if (q.empty()) return is_prefix(s, o);
  if (s->ids[0] != o->ids[0]) return false;
  auto repeated = [&q](oriented_id_t id) { return std::binary_search(q.begin(), q.end(), id); };
  int32_t skip = 0;
  for (int32_t i = 0;;) {
    // Where o runs through a repeated contig, s's contig may be met again
    // later in o: jump to its later occurrences.
    int32_t j = i + skip;
    while (j < o->count - 1 && repeated(o->ids[j])) {
      int32_t later = j + 1;
      while (later < o->count && o->ids[later] != s->ids[i]) later++;
      if (later == o->count) break;
      j = later;
      skip = j - i;
    }
    i++;
    if (i == s->count) return true;
    if (i + skip >= o->count || s->ids[i] != o->ids[i + skip]) return false;
  }
}

int64_t distance_from(const paired_link_t *link, const contig_path_t *path) {
  return std::llabs(static_cast<int64_t>(link->centre) - path->distance);
}

}  // namespace

extern "C" {

int32_t contig_paths_next_power_of_two(int32_t n) {
  int32_t p = 1;
  while (p < n && p < (1 << 30)) p <<= 1;
  return p;
}

contig_path_list_t *contig_path_list_new(int32_t capacity) {
  auto *list = static_cast<contig_path_list_t *>(ryx_malloc(sizeof(contig_path_list_t)));
  list->count = 0;
  list->capacity = 0;
  list->paths = nullptr;
  ensure_capacity(list, std::max(capacity, 1));
  return list;
}

contig_path_list_t *contig_path_list_new_single(int32_t count, int32_t distance, paired_link_t *link) {
  contig_path_list_t *list = contig_path_list_new(1);
  list->paths[list->count++] = contig_path_new(count, distance, link);
  return list;
}

contig_path_list_t *contig_path_list_copy(const contig_path_list_t *list) {
  if (list == nullptr) return nullptr;
  contig_path_list_t *copy = contig_path_list_new(list->capacity);
  for (int32_t i = 0; i < list->count; i++) copy->paths[i] = contig_path_copy(list->paths[i]);
  copy->count = list->count;
  return copy;
}

contig_path_list_t *contig_path_list_free(contig_path_list_t *list) {
  if (list == nullptr) return nullptr;
  for (int32_t i = 0; i < list->count; i++) contig_path_free(list->paths[i]);
  ryx_free(list->paths);
  ryx_free(list);
  return nullptr;
}

contig_path_list_t *contig_path_list_join(contig_path_list_t *a, contig_path_list_t *b) {
  if (a == nullptr) return b;
  if (b == nullptr) return a;
  const int32_t sum = a->count + b->count;
  contig_path_list_t *into = a;
  contig_path_list_t *from = b;
  if (a->capacity < sum) {
    if (b->capacity >= sum) {
      into = b;
      from = a;
    } else {
      ensure_capacity(a, contig_paths_next_power_of_two(sum));
    }
  }
  std::copy(from->paths, from->paths + from->count, into->paths + into->count);
  into->count = sum;
  from->count = 0;
  contig_path_list_free(from);
  return into;
}

void contig_path_list_set_id(contig_path_list_t *list, int32_t position, oriented_id_t id) {
  for (int32_t i = 0; i < list->count; i++) list->paths[i]->ids[position] = id;
}

contig_path_list_t *contig_paths_enumerate(oriented_id_t contig, int32_t distance, int32_t depth,
                                           contig_links_t *links) {
  const paired_context_t *context = links->context;
  const fragment_graph_t *graph = context->graph;
  const contig_info_t *info = context->contigs;
  const oriented_id_t reverse = contig_info_reverse_contig(contig);
  const oriented_id_t last = contig_info_get_last_node(info, contig);
  const int64_t length = depth < 2 ? 0 : contig_info_get_contig_length(info, graph, contig);
  contig_path_list_t *list = nullptr;
  for (uint64_t i = 0; i < links->links->count; i++) {
    paired_link_t *l = paired_link_list_get(links->links, i);
    if (l->target == reverse && l->min_gap < distance && distance < l->max_gap) {
      list = contig_path_list_new_single(depth, distance, l);
      break;
    }
  }
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, last); e != kOrientedIdNone && links->budget > 0;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t next = contig_info_get_node_contig(info, fragment_graph_get_edge_to_node(graph, e));
    if (next == kOrientedIdNone) continue;
    const int64_t gap = distance + length + fragment_graph_get_edge_distance(graph, e);
    if (gap >= links->search_limit) continue;
    links->budget--;
    list = contig_path_list_join(list, contig_paths_enumerate(next, static_cast<int32_t>(gap), depth + 1, links));
  }
  if (list != nullptr) contig_path_list_set_id(list, depth - 1, contig);
  return list;
}

contig_path_list_t *contig_paths_enumerate_links(contig_links_t *links) {
  if (links->links->count == 0) return nullptr;
  const oriented_id_t contig = contig_info_get_node_contig(links->context->contigs, links->last_node);
  if (contig == kOrientedIdNone) return nullptr;
  return contig_paths_enumerate(contig, 0, 1, links);
}

void contig_paths_drop_prefixes(contig_path_list_t *list) {
  std::sort(list->paths, list->paths + list->count, index_order);
  std::vector<bool> drop(static_cast<size_t>(list->count), false);
  for (int32_t i = 0; i + 1 < list->count; i++) {
    const contig_path_t *a = list->paths[i];
    const contig_path_t *b = list->paths[i + 1];
    if (is_prefix(a, b) && a->distance < b->distance) drop[i] = true;
  }
  int32_t kept = 0;
  for (int32_t i = 0; i < list->count; i++) {
    if (drop[i]) {
      contig_path_free(list->paths[i]);
    } else {
      list->paths[kept++] = list->paths[i];
    }
  }
  list->count = kept;
  const int32_t capacity = std::max(kept, 1);
  list->paths = static_cast<contig_path_t **>(ryx_realloc(list->paths, sizeof(contig_path_t *) * static_cast<size_t>(capacity)));
  list->capacity = capacity;
}

array_list_t *contig_paths_cut_repeats(contig_path_list_t *list) {
  array_list_t *repeats = nullptr;
  for (int32_t p = 0; p < list->count; p++) {
    contig_path_t *path = list->paths[p];
    // Paths are short; the ids still in the path before j are the seen set.
    for (int32_t j = 1; j < path->count; j++) {
      const oriented_id_t id = path->ids[j];
      const oriented_id_t *earlier = std::find(path->ids, path->ids + j, id);
      if (earlier == path->ids + j) continue;
      if (repeats == nullptr) repeats = array_list_new(sizeof(oriented_id_t));
      array_list_add(repeats, &id);
      // Keep the earlier visit and let what followed the repeated one follow it.
      const int32_t at = static_cast<int32_t>(earlier - path->ids);
      std::copy(path->ids + j + 1, path->ids + path->count, path->ids + at + 1);
      path->count -= j - at;
      j = at;
    }
  }
  return repeats;
}

int32_t contig_paths_match_enumerated(const contig_path_list_t *enumerated, contig_path_list_t *reduced,
                                      array_list_t *repeats) {
  std::vector<oriented_id_t> q;
  if (repeats != nullptr) {
    const auto *ids = static_cast<const oriented_id_t *>(static_cast<void *>(repeats->items));
    q.assign(ids, ids + repeats->count);
    std::sort(q.begin(), q.end());
  }
  std::vector<const contig_path_t *> by_distance(enumerated->paths, enumerated->paths + enumerated->count);
  std::sort(by_distance.begin(), by_distance.end(),
            [](const contig_path_t *a, const contig_path_t *b) { return a->distance < b->distance; });
  int32_t unique = 1;
  std::vector<const contig_path_t *> matched;
  for (int32_t r = 0; r < reduced->count; r++) {
    const contig_path_t *s = reduced->paths[r];
    for (const contig_path_t *o : by_distance) {
      if (!matches(s, o, q)) continue;
      auto held = std::find_if(matched.begin(), matched.end(), [o](const contig_path_t *p) { return p->link == o->link; });
      if (held == matched.end()) {
        matched.push_back(o);
        continue;
      }
      // The same enumerated path met again through another reduced path is
      // still one explanation of its link.
      if (*held == o) continue;
      unique = 0;
      if (distance_from(o->link, o) < distance_from(o->link, *held)) *held = o;
    }
  }
  for (int32_t i = 0; i < reduced->count; i++) contig_path_free(reduced->paths[i]);
  reduced->count = 0;
  ensure_capacity(reduced, static_cast<int32_t>(matched.size()));
  for (const contig_path_t *p : matched) reduced->paths[reduced->count++] = contig_path_copy(p);
  return unique;
}

contig_path_list_t *contig_paths_reduce(const contig_links_t *links, const contig_path_list_t *paths,
                                        int32_t *unique) {
  *unique = 1;
  if (paths == nullptr) return nullptr;
  contig_path_list_t *reduced = contig_path_list_copy(paths);
  contig_paths_drop_prefixes(reduced);
  array_list_t *repeats = nullptr;
  if (links->repeat_cut) {
    repeats = contig_paths_cut_repeats(reduced);
    contig_paths_drop_prefixes(reduced);
  }
  *unique = contig_paths_match_enumerated(paths, reduced, repeats);
  array_list_free(repeats);
  return reduced;
}

void contig_links_on_all_paths(const contig_links_t *links, const contig_path_list_t *paths,
                               array_list_t *candidates) {
  if (paths == nullptr) return;
  contig_path_list_t *copy = contig_path_list_copy(paths);
  contig_paths_drop_prefixes(copy);
  for (uint64_t i = 0; i < links->links->count; i++) {
    paired_link_t *l = paired_link_list_get(links->links, i);
    const oriented_id_t reverse = contig_info_reverse_contig(l->target);
    bool everywhere = true;
    for (int32_t p = 0; p < copy->count && everywhere; p++) everywhere = contains(copy->paths[p], reverse);
    if (everywhere) array_list_add(candidates, &l);
  }
  contig_path_list_free(copy);
}

}  // extern "C"
