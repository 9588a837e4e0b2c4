#include "denovo/reads/fragment_search.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/memory.h"
#include "denovo/reads/fragment_builder.h"

namespace {

// Two branches whose mean word counts differ by at least this much: the
// weaker one is taken for a read error.
constexpr double kErrorCountGap = 3.0;
// Alignments tried between two branches, in order: the other branch one
// symbol longer, a substitution, the strongest branch one symbol longer.
constexpr int32_t kShifts[3] = {1, 0, -1};

int32_t count_of(fragment_search_t *search, fragment_builder_ctx_t *ctx, const uint8_t *word) {
  return ctx->get_count(search->counter, word);
}

// Step 0 of a branch with the count of its word known.
int32_t start_branch_counted(fragment_search_t *search, int32_t letter, const uint8_t *symbols, int32_t count) {
  const int32_t k = search->word_size;
  fragment_candidate_list_t *list = search->branches[letter];
  fragment_candidate_t &first = list->items[0];
  memcpy(first.path, symbols, static_cast<size_t>(k - 1));
  first.path[k - 1] = static_cast<uint8_t>(letter);
  first.score = count;
  if (list->width > 1) list->items[1].score = 0;
  return first.score > 0 ? 1 : 0;
}

void reverse_complement_into(const uint8_t *source, int32_t n, uint8_t *target) {
  for (int32_t i = 0; i < n; i++) target[i] = static_cast<uint8_t>(source[n - 1 - i] ^ 3);
}

// Mean count of the words of path starting at 0 .. n - 1.
double mean_count(fragment_search_t *search, fragment_builder_ctx_t *ctx, const uint8_t *path, int32_t n) {
  int64_t sum = 0;
  for (int32_t p = 0; p < n; p++) sum += count_of(search, ctx, path + p);
  return static_cast<double>(sum) / n;
}

// After a full-depth look-ahead with two or more branches alive: the
// strongest branch stands, every other one is discounted when it aligns
// with it around the first differing symbol and its words are clearly
// weaker. Returns the strongest letter when it alone remains.
int32_t resolve_branches(fragment_search_t *search, const bool alive[4], fragment_builder_ctx_t *ctx) {
  const int32_t k = search->word_size;
  const int32_t path_length = search->depth + k - 1;
  int32_t main_letter = -1;
  for (int32_t x = 0; x < 4; x++) {
    if (!alive[x]) continue;
    if (main_letter < 0 || search->branches[x]->items[0].score > search->branches[main_letter]->items[0].score)
      main_letter = x;
  }
  const uint8_t *p = search->branches[main_letter]->items[0].path;
  int32_t remaining = 0;
  for (int32_t j = 0; j < 4; j++) {
    if (!alive[j]) continue;
    if (j == main_letter) {
      remaining++;
      continue;
    }
    const uint8_t *q = search->branches[j]->items[0].path;
    int32_t n_p = 0, n_q = 0;
    bool aligned = false;
    for (const int32_t shift : kShifts) {
      if (fragment_paths_match_shifted(p, q, k, path_length, shift, &n_p, &n_q)) {
        aligned = true;
        break;
      }
    }
    bool discounted = false;
    if (aligned && n_p > 0 && n_q > 0)
      discounted = mean_count(search, ctx, q, n_q) + kErrorCountGap <= mean_count(search, ctx, p, n_p);
    if (!discounted) remaining++;
  }
  return remaining == 1 ? main_letter : kFragmentAmbiguous;
}

}  // namespace

fragment_candidate_list_t *fragment_candidate_list_new(int32_t width, int32_t path_length) {
  auto *list = static_cast<fragment_candidate_list_t *>(ryx_malloc(sizeof(fragment_candidate_list_t)));
  list->width = width;
  list->items = static_cast<fragment_candidate_t *>(ryx_malloc(sizeof(fragment_candidate_t) * width));
  for (int32_t i = 0; i < width; i++) {
    list->items[i].path = static_cast<uint8_t *>(ryx_calloc(static_cast<size_t>(path_length)));
    list->items[i].score = 0;
  }
  return list;
}

fragment_candidate_list_t *fragment_candidate_list_free(fragment_candidate_list_t *list) {
  if (list == nullptr) return nullptr;
  for (int32_t i = 0; i < list->width; i++) ryx_free(list->items[i].path);
  ryx_free(list->items);
  ryx_free(list);
  return nullptr;
}

fragment_search_t *fragment_search_new(word_counter_t *counter, int32_t depth, int32_t width) {
  auto *search = static_cast<fragment_search_t *>(ryx_calloc(sizeof(fragment_search_t)));
  search->counter = counter;
  search->word_size = counter->word_size;
  search->depth = depth;
  search->width = width;
  const int32_t path_length = depth + search->word_size - 1;
  for (auto &branch : search->branches) branch = fragment_candidate_list_new(width, path_length);
  search->spare = fragment_candidate_list_new(width, path_length);
  search->extensions = static_cast<fragment_extension_t *>(ryx_malloc(sizeof(fragment_extension_t) * 4 * width));
  search->scratch = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(search->word_size)));
  search->seed = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(search->word_size)));
  search->word = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(search->word_size)));
  search->prefixes = static_cast<const uint8_t **>(ryx_malloc(sizeof(const uint8_t *) * width));
  search->next_counts = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * 4 * width));
  return search;
}

fragment_search_t *fragment_search_free(fragment_search_t *search) {
  if (search == nullptr) return nullptr;
  for (auto &branch : search->branches) fragment_candidate_list_free(branch);
  fragment_candidate_list_free(search->spare);
  ryx_free(search->extensions);
  ryx_free(search->scratch);
  ryx_free(search->seed);
  ryx_free(search->word);
  ryx_free(search->prefixes);
  ryx_free(search->next_counts);
  ryx_free(search);
  return nullptr;
}

int fragment_candidate_compare(const void *a, const void *b) {
  const auto *x = static_cast<const fragment_extension_t *>(a);
  const auto *y = static_cast<const fragment_extension_t *>(b);
  if (x->score != y->score) return x->score > y->score ? -1 : 1;
  if (x->candidate != y->candidate) return x->candidate < y->candidate ? -1 : 1;
  if (x->letter != y->letter) return x->letter < y->letter ? -1 : 1;
  return 0;
}

void fragment_search_next_counts(fragment_search_t *search, fragment_builder_ctx_t *ctx,
                                 const uint8_t *const *prefixes, int32_t n, int32_t *counts) {
  if (ctx->next_counts != nullptr) {
    ctx->next_counts(search->counter, prefixes, n, counts);
    return;
  }
  const int32_t k = search->word_size;
  for (int32_t i = 0; i < n; i++) {
    memcpy(search->word, prefixes[i], static_cast<size_t>(k - 1));
    for (int32_t x = 0; x < 4; x++) {
      search->word[k - 1] = static_cast<uint8_t>(x);
      counts[4 * i + x] = count_of(search, ctx, search->word);
    }
  }
}

int32_t fragment_search_start_branch(fragment_search_t *search, int32_t letter, const uint8_t *symbols,
                                     fragment_builder_ctx_t *ctx) {
  const int32_t k = search->word_size;
  memcpy(search->word, symbols, static_cast<size_t>(k - 1));
  search->word[k - 1] = static_cast<uint8_t>(letter);
  return start_branch_counted(search, letter, symbols, count_of(search, ctx, search->word));
}

int32_t fragment_search_extend_branch(fragment_search_t *search, int32_t letter, int32_t step,
                                      fragment_builder_ctx_t *ctx) {
  const int32_t k = search->word_size;
  const int32_t width = search->width;
  fragment_candidate_list_t *list = search->branches[letter];
  const int32_t end = step + k - 1;  // where the new letter goes
  // The counts of every candidate's four next words in one batch.
  int32_t live = 0;
  while (live < width && list->items[live].score != 0) {
    search->prefixes[live] = list->items[live].path + step;
    live++;
  }
  fragment_search_next_counts(search, ctx, search->prefixes, live, search->next_counts);
  int32_t n = 0;
  for (int32_t j = 0; j < live; j++) {
    for (int32_t x = 0; x < 4; x++) {
      const int32_t c = search->next_counts[4 * j + x];
      if (c > 0) search->extensions[n++] = {list->items[j].score + c, j, x};
    }
  }
  if (n == 0) return 0;
  qsort(search->extensions, static_cast<size_t>(n), sizeof(fragment_extension_t), fragment_candidate_compare);
  fragment_candidate_list_t *next = search->spare;
  const int32_t kept = n < width ? n : width;
  for (int32_t t = 0; t < kept; t++) {
    const fragment_extension_t &e = search->extensions[t];
    memcpy(next->items[t].path, list->items[e.candidate].path, static_cast<size_t>(end));
    next->items[t].path[end] = static_cast<uint8_t>(e.letter);
    next->items[t].score = e.score;
  }
  if (kept < width) next->items[kept].score = 0;
  search->spare = list;
  search->branches[letter] = next;
  return 1;
}

int32_t fragment_paths_match_shifted(const uint8_t *p, const uint8_t *q, int32_t k, int32_t path_length,
                                     int32_t shift, int32_t *n_p, int32_t *n_q) {
  const int32_t needed = k + 1;
  int32_t back = 0;     // pairs matched going back from the difference
  int32_t forward = 0;  // pairs matched going forward past it
  if (shift > 0) {
    // q holds one extra symbol: q[k - 1 - t] = p[k - 2 - t] going back,
    // q[k + s] = p[k - 1 + s] going forward.
    while (back < k - 1 && p[k - 2 - back] == q[k - 1 - back]) back++;
    while (back + forward < needed && k + forward < path_length && p[k - 1 + forward] == q[k + forward])
      forward++;
    if (back + forward < needed) return 0;
    *n_p = k - 1 - back;
    *n_q = k - back;
  } else if (shift == 0) {
    // One symbol differs: the k + 1 symbols after it agree.
    while (forward < needed && k + forward < path_length && p[k + forward] == q[k + forward]) forward++;
    if (forward < needed) return 0;
    *n_p = k;
    *n_q = k;
  } else {
    // p holds one extra symbol.
    while (back < k - 1 && p[k - 1 - back] == q[k - 2 - back]) back++;
    while (back + forward < needed && k + forward < path_length && p[k + forward] == q[k - 1 + forward])
      forward++;
    if (back + forward < needed) return 0;
    *n_p = k - back;
    *n_q = k - 1 - back;
  }
  return 1;
}

namespace {

// fragment_search_decide with the counts of the four next words known.
int32_t decide_counted(fragment_search_t *search, const uint8_t *symbols, const int32_t counts[4],
                       int32_t *depth_out, fragment_builder_ctx_t *ctx) {
  bool alive[4];
  int32_t alive_count = 0;
  for (int32_t x = 0; x < 4; x++) {
    alive[x] = start_branch_counted(search, x, symbols, counts[x]) != 0;
    if (alive[x]) alive_count++;
  }
  int32_t step = 0;
  while (alive_count >= 2 && ++step < search->depth) {
    for (int32_t x = 0; x < 4; x++) {
      if (alive[x] && !fragment_search_extend_branch(search, x, step, ctx)) {
        alive[x] = false;
        alive_count--;
      }
    }
  }
  if (depth_out != nullptr) *depth_out = step;
  if (alive_count == 0) return kFragmentNoBase;
  if (alive_count == 1) {
    for (int32_t x = 0; x < 4; x++)
      if (alive[x]) return x;
  }
  return resolve_branches(search, alive, ctx);
}

}  // namespace

int32_t fragment_search_decide(fragment_search_t *search, const uint8_t *symbols, int32_t *depth_out,
                               fragment_builder_ctx_t *ctx) {
  int32_t counts[4];
  fragment_search_next_counts(search, ctx, &symbols, 1, counts);
  return decide_counted(search, symbols, counts, depth_out, ctx);
}

int32_t fragment_extend(fragment_search_t *search, fragment_buffer_t *buffer, int32_t *depth_out,
                        fragment_builder_ctx_t *ctx) {
  const int32_t k = search->word_size;
  const int32_t h = (k + 1) / 2;
  int32_t c = fragment_search_decide(search, buffer->bytes + buffer->length - (k - 1), depth_out, ctx);
  while (c >= 0 && c <= 3) {
    const int32_t before = buffer->length;
    fragment_buffer_append(buffer, static_cast<uint8_t>(c));
    const uint8_t *b = buffer->bytes;
    const int32_t n = buffer->length;
    // Circle: the newest word is the first word again.
    if (before >= k && memcmp(b + n - k, b, static_cast<size_t>(k)) == 0) {
      buffer->length--;
      return kFragmentEndCircle;
    }
    // Hairpin: the last 2h symbols are their own reverse complement.
    if (n >= 2 * h) {
      bool hairpin = true;
      for (int32_t t = 0; t < h && hairpin; t++) hairpin = b[n - 1 - t] == (b[n - 2 * h + t] ^ 3);
      if (hairpin) {
        buffer->length--;
        if (depth_out != nullptr) *depth_out = 0;
        return kFragmentEndAmbiguous;
      }
    }
    // Backward check: going left from the new word must lead to the word
    // the fragment came from, and to it alone. The next words of both
    // directions are counted in one batch: the forward ones are needed
    // once the check passes, and counts do not change.
    const uint8_t *forward = buffer->bytes + buffer->length - (k - 1);
    if (n > k) {
      reverse_complement_into(b + n - k, k - 1, search->scratch);
      const uint8_t *prefixes[2] = {search->scratch, forward};
      int32_t counts[8];
      fragment_search_next_counts(search, ctx, prefixes, 2, counts);
      const int32_t back = decide_counted(search, search->scratch, counts, nullptr, ctx);
      if (back == kFragmentAmbiguous) {
        buffer->length--;
        return kFragmentEndJoin;
      }
      if (back != (buffer->bytes[n - k - 1] ^ 3)) {
        buffer->length--;
        return kFragmentEndInconsistent;
      }
      c = decide_counted(search, forward, counts + 4, depth_out, ctx);
    } else {
      c = fragment_search_decide(search, forward, depth_out, ctx);
    }
  }
  return c == kFragmentAmbiguous ? kFragmentEndAmbiguous : kFragmentEndDead;
}

seq_record_t *fragment_build_from_seed(fragment_search_t *search, const uint8_t *seed, int32_t *left_extension,
                                       fragment_builder_ctx_t *ctx) {
  const int32_t k = search->word_size;
  *left_extension = 0;
  const int32_t forward = fragment_search_decide(search, seed, nullptr, ctx);
  uint8_t *rc = search->seed;
  reverse_complement_into(seed, k, rc);
  if (k % 2 == 0 && memcmp(seed, rc, static_cast<size_t>(k)) == 0) return nullptr;
  if (forward != seed[k - 1] || fragment_search_decide(search, rc, nullptr, ctx) != rc[k - 1])
    return fragment_record_from_codes(seed, k);

  // Grow the left end by extending the reverse complement, then turn the
  // buffer round and grow the right end.
  fragment_buffer_t *buffer = fragment_buffer_new();
  fragment_buffer_reserve(buffer, k);
  memcpy(buffer->bytes, rc, static_cast<size_t>(k));
  buffer->length = k;
  int32_t left_depth = 0, right_depth = 0;
  const int32_t left = fragment_extend(search, buffer, &left_depth, ctx);
  *left_extension = buffer->length - k;
  fragment_buffer_reverse_complement(buffer);
  const int32_t right =
      left == kFragmentEndCircle ? kFragmentEndCircleRight : fragment_extend(search, buffer, &right_depth, ctx);
  seq_record_t *record = fragment_record_from_codes(buffer->bytes, buffer->length);
  // A fragment with an inconsistent end is dropped, and so is a short one
  // whose ends came without look-ahead (the mark of an error tip).
  const bool rejected = left == kFragmentEndInconsistent || right == kFragmentEndInconsistent ||
                        (left != kFragmentEndCircle && left_depth + buffer->length + right_depth < k + 4);
  if (!rejected) {
    record->name = static_cast<char *>(ryx_malloc(12));
    snprintf(record->name, 12, "%c%c_%8.8x", 'A' + left, 'A' + right, 0u);
  }
  fragment_buffer_free(buffer);
  return record;
}

fragment_buffer_t *fragment_buffer_new(void) {
  auto *buffer = static_cast<fragment_buffer_t *>(ryx_malloc(sizeof(fragment_buffer_t)));
  buffer->capacity = 10;
  buffer->length = 0;
  buffer->bytes = static_cast<uint8_t *>(ryx_malloc(10));
  return buffer;
}

void fragment_buffer_reserve(fragment_buffer_t *buffer, int32_t n) {
  if (n <= buffer->capacity) return;
  int64_t capacity = buffer->capacity;
  while (capacity < n) capacity *= 2;
  if (capacity > INT32_MAX) capacity = INT32_MAX;
  buffer->bytes = static_cast<uint8_t *>(ryx_realloc(buffer->bytes, static_cast<size_t>(capacity)));
  buffer->capacity = static_cast<int32_t>(capacity);
}

void fragment_buffer_append(fragment_buffer_t *buffer, uint8_t symbol) {
  fragment_buffer_reserve(buffer, buffer->length + 1);
  buffer->bytes[buffer->length++] = symbol;
}

void fragment_buffer_reverse_complement(fragment_buffer_t *buffer) {
  uint8_t *b = buffer->bytes;
  for (int32_t i = 0, j = buffer->length - 1; i <= j; i++, j--) {
    const uint8_t x = b[i];
    b[i] = static_cast<uint8_t>(b[j] ^ 3);
    b[j] = static_cast<uint8_t>(x ^ 3);
  }
}

fragment_buffer_t *fragment_buffer_free(fragment_buffer_t *buffer) {
  if (buffer == nullptr) return nullptr;
  ryx_free(buffer->bytes);
  ryx_free(buffer);
  return nullptr;
}

seq_record_t *fragment_record_from_codes(const uint8_t *codes, int32_t n) {
  seq_record_t *record = seq_record_new(static_cast<uint32_t>(n));
  if (n > 0) memcpy(record->residues, codes, static_cast<size_t>(n));
  return record;
}
