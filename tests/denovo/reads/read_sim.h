// Helpers for the read mapping tests: fragment databases written from
// chosen fragments, blocks and read stores of simulated reads, a small
// read and pair simulator on a genome, and a plain model of which sampled
// fragment words a read's windows hit.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "denovo/reads/fragment_builder.h"
#include "denovo/reads/read_mapping.h"
#include "denovo/reads/read_store.h"
#include "seqio/seq_db.h"
#include "seqio/seq_record.h"
#include "tests/denovo/reads/fragment_model.h"

namespace read_sim {

using fragment_test::Codes;
using fragment_test::reverse_complement;
using fragment_test::sampled_reads;
using fragment_test::slice;

// A fragment: its two end letters and its codes.
struct Fragment {
  std::string ends;  // e.g. "EC"
  Codes codes;
};

// The fragments written as the fragment builder writes them, opened as the
// database the mapping reads.
inline seq_db_t *fragment_db_of(const std::vector<Fragment> &fragments) {
  FILE *file = tmpfile();
  for (size_t i = 0; i < fragments.size(); i++) {
    const Codes &c = fragments[i].codes;
    seq_record_t *r = fragment_record_from_codes(c.data(), static_cast<int32_t>(c.size()));
    r->name = static_cast<char *>(malloc(12));
    snprintf(r->name, 12, "%s_00000000", fragments[i].ends.c_str());
    fragment_builder_write_fragment(file, r, static_cast<uint32_t>(i));
    seq_record_free(r);
  }
  fflush(file);
  rewind(file);
  return seq_db_open_file(file, 0, kSeqFormatFasta, 1, 0);
}

// Where a fragment lies on the genome's forward strand.
struct Placement {
  size_t start;
  size_t length;
};

// Fragments cut from the genome at the given starts and lengths, all
// forward, with the given end letters.
inline std::vector<Fragment> cut(const Codes &genome, const std::vector<Placement> &places,
                                 const std::vector<std::string> &ends) {
  std::vector<Fragment> out;
  for (size_t i = 0; i < places.size(); i++) out.push_back({ends[i], slice(genome, places[i].start, places[i].length)});
  return out;
}

// Neighbouring fragments along the whole genome, each about length long,
// overlapping by k - 1 as the builder leaves them; the genome's ends are
// dead ends, the others branch ends.
inline std::vector<Placement> tile(size_t genome_length, size_t length, int k) {
  std::vector<Placement> places;
  for (size_t s = 0;;) {
    size_t e = s + length;
    if (e + length / 2 >= genome_length) e = genome_length;
    places.push_back({s, e - s});
    if (e == genome_length) return places;
    s = e - (k - 1);
  }
}

inline std::vector<std::string> tile_ends(size_t n) {
  std::vector<std::string> ends(n, "CC");
  ends.front()[0] = 'E';
  ends.back()[1] = 'E';
  return ends;
}

// A block as the read store hands it out: a separator, then every read
// followed by a separator.
inline Codes block_of(const std::vector<Codes> &reads) {
  Codes b{kReadStoreSeparator};
  for (const Codes &r : reads) {
    b.insert(b.end(), r.begin(), r.end());
    b.push_back(kReadStoreSeparator);
  }
  return b;
}

// One read file: single reads, or pairs as mate 1, mate 2, mate 1, ...
struct ReadFile {
  std::vector<Codes> reads;
  bool paired = false;
};

inline read_store_t *store_of(const std::vector<ReadFile> &files, int32_t capacity = kReadStoreBlockCapacity) {
  read_store_t *store = read_store_new_empty(capacity);
  for (const ReadFile &f : files) {
    const size_t step = f.paired ? 2 : 1;
    for (size_t i = 0; i + step <= f.reads.size(); i += step) {
      seq_record_t *a = fragment_record_from_codes(f.reads[i].data(), static_cast<int32_t>(f.reads[i].size()));
      if (f.paired) {
        const Codes &m = f.reads[i + 1];
        seq_record_t *b = fragment_record_from_codes(m.data(), static_cast<int32_t>(m.size()));
        read_store_on_pair(a, b, store);
        seq_record_free(b);
      } else {
        read_store_on_read(a, store);
      }
      seq_record_free(a);
    }
    read_store_flush_block(store);
    store->file_index++;
  }
  read_store_finish(store);
  return store;
}

// A pair of reads and where it came from: the template strand (the genome
// or its reverse complement) and the template spans of the two mates.
struct Pair {
  Codes mate1, mate2;
  bool template_reverse;
  size_t a, b;  // template starts of mate 1 and mate 2
};

// Draws a pair whose measure points lie distance apart along a random
// template strand: a forward mate's start is its left template boundary,
// its end its right one; a backward mate's start is its right boundary,
// its end its left one; distance = point 2 - point 1. Returns false when
// the pair does not fit on the genome.
inline bool draw_pair(std::mt19937_64 &rng, const Codes &genome, const paired_setting_t &s, size_t length,
                      int64_t distance, Pair *out) {
  const bool back1 = s.orientation == 2 || s.orientation == 3;
  const bool back2 = s.orientation == 1 || s.orientation == 3;
  const bool start1 = s.distance_mode == 0 || s.distance_mode == 1;
  const bool start2 = s.distance_mode == 0 || s.distance_mode == 2;
  const int64_t g = static_cast<int64_t>(genome.size());
  const int64_t n = static_cast<int64_t>(length);
  const int64_t a = static_cast<int64_t>(rng() % genome.size());
  const int64_t t1 = a + ((start1 != back1) ? 0 : n);
  const int64_t t2 = t1 + distance;
  const int64_t b = t2 - ((start2 != back2) ? 0 : n);
  if (a + n > g || b < 0 || b + n > g) return false;
  out->template_reverse = (rng() & 1) != 0;
  const Codes t = out->template_reverse ? reverse_complement(genome) : genome;
  out->a = static_cast<size_t>(a);
  out->b = static_cast<size_t>(b);
  out->mate1 = slice(t, out->a, length);
  out->mate2 = slice(t, out->b, length);
  if (back1) out->mate1 = reverse_complement(out->mate1);
  if (back2) out->mate2 = reverse_complement(out->mate2);
  return true;
}

// The sampled words of the fragments, looked up by a read's windows the
// plain way: a map from letters to (fragment, offset).
struct SampleModel {
  int k;
  std::map<std::string, std::pair<uint32_t, int>> words;

  SampleModel(const std::vector<Fragment> &fragments, int k_) : k(k_) {
    const int step = read_mapping_sampling_step(k);
    for (size_t f = 0; f < fragments.size(); f++) {
      const Codes &c = fragments[f].codes;
      for (size_t m = 0; m + k <= c.size(); m += step)
        words[fragment_test::letters_of(slice(c, m, k))] = {static_cast<uint32_t>(f), static_cast<int>(m)};
    }
  }
  // The oriented fragment of every window of the read that hits, in read
  // order (forward letters first, then the reverse complement).
  std::vector<oriented_id_t> hits(const Codes &read) const {
    std::vector<oriented_id_t> out;
    for (size_t i = 0; i + k <= read.size(); i++) {
      const Codes w = slice(read, i, k);
      auto it = words.find(fragment_test::letters_of(w));
      if (it != words.end()) {
        out.push_back(it->second.first);
        continue;
      }
      it = words.find(fragment_test::letters_of(reverse_complement(w)));
      if (it != words.end()) out.push_back(it->second.first | kOrientedIdReverse);
    }
    return out;
  }
  // Distinct fragment indices the read's hits fall on.
  size_t fragments_hit(const Codes &read) const {
    std::vector<uint32_t> seen;
    for (oriented_id_t h : hits(read)) {
      const uint32_t f = oriented_id_get_index(h);
      if (std::find(seen.begin(), seen.end(), f) == seen.end()) seen.push_back(f);
    }
    return seen.size();
  }
};

}  // namespace read_sim
