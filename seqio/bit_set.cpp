#include "seqio/bit_set.h"

#include "common/memory.h"

bit_set_t *bit_set_new(int n) {
  size_t bytes = n > 0 ? (static_cast<size_t>(n) + 7) / 8 : 0;
  return static_cast<bit_set_t *>(ryx_calloc(bytes));
}

bit_set_t *bit_set_free(bit_set_t *set) {
  ryx_free(set);
  return nullptr;
}

int bit_set_get(const bit_set_t *set, int index) {
  if (set == nullptr) return 0;
  return (set[index / 8] >> (index % 8)) & 1;
}

void bit_set_set(bit_set_t *set, int index) {
  if (set == nullptr) return;
  set[index / 8] = static_cast<bit_set_t>(set[index / 8] | (1u << (index % 8)));
}
