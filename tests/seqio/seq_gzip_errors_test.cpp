// A truncated or corrupt gzip input ends the process with status 1 and a
// message naming the file on every read path, never with status 0 or a
// silent short read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fastq_fixture.h"
#include "seq_read_paths.h"
#include "seqio/seq_format.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;
using seqio_test::FastqFixture;

constexpr int64_t kBlock = kSeqBlockSize;

struct BadGzip {
  std::string name;
  std::string bytes;
};

std::vector<BadGzip> bad_gzips(const ScratchDir &dir) {
  // Two blocks and a half of FASTQ, and exactly two blocks: with the latter
  // a cut member can end right where a block read was filled, which zlib
  // does not report by itself.
  FastqFixture uneven(5);
  uneven.next_start_at(5 * kBlock / 2);
  FastqFixture even(6);
  even.next_start_at(2 * kBlock);
  const std::string path = dir.file("whole.gz");
  ryx_test::write_gzip_file(path, uneven.text());
  const std::string whole = ryx_test::read_file(path);
  ryx_test::write_gzip_file(path, even.text());
  const std::string two_blocks = ryx_test::read_file(path);

  std::vector<BadGzip> cases;
  cases.push_back({"cut in the middle", whole.substr(0, whole.size() / 2)});
  cases.push_back({"trailer cut", whole.substr(0, whole.size() - 4)});
  std::string bad_crc = whole;
  bad_crc[whole.size() - 8] ^= 0x55;  // first byte of the CRC-32 trailer
  cases.push_back({"wrong check value", bad_crc});
  std::string bad_data = whole;
  for (size_t i = whole.size() / 3; i < whole.size() / 3 + 64; i++) bad_data[i] = static_cast<char>(0xff);
  cases.push_back({"damaged data", bad_data});
  // A valid header followed by a deflate block of the reserved type 3: the
  // very first bytes cannot be read.
  cases.push_back({"invalid first block", ryx_test::hex_bytes("1F 8B 08 00 00 00 00 00 00 03 FF FF FF FF")});
  for (size_t cut = 1; cut <= 12; cut++)
    cases.push_back({"two blocks, " + std::to_string(cut) + " bytes cut", two_blocks.substr(0, two_blocks.size() - cut)});
  return cases;
}

// Each read path, run to the end in a child process.
struct Path {
  const char *name;
  void (*run)(const std::string &path);
};

const Path kPaths[] = {
    {"seq_for_each", [](const std::string &p) { seqio_test::read_for_each(p, 0, kSeqMaskReads, false); }},
    {"seq_for_each_with_raw", [](const std::string &p) { seqio_test::read_for_each(p, 0, kSeqMaskReads, true); }},
    {"seq_for_each_pair", [](const std::string &p) { seqio_test::read_pairs(p, 0, kSeqMaskReads, false); }},
    {"pull reader", [](const std::string &p) { seqio_test::read_pull(p, 0, kSeqMaskReads, true); }},
    {"database", [](const std::string &p) { seqio_test::read_db(p, 0, kSeqMaskReads, true, true); }},
    // The child process alone turns spooling on.
    {"spooled database",
     [](const std::string &p) {
       seq_db_set_gzip_spooling(1);
       seqio_test::read_db(p, 0, kSeqMaskReads, true, true);
     }},
    // Decompressed while a thread writes the file and others scan it.
    {"spooled database, in parts",
     [](const std::string &p) {
       seq_db_set_gzip_spooling(1);
       seq_db_set_index_threads(4, 64);
       seqio_test::read_db(p, 0, kSeqMaskReads, true, true);
     }},
};

TEST(SeqGzipErrors, EveryReadPathFailsLoudly) {
  ScratchDir dir;
  int n = 0;
  for (const BadGzip &bad : bad_gzips(dir)) {
    const std::string path = dir.file("bad" + std::to_string(n++) + ".fq.gz");
    ryx_test::write_file(path, bad.bytes);
    // The streaming reader and the database's input stream word it slightly
    // differently; both name the file.
    const std::string message = "^Problem reading (sequence )?file " + path + "\n$";
    for (const Path &p : kPaths) {
      SCOPED_TRACE(bad.name + " by " + p.name);
      EXPECT_EXIT(
          {
            p.run(path);
            exit(0);
          },
          testing::ExitedWithCode(1), message);
    }
  }
}

// The fallback of seq_for_each for formats that do not stream reads through
// the database, which fails the same way.
TEST(SeqGzipErrors, ForEachFallbackFailsLoudly) {
  ScratchDir dir;
  std::string fasta;
  for (int i = 0; i < 20000; i++) fasta += ">r" + std::to_string(i) + "\nACGTACGTACGTACGTACGT\n";
  std::string text = ".fof";
  text.push_back('\0');
  for (uint64_t v : {uint64_t{21}, uint64_t{fasta.size()}})
    for (int i = 0; i < 8; i++) text.push_back(static_cast<char>(v >> (8 * i)));
  text += fasta;
  const std::string whole_path = dir.file("whole.fof.gz");
  ryx_test::write_gzip_file(whole_path, text);
  const std::string whole = ryx_test::read_file(whole_path);
  const std::string path = dir.file("cut.fof.gz");
  ryx_test::write_file(path, whole.substr(0, whole.size() - 5));
  EXPECT_EXIT(
      {
        seqio_test::read_for_each(path, 0, kSeqFormatFastaOffset, false);
        exit(0);
      },
      testing::ExitedWithCode(1), "^Problem reading file " + path + "\n$");
}

}  // namespace
