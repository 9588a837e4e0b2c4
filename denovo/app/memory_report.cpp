#include "denovo/app/memory_report.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

uint64_t bit_field_bytes(const bit_field_array_t *array) {
  if (array == nullptr || array->count == 0) return 0;
  return (array->count - 1) * array->width / 8;
}

void write_line(FILE *file, const char *label, uint64_t bytes) {
  fprintf(file, "%s: %lluB (%fMB)\n", label, static_cast<unsigned long long>(bytes), static_cast<double>(bytes) / kMiB);
}

}  // namespace

memory_report_read_table_t memory_report_measure_read_table(const read_table_t *table) {
  memory_report_read_table_t m{0, 0, 0, 0};
  if (table == nullptr) return m;
  if (const read_info_t *info = table->read_info; info != nullptr) {
    m.read_info = bit_field_bytes(info->offsets) + bit_field_bytes(info->occurrences) +
                  bit_field_bytes(info->reverse_order) + 4 * info->count + 200;
  }
  if (table->pair_dist_info != nullptr) {
    for (int32_t f = 0; f < table->file_count; f++) {
      if (const pair_dist_info_t *h = table->pair_dist_info[f]; h != nullptr) {
        m.pair_dist_info += 8 * static_cast<uint64_t>(h->radius) + 64;
      }
    }
  }
  if (const read_pair_info_t *pairs = table->read_pair_info; pairs != nullptr) {
    const uint64_t n = pairs->count;
    m.read_pair_info = 24 * n + 40 + (pairs->by_end2 != nullptr ? 24 * n : 0);
  }
  if (const end_info_t *ends = table->end_info; ends != nullptr) {
    for (int32_t r = 0; r < ends->count; r++) m.end_info += 32 + static_cast<uint64_t>(ends->records[r].symbol_count);
  }
  return m;
}

void memory_report_write_hash_table(FILE *file, const word_counter_t *counter) {
  if (file == nullptr) return;
  const uint64_t bytes = counter != nullptr ? word_counter_get_memory_size(counter) : 0;
  fprintf(file, "HASH TABLE (deleted after fragments has been created):\n");
  write_line(file, "3x hash table size", bytes);
  fprintf(file, "\n");
}

void memory_report_write_read_table(FILE *file, const read_table_t *table) {
  if (file == nullptr) return;
  const memory_report_read_table_t m = memory_report_measure_read_table(table);
  fprintf(file, "READ_TABLE:\n");
  write_line(file, "read info", m.read_info);
  write_line(file, "pair dist info", m.pair_dist_info);
  write_line(file, "read pair info", m.read_pair_info);
  write_line(file, "end info", m.end_info);
  fprintf(file, "\n");
}
