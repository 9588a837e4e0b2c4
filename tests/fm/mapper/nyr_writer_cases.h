// The data of the hand-written nyr fixtures under tests/data/fm/mapper,
// once for the read mapper's writer classes and once as seqio handles and
// hit records, so both writers can be made to write the same file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/linked_list.h"
#include "fm/mapper/nyr_writer.h"
#include "seqio/nyr_file.h"
#include "tests/seqio/nyr_test_data.h"

namespace nyr_cases {

// One seqio record of a read: its hits (none: unmatched).
struct SeqioRead {
  std::vector<nyr_match_t> hits;
};

struct SeqioCase {
  nyr_file_t *file;  // fields of the file; its record array stays empty
  std::vector<SeqioRead> reads;
  std::vector<std::vector<uint8_t>> codes;  // owns the code bytes the hits point to
};

inline nyr_match_t seqio_hit(SeqioCase &c, uint32_t contig, uint32_t position, uint8_t flags, uint8_t quality,
                             uint32_t stored_count, std::vector<uint8_t> code) {
  c.codes.push_back(std::move(code));
  std::vector<uint8_t> &bytes = c.codes.back();
  return nyr_match_t{contig, position, flags, quality, stored_count, static_cast<uint32_t>(bytes.size()),
                     bytes.data()};
}

inline seq_file_info_list_t *seqio_list(std::vector<seq_file_info_t *> const &entries) {
  linked_list_t *list = linked_list_new();
  for (seq_file_info_t *entry : entries) linked_list_append(list, entry);
  seq_file_info_list_t *result = seq_file_info_list_new(list);
  linked_list_free(list);
  return result;
}

// --- one_reference_unmatched_and_single.nyr.hex ---

inline NYRScoringScheme default_scheme() { return NYRScoringScheme(1, 2, 0, 3, 0, 3, false); }

inline void one_reference_unmatched_and_single(NYRWriter &writer) {
  writer.set_program_info("ryx_readalign", "23.0.0.263791", "-d ref.fa -q reads.fq -o out.nyr");
  NYRReferenceFile reference("ref.fa");
  reference.add(100, false);
  writer.add_reference_file(reference);
  NYRReadFile reads("reads.fq", false);
  for (int i = 0; i < 3; i++) reads.add(10);
  writer.add_read_file(reads);

  writer.add_entry(NYREntry(false));
  NYREntry single(false);
  single.add_alignment(0, 10, false, false, {0x09}, false, false, NYRAlignment::kNoQuality);
  single.add_hits(1);
  writer.add_entry(single);
  NYREntry reverse(false);
  reverse.add_alignment(0, 42, false, true, {0x04, 0x80, 0x03}, false, false, 60);
  reverse.add_hits(1);
  writer.add_entry(reverse);
}

inline SeqioCase seqio_one_reference_unmatched_and_single() {
  SeqioCase c;
  c.codes.reserve(8);
  const uint32_t lengths[] = {100};
  c.file = nyr_file_new(1, lengths, 3);
  c.file->program_name = nyr_test::owned("ryx_readalign");
  c.file->program_version = nyr_test::owned("23.0.0.263791");
  c.file->command_line = nyr_test::owned("-d ref.fa -q reads.fq -o out.nyr");
  c.file->reference_files = seq_file_info_list_new_single(seq_file_info_new(nyr_test::owned("ref.fa"), 1, 100));
  c.file->read_files = seq_file_info_list_new_single(seq_file_info_new(nyr_test::owned("reads.fq"), 3, 30));
  c.file->scheme = nyr_scoring_scheme_new(3, 3, 3, 3, 1, -2, -2, -2, 0);
  c.reads.push_back({});
  c.reads.push_back({{seqio_hit(c, 0, 10, 0, kNyrNoQuality, 0, {0x09})}});
  c.reads.push_back({{seqio_hit(c, 0, 42, kNyrMatchReverse, 60, 0, {0x04, 0x80, 0x03})}});
  return c;
}

// --- two_references_pairs_multi_hits_wraps.nyr.hex ---

inline NYRScoringScheme affine_global_scheme() { return NYRScoringScheme(2, 4, 5, 2, 6, 1, true); }

inline void two_references_pairs_multi_hits_wraps(NYRWriter &writer) {
  writer.set_program_info("ryx_readalign", "1.2", "");
  NYRReferenceFile a("a.fa");
  a.add(1000, true);
  a.add(300, false);
  writer.add_reference_file(a);
  NYRReferenceFile b("b.fa");
  b.add(50, true);
  writer.add_reference_file(b);
  NYRReadFile pair("r_1.fq", "r_2.fq", true);
  pair.add(50);
  pair.add(50);
  writer.add_read_file(pair);
  NYRReadFile single("s.fq", false);
  for (int i = 0; i < 3; i++) single.add(50);
  writer.add_read_file(single);

  NYREntry mate1(false);
  mate1.add_alignment(0, 980, false, false, {0x13}, false, false, NYRAlignment::kNoQuality);
  mate1.set_paired(true);
  mate1.add_hits(1);
  writer.add_entry(mate1);
  // Mate 2 paired through the copy of its occurrence one length further on.
  NYREntry mate2(false);
  mate2.add_alignment(0, 150, true, true, {0x1D}, false, false, 37);
  mate2.set_paired(true);
  mate2.add_hits(1);
  writer.add_entry(mate2);
  NYREntry five(false);
  five.add_alignment(1, 299, false, false, {0x00}, false, false, NYRAlignment::kNoQuality);
  five.add_hits(5);
  writer.add_entry(five);
  NYREntry many(false);
  // An occurrence offset running past the end of the circular sequence of 50.
  many.add_alignment(2, 70, false, false, {0x09}, true, false, NYRAlignment::kNoQuality);
  // The shifted copy of a position already past the end: 1990 + 1000.
  many.add_alignment(0, 1990, true, false, {0x7F, 0x47}, false, true, 0);
  many.add_hits(100);
  many.add_hits(200);
  writer.add_entry(many);
  writer.add_entry(NYREntry(false));
}

inline SeqioCase seqio_two_references_pairs_multi_hits_wraps() {
  SeqioCase c;
  c.codes.reserve(8);
  const uint32_t lengths[] = {1000, 300, 50};
  c.file = nyr_file_new(3, lengths, 5);
  nyr_contig_set_circular(c.file->contigs[0]);
  nyr_contig_set_circular(c.file->contigs[2]);
  c.file->program_name = nyr_test::owned("ryx_readalign");
  c.file->program_version = nyr_test::owned("1.2");
  c.file->reference_files = seqio_list({seq_file_info_new(nyr_test::owned("a.fa"), 2, 1300),
                                        seq_file_info_new(nyr_test::owned("b.fa"), 1, 50)});
  seq_file_info_t *pair = seq_file_info_new_pair(nyr_test::owned("r_1.fq"), nyr_test::owned("r_2.fq"), 2, 100);
  seq_file_info_set_paired(pair);
  c.file->read_files = seqio_list({pair, seq_file_info_new(nyr_test::owned("s.fq"), 3, 150)});
  c.file->scheme = nyr_scoring_scheme_new(7, 2, 7, 1, 2, -4, -4, -4, 3);
  // The seqio records hold true positions; the writer wraps them itself.
  c.reads.push_back({{seqio_hit(c, 0, 980, kNyrMatchPaired, kNyrNoQuality, 0, {0x13})}});
  c.reads.push_back({{seqio_hit(c, 0, 1150, kNyrMatchReverse | kNyrMatchPaired, 37, 0, {0x1D})}});
  c.reads.push_back({{seqio_hit(c, 1, 299, kNyrMatchCounted, kNyrNoQuality, 3, {0x00})}});
  c.reads.push_back({{seqio_hit(c, 2, 70, kNyrMatchCounted | kNyrMatchBitA, kNyrNoQuality, 298, {0x09}),
                      seqio_hit(c, 0, 2990, kNyrMatchCounted | kNyrMatchBitB, 0, 298, {0x7F, 0x47})}});
  c.reads.push_back({});
  return c;
}

// Writes a seqio case with the streaming writer of seqio and returns the
// bytes; frees the case's handle.
inline std::string seqio_bytes(SeqioCase c) {
  uint32_t *lengths = nyr_file_get_contig_lengths(c.file);
  const uint32_t longest = nyr_file_get_longest_contig(c.file);
  std::string bytes = nyr_test::written_bytes([&](FILE *out) {
    nyr_file_write_start(out, c.file);
    for (SeqioRead const &read : c.reads) {
      std::vector<const nyr_match_t *> hits;
      for (nyr_match_t const &hit : read.hits) hits.push_back(&hit);
      nyr_match_write_hits(out, c.file->contig_count, longest, lengths, static_cast<uint32_t>(hits.size()),
                           hits.empty() ? nullptr : hits.data());
    }
    nyr_file_write_finish(out, c.file);
  });
  ryx_free(lengths);
  nyr_file_free(c.file);
  return bytes;
}

}  // namespace nyr_cases
