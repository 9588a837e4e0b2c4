#include "fm/mapper/mapper_dropoff_extender.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "fm/index/mapper_index.h"
#include "fm/mapper/alignment_trims.h"
#include "fm/mapper/mapper_parameters.h"

MapperDropoffExtender::MapperDropoffExtender(const MapperParameters *parameters) : MapperExtender(parameters) {
  right_.direction = 0;
  left_.direction = 1;
}

void MapperDropoffExtender::run(MapperRead *read, MapperSeeds *seeds, MapperResult *result) {
  const MapperParameters &p = *parameters_;
  dropoff_ = kDropoff;
  start_read(read, result);
  for (const MapperSearch &seed : seeds->seeds) {
    start_seed(seed, &left_, &right_);
    if (seed.length == read_length_) {
      file_whole_read_seed(seed);
      continue;
    }
    const int32_t seed_score = clamp_score(static_cast<int64_t>(seed.length) * p.match_score);
    if (seed_score >= result->best_score) {
      raise_best_score(seed_score);
      // The seed alone, its read ends soft-clipped, when it passes the
      // filter by itself.
      if (!is_duplicate_alignment(result, seed)) {
        filter_.clear();
        filter_.add(false, left_part_);
        filter_.add(true, seed.length);
        filter_.add(false, right_part_);
        if (!filter_.disqualified(seed.strand == 0)) {
          forward_.clear();
          forward_.add_insertions(left_part_);
          forward_.add_matches(seed.length);
          forward_.add_insertions(right_part_);
          result->add_alignment(read, seed, std::move(forward_), 0);
        }
      }
    }
    extend_seed();
  }
}

void MapperDropoffExtender::extend_seed() {
  const MapperParameters &p = *parameters_;
  const int64_t L = left_part_, R = right_part_;
  int64_t s = static_cast<int64_t>(seed_.length) * p.match_score;
  if (left_.global && L > 0) s -= global_end_cost(left_part_);
  if (right_.global && R > 0) s -= global_end_cost(right_part_);
  result_->best_score = std::max(result_->best_score, clamp_score(s));

  prepare_walks(&left_, &right_);
  if (L > 0)
    left_.ray.setup(parameters_, static_cast<int32_t>(left_part_), buffers_.reversed() + (read_length_ - left_part_),
                    left_.global, static_cast<int32_t>(dropoff_));
  left_.end_row = left_.end_column = 0;
  right_.end_row = right_.end_column = 0;
  const int32_t start = left_.global ? clamp_score(-global_end_cost(left_part_)) : 0;
  aligner_traverse(1, start);
}

void MapperDropoffExtender::aligner_traverse(int direction, int32_t start_score) {
  walk_extension_side(
      side(direction), steps_, start_score,
      [&](int32_t node, uint32_t depth) { return aligner_preorder(direction, node, depth); },
      [&](int32_t node, uint32_t depth) {
        if (direction == 1)
          left_end(node, depth);
        else
          right_end(node, depth);
      });
}

bool MapperDropoffExtender::aligner_preorder(int direction, int32_t node, uint32_t depth) {
  MapperDropoffExtension &s = side(direction);
  // The walks stop at the buffer's limit, which the drop-off reaches first
  // with any sensible costs.
  const uint32_t limit = buffers_.limit();
  if (depth == 0) return s.part_length > 0 && (direction == 1 || left_depth_ + seed_.length < limit);
  MapperExtensionNode &x = s.stack[node];
  const uint32_t column = place_symbol(direction, depth, x.code);
  bool done = false;
  x.score = s.ray.column(static_cast<int32_t>(column), x.code, &done);
  return !done && column < limit;
}

void MapperDropoffExtender::left_end(int32_t node, uint32_t depth) {
  const MapperExtensionNode &x = left_.stack[node];
  uint32_t aligned = 0;
  if (depth > 0)
    aligned = left_.global ? left_part_ : static_cast<uint32_t>(left_.ray.max_row(static_cast<int32_t>(depth)));
  left_depth_ = depth;
  left_rows_ = std::min(aligned, left_part_);
  const uint8_t *text = buffers_.reference() + buffers_.middle() - depth;
  MapperRay &ray = right_.ray;
  ray.setup(parameters_, static_cast<int32_t>(left_rows_ + seed_.length + right_part_),
            codes_ + (left_part_ - left_rows_), right_.global, static_cast<int32_t>(dropoff_));
  // The columns of the known text: the left part walked and the seed.
  const int32_t known = static_cast<int32_t>(depth + seed_.length);
  int64_t best = INT_MIN;
  int32_t best_column = 0;
  bool done = false;
  for (int32_t c = 1; c <= known && !done; c++) {
    const int32_t v = ray.column(c, text[c - 1], &done);
    if (v >= best) {
      best = v;
      best_column = c;
    }
  }
  if (!done) {
    known_best_column_ = best_column;
    right_.search = seed_;
    right_.search.search = x.search;
    aligner_traverse(0, static_cast<int32_t>(best));
    return;
  }
  // The ray ran out inside the known text: the alignment ends there.
  if (best < result_->best_score || best_column == 0) return;
  raise_best_score(static_cast<int32_t>(best));
  extension_ = seed_;
  seed_.index->matcher->init_search(&extension_.search, text, best_column);
  const int32_t row = right_.global ? ray.rows() : ray.max_row(best_column);
  aligner_report(&right_, row, best_column);
}

void MapperDropoffExtender::right_end(int32_t node, uint32_t depth) {
  const MapperExtensionNode &x = right_.stack[node];
  const int32_t score = x.score;
  if (score < right_.best) return;
  right_.best = score;
  if (score < result_->best_score) return;
  raise_best_score(score);
  // The root ends where its best known-text column was.
  const int32_t column = depth == 0 ? known_best_column_ : static_cast<int32_t>(depth + left_depth_ + seed_.length);
  if (column == 0) return;
  extension_ = right_.search;
  extension_.search = x.search;
  const int32_t row = right_.global ? right_.ray.rows() : right_.ray.max_row(column);
  aligner_report(&right_, row, column);
}

void MapperDropoffExtender::aligner_report(MapperDropoffExtension *extension, int32_t end_row, int32_t end_column) {
  if (is_duplicate_alignment(result_, extension_)) return;
  if (end_row <= 0) return;
  extension->end_row = end_row;
  extension->end_column = end_column;
  filter_.clear();
  uint32_t start = aligner_backtrace_complex(true);
  if (filter_.disqualified(seed_.strand == 0)) return;
  forward_.assign_reversed(backward_);
  const uint8_t *text = buffers_.reference() + buffers_.middle() - left_depth_;
  if (!left_.global && !right_.global) {
    trim_gap_dropoff_bwd(backward_, forward_, text + start, codes_, parameters_, &trimmed_);
    std::swap(forward_, trimmed_);
    uint32_t shift = 0;
    trim_gap_dropoff_fwd(forward_, text + start, codes_, parameters_, &trimmed_, &shift);
    std::swap(forward_, trimmed_);
    start += shift;
  }
  result_->add_alignment(read_, extension_, std::move(forward_), start);
}

uint32_t MapperDropoffExtender::aligner_backtrace_complex(bool with_clips) {
  const MapperRay &ray = right_.ray;
  int32_t b = right_.end_row;
  int32_t c = right_.end_column;
  backward_.clear();
  if (with_clips) {
    const uint32_t trailing = static_cast<uint32_t>(ray.rows() - b);
    backward_.add_insertions(trailing);
    filter_.add(false, trailing);
  }
  int state = 0;        // 0 match, 1 in an insertion, 2 in a deletion
  int32_t pending = 0;  // insertions of the run found last still to take
  // The shortest insertion run ending at (b, c), or 0.
  auto insertion_run = [&](int32_t row, int32_t col) {
    const int32_t first = ray.column_info(col).first_row;
    const int64_t target = ray.value(row, col);
    for (int32_t k = 1; row - k >= first; k++) {
      const int64_t from = ray.value(row - k, col);
      if (from - ray.gap_open() - static_cast<int64_t>(k) * ray.gap_cost() == target) return k;
    }
    return 0;
  };
  auto deletion = [&] {
    backward_.add_deletions(1);
    filter_.add(false, 1);
    c--;
  };
  auto insertion = [&] {
    backward_.add_insertions(1);
    filter_.add(false, 1);
    b--;
  };
  while (b > 0 && c > 0) {
    if (state == 1 && pending > 0) {
      insertion();
      pending--;
      continue;
    }
    const int64_t here = ray.value(b, c);
    if (state == 2) {
      const int64_t e_before = ray.value_e(b, c - 1);
      if (here == e_before || e_before - ray.value_e(b, c) == ray.deletion_cost()) {
        deletion();
        continue;
      }
    } else {
      const bool diagonal =
          state == 0 && here == static_cast<int64_t>(ray.value(b - 1, c - 1)) + ray.profile(ray.reference(c), b);
      if (!diagonal) {
        const int32_t run = insertion_run(b, c);
        if (run > 0) {
          insertion();
          pending = run - 1;
          state = 1;
          continue;
        }
        if (state == 0 && here == ray.value_e(b, c - 1)) {
          deletion();
          state = 2;
          continue;
        }
      }
    }
    // A match, or a cell no test explains: taken as a match so that the
    // walk always ends.
    const uint8_t symbol = ray.read(b - 1);
    backward_.add_matches(1);
    filter_.add(symbol == ray.reference(c) && symbol < 4, 1);
    b--;
    c--;
    state = 0;
  }
  if (with_clips) {
    const uint32_t leading = left_part_ - left_rows_ + static_cast<uint32_t>(b);
    backward_.add_insertions(leading);
    filter_.add(false, leading);
  }
  return static_cast<uint32_t>(c);
}
