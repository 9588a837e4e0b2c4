#include "refmap/ref_block.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/linked_list.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/thread_group.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

void add_piece(linked_list_t *pieces, int64_t start, int32_t sequence, int64_t offset, int64_t length) {
  auto *piece = static_cast<ref_block_piece_t *>(ryx_malloc(sizeof(ref_block_piece_t)));
  piece->start = static_cast<int32_t>(start);
  piece->sequence = sequence;
  piece->offset = static_cast<int32_t>(offset);
  piece->length = static_cast<int32_t>(length);
  linked_list_append(pieces, piece);
}

// Index of the last piece starting at or before position, -1 when position
// lies before the first piece.
int32_t piece_at_or_before(const ref_block_desc_t *desc, int64_t position) {
  int32_t lo = 0, hi = desc->piece_count - 1, found = -1;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if (desc->starts[mid] <= position) {
      found = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return found;
}

// Index of the piece of a sequence in this block, -1 without one.
int32_t piece_of_sequence(const ref_block_desc_t *desc, int32_t sequence) {
  if (desc->piece_count == 0) return -1;
  int64_t k = static_cast<int64_t>(sequence) - desc->sequences[0];
  if (k < 0 || k >= desc->piece_count || desc->sequences[k] != sequence) return -1;
  return static_cast<int32_t>(k);
}

inline void set_position(ref_block_t *block, int64_t j, uint32_t code, uint32_t known) {
  const uint32_t shift = 2 * static_cast<uint32_t>(j & 3);
  block->bases[j >> 2] = static_cast<uint8_t>(block->bases[j >> 2] | (code << shift));
  block->known[j >> 2] = static_cast<uint8_t>(block->known[j >> 2] | (known << shift));
}

void fill_unknown(ref_block_t *block, int64_t from, int64_t to) {
  for (int64_t j = from; j < to; j++) set_position(block, j, static_cast<uint32_t>(rand()) & 3, 0);
}

}  // namespace

int64_t ref_block_min_size(int32_t spacer, int64_t overlap) { return 2 * static_cast<int64_t>(spacer) + overlap + 1; }

int64_t ref_block_size_fit(int64_t requested, int32_t spacer, int64_t overlap) {
  const int64_t smallest = ref_block_min_size(spacer, overlap);
  if (spacer < 0 || overlap < 0 || smallest > kRefBlockMaxSize) {
    fprintf(stderr, "Maximum pair distance too large for the reference blocks.\n");
    ryx_exit(1);
  }
  if (requested < 0) return kRefBlockMaxSize;
  return std::clamp(requested, smallest, kRefBlockMaxSize);
}

ref_block_desc_t *ref_block_desc_new(linked_list_t *pieces, int64_t length, int64_t overlap) {
  auto *desc = static_cast<ref_block_desc_t *>(ryx_calloc(sizeof(ref_block_desc_t)));
  int32_t count = linked_list_get_count(pieces);
  size_t bytes = sizeof(int32_t) * static_cast<size_t>(count > 0 ? count : 1);
  desc->piece_count = count;
  desc->length = length;
  desc->starts = static_cast<int32_t *>(ryx_malloc(bytes));
  desc->sequences = static_cast<int32_t *>(ryx_malloc(bytes));
  desc->offsets = static_cast<int32_t *>(ryx_malloc(bytes));
  desc->lengths = static_cast<int32_t *>(ryx_malloc(bytes));
  int32_t k = 0;
  for (linked_list_node_t *node = pieces->head; node != nullptr; node = node->next, k++) {
    const auto *piece = static_cast<const ref_block_piece_t *>(node->item);
    desc->starts[k] = piece->start;
    desc->sequences[k] = piece->sequence;
    desc->offsets[k] = piece->offset;
    desc->lengths[k] = piece->length;
  }
  // Hits before the overlap limit repeat the end of the previous block.
  desc->overlap_limit = (count == 0 || desc->offsets[0] == 0) ? 0 : static_cast<int32_t>(desc->starts[0] + overlap);
  linked_list_free_with_items(pieces);
  return desc;
}

ref_block_desc_t *ref_block_desc_free(ref_block_desc_t *desc) {
  if (desc == nullptr) return nullptr;
  ryx_free(desc->starts);
  ryx_free(desc->sequences);
  ryx_free(desc->offsets);
  ryx_free(desc->lengths);
  ryx_free(desc);
  return nullptr;
}

ref_block_list_t *ref_block_list_build(int32_t count, const int32_t *lengths, int32_t spacer, int64_t overlap,
                                       int64_t block_size) {
  // With size >= 2 spacer + overlap + 1 an empty block always has room for
  // more than the overlap, so no empty block is ever closed and every cut
  // advances through the sequence.
  const int64_t size = ref_block_size_fit(block_size, spacer, overlap);
  linked_list_t *blocks = linked_list_new();
  linked_list_t *pieces = linked_list_new();
  int64_t f = spacer;
  for (int32_t i = 0; i < count; i++) {
    const int64_t length = std::max<int64_t>(0, lengths[i]);
    int64_t o = 0;
    for (;;) {
      const int64_t rest = length - o;
      while (f + rest + spacer > size && f + spacer + overlap + 1 > size) {
        linked_list_append(blocks, ref_block_desc_new(pieces, f, overlap));
        pieces = linked_list_new();
        f = spacer;
      }
      const int64_t room = size - spacer - f;
      if (room < rest) {
        // The next piece, in the next block, repeats the last overlap bases.
        add_piece(pieces, f, i, o, room);
        f += spacer + room;
        o += room - overlap;
      } else {
        add_piece(pieces, f, i, o, rest);
        f += spacer + rest;
        break;
      }
    }
  }
  if (pieces->head != nullptr) {
    linked_list_append(blocks, ref_block_desc_new(pieces, f, overlap));
  } else {
    linked_list_free(pieces);
  }
  auto *list = static_cast<ref_block_list_t *>(ryx_calloc(sizeof(ref_block_list_t)));
  list->block_count = linked_list_get_count(blocks);
  list->blocks = static_cast<ref_block_desc_t **>(linked_list_to_array(blocks, sizeof(ref_block_desc_t *)));
  linked_list_free(blocks);
  return list;
}

ref_block_list_t *ref_block_list_free(ref_block_list_t *list) {
  if (list == nullptr) return nullptr;
  for (int32_t b = 0; b < list->block_count; b++) ref_block_desc_free(list->blocks[b]);
  ryx_free(list->blocks);
  ryx_free(list);
  return nullptr;
}

ref_block_t *ref_block_pack(const ref_block_desc_t *desc, seq_db_t *db) {
  auto *block = static_cast<ref_block_t *>(ryx_calloc(sizeof(ref_block_t)));
  block->length = desc->length;
  block->desc = desc;
  const size_t bytes = static_cast<size_t>((desc->length + 3) / 4 + kRefBlockPadBytes);
  block->bases = static_cast<uint8_t *>(ryx_calloc(bytes));
  block->known = static_cast<uint8_t *>(ryx_calloc(bytes));
  int64_t position = 0;
  for (int32_t k = 0; k < desc->piece_count; k++) {
    const int64_t start = desc->starts[k];
    fill_unknown(block, position, start);
    seq_record_t *record = db->get(db, desc->sequences[k]);
    if (record == nullptr ||
        static_cast<int64_t>(desc->offsets[k]) + desc->lengths[k] > static_cast<int64_t>(record->length)) {
      fprintf(stderr, "Reference sequence %d is shorter than its block piece\n", desc->sequences[k]);
      ryx_exit(1);
    }
    const uint8_t *codes = record->residues + desc->offsets[k];
    const int32_t length = desc->lengths[k];
    auto one = [&](int32_t j) {
      if (codes[j] < 4) {
        set_position(block, start + j, codes[j], 3);
      } else {
        set_position(block, start + j, static_cast<uint32_t>(rand()) & 3, 0);
      }
    };
    int32_t j = 0;
    for (; j < length && ((start + j) & 3) != 0; j++) one(j);
    // Whole bytes: four known bases take one store; a byte with an
    // unknown base takes its positions one by one, so the draws stay in
    // position order.
    for (; j + 4 <= length; j += 4) {
      uint32_t four;
      memcpy(&four, codes + j, 4);
      if ((four & 0xFCFCFCFCu) != 0) {
        for (int32_t i = j; i < j + 4; i++) one(i);
        continue;
      }
      const int64_t byte = (start + j) >> 2;
      block->bases[byte] = static_cast<uint8_t>(block->bases[byte] | (four & 3) | ((four >> 6) & 0x0C) |
                                                ((four >> 12) & 0x30) | ((four >> 18) & 0xC0));
      block->known[byte] = 0xFF;
    }
    for (; j < length; j++) one(j);
    seq_db_release_fetched(db, record);
    position = start + desc->lengths[k];
  }
  fill_unknown(block, position, desc->length);
  return block;
}

bool ref_block_desc_same_layout(const ref_block_desc_t *a, const ref_block_desc_t *b) {
  if (a->piece_count != b->piece_count || a->length != b->length) return false;
  const auto n = static_cast<size_t>(a->piece_count) * sizeof(int32_t);
  return memcmp(a->starts, b->starts, n) == 0 && memcmp(a->sequences, b->sequences, n) == 0 &&
         memcmp(a->offsets, b->offsets, n) == 0 && memcmp(a->lengths, b->lengths, n) == 0;
}

void ref_block_repack(ref_block_t *block, const ref_block_desc_t *desc) {
  block->desc = desc;
  // Unknown positions are exactly those whose known bits are 0; a fresh
  // pack draws their bases in position order, one rand() each.
  const int64_t length = block->length;
  for (int64_t byte = 0; byte < (length + 3) / 4; byte++) {
    if (block->known[byte] == 0xFF) continue;
    for (int64_t j = 4 * byte; j < 4 * byte + 4 && j < length; j++) {
      const uint32_t shift = 2 * static_cast<uint32_t>(j & 3);
      if ((block->known[byte] >> shift) & 3) continue;
      const auto base = static_cast<uint32_t>(rand()) & 3;
      block->bases[byte] = static_cast<uint8_t>((block->bases[byte] & ~(3u << shift)) | (base << shift));
    }
  }
}

ref_block_t *ref_block_free(ref_block_t *block) {
  if (block == nullptr) return nullptr;
  ryx_free(block->bases);
  ryx_free(block->known);
  ryx_free(block);
  return nullptr;
}

void *ref_block_prefetch_thread(void *args) {
  auto *prefetch = static_cast<ref_block_prefetch_t *>(static_cast<thread_args_t *>(args)->context);
  prefetch->block = ref_block_pack(prefetch->desc, prefetch->db);
  return prefetch->block;
}

ref_block_prefetch_t *ref_block_prefetch_start(const ref_block_desc_t *desc, seq_db_t *db) {
  auto *prefetch = static_cast<ref_block_prefetch_t *>(ryx_calloc(sizeof(ref_block_prefetch_t)));
  prefetch->db = db;
  prefetch->desc = desc;
  prefetch->group = thread_group_new(1, ref_block_prefetch_thread, nullptr, nullptr, prefetch);
  thread_group_start(prefetch->group);
  return prefetch;
}

ref_block_t *ref_block_prefetch_join(ref_block_prefetch_t *prefetch) {
  thread_group_join(prefetch->group);
  thread_group_free(prefetch->group);
  ref_block_t *block = prefetch->block;
  ryx_free(prefetch);
  return block;
}

void ref_block_to_seq_pos(const ref_block_t *block, int64_t position, int32_t *sequence, int32_t *offset) {
  const ref_block_desc_t *desc = block->desc;
  int32_t k = piece_at_or_before(desc, position);
  if (k < 0 || position > static_cast<int64_t>(desc->starts[k]) + desc->lengths[k]) {
    *sequence = -1;
    *offset = -1;
    return;
  }
  *sequence = desc->sequences[k];
  *offset = static_cast<int32_t>(position - desc->starts[k] + desc->offsets[k]);
}

int64_t ref_block_to_block_pos(const ref_block_t *block, int32_t sequence, int32_t offset) {
  const ref_block_desc_t *desc = block->desc;
  int32_t k = piece_of_sequence(desc, sequence);
  if (k < 0) {
    fprintf(stderr, "Sequence index error\n");
    ryx_exit(1);
  }
  return static_cast<int64_t>(desc->starts[k]) + offset - desc->offsets[k];
}

void ref_block_clamp_to_piece(const ref_block_t *block, int64_t *start, int64_t *end) {
  const ref_block_desc_t *desc = block->desc;
  if (desc->piece_count == 0) return;
  int32_t k = piece_at_or_before(desc, *start);
  if (k < 0) {
    k = 0;
  } else if (*start > static_cast<int64_t>(desc->starts[k]) + desc->lengths[k] && k + 1 < desc->piece_count) {
    k++;  // a start in the spacer belongs to the piece after it
  }
  const int64_t piece_start = desc->starts[k];
  const int64_t piece_end = piece_start + desc->lengths[k];
  if (*start < piece_start) *start = piece_start;
  if (*end > piece_end) *end = piece_end;
}

bool ref_block_seq_covers(const ref_block_t *block, int32_t sequence, int32_t start, int32_t end) {
  const ref_block_desc_t *desc = block->desc;
  int32_t k = piece_of_sequence(desc, sequence);
  if (k < 0) return false;
  return desc->offsets[k] <= start && static_cast<int64_t>(end) <= static_cast<int64_t>(desc->offsets[k]) + desc->lengths[k];
}
