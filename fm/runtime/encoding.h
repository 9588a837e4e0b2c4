// Compact little-endian encodings of numbers and strings over any Reader or
// Writer.
//
// Every function checks its transfer: a short write ends the process
// through Writer::write_error(), a short read through Reader::read_error()
// (both status 1).
#pragma once

#include <string>

#include "fm/runtime/reader_writer.h"

// 32-bit flex number: 0..253 as one byte; 254 and a 16-bit value up to
// 65535; else 255 and a 32-bit value. The common runtime writes the same
// bytes.
void file_write_flex_number(Writer *writer, unsigned int value);
// Reads a 32-bit flex number.
unsigned int file_read_flex_number(Reader *reader);

// 64-bit flex number: 0..252 as one byte; 253 and 16 bits up to 65535; 254
// and 32 bits up to 2^32 - 1; else 255 and 64 bits.
void file_write_flex_number64(Writer *writer, unsigned long long value);
// Reads a 64-bit flex number.
unsigned long long file_read_flex_number64(Reader *reader);

// Bytes a sized number for max takes: the fewest whole bytes holding max;
// 0 for max 0 and also for max 2^32 - 1 (a count of 0 minus 1).
unsigned int number_width(unsigned int max);
// Writes the low number_width(max) bytes of value.
void file_write_number(Writer *writer, unsigned int value, unsigned int max);
// Reads a sized number for max into the low bytes of a zeroed value.
unsigned int file_read_number(Reader *reader, unsigned int max);

// A string: its length as a 32-bit flex number, then its bytes.
void file_write_string(Writer *writer, std::string const &text);
// Reads a string.
std::string file_read_string(Reader *reader);
