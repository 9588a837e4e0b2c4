// Throughput of the streaming sequence parser.
//
//   seq_stream_bench generate <path> <megabytes> [read length]
//       writes a FASTQ file of random reads of about that size (1 MB = 10^6
//       bytes; read length 150 by default);
//   seq_stream_bench stream <path> <workers>
//       streams the file through seq_for_each_with_raw with that many
//       workers (0: every processor) and prints records, bases, bytes,
//       seconds and MB/s of file bytes;
//   seq_stream_bench pull <path>
//       the same through the single-threaded pull reader.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/cpus.h"
#include "common/platform.h"
#include "seqio/seq_for_each.h"
#include "seqio/seq_format.h"
#include "seqio/seq_reader.h"
#include "seqio/seq_record.h"

namespace {

struct totals_t {
  unsigned long long records = 0;
  unsigned long long bases = 0;
  unsigned long long check = 0;
};

void count_record(seq_record_t *record, seq_record_t *quality, void *user) {
  auto *t = static_cast<totals_t *>(user);
  t->records++;
  t->bases += record->length;
  // Touch the results so the work cannot be skipped.
  if (record->length > 0) t->check += record->residues[record->length - 1];
  if (quality != nullptr && quality->length > 0) t->check += quality->residues[0];
}

int generate(const char *path, long long megabytes, int read_length) {
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
  const long long target = megabytes * 1000000LL;
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

long long file_size(const char *path) {
  FILE *f = fopen(path, "rb");
  if (f == nullptr) return -1;
  fseeko(f, 0, SEEK_END);
  long long size = ftello(f);
  fclose(f);
  return size;
}

void print(const char *path, const char *how, const totals_t &t, uint64_t start) {
  const double seconds = static_cast<double>(platform_steady_clock_ns() - start) / 1e9;
  const long long size = file_size(path);
  printf("%s, %s: %llu records, %llu bases, %lld bytes in %.3f s: %.1f MB/s (check %llu)\n", path, how, t.records,
         t.bases, size, seconds, static_cast<double>(size) / 1e6 / seconds, t.check % 1000);
}

}  // namespace

int main(int argc, char **argv) {
  if ((argc == 4 || argc == 5) && strcmp(argv[1], "generate") == 0)
    return generate(argv[2], atoll(argv[3]), argc == 5 ? atoi(argv[4]) : 150);
  if (argc == 4 && strcmp(argv[1], "stream") == 0) {
    set_number_of_cpus(atoi(argv[3]));
    totals_t t;
    const uint64_t start = platform_steady_clock_ns();
    seq_for_each_with_raw(argv[2], 0, kSeqMaskReads, 0, count_record, &t);
    const std::string how = std::to_string(get_number_of_cpus()) + " workers";
    print(argv[2], how.c_str(), t, start);
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "pull") == 0) {
    totals_t t;
    const uint64_t start = platform_steady_clock_ns();
    seq_reader_t *reader = seq_reader_open(argv[2], 0, 0, kSeqMaskReads, 0, 1, 0);
    for (;;) {
      seq_record_t *quality = nullptr;
      seq_record_t *record = seq_reader_next_with_raw(reader, &quality);
      if (record == nullptr) break;
      count_record(record, quality, &t);
      seq_record_release(record);
      seq_record_release(quality);
    }
    seq_reader_free(reader);
    print(argv[2], "pull reader", t, start);
    return 0;
  }
  fprintf(stderr,
          "usage: seq_stream_bench generate <path> <megabytes> [read length]\n"
          "       seq_stream_bench stream <path> <workers>\n"
          "       seq_stream_bench pull <path>\n");
  return 1;
}
