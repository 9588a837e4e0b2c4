// The 16-byte line scanners against plain per-byte loops: every length 0 to
// 100, random bytes drawn from letters, IUPAC codes, line breaks, NULs and
// high bytes, starting at every alignment.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "fm/runtime/sequence_scan.h"

namespace {

// The scalar oracle of the symbol scan.
ScanResult oracle_symbols(uint8_t const *in, size_t available, uint8_t *out) {
  for (size_t k = 0; k < available; k++) {
    uint8_t c = in[k];
    if (c == '\r' || c == '\n') return {k, k, ScanStop::kLineEnd};
    switch (c) {
      case 'A': case 'a': out[k] = 0; break;
      case 'C': case 'c': out[k] = 1; break;
      case 'G': case 'g': out[k] = 2; break;
      case 'T': case 't': case 'U': case 'u': out[k] = 3; break;
      default: out[k] = 4; break;
    }
  }
  return {available, available, ScanStop::kDataEnd};
}

// The scalar oracle of the quality scan.
ScanResult oracle_qualities(uint8_t const *in, size_t available, uint8_t *out, uint8_t offset, uint8_t lowest) {
  for (size_t k = 0; k < available; k++) {
    uint8_t c = in[k];
    if (c == '\r' || c == '\n') return {k, k, ScanStop::kLineEnd};
    out[k] = (c < lowest || c >= 0x80) ? 0 : static_cast<uint8_t>(c - offset);
  }
  return {available, available, ScanStop::kDataEnd};
}

size_t oracle_line_end(uint8_t const *in, size_t available) {
  for (size_t k = 0; k < available; k++) {
    if (in[k] == '\r' || in[k] == '\n') return k;
  }
  return available;
}

// Bytes with every class the scanners tell apart well represented.
uint8_t random_byte(std::mt19937 &random) {
  static const char kCommon[] = "ACGTNacgtnUuRYKMSWBDHVrykmswbdhv-.*0123456789 \t!#;@IJhi~";
  switch (random() % 16) {
    case 0: return '\n';
    case 1: return '\r';
    case 2: return 0;
    case 3: return static_cast<uint8_t>(0x80 + random() % 128);
    case 4: return static_cast<uint8_t>(random() % 256);
    default: return static_cast<uint8_t>(kCommon[random() % (sizeof(kCommon) - 1)]);
  }
}

TEST(SequenceScan, KernelsMatchPlainLoopsOnRandomInput) {
  std::mt19937 random(12345);
  for (size_t length = 0; length <= 100; length++) {
    for (int round = 0; round < 40; round++) {
      // Rounds 0..9 keep line breaks out of the data so whole lines pass.
      bool no_breaks = round < 10;
      size_t shift = static_cast<size_t>(round % 16);
      std::vector<uint8_t> input(shift + length + 32, 0);
      for (size_t i = 0; i < length; i++) {
        uint8_t b;
        do {
          b = random_byte(random);
        } while (no_breaks && (b == '\n' || b == '\r'));
        input[shift + i] = b;
      }
      // Junk behind the data must not change the result.
      for (size_t i = shift + length; i < input.size(); i++) input[i] = random_byte(random);
      uint8_t const *in = input.data() + shift;
      SCOPED_TRACE(testing::Message() << "length " << length << " round " << round);

      std::vector<uint8_t> got(length + 16, 0xEE), want(length + 16, 0xEE);
      ScanResult g = scan_symbol_line(in, length, got.data());
      ScanResult w = oracle_symbols(in, length, want.data());
      ASSERT_EQ(g.consumed, w.consumed);
      ASSERT_EQ(g.produced, w.produced);
      ASSERT_EQ(g.stop, w.stop);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(w.produced), want.begin()));

      for (auto [offset, lowest] : {std::pair<uint8_t, uint8_t>{33, '!'}, {64, ';'}}) {
        ScanResult gq = scan_quality_line(in, length, got.data(), offset, lowest);
        ScanResult wq = oracle_qualities(in, length, want.data(), offset, lowest);
        ASSERT_EQ(gq.consumed, wq.consumed);
        ASSERT_EQ(gq.produced, wq.produced);
        ASSERT_EQ(gq.stop, wq.stop);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(wq.produced), want.begin()));
      }
      ASSERT_EQ(find_line_end(in, length), oracle_line_end(in, length));
    }
  }
}

TEST(SequenceScan, EveryByteValueInEveryLane) {
  // All 256 byte values at each of the 16 positions of a chunk.
  for (int lane = 0; lane < 16; lane++) {
    for (int value = 0; value < 256; value++) {
      std::vector<uint8_t> input(48, 'A');
      input[static_cast<size_t>(lane)] = static_cast<uint8_t>(value);
      std::vector<uint8_t> got(64), want(64);
      ScanResult g = scan_symbol_line(input.data(), 32, got.data());
      ScanResult w = oracle_symbols(input.data(), 32, want.data());
      ASSERT_EQ(g.produced, w.produced) << value;
      ASSERT_EQ(g.stop, w.stop) << value;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(w.produced), want.begin())) << value;
      g = scan_quality_line(input.data(), 32, got.data(), 64, ';');
      w = oracle_qualities(input.data(), 32, want.data(), 64, ';');
      ASSERT_EQ(g.produced, w.produced) << value;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(w.produced), want.begin())) << value;
    }
  }
}

}  // namespace
