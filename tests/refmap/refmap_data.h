// Simulated references and reads for the ryx_refmap program tests, and a
// plain reader of the nyr records the program writes.
//
// Everything is drawn from a fixed-seed generator, so every run of a test
// sees the same data. A read remembers where it came from: the reference
// sequence, the leftmost reference base it covers and its strand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace refmap_test {

// splitmix64: small, fast and the same everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n).
  int64_t below(int64_t n) { return static_cast<int64_t>(next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

inline std::string random_bases(Rng &rng, int64_t n) {
  std::string s(static_cast<size_t>(n), 'A');
  for (char &c : s) c = "ACGT"[rng.below(4)];
  return s;
}

inline char complement(char c) {
  switch (c) {
    case 'A': return 'T';
    case 'C': return 'G';
    case 'G': return 'C';
    case 'T': return 'A';
    default: return 'N';
  }
}

inline std::string reverse_complement(const std::string &s) {
  std::string r(s.rbegin(), s.rend());
  for (char &c : r) c = complement(c);
  return r;
}

// A base other than c.
inline char other_base(Rng &rng, char c) {
  char d;
  do d = "ACGT"[rng.below(4)];
  while (d == c);
  return d;
}

struct Reference {
  std::vector<std::string> names;
  std::vector<std::string> sequences;
};

struct Read {
  std::string name;
  std::string bases;     // as written to the file
  int32_t sequence = 0;  // reference sequence of origin
  int64_t start = 0;     // leftmost reference base covered
  bool reverse = false;
  int32_t mismatches = 0;
  int32_t indels = 0;
};

// A read of length bases from sequence s at start (forward strand bases,
// before errors), with mismatches at the given read positions of the
// forward strand and, when indel_at >= 0, one base deleted from the read
// (delete_base) or inserted into it there; reverse-complemented when
// reverse is set.
inline Read make_read(Rng &rng, const Reference &ref, int32_t s, int64_t start, int32_t length, bool reverse,
                      const std::vector<int32_t> &mismatch_positions, int32_t indel_at = -1,
                      bool delete_base = false) {
  Read read;
  read.sequence = s;
  read.start = start;
  read.reverse = reverse;
  const int32_t span = indel_at >= 0 && delete_base ? length + 1 : (indel_at >= 0 ? length - 1 : length);
  std::string bases = ref.sequences[s].substr(static_cast<size_t>(start), static_cast<size_t>(span));
  if (indel_at >= 0) {
    if (delete_base)
      bases.erase(static_cast<size_t>(indel_at), 1);
    else
      bases.insert(static_cast<size_t>(indel_at), 1, other_base(rng, bases[indel_at]));
    read.indels = 1;
  }
  for (int32_t p : mismatch_positions) bases[p] = other_base(rng, bases[p]);
  read.mismatches = static_cast<int32_t>(mismatch_positions.size());
  read.bases = reverse ? reverse_complement(bases) : bases;
  return read;
}

inline std::string fasta(const Reference &ref) {
  std::string text;
  for (size_t i = 0; i < ref.sequences.size(); i++) {
    text += ">" + ref.names[i] + "\n";
    for (size_t j = 0; j < ref.sequences[i].size(); j += 60) text += ref.sequences[i].substr(j, 60) + "\n";
  }
  return text;
}

inline std::string fastq(const std::vector<Read> &reads) {
  std::string text;
  for (const Read &r : reads) text += "@" + r.name + "\n" + r.bases + "\n+\n" + std::string(r.bases.size(), 'I') + "\n";
  return text;
}

// Colour-space FASTQ: primer T, then the colours of the bases (code XOR
// the previous code), with the colour at each position of errors changed.
inline std::string csfastq_record(const std::string &name, const std::string &bases,
                                  const std::vector<int32_t> &errors) {
  auto code = [](char c) { return c == 'A' ? 0 : c == 'C' ? 1 : c == 'G' ? 2 : 3; };
  std::string colours;
  int previous = code('T');
  for (size_t i = 0; i < bases.size(); i++) {
    int colour = previous ^ code(bases[i]);
    for (int32_t e : errors)
      if (static_cast<size_t>(e) == i) colour ^= 1;
    colours += static_cast<char>('0' + colour);
    previous = code(bases[i]);
  }
  return "@" + name + "\nT" + colours + "\n+\n" + std::string(colours.size() + 1, 'I') + "\n";
}

// --- Reading the records back ---

struct Hit {
  int32_t sequence = 0;
  int64_t position = 0;
  bool reverse = false;
  std::vector<uint8_t> code;
  // Insertion columns before the first other column: bases of the read
  // clipped before the alignment, in reference order.
  int32_t leading_insertions() const {
    int32_t n = 0;
    for (size_t i = 0; i < code.size(); i++) {
      const uint8_t b = code[i];
      if (b == 255) {
        i++;
        continue;
      }
      if (b >= 128 && b <= 191) {
        n += b - 127;
        continue;
      }
      break;
    }
    return n;
  }
  // First reference base the whole read would cover.
  int64_t read_start() const { return position - leading_insertions(); }
};

struct Record {
  uint8_t flags = 0;
  uint32_t total = 0;     // hits with the best score (0 unmatched)
  uint32_t reported = 0;
  std::vector<Hit> hits;
  bool matched() const { return (flags & 1) != 0; }
  bool paired() const { return (flags & 8) != 0; }
};

// Bytes of a number below limit.
inline int width_of(uint64_t limit) {
  const uint64_t top = limit == 0 ? 0 : limit - 1;
  int w = 0;
  for (uint64_t v = top; v > 0; v >>= 8) w++;
  return w;
}

class RecordReader {
 public:
  RecordReader(const std::string &bytes, uint64_t reference_count, uint64_t longest)
      : bytes_(bytes), reference_width_(width_of(reference_count)), position_width_(width_of(longest)) {
    end_ = 0;
    for (int i = 7; i >= 0; i--) end_ = end_ * 256 + static_cast<uint8_t>(bytes_[8 + i]);
    at_ = 16;
  }
  bool done() const { return at_ >= end_; }
  // The fields block starts right after the last record.
  bool exact_end() const { return at_ == end_; }
  Record next() {
    Record r;
    r.flags = byte();
    if (r.flags == 0) return r;
    r.total = (r.flags & 2) ? flex() + 2 : 1;
    r.reported = (r.flags & 4) ? flex() + 2 : 1;
    for (uint32_t h = 0; h < r.reported; h++) {
      Hit hit;
      const uint32_t length = flex();
      hit.sequence = static_cast<int32_t>(number(reference_width_));
      hit.position = static_cast<int64_t>(number(position_width_));
      const uint8_t flags = byte();
      hit.reverse = (flags & 1) != 0;
      if (flags & 2) byte();
      if (flags & 4) flex();
      for (uint32_t k = 0; k < length; k++) hit.code.push_back(byte());
      r.hits.push_back(hit);
    }
    return r;
  }

 private:
  uint8_t byte() { return at_ < bytes_.size() ? static_cast<uint8_t>(bytes_[at_++]) : 0; }
  uint64_t number(int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; i++) v |= static_cast<uint64_t>(byte()) << (8 * i);
    return v;
  }
  uint32_t flex() {
    const uint8_t b = byte();
    if (b < 254) return b;
    return static_cast<uint32_t>(number(b == 254 ? 2 : 4));
  }
  const std::string &bytes_;
  int reference_width_, position_width_;
  uint64_t end_;
  size_t at_;
};

// Every record of a file.
inline std::vector<Record> read_records(const std::string &bytes, uint64_t reference_count, uint64_t longest,
                                        bool *exact = nullptr) {
  std::vector<Record> out;
  if (bytes.size() < 16) return out;
  RecordReader reader(bytes, reference_count, longest);
  while (!reader.done()) out.push_back(reader.next());
  if (exact != nullptr) *exact = reader.exact_end();
  return out;
}

// The record section of a file: from byte 16 to the fields offset.
inline std::string record_bytes(const std::string &bytes) {
  if (bytes.size() < 16) return "";
  uint64_t offset = 0;
  for (int i = 7; i >= 0; i--) offset = offset * 256 + static_cast<uint8_t>(bytes[8 + i]);
  return bytes.substr(16, offset - 16);
}

}  // namespace refmap_test
