#include "denovo/graph/graph_export.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/memory.h"
#include "common/output_file.h"
#include "common/ryx_exit.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/reads/generic_hash_map.h"
#include "denovo/reads/read_pair_info.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;
constexpr uint8_t kFragmentBase = 63;

oriented_id_t flip(oriented_id_t id) { return fragment_graph_reverse_node(id); }
uint32_t index_of(oriented_id_t id) { return fragment_graph_node_index(id); }
char sign(oriented_id_t id, char reverse, char forward) { return fragment_graph_node_is_reverse(id) ? reverse : forward; }

const read_info_t *info_of(const read_table_t *table) { return table == nullptr ? nullptr : table->read_info; }

output_file_t *open_output(const char *path) {
  output_file_t *output = output_file_open(path);
  if (output == nullptr) {
    fprintf(stderr, "Unable to open file %s\n", path);
    ryx_exit(1);
  }
  return output;
}

// Flushes, checks every write and the close, and puts the file under its name.
void commit_output(output_file_t *output, const char *path) {
  if (output_file_commit(output) != 0) {
    fprintf(stderr, "Unable to write file %s\n", path);
    ryx_exit(1);
  }
}

void write_preamble(FILE *file) {
  fputs("graph G {\n", file);
  fputs("\tgraph [K=1]", file);
  fputs("\tnode[shape=Mrecord,height=0.2];\n", file);
}

void write_edge_line(FILE *file, uint32_t a, char a_port, uint32_t b, char b_port, uint32_t support) {
  fprintf(file, "\t\"%8.8x\":\"%c%8.8x\" -- \"%8.8x\":\"%c%8.8x\" [weight=100, penwidth=1.5, label=%i];\n", a, a_port,
          a, b, b_port, b, static_cast<int>(support));
}

int32_t count_prev_edges(const fragment_graph_t *graph, oriented_id_t node) {
  return fragment_graph_count_next_edges(graph, flip(node));
}

// The fragment of a read-pair end: the end's own fragment, or for a path
// end the first element of the path in the read_ptr's direction.
oriented_id_t pair_end_fragment(const read_info_t *info, oriented_id_t fragment, read_ptr_t read_ptr) {
  if (read_ptr == kReadPtrNone) return fragment;
  if (info == nullptr) return kNone;
  read_ptr_t p = read_ptr;
  while (read_info_has_prev(info, p)) p = read_info_get_prev(info, p);
  return read_info_get_fragment(info, p);
}

bool node_exists(const fragment_graph_t *graph, oriented_id_t node) {
  return node != kNone && index_of(node) < static_cast<uint32_t>(graph->node_count) &&
         !fragment_graph_is_disabled(graph, node);
}

void write_read_pair_links(FILE *file, const fragment_graph_t *graph, const read_table_t *table) {
  const read_pair_info_t *pairs = table == nullptr ? nullptr : table->read_pair_info;
  if (pairs == nullptr || pairs->count == 0) return;
  const read_info_t *info = info_of(table);
  std::vector<std::pair<oriented_id_t, oriented_id_t>> links;
  const int32_t fragment_count = fragment_graph_get_fragment_count(graph);
  for (int32_t f = 0; f < fragment_count; f++) {
    for (int strand = 0; strand < 2; strand++) {
      const oriented_id_t fragment = strand ? flip(static_cast<oriented_id_t>(f)) : static_cast<oriented_id_t>(f);
      uint64_t n = 0;
      const read_pair_t *found = read_pair_info_find_by_fragment1(pairs, fragment, &n);
      for (uint64_t i = 0; i < n; i++) {
        const read_pair_t *pair = found + i;
        const oriented_id_t f1 = pair_end_fragment(info, read_pair_info_get_fragment1(pairs, pair),
                                                   read_pair_info_get_read_ptr1(pairs, pair));
        const oriented_id_t f2 = pair_end_fragment(info, read_pair_info_get_fragment2(pairs, pair),
                                                   read_pair_info_get_read_ptr2(pairs, pair));
        if (f1 == kNone || f2 == kNone) continue;
        const oriented_id_t n1 = fragment_graph_get_fragment_node(graph, f1);
        const oriented_id_t n2 = fragment_graph_get_fragment_node(graph, f2);
        if (!node_exists(graph, n1) || !node_exists(graph, n2)) continue;
        if (index_of(n2) < index_of(n1)) {
          links.emplace_back(n2, n1);
        } else {
          links.emplace_back(n1, n2);
        }
      }
    }
  }
  std::sort(links.begin(), links.end());
  for (size_t i = 0; i < links.size();) {
    size_t j = i;
    while (j < links.size() && links[j] == links[i]) j++;
    const int count = static_cast<int>(j - i);
    const oriented_id_t a = links[i].first;
    const oriented_id_t b = links[i].second;
    fprintf(file, "\t\"%8.8x\":\"%c%8.8x\" -- \"%8.8x\":\"%c%8.8x\" [weight=1, color=gray, label=\"%i\", penwidth=%f]\n",
            index_of(a), sign(a, '-', '+'), index_of(a), index_of(b), sign(b, '-', '+'), index_of(b), count,
            count > 2 ? 1.5 : 0.75);
    i = j;
  }
}

// GEXF values: degree capped at 16, node size from the length, grey from the
// degree, edge weight from the read count.
int32_t gexf_degree(const fragment_graph_t *graph, oriented_id_t left, oriented_id_t right) {
  const int32_t d = fragment_graph_count_next_edges(graph, right) + count_prev_edges(graph, left);
  return d > 16 ? 16 : d;
}
unsigned gexf_size(int64_t length) {
  if (length <= 0) return 0;
  return static_cast<unsigned>(std::floor(std::log2(static_cast<double>(length)) + 1));
}
unsigned gexf_grey(int32_t degree) { return static_cast<unsigned>(255 - std::floor(degree * 0.0625 * 255)); }
unsigned gexf_weight(uint32_t reads) {
  if (reads == 0) return 0;
  return static_cast<unsigned>(std::floor((std::log2(static_cast<double>(reads)) + 1) * 10));
}

void write_gexf_header(FILE *file) {
  fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", file);
  fputs("<gexf xmlns=\"http://www.gexf.net/1.2draft\" version=\"1.2\" "
        "xmlns:viz=\"http://www.gexf.net/1.2draft/viz\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.gexf.net/1.2draft http://www.gexf.net/1.2draft/gexf.xsd\">\n",
        file);
  fputs("<graph mode=\"static\">\n", file);
}

void write_gexf_end(FILE *file) {
  fputs("</edges>\n", file);
  fputs("</graph>\n", file);
  fputs("</gexf>\n", file);
}

void write_gexf_viz(FILE *file, int64_t length, int32_t degree) {
  const unsigned g = gexf_grey(degree);
  fprintf(file, "<viz:size value=\"%u\"></viz:size>\n", gexf_size(length));
  fprintf(file, "<viz:color r=\"255\" g=\"%u\" b=\"%u\"></viz:color>\n", g, g);
}

void write_gexf_edge_close(FILE *file) {
  fputs("<attvalues></attvalues>\n", file);
  fputs("</edge>\n", file);
}

// The edge lines of one element (a contig or a node) with index c, whose
// left end is left and right end right; element_of maps a graph node to the
// oriented element it belongs to (-1: none).
template <typename ElementOf>
void write_gexf_edges(FILE *file, const fragment_graph_t *graph, const read_info_t *info, uint32_t c,
                      oriented_id_t left, oriented_id_t right, ElementOf element_of) {
  for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, left); e != kNone;
       e = fragment_graph_get_sibling_prev_edge(graph, e)) {
    const oriented_id_t k = element_of(fragment_graph_get_edge_from_node(graph, e));
    if (k == kNone || index_of(k) < c) continue;
    const uint32_t support = fragment_graph_get_edge_support(graph, info, e);
    const unsigned weight = gexf_weight(support);
    if (fragment_graph_node_is_reverse(k)) {
      fprintf(file, "<edge source=\"%8.8x\" target=\"%8.8x\" type=\"directed\" weight=\"%u\">\n", c, index_of(k),
              weight);
      write_gexf_edge_close(file);
    }
    fprintf(file, "<edge source=\"%8.8x\" target=\"%8.8x\" type=\"directed\" label=\"dist: %d reads: %u\" weight=\"%u\">\n",
            index_of(k), c, fragment_graph_get_edge_distance(graph, e), support, weight);
    write_gexf_edge_close(file);
  }
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, right); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t k = element_of(fragment_graph_get_edge_to_node(graph, e));
    if (k == kNone || index_of(k) < c) continue;
    const uint32_t support = fragment_graph_get_edge_support(graph, info, e);
    fprintf(file, "<edge source=\"%8.8x\" target=\"%8.8x\" type=\"%s\" label=\"dist: %d reads: %u\" weight=\"%u\">\n", c,
            index_of(k), fragment_graph_node_is_reverse(k) ? "undirected" : "directed",
            fragment_graph_get_edge_distance(graph, e), support, gexf_weight(support));
    write_gexf_edge_close(file);
  }
}

// The names of the contigs: "%8.8x" below min_length, else "contig_%i"
// numbered from 1 in contig order.
std::vector<std::string> contig_names(const fragment_graph_t *graph, const contig_info_t *contigs,
                                      int32_t min_length) {
  std::vector<std::string> names;
  int running = 0;
  char buffer[32];
  for (int32_t c = 0; c < contigs->contig_count; c++) {
    const int32_t length = contig_info_get_contig_length(contigs, graph, static_cast<oriented_id_t>(c));
    if (length < min_length) {
      snprintf(buffer, sizeof(buffer), "%8.8x", static_cast<unsigned>(c));
    } else {
      snprintf(buffer, sizeof(buffer), "contig_%i", ++running);
    }
    names.emplace_back(buffer);
  }
  return names;
}

// The fragment's residues as letters: 63 to 67 print as A, C, G, T, N, other
// bytes are skipped.
std::string fragment_letters(seq_db_t *fragments, uint32_t index) {
  std::string out;
  if (fragments == nullptr || index >= static_cast<uint64_t>(fragments->sequence_count)) return out;
  seq_record_t *record = fragments->get(fragments, index);
  if (record == nullptr) return out;
  out.reserve(record->length);
  for (uint32_t i = 0; i < record->length; i++) {
    const uint8_t b = record->residues[i];
    if (b >= kFragmentBase && b <= kFragmentBase + 4) out.push_back("ACGTN"[b - kFragmentBase]);
  }
  seq_db_release_fetched(fragments, record);
  return out;
}

void free_name(void *item) { ryx_free(item); }

}  // namespace

extern "C" {

void fragment_graph_write_dot(const fragment_graph_t *graph, const read_table_t *table, const char *path) {
  output_file_t *output = open_output(path);
  FILE *file = output->file;
  const read_info_t *info = info_of(table);
  write_preamble(file);
  for (int32_t i = 0; i < graph->node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    const uint32_t ui = static_cast<uint32_t>(i);
    if (fragment_graph_get_first_next_edge(graph, node) == kNone &&
        fragment_graph_get_first_prev_edge(graph, node) == kNone) {
      continue;
    }
    const char *style = fragment_graph_get_mark1(graph, node) ? "style = filled, fillcolor = green, " : "";
    const oriented_id_t fragment = graph->nodes[i].fragment;
    const int length = fragment_graph_get_node_length(graph, node);
    if (fragment == node) {
      fprintf(file, "\t\"%8.8x\" [%slabel=\"<-%8.8x> -| %4.4x (%i) |<+%8.8x> +\"]\n", ui, style, ui, ui, length, ui);
    } else {
      fprintf(file, "\t\"%8.8x\" [%slabel=\"<-%8.8x> -| %4.4x/%4.4x (%i) |<+%8.8x> +\"]\n", ui, style, ui, ui,
              fragment, length, ui);
    }
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, node); e != kNone;
         e = fragment_graph_get_sibling_prev_edge(graph, e)) {
      const oriented_id_t other = fragment_graph_get_edge_from_node(graph, e);
      if (index_of(other) < ui) continue;
      write_edge_line(file, index_of(other), sign(other, '-', '+'), ui, '-',
                      fragment_graph_get_edge_support(graph, info, e));
    }
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      const oriented_id_t other = fragment_graph_get_edge_to_node(graph, e);
      if (index_of(other) < ui) continue;
      write_edge_line(file, ui, '+', index_of(other), sign(other, '+', '-'),
                      fragment_graph_get_edge_support(graph, info, e));
    }
  }
  write_read_pair_links(file, graph, table);
  fputs("}\n", file);
  commit_output(output, path);
}

void fragment_graph_write_contig_dot(const fragment_graph_t *graph, const read_table_t *table,
                                     const contig_info_t *contigs, const char *path) {
  output_file_t *output = open_output(path);
  FILE *file = output->file;
  const read_info_t *info = info_of(table);
  write_preamble(file);
  for (int32_t i = 0; i < contigs->contig_count; i++) {
    const auto c = static_cast<oriented_id_t>(i);
    const int32_t length = contig_info_get_contig_length(contigs, graph, c);
    const oriented_id_t first = contig_info_get_first_node(contigs, c);
    const oriented_id_t last = contig_info_get_last_node(contigs, c);
    if (length < kContigDotMinLength && fragment_graph_get_first_prev_edge(graph, first) == kNone &&
        fragment_graph_get_first_next_edge(graph, last) == kNone) {
      continue;
    }
    fprintf(file, "\t\"%8.8x\" [label=\"<-%8.8x> -| %4.4x (%i) |<+%8.8x> +\"]\n", c, c, c, length, c);
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, first); e != kNone;
         e = fragment_graph_get_sibling_prev_edge(graph, e)) {
      const oriented_id_t k = contig_info_get_node_contig(contigs, fragment_graph_get_edge_from_node(graph, e));
      if (k == kNone || index_of(k) < c) continue;
      write_edge_line(file, index_of(k), sign(k, '-', '+'), c, '-', fragment_graph_get_edge_support(graph, info, e));
    }
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, last); e != kNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      const oriented_id_t k = contig_info_get_node_contig(contigs, fragment_graph_get_edge_to_node(graph, e));
      if (k == kNone || index_of(k) < c) continue;
      write_edge_line(file, c, '+', index_of(k), sign(k, '+', '-'), fragment_graph_get_edge_support(graph, info, e));
    }
  }
  fputs("}\n", file);
  commit_output(output, path);
}

int partial_graph_compare_nodes(const void *a, const void *b) {
  const oriented_id_t x = static_cast<const partial_graph_item_t *>(a)->a;
  const oriented_id_t y = static_cast<const partial_graph_item_t *>(b)->a;
  return x < y ? -1 : (x > y ? 1 : 0);
}

int partial_graph_compare_edges(const void *a, const void *b) {
  const auto *x = static_cast<const partial_graph_item_t *>(a);
  const auto *y = static_cast<const partial_graph_item_t *>(b);
  if (x->a != y->a) return x->a < y->a ? -1 : 1;
  if (x->b != y->b) return x->b < y->b ? -1 : 1;
  const auto dx = static_cast<uint32_t>(x->distance);
  const auto dy = static_cast<uint32_t>(y->distance);
  return dx < dy ? -1 : (dx > dy ? 1 : 0);
}

void partial_graph_free_item(void *item) { ryx_free(item); }

namespace {

void insert_once(rb_tree_t *set, const partial_graph_item_t &record) {
  if (rb_tree_find(set, &record) != nullptr) return;
  auto *item = static_cast<partial_graph_item_t *>(ryx_malloc(sizeof(partial_graph_item_t)));
  *item = record;
  rb_tree_insert(set, item);
}

struct partial_write_context_t {
  FILE *file;
  const fragment_graph_t *graph;
  const read_info_t *info;
};

void write_node_item(void *item, void *context) {
  const auto *ctx = static_cast<partial_write_context_t *>(context);
  partial_graph_write_node(ctx->file, ctx->graph, static_cast<partial_graph_item_t *>(item)->a);
}

void write_edge_item(void *item, void *context) {
  const auto *ctx = static_cast<partial_write_context_t *>(context);
  partial_graph_write_edge(ctx->file, ctx->graph, ctx->info, static_cast<partial_graph_item_t *>(item));
}

}  // namespace

void partial_graph_collect(const fragment_graph_t *graph, rb_tree_t *nodes, rb_tree_t *edges, oriented_id_t node,
                           oriented_id_t previous, int32_t depth, int32_t max_depth) {
  if (depth == 0) insert_once(nodes, {node, kNone, 0});
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
    if (to == previous) continue;
    const int32_t distance = fragment_graph_get_edge_distance(graph, e);
    if (node > flip(to)) {
      insert_once(edges, {flip(to), flip(node), distance});
    } else {
      insert_once(edges, {node, to, distance});
    }
    insert_once(nodes, {to, kNone, 0});
    if (depth < max_depth - 1) {
      partial_graph_collect(graph, nodes, edges, to, node, depth + 1, max_depth);
      partial_graph_collect(graph, nodes, edges, flip(to), flip(node), depth + 1, max_depth);
    }
  }
}

void partial_graph_write_node(FILE *file, const fragment_graph_t *graph, oriented_id_t node) {
  const uint32_t i = index_of(node);
  const char *end = fragment_graph_is_bubble_end(graph, node) ? "\\>" : "";
  const char *inner = fragment_graph_is_bubble_node(graph, node) ? " =" : "";
  const char *start = fragment_graph_is_bubble_start(graph, node) ? "\\<" : "";
  const oriented_id_t fragment = graph->nodes[i].fragment;
  const int length = fragment_graph_get_node_length(graph, node);
  if (fragment == i) {
    fprintf(file, "\t\"%8.8x\" [label=\"<-%8.8x> %s-| %4.4x (%i)%s |<+%8.8x> +%s\"]\n", i, i, end, i, length, inner, i,
            start);
  } else {
    fprintf(file, "\t\"%8.8x\" [label=\"<-%8.8x> %s-| %4.4x/%4.4x (%i)%s |<+%8.8x> +%s\"]\n", i, i, end, i, fragment,
            length, inner, i, start);
  }
}

void partial_graph_write_edge(FILE *file, const fragment_graph_t *graph, const read_info_t *read_info,
                              const partial_graph_item_t *edge) {
  uint32_t support = 0;
  for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, edge->a); e != kNone;
       e = fragment_graph_get_sibling_next_edge(graph, e)) {
    if (fragment_graph_get_edge_to_node(graph, e) == edge->b &&
        fragment_graph_get_edge_distance(graph, e) == edge->distance) {
      support = fragment_graph_get_edge_support(graph, read_info, e);
      break;
    }
  }
  write_edge_line(file, index_of(edge->a), sign(edge->a, '-', '+'), index_of(edge->b), sign(edge->b, '+', '-'),
                  support);
}

void fragment_graph_write_partial_dot(const fragment_graph_t *graph, const read_table_t *table, const char *path,
                                      oriented_id_t node, int32_t depth) {
  rb_tree_t *nodes = rb_tree_new(partial_graph_compare_nodes, partial_graph_free_item);
  rb_tree_t *edges = rb_tree_new(partial_graph_compare_edges, partial_graph_free_item);
  partial_graph_collect(graph, nodes, edges, node, kNone, 0, depth);
  output_file_t *output = open_output(path);
  partial_write_context_t context{output->file, graph, info_of(table)};
  write_preamble(output->file);
  rb_tree_walk(nodes, write_node_item, &context);
  rb_tree_walk(edges, write_edge_item, &context);
  fputs("}\n", output->file);
  rb_tree_free_with_items(nodes);
  rb_tree_free_with_items(edges);
  commit_output(output, path);
}

void fragment_graph_write_contig_gexf(const fragment_graph_t *graph, const read_table_t *table,
                                      const contig_info_t *contigs, const char *path, int32_t min_length) {
  output_file_t *output = open_output(path);
  FILE *file = output->file;
  const std::vector<std::string> names = contig_names(graph, contigs, min_length);
  write_gexf_header(file);
  fputs("<nodes>\n", file);
  for (int32_t i = 0; i < contigs->contig_count; i++) {
    const auto c = static_cast<oriented_id_t>(i);
    const int32_t length = contig_info_get_contig_length(contigs, graph, c);
    fprintf(file, "<node id=\"%8.8x\" label=\"%s (%u)\">\n", c, names[i].c_str(), static_cast<unsigned>(length));
    fputs("<attvalues></attvalues>\n", file);
    write_gexf_viz(file, length,
                   gexf_degree(graph, contig_info_get_first_node(contigs, c), contig_info_get_last_node(contigs, c)));
    fputs("</node>\n", file);
  }
  fputs("</nodes>\n", file);
  fputs("<edges>\n", file);
  const read_info_t *info = info_of(table);
  for (int32_t i = 0; i < contigs->contig_count; i++) {
    const auto c = static_cast<oriented_id_t>(i);
    write_gexf_edges(file, graph, info, c, contig_info_get_first_node(contigs, c),
                     contig_info_get_last_node(contigs, c),
                     [contigs](oriented_id_t n) { return contig_info_get_node_contig(contigs, n); });
  }
  write_gexf_end(file);
  commit_output(output, path);
}

int contig_name_compare(const void *a, const void *b) {
  return *static_cast<const int32_t *>(a) == *static_cast<const int32_t *>(b) ? 0 : -1;
}

uint64_t contig_name_hash(const void *key) { return static_cast<uint32_t>(*static_cast<const int32_t *>(key)); }

void fragment_graph_write_fragment_gexf(const fragment_graph_t *graph, const read_table_t *table,
                                        const contig_info_t *contigs, const char *path, int32_t min_length) {
  // Contig index -> its name (an owned C string).
  generic_hash_map_t *names = nullptr;
  if (contigs != nullptr) {
    names = generic_hash_map_new(4, sizeof(char *), contig_name_compare, contig_name_hash);
    const std::vector<std::string> list = contig_names(graph, contigs, min_length);
    for (int32_t c = 0; c < contigs->contig_count; c++) {
      char *name = static_cast<char *>(ryx_malloc(list[c].size() + 1));
      memcpy(name, list[c].c_str(), list[c].size() + 1);
      generic_hash_map_insert(names, &c, &name);
    }
  }
  output_file_t *output = open_output(path);
  FILE *file = output->file;
  write_gexf_header(file);
  fputs("<attributes class=\"node\" mode=\"static\">\n", file);
  fputs("<attribute id=\"test\" title=\"sequence\" type=\"string\"></attribute>\n", file);
  fputs("</attributes>\n", file);
  fputs("<nodes>\n", file);
  for (int32_t i = 0; i < graph->node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    const unsigned length = static_cast<unsigned>(fragment_graph_get_node_length(graph, node));
    char *name = nullptr;
    if (names != nullptr) {
      const oriented_id_t contig = contig_info_get_node_contig(contigs, node);
      if (contig != kNone) {
        const auto key = static_cast<int32_t>(index_of(contig));
        // Values follow the 4-byte keys unaligned: copied out.
        const void *found = generic_hash_map_find(names, &key);
        if (found != nullptr) memcpy(&name, found, sizeof(name));
      }
    }
    if (name != nullptr) {
      fprintf(file, "<node id=\"%8.8x\" label=\"%s (%u)\">\n", node, name, length);
    } else {
      fprintf(file, "<node id=\"%8.8x\" label=\"%8.8x (%u)\">\n", node, node, length);
    }
    fputs("<attvalues>\n", file);
    fputs("<attvalue for=\"sequence\" value=\"", file);
    fputs(fragment_letters(graph->fragments, index_of(graph->nodes[i].fragment)).c_str(), file);
    fputs("\"></attvalue>\n", file);
    fputs("</attvalues>\n", file);
    write_gexf_viz(file, length, gexf_degree(graph, node, node));
    fputs("</node>\n", file);
  }
  fputs("</nodes>\n", file);
  fputs("<edges>\n", file);
  const read_info_t *info = info_of(table);
  for (int32_t i = 0; i < graph->node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    write_gexf_edges(file, graph, info, node, node, node, [](oriented_id_t n) { return n; });
  }
  write_gexf_end(file);
  if (names != nullptr) {
    generic_hash_map_iterator_t *it = generic_hash_map_iterator_new(names);
    while (generic_hash_map_iterator_next(it)) {
      char *name = nullptr;
      memcpy(&name, it->value, sizeof(name));
      free_name(name);
    }
    generic_hash_map_iterator_free(it);
    generic_hash_map_free(names);
  }
  commit_output(output, path);
}

void fragment_graph_write_nodes(const fragment_graph_t *graph, seq_db_t *fragments, const read_table_t *table,
                                const char *path) {
  (void)table;
  output_file_t *output = open_output(path);
  FILE *file = output->file;
  for (int32_t i = 0; i < graph->node_count; i++) {
    const auto node = static_cast<oriented_id_t>(i);
    const int bubble = 4 * fragment_graph_is_bubble_end(graph, node) + 2 * fragment_graph_is_bubble_start(graph, node) +
                       fragment_graph_is_bubble_node(graph, node);
    fprintf(file, ">node %x fragment %x bubble %d prev_edges %d (", node, graph->nodes[i].fragment, bubble,
            count_prev_edges(graph, node));
    const char *separator = "";
    for (oriented_id_t e = fragment_graph_get_first_prev_edge(graph, node); e != kNone;
         e = fragment_graph_get_sibling_prev_edge(graph, e)) {
      const oriented_id_t from = fragment_graph_get_edge_from_node(graph, e);
      fprintf(file, "%s%d %x%s", separator, fragment_graph_get_edge_distance(graph, e), index_of(from),
              fragment_graph_node_is_reverse(from) ? "'" : "");
      separator = " ";
    }
    fprintf(file, ") next_edges %d (", fragment_graph_count_next_edges(graph, node));
    separator = "";
    for (oriented_id_t e = fragment_graph_get_first_next_edge(graph, node); e != kNone;
         e = fragment_graph_get_sibling_next_edge(graph, e)) {
      const oriented_id_t to = fragment_graph_get_edge_to_node(graph, e);
      fprintf(file, "%s%d %x%s", separator, fragment_graph_get_edge_distance(graph, e), index_of(to),
              fragment_graph_node_is_reverse(to) ? "'" : "");
      separator = " ";
    }
    fputs(")", file);
    const std::string letters = fragment_letters(fragments, index_of(graph->nodes[i].fragment));
    for (size_t j = 0; j < letters.size(); j++) {
      if (j % 70 == 0) fputc('\n', file);
      fputc(letters[j], file);
    }
    fputc('\n', file);
  }
  commit_output(output, path);
}

}  // extern "C"
