// Open-addressing hash map from fixed-size keys to fixed-size values, both
// copied in by value.
//
// Linear probing from the home slot hash(key) AND (slots - 1); the table
// doubles before an insert would take the load past 0.7, and removal shifts
// later entries of the probe run back, so there are no tombstones. Iteration
// visits occupied slots in ascending index, an order set by the hashes and
// the table size, not by the insertion order. Pointers to stored keys and
// values are valid until the next insert or remove. Ready-made callbacks
// exist for 4- and 8-byte integer keys and for C-string keys (8-byte keys
// that point to the strings, which the map does not own). One thread at a
// time.
//
// Stage-file piece (little-endian; for maps whose keys and values are plain
// bytes, not pointers): a presence byte (1, or 0 for an absent map and
// nothing more), the key size, value size and entry count as u64, then each
// entry in iteration order as its key bytes followed by its value bytes.
#pragma once

#include <cstdint>
#include <cstdio>

extern "C" {

// 0 when the two keys are equal.
typedef int (*generic_hash_map_equal_t)(const void *a, const void *b);
// Any 64-bit value; its low bits choose the home slot.
typedef uint64_t (*generic_hash_map_hash_t)(const void *key);

struct generic_hash_map_t {
  uint64_t count;       // keys stored
  uint64_t key_size;    // bytes per key
  uint64_t value_size;  // bytes per value
  uint64_t slot_size;   // key_size + value_size
  generic_hash_map_equal_t equal;
  generic_hash_map_hash_t hash;
  uint8_t *slots;  // 2^log2_slots slots: the key, then the value
  int32_t log2_slots;
  float load;      // count / slots after the last insert
  float max_load;  // 0.7
  uint32_t *used;  // bit (i mod 32) of word i / 32 set when slot i holds a key
};

struct generic_hash_map_iterator_t {
  void *key;           // the current entry's key, null before the first step
  void *value;         // and its value
  uint64_t next_slot;  // where the next step starts looking
  generic_hash_map_t *map;
};

// An empty map of 128 slots with maximum load 0.7.
generic_hash_map_t *generic_hash_map_new(uint64_t key_size, uint64_t value_size, generic_hash_map_equal_t equal,
                                         generic_hash_map_hash_t hash);
// The same with 2^log2_slots slots. 64 or more prints "Error: Tried to
// allocate a generic hash map with more than 9223372036854775808 bytes" on
// standard error and exits with status 1; a table beyond 2^63 bytes prints
// "Error: generic hash map out of memory" and exits with status 1.
generic_hash_map_t *generic_hash_map_new_sized(uint64_t key_size, uint64_t value_size, generic_hash_map_equal_t equal,
                                               generic_hash_map_hash_t hash, int32_t log2_slots);
// Map for 4- or 8-byte integer keys hashed by value (a 4-byte key
// sign-extended). Any other key size prints "Key size must be either 4 or 8
// bytes" on standard output and aborts.
generic_hash_map_t *generic_hash_map_new_int(uint64_t key_size, uint64_t value_size);
// Map whose keys are pointers to C strings, compared by content.
generic_hash_map_t *generic_hash_map_new_string(uint64_t value_size);
// Frees the slots, the bitmap and the map (null allowed); returns null.
generic_hash_map_t *generic_hash_map_free(generic_hash_map_t *map);

// Copies key and value into the key's slot, growing first when the load
// would pass the maximum; 1 when the key was new, 0 when its value was
// replaced.
int generic_hash_map_insert(generic_hash_map_t *map, const void *key, const void *value);
// The stored value of the key, or null.
void *generic_hash_map_find(const generic_hash_map_t *map, const void *key);
// 1 when the key is present, else 0.
int generic_hash_map_contains(const generic_hash_map_t *map, const void *key);
// Removes the key; 1 when it was present, else 0.
int generic_hash_map_remove(generic_hash_map_t *map, const void *key);
// Doubles the slots and re-inserts every entry.
void generic_hash_map_grow(generic_hash_map_t *map);
// 1 when slot holds a key.
int generic_hash_map_slot_used(const generic_hash_map_t *map, uint64_t slot);

// An iterator before the first slot; free it with
// generic_hash_map_iterator_free. The map must not change while it is used.
generic_hash_map_iterator_t *generic_hash_map_iterator_new(generic_hash_map_t *map);
// Steps to the next occupied slot and sets key and value; 0 after the last.
int generic_hash_map_iterator_next(generic_hash_map_iterator_t *iterator);
void *generic_hash_map_iterator_get_key(const generic_hash_map_iterator_t *iterator);
// Frees the iterator (null allowed); returns null.
generic_hash_map_iterator_t *generic_hash_map_iterator_free(generic_hash_map_iterator_t *iterator);

// Ready-made callbacks.
int generic_hash_map_equal_int32(const void *a, const void *b);
int generic_hash_map_equal_int64(const void *a, const void *b);
uint64_t generic_hash_map_hash_int32(const void *key);
uint64_t generic_hash_map_hash_int64(const void *key);
// Keys are const char * pointers: strcmp of the strings, and djb2 (5381,
// then h = 33 h + c over the bytes as signed chars).
int generic_hash_map_equal_string(const void *a, const void *b);
uint64_t generic_hash_map_hash_string(const void *key);

// Writes the stage-file piece of the map, or the single byte 0 for null.
void generic_hash_map_write(FILE *file, const generic_hash_map_t *map);
// Reads a piece into a new map with the given sizes and callbacks; null when
// absent. A piece that does not fit (presence byte not 0 or 1, other key or
// value size, entries missing from the file, a key stored twice) ends the
// process with a message naming generic_hash_map_read on standard error and
// status 1.
generic_hash_map_t *generic_hash_map_read(FILE *file, uint64_t key_size, uint64_t value_size,
                                          generic_hash_map_equal_t equal, generic_hash_map_hash_t hash);

}  // extern "C"
