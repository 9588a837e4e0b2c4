// Per-read records of the hash mapper's nyr mapping file.
//
// map_result_write_read is the record callback of map_results_merge: it is
// called once per read of a length group in read order and appends that
// read's record (version 3 layout, seqio/nyr_hit.h) to the output. It picks
// the pair slot of a paired read whose pairs were found, else its single
// slot; applies the repeat mode; reports min(R, stored) hits chosen at
// random with rand() (seeded once per run by the program), keeping the two
// halves of every reported pair at the same place in both mates' records.
//
// Record: entry flags (bit 0 matched, bit 1 total follows, bit 2 reported
// count follows, bit 3 paired), flex total - 2, flex reported - 2, then per
// reported hit: flex code length, reference index (number by limit
// reference count), position (number by limit longest reference length),
// hit flags (bit 0 reverse), code bytes. An unmapped read is the byte 0.
//
// The writer context belongs to the caller and is used from one thread.
#pragma once

#include <cstdint>
#include <cstdio>

struct alignment_info_t;
struct map_context_t;
struct nyr_match_t;
struct progress_meter_t;

// Kinds of a read handed to the record callback.
constexpr int32_t kMapReadUnpaired = 0;
constexpr int32_t kMapReadFirst = 1;
constexpr int32_t kMapReadSecond = 2;

struct map_writer_context_t {
  int32_t reference_count;
  int32_t longest_reference;
  int32_t repeat_ignore;       // 1: reads with more hits than R are written unmapped; 0: random
  progress_meter_t *meter;     // writing progress, or null
  int32_t last_shown;          // read index of the last progress update
  FILE *output;
  nyr_match_t *records;        // scratch records of the hits written, grown as needed
  int32_t record_capacity;
};

// A writer context; the output stays the caller's.
map_writer_context_t *map_writer_context_new(int32_t reference_count, int32_t longest_reference,
                                             int32_t repeat_ignore, progress_meter_t *meter, FILE *output);
// Frees the context (null allowed); returns null.
map_writer_context_t *map_writer_context_free(map_writer_context_t *writer);

// Appends the record of one read (argument: the map_writer_context_t).
// For kind 1 and 2 the slot after slot is the read's pair slot; for kind 1
// the partner's pair slot is slot + 3. A read of a pair whose pair slot
// holds hits is written from it, with the paired flag.
void map_result_write_read(map_context_t *context, alignment_info_t *slot, int32_t kind, void *argument);
// Shuffles the first reported of the stored hits of slot with rand(), the
// same swaps applied to partner when given (the other half of its pairs).
void map_result_shuffle_hits(alignment_info_t *slot, alignment_info_t *partner, int32_t reported, int32_t stored);
