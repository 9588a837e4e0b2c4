#include "refmap/align/stored_hit_iterator.h"

#include "common/memory.h"
#include "refmap/align/hit_iterator.h"
#include "refmap/ref_block.h"
#include "seqio/alignment_code.h"

int stored_hit_compare(const stored_hit_t *hit, int32_t sequence, int32_t offset, int32_t strand) {
  if ((hit->reverse != 0) != (strand != 0)) return -1;
  if (hit->sequence != sequence) return hit->sequence < sequence ? -1 : 1;
  if (hit->offset != offset) return hit->offset < offset ? -1 : 1;
  return 0;
}

namespace {

stored_hit_cursor_t *cursor_of(void *payload) { return static_cast<stored_hit_cursor_t *>(payload); }

const stored_hit_t &current_hit(stored_hit_cursor_t *c) { return c->hit; }

int32_t block_position(stored_hit_cursor_t *c) {
  const stored_hit_t &hit = current_hit(c);
  return static_cast<int32_t>(c->block_pos(c->block, hit.sequence, hit.offset));
}

int32_t reference_length(stored_hit_cursor_t *c) {
  const stored_hit_t &hit = current_hit(c);
  return static_cast<int32_t>(alignment_code_reference_length(hit.code_length, hit.code));
}

// 1 when the hit still lies in the block: on a sequence before the last
// piece's, or in the last piece's sequence with its code ending at or before
// the piece end.
int inside_block(stored_hit_cursor_t *c, const stored_hit_t &hit) {
  const ref_block_desc_t *desc = c->block->desc;
  const int32_t last = desc->piece_count - 1;
  const int32_t sequence = desc->sequences[last];
  const int64_t end = static_cast<int64_t>(desc->offsets[last]) + desc->lengths[last];
  if (hit.sequence != sequence) return hit.sequence < sequence;
  if (hit.offset > end) return 0;
  // A hit this far from the end cannot reach it: no need to measure.
  if (static_cast<int64_t>(hit.offset) + 2 * static_cast<int64_t>(c->list.read_length) + 100 <= end) return 1;
  return hit.offset + alignment_code_reference_length(hit.code_length, hit.code) <= end;
}

int op_next(hit_iterator_t *, void *payload) {
  stored_hit_cursor_t *c = cursor_of(payload);
  if (c->current < c->wanted_count) c->current++;
  if (c->current >= c->wanted_count) return 0;
  c->list.get(c->list.hits, c->wanted[c->current], &c->hit);
  if (!inside_block(c, c->hit)) {
    c->current = c->wanted_count;  // hits past the block end are not looked at
    return 0;
  }
  return 1;
}

void op_mark(hit_iterator_t *, void *payload) {
  stored_hit_cursor_t *c = cursor_of(payload);
  c->marked = c->current;
}

void op_reset_to_mark(hit_iterator_t *, void *payload) {
  stored_hit_cursor_t *c = cursor_of(payload);
  // A mark taken before the first next restarts at the first hit.
  c->current = c->marked - 1 < c->start - 1 ? c->start - 1 : c->marked - 1;
}

int32_t op_score(hit_iterator_t *, void *payload) { return cursor_of(payload)->list.best_score; }

int32_t op_prescore(hit_iterator_t *, void *payload) { return cursor_of(payload)->list.best_prescore; }

int32_t op_start(hit_iterator_t *, void *payload) {
  stored_hit_cursor_t *c = cursor_of(payload);
  const stored_hit_t &hit = current_hit(c);
  return block_position(c) - static_cast<int32_t>(alignment_code_leading_insertions(hit.code_length, hit.code));
}

int32_t op_end(hit_iterator_t *, void *payload) {
  stored_hit_cursor_t *c = cursor_of(payload);
  const stored_hit_t &hit = current_hit(c);
  const int32_t span = static_cast<int32_t>(alignment_code_read_span(hit.code_length, hit.code));
  return block_position(c) + reference_length(c) + c->list.read_length - span;
}

// The lowest block position of a stored alignment is its aligned start.
int32_t op_aligned_start(hit_iterator_t *, void *payload) { return block_position(cursor_of(payload)); }

int32_t op_aligned_end(hit_iterator_t *, void *payload) {
  stored_hit_cursor_t *c = cursor_of(payload);
  return block_position(c) + reference_length(c);
}

int32_t op_code_length(hit_iterator_t *, void *payload) { return current_hit(cursor_of(payload)).code_length; }

const uint8_t *op_code_data(hit_iterator_t *, void *payload) { return current_hit(cursor_of(payload)).code; }

int op_had_candidates(hit_iterator_t *, void *) { return 0; }

// Index into wanted of the first wanted hit at or after the block's first
// piece.
int32_t start_index(stored_hit_cursor_t *c) {
  const ref_block_desc_t *desc = c->block->desc;
  const int32_t sequence = desc->sequences[0];
  const int32_t offset = desc->offsets[0];
  int32_t lo = 0;
  int32_t hi = c->wanted_count;
  stored_hit_t hit;
  while (lo < hi) {
    const int32_t i = lo + (hi - lo) / 2;
    c->list.get(c->list.hits, c->wanted[i], &hit);
    if (stored_hit_compare(&hit, sequence, offset, c->strand) < 0) {
      lo = i + 1;
    } else {
      hi = i;
    }
  }
  return lo;
}

}  // namespace

hit_iterator_t *stored_hit_iterator_new(const stored_hit_list_t *list, const ref_block_t *block, int32_t strand,
                                        stored_hit_block_pos_fn block_pos) {
  auto *c = static_cast<stored_hit_cursor_t *>(ryx_calloc(sizeof(stored_hit_cursor_t)));
  c->list = *list;
  c->block = block;
  c->block_pos = block_pos;
  c->strand = strand;
  const int32_t count = list->count > 0 ? list->count : 0;
  c->wanted = static_cast<int32_t *>(ryx_malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(int32_t)));
  stored_hit_t hit;
  for (int32_t i = 0; i < count; i++) {
    list->get(list->hits, i, &hit);
    if ((hit.reverse != 0) == (strand != 0)) c->wanted[c->wanted_count++] = i;
  }
  if (block->desc == nullptr || block->desc->piece_count == 0) c->wanted_count = 0;
  c->start = c->wanted_count > 0 ? start_index(c) : 0;
  c->current = c->start - 1;
  c->marked = c->current;

  hit_iterator_t *it = hit_iterator_alloc();
  it->payload = c;
  it->next = op_next;
  it->mark = op_mark;
  it->reset_to_mark = op_reset_to_mark;
  it->score = op_score;
  it->prescore = op_prescore;
  it->min_start = it->max_start = it->read_start = op_start;
  it->min_end = it->max_end = it->read_end = op_end;
  it->min_pos = op_aligned_start;
  it->max_pos = op_aligned_end;
  it->aligned_start = op_aligned_start;
  it->aligned_end = op_aligned_end;
  it->code_length = op_code_length;
  it->code_data = op_code_data;
  it->had_candidates = op_had_candidates;
  return it;
}

hit_iterator_t *stored_hit_iterator_free(hit_iterator_t *it) {
  if (it == nullptr) return nullptr;
  stored_hit_cursor_t *c = cursor_of(it->payload);
  ryx_free(c->wanted);
  ryx_free(c);
  return hit_iterator_dealloc(it);
}

const stored_hit_list_t *stored_hit_iterator_list(const hit_iterator_t *it) {
  return &static_cast<const stored_hit_cursor_t *>(it->payload)->list;
}

const stored_hit_t *stored_hit_iterator_current(const hit_iterator_t *it) {
  return &static_cast<const stored_hit_cursor_t *>(it->payload)->hit;
}
