// One read or reference sequence of the mapper: a name, symbol codes and
// optional quality values.
//
// Codes: 0 A, 1 C, 2 G, 3 T (and U), 4 N or any other letter. Parsed and
// copied sequences end their symbols with the terminator 255.
#pragma once

class Sequence {
 public:
  virtual ~Sequence();

  // A BasicSequence with a copy of name (may be null) and uninitialised
  // arrays of length + 1 bytes; qualities only when with_qualities is set.
  static Sequence *create(unsigned int length, bool with_qualities, char const *name);
  // A BasicSequence without name or qualities from letters: A, C, G, T, U
  // and N of either case give 0, 1, 2, 3, 3, 4, every other character 4;
  // terminated by 255.
  static Sequence *from_letters(char const *letters);

  // A BasicSequence with copies of the name, symbols (terminator included)
  // and qualities.
  Sequence *copy() const;
  // A BasicSequence with the name and the symbols and qualities from first
  // to end - 1 (clamped to the sequence), terminated by 255.
  Sequence *copy_sub_sequence(unsigned int first, unsigned int end) const;
  // Reverse-complements in place: symbol order reversed, codes 0..3 become
  // 3 - code, 4 stays; qualities, when present, are reversed.
  void reverse();
  // Writes the reverse complement of codes[0, length) to out[0, length),
  // as reverse() would leave it.
  static void reverse_complement(const unsigned char *codes, unsigned int length, unsigned char *out);

  char *name = nullptr;
  unsigned int length = 0;
  unsigned char *symbols = nullptr;
  unsigned char *qualities = nullptr;

 protected:
  Sequence() = default;
  Sequence(const Sequence &) = delete;
  Sequence &operator=(const Sequence &) = delete;
};

// A sequence that owns its three arrays.
class BasicSequence : public Sequence {
 public:
  BasicSequence(unsigned int length, bool with_qualities, char const *name);
  ~BasicSequence() override;
};
