// Hit hashes of the hash mapper's seed search: the per-worker tables that
// turn a batch of queries into candidates (query, diagonal).
//
// A hit hash holds one view per hashed reference index of a seed level (the
// index's buckets and entries and its mask), the batch's packed queries, a
// table of 2^18 diagonal slots and the candidate list of the last lookup.
// The table is split into 256 regions of 1024 slots; a diagonal d of query
// number q (its place in the running lookup) goes into region
// ((m >> 18) XOR m) >> 10 XOR q, m = (d x 0x9E3779B9) AND 0x7FFFFFFF, and
// is probed there with the odd step m OR 1, so a slot needs to hold only
// the diagonal: its query number follows from the slot's region.
//
// Three search modes, fixed at creation:
//   listed offsets  (hit_hash_new_with_lists) each view's seeds at the
//                   offsets of its list, hashed in colour space for colour
//                   masks;
//   every offset    (hit_hash_new_checked, step 1, no thresholds) each view's
//                   seed at every offset that fits the query;
//   multi hit       (hit_hash_new_checked with a threshold table) diagonals
//                   kept only when enough non-overlapping seeds hit them.
//
// Calling order: create per worker and seed level, hit_hash_pack_queries
// once per batch, then seed_search_batch (seed_search.h) while the current
// query is below the query count; free with the level's indexes.
//
// Ownership: the hit hash owns its packed queries, table, candidate list,
// views and random source; it borrows the indexes (and their masks), the
// seed lists, the threshold table and the candidate filter, which must
// outlive it. A hit hash belongs to one thread; the indexes it reads are
// shared read-only.
#pragma once

#include <cstdint>

#include "refmap/candidate.h"

class RandomState;
struct candidate_filter_t;
struct ref_index_t;
struct seq_record_t;

constexpr int32_t kHitHashSlots = 1 << 18;
constexpr int32_t kHitHashRegionSlots = 1024;
constexpr uint32_t kHitHashEmpty = 0xFFFFFFFFu;
// Queries of one lookup batch at most.
constexpr int32_t kHitHashBatchQueries = 256;
// A pass ends after the query that takes the used slots above this.
constexpr int32_t kHitHashUsedLimit = 0x1FFFF;
// Multi-hit passes go on only while at most this many slots stay used.
constexpr int32_t kHitHashMultiUsedLimit = 0xFFFF;
// Window of a normal pass and of the split search of one query.
constexpr int32_t kHitHashWindowLow = 0;
constexpr int32_t kHitHashWindowHigh = 0x7FFFFFFF;
constexpr int32_t kHitHashSplitLow = -8192;
constexpr int32_t kHitHashSplitHigh = 0x19002000;
// Spare bytes after the packed queries, so that seed hashes of any seed
// that fits a query (masks of up to 8 words) read inside the buffer.
constexpr int32_t kHitHashPackPad = 40;

// Compacts a candidate list in place and returns the new count; the
// candidate filter of the matcher, attached with hit_hash_attach_filter.
typedef int32_t (*hit_hash_filter_fn)(candidate_filter_t *filter, candidate_t *list, int32_t count,
                                      const uint32_t *threshold_table);

struct hit_hash_view_t {
  const uint32_t *offsets;     // bucket starts of the index (borrowed)
  const uint8_t *entries;      // 5-byte entries of the index (borrowed)
  const uint32_t *mask_words;  // the mask's four phase copies (borrowed)
  int32_t mask_length;
  int32_t colour;
};

struct hit_hash_state_t {
  int32_t view_count;
  hit_hash_view_t *views;
  uint32_t *table;             // kHitHashSlots diagonals, 4096-byte aligned
  uint16_t *records;           // multi hit: per slot seed end and counter, else null
  int32_t slot_size;           // 4, or 8 in multi-hit mode
  int32_t batch_size;          // queries allowed in the running pass
  const uint8_t *query;        // codes of the current query; its length is the word before
  const uint32_t *const *seed_lists;  // per view: count, then offsets (borrowed), or null
  int32_t step;                // offset step of the every-offset mode
  const uint32_t *thresholds;  // multi hit: per 32 query bases (borrowed), or null
  int32_t low, high;           // diagonal window [low, high)
  int32_t used;                // slots in use
  int32_t rounds_left;         // of the last probe
  // Working fields of the running pass.
  uint32_t first_query;        // query index of query number 0
  int32_t done;                // queries finished
  int32_t left_out;            // query number whose diagonals are skipped, or -1
  int32_t overflow;            // a region overflowed
  int32_t parity;              // strand parity of the pass's first query
  candidate_t *out;            // where the collection writes
  int32_t collected;           // candidates written by the collection
  uint8_t *allocation;         // behind table (owned)
  int32_t table_clean;         // 1: the collection left every slot empty (4-byte slots), no clearing needed
  // One bit per group of four slots, set when an insert fills a slot of
  // the group: the collection visits only these groups (in slot order, as
  // a scan of the whole table would) and clears them. Owned.
  uint64_t *touched;
};

// Words of the touched-group bits.
constexpr int32_t kHitHashTouchedWords = kHitHashSlots / 4 / 64;

// Notes that a slot of the table was filled.
inline void hit_hash_touch(hit_hash_state_t *state, uint32_t slot) {
  state->touched[slot >> 8] |= uint64_t{1} << ((slot >> 2) & 63);
}

struct hit_hash_t {
  uint8_t *packed;             // packed queries (owned), or null
  candidate_t *candidates;     // owned
  int32_t capacity;
  int32_t count;               // candidates of the last lookup
  hit_hash_state_t *state;     // owned
  int32_t current;             // first query not yet searched
  int32_t query_count;
  int32_t colour;              // some view has a colour mask
  RandomState *random;         // owned
  candidate_filter_t *filter;  // borrowed, or null
  hit_hash_filter_fn filter_apply;
};

// A hit hash over count indexes with 4- or 8-byte slots, step 0, no lists,
// no thresholds and no filter; the common part of the constructors below.
hit_hash_t *hit_hash_new(ref_index_t *const *indexes, int32_t count, int32_t slot_size);
// The listed-offsets mode: seed_lists[v] is view v's list (count, then
// offsets).
hit_hash_t *hit_hash_new_with_lists(ref_index_t *const *indexes, int32_t count, const uint32_t *const *seed_lists);
// The every-offset mode (no threshold table; step must be 1) or the
// multi-hit mode (a threshold table; one index with step 3 or two with
// step 1). Other combinations print a message on standard error and end
// the process with status 1.
hit_hash_t *hit_hash_new_checked(ref_index_t *const *indexes, int32_t count, int32_t step,
                                 const uint32_t *thresholds);
// Frees everything the hit hash owns (null allowed); returns null.
hit_hash_t *hit_hash_free(hit_hash_t *hash);
// Packs count queries (entries may be null: length 0), replacing the
// previous batch; codes above 3 become random codes. Current query 0.
void hit_hash_pack_queries(hit_hash_t *hash, seq_record_t *const *queries, int32_t count);
// Attaches a candidate filter applied to every normal lookup batch (null
// detaches).
void hit_hash_attach_filter(hit_hash_t *hash, candidate_filter_t *filter, hit_hash_filter_fn apply);

// Orders candidates by query, then position, as sort_u64 does; for qsort.
int candidate_compare(const void *a, const void *b);
int candidate_compare_u64(const void *a, const void *b);

// Table arithmetic.
inline uint32_t hit_hash_mix(uint32_t d) { return (d * 0x9E3779B9u) & 0x7FFFFFFFu; }
// Slot of the first probe of diagonal d for query number q.
inline uint32_t hit_hash_first_slot(uint32_t d, uint32_t q) {
  const uint32_t m = hit_hash_mix(d);
  return ((m >> 18) ^ m ^ (q << 10)) & 0x3FFFFu;
}
inline uint32_t hit_hash_probe_step(uint32_t d) { return hit_hash_mix(d) | 1u; }
// Query number of a diagonal found in a slot.
inline uint32_t hit_hash_slot_query(uint32_t d, uint32_t slot) {
  const uint32_t m = hit_hash_mix(d);
  return ((((m >> 18) ^ m) & 0x3FFFFu) ^ slot) >> 10;
}
