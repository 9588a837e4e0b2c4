#include "denovo/app/scaffolding.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unordered_set>
#include <vector>

#include "common/progress_meter.h"
#include "common/ryx_exit.h"
#include "denovo/app/paired_optimize_records.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_build_by_path.h"

namespace {

using Link = paired_optimize_result_t;

Link **items_of(const array_list_t *list) { return reinterpret_cast<Link **>(list->items); }
uint64_t count_of(const array_list_t *list) { return array_list_get_count(list); }

// Link orders. Node ids compare unsigned, gaps signed.
bool by_from_to_gap(const Link *a, const Link *b) {
  if (a->link.from != b->link.from) return a->link.from < b->link.from;
  if (a->link.to != b->link.to) return a->link.to < b->link.to;
  return a->link.gap < b->link.gap;
}
bool by_from_gap_to(const Link *a, const Link *b) {
  if (a->link.from != b->link.from) return a->link.from < b->link.from;
  if (a->link.gap != b->link.gap) return a->link.gap < b->link.gap;
  return a->link.to < b->link.to;
}

void sort_list(array_list_t *list, bool (*less)(const Link *, const Link *)) {
  Link **items = items_of(list);
  if (count_of(list) > 1) std::sort(items, items + count_of(list), less);
}

// The run [first, last) of links with that from and to in a list sorted by
// (from, to, gap).
std::pair<uint64_t, uint64_t> run_of(const array_list_t *list, oriented_id_t from, oriented_id_t to) {
  Link **items = items_of(list);
  const uint64_t n = count_of(list);
  auto before = [](const Link *l, std::pair<oriented_id_t, oriented_id_t> key) {
    return std::make_pair(l->link.from, l->link.to) < key;
  };
  auto after = [](std::pair<oriented_id_t, oriented_id_t> key, const Link *l) {
    return key < std::make_pair(l->link.from, l->link.to);
  };
  const auto key = std::make_pair(from, to);
  Link **lo = std::lower_bound(items, items + n, key, before);
  Link **hi = std::upper_bound(lo, items + n, key, after);
  return {static_cast<uint64_t>(lo - items), static_cast<uint64_t>(hi - items)};
}

// The run of links with that from in a list sorted by from first.
std::pair<uint64_t, uint64_t> run_of_from(const array_list_t *list, oriented_id_t from) {
  Link **items = items_of(list);
  const uint64_t n = count_of(list);
  Link **lo = std::lower_bound(items, items + n, from, [](const Link *l, oriented_id_t f) { return l->link.from < f; });
  Link **hi = std::upper_bound(lo, items + n, from, [](oriented_id_t f, const Link *l) { return f < l->link.from; });
  return {static_cast<uint64_t>(lo - items), static_cast<uint64_t>(hi - items)};
}

// The link equal to {from, to, gap} in a list sorted by (from, to, gap).
Link *find_exact(const array_list_t *list, oriented_id_t from, oriented_id_t to, int32_t gap) {
  const auto [lo, hi] = run_of(list, from, to);
  Link **items = items_of(list);
  for (uint64_t i = lo; i < hi; i++) {
    if (items[i]->link.gap == gap) return items[i];
  }
  return nullptr;
}

bool within(int32_t a, int32_t b) { return b >= a - kScaffoldPairTolerance && b <= a + kScaffoldPairTolerance; }

void remove_at(array_list_t *list, uint64_t i) {
  Link **items = items_of(list);
  items[i] = items[list->count - 1];
  list->count--;
}

oriented_id_t contig_of(const paired_context_t *context, oriented_id_t node) {
  if (node == kOrientedIdNone) return kOrientedIdNone;
  return contig_info_get_node_contig(context->contigs, node);
}

bool contig_exists(const paired_context_t *context, oriented_id_t contig) {
  return contig != kOrientedIdNone &&
         contig_info_get_contig_index(contig) < static_cast<uint32_t>(context->contigs->contig_count) &&
         contig_info_get_first_node(context->contigs, contig) != kOrientedIdNone;
}

// Bases after the end of node to the end of its contig, whose last node is
// last: the edge distances and node lengths along first next edges. A walk
// that comes back to node (a circle) gives -1 - the node's length.
int32_t bases_to_contig_end(const fragment_graph_t *graph, oriented_id_t node, oriented_id_t last) {
  int64_t sum = 0;
  oriented_id_t at = node;
  while (at != last) {
    const oriented_id_t e = fragment_graph_get_first_next_edge(graph, at);
    if (e == kOrientedIdNone) break;
    at = fragment_graph_get_edge_to_node(graph, e);
    if (at == node) return -1 - fragment_graph_get_node_length(graph, node);
    sum += fragment_graph_get_edge_distance(graph, e) + fragment_graph_get_node_length(graph, at);
  }
  return static_cast<int32_t>(sum);
}

// Mark4 on the node's first gap edge, mark5 on a later one.
void set_scaffold_end_mark(fragment_graph_t *graph, oriented_id_t node) {
  if (fragment_graph_get_mark4(graph, node)) {
    fragment_graph_set_mark5(graph, node);
  } else {
    fragment_graph_set_mark4(graph, node);
  }
}

void rebuild_contigs(paired_optimize_job_t *job) {
  paired_context_t *context = job->context;
  context->contigs = contig_info_free(context->contigs);
  fragment_graph_set_bubbles(context->graph, context->table->read_info, job->bubble_size, job->bubble_size / 5, 0);
}

}  // namespace

extern "C" {

array_list_t *scaffold_links_pair(array_list_t *list) {
  sort_list(list, by_from_to_gap);
  Link **items = items_of(list);
  const uint64_t n = count_of(list);
  array_list_t *kept = array_list_new(sizeof(Link *));
  const Link *last_handled = nullptr;
  for (uint64_t i = 0; i < n; i++) {
    Link *r = items[i];
    if (last_handled != nullptr && last_handled->link.from == r->link.from && last_handled->link.to == r->link.to &&
        within(last_handled->link.gap, r->link.gap)) {
      continue;  // the same join as the link handled before
    }
    last_handled = r;
    const auto [lo, hi] =
        run_of(list, fragment_graph_reverse_node(r->link.to), fragment_graph_reverse_node(r->link.from));
    if (lo == hi) continue;  // not confirmed from the other strand
    // Start at the partner nearest above r's gap (the last one when all lie
    // below) and step toward r's gap until one lies within the tolerance.
    uint64_t p = lo;
    while (p + 1 < hi && items[p]->link.gap < r->link.gap) p++;
    bool found = false;
    if (items[p]->link.gap == r->link.gap) {
      found = true;
    } else {
      const bool up = r->link.gap > items[p]->link.gap;
      for (int64_t q = static_cast<int64_t>(p); q >= static_cast<int64_t>(lo) && q < static_cast<int64_t>(hi);
           q += up ? 1 : -1) {
        if (within(r->link.gap, items[q]->link.gap)) {
          Link *partner = items[q];
          const int32_t mean = static_cast<int32_t>((static_cast<int64_t>(r->link.gap) + partner->link.gap) / 2);
          r->link.gap = mean;
          partner->link.gap = mean;
          found = true;
          break;
        }
      }
    }
    if (found) array_list_add(kept, &r);
  }
  array_list_trim(kept);
  return kept;
}

int32_t contig_path_distance_to_end(const fragment_graph_t *graph, const contig_path_t *path, int32_t j, int reverse) {
  const int32_t m = path->count;
  int64_t sum = 0;
  if (!reverse) {
    if (j >= m - 1) return 0;
    oriented_id_t at = path->ids[m - 1];
    for (int32_t step = 0; step < m - 1 - j; step++) {
      const oriented_id_t e = fragment_graph_get_first_prev_edge(graph, at);
      if (e == kOrientedIdNone) return -1;
      sum += fragment_graph_get_node_length(graph, at) + fragment_graph_get_edge_distance(graph, e);
      at = fragment_graph_get_edge_from_node(graph, e);
    }
  } else {
    if (j <= 0) return 0;
    oriented_id_t at = path->ids[0];
    for (int32_t step = 0; step < j; step++) {
      const oriented_id_t e = fragment_graph_get_first_next_edge(graph, at);
      if (e == kOrientedIdNone) return -1;
      sum += fragment_graph_get_node_length(graph, at) + fragment_graph_get_edge_distance(graph, e);
      at = fragment_graph_get_edge_to_node(graph, e);
    }
  }
  return static_cast<int32_t>(sum);
}

void scaffold_links_move_to_path_ends(paired_context_t *context, array_list_t *list, const array_list_t *paths) {
  sort_list(list, by_from_to_gap);
  const int32_t k = context->graph->word_size;
  const uint64_t path_count = paths != nullptr ? count_of(paths) : 0;
  Link **path_items = path_count > 0 ? items_of(paths) : nullptr;

  // Nodes inside two or more confirmed paths (the inner nodes but the last
  // of every valid path of at least 4 nodes).
  std::map<oriented_id_t, int32_t> seen_in;
  for (uint64_t i = 0; i < path_count; i++) {
    const contig_path_t *p = path_items[i]->path;
    if (p->count < 4 || p->ids[0] == kOrientedIdNone) continue;
    std::vector<oriented_id_t> nodes(p->ids + 1, p->ids + p->count - 2);
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    for (oriented_id_t node : nodes) seen_in[node]++;
  }
  auto shared = [&](oriented_id_t node) {
    auto it = seen_in.find(node);
    return it != seen_in.end() && it->second >= 2;
  };

  // Marks first, moves afterwards: moving changes the keys the partner
  // lookups search by. A link is moved by its first mark only.
  struct Move {
    Link *link;
    Link *partner;
    bool drop;
    oriented_id_t to;
    int32_t distance;
  };
  std::vector<Move> moves;
  std::unordered_set<const Link *> marked;
  Link **items = items_of(list);
  for (uint64_t i = 0; i < path_count; i++) {
    const contig_path_t *p = path_items[i]->path;
    const int32_t m = p->count;
    if (m < 2 || p->ids[0] == kOrientedIdNone) continue;
    for (int32_t j = 0; j <= m - 2; j++) {
      for (int reverse = 0; reverse < 2; reverse++) {
        const oriented_id_t g = reverse ? fragment_graph_reverse_node(p->ids[j]) : p->ids[j];
        const auto [lo, hi] = run_of_from(list, g);
        for (uint64_t x = lo; x < hi; x++) {
          Link *l = items[x];
          Link *partner = find_exact(list, fragment_graph_reverse_node(l->link.to),
                                     fragment_graph_reverse_node(l->link.from), l->link.gap);
          if (partner == nullptr) continue;
          if (!marked.insert(l).second) continue;
          Move move{l, partner, false, kOrientedIdNone, 0};
          if (shared(p->ids[j]) || shared(fragment_graph_reverse_node(p->ids[j]))) {
            move.drop = true;
          } else {
            move.to = reverse ? fragment_graph_reverse_node(p->ids[0]) : p->ids[m - 1];
            if (move.to == l->link.to) {
              move.drop = true;
            } else {
              move.distance = contig_path_distance_to_end(context->graph, p, j, reverse);
            }
          }
          moves.push_back(move);
        }
      }
    }
  }
  for (const Move &move : moves) {
    Link *l = move.link;
    if (move.drop || l->link.gap - move.distance <= -k) {
      l->link.from = kOrientedIdNone;
      move.partner->link.to = kOrientedIdNone;
    } else {
      l->link.gap -= move.distance;
      move.partner->link.gap = l->link.gap;
      l->link.from = move.to;
      move.partner->link.to = fragment_graph_reverse_node(move.to);
    }
  }
}

void scaffold_links_drop_unusable(paired_context_t *context, array_list_t *list) {
  const contig_info_t *info = context->contigs;
  for (uint64_t i = 0; i < list->count;) {
    const Link *l = items_of(list)[i];
    bool drop = l->link.from == kOrientedIdNone || l->link.to == kOrientedIdNone;
    if (!drop) {
      const oriented_id_t b = contig_of(context, l->link.from);
      const oriented_id_t a = contig_of(context, l->link.to);
      if (b != kOrientedIdNone && a != kOrientedIdNone &&
          contig_info_get_contig_index(b) == contig_info_get_contig_index(a)) {
        drop = true;
      }
      for (oriented_id_t c : {b, a}) {
        if (c == kOrientedIdNone) continue;
        if (contig_info_get_first_node(info, c) == fragment_graph_reverse_node(contig_info_get_last_node(info, c))) {
          drop = true;
        }
      }
    }
    if (drop) {
      remove_at(list, i);
    } else {
      i++;
    }
  }
}

void scaffold_links_move_to_contig_ends(paired_context_t *context, array_list_t *list) {
  const fragment_graph_t *graph = context->graph;
  const contig_info_t *info = context->contigs;
  const int32_t k = graph->word_size;
  for (uint64_t i = 0; i < list->count;) {
    Link *l = items_of(list)[i];
    const oriented_id_t b = contig_of(context, l->link.from);
    const oriented_id_t a = contig_of(context, l->link.to);
    if (!contig_exists(context, b) || !contig_exists(context, a)) {
      auto first = [&](oriented_id_t c) {
        return contig_exists(context, c) ? contig_info_get_first_node(info, c) : kOrientedIdNone;
      };
      auto last = [&](oriented_id_t c) {
        return contig_exists(context, c) ? contig_info_get_last_node(info, c) : kOrientedIdNone;
      };
      printf("Internal error: ");
      printf("Pair %8.8x -> %8.8x (%i) is part of contig %8.8x (%8.8x - %8.8x) and %8.8x (%8.8x - %8.8x)\n",
             l->link.from, l->link.to, l->link.gap, b, first(b), last(b), a, first(a), last(a));
      fflush(stdout);
      ryx_exit(1);
    }
    const int64_t length_b = contig_info_get_contig_length(info, graph, b);
    const int64_t length_a = contig_info_get_contig_length(info, graph, a);
    // Moving over o bases is refused when it would make the link overlap by
    // more than the word size and the stretch is long or most of a contig.
    auto refuse = [&](int64_t o) {
      return l->link.gap < o - k &&
             (o > kScaffoldMaxEndMove || 2 * o > l->link.gap + length_b || 2 * o > l->link.gap + length_a);
    };
    bool drop = false;
    const oriented_id_t b_last = contig_info_get_last_node(info, b);
    if (l->link.from != b_last) {
      const int32_t o = bases_to_contig_end(graph, l->link.from, b_last);
      if (refuse(o)) {
        drop = true;
      } else {
        l->link.gap -= o;
        l->link.from = b_last;
      }
    }
    if (!drop) {
      const oriented_id_t to_reverse = fragment_graph_reverse_node(l->link.to);
      const oriented_id_t a_reverse_last = contig_info_get_last_node(info, contig_info_reverse_contig(a));
      if (to_reverse != a_reverse_last) {
        const int32_t u = bases_to_contig_end(graph, to_reverse, a_reverse_last);
        if (refuse(u)) {
          drop = true;
        } else {
          l->link.gap -= u;
          l->link.to = contig_info_get_first_node(info, a);
        }
      }
    }
    if (drop) {
      remove_at(list, i);
    } else {
      i++;
    }
  }
}

int scaffold_link_apply(fragment_graph_t *graph, const paired_optimize_result_t *link) {
  const oriented_id_t from = link->link.from;
  const oriented_id_t to = link->link.to;
  int added = 0;
  if (link->kind & 2) {
    if (fragment_graph_find_next_edge_to(graph, from, to) == kOrientedIdNone) {
      fragment_graph_add_edge(graph, from, to, link->link.gap);
      added = 1;
    }
  }
  if (link->kind & 4) {
    // Every other way out of both ends goes: the gap edge is the only
    // continuation of the two contigs.
    auto prune = [&](oriented_id_t node, oriented_id_t keep_target) {
      std::vector<oriented_id_t> doomed;
      bool kept = false;
      for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kOrientedIdNone;
           e = fragment_graph_get_sibling_next_edge(graph, e)) {
        if (!kept && fragment_graph_get_edge_to_node(graph, e) == keep_target) {
          kept = true;
        } else {
          doomed.push_back(e);
        }
      }
      for (oriented_id_t e : doomed) {
        if (!fragment_graph_edge_is_removed(graph, e)) fragment_graph_remove_edge(graph, e);
      }
    };
    prune(from, to);
    prune(fragment_graph_reverse_node(to), fragment_graph_reverse_node(from));
  }
  return added;
}

void scaffold_links_join(paired_context_t *context, array_list_t *list, array_list_t *joins) {
  fragment_graph_t *graph = context->graph;
  sort_list(list, by_from_gap_to);
  Link **items = items_of(list);
  const uint64_t n = count_of(list);
  auto find_partner = [&](oriented_id_t from, int32_t gap, oriented_id_t to) -> int64_t {
    Link key{};
    key.link = {from, to, gap};
    Link *key_ptr = &key;
    Link **at = std::lower_bound(items, items + n, key_ptr, by_from_gap_to);
    if (at == items + n || (*at)->link.from != from || (*at)->link.gap != gap || (*at)->link.to != to) return -1;
    return at - items;
  };
  oriented_id_t handled = kOrientedIdNone;
  for (uint64_t i = 0; i < n; i++) {
    const Link *l = items[i];
    const oriented_id_t from = l->link.from;
    const oriented_id_t to = l->link.to;
    if (from == handled) continue;
    if (fragment_graph_node_index(from) < fragment_graph_node_index(to)) {
      handled = from;  // its partner adds the edge
      continue;
    }
    const int64_t p = find_partner(fragment_graph_reverse_node(to), l->link.gap, fragment_graph_reverse_node(from));
    if (p < 0) continue;
    // The partner must be its node's first link: every link of its node
    // sorted before it leads to the same node.
    bool first = true;
    for (int64_t q = p - 1; q >= 0 && items[q]->link.from == items[p]->link.from; q--) {
      if (items[q]->link.to != items[p]->link.to) first = false;
    }
    if (!first) {
      handled = from;
      continue;
    }
    if (scaffold_link_apply(graph, l)) {
      set_scaffold_end_mark(graph, from);
      set_scaffold_end_mark(graph, to);
      if (l->link.gap < 2 * graph->word_size) {
        const scaffold_join_t join{0, from, to, l->link.gap};
        array_list_add(joins, &join);
      }
    }
    handled = from;
  }
}

void paired_scaffold(paired_optimize_job_t *job, array_list_t *links, const array_list_t *paths,
                     progress_meter_t *meter, array_list_t **join_slot) {
  paired_context_t *context = job->context;
  fragment_graph_t *graph = context->graph;
  progress_meter_t *step = progress_meter_new_child(meter, 0.0, 1.0);

  array_list_t *pending = scaffold_links_pair(links);
  progress_meter_update(step, 0.01);
  scaffold_links_move_to_path_ends(context, pending, paths);
  progress_meter_update(step, 0.02);

  // Marks 1 to 6 survive; bubbles, end marks and the rest are recomputed.
  // The disabled bit is kept so that a free slot never comes back to life.
  context->contigs = contig_info_free(context->contigs);
  fragment_graph_clear_flags(graph, static_cast<uint16_t>(0xF03F & ~kGraphDisabledBit));
  fragment_graph_set_bubbles(graph, context->table->read_info, job->bubble_size, job->bubble_size / 5, 0);
  progress_meter_update(step, 0.04);
  context->contigs = contig_info_build(graph, 1, 1);
  progress_meter_update(step, 0.06);
  scaffold_links_drop_unusable(context, pending);
  progress_meter_update(step, 0.07);

  array_list_t *joins = array_list_new(sizeof(scaffold_join_t));
  double pass_start = 0.07;
  double pass_end = 0.465;
  progress_meter_t *pass = nullptr;
  while (count_of(pending) > 0) {
    const uint64_t before = count_of(pending);
    if (pass == nullptr) {
      pass = progress_meter_new_child(meter, pass_start, pass_end);
    } else {
      progress_meter_set_range(meter, pass, pass_start, pass_end);
    }
    scaffold_links_move_to_contig_ends(context, pending);
    progress_meter_update(pass, 0.1);
    scaffold_links_join(context, pending, joins);
    progress_meter_update(pass, 0.3);
    rebuild_contigs(job);
    progress_meter_update(pass, 0.6);
    context->contigs = contig_info_build(graph, 1, 1);
    progress_meter_update(pass, 0.9);
    scaffold_links_drop_unusable(context, pending);
    progress_meter_update(pass, 1.0);
    if (count_of(pending) >= before) break;
    pass_start = pass_end;
    pass_end = (1.0 - pass_start) * 0.5 + pass_start;
  }
  progress_meter_update(meter, 1.0);
  progress_meter_free(pass);
  progress_meter_free(step);
  array_list_free(pending);
  if (join_slot != nullptr) {
    *join_slot = joins;
  } else {
    array_list_free(joins);
  }
}

}  // extern "C"
