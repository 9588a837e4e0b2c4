// The alignment matrix of the drop-off extender (X-drop).
//
// Rows are the symbols of one read part, numbered 0 to N: row i means i
// read symbols aligned. Columns are reference symbols in walk order:
// column c means c reference symbols aligned, column 0 being the start.
// Each column keeps only the run of rows whose score lies within the
// drop-off X of the best score seen, so the matrix follows the alignment
// wherever it goes and a column costs one pass over its rows. Gaps open
// only from a match or mismatch step, never straight from another gap.
//
// Storage: the H and the E values of all columns on the current path, each
// column's rows one after another followed by two spare entries holding
// minus infinity. The E value stored at (i, c) is the score of reaching
// (i, c + 1) by a deletion. Computing column c again after later columns
// overwrites it: the walk backtracks without undoing anything.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

class MapperParameters;

struct MapperRayColumn {
  int32_t base = 0;  // position of the first row in the H and E vectors
  int32_t first_row = 0;
  int32_t end_row = 0;  // exclusive
  // Local: the best score of the ray up to this column. Global: the best
  // score of row N up to this column, or INT_MIN.
  int32_t best = INT_MIN;
};

class MapperRay {
 public:
  static constexpr int32_t kMinusInfinity = INT_MIN + 100;

  // Starts a ray over rows read[0..rows-1] with column 0: the start and
  // the insertions the drop-off x can pay for. In global mode the walk
  // must reach row N = rows.
  void setup(const MapperParameters *parameters, int32_t rows, const uint8_t *read, bool global, int32_t x);

  // Computes column c >= 1 for reference code (0 to 4) from column c - 1.
  // Returns the column's maximum in local mode; in global mode the score
  // of row N, or INT_MIN while the column does not hold it. *done tells
  // the walk to stop descending: no row of the column is left.
  int32_t column(int32_t c, uint8_t code, bool *done);

  // H and stored E of cell (row, c) of a computed column; kMinusInfinity
  // outside the column's rows.
  int32_t value(int32_t row, int32_t c) const { return cell(h_, row, c); }
  int32_t value_e(int32_t row, int32_t c) const { return cell(e_, row, c); }
  // The row of column c's maximum, the highest among equal maxima.
  int32_t max_row(int32_t c) const;
  // The score of aligning read row i - 1 against code (i >= 1).
  int32_t profile(uint8_t code, int32_t i) const { return profile_[static_cast<size_t>(code) * rows_ + i - 1]; }

  const MapperRayColumn &column_info(int32_t c) const { return columns_[c]; }
  uint8_t reference(int32_t c) const { return reference_[c]; }
  uint8_t read(int32_t row) const { return read_[row]; }
  int32_t rows() const { return rows_; }
  bool global() const { return global_; }
  int32_t column_count() const { return column_count_; }
  int32_t gap_open() const { return gap_open_; }
  int32_t gap_cost() const { return gap_cost_; }
  int32_t deletion_cost() const { return deletion_cost_; }

 private:
  int32_t cell(const std::vector<int32_t> &values, int32_t row, int32_t c) const {
    const MapperRayColumn &k = columns_[c];
    if (row < k.first_row || row >= k.end_row) return kMinusInfinity;
    return values[static_cast<size_t>(k.base + row - k.first_row)];
  }
  void ensure_values(size_t end);

  bool global_ = false;
  int32_t x_ = 0;
  int32_t rows_ = 0;
  std::vector<MapperRayColumn> columns_;
  // profile_[x * N + i]: the score of read symbol i against code x.
  std::vector<int32_t> profile_;
  std::vector<int32_t> h_;
  std::vector<int32_t> e_;
  std::vector<uint8_t> reference_;  // the code of each column
  const uint8_t *read_ = nullptr;
  int32_t match_ = 0;
  int32_t mismatch_ = 0;
  int32_t gap_open_ = 0;
  int32_t gap_cost_ = 0;
  int32_t deletion_open_ = 0;
  int32_t deletion_cost_ = 0;
  int32_t column_count_ = 0;
};
