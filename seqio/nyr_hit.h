// Packed hit records of the nyr mapping file and their encodings.
//
// nyr_match_t is one hit of a read: contig, position, orientation, mapping
// quality, how many alignments the mapper found for the read, and the
// alignment code. The hits of one read lie back to back in one block; flag
// 0x80 says that another hit of the same read follows in memory.
//
// Record encodings (little-endian):
//   version 0: flex code length n (0: unmatched, the record ends), contig
//     and position as numbers by limit, the flags byte, the match count - 2
//     as a flex number when flag 0x20 is set, then n code bytes;
//   versions 1-3: entry flags (bit 0 matched, bit 1 match count follows,
//     bit 2 hit count follows, bit 3 paired, bit 5 bisulphite; an unmatched
//     read is this byte alone), optional flex match count - 2 and hit
//     count - 2, then per hit: flex code length, contig and position as
//     numbers by limit, hit flags (bit 0 reverse, bit 1 quality byte
//     follows, bit 2 wrap count follows, bits 3 and 4 the alignment bits B
//     and A), the quality byte, the flex wrap count g (the true position is
//     the stored one + (g + 1) x the contig's length), and the code bytes.
// Contig indexes take as many bytes as the contig count - 1 needs, positions
// as many as the longest contig length - 1 needs.
//
// Records and codes come from a chunk arena when one is given (they are
// released with it, never with nyr_match_free) or from the heap.
#pragma once

#include <cstdint>
#include <cstdio>

#include "seqio/alignment_code.h"

struct chunk_arena_t;
struct input_stream_t;

// In-memory flags.
constexpr uint8_t kNyrMatchReverse = 0x01;
constexpr uint8_t kNyrMatchBitA = 0x02;
constexpr uint8_t kNyrMatchBitB = 0x04;
constexpr uint8_t kNyrMatchCounted = 0x20;
constexpr uint8_t kNyrMatchPaired = 0x40;
constexpr uint8_t kNyrMatchMore = 0x80;
constexpr uint8_t kNyrNoQuality = 255;

#pragma pack(push, 1)
struct nyr_match_t {
  uint32_t contig;        // index into the contig table
  uint32_t position;      // 0-based position of the first reference column
  uint8_t flags;          // the kNyrMatch* bits
  uint8_t quality;        // mapping quality 0-254, 255 none
  uint32_t stored_count;  // match count - 2, valid with kNyrMatchCounted
  uint32_t code_length;   // bytes of alignment code
  uint8_t *code;
};
#pragma pack(pop)

// --- Construction and release (arena null: the heap) ---

// Room for n records / one record, contents unset.
nyr_match_t *nyr_match_alloc_array(chunk_arena_t *arena, uint64_t n);
nyr_match_t *nyr_match_alloc(chunk_arena_t *arena);
// Record with exactly these fields and quality 255; the code is taken over.
nyr_match_t *nyr_match_new(chunk_arena_t *arena, uint32_t contig, uint32_t position, uint8_t flags,
                           uint32_t stored_count, uint32_t code_length, uint8_t *code);
// Flags 1 when reverse, plus 0x20 with stored count match count - 2 when the
// match count is above 1; quality 255; the code is taken over.
nyr_match_t *nyr_match_new_counted(chunk_arena_t *arena, uint32_t contig, uint32_t position, int reverse,
                                   uint32_t match_count, uint32_t code_length, uint8_t *code);
// Record whose code is built from the pairs, at the first reference index
// of the pairs; null for an empty list or one without reference indexes.
nyr_match_t *nyr_match_new_from_pairs(chunk_arena_t *arena, uint32_t contig, const aligned_pair_list_t *pairs,
                                      int32_t read_length, int reverse, uint32_t match_count);
// Record of an ungapped hit whose read base 0 lies at position: h clipped
// insertions, matches up to read base e, insertions up to the read length n;
// its position is position + h.
nyr_match_t *nyr_match_new_ungapped(chunk_arena_t *arena, uint32_t contig, uint32_t position, int32_t h,
                                    int32_t e, int32_t n, int reverse, uint32_t match_count);
// Copy of contig, position, flags (without 0x80: the copy stands alone),
// stored count and code bytes; quality 255.
nyr_match_t *nyr_match_copy(chunk_arena_t *arena, const nyr_match_t *record);
// The part of the record inside the reference window [w0, w1) with
// positions relative to w0, or null when it lies before the window. A
// record at or beyond w1 is taken to lie one contig length L earlier (a
// circular contig). A record wholly inside is copied; otherwise its code is
// rebuilt, reference columns outside the window becoming insertions (or
// dropped for deletions), and the result keeps only the reverse flag.
nyr_match_t *nyr_match_clip(chunk_arena_t *arena, const nyr_match_t *record, uint32_t contig_length, int64_t w0,
                            int64_t w1);
// Frees a heap record and its code (null allowed); returns null.
nyr_match_t *nyr_match_free(nyr_match_t *record);
// Frees the codes of every hit of a heap block (following 0x80), then the
// block (null allowed); returns null.
nyr_match_t *nyr_match_free_hits(nyr_match_t *first);

// --- Accessors ---

uint32_t nyr_match_get_position(const nyr_match_t *record);
// position + reference length of the code.
uint64_t nyr_match_get_end(const nyr_match_t *record);
int nyr_match_is_reverse(const nyr_match_t *record);
// Stored count + 2 with 0x20, else 1; 0 for null.
uint64_t nyr_match_get_count(const nyr_match_t *record);
// n = 1 clears 0x20 and the stored count; larger n sets 0x20 and n - 2.
void nyr_match_set_count(nyr_match_t *record, uint32_t n);
int nyr_match_is_paired(const nyr_match_t *record);
void nyr_match_set_paired(nyr_match_t *record);
void nyr_match_clear_paired(nyr_match_t *record);
// The next hit of the block, or null (null for null).
nyr_match_t *nyr_match_next_hit(nyr_match_t *record);
uint32_t nyr_match_leading_insertions(const nyr_match_t *record);
uint32_t nyr_match_read_span(const nyr_match_t *record);
uint32_t nyr_match_read_length(const nyr_match_t *record);
// Escape pairs in the code.
uint32_t nyr_match_escape_count(const nyr_match_t *record);
// Argument of the last escape pair, 0 when there is none.
uint8_t nyr_match_last_escape_value(const nyr_match_t *record);

// Second entry points of the alignment-code decoders.
uint32_t nyr_code_reference_length(int32_t length, const uint8_t *bytes);
uint32_t nyr_code_leading_insertions(int32_t length, const uint8_t *bytes);
uint32_t nyr_code_read_span(int32_t length, const uint8_t *bytes);

// --- Readers ---
//
// Each reads the record of one read at the stream's position. contig_limit
// is the file's contig count, position_limit its longest contig length;
// contig_lengths (contig_limit entries) resolves wrap counts, null keeps
// positions as stored. section_end is the offset where the record section
// ends (the fields offset), or -1 when unknown; with it a record that claims
// more bytes than the section holds is caught before anything is allocated
// for it. Failures: a contig index not below contig_limit, a wrapped
// position beyond 32 bits or a record running past section_end: "Error
// reading assembly file\n", status 65; a file that ends inside the code:
// "Error reading assembly file: early termination in match\n", status 1;
// inside another field: the codec's message, status 1.

// A version-0 record, or null for an unmatched read. The flags are kept as
// stored except 0x80: a version-0 record holds one hit.
nyr_match_t *nyr_match_read_v0(input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                               uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end);
// A version 1-3 record: its first hit, or all its hits as one block; null
// for an unmatched read. Hits not filled are passed over.
nyr_match_t *nyr_match_read_v1(input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                               uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end,
                               int all_hits);
// By file version: the first hit only.
nyr_match_t *nyr_match_read(int version, input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                            uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end);
// By file version: all hits.
nyr_match_t *nyr_match_read_all(int version, input_stream_t *stream, chunk_arena_t *arena, uint32_t contig_limit,
                                uint32_t position_limit, const uint32_t *contig_lengths, int64_t section_end);

// --- Writers ---
//
// contig_limit and position_limit are the file's contig count and longest
// contig length. Writes are not checked here: the file's writer checks the
// stream when it finishes.

// A version-0 record (flex 0 for null or an empty code).
void nyr_match_write_v0(FILE *file, uint32_t contig_limit, uint32_t position_limit, const nyr_match_t *record);
// A version 1-3 record with one hit: no quality byte, no wrap count, no
// alignment bits; the position must be below position_limit.
void nyr_match_write_single(FILE *file, uint32_t contig_limit, uint32_t position_limit, const nyr_match_t *record);
// A version 1-3 record with min(n, match count) hits of records[0..n), with
// quality bytes, alignment bits and wrap counts: a position P at or beyond
// its contig's length L is stored as P mod L with the wrap count P div L - 1.
// contig_lengths null (or a contig of length 0) writes positions as they are.
void nyr_match_write_hits(FILE *file, uint32_t contig_limit, uint32_t position_limit,
                          const uint32_t *contig_lengths, uint32_t n, const nyr_match_t *const *records);
// nyr_match_write_hits with the one record.
void nyr_match_write(FILE *file, uint32_t contig_limit, uint32_t position_limit, const uint32_t *contig_lengths,
                     const nyr_match_t *record);
