// The index file: golden file, round trips, the bisulphite list, sequence
// ids over several files, every message and damaged files.
#include "fm/index/index_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "fm/index/fasta_index_builder.h"
#include "memory_stream.h"
#include "naive_index.h"
#include "test_support.h"

namespace {

using naive::Symbols;

std::string letters(const Symbols &bases) {
  std::string s;
  for (unsigned char c : bases) s.push_back("ACGTN"[c]);
  return s;
}

// An index of a FASTA text built with the filter (may be empty), its refs
// from the builder's sequence infos.
MapperIndex index_of_fasta(const std::string &text, int circular, unsigned char shift, uint64_t first_id,
                           bool second, std::function<bool(Sequence *)> filter = nullptr) {
  FastaIndexBuilder builder(1ul << 30, 0, shift, nullptr, 2);
  if (filter) builder.set_sequence_filter(filter);
  builder.parse_file(new ryx_test::MemoryReader(text, nullptr, "ref.fa"), circular);
  builder.finish();
  std::vector<MapperIndexRef> refs;
  for (const FastaIndexBuilder::SequenceInfo &info : builder.get_sequence_info())
    refs.push_back({info.length, info.circular != 0});
  return MapperIndex(builder.get_result(), std::move(refs), first_id, 3, second);
}

std::string random_fasta(uint64_t seed, int count, size_t length) {
  std::mt19937_64 rng(seed);
  std::string text;
  for (int i = 0; i < count; i++) text += ">s" + std::to_string(i) + "\n" + letters(naive::random_bases(rng, 1 + rng() % length)) + "\n";
  return text;
}

MapperFileInfo info_of(const MapperIndex &index, const std::string &name) {
  MapperFileInfo info;
  info.file_name = name;
  info.sequence_count = index.refs.size();
  for (const MapperIndexRef &r : index.refs) info.total_length += r.length;
  return info;
}

std::string file_bytes(const std::vector<MapperIndex> &first, const std::vector<MapperIndex> *second,
                       const std::vector<MapperFileInfo> &infos) {
  ryx_test::SinkLog log;
  ryx_test::MemoryWriter writer(&log);
  write_index_file(static_cast<unsigned int>(first.size()), first.data(), second ? second->data() : nullptr, infos,
                   &writer);
  return log.bytes;
}

struct Loaded {
  std::vector<MapperIndex> main_set, bisulphite_set;
  std::vector<MapperFileInfo> infos;
};

void read_bytes(Loaded &into, const std::string &bytes, bool bisulphite, unsigned int depth = 3) {
  ryx_test::MemoryReader reader(bytes, nullptr, "idx.ryx");
  read_index_file(into.main_set, into.bisulphite_set, depth, into.infos, bisulphite, &reader);
}

// The same matches with the same places through both matchers.
void expect_same_search(const BidirectionalMatcher &a, const BidirectionalMatcher &b, uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 50; round++) {
    Symbols p(1 + rng() % 6);
    for (auto &c : p) c = static_cast<unsigned char>(rng() % 4);
    BidirectionalSearch x, y;
    a.init_search(&x, p.data(), static_cast<int>(p.size()));
    b.init_search(&y, p.data(), static_cast<int>(p.size()));
    ASSERT_TRUE(x.equal(&y));
    std::vector<_sequence_position> u(x.count()), v(y.count());
    x.get_match_positions(0, x.count(), u.data());
    y.get_match_positions(0, y.count(), v.data());
    for (size_t i = 0; i < u.size(); i++) {
      ASSERT_EQ(u[i].sequence_id, v[i].sequence_id);
      ASSERT_EQ(u[i].offset, v[i].offset);
    }
  }
}

TEST(IndexFile, GoldenFileFromFasta) {
  const std::string golden = ryx_test::hex_fixture("fm/index/acgt_index_file.hex");
  std::vector<MapperIndex> list;
  list.push_back(index_of_fasta(">acgt\nACGT\n", 0, 1, 0, false));
  EXPECT_EQ(file_bytes(list, nullptr, {info_of(list[0], "acgt.fa")}), golden);

  Loaded loaded;
  read_bytes(loaded, golden, false, 2);
  ASSERT_EQ(loaded.main_set.size(), 1u);
  EXPECT_TRUE(loaded.bisulphite_set.empty());
  const MapperIndex &index = loaded.main_set[0];
  EXPECT_EQ(index.first_sequence_id, 0u);
  ASSERT_EQ(index.refs.size(), 1u);
  EXPECT_EQ(index.refs[0].length, 4u);
  EXPECT_FALSE(index.refs[0].circular);
  EXPECT_EQ(index.acceleration_depth, 2u);
  EXPECT_EQ(index.matcher->acceleration_depth(), 2);
  EXPECT_FALSE(index.second_set);
  ASSERT_EQ(loaded.infos.size(), 1u);
  EXPECT_EQ(loaded.infos[0].file_name, "acgt.fa");
  EXPECT_EQ(loaded.infos[0].sequence_count, 1u);
  EXPECT_EQ(loaded.infos[0].total_length, 4u);
  // "GT" ends at offset 3: located through the loaded samples.
  const unsigned char gt[] = {2, 3};
  BidirectionalSearch search;
  index.matcher->init_search(&search, gt, 2);
  ASSERT_EQ(search.count(), 1u);
  _sequence_position place;
  search.get_match_positions(0, 1, &place);
  EXPECT_EQ(place.offset, 2u);
  EXPECT_EQ(file_bytes(loaded.main_set, nullptr, loaded.infos), golden);
}

TEST(IndexFile, WriteReadWriteIsByteIdentical) {
  std::vector<MapperIndex> list;
  list.push_back(index_of_fasta(random_fasta(1, 7, 400), 0, 4, 0, false));
  list.push_back(index_of_fasta(random_fasta(2, 3, 900), 1, 2, 7, false));
  list.push_back(index_of_fasta(">only N\nNNNN\n>empty\n\n", 0, 16, 10, false));
  const std::vector<MapperFileInfo> infos = {info_of(list[0], "a.fa"), info_of(list[1], "dir/b.fa.gz"),
                                             {0, 0, "empty.fa"}, info_of(list[2], "n.fa")};
  const std::string bytes = file_bytes(list, nullptr, infos);
  Loaded loaded;
  read_bytes(loaded, bytes, false);
  ASSERT_EQ(loaded.main_set.size(), 3u);
  const uint64_t first_ids[3] = {0, 7, 10};
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(loaded.main_set[i].first_sequence_id, first_ids[i]);
    ASSERT_EQ(loaded.main_set[i].refs.size(), list[i].refs.size());
    for (size_t k = 0; k < list[i].refs.size(); k++) {
      EXPECT_EQ(loaded.main_set[i].refs[k].length, list[i].refs[k].length);
      EXPECT_EQ(loaded.main_set[i].refs[k].circular, list[i].refs[k].circular);
    }
    expect_same_search(*list[i].matcher, *loaded.main_set[i].matcher, i);
  }
  ASSERT_EQ(loaded.infos.size(), 4u);
  EXPECT_EQ(loaded.infos[1].file_name, "dir/b.fa.gz");
  EXPECT_EQ(file_bytes(loaded.main_set, nullptr, loaded.infos), bytes);
}

// C to T and G to A conversions, as the read mapper's filters make them.
std::function<bool(Sequence *)> convert(unsigned char from, unsigned char to) {
  return [from, to](Sequence *s) {
    for (unsigned int i = 0; i < s->length; i++)
      if (s->symbols[i] == from) s->symbols[i] = to;
    return true;
  };
}

TEST(IndexFile, BisulphiteFileKeepsItsSecondList) {
  const std::string text = random_fasta(3, 5, 300);
  std::vector<MapperIndex> first, second;
  first.push_back(index_of_fasta(text, 0, 4, 0, false, convert(1, 3)));
  second.push_back(index_of_fasta(text, 0, 4, 0, true, convert(2, 0)));
  const std::string bytes = file_bytes(first, &second, {info_of(first[0], "ref.fa")});
  EXPECT_EQ(bytes[4], 1);
  Loaded loaded;
  read_bytes(loaded, bytes, true);
  ASSERT_EQ(loaded.main_set.size(), 1u);
  ASSERT_EQ(loaded.bisulphite_set.size(), 1u);
  EXPECT_FALSE(loaded.main_set[0].second_set);
  EXPECT_TRUE(loaded.bisulphite_set[0].second_set);
  EXPECT_EQ(loaded.bisulphite_set[0].first_sequence_id, 0u);
  expect_same_search(*first[0].matcher, *loaded.main_set[0].matcher, 1);
  expect_same_search(*second[0].matcher, *loaded.bisulphite_set[0].matcher, 2);
  // The converted lists hold no C and no G respectively.
  EXPECT_EQ(loaded.main_set[0].matcher->text_array()->C()[2], loaded.main_set[0].matcher->text_array()->C()[1]);
  EXPECT_EQ(loaded.bisulphite_set[0].matcher->text_array()->C()[3],
            loaded.bisulphite_set[0].matcher->text_array()->C()[2]);
  EXPECT_EQ(file_bytes(loaded.main_set, &loaded.bisulphite_set, loaded.infos), bytes);
}

TEST(IndexFile, IdsContinueOverFilesAndLists) {
  const std::string text = random_fasta(4, 4, 100);
  std::vector<MapperIndex> first, second;
  first.push_back(index_of_fasta(text, 0, 4, 0, false, convert(1, 3)));
  second.push_back(index_of_fasta(text, 0, 4, 0, true, convert(2, 0)));
  const std::string bytes = file_bytes(first, &second, {info_of(first[0], "ref.fa")});
  Loaded loaded;
  read_bytes(loaded, bytes, true);
  read_bytes(loaded, bytes, true);
  ASSERT_EQ(loaded.main_set.size(), 2u);
  EXPECT_EQ(loaded.main_set[1].first_sequence_id, 4u);
  EXPECT_EQ(loaded.bisulphite_set[1].first_sequence_id, 4u);
  EXPECT_EQ(loaded.infos.size(), 2u);
}

TEST(IndexFile, FilesWithoutIndexesOrSequences) {
  // n = 0: only the header and the file infos.
  const std::vector<MapperFileInfo> infos = {{0, 0, "empty.fa"}};
  const std::string header_only = file_bytes({}, nullptr, infos);
  EXPECT_EQ(header_only, ryx_test::hex_bytes("52 59 58 80 00 00 02 00 00 00 00 00 01 00 00000000 00000000 "
                                             "00000000 00000000 08") +
                             "empty.fa");
  Loaded loaded;
  read_bytes(loaded, header_only, false);
  EXPECT_TRUE(loaded.main_set.empty());
  ASSERT_EQ(loaded.infos.size(), 1u);

  // An index built from no sequences: m = 0 over the one-separator arrays.
  std::vector<MapperIndex> list;
  list.push_back(index_of_fasta(">e\n\n", 0, 4, 0, false));
  ASSERT_TRUE(list[0].refs.empty());
  const std::string bytes = file_bytes(list, nullptr, infos);
  Loaded again;
  read_bytes(again, bytes, false);
  ASSERT_EQ(again.main_set.size(), 1u);
  EXPECT_TRUE(again.main_set[0].refs.empty());
  EXPECT_EQ(file_bytes(again.main_set, nullptr, again.infos), bytes);
}

// ---------------------------------------------------------------------------
// Refused files.

std::string sample_file() {
  std::vector<MapperIndex> list;
  list.push_back(index_of_fasta(random_fasta(5, 4, 250), 0, 4, 0, false));
  return file_bytes(list, nullptr, {info_of(list[0], "ref.fa")});
}

TEST(IndexFileDeath, HeaderMessages) {
  const std::string good = sample_file();
  std::string bisulphite;
  {
    const std::string text = random_fasta(6, 2, 50);
    std::vector<MapperIndex> first, second;
    first.push_back(index_of_fasta(text, 0, 4, 0, false));
    second.push_back(index_of_fasta(text, 0, 4, 0, true));
    bisulphite = file_bytes(first, &second, {info_of(first[0], "ref.fa")});
  }
  struct Case {
    const char *name;
    std::string bytes;
    bool bisulphite_mode;
    const char *message;
  };
  std::string magic = good, version = good, flags = good, nucleotide = good;
  magic[3] = 0x7F;
  version[6] = 1;
  flags[5] = 0x80;
  nucleotide.replace(0, 4, ">acg");
  const Case cases[] = {
      {"wrong magic", magic, false, "^Index file 'idx\\.ryx' is corrupt\\.\n$"},
      {"a FASTA file", nucleotide, false, "^Index file 'idx\\.ryx' is corrupt\\.\n$"},
      {"version 1", version, false,
       "^Index file 'idx\\.ryx' is incompatible, please use the --indexoutput parameter to regenerate it\\.\n$"},
      {"unknown flag", flags, false, "^Index file 'idx\\.ryx' is corrupt\\.\n$"},
      {"no second list in bisulphite mode", good, true,
       "^Index file 'idx\\.ryx' does not contain a bisulphite index\\.\n$"},
      {"second list without bisulphite mode", bisulphite, false,
       "^Index file 'idx\\.ryx' contains a bisulphite index, but bisulphite mode is not enabled\\.\n$"},
      {"empty file", "", false, "^Unexpected end of file while reading file idx\\.ryx\n$"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          Loaded loaded;
          read_bytes(loaded, c.bytes, c.bisulphite_mode);
        },
        testing::ExitedWithCode(1), c.message);
  }
}

// Offsets of the parts of a one-index file.
struct FileLayout {
  size_t infos, text, reversed, m, lengths, flags, end;
};

FileLayout layout_of(const std::string &bytes, size_t name_length) {
  FileLayout l{};
  l.infos = 12;
  l.text = l.infos + 1 + 1 + 16 + 1 + name_length;
  auto array_size = [&](size_t at) {
    na_header h;
    std::memcpy(&h, bytes.data() + at, sizeof(h));
    size_t size = sizeof(h) + h.block_count * 64 + h.extra_block_count * 96ull + h.sequence_count * 24ull +
                  h.lookup_size * 4 + h.macro_block_count * 32;
    if (h.sampling_shift != -1) {
      uint64_t bits, count;
      std::memcpy(&bits, bytes.data() + at + size + 1, 8);
      std::memcpy(&count, bytes.data() + at + size + 9, 8);
      size += 33 + (bits * count + 7) / 8;
    }
    return size + h.mapping_count * 16ull;
  };
  l.reversed = l.text + array_size(l.text);
  l.m = l.reversed + array_size(l.reversed);
  uint64_t m;
  std::memcpy(&m, bytes.data() + l.m, 8);
  l.lengths = l.m + 8;
  l.flags = l.lengths + 8 * m;
  l.end = l.flags + 4 * m;
  return l;
}

template <typename T>
void put(std::string &bytes, size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof(value));
}
template <typename T>
T take(const std::string &bytes, size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof(value));
  return value;
}

TEST(IndexFileDeath, DamagedPartsAreRefused) {
  const std::string good = sample_file();
  const FileLayout l = layout_of(good, 6);
  ASSERT_EQ(l.end, good.size());
  ASSERT_EQ(take<uint64_t>(good, l.m), 4u);
  // Another index's reversed array: a foreign companion of another length.
  std::string other_reversed;
  {
    const std::string other = [] {
      std::vector<MapperIndex> list;
      list.push_back(index_of_fasta(random_fasta(9, 4, 250), 0, 4, 0, false));
      return file_bytes(list, nullptr, {info_of(list[0], "ref.fa")});
    }();
    const FileLayout o = layout_of(other, 6);
    other_reversed = other.substr(o.reversed, o.m - o.reversed);
  }
  struct Case {
    const char *name;
    std::function<void(std::string &)> damage;
  };
  const Case cases[] = {
      {"file-info marker byte", [&](std::string &b) { b[l.infos + 1] = 1; }},
      {"file-info sequence count", [&](std::string &b) { put<uint64_t>(b, l.infos + 2, 5); }},
      {"file-info total length", [&](std::string &b) { put<uint64_t>(b, l.infos + 10, take<uint64_t>(b, l.infos + 10) + 1); }},
      {"damaged text array", [&](std::string &b) { put<uint64_t>(b, l.text + 88, 7); }},
      {"samples announced but not stored",
       [&](std::string &b) {
         na_header h;
         std::memcpy(&h, b.data() + l.text, sizeof(h));
         const size_t marker = l.text + sizeof(h) + h.block_count * 64 + h.extra_block_count * 96ull +
                               h.sequence_count * 24ull + h.lookup_size * 4 + h.macro_block_count * 32;
         ASSERT_EQ(b[marker], 1);
         b[marker] = 0;
       }},
      {"reversed array of other sequences",
       [&](std::string &b) { b.replace(l.reversed, l.m - l.reversed, other_reversed); }},
      {"text array twice", [&](std::string &b) { b.replace(l.reversed, l.m - l.reversed, b.substr(l.text, l.reversed - l.text)); }},
      {"sequence count m", [&](std::string &b) { put<uint64_t>(b, l.m, 3); }},
      {"sequence length", [&](std::string &b) { put<uint64_t>(b, l.lengths, take<uint64_t>(b, l.lengths) + 1); }},
      {"circular flag 2", [&](std::string &b) { put<uint32_t>(b, l.flags, 2); }},
      {"circular flag on a linear sequence", [&](std::string &b) { put<uint32_t>(b, l.flags + 4, 1); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = good;
    c.damage(bytes);
    ASSERT_NE(bytes, good);
    EXPECT_EXIT(
        {
          Loaded loaded;
          read_bytes(loaded, bytes, false);
        },
        testing::ExitedWithCode(1), "^Index file 'idx\\.ryx' is corrupt\\.\n$");
  }
}

TEST(IndexFileDeath, SecondListMustCoverTheSameSequences) {
  const std::string a = random_fasta(10, 3, 80), b = random_fasta(11, 3, 80);
  std::vector<MapperIndex> first, second;
  first.push_back(index_of_fasta(a, 0, 4, 0, false));
  second.push_back(index_of_fasta(b, 0, 4, 0, true));
  const std::string bytes = file_bytes(first, &second, {info_of(first[0], "ref.fa")});
  EXPECT_EXIT(
      {
        Loaded loaded;
        read_bytes(loaded, bytes, true);
      },
      testing::ExitedWithCode(1), "^Index file 'idx\\.ryx' is corrupt\\.\n$");
}

TEST(IndexFileDeath, TruncatedFilesEndWithTheReadMessage) {
  const std::string good = sample_file();
  const FileLayout l = layout_of(good, 6);
  for (size_t cut : {size_t{3}, size_t{11}, l.infos + 5, l.text - 2, l.text + 200, l.reversed + 10, l.m + 4,
                     l.flags + 3, good.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_EXIT(
        {
          Loaded loaded;
          read_bytes(loaded, good.substr(0, cut), false);
        },
        testing::ExitedWithCode(1), "^Unexpected end of file while reading file idx\\.ryx\n$");
  }
}

TEST(IndexFileDeath, ShortWritesEndWithTheWriteMessage) {
  std::vector<MapperIndex> list;
  list.push_back(index_of_fasta(random_fasta(12, 2, 50), 0, 4, 0, false));
  const std::vector<MapperFileInfo> infos = {info_of(list[0], "ref.fa")};
  const size_t size = file_bytes(list, nullptr, infos).size();
  for (size_t limit : {size_t{0}, size_t{13}, size - 1}) {
    EXPECT_EXIT(
        {
          ryx_test::SinkLog log;
          log.limit = limit;
          ryx_test::MemoryWriter writer(&log, "out.ryx");
          write_index_file(1, list.data(), nullptr, infos, &writer);
        },
        testing::ExitedWithCode(1), "^Error while writing file out\\.ryx\n$");
  }
}

// Loads the file, then searches every pattern xyC and locates all its
// matches; ends the process with status 0.
void load_and_search(const std::string &bytes) {
  Loaded loaded;
  read_bytes(loaded, bytes, false);
  for (const MapperIndex &index : loaded.main_set) {
    for (unsigned char c0 = 0; c0 < 4; c0++) {
      for (unsigned char c1 = 0; c1 < 4; c1++) {
        const unsigned char p[] = {c0, c1, 1};
        BidirectionalSearch search;
        index.matcher->init_search(&search, p, 3);
        std::vector<_sequence_position> out(search.count());
        search.get_match_positions(0, search.count(), out.data());
      }
    }
  }
  exit(0);
}

// Random damage anywhere: the file is refused with a message, or it loads
// and every search and located match still stays inside the index.
TEST(IndexFileDeath, RandomDamageNeverReadsOutOfBounds) {
  const std::string good = sample_file();
  std::mt19937_64 rng(99);
  auto exited_cleanly = [](int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
  };
  for (int round = 0; round < 120; round++) {
    std::string bytes = good;
    for (int k = 0, n = 1 + static_cast<int>(rng() % 3); k < n; k++)
      bytes[rng() % bytes.size()] = static_cast<char>(rng() % 2 ? rng() : bytes[rng() % bytes.size()] ^ 1);
    SCOPED_TRACE(round);
    EXPECT_EXIT(load_and_search(bytes), exited_cleanly,
                "^$|^Index file 'idx\\.ryx' [^\n]*\n$|^Unexpected end of file while reading file idx\\.ryx\n$|"
        "^Index is damaged: a matched row reaches neither a position sample nor a mapping\\.\n$");
  }
}

}  // namespace
