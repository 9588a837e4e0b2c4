// Plain drivers around the 16-byte kernels: they walk a line chunk by
// chunk, cut the last chunk at the available bytes and step over NUL bytes
// inside the data, which the kernels report like line ends.
#include "fm/runtime/sequence_scan.h"

namespace {

// Shared walk: kernel(in + k, out + p) converts a chunk and returns its
// first stop index. A NUL inside the data keeps the value the kernel wrote
// for it (4 for symbols, 0 for qualities) and the walk goes on.
template <typename Kernel>
ScanResult scan_line(uint8_t const *in, size_t available, uint8_t *out, Kernel kernel) {
  size_t k = 0;
  size_t p = 0;
  while (k < available) {
    size_t stop = kernel(in + k, out + p);
    size_t rest = available - k;
    if (stop >= rest) return {available, p + rest, ScanStop::kDataEnd};
    if (stop == 16) {
      k += 16;
      p += 16;
      continue;
    }
    k += stop;
    p += stop;
    if (in[k] != 0) return {k, p, ScanStop::kLineEnd};
    k++;
    p++;
  }
  return {k, p, ScanStop::kDataEnd};
}

}  // namespace

ScanResult scan_symbol_line(uint8_t const *in, size_t available, uint8_t *out) {
  return scan_line(in, available, out, [](uint8_t const *i, uint8_t *o) { return symbol_kernel16(i, o); });
}

ScanResult scan_quality_line(uint8_t const *in, size_t available, uint8_t *out, uint8_t offset, uint8_t lowest) {
  return scan_line(in, available, out,
                   [=](uint8_t const *i, uint8_t *o) { return quality_kernel16(i, o, offset, lowest); });
}

size_t find_line_end(uint8_t const *in, size_t available) {
  size_t k = 0;
  while (k < available) {
    size_t stop = line_end_kernel16(in + k);
    if (stop >= available - k) return available;
    k += stop;
    if (stop == 16) continue;
    if (in[k] != 0) return k;
    k++;
  }
  return available;
}
