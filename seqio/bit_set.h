// Plain bit set: an owned array of (n + 7) / 8 bytes for n bits; bit i is bit
// i mod 8 (lowest first) of byte i / 8. No operation checks indexes.
#pragma once

#include <cstdint>

typedef uint8_t bit_set_t;

// New set of n bits, all 0 (no bytes for n <= 0).
bit_set_t *bit_set_new(int n);
// Frees the set (null allowed); returns null.
bit_set_t *bit_set_free(bit_set_t *set);
// Bit index, 0 for a null set.
int bit_set_get(const bit_set_t *set, int index);
// Sets bit index; nothing for a null set.
void bit_set_set(bit_set_t *set, int index);
