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
// A record is made in two steps: map_result_choose, on the thread that
// walks the reads in read order, does everything that depends on that
// order (progress, the repeat mode and the rand() draws of the shuffles);
// map_result_encode turns the choice into bytes and may run later on any
// thread, as long as the slot's batch lives. A read's hits are final once
// the reads up to it are chosen: a shuffle only reorders the read's own
// slot and, for read 1 of a pair, read 2's pair slot.
//
// The writer context belongs to the caller; map_result_choose and
// map_result_write_read use it from one thread, map_result_encode only
// reads its limits.
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

// One read's record as chosen, ready to encode: the slot whose first
// reported hits are written (null: the read is written unmapped), how many
// of them, the read's total hit count and whether the hits are pairs.
struct map_record_t {
  const alignment_info_t *chosen;
  int32_t reported;
  int32_t total;
  int32_t paired;
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
// The first step of map_result_write_read: shows progress, applies the
// repeat mode and shuffles the hits to report; fills record.
void map_result_choose(map_writer_context_t *writer, map_context_t *context, alignment_info_t *slot, int32_t kind,
                       map_record_t *record);
// The second step: writes the chosen record to file. scratch holds
// *capacity records and is grown as needed (the caller frees it).
void map_result_encode(const map_writer_context_t *writer, const map_record_t *record, FILE *file,
                       nyr_match_t **scratch, int32_t *capacity);
// Shuffles the first reported of the stored hits of slot with rand(), the
// same swaps applied to partner when given (the other half of its pairs).
void map_result_shuffle_hits(alignment_info_t *slot, alignment_info_t *partner, int32_t reported, int32_t stored);
