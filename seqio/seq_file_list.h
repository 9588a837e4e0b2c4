// Sequence-file lists: the read files, read-file pairs or reference files
// that a mapping run read, with the sequence and residue counts found in
// them. The nyr mapping file keeps two such lists in its fields block.
//
// File layout of a list: the entry count as a flex number, then per entry
// the flags byte (bit 0: two files read as one interleaved pair, a second
// name follows; bit 1: the reads are paired), the sequence count (64-bit in
// versions 2 and 3, 32-bit in versions 0 and 1), the 64-bit residue count,
// the first name and, with bit 0, the second name (strings).
#pragma once

#include <cstdint>
#include <cstdio>

struct input_stream_t;
struct linked_list_t;
struct progress_meter_t;
struct seq_db_t;
struct seq_reader_t;

constexpr uint8_t kSeqFileInfoPair = 0x01;
constexpr uint8_t kSeqFileInfoPaired = 0x02;

struct seq_file_info_t {
  uint8_t flags;            // kSeqFileInfoPair, kSeqFileInfoPaired; other bits kept as read
  int64_t sequence_count;   // -1 until known
  int64_t residue_count;    // -1 until known
  char **names;             // owned block of one name, or two with kSeqFileInfoPair
};

struct seq_file_info_list_t {
  seq_file_info_t **entries;
  int32_t count;
  // 0 for a list made by seq_file_info_list_concat: its entries belong to
  // the lists it was made from, and freeing it frees only the shell.
  int owns_entries;
};

// --- Entries ---

// Entry with flags 0 over name, which it owns from now on.
seq_file_info_t *seq_file_info_new(char *name, int64_t sequence_count, int64_t residue_count);
// Entry with the pair flag over two names, both owned from now on.
seq_file_info_t *seq_file_info_new_pair(char *first, char *second, int64_t sequence_count, int64_t residue_count);
// Entry with flags 0 around an existing names block (owned from now on).
seq_file_info_t *seq_file_info_new_raw(char **names, int64_t sequence_count, int64_t residue_count);
// Frees the names, the block and the entry (null allowed); returns null.
seq_file_info_t *seq_file_info_free(seq_file_info_t *entry);
int seq_file_info_is_pair(const seq_file_info_t *entry);
void seq_file_info_set_pair(seq_file_info_t *entry);
int seq_file_info_is_paired(const seq_file_info_t *entry);
void seq_file_info_set_paired(seq_file_info_t *entry);

// --- Lists ---

// List holding the linked list's entries in order (the linked list stays
// the caller's); the list owns the entries.
seq_file_info_list_t *seq_file_info_list_new(const linked_list_t *entries);
seq_file_info_list_t *seq_file_info_list_new_single(seq_file_info_t *entry);
// Frees the entries (when the list owns them), the array and the list (null
// allowed); returns null.
seq_file_info_list_t *seq_file_info_list_free(seq_file_info_list_t *list);
// Frees the array and the list but never the entries; returns null.
seq_file_info_list_t *seq_file_info_list_free_shell(seq_file_info_list_t *list);
// New list of the first list's entries then the second's, shared, not
// copied (either list may be null).
seq_file_info_list_t *seq_file_info_list_concat(const seq_file_info_list_t *first,
                                                const seq_file_info_list_t *second);
// 1 when both lists have the same count and, entry by entry, the same flags
// byte, first name and (pairs) second name; counts are not compared.
int seq_file_info_list_equal(const seq_file_info_list_t *a, const seq_file_info_list_t *b);
// A list read in the layout of the given file version. An entry count above
// 2^31 - 1: "Error reading assembly file\n", status 65; a short file: the
// codec's message, status 1. Memory grows only with entries actually read.
seq_file_info_list_t *seq_file_info_list_read(int version, input_stream_t *stream);
// The same over a stdio file, which is left just behind the list.
seq_file_info_list_t *seq_file_info_list_read_file(int version, FILE *file);
// Writes the list in the version-2/3 layout. Writes are not checked.
void seq_file_info_list_write(FILE *file, const seq_file_info_list_t *list);
// Writes the list in the layout of the given version: 32-bit sequence counts
// for versions 0 and 1 (their low 32 bits), 64-bit for 2 and 3.
void seq_file_info_list_write_version(FILE *file, const seq_file_info_list_t *list, int version);

// --- Opening the listed files ---

// One database over all entries (an interleaved database per pair entry,
// a concatenated one over several entries), or null when a file could not
// be opened (the opener has said why; the databases opened before it are
// freed). Fills unknown counts of the entries; a known count that differs
// from the file's: "File mismatch in %s\n" (or "%s / %s" for a pair), the
// file's and the entry's counts, status 65. The progress meter (or null)
// moves per entry; per_entry (or null) receives each entry's database.
seq_db_t *seq_file_info_list_open_db(seq_file_info_list_t *list, int residue_type, uint32_t format_mask,
                                     int keep_lengths, int buckets, progress_meter_t *meter, seq_db_t **per_entry,
                                     int report);
// Frees the database of one entry (both parts and the composite of a pair).
void seq_file_info_free_db(seq_db_t *db, int pair);
// Frees a database from seq_file_info_list_open_db over the same list.
void seq_file_info_list_free_db(seq_db_t *db, const seq_file_info_list_t *list);
// One pull reader over the entries [first, end); ends the process when a
// file cannot be streamed (the reader's own message).
seq_reader_t *seq_file_info_list_open_reader_range(const seq_file_info_list_t *list, int32_t first, int32_t end,
                                                   int residue_type, uint32_t format_mask, int want_qualities,
                                                   int report);
seq_reader_t *seq_file_info_list_open_reader(const seq_file_info_list_t *list, int residue_type,
                                             uint32_t format_mask, int want_qualities, int report);
seq_reader_t *seq_file_info_list_open_reader_one(const seq_file_info_list_t *list, int32_t index,
                                                 int residue_type, uint32_t format_mask, int want_qualities,
                                                 int report);
// Frees a reader from the openers above.
void seq_file_info_list_free_reader(seq_reader_t *reader, const seq_file_info_list_t *list);
