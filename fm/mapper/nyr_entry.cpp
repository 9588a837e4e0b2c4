#include "fm/mapper/nyr_entry.h"

#include <utility>

#include "fm/mapper/nyr_fixed_width.h"
#include "fm/runtime/encoding.h"

namespace {

// Entry flags.
constexpr uint8_t kMatched = 0x01;
constexpr uint8_t kHitTotalFollows = 0x02;
constexpr uint8_t kStoredCountFollows = 0x04;
constexpr uint8_t kPaired = 0x08;
constexpr uint8_t kBisulphite = 0x20;

}  // namespace

NYREntry::NYREntry(bool bisulphite) : bisulphite_(bisulphite) {}

void NYREntry::add_alignment(uint32_t reference_sequence, uint32_t position, bool shifted, bool reverse,
                             std::vector<uint8_t> transcript, bool second_set, bool ga_mark,
                             uint8_t mapping_quality) {
  uint8_t flags = 0;
  if (reverse) flags |= NYRAlignment::kReverse;
  if (second_set) flags |= NYRAlignment::kSecondSet;
  if (ga_mark) flags |= NYRAlignment::kGaMark;
  if (shifted) flags |= NYRAlignment::kShifted;
  alignments_.emplace_back(reference_sequence, position, flags, mapping_quality, std::move(transcript));
}

void NYREntry::set_paired(bool paired) { paired_ = paired; }

void NYREntry::add_hits(uint32_t n) {
  const uint64_t total = static_cast<uint64_t>(hit_total_) + n;
  hit_total_ = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

void NYREntry::serialize(Writer *writer, uint32_t sequence_count, uint32_t longest,
                         uint32_t const *sequence_lengths) const {
  const uint8_t paired = paired_ ? kPaired : 0;
  if (alignments_.empty()) {
    nyr_write_u8(writer, paired);
    return;
  }
  uint8_t flags = paired | kMatched;
  if (bisulphite_) flags |= kBisulphite;
  const auto stored = static_cast<uint32_t>(alignments_.size());
  // A reader takes the counts as the number of hits that follow; more hits
  // than the total would be read as the start of the next record.
  const uint32_t total = hit_total_ < stored ? stored : hit_total_;
  if (total < 2) {
    nyr_write_u8(writer, flags);
  } else if (stored < 2) {
    nyr_write_u8(writer, flags | kHitTotalFollows);
    file_write_flex_number(writer, total - 2);
  } else {
    nyr_write_u8(writer, flags | kHitTotalFollows | kStoredCountFollows);
    file_write_flex_number(writer, total - 2);
    file_write_flex_number(writer, stored - 2);
  }
  for (NYRAlignment const &hit : alignments_) {
    const uint32_t length = hit.reference_sequence < sequence_count ? sequence_lengths[hit.reference_sequence] : 0;
    hit.serialize(writer, sequence_count, longest, length);
  }
}
