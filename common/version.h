// Version records of the suite and the version text shown in usage texts
// and stored in output headers.
//
// Two keys exist: "ryx_assembly_version" (the structure-based programs) and
// "ryx_sage_version" (the tag counter). Every function given another key
// prints "Unable to find version name" to standard error and exits with
// status 1.
#pragma once

#include <cstdint>

struct version_info_t {
  const char *key;
  int32_t major;
  int32_t minor;
  int32_t patch;
  const char *suffix;
};

// "<major>.<minor>.<patch><suffix>.<build number><build stamp>", for example
// "5.1.1.184548-201811011136"; a new string freed with version_free_string.
char *version_get_string(const char *key);
// Frees a text from version_get_string; returns null.
char *version_free_string(char *text);

int32_t version_get_major(const char *key);
int32_t version_get_minor(const char *key);
int32_t version_get_patch(const char *key);
// The key's suffix (static; empty for both keys).
const char *version_get_suffix(const char *key);
// The build number shared by all keys.
int32_t version_get_build_number(void);
