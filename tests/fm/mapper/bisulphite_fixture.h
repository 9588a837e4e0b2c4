// Shared pieces of the bisulphite mapping tests: a random genome indexed
// twice, C->T converted (the main set) and G->A converted (the second
// set), lent to the parameters of each case, and the treatment that turns
// the Cs of a strand into Ts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>

#include "mapping_fixture.h"

namespace map_test {

constexpr unsigned char kCtoT[6] = {0, 3, 2, 3, 4, 5};
constexpr unsigned char kGtoA[6] = {0, 1, 0, 3, 4, 5};

// The four strands a bisulphite read or fragment can come from.
enum Kind { kOriginalTop, kOriginalBottom, kComplementTop, kComplementBottom };

// Overwrites [at, at + length) of sequence 0 with As and Ts drawn from
// rng: reads from there look the same converted either way.
inline void plant_at_stretch(Genome &genome, std::mt19937_64 &rng, uint32_t at, uint32_t length) {
  for (uint32_t i = 0; i < length; i++) genome.sequences[0][at + i] = static_cast<unsigned char>(rng() % 2 ? 3 : 0);
}

// The fixture of a bisulphite suite; Suite, the suite's own class, gives
// each suite its own genome and indexes. The suite's SetUpTestSuite builds
// its genome and passes it to index_both_ways.
template <typename Suite>
class BisulphiteSuite : public ::testing::Test {
 protected:
  // Takes genome over and indexes it both ways.
  static void index_both_ways(Genome genome) {
    genome_ = new Genome(std::move(genome));
    main_ = new MapperIndex(index_genome(*genome_, kCtoT, false));
    second_ = new MapperIndex(index_genome(*genome_, kGtoA, true));
  }
  static void TearDownTestSuite() {
    delete main_;
    delete second_;
    delete genome_;
    main_ = second_ = nullptr;
    genome_ = nullptr;
  }

  // Parameters of a bisulphite run holding the suite's two indexes, which
  // go back to the suite when the case is done.
  struct Setup {
    explicit Setup(bool non_directional) {
      parameters.bisulphite = true;
      parameters.non_directional = non_directional;
      parameters.main_set.push_back(std::move(*main_));
      parameters.bisulphite_set.push_back(std::move(*second_));
    }
    ~Setup() {
      *main_ = std::move(parameters.main_set[0]);
      *second_ = std::move(parameters.bisulphite_set[0]);
    }
    MapperParameters parameters;
  };

  // A strand after treatment: every C becomes T unless methylated (most Cs
  // before a G, few others).
  static Symbols convert(std::mt19937_64 &rng, Symbols strand) {
    for (size_t i = 0; i < strand.size(); i++) {
      if (strand[i] != 1) continue;
      const bool cpg = i + 1 < strand.size() && strand[i + 1] == 2;
      if (rng() % 100 >= (cpg ? 70u : 2u)) strand[i] = 3;
    }
    return strand;
  }

  static Genome *genome_;
  static MapperIndex *main_;
  static MapperIndex *second_;
};

template <typename Suite>
Genome *BisulphiteSuite<Suite>::genome_ = nullptr;
template <typename Suite>
MapperIndex *BisulphiteSuite<Suite>::main_ = nullptr;
template <typename Suite>
MapperIndex *BisulphiteSuite<Suite>::second_ = nullptr;

}  // namespace map_test
