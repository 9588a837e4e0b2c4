// Runs the explorer on a saved graph: explorer_stage_session <stage file of
// kind 2>, commands on standard input. The end-to-end tests drive it with
// piped input as the assembler's driver would with its own loaded state.
#include <cstdio>

#include "denovo/graph/denovo_file.h"
#include "denovo/graph/explorer.h"
#include "seqio/seq_db.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: explorer_stage_session <stage file>\n");
    return 1;
  }
  seq_db_t *fragments = nullptr;
  read_table_t *table = nullptr;
  fragment_graph_t *graph = nullptr;
  denovo_file_read(argv[1], 2, &fragments, &table, nullptr, -1, &graph, nullptr);
  explorer_run(fragments, table, graph, nullptr, 10, nullptr, nullptr);
  fragment_graph_free(graph);
  read_table_free(table);
  seq_db_free(fragments);
  return 0;
}
