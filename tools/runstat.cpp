#include "tools/runstat.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/platform.h"
#include "common/string_builder.h"
#include "tools/runstat_command.h"
#include "tools/runstat_utilisation.h"

namespace {

constexpr int kVersionMajor = 24;
constexpr int kVersionMinor = 271259;

// Processor time as a percentage of the run time; 0 for a run too short to
// measure.
double percent_of(uint64_t part_us, uint64_t whole_us) {
  if (whole_us == 0) return 0.0;
  return static_cast<double>(part_us) * 100.0 / static_cast<double>(whole_us);
}

}  // namespace

RunstatCommandLine::RunstatCommandLine(int argc, char **argv) : argc_(argc), argv_(argv) {}

bool RunstatCommandLine::valid() const {
  return argc_ > 4 && strncmp(argv_[1], "-l", 2) == 0 && strncmp(argv_[3], "-c", 2) == 0;
}

std::string RunstatCommandLine::usage() const {
  StringBuilder text;
  text.printf("RYX Runstat - Version %s\n\n", runstat_version().c_str());
  text.printf("Usage information:\n");
  text.printf("  -l\t\tLog output file\n");
  text.printf("  -c\t\tCommand to run\n");
  text.printf("\nThere is an issue with the command you entered:\n\n");
  text.printf("  %s ", argc_ > 0 && argv_[0] != nullptr ? argv_[0] : "");
  for (int i = 1; i < argc_; i++) text.printf(i == 1 ? "%s" : " %s", argv_[i]);
  text.printf("\n\n");
  return text.take();
}

std::string runstat_version() {
  StringBuilder text;
  text.printf("%d.%d", kVersionMajor, kVersionMinor);
  return text.take();
}

std::string runstat_temp_directory() {
  for (const char *name : {"TMPDIR", "TMP", "TEMP"}) {
    const char *value = getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "/var/tmp/";
}

RunstatRecord runstat_record(const SystemCommand &command, const UtilisationReporter &reporter) {
  RunstatRecord record;
  record.exit_code = command.get_exit_code();
  record.signal = command.get_signal();
  record.has_avx2 = has_cpu_features(kCpuFeatureAvx2);
  record.hardware_threads = platform_hardware_threads();
  record.system_memory_mb = platform_physical_memory_bytes() >> 20;
  record.platform = platform_name();
  record.time_passed_us = reporter.get_time_passed();
  uint64_t free_bytes = 0;
  if (platform_free_disk_bytes(runstat_temp_directory().c_str(), &free_bytes))
    record.free_tmp_space_mb = free_bytes >> 20;
  record.user_time_us = reporter.get_user_time_us();
  record.system_time_us = reporter.get_system_time_us();
  record.memory_high_mb = reporter.get_memory_high_mb();
  record.memory_low_mb = reporter.get_memory_low_mb();
  record.memory_last_mb = reporter.get_memory_last_mb();
  return record;
}

std::string runstat_log_text(const RunstatRecord &record) {
  // %g is the default floating-point form of a stream: six significant
  // digits, trailing zeros dropped.
  StringBuilder text;
  text.printf("exitcode = %d\n", record.exit_code);
  text.printf("signaled = %d\n", record.signal);
  text.printf("hardware_has_avx2 = %s\n", record.has_avx2 ? "yes" : "no");
  text.printf("hardware_threads = %d\n", record.hardware_threads);
  text.printf("hardware_system_memory = %llu MB\n",
              static_cast<unsigned long long>(record.system_memory_mb));
  text.printf("platform = %s\n", record.platform.c_str());
  text.printf("execution_time = %g s\n", static_cast<double>(record.time_passed_us) / 1e6);
  text.printf("free_tmp_space = %llu MB\n", static_cast<unsigned long long>(record.free_tmp_space_mb));
  text.printf("cpu_user = %g %%\n", percent_of(record.user_time_us, record.time_passed_us));
  text.printf("cpu_system = %g %%\n", percent_of(record.system_time_us, record.time_passed_us));
  text.printf("avail_system_memory(high) = %llu MB\n",
              static_cast<unsigned long long>(record.memory_high_mb));
  text.printf("avail_system_memory(low) = %llu MB\n",
              static_cast<unsigned long long>(record.memory_low_mb));
  text.printf("avail_system_memory(last) = %llu MB\n",
              static_cast<unsigned long long>(record.memory_last_mb));
  return text.take();
}

RunstatLog::~RunstatLog() {
  if (file_ != nullptr) fclose(file_);
}

bool RunstatLog::open(const char *path) {
  if (file_ != nullptr) fclose(file_);
  file_ = fopen(path, "w");
  if (file_ == nullptr) return false;
  // Close on exec: the command must not inherit (and keep open) our log.
  int fd = fileno(file_);
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
  return true;
}

bool RunstatLog::write(const std::string &text) {
  if (file_ == nullptr) {
    errno = EBADF;
    return false;
  }
  bool ok = fwrite(text.data(), 1, text.size(), file_) == text.size();
  int saved_errno = errno;
  if (fclose(file_) != 0 && ok) {
    ok = false;
    saved_errno = errno;
  }
  file_ = nullptr;
  errno = saved_errno;
  return ok;
}
