// The ryx_refmap program end to end on small simulated data: the usage text
// and every usage problem, the failures (each leaving no output behind),
// reads of every length class mapped at their origin within the errors the
// seeds promise, colour space, repeats and the repeat modes, pairs by
// orientation and distance, and the same records for any thread count and
// block size.
#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <string>
#include <vector>

#include "common/version.h"
#include "refmap/refmap_options.h"
#include "refmap_data.h"
#include "seqio/nyr_file.h"
#include "test_support.h"

namespace {

using refmap_test::make_read;
using refmap_test::random_bases;
using refmap_test::Read;
using refmap_test::Record;
using refmap_test::Reference;
using refmap_test::Rng;
using ryx_test::dir_names;
using ryx_test::file_exists;
using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;

RunResult refmap(std::vector<std::string> words) { return ryx_test::run_tool("ryx_refmap", std::move(words)); }

// The usage text, paragraph by paragraph.
std::string usage_text() {
  const char *paragraphs[] = {
      "usage: ryx_refmap <options>",
      "  Reference some reads to some reference sequences. Maximum read\n  length is 55.",
      "Options:",
      "  -h / --help: Display this message",
      "  -q / --reads: The files following this option are read files. (may be used\n     several times)",
      "  -d / --reference: The files following this option are reference files. Fasta\n"
      "     and GenBank formats are allowed. (may be used several times)",
      "  -o <file> / --output <file>: Output mapping result to a nyr file (required)",
      "  -i <file1> <file2> / --interleave <file1> <file2>: Interleave the sequences\n"
      "     in two files immediately following the \"-i\" option, alternating between\n"
      "     the two files when reading the sequences. Only valid for read files. (may\n"
      "     be used several times).",
      "  -x <n> / --mismatchcost <n>: Set the mismatch cost (integer range 1 to 3, default 2)",
      "  -g <n> / --gapcost <n>: Set the gap cost (integer range 1 to 3, default 3)",
      "  -e <n> / --deletioncost <n>: Set the deletion cost in which case the gap cost\n"
      "     setting only applies to insertions. (integer range 1 to 3, default 3)",
      "  -c / --colorspace: Use color space when aligning.",
      "  -y <n> / --colorerrorcost <n>: Set the cost of an error in a color when using\n"
      "     color space. Can only be used with the \"-c\" option. (range 1 to 3, default\n     3)",
      "  -u / --ungapped: Use ungapped alignment (default is gapped alignment)",
      "  -r <mode> / --repeat <mode>: Set the behavior for reads that match more than\n"
      "     once, i.e. ignore such reads or place them randomly among the valid\n"
      "     locations (ignore / random) (default random)",
      "  -s <n> / --scorelimit <n>: Set the limit for the score. The limit is defined\n"
      "     as the number of points below the read length to accept (default is 8 for\n"
      "     default scoring scheme).",
      "  -n <n> / --movelimit <n>: Move the length limit for short sequences that are\n"
      "     not aligned. By default it is 22, 26, and 30 for 1, 2, and 3 errors,\n"
      "     respectively. By using this option, it is lowered by n.",
      "  -p <par> / --paired <par>: Set the paired read mode for the read files\n"
      "     following this option. (may be used several times)",
      "     par consists of four strings: <mode> <dist_mode> <min_dist> <max_dist>",
      "     mode is ff, fb, bf, bb and sets the relative orientation of read one and\n"
      "     two in a pair (f = forward, b = backward)",
      "     dist_mode is ss, se, es, ee and sets the place on read one and two to\n"
      "     measure the distance (s = start, e = end)",
      "     A typical use would be \"-p fb ss 180 250\" which means that the reads are\n"
      "     inverted and pointing towards each other. The distance includes both the\n"
      "     reads and the sequence between them. The distance may be between 180 and\n"
      "     250, both included.",
      "     To explicitly say that the following reads are not paired, use \"no\" for\n     par, i.e. \"-p no\".",
      "     For paired end reads split in two files, use the -i option.",
      "  -m <n> / --memory <n>: Set the maximum amount of memory to use as a fraction\n"
      "     of the available memory (default is 1.0).",
      "  -t <n> / --maxalign <n>: Set the maximum number of alignments to report for\n     each read (default is 1).",
      "  -a <mode> / --alignmode <mode>: Set the alignment mode to one of the\n     following:",
      "       local: perform local alignment (default)",
      "       global: perform global alignment",
      "       semi-global: perform semi-global alignment",
      "  -f / --forwardonly: Only match reads in the forward direction",
      "  -b / --backwardonly: Only match reads in the backward direction",
      "  --cpus <n>: Set the number of cpus to use.",
      "  --no-progress: Disable progress bar.",
      "Examples:",
      "  Reference assembly a single file with reads to a single file with reference\n  sequences:",
      "    ryx_refmap -o assembly.nyr -q reads.fasta -d reference.fasta",
      "  Reference assemble reads from two unpaired runs and a paired end run split\n"
      "  across two files. Use two reference sequences:",
      "    ryx_refmap -o assembly.nyr -q unpaired1.fasta unpaired2.fasta\n"
      "                         -p fb ss 180 250 -i paired_1.qf paired_2.qf -d\n"
      "                         reference1.gb reference2.gb",
  };
  std::string text = "\n";
  for (const char *p : paragraphs) text += std::string(p) + "\n\n";
  char *version = version_get_string("ryx_assembly_version");
  text += "Version: " + std::string(version) + "\n\n";
  version_free_string(version);
  return text;
}

// A scratch folder with a small reference and a few reads, for the command
// line cases.
struct SmallInputs {
  SmallInputs() {
    Rng rng(5);
    ref.names = {"chr1"};
    ref.sequences = {random_bases(rng, 2000)};
    for (int i = 0; i < 4; i++) {
      Read r = make_read(rng, ref, 0, 100 + 300 * i, 30, i % 2 == 1, {});
      r.name = "r" + std::to_string(i);
      reads.push_back(r);
    }
    write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
    write_file(dir.file("reads.fq"), refmap_test::fastq(reads));
  }
  std::string path(const std::string &name) const { return dir.file(name); }
  ScratchDir dir;
  Reference ref;
  std::vector<Read> reads;
};

// --- Command line ---

TEST(RefmapProgram, UsageProblemsPrintTheirMessageAndTheUsage) {
  SmallInputs in;
  const std::string out = in.path("out.nyr");
  const std::string ref = in.path("ref.fa"), reads = in.path("reads.fq");
  const std::string too_far = std::to_string(static_cast<int64_t>(refmap_max_pair_distance()) + 1);
  struct Case {
    std::vector<std::string> words;
    std::string message;  // printed before the usage text ("" for none)
  } cases[] = {
      {{"-h"}, ""},
      {{"--help", "-o", out}, ""},
      {{}, "No output file set\n"},
      {{"-q", reads, "-d", ref}, "No output file set\n"},
      {{"-o", out, "-o", out}, "Only one output file allowed\n"},
      {{"-o"}, "No output file set after -o option\n"},
      {{"--output"}, "No output file set after --output option\n"},
      {{"-o", out, "-i", reads, reads}, "Interleaved files only valid for reads\n"},
      {{"-o", out, "-d", "-i", reads, reads}, "Interleaved files only valid for reads\n"},
      {{"-o", out, "-q", "-i", reads}, "Give two file names for the interleaved option\n"},
      {{"-o", out, "-q", "--interleave"}, "Give two file names for the interleaved option\n"},
      {{"-x", "0"}, ""},
      {{"-x", "4"}, ""},
      {{"-x", "two"}, ""},
      {{"-x"}, ""},
      {{"-g", "4"}, ""},
      {{"-e", "0"}, ""},
      {{"-y", "4"}, ""},
      {{"-s", "-1"}, ""},
      {{"-n", "0"}, ""},
      {{"-m", "1.5"}, ""},
      {{"-m", "-0.1"}, ""},
      {{"-m", "half"}, ""},
      {{"-t", "0"}, ""},
      {{"-t", "-1"}, ""},
      {{"--blocksize", "-1"}, ""},
      {{"--reference", ref}, ""},
      {{"-z"}, ""},
      {{"-r", "often"}, "wrong repeat mode\n"},
      {{"-r"}, "wrong repeat mode\n"},
      {{"-a", "banded"}, "wrong align mode\n"},
      {{"-a"}, "wrong align mode\n"},
      {{"-p", "fx", "ss", "1", "2"}, "wrong paired parameters\n"},
      {{"-p", "fb", "sx", "1", "2"}, "wrong paired parameters\n"},
      {{"-p", "fb", "ss", "1"}, "wrong paired parameters\n"},
      {{"-p", "fb", "ss", "one", "2"}, "wrong paired parameters\n"},
      {{"-p"}, "wrong paired parameters\n"},
      {{"-p", "fb"}, "wrong paired parameters\n"},
      {{"-p", "fb", "ss", "250", "180"}, "wrong paired parameters\n"},
      {{"-p", "fb", "ss", "-1", "180"}, "wrong paired parameters\n"},
      {{"-p", "fb", "ss", "0", too_far}, "wrong paired parameters\n"},
      {{"--cpus", "2", "--cpus", "2"}, "Number of cpus set twice\n"},
      {{"--cpus", "0"}, "Number of cpus must be a positive number\n"},
      {{"--cpus"}, "Number of cpus must be a positive number\n"},
      {{"--no-progress", "--no-progress"}, "No progress option defined twice\n"},
      {{reads}, "File type not set for " + reads + "\n"},
      {{"-o", out, "-q", reads}, "No reference files set\n"},
      {{"-o", out, "-d", ref}, "No read files set\n"},
      {{"-o", out, "-d", ref, "-q", reads, "-f", "-b"}, "-f and -b options cannot be used together\n"},
      {{"-o", out, "-d", ref, "-q", reads, "-n", "13"},
       "You cannot move the minimum length by more than 12 (-n / --movelimit option).\n"},
      {{"-o", out, "-d", ref, "-q", reads, "-y", "2"},
       "Color error cost option can only be used with the \"-c\" option set.\n"},
  };
  const std::string usage = usage_text();
  for (const Case &c : cases) {
    std::string shown;
    for (const std::string &w : c.words) shown += w + " ";
    RunResult r = refmap(c.words);
    EXPECT_EQ(r.status, 1) << shown;
    EXPECT_EQ(r.out, c.message + usage) << shown;
    EXPECT_EQ(r.err, "") << shown;
    EXPECT_FALSE(file_exists(out)) << shown;
  }
  EXPECT_EQ(dir_names(in.dir.path()), (std::vector<std::string>{"reads.fq", "ref.fa"}));
}

// Failures after the command line: message on standard error, status 1,
// no output, and an earlier file under the output's name left as it was.
TEST(RefmapProgram, FailuresLeaveNoOutput) {
  SmallInputs in;
  const std::string out = in.path("out.nyr");
  const std::string ref = in.path("ref.fa"), reads = in.path("reads.fq");
  write_file(in.path("odd.fq"), refmap_test::fastq({in.reads[0], in.reads[1], in.reads[2]}));
  std::string truncated = read_file(reads);
  write_file(in.path("truncated.fq"), truncated.substr(0, truncated.size() - 20));
  Read shorty;
  shorty.name = "s";
  shorty.bases = "ACGTACGTAC";
  write_file(in.path("short.fq"), refmap_test::fastq({shorty, shorty}));
  write_file(in.path("empty.fa"), "");
  const std::string missing = in.path("missing.fq");
  struct Case {
    std::vector<std::string> words;
    std::string error;  // standard error, in full
  } cases[] = {
      {{"-d", ref, "-q", missing}, "Could not open file " + missing + " for reading\n"},
      {{"-d", missing, "-q", reads}, "Could not open file " + missing + " for reading\n"},
      {{"-d", in.path("empty.fa"), "-q", reads}, "The reference file contains no sequences\n"},
      {{"-d", ref, "-q", "-p", "fb", "ss", "180", "250", in.path("odd.fq")},
       "Read file must contain an even number of sequences for paired end data\n"},
      {{"-d", ref, "-q", in.path("short.fq")},
       "All reads are too short to be mapped. Minimum read length allowed is 15 bp.\n"},
      {{"-d", ref, "-q", reads, "-s", "12"}, "Maximum score limit is 11 for a mismatch cost of 2.\n"},
      {{"-d", ref, "-q", reads, "-c", "-s", "9"},
       "Maximum score limit is 8 for a mismatch cost of 2 and color error cost of 3.\n"},
      {{"-d", ref, "-q", in.path("truncated.fq")}, ""},
      {{"-d", ref, "-q", reads, "-o", ref}, "The output file " + ref + " is also an input file.\n"},
  };
  for (const Case &c : cases) {
    std::string shown;
    for (const std::string &w : c.words) shown += w + " ";
    write_file(out, "earlier");
    std::vector<std::string> words = c.words;
    if (std::find(words.begin(), words.end(), "-o") == words.end()) words.insert(words.begin(), {"-o", out});
    words.push_back("--no-progress");
    RunResult r = refmap(words);
    EXPECT_EQ(r.status, 1) << shown;
    if (!c.error.empty()) {
      EXPECT_EQ(r.err, c.error) << shown;
    }
    EXPECT_NE(r.err, "") << shown;
    EXPECT_EQ(read_file(out), "earlier") << shown;
  }
  // Truncated input was not taken for a complete file.
  write_file(in.path("cut.fq"), "@r0\nACGTACGTACGTACGTACGT\n+\nIIII");
  RunResult r = refmap({"-o", in.path("cut.nyr"), "-d", ref, "-q", in.path("cut.fq"), "--no-progress"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(file_exists(in.path("cut.nyr")));
  // An output that cannot be created.
  r = refmap({"-o", in.path("no/such/dir/out.nyr"), "-d", ref, "-q", reads, "--no-progress"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Problem opening assembly output file\n");
  // No hidden partial output is left behind.
  for (const std::string &name : dir_names(in.dir.path()))
    EXPECT_TRUE(name == "." || name == ".." || name[0] != '.') << name;
}

// --- Mapping ---

// A reference of two random sequences.
Reference two_sequences(uint64_t seed, int64_t first, int64_t second) {
  Rng rng(seed);
  Reference ref;
  ref.names = {"seq_a", "seq_b"};
  ref.sequences = {random_bases(rng, first), random_bases(rng, second)};
  return ref;
}

// count pairs of reads of length bases, read 1 forward from a random left
// end and read 2 backward with its right end distance bases on, distance
// drawn from [low, low + span); the left end lies at least start_margin
// bases after the sequence start and end_margin - start_margin before its
// end. Read 1 gets the mismatches errors(i) gives, read 2 too in every
// third pair (i % 3 == 2).
std::vector<Read> forward_backward_pairs(Rng &rng, const Reference &ref, int count, int32_t length,
                                         int64_t start_margin, int64_t end_margin, int32_t low, int32_t span,
                                         const std::function<std::vector<int32_t>(int)> &errors) {
  std::vector<Read> pairs;
  for (int i = 0; i < count; i++) {
    const int32_t s = static_cast<int32_t>(rng.below(2));
    const int64_t left = start_margin + rng.below(static_cast<int64_t>(ref.sequences[s].size()) - end_margin);
    const int32_t d = low + static_cast<int32_t>(rng.below(span));
    const std::vector<int32_t> positions = errors(i);
    Read forward = make_read(rng, ref, s, left, length, false, positions);
    Read backward =
        make_read(rng, ref, s, left + d - length, length, true, i % 3 == 2 ? positions : std::vector<int32_t>{});
    forward.name = "p" + std::to_string(i) + "/1";
    backward.name = "p" + std::to_string(i) + "/2";
    pairs.push_back(forward);
    pairs.push_back(backward);
  }
  return pairs;
}

int64_t longest_of(const Reference &ref) {
  int64_t n = 0;
  for (const std::string &s : ref.sequences) n = std::max<int64_t>(n, static_cast<int64_t>(s.size()));
  return n;
}

// Mismatches the seed design covers at each read length with the default
// costs: exact matches below 22 bases, one mismatch below 26, two above.
int32_t promised_mismatches(int32_t length) { return length < 22 ? 0 : length < 26 ? 1 : 2; }

// Reads of every length class: for each length, forward and reverse reads
// with 0 up to the promised mismatches, reads with one indel at 40 bases
// and more, and reads with three mismatches at 35 and 50 bases, which no
// design covers. Mismatches lie well inside the read.
std::vector<Read> class_reads(const Reference &ref, uint64_t seed) {
  Rng rng(seed);
  std::vector<Read> reads;
  auto add = [&](Read r) {
    r.name = "r" + std::to_string(reads.size());
    reads.push_back(r);
  };
  for (int32_t length : {18, 25, 28, 35, 50}) {
    for (int32_t m = 0; m <= promised_mismatches(length); m++) {
      for (int copy = 0; copy < 6; copy++) {
        const int32_t s = static_cast<int32_t>(rng.below(2));
        const int64_t start = 300 + rng.below(static_cast<int64_t>(ref.sequences[s].size()) - 700);
        std::vector<int32_t> positions;
        if (m >= 1) positions.push_back(length / 3);
        if (m >= 2) positions.push_back(2 * length / 3 + 1);
        add(make_read(rng, ref, s, start, length, copy % 2 == 1, positions));
      }
    }
  }
  for (int32_t length : {40, 50}) {
    for (int copy = 0; copy < 4; copy++) {
      const int64_t start = 300 + rng.below(static_cast<int64_t>(ref.sequences[0].size()) - 700);
      // The indel a quarter of the read from one end, so that seeds fit
      // the longer side.
      const int32_t at = copy % 2 == 0 ? length / 4 : 3 * length / 4;
      add(make_read(rng, ref, 0, start, length, copy % 2 == 1, {}, at, copy >= 2));
    }
  }
  for (int32_t length : {35, 50}) {
    for (int copy = 0; copy < 4; copy++) {
      const int64_t start = 300 + rng.below(static_cast<int64_t>(ref.sequences[1].size()) - 700);
      add(make_read(rng, ref, 1, start, length, copy % 2 == 1, {length / 4, length / 2, 3 * length / 4}));
    }
  }
  return reads;
}

void expect_at_origin(const Record &record, const Read &read) {
  ASSERT_TRUE(record.matched()) << read.name << " (" << read.bases.size() << " bases, " << read.mismatches
                                << " mismatches, " << read.indels << " indels)";
  EXPECT_EQ(record.total, 1u) << read.name;
  ASSERT_EQ(record.hits.size(), 1u) << read.name;
  const refmap_test::Hit &hit = record.hits[0];
  EXPECT_EQ(hit.sequence, read.sequence) << read.name;
  EXPECT_EQ(hit.reverse, read.reverse) << read.name;
  EXPECT_EQ(hit.read_start(), read.start) << read.name << " at " << hit.position;
}

TEST(RefmapProgram, ReadsOfEveryClassMapAtTheirOriginWithinTheDesign) {
  ScratchDir dir;
  const Reference ref = two_sequences(11, 30000, 20000);
  std::vector<Read> reads = class_reads(ref, 12);
  // Reads outside 15 to 55 bases are written unmapped.
  Rng rng(13);
  Read too_short = make_read(rng, ref, 0, 1000, 12, false, {});
  too_short.name = "short";
  Read too_long = make_read(rng, ref, 0, 2000, 60, false, {});
  too_long.name = "long";
  reads.push_back(too_short);
  reads.push_back(too_long);
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  write_file(dir.file("reads.fq"), refmap_test::fastq(reads));
  RunResult r = refmap({"-o", dir.file("out.nyr"), "-d", dir.file("ref.fa"), "-q", dir.file("reads.fq"),
                        "--no-progress", "--cpus", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Some reads are too short to be mapped. Minimum read length allowed is 15 bp.\n"
            "Some reads are too long to be mapped. Maximum read length allows is 55 bp.\n");
  const std::string bytes = read_file(dir.file("out.nyr"));
  bool exact = false;
  std::vector<Record> records = refmap_test::read_records(bytes, 2, longest_of(ref), &exact);
  EXPECT_TRUE(exact);
  ASSERT_EQ(records.size(), reads.size());
  for (size_t i = 0; i < reads.size(); i++) {
    const Read &read = reads[i];
    const int32_t length = static_cast<int32_t>(read.bases.size());
    if (length < 15 || length > 55 || read.mismatches > 2)
      EXPECT_FALSE(records[i].matched()) << read.name << " " << length << " bases, " << read.mismatches;
    else
      expect_at_origin(records[i], read);
  }

  // The header: contigs, read count, program, command line and scheme.
  nyr_file_t *header = nyr_file_read_header(dir.file("out.nyr").c_str());
  EXPECT_EQ(header->contig_count, 2u);
  EXPECT_EQ(header->contigs[0]->length, 30000u);
  EXPECT_EQ(header->contigs[1]->length, 20000u);
  EXPECT_EQ(header->read_count, reads.size());
  EXPECT_STREQ(header->program_name, "ryx_refmap");
  const std::string command = "-o " + dir.file("out.nyr") + " -d " + dir.file("ref.fa") + " -q " +
                              dir.file("reads.fq") + " --no-progress --cpus 2";
  EXPECT_STREQ(header->command_line, command.c_str());
  ASSERT_EQ(header->read_files->count, 1);
  EXPECT_EQ(header->read_files->entries[0]->sequence_count, static_cast<int64_t>(reads.size()));
  ASSERT_NE(header->scheme, nullptr);
  EXPECT_EQ(header->scheme->insertion_first, 3);
  EXPECT_EQ(header->scheme->deletion_further, 3);
  EXPECT_EQ(header->scheme->match, 1);
  EXPECT_EQ(header->scheme->mismatch[0], -2);
  EXPECT_EQ(header->scheme->mismatch[2], -2);
  EXPECT_EQ(header->scheme->colour_error, -1);
  EXPECT_EQ(header->scheme->mode, 0);
  nyr_file_free(header);
}

// Thread count and block size change nothing: the same records, byte for
// byte, and reads near block edges reported once.
TEST(RefmapProgramThreads, SameRecordsForAnyCpuCountAndBlockSize) {
  ScratchDir dir;
  const Reference ref = two_sequences(21, 7000, 3000);
  Rng rng(22);
  std::vector<Read> reads;
  for (int i = 0; i < 400; i++) {
    const int32_t s = static_cast<int32_t>(rng.below(2));
    const int32_t length = i % 2 == 0 ? 32 : 36;
    const int64_t start = rng.below(static_cast<int64_t>(ref.sequences[s].size()) - length);
    std::vector<int32_t> positions;
    if (i % 3 == 1) positions.push_back(length / 2);
    Read r = make_read(rng, ref, s, start, length, i % 4 >= 2, positions);
    r.name = "r" + std::to_string(i);
    reads.push_back(r);
  }
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  write_file(dir.file("reads.fq"), refmap_test::fastq(reads));
  auto run = [&](const std::string &name, std::vector<std::string> extra) {
    std::vector<std::string> words{"-o", dir.file(name), "-d", dir.file("ref.fa"), "-q", dir.file("reads.fq"),
                                   "--no-progress"};
    words.insert(words.end(), extra.begin(), extra.end());
    RunResult r = refmap(words);
    EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
    return refmap_test::record_bytes(read_file(dir.file(name)));
  };
  const std::string one = run("one.nyr", {"--cpus", "1"});
  EXPECT_EQ(run("eight.nyr", {"--cpus", "8"}), one);
  // Blocks of 4000 positions: the longer sequence is cut into pieces that
  // overlap by 6 x the length bound, and reads across the cut are reported
  // once.
  const std::string small = run("small.nyr", {"--cpus", "3", "--blocksize", "4000"});
  EXPECT_EQ(small, one);
  std::vector<Record> records = refmap_test::read_records(read_file(dir.file("small.nyr")), 2, longest_of(ref));
  ASSERT_EQ(records.size(), reads.size());
  for (size_t i = 0; i < reads.size(); i++) expect_at_origin(records[i], reads[i]);
}

// The same at a size where the threads really race: 1.2 Mbp cut into
// three blocks, single reads and pairs that need every seed level, so that many
// batches of every pass, the index builds of every block and level and the
// merge run on all threads at once. Two runs at 8 threads and one at 1
// write the same records, and so does the gzip copy of the reads (whose
// opening pass is scanned while it is decompressed).
TEST(RefmapProgramScale, SameRecordsOnAMegabaseAtAnyCpuCount) {
  ScratchDir dir;
  const Reference ref = two_sequences(71, 700000, 500000);
  Rng rng(72);
  std::vector<Read> reads;
  for (int i = 0; i < 12000; i++) {
    const int32_t length = 36;
    const int32_t s = static_cast<int32_t>(rng.below(2));
    const int64_t start = rng.below(static_cast<int64_t>(ref.sequences[s].size()) - 2 * length);
    std::vector<int32_t> positions;
    if (i % 4 >= 1) positions.push_back(length / 3);
    if (i % 4 >= 2) positions.push_back(2 * length / 3);
    Read r = i % 8 == 7 ? make_read(rng, ref, s, start, length, i % 2 == 1, {}, length / 4, i % 16 == 15)
                        : make_read(rng, ref, s, start, length, i % 2 == 1, positions);
    r.name = "r" + std::to_string(i);
    reads.push_back(r);
  }
  const std::vector<Read> pairs = forward_backward_pairs(rng, ref, 2000, 36, 0, 400, 150, 200, [](int i) {
    return i % 3 >= 1 ? std::vector<int32_t>{12} : std::vector<int32_t>{};
  });
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  write_file(dir.file("reads.fq"), refmap_test::fastq(reads));
  write_file(dir.file("pairs.fq"), refmap_test::fastq(pairs));
  ryx_test::write_gzip_file(dir.file("reads.fq.gz"), refmap_test::fastq(reads));
  auto run = [&](const std::string &name, const std::string &reads_file, const std::string &cpus) {
    RunResult r = refmap({"-o", dir.file(name), "-d", dir.file("ref.fa"), "-r", "ignore", "--cpus", cpus,
                          "--blocksize", "500000", "--no-progress", "-q", dir.file(reads_file), "-p", "fb", "ss",
                          "100", "400", dir.file("pairs.fq")});
    EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
    return refmap_test::record_bytes(read_file(dir.file(name)));
  };
  const std::string eight = run("eight.nyr", "reads.fq", "8");
  EXPECT_EQ(run("again.nyr", "reads.fq", "8"), eight);
  EXPECT_EQ(run("one.nyr", "reads.fq", "1"), eight);
  EXPECT_EQ(run("gzip.nyr", "reads.fq.gz", "8"), eight);
  std::vector<Record> records = refmap_test::read_records(read_file(dir.file("eight.nyr")), 2, longest_of(ref));
  ASSERT_EQ(records.size(), reads.size() + pairs.size());
  int32_t mapped = 0;
  for (const Record &record : records) mapped += record.matched() ? 1 : 0;
  EXPECT_GT(mapped, static_cast<int32_t>(records.size()) * 9 / 10);
}

TEST(RefmapProgram, ColourSpaceReadsWithOneColourErrorMapAtTheirOrigin) {
  ScratchDir dir;
  const Reference ref = two_sequences(31, 20000, 10000);
  Rng rng(32);
  std::vector<Read> reads;
  std::string text;
  for (int i = 0; i < 24; i++) {
    const int32_t s = static_cast<int32_t>(rng.below(2));
    const int32_t length = i % 3 == 0 ? 30 : i % 3 == 1 ? 40 : 50;
    const int64_t start = 200 + rng.below(static_cast<int64_t>(ref.sequences[s].size()) - 400);
    Read r = make_read(rng, ref, s, start, length, i % 2 == 1, {});
    r.name = "c" + std::to_string(i);
    reads.push_back(r);
    // One wrong colour inside the read, none for every fourth read.
    std::vector<int32_t> errors;
    if (i % 4 != 0) errors.push_back(length / 2 + i % 5);
    text += refmap_test::csfastq_record(r.name, r.bases, errors);
  }
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  write_file(dir.file("reads.csfastq"), text);
  RunResult r = refmap({"-o", dir.file("out.nyr"), "-d", dir.file("ref.fa"), "-q", dir.file("reads.csfastq"), "-c",
                        "--no-progress"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Record> records = refmap_test::read_records(read_file(dir.file("out.nyr")), 2, longest_of(ref));
  ASSERT_EQ(records.size(), reads.size());
  for (size_t i = 0; i < reads.size(); i++) expect_at_origin(records[i], reads[i]);
  nyr_file_t *header = nyr_file_read_header(dir.file("out.nyr").c_str());
  EXPECT_EQ(header->scheme->colour_error, 3);
  nyr_file_free(header);
}

// A reference holding one stretch twice: reads from it have two equal
// hits.
TEST(RefmapProgram, RepeatsAreSampledReportedOrIgnored) {
  ScratchDir dir;
  Rng rng(41);
  const std::string repeat = random_bases(rng, 400);
  Reference ref;
  ref.names = {"rep"};
  ref.sequences = {random_bases(rng, 3000) + repeat + random_bases(rng, 4000) + repeat + random_bases(rng, 3000)};
  const int64_t copies[2] = {3000, 7400};
  std::vector<Read> reads;
  for (int i = 0; i < 40; i++) {
    Read r = make_read(rng, ref, 0, copies[0] + 20 + 8 * i, 32, i % 2 == 1, {});
    r.name = "p" + std::to_string(i);
    reads.push_back(r);
  }
  Read unique = make_read(rng, ref, 0, 1000, 32, false, {});
  unique.name = "u";
  reads.push_back(unique);
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  write_file(dir.file("reads.fq"), refmap_test::fastq(reads));
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> words{"-o", dir.file("out.nyr"), "-d", dir.file("ref.fa"), "-q", dir.file("reads.fq"),
                                   "--no-progress"};
    words.insert(words.end(), extra.begin(), extra.end());
    RunResult r = refmap(words);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Record> records = refmap_test::read_records(read_file(dir.file("out.nyr")), 1, longest_of(ref));
    EXPECT_EQ(records.size(), reads.size());
    records.resize(reads.size());
    return records;
  };
  const int64_t offset_between = copies[1] - copies[0];

  // One hit reported per read, either copy, each read drawn on its own.
  std::vector<Record> records = run({});
  int seen[2] = {0, 0};
  for (int i = 0; i < 40; i++) {
    ASSERT_TRUE(records[i].matched()) << i;
    EXPECT_EQ(records[i].flags, 3) << i;  // matched, total follows
    EXPECT_EQ(records[i].total, 2u) << i;
    ASSERT_EQ(records[i].hits.size(), 1u);
    const int64_t start = records[i].hits[0].read_start();
    const bool first = start == reads[i].start, second = start == reads[i].start + offset_between;
    EXPECT_TRUE(first || second) << i << " at " << start;
    seen[second ? 1 : 0]++;
  }
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  expect_at_origin(records[40], reads[40]);

  // -t 10 reports both copies.
  records = run({"-t", "10"});
  for (int i = 0; i < 40; i++) {
    EXPECT_EQ(records[i].flags, 7) << i;  // matched, total and reported count follow
    ASSERT_EQ(records[i].hits.size(), 2u) << i;
    std::vector<int64_t> starts{records[i].hits[0].read_start(), records[i].hits[1].read_start()};
    std::sort(starts.begin(), starts.end());
    EXPECT_EQ(starts, (std::vector<int64_t>{reads[i].start, reads[i].start + offset_between})) << i;
  }
  expect_at_origin(records[40], reads[40]);

  // -r ignore leaves the repeated reads unmatched.
  records = run({"-r", "ignore"});
  for (int i = 0; i < 40; i++) EXPECT_FALSE(records[i].matched()) << i;
  expect_at_origin(records[40], reads[40]);
}

// Pairs of one file "-p fb ss 180 250": read 1 forward at a, read 2 the
// reverse strand ending at a + d (d the distance, both reads included) or,
// for the swapped half of the pairs, read 1 on the reverse strand at the
// right end and read 2 forward at the left.
TEST(RefmapProgram, PairsByOrientationAndDistance) {
  ScratchDir dir;
  const Reference ref = two_sequences(51, 12000, 8000);
  Rng rng(52);
  const int32_t length = 35;
  std::vector<Read> pairs, far_pairs;
  std::vector<int32_t> distances;
  for (int32_t d : {180, 215, 250, 251, 179, 400}) {
    for (int swap = 0; swap < 2; swap++) {
      const int32_t s = static_cast<int32_t>(rng.below(2));
      const int64_t left = 500 + rng.below(static_cast<int64_t>(ref.sequences[s].size()) - 1500);
      Read forward = make_read(rng, ref, s, left, length, false, {});
      Read backward = make_read(rng, ref, s, left + d - length, length, true, {});
      forward.name = "f" + std::to_string(pairs.size());
      backward.name = "b" + std::to_string(pairs.size());
      if (swap) {
        pairs.push_back(backward);
        pairs.push_back(forward);
      } else {
        pairs.push_back(forward);
        pairs.push_back(backward);
      }
      distances.push_back(d);
    }
  }
  // Mates on two sequences: read 1 near the end of seq_a, read 2 near the
  // start of seq_b, close together in the blocks of the reference.
  for (int i = 0; i < 2; i++) {
    Read a = make_read(rng, ref, 0, 12000 - 60 - 10 * i, length, false, {});
    Read b = make_read(rng, ref, 1, 20 + 10 * i, length, true, {});
    a.name = "xa" + std::to_string(i);
    b.name = "xb" + std::to_string(i);
    far_pairs.push_back(a);
    far_pairs.push_back(b);
  }
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  write_file(dir.file("pairs.fq"), refmap_test::fastq(pairs));
  write_file(dir.file("cross.fq"), refmap_test::fastq(far_pairs));
  RunResult r = refmap({"-o", dir.file("out.nyr"), "-d", dir.file("ref.fa"), "-q", "-p", "fb", "ss", "180", "250",
                        dir.file("pairs.fq"), "-p", "fb", "ss", "0", "5000", dir.file("cross.fq"), "--no-progress"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Record> records = refmap_test::read_records(read_file(dir.file("out.nyr")), 2, longest_of(ref));
  ASSERT_EQ(records.size(), pairs.size() + far_pairs.size());
  for (size_t p = 0; p < distances.size(); p++) {
    const bool in_window = distances[p] >= 180 && distances[p] <= 250;
    for (int mate = 0; mate < 2; mate++) {
      const Record &record = records[2 * p + mate];
      const Read &read = pairs[2 * p + mate];
      EXPECT_EQ(record.paired(), in_window) << "distance " << distances[p] << " mate " << mate;
      expect_at_origin(record, read);
    }
  }
  for (size_t i = 0; i < far_pairs.size(); i++) {
    const Record &record = records[pairs.size() + i];
    EXPECT_FALSE(record.paired()) << far_pairs[i].name;
    expect_at_origin(record, far_pairs[i]);
  }
}

// A gzip read file maps to the records of the same reads in a plain file.
// The reads need several passes: reads with one and two mismatches or an
// indel are found only at later seed levels, and the files (over 1 MiB,
// more than one refill of the input buffer) are walked again on every pass
// and by the merge, which moves through several contexts at once. Single reads in one
// file and pairs in another.
TEST(RefmapProgram, GzipReadsNeedingSeveralPassesGiveThePlainFilesRecords) {
  ScratchDir dir;
  const Reference ref = two_sequences(61, 50000, 30000);
  Rng rng(62);
  std::vector<Read> reads, pairs;
  std::vector<int32_t> mismatches;
  for (int i = 0; i < 16000; i++) {
    const int32_t length = i % 5 == 0 ? 25 : 36;
    const int32_t s = static_cast<int32_t>(rng.below(2));
    const int64_t start = 100 + rng.below(static_cast<int64_t>(ref.sequences[s].size()) - 200);
    const int32_t m = i % 4 == 3 ? 0 : i % 4;  // 0, 1, 2 mismatches; every fourth read an indel
    std::vector<int32_t> positions;
    if (m >= 1) positions.push_back(length / 3);
    if (m >= 2) positions.push_back(2 * length / 3 + 1);
    Read r = i % 4 == 3 && length == 36 ? make_read(rng, ref, s, start, length, i % 2 == 1, {}, length / 4, i % 8 == 7)
                                        : make_read(rng, ref, s, start, length, i % 2 == 1, positions);
    r.name = "r" + std::to_string(i) + "_with_a_longer_name_to_fill_the_file";
    reads.push_back(r);
    mismatches.push_back(m);
  }
  pairs = forward_backward_pairs(rng, ref, 3000, 40, 200, 600, 180, 71, [](int i) {
    return i % 3 == 1 ? std::vector<int32_t>{11} : i % 3 == 2 ? std::vector<int32_t>{9, 25} : std::vector<int32_t>{};
  });
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  const std::string single = refmap_test::fastq(reads);
  const std::string paired = refmap_test::fastq(pairs);
  ASSERT_GT(single.size(), 1u << 20);
  write_file(dir.file("reads.fq"), single);
  write_file(dir.file("pairs.fq"), paired);
  ryx_test::write_gzip_file(dir.file("reads.fq.gz"), single);
  ryx_test::write_gzip_file(dir.file("pairs.fq.gz"), paired);
  auto run = [&](const std::string &name, const std::string &reads_file, const std::string &pairs_file,
                 const std::string &cpus) {
    RunResult r = refmap({"-o", dir.file(name), "-d", dir.file("ref.fa"), "-r", "ignore", "--cpus", cpus, "--no-progress", "-q", dir.file(reads_file), "-p", "fb", "ss", "180", "250",
                          dir.file(pairs_file)});
    EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
    return read_file(dir.file(name));
  };
  const std::string plain = run("plain.nyr", "reads.fq", "pairs.fq", "3");
  const std::string gzip = run("gzip.nyr", "reads.fq.gz", "pairs.fq.gz", "3");
  EXPECT_EQ(refmap_test::record_bytes(gzip), refmap_test::record_bytes(plain));
  EXPECT_EQ(refmap_test::record_bytes(run("gzip1.nyr", "reads.fq.gz", "pairs.fq.gz", "1")),
            refmap_test::record_bytes(plain));
  // The later levels did their part: reads with two mismatches are mapped.
  std::vector<Record> records = refmap_test::read_records(gzip, 2, longest_of(ref));
  ASSERT_EQ(records.size(), reads.size() + pairs.size());
  int32_t two_mismatches = 0, mapped = 0;
  for (size_t i = 0; i < reads.size(); i++) {
    if (mismatches[i] != 2 || reads[i].bases.size() != 36) continue;
    two_mismatches++;
    if (records[i].matched()) mapped++;
  }
  EXPECT_GT(two_mismatches, 3000);
  EXPECT_GT(mapped, two_mismatches * 9 / 10);
}

// Random mode against ignore mode on the same reads, single and paired, at
// 1 and 4 threads: a read with one best place gets exactly the record that
// ignore mode writes (byte for byte the same fields), and a read with
// several best places gets the same hit count and flags at any thread
// count, its reported hit drawn among the copies.
TEST(RefmapProgram, RandomModeChangesOnlyWhichEqualPlaceIsDrawn) {
  ScratchDir dir;
  Rng rng(71);
  const std::string repeat = random_bases(rng, 600);
  Reference ref;
  ref.names = {"a", "b"};
  ref.sequences = {random_bases(rng, 20000) + repeat + random_bases(rng, 15000) + repeat + random_bases(rng, 9000),
                   random_bases(rng, 12000) + repeat + random_bases(rng, 8000)};
  // The repeat's three copies: (sequence, start).
  const std::vector<std::pair<int32_t, int64_t>> copies = {{0, 20000}, {0, 35600}, {1, 12000}};
  auto overlaps_copy = [&](int32_t s, int64_t start, int64_t length) {
    for (const auto &[sequence, first] : copies)
      if (sequence == s && start < first + 600 && start + length > first) return true;
    return false;
  };
  std::vector<Read> reads, pairs;
  std::vector<bool> repeated;
  for (int i = 0; i < 3000; i++) {
    const bool from_repeat = i % 5 == 0;
    std::vector<int32_t> positions;
    if (i % 3 >= 1) positions.push_back(12);
    if (i % 3 == 2) positions.push_back(25);
    Read r;
    if (from_repeat) {
      r = make_read(rng, ref, 0, copies[0].second + 10 + rng.below(550), 36, i % 2 == 1, positions);
    } else {
      // Away from the copies.
      int32_t s = 0;
      int64_t start = 0;
      do {
        s = static_cast<int32_t>(rng.below(2));
        start = 100 + rng.below(static_cast<int64_t>(ref.sequences[s].size()) - 200);
      } while (overlaps_copy(s, start, 36));
      r = make_read(rng, ref, s, start, 36, i % 2 == 1, positions);
    }
    r.name = "r" + std::to_string(i);
    reads.push_back(r);
    repeated.push_back(from_repeat);
  }
  for (int i = 0; i < 600; i++) {
    const bool in_repeat = i % 4 == 0;
    int32_t s = 0;
    int64_t left = copies[0].second + 20 + rng.below(300);
    const int32_t d = in_repeat ? 220 : 180 + static_cast<int32_t>(rng.below(71));
    while (!in_repeat) {
      s = static_cast<int32_t>(rng.below(2));
      left = 100 + rng.below(static_cast<int64_t>(ref.sequences[s].size()) - 500);
      if (!overlaps_copy(s, left, d)) break;
    }
    Read f = make_read(rng, ref, s, left, 40, false, i % 3 == 1 ? std::vector<int32_t>{10} : std::vector<int32_t>{});
    Read b = make_read(rng, ref, s, left + d - 40, 40, true, {});
    f.name = "p" + std::to_string(i) + "/1";
    b.name = "p" + std::to_string(i) + "/2";
    pairs.push_back(f);
    pairs.push_back(b);
  }
  write_file(dir.file("ref.fa"), refmap_test::fasta(ref));
  write_file(dir.file("reads.fq"), refmap_test::fastq(reads));
  write_file(dir.file("pairs.fq"), refmap_test::fastq(pairs));
  auto run = [&](const std::string &name, std::vector<std::string> extra) {
    std::vector<std::string> words{"-o", dir.file(name), "-d", dir.file("ref.fa"), "--no-progress", "-q",
                                   dir.file("reads.fq"), "-p", "fb", "ss", "180", "250", dir.file("pairs.fq")};
    words.insert(words.end(), extra.begin(), extra.end());
    RunResult r = refmap(words);
    EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
    std::vector<Record> records = refmap_test::read_records(read_file(dir.file(name)), 2, longest_of(ref));
    EXPECT_EQ(records.size(), reads.size() + pairs.size()) << name;
    records.resize(reads.size() + pairs.size());
    return records;
  };
  const std::vector<Record> ignore = run("ignore.nyr", {"-r", "ignore", "--cpus", "1"});
  const std::vector<Record> one = run("one.nyr", {"--cpus", "1"});
  const std::vector<Record> four = run("four.nyr", {"--cpus", "4"});
  auto same_hit = [](const refmap_test::Hit &a, const refmap_test::Hit &b) {
    return a.sequence == b.sequence && a.position == b.position && a.reverse == b.reverse && a.code == b.code;
  };
  int32_t unique = 0, several = 0;
  for (size_t i = 0; i < ignore.size(); i++) {
    for (const std::vector<Record> *random : {&one, &four}) {
      const Record &got = (*random)[i];
      if (ignore[i].matched()) {
        EXPECT_EQ(got.flags, ignore[i].flags) << i;
        EXPECT_EQ(got.total, ignore[i].total) << i;
        ASSERT_EQ(got.hits.size(), ignore[i].hits.size()) << i;
        for (size_t h = 0; h < got.hits.size(); h++) EXPECT_TRUE(same_hit(got.hits[h], ignore[i].hits[h])) << i;
      } else {
        EXPECT_EQ(got.flags, one[i].flags) << i;
        EXPECT_EQ(got.total, one[i].total) << i;
        EXPECT_EQ(got.hits.size(), one[i].hits.size()) << i;
      }
    }
    if (ignore[i].matched()) {
      unique++;
    } else if (one[i].matched()) {
      several++;
      EXPECT_GT(one[i].total, 1u) << i;
      if (i < reads.size()) {
        EXPECT_TRUE(repeated[i]) << i;
        // The drawn hit lies on one of the copies, at the read's offset.
        const int64_t offset = reads[i].start - copies[0].second;
        for (const std::vector<Record> *random : {&one, &four}) {
          const refmap_test::Hit &hit = (*random)[i].hits[0];
          bool on_copy = false;
          for (const auto &[sequence, start] : copies)
            on_copy = on_copy || (hit.sequence == sequence && hit.read_start() == start + offset);
          EXPECT_TRUE(on_copy) << i << " at " << hit.sequence << ":" << hit.read_start();
        }
      }
    }
  }
  EXPECT_GT(unique, 2500);
  EXPECT_GT(several, 600);
}

}  // namespace
