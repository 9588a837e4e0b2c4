// Word table benchmark: inserts random words, looks them all up again,
// then looks up as many fresh random words (nearly all absent), and prints
// the time of each phase and the table's layout and slot memory.
//
// usage: word_table_bench [count [k [canonical]]]   (default 10000000 20 0)
//
// The words come from a seeded generator and are regenerated for each
// phase, so no input array inflates the peak memory measured around the
// program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.h"
#include "common/clock.h"
#include "denovo/reads/word_table.h"

namespace {

using bench::seconds_since;

struct WordSource {
  uint64_t state;
  explicit WordSource(uint64_t seed) : state(seed) {}
  uint64_t next() {
    // xorshift64*: cheap and good enough for random words.
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
  void word(uint8_t *out, int k) {
    uint64_t bits = 0;
    for (int i = 0; i < k; i++) {
      if (i % 32 == 0) bits = next();
      out[i] = static_cast<uint8_t>(bits & 3);
      bits >>= 2;
    }
  }
};


}  // namespace

int main(int argc, char **argv) {
  const long long count = argc > 1 ? atoll(argv[1]) : 10000000;
  const int k = argc > 2 ? atoi(argv[2]) : 20;
  const int canonical = argc > 3 ? atoi(argv[3]) : 0;
  if (count < 1 || k < 1 || k > 1024) {
    fprintf(stderr, "usage: word_table_bench [count [k [canonical]]]\n");
    return 1;
  }
  const uint32_t empty = 0xFFFFFFFFu;
  word_table_t *table = word_table_new(k, 4, &empty, canonical);
  word_table_key_t *key = word_table_key_new(table);
  uint8_t *word = static_cast<uint8_t *>(malloc(static_cast<size_t>(k)));

  WordSource insert_words(12345);
  int64_t start = time_get_usec();
  for (long long i = 0; i < count; i++) {
    insert_words.word(word, k);
    const uint32_t payload = static_cast<uint32_t>(i);
    word_table_insert_word(table, word, &payload, key, nullptr);
  }
  const double insert_time = seconds_since(start);

  WordSource stored_words(12345);
  long long found = 0, wrong = 0;
  start = time_get_usec();
  for (long long i = 0; i < count; i++) {
    stored_words.word(word, k);
    const void *payload = word_table_find_word(table, word, key, nullptr);
    if (payload == nullptr) wrong++;
    else found++;
  }
  const double hit_time = seconds_since(start);

  WordSource fresh_words(67890);
  long long fresh_found = 0;
  start = time_get_usec();
  for (long long i = 0; i < count; i++) {
    fresh_words.word(word, k);
    if (word_table_find_word(table, word, key, nullptr) != nullptr) fresh_found++;
  }
  const double miss_time = seconds_since(start);

  const double slot_bytes = static_cast<double>(table->size) *
                            static_cast<double>(table->stored_bytes + table->payload_size);
  printf("words              %lld (k %d, canonical %d)\n", count, k, canonical);
  printf("distinct stored    %lld\n", static_cast<long long>(table->element_count));
  printf("slots              2^%d, %d key bytes of %d stored, offset limit %lld\n",
         table->log_size, table->stored_bytes, table->key_bytes,
         static_cast<long long>(table->offset_limit));
  printf("slot memory        %.1f MiB\n", slot_bytes / (1 << 20));
  printf("insert             %.3f s  (%.0f ns/word)\n", insert_time, insert_time * 1e9 / count);
  printf("lookup, present    %.3f s  (%.0f ns/word), %lld found, %lld missing\n", hit_time,
         hit_time * 1e9 / count, found, wrong);
  printf("lookup, fresh      %.3f s  (%.0f ns/word), %lld found\n", miss_time,
         miss_time * 1e9 / count, fresh_found);
  free(word);
  word_table_key_free(key);
  word_table_free(table);
  return wrong == 0 ? 0 : 1;
}
