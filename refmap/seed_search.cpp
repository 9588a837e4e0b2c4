#include "refmap/seed_search.h"

#include <emmintrin.h>

#include <cstring>

#include "common/memory.h"
#include "refmap/align/sort.h"
#include "refmap/hit_hash.h"
#include "refmap/ref_index.h"
#include "refmap/seed_mask.h"

namespace {

inline uint32_t query_length(const uint8_t *query) { return seed_load_u32(query - 4); }

inline const uint8_t *next_query(const uint8_t *query) { return query + (query_length(query) + 3) / 4 + 4; }

// Looks up the seed of the current query at offset o in one view and
// inserts every diagonal in the window. 0 when a region overflowed.
inline int lookup_seed(hit_hash_state_t *s, const hit_hash_view_t &view, uint32_t o, int32_t colour, uint32_t q) {
  const uint32_t h = seed_hash(s->query, o, view.mask_words, colour);
  const uint32_t bucket = seed_hash_bucket(h);
  const uint8_t check = seed_hash_check(h);
  const uint8_t *entry = view.entries + static_cast<uint64_t>(view.offsets[bucket]) * kRefIndexEntryBytes;
  const uint8_t *end = view.entries + static_cast<uint64_t>(view.offsets[bucket + 1]) * kRefIndexEntryBytes;
  for (; entry < end; entry += kRefIndexEntryBytes) {
    if (entry[0] != check) continue;
    const int32_t d = static_cast<int32_t>(ref_index_entry_position(entry) - o);
    if (d < s->low || d >= s->high) continue;
    if (!hit_hash_insert(s, static_cast<uint32_t>(d), q)) return 0;
  }
  return 1;
}

// Ends query number q of a normal pass: 1 when the pass goes on with the
// next query.
inline int finish_query(hit_hash_state_t *s, uint32_t q) {
  s->query = next_query(s->query);
  s->done = static_cast<int32_t>(q) + 1;
  return s->done < s->batch_size && s->used <= kHitHashUsedLimit;
}

// A region overflowed during query number q: a first query fails the pass,
// a later one is left out and opens the next batch.
inline void overflow(hit_hash_state_t *s, uint32_t q) {
  s->overflow = 1;
  s->done = static_cast<int32_t>(q);
  if (q > 0) s->left_out = static_cast<int32_t>(q);
}

// The listed-offsets loop; with_colour tests each view's colour flag.
template <bool with_colour>
void lookup_lists(hit_hash_state_t *s) {
  for (uint32_t q = 0;; q++) {
    const uint32_t length = query_length(s->query);
    if (length > 0) {
      for (int32_t v = 0; v < s->view_count; v++) {
        const hit_hash_view_t &view = s->views[v];
        const int32_t colour = with_colour ? view.colour : 0;
        // A colour seed of n characters spans n + 1 bases.
        const uint32_t span = static_cast<uint32_t>(view.mask_length + colour);
        const uint32_t *list = s->seed_lists[v];
        for (uint32_t k = 0; k < list[0]; k++) {
          const uint32_t o = list[1 + k];
          // An offset whose seed leaves the query would read the next one.
          if (o + span > length) continue;
          if (!lookup_seed(s, view, o, colour, q)) return overflow(s, q);
        }
      }
    }
    if (!finish_query(s, q)) return;
  }
}

// Multi hit: inserts d with its seed end, or counts a further seed that
// does not overlap the last counted one.
int insert_counted(hit_hash_state_t *s, uint32_t d, uint32_t q, uint32_t o, uint32_t end, uint16_t start) {
  const uint32_t step = hit_hash_probe_step(d);
  const uint32_t first = hit_hash_first_slot(d, q);
  const uint32_t region = first & 0x3FC00u;
  uint32_t j = first & 0x3FFu;
  s->rounds_left = 2;
  for (;;) {
    const uint32_t slot = region + j;
    const uint32_t held = s->table[slot];
    if (held == d) {
      if (s->records[2 * slot] <= o) {
        s->records[2 * slot] = static_cast<uint16_t>(end);
        s->records[2 * slot + 1]++;
      }
      return 1;
    }
    if (held == kHitHashEmpty) {
      s->table[slot] = d;
      hit_hash_touch(s, slot);
      s->records[2 * slot] = static_cast<uint16_t>(end);
      s->records[2 * slot + 1] = start;
      s->used++;
      return 1;
    }
    j = (j - step) & 0x3FFu;
    if (j == 0 && --s->rounds_left == 0) return 0;
  }
}

// Empties every slot hit by fewer seeds than its query's threshold.
void purge_weak(hit_hash_state_t *s) {
  for (int32_t slot = 0; slot < kHitHashSlots; slot++) {
    if (s->table[slot] == kHitHashEmpty) continue;
    if ((s->records[2 * slot + 1] & 0x7FFF) < 0x4000) {
      s->table[slot] = kHitHashEmpty;
      s->used--;
    }
  }
}

// Both diagonals d and d + 1 of a multi-hit seed, each within the window.
inline int insert_pair(hit_hash_state_t *s, int32_t d, uint32_t q, uint32_t o, uint32_t end, uint16_t start) {
  for (int32_t e = d; e <= d + 1; e++) {
    if (e < s->low || e >= s->high) continue;
    if (!insert_counted(s, static_cast<uint32_t>(e), q, o, end, start)) return 0;
  }
  return 1;
}

int lookup_counted(hit_hash_state_t *s, const hit_hash_view_t &view, uint32_t o, uint32_t end, uint32_t q,
                   uint16_t start) {
  const uint32_t h = seed_hash(s->query, o, view.mask_words, view.colour);
  const uint8_t check = seed_hash_check(h);
  const uint32_t bucket = seed_hash_bucket(h);
  const uint8_t *entry = view.entries + static_cast<uint64_t>(view.offsets[bucket]) * kRefIndexEntryBytes;
  const uint8_t *last = view.entries + static_cast<uint64_t>(view.offsets[bucket + 1]) * kRefIndexEntryBytes;
  for (; entry < last; entry += kRefIndexEntryBytes) {
    if (entry[0] != check) continue;
    if (!insert_pair(s, static_cast<int32_t>(ref_index_entry_position(entry) - o), q, o, end, start)) return 0;
  }
  return 1;
}

// Ends query number q of a multi-hit pass (or its overflow): weak slots
// are emptied when the pass stops or is about to pass the limits.
void multi_finish(hit_hash_state_t *s, uint32_t q, bool overflowed, bool *go_on) {
  if (overflowed) {
    purge_weak(s);
    overflow(s, q);
    *go_on = false;
    return;
  }
  s->query = next_query(s->query);
  s->done = static_cast<int32_t>(q) + 1;
  const bool complete = s->done >= s->batch_size;
  if (complete || s->used > kHitHashUsedLimit) purge_weak(s);
  *go_on = !complete && s->used <= kHitHashMultiUsedLimit;
}

inline uint16_t start_counter(const hit_hash_state_t *s, uint32_t length) {
  return static_cast<uint16_t>(0x4001u - s->thresholds[length / 32]);
}

inline uint32_t view_window(const hit_hash_view_t &view) {
  return static_cast<uint32_t>(view.mask_length + (view.colour ? 1 : 0));
}

}  // namespace

int hit_hash_insert(hit_hash_state_t *s, uint32_t d, uint32_t q) {
  const uint32_t step = hit_hash_probe_step(d);
  const uint32_t first = hit_hash_first_slot(d, q);
  const uint32_t region = first & 0x3FC00u;
  uint32_t j = first & 0x3FFu;
  s->rounds_left = 2;
  for (;;) {
    uint32_t &slot = s->table[region + j];
    if (slot == d) return 1;
    if (slot == kHitHashEmpty) {
      slot = d;
      hit_hash_touch(s, region + j);
      s->used++;
      return 1;
    }
    // The odd step visits all 1024 slots before j is 0 a second time.
    j = (j - step) & 0x3FFu;
    if (j == 0 && --s->rounds_left == 0) return 0;
  }
}

void seed_lookup_kernel_all_masks(hit_hash_state_t *s) {
  for (uint32_t q = 0;; q++) {
    const uint32_t length = query_length(s->query);
    for (int32_t v = 0; v < s->view_count; v++) {
      const hit_hash_view_t &view = s->views[v];
      const uint32_t span = view_window(view);
      for (uint32_t o = 0; o + span <= length; o += static_cast<uint32_t>(s->step)) {
        if (!lookup_seed(s, view, o, view.colour, q)) return overflow(s, q);
      }
    }
    if (!finish_query(s, q)) return;
  }
}

void seed_lookup_kernel_lists(hit_hash_state_t *s) { lookup_lists<false>(s); }

void seed_lookup_kernel_lists_cs(hit_hash_state_t *s) { lookup_lists<true>(s); }

void seed_lookup_kernel_phased(hit_hash_state_t *s) {
  const hit_hash_view_t &view = s->views[0];
  const uint32_t window = view_window(view);
  for (uint32_t q = 0;; q++) {
    const uint32_t length = query_length(s->query);
    bool overflowed = false;
    if (length >= window) {
      // Both strands of a read sample the same read positions.
      const uint32_t odd = (s->first_query + q) & 1;
      const uint32_t from = odd ? (length - window) % 3 : 0;
      const uint16_t start = start_counter(s, length);
      for (uint32_t o = from; o + window <= length && !overflowed; o += 3) {
        overflowed = !lookup_counted(s, view, o, o + window, q, start);
      }
    }
    bool go_on = false;
    multi_finish(s, q, overflowed, &go_on);
    if (!go_on) return;
  }
}

void seed_lookup_kernel_two_views(hit_hash_state_t *s) {
  const hit_hash_view_t &first = s->views[0];
  const hit_hash_view_t &second = s->views[1];
  const uint32_t w0 = view_window(first), w1 = view_window(second);
  for (uint32_t q = 0;; q++) {
    const uint32_t length = query_length(s->query);
    bool overflowed = false;
    const uint16_t start = length >= w0 ? start_counter(s, length) : 0;
    // Both seeds of an offset end at the same query offset.
    for (uint32_t o = 0; o + w0 <= length && !overflowed; o++) {
      overflowed = !lookup_counted(s, first, o, o + w0, q, start);
      if (!overflowed && w1 >= w0 && o >= w1 - w0) {
        const uint32_t o1 = o - (w1 - w0);
        overflowed = !lookup_counted(s, second, o1, o1 + w1, q, start);
      }
    }
    bool go_on = false;
    multi_finish(s, q, overflowed, &go_on);
    if (!go_on) return;
  }
}

void hit_hash_collect_batch(hit_hash_state_t *s) {
  const __m128i empty = _mm_set1_epi32(-1);
  int32_t n = 0;
  // Only the groups an insert touched can hold diagonals; they are visited
  // in slot order.
  for (int32_t w = 0; w < kHitHashTouchedWords; w++) {
    for (uint64_t bits = s->touched[w]; bits != 0; bits &= bits - 1) {
      const uint32_t slot = (static_cast<uint32_t>(w) * 64 + static_cast<uint32_t>(__builtin_ctzll(bits))) * 4;
      for (uint32_t k = slot; k < slot + 4; k++) {
        const uint32_t d = s->table[k];
        if (d == kHitHashEmpty) continue;
        const uint32_t q = hit_hash_slot_query(d, k);
        if (static_cast<int32_t>(q) == s->left_out) continue;
        s->out[n++] = {d, s->first_query + q};
      }
      // The slots are emptied on the way: the next pass need not clear the
      // whole table first.
      _mm_store_si128(reinterpret_cast<__m128i *>(s->table + slot), empty);
    }
    s->touched[w] = 0;
  }
  s->collected = n;
  s->table_clean = 1;
}

int32_t seed_search_run(hit_hash_t *hash, int32_t low, int32_t high, int32_t max_queries, int32_t list_offset) {
  hit_hash_state_t *s = hash->state;
  s->low = low;
  s->high = high;
  const int32_t left = hash->query_count - hash->current;
  s->batch_size = left < max_queries ? left : max_queries;
  s->used = 0;
  s->rounds_left = 2;
  s->parity = hash->current & 1;
  s->first_query = static_cast<uint32_t>(hash->current);
  s->done = 0;
  s->left_out = -1;
  s->overflow = 0;
  hash->count = 0;
  if (s->batch_size <= 0) return hash->current;
  // The table comes back empty from a collection; the multi-hit records
  // beside it are reset in full.
  if (!s->table_clean || s->slot_size != 4) {
    memset(s->table, 0xFF, static_cast<size_t>(s->slot_size) * kHitHashSlots);
    memset(s->touched, 0, sizeof(uint64_t) * kHitHashTouchedWords);
  }
  s->table_clean = 0;

  const uint8_t *start = s->query;
  if (s->thresholds != nullptr)
    s->view_count == 1 ? seed_lookup_kernel_phased(s) : seed_lookup_kernel_two_views(s);
  else if (s->seed_lists != nullptr)
    hash->colour ? seed_lookup_kernel_lists_cs(s) : seed_lookup_kernel_lists(s);
  else
    seed_lookup_kernel_all_masks(s);

  if (s->overflow && s->done == 0) {
    s->query = start;
    return hash->current;
  }
  const int64_t needed = static_cast<int64_t>(list_offset) + s->used + 1;
  if (needed > hash->capacity) {
    hash->candidates = static_cast<candidate_t *>(
        ryx_realloc(hash->candidates, sizeof(candidate_t) * static_cast<size_t>(needed)));
    memset(hash->candidates + hash->capacity, 0, sizeof(candidate_t) * static_cast<size_t>(needed - hash->capacity));
    hash->capacity = static_cast<int32_t>(needed);
  }
  s->out = hash->candidates + list_offset;
  hit_hash_collect_batch(s);
  hash->count = s->collected;
  hash->current += s->done;
  return hash->current;
}

int32_t seed_search_split(hit_hash_t *hash, int32_t low, int32_t high, int32_t list_offset, int split_first) {
  int32_t n = list_offset;
  bool split = split_first != 0;
  for (;;) {
    if (split) {
      const int32_t mid = static_cast<int32_t>((static_cast<int64_t>(low) + high) / 2);
      n = seed_search_split(hash, low, mid, n, 0);
      low = mid;
    }
    const int32_t current = hash->current;
    const uint8_t *query = hash->state->query;
    const int32_t result = seed_search_run(hash, low, high, 1, n);
    hash->current = current;
    hash->state->query = query;
    if (result != current) return n + hash->count;
    split = true;
  }
}

void seed_search_current_split(hit_hash_t *hash) {
  hash->count = seed_search_split(hash, kHitHashSplitLow, kHitHashSplitHigh, 0, 1);
  sort_u64(reinterpret_cast<uint64_t *>(hash->candidates), static_cast<uint32_t>(hash->count));
}

int32_t seed_search_batch(hit_hash_t *hash) {
  const int32_t c = hash->current;
  if (c >= hash->query_count) {
    hash->count = 0;
    return c;
  }
  const int32_t result = seed_search_run(hash, kHitHashWindowLow, kHitHashWindowHigh, kHitHashBatchQueries, 0);
  if (result == c) {
    // The first query fills a region by itself: search it on window halves.
    seed_search_current_split(hash);
    hash->current = c + 1;
    hash->state->query = next_query(hash->state->query);
    return c + 1;
  }
  if (hash->filter != nullptr && hash->filter_apply != nullptr) {
    hash->count = hash->filter_apply(hash->filter, hash->candidates, hash->count, hash->state->thresholds);
  }
  sort_u64(reinterpret_cast<uint64_t *>(hash->candidates), static_cast<uint32_t>(hash->count));
  return result;
}
