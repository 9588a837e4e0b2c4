// Helpers for the graph tests: fragment databases of given lengths, a
// hand-built graph over them, the edges of a graph as a multiset of (from,
// to, distance) in one canonical orientation, next lists read back as
// (target, distance) pairs, and death tests on messages printed to standard
// output.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/memory.h"
#include "denovo/graph/fragment_graph.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

// Death tests read standard error; these messages go to standard output.
#define ON_STDOUT(statement) \
  {                          \
    dup2(2, 1);              \
    statement;               \
  }

namespace graph_test {

constexpr oriented_id_t R = 0x80000000u;
using Edge = std::tuple<oriented_id_t, oriented_id_t, int32_t>;
using Step = std::pair<oriented_id_t, int32_t>;

inline oriented_id_t rev(oriented_id_t x) { return fragment_graph_reverse_node(x); }

// An edge and its reverse reading as one value: the smaller of the two.
inline Edge canonical(oriented_id_t from, oriented_id_t to, int32_t d) {
  const Edge a{from, to, d};
  const Edge b{rev(to), rev(from), d};
  return std::min(a, b);
}

// Fragments named "EE_%8.8x" with random residues 63 to 66.
inline seq_db_t *fragments_of_lengths(const std::vector<uint32_t> &lengths, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  auto **records = static_cast<seq_record_t **>(ryx_malloc(std::max<size_t>(1, lengths.size()) * sizeof(seq_record_t *)));
  for (size_t i = 0; i < lengths.size(); i++) {
    records[i] = seq_record_new(lengths[i]);
    for (uint32_t j = 0; j < lengths[i]; j++) records[i]->residues[j] = static_cast<uint8_t>(63 + rng() % 4);
    char name[32];
    snprintf(name, sizeof(name), "EE_%8.8x", static_cast<unsigned>(i));
    records[i]->name = static_cast<char *>(ryx_malloc(strlen(name) + 1));
    memcpy(records[i]->name, name, strlen(name) + 1);
  }
  return seq_db_new_from_records(records, static_cast<int64_t>(lengths.size()));
}

// Fragments from letters: A, C, G, T, N stored as 63 to 67; any other
// character is stored as its own byte.
inline seq_db_t *fragments_of_letters(const std::vector<std::string> &letters) {
  auto **records = static_cast<seq_record_t **>(ryx_malloc(std::max<size_t>(1, letters.size()) * sizeof(seq_record_t *)));
  for (size_t i = 0; i < letters.size(); i++) {
    records[i] = seq_record_new(static_cast<uint32_t>(letters[i].size()));
    for (size_t j = 0; j < letters[i].size(); j++) {
      const char c = letters[i][j];
      const char *at = strchr("ACGTN", c);
      records[i]->residues[j] = static_cast<uint8_t>(at != nullptr && c != 0 ? 63 + (at - "ACGTN") : c);
    }
  }
  return seq_db_new_from_records(records, static_cast<int64_t>(letters.size()));
}

// A read path: its oriented fragments, the distances between them and how
// many reads take it (each read is a path of its own).
struct PathReads {
  std::vector<oriented_id_t> fragments;
  std::vector<int32_t> distances;
  int reads = 1;
};

// A searchable read info holding the paths in order.
inline read_info_t *read_paths(uint32_t fragment_count, const std::vector<PathReads> &paths) {
  read_info_t *info = read_info_new(fragment_count);
  for (const PathReads &p : paths) {
    for (int r = 0; r < p.reads; r++) {
      read_info_start_path(info, p.fragments[0]);
      for (size_t i = 1; i < p.fragments.size(); i++) read_info_add_step(info, p.distances[i - 1], p.fragments[i]);
    }
  }
  read_info_make_searchable(info);
  return info;
}

// Fragments and a graph over them that the fixture owns: node i carries
// fragment i, the edges are added in the order given. Fixtures derive from
// it; their own destructors run first, so whatever they hold that points
// into the graph is freed before it.
struct HandGraph {
  seq_db_t *db;
  fragment_graph_t *graph;
  // Takes ownership of fragments (records from memory).
  HandGraph(seq_db_t *fragments, const std::vector<Edge> &edges, int32_t word_size = 21)
      : db(fragments), graph(fragment_graph_new(static_cast<int32_t>(fragments->sequence_count), word_size)) {
    graph->fragments = db;
    for (const auto &[from, to, d] : edges) fragment_graph_add_edge(graph, from, to, d);
  }
  ~HandGraph() {
    fragment_graph_free(graph);
    seq_db_free_records(db);
  }
  HandGraph(const HandGraph &) = delete;
  HandGraph &operator=(const HandGraph &) = delete;
};

inline std::vector<Edge> sorted(std::vector<Edge> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// Every live edge of the graph, canonical, sorted.
inline std::vector<Edge> edge_set(const fragment_graph_t *g) {
  std::vector<Edge> out;
  for (int32_t s = 0; s < g->edge_count; s++) {
    const auto e = static_cast<oriented_id_t>(s);
    if (fragment_graph_edge_is_removed(g, e)) continue;
    out.push_back(canonical(fragment_graph_get_edge_from_node(g, e), fragment_graph_get_edge_to_node(g, e),
                            fragment_graph_get_edge_distance(g, e)));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The next list of a node as (target, distance), in list order.
inline std::vector<Step> next_list(const fragment_graph_t *g, oriented_id_t n) {
  std::vector<Step> out;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, n); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(g, e)) {
    out.emplace_back(fragment_graph_get_edge_to_node(g, e), fragment_graph_get_edge_distance(g, e));
    if (out.size() > 100000) break;
  }
  return out;
}

inline std::vector<Step> prev_list(const fragment_graph_t *g, oriented_id_t n) {
  std::vector<Step> out;
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(g, n); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_prev_edge(g, e)) {
    out.emplace_back(fragment_graph_get_edge_from_node(g, e), fragment_graph_get_edge_distance(g, e));
    if (out.size() > 100000) break;
  }
  return out;
}

}  // namespace graph_test
