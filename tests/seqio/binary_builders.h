// SFF and ABI files built byte by byte from their layouts, for the reader
// tests. Both builders are checked against hand-written hex fixtures, so the
// larger files they make for the other cases can be trusted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace seqio_test {

inline void put_be(std::string *out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; i--) out->push_back(static_cast<char>(value >> (8 * i)));
}

inline void pad_to_8(std::string *out) {
  while (out->size() % 8 != 0) out->push_back('\0');
}

// One SFF read. Qualities default to 'A' + base index when left empty.
struct SffRead {
  std::string name;
  std::string bases;
  uint16_t clip_quality_left = 0;
  uint16_t clip_quality_right = 0;
  uint16_t clip_adapter_left = 0;
  uint16_t clip_adapter_right = 0;
  std::string qualities;
};

// Where the index goes: nowhere, right after the common header, after read
// k (k = the last read: at the end of the file).
struct SffIndex {
  enum Place { kNone, kAfterHeader, kAfterRead } place = kNone;
  size_t after_read = 0;
  std::string bytes = std::string("idx\0data", 8);  // its content; the length field is its size
};

struct SffLayout {
  std::string flow_chars = "TACG";
  std::string key = "TCAG";
  SffIndex index;
  int64_t reads_field = -1;  // number of reads written in the header; -1: the real count
};

inline std::string sff_qualities(const SffRead &r) {
  if (!r.qualities.empty()) return r.qualities;
  std::string q;
  for (size_t i = 0; i < r.bases.size(); i++) q.push_back(static_cast<char>(1 + i % 60));
  return q;
}

// The read's bytes, padding included.
inline std::string sff_read_bytes(const SffRead &r, size_t flows) {
  std::string out;
  const size_t header = (16 + r.name.size() + 7) / 8 * 8;
  put_be(&out, header, 2);
  put_be(&out, r.name.size(), 2);
  put_be(&out, r.bases.size(), 4);
  put_be(&out, r.clip_quality_left, 2);
  put_be(&out, r.clip_quality_right, 2);
  put_be(&out, r.clip_adapter_left, 2);
  put_be(&out, r.clip_adapter_right, 2);
  out += r.name;
  pad_to_8(&out);
  for (size_t f = 0; f < flows; f++) put_be(&out, 100 * (f % 3), 2);  // flowgram
  for (size_t i = 0; i < r.bases.size(); i++) out.push_back(static_cast<char>(i == 0 ? 1 : 0));  // flow index
  out += r.bases;
  out += sff_qualities(r);
  pad_to_8(&out);
  return out;
}

// A whole SFF file; *read_offsets (when given) receives each read's offset.
inline std::string sff_file(const std::vector<SffRead> &reads, const SffLayout &layout = SffLayout(),
                            std::vector<size_t> *read_offsets = nullptr) {
  const size_t flows = layout.flow_chars.size();
  const size_t header_length = (31 + flows + layout.key.size() + 7) / 8 * 8;
  std::string body;  // everything after the common header
  size_t index_offset = 0;
  auto add_index = [&] {
    index_offset = header_length + body.size();
    body += layout.index.bytes;
    pad_to_8(&body);
  };
  if (layout.index.place == SffIndex::kAfterHeader) add_index();
  for (size_t k = 0; k < reads.size(); k++) {
    if (read_offsets != nullptr) read_offsets->push_back(header_length + body.size());
    body += sff_read_bytes(reads[k], flows);
    if (layout.index.place == SffIndex::kAfterRead && layout.index.after_read == k) add_index();
  }
  std::string out = ".sff";
  put_be(&out, 1, 4);
  put_be(&out, index_offset, 8);
  put_be(&out, index_offset != 0 ? layout.index.bytes.size() : 0, 4);
  put_be(&out, layout.reads_field >= 0 ? static_cast<uint64_t>(layout.reads_field) : reads.size(), 4);
  put_be(&out, header_length, 2);
  put_be(&out, layout.key.size(), 2);
  put_be(&out, flows, 2);
  out.push_back(1);
  out += layout.flow_chars + layout.key;
  pad_to_8(&out);
  return out + body;
}

// One ABI directory entry; data of at most 4 bytes goes inline.
struct AbiEntry {
  std::string tag;
  uint32_t number = 1;
  uint16_t type = 2;
  uint16_t element_size = 1;
  std::string data;
  int64_t elements = -1;    // -1: data size / element size
  int64_t data_size = -1;   // -1: the data's size
  int64_t data_offset = -1; // -1: where the builder put the data
};

// An ABIF file: 128-byte header, the data blocks, then the directory.
// directory_offset and entry_count override the header's fields when set.
inline std::string abi_file(const std::vector<AbiEntry> &entries, int64_t entry_count = -1,
                            int64_t directory_offset = -1) {
  std::string data;
  std::vector<std::string> dir;
  for (const AbiEntry &e : entries) {
    std::string entry = e.tag;
    put_be(&entry, e.number, 4);
    put_be(&entry, e.type, 2);
    put_be(&entry, e.element_size, 2);
    const uint64_t size = e.data_size >= 0 ? static_cast<uint64_t>(e.data_size) : e.data.size();
    put_be(&entry, e.elements >= 0 ? static_cast<uint64_t>(e.elements) : e.data.size() / e.element_size, 4);
    put_be(&entry, size, 4);
    if (e.data.size() <= 4 && e.data_offset < 0) {
      std::string inline_data = e.data;
      inline_data.resize(4, '\0');
      entry += inline_data;
    } else {
      put_be(&entry, e.data_offset >= 0 ? static_cast<uint64_t>(e.data_offset) : 128 + data.size(), 4);
      data += e.data;
    }
    put_be(&entry, 0, 4);  // data handle
    dir.push_back(entry);
  }
  std::string out = "ABIF";
  put_be(&out, 101, 2);  // version
  out += "tdir";
  put_be(&out, 1, 4);
  put_be(&out, 1023, 2);
  put_be(&out, 28, 2);
  put_be(&out, entry_count >= 0 ? static_cast<uint64_t>(entry_count) : entries.size(), 4);
  put_be(&out, 28 * entries.size(), 4);
  put_be(&out, directory_offset >= 0 ? static_cast<uint64_t>(directory_offset) : 128 + data.size(), 4);
  put_be(&out, 0, 4);
  out.resize(128, '\0');
  out += data;
  for (const std::string &entry : dir) out += entry;
  return out;
}

}  // namespace seqio_test
