#include "fm/mapper/nyr_scoring_scheme.h"

#include "fm/mapper/nyr_fixed_width.h"

namespace {

// Scheme type 3: costs, match, mismatches, colour cost and mode, no
// optional costs.
constexpr uint8_t kSchemeType = 3;
constexpr int16_t kNoColourCost = -1;
constexpr uint8_t kModeGlobal = 3;
constexpr uint8_t kModeLocal = 0;

void write_i16(Writer *writer, int value) { nyr_write_u16(writer, static_cast<uint16_t>(static_cast<int16_t>(value))); }

}  // namespace

NYRScoringScheme::NYRScoringScheme(int16_t match, int16_t mismatch, int16_t gap_open, int16_t gap_cost,
                                   int16_t deletion_open, int16_t deletion_cost, bool global)
    : match_score(match),
      mismatch_cost(mismatch),
      gap_open(gap_open),
      gap_cost(gap_cost),
      deletion_open(deletion_open),
      deletion_cost(deletion_cost),
      global(global) {}

void NYRScoringScheme::serialize(Writer *writer) const {
  nyr_write_u8(writer, kSchemeType);
  write_i16(writer, gap_open + gap_cost);
  write_i16(writer, gap_cost);
  write_i16(writer, deletion_open + deletion_cost);
  write_i16(writer, deletion_cost);
  write_i16(writer, match_score);
  for (int i = 0; i < 3; i++) write_i16(writer, -mismatch_cost);
  write_i16(writer, kNoColourCost);
  nyr_write_u8(writer, global ? kModeGlobal : kModeLocal);
}
