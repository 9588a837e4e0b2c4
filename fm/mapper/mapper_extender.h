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
// This header holds what both share: the interface, the walk with its
// bound on branching, the reference buffer the walk writes its path into,
// and the duplicate test.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "fm/index/bidirectional_search.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_result.h"
#include "fm/mapper/mapper_seeder.h"

class MapperParameters;

class MapperExtender {
 public:
  MapperExtender() = default;
  virtual ~MapperExtender() = default;
  MapperExtender(const MapperExtender &) = delete;
  MapperExtender &operator=(const MapperExtender &) = delete;

  // Extends every seed of seeds, in list order, filing the alignments found
  // into result (which the caller has cleared) and raising its best score.
  virtual void run(MapperRead *read, MapperSeeds *seeds, MapperResult *result) = 0;
};

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

// The depth-first walk of one side from root (the side's start text).
// preorder(i) visits node i on the way down (the root included, whose
// score is start_score) and returns whether to descend from it; the
// children, the one-symbol extensions in direction (0 append, 1 prepend)
// with codes 0 to 4 that occur, are pushed in the order 4, 3, 2, 1, 0, so
// that code 0 is visited first. The first child of a node is free, every
// further one takes one of kExtensionExtraBranches; once they are spent a
// node gets its first child only. postorder(i) visits node i once all its
// children are done. Nodes are addressed by stack position because the
// stack grows while the walk runs; it keeps its room for the next walk.
template <typename Preorder, typename Postorder>
void walk_extension_tree(std::vector<MapperExtensionNode> &stack, const BidirectionalSearch &root, int direction,
                         int32_t start_score, Preorder &&preorder, Postorder &&postorder) {
  stack.clear();
  MapperExtensionNode &first = stack.emplace_back();
  first.search = root;
  first.score = start_score;
  first.path_best = start_score;
  int extra = kExtensionExtraBranches;
  // The parent of the node popped last: when it is on top again, its
  // children are done.
  int32_t finished_parent = -2;
  while (!stack.empty()) {
    const int32_t top = static_cast<int32_t>(stack.size()) - 1;
    if (top == finished_parent) {
      postorder(top);
      finished_parent = stack[top].parent;
      stack.pop_back();
      continue;
    }
    int pushed = 0;
    if (preorder(top)) {
      BidirectionalSearch next[6];
      stack[top].search.add_all_symbols(direction, next);
      const uint32_t depth = stack[top].depth + 1;
      for (int code = 4; code >= 0; code--) {
        if (next[code].count() == 0) continue;
        if (pushed > 0) {
          if (extra == 0) break;
          extra--;
        }
        MapperExtensionNode &child = stack.emplace_back();
        child.search = next[code];
        child.parent = top;
        child.code = static_cast<uint8_t>(code);
        child.depth = depth;
        pushed++;
      }
    }
    if (pushed == 0) {
      postorder(top);
      finished_parent = stack[top].parent;
      stack.pop_back();
    }
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
