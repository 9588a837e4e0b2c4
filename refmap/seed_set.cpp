#include "refmap/seed_set.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

// Minimum lengths of the second, third and fourth levels before the move
// limit lowers them; a class whose bound lies at or below one of them gets
// no level beyond it.
constexpr int32_t kLevelLengths[3] = {22, 26, 30};

char *tiled_string(const char *period, int32_t length) {
  int32_t period_length = static_cast<int32_t>(strlen(period));
  auto *mask = static_cast<char *>(ryx_malloc(static_cast<size_t>(length) + 1));
  for (int32_t j = 0; j < length; j++) mask[j] = period[j % period_length];
  mask[length] = '\0';
  return mask;
}

seed_pattern_t *list_append(seed_pattern_list_t *list) {
  if (list->count == list->capacity) {
    list->capacity = list->capacity == 0 ? 8 : 2 * list->capacity;
    list->patterns = static_cast<seed_pattern_t *>(
        ryx_realloc(list->patterns, sizeof(seed_pattern_t) * static_cast<size_t>(list->capacity)));
  }
  seed_pattern_t *pattern = &list->patterns[list->count++];
  memset(pattern, 0, sizeof(*pattern));
  return pattern;
}

void pattern_set_starts(seed_pattern_t *pattern, int32_t first, int32_t count) {
  ryx_free(pattern->starts);
  pattern->placement_count = count > 0 ? count : 0;
  pattern->starts = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * static_cast<size_t>(pattern->placement_count + 1)));
  for (int32_t k = 0; k < pattern->placement_count; k++) pattern->starts[k] = first + k;
}

void pattern_free_fields(seed_pattern_t *pattern) {
  ryx_free(pattern->mask);
  ryx_free(pattern->starts);
}

// A deep copy of a pattern into the list.
void list_append_copy(seed_pattern_list_t *list, const seed_pattern_t *source) {
  seed_pattern_t *pattern = list_append(list);
  *pattern = *source;
  size_t mask_size = strlen(source->mask) + 1;
  pattern->mask = static_cast<char *>(ryx_malloc(mask_size));
  memcpy(pattern->mask, source->mask, mask_size);
  pattern->starts = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * static_cast<size_t>(source->placement_count + 1)));
  if (source->placement_count > 0) {
    memcpy(pattern->starts, source->starts, sizeof(int32_t) * static_cast<size_t>(source->placement_count));
  }
}

// Bits of all positions from p up (within the 64-bit word).
inline uint64_t bits_from(int32_t p) {
  if (p <= 0) return ~UINT64_C(0);
  if (p >= 64) return 0;
  return ~UINT64_C(0) << p;
}

inline uint64_t bit_at(int32_t p) { return p >= 0 && p < 64 ? UINT64_C(1) << p : 0; }

// The placement words of a pattern set in one flat array.
struct word_list_t {
  uint64_t *words;
  int32_t count;
};

word_list_t collect_words(const seed_pattern_t *patterns, int32_t pattern_count, seed_placement_mode_t mode,
                          int32_t min_length) {
  int64_t total = 0;
  for (int32_t k = 0; k < pattern_count; k++) {
    total += mode == kSeedPlacementsEvery ? std::max(0, min_length - patterns[k].span + 1) : patterns[k].placement_count;
  }
  word_list_t list{static_cast<uint64_t *>(ryx_malloc(sizeof(uint64_t) * static_cast<size_t>(total + 1))), 0};
  for (int32_t k = 0; k < pattern_count; k++) {
    const seed_pattern_t *pattern = &patterns[k];
    if (mode == kSeedPlacementsEvery) {
      for (int32_t start = 0; start + pattern->span <= min_length; start++) {
        list.words[list.count++] = seed_pattern_word(pattern, start);
      }
    } else {
      for (int32_t p = 0; p < pattern->placement_count; p++) {
        list.words[list.count++] = seed_pattern_word(pattern, pattern->starts[p]);
      }
    }
  }
  return list;
}

// A configuration of error positions is covered when some placement has no
// position in common with it.
inline bool covered(const word_list_t &list, uint64_t errors) {
  for (int32_t k = 0; k < list.count; k++) {
    if ((list.words[k] & errors) == 0) return true;
  }
  return false;
}

// Tests a configuration and its slides: each slide moves every error one
// position up and clips position 0, which walks through every split of the
// clipped positions between the two read ends.
bool covered_with_slides(const word_list_t &list, uint64_t errors, int32_t slides) {
  for (int32_t s = 0; s <= slides; s++) {
    if (!covered(list, errors)) return false;
    errors = 2 * errors + 1;
  }
  return true;
}

void design_failure(const char *message) {
  fputs(message, stderr);
  ryx_exit(1);
}

}  // namespace

uint64_t seed_pattern_word(const seed_pattern_t *pattern, int32_t start) {
  uint64_t word = 0;
  for (int32_t j = 0; j < pattern->span; j++) {
    if (pattern->mask[j] == '#') word |= UINT64_C(1) << ((start + j) & 63);
  }
  if (pattern->colour) word |= word >> 1;
  return word;
}

void seed_pattern_tile(seed_pattern_list_t *list, int32_t colour, int32_t window_a, int32_t window_b,
                       const char *period) {
  int32_t period_length = static_cast<int32_t>(strlen(period));
  int32_t k = window_b - period_length + 1;
  int32_t span = 0;
  for (int32_t p = 1; p <= k; p++) {
    if (period[(p - 1) % period_length] == '#') span = p;
  }
  if (span == 0) return;
  seed_pattern_t *pattern = list_append(list);
  pattern->mask = tiled_string(period, span);
  pattern->span = span;
  pattern->colour = colour;
  if (window_a >= window_b) {
    pattern_set_starts(pattern, window_b - period_length + 1 - span, period_length + window_a - window_b);
  } else {
    pattern_set_starts(pattern, window_a - window_b, period_length);
  }
}

void seed_pattern_contiguous(seed_pattern_list_t *list, int32_t window_a, int32_t window_b) {
  int32_t s0 = window_b < 16 ? window_b : window_b - (window_b - 15) / 3;
  int32_t d = std::min(s0, 40);
  int32_t e = window_b - d + 1;
  // When only one step fits the window, the mask takes what both windows
  // share instead.
  if (window_a >= window_b && window_a < window_b + e) {
    d = std::min(2 * window_b - window_a, 40);
    e = window_b - d + 1;
  }
  if (d < 1 || e < 1) return;
  seed_pattern_t *pattern = list_append(list);
  pattern->mask = tiled_string("#", d);
  pattern->span = d;
  pattern->colour = 0;
  int32_t count = 0;
  for (int32_t start = e - 1; start + d <= window_a; start += e) count++;
  pattern->placement_count = count;
  pattern->starts = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * static_cast<size_t>(count + 1)));
  for (int32_t k = 0; k < count; k++) pattern->starts[k] = (k + 1) * e - 1;
}

void seed_pattern_family(seed_pattern_list_t *list, int32_t family, int32_t a, int32_t b, int32_t colour) {
  switch (family) {
    case 0:
      seed_pattern_contiguous(list, a, b);
      break;
    case 1:
      if (colour) {
        seed_pattern_tile(list, 1, a - 1, b - 1, "####--");
      } else {
        seed_pattern_tile(list, 0, a, b, "##-");
      }
      break;
    case 2:
      seed_pattern_tile(list, 0, a, b, "###--");
      seed_pattern_tile(list, 0, a, b, "##-#-");
      if (colour) {
        seed_pattern_tile(list, 1, a - 1, b - 1, "###---");
        seed_pattern_tile(list, 1, a - 1, b - 1, "##-#--");
        seed_pattern_tile(list, 1, a - 1, b - 1, "#-##--");
      }
      break;
    case 3:
      // Colour space never has more than two units of errors.
      if (!colour) {
        seed_pattern_tile(list, 0, a, b, "###---");
        seed_pattern_tile(list, 0, a, b, "##-#--");
        seed_pattern_tile(list, 0, a, b, "#-##--");
        seed_pattern_tile(list, 0, a, b, "#-");
      }
      break;
    default:
      break;
  }
}

void seed_pattern_list_clear(seed_pattern_list_t *list) {
  for (int32_t k = 0; k < list->count; k++) pattern_free_fields(&list->patterns[k]);
  list->patterns = static_cast<seed_pattern_t *>(ryx_free(list->patterns));
  list->count = 0;
  list->capacity = 0;
}

int32_t seed_coverage_check(int32_t family, const seed_pattern_t *patterns, int32_t pattern_count,
                            seed_placement_mode_t mode, int32_t min_length, int32_t unit, int32_t budget) {
  word_list_t list = collect_words(patterns, pattern_count, mode, min_length);
  const int32_t end = min_length - budget;
  int32_t result = 0;
  // Two mismatches, each at least one unit inside the aligned part, and the
  // rest of the budget clipped.
  if (family >= 3 && unit < end + unit && budget - 2 * unit >= 0) {
    for (int32_t i = unit; i < end + unit && result == 0; i++) {
      for (int32_t j = unit; j < i; j++) {
        uint64_t errors = bits_from(end + 2 * unit) | bit_at(i) | bit_at(j);
        if (!covered_with_slides(list, errors, budget - 2 * unit)) {
          result = 3;
          break;
        }
      }
    }
  }
  // One mismatch and the rest clipped.
  if (result == 0 && family >= 2 && unit < end && budget - unit >= 0) {
    for (int32_t i = unit; i < end; i++) {
      if (!covered_with_slides(list, bits_from(end + unit) | bit_at(i), budget - unit)) {
        result = 2;
        break;
      }
    }
  }
  // The whole budget clipped.
  if (result == 0 && family >= 1 && budget >= 0) {
    if (!covered_with_slides(list, bits_from(end), budget)) result = 1;
  }
  ryx_free(list.words);
  return result;
}

seed_set_t *seed_set_design(int32_t min_length, int32_t length_bound, int32_t error_cost, int32_t budget,
                            int32_t colour) {
  const int32_t unit = error_cost + 1;
  const int32_t f_max = budget / unit;
  if (f_max > 3) design_failure("too many possible mismatches\n");

  seed_pattern_list_t chosen{};
  seed_pattern_list_t trial{};
  int32_t family = f_max;
  for (;;) {
    int32_t tries = std::max(1, (min_length - 25 - family * unit) / 5);
    int32_t best = 100;
    seed_pattern_list_t best_candidate{};
    seed_placement_mode_t best_mode = kSeedPlacementsDesigned;
    for (int32_t i = 0; i <= tries; i++) {
      seed_pattern_list_t candidate{};
      seed_pattern_family(&candidate, family, min_length - i, min_length + family * unit - budget - i, colour);
      // The trial set: what was chosen so far, then the candidate.
      for (int32_t k = 0; k < chosen.count; k++) list_append_copy(&trial, &chosen.patterns[k]);
      for (int32_t k = 0; k < candidate.count; k++) list_append_copy(&trial, &candidate.patterns[k]);
      bool taken = false;
      int32_t m0 = seed_coverage_check(family, trial.patterns, trial.count, kSeedPlacementsDesigned, min_length,
                                       unit, budget);
      if (m0 < best) {
        best = m0;
        best_mode = kSeedPlacementsDesigned;
        taken = true;
      }
      int32_t m1 =
          seed_coverage_check(family, trial.patterns, trial.count, kSeedPlacementsEvery, min_length, unit, budget);
      if (m1 < best) {
        best = m1;
        best_mode = kSeedPlacementsEvery;
        taken = true;
      }
      seed_pattern_list_clear(&trial);
      if (taken) {
        seed_pattern_list_clear(&best_candidate);
        best_candidate = candidate;
      } else {
        seed_pattern_list_clear(&candidate);
      }
    }
    for (int32_t k = 0; k < best_candidate.count; k++) {
      list_append_copy(&chosen, &best_candidate.patterns[k]);
      seed_pattern_t *pattern = &chosen.patterns[chosen.count - 1];
      if (best_mode == kSeedPlacementsEvery) pattern_set_starts(pattern, 0, min_length - pattern->span + 1);
    }
    seed_pattern_list_clear(&best_candidate);
    // A failed check of configurations with g units makes the next step
    // design for one unit less; a set that covers everything is done.
    if (best == 0) break;
    family = best - 1;
  }

  int32_t final_check =
      seed_coverage_check(f_max, chosen.patterns, chosen.count, kSeedPlacementsDesigned, min_length, unit, budget);
  if (final_check != 0) {
    fprintf(stderr, "pattern error %d %d %d %d\n", min_length, unit, budget, final_check);
    ryx_exit(1);
  }

  auto *set = static_cast<seed_set_t *>(ryx_calloc(sizeof(seed_set_t)));
  set->patterns = chosen.patterns;
  set->pattern_count = chosen.count;
  set->min_length = min_length;
  set->length_bound = length_bound;
  set->extra = 0;
  return set;
}

seed_set_t *seed_set_free(seed_set_t *set) {
  if (set == nullptr) return nullptr;
  for (int32_t k = 0; k < set->pattern_count; k++) pattern_free_fields(&set->patterns[k]);
  ryx_free(set->patterns);
  ryx_free(set);
  return nullptr;
}

seed_set_t *seed_sets_free(seed_set_t *sets, int32_t count) {
  if (sets == nullptr) return nullptr;
  for (int32_t i = 0; i < count; i++) {
    for (int32_t k = 0; k < sets[i].pattern_count; k++) pattern_free_fields(&sets[i].patterns[k]);
    ryx_free(sets[i].patterns);
  }
  ryx_free(sets);
  return nullptr;
}

const char *seed_extra_mask(int32_t min_length, int32_t two_levels, int32_t colour) {
  static const char *const kMasks[3][2][2] = {
      // v >= 40: {two levels: nucleotide, colour}, {more levels: nucleotide, colour}
      {{"####################", "###################"}, {"##-###-###-###-###-##", "###--###--###--###--###"}},
      // v in 30..39
      {{"#################", "################"}, {"#-###-###-###-###-#", "##--###--###--###--##"}},
      // v below 30
      {{"###############", "##############"}, {"###-###-###-###", "###--###--###--###"}},
  };
  int row = min_length >= 40 ? 0 : min_length >= 30 ? 1 : 2;
  return kMasks[row][two_levels ? 0 : 1][colour ? 1 : 0];
}

seed_set_t *seed_sets_choose(int32_t group_shortest, int32_t group_bound, int32_t class_lower,
                             int32_t class_upper, int32_t move_limit, int32_t mismatch_cost, int32_t colour_cost,
                             int32_t score_limit, int32_t align_mode, int32_t gapped, int32_t *out_count) {
  const int32_t unit = (colour_cost == -1 || mismatch_cost < colour_cost) ? mismatch_cost + 1 : colour_cost;
  const int32_t units_allowed = score_limit / unit;
  const int32_t bound = std::min(group_bound, class_upper);
  const int32_t shortest = std::max(class_lower, group_shortest);
  const int32_t colour = colour_cost != -1 ? 1 : 0;

  // Short classes get fewer levels: a level's reads must be long enough for
  // its error units.
  int32_t cap = INT32_MAX;
  for (int32_t k = 2; k >= 0; k--) {
    if (bound <= kLevelLengths[k] - move_limit) cap = k + 1;
  }
  const int32_t levels = std::min(units_allowed + 1, cap);
  const int32_t with_extra = levels + ((gapped && levels >= 2) ? 1 : 0);

  auto *sets = static_cast<seed_set_t *>(ryx_calloc(sizeof(seed_set_t) * static_cast<size_t>(with_extra)));
  int32_t last_length = shortest, last_limit = 0;
  for (int32_t i = 0; i < levels; i++) {
    int32_t length = shortest;
    if (i >= 1 && i <= 3) length = std::max(shortest, kLevelLengths[i - 1] - move_limit);
    int32_t limit = std::min(score_limit, unit * (i + 1) - 1);
    int32_t error_cost = mismatch_cost, budget = limit;
    // Global alignment counts the budget in whole error units.
    if (align_mode == 3) {
      error_cost = 0;
      budget = limit / unit;
    }
    seed_set_t *designed = seed_set_design(length, bound, error_cost, budget, colour);
    sets[i] = *designed;
    sets[i].score_limit = limit;
    ryx_free(designed);
    last_length = length;
    last_limit = limit;
  }
  if (with_extra > levels) {
    seed_set_t *extra = &sets[levels];
    const char *mask = seed_extra_mask(last_length, levels == 2, colour);
    int32_t span = static_cast<int32_t>(strlen(mask));
    extra->patterns = static_cast<seed_pattern_t *>(ryx_calloc(sizeof(seed_pattern_t)));
    extra->pattern_count = 1;
    extra->patterns[0].mask = static_cast<char *>(ryx_malloc(static_cast<size_t>(span) + 1));
    memcpy(extra->patterns[0].mask, mask, static_cast<size_t>(span) + 1);
    extra->patterns[0].span = span;
    extra->patterns[0].placement_count = 0;
    extra->patterns[0].starts = nullptr;
    extra->patterns[0].colour = colour;
    extra->min_length = last_length;
    extra->length_bound = bound;
    extra->score_limit = last_limit;
    extra->extra = 1;
  }
  *out_count = with_extra;
  return sets;
}
