// Helpers for the fragment tests: code strings, and an exact word-count
// model that stands behind the builder's count and used-mark callbacks, so
// that decisions can be checked on counts chosen by the test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "denovo/reads/fragment_builder.h"
#include "denovo/reads/fragment_search.h"
#include "denovo/reads/word_counter.h"

namespace fragment_test {

using Codes = std::vector<uint8_t>;

inline Codes random_codes(std::mt19937_64 &rng, size_t length) {
  Codes c(length);
  for (auto &x : c) x = static_cast<uint8_t>(rng() & 3);
  return c;
}

inline Codes reverse_complement(const Codes &w) {
  Codes rc(w.size());
  for (size_t i = 0; i < w.size(); i++) rc[i] = static_cast<uint8_t>(w[w.size() - 1 - i] ^ 3);
  return rc;
}

inline Codes slice(const Codes &c, size_t start, size_t length) {
  return Codes(c.begin() + static_cast<std::ptrdiff_t>(start),
               c.begin() + static_cast<std::ptrdiff_t>(start + length));
}

// Reads of random places and strands with substitutions at the given rate.
inline std::vector<Codes> sampled_reads(std::mt19937_64 &rng, const Codes &genome, size_t count, size_t length,
                                        double error_rate) {
  std::vector<Codes> reads;
  std::uniform_real_distribution<double> unit(0, 1);
  for (size_t i = 0; i < count; i++) {
    Codes r = slice(genome, rng() % (genome.size() - length + 1), length);
    if (rng() & 1) r = reverse_complement(r);
    for (auto &c : r)
      if (unit(rng) < error_rate) c = static_cast<uint8_t>((c + 1 + rng() % 3) & 3);
    reads.push_back(std::move(r));
  }
  return reads;
}


inline Codes concat(std::initializer_list<Codes> parts) {
  Codes out;
  for (const Codes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// 1 when some 2 ((k + 1) / 2) symbols in a row are their own reverse
// complement: an extension stops there as at a hairpin.
inline bool has_hairpin(const Codes &c, int k) {
  const size_t n = 2 * static_cast<size_t>((k + 1) / 2);
  for (size_t p = 0; p + n <= c.size(); p++) {
    const Codes w = slice(c, p, n);
    if (w == reverse_complement(w)) return true;
  }
  return false;
}

inline Codes codes_of(const std::string &letters) {
  Codes c;
  for (char ch : letters) c.push_back(static_cast<uint8_t>(std::string("ACGT").find(ch)));
  return c;
}

inline std::string letters_of(const Codes &c) {
  std::string s;
  for (uint8_t x : c) s += x <= 3 ? "ACGT"[x] : 'N';
  return s;
}

// The canonical form of a word as a key: the larger of the word and its
// reverse complement, as letters.
inline std::string canonical_key(const uint8_t *word, int k) {
  const Codes w(word, word + k);
  const std::string a = letters_of(w);
  const std::string b = letters_of(reverse_complement(w));
  return std::max(a, b);
}

// Exact counts per canonical word and a set of used words.
struct CountModel {
  int k = 12;
  std::map<std::string, int> counts;
  std::set<uint64_t> used;
  // Adds weight to every word of the sequence (capped at 15).
  void add(const Codes &sequence, int weight) {
    for (size_t p = 0; p + k <= sequence.size(); p++) {
      int &c = counts[canonical_key(sequence.data() + p, k)];
      c = std::min(15, c + weight);
    }
  }
  int count(const uint8_t *word) const {
    auto it = counts.find(canonical_key(word, k));
    return it == counts.end() ? 0 : it->second;
  }
};

// The model the callbacks read; set by ModelSearch.
inline CountModel *&current_model() {
  static CountModel *model = nullptr;
  return model;
}

inline int32_t model_count(word_counter_t *, const uint8_t *word) { return current_model()->count(word); }
// Used marks of the model are kept per canonical word: its slot is the
// canonical word packed at two bits per symbol (k is at most 32 here).
inline uint64_t model_used_slot(word_counter_t *, const uint8_t *word) {
  const std::string key = canonical_key(word, current_model()->k);
  uint64_t slot = 0;
  for (char c : key) slot = slot << 2 | static_cast<uint64_t>(std::string("ACGT").find(c));
  return slot;
}
inline int32_t model_slot_is_used(word_counter_t *, uint64_t slot) {
  return current_model()->used.count(slot) ? 1 : 0;
}
inline void model_mark_slot_used(word_counter_t *, uint64_t slot) { current_model()->used.insert(slot); }
inline int32_t model_is_used(const uint8_t *word) { return model_slot_is_used(nullptr, model_used_slot(nullptr, word)); }

// A search state and a builder context over a count model (no tables: the
// handle only carries the word size). Output goes to an unnamed file.
struct ModelSearch {
  CountModel model;
  word_counter_t *handle;
  fragment_builder_ctx_t *ctx;
  fragment_search_t *search;
  FILE *output;

  explicit ModelSearch(int k) {
    model.k = k;
    current_model() = &model;
    handle = word_counter_new(12, k);
    output = tmpfile();
    ctx = fragment_builder_ctx_new(nullptr, nullptr, handle, output, nullptr);
    ctx->get_count = model_count;
    ctx->used_slot = model_used_slot;
    ctx->slot_is_used = model_slot_is_used;
    ctx->mark_slot_used = model_mark_slot_used;
    // The batched look-ups fall back to the model's single ones.
    ctx->next_counts = nullptr;
    ctx->get_counts = nullptr;
    ctx->used_slots = nullptr;
    search = fragment_search_new(handle, k + kFragmentSearchExtraDepth, kFragmentSearchWidth);
  }
  ~ModelSearch() {
    fragment_search_free(search);
    fragment_builder_ctx_free(ctx);
    word_counter_free(handle);
    fclose(output);
    current_model() = nullptr;
  }
  ModelSearch(const ModelSearch &) = delete;
  ModelSearch &operator=(const ModelSearch &) = delete;

  int32_t decide(const uint8_t *symbols, int32_t *depth = nullptr) {
    return fragment_search_decide(search, symbols, depth, ctx);
  }
  // Extends a buffer holding start to the right.
  int32_t extend(const Codes &start, Codes *result, int32_t *depth = nullptr) {
    fragment_buffer_t *buffer = fragment_buffer_new();
    for (uint8_t c : start) fragment_buffer_append(buffer, c);
    const int32_t state = fragment_extend(search, buffer, depth, ctx);
    result->assign(buffer->bytes, buffer->bytes + buffer->length);
    fragment_buffer_free(buffer);
    return state;
  }
};

}  // namespace fragment_test
