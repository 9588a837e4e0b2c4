// Index build benchmark: generates a reference FASTA file, then builds its
// bidirectional index from the file on all cores (or the given number of
// threads) and writes the index file, printing the time of each stage and
// the sizes. Peak memory is measured around the build process by the
// script beside it.
//
// usage: fm_index_build_bench generate <file.fa> <megabases>
//        fm_index_build_bench build <file.fa> [threads [index file]]
//
// The generated reference mimics a genome assembly: chromosomes of uneven
// length (about a tenth of the total each, the rest in smaller contigs and
// a few circular plasmids), interspersed copies of repeat families with
// point differences, tandem repeats and runs of N.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/clock.h"
#include "fm/index/fasta_index_builder.h"
#include "fm/index/index_file.h"
#include "fm/runtime/buffered_writer.h"
#include "fm/runtime/file.h"

namespace {

using bench::Generator;
using bench::seconds_since;



void append_sequence(Generator &gen, std::string &out, uint64_t length, const std::vector<std::string> &families) {
  static const char kBases[4] = {'A', 'C', 'G', 'T'};
  std::string s;
  s.reserve(length);
  while (s.size() < length) {
    const uint64_t roll = gen.below(1000);
    if (roll < 3) {
      // One copy of a repeat family, 1 % of its bases changed.
      std::string copy = families[gen.below(families.size())];
      for (char &c : copy)
        if (gen.below(100) == 0) c = kBases[gen.below(4)];
      s += copy;
    } else if (roll < 4) {
      const std::string unit = s.size() > 8 ? s.substr(s.size() - 2 - gen.below(6)) : "CA";
      for (uint64_t k = gen.below(40); k > 0; k--) s += unit;
    } else if (roll < 5 && gen.below(20) == 0) {
      s.append(1 + gen.below(5000), 'N');
    } else {
      for (int k = 0; k < 200; k++) s.push_back(kBases[gen.next() >> 62]);
    }
  }
  s.resize(length);
  for (size_t at = 0; at < s.size(); at += 80) out.append(s, at, 80).push_back('\n');
}

int generate(const char *path, double megabases) {
  Generator gen(7);
  std::vector<std::string> families;
  for (int f = 0; f < 30; f++) {
    std::string unit;
    for (uint64_t k = 300 + gen.below(6000); k > 0; k--) unit.push_back("ACGT"[gen.next() >> 62]);
    families.push_back(unit);
  }
  const uint64_t total = static_cast<uint64_t>(megabases * 1e6);
  FILE *out = fopen(path, "wb");
  if (out == nullptr) {
    perror(path);
    return 1;
  }
  uint64_t written = 0;
  int number = 0;
  while (written < total) {
    const uint64_t left = total - written;
    uint64_t length;
    const char *kind = "chromosome";
    if (written < total * 85 / 100) length = total / 10 + gen.below(total / 10 + 1);
    else if (gen.below(10) == 0) length = 2000 + gen.below(200000), kind = "plasmid";
    else length = 1000 + gen.below(100000), kind = "contig";
    if (length > left) length = left;
    std::string text = ">" + std::string(kind) + "_" + std::to_string(++number) + "\n";
    append_sequence(gen, text, length, families);
    fwrite(text.data(), 1, text.size(), out);
    written += length;
  }
  fclose(out);
  printf("generated %s: %.1f Mbp in %d sequences\n", path, total / 1e6, number);
  return 0;
}

int build(const char *path, int threads, const char *index_path) {
  int64_t start = time_get_usec();
  FastaIndexBuilder builder(8ull << 30, 250000000, 4, nullptr, threads);
  File *file = File::open(path, false);
  if (file == nullptr) {
    fprintf(stderr, "Could not open %s\n", path);
    return 1;
  }
  builder.parse_file(file, 0);
  builder.finish();
  std::vector<FastaIndexBuilder::SequenceInfo> infos = builder.get_sequence_info();
  std::unique_ptr<BidirectionalMatcher> matcher = builder.get_result();
  const double build_seconds = seconds_since(start);

  std::vector<MapperIndexRef> refs;
  uint64_t bases = 0;
  for (const auto &info : infos) {
    refs.push_back({info.length, info.circular != 0});
    bases += info.length;
  }
  start = time_get_usec();
  std::vector<MapperIndex> list;
  list.emplace_back(std::move(matcher), std::move(refs), 0, 10, false);
  const double table_seconds = seconds_since(start);
  const BidirectionalMatcher &m = *list[0].matcher;
  printf("%s: %.1f Mbp in %zu sequences\n", path, bases / 1e6, infos.size());
  printf("  index build:   %.2f s (%.1f ns per base)\n", build_seconds, build_seconds * 1e9 / bases);
  printf("  k-mer table:   %.2f s (depth 10)\n", table_seconds);
  printf("  text array:    %.1f MB (%.3f bytes per base)\n", m.text_array()->memory_usage() / 1e6,
         static_cast<double>(m.text_array()->memory_usage()) / bases);
  printf("  reversed:      %.1f MB\n", m.reversed_array()->memory_usage() / 1e6);
  printf("  whole index:   %.1f MB (%.3f bytes per base)\n", m.memory_usage() / 1e6,
         static_cast<double>(m.memory_usage()) / bases);
  if (index_path != nullptr) {
    start = time_get_usec();
    MapperFileInfo info{infos.size(), bases, path};
    {
      BufferedWriter writer(File::create(index_path));
      write_index_file(1, list.data(), nullptr, {info}, &writer);
    }
    printf("  index file:    %.2f s to write\n", seconds_since(start));
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 4 && strcmp(argv[1], "generate") == 0) return generate(argv[2], atof(argv[3]));
  if (argc >= 3 && strcmp(argv[1], "build") == 0)
    return build(argv[2], argc > 3 ? atoi(argv[3]) : 0, argc > 4 ? argv[4] : nullptr);
  fprintf(stderr,
          "usage: fm_index_build_bench generate <file.fa> <megabases>\n"
          "       fm_index_build_bench build <file.fa> [threads [index file]]\n");
  return 1;
}
