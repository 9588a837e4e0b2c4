// Pair-distance histogram: binning, merging, dump and stage-file piece.
#include "denovo/reads/pair_dist_info.h"

#include <bit>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"

static_assert(std::endian::native == std::endian::little, "the piece stores the bins as they lie in memory");

namespace {

constexpr int32_t kMinRadius = 50000;
enum { kFF = 0, kFB = 1, kBF = 2, kBB = 3 };

[[noreturn]] void bad_piece(const char *format, unsigned long long a = 0, unsigned long long b = 0) {
  fprintf(stderr, "pair_dist_info_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

size_t bin_bytes(int32_t radius) { return (2 * static_cast<size_t>(radius) + 1) * sizeof(int32_t); }

}  // namespace

int32_t pair_dist_info_radius(const paired_setting_t *setting) {
  const double wide = 1.2 * static_cast<double>(setting->max_distance);
  if (wide >= kPairDistMaxRadius) return kPairDistMaxRadius;
  const auto r = static_cast<int32_t>(wide);
  return r > kMinRadius ? r : kMinRadius;
}

pair_dist_info_t *pair_dist_info_new(const paired_setting_t *setting, int32_t db_num) {
  auto *info = static_cast<pair_dist_info_t *>(ryx_calloc(sizeof(pair_dist_info_t)));
  info->radius = pair_dist_info_radius(setting);
  info->bins = static_cast<int32_t *>(ryx_calloc(bin_bytes(info->radius)));
  info->db_num = db_num;
  info->setting = setting;
  return info;
}

pair_dist_info_t *pair_dist_info_free(pair_dist_info_t *info) {
  if (info == nullptr) return nullptr;
  ryx_free(info->bins);
  ryx_free(info);
  return nullptr;
}

void pair_dist_info_add(pair_dist_info_t *info, int32_t distance, int opposite) {
  const int32_t r = info->radius;
  if (distance < -r || distance > r) {
    info->not_counted++;
    return;
  }
  const int orientation = info->setting->orientation;
  const int needed = orientation == kFB || orientation == kBF ? 1 : 0;
  if ((opposite != 0 ? 1 : 0) != needed) {
    info->not_counted++;
    return;
  }
  const bool mirrored = orientation == kBF || orientation == kBB;
  info->bins[mirrored ? r - distance : r + distance]++;
  info->counted++;
}

void pair_dist_info_count_not_counted(pair_dist_info_t *info) { info->not_counted++; }

void pair_dist_info_merge(const pair_dist_info_t *source, pair_dist_info_t *target) {
  if (source->radius != target->radius) {
    fprintf(stderr, "pair_dist_info_merge: radius %d differs from %d\n", source->radius, target->radius);
    ryx_exit(1);
  }
  target->counted += source->counted;
  target->not_counted += source->not_counted;
  const int64_t n = 2 * static_cast<int64_t>(source->radius) + 1;
  for (int64_t i = 0; i < n; i++) target->bins[i] += source->bins[i];
}

void pair_dist_info_print(const pair_dist_info_t *info) {
  if (info == nullptr) return;
  printf("Pair dist ( %d - %d ):", -info->radius, info->radius);
  printf(" %d /", info->not_counted);
  printf(" %d \n", info->counted);
  const int64_t n = 2 * static_cast<int64_t>(info->radius) + 1;
  for (int64_t i = 0; i < n; i++) printf("%d: %d\n", static_cast<int>(i), info->bins[i]);
  printf("\n");
}

void pair_dist_info_write(FILE *file, const pair_dist_info_t *info) {
  if (info == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u32(file, static_cast<uint32_t>(info->radius));
  bin_file_write_u32(file, static_cast<uint32_t>(info->counted));
  bin_file_write_u32(file, static_cast<uint32_t>(info->not_counted));
  bin_file_write_u32(file, static_cast<uint32_t>(info->wrong_orientation));
  bin_file_write_u32(file, static_cast<uint32_t>(info->db_num));
  large_file_write(info->bins, bin_bytes(info->radius), file);
}

pair_dist_info_t *pair_dist_info_read(FILE *file, const paired_setting_t *setting, int32_t db_num) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("presence byte is %llu, not 0 or 1", present);
  const uint32_t radius = bin_file_read_u32(file);
  const uint32_t counted = bin_file_read_u32(file);
  const uint32_t not_counted = bin_file_read_u32(file);
  const uint32_t wrong_orientation = bin_file_read_u32(file);
  const auto stored_db_num = static_cast<int32_t>(bin_file_read_u32(file));
  if (stored_db_num != db_num) {
    fprintf(stderr, "Error, db_num != info->db_num in pair_dist_info_read\n");
    ryx_exit(1);
  }
  if (radius > static_cast<uint32_t>(kPairDistMaxRadius)) {
    bad_piece("radius %llu is above %llu", radius, kPairDistMaxRadius);
  }
  const size_t bytes = bin_bytes(static_cast<int32_t>(radius));
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && bytes > static_cast<uint64_t>(left)) {
    bad_piece("the bins need %llu bytes but the file holds %llu more", bytes, static_cast<uint64_t>(left));
  }
  auto *info = static_cast<pair_dist_info_t *>(ryx_calloc(sizeof(pair_dist_info_t)));
  info->radius = static_cast<int32_t>(radius);
  info->bins = static_cast<int32_t *>(ryx_malloc(bytes));
  const size_t got = large_file_read(info->bins, bytes, file);
  if (got != bytes) bad_piece("the bins need %llu bytes but the file holds %llu more", bytes, got);
  info->counted = static_cast<int32_t>(counted);
  info->not_counted = static_cast<int32_t>(not_counted);
  info->wrong_orientation = static_cast<int32_t>(wrong_orientation);
  info->db_num = db_num;
  info->setting = setting;
  return info;
}
