// Generic hash map: linear probing, growth at the load limit,
// backward-shift deletion, and its stage-file piece.
#include "denovo/reads/generic_hash_map.h"

#include <cstdlib>
#include <cstring>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

constexpr int32_t kDefaultLog2Slots = 7;
constexpr float kMaxLoad = 0.7f;
constexpr unsigned long long kMaxBytes = 9223372036854775808ULL;  // 2^63

inline uint64_t slot_count(const generic_hash_map_t *map) { return UINT64_C(1) << map->log2_slots; }

inline uint8_t *slot_at(const generic_hash_map_t *map, uint64_t slot) { return map->slots + slot * map->slot_size; }

inline bool used(const generic_hash_map_t *map, uint64_t slot) { return (map->used[slot / 32] >> (slot % 32)) & 1; }

inline void mark(generic_hash_map_t *map, uint64_t slot) { map->used[slot / 32] |= UINT32_C(1) << (slot % 32); }

inline void unmark(generic_hash_map_t *map, uint64_t slot) { map->used[slot / 32] &= ~(UINT32_C(1) << (slot % 32)); }

[[noreturn]] void too_large() {
  fprintf(stderr, "Error: Tried to allocate a generic hash map with more than %llu bytes\n", kMaxBytes);
  ryx_exit(1);
}

[[noreturn]] void out_of_memory() {
  fprintf(stderr, "Error: generic hash map out of memory\n");
  ryx_exit(1);
}

// Slot of the key, or where it would go: *found tells which. Returns false
// after a full circle without a free or equal slot.
bool probe(const generic_hash_map_t *map, const void *key, uint64_t *slot, bool *found) {
  const uint64_t mask = slot_count(map) - 1;
  const uint64_t home = map->hash(key) & mask;
  uint64_t i = home;
  do {
    if (!used(map, i)) {
      *slot = i;
      *found = false;
      return true;
    }
    if (map->equal(slot_at(map, i), key) == 0) {
      *slot = i;
      *found = true;
      return true;
    }
    i = (i + 1) & mask;
  } while (i != home);
  return false;
}

[[noreturn]] void bad_piece(const char *format, unsigned long long a, unsigned long long b = 0) {
  fprintf(stderr, "generic_hash_map_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

}  // namespace

generic_hash_map_t *generic_hash_map_new_sized(uint64_t key_size, uint64_t value_size, generic_hash_map_equal_t equal,
                                               generic_hash_map_hash_t hash, int32_t log2_slots) {
  if (log2_slots >= 64) too_large();
  const uint64_t slot_size = key_size + value_size;
  // The table size is computed in 128 bits so that it cannot wrap.
  if ((static_cast<unsigned __int128>(slot_size) << log2_slots) > kMaxBytes) out_of_memory();
  const uint64_t slots = UINT64_C(1) << log2_slots;
  auto *map = static_cast<generic_hash_map_t *>(ryx_malloc(sizeof(generic_hash_map_t)));
  map->count = 0;
  map->key_size = key_size;
  map->value_size = value_size;
  map->slot_size = slot_size;
  map->equal = equal;
  map->hash = hash;
  map->slots = static_cast<uint8_t *>(ryx_malloc(slots * slot_size));
  map->log2_slots = log2_slots;
  map->load = 0.0f;
  map->max_load = kMaxLoad;
  map->used = static_cast<uint32_t *>(ryx_calloc((slots / 32 + 1) * sizeof(uint32_t)));
  return map;
}

generic_hash_map_t *generic_hash_map_new(uint64_t key_size, uint64_t value_size, generic_hash_map_equal_t equal,
                                         generic_hash_map_hash_t hash) {
  return generic_hash_map_new_sized(key_size, value_size, equal, hash, kDefaultLog2Slots);
}

generic_hash_map_t *generic_hash_map_new_int(uint64_t key_size, uint64_t value_size) {
  if (key_size == 4) {
    return generic_hash_map_new(4, value_size, generic_hash_map_equal_int32, generic_hash_map_hash_int32);
  }
  if (key_size == 8) {
    return generic_hash_map_new(8, value_size, generic_hash_map_equal_int64, generic_hash_map_hash_int64);
  }
  printf("Key size must be either 4 or 8 bytes");
  fflush(stdout);
  abort();
}

generic_hash_map_t *generic_hash_map_new_string(uint64_t value_size) {
  return generic_hash_map_new(sizeof(const char *), value_size, generic_hash_map_equal_string,
                              generic_hash_map_hash_string);
}

generic_hash_map_t *generic_hash_map_free(generic_hash_map_t *map) {
  if (map == nullptr) return nullptr;
  ryx_free(map->slots);
  ryx_free(map->used);
  ryx_free(map);
  return nullptr;
}

int generic_hash_map_slot_used(const generic_hash_map_t *map, uint64_t slot) { return used(map, slot) ? 1 : 0; }

int generic_hash_map_insert(generic_hash_map_t *map, const void *key, const void *value) {
  // The key counts as new here even when it only replaces a value.
  if (static_cast<float>(map->count + 1) / static_cast<float>(slot_count(map)) > map->max_load) {
    generic_hash_map_grow(map);
  }
  uint64_t slot;
  bool found;
  if (!probe(map, key, &slot, &found)) {
    if (map->max_load >= 1.0f) {
      fprintf(stderr, "Error: Hash map does not support a load threshold >= 1.0\n");
    } else {
      fprintf(stderr, "Error: Hash map full. Could not insert key in hash map.\n");
    }
    ryx_exit(1);
  }
  uint8_t *p = slot_at(map, slot);
  memcpy(p, key, map->key_size);
  memcpy(p + map->key_size, value, map->value_size);
  if (!found) {
    mark(map, slot);
    map->count++;
  }
  map->load = static_cast<float>(map->count) / static_cast<float>(slot_count(map));
  return found ? 0 : 1;
}

void *generic_hash_map_find(const generic_hash_map_t *map, const void *key) {
  uint64_t slot;
  bool found;
  if (!probe(map, key, &slot, &found) || !found) return nullptr;
  return slot_at(map, slot) + map->key_size;
}

int generic_hash_map_contains(const generic_hash_map_t *map, const void *key) {
  return generic_hash_map_find(map, key) != nullptr ? 1 : 0;
}

int generic_hash_map_remove(generic_hash_map_t *map, const void *key) {
  uint64_t hole;
  bool found;
  if (!probe(map, key, &hole, &found) || !found) return 0;
  unmark(map, hole);
  map->count--;
  // Walk the rest of the probe run. An entry may fill the hole unless its
  // home lies cyclically after the hole and at or before its own slot:
  // moving it there would put it before its home, out of its probe's reach.
  const uint64_t mask = slot_count(map) - 1;
  for (uint64_t j = (hole + 1) & mask; used(map, j); j = (j + 1) & mask) {
    const uint64_t home = map->hash(slot_at(map, j)) & mask;
    const uint64_t home_after_hole = (home - hole) & mask;
    const uint64_t j_after_hole = (j - hole) & mask;
    if (home_after_hole != 0 && home_after_hole <= j_after_hole) continue;
    memcpy(slot_at(map, hole), slot_at(map, j), map->slot_size);
    mark(map, hole);
    unmark(map, j);
    hole = j;
  }
  return 1;
}

void generic_hash_map_grow(generic_hash_map_t *map) {
  if ((static_cast<unsigned __int128>(map->slot_size) << map->log2_slots) > kMaxBytes) out_of_memory();
  if (map->log2_slots + 1 >= 64) too_large();
  generic_hash_map_t *bigger =
      generic_hash_map_new_sized(map->key_size, map->value_size, map->equal, map->hash, map->log2_slots + 1);
  const uint64_t slots = slot_count(map);
  for (uint64_t i = 0; i < slots; i++) {
    if (!used(map, i)) continue;
    const uint8_t *p = slot_at(map, i);
    generic_hash_map_insert(bigger, p, p + map->key_size);
  }
  ryx_free(map->slots);
  ryx_free(map->used);
  map->slots = bigger->slots;
  map->used = bigger->used;
  map->count = bigger->count;
  map->log2_slots = bigger->log2_slots;
  map->load = bigger->load;
  ryx_free(bigger);
}

generic_hash_map_iterator_t *generic_hash_map_iterator_new(generic_hash_map_t *map) {
  auto *it = static_cast<generic_hash_map_iterator_t *>(ryx_malloc(sizeof(generic_hash_map_iterator_t)));
  it->key = nullptr;
  it->value = nullptr;
  it->next_slot = 0;
  it->map = map;
  return it;
}

int generic_hash_map_iterator_next(generic_hash_map_iterator_t *it) {
  const generic_hash_map_t *map = it->map;
  const uint64_t slots = slot_count(map);
  uint64_t i = it->next_slot;
  while (i < slots) {
    // Whole empty bitmap words are skipped at once.
    const uint32_t bits = map->used[i / 32] >> (i % 32);
    if (bits == 0) {
      i = (i / 32 + 1) * 32;
      continue;
    }
    i += static_cast<uint64_t>(__builtin_ctz(bits));
    if (i >= slots) break;
    uint8_t *p = slot_at(map, i);
    it->key = p;
    it->value = p + map->key_size;
    it->next_slot = i + 1;
    return 1;
  }
  it->next_slot = slots;
  return 0;
}

void *generic_hash_map_iterator_get_key(const generic_hash_map_iterator_t *it) { return it->key; }

generic_hash_map_iterator_t *generic_hash_map_iterator_free(generic_hash_map_iterator_t *it) {
  ryx_free(it);
  return nullptr;
}

int generic_hash_map_equal_int32(const void *a, const void *b) {
  int32_t x, y;
  memcpy(&x, a, 4);
  memcpy(&y, b, 4);
  return x == y ? 0 : 1;
}

int generic_hash_map_equal_int64(const void *a, const void *b) {
  int64_t x, y;
  memcpy(&x, a, 8);
  memcpy(&y, b, 8);
  return x == y ? 0 : 1;
}

uint64_t generic_hash_map_hash_int32(const void *key) {
  int32_t x;
  memcpy(&x, key, 4);
  return static_cast<uint64_t>(static_cast<int64_t>(x));
}

uint64_t generic_hash_map_hash_int64(const void *key) {
  uint64_t x;
  memcpy(&x, key, 8);
  return x;
}

int generic_hash_map_equal_string(const void *a, const void *b) {
  const char *x;
  const char *y;
  memcpy(&x, a, sizeof x);
  memcpy(&y, b, sizeof y);
  return strcmp(x, y);
}

uint64_t generic_hash_map_hash_string(const void *key) {
  const char *s;
  memcpy(&s, key, sizeof s);
  uint64_t h = 5381;
  for (; *s != '\0'; s++) h = h * 33 + static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(*s)));
  return h;
}

void generic_hash_map_write(FILE *file, const generic_hash_map_t *map) {
  if (map == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u64(file, map->key_size);
  bin_file_write_u64(file, map->value_size);
  bin_file_write_u64(file, map->count);
  const uint64_t slots = slot_count(map);
  for (uint64_t i = 0; i < slots; i++) {
    if (used(map, i)) large_file_write(slot_at(map, i), map->slot_size, file);
  }
}

generic_hash_map_t *generic_hash_map_read(FILE *file, uint64_t key_size, uint64_t value_size,
                                          generic_hash_map_equal_t equal, generic_hash_map_hash_t hash) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("presence byte is %llu, not 0 or 1", present);
  const uint64_t stored_key_size = bin_file_read_u64(file);
  const uint64_t stored_value_size = bin_file_read_u64(file);
  const uint64_t count = bin_file_read_u64(file);
  if (stored_key_size != key_size) bad_piece("key size %llu, expected %llu", stored_key_size, key_size);
  if (stored_value_size != value_size) bad_piece("value size %llu, expected %llu", stored_value_size, value_size);
  const uint64_t slot_size = key_size + value_size;
  uint64_t bytes;
  const int64_t left = large_file_bytes_left(file);
  if (__builtin_mul_overflow(count, slot_size, &bytes))
    bad_piece("%llu entries of %llu bytes cannot exist", count, slot_size);
  if (left >= 0 && bytes > static_cast<uint64_t>(left)) {
    bad_piece("%llu entries do not fit in the %llu bytes left in the file", count, static_cast<uint64_t>(left));
  }
  generic_hash_map_t *map = generic_hash_map_new(key_size, value_size, equal, hash);
  auto *entry = static_cast<uint8_t *>(ryx_malloc(slot_size));
  for (uint64_t i = 0; i < count; i++) {
    if (large_file_read(entry, slot_size, file) != slot_size) {
      bad_piece("the file ends in entry %llu of %llu", i, count);
    }
    if (generic_hash_map_insert(map, entry, entry + key_size) == 0) {
      bad_piece("entry %llu repeats an earlier key", i);
    }
  }
  ryx_free(entry);
  return map;
}
