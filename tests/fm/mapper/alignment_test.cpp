// The run-length alignment code: bytes written by hand from the run rules,
// the reversal of codes written backwards, and copying the rest of a code.
#include "fm/mapper/alignment.h"

#include <gtest/gtest.h>

#include <random>

#include "alignment_fixture.h"
#include "test_support.h"

namespace {

using align_test::code_of;
using align_test::hex_of;

// Expected bytes from the run rules: matches 0x00 + n - 1 (n up to 128),
// insertions 0x80 + n - 1 (up to 64), deletions 0xC0 + n - 1 (up to 63);
// longer runs as full bytes and the rest; runs of one kind merge.
TEST(Alignment, RunBytes) {
  const struct {
    const char *ops, *hex;
  } cases[] = {
      {"M200", "7F 47"},
      {"M200 M1", "7F 48"},
      {"M1", "00"},
      {"M128", "7F"},
      {"M129", "7F 00"},
      {"M256", "7F 7F"},
      {"M257", "7F 7F 00"},
      {"M127 M1", "7F"},
      {"M127 M2", "7F 00"},
      {"I64", "BF"},
      {"I65", "BF 80"},
      {"I1 I1 I1", "82"},
      {"D63", "FE"},
      {"D64", "FE C0"},
      {"D5 D3", "C7"},
      {"D60 D5", "FE C1"},
      {"D63 D1", "FE C0"},
      {"I3 M10 D2 M5 I7", "82 09 C1 04 86"},
      {"I1 D1 I1", "80 C0 80"},
      {"M0 I0 D0", ""},
      {"M300 I100 D100 M1", "7F 7F 2B BF A3 FE E4 00"},
  };
  for (const auto &c : cases) EXPECT_EQ(hex_of(code_of(c.ops)), c.hex) << c.ops;
}

// A golden code written by hand, built run by run and column by column.
TEST(Alignment, GoldenMixedRuns) {
  const std::string want = ryx_test::hex_fixture("fm/mapper/alignment_mixed_runs.hex");
  const Alignment runs = code_of("I3 M200 D70 M1 I65 D1 M128 I1");
  EXPECT_EQ(std::string(runs.code.begin(), runs.code.end()), want);
  Alignment columns;
  const struct {
    char op;
    int n;
  } parts[] = {{'I', 3}, {'M', 200}, {'D', 70}, {'M', 1}, {'I', 65}, {'D', 1}, {'M', 128}, {'I', 1}};
  for (const auto &p : parts)
    for (int k = 0; k < p.n; k++) {
      if (p.op == 'M') columns.add_matches(1);
      else if (p.op == 'I') columns.add_insertions(1);
      else columns.add_deletions(1);
    }
  EXPECT_EQ(std::string(columns.code.begin(), columns.code.end()), want);
  EXPECT_EQ(runs.read_length(), 3u + 200 + 1 + 65 + 128 + 1);
  EXPECT_EQ(runs.reference_length(), 200u + 70 + 1 + 1 + 128);
}

// A code written from the alignment's end towards its start reads
// forward after reversal, its runs merged again.
TEST(Alignment, ReversalOfABackwardCode) {
  const struct {
    const char *backward, *forward;
  } cases[] = {
      {"D4 M200 I2 M3", "02 81 7F 47 C3"},
      {"M130", "7F 01"},
      {"I70 M1 D64", "FE C0 00 BF 85"},
      {"", ""},
  };
  for (const auto &c : cases) {
    const Alignment backward = code_of(c.backward);
    Alignment forward;
    forward.add_matches(5);  // replaced
    forward.assign_reversed(backward);
    EXPECT_EQ(hex_of(forward), c.forward) << c.backward;
  }
  // Any code written backwards column by column and reversed equals the
  // code written forwards.
  std::mt19937 rng(3);
  for (int round = 0; round < 200; round++) {
    std::vector<int> ops(rng() % 400);
    for (int &op : ops) op = rng() % 10 < 7 ? 0 : 1 + static_cast<int>(rng() % 2);
    Alignment forward, backward, reversed;
    for (int op : ops) forward.add_byte(static_cast<uint8_t>(op == 0 ? 0x00 : op == 1 ? 0x80 : 0xC0));
    for (size_t k = ops.size(); k-- > 0;)
      backward.add_byte(static_cast<uint8_t>(ops[k] == 0 ? 0x00 : ops[k] == 1 ? 0x80 : 0xC0));
    reversed.assign_reversed(backward);
    ASSERT_EQ(reversed.code, forward.code);
  }
}

TEST(AlignmentIterator, AppendRestStopsAtEitherCount) {
  const Alignment code = code_of("I3 M10 D2 M5 I7");  // 82 09 C1 04 86
  const struct {
    uint32_t index, consumed, read, reference;
    const char *hex;
  } cases[] = {
      {0, 0, 8, 100, "82 04"},            // read count reached inside the matches
      {0, 0, 100, 11, "82 09 C0"},        // reference count reached inside the deletion
      {0, 0, 100, 10, "82 09"},           // ... at the end of the matches
      {0, 0, 20, 100, "82 09 C1 04 81"},  // ... inside the trailing insertions
      {1, 4, 100, 100, "05 C1 04 86"},    // from the fifth match on, to the end
      {3, 0, 5, 3, "02"},
      {0, 0, 0, 0, ""},
      {5, 0, 9, 9, ""},  // past the end
  };
  for (const auto &c : cases) {
    Alignment out;
    AlignmentIterator(code.code.data(), static_cast<uint32_t>(code.code.size()), c.index,
                      static_cast<uint8_t>(c.consumed))
        .append_rest_to(c.read, c.reference, &out);
    EXPECT_EQ(hex_of(out), c.hex) << c.index << "/" << c.consumed << " " << c.read << " " << c.reference;
  }
  // Appending merges with what out already ends with.
  Alignment out = code_of("M2");
  AlignmentIterator(code).append_rest_to(5, 100, &out);
  EXPECT_EQ(hex_of(out), "01 82 01");
  out = code_of("I2");
  AlignmentIterator(code).append_rest_to(5, 100, &out);
  EXPECT_EQ(hex_of(out), "84 01");
}

}  // namespace
