#include "denovo/reads/word_counter_lookup.h"

#include <cstdio>

#include "common/ryx_exit.h"

namespace {

int32_t table_bit(const counter_table_t &table, uint64_t i) {
  return (__atomic_load_n(table.data + i / 8, __ATOMIC_RELAXED) >> (i % 8)) & 1;
}

// Used marks are defined for nucleotide words only.
void require_nucleotides(const word_counter_t *counter) {
  if (counter->colour_space) {
    fputs("Not implemented\n", stderr);
    ryx_exit(1);
  }
}

// Words whose entries one step of a batch computes and fetches together:
// enough to overlap many memory waits, few enough for the line requests a
// core can keep in flight to cover most of them.
constexpr int32_t kBatchWords = 32;

// Table entries of one canonical word in A, B and C.
struct count_entries_t {
  uint64_t a, b, c;
};

inline count_entries_t count_entries(const word_counter_tables_t *tables, word_value_t x) {
  return {word_hash_index(x, &tables->filter_a), word_hash_index(x, &tables->filter_b),
          word_hash_index(x, &tables->count_table)};
}

inline void prefetch_count(const word_counter_tables_t *tables, const count_entries_t &e) {
  __builtin_prefetch(tables->filter_a.data + e.a / 8);
  __builtin_prefetch(tables->filter_b.data + e.b / 8);
  __builtin_prefetch(tables->count_table.data + e.c / 2);
}

// The count rule of word_counter_get_count on computed entries.
inline int32_t count_at(const word_counter_tables_t *tables, const count_entries_t &e) {
  if (!table_bit(tables->filter_a, e.a)) return 0;
  if (!table_bit(tables->filter_b, e.b)) return 0;
  return (tables->count_table.data[e.c / 2] >> (4 * (e.c % 2))) & 15;
}

// Slides code c into a window as word_counter_word_window does.
inline void slide(const word_counter_t *counter, word_window_t *w, uint8_t code) {
  const word_counter_tables_t *tables = counter->tables;
  const uint64_t c = code & 3;
  word_window_slide(w, c, counter->colour_space ? c : c ^ 3, tables->top_mask, tables->top_shift,
                    counter->word_size > 32);
}

// The window of the first n codes, slid in from an empty window.
inline word_window_t window_of(const word_counter_t *counter, const uint8_t *residues, int32_t n) {
  word_window_t w{};
  for (int32_t i = 0; i < n; i++) slide(counter, &w, residues[i]);
  return w;
}

}  // namespace

void word_counter_get_next_counts(word_counter_t *counter, const uint8_t *const *prefixes, int32_t n,
                                  int32_t *counts) {
  const word_counter_tables_t *tables = counter->tables;
  const int32_t k = counter->word_size;
  count_entries_t entries[kBatchWords];
  constexpr int32_t kPrefixesPerStep = kBatchWords / 4;
  for (int32_t first = 0; first < n; first += kPrefixesPerStep) {
    const int32_t last = first + kPrefixesPerStep < n ? first + kPrefixesPerStep : n;
    int32_t e = 0;
    for (int32_t i = first; i < last; i++) {
      const word_window_t prefix = window_of(counter, prefixes[i], k - 1);
      for (uint8_t x = 0; x < 4; x++) {
        word_window_t w = prefix;
        slide(counter, &w, x);
        entries[e] = count_entries(tables, word_window_canonical(&w));
        prefetch_count(tables, entries[e]);
        e++;
      }
    }
    for (int32_t j = 0; j < e; j++) counts[4 * first + j] = count_at(tables, entries[j]);
  }
}

void word_counter_get_counts(word_counter_t *counter, const uint8_t *const *words, int32_t n, int32_t *counts) {
  const word_counter_tables_t *tables = counter->tables;
  const int32_t k = counter->word_size;
  count_entries_t entries[kBatchWords];
  for (int32_t first = 0; first < n; first += kBatchWords) {
    const int32_t last = first + kBatchWords < n ? first + kBatchWords : n;
    for (int32_t i = first; i < last; i++) {
      const word_window_t w = window_of(counter, words[i], k);
      entries[i - first] = count_entries(tables, word_window_canonical(&w));
      prefetch_count(tables, entries[i - first]);
    }
    for (int32_t i = first; i < last; i++) counts[i] = count_at(tables, entries[i - first]);
  }
}

void word_counter_used_slots(word_counter_t *counter, const uint8_t *residues, int64_t words, uint64_t *slots) {
  require_nucleotides(counter);
  if (words <= 0) return;
  const counter_table_t *used = &counter->tables->used_table;
  const int32_t k = counter->word_size;
  word_window_t w = window_of(counter, residues, k - 1);
  for (int64_t p = 0; p < words; p++) {
    slide(counter, &w, residues[p + k - 1]);
    slots[p] = word_hash_index(word_window_canonical(&w), used);
    __builtin_prefetch(used->data + slots[p] / 8);
  }
}

int32_t word_counter_get_count(word_counter_t *counter, const uint8_t *residues) {
  const word_counter_tables_t *tables = counter->tables;
  const word_value_t x = word_counter_canonical_word(counter, residues);
  if (!table_bit(tables->filter_a, word_hash_index(x, &tables->filter_a))) return 0;
  if (!table_bit(tables->filter_b, word_hash_index(x, &tables->filter_b))) return 0;
  const uint64_t i = word_hash_index(x, &tables->count_table);
  return (tables->count_table.data[i / 2] >> (4 * (i % 2))) & 15;
}

int32_t word_counter_is_used(word_counter_t *counter, const uint8_t *residues) {
  return word_counter_slot_is_used(counter, word_counter_used_slot(counter, residues));
}

void word_counter_mark_used(word_counter_t *counter, const uint8_t *residues) {
  word_counter_mark_slot_used(counter, word_counter_used_slot(counter, residues));
}

uint64_t word_counter_used_slot(word_counter_t *counter, const uint8_t *residues) {
  require_nucleotides(counter);
  return word_hash_index(word_counter_canonical_word(counter, residues), &counter->tables->used_table);
}

int32_t word_counter_slot_is_used(word_counter_t *counter, uint64_t slot) {
  return table_bit(counter->tables->used_table, slot);
}

void word_counter_mark_slot_used(word_counter_t *counter, uint64_t slot) {
  const counter_table_t &used = counter->tables->used_table;
  __atomic_fetch_or(used.data + slot / 8, static_cast<uint8_t>(1u << (slot % 8)), __ATOMIC_RELAXED);
}

int32_t word_counter_is_repeated(word_counter_t *counter, const uint8_t *residues) {
  require_nucleotides(counter);
  const word_counter_tables_t *tables = counter->tables;
  const word_value_t x = word_counter_canonical_word(counter, residues);
  return table_bit(tables->filter_a, word_hash_index(x, &tables->filter_a)) &&
         table_bit(tables->filter_b, word_hash_index(x, &tables->filter_b));
}
