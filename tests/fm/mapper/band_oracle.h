// The band's recurrences written out cell by cell on 64-bit scores with a
// true minus infinity: the oracle the vector kernels are compared against.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

namespace band_test {

struct Costs {
  int32_t match;
  int32_t mismatch;
  int32_t insertion_open;
  int32_t insertion_cost;
  int32_t deletion_open;
  int32_t deletion_cost;
};

constexpr int64_t kNegInf = INT64_MIN / 4;
inline bool is_inf(int64_t v) { return v <= kNegInf / 2; }
inline int64_t minus(int64_t v, int64_t k) { return is_inf(v) ? kNegInf : v - k; }

class OracleBand {
 public:
  OracleBand(Costs costs, uint32_t rows, int32_t threshold, bool global, std::vector<uint8_t> read)
      : k_(costs), rows_(rows), global_(global), read_(std::move(read)) {
    penalty_ = std::max({k_.mismatch, k_.insertion_open + k_.insertion_cost, k_.deletion_open + k_.deletion_cost});
    int64_t allowance = int64_t{rows} * k_.match;
    if (threshold > 0 || global) allowance -= threshold;
    upper_ = std::min<int64_t>(rows, std::max<int64_t>(0, allowance - k_.deletion_open) / k_.deletion_cost);
    int64_t reach =
        std::min<int64_t>(rows, std::max<int64_t>(0, allowance - k_.insertion_open) / (k_.match + k_.insertion_cost));
    height_ = 8 * ((reach + upper_) / 8 + 1);
    lower_ = height_ - upper_ - 1;
    columns_ = rows + upper_;
    h_.assign(columns_, std::vector<int64_t>(height_, kNegInf));
    e_.assign(columns_, std::vector<int64_t>(height_, kNegInf));
  }

  int64_t upper() const { return upper_; }
  int64_t lower() const { return lower_; }
  int64_t height() const { return height_; }
  int64_t columns() const { return columns_; }
  int64_t rows() const { return rows_; }
  bool in_band(int64_t r, int64_t c) const {
    int64_t f = r - c + upper_;
    return f >= 0 && f < height_;
  }

  int64_t score(int64_t r, uint8_t code) const {
    if (r < 0 || r >= rows_) return -penalty_;
    uint8_t a = read_[r];
    if (a < 4 && a == code) return k_.match;
    return -k_.mismatch;
  }

  int64_t h(int64_t r, int64_t c) const {
    if (!in_band(r, c)) return kNegInf;
    if (c == -1) {
      if (r == -1) return 0;
      if (r < -1) return kNegInf;
      return -(k_.insertion_open + (r + 1) * int64_t{k_.insertion_cost});
    }
    return h_[c][r - c + upper_];
  }
  int64_t e(int64_t r, int64_t c) const {
    if (!in_band(r, c) || c == -1) return kNegInf;
    return e_[c][r - c + upper_];
  }

  // Computes column c from column c - 1 (as the band does, after a
  // rollback too).
  void compute(int64_t c, uint8_t code) {
    int64_t f_above = kNegInf;
    for (int64_t band_row = 0; band_row < height_; band_row++) {
      int64_t r = c + band_row - upper_;
      int64_t diag = h(r - 1, c - 1);
      diag = is_inf(diag) ? kNegInf : diag + score(r, code);
      int64_t ev = minus(std::max(minus(h(r, c - 1), k_.deletion_open), e(r, c - 1)), k_.deletion_cost);
      int64_t fv = kNegInf;
      if (band_row > 0) {
        fv = minus(std::max(minus(h_[c][band_row - 1], k_.insertion_open), f_above), k_.insertion_cost);
      }
      int64_t hv = std::max({diag, ev, fv});
      h_[c][band_row] = hv;
      e_[c][band_row] = ev;
      f_above = fv;
    }
  }

  // What MapperBand::column returns for column c.
  int64_t result(int64_t c) const {
    if (global_) {
      if (!in_band(rows_ - 1, c)) return INT_MIN;
      return h(rows_ - 1, c);
    }
    return *std::max_element(h_[c].begin(), h_[c].end());
  }

  int64_t max_row(int64_t c) const {
    if (global_) return std::min<int64_t>(rows_, c + lower_ + 1) - 1;
    int64_t best = kNegInf - 1;
    int64_t row = 0;
    for (int64_t f = 0; f < height_; f++) {
      if (h_[c][f] > best) {
        best = h_[c][f];
        row = f;
      }
    }
    return c + row - upper_;
  }

 private:
  Costs k_;
  int64_t rows_;
  bool global_;
  std::vector<uint8_t> read_;
  int64_t penalty_;
  int64_t upper_;
  int64_t height_;
  int64_t lower_;
  int64_t columns_;
  std::vector<std::vector<int64_t>> h_;
  std::vector<std::vector<int64_t>> e_;
};

// A read of codes 0 to 3 with a few Ns.
inline std::vector<uint8_t> random_read(std::mt19937 &random, uint32_t length) {
  std::vector<uint8_t> read(length);
  for (auto &x : read) x = random() % 32 == 0 ? 4 : static_cast<uint8_t>(random() % 4);
  return read;
}

// A reference of at least length symbols: usually the read with
// substitutions, insertions and deletions, then random symbols; sometimes
// random throughout.
inline std::vector<uint8_t> random_reference(std::mt19937 &random, std::vector<uint8_t> const &read, size_t length) {
  std::vector<uint8_t> ref;
  if (random() % 5 != 0) {
    for (uint8_t x : read) {
      unsigned roll = random() % 100;
      if (roll < 5) {
        ref.push_back(static_cast<uint8_t>(random() % 4));
      } else if (roll < 8) {
        continue;  // read symbol without a reference symbol
      } else if (roll < 11) {
        ref.push_back(static_cast<uint8_t>(random() % 4));
        ref.push_back(x < 4 ? x : 0);
      } else {
        ref.push_back(x < 4 ? x : static_cast<uint8_t>(random() % 4));
      }
    }
  }
  while (ref.size() < length + 1) ref.push_back(random() % 100 == 0 ? 4 : static_cast<uint8_t>(random() % 4));
  return ref;
}

}  // namespace band_test
