// Neighbourhood search over the fragment graph: every node reachable along
// next edges within a number of bases, each with its shortest distance,
// found by a distance-ordered search. The distance of a hit is the number of
// bases from the end of the start node to the start of the hit's node: the
// edge distances plus the lengths of the nodes passed in between.
//
// Creating a context also rates every node by how crowded its neighbourhood
// is and marks repeat-like nodes (both strands -2, every other node -1).
// The explorer uses the search to draw the shortest continuation between two
// nodes together with its alternatives.
//
// Calling order: neighbourhood_new on a graph, then any number of searches,
// statistics and path drawings while the graph stays as it is,
// neighbourhood_free at the end. The context borrows the graph; hit arrays
// and statistics belong to the caller, who frees them with
// neighbourhood_hits_free and neighbourhood_stats_free. Everything reads the
// graph only and runs on one thread.
#pragma once

#include <cstdint>

#include "denovo/graph/fragment_graph.h"

extern "C" {

// Radius and per-side limit of the searches that rate the nodes.
constexpr int32_t kNeighbourhoodRateRadius = 600;
constexpr int32_t kNeighbourhoodRateLimit = 200;
// Rounds of re-rating after the first rating.
constexpr int32_t kNeighbourhoodRateRounds = 10;
// Marks of the per-strand table.
constexpr int32_t kNeighbourhoodMarkRepeat = -2;
constexpr int32_t kNeighbourhoodMarkPlain = -1;

// Node rating states.
constexpr uint8_t kRatingRated = 0;
constexpr uint8_t kRatingRerate = 1;
constexpr uint8_t kRatingUnrated = 2;
constexpr uint8_t kRatingRepeat = 3;
constexpr uint8_t kRatingSeed = 4;

struct neighbourhood_hit_t {
  oriented_id_t node;
  int32_t distance;
};

struct neighbourhood_t {
  fragment_graph_t *graph;  // borrowed
  int32_t radius;
  int32_t word_size;  // the graph's
  int32_t node_count;  // node slots when the context was made
  // 2 x node_count entries, slot 2 x index + strand: kNeighbourhoodMarkRepeat
  // or kNeighbourhoodMarkPlain.
  int32_t *marks;
  // 2 x node_count result slots, all null; freed with the context when set.
  neighbourhood_hit_t **results;
};

// Hits of a search from a node and from its reverse.
struct neighbourhood_stats_t {
  oriented_id_t node;
  int32_t forward_count;
  neighbourhood_hit_t **forward_hits;
  int32_t backward_count;
  neighbourhood_hit_t **backward_hits;
  int32_t product;  // forward_count x backward_count
  double mean;      // sum of every hit distance / (forward_count + backward_count)
};

// One per node slot (forward ids).
struct neighbourhood_rating_t {
  float value;
  uint8_t state;  // kRatingRated .. kRatingSeed
};

// An entry of the list of rated nodes.
struct neighbourhood_rated_node_t {
  oriented_id_t node;
  float value;
};

// A branch remembered by the path drawing: the node it starts at and its
// column.
struct path_branch_t {
  oriented_id_t node;
  int32_t column;
};

// A context over the graph with every node rated and marked. Returns the
// new context; fails only through the allocator.
neighbourhood_t *neighbourhood_new(fragment_graph_t *graph, int32_t radius);
// Frees the context, its marks and any stored result (null allowed);
// returns null.
neighbourhood_t *neighbourhood_free(neighbourhood_t *context);
// Rates the nodes and sets every mark (called by neighbourhood_new).
void neighbourhood_prepare(neighbourhood_t *context);
void neighbourhood_rate_nodes(neighbourhood_t *context);

// The nodes reachable from start within radius bases, each once with its
// shortest distance, sorted by node id (unsigned); their number goes to
// *out_count. The start is a hit only when a path leads back to it. The
// search stops once max_count nodes are found (-1: no limit). With ratings,
// the search does not go on past a node rated repeat-like. The caller frees
// the result with neighbourhood_hits_free; an empty result is null.
neighbourhood_hit_t **neighbourhood_search(neighbourhood_t *context, oriented_id_t start, int32_t radius,
                                           int32_t max_count, int32_t *out_count,
                                           const neighbourhood_rating_t *ratings);
// Frees count hits and the array (null allowed); returns null.
neighbourhood_hit_t **neighbourhood_hits_free(neighbourhood_hit_t **hits, int32_t count);

// Searches from node and from its reverse; null when either side finds
// nothing. Free with neighbourhood_stats_free.
neighbourhood_stats_t *neighbourhood_stats_new(neighbourhood_t *context, oriented_id_t node, int32_t radius,
                                               int32_t max_count, const neighbourhood_rating_t *ratings);
// Frees the statistics with their hits (null allowed); returns null.
neighbourhood_stats_t *neighbourhood_stats_free(neighbourhood_stats_t *stats);

// Prints on standard output the header "path a (len) b (len) D", with D the
// shortest distance from a to b (INT_MIN when b cannot be reached within the
// context's radius), then the greedy shortest continuation from a to b and
// its branches as rows.
void neighbourhood_print_path(const fragment_graph_t *graph, neighbourhood_t *context, oriented_id_t a,
                              oriented_id_t b);
// One row of the drawing from node towards target at the given column, with
// budget levels of branches left; hits are the search from the reverse of
// the target.
void neighbourhood_print_path_row(const fragment_graph_t *graph, neighbourhood_t *context, oriented_id_t node,
                                  oriented_id_t target, int32_t column, int32_t budget,
                                  neighbourhood_hit_t *const *hits, int32_t hit_count);

// Comparators. Heap: two hit pointers by distance ascending. Visited set:
// two hit pointers by node id (unsigned). Binary search: a pointer to a node
// id against a pointer to a hit pointer. Rated nodes: two
// neighbourhood_rated_node_t by value ascending, ties the larger node index
// first (context unused). Statistics: two statistics pointers by product
// ascending, then the larger mean first.
int neighbourhood_compare_distance(const void *a, const void *b);
int neighbourhood_compare_node(const void *a, const void *b);
int neighbourhood_bsearch_compare(const void *key, const void *element);
int neighbourhood_compare_ratings(const void *a, const void *b, void *context);
int neighbourhood_stats_compare(const void *a, const void *b);

// 2 x index + strand.
int64_t neighbourhood_strand_slot(oriented_id_t node);
// A new hit; freed with neighbourhood_free_item.
neighbourhood_hit_t *neighbourhood_hit_new(oriented_id_t node, int32_t distance);
void neighbourhood_free_item(void *item);
// A new branch record; the caller frees it with ryx_free.
path_branch_t *path_branch_new(oriented_id_t node, int32_t column);
// The distance of node among count hits sorted by node id, INT_MIN when it
// is not among them.
int32_t neighbourhood_lookup_distance(neighbourhood_hit_t *const *hits, int32_t count, oriented_id_t node);
// The shortest distance from a to b within the context's radius, or INT_MIN.
int32_t neighbourhood_distance(neighbourhood_t *context, oriented_id_t a, oriented_id_t b);
// Prints "%8.8x %d\n": a and the number of nodes within the context's
// radius of it.
void neighbourhood_print_size(neighbourhood_t *context, oriented_id_t a);
// Rates one node: rated with the mean of its statistics (radius, at most c
// nodes a side) when the product is at least c x c, else unrated.
void neighbourhood_rate_node(neighbourhood_t *context, neighbourhood_rating_t *rating, oriented_id_t node,
                             int32_t radius, int32_t c, const neighbourhood_rating_t *ratings);
// Prints a rating in seven columns: "     - " when unrated, else the value
// "%6.2f" and "-" (to be re-rated), "++" (repeat-like), "+" (repeat seed)
// or a space.
void neighbourhood_print_rating(const neighbourhood_rating_t *rating);

}  // extern "C"
