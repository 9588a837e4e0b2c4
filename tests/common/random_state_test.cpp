// RandomState against a plain model of the generator written from the
// description of the stream (tests/support/random_state_model.h): two
// multiply-with-carry generators, 64 passes of four words per refill, draws
// taken from the buffer front to back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "common/platform.h"
#include "common/random_state.h"
#include "random_state_model.h"

namespace {

using Model = ryx_test::RandomStateModel;

// 600 words cross the refill at word 256 and at word 512.
void expect_same_u32_stream(RandomState &r, Model &m, int count, const char *what) {
  for (int i = 0; i < count; i++) ASSERT_EQ(random_state_draw_u32(&r), m.bytes(4)) << what << " word " << i;
}

TEST(RandomState, DocumentedFirstWordsAfterInitState) {
  RandomState r(0u);
  r.init_state(1, 0, 2, 0);
  EXPECT_EQ(r.read_offset(), 1024u);
  const uint32_t expected[] = {3265436265u, 2235905234u, 1103515245u, 2207030490u};
  for (uint32_t e : expected) EXPECT_EQ(random_state_draw_u32(&r), e);
  Model m(1, 0, 2, 0);
  for (int i = 0; i < 4; i++) m.bytes(4);
  expect_same_u32_stream(r, m, 600, "init_state(1,0,2,0)");
}

// First four words of each constructor for a few seeds, worked out with
// plain integer arithmetic apart from both implementations.
struct KnownAnswer {
  bool wide;
  uint64_t seed;
  uint32_t words[4];
};

TEST(RandomState, ConstructorsGiveKnownFirstWords) {
  const KnownAnswer cases[] = {
      {false, 0, {2991572842u, 1564215497u, 1376784825u, 3087553530u}},
      {false, 1, {1318086314u, 2880172469u, 438364260u, 469516885u}},
      {false, 0xFFFFFFFFu, {4067646087u, 192703884u, 3685766349u, 3075953167u}},
      {true, 1, {1159448890u, 4118586902u, 2457967704u, 540575537u}},
      {true, 0x123456789ABCDEF0ull, {3837842044u, 1788126924u, 653769963u, 386359043u}},
      {true, ~0ull, {3135518406u, 4118586902u, 1836999591u, 540575537u}},
  };
  for (const KnownAnswer &c : cases) {
    RandomState r = c.wide ? RandomState(static_cast<unsigned long long>(c.seed))
                           : RandomState(static_cast<unsigned int>(c.seed));
    for (uint32_t w : c.words) EXPECT_EQ(random_state_draw_u32(&r), w) << c.wide << " " << c.seed;
  }
}

TEST(RandomState, SeededStreamsMatchTheModel) {
  for (uint32_t s : {0u, 1u, 2u, 12345u, 0x80000000u, 0xFFFFFFFFu}) {
    RandomState r(s);
    Model m = Model::from_u32(s);
    expect_same_u32_stream(r, m, 600, "32-bit seed");
    RandomState *heap = random_state_new_seeded(s);
    Model m2 = Model::from_u32(s);
    expect_same_u32_stream(*heap, m2, 300, "random_state_new_seeded");
    random_state_free(heap);
  }
  for (uint64_t s : {1ull, 7ull, 0x100000001ull, 0xDEADBEEFCAFEF00Dull, ~0ull}) {
    RandomState r(static_cast<unsigned long long>(s));
    Model m = Model::from_u64(s);
    expect_same_u32_stream(r, m, 600, "64-bit seed");
    // A uint64_t argument picks the 64-bit form on every system.
    RandomState r2(s);
    Model m2 = Model::from_u64(s);
    expect_same_u32_stream(r2, m2, 4, "uint64_t seed");
  }
}

TEST(RandomState, ReseedRestartsTheStreamWhateverCameBefore) {
  RandomState r(99u);
  for (uint64_t s : {5ull, 0x123456789ull, 5ull}) {
    // Leave the buffer part-used so that reseeding must discard it.
    for (int i = 0; i < 37; i++) r.draw_u8();
    r.reseed(s);
    EXPECT_EQ(r.read_offset(), 1024u);
    Model m = Model::from_u64(s);
    expect_same_u32_stream(r, m, 300, "reseed");
  }
  RandomState *state = random_state_new_seeded(3);
  random_state_draw_u64(state);
  random_state_reseed(state, 77);
  Model m = Model::from_u64(77);
  expect_same_u32_stream(*state, m, 10, "random_state_reseed");
  random_state_free(state);
}

TEST(RandomState, ReseedZeroGivesOnlyZeros) {
  RandomState r(1u);
  r.reseed(0);
  for (int i = 0; i < 300; i++) ASSERT_EQ(r.draw_u32(), 0u);
  EXPECT_EQ(r.draw_ranged(6), 0u);
  EXPECT_EQ(r.draw_ranged(1ull << 40), 0u);
  EXPECT_EQ(r.draw_double(), 0.0);
  EXPECT_EQ(random_state_draw_double(&r), 0.0);
  EXPECT_EQ(random_state_draw_float(&r), 0.0f);
}

TEST(RandomState, MixedWidthDrawsFollowTheBuffer) {
  RandomState r(2024u);
  Model m = Model::from_u32(2024);
  // A repeating pattern of widths that leaves odd remainders at the end of
  // each buffer, so the skipping rule is met at many offsets.
  const int widths[] = {1, 8, 2, 4, 1, 1, 8, 4, 2, 8, 8, 1};
  for (int i = 0; i < 3000; i++) {
    int w = widths[i % 12];
    uint64_t got = w == 1 ? random_state_draw_u8(&r)
                 : w == 2 ? random_state_draw_u16(&r)
                 : w == 4 ? random_state_draw_u32(&r)
                          : random_state_draw_u64(&r);
    ASSERT_EQ(got, m.bytes(w)) << "draw " << i << " width " << w;
    ASSERT_EQ(r.read_offset(), m.pos()) << "draw " << i;
  }
}

TEST(RandomState, EightByteDrawWithFourLeftSkipsThem) {
  RandomState r(11u);
  Model m = Model::from_u32(11);
  for (int i = 0; i < 255; i++) ASSERT_EQ(r.draw_u32(), m.bytes(4));
  ASSERT_EQ(r.read_offset(), 1020u);
  // The word that would have come from the last 4 bytes of the buffer.
  uint32_t skipped = 0;
  memcpy(&skipped, r.buffer() + 1020, 4);
  uint64_t got = r.draw_u64();
  EXPECT_EQ(r.read_offset(), 8u);
  EXPECT_EQ(got, m.bytes(8));
  EXPECT_NE(got & 0xFFFFFFFFu, skipped);
  // draw_double also refills above 1016, draw_ranged below 2^32 above 1020.
  RandomState d(11u);
  Model md = Model::from_u32(11);
  for (int i = 0; i < 255; i++) {
    d.draw_u32();
    md.bytes(4);
  }
  md.bytes(4);
  EXPECT_EQ(d.draw_double(), md.real52());
  RandomState g(11u);
  Model mg = Model::from_u32(11);
  for (int i = 0; i < 255; i++) {
    g.draw_u32();
    mg.bytes(4);
  }
  EXPECT_EQ(g.draw_ranged(1ull << 31), mg.bytes(4) & 0x7FFFFFFF);
  EXPECT_EQ(g.read_offset(), 1024u);
}

TEST(RandomState, RangedDrawsMatchTheModel) {
  const uint64_t ranges[] = {1, 2, 3, 6, 7, 8, 1000, 0x7FFFFFFF, 0x80000001, 0xFFFFFFFF,
                             1ull << 32, (1ull << 32) + 1, 3000000000000000000ull, ~0ull};
  for (uint64_t n : ranges) {
    RandomState r(static_cast<unsigned long long>(n ^ 0x5555));
    Model m = Model::from_u64(n ^ 0x5555);
    for (int i = 0; i < 1500; i++) {
      uint64_t got = r.draw_ranged(n);
      ASSERT_LT(got, n);
      ASSERT_EQ(got, m.ranged(n)) << "n " << n << " draw " << i;
      ASSERT_EQ(r.read_offset(), m.pos()) << "n " << n << " draw " << i;
    }
  }
}

TEST(RandomState, RangedEdgeCases) {
  // n = 1 gives 0 and still uses a whole 32-bit word.
  RandomState r(5u);
  Model m = Model::from_u32(5);
  EXPECT_EQ(r.draw_ranged(1), 0u);
  m.bytes(4);
  EXPECT_EQ(r.draw_u32(), m.bytes(4));

  // n = 6 masks with 7: 6 and 7 are rejected and cost a further word each.
  RandomState six(8u);
  Model ms = Model::from_u32(8);
  int rejected = 0;
  for (int i = 0; i < 2000; i++) {
    uint64_t v = six.draw_ranged(6);
    uint64_t w;
    do {
      w = ms.bytes(4) & 7;
      rejected += w >= 6;
    } while (w >= 6);
    ASSERT_EQ(v, w);
  }
  EXPECT_GT(rejected, 300);  // about a quarter of the words are 6 or 7
  EXPECT_EQ(six.read_offset(), ms.pos());

  // n = 2^32 uses 64-bit words: the offset moves by 8.
  RandomState big(9u);
  big.draw_ranged(1ull << 32);
  EXPECT_EQ(big.read_offset(), 8u);

  // The 32-bit wrapper agrees with the method.
  RandomState a(10u), b(10u);
  for (int i = 0; i < 100; i++) ASSERT_EQ(random_state_draw_ranged32(&a, 1000), b.draw_ranged(1000));
  EXPECT_EQ(random_state_draw_ranged(&a, 1ull << 40), b.draw_ranged(1ull << 40));

  // n = 0 has no value to give; it returns 0 at once instead of spinning.
  RandomState z(12u);
  EXPECT_EQ(z.draw_ranged(0), 0u);
  EXPECT_EQ(z.read_offset(), 1024u);
}

TEST(RandomState, DoubleAndFloatDraws) {
  RandomState r(31u);
  Model m = Model::from_u32(31);
  double lowest = 1.0, highest = 0.0;
  for (int i = 0; i < 3000; i++) {
    double d = r.draw_double();
    ASSERT_EQ(d, m.real52()) << i;
    double e = random_state_draw_double(&r);
    ASSERT_EQ(e, m.real53()) << i;
    float f = random_state_draw_float(&r);
    ASSERT_EQ(f, m.real24()) << i;
    for (double v : {d, e, double(f)}) {
      ASSERT_GE(v, 0.0);
      ASSERT_LT(v, 1.0);
      lowest = std::min(lowest, v);
      highest = std::max(highest, v);
    }
  }
  EXPECT_LT(lowest, 0.01);
  EXPECT_GT(highest, 0.99);
  // The two double draws read the same word differently: 52 bits as the
  // mantissa of [1, 2) minus 1, against the low 53 bits times 2^-53.
  RandomState x(44u), y(44u);
  uint64_t w;
  {
    RandomState peek(44u);
    w = peek.draw_u64();
  }
  double via_method = x.draw_double();
  double via_wrapper = random_state_draw_double(&y);
  EXPECT_EQ(via_method, double(w & ((1ull << 52) - 1)) * 0x1p-52);
  EXPECT_EQ(via_wrapper, double(w & ((1ull << 53) - 1)) * 0x1p-53);
}

TEST(RandomState, NormalDraws) {
  RandomState r(77u);
  Model m = Model::from_u32(77);
  double sum = 0, sum_sq = 0;
  const int n = 20000;
  for (int i = 0; i < n; i++) {
    double u1 = m.real53(), u2 = m.real53();
    double rad = std::sqrt(-2.0 * std::log(1.0 - u1));
    double theta = 6.283185307179586 * u2;
    double a, b;
    random_state_draw_normal_pair(&r, &a, &b);
    ASSERT_DOUBLE_EQ(a, rad * std::cos(theta)) << i;
    ASSERT_DOUBLE_EQ(b, rad * std::sin(theta)) << i;
    sum += a + b;
    sum_sq += a * a + b * b;
  }
  EXPECT_NEAR(sum / (2 * n), 0.0, 0.03);
  EXPECT_NEAR(sum_sq / (2 * n), 1.0, 0.05);

  // The single draw and the pair without a second output use both uniforms.
  RandomState s(78u);
  Model ms = Model::from_u32(78);
  for (int i = 0; i < 5; i++) {
    double u1 = ms.real53(), u2 = ms.real53();
    ASSERT_DOUBLE_EQ(random_state_draw_normal(&s),
                     std::sqrt(-2.0 * std::log(1.0 - u1)) * std::cos(6.283185307179586 * u2));
  }
  double only;
  random_state_draw_normal_pair(&s, &only, nullptr);
  double u1 = ms.real53(), u2 = ms.real53();
  EXPECT_DOUBLE_EQ(only, std::sqrt(-2.0 * std::log(1.0 - u1)) * std::cos(6.283185307179586 * u2));
  EXPECT_EQ(s.read_offset(), ms.pos());
}

TEST(RandomState, ShuffleOfTwoItemsMakesOneDraw) {
  for (uint32_t seed = 0; seed < 16; seed++) {
    RandomState r(seed);
    Model m = Model::from_u32(seed);
    int items[2] = {10, 20};
    random_state_shuffle(&r, items, 2, sizeof(int));
    uint64_t a = m.ranged(2);
    EXPECT_EQ(items[0], a == 1 ? 20 : 10) << seed;
    EXPECT_EQ(items[1], a == 1 ? 10 : 20) << seed;
    EXPECT_EQ(r.read_offset(), 4u);
    EXPECT_EQ(r.draw_u32(), m.bytes(4));
  }
}

TEST(RandomState, ShuffleFollowsFisherYatesFromTheFront) {
  // 100-byte items exercise the chunked exchange.
  const uint64_t n = 300;
  const size_t size = 100;
  std::vector<uint8_t> items(n * size);
  // Item i is filled with its low byte, its first byte holding the high one.
  for (uint64_t i = 0; i < n; i++) {
    memset(&items[i * size], int(i & 0xFF), size);
    items[i * size] = uint8_t(i >> 8);
  }
  std::vector<uint8_t> expected = items;
  Model m = Model::from_u32(4);
  for (uint64_t i = 0; i + 1 < n; i++) {
    uint64_t a = m.ranged(n - i);
    if (a) std::swap_ranges(&expected[i * size], &expected[(i + 1) * size], &expected[(i + a) * size]);
  }
  RandomState r(4u);
  random_state_shuffle(&r, items.data(), n, size);
  EXPECT_EQ(items, expected);
  EXPECT_EQ(r.read_offset(), m.pos());

  // Item size 0 makes the same draws and moves nothing; fewer than two
  // items draw nothing.
  RandomState z(4u);
  random_state_shuffle(&z, nullptr, n, 0);
  EXPECT_EQ(z.read_offset(), m.pos());
  RandomState one(4u);
  int single = 5;
  random_state_shuffle(&one, &single, 1, sizeof single);
  random_state_shuffle(&one, nullptr, 0, sizeof single);
  EXPECT_EQ(one.read_offset(), 1024u);
  EXPECT_EQ(single, 5);
}

TEST(RandomState, FreeAcceptsNull) {
  EXPECT_EQ(random_state_free(nullptr), nullptr);
  RandomState *r = random_state_new();
  r->draw_u8();
  EXPECT_EQ(random_state_free(r), nullptr);
}

// The seed source is process-wide: each case below runs in a freshly
// started child process (the "threadsafe" death-test style re-executes the
// test program), so it sees the source unused whatever ran before. The
// child's exit status carries the verdict (0: all checks held) and standard
// error the reason.

// The first word of a 32-bit-seeded generator (generator 0 after two
// steps), cheap enough to try every clock reading of a window.
uint32_t first_word(uint32_t s) {
  Model m = Model::from_u32(s);
  m.step(0);
  return m.step(0);
}

// Finds the 32-bit seed whose generator's first word is first among the
// low 32 bits of steady-clock readings between before and after.
bool find_seed(uint64_t before, uint64_t after, uint32_t first, uint32_t *seed) {
  for (uint64_t t = before; t <= after; t++) {
    if (first_word(uint32_t(t)) == first) {
      *seed = uint32_t(t);
      return true;
    }
  }
  return false;
}

[[noreturn]] void fail(const char *why) {
  fprintf(stderr, "%s\n", why);
  fflush(stderr);
  _exit(1);
}

void seed_source_follows_the_clock_and_the_stream() {
  uint64_t before = platform_steady_clock_ns();
  uint32_t first = get_seed_int();
  uint64_t after = platform_steady_clock_ns();
  uint32_t seed;
  if (!find_seed(before, after, first, &seed)) fail("no clock reading explains the first seed");
  Model m = Model::from_u32(seed);
  m.bytes(4);
  // 600 further values cross two refills of the seed generator.
  for (int i = 0; i < 600; i++)
    if (get_seed_int() != m.bytes(4)) fail("seed values leave the generator's stream");
  // The default constructor takes the next four values as its lanes.
  uint32_t l[4];
  for (uint32_t &v : l) v = uint32_t(m.bytes(4));
  Model lanes(l[0], l[1], l[2], l[3]);
  RandomState r;
  for (int i = 0; i < 300; i++)
    if (r.draw_u32() != lanes.bytes(4)) fail("default constructor lanes are not four seed values");
  RandomState *heap = random_state_new();
  uint32_t k[4];
  for (uint32_t &v : k) v = uint32_t(m.bytes(4));
  Model lanes2(k[0], k[1], k[2], k[3]);
  for (int i = 0; i < 10; i++)
    if (random_state_draw_u32(heap) != lanes2.bytes(4)) fail("random_state_new lanes are not four seed values");
  random_state_free(heap);
  _exit(0);
}

TEST(SeedSourceDeath, SeededFromTheSteadyClockAndFeedsDefaultConstructors) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(seed_source_follows_the_clock_and_the_stream(), testing::ExitedWithCode(0), "");
}

// A fixed seed puts the seed source on the stream of that seed, whatever it
// drew before, and generators seeded from it draw alike on every run.
TEST(SeedSource, FixedSeedRestartsTheStream) {
  Model m = Model::from_u32(20061);
  set_seed_int_source(20061);
  for (int i = 0; i < 300; i++) ASSERT_EQ(get_seed_int(), m.bytes(4)) << i;
  set_seed_int_source(20061);
  RandomState a;
  set_seed_int_source(20061);
  RandomState b;
  for (int i = 0; i < 50; i++) EXPECT_EQ(a.draw_u32(), b.draw_u32());
}

// Threads drawing at once each get distinct positions of the one stream:
// together they hold exactly the next values, each once.
void concurrent_seed_draws() {
  uint64_t before = platform_steady_clock_ns();
  uint32_t first = get_seed_int();
  uint64_t after = platform_steady_clock_ns();
  uint32_t seed;
  if (!find_seed(before, after, first, &seed)) fail("no clock reading explains the first seed");
  const int threads = 8, per_thread = 500;
  std::vector<std::vector<uint32_t>> got(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++) {
    pool.emplace_back([&got, t] {
      for (int i = 0; i < per_thread; i++) got[t].push_back(get_seed_int());
    });
  }
  for (std::thread &th : pool) th.join();
  std::vector<uint32_t> all;
  for (auto &g : got) all.insert(all.end(), g.begin(), g.end());
  Model m = Model::from_u32(seed);
  m.bytes(4);
  std::vector<uint32_t> expected;
  for (int i = 0; i < threads * per_thread; i++) expected.push_back(uint32_t(m.bytes(4)));
  std::sort(all.begin(), all.end());
  std::sort(expected.begin(), expected.end());
  if (all != expected) fail("concurrent draws are not the next values of the stream");
  _exit(0);
}

TEST(SeedSourceDeath, ConcurrentCallsShareOneStream) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(concurrent_seed_draws(), testing::ExitedWithCode(0), "");
}

// Concurrent first use: the threads race to create the source; it is
// created once, so together they hold the first values of one stream.
void concurrent_first_use() {
  const int threads = 8, per_thread = 4;
  std::vector<uint32_t> got(threads * per_thread);
  std::vector<std::thread> pool;
  uint64_t before = platform_steady_clock_ns();
  for (int t = 0; t < threads; t++) {
    pool.emplace_back([&got, t] {
      for (int i = 0; i < per_thread; i++) got[t * per_thread + i] = get_seed_int();
    });
  }
  for (std::thread &th : pool) th.join();
  uint64_t after = platform_steady_clock_ns();
  std::vector<uint32_t> sorted = got;
  std::sort(sorted.begin(), sorted.end());
  for (uint64_t t = before; t <= after; t++) {
    if (!std::binary_search(sorted.begin(), sorted.end(), first_word(uint32_t(t)))) continue;
    Model m = Model::from_u32(uint32_t(t));
    std::vector<uint32_t> expected;
    for (int i = 0; i < threads * per_thread; i++) expected.push_back(uint32_t(m.bytes(4)));
    std::sort(expected.begin(), expected.end());
    if (expected == sorted) _exit(0);
  }
  fail("the first values are not the start of one seeded stream");
}

TEST(SeedSourceDeath, ConcurrentFirstUseCreatesOneSource) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(concurrent_first_use(), testing::ExitedWithCode(0), "");
}

}  // namespace
