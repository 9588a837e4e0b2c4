#include "seqio/gzip_spool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/input_stream.h"
#include "test_support.h"

namespace {

using ryx_test::ScratchDir;

// Every byte the stream still has to give.
std::string drain(input_stream_t *stream) {
  std::string bytes;
  char buffer[65536];
  for (size_t got; (got = input_stream_read(buffer, 1, sizeof(buffer), stream)) > 0;) bytes.append(buffer, got);
  return bytes;
}

// FASTQ text with the start and length of every record; most records are
// of the common one-line form, some are wrapped or have a CRLF header (the
// scan leaves those to the byte-by-byte reader), some have quality or
// sequence lines that start with '@'.
struct fastq_text_t {
  std::string text;
  std::map<int64_t, int32_t> records;  // start -> length
  std::vector<int64_t> odd;            // starts of the records the scan leaves
};

fastq_text_t make_fastq(size_t bytes, uint32_t seed) {
  fastq_text_t out;
  std::mt19937 rng(seed);
  for (int i = 0; out.text.size() < bytes; i++) {
    const int length = 20 + static_cast<int>(rng() % 60);
    std::string seq(static_cast<size_t>(length), 'A');
    for (char &c : seq) c = "ACGT"[rng() % 4];
    std::string qual(static_cast<size_t>(length), 'I');
    if (i % 5 == 0) qual[0] = '@';
    if (i % 11 == 0) seq[0] = '@';
    const std::string name = "read" + std::to_string(i);
    out.records[static_cast<int64_t>(out.text.size())] = length;
    if (i % 20011 == 3) {
      out.odd.push_back(static_cast<int64_t>(out.text.size()));
      out.text += "@" + name + "\r\n" + seq.substr(0, 10) + "\n" + seq.substr(10) + "\n+\n" + qual + "\n";
    } else {
      out.text += "@" + name + "\n" + seq + "\n+\n" + qual + "\n";
    }
  }
  return out;
}

input_stream_t *open_named(const std::string &path) {
  input_stream_t *stream = input_stream_open(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr);
  // The spooled stream takes the path over; the test keeps the string alive.
  stream->path = path.c_str();
  return stream;
}

// The spool writes the decompressed bytes, and with threads it scans the
// file in parts of the given size while it grows (the file is larger than
// a part plus the reach of a scan, so the first parts are scanned before
// the end is known). Every part covers its share; a part's first record is
// a true record start (a share holding none finds none), and the records it took are exactly the true ones
// between its first start and its end, with their lengths.
TEST(GzipSpoolThreads, WritesTheBytesAndScansPartsWhileTheFileGrows) {
  ScratchDir dir;
  const fastq_text_t fastq = make_fastq(size_t{7} << 20, 3);
  const std::string path = dir.file("reads.fq.gz");
  ryx_test::write_gzip_file(path, fastq.text);
  const int64_t part_bytes = int64_t{1} << 20;
  const auto size = static_cast<int64_t>(fastq.text.size());
  for (int32_t threads : {1, 2, 4, 9}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    gzip_spool_scan_t scan{};
    input_stream_t *stream = gzip_spool(open_named(path), threads, part_bytes, &scan);
    EXPECT_EQ(stream->gz, nullptr);
    EXPECT_STREQ(stream->path, path.c_str());
    EXPECT_TRUE(drain(stream) == fastq.text);
    stream->path = nullptr;
    input_stream_close(stream);
    if (threads < 2) {
      EXPECT_EQ(scan.count, 0);
      continue;
    }
    ASSERT_EQ(scan.count, (size + part_bytes - 1) / part_bytes);
    for (int32_t k = 0; k < scan.count; k++) {
      SCOPED_TRACE(testing::Message() << "part " << k);
      const fastq_scan_part_t *part = scan.parts[k];
      ASSERT_NE(part, nullptr);
      EXPECT_EQ(part->share_end, std::min(part_bytes * (k + 1), size));
      if (!part->found) {
        // Only a share without a record start finds none (a short last one).
        auto next = fastq.records.lower_bound(part_bytes * k);
        EXPECT_TRUE(next == fastq.records.end() || next->first >= part->share_end);
        continue;
      }
      EXPECT_GE(part->first, part_bytes * k);
      EXPECT_LT(part->first, part->share_end);
      ASSERT_EQ(part->starts->count, part->lengths->count);
      auto want = fastq.records.find(part->first);
      ASSERT_NE(want, fastq.records.end());
      const auto *starts = reinterpret_cast<const int64_t *>(part->starts->items);
      const auto *lengths = reinterpret_cast<const int32_t *>(part->lengths->items);
      for (uint64_t r = 0; r < part->starts->count; r++, ++want) {
        ASSERT_NE(want, fastq.records.end());
        ASSERT_EQ(starts[r], want->first);
        ASSERT_EQ(lengths[r], want->second);
      }
      const int64_t end = want == fastq.records.end() ? size : want->first;
      EXPECT_EQ(part->end, end);
      // A part walks its whole share unless an odd record stops it there.
      bool odd_inside = false;
      for (int64_t start : fastq.odd) odd_inside |= start >= part->first && start < part->share_end;
      EXPECT_EQ(part->complete, !odd_inside);
      if (odd_inside) {
        EXPECT_TRUE(std::find(fastq.odd.begin(), fastq.odd.end(), part->end) != fastq.odd.end());
      }
    }
    gzip_spool_scan_free(&scan);
    EXPECT_EQ(scan.count, 0);
    EXPECT_EQ(scan.parts, nullptr);
  }
}

// An empty file, and a file of another format (FASTA, even after blank
// lines), spool whole with no part: only a FASTQ file is scanned.
TEST(GzipSpoolThreads, OnlyFastqIsScanned) {
  ScratchDir dir;
  std::string fasta = "\n\n";
  for (int i = 0; fasta.size() < (size_t{3} << 20); i++) fasta += ">s" + std::to_string(i) + "\nACGTACGTTGCA\n";
  for (const std::string &text : {std::string(), fasta}) {
    SCOPED_TRACE(testing::Message() << text.size() << " bytes");
    const std::string path = dir.file("reads.gz");
    ryx_test::write_gzip_file(path, text);
    gzip_spool_scan_t scan{};
    input_stream_t *stream = gzip_spool(open_named(path), 4, 1024, &scan);
    EXPECT_TRUE(drain(stream) == text);
    EXPECT_EQ(scan.count, 0);
    stream->path = nullptr;
    input_stream_close(stream);
    gzip_spool_scan_free(&scan);
  }
}

}  // namespace
