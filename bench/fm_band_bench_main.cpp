// Throughput of the banded dynamic programming of the read mapper.
//
//   fm_band_bench [seconds per case]   (default 1)
//
// For read parts of 100 and 1000 symbols and four scoring set-ups (linear
// and affine gaps, local and global ends) it starts a band per part and
// computes every column in order, as an extender going straight down; a
// second run walks depth first with a branch every few columns, rolling
// columns back as an extender does. It prints columns per second and band
// cells per second.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/platform.h"
#include "fm/mapper/mapper_band.h"

namespace {

struct Setup {
  char const *name;
  int32_t match, mismatch, gap_open, gap_cost, deletion_open, deletion_cost;
  bool global;
};

struct Part {
  std::vector<uint8_t> read;
  std::vector<uint8_t> ref;
};

unsigned long long g_state = 88172645463325252ULL;
unsigned next_random() {
  g_state = g_state * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<unsigned>(g_state >> 33);
}

// A read part and its reference: the read with about 4 % substitutions
// and 1 % insertions and deletions, then random symbols for the columns
// beyond the read.
Part make_part(uint32_t length, size_t columns) {
  Part p;
  p.read.resize(length);
  for (auto &x : p.read) x = static_cast<uint8_t>(next_random() % 4);
  for (uint8_t x : p.read) {
    unsigned roll = next_random() % 100;
    if (roll < 4) {
      p.ref.push_back(static_cast<uint8_t>(next_random() % 4));
    } else if (roll == 4) {
      continue;
    } else if (roll == 5) {
      p.ref.push_back(static_cast<uint8_t>(next_random() % 4));
      p.ref.push_back(x);
    } else {
      p.ref.push_back(x);
    }
  }
  while (p.ref.size() < columns + 1) p.ref.push_back(static_cast<uint8_t>(next_random() % 4));
  return p;
}

struct Result {
  unsigned long long columns = 0;
  unsigned long long cells = 0;
  long long check = 0;
};

// Starts the band over a part and computes every column in order.
void straight(MapperBand *band, Part const &p, bool global, Result *out) {
  band->update_parameters(static_cast<uint32_t>(p.read.size()), 0, global, p.ref.data(), p.read.data());
  uint32_t columns = band->column_count();
  for (uint32_t c = 0; c < columns; c++) out->check += band->column(c, p.ref[c]) & 7;
  out->columns += columns;
  out->cells += static_cast<unsigned long long>(columns) * band->band_height();
}

// Depth first: at every eighth column a side branch with other symbols is
// walked for up to eight columns, then the main path rolls back and goes
// on.
void walk(MapperBand *band, Part const &p, bool global, Result *out) {
  band->update_parameters(static_cast<uint32_t>(p.read.size()), 0, global, p.ref.data(), p.read.data());
  uint32_t columns = band->column_count();
  unsigned long long computed = 0;
  for (uint32_t c = 0; c < columns; c++) {
    if (c % 8 == 0) {
      for (uint32_t d = c; d < columns && d < c + 8; d++) {
        out->check += band->column(d, static_cast<uint8_t>((p.ref[d] + 1) % 4)) & 7;
        computed++;
      }
    }
    out->check += band->column(c, p.ref[c]) & 7;
    computed++;
  }
  out->columns += computed;
  out->cells += computed * band->band_height();
}

void run(Setup const &s, uint32_t length, double seconds, bool depth_first) {
  std::unique_ptr<MapperBand> band(
      MapperBand::create(s.match, s.mismatch, s.gap_open, s.gap_cost, s.deletion_open, s.deletion_cost));
  // A band has at most twice as many columns as rows.
  std::vector<Part> parts;
  for (int i = 0; i < 64; i++) parts.push_back(make_part(length, 2 * length + 8));
  Result result;
  uint64_t start = platform_steady_clock_ns();
  uint64_t limit = start + static_cast<uint64_t>(seconds * 1e9);
  uint64_t now = start;
  unsigned long long parts_done = 0;
  while (now < limit) {
    for (Part const &p : parts) {
      if (depth_first) {
        walk(band.get(), p, s.global, &result);
      } else {
        straight(band.get(), p, s.global, &result);
      }
      parts_done++;
    }
    now = platform_steady_clock_ns();
  }
  double elapsed = static_cast<double>(now - start) / 1e9;
  auto const *v = static_cast<VectorizedMapperBand const *>(band.get());
  printf("%-14s %5u rows  %-11s  band %4u x %5u  %s  %11.0f columns/s  %7.1f Mcells/s  (%llu parts, check %lld)\n",
         s.name, length, depth_first ? "depth-first" : "straight", band->band_height(), band->column_count(),
         v->step_up_column() > band->column_count() ? "16-bit" : "32-bit", static_cast<double>(result.columns) / elapsed,
         static_cast<double>(result.cells) / elapsed / 1e6, parts_done, result.check % 1000);
}

}  // namespace

int main(int argc, char **argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 1.0;
  if (seconds <= 0) {
    fprintf(stderr, "usage: fm_band_bench [seconds per case]\n");
    return 1;
  }
  const Setup setups[] = {
      {"linear local", 1, 2, 0, 3, 0, 3, false},
      {"linear global", 1, 2, 0, 3, 0, 3, true},
      {"affine local", 1, 4, 6, 1, 6, 1, false},
      {"affine global", 1, 4, 6, 1, 6, 1, true},
  };
  for (uint32_t length : {100U, 1000U}) {
    for (Setup const &s : setups) {
      run(s, length, seconds, false);
      run(s, length, seconds, true);
    }
  }
  return 0;
}
