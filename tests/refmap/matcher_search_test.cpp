// The matcher wired to the real seed search, piece lookups and stored-hit
// positions of the refmap library: reads of both reference strands are
// found at their place through the query of the matching parity, with and without the candidate
// filter, and the stored-hit iterator walks the hits stored from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "refmap/align/hit_iterator.h"
#include "refmap/align/matcher.h"
#include "refmap/align/stored_hit_iterator.h"
#include "refmap/hit_hash.h"
#include "refmap/ref_block.h"
#include "refmap/ref_index.h"
#include "refmap/seed_mask.h"
#include "refmap/seed_search.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

const matcher_services_t kRefmapServices = {hit_hash_pack_queries, seed_search_batch, hit_hash_attach_filter,
                                            ref_block_clamp_to_piece};

struct stored_copy_t {
  int32_t sequence, offset;
  std::vector<uint8_t> code;
  int32_t reverse;
};

void get_copy(const void *hits, int32_t index, stored_hit_t *hit) {
  const stored_copy_t &s = static_cast<const std::vector<stored_copy_t> *>(hits)->at(index);
  *hit = {s.sequence, s.offset, s.code.data(), static_cast<int32_t>(s.code.size()), s.reverse};
}

TEST(MatcherSearch, ReadsFromTheReferencesAreFoundOnBothStrands) {
  std::mt19937 rng(606);
  std::vector<std::string> refs;
  for (int k = 0; k < 3; k++) {
    std::string s(2500 + rng() % 1000, 'A');
    for (char &c : s) c = "ACGT"[rng() % 4];
    refs.push_back(s);
  }
  auto **records = static_cast<seq_record_t **>(malloc(sizeof(seq_record_t *) * refs.size()));
  std::vector<int32_t> lengths;
  for (size_t k = 0; k < refs.size(); k++) {
    records[k] = seq_record_new_from_letters(refs[k].c_str());
    lengths.push_back(static_cast<int32_t>(refs[k].size()));
  }
  seq_db_t *db = seq_db_new_from_records(records, static_cast<int64_t>(refs.size()));
  ref_block_list_t *list = ref_block_list_build(3, lengths.data(), 128, 10, kRefBlockMaxSize);
  ref_block_t *block = ref_block_pack(list->blocks[0], db);
  seed_mask_t *mask = seed_mask_parse("##-###-##-###");
  ref_index_t *index = ref_index_build(block, mask, 2, nullptr);
  ref_index_t *indexes[] = {index};

  // Pairs of queries: a read copied from a reference, then its reverse
  // complement.
  struct origin_t {
    int32_t sequence, offset, length;
  };
  std::vector<origin_t> origins;
  std::vector<seq_record_t *> queries;
  for (int k = 0; k < 20; k++) {
    const int32_t sequence = static_cast<int32_t>(rng() % 3);
    const int32_t length = 30 + static_cast<int32_t>(rng() % 25);
    const int32_t offset = static_cast<int32_t>(rng() % (refs[sequence].size() - length));
    origins.push_back({sequence, offset, length});
    // Odd pairs are reads of the reverse strand: their reverse complement
    // (the odd query) lies on the reference.
    seq_record_t *forward = seq_record_new_from_letters(refs[sequence].substr(offset, length).c_str());
    seq_record_t *reverse = seq_record_new_from_letters(refs[sequence].substr(offset, length).c_str());
    if (k & 1) {
      seq_record_reverse_complement(forward);
    } else {
      seq_record_reverse_complement(reverse);
    }
    queries.push_back(forward);
    queries.push_back(reverse);
  }

  for (int filter_mode : {-1, 1}) {
    for (int gapped = 0; gapped < 2; gapped++) {
      hit_hash_t *hash = hit_hash_new_checked(indexes, 1, 1, nullptr);
      matcher_t *m = matcher_new(hash, block, 2, 3, 3, -1, 0.5, 0.8, -1, 1, gapped, 0, filter_mode, queries.data(),
                                 static_cast<int32_t>(queries.size()), &kRefmapServices);
      EXPECT_EQ(hash->filter != nullptr, filter_mode != -1);
      std::vector<stored_copy_t> stored;
      for (size_t q = 0; q < queries.size(); q++) {
        const origin_t &o = origins[q / 2];
        hit_iterator_t *it = matcher_next_query(m);
        if ((q & 1) != ((q / 2) & 1)) continue;  // the strand that is not on the reference
        ASSERT_EQ(hit_iterator_score(it), o.length) << "query " << q << " gapped " << gapped;
        const int64_t expected = ref_block_to_block_pos(block, o.sequence, o.offset);
        bool found = false;
        while (hit_iterator_next(it)) {
          if (hit_iterator_aligned_start(it) != expected) continue;
          found = true;
          int32_t sequence = 0, offset = 0;
          ref_block_to_seq_pos(block, hit_iterator_aligned_start(it), &sequence, &offset);
          const uint8_t *bytes = hit_iterator_code_data(it);
          stored.push_back({sequence, offset,
                            std::vector<uint8_t>(bytes, bytes + hit_iterator_code_length(it)),
                            static_cast<int32_t>(q & 1)});
        }
        EXPECT_TRUE(found) << "query " << q << " gapped " << gapped;
      }
      matcher_free(m);
      EXPECT_EQ(hash->filter, nullptr);
      hit_hash_free(hash);

      // The stored hits of every forward read, walked per strand in
      // ascending order as the driver stores them.
      for (int strand = 0; strand < 2; strand++) {
        std::vector<stored_copy_t> mine;
        for (const stored_copy_t &s : stored) {
          if (s.reverse == strand) mine.push_back(s);
        }
        std::sort(mine.begin(), mine.end(), [](const stored_copy_t &a, const stored_copy_t &b) {
          return a.sequence != b.sequence ? a.sequence < b.sequence : a.offset < b.offset;
        });
        stored_hit_list_t hits = {30, 30, 30, static_cast<int32_t>(mine.size()), &mine, get_copy};
        hit_iterator_t *it = stored_hit_iterator_new(&hits, block, strand, ref_block_to_block_pos);
        size_t walked = 0;
        while (hit_iterator_next(it)) {
          EXPECT_EQ(hit_iterator_aligned_start(it),
                    ref_block_to_block_pos(block, mine[walked].sequence, mine[walked].offset));
          walked++;
        }
        EXPECT_EQ(walked, mine.size());
        stored_hit_iterator_free(it);
      }
    }
  }

  for (seq_record_t *q : queries) seq_record_free(q);
  ref_index_free(index);
  seed_mask_free(mask);
  ref_block_free(block);
  ref_block_list_free(list);
  seq_db_free_records(db);
}

}  // namespace
