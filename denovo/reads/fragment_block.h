// One read-store block of the fragment builder: built ahead of its turn,
// decided in block order.
//
// The fragments of a run are those of a single pass over the blocks in
// store order in which every record is decided (its words marked used, a
// new named record kept) before the next seed is tried (fragment_builder.h).
// Several workers build several blocks at once and still give that result,
// whatever their number and timing:
//   - The block in turn (the head) reads and sets the shared used marks
//     directly: every block before it is decided, so they are final.
//   - A block ahead of its turn is scanned against a view: the shared marks
//     as they stand plus the marks of its own records so far, kept aside in
//     an overlay. The scan notes, per window, what it saw, and keeps every
//     record it built. Once the overlay holds its bound, the scan builds no
//     more and only notes what it sees. Only the head sets shared marks and a mark is never
//     cleared, so a window that the shared marks called used stays used;
//     the others may have changed.
//   - When its turn comes the block is decided again from its start on the
//     shared marks, with the scan's notes as a guide: a window the scan saw
//     as used by the shared marks, or as not counted, is passed over at
//     once; a window where it built (or found a mark of its overlay, or
//     stopped building) costs one look at the shared marks, and where the seed is still free the
//     record built ahead is taken (a build depends on the counts alone);
//     windows the scan never reached (inside a fragment that is now
//     dropped, or after where it stopped) are seeded as in any scan. The
//     records are decided on the shared marks, in order.
// Marks are identified by their slot (fragment_used_slot_fn of the builder
// context): words sharing a slot share a mark, in the overlay as in the
// table.
//
// A block belongs to one thread at a time: its worker, then the thread that
// decides it in turn.
#pragma once

#include <cstdint>
#include <vector>

#include "seqio/seq_record.h"

struct fragment_builder_ctx_t;
struct fragment_search_t;
struct word_counter_t;

// A record built from the seed at a window.
struct fragment_kept_t {
  int64_t position;
  seq_record_t *record;  // null when the seed gave none
  int32_t left;          // symbols of the record before the seed
};

// Open-addressing set of slots (the overlay).
struct fragment_slot_set_t {
  std::vector<uint64_t> table;   // kEmptySlot or a slot
  int64_t count = 0;
  bool has_empty_value = false;  // holds the one slot equal to the empty marker
};

// What the scan ahead of the turn saw at a window.
enum : uint8_t {
  kFragmentSeenNothing = 0,  // not reached (inside a fragment, or past the stop)
  kFragmentSeenSettled = 1,  // unclean, not counted, or used in the shared marks
  kFragmentSeenBuilt = 2,    // counted and free: built from
  kFragmentSeenOverlay = 3,  // counted and used only through the overlay
  kFragmentSeenFree = 4,     // counted and free, not built: the overlay was full
};

struct fragment_block_t {
  int64_t sequence;                 // place among the queued blocks, from 0
  double share;                     // this block's share of its read-store block, for progress
  seq_record_t *reads;              // owned; released through its callback
  int32_t decided;                  // 1 once decided in turn (kept is final)
  int64_t seen_end;                 // windows before this were scanned ahead of the turn
  std::vector<uint8_t> seen;        // per window, kFragmentSeen*
  std::vector<fragment_kept_t> built;  // records built ahead of the turn, by window
  fragment_slot_set_t overlay;
  std::vector<fragment_kept_t> kept;   // decided: named records that brought new words, in order
};

// Scan polling: asked before the used test of every counted window of a
// scan ahead of the turn; 1 stops the scan at that window.
typedef int32_t (*fragment_poll_fn)(fragment_block_t *block, void *user);

// A block over reads (taken), nothing scanned.
fragment_block_t *fragment_block_new(int64_t sequence, seq_record_t *reads);
// Releases the reads and every record the block holds; null allowed;
// returns null.
fragment_block_t *fragment_block_free(fragment_block_t *block);

// Decides a record (taken) on the shared marks: marks its counted words from
// its first counted word not yet used on; returns the record when it is
// named and had such a word, else frees it and returns null.
seq_record_t *fragment_block_take(fragment_builder_ctx_t *ctx, word_counter_t *counter, seq_record_t *record);

// Scans the block ahead of its turn from window 0, against the shared marks
// and its overlay, noting what it sees and keeping what it builds until the
// overlay holds overlay_limit slots. Stops where poll says so; returns that
// window, or the block length.
int64_t fragment_block_scan_ahead(fragment_block_t *block, fragment_builder_ctx_t *ctx, fragment_search_t *search,
                                  int64_t overlay_limit, fragment_poll_fn poll, void *user);
// For the block in turn only: decides it from window 0 to its end on the
// shared marks (setting them), guided by what the scan ahead saw; the
// records built ahead are taken or freed, kept holds the result.
void fragment_block_decide(fragment_block_t *block, fragment_builder_ctx_t *ctx, fragment_search_t *search);

// Operations of the overlay set.
bool fragment_slot_set_contains(const fragment_slot_set_t *set, uint64_t slot);
// Adds the slot; returns false when it was there already.
bool fragment_slot_set_add(fragment_slot_set_t *set, uint64_t slot);
void fragment_slot_set_clear(fragment_slot_set_t *set);
