// The gap-sequence map: for every scaffold gap that overlap resolution
// closed, the merged sequence that replaces the two contig ends around it,
// keyed by the oriented id of the gap edge.
//
// A generic_hash_map_t with 4-byte keys (the edge id, hashed as itself) and
// 16-byte gap_sequence_t values. Overlap resolution fills it, the stage file
// of the paired-optimised graph carries it, and the contig writer takes each
// merged sequence once (gap_sequence_map_take_sequence) and releases it.
// The map owns the merged sequences it still holds: gap_sequence_map_free
// releases them with the table, so a map that is saved, loaded or dropped
// without being written out leaks nothing. One thread at a time.
//
// Stage-file piece (little-endian): a presence byte (0: no map, nothing
// follows; 1: a map), u64 entry count, then per entry in the map's
// iteration order u32 edge, u32 offset, u32 end, u32 residue count and the
// residues, one byte each (codes 0 to 4, 4 = N).
#pragma once

#include <cstdint>
#include <cstdio>

#include "denovo/reads/generic_hash_map.h"
#include "denovo/reads/read_info.h"

struct seq_record_t;

extern "C" {

struct gap_sequence_t {
  int32_t offset;          // bases at the end of the contig before the gap that the merged sequence covers
  int32_t end;             // bases at the start of the contig after the gap that it covers
  seq_record_t *sequence;  // merged residues, codes 0 to 4; owned by the entry until taken
};

typedef generic_hash_map_t gap_sequence_map_t;

// Overlap resolution takes at most this many residues from either side of a
// gap, so an entry's offset and end never exceed it and its merged sequence
// is never longer than twice it.
constexpr int32_t kGapSequenceMaxSide = 8192;

// An empty map.
gap_sequence_map_t *gap_sequence_map_new(void);
// Releases every merged sequence still held, the table and the map (null
// allowed); returns null.
gap_sequence_map_t *gap_sequence_map_free(gap_sequence_map_t *map);
// Stores the entry for edge; 1 when the edge was new, 0 when it was
// already present (the map is then unchanged).
int gap_sequence_map_insert(gap_sequence_map_t *map, oriented_id_t edge, const gap_sequence_t *entry);
// Copies the entry of edge to *entry and returns 1, or returns 0 when the
// edge has none. (Entries are copied because the map packs each value right
// after its 4-byte key, where a pointer member is not aligned.)
int gap_sequence_map_find(const gap_sequence_map_t *map, oriented_id_t edge, gap_sequence_t *entry);
// Hands the entry's merged sequence to the caller, who releases it, and
// leaves the entry without one; null when the edge has no entry or its
// sequence was taken before.
seq_record_t *gap_sequence_map_take_sequence(gap_sequence_map_t *map, oriented_id_t edge);

// Writes the stage-file piece, or the single byte 0 for null. Write errors
// are left to the caller's check of the file.
void gap_sequence_map_write(FILE *file, const gap_sequence_map_t *map);
// Reads a piece: null for the byte 0. An edge stored twice prints "ERROR:
// edge: %x is already present in map\n"; a presence byte other than 0 or
// 1, an entry count or residue count beyond the bytes left, an offset or
// end outside 0 .. kGapSequenceMaxSide, a merged sequence longer than twice
// that, or a residue above 4 prints "gap_sequence_map_read: " and the
// reason; an early end of the file "Error reading file: early
// termination"; all on standard error with status 1.
gap_sequence_map_t *gap_sequence_map_read(FILE *file);
// Checks a loaded map against the graph loaded with it: every key must name
// one of the graph's edge_count edge slots (either strand). Otherwise prints
// "gap_sequence_map_read: edge %x is not an edge of the graph" on standard
// error and ends the process with status 1. Null map allowed.
void gap_sequence_map_check_edges(const gap_sequence_map_t *map, int32_t edge_count);

}  // extern "C"
