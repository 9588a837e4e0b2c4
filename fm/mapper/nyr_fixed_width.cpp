#include "fm/mapper/nyr_fixed_width.h"

namespace {

void write_le(Writer *writer, uint64_t value, int count) {
  unsigned char bytes[8];
  for (int i = 0; i < count; i++) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  nyr_write_bytes(writer, bytes, static_cast<uint64_t>(count));
}

}  // namespace

void nyr_write_u8(Writer *writer, uint8_t value) { write_le(writer, value, 1); }
void nyr_write_u16(Writer *writer, uint16_t value) { write_le(writer, value, 2); }
void nyr_write_u32(Writer *writer, uint32_t value) { write_le(writer, value, 4); }
void nyr_write_u64(Writer *writer, uint64_t value) { write_le(writer, value, 8); }

void nyr_write_bytes(Writer *writer, void const *bytes, uint64_t count) {
  writer->write_exact(bytes, static_cast<long long>(count));
}
