#include "fm/mapper/alignment_trims.h"

#include <algorithm>
#include <climits>

#include "fm/mapper/mapper_parameters.h"

namespace {

struct Costs {
  int64_t match, mismatch, gap_open, gap, deletion_open, deletion;
};

Costs costs_of(const MapperParameters *p) {
  return {p->match_score, p->mismatch_cost, p->gap_open, p->gap_cost, p->deletion_open, p->deletion_cost};
}

int64_t score(const Costs &k, uint8_t read_symbol, uint8_t reference_symbol) {
  return read_symbol == reference_symbol && read_symbol < 4 ? k.match : -k.mismatch;
}

// Operations of the run of bytes of one kind starting at code[*i]; *i
// moves past them.
uint64_t take_run(const std::vector<uint8_t> &code, size_t *i, uint8_t kind) {
  uint64_t n = 0;
  while (*i < code.size() && alignment_kind(code[*i]) == kind) n += alignment_run(code[(*i)++]);
  return n;
}

// The end of a code: [insertions I][matches M][gap of G operations][rest],
// read from the start of the code (the head, or the tail of a reversed
// code). rest is the index of the first byte after the gap.
struct EndShape {
  uint64_t clip, matches, gap;
  uint8_t gap_kind;
  size_t rest;
};

bool parse_end(const std::vector<uint8_t> &code, bool insertions_too, EndShape *shape) {
  size_t i = 0;
  shape->clip = take_run(code, &i, kInsertionBase);
  shape->matches = take_run(code, &i, kMatchBase);
  if (i == code.size()) return false;
  shape->gap_kind = alignment_kind(code[i]);
  if (shape->gap_kind == kMatchBase) return false;  // not reached: runs are merged
  if (shape->gap_kind == kInsertionBase && !insertions_too) return false;
  shape->gap = take_run(code, &i, shape->gap_kind);
  shape->rest = i;
  // Insertions that end the code are the clip at the other end, not a gap:
  // they cost nothing, and moving the block into them would only lose.
  return shape->gap_kind == kDeletionBase || i < code.size();
}

// Whether the gap costs exactly what G columns gain over mismatches: only
// then can the block on either side of it score the same.
int64_t gap_cost(const Costs &k, const EndShape &s) {
  const int64_t g = static_cast<int64_t>(s.gap);
  return s.gap_kind == kDeletionBase ? k.deletion_open + g * k.deletion : k.gap_open + g * k.gap;
}

// Scores the block of matches in place (P) and moved across the gap (S),
// symbol pair by symbol pair through the callbacks; gives up as soon as
// the moved block falls more than 10 x (match + mismatch) behind. Returns
// whether moving it is as good as keeping the gap.
template <typename Present, typename Shifted>
bool block_moves(const Costs &k, const EndShape &s, Present present, Shifted shifted) {
  const int64_t cost = gap_cost(k, s);
  if (cost != static_cast<int64_t>(s.gap) * (k.match + k.mismatch)) return false;
  int64_t P = 0, S = 0;
  for (uint64_t j = 0; j < s.matches; j++) {
    P += present(j);
    S += shifted(j);
    if (P - S > 10 * (k.match + k.mismatch)) return false;
  }
  return P - cost == S;
}

bool head_trim(const Alignment &in, const uint8_t *reference, const uint8_t *read, const MapperParameters *p,
               bool insertions_too, Alignment *out, uint32_t *reference_shift) {
  *reference_shift = 0;
  const Costs k = costs_of(p);
  EndShape s;
  bool moves = parse_end(in.code, insertions_too, &s);
  if (moves) {
    const uint64_t I = s.clip, G = s.gap;
    const bool deletion = s.gap_kind == kDeletionBase;
    moves = block_moves(
        k, s, [&](uint64_t j) { return score(k, read[I + j], reference[j]); },
        [&](uint64_t j) {
          return deletion ? score(k, read[I + j], reference[j + G]) : score(k, read[I + j + G], reference[j]);
        });
  }
  if (!moves) {
    out->assign(in);
    return false;
  }
  out->clear();
  out->tag = in.tag;
  out->add_insertions(static_cast<uint32_t>(s.clip + (s.gap_kind == kInsertionBase ? s.gap : 0)));
  out->add_matches(static_cast<uint32_t>(s.matches));
  for (size_t i = s.rest; i < in.code.size(); i++) out->add_byte(in.code[i]);
  if (s.gap_kind == kDeletionBase) *reference_shift = static_cast<uint32_t>(s.gap);
  return true;
}

bool tail_trim(const Alignment &backward, const Alignment &in, const uint8_t *reference, const uint8_t *read,
               const MapperParameters *p, bool insertions_too, Alignment *out) {
  const Costs k = costs_of(p);
  EndShape s;
  bool moves = parse_end(backward.code, insertions_too, &s);
  if (moves) {
    const int64_t I = static_cast<int64_t>(s.clip), G = static_cast<int64_t>(s.gap);
    const int64_t Lr = in.read_length(), Rr = in.reference_length();
    const bool deletion = s.gap_kind == kDeletionBase;
    moves = block_moves(
        k, s,
        [&](uint64_t j) {
          const int64_t x = static_cast<int64_t>(j);
          return score(k, read[Lr - I - 1 - x], reference[Rr - 1 - x]);
        },
        [&](uint64_t j) {
          const int64_t x = static_cast<int64_t>(j);
          return deletion ? score(k, read[Lr - I - 1 - x], reference[Rr - 1 - x - G])
                          : score(k, read[Lr - I - 1 - x - G], reference[Rr - 1 - x]);
        });
  }
  if (!moves) {
    out->assign(in);
    return false;
  }
  // Everything before the tail's gap in forward order, then the block and
  // the clip.
  size_t prefix = in.code.size();
  for (const uint8_t kind : {kInsertionBase, kMatchBase, s.gap_kind})
    while (prefix > 0 && alignment_kind(in.code[prefix - 1]) == kind) prefix--;
  out->clear();
  out->tag = in.tag;
  for (size_t i = 0; i < prefix; i++) out->add_byte(in.code[i]);
  out->add_matches(static_cast<uint32_t>(s.matches));
  out->add_insertions(static_cast<uint32_t>(s.clip + (s.gap_kind == kInsertionBase ? s.gap : 0)));
  return true;
}

}  // namespace

bool trim_deletion_fwd(const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                       const MapperParameters *parameters, Alignment *out, uint32_t *reference_shift) {
  return head_trim(alignment, reference, read, parameters, false, out, reference_shift);
}

bool trim_deletion_bwd(const Alignment &backward, const Alignment &alignment, const uint8_t *reference,
                       const uint8_t *read, const MapperParameters *parameters, Alignment *out) {
  return tail_trim(backward, alignment, reference, read, parameters, false, out);
}

bool trim_gap_dropoff_fwd(const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                          const MapperParameters *parameters, Alignment *out, uint32_t *reference_shift) {
  return head_trim(alignment, reference, read, parameters, true, out, reference_shift);
}

bool trim_gap_dropoff_bwd(const Alignment &backward, const Alignment &alignment, const uint8_t *reference,
                          const uint8_t *read, const MapperParameters *parameters, Alignment *out) {
  return tail_trim(backward, alignment, reference, read, parameters, true, out);
}

bool trim_head_and_end(const Alignment &alignment, const uint8_t *reference, const uint8_t *read,
                       const MapperParameters *parameters, Alignment *out, uint32_t *reference_shift,
                       uint32_t *read_shift, int32_t threshold) {
  *reference_shift = 0;
  *read_shift = 0;
  const Costs k = costs_of(parameters);
  const std::vector<uint8_t> &code = alignment.code;
  const uint32_t n = static_cast<uint32_t>(code.size());
  const uint32_t total_read = alignment.read_length();

  // A place between two operations: the byte and the operations of it
  // already behind, and the read and reference symbols before it.
  struct Place {
    uint32_t index;
    uint32_t consumed;
    uint32_t r;
    uint32_t f;
  };
  size_t start = 0;
  const uint32_t clip = static_cast<uint32_t>(take_run(code, &start, kInsertionBase));
  Place here{static_cast<uint32_t>(start), 0, clip, 0};
  Place low = here;
  int64_t t = 0;
  int64_t lowest = INT64_MAX;
  bool reached = false;
  // After each step: the lowest score and its latest place, then the
  // threshold.
  auto step_done = [&]() {
    if (t <= lowest) {
      lowest = t;
      low = here;
    }
    reached = t >= threshold;
  };
  while (!reached && here.index < n) {
    const uint8_t byte = code[here.index];
    const uint8_t kind = alignment_kind(byte);
    if (kind == kMatchBase) {
      const uint32_t run = alignment_run(byte);
      t += score(k, read[here.r], reference[here.f]);
      here.r++;
      here.f++;
      if (++here.consumed == run) {
        here.index++;
        here.consumed = 0;
      }
      step_done();
      continue;
    }
    size_t i = here.index;
    const uint64_t g = take_run(code, &i, kind);
    if (kind == kInsertionBase && i == n) break;  // the trailing clip
    here.index = static_cast<uint32_t>(i);
    if (kind == kDeletionBase) {
      t -= k.deletion_open + static_cast<int64_t>(g) * k.deletion;
      here.f += static_cast<uint32_t>(g);
    } else {
      t -= k.gap_open + static_cast<int64_t>(g) * k.gap;
      here.r += static_cast<uint32_t>(g);
    }
    step_done();
  }

  // The head up to the lowest place becomes clip; from there on the code
  // follows to the place `to`, and the remaining read symbols are clip.
  auto clip_head = [&](const Place &to, bool to_end) {
    out->clear();
    out->tag = alignment.tag;
    out->add_insertions(low.r);
    if (to_end) {
      for (uint32_t i = low.index; i < n; i++) {
        const uint8_t kind = alignment_kind(code[i]);
        out->add(kind, alignment_max_run(kind), alignment_run(code[i]) - (i == low.index ? low.consumed : 0));
      }
    } else {
      AlignmentIterator(code.data(), n, low.index, static_cast<uint8_t>(low.consumed))
          .append_rest_to(to.r - low.r, to.f - low.f, out);
      out->add_insertions(total_read - to.r);
    }
    *reference_shift = low.f;
    *read_shift = low.r - clip;
  };

  if (reached) {
    if (lowest <= 0) {
      clip_head(here, false);
      return true;
    }
    if (here.index < n) {
      out->clear();
      out->tag = alignment.tag;
      AlignmentIterator(alignment).append_rest_to(here.r, here.f, out);
      out->add_insertions(total_read - here.r);
      return out->code != code;
    }
  } else if (lowest < 0) {
    clip_head(here, true);
    return true;
  }
  out->assign(alignment);
  return false;
}
