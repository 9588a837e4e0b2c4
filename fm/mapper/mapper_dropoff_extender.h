// The extender of long reads: X-drop alignment along a depth-first walk of
// the FM index.
//
// The scheme is that of the full extender (a left walk, then a right walk
// from every left end that qualifies, the right matrix holding the whole
// alignment), with a MapperRay in place of the band: a matrix that keeps
// only the rows within the drop-off of the best score, which suits reads
// with many insertion and deletion errors. Each seed is also filed by
// itself, soft-clipped, before it is extended, so that a read keeps its
// seed's place even when no extension scores better.
#pragma once

#include <cstdint>

#include "fm/mapper/mapper_extender.h"
#include "fm/mapper/mapper_ray.h"

class MapperParameters;

// One side of an extension.
struct MapperDropoffExtension : MapperExtensionSide {
  MapperRay ray;
  int32_t end_row = 0;  // end of the alignment being reported
  int32_t end_column = 0;
};

class MapperDropoffExtender : public MapperExtender {
 public:
  // The drop-off of every run: the score a column's rows may lie below the
  // best before they are dropped.
  static constexpr int64_t kDropoff = 50;

  // The parameters must outlive the extender.
  explicit MapperDropoffExtender(const MapperParameters *parameters);

  // Sets the result's best score to the floor of extender_floor_score,
  // then files and extends every seed in list order. Seeds' scores are not
  // written.
  void run(MapperRead *read, MapperSeeds *seeds, MapperResult *result) override;

 private:
  void extend_seed();
  void aligner_traverse(int direction, int32_t start_score);
  bool aligner_preorder(int direction, int32_t node, uint32_t depth);
  void left_end(int32_t node, uint32_t depth);
  void right_end(int32_t node, uint32_t depth);
  void aligner_report(MapperDropoffExtension *extension, int32_t end_row, int32_t end_column);
  uint32_t aligner_backtrace_complex(bool with_clips);
  MapperDropoffExtension &side(int direction) { return direction == 1 ? left_ : right_; }

  MapperDropoffExtension right_;
  MapperDropoffExtension left_;
  int64_t dropoff_ = kDropoff;
  // Of the current right ray: the best column over the known text.
  int32_t known_best_column_ = 0;
};
