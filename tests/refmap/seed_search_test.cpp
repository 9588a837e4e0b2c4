// Seed search: candidates of every lookup batch against a brute-force
// enumeration of the distinct diagonals with a seed hit, in the
// listed-offsets, every-offset and multi-hit modes; batch limits, a query
// that overflows a region inside a batch and as the first of one, the probe
// sequence of the table, packing, the constructor checks and the order of
// the comparison functions.
#include "refmap/seed_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "refmap/align/sort.h"
#include "refmap/hit_hash.h"
#include "refmap/ref_block.h"
#include "refmap/ref_index.h"
#include "refmap/seed_mask.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

struct packed_block_t {
  seq_db_t *db = nullptr;
  ref_block_list_t *list = nullptr;
  ref_block_t *block = nullptr;

  explicit packed_block_t(const std::vector<std::string> &letters) {
    auto **records = static_cast<seq_record_t **>(malloc(sizeof(seq_record_t *) * letters.size()));
    std::vector<int32_t> lengths;
    for (size_t k = 0; k < letters.size(); k++) {
      records[k] = seq_record_new_from_letters(letters[k].c_str());
      lengths.push_back(static_cast<int32_t>(letters[k].size()));
    }
    db = seq_db_new_from_records(records, static_cast<int64_t>(letters.size()));
    list = ref_block_list_build(static_cast<int32_t>(lengths.size()), lengths.data(), 30, 10, kRefBlockMaxSize);
    block = ref_block_pack(list->blocks[0], db);
  }
  ~packed_block_t() {
    ref_block_free(block);
    ref_block_list_free(list);
    seq_db_free_records(db);
  }
  int base(int64_t p) const { return (block->bases[p / 4] >> (2 * (p & 3))) & 3; }
};

std::string random_letters(std::mt19937 &rng, size_t n) {
  std::string s(n, 'A');
  for (char &c : s) c = "ACGT"[rng() % 4];
  return s;
}

// Seed hash -> every indexed block position, as the index defines them.
std::map<uint32_t, std::vector<uint32_t>> positions_by_hash(const ref_block_t *block, const seed_mask_t *mask) {
  std::map<uint32_t, std::vector<uint32_t>> out;
  const ref_block_desc_t *d = block->desc;
  const int64_t end = d->starts[d->piece_count - 1] + d->lengths[d->piece_count - 1];
  for (int64_t p = d->starts[0]; p + mask->length <= end; p++) {
    out[seed_hash(block->bases, static_cast<uint32_t>(p), mask->words, mask->colour)].push_back(
        static_cast<uint32_t>(p));
  }
  return out;
}

// The query packed on its own, with spare bytes.
std::vector<uint8_t> pack(const seq_record_t *q) {
  std::vector<uint8_t> out(q->length / 4 + 48, 0);
  for (uint32_t i = 0; i < q->length; i++) out[i / 4] |= static_cast<uint8_t>((q->residues[i] & 3) << (2 * (i & 3)));
  return out;
}

struct view_model_t {
  const seed_mask_t *mask;
  std::map<uint32_t, std::vector<uint32_t>> positions;
  std::vector<uint32_t> offsets;  // listed offsets; empty: every offset
};

// Distinct (query, diagonal) pairs with a seed hit, as sorted 64-bit
// candidate values.
std::vector<uint64_t> brute_force(const std::vector<seq_record_t *> &queries, const std::vector<view_model_t> &views,
                                  int64_t low, int64_t high) {
  std::vector<uint64_t> out;
  for (size_t qi = 0; qi < queries.size(); qi++) {
    if (queries[qi] == nullptr) continue;
    const std::vector<uint8_t> packed = pack(queries[qi]);
    const int64_t n = queries[qi]->length;
    for (const view_model_t &v : views) {
      const int64_t span = v.mask->length + v.mask->colour;
      std::vector<uint32_t> offsets = v.offsets;
      if (offsets.empty()) {
        for (int64_t o = 0; o + span <= n; o++) offsets.push_back(static_cast<uint32_t>(o));
      }
      for (uint32_t o : offsets) {
        if (o + span > n) continue;
        const auto it = v.positions.find(seed_hash(packed.data(), o, v.mask->words, v.mask->colour));
        if (it == v.positions.end()) continue;
        for (uint32_t p : it->second) {
          const int64_t d = static_cast<int64_t>(p) - o;
          if (d >= low && d < high) out.push_back((static_cast<uint64_t>(qi) << 32) | static_cast<uint32_t>(d));
        }
      }
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// Runs every lookup batch; checks that each batch's list is sorted and
// holds only its own queries. Returns all candidates and the batch ends.
std::vector<uint64_t> search_all(hit_hash_t *hash, std::vector<int32_t> *ends) {
  std::vector<uint64_t> all;
  while (hash->current < hash->query_count) {
    const int32_t first = hash->current;
    const int32_t end = seed_search_batch(hash);
    EXPECT_GT(end, first);
    EXPECT_EQ(hash->current, end);
    ends->push_back(end);
    for (int32_t k = 0; k < hash->count; k++) {
      uint64_t v;
      memcpy(&v, hash->candidates + k, 8);
      if (k > 0) {
        uint64_t prev;
        memcpy(&prev, hash->candidates + k - 1, 8);
        EXPECT_LT(prev, v) << "batch from " << first;
      }
      EXPECT_GE(hash->candidates[k].query, static_cast<uint32_t>(first));
      EXPECT_LT(hash->candidates[k].query, static_cast<uint32_t>(end));
      all.push_back(v);
    }
  }
  return all;
}

// Forward strand at even indexes, reverse complement at odd: reads from
// the block with some errors, random reads, and a missing strand.
std::vector<seq_record_t *> make_queries(std::mt19937 &rng, const std::vector<std::string> &refs, int reads) {
  std::vector<seq_record_t *> out;
  for (int r = 0; r < reads; r++) {
    const std::string &ref = refs[rng() % refs.size()];
    const size_t n = 25 + rng() % 31;
    std::string letters = rng() % 5 == 0 ? random_letters(rng, n) : ref.substr(rng() % (ref.size() - n), n);
    for (char &c : letters) {
      if (rng() % 30 == 0) c = "ACGT"[rng() % 4];
    }
    seq_record_t *forward = seq_record_new_from_letters(letters.c_str());
    seq_record_t *reverse = seq_record_new_from_letters(letters.c_str());
    seq_record_reverse_complement(reverse);
    if (r % 17 == 3) {
      seq_record_free(reverse);
      reverse = nullptr;
    }
    out.push_back(forward);
    out.push_back(reverse);
  }
  return out;
}

void free_queries(std::vector<seq_record_t *> &queries) {
  for (seq_record_t *q : queries) seq_record_free(q);
}

struct search_fixture_t {
  std::vector<std::string> refs;
  packed_block_t *packed = nullptr;
  seed_mask_t *plain = nullptr;
  seed_mask_t *colour = nullptr;
  ref_index_t *plain_index = nullptr;
  ref_index_t *colour_index = nullptr;

  explicit search_fixture_t(uint32_t seed) {
    std::mt19937 rng(seed);
    for (int k = 0; k < 4; k++) refs.push_back(random_letters(rng, 3000 + rng() % 2000));
    // A repeat, so that one seed hits several places.
    refs.push_back(refs[0].substr(100, 400) + refs[0].substr(100, 400));
    packed = new packed_block_t(refs);
    plain = seed_mask_parse("##-###-##-###");
    colour = seed_mask_parse("###--####");
    colour->colour = 1;
    plain_index = ref_index_build(packed->block, plain, 2, nullptr);
    colour_index = ref_index_build(packed->block, colour, 2, nullptr);
  }
  ~search_fixture_t() {
    ref_index_free(plain_index);
    ref_index_free(colour_index);
    seed_mask_free(plain);
    seed_mask_free(colour);
    delete packed;
  }
};

TEST(SeedSearch, ListedOffsetsEqualBruteForce) {
  search_fixture_t f(11);
  std::mt19937 rng(12);
  std::vector<seq_record_t *> queries = make_queries(rng, f.refs, 150);
  const uint32_t plain_list[] = {4, 0, 5, 9, 12};
  const uint32_t colour_list[] = {3, 1, 7, 14};
  const uint32_t *lists[] = {plain_list, colour_list};
  ref_index_t *indexes[] = {f.plain_index, f.colour_index};
  hit_hash_t *hash = hit_hash_new_with_lists(indexes, 2, lists);
  EXPECT_EQ(hash->colour, 1);
  hit_hash_pack_queries(hash, queries.data(), static_cast<int32_t>(queries.size()));
  std::vector<int32_t> ends;
  const std::vector<uint64_t> got = search_all(hash, &ends);
  std::vector<view_model_t> views = {
      {f.plain, positions_by_hash(f.packed->block, f.plain), {0, 5, 9, 12}},
      {f.colour, positions_by_hash(f.packed->block, f.colour), {1, 7, 14}}};
  const std::vector<uint64_t> expected = brute_force(queries, views, 0, kHitHashWindowHigh);
  EXPECT_GT(expected.size(), 300u);
  EXPECT_EQ(got, expected);
  // 300 queries with few hits: 256 in the first batch, the rest in the next.
  EXPECT_EQ(ends, (std::vector<int32_t>{256, 300}));
  hit_hash_free(hash);
  free_queries(queries);
}

TEST(SeedSearch, EveryOffsetEqualsBruteForce) {
  search_fixture_t f(21);
  std::mt19937 rng(22);
  std::vector<seq_record_t *> queries = make_queries(rng, f.refs, 100);
  // Short queries: shorter than both seeds, and just as long as the longer.
  seq_record_t *tiny = seq_record_new_from_letters("ACGTACGTA");
  seq_record_t *exact = seq_record_new_from_letters(f.refs[1].substr(40, 13).c_str());
  queries.push_back(tiny);
  queries.push_back(exact);
  ref_index_t *indexes[] = {f.plain_index, f.colour_index};
  hit_hash_t *hash = hit_hash_new_checked(indexes, 2, 1, nullptr);
  hit_hash_pack_queries(hash, queries.data(), static_cast<int32_t>(queries.size()));
  std::vector<int32_t> ends;
  const std::vector<uint64_t> got = search_all(hash, &ends);
  std::vector<view_model_t> views = {{f.plain, positions_by_hash(f.packed->block, f.plain), {}},
                                     {f.colour, positions_by_hash(f.packed->block, f.colour), {}}};
  const std::vector<uint64_t> expected = brute_force(queries, views, 0, kHitHashWindowHigh);
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(std::count_if(got.begin(), got.end(), [](uint64_t v) { return (v >> 32) == 201; }) > 0);
  EXPECT_TRUE(std::none_of(got.begin(), got.end(), [](uint64_t v) { return (v >> 32) == 200; }));
  EXPECT_EQ(ends, (std::vector<int32_t>{202}));
  hit_hash_free(hash);
  free_queries(queries);
}

// Multi hit with threshold 1 keeps every diagonal d and d + 1 of the
// sampled seeds; an unreachable threshold keeps none.
TEST(SeedSearch, MultiHitThresholds) {
  search_fixture_t f(31);
  std::mt19937 rng(32);
  std::vector<seq_record_t *> queries = make_queries(rng, f.refs, 40);
  auto widen = [](std::vector<uint64_t> v) {
    std::vector<uint64_t> out;
    for (uint64_t c : v) {
      out.push_back(c);
      out.push_back(c + 1);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
  };
  const uint32_t low_thresholds[] = {1, 1};
  const uint32_t high_thresholds[] = {100, 100};
  ref_index_t *one[] = {f.plain_index};
  hit_hash_t *hash = hit_hash_new_checked(one, 1, 3, low_thresholds);
  hit_hash_pack_queries(hash, queries.data(), static_cast<int32_t>(queries.size()));
  std::vector<int32_t> ends;
  const std::vector<uint64_t> got = search_all(hash, &ends);
  // Sampled offsets: every third, from (length - span) mod 3 for odd queries.
  std::vector<uint64_t> expected;
  const auto positions = positions_by_hash(f.packed->block, f.plain);
  for (size_t qi = 0; qi < queries.size(); qi++) {
    if (queries[qi] == nullptr) continue;
    const uint32_t n = queries[qi]->length, span = f.plain->length;
    std::vector<view_model_t> view = {{f.plain, positions, {}}};
    for (uint32_t o = (qi & 1) ? (n - span) % 3 : 0; o + span <= n; o += 3) view[0].offsets.push_back(o);
    std::vector<seq_record_t *> single(qi + 1, nullptr);
    single[qi] = queries[qi];
    for (uint64_t c : brute_force(single, view, 0, kHitHashWindowHigh)) expected.push_back(c);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, widen(expected));
  hit_hash_free(hash);

  ref_index_t *two[] = {f.plain_index, f.colour_index};
  hash = hit_hash_new_checked(two, 2, 1, high_thresholds);
  hit_hash_pack_queries(hash, queries.data(), static_cast<int32_t>(queries.size()));
  ends.clear();
  EXPECT_TRUE(search_all(hash, &ends).empty());
  hit_hash_free(hash);
  free_queries(queries);
}

// A filter that keeps even positions, and counts its calls.
int g_filter_calls = 0;
int32_t keep_even(candidate_filter_t *, candidate_t *list, int32_t count, const uint32_t *) {
  g_filter_calls++;
  int32_t kept = 0;
  for (int32_t k = 0; k < count; k++) {
    if ((list[k].position & 1) == 0) list[kept++] = list[k];
  }
  return kept;
}

// A query hitting a long run of one base fills table regions: inside a
// batch it is left out and opens the next one; as the first of a batch it
// is searched on window halves, sorted and not filtered.
TEST(SeedSearch, OverflowingQueriesShortenAndSplit) {
  std::mt19937 rng(41);
  std::vector<std::string> refs = {random_letters(rng, 2000), std::string(270000, 'A'), random_letters(rng, 2000)};
  packed_block_t packed(refs);
  seed_mask_t *mask = seed_mask_parse("##-###-##-###");
  ref_index_t *index = ref_index_build(packed.block, mask, 2, nullptr);
  std::vector<seq_record_t *> queries = {seq_record_new_from_letters(refs[0].substr(10, 40).c_str()),
                                         seq_record_new_from_letters(std::string(24, 'A').c_str()),
                                         seq_record_new_from_letters(refs[2].substr(99, 30).c_str())};
  ref_index_t *indexes[] = {index};
  hit_hash_t *hash = hit_hash_new_checked(indexes, 1, 1, nullptr);
  hit_hash_attach_filter(hash, reinterpret_cast<candidate_filter_t *>(hash), keep_even);
  hit_hash_pack_queries(hash, queries.data(), 3);
  std::vector<view_model_t> views = {{mask, positions_by_hash(packed.block, mask), {}}};
  auto expected_of = [&](size_t qi, int64_t low, int64_t high, bool even_only) {
    std::vector<seq_record_t *> single(qi + 1, nullptr);
    single[qi] = queries[qi];
    std::vector<uint64_t> out;
    for (uint64_t v : brute_force(single, views, low, high)) {
      if (!even_only || (v & 1) == 0) out.push_back(v);
    }
    return out;
  };
  auto batch_values = [&]() {
    std::vector<uint64_t> out(hash->count);
    if (!out.empty()) memcpy(out.data(), hash->candidates, 8 * out.size());
    return out;
  };

  g_filter_calls = 0;
  EXPECT_EQ(seed_search_batch(hash), 1);
  EXPECT_EQ(batch_values(), expected_of(0, 0, kHitHashWindowHigh, true));
  EXPECT_EQ(g_filter_calls, 1);
  EXPECT_EQ(seed_search_batch(hash), 2);
  const std::vector<uint64_t> split = batch_values();
  EXPECT_EQ(split, expected_of(1, kHitHashSplitLow, kHitHashSplitHigh, false));
  EXPECT_GT(split.size(), 260000u);
  EXPECT_TRUE(std::is_sorted(split.begin(), split.end()));
  EXPECT_EQ(g_filter_calls, 1);
  EXPECT_EQ(seed_search_batch(hash), 3);
  EXPECT_EQ(batch_values(), expected_of(2, 0, kHitHashWindowHigh, true));
  EXPECT_EQ(g_filter_calls, 2);

  // A pass whose first query overflows returns it unchanged with no
  // candidates; the split search of it leaves the current query there.
  hit_hash_pack_queries(hash, queries.data(), 3);
  EXPECT_EQ(seed_search_batch(hash), 1);
  EXPECT_EQ(seed_search_run(hash, 0, kHitHashWindowHigh, 3, 0), 1);
  EXPECT_EQ(hash->count, 0);
  const int32_t n = seed_search_split(hash, 0, kHitHashWindowHigh, 5, 0);
  EXPECT_EQ(n, 5 + static_cast<int32_t>(expected_of(1, 0, kHitHashWindowHigh, false).size()));
  EXPECT_EQ(hash->current, 1);
  EXPECT_EQ(seed_search_batch(hash), 2);
  hit_hash_free(hash);
  ref_index_free(index);
  seed_mask_free(mask);
  free_queries(queries);
}

// Diagonal 1000 of query number 0 and 1: first probes, the next probe of
// a taken slot, and the query numbers read back from the slots.
TEST(SeedSearch, ProbeSequenceOfTheTable) {
  EXPECT_EQ(hit_hash_mix(1000), 0x8B37AA8u);
  EXPECT_EQ(hit_hash_probe_step(1000), 0x8B37AA9u);
  EXPECT_EQ(hit_hash_first_slot(1000, 0), 0x37884u);
  EXPECT_EQ(hit_hash_first_slot(1000, 1), 0x37C84u);
  EXPECT_EQ(hit_hash_slot_query(1000, 0x37884), 0u);
  EXPECT_EQ(hit_hash_slot_query(1000, 0x37C84), 1u);

  hit_hash_t *hash = hit_hash_new(nullptr, 0, 4);
  hit_hash_state_t *s = hash->state;
  memset(s->table, 0xFF, 4 * kHitHashSlots);
  EXPECT_EQ(hit_hash_insert(s, 1000, 0), 1);
  EXPECT_EQ(s->table[0x37884], 1000u);
  EXPECT_EQ(hit_hash_insert(s, 1000, 0), 1);
  EXPECT_EQ(s->used, 1);
  s->table[0x37884] = 7;
  EXPECT_EQ(hit_hash_insert(s, 1000, 0), 1);
  EXPECT_EQ(s->table[0x37800 + 0x1DB], 1000u);
  EXPECT_EQ(hit_hash_slot_query(1000, 0x37800 + 0x1DB), 0u);
  EXPECT_EQ(hit_hash_insert(s, 1000, 1), 1);
  EXPECT_EQ(s->table[0x37C84], 1000u);

  // A full region overflows; other regions still take diagonals.
  for (uint32_t j = 0; j < 1024; j++) s->table[0x37800 + j] = 5;
  EXPECT_EQ(hit_hash_insert(s, 1000, 0), 0);
  EXPECT_EQ(hit_hash_insert(s, 1000, 2), 1);

  // Collection: each slot back to its query, the left-out one skipped.
  memset(s->table, 0xFF, 4 * kHitHashSlots);
  s->used = 0;
  ASSERT_EQ(hit_hash_insert(s, 1000, 0), 1);
  ASSERT_EQ(hit_hash_insert(s, 1000, 1), 1);
  ASSERT_EQ(hit_hash_insert(s, 77, 2), 1);
  std::vector<candidate_t> out(4);
  s->out = out.data();
  s->first_query = 10;
  s->left_out = 2;
  hit_hash_collect_batch(s);
  ASSERT_EQ(s->collected, 2);
  std::vector<std::pair<uint32_t, uint32_t>> got = {{out[0].query, out[0].position}, {out[1].query, out[1].position}};
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint32_t>>{{10, 1000}, {11, 1000}}));
  hit_hash_free(hash);
}

// The collection visits only the groups of slots an insert touched, yet
// gives the diagonals in slot order, as a scan of the whole table does, and
// leaves the table empty for the next batch: rounds of random inserts,
// each collected against a scan of the table taken before.
TEST(SeedSearch, CollectionOfTouchedGroupsEqualsAScanOfTheTable) {
  hit_hash_t *hash = hit_hash_new(nullptr, 0, 4);
  hit_hash_state_t *s = hash->state;
  memset(s->table, 0xFF, 4 * kHitHashSlots);
  std::mt19937 rng(41);
  for (int round = 0; round < 4; round++) {
    SCOPED_TRACE(round);
    s->used = 0;
    s->first_query = 100u * static_cast<uint32_t>(round);
    s->left_out = round % 2 == 0 ? -1 : 3;
    for (int i = 0; i < 300 + 2000 * round; i++) {
      const uint32_t d = rng() % 2000000;
      const uint32_t q = rng() % 200;
      hit_hash_insert(s, d, q);
    }
    std::vector<std::pair<uint32_t, uint32_t>> want;
    for (uint32_t k = 0; k < static_cast<uint32_t>(kHitHashSlots); k++) {
      const uint32_t d = s->table[k];
      if (d == kHitHashEmpty) continue;
      const uint32_t q = hit_hash_slot_query(d, k);
      if (static_cast<int32_t>(q) == s->left_out) continue;
      want.push_back({s->first_query + q, d});
    }
    std::vector<candidate_t> out(static_cast<size_t>(s->used) + 1);
    s->out = out.data();
    hit_hash_collect_batch(s);
    ASSERT_EQ(s->collected, static_cast<int32_t>(want.size()));
    std::vector<std::pair<uint32_t, uint32_t>> got;
    for (int32_t k = 0; k < s->collected; k++) got.push_back({out[static_cast<size_t>(k)].query, out[static_cast<size_t>(k)].position});
    EXPECT_EQ(got, want);
    EXPECT_EQ(std::count(s->table, s->table + kHitHashSlots, kHitHashEmpty), kHitHashSlots);
    EXPECT_EQ(std::count(s->touched, s->touched + kHitHashTouchedWords, uint64_t{0}), kHitHashTouchedWords);
  }
  hit_hash_free(hash);
}

TEST(SeedSearch, PackingLayoutNullAndUnknownBases) {
  hit_hash_t *hash = hit_hash_new(nullptr, 0, 4);
  seq_record_t *a = seq_record_new_from_letters("ACGTTG");
  seq_record_t *n = seq_record_new_from_letters("CANNA");
  std::vector<seq_record_t *> queries = {a, nullptr, n};
  hit_hash_pack_queries(hash, queries.data(), 3);
  const uint8_t *p = hash->packed;
  uint32_t length;
  memcpy(&length, p, 4);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(p[4], 0xE4);  // A C G T
  EXPECT_EQ(p[5], 0x0B);  // T G
  memcpy(&length, p + 6, 4);
  EXPECT_EQ(length, 0u);
  memcpy(&length, p + 10, 4);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(p[14] & 0x0F, 0x01);  // C A, then two random codes
  EXPECT_EQ(p[15], 0x00);         // A
  memcpy(&length, p + 16, 4);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(n->residues[2], 4);   // the read itself keeps its N
  EXPECT_EQ(hash->state->query, p + 4);
  EXPECT_EQ(hash->query_count, 3);
  EXPECT_EQ(hash->current, 0);
  hit_hash_free(hash);
  seq_record_free(a);
  seq_record_free(n);
}

TEST(SeedSearch, CheckedConstructorRefusals) {
  // The checks come before any index is read.
  const uint32_t thresholds[] = {2, 2};
  ref_index_t *three[] = {nullptr, nullptr, nullptr};
  EXPECT_EXIT(hit_hash_new_checked(three, 3, 1, thresholds), testing::ExitedWithCode(1),
              "^Multi hit hash only implemented for one or two word tables\n$");
  EXPECT_EXIT(hit_hash_new_checked(three, 1, 1, thresholds), testing::ExitedWithCode(1),
              "^Multi hit hash with single table only implemented for step size 3\n$");
  EXPECT_EXIT(hit_hash_new_checked(three, 2, 3, thresholds), testing::ExitedWithCode(1),
              "^Multi hit hash with two tables only implemented for step size 1\n$");
  EXPECT_EXIT(hit_hash_new_checked(three, 1, 2, nullptr), testing::ExitedWithCode(1),
              "^Single hit hash with steps only implemented for step size 1\n$");
}

TEST(SeedSearch, ComparisonsFollowTheSortOrder) {
  std::vector<candidate_t> list = {{5, 1}, {0x90000000u, 0}, {0, 0}, {7, 0x80000001u}, {6, 1}, {0xFFFFFFFFu, 0}};
  std::vector<candidate_t> by_sort = list, by_compare = list, by_u64 = list;
  sort_u64(reinterpret_cast<uint64_t *>(by_sort.data()), static_cast<uint32_t>(by_sort.size()));
  qsort(by_compare.data(), by_compare.size(), sizeof(candidate_t), candidate_compare);
  qsort(by_u64.data(), by_u64.size(), sizeof(candidate_t), candidate_compare_u64);
  for (size_t k = 0; k < list.size(); k++) {
    EXPECT_EQ(by_compare[k].position, by_sort[k].position) << k;
    EXPECT_EQ(by_compare[k].query, by_sort[k].query) << k;
    EXPECT_EQ(by_u64[k].position, by_sort[k].position) << k;
  }
  EXPECT_EQ(by_sort[0].position, 0u);
  EXPECT_EQ(by_sort[2].position, 0xFFFFFFFFu);
}

}  // namespace
