#include "fm/mapper/mapper_ray.h"

#include <algorithm>

#include "fm/mapper/mapper_parameters.h"

namespace {

// Scores are kept in 64 bits while a column is computed and stored back
// no lower than minus infinity, so that costs taken from minus infinity
// never wrap.
int32_t store(int64_t v) { return static_cast<int32_t>(std::max<int64_t>(v, MapperRay::kMinusInfinity)); }

}  // namespace

void MapperRay::ensure_values(size_t end) {
  if (h_.size() >= end) return;
  const size_t size = std::max(end, 2 * h_.size());
  h_.resize(size);
  e_.resize(size);
}

void MapperRay::setup(const MapperParameters *parameters, int32_t rows, const uint8_t *read, bool global, int32_t x) {
  const MapperParameters &p = *parameters;
  global_ = global;
  x_ = x;
  rows_ = rows;
  read_ = read;
  match_ = static_cast<int32_t>(p.match_score);
  mismatch_ = static_cast<int32_t>(p.mismatch_cost);
  gap_open_ = static_cast<int32_t>(p.gap_open);
  gap_cost_ = static_cast<int32_t>(p.gap_cost);
  deletion_open_ = static_cast<int32_t>(p.deletion_open);
  deletion_cost_ = static_cast<int32_t>(p.deletion_cost);

  const size_t cells = static_cast<size_t>(rows) * 5;
  if (profile_.size() < cells) profile_.resize(cells);
  for (uint8_t code = 0; code < 5; code++) {
    int32_t *row = profile_.data() + static_cast<size_t>(code) * rows;
    for (int32_t i = 0; i < rows; i++) row[i] = code < 4 && read[i] == code ? match_ : -mismatch_;
  }

  // Column 0: the start and as many insertions as the drop-off can pay.
  const int64_t reach = gap_cost_ > 0 ? std::max<int64_t>(0, static_cast<int64_t>(x) - gap_open_) / gap_cost_ : rows;
  const int32_t end = static_cast<int32_t>(std::min<int64_t>(rows, reach)) + 1;
  if (columns_.empty()) columns_.resize(1);
  if (reference_.empty()) reference_.resize(1);
  MapperRayColumn &k = columns_[0];
  k.base = 0;
  k.first_row = 0;
  k.end_row = end;
  ensure_values(static_cast<size_t>(end) + 2);
  h_[0] = 0;
  e_[0] = store(-static_cast<int64_t>(deletion_open_) - deletion_cost_);
  for (int32_t i = 1; i < end; i++) {
    h_[i] = store(-(static_cast<int64_t>(gap_open_) + static_cast<int64_t>(i) * gap_cost_));
    e_[i] = kMinusInfinity;
  }
  h_[end] = h_[end + 1] = e_[end] = e_[end + 1] = kMinusInfinity;
  if (global)
    k.best = end == rows + 1 ? h_[rows] : INT_MIN;
  else
    k.best = 0;
  column_count_ = 1;
}

int32_t MapperRay::column(int32_t c, uint8_t code, bool *done) {
  if (static_cast<size_t>(c) >= columns_.size()) {
    columns_.resize(std::max<size_t>(c + 1, 2 * columns_.size()));
    reference_.resize(columns_.size());
  }
  reference_[c] = code;
  const MapperRayColumn prev = columns_[c - 1];
  MapperRayColumn &k = columns_[c];
  k.first_row = prev.first_row;
  k.end_row = std::min(rows_ + 1, prev.end_row + 2);
  k.base = prev.base + (prev.end_row - prev.first_row) + 2;
  ensure_values(static_cast<size_t>(k.base) + (k.end_row - k.first_row) + 2);

  const int32_t *prev_h = h_.data() + prev.base - prev.first_row;
  const int32_t *prev_e = e_.data() + prev.base - prev.first_row;
  int32_t *h = h_.data() + k.base - k.first_row;
  int32_t *e = e_.data() + k.base - k.first_row;
  const int32_t *prof = profile_.data() + static_cast<size_t>(code) * rows_;
  auto in_prev = [&](int32_t row) { return row >= prev.first_row && row < prev.end_row; };

  int64_t f = kMinusInfinity;
  int64_t m = kMinusInfinity;
  int32_t i = k.first_row;
  if (i == 0) {
    h[0] = in_prev(0) ? prev_e[0] : kMinusInfinity;
    e[0] = store(static_cast<int64_t>(h[0]) - deletion_cost_);
    m = h[0];
    i = 1;
  }
  for (; i < k.end_row; i++) {
    const int64_t e_prev = in_prev(i) ? prev_e[i] : kMinusInfinity;
    const int64_t d = in_prev(i - 1) && prev_h[i - 1] > kMinusInfinity
                          ? static_cast<int64_t>(prev_h[i - 1]) + prof[i - 1]
                          : kMinusInfinity;
    const int64_t v = std::max({e_prev, f, d});
    h[i] = store(v);
    e[i] = store(std::max(e_prev, d - deletion_open_) - deletion_cost_);
    f = std::max(f, d - gap_open_) - gap_cost_;
    if (f < kMinusInfinity) f = kMinusInfinity;
    m = std::max<int64_t>(m, h[i]);
  }

  // Drops rows from the top or the bottom; dropped entries become minus
  // infinity (the bottom ones serve as the column's spare entries).
  auto drop_top = [&](int64_t limit) {
    while (k.first_row < k.end_row && h[k.first_row] < limit) {
      h[k.first_row] = e[k.first_row] = kMinusInfinity;
      k.first_row++;
      k.base++;
    }
  };
  auto drop_bottom = [&](int64_t limit) {
    while (k.end_row > k.first_row && h[k.end_row - 1] < limit) {
      h[k.end_row - 1] = e[k.end_row - 1] = kMinusInfinity;
      k.end_row--;
    }
  };
  int32_t result;
  if (!global_) {
    const int64_t best = std::max<int64_t>(prev.best, m);
    k.best = static_cast<int32_t>(best);
    drop_top(best - x_);
    drop_bottom(best - x_);
    result = static_cast<int32_t>(m);
  } else {
    const bool reaches = k.end_row == rows_ + 1;
    const int64_t best = reaches ? std::max<int64_t>(prev.best, h[rows_]) : INT_MIN;
    k.best = static_cast<int32_t>(best);
    drop_top(std::max(m, best) - x_);
    if (!reaches) drop_bottom(m - x_);
    result = k.end_row == rows_ + 1 && k.end_row > k.first_row ? h[rows_] : INT_MIN;
  }
  // The two spare entries after the column's rows.
  int32_t *spare_h = h_.data() + k.base + (k.end_row - k.first_row);
  int32_t *spare_e = e_.data() + k.base + (k.end_row - k.first_row);
  spare_h[0] = spare_h[1] = spare_e[0] = spare_e[1] = kMinusInfinity;
  *done = k.end_row <= k.first_row;
  column_count_ = std::max(column_count_, c + 1);
  return result;
}

int32_t MapperRay::max_row(int32_t c) const {
  const MapperRayColumn &k = columns_[c];
  int32_t best_row = k.first_row;
  int32_t best = INT_MIN;
  for (int32_t i = k.first_row; i < k.end_row; i++) {
    const int32_t v = h_[static_cast<size_t>(k.base + i - k.first_row)];
    if (v >= best) {
      best = v;
      best_row = i;
    }
  }
  return best_row;
}
