#include "fm/runtime/sequence.h"

#include <cstring>

#include "common/memory.h"

Sequence::~Sequence() = default;

BasicSequence::BasicSequence(unsigned int length, bool with_qualities, char const *name) {
  this->length = length;
  if (name != nullptr) {
    size_t n = strlen(name);
    this->name = static_cast<char *>(ryx_malloc(n + 1));
    memcpy(this->name, name, n + 1);
  }
  symbols = static_cast<unsigned char *>(ryx_malloc(static_cast<size_t>(length) + 1));
  if (with_qualities) qualities = static_cast<unsigned char *>(ryx_malloc(static_cast<size_t>(length) + 1));
}

BasicSequence::~BasicSequence() {
  ryx_free(name);
  ryx_free(symbols);
  ryx_free(qualities);
}

Sequence *Sequence::create(unsigned int length, bool with_qualities, char const *name) {
  return new BasicSequence(length, with_qualities, name);
}

Sequence *Sequence::from_letters(char const *letters) {
  unsigned int length = static_cast<unsigned int>(strlen(letters));
  Sequence *sequence = create(length, false, nullptr);
  for (unsigned int i = 0; i < length; i++) {
    unsigned int c = static_cast<unsigned char>(letters[i]);
    // Maps A C G T U N of either case to 0 1 2 3 3 4 by their bit patterns.
    unsigned int code = ((c >> 2) & 3) ^ ((c >> 1) & 7);
    // Other characters would land anywhere in 0..7; they are unknown bases.
    static char const kCanonical[] = "ACGTN";
    unsigned int upper = c & ~0x20U;
    bool known = code <= 4 && (upper == static_cast<unsigned char>(kCanonical[code]) || (code == 3 && upper == 'U'));
    sequence->symbols[i] = static_cast<unsigned char>(known ? code : 4);
  }
  sequence->symbols[length] = 255;
  return sequence;
}

Sequence *Sequence::copy() const {
  Sequence *result = create(length, qualities != nullptr, name);
  memcpy(result->symbols, symbols, static_cast<size_t>(length) + 1);
  if (qualities != nullptr) memcpy(result->qualities, qualities, length);
  return result;
}

Sequence *Sequence::copy_sub_sequence(unsigned int first, unsigned int end) const {
  if (end > length) end = length;
  if (first > end) first = end;
  unsigned int count = end - first;
  Sequence *result = create(count, qualities != nullptr, name);
  memcpy(result->symbols, symbols + first, count);
  result->symbols[count] = 255;
  if (qualities != nullptr) memcpy(result->qualities, qualities + first, count);
  return result;
}

void Sequence::reverse_complement(const unsigned char *codes, unsigned int length, unsigned char *out) {
  for (unsigned int i = 0; i < length; i++) {
    const unsigned char c = codes[length - 1 - i];
    out[i] = c < 4 ? static_cast<unsigned char>(3 - c) : c;
  }
}

void Sequence::reverse() {
  for (unsigned int i = 0, j = length; i < j;) {
    j--;
    unsigned char a = symbols[i];
    unsigned char b = symbols[j];
    symbols[i] = b < 4 ? static_cast<unsigned char>(3 - b) : b;
    symbols[j] = a < 4 ? static_cast<unsigned char>(3 - a) : a;
    i++;
  }
  if (qualities != nullptr) {
    for (unsigned int i = 0, j = length; i + 1 < j; i++) {
      j--;
      unsigned char t = qualities[i];
      qualities[i] = qualities[j];
      qualities[j] = t;
    }
  }
}
