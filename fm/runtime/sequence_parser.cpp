#include "fm/runtime/sequence_parser.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "fm/runtime/sequence_scan.h"

// ---- Shared blocks

// A reference count followed by the data. The parser holds one reference on
// each current block; every sequence holds one on each block it uses.
struct SharedBlock {
  std::atomic<uint32_t> count;
  uint32_t unused;
  uint64_t alignment;  // keeps the data 16-byte aligned

  unsigned char *data() { return reinterpret_cast<unsigned char *>(this + 1); }
};

namespace {

// Output scanners write up to 16 bytes past what they produce.
constexpr uint64_t kScanSlack = 16;
constexpr uint64_t kNameCapacity = 100000;
constexpr uint64_t kSymbolCapacity = 100000;
constexpr uint64_t kFastqQualityCapacity = 100000;
constexpr unsigned kSlotsPerBlock = 1000;
// Largest piece of a line handed to a scanner at once, so that room is
// asked for in modest steps and a block is replaced only when full.
constexpr uint64_t kScanPiece = 4096;

SharedBlock *shared_block_new(uint64_t capacity) {
  auto *block = new (ryx_malloc(sizeof(SharedBlock) + capacity)) SharedBlock;
  block->count.store(1, std::memory_order_relaxed);
  return block;
}

void shared_block_acquire(SharedBlock *block) {
  if (block != nullptr) block->count.fetch_add(1, std::memory_order_relaxed);
}

void shared_block_release(SharedBlock *block) {
  if (block != nullptr && block->count.fetch_sub(1, std::memory_order_acq_rel) == 1) ryx_free(block);
}

// Byte classes of the name trim: blanks, control bytes and bytes from 0x80.
inline bool is_name_padding(unsigned char c) { return c <= 32 || c >= 0x80; }

}  // namespace

unsigned char *ParserByteArea::sequence_bytes() const { return block->data() + start; }

unsigned char *ParserByteArea::reserve(uint64_t extra) {
  uint64_t need = used + extra;
  if (block == nullptr || start + need > capacity) {
    uint64_t grown = capacity > 0 ? capacity : 64;
    while (grown < need) grown *= 2;
    SharedBlock *fresh = shared_block_new(grown);
    if (block != nullptr) memcpy(fresh->data(), block->data() + start, used);
    shared_block_release(block);
    block = fresh;
    capacity = grown;
    start = 0;
  }
  return block->data() + start + used;
}

// ---- Sequences living in the parser's blocks

class SequenceParserSequence : public Sequence {
 public:
  SequenceParserSequence() = default;
  ~SequenceParserSequence() override {
    shared_block_release(name_block);
    shared_block_release(symbol_block);
    shared_block_release(quality_block);
  }
  // The object's storage is a slot of a slot block: deleting it releases
  // the slot block instead of freeing memory.
  static void operator delete(void *pointer);

  SharedBlock *name_block = nullptr;
  SharedBlock *symbol_block = nullptr;
  SharedBlock *quality_block = nullptr;
};

struct SequenceSlot {
  SequenceSlotBlock *owner;
  alignas(16) unsigned char storage[sizeof(SequenceParserSequence)];
};

struct SequenceSlotBlock {
  std::atomic<uint32_t> count{1};
  SequenceSlot slots[kSlotsPerBlock];
};

namespace {

void slot_block_release(SequenceSlotBlock *block) {
  if (block != nullptr && block->count.fetch_sub(1, std::memory_order_acq_rel) == 1) delete block;
}

}  // namespace

void SequenceParserSequence::operator delete(void *pointer) {
  auto *slot = reinterpret_cast<SequenceSlot *>(static_cast<unsigned char *>(pointer) - offsetof(SequenceSlot, storage));
  slot_block_release(slot->owner);
}

// ---- SequenceParser

SequenceParser::~SequenceParser() = default;

Sequence *SequenceParser::getNextSequenceAndSize(unsigned long long &bytes) {
  long long before = getFilePosition();
  Sequence *sequence = getNextSequence();
  if (sequence != nullptr) bytes += static_cast<unsigned long long>(getFilePosition() - before);
  return sequence;
}

// ---- FastaFastqSequenceParser

FastaFastqSequenceParser::FastaFastqSequenceParser(BufferedReader *reader, bool fastq, uint64_t quality_capacity)
    : reader_(reader), fastq_(fastq) {
  names_.capacity = kNameCapacity;
  symbols_.capacity = kSymbolCapacity;
  qualities_.capacity = quality_capacity;
}

FastaFastqSequenceParser::~FastaFastqSequenceParser() {
  shared_block_release(names_.block);
  shared_block_release(symbols_.block);
  shared_block_release(qualities_.block);
  slot_block_release(slots_);
  delete reader_;
}

long long FastaFastqSequenceParser::getFilePosition() { return reader_->estimate_raw_position(); }

Sequence *FastaFastqSequenceParser::getNextSequence() {
  if (slots_ == nullptr || slot_index_ == kSlotsPerBlock) {
    slot_block_release(slots_);
    slots_ = new SequenceSlotBlock;
    slot_index_ = 0;
  }
  SequenceSlot *slot = &slots_->slots[slot_index_];
  slot->owner = slots_;
  auto *sequence = ::new (slot->storage) SequenceParserSequence();
  if (!parseSequence(sequence)) {
    // Nothing was taken: the slot stays free.
    sequence->~SequenceParserSequence();
    return nullptr;
  }
  slot_index_++;
  slots_->count.fetch_add(1, std::memory_order_relaxed);

  sequence->name = reinterpret_cast<char *>(names_.sequence_bytes());
  sequence->name_block = names_.block;
  shared_block_acquire(names_.block);
  names_.start += names_.used;
  names_.used = 0;

  sequence->symbols = symbols_.sequence_bytes();
  sequence->symbol_block = symbols_.block;
  shared_block_acquire(symbols_.block);
  symbols_.start += symbols_.used;
  symbols_.used = 0;

  if (fastq_) {
    sequence->qualities = qualities_.sequence_bytes();
    sequence->quality_block = qualities_.block;
    shared_block_acquire(qualities_.block);
    qualities_.start += qualities_.used;
    qualities_.used = 0;
  }
  return sequence;
}

uint64_t FastaFastqSequenceParser::available() {
  uint64_t have = reader_->end() - reader_->position();
  if (have == 0 && !exhausted_) {
    have = reader_->reserveNewBlock(1);
    if (have == 0) exhausted_ = true;
  }
  return have;
}

int FastaFastqSequenceParser::peek() {
  if (available() == 0) return -1;
  return reader_->buffer()[reader_->position()];
}

bool FastaFastqSequenceParser::isAtEof() { return available() == 0; }

bool FastaFastqSequenceParser::matchChar(char c, bool at_eof) {
  int next = peek();
  if (next < 0) return at_eof;
  return next == static_cast<unsigned char>(c);
}

void FastaFastqSequenceParser::readLineBreak() {
  int c = peek();
  if (c == '\r') {
    advance(1);
    if (peek() == '\n') advance(1);
    line_++;
  } else if (c == '\n') {
    advance(1);
    line_++;
  }
}

void FastaFastqSequenceParser::skipWhitespace() {
  for (;;) {
    int c = peek();
    if (c < 0) return;
    if (c == '\r' || c == '\n') {
      readLineBreak();
    } else if (c < '!' || c >= 0x80) {
      advance(1);
    } else {
      return;
    }
  }
}

void FastaFastqSequenceParser::skipLine() {
  for (;;) {
    uint64_t have = available();
    if (have == 0) return;
    uint64_t k = find_line_end(reader_->buffer() + reader_->position(), have);
    advance(k);
    if (k < have) break;
  }
  readLineBreak();
}

void FastaFastqSequenceParser::parseName(Sequence *) {
  // The whole rest of the line, description included.
  for (;;) {
    uint64_t have = available();
    if (have == 0) break;
    unsigned char const *in = reader_->buffer() + reader_->position();
    uint64_t k = find_line_end(in, have);
    memcpy(names_.reserve(k + 1), in, k);
    names_.used += k;
    advance(k);
    if (k < have) break;
  }
  names_.reserve(1);
  unsigned char *name = names_.sequence_bytes();
  uint64_t first = 0;
  uint64_t last = names_.used;
  while (first < last && is_name_padding(name[first])) first++;
  while (last > first && is_name_padding(name[last - 1])) last--;
  memmove(name, name + first, last - first);
  name[last - first] = 0;
  names_.used = last - first + 1;
  readLineBreak();
}

void FastaFastqSequenceParser::parseSymbols(Sequence *sequence, char stop) {
  for (;;) {
    int c = peek();
    if (c < 0 || c == static_cast<unsigned char>(stop)) break;
    // One line, piece by piece.
    bool line_end = false;
    for (;;) {
      uint64_t have = available();
      if (have == 0) break;
      symbols_.reserve((have < kScanPiece ? have : kScanPiece) + kScanSlack + 1);
      uint64_t room = symbols_.room() - (kScanSlack + 1);
      uint64_t piece = have < room ? have : room;
      ScanResult r = scan_symbol_line(reader_->buffer() + reader_->position(), piece,
                                      symbols_.sequence_bytes() + symbols_.used);
      advance(r.consumed);
      symbols_.used += r.produced;
      if (r.stop == ScanStop::kLineEnd) {
        line_end = true;
        break;
      }
    }
    if (!line_end) break;
    readLineBreak();
  }
  *symbols_.reserve(1) = 255;
  sequence->length = static_cast<unsigned int>(symbols_.used);
  symbols_.used++;
}

void FastaFastqSequenceParser::parseError(char const *format, char const *message) {
  fprintf(stderr, "Parse error in %s file %s at line %lld: %s\n", format, reader_->name(), line_, message);
  fflush(stderr);
  ryx_exit(1);
}

// ---- FASTA

FastaSequenceParser::FastaSequenceParser(BufferedReader *reader) : FastaFastqSequenceParser(reader, false, 0) {}

bool FastaSequenceParser::parseSequence(Sequence *sequence) {
  skipWhitespace();
  if (isAtEof()) return false;
  if (!matchChar('>', false)) parseError("FASTA", "Expected '>'.");
  advance(1);
  parseName(sequence);
  parseSymbols(sequence, '>');
  return true;
}

// ---- FASTQ

FastqSequenceParser::FastqSequenceParser(BufferedReader *reader, unsigned int offset, unsigned int lowest)
    : FastaFastqSequenceParser(reader, true, kFastqQualityCapacity), offset_(offset), lowest_(lowest) {}

bool FastqSequenceParser::parseSequence(Sequence *sequence) {
  skipWhitespace();
  if (isAtEof()) return false;
  if (!matchChar('@', false)) parseError("FASTQ", "Expected '@'.");
  advance(1);
  parseName(sequence);
  parseSymbols(sequence, '+');
  if (matchChar('+', false)) skipLine();
  parseQuality(sequence, static_cast<int>(sequence->length));
  return true;
}

void FastqSequenceParser::parseQuality(Sequence *, int count) {
  uint64_t wanted = static_cast<uint64_t>(static_cast<unsigned int>(count));
  auto offset = static_cast<uint8_t>(offset_);
  auto lowest = static_cast<uint8_t>(lowest_);
  // The area gets a block even for an empty quality string, so that every
  // FASTQ sequence has a quality pointer.
  qualities_.reserve(1);
  while (qualities_.used < wanted) {
    if (isAtEof()) break;
    bool line_end = false;
    for (;;) {
      uint64_t have = available();
      if (have == 0) break;
      qualities_.reserve((have < kScanPiece ? have : kScanPiece) + kScanSlack);
      uint64_t room = qualities_.room() - (kScanSlack);
      uint64_t piece = have < room ? have : room;
      ScanResult r = scan_quality_line(reader_->buffer() + reader_->position(), piece,
                                       qualities_.sequence_bytes() + qualities_.used, offset, lowest);
      advance(r.consumed);
      qualities_.used += r.produced;
      if (r.stop == ScanStop::kLineEnd) {
        line_end = true;
        break;
      }
    }
    if (!line_end) break;
    // A quality string may span lines; the break of the last line is left
    // for the next record, so an error names the line of the qualities.
    if (qualities_.used < wanted) readLineBreak();
  }
  if (qualities_.used != wanted) parseError("FASTQ", "Number of quality scores does not match number of symbols");
}

// ---- Format sniffing

namespace {

// kNeedMore: the bytes held ran out before the probe could decide, and the
// input may hold more.
enum class SniffResult { kFasta, kFastq, kUnsupported, kNeedMore };

// The probe looks at the bytes the reader holds; at_end tells whether they
// reach the end of the input. When they do not and the probe cannot decide
// from them, it asks for more instead of guessing.
class FormatProbe {
 public:
  FormatProbe(unsigned char const *data, uint64_t size, bool at_end) : data_(data), size_(size), at_end_(at_end) {}

  SniffResult run(unsigned int &offset, unsigned int &lowest) {
    offset = 33;
    lowest = '!';
    if (size_ == 0) return undecided(SniffResult::kFasta);
    uint64_t first_end = line_end(0);
    if (first_end == size_ && size_ < 2) return undecided(SniffResult::kFasta);
    if (data_[0] == '>') return probe_fasta(next_line(0));
    if (data_[0] == '@') return probe_fastq(offset, lowest);
    return SniffResult::kUnsupported;
  }

 private:
  // What running out of bytes means: the answer at the end of the input,
  // else a request for more.
  SniffResult undecided(SniffResult at_end_answer) const {
    return at_end_ ? at_end_answer : SniffResult::kNeedMore;
  }

  static bool is_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
  static bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
  static bool is_break(unsigned char c) { return c == '\r' || c == '\n'; }

  uint64_t line_end(uint64_t at) const {
    while (at < size_ && !is_break(data_[at])) at++;
    return at;
  }
  // Start of the line after the one at `at` (CRLF counts as one break).
  uint64_t next_line(uint64_t at) const {
    at = line_end(at);
    if (at < size_ && data_[at] == '\r') at++;
    if (at < size_ && data_[at] == '\n') at++;
    return at;
  }

  // The letter test of one sequence line: 1 when a second letter comes
  // before any digit, -1 when a digit comes first, 0 when the line decides
  // nothing.
  int letter_test(uint64_t at) const {
    int letters = 0;
    for (uint64_t i = at; i < size_ && !is_break(data_[i]); i++) {
      if (is_digit(data_[i])) return -1;
      if (is_letter(data_[i]) && ++letters == 2) return 1;
    }
    return 0;
  }

  SniffResult probe_fasta(uint64_t at) const {
    while (at < size_) {
      unsigned char c = data_[at];
      if (is_break(c) || c == '>') {
        at = next_line(at);
        continue;
      }
      int test = letter_test(at);
      if (test > 0) return SniffResult::kFasta;
      if (test < 0) return SniffResult::kUnsupported;
      at = next_line(at);
    }
    return undecided(SniffResult::kFasta);
  }

  SniffResult probe_fastq(unsigned int &offset, unsigned int &lowest) const {
    bool letters = false;
    bool low = false;
    bool high = false;
    bool decided = false;
    unsigned records = 0;
    uint64_t at = 0;
    while (at < size_) {
      at = next_line(at);  // header line
      uint64_t symbols = 0;
      while (at < size_ && data_[at] != '+') {
        if (!letters) {
          int test = letter_test(at);
          if (test < 0) return SniffResult::kUnsupported;
          if (test > 0) letters = true;
        }
        uint64_t end = line_end(at);
        symbols += end - at;
        at = next_line(at);
      }
      at = next_line(at);  // the '+' line
      uint64_t qualities = 0;
      while (qualities < symbols && at < size_) {
        for (; at < size_ && !is_break(data_[at]); at++) {
          unsigned char c = data_[at];
          if (c < '!' || c > '~') continue;
          qualities++;
          if (c < ';') low = true;
          if (c >= 'M') high = true;
        }
        at = next_line(at);
      }
      while (at < size_ && is_break(data_[at])) at++;
      records++;
      if (letters && (low || records >= 1000)) {
        decided = true;
        break;
      }
    }
    if (!decided && !at_end_) return SniffResult::kNeedMore;
    if (!low && high) {
      offset = 64;
      lowest = ';';
    }
    return SniffResult::kFastq;
  }

  unsigned char const *data_;
  uint64_t size_;
  bool at_end_;
};

// The most the probe lets the reader's block grow to. Up to 1000 FASTQ
// records are probed; beyond this many bytes (records of tens of thousands
// of bases) the bytes held stand for the input, so that the grown block,
// which the parser keeps for the whole run, stays modest.
constexpr uint64_t kProbeLimit = 64ull << 20;

// Probes the start of the input, growing the reader's block until the probe
// decides, the input ends or the block reaches kProbeLimit.
SniffResult probe_input(BufferedReader *reader, unsigned int &offset, unsigned int &lowest) {
  uint64_t held = reader->end() - reader->position();
  bool at_end = held == 0;
  for (;;) {
    FormatProbe probe(reader->buffer() + reader->position(), held, at_end || held >= kProbeLimit);
    SniffResult result = probe.run(offset, lowest);
    if (result != SniffResult::kNeedMore) return result;
    const uint64_t wanted = std::min(std::max<uint64_t>(2 * held, 1 << 20), kProbeLimit);
    const uint64_t got = reader->reserveNewBlock(wanted);
    at_end = got < wanted;
    held = got;
  }
}

}  // namespace

SequenceParser *SequenceParser::create(Reader *source) {
  BufferedReader *reader =
      source->is_buffered() ? static_cast<BufferedReader *>(source) : new BufferedReader(source);
  unsigned int offset = 33;
  unsigned int lowest = '!';
  switch (probe_input(reader, offset, lowest)) {
    case SniffResult::kFasta:
      return new FastaSequenceParser(reader);
    case SniffResult::kFastq:
      return new FastqSequenceParser(reader, offset, lowest);
    case SniffResult::kUnsupported:
    case SniffResult::kNeedMore:
      break;
  }
  fprintf(stderr, "Unsupported sequence file format in %s\n", reader->name());
  fflush(stderr);
  ryx_exit(1);
}
