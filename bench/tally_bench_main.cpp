// Tag file generator for the ryx_tally benchmark.
//
//   tally_bench <output.fa> <tags> <length> <pool> <seed>
//
// Writes <tags> tags of <length> bases as FASTA records named by their
// index. Like a real tag library, most tags come from a pool of <pool>
// distinct tags drawn with Zipf-like weights (weight 1 / rank), so a few
// are seen very often and many only a few times; one tag in ten is a fresh
// random tag (a sequencing error, nearly always seen once) and one in two
// hundred has an N somewhere.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: tally_bench <output.fa> <tags> <length> <pool> <seed>\n");
    return 1;
  }
  const long long tags = atoll(argv[2]);
  const int length = atoi(argv[3]);
  const long long pool_size = atoll(argv[4]);
  std::mt19937_64 rng(strtoull(argv[5], nullptr, 10));
  FILE *out = fopen(argv[1], "wb");
  if (out == nullptr || tags < 0 || length < 1 || pool_size < 1) {
    fprintf(stderr, "tally_bench: bad arguments or cannot write %s\n", argv[1]);
    return 1;
  }
  static const char kBases[] = "ACGT";
  auto random_tag = [&](std::string &tag) {
    for (int i = 0; i < length; i++) tag[static_cast<size_t>(i)] = kBases[rng() & 3];
  };
  std::vector<std::string> pool(static_cast<size_t>(pool_size), std::string(static_cast<size_t>(length), 'A'));
  for (std::string &tag : pool) random_tag(tag);
  // Cumulative 1 / rank weights, searched by bisection.
  std::vector<double> cumulative(pool.size());
  double sum = 0;
  for (size_t i = 0; i < pool.size(); i++) cumulative[i] = sum += 1.0 / static_cast<double>(i + 1);
  std::uniform_real_distribution<double> uniform(0.0, sum);
  std::string tag(static_cast<size_t>(length), 'A');
  for (long long i = 0; i < tags; i++) {
    const uint64_t kind = rng() % 200;
    if (kind < 20) {
      random_tag(tag);
    } else {
      const double x = uniform(rng);
      size_t lo = 0, hi = cumulative.size() - 1;
      while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (cumulative[mid] < x) lo = mid + 1;
        else hi = mid;
      }
      tag = pool[lo];
    }
    if (kind == 20) tag[rng() % static_cast<size_t>(length)] = 'N';
    fprintf(out, ">%lld\n%s\n", i, tag.c_str());
  }
  if (fclose(out) != 0) {
    fprintf(stderr, "tally_bench: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
