// Stored-hit iterator of the hash mapper: the hits of one read and one
// strand that were found and stored in an earlier block or pass, walked as
// a hit iterator (hit_iterator.h) over the current reference block.
//
// The paired mapping pairs a read with a mate whose hits are already
// stored; this iterator gives those hits the form of fresh ones. It yields
// the stored hits of the wanted strand that lie in the block, in stored
// order, starting at the first one at or after the block's first piece
// (sequence index and offset) and ending at the first one past the block's
// last piece. The start is found by a binary search over the wanted
// strand's hits alone, so hits of the other strand stored between them can
// never move the start past a wanted hit; the stored order of one strand
// ascends by (sequence, offset) within a pass.
//
// Positions are block positions of the hit's stored start; ends and spans
// come from the stored alignment code. The scores are the read's best score
// and pre-score; had_candidates is always 0.
//
// The stored data stays the caller's: the hits are read through an accessor
// (so that the iterator does not depend on how result slots keep them) and
// block positions through the block's position lookup, which the caller
// passes in (ref_block_to_block_pos fits).
//
// Calling order: stored_hit_iterator_new, the iterator operations,
// stored_hit_iterator_free. One iterator belongs to one thread.
#pragma once

#include <cstdint>

struct hit_iterator_t;
struct ref_block_t;

// One stored hit as the iterator reads it.
struct stored_hit_t {
  int32_t sequence;     // reference sequence index
  int32_t offset;       // offset of the alignment start in the sequence
  const uint8_t *code;  // alignment code bytes
  int32_t code_length;
  int32_t reverse;      // 1 on the reverse strand
};

// Fills hit with stored hit index of hits.
typedef void (*stored_hit_get_fn)(const void *hits, int32_t index, stored_hit_t *hit);
// Block position of an offset of a sequence in the block.
typedef int64_t (*stored_hit_block_pos_fn)(const ref_block_t *block, int32_t sequence, int32_t offset);

// What the iterator reads of a read's stored hits.
struct stored_hit_list_t {
  int32_t read_length;
  uint16_t best_score;
  uint16_t best_prescore;
  int32_t count;             // stored hits
  const void *hits;          // handed to get
  stored_hit_get_fn get;
};

// The cursor behind a stored-hit iterator.
struct stored_hit_cursor_t {
  stored_hit_list_t list;    // a copy; the hits stay the caller's
  const ref_block_t *block;
  stored_hit_block_pos_fn block_pos;
  int32_t *wanted;           // indexes of the wanted strand's hits, in stored order (owned)
  int32_t wanted_count;
  int32_t start;             // into wanted: the first hit at or after the block start
  int32_t current;           // into wanted; start - 1 before the first next
  int32_t marked;
  int32_t strand;            // 0 forward, other values reverse
  stored_hit_t hit;          // the current hit
};

// An iterator over the hits of list on the strand (0 forward, nonzero
// reverse) that lie in the block.
hit_iterator_t *stored_hit_iterator_new(const stored_hit_list_t *list, const ref_block_t *block, int32_t strand,
                                        stored_hit_block_pos_fn block_pos);
// Frees the iterator and its cursor, not the stored hits (null allowed);
// returns null.
hit_iterator_t *stored_hit_iterator_free(hit_iterator_t *it);

// The list the iterator walks.
const stored_hit_list_t *stored_hit_iterator_list(const hit_iterator_t *it);
// The current hit (valid after next returned 1).
const stored_hit_t *stored_hit_iterator_current(const hit_iterator_t *it);
// Orders a hit against a key (sequence, offset) for the strand: -1 when the
// hit is of the other strand or of the wanted strand below the key, 0 when
// it equals the key, 1 otherwise.
int stored_hit_compare(const stored_hit_t *hit, int32_t sequence, int32_t offset, int32_t strand);
