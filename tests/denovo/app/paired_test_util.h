// Helpers for the paired-stage tests: a hand-built fragment graph (node i
// carries fragment i of a given length), read paths and read pairs placed
// on it by hand, one paired library per read file, and the context the
// paired stage works in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "denovo/app/contig_links.h"
#include "denovo/app/contig_paths.h"
#include "denovo/app/paired_optimize_records.h"
#include "denovo/graph/contig_info.h"
#include "denovo/reads/read_pair_info.h"
#include "tests/denovo/graph/graph_test_util.h"

namespace paired_test {

using graph_test::R;

// One read pair: each end a fragment (path = kReadPtrNone) or a read-path
// element (fragment = kOrientedIdNone), with its offset; the read file.
struct Pair {
  read_ptr_t path1;
  oriented_id_t fragment1;
  int32_t offset1;
  read_ptr_t path2;
  oriented_id_t fragment2;
  int32_t offset2;
  int32_t file = 0;
};

// A pair of two fragment ends.
inline Pair fragments(oriented_id_t f1, int32_t o1, oriented_id_t f2, int32_t o2, int32_t file = 0) {
  return {kReadPtrNone, f1, o1, kReadPtrNone, f2, o2, file};
}

// A library: min and max distance ("fb", "ss").
struct Library {
  int32_t min;
  int32_t max;
};

struct PairedFixture : graph_test::HandGraph {
  read_table_t table{};
  std::vector<paired_setting_t *> settings;
  paired_context_t context{};

  PairedFixture(const std::vector<uint32_t> &lengths, const std::vector<graph_test::Edge> &edges, int32_t k = 21)
      : HandGraph(graph_test::fragments_of_lengths(lengths), edges, k) {
    // Fragments are unique unless a test makes copies.
    for (int32_t i = 0; i < graph->node_count; i++) graph->nodes[i].other_node = kOrientedIdNone;
    context.graph = graph;
    context.table = &table;
  }
  ~PairedFixture() {
    contig_info_free(context.contigs);
    read_info_free(table.read_info);
    read_pair_info_free(table.read_pair_info);
    for (int32_t i = 0; i < table.file_count; i++) pair_dist_info_free(table.pair_dist_info[i]);
    ryx_free(table.pair_dist_info);
    for (paired_setting_t *s : settings) paired_setting_free(s);
  }

  // One read file per library (null: an unpaired file).
  void libraries(const std::vector<const Library *> &libs) {
    table.file_count = static_cast<int32_t>(libs.size());
    table.pair_dist_info = static_cast<pair_dist_info_t **>(ryx_calloc(sizeof(pair_dist_info_t *) * libs.size()));
    for (size_t i = 0; i < libs.size(); i++) {
      if (libs[i] == nullptr) continue;
      settings.push_back(paired_setting_new(1, 0, libs[i]->min, libs[i]->max));
      table.pair_dist_info[i] = pair_dist_info_new(settings.back(), static_cast<int32_t>(i));
    }
  }
  // The read paths (searchable); element positions count from 0 in order.
  void paths(const std::vector<graph_test::PathReads> &p) {
    table.read_info = graph_test::read_paths(static_cast<uint32_t>(graph->node_count), p);
  }
  void pairs(const std::vector<Pair> &list) {
    read_pair_info_t *info = read_pair_info_new(graph->node_count);
    for (const Pair &p : list) {
      read_pair_info_add(info, p.path1, p.fragment1, p.offset1, p.path2, p.fragment2, p.offset2);
      read_pair_set_db_num(&info->by_end1[info->count - 1], p.file);
    }
    read_pair_info_sort(info);
    table.read_pair_info = info;
  }
  // Builds (once) the contig info across bubbles with the node map.
  contig_info_t *contigs() {
    if (context.contigs == nullptr) context.contigs = contig_info_build(graph, 1, 1);
    return context.contigs;
  }
  oriented_id_t contig_of(oriented_id_t node) { return contig_info_get_node_contig(contigs(), node); }
};

// A link by value, for building lists by hand.
struct Link {
  oriented_id_t target;
  int32_t support;
  int32_t min;
  int32_t max;
  int32_t centre;
};

inline array_list_t *link_list(const std::vector<Link> &links) {
  array_list_t *list = paired_link_list_new();
  for (const Link &l : links) {
    auto *p = static_cast<paired_link_t *>(ryx_malloc(sizeof(paired_link_t)));
    *p = {l.target, l.support, l.min, l.max, l.centre};
    array_list_add(list, &p);
  }
  return list;
}

inline std::vector<Link> links_of(const array_list_t *list) {
  std::vector<Link> out;
  for (uint64_t i = 0; i < list->count; i++) {
    const paired_link_t *l = paired_link_list_get(list, i);
    out.push_back({l->target, l->support, l->min_gap, l->max_gap, l->centre});
  }
  return out;
}

inline bool operator==(const Link &a, const Link &b) {
  return a.target == b.target && a.support == b.support && a.min == b.min && a.max == b.max && a.centre == b.centre;
}
inline std::ostream &operator<<(std::ostream &os, const Link &l) {
  return os << "{" << std::hex << l.target << std::dec << " s" << l.support << " [" << l.min << "," << l.max << "] c"
            << l.centre << "}";
}

// The ids of a path.
inline std::vector<oriented_id_t> ids(const contig_path_t *p) { return {p->ids, p->ids + p->count}; }

}  // namespace paired_test
