// Generated FASTQ text for the streaming tests, with the records it holds
// in the normalised form the FASTQ writer gives them back (one sequence
// line, "+", one quality line, line feeds only, quality offset 33).
//
// The text mixes plain records with records in CRLF lines, records whose
// sequence and qualities are wrapped over several lines, and records whose
// quality lines start with '@'. It can place the start of the next record at
// a chosen offset, which puts record ends exactly at, one before or one after
// a block border.
#pragma once

#include <cstdint>
#include <string>

namespace seqio_test {

class FastqFixture {
 public:
  explicit FastqFixture(uint32_t seed) : state_(seed) {}

  const std::string &text() const { return text_; }
  // The records as seq_record_write_fastq writes them with offset 33.
  const std::string &normalised() const { return normalised_; }
  int64_t size() const { return static_cast<int64_t>(text_.size()); }
  int64_t count() const { return count_; }

  // One record with a random style; the sequence has length bases.
  void add_random(int64_t length) {
    const uint32_t style = next() % 16;
    add(length, style == 0, style == 1 ? 7 + next() % 40 : 0, style == 2);
  }

  // Plain records of random lengths until the text reaches size bytes.
  void fill_to(int64_t size) {
    while (this->size() < size) add_random(20 + next() % 200);
  }

  // Records such that the next record starts exactly at offset (which must
  // lie at least 100 bytes ahead). The last of them is a plain one-line
  // record padded through its name; random records (at most about 700
  // bytes each) come first while more than 2000 bytes are left.
  void next_start_at(int64_t offset) {
    while (offset - size() > 2000) add_random(20 + next() % 200);
    const int64_t room = offset - size();  // name + 2 * length + 6 bytes
    const int64_t length = (room - 6 - 12) / 2;
    const int64_t name_length = room - 6 - 2 * length;
    add_named(std::string(static_cast<size_t>(name_length), 'p'), length, false, 0, false);
  }

  // A record of length bases wrapped over lines of width (0: one line),
  // in CRLF lines or with quality lines that begin with '@'.
  void add(int64_t length, bool crlf, int width, bool at_lines) {
    add_named("read_" + std::to_string(count_) + " n=" + std::to_string(length), length, crlf, width, at_lines);
  }

 private:
  uint32_t next() {
    state_ = state_ * 1103515245u + 12345u;
    return state_ >> 8;
  }

  void add_named(const std::string &name, int64_t length, bool crlf, int width, bool at_lines) {
    std::string seq(static_cast<size_t>(length), 'A');
    std::string qual(static_cast<size_t>(length), 'I');
    for (int64_t i = 0; i < length; i++) {
      seq[static_cast<size_t>(i)] = "ACGTACGTACGTACGN"[next() % 16];
      qual[static_cast<size_t>(i)] = static_cast<char>('#' + next() % 40);
    }
    if (at_lines) {
      width = width > 0 ? width : 25;
      for (int64_t i = 0; i < length; i += width) qual[static_cast<size_t>(i)] = '@';
    }
    const std::string eol = crlf ? "\r\n" : "\n";
    text_ += "@" + name + eol;
    append_wrapped(seq, width, eol);
    text_ += "+" + eol;
    append_wrapped(qual, width, eol);
    normalised_ += "@" + name + "\n" + seq + "\n+\n" + qual + "\n";
    count_++;
  }

  void append_wrapped(const std::string &bytes, int width, const std::string &eol) {
    if (width <= 0) {
      text_ += bytes + eol;
      return;
    }
    for (size_t i = 0; i < bytes.size(); i += static_cast<size_t>(width))
      text_ += bytes.substr(i, static_cast<size_t>(width)) + eol;
  }

  uint32_t state_;
  std::string text_;
  std::string normalised_;
  int64_t count_ = 0;
};

}  // namespace seqio_test
