// Compact hash table from words (k nucleotide codes at 2 bits each, so
// w = 2k key bits) to fixed-size payloads.
//
// Only the first n bytes of each packed key are kept in its slot; the
// remaining x = w - 8n key bits are folded into the home slot index and
// rebuilt from the slot position. Linear probing is bounded by the offset
// limit 2^(L - x) so that a key always lies in the probe block that starts
// at its home slot, which is what makes the rebuild possible. The table
// grows by doubling when half full, and by keeping one more key byte per
// slot (allowing 256 times longer probes) when a probe run gets too long.
//
// Packed key: B = (w + 7) / 8 bytes, symbol i in bits 7-2(i mod 4) and
// 6-2(i mod 4) of byte i/4, bits past w zero.
//
// A slot is free when its payload equals the empty template, so a payload
// equal to the template cannot be stored: storing it removes the key.
//
// Lookups may run in many threads at once on a table that none modifies,
// each with its own word_table_key_t; insertions need exclusive access.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct word_table_t {
  int32_t key_bits;        // w: 2k for a table of k-symbol words
  int32_t key_bytes;       // B = (w + 7) / 8
  size_t payload_size;     // bytes per payload
  uint64_t size;           // slots, 2^L
  int32_t log_size;        // L
  uint64_t position_mask;  // size - 1
  int64_t element_count;   // keys stored
  int64_t offset_limit;    // longest probe run, 2^(L - x)
  int32_t stored_bytes;    // n: bytes of each key kept in its slot
  uint8_t *keys;           // n bytes per slot; undefined in free slots
  uint8_t *payloads;       // payload_size bytes per slot
  uint8_t *empty;          // the empty template, payload_size bytes
  int32_t *canonical;      // boxed flag (null for raw tables): 1 stores
                           // each word as the larger of it and its
                           // reverse complement
  int32_t rest_bits;       // x = w - 8n when positive, else 0
};

// Scratch key buffers of one thread: buffer[0] receives the packed key
// (canonical packing may swap the two buffers), buffer[1] the reverse
// complement. Reused across lookups; one per thread.
struct word_table_key_t {
  uint8_t *buffer[2];
  int32_t key_bytes;
};

// Table for k-symbol words (w = 2k) with 16 slots; every payload starts as
// a copy of the template. The canonical flag is boxed and owned by the
// table. Ends the process like word_table_new_bits.
word_table_t *word_table_new(int k, size_t payload_size, const void *empty, int canonical);
// word_table_new with 2^log_size slots.
word_table_t *word_table_new_sized(int k, size_t payload_size, const void *empty, int canonical,
                                   int log_size);
// Table over w-bit keys without a canonical flag, 16 slots or 2^log_size.
word_table_t *word_table_new_raw(int key_bits, size_t payload_size, const void *empty);
word_table_t *word_table_new_raw_sized(int key_bits, size_t payload_size, const void *empty,
                                       int log_size);
// The underlying constructor: 2^log_size slots laid out for offset_bits
// (c). Prints "Out of memory\n" and exits with status 1 when the slot
// arrays would exceed the address space; an allocation that fails exits
// with 69 in ryx_malloc.
word_table_t *word_table_new_bits(int key_bits, size_t payload_size, const void *empty,
                                  int log_size, int offset_bits);
// Frees the table with its flag box, arrays and template; accepts null and
// returns null. word_table_free_raw is the same for tables without a flag.
word_table_t *word_table_free(word_table_t *table);
word_table_t *word_table_free_raw(word_table_t *table);

// Scratch key buffers sized for the table; the free accepts null and
// returns null.
word_table_key_t *word_table_key_new(const word_table_t *table);
word_table_key_t *word_table_key_free(word_table_key_t *key);

// Packs the word (canonically when the flag is set, else through the
// position list when one is given) and inserts it or replaces its payload,
// growing the table as needed. Returns 0, storing nothing, when a symbol is
// not 0-3, else 1. Payload pointers taken before are invalid afterwards.
int word_table_insert_word(word_table_t *table, const uint8_t *symbols, const void *payload,
                           word_table_key_t *key, const int *positions);
// word_table_insert_word with key buffers of its own.
int word_table_put_word(word_table_t *table, const uint8_t *symbols, const void *payload,
                        const int *positions);
// Payload pointer of the word; null when absent or when a symbol is not 0-3.
void *word_table_find_word(const word_table_t *table, const uint8_t *symbols,
                           word_table_key_t *key, const int *positions);
// Starts loading the home slot of the word into the cache, so that a
// lookup or insertion of it shortly afterwards does not wait for memory.
// Packs the word into key; does nothing else (a word with a symbol above 3
// is ignored).
void word_table_prefetch_word(const word_table_t *table, const uint8_t *symbols, word_table_key_t *key);
// word_table_find_word with key buffers of its own.
void *word_table_lookup_word(const word_table_t *table, const uint8_t *symbols,
                             const int *positions);
// Slot index of the word; -1 when absent or when a symbol is not 0-3.
int64_t word_table_find_word_slot(const word_table_t *table, const uint8_t *symbols,
                                  word_table_key_t *key, const int *positions);
int64_t word_table_lookup_word_slot(const word_table_t *table, const uint8_t *symbols,
                                    const int *positions);
// Looks up every word of a sequence of length codes. out has one entry per
// start i with i + span <= length: the payload of the word starting at i
// when i is a multiple of step, else null. Without positions or canonical
// flag, with step 1 and k <= 16 a rolling window is used instead, which
// gives null for windows holding a code above 3.
void word_table_find_all_words(const word_table_t *table, const uint8_t *symbols, int64_t length,
                               void **out, word_table_key_t *key, int step, const int *positions);
// Payload pointer of a word given as a number (w <= 32, first symbol in
// the most significant of the low w bits); null when absent.
void *word_table_find_int(const word_table_t *table, uint32_t word);

// Inserts a packed key (B bytes) or replaces its payload, rebuilding the
// table until it fits.
void word_table_insert_key(word_table_t *table, const uint8_t *key, const void *payload);
// One insertion attempt without growth: 1 on success, 0 when the table must
// grow (half full, or no free or matching slot within the offset limit).
int word_table_try_insert_key(word_table_t *table, const uint8_t *key, const void *payload);
// Payload pointer of a packed key, null when absent.
void *word_table_find_key(const word_table_t *table, const uint8_t *key);
// Slot of a packed key, -1 when absent.
int64_t word_table_find_slot(const word_table_t *table, const uint8_t *key);
// Home slot of a packed key, where its probe run starts.
uint64_t word_table_home_slot(const word_table_t *table, const uint8_t *key);
// Starts loading a slot (its stored key bytes and payload) into the cache.
void word_table_prefetch_slot(const word_table_t *table, uint64_t slot);
// word_table_find_slot for a key whose home slot is known already.
int64_t word_table_find_slot_from(const word_table_t *table, const uint8_t *key, uint64_t home);

// Payload pointer of a slot (0 <= slot < size), null for a free slot.
void *word_table_get_payload(const word_table_t *table, uint64_t slot);
// Copies a payload into an occupied slot; a free slot is left alone. The
// template removes the slot's key, which may move a later key of its probe
// run into this slot.
void word_table_set_payload(word_table_t *table, uint64_t slot, const void *payload);
// Writes the packed key of a slot (B bytes) and returns its payload
// pointer; null, with nothing written, for a free slot.
void *word_table_get_key(const word_table_t *table, uint64_t slot, uint8_t *out);
// Writes the word of a slot as k symbol codes and returns its payload
// pointer; null for a free slot (out then undefined).
void *word_table_get_word(const word_table_t *table, uint64_t slot, uint8_t *out);

// Slot hash of the first n stored key bytes of the table.
uint64_t word_table_hash(const word_table_t *table, const uint8_t *stored);
// The same hash for n stored bytes of a w-bit key in a table of 2^log_size
// slots.
uint64_t word_table_hash_bytes(const uint8_t *stored, int n, int key_bits, int log_size);

// Packs a word of key_bits / 2 symbols (symbols[positions[i]] for symbol i
// when positions is given) into out; 0 when a symbol is above 3, else 1.
int word_table_pack_word(int key_bits, const uint8_t *symbols, uint8_t *out,
                         const int *positions);
// Packs the larger of the word and its reverse complement into
// key->buffer[0] (the word itself when they are equal); 0 when a symbol is
// above 3, else 1.
int word_table_pack_canonical(const word_table_t *table, const uint8_t *symbols,
                              word_table_key_t *key);
// Symbols spanned by one word: k, or the last position + 1.
int word_table_word_span(int key_bits, const int *positions);

// Prints the table's header fields on standard output.
void word_table_print_stats(const word_table_t *table);
// Prints bit_count bits, most significant first, a space before each
// group of 8, then a line end.
void word_table_print_bits(const uint8_t *bytes, int bit_count);

// A heap-allocated 32-bit integer; the free accepts null and returns null.
int32_t *word_table_int_box_new(int32_t value);
int32_t *word_table_int_box_free(int32_t *box);

}  // extern "C"
