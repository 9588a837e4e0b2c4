#include "seqio/fastq_index_scan.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "common/memory.h"
#include "common/thread_group.h"
#include "seqio/fastq_reader.h"

namespace {

// Bytes a part reads at a time; a record longer than half of it ends the
// part's walk (the byte-by-byte reader takes it).
constexpr size_t kPieceBytes = size_t{4} << 20;

struct scan_job_t {
  int fd;
  int64_t size;
  int32_t count;
  fastq_scan_part_t *parts;
  int64_t *share_starts;  // count + 1 values
  int32_t next;           // claimed with an atomic add
};

static_assert(kFastqScanReach >= static_cast<int64_t>(kPieceBytes), "a part reads at most a window past its share");

// The file bytes from offset on into the window, after the keep bytes
// already at its front; returns the bytes now in the window. A read error
// counts as the end of the file.
size_t fill(int fd, int64_t offset, uint8_t *window, size_t keep, size_t capacity) {
  size_t have = keep;
  while (have < capacity) {
    const ssize_t got = pread(fd, window + have, capacity - have, static_cast<off_t>(offset + static_cast<int64_t>(have - keep)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  return have;
}

}  // namespace

void fastq_scan_part_init(fastq_scan_part_t *part, int64_t share_start, int64_t share_end) {
  part->share_end = share_end;
  part->found = false;
  part->first = part->end = share_start;
  part->complete = false;
  part->starts = array_list_new(sizeof(int64_t));
  part->lengths = array_list_new(sizeof(int32_t));
  part->markers = array_list_new(sizeof(int64_t));
}

void fastq_scan_part(int fd, int64_t share_start, bool first_share, int64_t size, fastq_scan_part_t *part) {
  const int64_t share_end = part->share_end;
  auto *window = static_cast<uint8_t *>(ryx_malloc(kPieceBytes));
  // The window starts one byte before a later share so that a line start
  // at the share's first byte can be seen.
  int64_t base = first_share ? share_start : share_start - 1;
  size_t have = fill(fd, base, window, 0, kPieceBytes);
  bool at_end = base + static_cast<int64_t>(have) >= size;
  fastq_common_record_t record;
  size_t at = 0;
  if (!first_share) {
    // The first line start '@' of the share from which a whole common
    // record follows.
    part->found = false;
    for (size_t p = 1; p < have && base + static_cast<int64_t>(p) < share_end; p++) {
      if (window[p] == '@' && window[p - 1] == '\n' && fastq_common_record(window + p + 1, window + have, &record)) {
        part->found = true;
        at = p;
        break;
      }
    }
    if (!part->found) {
      ryx_free(window);
      return;
    }
  } else {
    part->found = true;
  }
  part->first = base + static_cast<int64_t>(at);
  bool refilled = false;
  while (base + static_cast<int64_t>(at) < share_end) {
    if (at >= have || window[at] != '@' || !fastq_common_record(window + at + 1, window + have, &record)) {
      // Perhaps the record runs past the window: move it to the front and
      // read on, once; otherwise the byte-by-byte reader takes over here.
      if (at_end || refilled) break;
      const size_t keep = have - at;
      memmove(window, window + at, keep);
      base += static_cast<int64_t>(at);
      at = 0;
      have = fill(fd, base + static_cast<int64_t>(keep), window, keep, kPieceBytes);
      at_end = base + static_cast<int64_t>(have) >= size;
      refilled = true;
      continue;
    }
    refilled = false;
    const int64_t start = base + static_cast<int64_t>(at);
    const auto length = static_cast<int32_t>(record.count);
    array_list_add(part->starts, &start);
    array_list_add(part->lengths, &length);
    for (const uint8_t *line : {record.sequence, record.quality}) {
      if (*line != '@') continue;
      const int64_t marker = base + static_cast<int64_t>(line - window);
      array_list_add(part->markers, &marker);
    }
    at = static_cast<size_t>(record.next - window);
  }
  part->end = base + static_cast<int64_t>(at);
  part->complete = part->end >= share_end;
  ryx_free(window);
}

namespace {

void *scan_thread(void *args) {
  auto *job = static_cast<scan_job_t *>(static_cast<thread_args_t *>(args)->context);
  for (int32_t k; (k = __atomic_fetch_add(&job->next, 1, __ATOMIC_RELAXED)) < job->count;) {
    fastq_scan_part(job->fd, job->share_starts[k], k == 0, job->size, &job->parts[k]);
  }
  return nullptr;
}

}  // namespace

fastq_scan_part_t *fastq_scan_parts(int fd, int64_t from, int64_t size, int32_t parts) {
  if (parts < 1) parts = 1;
  scan_job_t job{};
  job.fd = fd;
  job.size = size;
  job.count = parts;
  job.parts = static_cast<fastq_scan_part_t *>(ryx_calloc(sizeof(fastq_scan_part_t) * static_cast<size_t>(parts)));
  job.share_starts = static_cast<int64_t *>(ryx_malloc(sizeof(int64_t) * static_cast<size_t>(parts + 1)));
  const int64_t span = size > from ? size - from : 0;
  for (int32_t k = 0; k <= parts; k++) job.share_starts[k] = from + span * k / parts;
  for (int32_t k = 0; k < parts; k++) fastq_scan_part_init(&job.parts[k], job.share_starts[k], job.share_starts[k + 1]);
  thread_group_run(parts, scan_thread, &job);
  ryx_free(job.share_starts);
  return job.parts;
}

void fastq_scan_part_clear(fastq_scan_part_t *part) {
  part->starts = array_list_free(part->starts);
  part->lengths = array_list_free(part->lengths);
  part->markers = array_list_free(part->markers);
}

void fastq_scan_parts_free(fastq_scan_part_t *parts, int32_t count) {
  if (parts == nullptr) return;
  for (int32_t k = 0; k < count; k++) fastq_scan_part_clear(&parts[k]);
  ryx_free(parts);
}
