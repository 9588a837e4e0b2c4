// The band's geometry, score bounds and backtrace tests, and the plain
// dispatcher that runs the column kernels in 16-bit or 32-bit lanes.
#include "fm/mapper/mapper_band.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "common/memory.h"
#include "fm/mapper/mapper_band_kernels.h"

namespace {

// Columns whose scores span more than this leave 16-bit lanes; the rest of
// the 65536 values is headroom (see choose_step_up).
constexpr int64_t kSpan16 = 65000;

// Lane of band row f in a column of S vectors of T lanes: vector f mod S,
// lane f div S.
// (Band rows and segment counts fit 32 bits, whose division is the
// cheaper one.)
template <typename T>
T lane(__m128i const *vectors, uint32_t segments, uint32_t band_row) {
  T v;
  memcpy(&v,
         reinterpret_cast<char const *>(vectors + band_row % segments) + sizeof(T) * (band_row / segments),
         sizeof v);
  return v;
}

template <typename T>
void set_lane(__m128i *vectors, uint32_t segments, uint32_t band_row, T v) {
  memcpy(reinterpret_cast<char *>(vectors + band_row % segments) + sizeof(T) * (band_row / segments), &v, sizeof v);
}

}  // namespace

// ---------------------------------------------------------------- MapperBand

MapperBand *MapperBand::create(int32_t match, int32_t mismatch, int32_t insertion_open, int32_t insertion_cost,
                               int32_t deletion_open, int32_t deletion_cost) {
  return new VectorizedMapperBand(match, mismatch, insertion_open, insertion_cost, deletion_open, deletion_cost);
}

MapperBand::MapperBand(int32_t match, int32_t mismatch, int32_t insertion_open, int32_t insertion_cost,
                       int32_t deletion_open, int32_t deletion_cost)
    : match_score_(match),
      mismatch_cost_(mismatch),
      insertion_open_(insertion_open),
      insertion_cost_(insertion_cost),
      deletion_open_(deletion_open),
      deletion_cost_(deletion_cost),
      out_of_read_penalty_(std::max({mismatch, insertion_open + insertion_cost, deletion_open + deletion_cost})),
      linear_(insertion_open == 0 && deletion_open == 0) {
  assert(match >= 0 && match <= 127 && mismatch >= 0 && mismatch <= 127);
  assert(insertion_cost >= 1 && deletion_cost >= 1 && insertion_open >= 0 && deletion_open >= 0);
  for (int a = 0; a < 8; a++) {
    for (int b = 0; b < 8; b++) {
      int8_t s = 0;
      if (a < 5 && b < 5) s = static_cast<int8_t>(a == b && a < 4 ? match : -mismatch);
      score_matrix_[a * 8 + b] = s;
    }
  }
}

MapperBand::~MapperBand() = default;

void MapperBand::set_geometry(uint32_t rows, int32_t threshold, bool global, uint8_t const *reference,
                              uint8_t const *read) {
  rows_ = rows;
  global_ = global;
  reference_ = reference;
  read_ = read;
  // The allowance is what the alignment may lose against all matches and
  // still reach the threshold; it pays for the deletions above the
  // diagonal (upper width) and the insertions below it.
  int64_t all_matches = static_cast<int64_t>(rows) * match_score_;
  int64_t allowance = (threshold > 0 || global) ? all_matches - threshold : all_matches;
  int64_t upper = std::min<int64_t>(rows, std::max<int64_t>(0, allowance - deletion_open_) / deletion_cost_);
  int64_t reach = std::min<int64_t>(
      rows, std::max<int64_t>(0, allowance - insertion_open_) / (match_score_ + insertion_cost_));
  int64_t height = 8 * ((reach + upper) / 8 + 1);
  upper_width_ = static_cast<uint32_t>(upper);
  band_height_ = static_cast<uint32_t>(height);
  lower_width_ = static_cast<uint32_t>(height - upper - 1);
  column_count_ = static_cast<uint32_t>(rows + upper);
}

int64_t MapperBand::start_value(int64_t r) const {
  if (r == -1) return 0;
  return -(insertion_open_ + (r + 1) * static_cast<int64_t>(insertion_cost_));
}

int32_t MapperBand::range(uint32_t first, uint32_t end, uint32_t *best_column) {
  if (first >= end) {
    *best_column = 0;
    return INT_MIN;
  }
  int32_t best = column(first, reference_[first]);
  *best_column = first;
  for (uint32_t c = first + 1; c < end; c++) {
    int32_t v = column(c, reference_[c]);
    if (v > best) {
      best = v;
      *best_column = c;
    }
  }
  return best;
}

bool MapperBand::possible_match_or_mismatch(int32_t r, int32_t c) const {
  int64_t before;
  if (r == 0 && c == 0) {
    before = 0;
  } else if (c == 0) {
    before = start_value(r - 1);
  } else if (r == 0) {
    before = -(deletion_open_ + static_cast<int64_t>(c) * deletion_cost_);
  } else {
    before = value(r - 1, c - 1);
  }
  return value(r, c) == before + score(read_[r], reference_[c]);
}

uint32_t MapperBand::match_run(int32_t r, int32_t c) const {
  uint32_t n = 0;
  while (r >= 0 && c >= 0 && possible_match_or_mismatch(r, c)) {
    n++;
    r--;
    c--;
  }
  return n;
}

bool MapperBand::possible_insertion(int32_t r, int32_t c, int32_t *run) const {
  // An insertion run may start below row -1, whose cells in the band hold
  // the deletions along the top: -(deletion open + (c + 1) * cost).
  int64_t first = std::max<int64_t>(-1, static_cast<int64_t>(c) - upper_width_);
  int64_t target = value(r, c);
  for (int64_t k = 1; r - k >= first; k++) {
    int64_t from = value(static_cast<int32_t>(r - k), c);
    if (from - insertion_open_ - k * insertion_cost_ == target) {
      *run = static_cast<int32_t>(k);
      return true;
    }
  }
  return false;
}

bool MapperBand::possible_deletion(int32_t r, int32_t c) const {
  // The band's last row has no cell to its left.
  if (r == static_cast<int64_t>(std::min<int64_t>(rows_, static_cast<int64_t>(c) + lower_width_))) return false;
  if (c == 0) return value(r, 0) == start_value(r) - deletion_open_ - deletion_cost_;
  return value(r, c) == value_e(r, c);
}

bool MapperBand::continued_deletion(int32_t r, int32_t c) const {
  // Linear bands keep no deletion state, so in column 0 the deletion goes
  // on exactly when the cell was reached by one; affine bands store the
  // deletion state of column 0 like any other.
  if (c == 0 && linear_) return possible_deletion(r, 0);
  if (r == static_cast<int64_t>(std::min<int64_t>(rows_, static_cast<int64_t>(c) + lower_width_))) return false;
  int64_t here = value_e(r, c);
  if (value(r, c) == here) return true;
  if (c + 1 >= static_cast<int64_t>(column_count_)) return false;
  return here - value_e(r, c + 1) == deletion_cost_;
}

// ------------------------------------------------------------- MapperBandAid

MapperBandAid::MapperBandAid(int64_t rows, int64_t column_count, int64_t lower_width, int64_t upper_width,
                             int64_t minus_mismatch, int64_t match, int64_t insertion_open, int64_t insertion_cost,
                             int64_t deletion_open, int64_t deletion_cost)
    : rows_(rows),
      column_count_(column_count),
      lower_width_(lower_width),
      upper_width_(upper_width),
      minus_mismatch_(minus_mismatch),
      match_(match),
      insertion_open_(insertion_open),
      insertion_cost_(insertion_cost),
      deletion_open_(deletion_open),
      deletion_cost_(deletion_cost) {}

int64_t MapperBandAid::get_column_range(int64_t a, int64_t *minus_lowest) const {
  const int64_t lw = lower_width_;
  const int64_t u = upper_width_;
  const int64_t x = minus_mismatch_;
  const int64_t width = lw + u;
  int64_t lowest;
  if (width == 0) {
    lowest = a * x;
  } else {
    // The cheapest ways down to the lowest cells of column a: mismatches
    // along the diagonal, deletions above it and insertions below it, with
    // one gap opened per band width crossed.
    int64_t g = (a + width - 1) / width;
    int64_t h = a - 1;
    int64_t mx = std::max<int64_t>(0, a - u);
    int64_t hm = h % width;
    int64_t q = h - hm;
    int64_t s = a - hm;
    int64_t o;
    if (a != 0 && a < s + u) {
      o = (q >= mx) - g;
    } else if (a != 0) {
      o = -(g + (mx >= s + lw));
    } else {
      o = -(a > u);
    }
    int64_t w = g * deletion_open_;
    int64_t y = a * deletion_cost_;
    int64_t e = std::max(o * insertion_open_ - mx * insertion_cost_ - w - y,
                         mx * x - deletion_open_ - deletion_cost_ * std::min(u, a));
    if (a > 0 && u > 0 && rows_ >= a) {
      int64_t z = a < u + s ? (q >= h) : -(h >= lw + s);
      e = std::min(e, std::max(h * x - deletion_open_ - deletion_cost_,
                               (z - g) * insertion_open_ - w - h * insertion_cost_ - y));
    }
    int64_t b = lw + a;
    int64_t z2 = a != 0 ? ((a < u + s ? (q >= b) : -(q < a)) - g) : -(b != 0);
    int64_t d = insertion_open_ * z2 - w - insertion_cost_ * b - y;
    lowest = std::min(d, e);
  }
  *minus_lowest = -lowest;
  return std::min(rows_, a) * match_ - lowest;
}

// ---------------------------------------------------------------- BandBuffer

BandBuffer::~BandBuffer() { free(data_); }

bool BandBuffer::reserve(size_t n) {
  if (n <= capacity_) return false;
  size_t bytes;
  if (__builtin_mul_overflow(n, sizeof(__m128i), &bytes) || bytes > SIZE_MAX - 32) bytes = SIZE_MAX;
  free(data_);
  data_ = nullptr;
  capacity_ = 0;
  void *p = bytes == SIZE_MAX ? nullptr : aligned_alloc(32, (bytes + 31) & ~static_cast<size_t>(31));
  ryx_malloc_check(p, bytes);
  data_ = static_cast<__m128i *>(p);
  capacity_ = n;
  return true;
}

// ------------------------------------------------------- VectorizedMapperBand

VectorizedMapperBand::VectorizedMapperBand(int32_t match, int32_t mismatch, int32_t insertion_open,
                                           int32_t insertion_cost, int32_t deletion_open, int32_t deletion_cost)
    : MapperBand(match, mismatch, insertion_open, insertion_cost, deletion_open, deletion_cost) {
  band_costs16_init(&costs16_, insertion_open, insertion_cost, deletion_open, deletion_cost, 1);
  band_costs32_init(&costs32_, insertion_open, insertion_cost, deletion_open, deletion_cost, 1);
  for (uint8_t x = 0; x < 5; x++) {
    uint8_t low[16];
    uint8_t high[16];
    for (uint8_t code = 0; code < 16; code++) {
      const int32_t v = code < kOutOfRead ? score(code, x) : -out_of_read_penalty_;
      const uint16_t lanes = static_cast<uint16_t>(static_cast<int16_t>(v));
      low[code] = static_cast<uint8_t>(lanes & 0xFF);
      high[code] = static_cast<uint8_t>(lanes >> 8);
    }
    score_low_[x] = _mm_loadu_si128(reinterpret_cast<__m128i const *>(low));
    score_high_[x] = _mm_loadu_si128(reinterpret_cast<__m128i const *>(high));
  }
}

VectorizedMapperBand::~VectorizedMapperBand() = default;

void VectorizedMapperBand::choose_step_up() {
  const int64_t columns = column_count_;
  MapperBandAid aid(rows_, columns, lower_width_, upper_width_, -mismatch_cost_, match_score_, insertion_open_,
                    insertion_cost_, deletion_open_, deletion_cost_);
  bias_ = 0;
  int64_t minus_lowest = 0;
  int64_t floor_column;  // the column whose lowest score sets the bias
  if (aid.get_column_range(columns, &minus_lowest) <= kSpan16) {
    step_up_ = static_cast<uint32_t>(columns + 1);
    floor_column = columns;
  } else if (aid.get_column_range(0, &minus_lowest) > kSpan16) {
    step_up_ = 0;
    return;
  } else {
    int64_t a = 1;
    while (aid.get_column_range(a, &minus_lowest) <= kSpan16) a++;
    step_up_ = static_cast<uint32_t>(a);
    floor_column = a - 1;
  }
  // The lowest score of a column bounds the cells away from the band's
  // lower corner; a cell there can lie up to about one mismatch below it,
  // which the next column's lowest score still covers. So the bias takes
  // the lower of the two.
  int64_t lowest = -minus_lowest;
  aid.get_column_range(floor_column, &minus_lowest);
  lowest = std::min(lowest, -minus_lowest);
  // Below that it keeps (deletion open + deletion cost + 1) values, so that
  // the deletion state of a read row never saturates and -32768 only ever
  // marks a cell outside the read.
  const int64_t headroom = static_cast<int64_t>(deletion_open_) + deletion_cost_ + 1;
  // Column K - 1 holds K reference symbols, so no score passes K matches.
  const int64_t columns16 = std::min<int64_t>(step_up_, columns);
  const int64_t highest = std::min<int64_t>(rows_, columns16) * match_score_;
  // Costs far outside the option ranges may not fit 16-bit lanes at all;
  // such bands run in 32-bit lanes throughout.
  if (highest - lowest + headroom > 65535 || out_of_read_penalty_ > 32767) {
    step_up_ = 0;
    return;
  }
  bias_ = static_cast<int32_t>(-lowest - 32768 + headroom);
}

int32_t VectorizedMapperBand::profile_score(int64_t r, uint8_t code) const {
  if (r < 0 || r >= static_cast<int64_t>(rows_)) return -out_of_read_penalty_;
  return score(read_[r], code);
}

void VectorizedMapperBand::update_parameters(uint32_t rows, int32_t threshold, bool global, uint8_t const *reference,
                                             uint8_t const *read) {
  set_geometry(rows, threshold, global, reference, read);
  segments16_ = band_height_ / 8;
  segments32_ = band_height_ / 4;
  choose_step_up();
  const size_t columns = column_count_;
  const bool has16 = step_up_ > 0;
  const bool has32 = step_up_ <= columns;
  const size_t columns16 = std::min<size_t>(step_up_, columns);  // computed 16-bit columns

  // Start column and 16-bit columns, then the 32-bit part from column K - 1.
  start32_ = has16 ? (columns16 + 1) * segments16_ : 0;
  size_t vectors = start32_ + (has32 ? (columns - step_up_ + 1) * segments32_ : 0);
  if (h_.reserve(vectors)) allocations_++;
  if (!linear_ && e_.reserve(vectors)) allocations_++;

  // One word per position of the 16-bit columns, two words per vector.
  const size_t positions16 = has16 ? columns16 + segments16_ : 0;
  if (rows16_.reserve((positions16 + 1) / 2)) allocations_++;
  stride32_ = has32 ? columns - step_up_ + segments32_ : 0;
  if (profile32_.reserve(5 * stride32_)) allocations_++;

  if (has16) band_costs16_init(&costs16_, insertion_open_, insertion_cost_, deletion_open_, deletion_cost_, segments16_);
  if (has32) band_costs32_init(&costs32_, insertion_open_, insertion_cost_, deletion_open_, deletion_cost_, segments32_);

  write_start_column();
  rows16_end_ = 0;
  profile32_end_ = 0;
  profile32_ready_ = false;
  if (has16) fill_rows16();
  if (step_up_ == 0) fill_profile32();
}

void VectorizedMapperBand::write_start_column() {
  const int64_t height = band_height_;
  const int64_t upper = upper_width_;
  if (step_up_ > 0) {
    __m128i *h = h_.data() + offset16(-1);
    for (int64_t f = 0; f < height; f++) {
      int64_t r = f - 1 - upper;
      int16_t v = -32768;
      if (r >= -1) v = static_cast<int16_t>(std::clamp<int64_t>(start_value(r) + bias_, -32768, 32767));
      set_lane<int16_t>(h, segments16_, f, v);
    }
    if (!linear_) {
      band_fill16(e_.data() + offset16(-1), segments16_, -32768);
    }
  } else {
    __m128i *h = h_.data() + offset32(-1);
    for (int64_t f = 0; f < height; f++) {
      int64_t r = f - 1 - upper;
      int32_t v = kMinusInfinity;
      if (r >= -1) v = static_cast<int32_t>(std::max<int64_t>(start_value(r), kMinusInfinity));
      set_lane<int32_t>(h, segments32_, f, v);
    }
    if (!linear_) {
      band_fill32(e_.data() + offset32(-1), segments32_, kMinusInfinity);
    }
  }
}

uint64_t VectorizedMapperBand::row_code(int64_t r) const {
  if (r < 0 || r >= static_cast<int64_t>(rows_)) return kOutOfRead;
  return read_[r];
}

void VectorizedMapperBand::fill_rows16() {
  const int64_t upper = upper_width_;
  uint64_t *rows = reinterpret_cast<uint64_t *>(rows16_.data());
  for (int64_t p = 0; p < segments16_; p++) {
    uint64_t word = 0;
    for (int64_t l = 0; l < 8; l++) word |= row_code(p + l * segments16_ - upper) << (8 * l);
    rows[p] = word;
  }
  rows16_end_ = segments16_;
}

void VectorizedMapperBand::fill_profile32() {
  // Positions K..K+S32-1, stored from index 0.
  const int64_t upper = upper_width_;
  const int64_t first = step_up_;
  for (uint8_t x = 0; x < 5; x++) {
    __m128i *base = profile32_.data() + x * stride32_;
    for (int64_t p = 0; p < segments32_; p++) {
      for (int64_t l = 0; l < 4; l++) {
        set_lane<int32_t>(base, segments32_, l * segments32_ + p,
                          profile_score(first + p + l * segments32_ - upper, x));
      }
    }
  }
  profile32_end_ = step_up_ + segments32_;
  profile32_ready_ = true;
}

void VectorizedMapperBand::grow_rows16(size_t end) {
  // Word p is word p - S moved down one byte, with the code of the row
  // that becomes the band's bottom row in the top byte.
  const int64_t upper = upper_width_;
  uint64_t *rows = reinterpret_cast<uint64_t *>(rows16_.data());
  while (rows16_end_ < end) {
    const int64_t p = static_cast<int64_t>(rows16_end_);
    rows[p] = (rows[p - segments16_] >> 8) | (row_code(p + 7 * static_cast<int64_t>(segments16_) - upper) << 56);
    rows16_end_++;
  }
}

void VectorizedMapperBand::grow_profile32(size_t end) {
  const int64_t upper = upper_width_;
  while (profile32_end_ < end) {
    int64_t p = static_cast<int64_t>(profile32_end_);
    int64_t r = p + 3 * static_cast<int64_t>(segments32_) - upper;
    int32_t top[5];
    for (uint8_t x = 0; x < 5; x++) top[x] = profile_score(r, x);
    band_profile32_extend(profile32_.data(), stride32_, profile32_end_ - step_up_, segments32_, top);
    profile32_end_++;
  }
}

int32_t VectorizedMapperBand::column(uint32_t c, uint8_t code) {
  assert(c < column_count_ && code < 5);
  int32_t best;
  if (is16(c)) {
    if (rows16_end_ < c + segments16_) grow_rows16(c + segments16_);
    const BandProfile16 prof = {reinterpret_cast<uint64_t const *>(rows16_.data()) + c, score_low_[code],
                                score_high_[code]};
    __m128i *h = h_.data() + offset16(c);
    if (linear_) {
      best = band_column16_linear(h - segments16_, h, prof, segments16_, costs16_);
    } else {
      __m128i *e = e_.data() + offset16(c);
      best = band_column16_affine(h - segments16_, e - segments16_, h, e, prof, segments16_, costs16_);
    }
    best -= bias_;
  } else {
    if (c == step_up_ && step_up_ > 0) {
      // First 32-bit column: lay out the last 16-bit column for 4 lanes.
      band_step_up(h_.data() + offset16(c - 1), h_.data() + offset32(c - 1), segments16_, bias_);
      if (!linear_) band_step_up(e_.data() + offset16(c - 1), e_.data() + offset32(c - 1), segments16_, bias_);
    }
    if (!profile32_ready_) fill_profile32();
    grow_profile32(c + segments32_);
    __m128i const *prof = profile32_.data() + code * stride32_ + (c - step_up_);
    __m128i *h = h_.data() + offset32(c);
    if (linear_) {
      best = band_column32_linear(h - segments32_, h, prof, segments32_, costs32_);
    } else {
      __m128i *e = e_.data() + offset32(c);
      best = band_column32_affine(h - segments32_, e - segments32_, h, e, prof, segments32_, costs32_);
    }
  }
  if (!global_) return best;
  // The last read row, when the band reaches it.
  int64_t band_row = static_cast<int64_t>(rows_) - 1 - c + upper_width_;
  if (band_row >= band_height_) return INT_MIN;
  return value(static_cast<int32_t>(rows_) - 1, static_cast<int32_t>(c));
}

int32_t VectorizedMapperBand::reach_bound(uint32_t c) const {
  if (!is16(c)) return INT_MAX;
  // Band row F of column c is read row c - U + F, with rest - F read rows
  // below it.
  const int64_t rest = static_cast<int64_t>(rows_) - 1 + upper_width_ - c;
  if (rest < 0 || static_cast<int64_t>(match_score_) * rest > 32767) return INT_MAX;
  const int32_t v = band_reach16(h_.data() + offset16(c), segments16_, match_score_, static_cast<int32_t>(rest));
  return v >= 32767 ? INT_MAX : v - bias_;
}

int32_t VectorizedMapperBand::cell(__m128i const *buffer, int32_t r, int32_t c) const {
  if (c < -1 || c >= static_cast<int64_t>(column_count_)) return kMinusInfinity;
  int64_t band_row = static_cast<int64_t>(r) - c + upper_width_;
  if (band_row < 0 || band_row >= band_height_) return kMinusInfinity;
  if (is16(c)) {
    int16_t v = lane<int16_t>(buffer + offset16(c), segments16_, static_cast<uint32_t>(band_row));
    return v == -32768 ? kMinusInfinity : v - bias_;
  }
  return lane<int32_t>(buffer + offset32(c), segments32_, static_cast<uint32_t>(band_row));
}

int32_t VectorizedMapperBand::value(int32_t r, int32_t c) const { return cell(h_.data(), r, c); }

int32_t VectorizedMapperBand::value_e(int32_t r, int32_t c) const {
  if (linear_) {
    if (c == 0) return INT_MIN;
    return value(r, c - 1) - deletion_cost_;
  }
  return cell(e_.data(), r, c);
}

uint32_t VectorizedMapperBand::match_run(int32_t r, int32_t c) const {
  // Along a diagonal the band row stays the same, so every cell of the
  // run sits in the same vector and lane of its column: no division per
  // cell. The edges of the matrix (row 0, column 0) and diagonals outside
  // the band take the general test.
  const int64_t band_row = static_cast<int64_t>(r) - c + upper_width_;
  if (band_row < 0 || band_row >= band_height_) return MapperBand::match_run(r, c);
  const uint32_t f = static_cast<uint32_t>(band_row);
  const size_t at16 = f % segments16_ * 8 + f / segments16_;  // int16 lane of a 16-bit column
  const size_t at32 = f % segments32_ * 4 + f / segments32_;  // int32 lane of a 32-bit column
  auto diagonal_value = [&](int32_t column) -> int32_t {
    if (is16(column)) {
      const int16_t v = reinterpret_cast<int16_t const *>(h_.data() + offset16(column))[at16];
      return v == -32768 ? kMinusInfinity : v - bias_;
    }
    return reinterpret_cast<int32_t const *>(h_.data() + offset32(column))[at32];
  };
  uint32_t n = 0;
  int32_t here = r >= 0 && c >= 0 ? diagonal_value(c) : 0;
  while (r > 0 && c > 0) {
    const int32_t before = diagonal_value(c - 1);
    if (here != static_cast<int64_t>(before) + score(read_[r], reference_[c])) return n;
    n++;
    r--;
    c--;
    here = before;
  }
  return n + MapperBand::match_run(r, c);
}

int32_t VectorizedMapperBand::max_row_index(uint32_t c) const {
  const int64_t upper = upper_width_;
  if (global_) return static_cast<int32_t>(std::min<int64_t>(rows_, static_cast<int64_t>(c) + lower_width_ + 1) - 1);
  // Band rows in order, so the first row holding the maximum wins: band
  // row l * S + j is lane l of vector j, so lanes outside, vectors inside.
  int64_t best_row = 0;
  int32_t best = INT_MIN;
  if (is16(c)) {
    int16_t const *lanes = reinterpret_cast<int16_t const *>(h_.data() + offset16(c));
    for (uint32_t l = 0; l < 8; l++) {
      for (uint32_t j = 0; j < segments16_; j++) {
        const int16_t stored = lanes[8 * j + l];
        const int32_t v = stored == -32768 ? kMinusInfinity : stored - bias_;
        if (v > best) {
          best = v;
          best_row = static_cast<int64_t>(l) * segments16_ + j;
        }
      }
    }
  } else {
    int32_t const *lanes = reinterpret_cast<int32_t const *>(h_.data() + offset32(c));
    for (uint32_t l = 0; l < 4; l++) {
      for (uint32_t j = 0; j < segments32_; j++) {
        const int32_t v = lanes[4 * j + l];
        if (v > best) {
          best = v;
          best_row = static_cast<int64_t>(l) * segments32_ + j;
        }
      }
    }
  }
  return static_cast<int32_t>(c + best_row - upper);
}
