// Files for looking at the fragment graph: Graphviz dot files of the whole
// fragment graph, of the contig graph and of the neighbourhood of one node,
// GEXF 1.2 files of the contig graph and of the fragment graph with the
// fragment sequences, and a plain-text dump of every node.
//
// Identifiers are printed "%8.8x" (node, fragment or contig index without
// the strand bit) or "%4.4x" inside node records. A port says on which side
// of a node an edge attaches: "+" the next side, "-" the previous side.
// Edge labels carry the edge support (fragment_graph_get_edge_support) from
// the read table's read info; without a read info every support is 0.
//
// Every writer only reads the graph, writes its file under a temporary name
// and moves it to path once complete. A path that cannot be created prints
// "Unable to open file %s\n", a failed write "Unable to write file %s\n",
// both on standard error with exit status 1. One thread.
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/rb_tree.h"
#include "denovo/reads/read_table.h"
#include "seqio/seq_db.h"

extern "C" {

// Contigs shorter than this (and without edges) are left out of the contig
// dot graph.
constexpr int32_t kContigDotMinLength = 500;

// The full fragment graph: every node with edges, every edge once (from the
// side of the lower index), then one grey line per pair of nodes joined by
// read pairs.
void fragment_graph_write_dot(const fragment_graph_t *graph, const read_table_t *table, const char *path);
// The contig graph: one record per contig, edges between contig ends. The
// contig info needs its node map.
void fragment_graph_write_contig_dot(const fragment_graph_t *graph, const read_table_t *table,
                                     const contig_info_t *contigs, const char *path);
// The nodes and edges within depth steps of node (at least one step).
void fragment_graph_write_partial_dot(const fragment_graph_t *graph, const read_table_t *table, const char *path,
                                      oriented_id_t node, int32_t depth);
// The contig graph as GEXF; contigs of at least min_length bases are named
// "contig_%i" with a running number from 1, the others by their index.
void fragment_graph_write_contig_gexf(const fragment_graph_t *graph, const read_table_t *table,
                                      const contig_info_t *contigs, const char *path, int32_t min_length);
// The fragment graph as GEXF with each node's sequence; with a contig info
// (node map needed) nodes are labelled with their contig's name.
void fragment_graph_write_fragment_gexf(const fragment_graph_t *graph, const read_table_t *table,
                                        const contig_info_t *contigs, const char *path, int32_t min_length);
// One record per node slot (disabled ones included): its fragment, bubble
// code, prev and next edges, then the fragment's sequence in lines of 70.
void fragment_graph_write_nodes(const fragment_graph_t *graph, seq_db_t *fragments, const read_table_t *table,
                                const char *path);

// Records of the partial graph's sets: nodes {node id, -1, 0} and edges
// {from, to, distance}, the edge in the orientation whose from is not above
// (unsigned) the reverse of its to.
struct partial_graph_item_t {
  oriented_id_t a;
  oriented_id_t b;
  int32_t distance;
};
// Collects the neighbourhood of node into the two sets (see
// fragment_graph_write_partial_dot); previous is the node it was reached
// from, or -1.
void partial_graph_collect(const fragment_graph_t *graph, rb_tree_t *nodes, rb_tree_t *edges, oriented_id_t node,
                           oriented_id_t previous, int32_t depth, int32_t max_depth);
// One node record / edge line of the partial graph.
void partial_graph_write_node(FILE *file, const fragment_graph_t *graph, oriented_id_t node);
void partial_graph_write_edge(FILE *file, const fragment_graph_t *graph, const read_info_t *read_info,
                              const partial_graph_item_t *edge);
// Set orders: by node id; by from, to, distance (all unsigned).
int partial_graph_compare_nodes(const void *a, const void *b);
int partial_graph_compare_edges(const void *a, const void *b);
void partial_graph_free_item(void *item);

// Contig-name map callbacks (4-byte contig index keys): 0 when equal, else
// -1; the index itself.
int contig_name_compare(const void *a, const void *b);
uint64_t contig_name_hash(const void *key);

}  // extern "C"
