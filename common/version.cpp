#include "common/version.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/string_builder.h"

namespace {

const version_info_t kVersions[] = {
    {"ryx_assembly_version", 5, 1, 1, ""},
    {"ryx_sage_version", 1, 0, 1, ""},
};

constexpr int32_t kBuildNumber = 184548;
constexpr const char *kBuildStamp = "-201811011136";

const version_info_t &find_version(const char *key) {
  for (const version_info_t &info : kVersions) {
    if (key != nullptr && strcmp(info.key, key) == 0) return info;
  }
  fprintf(stderr, "Unable to find version name\n");
  ryx_exit(1);
}

}  // namespace

char *version_get_string(const char *key) {
  const version_info_t &info = find_version(key);
  StringBuilder builder;
  builder.printf("%d.%d.%d%s.%d%s", info.major, info.minor, info.patch, info.suffix, kBuildNumber,
                 kBuildStamp);
  const std::string text = builder.take();
  auto *result = static_cast<char *>(ryx_malloc(text.size() + 1));
  memcpy(result, text.c_str(), text.size() + 1);
  return result;
}

char *version_free_string(char *text) {
  ryx_free(text);
  return nullptr;
}

int32_t version_get_major(const char *key) { return find_version(key).major; }
int32_t version_get_minor(const char *key) { return find_version(key).minor; }
int32_t version_get_patch(const char *key) { return find_version(key).patch; }
const char *version_get_suffix(const char *key) { return find_version(key).suffix; }
int32_t version_get_build_number(void) { return kBuildNumber; }
