// Helpers for the paired-stage tests: a hand-built graph over fragments of
// given lengths (word size 21), an empty read table, the paired context and
// job over them, and result records owned by the fixture (so that the tests
// of the appliers do not depend on how the job frees its lists).
#pragma once

#include <memory>
#include <vector>

#include "denovo/app/paired_optimize_records.h"
#include "denovo/graph/contig_info.h"
#include "tests/denovo/graph/graph_test_util.h"

namespace paired_apply_test {

using graph_test::R;

struct PairedFixture : graph_test::HandGraph {
  read_table_t table{};
  paired_context_t context{};
  paired_optimize_job_t job{};
  std::vector<std::unique_ptr<paired_optimize_result_t>> results;
  std::vector<std::unique_ptr<contig_path_t>> paths;
  std::vector<std::unique_ptr<std::vector<oriented_id_t>>> path_ids;

  PairedFixture(const std::vector<uint32_t> &lengths, const std::vector<graph_test::Edge> &edges)
      : HandGraph(graph_test::fragments_of_lengths(lengths), edges) {
    fragment_graph_clear_all_flags(graph);
    table.read_info = graph_test::read_paths(static_cast<uint32_t>(lengths.size()), {});
    context = {graph, &table, nullptr};
    job.edge_removals = array_list_new(sizeof(void *));
    job.scaffold_links = array_list_new(sizeof(void *));
    job.contig_paths = array_list_new(sizeof(void *));
    job.context = &context;
    job.bubble_size = 150;
    job.scaffolding = 1;
  }
  ~PairedFixture() {
    array_list_free(job.edge_removals);
    array_list_free(job.scaffold_links);
    array_list_free(job.contig_paths);
    contig_info_free(context.contigs);
    read_info_free(table.read_info);
  }

  void build_contigs() {
    context.contigs = contig_info_free(context.contigs);
    context.contigs = contig_info_build(graph, 1, 1);
  }
  paired_optimize_result_t *result(int32_t kind, int32_t a, int32_t b, int32_t c) {
    auto r = std::make_unique<paired_optimize_result_t>();
    r->kind = kind;
    if (kind == kPairedResultEdgeRemoval) {
      r->removal = {static_cast<oriented_id_t>(a), static_cast<oriented_id_t>(b), static_cast<oriented_id_t>(c)};
    } else {
      r->link = {static_cast<oriented_id_t>(a), static_cast<oriented_id_t>(b), c};
    }
    results.push_back(std::move(r));
    return results.back().get();
  }
  paired_optimize_result_t *removal(oriented_id_t edge, oriented_id_t node, oriented_id_t target) {
    paired_optimize_result_t *r = result(kPairedResultEdgeRemoval, static_cast<int32_t>(edge),
                                         static_cast<int32_t>(node), static_cast<int32_t>(target));
    array_list_add(job.edge_removals, &r);
    return r;
  }
  paired_optimize_result_t *link(oriented_id_t from, oriented_id_t to, int32_t gap) {
    paired_optimize_result_t *r =
        result(kPairedResultScaffoldLink, static_cast<int32_t>(from), static_cast<int32_t>(to), gap);
    array_list_add(job.scaffold_links, &r);
    return r;
  }
  contig_path_t *node_path(const std::vector<oriented_id_t> &nodes, int32_t distance = 0) {
    path_ids.push_back(std::make_unique<std::vector<oriented_id_t>>(nodes));
    paths.push_back(std::make_unique<contig_path_t>());
    contig_path_t *p = paths.back().get();
    *p = {static_cast<int32_t>(nodes.size()), path_ids.back()->data(), distance, nullptr};
    auto r = std::make_unique<paired_optimize_result_t>();
    r->kind = kPairedResultContigPath;
    r->path = p;
    results.push_back(std::move(r));
    paired_optimize_result_t *raw = results.back().get();
    array_list_add(job.contig_paths, &raw);
    return p;
  }
};

// The links of a list as (from, to, gap), in list order.
inline std::vector<graph_test::Edge> links_of(const array_list_t *list) {
  std::vector<graph_test::Edge> out;
  for (uint64_t i = 0; i < array_list_get_count(list); i++) {
    const auto *l = *static_cast<paired_optimize_result_t **>(array_list_get_item(list, i));
    out.emplace_back(l->link.from, l->link.to, l->link.gap);
  }
  return out;
}

}  // namespace paired_apply_test
