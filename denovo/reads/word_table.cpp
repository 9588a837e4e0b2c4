// Word table: compact open-addressing hash table over packed words.
#include "denovo/reads/word_table.h"

#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/reads/table_memory.h"

namespace {

// Tables above 2^56 slots cannot exist in any address space; the bound also
// keeps the rest bits (x <= L) within one 64-bit word.
constexpr int kMaxLogSize = 56;

// Key bytes of a word table laid out for (w, L, c).
struct Layout {
  int stored_bytes;      // n
  int rest_bits;         // x
  int64_t offset_limit;  // 2^(L - x)
};

Layout layout_for(int key_bits, int log_size, int offset_bits) {
  const int key_bytes = (key_bits + 7) / 8;
  // A table with one slot per possible key needs no stored bytes at all.
  if (log_size == key_bits) offset_bits = 0;
  Layout lay;
  if (offset_bits < log_size) {
    const int stored_key_bits = key_bits - log_size + offset_bits;
    lay.stored_bytes = stored_key_bits <= 0 ? 0 : (stored_key_bits + 7) / 8;
  } else {
    lay.stored_bytes = key_bytes;
  }
  lay.rest_bits = key_bits - 8 * lay.stored_bytes;
  if (lay.rest_bits < 0) lay.rest_bits = 0;
  lay.offset_limit = int64_t{1} << (log_size - lay.rest_bits);
  return lay;
}

inline uint8_t *payload_at(const word_table_t *t, uint64_t slot) {
  return t->payloads + slot * t->payload_size;
}

inline uint8_t *stored_at(const word_table_t *t, uint64_t slot) {
  return t->keys + slot * static_cast<uint64_t>(t->stored_bytes);
}

// A slot is free when its payload equals the template; the common payload
// widths compare as one integer.
inline bool payload_is_empty(const word_table_t *t, const uint8_t *p) {
  switch (t->payload_size) {
    case 4: {
      uint32_t a, b;
      memcpy(&a, p, 4);
      memcpy(&b, t->empty, 4);
      return a == b;
    }
    case 8: {
      uint64_t a, b;
      memcpy(&a, p, 8);
      memcpy(&b, t->empty, 8);
      return a == b;
    }
    default:
      return memcmp(p, t->empty, t->payload_size) == 0;
  }
}

inline bool stored_equal(const uint8_t *a, const uint8_t *b, int n) {
  switch (n) {
    case 0:
      return true;
    case 1:
      return a[0] == b[0];
    case 2: {
      uint16_t x, y;
      memcpy(&x, a, 2);
      memcpy(&y, b, 2);
      return x == y;
    }
    case 3: {
      uint16_t x, y;
      memcpy(&x, a, 2);
      memcpy(&y, b, 2);
      return x == y && a[2] == b[2];
    }
    case 4: {
      uint32_t x, y;
      memcpy(&x, a, 4);
      memcpy(&y, b, 4);
      return x == y;
    }
    default:
      return memcmp(a, b, n) == 0;
  }
}

uint64_t low_mask(int bits) { return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1; }

// The rest R of a packed key: key bits 8n .. w-1 as an x-bit number.
inline uint64_t rest_of(const word_table_t *t, const uint8_t *key) {
  uint64_t v = 0;
  for (int i = t->stored_bytes; i < t->key_bytes; i++) v = (v << 8) | key[i];
  return v >> (8 * (t->key_bytes - t->stored_bytes) - t->rest_bits);
}

// Home slot: the hash of the stored part, with the rest bits above its
// low L - x bits.
inline uint64_t home_slot(const word_table_t *t, const uint8_t *key) {
  uint64_t h = word_table_hash_bytes(key, t->stored_bytes, t->key_bits, t->log_size);
  if (t->rest_bits > 0) h ^= rest_of(t, key) << (t->log_size - t->rest_bits);
  return h;
}

// Start of the probe block of slot p, given the hash H of its stored bytes:
// a key lies less than the offset limit e past its home slot, whose low
// bits are those of H, so when H's low bits exceed p's the probe carried
// over into the next block. Only the low L bits of the result count.
inline uint64_t probe_block_start(const word_table_t *t, uint64_t hash, uint64_t slot) {
  const uint64_t low = static_cast<uint64_t>(t->offset_limit) - 1;
  return (hash & low) > (slot & low) ? slot - static_cast<uint64_t>(t->offset_limit) : slot;
}

// Home slot of the key stored in an occupied slot.
inline uint64_t home_of_slot(const word_table_t *t, uint64_t slot) {
  const uint64_t hash =
      word_table_hash_bytes(stored_at(t, slot), t->stored_bytes, t->key_bits, t->log_size);
  const uint64_t low = static_cast<uint64_t>(t->offset_limit) - 1;
  return ((probe_block_start(t, hash, slot) & ~low) | (hash & low)) & t->position_mask;
}

// Frees a slot and moves later keys of its probe run back into the hole
// when their home allows it, so that no key is cut off from its home by a
// free slot. A key only moves closer to its home, so it stays within the
// offset limit and recoverable.
void remove_slot(word_table_t *t, uint64_t hole) {
  memcpy(payload_at(t, hole), t->empty, t->payload_size);
  t->element_count--;
  const uint64_t mask = t->position_mask;
  uint64_t slot = hole;
  for (int64_t dist = 1; dist < t->offset_limit; dist++) {
    slot = (slot + 1) & mask;
    if (payload_is_empty(t, payload_at(t, slot))) return;
    const uint64_t home = home_of_slot(t, slot);
    if (((slot - home) & mask) >= ((slot - hole) & mask)) {
      memcpy(stored_at(t, hole), stored_at(t, slot), t->stored_bytes);
      memcpy(payload_at(t, hole), payload_at(t, slot), t->payload_size);
      memcpy(payload_at(t, slot), t->empty, t->payload_size);
      hole = slot;
      dist = 0;
    }
  }
}

// One insertion attempt of a key with a non-template payload, probing from
// its home slot.
int try_insert_from(word_table_t *t, const uint8_t *key, const void *payload, uint64_t slot) {
  const uint64_t mask = t->position_mask;
  const int n = t->stored_bytes;
  for (int64_t i = 0; i < t->offset_limit; i++) {
    uint8_t *p = payload_at(t, slot);
    if (payload_is_empty(t, p)) {
      if (2 * static_cast<uint64_t>(t->element_count + 1) > t->size && t->log_size < t->key_bits)
        return 0;
      memcpy(stored_at(t, slot), key, n);
      memcpy(p, payload, t->payload_size);
      t->element_count++;
      return 1;
    }
    if (stored_equal(stored_at(t, slot), key, n)) {
      memcpy(p, payload, t->payload_size);
      return 1;
    }
    slot = (slot + 1) & mask;
  }
  return 0;
}

// Builds the header and slot arrays; the canonical flag is left null.
word_table_t *table_create(int key_bits, size_t payload_size, const void *empty, int log_size,
                           int offset_bits) {
  if (log_size < 0) log_size = 0;
  if (offset_bits < 0) offset_bits = 0;
  const Layout lay = layout_for(key_bits, log_size, offset_bits);
  size_t key_array = 0, payload_array = 0;
  if (log_size > kMaxLogSize ||
      __builtin_mul_overflow(size_t{1} << log_size, static_cast<size_t>(lay.stored_bytes),
                             &key_array) ||
      __builtin_mul_overflow(size_t{1} << log_size, payload_size, &payload_array)) {
    fprintf(stderr, "Out of memory\n");
    ryx_exit(1);
  }
  auto *t = static_cast<word_table_t *>(ryx_malloc(sizeof(word_table_t)));
  t->key_bits = key_bits;
  t->key_bytes = (key_bits + 7) / 8;
  t->payload_size = payload_size;
  t->size = uint64_t{1} << log_size;
  t->log_size = log_size;
  t->position_mask = t->size - 1;
  t->element_count = 0;
  t->offset_limit = lay.offset_limit;
  t->stored_bytes = lay.stored_bytes;
  t->rest_bits = lay.rest_bits;
  t->canonical = nullptr;
  // Arrays of at least one byte, so that no pointer handed to memcpy or
  // memcmp is null.
  t->keys = static_cast<uint8_t *>(ryx_malloc(key_array ? key_array : 1));
  t->empty = static_cast<uint8_t *>(ryx_malloc(payload_size ? payload_size : 1));
  if (payload_size > 0) memcpy(t->empty, empty, payload_size);
  t->payloads = static_cast<uint8_t *>(ryx_malloc(payload_array ? payload_array : 1));
  // Looked up at random: large pages, asked for before the fill below
  // writes the arrays.
  table_memory_advise_large_pages(t->keys, key_array);
  table_memory_advise_large_pages(t->payloads, payload_array);
  // Fill every slot with the template, doubling the filled stretch.
  if (payload_array > 0) {
    memcpy(t->payloads, t->empty, payload_size);
    size_t filled = payload_size;
    while (filled < payload_array) {
      const size_t chunk = filled < payload_array - filled ? filled : payload_array - filled;
      memcpy(t->payloads + filled, t->payloads, chunk);
      filled += chunk;
    }
  }
  return t;
}

void table_release(word_table_t *t) {
  ryx_free(t->keys);
  ryx_free(t->payloads);
  ryx_free(t->empty);
  ryx_free(t);
}

// Rebuilds the table with (w, log_size, offset_bits), moving every key in
// ascending slot order. On success the new arrays replace the old ones and
// 1 is returned; when a key does not fit the new table is discarded and
// *failed_limit_log receives log2 of its offset limit.
int rebuild(word_table_t *t, int log_size, int offset_bits, int *failed_limit_log) {
  word_table_t *fresh = table_create(t->key_bits, t->payload_size, t->empty, log_size, offset_bits);
  // The old slots are read in order, the new ones written at random: keys
  // go in batches whose new home lines are fetched before the first of
  // them is inserted, so the cache misses of a batch overlap.
  constexpr int kBatch = 16;
  const size_t key_bytes = static_cast<size_t>(t->key_bytes);
  auto *keys = static_cast<uint8_t *>(ryx_malloc(kBatch * key_bytes));
  const void *payloads[kBatch];
  uint64_t homes[kBatch];
  int pending = 0, ok = 1;
  for (uint64_t slot = 0; slot <= t->size && ok; slot++) {
    if (slot < t->size) {
      uint8_t *key = keys + pending * key_bytes;
      payloads[pending] = word_table_get_key(t, slot, key);
      if (payloads[pending] == nullptr) continue;
      homes[pending] = home_slot(fresh, key);
      __builtin_prefetch(payload_at(fresh, homes[pending]), 1);
      __builtin_prefetch(stored_at(fresh, homes[pending]), 1);
      if (++pending < kBatch) continue;
    }
    for (int i = 0; i < pending && ok; i++)
      ok = try_insert_from(fresh, keys + i * key_bytes, payloads[i], homes[i]);
    pending = 0;
  }
  ryx_free(keys);
  if (!ok) {
    *failed_limit_log = fresh->log_size - fresh->rest_bits;
    table_release(fresh);
    return 0;
  }
  std::swap(t->keys, fresh->keys);
  std::swap(t->payloads, fresh->payloads);
  t->size = fresh->size;
  t->log_size = fresh->log_size;
  t->position_mask = fresh->position_mask;
  t->element_count = fresh->element_count;
  t->offset_limit = fresh->offset_limit;
  t->stored_bytes = fresh->stored_bytes;
  t->rest_bits = fresh->rest_bits;
  table_release(fresh);
  return 1;
}

// Makes room after a failed insertion attempt: doubles the table when it
// is half full, else keeps one more key byte per slot; either way further
// key bytes are added until every key fits.
void grow(word_table_t *t) {
  int log_size = t->log_size;
  int offset_bits = t->log_size - t->rest_bits;
  int failed = 0;
  if (2 * static_cast<uint64_t>(t->element_count + 1) > t->size) {
    log_size = t->log_size + 1;
    if (rebuild(t, log_size, 4, &failed)) return;
    offset_bits = failed;
  }
  for (;;) {
    offset_bits++;
    if (rebuild(t, log_size, offset_bits, &failed)) return;
    offset_bits = failed;
  }
}

inline bool is_canonical(const word_table_t *t) { return t->canonical != nullptr && *t->canonical; }

inline int pack_for_table(const word_table_t *t, const uint8_t *symbols, word_table_key_t *key,
                          const int *positions) {
  if (is_canonical(t)) return word_table_pack_canonical(t, symbols, key);
  return word_table_pack_word(t->key_bits, symbols, key->buffer[0], positions);
}

// Key buffers for the calls that bring none: on the stack for words up to
// 256 symbols, else on the heap.
class LocalKey {
 public:
  explicit LocalKey(const word_table_t *t) {
    if (2 * t->key_bytes <= static_cast<int>(sizeof(stack_))) {
      key_.buffer[0] = stack_;
      key_.buffer[1] = stack_ + t->key_bytes;
      key_.key_bytes = t->key_bytes;
      heap_ = nullptr;
    } else {
      heap_ = word_table_key_new(t);
      key_ = *heap_;
    }
  }
  ~LocalKey() {
    if (heap_ != nullptr) {
      // Canonical packing may have swapped the buffers of the copy.
      *heap_ = key_;
      word_table_key_free(heap_);
    }
  }
  LocalKey(const LocalKey &) = delete;
  LocalKey &operator=(const LocalKey &) = delete;
  word_table_key_t *get() { return &key_; }

 private:
  uint8_t stack_[128];
  word_table_key_t key_;
  word_table_key_t *heap_;
};

}  // namespace

extern "C" {

word_table_t *word_table_new_bits(int key_bits, size_t payload_size, const void *empty,
                                  int log_size, int offset_bits) {
  return table_create(key_bits, payload_size, empty, log_size, offset_bits);
}

word_table_t *word_table_new_sized(int k, size_t payload_size, const void *empty, int canonical,
                                   int log_size) {
  word_table_t *t = word_table_new_bits(2 * k, payload_size, empty, log_size, 4);
  t->canonical = word_table_int_box_new(canonical);
  return t;
}

word_table_t *word_table_new(int k, size_t payload_size, const void *empty, int canonical) {
  return word_table_new_sized(k, payload_size, empty, canonical, 4);
}

word_table_t *word_table_new_raw_sized(int key_bits, size_t payload_size, const void *empty,
                                       int log_size) {
  return word_table_new_bits(key_bits, payload_size, empty, log_size, 4);
}

word_table_t *word_table_new_raw(int key_bits, size_t payload_size, const void *empty) {
  return word_table_new_raw_sized(key_bits, payload_size, empty, 4);
}

word_table_t *word_table_free(word_table_t *table) {
  if (table == nullptr) return nullptr;
  word_table_int_box_free(table->canonical);
  table_release(table);
  return nullptr;
}

word_table_t *word_table_free_raw(word_table_t *table) { return word_table_free(table); }

word_table_key_t *word_table_key_new(const word_table_t *table) {
  auto *key = static_cast<word_table_key_t *>(ryx_malloc(sizeof(word_table_key_t)));
  key->key_bytes = table->key_bytes;
  key->buffer[0] = static_cast<uint8_t *>(ryx_malloc(2 * static_cast<size_t>(table->key_bytes)));
  key->buffer[1] = key->buffer[0] + table->key_bytes;
  return key;
}

word_table_key_t *word_table_key_free(word_table_key_t *key) {
  if (key == nullptr) return nullptr;
  // Both buffers live in one block, which begins at the lower of the two.
  ryx_free(key->buffer[0] < key->buffer[1] ? key->buffer[0] : key->buffer[1]);
  ryx_free(key);
  return nullptr;
}

uint64_t word_table_hash_bytes(const uint8_t *stored, int n, int key_bits, int log_size) {
  if (log_size == 0 || n == 0) return 0;
  // Key bits past w are not part of the key.
  uint8_t last = stored[n - 1];
  if (8 * n > key_bits) last &= static_cast<uint8_t>(0xFF << (8 * n - key_bits));
  // E gathers the bytes, the last one in bits 8-15 and each earlier one a
  // byte higher, cycling through the byte positions of the word. The
  // xor-shift steps then make bit j of E the parity of all bits whose
  // position is a subset of j's, and F folds copies of E shifted by L so
  // that every bit of E reaches the top L bits, which are the hash.
  if (log_size <= 32) {
    uint32_t e = static_cast<uint32_t>(last) << 8;
    for (int i = 0; i < n - 1; i++) e ^= static_cast<uint32_t>(stored[i]) << (8 * ((n - i) & 3));
    e ^= (e << 1) & 0xAAAAAAAAu;
    e ^= (e << 2) & 0xCCCCCCCCu;
    e ^= (e << 4) & 0xF0F0F0F0u;
    e ^= (e << 8) & 0xFF00FF00u;
    e ^= e << 16;
    uint32_t f = e;
    for (int shift = log_size; shift < 32; shift += log_size) f ^= e << shift;
    return (f >> (32 - log_size)) & low_mask(log_size);
  }
  uint64_t e = static_cast<uint64_t>(last) << 8;
  for (int i = 0; i < n - 1; i++) e ^= static_cast<uint64_t>(stored[i]) << (8 * ((n - i) & 7));
  e ^= (e << 1) & 0xAAAAAAAAAAAAAAAAull;
  e ^= (e << 2) & 0xCCCCCCCCCCCCCCCCull;
  e ^= (e << 4) & 0xF0F0F0F0F0F0F0F0ull;
  e ^= (e << 8) & 0xFF00FF00FF00FF00ull;
  e ^= (e << 16) & 0xFFFF0000FFFF0000ull;
  e ^= e << 32;
  uint64_t f = e;
  for (int shift = log_size; shift < 64; shift += log_size) f ^= e << shift;
  return (f >> (64 - log_size)) & low_mask(log_size);
}

uint64_t word_table_hash(const word_table_t *table, const uint8_t *stored) {
  return word_table_hash_bytes(stored, table->stored_bytes, table->key_bits, table->log_size);
}

int word_table_pack_word(int key_bits, const uint8_t *symbols, uint8_t *out,
                         const int *positions) {
  const int k = key_bits / 2;
  const int full = k / 4, r = k % 4;
  if (positions == nullptr) {
    for (int b = 0; b < full; b++) {
      const uint8_t *s = symbols + 4 * b;
      if ((s[0] | s[1] | s[2] | s[3]) > 3) return 0;
      out[b] = static_cast<uint8_t>(s[0] << 6 | s[1] << 4 | s[2] << 2 | s[3]);
    }
    if (r != 0) {
      unsigned byte = 0;
      for (int i = 4 * full; i < k; i++) {
        if (symbols[i] > 3) return 0;
        byte = byte << 2 | symbols[i];
      }
      out[full] = static_cast<uint8_t>(byte << (8 - 2 * r));
    }
    return 1;
  }
  unsigned byte = 0;
  for (int i = 0; i < k; i++) {
    const uint8_t s = symbols[positions[i]];
    if (s > 3) return 0;
    byte = byte << 2 | s;
    if ((i & 3) == 3) {
      out[i / 4] = static_cast<uint8_t>(byte);
      byte = 0;
    }
  }
  if (r != 0) out[full] = static_cast<uint8_t>(byte << (8 - 2 * r));
  return 1;
}

int word_table_pack_canonical(const word_table_t *table, const uint8_t *symbols,
                              word_table_key_t *key) {
  const int k = table->key_bits / 2;
  if (!word_table_pack_word(table->key_bits, symbols, key->buffer[0], nullptr)) return 0;
  // Every symbol is 0-3 now, so its complement is s ^ 3. Reverse
  // complement symbol i is the complement of symbol k-1-i.
  uint8_t *rc = key->buffer[1];
  const int full = k / 4, r = k % 4;
  const uint8_t *last = symbols + k - 1;
  for (int b = 0; b < full; b++) {
    const uint8_t *s = last - 4 * b;
    rc[b] = static_cast<uint8_t>(((s[0] ^ 3) << 6 | (s[-1] ^ 3) << 4 | (s[-2] ^ 3) << 2 |
                                  (s[-3] ^ 3)));
  }
  if (r != 0) {
    unsigned byte = 0;
    for (int i = 4 * full; i < k; i++) byte = byte << 2 | (symbols[k - 1 - i] ^ 3);
    rc[full] = static_cast<uint8_t>(byte << (8 - 2 * r));
  }
  // Both packings are big-endian with equal zero padding, so the larger
  // byte string is the word that is larger at its first differing symbol.
  if (memcmp(rc, key->buffer[0], table->key_bytes) > 0) {
    key->buffer[1] = key->buffer[0];
    key->buffer[0] = rc;
  }
  return 1;
}

int word_table_word_span(int key_bits, const int *positions) {
  const int k = key_bits / 2;
  if (positions == nullptr || k == 0) return k;
  return positions[k - 1] + 1;
}

int64_t word_table_find_slot(const word_table_t *table, const uint8_t *key) {
  if (table->payload_size == 0) return -1;
  return word_table_find_slot_from(table, key, home_slot(table, key));
}

uint64_t word_table_home_slot(const word_table_t *table, const uint8_t *key) { return home_slot(table, key); }

void word_table_prefetch_slot(const word_table_t *table, uint64_t slot) {
  __builtin_prefetch(stored_at(table, slot));
  __builtin_prefetch(payload_at(table, slot));
}

int64_t word_table_find_slot_from(const word_table_t *table, const uint8_t *key, uint64_t home) {
  if (table->payload_size == 0) return -1;
  const uint64_t mask = table->position_mask;
  const int n = table->stored_bytes;
  uint64_t slot = home;
  // The stored bytes live in their own array: fetch their line together
  // with the payload's rather than after it.
  __builtin_prefetch(stored_at(table, slot));
  for (int64_t i = 0; i < table->offset_limit; i++) {
    if (payload_is_empty(table, payload_at(table, slot))) return -1;
    if (stored_equal(stored_at(table, slot), key, n)) return static_cast<int64_t>(slot);
    slot = (slot + 1) & mask;
  }
  return -1;
}

void *word_table_find_key(const word_table_t *table, const uint8_t *key) {
  const int64_t slot = word_table_find_slot(table, key);
  return slot < 0 ? nullptr : payload_at(table, static_cast<uint64_t>(slot));
}

int word_table_try_insert_key(word_table_t *table, const uint8_t *key, const void *payload) {
  // A template payload would read as a free slot: it removes the key.
  if (table->payload_size == 0 || payload_is_empty(table, static_cast<const uint8_t *>(payload))) {
    const int64_t slot = word_table_find_slot(table, key);
    if (slot >= 0) remove_slot(table, static_cast<uint64_t>(slot));
    return 1;
  }
  const uint64_t home = home_slot(table, key);
  // The stored bytes live in their own array: fetch their line together
  // with the payload's rather than after it.
  __builtin_prefetch(stored_at(table, home), 1);
  return try_insert_from(table, key, payload, home);
}

void word_table_insert_key(word_table_t *table, const uint8_t *key, const void *payload) {
  while (!word_table_try_insert_key(table, key, payload)) grow(table);
}

void *word_table_get_payload(const word_table_t *table, uint64_t slot) {
  uint8_t *p = payload_at(table, slot);
  return payload_is_empty(table, p) ? nullptr : p;
}

void word_table_set_payload(word_table_t *table, uint64_t slot, const void *payload) {
  uint8_t *p = payload_at(table, slot);
  if (table->payload_size == 0 || payload_is_empty(table, p)) return;
  if (payload_is_empty(table, static_cast<const uint8_t *>(payload))) {
    remove_slot(table, slot);
    return;
  }
  memcpy(p, payload, table->payload_size);
}

void *word_table_get_key(const word_table_t *table, uint64_t slot, uint8_t *out) {
  uint8_t *payload = payload_at(table, slot);
  if (table->payload_size == 0 || payload_is_empty(table, payload)) return nullptr;
  const int n = table->stored_bytes;
  const int key_bytes = table->key_bytes;
  memcpy(out, stored_at(table, slot), n);
  if (8 * n < table->key_bits) {
    // V's top x bits (L-x .. L-1) are the rest R: the home slot's high
    // bits are H's high bits xor R, and they equal those of the probe
    // block start.
    const uint64_t hash = word_table_hash_bytes(out, n, table->key_bits, table->log_size);
    const uint64_t v = hash ^ probe_block_start(table, hash, slot);
    const int log_size = table->log_size;
    for (int j = 0; j < key_bytes - n; j++) {
      const int low = log_size - 8 - 8 * j;
      uint8_t byte;
      if (low >= 0)
        byte = static_cast<uint8_t>(v >> low);
      else if (low > -8)
        byte = static_cast<uint8_t>(v << -low);  // short final group, left-aligned
      else
        byte = 0;
      out[n + j] = byte;
    }
  }
  out[key_bytes - 1] &= static_cast<uint8_t>(0xFF << (8 * key_bytes - table->key_bits));
  return payload;
}

void *word_table_get_word(const word_table_t *table, uint64_t slot, uint8_t *out) {
  void *payload = word_table_get_key(table, slot, out);
  if (payload == nullptr) return nullptr;
  // Unpack in place from the last symbol backwards: symbol i comes from
  // byte i/4 <= i, which no later step (smaller i) has overwritten yet.
  for (int i = table->key_bits / 2 - 1; i >= 0; i--)
    out[i] = static_cast<uint8_t>((out[i / 4] >> (6 - 2 * (i & 3))) & 3);
  return payload;
}

int word_table_insert_word(word_table_t *table, const uint8_t *symbols, const void *payload,
                           word_table_key_t *key, const int *positions) {
  if (!pack_for_table(table, symbols, key, positions)) return 0;
  word_table_insert_key(table, key->buffer[0], payload);
  return 1;
}

int word_table_put_word(word_table_t *table, const uint8_t *symbols, const void *payload,
                        const int *positions) {
  LocalKey key(table);
  return word_table_insert_word(table, symbols, payload, key.get(), positions);
}

int64_t word_table_find_word_slot(const word_table_t *table, const uint8_t *symbols,
                                  word_table_key_t *key, const int *positions) {
  if (!pack_for_table(table, symbols, key, positions)) return -1;
  return word_table_find_slot(table, key->buffer[0]);
}

void *word_table_find_word(const word_table_t *table, const uint8_t *symbols,
                           word_table_key_t *key, const int *positions) {
  const int64_t slot = word_table_find_word_slot(table, symbols, key, positions);
  return slot < 0 ? nullptr : payload_at(table, static_cast<uint64_t>(slot));
}

void word_table_prefetch_word(const word_table_t *table, const uint8_t *symbols, word_table_key_t *key) {
  if (table->payload_size == 0 || !pack_for_table(table, symbols, key, nullptr)) return;
  const uint64_t slot = home_slot(table, key->buffer[0]);
  __builtin_prefetch(stored_at(table, slot));
  __builtin_prefetch(payload_at(table, slot));
}

void *word_table_lookup_word(const word_table_t *table, const uint8_t *symbols,
                             const int *positions) {
  LocalKey key(table);
  return word_table_find_word(table, symbols, key.get(), positions);
}

int64_t word_table_lookup_word_slot(const word_table_t *table, const uint8_t *symbols,
                                    const int *positions) {
  LocalKey key(table);
  return word_table_find_word_slot(table, symbols, key.get(), positions);
}

void *word_table_find_int(const word_table_t *table, uint32_t word) {
  if (table->key_bits > 32) return nullptr;
  // Left-align the w bits in the B key bytes.
  const int key_bytes = table->key_bytes;
  const uint64_t v = static_cast<uint64_t>(word & low_mask(table->key_bits))
                     << (8 * key_bytes - table->key_bits);
  uint8_t key[4];
  for (int j = 0; j < key_bytes; j++) key[j] = static_cast<uint8_t>(v >> (8 * (key_bytes - 1 - j)));
  return word_table_find_key(table, key);
}

void word_table_find_all_words(const word_table_t *table, const uint8_t *symbols, int64_t length,
                               void **out, word_table_key_t *key, int step, const int *positions) {
  const int k = table->key_bits / 2;
  const int span = word_table_word_span(table->key_bits, positions);
  if (step < 1) step = 1;
  if (step == 1 && positions == nullptr && !is_canonical(table) && k <= 16) {
    // Rolling 2k-bit window; a code above 3 enters as 0 and spoils the k
    // windows that hold it.
    const uint32_t mask = static_cast<uint32_t>(low_mask(2 * k));
    uint32_t window = 0;
    int spoiled = 0;
    for (int64_t i = 0; i < length; i++) {
      uint32_t c = symbols[i];
      if (c > 3) {
        c = 0;
        spoiled = k;
      }
      window = ((window << 2) | c) & mask;
      if (i >= k - 1) out[i - k + 1] = spoiled ? nullptr : word_table_find_int(table, window);
      if (spoiled) spoiled--;
    }
    return;
  }
  for (int64_t i = 0; i + span <= length; i++)
    out[i] = i % step == 0 ? word_table_find_word(table, symbols + i, key, positions) : nullptr;
}

void word_table_print_stats(const word_table_t *table) {
  printf("Word size            %8d\n", table->key_bits);
  printf("Word size in bytes   %8d\n", table->key_bytes);
  printf("Element size         %8zd\n", static_cast<std::make_signed_t<size_t>>(table->payload_size));
  printf("Size                 %8zd\n", static_cast<std::make_signed_t<size_t>>(table->size));
  printf("Log size             %8d\n", table->log_size);
  printf("Hex size             %8zx\n", static_cast<size_t>(table->size));
  printf("Position mask        %8llx\n", static_cast<unsigned long long>(table->position_mask));
  printf("Element count        %8lld\n", static_cast<long long>(table->element_count));
  printf("Offset limit         %8lld\n", static_cast<long long>(table->offset_limit));
  printf("Blocks per word      %8d\n", table->stored_bytes);
  printf("\n");
}

void word_table_print_bits(const uint8_t *bytes, int bit_count) {
  for (int i = 0; i < bit_count; i++) {
    if (i % 8 == 0) putchar(' ');
    putchar((bytes[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0');
  }
  putchar('\n');
}

int32_t *word_table_int_box_new(int32_t value) {
  auto *box = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t)));
  *box = value;
  return box;
}

int32_t *word_table_int_box_free(int32_t *box) {
  ryx_free(box);
  return nullptr;
}

}  // extern "C"
