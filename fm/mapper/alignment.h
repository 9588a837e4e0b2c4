// The alignment transcript: a run-length code of alignment operations, the
// same bytes as the alignment code of nyr mapping files.
//
//   0x00..0x7F  1..128 match or mismatch columns (byte + 1)
//   0x80..0xBF  1..64 insertions: read symbols without a reference symbol
//               (byte - 127); a local alignment carries its unaligned read
//               ends as insertion runs at the start and end
//   0xC0..0xFE  1..63 deletions: reference symbols without a read symbol
//               (byte - 191)
//
// 0xFF is never produced. A run longer than its kind allows is written as
// full bytes followed by the remainder, and adjacent runs of one kind are
// always merged into the fewest bytes.
#pragma once

#include <cstdint>
#include <vector>

// First byte and longest run of each kind.
constexpr uint8_t kMatchBase = 0x00;
constexpr uint32_t kMatchMaxRun = 128;
constexpr uint8_t kInsertionBase = 0x80;
constexpr uint32_t kInsertionMaxRun = 64;
constexpr uint8_t kDeletionBase = 0xC0;
constexpr uint32_t kDeletionMaxRun = 63;

// The kind of a code byte, named by its first byte.
inline uint8_t alignment_kind(uint8_t byte) {
  return byte < kInsertionBase ? kMatchBase : byte < kDeletionBase ? kInsertionBase : kDeletionBase;
}
// Longest run of a kind.
inline uint32_t alignment_max_run(uint8_t kind) {
  return kind == kMatchBase ? kMatchMaxRun : kind == kInsertionBase ? kInsertionMaxRun : kDeletionMaxRun;
}
// Operations a code byte stands for.
inline uint32_t alignment_run(uint8_t byte) { return static_cast<uint32_t>(byte - alignment_kind(byte)) + 1; }

class Alignment {
 public:
  // Appends n operations of the kind whose bytes start at base (longest run
  // max_run), merging them into the last byte when it is of that kind.
  void add(uint8_t base, uint32_t max_run, uint32_t n);
  void add_matches(uint32_t n) { add(kMatchBase, kMatchMaxRun, n); }
  void add_insertions(uint32_t n) { add(kInsertionBase, kInsertionMaxRun, n); }
  void add_deletions(uint32_t n) { add(kDeletionBase, kDeletionMaxRun, n); }
  // Appends the operations of one code byte.
  void add_byte(uint8_t byte) {
    const uint8_t kind = alignment_kind(byte);
    add(kind, alignment_max_run(kind), alignment_run(byte));
  }

  // Turns a code written from the alignment's end towards its start into
  // forward order: re-adds its bytes from last to first, so that runs
  // merge again. backward must be another object.
  void assign_reversed(const Alignment &backward);
  // Copies tag and code, reusing this object's room.
  void assign(const Alignment &other);
  // Empties the code (keeping its room) and zeroes the tag.
  void clear() {
    tag = 0;
    code.clear();
  }

  // Read symbols the code consumes: matches and insertions.
  uint32_t read_length() const;
  // Reference symbols the code consumes: matches and deletions.
  uint32_t reference_length() const;

  uint64_t tag = 0;  // zero as built; carried into the sampled hit
  std::vector<uint8_t> code;
};

// A position inside a code: the current byte and how many of its
// operations are already consumed.
class AlignmentIterator {
 public:
  AlignmentIterator(const uint8_t *bytes, uint32_t count, uint32_t index = 0, uint8_t consumed = 0)
      : bytes_(bytes), count_(count), index_(index), consumed_(consumed) {}
  explicit AlignmentIterator(const Alignment &alignment)
      : AlignmentIterator(alignment.code.data(), static_cast<uint32_t>(alignment.code.size())) {}

  // Appends to out the operations from this position on until read_count
  // read symbols or reference_count reference symbols have been consumed,
  // or the code ends. The iterator does not move.
  void append_rest_to(uint32_t read_count, uint32_t reference_count, Alignment *out) const;

 private:
  const uint8_t *bytes_;
  uint32_t count_;
  uint32_t index_;
  uint8_t consumed_;
};
