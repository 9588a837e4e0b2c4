// How the two reads of a pair lie relative to each other.
//
// ryx_denovo and ryx_refmap build a setting from the words of their paired
// option (for example "fb ss 180 250"); the option code itself handles "no"
// (no setting) and ryx_denovo's leading "d", which sets the
// pair-information-only flag.
#pragma once

#include <cstdint>

struct paired_setting_t {
  int32_t orientation;     // 0 "ff", 1 "fb", 2 "bf", 3 "bb": read one, read two; f forward, b backward
  int32_t distance_mode;   // 0 "ss", 1 "se", 2 "es", 3 "ee": measured from s(tart) or e(nd) of each read
  int32_t min_distance;    // smallest allowed distance, included
  int32_t max_distance;    // largest allowed distance, included; the distance spans both reads
  int32_t pair_info_only;  // 1 when the reads serve only for their pair information
};

// New setting with the flag clear.
paired_setting_t *paired_setting_new(int orientation, int distance_mode, int min_distance, int max_distance);
// New setting from an orientation word and a distance-mode word, compared
// byte for byte (case-sensitive); null when either word is not one of its
// four forms. The flag is clear.
paired_setting_t *paired_setting_parse(const char *orientation, const char *distance_mode, int min_distance,
                                       int max_distance);
// Copy of orientation, distance mode and range with the flag clear; null for
// null.
paired_setting_t *paired_setting_copy(const paired_setting_t *setting);
// Frees the setting (null allowed); returns null.
paired_setting_t *paired_setting_free(paired_setting_t *setting);
