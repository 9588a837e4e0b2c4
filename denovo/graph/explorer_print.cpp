// What the explorer prints about fragments and reads: ids, help, fragment
// sequences, read rows, symbol search and the contig end list.
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/output_file.h"
#include "denovo/graph/explorer.h"
#include "denovo/graph/weak_edges.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

const char *const kHelpLines[] = {
    " h                                      help",
    " q                                      quit",
    " i                                      general info",
    " n <frag>                               print fragment sequence",
    " r <frag>                               print read info",
    " p <frag>                               print paired info",
    " j <frag>                               print nodes containing fragment",
    " f <symbols>                            find fragments with symbols",
    " d <node>                               describe node",
    " g [<node>]                             print fragment_graph for node or the whole graph",
    " a <max_against> <max_depth>                    apply unfold to all nodes",
    " b <node1,node2,...> <max_against> <max_depth>  apply unfold to window node1,node2,...",
    " c <node1,node2,...> <max_against> <max_depth>  show components (no changes made)",
    " w <node1,node2,...>                            describe window",
    " x                                              set other nodes",
    " y <node>                                       remove tips (removes all if no node)",
    " k <minimum_for> <weak_factor>                  remove_weak_edges",
    " v [node]  check if graph or node is valid",
    " o optimize graph from paired information",
    " s save graph to file in graphviz format",
    " e <node> set bubbles",
    " z <node> analyze graph",
    " m check if reads are part of next",
};

// Letter of a fragment residue byte (63 to 67 for A, C, G, T, N), read on
// the given strand; any other byte shows as N.
char residue_letter(uint8_t byte, bool reverse) {
  const int code = byte - 63;
  if (code < 0 || code > 4) return 'N';
  return (reverse ? "TGCAN" : "ACGTN")[code];
}

// Residue byte of the other strand.
uint8_t complement_byte(uint8_t byte) { return byte >= 63 && byte <= 66 ? static_cast<uint8_t>(129 - byte) : byte; }

// Prints every start at which the symbols occur in the residues.
void print_matches(const uint8_t *residues, int64_t length, const uint8_t *symbols, int32_t count, int64_t index,
                   char strand_mark) {
  for (int64_t j = 0; j + count <= length; j++) {
    if (memcmp(residues + j, symbols, static_cast<size_t>(count)) != 0) continue;
    printf("%8llx%c %8lld / %8lld\n", static_cast<unsigned long long>(index), strand_mark, static_cast<long long>(j),
           static_cast<long long>(length));
  }
}

}  // namespace

extern "C" {

void explorer_print_command_error(void) { printf("Unknown command. Try 'h' for help.\n"); }

void explorer_print_help(void) {
  for (const char *line : kHelpLines) printf("%s\n", line);
}

void explorer_print_fragment_count(const explorer_t *context) {
  const long long n = context->fragments->sequence_count;
  printf("Fragment count:   %10lld (%llx)\n", n, static_cast<unsigned long long>(n));
}

void explorer_print_id(oriented_id_t id, int32_t width) {
  if (id == kOrientedIdNone) {
    printf(width == 0 ? "[none]" : "  [none]");
    return;
  }
  const unsigned index = oriented_id_get_index(id);
  if (width >= 2) {
    printf("%8x", index);
  } else if (width == 1) {
    printf("%4x", index);
  } else {
    printf("%x", index);
  }
  printf(oriented_id_is_reverse(id) ? "'" : " ");
}

void explorer_print_fragment_sequence(const explorer_t *context, oriented_id_t fragment) {
  seq_db_t *db = context->fragments;
  seq_record_t *record = db->get(db, oriented_id_get_index(fragment));
  const bool reverse = oriented_id_is_reverse(fragment) != 0;
  const int64_t n = record->length;
  printf("%lld:\n", static_cast<long long>(n));
  // Letter i of the strand asked for.
  auto letter = [&](int64_t i) {
    return reverse ? residue_letter(record->residues[n - 1 - i], true) : residue_letter(record->residues[i], false);
  };
  if (n >= 66) {
    for (int64_t i = 0; i < 30; i++) putchar(letter(i));
    printf(" ... ");
    for (int64_t i = n - 30; i < n; i++) putchar(letter(i));
  } else {
    for (int64_t i = 0; i < n; i++) putchar(letter(i));
  }
  printf("\n");
  seq_db_release_fetched(db, record);
}

void explorer_print_read_row(const explorer_t *context, read_ptr_t p, oriented_id_t follow_node) {
  const read_info_t *info = context->table->read_info;
  read_ptr_t first = p;
  int32_t k = 0;
  while (k < 6 && read_info_has_prev(info, first)) {
    first = read_info_get_prev(info, first);
    k++;
  }
  const int count = static_cast<int>(read_info_get_count(info, read_ptr_get_index(first)));
  const auto slot = static_cast<unsigned long long>(2 * read_ptr_get_index(first) + 1);
  if (follow_node == kOrientedIdNone) {
    printf("%3d %llx %x: ", count, slot, static_cast<unsigned>(p & 0xffffffffu));
  } else {
    printf("%3d %llx %d <-> %d: ", count, slot,
           fragment_graph_read_follows_graph_reverse(context->graph, info, p, follow_node),
           fragment_graph_read_follows_graph(context->graph, info, p, follow_node));
  }
  printf(read_info_has_prev(info, first) ? "..." : "   ");
  if (k <= 5) {
    for (int32_t i = 0; i < 6 - k; i++) printf("             ");
  }
  printf(" ");
  explorer_print_id(read_info_get_fragment(info, first), 1);
  read_ptr_t at = first;
  for (int32_t i = 0; i < k + 10 && read_info_has_next(info, at); i++) {
    const int32_t distance = read_info_get_next_distance(info, at);
    at = read_info_get_next(info, at);
    printf(" (%4d) ", distance);
    explorer_print_id(read_info_get_fragment(info, at), 1);
  }
  if (read_info_has_next(info, at)) printf(" ...");
  printf("\n");
}

void explorer_find_fragments(const explorer_t *context, const uint8_t *symbols, int32_t count) {
  seq_db_t *db = context->fragments;
  uint8_t *reverse = nullptr;
  int64_t reverse_capacity = 0;
  for (int64_t i = 0; i < db->sequence_count; i++) {
    seq_record_t *record = db->get(db, i);
    const int64_t n = record->length;
    print_matches(record->residues, n, symbols, count, i, ' ');
    if (n > reverse_capacity) {
      reverse_capacity = n;
      reverse = static_cast<uint8_t *>(ryx_realloc(reverse, static_cast<size_t>(n)));
    }
    for (int64_t j = 0; j < n; j++) reverse[j] = complement_byte(record->residues[n - 1 - j]);
    print_matches(reverse, n, symbols, count, i, '\'');
    seq_db_release_fetched(db, record);
  }
  ryx_free(reverse);
}

int explorer_write_contig_ends(const fragment_graph_t *graph, const contig_info_t *contigs, const char *path) {
  output_file_t *out = output_file_open(path);
  if (out == nullptr) {
    printf("Unable to write file %s\n", path);
    return -1;
  }
  for (int32_t c = 0; c < contig_info_get_contig_count(contigs); c++) {
    const auto contig = static_cast<oriented_id_t>(c);
    const oriented_id_t first = contig_info_get_first_node(contigs, contig);
    const oriented_id_t last = contig_info_get_last_node(contigs, contig);
    const oriented_id_t first_fragment = fragment_graph_get_node_fragment(graph, first);
    const oriented_id_t last_fragment = fragment_graph_get_node_fragment(graph, last);
    if (first_fragment == first && last_fragment == last) {
      fprintf(out->file, "%8.8x: %8.8x - %8.8x\n", contig, first, last);
    } else {
      fprintf(out->file, "%8.8x: %8.8x - %8.8x (%8.8x - %8.8x)\n", contig, first, last, first_fragment,
              last_fragment);
    }
  }
  if (output_file_commit(out) != 0) {
    printf("Unable to write file %s\n", path);
    return -1;
  }
  return 0;
}

}  // extern "C"
