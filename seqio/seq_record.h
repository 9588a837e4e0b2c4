// The in-memory sequence of the structure-based programs.
//
// Residues are one byte each: nucleotide codes 0-4 (A, C, G, T, N), another
// alphabet's codes, or letters as stored, depending on who filled the record.
// The constructors allocate length + 1 bytes for the residues (and for the
// qualities) and leave the last byte unset. A record owns its name, residues
// and qualities, except a copy made in a chunk arena, whose memory belongs to
// the arena. Every allocation ends the process with status 69 when the heap
// is exhausted; nothing else here fails.
#pragma once

#include <cstdint>
#include <cstdio>

struct chunk_arena_t;
struct seq_record_t;

// Releases a record; returns null.
typedef seq_record_t *(*seq_record_free_fn)(seq_record_t *record);

struct seq_record_t {
  char *name;                       // owned, or null when the sequence has none
  uint32_t length;                  // number of residues
  uint8_t *residues;                // length + 1 bytes
  uint8_t *qualities;               // one value per residue, or null
  int32_t use_count;                // set by the holder; lowered by seq_record_release_counted
  seq_record_free_fn free_callback; // seq_record_free, or seq_record_free_nothing for arena copies
};

// Length 0, no residue or quality buffer.
seq_record_t *seq_record_new_empty();
// length residues (contents unset), no qualities.
seq_record_t *seq_record_new(uint32_t length);
// length residues and length qualities, contents unset.
seq_record_t *seq_record_new_with_qualities(uint32_t length);
// Nucleotide codes from letters: ((c >> 2) & 3) ^ ((c >> 1) & 7) of each
// letter c, which gives A/a 0, C/c 1, G/g 2, T/t and U/u 3, N/n 4 (other
// letters give some value 0-7).
seq_record_t *seq_record_new_from_letters(const char *letters);
// The string's bytes as residues, unchanged.
seq_record_t *seq_record_new_from_string(const char *text);
// length residues drawn uniformly from 0..symbols-1 with rand().
seq_record_t *seq_record_new_random(int symbols, uint32_t length);
// A random length in minimum..maximum (one rand() drawn first), then random
// residues as seq_record_new_random.
seq_record_t *seq_record_new_random_length(int symbols, uint32_t minimum, uint32_t maximum);
// Residues (and qualities when the source has them) [start, end) of source,
// end first lowered to the source length; empty when start is not below it.
seq_record_t *seq_record_new_range(const seq_record_t *source, uint32_t start, uint32_t end);
// Copy of residues and qualities; no name.
seq_record_t *seq_record_copy(const seq_record_t *source);
// Copy whose record, residues and qualities all come from the arena; no name;
// its free callback does nothing.
seq_record_t *seq_record_copy_to_arena(chunk_arena_t *arena, const seq_record_t *source);

// A record whose residue buffer is kept from one fill to the next, for
// readers that look at one sequence at a time and copy what they keep: no
// allocation per sequence. Zero-initialised it is empty; its record has no
// name and no qualities and must not be released.
struct seq_scratch_t {
  seq_record_t record;
  uint32_t capacity;  // bytes of record.residues
};
// Sets the scratch record to the n bytes at bytes; returns the record.
seq_record_t *seq_scratch_set(seq_scratch_t *scratch, const uint8_t *bytes, uint32_t n);
// Frees the buffer; the scratch is empty again.
void seq_scratch_free(seq_scratch_t *scratch);

// Frees residues, qualities, name and the record (null allowed); returns null.
seq_record_t *seq_record_free(seq_record_t *record);
// Free callback of arena copies: does nothing; returns null.
seq_record_t *seq_record_free_nothing(seq_record_t *record);
// Frees the name and the record only (null allowed); the buffers belong to
// someone else. Returns null.
seq_record_t *seq_record_free_shell(seq_record_t *record);
// Calls the record's own free callback (null: nothing).
void seq_record_release(seq_record_t *record);
// Atomically lowers the use count; at 0 calls the free callback and returns
// 1, else returns 0.
int seq_record_release_counted(seq_record_t *record);

// Appends other's residues. A record with qualities also gets other's
// qualities, or zero bytes when other has none; a record without qualities
// stays without.
void seq_record_append(seq_record_t *record, const seq_record_t *other);
// Reverses nucleotide codes in place, complementing codes below 4; reverses
// the qualities too.
void seq_record_reverse_complement(seq_record_t *record);
// Reverses letters in place with the IUPAC complement; reverses the
// qualities too.
void seq_record_reverse_complement_letters(seq_record_t *record);

// One line on standard output: each residue as 'A' + code.
void seq_record_print_debug(const seq_record_t *record);
// One line on standard output: "ACGTN"[residue - base] where that difference
// (mod 256) is at most 4, else 'X'.
void seq_record_print_codes(const seq_record_t *record, uint8_t base);
// One line on standard output: the residue bytes as they are.
void seq_record_print_raw(const seq_record_t *record);
void seq_record_fprint_raw(FILE *out, const seq_record_t *record);
// ">name" (or ">" without a name), then one line of "ACGTN"[code]; codes
// above 4 print as 'N'.
void seq_record_fprint_fasta_codes(FILE *out, const seq_record_t *record);
