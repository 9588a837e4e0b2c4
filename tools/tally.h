// The tag counter of ryx_tally: counts identical tags (short reads) of one
// tag file and lists every tag seen at least a minimum number of times with
// its count and the 0-based indexes of the records holding it.
//
// Tags are counted exactly, as packed words of 2 bits per base, in one word
// table per tag length; a tag holding anything but A, C, G or T is never
// counted. The file is read twice in record order: the first pass counts,
// the kept tags then get their stretch of one occurrence array per length
// (start offsets from the counts, in slot order), and the second pass drops
// every record index straight into its place. No tag text is kept and
// nothing is sorted.
//
// Listing, one block per tag:
//   <tag> <count>
//     <index>{' ' or '\''}      one line per occurrence, in file order
//   <empty line>
// With reverse mode a tag and its reverse complement are one tag; the tag is
// printed in the orientation most of its records hold it in (ties keep the
// stored form), and an apostrophe marks a record that holds it in the other
// orientation. With a minimum of 1 the tags seen once come first, in file
// order; then the others by increasing length, and within one length in the
// word table's slot order.
#pragma once

#include <cstdint>
#include <cstdio>

struct tally_options_t {
  int32_t min_count;     // list tags seen at least this often (>= 1; default 2)
  int32_t reverse;       // 1: a tag and its reverse complement are one tag
  const char *tag_path;  // the tag file (borrowed from argv)
};

// Parses "ryx_tally [options] <tag file>". Every usage problem prints its
// message (if any) and the usage text on standard output and ends the
// process with status 1; -h / --help does the same without a message.
tally_options_t tally_parse_command_line(int argc, char **argv);

// Prints the usage text on standard output and ends the process with
// status 1.
[[noreturn]] void tally_print_usage();

// Counts the tags of options->tag_path and writes the listing to out.
// Sets the process's worker count to 1 (the file is parsed by one worker
// while this thread counts).
// A file that cannot be opened or read, or whose format is not a sequence
// format, ends the process with the sequence reader's message and status 1;
// a file that changes between the two passes ends it with "Tag file %s
// changed while it was read\n", more than 2^31 records with "Too many tags in
// %s (at most 2147483648)\n", a failed write with "Problem writing
// output\n", all on standard error with status 1.
void tally_run(const tally_options_t *options, FILE *out);

// Writes one listing block for a tag of length codes (0-3; others print as
// N) with count occurrence entries, each a record index with bit 31 set when
// the record held the reverse complement of codes. The tag is printed as its
// reverse complement when more than count / 2 entries carry bit 31.
void tally_print_tag(FILE *out, const uint8_t *codes, uint32_t length, const int32_t *entries, uint32_t count);
