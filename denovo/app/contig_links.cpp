// Contig links from read pairs, and the placement test over them.
#include "denovo/app/contig_links.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "common/memory.h"
#include "denovo/reads/read_pair_info.h"

namespace {

// Walks along first next edges never take more steps than there are node
// slots (twice, for a circular contig listed round once more).
int64_t walk_limit(const fragment_graph_t *graph) { return 2 * static_cast<int64_t>(graph->node_count) + 2; }

// 1 when the fragment's own node is the only node carrying it.
bool fragment_is_unique(const fragment_graph_t *graph, oriented_id_t fragment) {
  const oriented_id_t node = fragment_graph_get_fragment_node(graph, fragment);
  return fragment_graph_get_other_node(graph, node) == kOrientedIdNone;
}

int32_t fragment_limit(const fragment_graph_t *graph, const read_info_t *read_info) {
  const int32_t n = fragment_graph_get_fragment_count(graph);
  return n > 0 ? n : static_cast<int32_t>(read_info->fragment_count);
}

// The contig's nodes in walk order with the bases from each node's start to
// the contig's end. A circular contig lists its start node again at the
// end (offset 0). Empty for a contig that no longer exists.
std::vector<contig_node_offset_t> walk_offsets(const paired_context_t *context, oriented_id_t contig) {
  const fragment_graph_t *graph = context->graph;
  const contig_info_t *info = context->contigs;
  std::vector<contig_node_offset_t> walk;
  const oriented_id_t first = contig_info_get_first_node(info, contig);
  const oriented_id_t last = contig_info_get_last_node(info, contig);
  if (first == kOrientedIdNone || last == kOrientedIdNone) return walk;
  const bool circular = contig_info_is_circular(info, contig) != 0;
  int64_t position = 0;
  walk.push_back({first, 0});
  if (circular || first != last) {
    oriented_id_t node = first;
    for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
      const oriented_id_t edge = fragment_graph_get_first_next_edge(graph, node);
      if (edge == kOrientedIdNone) break;
      position += fragment_graph_get_node_length(graph, node) + fragment_graph_get_edge_distance(graph, edge);
      node = fragment_graph_get_edge_to_node(graph, edge);
      walk.push_back({node, static_cast<int32_t>(position)});
      if (node == last) break;
    }
  }
  const int64_t total = circular ? position : position + fragment_graph_get_node_length(graph, walk.back().node);
  for (contig_node_offset_t &n : walk) n.offset = static_cast<int32_t>(total - n.offset);
  return walk;
}

bool bubble_ended(const paired_context_t *context, oriented_id_t contig) {
  return fragment_graph_is_bubble_node(context->graph, contig_info_get_first_node(context->contigs, contig)) != 0 ||
         fragment_graph_is_bubble_node(context->graph, contig_info_get_last_node(context->contigs, contig)) != 0;
}

// Bases from the start of node to the end of contig along first next edges;
// -1 when the walk comes back to node.
int64_t bases_to_contig_end(const paired_context_t *context, oriented_id_t node, oriented_id_t contig) {
  const fragment_graph_t *graph = context->graph;
  const oriented_id_t last = contig_info_get_last_node(context->contigs, contig);
  int64_t bases = 0;
  oriented_id_t at = node;
  for (int64_t steps = 0; steps < walk_limit(graph); steps++) {
    bases += fragment_graph_get_node_length(graph, at);
    if (at == last) return bases;
    const oriented_id_t edge = fragment_graph_get_first_next_edge(graph, at);
    if (edge == kOrientedIdNone) return bases;
    bases += fragment_graph_get_edge_distance(graph, edge);
    at = fragment_graph_get_edge_to_node(graph, edge);
    if (at == node) return -1;
  }
  return -1;
}

const paired_setting_t *pair_setting(const read_table_t *table, int32_t db_num) {
  if (db_num < 0 || db_num >= table->file_count || table->pair_dist_info == nullptr) return nullptr;
  const pair_dist_info_t *info = table->pair_dist_info[db_num];
  return info != nullptr ? info->setting : nullptr;
}

bool by_target(const paired_link_t *a, const paired_link_t *b) {
  if (a->target != b->target) return a->target < b->target;
  return a->centre < b->centre;
}

paired_link_t **link_array(array_list_t *links) { return reinterpret_cast<paired_link_t **>(links->items); }

// Keeps the links for which keep() holds, in order; frees the others.
template <typename Keep>
void compact_links(array_list_t *links, Keep keep) {
  paired_link_t **items = link_array(links);
  uint64_t kept = 0;
  for (uint64_t i = 0; i < links->count; i++) {
    if (keep(items[i])) {
      items[kept++] = items[i];
    } else {
      ryx_free(items[i]);
    }
  }
  links->count = kept;
}

}  // namespace

extern "C" {

array_list_t *paired_link_list_new(void) { return array_list_new(sizeof(paired_link_t *)); }

array_list_t *paired_link_list_free(array_list_t *links) {
  if (links == nullptr) return nullptr;
  for (uint64_t i = 0; i < links->count; i++) ryx_free(paired_link_list_get(links, i));
  return array_list_free(links);
}

contig_links_t *contig_links_new(paired_context_t *context, array_list_t *links, oriented_id_t last_node,
                                 int32_t repeat_cut, int32_t budget) {
  auto *record = static_cast<contig_links_t *>(ryx_malloc(sizeof(contig_links_t)));
  record->context = context;
  record->links = links;
  record->last_node = last_node;
  int32_t limit = 0;
  for (uint64_t i = 0; i < links->count; i++) limit = std::max(limit, paired_link_list_get(links, i)->max_gap);
  record->search_limit = limit;
  record->repeat_cut = repeat_cut;
  record->budget = budget;
  return record;
}

contig_links_t *contig_links_free(contig_links_t *links) {
  if (links == nullptr) return nullptr;
  paired_link_list_free(links->links);
  ryx_free(links);
  return nullptr;
}

contig_links_t *contig_links_build(paired_context_t *context, oriented_id_t contig) {
  array_list_t *links = contig_links_collect(context, contig);
  contig_links_sort_by_target(links);
  return contig_links_new(context, links, contig_info_get_last_node(context->contigs, contig), 1, kContigLinksBudget);
}

contig_node_offset_t *contig_node_offsets(const paired_context_t *context, oriented_id_t contig, int32_t *count) {
  std::vector<contig_node_offset_t> walk = walk_offsets(context, contig);
  *count = static_cast<int32_t>(walk.size());
  if (walk.empty()) return nullptr;
  std::sort(walk.begin(), walk.end(), [](const contig_node_offset_t &a, const contig_node_offset_t &b) {
    return a.node != b.node ? a.node < b.node : a.offset < b.offset;
  });
  auto *out = static_cast<contig_node_offset_t *>(ryx_malloc(sizeof(contig_node_offset_t) * walk.size()));
  std::copy(walk.begin(), walk.end(), out);
  return out;
}

int32_t contig_node_offset_find(const contig_node_offset_t *offsets, int32_t count, oriented_id_t node) {
  const contig_node_offset_t *end = offsets + count;
  const contig_node_offset_t *at = std::lower_bound(
      offsets, end, node, [](const contig_node_offset_t &a, oriented_id_t n) { return a.node < n; });
  return at != end && at->node == node ? at->offset : -1;
}

array_list_t *contig_links_collect(const paired_context_t *context, oriented_id_t contig) {
  array_list_t *links = paired_link_list_new();
  const std::vector<contig_node_offset_t> walk = walk_offsets(context, contig);
  const bool circular = contig_info_is_circular(context->contigs, contig) != 0;
  // A circular contig's walk lists its start node twice; its pairs count once.
  const size_t nodes = circular && walk.size() > 1 ? walk.size() - 1 : walk.size();
  for (size_t i = 0; i < nodes; i++) contig_links_add_node_pairs(context, links, contig, walk[i].node, walk[i].offset);
  contig_links_filter_support(links);
  contig_links_average(links);
  contig_links_merge(links);
  return links;
}

void contig_links_add_node_pairs(const paired_context_t *context, array_list_t *links, oriented_id_t contig,
                                 oriented_id_t node, int32_t offset) {
  const fragment_graph_t *graph = context->graph;
  const read_table_t *table = context->table;
  const read_pair_info_t *pairs = table->read_pair_info;
  const read_info_t *read_info = table->read_info;
  if (pairs == nullptr || pairs->count == 0) return;
  const oriented_id_t fragment = fragment_graph_get_node_fragment(graph, node);
  const bool unique = fragment_is_unique(graph, fragment);
  uint64_t n = 0;
  if (unique) {
    const read_pair_t *range = read_pair_info_find_by_fragment1(pairs, fragment, &n);
    contig_links_add_pairs(context, links, contig, range, n, kReadPtrNone, 1, offset);
    range = read_pair_info_find_by_fragment2(pairs, fragment, &n);
    contig_links_add_pairs(context, links, contig, range, n, kReadPtrNone, 2, offset);
  }
  if (read_info == nullptr || read_info->offsets == nullptr) return;
  const bool first_node = contig_info_get_first_node(context->contigs, contig) == node;
  const uint64_t occurrences = read_info_get_occurrence_count(read_info, fragment);
  for (uint64_t i = 0; i < occurrences; i++) {
    const read_ptr_t f = read_info_get_occurrence(read_info, fragment, i);
    if (read_ptr_is_reverse(f)) continue;
    read_ptr_t g = f;
    if (read_info_has_prev(read_info, f)) {
      // A read that starts before this node is taken only at the contig's
      // first node; elsewhere it was taken at the node where it starts.
      if (!first_node) continue;
      while (read_info_has_prev(read_info, g)) g = read_info_get_prev(read_info, g);
    }
    if (!unique && (read_path_find_unique(graph, read_info, f) == kReadPtrNone ||
                    !read_path_follows_graph(graph, read_info, read_ptr_flip(f), fragment_graph_reverse_node(node)) ||
                    !read_path_follows_graph(graph, read_info, f, node))) {
      continue;
    }
    const read_pair_t *range = read_pair_info_find_by_read_ptr1(pairs, g, &n);
    contig_links_add_pairs(context, links, contig, range, n, f, 1, offset);
    range = read_pair_info_find_by_read_ptr2(pairs, g, &n);
    contig_links_add_pairs(context, links, contig, range, n, f, 2, offset);
  }
}

void contig_links_add_pairs(const paired_context_t *context, array_list_t *links, oriented_id_t contig,
                            const read_pair_t *pairs, uint64_t count, read_ptr_t element, int end, int32_t offset) {
  if (count == 0) return;
  const fragment_graph_t *graph = context->graph;
  const read_table_t *table = context->table;
  const read_pair_info_t *info = table->read_pair_info;
  const read_info_t *read_info = table->read_info;
  const int64_t s = read_path_element_offset(graph, read_info, element);
  const int32_t node_slots = fragment_graph_get_node_count(graph);
  for (uint64_t p = 0; p < count; p++) {
    const read_pair_t *pair = &pairs[p];
    const int32_t db_num = read_pair_info_get_db_num(pair);
    const paired_setting_t *setting = pair_setting(table, db_num);
    if (setting == nullptr) continue;
    const oriented_id_t mate_fragment =
        end == 1 ? read_pair_info_get_fragment2(info, pair) : read_pair_info_get_fragment1(info, pair);
    oriented_id_t mate_node;
    read_ptr_t mate_element = kReadPtrNone;
    if (mate_fragment != kOrientedIdNone) {
      if (static_cast<int32_t>(oriented_id_get_index(mate_fragment)) >= node_slots) continue;
      if (!fragment_is_unique(graph, mate_fragment)) continue;
      mate_node = fragment_graph_get_fragment_node(graph, mate_fragment);
    } else {
      if (read_info == nullptr) continue;
      const read_ptr_t mate = end == 1 ? read_pair_info_get_read_ptr2(info, pair) : read_pair_info_get_read_ptr1(info, pair);
      // The mate is placed by the first element of its path that only one
      // node carries; its offset below is that element's, so that the node's
      // distance to the contig end and the element's place in the path
      // measure from the same point.
      mate_element = read_path_find_unique(graph, read_info, mate);
      if (mate_element == kReadPtrNone) continue;
      mate_node = fragment_graph_get_fragment_node(graph, read_info_get_fragment(read_info, mate_element));
    }
    const oriented_id_t mate_contig = contig_info_get_node_contig(context->contigs, mate_node);
    if (mate_contig == kOrientedIdNone) continue;
    if (contig_info_get_contig_index(mate_contig) == contig_info_get_contig_index(contig)) continue;
    if (bubble_ended(context, mate_contig)) continue;
    const int64_t v = read_path_element_offset(graph, read_info, mate_element);
    const int64_t d = bases_to_contig_end(context, mate_node, mate_contig);
    if (d < 0) continue;
    const int32_t this_offset = end == 1 ? read_pair_info_get_offset1(pair) : read_pair_info_get_offset2(pair);
    const int32_t mate_offset = end == 1 ? read_pair_info_get_offset2(pair) : read_pair_info_get_offset1(pair);
    const int64_t x = s + offset - this_offset;
    const int64_t y = d + v - mate_offset;
    const int64_t hi = setting->max_distance - x - y;
    if (hi <= 0) continue;
    const int64_t lo = setting->min_distance - x - y;
    if (lo < INT32_MIN || hi > INT32_MAX) continue;
    contig_links_add(links, mate_contig, static_cast<int32_t>(lo), static_cast<int32_t>(hi), db_num);
  }
}

void contig_links_add(array_list_t *links, oriented_id_t target, int32_t lo, int32_t hi, int32_t library) {
  for (uint64_t i = 0; i < links->count; i++) {
    paired_link_t *l = paired_link_list_get(links, i);
    if (l->target != target || l->centre != library) continue;
    if (!(l->min_gap / l->support < hi && l->max_gap / l->support > lo)) continue;
    const int64_t min_sum = static_cast<int64_t>(l->min_gap) + lo;
    const int64_t max_sum = static_cast<int64_t>(l->max_gap) + hi;
    // A link so well supported that its sums fill 32 bits needs no more pairs.
    if (min_sum < INT32_MIN || min_sum > INT32_MAX || max_sum < INT32_MIN || max_sum > INT32_MAX) return;
    l->support++;
    l->min_gap = static_cast<int32_t>(min_sum);
    l->max_gap = static_cast<int32_t>(max_sum);
    return;
  }
  auto *l = static_cast<paired_link_t *>(ryx_malloc(sizeof(paired_link_t)));
  *l = {target, 1, lo, hi, library};
  array_list_add(links, &l);
}

int32_t contig_links_support_threshold(int64_t total) {
  if (total <= 0) return 0;
  const double t = std::trunc(2.0 * std::log(static_cast<double>(total)) - 5.0);
  return t > 3.0 ? static_cast<int32_t>(t) : 3;
}

void contig_links_filter_support(array_list_t *links) {
  int64_t total = 0;
  for (uint64_t i = 0; i < links->count; i++) total += paired_link_list_get(links, i)->support;
  if (total <= 0) return;
  const int32_t threshold = contig_links_support_threshold(total);
  compact_links(links, [threshold](const paired_link_t *l) { return l->support >= threshold; });
}

void contig_links_average(array_list_t *links) {
  for (uint64_t i = 0; i < links->count; i++) {
    paired_link_t *l = paired_link_list_get(links, i);
    l->min_gap /= l->support;
    l->max_gap /= l->support;
    l->centre = static_cast<int32_t>((static_cast<int64_t>(l->min_gap) + l->max_gap) / 2);
  }
}

void contig_links_sort_by_target(array_list_t *links) {
  std::sort(link_array(links), link_array(links) + links->count, by_target);
}

void contig_links_merge(array_list_t *links) {
  if (links->count < 2) return;
  contig_links_sort_by_target(links);
  paired_link_t **items = link_array(links);
  // Sums of a group are taken in 64 bits and divided back when it closes.
  struct group_t {
    paired_link_t *head;
    int64_t min, max, centre;
    int32_t size;
  };
  group_t g{items[0], items[0]->min_gap, items[0]->max_gap, items[0]->centre, 1};
  auto close = [](group_t &group) {
    group.head->min_gap = static_cast<int32_t>(group.min / group.size);
    group.head->max_gap = static_cast<int32_t>(group.max / group.size);
    group.head->centre = static_cast<int32_t>(group.centre / group.size);
  };
  uint64_t kept = 1;
  for (uint64_t i = 1; i < links->count; i++) {
    paired_link_t *r = items[i];
    if (r->target == g.head->target && r->min_gap < g.max / g.size && g.min / g.size < r->max_gap) {
      g.min += r->min_gap;
      g.max += r->max_gap;
      g.centre += r->centre;
      g.size++;
      ryx_free(r);
      continue;
    }
    close(g);
    g = {r, r->min_gap, r->max_gap, r->centre, 1};
    items[kept++] = r;
  }
  close(g);
  links->count = kept;
}

paired_link_t *contig_links_check_placement(const paired_context_t *context, array_list_t *links,
                                            array_list_t *collect, oriented_id_t target, int32_t min_length) {
  const fragment_graph_t *graph = context->graph;
  const contig_info_t *info = context->contigs;
  const int32_t k = graph->word_size;
  paired_link_t **items = link_array(links);
  const int64_t n = static_cast<int64_t>(links->count);
  std::sort(items, items + n, [](const paired_link_t *a, const paired_link_t *b) { return a->centre < b->centre; });
  uint64_t known = 0;
  if (collect != nullptr) {
    contig_links_sort_by_target(collect);
    known = collect->count;
  }
  int64_t from = 0;
  int64_t to = n;
  int64_t g = -9999;
  if (target != kOrientedIdNone) {
    from = 0;
    while (from < n && items[from]->target != target) from++;
    if (from == n) return nullptr;
    to = from + 1;
    g = 9999;
  }
  // Lengths are needed for neighbours on both sides; look each up once.
  std::vector<int32_t> lengths(static_cast<size_t>(n), -1);
  auto length_of = [&](int64_t j) {
    if (lengths[j] < 0) lengths[j] = contig_info_get_contig_length(info, graph, items[j]->target);
    return lengths[j];
  };
  // A contig of length 0 still weighs as one base: the shares below divide
  // by the capped lengths.
  auto cap_of = [](int64_t len) { return static_cast<float>(std::max<int64_t>(1, std::min<int64_t>(len, 2000))); };
  int64_t s = 0;
  for (int64_t i = from; i < to; i++) {
    paired_link_t *l = items[i];
    const int64_t len = length_of(i);
    const float lcap = cap_of(len);
    const int64_t end = static_cast<int64_t>(l->centre) + len;
    if (len >= min_length && l->support >= 4) {
      float score = 0.0f;
      if (l->centre < g - k) {
        for (int64_t j = i - 1; j >= s; j--) {
          const int64_t len_j = length_of(j);
          const float cap_j = cap_of(len_j);
          const int64_t end_j = items[j]->centre + len_j;
          if (end_j < end) {
            const int64_t ov = end_j - l->centre - k;
            if (ov > 0) {
              score += static_cast<float>(items[j]->support) * (cap_j / lcap) *
                       (static_cast<float>(std::min<int64_t>(ov, 2000)) / cap_j);
            }
          } else {
            score += static_cast<float>(items[j]->support) * cap_j / lcap;
          }
        }
      }
      for (int64_t j = i + 1; j < n && items[j]->centre <= end; j++) {
        const int64_t len_j = length_of(j);
        const float cap_j = cap_of(len_j);
        if (items[j]->centre + len_j < end) {
          score += static_cast<float>(items[j]->support) * cap_j / lcap;
        } else {
          const int64_t ov = std::min<int64_t>(2000, std::max<int64_t>(0, end - items[j]->centre - k));
          score += static_cast<float>(items[j]->support) * (cap_j / lcap) * (static_cast<float>(ov) / cap_j);
        }
      }
      if (score < 0.25f * static_cast<float>(l->support)) {
        if (collect == nullptr) return l;
        const auto begin = reinterpret_cast<paired_link_t **>(collect->items);
        const bool present = std::binary_search(
            begin, begin + known, l, [](const paired_link_t *a, const paired_link_t *b) { return a->target < b->target; });
        if (!present) array_list_add(collect, &l);
      }
    }
    if (end > g) s = i;
    g = std::max(g, end);
  }
  return nullptr;
}

read_ptr_t read_path_find_unique(const fragment_graph_t *graph, const read_info_t *read_info, read_ptr_t element) {
  const int32_t limit = fragment_limit(graph, read_info);
  auto unique = [&](read_ptr_t p) {
    const oriented_id_t f = read_info_get_fragment(read_info, p);
    return static_cast<int64_t>(oriented_id_get_index(f)) < limit && fragment_is_unique(graph, f);
  };
  if (unique(element)) return element;
  for (read_ptr_t p = element; read_info_has_prev(read_info, p);) {
    p = read_info_get_prev(read_info, p);
    if (unique(p)) return p;
  }
  for (read_ptr_t p = element; read_info_has_next(read_info, p);) {
    p = read_info_get_next(read_info, p);
    if (unique(p)) return p;
  }
  return kReadPtrNone;
}

int read_path_follows_graph(const fragment_graph_t *graph, const read_info_t *read_info, read_ptr_t element,
                            oriented_id_t node) {
  if (!read_info_has_next(read_info, element)) return 1;
  const read_ptr_t next = read_info_get_next(read_info, element);
  const int32_t distance = read_info_get_next_distance(read_info, element);
  const oriented_id_t fragment = read_info_get_fragment(read_info, next);
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    if (fragment_graph_get_edge_distance(graph, e) != distance) continue;
    const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
    if (fragment_graph_get_node_fragment(graph, to) != fragment) continue;
    if (read_path_follows_graph(graph, read_info, next, to)) return 1;
  }
  return 0;
}

int32_t read_path_element_offset(const fragment_graph_t *graph, const read_info_t *read_info, read_ptr_t element) {
  if (element == kReadPtrNone || read_info == nullptr) return 0;
  int64_t offset = 0;
  for (read_ptr_t p = element; read_info_has_prev(read_info, p);) {
    offset += read_info_get_prev_distance(read_info, p);
    p = read_info_get_prev(read_info, p);
    offset += fragment_graph_get_fragment_length(graph, read_info_get_fragment(read_info, p));
  }
  return static_cast<int32_t>(offset);
}

}  // extern "C"
