// Tidying the ends of local alignments.
//
// A backtrace that ends next to a gap may have placed a block of matches on
// the wrong side of it: when moving the block across the gap scores the
// same as keeping the gap, the gap is dropped (a deletion by shifting the
// block along the reference, an insertion by adding it to the soft clip).
// trim_head_and_end clips an unprofitable start and the score-neutral end.
//
// Each trim writes its result to out (another object than the input,
// whose room is reused) and returns whether it changed the code; when it
// does not apply, out is an unchanged copy. reference holds the reference
// symbols from the alignment's start, read the read symbols of its strand
// from the read's start. Symbols score the match score when equal bases,
// minus the mismatch cost otherwise (an N never matches).
#pragma once

#include <cstdint>

#include "fm/mapper/alignment.h"

class MapperParameters;

// Head: a code starting [insertions I][matches M][deletions D] whose
// matches score the same D places further along the reference, where the
// deletion costs exactly what the block would gain, becomes
// [I insertions][M matches][rest]; *reference_shift gets D (0 otherwise).
bool trim_deletion_fwd(const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                       const MapperParameters *parameters, Alignment *out, uint32_t *reference_shift);
// Tail: the same for a code ending [deletions D][matches M][insertions I],
// given in reverse order (backward) and in forward order; the deletion is
// dropped and the reference start stays.
bool trim_deletion_bwd(const Alignment &backward, const Alignment &alignment, const uint8_t *reference,
                       const uint8_t *read, const MapperParameters *parameters, Alignment *out);
// As trim_deletion_fwd, and also for an insertion run E after the first
// matches: when the block scores the same E places further along the
// read, the insertion joins the clip ([I + E insertions][M matches][rest])
// and the reference start stays. Insertions that end the code are the
// trailing clip and never such a run.
bool trim_gap_dropoff_fwd(const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                          const MapperParameters *parameters, Alignment *out, uint32_t *reference_shift);
// As trim_deletion_bwd, and also for an insertion run E before the last
// matches, which joins the trailing clip; never the leading clip itself.
bool trim_gap_dropoff_bwd(const Alignment &backward, const Alignment &alignment, const uint8_t *reference,
                          const uint8_t *read, const MapperParameters *parameters, Alignment *out);

// Walks the code after its leading clip with a running score (match
// columns one by one, each gap run as a whole with its open cost; a final
// insertion run is the trailing clip and not scored) and keeps the lowest
// score and the latest place it occurred. When the score reaches
// threshold, everything after that place becomes clip, and the start up to
// the lowest place too when that score is 0 or less; when the code ends
// first, the start up to the lowest place is clipped only when that score
// is below 0. *reference_shift gets the reference symbols clipped at the
// head and *read_shift the read symbols newly clipped there (both 0 when
// the head stays).
bool trim_head_and_end(const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                       const MapperParameters *parameters, Alignment *out, uint32_t *reference_shift,
                       uint32_t *read_shift, int32_t threshold);
