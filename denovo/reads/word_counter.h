// Probabilistic word counter: tables, word encoding and hashing.
//
// The counter tells how often a word (k-mer) of the reads occurs without
// storing any word. It keeps a cascade of hashed tables, each indexed by a
// multiplicative hash of the word's canonical form with its own multiplier:
//   A, B  1-bit filters of 2^d entries: the word was, with high
//         probability, seen at least twice (2-bit counters while the first
//         pass fills them);
//   C     2-bit counters of 2^d entries while a refinement pass fills it,
//         then 4-bit approximate counts of 2^(d-1) entries in the final pass;
//   U     1-bit used marks of 2^d entries, set by the fragment builder.
//
// Table bit layouts (bits counted from the least significant bit):
//   2-bit counter i: byte i / 4, bits 2 (i mod 4) and 2 (i mod 4) + 1;
//   1-bit entry i:   byte i / 8, bit i mod 8;
//   4-bit count i:   byte i / 2, bits 0-3 for even i, 4-7 for odd i.
// Every table starts at a 64-byte boundary of its allocation and at least 15
// slack bytes follow it.
//
// Words: k symbols s0..s(k-1) (codes 0-3, s0 first in the read) form the 2k-bit
// number with s0 in the most significant bits; for k <= 32 it lies in one
// 64-bit integer, above in two (high part holds the top 2k - 64 bits). The
// reverse word is the reverse complement (the plain reversal in colour
// space); the canonical word is the larger of the two.
//
// Calling order: word_counter_new, then the table steps of a build
// (word_counter_pass.h runs them), then lookups (word_counter_lookup.h)
// through per-thread clones; word_counter_clone_free for every clone before
// word_counter_free. The handle owns its table buffers; a clone shares them
// and owns only its own scan state.
#pragma once

#include <cstdint>

// The 16 table multipliers, handed out in order, one per table allocated on
// a handle.
extern const uint32_t word_hash_multipliers[16];

// One table slot.
struct counter_table_t {
  uint8_t *data;        // first 64-byte boundary inside the allocation
  uint8_t *allocation;  // owned buffer; null in a clone and in an empty slot
  uint64_t index_mask;  // entry count - 1
  uint32_t multiplier;
};

// A word in the two-part form: for k <= 32 only low is used.
struct word_value_t {
  uint64_t high;
  uint64_t low;
};

// The tables of one handle and its own per-thread state.
struct word_counter_tables_t {
  counter_table_t filter_a;     // A
  counter_table_t filter_b;     // B
  counter_table_t count_table;  // C
  // Generator of the final pass's approximate increments: a 31-bit linear
  // congruential seed feeding a bit buffer.
  uint32_t random_seed;
  uint32_t random_buffer;
  int32_t random_bits;
  // Counters of the last batch counted through this handle that reached 2
  // and 3.
  uint32_t reached_two;
  uint32_t reached_three;
  counter_table_t used_table;   // U
  uint64_t top_mask;            // bits of the most significant word part
  int32_t word_size;            // k
  int32_t top_shift;            // where a new symbol enters the top part of the reverse word
  int32_t multiplier_cursor;    // next multiplier to hand out
};

struct word_counter_t {
  word_counter_tables_t *tables;  // owned
  int32_t log_size;               // d: log2 of the filter entry count
  int32_t word_size;              // k, 1 to 64
  int32_t colour_space;           // 1: colour words, canonical by plain reversal
};

// A handle for tables of 2^d filter entries and words of k symbols (1 to
// 64), no table allocated yet, its generator seeded from the suite's seed
// source.
word_counter_t *word_counter_new(int32_t log_size, int32_t word_size);
// The same for colour-space words.
word_counter_t *word_counter_new_colour(int32_t log_size, int32_t word_size);
// A handle for one worker thread: its own state and generator (started from
// the source's seed, none drawn from the seed source), the tables' data,
// masks and multipliers shared with the source (no allocation owned).
word_counter_t *word_counter_clone(const word_counter_t *source);
// Frees a clone; the shared tables stay. Null allowed; returns null.
word_counter_t *word_counter_clone_free(word_counter_t *clone);
// Frees the tables the handle owns and the handle; every clone must be
// gone. Null allowed; returns null.
word_counter_t *word_counter_free(word_counter_t *counter);
// Bytes reported for the run's memory report: 3 (2^(d-2) + 78) + 24.
uint64_t word_counter_get_memory_size(const word_counter_t *counter);

// Table steps of a build, in order (see word_counter_pass.h for when):
// A and B as 2-bit tables of 2^d entries (multipliers at the cursor).
void word_counter_alloc_pass1_tables(word_counter_t *counter);
// A and B packed to 1-bit filters and shrunk.
void word_counter_pack_filters(word_counter_t *counter);
// C as a 2-bit table of 2^d entries with the next multiplier.
void word_counter_alloc_refine_table(word_counter_t *counter);
// C packed to a 1-bit filter and moved into A (target 0) or B (target 1),
// whose old buffer is freed; C is empty afterwards.
void word_counter_install_refine_table(word_counter_t *counter, int32_t target);
// C as a 4-bit table of 2^(d-1) entries with the next multiplier.
void word_counter_alloc_final_table(word_counter_t *counter);
// Entries of C equal to 1 cleared, C shrunk, then U allocated (all 0).
void word_counter_finish_tables(word_counter_t *counter);

// The hash of a canonical word with a table multiplier: the low 64 bits of
// the word times the multiplier folded with the higher product words. The
// same formula serves every word size (high is 0 for k <= 32).
inline uint64_t word_hash(word_value_t word, uint32_t multiplier) {
  const unsigned __int128 low = static_cast<unsigned __int128>(word.low) * multiplier;
  const unsigned __int128 high = static_cast<unsigned __int128>(word.high) * multiplier;
  const uint64_t p0 = static_cast<uint64_t>(low);
  const uint64_t low_top = static_cast<uint64_t>(low >> 64);
  const uint64_t p1 = low_top + static_cast<uint64_t>(high);
  const uint64_t p2 = static_cast<uint64_t>(high >> 64) + (p1 < low_top ? 1 : 0);
  return p0 ^ (p0 >> 40) ^ (p1 >> 56) ^ (p1 >> 16) ^ (p1 << 24) ^ (p2 << 8);
}
// Entry of a word in a table: word_hash AND the table's index mask.
inline uint64_t word_hash_index(word_value_t word, const counter_table_t *table) {
  return word_hash(word, table->multiplier) & table->index_mask;
}

// A word and its reverse word while scanning.
struct word_window_t {
  word_value_t forward;
  word_value_t reverse;
};

// Slides code c (0-3) into both forms: the forward word gains c at its low
// end, the reverse word c XOR 3 (nucleotides) or c (colours) at its high
// end. Wide is k > 32.
inline void word_window_slide(word_window_t *w, uint64_t c, uint64_t reverse_code, uint64_t top_mask,
                              int32_t top_shift, bool wide) {
  if (!wide) {
    w->forward.low = ((w->forward.low << 2) | c) & top_mask;
    w->reverse.low = (w->reverse.low >> 2) | (reverse_code << top_shift);
  } else {
    w->forward.high = ((w->forward.high << 2) | (w->forward.low >> 62)) & top_mask;
    w->forward.low = (w->forward.low << 2) | c;
    w->reverse.low = (w->reverse.low >> 2) | (w->reverse.high << 62);
    w->reverse.high = (w->reverse.high >> 2) | (reverse_code << top_shift);
  }
}

// The larger of the two forms, high parts compared first; the forward word
// when they are equal.
inline word_value_t word_window_canonical(const word_window_t *w) {
  if (w->reverse.high > w->forward.high ||
      (w->reverse.high == w->forward.high && w->reverse.low > w->forward.low))
    return w->reverse;
  return w->forward;
}

// Both forms of the word of the first k residues (each taken AND 3), for
// the handle's word size and space.
word_window_t word_counter_word_window(const word_counter_t *counter, const uint8_t *residues);
// Their canonical form.
word_value_t word_counter_canonical_word(const word_counter_t *counter, const uint8_t *residues);

// Table helpers (n = log2 of the entry count, b = bits per entry 1, 2 or 4).
// Bytes of 2^n entries of b bits.
uint64_t counter_table_byte_size(int32_t n, int32_t b);
// A zero-filled slot of 2^n entries of b bits with the handle's next
// multiplier.
void counter_table_alloc(word_counter_tables_t *tables, counter_table_t *slot, int32_t n, int32_t b);
// Shrinks a slot to 2^n entries of b bits plus slack, keeping the data's
// offset in its allocation.
void counter_table_resize(counter_table_t *slot, int32_t n, int32_t b);
// Frees the target's buffer and moves the source's data, allocation and
// multiplier into it; the source is left empty.
void counter_table_move(counter_table_t *source, counter_table_t *target);
// Copies data, index mask and multiplier, not the allocation.
void counter_table_share(const counter_table_t *source, counter_table_t *target);
// 2-bit counters to 1-bit "reached 2" bits, in place (n >= 7), with and
// without the shrink.
void counter_table_pack_2bit_to_1bit(counter_table_t *table, int32_t n);
void counter_table_pack_2bit_to_1bit_unshrunk(counter_table_t *table, int32_t n);
// Every 4-bit entry equal to 1 set to 0, in place (n >= 5), with and
// without the shrink.
void counter_table_clear_ones(counter_table_t *table, int32_t n);
void counter_table_clear_ones_unshrunk(counter_table_t *table, int32_t n);
// Free the buffers of A and B, or of C and U.
void word_counter_free_filters(word_counter_tables_t *tables);
void word_counter_free_count_tables(word_counter_tables_t *tables);
// For each value 0 to 15 the number of entries of the 4-bit table C holding
// it; returns the entry count 2^(d-1).
uint64_t word_counter_count_histogram(const word_counter_t *counter, uint64_t counts[16]);

// Next draw of the handle's generator: one of 1, 3, 5, 7, 8, ..., 14, with
// chance 1/2, 1/4, ... (14 takes what is left). An entry at v >= 2 rises
// only when v is at most the draw.
int32_t word_counter_draw(word_counter_tables_t *tables);
