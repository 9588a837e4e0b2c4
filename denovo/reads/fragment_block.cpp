#include "denovo/reads/fragment_block.h"

#include <climits>
#include <cstring>

#include "common/memory.h"
#include "denovo/reads/fragment_builder.h"
#include "denovo/reads/fragment_search.h"

namespace {

constexpr uint64_t kEmptySlot = ~0ull;
constexpr size_t kFirstSetSize = 1024;

size_t slot_home(uint64_t slot, size_t mask) {
  // Used-table slots are hash values already, but test models hand in
  // packed words; a multiplicative mix spreads both.
  return static_cast<size_t>((slot * 0x9E3779B97F4A7C15ull) >> 20) & mask;
}

void slot_set_grow(fragment_slot_set_t *set) {
  std::vector<uint64_t> old;
  old.swap(set->table);
  set->table.assign(old.empty() ? kFirstSetSize : 2 * old.size(), kEmptySlot);
  const size_t mask = set->table.size() - 1;
  for (const uint64_t slot : old) {
    if (slot == kEmptySlot) continue;
    size_t i = slot_home(slot, mask);
    while (set->table[i] != kEmptySlot) i = (i + 1) & mask;
    set->table[i] = slot;
  }
}

// How a scan treats its windows.
enum scan_mode_t {
  kScanPlain,   // shared marks; records go to the sink undecided
  kScanAhead,   // shared marks and overlay; notes what it sees, keeps what it builds
  kScanDecide,  // shared marks, guided by the notes; decides every record
};

struct scan_t {
  scan_mode_t mode;
  fragment_block_t *block;  // null in plain mode
  fragment_sink_fn sink;    // plain mode
  void *sink_user;
  fragment_poll_fn poll;    // ahead mode, may be null
  void *poll_user;
  int64_t overlay_limit;    // ahead mode: no builds once the overlay holds this many slots
  size_t next_built;        // decide mode: first record built ahead not yet passed
};

// Windows whose used slots the scan computes at once: their mark lines are
// fetched together, well before the scan reaches them.
constexpr int64_t kSlotChunk = 64;
// Words of a record whose counts are asked in one batch.
constexpr int32_t kCountChunk = 32;

// Per-thread look-up buffers; they only grow.
struct lookup_buffers_t {
  std::vector<uint64_t> window_slots;  // the scan's chunk of windows
  std::vector<int32_t> window_counts;  // their counts, -1 while not looked up
  std::vector<const uint8_t *> window_words;
  std::vector<int32_t> window_index;
  std::vector<uint64_t> slots;         // the words of one record
  std::vector<const uint8_t *> words;
  std::vector<int64_t> positions;
  std::vector<int32_t> counts;
  // counts with room for n.
  int32_t *counts_scratch(int32_t n) {
    if (counts.size() < static_cast<size_t>(n)) counts.resize(static_cast<size_t>(n));
    return counts.data();
  }
};

lookup_buffers_t &thread_buffers() {
  static thread_local lookup_buffers_t buffers;
  return buffers;
}

// The used slots of the words at residues + p for p below words, into
// slots (sized by the caller).
void slots_of(fragment_builder_ctx_t *ctx, word_counter_t *counter, const uint8_t *residues, int64_t words,
              uint64_t *slots) {
  if (ctx->used_slots != nullptr) {
    ctx->used_slots(counter, residues, words, slots);
    return;
  }
  for (int64_t p = 0; p < words; p++) slots[p] = ctx->used_slot(counter, residues + p);
}

// The counts of n words.
void counts_of(fragment_builder_ctx_t *ctx, word_counter_t *counter, const uint8_t *const *words, int32_t n,
               int32_t *counts) {
  if (ctx->get_counts != nullptr) {
    ctx->get_counts(counter, words, n, counts);
    return;
  }
  for (int32_t i = 0; i < n; i++) counts[i] = ctx->get_count(counter, words[i]);
}

// Visits the words of a record from word `from` on, in order, with the
// ones free in the shared marks as the scan reaches their chunk, as
// visit(p, slot, count); a word whose mark was set when its chunk was read
// is passed over (marks are never cleared) and its count is not looked up.
// Stops when visit returns false. The slots are the buffer's; counts are
// looked up a chunk at a time.
template <typename Visit>
void visit_free_words(fragment_builder_ctx_t *ctx, word_counter_t *counter, const seq_record_t *record,
                      int64_t from, const std::vector<uint64_t> &slots, Visit &&visit) {
  const int32_t k = ctx->word_size;
  const int64_t words = static_cast<int64_t>(record->length) - k + 1;
  lookup_buffers_t &b = thread_buffers();
  b.words.resize(kCountChunk);
  b.positions.resize(kCountChunk);
  b.counts.resize(kCountChunk);
  for (int64_t chunk = from; chunk < words; chunk += kCountChunk) {
    const int64_t end = chunk + kCountChunk < words ? chunk + kCountChunk : words;
    int32_t n = 0;
    for (int64_t p = chunk; p < end; p++) {
      if (ctx->slot_is_used(counter, slots[static_cast<size_t>(p)])) continue;
      b.words[static_cast<size_t>(n)] = record->residues + p;
      b.positions[static_cast<size_t>(n)] = p;
      n++;
    }
    counts_of(ctx, counter, b.words.data(), n, b.counts.data());
    for (int32_t i = 0; i < n; i++) {
      const int64_t p = b.positions[static_cast<size_t>(i)];
      if (!visit(p, slots[static_cast<size_t>(p)], b.counts[static_cast<size_t>(i)])) return;
    }
  }
}

// The used slots of a record's words, into the thread's buffer.
const std::vector<uint64_t> &record_slots(fragment_builder_ctx_t *ctx, word_counter_t *counter,
                                          const seq_record_t *record) {
  const int64_t words = static_cast<int64_t>(record->length) - ctx->word_size + 1;
  std::vector<uint64_t> &slots = thread_buffers().slots;
  if (words <= 0) return slots;
  if (slots.size() < static_cast<size_t>(words)) slots.resize(static_cast<size_t>(words));
  slots_of(ctx, counter, record->residues, words, slots.data());
  return slots;
}

// The marks of a record ahead of the turn: its counted words from the first
// one free in the view on go into the overlay (those the shared table holds
// already change nothing, now or later).
void mark_in_overlay(fragment_block_t *block, fragment_builder_ctx_t *ctx, word_counter_t *counter,
                     const seq_record_t *record) {
  const std::vector<uint64_t> &slots = record_slots(ctx, counter, record);
  bool marking = false;
  visit_free_words(ctx, counter, record, 0, slots, [&](int64_t, uint64_t slot, int32_t count) {
    // The shared marks may have grown since the chunk was read; a word
    // marked there now is passed over as in a scan that came later.
    if (count <= 0 || ctx->slot_is_used(counter, slot)) return true;
    if (!marking && !fragment_slot_set_contains(&block->overlay, slot)) marking = true;
    if (marking) fragment_slot_set_add(&block->overlay, slot);
    return true;
  });
}

// Decide mode: frees the records built ahead at windows before `start`,
// which the decision passed over.
void drop_built_before(fragment_block_t *block, scan_t *scan, int64_t start) {
  std::vector<fragment_kept_t> &built = block->built;
  while (scan->next_built < built.size() && built[scan->next_built].position < start) {
    if (built[scan->next_built].record != nullptr) seq_record_free(built[scan->next_built].record);
    built[scan->next_built].record = nullptr;
    scan->next_built++;
  }
}

// The seeding walk shared by every mode: windows of k symbols holding no
// code above 3, whose word is counted and not used, are built from; after
// a record that continues past its seed, the windows that keep matching it
// are passed over. Returns where a poll stopped it, or length.
int64_t scan_windows(fragment_builder_ctx_t *ctx, fragment_search_t *search, const uint8_t *reads, int64_t length,
                     scan_t *scan) {
  const int32_t k = ctx->word_size;
  word_counter_t *counter = search->counter;
  fragment_block_t *block = scan->block;
  // Position after the last symbol above 3 seen so far: windows starting
  // before it hold that symbol.
  int64_t clean_from = 0;
  int64_t checked = 0;  // symbols before this were looked at
  // Used slots of the windows from slots_from on, a chunk at a time, and
  // their counts, looked up for the whole chunk when a window of it first
  // needs its count (counts never change; marks are read when needed).
  lookup_buffers_t &b = thread_buffers();
  std::vector<uint64_t> &slots = b.window_slots;
  std::vector<int32_t> &window_counts = b.window_counts;
  if (slots.size() < static_cast<size_t>(kSlotChunk)) {
    slots.resize(static_cast<size_t>(kSlotChunk));
    window_counts.resize(static_cast<size_t>(kSlotChunk));
    b.window_words.resize(static_cast<size_t>(kSlotChunk));
    b.window_index.resize(static_cast<size_t>(kSlotChunk));
  }
  int64_t slots_from = 0, slots_to = 0;
  bool counts_read = false;
  // The count of window start, within the current chunk.
  auto window_count = [&](int64_t start) {
    if (!counts_read) {
      // Every window of the rest of the chunk not used yet: most of them
      // will need their count too.
      int32_t n = 0;
      for (int64_t w = start; w < slots_to; w++) {
        const auto i = static_cast<size_t>(w - slots_from);
        window_counts[i] = -1;
        if (w != start && ctx->slot_is_used(counter, slots[i])) continue;
        b.window_words[static_cast<size_t>(n)] = reads + w;
        b.window_index[static_cast<size_t>(n)] = static_cast<int32_t>(i);
        n++;
      }
      counts_of(ctx, counter, b.window_words.data(), n, b.counts_scratch(n));
      for (int32_t j = 0; j < n; j++)
        window_counts[static_cast<size_t>(b.window_index[static_cast<size_t>(j)])] =
            b.counts[static_cast<size_t>(j)];
      counts_read = true;
    }
    const auto i = static_cast<size_t>(start - slots_from);
    if (window_counts[i] < 0) window_counts[i] = ctx->get_count(counter, reads + start);
    return window_counts[i];
  };
  for (int64_t start = 0; start + k <= length; start++) {
    for (; checked < start + k; checked++)
      if (reads[checked] > 3) clean_from = checked + 1;
    if (start < clean_from) continue;
    const uint8_t *word = reads + start;
    uint8_t note = kFragmentSeenNothing;
    if (scan->mode == kScanDecide) {
      if (start < block->seen_end) note = block->seen[static_cast<size_t>(start)];
      // Unclean, not counted, or used in the shared marks already: a mark
      // once set stays, so nothing here has changed.
      if (note == kFragmentSeenSettled) continue;
      drop_built_before(block, scan, start);
    }
    if (scan->mode == kScanAhead && scan->poll != nullptr && scan->poll(block, scan->poll_user)) return start;
    // The used mark first: it is one look-up, and a used word is passed
    // over whatever its count; most words of a read are used once its
    // region has a fragment.
    if (start >= slots_to) {
      const int64_t windows = length - k + 1 - start;
      slots_from = start;
      slots_to = start + (windows < kSlotChunk ? windows : kSlotChunk);
      slots_of(ctx, counter, word, slots_to - slots_from, slots.data());
      counts_read = false;
    }
    const uint64_t slot = slots[static_cast<size_t>(start - slots_from)];
    if (ctx->slot_is_used(counter, slot) ||
        (note == kFragmentSeenNothing && window_count(start) <= 0)) {
      // Windows noted as built, overlay or free were counted when they
      // were seen.
      if (scan->mode == kScanAhead) block->seen[static_cast<size_t>(start)] = kFragmentSeenSettled;
      continue;
    }
    seq_record_t *record = nullptr;
    int32_t left = 0;
    if (scan->mode == kScanAhead) {
      uint8_t &seen = block->seen[static_cast<size_t>(start)];
      if (fragment_slot_set_contains(&block->overlay, slot)) {
        seen = kFragmentSeenOverlay;
        continue;
      }
      if (block->overlay.count >= scan->overlay_limit) {
        seen = kFragmentSeenFree;
        continue;
      }
      seen = kFragmentSeenBuilt;
      record = fragment_build_from_seed(search, word, &left, ctx);
      block->built.push_back({start, record, left});
    } else {
      // A record built ahead at a window that is used now is dropped when
      // the decision passes it.
      if (note == kFragmentSeenBuilt) {
        // A build depends on the counts alone: the record built ahead is
        // the one this seed gives.
        fragment_kept_t &ahead = block->built[scan->next_built++];
        record = ahead.record;
        left = ahead.left;
        ahead.record = nullptr;
      } else {
        record = fragment_build_from_seed(search, word, &left, ctx);
      }
    }
    if (record == nullptr) continue;
    // Pass over the windows that lie inside the record just built.
    int64_t advance = 0;
    int64_t f = static_cast<int64_t>(left) + k;
    int64_t r = start + k;
    while (f < record->length && r < length && reads[r] == record->residues[f]) {
      f++;
      r++;
      advance++;
    }
    if (scan->mode == kScanPlain) {
      scan->sink(record, scan->sink_user);
    } else if (scan->mode == kScanAhead) {
      mark_in_overlay(block, ctx, counter, record);
    } else {
      seq_record_t *kept = fragment_block_take(ctx, counter, record);
      if (kept != nullptr) block->kept.push_back({start, kept, left});
    }
    start += advance;
  }
  return length;
}

}  // namespace

bool fragment_slot_set_contains(const fragment_slot_set_t *set, uint64_t slot) {
  if (slot == kEmptySlot) return set->has_empty_value;
  if (set->table.empty()) return false;
  const size_t mask = set->table.size() - 1;
  for (size_t i = slot_home(slot, mask);; i = (i + 1) & mask) {
    if (set->table[i] == slot) return true;
    if (set->table[i] == kEmptySlot) return false;
  }
}

bool fragment_slot_set_add(fragment_slot_set_t *set, uint64_t slot) {
  if (slot == kEmptySlot) {
    if (set->has_empty_value) return false;
    set->has_empty_value = true;
    set->count++;
    return true;
  }
  // At most half full, so every probe ends at an empty entry.
  if (static_cast<size_t>(2 * (set->count + 1)) > set->table.size()) slot_set_grow(set);
  const size_t mask = set->table.size() - 1;
  size_t i = slot_home(slot, mask);
  for (; set->table[i] != kEmptySlot; i = (i + 1) & mask)
    if (set->table[i] == slot) return false;
  set->table[i] = slot;
  set->count++;
  return true;
}

void fragment_slot_set_clear(fragment_slot_set_t *set) {
  std::vector<uint64_t>().swap(set->table);
  set->count = 0;
  set->has_empty_value = false;
}

fragment_block_t *fragment_block_new(int64_t sequence, seq_record_t *reads) {
  auto *block = new fragment_block_t{};
  block->sequence = sequence;
  block->reads = reads;
  return block;
}

fragment_block_t *fragment_block_free(fragment_block_t *block) {
  if (block == nullptr) return nullptr;
  if (block->reads != nullptr) seq_record_release(block->reads);
  for (const fragment_kept_t &b : block->built)
    if (b.record != nullptr) seq_record_free(b.record);
  for (const fragment_kept_t &k : block->kept) seq_record_free(k.record);
  delete block;
  return nullptr;
}

seq_record_t *fragment_block_take(fragment_builder_ctx_t *ctx, word_counter_t *counter, seq_record_t *record) {
  // Only the thread deciding in turn sets marks, and it sets them here
  // alone, so the marks read below change only through this record.
  const std::vector<uint64_t> &slots = record_slots(ctx, counter, record);
  int64_t first_new = -1;
  visit_free_words(ctx, counter, record, 0, slots, [&](int64_t p, uint64_t, int32_t count) {
    if (count > 0) first_new = p;
    return first_new < 0;
  });
  if (first_new >= 0) {
    // Setting a mark that is set already changes nothing: only the free
    // words need their count. A word whose slot an earlier word of the
    // record marked after its chunk was read is marked again, which
    // changes nothing either.
    visit_free_words(ctx, counter, record, first_new, slots, [&](int64_t, uint64_t slot, int32_t count) {
      if (count > 0) ctx->mark_slot_used(counter, slot);
      return true;
    });
  }
  if (record->name == nullptr || first_new < 0) {
    seq_record_free(record);
    return nullptr;
  }
  return record;
}

int64_t fragment_block_scan_ahead(fragment_block_t *block, fragment_builder_ctx_t *ctx, fragment_search_t *search,
                                  int64_t overlay_limit, fragment_poll_fn poll, void *user) {
  block->seen.assign(static_cast<size_t>(block->reads->length), kFragmentSeenNothing);
  scan_t scan{kScanAhead, block, nullptr, nullptr, poll, user, overlay_limit, 0};
  block->seen_end = scan_windows(ctx, search, block->reads->residues, block->reads->length, &scan);
  return block->seen_end;
}

void fragment_block_decide(fragment_block_t *block, fragment_builder_ctx_t *ctx, fragment_search_t *search) {
  scan_t scan{kScanDecide, block, nullptr, nullptr, nullptr, nullptr, 0, 0};
  scan_windows(ctx, search, block->reads->residues, block->reads->length, &scan);
  drop_built_before(block, &scan, INT64_MAX);
  std::vector<fragment_kept_t>().swap(block->built);
  std::vector<uint8_t>().swap(block->seen);
  fragment_slot_set_clear(&block->overlay);
  block->seen_end = 0;
  block->decided = 1;
}

void fragment_builder_scan(fragment_builder_ctx_t *ctx, fragment_search_t *search, const uint8_t *reads,
                           int64_t length, fragment_sink_fn sink, void *user) {
  scan_t scan{kScanPlain, nullptr, sink, user, nullptr, nullptr, 0, 0};
  scan_windows(ctx, search, reads, length, &scan);
}
