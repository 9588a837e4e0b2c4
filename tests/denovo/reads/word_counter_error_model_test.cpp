// Word counter error model: reference values, the n = 0 form, and the two
// load estimates inverting counts made from known loads.
#include "denovo/reads/word_counter_error_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

TEST(WordCounterErrorModel, ReferenceValues) {
  const struct {
    double a, lambda;
    double rejected[5];  // n = 0 to 4
  } cases[] = {{0.1, 1.0, {0.9593, 0.9869, 0.9965, 0.9980, 0.9983}},
               {0.2, 2.0, {0.6069, 0.6789, 0.7646, 0.8225, 0.8770}}};
  for (const auto &c : cases) {
    for (int n = 0; n < 5; n++) {
      EXPECT_NEAR(word_counter_error_model(n, c.a, c.lambda, nullptr), c.rejected[n], 0.00006)
          << "a " << c.a << " n " << n;
      if (n > 0) {
        EXPECT_EQ(word_counter_error_model_plain(n, c.a, c.lambda), word_counter_error_model(n, c.a, c.lambda, nullptr));
      }
    }
    EXPECT_EQ(word_counter_error_model_plain(0, c.a, c.lambda), 1.0);
    EXPECT_EQ(word_counter_error_model_plain(-1, c.a, c.lambda), 1.0);
  }
}

// With no refinement the word must pass both first-pass filters (each
// reaching 2 with chance m0) and the final table, whose loads double.
TEST(WordCounterErrorModel, NoRefinementForm) {
  for (double a : {0.0, 0.05, 0.3}) {
    for (double lambda : {0.2, 1.0, 3.0}) {
      const double c = 1 - std::exp(-(a + lambda));
      const double m0 = 1 - (lambda + 1) * std::exp(-lambda) * std::exp(-a);
      const double h = c * c;
      const double z = 1 - (2 * h * lambda + 1) * std::exp(-2 * h * lambda) * std::exp(-2 * a);
      double last = -1;
      EXPECT_NEAR(word_counter_error_model(0, a, lambda, &last), 1 - m0 * m0 * z, 1e-12);
      EXPECT_NEAR(last, m0, 1e-12);
    }
  }
}

// First-pass totals made from known loads: a counter reaches 2 unless it
// holds no repeated word and at most one single word, and reaches 3 unless
// it holds at most two single words.
TEST(WordCounterErrorModel, FirstPassEstimateRecoversLoads) {
  const int d = 20;
  const double counters = std::ldexp(1.0, d + 1);
  for (double a : {0.02, 0.1, 0.5}) {
    for (double lambda : {0.3, 1.0, 2.5}) {
      const double below2 = std::exp(-a) * std::exp(-lambda) * (1 + lambda);
      const double below3 = std::exp(-a) * std::exp(-lambda) * (1 + lambda + lambda * lambda / 2);
      const uint64_t s2 = static_cast<uint64_t>(std::llround((1 - below2) * counters));
      const uint64_t s3 = static_cast<uint64_t>(std::llround((1 - below3) * counters));
      double got_lambda = -1, got_a = -1;
      ASSERT_EQ(word_counter_estimate_loads(0, d, s2, s3, 0, 0, &got_lambda, &got_a), 1);
      EXPECT_NEAR(got_lambda, lambda, 2e-3 * lambda + 1e-3) << a << " " << lambda;
      EXPECT_NEAR(got_a, a, 2e-3);
    }
  }
}

TEST(WordCounterErrorModel, FirstPassEdgeCases) {
  double lambda = -1, a = -1;
  // Every counter reached 2: no estimate, and nothing divided by zero.
  EXPECT_EQ(word_counter_estimate_loads(0, 12, 1u << 13, 0, 0, 0, &lambda, &a), 0);
  // A tenth of the counters at 2 and none at 3 means more single words
  // than the counters at 2 can hold: the logarithm comes out positive and
  // the repeated load is clamped to 0.
  EXPECT_EQ(word_counter_estimate_loads(0, 12, 819, 0, 0, 0, &lambda, &a), 1);
  EXPECT_NEAR(lambda, 0.595, 0.001);
  EXPECT_EQ(a, 0.0);
  // Unknown kinds write nothing.
  lambda = a = 42;
  EXPECT_EQ(word_counter_estimate_loads(2, 12, 10, 5, 0, 0, &lambda, &a), 0);
  EXPECT_EQ(word_counter_estimate_loads(-1, 12, 10, 5, 0, 0, &lambda, &a), 0);
  EXPECT_EQ(lambda, 42.0);
  EXPECT_EQ(a, 42.0);
}

// Refinement totals made from known loads: the first pass's share of
// counters at 2 and the model's rate for the newest filter. The 20-step
// search lands on the single-word load within its last step.
TEST(WordCounterErrorModel, RefinementEstimateRecoversLoads) {
  const int d = 22;
  for (int r = 0; r < 4; r++) {
    for (double a : {0.05, 0.2}) {
      for (double lambda : {0.4, 1.3, 3.7}) {
        const double p = 1 - std::exp(-a) * std::exp(-lambda) * (1 + lambda);
        double m = 0;
        word_counter_error_model(r + 1, a, lambda, &m);
        const uint64_t t = static_cast<uint64_t>(std::llround(p * std::ldexp(1.0, d + 1)));
        const uint64_t s2 = static_cast<uint64_t>(std::llround(m * std::ldexp(1.0, d)));
        double got_lambda = -1, got_a = -1;
        ASSERT_EQ(word_counter_estimate_loads(1, d, s2, 0, t, r, &got_lambda, &got_a), 1);
        EXPECT_NEAR(got_lambda, lambda, 1e-3) << "r " << r << " a " << a << " lambda " << lambda;
        EXPECT_NEAR(got_a, a, 2e-3) << "r " << r << " a " << a << " lambda " << lambda;
      }
    }
  }
}

// The cascade run on ideal random hashes: singles words seen once and
// repeated words (load a) seen often enough to saturate every counter they
// touch. The per-word rejection chance matches the share of single words
// left at 0; the entry-level product puts the false counts far too low.
double simulated_false_count_rate(int refinements, double a, double lambda, int d, uint32_t seed) {
  std::mt19937_64 rng(seed);
  const uint64_t entries = 1ull << d;
  const size_t singles = static_cast<size_t>(lambda * entries);
  const size_t repeated = static_cast<size_t>(a * entries);
  auto draw = [&](uint64_t n) {
    std::vector<uint64_t> slots(singles + repeated);
    for (auto &x : slots) x = rng() % n;
    return slots;
  };
  // A table's entries that reached 2 from the words that reach it.
  auto reached = [&](const std::vector<uint64_t> &slots, const std::vector<char> &reaches, uint64_t n) {
    std::vector<int> counts(n, 0);
    for (size_t w = 0; w < slots.size(); w++)
      if (reaches[w]) counts[slots[w]] += w < singles ? 1 : 2;
    std::vector<char> filter(n);
    for (uint64_t i = 0; i < n; i++) filter[i] = counts[i] >= 2;
    return filter;
  };
  std::vector<char> all(singles + repeated, 1);
  std::vector<uint64_t> slots_a = draw(entries), slots_b = draw(entries);
  std::vector<char> filter_a = reached(slots_a, all, entries), filter_b = reached(slots_b, all, entries);
  auto passing = [&] {
    std::vector<char> p(singles + repeated);
    for (size_t w = 0; w < p.size(); w++) p[w] = filter_a[slots_a[w]] && filter_b[slots_b[w]];
    return p;
  };
  for (int r = 0; r < refinements; r++) {
    std::vector<uint64_t> slots_c = draw(entries);
    std::vector<char> filter_c = reached(slots_c, passing(), entries);
    if (r % 2 == 0) {
      slots_a = slots_c;
      filter_a = filter_c;
    } else {
      slots_b = slots_c;
      filter_b = filter_c;
    }
  }
  const std::vector<char> pass = passing();
  const std::vector<uint64_t> slots_final = draw(entries / 2);
  const std::vector<char> final_reached = reached(slots_final, pass, entries / 2);
  size_t counted = 0;
  for (size_t w = 0; w < singles; w++) counted += pass[w] && final_reached[slots_final[w]];
  return static_cast<double>(counted) / singles;
}

TEST(WordCounterErrorModel, SingleWordRejectionMatchesASimulatedCascade) {
  const struct {
    int n;
    double a, lambda;
  } cases[] = {{0, 0.0, 0.5}, {1, 0.1, 1.0}, {2, 0.0, 2.0}, {4, 0.2, 1.5}, {4, 0.05, 3.0}};
  uint32_t seed = 1;
  for (const auto &c : cases) {
    const double simulated = simulated_false_count_rate(c.n, c.a, c.lambda, 15, seed++);
    const double predicted = 1 - word_counter_single_word_rejection(c.n, c.a, c.lambda);
    EXPECT_NEAR(predicted, simulated, 0.1 * simulated + 0.003) << "n " << c.n << " a " << c.a << " lambda " << c.lambda;
    EXPECT_LT(1 - word_counter_error_model(c.n, c.a, c.lambda, nullptr), predicted);
  }
}

}  // namespace
