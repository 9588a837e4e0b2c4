// The assembler's de Bruijn fragment graph: nodes that carry one fragment in
// one orientation, and edges that join the end of one node to the start of
// another at a signed distance in bases (negative: the fragments overlap).
//
// The graph is double-stranded without storing the reverse strand: node and
// edge ids are oriented_id_t values whose bit 31 selects the strand, and
// reading an object on the other strand flips that bit. Strand rules:
// - The reverse of edge e (stored from a to b) is the same slot read from
//   reverse(b) to reverse(a) at the same distance.
// - The next list of node n holds the edges leaving n; the prev list of n is
//   the next list of reverse(n) with every edge reversed. A forward node's
//   next list starts at its slot's first next edge, a reverse node's at the
//   reverse of its slot's first prev edge.
// - After a forward edge in a next list comes its slot's next in from-list,
//   after a reverse edge the reverse of its slot's next in to-list.
// - A stored edge lies in the next list of its from-node and in the prev
//   list of its to-node, except a hairpin (to = reverse(from)), which lies
//   once in the next list of from; that list serves as the prev list of to.
// Invariants kept by every mutating operation except the ones building
// unsorted: each next list is sorted by the target node's oriented fragment
// (unsigned) and then by distance; each edge is in exactly the lists the
// strand rules give; a disabled node has no edges.
//
// Ownership: the graph owns its node, edge and free-list arrays; the
// fragment database (residues 63 to 66 for A, C, G, T; sequence i is
// fragment i) is the caller's. Node and edge slots are recycled through the
// free lists and returned to the allocator only by fragment_graph_free. All
// graph work runs on one thread.
//
// Node flags: 0x01/0x02 end marks of the forward/reverse strand; 0x04 bubble
// start of the forward node (bubble end of the reverse node); 0x08 bubble
// end of the forward node; 0x10 bubble node; 0x20 disabled; 0x40 to 0x2000
// marks 1 to 8 (scratch bits; marks 1 to 6 are clear between steps); 0x4000
// and 0x8000 the not-done generation bits.
//
// Stage-file piece (little-endian): a presence byte (0: no graph, nothing
// follows), u32 word size, node count, node capacity; per node u32 first
// prev edge, first next edge, fragment, other node and u16 flags; u32 node
// free-list count and capacity and the entries; the not-done state (u32
// list heads 0 and 1, current and next index, u16 current, next and keep
// mask, u32 listed count); u32 edge count and capacity; per edge u32 from,
// to, next in to-list, next in from-list, distance; u32 edge free-list count
// and capacity and the entries.
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/reads/read_info.h"
#include "seqio/seq_db.h"

struct seq_record_t;

extern "C" {

constexpr uint16_t kGraphEndMarkForward = 0x01;
constexpr uint16_t kGraphEndMarkReverse = 0x02;
constexpr uint16_t kGraphBubbleStartBit = 0x04;
constexpr uint16_t kGraphBubbleEndBit = 0x08;
constexpr uint16_t kGraphBubbleNodeBit = 0x10;
constexpr uint16_t kGraphDisabledBit = 0x20;
constexpr uint16_t kGraphMark1 = 0x40;
constexpr uint16_t kGraphMark2 = 0x80;
constexpr uint16_t kGraphMark3 = 0x100;
constexpr uint16_t kGraphMark4 = 0x200;
constexpr uint16_t kGraphMark5 = 0x400;
constexpr uint16_t kGraphMark6 = 0x800;
constexpr uint16_t kGraphMark7 = 0x1000;
constexpr uint16_t kGraphMark8 = 0x2000;
// Marks 1 to 6, which every step leaves clear.
constexpr uint16_t kGraphScratchMarks = 0xFC0;
constexpr uint16_t kGraphNotDoneBits = 0xC000;
// Largest node or edge count: ids keep bit 31 for the strand.
constexpr int32_t kGraphMaxSlots = 0x7fffffff;

struct fragment_graph_node_t {
  oriented_id_t first_prev_edge;  // head of the forward node's prev list (arriving edges), or -1
  oriented_id_t first_next_edge;  // head of the forward node's next list (leaving edges), or -1
  oriented_id_t fragment;         // the fragment the forward node carries
  oriented_id_t other_node;       // next node of the same fragment, or the not-done link; -1 = none
  uint16_t flags;
};

struct fragment_graph_edge_t {
  oriented_id_t from;               // node the stored edge starts at; -1 when removed
  oriented_id_t to;                 // node it ends at; -1 when removed
  oriented_id_t next_in_to_list;    // following edge in the prev list of to, or -1
  oriented_id_t next_in_from_list;  // following edge in the next list of from, or -1
  int32_t distance;                 // gap from the end of from's fragment to the start of to's
};

struct fragment_graph_t {
  int32_t word_size;
  int32_t node_count;     // slots in use, live and disabled
  int32_t node_capacity;  // slots allocated, at least 10
  fragment_graph_node_t *nodes;
  int32_t *free_nodes;  // disabled slots, last in first out
  int32_t free_node_count;
  int32_t free_node_capacity;
  // Not-done work list state.
  int32_t not_done_heads[2];
  int32_t not_done_current;
  int32_t not_done_next;
  uint16_t not_done_current_mask;
  uint16_t not_done_next_mask;
  uint16_t not_done_keep_mask;
  int32_t not_done_count;
  int32_t edge_count;     // slots in use, live and removed
  int32_t edge_capacity;  // slots allocated
  fragment_graph_edge_t *edges;
  int32_t *free_edges;  // removed slots, last in first out
  int32_t free_edge_count;
  int32_t free_edge_capacity;
  seq_db_t *fragments;  // not owned
};

// Strand helpers: bit 31 flipped (-1 stays -1), bit 31 cleared, bit 31.
inline oriented_id_t fragment_graph_reverse_node(oriented_id_t node) {
  return node == kOrientedIdNone ? node : node ^ kOrientedIdReverse;
}
inline oriented_id_t fragment_graph_reverse_edge(oriented_id_t edge) {
  return edge == kOrientedIdNone ? edge : edge ^ kOrientedIdReverse;
}
inline oriented_id_t fragment_graph_node_index(oriented_id_t node) { return node & ~kOrientedIdReverse; }
inline oriented_id_t fragment_graph_edge_index(oriented_id_t edge) { return edge & ~kOrientedIdReverse; }
inline int fragment_graph_node_is_reverse(oriented_id_t node) { return static_cast<int>(node >> 31); }
inline int fragment_graph_edge_is_reverse(oriented_id_t edge) { return static_cast<int>(edge >> 31); }

// Capacity after one growth step: doubled, at least minimum, and at most
// kGraphMaxSlots (never wraps around 32 bits).
int32_t fragment_graph_grow_capacity(int32_t capacity, int32_t minimum);

// A graph of n nodes: node i carries fragment i, has flags 0x4000 and other
// node i + 1 (-1 for the last), all on the current not-done list; node
// capacity max(n, 10), edge capacity 10, free lists of capacity 16; no
// fragment database.
fragment_graph_t *fragment_graph_new(int32_t node_count, int32_t word_size);
// Frees the arrays and the graph (null allowed), not the fragment
// database; returns null.
fragment_graph_t *fragment_graph_free(fragment_graph_t *graph);

int32_t fragment_graph_get_node_count(const fragment_graph_t *graph);
// The database's sequence count (low 32 bits); 0 without a database.
int32_t fragment_graph_get_fragment_count(const fragment_graph_t *graph);
fragment_graph_node_t *fragment_graph_get_node_record(fragment_graph_t *graph, oriented_id_t node);
fragment_graph_edge_t *fragment_graph_get_edge_record(fragment_graph_t *graph, oriented_id_t edge);
// The slot's fragment, reversed for a reverse node.
oriented_id_t fragment_graph_get_node_fragment(const fragment_graph_t *graph, oriented_id_t node);
// The node with the fragment's index and strand.
oriented_id_t fragment_graph_get_fragment_node(const fragment_graph_t *graph, oriented_id_t fragment);
// The slot's other node, reversed for a reverse node (-1 stays -1).
oriented_id_t fragment_graph_get_other_node(const fragment_graph_t *graph, oriented_id_t node);
// Lengths from the database's length callback, by fragment index.
int32_t fragment_graph_get_node_length(const fragment_graph_t *graph, oriented_id_t node);
int32_t fragment_graph_get_fragment_length(const fragment_graph_t *graph, oriented_id_t fragment);
// The database's record of the node's fragment, in the fragment's stored
// orientation; the caller releases it with seq_db_release_fetched.
seq_record_t *fragment_graph_get_node_sequence(const fragment_graph_t *graph, oriented_id_t node);

// Edge walking; each returns -1 at the end of the list.
oriented_id_t fragment_graph_get_first_next_edge(const fragment_graph_t *graph, oriented_id_t node);
oriented_id_t fragment_graph_get_sibling_next_edge(const fragment_graph_t *graph, oriented_id_t edge);
oriented_id_t fragment_graph_get_first_prev_edge(const fragment_graph_t *graph, oriented_id_t node);
oriented_id_t fragment_graph_get_sibling_prev_edge(const fragment_graph_t *graph, oriented_id_t edge);
// Ends and distance of an edge as read in its orientation.
oriented_id_t fragment_graph_get_edge_from_node(const fragment_graph_t *graph, oriented_id_t edge);
oriented_id_t fragment_graph_get_edge_to_node(const fragment_graph_t *graph, oriented_id_t edge);
int32_t fragment_graph_get_edge_distance(const fragment_graph_t *graph, oriented_id_t edge);
// Stores the distance (both orientations); keeping the lists sorted is the
// caller's concern.
void fragment_graph_set_edge_distance(fragment_graph_t *graph, oriented_id_t edge, int32_t distance);
// 1 when the slot is free (from and to are -1).
int fragment_graph_edge_is_removed(const fragment_graph_t *graph, oriented_id_t edge);
int32_t fragment_graph_count_next_edges(const fragment_graph_t *graph, oriented_id_t node);

// Flags.
int fragment_graph_is_disabled(const fragment_graph_t *graph, oriented_id_t node);
int fragment_graph_is_bubble_node(const fragment_graph_t *graph, oriented_id_t node);
// Bubble start of n: 0x04 for a forward n, 0x08 for a reverse one; bubble
// end the other way round.
int fragment_graph_is_bubble_start(const fragment_graph_t *graph, oriented_id_t node);
int fragment_graph_is_bubble_end(const fragment_graph_t *graph, oriented_id_t node);
void fragment_graph_set_bubble_start(fragment_graph_t *graph, oriented_id_t node);
// Prints the line "cnode->flags &= ~BUBBLE_END_BIT" and clears n's bubble end.
void fragment_graph_clear_bubble_end(fragment_graph_t *graph, oriented_id_t node);
// flags &= 0xC000 (keeps the not-done bits).
void fragment_graph_clear_node_flags(fragment_graph_t *graph, oriented_id_t node);
// Clears the mask bits in every slot, live or disabled.
void fragment_graph_clear_flags(fragment_graph_t *graph, uint16_t mask);
// Sets every slot's flag word to 0; only while no slot is disabled.
void fragment_graph_clear_all_flags(fragment_graph_t *graph);
void fragment_graph_set_disabled_flag(fragment_graph_t *graph, oriented_id_t node);
void fragment_graph_clear_disabled_flag(fragment_graph_t *graph, oriented_id_t node);
// End marks: set the node's own strand bit; get its own or the other strand's.
void fragment_graph_set_end_mark(fragment_graph_t *graph, oriented_id_t node);
int fragment_graph_get_end_mark(const fragment_graph_t *graph, oriented_id_t node);
int fragment_graph_get_other_end_mark(const fragment_graph_t *graph, oriented_id_t node);

// Marks 1 to 8: set, get (0 or 1) and clear; the strand is ignored.
#define RYX_GRAPH_MARK_DECL(n)                                                    \
  void fragment_graph_set_mark##n(fragment_graph_t *graph, oriented_id_t node);   \
  int fragment_graph_get_mark##n(const fragment_graph_t *graph, oriented_id_t node); \
  void fragment_graph_clear_mark##n(fragment_graph_t *graph, oriented_id_t node);
RYX_GRAPH_MARK_DECL(1)
RYX_GRAPH_MARK_DECL(2)
RYX_GRAPH_MARK_DECL(3)
RYX_GRAPH_MARK_DECL(4)
RYX_GRAPH_MARK_DECL(5)
RYX_GRAPH_MARK_DECL(6)
RYX_GRAPH_MARK_DECL(7)
RYX_GRAPH_MARK_DECL(8)
#undef RYX_GRAPH_MARK_DECL

// Adds the edge from -> to: takes the most recently freed slot or appends
// one, and inserts it sorted into from's next list and (unless it is a
// hairpin) into to's prev list. Returns the forward edge id. More than
// kGraphMaxSlots edges prints "\nError: Too many edges in the de Bruijn
// graph. Maximum number of edges on your system is %u\n." on standard
// output and exits with status 1.
oriented_id_t fragment_graph_add_edge(fragment_graph_t *graph, oriented_id_t from, oriented_id_t to, int32_t distance);
// The same, linked at the heads of both lists (graph building only).
oriented_id_t fragment_graph_add_edge_unsorted(fragment_graph_t *graph, oriented_id_t from, oriented_id_t to,
                                               int32_t distance);
// Fills the given slot and links it, sorted or at the heads.
void fragment_graph_set_edge(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t from, oriented_id_t to,
                             int32_t distance);
void fragment_graph_set_edge_unsorted(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t from,
                                      oriented_id_t to, int32_t distance);
// Unlinks the edge from both its lists, marks the slot removed and pushes it
// on the edge free list. An edge missing from a list prints "Remove edge
// error, tried to to remove edge between %x and %x, distance %d\n" on
// standard error and exits with status 1.
void fragment_graph_remove_edge(fragment_graph_t *graph, oriented_id_t edge);
// Unlinks the edge from node's next list only; missing: "Remove edge error,
// tried to to remove next edge %d from node %x\n", status 1.
void fragment_graph_unlink_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);
// The first edge of node's next list with that target and distance,
// unlinked unless it is a hairpin (target = reverse(node)); -1 when none.
oriented_id_t fragment_graph_unlink_next_edge_to(fragment_graph_t *graph, oriented_id_t node, int32_t distance,
                                                 oriented_id_t target);
// The same on node's prev list, for an edge from source; the edge is
// returned oriented as arriving at node.
oriented_id_t fragment_graph_unlink_prev_edge_from(fragment_graph_t *graph, oriented_id_t node, int32_t distance,
                                                   oriented_id_t source);
// Sorted insertion into node's next (prev) list: before the first edge whose
// key is greater than or equal to the edge's.
void fragment_graph_insert_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);
void fragment_graph_insert_prev_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);
// Unlink and insert again after a change of the edge's key.
void fragment_graph_resort_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);
void fragment_graph_resort_prev_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);
// The edge a -> c at that distance ends at d afterwards (same slot, except
// that a hairpin is replaced by a new edge); a missing edge is the removal
// error.
void fragment_graph_redirect_edge_to(fragment_graph_t *graph, oriented_id_t a, int32_t distance, oriented_id_t c,
                                     oriented_id_t d);
// The edge c -> a at that distance starts at d afterwards.
void fragment_graph_redirect_edge_from(fragment_graph_t *graph, oriented_id_t a, int32_t distance, oriented_id_t c,
                                       oriented_id_t d);

// A node carrying the fragment of node n (reversed when n is reverse): a
// reused disabled slot keeps only its not-done bits, an appended one has
// flags 0 and other node -1. Returns its index. At kGraphMaxSlots nodes:
// "\nError: Too many nodes in the de Bruijn graph. Maximum number of nodes
// on your system is %u\n." on standard output, status 1.
oriented_id_t fragment_graph_new_node(fragment_graph_t *graph, oriented_id_t node);
// fragment_graph_new_node plus the source's bubble bits (start and end
// exchanged for a reverse source).
oriented_id_t fragment_graph_copy_node(fragment_graph_t *graph, oriented_id_t node);
// Removes every edge of the node, sets the disabled bit and pushes the slot
// on the node free list. An already disabled node prints "Node %x is
// already disabled\n" on standard output and exits with status 1.
void fragment_graph_disable_node(fragment_graph_t *graph, oriented_id_t node);
// Renames node a to b and b to a (with their reverse strands) in every edge
// and exchanges the slot records, so that every edge follows its node. When
// exactly one of a and b is reverse, each record is turned to the strand it
// is now read on (list heads exchanged, fragment and strand bits flipped).
// The other-node fields stay in their slots.
void fragment_graph_swap_nodes(fragment_graph_t *graph, oriented_id_t a, oriented_id_t b);

// Raw link setters: each stores one value through the strand rules and
// touches no other link.
void fragment_graph_set_first_next_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);
void fragment_graph_set_first_prev_edge(fragment_graph_t *graph, oriented_id_t node, oriented_id_t edge);
void fragment_graph_set_sibling_next_edge(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t sibling);
void fragment_graph_set_sibling_prev_edge(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t sibling);
void fragment_graph_set_edge_to_node(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t node);
void fragment_graph_set_edge_from_node(fragment_graph_t *graph, oriented_id_t edge, oriented_id_t node);
// The flag and free-list push of fragment_graph_disable_node, without
// removing edges.
void fragment_graph_release_node(fragment_graph_t *graph, oriented_id_t node);
void fragment_graph_push_free_edge(fragment_graph_t *graph, oriented_id_t edge);
// The most recently freed slot, or -1 when the list is empty.
int32_t fragment_graph_pop_free_node(fragment_graph_t *graph);
int32_t fragment_graph_pop_free_edge(fragment_graph_t *graph);
// Shrinks the node and edge arrays to the counts; the capacities stay, so
// nothing may be added afterwards.
void fragment_graph_trim_arrays(fragment_graph_t *graph);

// Debug output on standard output.
void fragment_graph_print_edge(const fragment_graph_t *graph, oriented_id_t edge);
void fragment_graph_print_disabled_nodes(const fragment_graph_t *graph);
void fragment_graph_print_flags(const fragment_graph_t *graph, oriented_id_t node);

// Stage-file piece: the byte 0 for null, else the layout above.
void fragment_graph_write(FILE *file, const fragment_graph_t *graph);
// Reads a piece and binds the database; null when absent. A piece that does
// not hold together (presence byte not 0 or 1, counts above capacities,
// implausible capacities, ids out of range, free lists naming live slots,
// lists that do not match the edge slots, fragments the database lacks, or
// fewer bytes than the counts need) prints "fragment_graph_read: " and the
// reason on standard error and exits with status 1.
fragment_graph_t *fragment_graph_read(FILE *file, seq_db_t *fragments);
// One record in the piece's layout; the readers end the process at the end
// of the file.
void fragment_graph_write_node_record(FILE *file, const fragment_graph_node_t *node);
void fragment_graph_read_node_record(FILE *file, fragment_graph_node_t *node);
void fragment_graph_write_edge_record(FILE *file, const fragment_graph_edge_t *edge);
void fragment_graph_read_edge_record(FILE *file, fragment_graph_edge_t *edge);

}  // extern "C"
