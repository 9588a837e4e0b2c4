// Banded dynamic programming for the extenders.
//
// An extender grows an alignment away from one end of a seed, one
// reference symbol per FM-index step. MapperBand is the alignment matrix of
// that growth restricted to a diagonal band: rows are the symbols of the
// read part beyond the seed end (row 0 next to the seed), columns are the
// reference symbols in traversal order, and a column is added per step.
// Going back to an earlier column and computing it again with another
// symbol is how the traversal backtracks; nothing else has to be undone.
//
// Cell (r, c) holds the best score of an alignment of read rows 0..r with
// reference columns 0..c anchored at the seed end (no restart at 0). An
// implicit start column -1 holds (-1, -1) = 0 and insertion costs below it;
// row -1 holds the deletions along the top. Every diagonal step into a row
// outside the read part scores minus the out-of-read penalty.
//
// Column c covers band rows 0..H-1, which are read rows c - U .. c - U + H - 1
// (U the upper width); cells outside the band count as minus infinity. The
// band has R + U columns.
#pragma once

#include <immintrin.h>

#include <climits>
#include <cstddef>
#include <cstdint>

class MapperBand {
 public:
  // Minus infinity of the 32-bit lanes and of value() for cells without a
  // score: far enough above INT_MIN that costs can be subtracted from it.
  static constexpr int32_t kMinusInfinity = INT_MIN + 1000000;

  // A band for these costs (the only implementation is the vectorised one).
  // Match and mismatch must lie in 0..127 and the gap costs (insertion = a
  // read symbol without a reference symbol, deletion = a reference symbol
  // without a read symbol) must be at least 1; the open costs may be 0,
  // and both open costs 0 selects linear gaps.
  static MapperBand *create(int32_t match, int32_t mismatch, int32_t insertion_open, int32_t insertion_cost,
                            int32_t deletion_open, int32_t deletion_cost);
  virtual ~MapperBand();
  MapperBand(const MapperBand &) = delete;
  MapperBand &operator=(const MapperBand &) = delete;

  // Starts a new band over rows read[0..rows-1] with reference symbol c at
  // reference[c] (read by range() and the backtrace tests). The threshold
  // is the least score the caller still wants; it narrows the band. Buffers
  // grow when this band needs more than any before; they never shrink.
  // rows must be at least 1. Fails only when memory runs out (status 69).
  virtual void update_parameters(uint32_t rows, int32_t threshold, bool global, uint8_t const *reference,
                                 uint8_t const *read) = 0;

  // Computes column c for reference code (0 to 4) and returns, in global
  // mode, the score of the last read row, or INT_MIN while that row lies
  // below the band; otherwise the maximum over the column. Columns 0..c-1
  // must have been computed for the current path; computing c again after
  // later columns overwrites it.
  virtual int32_t column(uint32_t c, uint8_t code) = 0;

  // Score of cell (r, c), c >= -1; kMinusInfinity outside the band or the
  // columns, and for cells whose score fell below what the band resolves
  // (only cells outside the read part).
  virtual int32_t value(int32_t r, int32_t c) const = 0;
  // Best score of cell (r, c) reached by a deletion; in linear mode
  // value(r, c - 1) - deletion cost, and INT_MIN for c = 0.
  virtual int32_t value_e(int32_t r, int32_t c) const = 0;
  // Read row of column c's end: in global mode the last read row the band
  // reaches, otherwise the first row holding the column maximum.
  virtual int32_t max_row_index(uint32_t c) const = 0;

  // The most any column after c on a path through c can return (local
  // mode): each cell of c gains at most a match per read row left below
  // it. INT_MAX when the band cannot tell (32-bit columns, scores near the
  // top of the 16-bit range).
  virtual int32_t reach_bound(uint32_t c) const = 0;

  // Computes columns first..end-1 with their reference symbols and returns
  // the greatest column() result, *best_column getting the first column
  // that reached it; INT_MIN and column 0 when first >= end.
  int32_t range(uint32_t first, uint32_t end, uint32_t *best_column);

  // Backtrace tests on computed cells, r >= 0 and c >= 0.
  // Cell (r, c) can be reached by a match or mismatch step.
  bool possible_match_or_mismatch(int32_t r, int32_t c) const;
  // How many cells in a row pass possible_match_or_mismatch going up the
  // diagonal from (r, c): (r, c), (r - 1, c - 1), ..., stopping at the
  // first that fails or when r or c would drop below 0. The backtrace
  // takes a match run in one call.
  virtual uint32_t match_run(int32_t r, int32_t c) const;
  // Cell (r, c) can be reached by an insertion run; *run gets the shortest
  // such run (its first read row is r - *run + 1).
  bool possible_insertion(int32_t r, int32_t c, int32_t *run) const;
  // Cell (r, c) can be reached by a deletion.
  bool possible_deletion(int32_t r, int32_t c) const;
  // Inside a deletion that reached (r, c + 1): the deletion goes on left of
  // column c.
  bool continued_deletion(int32_t r, int32_t c) const;

  uint32_t rows() const { return rows_; }
  uint32_t column_count() const { return column_count_; }
  uint32_t lower_width() const { return lower_width_; }
  uint32_t upper_width() const { return upper_width_; }
  uint32_t band_height() const { return band_height_; }
  bool is_global() const { return global_; }
  bool is_linear() const { return linear_; }
  // Score of read code a (0 to 4) against reference code b (0 to 4).
  int32_t score(uint8_t a, uint8_t b) const { return score_matrix_[a * 8 + b]; }
  // Score of every step into a row outside the read part, negated.
  int32_t out_of_read_penalty() const { return out_of_read_penalty_; }

 protected:
  MapperBand(int32_t match, int32_t mismatch, int32_t insertion_open, int32_t insertion_cost, int32_t deletion_open,
             int32_t deletion_cost);
  // Sets rows, global flag, pointers and the band geometry for a threshold.
  void set_geometry(uint32_t rows, int32_t threshold, bool global, uint8_t const *reference, uint8_t const *read);
  // Score of cell (r, -1) of the start column (r >= -1).
  int64_t start_value(int64_t r) const;

  int32_t match_score_;
  int32_t mismatch_cost_;
  int32_t insertion_open_;
  int32_t insertion_cost_;
  int32_t deletion_open_;
  int32_t deletion_cost_;
  int32_t out_of_read_penalty_;  // max(mismatch, insertion open + cost, deletion open + cost)
  bool linear_;
  // (read code, reference code): match on the diagonal of codes 0 to 3,
  // minus the mismatch cost for every other pair of codes 0 to 4, 0 for
  // codes 5 to 7.
  int8_t score_matrix_[64];
  bool global_ = false;
  uint32_t rows_ = 0;
  uint32_t column_count_ = 0;
  uint32_t lower_width_ = 0;
  uint32_t upper_width_ = 0;
  uint32_t band_height_ = 0;
  uint8_t const *read_ = nullptr;
  uint8_t const *reference_ = nullptr;
};

// Bounds of the scores a band column can hold, which decide where the band
// must leave 16-bit lanes.
class MapperBandAid {
 public:
  MapperBandAid(int64_t rows, int64_t column_count, int64_t lower_width, int64_t upper_width, int64_t minus_mismatch,
                int64_t match, int64_t insertion_open, int64_t insertion_cost, int64_t deletion_open,
                int64_t deletion_cost);
  // The span between the highest and the lowest score of column a;
  // *minus_lowest gets the lowest score negated.
  int64_t get_column_range(int64_t a, int64_t *minus_lowest) const;

 private:
  int64_t rows_;
  int64_t column_count_;
  int64_t lower_width_;
  int64_t upper_width_;
  int64_t minus_mismatch_;
  int64_t match_;
  int64_t insertion_open_;
  int64_t insertion_cost_;
  int64_t deletion_open_;
  int64_t deletion_cost_;
};

// Broadcast costs of the 16-bit lanes. The prefix scan of insertions across
// lanes subtracts k * S * insertion cost at lane distance k = 1, 2, 4; each
// of those goes as two saturating subtractions (first, second) so that
// costs up to 65535 stay exact in 16-bit arithmetic.
struct BandCosts16 {
  __m128i insertion_open;
  __m128i insertion_cost;
  __m128i deletion_open;
  __m128i deletion_cost;
  __m128i floor;  // -32768 in every lane
  __m128i scan_first[3];
  __m128i scan_second[3];
  bool split_scan;  // some scan_second is not zero
};

// Broadcast costs of the 32-bit lanes; the scan costs hold -kMinusInfinity
// in the lanes a lane shift empties, so that the zeros shifted in become
// minus infinity.
struct BandCosts32 {
  __m128i insertion_open;
  __m128i insertion_cost;
  __m128i deletion_open;
  __m128i deletion_cost;
  __m128i minus_infinity;
  __m128i scan[2];
};

// A run of 16-byte vectors aligned to 32 bytes that only grows. Its
// contents are scratch: growing does not keep them.
class BandBuffer {
 public:
  BandBuffer() = default;
  ~BandBuffer();
  BandBuffer(const BandBuffer &) = delete;
  BandBuffer &operator=(const BandBuffer &) = delete;
  // Makes room for n vectors; returns true when it had to allocate.
  bool reserve(size_t n);
  __m128i *data() const { return data_; }

 private:
  __m128i *data_ = nullptr;
  size_t capacity_ = 0;
};

// The band in 128-bit vectors, striped: in 16-bit lanes band row F lives
// in vector F mod S16, lane F / S16 (S16 = H / 8 vectors per column), in
// 32-bit lanes in vector F mod S32, lane F / S32 (S32 = H / 4). Columns
// below the step-up column K are 16-bit; a stored 16-bit value v means the
// score v - B, and -32768 marks a cell below the range (minus infinity).
class alignas(32) VectorizedMapperBand final : public MapperBand {
 public:
  VectorizedMapperBand(int32_t match, int32_t mismatch, int32_t insertion_open, int32_t insertion_cost,
                       int32_t deletion_open, int32_t deletion_cost);
  ~VectorizedMapperBand() override;

  void update_parameters(uint32_t rows, int32_t threshold, bool global, uint8_t const *reference,
                         uint8_t const *read) override;
  int32_t column(uint32_t c, uint8_t code) override;
  int32_t value(int32_t r, int32_t c) const override;
  int32_t value_e(int32_t r, int32_t c) const override;
  int32_t max_row_index(uint32_t c) const override;
  uint32_t match_run(int32_t r, int32_t c) const override;
  int32_t reach_bound(uint32_t c) const override;

  // First column in 32-bit lanes: 0 when all are, column_count() + 1 when
  // none is.
  uint32_t step_up_column() const { return step_up_; }
  // 16-bit bias B (stored = score + B); 0 when no column is 16-bit.
  int32_t bias() const { return bias_; }
  // Buffer allocations since the band was created: constant once the band
  // has seen its largest read part.
  uint64_t allocation_count() const { return allocations_; }

 private:
  bool is16(int64_t c) const { return c < static_cast<int64_t>(step_up_); }
  size_t offset16(int64_t c) const { return static_cast<size_t>(c + 1) * segments16_; }
  size_t offset32(int64_t c) const {
    return start32_ + static_cast<size_t>(c - (static_cast<int64_t>(step_up_) - 1)) * segments32_;
  }
  int32_t profile_score(int64_t r, uint8_t code) const;
  void choose_step_up();
  void write_start_column();
  // Code of read row r for the 16-bit profile: the read code, or
  // kOutOfRead outside the read.
  uint64_t row_code(int64_t r) const;
  void fill_rows16();
  void fill_profile32();
  void grow_rows16(size_t end);
  void grow_profile32(size_t end);
  int32_t cell(__m128i const *buffer, int32_t r, int32_t c) const;

  BandCosts16 costs16_;
  BandCosts32 costs32_;
  uint32_t segments16_ = 0;
  uint32_t segments32_ = 0;
  uint32_t step_up_ = 0;
  int32_t bias_ = 0;
  // H and (affine) E of every column: the 16-bit part (start column and
  // columns 0..K-1, S16 vectors each) followed by the 32-bit part (a
  // converted copy of column K-1, or the start column when K = 0, then
  // columns K.., S32 vectors each).
  BandBuffer h_;
  BandBuffer e_;
  size_t start32_ = 0;
  // The 16-bit query profile is kept as read codes, one 64-bit word per
  // position p holding in byte l the code of read row p + l * S16 - U;
  // column c takes words c..c+S16-1 and turns them into its S16 profile
  // vectors for the reference code with one table look-up per vector
  // (score_low_ and score_high_: the low and high bytes of the 16-bit
  // score of each read code against the reference code x, kOutOfRead
  // giving minus the out-of-read penalty). So a new column costs one word
  // for all five codes, and a new band writes S16 words.
  static constexpr uint64_t kOutOfRead = 8;
  BandBuffer rows16_;
  __m128i score_low_[5];
  __m128i score_high_[5];
  size_t rows16_end_ = 0;
  // Query profiles of codes 0 to 4 in 32-bit lanes: vector p of code x
  // holds, in lane l, the score of read row K + p + l * S32 - U against x.
  BandBuffer profile32_;
  size_t stride32_ = 0;
  size_t profile32_end_ = 0;
  bool profile32_ready_ = false;
  uint64_t allocations_ = 0;
};
