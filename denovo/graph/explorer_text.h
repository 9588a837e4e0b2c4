// Private to the explorer's sources: the low-level readers of command-line
// text that the parsers and the command loop share. Each reader skips
// leading blanks, advances *p past what it read and returns true, or leaves
// *p alone and returns false.
#pragma once

#include <cstdint>

#include "denovo/reads/read_info.h"

namespace explorer_text {

void skip_blanks(const char **p);
// True when only blanks (line end included) remain.
bool at_line_end(const char *p);
// A hexadecimal id of at most 32 bits with an optional apostrophe.
bool read_id(const char **p, oriented_id_t *out);
// A decimal 32-bit number with an optional sign.
bool read_int(const char **p, int32_t *out);

}  // namespace explorer_text
