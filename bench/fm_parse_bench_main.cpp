// Throughput of the FASTA/FASTQ parser.
//
//   fm_parse_bench generate <path> <megabytes> <read length>
//       writes a FASTQ file of random reads of about that size;
//   fm_parse_bench parse <path>...
//       parses each file and prints sequences, bases, bytes, seconds and
//       MB/s (stored bytes per second, 1 MB = 10^6 bytes).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/platform.h"
#include "fm/runtime/file.h"
#include "fm/runtime/sequence_parser.h"

namespace {

int generate(char const *path, long long megabytes, int read_length) {
  FILE *out = fopen(path, "wb");
  if (out == nullptr) {
    fprintf(stderr, "Cannot create %s\n", path);
    return 1;
  }
  // A small linear congruential generator: the data only has to look like
  // reads, and this keeps generation far faster than parsing.
  unsigned long long state = 88172645463325252ULL;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state >> 33);
  };
  std::string record;
  long long target = megabytes * 1000000LL;
  long long written = 0;
  for (long long n = 0; written < target; n++) {
    record = "@bench_read_" + std::to_string(n) + " length=" + std::to_string(read_length) + "\n";
    for (int i = 0; i < read_length; i++) record.push_back("ACGTACGTACGTACGN"[next() & 15]);
    record += "\n+\n";
    for (int i = 0; i < read_length; i++) record.push_back(static_cast<char>('#' + next() % 40));
    record.push_back('\n');
    fwrite(record.data(), 1, record.size(), out);
    written += static_cast<long long>(record.size());
  }
  if (fclose(out) != 0) {
    fprintf(stderr, "Cannot write %s\n", path);
    return 1;
  }
  return 0;
}

int parse(char const *path) {
  File *file = File::open(path, false);
  if (file == nullptr) {
    fprintf(stderr, "Cannot open %s\n", path);
    return 1;
  }
  long long size = file->size();
  uint64_t start = platform_steady_clock_ns();
  SequenceParser *parser = SequenceParser::create(file);
  unsigned long long sequences = 0;
  unsigned long long bases = 0;
  unsigned long long check = 0;
  while (Sequence *s = parser->getNextSequence()) {
    sequences++;
    bases += s->length;
    // Touch the results so the work cannot be skipped.
    if (s->length > 0) check += s->symbols[s->length - 1] + (s->qualities != nullptr ? s->qualities[0] : 0);
    delete s;
  }
  delete parser;
  double seconds = static_cast<double>(platform_steady_clock_ns() - start) / 1e9;
  printf("%s: %llu sequences, %llu bases, %lld bytes in %.3f s: %.1f MB/s (check %llu)\n", path, sequences, bases,
         size, seconds, static_cast<double>(size) / 1e6 / seconds, check % 1000);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[1], "generate") == 0) return generate(argv[2], atoll(argv[3]), atoi(argv[4]));
  if (argc >= 3 && strcmp(argv[1], "parse") == 0) {
    for (int i = 2; i < argc; i++) {
      if (parse(argv[i]) != 0) return 1;
    }
    return 0;
  }
  fprintf(stderr, "usage: fm_parse_bench generate <path> <megabytes> <read length>\n"
                  "       fm_parse_bench parse <path>...\n");
  return 1;
}
