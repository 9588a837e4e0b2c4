// Result slots of the hash mapper: the best hits of one read collected over
// every block and seed level, and their compact byte encoding in the
// temporary batch files.
//
// A slot (alignment_info_t) keeps the best score and best ungapped
// pre-score seen so far, the number of hits found with the best score (the
// hit count) and a sample of those hits. With report limit R a slot
// normally stores min(hit count, R) hits; while the over-full flag is set it
// stores every hit it counted. Hits, their code bytes, the pointer array and
// reverse complements live in the arena of the batch that holds the slot and
// go with it; slot operations therefore take that batch, and the random
// draws of replacement and reduction come from the batch's own generator.
//
// Encoded slot (numbers by limit: the fewest bytes that hold limit - 1,
// little-endian; flex numbers of common/bin_codec.h):
//   hit count (flex; 0 alone is an empty slot), flags (u8: bit 0 over-full,
//   bit 6 scores only: the count field then holds 1 and stands for 0), best
//   score (limit read length + 1), best pre-score (same limit, only when the
//   context stores pre-scores), then every stored hit: reference index
//   (limit reference count), offset (limit longest reference length), flags
//   (u8), code length (flex) and the code bytes.
//
// Slots are handed from stage to stage with their batch; no operation here
// locks anything.
#pragma once

#include <cstdint>

struct array_list_t;
struct chunk_arena_t;
struct map_context_t;
struct read_batch_t;
struct seq_record_t;

// Slot flags.
constexpr uint8_t kAlignmentInfoOverFull = 0x01;
// Only in the encoded form: a slot with scores but without hits.
constexpr uint8_t kAlignmentInfoScoresOnly = 0x40;
// Hit flags.
constexpr uint8_t kAlignmentHitReverse = 0x01;

// One stored hit.
struct alignment_hit_t {
  int32_t sequence;       // reference sequence index
  int32_t offset;         // offset of the alignment start in the sequence
  uint8_t *code;          // alignment code bytes (in the batch arena)
  int32_t code_length;
  int32_t code_capacity;  // bytes the code buffer can hold, for in-place replacement
  uint8_t flags;          // kAlignmentHitReverse
};

// One result slot.
struct alignment_info_t {
  seq_record_t *read;              // shared by a read's single and pair slot; null for an absent read
  seq_record_t *reverse;           // reverse complement, single slot only (batch arena)
  int32_t read_index;              // index in the read source, also for an absent read
  int32_t best_score;
  int32_t best_prescore;
  int32_t hit_count;               // hits seen with the best score, stored or not
  alignment_hit_t **hits;          // stored hits (batch arena); capacity the next power of two
  int32_t stored;                  // entries of hits in use
  uint8_t flags;                   // kAlignmentInfoOverFull
};

// Hits that the slot reports and encodes: every counted hit while over-full,
// else min(hit count, R) (never more than it holds).
int32_t alignment_info_stored_count(const alignment_info_t *slot, int32_t report_limit);

// A better score s drops the hits (count 0, over-full cleared); the best
// score becomes s when s is higher.
void alignment_info_raise_score(alignment_info_t *slot, int32_t score);
// A better pre-score p drops the hits and the best score; the best pre-score
// becomes p when p is higher.
void alignment_info_raise_prescore(alignment_info_t *slot, int32_t prescore);
// Hit count 0, over-full cleared; the scores stay.
void alignment_info_clear(alignment_info_t *slot);
// Copies hit and its code into the batch arena and appends it; the slot
// becomes over-full when it then holds more than R hits; count + 1.
void alignment_info_add_hit(read_batch_t *batch, alignment_info_t *slot, const alignment_hit_t *hit,
                            int32_t report_limit);
// Below R hits: adds. Otherwise overwrites a stored hit in place (count + 1),
// the one at *shared_index; a negative *shared_index is first drawn
// uniformly from [0, R) (0 when R < 2) and kept, so that the caller can
// replace the same place in a partner slot. An over-full slot is reduced
// first.
void alignment_info_replace_hit(read_batch_t *batch, alignment_info_t *slot, const alignment_hit_t *hit,
                                int32_t report_limit, int32_t *shared_index);
// Counts a hit without storing it. An over-full slot is reduced first, so
// that an over-full slot always holds every hit it counts.
void alignment_info_count_hit(read_batch_t *batch, alignment_info_t *slot, int32_t report_limit);
// Over-full slots only: a uniform random choice of R of its hits moves to
// the front (partial Fisher-Yates with the batch generator) and the flag
// clears; other slots are left alone. An over-full slot holding fewer than R
// hits prints "alignment_info_reduce error\n" and ends the process with
// status 1.
void alignment_info_reduce(read_batch_t *batch, alignment_info_t *slot, int32_t report_limit);

// Moves source into target (a slot of target_batch): the read pointer
// (taken from the source), the reverse complement and the stored hits copied
// into the target arena, scores, count, flags and read index. The source is
// left empty, keeping only its read index.
void alignment_info_move(read_batch_t *target_batch, alignment_info_t *target, alignment_info_t *source);
// A copy of hit and its code bytes in the arena.
alignment_hit_t *alignment_hit_copy(chunk_arena_t *arena, const alignment_hit_t *hit);

// Appends the encoded slot to bytes (an array list of 1-byte items). A slot
// without a read encodes as empty.
void alignment_info_encode(const map_context_t *context, const alignment_info_t *slot, array_list_t *bytes);
// Appends one encoded hit.
void alignment_hit_encode(const map_context_t *context, const alignment_hit_t *hit, array_list_t *bytes);
// Decodes one slot from bytes[*cursor] (at most end) into slot, whose read
// and read index are already set; hits go to the batch arena. Bytes that run
// out before the slot ends, or a slot with hits for an absent read, print
// "Error reading temporary file\n" and end the process with status 1.
void alignment_info_decode(const map_context_t *context, read_batch_t *batch, alignment_info_t *slot,
                           const uint8_t *bytes, int32_t *cursor, int32_t end);
// Decodes one hit into hit, its code bytes into the arena; same failure.
void alignment_hit_decode(const map_context_t *context, chunk_arena_t *arena, alignment_hit_t *hit,
                          const uint8_t *bytes, int32_t *cursor, int32_t end);
