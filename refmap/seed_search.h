// Seed search of the hash mapper: candidates of a batch of packed queries
// from the hashed reference indexes of a hit hash (hit_hash.h).
//
// A lookup batch (seed_search_batch) searches up to 256 consecutive queries
// from the current one in one pass: every seed of every view of a query is
// hashed, the matching index entries give diagonals (entry position minus
// seed offset), and each distinct diagonal of a query takes one table slot.
// The pass ends after the query that brings the used slots above half the
// table. When a query fills one region of the table, a later query is left
// out (it opens the next batch) and a first query is searched alone on
// halves of the window until every piece fits. The batch's candidates come
// back in the hit hash's candidate list, sorted by query and position.
//
// All calls run on the hit hash's thread.
#pragma once

#include <cstdint>

struct hit_hash_t;
struct hit_hash_state_t;

// Runs one lookup batch from the current query (which must be below the
// query count) and returns the first query not covered, which becomes the
// current query. The candidates, sorted, are left in the candidate list and
// their number in the candidate count; the attached filter is applied
// unless the batch was one query searched in window halves.
int32_t seed_search_batch(hit_hash_t *hash);
// One pass over at most max_queries queries from the current one, diagonals
// in [low, high), candidates written from entry list_offset on (count: this
// pass's candidates). Returns the new current query, or the current query
// unchanged (count 0) when the first query overflowed a region.
int32_t seed_search_run(hit_hash_t *hash, int32_t low, int32_t high, int32_t max_queries, int32_t list_offset);
// Searches the current query alone over [low, high), halving the window
// wherever a piece overflows (at once when split_first is set); returns
// list_offset plus the candidates found, in window order. The current query
// stays.
int32_t seed_search_split(hit_hash_t *hash, int32_t low, int32_t high, int32_t list_offset, int split_first);
// The current query alone over the whole split window, sorted, into the
// candidate list; the current query stays.
void seed_search_current_split(hit_hash_t *hash);

// The lookup loops of a pass, each over the state's batch: every-offset
// mode, listed offsets with plain words only, listed offsets with colour
// words for colour views, multi hit with one view and with two views.
void seed_lookup_kernel_all_masks(hit_hash_state_t *state);
void seed_lookup_kernel_lists(hit_hash_state_t *state);
void seed_lookup_kernel_lists_cs(hit_hash_state_t *state);
void seed_lookup_kernel_phased(hit_hash_state_t *state);
void seed_lookup_kernel_two_views(hit_hash_state_t *state);
// Collection of a pass: every used slot becomes a candidate (diagonal,
// first query + query number), skipping the left-out query, from the
// state's output pointer on. Empties every slot of the table on the way
// and marks it clean, so that the next pass does not clear it again.
void hit_hash_collect_batch(hit_hash_state_t *state);
// Inserts diagonal d of query number q; 1 when it is in the table
// afterwards, 0 when its region is full.
int hit_hash_insert(hit_hash_state_t *state, uint32_t d, uint32_t q);
