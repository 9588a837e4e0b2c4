// The saved image of nucleotide arrays: round trips, a hand-written golden
// image and damaged images.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fm/index/nucleotide_array.h"
#include "fm/index/rotation_sort.h"
#include "test_support.h"
#include "memory_stream.h"

namespace {

using Symbols = std::vector<unsigned char>;

std::string save_image(const NucleotideArray &array) {
  ryx_test::SinkLog log;
  ryx_test::MemoryWriter writer(&log);
  array.save(&writer);
  return log.bytes;
}

std::unique_ptr<NucleotideArray> load_image(const std::string &bytes) {
  ryx_test::MemoryReader reader(bytes);
  return NucleotideArray::load(&reader);
}

void expect_same_array(const NucleotideArray &a, const NucleotideArray &b) {
  ASSERT_EQ(a.length(), b.length());
  for (uint64_t r = 0; r <= a.length(); r++) {
    unsigned long long x[7], y[7];
    a.occ_all_popcnt(r, x);
    b.occ_all_popcnt(r, y);
    for (int c = 0; c < 7; c++) ASSERT_EQ(x[c], y[c]) << "row " << r;
    if (r < a.length()) {
      ASSERT_EQ(a.get(r), b.get(r)) << "row " << r;
    }
  }
}

// Arrays of every kind: several sequences written row by row with samples
// and a mapping, one with circular records and no samples, and
// single-sequence arrays from the rotation sort.
std::vector<std::pair<std::string, std::unique_ptr<NucleotideArray>>> sample_arrays() {
  std::vector<std::pair<std::string, std::unique_ptr<NucleotideArray>>> arrays;
  std::mt19937_64 rng(31);
  {
    // Three sequences interleaved over 3 x 700 rows, sampled every 16 rows;
    // a fourth, circular one of 3 rows placed on unsampled rows gets a
    // mapping.
    const uint64_t rows = 3 * 700 + 3;
    auto array = std::make_unique<NucleotideArray>(rows, 4, 700);
    array->init_position_sampling(4);
    std::vector<uint64_t> loose;
    for (uint64_t r = 2100; r < rows + 16 && loose.size() < 3; r++)
      if (!array->is_sampled(r) && r < rows) loose.push_back(r);
    std::vector<uint64_t> taken(loose);
    uint64_t next = 0;
    for (uint32_t id = 0; id < 3; id++) {
      NucleotideArraySequenceWriter writer(array.get(), id, 700);
      for (unsigned int p = 0; p < 700; p++) {
        while (std::find(taken.begin(), taken.end(), next) != taken.end()) next++;
        writer.set(next, p, p == 699 ? 5 : static_cast<unsigned char>(rng() % 5));
        taken.push_back(next++);
      }
      writer.finish();
    }
    NucleotideArraySequenceWriter circular(array.get(), 3, 3);
    for (unsigned int p = 0; p < loose.size(); p++) circular.set(loose[p], p, 2);
    circular.finish();
    array->finish();
    arrays.emplace_back("sequences with samples and a mapping", std::move(array));
  }
  {
    Symbols s(1000);
    for (auto &c : s) c = static_cast<unsigned char>(rng() % 6);
    std::fill(s.begin() + 192, s.begin() + 600, 3);
    std::fill(s.begin() + 576, s.begin() + 800, 4);
    uint32_t separators = 0;
    for (unsigned char c : s) separators += c == 5;
    auto array = std::make_unique<NucleotideArray>(s.size(), separators + 2, 1);
    NucleotideArrayWriter writer(array.get());
    for (uint64_t r = 0; r < s.size(); r++) writer.set(r, s[r]);
    uint32_t id = 0;
    for (uint64_t r = 0; r < s.size(); r++)
      if (s[r] == 5) array->add_sequence(id++, 1, false, 0, r);
    array->add_sequence(id++, 1, true, 0, 5);
    array->add_sequence(id++, 1, true, 0, ~0ull);
    array->finish();
    arrays.emplace_back("plain, mixed and full blocks, circular records", std::move(array));
  }
  for (int shift : {-1, 0, 3}) {
    Symbols x(3000);
    for (auto &c : x) c = static_cast<unsigned char>(rng() % 4);
    x.push_back(5);
    arrays.emplace_back("rotation sort, shift " + std::to_string(shift),
                        make_burrows_wheeler_sequence(x.data(), static_cast<unsigned int>(x.size()), 0, shift));
  }
  return arrays;
}

TEST(NucleotideArrayImage, SaveLoadSaveIsByteIdentical) {
  for (const auto &[name, array] : sample_arrays()) {
    SCOPED_TRACE(name);
    const std::string first = save_image(*array);
    std::unique_ptr<NucleotideArray> loaded = load_image(first);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->is_finished());
    EXPECT_EQ(std::memcmp(&loaded->header(), &array->header(), sizeof(na_header)), 0);
    EXPECT_EQ(save_image(*loaded), first);
    EXPECT_EQ(loaded->memory_usage(), array->memory_usage());
    expect_same_array(*array, *loaded);
    for (uint32_t i = 0; i < array->sequence_count(); i++)
      EXPECT_EQ(std::memcmp(&loaded->sequence(i), &array->sequence(i), sizeof(na_sequence)), 0);
    EXPECT_EQ(loaded->position_mappings().size(), array->position_mappings().size());
  }
}

TEST(NucleotideArrayImage, GoldenImageLoadsAndIsWrittenAgain) {
  const std::string golden = ryx_test::hex_fixture("fm/index/acgt_separator_shift1.hex");
  std::unique_ptr<NucleotideArray> array = load_image(golden);
  ASSERT_NE(array, nullptr);
  const unsigned char rows[5] = {1, 2, 3, 5, 0};
  for (int r = 0; r < 5; r++) EXPECT_EQ(array->get(r), rows[r]) << r;
  unsigned long long counts[7];
  array->occ_all_popcnt(4, counts);
  const unsigned long long before_row_4[7] = {0, 0, 1, 2, 3, 3, 4};
  for (int c = 0; c < 7; c++) EXPECT_EQ(counts[c], before_row_4[c]) << c;
  ASSERT_TRUE(array->is_sampled(2));
  EXPECT_EQ(array->sample_position(array->sample(2)), 3u);
  EXPECT_EQ(array->sample_position(array->sample(0)), 1u);
  EXPECT_EQ(save_image(*array), golden);

  // The same image from the sequence itself.
  Symbols x = {0, 1, 2, 3, 5};
  EXPECT_EQ(save_image(*make_burrows_wheeler_sequence(x.data(), 5, 0, 1)), golden);
}

TEST(NucleotideArrayImage, MissingSamplesGiveNoArray) {
  std::string image = ryx_test::hex_fixture("fm/index/acgt_separator_shift1.hex");
  // The samples' marker byte follows the arrays: 136 + 64 + 96 + 24 + 8 + 32.
  image.resize(360);
  ASSERT_EQ(image[359], 0);
  image.push_back('\0');
  EXPECT_EQ(load_image(image), nullptr);
}

// Offsets into the image of the first sample array.
struct Layout {
  size_t blocks, extra, records, lookup, macro, samples, mappings, end;
};

Layout layout_of(const std::string &image) {
  na_header h;
  std::memcpy(&h, image.data(), sizeof(h));
  Layout l{};
  l.blocks = sizeof(h);
  l.extra = l.blocks + h.block_count * 64;
  l.records = l.extra + h.extra_block_count * 96ull;
  l.lookup = l.records + h.sequence_count * 24ull;
  l.macro = l.lookup + h.lookup_size * 4;
  l.samples = l.macro + h.macro_block_count * 32;
  l.mappings = l.samples;
  if (h.sampling_shift != -1) {
    uint64_t bits, count;
    std::memcpy(&bits, image.data() + l.samples + 1, 8);
    std::memcpy(&count, image.data() + l.samples + 9, 8);
    l.mappings = l.samples + 33 + (bits * count + 7) / 8;
  }
  l.end = l.mappings + h.mapping_count * 16ull;
  return l;
}

template <typename T>
void put(std::string &image, size_t offset, T value) {
  std::memcpy(image.data() + offset, &value, sizeof(value));
}

template <typename T>
T take(const std::string &image, size_t offset) {
  T value;
  std::memcpy(&value, image.data() + offset, sizeof(value));
  return value;
}

// Byte offset of the first block of the given kind (0 plain, 0xFE full,
// 0xFF mixed).
size_t first_block(const std::string &image, const Layout &l, unsigned kind) {
  for (size_t at = l.blocks; at < l.extra; at += 64) {
    const unsigned top = static_cast<unsigned char>(image[at + 3]);
    if (kind == 0 ? top < 0xFE : top == kind) return at;
  }
  ADD_FAILURE() << "no block of kind " << kind;
  return l.blocks;
}

TEST(NucleotideArrayImage, DamagedImagesAreRefused) {
  std::vector<std::pair<std::string, std::unique_ptr<NucleotideArray>>> arrays = sample_arrays();
  const std::string with_samples = save_image(*arrays[0].second);
  const std::string with_kinds = save_image(*arrays[1].second);
  const Layout s = layout_of(with_samples);
  const Layout k = layout_of(with_kinds);
  ASSERT_EQ(s.end, with_samples.size());
  ASSERT_EQ(k.end, with_kinds.size());
  ASSERT_GT(take<uint32_t>(with_samples, 84), 0u) << "the sampled array has a mapping";

  struct Case {
    const char *name;
    const std::string *image;
    std::function<void(std::string &)> damage;
  };
  const Case cases[] = {
      {"length one block longer", &with_kinds, [](std::string &i) { put<uint64_t>(i, 0, take<uint64_t>(i, 0) + 192); }},
      {"length of another row", &with_kinds, [](std::string &i) { put<uint64_t>(i, 0, take<uint64_t>(i, 0) + 1); }},
      {"huge length", &with_kinds, [](std::string &i) { put<uint64_t>(i, 0, ~0ull); }},
      {"block count", &with_kinds, [](std::string &i) { put<uint64_t>(i, 88, take<uint64_t>(i, 88) + 1); }},
      {"sequence count beyond the length", &with_kinds, [](std::string &i) { put<uint32_t>(i, 8, 0xFFFFFFFFu); }},
      {"maximum sequence length", &with_samples, [](std::string &i) { put<uint32_t>(i, 12, 1025); }},
      {"non-circular count", &with_kinds, [](std::string &i) { put<uint32_t>(i, 16, take<uint32_t>(i, 16) + 1); }},
      {"extra-block count beyond the blocks", &with_kinds, [](std::string &i) { put<uint32_t>(i, 20, 1000); }},
      {"lookup shift", &with_kinds, [](std::string &i) { put<uint32_t>(i, 24, 40); }},
      {"reserved", &with_kinds, [](std::string &i) { put<uint32_t>(i, 28, 1); }},
      {"C[2]", &with_kinds, [](std::string &i) { put<uint64_t>(i, 48, take<uint64_t>(i, 48) + 1); }},
      {"sampling shift", &with_samples, [](std::string &i) { put<int32_t>(i, 80, 70); }},
      {"mapping count", &with_samples, [](std::string &i) { put<uint32_t>(i, 84, 1000); }},
      {"lookup size", &with_kinds, [](std::string &i) { put<uint64_t>(i, 96, take<uint64_t>(i, 96) + 1); }},
      {"macro-block count", &with_kinds, [](std::string &i) { put<uint64_t>(i, 104, 2); }},
      {"sample count", &with_samples, [](std::string &i) { put<uint64_t>(i, 112, take<uint64_t>(i, 112) + 1); }},
      {"sample mask", &with_samples, [](std::string &i) { put<uint64_t>(i, 120, 7); }},
      {"position bits", &with_samples, [](std::string &i) { put<uint64_t>(i, 128, 11); }},
      {"plain block with a code past the tables", &with_kinds,
       [&](std::string &i) { i[first_block(i, k, 0) + 3] = static_cast<char>(0xFC); }},
      {"plain block with a lower code past the tables", &with_kinds,
       [&](std::string &i) { i[first_block(i, k, 0) + 7] = static_cast<char>(250); }},
      {"plain block marked full", &with_kinds,
       [&](std::string &i) { i[first_block(i, k, 0) + 3] = static_cast<char>(0xFE); }},
      {"full block marked mixed", &with_kinds,
       [&](std::string &i) { i[first_block(i, k, 0xFE) + 3] = static_cast<char>(0xFF); }},
      {"mixed block naming a missing extra block", &with_kinds,
       [&](std::string &i) { put<uint64_t>(i, first_block(i, k, 0xFF) + 56, 1000); }},
      {"block count stored in a block", &with_kinds,
       [&](std::string &i) { put<uint32_t>(i, k.blocks + 64 + 4, take<uint32_t>(i, k.blocks + 64 + 4) + 1); }},
      {"group count of a mixed block", &with_kinds,
       [&](std::string &i) { i[first_block(i, k, 0xFF) + 21] ^= 1; }},
      {"extra block nibble beyond the codes", &with_kinds, [&](std::string &i) { i[k.extra] = 0x77; }},
      {"extra block symbol changed", &with_kinds, [&](std::string &i) { i[k.extra] ^= 0x01; }},
      {"separator record on a letter", &with_kinds, [&](std::string &i) { put<uint64_t>(i, k.records + 16, 200); }},
      {"separator record past the length", &with_kinds,
       [&](std::string &i) { put<uint64_t>(i, k.records + 16, 5000); }},
      {"circular flag", &with_kinds, [&](std::string &i) { i[k.records + 8] = 2; }},
      {"lookup entry", &with_kinds, [&](std::string &i) { put<uint32_t>(i, k.lookup + 4, 100000); }},
      {"macro block count", &with_kinds, [&](std::string &i) { put<uint64_t>(i, k.macro, 1); }},
      {"sample marker", &with_samples, [&](std::string &i) { i[s.samples] = 2; }},
      {"sample width and mask", &with_samples,
       [&](std::string &i) {
         ASSERT_EQ(take<uint64_t>(i, s.samples + 1), 12u);
         put<uint64_t>(i, s.samples + 1, 11);
         put<uint64_t>(i, s.samples + 25, 0x7FF);
       }},
      {"sample width beyond 64 bits", &with_samples, [&](std::string &i) { put<uint64_t>(i, s.samples + 1, 65); }},
      {"sample mask", &with_samples, [&](std::string &i) { put<uint64_t>(i, s.samples + 25, 1); }},
      {"sample capacity", &with_samples,
       [&](std::string &i) { put<uint64_t>(i, s.samples + 17, take<uint64_t>(i, s.samples + 17) + 1); }},
      {"sample naming a missing sequence", &with_samples,
       [&](std::string &i) { i[s.samples + 33] = static_cast<char>(0xFF); i[s.samples + 34] = static_cast<char>(0xFF); }},
      {"mapping row past the length", &with_samples, [&](std::string &i) { put<uint64_t>(i, s.mappings, 1u << 20); }},
      {"mapping naming a missing sequence", &with_samples, [&](std::string &i) { put<uint32_t>(i, s.mappings + 8, 4); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string image = *c.image;
    c.damage(image);
    ASSERT_NE(image, *c.image);
    EXPECT_EXIT(load_image(image), testing::ExitedWithCode(1), "^Index file 'memory' is corrupt\\.\n$");
  }
}

TEST(NucleotideArrayImage, TruncatedImagesEndWithTheReadMessage) {
  const std::string image = save_image(*sample_arrays()[0].second);
  const Layout l = layout_of(image);
  for (size_t cut : {size_t{0}, size_t{100}, l.blocks + 10, l.records + 3, l.samples, l.samples + 20, l.mappings,
                     image.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_EXIT(load_image(image.substr(0, cut)), testing::ExitedWithCode(1),
                "^Unexpected end of file while reading file memory\n$");
  }
}

TEST(NucleotideArrayImage, ShortWritesEndWithTheWriteMessage) {
  const std::unique_ptr<NucleotideArray> array = std::move(sample_arrays()[0].second);
  const size_t size = save_image(*array).size();
  for (size_t limit : {size_t{0}, size_t{136}, size - 1}) {
    EXPECT_EXIT(
        {
          ryx_test::SinkLog log;
          log.limit = limit;
          ryx_test::MemoryWriter writer(&log);
          array->save(&writer);
        },
        testing::ExitedWithCode(1), "^Error while writing file memory-out\n$");
  }
}

}  // namespace
