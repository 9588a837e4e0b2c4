// The ryx_tally program end to end: listings checked against counts made
// here from the tags themselves, the exact listing of small files, usage
// problems and unreadable input.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using ryx_test::program_path;
using ryx_test::run_program;
using ryx_test::RunResult;
using ryx_test::ScratchDir;
using ryx_test::write_file;
using ryx_test::write_gzip_file;

const char kUsage[] =
    "\n"
    "usage: ryx_tally [options] <tag file>\n"
    "\n"
    "  Count sequence tags. Output each tag followed by its count along with the\n"
    "  indices of the tags in the input file.\n"
    "\n"
    "Options:\n"
    "\n"
    "  -h / --help: Display this message\n"
    "\n"
    "  -m <n> / --mincount <n>: Minimum tag count to report (default 2).\n"
    "\n"
    "  -r / --reverse: Reverse tags are identical to forward tags.\n"
    "\n"
    "Version: 1.0.1.184548-201811011136\n"
    "\n";

RunResult tally(std::vector<std::string> args) {
  args.insert(args.begin(), program_path("ryx_tally"));
  return run_program(args);
}

std::string fasta(const std::vector<std::string> &tags) {
  std::string text;
  for (size_t i = 0; i < tags.size(); i++) text += ">t" + std::to_string(i) + "\n" + tags[i] + "\n";
  return text;
}

std::string fastq(const std::vector<std::string> &tags) {
  std::string text;
  for (size_t i = 0; i < tags.size(); i++)
    text += "@t" + std::to_string(i) + "\n" + tags[i] + "\n+\n" + std::string(tags[i].size(), 'I') + "\n";
  return text;
}

std::string reverse_complement(const std::string &tag) {
  std::string rc(tag.rbegin(), tag.rend());
  for (char &c : rc) c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : c == 'T' ? 'A' : c;
  return rc;
}

// One listed tag: its letters, its count and its entries as (record index,
// mark) where the mark is ' ' or '\''.
struct Block {
  std::string tag;
  int count = 0;
  std::vector<std::pair<int, char>> entries;
  bool operator==(const Block &o) const { return tag == o.tag && count == o.count && entries == o.entries; }
};

std::string format_blocks(const std::vector<Block> &blocks) {
  std::string text;
  for (const Block &b : blocks) {
    text += b.tag + " " + std::to_string(b.count) + "\n";
    for (const auto &e : b.entries) text += "  " + std::to_string(e.first) + e.second + "\n";
    text += "\n";
  }
  return text;
}

// Reads a listing back; the caller compares format_blocks of the result with
// the text, which catches any deviation from the layout.
std::vector<Block> parse_blocks(const std::string &text) {
  std::vector<Block> blocks;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    Block b;
    const size_t space = line.find(' ');
    if (space == std::string::npos) {
      ADD_FAILURE() << "bad tag line: " << line;
      break;
    }
    b.tag = line.substr(0, space);
    b.count = std::stoi(line.substr(space + 1));
    for (int i = 0; i < b.count && std::getline(in, line); i++) {
      if (line.size() < 4) {
        ADD_FAILURE() << "bad entry line: " << line;
        break;
      }
      b.entries.emplace_back(std::stoi(line.substr(2, line.size() - 3)), line.back());
    }
    std::getline(in, line);
    blocks.push_back(b);
  }
  return blocks;
}

// What the listing must hold, computed from the tags: the tags seen once
// (listed first, in file order, only with a minimum of 1) and the others by
// printed tag. In reverse mode a tag and its reverse complement are stored
// as the larger of the two and printed as the form most records hold.
struct Expected {
  std::vector<Block> singles;
  std::map<std::string, Block> others;
};

Expected expected_listing(const std::vector<std::string> &tags, int min_count, bool reverse) {
  std::map<std::string, std::vector<std::pair<int, std::string>>> groups;
  for (size_t i = 0; i < tags.size(); i++) {
    const std::string &t = tags[i];
    if (t.empty() || t.find_first_not_of("ACGT") != std::string::npos) continue;
    const std::string key = reverse ? std::max(t, reverse_complement(t)) : t;
    groups[key].emplace_back(static_cast<int>(i), t);
  }
  Expected ex;
  for (const auto &[key, occ] : groups) {
    const int count = static_cast<int>(occ.size());
    if (count < std::max(2, min_count) && !(count == 1 && min_count == 1)) continue;
    int reversed = 0;
    for (const auto &o : occ) reversed += o.second != key ? 1 : 0;
    Block b;
    b.tag = count == 1 ? occ[0].second : reversed > count / 2 ? reverse_complement(key) : key;
    b.count = count;
    for (const auto &o : occ) b.entries.emplace_back(o.first, o.second == b.tag ? ' ' : '\'');
    if (count == 1) ex.singles.push_back(b);
    else ex.others[b.tag] = b;
  }
  std::sort(ex.singles.begin(), ex.singles.end(),
            [](const Block &a, const Block &b) { return a.entries[0].first < b.entries[0].first; });
  return ex;
}

// Checks a listing against the expectation: exact layout, the tags seen
// once first in file order, then every other tag exactly once with its
// count and entries, by increasing length.
void check_listing(const std::string &out, const Expected &ex) {
  const std::vector<Block> blocks = parse_blocks(out);
  ASSERT_EQ(format_blocks(blocks), out);
  ASSERT_EQ(blocks.size(), ex.singles.size() + ex.others.size());
  for (size_t i = 0; i < ex.singles.size(); i++) EXPECT_EQ(blocks[i], ex.singles[i]) << "single " << i;
  std::map<std::string, Block> seen;
  size_t previous_length = 0;
  for (size_t i = ex.singles.size(); i < blocks.size(); i++) {
    const Block &b = blocks[i];
    EXPECT_GE(b.tag.size(), previous_length) << b.tag;
    previous_length = b.tag.size();
    EXPECT_TRUE(seen.emplace(b.tag, b).second) << "listed twice: " << b.tag;
  }
  for (const auto &[tag, b] : ex.others) {
    auto it = seen.find(tag);
    if (it == seen.end()) ADD_FAILURE() << "missing " << tag;
    else if (!(it->second == b)) ADD_FAILURE() << "differs: " << tag << " count " << it->second.count << " vs " << b.count;
  }
}

// Tens of thousands of tags of lengths 0 to 30: short lengths repeat by
// themselves, longer ones come from a pool with skewed weights so that
// counts range from 1 to hundreds, and both orientations of pool tags
// occur; some tags hold an N, a few of them often.
std::vector<std::string> generated_tags(int n) {
  std::mt19937 rng(20240611);
  auto random_tag = [&rng](int length) {
    std::string t;
    for (int i = 0; i < length; i++) t += "ACGT"[rng() % 4];
    return t;
  };
  std::vector<std::string> pool;
  for (int i = 0; i < 3000; i++) pool.push_back(random_tag(1 + static_cast<int>(rng() % 30)));
  pool.push_back("ACGNTT");
  pool.push_back("NNNNNNNNNNNNNNNNNNNN");
  std::vector<std::string> tags;
  for (int i = 0; i < n; i++) {
    const unsigned kind = rng() % 100;
    std::string t;
    if (kind < 2) {
      t = "";
    } else if (kind < 12) {
      t = random_tag(1 + static_cast<int>(rng() % 30));
    } else {
      // Weight falls with the pool index: the square of a uniform draw.
      const double u = std::uniform_real_distribution<double>(0, 1)(rng);
      t = pool[static_cast<size_t>(u * u * static_cast<double>(pool.size()))];
      if (kind < 40) t = reverse_complement(t);
    }
    if (kind == 99 && !t.empty()) t[rng() % t.size()] = 'N';
    tags.push_back(t);
  }
  return tags;
}

TEST(TallyProgram, ListingMatchesCountsMadeFromTheTags) {
  const std::vector<std::string> tags = generated_tags(40000);
  ScratchDir dir;
  const std::string path = dir.file("tags.fa");
  write_file(path, fasta(tags));
  struct Case {
    std::vector<std::string> options;
    int min_count;
    bool reverse;
  };
  const Case cases[] = {
      {{}, 2, false},
      {{"-m", "3"}, 3, false},
      {{"--mincount", "1"}, 1, false},
      {{"-m", "40"}, 40, false},
      {{"-r"}, 2, true},
      {{"--reverse", "-m", "1"}, 1, true},
      {{"-m", "5", "-r"}, 5, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("min " + std::to_string(c.min_count) + (c.reverse ? " reverse" : ""));
    std::vector<std::string> args = c.options;
    args.push_back(path);
    RunResult r = tally(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const Expected ex = expected_listing(tags, c.min_count, c.reverse);
    // The generated file must exercise what it is meant to.
    EXPECT_GT(ex.others.size(), 50u);
    if (c.min_count == 1) {
      EXPECT_GT(ex.singles.size(), 100u);
    }
    check_listing(r.out, ex);
  }
}

TEST(TallyProgram, GzipAndFastqInputGiveTheSameListing) {
  const std::vector<std::string> tags = generated_tags(20000);
  ScratchDir dir;
  write_file(dir.file("tags.fa"), fasta(tags));
  write_gzip_file(dir.file("tags.fa.gz"), fasta(tags));
  write_gzip_file(dir.file("tags.fq.gz"), fastq(tags));
  for (const bool reverse : {false, true}) {
    auto run = [&](const std::string &name) {
      if (reverse) return tally({"-r", dir.file(name)});
      return tally({dir.file(name)});
    };
    RunResult plain = run("tags.fa");
    ASSERT_EQ(plain.status, 0);
    check_listing(plain.out, expected_listing(tags, 2, reverse));
    for (const char *name : {"tags.fa.gz", "tags.fq.gz"}) {
      RunResult r = run(name);
      SCOPED_TRACE(name);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, plain.out);
    }
  }
}

// A file whose tags all differ in length, so the whole listing is fixed:
// record 3 is empty, 4 and 6 hold an N.
const std::vector<std::string> kSmallTags = {"ACGT", "GGA", "ACGT", "",  "ANA", "GGA",
                                             "ANA",  "TCC", "A",    "ACGT", "A", "TTTT"};

TEST(TallyProgram, SmallFileListingsAreExact) {
  ScratchDir dir;
  const std::string path = dir.file("small.fa");
  write_file(path, fasta(kSmallTags));
  const std::string a = "A 2\n  8 \n  10 \n\n";
  const std::string gga = "GGA 2\n  1 \n  5 \n\n";
  const std::string acgt = "ACGT 3\n  0 \n  2 \n  9 \n\n";
  const struct {
    std::vector<std::string> options;
    std::string out;
  } cases[] = {
      {{}, a + gga + acgt},
      {{"-m", "2"}, a + gga + acgt},
      {{"-m", "3"}, acgt},
      {{"-m", "4"}, ""},
      // Tags seen once come first, in file order, as they are read.
      {{"-m", "1"}, "TCC 1\n  7 \n\nTTTT 1\n  11 \n\n" + a + gga + acgt},
      // GGA and its reverse complement TCC are one tag, printed as GGA like
      // two of its three records; A is stored as T but printed as A; ACGT
      // is its own reverse complement.
      {{"-r"}, a + "GGA 3\n  1 \n  5 \n  7'\n\n" + acgt},
      {{"-r", "-m", "1"}, "TTTT 1\n  11 \n\n" + a + "GGA 3\n  1 \n  5 \n  7'\n\n" + acgt},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = c.options;
    args.push_back(path);
    RunResult r = tally(args);
    SCOPED_TRACE(testing::PrintToString(c.options));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
}

TEST(TallyProgram, ReverseModeJoinsBothOrientationsAndPrintsTheMajority) {
  // Records 0 and 1 hold a tag, record 2 its reverse complement: one tag of
  // count 3 printed as records 0 and 1 hold it, whichever of the two forms
  // is the larger; a tie keeps the larger form.
  const struct {
    std::vector<std::string> tags;
    std::string out;
  } cases[] = {
      {{"AACG", "AACG", "CGTT"}, "AACG 3\n  0 \n  1 \n  2'\n\n"},
      {{"TTGC", "TTGC", "GCAA"}, "TTGC 3\n  0 \n  1 \n  2'\n\n"},
      {{"CGTT", "AACG", "AACG"}, "AACG 3\n  0'\n  1 \n  2 \n\n"},
      {{"AACG", "CGTT"}, "CGTT 2\n  0'\n  1 \n\n"},
      {{"CGTT", "AACG"}, "CGTT 2\n  0 \n  1'\n\n"},
  };
  for (const auto &c : cases) {
    ScratchDir dir;
    write_file(dir.file("tags.fa"), fasta(c.tags));
    RunResult r = tally({"-r", dir.file("tags.fa")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
    // Without -r the two forms stay apart.
    RunResult plain = tally({"-m", "1", dir.file("tags.fa")});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(parse_blocks(plain.out).size(), 2u) << plain.out;
  }
}

TEST(TallyProgram, UsageProblemsPrintMessageAndUsageWithStatus1) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{}, "No tag file given.\n"},
      {{"-r"}, "No tag file given.\n"},
      {{"-h"}, ""},
      {{"--help", "tags.fa"}, ""},
      {{"-m", "2", "--mincount", "3", "tags.fa"}, "Min count option set twice\n"},
      {{"-m", "0", "tags.fa"}, ""},
      {{"-m", "-4", "tags.fa"}, ""},
      {{"-m", "two", "tags.fa"}, ""},
      {{"-m", "3x", "tags.fa"}, ""},
      {{"-m"}, ""},
      {{"-r", "--reverse", "tags.fa"}, "Reverse mode used twice\n"},
      {{"-x", "tags.fa"}, "Unrecognized option -x\n"},
      {{"--mincount=3", "tags.fa"}, "Unrecognized option --mincount=3\n"},
      {{"a.fa", "b.fa"}, "Too many options\n"},
      // Options end at the first word that is not one.
      {{"tags.fa", "-m", "3"}, "Too many options\n"},
  };
  for (const auto &c : cases) {
    RunResult r = tally(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.message + kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST(TallyProgram, UnreadableTagFileGivesMessageAndStatus1) {
  ScratchDir dir;
  write_file(dir.file("text.txt"), "these are not tags\n");
  write_file(dir.file("cut.gz"), std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + "abc");
  const struct {
    std::string path;
    std::string err;
  } cases[] = {
      {dir.file("missing.fa"), "Problem opening sequence file " + dir.file("missing.fa") + "\n"},
      {dir.file("text.txt"), "Format problem with file " + dir.file("text.txt") + "\n"},
      {dir.path(), "Problem reading sequence file " + dir.path() + "\n"},
      {dir.file("cut.gz"), "Problem reading sequence file " + dir.file("cut.gz") + "\n"},
  };
  for (const auto &c : cases) {
    RunResult r = tally({c.path});
    SCOPED_TRACE(c.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(TallyProgram, EmptyTagFileListsNothing) {
  ScratchDir dir;
  write_file(dir.file("empty.fa"), "");
  RunResult r = tally({"-m", "1", dir.file("empty.fa")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(TallyProgram, FailedWriteOfTheListingIsAnError) {
  ScratchDir dir;
  write_file(dir.file("tags.fa"), fasta(generated_tags(2000)));
  RunResult r = run_program({"/bin/sh", "-c", "exec \"$0\" \"$1\" > /dev/full", program_path("ryx_tally"),
                             dir.file("tags.fa")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Problem writing output\n");
}

}  // namespace
