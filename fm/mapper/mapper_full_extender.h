// The extender of reads of the normal technology: banded alignment along
// a depth-first walk of the FM index.
//
// For each seed the left walk prepends reference symbols, one column of
// the left band per node, the left read part read backwards. Every node
// that ends a left alignment (its score is at least that of its ancestors
// and above that of its descendants) starts the right band anew at that
// left end, over the whole read from the first left symbol aligned: the
// columns of the known reference (left part and seed) are computed at
// once, then the right walk appends symbols beyond the seed. Every right
// end that reaches the read's best score is traced back on the right band,
// tidied and filed. The right band thus holds the whole alignment, and the
// left band only finds where it starts.
#pragma once

#include <cstdint>

#include "fm/mapper/alignment.h"
#include "fm/mapper/mapper_band.h"
#include "fm/mapper/mapper_extender.h"

class MapperParameters;

// One side of an extension.
struct MapperFullExtension : MapperExtensionSide {
  MapperBand *band = nullptr;  // owned
  uint32_t end_rows = 0;       // rows of the alignment being reported
  uint32_t end_columns = 0;    // columns of the alignment being reported
};

class MapperFullExtender : public MapperExtender {
 public:
  // Bands for the costs of parameters; the parameters must outlive the
  // extender.
  explicit MapperFullExtender(const MapperParameters *parameters);
  ~MapperFullExtender() override;

  // Sets the result's best score to the floor of extender_floor_score,
  // then extends every seed in list order and writes each seed's score:
  // the best end score its extension reached (at least 0), or read length
  // x match for a seed that covers the whole read.
  void run(MapperRead *read, MapperSeeds *seeds, MapperResult *result) override;

  // Whether a walk stops below a one-occurrence node that can no longer
  // reach the best score of its path (on by default). Such a node's chain
  // ends no alignment, so the results are the same either way; only the
  // work differs.
  void stop_hopeless_chains(bool on) { stop_hopeless_ = on; }

 private:
  void extend_seed();
  void aligner_traverse(int direction, int32_t start_score);
  bool aligner_preorder(int direction, int32_t node, uint32_t depth);
  void left_end(int32_t node, uint32_t depth);
  void right_end(int32_t node, uint32_t depth);
  void aligner_report(MapperFullExtension *extension, uint32_t end_rows, uint32_t end_columns);
  uint32_t aligner_backtrace_complex(bool with_clips);
  // Rewrites the traced code (reverse order) so that an insertion run and
  // a deletion run that touch become match columns and the excess of the
  // longer run.
  void collapse_walk();
  MapperFullExtension &side(int direction) { return direction == 1 ? left_ : right_; }

  MapperFullExtension right_;
  MapperFullExtension left_;
  // The walk's operations (reverse order), before they become the code.
  Alignment walk_;
  int32_t seed_score_ = 0;
  int32_t left_start_score_ = 0;  // the left root's score of the current seed
  // Of the current right band: the end of the best known-reference column.
  uint32_t known_best_end_ = 0;
  bool collapse_ = false;
  bool stop_hopeless_ = true;
};
