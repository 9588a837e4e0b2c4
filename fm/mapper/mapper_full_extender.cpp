#include "fm/mapper/mapper_full_extender.h"

#include <algorithm>
#include <utility>

#include "fm/index/mapper_index.h"
#include "fm/mapper/alignment_trims.h"
#include "fm/mapper/mapper_parameters.h"

namespace {

MapperBand *band_for(const MapperParameters *p) {
  return MapperBand::create(static_cast<int32_t>(p->match_score), static_cast<int32_t>(p->mismatch_cost),
                            static_cast<int32_t>(p->gap_open), static_cast<int32_t>(p->gap_cost),
                            static_cast<int32_t>(p->deletion_open), static_cast<int32_t>(p->deletion_cost));
}

}  // namespace

MapperFullExtender::MapperFullExtender(const MapperParameters *parameters) : MapperExtender(parameters) {
  right_.band = band_for(parameters);
  right_.direction = 0;
  left_.band = band_for(parameters);
  left_.direction = 1;
}

MapperFullExtender::~MapperFullExtender() {
  delete right_.band;
  delete left_.band;
}

void MapperFullExtender::run(MapperRead *read, MapperSeeds *seeds, MapperResult *result) {
  start_read(read, result);
  for (MapperSearch &seed : seeds->seeds) {
    start_seed(seed, &left_, &right_);
    if (seed.length == read_length_) {
      seed.score = file_whole_read_seed(seed);
      continue;
    }
    seed_score_ = 0;
    extend_seed();
    seed.score = seed_score_;
  }
}

void MapperFullExtender::extend_seed() {
  const MapperParameters &p = *parameters_;
  const int64_t match = p.match_score;
  const int64_t L = left_part_, R = right_part_, n = read_length_, length = seed_.length;
  // The most the right part can add when the seed cannot grow by a match
  // on the right: a deletion first, or one mismatch or insertion.
  int64_t d = 0;
  if (R > 0) {
    d = std::max<int64_t>(R * match - p.deletion_open - p.deletion_cost,
                          (R - 1) * match - std::min<int64_t>(p.gap_open + p.gap_cost, p.mismatch_cost));
    if (!right_.global) d = std::max<int64_t>(d, 0);
  }
  const int64_t threshold = result_->best_score - d - match * (left_.global ? n : length);

  prepare_walks(&left_, &right_);
  if (L > 0)
    left_.band->update_parameters(left_part_, clamp_score(threshold), left_.global,
                                  buffers_.reference() + buffers_.middle(),
                                  buffers_.reversed() + (read_length_ - left_part_));
  left_start_score_ = left_.global ? clamp_score(-global_end_cost(left_part_)) : 0;
  left_.end_rows = left_.end_columns = 0;
  right_.end_rows = right_.end_columns = 0;
  aligner_traverse(1, left_start_score_);
}

void MapperFullExtender::aligner_traverse(int direction, int32_t start_score) {
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

bool MapperFullExtender::aligner_preorder(int direction, int32_t node, uint32_t depth) {
  MapperFullExtension &s = side(direction);
  if (depth == 0) {
    // The right walk descends only while the band has columns beyond the
    // known text.
    return s.part_length > 0 && (direction == 1 || left_depth_ + seed_.length < s.band->column_count());
  }
  const MapperParameters &p = *parameters_;
  MapperExtensionNode &x = s.stack[node];
  // Columns of the band computed up to this node.
  const uint32_t computed = place_symbol(direction, depth, x.code);
  x.score = s.band->column(computed - 1, x.code);
  if (computed >= s.band->column_count() || depth >= buffers_.limit()) return false;
  if (stop_hopeless_ && !s.global && x.score < x.path_best) {
    // A node below the best of its path ends no alignment, and neither
    // does any node under it whose column stays below that best. Under a
    // one-occurrence node there is one chain, which spends none of the
    // walk's extra branches, so when the band shows that no later column
    // can climb back to the path's best, the chain is left out: the
    // alignment ends found, and the scores passed up, stay the same. Past
    // the read's end this saves the columns, and the index steps, of the
    // band's reach beyond it.
    const match_range &own = direction == 0 ? x.search.forward : x.search.reverse;
    if (own.end - own.begin == 1 && s.band->reach_bound(computed - 1) < x.path_best) return false;
  }
  if (!s.global) {
    // The best any alignment through this node can still score.
    int64_t bound;
    if (direction == 1) {
      bound =
          static_cast<int64_t>(p.match_score) * read_length_ - std::min({p.mismatch_cost, p.gap_cost, p.deletion_cost});
    } else {
      bound = static_cast<int64_t>(x.score) + static_cast<int64_t>(p.match_score) * (right_part_ + right_.end_rows);
    }
    if (bound < result_->best_score) return false;
  }
  return true;
}

void MapperFullExtender::left_end(int32_t node, uint32_t depth) {
  const MapperParameters &p = *parameters_;
  const MapperExtensionNode &x = left_.stack[node];
  const uint32_t aligned = depth == 0 ? 0 : static_cast<uint32_t>(left_.band->max_row_index(depth - 1) + 1);
  left_depth_ = depth;
  left_rows_ = std::min(aligned, left_part_);
  const int64_t right_cost = right_.global ? global_end_cost(right_part_) : 0;
  const int32_t threshold = clamp_score(std::max<int64_t>(
      result_->best_score, static_cast<int64_t>(seed_.length) * p.match_score + left_start_score_ - right_cost));
  uint8_t *left_end_reference = buffers_.reference() + buffers_.middle() - depth;
  MapperBand *band = right_.band;
  band->update_parameters(left_rows_ + seed_.length + right_part_, threshold, right_.global, left_end_reference,
                          codes_ + (left_part_ - left_rows_));
  const uint32_t known = depth + seed_.length;
  uint32_t best_column = 0;
  const int32_t v = band->range(0, std::min(band->column_count(), known), &best_column);
  known_best_end_ = best_column + 1;
  right_.search = seed_;
  right_.search.search = x.search;
  if (band->column_count() >= known) {
    // The right walk starts from the known text; its root is the right
    // end of depth 0 (it alone when the band ends with the known text).
    aligner_traverse(0, v);
    return;
  }
  // The band ends inside the known text: the alignment ends there.
  if (v < result_->best_score) return;
  raise_best_score(v);
  seed_score_ = std::max(seed_score_, v);
  const uint32_t w = known_best_end_;
  extension_ = seed_;
  seed_.index->matcher->init_search(&extension_.search, left_end_reference, static_cast<int>(w));
  aligner_report(&right_, static_cast<uint32_t>(band->max_row_index(w - 1) + 1), w);
}

void MapperFullExtender::right_end(int32_t node, uint32_t depth) {
  const MapperExtensionNode &x = right_.stack[node];
  const int32_t score = x.score;
  if (score < right_.best) return;
  right_.best = score;
  seed_score_ = std::max(seed_score_, score);
  if (score < result_->best_score) return;
  raise_best_score(score);
  const uint32_t columns = depth == 0 ? known_best_end_ : depth + left_depth_ + seed_.length;
  extension_ = right_.search;
  extension_.search = x.search;
  aligner_report(&right_, static_cast<uint32_t>(right_.band->max_row_index(columns - 1) + 1), columns);
}

void MapperFullExtender::aligner_report(MapperFullExtension *extension, uint32_t end_rows, uint32_t end_columns) {
  if (is_duplicate_alignment(result_, extension_)) return;
  // An end without an aligned read row holds no alignment.
  if (end_rows == 0 || end_rows > extension->band->rows() || end_columns == 0) return;
  extension->end_rows = end_rows;
  extension->end_columns = end_columns;
  uint32_t start = aligner_backtrace_complex(true);
  forward_.assign_reversed(backward_);
  const uint8_t *text = buffers_.reference() + buffers_.middle() - left_depth_;
  if (!left_.global && !right_.global) {
    trim_deletion_bwd(backward_, forward_, text + start, codes_, parameters_, &trimmed_);
    std::swap(forward_, trimmed_);
    uint32_t shift = 0;
    trim_deletion_fwd(forward_, text + start, codes_, parameters_, &trimmed_, &shift);
    std::swap(forward_, trimmed_);
    start += shift;
    uint32_t reference_shift = 0, read_shift = 0;
    trim_head_and_end(forward_, text + start, codes_, parameters_, &trimmed_, &reference_shift, &read_shift,
                      result_->best_score);
    std::swap(forward_, trimmed_);
    start += reference_shift;
  }
  if (!filter_alignment(&filter_, forward_, text + start, codes_, seed_.strand == 0)) return;
  result_->add_alignment(read_, extension_, std::move(forward_), start);
}

uint32_t MapperFullExtender::aligner_backtrace_complex(bool with_clips) {
  const MapperBand &band = *right_.band;
  const int32_t rows = static_cast<int32_t>(band.rows());
  int32_t r = static_cast<int32_t>(right_.end_rows) - 1;
  int32_t c = static_cast<int32_t>(right_.end_columns) - 1;
  walk_.clear();
  collapse_ = false;
  int state = 0;        // 0 match, 1 in an insertion, 2 in a deletion
  int32_t pending = 0;  // insertions of the run found last still to take
  int32_t run = 0;
  // The steps of the trace, each setting the state it leaves: the first
  // insertion of a run of run, a deletion, a match.
  auto insertion_run = [&] {
    walk_.add_insertions(1);
    r--;
    pending = run - 1;
    state = 1;
  };
  auto deletion = [&] {
    walk_.add_deletions(1);
    c--;
    state = 2;
  };
  auto match = [&] {
    walk_.add_matches(1);
    r--;
    c--;
    state = 0;
  };
  while (r >= 0 && c >= 0) {
    if (state == 1 && pending > 0) {
      walk_.add_insertions(1);
      r--;
      pending--;
      continue;
    }
    if (state == 2) {
      if (band.continued_deletion(r, c)) {
        deletion();
        continue;
      }
      if (band.possible_insertion(r, c, &run)) {
        insertion_run();
        collapse_ = true;
        continue;
      }
    } else if (state == 1) {
      if (band.possible_insertion(r, c, &run)) {
        insertion_run();
        continue;
      }
      if (band.possible_deletion(r, c)) {
        deletion();
        collapse_ = true;
        continue;
      }
    } else {
      // A run of matches, taken at once.
      if (const uint32_t k = band.match_run(r, c); k > 0) {
        walk_.add_matches(k);
        r -= static_cast<int32_t>(k);
        c -= static_cast<int32_t>(k);
        continue;
      }
      if (band.possible_insertion(r, c, &run)) {
        insertion_run();
        continue;
      }
      if (band.possible_deletion(r, c)) {
        deletion();
        continue;
      }
    }
    // A match, or a cell no test explains: taken as a match so that the
    // walk always ends.
    match();
  }
  if (collapse_) collapse_walk();
  backward_.clear();
  if (with_clips) backward_.add_insertions(static_cast<uint32_t>(rows - static_cast<int32_t>(right_.end_rows)));
  for (uint8_t byte : walk_.code) backward_.add_byte(byte);
  if (with_clips) backward_.add_insertions(static_cast<uint32_t>(left_part_ - left_rows_ + (r + 1)));
  return static_cast<uint32_t>(c + 1);
}

// An insertion run of I and a deletion run of D that touch are one read
// stretch of I symbols against a reference stretch of D: as min(I, D)
// match columns and |I - D| operations of the longer kind they score no
// worse. In forward order the gap comes first; walk_ holds reverse order.
void MapperFullExtender::collapse_walk() {
  trimmed_.clear();
  const std::vector<uint8_t> &code = walk_.code;
  size_t i = 0;
  while (i < code.size()) {
    const uint8_t kind = alignment_kind(code[i]);
    uint32_t n = 0;
    while (i < code.size() && alignment_kind(code[i]) == kind) n += alignment_run(code[i++]);
    if (kind == kMatchBase) {
      trimmed_.add_matches(n);
      continue;
    }
    if (i < code.size() && alignment_kind(code[i]) != kMatchBase) {
      const uint8_t other = alignment_kind(code[i]);
      uint32_t m = 0;
      while (i < code.size() && alignment_kind(code[i]) == other) m += alignment_run(code[i++]);
      trimmed_.add_matches(std::min(n, m));
      const uint32_t rest = n > m ? n - m : m - n;
      const uint8_t longer = n > m ? kind : other;
      trimmed_.add(longer, alignment_max_run(longer), rest);
      continue;
    }
    trimmed_.add(kind, alignment_max_run(kind), n);
  }
  std::swap(walk_, trimmed_);
}
