// Extenders: from the seeds of one read to its alignments.
//
// Both extenders grow each seed first to the left, then to the right, by
// walking the bidirectional FM index depth first, one reference symbol per
// step: every node of the walk is a reference text that occurs, one symbol
// longer than its parent's, and the alignment matrix gains one column per
// node. So every reference text reachable with a good enough score is
// explored once, and an alignment found for a text stands for all of its
// occurrences at once.
//
// This header holds what both share: the interface with the state of a
// run, the walk with its bound on branching, the reference buffer the walk
// writes its path into, and the duplicate test.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "fm/index/bidirectional_search.h"
#include "fm/mapper/alignment.h"
#include "fm/mapper/mapper_filter.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_result.h"
#include "fm/mapper/mapper_seeder.h"

class MapperParameters;

// One node of a walk: the reference text from the side's start to this
// node, and the scores that decide whether the node ends an alignment.
struct MapperExtensionNode {
  BidirectionalSearch search;
  int32_t score = 0;               // the matrix column of this node
  int32_t path_best = 0;           // highest score among the ancestors
  int32_t subtree_best = INT_MIN;  // highest score among the descendants so far
  int32_t parent = -1;             // stack position of the parent; -1 for the root
  uint8_t code = 0;                // reference symbol of this node
  uint32_t depth = 0;              // symbols beyond the side's start
};

// Extra branches a walk may take beyond the first child of every node: a
// repetitive reference can offer a branch at every step, and this bounds
// the work such a walk does.
constexpr int kExtensionExtraBranches = 127;

// What both extenders keep of one side of an extension; each adds its
// matrix and the end of the alignment being reported.
struct MapperExtensionSide {
  uint32_t part_length = 0;  // read symbols beyond the seed on this side
  bool global = false;       // the side's read end must be aligned
  int direction = 0;         // 1 left (prepend), 0 right (append)
  int32_t best = 0;          // best end score of the running walk
  MapperSearch search;       // the text the walk starts from, with the seed's fields
  std::vector<MapperExtensionNode> stack;
};

// The depth-first walk of one side from its search's text, with side.best
// set to start_score. preorder(i, depth) visits node i on the way down
// (the root included, whose score is start_score), sets its score and
// returns whether to descend from it; the children, the one-symbol
// extensions in the side's direction with codes 0 to 4 that occur, are
// pushed in the order 4, 3, 2, 1, 0, so that code 0 is visited first. The
// first child of a node is free, every further one takes one of
// kExtensionExtraBranches; once they are spent a node gets its first child
// only. Once all children of node i are done, its scores are passed up to
// its parent, and alignment_end(i, depth) visits it when it ends an
// alignment: its score is at least its ancestors' best and above its
// descendants', so only where going further lowered the score. Nodes are
// addressed by stack position because the stack grows while the walk
// runs; it keeps its room for the next walk.
template <typename Preorder, typename AlignmentEnd>
void walk_extension_side(MapperExtensionSide &side, MapperStepCache *steps, int32_t start_score, Preorder &&preorder,
                         AlignmentEnd &&alignment_end) {
  std::vector<MapperExtensionNode> &stack = side.stack;
  side.best = start_score;
  stack.clear();
  MapperExtensionNode &first = stack.emplace_back();
  first.search = side.search.search;
  first.score = start_score;
  first.path_best = start_score;
  int extra = kExtensionExtraBranches;
  // Pops node top, its children done.
  auto finish = [&](int32_t top) {
    const MapperExtensionNode &x = stack[top];
    if (x.parent >= 0) {
      MapperExtensionNode &parent = stack[x.parent];
      parent.subtree_best = std::max({parent.subtree_best, x.score, x.subtree_best});
    }
    if (x.score >= x.path_best && x.score > x.subtree_best) alignment_end(top, x.depth);
    const int32_t parent = stack[top].parent;
    stack.pop_back();
    return parent;
  };
  // The parent of the node popped last: when it is on top again, its
  // children are done.
  int32_t finished_parent = -2;
  while (!stack.empty()) {
    const int32_t top = static_cast<int32_t>(stack.size()) - 1;
    if (top == finished_parent) {
      finished_parent = finish(top);
      continue;
    }
    int pushed = 0;
    if (preorder(top, stack[top].depth)) {
      const BidirectionalSearch &search = stack[top].search;
      const match_range &own = side.direction == 0 ? search.forward : search.reverse;
      if (own.end - own.begin == 1) {
        // One occurrence: at most one child, which is the first and free.
        // The step writes straight into the child's place on the stack
        // (taken before the parent is looked at again, as taking it may
        // move the stack).
        MapperExtensionNode &child = stack.emplace_back();
        const MapperExtensionNode &parent = stack[top];
        const unsigned char code = steps != nullptr
                                       ? steps->only_symbol(side.direction, parent.search, &child.search)
                                       : parent.search.add_only_symbol(side.direction, &child.search);
        if (code < 5) {
          child.path_best = std::max(parent.score, parent.path_best);
          child.parent = top;
          child.code = code;
          child.depth = parent.depth + 1;
          continue;
        }
        stack.pop_back();
        finished_parent = finish(top);
        continue;
      }
      BidirectionalSearch next[6];
      stack[top].search.add_all_symbols(side.direction, next);
      const uint32_t depth = stack[top].depth + 1;
      const int32_t path_best = std::max(stack[top].score, stack[top].path_best);
      for (int code = 4; code >= 0; code--) {
        if (next[code].count() == 0) continue;
        if (pushed > 0) {
          if (extra == 0) break;
          extra--;
        }
        MapperExtensionNode &child = stack.emplace_back();
        child.search = next[code];
        child.path_best = path_best;
        child.parent = top;
        child.code = static_cast<uint8_t>(code);
        child.depth = depth;
        pushed++;
      }
    }
    if (pushed == 0) finished_parent = finish(top);
  }
}

// The reference buffer of an extension and the read reversed.
//
// The reference buffer holds the walk's path in forward order: the seed's
// symbols start at middle(), the left walk writes the symbol of depth d at
// middle() - d, the right walk writes after the seed. Room on either side
// is limit() symbols, which no walk of a read of the length given to
// reserve() passes: the band of the full extender has at most twice its
// rows in columns, and the drop-off extender stops its walks at limit().
class ExtensionBuffers {
 public:
  // Makes room for a read of read_length symbols; grows only.
  void reserve(uint32_t read_length);
  // Fills the reversed read from the codes of one strand: reversed()[j] is
  // codes[read_length - 1 - j].
  void reverse_read(const uint8_t *codes, uint32_t read_length);

  uint8_t *reference() { return reference_.data(); }
  uint32_t middle() const { return limit_; }
  uint32_t limit() const { return limit_; }
  const uint8_t *reversed() const { return reversed_.data(); }

 private:
  std::vector<uint8_t> reference_;
  std::vector<uint8_t> reversed_;
  uint32_t limit_ = 0;
};

// The score an alignment of a read of read_length symbols must reach
// before any is found: one match and the rest of the read as the cheaper
// of insertions or mismatches.
int32_t extender_floor_score(const MapperParameters *parameters, uint32_t read_length);

// True when result already holds, on search's strand and reference set, an
// alignment whose search has the same forward or reverse range: the same
// reference text was reported before, from another seed or end.
bool is_duplicate_alignment(const MapperResult *result, const MapperSearch &search);

// Clamps a score computed in 64 bits to the 32 bits of a matrix score.
inline int32_t clamp_score(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

// The interface of the extenders and the state of a run they share: the
// read, its result, the seed being extended and the buffers the walks and
// the reports fill.
class MapperExtender {
 public:
  // The parameters must outlive the extender.
  explicit MapperExtender(const MapperParameters *parameters);
  virtual ~MapperExtender() = default;
  MapperExtender(const MapperExtender &) = delete;
  MapperExtender &operator=(const MapperExtender &) = delete;

  // Extends every seed of seeds, in list order, filing the alignments found
  // into result (which the caller has cleared) and raising its best score.
  virtual void run(MapperRead *read, MapperSeeds *seeds, MapperResult *result) = 0;

  // Takes one-occurrence steps of the walks from steps (null: from the
  // index alone), which the caller keeps alive while the extender runs.
  // The results are the same either way.
  void use_step_cache(MapperStepCache *steps) { steps_ = steps; }

 protected:
  // Starts a run on read: makes room for it and sets the result's best
  // score to the floor of extender_floor_score.
  void start_read(MapperRead *read, MapperResult *result);
  // Makes seed the current one: its read parts, its strand's codes, and
  // which of the sides must align their read end.
  void start_seed(const MapperSearch &seed, MapperExtensionSide *left, MapperExtensionSide *right);
  // Files a seed that covers the whole read as read length matches, raising
  // the best score to their score, which it returns.
  int32_t file_whole_read_seed(const MapperSearch &seed);
  // Fills the reversed read and puts the seed's symbols in the reference
  // buffer; the left walk then starts from the seed.
  void prepare_walks(MapperExtensionSide *left, MapperExtensionSide *right);
  // What aligning part read symbols at a global read end costs at least:
  // the cheaper of one insertion run and part mismatches.
  int64_t global_end_cost(uint32_t part) const;
  // When score is above the result's best, the result is cleared and
  // score becomes its best.
  void raise_best_score(int32_t score) {
    if (score > result_->best_score) {
      result_->clear();
      result_->best_score = score;
    }
  }
  // Writes the code of the walk node at depth on the side of direction
  // into the reference buffer and returns the node's matrix column,
  // counted from 1: the left matrix starts at the seed, the right one at
  // the current left end.
  uint32_t place_symbol(int direction, uint32_t depth, uint8_t code) {
    uint8_t *reference = buffers_.reference();
    const uint32_t middle = buffers_.middle();
    if (direction == 1) {
      reference[middle - depth] = code;
      return depth;
    }
    reference[middle + seed_.length + depth - 1] = code;
    return left_depth_ + seed_.length + depth;
  }

  const MapperParameters *parameters_;
  MapperStepCache *steps_ = nullptr;
  MapperRead *read_ = nullptr;
  MapperResult *result_ = nullptr;
  MapperSearch seed_;
  const uint8_t *codes_ = nullptr;  // read codes of the seed's strand
  ExtensionBuffers buffers_;
  MapperFilter filter_;
  // The code traced back (reverse order), in forward order, and room for
  // the trims.
  Alignment backward_;
  Alignment forward_;
  Alignment trimmed_;
  MapperSearch extension_;  // the search of the text being reported
  uint32_t read_length_ = 0;
  // Of the current seed: the read symbols left and right of it.
  uint32_t left_part_ = 0;
  uint32_t right_part_ = 0;
  // Of the current right walk: the left end's depth and the left read
  // symbols it aligns.
  uint32_t left_depth_ = 0;
  uint32_t left_rows_ = 0;
};
