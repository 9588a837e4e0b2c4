// Single-sequence index benchmark: builds the Burrows-Wheeler array of one
// generated sequence (rotation sort, fill and finish) and then times rank
// queries on it.
//
// usage: fm_index_bench <random|repeat|repeat-circular> [megabases [sampling shift]]
//   random           random A, C, G, T and a separator (default 20 Mbp)
//   repeat           one random 1 kb unit repeated, then a separator
//   repeat-circular  the same without separator: indexed as one unit
//
// The process's peak memory is measured around the program by the script
// beside it; the array's own size is printed here.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "common/clock.h"
#include "fm/index/rotation_sort.h"

namespace {

using bench::Generator;
using bench::seconds_since;



}  // namespace

int main(int argc, char **argv) {
  const char *mode = argc > 1 ? argv[1] : "";
  const double megabases = argc > 2 ? atof(argv[2]) : 20.0;
  const int shift = argc > 3 ? atoi(argv[3]) : 4;
  const bool random = strcmp(mode, "random") == 0;
  const bool repeat = strcmp(mode, "repeat") == 0;
  const bool circular = strcmp(mode, "repeat-circular") == 0;
  if ((!random && !repeat && !circular) || megabases <= 0 || megabases > 2000 || shift < -1 || shift > 30) {
    fprintf(stderr, "usage: fm_index_bench <random|repeat|repeat-circular> [megabases [sampling shift]]\n");
    return 1;
  }
  const uint32_t bases = static_cast<uint32_t>(megabases * 1e6);
  const uint32_t n = circular ? bases : bases + 1;
  unsigned char *x = static_cast<unsigned char *>(malloc(n));
  Generator gen(42);
  const uint32_t unit = 1000;
  for (uint32_t i = 0; i < bases; i++) x[i] = random || i < unit ? static_cast<unsigned char>(gen.next() >> 62) : x[i - unit];
  if (!circular) x[bases] = 5;

  int64_t start = time_get_usec();
  std::unique_ptr<NucleotideArray> array = make_burrows_wheeler_sequence(x, n, 0, shift);
  const double build = seconds_since(start);

  // Rank queries at pseudo-random rows, summed so they cannot be skipped.
  const int queries = 10000000;
  uint64_t sum = 0;
  start = time_get_usec();
  for (int i = 0; i < queries; i++) {
    unsigned long long counts[7];
    array->occ_all_popcnt(gen.next() % (array->length() + 1), counts);
    sum += counts[2] + counts[5];
  }
  const double rank = seconds_since(start);

  printf("%s: %u symbols -> %llu rows\n", mode, n, array->length());
  printf("  sort and array: %.3f s (%.1f ns per symbol)\n", build, build * 1e9 / n);
  printf("  array memory:   %.1f MB (%.3f bytes per row)\n", array->memory_usage() / 1e6,
         static_cast<double>(array->memory_usage()) / array->length());
  printf("  rank queries:   %.1f ns each (checksum %llu)\n", rank * 1e9 / queries,
         static_cast<unsigned long long>(sum % 1000));
  free(x);
  return 0;
}
