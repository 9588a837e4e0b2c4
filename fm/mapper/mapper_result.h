// The alignments found for one read.
//
// Each strand (0 the read, 1 its reverse complement) has a list of
// alignments and a hit total, the sum of their hit counts: one alignment
// stands for every reference place where its aligned reference text
// occurs. The hits of a result are numbered 0 to T - 1 (T the two totals
// added): all hits of strand 0, alignment by alignment in list order, each
// alignment's in the order of its reference occurrences; then strand 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fm/mapper/alignment.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_search.h"

// Flags of an alignment, carried to each of its hits.
constexpr uint8_t kAlignmentSecondSet = 1;  // found in the G-to-A reference set of a bisulphite run
constexpr uint8_t kAlignmentGaMark = 2;     // the read was converted G to A (paired bisulphite runs)

struct MapperAlignment {
  MapperRead *read = nullptr;
  // The reference set, the search of the whole aligned reference text, and
  // strand, set, offset and length of the seed the alignment grew from.
  MapperSearch search;
  Alignment alignment;
  uint32_t hit_count = 0;         // occurrences of the aligned reference text
  uint32_t reference_offset = 0;  // alignment start within the aligned text
  uint8_t flags = 0;
};

// The alignments of one strand in filing order. Entries are never freed:
// clearing keeps them, with their transcript buffers, for the alignments of
// later reads, so that a result stops allocating once it has held as many
// alignments of such lengths.
class MapperAlignmentList {
 public:
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  MapperAlignment &operator[](size_t i) { return entries_[i]; }
  const MapperAlignment &operator[](size_t i) const { return entries_[i]; }
  MapperAlignment *begin() { return entries_.data(); }
  MapperAlignment *end() { return entries_.data() + count_; }
  const MapperAlignment *begin() const { return entries_.data(); }
  const MapperAlignment *end() const { return entries_.data() + count_; }

  // A new last entry, holding whatever an earlier one left: the caller
  // sets every field.
  MapperAlignment &push();
  // No entries; their buffers stay.
  void clear() { count_ = 0; }

 private:
  std::vector<MapperAlignment> entries_;
  size_t count_ = 0;
};

struct MapperResultStrand {
  MapperAlignmentList alignments;
  uint32_t hit_total = 0;
};

class MapperResult {
 public:
  // Empties both lists, sets both hit totals and the best score to 0 and
  // the mapping quality to 255 (none); the G-to-A mark stays.
  void clear();

  // Files an alignment on the search's strand: hit count = the search's
  // occurrences (at most 2^32 - 1), flags from the search's reference set
  // and the mark. The alignment is taken over: the object passed is left
  // empty, keeping its room for the caller's next transcript.
  void add_alignment(MapperRead *read, const MapperSearch &search, Alignment &&alignment, uint32_t reference_offset);

  // Takes other's best score and mapping quality and moves its alignments,
  // in order, to the end of this result's lists of the same strand, adding
  // their hit counts; other is left without alignments or hits.
  void combine(MapperResult *other);

  // Both hit totals added.
  uint64_t hit_count() const { return static_cast<uint64_t>(strand[0].hit_total) + strand[1].hit_total; }
  // The alignment holding hit number hit (below hit_count()), and in
  // *occurrence which of its occurrences that hit is; null when there is no
  // such hit.
  const MapperAlignment *find_hit(uint64_t hit, uint32_t *occurrence) const;

  MapperResultStrand strand[2];
  int32_t best_score = 0;
  uint8_t mapping_quality = 255;
  bool ga_mark = false;
};
