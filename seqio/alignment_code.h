// Run-length alignment codes: the column string stored in every hit of an
// nyr mapping file.
//
// A code is a string of bytes, each a run of one kind of column:
//   0-127    b + 1 match columns (read base against reference base, whether
//            they agree or not)
//   128-191  b - 127 insertion columns (read base without reference base)
//   192-254  b - 191 deletion columns (reference base without read base)
//   255      escape; the next byte is its argument
// Escape arguments: 0-3 set the value the read codes are exclusive-ored with
// before they are compared (a phase change); 4 and 5 are followed by a 16-bit
// or 32-bit little-endian count c and stand for c + 1 deletions (only the
// iterator knows them); 8-15 toggle the skipping of match columns (bit 0)
// and insertion columns (bit 1) by the quality measures; any other argument
// is carried along.
//
// Canonical form, which the builder writes: columns of one kind extend the
// last byte until it is full (127, 191 or 254); a long run is full bytes and
// one partial byte; an escape pair always ends the current run.
//
// The byte-walking decoders treat every escape as two bytes, so they are
// only given codes without long-deletion escapes. Every walker stops at the
// end of the bytes it was given, so a cut code is read short, never past
// its end.
#pragma once

#include <cstdint>

struct array_list_t;
struct seq_record_t;

// Code bytes by kind.
constexpr uint8_t kCodeMatchBase = 0;
constexpr uint8_t kCodeMatchFull = 127;
constexpr uint8_t kCodeInsertionBase = 128;
constexpr uint8_t kCodeInsertionFull = 191;
constexpr uint8_t kCodeDeletionBase = 192;
constexpr uint8_t kCodeDeletionFull = 254;
constexpr uint8_t kCodeEscape = 255;

// Column kinds (ops) of the builder and the iterator.
constexpr int kCodeOpEnd = 0;
constexpr int kCodeOpMatch = 1;
constexpr int kCodeOpInsertion = 2;
constexpr int kCodeOpDeletion = 3;
constexpr int kCodeOpEscape = 4;

// Escape arguments with a meaning.
constexpr uint8_t kCodeArgLongDeletion16 = 4;
constexpr uint8_t kCodeArgLongDeletion32 = 5;

struct alignment_code_t {
  int32_t length;              // bytes in use
  uint8_t *bytes;              // the code, capacity bytes
  int32_t capacity;            // 32 at creation, doubled when full
  int32_t column_count;        // match, insertion and deletion columns appended
  int argument_written;        // 1 right after an escape argument: the next column starts a byte
  int reversed_pending;        // bytes are held in reverse order
  int32_t reference_position;  // position of the alignment on the reference
};

struct alignment_code_iter_t {
  const uint8_t *bytes;
  int32_t length;
  int32_t position;           // index of the next byte
  int32_t run_counter;        // value reached inside the current run byte, -1 between runs
  int argument_next;          // the next call returns an escape argument
  uint32_t pending_deletions; // deletions left of a long-deletion escape
};

// One column of an alignment given as index pairs; -1 marks a gap.
struct aligned_pair_t {
  int32_t reference_index;
  int32_t read_index;
};

// Pairs in alignment order; the list ends with a pair that holds a read index.
struct aligned_pair_list_t {
  int32_t count;
  aligned_pair_t **pairs;
};

// Reference code at a position for alignment_code_similar_fraction_cb.
typedef int (*alignment_code_reference_fn)(int32_t position, void *context);

// --- Builder ---

// Empty builder with room for 32 bytes.
alignment_code_t *alignment_code_new();
// Frees the bytes and the builder (null allowed); returns null.
alignment_code_t *alignment_code_free(alignment_code_t *code);
// Frees the builder only, the bytes having been handed out; returns null.
alignment_code_t *alignment_code_free_shell(alignment_code_t *code);
// Empties the code and sets the reference position and the reversed-pending
// flag (set when the code is collected from its end backwards).
void alignment_code_reset(alignment_code_t *code, int32_t reference_position, int reversed_pending);
// 1 when no byte has been appended.
int alignment_code_is_empty(const alignment_code_t *code);
// Appends one column (op 1 match, 2 insertion, 3 deletion) or an escape
// marker (op 4); right after a marker the op value itself becomes the
// escape's argument. Any other op: "Wrong match type\n", status 1.
void alignment_code_add(alignment_code_t *code, int op);
// Appends n columns of one kind (op 1 to 3); n = 0 does nothing. Any other
// op: "Wrong multi match type\n", status 1.
void alignment_code_add_run(alignment_code_t *code, int op, int32_t n);
// The byte-level step of alignment_code_add_run for the run [base, limit],
// last being the last byte (255 when none may be extended).
void alignment_code_add_run_bytes(alignment_code_t *code, uint8_t last, uint8_t base, uint8_t limit, int32_t n);
// Appends a raw byte.
void alignment_code_push_byte(alignment_code_t *code, uint8_t byte);
// Increments the last byte when last lies in [base, limit), else appends
// base; one column.
void alignment_code_extend_run(alignment_code_t *code, uint8_t last, uint8_t base, uint8_t limit);
// Reverses the bytes into canonical order, moves the reference position back
// by the code's reference length and toggles reversed pending.
void alignment_code_reverse(alignment_code_t *code);
// Applies a pending reversal.
void alignment_code_finish(alignment_code_t *code);
// The bytes (owned by the builder), after a pending reversal.
uint8_t *alignment_code_get_bytes(alignment_code_t *code);
// The reference position of the first column, after a pending reversal.
int32_t alignment_code_get_position(alignment_code_t *code);
int32_t alignment_code_get_length(const alignment_code_t *code);
// Copies the bytes as they are held into buffer (length bytes).
void alignment_code_copy_to(const alignment_code_t *code, uint8_t *buffer);
// Keeps the first n columns (escape pairs before the cut stay); returns the
// new byte length.
int32_t alignment_code_truncate(alignment_code_t *code, int32_t n);
// Drops the last n columns; more than there are empties the builder
// (length, columns and reference position 0).
void alignment_code_trim_end(alignment_code_t *code, int32_t n);
// Applies a pending reversal, then alignment_code_print.
void alignment_code_print_builder(alignment_code_t *code);
// Rewrites the code so that an insertion block and a deletion block meeting
// between match runs (or after the last one) become min(I, D) match columns
// and |I - D| columns of the larger kind. For codes without escapes.
void alignment_code_collapse_indels(alignment_code_t *code);

// Reverses a byte string in place into canonical order (no position).
void alignment_code_reverse_bytes(int32_t length, uint8_t *bytes);

// --- Iterator ---

alignment_code_iter_t *alignment_code_iter_new();
alignment_code_iter_t *alignment_code_iter_free(alignment_code_iter_t *iter);
void alignment_code_iter_init(alignment_code_iter_t *iter, int32_t length, const uint8_t *bytes);
// The next column: 1 match, 2 insertion, 3 deletion, 4 escape (the next call
// returns its argument byte), 0 at the end. Long-deletion escapes yield
// their deletions; one whose count bytes are cut ends the walk.
int alignment_code_iter_next(alignment_code_iter_t *iter);

// --- Decoders over (length, bytes) ---

// Match + deletion columns.
uint32_t alignment_code_reference_length(int32_t length, const uint8_t *bytes);
// Match + insertion columns.
uint32_t alignment_code_read_length(int32_t length, const uint8_t *bytes);
// Insertion columns before the first match or deletion byte.
uint32_t alignment_code_leading_insertions(int32_t length, const uint8_t *bytes);
// Read bases up to the last match or deletion column: matches, plus
// insertion runs that a match or deletion byte follows.
uint32_t alignment_code_read_span(int32_t length, const uint8_t *bytes);
// Turns the last n reference columns into trailing insertions in place and
// returns the new length. The result can be longer than the input (at most
// twice its length plus one byte), so the buffer must have that room. For
// codes without escapes; an escape byte stops the walk.
int32_t alignment_code_clip_end(int32_t length, uint8_t *bytes, int32_t n);
// Two lines on standard output: '-' for insertions, '*' for escapes, '#'
// otherwise; then '-' for deletions, '*' for escapes, '#' otherwise.
void alignment_code_print(int32_t length, const uint8_t *bytes);

// --- Builders over a byte array_list_t ---

// Appends one column (op 1 to 3) with the builder's run rules; any other op
// appends 0 (on an empty list op 2 gives 128, op 3 192, anything else 0).
void alignment_code_list_add_op(array_list_t *list, int op);
// New code bytes (ryx_malloc) for an aligned-pair list: leading insertions up
// to the first read index, a column per pair, trailing insertions up to the
// read length. Null with *out_length 0 for an empty list.
uint8_t *alignment_code_from_pairs(const aligned_pair_list_t *pairs, int32_t read_length, int32_t *out_length);
// New code bytes: h insertions, matches from h up to e, insertions from
// max(h, e) up to n.
uint8_t *alignment_code_clipped_ungapped(int32_t h, int32_t e, int32_t n, int32_t *out_length);

// --- Alignment quality ---

// The longest stretch of the read whose identity is at least x (each scored
// column adds 1 - x when it agrees, -x when not), as a fraction of the read
// bases scored; 0/0 when none were scored. Reference codes are 2 bits per
// position, lowest bits first, valid where the mask's two bits are not both
// 0 (a null mask: all valid); the reference position wraps from wrap_end to
// wrap_start (wrap_end -1: never). A read base past the read's length
// disagrees.
double alignment_code_similar_fraction(int32_t length, const uint8_t *bytes, int32_t reference_start,
                                       int32_t wrap_start, int32_t wrap_end, const uint8_t *packed_reference,
                                       double x, const uint8_t *valid_mask, const seq_record_t *read);
// The same with reference codes from the callback, no wrap and no mask.
double alignment_code_similar_fraction_cb(int32_t length, const uint8_t *bytes, const uint8_t *read_codes,
                                          int32_t reference_start, alignment_code_reference_fn reference,
                                          void *context, double x);
// The same scoring over aligned pairs (a gap on either side disagrees);
// returns the stretch length in read bases.
int32_t aligned_pairs_similar_span(const aligned_pair_list_t *pairs, const seq_record_t *reference,
                                   const seq_record_t *read, double x);
