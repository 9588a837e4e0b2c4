#include "fm/index/mapper_index.h"

#include <algorithm>
#include <cstring>

#include "fm/index/burrows_wheeler_index_builder.h"
#include "fm/index/index_file.h"
#include "fm/runtime/reader_writer.h"

namespace {

// The two arrays must describe the same rotations: equal lengths, records
// and symbol totals. Only the text array can locate matches, so it has
// position samples and the reversed array has none.
bool arrays_fit(const NucleotideArray &text, const NucleotideArray &reversed) {
  if (text.sampling_shift() < 0 || reversed.sampling_shift() != -1) return false;
  if (text.length() != reversed.length() || text.sequence_count() != reversed.sequence_count() ||
      text.non_circular_count() != reversed.non_circular_count())
    return false;
  return std::memcmp(text.C(), reversed.C(), 6 * sizeof(unsigned long long)) == 0;
}

// Every record of the text array stands for one of the m sequences, each
// sequence has exactly one record, and the record agrees with the
// sequence's length and circular flag: length + 1 rows with the
// separator, or for a circular sequence one copy of the word it repeats.
// The records' rows add up to the array. An index without sequences holds
// the single separator row.
bool records_fit(const NucleotideArray &text, const std::vector<MapperIndexRef> &refs) {
  const uint64_t m = refs.size();
  if (m == 0) {
    if (text.length() != 1 || text.sequence_count() != 1) return false;
    const na_sequence &only = text.sequence(0);
    return only.circular == 0 && only.length == 1;
  }
  if (m != text.sequence_count()) return false;
  std::vector<bool> seen(m, false);
  uint64_t rows = 0;
  for (uint32_t i = 0; i < text.sequence_count(); i++) {
    const na_sequence &record = text.sequence(i);
    if (record.sequence_id >= m || seen[record.sequence_id]) return false;
    seen[record.sequence_id] = true;
    const MapperIndexRef &ref = refs[record.sequence_id];
    if ((record.circular != 0) != ref.circular || ref.length > kMaxIndexedSequenceLength) return false;
    if (record.length == 0 || record.length > text.max_sequence_length()) return false;
    if (ref.circular ? ref.length % record.length != 0 : ref.length + 1 != record.length) return false;
    rows += record.length;
  }
  return rows == text.length();
}

}  // namespace

MapperIndex::MapperIndex(std::unique_ptr<BidirectionalMatcher> matcher_in, std::vector<MapperIndexRef> &&refs_in,
                         uint64_t first_id, unsigned int depth, bool second)
    : matcher(std::move(matcher_in)),
      first_sequence_id(first_id),
      refs(std::move(refs_in)),
      acceleration_depth(depth),
      second_set(second) {
  matcher->build_acceleration_table(static_cast<int>(acceleration_depth));
}

MapperIndex::MapperIndex(uint64_t first_id, Reader *in, unsigned int depth, bool second)
    : first_sequence_id(first_id), acceleration_depth(depth), second_set(second) {
  matcher = BidirectionalMatcher::load(in);
  if (!matcher || !arrays_fit(*matcher->text_array(), *matcher->reversed_array())) index_file_corrupt(in);
  uint64_t m;
  in->read_exact(&m, sizeof(m));
  // The array holds one record per sequence (and was read in full), so m
  // sizes nothing larger than what the file already delivered.
  if (m != matcher->text_array()->sequence_count() && !(m == 0 && matcher->text_array()->length() == 1))
    index_file_corrupt(in);
  std::vector<uint64_t> lengths(m);
  in->read_exact(lengths.data(), m * sizeof(uint64_t));
  std::vector<uint32_t> flags(m);
  in->read_exact(flags.data(), m * sizeof(uint32_t));
  refs.resize(m);
  for (uint64_t i = 0; i < m; i++) {
    if (flags[i] > 1) index_file_corrupt(in);
    refs[i] = {lengths[i], flags[i] == 1};
  }
  if (!records_fit(*matcher->text_array(), refs)) index_file_corrupt(in);
  matcher->build_acceleration_table(static_cast<int>(acceleration_depth));
}

MapperIndex::~MapperIndex() = default;

void MapperIndex::save(Writer *out) const {
  matcher->save(out);
  const uint64_t m = refs.size();
  out->write_exact(&m, sizeof(m));
  std::vector<uint64_t> lengths(m);
  std::vector<uint32_t> flags(m);
  for (uint64_t i = 0; i < m; i++) {
    lengths[i] = refs[i].length;
    flags[i] = refs[i].circular ? 1 : 0;
  }
  out->write_exact(lengths.data(), m * sizeof(uint64_t));
  out->write_exact(flags.data(), m * sizeof(uint32_t));
}
