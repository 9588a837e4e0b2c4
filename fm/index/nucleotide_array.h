// Burrows-Wheeler sequence over the index alphabet with constant-time rank.
//
// Symbol codes: 0 A, 1 C, 2 G, 3 T, 4 N (any other letter), 5 separator
// (ends each non-circular sequence). Row r of the array holds one symbol.
//
// Storage: one 64-byte na_block per 192 rows. Words w0..w3 carry in their
// low 24 bits the counts of A, A+C, A+C+G and A+C+G+T from the start of the
// block's macro block (65,536 blocks) to the start of the block; the top
// bytes say what kind of block it is:
// - plain (only A, C, G, T): 2 bits per row in six words; the top bytes of
//   w0..w3 hold an upper and a lower count code for rows 0-63 and for rows
//   64-127, so rank inside the block is two table look-ups and three
//   population counts;
// - mixed (some N or separators): top byte of w0 is 0xFF; the rows are 4
//   bits each in a 96-byte na_extra_block, with per-32-row group counts in
//   the block;
// - full (every row N or separator, also the empty last block): 0xFE.
// Separators are not stored as such: a row holding N in the packed data is
// a separator when a non-circular na_sequence record names it. Those
// records are sorted by row and bucketed by the separator lookup.
//
// Life: construct with the length, fill through NucleotideArrayWriter or
// NucleotideArraySequenceWriter (any number of threads at once; the block
// memory then holds three base-6 symbols per byte), call finish() once,
// then only read (any number of threads). load() gives a finished array.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <nmmintrin.h>
#include <xmmintrin.h>

#include "fm/index/bitfield_vector.h"
#include "fm/index/index_buffer.h"

class Reader;
class Writer;

// 192 rows. Bytes 16-63 (data) by kind: plain: row 32g + i in bits 2i and
// 2i + 1 of data[g]; mixed: bytes 16 + 4g .. 19 + 4g hold the counts of A,
// A+C, A+C+G, A+C+G+T among rows 0 .. 32g - 1, data[5] the index of the
// extra block; full: unused (zero).
struct alignas(64) na_block {
  uint32_t w[4];
  uint64_t data[6];
};
static_assert(sizeof(na_block) == 64);

// Row i of a mixed block in bits 4(i mod 16) .. 4(i mod 16) + 3 of word
// i / 16: the symbol code, a separator stored as 4.
struct na_extra_block {
  uint64_t words[12];
};
static_assert(sizeof(na_extra_block) == 96);

// Counts of A, A+C, A+C+G, A+C+G+T over all rows before the macro block.
struct na_macro_block {
  uint64_t counts[4];
};
static_assert(sizeof(na_macro_block) == 32);

// One indexed sequence. Non-circular: row and text position of its
// separator. Circular: the smallest row of any of its rotations and the
// text position it stands for.
struct na_sequence {
  uint32_t sequence_id;
  uint32_t length;  // rows, separator included
  uint8_t circular;
  uint8_t padding[3];
  uint32_t position;
  uint64_t row;
};
static_assert(sizeof(na_sequence) == 24);

// The first fields of the array, saved as one 136-byte little-endian image.
struct na_header {
  uint64_t length;
  uint32_t sequence_count;
  uint32_t max_sequence_length;
  uint32_t non_circular_count;
  uint32_t extra_block_count;
  uint32_t lookup_shift;
  uint32_t reserved;
  uint64_t C[6];
  int32_t sampling_shift;  // -1: no position samples
  uint32_t mapping_count;
  uint64_t block_count;  // length / 192 + 1
  uint64_t lookup_size;
  uint64_t macro_block_count;
  uint64_t sample_count;
  uint64_t sample_mask;
  uint64_t position_bits;
};
static_assert(sizeof(na_header) == 136);

// Constant tables of the rank structure; each is generated from its rule.
namespace na_tables {

constexpr uint8_t kPlainLimit = 0xFE;  // top byte of w0 below this: plain block
constexpr uint8_t kMixed = 0xFF;
constexpr uint8_t kFull = 0xFE;
constexpr int kCodeCount = 252;

// Bytes of a count entry from the lowest: A+C+G, A+C, A, 0.
constexpr uint32_t count_entry(uint32_t a, uint32_t ac, uint32_t acg) { return acg | (ac << 8) | (a << 16); }

// Upper code of a 64-row sub-block: (a, c, g) = (A / 10, C / 5, G / 5),
// numbered in increasing order of g + 16c + 256a over the 252 triples with
// 10a + 5c + 5g <= 64.
constexpr std::array<uint8_t, 1552> make_upper_codes() {
  std::array<uint8_t, 1552> t{};
  int code = 0;
  for (int index = 0; index < 1552; index++) {
    const int g = index & 15, c = (index >> 4) & 15, a = index >> 8;
    if (c <= 12 && g <= 12 && 10 * a + 5 * c + 5 * g <= 64) t[index] = static_cast<uint8_t>(code++);
  }
  return t;
}

constexpr std::array<uint32_t, kCodeCount> make_upper_counts() {
  std::array<uint32_t, kCodeCount> t{};
  int code = 0;
  for (int index = 0; index < 1552; index++) {
    const uint32_t g = index & 15, c = (index >> 4) & 15, a = index >> 8;
    if (c <= 12 && g <= 12 && 10 * a + 5 * c + 5 * g <= 64)
      t[code++] = count_entry(10 * a, 10 * a + 5 * c, 10 * a + 5 * c + 5 * g);
  }
  return t;
}

// Lower code l = (G mod 5) + 5 (C mod 5) + 25 (A mod 10); 250 and 251 are 0.
constexpr std::array<uint32_t, kCodeCount> make_lower_counts() {
  std::array<uint32_t, kCodeCount> t{};
  for (uint32_t l = 0; l < 250; l++) {
    const uint32_t g = l % 5, c = (l / 5) % 5, a = l / 25;
    t[l] = count_entry(a, a + c, a + c + g);
  }
  return t;
}

// Rows 0..31 of a sub-block sit on the even bits of the interleaved planes,
// rows 32..63 on the odd bits; entry k selects the first k rows.
constexpr std::array<uint64_t, 64> make_subblock_masks() {
  std::array<uint64_t, 64> t{};
  for (int k = 0; k < 64; k++) {
    if (k <= 32) {
      for (int i = 0; i < k; i++) t[k] |= 1ull << (2 * i);
    } else {
      t[k] = 0x5555555555555555ull | ((1ull << (2 * (k - 32))) - 1);
    }
  }
  return t;
}

// Rank inside a plain 64-row sub-block held in words x (rows 0-31) and y
// (rows 32-63): interleaved planes with a bit set where the high bit of the
// symbol is 0 (A or C) and where the low bit is 0 (A or G); mask m selects
// rows (subblock_masks). Adds the counts of A, A+C, A+C+G.
inline void add_plain_counts(uint64_t x, uint64_t y, uint64_t m, uint64_t &a, uint64_t &ac, uint64_t &acg) {
  const uint64_t high_zero = ~(((x >> 1) & 0x5555555555555555ull) | (y & 0xAAAAAAAAAAAAAAAAull));
  const uint64_t low_zero = ~((x & 0x5555555555555555ull) | ((y & 0x5555555555555555ull) << 1));
  a += _mm_popcnt_u64(m & high_zero & low_zero);
  ac += _mm_popcnt_u64(m & high_zero);
  acg += _mm_popcnt_u64(m & (high_zero | low_zero));
}

// Mask of the first k (0 to 32) nibbles of a 32-row group for
// add_nibble_counts: bit 4j for row j < 16, bit 4(j - 16) + 1 for the rest.
inline uint64_t nibble_mask(unsigned k) {
  constexpr uint64_t kOnes = 0x1111111111111111ull;
  const uint64_t first = k >= 16 ? ~0ull : (1ull << (4 * k)) - 1;
  const uint64_t second = k >= 32 ? ~0ull : (k > 16 ? (1ull << (4 * (k - 16))) - 1 : 0);
  return (first & kOnes) | ((second & kOnes) << 1);
}

// Rank inside a 32-row group of an extra block (words lo and hi): bit planes
// of the nibbles, bit 4j from lo and bit 4j + 1 from hi, restricted by mask
// m (nibble_mask). Adds the counts of A, A+C, A+C+G, A+C+G+T (4 is N or
// separator).
inline void add_nibble_counts(uint64_t lo, uint64_t hi, uint64_t m, uint64_t &a, uint64_t &ac, uint64_t &acg,
                              uint64_t &acgt) {
  constexpr uint64_t kOnes = 0x1111111111111111ull;
  const uint64_t p0 = (lo & kOnes) | ((hi & kOnes) << 1);
  const uint64_t p1 = ((lo >> 1) & kOnes) | (((hi >> 1) & kOnes) << 1);
  const uint64_t p2 = ((lo >> 2) & kOnes) | (((hi >> 2) & kOnes) << 1);
  a += _mm_popcnt_u64(m & ~(p0 | p1 | p2));
  ac += _mm_popcnt_u64(m & ~(p1 | p2));
  acg += _mm_popcnt_u64(m & ~(p2 | (p0 & p1)));
  acgt += _mm_popcnt_u64(m & ~p2);
}

inline constexpr std::array<uint8_t, 1552> subblock_upper_codes = make_upper_codes();
inline constexpr std::array<uint32_t, kCodeCount> subblock_upper_counts = make_upper_counts();
inline constexpr std::array<uint32_t, kCodeCount> subblock_lower_counts = make_lower_counts();
inline constexpr std::array<uint64_t, 64> subblock_masks = make_subblock_masks();

}  // namespace na_tables

class NucleotideArray {
 public:
  // Position that no sample reaches: the sequence's smallest row and the
  // text position it stands for.
  struct _position_mapping {
    uint64_t row;
    uint32_t sequence_id;
    uint32_t position;
  };
  static_assert(sizeof(_position_mapping) == 16);

  // An empty array of length rows for sequence_count records whose longest
  // sequence has max_sequence_length rows; blocks zeroed, no sampling. A
  // negative sequence count ends the process (status 1).
  NucleotideArray(unsigned long long length, int sequence_count, unsigned int max_sequence_length);
  ~NucleotideArray();
  NucleotideArray(const NucleotideArray &) = delete;
  NucleotideArray &operator=(const NucleotideArray &) = delete;

  // Turns on position sampling with windows of 2^shift rows (shift 0 to
  // 63); -1 leaves it off. Call before any row is written. A shift out of
  // range ends the process (status 1).
  void init_position_sampling(int shift);

  // Fills the next record slot. Ends the process when more records are
  // added than the array was made for.
  void add_sequence(unsigned int sequence_id, unsigned int length, bool circular, unsigned int position,
                    unsigned long long row);

  // Builds the rank structures from the raw symbols; runs alone, once. Ends
  // the process when the separators written do not match the non-circular
  // records (a builder fault).
  void finish();
  // finish() after cutting the array to its first length rows and
  // sequence_count records (neither may grow).
  void shrink_and_finish(unsigned long long length, int sequence_count);

  // Symbol of row r (r below the length).
  unsigned char get(unsigned long long r) const;
  // Seven cumulative counts of the rows before r (r up to the length):
  // out[0] = 0, out[1] A, out[2] A+C, out[3] A+C+G, out[4] A+C+G+T,
  // out[5] r - separators, out[6] = r.
  void occ_all_popcnt(unsigned long long r, unsigned long long *out) const;
  // The first five of those counts (out[0] to out[4]): enough for the
  // ranks of A, C, G and T, without the separator look-up.
  void occ_bases(unsigned long long r, unsigned long long *out) const;
  // Rows before r holding symbol c (0 to 5).
  unsigned long long occ(unsigned long long r, unsigned char c) const {
    unsigned long long counts[7];
    if (c < 4) occ_bases(r, counts);
    else occ_all_popcnt(r, counts);
    return counts[c + 1] - counts[c];
  }
  // Asks the processor to fetch the block of row r; no other effect.
  void prefetch(unsigned long long r) const { _mm_prefetch(reinterpret_cast<const char *>(&blocks_[r / 192]), _MM_HINT_T0); }

  // True when row r is the sampled row of its window (sampling on).
  bool is_sampled(unsigned long long r) const { return is_sampled_row(r, header_.sample_mask); }
  static bool is_sampled_row(unsigned long long r, unsigned long long mask) {
    return ((r ^ (((r & ~mask) * 0xdeadbeefull) >> 21)) & mask) == 0;
  }
  // Sample of a sampled row: (sequence << position bits) | text position.
  unsigned long long sample(unsigned long long r) const { return samples_->get(r >> header_.sampling_shift); }
  unsigned int sample_sequence(unsigned long long value) const {
    return static_cast<unsigned int>(value >> header_.position_bits);
  }
  unsigned int sample_position(unsigned long long value) const {
    return static_cast<unsigned int>(value & ((1ull << header_.position_bits) - 1));
  }

  const na_header &header() const { return header_; }
  unsigned long long length() const { return header_.length; }
  unsigned int sequence_count() const { return header_.sequence_count; }
  unsigned int max_sequence_length() const { return header_.max_sequence_length; }
  unsigned int non_circular_count() const { return header_.non_circular_count; }
  const unsigned long long *C() const { return reinterpret_cast<const unsigned long long *>(header_.C); }
  int sampling_shift() const { return header_.sampling_shift; }
  bool is_finished() const { return finished_; }

  // Records in stored order (after finish: non-circular ones first, by row).
  const na_sequence &sequence(unsigned int i) const { return sequences_[i]; }
  na_sequence *sequences() { return sequences_.data(); }
  // Position samples (null without sampling) and the explicit mappings,
  // sorted by row after finish. Mutable for the id rewrite of the matcher.
  BitfieldVector *position_samples() { return samples_.get(); }
  const BitfieldVector *position_samples() const { return samples_.get(); }
  std::vector<_position_mapping> &position_mappings() { return mappings_; }
  const std::vector<_position_mapping> &position_mappings() const { return mappings_; }

  // Writes the image: the header, then blocks, extra blocks, records,
  // separator lookup, macro blocks, the samples (when sampling is on) and
  // the mappings. A short write ends the process (Writer::write_error).
  void save(Writer *out) const;
  // Reads an image written by save into a finished array. Returns null when
  // the header announces samples but none are stored. A short read ends the
  // process (Reader::read_error); an image whose sizes, indexes, block
  // kinds or samples do not fit together ends it with
  // "Index file '%s' is corrupt.\n" (status 1).
  static std::unique_ptr<NucleotideArray> load(Reader *in);

  // Bytes held: the object, every array, the samples' packed bits / 8.
  unsigned long long memory_usage() const;

 private:
  friend class NucleotideArrayWriter;
  friend class NucleotideArraySequenceWriter;

  NucleotideArray() = default;

  uint8_t *raw_symbols() { return reinterpret_cast<uint8_t *>(blocks_.data()); }
  void add_raw_symbol(unsigned long long row, unsigned char symbol);
  // Index of the first non-circular record at or after row r in the bucket
  // of block b.
  uint64_t separators_before(unsigned long long r, uint64_t b) const;
  void take_record(const na_sequence &record);
  void add_mapping(const _position_mapping &mapping);
  bool contents_are_sound() const;

  na_header header_{};
  IndexBuffer<na_block> blocks_;
  IndexBuffer<na_extra_block> extra_blocks_;
  IndexBuffer<na_macro_block> macro_blocks_;
  IndexBuffer<na_sequence> sequences_;
  IndexBuffer<uint32_t> lookup_;
  std::unique_ptr<BitfieldVector> samples_;
  std::vector<_position_mapping> mappings_;
  bool finished_ = false;
  std::atomic<uint32_t> records_taken_{0};
  std::mutex mapping_mutex_;
};

// Fills rows of an array by atomic adds, so writers of neighbouring rows
// may run at once.
class NucleotideArrayWriter {
 public:
  explicit NucleotideArrayWriter(NucleotideArray *array) : array_(array) {}
  // Writes symbol (0 to 5) at row (below the length); each row once.
  void set(unsigned long long row, unsigned char symbol) { array_->add_raw_symbol(row, symbol); }
  void finish() {}

 private:
  NucleotideArray *array_;
};

// Writes every row of one sequence and, at finish, its record, its samples
// and, when no row of it was sampled, its explicit mapping.
class NucleotideArraySequenceWriter {
 public:
  // Ends the process when sampling is on and the sequence id does not fit
  // the id bits of the samples (ids must be below the sequence count).
  NucleotideArraySequenceWriter(NucleotideArray *array, unsigned int sequence_id, unsigned int length);
  // Writes symbol at row, which stands for text position position.
  void set(unsigned long long row, unsigned int position, unsigned char symbol) {
    array_->add_raw_symbol(row, symbol);
    if (symbol == 5) {
      separator_row_ = row;
      separator_position_ = position;
      has_separator_ = true;
    }
    if (row < smallest_row_) {
      smallest_row_ = row;
      smallest_position_ = position;
    }
    if (sampling_ && NucleotideArray::is_sampled_row(row, mask_)) {
      array_->samples_->set_atomic(row >> shift_, id_bits_ | position);
      has_sample_ = true;
    }
  }
  void finish();

 private:
  NucleotideArray *array_;
  unsigned int sequence_id_;
  unsigned int length_;
  bool sampling_;
  int shift_ = 0;
  unsigned long long mask_ = 0;
  unsigned long long id_bits_ = 0;  // sequence id << position bits
  unsigned long long separator_row_ = 0;
  unsigned int separator_position_ = 0;
  bool has_separator_ = false;
  unsigned long long smallest_row_ = ~0ull;
  unsigned int smallest_position_ = 0;
  bool has_sample_ = false;
};

// ---------------------------------------------------------------------------
// Hot paths, inline for the search.

inline uint64_t NucleotideArray::separators_before(unsigned long long r, uint64_t b) const {
  const uint64_t bucket = b >> header_.lookup_shift;
  uint64_t lo = lookup_[bucket], hi = lookup_[bucket + 1];
  while (lo < hi) {
    const uint64_t mid = (lo + hi) >> 1;
    if (sequences_[mid].row < r) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

inline unsigned char NucleotideArray::get(unsigned long long r) const {
  const uint64_t b = r / 192;
  const unsigned i = static_cast<unsigned>(r - b * 192);
  const na_block &block = blocks_[b];
  const uint32_t kind = block.w[0] >> 24;
  if (kind < na_tables::kPlainLimit) return static_cast<unsigned char>((block.data[i >> 5] >> (2 * (i & 31))) & 3);
  if (kind == na_tables::kMixed) {
    const unsigned nibble = (extra_blocks_[block.data[5]].words[i >> 4] >> (4 * (i & 15))) & 15;
    if (nibble != 4) return static_cast<unsigned char>(nibble);
  }
  const uint64_t k = separators_before(r, b);
  return k < header_.non_circular_count && sequences_[k].row == r ? 5 : 4;
}

inline void NucleotideArray::occ_bases(unsigned long long r, unsigned long long *out) const {
  const uint64_t b = r / 192;
  const unsigned i = static_cast<unsigned>(r - b * 192);
  const na_block &block = blocks_[b];
  const na_macro_block &macro = macro_blocks_[b >> 16];
  uint64_t a = macro.counts[0] + (block.w[0] & 0xFFFFFF);
  uint64_t ac = macro.counts[1] + (block.w[1] & 0xFFFFFF);
  uint64_t acg = macro.counts[2] + (block.w[2] & 0xFFFFFF);
  uint64_t acgt = macro.counts[3] + (block.w[3] & 0xFFFFFF);
  const uint32_t kind = block.w[0] >> 24;
  if (kind < na_tables::kPlainLimit) {
    const unsigned s = i >> 6;
    uint32_t before = 0;
    if (s >= 1)
      before = na_tables::subblock_upper_counts[kind] + na_tables::subblock_lower_counts[block.w[1] >> 24];
    if (s == 2)
      before += na_tables::subblock_upper_counts[block.w[2] >> 24] + na_tables::subblock_lower_counts[block.w[3] >> 24];
    acg += before & 0xFF;
    ac += (before >> 8) & 0xFF;
    a += before >> 16;
    na_tables::add_plain_counts(block.data[2 * s], block.data[2 * s + 1], na_tables::subblock_masks[i & 63], a, ac,
                                acg);
    acgt += i;
  } else if (kind == na_tables::kMixed) {
    const unsigned g = i >> 5;
    const uint8_t *group = reinterpret_cast<const uint8_t *>(&block) + 16 + 4 * g;
    a += group[0];
    ac += group[1];
    acg += group[2];
    acgt += group[3];
    const na_extra_block &extra = extra_blocks_[block.data[5]];
    na_tables::add_nibble_counts(extra.words[2 * g], extra.words[2 * g + 1], na_tables::nibble_mask(i & 31), a, ac,
                                 acg, acgt);
  }
  out[0] = 0;
  out[1] = a;
  out[2] = ac;
  out[3] = acg;
  out[4] = acgt;
}

inline void NucleotideArray::occ_all_popcnt(unsigned long long r, unsigned long long *out) const {
  occ_bases(r, out);
  out[5] = r - separators_before(r, r / 192);
  out[6] = r;
}
