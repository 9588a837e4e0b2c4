// Fixed-width little-endian numbers of the nyr result file over any Writer.
//
// Each function writes all its bytes or ends the process through the
// writer's write_error() (the file classes' write-error message).
#pragma once

#include <cstdint>

#include "fm/runtime/reader_writer.h"

void nyr_write_u8(Writer *writer, uint8_t value);
void nyr_write_u16(Writer *writer, uint16_t value);
void nyr_write_u32(Writer *writer, uint32_t value);
void nyr_write_u64(Writer *writer, uint64_t value);
// Writes count raw bytes (nothing for count 0).
void nyr_write_bytes(Writer *writer, void const *bytes, uint64_t count);
