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

}  // namespace

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
