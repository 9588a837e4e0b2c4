#include "fm/mapper/mapper_parameters.h"

#include <algorithm>

MapperParameters::MapperParameters() { derive_cost_bounds(); }

void MapperParameters::derive_cost_bounds() {
  uint32_t low = std::min({mismatch_cost, gap_cost, deletion_cost});
  uint32_t high = std::max({mismatch_cost, gap_cost, deletion_cost});
  smallest_cost = static_cast<int32_t>(low);
  largest_cost = static_cast<int32_t>(high);
}
