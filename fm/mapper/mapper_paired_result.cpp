#include "fm/mapper/mapper_paired_result.h"

#include <algorithm>

MapperPairing::MapperPairing(RandomState *random, uint64_t capacity)
    : random(random), capacity(std::max<uint64_t>(capacity, 1)) {}

void MapperPairing::add_pair(unsigned first_index, unsigned first_occurrence, bool first_strand, unsigned second_index,
                             unsigned second_occurrence, bool second_strand, bool swapped, unsigned distance,
                             const _sequence_position &first_place, const _sequence_position &second_place) {
  if (pairs_found != UINT32_MAX) pairs_found++;
  offer({first_index, first_occurrence, static_cast<uint8_t>(first_strand), second_index, second_occurrence,
         static_cast<uint8_t>(second_strand), static_cast<uint8_t>(swapped), distance, first_place, second_place});
}

void MapperPairing::offer(const MapperPairingEntry &entry) {
  // A count that can no longer grow cannot keep the sample uniform; past
  // 2^32 - 1 pairs the sample stays as it is.
  if (pairs_seen == UINT32_MAX) return;
  const uint64_t r = random->draw_ranged(static_cast<unsigned long long>(pairs_seen) + 1);
  if (pairs_seen < capacity) {
    if (entries.size() <= pairs_seen) entries.resize(pairs_seen + 1);
    if (r < pairs_seen) entries[pairs_seen] = entries[r];
    entries[r] = entry;
  } else if (r < capacity) {
    entries[r] = entry;
  }
  pairs_seen++;
}

MapperPairedResult::MapperPairedResult(RandomState *random, long long capacity)
    : pairing(random, capacity > 0 ? static_cast<uint64_t>(capacity) : 1) {}

void MapperPairedResult::clear() {
  pairing.clear();
  mate[0].clear();
  mate[1].clear();
}

namespace {

// Alignment counts of both mates by strand: what an appended result's
// alignment indices move by.
struct ListSizes {
  uint32_t n[2][2];
};

ListSizes list_sizes(const MapperPairedResult &r) {
  ListSizes s{};
  for (int m = 0; m < 2; m++)
    for (int k = 0; k < 2; k++) s.n[m][k] = static_cast<uint32_t>(r.mate[m].strand[k].alignments.size());
  return s;
}

// entry with the alignment indices of each part raised by the counts of
// its mate (the first part is mate 2 when swapped) and strand.
MapperPairingEntry moved(MapperPairingEntry entry, const ListSizes &by) {
  const int first_mate = entry.swapped ? 1 : 0;
  entry.first_index += by.n[first_mate][entry.first_strand];
  entry.second_index += by.n[1 - first_mate][entry.second_strand];
  return entry;
}

uint32_t add_counts(uint32_t a, uint32_t b) {
  const uint64_t sum = static_cast<uint64_t>(a) + b;
  return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

}  // namespace

void MapperPairedResult::copy(MapperPairedResult *other) {
  const ListSizes before = list_sizes(*this);
  mate[0].combine(&other->mate[0]);
  mate[1].combine(&other->mate[1]);
  const uint32_t n = other->pairing.valid_count();
  for (uint32_t i = 0; i < n; i++) pairing.offer(moved(other->pairing.entries[i], before));
  pairing.pairs_found = add_counts(pairing.pairs_found, other->pairing.pairs_found);
}

void MapperPairedResult::combine(MapperPairedResult *first, MapperPairedResult *second) {
  if (first->has_pairs() || second->has_pairs()) {
    // second's alignments land after first's, which this empty result
    // takes first.
    const ListSizes by = list_sizes(*first);
    const uint32_t n1 = first->pairing.valid_count(), n2 = second->pairing.valid_count();
    for (uint32_t i = 0; i < n1; i++) pairing.offer(first->pairing.entries[i]);
    for (uint32_t i = 0; i < n2; i++) pairing.offer(moved(second->pairing.entries[i], by));
    for (int m = 0; m < 2; m++) {
      mate[m].combine(&first->mate[m]);
      mate[m].combine(&second->mate[m]);
    }
    pairing.pairs_found = add_counts(first->pairing.pairs_found, second->pairing.pairs_found);
    return;
  }
  for (int m = 0; m < 2; m++) {
    MapperResult &x = first->mate[m], &y = second->mate[m];
    // Scores are compared only between two mates with hits: a candidate
    // whose alignments were all filtered away may still hold a best score,
    // and must not push out the other's hits.
    const bool x_hits = x.hit_count() > 0, y_hits = y.hit_count() > 0;
    const bool take_x = x_hits && (!y_hits || x.best_score >= y.best_score);
    const bool take_y = y_hits && (!x_hits || y.best_score >= x.best_score);
    if (take_x) mate[m].combine(&x);
    if (take_y) mate[m].combine(&y);
  }
}
