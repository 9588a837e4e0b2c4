// Fragment builder: the fragment FASTA against a hand-written file, the
// writer's marking, dropping and numbering, the seed scan over reads, and
// whole runs on simulated genomes (linear, circular, with planted repeats,
// with read errors), the same output for any number of threads, file
// selection, and the fatal paths (no fragment, failed writes).
#include "denovo/reads/fragment_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/progress_meter.h"
#include "denovo/reads/read_store.h"
#include "denovo/reads/word_counter_lookup.h"
#include "denovo/reads/word_counter_pass.h"
#include "seqio/seq_db.h"
#include "seqio/seq_record.h"
#include "tests/denovo/reads/fragment_model.h"
#include "tests/support/test_support.h"

namespace {

using namespace fragment_test;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr int kWord = 21;

struct Fragment {
  std::string name;
  Codes codes;
};

// Every record of a fragment database, residues turned back into codes.
std::vector<Fragment> fragments_of(seq_db_t *db) {
  std::vector<Fragment> out;
  for (int64_t i = 0; i < db->sequence_count; i++) {
    seq_record_t *r = db->get(db, i);
    Fragment f{r->name != nullptr ? r->name : "", {}};
    for (uint32_t j = 0; j < r->length; j++) f.codes.push_back(static_cast<uint8_t>((r->residues[j] - 63) & 3));
    seq_record_release(r);
    out.push_back(std::move(f));
  }
  return out;
}

seq_record_t *named_record(const Codes &codes, const char *name) {
  seq_record_t *r = fragment_record_from_codes(codes.data(), static_cast<int32_t>(codes.size()));
  if (name != nullptr) {
    r->name = static_cast<char *>(malloc(12));
    snprintf(r->name, 12, "%s", name);
  }
  return r;
}

std::string file_bytes(FILE *f) {
  fflush(f);
  std::string bytes(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  if (!bytes.empty() && fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
  return bytes;
}

// Reads of both strands starting every step symbols, the last one flush
// with the end; a circular genome is read across its origin too.
std::vector<Codes> tiled_reads(const Codes &genome, size_t length, size_t step, bool circular) {
  std::vector<Codes> reads;
  const Codes source = circular ? concat({genome, slice(genome, 0, length - 1)}) : genome;
  const size_t last = circular ? genome.size() - 1 : genome.size() - length;
  for (size_t start = 0;; start += step) {
    if (start > last) start = last;
    const Codes r = slice(source, start, length);
    reads.push_back(r);
    reads.push_back(reverse_complement(r));
    if (start == last) break;
  }
  return reads;
}

// A store holding each list of reads as one read file.
read_store_t *store_of(const std::vector<std::vector<Codes>> &files, int32_t capacity = kReadStoreBlockCapacity) {
  read_store_t *store = read_store_new_empty(capacity);
  for (const auto &reads : files) {
    for (const Codes &r : reads) {
      seq_record_t *record = fragment_record_from_codes(r.data(), static_cast<int32_t>(r.size()));
      read_store_on_read(record, store);
      seq_record_free(record);
    }
    read_store_flush_block(store);
    store->file_index++;
  }
  read_store_finish(store);
  return store;
}

// Clears every used mark, so that the same counts serve another run.
void clear_used(word_counter_t *counter) {
  const counter_table_t &used = counter->tables->used_table;
  memset(used.data, 0, static_cast<size_t>((used.index_mask + 1 + 7) / 8));
}

bool is_substring(const Codes &haystack, const Codes &needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// Start of every occurrence of needle in haystack.
std::vector<size_t> occurrences(const Codes &haystack, const Codes &needle) {
  std::vector<size_t> at;
  for (auto it = haystack.begin();; ++it) {
    it = std::search(it, haystack.end(), needle.begin(), needle.end());
    if (it == haystack.end()) return at;
    at.push_back(static_cast<size_t>(it - haystack.begin()));
  }
}

std::string canonical_letters(const Codes &c, size_t p, int k) { return canonical_key(c.data() + p, k); }

// A random genome in which no word of k occurs twice (either strand) and
// no hairpin stops an extension.
Codes unique_genome(uint64_t seed, size_t length, int k) {
  for (uint64_t s = seed;; s++) {
    std::mt19937_64 rng(s);
    const Codes g = random_codes(rng, length);
    std::set<std::string> words;
    bool unique = !has_hairpin(g, k);
    for (size_t p = 0; unique && p + k <= g.size(); p++) unique = words.insert(canonical_letters(g, p, k)).second;
    if (unique) return g;
  }
}

TEST(FragmentFasta, GoldenFileAndRoundTrip) {
  // Two fragments: 65 residues over two lines, and a short one numbered
  // 0x1a.
  Codes first;
  for (int i = 0; i < 65; i++) first.push_back(static_cast<uint8_t>(i % 4));
  const Codes second = codes_of("TTA");
  FILE *out = tmpfile();
  seq_record_t *r1 = named_record(first, "EE_ffffffff");
  fragment_builder_write_fragment(out, r1, 0);
  seq_record_free(r1);
  seq_record_t *r2 = named_record(second, "CB_00000000");
  fragment_builder_write_fragment(out, r2, 0x1a);
  EXPECT_EQ(Codes(r2->residues, r2->residues + 3), (Codes{'B', 'B', '?'}));
  seq_record_free(r2);
  const std::string golden = ryx_test::read_file(std::string(RYX_TEST_DATA_DIR) +
                                                 "/denovo/reads/two_fragments_wrapped.fa");
  EXPECT_EQ(file_bytes(out), golden);
  fclose(out);

  seq_db_t *db = seq_db_open(RYX_TEST_DATA_DIR "/denovo/reads/two_fragments_wrapped.fa", 0, kSeqFormatFasta, 1, 0);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->sequence_count, 2);
  EXPECT_EQ(db->get_length(db, 0), 65u);
  EXPECT_EQ(db->get_length(db, 1), 3u);
  const std::vector<Fragment> back = fragments_of(db);
  EXPECT_EQ(back[0].name, "EE_00000000");
  EXPECT_EQ(back[0].codes, first);
  EXPECT_EQ(back[1].name, "CB_0000001a");
  EXPECT_EQ(back[1].codes, second);
  seq_db_free(db);
}

TEST(FragmentWriter, MarksDropsAndNumbers) {
  std::mt19937_64 rng(5);
  const Codes g = random_codes(rng, 80);
  const Codes h = random_codes(rng, 80);
  ModelSearch m(12);
  m.model.add(g, 4);
  m.model.add(h, 4);
  // The first record is written and marks all its counted words.
  EXPECT_EQ(fragment_builder_take_record(m.ctx, m.handle, named_record(g, "EE_00000000")), 1);
  EXPECT_EQ(m.model.used.size(), 80u - 12 + 1);
  // The same fragment from another seed, in either direction: dropped.
  EXPECT_EQ(fragment_builder_take_record(m.ctx, m.handle, named_record(reverse_complement(g), "EE_00000000")), 0);
  // An unnamed record marks its words without being written.
  EXPECT_EQ(fragment_builder_take_record(m.ctx, m.handle, named_record(slice(h, 0, 12), nullptr)), 0);
  EXPECT_EQ(m.model.used.size(), 80u - 12 + 2);
  // A fragment that holds one new word is written with the next number,
  // even when its first words are used.
  EXPECT_EQ(fragment_builder_take_record(m.ctx, m.handle, named_record(h, "BC_00000000")), 1);
  EXPECT_EQ(m.model.used.size(), 2 * (80u - 12 + 1));
  // Words without a count are never marked, and a record of such words
  // alone is not written.
  const Codes loose = random_codes(rng, 30);
  EXPECT_EQ(fragment_builder_take_record(m.ctx, m.handle, named_record(loose, "EE_00000000")), 0);
  EXPECT_EQ(m.model.used.size(), 2 * (80u - 12 + 1));
  EXPECT_EQ(m.ctx->fragment_count, 2u);
  EXPECT_EQ(m.ctx->has_result, 1);

  std::string expected = ">EE_00000000\n";
  for (size_t i = 0; i < g.size(); i++) {
    expected += static_cast<char>(63 + g[i]);
    if (i + 1 == 60 || i + 1 == g.size()) expected += '\n';
  }
  expected += ">BC_00000001\n";
  for (size_t i = 0; i < h.size(); i++) {
    expected += static_cast<char>(63 + h[i]);
    if (i + 1 == 60 || i + 1 == h.size()) expected += '\n';
  }
  EXPECT_EQ(file_bytes(m.output), expected);
}

struct Collected {
  std::vector<std::pair<std::string, Codes>> records;
};

void collect(seq_record_t *record, void *user) {
  static_cast<Collected *>(user)->records.push_back(
      {record->name != nullptr ? record->name : "", Codes(record->residues, record->residues + record->length)});
  seq_record_free(record);
}

TEST(FragmentScan, SeedsAlongTheReads) {
  const int k = 12;
  std::mt19937_64 rng(61);
  Codes g = random_codes(rng, 120);
  while (has_hairpin(g, k)) g = random_codes(rng, 120);
  const Codes n_read(40, 4);
  struct Case {
    const char *what;
    Codes reads;
    std::vector<Codes> expected;  // fragments in order, all named
  };
  const Codes sep{kReadStoreSeparator};
  const Codes g_with_n = [&] {
    Codes c = g;
    c[60] = 4;
    return c;
  }();
  const Case cases[] = {
      {"read of only N", concat({sep, n_read, sep}), {}},
      // Once the fragment is built, the rest of the read lies inside it.
      {"whole read", concat({sep, g, sep}), {g}},
      {"read on the other strand", concat({sep, reverse_complement(g), sep}), {reverse_complement(g)}},
      // The N ends the stretch passed over; the next clean window seeds
      // again (the writer would drop the copy).
      {"read with an N", concat({sep, g_with_n, sep}), {g, g}},
      {"read shorter than a word", concat({sep, slice(g, 0, k - 1), sep}), {}},
  };
  for (const Case &c : cases) {
    ModelSearch m(k);
    m.model.add(g, 5);
    Collected got;
    fragment_builder_scan(m.ctx, m.search, c.reads.data(), static_cast<int64_t>(c.reads.size()), collect, &got);
    // The first word of the fragment is not a seed (it has no
    // predecessor); the scan gives an unnamed record for it first.
    std::vector<Codes> named;
    for (const auto &[name, codes] : got.records) {
      if (!name.empty()) {
        EXPECT_EQ(name, "EE_00000000") << c.what;
        named.push_back(codes);
      }
    }
    EXPECT_EQ(named, c.expected) << c.what;
  }
  {
    SCOPED_TRACE("used words are not seeds");
    ModelSearch m(k);
    m.model.add(g, 5);
    for (size_t p = 0; p + k <= g.size(); p++) m.model.used.insert(model_used_slot(nullptr, g.data() + p));
    Collected got;
    const Codes reads = concat({sep, g, sep});
    fragment_builder_scan(m.ctx, m.search, reads.data(), static_cast<int64_t>(reads.size()), collect, &got);
    EXPECT_TRUE(got.records.empty());
  }
}

// Builds the counter and runs the builder on the reads.
struct BuilderRun {
  read_store_t *store = nullptr;
  word_counter_t *counter = nullptr;
  seq_db_t *db = nullptr;
  std::vector<Fragment> fragments;

  BuilderRun(const std::vector<std::vector<Codes>> &files, int threads, const int32_t *use_flags = nullptr,
      int32_t capacity = kReadStoreBlockCapacity) {
    store = store_of(files, capacity);
    counter = word_counter_build(store, nullptr, kWord, nullptr);
    build(threads, use_flags, nullptr);
  }
  void build(int threads, const int32_t *use_flags, const char *path) {
    db = seq_db_free(db);
    clear_used(counter);
    db = fragment_builder_run_threads(store, use_flags, path, counter, nullptr, threads);
    fragments = fragments_of(db);
  }
  ~BuilderRun() {
    seq_db_free(db);
    word_counter_free(counter);
    read_store_free(store);
  }
  BuilderRun(const BuilderRun &) = delete;
  BuilderRun &operator=(const BuilderRun &) = delete;
};

TEST(FragmentBuilderThread, LinearGenomeIsOneFragment) {
  const Codes genome = unique_genome(71, 4000, kWord);
  BuilderRun run({tiled_reads(genome, 100, 10, false)}, 3);
  ASSERT_EQ(run.fragments.size(), 1u);
  EXPECT_EQ(run.fragments[0].name, "EE_00000000");
  EXPECT_TRUE(run.fragments[0].codes == genome || run.fragments[0].codes == reverse_complement(genome));
}

TEST(FragmentBuilderThread, CircularGenomeIsOneClosedFragment) {
  const Codes genome = unique_genome(81, 4000, kWord);
  BuilderRun run({tiled_reads(genome, 100, 10, true)}, 2);
  ASSERT_EQ(run.fragments.size(), 1u);
  const Fragment &f = run.fragments[0];
  EXPECT_EQ(f.name.substr(0, 2), "DF");
  ASSERT_EQ(f.codes.size(), genome.size() + kWord - 1);
  // The whole circle from some place on, then its first k - 1 symbols again.
  const Codes circle = slice(f.codes, 0, genome.size());
  EXPECT_TRUE(is_substring(concat({genome, genome}), circle) ||
              is_substring(concat({reverse_complement(genome), reverse_complement(genome)}), circle));
  EXPECT_EQ(slice(f.codes, genome.size(), kWord - 1), slice(f.codes, 0, kWord - 1));
}

TEST(FragmentBuilderThread, PlantedRepeatsSplitTheFragments) {
  // u0 R u1 rc(R) u2 R u3, R longer than two words.
  const size_t flank = 600;
  const Codes all = unique_genome(91, 4 * flank + 60, kWord);
  Codes repeat = slice(all, 4 * flank, 60);
  Codes u[4];
  for (int i = 0; i < 4; i++) u[i] = slice(all, i * flank, flank);
  // Read along R, the letters before its copies are u0's last, the
  // complement of u2's first and u2's last; the letters after them u1's
  // first, the complement of u1's last and u3's first. Each set holds three
  // different letters, so the copies end exactly at R's ends.
  u[0].back() = 0;
  u[2].front() = 2;
  u[2].back() = 2;
  u[1].front() = 0;
  u[1].back() = 2;
  u[3].front() = 2;
  repeat.front() = 3;
  repeat.back() = 3;
  const Codes genome = concat({u[0], repeat, u[1], reverse_complement(repeat), u[2], repeat, u[3]});
  std::vector<size_t> copy_starts;
  for (int i = 0; i < 3; i++) copy_starts.push_back(flank * (i + 1) + repeat.size() * i);
  BuilderRun run({tiled_reads(genome, 100, 7, false)}, 3);

  // Every word of the genome lies in exactly one fragment.
  std::map<std::string, int> holders;
  for (const Fragment &f : run.fragments) {
    std::set<std::string> words;
    for (size_t p = 0; p + kWord <= f.codes.size(); p++) words.insert(canonical_letters(f.codes, p, kWord));
    for (const std::string &w : words) holders[w]++;
  }
  for (size_t p = 0; p + kWord <= genome.size(); p++)
    EXPECT_EQ(holders[canonical_letters(genome, p, kWord)], 1) << "genome word at " << p;

  // The repeat is one fragment ending in branches; every other fragment
  // lies once in the genome, with a C end exactly where it runs k - 1
  // symbols into a copy and an E end at the genome's ends.
  const Codes rc_genome = reverse_complement(genome);
  int repeat_fragments = 0;
  for (const Fragment &f : run.fragments) {
    if (f.codes == repeat || f.codes == reverse_complement(repeat)) {
      repeat_fragments++;
      EXPECT_EQ(f.name.substr(0, 2), "BB");
      continue;
    }
    const std::vector<size_t> forward = occurrences(genome, f.codes);
    const std::vector<size_t> backward = occurrences(rc_genome, f.codes);
    ASSERT_EQ(forward.size() + backward.size(), 1u) << f.name;
    const bool is_forward = forward.size() == 1;
    const size_t start = is_forward ? forward[0] : genome.size() - backward[0] - f.codes.size();
    const size_t end = start + f.codes.size();
    const char left = is_forward ? f.name[0] : f.name[1];
    const char right = is_forward ? f.name[1] : f.name[0];
    bool right_border = false, left_border = false;
    for (size_t c : copy_starts) {
      right_border = right_border || end == c + kWord - 1;
      left_border = left_border || start + kWord - 1 == c + repeat.size();
    }
    EXPECT_EQ(left, start == 0 ? 'E' : left_border ? 'C' : '?') << f.name << " at " << start;
    EXPECT_EQ(right, end == genome.size() ? 'E' : right_border ? 'C' : '?') << f.name << " at " << start;
  }
  EXPECT_EQ(repeat_fragments, 1);
  EXPECT_EQ(run.fragments.size(), 5u);
}

TEST(FragmentBuilderThread, ReadErrorsLeaveLongFragmentsExact) {
  std::mt19937_64 rng(101);
  const Codes genome = random_codes(rng, kSanitized ? 6000 : 20000);
  BuilderRun run({sampled_reads(rng, genome, genome.size() * 30 / 100, 100, 0.01)}, 4);
  const Codes rc_genome = reverse_complement(genome);
  size_t long_total = 0;
  for (const Fragment &f : run.fragments) {
    if (f.codes.size() < 2 * kWord) continue;
    EXPECT_TRUE(is_substring(genome, f.codes) || is_substring(rc_genome, f.codes)) << f.name;
    long_total += f.codes.size();
  }
  // The long fragments cover most of the genome.
  EXPECT_GT(long_total, genome.size() * 9 / 10);
  for (size_t i = 0; i < run.fragments.size(); i++) {
    char digits[16];
    snprintf(digits, sizeof digits, "%8.8x", static_cast<unsigned>(i));
    EXPECT_EQ(run.fragments[i].name.substr(2), std::string("_") + digits);
  }
}

TEST(FragmentBuilderThread, SameBytesForAnyNumberOfThreads) {
  // Reads of eight small genomes, shuffled together, so that many
  // fragments come from many places in the store.
  std::mt19937_64 rng(111);
  std::vector<Codes> reads;
  for (int i = 0; i < 8; i++) {
    const Codes genome = random_codes(rng, kSanitized ? 400 : 800);
    for (Codes &r : sampled_reads(rng, genome, genome.size() * 25 / 100, 100, 0.01)) reads.push_back(std::move(r));
  }
  std::shuffle(reads.begin(), reads.end(), rng);
  // Small blocks, so that the workers finish them out of order.
  BuilderRun run({reads}, 1, nullptr, 2048);
  ryx_test::ScratchDir dir;
  std::vector<std::string> outputs;
  for (int threads : {1, 1, 4, 3}) {
    const std::string path = dir.file("fragments_" + std::to_string(outputs.size()) + ".fa");
    run.build(threads, nullptr, path.c_str());
    outputs.push_back(ryx_test::read_file(path));
  }
  EXPECT_GE(run.fragments.size(), 8u);
  for (size_t i = 1; i < outputs.size(); i++) EXPECT_EQ(outputs[i], outputs[0]) << "run " << i;
}

// The plain single pass the threads must reproduce: every block in store
// order, every record decided (and written when new) before the next seed
// is tried.
// Without batches the builder asks the counter one word at a time.
std::string single_pass_fasta(read_store_t *store, word_counter_t *counter, bool batches = true) {
  FILE *out = tmpfile();
  fragment_builder_ctx_t *ctx = fragment_builder_ctx_new(store, nullptr, counter, out, nullptr);
  if (!batches) {
    ctx->next_counts = nullptr;
    ctx->get_counts = nullptr;
    ctx->used_slots = nullptr;
  }
  fragment_search_t *search = fragment_search_new(counter, kWord + kFragmentSearchExtraDepth, kFragmentSearchWidth);
  struct Take {
    fragment_builder_ctx_t *ctx;
    word_counter_t *counter;
  } take{ctx, counter};
  read_store_rewind(store);
  while (seq_record_t *block = read_store_next_block(store, nullptr)) {
    fragment_builder_scan(ctx, search, block->residues, block->length,
                          [](seq_record_t *record, void *user) {
                            auto *t = static_cast<Take *>(user);
                            fragment_builder_take_record(t->ctx, t->counter, record);
                          },
                          &take);
    seq_record_release(block);
  }
  fragment_search_free(search);
  fragment_builder_ctx_free(ctx);
  fflush(out);
  std::string bytes;
  rewind(out);
  for (int c = fgetc(out); c != EOF; c = fgetc(out)) bytes += static_cast<char>(c);
  fclose(out);
  return bytes;
}

// Reads of several genomes with errors, shuffled together, in small store
// blocks (many blocks, finished out of order) and in large ones (which the
// reader cuts into pieces): every thread count writes what the single pass
// writes, byte for byte.
TEST(FragmentBuilderThread, ThreadsGiveTheSinglePassResult) {
  std::mt19937_64 rng(161);
  std::vector<Codes> reads;
  for (int i = 0; i < 6; i++) {
    const Codes genome = random_codes(rng, kSanitized ? 1500 : 6000);
    for (Codes &r : sampled_reads(rng, genome, genome.size() * 40 / 100, 100, 0.01)) reads.push_back(std::move(r));
  }
  std::shuffle(reads.begin(), reads.end(), rng);
  for (int32_t capacity : {4096, kReadStoreBlockCapacity}) {
    SCOPED_TRACE(capacity);
    BuilderRun run({reads}, 1, nullptr, capacity);
    clear_used(run.counter);
    const std::string expected = single_pass_fasta(run.store, run.counter);
    ASSERT_FALSE(expected.empty());
    ryx_test::ScratchDir dir;
    for (int threads : {1, 8, 3, 8}) {
      SCOPED_TRACE(threads);
      const std::string path = dir.file("fragments.fa");
      run.build(threads, nullptr, path.c_str());
      EXPECT_TRUE(ryx_test::read_file(path) == expected);
    }
  }
}

// The batched look-ups of the counter (the beam search's next words, a
// record's words, a scan's chunk of windows) change no decision: the
// single pass writes the same bytes through them as word by word, and so
// do the threads.
TEST(FragmentBuilderThread, BatchedLookUpsGiveTheWordByWordResult) {
  std::mt19937_64 rng(167);
  std::vector<Codes> reads;
  for (int i = 0; i < 3; i++) {
    const Codes genome = random_codes(rng, kSanitized ? 1500 : 5000);
    for (Codes &r : sampled_reads(rng, genome, genome.size() * 40 / 100, 100, 0.02)) reads.push_back(std::move(r));
  }
  std::shuffle(reads.begin(), reads.end(), rng);
  BuilderRun run({reads}, 1, nullptr, 4096);
  clear_used(run.counter);
  const std::string word_by_word = single_pass_fasta(run.store, run.counter, false);
  ASSERT_FALSE(word_by_word.empty());
  clear_used(run.counter);
  EXPECT_TRUE(single_pass_fasta(run.store, run.counter, true) == word_by_word);
  ryx_test::ScratchDir dir;
  const std::string path = dir.file("fragments.fa");
  run.build(4, nullptr, path.c_str());
  EXPECT_TRUE(ryx_test::read_file(path) == word_by_word);
}

TEST(FragmentBuilderThread, FilesWithoutUseFlagAreLeftOut) {
  const Codes a = unique_genome(121, 1200, kWord);
  const Codes b = unique_genome(131, 1200, kWord);
  const int32_t flags[2] = {0, 1};
  BuilderRun run({tiled_reads(a, 100, 10, false), tiled_reads(b, 100, 10, false)}, 2, flags);
  // One fragment of b; a counted word that lies next to a genome end by
  // chance can cost the fragment its last base there.
  ASSERT_EQ(run.fragments.size(), 1u);
  const Codes &f = run.fragments[0].codes;
  EXPECT_EQ(run.fragments[0].name, "EE_00000000");
  EXPECT_TRUE(is_substring(b, f) || is_substring(reverse_complement(b), f));
  EXPECT_GE(f.size(), b.size() - 2);
}

TEST(FragmentBuilderThread, ProgressReachesTheEnd) {
  const Codes genome = unique_genome(141, 1500, kWord);
  read_store_t *store = store_of({tiled_reads(genome, 100, 10, false)}, 1024);
  word_counter_t *counter = word_counter_build(store, nullptr, kWord, nullptr);
  progress_meter_t *meter = progress_meter_new();
  FILE *sink = tmpfile();
  meter->output = sink;
  seq_db_t *db = fragment_builder_run_threads(store, nullptr, nullptr, counter, meter, 2);
  EXPECT_DOUBLE_EQ(progress_meter_get_fraction(meter), 1.0);
  EXPECT_EQ(db->sequence_count, 1);
  seq_db_free(db);
  progress_meter_free(meter);
  fclose(sink);
  word_counter_free(counter);
  read_store_free(store);
}

TEST(FragmentBuilderDeath, NoSolidWordMeansNoResult) {
  std::mt19937_64 rng(151);
  std::vector<Codes> reads;
  for (int i = 0; i < 50; i++) reads.push_back(random_codes(rng, 80));
  read_store_t *store = store_of({reads});
  word_counter_t *counter = word_counter_build(store, nullptr, kWord, nullptr);
  EXPECT_EXIT(fragment_builder_run_threads(store, nullptr, nullptr, counter, nullptr, 2), testing::ExitedWithCode(1),
              "^\nNo result found\n$");
  word_counter_free(counter);
  read_store_free(store);
}

TEST(FragmentBuilderDeath, FailedWritesEndTheRun) {
  const Codes genome = unique_genome(161, 1500, kWord);
  read_store_t *store = store_of({tiled_reads(genome, 100, 10, false)});
  word_counter_t *counter = word_counter_build(store, nullptr, kWord, nullptr);
  // A full disk: the bytes wait in the stream's buffer and fail on flush.
  EXPECT_EXIT(fragment_builder_run_threads(store, nullptr, "/dev/full", counter, nullptr, 2),
              testing::ExitedWithCode(1), "^\nError writing fragment file: No space left on device\n$");
  ryx_test::ScratchDir dir;
  const std::string missing = dir.file("no/such/dir.fa");
  EXPECT_EXIT(fragment_builder_run_threads(store, nullptr, missing.c_str(), counter, nullptr, 1),
              testing::ExitedWithCode(1), "^\nCould not open fragment file .*no/such/dir.fa: No such file");
  // A stream that takes no writes at all fails on the record itself.
  const std::string existing = dir.file("read_only.fa");
  ryx_test::write_file(existing, "");
  EXPECT_EXIT(
      {
        FILE *f = fopen(existing.c_str(), "rb");
        fragment_builder_write_fragment(f, named_record(genome, "EE_00000000"), 0);
      },
      testing::ExitedWithCode(1), "^\nError writing fragment file: .+\n$");
  word_counter_free(counter);
  read_store_free(store);
}

}  // namespace
