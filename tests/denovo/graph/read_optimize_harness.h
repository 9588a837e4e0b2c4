// A test-only run of the assembler's read resolution on simulated reads:
// words counted, fragments built, reads mapped into a read table and the
// fragment graph built from it; then the cleaning and unfolding sequence
// (weak edges, dead ends, bubbles, unfolding with a decision function that
// returns 0, dead ends, compaction) with the graph checks after every step
// and at every window the decision function is asked about. The contigs of
// the result are read off by walking the graph's chains and spelling their
// nodes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common/cpus.h"
#include "denovo/graph/component_unfold.h"
#include "denovo/graph/dead_ends.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/fragment_graph_check.h"
#include "denovo/graph/weak_edges.h"
#include "denovo/reads/fragment_builder.h"
#include "denovo/reads/read_mapping.h"
#include "denovo/reads/word_counter_pass.h"
#include "seqio/seq_db_memory.h"
#include "tests/denovo/reads/read_sim.h"

namespace optimize_harness {

using read_sim::Codes;

inline bool graph_valid(const fragment_graph_t *graph) {
  return fragment_graph_check_links(graph, kOrientedIdNone) != 0 &&
         fragment_graph_check_bubbles(graph, kOrientedIdNone) != 0 &&
         fragment_graph_check_marks(graph, kOrientedIdNone) != 0;
}

// Reads of the given length starting at every step-th position of each
// chromosome (and at its last position), every other one reverse
// complemented, the first and the last read of a chromosome once more on
// the other strand, so that the words at the chromosome ends are seen twice
// like all others: even coverage up to the ends, no errors.
inline std::vector<Codes> tiled_reads(const std::vector<Codes> &chromosomes, size_t length, size_t step) {
  std::vector<Codes> reads;
  for (const Codes &c : chromosomes) {
    for (size_t s = 0;; s += step) {
      if (s + length > c.size()) s = c.size() - length;
      const Codes r = fragment_test::slice(c, s, length);
      const Codes back = fragment_test::reverse_complement(r);
      reads.push_back(reads.size() % 2 == 0 ? r : back);
      if (s == 0 || s + length == c.size()) reads.push_back(reads.size() % 2 == 0 ? back : r);
      if (s + length == c.size()) break;
    }
  }
  return reads;
}

// Windows the decision function was asked about, and how many of them met
// a graph that failed a check.
struct DecisionLog {
  int32_t calls = 0;
  int32_t invalid = 0;
  int32_t largest_window = 0;
};
inline DecisionLog g_decisions;

// Decision function: checks the graph as the unfolding leaves it between
// component_build and the decision, and declines.
inline int checking_zero_function(component_window_t *context, component_list_t *) {
  g_decisions.calls++;
  if (!graph_valid(context->graph)) g_decisions.invalid++;
  if (context->component_node_count > g_decisions.largest_window) g_decisions.largest_window = context->component_node_count;
  return 0;
}

// Everything from the reads to the fragment graph.
struct Assembly {
  read_store_t *store;
  word_counter_t *counter;
  seq_db_t *db;
  read_table_t *table;
  fragment_graph_t *graph;
  int saved_cpus = get_number_of_cpus();

  Assembly(const std::vector<Codes> &reads, int32_t k) : Assembly(reads, k, nullptr) {}
  // With a setting, paired reads: mates interleaved (mate 1, mate 2, mate
  // 1, ...) as one paired read file with that setting, which must outlive
  // the assembly (the read table points at it). Without, unpaired reads.
  Assembly(const std::vector<Codes> &reads, int32_t k, paired_setting_t *setting) {
    set_number_of_cpus(2);
    store = read_sim::store_of({{reads, setting != nullptr}});
    counter = word_counter_build(store, nullptr, k, nullptr);
    db = fragment_builder_run_threads(store, nullptr, nullptr, counter, nullptr, 2);
    paired_setting_t *settings[1] = {setting};
    table = read_mapping_run_threads(db, store, nullptr, nullptr, setting != nullptr ? settings : nullptr, nullptr, k,
                                     nullptr, 2);
    graph = fragment_graph_build(db, table->read_info, k, 1);
  }
  ~Assembly() {
    fragment_graph_free(graph);
    read_table_free(table);
    seq_db_free(db);
    word_counter_free(counter);
    read_store_free(store);
    set_number_of_cpus(saved_cpus);
  }
  Assembly(const Assembly &) = delete;
  Assembly &operator=(const Assembly &) = delete;
};

// What the sequence reported: whether every step left a valid graph, and the
// unfolding's count of rebuilt windows.
struct OptimizeResult {
  std::vector<std::string> invalid_after;
  int32_t unfolded = 0;
};

inline OptimizeResult optimize(Assembly &a, int32_t bubble_size, int32_t max_depth) {
  OptimizeResult r;
  fragment_graph_t *g = a.graph;
  auto check = [&](const char *step) {
    if (!graph_valid(g)) r.invalid_after.emplace_back(step);
  };
  fragment_graph_clear_all_flags(g);
  fragment_graph_sort_edges(g);
  remove_weak_edges(g, a.table, -1, 40, nullptr);
  remove_dead_ends(g, nullptr);
  fragment_graph_set_bubbles(g, a.table->read_info, bubble_size, bubble_size / 5, 0);
  check("cleaning");
  component_window_t *context = component_window_new(g, a.table->read_info, bubble_size);
  r.unfolded = component_unfold_all_nodes(context, checking_zero_function, max_depth, nullptr);
  component_window_free(context);
  check("unfolding");
  remove_dead_ends(g, nullptr);
  check("dead ends");
  fragment_graph_set_other_nodes(g);
  check("compaction");
  return r;
}

// The codes of a node, in the node's orientation.
inline Codes node_codes(const fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t fragment = fragment_graph_get_node_fragment(graph, node);
  seq_record_t *record = graph->fragments->get(graph->fragments, oriented_id_get_index(fragment));
  Codes c(record->residues, record->residues + record->length);
  seq_db_release_fetched(graph->fragments, record);
  for (uint8_t &x : c) x = static_cast<uint8_t>((x - 63) & 3);
  return oriented_id_is_reverse(fragment) ? fragment_test::reverse_complement(c) : c;
}

inline std::vector<oriented_id_t> next_nodes(const fragment_graph_t *g, oriented_id_t n, std::vector<int32_t> *d) {
  std::vector<oriented_id_t> out;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(g, n); e != kOrientedIdNone;
       e = fragment_graph_get_sibling_next_edge(g, e)) {
    out.push_back(fragment_graph_get_edge_to_node(g, e));
    if (d != nullptr) d->push_back(fragment_graph_get_edge_distance(g, e));
  }
  return out;
}

// The contigs of a graph that is a set of simple chains: from every node
// without prev edge, the chain of single next edges spelled with the edges'
// overlaps (a gap spells N, code 4). Empty when some live node branches or
// lies on no such chain (a cycle). Each contig is given in the smaller of
// its two orientations.
inline std::set<Codes> chain_contigs(const fragment_graph_t *g) {
  std::set<Codes> out;
  int64_t live = 0, visited = 0;
  for (int32_t s = 0; s < g->node_count; s++) {
    const auto slot = static_cast<oriented_id_t>(s);
    if (fragment_graph_is_disabled(g, slot)) continue;
    live++;
    for (const oriented_id_t n : {slot, fragment_graph_reverse_node(slot)}) {
      if (next_nodes(g, n, nullptr).size() > 1) return {};
      if (!next_nodes(g, fragment_graph_reverse_node(n), nullptr).empty()) continue;
      // n starts a chain; walk it once, from the end whose id is smaller.
      Codes contig = node_codes(g, n);
      oriented_id_t at = n;
      int64_t length = 1;
      for (;;) {
        std::vector<int32_t> d;
        const std::vector<oriented_id_t> next = next_nodes(g, at, &d);
        if (next.empty()) break;
        if (next.size() > 1 || next_nodes(g, fragment_graph_reverse_node(next[0]), nullptr).size() != 1) return {};
        at = next[0];
        const Codes c = node_codes(g, at);
        if (d[0] < 0) {
          if (static_cast<size_t>(-d[0]) > c.size()) return {};
          contig.insert(contig.end(), c.begin() + (-d[0]), c.end());
        } else {
          contig.insert(contig.end(), static_cast<size_t>(d[0]), 4);
          contig.insert(contig.end(), c.begin(), c.end());
        }
        if (++length > 2 * g->node_count) return {};
      }
      const Codes back = fragment_test::reverse_complement(contig);
      if (out.insert(std::min(contig, back)).second) visited += length;
    }
  }
  if (visited != live) return {};
  return out;
}

inline Codes canonical(const Codes &c) { return std::min(c, fragment_test::reverse_complement(c)); }

// Bases at a chromosome end that a contig may lack or have in excess: the
// probabilistic word counter can count a word just past the end (a false
// positive) or miss the last one, and the fragment builder follows it.
constexpr size_t kEndSlack = 3;

// 1 when there are as many contigs as chromosomes and each chromosome, but
// for kEndSlack bases at either end, lies in exactly one contig (on either
// strand) whose length differs from the chromosome's by at most twice the
// slack, no contig serving two chromosomes. Mismatches are described on
// the test's output.
inline testing::AssertionResult contigs_are_chromosomes(const std::set<Codes> &contigs,
                                                        const std::vector<Codes> &chromosomes) {
  if (contigs.size() != chromosomes.size())
    return testing::AssertionFailure() << contigs.size() << " contigs for " << chromosomes.size() << " chromosomes";
  std::set<const Codes *> used;
  for (size_t i = 0; i < chromosomes.size(); i++) {
    const Codes &c = chromosomes[i];
    const Codes inner(c.begin() + kEndSlack, c.end() - kEndSlack);
    const Codes inner_back = fragment_test::reverse_complement(inner);
    const Codes *found = nullptr;
    for (const Codes &contig : contigs) {
      const bool in = std::search(contig.begin(), contig.end(), inner.begin(), inner.end()) != contig.end() ||
                      std::search(contig.begin(), contig.end(), inner_back.begin(), inner_back.end()) != contig.end();
      if (!in) continue;
      if (found != nullptr) return testing::AssertionFailure() << "chromosome " << i << " in two contigs";
      found = &contig;
    }
    if (found == nullptr) return testing::AssertionFailure() << "chromosome " << i << " in no contig";
    if (found->size() + 2 * kEndSlack < c.size() || found->size() > c.size() + 2 * kEndSlack)
      return testing::AssertionFailure() << "chromosome " << i << " of " << c.size() << " bases in a contig of "
                                         << found->size();
    if (!used.insert(found).second) return testing::AssertionFailure() << "chromosome " << i << " shares its contig";
  }
  return testing::AssertionSuccess();
}

}  // namespace optimize_harness
