#include "refmap/align/candidate_filter.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_record.h"

// Bit-plane layout. A query of length n is held in four phases; phase p has
// query base i in 2-bit slot p + i of a run of 64-bit words (32 slots per
// word), with a parallel plane holding 01 in every slot of a known base
// (code 0 to 3). A candidate's block bytes from byte floor(d / 4) are laid
// over the phase d mod 4, so slot j compares query base j - p with block
// position d - p + j. Every comparison works on whole words: 32 slots at a
// time for the 2-bit planes, 64 positions at a time for the bitmaps.

namespace {

constexpr uint64_t kEvenBits = 0x5555555555555555ull;

// Window lengths and steps by space and mode; the second window only in
// mode 2.
struct filter_windows_t {
  int32_t length[2];
  int32_t step[2];
  int32_t windows;
  int32_t every_third;
};

const filter_windows_t kWindows[2][3] = {
    {{{30, 0}, {30, 0}, 1, 1}, {{20, 0}, {20, 0}, 1, 1}, {{17, 21}, {17, 21}, 2, 0}},
    {{{29, 0}, {30, 0}, 1, 1}, {{19, 0}, {20, 0}, 1, 1}, {{16, 23}, {16, 23}, 2, 0}},
};

}  // namespace

struct candidate_filter_state_t {
  int32_t query_count;
  int32_t *lengths;        // -1 for a null query
  int32_t *slot_words;     // 2-bit words per phase of each query
  uint64_t **codes;        // per query: 4 phases x slot_words words (owned)
  uint64_t **known;        // per query: the same for the known planes (owned)
  const uint8_t *bases;    // block (borrowed)
  const uint8_t *block_known;
  int64_t block_bytes;     // bytes of the block that hold positions
  int32_t max_slot_words;
  // Work areas for one candidate, sized for the longest query.
  uint64_t *window_codes;  // the block's bases over the slot words
  uint64_t *window_known;  // the block's known mask, 01 per known slot
  uint64_t *bitmap;        // one diagonal's match bitmap
  uint64_t *windowed;      // the match bitmap narrowed to one window length
  uint64_t *scratch;       // shifts of the bitmap
  uint64_t *joined[2];     // the window bitmaps of both diagonals joined
};

namespace {

// Packs the 01 bits of 32 two-bit slots into the low 32 bits.
inline uint64_t compact_pairs(uint64_t x) {
  x &= kEvenBits;
  x = (x | (x >> 1)) & 0x3333333333333333ull;
  x = (x | (x >> 2)) & 0x0F0F0F0F0F0F0F0Full;
  x = (x | (x >> 4)) & 0x00FF00FF00FF00FFull;
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
  x = (x | (x >> 16)) & 0x00000000FFFFFFFFull;
  return x;
}

// out = in >> shift over a little-endian run of words (bit k of out is bit
// k + shift of in); shift below 64.
inline void shift_down(const uint64_t *in, uint64_t *out, int32_t words, int32_t shift) {
  if (shift == 0) {
    if (in != out) memcpy(out, in, static_cast<size_t>(words) * 8);
    return;
  }
  for (int32_t w = 0; w < words; w++) {
    const uint64_t high = w + 1 < words ? in[w + 1] << (64 - shift) : 0;
    out[w] = (in[w] >> shift) | high;
  }
}

// Bit i of bits stays set only when bits i to i + length - 1 were all set.
void window_and(uint64_t *bits, uint64_t *scratch, int32_t words, int32_t length) {
  int32_t covered = 1;
  while (covered * 2 <= length) {
    shift_down(bits, scratch, words, covered);
    for (int32_t w = 0; w < words; w++) bits[w] &= scratch[w];
    covered *= 2;
  }
  if (covered < length) {
    // Windows of `covered` at i and at i + length - covered span the whole.
    shift_down(bits, scratch, words, length - covered);
    for (int32_t w = 0; w < words; w++) bits[w] &= scratch[w];
  }
}

// The first set bit at or after from, or limit when there is none below it.
inline int32_t next_set(const uint64_t *bits, int32_t from, int32_t limit) {
  if (from >= limit) return limit;
  int32_t w = from >> 6;
  uint64_t word = bits[w] & (~0ull << (from & 63));
  const int32_t last = (limit - 1) >> 6;
  for (;;) {
    if (word != 0) {
      const int32_t at = (w << 6) + __builtin_ctzll(word);
      return at < limit ? at : limit;
    }
    if (++w > last) return limit;
    word = bits[w];
  }
}

// Copies the block's bytes from byte `first` on into the work areas,
// reading nothing outside the block, and turns the known mask into 01 per
// known slot.
void load_block(candidate_filter_state_t *s, int64_t first, int32_t words) {
  auto *codes = reinterpret_cast<uint8_t *>(s->window_codes);
  auto *known = reinterpret_cast<uint8_t *>(s->window_known);
  const int64_t bytes = static_cast<int64_t>(words) * 8;
  memset(codes, 0, static_cast<size_t>(bytes));
  memset(known, 0, static_cast<size_t>(bytes));
  const int64_t from = first < 0 ? 0 : first;
  const int64_t to = first + bytes < s->block_bytes ? first + bytes : s->block_bytes;
  if (from < to) {
    memcpy(codes + (from - first), s->bases + from, static_cast<size_t>(to - from));
    memcpy(known + (from - first), s->block_known + from, static_cast<size_t>(to - from));
  }
  for (int32_t w = 0; w < words; w++) s->window_known[w] = s->window_known[w] & (s->window_known[w] >> 1) & kEvenBits;
}

// The match bitmap of query q on diagonal d into s->bitmap, in query
// positions (bit i for query position i); returns its word count.
int32_t match_bitmap(candidate_filter_state_t *s, int32_t colour, int32_t q, int64_t d) {
  const int32_t words = s->slot_words[q];
  const int64_t first = d >= 0 ? d / 4 : -((3 - d) / 4);
  const int32_t phase = static_cast<int32_t>(d - 4 * first);
  load_block(s, first, words);
  const uint64_t *query = s->codes[q] + static_cast<size_t>(phase) * words;
  const uint64_t *query_known = s->known[q] + static_cast<size_t>(phase) * words;
  const int32_t bitmap_words = (words + 1) / 2;
  memset(s->bitmap, 0, static_cast<size_t>(bitmap_words) * 8);
  uint64_t x_next = 0, k_next = 0;
  for (int32_t w = words - 1; w >= 0; w--) {
    const uint64_t x = query[w] ^ s->window_codes[w];
    const uint64_t k = query_known[w] & s->window_known[w];
    uint64_t match;
    if (colour) {
      // Slot j matches when the differences at j and j + 1 agree: the
      // colours of query and block are then equal.
      const uint64_t y = x ^ ((x >> 2) | (x_next << 62));
      match = ~(y | (y >> 1)) & k & ((k >> 2) | (k_next << 62));
    } else {
      match = ~(x | (x >> 1)) & k;
    }
    x_next = x;
    k_next = k;
    s->bitmap[w / 2] |= compact_pairs(match) << (32 * (w & 1));
  }
  shift_down(s->bitmap, s->bitmap, bitmap_words, phase);
  return bitmap_words;
}

}  // namespace

candidate_filter_t *candidate_filter_new(seq_record_t *const *queries, int32_t count, const uint8_t *bases,
                                         const uint8_t *known, int64_t block_length, int32_t mode, int32_t colour) {
  if (mode < 0 || mode > 2) {
    fprintf(stderr, "Unknown candidate filter mode %d\n", mode);
    ryx_exit(1);
  }
  auto *s = static_cast<candidate_filter_state_t *>(ryx_calloc(sizeof(candidate_filter_state_t)));
  s->query_count = count;
  s->lengths = static_cast<int32_t *>(ryx_calloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(int32_t)));
  s->slot_words = static_cast<int32_t *>(ryx_calloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(int32_t)));
  s->codes = static_cast<uint64_t **>(ryx_calloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(uint64_t *)));
  s->known = static_cast<uint64_t **>(ryx_calloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(uint64_t *)));
  s->bases = bases;
  s->block_known = known;
  s->block_bytes = (block_length + 3) / 4;
  s->max_slot_words = 2;
  for (int32_t q = 0; q < count; q++) {
    const seq_record_t *record = queries[q];
    if (record == nullptr) {
      s->lengths[q] = -1;
      continue;
    }
    const int32_t n = static_cast<int32_t>(record->length);
    s->lengths[q] = n;
    // Slots up to phase 3 + n, rounded to whole 64-bit bitmap words.
    const int32_t words = ((n + 3 + 63) / 64) * 2;
    s->slot_words[q] = words;
    if (words > s->max_slot_words) s->max_slot_words = words;
    s->codes[q] = static_cast<uint64_t *>(ryx_calloc(static_cast<size_t>(4 * words) * 8));
    s->known[q] = static_cast<uint64_t *>(ryx_calloc(static_cast<size_t>(4 * words) * 8));
    for (int32_t p = 0; p < 4; p++) {
      uint64_t *codes = s->codes[q] + static_cast<size_t>(p) * words;
      uint64_t *known_plane = s->known[q] + static_cast<size_t>(p) * words;
      for (int32_t i = 0; i < n; i++) {
        const uint8_t code = record->residues[i];
        if (code > 3) continue;
        const int32_t slot = p + i;
        codes[slot / 32] |= static_cast<uint64_t>(code) << (2 * (slot % 32));
        known_plane[slot / 32] |= 1ull << (2 * (slot % 32));
      }
    }
  }
  const size_t work = static_cast<size_t>(s->max_slot_words) * 8;
  s->window_codes = static_cast<uint64_t *>(ryx_calloc(work));
  s->window_known = static_cast<uint64_t *>(ryx_calloc(work));
  s->bitmap = static_cast<uint64_t *>(ryx_calloc(work));
  s->windowed = static_cast<uint64_t *>(ryx_calloc(work));
  s->scratch = static_cast<uint64_t *>(ryx_calloc(work));
  s->joined[0] = static_cast<uint64_t *>(ryx_calloc(work));
  s->joined[1] = static_cast<uint64_t *>(ryx_calloc(work));
  auto *filter = static_cast<candidate_filter_t *>(ryx_calloc(sizeof(candidate_filter_t)));
  filter->mode = mode;
  filter->colour = colour != 0;
  filter->state = s;
  return filter;
}

int32_t candidate_filter_count(candidate_filter_t *filter, candidate_t candidate) {
  candidate_filter_state_t *s = filter->state;
  const int32_t q = static_cast<int32_t>(candidate.query);
  if (candidate.query >= static_cast<uint32_t>(s->query_count) || s->lengths[q] < 0) return 0;
  const int32_t n = s->lengths[q];
  const filter_windows_t &windows = kWindows[filter->colour][filter->mode];
  // Positions of a split search may lie a little before the block: the
  // candidate word is then a negative number.
  const int64_t position = static_cast<int32_t>(candidate.position);
  int32_t words = 0;
  for (int32_t v = 0; v < windows.windows; v++) memset(s->joined[v], 0, static_cast<size_t>(s->max_slot_words) * 8);
  for (int64_t d = position; d >= position - 1; d--) {
    words = match_bitmap(s, filter->colour, q, d);
    for (int32_t v = 0; v < windows.windows; v++) {
      memcpy(s->windowed, s->bitmap, static_cast<size_t>(words) * 8);
      window_and(s->windowed, s->scratch, words, windows.length[v]);
      for (int32_t w = 0; w < words; w++) s->joined[v][w] |= s->windowed[w];
    }
  }
  if (windows.every_third) {
    // Starts at forward read positions 0, 3, 6, ...
    int32_t residue = 0;
    if (q & 1) residue = ((n - windows.step[0]) % 3 + 3) % 3;
    for (int32_t w = 0; w < words; w++) {
      // Word w starts at position 64 w, and 64 = 1 mod 3.
      const int32_t offset = ((residue - w) % 3 + 3) % 3;
      static constexpr uint64_t kThirds[3] = {0x9249249249249249ull, 0x2492492492492492ull, 0x4924924924924924ull};
      s->joined[0][w] &= kThirds[offset];
    }
  }
  const int32_t limit = words * 64;
  int32_t count = 0;
  int32_t at = 0;
  if (windows.windows == 1) {
    for (;;) {
      at = next_set(s->joined[0], at, limit);
      if (at >= limit) break;
      count++;
      at += windows.step[0];
    }
  } else {
    for (;;) {
      const int32_t a = next_set(s->joined[0], at, limit);
      const int32_t b = next_set(s->joined[1], at, limit);
      if (a >= limit && b >= limit) break;
      const int32_t land_a = a < limit ? a + windows.step[0] : INT32_MAX;
      const int32_t land_b = b < limit ? b + windows.step[1] : INT32_MAX;
      count++;
      at = land_a <= land_b ? land_a : land_b;
    }
  }
  return count;
}

int32_t candidate_filter_apply(candidate_filter_t *filter, candidate_t *list, int32_t count,
                               const uint32_t *thresholds) {
  const candidate_filter_state_t *s = filter->state;
  int32_t kept = 0;
  for (int32_t k = 0; k < count; k++) {
    const candidate_t candidate = list[k];
    if (candidate.query >= static_cast<uint32_t>(s->query_count)) continue;
    const int32_t n = s->lengths[candidate.query];
    if (n < 0) continue;
    const int32_t windows = candidate_filter_count(filter, candidate);
    // Without a table (a seed search that keeps no thresholds) every
    // threshold is 0.
    const uint32_t threshold = thresholds != nullptr ? thresholds[n / 32] : 0;
    if (static_cast<uint32_t>(windows) >= threshold) list[kept++] = candidate;
  }
  return kept;
}

candidate_filter_t *candidate_filter_free(candidate_filter_t *filter) {
  if (filter == nullptr) return nullptr;
  candidate_filter_state_t *s = filter->state;
  for (int32_t q = 0; q < s->query_count; q++) {
    ryx_free(s->codes[q]);
    ryx_free(s->known[q]);
  }
  ryx_free(s->codes);
  ryx_free(s->known);
  ryx_free(s->lengths);
  ryx_free(s->slot_words);
  ryx_free(s->window_codes);
  ryx_free(s->window_known);
  ryx_free(s->bitmap);
  ryx_free(s->windowed);
  ryx_free(s->scratch);
  ryx_free(s->joined[0]);
  ryx_free(s->joined[1]);
  ryx_free(s);
  ryx_free(filter);
  return nullptr;
}
