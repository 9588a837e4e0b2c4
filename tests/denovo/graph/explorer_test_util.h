// A small explorer session for the tests: fragments from letters, a graph,
// read paths in a read table, and a run of the command loop on given input
// with standard output captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/memory.h"
#include "denovo/graph/explorer.h"
#include "graph_test_util.h"

namespace graph_test {

struct ExplorerFixture {
  seq_db_t *db;
  fragment_graph_t *graph;
  read_table_t *table;
  ExplorerFixture(const std::vector<std::string> &letters, const std::vector<Edge> &edges,
                  const std::vector<PathReads> &paths, int32_t word_size = 5) {
    db = fragments_of_letters(letters);
    graph = fragment_graph_new(static_cast<int32_t>(letters.size()), word_size);
    graph->fragments = db;
    for (const Edge &e : edges) fragment_graph_add_edge(graph, std::get<0>(e), std::get<1>(e), std::get<2>(e));
    table = static_cast<read_table_t *>(ryx_calloc(sizeof(read_table_t)));
    table->read_info = read_paths(static_cast<uint32_t>(letters.size()), paths);
  }
  ~ExplorerFixture() {
    read_table_free(table);
    fragment_graph_free(graph);
    seq_db_free_records(db);
  }
  ExplorerFixture(const ExplorerFixture &) = delete;
  ExplorerFixture &operator=(const ExplorerFixture &) = delete;

  // Runs the loop on the input and returns what it printed.
  std::string run(const std::string &input, component_max_function decision = nullptr, int32_t bubble_size = 10,
                  contig_info_t *contigs = nullptr, explorer_paired_optimize_fn paired = nullptr) {
    FILE *in = tmpfile();
    fwrite(input.data(), 1, input.size(), in);
    rewind(in);
    explorer_t context{db, table, graph, paired, in};
    testing::internal::CaptureStdout();
    explorer_loop(&context, decision, bubble_size, contigs);
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    fclose(in);
    return out;
  }
};

}  // namespace graph_test
