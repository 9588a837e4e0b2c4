// Every setting of a ryx_readalign run.
//
// main fills the record from the command line through the option handlers;
// once it is ready it is only read, by every mapping thread at once (the
// two warning flags excepted, which change only by compare-and-swap).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "fm/index/index_file.h"
#include "fm/index/mapper_index.h"
#include "fm/runtime/cmdline_parser.h"  // r32, the reduced fraction of the options
#include "fm/runtime/sequence.h"

class Activity;
class FastaIndexBuilder;
class NYRWriter;
class Reader;

// Align modes: a two-bit mask of the ends that must be aligned.
constexpr uint32_t kAlignLocal = 0;
constexpr uint32_t kAlignGlobal = 3;

// Repeat modes: what to do with reads that hit more places than reported.
constexpr uint32_t kRepeatRandom = 0;
constexpr uint32_t kRepeatIgnore = 1;

// Extender choices: by read type and length, or forced.
constexpr uint32_t kExtenderAutomatic = 0;
constexpr uint32_t kExtenderFull = 1;
constexpr uint32_t kExtenderDropoff = 2;

class MapperParameters {
 public:
  // A record holding the defaults of every setting.
  MapperParameters();
  MapperParameters(const MapperParameters &) = delete;
  MapperParameters &operator=(const MapperParameters &) = delete;

  // True once the reference set-up has finished and the record is final.
  bool are_ready() const { return ready; }

  // Sets smallest_cost and largest_cost from the mismatch, gap and deletion
  // costs; to be called again whenever one of those changes.
  void derive_cost_bounds();

  // Marks that FASTA references follow (add_reference_file).
  void setup_builder();
  // Keeps the reader's name (the path) and the circular flag of one FASTA
  // reference and deletes the reader: the file is reopened by path when it
  // is indexed, so no reference stays open until then.
  void add_reference_file(Reader *source, bool circular_sequences);
  // Parses every kept FASTA path in order into builder, then finishes it.
  // A path that can no longer be opened ends the process with "Could not
  // open reference file %s\n" (status 1); parse errors end it as the
  // parser does.
  void run_index_builder(FastaIndexBuilder &builder);
  // Ends the set-up: builds one index over all FASTA references (two in
  // bisulphite mode, C->T into the main set and G->A into the bisulphite
  // set) behind the indexes already loaded, fills fasta_infos (one per
  // kept path, in order) with sequence counts and lengths, announces the
  // FASTA reference files to writer (may be null), derives the cost
  // bounds and sets ready. Progress goes to activity (may be null), which
  // is done afterwards. Runs once, on one thread.
  void finalize(NYRWriter *writer, std::vector<MapperFileInfo> &fasta_infos, Activity *activity);

  // Bytes of index memory the FASTA build may use: index_memory_mb, or
  // half the physical memory when that is 0.
  uint64_t index_memory_budget() const;

  bool ready = false;
  uint32_t max_read_length = 500000;
  uint32_t min_seed_length = 15;     // option range 10 to 99
  uint32_t acceleration_depth = 10;  // k-mer table depth of every index
  // Once-only warnings about reads too short or too long to map.
  std::atomic<bool> short_read_warned{false};
  std::atomic<bool> long_read_warned{false};

  // Scores in units of one match; an open cost of 0 means linear gaps. A
  // gap is an insertion: a read symbol without a reference symbol.
  uint32_t match_score = 1;
  uint32_t mismatch_cost = 2;
  uint32_t gap_open = 0;
  uint32_t gap_cost = 3;
  uint32_t deletion_open = 0;
  uint32_t deletion_cost = 3;

  uint32_t align_mode = kAlignLocal;
  r32 similarity = {4, 5};
  r32 length_fraction = {1, 2};
  uint32_t max_align = 1;  // hits reported per read
  uint32_t repeat_mode = kRepeatRandom;
  uint64_t index_memory_mb = 0;   // 0: half of the physical memory
  uint64_t mapper_memory_mb = 0;  // 0: no limit

  // FASTA references, reopened by path when they are indexed.
  std::vector<std::string> fasta_paths;
  std::vector<bool> circular;  // one per FASTA path

  // The reference sets searched: the main set (in bisulphite mode built
  // from C->T converted references) and the bisulphite set (G->A
  // converted; empty outside bisulphite mode). Index k of both covers the
  // same sequences.
  std::vector<MapperIndex> main_set;
  std::vector<MapperIndex> bisulphite_set;

  bool fasta_pending = false;
  uint8_t position_sampling_shift = 4;  // option range 1 to 16

  // Cheapest and dearest single error: the least and the greatest of the
  // mismatch, gap and deletion costs.
  int32_t smallest_cost = 0;
  int32_t largest_cost = 0;

  bool progress_off = false;
  uint32_t strand_mask = 3;  // bit 0 the read, bit 1 its reverse complement
  bool bisulphite = false;
  bool non_directional = false;
  uint32_t normal_type_limit = 500;  // option range 500 to 15000
  bool longest_only = false;
  bool sensitive = false;
  bool mapping_quality = false;
  uint32_t forced_extender = kExtenderAutomatic;
};

// Sequence filters of the bisulphite index builds: every code c of the
// sequence becomes To where it was From (C->T: bisulphite_map<1, 3>, G->A:
// bisulphite_map<2, 0>); every sequence is kept.
template <unsigned char From, unsigned char To>
bool bisulphite_map(Sequence *sequence) {
  unsigned char *codes = sequence->symbols;
  for (unsigned int i = 0; i < sequence->length; i++)
    if (codes[i] == From) codes[i] = To;
  return true;
}
