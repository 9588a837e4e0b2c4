// Word counter benchmark: simulates a random genome read at a coverage
// with substitutions, loads the reads into the packed read store, builds
// the word counter, and prints the load and build times, the word
// throughput of the build, the table size and, from the simulation's
// truth, the share of genomic words counted and of the words that hold a
// substitution counted (those include the few that another read repeats).
//
// usage: word_counter_bench [genome length [coverage [k [error rate]]]]
//        (default 1000000 30 21 0.01; 100-base reads on both strands)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_support.h"
#include "common/clock.h"
#include "common/cpus.h"
#include "denovo/reads/read_store.h"
#include "denovo/reads/word_counter.h"
#include "denovo/reads/word_counter_lookup.h"
#include "denovo/reads/word_counter_pass.h"

namespace {

using bench::Generator;
using bench::seconds_since;

constexpr uint32_t kReadLength = 100;



}  // namespace

int main(int argc, char **argv) {
  const long long genome_length = argc > 1 ? atoll(argv[1]) : 1000000;
  const int coverage = argc > 2 ? atoi(argv[2]) : 30;
  const int k = argc > 3 ? atoi(argv[3]) : 21;
  const double error_rate = argc > 4 ? atof(argv[4]) : 0.01;
  if (genome_length < kReadLength || coverage < 1 || k < 12 || k > 32 || error_rate < 0 || error_rate >= 1) {
    fprintf(stderr, "usage: word_counter_bench [genome length >= 100 [coverage [k 12-32 [error rate]]]]\n");
    return 1;
  }
  Generator rng(20240601);
  std::vector<uint8_t> genome(static_cast<size_t>(genome_length));
  for (auto &c : genome) c = static_cast<uint8_t>(rng.next() & 3);

  // Reads go straight into the store; only the error positions of the
  // reads are kept for the false-count check.
  const long long read_count = genome_length * coverage / kReadLength;
  std::vector<uint8_t> error_flags;  // per read and position, for every 10th read
  std::vector<std::vector<uint8_t>> sampled_reads;
  int64_t start = time_get_usec();
  read_store_t *store = read_store_new_empty(kReadStoreBlockCapacity);
  seq_record_t *record = seq_record_new(kReadLength);
  for (long long i = 0; i < read_count; i++) {
    const uint64_t from = rng.next() % static_cast<uint64_t>(genome_length - kReadLength + 1);
    const bool reverse = rng.next() & 1;
    std::vector<uint8_t> errors(kReadLength, 0);
    for (uint32_t j = 0; j < kReadLength; j++) {
      uint8_t c = reverse ? static_cast<uint8_t>(3 - genome[from + kReadLength - 1 - j]) : genome[from + j];
      if (rng.unit() < error_rate) {
        c = static_cast<uint8_t>((c + 1 + rng.next() % 3) & 3);
        errors[j] = 1;
      }
      record->residues[j] = c;
    }
    read_store_on_read(record, store);
    if (i % 10 == 0) {
      sampled_reads.emplace_back(record->residues, record->residues + kReadLength);
      error_flags.insert(error_flags.end(), errors.begin(), errors.end());
    }
  }
  seq_record_free(record);
  read_store_finish(store);
  const double load_time = seconds_since(start);

  start = time_get_usec();
  word_counter_t *counter = word_counter_build(store, nullptr, k, nullptr);
  const double build_time = seconds_since(start);

  // Words the passes scanned: every pass reads the whole store but the
  // stopped first passes of the sizes that proved too small.
  int refinements = 0;
  for (int i = 2; i < 7; i++)
    if (word_hash_multipliers[i] == counter->tables->count_table.multiplier) refinements = i - 2;
  const double words_per_pass = static_cast<double>(read_count) * (kReadLength - k + 1);
  const double full_passes = 2 + refinements;

  std::vector<uint64_t> genomic;
  long long counted = 0;
  for (long long p = 0; p + k <= genome_length; p++) {
    counted += word_counter_get_count(counter, genome.data() + p) > 0;
    genomic.push_back(word_counter_canonical_word(counter, genome.data() + p).low);
  }
  std::sort(genomic.begin(), genomic.end());
  long long error_words = 0, false_counts = 0;
  for (size_t i = 0; i < sampled_reads.size(); i++) {
    for (uint32_t s = 0; s + k <= kReadLength; s++) {
      const uint8_t *flags = error_flags.data() + i * kReadLength + s;
      if (std::find(flags, flags + k, 1) == flags + k) continue;
      const uint8_t *word = sampled_reads[i].data() + s;
      if (std::binary_search(genomic.begin(), genomic.end(), word_counter_canonical_word(counter, word).low)) continue;
      error_words++;
      false_counts += word_counter_get_count(counter, word) > 0;
    }
  }

  printf("genome %lld, coverage %d, k %d, error rate %.3f, %d threads\n", genome_length, coverage, k, error_rate,
         get_number_of_cpus());
  printf("reads %llu, nucleotides %llu, read store %d blocks\n", static_cast<unsigned long long>(store->read_count),
         static_cast<unsigned long long>(store->nucleotide_count), store->block_count);
  printf("load %.3f s\n", load_time);
  printf("build %.3f s: table 2^%d, %d refinements, %.1f million words per second over %g full passes\n",
         build_time, counter->log_size, refinements, words_per_pass * full_passes / build_time / 1e6, full_passes);
  printf("counter memory %llu bytes\n", static_cast<unsigned long long>(word_counter_get_memory_size(counter)));
  printf("genomic words counted %.5f, words with errors counted %.4f (of %lld sampled)\n",
         static_cast<double>(counted) / static_cast<double>(genome_length - k + 1),
         error_words ? static_cast<double>(false_counts) / error_words : 0.0, error_words);
  word_counter_free(counter);
  read_store_free(store);
  return 0;
}
