// Throughput and accuracy of the read-mapping engine on simulated single
// reads, without the program around it: no parsing, no output pipeline.
//
//   fm_mapper_bench [options]
//
// Options (defaults in brackets):
//   --genome-size N     [5000000]     --sequences K      [4]
//   --repeats R         [0]           --repeat-length L  [500]
//   --reads N           [200000]      --length L         [100]
//   --substitution F    [0.009]       --indel F          [0.001]
//   --seed S            [1]
//   --threads LIST      comma-separated thread counts [1,8]
//   --mapq              compute mapping qualities, as the mapq option does
//   --output FILE       writes the last run's hits as an nyr mapping file
//                       (one entry per read, in read order)
//
// The genome and reads are those that read_simulator writes for the same
// settings (single reads), so read_evaluator can score the nyr output
// against its FASTQ file. It builds the index in memory, then maps every
// read once per thread count: one Mapper, sampler and sample per thread,
// as the pipeline's workers hold them, taking reads in blocks from a
// shared counter. It prints reads per second (in all and per thread), the
// speed-up over the first thread count, the share of reads placed at their
// true position, elsewhere and nowhere, and a digest of every reported hit:
// equal digests mean identical output, whatever the thread count. Reads
// per processor-second (user and system time of the process over the run)
// tell a slow engine from a busy machine when the speed-up falls short.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/read_simulation.h"
#include "common/platform.h"
#include "fm/index/burrows_wheeler_index_builder.h"
#include "fm/index/mapper_index.h"
#include "fm/mapper/mapper.h"
#include "fm/mapper/mapper_parameters.h"
#include "fm/mapper/mapper_read.h"
#include "fm/mapper/mapper_result.h"
#include "fm/mapper/mapper_sampler.h"
#include "fm/mapper/nyr_writer.h"
#include "fm/runtime/file.h"
#include "fm/runtime/sequence.h"

namespace {

constexpr int64_t kTolerance = 10;  // bases between a hit and the read's true start
constexpr size_t kBlock = 256;      // reads a thread claims at a time

struct Options {
  GenomeSettings genome;
  ReadSettings reads;
  uint64_t count = 200000;
  std::vector<int> threads = {1, 8};
  bool mapq = false;
  const char *output = nullptr;
};

[[noreturn]] void usage(const std::string &problem) {
  fprintf(stderr, "fm_mapper_bench: %s\n", problem.c_str());
  fprintf(stderr,
          "usage: fm_mapper_bench [--genome-size N] [--sequences K] [--repeats R] [--repeat-length L]\n"
          "                       [--reads N] [--length L] [--substitution F] [--indel F] [--seed S]\n"
          "                       [--threads LIST] [--mapq] [--output FILE]\n");
  exit(1);
}

unsigned long long number(const char *text, unsigned long long low, unsigned long long high) {
  char *end = nullptr;
  const unsigned long long v = strtoull(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-' || v < low || v > high)
    usage(std::string("bad number '") + text + "'");
  return v;
}

double fraction(const char *text) {
  char *end = nullptr;
  const double v = strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0 && v <= 1)) usage(std::string("bad fraction '") + text + "'");
  return v;
}

Options parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 >= argc) usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--genome-size") {
      o.genome.size = number(value(), 1000, 1ULL << 34);
    } else if (a == "--sequences") {
      o.genome.sequences = static_cast<uint32_t>(number(value(), 1, 100000));
    } else if (a == "--repeats") {
      o.genome.repeats = static_cast<uint32_t>(number(value(), 0, 10000000));
    } else if (a == "--repeat-length") {
      o.genome.repeat_length = static_cast<uint32_t>(number(value(), 1, 100000000));
    } else if (a == "--reads") {
      o.count = number(value(), 1, 1ULL << 32);
    } else if (a == "--length") {
      o.reads.length = static_cast<uint32_t>(number(value(), 1, 100000));
    } else if (a == "--substitution") {
      o.reads.substitution = fraction(value());
    } else if (a == "--indel") {
      o.reads.indel = fraction(value());
    } else if (a == "--seed") {
      o.genome.seed = o.reads.seed = number(value(), 0, ~0ULL);
    } else if (a == "--threads") {
      o.threads.clear();
      std::string list = value();
      for (size_t p = 0; p <= list.size();) {
        size_t q = list.find(',', p);
        if (q == std::string::npos) q = list.size();
        o.threads.push_back(static_cast<int>(number(list.substr(p, q - p).c_str(), 1, 1024)));
        p = q + 1;
      }
    } else if (a == "--mapq") {
      o.mapq = true;
    } else if (a == "--output") {
      o.output = value();
    } else {
      usage("unknown option " + a);
    }
  }
  return o;
}

// The engine of one worker thread, with a read buffer of its own.
struct Worker {
  explicit Worker(MapperParameters *p) : mapper(p), sampler(mapper.random_state(), p->max_align) {}
  ~Worker() {
    delete forward;
    delete reverse;
  }
  // Points read at a copy of codes and its reverse complement.
  void load(const std::vector<uint8_t> &codes) {
    const unsigned n = static_cast<unsigned>(codes.size());
    if (forward == nullptr || capacity < n) {
      delete forward;
      delete reverse;
      forward = Sequence::create(n, false, nullptr);
      reverse = Sequence::create(n, false, nullptr);
      capacity = n;
    }
    forward->length = reverse->length = n;
    std::memcpy(forward->symbols, codes.data(), n);
    for (unsigned i = 0; i < n; i++) reverse->symbols[n - 1 - i] = static_cast<unsigned char>(3 - codes[i]);
    forward->symbols[n] = reverse->symbols[n] = 255;
    read.assign(forward, reverse);
  }
  Mapper mapper;
  MapperResult result;
  MapperSampler sampler;
  MapperSample sample;
  Sequence *forward = nullptr;
  Sequence *reverse = nullptr;
  unsigned capacity = 0;
  MapperRead read;
};

// What one read was reported with: its first hit and a hash of all of
// them.
struct Outcome {
  uint32_t hit_total = 0;
  uint32_t sequence = 0;
  uint32_t position = 0;
  bool mapped = false;
  bool reverse = false;
  uint8_t mapping_quality = 255;
  uint64_t hash = 0;
  std::vector<uint8_t> transcript;
};

uint64_t hash_step(uint64_t h, uint64_t x) {
  h ^= x + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
  return h * 0x100000001B3ULL;
}

void record(const MapperSample &sample, bool keep_transcript, Outcome *out) {
  out->hit_total = sample.hit_total[0];
  out->mapping_quality = sample.mapping_quality[0];
  out->mapped = !sample.entries[0].empty();
  uint64_t h = hash_step(sample.hit_total[0], sample.mapping_quality[0]);
  for (const MapperSampleEntry &e : sample.entries[0]) {
    h = hash_step(h, (static_cast<uint64_t>(e.reference_sequence) << 32) | e.position);
    h = hash_step(h, e.reverse * 2 + e.shifted);
    for (uint8_t b : e.transcript) h = hash_step(h, b);
  }
  out->hash = h;
  if (out->mapped) {
    const MapperSampleEntry &e = sample.entries[0][0];
    out->sequence = e.reference_sequence;
    out->position = e.position;
    out->reverse = e.reverse;
    if (keep_transcript) out->transcript = e.transcript;
  }
}

struct Timing {
  double wall = 0;  // seconds
  double cpu = 0;   // processor seconds of the whole process
};

// Maps every read with threads workers.
Timing map_all(MapperParameters *parameters, const std::vector<SimulatedRead> &reads, int threads,
               bool keep_transcripts, std::vector<Outcome> *outcomes) {
  std::atomic<size_t> next{0};
  const uint64_t start = platform_steady_clock_ns();
  const std::clock_t cpu_start = std::clock();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++) {
    pool.emplace_back([&] {
      Worker worker(parameters);
      for (;;) {
        const size_t first = next.fetch_add(kBlock);
        if (first >= reads.size()) break;
        const size_t last = std::min(reads.size(), first + kBlock);
        for (size_t i = first; i < last; i++) {
          worker.load(reads[i].codes);
          worker.mapper.set_technology(kMapperReadNormal);
          worker.mapper.single_run(&worker.read, &worker.result, i);
          worker.sample.clear_mate(0);
          worker.sampler.run(&worker.result, &worker.sample, 0);
          record(worker.sample, keep_transcripts, &(*outcomes)[i]);
        }
      }
    });
  }
  for (std::thread &t : pool) t.join();
  Timing timing;
  timing.wall = static_cast<double>(platform_steady_clock_ns() - start) / 1e9;
  timing.cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  return timing;
}

void write_nyr(const char *path, const SimulatedGenome &genome, const std::vector<Outcome> &outcomes,
               const MapperParameters &p) {
  File *file = File::create(path);
  if (file == nullptr) {
    fprintf(stderr, "fm_mapper_bench: cannot create '%s'\n", path);
    exit(1);
  }
  NYRWriter writer(file,
                   NYRScoringScheme(static_cast<int16_t>(p.match_score), static_cast<int16_t>(p.mismatch_cost),
                                    static_cast<int16_t>(p.gap_open), static_cast<int16_t>(p.gap_cost),
                                    static_cast<int16_t>(p.deletion_open), static_cast<int16_t>(p.deletion_cost),
                                    p.align_mode == kAlignGlobal));
  writer.set_program_info("fm_mapper_bench", "0", "fm_mapper_bench");
  NYRReferenceFile reference("genome.fa");
  for (const auto &s : genome.sequences) reference.add(static_cast<uint32_t>(s.size()), false);
  writer.add_reference_file(reference);
  NYRReadFile read_file("reads.fq", false);
  for (const Outcome &o : outcomes) {
    NYREntry entry(false);
    if (o.mapped)
      entry.add_alignment(o.sequence, o.position, false, o.reverse, o.transcript, false, false, o.mapping_quality);
    entry.add_hits(o.hit_total);
    writer.add_entry(entry);
  }
  writer.add_read_file(read_file);
}

}  // namespace

int main(int argc, char **argv) {
  const Options options = parse(argc, argv);
  const int most_threads = *std::max_element(options.threads.begin(), options.threads.end());

  uint64_t t0 = platform_steady_clock_ns();
  const SimulatedGenome genome = simulate_genome(options.genome);
  std::vector<SimulatedRead> reads(options.count);
  for (uint64_t i = 0; i < options.count; i++) simulate_read(genome, options.reads, i, &reads[i], nullptr);
  uint64_t t1 = platform_steady_clock_ns();
  printf("simulated %llu bases in %zu sequences and %llu reads of %u bases in %.2f s\n",
         static_cast<unsigned long long>(options.genome.size), genome.sequences.size(),
         static_cast<unsigned long long>(options.count), options.reads.length, static_cast<double>(t1 - t0) / 1e9);

  MapperParameters parameters;
  parameters.mapping_quality = options.mapq;
  {
    BurrowsWheelerIndexBuilder builder(nullptr, most_threads, parameters.position_sampling_shift);
    std::vector<MapperIndexRef> refs;
    for (size_t i = 0; i < genome.sequences.size(); i++) {
      const std::vector<uint8_t> &bases = genome.sequences[i];
      Sequence *s = Sequence::create(static_cast<unsigned>(bases.size()), false, nullptr);
      std::memcpy(s->symbols, bases.data(), bases.size());
      builder.add_sequence(static_cast<unsigned>(i), s, false, nullptr);
      refs.push_back({bases.size(), false});
    }
    builder.finish();
    parameters.main_set.emplace_back(builder.get_result(), std::move(refs), 0, parameters.acceleration_depth, false);
  }
  parameters.ready = true;
  uint64_t t2 = platform_steady_clock_ns();
  printf("index built with %d threads in %.2f s\n", most_threads, static_cast<double>(t2 - t1) / 1e9);

  std::vector<Outcome> outcomes(reads.size());
  double first_rate = 0;
  uint64_t first_digest = 0;
  for (size_t run = 0; run < options.threads.size(); run++) {
    const int threads = options.threads[run];
    const bool last = run + 1 == options.threads.size();
    const Timing timing = map_all(&parameters, reads, threads, last && options.output != nullptr, &outcomes);
    uint64_t correct = 0, wrong = 0, unmapped = 0, digest = 0;
    for (size_t i = 0; i < reads.size(); i++) {
      const Outcome &o = outcomes[i];
      const SimulatedRead &r = reads[i];
      digest = hash_step(digest, o.hash);
      if (!o.mapped) {
        unmapped++;
        continue;
      }
      const int64_t shift = static_cast<int64_t>(o.position) - static_cast<int64_t>(r.start);
      if (o.sequence == r.sequence && o.reverse == r.reverse && shift >= -kTolerance && shift <= kTolerance) {
        correct++;
      } else {
        wrong++;
      }
    }
    const double rate = static_cast<double>(reads.size()) / timing.wall;
    if (run == 0) {
      first_rate = rate;
      first_digest = digest;
    }
    const double n = static_cast<double>(reads.size());
    printf(
        "%3d threads: %7.2f s wall %8.2f s cpu  %9.0f reads/s  %7.0f reads/s/thread  %7.0f reads/cpu-s  "
        "speed-up %5.2f  true %.3f %%  elsewhere %.3f %%  unmapped %.3f %%  digest %016llx%s\n",
        threads, timing.wall, timing.cpu, rate, rate / threads, n / timing.cpu, rate / first_rate,
        100.0 * static_cast<double>(correct) / n,
        100.0 * static_cast<double>(wrong) / n, 100.0 * static_cast<double>(unmapped) / n,
        static_cast<unsigned long long>(digest), digest == first_digest ? "" : "  (DIFFERS)");
    fflush(stdout);
  }
  if (options.output != nullptr) write_nyr(options.output, genome, outcomes, parameters);
  return 0;
}
