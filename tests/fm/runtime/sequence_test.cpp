// Sequence construction, copies and reverse complement.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fm/runtime/sequence.h"

namespace {

std::string codes(Sequence const &s) {
  std::string out;
  for (unsigned int i = 0; i < s.length; i++) out.push_back(static_cast<char>('0' + s.symbols[i]));
  return out;
}

TEST(Sequence, FromLetters) {
  std::unique_ptr<Sequence> s(Sequence::from_letters("ACGTUNacgtunRYX-"));
  ASSERT_EQ(s->length, 16u);
  EXPECT_EQ(codes(*s), "0123340123344444");
  EXPECT_EQ(s->symbols[16], 255);
  EXPECT_EQ(s->name, nullptr);
  EXPECT_EQ(s->qualities, nullptr);
}

TEST(Sequence, ReverseComplementsInPlace) {
  std::unique_ptr<Sequence> s(Sequence::from_letters("ACGTN"));
  s->reverse();
  EXPECT_EQ(codes(*s), "40123");  // N A C G T
  std::unique_ptr<Sequence> q(Sequence::create(4, true, "q"));
  for (unsigned int i = 0; i < 4; i++) {
    q->symbols[i] = static_cast<unsigned char>(i);
    q->qualities[i] = static_cast<unsigned char>(10 + i);
  }
  q->reverse();
  EXPECT_EQ(codes(*q), "0123");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(q->qualities), 4), "\x0d\x0c\x0b\x0a");
  std::unique_ptr<Sequence> odd(Sequence::from_letters("AAC"));
  odd->reverse();
  EXPECT_EQ(codes(*odd), "233");
}

// Into another buffer, the codes as reverse() leaves them, for odd and
// even lengths and none; bytes past the length are not touched.
TEST(Sequence, ReverseComplementsIntoABuffer) {
  for (const char *letters : {"ACGTN", "AAC", "GATTACANNC", ""}) {
    std::unique_ptr<Sequence> s(Sequence::from_letters(letters));
    std::string out(s->length + 1, '\x7f');
    Sequence::reverse_complement(s->symbols, s->length, reinterpret_cast<unsigned char *>(out.data()));
    s->reverse();
    EXPECT_EQ(out.substr(0, s->length), std::string(reinterpret_cast<char *>(s->symbols), s->length)) << letters;
    EXPECT_EQ(out.back(), '\x7f') << letters;
  }
}

TEST(Sequence, CopiesAreIndependent) {
  std::unique_ptr<Sequence> s(Sequence::create(6, true, "read 1"));
  for (unsigned int i = 0; i < 6; i++) {
    s->symbols[i] = static_cast<unsigned char>(i % 5);
    s->qualities[i] = static_cast<unsigned char>(30 + i);
  }
  s->symbols[6] = 255;
  std::unique_ptr<Sequence> copy(s->copy());
  std::unique_ptr<Sequence> sub(s->copy_sub_sequence(2, 5));
  s->symbols[3] = 0;
  s->name[0] = 'X';
  EXPECT_STREQ(copy->name, "read 1");
  EXPECT_EQ(codes(*copy), "012340");
  EXPECT_EQ(copy->symbols[6], 255);
  EXPECT_EQ(copy->qualities[5], 35);
  EXPECT_STREQ(sub->name, "read 1");
  ASSERT_EQ(sub->length, 3u);
  EXPECT_EQ(codes(*sub), "234");
  EXPECT_EQ(sub->symbols[3], 255);
  EXPECT_EQ(sub->qualities[0], 32);
  std::unique_ptr<Sequence> clamped(s->copy_sub_sequence(4, 99));
  EXPECT_EQ(clamped->length, 2u);
}

}  // namespace
