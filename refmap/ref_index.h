// Hashed reference index of the hash mapper: for one packed reference block
// and one seed mask, the block positions of every seed hash.
//
// The index has 2^24 buckets (the low 24 bits of the seed hash). Entry e of
// the index is 5 bytes at entries + 5e: the check byte (the hash's top
// byte), then the block position as an unsigned 32-bit little-endian value
// at an unaligned address. The entries of bucket b are offsets[b] to
// offsets[b + 1] - 1; offsets[2^24] is the entry count. Their order inside
// a bucket is not defined.
//
// Every block position from the start of the block's first piece to the
// last position whose seed ends within its last piece is indexed, also
// positions whose seed overlaps a spacer. The build runs on the caller's
// thread and a group of worker threads per pass: a counting pass (atomic
// increments of the bucket counts), a prefix sum in slices and a filling
// pass (each slot claimed by an atomic fetch-and-add).
//
// Ownership: an index is created per mask and block and freed before the
// next block's; it does not own the mask, which must outlive it, nor the
// block, which must stay unchanged during the build. A finished index is
// only read and may be shared by all threads without locks.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "refmap/seed_mask.h"

struct progress_meter_t;
struct ref_block_t;

constexpr uint32_t kRefIndexBuckets = 1u << 24;
constexpr uint32_t kRefIndexEntryBytes = 5;
// Positions a thread handles between two progress reports.
constexpr uint32_t kRefIndexSlice = 0x40000;
// Most entries of one index, so that 5 x entries fits 32 bits.
constexpr uint64_t kRefIndexMaxEntries = 858993459;

struct ref_index_t {
  uint32_t *offsets;         // kRefIndexBuckets + 1
  uint8_t *entries;          // kRefIndexEntryBytes per entry
  const seed_mask_t *mask;   // not owned
  uint64_t entry_capacity;   // entries the entry array holds (a reused index may hold more than it uses)
};

// Shared by the threads of one build.
struct ref_index_progress_t {
  pthread_mutex_t mutex;
  double done;
  double total;
  progress_meter_t *meter;   // a child of the caller's meter, owned by the build
};

// The work of one thread: positions [first, end) of the packed bases.
struct ref_index_job_t {
  const uint8_t *bases;
  uint32_t first;
  uint32_t end;
  uint32_t *offsets;
  uint8_t *entries;          // set between the passes
  const uint32_t *mask_words;
  int32_t colour;
  ref_index_progress_t *progress;
};

// Builds the index of the packed block for the mask with thread_count
// threads (at least 1), reporting progress as a child of meter (null for
// none). More than kRefIndexMaxEntries positions print "Reference block too
// large for the index\n" on standard error and end the process with
// status 1.
ref_index_t *ref_index_build(const ref_block_t *block, const seed_mask_t *mask, int32_t thread_count,
                             progress_meter_t *meter);
// Frees offsets, entries and record, not the mask (null allowed); returns
// null.
// The same build on the storage of spare, an index that is no longer used
// (null: fresh storage, as ref_index_build): its offset array is cleared by
// the build's threads and its entry array kept when large enough, so that a
// run building one index after another touches no new memory. Returns
// spare's record.
ref_index_t *ref_index_build_reusing(const ref_block_t *block, const seed_mask_t *mask, int32_t thread_count,
                                     progress_meter_t *meter, ref_index_t *spare);
ref_index_t *ref_index_free(ref_index_t *index);
// The first entry of a bucket; its entry count goes to length.
inline const uint8_t *ref_index_get_bucket(const ref_index_t *index, uint32_t bucket, uint32_t *length) {
  const uint32_t first = index->offsets[bucket];
  *length = index->offsets[bucket + 1] - first;
  return index->entries + static_cast<uint64_t>(first) * kRefIndexEntryBytes;
}
// Block position of an index entry.
inline uint32_t ref_index_entry_position(const uint8_t *entry) { return seed_load_u32(entry + 1); }
// Debugging print on standard output: "# --------------------", one line
// "# %2.2x %8.8x" (check byte, position) for each of the first counts[bucket]
// entries from entries on, then "# ".
void ref_index_dump_bucket(const uint32_t *counts, const uint8_t *entries, uint32_t bucket);

// End of the block's last piece (the first position after it).
int64_t ref_index_block_end(const ref_block_t *block);
// Thread entries of the two passes; each takes a thread group's arguments
// whose context is the build's job table and claims jobs until none is left.
void *ref_index_count_thread(void *args);
void *ref_index_fill_thread(void *args);
// One slice of positions of a job: count or fill, in nucleotide or colour
// space; the plain forms test the job's colour flag once.
void ref_index_count_kernel(const ref_index_job_t *job, uint32_t first, uint32_t end);
void ref_index_fill_kernel(const ref_index_job_t *job, uint32_t first, uint32_t end);
void ref_index_count_kernel_nt(const ref_index_job_t *job, uint32_t first, uint32_t end);
void ref_index_count_kernel_cs(const ref_index_job_t *job, uint32_t first, uint32_t end);
void ref_index_fill_kernel_nt(const ref_index_job_t *job, uint32_t first, uint32_t end);
void ref_index_fill_kernel_cs(const ref_index_job_t *job, uint32_t first, uint32_t end);
// Turns the kRefIndexBuckets + 1 values of offsets into the sums of the
// values before each (offsets[0] becomes 0) with thread_count threads, and
// returns the sum of them all. The counting pass leaves bucket b's size in
// offsets[b + 1], so the sums are the bucket starts one place up; filling
// claims slots from there and leaves offsets[b] at the start of bucket b.
uint32_t ref_index_prefix_sum(uint32_t *offsets, int32_t thread_count);
// A job over [first, end) with the given arrays (entries null, colour 0,
// no progress record); ref_index_job_free frees one (null allowed) and
// returns null.
ref_index_job_t *ref_index_job_new(const uint8_t *bases, uint32_t first, uint32_t end, uint32_t *offsets,
                                   const uint32_t *mask_words);
ref_index_job_t *ref_index_job_free(ref_index_job_t *job);
