#include "fm/mapper/nyr_alignment.h"

#include <cstdio>
#include <utility>

#include "common/ryx_exit.h"
#include "fm/mapper/nyr_fixed_width.h"
#include "fm/runtime/encoding.h"

namespace {

// Flags of a hit in the file.
constexpr uint8_t kHitReverse = 0x01;
constexpr uint8_t kHitQuality = 0x02;
constexpr uint8_t kHitWrap = 0x04;
constexpr uint8_t kHitGaMark = 0x08;
constexpr uint8_t kHitSecondSet = 0x10;

}  // namespace

NYRAlignment::NYRAlignment(uint32_t reference_sequence, uint32_t position, uint8_t flags, uint8_t mapping_quality,
                           std::vector<uint8_t> transcript)
    : reference_sequence(reference_sequence),
      position(position),
      flags(flags),
      mapping_quality(mapping_quality),
      transcript(std::move(transcript)) {}

void NYRAlignment::serialize(Writer *writer, uint32_t sequence_count, uint32_t longest,
                             uint32_t sequence_length) const {
  if (reference_sequence >= sequence_count) {
    fprintf(stderr, "Hit on reference sequence %u of only %u\n", reference_sequence, sequence_count);
    fflush(stderr);
    ryx_exit(1);
  }
  // A position at or past the end of its sequence (the shifted copy of a
  // circular occurrence, or an occurrence offset running over the end) is
  // stored as p = P mod L with wrap count P div L - 1; the reader adds
  // (count + 1) x L back. Every p is below L <= longest and so fits its
  // field.
  const uint64_t true_position = static_cast<uint64_t>(position) + ((flags & kShifted) ? sequence_length : 0);
  uint64_t stored = true_position;
  uint64_t wraps = 0;
  if (sequence_length > 0 && true_position >= sequence_length) {
    stored = true_position % sequence_length;
    wraps = true_position / sequence_length;
  }

  uint8_t hit_flags = 0;
  if (flags & kReverse) hit_flags |= kHitReverse;
  if (mapping_quality != kNoQuality) hit_flags |= kHitQuality;
  if (wraps != 0) hit_flags |= kHitWrap;
  if (flags & kGaMark) hit_flags |= kHitGaMark;
  if (flags & kSecondSet) hit_flags |= kHitSecondSet;

  file_write_flex_number(writer, static_cast<unsigned int>(transcript.size()));
  file_write_number(writer, reference_sequence, sequence_count - 1);
  file_write_number(writer, static_cast<uint32_t>(stored), longest - 1);
  nyr_write_u8(writer, hit_flags);
  if (hit_flags & kHitQuality) nyr_write_u8(writer, mapping_quality);
  // P < 2^33 and L >= 1, so the count fits 32 bits.
  if (hit_flags & kHitWrap) file_write_flex_number(writer, static_cast<unsigned int>(wraps - 1));
  nyr_write_bytes(writer, transcript.data(), transcript.size());
}
