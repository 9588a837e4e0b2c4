// The ryx_readalign program end to end on small generated data: the usage
// and problem reports, index output and reuse, the result file read back
// and joined by ryx_merge, identical output for any thread count, pairs,
// read offsets, and the failures, each leaving no output behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "readalign_data.h"
#include "seqio/nyr_file.h"
#include "seqio/nyr_hit.h"
#include "test_support.h"

namespace {

using readalign_test::Read;
using readalign_test::Reference;
using ryx_test::file_exists;
using ryx_test::program_path;
using ryx_test::read_file;
using ryx_test::run_program;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;

RunResult readalign(std::vector<std::string> words) { return ryx_test::run_tool("ryx_readalign", std::move(words)); }

// The usage text, written out from the option table.
const char kUsage[] =
    "RYX Read Mapper - Version 23.0.0.263791\n\nUsage information:\n\n"
    "  \33[36m-d\33[0m \33[32m--references\33[0m         Reference database file(s) to use.\n"
    "  \33[36m-z\33[0m \33[32m--circular\33[0m           "
    "Indicate that the following reference file contains circular sequences, eg. -d -z mito.fa.\n"
    "  \33[36m-n\33[0m \33[32m--indexoutput\33[0m        Save index to file, eg. hg19.idx.\n"
    "\n"
    "  \33[36m-q\33[0m \33[32m--reads\33[0m              Read file(s) to use, eg. read.fastq.\n"
    "  \33[36m-p\33[0m \33[32m--paired\33[0m             Set paired parameters, eg. fb ss 50 250.\n"
    "  \33[36m-i\33[0m \33[32m--interleave\33[0m         Form read pairs by interleaving two files, eg. -i mate1.fastq mate2.fastq.\n"
    "     \33[32m--type\33[0m               Set technology hint to \33[1mnormal\33[0m or \33[1mpacbio\33[0m (default is normal).\n"
    "  \33[36m-S\33[0m \33[32m--normaltypelimit\33[0m    Switch to long read mapping for reads beyond this length (default is 500).\n"
    "\n"
    "  \33[36m-o\33[0m \33[32m--output\33[0m             Resulting alignments, eg. result.nyr.\n"
    "\n"
    "  \33[36m-m\33[0m \33[32m--matchscore\33[0m         Set match score (integer range 1 to 10, default 1).\n"
    "  \33[36m-x\33[0m \33[32m--mismatchcost\33[0m       Set mismatch cost (integer range 1 to 10, default 2).\n"
    "  \33[36m-g\33[0m \33[32m--gapcost\33[0m            Set insertion and deletion cost (integer range 1 to 3, default 3).\n"
    "  \33[36m-G\33[0m \33[32m--gapopen\33[0m            Set affine insertion and deletion open cost (integer from 0 to 10, default 0 (linear)).\n"
    "  \33[36m-e\33[0m \33[32m--deletioncost\33[0m       Set deletion cost (integer range 1 to 3, default is gapcost).\n"
    "  \33[36m-E\33[0m \33[32m--deletionopen\33[0m       Set affine deletion open cost (integer from 0 to 10, default is gapopen).\n"
    "\n"
    "  \33[36m-a\33[0m \33[32m--alignmode\33[0m          Set \33[1mlocal\33[0m or \33[1mglobal\33[0m alignment mode (default local).\n"
    "  \33[36m-f\33[0m \33[32m--forwardonly\33[0m        Restrict mapping to the forward strand.\n"
    "  \33[36m-b\33[0m \33[32m--backwardonly\33[0m       Restrict mapping to the backward strand.\n"
    "     \33[32m--bisulphite\33[0m         Enable bisulphite indexing/mapping mode.\n"
    "     \33[32m--mapq\33[0m               Calculate mapping quality scores.\n"
    "     \33[32m--min-seed-length\33[0m    Minimum seed length for the read mapper\n"
    "     \33[32m--sensitive\33[0m          Enable sensitive mode to improve read mapper sensitivity\n"
    "\n"
    "  \33[36m-r\33[0m \33[32m--repeat\33[0m             Report \33[1mrandom\33[0m hits for multi-hits or \33[1mignore\33[0m them (default random).\n"
    "  \33[36m-t\33[0m \33[32m--maxalign\33[0m           Set the maximum number of hits to report for each read (default 1).\n"
    "  \33[36m-s\33[0m \33[32m--similarity\33[0m         Set similarity score (default 0.8).\n"
    "  \33[36m-l\33[0m \33[32m--lengthfraction\33[0m     Set length fraction (default 0.5).\n"
    "\n"
    "     \33[32m--noprogress\33[0m         Hide progress indicator.\n"
    "     \33[32m--cpus\33[0m               Restrict the number of threads to be used, eg. --cpus 20 (default unlimited).\n"
    "  \33[36m-M\33[0m \33[32m--mappermemory\33[0m       Restrict the amount of memory (MB) to use during mapping. Overrides --cpus parameter.\n"
    "\n";

// The report of a rejected command line: the usage, the words (each given
// with its colour code: 'o' option, 'a' argument, 'x' faulty) and the
// numbered problems.
std::string report(const std::vector<std::pair<char, std::string>> &words, const std::vector<std::string> &problems) {
  std::string text = kUsage;
  text += problems.size() == 1 ? "There is an issue" : "There are a few issues";
  text += " with the command you entered:\n\n  \33[36m" + program_path("ryx_readalign") + "\33[0m";
  for (const auto &[kind, word] : words) {
    const char *colour = kind == 'o' ? "\33[36m" : kind == 'a' ? "\33[32m" : "\33[1;31m";
    text += " " + std::string(colour) + word + "\33[0m";
  }
  text += "\n\n";
  for (size_t i = 0; i < problems.size(); i++) text += "  " + std::to_string(i + 1) + ". " + problems[i] + "\n";
  return text + "\n";
}

std::vector<std::string> names_in(const ScratchDir &dir) {
  std::vector<std::string> found;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
    found.push_back(entry.path().filename().string());
  std::sort(found.begin(), found.end());
  return found;
}

// The record section of an nyr file: from byte 16 to the fields offset.
std::string records_of(const std::string &bytes) {
  uint64_t offset = 0;
  for (int i = 7; i >= 0; i--) offset = offset * 256 + static_cast<uint8_t>(bytes[8 + i]);
  return bytes.substr(16, offset - 16);
}

// A scratch directory with the reference and 200 single reads.
struct Inputs {
  Inputs() : reference(readalign_test::make_reference(11)), reads(readalign_test::single_reads(reference, 4, 200)) {
    write_file(dir.file("ref.fa"), readalign_test::fasta(reference));
    write_file(dir.file("reads.fq"), readalign_test::fastq(reads));
  }
  std::string path(const std::string &name) const { return dir.file(name); }
  ScratchDir dir;
  Reference reference;
  std::vector<Read> reads;
};

// --- Command-line problems ---

TEST(ReadalignProgram, RejectedCommandLinesPrintUsageAndProblems) {
  Inputs in;
  const std::string ref = in.path("ref.fa"), reads = in.path("reads.fq"), out = in.path("out.nyr");
  // An earlier result that no rejected run may touch.
  write_file(out, "earlier result");
  struct Case {
    std::vector<std::string> words;
    std::vector<std::pair<char, std::string>> shown;
    std::vector<std::string> problems;
  };
  const std::vector<Case> cases = {
      {{}, {}, {"You must provide either \33[1m-n\33[0m or \33[1m-q\33[0m."}},
      {{"-d", ref, "-q", reads},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'a', reads}},
       {"Option \33[1m-q\33[0m requires presence of \33[1m-o\33[0m option."}},
      {{"-q", reads, "-o", out},
       {{'o', "-q"}, {'a', reads}, {'o', "-o"}, {'a', out}},
       {"Option \33[1m-q\33[0m requires presence of \33[1m-d\33[0m option."}},
      {{"-d", ref, "-q", reads, "-o", out, "-S", "600"},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'a', reads}, {'o', "-o"}, {'a', out}, {'o', "-S"}, {'a', "600"}},
       {"Option \33[1m-S\33[0m requires presence of \33[1m-M\33[0m option."}},
      {{"-d", ref, "-q", "-p", "fb", "ss", "300", "200", reads, "-o", out},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'o', "-p"}, {'a', "fb"}, {'a', "ss"}, {'a', "300"}, {'x', "200"},
        {'x', reads}, {'o', "-o"}, {'a', out}},
       {"The fourth argument of \33[1m-p\33[0m must be an integer between 300 and 100000."}},
      {{"-d", ref, "-q", reads, "-o", out, "-f", "-b"},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'a', reads}, {'o', "-o"}, {'a', out}, {'o', "-f"}, {'o', "-b"}},
       {"Unable to combine the \33[1m--backwardonly\33[0m option with the \33[1m--forwardonly\33[0m option."}},
      {{"-d", ref, "-q", reads, "-o", out, "-b", "-f"},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'a', reads}, {'o', "-o"}, {'a', out}, {'o', "-b"}, {'o', "-f"}},
       {"Unable to combine the \33[1m--forwardonly\33[0m option with the \33[1m--backwardonly\33[0m option."}},
      {{"-d", in.path("missing.fa"), "-n", in.path("x.idx")},
       {{'o', "-d"}, {'x', in.path("missing.fa")}, {'o', "-n"}, {'a', in.path("x.idx")}},
       {"Could not open \33[1m" + in.path("missing.fa") + "\33[0m."}},
      {{"-d", ref, "-q", in.path("missing.fq"), "-o", out},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'x', in.path("missing.fq")}, {'o', "-o"}, {'a', out}},
       {"Could not open \33[1m" + in.path("missing.fq") + "\33[0m."}},
      {{"-d", ref, "-q", reads, "-o", in.path("no/such/dir.nyr")},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'a', reads}, {'o', "-o"}, {'x', in.path("no/such/dir.nyr")}},
       {"Could not open \33[1m" + in.path("no/such/dir.nyr") + "\33[0m."}},
      {{"-d", ref, "-q", reads, "-o", out, "--readoffset", "1000000000000000001"},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'a', reads}, {'o', "-o"}, {'a', out}, {'o', "--readoffset"},
        {'x', "1000000000000000001"}},
       {"The first argument of \33[1m--readoffset\33[0m must be an integer between 0 and 1000000000000000000."}},
      {{"-d", ref, "-q", "-i", reads, reads, "-o", out},
       {{'o', "-d"}, {'a', ref}, {'o', "-q"}, {'o', "-i"}, {'a', reads}, {'a', reads}, {'o', "-o"}, {'a', out}},
       {"The -i/--interleave parameter must have a preceeding -p/--paired parameter.",
        "Option \33[1m-i\33[0m requires presence of \33[1m-p\33[0m option."}},
  };
  for (const Case &c : cases) {
    const RunResult r = readalign(c.words);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, report(c.shown, c.problems));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(out), "earlier result");
  }
  EXPECT_EQ(names_in(in.dir), (std::vector<std::string>{"out.nyr", "reads.fq", "ref.fa"}));
}

// Options that take effect before the run accept their whole ranges: a
// 64-bit read offset is no problem.
TEST(ReadalignProgram, ReadOffsetTakesSixtyFourBitValues) {
  Inputs in;
  const RunResult r = readalign({"-d", in.path("ref.fa"), "-q", "--readoffset", "1000000000000000000",
                                 in.path("reads.fq"), "-o", in.path("out.nyr"), "--noprogress"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// --- Index output and reuse ---

TEST(ReadalignProgram, IndexOutputAloneAndIndexReuseGiveTheSameRecords) {
  Inputs in;
  RunResult r = readalign({"-d", in.path("ref.fa"), "-n", in.path("ref.idx"), "--noprogress"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(in.path("ref.idx")).substr(0, 8), std::string("RYX\x80\x00\x00\x02\x00", 8));
  EXPECT_EQ(names_in(in.dir), (std::vector<std::string>{"reads.fq", "ref.fa", "ref.idx"}));

  // The index file is recognised by its content, whatever its name.
  std::filesystem::copy_file(in.path("ref.idx"), in.path("named.fa"));
  for (const char *reference : {"ref.fa", "ref.idx", "named.fa"}) {
    r = readalign({"-d", in.path(reference), "-q", in.path("reads.fq"), "-o", in.path(std::string(reference) + ".nyr"),
                   "--noprogress"});
    ASSERT_EQ(r.status, 0) << reference << r.err;
  }
  const std::string from_fasta = read_file(in.path("ref.fa.nyr"));
  EXPECT_EQ(records_of(read_file(in.path("ref.idx.nyr"))), records_of(from_fasta));
  EXPECT_EQ(records_of(read_file(in.path("named.fa.nyr"))), records_of(from_fasta));

  // Both list the FASTA file the index was built from, with its contigs.
  for (const char *name : {"ref.fa.nyr", "ref.idx.nyr"}) {
    nyr_file_t *file = nyr_file_read_header(in.path(name).c_str());
    ASSERT_EQ(file->reference_files->count, 1) << name;
    EXPECT_EQ(std::string(file->reference_files->entries[0]->names[0]), in.path("ref.fa")) << name;
    EXPECT_EQ(file->reference_files->entries[0]->sequence_count, 2) << name;
    ASSERT_EQ(file->contig_count, 2U);
    EXPECT_EQ(file->contigs[0]->length, 12000U);
    EXPECT_EQ(file->contigs[1]->length, 8000U);
    nyr_file_free(file);
  }
}

// --- The result file ---

TEST(ReadalignProgram, ResultReadsBackAndJoinsWithRyxMerge) {
  Inputs in;
  RunResult r = readalign({"-d", in.path("ref.fa"), "-q", in.path("reads.fq"), "-o", in.path("a.nyr"), "-t", "5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Progress:  100.0 %\n"), std::string::npos);

  nyr_file_t *file = nyr_file_read(in.path("a.nyr").c_str(), 1);
  ASSERT_EQ(file->read_count, 200U);
  EXPECT_EQ(std::string(file->program_name), "ryx_readalign");
  EXPECT_EQ(std::string(file->program_version), "23.0.0.263791");
  EXPECT_EQ(std::string(file->command_line),
            "-d " + in.path("ref.fa") + " -q " + in.path("reads.fq") + " -o " + in.path("a.nyr") + " -t 5");
  ASSERT_EQ(file->read_files->count, 1);
  EXPECT_EQ(std::string(file->read_files->entries[0]->names[0]), in.path("reads.fq"));
  EXPECT_EQ(file->read_files->entries[0]->sequence_count, 200);
  EXPECT_EQ(file->read_files->entries[0]->residue_count, 200 * 100);
  int matched = 0, repeats = 0;
  for (uint64_t i = 0; i < 200; i++) {
    nyr_match_t *hit = nyr_file_get_match(file, i);
    if (hit == nullptr) continue;
    matched++;
    // Reads from the repeat have three hits, all reported with -t 5.
    if (i % 4 == 3 && nyr_match_get_count(hit) == 3) repeats++;
  }
  EXPECT_EQ(matched, 200);
  EXPECT_EQ(repeats, 50);
  nyr_file_free(file);

  std::filesystem::copy_file(in.path("a.nyr"), in.path("b.nyr"));
  r = run_program({program_path("ryx_merge"), "-o", in.path("both.nyr"), in.path("a.nyr"), in.path("b.nyr")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  file = nyr_file_read(in.path("both.nyr").c_str(), 1);
  EXPECT_EQ(file->read_count, 400U);
  EXPECT_EQ(file->contig_count, 2U);
  nyr_file_free(file);
}

// The same run with one and with eight threads, and repeated, writes the
// same records (the command lines differ only in the output name), and
// nearly every read (or mate) is placed.
void expect_same_output_for_any_cpu_count(const Inputs &in, const std::vector<std::string> &mode) {
  std::vector<std::string> files;
  for (const char *cpus : {"1", "8", "8"}) {
    std::vector<std::string> words = mode;
    const std::string out = in.path("run" + std::to_string(files.size()) + ".nyr");
    for (const std::string &w : {std::string("-o"), out, std::string("--noprogress"), std::string("--cpus"),
                                 std::string(cpus)})
      words.push_back(w);
    const RunResult r = readalign(words);
    ASSERT_EQ(r.status, 0) << r.err;
    files.push_back(read_file(out));
  }
  EXPECT_EQ(records_of(files[0]), records_of(files[1]));
  EXPECT_EQ(records_of(files[1]), records_of(files[2]));
  EXPECT_EQ(files[1].size(), files[2].size());
  nyr_file_t *file = nyr_file_read(in.path("run0.nyr").c_str(), 1);
  uint64_t matched = 0;
  for (uint64_t i = 0; i < file->read_count; i++) matched += nyr_file_get_match(file, i) != nullptr;
  EXPECT_GT(file->read_count, 0U);
  EXPECT_GE(matched * 10, file->read_count * 9);
  nyr_file_free(file);
}

TEST(ReadalignProgram, SameOutputForAnyCpuCountSingleReads) {
  Inputs in;
  expect_same_output_for_any_cpu_count(in, {"-d", in.path("ref.fa"), "-q", in.path("reads.fq")});
}

TEST(ReadalignProgram, SameOutputForAnyCpuCountFiveHitsPerRead) {
  Inputs in;
  expect_same_output_for_any_cpu_count(in, {"-d", in.path("ref.fa"), "-q", in.path("reads.fq"), "-t", "5"});
}

TEST(ReadalignProgram, SameOutputForAnyCpuCountPairs) {
  Inputs in;
  std::vector<Read> mate1, mate2;
  readalign_test::paired_reads(in.reference, 6, 80, &mate1, &mate2);
  write_file(in.path("m1.fq"), readalign_test::fastq(mate1));
  write_file(in.path("m2.fq"), readalign_test::fastq(mate2));
  expect_same_output_for_any_cpu_count(in, {"-d", in.path("ref.fa"), "-q", "-p", "fb", "ss", "250", "350", "-i",
                                            in.path("m1.fq"), in.path("m2.fq"), "-t", "3"});
}

TEST(ReadalignProgram, SameOutputForAnyCpuCountBisulphite) {
  Inputs in;
  write_file(in.path("bis.fq"), readalign_test::fastq(readalign_test::bisulphite_reads(in.reference, 7, 120)));
  expect_same_output_for_any_cpu_count(in, {"-d", in.path("ref.fa"), "--bisulphite", "-q", in.path("bis.fq")});
}

TEST(ReadalignProgram, SameOutputForAnyCpuCountLongReads) {
  Inputs in;
  write_file(in.path("long.fq"), readalign_test::fastq(readalign_test::single_reads(in.reference, 8, 12, 2000)));
  expect_same_output_for_any_cpu_count(in, {"-d", in.path("ref.fa"), "-q", "--type", "pacbio", in.path("long.fq")});
}

// A paired file of three records: the first two are a pair, the odd last
// record is mapped as a single read.
TEST(ReadalignProgram, PairedFileWithOddRecordCount) {
  Inputs in;
  std::vector<Read> mate1, mate2;
  readalign_test::paired_reads(in.reference, 3, 4, &mate1, &mate2);
  write_file(in.path("three.fq"), readalign_test::fastq({mate1[0], mate2[0], in.reads[0]}));
  const RunResult r = readalign({"-d", in.path("ref.fa"), "-q", "-p", "fb", "ss", "250", "350", in.path("three.fq"),
                                 "-o", in.path("out.nyr"), "--noprogress"});
  ASSERT_EQ(r.status, 0) << r.err;
  nyr_file_t *file = nyr_file_read(in.path("out.nyr").c_str(), 1);
  ASSERT_EQ(file->read_count, 3U);
  EXPECT_EQ(file->read_files->entries[0]->sequence_count, 3);
  EXPECT_NE(file->read_files->entries[0]->flags & kSeqFileInfoPaired, 0);
  for (uint64_t i = 0; i < 3; i++) {
    nyr_match_t *hit = nyr_file_get_match(file, i);
    ASSERT_NE(hit, nullptr) << i;
    EXPECT_EQ(nyr_match_is_paired(hit) != 0, i < 2) << i;
  }
  // The pair's fragment is 300 bases: mate 2 ends 300 bases after mate 1.
  nyr_match_t *a = nyr_file_get_match(file, 0);
  nyr_match_t *b = nyr_file_get_match(file, 1);
  EXPECT_EQ(uint32_t{a->contig}, uint32_t{b->contig});
  EXPECT_EQ(nyr_match_get_end(b) - nyr_match_get_position(a), 300U);
  nyr_file_free(file);
}

// Read indexes start at 0 in every read file, unless the read offset of
// the next file says otherwise: identical files map identically, one with
// an offset samples the hits of its repeat reads differently.
TEST(ReadalignProgram, ReadIndexesRestartPerFileAndTakeTheOffset) {
  Inputs in;
  for (const char *copy : {"b.fq", "c.fq"}) write_file(in.path(copy), read_file(in.path("reads.fq")));
  const RunResult r = readalign({"-d", in.path("ref.fa"), "-q", in.path("reads.fq"), "--readoffset", "100",
                                 in.path("b.fq"), in.path("c.fq"), "-o", in.path("out.nyr"), "--noprogress"});
  ASSERT_EQ(r.status, 0) << r.err;
  nyr_file_t *file = nyr_file_read(in.path("out.nyr").c_str(), 1);
  ASSERT_EQ(file->read_count, 600U);
  ASSERT_EQ(file->read_files->count, 3);
  int same_as_c = 0, same_as_b = 0;
  for (uint64_t i = 0; i < 200; i++) {
    nyr_match_t *a = nyr_file_get_match(file, i);
    nyr_match_t *b = nyr_file_get_match(file, 200 + i);
    nyr_match_t *c = nyr_file_get_match(file, 400 + i);
    ASSERT_TRUE(a != nullptr && b != nullptr && c != nullptr) << i;
    same_as_c += a->contig == c->contig && a->position == c->position;
    same_as_b += a->contig == b->contig && a->position == b->position;
  }
  EXPECT_EQ(same_as_c, 200);
  // The 50 repeat reads pick one of three hits each.
  EXPECT_LT(same_as_b, 190);
  EXPECT_GE(same_as_b, 150);
  nyr_file_free(file);
}

// --- Failures: message, status, and no output claiming success ---

TEST(ReadalignProgram, FailuresLeaveNoOutput) {
  Inputs in;
  write_file(in.path("corrupt.idx"), std::string("RYX\x80\x00\x00\x02\x00\x01\x00\x00\x00\x01\x00", 14) + "junk");
  write_file(in.path("old.idx"), std::string("RYX\x80\x00\x00\x01\x00\x00\x00\x00\x00\x00", 13));
  write_file(in.path("garbage.fq"), "this is no sequence file\n");
  write_file(in.path("cut.fq"), "@a\nACGTACGTACGTACGTACGT\n+\nIIII\n");
  write_file(in.path("empty.fa"), "");
  write_file(in.path("names_only.fa"), ">a\n>b\n");
  write_file(in.path("foreign.bin"), std::string("\x7f" "ELF\x02\x01\x01\x00\x00\x00", 10) + std::string(200, '\0'));
  std::vector<Read> mate1, mate2;
  readalign_test::paired_reads(in.reference, 3, 4, &mate1, &mate2);
  mate2.pop_back();
  write_file(in.path("m1.fq"), readalign_test::fastq(mate1));
  write_file(in.path("m2.fq"), readalign_test::fastq(mate2));
  write_file(in.path("out.nyr"), "earlier result");
  const std::string ref = in.path("ref.fa"), reads = in.path("reads.fq"), out = in.path("out.nyr");
  struct Case {
    std::vector<std::string> words;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-d", in.path("corrupt.idx"), "-q", reads, "-o", out},
       "Unexpected end of file while reading file " + in.path("corrupt.idx") + "\n"},
      {{"-d", in.path("old.idx"), "-q", reads, "-o", out},
       "Index file '" + in.path("old.idx") +
           "' is incompatible, please use the --indexoutput parameter to regenerate it.\n"},
      {{"-d", ref, "-q", in.path("garbage.fq"), "-o", out},
       "Unsupported sequence file format in " + in.path("garbage.fq") + "\n"},
      {{"-d", ref, "-q", reads, in.path("cut.fq"), "-o", out},
       "Parse error in FASTQ file " + in.path("cut.fq") +
           " at line 5: Number of quality scores does not match number of symbols\n"},
      {{"-d", ref, "-q", "-p", "fb", "ss", "250", "350", "-i", in.path("m1.fq"), in.path("m2.fq"), "-o", out},
       "Mate files " + in.path("m1.fq") + " and " + in.path("m2.fq") + " hold different numbers of reads.\n"},
      {{"-d", in.path("empty.fa"), "-q", reads, "-o", out}, "No reference sequence in " + in.path("empty.fa") + ".\n"},
      {{"-d", in.path("empty.fa"), "-n", in.path("new.idx")},
       "No reference sequence in " + in.path("empty.fa") + ".\n"},
      {{"-d", in.path("names_only.fa"), "-d", in.path("empty.fa"), "-q", reads, "-o", out},
       "No reference sequence in " + in.path("names_only.fa") + ", " + in.path("empty.fa") + ".\n"},
      {{"-d", in.path("foreign.bin"), "-q", reads, "-o", out},
       "Unsupported sequence file format in " + in.path("foreign.bin") + "\n"},
      {{"-d", ref, "-q", reads, "-o", reads}, "Output file " + reads + " is also an input file.\n"},
      {{"-d", ref, "-n", ref}, "Output file " + ref + " is also an input file.\n"},
  };
  const std::vector<std::string> before = names_in(in.dir);
  const std::string reads_before = read_file(reads), ref_before = read_file(ref);
  for (const Case &c : cases) {
    std::vector<std::string> words = c.words;
    words.push_back("--noprogress");
    const RunResult r = readalign(words);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read_file(out), "earlier result") << c.err;
    EXPECT_EQ(names_in(in.dir), before) << c.err;
  }
  EXPECT_EQ(read_file(reads), reads_before);
  EXPECT_EQ(read_file(ref), ref_before);
}

// Inputs from a pipe (here standard input, as /dev/stdin). Reads and an
// index file are read once and may come from a pipe: the records are those
// of the run on the files. A FASTA reference is read twice (once to tell its
// kind, once to index it), so a piped one is refused before anything is
// written, naming it.
TEST(ReadalignProgram, PipedInputs) {
  Inputs in;
  const std::string ref = in.path("ref.fa"), reads = in.path("reads.fq"), out = in.path("out.nyr");
  RunResult r =
      readalign({"-d", ref, "-n", in.path("ref.idx"), "-q", reads, "-o", in.path("files.nyr"), "--noprogress"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string records = records_of(read_file(in.path("files.nyr")));
  const std::string program = program_path("ryx_readalign");
  const char *const unknown_size = "Some file sizes could not be determined. Progress reporting is unreliable.\n";

  r = run_program({program, "-d", ref, "-q", "/dev/stdin", "-o", in.path("piped_reads.nyr"), "--noprogress"},
                  read_file(reads));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, unknown_size);
  EXPECT_EQ(records_of(read_file(in.path("piped_reads.nyr"))), records);

  r = run_program({program, "-d", "/dev/stdin", "-q", reads, "-o", in.path("piped_index.nyr"), "--noprogress"},
                  read_file(in.path("ref.idx")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(records_of(read_file(in.path("piped_index.nyr"))), records);

  write_file(out, "earlier result");
  const std::vector<std::string> before = names_in(in.dir);
  r = run_program({program, "-d", "/dev/stdin", "-q", reads, "-o", out}, read_file(ref));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, report({{'o', "-d"}, {'x', "/dev/stdin"}, {'o', "-q"}, {'a', reads}, {'o', "-o"}, {'a', out}},
                          {"FASTA reference \33[1m/dev/stdin\33[0m must be a regular file: it is read twice."}));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(out), "earlier result");
  EXPECT_EQ(names_in(in.dir), before);
}

// An interrupt or a termination request while reads are still coming ends
// the run by that signal and leaves nothing behind: no hidden result or
// index output, no temporary file, and the earlier result untouched.
TEST(ReadalignProgram, InterruptedRunLeavesNoFiles) {
  for (int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    Inputs in;
    ScratchDir temp;
    write_file(in.path("out.nyr"), "earlier result");
    const std::vector<Read> some(in.reads.begin(), in.reads.begin() + 40);
    ryx_test::HeldFifo reads(in.path("more.fq"), readalign_test::fastq(some));
    const int status = ryx_test::run_and_signal(
        {program_path("ryx_readalign"), "-d", in.path("ref.fa"), "-n", in.path("ref.idx"), "-q", in.path("more.fq"),
         "-o", in.path("out.nyr"), "--noprogress"},
        {"TMPDIR=" + temp.path()}, [&] { return ryx_test::has_name_starting(in.dir.path(), ".out.nyr."); },
        signal_number);
    EXPECT_EQ(status, 128 + signal_number);
    EXPECT_EQ(names_in(in.dir), (std::vector<std::string>{"more.fq", "out.nyr", "reads.fq", "ref.fa"}));
    EXPECT_EQ(read_file(in.path("out.nyr")), "earlier result");
    EXPECT_TRUE(names_in(temp).empty());
  }
}

}  // namespace
