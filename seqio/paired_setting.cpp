#include "seqio/paired_setting.h"

#include <cstring>

#include "common/memory.h"

namespace {

// Index of word among the four forms, or -1.
int word_index(const char *word, const char *const forms[4]) {
  for (int i = 0; i < 4; i++)
    if (strcmp(word, forms[i]) == 0) return i;
  return -1;
}

const char *const kOrientations[4] = {"ff", "fb", "bf", "bb"};
const char *const kDistanceModes[4] = {"ss", "se", "es", "ee"};

}  // namespace

paired_setting_t *paired_setting_new(int orientation, int distance_mode, int min_distance, int max_distance) {
  auto *setting = static_cast<paired_setting_t *>(ryx_malloc(sizeof(paired_setting_t)));
  setting->orientation = orientation;
  setting->distance_mode = distance_mode;
  setting->min_distance = min_distance;
  setting->max_distance = max_distance;
  setting->pair_info_only = 0;
  return setting;
}

paired_setting_t *paired_setting_parse(const char *orientation, const char *distance_mode, int min_distance,
                                       int max_distance) {
  int o = word_index(orientation, kOrientations);
  int d = word_index(distance_mode, kDistanceModes);
  if (o < 0 || d < 0) return nullptr;
  return paired_setting_new(o, d, min_distance, max_distance);
}

paired_setting_t *paired_setting_copy(const paired_setting_t *setting) {
  if (setting == nullptr) return nullptr;
  return paired_setting_new(setting->orientation, setting->distance_mode, setting->min_distance,
                            setting->max_distance);
}

paired_setting_t *paired_setting_free(paired_setting_t *setting) {
  ryx_free(setting);
  return nullptr;
}
