// Contig links: for one oriented contig end, the read pairs with one read on
// the contig and the mate on another contig, turned into links "after the
// end of this contig, at a gap between min and max bases, follows that
// contig", and the placement test that asks whether the contigs the links
// of one end place behind it leave room for each other.
//
// A pair gives the gap interval [lo, hi] = [dmin - x - y, dmax - x - y],
// where [dmin, dmax] is its library's distance range, x the bases from this
// read to the end of the contig and y the bases from the mate to the end of
// its contig (both measured as the library measures its distances). Pairs
// of one library whose mean intervals overlap join one link; links with
// little support are dropped (threshold max(3, trunc(2 ln S - 5)) for total
// support S); the rest are averaged into a mean interval and a centre, and
// links to one target whose intervals overlap are merged.
//
// Calling order: contig_links_build per contig end (or contig_links_collect
// for the bare list), then path enumeration (contig_paths.h) and the
// placement test; contig_links_free. Only the graph, the contig info and the
// read table are read, so any number of threads may build links at once.
// A link list (array_list_t of paired_link_t pointers) owns its links;
// contig paths and candidate lists only point at them.
#pragma once

#include <cstdint>

#include "common/array_list.h"
#include "denovo/app/paired_optimize_records.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_table.h"

extern "C" {

// Path enumeration steps allowed per contig end.
constexpr int32_t kContigLinksBudget = 100;

struct paired_link_t {
  oriented_id_t target;  // mate's contig as the mate read was found; a path contig t matches when reverse(t) == target
  int32_t support;       // read pairs joined into the link
  int32_t min_gap;       // sum of the pairs' minimum gaps while collecting; then the mean minimum gap
  int32_t max_gap;       // sum of the pairs' maximum gaps while collecting; then the mean maximum gap
  int32_t centre;        // read-file index while collecting; then (min + max) / 2
};

struct contig_links_t {
  paired_context_t *context;  // not owned
  array_list_t *links;        // paired_link_t *, sorted by target; owned
  oriented_id_t last_node;    // last node of the contig
  int32_t search_limit;       // largest max gap of the links, 0 when that is negative
  int32_t repeat_cut;         // 1: path reduction cuts repeated contigs
  int32_t budget;             // enumeration steps left
};

// Bases from a node's start to the end of the contig.
struct contig_node_offset_t {
  oriented_id_t node;
  int32_t offset;
};

// The links of the oriented contig end, collected, filtered, averaged,
// merged and sorted by target, with the last node, search limit, repeat-cut
// flag 1 and budget 100. Never null (the list may be empty).
contig_links_t *contig_links_build(paired_context_t *context, oriented_id_t contig);
// A links record over a list it takes (search limit = the largest max gap,
// 0 when negative).
contig_links_t *contig_links_new(paired_context_t *context, array_list_t *links, oriented_id_t last_node,
                                 int32_t repeat_cut, int32_t budget);
// Frees the record with its link list and links (null allowed); returns
// null.
contig_links_t *contig_links_free(contig_links_t *links);
// A new empty link list.
array_list_t *paired_link_list_new(void);
// Frees every link and the list (null allowed); returns null.
array_list_t *paired_link_list_free(array_list_t *links);
// Link i of a list.
inline paired_link_t *paired_link_list_get(const array_list_t *links, uint64_t i) {
  return *static_cast<paired_link_t **>(array_list_get_item(links, i));
}

// The averaged and merged links of the oriented contig (unsorted).
array_list_t *contig_links_collect(const paired_context_t *context, oriented_id_t contig);

// The (node, bases to the contig end) pairs of the contig's nodes, sorted
// by node id (unsigned); the count goes to *count. The caller frees the
// array with ryx_free. Null for a contig that no longer exists.
contig_node_offset_t *contig_node_offsets(const paired_context_t *context, oriented_id_t contig, int32_t *count);
// The offset of node in a sorted offset array, -1 when absent.
int32_t contig_node_offset_find(const contig_node_offset_t *offsets, int32_t count, oriented_id_t node);
// Adds the pairs of one node b of contig a, whose start lies offset bases
// before the contig's end.
void contig_links_add_node_pairs(const paired_context_t *context, array_list_t *links, oriented_id_t contig,
                                 oriented_id_t node, int32_t offset);
// Adds the pairs of a range whose end `end` (1 or 2) is this contig's read:
// element is that read's path element (kReadPtrNone for a fragment end).
void contig_links_add_pairs(const paired_context_t *context, array_list_t *links, oriented_id_t contig,
                            const read_pair_t *pairs, uint64_t count, read_ptr_t element, int end, int32_t offset);
// Joins one pair's gap interval into the first link of that target and
// library whose mean interval overlaps it, or appends a new link.
void contig_links_add(array_list_t *links, oriented_id_t target, int32_t lo, int32_t hi, int32_t library);
// The least support a link keeps when the links' supports sum to total:
// max(3, trunc(2 ln total - 5)); 0 for a total of 0 or less.
int32_t contig_links_support_threshold(int64_t total);
// Drops (and frees) the links below the threshold of their total support.
void contig_links_filter_support(array_list_t *links);
// Turns sums into means and the library into the centre (truncating).
void contig_links_average(array_list_t *links);
// Merges averaged links of one target whose intervals overlap (see the
// source); the order of the survivors is not kept.
void contig_links_merge(array_list_t *links);
// Sorts a link list by target (unsigned), then centre.
void contig_links_sort_by_target(array_list_t *links);

// The placement test. Sorts links by centre. Query mode (collect null,
// target given): the link of that target when it passes, else null. With
// target -1 every link is tested; with collect given, passing links whose
// target is not among collect's first entries are appended to it (collect
// is sorted by target first) and null is returned. Links need support 4 and
// a target of at least min_length bases to pass.
paired_link_t *contig_links_check_placement(const paired_context_t *context, array_list_t *links,
                                            array_list_t *collect, oriented_id_t target, int32_t min_length);

// The first element of the element's read path (read in its direction)
// whose fragment is carried by one node only: the element, then the ones
// before it nearest first, then the ones after it; kReadPtrNone when none.
read_ptr_t read_path_find_unique(const fragment_graph_t *graph, const read_info_t *read_info, read_ptr_t element);
// 1 when the read path from element on can be followed through the graph
// from node: every further step has a next edge of its distance leading to
// a node of its fragment from which the rest follows; else 0.
int read_path_follows_graph(const fragment_graph_t *graph, const read_info_t *read_info, read_ptr_t element,
                            oriented_id_t node);
// Bases from the start of the element's read path (in its direction) to the
// element's start: step distances plus fragment lengths; 0 for kReadPtrNone.
int32_t read_path_element_offset(const fragment_graph_t *graph, const read_info_t *read_info, read_ptr_t element);

}  // extern "C"
