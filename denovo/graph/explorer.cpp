// The explorer's command loop and its commands.
#include "denovo/graph/explorer.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "denovo/graph/component_build.h"
#include "denovo/graph/component_expansion.h"
#include "denovo/graph/components.h"
#include "denovo/graph/explorer_text.h"
#include "denovo/graph/fragment_graph_bubbles.h"
#include "denovo/graph/fragment_graph_build.h"
#include "denovo/graph/fragment_graph_check.h"
#include "denovo/graph/graph_export.h"
#include "denovo/graph/neighbourhood.h"
#include "denovo/graph/weak_edges.h"

using explorer_text::at_line_end;
using explorer_text::read_id;
using explorer_text::read_int;
using explorer_text::skip_blanks;

namespace {

// Threshold of explorer_constant_decision. The decision function has no
// context argument of its own, and the explorer runs on one thread.
int32_t g_decision_value = 0;

constexpr int32_t kDefaultWeakFactor = 40;
constexpr int32_t kBubbleDifference = 10;
const char *const kDotPath = "graph.dot";
const char *const kContigEndsPath = "contigs.txt";

// Marks 1 to 6 of the graph as the dialogue found them. The commands use
// these marks as scratch bits and expect them clear (the window info counts
// a marked outside node as a window node, the mark check fails on any of
// them), but a graph from the paired stage carries marks the contig writer
// reads later: joined nodes, scaffold ends, excluded alternatives. They are
// taken off while the dialogue runs and put back at its end on every slot
// that still holds the same live fragment.
struct mark_stash_t {
  int32_t count;             // node slots when the marks were taken
  oriented_id_t *fragments;  // the fragment of each slot then
  uint16_t *marks;           // its marks 1 to 6 then
};

// What the loop keeps from one command to the next.
struct session_t {
  explorer_t *x;
  component_max_function decision;  // the caller's
  int32_t bubble_size;
  component_window_t *window;
  contig_info_t *given_contigs;  // the caller's, never freed here
  contig_info_t *own_contigs;    // built here on demand
  bool contigs_stale;            // the graph changed since the contig info in use was made
  neighbourhood_t *neighbourhood;
  mark_stash_t stash;
};

void stash_free(mark_stash_t *stash) {
  stash->fragments = static_cast<oriented_id_t *>(ryx_free(stash->fragments));
  stash->marks = static_cast<uint16_t *>(ryx_free(stash->marks));
  stash->count = 0;
}

// Takes marks 1 to 6 off every slot into the stash, replacing what it held.
void stash_take(mark_stash_t *stash, fragment_graph_t *graph) {
  stash_free(stash);
  const auto n = static_cast<size_t>(graph->node_count);
  stash->count = graph->node_count;
  stash->fragments = static_cast<oriented_id_t *>(ryx_malloc(n * sizeof(oriented_id_t)));
  stash->marks = static_cast<uint16_t *>(ryx_malloc(n * sizeof(uint16_t)));
  for (size_t i = 0; i < n; i++) {
    stash->fragments[i] = graph->nodes[i].fragment;
    stash->marks[i] = graph->nodes[i].flags & kGraphScratchMarks;
  }
  fragment_graph_clear_flags(graph, kGraphScratchMarks);
}

// Puts the stashed marks back on the slots that are live and carry the
// fragment they carried when the marks were taken; empties the stash.
void stash_restore(mark_stash_t *stash, fragment_graph_t *graph) {
  const int32_t n = stash->count < graph->node_count ? stash->count : graph->node_count;
  for (int32_t i = 0; i < n; i++) {
    fragment_graph_node_t &node = graph->nodes[i];
    if ((node.flags & kGraphDisabledBit) == 0 && node.fragment == stash->fragments[i]) node.flags |= stash->marks[i];
  }
  stash_free(stash);
}

fragment_graph_t *graph_of(const session_t *s) { return s->x->graph; }

read_info_t *reads_of(const session_t *s) { return s->x->table != nullptr ? s->x->table->read_info : nullptr; }

// True when the read paths can be looked up; else says why not.
bool have_reads(const session_t *s) {
  const read_info_t *info = reads_of(s);
  if (info != nullptr && info->offsets != nullptr) return true;
  printf("No read information loaded.\n");
  return false;
}

// An id as typed: hexadecimal index and the apostrophe of the reverse strand.
void print_id_suffix(oriented_id_t id) {
  if (id == kOrientedIdNone) {
    printf("ffffffff");
    return;
  }
  printf("%x%s", oriented_id_get_index(id), oriented_id_is_reverse(id) ? "'" : "");
}

// True for a live node of the graph; else prints why the id is refused.
bool check_node(const session_t *s, oriented_id_t id) {
  const fragment_graph_t *graph = graph_of(s);
  if (id != kOrientedIdNone && static_cast<int64_t>(oriented_id_get_index(id)) < graph->node_count &&
      !fragment_graph_is_disabled(graph, id)) {
    return true;
  }
  printf("Node ");
  print_id_suffix(id);
  printf(" is not in the graph.\n");
  return false;
}

// True for a fragment of the database that also has its node slot.
bool check_fragment(const session_t *s, oriented_id_t id) {
  const int64_t index = oriented_id_get_index(id);
  if (id != kOrientedIdNone && index < s->x->fragments->sequence_count && index < graph_of(s)->node_count) {
    return true;
  }
  printf("Fragment ");
  print_id_suffix(id);
  printf(" is not in the database.\n");
  return false;
}

// Every node of a window list must be live and given once (either strand).
bool check_node_list(const session_t *s, const oriented_id_t *ids, int32_t n) {
  for (int32_t i = 0; i < n; i++) {
    if (!check_node(s, ids[i])) return false;
    for (int32_t j = 0; j < i; j++) {
      if (oriented_id_get_index(ids[j]) == oriented_id_get_index(ids[i])) {
        printf("Node ");
        print_id_suffix(ids[i]);
        printf(" is given twice.\n");
        return false;
      }
    }
  }
  return true;
}

// The command's single id: 1 with a usable id; 0 when the command is to do
// nothing (unreadable, -1 or refused, messages printed).
int one_id(const session_t *s, const char *args, oriented_id_t *id, bool is_fragment) {
  if (explorer_parse_id(args, id) != 0 || *id == kOrientedIdNone) return 0;
  return is_fragment ? check_fragment(s, *id) : check_node(s, *id);
}

// Reads a node list for w, u and m: 1 with the checked list (caller frees).
int node_list(const session_t *s, const char *args, oriented_id_t **ids, int32_t *n) {
  const char *p = args;
  oriented_id_t probe = 0;
  if (!read_id(&p, &probe)) {
    explorer_print_command_error();
    return 0;
  }
  if (explorer_parse_node_list(args, ids, n) != 0) {
    explorer_print_command_error();
    return 0;
  }
  if (!check_node_list(s, *ids, *n)) {
    *ids = static_cast<oriented_id_t *>(ryx_free(*ids));
    return 0;
  }
  return 1;
}

// Reads a node list and two numbers for b and c.
int node_list_and_two_ints(const session_t *s, const char *args, const char *syntax, oriented_id_t **ids,
                           int32_t *n, int32_t *first, int32_t *second) {
  if (explorer_parse_node_list_and_two_ints(args, ids, n, first, second) != 0) {
    printf("%s\n", syntax);
    return 0;
  }
  if (!check_node_list(s, *ids, *n)) {
    *ids = static_cast<oriented_id_t *>(ryx_free(*ids));
    return 0;
  }
  return 1;
}

// The contig info for n and sc: the caller's, or one made here, made again
// once the graph has changed.
contig_info_t *contigs_of(session_t *s) {
  if (s->contigs_stale) {
    s->own_contigs = contig_info_free(s->own_contigs);
    s->given_contigs = nullptr;
    s->contigs_stale = false;
  }
  if (s->given_contigs != nullptr) return s->given_contigs;
  if (s->own_contigs == nullptr) s->own_contigs = contig_info_build(graph_of(s), 1, 1);
  return s->own_contigs;
}

void graph_changed(session_t *s) { s->contigs_stale = true; }

component_max_function decision_for(const session_t *s, int32_t max_against) {
  explorer_set_decision_value(max_against);
  if (max_against >= 0 || s->decision == nullptr) return explorer_constant_decision;
  return s->decision;
}

void command_n(session_t *s, const char *args) {
  oriented_id_t id = 0;
  if (!one_id(s, args, &id, true)) return;
  explorer_print_fragment_sequence(s->x, id);
  printf("contig: ");
  const oriented_id_t node = fragment_graph_get_fragment_node(graph_of(s), id);
  if (fragment_graph_get_other_node(graph_of(s), node) != kOrientedIdNone) {
    printf("?");
  } else {
    printf("%8.8x", contig_info_get_node_contig(contigs_of(s), node));
  }
  printf("\n");
}

void command_r(session_t *s, const char *args) {
  oriented_id_t id = 0;
  if (!one_id(s, args, &id, true) || !have_reads(s)) return;
  const read_info_t *info = reads_of(s);
  const uint64_t n = read_info_get_occurrence_count(info, id);
  for (uint64_t i = 0; i < n; i++) {
    explorer_print_read_row(s->x, read_info_get_sorted_occurrence(info, id, i), kOrientedIdNone);
  }
}

void command_l(session_t *s, const char *args) {
  oriented_id_t node = 0;
  if (!one_id(s, args, &node, false) || !have_reads(s)) return;
  const read_info_t *info = reads_of(s);
  const oriented_id_t fragment = fragment_graph_get_node_fragment(graph_of(s), node);
  const uint64_t n = read_info_get_occurrence_count(info, fragment);
  for (uint64_t i = 0; i < n; i++) explorer_print_read_row(s->x, read_info_get_occurrence(info, fragment, i), node);
  printf("read count %d\n", static_cast<int>(n));
}

void command_p(session_t *s, const char *args) {
  oriented_id_t id = 0;
  if (!one_id(s, args, &id, true)) return;
  const read_pair_info_t *pairs = s->x->table != nullptr ? s->x->table->read_pair_info : nullptr;
  if (pairs == nullptr) {
    printf("No read pair information loaded.\n");
    return;
  }
  uint64_t count = 0;
  const read_pair_t *at = read_pair_info_find_by_fragment1(pairs, id, &count);
  for (uint64_t i = 0; i < count; i++) read_pair_info_print_pair(pairs, at + i, reads_of(s));
  printf("---\n");
  at = read_pair_info_find_by_fragment2(pairs, id, &count);
  for (uint64_t i = 0; i < count; i++) read_pair_info_print_pair(pairs, at + i, reads_of(s));
}

void command_j(session_t *s, const char *args) {
  oriented_id_t id = 0;
  if (!one_id(s, args, &id, true)) return;
  printf("%8x\n", id);
  // The other-node links form a chain; a bound keeps a damaged chain from
  // looping for ever.
  int64_t steps = 0;
  for (oriented_id_t n = fragment_graph_get_other_node(graph_of(s), id);
       n != kOrientedIdNone && steps < graph_of(s)->node_count; n = fragment_graph_get_other_node(graph_of(s), n)) {
    printf("%8x\n", n);
    steps++;
  }
}

void command_f(session_t *s, const char *args) {
  const char *p = args;
  while (*p != '\0' && !isalpha(static_cast<unsigned char>(*p))) p++;
  int32_t n = 0;
  while (isalpha(static_cast<unsigned char>(p[n]))) n++;
  if (n == 0) {
    explorer_print_command_error();
    return;
  }
  auto *symbols = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(n)));
  for (int32_t i = 0; i < n; i++) {
    const char *at = strchr("ACGTN", toupper(static_cast<unsigned char>(p[i])));
    if (at == nullptr) {
      explorer_print_command_error();
      ryx_free(symbols);
      return;
    }
    symbols[i] = static_cast<uint8_t>(63 + (at - "ACGTN"));
  }
  explorer_find_fragments(s->x, symbols, n);
  ryx_free(symbols);
}

void command_d(session_t *s, const char *args) {
  oriented_id_t node = 0;
  if (!one_id(s, args, &node, false)) return;
  int32_t prev = 0, next = 0, prev_others = 0, next_others = 0, prev_reverse = 0, next_reverse = 0, loops = 0;
  fragment_graph_count_node_edges(graph_of(s), node, &prev, &next, &prev_others, &next_others, &prev_reverse,
                                  &next_reverse, &loops);
  printf("previous edge count  %d\n", prev);
  printf("next edge count      %d\n", next);
  printf("real_prev_edge_count %d\n", prev_others);
  printf("real_next_edge_count %d\n", next_others);
  printf("previous uturn       %d\n", prev_reverse);
  printf("next uturn           %d\n", next_reverse);
  printf("has loop             %d\n", loops);
}

void command_g(session_t *s, const char *args) {
  if (at_line_end(args)) {
    fragment_graph_print(graph_of(s), kOrientedIdNone);
    return;
  }
  oriented_id_t node = 0;
  if (one_id(s, args, &node, false)) fragment_graph_print(graph_of(s), node);
}

void command_a(session_t *s, const char *args) {
  int32_t max_against = 0, max_depth = 0;
  if (explorer_parse_two_ints(args, &max_against, &max_depth) != 0) {
    printf("syntax: a <max_against> <max_depth>\n");
    return;
  }
  if (!have_reads(s)) return;
  const component_max_function f = decision_for(s, max_against);
  int32_t changed = 0;
  while ((changed = component_unfold_all_nodes(s->window, f, max_depth, nullptr)) != 0) {
    graph_changed(s);
    printf("changed %d nodes\n", changed);
  }
  printf("no changes made\n");
}

void command_b(session_t *s, const char *args) {
  oriented_id_t *ids = nullptr;
  int32_t n = 0, max_against = 0, max_depth = 0;
  if (!node_list_and_two_ints(s, args, "syntax: b <node1,node2,...> <max_against> <max_depth>", &ids, &n,
                              &max_against, &max_depth) ||
      !have_reads(s)) {
    ryx_free(ids);
    return;
  }
  component_window_set_nodes(s->window, ids, n);
  const component_max_function f = decision_for(s, max_against);
  const int32_t changes = component_unfold_window(s->window, f, max_depth);
  if (changes != 0) graph_changed(s);
  printf("%d changes\n", changes);
  ryx_free(ids);
}

void command_c(session_t *s, const char *args) {
  oriented_id_t *ids = nullptr;
  int32_t n = 0, max_against = 0, max_depth = 0;
  if (!node_list_and_two_ints(s, args, "syntax: c <node1,node2,...> <max_against> <max_depth>", &ids, &n,
                              &max_against, &max_depth) ||
      !have_reads(s)) {
    ryx_free(ids);
    return;
  }
  component_window_set_nodes(s->window, ids, n);
  component_list_t *components = component_get_components(s->window, max_against);
  if (components != nullptr && components->component_count == 1) {
    printf("Getting more info\n");
    const int32_t more = component_get_more_info(s->window);
    component_list_print(components);
    if (more != 0) component_print_expandable_nodes(s->window);
  } else if (components != nullptr) {
    component_list_print(components);
  }
  ryx_free(ids);
}

void command_w(session_t *s, const char *args) {
  oriented_id_t *ids = nullptr;
  int32_t n = 0;
  if (!node_list(s, args, &ids, &n)) return;
  component_window_set_nodes(s->window, ids, n);
  component_window_print(s->window);
  ryx_free(ids);
}

void command_u(session_t *s, const char *args) {
  oriented_id_t *ids = nullptr;
  int32_t n = 0;
  if (!node_list(s, args, &ids, &n)) return;
  if (have_reads(s)) {
    component_window_set_nodes(s->window, ids, n);
    component_list_t *components = component_get_components(s->window, 0);
    component_list_print(components);
    if (component_build(s->window, components) != 0) graph_changed(s);
  }
  ryx_free(ids);
}

void command_m(session_t *s, const char *args) {
  oriented_id_t *ids = nullptr;
  int32_t n = 0;
  if (!node_list(s, args, &ids, &n)) return;
  if (have_reads(s)) {
    component_window_t *window = component_window_new(graph_of(s), reads_of(s), s->bubble_size);
    component_window_set_nodes(window, ids, n);
    component_list_print(component_get_components(window, 0));
    component_window_free(window);
  }
  ryx_free(ids);
}

void command_y(session_t *s, const char *args) {
  oriented_id_t node = kOrientedIdNone;
  if (!at_line_end(args) && explorer_parse_id(args, &node) != 0) return;
  if (node == kOrientedIdNone) {
    remove_tips(graph_of(s), nullptr);
  } else {
    if (!check_node(s, node)) return;
    remove_tip_at(graph_of(s), node);
  }
  graph_changed(s);
}

void command_k(session_t *s, const char *args) {
  int32_t minimum = -1, weak_factor = kDefaultWeakFactor;
  if (explorer_parse_two_ints(args, &minimum, &weak_factor) != 0) {
    minimum = -1;
    weak_factor = kDefaultWeakFactor;
  }
  // The automatic threshold divides by the weak factor.
  if (weak_factor <= 0) {
    printf("syntax: k <minimum_for> <weak_factor>\n");
    return;
  }
  if (!have_reads(s)) return;
  remove_weak_edges(graph_of(s), s->x->table, minimum, weak_factor, nullptr);
  graph_changed(s);
}

void command_v(session_t *s, const char *args) {
  oriented_id_t node = kOrientedIdNone;
  if (!at_line_end(args)) {
    if (explorer_parse_id(args, &node) != 0 || node == kOrientedIdNone) {
      printf("syntax: v [node]\n");
      return;
    }
    if (!check_node(s, node)) return;
  }
  const fragment_graph_t *graph = graph_of(s);
  const int links = fragment_graph_check_links(graph, node);
  const int bubbles = fragment_graph_check_bubbles(graph, node);
  const int marks = fragment_graph_check_marks(graph, node);
  printf(links == 1 && bubbles == 1 && marks == 1 ? "contig graph is valid\n" : "contig graph is not valid\n");
}

void command_o(session_t *s) {
  if (s->x->paired_optimize == nullptr) {
    printf("Paired optimisation is not available.\n");
    return;
  }
  fragment_graph_set_other_nodes(graph_of(s));
  contig_info_free(s->x->paired_optimize(graph_of(s), s->x->table, s->bubble_size, 1, nullptr, nullptr));
  graph_changed(s);
  // The optimisation starts from a graph without marks and leaves its own
  // for the contig writer: those are the ones to keep now.
  stash_take(&s->stash, graph_of(s));
}

void command_s(session_t *s, const char *args) {
  const char *p = args;
  const bool contigs = *p == 'c';
  if (contigs) p++;
  oriented_id_t node = kOrientedIdNone;
  int32_t depth = 0;
  if (!at_line_end(p)) {
    if (explorer_parse_id_and_int(p, &node, &depth) != 0) {
      explorer_print_command_error();
      return;
    }
    if (node != kOrientedIdNone) {
      if (!check_node(s, node)) return;
      fragment_graph_write_partial_dot(graph_of(s), s->x->table, kDotPath, node, depth);
      printf("Partial graph for node %8.8x saved to graph.dot\n", node);
      return;
    }
  }
  if (!contigs) {
    fragment_graph_write_dot(graph_of(s), s->x->table, kDotPath);
    printf("Full graph saved to graph.dot\n");
    return;
  }
  contig_info_t *info = contigs_of(s);
  fragment_graph_write_contig_dot(graph_of(s), s->x->table, info, kDotPath);
  if (explorer_write_contig_ends(graph_of(s), info, kContigEndsPath) != 0) return;
  printf("Full contig graph saved to graph.dot, start and end nodes of contigs saved to contigs.txt\n");
}

void command_e(session_t *s, const char *args) {
  int32_t size = s->bubble_size;
  if (!at_line_end(args)) {
    const char *p = args;
    if (!read_int(&p, &size) || !at_line_end(p)) {
      explorer_print_command_error();
      return;
    }
    if (size <= 0) return;
  }
  if (!have_reads(s)) return;
  fragment_graph_set_bubbles(graph_of(s), reads_of(s), size, kBubbleDifference, 0);
  graph_changed(s);
}

void command_z(session_t *s, const char *args) {
  oriented_id_t depth = 0;
  if (explorer_parse_id(args, &depth) != 0 || depth == kOrientedIdNone) return;
  fragment_graph_print_neighbour_average(graph_of(s), static_cast<int32_t>(depth));
}

void command_t(session_t *s, const char *args) {
  oriented_id_t a = 0, b = 0;
  if (explorer_parse_two_ids(args, &a, &b) != 0) {
    explorer_print_command_error();
    return;
  }
  if (!check_node(s, a) || !check_node(s, b)) return;
  if (s->neighbourhood == nullptr) s->neighbourhood = neighbourhood_new(graph_of(s), kExplorerPathRadius);
  printf("Path %8.8x %8.8x\n", a, b);
  neighbourhood_print_path(graph_of(s), s->neighbourhood, a, b);
}

// A command without arguments: the rest of the line must be blank.
bool no_arguments(const char *args) {
  if (at_line_end(args)) return true;
  explorer_print_command_error();
  return false;
}

// Runs one command line; returns false at 'q'.
bool run_command(session_t *s, const char *line) {
  const char *args = line + 1;
  switch (line[0]) {
    case 'h':
      if (no_arguments(args)) explorer_print_help();
      return true;
    case 'q':
      return !no_arguments(args);
    case 'i':
      if (no_arguments(args)) explorer_print_fragment_count(s->x);
      return true;
    case 'n': command_n(s, args); return true;
    case 'r': command_r(s, args); return true;
    case 'p': command_p(s, args); return true;
    case 'j': command_j(s, args); return true;
    case 'f': command_f(s, args); return true;
    case 'd': command_d(s, args); return true;
    case 'g': command_g(s, args); return true;
    case 'a': command_a(s, args); return true;
    case 'b': command_b(s, args); return true;
    case 'c': command_c(s, args); return true;
    case 'w': command_w(s, args); return true;
    case 'x':
      if (no_arguments(args)) {
        fragment_graph_set_other_nodes(graph_of(s));
        graph_changed(s);
      }
      return true;
    case 'y': command_y(s, args); return true;
    case 'k': command_k(s, args); return true;
    case 'v': command_v(s, args); return true;
    case 'o':
      if (no_arguments(args)) command_o(s);
      return true;
    case 's': command_s(s, args); return true;
    case 'e': command_e(s, args); return true;
    case 'z': command_z(s, args); return true;
    case 'm': command_m(s, args); return true;
    case 'l': command_l(s, args); return true;
    case 't': command_t(s, args); return true;
    case 'u': command_u(s, args); return true;
    default:
      explorer_print_command_error();
      return true;
  }
}

// Reads one line into buffer; false at the end of the input. A line too
// long for the buffer is read to its end and comes back empty with
// *too_long set.
bool read_line(FILE *input, char *buffer, bool *too_long) {
  *too_long = false;
  if (fgets(buffer, kExplorerLineSize, input) == nullptr) return false;
  const size_t n = strlen(buffer);
  if (n == static_cast<size_t>(kExplorerLineSize) - 1 && buffer[n - 1] != '\n') {
    int c = 0;
    while ((c = fgetc(input)) != EOF && c != '\n') {
    }
    *too_long = true;
    buffer[0] = '\0';
  }
  return true;
}

}  // namespace

extern "C" {

void explorer_set_decision_value(int32_t value) { g_decision_value = value; }

int explorer_constant_decision(component_window_t *context, component_list_t *components) {
  // A threshold of 0 never claims a change; a positive one narrows the
  // single component to the path groups above it and builds the window from
  // them, claiming a change only when the graph did change, so that the
  // unfolding passes end.
  if (g_decision_value <= 0) return 0;
  component_list_t *above = component_get_components_above_count(context, components, g_decision_value);
  if (above == nullptr || above->component_count == 0) return 0;
  return component_build(context, above);
}

void explorer_loop(explorer_t *context, component_max_function decision, int32_t bubble_size,
                   contig_info_t *contigs) {
  session_t s{};
  s.x = context;
  s.decision = decision;
  s.bubble_size = bubble_size;
  s.given_contigs = contigs;
  stash_take(&s.stash, context->graph);
  s.window = component_window_new(context->graph, reads_of(&s), bubble_size);
  printf("\nExplore database:\n");
  char line[kExplorerLineSize];
  for (;;) {
    printf("> ");
    fflush(stdout);
    bool too_long = false;
    if (!read_line(context->input, line, &too_long)) break;
    if (too_long) {
      explorer_print_command_error();
      continue;
    }
    if (line[0] == '\n' || line[0] == '\0') continue;
    if (!run_command(&s, line)) break;
  }
  s.window = component_window_free(s.window);
  s.own_contigs = contig_info_free(s.own_contigs);
  s.neighbourhood = neighbourhood_free(s.neighbourhood);
  stash_restore(&s.stash, context->graph);
  printf("\n");
  fflush(stdout);
}

void explorer_run(seq_db_t *fragments, read_table_t *table, fragment_graph_t *graph, component_max_function decision,
                  int32_t bubble_size, contig_info_t *contigs, explorer_paired_optimize_fn paired_optimize) {
  explorer_t context{fragments, table, graph, paired_optimize, stdin};
  explorer_loop(&context, decision, bubble_size, contigs);
}

}  // extern "C"
