// One mapping job split as the README's "Many machines" section shows, on
// one machine: the pairs split into chunks by the standard split tool (both
// mate files alike), each chunk mapped apart against the same index file,
// and the chunk results joined by ryx_merge. The joined file holds every
// read once, in the order of the original files, and the records of reads
// with one best place are those of a single run over all reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "readalign_data.h"
#include "seqio/nyr_file.h"
#include "seqio/nyr_hit.h"
#include "test_support.h"

namespace {

using readalign_test::Read;
using ryx_test::program_path;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;

constexpr int kPairs = 300;
// 150 pairs of four-line FASTQ records a chunk.
constexpr int kLinesPerChunk = 600;

// Runs a command line through the shell in dir.
RunResult shell(const ScratchDir &dir, const std::string &command) {
  return ryx_test::run_program({"/bin/sh", "-c", "cd \"$0\" && " + command, dir.path()});
}

// Every field of a read's hits, as one text: place, strand, flags, mapping
// quality, counts and alignment code. Empty for an unmapped read.
std::string record_text(nyr_match_t *hit) {
  std::string text;
  for (; hit != nullptr; hit = nyr_match_next_hit(hit)) {
    text += std::to_string(hit->contig) + ":" + std::to_string(hit->position) + " f" + std::to_string(hit->flags) +
            " q" + std::to_string(hit->quality) + " n" + std::to_string(nyr_match_get_count(hit)) + " c";
    for (uint32_t i = 0; i < hit->code_length; i++) text += " " + std::to_string(hit->code[i]);
    text += ";";
  }
  return text;
}

struct Mapped {
  explicit Mapped(const std::string &path) : file(nyr_file_read(path.c_str(), 1)) {}
  ~Mapped() { nyr_file_free(file); }
  Mapped(const Mapped &) = delete;
  Mapped &operator=(const Mapped &) = delete;
  nyr_file_t *file;
};

TEST(ReadalignChunks, ChunksMappedApartAndJoinedMatchOneRun) {
  ScratchDir dir;
  const readalign_test::Reference reference = readalign_test::make_reference(11);
  write_file(dir.file("genome.fa"), readalign_test::fasta(reference));
  std::vector<Read> mate1, mate2;
  readalign_test::paired_reads(reference, 5, kPairs, &mate1, &mate2);
  write_file(dir.file("reads_1.fq"), readalign_test::fastq(mate1));
  write_file(dir.file("reads_2.fq"), readalign_test::fastq(mate2));
  const std::string mapper = "\"" + program_path("ryx_readalign") + "\" --noprogress";
  const std::string pairing = " -q -p fb ss 250 350 -i ";

  // The single run, and the split job as the README gives it.
  RunResult r = shell(dir, mapper + " -d genome.fa -n genome.idx");
  ASSERT_EQ(r.status, 0) << r.err;
  r = shell(dir, mapper + " -d genome.idx" + pairing + "reads_1.fq reads_2.fq -o single.nyr");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string lines = std::to_string(kLinesPerChunk);
  r = shell(dir, "split -l " + lines + " -d -a 4 reads_1.fq chunk_1_ && split -l " + lines +
                     " -d -a 4 reads_2.fq chunk_2_");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *n : {"0000", "0001"}) {
    const std::string chunk = n;
    r = shell(dir, mapper + " -d genome.idx" + pairing + "chunk_1_" + chunk + " chunk_2_" + chunk + " -o chunk_" +
                       chunk + ".nyr");
    ASSERT_EQ(r.status, 0) << chunk << ": " << r.err;
  }
  r = shell(dir, "\"" + program_path("ryx_merge") + "\" -o all.nyr chunk_*.nyr");
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  Mapped single(dir.file("single.nyr"));
  Mapped all(dir.file("all.nyr"));
  ASSERT_EQ(single.file->read_count, 2u * kPairs);
  ASSERT_EQ(all.file->read_count, 2u * kPairs);
  // The chunks in order, each with its half of the pairs (both mates count
  // as sequences of the entry).
  ASSERT_EQ(all.file->read_files->count, 2);
  for (int c = 0; c < 2; c++) {
    const seq_file_info_t *info = all.file->read_files->entries[c];
    const std::string n = c == 0 ? "0000" : "0001";
    EXPECT_EQ(std::string(info->names[0]), "chunk_1_" + n);
    EXPECT_EQ(std::string(info->names[1]), "chunk_2_" + n);
    EXPECT_EQ(info->sequence_count, kPairs);
  }
  // Read i of the joined file is read i of the single run: a read with one
  // best place has the same record; one with several has as many hits
  // (their places are drawn, from a sequence that restarts with each file).
  int unique = 0;
  for (uint64_t i = 0; i < 2u * kPairs; i++) {
    nyr_match_t *a = nyr_file_get_match(single.file, i);
    nyr_match_t *b = nyr_file_get_match(all.file, i);
    ASSERT_EQ(a == nullptr, b == nullptr) << i;
    if (a == nullptr) continue;
    ASSERT_EQ(nyr_match_get_count(a), nyr_match_get_count(b)) << i;
    if (nyr_match_get_count(a) != 1) continue;
    unique++;
    EXPECT_EQ(record_text(a), record_text(b)) << i;
  }
  // Most pairs lie outside the repeat; some within it have several places.
  EXPECT_GT(unique, kPairs);
  EXPECT_LT(unique, 2 * kPairs);
}

}  // namespace
