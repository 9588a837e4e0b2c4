// Line scanners of the FASTA/FASTQ parser: letters to symbol codes,
// quality characters to values, and the search for a line end, sixteen
// bytes at a time.
//
// Every scanner reads its input in whole 16-byte loads: in[] must be
// readable up to available + 15 bytes (the parser's buffer keeps zeroed
// slack behind its data), and out[] writable up to available + 16 bytes.
// Bytes past available never change the result. A line break (CR or LF)
// ends a line; a NUL byte inside the data is an ordinary character.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ScanStop {
  kLineEnd,  // stopped at a CR or LF, which is not consumed
  kDataEnd,  // all available bytes were taken
};

struct ScanResult {
  size_t consumed;  // input bytes taken
  size_t produced;  // output bytes written (symbols or qualities)
  ScanStop stop;
};

// Symbol codes of one line: A C G T U N of either case give 0 1 2 3 3 4,
// every other byte except a line break gives 4.
ScanResult scan_symbol_line(uint8_t const *in, size_t available, uint8_t *out);

// Quality values of one line: byte - offset (modulo 256) for bytes from
// lowest to 0x7F, 0 for every other byte except a line break.
ScanResult scan_quality_line(uint8_t const *in, size_t available, uint8_t *out, uint8_t offset, uint8_t lowest);

// Index of the first CR or LF among the available bytes, or available.
size_t find_line_end(uint8_t const *in, size_t available);

// The 16-byte kernels (SSSE3). Each handles in[0..15], writes 16 output
// bytes (where it has output) and returns the index of the first CR, LF or
// NUL byte, 16 when there is none.
unsigned symbol_kernel16(uint8_t const *in, uint8_t *out);
unsigned quality_kernel16(uint8_t const *in, uint8_t *out, uint8_t offset, uint8_t lowest);
unsigned line_end_kernel16(uint8_t const *in);
