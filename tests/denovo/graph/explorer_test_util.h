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

struct ExplorerFixture : HandGraph {
  read_table_t *table;
  ExplorerFixture(const std::vector<std::string> &letters, const std::vector<Edge> &edges,
                  const std::vector<PathReads> &paths, int32_t word_size = 5)
      : HandGraph(fragments_of_letters(letters), edges, word_size) {
    table = static_cast<read_table_t *>(ryx_calloc(sizeof(read_table_t)));
    table->read_info = read_paths(static_cast<uint32_t>(letters.size()), paths);
  }
  ~ExplorerFixture() { read_table_free(table); }

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
