// Scores an nyr mapping file of simulated reads (see read_simulator): the
// share of reads whose reported hit lies at their true place, the share
// reported elsewhere and the share left unmapped.
//
//   read_evaluator result.nyr reads.fq [mates.fq]
//
// The entries of the file are matched to the reads in order: one entry per
// read of reads.fq, or, with mates.fq, entries alternating between the two
// files (mate 1, mate 2, mate 1, ...). A hit is at the true place when it
// lies on the read's sequence and strand and its first reference base is
// within 10 bases of the first reference base the read covers. Only the
// first hit of an entry is scored: with one reported hit per read that is
// the mapper's answer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/read_simulation.h"
#include "seqio/nyr_file.h"
#include "seqio/nyr_hit.h"

namespace {

constexpr int64_t kTolerance = 10;

// The names of a FASTQ file, one record of four lines at a time.
class NameReader {
 public:
  explicit NameReader(const char *path) : path_(path), file_(fopen(path, "rb")) {
    if (file_ == nullptr) {
      fprintf(stderr, "read_evaluator: cannot open '%s'\n", path);
      exit(1);
    }
  }
  ~NameReader() { fclose(file_); }
  // The next read's name; false at the end of the file.
  bool next(std::string *name) {
    if (!line(&header_)) return false;
    std::string skip;
    if (header_.empty() || header_[0] != '@' || !line(&skip) || !line(&skip) || !line(&skip)) {
      fprintf(stderr, "read_evaluator: '%s' is not a FASTQ file of four-line records\n", path_);
      exit(1);
    }
    *name = header_.substr(1);
    return true;
  }

 private:
  bool line(std::string *out) {
    out->clear();
    int c;
    while ((c = fgetc(file_)) != EOF && c != '\n') out->push_back(static_cast<char>(c));
    return c != EOF || !out->empty();
  }
  const char *path_;
  FILE *file_;
  std::string header_;
};

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: read_evaluator result.nyr reads.fq [mates.fq]\n");
    return 1;
  }
  nyr_file_t *result = nyr_file_read(argv[1], 1);
  NameReader first(argv[2]);
  NameReader *second = argc == 4 ? new NameReader(argv[3]) : nullptr;

  uint64_t reads = 0, correct = 0, wrong = 0, unmapped = 0, multiple = 0;
  std::string name;
  for (;; reads++) {
    NameReader *source = second != nullptr && reads % 2 == 1 ? second : &first;
    if (!source->next(&name)) break;
    if (reads >= result->read_count) {
      fprintf(stderr, "read_evaluator: the reads outnumber the %llu entries of '%s'\n",
              static_cast<unsigned long long>(result->read_count), argv[1]);
      return 1;
    }
    uint32_t sequence = 0, start = 0;
    bool reverse = false;
    if (!parse_simulated_read_name(name.c_str(), &sequence, &start, &reverse)) {
      fprintf(stderr, "read_evaluator: read name '%s' does not tell where the read came from\n", name.c_str());
      return 1;
    }
    const nyr_match_t *hit = nyr_file_get_match(result, reads);
    if (hit == nullptr) {
      unmapped++;
      continue;
    }
    if (nyr_match_get_count(hit) > 1) multiple++;
    const int64_t shift = static_cast<int64_t>(nyr_match_get_position(hit)) - static_cast<int64_t>(start);
    const bool same_strand = (nyr_match_is_reverse(hit) != 0) == reverse;
    if (hit->contig == sequence && same_strand && shift >= -kTolerance && shift <= kTolerance) {
      correct++;
    } else {
      wrong++;
    }
  }
  if (reads != result->read_count) {
    fprintf(stderr, "read_evaluator: '%s' holds %llu entries for %llu reads\n", argv[1],
            static_cast<unsigned long long>(result->read_count), static_cast<unsigned long long>(reads));
    return 1;
  }
  const double n = reads > 0 ? static_cast<double>(reads) : 1.0;
  printf("reads: %llu\n", static_cast<unsigned long long>(reads));
  printf("at the true position: %.3f %%\n", 100.0 * static_cast<double>(correct) / n);
  printf("elsewhere: %.3f %%\n", 100.0 * static_cast<double>(wrong) / n);
  printf("unmapped: %.3f %%\n", 100.0 * static_cast<double>(unmapped) / n);
  printf("with more than one hit: %.3f %%\n", 100.0 * static_cast<double>(multiple) / n);
  delete second;
  nyr_file_free(result);
  return 0;
}
