// FASTA and FASTQ parsing into Sequence objects.
//
// SequenceParser::create sniffs the start of an input and returns a FASTA
// or FASTQ parser. The parser scans its BufferedReader in place, sixteen
// bytes at a time, and packs the names, symbols and qualities of many
// sequences into shared reference-counted blocks; the Sequence objects
// themselves live in blocks of 1000 slots. A sequence handed out holds a
// reference on each block it uses, so it stays valid after its parser is
// deleted, and a sequence costs no allocation of its own.
//
// Every parse error prints "Parse error in <FASTA|FASTQ> file <name> at line
// <n>: <reason>" on standard error and ends the process with status 1.
#pragma once

#include <cstdint>

#include "fm/runtime/buffered_reader.h"
#include "fm/runtime/reader_writer.h"
#include "fm/runtime/sequence.h"

struct SharedBlock;
struct SequenceSlotBlock;

class SequenceParser {
 public:
  // Takes ownership of source (wrapped in a BufferedReader unless it is
  // one), decides between FASTA and FASTQ and, for FASTQ, between quality
  // offsets 33 and 64. An empty input gives a FASTA parser without
  // sequences. An input of neither kind prints "Unsupported sequence file
  // format in <name>" and ends the process with status 1.
  static SequenceParser *create(Reader *source);

  // The next sequence, owned by the caller; null at the end of the input.
  virtual Sequence *getNextSequence() = 0;
  // Estimated position in the source's stored bytes.
  virtual long long getFilePosition() = 0;
  virtual ~SequenceParser();

  // getNextSequence, adding to bytes how far the stored position moved
  // while the sequence was read (nothing at the end).
  Sequence *getNextSequenceAndSize(unsigned long long &bytes);
};

// One growing byte area of the parser (names, symbols or qualities): the
// current shared block, the start of the sequence in progress in it and
// the bytes of that sequence so far.
struct ParserByteArea {
  SharedBlock *block = nullptr;
  uint64_t capacity = 0;
  uint64_t start = 0;
  uint64_t used = 0;

  // Makes room for extra more bytes of the sequence in progress and returns
  // where they go. A full block is replaced by one whose capacity is doubled
  // until the sequence fits; the sequence's bytes move to its start.
  unsigned char *reserve(uint64_t extra);
  // Room left in the block after the sequence's bytes.
  uint64_t room() const { return capacity - start - used; }
  unsigned char *sequence_bytes() const;
};

class FastaFastqSequenceParser : public SequenceParser {
 public:
  ~FastaFastqSequenceParser() override;

  Sequence *getNextSequence() override;
  long long getFilePosition() override;
  // Fills the area's sequence in progress; false at the end of the input.
  virtual bool parseSequence(Sequence *sequence) = 0;

  // Current line number (1 + line breaks consumed).
  long long line_number() const { return line_; }

 protected:
  FastaFastqSequenceParser(BufferedReader *reader, bool fastq, uint64_t quality_capacity);

  // Scanner operations over the reader's buffer.
  // Consumes a CR, LF or CRLF at the read position and counts the line.
  void readLineBreak();
  // Skips bytes below '!' and from 0x80 up, consuming line breaks.
  void skipWhitespace();
  // Skips to and over the next line break.
  void skipLine();
  // Whether the next byte is c; at_eof is the answer at the end of input.
  bool matchChar(char c, bool at_eof);
  bool isAtEof();
  // The rest of the header line, trimmed, into the name area.
  void parseName(Sequence *sequence);
  // Symbol lines up to a line starting with stop or the end of the input.
  void parseSymbols(Sequence *sequence, char stop);
  [[noreturn]] void parseError(char const *format, char const *message);

  // Next byte without consuming it, -1 at the end of the input.
  int peek();
  void advance(uint64_t n) { reader_->set_position(reader_->position() + n); }
  // Bytes available at the read position, refilling when none are; 0 only
  // at the end of the input.
  uint64_t available();

  BufferedReader *reader_;
  bool fastq_;
  ParserByteArea names_;
  ParserByteArea symbols_;
  ParserByteArea qualities_;

 private:
  SequenceSlotBlock *slots_ = nullptr;
  unsigned slot_index_ = 0;
  long long line_ = 1;
  bool exhausted_ = false;
};

class FastaSequenceParser : public FastaFastqSequenceParser {
 public:
  explicit FastaSequenceParser(BufferedReader *reader);
  bool parseSequence(Sequence *sequence) override;
};

class FastqSequenceParser : public FastaFastqSequenceParser {
 public:
  // offset: 33 or 64; lowest: the lowest valid quality character.
  FastqSequenceParser(BufferedReader *reader, unsigned int offset, unsigned int lowest);
  bool parseSequence(Sequence *sequence) override;

  unsigned int quality_offset() const { return offset_; }

 protected:
  // Quality lines until count values are read (a line is taken whole);
  // a different count is a parse error.
  void parseQuality(Sequence *sequence, int count);

 private:
  unsigned int offset_;
  unsigned int lowest_;
};
