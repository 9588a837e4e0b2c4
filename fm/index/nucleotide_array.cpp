#include "fm/index/nucleotide_array.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/ryx_exit.h"
#include "fm/index/index_file.h"
#include "fm/runtime/reader_writer.h"

namespace {

// Raw fill: three base-6 symbols a byte, row r in byte r / 3 with weight
// factors[r mod 3].
constexpr uint32_t factors[3] = {1, 6, 36};

// For a base-6 byte: how many of its three symbols are N or separator. The
// 8 zero bytes of padding cover byte values a damaged fill could leave.
constexpr std::array<uint8_t, 224> make_count_ns() {
  std::array<uint8_t, 224> t{};
  for (int v = 0; v < 216; v++) t[v] = static_cast<uint8_t>((v % 6 >= 4) + ((v / 6) % 6 >= 4) + (v / 36 >= 4));
  return t;
}
constexpr std::array<uint8_t, 224> count_ns = make_count_ns();

// Entry v = (v mod 6, (v / 6) mod 6, v / 36, 0).
constexpr std::array<std::array<uint8_t, 4>, 216> make_unpack_symbols() {
  std::array<std::array<uint8_t, 4>, 216> t{};
  for (int v = 0; v < 216; v++)
    t[v] = {static_cast<uint8_t>(v % 6), static_cast<uint8_t>((v / 6) % 6), static_cast<uint8_t>(v / 36), 0};
  return t;
}
constexpr std::array<std::array<uint8_t, 4>, 216> unpack_symbols = make_unpack_symbols();

constexpr uint64_t kRowsPerMacroBlock = 65536ull * 192;

// Rows actually held by block k of an array of length rows.
unsigned rows_in_block(uint64_t length, uint64_t k) {
  const uint64_t first = k * 192;
  return first >= length ? 0 : static_cast<unsigned>(std::min<uint64_t>(192, length - first));
}

// Lookup shift from the blocks per sequence q: floor(log2 q) - 2 kept
// within 8 to 22; 22 when q is below 4.
uint32_t lookup_shift_for(uint64_t block_count, uint64_t sequence_count) {
  const uint64_t q = block_count / std::max<uint64_t>(sequence_count, 1);
  if (q < 4) return 22;
  const int shift = 63 - __builtin_clzll(q) - 2;
  return static_cast<uint32_t>(std::clamp(shift, 8, 22));
}

// Largest row below length that is sampled with windows of mask + 1 rows;
// window 0 always samples row 0.
uint64_t largest_sampled_row(uint64_t length, uint64_t mask) {
  if (length == 0) return 0;
  uint64_t base = (length - 1) & ~mask;
  for (;;) {
    const uint64_t row = base | (((base * 0xdeadbeefull) >> 21) & mask);
    if (row < length) return row;
    if (base == 0) return 0;
    base -= mask + 1;
  }
}

}  // namespace

NucleotideArray::NucleotideArray(unsigned long long length, int sequence_count, unsigned int max_sequence_length) {
  if (sequence_count < 0) ryx_fail("Nucleotide array: negative sequence count.\n");
  header_.length = length;
  header_.sequence_count = static_cast<uint32_t>(sequence_count);
  header_.max_sequence_length = max_sequence_length;
  header_.sampling_shift = -1;
  header_.block_count = length / 192 + 1;
  header_.position_bits = max_sequence_length > 1 ? bits_needed(max_sequence_length - 1ull) : 0;
  blocks_.allocate(header_.block_count);
  sequences_.allocate(header_.sequence_count);
}

NucleotideArray::~NucleotideArray() = default;

void NucleotideArray::init_position_sampling(int shift) {
  if (shift == -1) return;
  if (shift < 0 || shift > 63) ryx_fail("Nucleotide array: sampling shift out of range.\n");
  const uint64_t mask = (1ull << shift) - 1;
  header_.sampling_shift = shift;
  header_.sample_mask = mask;
  const uint64_t largest = largest_sampled_row(header_.length, mask);
  header_.sample_count = (largest >> shift) + 1;
  const uint64_t id_bits = header_.sequence_count > 1 ? bits_needed(header_.sequence_count - 1ull) : 0;
  samples_ = std::make_unique<BitfieldVector>(header_.sample_count, header_.position_bits + id_bits);
  header_.mapping_count = 0;
  mappings_.clear();
}

void NucleotideArray::add_raw_symbol(unsigned long long row, unsigned char symbol) {
  std::atomic_ref<uint8_t> byte(raw_symbols()[row / 3]);
  byte.fetch_add(static_cast<uint8_t>(symbol * factors[row % 3]), std::memory_order_relaxed);
}

void NucleotideArray::take_record(const na_sequence &record) {
  const uint32_t slot = records_taken_.fetch_add(1, std::memory_order_relaxed);
  if (slot >= header_.sequence_count) ryx_fail("Nucleotide array: more sequence records than announced.\n");
  sequences_[slot] = record;
}

void NucleotideArray::add_sequence(unsigned int sequence_id, unsigned int length, bool circular,
                                   unsigned int position, unsigned long long row) {
  na_sequence record{};
  record.sequence_id = sequence_id;
  record.length = length;
  record.circular = circular ? 1 : 0;
  record.position = position;
  record.row = row;
  take_record(record);
}

void NucleotideArray::add_mapping(const _position_mapping &mapping) {
  std::lock_guard<std::mutex> lock(mapping_mutex_);
  mappings_.push_back(mapping);
  header_.mapping_count = static_cast<uint32_t>(mappings_.size());
}

void NucleotideArray::shrink_and_finish(unsigned long long length, int sequence_count) {
  if (sequence_count < 0 || length > header_.length || static_cast<uint32_t>(sequence_count) > header_.sequence_count)
    ryx_fail("Nucleotide array: cannot grow while shrinking.\n");
  header_.length = length;
  header_.block_count = length / 192 + 1;
  blocks_.truncate(header_.block_count);
  // Raw symbols past the new length would count in the last block.
  if (length % 3 != 0) {
    uint8_t &last = raw_symbols()[length / 3];
    last = static_cast<uint8_t>(last % factors[length % 3]);
  }
  std::memset(raw_symbols() + (length + 2) / 3, 0, header_.block_count * 64 - (length + 2) / 3);
  header_.sequence_count = static_cast<uint32_t>(sequence_count);
  sequences_.truncate(header_.sequence_count);
  if (header_.sampling_shift >= 0) {
    // Re-pack the samples for the new length and id width.
    std::unique_ptr<BitfieldVector> old = std::move(samples_);
    std::vector<_position_mapping> mappings = std::move(mappings_);
    init_position_sampling(header_.sampling_shift);
    for (uint64_t i = 0; i < header_.sample_count && i < old->count(); i++) samples_->set(i, old->get(i));
    mappings_ = std::move(mappings);
    std::vector<_position_mapping> kept;
    for (const _position_mapping &m : mappings_)
      if (m.row < length) kept.push_back(m);
    mappings_ = std::move(kept);
    header_.mapping_count = static_cast<uint32_t>(mappings_.size());
  }
  finish();
}

void NucleotideArray::finish() {
  if (finished_) return;
  std::sort(mappings_.begin(), mappings_.end(),
            [](const _position_mapping &x, const _position_mapping &y) { return x.row < y.row; });
  header_.mapping_count = static_cast<uint32_t>(mappings_.size());

  // Non-circular records first: walking from the last record, each
  // circular one is swapped to the back.
  const uint32_t count = header_.sequence_count;
  uint32_t tail = count;
  for (uint32_t i = count; i-- > 0;)
    if (sequences_[i].circular) std::swap(sequences_[i], sequences_[--tail]);
  header_.non_circular_count = tail;
  std::sort(sequences_.data(), sequences_.data() + tail,
            [](const na_sequence &x, const na_sequence &y) { return x.row < y.row; });

  const uint64_t length = header_.length;
  const uint64_t block_count = header_.block_count;
  uint8_t *raw = raw_symbols();

  // Mixed blocks: some but not all of their rows are N or separators.
  uint64_t mixed = 0;
  for (uint64_t k = 0; k < block_count; k++) {
    unsigned ns = 0;
    for (int j = 0; j < 64; j++) ns += count_ns[raw[k * 64 + j]];
    const unsigned rows = rows_in_block(length, k);
    if (ns != 0 && ns != rows) mixed++;
  }
  if (mixed > 0xFFFFFFFFull) ryx_fail("Nucleotide array: too many mixed blocks.\n");
  header_.extra_block_count = static_cast<uint32_t>(mixed);
  extra_blocks_.allocate(mixed);

  const uint32_t shift = lookup_shift_for(block_count, count);
  header_.lookup_shift = shift;
  header_.lookup_size = ((block_count - 1) >> shift) + 2;
  header_.macro_block_count = ((block_count - 1) >> 16) + 1;
  lookup_.allocate(header_.lookup_size);
  macro_blocks_.allocate(header_.macro_block_count);

  uint64_t totals[6] = {0, 0, 0, 0, 0, 0};
  uint64_t base[4] = {0, 0, 0, 0};
  uint64_t next_extra = 0;
  uint8_t symbols[192];
  for (uint64_t k = 0; k < block_count; k++) {
    if ((k & ((1ull << shift) - 1)) == 0) lookup_[k >> shift] = static_cast<uint32_t>(totals[5]);
    if ((k & 0xFFFF) == 0) {
      base[0] = totals[0];
      base[1] = base[0] + totals[1];
      base[2] = base[1] + totals[2];
      base[3] = base[2] + totals[3];
      std::copy(base, base + 4, macro_blocks_[k >> 16].counts);
    }
    const unsigned rows = rows_in_block(length, k);
    const uint8_t *in = raw + k * 64;
    for (int j = 0; j < 64; j++) std::memcpy(symbols + 3 * j, unpack_symbols[in[j]].data(), 3);
    // Rows past the length are zero in the raw store; they are packed as
    // A but counted nowhere, not even in the codes and group counts of the
    // last block.
    unsigned block_counts[6] = {0, 0, 0, 0, 0, 0};
    for (unsigned j = 0; j < rows; j++) block_counts[symbols[j]]++;
    const unsigned ns = block_counts[4] + block_counts[5];

    na_block out{};
    const uint64_t cumulative[4] = {totals[0], totals[0] + totals[1], totals[0] + totals[1] + totals[2],
                                    totals[0] + totals[1] + totals[2] + totals[3]};
    for (int c = 0; c < 4; c++) out.w[c] = static_cast<uint32_t>(cumulative[c] - base[c]);

    if (ns == rows) {
      out.w[0] |= uint32_t{na_tables::kFull} << 24;
    } else if (ns == 0) {
      for (int j = 0; j < 192; j++) out.data[j >> 5] |= uint64_t{symbols[j]} << (2 * (j & 31));
      for (unsigned s = 0; s < 2; s++) {
        unsigned n[4] = {0, 0, 0, 0};
        for (unsigned j = 64 * s; j < std::min(64 * s + 64, rows); j++) n[symbols[j]]++;
        const unsigned upper =
            na_tables::subblock_upper_codes[n[2] / 5 + 16 * (n[1] / 5) + 256 * (n[0] / 10)];
        const unsigned lower = n[2] % 5 + 5 * (n[1] % 5) + 25 * (n[0] % 10);
        out.w[2 * s] |= upper << 24;
        out.w[2 * s + 1] |= lower << 24;
      }
    } else {
      na_extra_block &extra = extra_blocks_[next_extra];
      uint8_t *group = reinterpret_cast<uint8_t *>(&out) + 16;
      unsigned running[4] = {0, 0, 0, 0};
      for (int j = 0; j < 192; j++) {
        if ((j & 31) == 0) {
          const int g = j >> 5;
          group[4 * g] = static_cast<uint8_t>(running[0]);
          group[4 * g + 1] = static_cast<uint8_t>(running[0] + running[1]);
          group[4 * g + 2] = static_cast<uint8_t>(running[0] + running[1] + running[2]);
          group[4 * g + 3] = static_cast<uint8_t>(running[0] + running[1] + running[2] + running[3]);
        }
        const unsigned symbol = symbols[j] == 5 ? 4 : symbols[j];
        if (symbol < 4 && static_cast<unsigned>(j) < rows) running[symbol]++;
        extra.words[j >> 4] |= uint64_t{symbol} << (4 * (j & 15));
      }
      out.data[5] = next_extra++;
      out.w[0] |= uint32_t{na_tables::kMixed} << 24;
    }
    std::memcpy(&blocks_[k], &out, sizeof(out));
    for (int c = 0; c < 6; c++) totals[c] += block_counts[c];
  }
  lookup_[header_.lookup_size - 1] = static_cast<uint32_t>(totals[5]);
  if (totals[5] != header_.non_circular_count)
    ryx_fail("Nucleotide array: separators and non-circular sequence records do not match.\n");
  header_.C[0] = 0;
  for (int c = 1; c < 6; c++) header_.C[c] = header_.C[c - 1] + totals[c - 1];
  finished_ = true;
}

unsigned long long NucleotideArray::memory_usage() const {
  unsigned long long bytes = sizeof(*this) + blocks_.bytes() + extra_blocks_.bytes() + macro_blocks_.bytes() +
                             sequences_.bytes() + lookup_.bytes() + mappings_.size() * sizeof(_position_mapping);
  if (samples_) bytes += samples_->packed_bytes();
  return bytes;
}

NucleotideArraySequenceWriter::NucleotideArraySequenceWriter(NucleotideArray *array, unsigned int sequence_id,
                                                             unsigned int length)
    : array_(array), sequence_id_(sequence_id), length_(length), sampling_(array->header_.sampling_shift >= 0) {
  if (sampling_) {
    shift_ = array->header_.sampling_shift;
    mask_ = array->header_.sample_mask;
    const uint64_t width = array->samples_->bits();
    const uint64_t position_bits = array->header_.position_bits;
    if (width - position_bits < 32 && (sequence_id >> (width - position_bits)) != 0)
      ryx_fail("Nucleotide array: sequence id beyond the sample width.\n");
    id_bits_ = static_cast<unsigned long long>(sequence_id) << position_bits;
  }
}

void NucleotideArraySequenceWriter::finish() {
  na_sequence record{};
  record.sequence_id = sequence_id_;
  record.length = length_;
  record.circular = has_separator_ ? 0 : 1;
  record.position = has_separator_ ? separator_position_ : smallest_position_;
  record.row = has_separator_ ? separator_row_ : smallest_row_;
  array_->take_record(record);
  if (sampling_ && !has_sample_) array_->add_mapping({smallest_row_, sequence_id_, smallest_position_});
}

// ---------------------------------------------------------------------------
// The saved image.

void NucleotideArray::save(Writer *out) const {
  if (!finished_) ryx_fail("Nucleotide array: only a finished array can be saved.\n");
  out->write_exact(&header_, sizeof(header_));
  out->write_exact(blocks_.data(), header_.block_count * sizeof(na_block));
  out->write_exact(extra_blocks_.data(), uint64_t{header_.extra_block_count} * sizeof(na_extra_block));
  out->write_exact(sequences_.data(), uint64_t{header_.sequence_count} * sizeof(na_sequence));
  out->write_exact(lookup_.data(), header_.lookup_size * sizeof(uint32_t));
  out->write_exact(macro_blocks_.data(), header_.macro_block_count * sizeof(na_macro_block));
  if (header_.sampling_shift != -1) samples_->save(out);
  out->write_exact(mappings_.data(), mappings_.size() * sizeof(_position_mapping));
}

namespace {

// Every size of the header against the others, before any of them sizes an
// allocation or an index.
bool header_is_sound(const na_header &h) {
  if (h.block_count != h.length / 192 + 1 || h.reserved != 0) return false;
  if (h.sequence_count > h.length || h.max_sequence_length > h.length) return false;
  if (h.position_bits != (h.max_sequence_length > 1 ? bits_needed(h.max_sequence_length - 1ull) : 0)) return false;
  if (h.non_circular_count > h.sequence_count || h.extra_block_count > h.block_count) return false;
  if (h.lookup_shift < 8 || h.lookup_shift > 22) return false;
  if (h.lookup_size != ((h.block_count - 1) >> h.lookup_shift) + 2) return false;
  if (h.macro_block_count != ((h.block_count - 1) >> 16) + 1) return false;
  if (h.C[0] != 0) return false;
  for (int c = 1; c < 6; c++)
    if (h.C[c] < h.C[c - 1]) return false;
  // Every row that is not A, C, G, T or N is a separator, one per
  // non-circular record.
  if (h.C[5] > h.length || h.length - h.C[5] != h.non_circular_count) return false;
  if (h.sampling_shift == -1) return h.sample_count == 0 && h.sample_mask == 0 && h.mapping_count == 0;
  if (h.sampling_shift < 0 || h.sampling_shift > 63) return false;
  const uint64_t mask = (1ull << h.sampling_shift) - 1;
  if (h.sample_mask != mask) return false;
  if (h.sample_count != (largest_sampled_row(h.length, mask) >> h.sampling_shift) + 1) return false;
  return h.mapping_count <= h.sequence_count;
}

// True when every nibble of w is a symbol code 0 to 4.
bool nibbles_are_codes(uint64_t w) {
  constexpr uint64_t kOnes = 0x1111111111111111ull;
  return (w & (kOnes << 3)) == 0 && ((w >> 2) & (w | (w >> 1)) & kOnes) == 0;
}

}  // namespace

// Recounts every block and checks the stored counts, codes, indexes,
// records, lookup, samples and mappings against it, so that rank on a
// loaded array stays within the array.
bool NucleotideArray::contents_are_sound() const {
  const na_header &h = header_;
  using na_tables::subblock_lower_counts;
  using na_tables::subblock_upper_counts;
  uint64_t cumulative[4] = {0, 0, 0, 0};
  uint64_t base[4] = {0, 0, 0, 0};
  uint64_t n_rows = 0;  // N and separators
  for (uint64_t b = 0; b < h.block_count; b++) {
    if ((b & 0xFFFF) == 0) {
      const na_macro_block &macro = macro_blocks_[b >> 16];
      for (int c = 0; c < 4; c++)
        if (macro.counts[c] != cumulative[c]) return false;
      std::copy(cumulative, cumulative + 4, base);
    }
    const na_block &block = blocks_[b];
    for (int c = 0; c < 4; c++)
      if ((block.w[c] & 0xFFFFFF) != cumulative[c] - base[c]) return false;
    const unsigned rows = rows_in_block(h.length, b);
    const uint32_t kind = block.w[0] >> 24;
    uint64_t a = 0, ac = 0, acg = 0, acgt = 0;
    if (kind < na_tables::kPlainLimit) {
      const uint32_t codes[4] = {kind, block.w[1] >> 24, block.w[2] >> 24, block.w[3] >> 24};
      if (codes[0] >= na_tables::kCodeCount || codes[2] >= na_tables::kCodeCount || codes[1] >= 250 ||
          codes[3] >= 250)
        return false;
      uint32_t expected = 0;
      for (unsigned s = 0; s < 3; s++) {
        const unsigned k = rows > 64 * s ? std::min(rows - 64 * s, 64u) : 0;
        na_tables::add_plain_counts(block.data[2 * s], block.data[2 * s + 1],
                                    k == 64 ? ~0ull : na_tables::subblock_masks[k], a, ac, acg);
        if (s == 2) break;
        expected += subblock_upper_counts[codes[2 * s]] + subblock_lower_counts[codes[2 * s + 1]];
        if (expected != na_tables::count_entry(static_cast<uint32_t>(a), static_cast<uint32_t>(ac),
                                               static_cast<uint32_t>(acg)))
          return false;
      }
      acgt = rows;
    } else if (kind == na_tables::kMixed) {
      if (block.data[5] >= h.extra_block_count) return false;
      const na_extra_block &extra = extra_blocks_[block.data[5]];
      for (uint64_t w : extra.words)
        if (!nibbles_are_codes(w)) return false;
      const uint8_t *group = reinterpret_cast<const uint8_t *>(&block) + 16;
      for (unsigned g = 0; g < 6; g++) {
        if (group[4 * g] != a || group[4 * g + 1] != ac || group[4 * g + 2] != acg || group[4 * g + 3] != acgt)
          return false;
        const unsigned k = rows > 32 * g ? std::min(rows - 32 * g, 32u) : 0;
        na_tables::add_nibble_counts(extra.words[2 * g], extra.words[2 * g + 1], na_tables::nibble_mask(k), a, ac,
                                     acg, acgt);
      }
    } else if (kind != na_tables::kFull) {
      return false;
    }
    n_rows += rows - acgt;
    cumulative[0] += a;
    cumulative[1] += ac;
    cumulative[2] += acg;
    cumulative[3] += acgt;
  }

  // Non-circular records first, by strictly increasing row, each on a row
  // that the blocks hold as N; then the circular ones.
  for (uint64_t i = 0; i < h.sequence_count; i++) {
    const na_sequence &record = sequences_[i];
    if (record.circular != (i < h.non_circular_count ? 0 : 1)) return false;
    if (i >= h.non_circular_count) continue;
    if (record.row >= h.length || (i > 0 && record.row <= sequences_[i - 1].row)) return false;
    const na_block &block = blocks_[record.row / 192];
    const unsigned row = static_cast<unsigned>(record.row % 192);
    const uint32_t kind = block.w[0] >> 24;
    if (kind < na_tables::kPlainLimit) return false;
    if (kind == na_tables::kMixed && ((extra_blocks_[block.data[5]].words[row >> 4] >> (4 * (row & 15))) & 15) != 4)
      return false;
  }
  if (n_rows < h.non_circular_count) return false;
  const uint64_t totals[5] = {cumulative[0], cumulative[1], cumulative[2], cumulative[3],
                              cumulative[3] + n_rows - h.non_circular_count};
  for (int c = 0; c < 5; c++)
    if (h.C[c + 1] != totals[c]) return false;

  // Bucket k of the lookup starts at the first record at or after block
  // k << shift.
  uint64_t passed = 0;
  for (uint64_t k = 0; k + 1 < h.lookup_size; k++) {
    const uint64_t first_row = (k << h.lookup_shift) * 192;
    while (passed < h.non_circular_count && sequences_[passed].row < first_row) passed++;
    if (lookup_[k] != passed) return false;
  }
  if (lookup_[h.lookup_size - 1] != h.non_circular_count) return false;

  // Samples and mappings name a record (or sequence) and a position inside
  // the longest sequence.
  if (samples_) {
    for (uint64_t i = 0; i < samples_->count(); i++) {
      const uint64_t v = samples_->get(i);
      if (sample_sequence(v) >= h.sequence_count || sample_position(v) >= h.max_sequence_length) return false;
    }
  }
  for (size_t i = 0; i < mappings_.size(); i++) {
    const _position_mapping &m = mappings_[i];
    if (m.row >= h.length || m.sequence_id >= h.sequence_count || m.position >= h.max_sequence_length) return false;
    if (i > 0 && m.row < mappings_[i - 1].row) return false;
  }
  return true;
}

std::unique_ptr<NucleotideArray> NucleotideArray::load(Reader *in) {
  std::unique_ptr<NucleotideArray> array(new NucleotideArray());
  na_header &h = array->header_;
  in->read_exact(&h, sizeof(h));
  if (!header_is_sound(h)) index_file_corrupt(in);
  array->blocks_.allocate(h.block_count);
  in->read_exact(array->blocks_.data(), array->blocks_.bytes());
  array->extra_blocks_.allocate(h.extra_block_count);
  in->read_exact(array->extra_blocks_.data(), array->extra_blocks_.bytes());
  array->sequences_.allocate(h.sequence_count);
  in->read_exact(array->sequences_.data(), array->sequences_.bytes());
  array->lookup_.allocate(h.lookup_size);
  in->read_exact(array->lookup_.data(), array->lookup_.bytes());
  array->macro_blocks_.allocate(h.macro_block_count);
  in->read_exact(array->macro_blocks_.data(), array->macro_blocks_.bytes());
  if (h.sampling_shift != -1) {
    array->samples_ = BitfieldVector::load(in);
    if (!array->samples_) return nullptr;
    const uint64_t id_bits = h.sequence_count > 1 ? bits_needed(h.sequence_count - 1ull) : 0;
    if (array->samples_->bits() != h.position_bits + id_bits || array->samples_->count() != h.sample_count)
      index_file_corrupt(in);
  }
  // Mappings arrive in pieces, so a damaged count meets the end of the
  // file before it can ask for much memory.
  constexpr uint64_t kPiece = 65536;
  for (uint64_t done = 0; done < h.mapping_count;) {
    const uint64_t piece = std::min<uint64_t>(kPiece, h.mapping_count - done);
    array->mappings_.resize(done + piece);
    in->read_exact(array->mappings_.data() + done, piece * sizeof(_position_mapping));
    done += piece;
  }
  if (!array->contents_are_sound()) index_file_corrupt(in);
  array->records_taken_.store(h.sequence_count, std::memory_order_relaxed);
  array->finished_ = true;
  return array;
}
