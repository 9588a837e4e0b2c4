// Contig paths: for one oriented contig end and its links, the paths of
// contigs the fragment graph offers from the end within the links'
// distances, their reduction (prefixes dropped, repeated contigs cut, each
// link explained by the path nearest its centre) with the answer whether
// every link is explained by one path only, and the links whose target lies
// on every path.
//
// Enumeration follows the next edges of each contig's last node, measuring
// the gap from the end of the source contig; it stops below the links'
// search limit and spends one step of the links' budget per recursion, so
// a budget left at 0 means the enumeration was cut short.
//
// Calling order: contig_links_build, contig_paths_enumerate (source contig,
// 0, 1, links), then contig_paths_reduce and contig_links_on_all_paths on
// the enumerated list, which they do not change; free both lists. Paths
// point at the links (not owned). Only the graph and the contig info are
// read. A list owns its paths; the order of paths in a list carries no
// meaning.
#pragma once

#include <cstdint>

#include "common/array_list.h"
#include "denovo/app/contig_links.h"
#include "denovo/app/paired_optimize_records.h"

extern "C" {

struct contig_path_list_t {
  int32_t count;
  int32_t capacity;
  contig_path_t **paths;  // count owned paths
};

// The contig paths from contig (placed at position depth - 1), whose end
// lies distance bases past the end of the source contig: a path ends at a
// contig whose reverse is the target of a link (the first in list order)
// with min < gap < max. Null when no path was found.
contig_path_list_t *contig_paths_enumerate(oriented_id_t contig, int32_t distance, int32_t depth,
                                           contig_links_t *links);
// contig_paths_enumerate from the contig of the record's last node (distance
// 0, depth 1); null when the record has no links.
contig_path_list_t *contig_paths_enumerate_links(contig_links_t *links);
// The reduced copy of the enumerated paths; *unique is 1 when every link is
// explained by one path only. Null (and *unique 1) for null paths.
contig_path_list_t *contig_paths_reduce(const contig_links_t *links, const contig_path_list_t *paths,
                                        int32_t *unique);
// Appends to candidates (paired_link_t pointers) every link, in list order,
// whose reversed target occurs in every path once prefixes are dropped;
// nothing for null paths.
void contig_links_on_all_paths(const contig_links_t *links, const contig_path_list_t *paths,
                               array_list_t *candidates);

// An empty list with room for capacity paths.
contig_path_list_t *contig_path_list_new(int32_t capacity);
// A list of one path of count unset ids.
contig_path_list_t *contig_path_list_new_single(int32_t count, int32_t distance, paired_link_t *link);
// A deep copy (null for null).
contig_path_list_t *contig_path_list_copy(const contig_path_list_t *list);
// Frees the paths and the list (null allowed); returns null.
contig_path_list_t *contig_path_list_free(contig_path_list_t *list);
// Appends the paths of one list to the other: to the list whose capacity
// already holds both, else to the first grown to the next power of two;
// frees the emptied list and returns the joined one. Either may be null.
contig_path_list_t *contig_path_list_join(contig_path_list_t *a, contig_path_list_t *b);
// Writes id at position of every path.
void contig_path_list_set_id(contig_path_list_t *list, int32_t position, oriented_id_t id);
// Sorts by contig index (strand ignored), element by element, a prefix
// first, equal paths by distance; drops each path that is a prefix of the
// next one (oriented ids) with a smaller distance; shrinks to the count.
void contig_paths_drop_prefixes(contig_path_list_t *list);
// Removes from every path the stretch from a contig's earlier visit up to
// its repeated visit; returns the repeated contigs (an array_list_t of
// oriented_id_t) or null when no path repeats a contig.
array_list_t *contig_paths_cut_repeats(contig_path_list_t *list);
// Replaces the reduced paths by copies of the enumerated ones that match
// them (taken in order of distance), one per link: the one nearest the
// link's centre. Returns 1 when no link was explained by two different
// enumerated paths, else 0. repeats (oriented_id_t) may be null.
int32_t contig_paths_match_enumerated(const contig_path_list_t *enumerated, contig_path_list_t *reduced,
                                      array_list_t *repeats);
// Smallest power of two at least n (n >= 1).
int32_t contig_paths_next_power_of_two(int32_t n);

}  // extern "C"
