#include "denovo/reads/word_counter.h"

#include <emmintrin.h>

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "denovo/reads/table_memory.h"

const uint32_t word_hash_multipliers[16] = {
    0xA0A01BFD, 0x9CB944C9, 0xFCE318E9, 0xF1EBC59B, 0x93D79645, 0xBA4DFD79, 0xFE6FB0F5, 0x90E4E18D,
    0xF0768E35, 0xFB4ABFC7, 0xBCAEA6EB, 0xCA6A0D93, 0xFB03BAA1, 0xC3D96ABB, 0xA6933143, 0x90867519,
};

namespace {

// Bytes before the 64-byte boundary at most (63) plus slack after the
// table for whole-vector reads (15).
constexpr uint64_t kTableExtraBytes = 78;
constexpr uint64_t kTableSlackBytes = 15;
// Smallest and largest filter sizes a handle accepts: the packing loops
// work on whole 16-byte output steps of 128 counters.
constexpr int32_t kMinLogSize = 7;
constexpr int32_t kMaxLogSize = 60;

word_counter_t *new_handle(int32_t log_size, int32_t word_size, int32_t colour_space, uint32_t seed) {
  if (word_size < 1 || word_size > 64) {
    fprintf(stderr, "Word size %d is outside 1 to 64\n", word_size);
    ryx_exit(1);
  }
  if (log_size < kMinLogSize || log_size > kMaxLogSize) {
    fprintf(stderr, "Word counter table size 2^%d is outside 2^%d to 2^%d\n", log_size, kMinLogSize, kMaxLogSize);
    ryx_exit(1);
  }
  auto *counter = static_cast<word_counter_t *>(ryx_calloc(sizeof(word_counter_t)));
  auto *tables = static_cast<word_counter_tables_t *>(ryx_calloc(sizeof(word_counter_tables_t)));
  counter->tables = tables;
  counter->log_size = log_size;
  counter->word_size = word_size;
  counter->colour_space = colour_space;
  const int32_t top_bits = word_size <= 32 ? 2 * word_size : 2 * word_size - 64;
  tables->top_mask = top_bits == 64 ? ~0ull : (1ull << top_bits) - 1;
  tables->top_shift = top_bits - 2;
  tables->word_size = word_size;
  tables->random_seed = seed;
  return counter;
}

void free_slot(counter_table_t *slot) {
  ryx_free(slot->allocation);
  *slot = counter_table_t{};
}

}  // namespace

word_counter_t *word_counter_new(int32_t log_size, int32_t word_size) {
  return new_handle(log_size, word_size, 0, get_seed_int());
}

word_counter_t *word_counter_new_colour(int32_t log_size, int32_t word_size) {
  return new_handle(log_size, word_size, 1, get_seed_int());
}

word_counter_t *word_counter_clone(const word_counter_t *source) {
  // The clone starts from the source's seed rather than drawing one: the
  // number of clones depends on the thread count, and every seed drawn
  // would shift the seeds handed out to whatever the run seeds later.
  word_counter_t *clone =
      new_handle(source->log_size, source->word_size, source->colour_space, source->tables->random_seed);
  const word_counter_tables_t *from = source->tables;
  word_counter_tables_t *to = clone->tables;
  counter_table_share(&from->filter_a, &to->filter_a);
  counter_table_share(&from->filter_b, &to->filter_b);
  counter_table_share(&from->count_table, &to->count_table);
  counter_table_share(&from->used_table, &to->used_table);
  return clone;
}

word_counter_t *word_counter_clone_free(word_counter_t *clone) {
  if (clone == nullptr) return nullptr;
  ryx_free(clone->tables);
  ryx_free(clone);
  return nullptr;
}

word_counter_t *word_counter_free(word_counter_t *counter) {
  if (counter == nullptr) return nullptr;
  word_counter_free_filters(counter->tables);
  word_counter_free_count_tables(counter->tables);
  ryx_free(counter->tables);
  ryx_free(counter);
  return nullptr;
}

uint64_t word_counter_get_memory_size(const word_counter_t *counter) {
  return 3 * ((1ull << (counter->log_size - 2)) + kTableExtraBytes) + 24;
}

uint64_t counter_table_byte_size(int32_t n, int32_t b) { return (1ull << n) / static_cast<uint64_t>(8 / b); }

void counter_table_alloc(word_counter_tables_t *tables, counter_table_t *slot, int32_t n, int32_t b) {
  const uint64_t bytes = counter_table_byte_size(n, b);
  slot->allocation = static_cast<uint8_t *>(ryx_calloc(bytes + kTableExtraBytes));
  // Every look-up lands at random in the table: large pages spare most of
  // them a page walk. A large block comes zero-filled from the system and
  // untouched, so the advice still applies to all of it.
  table_memory_advise_large_pages(slot->allocation, bytes + kTableExtraBytes);
  slot->data = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(slot->allocation) + 63) &
                                           ~static_cast<uintptr_t>(63));
  slot->index_mask = (1ull << n) - 1;
  // A build takes at most 8 multipliers; the list wraps rather than reading
  // past its end should a caller allocate more.
  slot->multiplier = word_hash_multipliers[tables->multiplier_cursor & 15];
  tables->multiplier_cursor++;
}

void counter_table_resize(counter_table_t *slot, int32_t n, int32_t b) {
  const uint64_t offset = static_cast<uint64_t>(slot->data - slot->allocation);
  slot->allocation =
      static_cast<uint8_t *>(ryx_realloc(slot->allocation, counter_table_byte_size(n, b) + offset + kTableSlackBytes));
  slot->data = slot->allocation + offset;
}

void counter_table_move(counter_table_t *source, counter_table_t *target) {
  ryx_free(target->allocation);
  target->data = source->data;
  target->allocation = source->allocation;
  target->multiplier = source->multiplier;
  *source = counter_table_t{};
}

void counter_table_share(const counter_table_t *source, counter_table_t *target) {
  target->data = source->data;
  target->index_mask = source->index_mask;
  target->multiplier = source->multiplier;
  target->allocation = nullptr;
}

void counter_table_pack_2bit_to_1bit_unshrunk(counter_table_t *table, int32_t n) {
  // Each step reads 32 bytes (128 counters) and writes 16 bytes behind them.
  // Per 16-bit lane of 8 counters the high bits are gathered into the low
  // byte by folding pairs.
  const __m128i m5555 = _mm_set1_epi16(0x5555);
  const __m128i m3333 = _mm_set1_epi16(0x3333);
  const __m128i m0f0f = _mm_set1_epi16(0x0F0F);
  const __m128i m00ff = _mm_set1_epi16(0x00FF);
  auto fold = [&](__m128i v) {
    v = _mm_and_si128(_mm_srli_epi16(v, 1), m5555);
    v = _mm_and_si128(_mm_or_si128(v, _mm_srli_epi16(v, 1)), m3333);
    v = _mm_and_si128(_mm_or_si128(v, _mm_srli_epi16(v, 2)), m0f0f);
    return _mm_and_si128(_mm_or_si128(v, _mm_srli_epi16(v, 4)), m00ff);
  };
  uint8_t *data = table->data;
  const uint64_t steps = 1ull << (n - 7);
  for (uint64_t s = 0; s < steps; s++) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 32 * s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 32 * s + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(data + 16 * s), _mm_packus_epi16(fold(a), fold(b)));
  }
}

void counter_table_pack_2bit_to_1bit(counter_table_t *table, int32_t n) {
  counter_table_pack_2bit_to_1bit_unshrunk(table, n);
  counter_table_resize(table, n, 1);
}

void counter_table_clear_ones_unshrunk(counter_table_t *table, int32_t n) {
  const __m128i low_nibbles = _mm_set1_epi8(0x0F);
  const __m128i one = _mm_set1_epi8(0x01);
  const __m128i high_one = _mm_set1_epi8(0x10);
  uint8_t *data = table->data;
  const uint64_t steps = 1ull << (n - 5);
  for (uint64_t s = 0; s < steps; s++) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * s));
    const __m128i low_is_one = _mm_cmpeq_epi8(_mm_and_si128(v, low_nibbles), one);
    const __m128i high_is_one = _mm_cmpeq_epi8(_mm_andnot_si128(low_nibbles, v), high_one);
    v = _mm_andnot_si128(_mm_and_si128(low_is_one, low_nibbles), v);
    v = _mm_andnot_si128(_mm_andnot_si128(low_nibbles, high_is_one), v);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(data + 16 * s), v);
  }
}

void counter_table_clear_ones(counter_table_t *table, int32_t n) {
  counter_table_clear_ones_unshrunk(table, n);
  counter_table_resize(table, n, 4);
}

void word_counter_free_filters(word_counter_tables_t *tables) {
  free_slot(&tables->filter_a);
  free_slot(&tables->filter_b);
}

void word_counter_free_count_tables(word_counter_tables_t *tables) {
  free_slot(&tables->count_table);
  free_slot(&tables->used_table);
}

void word_counter_alloc_pass1_tables(word_counter_t *counter) {
  counter_table_alloc(counter->tables, &counter->tables->filter_a, counter->log_size, 2);
  counter_table_alloc(counter->tables, &counter->tables->filter_b, counter->log_size, 2);
}

void word_counter_pack_filters(word_counter_t *counter) {
  counter_table_pack_2bit_to_1bit(&counter->tables->filter_a, counter->log_size);
  counter_table_pack_2bit_to_1bit(&counter->tables->filter_b, counter->log_size);
}

void word_counter_alloc_refine_table(word_counter_t *counter) {
  counter_table_alloc(counter->tables, &counter->tables->count_table, counter->log_size, 2);
}

void word_counter_install_refine_table(word_counter_t *counter, int32_t target) {
  word_counter_tables_t *tables = counter->tables;
  counter_table_pack_2bit_to_1bit(&tables->count_table, counter->log_size);
  counter_table_move(&tables->count_table, target == 0 ? &tables->filter_a : &tables->filter_b);
}

void word_counter_alloc_final_table(word_counter_t *counter) {
  counter_table_alloc(counter->tables, &counter->tables->count_table, counter->log_size - 1, 4);
}

void word_counter_finish_tables(word_counter_t *counter) {
  counter_table_clear_ones(&counter->tables->count_table, counter->log_size - 1);
  counter_table_alloc(counter->tables, &counter->tables->used_table, counter->log_size, 1);
}

uint64_t word_counter_count_histogram(const word_counter_t *counter, uint64_t counts[16]) {
  memset(counts, 0, 16 * sizeof(uint64_t));
  const uint64_t entries = 1ull << (counter->log_size - 1);
  const uint8_t *data = counter->tables->count_table.data;
  for (uint64_t i = 0; i < entries / 2; i++) {
    counts[data[i] & 15]++;
    counts[data[i] >> 4]++;
  }
  return entries;
}

word_window_t word_counter_word_window(const word_counter_t *counter, const uint8_t *residues) {
  const word_counter_tables_t *tables = counter->tables;
  const bool wide = counter->word_size > 32;
  word_window_t w{};
  for (int32_t i = 0; i < counter->word_size; i++) {
    const uint64_t c = residues[i] & 3;
    word_window_slide(&w, c, counter->colour_space ? c : c ^ 3, tables->top_mask, tables->top_shift, wide);
  }
  return w;
}

word_value_t word_counter_canonical_word(const word_counter_t *counter, const uint8_t *residues) {
  const word_window_t w = word_counter_word_window(counter, residues);
  return word_window_canonical(&w);
}

int32_t word_counter_draw(word_counter_tables_t *tables) {
  if (tables->random_bits <= 13) {
    tables->random_seed = (tables->random_seed * 1103515245u + 12345u) & 0x7FFFFFFFu;
    tables->random_buffer ^= tables->random_seed;
    tables->random_bits = 31;
  }
  // Bits 1, 3 and 5 are masked out and bit 13 forced, so the draw is one of
  // 1, 3, 5, 7, 8, ..., 14 and halves in chance from one to the next.
  const uint32_t x = (tables->random_buffer & 0xFFD5u) | 0xE000u;
  const int32_t c = 1 + __builtin_ctz(x);
  tables->random_buffer >>= c;
  tables->random_bits -= c;
  return c;
}
