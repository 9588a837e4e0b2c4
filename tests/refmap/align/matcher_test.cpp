// Matcher: near-merge and pre-score survivors, rates and the colour switch,
// the kept hits of ungapped, gapped and two-scorer matchers against plain
// models over several lookup batches, the score limit, the end-diagonal
// rule of gapped candidates, each alignment yielded once, mark and reset,
// clipping at piece ends, null queries and the filter's attachment.
#include "refmap/align/matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "refmap/align/gapped_scorer.h"
#include "refmap/align/hit_iterator.h"
#include "refmap/align/ungapped_scorer.h"
#include "refmap/hit_hash.h"
#include "refmap/ref_block.h"
#include "seqio/alignment_code.h"
#include "tests/refmap/align/gapped_model.h"
#include "tests/refmap/align/ungapped_model.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRounds = 6;
#else
constexpr int kRounds = 40;
#endif

// --- A scripted seed search ---

// The lookup batches the fake search hands out, one per call.
struct script_t {
  std::vector<std::vector<candidate_t>> batches;
  std::vector<int32_t> ends;
  int calls = 0;
  int packed = 0;
  int32_t packed_count = -1;
  int attached = 0;
  candidate_filter_t *filter = nullptr;
};
script_t *g_script = nullptr;

void fake_pack(hit_hash_t *, seq_record_t *const *, int32_t count) {
  g_script->packed++;
  g_script->packed_count = count;
}

int32_t fake_search(hit_hash_t *hash) {
  script_t *s = g_script;
  EXPECT_LT(s->calls, static_cast<int>(s->batches.size()));
  std::vector<candidate_t> &batch = s->batches[s->calls];
  hash->candidates = batch.data();
  hash->count = static_cast<int32_t>(batch.size());
  return s->ends[s->calls++];
}

void fake_attach(hit_hash_t *hash, candidate_filter_t *filter, hit_hash_filter_fn apply) {
  g_script->attached++;
  g_script->filter = filter;
  hash->filter = filter;
  hash->filter_apply = apply;
}

// The piece of start (or the next one after a spacer), as the block
// descriptor lays them out.
void model_clamp(const ref_block_t *block, int64_t *start, int64_t *end) {
  const ref_block_desc_t *desc = block->desc;
  int32_t k = 0;
  while (k + 1 < desc->piece_count && *start >= static_cast<int64_t>(desc->starts[k]) + desc->lengths[k]) k++;
  const int64_t piece_start = desc->starts[k];
  const int64_t piece_end = piece_start + desc->lengths[k];
  *start = std::max(*start, piece_start);
  *end = std::min(*end, piece_end);
}

const matcher_services_t kServices = {fake_pack, fake_search, fake_attach, model_clamp};

// A block of codes (4 = unknown) with one piece per run of known codes
// between spacers given by the caller.
struct rig_t {
  gapped_model::Block block;
  std::vector<int32_t> starts, sequences, offsets, lengths;
  ref_block_desc_t desc{};
  ref_block_t ref{};
  hit_hash_t hash{};
  script_t script;
  std::vector<seq_record_t *> queries;
  std::vector<std::vector<uint8_t>> codes;

  rig_t(std::vector<uint8_t> block_codes, std::vector<std::pair<int32_t, int32_t>> pieces) {
    block.codes = std::move(block_codes);
    block.pack();
    for (size_t k = 0; k < pieces.size(); k++) {
      starts.push_back(pieces[k].first);
      lengths.push_back(pieces[k].second);
      sequences.push_back(static_cast<int32_t>(k));
      offsets.push_back(0);
    }
    desc.piece_count = static_cast<int32_t>(pieces.size());
    desc.length = static_cast<int64_t>(block.codes.size());
    desc.starts = starts.data();
    desc.sequences = sequences.data();
    desc.offsets = offsets.data();
    desc.lengths = lengths.data();
    ref.length = desc.length;
    ref.bases = block.bases.data();
    ref.known = block.known.data();
    ref.desc = &desc;
    g_script = &script;
  }
  ~rig_t() {
    for (seq_record_t *q : queries) seq_record_free(q);
    g_script = nullptr;
  }
  void add_query(const std::vector<uint8_t> &c, bool present = true) {
    codes.push_back(c);
    queries.push_back(present ? gapped_model::make_record(c) : nullptr);
  }
  // One lookup batch per entry of ends (the first query each batch does not
  // cover), holding the given candidates of its queries, sorted.
  void script_batches(const std::vector<candidate_t> &all, const std::vector<int32_t> &ends) {
    script.ends = ends;
    int32_t first = 0;
    for (int32_t end : ends) {
      std::vector<candidate_t> batch;
      for (const candidate_t &c : all) {
        if (static_cast<int32_t>(c.query) >= first && static_cast<int32_t>(c.query) < end) batch.push_back(c);
      }
      std::sort(batch.begin(), batch.end(), [](const candidate_t &a, const candidate_t &b) {
        return a.query != b.query ? a.query < b.query : a.position < b.position;
      });
      script.batches.push_back(batch);
      first = end;
    }
  }
  matcher_t *matcher(int limit, int ungapped, int gapped, int mode, int c = -1, double fraction = 0.5,
                     double similarity = 0.8, int filter = -1) {
    return matcher_new(&hash, &ref, 2, 3, 3, static_cast<int16_t>(c), fraction, similarity, limit, ungapped, gapped,
                       mode, filter, queries.data(), static_cast<int32_t>(queries.size()), &kServices);
  }
};

std::vector<uint8_t> block_slice(const gapped_model::Block &b, int64_t from, int n) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; i++) out.push_back(static_cast<uint8_t>(b.code_at(from + i) & 3));
  return out;
}

ungapped_model::packed_t as_packed(const gapped_model::Block &b) {
  std::vector<int> codes;
  for (uint8_t v : b.codes) codes.push_back(v < 4 ? v : ungapped_model::kUnknown);
  return ungapped_model::packed_t(codes);
}

// The plain near-merge: runs measured from their first candidate.
std::vector<candidate_t> model_merge(const std::vector<candidate_t> &list, std::vector<int> *run_firsts) {
  std::vector<candidate_t> out;
  size_t i = 0;
  while (i < list.size()) {
    size_t j = i;
    while (j + 1 < list.size() && list[j + 1].query == list[i].query &&
           static_cast<uint64_t>(list[j + 1].position) <= static_cast<uint64_t>(list[i].position) + 8) {
      j++;
    }
    out.push_back({static_cast<uint32_t>((static_cast<uint64_t>(list[i].position) + list[j].position) / 2),
                   list[i].query});
    if (run_firsts != nullptr) run_firsts->push_back(static_cast<int>(i));
    i = j + 1;
  }
  return out;
}

// --- Helpers without state ---

TEST(Matcher, NearMergeRuns) {
  struct case_t {
    std::vector<candidate_t> in;
    std::vector<candidate_t> out;
  } cases[] = {
      {{{100, 0}, {108, 0}}, {{104, 0}}},
      {{{100, 0}, {109, 0}}, {{100, 0}, {109, 0}}},
      {{{100, 0}, {105, 0}, {109, 0}}, {{102, 0}, {109, 0}}},
      {{{100, 0}, {104, 1}}, {{100, 0}, {104, 1}}},          // other query: no merge
      {{{100, 0}, {101, 0}, {102, 0}, {108, 0}, {116, 0}}, {{104, 0}, {116, 0}}},
      // Diagonals just before the block, stored near 2^32: no wrap.
      {{{0xFFFFFFF0u, 2}, {0xFFFFFFF3u, 2}}, {{0xFFFFFFF1u, 2}}},
      {{{0xFFFFFFFCu, 2}, {0xFFFFFFFFu, 2}}, {{0xFFFFFFFDu, 2}}},
      {{}, {}},
  };
  for (const case_t &c : cases) {
    std::vector<candidate_t> out(c.in.size());
    std::vector<uint16_t> pre(c.in.size()), out_pre(c.in.size());
    for (size_t k = 0; k < pre.size(); k++) pre[k] = static_cast<uint16_t>(10 + k);
    const int32_t n = matcher_near_merge(c.in.data(), static_cast<int32_t>(c.in.size()), out.data(), pre.data(),
                                         out_pre.data());
    ASSERT_EQ(n, static_cast<int32_t>(c.out.size()));
    std::vector<int> firsts;
    model_merge(c.in, &firsts);
    for (int32_t k = 0; k < n; k++) {
      EXPECT_EQ(out[k].position, c.out[k].position);
      EXPECT_EQ(out[k].query, c.out[k].query);
      EXPECT_EQ(out_pre[k], pre[firsts[k]]);
    }
    // In place, as the two-scorer path merges.
    std::vector<candidate_t> same = c.in;
    EXPECT_EQ(matcher_near_merge(same.data(), static_cast<int32_t>(same.size()), same.data(), nullptr, nullptr), n);
    for (int32_t k = 0; k < n; k++) EXPECT_EQ(same[k].position, c.out[k].position);
  }
}

TEST(Matcher, BestPrescoreSurvivors) {
  std::vector<candidate_t> list = {{5, 0}, {9, 0}, {20, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {8, 2}};
  std::vector<uint16_t> pre = {10, 12, 12, 0, 0, 7, 3, 7};
  const int32_t n = matcher_keep_best_prescores(list.data(), pre.data(), static_cast<int32_t>(list.size()));
  ASSERT_EQ(n, 6);
  const uint32_t positions[] = {9, 20, 1, 2, 3, 8};
  const uint16_t kept_pre[] = {12, 12, 0, 0, 7, 7};
  for (int k = 0; k < n; k++) {
    EXPECT_EQ(list[k].position, positions[k]);
    EXPECT_EQ(pre[k], kept_pre[k]);
  }
}

TEST(Matcher, RatesColourSwitchAndMaskBits) {
  double upper = 0, lower = 0;
  matcher_score_rates(2, 3, 3, 0.8, 0.5, &upper, &lower);
  EXPECT_NEAR(upper, 0.4, 1e-12);
  EXPECT_NEAR(lower, 0.1, 1e-12);
  EXPECT_EQ(matcher_effective_colour_cost(3, 2), -1);
  EXPECT_EQ(matcher_effective_colour_cost(3, -1), 3);
  EXPECT_EQ(matcher_effective_colour_cost(2, 2), 2);
  EXPECT_EQ(matcher_effective_colour_cost(-1, 0), -1);
  for (uint32_t v : {0u, 1u, 0x8000u, 0xFFFFu, 0x1FFFFu, 0xA5A5u, 0x12340u}) {
    EXPECT_EQ(matcher_mask_bits(v), __builtin_popcount(v & 0xFFFFu)) << v;
  }
}

// --- Kept hits against the models ---

struct random_rig_t {
  std::unique_ptr<rig_t> rig;
  std::vector<candidate_t> candidates;
  std::vector<int32_t> ends;
};

// A random block with one piece, queries copied from it with errors (some
// null), candidates at the true diagonal, near it and at random, in three
// lookup batches.
random_rig_t random_rig(std::mt19937 &rng, int query_count) {
  random_rig_t rr;
  const int size = 1500;
  gapped_model::Block b = gapped_model::random_block(rng, size, 0.01);
  for (int p = 0; p < 64; p++) b.codes[p] = b.codes[size - 1 - p] = 4;
  rr.rig = std::make_unique<rig_t>(b.codes, std::vector<std::pair<int32_t, int32_t>>{{64, size - 128}});
  rig_t &rig = *rr.rig;
  for (int q = 0; q < query_count; q++) {
    const int n = 24 + static_cast<int>(rng() % 37);
    const int64_t origin = 64 + static_cast<int64_t>(rng() % (size - 200));
    rig.add_query(gapped_model::random_query(rig.block, rng, n, origin, false), rng() % 8 != 0);
    const int near = static_cast<int>(rng() % 6);
    for (int k = 0; k < near; k++) {
      rr.candidates.push_back({static_cast<uint32_t>(origin + static_cast<int>(rng() % 25) - 12),
                               static_cast<uint32_t>(q)});
    }
    for (int k = rng() % 3; k > 0; k--) {
      rr.candidates.push_back({static_cast<uint32_t>(64 + rng() % (size - 200)), static_cast<uint32_t>(q)});
    }
  }
  // Distinct candidates, as the seed search gives them.
  std::sort(rr.candidates.begin(), rr.candidates.end(), [](const candidate_t &a, const candidate_t &b) {
    return a.query != b.query ? a.query < b.query : a.position < b.position;
  });
  rr.candidates.erase(std::unique(rr.candidates.begin(), rr.candidates.end(),
                                  [](const candidate_t &a, const candidate_t &b) {
                                    return a.query == b.query && a.position == b.position;
                                  }),
                      rr.candidates.end());
  rr.ends = {query_count / 3, 2 * query_count / 3 + 1, query_count};
  rig.script_batches(rr.candidates, rr.ends);
  return rr;
}

struct expected_query_t {
  int best = 0;
  int prescore = 0;
  bool had = false;
  std::vector<candidate_t> kept;
};

// The kept candidates of one query by the definitions: the candidates of
// the best final score, dropped by the keep rule.
expected_query_t expect_query(const rig_t &rig, const std::vector<candidate_t> &candidates, int32_t q, int ungapped,
                              int gapped, int mode, double lower) {
  expected_query_t e;
  std::vector<candidate_t> mine;
  for (const candidate_t &c : candidates) {
    if (static_cast<int32_t>(c.query) == q) mine.push_back(c);
  }
  e.had = !mine.empty();
  const seq_record_t *record = rig.queries[q];
  const ungapped_model::packed_t packed = as_packed(rig.block);
  std::vector<int> prescores;
  if (ungapped) {
    for (const candidate_t &c : mine) prescores.push_back(ungapped_model::model_score(packed, c, record, mode, 2, -1));
  }
  std::vector<int> scores;
  std::vector<int> pre_of;
  if (gapped && ungapped) {
    const int top = prescores.empty() ? 0 : *std::max_element(prescores.begin(), prescores.end());
    std::vector<candidate_t> survivors;
    std::vector<int> survivor_pre;
    for (size_t k = 0; k < mine.size(); k++) {
      if (prescores[k] == top) {
        survivors.push_back(mine[k]);
        survivor_pre.push_back(prescores[k]);
      }
    }
    std::vector<int> firsts;
    mine = model_merge(survivors, &firsts);
    for (int f : firsts) pre_of.push_back(survivor_pre[f]);
  } else if (gapped) {
    mine = model_merge(mine, nullptr);
  }
  gapped_model::Rules rules;
  rules.mode = mode;
  for (size_t k = 0; k < mine.size(); k++) {
    if (gapped) {
      scores.push_back(gapped_model::score(rig.block, rig.codes[q], q & 1, mine[k].position, rules).score);
    } else {
      scores.push_back(prescores[k]);
    }
  }
  for (size_t k = 0; k < mine.size(); k++) {
    if (scores[k] > e.best) {
      e.best = scores[k];
      e.kept.clear();
      if (!pre_of.empty()) e.prescore = pre_of[k];
    } else if (scores[k] < e.best) {
      continue;
    }
    e.kept.push_back(mine[k]);
  }
  if (!pre_of.empty() && e.kept.empty() && !mine.empty()) e.prescore = pre_of[0];
  if (record == nullptr || static_cast<double>(e.best) / record->length < lower) {
    e.best = 0;
    e.kept.clear();
  }
  if (!(gapped && ungapped)) e.prescore = e.best;
  return e;
}

TEST(Matcher, UngappedAndTwoScorerKeptHitsFollowTheModels) {
  std::mt19937 rng(4242);
  int walked = 0;
  for (int round = 0; round < kRounds; round++) {
    random_rig_t rr = random_rig(rng, 14);
    rig_t &rig = *rr.rig;
    const int mode = round % 3 == 2 ? 3 : round % 3;
    const int both = round % 2;
    matcher_t *m = rig.matcher(-1, 1, both, mode);
    EXPECT_EQ(rig.script.packed, 1);
    EXPECT_EQ(rig.script.packed_count, 14);
    for (int32_t q = 0; q < 14; q++) {
      hit_iterator_t *it = matcher_next_query(m);
      const expected_query_t e = expect_query(rig, rr.candidates, q, 1, both, mode, m->state->lower_rate);
      ASSERT_EQ(hit_iterator_score(it), e.best) << "round " << round << " query " << q;
      ASSERT_EQ(hit_iterator_prescore(it), e.prescore) << "round " << round << " query " << q;
      EXPECT_EQ(hit_iterator_had_candidates(it), e.had ? 1 : 0);
      if (both) continue;  // gapped hits are walked in the gapped tests
      for (const candidate_t &c : e.kept) {
        ASSERT_EQ(hit_iterator_next(it), 1);
        const int32_t n = static_cast<int32_t>(rig.queries[q]->length);
        const int32_t p = static_cast<int32_t>(c.position);
        EXPECT_EQ(hit_iterator_min_start(it), p);
        EXPECT_EQ(hit_iterator_max_end(it), p + n);
        EXPECT_EQ(hit_iterator_min_pos(it), p - 8);
        EXPECT_EQ(hit_iterator_max_pos(it), p + n + 7);
        // The code rescored against the block gives the best score.
        const ungapped_model::rescored_t r =
            ungapped_model::rescore(hit_iterator_code_data(it), hit_iterator_code_length(it),
                                    hit_iterator_aligned_start(it), as_packed(rig.block), rig.queries[q], q & 1, 2, -1);
        EXPECT_EQ(r.score, e.best);
        EXPECT_EQ(r.read_bases, n);
        walked++;
      }
      EXPECT_EQ(hit_iterator_next(it), 0);
    }
    EXPECT_EQ(rig.script.calls, 3);
    matcher_free(m);
  }
  EXPECT_GT(walked, 0);  // the cases reach hits, not only empty queries
}

// Gapped hits: every yielded alignment rescored to the best score on a
// band diagonal of its candidate, and no alignment yielded twice.
TEST(Matcher, GappedHitsRescoreToTheBestAndAppearOnce) {
  std::mt19937 rng(777);
  int walked = 0;
  for (int round = 0; round < kRounds; round++) {
    random_rig_t rr = random_rig(rng, 12);
    rig_t &rig = *rr.rig;
    const int mode = round % 2;  // local and semi-global: no clipping to pieces needed
    // A high similarity makes the fraction test decide some hits.
    matcher_t *m = rig.matcher(-1, round % 3 == 0, 1, mode, -1, 0.5, round % 4 == 1 ? 0.97 : 0.8);
    for (int32_t q = 0; q < 12; q++) {
      hit_iterator_t *it = matcher_next_query(m);
      std::set<std::pair<int32_t, std::vector<uint8_t>>> seen;
      gapped_model::Rules rules;
      rules.mode = mode;
      while (hit_iterator_next(it)) {
        const int32_t start = hit_iterator_aligned_start(it);
        const uint8_t *bytes = hit_iterator_code_data(it);
        const std::vector<uint8_t> code(bytes, bytes + hit_iterator_code_length(it));
        EXPECT_TRUE(seen.insert({start, code}).second) << "round " << round << " query " << q << " at " << start;
        const gapped_model::Rescored r = gapped_model::rescore(rig.block, rig.codes[q], q & 1, 0, rules, code.data(),
                                                               static_cast<int32_t>(code.size()), start);
        EXPECT_EQ(r.score, hit_iterator_score(it));
        EXPECT_EQ(r.read_bases, static_cast<int>(rig.codes[q].size()));
        EXPECT_LE(hit_iterator_min_start(it), hit_iterator_max_start(it));
        EXPECT_EQ(hit_iterator_read_start(it),
                  start - static_cast<int32_t>(alignment_code_leading_insertions(
                              static_cast<int32_t>(code.size()), code.data())));
        walked++;
      }
    }
    matcher_free(m);
  }
  EXPECT_GT(walked, 0);  // the cases reach hits, not only empty queries
}

// --- Worked cases ---

std::vector<uint8_t> random_codes(std::mt19937 &rng, int n) {
  std::vector<uint8_t> codes(n);
  for (uint8_t &v : codes) v = static_cast<uint8_t>(rng() & 3);
  return codes;
}

// A perfect 30-base copy at A: a kept candidate at A - 6 reaches it on band
// diagonal 13; the next kept candidate at A + 3 reaches it on diagonal 4,
// which the first already covered (13 - 9), so it gives no second hit.
TEST(Matcher, GappedCandidateLosesDiagonalsThePreviousOneCovered) {
  std::mt19937 rng(8);
  const int64_t a = 300;
  rig_t rig(random_codes(rng, 800), {{0, 800}});
  rig.add_query(block_slice(rig.block, a, 30));
  rig.script_batches({{static_cast<uint32_t>(a - 6), 0}, {static_cast<uint32_t>(a + 3), 0}}, {1});
  gapped_model::Rules rules;
  EXPECT_EQ(gapped_model::score(rig.block, rig.codes[0], false, a - 6, rules).mask, 1u << 13);
  EXPECT_EQ(gapped_model::score(rig.block, rig.codes[0], false, a + 3, rules).mask, 1u << 4);
  matcher_t *m = rig.matcher(-1, 0, 1, 0);
  hit_iterator_t *it = matcher_next_query(m);
  EXPECT_EQ(hit_iterator_score(it), 30);
  ASSERT_EQ(hit_iterator_next(it), 1);
  EXPECT_EQ(hit_iterator_aligned_start(it), a);
  EXPECT_EQ(hit_iterator_min_start(it), a - 6 - 8);
  EXPECT_EQ(hit_iterator_max_end(it), a - 6 + 30 + 7);
  EXPECT_EQ(hit_iterator_next(it), 0);
  matcher_free(m);
}

// 30 query bases whose first 21 or 22 lie on the block, the rest facing
// unknown positions, with L = 0.75 and s = 0.99 (lower rate 0.72, upper
// 0.97). With limit 8, 30 - 21 = 9 drops the query and 22 is accepted by
// its score alone. Without a limit 21 / 30 is below the lower rate, and
// 22 / 30 is kept but fails the fraction test (22 similar of 30 < 0.75).
TEST(Matcher, ScoreLimitDropsOrAcceptsAll) {
  struct case_t {
    int matching, limit, score, yields;
  } cases[] = {{21, 8, 0, 0}, {22, 8, 22, 1}, {21, -1, 0, 0}, {22, -1, 22, 0}};
  for (const case_t &c : cases) {
    std::mt19937 rng(static_cast<unsigned>(c.matching));
    std::vector<uint8_t> codes = random_codes(rng, 400);
    for (int p = 100 + c.matching; p < 200; p++) codes[p] = 4;
    rig_t rig(codes, {{0, 400}});
    std::vector<uint8_t> query = block_slice(rig.block, 100, c.matching);
    while (query.size() < 30) query.push_back(static_cast<uint8_t>(rng() & 3));
    rig.add_query(query);
    rig.script_batches({{100, 0}}, {1});
    matcher_t *m = rig.matcher(c.limit, 0, 1, 0, -1, 0.75, 0.99);
    hit_iterator_t *it = matcher_next_query(m);
    EXPECT_EQ(hit_iterator_score(it), c.score) << "matching " << c.matching << " limit " << c.limit;
    EXPECT_EQ(hit_iterator_next(it), c.yields) << "matching " << c.matching << " limit " << c.limit;
    matcher_free(m);
  }
}

TEST(Matcher, MarkAndResetYieldTheSameHitAgain) {
  std::mt19937 rng(12);
  for (int gapped = 0; gapped < 2; gapped++) {
    // A repeat: the query lies at 100, 160 and 220, so one candidate may
    // carry several end diagonals and several candidates are kept.
    std::vector<uint8_t> codes = random_codes(rng, 600);
    for (int r = 1; r < 3; r++) std::copy(codes.begin() + 100, codes.begin() + 140, codes.begin() + 100 + 60 * r);
    rig_t rig(codes, {{0, 600}});
    rig.add_query(block_slice(rig.block, 100, 40));
    rig.script_batches({{100, 0}, {160, 0}, {220, 0}}, {1});
    matcher_t *m = rig.matcher(-1, 1 - gapped, gapped, 0);
    hit_iterator_t *it = matcher_next_query(m);
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> walked;
    auto current = [&]() {
      const uint8_t *b = hit_iterator_code_data(it);
      return std::make_pair(hit_iterator_aligned_start(it), std::vector<uint8_t>(b, b + hit_iterator_code_length(it)));
    };
    ASSERT_EQ(hit_iterator_next(it), 1);
    walked.push_back(current());
    ASSERT_EQ(hit_iterator_next(it), 1);
    hit_iterator_mark(it);
    walked.push_back(current());
    hit_iterator_reset_to_mark(it);  // right after the mark
    ASSERT_EQ(hit_iterator_next(it), 1);
    EXPECT_EQ(current(), walked[1]);
    while (hit_iterator_next(it)) walked.push_back(current());
    EXPECT_EQ(walked.size(), 3u);
    hit_iterator_reset_to_mark(it);
    for (size_t k = 1; k < walked.size(); k++) {
      ASSERT_EQ(hit_iterator_next(it), 1);
      EXPECT_EQ(current(), walked[k]) << "gapped " << gapped << " hit " << k;
    }
    EXPECT_EQ(hit_iterator_next(it), 0);
    matcher_free(m);
  }
}

// Global mode: a query laid three positions before its piece's start (or
// running three past its end) is clipped to the piece; the outside columns
// become insertions.
TEST(Matcher, AlignmentsAreClippedToTheirPiece) {
  std::mt19937 rng(21);
  std::vector<uint8_t> codes = random_codes(rng, 500);
  for (int p = 150; p < 250; p++) codes[p] = 4;  // spacer between pieces [0,150) and [250,500)
  for (int gapped = 0; gapped < 2; gapped++) {
    rig_t rig(codes, {{0, 150}, {250, 250}});
    std::vector<uint8_t> head = {1, 2, 3};
    std::vector<uint8_t> body = block_slice(rig.block, 250, 27);
    head.insert(head.end(), body.begin(), body.end());
    rig.add_query(head);                                // starts at 247, piece at 250
    std::vector<uint8_t> tail = block_slice(rig.block, 123, 27);
    tail.insert(tail.end(), {0, 1, 2});
    rig.add_query(tail);                                // ends at 153, piece ends at 150
    rig.script_batches({{247, 0}, {123, 1}}, {2});
    matcher_t *m = rig.matcher(-1, 1 - gapped, gapped, 3);
    struct expect_t {
      int32_t aligned_start, read_start, aligned_end, read_end;
      std::vector<uint8_t> code;
    } expected[] = {
        {250, 247, 277, 277, {130, 26}},  // 3 insertions, 27 matches
        {123, 123, 150, 153, {26, 130}},  // 27 matches, 3 insertions
    };
    for (const expect_t &e : expected) {
      hit_iterator_t *it = matcher_next_query(m);
      ASSERT_EQ(hit_iterator_next(it), 1) << "gapped " << gapped;
      EXPECT_EQ(hit_iterator_aligned_start(it), e.aligned_start);
      EXPECT_EQ(hit_iterator_aligned_end(it), e.aligned_end);
      if (gapped) {
        EXPECT_EQ(hit_iterator_read_start(it), e.read_start);
        EXPECT_EQ(hit_iterator_read_end(it), e.read_end);
      }
      const uint8_t *b = hit_iterator_code_data(it);
      EXPECT_EQ(std::vector<uint8_t>(b, b + hit_iterator_code_length(it)), e.code) << "gapped " << gapped;
    }
    matcher_free(m);
  }
}

TEST(Matcher, ColourCostAboveTheLimitRunsInNucleotideSpace) {
  std::mt19937 rng(3);
  rig_t rig(random_codes(rng, 300), {{0, 300}});
  rig.add_query(block_slice(rig.block, 50, 30));
  rig.script_batches({{50, 0}}, {1});
  matcher_t *m = rig.matcher(2, 1, 1, 0, 3);
  EXPECT_EQ(m->state->colour_cost, -1);
  EXPECT_EQ(m->state->ungapped->colour, 0);
  EXPECT_EQ(m->state->gapped->colour, 0);
  hit_iterator_t *it = matcher_next_query(m);
  EXPECT_EQ(hit_iterator_score(it), 30);
  EXPECT_EQ(hit_iterator_next(it), 1);
  matcher_free(m);
  rig.script = script_t();
  rig.script_batches({{50, 0}}, {1});
  m = rig.matcher(3, 1, 1, 0, 3);
  EXPECT_EQ(m->state->colour_cost, 3);
  EXPECT_EQ(m->state->gapped->colour, 1);
  matcher_free(m);
}

// Null queries, a query without candidates, four iterators alive at once,
// a lookup batch larger than the buffers and the filter's attachment.
TEST(Matcher, NullQueriesIteratorsBuffersAndFilter) {
  std::vector<uint8_t> codes(3000, 0);  // all A: every diagonal scores the whole query
  rig_t rig(codes, {{0, 3000}});
  rig.add_query(std::vector<uint8_t>(30, 0));
  rig.add_query(std::vector<uint8_t>(30, 0), false);
  rig.add_query(std::vector<uint8_t>(30, 0));
  rig.add_query(std::vector<uint8_t>(30, 0));
  rig.add_query(std::vector<uint8_t>(30, 0));
  std::vector<candidate_t> all;
  for (uint32_t p = 0; p < 1500; p++) all.push_back({p, 0});
  all.push_back({10, 1});
  for (uint32_t p = 0; p < 3; p++) all.push_back({100 * p, 3});
  all.push_back({7, 4});
  rig.script_batches(all, {5});
  matcher_t *m = rig.matcher(-1, 1, 0, 0, -1, 0.5, 0.8, 1);
  EXPECT_EQ(rig.script.attached, 1);
  EXPECT_NE(rig.script.filter, nullptr);
  EXPECT_EQ(rig.hash.filter, rig.script.filter);
  hit_iterator_t *its[4];
  for (int q = 0; q < 4; q++) its[q] = matcher_next_query(m);
  EXPECT_EQ(std::set<hit_iterator_t *>(its, its + 4).size(), 4u);
  EXPECT_EQ(hit_iterator_score(its[0]), 30);
  EXPECT_EQ(hit_iterator_score(its[1]), 0);           // null query
  EXPECT_EQ(hit_iterator_next(its[1]), 0);
  EXPECT_EQ(hit_iterator_score(its[2]), 0);           // no candidates
  EXPECT_EQ(hit_iterator_had_candidates(its[2]), 0);
  EXPECT_EQ(hit_iterator_had_candidates(its[3]), 1);
  int yielded = 0;
  while (hit_iterator_next(its[0])) {
    EXPECT_EQ(hit_iterator_aligned_start(its[0]), yielded);
    yielded++;
  }
  EXPECT_EQ(yielded, 1500);
  int third = 0;
  while (hit_iterator_next(its[3])) third++;
  EXPECT_EQ(third, 3);
  hit_iterator_t *fifth = matcher_next_query(m);
  EXPECT_EQ(fifth, its[0]);                           // round robin
  ASSERT_EQ(hit_iterator_next(fifth), 1);
  EXPECT_EQ(hit_iterator_aligned_start(fifth), 7);
  EXPECT_EQ(rig.script.calls, 1);
  matcher_free(m);
  EXPECT_EQ(rig.script.attached, 2);
  EXPECT_EQ(rig.hash.filter, nullptr);
}

TEST(MatcherDeath, AlignmentErrorReportsTheQuery) {
  // A gapped hit whose aligner finds no alignment: the candidate's end mask
  // is forged to a diagonal the band never ends on.
  std::mt19937 rng(1);
  rig_t rig(random_codes(rng, 300), {{0, 300}});
  rig.add_query({0, 1, 2, 3, 4, 1});
  rig.script_batches({{40, 0}}, {1});
  matcher_t *m = rig.matcher(-1, 0, 1, 0);
  hit_iterator_t *it = matcher_next_query(m);
  auto *p = static_cast<matcher_query_t *>(it->payload);
  if (p->kept_count == 0) {
    p->kept_count = 1;
    p->kept[0] = {40, 0};
    p->best = 1;
  }
  p->kept_masks[0] = 0;
  p->accept_all = 1;
  p->kept_index = 0;
  p->new_candidate = 1;
  p->code_length = -1;
  EXPECT_EXIT(hit_iterator_code_length(it), testing::ExitedWithCode(1), "^Alignment error 0\nABCDEB\n313175\n$");
  matcher_free(m);
}

}  // namespace
