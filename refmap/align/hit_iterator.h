// Hit iterators of the hash mapper: one query's hits in block-position
// order, as the batch mapping sees them.
//
// A hit iterator is a table of 18 operations and a payload. The matcher
// (matcher.h) builds gapped and ungapped iterators over fresh hits, the
// stored-hit iterator (stored_hit_iterator.h) one over hits stored in an
// earlier block or pass; callers go through the inline wrappers below and
// never look at the payload.
//
// Calling order: score and prescore may be read at any time (the driver
// reads them once, before the first next); every other operation only
// after next returned 1. mark remembers the current hit, reset_to_mark makes
// the following next yield the marked hit again.
//
// Positions are block positions. min_start/max_start and min_end/max_end
// bound the alignment's read start and end before the exact alignment is
// known; read_start/read_end, aligned_start/aligned_end and the code
// operations are exact and may build the alignment on first use.
//
// Ownership: the creator of an iterator frees it (matcher_free,
// stored_hit_iterator_free); the code bytes belong to the iterator and stay
// valid until its next call of next or reset_to_mark.
#pragma once

#include <cstdint>

struct hit_iterator_t;

typedef int (*hit_iterator_step_fn)(hit_iterator_t *it, void *payload);
typedef void (*hit_iterator_mark_fn)(hit_iterator_t *it, void *payload);
typedef int32_t (*hit_iterator_value_fn)(hit_iterator_t *it, void *payload);
typedef const uint8_t *(*hit_iterator_bytes_fn)(hit_iterator_t *it, void *payload);

struct hit_iterator_t {
  hit_iterator_step_fn next;             // 1 when a further hit is current, 0 at the end
  hit_iterator_mark_fn mark;
  hit_iterator_mark_fn reset_to_mark;
  hit_iterator_value_fn score;           // best score of the query (unsigned 16-bit)
  hit_iterator_value_fn prescore;        // best ungapped pre-score (unsigned 16-bit)
  hit_iterator_value_fn min_start;
  hit_iterator_value_fn max_start;
  hit_iterator_value_fn read_start;
  hit_iterator_value_fn min_end;
  hit_iterator_value_fn max_end;
  hit_iterator_value_fn read_end;
  hit_iterator_value_fn min_pos;         // lowest block position the alignment can touch
  hit_iterator_value_fn max_pos;         // highest block position the alignment can touch
  hit_iterator_value_fn aligned_start;
  hit_iterator_value_fn aligned_end;
  hit_iterator_value_fn code_length;
  hit_iterator_bytes_fn code_data;
  hit_iterator_step_fn had_candidates;   // 1 when the seed search found any candidate
  void *payload;
};

// A zero-filled iterator from the fail-fast allocator.
hit_iterator_t *hit_iterator_alloc();
// Frees the iterator, not its payload (null allowed); returns null.
hit_iterator_t *hit_iterator_dealloc(hit_iterator_t *it);

inline int hit_iterator_next(hit_iterator_t *it) { return it->next(it, it->payload); }
inline void hit_iterator_mark(hit_iterator_t *it) { it->mark(it, it->payload); }
inline void hit_iterator_reset_to_mark(hit_iterator_t *it) { it->reset_to_mark(it, it->payload); }
inline int32_t hit_iterator_score(hit_iterator_t *it) { return it->score(it, it->payload); }
inline int32_t hit_iterator_prescore(hit_iterator_t *it) { return it->prescore(it, it->payload); }
inline int32_t hit_iterator_min_start(hit_iterator_t *it) { return it->min_start(it, it->payload); }
inline int32_t hit_iterator_max_start(hit_iterator_t *it) { return it->max_start(it, it->payload); }
inline int32_t hit_iterator_read_start(hit_iterator_t *it) { return it->read_start(it, it->payload); }
inline int32_t hit_iterator_min_end(hit_iterator_t *it) { return it->min_end(it, it->payload); }
inline int32_t hit_iterator_max_end(hit_iterator_t *it) { return it->max_end(it, it->payload); }
inline int32_t hit_iterator_read_end(hit_iterator_t *it) { return it->read_end(it, it->payload); }
inline int32_t hit_iterator_min_pos(hit_iterator_t *it) { return it->min_pos(it, it->payload); }
inline int32_t hit_iterator_max_pos(hit_iterator_t *it) { return it->max_pos(it, it->payload); }
inline int32_t hit_iterator_aligned_start(hit_iterator_t *it) { return it->aligned_start(it, it->payload); }
inline int32_t hit_iterator_aligned_end(hit_iterator_t *it) { return it->aligned_end(it, it->payload); }
inline int32_t hit_iterator_code_length(hit_iterator_t *it) { return it->code_length(it, it->payload); }
inline const uint8_t *hit_iterator_code_data(hit_iterator_t *it) { return it->code_data(it, it->payload); }
inline int hit_iterator_had_candidates(hit_iterator_t *it) { return it->had_candidates(it, it->payload); }
