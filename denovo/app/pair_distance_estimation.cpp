// Pair-distance estimation: peaks of the histogram, their flanks, the
// estimate file and the update of the paired settings.
#include "denovo/app/pair_distance_estimation.h"

#include <algorithm>

#include "common/output_file.h"
#include "common/ryx_exit.h"

namespace {

// A bin holds data when it counts more than this many pairs; it is also the
// lowest peak threshold.
constexpr double kMinBinCount = 50;
// A flank ends where the histogram falls by less than this share of the
// centre's height per bin.
constexpr double kFlatSlope = 0.001;

// 1 when the bins from x outwards to y (w bins further out) have levelled
// off: the fall per bin, relative to the peak's height, is at least 0 and
// below kFlatSlope. A rise further out is not flat: a noisy bin, or the
// foot of a neighbouring peak, does not end the flank.
bool levelled(double x, double y, double height, int64_t w) {
  const double slope = (x - y) / height / static_cast<double>(w);
  return slope >= 0 && slope < kFlatSlope;
}

// The histogram with its bins read as unsigned counts and every index
// outside 0 .. 2R reading as 0.
struct bins_t {
  const pair_dist_info_t *h;
  int64_t top;  // 2R, the last bin
  double at(int64_t i) const { return i < 0 || i > top ? 0.0 : static_cast<double>(static_cast<uint32_t>(h->bins[i])); }
};

void close_peak(const distance_peak_t &p, distance_peak_t *best1, distance_peak_t *best2) {
  if (best1->mean < p.mean) {
    *best2 = *best1;
    *best1 = p;
  } else if (best2->mean < p.mean) {
    *best2 = p;
  }
}

// Scans outwards from the peak's centre on both sides while the histogram
// still holds data, summing what it passes, and records where it stopped.
// A scan that runs to the end of the histogram reports its edge.
void scan_flanks(const bins_t &b, int32_t radius, double threshold, distance_peak_t *peak) {
  const int64_t c = peak->centre;
  const int64_t w = paired_distance_window_width(static_cast<int32_t>(std::min<int64_t>(c, b.top)), radius);
  // The slope is measured against the centre's height; an empty centre bin
  // (possible inside a window whose mean is high) uses the window mean.
  const double height = b.at(c) > 0 ? b.at(c) : peak->mean;
  double mass = 0;
  int64_t low = 0;
  if (c >= w) {
    for (int64_t i = c - w; i >= 0; i--) {
      const double x = b.at(i);
      const double y = b.at(i - w);
      mass += x;
      low = i;
      if (x < threshold && (y == 0 || levelled(x, y, height, w))) break;
    }
  }
  int64_t high = b.top;
  if (c < b.top) {
    for (int64_t i = c + 1; i <= b.top - 1; i++) {
      const double x = b.at(i);
      mass += x;
      if (x == 0 || (x < threshold && levelled(x, b.at(i + w), height, w))) {
        high = i;
        break;
      }
    }
  }
  peak->min_distance = static_cast<int32_t>(low - radius);
  peak->max_distance = static_cast<int32_t>(high - radius);
  peak->flank_mass = mass;
}

}  // namespace

extern "C" {

int32_t paired_distance_window_width(int32_t bin, int32_t radius) {
  // Integer division truncates towards zero, so the 5-bin band reaches 499
  // bins to both sides of distance 0.
  const int64_t band = (static_cast<int64_t>(bin) - radius) / 500;
  return static_cast<int32_t>(5 * (band < 0 ? -band : band) + 5);
}

paired_distance_status_t paired_distance_estimate(const pair_dist_info_t *histogram, int32_t *out_min,
                                                  int32_t *out_max) {
  *out_min = 0;
  *out_max = 0;
  const int32_t radius = histogram->radius;
  const bins_t b{histogram, 2 * static_cast<int64_t>(radius)};

  int64_t full = 0;
  double full_sum = 0;
  for (int64_t i = 0; i <= b.top; i++) {
    if (b.at(i) > kMinBinCount) {
      full++;
      full_sum += b.at(i);
    }
  }
  if (histogram->wrong_orientation > histogram->counted) return kPairedDistanceWrongDirection;
  if (full == 0) return kPairedDistanceNoData;
  const double threshold = std::max(kMinBinCount, full_sum / (2.0 * static_cast<double>(full)));

  // Windows of growing width from the short distances outwards; a run of
  // windows whose mean is above the threshold is a peak, centred on its
  // highest window. The last bin never enters a window.
  distance_peak_t best1{};
  distance_peak_t best2{};
  distance_peak_t open{};
  bool inside = false;
  for (int64_t s = 0; s <= b.top;) {
    const int32_t w = paired_distance_window_width(static_cast<int32_t>(s), radius);
    double sum = 0;
    for (int64_t i = s; i < s + w && i < b.top; i++) sum += b.at(i);
    const double mean = sum / w;
    if (mean > threshold) {
      if (!inside || mean > open.mean) {
        open = distance_peak_t{};
        open.mean = mean;
        open.centre = s + w / 2;
      }
      inside = true;
    } else if (inside) {
      close_peak(open, &best1, &best2);
      inside = false;
    }
    s += w;
  }
  if (inside) close_peak(open, &best1, &best2);
  if (best1.mean == 0) return kPairedDistanceNotEnoughData;

  scan_flanks(b, radius, threshold, &best1);
  if (best2.mean > 0) scan_flanks(b, radius, threshold, &best2);
  const double m1 = best1.flank_mass;
  const double m2 = best2.flank_mass;
  const double pairs = static_cast<double>(histogram->counted) + static_cast<double>(histogram->not_counted);
  if (0.01 * pairs > m1 && m1 < 2 * m2) return kPairedDistanceNotEnoughData;
  if (m2 > 0.5 * m1) {
    if (best1.centre < radius && best2.centre > radius) {
      best1 = best2;
    } else if (best1.centre > radius && best2.centre > radius) {
      return kPairedDistanceAmbiguous;
    }
  }
  *out_min = best1.min_distance;
  *out_max = best1.max_distance;
  return best1.centre < radius ? kPairedDistanceNegative : kPairedDistanceEstimated;
}

const char *paired_distance_status_word(int32_t status) {
  switch (status) {
    case kPairedDistanceEstimated: return "DISTANCE_ESTIMATED";
    case kPairedDistanceNoData: return "NO_DATA";
    case kPairedDistanceNotEnoughData: return "NOT_ENOUGH_DATA";
    case kPairedDistanceNegative: return "NEGATIVE_DISTANCE";
    case kPairedDistanceAmbiguous: return "AMBIGIOUS_DISTANCE";
    case kPairedDistanceWrongDirection: return "WRONG_DIRECTION";
    default: return "UNKNOWN_ERROR";
  }
}

void paired_distance_write_line(FILE *file, const read_store_file_t *names, int32_t status, int32_t min_distance,
                                int32_t max_distance) {
  fputs(names->path, file);
  if (names->second_path != nullptr) {
    fprintf(file, "\t%s", names->second_path);
  } else {
    fputs("\t-", file);
  }
  const bool ranged = status == kPairedDistanceEstimated || status == kPairedDistanceNegative;
  fprintf(file, "\t%d\t%d\t%s\n", ranged ? min_distance : 0, ranged ? max_distance : 0,
          paired_distance_status_word(status));
}

void paired_distance_write_estimates(const read_table_t *table, paired_setting_t *const *settings,
                                     const read_store_file_t *files, const char *path) {
  output_file_t *out = output_file_open(path);
  if (out == nullptr) {
    fprintf(stderr, "Problem opening file: %s\n", path);
    ryx_exit(1);
  }
  paired_distance_write_estimates_to(table, settings, files, out, path);
}

void paired_distance_write_estimates_to(const read_table_t *table, paired_setting_t *const *settings,
                                        const read_store_file_t *files, output_file_t *out, const char *path) {
  for (int32_t i = 0; i < table->file_count; i++) {
    const pair_dist_info_t *h = table->pair_dist_info != nullptr ? table->pair_dist_info[i] : nullptr;
    paired_setting_t *setting = settings[i];
    if (h == nullptr || setting == nullptr) continue;
    int32_t min_distance = 0;
    int32_t max_distance = 0;
    const paired_distance_status_t status = paired_distance_estimate(h, &min_distance, &max_distance);
    paired_distance_write_line(out->file, &files[i], status, min_distance, max_distance);
    if (status == kPairedDistanceEstimated) {
      setting->min_distance = min_distance;
      setting->max_distance = max_distance;
    }
  }
  if (output_file_commit(out) != 0) {
    fprintf(stderr, "Problem closing file: %s\n", path);
    ryx_exit(1);
  }
}

}  // extern "C"
