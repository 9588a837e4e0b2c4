#include "fm/mapper/mapper_full_extender.h"

#include <algorithm>
#include <climits>
#include <cstring>
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

int32_t clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

}  // namespace

MapperFullExtender::MapperFullExtender(const MapperParameters *parameters)
    : parameters_(parameters), filter_(parameters) {
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
  const MapperParameters &p = *parameters_;
  read_ = read;
  result_ = result;
  read_length_ = read->length;
  buffers_.reserve(read_length_);
  result->best_score = extender_floor_score(parameters_, read_length_);
  for (MapperSearch &seed : seeds->seeds) {
    seed_ = seed;
    left_part_ = seed.offset;
    right_part_ = read_length_ - seed.offset - seed.length;
    codes_ = read->codes(seed.strand);
    // Bit 0 of the mode is the read's right end, bit 1 its left end; on
    // the reverse complement they change places.
    const uint32_t mode = p.align_mode;
    right_.global = ((seed.strand == 0 ? mode : mode >> 1) & 1) != 0;
    left_.global = ((seed.strand == 0 ? mode >> 1 : mode) & 1) != 0;
    if (seed.length == read_length_) {
      const int32_t score = clamp32(static_cast<int64_t>(read_length_) * p.match_score);
      if (result->best_score < score) {
        result->clear();
        result->best_score = score;
      }
      forward_.clear();
      forward_.add_matches(read_length_);
      result->add_alignment(read, seed, std::move(forward_), 0);
      seed.score = score;
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

  buffers_.reverse_read(codes_, read_length_);
  uint8_t *reference = buffers_.reference();
  const uint32_t middle = buffers_.middle();
  memcpy(reference + middle, codes_ + left_part_, seed_.length);

  if (L > 0)
    left_.band->update_parameters(left_part_, clamp32(threshold), left_.global, reference + middle,
                                  buffers_.reversed() + (read_length_ - left_part_));
  left_start_score_ = left_.global ? clamp32(-std::min<int64_t>(L * p.gap_cost + p.gap_open, L * p.mismatch_cost)) : 0;
  left_.part_length = left_part_;
  right_.part_length = right_part_;
  left_.end_rows = left_.end_columns = 0;
  right_.end_rows = right_.end_columns = 0;
  left_.search = seed_;
  aligner_traverse(1, left_start_score_);
}

void MapperFullExtender::aligner_traverse(int direction, int32_t start_score) {
  MapperFullExtension &s = side(direction);
  s.best = start_score;
  walk_extension_tree(
      s.stack, s.search.search, direction, start_score,
      [&](int32_t node) { return aligner_preorder(direction, node, s.stack[node].depth); },
      [&](int32_t node) { aligner_postorder(direction, node, s.stack[node].depth); });
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
  const MapperExtensionNode &parent = s.stack[x.parent];
  uint8_t *reference = buffers_.reference();
  const uint32_t middle = buffers_.middle();
  uint32_t computed;  // columns of the band computed up to this node
  if (direction == 1) {
    reference[middle - depth] = x.code;
    x.score = s.band->column(depth - 1, x.code);
    computed = depth;
  } else {
    reference[middle + seed_.length + depth - 1] = x.code;
    const uint32_t c = left_depth_ + seed_.length + depth - 1;
    x.score = s.band->column(c, x.code);
    computed = c + 1;
  }
  x.path_best = std::max(parent.score, parent.path_best);
  x.subtree_best = INT_MIN;
  if (computed >= s.band->column_count() || depth >= buffers_.limit()) return false;
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

void MapperFullExtender::aligner_postorder(int direction, int32_t node, uint32_t depth) {
  MapperFullExtension &s = side(direction);
  const MapperExtensionNode &x = s.stack[node];
  if (x.parent >= 0) {
    MapperExtensionNode &parent = s.stack[x.parent];
    parent.subtree_best = std::max({parent.subtree_best, x.score, x.subtree_best});
  }
  // Only where going further lowered the score does an alignment end.
  if (x.score < x.path_best || x.score <= x.subtree_best) return;
  if (direction == 1)
    left_end(node, depth);
  else
    right_end(node, depth);
}

void MapperFullExtender::left_end(int32_t node, uint32_t depth) {
  const MapperParameters &p = *parameters_;
  const MapperExtensionNode &x = left_.stack[node];
  const uint32_t aligned = depth == 0 ? 0 : static_cast<uint32_t>(left_.band->max_row_index(depth - 1) + 1);
  left_depth_ = depth;
  left_rows_ = std::min(aligned, left_part_);
  const int64_t R = right_part_;
  const int64_t right_cost = right_.global ? std::min<int64_t>(R * p.gap_cost + p.gap_open, R * p.mismatch_cost) : 0;
  const int32_t threshold = clamp32(std::max<int64_t>(
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
  if (v > result_->best_score) {
    result_->clear();
    result_->best_score = v;
  }
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
  if (score > result_->best_score) {
    result_->clear();
    result_->best_score = score;
  }
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
  while (r >= 0 && c >= 0) {
    if (state == 1 && pending > 0) {
      walk_.add_insertions(1);
      r--;
      pending--;
      continue;
    }
    if (state == 2) {
      if (band.continued_deletion(r, c)) {
        walk_.add_deletions(1);
        c--;
        continue;
      }
      if (band.possible_insertion(r, c, &run)) {
        walk_.add_insertions(1);
        r--;
        pending = run - 1;
        state = 1;
        collapse_ = true;
        continue;
      }
    } else if (state == 1) {
      if (band.possible_insertion(r, c, &run)) {
        walk_.add_insertions(1);
        r--;
        pending = run - 1;
        continue;
      }
      if (band.possible_deletion(r, c)) {
        walk_.add_deletions(1);
        c--;
        state = 2;
        collapse_ = true;
        continue;
      }
    } else {
      if (band.possible_match_or_mismatch(r, c)) {
        walk_.add_matches(1);
        r--;
        c--;
        continue;
      }
      if (band.possible_insertion(r, c, &run)) {
        walk_.add_insertions(1);
        r--;
        pending = run - 1;
        state = 1;
        continue;
      }
      if (band.possible_deletion(r, c)) {
        walk_.add_deletions(1);
        c--;
        state = 2;
        continue;
      }
    }
    // A match, or a cell no test explains: taken as a match so that the
    // walk always ends.
    walk_.add_matches(1);
    r--;
    c--;
    state = 0;
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
