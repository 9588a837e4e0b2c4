#include "fm/index/index_file.h"

#include <cstdio>
#include <cstring>

#include "common/ryx_exit.h"
#include "fm/runtime/encoding.h"
#include "fm/runtime/reader_writer.h"

namespace {

constexpr uint16_t kSecondListFlag = 1;

[[noreturn]] void refuse(const char *format, Reader *in) {
  fprintf(stderr, format, in->name());
  fflush(stderr);
  ryx_exit(1);
}

uint64_t next_sequence_id(const std::vector<MapperIndex> &set) {
  return set.empty() ? 0 : set.back().first_sequence_id + set.back().refs.size();
}

// Loads n records into set, ids continuing from its last index.
void load_list(std::vector<MapperIndex> &set, uint32_t n, unsigned int depth, bool second, Reader *in) {
  for (uint32_t i = 0; i < n; i++) set.emplace_back(next_sequence_id(set), in, depth, second);
}

}  // namespace

bool is_index_file_magic(const unsigned char *bytes) { return std::memcmp(bytes, kIndexFileMagic, 4) == 0; }

void index_file_corrupt(Reader *in) { refuse("Index file '%s' is corrupt.\n", in); }

void write_index_file(unsigned int n, const MapperIndex *first, const MapperIndex *second,
                      const std::vector<MapperFileInfo> &file_infos, Writer *out) {
  const uint16_t flags = second != nullptr ? kSecondListFlag : 0;
  const uint16_t version = kIndexFileVersion;
  const uint32_t count = n;
  out->write_exact(kIndexFileMagic, 4);
  out->write_exact(&flags, 2);
  out->write_exact(&version, 2);
  out->write_exact(&count, 4);
  file_write_flex_number(out, static_cast<unsigned int>(file_infos.size()));
  for (const MapperFileInfo &info : file_infos) {
    const uint8_t zero = 0;
    out->write_exact(&zero, 1);
    out->write_exact(&info.sequence_count, 8);
    out->write_exact(&info.total_length, 8);
    file_write_string(out, info.file_name);
  }
  for (unsigned int i = 0; i < n; i++) first[i].save(out);
  if (second != nullptr)
    for (unsigned int i = 0; i < n; i++) second[i].save(out);
}

void read_index_file(std::vector<MapperIndex> &main_set, std::vector<MapperIndex> &bisulphite_set,
                     unsigned int acceleration_depth, std::vector<MapperFileInfo> &file_infos, bool bisulphite,
                     Reader *in) {
  unsigned char magic[4];
  in->read_exact(magic, 4);
  if (!is_index_file_magic(magic)) index_file_corrupt(in);
  uint16_t flags, version;
  in->read_exact(&flags, 2);
  in->read_exact(&version, 2);
  if (version != kIndexFileVersion)
    refuse("Index file '%s' is incompatible, please use the --indexoutput parameter to regenerate it.\n", in);
  if ((flags & ~kSecondListFlag) != 0) index_file_corrupt(in);
  const bool has_second = (flags & kSecondListFlag) != 0;
  if (bisulphite && !has_second) refuse("Index file '%s' does not contain a bisulphite index.\n", in);
  if (!bisulphite && has_second)
    refuse("Index file '%s' contains a bisulphite index, but bisulphite mode is not enabled.\n", in);
  uint32_t n;
  in->read_exact(&n, 4);

  // The file infos arrive one at a time, so a damaged count meets the end
  // of the file before it can claim much memory.
  const unsigned int info_count = file_read_flex_number(in);
  uint64_t info_sequences = 0, info_bases = 0;
  std::vector<MapperFileInfo> infos;
  for (unsigned int i = 0; i < info_count; i++) {
    uint8_t zero;
    in->read_exact(&zero, 1);
    if (zero != 0) index_file_corrupt(in);
    MapperFileInfo info;
    in->read_exact(&info.sequence_count, 8);
    in->read_exact(&info.total_length, 8);
    info.file_name = file_read_string(in);
    info_sequences += info.sequence_count;
    info_bases += info.total_length;
    infos.push_back(std::move(info));
  }

  const size_t main_before = main_set.size();
  load_list(main_set, n, acceleration_depth, false, in);
  // The files hold exactly the sequences of the indexes.
  uint64_t sequences = 0, bases = 0;
  for (size_t i = main_before; i < main_set.size(); i++) {
    sequences += main_set[i].refs.size();
    for (const MapperIndexRef &ref : main_set[i].refs) bases += ref.length;
  }
  if (sequences != info_sequences || bases != info_bases) index_file_corrupt(in);

  if (has_second) {
    const size_t second_before = bisulphite_set.size();
    load_list(bisulphite_set, n, acceleration_depth, true, in);
    // Each index of the second list covers the sequences of its partner.
    for (uint32_t i = 0; i < n; i++) {
      const std::vector<MapperIndexRef> &a = main_set[main_before + i].refs;
      const std::vector<MapperIndexRef> &b = bisulphite_set[second_before + i].refs;
      if (a.size() != b.size()) index_file_corrupt(in);
      for (size_t k = 0; k < a.size(); k++)
        if (a[k].length != b[k].length || a[k].circular != b[k].circular) index_file_corrupt(in);
    }
  }
  for (MapperFileInfo &info : infos) file_infos.push_back(std::move(info));
}
