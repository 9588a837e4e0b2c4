#include "refmap/seed_mask.h"

#include <cstdio>

#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

[[noreturn]] void mask_failure(const char *message, const char *mask) {
  fputs(message, stderr);
  fprintf(stderr, "%s\n", mask);
  ryx_exit(1);
}

}  // namespace

seed_mask_t *seed_mask_parse(const char *text) {
  auto *words = static_cast<uint32_t *>(ryx_malloc(sizeof(uint32_t) * kSeedMaskWords));
  for (int32_t k = 0; k < kSeedMaskWords; k++) words[k] = kSeedMaskTerminator;

  int32_t length = 0, cares = 0;
  uint32_t word = 0;
  for (const char *c = text; *c != '\0'; c++, length++) {
    if (*c == '#') {
      word |= UINT32_C(3) << (2 * (length % 16));
      cares++;
    } else if (*c != '-') {
      ryx_free(words);
      mask_failure("masks should contain only '#' and '-'\n", text);
    }
    if (length >= kSeedMaskMaxLength) {
      ryx_free(words);
      mask_failure("Seed masks hold at most 96 characters\n", text);
    }
    // A full word is stored even when it is all '-'.
    if (length % 16 == 15) {
      words[length / 16] = word;
      word = 0;
    }
  }
  if (cares == 0) {
    ryx_free(words);
    mask_failure("Seed masks need at least one '#'\n", text);
  }
  // A last partial word of '-' only adds nothing to the hash.
  if (word != 0) words[length / 16] = word;

  // Copies 1 to 3: copy 0 shifted up by 2k bits as one multiword integer,
  // one word longer when bits are carried out of its last word.
  if (words[0] != kSeedMaskTerminator) {
    for (int32_t k = 1; k < 4; k++) {
      uint32_t *copy = words + kSeedMaskCopyWords * k;
      const uint32_t shift = 2 * static_cast<uint32_t>(k);
      uint32_t carried = 0;
      int32_t j = 0;
      for (; j < kSeedMaskCopyWords && words[j] != kSeedMaskTerminator; j++) {
        copy[j] = (words[j] << shift) | carried;
        carried = words[j] >> (32 - shift);
      }
      if (carried != 0) copy[j] = carried;
    }
  }

  auto *mask = static_cast<seed_mask_t *>(ryx_malloc(sizeof(seed_mask_t)));
  mask->words = words;
  mask->length = length;
  mask->colour = 0;
  return mask;
}

seed_mask_t *seed_mask_free(seed_mask_t *mask) {
  if (mask == nullptr) return nullptr;
  ryx_free(mask->words);
  ryx_free(mask);
  return nullptr;
}
