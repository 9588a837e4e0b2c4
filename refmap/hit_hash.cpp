#include "refmap/hit_hash.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "refmap/ref_index.h"
#include "seqio/seq_record.h"

hit_hash_t *hit_hash_new(ref_index_t *const *indexes, int32_t count, int32_t slot_size) {
  auto *hash = static_cast<hit_hash_t *>(ryx_calloc(sizeof(hit_hash_t)));
  auto *state = static_cast<hit_hash_state_t *>(ryx_calloc(sizeof(hit_hash_state_t)));
  hash->state = state;
  state->view_count = count;
  state->views = static_cast<hit_hash_view_t *>(ryx_calloc(sizeof(hit_hash_view_t) * (count > 0 ? count : 1)));
  for (int32_t v = 0; v < count; v++) {
    hit_hash_view_t &view = state->views[v];
    view.offsets = indexes[v]->offsets;
    view.entries = indexes[v]->entries;
    view.mask_words = indexes[v]->mask->words;
    view.mask_length = indexes[v]->mask->length;
    view.colour = indexes[v]->mask->colour;
    if (view.colour) hash->colour = 1;
  }
  state->slot_size = slot_size;
  state->allocation = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(slot_size) * kHitHashSlots + 4095));
  state->table = reinterpret_cast<uint32_t *>((reinterpret_cast<uintptr_t>(state->allocation) + 4095) &
                                              ~static_cast<uintptr_t>(4095));
  state->records = slot_size == 8 ? reinterpret_cast<uint16_t *>(state->table + kHitHashSlots) : nullptr;
  state->touched = static_cast<uint64_t *>(ryx_calloc(sizeof(uint64_t) * kHitHashTouchedWords));
  state->left_out = -1;
  hash->capacity = 100;
  hash->candidates = static_cast<candidate_t *>(ryx_calloc(sizeof(candidate_t) * hash->capacity));
  hash->random = random_state_new();
  return hash;
}

hit_hash_t *hit_hash_new_with_lists(ref_index_t *const *indexes, int32_t count, const uint32_t *const *seed_lists) {
  hit_hash_t *hash = hit_hash_new(indexes, count, 4);
  hash->state->seed_lists = seed_lists;
  return hash;
}

hit_hash_t *hit_hash_new_checked(ref_index_t *const *indexes, int32_t count, int32_t step,
                                 const uint32_t *thresholds) {
  if (thresholds != nullptr) {
    if (count > 2) {
      fprintf(stderr, "Multi hit hash only implemented for one or two word tables\n");
      ryx_exit(1);
    }
    if (count == 1 && step != 3) {
      fprintf(stderr, "Multi hit hash with single table only implemented for step size 3\n");
      ryx_exit(1);
    }
    if (count == 2 && step != 1) {
      fprintf(stderr, "Multi hit hash with two tables only implemented for step size 1\n");
      ryx_exit(1);
    }
  } else if (step != 1) {
    fprintf(stderr, "Single hit hash with steps only implemented for step size 1\n");
    ryx_exit(1);
  }
  hit_hash_t *hash = hit_hash_new(indexes, count, thresholds != nullptr ? 8 : 4);
  hash->state->step = step;
  hash->state->thresholds = thresholds;
  return hash;
}

hit_hash_t *hit_hash_free(hit_hash_t *hash) {
  if (hash == nullptr) return nullptr;
  ryx_free(hash->packed);
  ryx_free(hash->state->views);
  ryx_free(hash->state->allocation);
  ryx_free(hash->state->touched);
  ryx_free(hash->state);
  ryx_free(hash->candidates);
  random_state_free(hash->random);
  ryx_free(hash);
  return nullptr;
}

void hit_hash_pack_queries(hit_hash_t *hash, seq_record_t *const *queries, int32_t count) {
  size_t bytes = 4 + kHitHashPackPad;
  for (int32_t q = 0; q < count; q++) bytes += 4 + (queries[q] != nullptr ? (queries[q]->length + 3) / 4 : 0);
  ryx_free(hash->packed);
  hash->packed = static_cast<uint8_t *>(ryx_calloc(bytes));
  uint8_t *at = hash->packed;
  for (int32_t q = 0; q < count; q++) {
    const uint32_t length = queries[q] != nullptr ? queries[q]->length : 0;
    memcpy(at, &length, 4);
    at += 4;
    for (uint32_t i = 0; i < length; i++) {
      uint8_t code = queries[q]->residues[i];
      if (code > 3) code = random_state_draw_u8(hash->random) & 3;
      at[i / 4] |= static_cast<uint8_t>(code << (2 * (i & 3)));
    }
    at += (length + 3) / 4;
  }
  // The closing zero length is already there.
  hash->state->query = hash->packed + 4;
  hash->current = 0;
  hash->query_count = count;
  hash->count = 0;
}

void hit_hash_attach_filter(hit_hash_t *hash, candidate_filter_t *filter, hit_hash_filter_fn apply) {
  hash->filter = filter;
  hash->filter_apply = filter != nullptr ? apply : nullptr;
}

int candidate_compare(const void *a, const void *b) {
  const auto *x = static_cast<const candidate_t *>(a);
  const auto *y = static_cast<const candidate_t *>(b);
  if (x->query != y->query) return x->query < y->query ? -1 : 1;
  if (x->position != y->position) return x->position < y->position ? -1 : 1;
  return 0;
}

int candidate_compare_u64(const void *a, const void *b) {
  uint64_t x, y;
  memcpy(&x, a, 8);
  memcpy(&y, b, 8);
  return x < y ? -1 : x > y ? 1 : 0;
}
